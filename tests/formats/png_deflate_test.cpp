// The writer's compressor pieces and its row filter choice, checked against plain references:
// zlib's own inflate for the joined stream, a byte-by-byte scorer for the filter types.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "formats/deflate.h"
#include "formats/png_writer.h"
#include "support/test_support.h"

namespace velorin {
namespace {

std::vector<uint8_t> inflateAll(const std::vector<uint8_t>& stream, size_t expected) {
  std::vector<uint8_t> out(expected + 1);
  uLongf size = static_cast<uLongf>(out.size());
  if (uncompress(out.data(), &size, stream.data(), static_cast<uLong>(stream.size())) != Z_OK) return {};
  out.resize(size);
  return out;
}

// Random bytes (stored final blocks), long runs (tiny blocks ending anywhere in a byte) and
// text-like data, in pieces small enough that every way a piece can end comes up.
TEST(PngDeflate, PiecesJoinIntoOneValidZlibStream) {
  std::mt19937 random(7);
  for (int kind = 0; kind < 3; ++kind) {
    std::vector<uint8_t> data(300'000 + kind * 4'099);
    for (size_t i = 0; i < data.size(); ++i)
      data[i] = kind == 0   ? static_cast<uint8_t>(random())
                : kind == 1 ? static_cast<uint8_t>((i / 997) % 3)
                            : static_cast<uint8_t>("velorin converts pictures "[random() % 26]);
    for (const int level : {6, 10}) {
      for (const size_t pieceBytes : {size_t{1'000}, size_t{4'096}, size_t{65'537}, size_t{1} << 20}) {
        std::vector<uint8_t> stream;
        int parts = 0;
        const DeflateResult result = zlibCompressInPieces(
            level, data.data(), data.size(), pieceBytes, 3, [&](const uint8_t* p, size_t n) {
              ASSERT_GT(n, 0u);
              stream.insert(stream.end(), p, p + n);
              ++parts;
            });
        ASSERT_EQ(result, DeflateResult::Ok);
        EXPECT_EQ(parts, static_cast<int>((data.size() + pieceBytes - 1) / pieceBytes));
        EXPECT_EQ(inflateAll(stream, data.size()), data) << kind << " " << level << " " << pieceBytes;
        std::vector<uint8_t> back(data.size());
        EXPECT_TRUE(zlibInflateExact(stream.data(), stream.size(), back.data(), back.size()));
      }
    }
  }
}

TEST(PngDeflate, EveryLevelGivesTheDataBackAtAnySize) {
  std::mt19937 random(3);
  for (const size_t n : {size_t{0}, size_t{1}, size_t{5} << 20}) {
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i % 251 < 200 ? i / 4096 : random());
    for (int level = 0; level <= 9; level += n > 1 ? 3 : 1) {
      std::vector<uint8_t> stream;
      ASSERT_EQ(zlibCompress(level, true, data.data(), n,
                             [&](const uint8_t* p, size_t m) { stream.insert(stream.end(), p, p + m); }),
                DeflateResult::Ok);
      EXPECT_EQ(inflateAll(stream, n), data) << n << " at level " << level;
    }
  }
}

int predictor(int type, const std::vector<uint8_t>& raw, const std::vector<uint8_t>& prev,
              size_t i, int bpp) {
  const int a = i >= static_cast<size_t>(bpp) ? raw[i - bpp] : 0, b = prev[i];
  const int c = i >= static_cast<size_t>(bpp) ? prev[i - bpp] : 0;
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  const int values[5] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
  return values[type];
}

// The choice by the plain rule: a byte scores when it equals its left neighbour and lies within
// 4 of 0 modulo 256, the type byte counting as byte 0; Up beats Sub, Paeth beats Average and the
// Average/Paeth winner beats the Sub/Up one only when strictly better, and None wins ties.
int referenceFilter(const std::vector<uint8_t>& raw, const std::vector<uint8_t>& prev, int bpp) {
  const size_t n = raw.size();
  const auto score = [&](int type) {
    std::vector<uint8_t> row(n + 1);
    row[0] = static_cast<uint8_t>(type);
    for (size_t i = 0; i < n; ++i) row[i + 1] = static_cast<uint8_t>(raw[i] - predictor(type, raw, prev, i, bpp));
    uint32_t s = 0;
    for (size_t i = 1; i <= n; ++i) s += row[i] == row[i - 1] && static_cast<uint8_t>(row[i] + 4) < 8;
    return s;
  };
  const uint32_t s[5] = {score(0), score(1), score(2), score(3), score(4)};
  const int subOrUp = s[2] > s[1] ? 2 : 1, averageOrPaeth = s[4] > s[3] ? 4 : 3;
  const int best = s[averageOrPaeth] > s[subOrUp] ? averageOrPaeth : subOrUp;
  return s[best] > s[0] ? best : 0;
}

// Rows of smooth gradients, noise, flat runs and mixtures, at widths around the vector length,
// for grey and truecolour: each row's type byte in the written file against the reference.
TEST(PngDeflate, FilterChoiceMatchesThePlainScorer) {
  test::TempFolder folder;
  std::mt19937 random(11);
  int rowsChecked = 0;
  for (const int bits : {8, 24}) {
    const int bpp = bits / 8;
    for (const int32_t width : {1, 5, 6, 16, 17, 33, 100, 257}) {
      const int32_t height = 40;
      ImageRecord image;
      ASSERT_EQ(image.allocatePixels(width, height, bits), Status::Ok);
      for (int i = 0; i < 256; ++i)
        image.palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
      const uint64_t stride = paddedStride(width, bits);
      for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = image.pixels.data() + y * stride;
        const int kind = static_cast<int>(random() % 5);
        for (int i = 0; i < width * bpp; ++i) {
          const int noise = static_cast<int>(random() % 5) - 2;
          row[i] = static_cast<uint8_t>(kind == 0   ? random()
                                        : kind == 1 ? i + y * 2
                                        : kind == 2 ? 128
                                        : kind == 3 ? i * 7 + noise
                                                    : (i / 9) * 30 + (y % 3) * noise);
        }
      }
      PngWriter w;
      w.converter.width = width;
      w.converter.height = height;
      setDepthConversion(w.converter, bits, bits);
      w.greyscale = bits == 8;
      w.level = 0;
      const auto path = folder / "f.png";
      ASSERT_TRUE(writePng(w, path, image.palette, image.pixels.data()));

      std::ifstream in(path, std::ios::binary);
      const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::vector<uint8_t> stream;
      for (size_t at = 8; at + 12 <= file.size();) {
        const size_t length = (size_t{file[at]} << 24) | (file[at + 1] << 16) | (file[at + 2] << 8) | file[at + 3];
        if (std::memcmp(&file[at + 4], "IDAT", 4) == 0)
          stream.insert(stream.end(), file.begin() + at + 8, file.begin() + at + 8 + length);
        at += 12 + length;
      }
      const size_t rowBytes = static_cast<size_t>(width) * bpp;
      const std::vector<uint8_t> filtered = inflateAll(stream, (rowBytes + 1) * height);
      ASSERT_EQ(filtered.size(), (rowBytes + 1) * height);
      std::vector<uint8_t> prev(rowBytes, 0), raw(rowBytes);
      for (int32_t r = 0; r < height; ++r) {
        // The raw row back from the file's filtered one, then the choice the rule makes for it.
        const uint8_t* row = &filtered[r * (rowBytes + 1)];
        for (size_t i = 0; i < rowBytes; ++i)
          raw[i] = static_cast<uint8_t>(row[1 + i] + predictor(row[0], raw, prev, i, bpp));
        ASSERT_EQ(filtered[r * (rowBytes + 1)], referenceFilter(raw, prev, bpp))
            << "width " << width << " bits " << bits << " row " << r;
        prev = raw;
        ++rowsChecked;
      }
    }
  }
  EXPECT_EQ(rowsChecked, 2 * 8 * 40);
}

}  // namespace
}  // namespace velorin
