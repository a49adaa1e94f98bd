#include <gtest/gtest.h>

#include "formats/bmp_reader.h"
#include "formats/bmp_writer.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::readBytes;

// A 24-bit record of a few colours: red, green and blue stripes over white and black.
ImageRecord stripes(int32_t width, int32_t height) {
  ImageRecord record;
  EXPECT_EQ(record.allocatePixels(width, height, 24), Status::Ok);
  const RgbColour colours[5] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {0, 0, 0}};
  const uint64_t stride = paddedStride(width, 24);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const RgbColour& c = colours[(x + 2 * y) % 5];
      uint8_t* p = record.pixels.data() + y * stride + 3 * x;
      p[0] = c.blue, p[1] = c.green, p[2] = c.red;
    }
  return record;
}

struct Written {
  std::vector<uint8_t> bytes;
  ImageRecord back;
};

Written writeAndRead(const ImageRecord& image, int sourceBits, int targetBits, bool dither = false) {
  test::TempFolder folder;
  BmpWriter writer;
  writer.converter.width = image.header.biWidth;
  writer.converter.height = image.header.biHeight;
  setDepthConversion(writer.converter, sourceBits, targetBits);
  writer.converter.dither = dither;
  writer.xPelsPerMeter = 2835;
  writer.yPelsPerMeter = 2835;
  Written out;
  EXPECT_TRUE(writeBmp(writer, folder / "out.bmp", image.palette, image.pixels.data()))
      << static_cast<int>(writer.status);
  out.bytes = readBytes(folder / "out.bmp");
  BmpReader reader;
  EXPECT_TRUE(readBmpFile(reader, folder / "out.bmp", out.back));
  return out;
}

TEST(BmpWriterDepth, HeadersAndSizesAtOneFourAndEightBits) {
  const ImageRecord image = stripes(13, 3);
  struct Case {
    int bits;
    uint32_t entries, stride;
  } cases[] = {{1, 2, 4}, {4, 16, 8}, {8, 256, 16}};
  for (const Case& k : cases) {
    const Written out = writeAndRead(image, 24, k.bits);
    const uint32_t offset = 54 + 4 * k.entries;
    ASSERT_EQ(out.bytes.size(), offset + k.stride * 3) << k.bits;
    EXPECT_EQ(loadLe32(&out.bytes[2]), out.bytes.size());
    EXPECT_EQ(loadLe32(&out.bytes[10]), offset);
    EXPECT_EQ(loadLe16(&out.bytes[28]), k.bits);
    EXPECT_EQ(loadLe32(&out.bytes[30]), 0u);
    EXPECT_EQ(loadLe32(&out.bytes[46]), k.entries);
    EXPECT_EQ(loadLe32(&out.bytes[50]), 0u);
    EXPECT_EQ(out.back.sourceBitCount, static_cast<uint32_t>(k.bits));
  }
}

TEST(BmpWriterDepth, FewColoursSurviveFourAndEightBitsExactly) {
  const ImageRecord image = stripes(13, 3);
  for (int bits : {4, 8}) {
    const Written out = writeAndRead(image, 24, bits, true);
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < 13; ++x)
        ASSERT_EQ(test::pixelAt(out.back, x, y), test::pixelAt(image, x, y)) << bits;
    // Sorted by blue + green + red: black first, white last of the five.
    EXPECT_EQ(out.back.palette[0], (RgbQuad{0, 0, 0, 0}));
    EXPECT_EQ(out.back.palette[4], (RgbQuad{255, 255, 255, 0}));
  }
}

TEST(BmpWriterDepth, OneBitIsBlackAndWhiteByGrey) {
  const ImageRecord image = stripes(13, 3);
  const Written out = writeAndRead(image, 24, 1);
  EXPECT_EQ(out.back.palette[0], (RgbQuad{0, 0, 0, 0}));
  EXPECT_EQ(out.back.palette[1], (RgbQuad{255, 255, 255, 0}));
  // Greys: red 76, green 150, blue 29, white 255, black 0.
  const bool white[5] = {false, true, false, true, false};
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 13; ++x) {
      const int row = 2 - y;  // pixelAt counts from the top
      const RgbColour expected = white[(x + 2 * row) % 5] ? RgbColour{255, 255, 255} : RgbColour{};
      ASSERT_EQ(test::pixelAt(out.back, x, y), expected) << x << "," << y;
    }
}

TEST(BmpWriterDepth, IndexedRecordToFourBitsAndManyColoursToEight) {
  ImageRecord indexed;
  ASSERT_EQ(indexed.allocatePixels(7, 2, 8), Status::Ok);
  for (int i = 0; i < 256; ++i)
    indexed.palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
  for (int i = 0; i < 16; ++i) indexed.pixels.data()[i] = static_cast<uint8_t>(i % 8 * 30);
  const Written four = writeAndRead(indexed, 8, 4);
  EXPECT_EQ(loadLe32(&four.bytes[10]), 118u);
  EXPECT_EQ(four.bytes.size(), 118u + 4 * 2);
  for (int32_t x = 0; x < 7; ++x)
    EXPECT_EQ(test::pixelAt(four.back, x, 1), test::pixelAt(indexed, x, 1));

  // Thousands of colours: 256 entries written, every pixel within reach of its original.
  ImageRecord many;
  ASSERT_EQ(many.allocatePixels(64, 64, 24), Status::Ok);
  for (size_t i = 0; i < many.pixels.size(); ++i) many.pixels.data()[i] = static_cast<uint8_t>(i * 37 % 251);
  const Written eight = writeAndRead(many, 24, 8, true);
  EXPECT_EQ(loadLe32(&eight.bytes[46]), 256u);
  EXPECT_EQ(eight.bytes.size(), 1078u + 64 * 64);
}

TEST(BmpWriterDepth, RefusedConversionLeavesStatusCannotWrite) {
  test::TempFolder folder;
  const ImageRecord image = stripes(4, 4);
  BmpWriter writer;
  writer.converter.width = 4;
  writer.converter.height = 4;
  setDepthConversion(writer.converter, 16, 4);  // no such source depth in a record
  EXPECT_FALSE(writeBmp(writer, folder / "out.bmp", image.palette, image.pixels.data()));
  EXPECT_EQ(writer.status, Status::CannotWrite);
}

}  // namespace
}  // namespace velorin
