// The conversion settings: which files are taken, how they are converted, how results are named.
// Fields keep the short key names of the settings file.
#pragma once

#include <QString>

#include <cstdint>
#include <span>

namespace velorin {

struct ConversionSettings {
  int32_t IFmt = 0;
  bool SelExt0 = false, SelExt1 = false, SelExt2 = false, SelExt3 = false;
  QString ExtStr0, ExtStr1, ExtStr2, ExtStr3;
  int32_t OFmt = 2;
  bool JTrans = false;
  int32_t Level = 9;
  int32_t Quality = 75;
  int32_t Sampling = 0;
  bool Limit = false;
  int32_t LmtVal = 100;
  int32_t Marker = 2;
  int32_t TurOpt = 0;
  int32_t RszOpt = 0;
  int32_t RszSize = 100;
  int32_t UsmOpt = 0;
  int32_t NameSet = 0;
  int32_t DigitNum = 2;
  int32_t StartNum = 0;
  bool TopAdd = false;
  bool EndAdd = false;
  QString TopStr;
  QString EndStr;
  bool MkDirAdd = false;
  QString MkDirStr = QStringLiteral("Output");
  bool IFileDel = false;
  bool Recycle = true;
  int32_t DepOpt = 0;
  bool Dither = false;
  bool Trans = false;
  bool Interlace = false;
  bool Progressive = false;
  bool CopyExif = false;
  bool CmtOpt = false;
  QString CmtStr1;
  bool HgmOpt = false;
  bool GamOpt = false;
  int32_t GamVal = 0;
  bool CrtOpt = false;
  int32_t CrtVal = 0;
  bool HlsSOpt = false;
  int32_t HlsSVal = 0;
  bool HlsHOpt = false;
  int32_t HlsHVal = 0;
  bool HtmlTag = false;
  bool Round10 = false;
  bool WrTimeCopy = false;
  bool CrTimeCopy = false;

  bool operator==(const ConversionSettings&) const = default;
};

enum class SettingKind { Int, Flag, String };

// One setting: its key, its slot among the current settings and where it lives in the record.
struct SettingField {
  const char* key;
  int slot;
  SettingKind kind;
  int32_t ConversionSettings::*intMember = nullptr;
  bool ConversionSettings::*flagMember = nullptr;
  QString ConversionSettings::*stringMember = nullptr;
  int presetBase = 0;  // slot of preset n is presetBase + n
  // What the settings pages allow: the value range of an int (minimum > maximum when the pages
  // set no range), the longest text of a string (0 = no limit).
  int32_t minimum = 1;
  int32_t maximum = 0;
};

// Every conversion setting in slot order (55..107).
std::span<const SettingField> conversionSettingFields();
const SettingField* findSettingField(const QString& key);  // A-Z compared without case

// Sets one setting from its text form ("85", "1", "some text"); false for an unknown key or a
// number that does not parse.
bool setSettingFromText(ConversionSettings& settings, const QString& key, const QString& value);

// Whether TopStr or EndStr may hold text: no "/" and no NUL, which would put outputs in another
// folder or cut their names.
bool nameTextAllowed(const QString& text);
// The same for MkDirStr, which may not be "." or ".." either.
bool subFolderNameAllowed(const QString& name);
// All three of a record.
bool nameTextsAllowed(const ConversionSettings& settings);

// The corrections every read applies: IFmt outside 0..6 -> 0, OFmt outside 0..5 -> 2, JTrans
// forces IFmt 3 and OFmt 2; a TopStr, EndStr or MkDirStr that is not allowed takes its default.
void applyRangeCorrections(ConversionSettings& settings);

// Brings every value into what the settings pages allow (Quality 1..100, DigitNum 1..5, TopStr
// at most 23 characters, ...), after the read corrections. For values that come from outside
// the pages, such as the command line.
void applyPageRanges(ConversionSettings& settings);

// "KEY=VALUE" from the command line: sets the one setting and corrects it as above. False for
// a missing "=", an unknown key or a number that does not parse; settings are then unchanged.
bool applySettingAssignment(ConversionSettings& settings, const QString& assignment);

// The text form of a value, as setSettingFromText takes it back.
QString settingText(const ConversionSettings& settings, const SettingField& field);

class SettingsReader;
class SettingsWriter;

// The current settings, slots 55..107, with the table defaults and the read corrections. A file
// without slot 84 gives MkDirStr "Output"; a present but empty slot gives an empty name.
ConversionSettings readConversionSettings(const SettingsReader& reader);
void writeConversionSettings(SettingsWriter& writer, const ConversionSettings& settings);

// Switched off at shutdown when the Reset option is on, before the settings are saved.
void applyResetSwitchOff(ConversionSettings& settings);

// The values the settings pages hold in their number and text fields when a job starts, a
// preset is saved or the program ends; the lists and check boxes write the settings directly.
struct PageValues {
  int32_t Level = 9;
  int32_t Quality = 75;
  int32_t LmtVal = 100;
  QString RszSizeText;  // the size field's text, read as a signed number
  int32_t DigitNum = 2;
  int32_t StartNum = 0;
  QString TopStr, EndStr, MkDirStr;
  int32_t GamVal = 0, CrtVal = 0, HlsSVal = 0, HlsHVal = 0;
};

// Which controls the window must set back after taking the values.
struct PageCorrections {
  bool resizeSwitchedOff = false;  // the resize list goes back to its first entry
  bool gammaSwitchedOff = false;   // the check boxes are cleared
  bool contrastSwitchedOff = false;
  bool saturationSwitchedOff = false;
  bool hueSwitchedOff = false;
  bool nameTextRefused = false;  // a prefix, suffix or sub-folder text kept its old value
  bool any() const {
    return resizeSwitchedOff || gammaSwitchedOff || contrastSwitchedOff || saturationSwitchedOff ||
           hueSwitchedOff || nameTextRefused;
  }
};

// Takes the field values into the settings: a resize size of 0 switches resizing off, an
// adjustment switched on at level 0 is switched off, DigitNum is held to 1..5, the name texts
// to 23 characters.
PageCorrections takeValuesFromPages(ConversionSettings& settings, const PageValues& page);

// The field values that show the given settings (the reverse of takeValuesFromPages).
PageValues pageValuesOf(const ConversionSettings& settings);

}  // namespace velorin
