// Archive members on the lossless route, with their EXIF copied and their EXIF-date names
// previewed, exactly as files of a folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <cstdlib>

#include "engine/archive_members.h"
#include "engine/engine_test_support.h"
#include "engine/file_list.h"
#include "engine/job.h"
#include "engine/pipeline.h"
#include "formats/exif.h"
#include "formats/jpeg_test_support.h"
#include "sources/rar_archive.h"
#include "sources/zip_writer.h"

namespace velorin {
namespace {

using test::q;

std::vector<uint8_t> cameraJpeg(int n, int orientation) {
  test::ExifSpec spec;
  spec.orientation = orientation;
  spec.dateTime = "2021:03:0" + std::to_string(n) + " 08:15:00";
  return test::withSegmentAfterSoi(test::libraryEncode(48 + 16 * n, 32, 3, 80),
                                   test::segment(0xE1, test::exifPayload(spec)));
}

std::vector<uint8_t> jpegtran(const std::vector<uint8_t>& input, const std::string& options,
                              const test::TempFolder& folder) {
  test::writeBytes(folder / "jt-in.jpg", input);
  const std::string command = "jpegtran " + options + " -outfile " + (folder / "jt-out.jpg").string() +
                              " " + (folder / "jt-in.jpg").string();
  EXPECT_EQ(std::system(command.c_str()), 0);
  return test::readBytes(folder / "jt-out.jpg");
}

std::vector<uint8_t> exifOf(const std::vector<uint8_t>& jpeg) {
  std::vector<uint8_t> payload;
  takeExifCopy(jpeg.data(), jpeg.size(), false, payload);
  return payload;
}

struct ArchiveJob {
  test::TempFolder folder;
  QString output;
  FileList list;
  ArchiveAccess access;
  test::RecordingHost host;
  LanguageModule language = test::englishLanguage();

  bool open(const QString& archive, const ConversionSettings& settings) {
    output = q(folder / "out");
    QDir().mkpath(output);
    access.pluginFolder = QStringLiteral(VELORIN_BINARY_DIR "/bin/plugins");
    list.setMemberLister(memberListerFor(access));
    return list.setInputPath(archive, ListOptions::from(settings, 2));
  }
  std::vector<uint8_t> outputBytes(const QString& name) const {
    return test::readBytes(QFile::encodeName(output + QLatin1Char('/') + name).toStdString());
  }
};

TEST(ArchiveMemberRoute, ZipMembersTurnLosslesslyKeepExifAndPreviewTheirDateNames) {
  if (std::system("jpegtran -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no jpegtran";
  ArchiveJob job;
  std::vector<test::ZipMember> members;
  for (int i = 1; i <= 3; ++i)
    members.push_back({"cam/p" + std::to_string(i) + ".jpg", cameraJpeg(i, 1), static_cast<uint16_t>(i % 2 ? 8 : 0)});
  test::writeBytes(job.folder / "photos.zip", test::makeZip(members));

  ConversionSettings s;
  s.JTrans = true;
  s.Marker = 2;  // keep the markers, EXIF included
  s.TurOpt = 1;
  s.NameSet = 1;
  s.IFmt = 0;
  ASSERT_TRUE(job.open(q(job.folder / "photos.zip"), s));
  ASSERT_EQ(job.list.selectedCount(), 3);
  JobContext context{job.host, job.language, s, {}};
  std::vector<PreviewRow> rows;
  const JobResult preview = previewListJob(context, job.list, q(job.folder / "photos.zip"), job.output, rows);
  ASSERT_EQ(preview.errorId, 0);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].output, "20210301_081500.jpg");

  const JobResult result = runListJob(context, job.list, q(job.folder / "photos.zip"), job.output);
  EXPECT_EQ(result.converted, 3);
  for (size_t i = 0; i < members.size(); ++i) {
    const auto out = job.outputBytes(rows[i].output);
    ASSERT_FALSE(out.empty()) << rows[i].output.toStdString();
    const auto reference = jpegtran(members[i].data, "-rotate 90 -trim -copy all", job.folder);
    EXPECT_TRUE(test::libraryDecode(out).rows == test::libraryDecode(reference).rows) << i;
    EXPECT_FALSE(exifOf(out).empty()) << i;
  }
}

TEST(ArchiveMemberRoute, ZipMembersKeepTheirExifWhenReencoded) {
  ArchiveJob job;
  const auto member = cameraJpeg(2, 1);
  test::writeBytes(job.folder / "one.zip", test::makeZip({{"a.jpg", member, 8}}));
  ConversionSettings s;
  s.OFmt = 2;
  s.CopyExif = true;
  s.IFmt = 0;
  ASSERT_TRUE(job.open(q(job.folder / "one.zip"), s));
  JobContext context{job.host, job.language, s, {}};
  ASSERT_EQ(runListJob(context, job.list, q(job.folder / "one.zip"), job.output).converted, 1);
  std::vector<uint8_t> expected = exifOf(member);
  ASSERT_FALSE(expected.empty());
  const auto out = job.outputBytes(QStringLiteral("a.jpg"));
  const auto copied = exifOf(out);
  // The size fields are rewritten for the output; the date stays.
  char date[20] = {};
  ASSERT_TRUE(readExifDateTime(out.data(), out.size(), date));
  EXPECT_STREQ(date, "2021:03:02 08:15:00");
  EXPECT_EQ(copied.size(), expected.size());
}

TEST(ArchiveMemberRoute, RarMembersTurnLosslesslyLikeJpegtran) {
  if (std::system("jpegtran -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no jpegtran";
  ArchiveJob job;
  ConversionSettings s;
  s.JTrans = true;
  s.TurOpt = 2;
  s.IFmt = 0;
  // The comic-book name is not one the list takes for a RAR archive.
  std::filesystem::copy_file(test::testdata("rar/rar-test-files/testfile.rar5.cbr"), job.folder / "comic.rar");
  const QString archive = q(job.folder / "comic.rar");
  ASSERT_TRUE(job.open(archive, s));
  ASSERT_EQ(job.list.kind(), SourceKind::Rar);
  JobOptions options;
  options.SPI = job.access.pluginFolder;
  JobContext context{job.host, job.language, s, options};
  // The archive's PNG has no lossless route; its JPEG does.
  EXPECT_EQ(runListJob(context, job.list, archive, job.output).converted, 1);
  const auto source = test::readBytes(test::testdata("rar/rar-test-files/sources/testfile.jpg"));
  const auto out = job.outputBytes(QStringLiteral("testfile.jpg"));
  ASSERT_FALSE(out.empty());
  const auto reference = jpegtran(source, "-rotate 180 -trim -copy none", job.folder);
  EXPECT_TRUE(test::libraryDecode(out).rows == test::libraryDecode(reference).rows);
}

TEST(ArchiveMemberRoute, KeptRarArchiveExtractsSolidMembersInAnyOrder) {
  const QString archive = q(test::testdata("rar/libarchive/test_read_format_rar5_solid.rar"));
  const QString plugins = QStringLiteral(VELORIN_BINARY_DIR "/bin/plugins");
  const auto list = listRar(archive, plugins);
  ASSERT_TRUE(list);
  // Each member once through a fresh pass: the reference.
  std::vector<MemberEntry> files;
  for (const MemberEntry& e : list->entries)
    if (e.size > 0) files.push_back(e);
  ASSERT_GE(files.size(), 3u);
  std::vector<std::vector<uint8_t>> expected;
  for (const MemberEntry& e : files) {
    RarContext fresh;
    fresh.pluginFolder = plugins;
    PixelBuffer block;
    ASSERT_TRUE(extractRar(fresh, archive, e.position, block));
    expected.emplace_back(block.data(), block.data() + block.size());
  }
  RarContext kept;
  kept.pluginFolder = plugins;
  ASSERT_TRUE(keepRarLibrary(kept));
  const size_t last = files.size() - 1;
  // Forward, then back to the start, then a skip ahead: the kept stream must follow.
  for (size_t i : {size_t{0}, size_t{1}, last, size_t{0}, last}) {
    PixelBuffer block;
    ASSERT_TRUE(extractRar(kept, archive, files[i].position, block)) << i;
    EXPECT_EQ(std::vector<uint8_t>(block.data(), block.data() + block.size()), expected[i]) << i;
  }
  EXPECT_NE(kept.keptArchive.handle, nullptr);
  PixelBuffer none;
  EXPECT_FALSE(extractRar(kept, archive, 1000, none));
  EXPECT_EQ(kept.keptArchive.handle, nullptr);
  releaseRarLibrary(kept);
}

}  // namespace
}  // namespace velorin
