#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "engine/pipeline.h"
#include "formats/bmp_reader.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::makeBmp;

using test::q;

int filesIn(const std::filesystem::path& folder) {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

TEST(FileType, SignatureDecidesNotTheExtension) {
  auto detect = [](std::vector<uint8_t> bytes) {
    bytes.resize(std::max<size_t>(bytes.size(), 8), 0);
    return detectFileType(bytes.data(), bytes.size());
  };
  EXPECT_EQ(detect({'B', 'M'}), FileType::Bmp);
  EXPECT_EQ(detect({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}), FileType::Png);
  EXPECT_EQ(detect({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x00}), FileType::Unknown);
  EXPECT_EQ(detect({0xFF, 0xD8}), FileType::Jpeg);
  EXPECT_EQ(detect({'I', 'I', 0x2A, 0}), FileType::Tiff);
  EXPECT_EQ(detect({'M', 'M', 0x00, 0x2A}), FileType::Tiff);
  EXPECT_EQ(detect({'M', 'M', 0x07, 0x2A}), FileType::Tiff);  // only the fourth byte is tested
  EXPECT_EQ(detect({'I', 'I', 0x00, 0x2A}), FileType::Unknown);
  EXPECT_EQ(detect({'G', 'I', 'F'}), FileType::Gif);
  EXPECT_EQ(detect({'x'}), FileType::Unknown);
  const uint8_t seven[7] = {'B', 'M', 0, 0, 0, 0, 0};
  EXPECT_EQ(detectFileType(seven, 7), FileType::Unreadable);
  EXPECT_EQ(detectFileTypeOfPath(QStringLiteral("/no/such/file")), FileType::Unreadable);
}

TEST(PrepareJob, FormatAndDepthTable) {
  struct Row {
    int OFmt, DepOpt;
    OutputFormat writer;
    const char* extension;
    int depth;
    bool grey;
  };
  const Row rows[] = {
      {0, 1, OutputFormat::Bmp, ".bmp", 24, false}, {0, 2, OutputFormat::Bmp, ".bmp", 8, false},
      {0, 3, OutputFormat::Bmp, ".bmp", 4, false},  {0, 5, OutputFormat::Bmp, ".bmp", 1, false},
      {7, 1, OutputFormat::Bmp, ".bmp", 24, false}, {1, 4, OutputFormat::Png, ".png", 2, false},
      {1, 6, OutputFormat::Png, ".png", 8, true},   {2, 6, OutputFormat::Jpeg, ".jpg", 0, true},
      {2, 1, OutputFormat::Jpeg, ".jpg", 0, false}, {3, 5, OutputFormat::Tiff, ".tif", 1, false},
      {3, 6, OutputFormat::Tiff, ".tif", 8, true},  {4, 2, OutputFormat::Gif, ".gif", 8, false},
      {4, 4, OutputFormat::Gif, ".gif", 2, false},  {4, 0, OutputFormat::Gif, ".gif", 0, false},
      {1, 0, OutputFormat::Png, ".png", 0, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "OFmt " << row.OFmt << " DepOpt " << row.DepOpt);
    ConversionSettings settings;
    settings.OFmt = row.OFmt;
    settings.DepOpt = row.DepOpt;
    const JobPlan plan = prepareJob(settings);
    EXPECT_EQ(plan.route, ConversionRoute::DecodeProcessEncode);
    EXPECT_EQ(plan.writer, row.writer);
    EXPECT_EQ(plan.extension, QLatin1String(row.extension));
    EXPECT_EQ(plan.outputDepth, row.depth);
    EXPECT_EQ(plan.greyscale, row.grey);
  }
  ConversionSettings lossless;
  lossless.JTrans = true;
  lossless.OFmt = 0;
  lossless.DepOpt = 6;
  lossless.NameSet = 2;
  const JobPlan plan = prepareJob(lossless);
  EXPECT_EQ(plan.route, ConversionRoute::LosslessTransform);
  EXPECT_EQ(plan.extension, QLatin1String(".jpg"));
  EXPECT_TRUE(plan.greyscale);
  EXPECT_EQ(plan.naming, NamingRule::SerialNumber);
}

class ConvertFile : public testing::Test {
 protected:
  void SetUp() override {
    settings_.OFmt = 0;
    temporary_ = std::make_unique<test::TempFolder>();
  }
  std::unique_ptr<JobWorkspace> workspace() {
    auto ws = createJobWorkspace(settings_);
    ws->temporaryFolder = q(temporary_->path());
    return ws;
  }
  ConversionSettings settings_;
  test::TempFolder inputs_;
  std::unique_ptr<test::TempFolder> temporary_;
};

TEST_F(ConvertFile, BmpInAJpgNameConvertsByItsSignature) {
  const auto bytes = makeBmp(2, 2, 24, {}, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0});
  test::writeBytes(inputs_ / "photo.jpg", bytes);
  auto ws = workspace();
  PendingFile temporary;
  ASSERT_TRUE(convertFile(*ws, nullptr, q(inputs_ / "photo.jpg"), temporary));
  // The file is there to read, but has no name a killed run could leave behind.
  EXPECT_EQ(test::readBytes(toFsPath(temporary.path())), bytes);
  EXPECT_EQ(filesIn(temporary_->path()), 0);
  EXPECT_FALSE(ws->image.pixels);  // released once the file is written
  EXPECT_EQ(ws->image.workWidth, 2);
  EXPECT_EQ(ws->image.sourceFormat, kFormatBmp);
}

TEST_F(ConvertFile, FailedEntriesLeaveNoTemporaryFile) {
  auto ws = workspace();
  PendingFile temporary;

  // Too short to hold a signature: type 6, fails at load.
  test::writeBytes(inputs_ / "seven.bmp", {'B', 'M', 1, 2, 3, 4, 5});
  EXPECT_FALSE(convertFile(*ws, nullptr, q(inputs_ / "seven.bmp"), temporary));
  EXPECT_STREQ(ws->failure.stage, "load");
  EXPECT_FALSE(temporary.isOpen());

  // Unknown content, a broken bitmap, a missing file.
  test::writeBytes(inputs_ / "text.bmp", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
  EXPECT_FALSE(convertFile(*ws, nullptr, q(inputs_ / "text.bmp"), temporary));
  EXPECT_EQ(ws->failure.status, Status::NotFormat);
  test::writeBytes(inputs_ / "negative.bmp", makeBmp(1, -1, 24, {}, {0, 0, 0, 0}));
  EXPECT_FALSE(convertFile(*ws, nullptr, q(inputs_ / "negative.bmp"), temporary));
  EXPECT_EQ(ws->failure.status, Status::BadImage);
  EXPECT_FALSE(convertFile(*ws, nullptr, q(inputs_ / "missing.bmp"), temporary));

  // A failure after the temporary file exists: a GIF cannot be wider than 65535 pixels.
  std::vector<uint8_t> row(65536, 0);
  test::writeBytes(inputs_ / "wide.bmp", makeBmp(65536, 1, 8, {{0, 0, 0, 0}}, row, 0, 1));
  settings_.OFmt = 4;
  auto gif = workspace();
  EXPECT_FALSE(convertFile(*gif, nullptr, q(inputs_ / "wide.bmp"), temporary));
  EXPECT_STREQ(gif->failure.stage, "write");
  EXPECT_FALSE(gif->image.pixels);

  EXPECT_EQ(filesIn(temporary_->path()), 0);
}

TEST_F(ConvertFile, KeepsTheWorkingDepthOrExpandsToFullColour) {
  std::vector<RgbQuad> palette = {{0, 0, 255, 0}, {0, 255, 0, 0}};
  test::writeBytes(inputs_ / "pal.bmp", makeBmp(2, 1, 1, palette, {0x40, 0, 0, 0}));
  for (int depOpt : {0, 1}) {
    settings_.DepOpt = depOpt;
    auto ws = workspace();
    PendingFile temporary;
    ASSERT_TRUE(convertFile(*ws, nullptr, q(inputs_ / "pal.bmp"), temporary));
    BmpReader reader;
    ImageRecord back;
    ASSERT_TRUE(readBmpFile(reader, toFsPath(temporary.path()), back));
    EXPECT_EQ(back.header.biBitCount, depOpt == 1 ? 24 : 8);
    EXPECT_EQ(test::pixelAt(back, 0, 0), (RgbColour{255, 0, 0}));
    EXPECT_EQ(test::pixelAt(back, 1, 0), (RgbColour{0, 255, 0}));
  }
}

}  // namespace
}  // namespace velorin
