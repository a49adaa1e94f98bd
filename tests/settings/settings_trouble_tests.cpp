// A settings file that is there but cannot be used is said once, by name, and gives the defaults;
// a missing one is a first run and says nothing.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "settings/settings_store.h"
#include "slot_file_builder.h"

namespace velorin {
namespace {

using test::q;

constexpr int kWinXSlot = 1;
constexpr int kStartInputSlot = 16;  // ISPath

TEST(SettingsTrouble, EachKindIsNamedOnceAndGivesTheDefaults) {
  test::TempFolder folder;
  const StoredSettings defaults = readSettingsFileOnly(q(folder / "missing.ini"), QStringLiteral("/pictures"));
  EXPECT_FALSE(settingsFileTrouble(q(folder / "missing.ini")));
  EXPECT_FALSE(settingsFileTrouble(QString()));

  test::SlotFileBuilder noSlots;
  noSlots.count = 0;
  test::SlotFileBuilder cutDirectory;
  cutDirectory.ints[kWinXSlot] = 300;
  std::vector<uint8_t> cut = cutDirectory.build();
  cut.resize(100);
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* what;
    const char* reason;
  } cases[] = {
      {"empty.ini", {}, "is damaged", "it is empty"},
      {"short.ini", {0x8C, 0x01}, "is damaged", "it is too short"},
      {"cut.ini", cut, "is damaged", "its slot directory is cut short"},
      {"noslots.ini", noSlots.build(), "is damaged", "it holds no settings"},
      // A non-zero fourth byte marks the old text format, but this holds none of its sections.
      {"binary.ini", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0x0D}, "is not a settings file",
       "it holds neither slots nor any of the program's sections"},
  };
  for (const auto& c : cases) {
    const QString path = q(folder / c.name);
    test::writeBytes(folder / c.name, c.bytes);
    const SettingsTrouble trouble = settingsFileTrouble(path);
    ASSERT_TRUE(trouble) << c.name;
    EXPECT_STREQ(trouble.what, c.what) << c.name;
    EXPECT_EQ(trouble.reason, QLatin1String(c.reason)) << c.name;
    EXPECT_TRUE(trouble.wholeFile) << c.name;
    EXPECT_EQ(readSettingsFileOnly(path, QStringLiteral("/pictures")), defaults) << c.name;
  }
  EXPECT_EQ(settingsTroubleText(q(folder / "empty.ini"), settingsFileTrouble(q(folder / "empty.ini"))),
            q(folder / "empty.ini") + ": settings file is damaged (it is empty), using the defaults");

  // Something other than a file in its place is never opened: a pipe would block the start.
  std::filesystem::create_directories(folder / "folder.ini");
  ASSERT_EQ(mkfifo((folder / "pipe.ini").c_str(), 0600), 0);
  for (const char* name : {"folder.ini", "pipe.ini"}) {
    const QString path = q(folder / name);
    const SettingsTrouble trouble = settingsFileTrouble(path);
    ASSERT_TRUE(trouble) << name;
    EXPECT_STREQ(trouble.what, "is not a file");
    EXPECT_EQ(readSettingsFileOnly(path, QStringLiteral("/pictures")), defaults) << name;
    EXPECT_EQ(loadSettingsFile(path, QStringLiteral("/pictures")).settings, defaults) << name;
  }
  EXPECT_EQ(settingsFileTrouble(q(folder / "folder.ini")).reason, QStringLiteral("a folder is in its place"));

  // Permissions do not stop the superuser, who cannot see this kind.
  test::writeBytes(folder / "locked.ini", test::SlotFileBuilder{}.build());
  chmod((folder / "locked.ini").c_str(), 0);
  if (geteuid() != 0) {
    const SettingsTrouble trouble = settingsFileTrouble(q(folder / "locked.ini"));
    ASSERT_TRUE(trouble);
    EXPECT_STREQ(trouble.what, "cannot be read");
    EXPECT_FALSE(trouble.reason.isEmpty());
  }
}

TEST(SettingsTrouble, AFileCutInItsDataKeepsWhatItStillHolds) {
  test::TempFolder folder;
  test::SlotFileBuilder builder;
  builder.ints[kWinXSlot] = 300;
  builder.strings[kStartInputSlot] = u"/photos/start";
  std::vector<uint8_t> bytes = builder.build();
  bytes.resize(bytes.size() - 4);
  test::writeBytes(folder / "Velorin.ini", bytes);
  const QString path = q(folder / "Velorin.ini");
  const SettingsTrouble trouble = settingsFileTrouble(path);
  ASSERT_TRUE(trouble);
  EXPECT_FALSE(trouble.wholeFile);
  EXPECT_EQ(settingsTroubleText(path, trouble),
            path + ": settings file is damaged (some of its settings lie outside it), using the defaults for those");
  const StoredSettings read = readSettingsFileOnly(path, QString());
  EXPECT_EQ(read.application.WinX, 300);
  EXPECT_EQ(read.application.ISPath, QString());

  // Whole files, written or old text, are no trouble.
  ASSERT_TRUE(saveSettingsFile(path, read));
  EXPECT_FALSE(settingsFileTrouble(path));
  test::writeBytes(folder / "old.ini", {'[', 'M', 'W', 'i', 'n', ']', '\n', 'W', 'i', 'n', 'X', '=', '1', '\n'});
  EXPECT_FALSE(settingsFileTrouble(q(folder / "old.ini")));
}

}  // namespace
}  // namespace velorin
