#include "Host/Bitmap.h"

#include <gtest/gtest.h>

#include "Host/SysUtils.h"

namespace {

// An odd width exercises the padding of rows and of the last half-filled byte.
TBitmapImage Sample() {
  TBitmapImage image;
  image.Width = 5;
  image.Height = 3;
  image.BitsPerPixel = 4;
  image.Palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  for (int i = 0; i < 15; ++i) image.Pixels.push_back(static_cast<std::uint8_t>(i % 5));
  return image;
}

TEST(Bitmap, RoundTripAndEveryCutShortFileIsRefused) {
  const std::string bytes = EncodeBmp(Sample());
  TBitmapImage back;
  std::string error;
  ASSERT_TRUE(DecodeBmp(bytes, back, error)) << error;
  EXPECT_EQ(back.Width, 5);
  EXPECT_EQ(back.Height, 3);
  EXPECT_EQ(back.Palette, Sample().Palette);
  EXPECT_EQ(back.Pixels, Sample().Pixels);

  for (size_t n = 0; n < bytes.size(); ++n) {
    TBitmapImage image = Sample();
    EXPECT_FALSE(DecodeBmp(bytes.substr(0, n), image, error)) << n;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(image.Pixels, Sample().Pixels) << "a refused file changed the image";
  }
  // A pixel naming a colour beyond the palette, and a compressed file, are refused too.
  std::string bad = bytes;
  bad[bad.size() - 4] = static_cast<char>(0xFF);
  EXPECT_FALSE(DecodeBmp(bad, back, error));
  bad = bytes;
  bad[30] = 2;
  EXPECT_FALSE(DecodeBmp(bad, back, error));
  // The encoder refuses what the format cannot hold.
  TBitmapImage wrong = Sample();
  wrong.Pixels.pop_back();
  EXPECT_THROW(EncodeBmp(wrong), Exception);
  wrong = Sample();
  wrong.Pixels[0] = 9;
  EXPECT_THROW(EncodeBmp(wrong), Exception);
}

}  // namespace
