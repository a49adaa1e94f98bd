// The hand-over the photo plug-ins share: every EXIF orientation, alpha flattening as the PNG
// reader does it, and the EXIF orientation parser.
#include "common/picture.h"

#include <gtest/gtest.h>

#include "formats/blend_table.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using velorin_plugin::exifOrientation;
using velorin_plugin::handOver;

struct Handed {
  HLOCAL info = nullptr, bits = nullptr;
  ~Handed() {
    spiLocalFree(info);
    spiLocalFree(bits);
  }
  const BITMAPINFOHEADER& header() const { return *static_cast<const BITMAPINFOHEADER*>(spiLocalLock(info)); }
  // Pixel (x, y), y from the top, as red, green, blue.
  RgbColour at(int32_t x, int32_t y) const {
    const int32_t w = header().biWidth, h = header().biHeight;
    const auto* row = static_cast<const uint8_t*>(spiLocalLock(bits)) + size_t(h - 1 - y) * ((size_t(w) * 3 + 3) & ~3u);
    return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
  }
};

// Where stored pixel (x, y) of a w x h picture is shown, from the orientation's meaning: which
// side the stored first row and first column are on.
std::pair<int, int> shownAt(int orientation, int x, int y, int w, int h) {
  const bool rowsAcross = orientation <= 4;
  const bool firstRowAtStart = orientation == 1 || orientation == 2 || orientation == 5 || orientation == 8;
  const bool firstColumnAtStart = orientation == 1 || orientation == 4 || orientation == 5 || orientation == 6;
  if (rowsAcross) return {firstColumnAtStart ? x : w - 1 - x, firstRowAtStart ? y : h - 1 - y};
  return {firstRowAtStart ? y : h - 1 - y, firstColumnAtStart ? x : w - 1 - x};
}

TEST(PhotoHandOver, EveryOrientationShowsEachPixelWhereTheOrientationSays) {
  const int w = 5, h = 3;  // 15 bytes a row: the output rows need padding either way round
  std::vector<uint8_t> rgb;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) rgb.insert(rgb.end(), {uint8_t(x * 40), uint8_t(y * 80), uint8_t(x + y * w)});
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    Handed out;
    ASSERT_EQ(handOver(rgb.data(), w, h, w * 3, 3, orientation, &out.info, &out.bits), SPI_SUCCESS);
    const bool turned = orientation >= 5;
    EXPECT_EQ(out.header().biWidth, turned ? h : w);
    EXPECT_EQ(out.header().biHeight, turned ? w : h);
    EXPECT_EQ(out.header().biBitCount, 24);
    EXPECT_EQ(spiLocalSize(out.bits), size_t((turned ? 12 : 16) * (turned ? w : h)));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const auto [sx, sy] = shownAt(orientation, x, y, w, h);
        EXPECT_EQ(out.at(sx, sy), (RgbColour{uint8_t(x * 40), uint8_t(y * 80), uint8_t(x + y * w)}));
      }
  }
}

TEST(PhotoHandOver, AlphaIsFlattenedOntoWhiteLikeThePngReader) {
  std::vector<uint8_t> rgba;
  for (int a = 0; a < 256; ++a) rgba.insert(rgba.end(), {uint8_t(a), 0, 200, uint8_t(a)});
  Handed out;
  ASSERT_EQ(handOver(rgba.data(), 256, 1, 256 * 4, 4, 1, &out.info, &out.bits), SPI_SUCCESS);
  const uint8_t* table = blendTable();
  for (int a = 0; a < 256; ++a) {
    const RgbColour c = out.at(a, 0);
    EXPECT_EQ(c, (RgbColour{blend(table, uint8_t(a), uint8_t(a), 255), blend(table, uint8_t(a), 0, 255),
                            blend(table, uint8_t(a), 200, 255)}))
        << a;
  }
  EXPECT_EQ(out.at(0, 0), (RgbColour{255, 255, 255}));
}

TEST(PhotoHandOver, ExifOrientationIsReadInBothByteOrdersAndBrokenBlocksGiveOne) {
  test::Bytes little, big;
  little.text("Exif").zeros(2).text("II").le16(42).le32(8).le16(2);
  little.le16(0x010F).le16(2).le32(4).text("Cam").zeros(1);  // Make, then Orientation
  little.le16(0x0112).le16(3).le32(1).le16(6).le16(0).le32(0);
  big.text("MM").be16(42).be32(8).be16(1).be16(0x0112).be16(3).be32(1).be16(8).be16(0).be32(0);
  EXPECT_EQ(exifOrientation(little.data.data(), little.data.size()), 6);
  EXPECT_EQ(exifOrientation(big.data.data(), big.data.size()), 8);
  // Cut inside the entry, an offset past the end, a value out of range, a LONG-typed value.
  EXPECT_EQ(exifOrientation(big.data.data(), big.data.size() - 8), 1);
  std::vector<uint8_t> far = big.data;
  far[7] = 200;
  EXPECT_EQ(exifOrientation(far.data(), far.size()), 1);
  std::vector<uint8_t> nine = big.data;
  nine[19] = 9;
  EXPECT_EQ(exifOrientation(nine.data(), nine.size()), 1);
  std::vector<uint8_t> wrongType = big.data;
  wrongType[13] = 4;
  EXPECT_EQ(exifOrientation(wrongType.data(), wrongType.size()), 1);
  EXPECT_EQ(exifOrientation(nullptr, 0), 1);
}

}  // namespace
}  // namespace velorin
