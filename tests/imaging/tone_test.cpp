#include "imaging/tone.h"

#include <gtest/gtest.h>

#include "working_image_helpers.h"

namespace velorin {
namespace {

using test::makeWorkingImage;
using test::storedPixel;

ToneTables allToneTables() {
  ToneTables t;
  buildGammaCurves(t);
  buildLevelRows(t);
  buildLuminanceWeights(t);
  buildHlsTables(t.hls);
  return t;
}

const ToneTables& tables() {
  static const ToneTables t = allToneTables();
  return t;
}

TEST(ToneTables, GammaCurvesHitTheWorkedValues) {
  const uint8_t* neutral = gammaCurve(tables(), 0);
  for (int v = 0; v < 256; ++v) EXPECT_EQ(neutral[v], v);
  const uint8_t* bright = gammaCurve(tables(), 100);
  EXPECT_EQ(bright[0], 0);
  EXPECT_EQ(bright[1], 157);
  EXPECT_EQ(bright[128], 240);
  EXPECT_EQ(bright[254], 255);
  const uint8_t* dark = gammaCurve(tables(), -100);
  EXPECT_EQ(dark[1], 0);
  EXPECT_EQ(dark[128], 0);
  EXPECT_EQ(dark[254], 244);
  EXPECT_EQ(dark[255], 255);
}

TEST(ToneTables, LevelRowsStretchTheirRangeOntoTheFullScale) {
  const uint8_t* full = tables().levels.data() + 255 * 256;
  for (int k = 0; k < 256; ++k) EXPECT_EQ(full[k], k);
  const uint8_t* r200 = tables().levels.data() + 200 * 256;
  EXPECT_EQ(r200[0], 0);
  EXPECT_EQ(r200[200], 254);  // the step is rounded down
  EXPECT_EQ(r200[201], 255);
  EXPECT_EQ(r200[255], 255);
  for (int r = 1; r < 256; ++r) EXPECT_EQ(tables().levels[r * 256 + std::min(r + 1, 255)] >= 254, true) << r;
}

TEST(ToneTables, ContrastCurvesMoveValuesAwayFromTheMean) {
  uint8_t curve[256];
  for (int m : {0, 77, 128, 255}) {
    buildContrastCurve(curve, 0, m);
    for (int v = 0; v < 256; ++v) ASSERT_EQ(curve[v], v) << m;
  }
  buildContrastCurve(curve, 100, 128);
  EXPECT_EQ(curve[129], 132);
  EXPECT_EQ(curve[127], 123);
  EXPECT_EQ(curve[128], 128);
  EXPECT_EQ(curve[0], 0);
  EXPECT_EQ(curve[255], 255);
  buildContrastCurve(curve, -100, 128);
  EXPECT_EQ(curve[255], 155);  // 255 + floor(-100 x 127 / 128)
  EXPECT_EQ(curve[0], 100);
}

TEST(ToneTables, HlsUpperLevelKeepsEveryChannelInRange) {
  const HlsTables& t = tables().hls;
  for (int l = 0; l < 256; ++l)
    for (int s = 1; s < 256; ++s) {
      const int m2 = t.upperLevel[l * 256 + s];
      const int m1 = 2 * l - m2;
      ASSERT_GE(m1, 0) << l << " " << s;
      ASSERT_LE(m2, 255) << l << " " << s;
      ASSERT_GE(m2 - m1, 0);
    }
}

RgbQuad hls(RgbQuad q, int hue, int saturation) {
  adjustHls(tables().hls, q.blue, q.green, q.red, hue, saturation);
  return q;
}

TEST(Hls, HueTurnsOfPureRed) {
  EXPECT_EQ(hls({0, 0, 255, 0}, 120, 0), (RgbQuad{0, 254, 0, 0}));
  EXPECT_EQ(hls({0, 0, 255, 0}, -120, 0), (RgbQuad{254, 0, 0, 0}));
  // Green turns towards blue with a positive shift.
  EXPECT_EQ(hls({0, 255, 0, 0}, 120, 0), (RgbQuad{254, 0, 0, 0}));
}

TEST(Hls, FullDesaturationGivesTheGreyOfTheLightness) {
  EXPECT_EQ(hls({10, 200, 90, 0}, 0, -255), (RgbQuad{105, 105, 105, 0}));
  EXPECT_EQ(hls({0, 0, 255, 0}, 37, -255), (RgbQuad{127, 127, 127, 0}));
}

TEST(Hls, SaturatingGreyGivesTheColourOfTheShiftedHue) {
  const RgbQuad reddish = hls({128, 128, 128, 0}, 0, 100);
  EXPECT_GT(reddish.red, reddish.green);
  EXPECT_EQ(reddish.green, reddish.blue);
  const RgbQuad greenish = hls({128, 128, 128, 0}, 120, 100);
  EXPECT_GT(greenish.green, greenish.red);
  EXPECT_EQ(greenish.red, greenish.blue);
}

TEST(Hls, PixelsAndPaletteEntriesChangeAlike) {
  WorkingImage pixels = test::randomWorkingImage(16, 16, 24, 3);
  WorkingImage indexed = makeWorkingImage(16, 16, 8, [](int32_t x, int32_t y) {
    return RgbQuad{static_cast<uint8_t>(y * 16 + x), 0, 0, 0};
  });
  for (int i = 0; i < 256; ++i) {
    const RgbQuad q = storedPixel(pixels, i % 16, i / 16);
    indexed.palette[i] = {q.blue, q.green, q.red, 77};
  }
  ToneTarget a = toneTargetOf(pixels), b = toneTargetOf(indexed);
  applyHls(a, tables(), -60, 40);
  applyHls(b, tables(), -60, 40);
  for (int i = 0; i < 256; ++i) {
    const RgbQuad q = storedPixel(pixels, i % 16, i / 16);
    ASSERT_EQ((RgbQuad{q.blue, q.green, q.red, 77}), indexed.palette[i]) << i;
    ASSERT_EQ(storedPixel(indexed, i % 16, i / 16).blue, i);  // indices stay
  }
}

TEST(AutoLevels, FullRangeImageIsUnchanged) {
  WorkingImage image = makeWorkingImage(20, 10, 24, [](int32_t x, int32_t y) {
    const auto v = static_cast<uint8_t>(x == 0 ? 0 : x == 19 ? 255 : (x * 13 + y * 7) % 256);
    return RgbQuad{v, v, v, 0};
  });
  const WorkingImage before = test::copyOf(image);
  ToneTarget t = toneTargetOf(image);
  EXPECT_EQ(levelRange(t).low, 0);
  EXPECT_EQ(levelRange(t).high, 255);
  autoLevels(t, tables(), 0);
  EXPECT_TRUE(test::samePixels(image, before));
}

TEST(AutoLevels, StretchesBetweenTheClippedEnds) {
  WorkingImage image = makeWorkingImage(100, 1, 24, [](int32_t x, int32_t) {
    return RgbQuad{static_cast<uint8_t>(50 + x), static_cast<uint8_t>(50 + x), static_cast<uint8_t>(150 - x), 0};
  });
  ToneTarget t = toneTargetOf(image);
  const LevelRange range = levelRange(t);
  // 300 samples, threshold 1: level 50 holds 2 samples, level 150 only 1, so it is clipped.
  EXPECT_EQ(range.low, 50);
  EXPECT_EQ(range.high, 149);
  autoLevels(t, tables(), 0);
  EXPECT_EQ(storedPixel(image, 0, 0).blue, 0);
  EXPECT_EQ(storedPixel(image, 1, 0).blue, tables().levels[99 * 256 + 1]);
  EXPECT_GE(storedPixel(image, 99, 0).blue, 254);
  EXPECT_EQ(storedPixel(image, 0, 0).red, 255);  // above the upper level
}

TEST(AutoLevels, SingleLevelImageOnlyGetsTheGammaCurve) {
  auto grey = [](int32_t, int32_t) { return RgbQuad{90, 90, 90, 0}; };
  WorkingImage image = makeWorkingImage(8, 8, 24, grey);
  ToneTarget t = toneTargetOf(image);
  autoLevels(t, tables(), 0);
  EXPECT_EQ(storedPixel(image, 3, 3), (RgbQuad{90, 90, 90, 0}));
  autoLevels(t, tables(), 100);
  const uint8_t v = gammaCurve(tables(), 100)[90];
  EXPECT_EQ(storedPixel(image, 3, 3), (RgbQuad{v, v, v, 0}));
}

TEST(AutoLevels, IndexedImageIsMeasuredOverItsPixels) {
  // Unused palette entries at 0 and 255 must not count: the pixels only span 10..200.
  WorkingImage image = makeWorkingImage(10, 10, 8, [](int32_t x, int32_t) {
    return RgbQuad{static_cast<uint8_t>(x % 2), 0, 0, 0};
  });
  image.palette[0] = {10, 10, 10, 0};
  image.palette[1] = {200, 200, 200, 0};
  image.palette[2] = {0, 0, 0, 0};
  image.palette[3] = {255, 255, 255, 0};
  ToneTarget t = toneTargetOf(image);
  autoLevels(t, tables(), 0);
  EXPECT_EQ(image.palette[0], (RgbQuad{0, 0, 0, 0}));
  EXPECT_EQ(image.palette[1].red, tables().levels[190 * 256 + 190]);
  EXPECT_EQ(image.palette[3], (RgbQuad{255, 255, 255, 0}));
  EXPECT_EQ(storedPixel(image, 1, 0).blue, 1);
}

TEST(Contrast, MeanLuminanceWeighsTheChannels) {
  WorkingImage red = makeWorkingImage(3, 2, 24, [](int32_t, int32_t) { return RgbQuad{0, 0, 255, 0}; });
  ToneTarget t = toneTargetOf(red);
  EXPECT_EQ(meanLuminance(t, tables()), (255 * 306) >> 10);
  WorkingImage indexed = makeWorkingImage(3, 2, 8, [](int32_t x, int32_t) {
    return RgbQuad{static_cast<uint8_t>(x), 0, 0, 0};
  });
  indexed.palette[0] = {255, 255, 255, 0};
  indexed.palette[1] = {0, 0, 0, 0};
  indexed.palette[2] = {0, 0, 0, 0};
  indexed.palette[9] = {255, 255, 255, 0};  // unused: must not count
  ToneTarget ti = toneTargetOf(indexed);
  // Each row: 255 x 1024 >> 10 summed per channel = (29835 >> 10) + (153255 >> 10) + (78030 >> 10).
  EXPECT_EQ(meanLuminance(ti, tables()), 2 * (29 + 149 + 76) / 6);
}

}  // namespace
}  // namespace velorin
