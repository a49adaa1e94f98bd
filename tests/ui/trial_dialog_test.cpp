// The trial conversion window opened from the main window: the entry it opens on, the arrow
// keys, fitting a large result on the screen, and the title.
#include <QDialog>
#include <QImage>
#include <QtTest>

#include "engine/file_list.h"
#include "settings/settings_store.h"
#include "support/ui_test_support.h"
#include "ui/main_window.h"
#include "ui/page_file_list.h"
#include "ui/trial_dialog.h"

using namespace velorin;
using test::control;

class TrialDialogTest : public QObject {
  Q_OBJECT

  test::ProgramFolder program_;

  struct Window {
    QTemporaryDir folder;
    QString in() const { return folder.filePath("in"); }
    QString out() const { return folder.filePath("out"); }
    std::unique_ptr<ui::MainWindow> window;
    QList<int> messages;

    Window(const test::ProgramFolder& program, StoredSettings stored) {
      QDir().mkpath(in());
      QDir().mkpath(out());
      window = std::make_unique<ui::MainWindow>(test::englishStart(program, folder.filePath("Velorin.ini"), stored));
    }
    void open() {
      window->presentMessage = [this](const JobMessage& message) {
        messages << message.id;
        return true;
      };
      window->show();
      window->dropPaths(control(*window, 1013), {in()});
      window->dropPaths(control(*window, 1014), {out()});
    }
    // Presses the trial button; inspect runs while the dialog is open.
    void trial(const std::function<void(ui::TrialDialog&)>& inspect) {
      window->presentDialog = [&](QDialog& dialog) {
        inspect(static_cast<ui::TrialDialog&>(dialog));
        return false;
      };
      QTest::mouseClick(control(*window, 1021), Qt::LeftButton);
    }
  };

  static StoredSettings jpegSettings() {
    StoredSettings stored;
    stored.conversion.OFmt = 2;
    return stored;
  }

 private slots:
  void opensAtThePreviewAndStepsThroughTheSelection() {
    Window w(program_, jpegSettings());
    for (int i = 1; i <= 6; ++i) test::writeGoodBmp(w.in() + QStringLiteral("/%1.bmp").arg(i));
    w.open();
    std::vector<FileEntry>& entries = w.window->fileList().entries();
    QCOMPARE(entries.size(), size_t{6});
    entries[5].selected = false;
    static_cast<ui::FileListPage*>(w.window->page(1))->showPreview(2);
    QList<qsizetype> shown;
    w.trial([&](ui::TrialDialog& dialog) {
      shown << dialog.currentEntry();
      for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Right, Qt::Key_Down, Qt::Key_Left, Qt::Key_Up}) {
        QTest::keyClick(&dialog, key);
        shown << dialog.currentEntry();
      }
      QTest::mouseClick(dialog.pane(), Qt::LeftButton);  // like Down
      shown << dialog.currentEntry();
    });
    // Down on the last selected entry and Up on the first change nothing.
    QCOMPARE(shown, (QList<qsizetype>{2, 3, 4, 4, 0, 0, 1}));
    QVERIFY(w.messages.isEmpty());
    QVERIFY(QDir(w.out()).isEmpty());
    QCOMPARE(QDir(w.in()).entryList(QDir::Files).size(), 6);
  }

  void aLargeResultFitsTheScreenHeight() {
    Window w(program_, jpegSettings());
    QImage photo(4000, 3000, QImage::Format_RGB888);
    photo.fill(qRgb(40, 120, 200));
    QVERIFY(photo.save(w.in() + "/big.jpg", "JPEG"));
    test::writeGoodBmp(w.in() + "/small.bmp");
    w.open();
    w.window->trialWorkArea = QRect(0, 0, 1920, 1080);
    QString title;
    QSize pane;
    double scale = 0;
    QRect placed;
    w.trial([&](ui::TrialDialog& dialog) {
      title = dialog.windowTitle();
      pane = dialog.pane()->size();
      scale = dialog.scale();
      placed = dialog.geometry();
    });
    QVERIFY2(title.startsWith(QString::number(std::lround(scale * 100)) + "% / "), qPrintable(title));
    QVERIFY(scale < 1);
    QCOMPARE(pane.height(), static_cast<int>(std::lround(3000 * scale)));
    QCOMPARE(pane.width(), static_cast<int>(std::lround(4000 * scale)));
    QVERIFY(pane.height() > 900);  // the height is what limits it
    QVERIFY2(QRect(0, 0, 1920, 1080).contains(placed), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                 .arg(placed.x()).arg(placed.y())
                                                                 .arg(placed.width()).arg(placed.height())));
  }

  void theTitleGivesTheOutputSizeInWholeKilobytes() {
    StoredSettings stored;
    stored.conversion.OFmt = 0;  // BMP: the output's size is known from its shape
    Window w(program_, stored);
    QImage picture(700, 500, QImage::Format_RGB888);
    picture.fill(Qt::white);
    QVERIFY(picture.save(w.in() + "/a.bmp", "BMP"));
    w.open();
    QString title;
    QSize shownSize;
    w.trial([&](ui::TrialDialog& dialog) {
      title = dialog.windowTitle();
      shownSize = dialog.pane()->picture().size();
    });
    const qint64 bytes = 54 + 700 * 3 * 500;  // rows of 2100 bytes need no padding
    QCOMPARE(title, QStringLiteral("100% / 1,025KB  Left click: next file   Right click: close"));
    QCOMPARE(bytes / 1024, 1025);
    QCOMPARE(shownSize, QSize(700, 500));
  }

  void aFailingEntryShowsAMessageAndAFailingFirstOneOpensNothing() {
    StoredSettings stored;
    stored.conversion.OFmt = 0;
    Window w(program_, stored);
    test::writeBrokenBmp(w.in() + "/a.bmp");
    test::writeGoodBmp(w.in() + "/b.bmp");
    w.open();
    int opened = 0;
    QString title;
    w.trial([&](ui::TrialDialog&) { ++opened; });
    QCOMPARE(opened, 0);
    QCOMPARE(w.messages, QList<int>{30010});

    static_cast<ui::FileListPage*>(w.window->page(1))->showPreview(1);
    w.trial([&](ui::TrialDialog& dialog) {
      ++opened;
      title = dialog.windowTitle();
      QTest::keyClick(&dialog, Qt::Key_Left);  // the broken one: a message, the picture stays
      QCOMPARE(dialog.currentEntry(), 1);
      QCOMPARE(dialog.windowTitle(), title);
      QVERIFY(!dialog.pane()->picture().isNull());
    });
    QCOMPARE(opened, 1);
    QCOMPARE(w.messages, (QList<int>{30010, 30010}));
  }
};

QTEST_MAIN(TrialDialogTest)
#include "trial_dialog_test.moc"
