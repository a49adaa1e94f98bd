#include "settings/presets.h"

#include "settings/settings_file.h"

namespace velorin {

Presets readPresets(const SettingsReader& reader) {
  Presets presets;
  const ConversionSettings defaults;
  for (int n = 0; n < kPresetCount; ++n) {
    Preset& p = presets[n];
    p.defined = reader.flag(kPresetSetupBase + n, false);
    if (!p.defined) continue;
    reader.string(kPresetNameBase + n, p.name);
    reader.string(kPresetInputPathBase + n, p.inputPath);
    reader.string(kPresetOutputFolderBase + n, p.outputFolder);
    ConversionSettings& s = p.settings;
    for (const SettingField& field : conversionSettingFields()) {
      const int slot = field.presetBase + n;
      switch (field.kind) {
        case SettingKind::Int:
          s.*(field.intMember) = reader.intValue(slot, defaults.*(field.intMember));
          break;
        case SettingKind::Flag:
          s.*(field.flagMember) = reader.flag(slot, defaults.*(field.flagMember));
          break;
        case SettingKind::String: reader.string(slot, s.*(field.stringMember)); break;
      }
    }
    applyRangeCorrections(s);
  }
  return presets;
}

void writePresets(SettingsWriter& writer, const Presets& presets, bool undefinedToo) {
  for (int n = 0; n < kPresetCount; ++n) {
    const Preset& p = presets[n];
    writer.putInt(kPresetSetupBase + n, p.defined ? 1 : 0);
    if (!p.defined && !undefinedToo) continue;
    writer.putString(kPresetNameBase + n, p.name);
    for (const SettingField& field : conversionSettingFields()) {
      const int slot = field.presetBase + n;
      switch (field.kind) {
        case SettingKind::Int: writer.putInt(slot, p.settings.*(field.intMember)); break;
        case SettingKind::Flag: writer.putInt(slot, p.settings.*(field.flagMember) ? 1 : 0); break;
        case SettingKind::String: writer.putString(slot, p.settings.*(field.stringMember)); break;
      }
    }
    writer.putString(kPresetInputPathBase + n, p.inputPath);
    writer.putString(kPresetOutputFolderBase + n, p.outputFolder);
  }
}

bool savePreset(Presets& presets, int number, const QString& name, const QString& inputPath,
                const QString& outputFolder, const ConversionSettings& current) {
  if (number < 0 || number >= kPresetCount) return false;
  Preset& p = presets[number];
  if (name.isEmpty()) {
    if (!p.defined) return false;
    p.defined = false;
    p.name.clear();
    return true;
  }
  p.defined = true;
  p.name = name.left(kPresetNameLength);
  p.inputPath = inputPath;
  p.outputFolder = outputFolder;
  p.settings = current;
  return true;
}

bool applyPreset(const Presets& presets, int number, ConversionSettings& current,
                 PresetLocations* locations) {
  if (number < 0 || number >= kPresetCount || !presets[number].defined) return false;
  const Preset& p = presets[number];
  current = p.settings;
  if (locations) *locations = {p.inputPath, p.outputFolder};
  return true;
}

QString presetListText(const Preset& preset) {
  return preset.defined ? preset.name : QStringLiteral("-");
}

int presetToMarkFirst(const Presets& presets) {
  for (int n = 0; n < kPresetCount; ++n)
    if (!presets[n].defined) return n;
  return 0;
}

}  // namespace velorin
