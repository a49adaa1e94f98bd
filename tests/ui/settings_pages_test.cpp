// The settings pages as a user meets them in the window: typing, clicking and choosing, then
// reading the controls and the settings back.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include "engine/file_list.h"
#include "settings/settings_store.h"
#include "ui/main_window.h"
#include "ui/page_file_list.h"

using namespace velorin;

namespace {

template <typename T = QWidget>
T* control(QWidget& window, int id) {
  return window.findChild<T*>(QStringLiteral("c%1").arg(id));
}

// Types text into a field and leaves it, as a user does by pressing Tab.
void typeAndLeave(QLineEdit* field, const QString& text) {
  field->setFocus();
  field->selectAll();
  QTest::keyClicks(field, text);
  QTest::keyClick(field, Qt::Key_Tab);
}

}  // namespace

class SettingsPagesTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir folder_;

  ui::WindowStart start(const QString& language = QStringLiteral("English")) {
    ui::WindowStart start;
    start.settingsPath = folder_.filePath(QStringLiteral("Velorin.ini"));
    start.languageFolder = QStringLiteral(VELORIN_SOURCE_DIR "/lang");
    start.settings.application.LangFile = language;
    loadLanguageModule(start.language, start.settings.application.LangFile, start.languageFolder, 1033);
    return start;
  }

 private slots:
  void screenshots() {
    const QString out = qEnvironmentVariable("VELORIN_SCREENSHOTS");
    if (out.isEmpty()) QSKIP("set VELORIN_SCREENSHOTS to a folder to write the page images");
    for (const QString& language : {QStringLiteral("English"), QStringLiteral("Japanese")}) {
      ui::WindowStart s = start(language);
      s.settings.conversion.OFmt = 1;
      ui::MainWindow window(std::move(s));
      window.show();
      auto* tabs = control<QTabWidget>(window, 1030);
      for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QCoreApplication::processEvents();
        window.grab().save(QStringLiteral("%1/page%2-%3.png").arg(out).arg(i).arg(language));
      }
      control<QComboBox>(window, 1104)->setCurrentIndex(2);
      tabs->setCurrentIndex(0);
      QCoreApplication::processEvents();
      window.grab().save(QStringLiteral("%1/page0-jpeg-%2.png").arg(out, language));
      control<QCheckBox>(window, 1105)->setChecked(true);
      QCoreApplication::processEvents();
      window.grab().save(QStringLiteral("%1/page0-lossless-%2.png").arg(out, language));
    }
  }
};

QTEST_MAIN(SettingsPagesTest)
#include "settings_pages_test.moc"
