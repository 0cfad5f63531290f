#include "DemoContent.h"

#include <string_view>

#include "Orvane/SignedFacts.h"

namespace {

constexpr const char* DemoDate = "Dec 7, 2026";
constexpr const char* DemoAuthor = "The Orvane Demo Team";

std::string MetaLine(const std::string& Name, const std::string& Content) {
  return "<META HTTP-EQUIV=\"" + Name + "\" CONTENT=\"" + Content + "\">\r\n";
}

// The entries of the page, signed as orvane-sign writes them: every entry a check acts
// on or shows, the update's and the read-me's sizes and SHA-256, and the page's expiry.
std::string SignedEntries(const std::string& BaseURL, const std::string& PrivateKey,
                          const std::string& Update, const std::string& ReadMe) {
  TSignedFacts facts;
  facts.Product = DemoProduct;
  facts.Version = DemoOfferedVersion;
  facts.Date = DemoDate;
  facts.Author = DemoAuthor;
  facts.URL = BaseURL + DemoUpdatePath;
  facts.Size = Update.size();
  facts.SHA256 = TSha256::HexOf(Update);
  facts.Expires = UtcDateInDays(DemoPageValidDays);
  facts.ReadMe = {BaseURL + DemoReadMePath, ReadMe.size(), TSha256::HexOf(ReadMe)};
  std::string lines;
  for (const auto& [name, content] :
       SignedPageEntries(facts, Ed25519Sign(PrivateKey, SignedText(facts))))
    lines += MetaLine(name, content);
  return lines;
}

std::string DemoPage(const std::string& BaseURL, const std::string& Signed) {
  // One entry a line: the reader takes the first entry of each line only. The body text
  // brings the page to about a kilobyte, the size of a typical real one.
  return "<HTML><HEAD>\r\n" + Signed +
         "<TITLE>Orvane Demo 1.1</TITLE>\r\n"
         "</HEAD><BODY>\r\n"
         "<H1>Orvane Demo 1.1</H1>\r\n"
         "<P>This page tells applications which version of Orvane Demo is the latest.\r\n"
         "An update checker reads the entries in the head of this page: the product's\r\n"
         "name, the version offered, its date and author, where the update file and the\r\n"
         "read-me are. People who open the page in a browser see this text instead.</P>\r\n"
         "<P>Version 1.1 is a demonstration release. Its update file is a small shell\r\n"
         "script that changes nothing and only says that it has been installed.</P>\r\n"
         "<P><A HREF=\"" +
         BaseURL + DemoUpdatePath + "\">Download Orvane Demo 1.1</A> | <A HREF=\"" + BaseURL +
         DemoReadMePath +
         "\">Read me</A></P>\r\n"
         "</BODY></HTML>\r\n";
}

const char* const DemoReadMe =
    "Orvane Demo 1.1\n"
    "===============\n"
    "\n"
    "What is new in 1.1\n"
    "\n"
    "  * The update checker found this release on its information page, compared its\n"
    "    version with the one you run, and offered you this read-me.\n"
    "  * The update file is a shell script. It changes nothing on your machine: it\n"
    "    only prints that Orvane Demo 1.1 is installed.\n"
    "\n"
    "How the check went\n"
    "\n"
    "  1. The information page was fetched while a please-wait spinner turned.\n"
    "  2. Its META HTTP-EQUIV entries gave the product name, version, date, author,\n"
    "     the address of this read-me and the address of the update file.\n"
    "  3. Version 1.1 is newer than 1.0, so an update is available.\n"
    "  4. Next you are asked whether to download the update and where to save it;\n"
    "     a progress line shows the download, which Escape or Ctrl-C cancels.\n"
    "  5. At the end you are asked whether to install the update now.\n"
    "\n"
    "Point orvane-check at your own page with:  orvane-check http://HOST/PAGE\n";

const char* const DemoUpdate =
    "#!/bin/sh\n"
    "# Orvane Demo 1.1, the update file of the orvane-check demo. It changes nothing on\n"
    "# this machine: it only reports the version it stands for.\n"
    "echo \"Orvane Demo 1.1 is installed.\"\n";

}  // namespace

std::size_t DemoUpdateSize() {
  return std::string_view(DemoUpdate).size();
}

std::vector<TDemoFile> DemoFiles(const std::string& BaseURL, const std::string& PrivateKey) {
  const std::string page =
      DemoPage(BaseURL, SignedEntries(BaseURL, PrivateKey, DemoUpdate, DemoReadMe));
  return {{"/", "text/html", page},
          {DemoPagePath, "text/html", page},
          {DemoReadMePath, "text/plain", DemoReadMe},
          {DemoUpdatePath, "application/x-sh", DemoUpdate}};
}
