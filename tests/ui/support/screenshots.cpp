// Writes a PNG of every tab of the real main window in English and Japanese into the folder
// given on the command line (scripts/screenshots runs it under Xvfb).
#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "ui/main_window.h"
#include "ui/startup.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList arguments = QCoreApplication::arguments();
  if (arguments.size() != 3) {
    std::fprintf(stderr, "usage: velorin_screenshots PROGRAM OUTDIR\n");
    return 2;
  }
  const QString outFolder = arguments[2];
  QDir().mkpath(outFolder);
  QTemporaryDir config;
  velorin::ui::StartUpPlaces places;
  places.programPath = arguments[1];
  places.configFolder = config.path();
  places.picturesFolder = QDir::homePath();
  places.instanceName = QStringLiteral("velorin-screenshots-%1").arg(QCoreApplication::applicationPid());
  velorin::ui::StartUpResult started = velorin::ui::startUp(places);
  if (started.outcome != velorin::ui::StartUpResult::Outcome::Window) {
    std::fprintf(stderr, "velorin_screenshots: %s\n", started.failureText ? started.failureText : "no window");
    return 1;
  }
  velorin::ui::MainWindow window(std::move(started.start));
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("c1030"));
  for (const char* language : {"English", "Japanese"}) {
    window.switchLanguage(QString::fromLatin1(language));
    for (int tab = 0; tab < tabs->count(); ++tab) {
      tabs->setCurrentIndex(tab);
      QTest::qWait(50);
      const QString file = QDir(outFolder).filePath(QStringLiteral("%1-tab%2.png").arg(QLatin1String(language)).arg(tab));
      if (!window.grab().save(file)) return 1;
      std::printf("%s\n", qPrintable(file));
    }
  }
  return 0;
}
