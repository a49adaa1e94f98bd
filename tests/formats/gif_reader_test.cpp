#include "formats/gif_reader.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "gif_oracle.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::GiflibImageSpec;
using test::GifOracleImage;

std::vector<RgbColour> rampTable(int entries) {
  std::vector<RgbColour> table;
  for (int i = 0; i < entries; ++i)
    table.push_back({static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i),
                     static_cast<uint8_t>(i * 3 + 1)});
  return table;
}

std::vector<uint8_t> randomIndices(size_t count, int entries, uint32_t start) {
  std::mt19937 random(start);
  std::vector<uint8_t> indices(count);
  // Runs of repeated indices, as pictures have, so the dictionary grows long strings too.
  for (size_t i = 0; i < count; ++i)
    indices[i] = i > 0 && random() % 3 == 0 ? indices[i - 1] : static_cast<uint8_t>(random() % entries);
  return indices;
}

uint8_t indexAt(const ImageRecord& record, int x, int yFromTop) {
  const size_t stride = paddedStride(record.header.biWidth, 8);
  return record.pixels.data()[(record.header.biHeight - 1 - yFromTop) * stride + x];
}

// Our record must hold giflib's indices on the screen and its table, with the transparent entry
// replaced by the background colour our reader was asked for.
void expectSameAsGiflib(const GifReader& reader, const ImageRecord& record,
                        const GifOracleImage& oracle) {
  ASSERT_TRUE(oracle.ok);
  ASSERT_EQ(record.header.biWidth, oracle.screenWidth);
  ASSERT_EQ(record.header.biHeight, oracle.screenHeight);
  EXPECT_EQ(record.header.biBitCount, 8);
  int mismatches = 0;
  for (int y = 0; y < oracle.screenHeight; ++y)
    for (int x = 0; x < oracle.screenWidth; ++x)
      if (indexAt(record, x, y) != oracle.indices[static_cast<size_t>(y) * oracle.screenWidth + x] &&
          ++mismatches < 5)
        ADD_FAILURE() << "pixel " << x << "," << y;
  EXPECT_EQ(mismatches, 0);

  EXPECT_EQ(reader.hasTransparency, oracle.transparent);
  for (int i = 0; i < 256; ++i) {
    RgbColour expected = i < static_cast<int>(oracle.table.size()) ? oracle.table[i] : RgbColour{};
    if (oracle.transparent && i == oracle.transparentIndex)
      expected = reader.preferFileBackground && oracle.hasGlobalTable ? oracle.globalBackground
                                                                      : reader.defaultBackground;
    const RgbQuad& got = record.palette[i];
    EXPECT_EQ((RgbColour{got.red, got.green, got.blue}), expected) << "palette entry " << i;
    EXPECT_EQ(got.reserved, 0);
  }
}

TEST(GifReader, ConformanceFilesMatchGiflib) {
  // Files that must be refused, and why.
  const std::map<std::string, Status> refused = {
      {"no_palette.gif", Status::NotFormat},          // no colour table at all
      {"decompression_bomb.gif", Status::NotFormat},  // first image lies outside the screen
      {"zero_width.gif", Status::BadImage},
  };
  int decoded = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(test::testdata("gif"))) {
    if (entry.path().extension() != ".gif") continue;
    SCOPED_TRACE(entry.path().string());
    const std::string name = entry.path().filename().string();
    for (const bool fileBackground : {false, true}) {
      GifReader reader;
      reader.preferFileBackground = fileBackground;
      reader.defaultBackground = {255, 255, 255};
      ImageRecord record;
      const bool ok = readGifFile(reader, entry.path(), record);
      if (refused.count(name)) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(reader.status, refused.at(name));
        EXPECT_FALSE(record.pixels);
        continue;
      }
      ASSERT_TRUE(ok) << static_cast<int>(reader.status);
      EXPECT_EQ(reader.status, Status::Ok);
      EXPECT_EQ(record.sourceFormat, kFormatGif);
      expectSameAsGiflib(reader, record, test::giflibFirstImage(test::readBytes(entry.path())));
      decoded += fileBackground ? 0 : 1;
    }
  }
  EXPECT_GE(decoded, 20);
}

GiflibImageSpec placedImage(bool interlaced) {
  GiflibImageSpec spec;
  spec.screenWidth = spec.screenHeight = 20;
  spec.globalTable = rampTable(16);
  spec.backgroundIndex = 9;
  spec.left = spec.top = 5;
  spec.width = spec.height = 10;
  spec.interlaced = interlaced;
  spec.indices = randomIndices(100, 16, 7);
  for (uint8_t& index : spec.indices) index = index == 9 ? 3 : index;  // keep 9 for the border
  return spec;
}

TEST(GifReader, ImageSmallerThanScreenGetsBackgroundAround) {
  for (const bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced ? "interlaced" : "plain");
    const GiflibImageSpec spec = placedImage(interlaced);
    const auto bytes = test::giflibEncode(spec);
    ASSERT_FALSE(bytes.empty());
    GifReader reader;
    ImageRecord record;
    ASSERT_TRUE(readGifMemory(reader, bytes.data(), bytes.size(), record));
    ASSERT_EQ(record.header.biWidth, 20);
    ASSERT_EQ(record.header.biHeight, 20);
    EXPECT_EQ(record.sourceBitCount, 4u);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x) {
        const bool inside = x >= 5 && x < 15 && y >= 5 && y < 15;
        const uint8_t expected = inside ? spec.indices[(y - 5) * 10 + (x - 5)] : 9;
        ASSERT_EQ(indexAt(record, x, y), expected) << x << "," << y;
      }
  }
}

GiflibImageSpec transparentImage() {
  GiflibImageSpec spec;
  spec.screenWidth = spec.screenHeight = spec.width = spec.height = 4;
  spec.globalTable = rampTable(4);
  spec.backgroundIndex = 2;
  spec.transparentIndex = 1;
  spec.indices = randomIndices(16, 4, 3);
  return spec;
}

TEST(GifReader, TransparentEntryTakesTheBackgroundColour) {
  const GiflibImageSpec spec = transparentImage();
  const auto bytes = test::giflibEncode(spec);
  GifReader reader;
  reader.defaultBackground = {255, 255, 255};
  reader.preferFileBackground = false;
  ImageRecord record;
  ASSERT_TRUE(readGifMemory(reader, bytes.data(), bytes.size(), record));
  EXPECT_TRUE(reader.hasTransparency);
  EXPECT_EQ(reader.transparentIndex, 1);
  EXPECT_EQ(reader.transparencySeen, 1);
  EXPECT_EQ(record.palette[1], (RgbQuad{255, 255, 255, 0}));
  EXPECT_EQ(record.palette[2], (RgbQuad{spec.globalTable[2].blue, spec.globalTable[2].green,
                                        spec.globalTable[2].red, 0}));

  reader.preferFileBackground = true;
  ASSERT_TRUE(readGifMemory(reader, bytes.data(), bytes.size(), record));
  EXPECT_EQ(record.palette[1], record.palette[2]);

  // With only a local table there is no file background: the default colour stays.
  GiflibImageSpec local = spec;
  local.localTable = local.globalTable;
  local.globalTable.clear();
  const auto localBytes = test::giflibEncode(local);
  reader.defaultBackground = {1, 2, 3};
  ASSERT_TRUE(readGifMemory(reader, localBytes.data(), localBytes.size(), record));
  EXPECT_FALSE(reader.hasGlobalTable);
  EXPECT_EQ(record.palette[1], (RgbQuad{3, 2, 1, 0}));

  // A later read of an opaque file forgets the transparency.
  GiflibImageSpec opaque = spec;
  opaque.transparentIndex = -1;
  const auto opaqueBytes = test::giflibEncode(opaque);
  ASSERT_TRUE(readGifMemory(reader, opaqueBytes.data(), opaqueBytes.size(), record));
  EXPECT_FALSE(reader.hasTransparency);
  EXPECT_EQ(reader.transparentIndex, -1);
}

TEST(GifReader, OnlyTheLastControlBlockBeforeTheImageCounts) {
  // Two graphic control extensions: the first marks index 1 transparent, the second none.
  test::Bytes file;
  file.text("GIF89a").le16(1).le16(1).u8(0x80).u8(0).u8(0);
  file.zeros(6);
  file.u8(0x21).u8(0xF9).u8(4).u8(1).le16(0).u8(1).u8(0);
  file.u8(0x21).u8(0xF9).u8(4).u8(0).le16(0).u8(0).u8(0);
  file.u8(0x2C).le16(0).le16(0).le16(1).le16(1).u8(0);
  file.u8(2).u8(2).u8(0x44).u8(0x01).u8(0).u8(0x3B);  // clear, 0, end
  GifReader reader;
  ImageRecord record;
  ASSERT_TRUE(readGifMemory(reader, file.data.data(), file.data.size(), record));
  EXPECT_EQ(reader.transparencySeen, 1);
  EXPECT_FALSE(reader.hasTransparency);
  EXPECT_EQ(record.palette[1], (RgbQuad{}));
}

// A one-pixel GIF89a whose parts the failure cases below take apart.
test::Bytes onePixelGif(int minimumCodeSize = 2) {
  test::Bytes file;
  file.text("GIF89a").le16(1).le16(1).u8(0x80).u8(0).u8(0);
  file.u8(10).u8(20).u8(30).u8(40).u8(50).u8(60);
  file.u8(0x2C).le16(0).le16(0).le16(1).le16(1).u8(0);
  file.u8(static_cast<uint32_t>(minimumCodeSize)).u8(2).u8(0x44).u8(0x01).u8(0).u8(0x3B);
  return file;
}

Status statusOf(const std::vector<uint8_t>& bytes) {
  GifReader reader;
  ImageRecord record;
  const bool ok = readGifMemory(reader, bytes.data(), bytes.size(), record);
  EXPECT_EQ(ok, reader.status == Status::Ok);
  EXPECT_EQ(ok, static_cast<bool>(record.pixels));
  return reader.status;
}

TEST(GifReader, RefusesDamagedFilesWithTheirStatus) {
  const std::vector<uint8_t> good = onePixelGif().data;
  EXPECT_EQ(statusOf(good), Status::Ok);

  auto changed = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> copy = good;
    copy.resize(std::max(copy.size(), at + bytes.size()));
    std::copy(bytes.begin(), bytes.end(), copy.begin() + static_cast<ptrdiff_t>(at));
    return copy;
  };
  auto cut = [&](size_t length) { return std::vector<uint8_t>(good.begin(), good.begin() + length); };

  EXPECT_EQ(statusOf(cut(12)), Status::NotFormat);                    // shorter than 13 bytes
  EXPECT_EQ(statusOf(changed(3, {'8', '8', 'a'})), Status::NotFormat);  // unknown version
  EXPECT_EQ(statusOf(changed(6, {0, 0})), Status::BadImage);           // screen width 0
  EXPECT_EQ(statusOf(changed(8, {0, 0})), Status::BadImage);           // screen height 0
  EXPECT_EQ(statusOf(cut(16)), Status::NotFormat);                     // global table cut off
  EXPECT_EQ(statusOf(changed(19, {'!', 0x77})), Status::Truncated);    // unknown extension
  EXPECT_EQ(statusOf(changed(19, {'x'})), Status::Truncated);          // unknown introducer
  EXPECT_EQ(statusOf(changed(19, {';'})), Status::NotFormat);          // trailer before image
  EXPECT_EQ(statusOf(cut(19)), Status::NotFormat);                     // input ends before image
  EXPECT_EQ(statusOf(cut(25)), Status::NotFormat);                     // descriptor cut off
  EXPECT_EQ(statusOf(changed(20, {1, 0})), Status::NotFormat);         // image left of 1 + 1 > 1
  EXPECT_EQ(statusOf(changed(24, {2})), Status::NotFormat);            // image wider than screen
  EXPECT_EQ(statusOf(changed(26, {2})), Status::NotFormat);            // image taller than screen
  EXPECT_EQ(statusOf(changed(28, {0x81})), Status::NotFormat);         // local table cut off
  std::vector<uint8_t> noTable = cut(13);                              // no table at all
  noTable[10] = 0;
  noTable.insert(noTable.end(), good.begin() + 19, good.end());
  EXPECT_EQ(statusOf(noTable), Status::NotFormat);
  EXPECT_EQ(statusOf(changed(29, {1})), Status::NotFormat);            // minimum code size 1
  EXPECT_EQ(statusOf(changed(29, {9})), Status::NotFormat);            // minimum code size 9
  EXPECT_EQ(statusOf(changed(30, {0})), Status::NotFormat);            // first sub-block empty
  EXPECT_EQ(statusOf(changed(30, {200})), Status::NotFormat);          // sub-block past the end
  EXPECT_EQ(statusOf(cut(30)), Status::NotFormat);                     // no data at all
  std::vector<uint8_t> comment = cut(19);                              // comment past the end
  comment.insert(comment.end(), {'!', 0xFE, 5, 'a'});
  EXPECT_EQ(statusOf(comment), Status::NotFormat);
  comment.resize(21);                                                  // ends after the label
  EXPECT_EQ(statusOf(comment), Status::NotFormat);
  // The data's terminator and the trailer are not needed, and nothing after the first image
  // (a broken second frame here) is looked at.
  EXPECT_EQ(statusOf(cut(33)), Status::Ok);
  std::vector<uint8_t> brokenSecond = cut(34);
  brokenSecond.insert(brokenSecond.end(), {0x2C, 0xFF, 0xFF, 0xFF, 0xFF, 9, 9, 9, 9, 0x80, 12});
  EXPECT_EQ(statusOf(brokenSecond), Status::Ok);
}

TEST(GifReader, SkipsCommentPlainTextAndApplicationExtensions) {
  const std::vector<uint8_t> good = onePixelGif().data;
  test::Bytes file;
  file.data.assign(good.begin(), good.begin() + 19);
  file.u8(0x21).u8(0xFE).u8(3).text("abc").u8(0);
  file.u8(0x21).u8(0x01).u8(12).zeros(12).u8(2).text("hi").u8(0);
  file.u8(0x21).u8(0xFF).u8(11).text("NETSCAPE2.0").u8(3).u8(1).le16(0).u8(0);
  file.u8(0x21).u8(0xFE).u8(0);  // a comment without sub-blocks
  file.data.insert(file.data.end(), good.begin() + 19, good.end());
  GifReader reader;
  ImageRecord record;
  ASSERT_TRUE(readGifMemory(reader, file.data.data(), file.data.size(), record));
  EXPECT_EQ(record.palette[0], (RgbQuad{30, 20, 10, 0}));
  EXPECT_EQ(record.palette[1], (RgbQuad{60, 50, 40, 0}));
  EXPECT_EQ(record.palette[2], (RgbQuad{}));
  EXPECT_EQ(record.sourceBitCount, 1u);
}

using test::CodePacker;

TEST(GifLzwDecoder, HostileCodeStreamsStayInsideTheOutput) {
  // Minimum code size 2: clear 4, end 5, first free code 6, codes of 3 bits.
  std::vector<uint8_t> out(8, 0xEE);
  {
    CodePacker codes;  // a first code that is not a root, then codes far above the table
    codes.put(4, 3);
    codes.put(7, 3);
    codes.put(7, 3);
    codes.put(7, 3);
    codes.put(5, 3);
    const auto data = codes.finish();
    const int64_t stored = decodeGifLzw(data.data(), data.size(), 2, out.data(), 6);
    EXPECT_GE(stored, 1);
    EXPECT_LE(stored, 6);
    EXPECT_EQ(out[6], 0xEE);
  }
  {
    CodePacker codes;  // 0, then "not yet in the table" strings growing to overflow the output
    codes.put(4, 3);
    codes.put(0, 3);
    for (int i = 0; i < 10; ++i) codes.put(6 + i, i < 2 ? 3 : 4);
    const auto data = codes.finish();
    std::vector<uint8_t> big(50, 0xEE);
    EXPECT_EQ(decodeGifLzw(data.data(), data.size(), 2, big.data(), 40), 40);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(big[i], 0) << i;
    EXPECT_EQ(big[40], 0xEE);
  }
  {
    CodePacker codes;  // data runs out: the padding bits read as two more zero codes
    codes.put(4, 3);
    codes.put(1, 3);
    codes.put(2, 3);
    const auto data = codes.finish();
    std::fill(out.begin(), out.end(), 0xEE);
    EXPECT_EQ(decodeGifLzw(data.data(), data.size(), 2, out.data(), 8), 4);
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE}));
  }
  {
    CodePacker codes;  // clear codes only, then an end code right after a clear
    for (int i = 0; i < 5; ++i) codes.put(4, 3);
    codes.put(5, 3);
    const auto data = codes.finish();
    EXPECT_EQ(decodeGifLzw(data.data(), data.size(), 2, out.data(), 8), 0);
    EXPECT_EQ(decodeGifLzw(nullptr, 0, 2, out.data(), 8), 0);
  }
}

// Data far longer than a picture of its size needs (here 800 clear codes before the one pixel)
// is gathered whole, never past its buffer.
TEST(GifReader, TakesMoreDataThanThePictureNeeds) {
  CodePacker codes;
  for (int i = 0; i < 800; ++i) codes.put(4, 3);
  codes.put(1, 3);
  codes.put(5, 3);
  const auto data = codes.finish();
  test::Bytes file;
  file.text("GIF89a").le16(1).le16(1).u8(0x80).u8(0).u8(0).u8(1).u8(2).u8(3).u8(4).u8(5).u8(6);
  file.u8(0x2C).le16(0).le16(0).le16(1).le16(1).u8(0).u8(2);
  file.subBlocks(data).u8(';');
  GifReader reader;
  ImageRecord record;
  ASSERT_TRUE(readGifMemory(reader, file.data.data(), file.data.size(), record));
  EXPECT_EQ(record.pixels.data()[0], 1);
}

// A valid stream that fills the table and goes on without a clear code: the table stays full
// and the codes stay 12 bits wide. giflib must read it the same way.
TEST(GifLzwDecoder, FullTableWithoutClearMatchesGiflib) {
  const int minimum = 4;
  const uint32_t clear = 1u << minimum;
  std::mt19937 random(11);
  CodePacker codes;
  int size = minimum + 1;
  uint32_t nextFree = clear + 2;
  std::vector<uint32_t> lengths(4096, 1);
  uint64_t total = 0;
  codes.put(clear, size);
  uint32_t previous = random() % clear;
  codes.put(previous, size);
  total = 1;
  const int width = 64;
  for (int i = 0; i < 6000 || total % width != 0; ++i) {
    // Mostly short strings, so the picture stays small; after 6000 codes only roots to pad.
    uint32_t code = random() % clear;
    if (i < 6000 && random() % 2 == 0) code = clear + 2 + random() % (nextFree - clear - 2 + 1);
    if (code >= nextFree) code = nextFree < 4096 ? nextFree : random() % clear;
    const uint32_t length = code == nextFree ? lengths[previous] + 1 : lengths[code];
    codes.put(code, size);
    if (nextFree < 4096) {
      lengths[nextFree] = lengths[previous] + 1;
      ++nextFree;
      if (size < 12 && nextFree == (1u << size)) ++size;
    }
    total += length;
    previous = code;
  }
  ASSERT_EQ(nextFree, 4096u);
  codes.put(clear + 1, size);
  const auto data = codes.finish();

  const int height = static_cast<int>(total / width);
  ASSERT_LT(height, 65536);
  test::Bytes file;
  file.text("GIF89a").le16(width).le16(height).u8(0x83).u8(0).u8(0);
  for (int i = 0; i < 16; ++i) file.u8(i * 16).u8(i).u8(255 - i);
  file.u8(0x2C).le16(0).le16(0).le16(width).le16(height).u8(0).u8(minimum);
  file.subBlocks(data).u8(0x3B);

  GifReader reader;
  reader.preferFileBackground = false;
  ImageRecord record;
  ASSERT_TRUE(readGifMemory(reader, file.data.data(), file.data.size(), record));
  expectSameAsGiflib(reader, record, test::giflibFirstImage(file.data));
}

}  // namespace
}  // namespace velorin
