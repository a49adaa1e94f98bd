// The headless mode as a user runs it: the velorin program on a folder of files.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <optional>
#include <set>

#include "settings/settings_store.h"
#include "sources/zip_writer.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::q;

struct ProgramRun {
  int exitCode = -1;
  QString out;
  QString err;
};

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(in());
    std::filesystem::create_directories(out());
    std::filesystem::create_directories(folder_ / "tmp");
  }

  // input, when given, is the program's standard input, closed after it.
  ProgramRun velorin(const QStringList& arguments, const std::optional<QByteArray>& input = std::nullopt) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), q(folder_ / "tmp"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), q(folder_ / "data"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), q(folder_ / "config"));
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    // No display: without --convert the program handles its command line headless too.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(QString::fromLatin1(name));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELORIN_BINARY_DIR "/bin/velorin"), arguments);
    if (input) {
      EXPECT_TRUE(process.waitForStarted());
      process.write(*input);
      process.closeWriteChannel();
    }
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
  }

  void writeBmp(const std::string& name) {
    test::writeBytes(in() / name, test::makeBmp(4, 2, 24, {}, std::vector<uint8_t>(24, 0x40)));
  }

  QStringList outputNames() const { return QDir(q(out())).entryList(QDir::Files, QDir::Name); }

  std::filesystem::path in() const { return folder_ / "in"; }
  std::filesystem::path out() const { return folder_ / "out"; }
  test::TempFolder folder_;
};

TEST_F(HeadlessTest, DryRunAndRealRunGiveTheSameNames) {
  for (const char* name : {"img10.bmp", "img2.bmp", "x.bmp"}) writeBmp(name);
  test::writeBytes(out() / "x.bmp", {1});
  const QStringList arguments{"--convert", "--set", "OFmt=0", "--set", "IFmt=1", "-o", q(out()), q(in())};
  const ProgramRun preview = velorin(QStringList{QStringLiteral("--dry-run")} + arguments);
  EXPECT_EQ(preview.exitCode, 0) << qPrintable(preview.err);
  // The rows name source and output the way -v reports them.
  auto row = [&](const char* source, const char* output) { return q(in() / source) + " -> " + q(out() / output) + "\n"; };
  EXPECT_EQ(preview.out, row("img2.bmp", "img2.bmp") + row("img10.bmp", "img10.bmp") + row("x.bmp", "x+1.bmp"));
  EXPECT_EQ(outputNames(), QStringList{"x.bmp"});  // nothing written

  const ProgramRun real = velorin(arguments);
  EXPECT_EQ(real.exitCode, 0) << qPrintable(real.err);
  EXPECT_EQ(outputNames(), (QStringList{"img10.bmp", "img2.bmp", "x+1.bmp", "x.bmp"}));
  // A full success off a terminal is silent, like other tools in a pipeline.
  EXPECT_TRUE(real.out.isEmpty()) << qPrintable(real.out);
  EXPECT_TRUE(real.err.isEmpty()) << qPrintable(real.err);  // no progress bar when not a terminal
  EXPECT_TRUE(std::filesystem::is_empty(folder_ / "tmp"));
}

TEST_F(HeadlessTest, ExitStatusTellsWhatHappened) {
  writeBmp("good.bmp");
  test::writeBytes(in() / "bad.bmp", {'B', 'M', 0});
  ProgramRun run = velorin({"--convert", "--quiet", "--set", "OFmt=0", "-o", q(out()), q(in() / "good.bmp")});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.out.isEmpty());

  run = velorin({"--convert", "--quiet", "--set", "OFmt=0", "-o", q(out()), q(in() / "good.bmp"), q(in() / "bad.bmp")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.err.contains(QStringLiteral("bad.bmp"))) << qPrintable(run.err);

  run = velorin({"--convert", "-o", q(folder_ / "missing"), q(in() / "good.bmp")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(run.err.contains(QStringLiteral("The output folder does not exist."))) << qPrintable(run.err);

  run = velorin({"--convert", "--set", "NoSuchKey=1", q(in() / "good.bmp")});
  EXPECT_EQ(run.exitCode, 2);
  run = velorin({"--convert", q(folder_ / "nothing-here.bmp")});
  EXPECT_EQ(run.exitCode, 2);
  run = velorin({"--convert", "--jobs", "0", q(in() / "good.bmp")});
  EXPECT_EQ(run.exitCode, 2);
  run = velorin({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.out.contains(QStringLiteral("--dry-run")));
}

TEST_F(HeadlessTest, FilesAndFoldersTogetherAndTheDefaultOutputFolder) {
  writeBmp("a.bmp");
  std::filesystem::create_directories(in() / "more");
  test::writeBytes(in() / "more" / "b.bmp", test::makeBmp(2, 2, 24, {}, std::vector<uint8_t>(16, 0)));
  test::writeBytes(in() / "more" / "c.txt", {'t'});
  const ProgramRun run = velorin({"--convert", "--set", "OFmt=1", "--dry-run", q(in() / "a.bmp"), q(in() / "more")});
  EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
  // Without -o the outputs go beside the first file.
  EXPECT_EQ(run.out, q(in() / "a.bmp") + " -> " + q(in() / "a.png") + "\n" + q(in() / "more" / "b.bmp") + " -> " +
                         q(in() / "b.png") + "\n");
}

TEST_F(HeadlessTest, InterruptAbandonsTheCurrentFile) {
  // The second input is a named pipe: the job waits there until the test has interrupted it, so
  // the signal arrives during a known entry.
  writeBmp("a.bmp");
  writeBmp("c.bmp");
  writeBmp("d.bmp");
  const std::filesystem::path pipe = in() / "b.bmp";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("TMPDIR"), q(folder_ / "tmp"));
  environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), q(folder_ / "config"));
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(VELORIN_BINARY_DIR "/bin/velorin"),
                {"--convert", "--jobs", "1", "--set", "OFmt=0", "-o", q(out()), q(in() / "a.bmp"), q(pipe),
                 q(in() / "c.bmp"), q(in() / "d.bmp")});
  ASSERT_TRUE(process.waitForStarted());
  for (int i = 0; i < 600 && outputNames().isEmpty(); ++i) QThread::msleep(20);
  QThread::msleep(200);
  ::kill(static_cast<pid_t>(process.processId()), SIGINT);
  // Feed the pipe until the program is done with it; a reader that closes early must not end
  // this test with SIGPIPE.
  const auto oldPipeHandler = std::signal(SIGPIPE, SIG_IGN);
  const std::vector<uint8_t> bytes = test::makeBmp(4, 2, 24, {}, std::vector<uint8_t>(24, 0x40));
  for (int tries = 0; !process.waitForFinished(20); ++tries) {
    if (tries > 3000) {
      process.kill();
      std::signal(SIGPIPE, oldPipeHandler);
      FAIL() << "the program did not stop";
    }
    const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) continue;
    [[maybe_unused]] const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
  }
  std::signal(SIGPIPE, oldPipeHandler);
  EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(process.exitCode(), 1);
  const QStringList written = outputNames();
  EXPECT_TRUE(written.contains(QStringLiteral("a.bmp")));
  EXPECT_FALSE(written.contains(QStringLiteral("c.bmp")));
  EXPECT_FALSE(written.contains(QStringLiteral("d.bmp")));
  EXPECT_TRUE(std::filesystem::is_empty(folder_ / "tmp"));
  // The entry waiting on the pipe is abandoned with those after it.
  const QString report = QString::fromUtf8(process.readAllStandardError());
  EXPECT_TRUE(report.endsWith(QStringLiteral("velorin: stopped: 1 of 4 files converted, 0 failed, 3 abandoned\n")))
      << qPrintable(report);
}

TEST_F(HeadlessTest, SettingsFilePresetsAndTheConvertModeWithoutConvertOption) {
  writeBmp("a.bmp");
  writeBmp("b.bmp");
  StoredSettings stored;
  stored.application.SdToCvt = true;
  stored.application.SdToPath = q(out());
  stored.conversion.OFmt = 0;
  stored.presets[1].defined = true;
  stored.presets[1].name = QStringLiteral("numbered");
  stored.presets[1].settings.OFmt = 0;
  stored.presets[1].settings.NameSet = 2;
  stored.presets[1].settings.StartNum = 7;
  stored.presets[1].settings.DigitNum = 3;
  const QString settings = q(folder_ / "Velorin.ini");
  ASSERT_TRUE(saveSettingsFile(settings, stored));

  // SdToCvt on: the files named on the command line are converted into SdToPath.
  ProgramRun run = velorin({"--settings", settings, q(in() / "a.bmp"), q(in() / "b.bmp")});
  EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
  EXPECT_EQ(outputNames(), (QStringList{"a.bmp", "b.bmp"}));
  // ... but a single folder would open in the window, which is not there.
  EXPECT_EQ(velorin({"--settings", settings, q(in())}).exitCode, 2);

  run = velorin({"--convert", "--dry-run", "--settings", settings, "--set", "StartNum=20", "--preset", "2",
                 q(in() / "a.bmp"), q(in() / "b.bmp")});
  EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
  EXPECT_EQ(run.out, q(in() / "a.bmp") + " -> " + q(out() / "020.bmp") + "\n" + q(in() / "b.bmp") + " -> " +
                         q(out() / "021.bmp") + "\n");

  EXPECT_EQ(velorin({"--convert", "--settings", settings, "--preset", "3", q(in() / "a.bmp")}).exitCode, 2);
  EXPECT_EQ(velorin({"--convert", "--settings", q(folder_ / "none.ini"), q(in() / "a.bmp")}).exitCode, 2);
}


// The settings listing of a run with the given options, as Key=Value lines.
QStringList listing(HeadlessTest& test, ProgramRun run) {
  EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
  return run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

TEST_F(HeadlessTest, EachNamedOptionSetsExactlyItsKeys) {
  const QStringList defaults = velorin({"--list-settings"}).out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_GT(defaults.size(), 50);
  const struct {
    QStringList arguments;
    QStringList changed;
  } kCases[] = {
      {{"-f", "png"}, {"OFmt=1"}},
      {{"--format=bmp"}, {"OFmt=0"}},
      {{"--quality", "85"}, {"Quality=85"}},
      {{"--jpeg-sampling", "high"}, {"Sampling=2"}},
      {{"--progressive"}, {"Progressive=1"}},
      {{"--max-size", "300"}, {"Limit=1", "LmtVal=300"}},
      {{"--png-level", "3"}, {"Level=3"}},
      {{"--colors", "16"}, {"DepOpt=3"}},
      {{"--grey"}, {"DepOpt=6"}},
      {{"--full-colour"}, {"DepOpt=1"}},
      {{"--comment", "a=b"}, {"CmtOpt=1", "CmtStr1=a=b"}},
      {{"--resize", "1600"}, {"RszOpt=3", "RszSize=1600"}},
      {{"--width", "640"}, {"RszOpt=1", "RszSize=640"}},
      {{"--height", "480"}, {"RszOpt=2", "RszSize=480"}},
      {{"--rotate", "270"}, {"TurOpt=3"}},
      {{"--rotate", "auto"}, {"TurOpt=4"}},
      {{"--lossless"}, {"JTrans=1", "IFmt=3"}},  // the lossless route reads JPEG files only
      {{"--markers", "comments"}, {"Marker=1"}},
      {{"--sharpen", "strong"}, {"UsmOpt=3"}},
      {{"--gamma", "-20"}, {"GamOpt=1", "GamVal=-20"}},
      {{"--hue", "180"}, {"HlsHOpt=1", "HlsHVal=180"}},
      {{"--name", "serial", "--digits", "4", "--start", "7"}, {"NameSet=2", "DigitNum=4", "StartNum=7"}},
      {{"--prefix", "p_", "--suffix", "_s"}, {"TopAdd=1", "TopStr=p_", "EndAdd=1", "EndStr=_s"}},
      {{"--subfolder", "web"}, {"MkDirAdd=1", "MkDirStr=web"}},
      {{"--keep-times"}, {"WrTimeCopy=1"}},
      {{"--delete-sources"}, {"IFileDel=1", "Recycle=0"}},
      {{"--trash-sources"}, {"IFileDel=1"}},
      {{"--input-format", "gif"}, {"IFmt=5"}},
      {{"--include-hidden"}, {"Hidden=0"}},
  };
  for (const auto& c : kCases) {
    QStringList arguments = c.arguments;
    arguments.prepend(QStringLiteral("--list-settings"));
    QStringList changed;
    for (const QString& row : listing(*this, velorin(arguments)))
      if (!defaults.contains(row)) changed << row;
    QStringList expected = c.changed;
    std::sort(changed.begin(), changed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(changed, expected) << qPrintable(arguments.join(' '));
  }
}

TEST_F(HeadlessTest, BadValuesAreRefusedWithOneLine) {
  const QStringList kBad[] = {
      {"--quality", "500"}, {"--quality", "8x"}, {"-f", "jpg"},       {"--colors", "8"},
      {"--rotate", "45"},   {"--prefix", "a/b"}, {"--subfolder", ".."}, {"--memory-limit", "12X"},
      {"--jobs", "0"},      {"--bogus"},         {"--set", "NoSuchKey=1"}, {"--set", "Quality=x"},
      {"--resize", "10", "--width", "20"},       {"--skip-existing", "--overwrite"}, {"--quality"},
  };
  for (QStringList arguments : kBad) {
    arguments.prepend(QStringLiteral("--convert"));
    arguments << q(in());
    const ProgramRun run = velorin(arguments);
    EXPECT_EQ(run.exitCode, 2) << qPrintable(arguments.join(' '));
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("velorin: "))) << qPrintable(run.err);
    EXPECT_EQ(run.err.count(QLatin1Char('\n')), 2) << qPrintable(run.err);  // the line and "Try ..."
  }
  const ProgramRun corrected = velorin({"--list-settings", "--set", "Quality=500"});
  EXPECT_TRUE(corrected.out.contains(QStringLiteral("Quality=100\n")));
  EXPECT_TRUE(corrected.err.contains(QStringLiteral("corrected to Quality=100"))) << qPrintable(corrected.err);
}

TEST_F(HeadlessTest, RerunsSkipOrReplaceTakenNames) {
  writeBmp("a.bmp");
  ASSERT_EQ(velorin({"--convert", "-f", "png", "-o", q(out()), q(in() / "a.bmp")}).exitCode, 0);
  const auto firstTime = std::filesystem::last_write_time(out() / "a.png");
  ProgramRun run = velorin({"--convert", "-f", "png", "--skip-existing", "--delete-sources", "-o", q(out()), q(in() / "a.bmp")});
  EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
  EXPECT_TRUE(std::filesystem::exists(in() / "a.bmp"));  // a skipped entry's source stays
  EXPECT_EQ(std::filesystem::last_write_time(out() / "a.png"), firstTime);
  test::writeBytes(out() / "a.png", {'o', 'l', 'd'});
  run = velorin({"--convert", "-f", "png", "--overwrite", "-o", q(out()), q(in() / "a.bmp")});
  EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
  EXPECT_EQ(outputNames(), QStringList{QStringLiteral("a.png")});
  EXPECT_GT(std::filesystem::file_size(out() / "a.png"), 3u);

  // In place: a lossy conversion may not take its source's place.
  run = velorin({"--convert", "-f", "bmp", "--overwrite", "-o", q(in()), q(in() / "a.bmp")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.err.contains(QStringLiteral("would replace its source"))) << qPrintable(run.err);
  EXPECT_EQ(test::readBytes(in() / "a.bmp"), test::makeBmp(4, 2, 24, {}, std::vector<uint8_t>(24, 0x40)));
}

TEST_F(HeadlessTest, FilesFromStandardInputWithNulAndTheMissingOutputFolder) {
  writeBmp("a b.bmp");
  writeBmp("c.bmp");
  const std::filesystem::path target = folder_ / "new" / "deeper";
  const ProgramRun run = velorin({"--convert", "-f", "png", "--files-from", "-", "-0", "--mkdir", "-o", q(target)},
                                 (q(in() / "a b.bmp") + QChar(u'\0') + q(in() / "c.bmp") + QChar(u'\0')).toUtf8());
  EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
  EXPECT_TRUE(std::filesystem::exists(target / "a b.png"));
  EXPECT_TRUE(std::filesystem::exists(target / "c.png"));
}


// The "source -> output" rows of a run's standard output, without the summary line.
QStringList rowsOf(const ProgramRun& run) {
  QStringList rows = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  rows.removeIf([](const QString& row) { return !row.contains(QStringLiteral(" -> ")); });
  return rows;
}

// A dry run writes nothing and names what the real run then reports with -v.
void expectDryRunTellsTheTruth(HeadlessTest& test, const std::filesystem::path& sandbox, const QStringList& arguments,
                               const std::function<ProgramRun(const QStringList&)>& run) {
  // Any start makes the settings folder it would save into; that is no output of the run.
  std::filesystem::create_directories(sandbox / "config" / "Velorin");
  const std::set<std::string> before = test::treeOf(sandbox);
  const ProgramRun preview = run(QStringList{"--dry-run"} + arguments);
  EXPECT_EQ(preview.exitCode, 0) << qPrintable(preview.err);
  EXPECT_EQ(test::treeOf(sandbox), before);
  const ProgramRun real = run(QStringList{"-v"} + arguments);
  EXPECT_EQ(real.exitCode, 0) << qPrintable(real.err);
  EXPECT_FALSE(rowsOf(preview).isEmpty());
  EXPECT_EQ(rowsOf(preview), rowsOf(real));
}

TEST_F(HeadlessTest, RecursiveRunsMirrorTheTreeAndStopAtLoops) {
  for (const char* file : {"a.bmp", "l1/b.bmp", "l1/l2/c.bmp", "l1/l2/l3/d.bmp", ".hidden/e.bmp"}) {
    std::filesystem::create_directories((in() / file).parent_path());
    writeBmp(file);
  }
  std::filesystem::create_directory_symlink(in(), in() / "l1" / "l2" / "l3" / "loop");
  const QStringList arguments{"--convert", "-f", "png", "-r", "-o", q(out()), q(in())};
  expectDryRunTellsTheTruth(*this, folder_.path(), arguments, [this](const QStringList& a) { return velorin(a); });
  EXPECT_EQ(test::treeOf(out()), (std::set<std::string>{"a.png", "l1", "l1/b.png", "l1/l2", "l1/l2/c.png", "l1/l2/l3",
                                                         "l1/l2/l3/d.png"}));
  EXPECT_TRUE(std::filesystem::is_empty(folder_ / "tmp"));

  // Without -r the sub-folders are left out, and the run says so in one line that is no error.
  std::filesystem::remove_all(out());
  std::filesystem::create_directories(out());
  const ProgramRun flat = velorin({"--convert", "-f", "png", "-o", q(out()), q(in())});
  EXPECT_EQ(flat.exitCode, 0);
  EXPECT_EQ(flat.err, QStringLiteral("velorin: 1 sub-folder skipped; -r converts them too\n"));
  EXPECT_EQ(outputNames(), QStringList{"a.png"});
}

TEST_F(HeadlessTest, ArchivesFilesAndFoldersInOneRun) {
  const std::vector<uint8_t> picture = test::makeBmp(4, 2, 24, {}, std::vector<uint8_t>(24, 0x40));
  test::writeBytes(folder_ / "one.zip", test::makeZip({{"a.bmp", picture}, {"dir/b.bmp", picture}}));
  test::writeBytes(folder_ / "two.zip", test::makeZip({{"c.bmp", picture}, {"../up.bmp", picture}}));
  writeBmp("d.bmp");
  const QStringList inputs{q(folder_ / "one.zip"), q(folder_ / "two.zip"), q(in())};
  // Members keep their folder part under -r; one that would leave the output folder fails alone.
  ProgramRun run = velorin(QStringList{"--convert", "-f", "png", "-r", "-v", "-o", q(out())} + inputs);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.out.contains(QStringLiteral("4/5"))) << qPrintable(run.out);
  EXPECT_TRUE(run.err.contains(q(folder_ / "two.zip") + ":../up.bmp: its folder cannot be made inside the output folder"))
      << qPrintable(run.err);
  EXPECT_EQ(test::treeOf(out()), (std::set<std::string>{"a.png", "c.png", "d.png", "dir", "dir/b.png"}));

  // Without -r the members' folders are dropped as in a single archive's run.
  std::filesystem::remove_all(out());
  std::filesystem::create_directories(out());
  test::writeBytes(folder_ / "two.zip", test::makeZip({{"c.bmp", picture}}));
  expectDryRunTellsTheTruth(*this, folder_.path(), QStringList{"--convert", "-f", "png", "-o", q(out())} + inputs,
                            [this](const QStringList& a) { return velorin(a); });
  EXPECT_EQ(outputNames(), (QStringList{"a.png", "b.png", "c.png", "d.png"}));
  const ProgramRun dry = velorin(QStringList{"--convert", "--dry-run", "-f", "png", "-r", "-o", q(out())} + inputs);
  EXPECT_TRUE(dry.out.startsWith(q(folder_ / "one.zip") + ":a.bmp -> " + q(out() / "a+1.png") + "\n" +
                                 q(folder_ / "one.zip") + ":dir/b.bmp -> " + q(out() / "dir" / "b.png") + "\n"))
      << qPrintable(dry.out);

  // An archive that cannot be read is named; the rest of the run goes on.
  test::writeBytes(folder_ / "bad.zip", {'P', 'K', 3, 4});
  run = velorin({"--convert", "-f", "png", "-o", q(out()), q(folder_ / "bad.zip"), q(in() / "d.bmp")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, QStringLiteral("velorin: ") + q(folder_ / "bad.zip") + ": cannot read the archive\n");
}

TEST_F(HeadlessTest, NulSeparatedNamesWithRecursion) {
  std::filesystem::create_directories(in() / "tree" / "deep");
  writeBmp("tree/deep/x.bmp");
  writeBmp("loose.bmp");
  const ProgramRun run = velorin({"--convert", "-f", "png", "-r", "--files-from", "-", "-0", "-o", q(out())},
                                 (q(in() / "tree") + QChar(u'\0') + q(in() / "loose.bmp") + QChar(u'\0')).toUtf8());
  EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
  // A folder named is walked and mirrored; a file named goes into the output folder itself.
  EXPECT_EQ(test::treeOf(out()), (std::set<std::string>{"deep", "deep/x.png", "loose.png"}));
}

}  // namespace
}  // namespace velorin
