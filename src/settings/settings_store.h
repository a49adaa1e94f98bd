// Everything the settings file holds, read at start-up and written at shutdown.
#pragma once

#include <QString>
#include <QStringList>

#include "settings/application_settings.h"
#include "settings/conversion_settings.h"
#include "settings/presets.h"

namespace velorin {

struct StoredSettings {
  ApplicationSettings application;
  ConversionSettings conversion;
  Presets presets;

  bool operator==(const StoredSettings&) const = default;
};

class SettingsReader;
class SettingsWriter;

StoredSettings readStoredSettings(const SettingsReader& reader, const QString& picturesFolder);
// In the shutdown order: conversion settings, presets, application settings.
void writeStoredSettings(SettingsWriter& writer, const StoredSettings& settings);

// Shutdown: keeps the slots this version does not write and replaces the file in one step.
// A text settings file still in place is first copied to ".txt". The caller applies the Reset
// switch-off and takes the page values first. False when nothing was saved; the previous file
// is then intact.
bool saveSettingsFile(const QString& path, const StoredSettings& settings);

// Start-up of the window: an old text file is converted once (its copy kept as ".txt"), then the
// slot file is read. A missing or unreadable file gives the defaults.
struct SettingsLoad {
  StoredSettings settings;
  bool converted = false;         // an old text file was converted
  bool conversionFailed = false;  // it could not be; it was read in place and left unchanged
};
SettingsLoad loadSettingsFile(const QString& path, const QString& picturesFolder);

// The headless mode reads without ever writing: an old text file is read in place.
StoredSettings readSettingsFileOnly(const QString& path, const QString& picturesFolder);

// What keeps a settings file that is there from being read as it is. A missing file is no
// trouble: the defaults are then the settings of a first run. Both readers above give the
// defaults for everything the trouble covers (anything but a regular file is never opened).
struct SettingsTrouble {
  const char* what = nullptr;  // "is damaged", "cannot be read", ...; null when there is none
  QString reason;              // the reader's or the system's words
  bool wholeFile = true;       // nothing of the file is used, else only the damaged settings
  explicit operator bool() const { return what != nullptr; }
};
SettingsTrouble settingsFileTrouble(const QString& path);

// The warning that names the file, in English for standard error and under the window's message:
// "<path>: settings file is damaged (it is too short), using the defaults".
QString settingsTroubleText(const QString& path, const SettingsTrouble& trouble);

// --preset N for a run: N counts from 1. False (with a message) for a number outside 1..5 or an
// undefined preset. Only the settings are taken; the run names its own inputs and output.
bool applyPresetForRun(StoredSettings& settings, int oneBasedNumber, QString* message);

// Every key with its value, "Key=Value" in slot order: the application settings (LangFile ..
// SPI, IH0..IH15, OH0..OH15), then the conversion settings. Backslashes, line breaks and
// carriage returns in values are written as \\, \n and \r so each setting stays on one line.
QStringList settingsListing(const StoredSettings& settings);

}  // namespace velorin
