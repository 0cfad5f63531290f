// The design tool as a user drives it: commands on stdin, the package loaded at run time,
// a form kept in a text form file.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempFile.h"

namespace {

using namespace std::chrono_literals;

struct TRow {
  std::string Type, Value, Default, Stored;
};

// Runs the designer on a script; answers its output, failing the test unless it ends with
// Code: 0 when every command went well, 1 when one failed (under the sanitizers a leak or
// a fault ends it with yet another code).
std::string RunDesigner(const std::string& script, int Code = 0) {
  testsupport::TempFile input(script);
  testsupport::ChildProcess tool({ORV_DESIGNER}, {input.Path(), true});
  EXPECT_TRUE(tool.Started()) << tool.Error();
  const std::optional<int> code = tool.Wait(60s);
  EXPECT_EQ(code, std::optional<int>(Code)) << tool.Output();
  return tool.Output();
}

// The rows of the first inspector table printed after the line holding `after`.
std::map<std::string, TRow> Inspector(const std::string& output, const std::string& after) {
  std::map<std::string, TRow> rows;
  std::istringstream in(output.substr(output.find(after)));
  std::string line;
  bool inTable = false;
  const std::regex columns("  +");
  while (std::getline(in, line)) {
    if (!inTable) {
      inTable =
          line.find("Property") != std::string::npos && line.find("Stored") != std::string::npos;
      continue;
    }
    if (line.compare(0, 2, "  ") != 0) break;
    std::vector<std::string> f(
        std::sregex_token_iterator(line.begin() + 2, line.end(), columns, -1),
        std::sregex_token_iterator());
    if (f.size() == 5) rows[f[0]] = {f[1], f[2], f[3], f[4]};
  }
  return rows;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::uint32_t BigEndian32(const std::string& s, size_t at) {
  std::uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<std::uint8_t>(s[at + i]);
  return v;
}

// Drop a TOrvane on a new form, read the defaults, change some properties (and try bad
// values), look at the context menu and the palette bitmap, save; then reopen the form
// file in a second run and find the values again.
TEST(Designer, DropInspectChangeSaveAndReload) {
  testsupport::TempFile form("");
  testsupport::TempFile png("");
  ASSERT_FALSE(form.Path().empty());
  const std::string first = RunDesigner(
      "load\n"
      "palette\n"
      "bitmap TOrvane " +
          png.Path() +
          "\n"
          "drop TOrvane\n"
          "inspect Orvane1\n"
          "verbs Orvane1\n"
          "verb Orvane1 0\n"
          "verb Orvane1 1\n"
          "set Orvane1 ProxyPort 8080\n"
          "set Orvane1 ProxyPort 99999999999\n"
          "set Orvane1 ProxyPort eighty\n"
          "set Orvane1 ProxyPort 70000\n"
          "set Orvane1 ProxyPort -1\n"
          "set Orvane1 HomeURL ftp://127.0.0.1/info.html\n"
          "set Orvane1 HomeURL http://127.0.0.1/info.html\n"
          "set Orvane1 Active True\n"
          "set Orvane1 Options [orvoRunUpdate]\n"
          "set Orvane1 VersionFormat orvvSimpleString\n"
          "set Orvane1 DateFormat orvdSomeday\n"
          "set Orvane1 DownloadURL http://127.0.0.1/x.exe\n"
          "set Orvane1 InfoTags.VersionTag Version\n"
          "set Orvane1 CurrentVersion It's 1.2\n"
          "set Orvane1 UIOwnerFont False\n"
          "drop THttpCli\n"
          "set HttpCli1 ProxyPort 70000\n"
          "set HttpCli1 ProxyPort -1\n"
          "set HttpCli1 ProxyPort 3128\n"
          "drop TWSocket\n"
          "set WSocket1 Name Form1\n"
          "set Form1 Name httpcli1\n"
          "set WSocket1 Name Socket\n"
          "set Socket Name WSocket1\n"
          "save " +
          form.Path() +
          "\n"
          "quit\n",
      1);

  // The palette: page Internet holds the component, with a 32 x 32 bitmap of 16 colours.
  EXPECT_NE(first.find("page Internet\n  TOrvane  bitmap 32x32, 4 bits"), std::string::npos)
      << first;
  const std::string image = ReadAll(png.Path());
  ASSERT_GT(image.size(), 33u);
  EXPECT_EQ(image.substr(1, 3), "PNG");
  EXPECT_EQ(image.substr(12, 4), "IHDR");
  EXPECT_EQ(BigEndian32(image, 16), 32u);
  EXPECT_EQ(BigEndian32(image, 20), 32u);
  EXPECT_EQ(image[24], 4);  // bits per pixel
  EXPECT_EQ(image[25], 3);  // palette colour
  EXPECT_EQ(image.substr(37, 4), "PLTE");
  EXPECT_LE(BigEndian32(image, 33) / 3, 16u);

  // The defaults, as the inspector shows them on a new component.
  auto fresh = Inspector(first, "dropped Orvane1: TOrvane");
  EXPECT_EQ(fresh["ProxyPort"].Value, "80");
  EXPECT_EQ(fresh["ProxyPort"].Default, "80");
  EXPECT_EQ(fresh["ProxyPort"].Stored, "no");
  EXPECT_EQ(fresh["UIOwnerFont"].Value, "True");
  EXPECT_EQ(fresh["VersionFormat"].Value, "orvvBuildNumber");
  EXPECT_EQ(fresh["DateFormat"].Value, "orvdZelDate");
  EXPECT_EQ(fresh["Options"].Value,
            "[orvoDisplayUI, orvoDisplayReadMe, orvoRunUpdate, orvoExitDuringUpdate]");
  EXPECT_EQ(fresh["Options"].Stored, "yes");
  EXPECT_EQ(fresh["Active"].Value, "False");
  EXPECT_EQ(fresh["Active"].Stored, "no");
  for (const char* tag : {"AuthorTag", "DateTag", "DownloadTag", "ProductNameTag", "ReadMeTag",
                          "ReadMeExtTag", "RunParamsTag", "VersionTag"})
    EXPECT_EQ(fresh[std::string("InfoTags.") + tag].Value, "''") << tag;

  // One verb, which does nothing; there is no second.
  EXPECT_NE(first.find("1 verb\n  0: Version 0.81\nran verb 0 of Orvane1\n"), std::string::npos)
      << first;
  EXPECT_NE(first.find("error: Orvane1 has no verb 1"), std::string::npos);

  // Bad values: a clear error each, and the value stays.
  EXPECT_NE(first.find("error: Orvane1.ProxyPort: invalid value 99999999999 for property "
                       "\"ProxyPort\" of type Integer (out of range)"),
            std::string::npos)
      << first;
  EXPECT_NE(first.find("error: Orvane1.ProxyPort: invalid value eighty"), std::string::npos);
  for (const char* port : {"70000", "-1"})
    EXPECT_NE(first.find(std::string("error: Orvane1.ProxyPort: ProxyPort must be a port number "
                                     "from 0 to 65535, not ") +
                         port),
              std::string::npos)
        << first;
  // The HTTP component's port is a text (a number or a service name), held to the same range.
  for (const char* port : {"70000", "-1"})
    EXPECT_NE(first.find(std::string("error: HttpCli1.ProxyPort: ProxyPort must be a port "
                                     "number from 0 to 65535, not ") +
                         port),
              std::string::npos)
        << first;
  // A name is unique among the form and everything on it, whatever the letter case; a
  // refused name leaves both where they were.
  EXPECT_NE(first.find("error: WSocket1.Name: A component named Form1 already exists"),
            std::string::npos)
      << first;
  EXPECT_NE(first.find("error: Form1.Name: A component named httpcli1 already exists"),
            std::string::npos)
      << first;
  EXPECT_NE(first.find("error: Orvane1.HomeURL: TOrvane refused 'ftp://127.0.0.1/info.html'; "
                       "it stays ''"),
            std::string::npos);
  EXPECT_NE(first.find("error: Orvane1.Active: TOrvane refused True; it stays False"),
            std::string::npos);
  EXPECT_NE(first.find("error: Orvane1.DateFormat: invalid value orvdSomeday"), std::string::npos);
  EXPECT_NE(first.find("error: Orvane1.DownloadURL: property \"DownloadURL\" is read-only"),
            std::string::npos);
  EXPECT_NE(first.find("Orvane1.Options = [orvoDisplayUI, orvoRunUpdate] (TOrvane made it so"),
            std::string::npos);

  const std::string text = ReadAll(form.Path());
  EXPECT_EQ(text.find("Active"), std::string::npos) << text;
  EXPECT_NE(text.find("    ProxyPort = 8080\n"), std::string::npos) << text;
  EXPECT_NE(text.find("    CurrentVersion = 'It''s 1.2'\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  object HttpCli1: THttpCli\n    URL = ''\n    Proxy = ''\n"
                      "    ProxyPort = '3128'\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("object Form1"), text.rfind("object Form1")) << text;
  EXPECT_NE(text.find("  object WSocket1: TWSocket\n"), std::string::npos) << text;

  // A second run reopens the file: every value set is back, the rest are the defaults.
  const std::string second =
      RunDesigner("load\nopen " + form.Path() + "\ncomponents\ninspect Orvane1\nshow\nquit\n");
  EXPECT_NE(second.find("  Orvane1: TOrvane\n  HttpCli1: THttpCli\n  WSocket1: TWSocket\n"),
            std::string::npos)
      << second;
  auto back = Inspector(second, "Orvane1: TOrvane");
  EXPECT_EQ(back["ProxyPort"].Value, "8080");
  EXPECT_EQ(back["ProxyPort"].Stored, "yes");
  EXPECT_EQ(back["HomeURL"].Value, "'http://127.0.0.1/info.html'");
  EXPECT_EQ(back["Options"].Value, "[orvoDisplayUI, orvoRunUpdate]");
  EXPECT_EQ(back["VersionFormat"].Value, "orvvSimpleString");
  EXPECT_EQ(back["DateFormat"].Value, "orvdZelDate");
  EXPECT_EQ(back["InfoTags.VersionTag"].Value, "'Version'");
  EXPECT_EQ(back["CurrentVersion"].Value, "'It''s 1.2'");
  EXPECT_EQ(back["UIOwnerFont"].Value, "False");
  EXPECT_EQ(back["Active"].Value, "False");
  // Saved again, the form is the same text.
  EXPECT_NE(second.find(text), std::string::npos) << second;
}

// Install, use and remove the package twice in one process: each time the library leaves
// the process, the palette and the resources hold each entry once, and (under the
// sanitizers) nothing leaks.
TEST(Designer, PackageLoadedAndUnloadedTwice) {
  const std::string round =
      "load\nresources\nstring 65488\npalette\ndrop TOrvane\ndrop THttpCli\ndrop TWSocket\ndrop "
      "TWait\n"
      "set Orvane1 ProxyHost proxy.invalid\nverbs Orvane1\nedit WSocket1\nunload\n";
  const std::string out = RunDesigner(round + round + "quit\n");
  const std::string palette =
      "page Internet\n  TOrvane  bitmap 32x32, 4 bits, 7 colours\n"
      "  THttpCli  (no bitmap resource named THTTPCLI)\n"
      "  TWSocket  (no bitmap resource named TWSOCKET)\n"
      "  TWait  (no bitmap resource named TWAIT)\n";
  const size_t firstPalette = out.find(palette);
  ASSERT_NE(firstPalette, std::string::npos) << out;
  EXPECT_NE(out.find(palette, firstPalette + 1), std::string::npos) << out;
  // The resources come and go with the library, each once.
  const std::string resources =
      "bitmaps: TORVANE\nstrings: 43 (65480 to 65535)\n"
      "65488: Current version is %s.\\rVersion %s is available.\n";
  const size_t firstResources = out.find(resources);
  ASSERT_NE(firstResources, std::string::npos) << out;
  EXPECT_NE(out.find(resources, firstResources + 1), std::string::npos) << out;
  size_t unloads = 0;
  for (size_t at = out.find("\nunloaded\n"); at != std::string::npos;
       at = out.find("\nunloaded\n", at + 1))
    ++unloads;
  EXPECT_EQ(unloads, 2u) << out;
  // The default editor opens the socket's first event.
  EXPECT_NE(out.find("edit WSocket1: handler WSocket1DataAvailable of WSocket1.OnDataAvailable"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("error:"), std::string::npos) << out;
}

}  // namespace
