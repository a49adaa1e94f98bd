// Tiny files that claim gigapixels are refused before their pixel blocks are allocated, while
// large real pictures, truncated ones included, still decode.
#include <gtest/gtest.h>

#include <array>

#include "formats/gif_reader.h"
#include "formats/jpeg_reader.h"
#include "formats/jpeg_test_support.h"

namespace velorin {
namespace {

void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}

// A GIF with the given screen and one image of w x h whose data is a clear code and an end code.
std::vector<uint8_t> tinyGif(uint32_t screenW, uint32_t screenH, uint32_t w, uint32_t h) {
  std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a'};
  put16(g, screenW);
  put16(g, screenH);
  g.insert(g.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255, ','});
  put16(g, 0);
  put16(g, 0);
  put16(g, w);
  put16(g, h);
  g.insert(g.end(), {0, 2, 2, 0x44, 0x01, 0, ';'});
  return g;
}

TEST(ReaderLimits, GifScreenOrImageFarBeyondItsDataIsRefused) {
  GifReader reader;
  ImageRecord record;
  for (const auto& [sw, sh, w, h] : std::vector<std::array<uint32_t, 4>>{
           {65535, 65535, 1, 1}, {65535, 65535, 65535, 65535}, {8192, 4096, 8192, 4096}}) {
    EXPECT_FALSE(readGifMemory(reader, tinyGif(sw, sh, w, h).data(), tinyGif(sw, sh, w, h).size(), record))
        << sw << "x" << sh;
    EXPECT_EQ(reader.status, Status::BadImage);
    EXPECT_FALSE(record.pixels);
  }
  // Small screens with little data are ordinary truncated files: they still decode.
  const auto small = tinyGif(1000, 1000, 1000, 1000);
  EXPECT_TRUE(readGifMemory(reader, small.data(), small.size(), record));

  EXPECT_TRUE(gifSizesPlausible(uint64_t{5000} * 5000, uint64_t{5000} * 5000, 300000));
  EXPECT_FALSE(gifSizesPlausible(uint64_t{5000} * 5000, 100, 300000));
}

TEST(ReaderLimits, JpegHeaderWithoutDataForItsSizeIsRefusedButLargeTruncatedPhotosDecode) {
  // A flat 18-megapixel picture compresses to little data; cut in half it must still decode.
  const int width = 4608, height = 4096;
  std::vector<uint8_t> grey(static_cast<size_t>(width) * height, 0x60);
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(test::detail::libraryEncode(width, height, 1, grey.data(), 75, 1, 1, false, jpeg));
  JpegReader reader;
  ImageRecord record;
  ASSERT_TRUE(readJpegMemory(reader, jpeg.data(), jpeg.size(), record));
  std::vector<uint8_t> half(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() / 2));
  EXPECT_TRUE(readJpegMemory(reader, half.data(), half.size(), record));
  EXPECT_EQ(record.header.biWidth, width);

  // The same header with almost none of its data: refused before the 18 MB block.
  const auto segments = test::listSegments(jpeg);
  size_t scanStart = 0;
  for (const auto& s : segments)
    if (s.code == 0xDA) scanStart = s.offset + 2 + s.length;
  ASSERT_GT(scanStart, 0u);
  std::vector<uint8_t> header(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(scanStart + 64));
  record.pixels.reset();
  EXPECT_FALSE(readJpegMemory(reader, header.data(), header.size(), record));
  EXPECT_EQ(reader.status, Status::BadImage);
  EXPECT_FALSE(record.pixels);
  EXPECT_TRUE(entropyDataPlausible(uint64_t{1} << 24, 0));
}

}  // namespace
}  // namespace velorin
