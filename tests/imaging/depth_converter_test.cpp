#include "imaging/depth_converter.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace velorin {
namespace {

struct Rgb {
  uint8_t r, g, b;
};

RgbQuad quad(uint8_t r, uint8_t g, uint8_t b) { return {b, g, r, 0}; }

// A 24-bit image in memory order (row 0 is the bottom row), rows padded to 4 bytes.
struct TrueColourImage {
  int32_t width, height;
  std::vector<uint8_t> pixels;
  TrueColourImage(int32_t w, int32_t h)
      : width(w), height(h), pixels(paddedStride(w, 24) * h + 4, 0) {}
  void set(int32_t x, int32_t row, Rgb c) {
    uint8_t* p = pixels.data() + row * paddedStride(width, 24) + 3 * x;
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
  }
  uint32_t key(int32_t x, int32_t row) const {
    const uint8_t* p = pixels.data() + row * paddedStride(width, 24) + 3 * x;
    return p[0] | p[1] << 8 | p[2] << 16;
  }
};

TrueColourImage noise(int32_t w, int32_t h, unsigned start) {
  TrueColourImage image(w, h);
  std::mt19937 random(start);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      image.set(x, y, {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                       static_cast<uint8_t>(random())});
  return image;
}

DepthConverter converterFor(int32_t w, int32_t h, int source, int target, bool dither) {
  DepthConverter c;
  c.width = w;
  c.height = h;
  setDepthConversion(c, source, target);
  c.dither = dither;
  return c;
}

// The image's colours with their pixel counts, for calling medianCut as the converter does.
std::vector<WeightedColour> weightedColours(const TrueColourImage& image) {
  std::map<uint32_t, uint32_t> counts;
  for (int32_t y = 0; y < image.height; ++y)
    for (int32_t x = 0; x < image.width; ++x) ++counts[image.key(x, y)];
  std::vector<WeightedColour> list;
  for (auto [colour, count] : counts) list.push_back({colour, count});
  return list;
}

int distance(const RgbQuad& a, uint32_t key) {
  const int db = a.blue - static_cast<int>(key & 0xFF);
  const int dg = a.green - static_cast<int>((key >> 8) & 0xFF);
  const int dr = a.red - static_cast<int>(key >> 16);
  return db * db + dg * dg + dr * dr;
}

TEST(DepthConverterSizes, RowBytesStrideAndImageSizeByTarget) {
  struct Case {
    int target;
    int32_t rowBytes, stride;
  } cases[] = {{1, 1, 4}, {2, 2, 4}, {4, 3, 4}, {8, 5, 8}, {24, 15, 16}, {32, 20, 20},
               {48, 30, 30}, {16, 0, 0}};
  for (const Case& k : cases) {
    DepthConverter c = converterFor(5, 3, 24, k.target, false);
    EXPECT_EQ(c.targetRowBytes, k.rowBytes) << k.target;
    EXPECT_EQ(c.targetStride, k.stride) << k.target;
    EXPECT_EQ(c.targetImageSize, static_cast<uint32_t>(k.stride * 3)) << k.target;
  }
  DepthConverter negative = converterFor(-4, -2, 24, 8, false);
  EXPECT_EQ(negative.width, 0);
  EXPECT_EQ(negative.targetImageSize, 0u);
  EXPECT_EQ(converterFor(1431655766, 1, 24, 24, false).targetRowBytes, 0);
  // 65536 x 65536 bytes reaches 2^32: no image size rather than a wrapped one.
  EXPECT_EQ(converterFor(65536, 65536, 24, 8, false).targetImageSize, 0u);
}

TEST(DepthConverterGrey, EachProductRoundedOnItsOwn) {
  TrueColourImage image(6, 1);
  image.set(0, 0, {0, 0, 255});      // blue: 29.07
  image.set(1, 0, {255, 0, 0});      // red: 76.245
  image.set(2, 0, {0, 255, 0});      // green: 149.685
  image.set(3, 0, {255, 255, 255});  // 29 + 76 + 150 = 255, never 256
  image.set(4, 0, {30, 20, 10});     // 1.14 + 8.97 + 11.74: 1 + 9 + 12
  image.set(5, 0, {142, 142, 142});  // 16.19 + 42.46 + 83.35: 141, not 142
  DepthConverter c = converterFor(6, 1, 24, 8, false);
  uint8_t grey[6 + 4] = {};
  ASSERT_TRUE(convertToGrey(c, nullptr, image.pixels.data(), grey));
  EXPECT_EQ(std::vector<int>(grey, grey + 6), (std::vector<int>{29, 76, 150, 255, 22, 141}));

  // Indexed: through the palette; source rows at the padded stride.
  RgbQuad palette[256] = {};
  palette[1] = quad(255, 0, 0);
  palette[2] = quad(0, 255, 0);
  const uint8_t pixels[] = {1, 2, 0, 0, 2, 1, 0, 0, 0, 0, 0, 0};
  DepthConverter indexed = converterFor(2, 2, 8, 8, false);
  uint8_t out[4 + 4] = {};
  ASSERT_TRUE(convertToGrey(indexed, palette, pixels, out));
  EXPECT_EQ(std::vector<int>(out, out + 4), (std::vector<int>{76, 150, 150, 76}));

  DepthConverter wrong = converterFor(2, 2, 8, 4, false);
  EXPECT_FALSE(convertToGrey(wrong, palette, pixels, out));
}

TEST(DepthConverterBlackWhite, Grey128WithAndWithoutDither) {
  TrueColourImage image(5, 1);
  for (int x = 0; x < 5; ++x) image.set(x, 0, {128, 128, 128});
  RgbQuad palette[256] = {};
  palette[7] = quad(1, 2, 3);
  uint8_t bits[4 + 4] = {};

  DepthConverter plain = converterFor(5, 1, 24, 1, false);
  ASSERT_TRUE(convertDepth(plain, nullptr, image.pixels.data(), palette, bits));
  EXPECT_EQ(bits[0], 0xF8);  // all white, the row padded with zero bits
  EXPECT_EQ(palette[0], quad(0, 0, 0));
  EXPECT_EQ(palette[1], quad(255, 255, 255));
  EXPECT_EQ(palette[7], quad(1, 2, 3));  // entries the conversion does not fill are kept

  // 128 white (error -127, -56 to the right), 72 black (+32), 160 white (-42), 86 black (+38),
  // 166 white.
  DepthConverter dithered = converterFor(5, 1, 24, 1, true);
  uint8_t indices[5] = {};
  ASSERT_TRUE(convertToIndexBytes(dithered, nullptr, image.pixels.data(), palette, indices));
  EXPECT_EQ(std::vector<int>(indices, indices + 5), (std::vector<int>{1, 0, 1, 0, 1}));
}

TEST(DepthConverterBlackWhite, SixteenWideRowPacksLastPixelIntoBitZero) {
  TrueColourImage image(16, 2);
  image.set(15, 0, {255, 255, 255});
  image.set(0, 1, {255, 255, 255});
  RgbQuad palette[256] = {};
  DepthConverter c = converterFor(16, 2, 24, 1, false);
  std::vector<uint8_t> out(c.targetImageSize + 4, 0xAA);
  ASSERT_TRUE(convertDepth(c, nullptr, image.pixels.data(), palette, out.data()));
  EXPECT_EQ(std::vector<int>(out.begin(), out.begin() + 8),
            (std::vector<int>{0x00, 0x01, 0, 0, 0x80, 0x00, 0, 0}));
}

// Grey values whose grey equals themselves, in memory order, diffused as 1-bit output.
std::vector<int> ditheredBits(int32_t w, int32_t h, const std::vector<uint8_t>& greys) {
  TrueColourImage image(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t v = greys[y * w + x];
      image.set(x, y, {v, v, v});
    }
  DepthConverter c = converterFor(w, h, 24, 1, true);
  RgbQuad palette[256] = {};
  std::vector<uint8_t> out(static_cast<size_t>(w) * h + 4);
  EXPECT_TRUE(convertToIndexBytes(c, nullptr, image.pixels.data(), palette, out.data()));
  return {out.begin(), out.begin() + w * h};
}

TEST(DepthConverterDiffusion, SharesGoWhereThePositionAllows) {
  // 200 is white with error -55: right gets -24, below -17, below-right -3. A row sends 145 to
  // 121 (black); a column sends it only downwards, to 128 (white).
  EXPECT_EQ(ditheredBits(2, 1, {200, 145}), (std::vector<int>{1, 0}));
  EXPECT_EQ(ditheredBits(1, 2, {200, 145}), (std::vector<int>{1, 1}));

  // 2 x 2: 150 - 24 = 126 black (error 126: below +39, below-left +24); 130 - 17 + 24 = 137
  // white (error -118: right -52); 143 - 3 + 39 - 52 = 127 black. Dropping any one share flips
  // a bit.
  EXPECT_EQ(ditheredBits(2, 2, {200, 150, 130, 143}), (std::vector<int>{1, 0, 1, 0}));
}

// Diffusion spreads the three colour errors of each pixel and nothing else: it once read a fourth
// error past their array, which the sanitizer build reports. Every position class is visited
// (single row, single column, corners, edges, inside), and the bytes that pad the source rows
// must not change the result.
TEST(DepthConverterDiffusion, ColourErrorsStayInsideTheirPixels) {
  for (const auto& [w, h] : {std::pair{41, 1}, std::pair{1, 40}, std::pair{9, 8}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const TrueColourImage image = noise(w, h, static_cast<unsigned>(w * 100 + h));
    TrueColourImage padded = image;
    const int32_t stride = paddedStride(w, 24);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t at = 3 * w; at < stride; ++at) padded.pixels[y * stride + at] = 0xFF;
    ASSERT_NE(padded.pixels, image.pixels);

    std::vector<uint8_t> indices[2];
    RgbQuad palettes[2][256] = {};
    for (int i = 0; i < 2; ++i) {
      DepthConverter c = converterFor(w, h, 24, 4, true);
      indices[i].resize(static_cast<size_t>(w) * h + 4);
      ASSERT_TRUE(convertToIndexBytes(c, nullptr, (i ? padded : image).pixels.data(), palettes[i],
                                      indices[i].data()));
    }
    EXPECT_EQ(indices[0], indices[1]);
    EXPECT_TRUE(std::equal(palettes[0], palettes[0] + 16, palettes[1]));
  }
}

TEST(DepthConverterExact, FewColoursSortedBySumWithoutDither) {
  TrueColourImage image(4, 2);
  const Rgb bright{200, 200, 200}, dark{10, 0, 0}, mid{0, 90, 30};
  const Rgb order[8] = {bright, dark, bright, mid, mid, mid, dark, bright};
  for (int i = 0; i < 8; ++i) image.set(i % 4, i / 4, order[i]);
  for (bool dither : {false, true}) {
    DepthConverter c = converterFor(4, 2, 24, 2, dither);
    RgbQuad palette[256] = {};
    std::vector<uint8_t> out(c.targetImageSize + 4);
    ASSERT_TRUE(convertDepth(c, nullptr, image.pixels.data(), palette, out.data()));
    EXPECT_EQ(palette[0], quad(10, 0, 0));
    EXPECT_EQ(palette[1], quad(0, 90, 30));
    EXPECT_EQ(palette[2], quad(200, 200, 200));
    EXPECT_EQ(palette[3], quad(0, 0, 0));
    // 2, 0, 2, 1 and 1, 1, 0, 2, first pixel in bits 7-6.
    EXPECT_EQ(out[0], 0b10001001);
    EXPECT_EQ(out[4], 0b01010010);
  }
}

TEST(DepthConverterExact, EqualSumsKeepSelectionSortOrder) {
  // Sums 30, 30, 10 in order of appearance: the selection sort swaps the first with the third,
  // which puts the second 30 before the first.
  TrueColourImage image(3, 1);
  image.set(0, 0, {30, 0, 0});
  image.set(1, 0, {0, 30, 0});
  image.set(2, 0, {0, 0, 10});
  DepthConverter c = converterFor(3, 1, 24, 2, false);
  RgbQuad palette[256] = {};
  std::vector<uint8_t> out(c.targetImageSize + 4);
  ASSERT_TRUE(convertDepth(c, nullptr, image.pixels.data(), palette, out.data()));
  EXPECT_EQ(palette[0], quad(0, 0, 10));
  EXPECT_EQ(palette[1], quad(0, 30, 0));
  EXPECT_EQ(palette[2], quad(30, 0, 0));
}

TEST(DepthConverterExact, IndexedSourceKeepsPaletteOrderAndLosesNoUsedColour) {
  // Three distinct entries (red, green, black for the zero tail) fit in 2 bits: palette order,
  // duplicates merged, every pixel to the first equal entry.
  RgbQuad palette[256] = {};
  palette[0] = quad(255, 0, 0);
  palette[1] = quad(0, 255, 0);
  palette[2] = quad(255, 0, 0);
  const uint8_t pixels[] = {0, 1, 2, 5};
  DepthConverter c = converterFor(4, 1, 8, 2, false);
  RgbQuad target[256] = {};
  uint8_t out[4 + 4] = {};
  ASSERT_TRUE(convertDepth(c, palette, pixels, target, out));
  EXPECT_EQ(target[0], quad(255, 0, 0));
  EXPECT_EQ(target[1], quad(0, 255, 0));
  EXPECT_EQ(target[2], quad(0, 0, 0));
  EXPECT_EQ(out[0], 0b00010010);

  // Twenty distinct entries do not fit in 4 colours, but the pixels use three: those three, in
  // palette order.
  for (int i = 0; i < 20; ++i) palette[i] = quad(static_cast<uint8_t>(10 * i + 5), 1, 2);
  const uint8_t used[] = {19, 5, 17, 5};
  RgbQuad reduced[256] = {};
  ASSERT_TRUE(convertDepth(c, palette, used, reduced, out));
  EXPECT_EQ(reduced[0], palette[5]);
  EXPECT_EQ(reduced[1], palette[17]);
  EXPECT_EQ(reduced[2], palette[19]);
  EXPECT_EQ(reduced[3], quad(0, 0, 0));
  EXPECT_EQ(out[0], 0b10000100);
}

TEST(DepthConverterCopies, IndexedToIndexedAndBetweenSampleSizes) {
  RgbQuad palette[256];
  for (int i = 0; i < 256; ++i) palette[i] = quad(static_cast<uint8_t>(i), 7, static_cast<uint8_t>(255 - i));
  const uint8_t pixels[8] = {3, 200, 9, 0xEE, 255, 0, 1, 0xDD};  // padding bytes copied as well
  DepthConverter c = converterFor(3, 2, 8, 8, true);
  RgbQuad target[256] = {};
  uint8_t out[8 + 4] = {};
  ASSERT_TRUE(convertDepth(c, palette, pixels, target, out));
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8), std::vector<uint8_t>(pixels, pixels + 8));
  EXPECT_TRUE(std::equal(palette, palette + 256, target));

  // 4 bits to 8: high nibble first; 1 bit to 24 through the two entries.
  const uint8_t nibbles[4] = {0x1F, 0x70, 0, 0};
  DepthConverter unpack = converterFor(3, 1, 4, 8, false);
  ASSERT_TRUE(convertDepth(unpack, palette, nibbles, target, out));
  EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{1, 15, 7}));
  const uint8_t bitRow[4] = {0x40, 0, 0, 0};
  DepthConverter expand = converterFor(2, 1, 1, 24, false);
  uint8_t bgr[8 + 4] = {};
  ASSERT_TRUE(convertDepth(expand, palette, bitRow, target, bgr));
  EXPECT_EQ(std::vector<int>(bgr, bgr + 6), (std::vector<int>{255, 7, 0, 254, 7, 1}));

  // 24 to 48 fills the high bytes, 48 back to 24 takes them.
  TrueColourImage image = noise(3, 2, 5);
  DepthConverter widen = converterFor(3, 2, 24, 48, false);
  std::vector<uint8_t> wide(widen.targetImageSize + 4, 0);
  ASSERT_TRUE(convertDepth(widen, nullptr, image.pixels.data(), nullptr, wide.data()));
  EXPECT_EQ(wide[1], image.pixels[0]);
  EXPECT_EQ(wide[0], 0);
  DepthConverter narrow = converterFor(3, 2, 48, 24, false);
  std::vector<uint8_t> back(narrow.targetImageSize + 4, 0);
  ASSERT_TRUE(convertDepth(narrow, nullptr, wide.data(), nullptr, back.data()));
  for (int y = 0; y < 2; ++y)
    for (int i = 0; i < 9; ++i) EXPECT_EQ(back[12 * y + i], image.pixels[12 * y + i]);
}

TEST(DepthConverterCopies, UnsupportedPairsFail) {
  TrueColourImage image = noise(4, 4, 1);
  RgbQuad palette[256] = {};
  std::vector<uint8_t> out(4 * 4 * 8 + 4);
  for (auto [source, target] : {std::pair{2, 24}, {8, 48}, {24, 16}, {24, 32}, {48, 8}, {16, 8}}) {
    DepthConverter c = converterFor(4, 4, source, target, false);
    EXPECT_FALSE(convertDepth(c, palette, image.pixels.data(), palette, out.data()))
        << source << " to " << target;
  }
  for (int target : {0, 9, 24}) {
    DepthConverter c = converterFor(4, 4, 24, target, false);
    EXPECT_FALSE(convertToIndexBytes(c, palette, image.pixels.data(), palette, out.data()));
  }
  DepthConverter empty = converterFor(0, 4, 24, 4, false);
  EXPECT_FALSE(convertToIndexBytes(empty, palette, image.pixels.data(), palette, out.data()));
}

TEST(MedianCut, HandComputedBoxesThresholdsAndMedians) {
  auto key = [](int r, int g, int b) { return static_cast<uint32_t>(r << 16 | g << 8 | b); };
  RgbQuad palette[3] = {};
  // Split 1 on red (300 beats green's 100) at the median 100: {A, B, D} and {C}. Split 2 on red
  // again (150 beats 100); its median 0 gives {A, D} and {B}. {A, D} has the green median 50:
  // the cumulative count must exceed half the box, not reach it.
  std::vector<WeightedColour> four = {
      {key(0, 0, 0), 1}, {key(100, 0, 0), 1}, {key(200, 0, 0), 1}, {key(0, 50, 0), 1}};
  ASSERT_TRUE(medianCut(four.data(), 4, 3, palette));
  EXPECT_EQ(palette[0], quad(0, 50, 0));
  EXPECT_EQ(palette[1], quad(200, 0, 0));
  EXPECT_EQ(palette[2], quad(100, 0, 0));

  // Weighted ranges tie: red (3 x 100 / 2) wins over green (2 x 75), so {black, green} stays in
  // box 0; green (2 x 75) wins over blue (150).
  std::vector<WeightedColour> redTie = {{key(0, 0, 0), 1}, {key(100, 0, 0), 1}, {key(0, 75, 0), 1}};
  ASSERT_TRUE(medianCut(redTie.data(), 3, 2, palette));
  EXPECT_EQ(palette[0], quad(0, 75, 0));
  EXPECT_EQ(palette[1], quad(100, 0, 0));
  std::vector<WeightedColour> greenTie = {{key(0, 0, 0), 1}, {key(0, 75, 0), 1}, {key(0, 0, 150), 1}};
  ASSERT_TRUE(medianCut(greenTie.data(), 3, 2, palette));
  EXPECT_EQ(palette[0], quad(0, 0, 150));
  EXPECT_EQ(palette[1], quad(0, 75, 0));

  // Counts weigh the median: three blacks put it at 0, so 10 goes with 20; the median of that
  // pair is 20. When the median is the maximum the threshold is one below it.
  std::vector<WeightedColour> weighted = {{key(0, 0, 0), 3}, {key(10, 0, 0), 1}, {key(20, 0, 0), 1}};
  ASSERT_TRUE(medianCut(weighted.data(), 3, 2, palette));
  EXPECT_EQ(palette[0], quad(0, 0, 0));
  EXPECT_EQ(palette[1], quad(20, 0, 0));

  // Asking for more boxes than colours fails instead of splitting an empty box.
  std::vector<WeightedColour> two = {{key(0, 0, 0), 5}, {key(9, 9, 9), 5}};
  EXPECT_FALSE(medianCut(two.data(), 2, 3, palette));
}

TEST(DepthConverterReduction, DitheredFourBitsAppendsCornerMatches) {
  TrueColourImage image = noise(40, 30, 7);
  image.set(3, 2, {250, 250, 250});  // near white, later duplicates must not win
  image.set(4, 2, {250, 250, 250});
  DepthConverter c = converterFor(40, 30, 24, 4, true);
  RgbQuad palette[256] = {};
  std::vector<uint8_t> out(c.targetImageSize + 4);
  ASSERT_TRUE(convertDepth(c, nullptr, image.pixels.data(), palette, out.data()));

  std::vector<WeightedColour> colours = weightedColours(image);
  RgbQuad cut[8];
  ASSERT_TRUE(medianCut(colours.data(), static_cast<uint32_t>(colours.size()), 8, cut));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(palette[i], cut[i]) << i;

  const RgbQuad corners[8] = {quad(0, 0, 0),     quad(255, 255, 255), quad(0, 0, 255),
                              quad(0, 255, 0),   quad(255, 0, 0),     quad(0, 255, 255),
                              quad(255, 0, 255), quad(255, 255, 0)};
  for (int f = 0; f < 8; ++f) {
    int best = 1 << 30;
    uint32_t nearest = 0;
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x)
        if (distance(corners[f], image.key(x, y)) < best) {
          best = distance(corners[f], image.key(x, y));
          nearest = image.key(x, y);
        }
    EXPECT_EQ(distance(palette[8 + f], nearest), 0) << f;
  }
  EXPECT_EQ(palette[9], quad(250, 250, 250));

  // Without dither: sixteen median-cut colours.
  DepthConverter plain = converterFor(40, 30, 24, 4, false);
  RgbQuad plainPalette[256] = {};
  ASSERT_TRUE(convertDepth(plain, nullptr, image.pixels.data(), plainPalette, out.data()));
  RgbQuad cut16[16];
  colours = weightedColours(image);
  ASSERT_TRUE(medianCut(colours.data(), static_cast<uint32_t>(colours.size()), 16, cut16));
  EXPECT_TRUE(std::equal(cut16, cut16 + 16, plainPalette));
}

TEST(DepthConverterReduction, TwoBitsAndThreeBitsFixedColours) {
  TrueColourImage image = noise(20, 10, 3);
  std::vector<WeightedColour> colours = weightedColours(image);
  RgbQuad cut4[4];
  ASSERT_TRUE(medianCut(colours.data(), static_cast<uint32_t>(colours.size()), 4, cut4));
  for (bool dither : {false, true}) {
    DepthConverter c = converterFor(20, 10, 24, 2, dither);
    RgbQuad palette[256] = {};
    palette[4] = quad(9, 9, 9);
    std::vector<uint8_t> out(c.targetImageSize + 4);
    ASSERT_TRUE(convertDepth(c, nullptr, image.pixels.data(), palette, out.data()));
    EXPECT_TRUE(std::equal(cut4, cut4 + 4, palette)) << dither;
    EXPECT_EQ(palette[4], quad(9, 9, 9));
  }
  // 3 bits dithered (index bytes only): 3 median-cut colours and the 5 primaries' matches.
  DepthConverter three = converterFor(20, 10, 24, 3, true);
  RgbQuad palette[256] = {};
  std::vector<uint8_t> indices(200);
  ASSERT_TRUE(convertToIndexBytes(three, nullptr, image.pixels.data(), palette, indices.data()));
  RgbQuad cut3[3];
  colours = weightedColours(image);
  ASSERT_TRUE(medianCut(colours.data(), static_cast<uint32_t>(colours.size()), 3, cut3));
  EXPECT_TRUE(std::equal(cut3, cut3 + 3, palette));
  EXPECT_EQ(palette[8], quad(0, 0, 0));  // nothing beyond the eight entries
  for (uint8_t index : indices) EXPECT_LT(index, 8);
}

TEST(DepthConverterReduction, UnditheredPixelsGoToTheFirstNearestEntry) {
  // Many colours spread over the cube, so the nearest search is tried in most of its cells.
  TrueColourImage image = noise(300, 200, 11);
  for (int x = 0; x < 256; ++x) image.set(x, 0, {static_cast<uint8_t>(x), 0, static_cast<uint8_t>(x)});
  DepthConverter c = converterFor(300, 200, 24, 8, false);
  RgbQuad palette[256] = {};
  std::vector<uint8_t> indices(300 * 200);
  ASSERT_TRUE(convertToIndexBytes(c, nullptr, image.pixels.data(), palette, indices.data()));
  int wrong = 0;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) {
      const uint32_t key = image.key(x, y);
      int best = 1 << 30, bestIndex = 0;
      for (int i = 0; i < 256; ++i)
        if (distance(palette[i], key) < best) best = distance(palette[i], key), bestIndex = i;
      wrong += indices[y * 300 + x] != bestIndex;
    }
  EXPECT_EQ(wrong, 0);
}

TEST(DepthConverterReduction, SingleColumnAndSingleRowDiffuseInsideTheImage) {
  for (auto [w, h] : {std::pair{1, 300}, {300, 1}, {2, 150}}) {
    TrueColourImage image = noise(w, h, 17);
    DepthConverter c = converterFor(w, h, 24, 4, true);
    RgbQuad palette[256] = {};
    std::vector<uint8_t> indices(static_cast<size_t>(w) * h);
    ASSERT_TRUE(convertToIndexBytes(c, nullptr, image.pixels.data(), palette, indices.data()));
    for (uint8_t index : indices) ASSERT_LT(index, 16);
  }
}

TEST(DepthConverterReduction, EightBitsDitheredFromIndexedSourceKeepsLimits) {
  // An 8-bit source never needs more than 256 entries, so 8 bits is exact; 4 bits dithered
  // reduces it and every index stays inside the palette.
  RgbQuad palette[256];
  for (int i = 0; i < 256; ++i) palette[i] = quad(static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7), static_cast<uint8_t>(i * 13));
  std::vector<uint8_t> pixels(paddedStride(50, 8) * 20 + 4);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 31);
  DepthConverter c = converterFor(50, 20, 8, 4, true);
  RgbQuad target[256] = {};
  std::vector<uint8_t> out(c.targetImageSize + 4);
  ASSERT_TRUE(convertDepth(c, palette, pixels.data(), target, out.data()));
  DepthConverter bytes = converterFor(50, 20, 8, 8, true);
  std::vector<uint8_t> indices(1000);
  ASSERT_TRUE(convertToIndexBytes(bytes, palette, pixels.data(), target, indices.data()));
  EXPECT_TRUE(std::equal(palette, palette + 256, target));
  EXPECT_EQ(indices[0], pixels[0]);
  EXPECT_EQ(indices[50], pixels[paddedStride(50, 8)]);
}

}  // namespace
}  // namespace velorin
