#include "ui/startup.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "platform/paths.h"
#include "settings/settings_store.h"

namespace velorin::ui {

StartUpPlaces currentStartUpPlaces() {
  StartUpPlaces places;
  places.programPath = QCoreApplication::applicationFilePath();
  places.configFolder = userConfigFolder();
  places.picturesFolder = velorin::picturesFolder();
  places.instanceName = instanceServerName();
  places.userLanguageId = userInterfaceLanguageId();
  return places;
}

StartUpResult startUp(const StartUpPlaces& places) {
  StartUpResult result;
  auto fail = [&result](const char* text) {
    result.outcome = StartUpResult::Outcome::Failed;
    result.failureText = text;
    return std::move(result);
  };
  if (!checkProgramName(places.programPath)) return fail(kFailedToExecuteMessage);
  const QString programFolder = QFileInfo(places.programPath).absolutePath();
  WindowStart& start = result.start;
  start.settingsPath = findSettingsFile(programFolder, places.configFolder);
  if (start.settingsPath.isEmpty()) return fail(kFailedToExecuteMessage);
  result.settingsWarning = settingsTroubleText(start.settingsPath, settingsFileTrouble(start.settingsPath));

  start.settings = readSettingsFileOnly(start.settingsPath, places.picturesFolder);
  start.languageFolder = languageFolder(programFolder);  // beside the program, else installed
  QString langFile = start.settings.application.LangFile;
  if (!loadLanguageModule(start.language, langFile, start.languageFolder, places.userLanguageId))
    return fail(kLanguageFileMissingMessage);

  result.instance = std::make_unique<SingleInstance>(places.instanceName);
  if (!result.instance->claim()) {
    result.outcome = StartUpResult::Outcome::HandedOver;
    return result;
  }

  const SettingsLoad load = loadSettingsFile(start.settingsPath, places.picturesFolder);
  start.settings = load.settings;
  start.settings.application.LangFile = langFile;  // the fall-back that loaded is remembered
  result.settingsConverted = load.converted;
  result.outcome = StartUpResult::Outcome::Window;
  return result;
}

}  // namespace velorin::ui
