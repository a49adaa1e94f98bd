#include "formats/png_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "formats/adam7.h"
#include "formats/blend_table.h"
#include "formats/crc32.h"
#include "formats/png_test_util.h"

namespace velorin {
namespace {

using test::PngBuilder;
using test::pixelAt;
using test::zlibOf;

// The compositing formula written out independently of the reader's table.
int blendOf(int a, int b) {
  if (a > b) std::swap(a, b);
  if (a == 0) return 0;
  if (b == 255) return a;
  return (b * (a * 65536 / 255) + 32768) >> 16;
}
int composite(int alpha, int sample, int background) {
  return blendOf(alpha, sample) + blendOf(255 - alpha, background);
}

// The background the reader must use for a file, by the same reductions as the reader.
RgbColour fileBackgroundOf(const test::LibpngImage& li) {
  const auto pick = [&](uint16_t v) {
    return static_cast<uint8_t>(li.bitDepth == 16 ? v >> 8 : v & 0xFF);
  };
  switch (li.colourType) {
    case 0:
    case 4: {
      const int step = li.bitDepth == 1 ? 255 : li.bitDepth == 2 ? 85 : li.bitDepth == 4 ? 17 : 1;
      const auto level = static_cast<uint8_t>(li.bitDepth < 8 ? (li.background.gray & 0xFF) * step
                                                              : pick(li.background.gray));
      return {level, level, level};
    }
    case 3: {
      const png_color& c = li.palette.at(li.background.index);
      return {c.red, c.green, c.blue};
    }
    default:
      return {pick(li.background.red), pick(li.background.green), pick(li.background.blue)};
  }
}

// libpng's samples, composited with the formula onto bg; rows top-down.
std::vector<RgbColour> referencePixels(const test::LibpngImage& li, RgbColour bg) {
  std::vector<RgbColour> out;
  const auto key = [&](uint16_t v) { return li.bitDepth == 16 ? v >> 8 : v & 0xFF; };
  const int step = li.bitDepth == 1 ? 255 : li.bitDepth == 2 ? 85 : li.bitDepth == 4 ? 17 : 1;
  for (uint32_t y = 0; y < li.height; ++y)
    for (uint32_t x = 0; x < li.width; ++x) {
      const uint8_t* p = li.pixels.data() + (size_t{y} * li.width + x) * li.channels;
      RgbColour c;
      switch (li.colourType) {
        case 0: {
          const auto level = static_cast<uint8_t>(p[0] * step);
          c = li.hasKey && p[0] == key(li.key.gray) ? bg : RgbColour{level, level, level};
          break;
        }
        case 2:
          c = {p[0], p[1], p[2]};
          if (li.hasKey && p[0] == key(li.key.red) && p[1] == key(li.key.green) &&
              p[2] == key(li.key.blue))
            c = bg;
          break;
        case 4: {
          const auto g = static_cast<uint8_t>(composite(p[1], p[0], bg.red));
          c = {g, g, g};
          break;
        }
        default:  // RGB(A), palette expanded by libpng
          c = {p[0], p[1], p[2]};
          if (li.channels == 4)
            c = {static_cast<uint8_t>(composite(p[3], p[0], bg.red)),
                 static_cast<uint8_t>(composite(p[3], p[1], bg.green)),
                 static_cast<uint8_t>(composite(p[3], p[2], bg.blue))};
          break;
      }
      out.push_back(c);
    }
  return out;
}

std::vector<std::filesystem::path> suiteFiles(bool corrupt) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(test::testdata("png/pngsuite"))) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".png") continue;
    if ((name[0] == 'x') == corrupt) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Compares every pixel of every valid suite file against libpng, once onto the default white and
// once preferring the file's own background over a coloured default.
TEST(PngReaderSuite, EveryValidFileMatchesLibpngComposited) {
  const auto files = suiteFiles(false);
  ASSERT_GT(files.size(), 150u);
  for (const bool preferFile : {false, true}) {
    for (const auto& path : files) {
      SCOPED_TRACE(path.filename().string() + (preferFile ? " (file background)" : ""));
      const test::LibpngImage li = test::readWithLibpng(path, true);
      ASSERT_TRUE(li.ok);
      PngReader reader;
      reader.preferFileBackground = preferFile;
      reader.defaultBackground = preferFile ? RgbColour{10, 200, 30} : RgbColour{255, 255, 255};
      ImageRecord record;
      ASSERT_TRUE(readPngFile(reader, path, record)) << static_cast<int>(reader.status);
      ASSERT_EQ(record.header.biWidth, static_cast<int32_t>(li.width));
      ASSERT_EQ(record.header.biHeight, static_cast<int32_t>(li.height));
      const bool colour = li.colourType == 2 || li.colourType == 6;
      EXPECT_EQ(record.header.biBitCount, colour ? 24 : 8);
      EXPECT_EQ(record.sourceBitCount, static_cast<uint32_t>(colour ? 3 * li.bitDepth : li.bitDepth));
      EXPECT_EQ(record.sourceFormat, kFormatPng);
      if (li.unit == 1) {
        EXPECT_EQ(record.header.biXPelsPerMeter, static_cast<int32_t>(li.xPpm));
        EXPECT_EQ(record.header.biYPelsPerMeter, static_cast<int32_t>(li.yPpm));
      } else {
        EXPECT_EQ(record.header.biXPelsPerMeter, 0);
      }
      const RgbColour bg =
          preferFile && li.hasBackground ? fileBackgroundOf(li) : reader.defaultBackground;
      const auto expected = referencePixels(li, bg);
      int mismatches = 0;
      for (uint32_t y = 0; y < li.height && mismatches < 3; ++y)
        for (uint32_t x = 0; x < li.width && mismatches < 3; ++x) {
          const RgbColour got = pixelAt(record, static_cast<int32_t>(x), static_cast<int32_t>(y));
          const RgbColour want = expected[size_t{y} * li.width + x];
          if (!(got == want)) {
            ++mismatches;
            ADD_FAILURE() << "pixel " << x << "," << y << " got " << int(got.red) << " "
                          << int(got.green) << " " << int(got.blue) << " want " << int(want.red)
                          << " " << int(want.green) << " " << int(want.blue);
          }
        }
    }
  }
}

TEST(PngReaderSuite, CorruptFilesFailWithTheirOwnStatus) {
  const std::map<std::string, Status> expected = {
      {"xc1n0g08.png", Status::BadColourType}, {"xc9n2c08.png", Status::BadColourType},
      {"xcrn0g04.png", Status::NotFormat},     {"xcsn0g01.png", Status::CrcError},
      {"xd0n2c08.png", Status::BadBitDepth},   {"xd3n2c08.png", Status::BadBitDepth},
      {"xd9n2c08.png", Status::BadBitDepth},   {"xdtn0g01.png", Status::MissingChunk},
      {"xhdn0g08.png", Status::CrcError},      {"xlfn0g04.png", Status::NotFormat},
      {"xs1n0g01.png", Status::NotFormat},     {"xs2n0g01.png", Status::NotFormat},
      {"xs4n0g01.png", Status::NotFormat},     {"xs7n0g01.png", Status::NotFormat},
  };
  const auto files = suiteFiles(true);
  EXPECT_EQ(files.size(), expected.size());
  for (const auto& path : files) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    ASSERT_TRUE(expected.count(name));
    PngReader reader;
    ImageRecord record;
    EXPECT_FALSE(readPngFile(reader, path, record));
    EXPECT_EQ(reader.status, expected.at(name));
    EXPECT_FALSE(record.pixels);
  }
}

void expectSameRecord(const ImageRecord& a, const ImageRecord& b) {
  ASSERT_EQ(a.header.biWidth, b.header.biWidth);
  ASSERT_EQ(a.header.biHeight, b.header.biHeight);
  ASSERT_EQ(a.header.biBitCount, b.header.biBitCount);
  ASSERT_EQ(a.pixels.size(), b.pixels.size());
  EXPECT_TRUE(std::equal(a.pixels.data(), a.pixels.data() + a.pixels.size(), b.pixels.data()));
  EXPECT_TRUE(std::equal(std::begin(a.palette), std::end(a.palette), std::begin(b.palette)));
}

TEST(PngReaderSuite, InterlacedFilesDecodeLikeTheirTwins) {
  int pairs = 0;
  for (const auto& path : suiteFiles(false)) {
    std::string name = path.filename().string();
    if (name.size() < 4 || name[3] != 'i' || (name.rfind("bas", 0) != 0 && name[0] != 's'))
      continue;
    std::string twin = name;
    twin[3] = 'n';
    SCOPED_TRACE(name);
    PngReader reader;
    ImageRecord interlaced, plain;
    ASSERT_TRUE(readPngFile(reader, path, interlaced));
    ASSERT_TRUE(readPngFile(reader, path.parent_path() / twin, plain));
    expectSameRecord(interlaced, plain);
    ++pairs;
  }
  EXPECT_GE(pairs, 30);
}

// A small image built by hand: IHDR, the given chunks before the data, one IDAT, IEND.
std::vector<uint8_t> smallPng(uint32_t width, uint32_t height, int depth, int colourType,
                              const std::vector<uint8_t>& filteredRows,
                              const std::vector<std::pair<std::string, std::vector<uint8_t>>>& before = {}) {
  PngBuilder b;
  b.header(width, height, depth, colourType);
  for (const auto& [type, data] : before) b.chunk(type, data);
  b.chunk("IDAT", zlibOf(filteredRows));
  return b.end().bytes;
}

bool readBytes(PngReader& reader, const std::vector<uint8_t>& bytes, ImageRecord& record) {
  return readPngMemory(reader, bytes.data(), bytes.size(), record);
}

TEST(PngReader, PaletteTransparencyReportsTheCompositedEntry) {
  std::vector<uint8_t> palette;
  for (int i = 0; i < 8; ++i) palette.insert(palette.end(), {uint8_t(i * 30), 0, 0});
  std::vector<uint8_t> alpha(6, 255);
  alpha[5] = 0;
  alpha[2] = 128;
  const auto bytes = smallPng(2, 1, 8, 3, {0, 5, 2}, {{"PLTE", palette}, {"tRNS", alpha}});
  PngReader reader;
  ImageRecord record;
  ASSERT_TRUE(readBytes(reader, bytes, record));
  EXPECT_EQ(pixelAt(record, 0, 0), (RgbColour{255, 255, 255}));
  EXPECT_EQ(pixelAt(record, 1, 0), (RgbColour{uint8_t(composite(128, 60, 255)), 127, 127}));
  EXPECT_TRUE(reader.hasTransparency);
  EXPECT_EQ(reader.transparentColour, (RgbColour{255, 255, 255}));

  // More alpha values than palette entries: the chunk is ignored.
  const auto tooMany = smallPng(2, 1, 8, 3, {0, 5, 2},
                                {{"PLTE", {1, 2, 3, 4, 5, 6, 7, 8, 9}}, {"tRNS", {0, 0, 0, 0}}});
  ASSERT_TRUE(readBytes(reader, tooMany, record));
  EXPECT_FALSE(reader.hasTransparency);
  EXPECT_EQ(record.palette[0], (RgbQuad{3, 2, 1, 0}));
}

TEST(PngReader, KeyedTransparencyReportsTheBackgroundThatReplacedIt) {
  // RGB key (1, 2, 3) on the first pixel; the file's bKGD is preferred.
  const auto rgb = smallPng(2, 1, 8, 2, {0, 1, 2, 3, 1, 2, 4},
                            {{"tRNS", {0, 1, 0, 2, 0, 3}}, {"bKGD", {0, 9, 0, 8, 0, 7}}});
  PngReader reader;
  reader.preferFileBackground = true;
  ImageRecord record;
  ASSERT_TRUE(readBytes(reader, rgb, record));
  EXPECT_EQ(pixelAt(record, 0, 0), (RgbColour{9, 8, 7}));
  EXPECT_EQ(pixelAt(record, 1, 0), (RgbColour{1, 2, 4}));
  EXPECT_TRUE(reader.hasTransparency);
  EXPECT_EQ(reader.transparentColour, (RgbColour{9, 8, 7}));

  // Grey key 3 of a 2-bit image: ramp entry 3 becomes the default background.
  const auto grey = smallPng(1, 1, 2, 0, {0, 0xC0}, {{"tRNS", {0, 3}}});
  reader.preferFileBackground = false;
  reader.defaultBackground = {255, 0, 0};
  ASSERT_TRUE(readBytes(reader, grey, record));
  EXPECT_EQ(pixelAt(record, 0, 0), (RgbColour{255, 0, 0}));
  EXPECT_EQ(reader.transparentColour, (RgbColour{255, 0, 0}));
}

// Damaged or misordered chunk streams, each with the status that names its fault.
TEST(PngReader, ChunkRulesGiveTheirStatus) {
  const auto data = zlibOf({0, 1, 2, 3});
  const auto rgb = [] { return std::move(PngBuilder().header(1, 1, 8, 2)); };
  const auto withTail = [](PngBuilder b, std::vector<uint8_t> tail) {
    b.bytes.insert(b.bytes.end(), tail.begin(), tail.end());
    return b.bytes;
  };
  const std::vector<std::pair<std::vector<uint8_t>, Status>> cases = {
      // data, text, data again: a second run
      {rgb().chunk("IDAT", data).chunk("tEXt", {'a', 0, 'b'}).chunk("IDAT", {}).end().bytes,
       Status::ChunkOrder},
      // a palette in an RGB image is not looked at, not even its CRC
      {rgb().chunk("PLTE", {1, 2, 3}, false).chunk("IDAT", data).end().bytes, Status::Ok},
      // a bad CRC on an ancillary chunk only drops the chunk
      {rgb().chunk("tRNS", {0, 1, 0, 2, 0, 3}, false).chunk("IDAT", data).end().bytes, Status::Ok},
      // a later chunk of the run with a bad CRC
      {rgb().chunk("IDAT", data).chunk("IDAT", {}, false).end().bytes, Status::DataTooLarge},
      // whatever follows the run is checked with it
      {withTail(rgb().chunk("IDAT", data), {0x80, 0, 0, 0, 'I', 'E', 'N', 'D', 0, 0, 0, 0}),
       Status::DataTooLarge},
      // no IEND after a complete chunk
      {withTail(rgb().chunk("IDAT", data), {0, 0, 0, 1, 't', 'E', 'X', 't', 0, 0, 0, 0, 0}),
       Status::NotFormat},
      {withTail(rgb(), {0x80, 0, 0, 0, 't', 'E', 'X', 't'}), Status::ChunkLength},
      {rgb().chunk("IHDR", {}).end().bytes, Status::ChunkOrder},
      {rgb().chunk("IDAT", data).chunk("IEND", {}, false).bytes, Status::CrcError},
      {PngBuilder().header(1, 1, 8, 3).chunk("IDAT", zlibOf({0, 0})).end().bytes,
       Status::MissingChunk},
      {PngBuilder().header(1, 1, 8, 3).chunk("IDAT", zlibOf({0, 0})).chunk("PLTE", {1, 2, 3}).end().bytes,
       Status::ChunkOrder},
      {PngBuilder().header(0, 1, 8, 2).end().bytes, Status::BadImage},
      {PngBuilder().header(1, 1, 16, 3).end().bytes, Status::BadColourType},
      {PngBuilder().header(1, 1, 8, 2, 2).end().bytes, Status::BadInterlace},
      // refused before anything is allocated for it
      {PngBuilder().header(0x7FFFFFFF, 0x7FFFFFFF, 8, 6).end().bytes, Status::BadImage},
      // a picture far larger than any data the file could inflate to
      {PngBuilder().header(30000, 30000, 8, 0).chunk("IDAT", zlibOf({0, 1})).end().bytes,
       Status::Truncated},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    PngReader reader;
    ImageRecord record;
    EXPECT_EQ(readBytes(reader, cases[i].first, record), cases[i].second == Status::Ok);
    EXPECT_EQ(reader.status, cases[i].second);
  }
}
TEST(PngReader, OddFilterBytesAndShortData) {
  PngReader reader;
  ImageRecord record;
  // Filter type 7 is taken as None.
  ASSERT_TRUE(readBytes(reader, smallPng(2, 1, 8, 0, {7, 40, 50}), record));
  EXPECT_EQ(record.pixels.data()[0], 40);
  EXPECT_EQ(record.pixels.data()[1], 50);
  // Data for one row of three: the stream's end leaves the other rows zero.
  ASSERT_TRUE(readBytes(reader, smallPng(2, 3, 8, 0, {0, 40, 50}), record));
  EXPECT_EQ(pixelAt(record, 0, 0).green, 40);
  EXPECT_EQ(pixelAt(record, 1, 2).green, 0);
  // A damaged stream is an inflate error.
  auto damaged = zlibOf({0, 40, 50});
  damaged[2] = 0xFF;
  PngBuilder b;
  b.header(2, 1, 8, 0).chunk("IDAT", damaged).end();
  EXPECT_FALSE(readBytes(reader, b.bytes, record));
  EXPECT_EQ(reader.status, Status::InflateError);
  EXPECT_FALSE(record.pixels);
}

// Complete streams are inflated whole and unfiltered in place; any other stream goes row by row.
// A surplus byte after the last row sends the same rows down the second path, so both must give
// the same record for every layout, filter type and pass.
TEST(PngReader, WholeStreamAndRowByRowDecodingAgree) {
  struct Layout {
    int depth, colourType;
  };
  const Layout layouts[] = {{1, 0}, {2, 3}, {4, 0}, {8, 0}, {16, 0}, {8, 2},
                            {16, 2}, {8, 3}, {8, 4}, {16, 4}, {8, 6}, {16, 6}};
  static constexpr int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
  std::mt19937 random(7);
  for (const Layout& layout : layouts) {
    for (const int interlace : {0, 1}) {
      SCOPED_TRACE(std::to_string(layout.depth) + "/" + std::to_string(layout.colourType) +
                   (interlace ? " interlaced" : ""));
      const uint32_t width = 13, height = 11;
      const int bpp = std::max(1, kChannels[layout.colourType] * layout.depth / 8);
      const uint64_t size =
          pngFilteredSize(width, height, layout.depth, bpp, interlace != 0).total;
      std::vector<uint8_t> rows(size);
      for (auto& byte : rows) byte = static_cast<uint8_t>(random());
      // Filter bytes at every row start, 5 and 6 included (they mean None).
      const Adam7Pass* passes = interlace ? kAdam7Passes : &kWholeImagePass;
      for (size_t at = 0, p = 0; p < (interlace ? 7u : 1u); ++p) {
        const int64_t columns = passColumns(passes[p], width), count = passRows(passes[p], height);
        if (columns <= 0 || count <= 0) continue;
        const uint64_t rowSize = pngRowBytes(columns, layout.depth, bpp) + 1;
        for (int64_t r = 0; r < count; ++r, at += rowSize) rows[at] = static_cast<uint8_t>(random() % 7);
      }
      std::vector<uint8_t> longer = rows;
      longer.push_back(0);
      std::vector<uint8_t> palette(3 * (1u << layout.depth));
      for (auto& byte : palette) byte = static_cast<uint8_t>(random());
      const auto build = [&](const std::vector<uint8_t>& data) {
        PngBuilder b;
        b.header(width, height, layout.depth, layout.colourType, interlace);
        if (layout.colourType == 3) b.chunk("PLTE", palette);
        return b.chunk("IDAT", zlibOf(data)).end().bytes;
      };
      PngReader reader;
      ImageRecord whole, byRow;
      ASSERT_TRUE(readBytes(reader, build(rows), whole));
      ASSERT_TRUE(readBytes(reader, build(longer), byRow));
      expectSameRecord(whole, byRow);
    }
  }
  // The geometry itself, worked out by hand for 3 x 3 at one bit: passes 1, 4, 5, 6, 7 hold
  // 1, 1, 1, 2 and 1 rows of one byte.
  EXPECT_EQ(pngFilteredSize(3, 3, 1, 1, true).total, 12u);
  EXPECT_EQ(pngFilteredSize(3, 3, 1, 1, true).largestRow, 2u);
  EXPECT_EQ(pngFilteredSize(5, 3, 8, 3, false).total, 48u);
}

TEST(Crc32, MatchesZlibAndChains) {
  std::vector<uint8_t> data(1000);
  std::mt19937 random(3);
  for (auto& b : data) b = static_cast<uint8_t>(random());
  for (size_t n : {0u, 1u, 7u, 8u, 9u, 1000u}) {
    EXPECT_EQ(crc32Update(0, data.data(), n), crc32(0, data.data(), static_cast<uInt>(n)));
  }
  EXPECT_EQ(crc32Update(crc32Update(0, data.data(), 13), data.data() + 13, 987),
            crc32(0, data.data(), 1000));
  EXPECT_EQ(crc32Table()[1], 0x77073096u);
}

TEST(BlendTable, FollowsTheFormula) {
  const uint8_t* t = blendTable();
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) {
      ASSERT_EQ(t[a * 256 + b], blendOf(a, b)) << a << " " << b;
      // Sample and background weights never add up past 255.
      ASSERT_LE(t[a * 256 + 255] + t[(255 - a) * 256 + b], 255);
    }
  EXPECT_EQ(t[128 * 256 + 200], 100);
  EXPECT_EQ(t[254 * 256 + 254], 253);
  EXPECT_EQ(t[1 * 256 + 254], 1);
}

}  // namespace
}  // namespace velorin
