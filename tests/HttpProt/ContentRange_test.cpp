#include "HttpProt/ContentRange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HttpProt/HttpCli.h"

namespace {

TEST(ContentRange, OnlyAWellFormedRangeOfBytesIsTaken) {
  const THttpContentRange r = ParseContentRange(" Bytes 100-199/1000\t");
  EXPECT_TRUE(r.Valid());
  EXPECT_EQ(r.First, 100);
  EXPECT_EQ(r.Last, 199);
  EXPECT_EQ(r.Total, 1000);
  const THttpContentRange unknown = ParseContentRange("bytes 0-0/*");
  EXPECT_TRUE(unknown.Valid());
  EXPECT_EQ(unknown.Total, -1);
  EXPECT_EQ(
      ParseContentRange("bytes 999999999999999998-999999999999999998/999999999999999999").Last,
      999999999999999998);
  // What a hostile or broken server may send: never a range.
  for (const std::string& bad : std::vector<std::string>{"",
                                                         "bytes",
                                                         "bytes ",
                                                         "bytes */1000",
                                                         "bytes 5-4/10",
                                                         "bytes 0-10/10",
                                                         "bytes -1-5/10",
                                                         "bytes 1-5/10x",
                                                         "bytes 1-5 /10",
                                                         "bytes  1-5/10",
                                                         "bytes\t1-5/10",
                                                         "items 1-5/10",
                                                         "bytes 1-5",
                                                         "bytes 1-5/",
                                                         "bytes +1-5/10",
                                                         "bytes 1-5/-10",
                                                         "bytes 1-5/10,6-7/10",
                                                         "bytes 0-1/1000000000000000000",
                                                         std::string("bytes\0001-5/10", 13),
                                                         "bytes 0x1-5/10"}) {
    EXPECT_FALSE(ParseContentRange(bad).Valid()) << bad;
  }
}

TEST(ContentRange, ExtraRequestLinesMustBeNameValueLinesWithoutControlBytes) {
  THttpCli cli(nullptr);
  cli.SetExtraHeaders({"Range: bytes=10-", "If-Range: \"abc\""});
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"Range: bytes=10-\r\nX-Evil: 1"},
                                             {"If-Range: a\nb"},
                                             {"no colon"},
                                             {": no name"},
                                             {"Bad Name: x"},
                                             {"X: a\x7f"},
                                             {"Range: ok", std::string("X: a\0b", 6)}}) {
    EXPECT_THROW(cli.SetExtraHeaders(bad), EHttpException) << bad.back();
    EXPECT_EQ(cli.ExtraHeaders().size(), 2u);  // unchanged
  }
}

}  // namespace
