#include "formats/exif.h"

#include <gtest/gtest.h>

#include <cstring>

#include "formats/jpeg_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

std::vector<uint8_t> jpegWithExif(const test::ExifSpec& spec, int width = 16, int height = 16) {
  return test::withSegmentAfterSoi(test::libraryEncode(width, height, 3),
                                   test::segment(0xE1, test::exifPayload(spec)));
}

// The value field of the first entry with the tag anywhere in a TIFF block.
const uint8_t* findTag(const uint8_t* tiff, size_t length, bool big, uint32_t tag, uint32_t type) {
  for (size_t p = 8; p + 12 <= length; p += 2) {
    const uint32_t t = big ? loadBe16(tiff + p) : loadLe16(tiff + p);
    const uint32_t ty = big ? loadBe16(tiff + p + 2) : loadLe16(tiff + p + 2);
    if (t == tag && ty == type) return tiff + p + 8;
  }
  return nullptr;
}

TEST(Exif, OrientationInBothByteOrders) {
  for (bool big : {false, true}) {
    for (int orientation : {1, 2, 3, 4, 5, 6, 7, 8, 9}) {
      test::ExifSpec spec;
      spec.bigEndian = big;
      spec.orientation = orientation;
      const auto jpeg = jpegWithExif(spec);
      const int expected = orientation == 3 || orientation == 6 || orientation == 8 ? orientation : 1;
      EXPECT_EQ(readExifOrientation(jpeg.data(), jpeg.size()), expected) << big << orientation;
    }
  }
  test::ExifSpec none;
  const auto jpeg = jpegWithExif(none);
  EXPECT_EQ(readExifOrientation(jpeg.data(), jpeg.size()), 1);
  EXPECT_EQ(readExifOrientation(nullptr, 0), 1);
}

TEST(Exif, FirstSegmentForReadersLastForTheDecoder) {
  test::ExifSpec first;
  first.orientation = 3;
  first.dateTime = "2020:01:02 03:04:05";
  test::ExifSpec second;
  second.orientation = 6;
  second.dateTime = "2021:01:01 00:00:00";
  std::vector<uint8_t> jpeg = jpegWithExif(second);
  jpeg = test::withSegmentAfterSoi(jpeg, test::segment(0xE1, test::exifPayload(first)));
  EXPECT_EQ(readExifOrientation(jpeg.data(), jpeg.size()), 3);
  bool hasExif = false;
  EXPECT_EQ(readLastExifOrientation(jpeg.data(), jpeg.size(), hasExif), 6);
  EXPECT_TRUE(hasExif);
  char date[20];
  ASSERT_TRUE(readExifDateTime(jpeg.data(), jpeg.size(), date));
  EXPECT_STREQ(date, "2020:01:02 03:04:05");
  std::vector<uint8_t> copy;
  ASSERT_TRUE(takeExifCopy(jpeg.data(), jpeg.size(), false, copy));
  EXPECT_EQ(copy, test::exifPayload(first));
}

TEST(Exif, DateTimeFromRealCameraFiles) {
  const auto bytes = test::readBytes(test::testdata("jpeg/exif-samples/Canon_40D.jpg"));
  char date[20];
  ASSERT_TRUE(readExifDateTime(bytes.data(), bytes.size(), date));
  EXPECT_EQ(std::strlen(date), 19u);
  EXPECT_EQ(date[4], ':');
  test::ExifSpec spec;
  spec.bigEndian = true;
  spec.dateTime = "1999:12:31 23:59:59";
  const auto jpeg = jpegWithExif(spec);
  ASSERT_TRUE(readExifDateTime(jpeg.data(), jpeg.size(), date));
  EXPECT_STREQ(date, "1999:12:31 23:59:59");
  const auto plain = test::libraryEncode(8, 8, 3);
  EXPECT_FALSE(readExifDateTime(plain.data(), plain.size(), date));
}

TEST(Exif, CopyResetsOrientationOnlyWhenAskedAndNeverTouchesTheSource) {
  for (bool big : {false, true}) {
    test::ExifSpec spec;
    spec.bigEndian = big;
    spec.orientation = 6;
    const auto jpeg = jpegWithExif(spec);
    const auto before = jpeg;
    std::vector<uint8_t> copy;
    ASSERT_TRUE(takeExifCopy(jpeg.data(), jpeg.size(), true, copy));
    EXPECT_EQ(jpeg, before);
    const uint8_t* value = findTag(copy.data() + 6, copy.size() - 6, big, 274, 3);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(big ? loadBe16(value) : loadLe16(value), 1u);
    ASSERT_TRUE(takeExifCopy(jpeg.data(), jpeg.size(), false, copy));
    value = findTag(copy.data() + 6, copy.size() - 6, big, 274, 3);
    EXPECT_EQ(big ? loadBe16(value) : loadLe16(value), 6u);
  }
  const auto plain = test::libraryEncode(8, 8, 3);
  std::vector<uint8_t> copy = {1, 2};
  EXPECT_FALSE(takeExifCopy(plain.data(), plain.size(), true, copy));
  EXPECT_TRUE(copy.empty());
}

TEST(Exif, DimensionsBecomeLongsInBothByteOrders) {
  for (bool big : {false, true}) {
    test::ExifSpec spec;
    spec.bigEndian = big;
    std::vector<uint8_t> payload = test::exifPayload(spec);
    adjustExifDimensions(payload.data() + 6, payload.size() - 6, 4000, 3000);
    const uint8_t* x = findTag(payload.data() + 6, payload.size() - 6, big, 40962, 4);
    const uint8_t* y = findTag(payload.data() + 6, payload.size() - 6, big, 40963, 4);
    ASSERT_NE(x, nullptr);
    ASSERT_NE(y, nullptr);
    EXPECT_EQ(big ? loadBe32(x - 4) : loadLe32(x - 4), 1u);
    EXPECT_EQ(big ? loadBe32(x) : loadLe32(x), 4000u);
    EXPECT_EQ(big ? loadBe32(y) : loadLe32(y), 3000u);
  }
  // Not a TIFF header, or too short: left alone.
  std::vector<uint8_t> junk(40, 0x11);
  const auto before = junk;
  adjustExifDimensions(junk.data(), junk.size(), 1, 1);
  adjustExifDimensions(junk.data(), 5, 1, 1);
  EXPECT_EQ(junk, before);
}

TEST(Exif, HostileOffsetsAndCountsFindNothing) {
  test::ExifSpec spec;
  spec.orientation = 6;
  spec.dateTime = "2020:01:02 03:04:05";
  const std::vector<uint8_t> good = test::exifPayload(spec);
  // Every IFD0 offset, entry count and sub-IFD pointer replaced by extreme values.
  for (size_t at : {size_t{10}, size_t{14}, size_t{14 + 2 + 12 + 8}, size_t{14 + 2 + 24 + 8}}) {
    for (uint32_t value : {0xFFFFFFFFu, 0xFFFFu, 0x7FFFFFF0u, 60000u}) {
      std::vector<uint8_t> payload = good;
      for (int i = 0; i < 4 && at + i < payload.size(); ++i)
        payload[at + i] = static_cast<uint8_t>(value >> (8 * i));
      const auto jpeg = test::withSegmentAfterSoi(test::libraryEncode(8, 8, 3),
                                                  test::segment(0xE1, payload));
      const int orientation = readExifOrientation(jpeg.data(), jpeg.size());
      EXPECT_TRUE(orientation == 1 || orientation == 6);
      char date[20];
      readExifDateTime(jpeg.data(), jpeg.size(), date);
      std::vector<uint8_t> copy;
      EXPECT_TRUE(takeExifCopy(jpeg.data(), jpeg.size(), true, copy));
      adjustExifDimensions(copy.data() + 6, copy.size() - 6, 10, 10);
    }
  }
  // Segments cut short: the walk stops with a status and keeps what it found.
  MarkerWalker walker;
  const uint8_t badLength[] = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x01, 0xFF, 0xD9};
  walker.reset(badLength, sizeof badLength);
  walker.exifHook = orientationHook;
  EXPECT_EQ(walkMarkers(walker), 0);
  EXPECT_EQ(walker.status, Status::Truncated);
  const uint8_t shortExif[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x0A, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I'};
  walker.reset(shortExif, sizeof shortExif);
  walker.exifHook = orientationHook;
  EXPECT_EQ(walkMarkers(walker), 1);
  EXPECT_TRUE(walker.hasExif);
}

// A file with an EXIF thumbnail of the given size, and something after the thumbnail.
std::vector<uint8_t> fileWithThumbnail(bool big, int thumbWidth, int thumbHeight) {
  test::ExifSpec spec;
  spec.bigEndian = big;
  spec.orientation = 1;
  spec.thumbnail = test::libraryEncode(thumbWidth, thumbHeight, 3, 70);
  return jpegWithExif(spec, 64, 48);
}

TEST(Exif, ThumbnailInfoAndInPlaceRewrite) {
  for (bool big : {false, true}) {
    test::TempFolder folder;
    const auto path = folder / "t.jpg";
    const auto original = fileWithThumbnail(big, 40, 30);
    test::writeBytes(path, original);
    ExifThumbnailInfo info;
    ASSERT_TRUE(readExifThumbnailInfo(path, info));
    EXPECT_EQ(info.thumbWidth, 40);
    EXPECT_EQ(info.thumbHeight, 30);
    EXPECT_EQ(info.bigEndian, big);
    EXPECT_EQ(info.room, 65527 - static_cast<int32_t>(info.thumbnailOffset - 6));

    const auto replacement = test::libraryEncode(24, 12, 3, 60);
    ASSERT_TRUE(rewriteExifThumbnail(path, info, replacement.data(),
                                     static_cast<uint32_t>(replacement.size())));
    const auto rewritten = test::readBytes(path);
    const auto segments = test::listSegments(rewritten);
    ASSERT_EQ(segments[0].code, 0xE1);
    EXPECT_EQ(segments[0].length, info.thumbnailOffset + replacement.size() + 2);
    // The main image is untouched and the new thumbnail reads back.
    const auto a = test::libraryDecode(original);
    const auto b = test::libraryDecode(rewritten);
    EXPECT_EQ(a.rows, b.rows);
    ExifThumbnailInfo again;
    ASSERT_TRUE(readExifThumbnailInfo(path, again));
    EXPECT_EQ(again.thumbWidth, 24);
    EXPECT_EQ(again.thumbHeight, 12);
    EXPECT_EQ(again.thumbnailLength, replacement.size());

    // A thumbnail beyond the room is not written.
    std::vector<uint8_t> huge(static_cast<size_t>(again.room) + 1, 0);
    EXPECT_FALSE(rewriteExifThumbnail(path, again, huge.data(), static_cast<uint32_t>(huge.size())));
    EXPECT_EQ(test::readBytes(path), rewritten);
  }
  test::TempFolder folder;
  ExifThumbnailInfo info;
  test::writeBytes(folder / "plain.jpg", test::libraryEncode(8, 8, 3));
  EXPECT_FALSE(readExifThumbnailInfo(folder / "plain.jpg", info));
  EXPECT_FALSE(readExifThumbnailInfo(folder / "missing.jpg", info));
}

TEST(Exif, RegeneratedThumbnailIsTheImageItself) {
  test::TempFolder folder;
  const auto path = folder / "r.jpg";
  test::writeBytes(path, fileWithThumbnail(false, 40, 30));
  const int32_t width = 120;
  const int32_t height = 90;
  PixelBuffer pixels;
  pixels.allocate(paddedStride(width, 24) * height);
  std::memset(pixels.data(), 0x80, pixels.size());
  ThumbnailImage image;
  image.width = width;
  image.height = height;
  image.pixels = pixels.data();
  ASSERT_TRUE(regenerateExifThumbnail(path, image));
  ExifThumbnailInfo info;
  ASSERT_TRUE(readExifThumbnailInfo(path, info));
  EXPECT_EQ(info.thumbWidth, width);
  EXPECT_EQ(info.thumbHeight, height);
  const std::vector<uint8_t> thumb(info.payload.begin() + info.thumbnailOffset,
                                   info.payload.begin() + info.thumbnailOffset + info.thumbnailLength);
  const auto decoded = test::libraryDecode(thumb);
  ASSERT_TRUE(decoded.ok);
  EXPECT_NEAR(decoded.rows[0], 0x80, 2);
}

}  // namespace
}  // namespace velorin
