// Device-independent bitmaps as a package keeps them among its resources: the bytes of a
// BMP file with a colour table (1, 4 or 8 bits per pixel, uncompressed).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Platform/Export.h"

struct ORV_API TBitmapImage {
  int Width = 0;
  int Height = 0;
  int BitsPerPixel = 4;
  // 0xRRGGBB for each palette index.
  std::vector<std::uint32_t> Palette;
  // One palette index per pixel, top row first.
  std::vector<std::uint8_t> Pixels;

  std::uint8_t Pixel(int X, int Y) const {
    return Pixels[static_cast<size_t>(Y) * static_cast<size_t>(Width) + static_cast<size_t>(X)];
  }
};

// The BMP file of Image (bottom row first, rows padded to 4 bytes, as the format wants).
// Raises Exception for a size, depth or palette the format cannot hold.
ORV_API std::string EncodeBmp(const TBitmapImage& Image);
// False with the reason in Error for anything but an uncompressed palette bitmap whose
// every byte lies inside Bytes; Image is left alone then.
ORV_API bool DecodeBmp(const std::string& Bytes, TBitmapImage& Image, std::string& Error);
