#include "formats/tiff_writer.h"
#include "formats/output_file.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace velorin {

namespace {

bool fail(TiffWriter& w, Status status) {
  w.status = status;
  return false;
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v);
  put16(out, v >> 16);
}

// One IFD entry; a SHORT value sits in the first two bytes of the value field, which is what a
// little-endian 32-bit store of it gives.
void putEntry(std::vector<uint8_t>& out, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  put16(out, tag);
  put16(out, type);
  put32(out, count);
  put32(out, value);
}

constexpr uint16_t kShort = 3, kLong = 4, kRational = 5, kUndefined = 7;

// Layout by target depth; false for a depth or size the format cannot hold here.
bool decideLayout(TiffWriter& w, uint64_t& rowBytes) {
  const DepthConverter& c = w.converter;
  const uint64_t width = static_cast<uint64_t>(c.width);
  w.colorMapCount = 0;
  w.bitsCount = 1;
  switch (c.targetBits) {
    case 1:
      w.photometric = 1;
      w.bitsValue = 1;
      rowBytes = (width + 7) / 8;
      break;
    case 4:
      w.photometric = 3;
      w.colorMapCount = 48;
      w.bitsValue = 4;
      rowBytes = (width + 1) / 2;
      break;
    case 8:
      w.photometric = w.greyscale ? 1 : 3;
      w.colorMapCount = w.greyscale ? 0 : 768;
      w.bitsValue = 8;
      rowBytes = width;
      break;
    case 24:
      w.photometric = 2;
      w.bitsCount = 3;  // the three values follow the IFD: bitsValue is set with the layout below
      rowBytes = 3 * width;
      break;
    default:
      return false;
  }
  const uint64_t size = rowBytes * static_cast<uint64_t>(c.height < 0 ? 0 : c.height);
  // An empty image would make a file no reader accepts.
  if (size == 0 || size > 0xFFFFFFFFu) return false;
  w.imageDataSize = static_cast<uint32_t>(size);
  w.entryCount = w.photometric == 1 ? 11 : 12;
  const bool icc = w.photometric != 1 && !w.iccProfile.empty();
  if (icc) ++w.entryCount;
  const uint32_t ifdEnd = 8 + 2 + 12 * static_cast<uint32_t>(w.entryCount) + 4;
  const uint32_t extra = w.photometric == 2 ? 6 : 0;
  if (w.photometric == 2) w.bitsValue = ifdEnd;
  w.xResolutionOffset = ifdEnd + extra;
  w.yResolutionOffset = w.xResolutionOffset + 8;
  w.colorMapOffset = w.photometric == 3 ? w.yResolutionOffset + 8 : 0;
  w.stripOffset = w.photometric == 3 ? w.colorMapOffset + 2 * static_cast<uint32_t>(w.colorMapCount)
                                     : w.yResolutionOffset + 8;
  w.iccOffset = 0;
  if (icc) {
    // Word-aligned after the strip; the whole file must stay within 32-bit offsets.
    const uint64_t offset = (uint64_t{w.stripOffset} + w.imageDataSize + 1) & ~uint64_t{1};
    if (offset + w.iccProfile.size() > 0xFFFFFFFFu) return false;
    w.iccOffset = static_cast<uint32_t>(offset);
  }
  return true;
}

// Dots per inch as a fraction; a resolution that does not fit is written as none.
uint32_t resolutionNumerator(int32_t pelsPerMetre) {
  const int64_t value = static_cast<int64_t>(pelsPerMetre) * 254;
  return value > 0 && value <= 0xFFFFFFFF ? static_cast<uint32_t>(value) : 0;
}

std::vector<uint8_t> headerAndTables(const TiffWriter& w, const RgbQuad* colorMap) {
  const DepthConverter& c = w.converter;
  std::vector<uint8_t> out;
  out.reserve(w.stripOffset);
  out.push_back('I');
  out.push_back('I');
  put16(out, 42);
  put32(out, 8);
  put16(out, static_cast<uint32_t>(w.entryCount));
  putEntry(out, 256, kLong, 1, static_cast<uint32_t>(c.width));
  putEntry(out, 257, kLong, 1, static_cast<uint32_t>(c.height));
  putEntry(out, 258, kShort, static_cast<uint32_t>(w.bitsCount), w.bitsValue);
  putEntry(out, 259, kShort, 1, 1);
  putEntry(out, 262, kShort, 1, static_cast<uint32_t>(w.photometric));
  putEntry(out, 273, kLong, 1, w.stripOffset);
  if (w.photometric == 2) putEntry(out, 277, kShort, 1, 3);
  putEntry(out, 278, kLong, 1, static_cast<uint32_t>(c.height));
  putEntry(out, 279, kLong, 1, w.imageDataSize);
  putEntry(out, 282, kRational, 1, w.xResolutionOffset);
  putEntry(out, 283, kRational, 1, w.yResolutionOffset);
  putEntry(out, 296, kShort, 1, 2);
  if (w.photometric == 3) putEntry(out, 320, kShort, static_cast<uint32_t>(w.colorMapCount), w.colorMapOffset);
  if (w.iccOffset) putEntry(out, 34675, kUndefined, static_cast<uint32_t>(w.iccProfile.size()), w.iccOffset);
  put32(out, 0);
  if (w.photometric == 2)
    for (int i = 0; i < 3; ++i) put16(out, 8);
  put32(out, resolutionNumerator(w.xPelsPerMeter));
  put32(out, 10000);
  put32(out, resolutionNumerator(w.yPelsPerMeter));
  put32(out, 10000);
  if (w.photometric == 3) {
    const int n = w.colorMapCount / 3;
    for (int k = 0; k < n; ++k) put16(out, static_cast<uint32_t>(colorMap[k].red) << 8);
    for (int k = 0; k < n; ++k) put16(out, static_cast<uint32_t>(colorMap[k].green) << 8);
    for (int k = 0; k < n; ++k) put16(out, static_cast<uint32_t>(colorMap[k].blue) << 8);
  }
  return out;
}

}  // namespace

bool writeTiff(TiffWriter& w, const std::filesystem::path& path, const RgbQuad* palette,
               const uint8_t* pixels) {
  w.status = Status::Ok;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return fail(w, Status::CannotCreate);
  uint64_t rowBytes = 0;
  if (!decideLayout(w, rowBytes)) return fail(w, Status::CannotCreate);

  // The pixels at the target depth, converted before anything is written so that a failed
  // conversion leaves an empty file rather than a broken one.
  DepthConverter& c = w.converter;
  PixelBuffer converted;
  RgbQuad colorMap[256] = {};
  const uint8_t* rows = nullptr;
  uint64_t rowStride = 0;
  if (w.photometric == 1 && c.targetBits == 8) {
    const uint64_t size = checkedBlockSize(c.width, c.height);
    if (size >= kMaxBlockSize || !converted.allocate(size)) return fail(w, Status::NoMemory);
    if (!convertToGrey(c, palette, pixels, converted.data())) return fail(w, Status::CannotWrite);
    rows = converted.data();
    rowStride = static_cast<uint64_t>(c.width);
  } else if (w.photometric == 2 && c.sourceBits == 24) {
    rows = pixels;
    rowStride = paddedStride(c.width, 24);
  } else {
    if (c.targetImageSize == 0 || !converted.allocate(c.targetImageSize))
      return fail(w, Status::NoMemory);
    if ((w.photometric == 2 && c.sourceBits != 8) ||
        !convertDepth(c, palette, pixels, colorMap, converted.data()))
      return fail(w, Status::CannotWrite);
    rows = converted.data();
    rowStride = static_cast<uint64_t>(c.targetStride);
  }

  PixelBuffer strip;
  if (!strip.allocate(w.imageDataSize)) return fail(w, Status::NoMemory);
  for (int32_t line = 0; line < c.height; ++line) {
    const uint8_t* in = rows + static_cast<uint64_t>(c.height - 1 - line) * rowStride;
    uint8_t* out = strip.data() + static_cast<uint64_t>(line) * rowBytes;
    if (w.photometric != 2) {
      std::memcpy(out, in, rowBytes);
      continue;
    }
    for (int32_t x = 0; x < c.width; ++x) {
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
  }

  const std::vector<uint8_t> head = headerAndTables(w, colorMap);
  std::fwrite(head.data(), 1, head.size(), file.get());
  std::fwrite(strip.data(), 1, w.imageDataSize, file.get());
  if (w.iccOffset) {
    if ((w.stripOffset + w.imageDataSize) & 1) std::fputc(0, file.get());
    std::fwrite(w.iccProfile.data(), 1, w.iccProfile.size(), file.get());
  }
  // A write that fails (a full disk) must not pass for a finished file.
  const bool written = std::fflush(file.get()) == 0 && !std::ferror(file.get());
  if (std::fclose(file.release()) != 0 || !written) return fail(w, Status::CannotWrite);
  return true;
}

}  // namespace velorin
