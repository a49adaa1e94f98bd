#include <gtest/gtest.h>

#include "settings/application_settings.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"
#include "slot_file_builder.h"

namespace velorin {
namespace {

using test::q;
using test::SlotFileBuilder;
using test::TempFolder;

ApplicationSettings readFrom(const SlotFileBuilder& file, const QString& pictures = QStringLiteral("/pics")) {
  TempFolder folder;
  file.writeTo(folder / "s.ini");
  SettingsReader reader(q(folder / "s.ini"));
  return readApplicationSettings(reader, pictures);
}

TEST(ApplicationSettings, WithoutAFileTheFolderListIsThePicturesFolder) {
  const ApplicationSettings s = readApplicationSettings(SettingsReader(), QStringLiteral("/pics"));
  EXPECT_EQ(s.FolderList, QStringList{QStringLiteral("/pics")});
  EXPECT_EQ(s.folderFlags, QByteArray(1, '\0'));
  EXPECT_EQ(s.WinX, 200);
  EXPECT_TRUE(s.FileBg);
  EXPECT_TRUE(s.secondTreeOption);
  EXPECT_EQ(s.inputHistory.size(), 16);
  // A present but empty slot is an empty list, not the fallback.
  EXPECT_TRUE(readFrom(SlotFileBuilder{}).FolderList.isEmpty());
}

TEST(ApplicationSettings, FontValuesOutsideTheirChoicesReadAsTheFirst) {
  SlotFileBuilder file;
  file.ints = {{12, -13}, {13, 700}};
  ApplicationSettings s = readFrom(file);
  EXPECT_EQ(s.FHeight, -12);
  EXPECT_EQ(s.FWeight, 700);
  file.ints = {{12, -14}, {13, 500}};
  s = readFrom(file);
  EXPECT_EQ(s.FHeight, -14);
  EXPECT_EQ(s.FWeight, 400);
}

TEST(ApplicationSettings, ShorterHistoriesLeaveTheRestOfTheSlotsAlone) {
  TempFolder folder;
  SlotFileBuilder file;
  file.strings = {{22 + 5, u"/old/input"}, {38 + 15, u"/old/output"}};
  file.writeTo(folder / "Velorin.ini");
  StoredSettings s;
  s.application.inputHistory = {QStringLiteral("/new")};
  s.application.FolderList = {QStringLiteral("/a"), QStringLiteral("/b"), QStringLiteral("/c")};
  s.application.folderFlags = QByteArray(1, '\1');  // fewer flags than folders
  s.application.pluginFiles = {QStringLiteral("ifwebp.spi")};
  ASSERT_TRUE(saveSettingsFile(q(folder / "Velorin.ini"), s));

  SettingsReader reader(q(folder / "Velorin.ini"));
  const ApplicationSettings loaded = readApplicationSettings(reader, QString());
  EXPECT_EQ(loaded.inputHistory[0], QStringLiteral("/new"));
  EXPECT_EQ(loaded.inputHistory[5], QStringLiteral("/old/input"));
  EXPECT_EQ(loaded.outputHistory[15], QStringLiteral("/old/output"));
  EXPECT_EQ(loaded.folderFlags, QByteArray("\1\0\0", 3));
  EXPECT_EQ(loaded.pluginFiles, s.application.pluginFiles);
}

}  // namespace
}  // namespace velorin
