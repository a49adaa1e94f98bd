// Folders as path lists and the output folder a job takes when none is named.
#include <gtest/gtest.h>

#include "engine/input_paths.h"
#include "engine/job_setup.h"
#include "engine_test_support.h"

namespace velorin {
namespace {

using test::q;

TEST(InputPaths, AFolderGivesItsImageFilesInListOrder) {
  test::TempFolder folder;
  for (const char* name : {"img10.bmp", "img2.BMP", "note.txt", ".hidden.bmp", "a.png"})
    test::writeSmallBmp(folder / name);
  std::filesystem::create_directories(folder / "sub.bmp");
  ConversionSettings settings;
  settings.IFmt = 1;
  JobOptions options;
  const ListOptions list = listOptionsFor(settings, options, archiveAccessFor(options));
  EXPECT_EQ(imageFilesOfFolder(q(folder.path()), list),
            (QStringList{q(folder / "img2.BMP"), q(folder / "img10.bmp")}));
  options.Hidden = 0;
  EXPECT_EQ(imageFilesOfFolder(q(folder.path()), listOptionsFor(settings, options, {})).size(), 3);
  EXPECT_TRUE(imageFilesOfFolder(q(folder / "missing"), list).isEmpty());
}

TEST(InputPaths, OutputFolderFollowsTheSettingThenTheFirstInput) {
  const std::vector<ClassifiedInput> folderOnly{{QStringLiteral("/p/in"), InputKind::Folder}};
  const std::vector<ClassifiedInput> fileFirst{{QStringLiteral("/p/a.bmp"), InputKind::File},
                                               {QStringLiteral("/q/in"), InputKind::Folder}};
  const std::vector<ClassifiedInput> twoFolders{{QStringLiteral("/p/in"), InputKind::Folder},
                                                {QStringLiteral("/q/in"), InputKind::Folder}};
  const std::vector<ClassifiedInput> archive{{QStringLiteral("/p/a.zip"), InputKind::Archive}};
  EXPECT_EQ(defaultOutputFolder(folderOnly, {}), "/p/in");
  EXPECT_EQ(defaultOutputFolder(fileFirst, {}), "/p");
  EXPECT_EQ(defaultOutputFolder(twoFolders, {}), "/p");
  EXPECT_EQ(defaultOutputFolder(archive, {}), "/p");
  EXPECT_EQ(defaultOutputFolder(folderOnly, QStringLiteral("/out")), "/out");
  EXPECT_TRUE(defaultOutputFolder({}, {}).isEmpty());
}

}  // namespace
}  // namespace velorin
