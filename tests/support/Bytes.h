// Test data that reveals lost, repeated, reordered or corrupted bytes: a stream whose
// every byte depends on its position, and the CRC-32 that the peer scripts print
// (the same polynomial as Python's zlib.crc32).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace testsupport {

// Byte `pos` of the stream named by `seed`. Any shift of a piece by up to 2^40 bytes,
// and any piece taken from another stream, changes the bytes.
inline std::uint8_t PatternByte(std::uint64_t seed, std::uint64_t pos) {
  std::uint64_t z = seed * 0x9E3779B97F4A7C15ull + (pos >> 3);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<std::uint8_t>(z >> ((pos & 7) * 8));
}

// Fills `len` bytes starting at stream position `pos`, eight at a time where it can.
inline void FillPattern(std::uint64_t seed, std::uint64_t pos, void* out, std::size_t len) {
  auto* p = static_cast<std::uint8_t*>(out);
  std::size_t i = 0;
  while (i < len) {
    const std::uint64_t at = pos + i;
    if ((at & 7) == 0 && len - i >= 8) {
      std::uint64_t z = seed * 0x9E3779B97F4A7C15ull + (at >> 3);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      z ^= z >> 31;
      for (int k = 0; k < 8; ++k) p[i + k] = static_cast<std::uint8_t>(z >> (k * 8));
      i += 8;
    } else {
      p[i] = PatternByte(seed, at);
      ++i;
    }
  }
}

inline std::string PatternString(std::uint64_t seed, std::uint64_t pos, std::size_t len) {
  std::string s(len, '\0');
  FillPattern(seed, pos, s.data(), len);
  return s;
}

// Offset of the first byte of `data` that differs from the stream at `pos`, or -1.
inline long long FirstMismatch(std::uint64_t seed, std::uint64_t pos, const void* data,
                               std::size_t len) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::uint8_t expect[4096];
  for (std::size_t done = 0; done < len;) {
    const std::size_t n = len - done < sizeof expect ? len - done : sizeof expect;
    FillPattern(seed, pos + done, expect, n);
    for (std::size_t k = 0; k < n; ++k)
      if (p[done + k] != expect[k]) return static_cast<long long>(done + k);
    done += n;
  }
  return -1;
}

class Crc32 {
 public:
  void Update(const void* data, std::size_t len) {
    static const std::array<std::uint32_t, 256> table = [] {
      std::array<std::uint32_t, 256> t{};
      for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
      }
      return t;
    }();
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < len; ++i) FCrc = table[(FCrc ^ p[i]) & 0xFF] ^ (FCrc >> 8);
  }
  void Update(const std::string& s) { Update(s.data(), s.size()); }
  std::uint32_t Value() const { return FCrc ^ 0xFFFFFFFFu; }

  static std::uint32_t Of(const std::string& s) {
    Crc32 c;
    c.Update(s);
    return c.Value();
  }
  // As the peer scripts print it: eight lower-case hex digits.
  static std::string HexOf(const std::string& s) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", Of(s));
    return buf;
  }

 private:
  std::uint32_t FCrc = 0xFFFFFFFFu;
};

}  // namespace testsupport
