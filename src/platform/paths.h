// Where the program finds itself and its settings file.
#pragma once

#include <QString>

namespace velorin {

// The fixed English start-up texts; shown before any language module is loaded.
inline constexpr char kFailedToExecuteMessage[] = "Failed to execute file.";
inline constexpr char kLanguageFileMissingMessage[] = "Language file not found.";
inline constexpr char kStartupErrorCaption[] = "Error";

inline constexpr char kSettingsFileName[] = "Velorin.ini";

// True when the program file's base name (no folder, no last extension) is "Velorin", letters
// A to Z compared without case. A renamed program refuses to start.
bool checkProgramName(const QString& programPath);

// The base folder for per-user configuration: $XDG_CONFIG_HOME when it is an absolute path,
// otherwise $HOME/.config. Empty when neither can be determined.
QString userConfigFolder();

// The settings file: Velorin.ini in programFolder when it exists there (portable use),
// otherwise configFolder/Velorin/Velorin.ini, the "Velorin" folder being created when missing.
// Empty when configFolder is empty or the folder cannot be created.
QString findSettingsFile(const QString& programFolder, const QString& configFolder);

// The user's pictures folder (XDG), the folder list's entry when there are no settings yet.
QString picturesFolder();

}  // namespace velorin
