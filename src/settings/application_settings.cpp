#include "settings/application_settings.h"

#include "settings/settings_file.h"

namespace velorin {

namespace {
using AS = ApplicationSettings;

constexpr ApplicationField intField(const char* key, int slot, int32_t AS::*m) {
  return {key, slot, SettingKind::Int, m, nullptr, nullptr};
}
constexpr ApplicationField flagField(const char* key, int slot, bool AS::*m) {
  return {key, slot, SettingKind::Flag, nullptr, m, nullptr};
}
constexpr ApplicationField stringField(const char* key, int slot, QString AS::*m) {
  return {key, slot, SettingKind::String, nullptr, nullptr, m};
}

const ApplicationField kFields[] = {
    stringField("LangFile", 0, &AS::LangFile),
    intField("WinX", 1, &AS::WinX),
    intField("WinY", 2, &AS::WinY),
    intField("Hidden", 3, &AS::Hidden),
    flagField("ShowZip", 4, &AS::ShowZip),
    flagField("DTExpand", 5, &AS::DTExpand),
    flagField("EndMes", 6, &AS::EndMes),
    flagField("FileMes", 7, &AS::FileMes),
    flagField("Reset", 8, &AS::Reset),
    flagField("SdToCvt", 9, &AS::SdToCvt),
    flagField("TipAct", 10, &AS::TipAct),
    flagField("FileBg", 11, &AS::FileBg),
    intField("FHeight", 12, &AS::FHeight),
    intField("FWeight", 13, &AS::FWeight),
    intField("IIFolder", 14, &AS::IIFolder),
    intField("OIFolder", 15, &AS::OIFolder),
    stringField("ISPath", 16, &AS::ISPath),
    stringField("OSPath", 17, &AS::OSPath),
    stringField("IEPath", 18, &AS::IEPath),
    stringField("OEPath", 19, &AS::OEPath),
    stringField("SdToPath", 20, &AS::SdToPath),
    stringField("SPI", 21, &AS::SPI),
};

const ApplicationField& field(int slot) { return kFields[slot]; }

void putField(SettingsWriter& writer, const ApplicationSettings& s, int slot) {
  const ApplicationField& f = field(slot);
  switch (f.kind) {
    case SettingKind::Int: writer.putInt(f.slot, s.*(f.intMember)); break;
    case SettingKind::Flag: writer.putInt(f.slot, s.*(f.flagMember) ? 1 : 0); break;
    case SettingKind::String: writer.putString(f.slot, s.*(f.stringMember)); break;
  }
}

QByteArray flagsForList(QByteArray flags, qsizetype entries) {
  flags.resize(entries, '\0');  // missing flags are 0, flags of dropped entries go
  return flags;
}
}  // namespace

std::span<const ApplicationField> applicationSettingFields() { return kFields; }

void applyApplicationCorrections(ApplicationSettings& s) {
  if (s.FHeight != -12 && s.FHeight != -14) s.FHeight = -12;
  if (s.FWeight != 400 && s.FWeight != 700) s.FWeight = 400;
}

ApplicationSettings readApplicationSettings(const SettingsReader& reader,
                                            const QString& picturesFolder) {
  const ApplicationSettings defaults;
  ApplicationSettings s;
  for (const ApplicationField& f : kFields) {
    switch (f.kind) {
      case SettingKind::Int: s.*(f.intMember) = reader.intValue(f.slot, defaults.*(f.intMember)); break;
      case SettingKind::Flag: s.*(f.flagMember) = reader.flag(f.slot, defaults.*(f.flagMember)); break;
      case SettingKind::String: reader.string(f.slot, s.*(f.stringMember)); break;
    }
  }
  applyApplicationCorrections(s);

  for (int i = 0; i < kHistoryLength; ++i) {
    QString text;
    reader.string(kInputHistoryBase + i, text);
    s.inputHistory << text;
    reader.string(kOutputHistoryBase + i, text);
    s.outputHistory << text;
  }
  if (reader.stringList(kFolderListSlot, s.FolderList) == SlotText::Unknown) {
    s.FolderList.clear();
    if (!picturesFolder.isEmpty()) s.FolderList << picturesFolder;
  }
  QByteArray flags;
  reader.block(kFolderFlagsSlot, flags);
  s.folderFlags = flagsForList(flags, s.FolderList.size());
  reader.stringList(kPluginFilesSlot, s.pluginFiles);
  s.secondTreeOption = reader.flag(kSecondTreeOptionSlot, defaults.secondTreeOption);
  return s;
}

void writeApplicationSettings(SettingsWriter& writer, const ApplicationSettings& s) {
  putField(writer, s, 0);
  putField(writer, s, 1);
  putField(writer, s, 2);
  for (int slot = 3; slot <= 5; ++slot) putField(writer, s, slot);
  writer.putInt(kSecondTreeOptionSlot, s.secondTreeOption ? 1 : 0);
  for (int slot = 6; slot <= 21; ++slot) putField(writer, s, slot);
  writer.putStringList(kPluginFilesSlot, s.pluginFiles);
  for (int i = 0; i < kHistoryLength && i < s.inputHistory.size(); ++i)
    writer.putString(kInputHistoryBase + i, s.inputHistory[i]);
  for (int i = 0; i < kHistoryLength && i < s.outputHistory.size(); ++i)
    writer.putString(kOutputHistoryBase + i, s.outputHistory[i]);
  writer.putStringList(kFolderListSlot, s.FolderList);
  writer.putBlock(kFolderFlagsSlot, flagsForList(s.folderFlags, s.FolderList.size()));
}

}  // namespace velorin
