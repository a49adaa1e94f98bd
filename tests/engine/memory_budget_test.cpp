// The memory budget: reservations that wait or fail, header sizes, and conversions refused
// before they take their blocks.
#include <gtest/gtest.h>

#include <QFile>

#include <chrono>
#include <future>

#include "engine/memory_budget.h"
#include "engine/pipeline.h"
#include "formats/zip_archive.h"
#include "sources/zip_writer.h"
#include "support/test_support.h"

namespace velorin {
namespace {

// A GIF whose screen is width x height around a 1 x 1 image: 43 bytes of header claiming anything.
std::vector<uint8_t> screenGif(uint16_t width, uint16_t height) {
  test::Bytes b;
  b.text("GIF89a").le16(width).le16(height);
  b.data.insert(b.data.end(), {0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF});
  b.data.insert(b.data.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B});
  return b.data;
}

struct BudgetGuard {
  explicit BudgetGuard(int64_t bytes) { setMemoryBudget(bytes); }
  ~BudgetGuard() { setMemoryBudget(0); }
};

TEST(MemoryBudget, SizesParseWithSuffixesAndRefuseJunk) {
  int64_t bytes = 0;
  EXPECT_TRUE(parseByteSize("100000000", bytes));
  EXPECT_EQ(bytes, 100000000);
  EXPECT_TRUE(parseByteSize("512M", bytes));
  EXPECT_EQ(bytes, int64_t{512} << 20);
  EXPECT_TRUE(parseByteSize("2gib", bytes));
  EXPECT_EQ(bytes, int64_t{2} << 30);
  for (const char* bad : {"", "0", "M", "12X", "-5", "1.5G", "99999999999T", "5 M"})
    EXPECT_FALSE(parseByteSize(bad, bytes)) << bad;
  EXPECT_EQ(byteSizeText(int64_t{300} << 20), "300 MiB");
  EXPECT_EQ(byteSizeText(int64_t{3} << 29), "1.5 GiB");
}

TEST(MemoryBudget, ReservationsWaitForEachOtherAndFailOnlyAboveTheWholeBudget) {
  BudgetGuard guard(1000);
  MemoryReservation first;
  ASSERT_TRUE(first.reserve(700));
  MemoryReservation tooLarge;
  EXPECT_FALSE(tooLarge.reserve(1001));
  EXPECT_EQ(tooLarge.bytes(), 0);
  EXPECT_FALSE(first.tryGrow(400));  // never waits, never overdraws
  auto second = std::async(std::launch::async, [] {
    MemoryReservation r;
    return r.reserve(500);
  });
  EXPECT_EQ(second.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  first.release();
  ASSERT_EQ(second.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_TRUE(second.get());
  EXPECT_EQ(memoryReserved(), 0);
}

TEST(MemoryBudget, HeaderSizesOfEveryReader) {
  int64_t w = 0, h = 0;
  const std::vector<uint8_t> gif = screenGif(65535, 300);
  ASSERT_TRUE(headerDimensions(gif.data(), gif.size(), w, h));
  EXPECT_EQ(w, 65535);
  EXPECT_EQ(h, 300);

  test::Bytes bmp;  // top-down heights count by their size
  bmp.text("BM").le32(0).le32(0).le32(54).le32(40).le32(7).le32(static_cast<uint32_t>(-9));
  ASSERT_TRUE(headerDimensions(bmp.data.data(), bmp.data.size(), w, h));
  EXPECT_EQ(w * 100 + h, 709);

  // A JPEG frame header after an APP1 segment and a fill byte.
  const std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE1, 0, 4, 1, 2, 0xFF, 0xFF, 0xC2, 0, 11, 8,
                                     0x75, 0x30, 0x01, 0x02, 1, 1, 0x11, 0};
  ASSERT_TRUE(headerDimensions(jpeg.data(), jpeg.size(), w, h));
  EXPECT_EQ(w, 258);
  EXPECT_EQ(h, 30000);

  // A big-endian TIFF whose directory lies after its data.
  std::vector<uint8_t> tiff = {'M', 'M', 0, 42, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2,
                               1, 0, 0, 3, 0, 0, 0, 1, 0x12, 0x34, 0, 0,
                               1, 1, 0, 4, 0, 0, 0, 1, 0, 1, 0, 0};
  ASSERT_TRUE(headerDimensions(tiff.data(), tiff.size(), w, h));
  EXPECT_EQ(w, 0x1234);
  EXPECT_EQ(h, 0x10000);

  const std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + 12);
  EXPECT_FALSE(headerDimensions(cut.data(), cut.size(), w, h));
}

class BudgetedLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    ws = createJobWorkspace(ConversionSettings{});
    ASSERT_TRUE(ws);
  }
  test::TempFolder dir;
  std::unique_ptr<JobWorkspace> ws;
};

TEST_F(BudgetedLoad, AHugeScreenFailsWithTheLimitBeforeAnyBlock) {
  BudgetGuard guard(int64_t{64} << 20);
  const std::vector<uint8_t> gif = screenGif(65535, 65535);
  const std::filesystem::path path = dir.path() / "screen.gif";
  test::writeBytes(path, gif);
  EXPECT_FALSE(loadFromPath(*ws, QFile::decodeName(path.c_str())));
  EXPECT_EQ(ws->failure.status, Status::BadImage);
  EXPECT_NE(failureText(ws->failure).find("more than the memory limit of 64 MiB"), std::string::npos)
      << failureText(ws->failure);
  EXPECT_FALSE(ws->image.pixels);
  EXPECT_EQ(memoryReserved(), 0);

  // A picture that fits converts and gives its share back.
  const std::vector<uint8_t> small = screenGif(64, 64);
  test::writeBytes(path, small);
  PendingFile out;
  EXPECT_TRUE(convertFile(*ws, nullptr, QFile::decodeName(path.c_str()), out)) << failureText(ws->failure);
  EXPECT_EQ(memoryReserved(), 0);
}

TEST_F(BudgetedLoad, ZipMembersAreJudgedByTheirHeadBeforeInflating) {
  BudgetGuard guard(int64_t{64} << 20);
  std::vector<test::ZipMember> members;
  members.push_back({"zeros.bmp", std::vector<uint8_t>(4 << 20, 0)});
  members.push_back({"big.gif", screenGif(20000, 20000)});
  members.push_back({"ok.gif", screenGif(32, 32)});
  const std::vector<uint8_t> zip = test::makeZip(members);
  const std::filesystem::path path = dir.path() / "m.zip";
  test::writeBytes(path, zip);

  MemoryArchiveSource source(zip.data(), zip.size());
  ZipMemberHead head;
  ASSERT_TRUE(peekZipMember(source, 0, 1000, head));
  EXPECT_EQ(head.bytes.size(), 1000u);
  EXPECT_EQ(head.uncompressedSize, 4u << 20);

  ws->sourceKind = SourceKind::Zip;
  ws->archivePath = QFile::decodeName(path.c_str());
  FileEntry entry;
  entry.name = QStringLiteral("zeros.bmp");
  EXPECT_FALSE(loadFromEntry(*ws, entry));
  EXPECT_EQ(ws->failure.status, Status::NotFormat);

  // Member offsets: each local header is 30 bytes plus its name plus its packed data.
  entry.memberPosition = static_cast<int64_t>(30 + 9 + head.compressedSize);
  entry.name = QStringLiteral("big.gif");
  EXPECT_FALSE(loadFromEntry(*ws, entry));
  EXPECT_FALSE(ws->failure.detail.empty());
  entry.memberPosition += 30 + 7 + static_cast<int64_t>(test::rawDeflate(members[1].data).size());
  entry.name = QStringLiteral("ok.gif");
  EXPECT_TRUE(loadFromEntry(*ws, entry)) << failureText(ws->failure);
  EXPECT_EQ(ws->image.header.biWidth, 32);
}

}  // namespace
}  // namespace velorin

// A PNG header may claim 2^32 - 1 pixels on each side: the estimate saturates instead of wrapping.
TEST(MemoryBudgetEstimate, HugeDimensionsSaturate) {
  EXPECT_EQ(velorin::conversionEstimate(4110417972, 4110417972), INT64_MAX);
  EXPECT_EQ(velorin::conversionEstimate(int64_t{1} << 41, 1), INT64_MAX);
  EXPECT_EQ(velorin::conversionEstimate(1000, 1000), 4 * 3000 * 1000);
}
