#include <gtest/gtest.h>

#include "Host/StringList.h"
#include "Orvane/Orvane.h"

namespace {

TStringList PageLines(std::initializer_list<std::string> lines) {
  TStringList l;
  for (const std::string& s : lines) l.Add(s);
  return l;
}

std::string Entry(const std::string& name, const std::string& content) {
  return "<META HTTP-EQUIV=\"" + name + "\" CONTENT=\"" + content + "\">";
}

}  // namespace

TEST(PageParser, ReadsTheWorkedExamplePage) {
  TOrvane o(nullptr);
  TOrvTags& t = *o.InfoTags();
  t.SetVersionTag("Version");
  t.SetProductNameTag("Product");
  t.SetDateTag("Date");
  t.SetDownloadTag("Download");
  t.SetReadMeTag("ReadMe");
  t.SetRunParamsTag("Params");
  TStringList page;
  page.SetText(
      "<HTML><HEAD>\r\n"
      "<META HTTP-EQUIV=\"Product\" CONTENT=\"Sample Editor\">\r\n"
      "<Meta Http-Equiv=\"Version\" CONTENT=\"1.2.0.7\">\n"
      "<META HTTP-EQUIV=\"Date\" CONTENT=\"Mar 5, 1998\">\r"
      "<META HTTP-EQUIV=\"Download\" CONTENT=\"http://server/files/setup.exe\">\r\n"
      "<META HTTP-EQUIV=\"ReadMe\" content=\"http://server/readme.txt\">\r\n"
      "<META HTTP-EQUIV=\"version\" CONTENT=\"9.9\">\r\n"
      "<META NAME=\"Author\" CONTENT=\"X\">\r\n"
      "<META HTTP-EQUIV=\"Params\" CONTENT=\"/silent\">\r\n");
  ASSERT_EQ(page.Count(), 9);
  o.ParseDocument(page);
  EXPECT_EQ(o.ProductName(), "Sample Editor");
  EXPECT_EQ(o.ProductVersion(), "1.2.0.7");
  EXPECT_EQ(o.ProductDateStr(), "Mar 5, 1998");
  EXPECT_EQ(o.ProductDate(), EncodeDate(1998, 3, 5));
  EXPECT_EQ(o.DownloadURL(), "http://server/files/setup.exe");
  EXPECT_EQ(LastUrlSegment(o.DownloadURL()), "setup.exe");
  EXPECT_EQ(o.ProductReadMe(), "TP-EQUIV=");
  EXPECT_EQ(o.RunParams(), "/silent");
  EXPECT_EQ(o.ProductAuthor(), "");
  EXPECT_EQ(o.ProductReadMeExt(), "");
  EXPECT_EQ(o.RedirectURL(), "");
}

TEST(PageParser, AnEmptyNameFillsEveryFieldWhoseTagIsEmpty) {
  TOrvane o(nullptr);
  o.InfoTags()->SetVersionTag("Version");
  o.InfoTags()->SetDateTag("Date");
  // A blank before the quote of the name: the two characters after the marker are ' ='.
  o.ParseDocument(PageLines({"<meta http-equiv =\"Author\" CONTENT=\"x\">"}));
  EXPECT_EQ(o.ProductAuthor(), "x");
  EXPECT_EQ(o.ProductName(), "x");
  EXPECT_EQ(o.ProductReadMe(), "x");
  EXPECT_EQ(o.ProductReadMeExt(), "x");
  EXPECT_EQ(o.DownloadURL(), "x");
  EXPECT_EQ(o.RedirectURL(), "x");
  EXPECT_EQ(o.RunParams(), "x");
  EXPECT_EQ(o.ProductVersion(), "");
  EXPECT_EQ(o.ProductDateStr(), "");
}

TEST(PageParser, NamesAndContentsEndWithinAThousandCharacters) {
  TOrvane o(nullptr);
  const std::string longest(999, 'n');
  o.InfoTags()->SetVersionTag(longest);
  o.InfoTags()->SetAuthorTag("Author");
  o.InfoTags()->SetDateTag("Date");
  o.InfoTags()->SetDownloadTag("Download");
  o.InfoTags()->SetReadMeTag("R");
  o.InfoTags()->SetReadMeExtTag("E");
  o.InfoTags()->SetRunParamsTag("P");
  o.InfoTags()->SetRedirectTag("X");
  o.ParseDocument(PageLines({Entry(longest, "v1")}));
  EXPECT_EQ(o.ProductVersion(), "v1");
  // One more character and the closing quote falls outside: the name is empty.
  o.ParseDocument(PageLines({Entry(longest + "n", "name")}));
  EXPECT_EQ(o.ProductVersion(), "v1");
  EXPECT_EQ(o.ProductName(), "name");
  o.ParseDocument(PageLines({Entry("Author", std::string(999, 'c'))}));
  EXPECT_EQ(o.ProductAuthor().size(), 999u);
  o.ParseDocument(PageLines({Entry("Author", std::string(1000, 'c'))}));
  EXPECT_EQ(o.ProductAuthor(), "");
  // Too short a line for a name after the marker: also empty.
  o.InfoTags()->SetProductNameTag("Product");
  o.ParseDocument(PageLines({"<META HTTP-EQUIV"}));
  EXPECT_EQ(o.ProductName(), "name");
}

TEST(PageParser, LaterLinesWinAndUnmatchedPagesChangeNothing) {
  TOrvane o(nullptr);
  o.InfoTags()->SetVersionTag("V");
  o.InfoTags()->SetAuthorTag("V");  // two tags of one name both take the value
  o.InfoTags()->SetProductNameTag("P");
  o.InfoTags()->SetDateTag("D");
  o.InfoTags()->SetDownloadTag("L");
  o.InfoTags()->SetReadMeTag("R");
  o.InfoTags()->SetReadMeExtTag("E");
  o.InfoTags()->SetRunParamsTag("A");
  o.InfoTags()->SetRedirectTag("X");
  o.ParseDocument(PageLines({"x " + Entry("V", "1.0") + " y", Entry("V", "2.0")}));
  EXPECT_EQ(o.ProductVersion(), "2.0");
  EXPECT_EQ(o.ProductAuthor(), "2.0");
  o.ParseDocument(PageLines({"<html>", Entry("v", "3.0"), "<META NAME=\"V\" CONTENT=\"4\">", ""}));
  EXPECT_EQ(o.ProductVersion(), "2.0");
  EXPECT_EQ(o.ProductName(), "");
  // Only the first CONTENT= of the line counts, wherever it stands.
  o.ParseDocument(PageLines({"CONTENT=\"early\" <META HTTP-EQUIV=\"V\" CONTENT=\"late\">"}));
  EXPECT_EQ(o.ProductVersion(), "early");
}

TEST(PageParser, ExtractContentAndLastSegment) {
  TOrvane o(nullptr);
  EXPECT_EQ(o.ExtractContent("<META HTTP-EQUIV=\"a\" CONTENT=\"b c\">"), "b c");
  EXPECT_EQ(o.ExtractContent("CONTENT=\"\""), "");
  EXPECT_EQ(o.ExtractContent("CONTENT='x'"), "");  // no double quote after it
  EXPECT_EQ(o.ExtractContent("12345678abc\"def"), "abc");
  EXPECT_EQ(o.ExtractContent("short"), "");
  EXPECT_EQ(LastUrlSegment("http://server/files/setup.exe"), "setup.exe");
  EXPECT_EQ(LastUrlSegment("setup.exe"), "setup.exe");
  EXPECT_EQ(LastUrlSegment("http://server/files/"), "");
  EXPECT_EQ(LastUrlSegment(""), "");
  EXPECT_EQ(LastUrlSegment("/" + std::string(1200, 'f')).size(), 1000u);
}

TEST(PageParser, ABadDateTextEndsTheParseWithAConversionError) {
  TOrvane o(nullptr);
  o.InfoTags()->SetDateTag("Date");
  o.InfoTags()->SetVersionTag("Version");
  EXPECT_THROW(o.ParseDocument(PageLines({Entry("Version", "2.0"), Entry("Date", "Feb 30, 1999")})),
               EConvertError);
  EXPECT_EQ(o.ProductVersion(), "2.0");
  EXPECT_EQ(o.ProductDate(), 0.0);
  o.SetDateFormat(orvdNone);
  o.ParseDocument(PageLines({Entry("Date", "whenever")}));
  EXPECT_EQ(o.ProductDateStr(), "whenever");
  EXPECT_EQ(o.ProductDate(), 0.0);
}
