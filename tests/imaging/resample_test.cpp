#include "imaging/resample.h"

#include <gtest/gtest.h>

#include <random>

#include "imaging/processing.h"
#include "working_image_helpers.h"

namespace velorin {
namespace {

using test::makeWorkingImage;
using test::storedPixel;

struct Size {
  int32_t width = 0, height = 0;
  bool operator==(const Size&) const = default;
};

Size sizeFor(int32_t w, int32_t h, int32_t opt, int32_t size, bool round10) {
  Size s;
  if (!resizedSize(w, h, opt, size, round10, s.width, s.height)) return {};
  return s;
}

TEST(ResizeTarget, DrivingSideAndDerivedSide) {
  EXPECT_EQ(sizeFor(1024, 768, 1, 800, false), (Size{800, 600}));
  EXPECT_EQ(sizeFor(800, 600, 1, 800, false), Size{});  // nothing to do
  EXPECT_EQ(sizeFor(640, 480, 1, 800, false), Size{});  // never enlarged
  EXPECT_EQ(sizeFor(600, 900, 3, 300, false), (Size{200, 300}));
  EXPECT_EQ(sizeFor(900, 600, 3, 300, false), (Size{300, 200}));
  EXPECT_EQ(sizeFor(1024, 768, 2, 300, false), (Size{400, 300}));
  // A square is height-driven: with Round10 the derived width is rounded, not the height.
  EXPECT_EQ(sizeFor(500, 500, 3, 333, false), (Size{333, 333}));
  EXPECT_EQ(sizeFor(1000, 667, 1, 800, true), (Size{800, 530}));
  EXPECT_EQ(sizeFor(1000, 667, 1, 800, false), (Size{800, 534}));
  EXPECT_EQ(sizeFor(1000, 667, 1, 805, true), (Size{805, 537}));  // not a multiple of 10
  EXPECT_EQ(sizeFor(1000, 19, 1, 990, true), (Size{990, 20}));
  EXPECT_EQ(sizeFor(4000, 3, 1, 100, false), (Size{100, 1}));
  EXPECT_EQ(sizeFor(4000, 3, 1, 100, true), (Size{100, 1}));
  EXPECT_EQ(sizeFor(1000, 667, 1, 0, false), Size{});  // a size of 0 means off
  EXPECT_EQ(sizeFor(1000, 667, 0, 800, false), Size{});
}

TEST(DivisionTable, AveragesAWindowOfWeightR) {
  const std::vector<uint8_t> t = divisionTable(1.5);
  ASSERT_EQ(t.size(), 385u);  // L = 383
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[382], 255);
  EXPECT_EQ(t[150], 100);
  EXPECT_EQ(t[383], 255);
  EXPECT_EQ(t[384], 255);
  const std::vector<uint8_t> two = divisionTable(2.0);
  EXPECT_EQ(two.size(), 512u);
  EXPECT_EQ(two[3], 2);  // halves round up
}

// Resamples one 24-bit row of values (blue = green = red) to m pixels.
std::vector<uint8_t> resampleRow(const std::vector<uint8_t>& values, int32_t m) {
  const auto n = static_cast<int32_t>(values.size());
  std::vector<uint8_t> source(paddedStride(n, 24) + 4), out(paddedStride(m, 24) + 4);
  for (int32_t i = 0; i < n; ++i) source[3 * i] = source[3 * i + 1] = source[3 * i + 2] = values[i];
  Resampler rs{n, 1, source.data(), out.data()};
  EXPECT_TRUE(resample(rs, m, 1));
  std::vector<uint8_t> result(m);
  for (int32_t i = 0; i < m; ++i) {
    EXPECT_EQ(out[3 * i], out[3 * i + 2]);
    result[i] = out[3 * i];
  }
  return result;
}

TEST(Reduce, FourToTwoIsTheRoundedMeanOfPairs) {
  EXPECT_EQ(resampleRow({10, 21, 200, 100}, 2), (std::vector<uint8_t>{16, 150}));
}

TEST(Reduce, ThreeToTwoSplitsTheMiddlePixel) {
  const std::vector<uint8_t> t = divisionTable(1.5);
  for (auto [a, b, c] : {std::tuple{10, 21, 200}, {255, 255, 255}, {0, 1, 0}, {7, 200, 3}}) {
    const int h = static_cast<int>(b * 0.5 + 0.5);
    EXPECT_EQ(resampleRow({uint8_t(a), uint8_t(b), uint8_t(c)}, 2),
              (std::vector<uint8_t>{t[a + b - h], t[h + c]}));
  }
}

TEST(Reduce, ColumnsFollowTheSameArithmeticAsRows) {
  // A 1-pixel-wide column of 3 becomes 2 exactly as a row of 3 does.
  const uint8_t values[3] = {7, 200, 3};
  std::vector<uint8_t> source(3 * 4 + 4), out(2 * 4 + 4);
  for (int y = 0; y < 3; ++y) source[4 * y] = source[4 * y + 1] = source[4 * y + 2] = values[y];
  Resampler rs{1, 3, source.data(), out.data()};
  ASSERT_TRUE(resample(rs, 1, 2));
  const std::vector<uint8_t> row = resampleRow({7, 200, 3}, 2);
  EXPECT_EQ(out[0], row[0]);
  EXPECT_EQ(out[4], row[1]);
  EXPECT_EQ(out[3], 0);  // padding untouched
}

TEST(Reduce, PlansCloseExactlyOneFewerPixelThanTheTarget) {
  auto check = [](int32_t n, int32_t m) {
    ReductionPlan plan;
    planReduction(n, m, static_cast<double>(n) / m, plan);
    ASSERT_EQ(plan.closeAt.size(), static_cast<size_t>(m - 1)) << n << " -> " << m;
    for (size_t j = 0; j < plan.closeAt.size(); ++j) {
      ASSERT_LE(plan.closeAt[j], n - 2);
      ASSERT_GE(plan.carried[j], 0.0);
      ASSERT_LT(plan.carried[j], 1.0);
      if (j > 0) {
        ASSERT_GT(plan.closeAt[j], plan.closeAt[j - 1]);
      }
    }
  };
  check(4000, 1597);
  check(3, 2);
  check(4000, 1600);
  check(1000, 300);
  check(65535, 4097);
  for (int32_t n = 2; n <= 600; ++n)
    for (int32_t m = 1; m < n; ++m) check(n, m);
}

TEST(Reduce, DisturbedRatioNeverClosesMoreThanTheTarget) {
  // A ratio a little too small closes early and too often, one a little too large too late and
  // too seldom; either way the line must get exactly its m pixels.
  for (double factor : {0.97, 0.999999, 1.000001, 1.03}) {
    ReductionPlan plan;
    planReduction(4000, 1597, 4000.0 / 1597 * factor, plan);
    EXPECT_LE(plan.closeAt.size(), 1596u) << factor;
    for (int32_t c : plan.closeAt) EXPECT_LE(c, 3998);
  }
}

// The padding bytes at the end of every destination row, and the spare bytes after the block,
// must stay as allocated.
void expectUntouchedPadding(const std::vector<uint8_t>& block, int32_t width, int32_t height) {
  const uint64_t stride = paddedStride(width, 24);
  for (int32_t y = 0; y < height; ++y)
    for (uint64_t i = static_cast<uint64_t>(width) * 3; i < stride; ++i)
      ASSERT_EQ(block[y * stride + i], 0xA5) << width << "x" << height << " row " << y;
  for (size_t i = stride * height; i < block.size(); ++i) ASSERT_EQ(block[i], 0xA5);
}

TEST(Resample, AwkwardRatiosStayInsideTheirRows) {
  std::mt19937 random(11);
  struct Case {
    int32_t w, h, nw, nh;
  };
  for (Case c : {Case{4000, 3, 1597, 2}, {3, 4000, 2, 1597}, {3, 3, 2, 2}, {4000, 2, 1597, 3},
                 {7, 5, 13, 3}, {1, 9, 2, 4}, {641, 479, 1, 1}, {5, 5, 9, 9}}) {
    std::vector<uint8_t> source(paddedStride(c.w, 24) * c.h + 4);
    for (auto& b : source) b = static_cast<uint8_t>(random());
    std::vector<uint8_t> out(paddedStride(c.nw, 24) * c.nh + 4, 0xA5);
    Resampler rs{c.w, c.h, source.data(), out.data()};
    ASSERT_TRUE(resample(rs, c.nw, c.nh)) << c.w << "x" << c.h;
    expectUntouchedPadding(out, c.nw, c.nh);
  }
}

TEST(Resample, UniformImageStaysUniform) {
  std::mt19937 random(5);
  for (int round = 0; round < 60; ++round) {
    const int32_t w = 1 + random() % 300, h = 1 + random() % 300;
    // Whole-pixel reductions of at least 2 and enlargements are exact; below 2 the rounded
    // carries may move a value by one (see the next test).
    auto pick = [&](int32_t n) {
      const int32_t choice = random() % 3;
      if (choice == 0 && n >= 2) return 1 + static_cast<int32_t>(random() % (n / 2));
      if (choice == 1) return n + static_cast<int32_t>(random() % (n + 1));
      return n;
    };
    const int32_t nw = pick(w), nh = pick(h);
    if (nw == w && nh == h) continue;
    const uint8_t colour[3] = {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                               static_cast<uint8_t>(random())};
    std::vector<uint8_t> source(paddedStride(w, 24) * h + 4);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) source[y * paddedStride(w, 24) + 3 * x + c] = colour[c];
    std::vector<uint8_t> out(paddedStride(nw, 24) * nh + 4, 0xA5);
    Resampler rs{w, h, source.data(), out.data()};
    ASSERT_TRUE(resample(rs, nw, nh));
    for (int32_t y = 0; y < nh; ++y)
      for (int32_t x = 0; x < nw; ++x)
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(out[y * paddedStride(nw, 24) + 3 * x + c], colour[c])
              << w << "x" << h << " -> " << nw << "x" << nh;
    expectUntouchedPadding(out, nw, nh);
  }
}

TEST(Resample, SmallReductionsOfAUniformLineStayWithinOneLevel) {
  for (int32_t n : {3, 100, 4000})
    for (int32_t m : {n - 1, (2 * n) / 3, n / 2 + 1}) {
      if (m < 1 || m >= n) continue;
      for (uint8_t v : {0, 1, 128, 254, 255}) {
        const std::vector<uint8_t> out = resampleRow(std::vector<uint8_t>(n, v), m);
        for (uint8_t o : out) ASSERT_LE(std::abs(o - v), 1) << n << " -> " << m;
        if (v == 0) {
          EXPECT_EQ(out, std::vector<uint8_t>(m, 0));
        }
      }
    }
}

TEST(Enlarge, InterpolatesFromTheFirstPixelsCorner) {
  EXPECT_EQ(resampleRow({10, 20}, 4), (std::vector<uint8_t>{10, 15, 20, 20}));
  EXPECT_EQ(resampleRow({0, 255, 0}, 5), (std::vector<uint8_t>{0, 153, 204, 51, 0}));
}

TEST(Resample, RefusesWhatItCannotDo) {
  std::vector<uint8_t> source(paddedStride(4, 24) * 4 + 4), out(paddedStride(9, 24) * 9 + 4);
  auto attempt = [&](int32_t w, int32_t h) {
    Resampler rs{4, 4, source.data(), out.data()};
    return resample(rs, w, h);
  };
  EXPECT_FALSE(attempt(4, 4));
  EXPECT_FALSE(attempt(9, 4));
  EXPECT_FALSE(attempt(4, 9));
  EXPECT_FALSE(attempt(0, 2));
  EXPECT_FALSE(attempt(2, -1));
  EXPECT_TRUE(attempt(8, 8));
  EXPECT_TRUE(attempt(1, 1));
}

TEST(ResizeWorkingImage, IndexedImageExpandsOnlyWhenReallyResized) {
  auto fill = [](int32_t x, int32_t y) { return RgbQuad{static_cast<uint8_t>((x + y) % 3), 0, 0, 0}; };
  WorkingImage image = makeWorkingImage(30, 20, 8, fill);
  image.palette[0] = {255, 0, 0, 0};
  image.palette[1] = {0, 255, 0, 0};
  image.palette[2] = {0, 0, 255, 0};
  ASSERT_TRUE(resizeWorkingImage(image, 1, 30, false));
  EXPECT_EQ(image.workBitCount, 8);
  ASSERT_TRUE(resizeWorkingImage(image, 1, 15, false));
  EXPECT_EQ(image.workBitCount, 24);
  EXPECT_EQ(image.workWidth, 15);
  EXPECT_EQ(image.workHeight, 10);
  EXPECT_GE(image.pixels.size(), paddedStride(15, 24) * 10);
}

TEST(ResizeWorkingImage, SameResultAsResamplingTheExpandedImage) {
  WorkingImage image = test::randomWorkingImage(50, 40, 24, 9);
  const WorkingImage original = test::copyOf(image);
  ASSERT_TRUE(resizeWorkingImage(image, 3, 17, false));
  ASSERT_EQ(image.workWidth, 17);
  ASSERT_EQ(image.workHeight, 14);
  std::vector<uint8_t> out(paddedStride(17, 24) * 14 + 4);
  Resampler rs{50, 40, original.pixels.data(), out.data()};
  ASSERT_TRUE(resample(rs, 17, 14));
  EXPECT_TRUE(std::equal(out.begin(), out.end() - 4, image.pixels.data()));
}

TEST(Thumbnail, LongerSideBecomes160) {
  int32_t w = 0, h = 0;
  WorkingImage landscape = test::randomWorkingImage(400, 300, 24, 1);
  PixelBuffer thumb = makeThumbnail(landscape, w, h);
  ASSERT_TRUE(thumb);
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 120);
  EXPECT_GE(thumb.size(), paddedStride(160, 24) * 120);

  WorkingImage portrait = test::randomWorkingImage(300, 401, 24, 2);
  ASSERT_TRUE(makeThumbnail(portrait, w, h));
  EXPECT_EQ(w, 120);
  EXPECT_EQ(h, 160);

  WorkingImage sliver = test::randomWorkingImage(1000, 2, 24, 3);
  EXPECT_FALSE(makeThumbnail(sliver, w, h));  // the short side rounds to 0
}

TEST(Thumbnail, IndexedImageGoesThroughItsPalette) {
  WorkingImage indexed = makeWorkingImage(320, 200, 8, [](int32_t x, int32_t y) {
    return RgbQuad{static_cast<uint8_t>((x * 7 + y) % 256), 0, 0, 0};
  });
  for (int i = 0; i < 256; ++i)
    indexed.palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i / 2), 0};
  WorkingImage expanded = test::copyOf(indexed);
  ASSERT_TRUE(ensureTrueColour(expanded));
  int32_t w1 = 0, h1 = 0, w2 = 0, h2 = 0;
  PixelBuffer a = makeThumbnail(indexed, w1, h1), b = makeThumbnail(expanded, w2, h2);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(w1, 160);
  EXPECT_EQ(h1, 100);
  EXPECT_TRUE(std::equal(a.data(), a.data() + a.size(), b.data()));
  EXPECT_EQ(indexed.workBitCount, 8);  // the image itself is untouched
}

}  // namespace
}  // namespace velorin
