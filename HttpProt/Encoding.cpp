#include "HttpProt/Encoding.h"

#include <limits>

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Index 0 is the grave accent rather than a blank, so that no line carries blanks that mail
// gateways might strip; 1..63 are the codes 33..95.
constexpr char kUU[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";

static_assert(sizeof(kBase64) == 65 && sizeof(kUU) == 65);

// Writes the four characters of each whole group of three; returns the end of the output.
char* EncodeGroups(const char* alphabet, const unsigned char* in, size_t groups, char* out) {
  for (size_t g = 0; g < groups; ++g, in += 3, out += 4) {
    const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
    out[0] = alphabet[v >> 18];
    out[1] = alphabet[(v >> 12) & 63];
    out[2] = alphabet[(v >> 6) & 63];
    out[3] = alphabet[v & 63];
  }
  return out;
}

// Encodes the groups of three and a short last group completed with zero bytes; the
// four characters of that last group start at the returned place (null when none).
char* EncodeAll(const char* alphabet, const unsigned char* in, size_t len, char* out) {
  const size_t whole = len / 3;
  out = EncodeGroups(alphabet, in, whole, out);
  if (len % 3 == 0) return nullptr;
  const unsigned char last[3] = {in[whole * 3], len % 3 == 2 ? in[whole * 3 + 1] : uint8_t{0}, 0};
  EncodeGroups(alphabet, last, 1, out);
  return out;
}

size_t EncodedSize(size_t len) {
  return 4 * (len / 3 + (len % 3 != 0 ? 1 : 0));
}

std::string EncodeUU(const unsigned char* in, size_t len) {
  std::string line(1 + EncodedSize(len), '\0');
  // ((len - 1) and 63) + 33 in two's complement: code 32 + len for 1..63, the grave accent
  // for 0 and 64, wrapping every 64 bytes beyond.
  line[0] = static_cast<char>(((len - 1) & 63) + 33);
  EncodeAll(kUU, in, len, line.data() + 1);
  return line;
}

std::string EncodeBase64(const unsigned char* in, size_t len) {
  std::string line(EncodedSize(len), '\0');
  if (char* last = EncodeAll(kBase64, in, len, line.data())) {
    last[3] = '=';
    if (len % 3 == 1) last[2] = '=';
  }
  return line;
}

std::string Encode(THttpEncoding Encoding, const unsigned char* in, size_t len) {
  return Encoding == encUUEncode ? EncodeUU(in, len) : EncodeBase64(in, len);
}

}  // namespace

std::string EncodeLine(THttpEncoding Encoding, const void* Buf, std::int32_t Len) {
  const auto* in = static_cast<const unsigned char*>(Buf);
  const size_t len = (Buf == nullptr || Len < 0) ? 0 : static_cast<size_t>(Len);
  return Encode(Encoding, in, len);
}

std::string EncodeStr(THttpEncoding Encoding, const std::string& Value) {
  return Encode(Encoding, reinterpret_cast<const unsigned char*>(Value.data()), Value.size());
}
