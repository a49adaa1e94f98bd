// Names taken from a file or from shared settings never lead an output out of its folder: the
// EXIF date of a hostile JPEG, a prefix, suffix or sub-folder with "/" or "..".
#include <gtest/gtest.h>

#include <QDir>

#include <set>
#include <string>

#include "engine/archive_members.h"
#include "engine/file_list.h"
#include "engine/job.h"
#include "engine/naming.h"
#include "engine_test_support.h"
#include "formats/jpeg_test_support.h"
#include "sources/zip_writer.h"

namespace velorin {
namespace {

using test::q;

std::vector<uint8_t> jpegDated(const std::string& date) {
  test::ExifSpec spec;
  spec.dateTime = date;
  return test::withSegmentAfterSoi(test::libraryEncode(8, 8, 3, 80), test::segment(0xE1, test::exifPayload(spec)));
}

// Dates an attacker would write; each must fall back to the source name.
const std::vector<std::string> kHostileDates = {
    "../p:wn:ed es:ca:pe",
    std::string("..//..:/t: mp/a:b:c", 19),
    std::string("2013:05\0/../../x:yz", 19),
    "abcd:ef:gh ij:kl:mn",
    "2013:05:28 14:21",  // too short: the missing positions are no digits
};

std::set<std::string> sandbox(const std::filesystem::path& root) { return test::treeOf(root); }

TEST(HostileNames, OnlyDigitDatesBecomeStems) {
  EXPECT_TRUE(exifDateTimeUsable("2013:05:28 14:21:26"));
  EXPECT_FALSE(exifDateTimeUsable(nullptr));
  for (const std::string& date : kHostileDates) {
    EXPECT_FALSE(exifDateTimeUsable(date.c_str())) << date;
    NamingRules rules;
    rules.NameSet = 1;
    rules.extension = QStringLiteral(".png");
    EXPECT_EQ(outputFileName(rules, u"shot.jpg", 0, date.c_str()), QStringLiteral("shot.png"));
  }
}

TEST(HostileNames, EveryGeneratedNameIsCheckedBeforeUse) {
  const QString folder = QStringLiteral("/out");
  for (const char* bad : {"", ".", "..", "a/b.png", "../x.png"})
    EXPECT_FALSE(isUsableOutputName(folder, QString::fromUtf8(bad))) << bad;
  EXPECT_FALSE(isUsableOutputName(folder, QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b.png")));
  EXPECT_TRUE(isUsableOutputName(folder, QStringLiteral("..a.png")));

  // A prefix that got past the settings still fails at the name, on disk and in the preview.
  test::TempFolder sandboxRoot;
  std::filesystem::create_directories(sandboxRoot / "out");
  NamingRules rules;
  rules.prefix = QStringLiteral("../");
  rules.extension = QStringLiteral(".png");
  EXPECT_TRUE(makeOutputPath(rules, q(sandboxRoot / "out"), u"a.bmp", 0, nullptr).isEmpty());
  QStringList table;
  EXPECT_TRUE(previewOutputName(rules, q(sandboxRoot / "out"), u"a.bmp", 0, nullptr, table).isEmpty());
  EXPECT_TRUE(table.isEmpty());
}

class HostileJob : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_ / "in");
    std::filesystem::create_directories(root_ / "out");
    std::filesystem::create_directories(root_ / "tmp");
    settings.NameSet = 1;
    settings.OFmt = 1;  // PNG
    settings.IFmt = 0;
    options.EndMes = false;
    for (size_t i = 0; i < kHostileDates.size(); ++i)
      test::writeBytes(in() / ("shot" + std::to_string(i) + ".jpg"), jpegDated(kHostileDates[i]));
  }

  std::filesystem::path in() const { return root_ / "in"; }
  QStringList inputs() const {
    QStringList paths;
    for (size_t i = 0; i < kHostileDates.size(); ++i)
      paths << q(in() / ("shot" + std::to_string(i) + ".jpg"));
    return paths;
  }
  // What the sandbox must hold afterwards: the inputs and one output per input named from it.
  std::set<std::string> expected(const std::string& extension) const {
    std::set<std::string> files = {"in", "out", "tmp"};
    for (size_t i = 0; i < kHostileDates.size(); ++i) {
      files.insert("in/shot" + std::to_string(i) + ".jpg");
      files.insert("out/shot" + std::to_string(i) + extension);
    }
    return files;
  }

  test::TempFolder root_;
  test::ScopedEnv tmp_{"TMPDIR", (root_ / "tmp").c_str()};
  test::ScopedEnv dataHome_{"XDG_DATA_HOME", (root_ / "data").c_str()};
  ConversionSettings settings;
  JobOptions options;
  LanguageModule language = test::englishLanguage();
  test::RecordingHost host;
};

TEST_F(HostileJob, DatesFallBackInTheJobThePreviewAndTheLosslessRoute) {
  for (const bool lossless : {false, true}) {
    if (lossless) {
      std::filesystem::remove_all(root_ / "out");
      std::filesystem::create_directories(root_ / "out");
      settings.JTrans = true;
      applyRangeCorrections(settings);
    }
    const std::string extension = lossless ? ".jpg" : ".png";
    JobContext context{host, language, settings, options};
    std::vector<PreviewRow> rows;
    previewPathJob(context, inputs(), q(root_ / "out"), rows);
    ASSERT_EQ(rows.size(), kHostileDates.size());
    for (size_t i = 0; i < rows.size(); ++i)
      EXPECT_EQ(rows[i].output.toStdString(), "shot" + std::to_string(i) + extension);

    const JobResult result = runPathJob(context, inputs(), q(root_ / "out"));
    EXPECT_EQ(result.converted, static_cast<qsizetype>(kHostileDates.size()));
    EXPECT_EQ(sandbox(root_.path()), expected(extension)) << "lossless " << lossless;
  }
}

TEST_F(HostileJob, ZipMemberDatesFallBackToo) {
  std::vector<test::ZipMember> members;
  for (size_t i = 0; i < kHostileDates.size(); ++i)
    members.push_back({"shot" + std::to_string(i) + ".jpg", test::readBytes(in() / ("shot" + std::to_string(i) + ".jpg"))});
  std::filesystem::remove_all(in());
  std::filesystem::create_directories(in());
  test::writeBytes(root_ / "in" / "a.zip", test::makeZip(members));
  ArchiveAccess access;
  FileList list;
  list.setMemberLister(memberListerFor(access));
  ASSERT_TRUE(list.setInputPath(q(in() / "a.zip"), ListOptions::from(settings, 2)));
  JobContext context{host, language, settings, options};
  const JobResult result = runListJob(context, list, q(in() / "a.zip"), q(root_ / "out"));
  EXPECT_EQ(result.converted, static_cast<qsizetype>(kHostileDates.size()));
  std::set<std::string> want = {"in", "out", "tmp", "in/a.zip"};
  for (size_t i = 0; i < kHostileDates.size(); ++i) want.insert("out/shot" + std::to_string(i) + ".png");
  EXPECT_EQ(sandbox(root_.path()), want);
}

TEST_F(HostileJob, HostileNameSettingsAreRefusedWhereverTheyAreTaken) {
  // --set and the settings pages refuse them; a record read from a file takes the defaults.
  for (const char* assignment : {"TopStr=../", "EndStr=a/b", "MkDirStr=..", "MkDirStr=.", "MkDirStr=/etc"}) {
    ConversionSettings s;
    EXPECT_FALSE(applySettingAssignment(s, QString::fromUtf8(assignment))) << assignment;
    EXPECT_EQ(s, ConversionSettings{});
  }
  ConversionSettings s;
  EXPECT_TRUE(applySettingAssignment(s, QStringLiteral("MkDirStr=..Sub")));
  PageValues page = pageValuesOf(s);
  page.TopStr = QStringLiteral("../up_");
  page.MkDirStr = QStringLiteral("..");
  const PageCorrections corrections = takeValuesFromPages(s, page);
  EXPECT_TRUE(corrections.nameTextRefused);
  EXPECT_EQ(s.TopStr, QString());
  EXPECT_EQ(s.MkDirStr, QStringLiteral("..Sub"));
  ConversionSettings fromFile;
  fromFile.EndStr = QStringLiteral("/x");
  fromFile.MkDirStr = QStringLiteral("..");
  applyRangeCorrections(fromFile);
  EXPECT_EQ(fromFile.EndStr, QString());
  EXPECT_EQ(fromFile.MkDirStr, QStringLiteral("Output"));

  // A record that reaches the job as it is: the sub-folder ends the job, a prefix fails each entry.
  settings.NameSet = 0;
  settings.MkDirAdd = true;
  settings.MkDirStr = QStringLiteral("..");
  JobContext context{host, language, settings, options};
  JobResult result = runPathJob(context, inputs(), q(root_ / "out"));
  EXPECT_EQ(result.errorId, text_id::kCannotCreateSubFolder);
  settings.MkDirAdd = false;
  settings.TopAdd = true;
  settings.TopStr = QStringLiteral("../");
  result = runPathJob(context, inputs(), q(root_ / "out"));
  EXPECT_EQ(result.converted, 0);
  ASSERT_FALSE(host.reports.empty());
  EXPECT_STREQ(host.reports.back().step, "name");
  std::set<std::string> untouched = {"in", "out", "tmp"};
  for (size_t i = 0; i < kHostileDates.size(); ++i) untouched.insert("in/shot" + std::to_string(i) + ".jpg");
  EXPECT_EQ(sandbox(root_.path()), untouched);
}

}  // namespace
}  // namespace velorin
