#include "formats/bmp_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace velorin {

namespace {

constexpr size_t kHeadersSize = 54;

// Palette bytes of an indexed file: colours used sizes it, at most 256 entries; a larger count
// is cut to 256 rather than copied past the record's palette.
uint64_t paletteBytes(uint32_t coloursUsed, uint32_t defaultEntries) {
  const uint32_t entries = coloursUsed == 0 ? defaultEntries : std::min<uint32_t>(coloursUsed, 256);
  return uint64_t{4} * entries;
}

void copyPalette(ImageRecord& record, const uint8_t* source, uint64_t bytes, int keepEntries) {
  const auto entries = std::min<uint64_t>(bytes / 4, static_cast<uint64_t>(keepEntries));
  for (uint64_t i = 0; i < entries; ++i)
    record.palette[i] = {source[4 * i], source[4 * i + 1], source[4 * i + 2], 0};
}

// Where the colour table starts. Files with the longer V4/V5 info headers keep it behind the whole
// header; taking it from offset 54 there would give every pixel a wrong colour.
uint64_t paletteStart(const BmpReader& r) {
  const uint32_t size = r.fileHeader.biSize;
  const bool longerHeader = size == 52 || size == 56 || size == 108 || size == 124;
  return longerHeader && 14 + uint64_t{size} <= r.length() ? 14 + uint64_t{size} : kHeadersSize;
}

bool fail(BmpReader& r, Status status) {
  r.status = status;
  return false;
}

bool expandIndices(BmpReader& r, uint64_t pixelOffset, int bits) {
  const BitmapInfoHeader& h = r.fileHeader;
  const uint64_t sourceStride = paddedStride(h.biWidth, bits);
  const uint64_t palette = paletteBytes(h.biClrUsed, 1u << bits);
  const uint64_t rows = sourceStride * static_cast<uint64_t>(h.biHeight);
  if (paletteStart(r) + palette + rows > r.length()) return fail(r, Status::Truncated);
  // The rows read from the pixel data offset: input ending before the last row is refused.
  if (pixelOffset + rows > r.length()) return fail(r, Status::Truncated);
  ImageRecord& record = *r.image;
  const Status status = record.allocatePixels(h.biWidth, h.biHeight, 8, h.biXPelsPerMeter,
                                              h.biYPelsPerMeter);
  if (status != Status::Ok) return fail(r, status);
  copyPalette(record, r.dataStart + paletteStart(r), palette, 1 << bits);
  const uint64_t stride = paddedStride(h.biWidth, 8);
  const int mask = (1 << bits) - 1;
  for (int32_t y = 0; y < h.biHeight; ++y) {
    const uint8_t* in = r.dataStart + pixelOffset + y * sourceStride;
    uint8_t* out = record.pixels.data() + y * stride;
    for (int32_t x = 0; x < h.biWidth; ++x) {
      const int64_t bit = static_cast<int64_t>(x) * bits;
      out[x] = static_cast<uint8_t>(in[bit >> 3] >> (8 - bits - (bit & 7)) & mask);
    }
  }
  return true;
}

bool copyDirect(BmpReader& r, uint64_t pixelOffset, int bits, uint64_t size) {
  const BitmapInfoHeader& h = r.fileHeader;
  const uint64_t palette = bits == 8 ? paletteBytes(h.biClrUsed, 256) : 0;
  if (paletteStart(r) + palette + size > r.length()) return fail(r, Status::Truncated);
  ImageRecord& record = *r.image;
  const Status status = record.allocatePixels(h.biWidth, h.biHeight, bits, h.biXPelsPerMeter,
                                              h.biYPelsPerMeter);
  if (status != Status::Ok) return fail(r, status);
  if (bits == 8) copyPalette(record, r.dataStart + paletteStart(r), palette, 256);
  // A short tail stays zero, and the source counts as damaged.
  const uint64_t copy = std::min<uint64_t>(size, r.length() - pixelOffset);
  std::memcpy(record.pixels.data(), r.dataStart + pixelOffset, copy);
  if (copy < size) r.damage = "the pixel data end before the picture does";
  return true;
}

int bitLength(uint32_t value) {
  int bits = 0;
  while (value) {
    value >>= 1;
    ++bits;
  }
  return std::max(bits, 1);
}

struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 1;
  uint8_t scale(uint64_t pixel) const {
    return static_cast<uint8_t>(((pixel & mask) >> shift) * 255 / ((uint64_t{1} << bits) - 1));
  }
};

Channel channelOf(uint32_t mask) {
  Channel channel;
  channel.mask = mask;
  channel.shift = mask ? std::countr_zero(mask) : 0;
  channel.bits = bitLength(mask >> channel.shift);
  return channel;
}

bool convertMasks(BmpReader& r, uint64_t pixelOffset, int bits) {
  const BitmapInfoHeader& h = r.fileHeader;
  uint32_t redMask = bits == 32 ? 0xFF0000 : 0x7C00;
  uint32_t greenMask = bits == 32 ? 0xFF00 : 0x3E0;
  uint32_t blueMask = bits == 32 ? 0xFF : 0x1F;
  if (h.biCompression == 3) {
    if (r.length() < kHeadersSize + 12) return fail(r, Status::Truncated);
    redMask = loadLe32(r.dataStart + 54);
    greenMask = loadLe32(r.dataStart + 58);
    blueMask = loadLe32(r.dataStart + 62);
  } else if (h.biCompression != 0) {
    return fail(r, Status::BadImage);
  }
  const uint64_t sourceStride =
      bits == 16 ? 2 * ((static_cast<uint64_t>(h.biWidth) + 1) & ~uint64_t{1})
                 : 4 * static_cast<uint64_t>(h.biWidth);
  // Rows that end before the input does are refused, so a tiny file cannot make the reader take
  // gigabytes for pixels it does not hold.
  if (pixelOffset + sourceStride * static_cast<uint64_t>(h.biHeight) > r.length())
    return fail(r, Status::Truncated);
  ImageRecord& record = *r.image;
  const Status status = record.allocatePixels(h.biWidth, h.biHeight, 24, h.biXPelsPerMeter,
                                              h.biYPelsPerMeter);
  if (status != Status::Ok) return fail(r, status);

  // Each channel starts at its mask's lowest set bit. For masks stacked from bit 0 upwards (blue,
  // green, red) that is where the next channel begins, and masks that leave low bits unused
  // (red 0xFF000000, green 0xFF0000, blue 0xFF00) still give the right colours.
  const Channel blue = channelOf(blueMask), green = channelOf(greenMask), red = channelOf(redMask);
  if (blue.bits >= 32 || green.bits >= 32 || red.bits >= 32) {
    r.status = Status::Truncated;  // a channel this wide cannot be scaled: pixels stay zero
    r.damage = "a colour mask is too wide to be read";
    return true;
  }

  const uint64_t outStride = paddedStride(h.biWidth, 24);
  const int bytes = bits / 8;
  for (int32_t y = 0; y < h.biHeight; ++y) {
    const uint8_t* in = r.dataStart + pixelOffset + y * sourceStride;
    uint8_t* out = record.pixels.data() + y * outStride;
    for (int32_t x = 0; x < h.biWidth; ++x) {
      const uint8_t* p = in + static_cast<int64_t>(x) * bytes;
      const uint64_t pixel = bits == 16 ? loadLe16(p) : loadLe32(p);
      out[3 * x] = blue.scale(pixel);
      out[3 * x + 1] = green.scale(pixel);
      out[3 * x + 2] = red.scale(pixel);
    }
  }
  return true;
}

bool decodeBmp(BmpReader& r) {
  if (r.length() < kHeadersSize) return fail(r, Status::Truncated);
  const uint8_t* d = r.dataStart;
  const uint64_t pixelOffset = loadLe32(d + 10);
  if (pixelOffset > r.length()) return fail(r, Status::Truncated);
  BitmapInfoHeader& h = r.fileHeader;
  h.biSize = loadLe32(d + 14);
  h.biWidth = static_cast<int32_t>(loadLe32(d + 18));
  h.biHeight = static_cast<int32_t>(loadLe32(d + 22));
  h.biPlanes = loadLe16(d + 26);
  h.biBitCount = loadLe16(d + 28);
  h.biCompression = loadLe32(d + 30);
  h.biSizeImage = loadLe32(d + 34);
  h.biXPelsPerMeter = static_cast<int32_t>(loadLe32(d + 38));
  h.biYPelsPerMeter = static_cast<int32_t>(loadLe32(d + 42));
  h.biClrUsed = loadLe32(d + 46);
  h.biClrImportant = loadLe32(d + 50);
  r.cursor = d + kHeadersSize;
  if (h.biWidth < 1 || h.biHeight < 1) return fail(r, Status::BadImage);
  ImageRecord& record = *r.image;
  record.sourceBitCount = h.biBitCount;

  bool ok = false;
  switch (h.biBitCount) {
    case 1:
    case 4:
      if (h.biCompression != 0) return fail(r, Status::BadImage);
      if (checkedBlockSize(static_cast<int64_t>(paddedStride(h.biWidth, 8)), h.biHeight) >=
          kMaxBlockSize)
        return fail(r, Status::BadImage);
      ok = expandIndices(r, pixelOffset, h.biBitCount);
      break;
    case 8:
    case 24: {
      if (h.biCompression != 0) return fail(r, Status::BadImage);
      const uint64_t size =
          checkedBlockSize(static_cast<int64_t>(paddedStride(h.biWidth, h.biBitCount)), h.biHeight);
      if (size >= kMaxBlockSize) return fail(r, Status::BadImage);
      ok = copyDirect(r, pixelOffset, h.biBitCount, size);
      break;
    }
    case 16:
    case 32:
      if (h.biCompression != 0 && h.biCompression != 3) return fail(r, Status::BadImage);
      if (checkedBlockSize(static_cast<int64_t>(paddedStride(h.biWidth, 24)), h.biHeight) >=
          kMaxBlockSize)
        return fail(r, Status::BadImage);
      ok = convertMasks(r, pixelOffset, h.biBitCount);
      break;
    default:
      return fail(r, Status::BadImage);
  }
  if (ok) record.sourceFormat = kFormatBmp;
  return ok;
}

}  // namespace

bool readBmpFile(BmpReader& reader, const std::filesystem::path& path, ImageRecord& record) {
  return readFromFile(reader, path, record, decodeBmp);
}

bool readBmpMemory(BmpReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record) {
  return readFromMemory(reader, bytes, length, record, decodeBmp);
}

}  // namespace velorin
