#include <gtest/gtest.h>

#include <cstring>

#include "formats/bmp_reader.h"
#include "formats/bmp_writer.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::readBytes;

BmpWriter writerFor(const ImageRecord& record, int targetBits) {
  BmpWriter writer;
  writer.converter.width = record.header.biWidth;
  writer.converter.height = record.header.biHeight;
  setDepthConversion(writer.converter, record.header.biBitCount, targetBits);
  writer.xPelsPerMeter = 3780;
  writer.yPelsPerMeter = 2835;
  return writer;
}

ImageRecord gradient(int32_t width, int32_t height, int bits) {
  ImageRecord record;
  EXPECT_EQ(record.allocatePixels(width, height, bits), Status::Ok);
  for (size_t i = 0; i < record.pixels.size(); ++i) record.pixels.data()[i] = static_cast<uint8_t>(i * 7);
  for (int i = 0; i < 256; ++i)
    record.palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i / 2), 0};
  return record;
}

TEST(BmpWriter, EightBitsWithoutDepthChangeWritesTheWholePalette) {
  test::TempFolder folder;
  ImageRecord image = gradient(5, 3, 8);
  BmpWriter writer = writerFor(image, 8);
  ASSERT_TRUE(writeBmp(writer, folder / "out.bmp", image.palette, image.pixels.data()));
  const auto bytes = readBytes(folder / "out.bmp");
  ASSERT_EQ(bytes.size(), 54u + 1024 + 8 * 3);
  EXPECT_EQ(loadLe32(&bytes[2]), bytes.size());
  EXPECT_EQ(loadLe32(&bytes[10]), 54u + 1024);
  EXPECT_EQ(loadLe32(&bytes[14]), 40u);
  EXPECT_EQ(loadLe16(&bytes[28]), 8);
  EXPECT_EQ(loadLe32(&bytes[38]), 3780u);
  EXPECT_EQ(loadLe32(&bytes[42]), 2835u);
  EXPECT_EQ(loadLe32(&bytes[46]), 256u);

  // Read back: the same pixels and palette.
  BmpReader reader;
  ImageRecord back;
  ASSERT_TRUE(readBmpFile(reader, folder / "out.bmp", back));
  EXPECT_EQ(std::memcmp(back.pixels.data(), image.pixels.data(), image.pixels.size()), 0);
  EXPECT_EQ(back.palette[200], image.palette[200]);
}

TEST(BmpWriter, TwentyFourBitOutputHasNoPalette) {
  test::TempFolder folder;
  ImageRecord image = gradient(3, 2, 24);
  BmpWriter writer = writerFor(image, 24);
  ASSERT_TRUE(writeBmp(writer, folder / "out.bmp", image.palette, image.pixels.data()));
  const auto bytes = readBytes(folder / "out.bmp");
  EXPECT_EQ(bytes.size(), 54u + 12 * 2);
  EXPECT_EQ(loadLe32(&bytes[10]), 54u);
  EXPECT_EQ(loadLe32(&bytes[46]), 0u);
  EXPECT_EQ(loadLe16(&bytes[28]), 24);
}

TEST(BmpWriter, EightBitImageExpandsThroughItsPalette) {
  test::TempFolder folder;
  ImageRecord image = gradient(2, 1, 8);
  image.pixels.data()[0] = 10;
  image.pixels.data()[1] = 250;
  BmpWriter writer = writerFor(image, 24);
  ASSERT_TRUE(writeBmp(writer, folder / "out.bmp", image.palette, image.pixels.data()));
  BmpReader reader;
  ImageRecord back;
  ASSERT_TRUE(readBmpFile(reader, folder / "out.bmp", back));
  EXPECT_EQ(test::pixelAt(back, 0, 0), (RgbColour{5, 245, 10}));
  EXPECT_EQ(test::pixelAt(back, 1, 0), (RgbColour{125, 5, 250}));
}

TEST(BmpWriter, FailuresAreReported) {
  test::TempFolder folder;
  ImageRecord image = gradient(2, 2, 24);
  BmpWriter writer = writerFor(image, 24);
  EXPECT_FALSE(writeBmp(writer, folder / "no-such-folder" / "out.bmp", image.palette, image.pixels.data()));
  EXPECT_EQ(writer.status, Status::CannotCreate);

  // A full disk must not pass for a written file.
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_FALSE(writeBmp(writer, "/dev/full", image.palette, image.pixels.data()));
    EXPECT_EQ(writer.status, Status::CannotWrite);
  }
}

}  // namespace
}  // namespace velorin
