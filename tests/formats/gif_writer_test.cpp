#include "formats/gif_writer.h"

#include <gtest/gtest.h>

#include <random>

#include "formats/gif_reader.h"
#include "gif_oracle.h"
#include "support/test_support.h"

namespace velorin {
namespace {

// An 8-bit working image: bottom-up padded rows and a 256-entry palette, plus its indices with
// the top row first (what a decoder must give back).
struct IndexedSource {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rows;
  std::vector<uint8_t> topDown;
  RgbQuad palette[256] = {};
};

IndexedSource makeSource(int32_t width, int32_t height, int entries, uint32_t start) {
  IndexedSource s;
  s.width = width;
  s.height = height;
  std::mt19937 random(start);
  // Distinct entries: an 8-bit target then keeps the palette as it is.
  for (int i = 0; i < 256; ++i)
    s.palette[i] = {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                    static_cast<uint8_t>(i), 0};
  s.topDown.resize(static_cast<size_t>(width) * height);
  // Runs and repeats, so the dictionary builds long strings as well as short ones.
  for (size_t i = 0; i < s.topDown.size(); ++i)
    s.topDown[i] = i > 0 && random() % 4 != 0 ? s.topDown[i - 1 - random() % std::min<size_t>(i, 3)]
                                              : static_cast<uint8_t>(random() % entries);
  const size_t stride = paddedStride(width, 8);
  s.rows.assign(stride * height, 0);
  for (int32_t y = 0; y < height; ++y)
    std::copy_n(s.topDown.begin() + static_cast<ptrdiff_t>(y) * width, width,
                s.rows.begin() + static_cast<ptrdiff_t>((height - 1 - y) * stride));
  return s;
}

GifWriter writerFor(const IndexedSource& s, int targetBits, bool interlace) {
  GifWriter w;
  w.converter.width = s.width;
  w.converter.height = s.height;
  setDepthConversion(w.converter, 8, targetBits);
  w.interlace = interlace;
  return w;
}

// What the depth converter makes of a source: indices top row first and the palette.
struct Reduced {
  bool ok = false;
  std::vector<uint8_t> topDown;
  RgbQuad palette[256] = {};
};

Reduced reduce(const IndexedSource& s, const GifWriter& w) {
  Reduced r;
  DepthConverter converter = w.converter;
  std::vector<uint8_t> bottomUp(static_cast<size_t>(s.width) * s.height + 4);
  r.ok = convertToIndexBytes(converter, s.palette, s.rows.data(), r.palette, bottomUp.data());
  for (int32_t y = s.height - 1; y >= 0; --y)
    r.topDown.insert(r.topDown.end(), bottomUp.begin() + static_cast<ptrdiff_t>(y) * s.width,
                     bottomUp.begin() + static_cast<ptrdiff_t>(y + 1) * s.width);
  return r;
}

// The file giflib reads back must hold exactly the indices and table we meant to write.
void expectGiflibReads(const std::vector<uint8_t>& file, const std::vector<uint8_t>& topDown,
                       const RgbQuad* palette, int entries, int width, int height) {
  const test::GifOracleImage oracle = test::giflibFirstImage(file);
  ASSERT_TRUE(oracle.ok);
  ASSERT_EQ(oracle.screenWidth, width);
  ASSERT_EQ(oracle.screenHeight, height);
  ASSERT_EQ(oracle.indices, topDown);
  ASSERT_EQ(oracle.table.size(), static_cast<size_t>(entries));
  for (int i = 0; i < entries; ++i)
    ASSERT_EQ(oracle.table[i], (RgbColour{palette[i].red, palette[i].green, palette[i].blue}));
}

TEST(GifWriter, EightBitImagesReadBackInGiflib) {
  test::TempFolder folder;
  const auto path = folder / "out.gif";
  // Widths around the powers of two, heights that leave each interlace pass short or empty.
  for (const int32_t width : {1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 70})
    for (const int32_t height : {1, 2, 5, 13}) {
      for (const bool interlace : {false, true}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + (interlace ? " i" : ""));
        const IndexedSource s = makeSource(width, height, 1 + (width * 7) % 256, width * 100 + height);
        GifWriter w = writerFor(s, 8, interlace);
        ASSERT_TRUE(writeGif(w, path, s.palette, s.rows.data()));
        EXPECT_EQ(w.status, Status::Ok);
        const auto file = test::readBytes(path);
        const Reduced r = reduce(s, w);
        ASSERT_EQ(r.topDown, s.topDown);
        expectGiflibReads(file, r.topDown, r.palette, 256, width, height);
        EXPECT_EQ(test::giflibFirstImage(file).interlaced, interlace);
      }
    }
}

TEST(GifWriter, LargeImagesResetTheTableAndReadBack) {
  test::TempFolder folder;
  const auto path = folder / "out.gif";
  for (const bool interlace : {false, true}) {
    const IndexedSource s = makeSource(317, 211, 256, interlace ? 1 : 2);
    GifWriter w = writerFor(s, 8, interlace);
    ASSERT_TRUE(writeGif(w, path, s.palette, s.rows.data()));
    const auto file = test::readBytes(path);
    expectGiflibReads(file, s.topDown, s.palette, 256, s.width, s.height);
    // Our own reader agrees too.
    GifReader reader;
    ImageRecord record;
    ASSERT_TRUE(readGifMemory(reader, file.data(), file.size(), record));
    EXPECT_EQ(reader.interlaced, interlace);
    EXPECT_EQ(0, std::memcmp(record.pixels.data(), s.rows.data(), s.rows.size()));
    EXPECT_EQ(0, std::memcmp(record.palette, s.palette, sizeof s.palette));
  }
}

// A single-image GIF around a code stream of our encoder, for the depths below 8 bits.
std::vector<uint8_t> wrapCodeStream(int width, int height, int bits, int minimumCodeSize,
                                    const std::vector<uint8_t>& codes) {
  test::Bytes file;
  file.text("GIF89a").le16(width).le16(height).u8(0x80 + (bits - 1) * 17).u8(0).u8(0);
  for (int i = 0; i < (1 << bits); ++i) file.u8(i).u8(i * 2).u8(255 - i);
  file.u8(0x2C).le16(0).le16(0).le16(width).le16(height).u8(0).u8(minimumCodeSize);
  file.subBlocks(codes).u8(';');
  return file.data;
}

TEST(GifLzwEncoder, EveryCodeSizeReadsBackInGiflibAndOurDecoder) {
  for (const int bits : {1, 2, 3, 4, 5, 6, 7, 8}) {
    const int minimumCodeSize = bits == 1 ? 2 : bits;
    for (int width = 1; width <= 70; ++width) {
      // Heights that end the stream at many different table sizes, one of them past 4096 codes.
      for (const int height : {1, 3, 17, width == 70 ? 400 : 2}) {
        SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(width) + "x" +
                     std::to_string(height));
        const size_t count = static_cast<size_t>(width) * height;
        std::mt19937 random(static_cast<uint32_t>(bits * 1000 + width * 10 + height));
        std::vector<uint8_t> pixels(count);
        for (size_t i = 0; i < count; ++i)
          pixels[i] = i > 0 && random() % 3 == 0 ? pixels[i - 1]
                                                 : static_cast<uint8_t>(random() % (1u << bits));
        std::vector<uint8_t> codes(gifLzwBound(count) + 4, 0xEE);
        const size_t written = encodeGifLzw(pixels.data(), count, minimumCodeSize, codes.data());
        ASSERT_GT(written, 0u);
        ASSERT_LE(written, gifLzwBound(count));
        ASSERT_EQ(codes[gifLzwBound(count)], 0xEE);
        codes.resize(written);

        std::vector<uint8_t> decoded(count + 1, 0xEE);
        EXPECT_EQ(decodeGifLzw(codes.data(), codes.size(), minimumCodeSize, decoded.data(), count),
                  static_cast<int64_t>(count));
        decoded.pop_back();
        ASSERT_EQ(decoded, pixels);
        const auto oracle =
            test::giflibFirstImage(wrapCodeStream(width, height, bits, minimumCodeSize, codes));
        ASSERT_TRUE(oracle.ok);
        ASSERT_EQ(oracle.indices, pixels);
      }
    }
  }
}

TEST(GifLzwEncoder, OnePixelIsClearPixelEnd) {
  uint8_t codes[32] = {};
  const uint8_t pixel = 0xA5;
  // 9-bit codes 256, 0xA5, 257: 27 bits, three whole bytes and one holding the last 3 bits.
  ASSERT_EQ(encodeGifLzw(&pixel, 1, 8, codes), 4u);
  const uint32_t bits = 256u | uint32_t{pixel} << 9 | 257u << 18;
  EXPECT_EQ(codes[0], bits & 0xFF);
  EXPECT_EQ(codes[1], (bits >> 8) & 0xFF);
  EXPECT_EQ(codes[2], (bits >> 16) & 0xFF);
  EXPECT_EQ(codes[3], bits >> 24);
  // Three codes of 3 bits: one whole byte and one more.
  const uint8_t one = 1;
  ASSERT_EQ(encodeGifLzw(&one, 1, 2, codes), 2u);
  EXPECT_EQ(codes[0], 4 | 1 << 3 | (5 & 3) << 6);
  EXPECT_EQ(codes[1], 5 >> 2);
}

// Offsets of a file we wrote: the data's sub-block sizes, following the headers.
std::vector<size_t> subBlockSizes(const std::vector<uint8_t>& file, size_t dataStart) {
  std::vector<size_t> sizes;
  size_t at = dataStart;
  while (at < file.size()) {
    sizes.push_back(file[at]);
    if (file[at] == 0) break;
    at += file[at] + 1;
  }
  EXPECT_EQ(at + 2, file.size());  // the zero size, then the trailer
  EXPECT_EQ(file.back(), ';');
  return sizes;
}

TEST(GifWriter, WritesTheExactHeaderAndSubBlocks) {
  test::TempFolder folder;
  const auto path = folder / "out.gif";
  // Find a picture whose code stream is exactly 300 bytes: 255 + 45 + 0.
  IndexedSource s;
  size_t codeBytes = 0;
  for (int32_t width = 150; width < 400 && codeBytes != 300; ++width) {
    s = makeSource(width, 1, 256, 5);
    std::vector<uint8_t> codes(gifLzwBound(s.topDown.size()));
    codeBytes = encodeGifLzw(s.topDown.data(), s.topDown.size(), 8, codes.data());
  }
  ASSERT_EQ(codeBytes, 300u);
  GifWriter w = writerFor(s, 8, false);
  ASSERT_TRUE(writeGif(w, path, s.palette, s.rows.data()));
  const auto file = test::readBytes(path);
  const std::vector<uint8_t> head = {'G', 'I', 'F', '8', '9', 'a',
                                     static_cast<uint8_t>(s.width), static_cast<uint8_t>(s.width >> 8),
                                     1, 0, 0xF7, 0, 0};
  ASSERT_GT(file.size(), 13u + 768 + 11);
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 13), head);
  EXPECT_EQ(file[13], s.palette[0].red);
  EXPECT_EQ(file[14], s.palette[0].green);
  EXPECT_EQ(file[15], s.palette[0].blue);
  const size_t descriptor = 13 + 768;
  const std::vector<uint8_t> image = {',', 0, 0, 0, 0, static_cast<uint8_t>(s.width),
                                      static_cast<uint8_t>(s.width >> 8), 1, 0, 0, 8};
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + descriptor, file.begin() + descriptor + 11), image);
  EXPECT_EQ(subBlockSizes(file, descriptor + 11), (std::vector<size_t>{255, 45, 0}));
}

TEST(GifWriter, TransparentColourPicksExactThenNearestEntry) {
  test::TempFolder folder;
  const auto path = folder / "out.gif";
  IndexedSource s = makeSource(9, 4, 256, 3);
  for (int i = 0; i < 256; ++i) s.palette[i] = {200, 100, static_cast<uint8_t>(i), 0};
  s.palette[7] = {30, 20, 10, 0};  // red 10, green 20, blue 30
  s.palette[4] = {31, 20, 12, 0};  // (12, 20, 30) is as near to this entry ...
  s.palette[5] = {29, 20, 12, 0};  // ... as to this one: the first wins
  struct Case {
    RgbColour colour;
    int index;
  };
  for (const Case& c : {Case{{10, 20, 30}, 7}, Case{{11, 20, 30}, 7}, Case{{12, 20, 30}, 4},
                        Case{{0, 100, 200}, 0}, Case{{255, 100, 201}, 255}}) {
    GifWriter w = writerFor(s, 8, true);
    w.hasTransparency = true;
    w.transparentColour = c.colour;
    ASSERT_TRUE(writeGif(w, path, s.palette, s.rows.data()));
    EXPECT_EQ(w.transparentIndex, c.index);
    const auto file = test::readBytes(path);
    EXPECT_EQ(file[11], c.index);  // background index = the transparent index
    const size_t control = 13 + 768;
    const std::vector<uint8_t> expected = {0x21, 0xF9, 4, 1, 0, 0, static_cast<uint8_t>(c.index), 0};
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + control, file.begin() + control + 8), expected);
    const auto oracle = test::giflibFirstImage(file);
    ASSERT_TRUE(oracle.ok);
    EXPECT_TRUE(oracle.transparent);
    EXPECT_EQ(oracle.transparentIndex, c.index);
    EXPECT_EQ(oracle.indices, s.topDown);
  }
}

// The reductions below 8 bits come from the depth converter; what it gives is what we must write.
TEST(GifWriter, LowerDepthsReadBackInGiflib) {
  test::TempFolder folder;
  const auto path = folder / "out.gif";
  for (const int bits : {1, 2, 4}) {
    for (const int32_t width : {1, 2, 7, 33, 70}) {
      for (const bool interlace : {false, true}) {
        SCOPED_TRACE(std::to_string(bits) + " bits, width " + std::to_string(width));
        const IndexedSource s = makeSource(width, 11, 1 << bits, width + bits);
        GifWriter w = writerFor(s, bits, interlace);
        const Reduced r = reduce(s, w);
        ASSERT_TRUE(r.ok) << "the depth converter did not reduce 8 bits to " << bits;
        const auto& palette = r.palette;
        const auto& topDown = r.topDown;

        w.hasTransparency = true;
        w.transparentColour = {palette[1].red, palette[1].green, palette[1].blue};
        ASSERT_TRUE(writeGif(w, path, s.palette, s.rows.data()));
        const auto file = test::readBytes(path);
        EXPECT_EQ(file[10], 0x80 + (bits - 1) * 0x11);
        const size_t table = size_t{3} << bits;
        EXPECT_EQ(file[13 + table + 8 + 10], bits == 1 ? 2 : bits);  // minimum code size
        expectGiflibReads(file, topDown, palette, 1 << bits, width, 11);
        const auto oracle = test::giflibFirstImage(file);
        EXPECT_TRUE(oracle.transparent);
        EXPECT_EQ(oracle.transparentIndex, w.transparentIndex);
      }
    }
  }
}

TEST(GifWriter, RefusesSizesTheFormatCannotHold) {
  test::TempFolder folder;
  const auto path = folder / "out.gif";
  const uint8_t pixels[8] = {};
  const RgbQuad palette[256] = {};
  for (const auto& size : {std::pair{65536, 1}, std::pair{1, 65536}, std::pair{0, 5}}) {
    GifWriter w;
    w.converter.width = size.first;
    w.converter.height = size.second;
    setDepthConversion(w.converter, 8, 8);
    EXPECT_FALSE(writeGif(w, path, palette, pixels));
    EXPECT_EQ(w.status, Status::CannotCreate);
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

TEST(GifWriter, ReportsFailuresAfterCreatingTheFile) {
  const IndexedSource s = makeSource(40, 40, 256, 1);
  GifWriter w = writerFor(s, 8, false);
  EXPECT_FALSE(writeGif(w, "/nonexistent-folder/out.gif", s.palette, s.rows.data()));
  EXPECT_EQ(w.status, Status::CannotCreate);
  if (std::filesystem::exists("/dev/full")) {
    w = writerFor(s, 8, false);
    EXPECT_FALSE(writeGif(w, "/dev/full", s.palette, s.rows.data()));
    EXPECT_EQ(w.status, Status::CannotWrite);
  }
  test::TempFolder folder;
  w = writerFor(s, 3, false);  // not a depth the format offers
  EXPECT_FALSE(writeGif(w, folder / "out.gif", s.palette, s.rows.data()));
  EXPECT_EQ(w.status, Status::CannotWrite);
}

}  // namespace
}  // namespace velorin
