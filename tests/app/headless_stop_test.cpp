// Stopping the headless mode, its progress line on a terminal and the reasons its failure
// messages give, with the real program.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <fcntl.h>
#include <pty.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <random>

#include "app/progress_line.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::q;

const QString kProgram = QStringLiteral(VELORIN_BINARY_DIR "/bin/velorin");

// A noisy picture: nothing in it compresses or resizes cheaply.
std::vector<uint8_t> noiseBmp(int32_t width, int32_t height, uint32_t seed) {
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  std::vector<uint8_t> rows(stride * height);
  std::minstd_rand random(seed);
  for (uint8_t& byte : rows) byte = static_cast<uint8_t>(random() >> 8);
  return test::makeBmp(width, height, 24, {}, rows);
}

class HeadlessStopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& folder : {in(), out(), temporary()}) std::filesystem::create_directories(folder);
  }

  // slow: every JPEG row written takes 10 ms (slow_scanlines.c).
  QProcessEnvironment environment(bool slow = false) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (slow) {
      environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(SLOW_SCANLINES));
      // The sanitizer build wants its runtime first; the slow-down only wraps one call.
      environment.insert(QStringLiteral("ASAN_OPTIONS"),
                         environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
    }
    environment.insert(QStringLiteral("TMPDIR"), q(temporary()));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), q(folder_ / "config"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) environment.remove(QString::fromLatin1(name));
    return environment;
  }

  void start(QProcess& process, const QStringList& arguments, bool slow = false) {
    process.setProcessEnvironment(environment(slow));
    process.start(kProgram, arguments);
    ASSERT_TRUE(process.waitForStarted());
  }

  // Runs velorin to the end; the child is changed by modifier before it starts (user, limits).
  int run(const QStringList& arguments, QString& err, const std::function<void()>& modifier = {}) {
    QProcess process;
    if (modifier) process.setChildProcessModifier(modifier);
    start(process, arguments);
    EXPECT_TRUE(process.waitForFinished(120000));
    err = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }

  // PNG files of 3000 rows: half a minute each to write as JPEG under the slow-down.
  void writeSlowPngs(int count) {
    for (int i = 0; i < count; ++i)
      test::writeBytes(temporary() / ("slow" + std::to_string(i) + ".bmp"), noiseBmp(800, 3000, 7 + i));
    QString err;
    ASSERT_EQ(run({"--convert", "-f", "png", "--png-level", "1", "-o", q(in()), q(temporary())}, err), 0)
        << qPrintable(err);
    for (int i = 0; i < count; ++i) std::filesystem::remove(temporary() / ("slow" + std::to_string(i) + ".bmp"));
  }
  static QStringList slowArguments() { return {"--convert", "-f", "jpeg", "--sharpen", "strong"}; }

  QStringList names(const std::filesystem::path& folder) const {
    return QDir(q(folder)).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  }

  std::filesystem::path in() const { return folder_ / "in"; }
  std::filesystem::path out() const { return folder_ / "out"; }
  std::filesystem::path temporary() const { return folder_ / "tmp"; }
  test::TempFolder folder_;
};

TEST(ProgressLineTest, CountNameTimesAndTheNameGivesWayFirst) {
  EXPECT_EQ(durationText(7.4), "0:07");
  EXPECT_EQ(durationText(754), "12:34");
  EXPECT_EQ(durationText(3723), "1:02:03");
  // Nothing is estimated before a file is done, nor once all are.
  EXPECT_EQ(progressText(0, 4, QStringLiteral("/a/b/photo.jpg"), 3, 0), "velorin: 0/4 photo.jpg, 0:03 taken");
  EXPECT_EQ(progressText(1, 4, QStringLiteral("photo.jpg"), 10, 0),
            "velorin: 1/4 photo.jpg, 0:10 taken, about 0:30 left");
  EXPECT_EQ(progressText(4, 4, QStringLiteral("photo.jpg"), 10, 0), "velorin: 4/4 photo.jpg, 0:10 taken");
  // A narrow terminal: the line never wraps, the end of the name stays.
  const std::string narrow = progressText(1, 4, QStringLiteral("a-very-long-file-name-indeed.jpg"), 10, 60);
  EXPECT_EQ(narrow, "velorin: 1/4 ...ame-indeed.jpg, 0:10 taken, about 0:30 left");
  EXPECT_EQ(narrow.size(), 59u);
  EXPECT_LE(progressText(1, 4, QStringLiteral("x.jpg"), 10, 20).size(), 19u);
}

TEST_F(HeadlessStopTest, InterruptAbandonsTheConversionsInFlight) {
  writeSlowPngs(3);
  QProcess process;
  start(process, slowArguments() + QStringList{"--jobs", "2", "-o", q(out()), q(in())}, true);
  // Both workers are well into their first file before the signal.
  QThread::msleep(2500);
  ASSERT_EQ(process.state(), QProcess::Running) << process.readAllStandardError().constData();
  QElapsedTimer stopping;
  stopping.start();
  ::kill(static_cast<pid_t>(process.processId()), SIGINT);
  ASSERT_TRUE(process.waitForFinished(10000));
  EXPECT_LT(stopping.elapsed(), 5000);
  EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(process.exitCode(), 1);
  const QString err = QString::fromUtf8(process.readAllStandardError());
  EXPECT_TRUE(err.contains(QStringLiteral("velorin: stopped: 0 of 3 files converted, 0 failed, 3 abandoned\n")))
      << qPrintable(err);
  EXPECT_EQ(names(out()), QStringList{});
  EXPECT_EQ(names(temporary()), QStringList{});
}

TEST_F(HeadlessStopTest, ASecondInterruptEndsAtOnce) {
  // The input is a named pipe nobody writes to: the first stop has to wait for its deadline.
  const std::filesystem::path pipe = in() / "b.bmp";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  QProcess process;
  start(process, {"--convert", "-f", "bmp", "-o", q(out()), q(pipe)});
  QThread::msleep(500);
  const auto pid = static_cast<pid_t>(process.processId());
  ::kill(pid, SIGINT);
  QThread::msleep(100);
  ::kill(pid, SIGINT);
  ASSERT_TRUE(process.waitForFinished(5000));
  // Ended by the signal, as the shell expects of a program interrupted twice (status 130).
  EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
  EXPECT_EQ(names(out()), QStringList{});
}

// The SOF's picture size of a whole JPEG, or 0 x 0 when it is no complete JPEG.
std::pair<int, int> jpegSize(const std::vector<uint8_t>& b) {
  if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8 || b[b.size() - 2] != 0xFF || b[b.size() - 1] != 0xD9) return {};
  for (size_t at = 2; at + 9 < b.size() && b[at] == 0xFF; at += 2 + (b[at + 2] << 8 | b[at + 3])) {
    const uint8_t marker = b[at + 1];
    if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2)
      return {b[at + 7] << 8 | b[at + 8], b[at + 5] << 8 | b[at + 6]};
  }
  return {};
}

TEST_F(HeadlessStopTest, KilledDuringAnInPlaceLosslessRunEverySourceIsWhole) {
  // JPEG photographs taken on their side (EXIF orientation 6).
  constexpr int kCount = 16;
  for (int i = 0; i < kCount; ++i)
    test::writeBytes(temporary() / ("p" + std::to_string(i) + ".bmp"), noiseBmp(1200, 800, 100 + i));
  QString err;
  ASSERT_EQ(run({"--convert", "-f", "jpeg", "-o", q(in()), q(temporary())}, err), 0) << qPrintable(err);
  for (const auto& entry : std::filesystem::directory_iterator(temporary())) std::filesystem::remove(entry);
  static const uint8_t kExif[] = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0,
                                  1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
  std::map<std::string, std::vector<uint8_t>> originals;
  for (const auto& entry : std::filesystem::directory_iterator(in())) {
    std::vector<uint8_t> bytes = test::readBytes(entry.path());
    bytes.insert(bytes.begin() + 2, std::begin(kExif), std::end(kExif));
    test::writeBytes(entry.path(), bytes);
    originals[entry.path().filename().string()] = bytes;
  }
  ASSERT_EQ(originals.size(), static_cast<size_t>(kCount));

  QProcess process;
  start(process, {"--convert", "--lossless", "--rotate", "auto", "--overwrite", "--jobs", "1", "-o", q(in()), q(in())});
  // Killed as soon as the first source has been replaced.
  const auto turned = [&] {
    for (const auto& [name, bytes] : originals)
      if (test::readBytes(in() / name) != bytes) return true;
    return false;
  };
  for (int i = 0; i < 3000 && !turned() && process.state() == QProcess::Running; ++i) QThread::msleep(2);
  ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
  ASSERT_TRUE(process.waitForFinished(10000));

  int replaced = 0;
  for (const auto& [name, bytes] : originals) {
    const std::vector<uint8_t> now = test::readBytes(in() / name);
    if (now == bytes) continue;
    ++replaced;
    EXPECT_EQ(jpegSize(now), std::make_pair(800, 1200)) << name << ": neither the source nor a whole turned file";
  }
  EXPECT_GT(replaced, 0);
  EXPECT_LT(replaced, kCount) << "the run ended before it was killed";
  for (const QString& name : names(in()))
    EXPECT_TRUE(originals.count(name.toStdString()) || name.startsWith(QLatin1Char('.'))) << qPrintable(name);
}

TEST_F(HeadlessStopTest, FailuresGiveTheSystemsReason) {
  test::writeBytes(in() / "locked.bmp", noiseBmp(8, 8, 1));
  test::writeBytes(in() / "open.bmp", noiseBmp(8, 8, 2));
  ASSERT_EQ(::chmod((in() / "locked.bmp").c_str(), 0), 0);
  ASSERT_EQ(::chmod(out().c_str(), 0555), 0);
  // Root reads and writes anything: the run is made as nobody, which needs to reach the folders.
  const bool root = ::geteuid() == 0;
  for (const auto& folder : {folder_.path(), in(), temporary()}) ::chmod(folder.c_str(), 0777);
  const auto asNobody = [root] {
    if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
  };
  QString err;
  EXPECT_EQ(run({"--convert", "-f", "bmp", "-o", q(out()), q(in() / "locked.bmp"), q(in() / "open.bmp")}, err, asNobody), 1);
  EXPECT_TRUE(err.contains(q(in() / "locked.bmp") + ": cannot read the file: Permission denied\n")) << qPrintable(err);
  EXPECT_TRUE(err.contains(q(in() / "open.bmp") + ": cannot write the output: Permission denied\n")) << qPrintable(err);
  ::chmod(out().c_str(), 0755);

  // A full disk, where a small file system can be mounted; else a file size limit stands in.
  const std::filesystem::path full = folder_ / "full";
  std::filesystem::create_directories(full);
  const bool mounted = ::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") == 0;
  const char* reason = mounted ? "No space left on device" : "File too large";
  const auto limited = [mounted] {
    if (mounted) return;
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_FSIZE, &none);
  };
  test::writeBytes(in() / "big.bmp", noiseBmp(200, 200, 3));
  // The output folder full, then the temporary folder: both come to the same message.
  EXPECT_EQ(run({"--convert", "-f", "bmp", "-o", q(mounted ? full : out()), q(in() / "big.bmp")}, err, limited), 1);
  EXPECT_TRUE(err.contains(QStringLiteral(": cannot write the output: %1\n").arg(QLatin1String(reason)))) << qPrintable(err);
  if (mounted) {
    QProcess process;
    QProcessEnvironment environment = this->environment();
    environment.insert(QStringLiteral("TMPDIR"), q(full));
    process.setProcessEnvironment(environment);
    process.start(kProgram, {"--convert", "-f", "png", "--png-level", "0", "-o", q(out()), q(in() / "big.bmp")});
    ASSERT_TRUE(process.waitForFinished(60000));
    const QString tmpErr = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(tmpErr.contains(QStringLiteral("big.bmp: cannot write the output: No space left on device\n")))
        << qPrintable(tmpErr);
    ::umount(full.c_str());
  }
  EXPECT_FALSE(std::filesystem::exists(out() / "big.bmp"));
  EXPECT_FALSE(std::filesystem::exists(out() / "big.png"));
}

TEST_F(HeadlessStopTest, ProgressLineOnATerminalMovesDuringOneSlowFile) {
  writeSlowPngs(1);
  QStringList arguments = slowArguments() + QStringList{"-o", q(out()), q(in() / "slow0.png")};
  std::vector<QByteArray> bytes;
  std::vector<char*> argv{const_cast<char*>("velorin")};
  for (const QString& argument : arguments) bytes.push_back(argument.toLocal8Bit());
  for (QByteArray& argument : bytes) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const QByteArray program = kProgram.toLocal8Bit();
  const QByteArray tmpdir = q(temporary()).toLocal8Bit();

  int terminal = -1;
  const winsize size{24, 100, 0, 0};
  const pid_t child = ::forkpty(&terminal, nullptr, nullptr, &size);
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::setenv("TMPDIR", tmpdir.constData(), 1);
    ::setenv("LD_PRELOAD", SLOW_SCANLINES, 1);
    ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ::execv(program.constData(), argv.data());
    ::_exit(127);
  }
  // Read what the terminal shows until the line has been drawn three times, then stop the run.
  std::string screen;
  QElapsedTimer clock;
  clock.start();
  bool interrupted = false;
  for (;;) {
    char buffer[4096];
    const ssize_t got = ::read(terminal, buffer, sizeof buffer);
    if (got <= 0) break;  // the child is gone (EIO)
    screen.append(buffer, static_cast<size_t>(got));
    size_t draws = 0;
    for (size_t at = screen.find("\rvelorin: 0/1 slow0.png, "); at != std::string::npos;
         at = screen.find("\rvelorin: 0/1 slow0.png, ", at + 1))
      ++draws;
    if (!interrupted && (draws >= 3 || clock.elapsed() > 60000)) {
      ::kill(child, SIGINT);
      interrupted = true;
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(terminal);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << screen;
  EXPECT_TRUE(interrupted);
  EXPECT_NE(screen.find("taken"), std::string::npos) << screen;
  // Messages start on a cleared line, and the line is gone at the end.
  EXPECT_NE(screen.find("\r\033[Kvelorin: stopped: 0 of 1 files converted"), std::string::npos) << screen;
  const size_t lastDraw = screen.rfind("\rvelorin: 0/1");
  EXPECT_NE(screen.find("\r\033[K", lastDraw), std::string::npos) << screen;
}

}  // namespace
}  // namespace velorin
