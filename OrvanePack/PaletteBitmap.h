// The package's palette bitmaps, as BMP file bytes.
#pragma once

#include <string>

// TOrvane's: 32 x 32 pixels, 16 colours.
std::string OrvanePaletteBitmap();
