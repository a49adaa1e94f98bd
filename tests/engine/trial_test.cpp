// The trial conversion of one entry: the same output as the job's, nothing left behind, nothing
// written to the output folder.
#include <gtest/gtest.h>

#include <QDir>

#include "engine/file_list.h"
#include "engine/trial.h"
#include "engine_test_support.h"

namespace velorin {
namespace {

using test::q;

// A 64 x 48 bitmap with a gradient, so that resampling and JPEG coding have something to change.
void writeGradientBmp(const std::filesystem::path& path, int seed) {
  std::vector<uint8_t> rows;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      rows.push_back(static_cast<uint8_t>(x * 4 + seed));
      rows.push_back(static_cast<uint8_t>(y * 5));
      rows.push_back(static_cast<uint8_t>((x ^ y) * 3 + seed));
    }
  test::writeBytes(path, test::makeBmp(64, 48, 24, {}, rows));
}

class TrialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"in", "out", "tmp", "check"}) std::filesystem::create_directories(folder_ / name);
    settings.IFmt = 1;  // BMP
  }
  void TearDown() override { EXPECT_TRUE(std::filesystem::is_empty(folder_ / "tmp")); }

  std::filesystem::path in() const { return folder_ / "in"; }
  std::filesystem::path out() const { return folder_ / "out"; }

  void list() { fileList.setInputPath(q(in()), ListOptions::from(settings, options.Hidden)); }

  test::TempFolder folder_;
  test::ScopedEnv tmp_{"TMPDIR", (folder_ / "tmp").c_str()};
  ConversionSettings settings;
  JobOptions options;
  FileList fileList;
};

TEST_F(TrialTest, EachEntryGivesTheJobsOutputAndLeavesNothing) {
  for (int i = 1; i <= 3; ++i) writeGradientBmp(in() / ("p" + std::to_string(i) + ".bmp"), i * 20);
  settings.OFmt = 2;  // JPEG, made smaller and sharpened
  settings.RszOpt = 1;
  settings.RszSize = 40;
  settings.UsmOpt = true;
  list();

  TrialSession session;
  ASSERT_EQ(session.open(fileList, q(in()), settings, options), 0);
  std::vector<TrialPicture> pictures(3);
  for (qsizetype i = 0; i < 3; ++i) ASSERT_TRUE(session.convert(i, pictures[static_cast<size_t>(i)]));
  EXPECT_TRUE(std::filesystem::is_empty(out()));

  test::RecordingHost host;
  const LanguageModule language = test::englishLanguage();
  JobContext context{host, language, settings, options};
  ASSERT_EQ(runListJob(context, fileList, q(in()), q(out())).converted, 3);

  ConversionSettings plain;
  for (int i = 0; i < 3; ++i) {
    const std::filesystem::path written = out() / ("p" + std::to_string(i + 1) + ".jpg");
    const TrialPicture& shown = pictures[static_cast<size_t>(i)];
    EXPECT_EQ(shown.outputBytes, std::filesystem::file_size(written));
    auto reader = createJobWorkspace(plain);
    ASSERT_TRUE(loadFromPath(*reader, q(written)));
    const BitmapInfoHeader& expected = reader->image.header;
    EXPECT_EQ(shown.image.header.biWidth, 40);
    EXPECT_EQ(shown.image.header.biWidth, expected.biWidth);
    EXPECT_EQ(shown.image.header.biHeight, expected.biHeight);
    EXPECT_EQ(shown.image.header.biBitCount, expected.biBitCount);
    ASSERT_EQ(shown.image.pixels.size(), reader->image.pixels.size());
    EXPECT_EQ(std::memcmp(shown.image.pixels.data(), reader->image.pixels.data(), shown.image.pixels.size()), 0);
  }
}

TEST_F(TrialTest, ChecksBeforeOpeningAndFailuresKeepThePicture) {
  writeGradientBmp(in() / "a.bmp", 0);
  test::writeJunk(in() / "b.bmp");
  list();
  TrialSession session;
  EXPECT_EQ(session.open(fileList, q(folder_ / "missing"), settings, options), 30003);
  EXPECT_FALSE(session.isOpen());
  for (FileEntry& entry : fileList.entries()) entry.selected = false;
  EXPECT_EQ(session.open(fileList, q(in()), settings, options), 30006);

  // A file added since the list was built: the list is rebuilt without a word and the session opens.
  writeGradientBmp(in() / "c.bmp", 9);
  EXPECT_EQ(session.open(fileList, q(in()), settings, options), 0);
  EXPECT_TRUE(session.listRebuilt());
  ASSERT_EQ(fileList.entries().size(), 3u);

  TrialPicture picture;
  ASSERT_TRUE(session.convert(0, picture));
  const uint64_t bytes = picture.outputBytes;
  EXPECT_FALSE(session.convert(1, picture));
  EXPECT_STREQ(session.failure().stage, "load");
  EXPECT_EQ(picture.outputBytes, bytes);
  EXPECT_TRUE(picture.image.pixels);
  EXPECT_FALSE(session.convert(7, picture));
  EXPECT_TRUE(std::filesystem::is_empty(out()));
}

TEST_F(TrialTest, AStoredOutputFormatFiveConvertsUnresized) {
  writeGradientBmp(in() / "a.bmp", 0);
  settings.RszOpt = 1;
  settings.RszSize = 16;
  list();
  TrialPicture picture;
  for (const int format : {0, 5}) {
    settings.OFmt = format;
    TrialSession session;
    ASSERT_EQ(session.open(fileList, q(in()), settings, options), 0);
    ASSERT_TRUE(session.convert(0, picture));
    EXPECT_EQ(picture.image.header.biWidth, format == 5 ? 64 : 16);
  }
}

TEST(TrialEntries, TheFirstEntryIsAtOrAfterThePreviewed) {
  FileList list;
  list.entries().resize(5);
  for (size_t i = 0; i < 5; ++i) list.entries()[i].selected = i == 1 || i == 3;
  EXPECT_EQ(firstTrialEntry(list, -1), 1);
  EXPECT_EQ(firstTrialEntry(list, 2), 3);
  EXPECT_EQ(firstTrialEntry(list, 4), -1);  // nothing selected from the preview on: no window
  EXPECT_EQ(trialStepEntry(list, 1, TrialStep::Previous), 1);
  EXPECT_EQ(trialStepEntry(list, 3, TrialStep::Previous), 1);
  EXPECT_EQ(trialTitle(0.5, 1023, QString(70, QLatin1Char('x'))), "50% / 0KB  " + QString(63, QLatin1Char('x')));
}

}  // namespace
}  // namespace velorin
