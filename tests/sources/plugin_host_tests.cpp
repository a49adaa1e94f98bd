#include "sources/plugin_host.h"

#include <gtest/gtest.h>

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <fstream>
#include <sstream>

#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

const QString kTestPlugins = QStringLiteral(VELORIN_BINARY_DIR "/test-plugins/spi");
const QString kShippedPlugins = QStringLiteral(VELORIN_BINARY_DIR "/bin/plugins");

using test::q;

// A picture file for the test image plug-in (layout in tests/sources/plugins/test_plugin.cpp).
struct TestPicture {
  int32_t width = 3, height = 2;
  uint16_t bitCount = 8, pictureDepth = 0;
  uint32_t compression = 0;
  int32_t infoSize = -1;  // -1: header plus palette
  std::vector<RgbQuad> palette = {{0, 0, 0, 0}, {10, 20, 30, 0}, {40, 50, 60, 0}};
  std::vector<uint8_t> bits = {0, 1, 2, 0, 2, 1, 0, 0};
  int64_t bitsSize = -1;  // -1: as many as given
  size_t prefix = 0;

  std::vector<uint8_t> bytes() const {
    test::Bytes b;
    b.zeros(prefix);
    b.text("TSTI").le32(width).le32(height).le16(bitCount).le16(pictureDepth).le32(compression);
    b.le32(infoSize >= 0 ? infoSize : static_cast<uint32_t>(40 + 4 * palette.size()));
    b.le32(static_cast<uint32_t>(palette.size()));
    for (const RgbQuad& q : palette) b.u8(q.blue).u8(q.green).u8(q.red).u8(0);
    b.le32(bitsSize >= 0 ? static_cast<uint32_t>(bitsSize) : static_cast<uint32_t>(bits.size()));
    b.data.insert(b.data.end(), bits.begin(), bits.end());
    return b.data;
  }
};

struct HostFixture : ::testing::Test {
  test::TempFolder folder;
  PluginHost host;
  std::filesystem::path log = folder / "loads.log";
  void SetUp() override {
    host.pluginFolder = kTestPlugins;
    setenv("VELORIN_TEST_PLUGIN_LOG", log.c_str(), 1);
  }
  void TearDown() override { unsetenv("VELORIN_TEST_PLUGIN_LOG"); }
  QString write(const std::string& name, const std::vector<uint8_t>& bytes) {
    test::writeBytes(folder / name, bytes);
    return q(folder / name);
  }
  std::string loads() {
    std::ifstream in(log);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

TEST_F(HostFixture, ReadsAPictureFromAFileAndFromMemory) {
  TestPicture picture;
  picture.pictureDepth = 5;
  ImageRecord record;
  const QString path = write("a.tsti", picture.bytes());
  ASSERT_TRUE(readImageWithPlugin(host, path, record));
  EXPECT_EQ(host.headerOffset, 0);
  EXPECT_EQ(record.header.biWidth, 3);
  EXPECT_EQ(record.header.biHeight, 2);
  EXPECT_EQ(record.header.biBitCount, 8);
  EXPECT_EQ(record.sourceBitCount, 5u);
  EXPECT_EQ(record.sourceFormat, 0);
  EXPECT_EQ(record.sourceFileSize, picture.bytes().size());
  EXPECT_GT(record.sourceFileTime, 0);
  EXPECT_EQ(record.palette[2], (RgbQuad{40, 50, 60, 0}));
  EXPECT_EQ(std::vector<uint8_t>(record.pixels.data(), record.pixels.data() + 8), picture.bits);

  ImageRecord fromMemory;
  const auto bytes = picture.bytes();
  ASSERT_TRUE(readImageWithPlugin(host, "member.tsti", bytes.data(), bytes.size(), fromMemory));
  EXPECT_EQ(std::vector<uint8_t>(fromMemory.pixels.data(), fromMemory.pixels.data() + 8), picture.bits);
  EXPECT_EQ(fromMemory.sourceFileSize, bytes.size());
}

TEST_F(HostFixture, ASignatureAfterA128BytePrefixIsFoundOnTheSecondCall) {
  TestPicture picture;
  picture.prefix = 128;
  ImageRecord record;
  // The test plug-in reads its header at the offset it is given, so success proves 128 came.
  ASSERT_TRUE(readImageWithPlugin(host, write("p.tsti", picture.bytes()), record));
  EXPECT_EQ(host.headerOffset, 128);
  picture.prefix = 64;
  EXPECT_FALSE(readImageWithPlugin(host, write("q.tsti", picture.bytes()), record));
}

TEST_F(HostFixture, DisabledAndKindlessPluginsAreNeverUsed) {
  const QString path = write("a.tsti", TestPicture().bytes());
  host.disabledPlugins = {QStringLiteral("TEST_IMAGE.SPI")};
  ImageRecord record;
  // The kindless plug-in also recognises the file, but counts for nothing.
  EXPECT_FALSE(readImageWithPlugin(host, path, record));
  EXPECT_EQ(loads().find("test_image"), std::string::npos);
  EXPECT_NE(loads().find("test_wrongkind"), std::string::npos);
  EXPECT_EQ(pluginExtensions(host, 3, true), QStringList({"*.tsta", "*.zip"}));
  host.disabledPlugins.clear();
  EXPECT_TRUE(readImageWithPlugin(host, path, record));
}

TEST_F(HostFixture, BitmapsOfOneAndFourBitsBecomeOneBytePerPixel) {
  TestPicture four;
  four.bitCount = 4;
  four.width = 3;  // odd: the last nibble of each row is the last pixel only
  four.bits = {0x12, 0x3F, 0, 0, 0x45, 0x6F, 0, 0};
  ImageRecord record;
  ASSERT_TRUE(readImageWithPlugin(host, write("four.tsti", four.bytes()), record));
  EXPECT_EQ(record.header.biBitCount, 8);
  EXPECT_EQ(record.sourceBitCount, 4u);
  const uint8_t* p = record.pixels.data();
  EXPECT_EQ(std::vector<uint8_t>(p, p + 8), std::vector<uint8_t>({1, 2, 3, 0, 4, 5, 6, 0}));

  TestPicture one;
  one.bitCount = 1;
  one.width = 10;
  one.height = 1;
  one.bits = {0xA5, 0xC0, 0, 0};
  ASSERT_TRUE(readImageWithPlugin(host, write("one.tsti", one.bytes()), record));
  p = record.pixels.data();
  EXPECT_EQ(std::vector<uint8_t>(p, p + 10), std::vector<uint8_t>({1, 0, 1, 0, 0, 1, 0, 1, 1, 1}));
}

TEST_F(HostFixture, HostileAnswersFailTheFileWithoutHarm) {
  ImageRecord record;
  auto refused = [&](TestPicture picture) { return !readImageWithPlugin(host, write("h.tsti", picture.bytes()), record); };
  TestPicture compressed;
  compressed.compression = 1;
  EXPECT_TRUE(refused(compressed));
  TestPicture shortFourBit;
  shortFourBit.bitCount = 4;
  shortFourBit.bits = {0x12, 0x30, 0, 0};  // one row of two
  EXPECT_TRUE(refused(shortFourBit));
  TestPicture sixteen;
  sixteen.bitCount = 16;
  EXPECT_TRUE(refused(sixteen));
  TestPicture noWidth;
  noWidth.width = 0;
  EXPECT_TRUE(refused(noWidth));
  TestPicture topDown;
  topDown.height = -2;
  EXPECT_TRUE(refused(topDown));
  TestPicture tinyInfo;
  tinyInfo.infoSize = 20;
  EXPECT_TRUE(refused(tinyInfo));
  TestPicture noBits;
  noBits.bitsSize = 0;
  EXPECT_TRUE(refused(noBits));
  TestPicture huge;
  huge.width = 70000;
  huge.height = 70000;
  EXPECT_TRUE(refused(huge));
  EXPECT_FALSE(record.pixels);
  TestPicture shortEight;
  shortEight.bits = {7, 7, 7, 0};  // one row of two
  EXPECT_TRUE(refused(shortEight));
  TestPicture shortTwentyFour;
  shortTwentyFour.bitCount = 24;
  shortTwentyFour.bits = std::vector<uint8_t>(23, 1);
  EXPECT_TRUE(refused(shortTwentyFour));
  EXPECT_FALSE(record.pixels);
}

TEST_F(HostFixture, ArchivePluginsListAndExtractMembers) {
  test::Bytes archive;
  archive.text("TSTA").le32(3);
  archive.u8(11).text("dir/one.bin").le32(0).le32(0).le32(4).text("ABCD");
  archive.u8(5).text("b.bin").le32(86400).le32(0).le32(2).text("xy");
  archive.u8(5).text("e.bin").le32(0).le32(0).le32(0);
  const QString path = write("a.tsta", archive.data);
  EXPECT_TRUE(isPluginArchive(host, path));
  EXPECT_FALSE(isPluginArchive(host, write("a.tsti", TestPicture().bytes())));
  const auto list = listArchiveWithPlugin(host, path);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->entries.size(), 3u);
  EXPECT_EQ(list->entries[0].folder, "dir/");
  EXPECT_EQ(list->entries[0].fileName, "one.bin");
  EXPECT_EQ(list->entries[0].fileTime, 116444736000000000);  // 1970-01-01 00:00 UTC
  EXPECT_EQ(list->entries[1].fileTime, 116444736000000000 + 86400LL * 10000000);
  EXPECT_EQ(list->entries[1].size, 2u);
  PixelBuffer block;
  ASSERT_TRUE(extractWithPlugin(host, path, list->entries[0].position, block));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block.data()), block.size()), "ABCD");
  EXPECT_FALSE(extractWithPlugin(host, path, list->entries[2].position, block));  // empty member
  EXPECT_FALSE(extractWithPlugin(host, path, 9999, block));
}

TEST_F(HostFixture, ExtensionListsDescriptionsAndConfiguration) {
  // Image patterns whole, without the built-in formats and empty parts; archives as extensions.
  EXPECT_EQ(pluginExtensions(host, 1, true), QStringList({"*.tsti", "*.tst2"}));
  EXPECT_EQ(pluginExtensions(host, 2, false), QStringList({".tsta", ".zip"}));
  EXPECT_EQ(pluginList(host), QStringList({"test_image.spi", "test_archive.sph"}));
  QString patterns, descriptions;
  ASSERT_TRUE(pluginDescription(host, "test_image.spi", patterns, descriptions));
  EXPECT_EQ(patterns, "*.tsti;*.PNG;;*.tst2");
  EXPECT_EQ(descriptions, "Test images/More test images");
  EXPECT_FALSE(pluginDescription(host, "missing.spi", patterns, descriptions));
  configurePlugin(host, nullptr, "test_archive.sph");
  EXPECT_NE(loads().find("test_archive\ntest_archive"), std::string::npos);  // load, then the dialog
}

TEST_F(HostFixture, WithoutAPluginFolderNothingIsTried) {
  const QString path = write("a.tsti", TestPicture().bytes());
  ImageRecord record;
  for (const QString& folder : {QString(), QStringLiteral("/nonexistent/plugins"), path}) {
    host.pluginFolder = folder;
    EXPECT_FALSE(readImageWithPlugin(host, path, record));
    EXPECT_FALSE(listArchiveWithPlugin(host, path));
    EXPECT_TRUE(pluginExtensions(host, 3, true).isEmpty());
    EXPECT_TRUE(pluginList(host).isEmpty());
  }
  EXPECT_TRUE(loads().empty());
  host.pluginFolder = kTestPlugins;
  EXPECT_FALSE(readImageWithPlugin(host, q(folder / "missing.tsti"), record));
  EXPECT_FALSE(readImageWithPlugin(host, write("empty.tsti", {}), record));
}

// The shipped Netpbm plug-in, against pixels written here.
struct NetpbmCase {
  std::string name;
  std::string text;  // the file
  int bitCount;      // of the record
};

TEST(ShippedPlugins, NetpbmVariantsDecode) {
  test::TempFolder folder;
  PluginHost host;
  host.pluginFolder = kShippedPlugins;
  // 3 x 2 pictures; top row first as Netpbm writes them.
  std::string p5 = "P5\n3 2\n255\n";
  for (int v : {0, 128, 255, 1, 2, 3}) p5 += static_cast<char>(v);
  std::string p6 = "P6 3 2 65535\n";
  for (int v : {65535, 0, 0, 0, 65535, 0, 0, 0, 65535, 257, 257, 257, 0, 0, 0, 32768, 32768, 32768})
    p6 += std::string{static_cast<char>(v >> 8), static_cast<char>(v & 255)};
  std::string p4 = "P4\n# comment\n3 2\n";
  p4 += static_cast<char>(0xA0);
  p4 += static_cast<char>(0x40);
  const std::vector<NetpbmCase> cases = {
      {"plain.pbm", "P1\n3 2\n1 0 1\n0 1 0\n", 8}, {"raw.pbm", p4, 8},
      {"plain.pgm", "P2\n3 2\n15\n0 8 15\n1 2 3\n", 8}, {"raw.pgm", p5, 8},
      {"plain.ppm", "P3\n3 2\n255\n255 0 0  0 255 0  0 0 255\n1 1 1  0 0 0  128 128 128\n", 24}, {"raw.ppm", p6, 24}};
  for (const NetpbmCase& c : cases) {
    test::writeBytes(folder / c.name, {c.text.begin(), c.text.end()});
    ImageRecord record;
    ASSERT_TRUE(readImageWithPlugin(host, q(folder / c.name), record)) << c.name;
    EXPECT_EQ(record.header.biWidth, 3);
    EXPECT_EQ(record.header.biHeight, 2);
    EXPECT_EQ(record.header.biBitCount, c.bitCount) << c.name;
    const RgbColour topLeft = test::pixelAt(record, 0, 0), topMiddle = test::pixelAt(record, 1, 0);
    if (c.name.ends_with(".pbm")) {
      EXPECT_EQ(topLeft, (RgbColour{0, 0, 0})) << c.name;
      EXPECT_EQ(topMiddle, (RgbColour{255, 255, 255})) << c.name;
      EXPECT_EQ(test::pixelAt(record, 1, 1), (RgbColour{0, 0, 0})) << c.name;
    } else if (c.name == "plain.pgm") {
      EXPECT_EQ(topMiddle, (RgbColour{136, 136, 136}));  // 8 of 15, rounded
      EXPECT_EQ(test::pixelAt(record, 2, 0), (RgbColour{255, 255, 255}));
    } else if (c.name == "raw.pgm") {
      EXPECT_EQ(topMiddle, (RgbColour{128, 128, 128}));
    } else {
      EXPECT_EQ(topLeft, (RgbColour{255, 0, 0})) << c.name;
      EXPECT_EQ(test::pixelAt(record, 2, 0), (RgbColour{0, 0, 255})) << c.name;
      EXPECT_EQ(test::pixelAt(record, 2, 1), (RgbColour{128, 128, 128})) << c.name;
    }
  }
  const std::string truncated = "P6\n3 2\n255\nabc";
  test::writeBytes(folder / "short.ppm", {truncated.begin(), truncated.end()});
  ImageRecord record;
  EXPECT_FALSE(readImageWithPlugin(host, q(folder / "short.ppm"), record));
  // The photo plug-ins share the folder, so the Netpbm patterns are among others.
  const QStringList imagePatterns = pluginExtensions(host, 1, true);
  for (const char* pattern : {"*.pbm", "*.pgm", "*.ppm", "*.pnm"})
    EXPECT_TRUE(imagePatterns.contains(QLatin1String(pattern))) << pattern;
  EXPECT_TRUE(pluginExtensions(host, 2, false).contains(".lzh"));
}

}  // namespace
}  // namespace velorin

namespace velorin {
namespace {

TEST(ShippedPlugins, ANamedPipeIsNoArchiveAndIsNotOpened) {
  // Inputs are probed for plug-in archives before a job starts; a pipe among them must not stall it.
  test::TempFolder folder;
  const auto pipe = folder / "b.bmp";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  PluginHost host;
  host.pluginFolder = QStringLiteral(VELORIN_BINARY_DIR "/bin/plugins");
  auto probe = std::async(std::launch::async, [&] { return isPluginArchive(host, q(pipe)); });
  if (probe.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    const int writer = ::open(pipe.c_str(), O_WRONLY);  // lets the waiting open return
    if (writer >= 0) ::close(writer);
    probe.wait();
    FAIL() << "the probe waited on the pipe";
  }
  EXPECT_FALSE(probe.get());
}

}  // namespace
}  // namespace velorin
