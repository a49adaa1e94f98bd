#include <gtest/gtest.h>

#include <stb/stb_image.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "formats/bmp_reader.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::makeBmp;
using test::pixelAt;
using test::testdata;

struct Loaded {
  BmpReader reader;
  ImageRecord record;
  bool ok = false;
};

std::unique_ptr<Loaded> loadBytes(const std::vector<uint8_t>& bytes) {
  auto loaded = std::make_unique<Loaded>();
  loaded->ok = readBmpMemory(loaded->reader, bytes.data(), bytes.size(), loaded->record);
  return loaded;
}

// Every file of the suite's good set that the reader takes must match the reference decoder;
// the ones it refuses must be refused for the right reason.
TEST(BmpReader, GoodSuiteMatchesReferenceDecoder) {
  const std::set<std::string> refused = {"pal4rle.bmp", "pal8rle.bmp", "pal8topdown.bmp", "pal8os2.bmp"};
  int compared = 0;
  for (const auto& file : std::filesystem::directory_iterator(testdata("bmp/bmpsuite/g"))) {
    const std::string name = file.path().filename().string();
    SCOPED_TRACE(name);
    BmpReader reader;
    ImageRecord record;
    const bool ok = readBmpFile(reader, file.path(), record);
    if (refused.count(name)) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(reader.status, Status::BadImage);
      EXPECT_FALSE(record.pixels);
      continue;
    }
    ASSERT_TRUE(ok) << static_cast<int>(reader.status);
    int width = 0, height = 0, channels = 0;
    stbi_uc* expected = stbi_load(file.path().c_str(), &width, &height, &channels, 3);
    if (!expected) {
      // The reference refuses direct-colour files that carry a palette; they must equal the
      // same image without one.
      ASSERT_TRUE(name == "rgb24pal.bmp" || name == "rgb16-565pal.bmp") << name;
      const std::string plainName = name == "rgb24pal.bmp" ? "rgb24.bmp" : "rgb16-565.bmp";
      BmpReader plainReader;
      ImageRecord plain;
      ASSERT_TRUE(readBmpFile(plainReader, testdata("bmp/bmpsuite/g/" + plainName), plain));
      EXPECT_EQ(std::memcmp(plain.pixels.data(), record.pixels.data(), plain.pixels.size()), 0);
      continue;
    }
    ASSERT_EQ(width, record.header.biWidth);
    ASSERT_EQ(height, record.header.biHeight);
    // 16-bit channels are scaled by truncating division; the reference replicates bits.
    const int tolerance = record.sourceBitCount == 16 ? 1 : 0;
    int mismatches = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const RgbColour ours = pixelAt(record, x, y);
        const stbi_uc* theirs = expected + 3 * (y * width + x);
        if (std::abs(ours.red - theirs[0]) > tolerance || std::abs(ours.green - theirs[1]) > tolerance ||
            std::abs(ours.blue - theirs[2]) > tolerance)
          ++mismatches;
      }
    stbi_image_free(expected);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(record.sourceFormat, kFormatBmp);
    EXPECT_TRUE(record.header.biBitCount == 8 || record.header.biBitCount == 24);
    ++compared;
  }
  EXPECT_GE(compared, 20);
}

// Hostile and unusual files end with a status, never a crash (the sanitizer build checks the
// memory accesses); whatever loads has a block of exactly stride x height bytes.
TEST(BmpReader, BadAndQuestionableFilesNeverCrash) {
  for (const char* set : {"bmp/bmpsuite/b", "bmp/bmpsuite/q"}) {
    for (const auto& file : std::filesystem::directory_iterator(testdata(set))) {
      SCOPED_TRACE(file.path().string());
      BmpReader reader;
      ImageRecord record;
      if (readBmpFile(reader, file.path(), record)) {
        ASSERT_TRUE(record.pixels);
        EXPECT_EQ(record.pixels.size(),
                  paddedStride(record.header.biWidth, record.header.biBitCount) * record.header.biHeight);
      } else {
        EXPECT_NE(reader.status, Status::Ok);
        EXPECT_FALSE(record.pixels);
      }
    }
  }
}

TEST(BmpReader, HeaderChecks) {
  const std::vector<uint8_t> row = {1, 2, 3, 0};
  // Bottom-up loads; the same image top-down is refused.
  EXPECT_TRUE(loadBytes(makeBmp(1, 1, 24, {}, row))->ok);
  auto topDown = loadBytes(makeBmp(1, -1, 24, {}, row));
  EXPECT_FALSE(topDown->ok);
  EXPECT_EQ(topDown->reader.status, Status::BadImage);
  EXPECT_EQ(loadBytes(makeBmp(0, 1, 24, {}, row))->reader.status, Status::BadImage);
  EXPECT_EQ(loadBytes(makeBmp(1, 1, 2, {}, row))->reader.status, Status::BadImage);
  EXPECT_EQ(loadBytes(makeBmp(1, 1, 8, {}, row, /*compression=*/1))->reader.status, Status::BadImage);
  EXPECT_EQ(loadBytes(makeBmp(1, 1, 24, {}, row, /*compression=*/3))->reader.status, Status::BadImage);

  // Shorter than the two headers, or a pixel offset past the end.
  auto bytes = makeBmp(1, 1, 24, {}, row);
  EXPECT_EQ(loadBytes({bytes.begin(), bytes.begin() + 53})->reader.status, Status::Truncated);
  auto badOffset = bytes;
  badOffset[10] = static_cast<uint8_t>(bytes.size() + 1);
  EXPECT_EQ(loadBytes(badOffset)->reader.status, Status::Truncated);

  // Exactly 54 bytes with the offset at 54 passes the first tests and fails the size test.
  auto headersOnly = makeBmp(1, 1, 24, {}, {});
  ASSERT_EQ(headersOnly.size(), 54u);
  EXPECT_EQ(loadBytes(headersOnly)->reader.status, Status::Truncated);

  // A size beyond 32 bits is refused before any memory is taken.
  EXPECT_EQ(loadBytes(makeBmp(100000, 100000, 24, {}, row))->reader.status, Status::BadImage);
  EXPECT_EQ(loadBytes(makeBmp(100000, 100000, 1, {}, row))->reader.status, Status::BadImage);
}

TEST(BmpReader, ResolutionIsKeptAndNegativesBecomeZero) {
  auto bytes = makeBmp(1, 1, 24, {}, {1, 2, 3, 0});
  bytes[38] = 0xFF, bytes[39] = 0xFF, bytes[40] = 0xFF, bytes[41] = 0xFF;  // -1
  auto loaded = loadBytes(bytes);
  ASSERT_TRUE(loaded->ok);
  EXPECT_EQ(loaded->record.header.biXPelsPerMeter, 0);
  EXPECT_EQ(loaded->record.header.biYPelsPerMeter, 2835);
}

TEST(BmpReader, IndexedDepthsBecomeEightBitsWithTheirPalette) {
  // 1 bit, 10 pixels wide: bits 1011001110 over two bytes, row padded to 4 bytes.
  auto one = loadBytes(makeBmp(10, 1, 1, {{10, 20, 30, 0}, {40, 50, 60, 0}}, {0xB3, 0x80, 0, 0}));
  ASSERT_TRUE(one->ok);
  const ImageRecord& r1 = one->record;
  EXPECT_EQ(r1.header.biBitCount, 8);
  EXPECT_EQ(r1.sourceBitCount, 1u);
  const uint8_t expected[10] = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0};
  for (int x = 0; x < 10; ++x) EXPECT_EQ(r1.pixels.data()[x], expected[x]) << x;
  EXPECT_EQ(r1.palette[1], (RgbQuad{40, 50, 60, 0}));
  EXPECT_EQ(r1.palette[2], RgbQuad{});

  // 4 bits: high nibble first; the palette keeps 16 entries, the rest stay zero.
  std::vector<RgbQuad> palette16(16);
  for (int i = 0; i < 16; ++i) palette16[i] = {static_cast<uint8_t>(i), 1, 2, 0};
  auto four = loadBytes(makeBmp(3, 1, 4, palette16, {0x5A, 0xF0, 0, 0}));
  ASSERT_TRUE(four->ok);
  EXPECT_EQ(four->record.pixels.data()[0], 5);
  EXPECT_EQ(four->record.pixels.data()[1], 10);
  EXPECT_EQ(four->record.pixels.data()[2], 15);
  EXPECT_EQ(four->record.palette[15].blue, 15);
  EXPECT_EQ(four->record.palette[16], RgbQuad{});
}

TEST(BmpReader, ColoursUsedSizesTheEightBitPalette) {
  std::vector<RgbQuad> palette(16, RgbQuad{9, 9, 9, 0});
  auto loaded = loadBytes(makeBmp(1, 1, 8, palette, {3, 0, 0, 0}, 0, 16));
  ASSERT_TRUE(loaded->ok);
  EXPECT_EQ(loaded->record.palette[15], (RgbQuad{9, 9, 9, 0}));
  EXPECT_EQ(loaded->record.palette[16], RgbQuad{});

  std::vector<RgbQuad> full(256, RgbQuad{7, 7, 7, 0});
  auto all = loadBytes(makeBmp(1, 1, 8, full, {3, 0, 0, 0}, 0, 0));
  ASSERT_TRUE(all->ok);
  EXPECT_EQ(all->record.palette[255], (RgbQuad{7, 7, 7, 0}));

  // A count above 256 is cut to 256 entries rather than copied past the record's palette.
  std::vector<RgbQuad> oversize(300, RgbQuad{5, 5, 5, 0});
  auto cut = loadBytes(makeBmp(1, 1, 8, oversize, {3, 0, 0, 0}, 0, 300));
  ASSERT_TRUE(cut->ok);
  EXPECT_EQ(cut->record.palette[255], (RgbQuad{5, 5, 5, 0}));
}

TEST(BmpReader, SixteenAndThirtyTwoBitMasks) {
  // Without masks 16 bits are 5-5-5: 0x7FFF is white.
  auto plain = loadBytes(makeBmp(1, 1, 16, {}, {0xFF, 0x7F, 0, 0}));
  ASSERT_TRUE(plain->ok);
  EXPECT_EQ(plain->record.header.biBitCount, 24);
  EXPECT_EQ(pixelAt(plain->record, 0, 0), (RgbColour{255, 255, 255}));

  // 5-6-5 masks: green 0x3F gives 255, red 0x10 gives 16 * 255 / 31 = 131 (truncated).
  const std::vector<RgbQuad> masks565 = {{0x00, 0xF8, 0, 0}, {0xE0, 0x07, 0, 0}, {0x1F, 0, 0, 0}};
  const uint16_t pixel = 0x10 << 11 | 0x3F << 5 | 0x01;
  auto five = loadBytes(makeBmp(1, 1, 16, masks565,
                                {static_cast<uint8_t>(pixel), static_cast<uint8_t>(pixel >> 8), 0, 0}, 3));
  ASSERT_TRUE(five->ok);
  EXPECT_EQ(pixelAt(five->record, 0, 0), (RgbColour{131, 255, 8}));

  // 32 bits with an alpha byte: the alpha is dropped.
  auto alpha = loadBytes(makeBmp(1, 1, 32, {}, {0x11, 0x22, 0x33, 0x80}));
  ASSERT_TRUE(alpha->ok);
  EXPECT_EQ(pixelAt(alpha->record, 0, 0), (RgbColour{0x33, 0x22, 0x11}));

  // A channel 32 bits wide cannot be scaled: the record loads with zero pixels and the
  // status says why.
  const std::vector<RgbQuad> wide = {{0, 0, 0, 0}, {0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}};
  auto full = loadBytes(makeBmp(1, 1, 32, wide, {0xFF, 0xFF, 0xFF, 0xFF}, 3));
  ASSERT_TRUE(full->ok);
  EXPECT_EQ(full->reader.status, Status::Truncated);
  EXPECT_EQ(pixelAt(full->record, 0, 0), (RgbColour{0, 0, 0}));
}

TEST(BmpReader, ShortTailsAreZeroOrRefused) {
  // 24 bits, 2 rows of 4 bytes, the offset moved so only the first row is in the file: the
  // total length passes the size test, the missing tail reads as zero.
  auto bytes = makeBmp(1, 2, 24, {}, {1, 2, 3, 0, 4, 5, 6, 0});
  bytes[10] = 58;
  auto loaded = loadBytes(bytes);
  ASSERT_TRUE(loaded->ok);
  const uint8_t expected[8] = {4, 5, 6, 0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(loaded->record.pixels.data()[i], expected[i]) << i;

  // 16 bits and 1 bit whose rows end early are refused: a tiny file must not make the reader
  // take memory for a huge picture it does not hold.
  auto sixteen = makeBmp(2, 2, 16, {}, {0xFF, 0x7F, 0xFF, 0x7F, 0xFF, 0x7F, 0xFF, 0x7F});
  sixteen.resize(sixteen.size() - 1);
  EXPECT_EQ(loadBytes(sixteen)->reader.status, Status::Truncated);
  EXPECT_EQ(loadBytes(makeBmp(30000, 30000, 32, {}, {0, 0, 0, 0}))->reader.status, Status::Truncated);
  auto oneBit = makeBmp(8, 2, 1, {{0, 0, 0, 0}, {255, 255, 255, 0}}, {0xFF, 0, 0, 0, 0xFF, 0, 0, 0});
  oneBit.resize(oneBit.size() - 2);
  EXPECT_EQ(loadBytes(oneBit)->reader.status, Status::Truncated);
}

TEST(BmpReader, FileRouteRecordsSizeAndTime) {
  test::TempFolder folder;
  const auto bytes = makeBmp(1, 1, 24, {}, {1, 2, 3, 0});
  test::writeBytes(folder / "a.bmp", bytes);
  BmpReader reader;
  ImageRecord record;
  ASSERT_TRUE(readBmpFile(reader, folder / "a.bmp", record));
  EXPECT_EQ(record.sourceFileSize, bytes.size());
  EXPECT_GT(record.sourceFileTime, 116444736000000000);  // after 1970

  EXPECT_FALSE(readBmpFile(reader, folder / "missing.bmp", record));
  EXPECT_EQ(reader.status, Status::Truncated);
  test::writeBytes(folder / "empty.bmp", {});
  EXPECT_FALSE(readBmpFile(reader, folder / "empty.bmp", record));
  EXPECT_EQ(reader.status, Status::Truncated);
}

}  // namespace
}  // namespace velorin
