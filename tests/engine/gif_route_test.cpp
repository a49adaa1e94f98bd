// GIF through the whole per-file pipeline: read by its signature, written at every depth the
// format offers, interlaced or not, with the transparent colour carried over.
#include <gtest/gtest.h>

#include <QFile>

#include <random>

#include "engine/pipeline.h"
#include "formats/gif_reader.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::q;

// A 24 x 10 GIF89a made by hand: 4-entry table, index 3 transparent, codes of 3 bits.
std::vector<uint8_t> smallGif(bool transparent) {
  test::Bytes file;
  file.text("GIF89a").le16(24).le16(10).u8(0x81).u8(0).u8(0);
  file.u8(200).u8(0).u8(0).u8(0).u8(200).u8(0).u8(0).u8(0).u8(200).u8(10).u8(10).u8(10);
  if (transparent) file.u8(0x21).u8(0xF9).u8(4).u8(1).le16(0).u8(3).u8(0);
  file.u8(0x2C).le16(0).le16(0).le16(24).le16(10).u8(0).u8(2);
  // Every pixel its own root code, with a clear code before each so the width stays 3 bits.
  test::CodePacker codes;
  for (int i = 0; i < 240; ++i) {
    codes.put(4, 3);
    codes.put(static_cast<uint32_t>((i / 3 + i / 24) % 4), 3);
  }
  codes.put(5, 3);
  file.subBlocks(codes.finish()).u8(';');
  return file.data;
}

class GifRoute : public testing::Test {
 protected:
  void SetUp() override {
    settings_.OFmt = 4;
    temporary_ = std::make_unique<test::TempFolder>();
  }
  std::unique_ptr<JobWorkspace> workspace() {
    auto ws = createJobWorkspace(settings_);
    ws->temporaryFolder = q(temporary_->path());
    return ws;
  }
  // Converts one input and reads the output back with the GIF reader.
  bool convert(const std::filesystem::path& input, ImageRecord& back, GifReader& reader,
               bool fileBackground = true) {
    auto ws = workspace();
    ws->fileBackground = fileBackground;
    PendingFile temporary;
    if (!convertFile(*ws, nullptr, q(input), temporary)) {
      ADD_FAILURE() << ws->failure.stage << " " << static_cast<int>(ws->failure.status);
      return false;
    }
    output_ = test::readBytes(toFsPath(temporary.path()));
    return readGifMemory(reader, output_.data(), output_.size(), back);
  }
  ConversionSettings settings_;
  test::TempFolder inputs_;
  std::unique_ptr<test::TempFolder> temporary_;
  std::vector<uint8_t> output_;
};

RgbColour colourAt(const ImageRecord& record, int x, int y) {
  const size_t stride = paddedStride(record.header.biWidth, 8);
  const RgbQuad& q =
      record.palette[record.pixels.data()[(record.header.biHeight - 1 - y) * stride + x]];
  return {q.red, q.green, q.blue};
}

TEST_F(GifRoute, GifInGifOutAtEveryDepth) {
  test::writeBytes(inputs_ / "small.gif", smallGif(false));
  GifReader sourceReader;
  ImageRecord source;
  ASSERT_TRUE(readGifFile(sourceReader, inputs_ / "small.gif", source));
  // DepOpt 0 keeps the working depth and 1 (full colour) is not offered: both write 8 bits.
  const std::pair<int, int> depths[] = {{0, 8}, {1, 8}, {2, 8}, {3, 4}, {4, 2}, {5, 1}};
  for (const auto& [depOpt, bits] : depths) {
    for (const bool interlace : {false, true}) {
      SCOPED_TRACE(testing::Message() << "DepOpt " << depOpt << (interlace ? " interlaced" : ""));
      settings_.DepOpt = depOpt;
      settings_.Interlace = interlace;
      GifReader reader;
      ImageRecord back;
      ASSERT_TRUE(convert(inputs_ / "small.gif", back, reader));
      EXPECT_EQ(reader.colourBits, bits);
      EXPECT_EQ(reader.interlaced, interlace);
      ASSERT_EQ(back.header.biWidth, 24);
      ASSERT_EQ(back.header.biHeight, 10);
      // Four colours survive every depth but 1 bit, which thresholds to black and white.
      for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 24; ++x) {
          const RgbColour expected = colourAt(source, x, y);
          if (bits >= 2) {
            ASSERT_EQ(colourAt(back, x, y), expected) << x << "," << y;
          } else {
            const RgbColour got = colourAt(back, x, y);
            ASSERT_TRUE(got == (RgbColour{0, 0, 0}) || got == (RgbColour{255, 255, 255}));
          }
        }
    }
  }
}

TEST_F(GifRoute, TransparentColourIsCarriedOver) {
  test::writeBytes(inputs_ / "clear.gif", smallGif(true));
  settings_.Trans = true;
  settings_.DepOpt = 2;
  GifReader reader;
  ImageRecord back;
  // Without the file's background the transparent entry turns white, and white is what the
  // output marks transparent.
  ASSERT_TRUE(convert(inputs_ / "clear.gif", back, reader, false));
  ASSERT_TRUE(reader.hasTransparency);
  const RgbQuad& marked = back.palette[reader.transparentIndex];
  EXPECT_EQ((RgbColour{marked.red, marked.green, marked.blue}), (RgbColour{255, 255, 255}));
  GifReader sourceReader;
  ImageRecord source;
  ASSERT_TRUE(readGifFile(sourceReader, inputs_ / "clear.gif", source));
  const size_t stride = paddedStride(24, 8);
  for (size_t i = 0; i < stride * 10; ++i)
    ASSERT_EQ(source.pixels.data()[i] == 3, back.pixels.data()[i] == reader.transparentIndex) << i;

  // Without Trans the output has no transparent colour; at 1 bit, fewer bits than the source's
  // table, the transparency is dropped as well.
  for (const auto& [trans, depOpt] : {std::pair{false, 2}, std::pair{true, 5}}) {
    settings_.Trans = trans;
    settings_.DepOpt = depOpt;
    ASSERT_TRUE(convert(inputs_ / "clear.gif", back, reader, false));
    EXPECT_FALSE(reader.hasTransparency);
  }
}

TEST_F(GifRoute, TrueColourAndConformanceFilesBecomeGif) {
  // A 24-bit bitmap reduced to 256 and to 16 colours.
  std::vector<uint8_t> rows;
  std::mt19937 random(4);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      rows.push_back(static_cast<uint8_t>(x * 16));
      rows.push_back(static_cast<uint8_t>(y * 16));
      rows.push_back(static_cast<uint8_t>(random()));
    }
  }
  test::writeBytes(inputs_ / "photo.bmp", test::makeBmp(16, 16, 24, {}, rows));
  for (const auto& [depOpt, bits] : {std::pair{2, 8}, std::pair{3, 4}}) {
    settings_.DepOpt = depOpt;
    settings_.Dither = depOpt == 3;
    GifReader reader;
    ImageRecord back;
    ASSERT_TRUE(convert(inputs_ / "photo.bmp", back, reader));
    EXPECT_EQ(reader.colourBits, bits);
    if (bits == 8) {  // 256 pixels: every colour kept exactly
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          const uint8_t* p = &rows[(15 - y) * 48 + 3 * x];
          ASSERT_EQ(colourAt(back, x, y), (RgbColour{p[2], p[1], p[0]}));
        }
    }
  }

  // A real file: its first image on its screen, the same colours after the round trip.
  settings_.DepOpt = 2;
  settings_.Dither = false;
  const auto input = test::testdata("gif/pillow/first_frame_transparency.gif");
  GifReader sourceReader;
  sourceReader.preferFileBackground = true;  // as the workspace reads it
  ImageRecord source;
  ASSERT_TRUE(readGifFile(sourceReader, input, source));
  GifReader reader;
  ImageRecord back;
  ASSERT_TRUE(convert(input, back, reader));
  ASSERT_EQ(back.header.biWidth, source.header.biWidth);
  ASSERT_EQ(back.header.biHeight, source.header.biHeight);
  for (int y = 0; y < source.header.biHeight; ++y)
    for (int x = 0; x < source.header.biWidth; ++x)
      ASSERT_EQ(colourAt(back, x, y), colourAt(source, x, y)) << x << "," << y;
}

}  // namespace
}  // namespace velorin
