// The program laid out as an installation lays it out, and started through a link: it finds its
// language files and its shipped plug-ins relative to itself, with no plug-in folder set.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::q;
namespace fs = std::filesystem;

const fs::path kBuiltProgramFolder = VELORIN_BINARY_DIR "/bin";

class InstallLayoutTest : public ::testing::Test {
 protected:
  // Runs program in the folder work, with a fresh configuration; the exit code, or -1 for a crash.
  int run(const fs::path& program, const QStringList& arguments, QString* errors = nullptr) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), q(folder_ / "config"));
    environment.insert(QStringLiteral("TMPDIR"), q(folder_.path()));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(q(folder_.path()));
    process.start(q(program), arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    if (errors) *errors = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }

  // A Netpbm picture and a .tar.gz of two JPEG files, formats only the shipped plug-ins read.
  void writeInputs(const fs::path& program) {
    fs::create_directories(folder_ / "in");
    fs::create_directories(folder_ / "jpeg");
    const std::string ppm = "P6\n2 2\n255\n";
    std::vector<uint8_t> bytes(ppm.begin(), ppm.end());
    for (int i = 0; i < 12; ++i) bytes.push_back(static_cast<uint8_t>(i * 20));
    test::writeBytes(folder_ / "in" / "picture.ppm", bytes);
    for (const char* name : {"one.bmp", "two.bmp"})
      test::writeBytes(folder_ / "jpeg" / name, test::makeBmp(8, 8, 24, {}, std::vector<uint8_t>(192, 0x80)));
    ASSERT_EQ(run(program, {"--convert", "--quiet", "--set", "OFmt=2", "-o", q(folder_ / "jpeg"),
                            q(folder_ / "jpeg" / "one.bmp"), q(folder_ / "jpeg" / "two.bmp")}),
              0);
    QProcess tar;
    tar.setWorkingDirectory(q(folder_ / "jpeg"));
    tar.start(QStringLiteral("tar"), {"czf", q(folder_ / "in" / "photos.tar.gz"), "one.jpg", "two.jpg"});
    ASSERT_TRUE(tar.waitForFinished(10000) && tar.exitCode() == 0);
  }

  void expectShippedFormatsConvert(const fs::path& program) {
    writeInputs(program);
    QString errors;
    EXPECT_EQ(run(program, {"--convert", "--quiet", "--set", "OFmt=1", "-o", q(folder_ / "out"),
                            q(folder_ / "in" / "picture.ppm")},
                  &errors),
              0)
        << qPrintable(errors);
    EXPECT_EQ(run(program, {"--convert", "--quiet", "--set", "OFmt=1", "-o", q(folder_ / "out"),
                            q(folder_ / "in" / "photos.tar.gz")},
                  &errors),
              0)
        << qPrintable(errors);
    EXPECT_EQ(QDir(q(folder_ / "out")).entryList(QDir::Files, QDir::Name).join(u' '),
              QStringLiteral("one.png picture.png two.png"));
  }

  void SetUp() override { fs::create_directories(folder_ / "out"); }
  test::TempFolder folder_;
};

TEST_F(InstallLayoutTest, InstalledUnderAPrefixFindsShareAndLib) {
  const fs::path prefix = folder_ / "prefix";
  fs::create_directories(prefix / "bin");
  fs::create_directories(prefix / "share" / "velorin");
  fs::create_directories(prefix / "lib" / "velorin");
  fs::copy_file(kBuiltProgramFolder / "velorin", prefix / "bin" / "velorin");
  for (const char* language : {"English.lng", "Japanese.lng"})
    fs::copy_file(kBuiltProgramFolder / language, prefix / "share" / "velorin" / language);
  fs::copy(kBuiltProgramFolder / "plugins", prefix / "lib" / "velorin" / "plugins");
  // Started through a link in another folder, as from a bin folder on the PATH.
  fs::create_directories(folder_ / "path");
  fs::create_symlink(prefix / "bin" / "velorin", folder_ / "path" / "velorin");
  expectShippedFormatsConvert(folder_ / "path" / "velorin");

  // Without its language files the program says so and stops.
  fs::remove_all(prefix / "share");
  QString errors;
  EXPECT_EQ(run(prefix / "bin" / "velorin", {"--convert", q(folder_ / "in" / "picture.ppm")}, &errors), 2);
  EXPECT_TRUE(errors.contains(QStringLiteral("Language file not found."))) << qPrintable(errors);
}

TEST_F(InstallLayoutTest, BuildTreeThroughALinkUsesItsOwnPlugins) {
  fs::create_directories(folder_ / "path");
  fs::create_symlink(kBuiltProgramFolder / "velorin", folder_ / "path" / "velorin");
  expectShippedFormatsConvert(folder_ / "path" / "velorin");

  // A plug-in folder the user names replaces the shipped one.
  fs::create_directories(folder_ / "own-plugins");
  EXPECT_EQ(run(folder_ / "path" / "velorin", {"--convert", "--quiet", "--set", "SPI=" + q(folder_ / "own-plugins"),
                                              "-o", q(folder_ / "out"), q(folder_ / "in" / "picture.ppm")}),
            1);
}

}  // namespace
}  // namespace velorin
