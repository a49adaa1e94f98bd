// Pictures whose header the budget cannot read a size from (plug-in formats, a TIFF directory
// with the size far down it) still reserve their estimate once the size is known, so a budget
// too small for them refuses them with its message.
#include <gtest/gtest.h>

#include <QFile>

#include "engine/memory_budget.h"
#include "engine/pipeline.h"
#include "support/test_support.h"

namespace velorin {
namespace {

struct BudgetGuard {
  explicit BudgetGuard(int64_t bytes) { setMemoryBudget(bytes); }
  ~BudgetGuard() { setMemoryBudget(0); }
};

// An 8-bit grey TIFF of width x height whose size entries come after `fillers` unknown ones.
std::vector<uint8_t> tiffWithSizeAfter(uint32_t fillers, uint16_t width, uint16_t height) {
  test::Bytes b;
  const uint32_t entries = fillers + 6;
  const uint32_t data = 8 + 2 + 12 * entries + 4;
  b.text("II").le16(42).le32(8).le16(entries);
  for (uint32_t i = 0; i < fillers; ++i) b.le16(50000).le16(3).le32(1).le32(0);
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) { b.le16(tag).le16(type).le32(1).le32(value); };
  entry(256, 3, width);
  entry(257, 3, height);
  entry(258, 3, 8);
  entry(262, 3, 1);
  entry(273, 4, data);
  entry(279, 4, uint32_t{width} * height);
  b.le32(0);
  b.data.resize(data + size_t{width} * height, 0x80);
  return b.data;
}

class PictureReservation : public ::testing::Test {
 protected:
  void SetUp() override {
    ws = createJobWorkspace(ConversionSettings{});
    ASSERT_TRUE(ws);
  }

  // Loads the file under a budget of budgetMiB; the failure text, empty on success.
  std::string load(const std::string& name, const std::vector<uint8_t>& bytes, int64_t budgetMiB) {
    const BudgetGuard guard(budgetMiB << 20);
    const std::filesystem::path path = dir / name;
    test::writeBytes(path, bytes);
    const bool loaded = loadFromPath(*ws, QFile::decodeName(path.c_str()));
    reservedAfterLoad = ws->reservation.bytes();
    std::string failure = loaded ? std::string() : failureText(ws->failure);
    if (!loaded) {
      EXPECT_FALSE(ws->image.pixels) << name;
    }
    ws->reservation.release();
    return failure;
  }

  test::TempFolder dir;
  std::unique_ptr<JobWorkspace> ws;
  int64_t reservedAfterLoad = 0;
};

TEST_F(PictureReservation, TiffSizeFarDownTheDirectoryIsReserved) {
  const std::vector<uint8_t> tiff = tiffWithSizeAfter(1500, 1000, 1000);
  int64_t width = 0, height = 0;
  ASSERT_TRUE(headerDimensions(tiff.data(), tiff.size(), width, height));
  EXPECT_EQ(width * height, 1000000);

  EXPECT_NE(load("deep.tif", tiff, 8).find("more than the memory limit of 8 MiB"), std::string::npos);
  EXPECT_EQ(load("deep.tif", tiff, 64), "");
  EXPECT_EQ(ws->image.header.biWidth, 1000);
  EXPECT_GE(reservedAfterLoad, conversionEstimate(1000, 1000));
}

TEST_F(PictureReservation, PluginPicturesReserveOnceTheirSizeIsKnown) {
  ws->pluginFolder = QStringLiteral(VELORIN_BINARY_DIR "/bin/plugins");
  std::vector<uint8_t> pgm;
  for (const char c : std::string("P5\n1200 1000\n255\n")) pgm.push_back(static_cast<uint8_t>(c));
  pgm.resize(pgm.size() + 1200 * 1000, 0x40);
  int64_t width = 0, height = 0;
  EXPECT_FALSE(headerDimensions(pgm.data(), pgm.size(), width, height));

  const std::string refused = load("grey.pgm", pgm, 8);
  EXPECT_NE(refused.find("more than the memory limit of 8 MiB"), std::string::npos) << refused;
  EXPECT_EQ(load("grey.pgm", pgm, 64), "");
  EXPECT_EQ(ws->image.header.biWidth, 1200);
  EXPECT_GE(reservedAfterLoad, conversionEstimate(1200, 1000));
  EXPECT_EQ(memoryReserved(), 0);
}

}  // namespace
}  // namespace velorin
