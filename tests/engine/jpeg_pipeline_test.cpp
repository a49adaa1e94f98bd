#include <gtest/gtest.h>

#include <QFile>

#include <cstdio>
#include <cstring>

#include "engine/pipeline.h"
#include "formats/exif.h"
#include "formats/jpeg_test_support.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::q;

std::vector<uint8_t> cameraFile(int width, int height, int orientation, bool bigEndian = false) {
  test::ExifSpec spec;
  spec.bigEndian = bigEndian;
  spec.orientation = orientation;
  spec.dateTime = "2019:07:14 10:20:30";
  spec.thumbnail = test::libraryEncode(32, 24, 3, 70);
  return test::withSegmentAfterSoi(test::libraryEncode(width, height, 3, 40),
                                   test::segment(0xE1, test::exifPayload(spec)));
}

// The value of a SHORT or LONG tag anywhere in a file's first EXIF segment; -1 when absent.
int64_t exifValue(const std::vector<uint8_t>& jpeg, uint32_t tag, uint32_t* type = nullptr) {
  const auto segments = test::listSegments(jpeg);
  for (const auto& s : segments) {
    if (s.code != 0xE1) continue;
    const uint8_t* tiff = jpeg.data() + s.offset + 10;
    const size_t length = s.length - 8;
    const bool big = tiff[0] == 'M';
    auto r16 = [&](size_t p) { return big ? loadBe16(tiff + p) : loadLe16(tiff + p); };
    auto r32 = [&](size_t p) { return big ? loadBe32(tiff + p) : loadLe32(tiff + p); };
    for (size_t p = 8; p + 12 <= length; p += 2) {
      if (r16(p) != tag) continue;
      const uint32_t t = r16(p + 2);
      if ((t != 3 && t != 4) || r32(p + 4) != 1) continue;
      if (type) *type = t;
      return t == 3 ? r16(p + 8) : r32(p + 8);
    }
    return -1;
  }
  return -1;
}

struct Converted {
  bool ok = false;
  std::vector<uint8_t> bytes;
};

Converted convert(const ConversionSettings& settings, const std::filesystem::path& source) {
  auto ws = createJobWorkspace(settings);
  PendingFile temporary;
  Converted result;
  result.ok = convertFile(*ws, nullptr, q(source), temporary);
  if (result.ok) {
    result.bytes = test::readBytes(toFsPath(temporary.path()));
  }
  return result;
}

ConversionSettings jpegOutput() {
  ConversionSettings s;
  s.OFmt = 2;
  s.DepOpt = 0;
  return s;
}

TEST(JpegPipeline, PrescaleKeepsTheTargetAndFollowsAPendingQuarterTurn) {
  test::TempFolder folder;
  const auto path = folder / "big.jpg";
  test::writeBytes(path, cameraFile(4000, 3000, 6));
  struct Case {
    int RszOpt, RszSize, TurOpt, width;
  };
  const Case cases[] = {
      {1, 400, 0, 500},   // 500 x 375 is still wider than 400
      {1, 600, 0, 1000},  // 1/8 would be narrower
      {1, 400, 4, 1000},  // orientation 6: the width becomes the height, 3000 / 400 = 7
      {2, 400, 1, 500},   // height driven, turned: the width constrains, 4000 / 400 = 10
      {3, 1600, 0, 4000},  // 3000 / 1600 = 1
      {3, 1000, 0, 2000},
      {0, 100, 0, 4000},
  };
  for (const Case& c : cases) {
    ConversionSettings s = jpegOutput();
    s.RszOpt = c.RszOpt;
    s.RszSize = c.RszSize;
    s.TurOpt = c.TurOpt;
    auto ws = createJobWorkspace(s);
    ASSERT_TRUE(loadFromPath(*ws, q(path)));
    EXPECT_EQ(ws->image.workWidth, c.width) << c.RszOpt << " " << c.RszSize << " " << c.TurOpt;
    EXPECT_TRUE(ws->image.hasExif);
    EXPECT_EQ(ws->image.exifOrientation, 6);
  }
}

TEST(JpegPipeline, ExifDateIsReadOnlyForDateNaming) {
  test::TempFolder folder;
  const auto path = folder / "a.jpg";
  test::writeBytes(path, cameraFile(32, 16, 1, true));
  ConversionSettings s = jpegOutput();
  s.NameSet = 1;
  auto ws = createJobWorkspace(s);
  ASSERT_TRUE(loadFromPath(*ws, q(path)));
  EXPECT_TRUE(ws->image.hasExifDateTime);
  EXPECT_STREQ(ws->image.exifDateTime, "2019:07:14 10:20:30");
  s.NameSet = 0;
  ws = createJobWorkspace(s);
  ASSERT_TRUE(loadFromPath(*ws, q(path)));
  EXPECT_FALSE(ws->image.hasExifDateTime);
}

TEST(JpegPipeline, ExifCopyKeepsTheSourcesOrientationUnlessThePixelsWereTurned) {
  for (bool big : {false, true}) {
    test::TempFolder folder;
    const auto path = folder / "photo.jpg";
    const auto source = cameraFile(200, 100, 6, big);
    test::writeBytes(path, source);

    ConversionSettings s = jpegOutput();
    s.CopyExif = true;
    s.TurOpt = 0;
    Converted out = convert(s, path);
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(exifValue(out.bytes, 274), 6);  // still sideways: a viewer turns it
    s.TurOpt = 4;
    out = convert(s, path);
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(exifValue(out.bytes, 274), 1);
    s.TurOpt = 2;
    out = convert(s, path);
    EXPECT_EQ(exifValue(out.bytes, 274), 1);

    const auto segments = test::listSegments(out.bytes);
    EXPECT_EQ(segments[0].code, 0xE1);  // no JFIF header before it
    for (const auto& seg : segments) EXPECT_NE(seg.code, 0xE0);
    uint32_t type = 0;
    EXPECT_EQ(exifValue(out.bytes, 40962, &type), 200);
    EXPECT_EQ(type, 4u);
    EXPECT_EQ(exifValue(out.bytes, 40963, &type), 100);
    EXPECT_EQ(test::readBytes(path), source);  // the source is never changed
    // Larger than 160 pixels: a reduced copy becomes the new thumbnail.
    ExifThumbnailInfo info;
    const auto written = folder / "written.jpg";
    test::writeBytes(written, out.bytes);
    ASSERT_TRUE(readExifThumbnailInfo(written, info));
    EXPECT_EQ(info.thumbWidth, 160);
    EXPECT_EQ(info.thumbHeight, 80);

    s.CopyExif = false;
    out = convert(s, path);
    EXPECT_EQ(test::listSegments(out.bytes)[0].code, 0xE0);
    EXPECT_EQ(exifValue(out.bytes, 274), -1);
  }
}

TEST(JpegPipeline, CameraSizeGetsA160PixelThumbnailWithinOneSegment) {
  test::TempFolder folder;
  const auto path = folder / "camera.jpg";
  test::writeBytes(path, cameraFile(4000, 3000, 1));
  ConversionSettings s = jpegOutput();
  s.CopyExif = true;
  const Converted out = convert(s, path);
  ASSERT_TRUE(out.ok);
  const auto written = folder / "written.jpg";
  test::writeBytes(written, out.bytes);
  ExifThumbnailInfo info;
  ASSERT_TRUE(readExifThumbnailInfo(written, info));
  EXPECT_EQ(info.thumbWidth, 160);
  EXPECT_EQ(info.thumbHeight, 120);
  EXPECT_LE(info.thumbnailOffset + info.thumbnailLength + 2, 65535u);
  EXPECT_EQ(test::listSegments(out.bytes)[0].length, info.thumbnailOffset + info.thumbnailLength + 2);
  const std::vector<uint8_t> thumb(info.payload.begin() + info.thumbnailOffset,
                                   info.payload.begin() + info.thumbnailOffset + info.thumbnailLength);
  EXPECT_TRUE(test::libraryDecode(thumb).ok);
}

TEST(JpegPipeline, CameraFileExifStaysValidForExiftool) {
  if (std::system("exiftool -ver > /dev/null 2>&1") != 0) GTEST_SKIP() << "exiftool not installed";
  test::TempFolder folder;
  const auto source = test::testdata("jpeg/exif-samples/Canon_40D.jpg");
  const auto before = test::readBytes(source);
  ConversionSettings s = jpegOutput();
  s.CopyExif = true;
  s.Quality = 90;
  const Converted out = convert(s, source);
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(test::readBytes(source), before);
  const auto path = folder / "out.jpg";
  test::writeBytes(path, out.bytes);
  // The APP1 keeps the source's length when the thumbnail did not grow past it... or is the
  // rewritten one; either way exiftool must find nothing wrong.
  const std::string command = "exiftool -validate -warning -a -s3 " + path.string() +
                              " > " + (folder / "v.txt").string() + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const auto report = test::readBytes(folder / "v.txt");
  EXPECT_EQ(std::string(report.begin(), report.end()), "OK\n");
  const std::string thumb = "exiftool -b -ThumbnailImage " + path.string() + " > " +
                            (folder / "thumb.jpg").string();
  ASSERT_EQ(std::system(thumb.c_str()), 0);
  const auto decoded = test::libraryDecode(test::readBytes(folder / "thumb.jpg"));
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.width, 100);
  EXPECT_EQ(decoded.height, 68);
}

TEST(JpegPipeline, CommentAndSizeLimitReachTheWriter) {
  test::TempFolder folder;
  const auto path = folder / "c.jpg";
  test::writeBytes(path, test::libraryEncode(300, 200, 3, 95));
  ConversionSettings s = jpegOutput();
  s.CmtOpt = true;
  s.CmtStr1 = QStringLiteral("line one\r\nline two");
  s.Limit = true;
  s.LmtVal = 3;
  s.Quality = 100;
  const Converted out = convert(s, path);
  ASSERT_TRUE(out.ok);
  EXPECT_LE(out.bytes.size(), 3u * 1024);
  const auto segments = test::listSegments(out.bytes);
  ASSERT_GE(segments.size(), 2u);
  EXPECT_EQ(segments[1].code, 0xFE);
  EXPECT_EQ(std::string(out.bytes.begin() + segments[1].offset + 4,
                        out.bytes.begin() + segments[1].offset + 2 + segments[1].length),
            "line one\r\nline two");
}

}  // namespace
}  // namespace velorin

namespace velorin {
namespace {

std::vector<uint8_t> thumbnailOf(const std::vector<uint8_t>& jpeg, const test::TempFolder& folder) {
  const auto path = folder / "with-thumbnail.jpg";
  test::writeBytes(path, jpeg);
  ExifThumbnailInfo info;
  if (!readExifThumbnailInfo(path, info)) return {};
  return {info.payload.begin() + info.thumbnailOffset,
          info.payload.begin() + info.thumbnailOffset + info.thumbnailLength};
}

std::vector<uint8_t> jpegtranBytes(const std::vector<uint8_t>& input, const std::string& options,
                                   const test::TempFolder& folder) {
  test::writeBytes(folder / "jt-in.jpg", input);
  const std::string command = "jpegtran " + options + " -outfile " + (folder / "jt-out.jpg").string() +
                              " " + (folder / "jt-in.jpg").string();
  EXPECT_EQ(std::system(command.c_str()), 0);
  return test::readBytes(folder / "jt-out.jpg");
}

ConversionSettings lossless() {
  ConversionSettings s;
  s.JTrans = true;
  s.Marker = 2;
  return s;
}

TEST(LosslessPipeline, ExifOrientationTurnsPictureAndThumbnailAndIsReset) {
  if (std::system("jpegtran -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no jpegtran";
  test::TempFolder folder;
  const auto path = folder / "camera.jpg";
  const auto source = cameraFile(200, 120, 6, true);
  test::writeBytes(path, source);
  ConversionSettings s = lossless();
  s.TurOpt = 4;
  s.NameSet = 1;
  auto ws = createJobWorkspace(s);
  PendingFile temporary;
  ASSERT_TRUE(convertFile(*ws, nullptr, q(path), temporary));
  const auto out = test::readBytes(toFsPath(temporary.path()));
  EXPECT_EQ(test::readBytes(path), source);
  EXPECT_EQ(ws->image.exifOrientation, 6);
  EXPECT_TRUE(ws->image.hasExifDateTime);
  EXPECT_EQ(ws->image.workWidth, 112);  // 120 trimmed to whole 16-pixel iMCUs
  EXPECT_EQ(ws->image.workHeight, 200);

  const auto reference = jpegtranBytes(source, "-rotate 90 -trim -copy none", folder);
  EXPECT_TRUE(test::libraryDecode(out).rows == test::libraryDecode(reference).rows);
  EXPECT_EQ(exifValue(out, 274), 1);
  EXPECT_EQ(exifValue(out, 40962), 112);
  EXPECT_EQ(test::listSegments(out)[0].code, 0xE1);

  const auto thumb = thumbnailOf(out, folder);
  const auto referenceThumb = jpegtranBytes(thumbnailOf(source, folder), "-rotate 90 -trim", folder);
  const auto a = test::libraryDecode(thumb);
  const auto b = test::libraryDecode(referenceThumb);
  ASSERT_TRUE(a.ok);
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  EXPECT_TRUE(a.rows == b.rows);
}

TEST(LosslessPipeline, MarkerOptionProgressiveGreyscaleAndComment) {
  test::TempFolder folder;
  const auto path = folder / "camera.jpg";
  const auto source = cameraFile(64, 48, 1);
  test::writeBytes(path, source);

  ConversionSettings s = lossless();
  s.Marker = 0;
  s.Progressive = true;
  Converted out = convert(s, path);
  ASSERT_TRUE(out.ok);
  auto segments = test::listSegments(out.bytes);
  EXPECT_EQ(segments[0].code, 0xE0);
  bool progressive = false;
  for (const auto& seg : segments) {
    EXPECT_NE(seg.code, 0xE1);
    progressive = progressive || seg.code == 0xC2;
  }
  EXPECT_TRUE(progressive);  // TurOpt 0 still rewrites
  EXPECT_TRUE(test::libraryDecode(out.bytes).rows == test::libraryDecode(source).rows);

  // Greyscale from colour turns the thumbnail grey too.
  s = lossless();
  s.DepOpt = 6;
  out = convert(s, path);
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(test::libraryDecode(out.bytes).components, 1);
  EXPECT_EQ(test::libraryDecode(thumbnailOf(out.bytes, folder)).components, 1);

  s = lossless();
  s.CmtOpt = true;
  s.CmtStr1 = QStringLiteral("first\r\nsecond");
  out = convert(s, path);
  ASSERT_TRUE(out.ok);
  segments = test::listSegments(out.bytes);
  // The source's EXIF and JFIF segments are both kept; the comment follows the last of them.
  ASSERT_EQ(segments[0].code, 0xE1);
  ASSERT_EQ(segments[1].code, 0xE0);
  ASSERT_EQ(segments[2].code, 0xFE);
  EXPECT_EQ(std::string(out.bytes.begin() + segments[2].offset + 4,
                        out.bytes.begin() + segments[2].offset + 2 + segments[2].length),
            "first\nsecond");
}

TEST(LosslessPipeline, CorruptSourceLeavesNoTemporaryFile) {
  test::TempFolder folder;
  const auto temporaryFolder = folder / "tmp";
  std::filesystem::create_directories(temporaryFolder);
  const auto path = folder / "bad.jpg";
  test::writeBytes(path, {0xFF, 0xD8, 0xFF, 0xD9, 0, 0, 0, 0});
  auto ws = createJobWorkspace(lossless());
  ws->temporaryFolder = q(temporaryFolder);
  PendingFile temporary;
  EXPECT_FALSE(convertFile(*ws, nullptr, q(path), temporary));
  EXPECT_TRUE(std::filesystem::is_empty(temporaryFolder));
}

}  // namespace
}  // namespace velorin
