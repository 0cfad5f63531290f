#include "Png.h"

#include <array>
#include <stdexcept>

namespace {

std::uint32_t Crc32(const std::string& data) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : data) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::uint32_t Adler32(const std::string& data) {
  std::uint32_t a = 1, b = 0;
  for (unsigned char c : data) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void PutBE32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void Chunk(std::string& png, const char* type, const std::string& data) {
  PutBE32(png, static_cast<std::uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  png += body;
  PutBE32(png, Crc32(body));
}

// A zlib stream of stored (uncompressed) blocks of at most 65535 bytes each.
std::string ZlibStored(const std::string& raw) {
  std::string out("\x78\x01", 2);
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    const bool last = at + n == raw.size();
    out += static_cast<char>(last ? 1 : 0);
    out += static_cast<char>(n & 0xFF);
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(~n & 0xFF);
    out += static_cast<char>((~n >> 8) & 0xFF);
    out.append(raw, at, n);
    at += n;
  } while (at < raw.size());
  PutBE32(out, Adler32(raw));
  return out;
}

}  // namespace

std::string EncodePalettePng(int Width, int Height, const std::vector<std::uint32_t>& Palette,
                             const std::vector<std::uint8_t>& Pixels) {
  if (Width <= 0 || Height <= 0 || Palette.empty() || Palette.size() > 256 ||
      Pixels.size() != static_cast<size_t>(Width) * static_cast<size_t>(Height))
    throw std::invalid_argument("image size, palette and pixels do not agree");
  int depth = 1;
  while ((size_t{1} << depth) < Palette.size()) depth *= 2;
  for (std::uint8_t p : Pixels)
    if (p >= Palette.size()) throw std::invalid_argument("a pixel lies outside the palette");

  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  PutBE32(header, static_cast<std::uint32_t>(Width));
  PutBE32(header, static_cast<std::uint32_t>(Height));
  header += static_cast<char>(depth);
  header += '\3';                  // palette colour
  header += std::string(3, '\0');  // deflate, adaptive filtering, no interlace
  Chunk(png, "IHDR", header);

  std::string plte;
  for (std::uint32_t rgb : Palette) {
    plte += static_cast<char>((rgb >> 16) & 0xFF);
    plte += static_cast<char>((rgb >> 8) & 0xFF);
    plte += static_cast<char>(rgb & 0xFF);
  }
  Chunk(png, "PLTE", plte);

  const int perByte = 8 / depth;
  const size_t rowBytes = (static_cast<size_t>(Width) + static_cast<size_t>(perByte) - 1) /
                          static_cast<size_t>(perByte);
  std::string raw;
  for (int y = 0; y < Height; ++y) {
    raw += '\0';  // filter: none
    std::string row(rowBytes, '\0');
    for (int x = 0; x < Width; ++x) {
      const std::uint8_t p =
          Pixels[static_cast<size_t>(y) * static_cast<size_t>(Width) + static_cast<size_t>(x)];
      row[static_cast<size_t>(x / perByte)] |=
          static_cast<char>(p << (8 - depth * (x % perByte + 1)));
    }
    raw += row;
  }
  Chunk(png, "IDAT", ZlibStored(raw));
  Chunk(png, "IEND", "");
  return png;
}
