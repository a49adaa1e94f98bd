// What the settings pages show for given settings, without a window.
#include <gtest/gtest.h>

#include "settings/page_rules.h"

namespace velorin {
namespace {

TEST(PageControlStates, GifOutputHidesPngAndJpegOptionsAndDisablesJpegOnlyFlags) {
  ConversionSettings s;
  s.OFmt = 4;
  const PageControlStates c = pageControlStates(s, false);
  EXPECT_FALSE(c.pngShown);
  EXPECT_FALSE(c.jpegShown);
  EXPECT_TRUE(c.noOptionsShown);
  EXPECT_FALSE(c.progressiveEnabled);
  EXPECT_FALSE(c.exifCopyEnabled);
  EXPECT_FALSE(c.commentEnabled);
  EXPECT_TRUE(c.transparencyEnabled);
  EXPECT_TRUE(c.interlaceEnabled);
  EXPECT_EQ(depthChoices(4, false), (std::vector<int>{0, 2, 3, 4, 5}));
}

TEST(PageControlStates, LosslessTransformShowsOnlyMarkersAndDisablesProcessing) {
  ConversionSettings s;
  s.OFmt = 1;  // what the transform forces is checked below
  setLosslessTransform(s, true);
  EXPECT_EQ(s.IFmt, 3);
  EXPECT_EQ(s.OFmt, 2);
  s.RszOpt = 1;
  const PageControlStates c = pageControlStates(s, false);
  EXPECT_TRUE(c.markerShown);
  EXPECT_FALSE(c.pngShown || c.jpegShown || c.noOptionsShown);
  EXPECT_FALSE(c.resizeEnabled);
  EXPECT_FALSE(c.resizeSizeEnabled);
  EXPECT_FALSE(c.adjustmentsEnabled);
  EXPECT_TRUE(c.progressiveEnabled);
  EXPECT_TRUE(c.commentEnabled);
  EXPECT_FALSE(c.exifCopyEnabled);
  EXPECT_FALSE(c.transparencyEnabled);

  // Choosing the same format keeps it; another one ends it.
  chooseOutputFormat(s, 2);
  EXPECT_TRUE(s.JTrans);
  chooseInputFormat(s, 0);
  EXPECT_FALSE(s.JTrans);
  setLosslessTransform(s, true);
  chooseOutputFormat(s, 3);
  EXPECT_FALSE(s.JTrans);
}

TEST(PageControlStates, RecycleNeedsDeletionAndAFolderInput) {
  ConversionSettings s;
  s.Recycle = true;
  s.IFileDel = false;
  EXPECT_FALSE(pageControlStates(s, false).recycleEnabled);
  s.IFileDel = true;
  EXPECT_TRUE(pageControlStates(s, false).recycleEnabled);
  EXPECT_FALSE(pageControlStates(s, true).recycleEnabled);
  EXPECT_FALSE(pageControlStates(s, true).deleteEnabled);
}

TEST(PageControlStates, DependentFieldsFollowTheirSwitches) {
  ConversionSettings s;
  EXPECT_FALSE(pageControlStates(s, false).limitEnabled);
  EXPECT_FALSE(pageControlStates(s, false).resizeSizeEnabled);
  EXPECT_FALSE(pageControlStates(s, false).serialEnabled);
  EXPECT_FALSE(pageControlStates(s, false).extensionFiltersEnabled);
  s.Limit = true;
  s.RszOpt = 2;
  s.NameSet = 2;
  s.IFmt = 6;
  const PageControlStates c = pageControlStates(s, false);
  EXPECT_TRUE(c.limitEnabled && c.resizeSizeEnabled && c.serialEnabled && c.extensionFiltersEnabled);
}

TEST(DepthChoices, EveryFormatOffersItsDepthsAndAnUnofferedDepthFallsBackToKeep) {
  EXPECT_EQ(depthChoices(0, false), (std::vector<int>{0, 1, 2, 3, 5}));
  EXPECT_EQ(depthChoices(1, false), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(depthChoices(2, false), (std::vector<int>{0, 1, 6}));
  EXPECT_EQ(depthChoices(3, false), (std::vector<int>{0, 1, 2, 3, 5, 6}));
  EXPECT_EQ(depthChoices(4, true), depthChoices(2, false));

  ConversionSettings s;
  s.OFmt = 1;
  s.DepOpt = 4;
  chooseOutputFormat(s, 2);
  EXPECT_EQ(s.DepOpt, 0);
  s.DepOpt = 6;
  chooseOutputFormat(s, 3);
  EXPECT_EQ(s.DepOpt, 6);
}

TEST(OutputSummary, NamesTheOptionsOfTheFormatInOrder) {
  ConversionSettings s;
  EXPECT_TRUE(outputSummaryIds(s).empty());
  s.OFmt = 1;
  s.DepOpt = 2;
  s.Interlace = true;
  s.Trans = true;
  s.CmtOpt = true;
  s.Progressive = true;  // not a PNG option
  s.HlsHOpt = true;
  s.GamOpt = true;
  EXPECT_EQ(outputSummaryIds(s), (std::vector<int>{1311, 20102, 20101, 1315, 20104, 20107}));
  s.OFmt = 0;
  EXPECT_EQ(outputSummaryIds(s), (std::vector<int>{1311, 20104, 20107}));
  s.OFmt = 2;
  s.CopyExif = true;
  EXPECT_EQ(outputSummaryIds(s), (std::vector<int>{1311, 1316, 20100, 20102, 20104, 20107}));
  // The transform makes no adjustments and copies no EXIF of its own.
  s.JTrans = true;
  EXPECT_EQ(outputSummaryIds(s), (std::vector<int>{1311, 1316, 20102}));
}

TEST(ResetOutputOptions, SwitchesTheOptionsOffAndKeepsDitherAndLevels) {
  ConversionSettings s;
  s.DepOpt = 3;
  s.Dither = true;
  s.Trans = s.Interlace = s.Progressive = s.CopyExif = s.CmtOpt = s.HgmOpt = true;
  s.GamOpt = s.CrtOpt = s.HlsSOpt = s.HlsHOpt = true;
  s.GamVal = 10;
  s.CrtVal = -20;
  s.HlsSVal = 255;
  s.HlsHVal = -180;
  s.CmtStr1 = QStringLiteral("kept");
  resetOutputOptions(s);
  ConversionSettings expected;
  expected.Dither = true;
  expected.GamVal = 10;
  expected.CrtVal = -20;
  expected.HlsSVal = 255;
  expected.HlsHVal = -180;
  expected.CmtStr1 = QStringLiteral("kept");
  EXPECT_EQ(s, expected);
}

TEST(LimitedNumber, TypedTextIsLimitedToTheFieldsRange) {
  EXPECT_EQ(limitedNumber(QStringLiteral("150"), 1, 100), 100);
  EXPECT_EQ(limitedNumber(QStringLiteral("0"), 1, 100), 1);
  EXPECT_EQ(limitedNumber(QString(), 1, 100), 1);
  EXPECT_EQ(limitedNumber(QString(), 0, 9999), 0);
  EXPECT_EQ(limitedNumber(QStringLiteral("300"), -255, 255), 255);
  EXPECT_EQ(limitedNumber(QStringLiteral("-"), -255, 255), 0);
  EXPECT_EQ(limitedNumber(QStringLiteral("-99999999999999999999"), -180, 180), -180);
  EXPECT_EQ(limitedNumber(QStringLiteral("7"), 1, 5), 5);
}

TEST(SamplingEntries, TheSecondEntryStoresTwo) {
  EXPECT_EQ(samplingValue(0), 0);
  EXPECT_EQ(samplingValue(1), 2);
  EXPECT_EQ(samplingEntry(2), 1);
  EXPECT_EQ(samplingEntry(0), 0);
}

TEST(DisabledPlugins, NamesNoLongerInTheFolderAreForgotten) {
  const QStringList disabled{QStringLiteral("Gone.spi"), QStringLiteral("HEIF.spi")};
  EXPECT_EQ(keptDisabledPlugins(disabled, {QStringLiteral("heif.spi"), QStringLiteral("webp.spi")}),
            QStringList{QStringLiteral("HEIF.spi")});
}

}  // namespace
}  // namespace velorin
