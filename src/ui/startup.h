// The start-up of the window mode, up to the point where the window is created: the settings
// file and its checks, the language module, the single-instance hand-over.
#pragma once

#include <QString>

#include <memory>

#include "ui/main_window.h"
#include "ui/single_instance.h"

namespace velorin::ui {

struct StartUpPlaces {
  QString programPath;     // the program file, for the name check and its folder
  QString configFolder;    // the per-user configuration folder
  QString picturesFolder;  // the folder list's entry when there are no settings yet
  QString instanceName;    // the single-instance socket
  int userLanguageId = 1033;
};

// The places of this process: the running program, the XDG folders, the user's socket.
StartUpPlaces currentStartUpPlaces();

struct StartUpResult {
  enum class Outcome { Window, HandedOver, Failed };
  Outcome outcome = Outcome::Failed;
  const char* failureText = nullptr;  // one of the fixed English texts, when Failed
  WindowStart start;                   // when Window
  std::unique_ptr<SingleInstance> instance;
  bool settingsConverted = false;  // an old text settings file was converted
  QString settingsWarning;  // the settings file is damaged or unreadable: what to tell, once
};

// In this order: the program name and the settings file's place ("Failed to execute file."),
// the settings, the language module ("Language file not found."), the hand-over to a running
// window. A process that hands over has read the settings and written nothing: the old text
// format is only converted once the process knows it is the one that stays.
StartUpResult startUp(const StartUpPlaces& places);

}  // namespace velorin::ui
