#include "settings/conversion_settings.h"

#include <algorithm>

#include "platform/ascii_case.h"
#include "settings/settings_file.h"

namespace velorin {

namespace {
using CS = ConversionSettings;

constexpr int32_t kNoRange = 0;  // minimum 1 > maximum 0: the pages set no range

constexpr SettingField intField(const char* key, int slot, int32_t CS::*m, int presetBase,
                                int32_t minimum = 1, int32_t maximum = kNoRange) {
  return {key, slot, SettingKind::Int, m, nullptr, nullptr, presetBase, minimum, maximum};
}
constexpr SettingField flagField(const char* key, int slot, bool CS::*m, int presetBase) {
  return {key, slot, SettingKind::Flag, nullptr, m, nullptr, presetBase, 0, 1};
}
constexpr SettingField stringField(const char* key, int slot, QString CS::*m, int presetBase,
                                   int32_t maxLength = 0) {
  return {key, slot, SettingKind::String, nullptr, nullptr, m, presetBase, 0, maxLength};
}

// Slot order of the current settings. The preset bases follow the same order except for the
// four rotation and resize settings, which presets store as RszOpt, RszSize, UsmOpt, TurOpt.
const SettingField kFields[] = {
    intField("IFmt", 55, &CS::IFmt, 118, 0, 6),
    flagField("SelExt0", 56, &CS::SelExt0, 123),
    flagField("SelExt1", 57, &CS::SelExt1, 128),
    flagField("SelExt2", 58, &CS::SelExt2, 133),
    flagField("SelExt3", 59, &CS::SelExt3, 138),
    stringField("ExtStr0", 60, &CS::ExtStr0, 143),
    stringField("ExtStr1", 61, &CS::ExtStr1, 148),
    stringField("ExtStr2", 62, &CS::ExtStr2, 153),
    stringField("ExtStr3", 63, &CS::ExtStr3, 158),
    intField("OFmt", 64, &CS::OFmt, 163, 0, 5),
    flagField("JTrans", 65, &CS::JTrans, 168),
    intField("Level", 66, &CS::Level, 173, 0, 9),
    intField("Quality", 67, &CS::Quality, 178, 1, 100),
    intField("Sampling", 68, &CS::Sampling, 183),
    flagField("Limit", 69, &CS::Limit, 188),
    intField("LmtVal", 70, &CS::LmtVal, 193, 1, 32767),
    intField("Marker", 71, &CS::Marker, 198, 0, 2),
    intField("TurOpt", 72, &CS::TurOpt, 218, 0, 4),
    intField("RszOpt", 73, &CS::RszOpt, 203, 0, 3),
    intField("RszSize", 74, &CS::RszSize, 208),
    intField("UsmOpt", 75, &CS::UsmOpt, 213, 0, 3),
    intField("NameSet", 76, &CS::NameSet, 223, 0, 2),
    intField("DigitNum", 77, &CS::DigitNum, 228, 1, 5),
    intField("StartNum", 78, &CS::StartNum, 233, 0, 9999),
    flagField("TopAdd", 79, &CS::TopAdd, 238),
    flagField("EndAdd", 80, &CS::EndAdd, 243),
    stringField("TopStr", 81, &CS::TopStr, 248, 23),
    stringField("EndStr", 82, &CS::EndStr, 253, 23),
    flagField("MkDirAdd", 83, &CS::MkDirAdd, 258),
    stringField("MkDirStr", 84, &CS::MkDirStr, 263, 23),
    flagField("IFileDel", 85, &CS::IFileDel, 268),
    flagField("Recycle", 86, &CS::Recycle, 273),
    intField("DepOpt", 87, &CS::DepOpt, 278, 0, 6),
    flagField("Dither", 88, &CS::Dither, 283),
    flagField("Trans", 89, &CS::Trans, 288),
    flagField("Interlace", 90, &CS::Interlace, 293),
    flagField("Progressive", 91, &CS::Progressive, 298),
    flagField("CopyExif", 92, &CS::CopyExif, 303),
    flagField("CmtOpt", 93, &CS::CmtOpt, 308),
    stringField("CmtStr1", 94, &CS::CmtStr1, 313, 4095),
    flagField("HgmOpt", 95, &CS::HgmOpt, 318),
    flagField("GamOpt", 96, &CS::GamOpt, 323),
    intField("GamVal", 97, &CS::GamVal, 328, -100, 100),
    flagField("CrtOpt", 98, &CS::CrtOpt, 333),
    intField("CrtVal", 99, &CS::CrtVal, 338, -100, 100),
    flagField("HlsSOpt", 100, &CS::HlsSOpt, 343),
    intField("HlsSVal", 101, &CS::HlsSVal, 348, -255, 255),
    flagField("HlsHOpt", 102, &CS::HlsHOpt, 353),
    intField("HlsHVal", 103, &CS::HlsHVal, 358, -180, 180),
    flagField("HtmlTag", 104, &CS::HtmlTag, 363),
    flagField("Round10", 105, &CS::Round10, 368),
    flagField("WrTimeCopy", 106, &CS::WrTimeCopy, 373),
    flagField("CrTimeCopy", 107, &CS::CrTimeCopy, 378),
};

constexpr int kNameLength = 23;  // prefix, suffix and sub-folder fields

int32_t clampTo(int32_t value, int32_t low, int32_t high) { return std::clamp(value, low, high); }
}  // namespace

std::span<const SettingField> conversionSettingFields() { return kFields; }

const SettingField* findSettingField(const QString& key) {
  for (const SettingField& field : kFields)
    if (sameNameIgnoringAsciiCase(key, QLatin1String(field.key))) return &field;
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

QString settingText(const ConversionSettings& settings, const SettingField& field) {
  switch (field.kind) {
    case SettingKind::Int: return QString::number(settings.*(field.intMember));
    case SettingKind::Flag: return QString::number(settings.*(field.flagMember) ? 1 : 0);
    case SettingKind::String: return settings.*(field.stringMember);
  }
  return {};
}

bool nameTextAllowed(const QString& text) {
  return !text.contains(QLatin1Char('/')) && !text.contains(QChar(u'\0'));
}

bool subFolderNameAllowed(const QString& name) {
  return nameTextAllowed(name) && name != QLatin1String(".") && name != QLatin1String("..");
}

bool nameTextsAllowed(const ConversionSettings& s) {
  return nameTextAllowed(s.TopStr) && nameTextAllowed(s.EndStr) && subFolderNameAllowed(s.MkDirStr);
}

void applyRangeCorrections(ConversionSettings& s) {
  // Negative values count as out of range too: they would index the format lists.
  if (s.IFmt < 0 || s.IFmt > 6) s.IFmt = 0;
  // A shared settings file or preset must not lead outputs out of their folder.
  const ConversionSettings defaults;
  if (!nameTextAllowed(s.TopStr)) s.TopStr = defaults.TopStr;
  if (!nameTextAllowed(s.EndStr)) s.EndStr = defaults.EndStr;
  if (!subFolderNameAllowed(s.MkDirStr)) s.MkDirStr = defaults.MkDirStr;
  if (s.OFmt < 0 || s.OFmt > 5) s.OFmt = 2;
  if (s.JTrans) {
    s.IFmt = 3;
    s.OFmt = 2;
  }
}

void applyPageRanges(ConversionSettings& settings) {
  applyRangeCorrections(settings);
  for (const SettingField& field : kFields) {
    if (field.kind == SettingKind::Int && field.minimum <= field.maximum) {
      int32_t& value = settings.*(field.intMember);
      value = clampTo(value, field.minimum, field.maximum);
    } else if (field.kind == SettingKind::String && field.maximum > 0) {
      QString& text = settings.*(field.stringMember);
      text.truncate(field.maximum);
    }
  }
}

bool applySettingAssignment(ConversionSettings& settings, const QString& assignment) {
  const qsizetype equals = assignment.indexOf(QLatin1Char('='));
  if (equals < 1) return false;
  ConversionSettings changed = settings;
  if (!setSettingFromText(changed, assignment.left(equals), assignment.mid(equals + 1))) return false;
  if (!nameTextsAllowed(changed)) return false;
  applyPageRanges(changed);
  settings = changed;
  return true;
}

ConversionSettings readConversionSettings(const SettingsReader& reader) {
  const ConversionSettings defaults;
  ConversionSettings s;
  for (const SettingField& field : kFields) {
    switch (field.kind) {
      case SettingKind::Int:
        s.*(field.intMember) = reader.intValue(field.slot, defaults.*(field.intMember));
        break;
      case SettingKind::Flag:
        s.*(field.flagMember) = reader.flag(field.slot, defaults.*(field.flagMember));
        break;
      case SettingKind::String: {
        QString text;
        const SlotText known = reader.string(field.slot, text);
        // Only the sub-folder name has a fallback, and only for a file that lacks the slot.
        if (known == SlotText::Unknown && field.stringMember == &CS::MkDirStr)
          text = defaults.MkDirStr;
        s.*(field.stringMember) = text;
        break;
      }
    }
  }
  applyRangeCorrections(s);
  return s;
}

void writeConversionSettings(SettingsWriter& writer, const ConversionSettings& s) {
  for (const SettingField& field : kFields) {
    switch (field.kind) {
      case SettingKind::Int: writer.putInt(field.slot, s.*(field.intMember)); break;
      case SettingKind::Flag: writer.putInt(field.slot, s.*(field.flagMember) ? 1 : 0); break;
      case SettingKind::String: writer.putString(field.slot, s.*(field.stringMember)); break;
    }
  }
}

void applyResetSwitchOff(ConversionSettings& s) {
  s.RszOpt = 0;
  s.UsmOpt = 0;
  s.TurOpt = 0;
  s.DepOpt = 0;
  s.Trans = false;
  s.Interlace = false;
  s.Progressive = false;
  s.CopyExif = false;
  s.CmtOpt = false;
  s.HgmOpt = false;
  s.GamOpt = false;
  s.CrtOpt = false;
  s.HlsSOpt = false;
  s.HlsHOpt = false;
}

namespace {
// A signed number as a dialog's number field gives it: surrounding blanks allowed, anything
// else that is not a number reads as 0.
int32_t signedFieldValue(const QString& text) {
  bool ok = false;
  const int value = text.trimmed().toInt(&ok);
  return ok ? value : 0;
}

bool switchOffAtZero(bool& option, int32_t value) {
  if (!option || value != 0) return false;
  option = false;
  return true;
}
}  // namespace

PageCorrections takeValuesFromPages(ConversionSettings& s, const PageValues& page) {
  PageCorrections corrections;
  // The spin controls keep these in range; held here too so no caller can store more.
  s.Level = clampTo(page.Level, 0, 9);
  s.Quality = clampTo(page.Quality, 1, 100);
  s.LmtVal = clampTo(page.LmtVal, 1, 32767);

  s.RszSize = signedFieldValue(page.RszSizeText);
  if (s.RszOpt != 0 && s.RszSize == 0) {
    s.RszOpt = 0;
    corrections.resizeSwitchedOff = true;
  }

  s.DigitNum = clampTo(page.DigitNum, 1, 5);
  s.StartNum = clampTo(page.StartNum, 0, 9999);

  // A name text that would lead out of the output folder is refused; the field keeps its value.
  auto takeName = [&](QString& setting, const QString& text, bool allowed) {
    if (allowed) setting = text;
    else corrections.nameTextRefused = true;
  };
  const QString top = page.TopStr.left(kNameLength), end = page.EndStr.left(kNameLength),
                folder = page.MkDirStr.left(kNameLength);
  takeName(s.TopStr, top, nameTextAllowed(top));
  takeName(s.EndStr, end, nameTextAllowed(end));
  takeName(s.MkDirStr, folder, subFolderNameAllowed(folder));

  s.GamVal = clampTo(page.GamVal, -100, 100);
  s.CrtVal = clampTo(page.CrtVal, -100, 100);
  s.HlsSVal = clampTo(page.HlsSVal, -255, 255);
  s.HlsHVal = clampTo(page.HlsHVal, -180, 180);
  corrections.gammaSwitchedOff = switchOffAtZero(s.GamOpt, s.GamVal);
  corrections.contrastSwitchedOff = switchOffAtZero(s.CrtOpt, s.CrtVal);
  corrections.saturationSwitchedOff = switchOffAtZero(s.HlsSOpt, s.HlsSVal);
  corrections.hueSwitchedOff = switchOffAtZero(s.HlsHOpt, s.HlsHVal);
  return corrections;
}

PageValues pageValuesOf(const ConversionSettings& s) {
  PageValues page;
  page.Level = s.Level;
  page.Quality = s.Quality;
  page.LmtVal = s.LmtVal;
  page.RszSizeText = QString::number(s.RszSize);
  page.DigitNum = s.DigitNum;
  page.StartNum = s.StartNum;
  page.TopStr = s.TopStr;
  page.EndStr = s.EndStr;
  page.MkDirStr = s.MkDirStr;
  page.GamVal = s.GamVal;
  page.CrtVal = s.CrtVal;
  page.HlsSVal = s.HlsSVal;
  page.HlsHVal = s.HlsHVal;
  return page;
}

}  // namespace velorin
