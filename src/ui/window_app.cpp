#include "ui/window_app.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include "engine/language.h"
#include "platform/paths.h"
#include "ui/main_window.h"

namespace velorin::ui {

namespace {

// The start-up failures come before any language is loaded: fixed English texts.
int startupFailure(const char* text) {
  QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kStartupErrorCaption), QString::fromLatin1(text));
  box.exec();
  return 1;
}

}  // namespace

int runWindowApplication(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString programPath = QCoreApplication::applicationFilePath();
  const QString programFolder = QCoreApplication::applicationDirPath();
  if (!checkProgramName(programPath)) return startupFailure(kFailedToExecuteMessage);
  WindowStart start;
  start.settingsPath = findSettingsFile(programFolder, userConfigFolder());
  if (start.settingsPath.isEmpty()) return startupFailure(kFailedToExecuteMessage);
  start.settings = loadSettingsFile(start.settingsPath, picturesFolder()).settings;
  start.languageFolder = programFolder;
  if (!loadLanguageModule(start.language, start.settings.application.LangFile, start.languageFolder,
                          userInterfaceLanguageId()))
    return startupFailure(kLanguageFileMissingMessage);

  MainWindow window(std::move(start));
  window.show();
  return app.exec();
}

}  // namespace velorin::ui
