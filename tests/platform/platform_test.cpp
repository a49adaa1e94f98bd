// The operating-system layer: pattern matching, directory reading, logical order, folder
// watching, file times, link resolution and the Send To entry.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/ascii_case.h"
#include "platform/desktop_entry.h"
#include "platform/directory.h"
#include "platform/file_times.h"
#include "platform/folder_watch.h"
#include "platform/links.h"
#include "platform/logical_compare.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::q;

void touch(const std::filesystem::path& path, const std::string& content = "x") {
  test::writeBytes(path, std::vector<uint8_t>(content.begin(), content.end()));
}

TEST(PatternMatch, WildcardsAndAsciiCaseFolding) {
  EXPECT_TRUE(matchesPattern(u"a.JPG", u"*.jpg"));
  EXPECT_TRUE(matchesPattern(u".jpg", u"*.jpg"));
  EXPECT_FALSE(matchesPattern(u"c.jpgx", u"*.jpg"));
  EXPECT_FALSE(matchesPattern(u"b.jpeg", u"*.jpe"));
  EXPECT_TRUE(matchesPattern(u"img1.png", u"img?.png"));
  EXPECT_FALSE(matchesPattern(u"img.png", u"img?.png"));
  EXPECT_TRUE(matchesPattern(u"a.b.c", u"*.*"));
  EXPECT_TRUE(matchesPattern(u"abcabd", u"*ab*d"));
  EXPECT_TRUE(matchesPattern(u"anything", u"*"));
  // Only A to Z fold: other letters keep their case.
  EXPECT_FALSE(matchesPattern(u"\u00C4.png", u"\u00E4.png"));
  // A long run of near-misses must not take exponential time.
  const QString many(2000, QLatin1Char('a'));
  EXPECT_FALSE(matchesPattern(many, u"*a*a*a*a*a*b"));
}

TEST(AsciiCase, OnlyAToZFoldWhateverTheLocale) {
  EXPECT_TRUE(sameNameIgnoringAsciiCase(u"Velorin.EXE", u"velorin.exe"));
  EXPECT_TRUE(sameNameIgnoringAsciiCase(u"RszOpt", QLatin1String("rszopt")));
  EXPECT_FALSE(sameNameIgnoringAsciiCase(u"ab", u"abc"));
  EXPECT_FALSE(sameNameIgnoringAsciiCase(u"[", u"{"));                   // a fold by bit 5 alone joins these
  EXPECT_FALSE(sameNameIgnoringAsciiCase(u"\u212A", u"k"));               // Kelvin sign
  EXPECT_FALSE(sameNameIgnoringAsciiCase(u"\u0130", QLatin1String("i")));  // capital I with dot
  EXPECT_FALSE(sameNameIgnoringAsciiCase(u"\u00C4", u"\u00E4"));
}

TEST(DirectoryReading, ReportsHiddenFoldersSizesAndTimes) {
  test::TempFolder folder;
  touch(folder / "visible.png", "12345");
  touch(folder / ".hidden.png");
  std::filesystem::create_directory(folder / "sub.png");
  std::filesystem::create_symlink(folder / "missing", folder / "dangling.png");
  std::vector<DirectoryItem> items;
  ASSERT_TRUE(readDirectory(q(folder.path()), u"*.png", items));
  ASSERT_EQ(items.size(), 4u);
  auto find = [&](const char* name) {
    return *std::find_if(items.begin(), items.end(), [&](const DirectoryItem& i) { return i.name == QLatin1String(name); });
  };
  EXPECT_EQ(find("visible.png").size, 5u);
  EXPECT_EQ(find("visible.png").attributes, 0u);
  EXPECT_GT(find("visible.png").lastWriteTime, 0);
  EXPECT_EQ(find(".hidden.png").attributes, kAttributeHidden);
  EXPECT_TRUE(find("sub.png").isFolder);
  EXPECT_FALSE(find("dangling.png").isFolder);
  EXPECT_TRUE(pathEntryExists(q(folder / "dangling.png")));
  EXPECT_FALSE(readDirectory(q(folder / "nope"), u"*", items));
}

TEST(LogicalCompare, NumbersByValueLettersWithoutCase) {
  EXPECT_LT(compareLogical(u"img2.png", u"img10.png"), 0);
  EXPECT_GT(compareLogical(u"img10.png", u"img2.png"), 0);
  EXPECT_LT(compareLogical(u"A.png", u"b.png"), 0);
  EXPECT_LT(compareLogical(u"a.png", u"B.png"), 0);
  EXPECT_LT(compareLogical(u"x9", u"x0010"), 0);
  // Digit runs longer than any integer type still compare by value.
  EXPECT_LT(compareLogical(u"n99999999999999999999999", u"n100000000000000000000000"), 0);
  EXPECT_LT(compareLogical(u"ab", u"abc"), 0);
  // Equal by the rule but different strings still order one way, consistently.
  const int one = compareLogical(u"File01", u"file1");
  EXPECT_NE(one, 0);
  EXPECT_EQ(compareLogical(u"file1", u"File01"), -one);
  EXPECT_EQ(compareLogical(u"same", u"same"), 0);
}

TEST(FolderWatch, SeesFileChangesButNotSubFolders) {
  test::TempFolder folder;
  touch(folder / "a.jpg");
  FolderWatch watch;
  ASSERT_TRUE(watch.open(q(folder.path())));
  EXPECT_FALSE(watch.changed());
  std::filesystem::create_directory(folder / "sub");
  touch(folder / "sub" / "inner.jpg");
  EXPECT_FALSE(watch.changed());
  std::filesystem::remove(folder / "a.jpg");
  EXPECT_TRUE(watch.changed());
  EXPECT_TRUE(watch.changed());  // stays signalled
  ASSERT_TRUE(watch.open(q(folder.path())));
  EXPECT_FALSE(watch.changed());
  ASSERT_TRUE(setLastWriteTime(q(folder / "sub" / "inner.jpg"), fileTimeFromPosix(1000, 0)));
  EXPECT_FALSE(watch.changed());
  touch(folder / "new.jpg");
  EXPECT_TRUE(watch.changed());
  EXPECT_FALSE(FolderWatch().changed());
  EXPECT_FALSE(watch.open(q(folder / "missing")));
}

TEST(FolderWatch, SeesTimeChangesOfListedFiles) {
  test::TempFolder folder;
  touch(folder / "a.jpg");
  FolderWatch watch;
  ASSERT_TRUE(watch.open(q(folder.path())));
  ASSERT_TRUE(setLastWriteTime(q(folder / "a.jpg"), fileTimeFromPosix(1000, 0)));
  EXPECT_TRUE(watch.changed());
}

// A folder watched under two names reports to both; each name counts its own uses.
TEST(FolderEvents, EveryNameOfAFolderHearsItsChanges) {
  test::TempFolder folder;
  std::filesystem::create_directory(folder / "real");
  std::filesystem::create_directory_symlink(folder / "real", folder / "link");
  const QString real = q(folder / "real"), link = q(folder / "link");
  FolderEvents events;
  ASSERT_TRUE(events.watch(real));
  ASSERT_TRUE(events.watch(link));
  ASSERT_TRUE(events.watch(link));
  auto heard = [&] {
    std::vector<QString> folders;
    for (const FolderEvents::Event& event : events.read())
      if (event.kind == FolderEvents::Kind::Arrived && event.isFolder) folders.push_back(event.folder);
    std::sort(folders.begin(), folders.end());
    return folders;
  };
  std::filesystem::create_directory(folder / "real" / "a");
  EXPECT_EQ(heard(), (std::vector<QString>{link, real}));
  events.unwatch(real);
  events.unwatch(link);
  std::filesystem::create_directory(folder / "real" / "b");
  EXPECT_EQ(heard(), std::vector<QString>{link});
  events.unwatch(link);
  EXPECT_FALSE(events.isWatched(link));
  std::filesystem::create_directory(folder / "real" / "c");
  EXPECT_TRUE(heard().empty());
}

TEST(FileTimes, LastWriteTimeRoundTripsAndPreEpochTimesConvert) {
  test::TempFolder folder;
  touch(folder / "a");
  const FileTime wanted = fileTimeFromPosix(1369750886, 123456700);  // 2013-05-28, 100-ns exact
  ASSERT_TRUE(setLastWriteTime(q(folder / "a"), wanted));
  FileTimes times;
  ASSERT_TRUE(readFileTimes(q(folder / "a"), times));
  EXPECT_EQ(times.lastWrite, wanted);
  EXPECT_FALSE(setCreationTime(q(folder / "a"), wanted));

  int64_t seconds = 0, nanoseconds = 0;
  posixFromFileTime(fileTimeFromPosix(-1, 500000000), seconds, nanoseconds);
  EXPECT_EQ(seconds, -1);
  EXPECT_EQ(nanoseconds, 500000000);
  posixFromFileTime(0, seconds, nanoseconds);  // 1601-01-01
  EXPECT_EQ(seconds, -11644473600);
  EXPECT_FALSE(readFileTimes(q(folder / "missing"), times));
}

TEST(Links, ResolvedToTheirTargetAndLeftAloneWhenBroken) {
  test::TempFolder folder;
  touch(folder / "target.png");
  std::filesystem::create_symlink(folder / "target.png", folder / "link.png");
  std::filesystem::create_symlink(folder / "gone.png", folder / "broken.png");
  EXPECT_EQ(resolveSymlink(q(folder / "link.png")), QFileInfo(q(folder / "target.png")).canonicalFilePath());
  EXPECT_EQ(resolveSymlink(q(folder / "broken.png")), q(folder / "broken.png"));
  EXPECT_EQ(resolveSymlink(q(folder / "target.png")), q(folder / "target.png"));
}

TEST(SendToEntry, CreatedOnceAndRemoved) {
  test::TempFolder folder;
  test::ScopedEnv home("XDG_DATA_HOME", (folder.path() / "data").c_str());
  const QString program = QStringLiteral("/opt/my \"tools\"/velorin");
  ASSERT_TRUE(updateSendToEntry(true, program));
  const QString path = sendToEntryPath();
  EXPECT_EQ(path, q(folder / "data" / "applications" / "velorin.desktop"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(file.readAll());
  EXPECT_TRUE(text.contains(QStringLiteral("Exec=\"/opt/my \\\\\"tools\\\\\"/velorin\" %F\n"))) << qPrintable(text);
  EXPECT_TRUE(text.contains(QStringLiteral("image/jpeg;")));
  file.close();
  ASSERT_TRUE(updateSendToEntry(false, program));
  EXPECT_FALSE(QFileInfo::exists(path));
  EXPECT_TRUE(updateSendToEntry(false, program));
}

TEST(SendToEntry, IsTheInstalledEntryRunningThisProgram) {
  QFile installed(QStringLiteral(VELORIN_SOURCE_DIR "/data/velorin.desktop"));
  ASSERT_TRUE(installed.open(QIODevice::ReadOnly));
  const QStringList expected = QString::fromUtf8(installed.readAll()).split(u'\n');
  const QStringList written = sendToEntryText(QStringLiteral("/opt/100%/velorin")).split(u'\n');
  ASSERT_EQ(written.size(), expected.size());
  for (qsizetype i = 0; i < expected.size(); ++i) {
    if (expected[i].startsWith(QLatin1String("Exec=")))
      EXPECT_EQ(written[i], QStringLiteral("Exec=\"/opt/100%%/velorin\" %F"));  // a lone % is a field code
    else
      EXPECT_EQ(written[i], expected[i]);
  }

  // A line break would smuggle keys of its own into the entry: nothing is written.
  test::TempFolder folder;
  test::ScopedEnv home("XDG_DATA_HOME", (folder.path() / "data").c_str());
  EXPECT_TRUE(sendToEntryText(QStringLiteral("/tmp/x\nExec=/bin/sh")).isEmpty());
  EXPECT_FALSE(updateSendToEntry(true, QStringLiteral("/tmp/x\nExec=/bin/sh")));
  EXPECT_FALSE(QFileInfo::exists(sendToEntryPath()));
}

TEST(SendToEntry, PassesTheDesktopEntryValidator) {
  const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
  if (validator.isEmpty()) GTEST_SKIP() << "desktop-file-validate is not installed";
  test::TempFolder folder;
  test::ScopedEnv home("XDG_DATA_HOME", (folder.path() / "data").c_str());
  ASSERT_TRUE(updateSendToEntry(true, QStringLiteral("/opt/my \"tools\" $1 `x` \\ 50%/velorin")));
  QProcess process;
  process.start(validator, {sendToEntryPath()});
  ASSERT_TRUE(process.waitForFinished(10000));
  EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardOutput().constData();
  EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
}

}  // namespace
}  // namespace velorin
