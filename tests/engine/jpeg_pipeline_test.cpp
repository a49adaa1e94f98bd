#include <gtest/gtest.h>

#include <QFile>

#include <cstdio>
#include <cstring>

#include "engine/pipeline.h"
#include "formats/exif.h"
#include "formats/jpeg_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

QString qpath(const std::filesystem::path& p) { return QFile::decodeName(p.c_str()); }

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
  QString temporary;
  Converted result;
  result.ok = convertFile(*ws, nullptr, qpath(source), temporary);
  if (result.ok) {
    result.bytes = test::readBytes(QFile::encodeName(temporary).toStdString());
    QFile::remove(temporary);
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
    ASSERT_TRUE(loadFromPath(*ws, qpath(path)));
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
  ASSERT_TRUE(loadFromPath(*ws, qpath(path)));
  EXPECT_TRUE(ws->image.hasExifDateTime);
  EXPECT_STREQ(ws->image.exifDateTime, "2019:07:14 10:20:30");
  s.NameSet = 0;
  ws = createJobWorkspace(s);
  ASSERT_TRUE(loadFromPath(*ws, qpath(path)));
  EXPECT_FALSE(ws->image.hasExifDateTime);
}

TEST(JpegPipeline, ExifCopyKeepsTheSourcesOrientationUnlessThePixelsWereTurned) {
  for (bool big : {false, true}) {
    test::TempFolder folder;
    const auto path = folder / "photo.jpg";
    const auto source = cameraFile(150, 100, 6, big);
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
    EXPECT_EQ(exifValue(out.bytes, 40962, &type), 150);
    EXPECT_EQ(type, 4u);
    EXPECT_EQ(exifValue(out.bytes, 40963, &type), 100);
    EXPECT_EQ(test::readBytes(path), source);  // the source is never changed
    // The image is small, so it is its own new thumbnail.
    ExifThumbnailInfo info;
    const auto written = folder / "written.jpg";
    test::writeBytes(written, out.bytes);
    ASSERT_TRUE(readExifThumbnailInfo(written, info));
    EXPECT_EQ(info.thumbWidth, 150);
    EXPECT_EQ(info.thumbHeight, 100);

    s.CopyExif = false;
    out = convert(s, path);
    EXPECT_EQ(test::listSegments(out.bytes)[0].code, 0xE0);
    EXPECT_EQ(exifValue(out.bytes, 274), -1);
  }
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
