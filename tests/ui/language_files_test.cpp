// The shipped language files: every text the window asks for is in both, and neither has a text
// the other lacks, so switching languages never leaves a control blank.
#include <QtTest>

#include "engine/language.h"

using namespace velorin;

class LanguageFilesTest : public QObject {
  Q_OBJECT

  static QList<int> ids(const LanguageModule& module) {
    QList<int> found;
    for (int id = 0; id < 40000; ++id)
      if (module.has(id)) found << id;
    return found;
  }

 private slots:
  void bothLanguagesHoldTheWindowsTexts() {
    LanguageModule english, japanese;
    QVERIFY(english.load(QStringLiteral(VELORIN_SOURCE_DIR "/lang/English.lng")));
    QVERIFY(japanese.load(QStringLiteral(VELORIN_SOURCE_DIR "/lang/Japanese.lng")));
    QList<int> window{1011, 1012, 1021, 1022, 1023, 1024, 1025, 1026, 5100, 11001, 11013, 11014, 20000, 20010,
                      20141, 20300, 20303, 20304, 20400, 20401, 20402, 20403, 30000, 30001, 21004, 2000, 2001, 2002, 2010,
                      2011, 2100, 2101, 2200, 2201, 2202, 2203, 2204, 2300, 2301, 2303, 2304,
                      2320, 2321, 2322, 2400, 2401};
    for (int id = 11021; id <= 11026; ++id) window << id;
    for (int id = 20011; id <= 20015; ++id) window << id;
    for (int id = 30003; id <= 30011; ++id) window << id;
    for (int id : {5000, 5001, 5010, 5011, 5020, 5030, 5040}) window << id << id + 10000;
    for (int id : window) {
      QVERIFY2(!english.text(id).isEmpty(), qPrintable(QStringLiteral("English lacks %1").arg(id)));
      QVERIFY2(!japanese.text(id).isEmpty(), qPrintable(QStringLiteral("Japanese lacks %1").arg(id)));
    }
    QCOMPARE(ids(japanese), ids(english));
    // The language is told apart by its texts, not only by its file name.
    QVERIFY(english.text(1023) != japanese.text(1023));
    for (int id : ids(english)) QVERIFY(english.text(id).size() <= kMaxTextLength);
  }
};

QTEST_MAIN(LanguageFilesTest)
#include "language_files_test.moc"
