// Helpers of the window tests: a program folder with the language files, a window started on
// its own settings file, and widgets found by their object names.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>

#include "ui/main_window.h"

namespace velorin::test {

// A folder that stands for the program's own: the language files of the source tree are beside
// a "velorin" that need not exist.
class ProgramFolder {
 public:
  explicit ProgramFolder(bool withLanguages = true) {
    if (!withLanguages) return;
    for (const char* name : {"English.lng", "Japanese.lng"})
      QFile::copy(QStringLiteral(VELORIN_SOURCE_DIR "/lang/") + QLatin1String(name), path(QLatin1String(name)));
  }
  QString path(const QString& name = {}) const { return name.isEmpty() ? folder_.path() : folder_.filePath(name); }
  QString program() const { return path(QStringLiteral("velorin")); }

 private:
  QTemporaryDir folder_;
};

// The start of a window in English with default settings written to settingsPath.
inline ui::WindowStart englishStart(const ProgramFolder& program, const QString& settingsPath,
                                    const StoredSettings& settings = {}) {
  ui::WindowStart start;
  start.settings = settings;
  start.settingsPath = settingsPath;
  start.languageFolder = program.path();
  QString langFile = QStringLiteral("English");
  loadLanguageModule(start.language, langFile, start.languageFolder, 1033);
  start.settings.application.LangFile = langFile;
  return start;
}

template <typename Widget = QWidget>
Widget* control(const QWidget& window, int id) {
  return window.findChild<Widget*>(QStringLiteral("c%1").arg(id));
}

// A small valid 24-bit bitmap, and a file that only claims to be one.
void writeGoodBmp(const QString& path);
void writeBrokenBmp(const QString& path);

}  // namespace velorin::test
