#include <gtest/gtest.h>

#include "settings/old_text_format.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"
#include "slot_file_builder.h"

namespace velorin {
namespace {

using test::q;
using test::TempFolder;

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> utf16WithBom(const std::u16string& text) {
  std::vector<uint8_t> out{0xFF, 0xFE};
  for (char16_t c : text) {
    out.push_back(uint8_t(c));
    out.push_back(uint8_t(c >> 8));
  }
  return out;
}

TEST(ProfileReader, FollowsTheProfileFunctionRules) {
  ProfileReader profile;
  profile.parse(QByteArray(
      "stray=1\r\n"
      "[mwin]\r\n"
      "  winx = 300 \r\n"
      "WinX=5\r\n"
      "; a comment\r\n"
      "Name=\"quoted value\"\r\n"
      "Half=\"open\r\n"
      "hex=0x1F\r\n"
      "neg=-12abc\r\n"
      "word=abc\r\n"
      "empty=\r\n"
      "[MWIN]\r\n"
      "TipAct=0\r\n"
      "[ CvtPrms ]\n"
      "Quality=85\n"));
  EXPECT_EQ(profile.intValue(QStringLiteral("MWin"), QStringLiteral("WINX"), 0), 300);  // first key counts
  EXPECT_EQ(profile.string(QStringLiteral("MWin"), QStringLiteral("name")), QStringLiteral("quoted value"));
  EXPECT_EQ(profile.string(QStringLiteral("MWin"), QStringLiteral("Half")), QStringLiteral("\"open"));
  EXPECT_EQ(profile.intValue(QStringLiteral("MWin"), QStringLiteral("hex"), 0), 31);
  EXPECT_EQ(profile.intValue(QStringLiteral("MWin"), QStringLiteral("neg"), 0), -12);
  EXPECT_EQ(profile.intValue(QStringLiteral("MWin"), QStringLiteral("word"), 7), 0);
  EXPECT_EQ(profile.intValue(QStringLiteral("MWin"), QStringLiteral("empty"), 7), 7);
  EXPECT_TRUE(profile.has(QStringLiteral("MWin"), QStringLiteral("empty")));
  // Only the first section of a name is searched; keys before any section belong to none.
  EXPECT_EQ(profile.intValue(QStringLiteral("MWin"), QStringLiteral("TipAct"), 1), 1);
  EXPECT_FALSE(profile.has(QString(), QStringLiteral("stray")));
  EXPECT_EQ(profile.intValue(QStringLiteral("cvtprms"), QStringLiteral("Quality"), 0), 85);
}

TEST(ProfileReader, ReadsUtf16WithByteOrderMark) {
  ProfileReader profile;
  const std::vector<uint8_t> bytes = utf16WithBom(u"[CvtPrms]\r\nTopStr=\u65e5\u672c\r\nQuality=90\r\n");
  profile.parse(QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
  EXPECT_EQ(profile.string(QStringLiteral("CvtPrms"), QStringLiteral("TopStr")), QString::fromUtf16(u"\u65e5\u672c"));
  EXPECT_EQ(profile.intValue(QStringLiteral("CvtPrms"), QStringLiteral("Quality"), 0), 90);
}

const char kOldFile[] =
    "[MWin]\r\n"
    "LangFile=English.lng\r\n"
    "WinX=321\r\n"
    "FHeight=-13\r\n"
    "FileBg=0\r\n"
    "SPI=/opt/plugins\r\n"
    "IH0=/pictures/a\r\n"
    "IH2=/pictures/c\r\n"
    "OH15=/out\r\n"
    "[FolderList]\r\n"
    "0=/pictures\r\n"
    "1=/photos\r\n"
    "3=/after/the/gap\r\n"
    "[CvtPrms]\r\n"
    "Quality=85\r\n"
    "OFmt=9\r\n"
    "TopStr=pre_\r\n"
    "GamVal=-40\r\n"
    "Recycle=0\r\n"
    "[CvtSet2]\r\n"
    "Setup=1\r\n"
    "Name=Web\r\n"
    "RszOpt=2\r\n"
    "RszSize=640\r\n"
    "TurOpt=3\r\n"
    "UsmOpt=1\r\n"
    "[CvtSet4]\r\n"
    "Setup=0\r\n"
    "Name=Gone\r\n";

TEST(OldTextFormat, IsConvertedOnceWithItsBackupKept) {
  TempFolder folder;
  test::writeBytes(folder / "Velorin.ini", bytesOf(kOldFile));
  const QString path = q(folder / "Velorin.ini");
  ASSERT_TRUE(isOldTextFormat(path));

  const SettingsLoad load = loadSettingsFile(path, QStringLiteral("/home/pictures"));
  EXPECT_TRUE(load.converted);
  EXPECT_FALSE(load.conversionFailed);
  EXPECT_EQ(test::readBytes(folder / "Velorin.txt"), bytesOf(kOldFile));
  const std::vector<uint8_t> converted = test::readBytes(folder / "Velorin.ini");
  ASSERT_GE(converted.size(), 3172u);
  EXPECT_EQ((std::vector<uint8_t>(converted.begin(), converted.begin() + 4)),
            (std::vector<uint8_t>{0x8C, 0x01, 0x01, 0x00}));
  EXPECT_FALSE(isOldTextFormat(path));

  // Every key in its slot.
  SettingsReader reader(path);
  ASSERT_TRUE(reader.valid());
  QString text;
  reader.string(0, text);
  EXPECT_EQ(text, QStringLiteral("English.lng"));
  EXPECT_EQ(reader.intValue(1, 0), 321);
  EXPECT_EQ(reader.intValue(2, 0), 100);  // missing: the conversion default
  EXPECT_EQ(reader.intValue(11, 1), 0);
  reader.string(21, text);
  EXPECT_EQ(text, QStringLiteral("/opt/plugins"));
  reader.string(22, text);
  EXPECT_EQ(text, QStringLiteral("/pictures/a"));
  EXPECT_EQ(reader.string(23, text), SlotText::Known);
  EXPECT_TRUE(text.isEmpty());
  reader.string(24, text);
  EXPECT_EQ(text, QStringLiteral("/pictures/c"));
  reader.string(53, text);
  EXPECT_EQ(text, QStringLiteral("/out"));
  QStringList folders;
  reader.stringList(54, folders);
  EXPECT_EQ(folders, (QStringList{QStringLiteral("/pictures"), QStringLiteral("/photos")}));  // up to the first gap
  EXPECT_EQ(reader.intValue(67, 0), 85);
  EXPECT_EQ(reader.intValue(97, 0), -40);
  EXPECT_EQ(reader.intValue(66, 0), 9);
  reader.string(81, text);
  EXPECT_EQ(text, QStringLiteral("pre_"));
  EXPECT_EQ(reader.string(84, text), SlotText::Known);  // a missing MkDirStr converts as empty
  EXPECT_TRUE(text.isEmpty());
  EXPECT_EQ(reader.intValue(108 + 1, 0), 1);
  reader.string(113 + 1, text);
  EXPECT_EQ(text, QStringLiteral("Web"));
  EXPECT_EQ(reader.intValue(203 + 1, 0), 2);
  EXPECT_EQ(reader.intValue(208 + 1, 0), 640);
  EXPECT_EQ(reader.intValue(213 + 1, 0), 1);
  EXPECT_EQ(reader.intValue(218 + 1, 0), 3);
  EXPECT_EQ(reader.intValue(108 + 3, 1), 0);
  reader.string(113 + 3, text);  // an undefined preset's keys are carried over too
  EXPECT_EQ(text, QStringLiteral("Gone"));

  const StoredSettings& s = load.settings;
  EXPECT_EQ(s.application.FHeight, -12);
  EXPECT_FALSE(s.application.FileBg);
  EXPECT_EQ(s.conversion.OFmt, 2);
  EXPECT_FALSE(s.conversion.Recycle);
  EXPECT_TRUE(s.conversion.MkDirStr.isEmpty());
  EXPECT_TRUE(s.presets[1].defined);
  EXPECT_EQ(s.presets[1].settings.TurOpt, 3);
  EXPECT_FALSE(s.presets[3].defined);
  EXPECT_TRUE(s.presets[3].name.isEmpty());

  // The second start reads the slot file and converts nothing.
  const SettingsLoad again = loadSettingsFile(path, QStringLiteral("/home/pictures"));
  EXPECT_FALSE(again.converted);
  EXPECT_EQ(again.settings, load.settings);
}

TEST(ProfileReader, CutsValuesAtTheClassicBufferLength) {
  ProfileReader profile;
  profile.parse(QByteArray("[CvtPrms]\r\nTopStr=\"") + QByteArray(300, 'x') + "\"\r\nEndStr=" +
                QByteArray(259, 'y') + "\r\n");
  EXPECT_EQ(profile.string(QStringLiteral("CvtPrms"), QStringLiteral("TopStr")), QString(259, QLatin1Char('x')));
  EXPECT_EQ(profile.string(QStringLiteral("CvtPrms"), QStringLiteral("EndStr")), QString(259, QLatin1Char('y')));
}

TEST(OldTextFormat, Utf16FileHasZeroAsFourthByteAndIsReadAsSlotFile) {
  TempFolder folder;
  const std::vector<uint8_t> bytes = utf16WithBom(u"[MWin]\r\nWinX=321\r\n");
  test::writeBytes(folder / "Velorin.ini", bytes);
  const QString path = q(folder / "Velorin.ini");
  EXPECT_FALSE(isOldTextFormat(path));
  const SettingsLoad load = loadSettingsFile(path, QStringLiteral("/home/pictures"));
  EXPECT_FALSE(load.converted);
  EXPECT_EQ(load.settings.application.WinX, 200);
  EXPECT_EQ(load.settings.application.FolderList, QStringList{QStringLiteral("/home/pictures")});
  EXPECT_EQ(test::readBytes(folder / "Velorin.ini"), bytes);
  EXPECT_FALSE(std::filesystem::exists(folder / "Velorin.txt"));
}

TEST(OldTextFormat, WithoutItsBackupTheTextFileIsReadInPlaceAndKept) {
  TempFolder folder;
  test::writeBytes(folder / "Velorin.ini", bytesOf(kOldFile));
  std::filesystem::create_directory(folder / "Velorin.txt");  // the backup cannot be written
  const SettingsLoad load = loadSettingsFile(q(folder / "Velorin.ini"), QString());
  EXPECT_FALSE(load.converted);
  EXPECT_TRUE(load.conversionFailed);
  EXPECT_EQ(load.settings.conversion.Quality, 85);
  EXPECT_EQ(test::readBytes(folder / "Velorin.ini"), bytesOf(kOldFile));
}

TEST(OldTextFormat, SavingOverATextFileKeepsItsCopyFirst) {
  TempFolder folder;
  const std::vector<uint8_t> utf16 = utf16WithBom(u"[MWin]\r\nWinX=321\r\n");
  for (const std::vector<uint8_t>& old : {bytesOf(kOldFile), utf16}) {
    test::writeBytes(folder / "Velorin.ini", old);
    std::filesystem::remove(folder / "Velorin.txt");
    StoredSettings s;
    s.application.WinX = 5;
    ASSERT_TRUE(saveSettingsFile(q(folder / "Velorin.ini"), s));
    EXPECT_EQ(test::readBytes(folder / "Velorin.txt"), old);
    SettingsReader reader(q(folder / "Velorin.ini"));
    EXPECT_EQ(reader.intValue(1, 0), 5);
    EXPECT_EQ(reader.intValue(300, -1), -1);  // nothing of the text taken as slots
  }
  // Without the copy the text file is not replaced.
  test::writeBytes(folder / "Velorin.ini", bytesOf(kOldFile));
  std::filesystem::remove(folder / "Velorin.txt");
  std::filesystem::create_directory(folder / "Velorin.txt");
  EXPECT_FALSE(saveSettingsFile(q(folder / "Velorin.ini"), StoredSettings{}));
  EXPECT_EQ(test::readBytes(folder / "Velorin.ini"), bytesOf(kOldFile));
}

TEST(OldTextFormat, HeadlessReadingNeverConverts) {
  TempFolder folder;
  test::writeBytes(folder / "Velorin.ini", bytesOf(kOldFile));
  const StoredSettings s = readSettingsFileOnly(q(folder / "Velorin.ini"), QString());
  EXPECT_EQ(s.conversion.Quality, 85);
  EXPECT_EQ(s.presets[1].name, QStringLiteral("Web"));
  EXPECT_EQ(test::readBytes(folder / "Velorin.ini"), bytesOf(kOldFile));
  EXPECT_FALSE(std::filesystem::exists(folder / "Velorin.txt"));
}

}  // namespace
}  // namespace velorin
