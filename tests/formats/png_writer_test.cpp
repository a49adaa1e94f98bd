#include "formats/png_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "formats/png_reader.h"
#include "formats/png_test_util.h"

namespace velorin {
namespace {

using test::readWithLibpng;

// A working image of random content with flat runs, so that every filter gets chosen somewhere.
ImageRecord randomImage(int32_t width, int32_t height, int bits, uint32_t variant) {
  ImageRecord record;
  EXPECT_EQ(record.allocatePixels(width, height, bits), Status::Ok);
  std::mt19937 random(variant);
  const uint64_t stride = paddedStride(width, bits);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = record.pixels.data() + y * stride;
    const int rowBytes = width * bits / 8;
    const int kind = static_cast<int>(random() % 3);
    for (int i = 0; i < rowBytes; ++i)
      row[i] = kind == 0 ? static_cast<uint8_t>(random()) : kind == 1 ? static_cast<uint8_t>(i * 3 + y) : 7;
  }
  for (int i = 0; i < 256; ++i)
    record.palette[i] = {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                         static_cast<uint8_t>(random()), 0};
  return record;
}

void prepare(PngWriter& w, const ImageRecord& image, int targetBits) {
  w = PngWriter{};
  w.converter.width = image.header.biWidth;
  w.converter.height = image.header.biHeight;
  setDepthConversion(w.converter, image.header.biBitCount, targetBits);
}

// The pixels (as red, green, blue, top row first) that a writer must store for this image at
// this depth, by the same conversion the writer uses.
std::vector<RgbColour> expectedColours(const ImageRecord& image, int targetBits) {
  DepthConverter c;
  c.width = image.header.biWidth;
  c.height = image.header.biHeight;
  setDepthConversion(c, image.header.biBitCount, targetBits);
  PixelBuffer out;
  EXPECT_TRUE(out.allocate(c.targetImageSize));
  RgbQuad palette[256] = {};
  EXPECT_TRUE(convertDepth(c, image.palette, image.pixels.data(), palette, out.data()));
  ImageRecord converted;
  converted.setHeader(c.width, c.height, targetBits, 0, 0);
  std::vector<RgbColour> colours;
  for (int32_t y = 0; y < c.height; ++y) {
    const uint8_t* row = out.data() + (c.height - 1 - y) * static_cast<int64_t>(c.targetStride);
    for (int32_t x = 0; x < c.width; ++x) {
      if (targetBits == 24) {
        colours.push_back({row[3 * x + 2], row[3 * x + 1], row[3 * x]});
      } else {
        const int bit = x * targetBits;
        const int index = row[bit >> 3] >> (8 - targetBits - (bit & 7)) & ((1 << targetBits) - 1);
        colours.push_back({palette[index].red, palette[index].green, palette[index].blue});
      }
    }
  }
  return colours;
}

std::vector<RgbColour> libpngColours(const test::LibpngImage& li) {
  std::vector<RgbColour> colours;
  for (size_t i = 0; i < size_t{li.width} * li.height; ++i) {
    const uint8_t* p = li.pixels.data() + i * li.channels;
    colours.push_back(li.channels >= 3 ? RgbColour{p[0], p[1], p[2]} : RgbColour{p[0], p[0], p[0]});
  }
  return colours;
}

struct RoundTrip {
  int sourceBits;
  int targetBits;
};

// Writes each case interlaced and not, at odd sizes that leave Adam7 passes empty and packed
// rows with spare bits, and checks libpng's and our own reading of the file.
void roundTrip(const std::vector<RoundTrip>& cases) {
  test::TempFolder folder;
  int sizeIndex = 0;
  for (const RoundTrip& trip : cases) {
    for (const bool interlace : {false, true}) {
      const int32_t width = 1 + (sizeIndex * 13) % 37, height = 1 + (sizeIndex * 7) % 23;
      ++sizeIndex;
      SCOPED_TRACE(std::to_string(trip.sourceBits) + "->" + std::to_string(trip.targetBits) +
                   (interlace ? " interlaced " : " ") + std::to_string(width) + "x" +
                   std::to_string(height));
      const ImageRecord image = randomImage(width, height, trip.sourceBits, sizeIndex);
      PngWriter w;
      prepare(w, image, trip.targetBits);
      w.interlace = interlace;
      const auto path = folder / "out.png";
      ASSERT_TRUE(writePng(w, path, image.palette, image.pixels.data()))
          << static_cast<int>(w.status);
      const test::LibpngImage li = readWithLibpng(path, true);
      ASSERT_TRUE(li.ok);
      EXPECT_EQ(li.interlace, interlace ? 1 : 0);
      EXPECT_EQ(li.colourType, trip.targetBits == 24 ? 2 : 3);
      EXPECT_EQ(li.bitDepth, trip.targetBits == 24 ? 8 : trip.targetBits);
      if (trip.targetBits == 1) {
        EXPECT_EQ(li.palette.size(), 2u);  // never merged
      }
      const auto expected = expectedColours(image, trip.targetBits);
      EXPECT_EQ(libpngColours(li), expected);

      PngReader reader;
      ImageRecord back;
      ASSERT_TRUE(readPngFile(reader, path, back));
      for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
          ASSERT_EQ(test::pixelAt(back, x, y), expected[size_t(y) * width + x]) << x << "," << y;
    }
  }
}

TEST(PngWriter, TruecolourAndEightBitPaletteReadBackInLibpng) {
  roundTrip({{24, 24}, {8, 24}, {8, 8}});
}

// Levels go to two compressors; every level must give a stream libpng reads back whole, and
// level 0 stores the filtered rows (deflate's stored blocks cost 5 bytes per 64 KiB at least).
TEST(PngWriter, EveryLevelWritesAStreamLibpngReadsBack) {
  test::TempFolder folder;
  const int32_t width = 300, height = 120;  // filtered data beyond one stored block
  for (const int targetBits : {24, 8}) {
    const ImageRecord image = randomImage(width, height, targetBits, 11);
    const auto expected = expectedColours(image, targetBits);
    for (int level = 0; level <= 9; ++level) {
      SCOPED_TRACE(std::to_string(targetBits) + " bits, level " + std::to_string(level));
      PngWriter w;
      prepare(w, image, targetBits);
      w.level = level;
      const auto path = folder / "level.png";
      ASSERT_TRUE(writePng(w, path, image.palette, image.pixels.data()));
      const test::LibpngImage li = readWithLibpng(path, true);
      ASSERT_TRUE(li.ok);
      EXPECT_EQ(libpngColours(li), expected);
      const uint64_t filteredSize = uint64_t(height) * (width * (targetBits / 8) + 1);
      const size_t fileSize = test::readBytes(path).size();
      if (level == 0) {
        EXPECT_GT(fileSize, filteredSize + 5 * (filteredSize >> 16));
      } else {
        EXPECT_LT(fileSize, filteredSize);
      }
    }
  }
}

TEST(PngWriter, ReducedPaletteOutputsReadBackInLibpng) {
  roundTrip({{24, 8}, {24, 4}, {24, 2}, {24, 1}, {8, 4}, {8, 1}});
}

TEST(PngWriter, GreyOutputUsesTheGreyConversion) {
  test::TempFolder folder;
  for (const int sourceBits : {8, 24})
    for (const bool interlace : {false, true}) {
      const ImageRecord image = randomImage(19, 11, sourceBits, 5);
      PngWriter w;
      prepare(w, image, 8);
      w.greyscale = true;
      w.interlace = interlace;
      ASSERT_TRUE(writePng(w, folder / "g.png", image.palette, image.pixels.data()));
      const test::LibpngImage li = readWithLibpng(folder / "g.png", true);
      ASSERT_TRUE(li.ok);
      EXPECT_EQ(li.colourType, 0);
      std::vector<uint8_t> grey(19 * 11);
      if (sourceBits == 8) greyFromIndexed(w.converter, image.palette, image.pixels.data(), grey.data());
      else greyFromTrueColour(w.converter, image.pixels.data(), grey.data());
      for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 19; ++x)
          ASSERT_EQ(li.pixels[y * 19 + x], grey[(10 - y) * 19 + x]) << x << "," << y;
    }
  // Grey needs an 8-bit target.
  const ImageRecord image = randomImage(4, 4, 24, 5);
  PngWriter w;
  prepare(w, image, 24);
  w.greyscale = true;
  EXPECT_FALSE(writePng(w, folder / "bad.png", image.palette, image.pixels.data()));
  EXPECT_EQ(w.status, Status::CannotWrite);
}

// The filter byte of every row, read back by inflating the IDAT data ourselves.
std::vector<uint8_t> filterBytes(const std::vector<uint8_t>& file, uint32_t rowBytes, uint32_t rows) {
  std::vector<uint8_t> idat;
  for (size_t at = 8; at + 12 <= file.size();) {
    const uint32_t length = loadBe32(&file[at]);
    if (std::memcmp(&file[at + 4], "IDAT", 4) == 0)
      idat.insert(idat.end(), file.begin() + at + 8, file.begin() + at + 8 + length);
    at += 12 + length;
  }
  std::vector<uint8_t> raw(size_t(rowBytes + 1) * rows);
  uLongf size = raw.size();
  EXPECT_EQ(uncompress(raw.data(), &size, idat.data(), idat.size()), Z_OK);
  std::vector<uint8_t> types;
  for (uint32_t r = 0; r < rows; ++r) types.push_back(raw[r * (rowBytes + 1)]);
  return types;
}

TEST(PngWriter, RowFilterFollowsTheScore) {
  test::TempFolder folder;
  ImageRecord image;
  ASSERT_EQ(image.allocatePixels(8, 3, 24), Status::Ok);
  const uint64_t stride = paddedStride(8, 24);
  // Top row black: None scores one more than any other filter through its type byte 0.
  // Middle row one flat colour: Sub turns it into zeros (Paeth does too, but only ties).
  // Bottom row equal to the middle one: Up turns it into zeros (Paeth ties again).
  for (int x = 0; x < 8; ++x) {
    uint8_t* middle = image.pixels.data() + 1 * stride + 3 * x;
    uint8_t* bottom = image.pixels.data() + 0 * stride + 3 * x;
    middle[0] = bottom[0] = 90;
    middle[1] = bottom[1] = 60;
    middle[2] = bottom[2] = 30;
  }
  PngWriter w;
  prepare(w, image, 24);
  ASSERT_TRUE(writePng(w, folder / "f.png", image.palette, image.pixels.data()));
  const auto bytes = test::readBytes(folder / "f.png");
  EXPECT_EQ(bytes[8 + 4 + 4 + 8], 8);   // IHDR bit depth
  EXPECT_EQ(bytes[8 + 4 + 4 + 9], 2);   // colour type
  EXPECT_EQ(bytes[8 + 4 + 4 + 12], 0);  // no interlace
  EXPECT_EQ(filterBytes(bytes, 24, 3), (std::vector<uint8_t>{0, 1, 2}));
}

// The five filters and the score written out plainly, byte by byte.
std::vector<uint8_t> referenceFilteredRow(const std::vector<uint8_t>& raw,
                                          const std::vector<uint8_t>& above, int bpp) {
  const size_t n = raw.size();
  std::vector<std::vector<uint8_t>> rows(5, std::vector<uint8_t>(n + 1));
  for (size_t i = 0; i < n; ++i) {
    const int a = i >= size_t(bpp) ? raw[i - bpp] : 0, b = above[i];
    const int c = i >= size_t(bpp) ? above[i - bpp] : 0;
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    const int predictions[5] = {0, a, b, (a + b) / 2, paeth};
    for (int k = 0; k < 5; ++k) rows[k][i + 1] = static_cast<uint8_t>(raw[i] - predictions[k]);
  }
  int scores[5];
  for (int k = 0; k < 5; ++k) {
    rows[k][0] = static_cast<uint8_t>(k);
    scores[k] = 0;
    for (size_t i = 1; i <= n; ++i) {
      const uint8_t v = rows[k][i];
      if (v == rows[k][i - 1] && (v <= 3 || v >= 252)) ++scores[k];
    }
  }
  const int subOrUp = scores[2] > scores[1] ? 2 : 1;
  const int averageOrPaeth = scores[4] > scores[3] ? 4 : 3;
  const int best = scores[averageOrPaeth] > scores[subOrUp] ? averageOrPaeth : subOrUp;
  return rows[scores[best] > scores[0] ? best : 0];
}

// Every written row, type byte and filtered bytes, against the plain filter, over widths that
// leave every remainder of a 16-byte step and rows where each filter wins.
TEST(PngWriter, FilteredRowsMatchThePlainFilterChoice) {
  test::TempFolder folder;
  std::mt19937 random(3);
  std::vector<int> choices(5);
  for (const int32_t width : {1, 2, 5, 6, 7, 16, 17, 22, 33, 48, 85, 130}) {
    for (const bool grey : {false, true}) {
      SCOPED_TRACE(std::to_string(width) + (grey ? " grey" : " truecolour"));
      const int32_t height = 24;
      ImageRecord image;
      ASSERT_EQ(image.allocatePixels(width, height, 24), Status::Ok);
      const uint64_t stride = paddedStride(width, 24);
      for (int32_t y = height - 1; y >= 0; --y) {  // top row first
        uint8_t* row = image.pixels.data() + y * stride;
        const int kind = static_cast<int>(random() % 6);
        for (int32_t i = 0; i < 3 * width; ++i) {
          const uint8_t above = y + 1 < height ? row[stride + i] : 0;
          const uint8_t left = i >= 3 ? row[i - 3] : 100;
          row[i] = kind == 0   ? static_cast<uint8_t>(random())
                   : kind == 1 ? static_cast<uint8_t>(i * 5 + y)
                   : kind == 2 ? static_cast<uint8_t>(above + random() % 3)
                   : kind == 3 ? static_cast<uint8_t>(left + random() % 2)
                   : kind == 4 ? static_cast<uint8_t>((left + above) / 2 + random() % 2)
                               : 100;  // runs of equal bytes that are not near 0 or 255
        }
      }
      PngWriter w;
      prepare(w, image, grey ? 8 : 24);
      w.greyscale = grey;
      ASSERT_TRUE(writePng(w, folder / "f.png", image.palette, image.pixels.data()));

      const int bpp = grey ? 1 : 3;
      std::vector<uint8_t> samples(size_t(width) * height);
      if (grey) greyFromTrueColour(w.converter, image.pixels.data(), samples.data());
      const auto file = test::readBytes(folder / "f.png");
      const size_t rowSize = size_t(width) * bpp + 1;
      std::vector<uint8_t> idat;
      for (size_t at = 8; at + 12 <= file.size(); at += 12 + loadBe32(&file[at]))
        if (std::memcmp(&file[at + 4], "IDAT", 4) == 0)
          idat.insert(idat.end(), file.begin() + at + 8, file.begin() + at + 8 + loadBe32(&file[at]));
      std::vector<uint8_t> filtered(rowSize * height);
      uLongf size = filtered.size();
      ASSERT_EQ(uncompress(filtered.data(), &size, idat.data(), idat.size()), Z_OK);
      ASSERT_EQ(size, filtered.size());
      std::vector<uint8_t> above(rowSize - 1, 0), raw(rowSize - 1);
      for (int32_t y = 0; y < height; ++y) {
        const int32_t stored = height - 1 - y;
        for (int32_t x = 0; x < width; ++x) {
          if (grey) {
            raw[x] = samples[size_t(stored) * width + x];
          } else {
            const uint8_t* p = image.pixels.data() + stored * stride + 3 * x;
            raw[3 * x] = p[2];
            raw[3 * x + 1] = p[1];
            raw[3 * x + 2] = p[0];
          }
        }
        const auto expected = referenceFilteredRow(raw, above, bpp);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), filtered.begin() + y * rowSize))
            << "row " << y << ", type " << int(filtered[y * rowSize]) << " against " << int(expected[0]);
        ++choices[expected[0]];
        above = raw;
      }
    }
  }
  for (int k = 0; k < 5; ++k) EXPECT_GT(choices[k], 0) << "filter " << k << " never chosen";
}

TEST(PngWriter, DuplicatePaletteColoursAreMergedAndRenumbered) {
  test::TempFolder folder;
  ImageRecord image = randomImage(16, 16, 8, 9);
  const RgbQuad colours[3] = {{1, 2, 3, 0}, {200, 100, 0, 0}, {9, 9, 9, 0}};
  for (int i = 0; i < 256; ++i) image.palette[i] = colours[(i / 5) % 3];
  PngWriter w;
  prepare(w, image, 8);
  ASSERT_TRUE(writePng(w, folder / "p.png", image.palette, image.pixels.data()));
  EXPECT_EQ(w.paletteEntries, 3);
  const test::LibpngImage indices = readWithLibpng(folder / "p.png", false);
  ASSERT_TRUE(indices.ok);
  ASSERT_EQ(indices.palette.size(), 3u);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const uint8_t source = image.pixels.data()[(15 - y) * 16 + x];
      ASSERT_EQ(indices.pixels[y * 16 + x], (source / 5) % 3);
    }
  EXPECT_EQ(indices.palette[1].red, 0);  // stored red, green, blue from blue, green, red
  EXPECT_EQ(indices.palette[1].blue, 200);
}

TEST(PngWriter, TransparentPaletteEntry) {
  test::TempFolder folder;
  ImageRecord image = randomImage(8, 8, 8, 11);
  for (int i = 0; i < 256; ++i) image.palette[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0};
  PngWriter w;
  prepare(w, image, 8);
  w.hasTransparency = true;
  w.transparentColour = {7 / 2, 255 - 7, 7};  // entry 7 exactly
  ASSERT_TRUE(writePng(w, folder / "t.png", image.palette, image.pixels.data()));
  test::LibpngImage li = readWithLibpng(folder / "t.png", false);
  ASSERT_TRUE(li.ok);
  EXPECT_EQ(li.paletteAlpha, (std::vector<uint8_t>{255, 255, 255, 255, 255, 255, 255, 0}));
  ASSERT_TRUE(li.hasBackground);
  EXPECT_EQ(li.background.index, 7);

  // No exact match: the nearest entry (10: red 5, green 245, blue 10) becomes transparent.
  w.transparentColour = {6, 245, 10};
  ASSERT_TRUE(writePng(w, folder / "t.png", image.palette, image.pixels.data()));
  li = readWithLibpng(folder / "t.png", false);
  ASSERT_EQ(li.paletteAlpha.size(), 11u);
  EXPECT_EQ(li.paletteAlpha[10], 0);
  EXPECT_EQ(li.background.index, 10);
}

TEST(PngWriter, TransparentColourOfTruecolourAndGrey) {
  test::TempFolder folder;
  const ImageRecord image = randomImage(5, 5, 24, 13);
  PngWriter w;
  prepare(w, image, 24);
  w.hasTransparency = true;
  w.transparentColour = {10, 20, 30};
  ASSERT_TRUE(writePng(w, folder / "c.png", image.palette, image.pixels.data()));
  test::LibpngImage li = readWithLibpng(folder / "c.png", false);
  ASSERT_TRUE(li.hasKey);
  EXPECT_EQ(li.key.red, 10);
  EXPECT_EQ(li.key.green, 20);
  EXPECT_EQ(li.key.blue, 30);
  EXPECT_EQ(li.background.blue, 30);

  prepare(w, image, 8);
  w.greyscale = true;
  w.hasTransparency = true;
  w.transparentColour = {10, 20, 30};
  ASSERT_TRUE(writePng(w, folder / "g.png", image.palette, image.pixels.data()));
  li = readWithLibpng(folder / "g.png", false);
  ASSERT_TRUE(li.hasKey);
  EXPECT_EQ(li.key.gray, (10 * 299 + 20 * 587 + 30 * 114) / 1000);
  EXPECT_EQ(li.background.gray, li.key.gray);
}

TEST(PngWriter, CommentAndResolution) {
  test::TempFolder folder;
  const ImageRecord image = randomImage(3, 3, 24, 17);
  PngWriter w;
  prepare(w, image, 24);
  w.comment = "a\r\nb";
  w.xPelsPerMeter = 3780;
  w.yPelsPerMeter = 2835;
  ASSERT_TRUE(writePng(w, folder / "c.png", image.palette, image.pixels.data()));
  test::LibpngImage li = readWithLibpng(folder / "c.png", false);
  EXPECT_EQ(li.text, "a\nb");
  EXPECT_EQ(li.unit, 1);
  EXPECT_EQ(li.xPpm, 3780u);
  EXPECT_EQ(li.yPpm, 2835u);

  prepare(w, image, 24);
  w.xPelsPerMeter = 3780;  // the other direction 0: no pHYs
  w.comment = std::string(5000, 'x');
  ASSERT_TRUE(writePng(w, folder / "c.png", image.palette, image.pixels.data()));
  li = readWithLibpng(folder / "c.png", false);
  EXPECT_EQ(li.unit, -1);
  EXPECT_EQ(li.text.size(), 4095u);
}

TEST(PngWriter, RefusalsBeforeAndAfterCreatingTheFile) {
  test::TempFolder folder;
  PngWriter w;
  w.converter.width = kPngMaxWidth + 1;
  w.converter.height = 1;
  setDepthConversion(w.converter, 24, 24);
  const uint8_t pixel[8] = {};
  EXPECT_FALSE(writePng(w, folder / "wide.png", nullptr, pixel));
  EXPECT_EQ(w.status, Status::CannotCreate);
  EXPECT_FALSE(std::filesystem::exists(folder / "wide.png"));

  const ImageRecord image = randomImage(3, 3, 24, 1);
  prepare(w, image, 16);
  EXPECT_FALSE(writePng(w, folder / "depth.png", image.palette, image.pixels.data()));
  EXPECT_EQ(w.status, Status::CannotWrite);

  prepare(w, image, 24);
  EXPECT_FALSE(writePng(w, folder / "missing" / "x.png", image.palette, image.pixels.data()));
  EXPECT_EQ(w.status, Status::CannotCreate);

  // Filtered data that cannot be handed to deflate in one go is refused with a reason.
  w = PngWriter{};
  w.converter.width = kPngMaxWidth;
  w.converter.height = 20;
  setDepthConversion(w.converter, 24, 24);
  EXPECT_FALSE(writePng(w, folder / "big.png", nullptr, pixel));
  EXPECT_EQ(w.status, Status::BadImage);
}

}  // namespace
}  // namespace velorin
