#include "formats/jpeg_transform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "formats/exif.h"
#include "formats/jpeg_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

bool haveJpegtran() { return std::system("jpegtran -version > /dev/null 2>&1") == 0; }

std::vector<uint8_t> jpegtran(const std::filesystem::path& source, const std::string& options,
                              const test::TempFolder& folder) {
  const auto out = folder / "reference.jpg";
  const std::string command = "jpegtran " + options + " -outfile " + out.string() + " " + source.string();
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return test::readBytes(out);
}

struct Source {
  const char* name;
  int width, height, components, hSamp, vSamp;
};

TEST(JpegTransform, MatchesJpegtranForEverySamplingRotationAndGreyscale) {
  if (!haveJpegtran()) GTEST_SKIP() << "jpegtran not installed";
  const Source sources[] = {
      {"420", 1000, 750, 3, 2, 2}, {"422", 203, 101, 3, 2, 1}, {"444", 77, 45, 3, 1, 1},
      {"grey", 51, 29, 1, 1, 1},   {"narrow420", 12, 16, 3, 2, 2}, {"tiny420", 7, 5, 3, 2, 2},
  };
  for (const Source& s : sources) {
    test::TempFolder folder;
    const auto sourcePath = folder / "source.jpg";
    const auto bytes = test::libraryEncode(s.width, s.height, s.components, 85, s.hSamp, s.vSamp);
    test::writeBytes(sourcePath, bytes);
    for (int rotation = 0; rotation <= 3; ++rotation) {
      for (bool grey : {false, true}) {
        SCOPED_TRACE(testing::Message() << s.name << " rotation " << rotation << " grey " << grey);
        JpegTransform t;
        setJpegTransformRequest(t, rotation, grey, 0, rotation == 2);
        const auto ours = folder / "ours.jpg";
        ASSERT_TRUE(transformJpeg(t, bytes.data(), bytes.size(), ours)) << t.message;
        std::string options = "-copy none -trim";
        if (rotation) options += " -rotate " + std::to_string(rotation * 90);
        if (grey) options += " -grayscale";
        const auto a = test::libraryDecode(test::readBytes(ours));
        const auto b = test::libraryDecode(jpegtran(sourcePath, options, folder));
        ASSERT_TRUE(a.ok);
        ASSERT_TRUE(b.ok);
        EXPECT_EQ(a.width, b.width);
        EXPECT_EQ(a.height, b.height);
        EXPECT_EQ(a.components, b.components);
        EXPECT_TRUE(a.rows == b.rows);
        EXPECT_EQ(t.outputWidth, static_cast<uint32_t>(a.width));
        EXPECT_EQ(t.outputHeight, static_cast<uint32_t>(a.height));
      }
    }
  }
}

TEST(JpegTransform, TrimmedSizesOfTheDocumentedExamples) {
  const auto bytes = test::libraryEncode(1000, 750, 3, 60, 2, 2);
  test::TempFolder folder;
  const std::pair<int, std::pair<uint32_t, uint32_t>> cases[] = {
      {1, {736, 1000}}, {2, {992, 736}}, {3, {750, 992}}, {0, {1000, 750}}};
  for (const auto& [rotation, size] : cases) {
    JpegTransform t;
    setJpegTransformRequest(t, rotation, false, 2, false);
    ASSERT_TRUE(transformJpeg(t, bytes.data(), bytes.size(), folder / "r.jpg"));
    EXPECT_EQ(t.outputWidth, size.first) << rotation;
    EXPECT_EQ(t.outputHeight, size.second) << rotation;
  }
  const auto narrow = test::libraryEncode(12, 16, 3, 60, 2, 2);
  JpegTransform t;
  setJpegTransformRequest(t, 2, false, 2, false);
  ASSERT_TRUE(transformJpeg(t, narrow.data(), narrow.size(), folder / "n.jpg"));
  EXPECT_EQ(t.outputWidth, 12u);
  EXPECT_EQ(t.outputHeight, 16u);
}

TEST(JpegTransform, MarkerOptionsAndExif) {
  test::ExifSpec spec;
  spec.orientation = 6;
  spec.thumbnail = test::libraryEncode(40, 30, 3, 70);
  std::vector<uint8_t> source = test::libraryEncode(64, 48, 3, 80);
  source = test::withSegmentAfterSoi(source, test::segment(0xFE, {'h', 'i'}));
  source = test::withSegmentAfterSoi(source, test::segment(0xE1, test::exifPayload(spec)));
  const auto original = source;
  test::TempFolder folder;
  const auto out = folder / "o.jpg";

  JpegTransform t;
  setJpegTransformRequest(t, 1, false, 2, false);
  ASSERT_TRUE(transformJpeg(t, source.data(), source.size(), out));
  EXPECT_EQ(source, original);  // the orientation reset never reaches the source
  auto bytes = test::readBytes(out);
  auto segments = test::listSegments(bytes);
  EXPECT_EQ(segments[0].code, 0xE1);  // no JFIF in front of a kept EXIF
  EXPECT_EQ(segments[1].code, 0xFE);
  EXPECT_EQ(readExifOrientation(bytes.data(), bytes.size()), 1);
  // The thumbnail turns with the picture.
  ASSERT_TRUE(transformExifThumbnail(out, t));
  ExifThumbnailInfo info;
  ASSERT_TRUE(readExifThumbnailInfo(out, info));
  EXPECT_EQ(info.thumbWidth, 16);  // 30 high, trimmed to whole 4:2:0 iMCUs as the width
  EXPECT_EQ(info.thumbHeight, 40);

  setJpegTransformRequest(t, 0, false, 1, false);
  ASSERT_TRUE(transformJpeg(t, source.data(), source.size(), out));
  bytes = test::readBytes(out);
  segments = test::listSegments(bytes);
  EXPECT_EQ(segments[0].code, 0xE0);
  EXPECT_EQ(segments[1].code, 0xFE);
  EXPECT_EQ(readExifOrientation(bytes.data(), bytes.size()), 1);
  bool hasExif = true;
  readLastExifOrientation(bytes.data(), bytes.size(), hasExif);
  EXPECT_FALSE(hasExif);

  setJpegTransformRequest(t, 0, false, 0, true);
  ASSERT_TRUE(transformJpeg(t, source.data(), source.size(), out));
  bytes = test::readBytes(out);
  for (const auto& s : test::listSegments(bytes)) {
    EXPECT_NE(s.code, 0xFE);
    EXPECT_NE(s.code, 0xE1);
  }
  EXPECT_TRUE(test::libraryDecode(bytes).rows == test::libraryDecode(original).rows);
}

TEST(JpegTransform, MemoryModeNeverWritesPastItsCapacity) {
  const auto source = test::libraryEncode(64, 64, 3, 95);
  std::vector<uint8_t> block(500 + 64, 0xCD);
  uint32_t size = 500;
  JpegTransform t;
  setJpegTransformRequest(t, 1, false, 0, false);
  EXPECT_FALSE(transformJpegToMemory(t, source.data(), source.size(), block.data(), size));
  for (size_t i = 500; i < block.size(); ++i) ASSERT_EQ(block[i], 0xCD);
  std::vector<uint8_t> roomy(65533);
  size = 65533;
  ASSERT_TRUE(transformJpegToMemory(t, source.data(), source.size(), roomy.data(), size));
  roomy.resize(size);
  EXPECT_EQ(test::libraryDecode(roomy).width, 64);
}

TEST(JpegTransform, FailuresEndWithAStatus) {
  test::TempFolder folder;
  JpegTransform t;
  const uint8_t junk[] = {0xFF, 0xD8, 0xFF, 0xD9};
  EXPECT_FALSE(transformJpeg(t, junk, sizeof junk, folder / "x.jpg"));
  EXPECT_NE(t.status, Status::Ok);
  const auto source = test::libraryEncode(16, 16, 3);
  EXPECT_FALSE(transformJpeg(t, source.data(), source.size(), "/nonexistent/dir/x.jpg"));
  EXPECT_EQ(t.status, Status::CannotCreate);
  EXPECT_FALSE(transformJpegFile(t, folder / "missing.jpg", folder / "y.jpg"));
  // Greyscale from a CMYK stream is not possible without decoding.
  const auto cmyk = test::libraryEncode(16, 16, 4, 90, 1, 1, true);
  setJpegTransformRequest(t, 0, true, 0, false);
  EXPECT_FALSE(transformJpeg(t, cmyk.data(), cmyk.size(), folder / "c.jpg"));
  setJpegTransformRequest(t, 1, false, 0, false);
  EXPECT_TRUE(transformJpeg(t, cmyk.data(), cmyk.size(), folder / "c.jpg")) << t.message;
}

TEST(JpegTransform, HugeFrameOverTinyDataIsRefusedBeforeItsCoefficients) {
  // A small picture whose frame header claims 8000 x 4000: the transform would hold the
  // coefficients of 32 megapixels, twice, for a few hundred bytes of data.
  std::vector<uint8_t> source = test::libraryEncode(16, 16, 1, 90);
  size_t frame = 2;
  while (frame + 9 < source.size() && !(source[frame] == 0xFF && source[frame + 1] == 0xC0)) ++frame;
  ASSERT_LT(frame + 9, source.size());
  const uint8_t size[] = {0x0F, 0xA0, 0x1F, 0x40};
  std::copy(size, size + 4, source.begin() + frame + 5);
  JpegTransform t;
  setJpegTransformRequest(t, 1, false, 0, false);
  std::vector<uint8_t> block(1 << 16);
  uint32_t capacity = static_cast<uint32_t>(block.size());
  EXPECT_FALSE(transformJpegToMemory(t, source.data(), source.size(), block.data(), capacity));
  EXPECT_EQ(t.status, Status::BadImage);
  EXPECT_EQ(t.message, "the data is far too short for the picture's size");

  // A large picture cut to a quarter of its data still turns.
  const auto large = test::libraryEncode(4200, 4200, 1, 75);
  const std::vector<uint8_t> cut(large.begin(), large.begin() + large.size() / 4);
  test::TempFolder folder;
  EXPECT_TRUE(transformJpeg(t, cut.data(), cut.size(), folder / "cut.jpg")) << t.message;
}

TEST(JpegComment, ReplacesTheFirstCommentOrFollowsTheLastApp) {
  test::TempFolder folder;
  const auto base = test::libraryEncode(8, 8, 3);  // SOI, JFIF APP0, ...
  Status status;
  const auto out = folder / "c.jpg";
  ASSERT_TRUE(insertJpegComment(base.data(), base.size(), out, "one\r\ntwo", status));
  auto bytes = test::readBytes(out);
  auto segments = test::listSegments(bytes);
  ASSERT_EQ(segments[0].code, 0xE0);
  ASSERT_EQ(segments[1].code, 0xFE);
  EXPECT_EQ(std::string(bytes.begin() + segments[1].offset + 4, bytes.begin() + segments[1].offset + 2 + segments[1].length),
            "one\ntwo");
  EXPECT_TRUE(test::libraryDecode(bytes).rows == test::libraryDecode(base).rows);

  // An existing comment is replaced in place.
  const auto withComment = bytes;
  ASSERT_TRUE(insertJpegComment(withComment.data(), withComment.size(), out, "new", status));
  bytes = test::readBytes(out);
  segments = test::listSegments(bytes);
  ASSERT_EQ(segments[1].code, 0xFE);
  EXPECT_EQ(segments[1].length, 5u);
  EXPECT_EQ(bytes.size(), withComment.size() - 4);  // "one\ntwo" became "new"

  // Long text is cut to 4095 bytes before the carriage returns go.
  const std::string longText(5000, 'x');
  ASSERT_TRUE(insertJpegComment(base.data(), base.size(), out, longText, status));
  EXPECT_EQ(test::listSegments(test::readBytes(out))[1].length, 4097u);

  const uint8_t broken[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0, 0};
  EXPECT_FALSE(insertJpegComment(broken, sizeof broken, out, "x", status));
  EXPECT_EQ(status, Status::Truncated);
}

}  // namespace
}  // namespace velorin
