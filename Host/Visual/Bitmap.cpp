#include "Host/Bitmap.h"

#include "Host/SysUtils.h"

namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;

void Put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::uint32_t Get16(const std::string& s, size_t at) {
  return static_cast<std::uint8_t>(s[at]) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 1])) << 8);
}

std::uint32_t Get32(const std::string& s, size_t at) {
  return Get16(s, at) | (Get16(s, at + 2) << 16);
}

bool DepthSupported(int bits) {
  return bits == 1 || bits == 4 || bits == 8;
}

size_t RowBytes(int width, int bits) {
  const size_t rowBits = static_cast<size_t>(width) * static_cast<size_t>(bits);
  return (rowBits + 31) / 32 * 4;
}

}  // namespace

std::string EncodeBmp(const TBitmapImage& Image) {
  if (!DepthSupported(Image.BitsPerPixel))
    throw Exception("A bitmap of " + IntToStr(Image.BitsPerPixel) +
                    " bits per pixel cannot be written");
  const size_t colours = size_t{1} << Image.BitsPerPixel;
  if (Image.Width <= 0 || Image.Height <= 0 || Image.Width > 4096 || Image.Height > 4096 ||
      Image.Pixels.size() != static_cast<size_t>(Image.Width) * static_cast<size_t>(Image.Height))
    throw Exception("The bitmap's size does not match its pixels");
  if (Image.Palette.empty() || Image.Palette.size() > colours)
    throw Exception("The bitmap's palette does not fit its depth");
  for (std::uint8_t p : Image.Pixels)
    if (p >= Image.Palette.size()) throw Exception("A pixel names a colour outside the palette");

  const size_t row = RowBytes(Image.Width, Image.BitsPerPixel);
  const auto paletteSize = static_cast<std::uint32_t>(Image.Palette.size() * 4);
  const std::uint32_t offset = kFileHeaderSize + kInfoHeaderSize + paletteSize;
  const auto imageSize = static_cast<std::uint32_t>(row * static_cast<size_t>(Image.Height));
  std::string out;
  out += "BM";
  Put32(out, offset + imageSize);
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, kInfoHeaderSize);
  Put32(out, static_cast<std::uint32_t>(Image.Width));
  Put32(out, static_cast<std::uint32_t>(Image.Height));  // positive: bottom row first
  Put16(out, 1);
  Put16(out, static_cast<std::uint32_t>(Image.BitsPerPixel));
  Put32(out, 0);  // no compression
  Put32(out, imageSize);
  Put32(out, 3780);  // 96 dots per inch
  Put32(out, 3780);
  Put32(out, static_cast<std::uint32_t>(Image.Palette.size()));
  Put32(out, 0);
  for (std::uint32_t rgb : Image.Palette) {
    out += static_cast<char>(rgb & 0xFF);
    out += static_cast<char>((rgb >> 8) & 0xFF);
    out += static_cast<char>((rgb >> 16) & 0xFF);
    out += '\0';
  }
  const int bits = Image.BitsPerPixel;
  const int perByte = 8 / bits;
  for (int y = Image.Height - 1; y >= 0; --y) {
    std::string line(row, '\0');
    for (int x = 0; x < Image.Width; ++x) {
      const int shift = 8 - bits * (x % perByte + 1);
      line[static_cast<size_t>(x / perByte)] |= static_cast<char>(Image.Pixel(x, y) << shift);
    }
    out += line;
  }
  return out;
}

bool DecodeBmp(const std::string& Bytes, TBitmapImage& Image, std::string& Error) {
  if (Bytes.size() < kFileHeaderSize + kInfoHeaderSize || Bytes.compare(0, 2, "BM") != 0) {
    Error = "not a bitmap file";
    return false;
  }
  const std::uint32_t offset = Get32(Bytes, 10);
  const std::uint32_t headerSize = Get32(Bytes, 14);
  const auto width = static_cast<std::int32_t>(Get32(Bytes, 18));
  const auto height = static_cast<std::int32_t>(Get32(Bytes, 22));
  const auto bits = static_cast<int>(Get16(Bytes, 28));
  const std::uint32_t compression = Get32(Bytes, 30);
  std::uint32_t used = Get32(Bytes, 46);
  if (headerSize < kInfoHeaderSize || !DepthSupported(bits) || compression != 0) {
    Error = "only uncompressed bitmaps of 1, 4 or 8 bits per pixel are read";
    return false;
  }
  // A negative height would mean top row first; palette bitmaps of resources never are.
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096) {
    Error = "the bitmap's size is out of range";
    return false;
  }
  const std::uint32_t colours = 1u << bits;
  if (used == 0) used = colours;
  const size_t paletteAt = kFileHeaderSize + headerSize;
  const size_t row = RowBytes(width, bits);
  if (used > colours || paletteAt + size_t{used} * 4 > offset || offset > Bytes.size() ||
      Bytes.size() - offset < row * static_cast<size_t>(height)) {
    Error = "the bitmap file is cut short or its parts overlap";
    return false;
  }
  TBitmapImage result;
  result.Width = width;
  result.Height = height;
  result.BitsPerPixel = bits;
  for (std::uint32_t i = 0; i < used; ++i) {
    const size_t at = paletteAt + size_t{i} * 4;
    result.Palette.push_back(
        static_cast<std::uint8_t>(Bytes[at]) |
        static_cast<std::uint32_t>(static_cast<std::uint8_t>(Bytes[at + 1])) << 8 |
        static_cast<std::uint32_t>(static_cast<std::uint8_t>(Bytes[at + 2])) << 16);
  }
  result.Pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  const int perByte = 8 / bits;
  const unsigned mask = (1u << bits) - 1;
  for (int y = 0; y < height; ++y) {
    const size_t line = offset + row * static_cast<size_t>(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const auto byte = static_cast<std::uint8_t>(Bytes[line + static_cast<size_t>(x / perByte)]);
      const unsigned index = (byte >> (8 - bits * (x % perByte + 1))) & mask;
      if (index >= used) {
        Error = "a pixel names a colour outside the palette";
        return false;
      }
      result.Pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
          static_cast<std::uint8_t>(index);
    }
  }
  Image = std::move(result);
  return true;
}
