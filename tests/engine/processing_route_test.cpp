// The per-file pipeline applies the processing chain between the reader and the writer.
#include <gtest/gtest.h>

#include <QFile>
#include <QString>

#include "engine/pipeline.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::q;

// A uniform 100 x 60 bitmap of blue 30, green 120, red 210.
std::vector<uint8_t> uniformBmp() {
  const uint64_t stride = paddedStride(100, 24);
  std::vector<uint8_t> rows(stride * 60, 0);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x) {
      rows[y * stride + 3 * x] = 30;
      rows[y * stride + 3 * x + 1] = 120;
      rows[y * stride + 3 * x + 2] = 210;
    }
  return test::makeBmp(100, 60, 24, {}, rows);
}

// Converts the file with the given settings and loads the result back.
bool convertAndReload(ConversionSettings settings, const std::filesystem::path& source,
                      WorkingImage*& result, std::unique_ptr<JobWorkspace>& reader) {
  auto ws = createJobWorkspace(settings);
  if (!ws) return false;
  PendingFile temporary;
  if (!convertFile(*ws, nullptr, q(source), temporary)) return false;
  reader = createJobWorkspace(ConversionSettings{});
  const bool loaded = reader && loadFromPath(*reader, temporary.path());
  result = loaded ? &reader->image : nullptr;
  return loaded;
}

TEST(ProcessingRoute, HeadlessSettingsResizeABitmap) {
  test::TempFolder folder;
  const auto source = folder / "wide.bmp";
  test::writeBytes(source, uniformBmp());
  ConversionSettings s;
  ASSERT_TRUE(setSettingFromText(s, "OFmt", "0"));
  ASSERT_TRUE(setSettingFromText(s, "RszOpt", "3"));
  ASSERT_TRUE(setSettingFromText(s, "RszSize", "40"));
  WorkingImage* out = nullptr;
  std::unique_ptr<JobWorkspace> reader;
  ASSERT_TRUE(convertAndReload(s, source, out, reader));
  EXPECT_EQ(out->workWidth, 40);
  EXPECT_EQ(out->workHeight, 24);
  EXPECT_EQ(test::pixelAt(*out, 0, 0), (RgbColour{210, 120, 30}));
  EXPECT_EQ(test::pixelAt(*out, 39, 23), (RgbColour{210, 120, 30}));
}

TEST(ProcessingRoute, RotationAndToneReachTheOutput) {
  test::TempFolder folder;
  const auto source = folder / "wide.bmp";
  test::writeBytes(source, uniformBmp());
  ConversionSettings s;
  s.OFmt = 0;
  s.TurOpt = 1;
  s.HlsSOpt = true;
  s.HlsSVal = -255;  // all grey
  WorkingImage* out = nullptr;
  std::unique_ptr<JobWorkspace> reader;
  ASSERT_TRUE(convertAndReload(s, source, out, reader));
  EXPECT_EQ(out->workWidth, 60);
  EXPECT_EQ(out->workHeight, 100);
  EXPECT_EQ(test::pixelAt(*out, 5, 5), (RgbColour{120, 120, 120}));
}

}  // namespace
}  // namespace velorin
