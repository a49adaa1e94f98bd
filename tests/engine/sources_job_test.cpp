// A job over several sources: folders walked into their sub-folders, several archives and loose
// files together, with each output's folder made below the output folder and never outside it.
#include <gtest/gtest.h>

#include <map>

#include "engine/archive_members.h"
#include "engine/input_paths.h"
#include "engine/job_setup.h"
#include "engine/naming.h"
#include "engine_test_support.h"
#include "sources/zip_writer.h"

namespace velorin {
namespace {

using test::q;

std::vector<uint8_t> smallBmp() { return test::makeBmp(4, 2, 24, {}, std::vector<uint8_t>(24, 0x80)); }

class SourcesJob : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"in", "out", "tmp"}) std::filesystem::create_directories(root_ / folder);
    settings.OFmt = 1;  // PNG
    options.EndMes = false;
  }

  std::filesystem::path in() const { return root_ / "in"; }
  std::filesystem::path out() const { return root_ / "out"; }

  // The paths and sub-folders a collection gives, "path|sub", relative to in().
  std::vector<std::string> collected(const std::vector<ClassifiedInput>& inputs, bool recursive,
                                     const QStringList& skip, qsizetype* skipped = nullptr) {
    const CollectedSources sources = collectJobSources(inputs, listOptionsFor(settings, options, {}), {}, recursive, skip);
    if (skipped) *skipped = sources.skippedFolders;
    std::vector<std::string> rows;
    for (const JobSource& source : sources.sources)
      rows.push_back(toFsPath(source.path).lexically_relative(in()).string() + "|" + source.subFolder.toStdString());
    return rows;
  }

  JobSource archive(const std::string& name, const std::vector<test::ZipMember>& members, bool memberFolders) {
    test::writeBytes(in() / name, test::makeZip(members));
    JobSource source;
    source.path = q(in() / name);
    source.kind = SourceKind::Zip;
    source.memberFolders = memberFolders;
    EXPECT_TRUE(listArchiveMembers({}, SourceKind::Zip, source.path, source.members, &source.archiveTime));
    return source;
  }

  test::TempFolder root_;
  test::ScopedEnv tmp_{"TMPDIR", (root_ / "tmp").c_str()};
  ConversionSettings settings;
  JobOptions options;
  LanguageModule language = test::englishLanguage();
  test::RecordingHost host;
};

TEST_F(SourcesJob, TheWalkMirrorsSubFoldersAndEndsAtLinksBackUpTheTree) {
  for (const char* file : {"a.bmp", "l1/b.bmp", "l1/l2/c.bmp", "l1/l2/l3/d.bmp", ".hidden/e.bmp", "out/old.bmp"}) {
    std::filesystem::create_directories((in() / file).parent_path());
    test::writeSmallBmp(in() / file);
  }
  test::writeBytes(in() / "l1" / "note.txt", {'n'});
  std::filesystem::create_directory_symlink(in(), in() / "l1" / "l2" / "l3" / "up");
  std::filesystem::create_directory_symlink(in() / "l1", in() / "l1-again");
  const std::vector<ClassifiedInput> folder{{q(in()), InputKind::Folder}};
  const QStringList skip{q(in() / "out")};

  EXPECT_EQ(collected(folder, true, skip),
            (std::vector<std::string>{"a.bmp|", "l1/b.bmp|l1/", "l1/l2/c.bmp|l1/l2/", "l1/l2/l3/d.bmp|l1/l2/l3/"}));
  options.Hidden = 0;
  EXPECT_EQ(collected(folder, true, skip).at(1), ".hidden/e.bmp|.hidden/");
  options.Hidden = 2;

  // Without the walk the sub-folders it would enter are only counted (a link to a folder is one).
  qsizetype skipped = 0;
  EXPECT_EQ(collected(folder, false, skip, &skipped), std::vector<std::string>{"a.bmp|"});
  EXPECT_EQ(skipped, 2);  // l1 and l1-again
  // A folder given twice is walked once; the link up leads into the rest of the tree once.
  const std::vector<ClassifiedInput> twice{{q(in() / "l1"), InputKind::Folder}, {q(in() / "l1"), InputKind::Folder}};
  EXPECT_EQ(collected(twice, true, skip), (std::vector<std::string>{"l1/b.bmp|", "l1/l2/c.bmp|l2/", "l1/l2/l3/d.bmp|l2/l3/",
                                                                   "l1/l2/l3/up/a.bmp|l2/l3/up/"}));
}

TEST_F(SourcesJob, TwoArchivesAndAFileAreOneJob) {
  settings.NameSet = 2;  // serial numbers run on across the sources
  settings.StartNum = 1;
  settings.HtmlTag = true;
  settings.IFileDel = true;
  const JobSource first = archive("one.zip", {{"x.bmp", smallBmp()}, {"dir/y.bmp", smallBmp()}}, true);
  const JobSource second = archive("two.zip", {{"x.bmp", smallBmp()}}, false);
  test::writeSmallBmp(in() / "z.bmp");
  const JobSource file{q(in() / "z.bmp"), SourceKind::Folder, QStringLiteral("loose/"), {}, 0, false};
  JobContext context{host, language, settings, options};

  std::vector<PreviewRow> rows;
  previewSourcesJob(context, {first, second, file, first}, q(out()), rows);
  std::vector<std::string> previewed;
  for (const PreviewRow& row : rows) previewed.push_back(row.display.toStdString() + " -> " + row.outputPath.toStdString());

  const JobResult result = runSourcesJob(context, {first, second, file, first}, q(out()));
  EXPECT_EQ(result.selected, 4);  // the archive given twice counts once
  EXPECT_EQ(result.converted, 4);
  std::vector<std::string> reported;
  for (const EntryReport& report : host.reports) reported.push_back(report.source.toStdString() + " -> " + report.outputPath.toStdString());
  EXPECT_EQ(previewed, reported);
  const std::string zip = q(in()).toStdString();
  EXPECT_EQ(reported.front(), zip + "/one.zip:x.bmp -> " + q(out() / "01.png").toStdString());
  EXPECT_EQ(test::treeOf(out()), (std::set<std::string>{"01.png", "dir", "dir/02.png", "03.png", "loose", "loose/04.png", "out.txt"}));
  const std::vector<uint8_t> tags = test::readBytes(out() / "out.txt");
  EXPECT_NE(std::string(tags.begin(), tags.end()).find("src=\"dir/02.png\""), std::string::npos);
  // Only the loose file is a source of its own to delete; the archives stay.
  EXPECT_FALSE(std::filesystem::exists(in() / "z.bmp"));
  EXPECT_TRUE(std::filesystem::exists(in() / "one.zip"));
  EXPECT_TRUE(std::filesystem::exists(in() / "two.zip"));
}

TEST_F(SourcesJob, MemberFoldersNeverLeadOutOfTheOutputFolder) {
  std::filesystem::create_directories(root_ / "elsewhere");
  std::filesystem::create_directory_symlink(root_ / "elsewhere", out() / "link");
  test::writeBytes(out() / "file", {'f'});
  std::vector<test::ZipMember> members;
  for (const char* name : {"../up.bmp", "/abs/x.bmp", "a/../../b.bmp", "a//c.bmp", "link/d.bmp", "file/g.bmp",
                           "ok/e.bmp", "ok\\f.bmp", "./h.bmp"})
    members.push_back({name, smallBmp()});
  const JobSource source = archive("evil.zip", members, true);
  const std::set<std::string> before = test::treeOf(root_.path());
  JobContext context{host, language, settings, options};

  std::vector<PreviewRow> rows;
  previewSourcesJob(context, {source}, q(out()), rows);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].outputPath, q(out() / "ok" / "e.png"));
  EXPECT_EQ(rows[1].outputPath, q(out() / "ok" / "f.png"));
  EXPECT_EQ(test::treeOf(root_.path()), before);  // the preview makes no folder

  const JobResult result = runSourcesJob(context, {source}, q(out()));
  EXPECT_EQ(result.converted, 2);
  std::map<std::string, std::string> steps;
  for (const EntryReport& report : host.reports) steps[report.source.section(':', -1).toStdString()] = report.step;
  EXPECT_EQ(steps["../up.bmp"], "folder name");
  EXPECT_EQ(steps["/abs/x.bmp"], "folder name");
  EXPECT_EQ(steps["a/../../b.bmp"], "folder name");
  EXPECT_EQ(steps["a//c.bmp"], "folder name");
  EXPECT_EQ(steps["./h.bmp"], "folder name");
  EXPECT_EQ(steps["link/d.bmp"], "folder taken");
  EXPECT_EQ(steps["file/g.bmp"], "folder taken");
  std::set<std::string> after = before;
  after.insert({"out/ok", "out/ok/e.png", "out/ok/f.png"});
  EXPECT_EQ(test::treeOf(root_.path()), after);  // "a/" of the refused "a/../../b.bmp" was never made
  EXPECT_TRUE(std::filesystem::is_empty(root_ / "elsewhere"));
}

TEST(OutputFolderPaths, EveryPartIsAUsableName) {
  const QString folder = QStringLiteral("/out");
  for (const char* good : {"", "a/", "a/b/c/", "..a/", "a b/"})
    EXPECT_TRUE(isUsableOutputFolderPath(folder, QString::fromUtf8(good))) << good;
  for (const char* bad : {"/", "/etc/", "../", "a/../", "a//", "./", "a", "a/b"})
    EXPECT_FALSE(isUsableOutputFolderPath(folder, QString::fromUtf8(bad))) << bad;
  EXPECT_FALSE(isUsableOutputFolderPath(folder, QString(300, QLatin1Char('x')) + QLatin1Char('/')));
}

}  // namespace
}  // namespace velorin
