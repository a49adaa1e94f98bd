// XMP and IPTC copied with the EXIF, read back by exiftool; the comment cut at a character.
#include <gtest/gtest.h>

#include <QFile>

#include <cstdio>
#include <cstdlib>

#include "engine/pipeline.h"
#include "engine_test_support.h"
#include "formats/exif.h"
#include "formats/jpeg_test_support.h"
#include "formats/jpeg_writer.h"
#include "sources/zip_writer.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::convertTo;
using test::q;

std::vector<uint8_t> xmpSegment(const std::string& packet) {
  std::vector<uint8_t> payload = test::bytesOf("http://ns.adobe.com/xap/1.0/");
  payload.push_back(0);
  payload.insert(payload.end(), packet.begin(), packet.end());
  return test::segment(0xE1, payload);
}

// An IPTC caption in a Photoshop resource block.
std::vector<uint8_t> iptcSegment(const std::string& caption) {
  std::vector<uint8_t> record = {0x1C, 2, 120, 0, static_cast<uint8_t>(caption.size())};
  record.insert(record.end(), caption.begin(), caption.end());
  if (record.size() % 2) record.push_back(0);
  std::vector<uint8_t> payload = test::bytesOf("Photoshop 3.0");
  payload.push_back(0);
  for (uint8_t b : test::bytesOf("8BIM")) payload.push_back(b);
  payload.insert(payload.end(), {0x04, 0x04, 0, 0, 0, 0, 0, static_cast<uint8_t>(record.size())});
  payload.insert(payload.end(), record.begin(), record.end());
  return test::segment(0xED, payload);
}

const std::string kPacket =
    "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
    "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
    "<rdf:Description rdf:about='' xmlns:tiff='http://ns.adobe.com/tiff/1.0/' "
    "xmlns:exif='http://ns.adobe.com/exif/1.0/' tiff:Orientation='6' exif:PixelXDimension='640'>"
    "<exif:PixelYDimension>480</exif:PixelYDimension><tiff:ImageWidth><rdf:Seq/></tiff:ImageWidth>"
    "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";

std::string exiftool(const std::filesystem::path& file, const std::string& tags) {
  const std::string command = "exiftool -s3 -n " + tags + " " + file.string();
  std::string out;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

std::vector<uint8_t> cameraWithXmpAndIptc() {
  test::ExifSpec spec;
  spec.orientation = 6;
  std::vector<uint8_t> jpeg = test::libraryEncode(64, 48, 3, 80);
  jpeg = test::withSegmentAfterSoi(jpeg, iptcSegment("Harbour at dawn"));
  jpeg = test::withSegmentAfterSoi(jpeg, xmpSegment(kPacket));
  return test::withSegmentAfterSoi(jpeg, test::segment(0xE1, test::exifPayload(spec)));
}

TEST(MetadataCopy, XmpAndIptcFollowTheExifAndTheXmpAgreesWithTheTurnedOutput) {
  if (std::system("exiftool -ver > /dev/null 2>&1") != 0) GTEST_SKIP() << "no exiftool";
  test::TempFolder folder;
  const auto source = folder / "camera.jpg";
  test::writeBytes(source, cameraWithXmpAndIptc());
  ConversionSettings s;
  s.OFmt = 2;
  s.CopyExif = true;
  s.TurOpt = 4;  // by the EXIF orientation: a quarter turn
  const auto out = convertTo(s, source, folder / "out.jpg");
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(exiftool(out, "-IPTC:Caption-Abstract"), "Harbour at dawn\n");
  EXPECT_EQ(exiftool(out, "-XMP-tiff:Orientation -XMP-exif:ExifImageWidth -XMP-exif:ExifImageHeight"),
            "1\n48\n64\n");
  // A property in a form that cannot be rewritten is gone rather than wrong.
  EXPECT_EQ(exiftool(out, "-XMP-tiff:ImageWidth"), "");

  // Without a turn the orientation stays the source's; without CopyExif nothing is copied.
  s.TurOpt = 0;
  const auto kept = convertTo(s, source, folder / "kept.jpg");
  EXPECT_EQ(exiftool(kept, "-XMP-tiff:Orientation -XMP-exif:ExifImageWidth"), "6\n64\n");
  s.CopyExif = false;
  const auto bare = convertTo(s, source, folder / "bare.jpg");
  EXPECT_EQ(exiftool(bare, "-IPTC:Caption-Abstract -XMP-tiff:Orientation"), "");
}

TEST(MetadataCopy, XmpRewriteHandlesBothFormsAndLeavesLookalikesAlone) {
  std::vector<uint8_t> payload = test::bytesOf("http://ns.adobe.com/xap/1.0/");
  payload.push_back(0);
  const std::string packet =
      "<d tiff:Orientation = \"8\" my:tiff:OrientationX='3'><tiff:Orientation>8</tiff:Orientation>"
      "<exif:PixelXDimension/></d>";
  payload.insert(payload.end(), packet.begin(), packet.end());
  adjustXmpPacket(payload, true, 10, 20);
  const std::string result(payload.begin() + 29, payload.end());
  EXPECT_EQ(result, "<d tiff:Orientation = \"1\" my:tiff:OrientationX='3'><tiff:Orientation>1</tiff:Orientation></d>");
}

TEST(MetadataCopy, LongCommentsAreCutAtACharacterBoundary) {
  // "é" is two bytes: 4094 ASCII bytes then "é" would split it at 4095.
  const std::string text = std::string(4094, 'a') + "\xC3\xA9" + "tail";
  EXPECT_EQ(characterBoundary(text, 4095), 4094u);
  EXPECT_EQ(characterBoundary(std::string(4093, 'a') + "\xE2\x82\xAC", 4095), 4093u);  // a 3-byte euro sign
  EXPECT_EQ(characterBoundary(std::string(4092, 'a') + "\xE2\x82\xAC", 4095), 4095u);
  EXPECT_EQ(characterBoundary("short", 4095), 5u);

  test::TempFolder folder;
  test::writeBytes(folder / "in.jpg", test::libraryEncode(16, 16, 3, 80));
  ConversionSettings s;
  s.OFmt = 2;
  s.CmtOpt = true;
  s.CmtStr1 = QString(4094, QLatin1Char('a')) + QStringLiteral("\u00e9\u00e9");
  const auto out = test::readBytes(convertTo(s, folder / "in.jpg", folder / "out.jpg"));
  bool found = false;
  for (const auto& segment : test::listSegments(out)) {
    if (segment.code != 0xFE) continue;
    found = true;
    EXPECT_EQ(segment.length - 2, 4094u);
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace velorin
