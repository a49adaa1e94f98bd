#include "imaging/unsharp.h"

#include <gtest/gtest.h>

#include <cmath>

#include "working_image_helpers.h"

namespace velorin {
namespace {

using test::makeWorkingImage;
using test::storedPixel;

const UnsharpTables& tables() {
  static const UnsharpTables t = [] {
    UnsharpTables built;
    buildUnsharpTables(built);
    return built;
  }();
  return t;
}

TEST(UnsharpTables, DivideBy25RoundsExceptAtPoint52) {
  const auto& d = tables().divideBy25;
  ASSERT_EQ(d.size(), 6376u);
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[2988], 119);  // 119.52 rounds down
  EXPECT_EQ(d[6375], 255);
  for (int s = 1; s < 6376; ++s) {
    const double q = s / 25.0;
    const int rounded = static_cast<int>(q + 0.5);
    if (std::abs(q - std::floor(q) - 0.52) > 1e-9) {
      ASSERT_EQ(d[s], rounded) << s;
    }
  }
}

TEST(UnsharpTables, AmountIsTheFloorOfKTimesDOverEight) {
  auto amount = [](int k, int d) { return tables().amount[k * 256 + d + 128]; };
  EXPECT_EQ(amount(2, -1), -1);
  EXPECT_EQ(amount(2, 1), 0);
  EXPECT_EQ(amount(6, -128), -96);
  EXPECT_EQ(amount(6, 127), 95);
  EXPECT_EQ(amount(4, 7), 3);
  for (int d = -128; d < 128; ++d) EXPECT_EQ(amount(0, d), 0);
  EXPECT_EQ(tables().clamp[0], 0);             // index -1600
  EXPECT_EQ(tables().clamp[1600 + 254], 254);
  EXPECT_EQ(tables().clamp[1600 + 255], 255);
  EXPECT_EQ(tables().clamp.back(), 255);       // index 1842
}

WorkingImage flatWithCentre(RgbQuad centre) {
  return makeWorkingImage(9, 9, 24, [centre](int32_t x, int32_t y) {
    return x == 4 && y == 4 ? centre : RgbQuad{100, 100, 100, 0};
  });
}

TEST(UnsharpMask, ThresholdAppliesToTheSumOfTheThreeDifferences) {
  // The blur of the centre stays 100 (2500 + 7 over 25), so the differences are the offsets.
  WorkingImage sharpened = flatWithCentre({107, 107, 107, 0});
  ASSERT_TRUE(unsharpMask(sharpened, tables(), 4));
  EXPECT_EQ(storedPixel(sharpened, 4, 4), (RgbQuad{110, 110, 110, 0}));  // + floor(4 x 7 / 8)
  EXPECT_EQ(storedPixel(sharpened, 3, 4), (RgbQuad{100, 100, 100, 0}));

  WorkingImage kept = flatWithCentre({107, 107, 106, 0});
  ASSERT_TRUE(unsharpMask(kept, tables(), 4));
  EXPECT_EQ(storedPixel(kept, 4, 4), (RgbQuad{107, 107, 106, 0}));
}

TEST(UnsharpMask, EdgesReplicateTheBorderPixels) {
  // A corner counts 9 times in its own window: 2500 + 9 x 25 -> blur 109, difference 16.
  WorkingImage image = makeWorkingImage(5, 5, 24, [](int32_t x, int32_t y) {
    return x == 0 && y == 0 ? RgbQuad{125, 125, 125, 0} : RgbQuad{100, 100, 100, 0};
  });
  ASSERT_TRUE(unsharpMask(image, tables(), 6));
  EXPECT_EQ(storedPixel(image, 0, 0), (RgbQuad{137, 137, 137, 0}));  // 125 + floor(6 x 16 / 8)
  // Its neighbour counts it 3 times: blur 103, differences 3 x 3 = 9, below the threshold.
  EXPECT_EQ(storedPixel(image, 1, 0), (RgbQuad{100, 100, 100, 0}));
}

TEST(UnsharpMask, UniformImagesStayUniform) {
  std::mt19937 random(3);
  for (int round = 0; round < 20; ++round) {
    const int32_t w = 5 + random() % 40, h = 5 + random() % 40;
    const RgbQuad colour{static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                         static_cast<uint8_t>(random()), 0};
    WorkingImage image = makeWorkingImage(w, h, 24, [colour](int32_t, int32_t) { return colour; });
    const WorkingImage before = test::copyOf(image);
    ASSERT_TRUE(unsharpMask(image, tables(), 2 + 2 * (round % 3)));
    EXPECT_TRUE(test::samePixels(image, before));
  }
}

TEST(UnsharpMask, SmallImagesAreLeftAloneAndIndexedOnesExpand) {
  WorkingImage narrow = test::randomWorkingImage(4, 100, 8, 1);
  const uint8_t* before = narrow.pixels.data();
  ASSERT_TRUE(unsharpMask(narrow, tables(), 6));
  EXPECT_EQ(narrow.workBitCount, 8);
  EXPECT_EQ(narrow.pixels.data(), before);

  WorkingImage indexed = test::randomWorkingImage(5, 5, 8, 2);
  for (int i = 0; i < 256; ++i) indexed.palette[i] = {static_cast<uint8_t>(i), 0, 0, 0};
  ASSERT_TRUE(unsharpMask(indexed, tables(), 2));
  EXPECT_EQ(indexed.workBitCount, 24);
  EXPECT_EQ(indexed.workWidth, 5);
}

TEST(UnsharpMask, MatchesABruteForceFilterOnRandomImages) {
  for (auto [w, h] : {std::pair{5, 5}, {6, 9}, {31, 7}, {64, 48}}) {
    WorkingImage image = test::randomWorkingImage(w, h, 24, static_cast<uint32_t>(w + h));
    const WorkingImage source = test::copyOf(image);
    ASSERT_TRUE(unsharpMask(image, tables(), 4));
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        int d[3];
        const RgbQuad s = storedPixel(source, x, y);
        const int v[3] = {s.blue, s.green, s.red};
        for (int c = 0; c < 3; ++c) {
          int sum = 0;
          for (int j = -2; j <= 2; ++j)
            for (int i = -2; i <= 2; ++i) {
              const RgbQuad q = storedPixel(source, std::clamp(x + i, 0, w - 1), std::clamp(y + j, 0, h - 1));
              sum += c == 0 ? q.blue : c == 1 ? q.green : q.red;
            }
          d[c] = std::clamp(v[c] - tables().divideBy25[sum], -128, 127);
        }
        int expected[3] = {v[0], v[1], v[2]};
        if (std::abs(d[0]) + std::abs(d[1]) + std::abs(d[2]) > 20)
          for (int c = 0; c < 3; ++c) expected[c] = std::clamp(v[c] + ((4 * d[c]) >> 3), 0, 255);
        const RgbQuad got = storedPixel(image, x, y);
        ASSERT_EQ(got, (RgbQuad{uint8_t(expected[0]), uint8_t(expected[1]), uint8_t(expected[2]), 0}))
            << w << "x" << h << " at " << x << "," << y;
      }
  }
}

}  // namespace
}  // namespace velorin
