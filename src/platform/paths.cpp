#include "platform/paths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace velorin {

namespace {
char16_t foldAsciiCase(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c; }
}  // namespace

bool checkProgramName(const QString& programPath) {
  const QString base = QFileInfo(programPath).completeBaseName();
  static constexpr char16_t kName[] = u"Velorin";
  constexpr qsizetype length = sizeof kName / sizeof kName[0] - 1;
  if (base.size() != length) return false;
  for (qsizetype i = 0; i < length; ++i)
    if (foldAsciiCase(base.at(i).unicode()) != foldAsciiCase(kName[i])) return false;
  return true;
}

QString userConfigFolder() {
  const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
  // Relative values are invalid by the XDG rules and would depend on the current folder.
  if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) return QDir::cleanPath(xdg);
  const QString home = qEnvironmentVariable("HOME");
  if (home.isEmpty() || !QDir::isAbsolutePath(home)) return {};
  return QDir::cleanPath(home + QStringLiteral("/.config"));
}

QString findSettingsFile(const QString& programFolder, const QString& configFolder) {
  const QString fileName = QString::fromLatin1(kSettingsFileName);
  if (!programFolder.isEmpty()) {
    const QString beside = QDir(programFolder).filePath(fileName);
    if (QFileInfo(beside).isFile()) return beside;
  }
  if (configFolder.isEmpty()) return {};
  const QString folder = QDir(configFolder).filePath(QStringLiteral("Velorin"));
  if (!QDir().mkpath(folder)) return {};
  return QDir(folder).filePath(fileName);
}

QString picturesFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
}

}  // namespace velorin
