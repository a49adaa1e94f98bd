#include <gtest/gtest.h>
#include <tiffio.h>

#include <memory>

#include "formats/tiff_reader.h"
#include "formats/tiff_writer.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::readBytes;

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};

struct Reference {
  uint32_t width = 0, height = 0;
  uint16_t photometric = 0, bits = 0, samples = 0;
  std::vector<RgbColour> pixels;  // top row first
};

// What libtiff makes of a file: its tags and its RGBA rendering.
Reference libtiffRead(const std::filesystem::path& path) {
  Reference ref;
  std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "r"));
  if (!tif) return ref;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &ref.width);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &ref.height);
  TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &ref.photometric);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &ref.bits);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &ref.samples);
  std::vector<uint32_t> raster(static_cast<size_t>(ref.width) * ref.height);
  if (!TIFFReadRGBAImageOriented(tif.get(), ref.width, ref.height, raster.data(),
                                 ORIENTATION_TOPLEFT, 0))
    return ref;
  for (uint32_t p : raster)
    ref.pixels.push_back({static_cast<uint8_t>(TIFFGetR(p)), static_cast<uint8_t>(TIFFGetG(p)),
                          static_cast<uint8_t>(TIFFGetB(p))});
  return ref;
}

ImageRecord trueColour(int32_t width, int32_t height, int colours) {
  ImageRecord record;
  EXPECT_EQ(record.allocatePixels(width, height, 24), Status::Ok);
  const uint64_t stride = paddedStride(width, 24);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const int k = colours ? (x + 3 * y) % colours : x * 7 + y * 13;
      uint8_t* p = record.pixels.data() + y * stride + 3 * x;
      p[0] = static_cast<uint8_t>(k * 40 + 3), p[1] = static_cast<uint8_t>(k * 17), p[2] = static_cast<uint8_t>(255 - k * 9);
    }
  return record;
}

TiffWriter writerFor(const ImageRecord& image, int target, bool greyscale = false) {
  TiffWriter w;
  w.converter.width = image.header.biWidth;
  w.converter.height = image.header.biHeight;
  setDepthConversion(w.converter, image.header.biBitCount, target);
  w.greyscale = greyscale;
  w.xPelsPerMeter = 2835;
  w.yPelsPerMeter = 3780;
  return w;
}

std::vector<uint16_t> tags(const std::vector<uint8_t>& file) {
  std::vector<uint16_t> out;
  for (uint32_t i = 0; i < loadLe16(&file[8]); ++i) out.push_back(loadLe16(&file[10 + 12 * i]));
  return out;
}

// Entry value (the fourth field) of the entry with this tag.
uint32_t entryValue(const std::vector<uint8_t>& file, uint16_t tag) {
  for (uint32_t i = 0; i < loadLe16(&file[8]); ++i)
    if (loadLe16(&file[10 + 12 * i]) == tag) return loadLe32(&file[10 + 12 * i + 8]);
  return 0xDEADBEEF;
}

TEST(TiffWriter, RgbThreeByTwoLayout) {
  test::TempFolder folder;
  const ImageRecord image = trueColour(3, 2, 0);
  TiffWriter w = writerFor(image, 24);
  ASSERT_TRUE(writeTiff(w, folder / "rgb.tif", image.palette, image.pixels.data()));
  const auto file = readBytes(folder / "rgb.tif");
  ASSERT_EQ(file.size(), 180u + 18);
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 8),
            (std::vector<uint8_t>{'I', 'I', 42, 0, 8, 0, 0, 0}));
  EXPECT_EQ(tags(file), (std::vector<uint16_t>{256, 257, 258, 259, 262, 273, 277, 278, 279, 282, 283, 296}));
  EXPECT_EQ(loadLe32(&file[154]), 0u);  // no next IFD
  EXPECT_EQ(entryValue(file, 258), 158u);
  EXPECT_EQ(loadLe16(&file[158]), 8);
  EXPECT_EQ(loadLe16(&file[162]), 8);
  EXPECT_EQ(entryValue(file, 273), 180u);
  EXPECT_EQ(entryValue(file, 279), 18u);
  EXPECT_EQ(entryValue(file, 282), 164u);
  EXPECT_EQ(entryValue(file, 283), 172u);
  EXPECT_EQ(loadLe32(&file[164]), 720090u);  // 2835 pels per metre
  EXPECT_EQ(loadLe32(&file[168]), 10000u);
  EXPECT_EQ(loadLe32(&file[172]), 960120u);
  // Top row first (the last memory row), red, green, blue.
  const uint8_t* top = image.pixels.data() + paddedStride(3, 24);
  EXPECT_EQ(file[180], top[2]);
  EXPECT_EQ(file[181], top[1]);
  EXPECT_EQ(file[182], top[0]);

  const Reference ref = libtiffRead(folder / "rgb.tif");
  ASSERT_EQ(ref.pixels.size(), 6u);
  EXPECT_EQ(ref.photometric, PHOTOMETRIC_RGB);
  EXPECT_EQ(ref.samples, 3);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(ref.pixels[y * 3 + x], test::pixelAt(image, x, y));
}

TEST(TiffWriter, GreyscaleAndBilevelAreBlackIsZero) {
  test::TempFolder folder;
  const ImageRecord image = trueColour(9, 5, 0);
  TiffWriter grey = writerFor(image, 8, true);
  ASSERT_TRUE(writeTiff(grey, folder / "grey.tif", image.palette, image.pixels.data()));
  const auto file = readBytes(folder / "grey.tif");
  EXPECT_EQ(tags(file), (std::vector<uint16_t>{256, 257, 258, 259, 262, 273, 278, 279, 282, 283, 296}));
  EXPECT_EQ(entryValue(file, 262), 1u);
  EXPECT_EQ(entryValue(file, 273), 162u);
  EXPECT_EQ(entryValue(file, 282), 146u);
  EXPECT_EQ(file.size(), 162u + 45);
  const Reference ref = libtiffRead(folder / "grey.tif");
  ASSERT_EQ(ref.pixels.size(), 45u);
  EXPECT_EQ(ref.bits, 8);
  DepthConverter c = grey.converter;
  std::vector<uint8_t> expected(45 + 4);
  ASSERT_TRUE(convertToGrey(c, image.palette, image.pixels.data(), expected.data()));
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 9; ++x) {
      const uint8_t v = expected[(4 - y) * 9 + x];
      EXPECT_EQ(ref.pixels[y * 9 + x], (RgbColour{v, v, v}));
    }

  TiffWriter bilevel = writerFor(image, 1);
  ASSERT_TRUE(writeTiff(bilevel, folder / "bw.tif", image.palette, image.pixels.data()));
  const auto bw = readBytes(folder / "bw.tif");
  EXPECT_EQ(bw.size(), 162u + 2 * 5);
  EXPECT_EQ(entryValue(bw, 258), 1u);
  const Reference bwRef = libtiffRead(folder / "bw.tif");
  ASSERT_EQ(bwRef.pixels.size(), 45u);
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 9; ++x) {
      const uint8_t v = expected[(4 - y) * 9 + x] >= 128 ? 255 : 0;
      EXPECT_EQ(bwRef.pixels[y * 9 + x], (RgbColour{v, v, v})) << x << "," << y;
    }
}

TEST(TiffWriter, PalettesAtSixteenAndTwoHundredFiftySixColours) {
  test::TempFolder folder;
  const ImageRecord image = trueColour(7, 3, 11);  // 11 colours: an exact palette
  TiffWriter sixteen = writerFor(image, 4);
  ASSERT_TRUE(writeTiff(sixteen, folder / "16.tif", image.palette, image.pixels.data()));
  const auto file = readBytes(folder / "16.tif");
  EXPECT_EQ(tags(file), (std::vector<uint16_t>{256, 257, 258, 259, 262, 273, 278, 279, 282, 283, 296, 320}));
  EXPECT_EQ(entryValue(file, 320), 174u);
  EXPECT_EQ(loadLe32(&file[10 + 11 * 12 + 4]), 48u);  // ColorMap count
  EXPECT_EQ(entryValue(file, 273), 270u);
  EXPECT_EQ(entryValue(file, 282), 158u);
  EXPECT_EQ(file.size(), 270u + 4 * 3);
  const Reference ref = libtiffRead(folder / "16.tif");
  ASSERT_EQ(ref.pixels.size(), 21u);
  EXPECT_EQ(ref.photometric, PHOTOMETRIC_PALETTE);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 7; ++x) EXPECT_EQ(ref.pixels[y * 7 + x], test::pixelAt(image, x, y));

  // An 8-bit record keeps its palette at 256 colours: ColorMap of 768 SHORTs, strip at 1710.
  ImageRecord indexed;
  ASSERT_EQ(indexed.allocatePixels(5, 2, 8), Status::Ok);
  for (int i = 0; i < 256; ++i) indexed.palette[i] = {static_cast<uint8_t>(i), 3, static_cast<uint8_t>(255 - i), 0};
  for (int i = 0; i < 16; ++i) indexed.pixels.data()[i] = static_cast<uint8_t>(i * 16 + 1);
  TiffWriter full = writerFor(indexed, 8);
  ASSERT_TRUE(writeTiff(full, folder / "256.tif", indexed.palette, indexed.pixels.data()));
  const auto big = readBytes(folder / "256.tif");
  EXPECT_EQ(entryValue(big, 273), 1710u);
  EXPECT_EQ(big.size(), 1710u + 10);
  EXPECT_EQ(loadLe16(&big[174 + 2 * 255]), 0x0000);  // red of entry 255, then blue of 255
  EXPECT_EQ(loadLe16(&big[174 + 2 * (512 + 255)]), 0xFF00);
  const Reference bigRef = libtiffRead(folder / "256.tif");
  ASSERT_EQ(bigRef.pixels.size(), 10u);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(bigRef.pixels[y * 5 + x], test::pixelAt(indexed, x, y));
}

TEST(TiffWriter, OwnReaderReadsEveryDepthBack) {
  test::TempFolder folder;
  const ImageRecord image = trueColour(6, 4, 3);
  for (auto [target, greyscale] : {std::pair{1, false}, {4, false}, {8, false}, {8, true}, {24, false}}) {
    TiffWriter w = writerFor(image, target, greyscale);
    const auto path = folder / ("out" + std::to_string(target) + (greyscale ? "g" : "") + ".tif");
    ASSERT_TRUE(writeTiff(w, path, image.palette, image.pixels.data()));
    TiffReader reader;
    ImageRecord back;
    ASSERT_TRUE(readTiffFile(reader, path, back)) << static_cast<int>(reader.status);
    EXPECT_EQ(back.header.biWidth, 6);
    EXPECT_EQ(back.header.biXPelsPerMeter, 2835);
    EXPECT_EQ(back.header.biYPelsPerMeter, 3780);
    if (target == 1 || greyscale) continue;  // fewer shades than the image: checked above
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 6; ++x) EXPECT_EQ(test::pixelAt(back, x, y), test::pixelAt(image, x, y));
  }
}

TEST(TiffWriter, RefusedDepthsAndFailedConversions) {
  test::TempFolder folder;
  const ImageRecord image = trueColour(4, 4, 0);
  for (int target : {2, 16, 32, 48}) {
    TiffWriter w = writerFor(image, target);
    EXPECT_FALSE(writeTiff(w, folder / "x.tif", image.palette, image.pixels.data()));
    EXPECT_EQ(w.status, Status::CannotCreate) << target;
  }
  TiffWriter odd = writerFor(image, 4);
  setDepthConversion(odd.converter, 16, 4);
  EXPECT_FALSE(writeTiff(odd, folder / "x.tif", image.palette, image.pixels.data()));
  EXPECT_EQ(odd.status, Status::CannotWrite);
  TiffWriter noFolder = writerFor(image, 24);
  EXPECT_FALSE(writeTiff(noFolder, folder / "missing" / "x.tif", image.palette, image.pixels.data()));
  EXPECT_EQ(noFolder.status, Status::CannotCreate);
}

}  // namespace
}  // namespace velorin
