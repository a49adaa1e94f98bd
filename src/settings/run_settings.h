// The settings of one headless run: found and read like the window's, never written.
#pragma once

#include <QString>
#include <QStringList>

#include "settings/settings_store.h"

namespace velorin {

struct RunSettingsOptions {
  QString settingsFile;     // --settings FILE; empty = the usual settings file
  int preset = 0;           // --preset N (1..5); 0 = none
  QStringList assignments;  // --set KEY=VALUE, applied in order after the preset
};

struct RunSettings {
  QString path;  // the settings file that was read (it may not exist: then all defaults)
  StoredSettings stored;
  QString warning;  // the one warning about a damaged or unreadable settings file, else empty
};

// The start-up checks and the settings of a run: the program name must be Velorin ("Failed to
// execute file." otherwise), the settings file is read without being converted or written (and
// nothing is created to find it: without a configuration folder the run has the defaults), then
// the preset and the assignments are applied with the same corrections as the pages. False with
// a one-line message for the job-level error exit; an explicitly named settings file must exist.
bool prepareRunSettings(const QString& programPath, const RunSettingsOptions& options,
                        RunSettings& out, QString& message);

}  // namespace velorin
