// The preview load: the entry whole, its size text, and nothing kept after a failure.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "engine/archive_members.h"
#include "engine/job_setup.h"
#include "engine/preview.h"
#include "engine_test_support.h"

namespace velorin {
namespace {

TEST(LoadPreview, LoadsTheEntryWithoutResizingAndKeepsItsPixels) {
  QTemporaryDir folder;
  test::writeSmallBmp(toFsPath(folder.filePath(QStringLiteral("a.bmp"))));
  test::writeJunk(toFsPath(folder.filePath(QStringLiteral("b.bmp"))));
  FileList list;
  ASSERT_TRUE(list.setInputPath(folder.path(), ListOptions{}));
  ASSERT_EQ(list.entries().size(), 2u);

  ConversionSettings settings;
  settings.RszOpt = 1;  // a resize must not shrink the preview
  settings.RszSize = 2;
  PreviewImage preview;
  ASSERT_TRUE(loadPreview(list, 0, settings, PreviewAccess{}, preview));
  EXPECT_EQ(preview.name, QStringLiteral("a.bmp"));
  EXPECT_EQ(preview.sizeText, QStringLiteral("4 x 2  24bit"));
  EXPECT_EQ(preview.image.header.biWidth, 4);
  EXPECT_TRUE(preview.loaded());

  // A failed load releases the previous pixels and shows only the name.
  EXPECT_FALSE(loadPreview(list, 1, settings, PreviewAccess{}, preview));
  EXPECT_EQ(preview.name, QStringLiteral("b.bmp"));
  EXPECT_TRUE(preview.sizeText.isEmpty());
  EXPECT_FALSE(preview.loaded());

  EXPECT_FALSE(loadPreview(list, 2, settings, PreviewAccess{}, preview));
  EXPECT_TRUE(preview.name.isEmpty());
}

TEST(PreviewSizeText, HasTwoBlanksBeforeTheDepth) {
  EXPECT_EQ(previewSizeText(640, 480, 24), QStringLiteral("640 x 480  24bit"));
}

// The plug-ins switched off on the plug-in page are offered no files by the lists and jobs.
TEST(SwitchedOffPlugins, ReachTheListsAndJobs) {
  ApplicationSettings application;
  application.SPI = QStringLiteral(VELORIN_BINARY_DIR "/test-plugins/spi");
  const QStringList offered = imagePluginPatterns(archiveAccessFor(jobOptionsFrom(application)));
  ASSERT_FALSE(offered.isEmpty());
  application.pluginFiles = {QStringLiteral("TEST_IMAGE.spi")};
  const JobOptions options = jobOptionsFrom(application);
  EXPECT_EQ(options.disabledPlugins, application.pluginFiles);
  EXPECT_TRUE(imagePluginPatterns(archiveAccessFor(options)).isEmpty());
}

}  // namespace
}  // namespace velorin
