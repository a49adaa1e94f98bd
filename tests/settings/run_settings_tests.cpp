#include <gtest/gtest.h>

#include "settings/run_settings.h"
#include "slot_file_builder.h"

namespace velorin {
namespace {

using test::q;
using test::SlotFileBuilder;
using test::TempFolder;

TEST(RunSettings, ReadsTheNamedFileAppliesPresetThenAssignmentsAndWritesNothing) {
  TempFolder folder;
  SlotFileBuilder file;
  file.ints = {{67, 40}, {108 + 1, 1}, {178 + 1, 60}, {173 + 1, 3}};
  file.writeTo(folder / "mine.ini");
  const std::vector<uint8_t> before = test::readBytes(folder / "mine.ini");

  RunSettingsOptions options;
  options.settingsFile = q(folder / "mine.ini");
  options.preset = 2;
  options.assignments = {QStringLiteral("Quality=150"), QStringLiteral("DepOpt=1")};
  RunSettings run;
  QString message;
  ASSERT_TRUE(prepareRunSettings(QStringLiteral("/usr/bin/velorin"), options, run, message)) << qPrintable(message);
  EXPECT_EQ(run.stored.conversion.Quality, 100);  // preset 2 gave 60, --set 150 corrected
  EXPECT_EQ(run.stored.conversion.Level, 3);
  EXPECT_EQ(run.stored.conversion.DepOpt, 1);
  EXPECT_EQ(test::readBytes(folder / "mine.ini"), before);
}

TEST(RunSettings, AssignmentsGetThePagesSwitchOffsWhateverTheirOrder) {
  TempFolder folder;
  SlotFileBuilder{}.writeTo(folder / "s.ini");
  RunSettingsOptions options;
  options.settingsFile = q(folder / "s.ini");
  options.assignments = {QStringLiteral("GamVal=0"), QStringLiteral("GamOpt=1"), QStringLiteral("CrtOpt=1"),
                         QStringLiteral("CrtVal=20"), QStringLiteral("RszOpt=3"), QStringLiteral("RszSize=0")};
  RunSettings run;
  QString message;
  ASSERT_TRUE(prepareRunSettings(QStringLiteral("/usr/bin/velorin"), options, run, message)) << qPrintable(message);
  EXPECT_FALSE(run.stored.conversion.GamOpt);  // a zero gamma does nothing: off, as the page has it
  EXPECT_TRUE(run.stored.conversion.CrtOpt);
  EXPECT_EQ(run.stored.conversion.RszOpt, 0);
}

TEST(RunSettings, JobLevelErrorsCarryTheirMessage) {
  TempFolder folder;
  SlotFileBuilder{}.writeTo(folder / "s.ini");
  RunSettingsOptions options;
  options.settingsFile = q(folder / "s.ini");
  RunSettings run;
  QString message;
  EXPECT_FALSE(prepareRunSettings(QStringLiteral("/usr/bin/convert"), options, run, message));
  EXPECT_EQ(message, QStringLiteral("Failed to execute file."));

  options.preset = 3;  // not defined in that file
  EXPECT_FALSE(prepareRunSettings(QStringLiteral("/usr/bin/velorin"), options, run, message));
  EXPECT_TRUE(message.contains(QStringLiteral("preset 3")));

  options.preset = 0;
  options.assignments = {QStringLiteral("NoSuchKey=1")};
  EXPECT_FALSE(prepareRunSettings(QStringLiteral("/usr/bin/velorin"), options, run, message));
  EXPECT_TRUE(message.contains(QStringLiteral("NoSuchKey")));

  options.assignments.clear();
  options.settingsFile = q(folder / "typo.ini");
  EXPECT_FALSE(prepareRunSettings(QStringLiteral("/usr/bin/velorin"), options, run, message));
  EXPECT_FALSE(std::filesystem::exists(folder / "typo.ini"));
}

TEST(RunSettings, TheUsualFileBesideTheProgramIsFound) {
  TempFolder folder;
  SlotFileBuilder file;
  file.ints = {{64, 9}};
  file.writeTo(folder / "Velorin.ini");
  RunSettings run;
  QString message;
  ASSERT_TRUE(prepareRunSettings(q(folder / "velorin"), {}, run, message));
  EXPECT_EQ(run.path, q(folder / "Velorin.ini"));
  EXPECT_EQ(run.stored.conversion.OFmt, 2);
}

}  // namespace
}  // namespace velorin
