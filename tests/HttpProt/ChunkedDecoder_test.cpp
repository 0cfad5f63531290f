// The chunked body decoder without any socket: whole inputs, inputs fed byte by byte, and
// the malformed and oversized ones.
#include "HttpProt/ChunkedDecoder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Decoded {
  std::string Body;
  TChunkedDecoder::TStep Last;
  std::string Error;
  std::string After;  // input left after the end of the body
};

// Feeds Input in pieces of Step bytes (0: all at once).
Decoded Decode(const std::string& Input, std::size_t Step = 0) {
  TChunkedDecoder d;
  Decoded out{"", TChunkedDecoder::TStep::NeedMore, "", ""};
  for (std::size_t at = 0; at < Input.size();) {
    const std::size_t n = Step == 0 ? Input.size() - at : std::min(Step, Input.size() - at);
    const char* in = Input.data() + at;
    const char* const end = in + n;
    for (;;) {
      const char* data = nullptr;
      std::size_t len = 0;
      out.Last = d.Next(in, end, data, len);
      if (out.Last == TChunkedDecoder::TStep::Data) {
        out.Body.append(data, len);
        continue;
      }
      break;
    }
    if (out.Last == TChunkedDecoder::TStep::Done) {
      out.After.assign(in, end);
      return out;
    }
    if (out.Last == TChunkedDecoder::TStep::Failed) {
      out.Error = d.Error();
      return out;
    }
    at += n;
  }
  return out;
}

TEST(ChunkedDecoderTest, DecodesWholeAndPiecemealAlike) {
  const std::string body =
      "1a;name=\"v;x\"\r\nabcdefghijklmnopqrstuvwxyz\r\n"
      "5 \t; ext\r\n12345\r\n"
      "B\nsplit\r\nhere\n"  // lone line feeds end lines too
      "000\r\nX-Trailer: dropped\r\nOther: too\r\n\r\n";
  for (std::size_t step : {0, 1, 2, 3, 7}) {
    SCOPED_TRACE(step);
    const Decoded d = Decode(body + "NEXT", step);
    EXPECT_EQ(d.Last, TChunkedDecoder::TStep::Done) << d.Error;
    EXPECT_EQ(d.Body, "abcdefghijklmnopqrstuvwxyz12345split\r\nhere");
    // What follows the body is left to the caller.
    if (step == 0) {
      EXPECT_EQ(d.After, "NEXT");
    }
  }
  // An empty body; a body that is not ended yet.
  EXPECT_EQ(Decode("0\r\n\r\n").Last, TChunkedDecoder::TStep::Done);
  const Decoded open = Decode("3\r\nabc\r\n0\r\n");
  EXPECT_EQ(open.Last, TChunkedDecoder::TStep::NeedMore);
  EXPECT_EQ(open.Body, "abc");
}

TEST(ChunkedDecoderTest, RefusesMalformedAndOversizedInput) {
  const std::pair<std::string, std::string> cases[] = {
      {"\r\n", "malformed chunk size"},
      {"x\r\n", "malformed chunk size"},
      {"-1\r\n", "malformed chunk size"},
      {"3 4\r\nabc\r\n", "malformed chunk size"},
      {"3\rx", "malformed chunk size"},
      {"3\r\nabcd\r\n", "malformed chunk end"},
      {"3\r\nabc\rX", "malformed chunk end"},
      // A blank line where the next size belongs is no last chunk.
      {"5\r\nhello\r\n\n0\r\n\r\n", "malformed chunk size"},
      // 2^56 and beyond is no body size: refused before the count could overflow.
      {"100000000000000\r\n", "chunk size too large"},
      {"FFFFFFFFFFFFFFFFFFFF\r\n", "chunk size too large"},
      {"1" + std::string(5000, ';') + "\r\n", "chunk size line too long"},
      {"0000" + std::string(5000, '0') + "\r\n", "chunk size line too long"},
      {"0\r\n" + std::string(70000, 'x') + "\r\n\r\n", "chunk trailer too long"},
  };
  for (const auto& [input, error] : cases) {
    const Decoded d = Decode(input);
    EXPECT_EQ(d.Last, TChunkedDecoder::TStep::Failed) << input.substr(0, 40);
    EXPECT_EQ(d.Error, error) << input.substr(0, 40);
  }
  // Once failed, asked again with or without input, it stays failed.
  TChunkedDecoder d;
  const std::string bad = "x\r\n0\r\n\r\n";
  const char* in = bad.data();
  const char* data = nullptr;
  std::size_t len = 0;
  EXPECT_EQ(d.Next(in, bad.data() + bad.size(), data, len), TChunkedDecoder::TStep::Failed);
  EXPECT_EQ(d.Next(in, in, data, len), TChunkedDecoder::TStep::Failed);
  EXPECT_EQ(d.Next(in, bad.data() + bad.size(), data, len), TChunkedDecoder::TStep::Failed);
  EXPECT_EQ(d.Error(), "malformed chunk size");
  // The largest size taken is read whole.
  const Decoded big = Decode("FFFFFFFFFFFFFF\r\nab");
  EXPECT_EQ(big.Last, TChunkedDecoder::TStep::NeedMore);
  EXPECT_EQ(big.Body, "ab");
}

}  // namespace
