// Follow-up actions (time stamps, the HTML tag list) and the language module.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <QFile>

#include "engine/actions.h"
#include "engine/language.h"
#include "engine_test_support.h"
#include "platform/file_times.h"

namespace velorin {
namespace {

using test::q;

TEST(TimeStamps, LastWriteCopiedOnlyWhenAsked) {
  test::TempFolder folder;
  test::writeBytes(folder / "source", {1});
  test::writeBytes(folder / "output", {1});
  const FileTime sourceTime = fileTimeFromPosix(1369750886, 0);
  ASSERT_TRUE(setLastWriteTime(q(folder / "source"), sourceTime));
  FileTimes before;
  ASSERT_TRUE(readFileTimes(q(folder / "output"), before));

  copyTimeStampsFrom(q(folder / "source"), q(folder / "output"), false, true);
  FileTimes after;
  ASSERT_TRUE(readFileTimes(q(folder / "output"), after));
  EXPECT_EQ(after.lastWrite, before.lastWrite);
  EXPECT_EQ(after.creation, before.creation);  // a creation time cannot be set here

  copyTimeStampsFrom(q(folder / "source"), q(folder / "output"), true, false);
  ASSERT_TRUE(readFileTimes(q(folder / "output"), after));
  EXPECT_EQ(after.lastWrite, sourceTime);
  EXPECT_EQ(after.creation, before.creation);

  // A source that cannot be read leaves the output's times alone.
  copyTimeStampsFrom(q(folder / "missing"), q(folder / "output"), true, false);
  ASSERT_TRUE(readFileTimes(q(folder / "output"), after));
  EXPECT_EQ(after.lastWrite, sourceTime);
}

TEST(HtmlTagList, ExactLineAndListName) {
  EXPECT_EQ(htmlTagLine({QStringLiteral("a.jpg"), 640, 480}),
            QByteArray("<img src=\"a.jpg\" width=\"640\" height=\"480\" alt=\"\">\r\n"));
  EXPECT_EQ(htmlTagListPath(QStringLiteral("/pics/Output")), QStringLiteral("/pics/Output/Output.txt"));
  EXPECT_EQ(htmlTagListPath(QStringLiteral("/pics/Output/")), QStringLiteral("/pics/Output/Output.txt"));
  // Relative folders are named by the folder they stand for, never "..txt".
  const QString here = QDir::current().dirName();
  EXPECT_EQ(QFileInfo(htmlTagListPath(QStringLiteral("."))).fileName(), here + QStringLiteral(".txt"));
  EXPECT_EQ(QFileInfo(htmlTagListPath(QStringLiteral("sub/.."))).fileName(), here + QStringLiteral(".txt"));
  // A long name is cut at 259 bytes, never inside a character.
  const QString longName = QString(258, QLatin1Char('a')) + QStringLiteral("\u00E9.jpg");
  const QByteArray line = htmlTagLine({longName, 1, 1});
  const QByteArray name = line.mid(10, line.indexOf("\" width") - 10);
  EXPECT_EQ(name.size(), 258);
  EXPECT_TRUE(QString::fromUtf8(name).toUtf8() == name);
  // A quote or angle bracket in a name stays inside the attribute.
  EXPECT_EQ(htmlTagLine({QStringLiteral("a\" onerror=\"x<b>.jpg"), 2, 3}),
            QByteArray("<img src=\"a&quot; onerror=&quot;x&lt;b&gt;.jpg\" width=\"2\" height=\"3\" alt=\"\">\r\n"));
}

TEST(HtmlTagList, WrittenAfterTrashingTheOldOne) {
  test::TempFolder folder;
  test::ScopedEnv home("XDG_DATA_HOME", (folder.path() / "data").c_str());
  std::filesystem::create_directory(folder / "out");
  test::writeBytes(folder / "out" / "out.txt", {'o', 'l', 'd'});
  ASSERT_TRUE(writeHtmlTagList(q(folder / "out"), {{QStringLiteral("a.jpg"), 640, 480}, {QStringLiteral("b.jpg"), 1, 2}}));
  const std::vector<uint8_t> written = test::readBytes(folder / "out" / "out.txt");
  EXPECT_EQ(std::string(written.begin(), written.end()),
            "<img src=\"a.jpg\" width=\"640\" height=\"480\" alt=\"\">\r\n"
            "<img src=\"b.jpg\" width=\"1\" height=\"2\" alt=\"\">\r\n");
  EXPECT_EQ(test::readBytes(folder / "data" / "Trash" / "files" / "out.txt"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_FALSE(writeHtmlTagList(q(folder / "missing"), {{QStringLiteral("a.jpg"), 1, 1}}));
  std::filesystem::create_directories(folder / "pics" / "pics.txt" / "keep");
  EXPECT_FALSE(writeHtmlTagList(q(folder / "pics"), {{QStringLiteral("a.jpg"), 1, 1}}));
  EXPECT_TRUE(std::filesystem::exists(folder / "pics" / "pics.txt" / "keep"));
}

TEST(Language, ShippedFilesHoldEveryTextTheJobUses) {
  const int ids[] = {1023, 20010, 20301, 20302, 20303, 20304, 20400, 20401, 20402,
                     30000, 30001, 30003, 30004, 30005, 30006, 30008, 30009};
  for (const char* name : {"English", "Japanese"}) {
    LanguageModule module;
    ASSERT_TRUE(module.load(QStringLiteral(VELORIN_SOURCE_DIR "/lang/") + name + languageFileExtension())) << name;
    for (const int id : ids) EXPECT_FALSE(module.text(id).isEmpty()) << name << " " << id;
  }
  const LanguageModule english = test::englishLanguage();
  EXPECT_EQ(english.text(30000), QStringLiteral("Error"));
  EXPECT_TRUE(english.text(1).isEmpty());
}

TEST(Language, SignatureEscapesAndFallBack) {
  test::TempFolder folder;
  auto write = [&](const char* name, const std::string& body, bool signed_) {
    std::string bytes = signed_ ? std::string("Velorin\0", 8) + body : body;
    test::writeBytes(folder / name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
  };
  write("English.lng", "\n# comment\n30000\tOops\\nline two\r\nbad line\n20010\ta\\\\b\\tc\n", true);
  write("Japanese.lng", "30000\tエラー\n", true);
  write("Foreign.lng", "30000\tnot a language\n", false);

  LanguageModule module;
  EXPECT_FALSE(module.load(q(folder / "Foreign.lng")));
  EXPECT_FALSE(isLanguageModule(q(folder / "Foreign.lng")));
  EXPECT_TRUE(isLanguageModule(q(folder / "English.lng")));
  ASSERT_TRUE(module.load(q(folder / "English.lng")));
  EXPECT_EQ(module.text(30000), QStringLiteral("Oops\nline two"));
  EXPECT_EQ(module.text(20010), QStringLiteral("a\\b\tc"));
  EXPECT_EQ(module.size(), 2);

  QString langFile;
  ASSERT_TRUE(loadLanguageModule(module, langFile, q(folder.path()), 1041));
  EXPECT_EQ(langFile, QStringLiteral("Japanese"));
  langFile.clear();
  ASSERT_TRUE(loadLanguageModule(module, langFile, q(folder.path()), 1033));
  EXPECT_EQ(langFile, QStringLiteral("English"));
  langFile = QStringLiteral("Klingon");
  ASSERT_TRUE(loadLanguageModule(module, langFile, q(folder.path()), 1041));
  EXPECT_EQ(langFile, QStringLiteral("English"));
  langFile = QStringLiteral("Foreign");
  ASSERT_TRUE(loadLanguageModule(module, langFile, q(folder.path()), 1033));
  EXPECT_EQ(langFile, QStringLiteral("English"));

  write("english.LNG.lng", "", false);  // named like the current language: listed unchecked
  int current = -2;
  QStringList listed = listLanguages(q(folder.path()), QStringLiteral("ENGLISH.lng"), current);
  listed.sort();
  EXPECT_EQ(listed, (QStringList{"English", "Japanese", "english.LNG"}));
  EXPECT_GE(current, 0);
  listLanguages(q(folder.path()), QStringLiteral("Klingon"), current);
  EXPECT_EQ(current, -1);

  std::filesystem::remove(folder / "English.lng");
  langFile = QStringLiteral("Foreign");
  ASSERT_TRUE(loadLanguageModule(module, langFile, q(folder.path()), 1033));
  EXPECT_EQ(langFile, QStringLiteral("Japanese"));
  std::filesystem::remove(folder / "Japanese.lng");
  EXPECT_FALSE(loadLanguageModule(module, langFile, q(folder.path()), 1033));
}

}  // namespace
}  // namespace velorin
