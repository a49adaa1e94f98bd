#include "formats/png_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "formats/adam7.h"
#include "formats/blend_table.h"
#include "formats/crc32.h"
#include "formats/deflate.h"
#include "formats/png_simd.h"
#include "formats/icc_profile.h"

namespace velorin {

namespace {

constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr size_t kHeaderEnd = 8 + 25;  // signature and the whole IHDR chunk

bool fail(PngReader& r, Status status) {
  r.status = status;
  return false;
}

bool isType(const uint8_t* type, const char (&name)[5]) { return std::memcmp(type, name, 4) == 0; }

// The stored CRC of a chunk whose type starts at `type`, against the one of its type and data.
bool crcMatches(const uint8_t* type, uint32_t length) {
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  return true;
#endif
  return crc32Update(0, type, size_t{length} + 4) == loadBe32(type + 4 + length);
}

// How the filtered bytes of one row become output pixels and alpha samples.
enum class Layout {
  Packed,  // grey or palette index below 8 bits: one output byte per field
  Grey8,   // grey 8 or palette index 8
  Grey16,
  Rgb8,
  Rgb16,
  GreyAlpha8,
  GreyAlpha16,
  Rgba8,
  Rgba16,
};

struct PixelFormat {
  Layout layout = Layout::Grey8;
  int bytesPerPixel = 1;
  int outputDepth = 8;
};

// False when the pair is not one the format allows; the status says which field is wrong.
bool selectFormat(int bitDepth, int colourType, PixelFormat& format, Status& status) {
  if (bitDepth != 1 && bitDepth != 2 && bitDepth != 4 && bitDepth != 8 && bitDepth != 16) {
    status = Status::BadBitDepth;
    return false;
  }
  const bool wide = bitDepth == 16;
  status = Status::BadColourType;
  switch (colourType) {
    case 0:
      format = bitDepth < 8 ? PixelFormat{Layout::Packed, 1, 8}
                            : PixelFormat{wide ? Layout::Grey16 : Layout::Grey8, wide ? 2 : 1, 8};
      return true;
    case 2:
      if (bitDepth < 8) return false;
      format = {wide ? Layout::Rgb16 : Layout::Rgb8, wide ? 6 : 3, 24};
      return true;
    case 3:
      if (wide) return false;
      format = {bitDepth < 8 ? Layout::Packed : Layout::Grey8, 1, 8};
      return true;
    case 4:
      if (bitDepth < 8) return false;
      format = {wide ? Layout::GreyAlpha16 : Layout::GreyAlpha8, wide ? 4 : 2, 8};
      return true;
    case 6:
      if (bitDepth < 8) return false;
      format = {wide ? Layout::Rgba16 : Layout::Rgba8, wide ? 8 : 4, 24};
      return true;
    default:
      return false;
  }
}

// The standard predictor and tie order (left, above, upper left), written without branches:
// picking between left and above first, then upper left only when strictly nearer.
inline uint8_t paeth(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  const int nearer = pb < pa ? b : a;
  return static_cast<uint8_t>(pc < std::min(pa, pb) ? c : nearer);
}

#if defined(__SSE2__)
// Sub, Average and Paeth of 3- and 4-byte pixels, a whole pixel per step: each pixel needs the one
// before it, but its channels go together in the lanes of one vector. Reads of a 3-byte pixel take
// one byte beyond it, inside the row buffers' spare bytes.
template <int Bpp, int Type>
void unfilterPixels(uint8_t* row, const uint8_t* prev, size_t n) {
  using namespace simd;
  const __m128i zero = _mm_setzero_si128();
  __m128i a = zero, c = zero;  // left and upper left, one channel per 16-bit lane
  for (size_t i = 0; i + Bpp <= n; i += Bpp) {
    const __m128i b = _mm_unpacklo_epi8(loadPixel(prev + i), zero);
    __m128i predicted;
    if constexpr (Type == 1) predicted = a;
    else if constexpr (Type == 3) predicted = _mm_srli_epi16(_mm_add_epi16(a, b), 1);
    else predicted = paethPredictor16(a, b, c);
    const __m128i x = _mm_add_epi8(loadPixel(row + i), _mm_packus_epi16(predicted, predicted));
    storePixel(row + i, x, Bpp);
    a = _mm_unpacklo_epi8(x, zero);
    c = b;
  }
}
#endif

// Undoes one filter in place; the distance is a template argument so the inner loops unroll.
template <int Bpp>
void unfilterRow(uint8_t* row, const uint8_t* prev, size_t n, int type) {
#if defined(__SSE2__)
  if constexpr (Bpp == 3 || Bpp == 4) {
    switch (type) {
      case 1: unfilterPixels<Bpp, 1>(row, prev, n); return;
      case 3: unfilterPixels<Bpp, 3>(row, prev, n); return;
      case 4: unfilterPixels<Bpp, 4>(row, prev, n); return;
      default: break;
    }
  }
#endif
  switch (type) {
    case 1:
      for (size_t i = Bpp; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - Bpp]);
      break;
    case 2: {
      size_t i = 0;
#if defined(__SSE2__)
      for (; i + 16 <= n; i += 16)
        simd::store16(row + i, _mm_add_epi8(simd::load16(row + i), simd::load16(prev + i)));
#endif
      for (; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + prev[i]);
      break;
    }
    case 3:
      for (size_t i = 0; i < Bpp && i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + (prev[i] >> 1));
      for (size_t i = Bpp; i < n; ++i)
        row[i] = static_cast<uint8_t>(row[i] + ((row[i - Bpp] + prev[i]) >> 1));
      break;
    case 4:
      for (size_t i = 0; i < Bpp && i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + prev[i]);
      for (size_t i = Bpp; i < n; ++i)
        row[i] = static_cast<uint8_t>(row[i] + paeth(row[i - Bpp], prev[i], prev[i - Bpp]));
      break;
    default:
      break;
  }
}

void unfilter(uint8_t* row, const uint8_t* prev, size_t n, int bpp, int type) {
  switch (bpp) {
    case 1: unfilterRow<1>(row, prev, n, type); break;
    case 2: unfilterRow<2>(row, prev, n, type); break;
    case 3: unfilterRow<3>(row, prev, n, type); break;
    case 4: unfilterRow<4>(row, prev, n, type); break;
    case 6: unfilterRow<6>(row, prev, n, type); break;
    default: unfilterRow<8>(row, prev, n, type); break;
  }
}

// Where the pixels of one unfiltered row go: `out` is the first output pixel, `step` the pixel
// distance (the Adam7 column increment), `alpha` the matching alpha-plane position or null.
struct RowTarget {
  uint8_t* out;
  uint8_t* alpha;
  size_t step;
  size_t count;
};

void storeRow(Layout layout, int bitDepth, const uint8_t* in, const RowTarget& t) {
  uint8_t* out = t.out;
  const size_t step = t.step, n = t.count;
  switch (layout) {
    case Layout::Packed: {
      const int perByte = 8 / bitDepth;
      const int mask = (1 << bitDepth) - 1;
      for (size_t x = 0; x < n; ++x) {
        const int shift = 8 - bitDepth * (static_cast<int>(x % perByte) + 1);
        out[x * step] = static_cast<uint8_t>(in[x / perByte] >> shift & mask);
      }
      break;
    }
    case Layout::Grey8:
      if (step == 1) std::memcpy(out, in, n);
      else for (size_t x = 0; x < n; ++x) out[x * step] = in[x];
      break;
    case Layout::Grey16:
      for (size_t x = 0; x < n; ++x) out[x * step] = in[2 * x];
      break;
    case Layout::Rgb8:
      for (size_t x = 0; x < n; ++x) {
        uint8_t* p = out + 3 * x * step;
        p[0] = in[3 * x + 2];
        p[1] = in[3 * x + 1];
        p[2] = in[3 * x];
      }
      break;
    case Layout::Rgb16:
      for (size_t x = 0; x < n; ++x) {
        uint8_t* p = out + 3 * x * step;
        p[0] = in[6 * x + 4];
        p[1] = in[6 * x + 2];
        p[2] = in[6 * x];
      }
      break;
    case Layout::GreyAlpha8:
      for (size_t x = 0; x < n; ++x) {
        out[x * step] = in[2 * x];
        t.alpha[x * step] = in[2 * x + 1];
      }
      break;
    case Layout::GreyAlpha16:
      for (size_t x = 0; x < n; ++x) {
        out[x * step] = in[4 * x];
        t.alpha[x * step] = in[4 * x + 2];
      }
      break;
    case Layout::Rgba8:
      for (size_t x = 0; x < n; ++x) {
        uint8_t* p = out + 3 * x * step;
        p[0] = in[4 * x + 2];
        p[1] = in[4 * x + 1];
        p[2] = in[4 * x];
        t.alpha[x * step] = in[4 * x + 3];
      }
      break;
    case Layout::Rgba16:
      for (size_t x = 0; x < n; ++x) {
        uint8_t* p = out + 3 * x * step;
        p[0] = in[8 * x + 4];
        p[1] = in[8 * x + 2];
        p[2] = in[8 * x];
        t.alpha[x * step] = in[8 * x + 6];
      }
      break;
  }
}

struct Inflater {
  z_stream stream{};
  bool started = false;
  ~Inflater() {
    if (started) inflateEnd(&stream);
  }
};

struct DecodeTarget {
  PixelFormat format;
  uint8_t* pixels;
  uint64_t stride;
  uint8_t* alphaPlane;  // null without an alpha channel
};

// Stores the unfiltered row `passRow` of `pass` (its bytes after the filter byte) into the pixel
// block and the alpha plane.
void storePassRow(const PngReader& r, const DecodeTarget& target, const Adam7Pass& pass,
                  int64_t passRow, int64_t passWidth, const uint8_t* row) {
  const size_t outBytes = target.format.outputDepth / 8;
  const int64_t imageRow = pass.startRow + passRow * pass.rowStep;
  const uint64_t storedRow = static_cast<uint64_t>(r.height - 1 - imageRow);
  RowTarget t;
  t.out = target.pixels + storedRow * target.stride + pass.startColumn * outBytes;
  t.alpha = target.alphaPlane
                ? target.alphaPlane + storedRow * static_cast<uint64_t>(r.width) + pass.startColumn
                : nullptr;
  t.step = static_cast<size_t>(pass.columnStep);
  t.count = static_cast<size_t>(passWidth);
  storeRow(target.format.layout, r.bitDepth, row, t);
}

// The usual case, a complete stream of exactly the filtered size: inflated in one call, then
// unfiltered in place, each row against the one before it. False (nothing stored) when the
// stream is anything else or the memory is not there; the row-by-row decoder then takes over.
bool decodeWholeStream(const PngReader& r, const DecodeTarget& target, const uint8_t* data,
                       uint32_t length) {
  const int bpp = target.format.bytesPerPixel;
  const PngFilteredSize size = pngFilteredSize(r.width, r.height, r.bitDepth, bpp, r.interlace);
  PixelBuffer filtered, zeroRow;
  if (size.total >= kMaxBlockSize || !filtered.allocate(size.total, false) ||
      !zeroRow.allocate(size.largestRow) ||
      !zlibInflateExact(data, length, filtered.data(), static_cast<size_t>(size.total)))
    return false;
  uint8_t* row = filtered.data();
  const Adam7Pass* passes = r.interlace ? kAdam7Passes : &kWholeImagePass;
  for (int p = 0; p < (r.interlace ? 7 : 1); ++p) {
    const Adam7Pass& pass = passes[p];
    const int64_t passWidth = passColumns(pass, r.width), passHeight = passRows(pass, r.height);
    if (passWidth <= 0 || passHeight <= 0) continue;
    const uint64_t rowBytes = pngRowBytes(static_cast<uint64_t>(passWidth), r.bitDepth, bpp);
    const uint8_t* previous = zeroRow.data();
    for (int64_t pr = 0; pr < passHeight; ++pr) {
      const int filter = row[0] > 4 ? 0 : row[0];
      unfilter(row + 1, previous + 1, rowBytes, bpp, filter);
      storePassRow(r, target, pass, pr, passWidth, row + 1);
      previous = row;
      row += rowBytes + 1;
    }
  }
  return true;
}

// Inflates one filtered row at a time from the image data and stores it. A stream that ends
// early leaves the remaining rows zero and the reader's damage said; a damaged one fails with
// the rows so far stored.
bool decodeRowByRow(PngReader& r, const DecodeTarget& target, const uint8_t* data,
                    uint32_t length) {
  Inflater inflater;
  z_stream& zs = inflater.stream;
  if (inflateInit2(&zs, 15) != Z_OK) return fail(r, Status::InflateError);
  inflater.started = true;
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = length;

  const int bpp = target.format.bytesPerPixel;
  const uint64_t fullRowBytes = pngRowBytes(static_cast<uint64_t>(r.width), r.bitDepth, bpp);
  PixelBuffer buffers[2];
  // A row must also fit zlib's 32-bit output count.
  if (fullRowBytes + 1 >= kMaxBlockSize || !buffers[0].allocate(fullRowBytes + 1) ||
      !buffers[1].allocate(fullRowBytes + 1))
    return fail(r, Status::NoMemory);
  uint8_t* current = buffers[0].data();
  uint8_t* previous = buffers[1].data();

  const Adam7Pass* passes = r.interlace ? kAdam7Passes : &kWholeImagePass;
  const int passCount = r.interlace ? 7 : 1;
  int lastPass = 0;  // the last pass that has pixels: small interlaced images leave passes empty
  for (int p = 0; p < passCount; ++p)
    if (passColumns(passes[p], r.width) > 0 && passRows(passes[p], r.height) > 0) lastPass = p;
  for (int p = 0; p < passCount; ++p) {
    const Adam7Pass& pass = passes[p];
    const int64_t passWidth = passColumns(pass, r.width);
    const int64_t passHeight = passRows(pass, r.height);
    if (passWidth <= 0 || passHeight <= 0) continue;
    const uint64_t rowBytes = pngRowBytes(static_cast<uint64_t>(passWidth), r.bitDepth, bpp);
    std::memset(current, 0, fullRowBytes + 1);
    std::memset(previous, 0, fullRowBytes + 1);
    for (int64_t pr = 0; pr < passHeight; ++pr) {
      zs.next_out = current;
      zs.avail_out = static_cast<uInt>(rowBytes + 1);
      const int result = inflate(&zs, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END) return fail(r, Status::InflateError);
      // A row cut short by the end of the stream is completed with zeros, not stale bytes.
      const bool lastRow = p == lastPass && pr == passHeight - 1;
      if (zs.avail_out || (result == Z_STREAM_END && !lastRow))
        r.damage = "the image data end before the picture does";
      if (zs.avail_out) std::memset(zs.next_out, 0, zs.avail_out);
      const int filter = current[0] > 4 ? 0 : current[0];
      unfilter(current + 1, previous + 1, rowBytes, bpp, filter);
      storePassRow(r, target, pass, pr, passWidth, current + 1);
      if (result == Z_STREAM_END) return true;
      std::swap(current, previous);
    }
  }
  return true;
}

bool decodeImageData(PngReader& r, const DecodeTarget& target, const uint8_t* data,
                     uint32_t length) {
  return decodeWholeStream(r, target, data, length) || decodeRowByRow(r, target, data, length);
}

// The IDAT run starting at `chunk`: checks every chunk of the run, decodes the joined data and
// returns where the chunk loop resumes (the first chunk after the run), or null on failure.
const uint8_t* readImageData(PngReader& r, const DecodeTarget& target, const uint8_t* chunk) {
  const uint32_t firstLength = loadBe32(chunk);
  if (r.imageDataSeen) {
    fail(r, Status::ChunkOrder);  // a second run of image data
    return nullptr;
  }
  if (!crcMatches(chunk + 4, firstLength)) {
    fail(r, Status::CrcError);
    return nullptr;
  }
  r.imageDataSeen = true;

  uint64_t total = firstLength;
  int count = 1;
  const uint8_t* next = chunk + 12 + firstLength;
  for (;;) {
    const size_t left = static_cast<size_t>(r.dataEnd - next);
    if (left < 12) break;  // checked below: the run must end at a whole chunk
    const uint32_t length = loadBe32(next);
    if ((length & 0x80000000u) || left - 12 < length) break;
    if (!isType(next + 4, "IDAT")) break;
    if (!crcMatches(next + 4, length) || total + length >= kMaxBlockSize) {
      fail(r, Status::DataTooLarge);
      return nullptr;
    }
    total += length;
    ++count;
    next += 12 + size_t{length};
  }
  // Whatever follows the run must be a whole chunk within the input.
  {
    const size_t left = static_cast<size_t>(r.dataEnd - next);
    const uint32_t length = left >= 4 ? loadBe32(next) : 0;
    if (left < 12 || (length & 0x80000000u) || left - 12 < length) {
      fail(r, Status::DataTooLarge);
      return nullptr;
    }
  }

  if (count == 1) {
    if (!decodeImageData(r, target, chunk + 8, firstLength)) return nullptr;
    return next;
  }
  PixelBuffer joined;
  if (!joined.allocate(total)) {
    fail(r, Status::NoMemory);
    return nullptr;
  }
  uint8_t* out = joined.data();
  for (const uint8_t* c = chunk; c != next;) {
    const uint32_t length = loadBe32(c);
    std::memcpy(out, c + 8, length);
    out += length;
    c += 12 + size_t{length};
  }
  if (!decodeImageData(r, target, joined.data(), static_cast<uint32_t>(total))) return nullptr;
  return next;
}

uint8_t greyLevel(int bitDepth, const uint8_t* value16) {
  switch (bitDepth) {
    case 1: return static_cast<uint8_t>(value16[1] * 255);
    case 2: return static_cast<uint8_t>(value16[1] * 85);
    case 4: return static_cast<uint8_t>(value16[1] * 17);
    case 8: return value16[1];
    default: return value16[0];
  }
}

void readBackground(PngReader& r, const uint8_t* data, uint32_t length) {
  const ImageRecord& record = *r.image;
  switch (r.colourType) {
    case 0:
    case 4: {
      if (length != 2) return;
      const uint8_t level = greyLevel(r.bitDepth, data);
      r.fileBackground = {level, level, level};
      break;
    }
    case 3: {
      if (length != 1 || !r.paletteSeen) return;
      const RgbQuad& entry = record.palette[data[0]];
      r.fileBackground = {entry.red, entry.green, entry.blue};
      break;
    }
    default: {
      if (length != 6) return;
      const int at = r.bitDepth == 16 ? 0 : 1;
      r.fileBackground = {data[at], data[2 + at], data[4 + at]};
      break;
    }
  }
  r.backgroundAccepted = true;
}

void readTransparency(PngReader& r, const uint8_t* data, uint32_t length) {
  const int at = r.bitDepth == 16 ? 0 : 1;
  switch (r.colourType) {
    case 0:
      if (length != 2) return;
      r.transparentKey = {data[at], data[at], data[at]};
      break;
    case 2:
      if (length != 6) return;
      r.transparentKey = {data[at], data[2 + at], data[4 + at]};
      break;
    case 3:
      if (!r.paletteSeen || length > static_cast<uint32_t>(r.paletteEntries)) return;
      std::memcpy(r.paletteAlpha, data, length);
      break;
    default:
      return;  // the alpha channel already says it all
  }
  r.transparencyAccepted = true;
}

void readPhysical(PngReader& r, const uint8_t* data, uint32_t length) {
  if (length != 9 || data[8] != 1) return;
  const uint32_t x = loadBe32(data), y = loadBe32(data + 4);
  if ((x | y) & 0x80000000u) return;
  r.xPelsPerMeter = static_cast<int32_t>(x);
  r.yPelsPerMeter = static_cast<int32_t>(y);
}

// Walks the chunks after IHDR up to IEND, decoding the image data when it comes.
bool readChunks(PngReader& r, const DecodeTarget& target) {
  ImageRecord& record = *r.image;
  const uint8_t* p = r.dataStart + kHeaderEnd;
  for (;;) {
    const size_t left = static_cast<size_t>(r.dataEnd - p);
    if (left < 4) return fail(r, Status::NotFormat);  // ends without IEND
    const uint32_t length = loadBe32(p);
    if (length & 0x80000000u) return fail(r, Status::ChunkLength);
    if (left - 4 < uint64_t{length} + 8) return fail(r, Status::NotFormat);
    const uint8_t* type = p + 4;
    const uint8_t* data = p + 8;
    const uint8_t* next = data + length + 4;

    if (isType(type, "IHDR")) return fail(r, Status::ChunkOrder);
    if (isType(type, "IDAT")) {
      next = readImageData(r, target, p);
      if (!next) return false;
    } else if (isType(type, "IEND")) {
      if (!crcMatches(type, length)) return fail(r, Status::CrcError);
      if (r.imageDataSeen && (r.colourType != 3 || r.paletteSeen)) return true;
      return fail(r, Status::MissingChunk);
    } else if (isType(type, "PLTE")) {
      if (r.colourType == 3) {
        if (r.paletteSeen || r.imageDataSeen) return fail(r, Status::ChunkOrder);
        if (!crcMatches(type, length)) return fail(r, Status::CrcError);
        const uint32_t entries = std::min<uint32_t>(length / 3, 1u << r.bitDepth);
        for (uint32_t i = 0; i < entries; ++i)
          record.palette[i] = {data[3 * i + 2], data[3 * i + 1], data[3 * i], 0};
        r.paletteEntries = static_cast<int32_t>(entries);
        r.paletteSeen = true;
      }
    } else if (isType(type, "bKGD")) {
      if (!r.backgroundAccepted && !r.imageDataSeen && crcMatches(type, length))
        readBackground(r, data, length);
    } else if (isType(type, "tRNS")) {
      if (!r.transparencyAccepted && !r.imageDataSeen && crcMatches(type, length))
        readTransparency(r, data, length);
    } else if (isType(type, "pHYs")) {
      if (!r.imageDataSeen && crcMatches(type, length)) readPhysical(r, data, length);
    } else if (isType(type, "iCCP")) {
      // Only the first, and only before the palette and the image data, as the format requires.
      if (!r.iccSeen && !r.paletteSeen && !r.imageDataSeen && crcMatches(type, length))
        r.iccProfile = readPngIccChunk(data, length);
      r.iccSeen = true;
    }
    // Any other chunk, critical or not, is skipped unchecked.
    p = next;
  }
}

RgbColour backgroundOf(const PngReader& r) {
  return r.preferFileBackground && r.backgroundAccepted ? r.fileBackground : r.defaultBackground;
}

void composite(PngReader& r, const DecodeTarget& target) {
  ImageRecord& record = *r.image;
  const RgbColour bg = backgroundOf(r);
  const uint8_t* table = blendTable();
  const int64_t width = r.width, height = r.height;
  switch (r.colourType) {
    case 0:
      record.palette[r.transparentKey.green] = {bg.blue, bg.green, bg.red, 0};
      break;
    case 2: {
      const RgbColour key = r.transparentKey;
      for (int64_t y = 0; y < height; ++y) {
        uint8_t* p = target.pixels + y * target.stride;
        for (int64_t x = 0; x < width; ++x, p += 3)
          if (p[0] == key.blue && p[1] == key.green && p[2] == key.red) {
            p[0] = bg.blue;
            p[1] = bg.green;
            p[2] = bg.red;
          }
      }
      break;
    }
    case 3:
      for (int i = 0; i < 256; ++i) {
        RgbQuad& entry = record.palette[i];
        const uint8_t a = r.paletteAlpha[i];
        entry.blue = blend(table, a, entry.blue, bg.blue);
        entry.green = blend(table, a, entry.green, bg.green);
        entry.red = blend(table, a, entry.red, bg.red);
      }
      break;
    case 4:
      for (int64_t y = 0; y < height; ++y) {
        uint8_t* p = target.pixels + y * target.stride;
        const uint8_t* a = target.alphaPlane + y * width;
        for (int64_t x = 0; x < width; ++x) p[x] = blend(table, a[x], p[x], bg.red);
      }
      break;
    case 6:
      for (int64_t y = 0; y < height; ++y) {
        uint8_t* p = target.pixels + y * target.stride;
        const uint8_t* a = target.alphaPlane + y * width;
        for (int64_t x = 0; x < width; ++x, p += 3) {
          p[0] = blend(table, a[x], p[0], bg.blue);
          p[1] = blend(table, a[x], p[1], bg.green);
          p[2] = blend(table, a[x], p[2], bg.red);
        }
      }
      break;
    default:
      break;
  }
}

// Which colour now stands for the transparent pixels. Compositing replaced them by a background
// colour, so that colour, not the file's key (which no longer occurs), is what a writer must mark.
void reportTransparency(PngReader& r) {
  const ImageRecord& record = *r.image;
  r.hasTransparency = false;
  r.transparentColour = {};
  if (!r.transparencyAccepted) return;
  if (r.colourType == 2) {
    r.hasTransparency = true;
    r.transparentColour = backgroundOf(r);
    return;
  }
  int index = r.transparentKey.green;  // grey: the key's ramp entry
  if (r.colourType == 3) {
    index = -1;
    for (int i = 0; i < 256 && index < 0; ++i)
      if (r.paletteAlpha[i] == 0) index = i;
    if (index < 0) return;
  }
  r.hasTransparency = true;
  const RgbQuad& entry = record.palette[index];
  r.transparentColour = {entry.red, entry.green, entry.blue};
}

void resetFacts(PngReader& r) {
  r.hasTransparency = false;
  r.transparentColour = {};
  r.paletteSeen = r.imageDataSeen = r.backgroundAccepted = r.transparencyAccepted = false;
  r.paletteEntries = 0;
  r.iccSeen = false;
  r.iccProfile.clear();
  r.fileBackground = {};
  r.transparentKey = {};
  std::memset(r.paletteAlpha, 255, sizeof r.paletteAlpha);
  r.xPelsPerMeter = r.yPelsPerMeter = 0;
}

bool decodePng(PngReader& r) {
  resetFacts(r);
  const uint8_t* d = r.dataStart;
  if (r.length() < kHeaderEnd || std::memcmp(d, kSignature, 8) != 0)
    return fail(r, Status::NotFormat);
  const uint8_t* ihdr = d + 8;
  if (loadBe32(ihdr) != 13) return fail(r, Status::IhdrLength);
  if (!isType(ihdr + 4, "IHDR")) return fail(r, Status::NoIhdr);
  if (!crcMatches(ihdr + 4, 13)) return fail(r, Status::CrcError);
  const uint8_t* h = ihdr + 8;
  r.width = static_cast<int32_t>(loadBe32(h));
  r.height = static_cast<int32_t>(loadBe32(h + 4));
  r.bitDepth = h[8];
  r.colourType = h[9];
  if (r.width <= 0 || r.height <= 0) return fail(r, Status::BadImage);
  if (h[10] != 0) return fail(r, Status::BadCompression);
  if (h[11] != 0) return fail(r, Status::BadFilter);
  if (h[12] > 1) return fail(r, Status::BadInterlace);
  r.interlace = h[12] == 1;

  DecodeTarget target{};
  Status formatStatus = Status::Ok;
  if (!selectFormat(r.bitDepth, r.colourType, target.format, formatStatus))
    return fail(r, formatStatus);
  r.bytesPerPixel = target.format.bytesPerPixel;
  r.outputDepth = target.format.outputDepth;

  // Deflate expands at most about 1032 to 1: image data that the whole input cannot hold is
  // refused before a pixel block is taken, so a tiny file cannot claim gigabytes.
  static constexpr uint64_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
  const uint64_t leastImageBytes = static_cast<uint64_t>(r.width) * static_cast<uint64_t>(r.height) *
                                   kChannels[r.colourType] * r.bitDepth / 8;
  if (checkedBlockSize(static_cast<int64_t>(paddedStride(r.width, r.outputDepth)), r.height) >=
      kMaxBlockSize)
    return fail(r, Status::BadImage);
  if (leastImageBytes > 1100 * static_cast<uint64_t>(r.length()) + 4096)
    return fail(r, Status::Truncated);

  ImageRecord& record = *r.image;
  if (r.colourType == 0 || r.colourType == 4) {
    const int step = r.bitDepth == 1 ? 255 : r.bitDepth == 2 ? 85 : r.bitDepth == 4 ? 17 : 1;
    for (int i = 0; i * step < 256; ++i) {
      const auto level = static_cast<uint8_t>(i * step);
      record.palette[i] = {level, level, level, 0};
    }
  }

  PixelBuffer alphaPlane;
  if (r.colourType == 4 || r.colourType == 6) {
    const uint64_t size = checkedBlockSize(r.width, r.height);
    if (size >= kMaxBlockSize) return fail(r, Status::BadImage);
    if (!alphaPlane.allocate(size)) return fail(r, Status::NoMemory);
    target.alphaPlane = alphaPlane.data();
  }
  const Status allocated = record.allocatePixels(r.width, r.height, r.outputDepth);
  if (allocated != Status::Ok) return fail(r, allocated);
  target.pixels = record.pixels.data();
  target.stride = paddedStride(r.width, r.outputDepth);

  if (!readChunks(r, target)) return false;
  if (r.transparencyAccepted || target.alphaPlane) composite(r, target);

  record.header.biXPelsPerMeter = r.xPelsPerMeter;
  record.header.biYPelsPerMeter = r.yPelsPerMeter;
  record.sourceBitCount = static_cast<uint32_t>(
      r.colourType == 2 || r.colourType == 6 ? r.bitDepth * 3 : r.bitDepth);
  record.sourceFormat = kFormatPng;
  reportTransparency(r);
  return true;
}

}  // namespace

bool readPngFile(PngReader& reader, const std::filesystem::path& path, ImageRecord& record) {
  return readFromFile(reader, path, record, decodePng);
}

bool readPngMemory(PngReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record) {
  return readFromMemory(reader, bytes, length, record, decodePng);
}

}  // namespace velorin
