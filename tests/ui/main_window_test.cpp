// The main window as a user meets it: its controls by their object names, where they sit, what
// they say, and what closing it leaves on disk.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "settings/settings_store.h"
#include "ui/main_window.h"

using namespace velorin;

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir folder_;

  ui::WindowStart start() {
    ui::WindowStart start;
    start.settingsPath = folder_.filePath(QStringLiteral("Velorin.ini"));
    start.languageFolder = QStringLiteral(VELORIN_SOURCE_DIR "/lang");
    QString langFile = QStringLiteral("English");
    loadLanguageModule(start.language, langFile, start.languageFolder, 1033);
    return start;
  }

 private slots:
  void layoutHasEveryControlInPlace() {
    ui::MainWindow window(start());
    window.show();
    QCOMPARE(window.size(), QSize(768, 538));
    auto* panel = window.findChild<QWidget*>(QStringLiteral("c1010"));
    QVERIFY(panel);
    QCOMPARE(panel->geometry(), QRect(180, 0, 588, 538));
    QVERIFY(window.findChild<QWidget*>(QStringLiteral("c1001")));
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("c1030"));
    QVERIFY(tabs);
    QCOMPARE(tabs->geometry(), QRect(5, 56, 580, 429));
    QCOMPARE(tabs->count(), 5);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Settings"));
    QCOMPARE(tabs->tabText(4), QStringLiteral("Plug-ins"));
    QCOMPARE(window.findChild<QProgressBar*>(QStringLiteral("c1020"))->geometry(), QRect(10, 488, 568, 10));

    const struct {
      int id, x, width;
      const char* caption;
    } buttons[] = {{1021, 10, 99, "Trial conversion"}, {1022, 117, 105, "Name preview"}, {1023, 230, 170, "Convert"},
                   {1025, 408, 68, "Close"},           {1024, 482, 48, "Help"},          {1026, 538, 40, "About"}};
    for (const auto& expected : buttons) {
      auto* button = window.findChild<QPushButton*>(QStringLiteral("c%1").arg(expected.id));
      QVERIFY2(button, qPrintable(QString::number(expected.id)));
      QCOMPARE(button->geometry(), QRect(expected.x, 505, expected.width, 24));
      QCOMPARE(button->accessibleName(), QString::fromUtf8(expected.caption));
    }

    // The two fields start 3 pixels right of the labels and end at x 580.
    auto* label = window.findChild<QLabel*>(QStringLiteral("c1011"));
    auto* field = window.findChild<QWidget*>(QStringLiteral("c1013"));
    QCOMPARE(field->x(), label->geometry().right() + 1 + 3);
    QCOMPARE(field->geometry().right() + 1, 580);
    QVERIFY(label->width() <= 100);
  }

  void closeButtonWritesTheSettings() {
    ui::MainWindow window(start());
    window.show();
    QVERIFY(!QFile::exists(window.settingsPath()));
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("c1025")), Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QVERIFY(QFile::exists(window.settingsPath()));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
