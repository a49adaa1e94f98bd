// The five stored sets of conversion settings the user can save and apply.
#pragma once

#include <QString>

#include <array>

#include "settings/conversion_settings.h"

namespace velorin {

inline constexpr int kPresetCount = 5;
inline constexpr int kPresetSetupBase = 108;
inline constexpr int kPresetNameBase = 113;
inline constexpr int kPresetInputPathBase = 384;
inline constexpr int kPresetOutputFolderBase = 389;
inline constexpr int kPresetNameLength = 24;

struct Preset {
  bool defined = false;  // key Setup
  QString name;          // key Name
  QString inputPath;     // empty: applying leaves the input as it is
  QString outputFolder;  // empty: applying leaves the output folder as it is
  ConversionSettings settings;

  bool operator==(const Preset&) const = default;
};

using Presets = std::array<Preset, kPresetCount>;

class SettingsReader;
class SettingsWriter;

// Only a defined preset's name, folders and settings are read, with the same defaults and
// corrections as the current settings except that a missing string is empty.
Presets readPresets(const SettingsReader& reader);
// A defined preset writes all its slots; an undefined one only its Setup slot (0), unless
// undefinedToo (the old-format conversion, which carries every key over) writes its name and
// settings as well.
void writePresets(SettingsWriter& writer, const Presets& presets, bool undefinedToo = false);

// The preset-saving dialog's OK for preset `number` (0..4): a non-empty name defines the preset
// from the current settings and locations; an empty name makes a defined preset undefined.
// The caller takes the values from the pages first. False when nothing changed.
bool savePreset(Presets& presets, int number, const QString& name, const QString& inputPath,
                const QString& outputFolder, const ConversionSettings& current);

// Applies a defined preset: its settings become the current settings, and the locations it has
// are handed back for the window to set (empty ones stay as they are). False for an undefined
// preset or a number outside 0..4; nothing changes then.
struct PresetLocations {
  QString inputPath;
  QString outputFolder;
};
bool applyPreset(const Presets& presets, int number, ConversionSettings& current,
                 PresetLocations* locations = nullptr);

// Text of the preset list's entry number + 1: the name of a defined preset, "-" otherwise.
QString presetListText(const Preset& preset);

// The choice the save dialog marks first: the first undefined preset, or preset 0 when all five
// are defined.
int presetToMarkFirst(const Presets& presets);

}  // namespace velorin
