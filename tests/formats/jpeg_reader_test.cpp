#include "formats/jpeg_reader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "formats/jpeg_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::LibraryImage;

// Our bottom-up padded record against the library's top-down rows.
::testing::AssertionResult samePixels(const ImageRecord& record, const LibraryImage& reference) {
  if (record.header.biWidth != reference.width || record.header.biHeight != reference.height)
    return ::testing::AssertionFailure() << "size " << record.header.biWidth << "x"
                                         << record.header.biHeight << " vs " << reference.width
                                         << "x" << reference.height;
  const int bits = reference.components == 1 ? 8 : 24;
  if (record.header.biBitCount != bits) return ::testing::AssertionFailure() << "bit count";
  const size_t stride = paddedStride(reference.width, bits);
  const size_t rowBytes = static_cast<size_t>(reference.width) * (bits / 8);
  for (int y = 0; y < reference.height; ++y) {
    const uint8_t* ours = record.pixels.data() + stride * (reference.height - 1 - y);
    if (reference.components == 4) {
      const uint8_t* cmyk = reference.rows.data() + static_cast<size_t>(reference.width) * 4 * y;
      for (int x = 0; x < reference.width; ++x, cmyk += 4) {
        const int k = cmyk[3];
        const uint8_t expected[3] = {static_cast<uint8_t>(cmyk[2] * k / 255),
                                     static_cast<uint8_t>(cmyk[1] * k / 255),
                                     static_cast<uint8_t>(cmyk[0] * k / 255)};
        if (!std::equal(expected, expected + 3, ours + 3 * x))
          return ::testing::AssertionFailure() << "CMYK pixel " << x << "," << y;
      }
    } else if (!std::equal(ours, ours + rowBytes, reference.rows.data() + rowBytes * y)) {
      return ::testing::AssertionFailure() << "row " << y << " differs";
    }
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::filesystem::path> conformanceFiles() {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(test::testdata("jpeg")))
    if (entry.path().extension() == ".jpg") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(JpegReader, EveryConformanceFileMatchesTheLibrarysOwnDecode) {
  const auto files = conformanceFiles();
  ASSERT_GE(files.size(), 50u);
  for (const auto& path : files) {
    SCOPED_TRACE(path.string());
    const std::vector<uint8_t> bytes = test::readBytes(path);
    const LibraryImage reference = test::libraryDecode(bytes);
    JpegReader reader;
    ImageRecord record;
    const bool ok = readJpegFile(reader, path, record);
    if (!reference.ok) {
      EXPECT_FALSE(ok);
      EXPECT_NE(reader.status, Status::Ok);
      continue;
    }
    ASSERT_TRUE(ok) << statusText(reader.status) << " " << reader.message;
    EXPECT_TRUE(samePixels(record, reference));
    EXPECT_EQ(record.sourceFormat, kFormatJpeg);
    EXPECT_EQ(record.sourceBitCount, record.header.biBitCount);
    EXPECT_EQ(record.sourceFileSize, bytes.size());
    if (reference.components == 1) {
      for (int i = 0; i < 256; ++i) {
        const uint8_t v = static_cast<uint8_t>(i);
        ASSERT_EQ(record.palette[i], (RgbQuad{v, v, v, 0}));
      }
    }
  }
}

TEST(JpegReader, ReducedDecodesMatchTheLibraryAtTheSameScale) {
  for (const char* name : {"jpeg/libjpeg-turbo/testorig.jpg", "jpeg/pillow/pil_sample_cmyk.jpg",
                           "jpeg/libjpeg-turbo/testimggray.jpg", "jpeg/generated/testorig_12x16_420.jpg"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes = test::readBytes(test::testdata(name));
    const LibraryImage full = test::libraryDecode(bytes);
    ASSERT_TRUE(full.ok);
    for (int denominator : {2, 4, 8}) {
      JpegReader reader;
      reader.targetWidth = std::max(1, full.width / denominator);
      reader.targetHeight = 1;  // one pixel: the height does not constrain
      const int expected =
          jpegScaleDenominator(full.width, full.height, reader.targetWidth, reader.targetHeight);
      EXPECT_GE(expected, denominator);
      ImageRecord record;
      ASSERT_TRUE(readJpegMemory(reader, bytes.data(), bytes.size(), record));
      EXPECT_TRUE(samePixels(record, test::libraryDecode(bytes, expected))) << "1/" << expected;
    }
  }
}

TEST(JpegReader, ScaleDenominatorFollowsTheWholeNumberRatio) {
  EXPECT_EQ(jpegScaleDenominator(4000, 3000, 800, 1), 4);  // r = min(5, 3000)
  EXPECT_EQ(jpegScaleDenominator(4000, 3000, 400, 1), 8);  // 500 x 375 still keeps 400
  EXPECT_EQ(jpegScaleDenominator(4000, 3000, 600, 1), 4);
  EXPECT_EQ(jpegScaleDenominator(4000, 3000, 1, 1600), 1);
  EXPECT_EQ(jpegScaleDenominator(4000, 3000, 1600, 1600), 1);
  EXPECT_EQ(jpegScaleDenominator(4000, 3000, 1000, 1000), 2);
  EXPECT_EQ(jpegScaleDenominator(100, 100, 0, 0), 1);
  EXPECT_EQ(jpegScaleDenominator(100, 100, 200, 1), 1);
}

TEST(JpegReader, CameraSizeDecodesAtAQuarterAndAnEighth) {
  const std::vector<uint8_t> bytes = test::libraryEncode(4000, 3000, 3, 50);
  JpegReader reader;
  ImageRecord record;
  reader.targetWidth = 800;
  reader.targetHeight = 1;
  ASSERT_TRUE(readJpegMemory(reader, bytes.data(), bytes.size(), record));
  EXPECT_EQ(record.header.biWidth, 1000);
  EXPECT_EQ(record.header.biHeight, 750);
  reader.targetWidth = 400;
  ASSERT_TRUE(readJpegMemory(reader, bytes.data(), bytes.size(), record));
  EXPECT_EQ(record.header.biWidth, 500);
  EXPECT_EQ(record.header.biHeight, 375);
  reader.targetWidth = reader.targetHeight = 0;
  ASSERT_TRUE(readJpegMemory(reader, bytes.data(), bytes.size(), record));
  EXPECT_EQ(record.header.biWidth, 4000);
}

TEST(JpegReader, OrientationSamplesReadOnlyTheTurnsTheConverterActsOn) {
  for (int n = 0; n <= 8; ++n) {
    for (const char* kind : {"Landscape", "Portrait"}) {
      const std::string name =
          std::string("jpeg/exif-orientation-examples/") + kind + "_" + std::to_string(n) + ".jpg";
      SCOPED_TRACE(name);
      JpegReader reader;
      ImageRecord record;
      reader.targetWidth = reader.targetHeight = 100;  // small decodes keep the test quick
      ASSERT_TRUE(readJpegFile(reader, test::testdata(name), record));
      const int expected = n == 3 || n == 6 || n == 8 ? n : 1;
      EXPECT_EQ(reader.orientation, expected);
      if (n != 0) {
        EXPECT_TRUE(reader.hasExif);
      }
    }
  }
  for (int n = 2; n <= 8; ++n) {
    JpegReader reader;
    ImageRecord record;
    const std::string name = "jpeg/pillow/hopper_orientation_" + std::to_string(n) + ".jpg";
    ASSERT_TRUE(readJpegFile(reader, test::testdata(name), record)) << name;
    EXPECT_EQ(reader.orientation, n == 3 || n == 6 || n == 8 ? n : 1) << name;
  }
}

TEST(JpegReader, TheLastExifSegmentBeforeTheScanDecidesTheOrientation) {
  const std::vector<uint8_t> plain = test::libraryEncode(16, 16, 3);
  test::ExifSpec first;
  first.orientation = 6;
  test::ExifSpec second;
  second.bigEndian = true;
  second.orientation = 8;
  std::vector<uint8_t> bytes = test::withSegmentAfterSoi(plain, test::segment(0xE1, test::exifPayload(second)));
  bytes = test::withSegmentAfterSoi(bytes, test::segment(0xE1, test::exifPayload(first)));
  JpegReader reader;
  ImageRecord record;
  ASSERT_TRUE(readJpegMemory(reader, bytes.data(), bytes.size(), record));
  EXPECT_TRUE(reader.hasExif);
  EXPECT_EQ(reader.orientation, 8);
}

TEST(JpegReader, TruncatedDataStillDecodesToFullSize) {
  const std::vector<uint8_t> bytes = test::readBytes(test::testdata("jpeg/libjpeg-turbo/testorig.jpg"));
  const LibraryImage full = test::libraryDecode(bytes);
  for (size_t keep : {size_t{700}, bytes.size() / 2, bytes.size() - 2}) {
    const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + keep);
    JpegReader reader;
    ImageRecord record;
    ASSERT_TRUE(readJpegMemory(reader, cut.data(), cut.size(), record)) << keep;
    EXPECT_EQ(record.header.biWidth, full.width);
    EXPECT_EQ(record.header.biHeight, full.height);
    EXPECT_TRUE(samePixels(record, test::libraryDecode(cut)));
  }
}

TEST(JpegReader, DensityBecomesPelsPerMetre) {
  JpegReader reader;
  ImageRecord record;
  ASSERT_TRUE(readJpegFile(reader, test::testdata("jpeg/generated/testorig_72dpi.jpg"), record));
  EXPECT_EQ(record.header.biXPelsPerMeter, 2835);
  EXPECT_EQ(record.header.biYPelsPerMeter, 2835);
  ASSERT_TRUE(readJpegFile(reader, test::testdata("jpeg/pillow/jfif_unit_cm.jpg"), record));
  const LibraryImage cm = test::libraryDecode(test::readBytes(test::testdata("jpeg/pillow/jfif_unit_cm.jpg")));
  ASSERT_EQ(cm.densityUnit, 2);
  EXPECT_EQ(record.header.biXPelsPerMeter, cm.xDensity * 100);
  // Unit 0 is an aspect ratio, not a resolution.
  const std::vector<uint8_t> plain = test::libraryEncode(8, 8, 3);
  ASSERT_TRUE(readJpegMemory(reader, plain.data(), plain.size(), record));
  EXPECT_EQ(record.header.biXPelsPerMeter, 0);
  EXPECT_EQ(record.header.biYPelsPerMeter, 0);
}

TEST(JpegReader, HostileInputEndsWithAStatus) {
  JpegReader reader;
  ImageRecord record;
  const uint8_t notJpeg[] = {0xFF, 0xD8, 0xFF, 0xD9, 0, 0, 0, 0};
  EXPECT_FALSE(readJpegMemory(reader, notJpeg, sizeof notJpeg, record));
  EXPECT_NE(reader.status, Status::Ok);
  EXPECT_FALSE(record.pixels);
  EXPECT_FALSE(readJpegMemory(reader, notJpeg, 0, record));
  EXPECT_FALSE(readJpegFile(reader, "/nonexistent/file.jpg", record));
  EXPECT_EQ(reader.status, Status::Truncated);
}

}  // namespace
}  // namespace velorin
