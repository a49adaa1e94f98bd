// Input collection: which files a list takes, in which order, how it follows its folder, and what
// command-line arguments ask for.
#include <gtest/gtest.h>

#include <QFileInfo>

#include "engine/file_list.h"
#include "engine_test_support.h"
#include "platform/file_times.h"

namespace velorin {
namespace {

using test::q;

QStringList names(const FileList& list) {
  QStringList out;
  for (const FileEntry& e : list.entries()) out << e.displayName();
  return out;
}

ListOptions optionsFor(int IFmt, uint32_t hidden = 2) {
  ListOptions options;
  options.IFmt = IFmt;
  options.hiddenMask = hidden;
  return options;
}

TEST(FileList, TakesTheFormatsExtensionsOnlyAndLeavesHiddenFilesOut) {
  test::TempFolder folder;
  for (const char* name : {"a.JPG", "b.jpeg", "c.jpgx", ".d.jpg", "e.png", "f.jpe"})
    test::writeSmallBmp(folder / name);
  std::filesystem::create_directory(folder / "g.jpg");
  FileList list;
  ASSERT_TRUE(list.setInputPath(q(folder.path()), optionsFor(3)));
  EXPECT_EQ(list.kind(), SourceKind::Folder);
  EXPECT_EQ(names(list), (QStringList{"a.JPG", "b.jpeg", "f.jpe"}));
  EXPECT_EQ(list.selectedCount(), 3);

  list.buildFileList(optionsFor(3, 0));
  EXPECT_EQ(names(list), (QStringList{".d.jpg", "a.JPG", "b.jpeg", "f.jpe"}));
  list.buildFileList(optionsFor(0));
  EXPECT_EQ(names(list), (QStringList{"a.JPG", "b.jpeg", "e.png", "f.jpe"}));
}

TEST(FileList, UserExtensionsAndPluginPatternsWithoutDuplicates) {
  test::TempFolder folder;
  for (const char* name : {"a.raw", "b.pic", "c.bmp", "d.xyz"}) test::writeSmallBmp(folder / name);
  ListOptions options = optionsFor(6);
  options.SelExt[0] = true;
  options.ExtStr[0] = QStringLiteral("raw");
  options.SelExt[1] = false;
  options.ExtStr[1] = QStringLiteral("xyz");
  options.SelExt[2] = true;  // on but empty: ignored
  FileList list;
  ASSERT_TRUE(list.setInputPath(q(folder.path()), options));
  EXPECT_EQ(names(list), QStringList{"a.raw"});

  ListOptions all = optionsFor(0);
  all.pluginPatterns = {QStringLiteral("*.pic"), QStringLiteral("*.bmp")};
  list.buildFileList(all);
  EXPECT_EQ(names(list), (QStringList{"b.pic", "c.bmp"}));
}

TEST(FileList, PatternExtensionRuleAndSearchOrder) {
  EXPECT_TRUE(hasPatternExtension(u"a.jpe", u"*.jpe"));
  EXPECT_FALSE(hasPatternExtension(u"a.jpeg", u"*.jpe"));
  EXPECT_FALSE(hasPatternExtension(u"jpe", u"*.jpe"));
  EXPECT_EQ(searchPatterns(optionsFor(4)), (QStringList{"*.tif", "*.tiff"}));
  EXPECT_EQ(searchPatterns(optionsFor(0)).size(), 8);
}

TEST(FileList, LogicalOrderAndArchiveFoldersAfterTopLevelMembers) {
  test::TempFolder folder;
  for (const char* name : {"img10.png", "img2.png", "Img1.png"}) test::writeSmallBmp(folder / name);
  FileList list;
  ASSERT_TRUE(list.setInputPath(q(folder.path()), optionsFor(2)));
  EXPECT_EQ(names(list), (QStringList{"Img1.png", "img2.png", "img10.png"}));

  test::writeBytes(folder / "set.zip", {1});
  FileList archive;
  archive.setMemberLister([](SourceKind kind, const QString&, std::vector<FileEntry>& members) {
    EXPECT_EQ(kind, SourceKind::Zip);
    for (auto [folderPart, name] : {std::pair{"sub/", "a.jpg"}, {"", "z.jpg"}, {"", "notes.txt"},
                                    {"sub/", "B.JPEG"}, {"a/", "x.jpg"}}) {
      FileEntry entry;
      entry.folder = QString::fromUtf8(folderPart);
      entry.name = QString::fromUtf8(name);
      members.push_back(entry);
    }
    return true;
  });
  ASSERT_TRUE(archive.setInputPath(q(folder / "set.zip"), optionsFor(3)));
  EXPECT_EQ(names(archive), (QStringList{"z.jpg", "a/x.jpg", "sub/a.jpg", "sub/B.JPEG"}));
  EXPECT_NE(archive.archiveTime(), 0);
  EXPECT_TRUE(archive.keepInStep());
  ASSERT_TRUE(setLastWriteTime(q(folder / "set.zip"), fileTimeFromPosix(1000, 0)));
  EXPECT_FALSE(archive.keepInStep());
  EXPECT_TRUE(archive.keepInStep());  // rebuilt with the new time
}

TEST(FileList, SourceKindByExtension) {
  test::TempFolder folder;
  for (const char* name : {"a.ZIP", "b.rar", "c.lzh", "d.CBR"}) test::writeBytes(folder / name, {1});
  EXPECT_EQ(sourceKindOf(q(folder.path())), SourceKind::Folder);
  EXPECT_EQ(sourceKindOf(q(folder / "a.ZIP")), SourceKind::Zip);
  EXPECT_EQ(sourceKindOf(q(folder / "b.rar")), SourceKind::Rar);
  EXPECT_EQ(sourceKindOf(q(folder / "d.CBR")), SourceKind::Rar);
  EXPECT_EQ(sourceKindOf(q(folder / "c.lzh")), SourceKind::PluginArchive);
  auto acceptsLzh = [](const QString& path) { return path.endsWith(QLatin1String(".lzh")); };
  EXPECT_EQ(containerPathFor(q(folder / "a.ZIP"), acceptsLzh), q(folder / "a.ZIP"));
  EXPECT_EQ(containerPathFor(q(folder / "c.lzh"), acceptsLzh), q(folder / "c.lzh"));
  EXPECT_EQ(containerPathFor(q(folder / "c.lzh"), nullptr), q(folder.path()));
  FileList list;
  EXPECT_FALSE(list.setInputPath(q(folder / "missing"), optionsFor(0)));
  EXPECT_TRUE(list.setInputPath(q(folder / "c.lzh"), optionsFor(0)));
  EXPECT_TRUE(list.entries().empty());  // no reader for it: an empty list, not a failure
}

TEST(FileList, ColumnsFormatSizeAndTime) {
  FileEntry entry;
  entry.size = 1;
  EXPECT_EQ(formatSizeInKb(entry.sizeInKb()), QStringLiteral("1 KB"));
  entry.size = 1234567;
  EXPECT_EQ(formatSizeInKb(entry.sizeInKb()), QStringLiteral("1,206 KB"));
  entry.size = 0;
  EXPECT_EQ(formatSizeInKb(entry.sizeInKb()), QStringLiteral("0 KB"));
  entry.size = 5ull << 32;  // sizes past 4 GiB keep their high bits
  EXPECT_EQ(formatSizeInKb(entry.sizeInKb()), QStringLiteral("20,971,520 KB"));
  EXPECT_EQ(formatSizeInKb(123456789012ull), QStringLiteral("123,456,789,012 KB"));
  const QDateTime local(QDate(2013, 5, 28), QTime(14, 21, 26));
  EXPECT_EQ(formatListTime(fileTimeFromPosix(local.toSecsSinceEpoch(), 0)), QStringLiteral("2013-05-28 14:21:26"));
}

TEST(FileList, FollowsItsFolder) {
  test::TempFolder folder;
  test::writeSmallBmp(folder / "a.bmp");
  test::writeSmallBmp(folder / "b.bmp");
  FileList list;
  ASSERT_TRUE(list.setInputPath(q(folder.path()), optionsFor(1)));
  EXPECT_TRUE(list.keepInStep());
  std::filesystem::create_directory(folder / "made-by-job");
  EXPECT_TRUE(list.keepInStep());
  std::filesystem::remove(folder / "a.bmp");
  EXPECT_FALSE(list.keepInStep());
  EXPECT_EQ(names(list), QStringList{"b.bmp"});
  EXPECT_TRUE(list.keepInStep());
}

TEST(FileList, SelectOnlyNamedFiles) {
  test::TempFolder folder;
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) test::writeSmallBmp(folder / name);
  FileList list;
  ASSERT_TRUE(list.setInputPath(q(folder.path()), optionsFor(1)));
  list.selectOnly({QStringLiteral("B.BMP"), QStringLiteral("c.bmp")});
  EXPECT_FALSE(list.entries()[0].selected);
  EXPECT_TRUE(list.entries()[1].selected);
  EXPECT_TRUE(list.entries()[2].selected);
}

TEST(CommandLine, OpenAndConvertModes) {
  test::TempFolder folder;
  std::filesystem::create_directory(folder / "pics");
  test::writeSmallBmp(folder / "pics" / "one.bmp");
  test::writeSmallBmp(folder / "pics" / "two.bmp");
  const QString pics = q(folder / "pics");

  CommandLinePlan plan = handleCommandLine({pics}, true, QString());
  EXPECT_EQ(plan.mode, CommandLinePlan::Mode::Open);
  EXPECT_EQ(plan.inputPath, pics);
  EXPECT_EQ(plan.outputFolder, pics);

  plan = handleCommandLine({pics + "/one.bmp", pics + "/two.bmp"}, true, QStringLiteral("/out"));
  EXPECT_EQ(plan.mode, CommandLinePlan::Mode::Convert);
  EXPECT_EQ(plan.convertPaths, (QStringList{pics + "/one.bmp", pics + "/two.bmp"}));
  EXPECT_EQ(plan.outputFolder, QStringLiteral("/out"));
  plan = handleCommandLine({pics + "/missing.bmp", pics + "/two.bmp"}, true, QString());
  EXPECT_EQ(plan.convertPaths, QStringList{pics + "/two.bmp"});
  EXPECT_EQ(plan.outputFolder, pics);

  plan = handleCommandLine({pics + "/one.bmp"}, false, QString());
  EXPECT_EQ(plan.mode, CommandLinePlan::Mode::Open);
  EXPECT_EQ(plan.inputPath, pics);
  EXPECT_EQ(plan.selectNames, QStringList{"one.bmp"});

  std::filesystem::create_symlink(folder / "pics", folder / "shortcut");
  plan = handleCommandLine({q(folder / "shortcut")}, false, QString());
  EXPECT_EQ(plan.inputPath, QFileInfo(pics).canonicalFilePath());

  plan = handleCommandLine({pics + "/missing.bmp"}, false, QString());
  EXPECT_EQ(plan.mode, CommandLinePlan::Mode::Open);
  EXPECT_TRUE(plan.inputPath.isEmpty());
  EXPECT_EQ(handleCommandLine({}, true, QString()).mode, CommandLinePlan::Mode::None);
}

}  // namespace
}  // namespace velorin
