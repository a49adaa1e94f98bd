// The settings file at shutdown is replaced whole or not at all: a writer killed at any moment
// leaves a file that reads as one of the complete versions.
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>

#include "settings/settings_store.h"

using namespace velorin;

class ShutdownTest : public QObject {
  Q_OBJECT

 private slots:
  void aWriterKilledMidWriteLeavesAWholeFile() {
    QTemporaryDir folder;
    const QString path = folder.filePath("Velorin.ini");
    StoredSettings old;
    old.application.WinX = 7;
    QVERIFY(saveSettingsFile(path, old));
    QRandomGenerator random(19);
    for (int attempt = 0; attempt < 12; ++attempt) {
      QProcess writer;
      writer.start(QStringLiteral(VELORIN_SETTINGS_WRITER), {path});
      QVERIFY(writer.waitForStarted());
      QTest::qWait(static_cast<int>(random.bounded(5, 60)));
      ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
      QVERIFY(writer.waitForFinished());
      const StoredSettings read = loadSettingsFile(path, {}).settings;
      const int32_t winX = read.application.WinX;
      QVERIFY2(winX == 7 || winX == 1 || winX == 2, qPrintable(QString::number(winX)));
      if (winX != 7) {
        QCOMPARE(read.application.FolderList.size(), 400);
        QCOMPARE(read.application.FolderList.last(), QStringLiteral("/folder/%1/399").arg(winX - 1));
      }
    }
  }
};

QTEST_MAIN(ShutdownTest)
#include "shutdown_test.moc"
