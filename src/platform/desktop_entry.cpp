#include "platform/desktop_entry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include "installed_desktop_entry.h"

namespace velorin {

namespace {

// Exec quoting of the desktop entry format: the argument in double quotes with ", `, $ and the
// backslash escaped, a literal % doubled so it is no field code; then the backslashes are doubled
// once more for the string value itself.
QString quotedExecArgument(const QString& argument) {
  QString quoted;
  for (const QChar c : argument) {
    if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
    if (c == u'%') quoted += u'%';
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

QString sendToEntryText(const QString& programPath) {
  // A line break would end the Exec value and let the rest of the path become keys of its own.
  for (const QChar c : programPath)
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) return {};
  QStringList lines = QString::fromUtf8(kInstalledDesktopEntry).split(QLatin1Char('\n'));
  for (QString& line : lines)
    if (line.startsWith(QLatin1String("Exec="))) line = QStringLiteral("Exec=%1 %F").arg(quotedExecArgument(programPath));
  return lines.join(QLatin1Char('\n'));
}

bool updateSendToEntry(bool enabled, const QString& programPath) {
  const QString path = sendToEntryPath();
  const bool exists = QFileInfo::exists(path);
  if (!enabled) return !exists || QFile::remove(path);
  if (exists) return true;
  const QString text = sendToEntryText(programPath);
  if (text.isEmpty()) return false;
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(text.toUtf8());
  return file.commit();
}

}  // namespace velorin
