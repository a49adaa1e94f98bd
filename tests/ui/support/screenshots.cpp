// Writes a PNG of every tab of the real main window in English and Japanese into the folder
// given on the command line, and of the name preview, password and trial dialogs
// (scripts/screenshots runs it under Xvfb).
#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "engine/job_setup.h"
#include "engine/trial.h"
#include "ui/main_window.h"
#include "ui/name_preview_dialog.h"
#include "ui/password_dialog.h"
#include "ui/startup.h"
#include "ui/trial_dialog.h"

namespace {

bool saveShot(QWidget& widget, const QString& folder, const QString& name) {
  widget.show();
  if (!QTest::qWaitForWindowExposed(&widget)) return false;
  QTest::qWait(50);
  const QString file = QDir(folder).filePath(name + QStringLiteral(".png"));
  if (!widget.grab().save(file)) return false;
  std::printf("%s\n", qPrintable(file));
  widget.hide();
  return true;
}

// The three dialogs of the window in its current language.
bool saveDialogs(velorin::ui::MainWindow& window, const QString& folder, const QString& language) {
  using namespace velorin;
  const int fontHeight = window.settings().application.FHeight;
  const std::vector<PreviewRow> rows{{"IMG_0001.JPG", "IMG_0001.jpg", {}, {}},
                                     {"IMG_0001+1.JPG", "IMG_0001+1+1.jpg", {}, {}},
                                     {"holiday/beach.png", "beach.jpg", {}, {}}};
  ui::NamePreviewDialog names(window.language(), rows, fontHeight, &window);
  ui::PasswordDialog password(window.language(), QString(), fontHeight, &window);
  if (!saveShot(names, folder, language + "-names") || !saveShot(password, folder, language + "-password"))
    return false;

  QTemporaryDir input;
  QImage picture(900, 600, QImage::Format_RGB888);
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, y, qRgb(x * 255 / 900, y * 255 / 600, 128));
  if (!picture.save(input.filePath("sample.bmp"), "BMP")) return false;
  ConversionSettings settings = window.settings().conversion;
  settings.IFmt = 0;
  const JobOptions options = jobOptionsFrom(window.settings().application);
  FileList list;
  list.setInputPath(input.path(), ListOptions::from(settings, options.Hidden));
  TrialSession session;
  if (session.open(list, input.path(), settings, options) != 0) return false;
  ui::TrialDialog trial(session, list, window.language(), fontHeight, QRect(), [](int) {}, &window);
  return trial.showEntry(0) && saveShot(trial, folder, language + "-trial");
}

}  // namespace

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
    if (!saveDialogs(window, outFolder, QString::fromLatin1(language))) return 1;
  }
  return 0;
}
