#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <cstdlib>
#include <sys/stat.h>

#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::q;
using test::ScopedEnv;

TEST(ProgramName, OnlyVelorinInAnyAsciiCaseStarts) {
  EXPECT_TRUE(checkProgramName(QStringLiteral("/usr/bin/velorin")));
  EXPECT_TRUE(checkProgramName(QStringLiteral("/opt/x/VELORIN.exe")));
  EXPECT_TRUE(checkProgramName(QStringLiteral("Velorin")));
  EXPECT_FALSE(checkProgramName(QStringLiteral("/usr/bin/velorin2")));
  EXPECT_FALSE(checkProgramName(QStringLiteral("/usr/Velorin/convert")));
  EXPECT_FALSE(checkProgramName(QStringLiteral("/usr/bin/velorin.tar.gz")));  // base "velorin.tar"
  // Only A to Z fold: a dotted capital I is not an i.
  EXPECT_FALSE(checkProgramName(QString::fromUtf16(u"/bin/VELOR\u0130N")));
  EXPECT_FALSE(checkProgramName(QString()));
}

TEST(SettingsLocation, BesideTheProgramWinsElseTheConfigFolderIsCreated) {
  test::TempFolder folder;
  std::filesystem::create_directories(folder / "bin");
  const QString program = q(folder / "bin");
  const QString config = q(folder / "config");

  const QString user = findSettingsFile(program, config);
  EXPECT_EQ(user, QDir(config).filePath(QStringLiteral("Velorin/Velorin.ini")));
  EXPECT_TRUE(QFileInfo(QDir(config).filePath(QStringLiteral("Velorin"))).isDir());
  EXPECT_FALSE(QFileInfo::exists(user));  // the folder only; the file comes at the first save

  test::writeBytes(folder / "bin" / "Velorin.ini", {0x8C, 0x01, 0x01, 0x00});
  EXPECT_EQ(findSettingsFile(program, config), QDir(program).filePath(QStringLiteral("Velorin.ini")));

  EXPECT_TRUE(findSettingsFile(q(folder / "elsewhere"), QString()).isEmpty());
  test::writeBytes(folder / "blocker", {1});  // a file where the folder would go
  EXPECT_TRUE(findSettingsFile(QString(), q(folder / "blocker")).isEmpty());
}

TEST(SettingsLocation, ConfigFolderFollowsXdgRules) {
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/tmp/cfg/");
    EXPECT_EQ(userConfigFolder(), QStringLiteral("/tmp/cfg"));
  }
  ScopedEnv home("HOME", "/home/someone");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/cfg");  // not absolute: ignored
    EXPECT_EQ(userConfigFolder(), QStringLiteral("/home/someone/.config"));
  }
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(userConfigFolder(), QStringLiteral("/home/someone/.config"));
  ScopedEnv noHome("HOME", nullptr);
  EXPECT_TRUE(userConfigFolder().isEmpty());
}

TEST(ProgramFiles, BesideTheProgramFirstThenTheInstalledFolders) {
  test::TempFolder folder;
  const auto prefix = folder / "prefix";
  for (const char* sub : {"bin", "share/velorin/help", "lib/velorin/plugins"})
    std::filesystem::create_directories(prefix / sub);
  test::writeBytes(prefix / "share" / "velorin" / "English.lng", {'V'});
  const QString program = q(prefix / "bin");

  EXPECT_EQ(languageFolder(program), q(prefix / "share" / "velorin"));
  EXPECT_EQ(shippedPluginFolder(program), q(prefix / "lib" / "velorin" / "plugins"));
  EXPECT_EQ(helpFolder(program), q(prefix / "share" / "velorin" / "help"));

  // A portable copy or the build tree: the files beside the program win.
  test::writeBytes(prefix / "bin" / "Japanese.lng", {'V'});
  std::filesystem::create_directories(prefix / "bin" / "plugins");
  EXPECT_EQ(languageFolder(program), program);
  EXPECT_EQ(shippedPluginFolder(program), q(prefix / "bin" / "plugins"));

  // Nothing anywhere: languages are looked for (and reported missing) beside the program; no
  // plug-in or help folder is made up.
  const QString bare = q(folder / "bare" / "bin");
  std::filesystem::create_directories(folder / "bare" / "bin");
  test::writeBytes(folder / "bare" / "bin" / "plugins", {1});  // a file, not a folder
  EXPECT_EQ(languageFolder(bare), bare);
  EXPECT_TRUE(shippedPluginFolder(bare).isEmpty());
  EXPECT_TRUE(helpFolder(bare).isEmpty());
  EXPECT_TRUE(programFileFolders(QString(), ProgramFiles::Data).isEmpty());
}

TEST(ProgramFiles, EveryCandidateIsCleanAndListedOnce) {
  const QStringList data = programFileFolders(QStringLiteral("/opt/v/bin/"), ProgramFiles::Data);
  ASSERT_FALSE(data.isEmpty());
  EXPECT_EQ(data.first(), QStringLiteral("/opt/v/bin"));
  EXPECT_TRUE(data.contains(QStringLiteral("/opt/v/share/velorin")));
  const QStringList libraries = programFileFolders(QStringLiteral("/opt/v/bin"), ProgramFiles::Library);
  EXPECT_TRUE(libraries.contains(QStringLiteral("/opt/v/lib/velorin")));
  for (const QStringList& list : {data, libraries}) {
    EXPECT_EQ(list.size(), QSet<QString>(list.begin(), list.end()).size());
    for (const QString& folder : list) EXPECT_EQ(folder, QDir::cleanPath(folder));
  }
}

TEST(AtomicFile, ReplacesThroughLinksAndKeepsPermissions) {
  test::TempFolder folder;
  test::writeBytes(folder / "real.ini", {1, 2, 3});
  chmod((folder / "real.ini").c_str(), 0640);
  std::filesystem::create_symlink(folder / "real.ini", folder / "link.ini");

  ASSERT_TRUE(replaceFileContents(q(folder / "link.ini"), QByteArray("new")));
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.ini"));
  EXPECT_EQ(test::readBytes(folder / "real.ini"), (std::vector<uint8_t>{'n', 'e', 'w'}));
  struct stat st {};
  ASSERT_EQ(stat((folder / "real.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(QDir(q(folder.path())).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);

  ASSERT_TRUE(replaceFileContents(q(folder / "fresh.ini"), QByteArray()));
  EXPECT_TRUE(std::filesystem::exists(folder / "fresh.ini"));
  EXPECT_FALSE(replaceFileContents(q(folder / "missing" / "x.ini"), QByteArray("x")));
  EXPECT_FALSE(replaceFileContents(q(folder.path()), QByteArray("x")));  // a folder is no file
}

}  // namespace
}  // namespace velorin
