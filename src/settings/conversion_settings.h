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
};

// Every conversion setting in slot order (55..107).
std::span<const SettingField> conversionSettingFields();
const SettingField* findSettingField(const QString& key);  // A-Z compared without case

// Sets one setting from its text form ("85", "1", "some text"); false for an unknown key or a
// number that does not parse.
bool setSettingFromText(ConversionSettings& settings, const QString& key, const QString& value);

// The corrections every read applies: IFmt above 6 -> 0, OFmt above 5 -> 2, JTrans forces
// IFmt 3 and OFmt 2.
void applyRangeCorrections(ConversionSettings& settings);

}  // namespace velorin
