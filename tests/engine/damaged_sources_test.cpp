// Damaged sources are converted but kept: a file cut short may be the only complete copy of a
// picture, so deleting it after a conversion that filled the missing part with grey would lose it.
#include <gtest/gtest.h>

#include <zlib.h>

#include "engine/job.h"
#include "engine_test_support.h"

namespace velorin {
namespace {

using test::q;

// Noise compresses badly, so the picture data are most of the file and a cut lands inside them.
std::vector<uint8_t> noiseBmp(int32_t width, int32_t height) {
  std::vector<uint8_t> rows(static_cast<size_t>(paddedStride(width, 24)) * height);
  uint32_t state = 12345;
  for (uint8_t& byte : rows) byte = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24);
  return test::makeBmp(width, height, 24, {}, rows);
}

// The picture written by our own writer for OFmt (1 PNG, 2 JPEG, 4 GIF).
std::vector<uint8_t> encoded(const std::filesystem::path& folder, int32_t OFmt) {
  test::writeBytes(folder / "noise.bmp", noiseBmp(64, 48));
  ConversionSettings settings;
  settings.OFmt = OFmt;
  return test::readBytes(test::convertTo(settings, folder / "noise.bmp", folder / "encoded"));
}

void appendBe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// A PNG whose chunks are intact but whose image data hold only the first half of the rows: a
// writer stopped half-way. (A PNG file cut short lacks its IEND and does not read at all.)
std::vector<uint8_t> pngWithShortImageData(std::vector<uint8_t> png) {
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = uint32_t{png[at]} << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
    if (std::memcmp(&png[at + 4], "IDAT", 4) == 0) {
      std::vector<uint8_t> rows(1 << 20);
      uLongf rowBytes = rows.size();
      EXPECT_EQ(uncompress(rows.data(), &rowBytes, &png[at + 8], length), Z_OK);
      std::vector<uint8_t> data(compressBound(rowBytes / 2) + 4);
      std::memcpy(data.data(), "IDAT", 4);
      uLongf dataBytes = data.size() - 4;
      EXPECT_EQ(compress(data.data() + 4, &dataBytes, rows.data(), rowBytes / 2), Z_OK);
      data.resize(dataBytes + 4);
      std::vector<uint8_t> out(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(at));
      appendBe32(out, static_cast<uint32_t>(dataBytes));
      out.insert(out.end(), data.begin(), data.end());
      appendBe32(out, static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size()))));
      const uint8_t iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
      out.insert(out.end(), iend, iend + 12);
      return out;
    }
    at += 12 + length;
  }
  ADD_FAILURE() << "no IDAT";
  return png;
}

// A GIF cut after the first data sub-block of its image, where a size byte would come next.
std::vector<uint8_t> gifCutAfterFirstDataBlock(std::vector<uint8_t> gif) {
  size_t at = 13 + ((gif[10] & 0x80) ? size_t{3} << ((gif[10] & 7) + 1) : 0);
  while (gif[at] == 0x21) {  // extensions: introducer, label, sub-blocks
    at += 2;
    while (gif[at] != 0) at += gif[at] + 1;
    ++at;
  }
  EXPECT_EQ(gif[at], 0x2C);
  const uint8_t packed = gif[at + 9];
  at += 10 + ((packed & 0x80) ? size_t{3} << ((packed & 7) + 1) : 0);
  at += 1;  // the minimum code size
  gif.resize(at + 1 + gif[at]);
  return gif;
}

class DamagedSources : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"in", "out", "work"}) std::filesystem::create_directories(folder_ / name);
    settings.OFmt = 0;
    settings.IFileDel = true;
    settings.Recycle = false;
    options.EndMes = true;
  }
  std::filesystem::path in(const char* name) const { return folder_ / "in" / name; }
  JobResult run(const QStringList& paths) {
    JobContext context{host, language, settings, options};
    return runPathJob(context, paths, q(folder_ / "out"));
  }
  const EntryReport& reportOf(const char* name) const {
    for (const EntryReport& report : host.reports)
      if (report.source.endsWith(QLatin1String(name))) return report;
    static const EntryReport none;
    ADD_FAILURE() << name << " was not reported";
    return none;
  }

  test::TempFolder folder_;
  ConversionSettings settings;
  JobOptions options;
  test::RecordingHost host;
  const LanguageModule language = test::englishLanguage();
};

TEST_F(DamagedSources, AreConvertedReportedAndNeverDeleted) {
  const std::vector<uint8_t> jpeg = encoded(folder_ / "work", 2);
  const std::vector<uint8_t> png = encoded(folder_ / "work", 1);
  const std::vector<uint8_t> gif = encoded(folder_ / "work", 4);
  test::writeBytes(in("whole.jpg"), jpeg);
  test::writeBytes(in("whole.png"), png);
  test::writeBytes(in("whole.gif"), gif);
  test::writeBytes(in("cut.jpg"), std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() * 6 / 10));
  test::writeBytes(in("cut.png"), pngWithShortImageData(png));
  test::writeBytes(in("cut.gif"), gifCutAfterFirstDataBlock(gif));
  // A truncated file that no longer reads at all is not converted, and stays too.
  test::writeBytes(in("broken.png"), std::vector<uint8_t>(png.begin(), png.begin() + png.size() / 2));

  const QStringList names{"whole.jpg", "whole.png", "whole.gif", "cut.jpg", "cut.png", "cut.gif", "broken.png"};
  QStringList paths;
  for (const QString& name : names) paths << q(folder_ / "in") + QLatin1Char('/') + name;
  const JobResult result = run(paths);

  EXPECT_EQ(result.converted, 6);
  EXPECT_EQ(result.keptDamaged, 3);
  for (const char* gone : {"whole.jpg", "whole.png", "whole.gif"}) {
    EXPECT_FALSE(std::filesystem::exists(in(gone))) << gone;
    EXPECT_TRUE(reportOf(gone).damage.empty()) << gone << ": " << reportOf(gone).damage;
  }
  for (const char* kept : {"cut.jpg", "cut.png", "cut.gif", "broken.png"}) EXPECT_TRUE(std::filesystem::exists(in(kept))) << kept;
  EXPECT_TRUE(std::filesystem::exists(folder_ / "out" / "cut.bmp"));

  const EntryReport& cutJpeg = reportOf("cut.jpg");
  EXPECT_TRUE(cutJpeg.converted);
  EXPECT_TRUE(cutJpeg.sourceKept);
  EXPECT_EQ(damagedSourceText(cutJpeg), QString(paths[3] + ": damaged source (premature end of JPEG file), kept"));
  EXPECT_EQ(reportOf("cut.png").damage, "the image data end before the picture does");
  EXPECT_EQ(reportOf("cut.gif").damage, "the image data end before the picture does");
  EXPECT_FALSE(reportOf("broken.png").converted);
  EXPECT_TRUE(damagedSourceText(reportOf("broken.png")).isEmpty());

  // The end report keeps its two counts and adds the kept sources.
  ASSERT_FALSE(host.messages.empty());
  EXPECT_EQ(host.messages.back().text, QStringLiteral("Selected files  7\nConverted files  6\nDamaged sources kept  3"));
  EXPECT_EQ(endReportText(language, 6, 7), QStringLiteral("Selected files  7\nConverted files  6"));
}

TEST_F(DamagedSources, TheLosslessRouteKeepsThemTooAndWithoutDeletingNothingIsSaidKept) {
  const std::vector<uint8_t> jpeg = encoded(folder_ / "work", 2);
  test::writeBytes(in("cut.jpg"), std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2));
  settings.JTrans = true;
  settings.TurOpt = 1;
  JobResult result = run({q(in("cut.jpg"))});
  EXPECT_EQ(result.converted, 1);
  EXPECT_EQ(result.keptDamaged, 1);
  EXPECT_TRUE(std::filesystem::exists(in("cut.jpg")));
  EXPECT_TRUE(reportOf("cut.jpg").sourceKept);

  host.reports.clear();
  settings.IFileDel = false;
  result = run({q(in("cut.jpg"))});
  EXPECT_EQ(result.keptDamaged, 0);
  EXPECT_EQ(damagedSourceText(reportOf("cut.jpg")), q(in("cut.jpg")) + ": damaged source (premature end of JPEG file)");

  // A run that replaces taken names does not replace a damaged source by its own output.
  const std::vector<uint8_t> before = test::readBytes(in("cut.jpg"));
  host.reports.clear();
  options.takenName = TakenOutputName::Replace;
  JobContext context{host, language, settings, options};
  result = runPathJob(context, {q(in("cut.jpg"))}, q(folder_ / "in"));
  EXPECT_EQ(result.converted, 0);
  EXPECT_STREQ(reportOf("cut.jpg").step, "damaged source");
  EXPECT_EQ(test::readBytes(in("cut.jpg")), before);
}

}  // namespace
}  // namespace velorin
