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
#include <QRadioButton>
#include <QPlainTextEdit>
#include <QDialogButtonBox>
#include <QtTest>

#include "engine/file_list.h"
#include "engine/language.h"
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


// A folder of files for the list: name and size in bytes.
void writeFiles(const QString& folder, std::initializer_list<std::pair<const char*, qsizetype>> files) {
  for (const auto& [name, size] : files) {
    QFile file(QDir(folder).filePath(QString::fromUtf8(name)));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(size, 'x'));
  }
}

QStringList listedNames(QWidget& window) {
  QAbstractItemModel* model = control<QTreeView>(window, 1201)->model();
  QStringList names;
  for (int row = 0; row < model->rowCount(); ++row) names.append(model->index(row, 0).data().toString());
  return names;
}

// Runs answer on the next modal dialog that opens.
void whenDialogOpens(std::function<void(QDialog*)> answer) {
  QTimer::singleShot(0, [answer] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    QVERIFY(dialog);
    answer(dialog);
  });
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

  void gifOutputHidesAndDisablesWhatGifLacks() {
    ui::MainWindow window(start());
    window.show();
    control<QComboBox>(window, 1104)->setCurrentIndex(4);
    QCOMPARE(window.settings().conversion.OFmt, 4);
    QVERIFY(!control(window, 1113)->isVisible());
    QVERIFY(!control(window, 1121)->isVisible());
    control<QTabWidget>(window, 1030)->setCurrentIndex(2);
    QCOMPARE(control<QComboBox>(window, 1301)->currentIndex(), 4);
    QVERIFY(!control(window, 1316)->isEnabled());
    QVERIFY(!control(window, 1317)->isEnabled());
    QVERIFY(!control(window, 1318)->isEnabled());
    QVERIFY(control(window, 1314)->isEnabled());
    auto* depth = control<QComboBox>(window, 1312);
    QCOMPARE(depth->count(), 5);
    QCOMPARE(depth->itemText(0), QStringLiteral("Keep"));
    QCOMPARE(depth->itemText(1), QStringLiteral("256 colours"));
  }

  void numberFieldsAreCorrectedWhenLeft() {
    ui::MainWindow window(start());
    window.show();
    QApplication::setActiveWindow(&window);
    control<QComboBox>(window, 1104)->setCurrentIndex(2);
    auto* quality = control<QLineEdit>(window, 1121);
    typeAndLeave(quality, QStringLiteral("150"));
    QCOMPARE(quality->text(), QStringLiteral("100"));
    typeAndLeave(quality, QStringLiteral("0"));
    QCOMPARE(quality->text(), QStringLiteral("1"));
    QCOMPARE(window.settings().conversion.Quality, 1);
    control<QComboBox>(window, 1162)->setCurrentIndex(2);
    auto* digits = control<QLineEdit>(window, 1164);
    typeAndLeave(digits, QStringLiteral("9"));
    QCOMPARE(digits->text(), QStringLiteral("5"));
    auto* start = control<QLineEdit>(window, 1171);
    start->setFocus();
    start->clear();
    QTest::keyClick(start, Qt::Key_Tab);
    QCOMPARE(start->text(), QStringLiteral("0"));
  }

  void adjustmentFieldMovesItsSliderAtOnce() {
    ui::MainWindow window(start());
    window.show();
    QApplication::setActiveWindow(&window);
    control<QTabWidget>(window, 1030)->setCurrentIndex(2);
    auto* field = control<QLineEdit>(window, 1361);
    auto* slider = control<QSlider>(window, 1363);
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("300"));
    QCOMPARE(slider->value(), 255);
    QCOMPARE(field->text(), QStringLiteral("300"));
    QTest::keyClick(field, Qt::Key_Tab);
    QCOMPARE(field->text(), QStringLiteral("255"));
    QCOMPARE(window.settings().conversion.HlsSVal, 255);
    slider->setValue(-40);
    QCOMPARE(field->text(), QStringLiteral("-40"));
    QCOMPARE(window.settings().conversion.HlsSVal, -40);
  }

  void recycleNeedsDeletion() {
    ui::WindowStart s = start();
    s.settings.conversion.Recycle = true;
    ui::MainWindow window(std::move(s));
    window.show();
    auto* recycle = control<QCheckBox>(window, 1181);
    QVERIFY(recycle->isChecked());
    QVERIFY(!recycle->isEnabled());
    control<QCheckBox>(window, 1180)->setChecked(true);
    QVERIFY(recycle->isEnabled());
  }

  void resetKeepsDitherAndLevels() {
    ui::WindowStart s = start();
    ConversionSettings& c = s.settings.conversion;
    c.OFmt = 1;
    c.DepOpt = 2;
    c.Dither = c.Trans = c.Interlace = c.GamOpt = true;
    c.GamVal = 30;
    ui::MainWindow window(std::move(s));
    window.show();
    auto* summary = control<QLabel>(window, 1191);
    QCOMPARE(summary->text(), QStringLiteral("Colour depth, Transparency, Interlace, Gamma"));
    QTest::mouseClick(control<QPushButton>(window, 1192), Qt::LeftButton);
    QCOMPARE(summary->text(), QStringLiteral("(none)"));
    const ConversionSettings& after = window.settings().conversion;
    QVERIFY(after.Dither);
    QCOMPARE(after.GamVal, 30);
    QVERIFY(!after.GamOpt && !after.Trans && after.DepOpt == 0);
    QVERIFY(control<QCheckBox>(window, 1313)->isChecked());
    QVERIFY(!control<QCheckBox>(window, 1340)->isChecked());
    QCOMPARE(control<QLineEdit>(window, 1341)->text(), QStringLiteral("30"));
    QCOMPARE(control<QComboBox>(window, 1312)->currentIndex(), 0);
  }

  void losslessTransformOnAndOff() {
    ui::WindowStart s = start();
    s.settings.conversion.OFmt = 1;
    s.settings.conversion.DepOpt = 4;
    ui::MainWindow window(std::move(s));
    window.show();
    control<QCheckBox>(window, 1105)->setChecked(true);
    QCOMPARE(control<QComboBox>(window, 1102)->currentIndex(), 3);
    QCOMPARE(control<QComboBox>(window, 1221)->currentIndex(), 3);
    QCOMPARE(control<QComboBox>(window, 1104)->currentIndex(), 2);
    QVERIFY(control<QCheckBox>(window, 1302)->isChecked());
    QVERIFY(control(window, 1130)->isVisible());
    QVERIFY(!control(window, 1121)->isVisible());
    QVERIFY(!control(window, 1142)->isEnabled());
    QVERIFY(!control(window, 1148)->isEnabled());
    QVERIFY(!control(window, 1331)->isEnabled());
    QVERIFY(!control(window, 1360)->isEnabled());
    QCOMPARE(control<QComboBox>(window, 1312)->count(), 3);
    QCOMPARE(window.settings().conversion.DepOpt, 0);

    control<QCheckBox>(window, 1302)->setChecked(false);
    QVERIFY(!control<QCheckBox>(window, 1105)->isChecked());
    QVERIFY(control(window, 1142)->isEnabled());
    QVERIFY(control(window, 1360)->isEnabled());
    QVERIFY(!control(window, 1130)->isVisible());
    QVERIFY(control(window, 1121)->isVisible());
  }

  void fileListShowsTheFolderAsFiltered() {
    QTemporaryDir input;
    writeFiles(input.path(), {{"a.JPG", 1}, {"b.jpeg", 1234567}, {"c.jpgx", 1}, {".d.jpg", 1},
                              {"img10.png", 1}, {"img2.png", 1}});
    ui::WindowStart s = start();
    s.settings.conversion.IFmt = 3;
    ui::MainWindow window(std::move(s));
    window.show();
    QVERIFY(window.fileList().setInputPath(input.path(), ListOptions::from(window.settings().conversion, 2)));
    window.rebuildFileList();
    QCOMPARE(listedNames(window), (QStringList{QStringLiteral("a.JPG"), QStringLiteral("b.jpeg")}));
    QAbstractItemModel* model = control<QTreeView>(window, 1201)->model();
    QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("1 KB"));
    QCOMPARE(model->index(1, 1).data().toString(), QStringLiteral("1,206 KB"));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                .match(model->index(0, 2).data().toString()).hasMatch());
    QCOMPARE(control<QLabel>(window, 1231)->text(), QStringLiteral("2"));

    control<QComboBox>(window, 1221)->setCurrentIndex(2);
    QCOMPARE(listedNames(window), (QStringList{QStringLiteral("img2.png"), QStringLiteral("img10.png")}));
    QCOMPARE(control<QComboBox>(window, 1102)->currentIndex(), 2);

    // Check boxes: clicking none and all sets every entry.
    QTest::mouseClick(control<QPushButton>(window, 1203), Qt::LeftButton);
    QCOMPARE(window.fileList().selectedCount(), 0);
    QTest::mouseClick(control<QPushButton>(window, 1202), Qt::LeftButton);
    QCOMPARE(window.fileList().selectedCount(), 2);
    model->setData(model->index(1, 0), Qt::Unchecked, Qt::CheckStateRole);
    QVERIFY(!window.fileList().entries()[1].selected);

    // The filters take part only for the user's extensions, and a field counts once it is left.
    QApplication::setActiveWindow(&window);
    control<QTabWidget>(window, 1030)->setCurrentIndex(1);
    QVERIFY(!control(window, 1240)->isEnabled());
    control<QComboBox>(window, 1221)->setCurrentIndex(6);
    QVERIFY(control(window, 1250)->isEnabled());
    control<QCheckBox>(window, 1240)->setChecked(true);
    typeAndLeave(control<QLineEdit>(window, 1250), QStringLiteral("jpgx"));
    QCOMPARE(listedNames(window), QStringList{QStringLiteral("c.jpgx")});
  }

  void aFileDeletedElsewhereLeavesTheListBeforeTheNextJob() {
    QTemporaryDir input;
    writeFiles(input.path(), {{"a.jpg", 10}, {"b.jpg", 10}});
    ui::MainWindow window(start());
    window.show();
    QVERIFY(window.fileList().setInputPath(input.path(), ListOptions::from(window.settings().conversion, 2)));
    window.rebuildFileList();
    QCOMPARE(listedNames(window).size(), 2);
    QVERIFY(QFile::remove(input.filePath(QStringLiteral("a.jpg"))));
    // What every job does first: the changed folder is read again and the job stops (30008).
    QVERIFY(!window.fileList().keepInStep());
    window.rebuildFileList();
    QCOMPARE(listedNames(window), QStringList{QStringLiteral("b.jpg")});
  }

  void choosingARowPreviewsIt() {
    QTemporaryDir input;
    QImage picture(6, 4, QImage::Format_RGB888);
    picture.fill(QColor(10, 200, 30));
    QVERIFY(picture.save(input.filePath(QStringLiteral("p.bmp"))));
    ui::MainWindow window(start());
    window.show();
    QVERIFY(window.fileList().setInputPath(input.path(), ListOptions::from(window.settings().conversion, 2)));
    window.rebuildFileList();
    auto* view = control<QTreeView>(window, 1201);
    view->setCurrentIndex(view->model()->index(0, 0));
    QCOMPARE(control<QLabel>(window, 1261)->text(), QStringLiteral("p.bmp"));
    QCOMPARE(control<QLabel>(window, 1262)->text(), QStringLiteral("6 x 4  24bit"));
    auto* page = qobject_cast<ui::FileListPage*>(window.page(1));
    QVERIFY(page->preview().loaded());
    window.rebuildFileList();
    QVERIFY(!page->preview().loaded());
    QVERIFY(control<QLabel>(window, 1262)->text().isEmpty());
  }

  void applyingAPresetUpdatesEveryPageAndTheList() {
    QTemporaryDir input;
    writeFiles(input.path(), {{"x.gif", 5}, {"y.png", 5}});
    ui::WindowStart s = start();
    Preset& preset = s.settings.presets[1];
    preset.defined = true;
    preset.name = QStringLiteral("Web");
    preset.inputPath = input.path();
    preset.settings.IFmt = 5;
    preset.settings.OFmt = 4;
    preset.settings.Quality = 42;
    preset.settings.HlsHOpt = true;
    preset.settings.HlsHVal = -90;
    ui::MainWindow window(std::move(s));
    window.show();
    auto* presets = control<QComboBox>(window, 1183);
    QCOMPARE(presets->itemText(2), QStringLiteral("Web"));
    QCOMPARE(presets->itemText(1), QStringLiteral("-"));
    emit presets->activated(2);
    QCOMPARE(presets->currentIndex(), 0);
    QCOMPARE(control<QComboBox>(window, 1104)->currentIndex(), 4);
    QCOMPARE(control<QComboBox>(window, 1301)->currentIndex(), 4);
    QCOMPARE(control<QComboBox>(window, 1221)->currentIndex(), 5);
    QCOMPARE(control<QLineEdit>(window, 1121)->text(), QStringLiteral("42"));
    QVERIFY(control<QCheckBox>(window, 1370)->isChecked());
    QCOMPARE(control<QSlider>(window, 1373)->value(), -90);
    QCOMPARE(listedNames(window), QStringList{QStringLiteral("x.gif")});
  }

  void savingAPresetTakesTheNameAndTheFields() {
    ui::MainWindow window(start());
    window.show();
    control<QComboBox>(window, 1104)->setCurrentIndex(2);
    control<QLineEdit>(window, 1121)->setText(QStringLiteral("64"));  // typed, not yet left
    whenDialogOpens([](QDialog* dialog) {
      QVERIFY(dialog->findChild<QRadioButton*>(QStringLiteral("c2311"))->isChecked());
      dialog->findChild<QLineEdit*>(QStringLiteral("c2321"))->setText(QStringLiteral("Mine"));
      dialog->accept();
    });
    emit control<QComboBox>(window, 1183)->activated(6);
    const Preset& saved = window.settings().presets[0];
    QVERIFY(saved.defined);
    QCOMPARE(saved.name, QStringLiteral("Mine"));
    QCOMPARE(saved.settings.Quality, 64);
    QCOMPARE(control<QComboBox>(window, 1183)->itemText(1), QStringLiteral("Mine"));

    // An empty name on the defined preset forgets it; the next free one is marked first.
    whenDialogOpens([](QDialog* dialog) {
      QVERIFY(dialog->findChild<QRadioButton*>(QStringLiteral("c2312"))->isChecked());
      dialog->findChild<QRadioButton*>(QStringLiteral("c2311"))->click();
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("c2321"));
      QCOMPARE(name->text(), QStringLiteral("Mine"));
      name->clear();
      dialog->accept();
    });
    emit control<QComboBox>(window, 1183)->activated(6);
    QVERIFY(!window.settings().presets[0].defined);
    QCOMPARE(control<QComboBox>(window, 1183)->itemText(1), QStringLiteral("-"));
  }

  void commentDialogKeepsTheTextOnCancel() {
    ui::WindowStart s = start();
    s.settings.conversion.CmtStr1 = QStringLiteral("old");
    ui::MainWindow window(std::move(s));
    window.show();
    control<QTabWidget>(window, 1030)->setCurrentIndex(2);
    auto* edit = control<QPushButton>(window, 1319);
    whenDialogOpens([](QDialog* dialog) {
      auto* field = dialog->findChild<QPlainTextEdit*>(QStringLiteral("c2202"));
      QCOMPARE(field->toPlainText(), QStringLiteral("old"));
      field->setPlainText(QStringLiteral("dropped"));
      dialog->reject();
    });
    edit->click();
    QCOMPARE(window.settings().conversion.CmtStr1, QStringLiteral("old"));
    whenDialogOpens([](QDialog* dialog) {
      dialog->findChild<QPlainTextEdit*>(QStringLiteral("c2202"))->setPlainText(QString(5000, QLatin1Char('c')));
      dialog->accept();
    });
    edit->click();
    QCOMPARE(window.settings().conversion.CmtStr1, QString(4095, QLatin1Char('c')));
  }

  void pageValuesSurviveClosingAndReopening() {
    {
      ui::MainWindow window(start());
      window.show();
      control<QComboBox>(window, 1104)->setCurrentIndex(2);
      QApplication::setActiveWindow(&window);
      typeAndLeave(control<QLineEdit>(window, 1121), QStringLiteral("61"));
      typeAndLeave(control<QLineEdit>(window, 1174), QStringLiteral("pre_"));
      control<QCheckBox>(window, 1313)->setChecked(true);
      control<QCheckBox>(window, 1404)->setChecked(false);
      window.close();
    }
    const StoredSettings stored = loadSettingsFile(folder_.filePath(QStringLiteral("Velorin.ini")), QString()).settings;
    QCOMPARE(stored.conversion.Quality, 61);
    QCOMPARE(stored.conversion.TopStr, QStringLiteral("pre_"));
    QVERIFY(stored.conversion.Dither);
    QVERIFY(!stored.application.TipAct);
    ui::WindowStart again = start();
    again.settings = stored;
    ui::MainWindow window(std::move(again));
    QCOMPARE(control<QLineEdit>(window, 1121)->text(), QStringLiteral("61"));
    QCOMPARE(control<QLineEdit>(window, 1174)->text(), QStringLiteral("pre_"));
    QVERIFY(control<QCheckBox>(window, 1313)->isChecked());
    QVERIFY(!control<QCheckBox>(window, 1404)->isChecked());
    QFile::remove(folder_.filePath(QStringLiteral("Velorin.ini")));
  }

  void languageSwitchRelabelsEveryPage() {
    ui::MainWindow window(start());
    window.show();
    LanguageModule japanese;
    QVERIFY(japanese.load(QStringLiteral(VELORIN_SOURCE_DIR "/lang/Japanese.lng")));
    auto* selector = control<QComboBox>(window, 1451);
    const int index = selector->findText(QStringLiteral("Japanese"));
    QVERIFY(index >= 0);
    selector->setCurrentIndex(index);
    emit selector->activated(index);
    QCOMPARE(window.settings().application.LangFile, QStringLiteral("Japanese"));
    for (int id : {1105, 1202, 1313, 1401, 1502}) {
      auto* button = control<QAbstractButton>(window, id);
      QVERIFY2(button, qPrintable(QString::number(id)));
      QCOMPARE(button->text(), japanese.text(id));
    }
    QCOMPARE(control<QComboBox>(window, 1102)->itemText(0), japanese.text(1107));
    QCOMPARE(control<QLabel>(window, 1191)->text(), japanese.text(20023));
  }

  void everyPageControlHasACaptionInBothLanguages() {
    ui::MainWindow window(start());
    LanguageModule english, japanese;
    QVERIFY(english.load(QStringLiteral(VELORIN_SOURCE_DIR "/lang/English.lng")));
    QVERIFY(japanese.load(QStringLiteral(VELORIN_SOURCE_DIR "/lang/Japanese.lng")));
    int checked = 0;
    for (int page = 0; page < ui::MainWindow::kPageCount; ++page) {
      for (QWidget* w : window.page(page)->findChildren<QWidget*>()) {
        const QString name = w->objectName();
        if (!name.startsWith(QLatin1Char('c'))) continue;
        const int id = name.mid(1).toInt();
        if (id < 1100 || id > 1506) continue;
        QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(name));
        QVERIFY2(english.has(id) && japanese.has(id), qPrintable(name));
        ++checked;
      }
    }
    QVERIFY2(checked > 120, qPrintable(QString::number(checked)));
    for (int id = 1100; id <= 1506; ++id) QCOMPARE(english.has(id), japanese.has(id));
    for (int id = 2200; id <= 2399; ++id) QCOMPARE(english.has(id), japanese.has(id));
  }
  void screenshots() {
    // Every page renders in both languages; VELORIN_SCREENSHOTS keeps the images in a folder.
    QTemporaryDir scratch;
    const QString wanted = qEnvironmentVariable("VELORIN_SCREENSHOTS");
    const QString out = wanted.isEmpty() ? scratch.path() : wanted;
    QTemporaryDir input;
    QImage picture(64, 48, QImage::Format_RGB888);
    picture.fill(QColor(40, 120, 200));
    picture.save(input.filePath(QStringLiteral("harbour.bmp")));
    writeFiles(input.path(), {{"img2.png", 1}, {"img10.png", 1234567}});
    for (const QString& language : {QStringLiteral("English"), QStringLiteral("Japanese")}) {
      ui::WindowStart s = start(language);
      s.settings.conversion.OFmt = 1;
      s.settings.application.SPI = QStringLiteral(VELORIN_BINARY_DIR "/bin/plugins");
      ui::MainWindow window(std::move(s));
      window.show();
      window.fileList().setInputPath(input.path(), ListOptions::from(window.settings().conversion, 2));
      window.rebuildFileList();
      auto* view = control<QTreeView>(window, 1201);
      view->setCurrentIndex(view->model()->index(0, 0));
      auto* tabs = control<QTabWidget>(window, 1030);
      for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QCoreApplication::processEvents();
        QVERIFY(window.grab().save(QStringLiteral("%1/page%2-%3.png").arg(out).arg(i).arg(language)));
      }
      control<QComboBox>(window, 1104)->setCurrentIndex(2);
      tabs->setCurrentIndex(0);
      QCoreApplication::processEvents();
      QVERIFY(window.grab().save(QStringLiteral("%1/page0-jpeg-%2.png").arg(out, language)));
      control<QCheckBox>(window, 1105)->setChecked(true);
      QCoreApplication::processEvents();
      QVERIFY(window.grab().save(QStringLiteral("%1/page0-lossless-%2.png").arg(out, language)));
    }
  }
};

QTEST_MAIN(SettingsPagesTest)
#include "settings_pages_test.moc"
