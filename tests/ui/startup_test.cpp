// Start-up up to the window: its order, its two fixed English failures, the hand-over to a
// running window, and where the window lands on the screen.
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>
#include <QtTest>

#include "settings/settings_store.h"
#include "support/ui_test_support.h"
#include "ui/screen_placement.h"
#include "ui/startup.h"

using namespace velorin;

class StartUpTest : public QObject {
  Q_OBJECT

  QTemporaryDir config_;

  ui::StartUpPlaces places(const test::ProgramFolder& program, const QString& programName = "velorin") {
    ui::StartUpPlaces places;
    places.programPath = program.path(programName);
    places.configFolder = config_.path();
    places.picturesFolder = config_.path();
    places.instanceName = QStringLiteral("velorin-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(++instance_);
    return places;
  }
  int instance_ = 0;

 private slots:
  void failuresComeInOrderWithFixedEnglishTexts() {
    const test::ProgramFolder noLanguages(false);
    // A renamed program fails before the language is looked for.
    ui::StartUpResult result = ui::startUp(places(noLanguages, QStringLiteral("converter")));
    QCOMPARE(result.outcome, ui::StartUpResult::Outcome::Failed);
    QCOMPARE(QString::fromLatin1(result.failureText), QStringLiteral("Failed to execute file."));
    // No configuration folder at all: the settings file has no place.
    ui::StartUpPlaces nowhere = places(noLanguages);
    nowhere.configFolder.clear();
    QCOMPARE(QString::fromLatin1(ui::startUp(nowhere).failureText), QStringLiteral("Failed to execute file."));

    result = ui::startUp(places(noLanguages));
    QCOMPARE(result.outcome, ui::StartUpResult::Outcome::Failed);
    QCOMPARE(QString::fromLatin1(result.failureText), QStringLiteral("Language file not found."));
    QVERIFY(!result.instance);  // nobody listens for a process that failed
  }

  void aMissingLanguageFallsBackToEnglishAndIsRemembered() {
    const test::ProgramFolder program;
    StoredSettings stored;
    stored.application.LangFile = QStringLiteral("Klingon");
    QVERIFY(QDir().mkpath(config_.filePath("Velorin")));
    QVERIFY(saveSettingsFile(config_.filePath("Velorin/Velorin.ini"), stored));
    ui::StartUpResult result = ui::startUp(places(program));
    QCOMPARE(result.outcome, ui::StartUpResult::Outcome::Window);
    QCOMPARE(result.start.settings.application.LangFile, QStringLiteral("English"));
    QCOMPARE(result.start.language.text(1023), QStringLiteral("Convert"));
  }

  void aSecondStartHandsOverAndTouchesNothing() {
    const test::ProgramFolder program;
    const ui::StartUpPlaces shared = places(program);
    ui::StartUpResult first = ui::startUp(shared);
    QCOMPARE(first.outcome, ui::StartUpResult::Outcome::Window);
    QSignalSpy raised(first.instance.get(), &ui::SingleInstance::activationRequested);

    // An old text settings file appears: a process that hands over must not convert it.
    const QString settingsFile = first.start.settingsPath;
    QFile::remove(settingsFile);
    {
      QFile text(settingsFile);
      QVERIFY(text.open(QIODevice::WriteOnly));
      text.write("[MWin]\nWinX=300\n");
    }
    const QByteArray before = [&] {
      QFile f(settingsFile);
      f.open(QIODevice::ReadOnly);
      return f.readAll();
    }();
    ui::StartUpResult second = ui::startUp(shared);
    QCOMPARE(second.outcome, ui::StartUpResult::Outcome::HandedOver);
    QVERIFY(raised.wait(3000));
    QFile after(settingsFile);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), before);
    QVERIFY(!QFile::exists(settingsFile + ".txt"));

    // Once the first has gone, a socket file left behind does not stop the next start.
    first.instance.reset();
    QCOMPARE(ui::startUp(shared).outcome, ui::StartUpResult::Outcome::Window);
  }

  void aDamagedSettingsFileIsSaidOnceInABoxThatDoesNotBlock() {
    const test::ProgramFolder program;
    const QString settingsFile = config_.filePath("Velorin/Velorin.ini");
    QVERIFY(QDir().mkpath(config_.filePath("Velorin")));
    QFile::remove(settingsFile);
    {
      QFile cut(settingsFile);
      QVERIFY(cut.open(QIODevice::WriteOnly));
      cut.write("\x8C\x01", 2);
    }
    ui::StartUpResult result = ui::startUp(places(program));
    QCOMPARE(result.outcome, ui::StartUpResult::Outcome::Window);
    QCOMPARE(result.settingsWarning,
             settingsFile + QStringLiteral(": settings file is damaged (it is too short), using the defaults"));
    QCOMPARE(result.start.settings.application.WinX, 200);

    ui::MainWindow window(std::move(result.start));
    window.show();
    window.showSettingsTrouble(result.settingsWarning);
    auto* box = window.findChild<QMessageBox*>(QStringLiteral("message30011"));
    QVERIFY(box);
    QVERIFY(box->isVisible());
    QVERIFY(!box->isModal());
    QVERIFY(box->text().startsWith(QStringLiteral("The settings file cannot be used")));
    QVERIFY(box->text().contains(settingsFile));
    box->close();
    QFile::remove(settingsFile);
    result.instance.reset();
  }

  void aMissingHomeIsNeverCreated() {
    const test::ProgramFolder program;
    ui::StartUpPlaces nowhere = places(program);
    nowhere.configFolder = config_.filePath("no-home/.config");
    QCOMPARE(QString::fromLatin1(ui::startUp(nowhere).failureText), QStringLiteral("Failed to execute file."));
    QVERIFY(!QFileInfo::exists(config_.filePath("no-home")));
  }

  void positionIsKeptInsideTheNearestScreen() {
    const QRect area(0, 0, 1920, 1040);
    const QSize frame(768, 538);
    // Off to the right and below: the window ends at the right and bottom edges.
    QCOMPARE(ui::placeOnScreens({3000, 2000}, frame, {area}), QPoint(1920 - 768, 1040 - 538));
    // Left of and above the area: it starts at the area's edges.
    QCOMPARE(ui::placeOnScreens({-50, -10}, frame, {area}), QPoint(0, 0));
    QCOMPARE(ui::placeOnScreens({200, 100}, frame, {area}), QPoint(200, 100));
    // Two screens side by side: the one the window overlaps most keeps it; past the second
    // screen's right edge it lands at that edge.
    const QRect right(1920, 0, 1280, 1000);
    QCOMPARE(ui::placeOnScreens({1800, 100}, frame, {area, right}), QPoint(1920, 100));
    QCOMPARE(ui::placeOnScreens({5000, 100}, frame, {area, right}), QPoint(1920 + 1280 - 768, 100));
    // A screen smaller than the window: its top-left corner stays visible.
    QCOMPARE(ui::placeOnScreens({10, 10}, frame, {QRect(0, 0, 640, 480)}), QPoint(0, 0));
  }
};

QTEST_MAIN(StartUpTest)
#include "startup_test.moc"
