// The headless mode with damaged inputs and a damaged or missing settings place: each trouble is
// said once on standard error, by name, and the job still does what it safely can.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::q;

struct ProgramResult {
  int exitCode = -1;
  QString err;
};

class HeadlessSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"in", "out", "tmp", "config"}) std::filesystem::create_directories(folder_ / name);
    environment_ = QProcessEnvironment::systemEnvironment();
    environment_.insert(QStringLiteral("TMPDIR"), q(folder_ / "tmp"));
    environment_.insert(QStringLiteral("HOME"), q(folder_.path()));
    environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), q(folder_ / "config"));
    environment_.insert(QStringLiteral("XDG_DATA_HOME"), q(folder_ / "data"));
    environment_.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment_.remove(QString::fromLatin1(name));
  }

  ProgramResult velorin(const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(environment_);
    process.start(QStringLiteral(VELORIN_BINARY_DIR "/bin/velorin"), arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardError())};
  }

  std::filesystem::path writeBmp(const std::string& name) {
    const std::filesystem::path path = folder_ / "in" / name;
    test::writeBytes(path, test::makeBmp(4, 2, 24, {}, std::vector<uint8_t>(24, 0x40)));
    return path;
  }

  test::TempFolder folder_;
  QProcessEnvironment environment_;
};

TEST_F(HeadlessSafety, ADamagedSourceConvertsIsSaidAndIsNotDeleted) {
  // A JPEG of noise made by the program itself, then cut.
  std::vector<uint8_t> rows(64 * 3 * 48);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
  test::writeBytes(folder_ / "in" / "noise.bmp", test::makeBmp(64, 48, 24, {}, rows));
  ASSERT_EQ(velorin({"--convert", "-f", "jpeg", "-o", q(folder_ / "in"), q(folder_ / "in" / "noise.bmp")}).exitCode, 0);
  const std::vector<uint8_t> jpeg = test::readBytes(folder_ / "in" / "noise.jpg");
  test::writeBytes(folder_ / "in" / "cut.jpg", std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2));

  const QString cut = q(folder_ / "in" / "cut.jpg");
  const ProgramResult run = velorin({"--convert", "-f", "png", "--delete-sources", "-o", q(folder_ / "out"), cut,
                           q(folder_ / "in" / "noise.jpg")});
  EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
  EXPECT_EQ(run.err, "velorin: " + cut + ": damaged source (premature end of JPEG file), kept\n");
  EXPECT_TRUE(std::filesystem::exists(folder_ / "in" / "cut.jpg"));
  EXPECT_FALSE(std::filesystem::exists(folder_ / "in" / "noise.jpg"));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "out" / "cut.png"));
}

TEST_F(HeadlessSafety, ABadSettingsFileIsSaidOnceAndTheDefaultsRun) {
  const std::filesystem::path settings = folder_ / "config" / "Velorin" / "Velorin.ini";
  const QString input = q(writeBmp("a.bmp"));
  std::filesystem::create_directories(settings);  // a folder where the file should be
  ProgramResult run = velorin({"--convert", "-o", q(folder_ / "out"), input});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "velorin: " + q(settings) + ": settings file is not a file (a folder is in its place), using the defaults\n");
  EXPECT_TRUE(std::filesystem::exists(folder_ / "out" / "a.jpg"));  // the default output format

  std::filesystem::remove(settings);
  test::writeBytes(settings, {0x8C, 0x01, 0x01});
  run = velorin({"--convert", "--dry-run", "-o", q(folder_ / "out"), input});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "velorin: " + q(settings) + ": settings file is damaged (it is too short), using the defaults\n");
}

TEST_F(HeadlessSafety, WithoutAPlaceForSettingsTheJobRunsAndNothingIsCreated) {
  const QString input = q(writeBmp("a.bmp"));
  environment_.remove(QStringLiteral("XDG_CONFIG_HOME"));
  const std::filesystem::path missingHome = folder_ / "gone" / "home";
  test::writeBytes(folder_ / "blocker", {1});
  const struct {
    const char* variable;
    QString value;  // empty: unset
  } places[] = {{"HOME", QString()}, {"HOME", q(missingHome)}, {"XDG_CONFIG_HOME", q(folder_ / "blocker")}};
  for (const auto& place : places) {
    if (place.value.isEmpty()) environment_.remove(QLatin1String(place.variable));
    else environment_.insert(QLatin1String(place.variable), place.value);
    std::filesystem::remove_all(folder_ / "out");
    std::filesystem::create_directories(folder_ / "out");
    const ProgramResult run = velorin({"--convert", "-f", "png", "-o", q(folder_ / "out"), input});
    EXPECT_EQ(run.exitCode, 0) << place.variable << "=" << qPrintable(place.value) << ": " << qPrintable(run.err);
    EXPECT_TRUE(run.err.isEmpty()) << qPrintable(run.err);
    EXPECT_TRUE(std::filesystem::exists(folder_ / "out" / "a.png"));
  }
  EXPECT_FALSE(std::filesystem::exists(folder_ / "gone"));
}

TEST_F(HeadlessSafety, AnOutputNameThatFailsTheNameCheckIsSaidAsSuch) {
  const std::string longName(246, 'a');
  const QString input = q(writeBmp(longName + ".bmp"));
  const ProgramResult run = velorin({"--convert", "-f", "png", "--prefix", "pppppppppp", "-o", q(folder_ / "out"), input});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "velorin: " + input + ": the output name \"pppppppppp" + QString::fromStdString(longName) +
                         ".png\" is not a valid file name (it is too long)\n");
  EXPECT_TRUE(QDir(q(folder_ / "out")).isEmpty());
}

}  // namespace
}  // namespace velorin
