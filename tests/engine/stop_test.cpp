// A stop request abandons conversions in flight: every long step gives up, the job commits
// nothing more and leaves no temporary file.
#include <gtest/gtest.h>

#include <QDir>

#include "engine/job.h"
#include "engine/pipeline.h"
#include "engine_test_support.h"
#include "formats/deflate.h"
#include "imaging/processing.h"
#include "imaging/stop_flag.h"

namespace velorin {
namespace {

using test::q;

// Sets the stop flag for one test and clears it again.
struct StopRequest {
  StopRequest() { conversionStopFlag() = true; }
  ~StopRequest() { conversionStopFlag() = false; }
};

class ConversionStopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder_ / "tmp");
    std::filesystem::create_directories(folder_ / "out");
    const int32_t width = 64, height = 48;
    std::vector<uint8_t> rows(static_cast<size_t>(width) * 3 * height);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 37 % 251);
    for (const char* name : {"a.bmp", "b.bmp"})
      test::writeBytes(folder_ / name, test::makeBmp(width, height, 24, {}, rows));
    // A PNG at the slowest level, made smaller and sharpened: every long step runs.
    settings.OFmt = 1;
    settings.Level = 9;
    settings.RszOpt = 3;
    settings.RszSize = 32;
    settings.UsmOpt = 3;
  }

  bool convert(PendingFile& result) {
    std::unique_ptr<JobWorkspace> workspace = createJobWorkspace(settings);
    workspace->temporaryFolder = q(folder_ / "tmp");
    return convertFile(*workspace, nullptr, q(folder_ / "a.bmp"), result);
  }

  test::TempFolder folder_;
  test::ScopedEnv tmp_{"TMPDIR", (folder_ / "tmp").c_str()};
  ConversionSettings settings;
};

TEST_F(ConversionStopTest, EveryLongStepGivesUp) {
  PendingFile converted;
  ASSERT_TRUE(convert(converted));
  StopRequest stop;
  PendingFile abandoned;
  EXPECT_FALSE(convert(abandoned));
  EXPECT_FALSE(abandoned.isOpen());

  WorkingImage image;
  ASSERT_EQ(image.allocatePixels(64, 48, 24, 0, 0, true), Status::Ok);
  image.takeWorkingValuesFromHeader();
  ProcessingTables tables;
  ProcessingSettings processing;
  processing.UsmOpt = 3;
  ASSERT_TRUE(buildProcessingTables(tables, processing));
  EXPECT_FALSE(processImage(image, tables));
  const std::vector<uint8_t> data(size_t{8} << 20, 7);
  EXPECT_EQ(zlibCompressInPieces(10, data.data(), data.size(), size_t{1} << 20, 2, [](const uint8_t*, size_t) {}),
            DeflateResult::Failed);
}

TEST_F(ConversionStopTest, AStoppedJobCommitsNothingMore) {
  test::RecordingHost host;
  const LanguageModule language = test::englishLanguage();
  for (const int jobs : {1, 2}) {
    JobOptions options;
    options.jobs = jobs;
    JobContext context{host, language, settings, options};
    StopRequest stop;
    const JobResult result = runPathJob(context, {q(folder_ / "a.bmp"), q(folder_ / "b.bmp")}, q(folder_ / "out"));
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.converted, 0);
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder_ / "out"));
  EXPECT_TRUE(std::filesystem::is_empty(folder_ / "tmp"));
}

}  // namespace
}  // namespace velorin
