#include "HttpProt/Encoding.h"

#include <gtest/gtest.h>

#include <random>

#include "PythonPeer.h"

namespace {

std::string RandomBytes(std::mt19937& rng, size_t len) {
  std::string s(len, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

TEST(EncodingTest, Base64KnownVectors) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"abc", "YWJj"},
      {"ab", "YWI="},
      {"a", "YQ=="},
  };
  for (const auto& [in, out] : vectors) {
    EXPECT_EQ(EncodeStr(encBase64, in), out) << in;
    EXPECT_EQ(EncodeStr(encMime, in), out) << in;
  }
  // Every alphabet position, including the last two characters.
  EXPECT_EQ(EncodeStr(encBase64, std::string("\xfb\xff\xbf", 3)), "+/+/");
  EXPECT_EQ(EncodeStr(encBase64, std::string("\0\0\0", 3)), "AAAA");
}

TEST(EncodingTest, UuencodeKnownLines) {
  EXPECT_EQ(EncodeStr(encUUEncode, "abc"), "#86)C");
  EXPECT_EQ(EncodeStr(encUUEncode, ""), "`");
  // Zero bits map to the grave accent, never to a blank.
  EXPECT_EQ(EncodeStr(encUUEncode, std::string(3, '\0')), "#````");
  // A short last group is completed with zero bytes.
  EXPECT_EQ(EncodeStr(encUUEncode, "a"), "!80``");
  EXPECT_EQ(EncodeStr(encUUEncode, "ab"), "\"86(`");
}

TEST(EncodingTest, UuencodeLengthCharacterWrapsEvery64Bytes) {
  const std::pair<size_t, char> cases[] = {{0, '`'},  {1, '!'},  {45, 'M'},  {63, '_'},
                                           {64, '`'}, {65, '!'}, {128, '`'}, {200, '('}};
  for (const auto& [len, first] : cases) {
    const std::string line = EncodeStr(encUUEncode, std::string(len, 'x'));
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line[0], first) << len;
    EXPECT_EQ(line.size(), 1 + 4 * ((len + 2) / 3)) << len;
    EXPECT_EQ(line.find_first_of("= \r\n"), std::string::npos) << len;
  }
}

TEST(EncodingTest, OneLineWhateverTheSize) {
  const std::string data(100, '\x5a');
  const std::string line = EncodeStr(encBase64, data);
  EXPECT_EQ(line.size(), 136u);
  EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
  const std::string big = EncodeStr(encMime, std::string(10000, '\x01'));
  EXPECT_EQ(big.size(), 13336u);
  EXPECT_EQ(big.find_first_of("\r\n"), std::string::npos);
}

TEST(EncodingTest, EncodeLineMatchesEncodeStrAndRejectsBadCounts) {
  const std::string data = "Aladdin:open sesame";
  EXPECT_EQ(EncodeLine(encBase64, data.data(), static_cast<std::int32_t>(data.size())),
            "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  // Only the counted bytes are read.
  EXPECT_EQ(EncodeLine(encBase64, data.data(), 3), "QWxh");
  EXPECT_EQ(EncodeLine(encBase64, data.data(), -5), "");
  EXPECT_EQ(EncodeLine(encUUEncode, data.data(), -1), "`");
  EXPECT_EQ(EncodeLine(encBase64, nullptr, 10), "");
}

// Base64 of random data of every length 0..300 against Python's base64 module.
TEST(EncodingTest, Base64AgreesWithPython) {
  std::mt19937 rng(20240611);
  std::vector<std::string> data;
  std::vector<std::string> hex;
  for (size_t len = 0; len <= 300; ++len) {
    data.push_back(RandomBytes(rng, len));
    hex.push_back(ToHex(data.back()));
  }
  // Every byte value at least once, in the three positions of a group.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (int shift = 0; shift < 3; ++shift) {
    data.push_back(std::string(static_cast<size_t>(shift), 'q') + all);
    hex.push_back(ToHex(data.back()));
  }
  const std::vector<std::string> expected = RunPython(
      "import sys, base64\n"
      "for line in sys.stdin:\n"
      "    print(base64.b64encode(bytes.fromhex(line.strip())).decode())\n",
      hex);
  ASSERT_EQ(expected.size(), data.size());
  for (size_t i = 0; i < data.size(); ++i) {
    EXPECT_EQ(EncodeStr(encBase64, data[i]), expected[i]) << "length " << data[i].size();
    EXPECT_EQ(EncodeStr(encMime, data[i]), expected[i]) << "length " << data[i].size();
  }
}

// The uuencode line of 0..45 bytes against Python's binascii (grave-accent form).
TEST(EncodingTest, UuencodeAgreesWithPython) {
  std::mt19937 rng(77);
  std::vector<std::string> data;
  std::vector<std::string> hex;
  for (size_t len = 0; len <= 45; ++len) {
    for (int rep = 0; rep < 3; ++rep) {
      data.push_back(RandomBytes(rng, len));
      hex.push_back(ToHex(data.back()));
    }
  }
  const std::vector<std::string> expected = RunPython(
      "import sys, binascii\n"
      "for line in sys.stdin:\n"
      "    data = bytes.fromhex(line.strip())\n"
      "    print(binascii.b2a_uu(data, backtick=True).decode().rstrip('\\n'))\n",
      hex);
  ASSERT_EQ(expected.size(), data.size());
  for (size_t i = 0; i < data.size(); ++i) {
    EXPECT_EQ(EncodeStr(encUUEncode, data[i]), expected[i]) << "length " << data[i].size();
  }
}

}  // namespace
