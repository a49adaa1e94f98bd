#include "imaging/rotate.h"

#include <gtest/gtest.h>

#include "working_image_helpers.h"

namespace velorin {
namespace {

using test::storedPixel;

// Pixel (x, y) of a 3 x 2 image is numbered 10 y + x + 1 in every channel.
WorkingImage numbered(int32_t bits) {
  return test::makeWorkingImage(3, 2, bits, [](int32_t x, int32_t y) {
    const auto v = static_cast<uint8_t>(10 * y + x + 1);
    return RgbQuad{v, v, v, 0};
  });
}

std::vector<int> layout(const WorkingImage& image) {
  std::vector<int> values;
  for (int32_t y = 0; y < image.workHeight; ++y)
    for (int32_t x = 0; x < image.workWidth; ++x) values.push_back(storedPixel(image, x, y).blue);
  return values;
}

TEST(Rotate, CornersOfAThreeByTwoImage) {
  for (int32_t bits : {8, 24}) {
    // Old layout (top row first): 1 2 3 / 11 12 13.
    WorkingImage clockwise = numbered(bits);
    ASSERT_TRUE(rotateWorkingImage(clockwise, RotationKind::Clockwise));
    EXPECT_EQ(clockwise.workWidth, 2);
    EXPECT_EQ(clockwise.workHeight, 3);
    EXPECT_EQ(layout(clockwise), (std::vector<int>{11, 1, 12, 2, 13, 3})) << bits;

    WorkingImage counter = numbered(bits);
    ASSERT_TRUE(rotateWorkingImage(counter, RotationKind::CounterClockwise));
    EXPECT_EQ(layout(counter), (std::vector<int>{3, 13, 2, 12, 1, 11})) << bits;

    WorkingImage half = numbered(bits);
    ASSERT_TRUE(rotateWorkingImage(half, RotationKind::HalfTurn));
    EXPECT_EQ(half.workWidth, 3);
    EXPECT_EQ(layout(half), (std::vector<int>{13, 12, 11, 3, 2, 1})) << bits;
    EXPECT_EQ(half.workBitCount, bits);
  }
}

TEST(Rotate, KindFromSettingAndExifOrientation) {
  EXPECT_EQ(rotationKindOf(0, 6), RotationKind::None);
  EXPECT_EQ(rotationKindOf(1, 1), RotationKind::Clockwise);
  EXPECT_EQ(rotationKindOf(2, 8), RotationKind::HalfTurn);
  EXPECT_EQ(rotationKindOf(3, 1), RotationKind::CounterClockwise);
  EXPECT_EQ(rotationKindOf(4, 6), RotationKind::Clockwise);
  EXPECT_EQ(rotationKindOf(4, 3), RotationKind::HalfTurn);
  EXPECT_EQ(rotationKindOf(4, 8), RotationKind::CounterClockwise);
  for (int32_t mirrored : {0, 1, 2, 4, 5, 7, 9, -1}) EXPECT_EQ(rotationKindOf(4, mirrored), RotationKind::None);
  EXPECT_EQ(rotationKindOf(5, 6), RotationKind::None);
  EXPECT_EQ(rotationKindOf(-1, 6), RotationKind::None);
}

TEST(Rotate, TurnsComposeAndNeverTouchRowPadding) {
  for (int32_t bits : {8, 24})
    for (auto [w, h] : {std::pair{1, 1}, {1, 7}, {7, 1}, {5, 3}, {33, 65}, {67, 31}, {130, 70}}) {
      WorkingImage image = test::randomWorkingImage(w, h, bits, static_cast<uint32_t>(w * h + bits));
      const WorkingImage original = test::copyOf(image);
      for (int turn = 0; turn < 4; ++turn) {
        ASSERT_TRUE(rotateWorkingImage(image, RotationKind::Clockwise));
        // The new block is zero-filled; its padding and spare bytes must still be zero.
        const uint64_t stride = image.workStride();
        const uint64_t used = static_cast<uint64_t>(image.workWidth) * (bits / 8);
        for (int32_t y = 0; y < image.workHeight; ++y)
          for (uint64_t i = used; i < stride; ++i) ASSERT_EQ(image.pixels.data()[y * stride + i], 0);
        for (size_t i = 0; i < 4; ++i) ASSERT_EQ(image.pixels.data()[image.pixels.size() + i], 0);
      }
      EXPECT_TRUE(test::samePixels(image, original)) << w << "x" << h;
      ASSERT_TRUE(rotateWorkingImage(image, RotationKind::Clockwise));
      ASSERT_TRUE(rotateWorkingImage(image, RotationKind::CounterClockwise));
      EXPECT_TRUE(test::samePixels(image, original));
      ASSERT_TRUE(rotateWorkingImage(image, RotationKind::HalfTurn));
      ASSERT_TRUE(rotateWorkingImage(image, RotationKind::HalfTurn));
      EXPECT_TRUE(test::samePixels(image, original));
    }
}

TEST(Rotate, KeepsPaletteAndTransparencyAndTakesANewBlock) {
  WorkingImage image = numbered(8);
  image.palette[5] = {1, 2, 3, 4};
  image.hasTransparency = true;
  const uint8_t* before = image.pixels.data();
  WorkingImage single = test::makeWorkingImage(1, 1, 24, [](int32_t, int32_t) { return RgbQuad{9, 8, 7, 0}; });
  const uint8_t* singleBefore = single.pixels.data();
  ASSERT_TRUE(rotateWorkingImage(image, RotationKind::Clockwise));
  ASSERT_TRUE(rotateWorkingImage(single, RotationKind::HalfTurn));
  EXPECT_NE(image.pixels.data(), before);
  EXPECT_NE(single.pixels.data(), singleBefore);
  EXPECT_EQ(storedPixel(single, 0, 0), (RgbQuad{9, 8, 7, 0}));
  EXPECT_EQ(image.palette[5], (RgbQuad{1, 2, 3, 4}));
  EXPECT_TRUE(image.hasTransparency);
  EXPECT_EQ(image.workBitCount, 8);
}

TEST(Rotate, RefusesOtherDepthsAndLeavesTheImage) {
  WorkingImage image;
  ASSERT_EQ(image.allocatePixels(8, 2, 4), Status::Ok);
  image.takeWorkingValuesFromHeader();
  const uint8_t* before = image.pixels.data();
  EXPECT_FALSE(rotateWorkingImage(image, RotationKind::Clockwise));
  EXPECT_EQ(image.pixels.data(), before);
  EXPECT_EQ(image.workWidth, 8);
  EXPECT_TRUE(rotateWorkingImage(image, RotationKind::None));
}

}  // namespace
}  // namespace velorin
