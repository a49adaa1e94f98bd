#include "ui/window_app.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/paths.h"
#include "ui/main_window.h"
#include "ui/startup.h"

namespace velorin::ui {

int runWindowApplication(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velorin"));
  StartUpResult started = startUp(currentStartUpPlaces());
  switch (started.outcome) {
    case StartUpResult::Outcome::Failed: {
      // Before any language is loaded: the fixed English texts.
      QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kStartupErrorCaption),
                      QString::fromLatin1(started.failureText));
      box.exec();
      return 1;
    }
    case StartUpResult::Outcome::HandedOver:
      return 0;
    case StartUpResult::Outcome::Window:
      break;
  }

  const QString settingsWarning = started.settingsWarning;
  MainWindow window(std::move(started.start));
  QObject::connect(started.instance.get(), &SingleInstance::activationRequested, &window, &MainWindow::bringToFront);
  window.placeOnScreen();
  const QStringList arguments = QCoreApplication::arguments().mid(1);
  // A conversion asked for on the command line runs with the window minimised; the window
  // closes itself when it ends.
  if (window.applyCommandLine(arguments)) window.showMinimized();
  else window.show();
  if (!settingsWarning.isEmpty()) window.showSettingsTrouble(settingsWarning);
  return app.exec();
}

}  // namespace velorin::ui
