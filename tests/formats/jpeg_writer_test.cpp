#include "formats/jpeg_writer.h"

#include <gtest/gtest.h>

#include "formats/exif.h"
#include "formats/jpeg_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

// A bottom-up padded 24-bit image made from the shared test picture.
struct Picture {
  int32_t width;
  int32_t height;
  std::vector<uint8_t> topDown;
  PixelBuffer pixels;
  Picture(int32_t w, int32_t h) : width(w), height(h), topDown(test::testPicture(w, h, 3)) {
    const size_t stride = paddedStride(w, 24);
    pixels.allocate(stride * h);
    for (int32_t y = 0; y < h; ++y)
      std::copy_n(topDown.data() + size_t{3} * w * y, 3 * w, pixels.data() + stride * (h - 1 - y));
  }
};

std::vector<uint8_t> writeToFile(JpegWriter& writer, const Picture& picture,
                                 const RgbQuad* palette = nullptr) {
  test::TempFolder folder;
  const auto path = folder / "out.jpg";
  EXPECT_TRUE(writeJpeg(writer, path, palette, picture.pixels.data())) << statusText(writer.status);
  return test::readBytes(path);
}

TEST(JpegWriter, PixelsMatchTheLibraryEncodingTheSameRowsWithTheSameSettings) {
  const Picture picture(37, 23);
  for (int sampling : {0, 1, 2}) {
    JpegWriter writer;
    setupJpegWriter(writer, picture.width, picture.height, 24);
    setJpegWriterOptions(writer, 85, sampling, false, sampling == 1);
    const test::LibraryImage ours = test::libraryDecode(writeToFile(writer, picture));
    const int h = sampling == 2 ? 1 : 2;
    const int v = sampling == 0 ? 2 : 1;
    const test::LibraryImage reference =
        test::libraryDecode(test::libraryEncode(picture.width, picture.height, 3, 85, h, v));
    ASSERT_TRUE(ours.ok);
    EXPECT_EQ(ours.hSamp, h);
    EXPECT_EQ(ours.vSamp, v);
    // Row order and colour order: the first row in memory is the bottom of the picture.
    EXPECT_EQ(ours.rows, reference.rows) << "sampling " << sampling;
  }
}

TEST(JpegWriter, ResolutionIsWrittenAsDotsPerInch) {
  const Picture picture(8, 8);
  JpegWriter writer;
  setupJpegWriter(writer, 8, 8, 24);
  writer.xPelsPerMeter = 2835;
  writer.yPelsPerMeter = 3937;
  test::LibraryImage image = test::libraryDecode(writeToFile(writer, picture));
  EXPECT_EQ(image.densityUnit, 1);
  EXPECT_EQ(image.xDensity, 72);
  EXPECT_EQ(image.yDensity, 100);
  // One axis missing: the library's aspect-ratio default stays.
  setupJpegWriter(writer, 8, 8, 24);
  writer.xPelsPerMeter = 2835;
  image = test::libraryDecode(writeToFile(writer, picture));
  EXPECT_EQ(image.densityUnit, 0);
}

TEST(JpegWriter, QualityOutOfRangeFollowsTheOptionRules) {
  const Picture picture(16, 16);
  auto tableFor = [&](int32_t quality) {
    JpegWriter writer;
    setupJpegWriter(writer, 16, 16, 24);
    setJpegWriterOptions(writer, quality, 0, false, false);
    return test::libraryDecode(writeToFile(writer, picture)).quantTable0;
  };
  const std::vector<int> q75 = tableFor(75);
  EXPECT_EQ(tableFor(101), q75);
  EXPECT_EQ(tableFor(0), tableFor(1));
  EXPECT_NE(tableFor(1), q75);
  // Baseline is forced: no entry above 255 even at quality 1.
  for (int entry : tableFor(1)) EXPECT_LE(entry, 255);
  // The standard luminance table's first entry, 16, scaled by 200 - 2 * 75 = 50 percent.
  EXPECT_EQ(q75[0], 8);
}

TEST(JpegWriter, GreyscaleIgnoresTheSamplingSetting) {
  const Picture picture(20, 10);
  JpegWriter writer;
  setupJpegWriter(writer, 20, 10, 24);
  setJpegWriterOptions(writer, 90, 1, true, false);
  const test::LibraryImage image = test::libraryDecode(writeToFile(writer, picture));
  EXPECT_EQ(image.jpegComponents, 1);
  EXPECT_EQ(image.hSamp, 1);
  EXPECT_EQ(image.vSamp, 1);
}

TEST(JpegWriter, EightBitInputGoesThroughItsPalette) {
  const int32_t width = 9;
  const int32_t height = 4;
  PixelBuffer pixels;
  pixels.allocate(paddedStride(width, 8) * height);  // all index 0
  RgbQuad palette[256] = {};
  palette[0] = {10, 200, 30, 0};
  JpegWriter writer;
  setupJpegWriter(writer, width, height, 8);
  setJpegWriterOptions(writer, 100, 2, false, false);
  test::TempFolder folder;
  ASSERT_TRUE(writeJpeg(writer, folder / "p.jpg", palette, pixels.data()));
  const test::LibraryImage image = test::libraryDecode(test::readBytes(folder / "p.jpg"));
  ASSERT_EQ(image.components, 3);
  EXPECT_NEAR(image.rows[0], 10, 3);
  EXPECT_NEAR(image.rows[1], 200, 3);
  EXPECT_NEAR(image.rows[2], 30, 3);
}

TEST(JpegWriter, ExifCopyReplacesJfifAndComesBeforeTheComment) {
  const Picture picture(30, 20);
  test::ExifSpec spec;
  spec.bigEndian = true;
  spec.orientation = 6;
  const std::vector<uint8_t> payload = test::exifPayload(spec);
  JpegWriter writer;
  setupJpegWriter(writer, 30, 20, 24);
  writer.exif = payload;
  writer.comment = "made\r\nhere";
  const std::vector<uint8_t> out = writeToFile(writer, picture);
  EXPECT_TRUE(writer.exif.empty());  // the copy never outlives the call
  const auto segments = test::listSegments(out);
  ASSERT_GE(segments.size(), 3u);
  EXPECT_EQ(segments[0].code, 0xE1);
  EXPECT_EQ(segments[0].length, payload.size() + 2);
  EXPECT_EQ(segments[1].code, 0xFE);
  EXPECT_EQ(std::string(out.begin() + segments[1].offset + 4, out.begin() + segments[1].offset + 14),
            "made\r\nhere");
  for (const auto& s : segments) EXPECT_NE(s.code, 0xE0);
  // PixelXDimension and PixelYDimension now hold the output size as LONG.
  const uint8_t* tiff = out.data() + segments[0].offset + 10;
  bool found = false;
  for (size_t p = 0; p + 12 <= payload.size() - 6; ++p) {
    if (loadBe16(tiff + p) == 40962 && loadBe16(tiff + p + 2) == 4) {
      EXPECT_EQ(loadBe32(tiff + p + 4), 1u);
      EXPECT_EQ(loadBe32(tiff + p + 8), 30u);
      EXPECT_EQ(loadBe16(tiff + p + 12), 40963);
      EXPECT_EQ(loadBe32(tiff + p + 20), 20u);
      found = true;
    }
  }
  EXPECT_TRUE(found);
  // Without an EXIF copy the JFIF header is back.
  setupJpegWriter(writer, 30, 20, 24);
  EXPECT_EQ(test::listSegments(writeToFile(writer, picture))[0].code, 0xE0);
}

TEST(JpegWriter, QualitySearchHalvesDownToTheBestFit) {
  // Sizes that fit up to quality 43, as in the documented example.
  std::vector<int32_t> tried;
  int32_t quality = 75;
  uint32_t size = 0;
  ASSERT_TRUE(searchJpegQuality(quality, 1000, size, [&](int32_t q, uint32_t& s) {
    tried.push_back(q);
    s = q <= 43 ? 900 : 1100;
    return true;
  }));
  EXPECT_EQ(tried, (std::vector<int32_t>{75, 38, 56, 47, 43, 45, 44, 43}));
  EXPECT_EQ(quality, 43);
  EXPECT_EQ(size, 900u);

  // Nothing fits: the search ends at quality 1 with that size.
  tried.clear();
  quality = 80;
  ASSERT_TRUE(searchJpegQuality(quality, 10, size, [&](int32_t q, uint32_t& s) {
    tried.push_back(q);
    s = 100 + q;
    return true;
  }));
  EXPECT_EQ(quality, 1);
  EXPECT_EQ(size, 101u);
  EXPECT_LE(tried.size(), 10u);

  // A fitting first attempt is the only one; a failing attempt fails the search.
  tried.clear();
  quality = 60;
  ASSERT_TRUE(searchJpegQuality(quality, 10, size, [&](int32_t q, uint32_t& s) {
    tried.push_back(q);
    s = 5;
    return true;
  }));
  EXPECT_EQ(tried.size(), 1u);
  EXPECT_FALSE(searchJpegQuality(quality, 10, size, [](int32_t, uint32_t&) { return false; }));
}

TEST(JpegWriter, MemoryEncodeNeverWritesPastItsCapacity) {
  const Picture picture(64, 64);
  JpegWriter writer;
  setupJpegWriter(writer, 64, 64, 24);
  std::vector<uint8_t> block(600 + 64, 0xAB);
  uint32_t size = 600;
  EXPECT_FALSE(encodeJpegLimited(writer, block.data(), size, nullptr, picture.pixels.data(), 1u << 30));
  EXPECT_EQ(writer.status, Status::CannotWrite);
  for (size_t i = 600; i < block.size(); ++i) ASSERT_EQ(block[i], 0xAB) << i;

  // With room the stream is complete and decodes.
  std::vector<uint8_t> roomy(1 << 20);
  size = static_cast<uint32_t>(roomy.size());
  ASSERT_TRUE(encodeJpegLimited(writer, roomy.data(), size, nullptr, picture.pixels.data(), 1u << 30));
  roomy.resize(size);
  EXPECT_TRUE(test::libraryDecode(roomy).ok);
}

TEST(JpegWriter, SizeLimitedFileFitsOrFallsBackToQualityOne) {
  const Picture picture(200, 150);
  test::TempFolder folder;
  JpegWriter writer;
  setupJpegWriter(writer, 200, 150, 24);
  setJpegWriterOptions(writer, 95, 0, false, false);
  ASSERT_TRUE(writeJpegWithLimit(writer, folder / "a.jpg", nullptr, picture.pixels.data(), 4));
  EXPECT_LE(std::filesystem::file_size(folder / "a.jpg"), 4096u);
  EXPECT_LT(writer.quality, 95);
  EXPECT_TRUE(test::libraryDecode(test::readBytes(folder / "a.jpg")).ok);

  setupJpegWriter(writer, 200, 150, 24);
  ASSERT_TRUE(writeJpegWithLimit(writer, folder / "b.jpg", nullptr, picture.pixels.data(), 0));
  EXPECT_EQ(writer.quality, 1);
  const auto bytes = test::readBytes(folder / "b.jpg");
  EXPECT_EQ(test::libraryDecode(bytes).quantTable0[0], 255);  // 16 x 50, clamped for baseline
}

int libraryBlocksTaken = 0;
int libraryBlocksGiven = 0;

void* countingAllocate(size_t bytes, bool) {
  ++libraryBlocksTaken;
  return std::calloc(bytes, 1);
}

void countingRelease(void* block, size_t) {
  ++libraryBlocksGiven;
  std::free(block);
}

TEST(JpegWriter, TheLibrarysLargeBuffersComeFromTheInstalledAllocator) {
  // Progressive output keeps the whole image's coefficients: megabytes at this size.
  const Picture picture(1200, 900);
  auto encode = [&] {
    JpegWriter writer;
    setupJpegWriter(writer, picture.width, picture.height, 24);
    setJpegWriterOptions(writer, 85, 0, false, true);
    return writeToFile(writer, picture);
  };
  const std::vector<uint8_t> plain = encode();
  setLargeBlockAllocator(&countingAllocate, &countingRelease);
  const std::vector<uint8_t> routed = encode();
  setLargeBlockAllocator(nullptr, nullptr);
  EXPECT_GT(libraryBlocksTaken, 0);
  EXPECT_EQ(libraryBlocksGiven, libraryBlocksTaken);
  EXPECT_EQ(routed, plain);
}

TEST(JpegWriter, UnwritablePathsAndEmptyImagesFail) {
  const Picture picture(4, 4);
  JpegWriter writer;
  setupJpegWriter(writer, 4, 4, 24);
  EXPECT_FALSE(writeJpeg(writer, "/nonexistent/dir/x.jpg", nullptr, picture.pixels.data()));
  EXPECT_EQ(writer.status, Status::CannotCreate);
  test::TempFolder folder;
  setupJpegWriter(writer, 0, 4, 24);
  EXPECT_FALSE(writeJpeg(writer, folder / "e.jpg", nullptr, picture.pixels.data()));
  EXPECT_NE(writer.status, Status::Ok);
}

}  // namespace
}  // namespace velorin
