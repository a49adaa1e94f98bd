// A small random picture through one of the writers at a depth it supports, read back by our own
// reader. The first bytes choose the size, the working depth, the writer, its depth and how many
// colours the picture uses; the rest fill the palette and the pixels. Wherever the writer can
// store the picture without loss (true colour, or an indexed depth that holds all its colours)
// the colours read back must be the ones written; JPEG at quality 100 must come back at the same
// size and close to the source. A writer that fails or a file our reader refuses is a bug too.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "formats/bmp_reader.h"
#include "formats/bmp_writer.h"
#include "formats/gif_reader.h"
#include "formats/gif_writer.h"
#include "formats/jpeg_reader.h"
#include "formats/jpeg_writer.h"
#include "formats/png_reader.h"
#include "formats/png_writer.h"
#include "formats/tiff_reader.h"
#include "formats/tiff_writer.h"

namespace {

using namespace velorin;

struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bits = 24;  // 8 or 24, bottom-up rows as the working image holds them
  RgbQuad palette[256] = {};
  std::vector<uint8_t> pixels;
  size_t colours = 0;  // distinct colours the pixels use
};

RgbColour colourAt(const RgbQuad* palette, const uint8_t* pixels, int32_t width, int32_t bits, int32_t x,
                   int32_t y) {
  const uint8_t* row = pixels + paddedStride(width, bits) * static_cast<uint64_t>(y);
  if (bits == 8) {
    const RgbQuad& q = palette[row[x]];
    return {q.red, q.green, q.blue};
  }
  const uint8_t* p = row + 3 * x;
  return {p[2], p[1], p[0]};
}

RgbColour colourAt(const Picture& p, int32_t x, int32_t y) {
  return colourAt(p.palette, p.pixels.data(), p.width, p.bits, x, y);
}

RgbColour colourAt(const ImageRecord& r, int32_t x, int32_t y) {
  return colourAt(r.palette, r.pixels.data(), r.header.biWidth, r.header.biBitCount, x, y);
}

bool makePicture(const uint8_t* data, size_t size, Picture& p, int32_t& writer, int32_t& choice, bool& dither) {
  if (size < 6) return false;
  p.width = 1 + data[0] % 48;
  p.height = 1 + data[1] % 48;
  p.bits = (data[2] & 1) ? 24 : 8;
  dither = (data[2] & 2) != 0;
  writer = (data[2] >> 2) % 5;
  choice = data[3];
  const size_t wanted = 1 + data[4];  // colours to pick from, 1..256
  data += 5;
  size -= 5;
  size_t at = 0;
  auto next = [&] { return data[at++ % size]; };
  RgbQuad choices[256];
  for (size_t i = 0; i < wanted; ++i) choices[i] = {next(), next(), next(), 0};
  if (p.bits == 8)
    for (size_t i = 0; i < 256; ++i) p.palette[i] = choices[i % wanted];
  const uint64_t stride = paddedStride(p.width, p.bits);
  p.pixels.assign(stride * p.height + 4, 0);
  std::set<uint32_t> seen;
  for (int32_t y = 0; y < p.height; ++y) {
    uint8_t* row = p.pixels.data() + stride * y;
    for (int32_t x = 0; x < p.width; ++x) {
      const uint8_t pick = static_cast<uint8_t>(next() % wanted);
      if (p.bits == 8) {
        row[x] = pick;
      } else {
        row[3 * x] = choices[pick].blue;
        row[3 * x + 1] = choices[pick].green;
        row[3 * x + 2] = choices[pick].red;
      }
      const RgbColour c = colourAt(p, x, y);
      seen.insert(uint32_t{c.red} << 16 | uint32_t{c.green} << 8 | c.blue);
    }
  }
  p.colours = seen.size();
  return true;
}

const std::filesystem::path& scratchPath() {
  static const std::filesystem::path path = [] {
    const char* shm = "/dev/shm";
    const std::filesystem::path folder = std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
    return folder / ("velorin-roundtrip-" + std::to_string(getpid()));
  }();
  return path;
}

std::vector<uint8_t> readBack() {
  std::vector<uint8_t> bytes;
  if (std::FILE* f = std::fopen(scratchPath().c_str(), "rb")) {
    uint8_t chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
  }
  std::filesystem::remove(scratchPath());
  return bytes;
}

// The picture as read back must have the source's size and, when the write was lossless, its
// colours; otherwise every channel within tolerance on average (0: no colour check).
void compare(const Picture& p, const ImageRecord& r, bool exact, int tolerance) {
  if (r.header.biWidth != p.width || r.header.biHeight != p.height || !r.pixels) std::abort();
  if (!exact && tolerance == 0) return;
  uint64_t error = 0;
  for (int32_t y = 0; y < p.height; ++y)
    for (int32_t x = 0; x < p.width; ++x) {
      const RgbColour a = colourAt(p, x, y), b = colourAt(r, x, y);
      if (exact && !(a == b)) std::abort();
      error += std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue);
    }
  if (!exact && error > uint64_t(tolerance) * 3 * p.width * p.height) std::abort();
}

template <typename Writer>
void prepare(Writer& w, const Picture& p, int32_t targetBits, bool dither) {
  w.converter.width = p.width;
  w.converter.height = p.height;
  setDepthConversion(w.converter, p.bits, targetBits);
  w.converter.dither = dither;
}

// Whether writing at targetBits keeps every colour: true colour always, an indexed depth of 2 or
// more bits when it holds all the picture's colours (1 bit thresholds grey instead).
bool keepsColours(const Picture& p, int32_t targetBits) {
  return targetBits == 24 || (targetBits >= 2 && p.colours <= (size_t{1} << targetBits));
}

template <typename Reader, typename Read>
void check(const Picture& p, bool written, int32_t targetBits, Read read) {
  if (!written) std::abort();
  const std::vector<uint8_t> bytes = readBack();
  Reader reader;
  ImageRecord record;
  if (!read(reader, bytes.data(), bytes.size(), record)) std::abort();
  compare(p, record, keepsColours(p, targetBits), 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Picture p;
  int32_t writer = 0, choice = 0;
  bool dither = false;
  if (!makePicture(data, size, p, writer, choice, dither)) return 0;
  const std::filesystem::path& path = scratchPath();
  // One writer an input: the colour reduction they share is slow under the fuzzer's coverage.
  switch (writer) {
    case 0: {
      static const int32_t depths[] = {1, 4, 8, 24};
      const int32_t bits = depths[choice % 4];
      BmpWriter w;
      prepare(w, p, bits, dither);
      check<BmpReader>(p, writeBmp(w, path, p.palette, p.pixels.data()), bits, readBmpMemory);
      break;
    }
    case 1: {
      static const int32_t depths[] = {1, 2, 4, 8, 24};
      const int32_t bits = depths[choice % 5];
      PngWriter w;
      prepare(w, p, bits, dither);
      w.level = (choice >> 3) % 10;
      w.interlace = (choice & 0x80) != 0;
      check<PngReader>(p, writePng(w, path, p.palette, p.pixels.data()), bits, readPngMemory);
      break;
    }
    case 2: {
      static const int32_t depths[] = {1, 4, 8, 24};
      const int32_t bits = depths[choice % 4];
      TiffWriter w;
      prepare(w, p, bits, dither);
      check<TiffReader>(p, writeTiff(w, path, p.palette, p.pixels.data()), bits, readTiffMemory);
      break;
    }
    case 3: {
      static const int32_t depths[] = {8, 1, 2, 4};
      const int32_t bits = depths[choice % 4];
      GifWriter w;
      prepare(w, p, bits, dither);
      w.interlace = (choice & 0x80) != 0;
      check<GifReader>(p, writeGif(w, path, p.palette, p.pixels.data()), bits, readGifMemory);
      break;
    }
    default: {
      JpegWriter w;
      setupJpegWriter(w, p.width, p.height, p.bits);
      setJpegWriterOptions(w, 100, 2, false, (choice & 1) != 0);
      if (!writeJpeg(w, path, p.palette, p.pixels.data())) std::abort();
      const std::vector<uint8_t> bytes = readBack();
      JpegReader reader;
      ImageRecord record;
      if (!readJpegMemory(reader, bytes.data(), bytes.size(), record)) std::abort();
      // Quality 100 at 4:4:4 loses only the rounding of the colour transform and the DCT.
      compare(p, record, false, 4);
    }
  }
  return 0;
}
