// The main window as a user meets it: its controls by their object names, where they sit, what
// they say in each language, which control takes a drop, and what closing it leaves on disk.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QToolTip>
#include <QTemporaryDir>
#include <QtTest>

#include "engine/language.h"
#include "settings/settings_store.h"
#include "support/ui_test_support.h"
#include "ui/help.h"
#include "ui/main_window.h"
#include "ui/password_dialog.h"
#include "ui/path_field.h"

using namespace velorin;
using test::control;

class MainWindowTest : public QObject {
  Q_OBJECT

  test::ProgramFolder program_;
  QTemporaryDir folder_;

  QString settingsPath() const { return folder_.filePath(QStringLiteral("Velorin.ini")); }
  ui::WindowStart start(const StoredSettings& settings = {}) {
    return test::englishStart(program_, settingsPath(), settings);
  }
  QString makeFolder(const QString& name) {
    QDir().mkpath(folder_.filePath(name));
    return folder_.filePath(name);
  }

 private slots:
  void init() { QFile::remove(settingsPath()); }

  void layoutHasEveryControlInPlace() {
    ui::MainWindow window(start());
    window.show();
    QCOMPARE(window.size(), QSize(768, 538));
    QVERIFY(!window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(control(window, 1010)->geometry(), QRect(180, 0, 588, 538));
    QCOMPARE(control(window, 1000)->geometry(), QRect(0, 0, 180, 538));
    QVERIFY(control(window, 1001));
    auto* tabs = control<QTabWidget>(window, 1030);
    QCOMPARE(tabs->geometry(), QRect(5, 56, 580, 429));
    QCOMPARE(tabs->count(), 5);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Settings"));
    QCOMPARE(tabs->tabText(4), QStringLiteral("Plug-ins"));
    QCOMPARE(control(window, 1020)->geometry(), QRect(10, 488, 568, 10));

    const struct {
      int id, x, width;
      const char* caption;
    } buttons[] = {{1021, 10, 99, "Trial conversion"}, {1022, 117, 105, "Name preview"}, {1023, 230, 170, "Convert"},
                   {1025, 408, 68, "Close"},           {1024, 482, 48, "Help"},          {1026, 538, 40, "About"}};
    for (const auto& expected : buttons) {
      auto* button = control<QPushButton>(window, expected.id);
      QVERIFY2(button, qPrintable(QString::number(expected.id)));
      QCOMPARE(button->geometry(), QRect(expected.x, 505, expected.width, 24));
      QCOMPARE(button->accessibleName(), QString::fromUtf8(expected.caption));
    }

    // The fields start 3 pixels right of the labels, end at x 580 and carry the labels' names.
    auto* label = control<QLabel>(window, 1011);
    auto* field = control(window, 1013);
    QCOMPARE(field->x(), label->geometry().right() + 1 + 3);
    QCOMPARE(field->geometry().right() + 1, 580);
    QVERIFY(label->width() <= 100);
    QCOMPARE(field->accessibleName(), QStringLiteral("Input"));
    QCOMPARE(control(window, 1014)->palette().color(QPalette::Base), QColor(255, 232, 240));
  }

  void historiesKeepRecentExistingPathsOnce() {
    QStringList sixteen;
    for (int i = 0; i < 16; ++i) sixteen << QStringLiteral("/p%1").arg(i);
    // Most recent first, an existing copy moves up instead of doubling, at most 16.
    QCOMPARE(ui::rememberPath(sixteen, "/p5", 16).mid(0, 3), (QStringList{"/p5", "/p0", "/p1"}));
    QCOMPARE(ui::rememberPath(sixteen, "/p5", 16).size(), 16);
    QCOMPARE(ui::rememberPath(sixteen, "/new", 16).last(), QStringLiteral("/p14"));
    QCOMPARE(ui::rememberPath({"", "/a", ""}, "/b", 16), (QStringList{"/b", "/a"}));

    // Listed at start-up: entries that still exist; the output field only folders.
    const QString a = makeFolder("a"), b = makeFolder("b");
    test::writeGoodBmp(folder_.filePath("a/one.bmp"));
    StoredSettings stored;
    stored.application.inputHistory = {a, folder_.filePath("gone"), folder_.filePath("a/one.bmp")};
    stored.application.outputHistory = {folder_.filePath("a/one.bmp"), b};
    ui::MainWindow window(start(stored));
    auto* input = control<ui::PathField>(window, 1013);
    auto* output = control<ui::PathField>(window, 1014);
    QCOMPARE(input->history(), (QStringList{a, folder_.filePath("a/one.bmp")}));
    QCOMPARE(output->history(), QStringList{b});

    // Typing a folder and leaving the field makes it the input and puts it first.
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    input->setFocus();
    input->lineEdit()->clear();
    QTest::keyClicks(input->lineEdit(), b);
    control(window, 1023)->setFocus();
    QCOMPARE(window.fileList().inputPath(), b);
    QCOMPARE(input->history().first(), b);

    // A typed path that does not exist shows 30003 and leaves the input as it was.
    QList<int> shown;
    window.presentMessage = [&](const JobMessage& message) {
      shown << message.id;
      return true;
    };
    input->setFocus();
    input->lineEdit()->clear();
    QTest::keyClicks(input->lineEdit(), folder_.filePath("missing"));
    QTest::keyClick(input->lineEdit(), Qt::Key_Return);
    QCOMPARE(shown, QList<int>{30003});
    QCOMPARE(window.fileList().inputPath(), b);

    window.close();
    const StoredSettings saved = loadSettingsFile(settingsPath(), {}).settings;
    QCOMPARE(saved.application.inputHistory.mid(0, 3), (QStringList{b, a, folder_.filePath("a/one.bmp")}));
  }

  void dropsGoToTheControlUnderThePoint() {
    const QString in = makeFolder("drop-in"), out = makeFolder("drop-out");
    test::writeGoodBmp(in + "/x.bmp");
    ui::MainWindow window(start());
    window.show();
    // A file dropped on the input field stands for its folder; on the output field as well.
    window.dropPaths(control(window, 1013), {in + "/x.bmp"});
    QCOMPARE(window.fileList().inputPath(), in);
    window.dropPaths(control(window, 1014), {in + "/x.bmp", out});
    QCOMPARE(control<QComboBox>(window, 1014)->currentText(), in);
    // On the tree or outside the tabs: nothing converts.
    window.dropPaths(control(window, 1001), {in + "/x.bmp"});
    window.dropPaths(control(window, 1020), {in + "/x.bmp"});
    QVERIFY(!window.jobRunning());
    QCOMPARE(QDir(in).entryList(QDir::Files).size(), 1);

    // A page's registered field takes the first path; anywhere else on the tabs converts.
    ui::SettingsPage* page = window.page(0);
    auto* field = new QLineEdit(page);
    QString taken;
    page->registerDropTarget(field, [&](const QString& path) { taken = path; });
    window.dropPaths(field, {out, in});
    QCOMPARE(taken, out);
    QVERIFY(!window.jobRunning());

    control<QComboBox>(window, 1014)->setEditText(out);
    window.presentMessage = [](const JobMessage&) { return true; };
    QSignalSpy finished(&window.job(), &ui::WindowJob::finished);
    window.dropPaths(page, {in + "/x.bmp"});
    QVERIFY(window.jobRunning());
    QVERIFY(finished.wait(20000));
    QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{"x.jpg"});
  }

  void languageSwitchRelabelsEveryControl() {
    ui::MainWindow window(start());
    window.show();
    LanguageModule japanese;
    QVERIFY(japanese.load(program_.path("Japanese.lng")));
    const auto captioned = window.findChildren<QWidget*>(QRegularExpression(QStringLiteral("^c\\d+$")));
    QVERIFY(captioned.size() >= 11);

    window.switchLanguage(QStringLiteral("Japanese"));
    QCOMPARE(window.settings().application.LangFile, QStringLiteral("Japanese"));
    for (QWidget* widget : captioned) {
      const int id = widget->objectName().mid(1).toInt();
      if (widget->accessibleName().isEmpty() || !japanese.has(id)) continue;
      // Accessible names leave the mnemonic marks out.
      QCOMPARE(widget->accessibleName(), japanese.text(id).remove(QRegularExpression(QStringLiteral("&(?!&)"))));
    }
    auto* tabs = control<QTabWidget>(window, 1030);
    for (int i = 0; i < 5; ++i) QCOMPARE(tabs->tabText(i), japanese.text(20011 + i));
    QCOMPARE(control<QPushButton>(window, 1023)->text(), japanese.text(1023));

    // The same language again changes nothing; a missing one keeps the current texts.
    window.switchLanguage(QStringLiteral("japanese"));
    QCOMPARE(window.settings().application.LangFile, QStringLiteral("Japanese"));
    QFile::rename(program_.path("English.lng"), program_.path("English.off"));
    QFile::rename(program_.path("Japanese.lng"), program_.path("Japanese.off"));
    window.switchLanguage(QStringLiteral("English"));
    QFile::rename(program_.path("English.off"), program_.path("English.lng"));
    QFile::rename(program_.path("Japanese.off"), program_.path("Japanese.lng"));
    QCOMPARE(control<QPushButton>(window, 1023)->text(), japanese.text(1023));
  }

  void alwaysOnTopToggles() {
    ui::MainWindow window(start());
    window.show();
    QVERIFY(!window.isTopmost());
    QTest::mouseDClick(control(window, 1010), Qt::LeftButton, {}, QPoint(300, 48));
    QVERIFY(window.isTopmost());
    QVERIFY(window.isVisible());
    auto* action = window.findChild<QAction*>(QStringLiteral("c5100"));
    QVERIFY(action->isChecked());
    QCOMPARE(action->text(), QStringLiteral("Always on top"));
    action->trigger();
    QVERIFY(!window.isTopmost());
  }

  void tooltipsFollowTipAct() {
    for (const bool on : {true, false}) {
      StoredSettings stored;
      stored.application.TipAct = on;
      ui::MainWindow window(start(stored));
      window.show();
      auto* button = control<QPushButton>(window, 1023);
      QVERIFY(!button->toolTip().isEmpty());
      QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
      QApplication::sendEvent(button, &help);
      QCOMPARE(QToolTip::isVisible(), on);
      QToolTip::hideText();
      QTRY_VERIFY(!QToolTip::isVisible());
    }
  }

  void passwordDialogKeepsThePasswordUnlessConfirmed() {
    const ui::WindowStart started = start();
    const LanguageModule& english = started.language;
    QString password = QStringLiteral("earlier");
    QTimer::singleShot(0, [] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("c2401"));
      QCOMPARE(field->text(), QStringLiteral("earlier"));
      QCOMPARE(field->echoMode(), QLineEdit::Password);
      field->setText(QString(300, QLatin1Char('x')));  // held to 260 characters
      dialog->accept();
    });
    QVERIFY(ui::askArchivePassword(nullptr, english, password));
    QCOMPARE(password, QString(260, QLatin1Char('x')));
    QTimer::singleShot(0, [] { qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject(); });
    QVERIFY(!ui::askArchivePassword(nullptr, english, password));
    QCOMPARE(password, QString(260, QLatin1Char('x')));
  }

  void helpPagesFollowTheTabAndTheLanguage() {
    const QStringList roots{folder_.filePath("nowhere"), QStringLiteral(VELORIN_SOURCE_DIR "/help")};
    QVERIFY(ui::helpPagePath(roots, "Japanese", 1).endsWith("/help/Japanese/file-list.html"));
    QVERIFY(ui::helpPagePath(roots, "English", 4).endsWith("/help/English/plug-ins.html"));
    QVERIFY(ui::helpPagePath(roots, "English", -1).endsWith("/help/English/index.html"));
    // A language without pages falls back to English; a name never leads out of the folder.
    QVERIFY(ui::helpPagePath(roots, "Klingon", 0).endsWith("/help/English/settings.html"));
    QVERIFY(ui::helpPagePath(roots, "../English", 0).endsWith("/help/English/settings.html"));
    QVERIFY(ui::helpPagePath({folder_.filePath("nowhere")}, "English", 0).isEmpty());
  }

  void closingWritesTheSettings() {
    const QString in = makeFolder("close-in");
    StoredSettings stored;
    stored.application.Reset = true;
    stored.conversion.RszOpt = 1;
    stored.conversion.RszSize = 640;
    stored.application.WinX = 5000;  // off to the right of the screen
    stored.application.WinY = 20;
    {
      ui::MainWindow window(start(stored));
      window.placeOnScreen();
      window.show();
      window.dropPaths(control(window, 1013), {in});
      QVERIFY(!QFile::exists(settingsPath()));
      QTest::mouseClick(control(window, 1025), Qt::LeftButton);
      QVERIFY(!window.isVisible());
    }
    const StoredSettings saved = loadSettingsFile(settingsPath(), {}).settings;
    QCOMPARE(saved.application.IEPath, in);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(saved.application.WinX, area.right() + 1 - 768);
    QCOMPARE(saved.application.WinY, 20);
    QCOMPARE(saved.conversion.RszOpt, 0);  // Reset switched resizing off
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
