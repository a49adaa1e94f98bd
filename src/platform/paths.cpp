#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "platform/ascii_case.h"

// The installed folders relative to the installed program, fixed when the build is configured.
#ifndef VELORIN_RELATIVE_DATADIR
#define VELORIN_RELATIVE_DATADIR "../share/velorin"
#endif
#ifndef VELORIN_RELATIVE_LIBDIR
#define VELORIN_RELATIVE_LIBDIR "../lib/velorin"
#endif

namespace velorin {

namespace {
void appendFolder(QStringList& folders, const QString& folder) {
  const QString clean = QDir::cleanPath(folder);
  if (!folders.contains(clean)) folders << clean;
}

// The first folder of kind whose child name is a folder; empty when none.
QString firstWithSubfolder(const QString& programFolder, ProgramFiles kind, const QString& name) {
  for (const QString& folder : programFileFolders(programFolder, kind)) {
    const QString candidate = folder + QLatin1Char('/') + name;
    if (QFileInfo(candidate).isDir()) return candidate;
  }
  return {};
}

}  // namespace

QString programFolder() {
  if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
  return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

QStringList programFileFolders(const QString& programFolder, ProgramFiles kind) {
  QStringList folders;
  if (programFolder.isEmpty()) return folders;
  appendFolder(folders, programFolder);
  const QDir base(programFolder);
  if (kind == ProgramFiles::Data) {
    appendFolder(folders, base.filePath(QStringLiteral(VELORIN_RELATIVE_DATADIR)));
    appendFolder(folders, base.filePath(QStringLiteral("../share/velorin")));
  } else {
    // A Debian build puts the library folder under the architecture triplet; a copy installed by
    // hand may use the plain lib/.
    appendFolder(folders, base.filePath(QStringLiteral(VELORIN_RELATIVE_LIBDIR)));
    appendFolder(folders, base.filePath(QStringLiteral("../lib/velorin")));
  }
  return folders;
}

QString languageFolder(const QString& programFolder) {
  const QStringList pattern{QStringLiteral("*.lng")};
  for (const QString& folder : programFileFolders(programFolder, ProgramFiles::Data))
    if (!QDir(folder).entryList(pattern, QDir::Files | QDir::Readable).isEmpty()) return folder;
  return programFolder;
}

QString shippedPluginFolder(const QString& programFolder) {
  return firstWithSubfolder(programFolder, ProgramFiles::Library, QStringLiteral("plugins"));
}

QString helpFolder(const QString& programFolder) {
  return firstWithSubfolder(programFolder, ProgramFiles::Data, QStringLiteral("help"));
}

bool checkProgramName(const QString& programPath) {
  const QString base = QFileInfo(programPath).completeBaseName();
  return sameNameIgnoringAsciiCase(base, u"Velorin");
}

QString userConfigFolder() {
  const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
  // Relative values are invalid by the XDG rules and would depend on the current folder.
  if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) return QDir::cleanPath(xdg);
  const QString home = qEnvironmentVariable("HOME");
  if (home.isEmpty() || !QDir::isAbsolutePath(home)) return {};
  return QDir::cleanPath(home + QStringLiteral("/.config"));
}

QString settingsFileToRead(const QString& programFolder, const QString& configFolder) {
  const QString fileName = QString::fromLatin1(kSettingsFileName);
  if (!programFolder.isEmpty()) {
    const QString beside = QDir(programFolder).filePath(fileName);
    if (QFileInfo(beside).isFile()) return beside;
  }
  if (configFolder.isEmpty()) return {};
  return QDir(configFolder).filePath(QStringLiteral("Velorin/") + fileName);
}

QString findSettingsFile(const QString& programFolder, const QString& configFolder) {
  const QString path = settingsFileToRead(programFolder, configFolder);
  if (path.isEmpty()) return {};
  const QString folder = QFileInfo(path).path();
  // One level at a time, so that a configuration folder whose parent (the home folder) is
  // missing is not made along with it.
  if (!QFileInfo(folder).isDir()) {
    if (!QFileInfo(configFolder).isDir() && !QDir().mkdir(configFolder)) return {};
    if (!QDir().mkdir(folder)) return {};
  }
  return path;
}

QString picturesFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
}

}  // namespace velorin
