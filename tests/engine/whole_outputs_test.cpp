// Outputs appear whole or not at all: a killed writer leaves no file anywhere, two jobs racing for
// one name both keep their pictures, and a file given twice is converted once however many
// workers run.
#include <gtest/gtest.h>

#include <QDir>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <map>
#include <thread>

#include "engine/job.h"
#include "engine_test_support.h"
#include "platform/atomic_file.h"

namespace velorin {
namespace {

using test::q;

std::map<std::string, std::vector<uint8_t>> filesOf(const std::filesystem::path& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& item : std::filesystem::directory_iterator(folder))
    files[item.path().filename().string()] = test::readBytes(item.path());
  return files;
}

TEST(PendingFile, NothingAppearsUntilLinkedAndNothingIsReplaced) {
  test::TempFolder folder;
  {
    PendingFile file;
    ASSERT_TRUE(file.create(q(folder.path())));
    test::writeBytes(toFsPath(file.path()), {1, 2, 3});
    EXPECT_TRUE(filesOf(folder.path()).empty());
  }  // dropped without a link: gone
  EXPECT_TRUE(filesOf(folder.path()).empty());

  test::writeBytes(folder / "taken.bmp", {9});
  PendingFile file;
  ASSERT_TRUE(file.create(q(folder.path())));
  test::writeBytes(toFsPath(file.path()), {1, 2, 3});
  int error = 0;
  EXPECT_FALSE(file.linkTo(q(folder / "taken.bmp"), error));
  EXPECT_EQ(error, EEXIST);
  EXPECT_TRUE(file.linkTo(q(folder / "free.bmp"), error));
  EXPECT_EQ(filesOf(folder.path()), (std::map<std::string, std::vector<uint8_t>>{
                                        {"free.bmp", {1, 2, 3}}, {"taken.bmp", {9}}}));
}

TEST(PendingFile, AProcessKilledWhileWritingLeavesNothing) {
  test::TempFolder folder;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PendingFile file;
    if (!file.create(q(folder.path()))) _exit(1);
    test::writeBytes(toFsPath(file.path()), std::vector<uint8_t>(1 << 20, 7));
    raise(SIGKILL);  // in the middle of the job, before any name is given
    _exit(2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child could not make its file";
  EXPECT_TRUE(filesOf(folder.path()).empty());
}

class WholeOutputs : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"in", "in2", "out", "tmp"}) std::filesystem::create_directories(root_ / name);
    settings.OFmt = 0;
    options.EndMes = false;
  }
  JobResult run(const QStringList& paths, int jobs, const std::filesystem::path& out) {
    JobOptions o = options;
    o.jobs = jobs;
    test::RecordingHost host;
    JobContext context{host, language, settings, o};
    return runPathJob(context, paths, q(out));
  }

  test::TempFolder root_;
  test::ScopedEnv tmp_{"TMPDIR", (root_ / "tmp").c_str()};
  test::ScopedEnv dataHome_{"XDG_DATA_HOME", (root_ / "data").c_str()};
  ConversionSettings settings;
  JobOptions options;
  LanguageModule language = test::englishLanguage();
};

TEST_F(WholeOutputs, TwoJobsRacingForOneNameBothKeepTheirPictures) {
  // Same names, different pictures: every output must be one of the two, none lost or mixed.
  QStringList first, second;
  for (int i = 0; i < 6; ++i) {
    const std::string name = "p" + std::to_string(i) + ".bmp";
    test::writeBytes(root_ / "in" / name, test::makeBmp(4, 2, 24, {}, std::vector<uint8_t>(24, 0x10)));
    test::writeBytes(root_ / "in2" / name, test::makeBmp(4, 2, 24, {}, std::vector<uint8_t>(24, 0xE0)));
    first << q(root_ / "in" / name);
    second << q(root_ / "in2" / name);
  }
  settings.IFileDel = true;
  settings.Recycle = false;
  JobResult a, b;
  std::thread other([&] { b = run(second, 1, root_ / "out"); });
  a = run(first, 1, root_ / "out");
  other.join();
  EXPECT_EQ(a.converted + b.converted, 12);
  const auto outputs = filesOf(root_ / "out");
  EXPECT_EQ(outputs.size(), 12u);
  int dark = 0, light = 0;
  for (const auto& [name, bytes] : outputs) (bytes.back() == 0x10 ? dark : light)++;
  EXPECT_EQ(dark, 6);
  EXPECT_EQ(light, 6);
  EXPECT_TRUE(filesOf(root_ / "tmp").empty());
}

TEST_F(WholeOutputs, AFileGivenTwiceConvertsOnceWhateverTheWorkers) {
  test::writeSmallBmp(root_ / "in" / "a.bmp");
  test::writeSmallBmp(root_ / "in" / "b.bmp");
  settings.IFileDel = true;
  settings.Recycle = false;
  std::map<std::string, std::vector<uint8_t>> first;
  for (const int jobs : {1, 8}) {
    if (jobs == 8) {
      test::writeSmallBmp(root_ / "in" / "a.bmp");
      test::writeSmallBmp(root_ / "in" / "b.bmp");
      std::filesystem::remove_all(root_ / "out");
      std::filesystem::create_directories(root_ / "out");
    }
    std::filesystem::create_hard_link(root_ / "in" / "a.bmp", root_ / "in" / "a-link.bmp");
    const QString a = q(root_ / "in" / "a.bmp");
    const JobResult result = run({a, q(root_ / "in" / "b.bmp"), a, q(root_ / "in" / "a-link.bmp")}, jobs, root_ / "out");
    EXPECT_EQ(result.selected, 2) << jobs;
    EXPECT_EQ(result.converted, 2) << jobs;
    if (jobs == 1) first = filesOf(root_ / "out");
    else EXPECT_EQ(filesOf(root_ / "out"), first);
    std::filesystem::remove(root_ / "in" / "a-link.bmp");
  }
  EXPECT_EQ(first.size(), 2u);
}

}  // namespace
}  // namespace velorin
