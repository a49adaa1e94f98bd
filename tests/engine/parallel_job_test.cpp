// The parallel runner of the headless mode: whatever the number of workers, the outputs, their
// names, the reports and the counts equal those of the one-at-a-time job; stopping commits in order
// and leaves no temporary file; workers stay close behind the committer.
#include <gtest/gtest.h>

#include <QDir>

#include <map>

#include "engine/file_list.h"
#include "engine/job.h"
#include "engine_test_support.h"

namespace velorin {
namespace {

using test::q;

// Every file of a folder tree by relative path, with its bytes.
using FolderContents = std::map<std::string, std::vector<uint8_t>>;

FolderContents contentsOf(const std::filesystem::path& folder) {
  FolderContents contents;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder))
    if (item.is_regular_file())
      contents[std::filesystem::relative(item.path(), folder).string()] = test::readBytes(item.path());
  return contents;
}

size_t fileCount(const std::filesystem::path& folder) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& item : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

// A 24-bit bitmap whose size and pixels depend on n, so that no two outputs are alike.
void writeDistinctBmp(const std::filesystem::path& path, int n) {
  const int32_t width = 4 * (n % 5 + 1), height = 3 + n % 4;
  std::vector<uint8_t> rows(static_cast<size_t>(width) * 3 * height);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 7 + n * 31);
  test::writeBytes(path, test::makeBmp(width, height, 24, {}, rows));
}

// Records, at every report, how many temporary files exist: finished but uncommitted results and
// conversions under way.
class CountingHost : public test::RecordingHost {
 public:
  explicit CountingHost(std::filesystem::path temporaryFolder) : temporaryFolder_(std::move(temporaryFolder)) {}
  void entryFinished(const EntryReport& report) override {
    RecordingHost::entryFinished(report);
    mostTemporaryFiles = std::max(mostTemporaryFiles, fileCount(temporaryFolder_));
  }
  size_t mostTemporaryFiles = 0;

 private:
  std::filesystem::path temporaryFolder_;
};

// One job run in its own folder with its own temporary folder.
struct JobFolder {
  test::TempFolder folder;
  JobResult result;
  std::vector<EntryReport> reports;
  std::vector<qsizetype> positions;
  size_t mostTemporaryFiles = 0;

  std::filesystem::path in() const { return folder / "in"; }
  std::filesystem::path out() const { return folder / "out"; }
  std::filesystem::path tmp() const { return folder / "tmp"; }
};

class ParallelJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.IFmt = 1;
    options.EndMes = false;
    oldTmp_ = qgetenv("TMPDIR");
  }
  void TearDown() override { restoreTmp(); }
  // The test's folders are made under the usual temporary folder, not a job's.
  void restoreTmp() {
    if (oldTmp_.isEmpty()) qunsetenv("TMPDIR");
    else qputenv("TMPDIR", oldTmp_);
  }

  // Eighteen inputs (two unreadable) and, in the output folder, names the outputs collide with.
  static void makeInputs(JobFolder& run, bool outputIntoInput) {
    std::filesystem::create_directories(run.in());
    std::filesystem::create_directories(run.tmp());
    for (int n = 0; n < 18; ++n) {
      const std::string name = "p" + std::to_string(100 + n) + ".bmp";
      if (n == 4 || n == 11) test::writeJunk(run.in() / name);
      else writeDistinctBmp(run.in() / name, n);
    }
    if (outputIntoInput) return;
    std::filesystem::create_directories(run.out());
    for (const char* taken : {"01.bmp", "03.png", "03.gif", "p102.bmp", "p102.png", "p102.gif"})
      test::writeBytes(run.out() / taken, {1, 2, 3});
  }

  void runList(JobFolder& run, int jobs, bool outputIntoInput, int cancelAfter = -1) {
    qputenv("TMPDIR", QByteArray::fromStdString(run.tmp().string()));
    CountingHost host(run.tmp());
    host.cancelAfter = cancelAfter;
    JobOptions jobOptions = options;
    jobOptions.jobs = jobs;
    JobContext context{host, language, settings, jobOptions};
    FileList list;
    list.setInputPath(q(run.in()), ListOptions::from(settings, jobOptions.Hidden));
    run.result = runListJob(context, list, q(run.in()), q(outputIntoInput ? run.in() : run.out()));
    restoreTmp();
    run.reports = host.reports;
    run.positions = host.positions;
    run.mostTemporaryFiles = host.mostTemporaryFiles;
  }

  static void expectSameRuns(const JobFolder& one, const JobFolder& many) {
    EXPECT_EQ(many.result.errorId, one.result.errorId);
    EXPECT_EQ(many.result.selected, one.result.selected);
    EXPECT_EQ(many.result.processed, one.result.processed);
    EXPECT_EQ(many.result.converted, one.result.converted);
    EXPECT_EQ(many.positions, one.positions);
    ASSERT_EQ(many.reports.size(), one.reports.size());
    for (size_t i = 0; i < one.reports.size(); ++i) {
      // The runs live in different folders: compare the names only.
      EXPECT_EQ(QFileInfo(many.reports[i].source).fileName(), QFileInfo(one.reports[i].source).fileName());
      EXPECT_EQ(QFileInfo(many.reports[i].outputPath).fileName(),
                QFileInfo(one.reports[i].outputPath).fileName());
      EXPECT_EQ(many.reports[i].converted, one.reports[i].converted);
      EXPECT_STREQ(many.reports[i].failure.stage, one.reports[i].failure.stage);
    }
    EXPECT_EQ(contentsOf(many.folder.path()), contentsOf(one.folder.path()));
    EXPECT_TRUE(std::filesystem::is_empty(one.tmp()));
    EXPECT_TRUE(std::filesystem::is_empty(many.tmp()));
  }

  ConversionSettings settings;
  JobOptions options;
  LanguageModule language = test::englishLanguage();
  QByteArray oldTmp_;
};

TEST_F(ParallelJobTest, SerialNumbersCollisionsTagListAndDeletionsMatchTheSingleWorker) {
  settings.NameSet = 2;
  settings.StartNum = 1;
  settings.DigitNum = 2;
  settings.IFileDel = true;
  settings.Recycle = false;
  settings.HtmlTag = true;
  for (int32_t format : {0, 1, 2, 4}) {  // BMP, PNG, JPEG, GIF
    SCOPED_TRACE(format);
    settings.OFmt = format;
    settings.DepOpt = format == 4 ? 2 : 0;
    JobFolder one, four;
    makeInputs(one, false);
    makeInputs(four, false);
    runList(one, 1, false);
    runList(four, 4, false);
    EXPECT_EQ(one.result.converted, 16);
    expectSameRuns(one, four);
    EXPECT_EQ(fileCount(four.in()), 2u);  // only the unreadable sources stay
  }
}

TEST_F(ParallelJobTest, OutputIntoTheInputFolderMatchesTheSingleWorker) {
  // The outputs take the sources' names while those still exist: every one gets a "+1".
  settings.OFmt = 0;
  settings.IFileDel = true;
  settings.Recycle = false;
  JobFolder one, three;
  makeInputs(one, true);
  makeInputs(three, true);
  runList(one, 1, true);
  runList(three, 3, true);
  expectSameRuns(one, three);
  EXPECT_TRUE(std::filesystem::exists(three.in() / "p100+1.bmp"));
}

TEST_F(ParallelJobTest, WorkersNeverRunFarAheadOfTheCommitter) {
  settings.OFmt = 1;
  JobFolder run;
  makeInputs(run, false);
  runList(run, 3, false);
  EXPECT_EQ(run.result.processed, 18);
  EXPECT_LE(run.mostTemporaryFiles, 2u * 3);
}

TEST_F(ParallelJobTest, StoppingCommitsInOrderAndLeavesNoTemporaryFile) {
  settings.OFmt = 0;
  settings.IFileDel = true;
  settings.Recycle = false;
  JobFolder run;
  makeInputs(run, false);
  runList(run, 3, false, 2);
  EXPECT_TRUE(run.result.cancelled);
  EXPECT_GE(run.result.processed, 2);
  EXPECT_LT(run.result.processed, 18);
  // Committed entries are a prefix of the list: their sources are gone, the rest all remain.
  for (qsizetype i = 0; i < 18; ++i) {
    const std::filesystem::path source = run.in() / ("p" + std::to_string(100 + i) + ".bmp");
    const bool unreadable = i == 4 || i == 11;
    EXPECT_EQ(std::filesystem::exists(source), unreadable || i >= run.result.processed) << i;
  }
  ASSERT_EQ(static_cast<qsizetype>(run.reports.size()), run.result.processed);
  EXPECT_TRUE(std::filesystem::is_empty(run.tmp()));
}

TEST_F(ParallelJobTest, PathJobWithMoreWorkersThanFilesMatchesTheSingleWorker) {
  settings.OFmt = 1;
  JobFolder one, many;
  for (JobFolder* run : {&one, &many}) {
    std::filesystem::create_directories(run->in());
    std::filesystem::create_directories(run->out());
    std::filesystem::create_directories(run->tmp());
    writeDistinctBmp(run->in() / "x.bmp", 1);
    writeDistinctBmp(run->in() / "y.bmp", 2);
  }
  for (auto [run, jobs] : {std::pair{&one, 1}, std::pair{&many, 8}}) {
    qputenv("TMPDIR", QByteArray::fromStdString(run->tmp().string()));
    test::RecordingHost host;
    JobOptions jobOptions = options;
    jobOptions.jobs = jobs;
    JobContext context{host, language, settings, jobOptions};
    // Given twice: converted once, in both runs.
    run->result = runPathJob(context, {q(run->in() / "x.bmp"), q(run->in() / "y.bmp"), q(run->in() / "x.bmp")},
                             q(run->out()));
    restoreTmp();
  }
  EXPECT_EQ(many.result.converted, 2);
  EXPECT_EQ(contentsOf(many.folder.path()), contentsOf(one.folder.path()));
  EXPECT_FALSE(std::filesystem::exists(many.out() / "x+1.png"));
}

}  // namespace
}  // namespace velorin
