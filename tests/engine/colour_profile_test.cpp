// Colour profiles from source to output, read back with the reference libraries.
#include <gtest/gtest.h>

#include <QFile>

#include <jpeglib.h>
#include <lcms2.h>
#include <png.h>
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/pipeline.h"
#include "engine_test_support.h"
#include "formats/icc_profile.h"
#include "formats/jpeg_test_support.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::convertTo;
using test::q;

std::vector<uint8_t> saved(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<uint8_t> bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

std::vector<uint8_t> srgbProfile() { return saved(cmsCreate_sRGBProfile()); }

// Display P3 primaries; with tabulated curves of `curvePoints` entries (one slightly different
// curve per channel, so none is shared) the profile grows to any size, 6 bytes a point.
std::vector<uint8_t> wideGamutProfile(int curvePoints = 0) {
  const cmsCIExyY white = {0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
  cmsToneCurve* curves[3] = {};
  for (int c = 0; c < 3; ++c) {
    const double gamma = 2.2 + 0.05 * c;
    if (curvePoints > 0) {
      std::vector<cmsUInt16Number> table(static_cast<size_t>(curvePoints));
      for (int i = 0; i < curvePoints; ++i)
        table[static_cast<size_t>(i)] = static_cast<cmsUInt16Number>(65535.0 * std::pow(i / (curvePoints - 1.0), gamma));
      curves[c] = cmsBuildTabulatedToneCurve16(nullptr, static_cast<cmsUInt32Number>(curvePoints), table.data());
    } else {
      curves[c] = cmsBuildGamma(nullptr, gamma);
    }
  }
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  for (cmsToneCurve* curve : curves) cmsFreeToneCurve(curve);
  return saved(profile);
}

std::vector<uint8_t> jpegWithProfile(const std::vector<uint8_t>& profile, int components = 3) {
  std::vector<uint8_t> jpeg = test::libraryEncode(64, 48, components, 85);
  const auto segments = jpegIccSegments(profile);
  for (auto it = segments.rbegin(); it != segments.rend(); ++it)
    jpeg = test::withSegmentAfterSoi(jpeg, test::segment(0xE2, *it));
  return jpeg;
}

std::vector<uint8_t> profileOfJpeg(const std::vector<uint8_t>& bytes) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr error;
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);
  JOCTET* data = nullptr;
  unsigned length = 0;
  std::vector<uint8_t> profile;
  if (jpeg_read_icc_profile(&cinfo, &data, &length)) profile.assign(data, data + length);
  std::free(data);
  jpeg_destroy_decompress(&cinfo);
  return profile;
}

std::vector<uint8_t> profileOfPng(const std::filesystem::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<uint8_t> profile;
  if (!setjmp(png_jmpbuf(png))) {
    png_init_io(png, file);
    png_read_info(png, info);
    png_charp name = nullptr;
    int method = 0;
    png_bytep data = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &method, &data, &length)) profile.assign(data, data + length);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return profile;
}

std::vector<uint8_t> profileOfTiff(const std::filesystem::path& path) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  std::vector<uint8_t> profile;
  if (!tiff) return profile;
  uint32_t length = 0;
  void* data = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &data))
    profile.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + length);
  TIFFClose(tiff);
  return profile;
}

ConversionSettings outputFormat(int OFmt) {
  ConversionSettings s;
  s.OFmt = OFmt;
  s.DepOpt = 0;
  return s;
}

TEST(ColourProfile, JpegSourceKeepsItsProfileInEveryColourOutput) {
  test::TempFolder folder;
  for (const auto& profile : {srgbProfile(), wideGamutProfile()}) {
    ASSERT_TRUE(isRgbIccProfile(profile));
    const auto source = folder / "source.jpg";
    test::writeBytes(source, jpegWithProfile(profile));

    const auto jpeg = convertTo(outputFormat(2), source, folder / "out.jpg");
    ASSERT_FALSE(jpeg.empty());
    EXPECT_EQ(profileOfJpeg(test::readBytes(jpeg)), profile);

    ConversionSettings resized = outputFormat(2);
    resized.RszOpt = 3;
    resized.RszSize = 20;
    const auto small = convertTo(resized, source, folder / "small.jpg");
    ASSERT_FALSE(small.empty());
    EXPECT_EQ(profileOfJpeg(test::readBytes(small)), profile);

    const auto png = convertTo(outputFormat(1), source, folder / "out.png");
    ASSERT_FALSE(png.empty());
    EXPECT_EQ(profileOfPng(png), profile);

    const auto tiff = convertTo(outputFormat(3), source, folder / "out.tif");
    ASSERT_FALSE(tiff.empty());
    EXPECT_EQ(profileOfTiff(tiff), profile);

    // A 256-colour palette output is still a colour image.
    ConversionSettings palette = outputFormat(3);
    palette.DepOpt = 2;
    const auto indexed = convertTo(palette, source, folder / "indexed.tif");
    ASSERT_FALSE(indexed.empty());
    EXPECT_EQ(profileOfTiff(indexed), profile);
  }
}

TEST(ColourProfile, PngSourceProfileReachesAJpegOutput) {
  test::TempFolder folder;
  const auto profile = wideGamutProfile();
  const auto source = folder / "source.jpg";
  test::writeBytes(source, jpegWithProfile(profile));
  const auto png = convertTo(outputFormat(1), source, folder / "mid.png");
  ASSERT_FALSE(png.empty());
  const auto jpeg = convertTo(outputFormat(2), png, folder / "out.jpg");
  ASSERT_FALSE(jpeg.empty());
  EXPECT_EQ(profileOfJpeg(test::readBytes(jpeg)), profile);
  const auto tiff = convertTo(outputFormat(3), png, folder / "out.tif");
  const auto back = convertTo(outputFormat(1), tiff, folder / "back.png");
  ASSERT_FALSE(back.empty());
  EXPECT_EQ(profileOfPng(back), profile);
}

TEST(ColourProfile, LargeProfileSpansSeveralSegmentsAndReadsBackWhole) {
  test::TempFolder folder;
  const auto profile = wideGamutProfile(17000);
  ASSERT_GT(profile.size(), 100000u);
  const auto source = folder / "source.png";
  test::writeBytes(folder / "seed.jpg", jpegWithProfile(profile));
  ASSERT_FALSE(convertTo(outputFormat(1), folder / "seed.jpg", source).empty());
  const auto jpeg = convertTo(outputFormat(2), source, folder / "out.jpg");
  ASSERT_FALSE(jpeg.empty());
  const auto bytes = test::readBytes(jpeg);
  int app2 = 0;
  for (const auto& s : test::listSegments(bytes)) app2 += s.code == 0xE2;
  EXPECT_EQ(app2, 2);
  EXPECT_EQ(profileOfJpeg(bytes), profile);
}

TEST(ColourProfile, GreyOutputsAndProfilesThatDoNotFitCarryNone) {
  test::TempFolder folder;
  const auto profile = srgbProfile();
  const auto source = folder / "source.jpg";
  test::writeBytes(source, jpegWithProfile(profile));
  for (int OFmt : {1, 2, 3}) {
    ConversionSettings grey = outputFormat(OFmt);
    grey.DepOpt = 6;
    const auto out = convertTo(grey, source, folder / ("grey" + std::to_string(OFmt)));
    ASSERT_FALSE(out.empty()) << OFmt;
    const auto found = OFmt == 1 ? profileOfPng(out) : OFmt == 3 ? profileOfTiff(out)
                                                                 : profileOfJpeg(test::readBytes(out));
    EXPECT_TRUE(found.empty()) << OFmt;
  }
  // A bilevel TIFF is grey too.
  ConversionSettings bilevel = outputFormat(3);
  bilevel.DepOpt = 5;
  EXPECT_TRUE(profileOfTiff(convertTo(bilevel, source, folder / "bilevel.tif")).empty());

  // A grey profile on a grey source would misdescribe a colour output.
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
  const auto greyProfile = saved(cmsCreateGrayProfile(cmsD50_xyY(), gamma));
  cmsFreeToneCurve(gamma);  // the profile keeps a copy
  test::writeBytes(source, jpegWithProfile(greyProfile, 1));
  EXPECT_TRUE(profileOfJpeg(test::readBytes(convertTo(outputFormat(2), source, folder / "g.jpg"))).empty());
}

TEST(ColourProfile, DamagedChainsAreDroppedAndTheImageStillConverts) {
  const auto profile = wideGamutProfile(17000);
  const auto segments = jpegIccSegments(profile);
  ASSERT_EQ(segments.size(), 2u);
  const auto base = test::libraryEncode(16, 16, 3, 85);
  auto withSegments = [&](std::vector<std::vector<uint8_t>> list) {
    std::vector<uint8_t> jpeg = base;
    for (auto it = list.rbegin(); it != list.rend(); ++it)
      jpeg = test::withSegmentAfterSoi(jpeg, test::segment(0xE2, *it));
    return jpeg;
  };
  // Out of order is fine: the sequence numbers decide.
  auto swapped = withSegments({segments[1], segments[0]});
  EXPECT_EQ(readJpegIccProfile(swapped.data(), swapped.size()), profile);
  auto missing = withSegments({segments[0]});
  EXPECT_TRUE(readJpegIccProfile(missing.data(), missing.size()).empty());
  auto twice = withSegments({segments[0], segments[0], segments[1]});
  EXPECT_TRUE(readJpegIccProfile(twice.data(), twice.size()).empty());
  auto lying = segments;
  lying[0][14 + 3] ^= 1;  // the size in the profile's header no longer matches
  auto damaged = withSegments(lying);
  EXPECT_TRUE(readJpegIccProfile(damaged.data(), damaged.size()).empty());

  test::TempFolder folder;
  test::writeBytes(folder / "damaged.jpg", damaged);
  const auto out = convertTo(outputFormat(2), folder / "damaged.jpg", folder / "out.jpg");
  ASSERT_FALSE(out.empty());
  EXPECT_TRUE(profileOfJpeg(test::readBytes(out)).empty());
}

TEST(ColourProfile, PngChunkRefusesBadStreamsAndBombs) {
  const auto profile = srgbProfile();
  const auto chunk = makePngIccChunk(profile);
  EXPECT_EQ(readPngIccChunk(chunk.data(), chunk.size()), profile);
  auto cut = chunk;
  cut.resize(cut.size() - 6);
  EXPECT_TRUE(readPngIccChunk(cut.data(), cut.size()).empty());
  auto method = chunk;
  method[12] = 1;
  EXPECT_TRUE(readPngIccChunk(method.data(), method.size()).empty());
  // 64 MiB of zeros inflate past the bound and are refused without being held whole.
  const std::vector<uint8_t> zeros(64u << 20, 0);
  const auto bomb = makePngIccChunk(zeros);
  EXPECT_TRUE(readPngIccChunk(bomb.data(), bomb.size()).empty());
}

}  // namespace
}  // namespace velorin
