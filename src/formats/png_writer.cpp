#include "formats/png_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "formats/adam7.h"
#include "formats/crc32.h"
#include "formats/deflate.h"
#include "imaging/stop_flag.h"
#include "formats/icc_profile.h"
#include "formats/output_file.h"
#include "formats/png_simd.h"

namespace velorin {

namespace {


void storeBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

bool fail(PngWriter& w, Status status) {
  w.status = status;
  return false;
}

void writeChunk(std::FILE* f, const char* type, const uint8_t* data, uint32_t length) {
  uint8_t head[8];
  storeBe32(head, length);
  std::memcpy(head + 4, type, 4);
  uint32_t crc = crc32Update(0, head + 4, 4);
  if (length) crc = crc32Update(crc, data, length);
  uint8_t tail[4];
  storeBe32(tail, crc);
  std::fwrite(head, 1, 8, f);
  if (length) std::fwrite(data, 1, length, f);
  std::fwrite(tail, 1, 4, f);
}

enum class Kind { Palette, Grey, TrueColour };

// ---- Row filtering of truecolour and grey rows ----

// Bytes equal to their left neighbour and close to 0 or 255 (mod 256) are what deflate finds
// cheapest; the type byte takes part as byte 0.
uint32_t scoreOf(const uint8_t* row, size_t n) {
  uint32_t score = 0;
  size_t i = 1;
#if defined(__SSE2__)
  using namespace simd;
  // Hits are counted per byte lane (each 0xFF hit subtracts -1) and summed before a lane can
  // overflow, every 255 vectors.
  const __m128i four = _mm_set1_epi8(4), seven = _mm_set1_epi8(7), zero = _mm_setzero_si128();
  while (i + 16 <= n) {
    __m128i lanes = zero;
    for (int k = 0; k < 255 && i + 16 <= n; ++k, i += 16) {
      const __m128i x = load16(row + i);
      const __m128i shifted = _mm_add_epi8(x, four);
      const __m128i near = _mm_cmpeq_epi8(_mm_min_epu8(shifted, seven), shifted);
      lanes = _mm_sub_epi8(lanes, _mm_and_si128(_mm_cmpeq_epi8(x, load16(row + i - 1)), near));
    }
    const __m128i sums = _mm_sad_epu8(lanes, zero);
    score += static_cast<uint32_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
  }
#endif
  for (; i < n; ++i) score += (row[i] == row[i - 1]) & (static_cast<uint8_t>(row[i] + 4) < 8);
  return score;
}

// The standard predictor and tie order, without branches.
inline uint8_t paethPredictor(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  const int nearer = pb < pa ? b : a;
  return static_cast<uint8_t>(pc < std::min(pa, pb) ? c : nearer);
}

// Each filter reads only raw bytes (the row and the one above), never its own output, so the
// bytes are independent and go sixteen at a time.
template <int Bpp>
void filterFourWays(const uint8_t* raw, const uint8_t* prev, size_t n, uint8_t* sub, uint8_t* up,
                    uint8_t* average, uint8_t* paeth) {
  const auto one = [&](size_t i) {
    const int a = i >= Bpp ? raw[i - Bpp] : 0;
    const int b = prev[i];
    const int c = i >= Bpp ? prev[i - Bpp] : 0;
    sub[i] = static_cast<uint8_t>(raw[i] - a);
    up[i] = static_cast<uint8_t>(raw[i] - b);
    average[i] = static_cast<uint8_t>(raw[i] - ((a + b) >> 1));
    paeth[i] = static_cast<uint8_t>(raw[i] - paethPredictor(a, b, c));
  };
  size_t i = 0;
  for (; i < Bpp && i < n; ++i) one(i);
#if defined(__SSE2__)
  using namespace simd;
  const __m128i zero = _mm_setzero_si128(), lowBit = _mm_set1_epi8(1);
  for (; i + 16 <= n; i += 16) {
    const __m128i x = load16(raw + i), a = load16(raw + i - Bpp);
    const __m128i b = load16(prev + i), c = load16(prev + i - Bpp);
    store16(sub + i, _mm_sub_epi8(x, a));
    store16(up + i, _mm_sub_epi8(x, b));
    // The rounding-up average less the bit it rounded up by: (a + b) >> 1 without widening.
    const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), lowBit));
    store16(average + i, _mm_sub_epi8(x, mean));
    const __m128i low = paethPredictor16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                                         _mm_unpacklo_epi8(c, zero));
    const __m128i high = paethPredictor16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                                          _mm_unpackhi_epi8(c, zero));
    store16(paeth + i, _mm_sub_epi8(x, _mm_packus_epi16(low, high)));
  }
#endif
  for (; i < n; ++i) one(i);
}

// The six row buffers behind the filtered data; each row starts with its filter type byte.
struct FilterRows {
  uint8_t* previous;
  uint8_t* current;
  uint8_t* out[4];  // Sub, Up, Average, Paeth
};

// Filters the raw row in rows.current (row bytes n after the type byte) five ways, appends the
// best to `dest` and returns the bytes appended.
size_t filterAndAppend(FilterRows& rows, size_t n, int bpp, uint8_t* dest) {
  uint8_t* raw = rows.current;
  raw[0] = 0;
  for (int k = 0; k < 4; ++k) rows.out[k][0] = static_cast<uint8_t>(k + 1);
  if (bpp == 3)
    filterFourWays<3>(raw + 1, rows.previous + 1, n, rows.out[0] + 1, rows.out[1] + 1,
                      rows.out[2] + 1, rows.out[3] + 1);
  else
    filterFourWays<1>(raw + 1, rows.previous + 1, n, rows.out[0] + 1, rows.out[1] + 1,
                      rows.out[2] + 1, rows.out[3] + 1);
  const size_t length = n + 1;
  const uint32_t none = scoreOf(raw, length);
  const uint32_t scores[4] = {scoreOf(rows.out[0], length), scoreOf(rows.out[1], length),
                              scoreOf(rows.out[2], length), scoreOf(rows.out[3], length)};
  const int subOrUp = scores[1] > scores[0] ? 1 : 0;
  const int averageOrPaeth = scores[3] > scores[2] ? 3 : 2;
  const int best = scores[averageOrPaeth] > scores[subOrUp] ? averageOrPaeth : subOrUp;
  const uint8_t* chosen = scores[best] > none ? rows.out[best] : raw;
  std::memcpy(dest, chosen, length);
  std::swap(rows.previous, rows.current);
  return length;
}

// ---- Palette handling ----

// Keeps the first of every set of equal colours, renumbers the pixels and returns the number of
// entries kept. All 2^bits entries take part, used or not.
int mergePalette(const DepthConverter& c, RgbQuad* palette, uint8_t* pixels) {
  const int bits = c.targetBits;
  const int total = 1 << bits;
  uint8_t map[256] = {};
  int kept = 1;
  for (int i = 1; i < total; ++i) {
    int j = 0;
    while (j < kept && !(palette[j].blue == palette[i].blue && palette[j].green == palette[i].green &&
                         palette[j].red == palette[i].red))
      ++j;
    if (j == kept) palette[kept++] = palette[i];
    map[i] = static_cast<uint8_t>(j);
  }
  // Every field of every byte, packed or not: a byte-wide table does the whole byte at once.
  uint8_t byteMap[256];
  const int perByte = 8 / bits, mask = total - 1;
  for (int v = 0; v < 256; ++v) {
    int mapped = 0;
    for (int k = 0; k < perByte; ++k) {
      const int shift = k * bits;
      mapped |= map[(v >> shift) & mask] << shift;
    }
    byteMap[v] = static_cast<uint8_t>(mapped);
  }
  for (int64_t y = 0; y < c.height; ++y) {
    uint8_t* row = pixels + y * c.targetStride;
    for (int32_t x = 0; x < c.targetRowBytes; ++x) row[x] = byteMap[row[x]];
  }
  return kept;
}

// The transparent entries of a written palette: exact matches, or else the single nearest.
// Returns the index bKGD names (the last transparent one); alpha gets 0 there, 255 elsewhere.
int markTransparentEntries(const RgbQuad* palette, int entries, RgbColour colour, uint8_t* alpha) {
  int last = -1;
  for (int i = 0; i < entries; ++i) {
    const bool match = palette[i].red == colour.red && palette[i].green == colour.green &&
                       palette[i].blue == colour.blue;
    alpha[i] = match ? 0 : 255;
    if (match) last = i;
  }
  if (last >= 0) return last;
  int64_t bestDistance = INT64_MAX;
  for (int i = 0; i < entries; ++i) {
    const int dr = palette[i].red - colour.red, dg = palette[i].green - colour.green,
              db = palette[i].blue - colour.blue;
    const int64_t distance = int64_t{dr} * dr + int64_t{dg} * dg + int64_t{db} * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      last = i;
    }
  }
  alpha[last] = 0;
  return last;
}

void writeKeyChunks(std::FILE* f, Kind kind, RgbColour colour) {
  uint8_t data[6] = {};
  if (kind == Kind::TrueColour) {
    data[1] = colour.red;
    data[3] = colour.green;
    data[5] = colour.blue;
    writeChunk(f, "tRNS", data, 6);
    writeChunk(f, "bKGD", data, 6);
    return;
  }
  const int level = (colour.red * 299 + colour.green * 587 + colour.blue * 114) / 1000;
  data[1] = static_cast<uint8_t>(level);
  writeChunk(f, "tRNS", data, 2);
  writeChunk(f, "bKGD", data, 2);
}

struct Job {
  PngWriter& w;
  std::FILE* file;
  Kind kind;
  int bytesPerPixel;
  uint8_t* filtered;    // the whole filtered image
  uint8_t* rowBuffers;  // the six filter rows behind it, back to back
  FilterRows rows;
  uint64_t rowBufferSize;
};

// Palette rows are stored unfiltered: neighbouring indices predict nothing about each other.
bool preparePalette(Job& job, const RgbQuad* palette, const uint8_t* pixels) {
  PngWriter& w = job.w;
  DepthConverter& c = w.converter;
  PixelBuffer converted;
  if (c.targetImageSize == 0 || !converted.allocate(c.targetImageSize))
    return fail(w, Status::NoMemory);
  RgbQuad table[256] = {};
  if (!convertDepth(c, palette, pixels, table, converted.data())) return fail(w, Status::CannotWrite);
  const int entries = c.targetBits == 1 ? 2 : mergePalette(c, table, converted.data());
  w.paletteEntries = entries;

  uint8_t plte[768];
  for (int i = 0; i < entries; ++i) {
    plte[3 * i] = table[i].red;
    plte[3 * i + 1] = table[i].green;
    plte[3 * i + 2] = table[i].blue;
  }
  writeChunk(job.file, "PLTE", plte, static_cast<uint32_t>(3 * entries));
  if (w.hasTransparency) {
    uint8_t alpha[256];
    const int index = markTransparentEntries(table, entries, w.transparentColour, alpha);
    writeChunk(job.file, "tRNS", alpha, static_cast<uint32_t>(index + 1));
    const uint8_t background = static_cast<uint8_t>(index);
    writeChunk(job.file, "bKGD", &background, 1);
  }

  const int bits = c.targetBits;
  uint8_t* out = job.filtered;
  const auto sourceRow = [&](int64_t y) {
    return converted.data() + (c.height - 1 - y) * static_cast<int64_t>(c.targetStride);
  };
  if (!w.interlace) {
    for (int64_t y = 0; y < c.height; ++y) {
      *out++ = 0;
      std::memcpy(out, sourceRow(y), static_cast<size_t>(c.targetRowBytes));
      out += c.targetRowBytes;
    }
    return true;
  }
  const int mask = (1 << bits) - 1;
  for (const Adam7Pass& pass : kAdam7Passes) {
    const int64_t columns = passColumns(pass, c.width), passHeight = passRows(pass, c.height);
    if (columns <= 0 || passHeight <= 0) continue;
    const uint64_t rowBytes = pngRowBytes(static_cast<uint64_t>(columns), bits, 1);
    for (int64_t r = 0; r < passHeight; ++r) {
      const uint8_t* in = sourceRow(pass.startRow + r * pass.rowStep);
      *out++ = 0;
      if (bits == 8) {
        for (int64_t k = 0; k < columns; ++k) out[k] = in[pass.startColumn + k * pass.columnStep];
      } else {
        std::memset(out, 0, rowBytes);
        for (int64_t k = 0; k < columns; ++k) {
          const int64_t x = pass.startColumn + k * pass.columnStep;
          const int64_t bit = x * bits;
          const int index = in[bit >> 3] >> (8 - bits - (bit & 7)) & mask;
          const int64_t outBit = k * bits;
          out[outBit >> 3] |= static_cast<uint8_t>(index << (8 - bits - (outBit & 7)));
        }
      }
      out += rowBytes;
    }
  }
  return true;
}

// Truecolour (3 bytes, red first) and grey (1 byte) rows, filtered row by row.
bool prepareFiltered(Job& job, const uint8_t* rowsBase, int64_t sourceStride) {
  PngWriter& w = job.w;
  const DepthConverter& c = w.converter;
  const int bpp = job.bytesPerPixel;
  if (w.hasTransparency) writeKeyChunks(job.file, job.kind, w.transparentColour);
  uint8_t* out = job.filtered;
  const Adam7Pass* passes = w.interlace ? kAdam7Passes : &kWholeImagePass;
  for (int p = 0; p < (w.interlace ? 7 : 1); ++p) {
    const Adam7Pass& pass = passes[p];
    const int64_t columns = passColumns(pass, c.width), passHeight = passRows(pass, c.height);
    if (columns <= 0 || passHeight <= 0) continue;
    std::memset(job.rowBuffers, 0, 6 * job.rowBufferSize);
    const size_t rowBytes = static_cast<size_t>(columns) * bpp;
    for (int64_t r = 0; r < passHeight; ++r) {
      if (conversionStopRequested()) return fail(w, Status::CannotWrite);
      const uint8_t* in = rowsBase + (c.height - 1 - (pass.startRow + r * pass.rowStep)) * sourceStride;
      uint8_t* raw = job.rows.current + 1;
      if (bpp == 3) {
        for (int64_t k = 0; k < columns; ++k) {
          const uint8_t* s = in + 3 * (pass.startColumn + k * pass.columnStep);
          raw[3 * k] = s[2];
          raw[3 * k + 1] = s[1];
          raw[3 * k + 2] = s[0];
        }
      } else if (pass.columnStep == 1) {
        std::memcpy(raw, in, rowBytes);
      } else {
        for (int64_t k = 0; k < columns; ++k) raw[k] = in[pass.startColumn + k * pass.columnStep];
      }
      out += filterAndAppend(job.rows, rowBytes, bpp, out);
    }
  }
  return true;
}

bool compressAndWrite(PngWriter& w, std::FILE* f, const uint8_t* filtered, uint64_t size,
                      Kind kind) {
  // The compressor hands the stream over in parts (one, or one per piece when it works on
  // several threads); each becomes IDAT chunks, and a chunk holds at most 2^31 - 1 bytes.
  const auto writeIdat = [f](const uint8_t* data, size_t length) {
    size_t at = 0;
    while (at < length) {
      const size_t piece = std::min<size_t>(length - at, 0x7FFFFFFF);
      writeChunk(f, "IDAT", data + at, static_cast<uint32_t>(piece));
      at += piece;
    }
  };
  switch (zlibCompress(w.level, kind != Kind::Palette, filtered, static_cast<size_t>(size), writeIdat)) {
    case DeflateResult::Ok: return true;
    case DeflateResult::NoMemory: return fail(w, Status::NoMemory);
    case DeflateResult::Failed: break;
  }
  return fail(w, Status::DeflateError);
}

void writeComment(std::FILE* f, const std::string& comment) {
  std::string data = "Comment";
  data.push_back('\0');
  const size_t length = std::min<size_t>(comment.size(), 4095);
  for (size_t i = 0; i < length && comment[i] != '\0'; ++i)
    if (comment[i] != '\r') data.push_back(comment[i]);
  writeChunk(f, "tEXt", reinterpret_cast<const uint8_t*>(data.data()),
             static_cast<uint32_t>(data.size()));
}

// A write that fails (a full disk) must not pass for a finished file.
bool finish(PngWriter& w, OutputFile& file) {
  if (!closeOutputFile(file)) return fail(w, Status::CannotWrite);
  return true;
}

}  // namespace

bool writePng(PngWriter& w, const std::filesystem::path& path, const RgbQuad* palette,
              const uint8_t* pixels) {
  w.status = Status::Ok;
  w.bitDepth = w.colourType = w.paletteEntries = 0;
  DepthConverter& c = w.converter;
  if (c.width > kPngMaxWidth) return fail(w, Status::CannotCreate);
  OutputFile file(std::fopen(path.c_str(), "wb"));
  if (!file) return fail(w, Status::CannotCreate);

  const int target = c.targetBits;
  if (target != 1 && target != 2 && target != 4 && target != 8 && target != 24)
    return fail(w, Status::CannotWrite);
  if (w.greyscale && target != 8) return fail(w, Status::CannotWrite);
  const Kind kind = target == 24 ? Kind::TrueColour : w.greyscale ? Kind::Grey : Kind::Palette;
  w.bitDepth = kind == Kind::Palette ? target : 8;
  w.colourType = kind == Kind::TrueColour ? 2 : kind == Kind::Grey ? 0 : 3;
  const int bytesPerPixel = kind == Kind::TrueColour ? 3 : 1;
  if (c.width <= 0 || c.height <= 0 || !pixels) return fail(w, Status::BadImage);

  const PngFilteredSize size = pngFilteredSize(c.width, c.height, w.bitDepth, bytesPerPixel, w.interlace);
  // The whole filtered image is one block, and blocks stop below 2^32 bytes.
  if (size.total >= kMaxBlockSize) return fail(w, Status::BadImage);

  std::FILE* f = file.get();
  static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  std::fwrite(kSignature, 1, 8, f);
  uint8_t ihdr[13];
  storeBe32(ihdr, static_cast<uint32_t>(c.width));
  storeBe32(ihdr + 4, static_cast<uint32_t>(c.height));
  ihdr[8] = static_cast<uint8_t>(w.bitDepth);
  ihdr[9] = static_cast<uint8_t>(w.colourType);
  ihdr[10] = ihdr[11] = 0;
  ihdr[12] = w.interlace ? 1 : 0;
  writeChunk(f, "IHDR", ihdr, 13);
  if (kind != Kind::Grey && !w.iccProfile.empty()) {
    const std::vector<uint8_t> icc = makePngIccChunk(w.iccProfile);
    if (!icc.empty()) writeChunk(f, "iCCP", icc.data(), static_cast<uint32_t>(icc.size()));
  }
  if (w.xPelsPerMeter > 0 && w.yPelsPerMeter > 0) {
    uint8_t phys[9];
    storeBe32(phys, static_cast<uint32_t>(w.xPelsPerMeter));
    storeBe32(phys + 4, static_cast<uint32_t>(w.yPelsPerMeter));
    phys[8] = 1;
    writeChunk(f, "pHYs", phys, 9);
  }

  PixelBuffer block;
  // Every byte of the filtered data is written, and the filter rows are cleared per pass.
  if (!block.allocate(size.total + 6 * size.largestRow, false)) return fail(w, Status::NoMemory);
  uint8_t* buffers = block.data() + size.total;
  Job job{w, f, kind, bytesPerPixel, block.data(), buffers, {}, size.largestRow};
  job.rows.previous = buffers;
  job.rows.current = buffers + size.largestRow;
  for (int k = 0; k < 4; ++k) job.rows.out[k] = buffers + (2 + k) * size.largestRow;

  bool prepared = false;
  PixelBuffer converted;
  if (kind == Kind::Palette) {
    prepared = preparePalette(job, palette, pixels);
  } else if (kind == Kind::TrueColour) {
    if (c.sourceBits == 24) {
      prepared = prepareFiltered(job, pixels, static_cast<int64_t>(paddedStride(c.width, 24)));
    } else if (c.targetImageSize == 0 || !converted.allocate(c.targetImageSize)) {
      prepared = fail(w, Status::NoMemory);
    } else {
      RgbQuad unused[256];
      prepared = convertDepth(c, palette, pixels, unused, converted.data())
                     ? prepareFiltered(job, converted.data(), c.targetStride)
                     : fail(w, Status::CannotWrite);
    }
  } else {
    if (c.sourceBits != 8 && c.sourceBits != 24) {
      prepared = fail(w, Status::CannotWrite);
    } else if (c.targetImageSize == 0 || !converted.allocate(c.targetImageSize)) {
      prepared = fail(w, Status::NoMemory);
    } else {
      if (c.sourceBits == 8) greyFromIndexed(c, palette, pixels, converted.data());
      else greyFromTrueColour(c, pixels, converted.data());
      prepared = prepareFiltered(job, converted.data(), c.width);
    }
  }
  if (!prepared) return false;
  converted.reset();

  if (!compressAndWrite(w, f, block.data(), size.total, kind)) return false;
  block.reset();
  if (!w.comment.empty()) writeComment(f, w.comment);
  writeChunk(f, "IEND", nullptr, 0);
  return finish(w, file);
}

}  // namespace velorin
