// Where the program finds itself and its settings file.
#pragma once

#include <QString>
#include <QStringList>

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
// Empty when configFolder is empty or the folder cannot be created. Only the configuration
// folder itself and "Velorin" in it are ever made: a missing home folder is never created.
QString findSettingsFile(const QString& programFolder, const QString& configFolder);

// The same place for a process that only reads it, without creating anything: the path may not
// exist. Empty when configFolder is empty and no file lies beside the program.
QString settingsFileToRead(const QString& programFolder, const QString& configFolder);

// The folder of the running program's file, links resolved (so a symlink on the PATH finds the
// real installation).
QString programFolder();

// Where the program's own files may be, in search order. First the program's folder itself, which
// is how the build tree and portable copies are laid out; then the installed layout relative to it
// (PREFIX/bin/velorin finds PREFIX/share/velorin and PREFIX/lib/velorin), so any prefix works.
enum class ProgramFiles {
  Data,     // language files, help pages
  Library,  // plug-ins and the private libraries
};
QStringList programFileFolders(const QString& programFolder, ProgramFiles kind);

// The folder the language files are read from: the first of the data folders that holds a file
// named "*.lng"; programFolder itself when none does.
QString languageFolder(const QString& programFolder);

// The plug-in folder the program ships: "plugins" in the first library folder that has one;
// empty when there is none.
QString shippedPluginFolder(const QString& programFolder);

// The help pages: "help" in the first data folder that has one; empty when there is none.
QString helpFolder(const QString& programFolder);

// The user's pictures folder (XDG), the folder list's entry when there are no settings yet.
QString picturesFolder();

}  // namespace velorin
