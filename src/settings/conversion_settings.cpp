#include "settings/conversion_settings.h"

namespace velorin {

namespace {
const SettingField kFields[] = {
    {"IFmt", 55, SettingKind::Int, &ConversionSettings::IFmt, nullptr, nullptr},
    {"SelExt0", 56, SettingKind::Flag, nullptr, &ConversionSettings::SelExt0, nullptr},
    {"SelExt1", 57, SettingKind::Flag, nullptr, &ConversionSettings::SelExt1, nullptr},
    {"SelExt2", 58, SettingKind::Flag, nullptr, &ConversionSettings::SelExt2, nullptr},
    {"SelExt3", 59, SettingKind::Flag, nullptr, &ConversionSettings::SelExt3, nullptr},
    {"ExtStr0", 60, SettingKind::String, nullptr, nullptr, &ConversionSettings::ExtStr0},
    {"ExtStr1", 61, SettingKind::String, nullptr, nullptr, &ConversionSettings::ExtStr1},
    {"ExtStr2", 62, SettingKind::String, nullptr, nullptr, &ConversionSettings::ExtStr2},
    {"ExtStr3", 63, SettingKind::String, nullptr, nullptr, &ConversionSettings::ExtStr3},
    {"OFmt", 64, SettingKind::Int, &ConversionSettings::OFmt, nullptr, nullptr},
    {"JTrans", 65, SettingKind::Flag, nullptr, &ConversionSettings::JTrans, nullptr},
    {"Level", 66, SettingKind::Int, &ConversionSettings::Level, nullptr, nullptr},
    {"Quality", 67, SettingKind::Int, &ConversionSettings::Quality, nullptr, nullptr},
    {"Sampling", 68, SettingKind::Int, &ConversionSettings::Sampling, nullptr, nullptr},
    {"Limit", 69, SettingKind::Flag, nullptr, &ConversionSettings::Limit, nullptr},
    {"LmtVal", 70, SettingKind::Int, &ConversionSettings::LmtVal, nullptr, nullptr},
    {"Marker", 71, SettingKind::Int, &ConversionSettings::Marker, nullptr, nullptr},
    {"TurOpt", 72, SettingKind::Int, &ConversionSettings::TurOpt, nullptr, nullptr},
    {"RszOpt", 73, SettingKind::Int, &ConversionSettings::RszOpt, nullptr, nullptr},
    {"RszSize", 74, SettingKind::Int, &ConversionSettings::RszSize, nullptr, nullptr},
    {"UsmOpt", 75, SettingKind::Int, &ConversionSettings::UsmOpt, nullptr, nullptr},
    {"NameSet", 76, SettingKind::Int, &ConversionSettings::NameSet, nullptr, nullptr},
    {"DigitNum", 77, SettingKind::Int, &ConversionSettings::DigitNum, nullptr, nullptr},
    {"StartNum", 78, SettingKind::Int, &ConversionSettings::StartNum, nullptr, nullptr},
    {"TopAdd", 79, SettingKind::Flag, nullptr, &ConversionSettings::TopAdd, nullptr},
    {"EndAdd", 80, SettingKind::Flag, nullptr, &ConversionSettings::EndAdd, nullptr},
    {"TopStr", 81, SettingKind::String, nullptr, nullptr, &ConversionSettings::TopStr},
    {"EndStr", 82, SettingKind::String, nullptr, nullptr, &ConversionSettings::EndStr},
    {"MkDirAdd", 83, SettingKind::Flag, nullptr, &ConversionSettings::MkDirAdd, nullptr},
    {"MkDirStr", 84, SettingKind::String, nullptr, nullptr, &ConversionSettings::MkDirStr},
    {"IFileDel", 85, SettingKind::Flag, nullptr, &ConversionSettings::IFileDel, nullptr},
    {"Recycle", 86, SettingKind::Flag, nullptr, &ConversionSettings::Recycle, nullptr},
    {"DepOpt", 87, SettingKind::Int, &ConversionSettings::DepOpt, nullptr, nullptr},
    {"Dither", 88, SettingKind::Flag, nullptr, &ConversionSettings::Dither, nullptr},
    {"Trans", 89, SettingKind::Flag, nullptr, &ConversionSettings::Trans, nullptr},
    {"Interlace", 90, SettingKind::Flag, nullptr, &ConversionSettings::Interlace, nullptr},
    {"Progressive", 91, SettingKind::Flag, nullptr, &ConversionSettings::Progressive, nullptr},
    {"CopyExif", 92, SettingKind::Flag, nullptr, &ConversionSettings::CopyExif, nullptr},
    {"CmtOpt", 93, SettingKind::Flag, nullptr, &ConversionSettings::CmtOpt, nullptr},
    {"CmtStr1", 94, SettingKind::String, nullptr, nullptr, &ConversionSettings::CmtStr1},
    {"HgmOpt", 95, SettingKind::Flag, nullptr, &ConversionSettings::HgmOpt, nullptr},
    {"GamOpt", 96, SettingKind::Flag, nullptr, &ConversionSettings::GamOpt, nullptr},
    {"GamVal", 97, SettingKind::Int, &ConversionSettings::GamVal, nullptr, nullptr},
    {"CrtOpt", 98, SettingKind::Flag, nullptr, &ConversionSettings::CrtOpt, nullptr},
    {"CrtVal", 99, SettingKind::Int, &ConversionSettings::CrtVal, nullptr, nullptr},
    {"HlsSOpt", 100, SettingKind::Flag, nullptr, &ConversionSettings::HlsSOpt, nullptr},
    {"HlsSVal", 101, SettingKind::Int, &ConversionSettings::HlsSVal, nullptr, nullptr},
    {"HlsHOpt", 102, SettingKind::Flag, nullptr, &ConversionSettings::HlsHOpt, nullptr},
    {"HlsHVal", 103, SettingKind::Int, &ConversionSettings::HlsHVal, nullptr, nullptr},
    {"HtmlTag", 104, SettingKind::Flag, nullptr, &ConversionSettings::HtmlTag, nullptr},
    {"Round10", 105, SettingKind::Flag, nullptr, &ConversionSettings::Round10, nullptr},
    {"WrTimeCopy", 106, SettingKind::Flag, nullptr, &ConversionSettings::WrTimeCopy, nullptr},
    {"CrTimeCopy", 107, SettingKind::Flag, nullptr, &ConversionSettings::CrTimeCopy, nullptr},
};
}  // namespace

std::span<const SettingField> conversionSettingFields() { return kFields; }

const SettingField* findSettingField(const QString& key) {
  for (const SettingField& field : kFields)
    if (key.compare(QLatin1String(field.key), Qt::CaseInsensitive) == 0) return &field;
  return nullptr;
}

bool setSettingFromText(ConversionSettings& settings, const QString& key, const QString& value) {
  const SettingField* field = findSettingField(key);
  if (!field) return false;
  if (field->kind == SettingKind::String) {
    settings.*(field->stringMember) = value;
    return true;
  }
  bool ok = false;
  const int number = value.trimmed().toInt(&ok);
  if (!ok) return false;
  if (field->kind == SettingKind::Int) settings.*(field->intMember) = number;
  else settings.*(field->flagMember) = number != 0;
  return true;
}

void applyRangeCorrections(ConversionSettings& s) {
  if (s.IFmt > 6) s.IFmt = 0;
  if (s.OFmt > 5) s.OFmt = 2;
  if (s.JTrans) {
    s.IFmt = 3;
    s.OFmt = 2;
  }
}

}  // namespace velorin
