#include "platform/desktop_entry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace velorin {

namespace {

// Exec quoting of the desktop entry format: the argument in double quotes with ", `, $ and the
// backslash escaped; then the backslashes are doubled once more for the string value itself.
QString quotedExecArgument(const QString& argument) {
  QString quoted;
  for (const QChar c : argument) {
    if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
    quoted += c;
  }
  quoted = QLatin1Char('"') + quoted + QLatin1Char('"');
  quoted.replace(QLatin1String("\\"), QLatin1String("\\\\"));
  return quoted;
}

}  // namespace

QString sendToEntryPath() {
  QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
  if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome))
    dataHome = QDir::homePath() + QStringLiteral("/.local/share");
  return QDir::cleanPath(dataHome + QStringLiteral("/applications/velorin.desktop"));
}

bool updateSendToEntry(bool enabled, const QString& programPath) {
  const QString path = sendToEntryPath();
  const bool exists = QFileInfo::exists(path);
  if (!enabled) return !exists || QFile::remove(path);
  if (exists) return true;
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QString text = QStringLiteral(
                           "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Velorin\n"
                           "Exec=%1 %F\n"
                           "Icon=%2\n"
                           "Terminal=false\n"
                           "NoDisplay=true\n"
                           "MimeType=image/bmp;image/png;image/jpeg;image/tiff;image/gif;"
                           "application/zip;application/vnd.rar;\n")
                           .arg(quotedExecArgument(programPath), programPath);
  file.write(text.toUtf8());
  return file.commit();
}

}  // namespace velorin
