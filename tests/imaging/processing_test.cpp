#include "imaging/processing.h"

#include <gtest/gtest.h>

#include "working_image_helpers.h"

namespace velorin {
namespace {

using test::makeWorkingImage;
using test::storedPixel;

// A 12 x 8 indexed image using indices 0..3 and a transparent colour.
WorkingImage indexedImage() {
  WorkingImage image = makeWorkingImage(12, 8, 8, [](int32_t x, int32_t y) {
    return RgbQuad{static_cast<uint8_t>((x + 2 * y) % 4), 0, 0, 0};
  });
  image.palette[0] = {0, 0, 0, 0};
  image.palette[1] = {40, 90, 200, 0};
  image.palette[2] = {250, 250, 250, 0};
  image.palette[3] = {10, 160, 30, 0};
  image.hasTransparency = true;
  return image;
}

bool run(WorkingImage& image, const ProcessingSettings& s) {
  ProcessingTables tables;
  if (!buildProcessingTables(tables, s)) return false;
  return processImage(image, tables);
}

TEST(ProcessImage, EverythingOffLeavesTheImageAlone) {
  WorkingImage image = indexedImage();
  const WorkingImage before = test::copyOf(image);
  const uint8_t* block = image.pixels.data();
  ASSERT_TRUE(run(image, {}));
  EXPECT_EQ(image.pixels.data(), block);
  EXPECT_TRUE(test::samePixels(image, before));
  EXPECT_TRUE(image.hasTransparency);
  EXPECT_EQ(image.palette[1], before.palette[1]);
}

TEST(ProcessImage, ToneStepsChangeOnlyThePaletteOfIndexedImages) {
  ProcessingSettings gamma, contrast, hls;
  gamma.GamOpt = true, gamma.GamVal = 40;
  contrast.CrtOpt = true, contrast.CrtVal = 60;
  hls.HlsHOpt = true, hls.HlsHVal = 90;
  for (const ProcessingSettings& s : {gamma, contrast, hls}) {
    WorkingImage image = indexedImage();
    const WorkingImage before = test::copyOf(image);
    ASSERT_TRUE(run(image, s));
    EXPECT_EQ(image.workBitCount, 8);
    EXPECT_TRUE(test::samePixels(image, before));  // the same indices
    EXPECT_NE(image.palette[1], before.palette[1]);
    EXPECT_FALSE(image.hasTransparency);
  }
}

TEST(ProcessImage, LevelsWithGammaIsOnePassOfBoth) {
  ProcessingSettings s;
  s.HgmOpt = true, s.GamOpt = true, s.GamVal = -50;
  WorkingImage image = indexedImage();
  ASSERT_TRUE(run(image, s));
  ToneTables t;
  buildGammaCurves(t);
  buildLevelRows(t);
  // Pixels span 0..250: stretched by row 250, then gamma -50.
  const uint8_t* stretch = t.levels.data() + 250 * 256;
  const uint8_t* curve = gammaCurve(t, -50);
  EXPECT_EQ(image.palette[1].blue, curve[stretch[40]]);
  EXPECT_EQ(image.palette[1].red, curve[stretch[200]]);
  EXPECT_EQ(image.palette[2].red, curve[stretch[250]]);

  ProcessingSettings gammaOnly;
  gammaOnly.GamOpt = true, gammaOnly.GamVal = -50;
  WorkingImage other = indexedImage();
  ASSERT_TRUE(run(other, gammaOnly));
  EXPECT_EQ(other.palette[1].red, curve[200]);
}

TEST(ProcessImage, ResizeExpandsAnIndexedImageOnlyWhenItShrinks) {
  ProcessingSettings s;
  s.RszOpt = 1, s.RszSize = 12;
  WorkingImage same = indexedImage();
  ASSERT_TRUE(run(same, s));
  EXPECT_EQ(same.workBitCount, 8);
  s.RszSize = 6;
  WorkingImage smaller = indexedImage();
  ASSERT_TRUE(run(smaller, s));
  EXPECT_EQ(smaller.workBitCount, 24);
  EXPECT_EQ(smaller.workWidth, 6);
  EXPECT_EQ(smaller.workHeight, 4);
  EXPECT_TRUE(smaller.hasTransparency);  // resize keeps the transparent colour's mark
}

TEST(ProcessImage, RotationComesBeforeResize) {
  ProcessingSettings s;
  s.TurOpt = 1, s.RszOpt = 1, s.RszSize = 4;
  WorkingImage image = indexedImage();  // 12 x 8, turned to 8 x 12
  ASSERT_TRUE(run(image, s));
  EXPECT_EQ(image.workWidth, 4);
  EXPECT_EQ(image.workHeight, 6);
}

TEST(ProcessImage, ExifOrientationDrivesTurOpt4) {
  ProcessingSettings s;
  s.TurOpt = 4;
  WorkingImage upright = indexedImage();
  const uint8_t* block = upright.pixels.data();
  ASSERT_TRUE(run(upright, s));
  EXPECT_EQ(upright.pixels.data(), block);
  EXPECT_EQ(upright.workWidth, 12);

  WorkingImage camera = indexedImage();
  camera.exifOrientation = 6;
  ASSERT_TRUE(run(camera, s));
  EXPECT_EQ(camera.workWidth, 8);
  EXPECT_EQ(camera.workHeight, 12);
  EXPECT_TRUE(camera.hasTransparency);
}

TEST(ProcessImage, SharpeningKeepsTransparencyAndExpands) {
  ProcessingSettings s;
  s.UsmOpt = 3;
  WorkingImage image = indexedImage();
  ASSERT_TRUE(run(image, s));
  EXPECT_EQ(image.workBitCount, 24);
  EXPECT_TRUE(image.hasTransparency);
}

TEST(ProcessImage, OutOfRangeSettingsStayInsideTheTables) {
  ProcessingSettings s;
  s.GamOpt = true, s.GamVal = 5000;
  s.CrtOpt = true, s.CrtVal = -5000;
  s.HlsSOpt = true, s.HlsSVal = 9999;
  s.HlsHOpt = true, s.HlsHVal = -9999;
  s.UsmOpt = 17;
  s.RszOpt = 9;
  WorkingImage image = test::randomWorkingImage(20, 20, 24, 4);
  ASSERT_TRUE(run(image, s));
  EXPECT_EQ(image.workWidth, 20);
}

TEST(ProcessImage, RefusesABlockSmallerThanItsWorkingSize) {
  ProcessingSettings s;
  s.UsmOpt = 1;
  WorkingImage image = test::randomWorkingImage(20, 20, 8, 4);
  image.workWidth = 200;  // a reader that lied about its size
  EXPECT_FALSE(run(image, s));
}

TEST(ProcessingTables, OnlySwitchedOnOperationsGetTables) {
  ProcessingSettings s;
  s.UsmOpt = 2;
  s.GamOpt = true;
  ProcessingTables t;
  ASSERT_TRUE(buildProcessingTables(t, s));
  EXPECT_FALSE(t.unsharp.divideBy25.empty());
  EXPECT_FALSE(t.tone.gamma.empty());
  EXPECT_TRUE(t.tone.levels.empty());
  EXPECT_TRUE(t.tone.luminance.empty());
  EXPECT_TRUE(t.tone.hls.hueRamp.empty());
  ASSERT_TRUE(buildProcessingTables(t, {}));  // a new job with everything off
  EXPECT_TRUE(t.unsharp.divideBy25.empty());
  EXPECT_TRUE(t.tone.gamma.empty());
}

TEST(ExpandPalette, LooksUpEveryPixel) {
  WorkingImage image = indexedImage();
  PixelBuffer expanded = expandPaletteTo24(image.palette, image.pixels.data(), 12, 8);
  ASSERT_TRUE(expanded);
  ASSERT_EQ(expanded.size(), paddedStride(12, 24) * 8);
  ASSERT_TRUE(ensureTrueColour(image));
  EXPECT_EQ(image.workBitCount, 24);
  EXPECT_EQ(storedPixel(image, 1, 0), (RgbQuad{40, 90, 200, 0}));
  EXPECT_TRUE(std::equal(expanded.data(), expanded.data() + expanded.size(), image.pixels.data()));
  EXPECT_FALSE(expandPaletteTo24(image.palette, image.pixels.data(), 70000, 70000));
}

}  // namespace
}  // namespace velorin
