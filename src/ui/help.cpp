#include "ui/help.h"

#include <QDir>
#include <QFileInfo>

namespace velorin::ui {

namespace {
constexpr const char* kTabPages[] = {"settings.html", "file-list.html", "output.html", "options.html",
                                     "plug-ins.html"};
constexpr char kOverviewPage[] = "index.html";
}  // namespace

QStringList helpRoots(const QString& programFolder) {
  const QDir program(programFolder);
  return {program.filePath(QStringLiteral("help")),
          QDir::cleanPath(program.filePath(QStringLiteral("../share/velorin/help")))};
}

QString helpPagePath(const QStringList& roots, const QString& language, int tab) {
  const QString page = QString::fromLatin1(tab >= 0 && tab < 5 ? kTabPages[tab] : kOverviewPage);
  QStringList languages{language};
  if (language.compare(QLatin1String("English"), Qt::CaseInsensitive) != 0) languages << QStringLiteral("English");
  for (const QString& name : languages) {
    // A language name is a file's base name; it never reaches outside the help folder.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.'))) continue;
    for (const QString& root : roots) {
      const QString path = QDir(root).filePath(name + QLatin1Char('/') + page);
      if (QFileInfo(path).isFile()) return path;
    }
  }
  return {};
}

QString installedReadme(const QString& programFolder) {
  const QDir program(programFolder);
  for (const char* candidate : {"README.md", "../share/doc/velorin/README.md", "../README.md"}) {
    const QString path = QDir::cleanPath(program.filePath(QString::fromLatin1(candidate)));
    if (QFileInfo(path).isFile()) return path;
  }
  return {};
}

}  // namespace velorin::ui
