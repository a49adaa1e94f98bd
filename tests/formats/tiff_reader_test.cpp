#include <gtest/gtest.h>
#include <tiffio.h>

#include <memory>

#include "formats/tiff_reader.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::Bytes;
using test::pixelAt;

// ---- hand-made files -------------------------------------------------------------------------

struct Entry {
  uint16_t tag, type;
  uint32_t count, value;
  bool inData = false;  // value is an offset into the data block that follows the IFD
};

// Header, IFD at 8 with the entries in the given order, then `data`.
std::vector<uint8_t> makeTiff(bool little, const std::vector<Entry>& entries,
                              const std::vector<uint8_t>& data) {
  const uint32_t dataStart = 8 + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
  Bytes b;
  auto u16 = [&](uint32_t v) -> Bytes& { return little ? b.le16(v) : b.be16(v); };
  auto u32 = [&](uint32_t v) -> Bytes& { return little ? b.le32(v) : b.be32(v); };
  b.text(little ? "II" : "MM");
  u16(42);
  u32(8);
  u16(static_cast<uint32_t>(entries.size()));
  for (const Entry& e : entries) {
    u16(e.tag);
    u16(e.type);
    u32(e.count);
    const uint32_t value = e.inData ? dataStart + e.value : e.value;
    if (e.type == 3 && e.count == 1) u16(value), u16(0);  // SHORTs sit in the first bytes
    else u32(value);
  }
  u32(0);
  b.data.insert(b.data.end(), data.begin(), data.end());
  return b.data;
}

struct Result {
  bool ok;
  Status status;
  ImageRecord record;
};

Result read(const std::vector<uint8_t>& file) {
  TiffReader reader;
  Result result;
  result.ok = readTiffMemory(reader, file.data(), file.size(), result.record);
  result.status = reader.status;
  return result;
}

// Entries of a width x height image with one strip of `stripBytes` at data offset `stripAt`.
std::vector<Entry> basic(uint32_t width, uint32_t height, uint32_t bits, uint32_t photometric,
                         uint32_t stripAt, uint32_t stripBytes) {
  return {{256, 4, 1, width},     {257, 3, 1, height},      {258, 3, 1, bits},
          {259, 3, 1, 1},         {262, 3, 1, photometric}, {273, 4, 1, stripAt, true},
          {279, 4, 1, stripBytes}};
}

TEST(TiffReaderMade, GreyStripsResolutionAndRowOrder) {
  // 3 x 2, 8-bit BlackIsZero, one strip a row (offsets and counts as two inline SHORTs),
  // 300 dpi in inches.
  Bytes data;
  data.u8(1).u8(2).u8(3).u8(0).u8(4).u8(5).u8(6).u8(0);   // rows at 0 and 4
  data.le32(300).le32(1).le32(254).le32(2);                // 300/1 at 8, 127/1 at 16
  std::vector<Entry> entries = {{256, 3, 1, 3}, {257, 3, 1, 2}, {258, 3, 1, 8}, {259, 3, 1, 1},
                                {262, 3, 1, 1}, {273, 3, 2, 0}, {279, 3, 2, 0},
                                {282, 5, 1, 8, true}, {283, 5, 1, 16, true}, {296, 3, 1, 2}};
  std::vector<uint8_t> file = makeTiff(true, entries, data.data);
  const uint32_t dataStart = 8 + 2 + 12 * 10 + 4;
  // Two SHORTs fit in the entry itself.
  auto setInline = [&](size_t entry, uint16_t first, uint16_t second) {
    uint8_t* v = file.data() + 8 + 2 + 12 * entry + 8;
    v[0] = first & 0xFF, v[1] = first >> 8, v[2] = second & 0xFF, v[3] = second >> 8;
  };
  setInline(5, dataStart, dataStart + 4);
  setInline(6, 3, 3);
  Result r = read(file);
  ASSERT_TRUE(r.ok) << static_cast<int>(r.status);
  EXPECT_EQ(r.record.header.biBitCount, 8);
  EXPECT_EQ(r.record.sourceFormat, kFormatTiff);
  EXPECT_EQ(r.record.sourceBitCount, 8u);
  EXPECT_EQ(r.record.header.biXPelsPerMeter, 11811);  // 300 / 0.0254 = 11811.02
  EXPECT_EQ(r.record.header.biYPelsPerMeter, 5000);   // 127 / 0.0254
  // The top file row is the last record row.
  EXPECT_EQ(r.record.pixels.data()[4], 1);
  EXPECT_EQ(r.record.pixels.data()[0], 4);
  EXPECT_EQ(r.record.palette[200], (RgbQuad{200, 200, 200, 0}));
}

TEST(TiffReaderMade, BigEndianSixteenBitRgbKeepsHighBytes) {
  Bytes data;
  data.be16(8).be16(8).be16(8);                                       // BitsPerSample at 0
  data.be16(0x1234).be16(0x5678).be16(0x9ABC).be16(0xFF01).be16(0x0002).be16(0x8000);
  std::vector<Entry> entries = {{256, 4, 1, 2}, {257, 4, 1, 1}, {258, 3, 3, 0, true},
                                {259, 3, 1, 1}, {262, 3, 1, 2}, {273, 4, 1, 6, true},
                                {279, 4, 1, 12}};
  Result eight = read(makeTiff(false, entries, data.data));
  ASSERT_TRUE(eight.ok) << static_cast<int>(eight.status);
  EXPECT_EQ(pixelAt(eight.record, 0, 0), (RgbColour{0x12, 0x34, 0x56}));

  Bytes sixteen;
  sixteen.be16(16).be16(16).be16(16);
  sixteen.be16(0x1234).be16(0x5678).be16(0x9ABC).be16(0xFF01).be16(0x0002).be16(0x8000);
  Result r = read(makeTiff(false, entries, sixteen.data));
  ASSERT_TRUE(r.ok) << static_cast<int>(r.status);
  EXPECT_EQ(r.record.header.biBitCount, 24);
  EXPECT_EQ(r.record.sourceBitCount, 48u);
  EXPECT_EQ(pixelAt(r.record, 0, 0), (RgbColour{0x12, 0x56, 0x9A}));
  EXPECT_EQ(pixelAt(r.record, 1, 0), (RgbColour{0xFF, 0x00, 0x80}));

  // The same little-endian: the high byte is the second of each sample.
  Bytes le;
  le.le16(16).le16(16).le16(16);
  le.le16(0x1234).le16(0x5678).le16(0x9ABC).le16(0xFF01).le16(0x0002).le16(0x8000);
  Result little = read(makeTiff(true, entries, le.data));
  ASSERT_TRUE(little.ok);
  EXPECT_EQ(pixelAt(little.record, 1, 0), (RgbColour{0xFF, 0x00, 0x80}));
}

TEST(TiffReaderMade, GeneratedGreyPalettesAndColorMap) {
  // Bilevel WhiteIsZero: entry 0 white, entry 1 black; 10 pixels need 2 bytes a row.
  Result bilevel = read(makeTiff(true, basic(10, 1, 1, 0, 0, 2), {0xA0, 0x40}));
  ASSERT_TRUE(bilevel.ok);
  EXPECT_EQ(bilevel.record.palette[0], (RgbQuad{255, 255, 255, 0}));
  EXPECT_EQ(bilevel.record.palette[1], (RgbQuad{0, 0, 0, 0}));
  EXPECT_EQ(bilevel.record.palette[2], (RgbQuad{}));
  const uint8_t expectedBits[10] = {1, 0, 1, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(std::vector<uint8_t>(bilevel.record.pixels.data(), bilevel.record.pixels.data() + 10),
            std::vector<uint8_t>(expectedBits, expectedBits + 10));

  // 4-bit BlackIsZero: 0, 17, ..., 255; an odd width takes the high nibble of the last byte.
  Result grey = read(makeTiff(true, basic(3, 1, 4, 1, 0, 2), {0x1F, 0x70}));
  ASSERT_TRUE(grey.ok);
  for (int k = 0; k < 16; ++k)
    EXPECT_EQ(grey.record.palette[k].red, 17 * k);
  EXPECT_EQ(grey.record.pixels.data()[0], 1);
  EXPECT_EQ(grey.record.pixels.data()[1], 15);
  EXPECT_EQ(grey.record.pixels.data()[2], 7);

  // Palette: reds, greens, blues of 16 bits each, high bytes kept.
  Bytes map;
  for (int k = 0; k < 16; ++k) map.le16(0x0100 * k + 0xFF);
  for (int k = 0; k < 16; ++k) map.le16(0x1000 + k);
  for (int k = 0; k < 16; ++k) map.le16(0xFFFF - 0x0100 * k);
  map.u8(0x2F);
  std::vector<Entry> entries = basic(2, 1, 4, 3, 96, 1);
  entries.push_back({320, 3, 48, 0, true});
  Result palette = read(makeTiff(true, entries, map.data));
  ASSERT_TRUE(palette.ok) << static_cast<int>(palette.status);
  EXPECT_EQ(pixelAt(palette.record, 0, 0), (RgbColour{2, 0x10, 0xFD}));
  EXPECT_EQ(pixelAt(palette.record, 1, 0), (RgbColour{15, 0x10, 0xF0}));
}

TEST(TiffReaderMade, ResolutionNeedsBothValuesAndAKnownUnit) {
  Bytes data;
  data.u8(7).u8(0).u8(0).u8(0).le32(50).le32(1).le32(0).le32(0);
  std::vector<Entry> entries = basic(1, 1, 8, 1, 0, 1);
  entries.push_back({282, 5, 1, 4, true});
  entries.push_back({296, 3, 1, 3});
  EXPECT_EQ(read(makeTiff(true, entries, data.data)).record.header.biXPelsPerMeter, 0);
  entries.push_back({283, 5, 1, 4, true});
  EXPECT_EQ(read(makeTiff(true, entries, data.data)).record.header.biYPelsPerMeter, 5000);
  entries.back().value = 12;  // 0/0
  EXPECT_EQ(read(makeTiff(true, entries, data.data)).record.header.biYPelsPerMeter, 0);
  entries[entries.size() - 2].value = 1;  // unit 1: none
  entries.back().value = 4;
  EXPECT_EQ(read(makeTiff(true, entries, data.data)).record.header.biXPelsPerMeter, 0);
}

TEST(TiffReaderMade, RefusalsCarryTheirStatus) {
  const std::vector<uint8_t> pixel = {9, 0, 0, 0};
  auto with = [&](std::vector<Entry> entries, std::vector<uint8_t> data = {}) {
    if (data.empty()) data = pixel;
    return read(makeTiff(true, entries, data)).status;
  };
  auto replaced = [](std::vector<Entry> e, size_t i, Entry v) { e[i] = v; return e; };
  auto added = [](std::vector<Entry> e, Entry v) { e.push_back(v); return e; };
  const std::vector<Entry> good = basic(1, 1, 8, 1, 0, 1);
  ASSERT_EQ(with(good), Status::Ok);

  std::vector<uint8_t> file = makeTiff(true, good, pixel);
  file[0] = 'X';
  EXPECT_EQ(read(file).status, Status::NotFormat);
  file = makeTiff(true, good, pixel);
  file[2] = 43;  // BigTIFF
  EXPECT_EQ(read(file).status, Status::NotFormat);
  file = makeTiff(true, good, pixel);
  file[4] = 0xF0;  // IFD past the end
  EXPECT_EQ(read(file).status, Status::NotFormat);
  file = makeTiff(true, good, pixel);
  file[8] = 40;  // more entries than the input holds
  EXPECT_EQ(read(file).status, Status::NotFormat);
  EXPECT_EQ(read({'I', 'I', 42, 0}).status, Status::Truncated);

  EXPECT_EQ(with(replaced(good, 0, {256, 4, 1, 0})), Status::NotFormat);        // zero width
  EXPECT_EQ(with(replaced(good, 0, {256, 1, 1, 1})), Status::NotFormat);        // BYTE width
  EXPECT_EQ(with(replaced(good, 0, {256, 4, 1, 0x80000000})), Status::BadImage);
  EXPECT_EQ(with(replaced(good, 0, {999, 4, 1, 1})), Status::BadImage);         // no width
  EXPECT_EQ(with(replaced(good, 3, {259, 3, 1, 5})), Status::BadImage);         // LZW
  EXPECT_EQ(with(replaced(good, 3, {259, 3, 1, 32773})), Status::BadImage);     // PackBits
  EXPECT_EQ(with(replaced(good, 4, {262, 3, 1, 8})), Status::BadImage);         // CIELab
  EXPECT_EQ(with(replaced(good, 2, {258, 3, 1, 16})), Status::BadImage);        // 16-bit grey
  EXPECT_EQ(with(replaced(good, 2, {258, 3, 2, 0})), Status::BadImage);         // grey + alpha
  EXPECT_EQ(with(replaced(good, 4, {262, 3, 1, 3})), Status::BadImage);         // no ColorMap
  EXPECT_EQ(with(replaced(good, 6, {999, 4, 1, 1})), Status::NotFormat);        // no byte counts
  EXPECT_EQ(with(added(good, {273, 4, 1, 0, true})), Status::NotFormat);        // twice
  EXPECT_EQ(with(replaced(good, 6, {279, 3, 2, 0x00010001})), Status::NotFormat);  // 1 vs 2
  EXPECT_EQ(with(replaced(good, 6, {279, 4, 1, 5})), Status::Truncated);        // past the end
  EXPECT_EQ(with(replaced(good, 6, {279, 4, 1, 0})), Status::Truncated);        // fewer than rows
  EXPECT_EQ(with(replaced(good, 5, {273, 4, 0x40000000, 0})), Status::BadImage);
  EXPECT_EQ(with(replaced(good, 5, {273, 1, 1, 0, true})), Status::NotFormat);  // BYTE offsets

  // A reduced first image is only refused as a camera RAW's preview: with sub-images or DNG data.
  const Entry reduced{254, 4, 1, 1}, subIfds{330, 4, 1, 0, true}, dngVersion{50706, 1, 4, 0x00000401};
  EXPECT_EQ(with(added(good, reduced)), Status::Ok);
  EXPECT_EQ(with(added(good, subIfds)), Status::Ok);
  EXPECT_EQ(with(added(added(good, reduced), subIfds)), Status::BadImage);
  EXPECT_EQ(with(added(added(good, {254, 3, 1, 1}), dngVersion)), Status::BadImage);
  EXPECT_EQ(with(added(added(good, {254, 4, 1, 2}), dngVersion)), Status::Ok);  // a page, not reduced

  // RGB: four samples, unequal or 4-bit samples, separate planes.
  std::vector<uint8_t> rgbData = {8, 0, 8, 0, 8, 0, 1, 2, 3, 0};
  std::vector<Entry> rgb = {{256, 4, 1, 1}, {257, 4, 1, 1}, {258, 3, 3, 0, true}, {259, 3, 1, 1},
                            {262, 3, 1, 2}, {273, 4, 1, 6, true}, {279, 4, 1, 3}};
  ASSERT_EQ(with(rgb, rgbData), Status::Ok);
  EXPECT_EQ(with(replaced(rgb, 2, {258, 3, 4, 0, true}), rgbData), Status::BadImage);
  EXPECT_EQ(with(replaced(rgb, 2, {258, 3, 1, 8}), rgbData), Status::BadImage);
  EXPECT_EQ(with(rgb, {8, 0, 16, 0, 8, 0, 1, 2, 3, 0}), Status::BadImage);
  EXPECT_EQ(with(rgb, {4, 0, 4, 0, 4, 0, 1, 2, 3, 0}), Status::BadImage);
  EXPECT_EQ(with(added(rgb, {284, 3, 1, 2}), rgbData), Status::BadImage);
  EXPECT_EQ(with(replaced(rgb, 2, {258, 3, 3, 200, true}), rgbData), Status::NotFormat);

  // A ColorMap past the end.
  std::vector<Entry> palette = basic(1, 1, 4, 3, 0, 1);
  palette.push_back({320, 3, 48, 1, true});
  EXPECT_EQ(with(palette, std::vector<uint8_t>(96, 0)), Status::Truncated);
}

// ---- the conformance suites against libtiff ---------------------------------------------------

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};

// libtiff's RGBA rendering, top row first, as red, green, blue.
std::vector<RgbColour> referencePixels(const std::filesystem::path& path, uint32_t& width,
                                       uint32_t& height) {
  TIFFSetWarningHandler(nullptr);
  std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "r"));
  if (!tif) return {};
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
  std::vector<uint32_t> raster(static_cast<size_t>(width) * height);
  if (!TIFFReadRGBAImageOriented(tif.get(), width, height, raster.data(), ORIENTATION_TOPLEFT, 0))
    return {};
  std::vector<RgbColour> pixels;
  for (uint32_t p : raster)
    pixels.push_back({static_cast<uint8_t>(TIFFGetR(p)), static_cast<uint8_t>(TIFFGetG(p)),
                      static_cast<uint8_t>(TIFFGetB(p))});
  return pixels;
}

TEST(TiffReaderSuite, AcceptedFilesMatchLibtiffAndOthersAreRefused) {
  struct Case {
    const char* file;
    Status status;
    int32_t xPels = 0;
  } cases[] = {
      {"tiff/libtiff/miniswhite-1c-1b.tiff", Status::Ok},
      {"tiff/libtiff/minisblack-1c-8b.tiff", Status::Ok},
      {"tiff/libtiff/palette-1c-1b.tiff", Status::Ok},
      {"tiff/libtiff/palette-1c-4b.tiff", Status::Ok},
      {"tiff/libtiff/palette-1c-8b.tiff", Status::Ok},
      {"tiff/libtiff/rgb-3c-8b.tiff", Status::Ok},
      {"tiff/libtiff/rgb-3c-16b.tiff", Status::Ok},
      {"tiff/libtiff/minisblack-1c-16b.tiff", Status::BadImage},
      {"tiff/libtiff/minisblack-2c-8b-alpha.tiff", Status::BadImage},
      {"tiff/libtiff/quad-lzw-compat.tiff", Status::BadImage},
      {"tiff/libtiff/quad-tile.jpg.tiff", Status::BadImage},
      {"tiff/libtiff/logluv-3c-16b.tiff", Status::BadImage},
      {"tiff/generated/hopper_gray_4bpp-be.tif", Status::Ok, 3780},
      {"tiff/generated/minisblack-1c-8b-le.tiff", Status::Ok},
      {"tiff/generated/miniswhite-1c-1b-le.tiff", Status::Ok},
      {"tiff/generated/palette-1c-4b-le.tiff", Status::Ok},
      {"tiff/generated/rgb-3c-16b-le.tiff", Status::Ok},
      {"tiff/generated/rgb-3c-8b-lzw-be.tiff", Status::BadImage},
      {"tiff/generated/rgb-3c-8b-packbits-le.tiff", Status::BadImage},
      {"tiff/pillow/hopper.tif", Status::Ok, 3780},  // 96 per inch
      {"tiff/pillow/hopper_float_dpi_2.tif", Status::Ok, 2866},   // 72.8 per inch
      {"tiff/pillow/hopper_float_dpi_3.tif", Status::Ok, 7280},   // 72.8 per centimetre
      {"tiff/pillow/hopper_float_dpi_None.tif", Status::Ok, 2866},  // the unit defaults to inch
      {"tiff/pillow/hopper_gray_4bpp.tif", Status::Ok, 3780},
      {"tiff/pillow/issue_2278.tif", Status::Ok, 7874},
      {"tiff/pillow/multipage.tiff", Status::Ok},
      {"tiff/pillow/8bit.s.tif", Status::Ok},
      {"tiff/pillow/16bit.cropped.tif", Status::BadImage},
      {"tiff/pillow/16bit.MM.cropped.tif", Status::BadImage},
      {"tiff/pillow/16bit.MM.deflate.tif", Status::BadImage},
      {"tiff/pillow/12bit.cropped.tif", Status::BadImage},
      {"tiff/pillow/lab.tif", Status::BadImage},
      {"tiff/pillow/pil136.tiff", Status::BadImage},
      {"tiff/pillow/tiff_wrong_bits_per_sample.tiff", Status::BadImage},
      {"tiff/pillow/tiff_strip_planar_raw.tif", Status::BadImage},
      {"tiff/pillow/tiff_tiled_raw.tif", Status::NotFormat},
      {"tiff/pillow/hopper_lzw.tif", Status::BadImage},
      {"tiff/pillow/copyleft.tiff", Status::BadImage},
      {"tiff/pillow/hopper_jpg.tif", Status::BadImage},
      {"tiff/pillow/hopper_g4.tif", Status::BadImage},
      {"tiff/pillow/hopper_bigtiff.tif", Status::NotFormat},
      {"tiff/pillow/seek_too_large.tif", Status::NotFormat},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.file);
    const auto path = test::testdata(k.file);
    ASSERT_TRUE(std::filesystem::exists(path));
    TiffReader reader;
    ImageRecord record;
    const bool ok = readTiffFile(reader, path, record);
    EXPECT_EQ(reader.status, k.status);
    if (!ok || k.status != Status::Ok) continue;
    EXPECT_EQ(record.sourceFileSize, std::filesystem::file_size(path));
    EXPECT_EQ(record.header.biXPelsPerMeter, k.xPels);
    uint32_t width = 0, height = 0;
    const std::vector<RgbColour> expected = referencePixels(path, width, height);
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(record.header.biWidth, static_cast<int32_t>(width));
    ASSERT_EQ(record.header.biHeight, static_cast<int32_t>(height));
    // libtiff scales 16-bit samples where the record keeps the high byte: one step apart at most.
    const int tolerance = record.sourceBitCount == 48 ? 1 : 0;
    int mismatches = 0;
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) {
        const RgbColour got = pixelAt(record, static_cast<int32_t>(x), static_cast<int32_t>(y));
        const RgbColour& want = expected[y * width + x];
        mismatches += std::abs(got.red - want.red) > tolerance ||
                      std::abs(got.green - want.green) > tolerance ||
                      std::abs(got.blue - want.blue) > tolerance;
      }
    EXPECT_EQ(mismatches, 0);
  }
}

}  // namespace
}  // namespace velorin
