// The conversion job: checks, the entry loop, cancelling, the end report, and that no user file
// is ever lost.
#include <gtest/gtest.h>

#include <QDir>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "engine/file_list.h"
#include "engine/job.h"
#include "engine_test_support.h"
#include "platform/file_times.h"

namespace velorin {
namespace {

using test::q;

class JobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(in());
    std::filesystem::create_directories(out());
    settings.OFmt = 0;  // BMP
    settings.IFmt = 1;
    std::filesystem::create_directories(folder_ / "tmp");
  }
  void TearDown() override {
    // Whatever happened, no temporary file may be left.
    EXPECT_TRUE(std::filesystem::is_empty(folder_ / "tmp"));
  }

  std::filesystem::path in() const { return folder_ / "in"; }
  std::filesystem::path out() const { return folder_ / "out"; }

  // Five files, of which b and d cannot be read.
  void makeFiveWithTwoBad() {
    for (const char* name : {"a.bmp", "c.bmp", "e.bmp"}) test::writeSmallBmp(in() / name);
    for (const char* name : {"b.bmp", "d.bmp"}) test::writeJunk(in() / name);
  }

  JobResult runList(FileList& list, const QString& outputFolder) {
    list.setInputPath(q(in()), ListOptions::from(settings, options.Hidden));
    JobContext context{host, language, settings, options};
    return runListJob(context, list, q(in()), outputFolder);
  }

  QStringList outputNames() const {
    return QDir(q(out())).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
  }

  test::TempFolder folder_;
  test::ScopedEnv dataHome_{"XDG_DATA_HOME", (folder_ / "data").c_str()};
  test::ScopedEnv tmp_{"TMPDIR", (folder_ / "tmp").c_str()};
  ConversionSettings settings;
  JobOptions options;
  LanguageModule language = test::englishLanguage();
  test::RecordingHost host;
};

TEST_F(JobTest, FailuresAreCountedAndReportedInTheTitle) {
  makeFiveWithTwoBad();
  options.EndMes = false;
  FileList list;
  const JobResult result = runList(list, q(out()));
  EXPECT_EQ(result.errorId, 0);
  EXPECT_EQ(result.selected, 5);
  EXPECT_EQ(result.processed, 5);
  EXPECT_EQ(result.converted, 3);
  EXPECT_EQ(outputNames(), (QStringList{"a.bmp", "c.bmp", "e.bmp"}));
  ASSERT_GE(host.titles.size(), 3u);
  EXPECT_EQ(host.titles.front(), language.text(20400));
  EXPECT_EQ(host.titles.back(), QStringLiteral("Conversion finished    3/5 (Converted files/Selected files)"));
  EXPECT_EQ(host.range, 5);
  EXPECT_EQ(host.positions, (std::vector<qsizetype>{1, 2, 3, 4, 5, 0}));
  EXPECT_EQ(host.buttonTexts, (std::vector<QString>{language.text(20010), language.text(1023)}));
  EXPECT_TRUE(host.messages.empty());
  EXPECT_FALSE(host.reports[1].converted);
  EXPECT_STREQ(host.reports[1].failure.stage, "load");
}

TEST_F(JobTest, EndReportAsMessage) {
  makeFiveWithTwoBad();
  FileList list;
  runList(list, q(out()));
  ASSERT_EQ(host.messageIds(), std::vector<int>{20303});
  EXPECT_EQ(host.messages[0].text, QStringLiteral("Selected files  5\nConverted files  3"));
  EXPECT_EQ(host.messages[0].icon, MessageIcon::Information);
}

TEST_F(JobTest, CancelAfterTheSecondEntry) {
  for (const char* name : {"1.bmp", "2.bmp", "3.bmp", "4.bmp", "5.bmp"}) test::writeSmallBmp(in() / name);
  host.cancelAfter = 2;
  FileList list;
  const JobResult result = runList(list, q(out()));
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(result.converted, 2);
  EXPECT_EQ(outputNames(), (QStringList{"1.bmp", "2.bmp"}));
  EXPECT_EQ(host.messageIds(), (std::vector<int>{20304, 20303}));
  EXPECT_EQ(host.messages[0].caption, QStringLiteral("Velorin"));
  EXPECT_EQ(host.messages[0].buttons, MessageButtons::YesNo);
  EXPECT_EQ(host.messages[1].text, QStringLiteral("Selected files  5\nConverted files  2"));
}

TEST_F(JobTest, CancelAnsweredNoGoesOn) {
  for (const char* name : {"1.bmp", "2.bmp", "3.bmp"}) test::writeSmallBmp(in() / name);
  host.cancelAfter = 1;
  host.answer = false;
  FileList list;
  const JobResult result = runList(list, q(out()));
  EXPECT_FALSE(result.cancelled);
  EXPECT_EQ(result.converted, 3);
}

TEST_F(JobTest, CreatedSubFolderRemovedWhenNothingConverted) {
  for (const char* name : {"b.bmp", "d.bmp"}) test::writeJunk(in() / name);
  settings.MkDirAdd = true;
  settings.MkDirStr = QStringLiteral("Converted");
  FileList list;
  const JobResult result = runList(list, q(out()));
  EXPECT_EQ(result.converted, 0);
  EXPECT_TRUE(outputNames().isEmpty());
  EXPECT_EQ(host.events, (std::vector<FolderEvent>{FolderEvent::Created, FolderEvent::Removed}));

  // A sub-folder that existed before is never removed.
  std::filesystem::create_directory(out() / "Converted");
  runList(list, q(out()));
  EXPECT_EQ(outputNames(), QStringList{"Converted"});

  test::writeSmallBmp(in() / "good.bmp");
  FileList again;
  const JobResult converted = runList(again, q(out()));
  EXPECT_EQ(converted.converted, 1);
  EXPECT_TRUE(std::filesystem::exists(out() / "Converted" / "good.bmp"));
}

TEST_F(JobTest, SubFolderThatCannotBeMadeEndsTheJob) {
  test::writeSmallBmp(in() / "a.bmp");
  test::writeBytes(out() / "Output", {1});  // a file where the sub-folder should be
  settings.MkDirAdd = true;
  FileList list;
  const JobResult result = runList(list, q(out()));
  EXPECT_EQ(result.errorId, 30005);
  EXPECT_EQ(host.messageIds(), std::vector<int>{30005});
  EXPECT_EQ(host.messages[0].caption, QStringLiteral("Error"));
}

TEST_F(JobTest, ChangedFolderRebuildsTheListAndDoesNotStart) {
  for (const char* name : {"a.bmp", "b.bmp"}) test::writeSmallBmp(in() / name);
  FileList list;
  list.setInputPath(q(in()), ListOptions::from(settings, 2));
  std::filesystem::remove(in() / "a.bmp");
  JobContext context{host, language, settings, options};
  const JobResult result = runListJob(context, list, q(in()), q(out()));
  EXPECT_EQ(result.errorId, 30008);
  EXPECT_EQ(host.messageIds(), std::vector<int>{30008});
  EXPECT_EQ(list.entries().size(), 1u);
  EXPECT_TRUE(outputNames().isEmpty());

  // With FileMes off the rebuild is silent.
  test::writeSmallBmp(in() / "c.bmp");
  host.messages.clear();
  context.options.FileMes = false;
  EXPECT_EQ(runListJob(context, list, q(in()), q(out())).errorId, 30008);
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(JobTest, PathChecks) {
  FileList list;
  JobContext context{host, language, settings, options};
  EXPECT_EQ(runListJob(context, list, q(in() / "gone"), q(out() / "gone")).errorId, 30003);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, language.text(30003) + QLatin1Char('\n') + language.text(30004));
  EXPECT_EQ(runListJob(context, list, q(in()), q(out() / "gone")).errorId, 30004);
  list.setInputPath(q(in()), ListOptions::from(settings, 2));
  EXPECT_EQ(runListJob(context, list, q(in()), q(out())).errorId, 30006);  // empty list
  test::writeSmallBmp(in() / "a.bmp");
  list.buildFileList(ListOptions::from(settings, 2));
  list.entries()[0].selected = false;
  EXPECT_EQ(runListJob(context, list, q(in()), q(out())).errorId, 30006);
  EXPECT_EQ(runPathJob(context, {q(in() / "a.bmp")}, q(out() / "gone")).errorId, 30004);
  EXPECT_TRUE(outputNames().isEmpty());
  // Folders without images give a path job nothing: it ends like a list job over one of them.
  host.messages.clear();
  EXPECT_EQ(runPathJob(context, {}, q(out())).errorId, 30006);
  std::vector<PreviewRow> rows;
  EXPECT_EQ(previewPathJob(context, {}, q(out()), rows).errorId, 30006);
  EXPECT_EQ(host.messageIds(), (std::vector<int>{30006, 30006}));
  EXPECT_EQ(inputMissingText(language, QStringLiteral("/x/gone.jpg")),
            QStringLiteral("/x/gone.jpg: ") + language.text(30003));
}

TEST_F(JobTest, SourcesDeletedOnlyAfterTheirOutputIsInPlace) {
  test::writeSmallBmp(in() / "a.bmp");
  test::writeSmallBmp(in() / "b.bmp");
  settings.IFileDel = true;
  settings.Recycle = false;
  settings.TopAdd = true;
  settings.TopStr = QString(300, QLatin1Char('p'));  // the output name is too long to be written
  FileList list;
  JobResult result = runList(list, q(out()));
  EXPECT_EQ(result.converted, 0);
  EXPECT_TRUE(std::filesystem::exists(in() / "a.bmp"));
  EXPECT_TRUE(std::filesystem::exists(in() / "b.bmp"));
  EXPECT_STREQ(host.reports[0].step, "name");  // refused by the name check, never tried

  settings.TopAdd = false;
  FileList again;
  result = runList(again, q(out()));
  EXPECT_EQ(result.converted, 2);
  EXPECT_FALSE(std::filesystem::exists(in() / "a.bmp"));
  EXPECT_TRUE(std::filesystem::exists(out() / "a.bmp"));
}

// Makes every write to a regular file past its first byte fail with EFBIG while it lives; unlike
// folder permissions, the limit binds the superuser too.
class NoFileWrites {
 public:
  NoFileWrites() {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit none = saved_;
    none.rlim_cur = 0;
    setrlimit(RLIMIT_FSIZE, &none);
  }
  ~NoFileWrites() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit saved_{};
  void (*previousHandler_)(int) = nullptr;
};

TEST_F(JobTest, UnwritableOutputKeepsTheSources) {
  test::writeSmallBmp(in() / "a.bmp");
  settings.IFileDel = true;
  {
    const NoFileWrites noWrites;
    FileList list;
    const JobResult result = runList(list, q(out()));
    EXPECT_EQ(result.converted, 0);
  }
  EXPECT_TRUE(std::filesystem::exists(in() / "a.bmp"));
  EXPECT_TRUE(outputNames().isEmpty());

  // A folder its permissions close, where they bind (they do not bind the superuser).
  if (geteuid() != 0) {
    std::filesystem::permissions(out(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    FileList list;
    const JobResult result = runList(list, q(out()));
    std::filesystem::permissions(out(), std::filesystem::perms::owner_all);
    EXPECT_EQ(result.converted, 0);
    EXPECT_TRUE(std::filesystem::exists(in() / "a.bmp"));
  }
}

TEST_F(JobTest, RecycledSourcesGoToTheTrash) {
  test::writeSmallBmp(in() / "a.bmp");
  settings.IFileDel = true;
  settings.Recycle = true;
  settings.OFmt = 0;
  JobContext context{host, language, settings, options};
  const JobResult result = runPathJob(context, {q(in() / "a.bmp")}, q(out()));
  EXPECT_EQ(result.converted, 1);
  EXPECT_FALSE(std::filesystem::exists(in() / "a.bmp"));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "data" / "Trash" / "files" / "a.bmp"));
}

TEST_F(JobTest, ArchiveMembersAreNeverDeleted) {
  test::writeBytes(in() / "set.zip", {1});
  FileList list;
  list.setMemberLister([](SourceKind, const QString&, std::vector<FileEntry>& members) {
    FileEntry entry;
    entry.name = QStringLiteral("a.bmp");
    members.push_back(entry);
    return true;
  });
  settings.IFileDel = true;
  settings.Recycle = false;
  list.setInputPath(q(in() / "set.zip"), ListOptions::from(settings, 2));
  JobContext context{host, language, settings, options};
  const JobResult result = runListJob(context, list, q(in() / "set.zip"), q(out()));
  EXPECT_EQ(result.selected, 1);
  EXPECT_TRUE(std::filesystem::exists(in() / "set.zip"));
}

TEST_F(JobTest, PathJobNamesTimesAndTagList) {
  test::writeSmallBmp(in() / "a.bmp");
  test::writeSmallBmp(out() / "a.bmp");  // taken: the output becomes a+1.bmp
  const FileTime sourceTime = fileTimeFromPosix(1369750886, 0);
  ASSERT_TRUE(setLastWriteTime(q(in() / "a.bmp"), sourceTime));
  settings.WrTimeCopy = true;
  settings.HtmlTag = true;
  options.EndMes = false;
  JobContext context{host, language, settings, options};
  std::vector<PreviewRow> rows;
  EXPECT_EQ(previewPathJob(context, {q(in() / "a.bmp")}, q(out()), rows).errorId, 0);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].output, QStringLiteral("a+1.bmp"));

  const JobResult result = runPathJob(context, {q(in() / "a.bmp")}, q(out()));
  EXPECT_EQ(result.converted, 1);
  FileTimes times;
  ASSERT_TRUE(readFileTimes(q(out() / "a+1.bmp"), times));
  EXPECT_EQ(times.lastWrite, sourceTime);
  const std::vector<uint8_t> list = test::readBytes(out() / "out.txt");
  EXPECT_EQ(std::string(list.begin(), list.end()), "<img src=\"a+1.bmp\" width=\"4\" height=\"2\" alt=\"\">\r\n");
}

TEST_F(JobTest, PreviewMatchesTheJobWhenSourcesAreDeletedInPlace) {
  for (const char* name : {"x.bmp", "y.bmp", "z.bmp"}) test::writeSmallBmp(in() / name);
  test::writeSmallBmp(in() / "x+1.bmp");
  settings.IFileDel = true;
  settings.Recycle = false;
  settings.NameSet = 0;
  settings.IFmt = 1;
  FileList list;
  list.setInputPath(q(in()), ListOptions::from(settings, 2));
  list.selectOnly({QStringLiteral("x.bmp"), QStringLiteral("y.bmp"), QStringLiteral("z.bmp")});
  JobContext context{host, language, settings, options};
  std::vector<PreviewRow> rows;
  ASSERT_EQ(previewListJob(context, list, q(in()), q(in()), rows).errorId, 0);
  QStringList previewed;
  for (const PreviewRow& row : rows) previewed << row.output;
  EXPECT_EQ(previewed, (QStringList{"x+2.bmp", "y+1.bmp", "z+1.bmp"}));

  runListJob(context, list, q(in()), q(in()));
  QStringList written;
  for (const EntryReport& report : host.reports) written << QFileInfo(report.outputPath).fileName();
  EXPECT_EQ(written, previewed);
}

}  // namespace
}  // namespace velorin
