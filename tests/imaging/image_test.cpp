#include <gtest/gtest.h>

#include "imaging/image.h"

namespace velorin {
namespace {

TEST(ImageCore, SizeProductsAreRefusedAtFourGigabytes) {
  EXPECT_EQ(checkedBlockSize(65536, 65535), uint64_t{65536} * 65535);
  EXPECT_EQ(checkedBlockSize(65536, 65536), kMaxBlockSize);
  EXPECT_EQ(checkedBlockSize(int64_t{1} << 40, 2), kMaxBlockSize);  // would wrap 32 bits
  EXPECT_EQ(checkedBlockSize(-1, 5), kMaxBlockSize);
  EXPECT_EQ(checkedBlockSize(0, 5), 0u);
}

TEST(ImageCore, StridesArePaddedToFourBytes) {
  EXPECT_EQ(paddedStride(1, 8), 4u);
  EXPECT_EQ(paddedStride(5, 8), 8u);
  EXPECT_EQ(paddedStride(1, 24), 4u);
  EXPECT_EQ(paddedStride(5, 24), 16u);
  EXPECT_EQ(paddedStride(33, 1), 8u);
  EXPECT_EQ(paddedStride(9, 4), 8u);
}

TEST(ImageCore, PixelBufferIsZeroFilledWithFourSpareBytes) {
  PixelBuffer buffer;
  ASSERT_TRUE(buffer.allocate(13));
  EXPECT_EQ(buffer.size(), 13u);
  for (size_t i = 0; i < 13 + 4; ++i) EXPECT_EQ(buffer.data()[i], 0) << i;
  EXPECT_FALSE(buffer.allocate(kMaxBlockSize));
  EXPECT_FALSE(buffer);
}

TEST(ImageCore, AllocationBeyondFourGigabytesFailsBeforeTakingMemory) {
  ImageRecord record;
  // 24-bit stride of 65536 pixels is 196608 bytes; 21846 rows reach 2^32.
  EXPECT_EQ(record.allocatePixels(65536, 21846, 24), Status::BadImage);
  EXPECT_FALSE(record.pixels);
  EXPECT_EQ(record.allocatePixels(0, 5, 8), Status::BadImage);
  EXPECT_EQ(record.allocatePixels(3, 2, 24, -5, 2835), Status::Ok);
  EXPECT_EQ(record.header.biXPelsPerMeter, 0);  // negative resolutions are stored as 0
  EXPECT_EQ(record.header.biYPelsPerMeter, 2835);
  EXPECT_EQ(record.pixels.size(), 2 * 12u);
}

TEST(ImageCore, WorkingValuesFollowTheHeaderAndSideInformationResets) {
  WorkingImage image;
  ASSERT_EQ(image.allocatePixels(7, 3, 8, 100, 200), Status::Ok);
  image.hasExif = true;
  image.exifOrientation = 6;
  image.hasTransparency = true;
  image.hasExifDateTime = true;
  image.resetSideInformation();
  EXPECT_FALSE(image.hasExif);
  EXPECT_EQ(image.exifOrientation, 1);
  EXPECT_FALSE(image.hasTransparency);
  EXPECT_FALSE(image.hasExifDateTime);
  image.takeWorkingValuesFromHeader();
  EXPECT_EQ(image.workWidth, 7);
  EXPECT_EQ(image.workHeight, 3);
  EXPECT_EQ(image.workBitCount, 8);
  EXPECT_EQ(image.workXPelsPerMeter, 100);
  EXPECT_EQ(image.workStride(), 8u);
}

}  // namespace
}  // namespace velorin
