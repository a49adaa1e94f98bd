// Outputs appear whole or not at all: the program killed or stopped while it writes an output,
// and two programs racing for one output name.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <vector>

#include "formats/bmp_reader.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::q;

constexpr int32_t kBigWidth = 1600;
constexpr int32_t kBigHeight = 1200;

std::vector<uint8_t> makePicture(int32_t width, int32_t height, uint8_t seed) {
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  std::vector<uint8_t> rows(stride * height);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 7 + seed + i / stride);
  return test::makeBmp(width, height, 24, {}, rows);
}

class InterruptedRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"in", "out", "tmp", "config"}) std::filesystem::create_directories(folder_ / name);
    // The slowed folder is matched against the descriptors' paths, which are canonical.
    out_ = std::filesystem::canonical(folder_ / "out");
  }

  // slow: writes into the output folder are slowed; preloadSettings: more settings for the
  // preloaded library, which is then loaded even when not slow.
  std::unique_ptr<QProcess> start(const QStringList& arguments, bool slow, int slowMicros = 10000,
                                  const QProcessEnvironment& preloadSettings = {}) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), q(folder_ / "tmp"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), q(folder_ / "config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), q(folder_ / "data"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    if (slow) environment.insert(QStringLiteral("VELORIN_SLOW_FOLDER"), q(out_));
    for (const QString& name : preloadSettings.keys()) environment.insert(name, preloadSettings.value(name));
    if (slow || !preloadSettings.isEmpty()) {
      environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(VELORIN_SLOW_WRITES));
      environment.insert(QStringLiteral("VELORIN_SLOW_MICROS"), QString::number(slowMicros));
      environment.insert(QStringLiteral("VELORIN_SLOW_MARKER"), q(marker()));
      // A sanitizer build wants its runtime first in the list of loaded libraries.
      const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
      environment.insert(QStringLiteral("ASAN_OPTIONS"),
                         asan + (asan.isEmpty() ? "" : ":") + QStringLiteral("verify_asan_link_order=0"));
    }
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(VELORIN_BINARY_DIR "/bin/velorin"), arguments);
    EXPECT_TRUE(process->waitForStarted());
    return process;
  }

  QStringList convertArguments(const QStringList& inputs) const {
    QStringList arguments{"--convert", "--quiet", "--jobs", "1", "--set", "OFmt=0", "-o", q(out_)};
    return arguments + inputs;
  }

  // Waits until the program has begun writing into the output folder.
  bool waitForMarker() {
    for (int i = 0; i < 1500; ++i) {
      if (std::filesystem::exists(marker())) return true;
      QThread::msleep(10);
    }
    return false;
  }

  // Every entry of a folder, hidden ones too.
  static QStringList entries(const std::filesystem::path& folder) {
    return QDir(q(folder)).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  }

  // After an interrupted run: the output folder holds nothing or exactly the complete output, and
  // nothing is left in the temporary folder.
  void expectWholeOrNothing(const std::vector<uint8_t>& complete, const char* context) {
    const QStringList names = entries(out_);
    EXPECT_TRUE(names.isEmpty() || names == QStringList{"big.bmp"}) << context << ": " << qPrintable(names.join(' '));
    if (names == QStringList{"big.bmp"}) {
      EXPECT_TRUE(test::readBytes(out_ / "big.bmp") == complete) << context;
    }
    EXPECT_TRUE(entries(folder_ / "tmp").isEmpty()) << context << ": " << qPrintable(entries(folder_ / "tmp").join(' '));
  }

  // The output of the big picture from a run nobody interrupted.
  std::vector<uint8_t> completeOutput() {
    test::writeBytes(in() / "big.bmp", makePicture(kBigWidth, kBigHeight, 3));
    auto process = start(convertArguments({q(in() / "big.bmp")}), false);
    EXPECT_TRUE(process->waitForFinished(60000));
    EXPECT_EQ(process->exitCode(), 0) << process->readAllStandardError().constData();
    std::vector<uint8_t> bytes = test::readBytes(out_ / "big.bmp");
    std::filesystem::remove(out_ / "big.bmp");
    return bytes;
  }

  std::filesystem::path marker() const { return folder_ / "writing"; }
  std::filesystem::path in() const { return folder_ / "in"; }
  test::TempFolder folder_;
  std::filesystem::path out_;
};

TEST_F(InterruptedRunTest, KillDuringTheFinalCopyLeavesNoPartialFile) {
  const std::vector<uint8_t> complete = completeOutput();
  ASSERT_GT(complete.size(), size_t{5000000});
  // Killed early in the copy, half way, and at its end (the last write or the naming step).
  for (const int delayMs : {0, 250, 1200}) {
    std::filesystem::remove(marker());
    auto process = start(convertArguments({q(in() / "big.bmp")}), true);
    ASSERT_TRUE(waitForMarker());
    QThread::msleep(delayMs);
    ::kill(static_cast<pid_t>(process->processId()), SIGKILL);
    ASSERT_TRUE(process->waitForFinished(30000));
    const std::string context = "killed " + std::to_string(delayMs) + " ms into the copy";
    expectWholeOrNothing(complete, context.c_str());
    std::filesystem::remove(out_ / "big.bmp");
  }
  // A run after the kills writes under the plain name again, as nothing was left behind.
  auto process = start(convertArguments({q(in() / "big.bmp")}), false);
  ASSERT_TRUE(process->waitForFinished(60000));
  EXPECT_EQ(entries(out_), QStringList{"big.bmp"});
}

TEST_F(InterruptedRunTest, TerminateDuringTheCopyFailsTheRunAndLeavesNoPartialFile) {
  const std::vector<uint8_t> complete = completeOutput();
  test::writeBytes(in() / "next.bmp", makePicture(4, 4, 9));
  auto process = start(convertArguments({q(in() / "big.bmp"), q(in() / "next.bmp")}), true);
  ASSERT_TRUE(waitForMarker());
  QThread::msleep(100);
  ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
  ASSERT_TRUE(process->waitForFinished(30000));
  EXPECT_FALSE(process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0);
  expectWholeOrNothing(complete, "terminated");
}

// A memory card's FAT file system has no unnamed files and no hard links, and some FUSE drivers
// for it cannot rename without replacing: outputs still appear whole under free names, a second
// run takes "+1" names, --overwrite replaces, and no hidden part file of these runs is left.
TEST_F(InterruptedRunTest, OutputsOnAFileSystemWithoutHardLinks) {
  test::writeBytes(in() / "a.bmp", makePicture(64, 48, 1));
  test::writeBytes(in() / "b.bmp", makePicture(48, 64, 2));
  const QStringList inputs{q(in() / "a.bmp"), q(in() / "b.bmp")};
  auto reference = start(convertArguments(inputs), false);
  ASSERT_TRUE(reference->waitForFinished(60000));
  const std::vector<uint8_t> a = test::readBytes(out_ / "a.bmp"), b = test::readBytes(out_ / "b.bmp");
  ASSERT_FALSE(a.empty());
  for (const char* rename2 : {"1", "0"}) {
    const std::string context = std::string("renameat2 flags ") + (rename2[0] == '1' ? "kept" : "refused");
    std::filesystem::remove_all(out_);
    std::filesystem::create_directories(out_);
    // Parts killed runs left: an old one goes; one written just now or held by a writer stays.
    for (const char* part : {".velorin-0badf00d.part", ".velorin-0000beef.part", ".velorin-00c0ffee.part"})
      test::writeBytes(out_ / part, {1, 2, 3});
    const auto hourAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    std::filesystem::last_write_time(out_ / ".velorin-0badf00d.part", hourAgo);
    std::filesystem::last_write_time(out_ / ".velorin-00c0ffee.part", hourAgo);
    const int held = ::open((out_ / ".velorin-00c0ffee.part").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    QProcessEnvironment fat;
    fat.insert(QStringLiteral("VELORIN_FAT_FOLDER"), q(out_));
    fat.insert(QStringLiteral("VELORIN_FAT_RENAME2"), QString::fromLatin1(rename2));
    for (const QStringList& extra : {QStringList{}, QStringList{}, QStringList{"--overwrite"}}) {
      auto run = start(convertArguments(inputs) + extra, false, 0, fat);
      ASSERT_TRUE(run->waitForFinished(60000));
      EXPECT_EQ(run->exitCode(), 0) << context << run->readAllStandardError().constData();
    }
    ::close(held);
    EXPECT_EQ(entries(out_), (QStringList{".velorin-0000beef.part", ".velorin-00c0ffee.part", "a+1.bmp", "a.bmp",
                                          "b+1.bmp", "b.bmp"}))
        << context;
    EXPECT_TRUE(test::readBytes(out_ / "a.bmp") == a && test::readBytes(out_ / "a+1.bmp") == a) << context;
    EXPECT_TRUE(test::readBytes(out_ / "b.bmp") == b && test::readBytes(out_ / "b+1.bmp") == b) << context;
  }
}

// Two programs started together on sources of one name into one folder: both pictures are kept
// under distinct names, each whole; with the sources deleted, each goes only once its own output
// is there.
TEST_F(InterruptedRunTest, TwoRunsRacingForOneNameKeepBothPictures) {
  for (const bool deleteSources : {false, true}) {
    for (int round = 0; round < 8; ++round) {
      const std::string context = (deleteSources ? "deleting, round " : "round ") + std::to_string(round);
      std::filesystem::remove_all(out_);
      std::filesystem::create_directories(out_);
      const std::filesystem::path sources[2] = {in() / "a", in() / "b"};
      for (int i = 0; i < 2; ++i) {
        std::filesystem::create_directories(sources[i]);
        test::writeBytes(sources[i] / "pic.bmp", makePicture(300, 200, static_cast<uint8_t>(40 * i + round)));
      }
      QStringList arguments = convertArguments({});
      if (deleteSources) arguments << "--set" << "IFileDel=1" << "--set" << "Recycle=0";
      std::unique_ptr<QProcess> runs[2];
      for (int i = 0; i < 2; ++i) runs[i] = start(arguments + QStringList{q(sources[i] / "pic.bmp")}, false);
      for (auto& run : runs) {
        ASSERT_TRUE(run->waitForFinished(60000));
        EXPECT_EQ(run->exitCode(), 0) << context << run->readAllStandardError().constData();
      }
      EXPECT_EQ(entries(out_), (QStringList{"pic+1.bmp", "pic.bmp"})) << context;
      // Each output decodes to one of the sources, and the two are not the same picture.
      uint8_t firstBytes[2] = {};
      for (int i = 0; i < 2; ++i) {
        BmpReader reader;
        ImageRecord record;
        ASSERT_TRUE(readBmpFile(reader, out_ / (i ? "pic+1.bmp" : "pic.bmp"), record)) << context;
        ASSERT_EQ(record.header.biWidth, 300);
        ASSERT_EQ(record.header.biHeight, 200);
        firstBytes[i] = record.pixels.data()[0];
        EXPECT_TRUE(firstBytes[i] == round || firstBytes[i] == 40 + round) << context;
      }
      EXPECT_NE(firstBytes[0], firstBytes[1]) << context;
      for (const auto& source : sources) EXPECT_EQ(std::filesystem::exists(source / "pic.bmp"), !deleteSources) << context;
    }
  }
}

}  // namespace
}  // namespace velorin
