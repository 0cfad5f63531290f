// A palette image written as a PNG file: the smallest encoder that a viewer accepts
// (zlib stored blocks, no compression).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Pixels: one palette index per pixel, top row first; Palette: 0xRRGGBB, at most 256.
// The depth is the smallest of 1, 2, 4 or 8 bits that holds every index.
std::string EncodePalettePng(int Width, int Height, const std::vector<std::uint32_t>& Palette,
                             const std::vector<std::uint8_t>& Pixels);
