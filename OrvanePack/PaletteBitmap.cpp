// The palette bitmap of TOrvane: a globe with an arrow pointing down into the corner, in
// the sixteen standard colours. Kept as source so that the picture can be read and edited
// here; the package turns it into the BMP resource TORVANE when it is loaded.
#include "OrvanePack/PaletteBitmap.h"

#include "Host/Bitmap.h"
#include "Host/SysUtils.h"

namespace {

// One hexadecimal digit per pixel: the index into kPalette. The lower-left pixel gives the
// colour the palette shows as transparent (silver).
// clang-format off
constexpr const char* kOrvanePicture[32] = {
    "77777777777777777777777777777777",
    "77777777777777777777777777777777",
    "77777777444444444477777777777777",
    "777777744FCCFFCCF447777777777777",
    "7777744CFCCCFFCCCFC4477777777777",
    "777744EEFEECFFCCCFCC447777777777",
    "77774FFFFFFFFFFFFFFFF47777777777",
    "7774CEEFEEEEFFCCCCFCCC4777777777",
    "7744CEFFEEEEFFCCCCFFCC4477777777",
    "774CCEFEEEEEFFCCCCCFCCC477777777",
    "774CCEFEEEEEFFCCCCCFCCC477777777",
    "774CCCFEEEECFFCCCCCFCCC477777777",
    "774FFFFFFFFFFFFFFFFFFFF477777777",
    "774CCCFCCCCCFFCCCCCFCC1111111777",
    "774CCCFCCCCCFFCCCCCFCC1999991777",
    "774CCCFCCCCCFFCCCCCFCC1999991777",
    "774CCCFCCCCCFFCCCCCFCC1999991777",
    "7744CCFFCCCCFFCCCCFFCC1999991777",
    "7774FFFFFFFFFFFFFFFFFF1999991777",
    "77774CCFCCCCFFCCCCFCC41999991777",
    "777744CCFCCCFFCCCFCC441999991777",
    "7777744CFCCCFFCCCFC4471999991777",
    "777777744FCCFFCCF447771999991777",
    "77777777444444444477771999991777",
    "77777777777777777771999999999991",
    "77777777777777777777199999999917",
    "77777777777777777777719999999177",
    "77777777777777777777771999991777",
    "77777777777777777777777199917777",
    "77777777777777777777777719177777",
    "77777777777777777777777771777777",
    "77777777777777777777777777777777",
};
// clang-format on

// black, maroon, green, olive, navy, purple, teal, silver, grey, red, lime, yellow, blue,
// fuchsia, aqua, white.
constexpr std::uint32_t kPalette[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                        0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                        0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

}  // namespace

std::string OrvanePaletteBitmap() {
  TBitmapImage image;
  image.Width = 32;
  image.Height = 32;
  image.BitsPerPixel = 4;
  image.Palette.assign(std::begin(kPalette), std::end(kPalette));
  for (const char* row : kOrvanePicture)
    for (int x = 0; x < 32; ++x) {
      const char c = row[x];
      image.Pixels.push_back(static_cast<std::uint8_t>(c <= '9' ? c - '0' : c - 'A' + 10));
    }
  return EncodeBmp(image);
}
