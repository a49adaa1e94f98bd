#include <gtest/gtest.h>

#include <set>

#include "settings/conversion_settings.h"
#include "settings/presets.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"
#include "slot_file_builder.h"

namespace velorin {
namespace {

using test::q;
using test::SlotFileBuilder;
using test::TempFolder;

ConversionSettings readFrom(const SlotFileBuilder& file) {
  TempFolder folder;
  file.writeTo(folder / "s.ini");
  SettingsReader reader(q(folder / "s.ini"));
  return readConversionSettings(reader);
}

TEST(ConversionSettings, ReadingCorrectsFormatsAndTheLosslessTransform) {
  SlotFileBuilder file;
  file.ints = {{64, 9}};
  EXPECT_EQ(readFrom(file).OFmt, 2);
  file.ints = {{64, 5}, {55, 7}};
  EXPECT_EQ(readFrom(file).OFmt, 5);  // a stored 5 is accepted
  EXPECT_EQ(readFrom(file).IFmt, 0);
  file.ints = {{64, -1}, {55, -3}};  // negative values would index the format lists
  EXPECT_EQ(readFrom(file).OFmt, 2);
  EXPECT_EQ(readFrom(file).IFmt, 0);
  file.ints = {{65, 1}, {55, 0}, {64, 4}};
  const ConversionSettings s = readFrom(file);
  EXPECT_EQ(s.IFmt, 3);
  EXPECT_EQ(s.OFmt, 2);
  file.ints = {{67, 150}};  // reading itself leaves other values as stored
  EXPECT_EQ(readFrom(file).Quality, 150);
}

TEST(ConversionSettings, SubFolderNameFallsBackOnlyWhenTheSlotIsUnknown) {
  EXPECT_EQ(readConversionSettings(SettingsReader()).MkDirStr, QStringLiteral("Output"));  // no file
  SlotFileBuilder shortFile;
  shortFile.count = 84;  // ends just before slot 84
  EXPECT_EQ(readFrom(shortFile).MkDirStr, QStringLiteral("Output"));
  SlotFileBuilder emptySlot;
  EXPECT_TRUE(readFrom(emptySlot).MkDirStr.isEmpty());
  emptySlot.strings = {{84, u"Done"}};
  EXPECT_EQ(readFrom(emptySlot).MkDirStr, QStringLiteral("Done"));
}

TEST(ConversionSettings, FieldTableMatchesTheSlotLayout) {
  std::set<int> presetSlots;
  int expectedSlot = 55;
  for (const SettingField& f : conversionSettingFields()) {
    EXPECT_EQ(f.slot, expectedSlot++) << f.key;
    EXPECT_GE(f.presetBase, 118) << f.key;
    EXPECT_LE(f.presetBase, 378) << f.key;
    EXPECT_EQ((f.presetBase - 118) % 5, 0) << f.key;
    EXPECT_TRUE(presetSlots.insert(f.presetBase).second) << f.key;
  }
  EXPECT_EQ(expectedSlot, 108);
  EXPECT_EQ(findSettingField(QStringLiteral("turopt"))->presetBase, 218);
  EXPECT_EQ(findSettingField(QStringLiteral("RszOpt"))->presetBase, 203);
  EXPECT_EQ(findSettingField(QStringLiteral("RszSize"))->presetBase, 208);
  EXPECT_EQ(findSettingField(QStringLiteral("UsmOpt"))->presetBase, 213);
  EXPECT_EQ(findSettingField(QStringLiteral("CrTimeCopy"))->presetBase, 378);
  // Only A-Z fold: a long s (which full case folding makes an s) names no setting.
  EXPECT_EQ(findSettingField(QStringLiteral("USMOPT"))->presetBase, 213);
  EXPECT_EQ(findSettingField(QString::fromUtf8("U\u017FmOpt")), nullptr);
}

ConversionSettings unusualSettings() {
  ConversionSettings s;
  s.IFmt = 6;
  s.SelExt2 = true;
  s.ExtStr2 = QStringLiteral("webp");
  s.OFmt = 1;
  s.Level = 3;
  s.Quality = 55;
  s.Sampling = 2;
  s.Limit = true;
  s.LmtVal = 300;
  s.Marker = 1;
  s.TurOpt = 4;
  s.RszOpt = 3;
  s.RszSize = 777;
  s.UsmOpt = 1;
  s.NameSet = 2;
  s.DigitNum = 4;
  s.StartNum = 12;
  s.TopAdd = true;
  s.TopStr = QStringLiteral("a_");
  s.MkDirStr = QString();
  s.Recycle = false;
  s.DepOpt = 6;
  s.CmtOpt = true;
  s.CmtStr1 = QStringLiteral("line one\r\nline two");
  s.GamOpt = true;
  s.GamVal = -55;
  s.HlsHOpt = true;
  s.HlsHVal = 180;
  s.CrTimeCopy = true;
  return s;
}

TEST(Presets, SurviveWritingAndReadingWithTheirOwnSlotOrder) {
  TempFolder folder;
  const QString path = q(folder / "Velorin.ini");
  StoredSettings saved;
  saved.conversion = unusualSettings();
  saved.application.FolderList = {QStringLiteral("/a")};
  saved.application.folderFlags = QByteArray(1, '\1');
  saved.application.LangFile = QStringLiteral("Japanese.lng");
  saved.application.WinX = -1500;
  saved.application.FileBg = false;
  saved.application.secondTreeOption = false;
  for (int i = 0; i < 16; ++i) {
    saved.application.inputHistory << QStringLiteral("/in/%1").arg(i);
    saved.application.outputHistory << (i % 2 ? QString() : QStringLiteral("/out/%1").arg(i));
  }
  ASSERT_TRUE(savePreset(saved.presets, 2, QStringLiteral("Web"), QStringLiteral("/in"),
                         QStringLiteral("/out"), saved.conversion));
  ASSERT_TRUE(savePreset(saved.presets, 4, QStringLiteral("Archive"), QString(), QString(),
                         ConversionSettings{}));
  // Deleted by an empty name: undefined from now on.
  ASSERT_TRUE(savePreset(saved.presets, 4, QString(), QString(), QString(), ConversionSettings{}));
  EXPECT_FALSE(savePreset(saved.presets, 0, QString(), QString(), QString(), ConversionSettings{}));
  ASSERT_TRUE(saveSettingsFile(path, saved));

  SettingsReader reader(path);
  EXPECT_EQ(reader.intValue(218 + 2, 0), 4);  // TurOpt
  EXPECT_EQ(reader.intValue(203 + 2, 0), 3);  // RszOpt
  EXPECT_EQ(reader.intValue(208 + 2, 0), 777);
  EXPECT_EQ(reader.intValue(213 + 2, 0), 1);
  EXPECT_EQ(reader.intValue(72, 0), 4);
  EXPECT_EQ(reader.intValue(73, 0), 3);
  EXPECT_EQ(reader.intValue(108 + 4, 9), 0);
  QString text;
  reader.string(113 + 4, text);
  EXPECT_TRUE(text.isEmpty());  // an undefined preset writes only its Setup slot
  reader.string(384 + 2, text);
  EXPECT_EQ(text, QStringLiteral("/in"));

  const StoredSettings loaded = readStoredSettings(reader, QStringLiteral("/pictures"));
  EXPECT_EQ(loaded.conversion, saved.conversion);
  EXPECT_EQ(loaded.presets[2], saved.presets[2]);
  EXPECT_FALSE(loaded.presets[4].defined);
  EXPECT_EQ(presetListText(loaded.presets[4]), QStringLiteral("-"));
  EXPECT_EQ(presetListText(loaded.presets[2]), QStringLiteral("Web"));
  EXPECT_EQ(loaded.application, saved.application);
}

TEST(Presets, DefinedPresetsReadMissingStringsAsEmpty) {
  SlotFileBuilder file;
  file.ints = {{108 + 1, 1}, {178 + 1, 60}, {163 + 1, 12}};
  TempFolder folder;
  file.writeTo(folder / "s.ini");
  SettingsReader reader(q(folder / "s.ini"));
  const Presets presets = readPresets(reader);
  ASSERT_TRUE(presets[1].defined);
  EXPECT_EQ(presets[1].settings.Quality, 60);
  EXPECT_EQ(presets[1].settings.OFmt, 2);
  EXPECT_TRUE(presets[1].settings.MkDirStr.isEmpty());
  EXPECT_EQ(presets[1].settings.Level, 9);
  EXPECT_FALSE(presets[0].defined);
}

TEST(Presets, ApplyAndMarkFirst) {
  Presets presets;
  ConversionSettings current;
  EXPECT_FALSE(applyPreset(presets, 0, current));
  EXPECT_FALSE(applyPreset(presets, 5, current));
  EXPECT_EQ(presetToMarkFirst(presets), 0);
  savePreset(presets, 0, QString(25, QLatin1Char('n')), QString(), QStringLiteral("/o"), unusualSettings());
  EXPECT_EQ(presets[0].name.size(), 24);
  EXPECT_EQ(presetToMarkFirst(presets), 1);
  PresetLocations locations;
  ASSERT_TRUE(applyPreset(presets, 0, current, &locations));
  EXPECT_EQ(current, unusualSettings());
  EXPECT_TRUE(locations.inputPath.isEmpty());
  EXPECT_EQ(locations.outputFolder, QStringLiteral("/o"));
  for (int n = 1; n < kPresetCount; ++n) savePreset(presets, n, QStringLiteral("p"), {}, {}, current);
  EXPECT_EQ(presetToMarkFirst(presets), 0);

  StoredSettings stored;
  stored.presets = presets;
  QString message;
  EXPECT_TRUE(applyPresetForRun(stored, 1, &message));
  EXPECT_EQ(stored.conversion, unusualSettings());
  EXPECT_FALSE(applyPresetForRun(stored, 6, &message));
  EXPECT_FALSE(message.isEmpty());
  stored.presets[2].defined = false;
  EXPECT_FALSE(applyPresetForRun(stored, 3, &message));
}

TEST(PageValues, TakingValuesSwitchesOffWhatWouldDoNothing) {
  ConversionSettings s;
  s.RszOpt = 1;
  s.GamOpt = true;
  s.CrtOpt = true;
  s.HlsSOpt = true;
  PageValues page;
  page.RszSizeText = QString();  // an empty size field
  page.GamVal = 0;
  page.CrtVal = 5;
  page.HlsSVal = 0;
  page.DigitNum = 9;
  page.TopStr = QString(30, QLatin1Char('t'));
  page.Quality = 150;
  const PageCorrections c = takeValuesFromPages(s, page);
  EXPECT_TRUE(c.resizeSwitchedOff);
  EXPECT_EQ(s.RszOpt, 0);
  EXPECT_TRUE(c.gammaSwitchedOff);
  EXPECT_FALSE(s.GamOpt);
  EXPECT_FALSE(c.contrastSwitchedOff);
  EXPECT_TRUE(s.CrtOpt);
  EXPECT_TRUE(c.saturationSwitchedOff);
  EXPECT_FALSE(c.hueSwitchedOff);  // it was off already
  EXPECT_EQ(s.DigitNum, 5);
  EXPECT_EQ(s.TopStr.size(), 23);
  EXPECT_EQ(s.Quality, 100);

  page.DigitNum = 0;
  page.RszSizeText = QStringLiteral(" -40 ");
  s.RszOpt = 2;
  EXPECT_FALSE(takeValuesFromPages(s, page).resizeSwitchedOff);
  EXPECT_EQ(s.RszSize, -40);
  EXPECT_EQ(s.DigitNum, 1);

  // The window shows what it takes back unchanged.
  const ConversionSettings shown = unusualSettings();
  ConversionSettings taken = shown;
  EXPECT_FALSE(takeValuesFromPages(taken, pageValuesOf(shown)).any());
  EXPECT_EQ(taken, shown);
}

TEST(ConversionSettings, ResetSwitchesOffTheListAndKeepsTheRest) {
  ConversionSettings s = unusualSettings();
  s.Dither = true;
  s.HgmOpt = s.Trans = s.Interlace = s.Progressive = s.CopyExif = s.CrtOpt = s.HlsSOpt = true;
  applyResetSwitchOff(s);
  EXPECT_EQ(s.RszOpt, 0);
  EXPECT_EQ(s.UsmOpt, 0);
  EXPECT_EQ(s.TurOpt, 0);
  EXPECT_EQ(s.DepOpt, 0);
  EXPECT_FALSE(s.Trans || s.Interlace || s.Progressive || s.CopyExif || s.CmtOpt || s.HgmOpt ||
               s.GamOpt || s.CrtOpt || s.HlsSOpt || s.HlsHOpt);
  EXPECT_TRUE(s.Dither);
  EXPECT_EQ(s.GamVal, -55);
  EXPECT_EQ(s.RszSize, 777);
  EXPECT_EQ(s.CmtStr1, unusualSettings().CmtStr1);
}

TEST(ConversionSettings, CommandLineAssignmentsAreCorrected) {
  ConversionSettings s;
  EXPECT_TRUE(applySettingAssignment(s, QStringLiteral("Quality=150")));
  EXPECT_EQ(s.Quality, 100);
  EXPECT_TRUE(applySettingAssignment(s, QStringLiteral("quality=0")));
  EXPECT_EQ(s.Quality, 1);
  EXPECT_TRUE(applySettingAssignment(s, QStringLiteral("OFmt=9")));
  EXPECT_EQ(s.OFmt, 2);
  EXPECT_TRUE(applySettingAssignment(s, QStringLiteral("HlsHVal=-999")));
  EXPECT_EQ(s.HlsHVal, -180);
  EXPECT_TRUE(applySettingAssignment(s, QStringLiteral("TopStr=") + QString(40, QLatin1Char('x'))));
  EXPECT_EQ(s.TopStr.size(), 23);
  EXPECT_TRUE(applySettingAssignment(s, QStringLiteral("CmtStr1=a=b")));
  EXPECT_EQ(s.CmtStr1, QStringLiteral("a=b"));
  EXPECT_TRUE(applySettingAssignment(s, QStringLiteral("JTrans=1")));
  EXPECT_EQ(s.IFmt, 3);
  EXPECT_EQ(s.OFmt, 2);

  const ConversionSettings before = s;
  EXPECT_FALSE(applySettingAssignment(s, QStringLiteral("Quality=high")));
  EXPECT_FALSE(applySettingAssignment(s, QStringLiteral("Bogus=1")));
  EXPECT_FALSE(applySettingAssignment(s, QStringLiteral("Quality")));
  EXPECT_FALSE(applySettingAssignment(s, QStringLiteral("=5")));
  EXPECT_EQ(s, before);
}

TEST(SettingsListing, ShowsEveryKeyInSlotOrderWithReadCorrections) {
  TempFolder folder;
  SlotFileBuilder file;
  file.ints = {{64, 9}};
  file.strings = {{94, u"two\nlines\\"}};
  file.writeTo(folder / "a.ini");
  QStringList lines = settingsListing(readSettingsFileOnly(q(folder / "a.ini"), QString()));
  EXPECT_TRUE(lines.contains(QStringLiteral("OFmt=2")));
  EXPECT_TRUE(lines.contains(QStringLiteral("CmtStr1=two\\nlines\\\\")));
  ASSERT_EQ(lines.size(), 22 + 32 + 53);
  EXPECT_EQ(lines.front(), QStringLiteral("LangFile="));
  EXPECT_EQ(lines[22], QStringLiteral("IH0="));
  EXPECT_EQ(lines[22 + 32], QStringLiteral("IFmt=0"));
  EXPECT_EQ(lines.back(), QStringLiteral("CrTimeCopy=0"));

  file.ints = {{65, 1}, {55, 0}, {64, 4}};
  file.writeTo(folder / "b.ini");
  lines = settingsListing(readSettingsFileOnly(q(folder / "b.ini"), QString()));
  EXPECT_TRUE(lines.contains(QStringLiteral("IFmt=3")));
  EXPECT_TRUE(lines.contains(QStringLiteral("OFmt=2")));
  EXPECT_TRUE(lines.contains(QStringLiteral("JTrans=1")));
}

}  // namespace
}  // namespace velorin
