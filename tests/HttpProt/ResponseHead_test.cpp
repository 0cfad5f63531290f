#include "HttpProt/ResponseHead.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

// What a head says once its lines are read, and what the last line was.
struct HeadSummary {
  std::int64_t ContentLength = -1;
  std::string ContentType = "";
  bool Chunked = false;
  std::string UnknownCoding = "";
  bool LocationSeen = false;
  THeadLine::TKind Last = THeadLine::Field;
  std::int32_t StatusCode = 0;
  std::string Text = "";
  bool operator==(const HeadSummary&) const = default;
};

std::ostream& operator<<(std::ostream& os, const HeadSummary& o) {
  return os << "{length " << o.ContentLength << " type '" << o.ContentType << "' chunked "
            << o.Chunked << " unknown '" << o.UnknownCoding << "' location " << o.LocationSeen
            << " last kind " << int(o.Last) << " status " << o.StatusCode << " text '" << o.Text
            << "'}";
}

const THttpTarget& HeadBase() {
  static const THttpTarget from = RequestTarget("http://host/dir/a.htm", "", "");
  return from;
}

HeadSummary ReadHead(const std::vector<std::string>& lines) {
  THttpResponseHead head;
  HeadSummary o;
  for (const std::string& line : lines) {
    const THeadLine l = ParseHeadLine(head, line, HeadBase(), false);
    o.Last = l.Kind;
    o.StatusCode = l.StatusCode;
    o.Text = l.Text;
  }
  o.ContentLength = head.ContentLength;
  o.ContentType = head.ContentType;
  o.Chunked = head.Chunked;
  o.UnknownCoding = head.UnknownCoding;
  o.LocationSeen = head.LocationSeen;
  return o;
}

HeadSummary StatusOf(std::int32_t code, const std::string& phrase) {
  return {.Last = THeadLine::Status, .StatusCode = code, .Text = phrase};
}

const HeadSummary OnlyRecorded{};
const HeadSummary BadStatusLine{.Last = THeadLine::Malformed, .Text = "malformed status line"};

HeadSummary LengthOf(std::int64_t n, THeadLine::TKind last = THeadLine::Field) {
  return {.ContentLength = n,
          .Last = last,
          .Text = last == THeadLine::Malformed ? "malformed content-length" : ""};
}

HeadSummary CodingsOf(bool chunked, const std::string& unknown) {
  return {.Chunked = chunked, .UnknownCoding = unknown};
}

using HeadCase = std::pair<std::vector<std::string>, HeadSummary>;

void CheckHeads(const std::vector<HeadCase>& cases) {
  for (const auto& [lines, want] : cases) {
    std::string shown;
    for (const std::string& l : lines) shown += "[" + l + "]";
    EXPECT_EQ(ReadHead(lines), want) << shown;
  }
}

TEST(ResponseHeadTest, StatusLines) {
  CheckHeads({
      {{"HTTP/1.1 200 OK"}, StatusOf(200, "OK")},
      {{"HTTP/1.0 404 Not Found"}, StatusOf(404, "Not Found")},
      {{"HTTP/1.1 200"}, StatusOf(200, "")},
      {{"HTTP/1.1 999 Odd"}, StatusOf(999, "Odd")},
      // Three digits at their place make the code, whatever stands around them.
      {{"HTTP/1.1\t302 Found"}, StatusOf(302, "Found")},
      {{"HTTP/1.1 2000 OK"}, StatusOf(200, " OK")},
      {{"HTTP/1.1 20 OK"}, BadStatusLine},
      {{"HTTP/1.1 -20 OK"}, BadStatusLine},
      {{"HTTP/1.1 abc"}, BadStatusLine},
      {{"HTTP/1.1"}, BadStatusLine},
      {{std::string("HTTP/1.1 2\0"
                    "0 OK",
                    15)},
       BadStatusLine},
      // Other versions and other cases are no status line, only recorded.
      {{"HTTP/2 200 OK"}, OnlyRecorded},
      {{"http/1.1 200 OK"}, OnlyRecorded},
      {{""}, OnlyRecorded},
      {{"no colon at all"}, OnlyRecorded},
  });
}

TEST(ResponseHeadTest, ContentLengthTakesOnlyDigitsThatFit) {
  const auto bad = THeadLine::Malformed;
  CheckHeads({
      {{"Content-Length: 1234"}, LengthOf(1234)},
      {{"content-LENGTH: \t42 \t"}, LengthOf(42)},
      {{"Content-Length: 0"}, LengthOf(0)},
      {{"Content-Length: 999999999999999999"}, LengthOf(999999999999999999)},
      {{"Content-Length: 9999999999999999999"}, LengthOf(-1, bad)},
      {{"Content-Length: -1"}, LengthOf(-1, bad)},
      {{"Content-Length: +5"}, LengthOf(-1, bad)},
      {{"Content-Length: 0x10"}, LengthOf(-1, bad)},
      {{"Content-Length: 1 2"}, LengthOf(-1, bad)},
      {{"Content-Length: "}, LengthOf(-1, bad)},
      {{std::string("Content-Length: 5\0"
                    "7",
                    19)},
       LengthOf(-1, bad)},
      // The one character after the colon is skipped, a digit too.
      {{"Content-Length:5"}, LengthOf(-1, bad)},
      {{"Content-Length:57"}, LengthOf(7)},
      // The last length stands; a bad one changes nothing.
      {{"Content-Length: 10", "Content-Length: 20"}, LengthOf(20)},
      {{"Content-Length: 10", "Content-Length: x"}, LengthOf(10, bad)},
      // A folded continuation or a blank before the name is no field of its own.
      {{" Content-Length: 5"}, OnlyRecorded},
      {{"Content-Length:", " 5"}, LengthOf(-1)},
      {{"Content-Length : 5"}, OnlyRecorded},
  });
}

TEST(ResponseHeadTest, TransferCodingsAreChunkedIdentityOrRefused) {
  CheckHeads({
      {{"Transfer-Encoding: chunked"}, CodingsOf(true, "")},
      {{"TRANSFER-ENCODING: CHUNKED"}, CodingsOf(true, "")},
      {{"Transfer-Encoding: identity"}, CodingsOf(false, "")},
      {{"Transfer-Encoding: ,, chunked ,\t"}, CodingsOf(true, "")},
      {{"Transfer-Encoding: chunked, chunked"}, CodingsOf(true, "")},
      {{"Transfer-Encoding: gzip, chunked"}, CodingsOf(true, "gzip")},
      {{"Transfer-Encoding: chunked;q=1"}, CodingsOf(false, "chunked;q=1")},
      {{"Transfer-Encoding: chunkedx"}, CodingsOf(false, "chunkedx")},
      // The first unknown coding is the one told, over several lines too.
      {{"Transfer-Encoding: Br", "Transfer-Encoding: gzip, chunked"}, CodingsOf(true, "br")},
      {{"Transfer-Encoding:", "\tchunked"}, CodingsOf(false, "")},
  });
}

TEST(ResponseHeadTest, TypeChallengeAndLocation) {
  CheckHeads({
      {{"Content-Type: Text/HTML; Charset=UTF-8"}, {.ContentType = "text/html; charset=utf-8"}},
      {{"Content-Type: a", "Content-Type: b"}, {.ContentType = "b"}},
      {{"Content-Type: text/html;", " charset=x"}, {.ContentType = "text/html;"}},
      {{"WWW-Authenticate: Basic realm=\"x\""},
       {.Last = THeadLine::Challenge, .Text = "Basic realm=\"x\""}},
      {{"www-authenticate:"}, {.Last = THeadLine::Challenge}},
      {{"Location: /next"}, {.LocationSeen = true}},
      {{"X-Location: /next", "Locations: /x"}, OnlyRecorded},
  });
  THttpResponseHead head;
  ParseHeadLine(head, "Location: page2.htm", HeadBase(), false);
  ParseHeadLine(head, "Location: https://other:8443/x?y", HeadBase(), false);
  EXPECT_TRUE(head.Location.Tls);
  EXPECT_EQ(head.Location.ConnectHost, "other");
  EXPECT_EQ(head.Location.ConnectPort, "8443");
  EXPECT_EQ(head.Location.RequestPath, "/x?y");
  ParseHeadLine(head, "Location: ftp://other/x", HeadBase(), false);
  EXPECT_FALSE(head.Location.Refusal.empty());
}

TEST(ResponseHeadTest, HeaderlessDocumentsStartWithTheHtmlTag) {
  EXPECT_TRUE(StartsHeaderless("<html>"));
  EXPECT_TRUE(StartsHeaderless("<HtMl><body>"));
  EXPECT_FALSE(StartsHeaderless("<html"));
  EXPECT_FALSE(StartsHeaderless(" <html>"));
  EXPECT_FALSE(StartsHeaderless("<!doctype html>"));
  EXPECT_FALSE(StartsHeaderless(""));
}

TEST(ResponseHeadTest, RelocationVerdicts) {
  const THttpTarget http = RequestTarget("http://a/", "", "");
  const THttpTarget https = RequestTarget("https://a/", "", "");
  const THttpTarget refused = RequestTarget("ftp://a/", "", "");
  using V = TRelocationVerdict;
  EXPECT_EQ(JudgeRelocation(http, https, 0, 20, false), V::Follow);
  EXPECT_EQ(JudgeRelocation(https, https, 19, 20, false), V::Follow);
  EXPECT_EQ(JudgeRelocation(https, http, 0, 20, false), V::Downgrade);
  EXPECT_EQ(JudgeRelocation(https, http, 0, 20, true), V::Follow);
  EXPECT_EQ(JudgeRelocation(http, http, 20, 20, false), V::TooMany);
  EXPECT_EQ(JudgeRelocation(http, http, 0, 0, false), V::TooMany);
  // A target that cannot be reached is told first, then a downgrade, then the count.
  EXPECT_EQ(JudgeRelocation(https, refused, 20, 20, false), V::BadTarget);
  EXPECT_EQ(JudgeRelocation(https, http, 20, 20, false), V::Downgrade);
}

}  // namespace
