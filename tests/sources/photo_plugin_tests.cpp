// The shipped photo plug-ins (HEIF/AVIF, WebP, JPEG XL, camera RAW) against the reference
// decoders of their libraries, on files the reference encoders make here. A test whose outside
// tool is missing is skipped.
#include <gtest/gtest.h>
#include <lcms2.h>
#include <libheif/heif.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "formats/png_reader.h"
#include "formats/bmp_reader.h"
#include "sources/plugin_host.h"
#include "sources/zip_writer.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::q;
namespace fs = std::filesystem;

const QString kShippedPlugins = QStringLiteral(VELORIN_BINARY_DIR "/bin/plugins");

bool have(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

#define REQUIRE_TOOLS(...)                                                      \
  for (const char* tool : {__VA_ARGS__})                                        \
    if (!have(tool)) GTEST_SKIP() << tool << " is not installed";

void run(const std::string& command) {
  ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

struct PhotoPlugins : ::testing::Test {
  test::TempFolder folder;
  PluginHost host;
  void SetUp() override { host.pluginFolder = kShippedPlugins; }
  fs::path operator/(const std::string& name) const { return folder / name; }

  // The program converting path to BMP files in folder/out with the shipped plug-ins: its exit
  // code and what it printed on standard error.
  std::pair<int, std::string> convertToBmp(const fs::path& path) {
    fs::create_directories(folder / "out");
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), q(folder / "config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), q(folder / "data"));
    environment.insert(QStringLiteral("TMPDIR"), q(folder.path()));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELORIN_BINARY_DIR "/bin/velorin"),
                  {"--convert", "--quiet", "--set", "OFmt=0", "--set", "IFmt=0", "--set", "SPI=" + kShippedPlugins,
                   "-o", q(folder / "out"), q(path)});
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitCode(), process.readAllStandardError().toStdString()};
  }

  ImageRecord decode(const fs::path& path) {
    ImageRecord record;
    EXPECT_TRUE(readImageWithPlugin(host, q(path), record)) << path;
    return record;
  }
  // A reference decoder's PNG, alpha flattened onto white as the plug-ins do.
  static ImageRecord png(const fs::path& path) {
    PngReader reader;
    ImageRecord record;
    EXPECT_TRUE(readPngFile(reader, path, record)) << path;
    return record;
  }
  // A plasma picture of odd size, so rows need padding; with alpha, a horizontal ramp of it.
  fs::path source(const std::string& name, bool alpha = false, int width = 67, int height = 45) {
    const fs::path path = folder / name;
    std::ostringstream command;
    command << "convert -size " << width << 'x' << height << " -seed 7 plasma:fractal";
    if (alpha) command << " \\( -size " << height << 'x' << width << " gradient: -rotate 90 \\) -alpha off"
                       << " -compose copy_opacity -composite";
    // Without gAMA and cHRM, which the encoders would take for a profile other than sRGB.
    command << " -depth 8 -define png:exclude-chunks=gAMA,cHRM,bKGD -define png:color-type=" << (alpha ? 6 : 2)
            << ' ' << quoted(path);
    run(command.str());
    return path;
  }
};

// The largest difference of one sample between two records of the same size.
int maxDifference(const ImageRecord& a, const ImageRecord& b) {
  if (a.header.biWidth != b.header.biWidth || a.header.biHeight != b.header.biHeight) {
    ADD_FAILURE() << "sizes differ: " << a.header.biWidth << 'x' << a.header.biHeight << " and "
                  << b.header.biWidth << 'x' << b.header.biHeight;
    return 256;
  }
  int worst = 0;
  for (int32_t y = 0; y < a.header.biHeight; ++y)
    for (int32_t x = 0; x < a.header.biWidth; ++x) {
      const RgbColour p = test::pixelAt(a, x, y), r = test::pixelAt(b, x, y);
      worst = std::max({worst, std::abs(p.red - r.red), std::abs(p.green - r.green), std::abs(p.blue - r.blue)});
    }
  return worst;
}

struct Encoding {
  std::string file;
  std::string encode;  // {in} and {out} are replaced
  std::string reference;
  bool alpha = false;
  int tolerance = 0;
};

std::string expand(std::string command, const fs::path& in, const fs::path& out) {
  for (auto [key, value] : {std::pair{"{in}", quoted(in)}, std::pair{"{out}", quoted(out)}})
    for (size_t at; (at = command.find(key)) != std::string::npos;) command.replace(at, std::strlen(key), value);
  return command;
}

void expectMatchesReference(PhotoPlugins& t, const std::vector<Encoding>& encodings) {
  for (const Encoding& e : encodings) {
    SCOPED_TRACE(e.file);
    const fs::path source = t.source(e.file + ".png", e.alpha), encoded = t / e.file;
    const fs::path reference = t / (e.file + ".reference.png");
    run(expand(e.encode, source, encoded));
    run(expand(e.reference, encoded, reference));
    EXPECT_LE(maxDifference(t.decode(encoded), PhotoPlugins::png(reference)), e.tolerance);
  }
}

TEST_F(PhotoPlugins, HeifAndAvifMatchTheReferenceDecoder) {
  REQUIRE_TOOLS("convert", "heif-enc", "heif-convert", "avifenc");
  const std::string reference = "heif-convert {in} {out}";
  expectMatchesReference(*this, {{"photo.heic", "heif-enc -q 80 {in} -o {out}", reference},
                                 {"alpha.heic", "heif-enc -q 80 {in} -o {out}", reference, true},
                                 {"photo.avif", "avifenc -s 8 {in} {out}", reference},
                                 {"alpha.avif", "avifenc -s 8 {in} {out}", reference, true}});
}

TEST_F(PhotoPlugins, WebPMatchesTheReferenceDecoder) {
  REQUIRE_TOOLS("convert", "cwebp", "dwebp");
  const std::string reference = "dwebp {in} -o {out}";
  expectMatchesReference(*this, {{"lossy.webp", "cwebp -q 80 {in} -o {out}", reference},
                                 {"lossless.webp", "cwebp -lossless {in} -o {out}", reference},
                                 {"alpha.webp", "cwebp -q 80 -alpha_q 100 {in} -o {out}", reference, true}});
}

TEST_F(PhotoPlugins, JpegXlMatchesTheReferenceDecoder) {
  REQUIRE_TOOLS("convert", "cjxl", "djxl");
  const std::string reference = "djxl {in} {out}";
  // djxl renders lossy pictures through floating point, the plug-in straight to 8 bits.
  expectMatchesReference(*this, {{"lossless.jxl", "cjxl -d 0 {in} {out}", reference},
                                 {"lossy.jxl", "cjxl -d 1 {in} {out}", reference, false, 1},
                                 {"alpha.jxl", "cjxl -d 0 {in} {out}", reference, true}});
}

// An animated WebP gives its first frame; a lossless one exactly the picture it was made from.
TEST_F(PhotoPlugins, AnimatedWebPGivesItsFirstFrame) {
  REQUIRE_TOOLS("convert", "img2webp");
  const fs::path first = source("first.png"), second = folder / "second.png";
  run("convert -size 67x45 xc:navy -depth 8 " + quoted(second));
  run("img2webp -lossless " + quoted(first) + " " + quoted(second) + " -o " + quoted(folder / "anim.webp"));
  EXPECT_EQ(maxDifference(decode(folder / "anim.webp"), png(first)), 0);
}

// A picture of four quadrants: red top left, green top right, blue bottom left, white
// bottom right, 64 x 32.
std::vector<uint8_t> quadrants(int width = 64, int height = 32) {
  std::vector<uint8_t> rgb;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2, bottom = y >= height / 2;
      const RgbColour c = !bottom ? (right ? RgbColour{0, 255, 0} : RgbColour{255, 0, 0})
                                  : (right ? RgbColour{255, 255, 255} : RgbColour{0, 0, 255});
      rgb.insert(rgb.end(), {c.red, c.green, c.blue});
    }
  return rgb;
}

// The quadrants as the file asked to show them after a quarter turn clockwise: 32 x 64 with blue
// top left, red top right, white bottom left, green bottom right.
void expectTurnedClockwise(const ImageRecord& record) {
  ASSERT_EQ(record.header.biWidth, 32);
  ASSERT_EQ(record.header.biHeight, 64);
  auto near = [](RgbColour a, RgbColour b) {
    return std::abs(a.red - b.red) < 40 && std::abs(a.green - b.green) < 40 && std::abs(a.blue - b.blue) < 40;
  };
  EXPECT_TRUE(near(test::pixelAt(record, 4, 4), {0, 0, 255}));
  EXPECT_TRUE(near(test::pixelAt(record, 28, 4), {255, 0, 0}));
  EXPECT_TRUE(near(test::pixelAt(record, 4, 60), {255, 255, 255}));
  EXPECT_TRUE(near(test::pixelAt(record, 28, 60), {0, 255, 0}));
}

// A HEIC whose transform box asks for orientation 6, written through libheif's own encoder.
void writeTurnedHeic(const fs::path& path) {
  heif_init(nullptr);
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  ASSERT_EQ(heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code, heif_error_Ok);
  heif_image* image = nullptr;
  heif_image_create(64, 32, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
  heif_image_add_plane(image, heif_channel_interleaved, 64, 32, 8);
  int stride = 0;
  uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  const std::vector<uint8_t> rgb = quadrants();
  for (int y = 0; y < 32; ++y) std::memcpy(plane + y * stride, &rgb[size_t(y) * 64 * 3], 64 * 3);
  heif_encoding_options* options = heif_encoding_options_alloc();
  options->image_orientation = heif_orientation_rotate_90_cw;
  heif_encoder_set_lossy_quality(encoder, 90);
  EXPECT_EQ(heif_context_encode_image(context, image, encoder, options, nullptr).code, heif_error_Ok);
  EXPECT_EQ(heif_context_write_to_file(context, path.c_str()).code, heif_error_Ok);
  heif_encoding_options_free(options);
  heif_image_release(image);
  heif_encoder_release(encoder);
  heif_context_free(context);
  heif_deinit();
}

// HEIF's transform boxes are obeyed (and the EXIF copy of the orientation is not obeyed again);
// WebP and AVIF made from a JPEG whose EXIF says 6 come out upright too.
TEST_F(PhotoPlugins, OrientedPicturesComeOutUpright) {
  writeTurnedHeic(folder / "turned.heic");
  expectTurnedClockwise(decode(folder / "turned.heic"));

  if (!have("convert") || !have("exiftool")) GTEST_SKIP() << "convert or exiftool is not installed";
  const fs::path jpeg = folder / "turned.jpg";
  run("convert -size 64x32 xc:white -fill red -draw 'rectangle 0,0 31,15' -fill lime -draw 'rectangle 32,0 63,15' "
      "-fill blue -draw 'rectangle 0,16 31,31' -quality 95 " + quoted(jpeg));
  run("exiftool -q -overwrite_original -n -Orientation=6 " + quoted(jpeg));
  if (have("cwebp")) {
    run("cwebp -q 90 -metadata exif " + quoted(jpeg) + " -o " + quoted(folder / "turned.webp"));
    expectTurnedClockwise(decode(folder / "turned.webp"));
  }
  if (have("avifenc")) {
    run("avifenc -s 8 " + quoted(jpeg) + " " + quoted(folder / "turned.avif"));
    expectTurnedClockwise(decode(folder / "turned.avif"));
  }
}

// Display P3 as an ICC profile, made by lcms2: P3 primaries, D65, the sRGB curve.
std::vector<uint8_t> displayP3Profile() {
  const cmsCIExyY white{0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries{{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
  const cmsFloat64Number parameters[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, parameters);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(curve);
  cmsMLU* description = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(description, "en", "US", "Display P3");
  cmsWriteTag(profile, cmsSigProfileDescriptionTag, description);
  cmsMLUfree(description);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<uint8_t> bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

// What a P3 record shows as in sRGB, by lcms2 with the profile the test wrote.
ImageRecord p3ToSrgb(const ImageRecord& p3, const std::vector<uint8_t>& profile) {
  ImageRecord expected;
  expected.header = p3.header;
  expected.header.biBitCount = 24;
  const int32_t w = p3.header.biWidth, h = p3.header.biHeight;
  const uint64_t stride = paddedStride(w, 24);
  EXPECT_TRUE(expected.pixels.allocate(stride * h));
  cmsHPROFILE from = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsHTRANSFORM transform = cmsCreateTransform(from, TYPE_RGB_8, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const RgbColour c = test::pixelAt(p3, x, y);
      uint8_t in[3] = {c.red, c.green, c.blue}, out[3];
      cmsDoTransform(transform, in, out, 1);
      uint8_t* p = expected.pixels.data() + (h - 1 - y) * stride + 3 * x;
      p[0] = out[2], p[1] = out[1], p[2] = out[0];
    }
  cmsDeleteTransform(transform);
  cmsCloseProfile(srgb);
  cmsCloseProfile(from);
  return expected;
}

// A picture tagged Display P3 comes out in sRGB: the reference decoder's P3 pixels converted by
// lcms2, within a step of rounding, and clearly not the P3 numbers themselves.
TEST_F(PhotoPlugins, DisplayP3PicturesComeOutInSrgb) {
  REQUIRE_TOOLS("convert");
  const std::vector<uint8_t> profile = displayP3Profile();
  test::writeBytes(folder / "p3.icc", profile);
  const fs::path plain = source("plain.png"), tagged = folder / "p3.png";
  run("convert " + quoted(plain) + " -profile " + quoted(folder / "p3.icc") + " " + quoted(tagged));
  ASSERT_EQ(maxDifference(png(plain), png(tagged)), 0) << "the profile was applied, not attached";

  struct Case {
    const char* tool;
    std::string file, encode, reference;
  };
  const std::vector<Case> cases = {
      {"heif-enc", "p3.heic", "heif-enc -q 90 {in} -o {out}", "heif-convert {in} {out}"},
      {"avifenc", "p3.avif", "avifenc -s 8 {in} {out}", "heif-convert {in} {out}"},
      {"cwebp", "p3.webp", "cwebp -lossless -metadata icc {in} -o {out}", "dwebp {in} -o {out}"},
      {"cjxl", "p3.jxl", "cjxl -d 0 {in} {out}", "djxl {in} {out}"}};
  int tried = 0;
  for (const Case& c : cases) {
    if (!have(c.tool)) continue;
    SCOPED_TRACE(c.file);
    ++tried;
    const fs::path encoded = folder / c.file, reference = folder / (c.file + ".png");
    run(expand(c.encode, tagged, encoded));
    run(expand(c.reference, encoded, reference));
    const ImageRecord decoded = decode(encoded), p3 = png(reference);
    EXPECT_LE(maxDifference(decoded, p3ToSrgb(p3, profile)), 1);
    EXPECT_GE(maxDifference(decoded, p3), 20);
  }
  if (tried == 0) GTEST_SKIP() << "no encoder installed";
}

// A camera RAW file made here: a DNG of 16-bit Bayer samples (RGGB), 12 bits used, with a colour
// matrix, an as-shot white balance that is not neutral and orientation 6. With a preview, as
// cameras write them: the first image is an 8 x 8 RGB thumbnail and the sensor data a sub-image.
std::vector<uint8_t> makeDng(uint32_t width, uint32_t height, bool preview = false) {
  struct Entry {
    uint16_t tag, type;
    uint32_t count;
    std::vector<uint8_t> value;  // little-endian bytes
  };
  struct Ifd {
    std::vector<Entry> entries;
    std::vector<uint8_t> strip;
  };
  auto shorts = [](std::initializer_list<uint32_t> v) {
    test::Bytes b;
    for (uint32_t x : v) b.le16(x);
    return b.data;
  };
  auto longs = [](std::initializer_list<uint32_t> v) {
    test::Bytes b;
    for (uint32_t x : v) b.le32(x);
    return b.data;
  };
  auto text = [](const std::string& s) { return std::vector<uint8_t>(s.c_str(), s.c_str() + s.size() + 1); };
  auto rationals = [](std::initializer_list<std::pair<int32_t, int32_t>> v) {
    test::Bytes b;
    for (auto [n, d] : v) b.le32(static_cast<uint32_t>(n)).le32(static_cast<uint32_t>(d));
    return b.data;
  };
  // A scene of colour patches and ramps: each photosite takes the channel its filter passes.
  test::Bytes sensor;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const int channel = (y % 2 == 0) ? (x % 2 == 0 ? 0 : 1) : (x % 2 == 0 ? 1 : 2);
      const uint32_t r = 400 + 3000 * x / width, g = 300 + 2500 * y / height, b = (x / 16 + y / 16) % 2 ? 3500 : 200;
      sensor.le16(channel == 0 ? r : channel == 1 ? g : b);
    }
  const std::vector<Entry> camera = {
      {271, 2, 8, text("Velorin")},
      {272, 2, 5, text("Test")},
      {274, 3, 1, shorts({6})},
      {50706, 1, 4, {1, 4, 0, 0}},
      {50708, 2, 13, text("Velorin Test")},
      {50721, 10, 9, rationals({{10, 10}, {0, 10}, {0, 10}, {0, 10}, {10, 10}, {0, 10}, {0, 10}, {0, 10}, {10, 10}})},
      {50728, 5, 3, rationals({{5, 10}, {10, 10}, {7, 10}})},
      {50778, 3, 1, shorts({21})},
  };
  Ifd raw{{{254, 4, 1, longs({0})},
           {256, 4, 1, longs({width})},
           {257, 4, 1, longs({height})},
           {258, 3, 1, shorts({16})},
           {259, 3, 1, shorts({1})},
           {262, 3, 1, shorts({32803})},
           {273, 4, 1, longs({0})},  // patched below
           {277, 3, 1, shorts({1})},
           {278, 4, 1, longs({height})},
           {279, 4, 1, longs({width * height * 2})},
           {284, 3, 1, shorts({1})},
           {33421, 3, 2, shorts({2, 2})},
           {33422, 1, 4, {0, 1, 1, 2}},
           {50717, 3, 1, shorts({4095})}},
          sensor.data};
  std::vector<Ifd> ifds;
  if (preview) {
    ifds.push_back({{{254, 4, 1, longs({1})},
                     {256, 4, 1, longs({8})},
                     {257, 4, 1, longs({8})},
                     {258, 3, 3, shorts({8, 8, 8})},
                     {259, 3, 1, shorts({1})},
                     {262, 3, 1, shorts({2})},
                     {273, 4, 1, longs({0})},
                     {277, 3, 1, shorts({3})},
                     {278, 4, 1, longs({8})},
                     {279, 4, 1, longs({8 * 8 * 3})},
                     {284, 3, 1, shorts({1})},
                     {330, 4, 1, longs({0})}},  // the sensor's directory, patched below
                    std::vector<uint8_t>(8 * 8 * 3, 128)});
    ifds[0].entries.insert(ifds[0].entries.end(), camera.begin(), camera.end());
  } else {
    raw.entries.insert(raw.entries.end(), camera.begin(), camera.end());
  }
  ifds.push_back(raw);
  for (Ifd& ifd : ifds)
    std::sort(ifd.entries.begin(), ifd.entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });

  // Each directory followed by the values that do not fit in four bytes, then the strips.
  test::Bytes file;
  file.text("II").le16(42).le32(8);
  std::vector<size_t> stripFields, subIfdFields, ifdOffsets;
  for (const Ifd& ifd : ifds) {
    ifdOffsets.push_back(file.data.size());
    const uint32_t extra = static_cast<uint32_t>(file.data.size() + 2 + 12 * ifd.entries.size() + 4);
    std::vector<uint8_t> overflow;
    file.le16(static_cast<uint32_t>(ifd.entries.size()));
    for (const Entry& e : ifd.entries) {
      file.le16(e.tag).le16(e.type).le32(e.count);
      if (e.tag == 273) stripFields.push_back(file.data.size());
      if (e.tag == 330) subIfdFields.push_back(file.data.size());
      if (e.value.size() <= 4) {
        std::vector<uint8_t> v = e.value;
        v.resize(4, 0);
        file.data.insert(file.data.end(), v.begin(), v.end());
      } else {
        file.le32(extra + static_cast<uint32_t>(overflow.size()));
        overflow.insert(overflow.end(), e.value.begin(), e.value.end());
        if (overflow.size() % 2) overflow.push_back(0);
      }
    }
    file.le32(0);
    file.data.insert(file.data.end(), overflow.begin(), overflow.end());
  }
  auto patch = [&](size_t at, size_t value) {
    for (int k = 0; k < 4; ++k) file.data[at + k] = static_cast<uint8_t>(value >> (8 * k));
  };
  for (size_t i = 0; i < ifds.size(); ++i) {
    patch(stripFields[i], file.data.size());
    file.data.insert(file.data.end(), ifds[i].strip.begin(), ifds[i].strip.end());
  }
  if (preview) patch(subIfdFields[0], ifdOffsets[1]);
  return file.data;
}

// RAW: the same pixels as LibRaw's own sample program with the plug-in's settings (camera white
// balance, sRGB, 8 bits, the sRGB curve), turned upright as the file asks.
TEST_F(PhotoPlugins, CameraRawMatchesLibRawsSampleProgram) {
  test::writeBytes(folder / "photo.dng", makeDng(96, 64));
  const ImageRecord decoded = decode(folder / "photo.dng");
  EXPECT_EQ(decoded.header.biWidth, 64);  // orientation 6
  EXPECT_EQ(decoded.header.biHeight, 96);
  if (!have("dcraw_emu")) GTEST_SKIP() << "dcraw_emu is not installed";
  run("dcraw_emu -w -o 1 -g 2.4 12.92 " + quoted(folder / "photo.dng"));
  const std::vector<uint8_t> ppm = test::readBytes(folder / "photo.dng.ppm");
  // "P6\n64 96\n255\n" and the rows top-down.
  std::istringstream header(std::string(ppm.begin(), ppm.begin() + std::min<size_t>(ppm.size(), 32)));
  std::string magic;
  int width = 0, height = 0, maxval = 0;
  header >> magic >> width >> height >> maxval;
  ASSERT_EQ(magic, "P6");
  ASSERT_EQ(maxval, 255);
  const size_t start = static_cast<size_t>(header.tellg()) + 1;
  ASSERT_EQ(ppm.size(), start + size_t(width) * height * 3);
  ImageRecord reference;
  reference.header.biWidth = width, reference.header.biHeight = height, reference.header.biBitCount = 24;
  const uint64_t stride = paddedStride(width, 24);
  ASSERT_TRUE(reference.pixels.allocate(stride * height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t* s = &ppm[start + (size_t(y) * width + x) * 3];
      uint8_t* d = reference.pixels.data() + (height - 1 - y) * stride + 3 * x;
      d[0] = s[2], d[1] = s[1], d[2] = s[0];
    }
  EXPECT_EQ(maxDifference(decoded, reference), 0);
}

// A RAW file whose first image is the camera's thumbnail is not taken by the TIFF reader: the
// program converts the sensor data, as the RAW plug-in develops it.
TEST_F(PhotoPlugins, ARawFileWithAThumbnailFirstConvertsFromTheSensorData) {
  test::writeBytes(folder / "plain.dng", makeDng(96, 64));
  test::writeBytes(folder / "thumbnail.dng", makeDng(96, 64, true));
  const auto [exitCode, errors] = convertToBmp(folder / "thumbnail.dng");
  ASSERT_EQ(exitCode, 0) << errors;
  BmpReader reader;
  ImageRecord converted;
  ASSERT_TRUE(readBmpFile(reader, folder / "out" / "thumbnail.bmp", converted));
  EXPECT_EQ(maxDifference(converted, decode(folder / "plain.dng")), 0);
}

// Patterns, and files that only look like the formats: refused, and nothing is taken by the
// RAW plug-in that is an ordinary TIFF by its name.
TEST_F(PhotoPlugins, DeclareTheirPatternsAndRefuseBrokenFiles) {
  const QStringList patterns = pluginExtensions(host, 1, true);
  for (const char* pattern : {"*.heic", "*.heif", "*.avif", "*.webp", "*.jxl", "*.dng", "*.cr2", "*.nef", "*.arw",
                              "*.orf", "*.raf", "*.rw2", "*.pef"})
    EXPECT_TRUE(patterns.contains(QString::fromLatin1(pattern))) << pattern;
  QString joined, descriptions;
  ASSERT_TRUE(pluginDescription(host, QStringLiteral("heif.spi"), joined, descriptions));
  EXPECT_EQ(joined, QStringLiteral("*.heic;*.heif;*.hif;*.avif"));
  EXPECT_EQ(descriptions, QStringLiteral("HEIF images/AVIF images"));

  test::Bytes webp, heif, jxl;
  webp.text("RIFF").le32(100).text("WEBPVP8 ").le32(88).zeros(88);
  heif.be32(24).text("ftypheic").be32(0).text("mif1heic").be32(16).text("meta").zeros(8);
  jxl.u8(0xFF).u8(0x0A).zeros(40);
  const std::vector<uint8_t> dng = makeDng(32, 32);
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> broken = {
      {"broken.webp", webp.data}, {"broken.heic", heif.data}, {"broken.jxl", jxl.data},
      {"short.dng", {dng.begin(), dng.begin() + 600}}, {"tiff.tif", dng}};
  for (const auto& [name, bytes] : broken) {
    test::writeBytes(folder / name, bytes);
    ImageRecord record;
    EXPECT_FALSE(readImageWithPlugin(host, q(folder / name), record)) << name;
    EXPECT_FALSE(readImageWithPlugin(host, q(folder / name), bytes.data(), bytes.size(), record)) << name;
  }
}

// A ZIP of HEIC pictures converts, through the program, to the same pixels as the pictures
// themselves.
TEST_F(PhotoPlugins, AZipOfHeicPicturesConvertsLikeThePictures) {
  REQUIRE_TOOLS("convert", "heif-enc");
  std::vector<test::ZipMember> members;
  for (const std::string name : {"one", "two"}) {
    const fs::path png = source(name + ".png", name == "two", name == "one" ? 67 : 40, 30);
    run("heif-enc -q 80 " + quoted(png) + " -o " + quoted(folder / (name + ".heic")));
    members.push_back({"photos/" + name + ".heic", test::readBytes(folder / (name + ".heic"))});
  }
  test::writeBytes(folder / "photos.zip", test::makeZip(members));
  const auto [exitCode, errors] = convertToBmp(folder / "photos.zip");
  EXPECT_EQ(exitCode, 0) << errors;
  for (const std::string name : {"one", "two"}) {
    SCOPED_TRACE(name);
    BmpReader reader;
    ImageRecord converted;
    ASSERT_TRUE(readBmpFile(reader, folder / "out" / (name + ".bmp"), converted));
    EXPECT_EQ(maxDifference(converted, decode(folder / (name + ".heic"))), 0);
  }
}

// A file a plug-in recognises but cannot decode fails with a message that names it and says
// it is broken, not that its format is unknown; the other files still convert.
TEST_F(PhotoPlugins, ABrokenPictureIsReportedAsBroken) {
  fs::create_directories(folder / "in");
  test::Bytes webp;
  webp.text("RIFF").le32(100).text("WEBPVP8 ").le32(88).zeros(88);
  test::writeBytes(folder / "in" / "broken.webp", webp.data);
  test::writeBytes(folder / "in" / "photo.dng", makeDng(32, 32));
  const auto [exitCode, errors] = convertToBmp(folder / "in");
  EXPECT_EQ(exitCode, 1);
  EXPECT_NE(errors.find("broken.webp: load failed: invalid or unsupported image parameters"), std::string::npos)
      << errors;
  EXPECT_TRUE(fs::exists(folder / "out" / "photo.bmp"));
}

}  // namespace
}  // namespace velorin
