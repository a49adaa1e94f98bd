// The window's job: run on a worker thread through the window's host, reported in the title or
// a message, cancelled with a question, and converting exactly what the headless mode converts.
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QDialog>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <dlfcn.h>

#include "engine/language.h"
#include "sources/plugins/fake_unrar.h"
#include "settings/settings_store.h"
#include "support/ui_test_support.h"
#include "ui/main_window.h"

using namespace velorin;
using test::control;

class WindowJobTest : public QObject {
  Q_OBJECT

  test::ProgramFolder program_;

  struct Run {
    QTemporaryDir folder;
    QString in() const { return folder.filePath("in"); }
    QString out() const { return folder.filePath("out"); }
    QString settings() const { return folder.filePath("Velorin.ini"); }
    Run() {
      QDir().mkpath(in());
      QDir().mkpath(out());
    }
  };

  // A window on run's folders, with every message recorded and answered by answer.
  struct Window {
    ui::MainWindow window;
    QList<JobMessage> messages;
    std::function<bool(const JobMessage&)> answer = [](const JobMessage&) { return true; };

    QList<EntryReport> reports;

    Window(ui::WindowStart start, const Run& run) : window(std::move(start)) {
      QObject::connect(&window.job().host(), &ui::WindowJobHost::entryDone, &window,
                       [this](const EntryReport& report) { reports << report; });
      window.presentMessage = [this](const JobMessage& message) {
        messages << message;
        return answer(message);
      };
      window.show();
      window.dropPaths(control(window, 1013), {run.in()});
      window.dropPaths(control(window, 1014), {run.out()});
    }
    JobResult convert() {
      QSignalSpy finished(&window.job(), &ui::WindowJob::finished);
      QTest::mouseClick(control(window, 1023), Qt::LeftButton);
      if (!finished.wait(60000)) return {};
      return finished.first().first().value<JobResult>();
    }
  };

  StoredSettings bmpSettings(bool endMessage) {
    StoredSettings stored;
    stored.conversion.OFmt = 0;
    stored.application.EndMes = endMessage;
    return stored;
  }

 private slots:
  void fiveEntriesTwoFailingReportInTheTitle() {
    Run run;
    for (const char* name : {"a.bmp", "c.bmp", "e.bmp"}) test::writeGoodBmp(run.in() + "/" + name);
    for (const char* name : {"b.bmp", "d.bmp"}) test::writeBrokenBmp(run.in() + "/" + name);
    Window w(test::englishStart(program_, run.settings(), bmpSettings(false)), run);
    QSignalSpy titles(&w.window.job().host(), &ui::WindowJobHost::titleChanged);
    const JobResult result = w.convert();
    QCOMPARE(result.selected, 5);
    QCOMPARE(result.converted, 3);
    QCOMPARE(w.window.windowTitle(), QStringLiteral("Conversion finished    3/5 (Converted files/Selected files)"));
    QCOMPARE(titles.first().first().toString(), QStringLiteral("Velorin - converting..."));
    QVERIFY(w.messages.isEmpty());
    QCOMPARE(QDir(run.out()).entryList(QDir::Files), (QStringList{"a.bmp", "c.bmp", "e.bmp"}));
    // Everything is usable again, with the convert button's own text.
    QCOMPARE(control<QPushButton>(w.window, 1023)->text(), QStringLiteral("Convert"));
    QVERIFY(control(w.window, 1021)->isEnabled());
    QVERIFY(w.window.page(0)->isEnabled());
  }

  void cancelAfterTheSecondEntry() {
    Run run;
    for (int i = 1; i <= 5; ++i) test::writeGoodBmp(run.in() + QStringLiteral("/%1.bmp").arg(i));
    Window w(test::englishStart(program_, run.settings(), bmpSettings(true)), run);
    w.window.jobThreads = 1;
    int finishedEntries = 0;
    connect(&w.window.job().host(), &ui::WindowJobHost::entryDone, this, [&](const EntryReport&) {
      if (++finishedEntries == 2) w.window.job().host().requestCancel();
    }, Qt::DirectConnection);
    JobResult result = w.convert();
    QVERIFY(result.cancelled);
    QCOMPARE(result.converted, 2);
    QCOMPARE(QDir(run.out()).entryList(QDir::Files).size(), 2);
    QCOMPARE(w.messages.size(), 2);
    QCOMPARE(w.messages[0].id, 20304);
    QCOMPARE(w.messages[0].buttons, MessageButtons::YesNo);
    QCOMPARE(w.messages[1].caption, QStringLiteral("Conversion finished"));
    QCOMPARE(w.messages[1].text, QStringLiteral("Selected files  5\nConverted files  2"));

    // Answered No, the job goes on to the end and asks no more.
    for (const QString& name : QDir(run.out()).entryList(QDir::Files)) QFile::remove(run.out() + "/" + name);
    w.messages.clear();
    finishedEntries = 0;
    w.answer = [](const JobMessage& message) { return message.id != 20304; };
    result = w.convert();
    QVERIFY(!result.cancelled);
    QCOMPARE(result.converted, 5);
    QCOMPARE(w.messages.size(), 2);
  }

  void closingDuringAJobAsksAndClosesAfterIt() {
    Run run;
    for (int i = 1; i <= 5; ++i) test::writeGoodBmp(run.in() + QStringLiteral("/%1.bmp").arg(i));
    Window w(test::englishStart(program_, run.settings(), bmpSettings(false)), run);
    w.window.jobThreads = 1;
    QSignalSpy finished(&w.window.job(), &ui::WindowJob::finished);
    // The job waits at its first entry's end until the window has asked.
    bool asked = false;
    QMutex gate;
    gate.lock();
    connect(&w.window.job().host(), &ui::WindowJobHost::entryDone, this, [&](const EntryReport&) {
      if (!asked) {
        gate.lock();
        gate.unlock();
      }
    }, Qt::DirectConnection);
    QTest::mouseClick(control(w.window, 1023), Qt::LeftButton);
    QVERIFY(w.window.jobRunning());
    w.window.close();
    asked = true;
    gate.unlock();
    QCOMPARE(w.messages.size(), 1);
    QCOMPARE(w.messages[0].id, 20304);
    QVERIFY(w.window.isVisible());  // it closes once the job has ended
    QVERIFY(finished.wait(60000));
    QTRY_VERIFY(!w.window.isVisible());
    QVERIFY(finished.first().first().value<JobResult>().cancelled);
    QVERIFY(QFile::exists(run.settings()));
  }

  void namePreviewShowsTheNamesAndConvertsOnOk() {
    Run run;
    test::writeGoodBmp(run.in() + "/a.bmp");
    test::writeGoodBmp(run.in() + "/b.bmp");
    test::writeGoodBmp(run.out() + "/a.bmp");  // taken: the new one becomes a+1.bmp
    Window w(test::englishStart(program_, run.settings(), bmpSettings(false)), run);
    QStringList shown;
    bool convert = false;
    w.window.presentDialog = [&](QDialog& dialog) {
      auto* table = dialog.findChild<QTableWidget*>(QStringLiteral("names"));
      shown.clear();
      for (int row = 0; row < table->rowCount(); ++row)
        shown << table->item(row, 0)->text() + " -> " + table->item(row, 1)->text();
      shown << table->horizontalHeaderItem(1)->text();
      return convert;
    };
    QTest::mouseClick(control(w.window, 1022), Qt::LeftButton);
    QCOMPARE(shown, (QStringList{"a.bmp -> a+1.bmp", "b.bmp -> b.bmp", "Output name"}));
    QVERIFY(!w.window.jobRunning());
    QCOMPARE(QDir(run.out()).entryList(QDir::Files).size(), 1);

    convert = true;
    QSignalSpy finished(&w.window.job(), &ui::WindowJob::finished);
    QTest::mouseClick(control(w.window, 1022), Qt::LeftButton);
    QVERIFY(finished.wait(60000));
    QCOMPARE(QDir(run.out()).entryList(QDir::Files), (QStringList{"a+1.bmp", "a.bmp", "b.bmp"}));

    // Nothing checked: the job's own message, and no dialog.
    for (FileEntry& entry : w.window.fileList().entries()) entry.selected = false;
    shown.clear();
    QTest::mouseClick(control(w.window, 1022), Qt::LeftButton);
    QVERIFY(shown.isEmpty());
    QCOMPARE(w.messages.last().id, 30006);
  }

  // The rows equal the files the job then writes, in the sub-folder, with "+n" for taken names.
  void namePreviewNamesAreTheNamesWritten() {
    Run run;
    StoredSettings stored = bmpSettings(false);
    stored.conversion.MkDirAdd = true;
    stored.conversion.MkDirStr = QStringLiteral("sub");
    stored.conversion.TopAdd = true;
    stored.conversion.TopStr = QStringLiteral("t_");
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) test::writeGoodBmp(run.in() + "/" + name);
    QDir().mkpath(run.out() + "/sub");
    for (const char* name : {"t_a.bmp", "t_a+1.bmp", "t_c+1.bmp"}) test::writeGoodBmp(run.out() + "/sub/" + name);
    Window w(test::englishStart(program_, run.settings(), stored), run);
    QStringList listed;
    w.window.presentDialog = [&](QDialog& dialog) {
      auto* table = dialog.findChild<QTableWidget*>(QStringLiteral("names"));
      for (int row = 0; row < table->rowCount(); ++row) listed << table->item(row, 1)->text();
      return true;
    };
    QSignalSpy finished(&w.window.job(), &ui::WindowJob::finished);
    QTest::mouseClick(control(w.window, 1022), Qt::LeftButton);
    QCOMPARE(listed, (QStringList{"t_a+2.bmp", "t_b.bmp", "t_c.bmp"}));
    QVERIFY(finished.wait(60000));
    QStringList written;
    for (const EntryReport& report : std::as_const(w.reports)) written << QFileInfo(report.outputPath).fileName();
    QCOMPARE(written, listed);
    QCOMPARE(QDir(run.out()).entryList(QDir::Files), QStringList{});
  }

  // An encrypted RAR member converts once the password is typed into the dialog the job asks for.
  void anEncryptedRarMemberConvertsWithThePasswordTyped() {
    const QString fakeFolder = QStringLiteral(VELORIN_BINARY_DIR "/test-plugins/fake-unrar");
    void* fake = dlopen(QFile::encodeName(fakeFolder + "/libunrar.so").constData(), RTLD_NOW);
    QVERIFY2(fake, dlerror());
    auto setup = reinterpret_cast<FakeRarSetupFunction>(dlsym(fake, "fakeUnrarSetup"));
    Run run;
    test::writeGoodBmp(run.folder.filePath("member.bmp"));
    QFile memberFile(run.folder.filePath("member.bmp"));
    QVERIFY(memberFile.open(QIODevice::ReadOnly));
    const QByteArray member = memberFile.readAll();
    const auto* bytes = reinterpret_cast<const unsigned char*>(member.constData());
    const auto size = static_cast<unsigned>(member.size());
    FakeRarSetup s{};
    s.missingVolumeAt = -1;
    s.password = L"secret";
    s.memberCount = 2;
    s.members[0] = {"locked/a.bmp", size, size, 1, 0, bytes};
    s.members[1] = {"b.bmp", size, size, 1, 0, bytes};
    setup(&s);
    const QString archive = run.folder.filePath("pictures.rar");
    QFile(archive).open(QIODevice::WriteOnly);

    StoredSettings stored = bmpSettings(false);
    stored.application.SPI = fakeFolder;
    Window w(test::englishStart(program_, run.settings(), stored), run);
    w.window.dropPaths(control(w.window, 1013), {archive});
    QCOMPARE(w.window.fileList().entries().size(), size_t{2});
    int asked = 0;
    QTimer typist;
    connect(&typist, &QTimer::timeout, this, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      auto* field = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("c2401")) : nullptr;
      if (!field) return;
      ++asked;
      QTest::keyClicks(field, QStringLiteral("secret"));
      QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("c1")), Qt::LeftButton);
    });
    typist.start(20);
    QCOMPARE(w.convert().converted, 2);
    typist.stop();
    QCOMPARE(asked, 1);  // once per job
    QCOMPARE(QDir(run.out()).entryList(QDir::Files), (QStringList{"a.bmp", "b.bmp"}));
    dlclose(fake);
  }

  void outputsEqualTheHeadlessModes() {
    Run run;
    StoredSettings stored = bmpSettings(false);
    stored.conversion.OFmt = 2;  // JPEG, resized, numbered names
    stored.conversion.RszOpt = 1;
    stored.conversion.RszSize = 3;
    stored.conversion.NameSet = 2;
    stored.conversion.StartNum = 5;
    for (int i = 1; i <= 6; ++i) test::writeGoodBmp(run.in() + QStringLiteral("/img%1.bmp").arg(i));
    test::writeBrokenBmp(run.in() + "/img7.bmp");
    QVERIFY(saveSettingsFile(run.settings(), stored));
    {
      Window w(test::englishStart(program_, run.settings(), stored), run);
      QCOMPARE(w.convert().converted, 6);
    }
    const QString headlessOut = run.folder.filePath("headless");
    QDir().mkpath(headlessOut);
    QProcess headless;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    headless.setProcessEnvironment(environment);
    headless.start(QStringLiteral(VELORIN_BINARY_DIR "/bin/velorin"),
                   {"--convert", "--quiet", "--settings", run.settings(), "-o", headlessOut, run.in()});
    QVERIFY(headless.waitForFinished(60000));
    QCOMPARE(headless.exitCode(), 1);  // one file failed

    const QStringList names = QDir(run.out()).entryList(QDir::Files, QDir::Name);
    QCOMPARE(names.size(), 6);
    QCOMPARE(QDir(headlessOut).entryList(QDir::Files, QDir::Name), names);
    for (const QString& name : names) {
      QFile window(run.out() + "/" + name), alone(headlessOut + "/" + name);
      QVERIFY(window.open(QIODevice::ReadOnly) && alone.open(QIODevice::ReadOnly));
      QVERIFY2(window.readAll() == alone.readAll(), qPrintable(name));
    }
  }

  // The window keeps answering while the job converts: the longest gap between two ticks of a
  // 1 ms timer. VELORIN_STALL_PHOTOS names a folder of photographs to measure with; otherwise
  // generated 2-megapixel pictures keep the test quick.
  void eventLoopStaysResponsive() {
    Run run;
    const QString photos = qEnvironmentVariable("VELORIN_STALL_PHOTOS");
    StoredSettings stored = bmpSettings(false);
    stored.conversion.OFmt = 2;
    stored.conversion.RszOpt = 1;
    stored.conversion.RszSize = 1600;
    if (photos.isEmpty()) {
      QImage picture(1800, 1200, QImage::Format_RGB888);
      for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, y, qRgb(x & 255, y & 255, (x ^ y) & 255));
      for (int i = 1; i <= 4; ++i) QVERIFY(picture.save(run.in() + QStringLiteral("/%1.bmp").arg(i), "BMP"));
    }
    Window w(test::englishStart(program_, run.settings(), stored), run);
    if (!photos.isEmpty()) w.window.dropPaths(control(w.window, 1013), {photos});
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer ticker;
    ticker.setInterval(1);
    connect(&ticker, &QTimer::timeout, this, [&] {
      const qint64 now = clock.elapsed();
      longest = std::max(longest, now - last);
      last = now;
    });
    clock.start();
    ticker.start();
    const JobResult result = w.convert();
    ticker.stop();
    QVERIFY(result.converted > 0);
    qInfo("longest event-loop stall: %lld ms over %lld ms for %lld files", static_cast<long long>(longest),
          static_cast<long long>(clock.elapsed()), static_cast<long long>(result.converted));
    QVERIFY(longest < 1000);
  }
};

QTEST_MAIN(WindowJobTest)
#include "window_job_test.moc"
