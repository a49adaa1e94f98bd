#include "formats/tiff_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "formats/icc_profile.h"

namespace velorin {

namespace {

constexpr uint16_t kNewSubfileType = 254;
constexpr uint16_t kImageWidth = 256;
constexpr uint16_t kImageLength = 257;
constexpr uint16_t kBitsPerSample = 258;
constexpr uint16_t kCompression = 259;
constexpr uint16_t kPhotometric = 262;
constexpr uint16_t kStripOffsets = 273;
constexpr uint16_t kStripByteCounts = 279;
constexpr uint16_t kXResolution = 282;
constexpr uint16_t kYResolution = 283;
constexpr uint16_t kPlanarConfiguration = 284;
constexpr uint16_t kResolutionUnit = 296;
constexpr uint16_t kColorMap = 320;
constexpr uint16_t kSubIfds = 330;
constexpr uint16_t kIccProfile = 34675;
constexpr uint16_t kDngVersion = 50706;

constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;

bool fail(TiffReader& r, Status status) {
  r.status = status;
  return false;
}

uint16_t read16(const TiffReader& r, const uint8_t* p) {
  return r.littleEndian ? loadLe16(p) : loadBe16(p);
}
uint32_t read32(const TiffReader& r, const uint8_t* p) {
  return r.littleEndian ? loadLe32(p) : loadBe32(p);
}

// True when [offset, offset + size) lies inside the input.
bool inData(const TiffReader& r, uint64_t offset, uint64_t size) {
  return offset <= r.length() && size <= r.length() - offset;
}

// StripOffsets or StripByteCounts: SHORT or LONG values, in the entry when they fit in its four
// bytes, otherwise at the offset it holds.
bool readStripArray(TiffReader& r, const uint8_t* entry, bool& seen, std::vector<uint32_t>& values) {
  if (seen) return fail(r, Status::NotFormat);
  seen = true;
  const uint16_t type = read16(r, entry + 2);
  const uint32_t count = read32(r, entry + 4);
  if (count >= (uint32_t{1} << 30)) return fail(r, Status::BadImage);
  if (type != kTypeShort && type != kTypeLong) return fail(r, Status::NotFormat);
  const uint32_t size = type == kTypeShort ? 2 : 4;
  const uint8_t* source = entry + 8;
  if (uint64_t{count} * size > 4) {
    const uint32_t offset = read32(r, entry + 8);
    if (!inData(r, offset, uint64_t{count} * size)) return fail(r, Status::NotFormat);
    source = r.dataStart + offset;
  }
  try {
    values.resize(count);
  } catch (const std::bad_alloc&) {
    return fail(r, Status::NoMemory);
  }
  for (uint32_t i = 0; i < count; ++i)
    values[i] = size == 2 ? read16(r, source + 2 * i) : read32(r, source + 4 * i);
  return true;
}

bool readEntries(TiffReader& r, std::vector<uint32_t>& offsets, std::vector<uint32_t>& byteCounts) {
  const uint32_t ifd = read32(r, r.dataStart + 4);
  if (!inData(r, ifd, 2)) return fail(r, Status::NotFormat);
  const uint16_t entries = read16(r, r.dataStart + ifd);
  if (!inData(r, uint64_t{ifd} + 2, uint64_t{entries} * 12)) return fail(r, Status::NotFormat);
  r.cursor = r.dataStart + ifd + 2;
  bool haveOffsets = false, haveByteCounts = false;
  bool reduced = false, subImages = false;
  for (uint32_t i = 0; i < entries; ++i, r.cursor += 12) {
    const uint8_t* entry = r.cursor;
    const uint16_t tag = read16(r, entry);
    const uint16_t type = read16(r, entry + 2);
    const uint32_t count = read32(r, entry + 4);
    const uint8_t* value = entry + 8;
    switch (tag) {
      case kImageWidth:
      case kImageLength: {
        uint32_t size = 0;
        if (type == kTypeShort) size = read16(r, value);
        else if (type == kTypeLong) size = read32(r, value);
        if (size == 0) return fail(r, Status::NotFormat);
        (tag == kImageWidth ? r.width : r.height) = static_cast<int32_t>(size);
        break;
      }
      case kBitsPerSample:
        if (count == 1) {
          r.bitsPerSample = read16(r, value);
        } else if (count == 3) {
          const uint32_t offset = read32(r, value);
          if (!inData(r, offset, 6)) return fail(r, Status::NotFormat);
          const uint16_t red = read16(r, r.dataStart + offset);
          const uint16_t green = read16(r, r.dataStart + offset + 2);
          const uint16_t blue = read16(r, r.dataStart + offset + 4);
          if (red != green || red != blue || (red != 8 && red != 16))
            return fail(r, Status::BadImage);
          r.bitsPerSample = red;
        }
        r.bitsPerSampleCount = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(count);
        break;
      case kCompression:
        r.compression = read16(r, value);
        if (r.compression != 1) return fail(r, Status::BadImage);
        break;
      case kPhotometric: r.photometric = read16(r, value); break;
      case kStripOffsets:
        if (!readStripArray(r, entry, haveOffsets, offsets)) return false;
        break;
      case kStripByteCounts:
        if (!readStripArray(r, entry, haveByteCounts, byteCounts)) return false;
        break;
      case kXResolution: r.xResolutionOffset = read32(r, value); break;
      case kYResolution: r.yResolutionOffset = read32(r, value); break;
      case kPlanarConfiguration: r.planarConfiguration = read16(r, value); break;
      case kResolutionUnit: r.resolutionUnit = read16(r, value); break;
      case kColorMap: r.colorMapOffset = read32(r, value); break;
      case kNewSubfileType: reduced = (type == kTypeLong ? read32(r, value) : read16(r, value)) & 1; break;
      case kSubIfds:
      case kDngVersion: subImages = true; break;
      case kIccProfile: {
        // UNDEFINED or BYTE data, always outside the entry: no profile fits in four bytes.
        const uint32_t offset = read32(r, value);
        if ((type == 7 || type == 1) && count > 4 && inData(r, offset, count) &&
            isUsableIccProfile(r.dataStart + offset, count))
          r.iccProfile.assign(r.dataStart + offset, r.dataStart + offset + count);
        break;
      }
      default: break;
    }
  }
  // Camera RAW files (DNG, NEF, ...) put a small preview first and the picture in a sub-image; the
  // preview is not the picture, so the file goes on to the plug-ins.
  if (reduced && subImages) return fail(r, Status::BadImage);
  if (r.width < 1 || r.height < 1) return fail(r, Status::BadImage);
  if (!haveOffsets || !haveByteCounts || offsets.size() != byteCounts.size())
    return fail(r, Status::NotFormat);
  r.stripCount = static_cast<int32_t>(offsets.size());
  return true;
}

// Pels per metre of one RATIONAL, or 0 when it is outside the input, has a zero denominator,
// or comes out negative or too large for the record.
int32_t pelsPerMetre(const TiffReader& r, uint32_t offset) {
  if (!inData(r, offset, 8)) return 0;
  const double numerator = read32(r, r.dataStart + offset);
  const double denominator = read32(r, r.dataStart + offset + 4);
  if (denominator == 0) return 0;
  double value = 0;
  if (r.resolutionUnit == 2) value = std::floor(numerator / denominator / 0.0254 + 0.5);
  else if (r.resolutionUnit == 3) value = std::floor(numerator / denominator * 100 + 0.5);
  return value >= 0 && value <= 2147483647.0 ? static_cast<int32_t>(value) : 0;
}

bool decodeTiff(TiffReader& r) {
  r.width = r.height = 0;
  r.bitsPerSample = 1;
  r.bitsPerSampleCount = 0;
  r.compression = 1;
  r.photometric = 4;
  r.planarConfiguration = 1;
  r.resolutionUnit = 2;
  r.xResolutionOffset = r.yResolutionOffset = r.colorMapOffset = 0;
  r.stripCount = 0;
  r.iccProfile.clear();
  if (r.length() < 8) return fail(r, Status::Truncated);
  const uint8_t* d = r.dataStart;
  if (d[0] == 'I' && d[1] == 'I') r.littleEndian = true;
  else if (d[0] == 'M' && d[1] == 'M') r.littleEndian = false;
  else return fail(r, Status::NotFormat);
  if (read16(r, d + 2) != 42) return fail(r, Status::NotFormat);

  std::vector<uint32_t> offsets, byteCounts;
  if (!readEntries(r, offsets, byteCounts)) return false;

  // Format decision. A single BitsPerSample value (or none, for bilevel) is one sample per pixel;
  // anything else outside RGB would be read as the wrong image, so it is refused.
  const int bits = r.bitsPerSample;
  const bool oneSample = r.bitsPerSampleCount <= 1;
  const bool indexedBits = bits == 1 || bits == 4 || bits == 8;
  bool indexed = false;
  if ((r.photometric == 0 || r.photometric == 1) && indexedBits && oneSample) indexed = true;
  else if (r.photometric == 3 && r.colorMapOffset != 0 && indexedBits && oneSample) indexed = true;
  else if (r.photometric == 2 && r.bitsPerSampleCount == 3 && (bits == 8 || bits == 16) &&
           r.planarConfiguration != 2)
    indexed = false;
  else
    return fail(r, Status::BadImage);
  r.workingBitCount = indexed ? 8 : 24;
  r.stride = static_cast<int32_t>(std::min<uint64_t>(paddedStride(r.width, r.workingBitCount), INT32_MAX));
  ImageRecord& record = *r.image;
  record.sourceBitCount = static_cast<uint32_t>(indexed ? bits : 3 * bits);

  // Strips, in order, make up the image data.
  uint64_t total = 0;
  for (uint32_t count : byteCounts) total += count;
  if (total >= kMaxBlockSize) return fail(r, Status::BadImage);
  for (int32_t i = 0; i < r.stripCount; ++i)
    if (!inData(r, offsets[i], byteCounts[i])) return fail(r, Status::Truncated);
  const uint64_t rowBytes = indexed ? (static_cast<uint64_t>(r.width) * bits + 7) / 8
                                    : static_cast<uint64_t>(r.width) * 3 * (bits / 8);
  const uint64_t needed = rowBytes * static_cast<uint64_t>(r.height);
  if (checkedBlockSize(r.stride, r.height) >= kMaxBlockSize) return fail(r, Status::BadImage);
  // Strips holding less than the rows need would leave the rows reading past them.
  if (total < needed) return fail(r, Status::Truncated);

  const int32_t xPels = r.xResolutionOffset && r.yResolutionOffset ? pelsPerMetre(r, r.xResolutionOffset) : 0;
  const int32_t yPels = r.xResolutionOffset && r.yResolutionOffset ? pelsPerMetre(r, r.yResolutionOffset) : 0;
  const Status allocated = record.allocatePixels(r.width, r.height, r.workingBitCount, xPels, yPels);
  if (allocated != Status::Ok) return fail(r, allocated);

  // One strip that holds the whole image is read in place; otherwise the strips are gathered,
  // as far as the rows need them.
  const uint8_t* data = nullptr;
  PixelBuffer gathered;
  if (r.stripCount > 0 && byteCounts[0] >= needed) {
    data = r.dataStart + offsets[0];
  } else {
    if (!gathered.allocate(needed)) return fail(r, Status::NoMemory);
    uint64_t filled = 0;
    for (int32_t i = 0; i < r.stripCount && filled < needed; ++i) {
      const uint64_t take = std::min<uint64_t>(byteCounts[i], needed - filled);
      std::memcpy(gathered.data() + filled, r.dataStart + offsets[i], take);
      filled += take;
    }
    data = gathered.data();
  }

  const uint64_t stride = static_cast<uint64_t>(r.stride);
  if (indexed) {
    const int entries = 1 << bits;
    if (r.photometric == 3) {
      if (!inData(r, r.colorMapOffset, uint64_t{6} * entries)) return fail(r, Status::Truncated);
      const uint8_t* map = r.dataStart + r.colorMapOffset;
      for (int k = 0; k < entries; ++k) {
        record.palette[k] = {static_cast<uint8_t>(read16(r, map + 2 * (2 * entries + k)) >> 8),
                             static_cast<uint8_t>(read16(r, map + 2 * (entries + k)) >> 8),
                             static_cast<uint8_t>(read16(r, map + 2 * k) >> 8), 0};
      }
    } else {
      const int step = bits == 1 ? 255 : bits == 4 ? 17 : 1;
      for (int k = 0; k < entries; ++k) {
        const auto level = static_cast<uint8_t>(r.photometric == 0 ? 255 - k * step : k * step);
        record.palette[k] = {level, level, level, 0};
      }
    }
    const int mask = (1 << bits) - 1;
    for (int32_t y = 0; y < r.height; ++y) {
      const uint8_t* in = data + y * rowBytes;
      uint8_t* out = record.pixels.data() + (r.height - 1 - y) * stride;
      if (bits == 8) {
        std::memcpy(out, in, static_cast<size_t>(r.width));
        continue;
      }
      for (int32_t x = 0; x < r.width; ++x) {
        const uint64_t bit = static_cast<uint64_t>(x) * bits;
        out[x] = static_cast<uint8_t>(in[bit >> 3] >> (8 - bits - (bit & 7)) & mask);
      }
    }
  } else {
    // 16-bit samples keep their high byte: the second byte in little-endian files.
    const int sampleBytes = bits / 8;
    const int high = bits == 16 && r.littleEndian ? 1 : 0;
    for (int32_t y = 0; y < r.height; ++y) {
      const uint8_t* in = data + y * rowBytes;
      uint8_t* out = record.pixels.data() + (r.height - 1 - y) * stride;
      for (int32_t x = 0; x < r.width; ++x) {
        const uint8_t* p = in + static_cast<uint64_t>(x) * 3 * sampleBytes + high;
        out[3 * x] = p[2 * sampleBytes];
        out[3 * x + 1] = p[sampleBytes];
        out[3 * x + 2] = p[0];
      }
    }
  }
  record.sourceFormat = kFormatTiff;
  return true;
}

}  // namespace

bool readTiffFile(TiffReader& reader, const std::filesystem::path& path, ImageRecord& record) {
  return readFromFile(reader, path, record, decodeTiff);
}

bool readTiffMemory(TiffReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record) {
  return readFromMemory(reader, bytes, length, record, decodeTiff);
}

}  // namespace velorin
