#include "formats/plugin_dib.h"

#include <algorithm>
#include <cstring>

#include "formats/input_file.h"

namespace velorin {

namespace {

constexpr size_t kInfoHeaderSize = 40;

Status failWith(ImageRecord& record, Status status) {
  record.pixels.reset();
  return status;
}

}  // namespace

Status convertPluginDib(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize,
                        uint16_t pictureDepth, ImageRecord& record) {
  record.pixels.reset();
  if (!info || infoSize < kInfoHeaderSize || !bits || bitsSize == 0) return failWith(record, Status::BadImage);
  const uint32_t headerSize = loadLe32(info);
  const auto width = static_cast<int32_t>(loadLe32(info + 4));
  const auto height = static_cast<int32_t>(loadLe32(info + 8));
  const uint16_t bitCount = loadLe16(info + 14);
  const uint32_t compression = loadLe32(info + 16);
  const auto xPelsPerMeter = static_cast<int32_t>(loadLe32(info + 24));
  const auto yPelsPerMeter = static_cast<int32_t>(loadLe32(info + 28));
  if (compression != 0 || width <= 0 || height <= 0) return failWith(record, Status::BadImage);
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24) return failWith(record, Status::BadImage);
  // The palette follows the header the plug-in describes; a header claiming less than 40 bytes
  // or more than it delivered is not one.
  if (headerSize < kInfoHeaderSize || headerSize > infoSize) return failWith(record, Status::BadImage);

  const uint64_t sourceStride = paddedStride(width, bitCount);
  const uint64_t sourceBytes = checkedBlockSize(static_cast<int64_t>(sourceStride), height);
  if (sourceBytes >= kMaxBlockSize) return failWith(record, Status::BadImage);
  // Rows the plug-in did not deliver are refused at every depth: a picture padded with zeros is
  // not the picture, and the block allocated below is never larger than what the plug-in sent.
  if (bitsSize < sourceBytes) return failWith(record, Status::Truncated);

  const int resultBits = bitCount == 24 ? 24 : 8;
  const Status allocated = record.allocatePixels(width, height, resultBits, xPelsPerMeter, yPelsPerMeter);
  if (allocated != Status::Ok) return failWith(record, allocated);

  for (auto& entry : record.palette) entry = {};
  if (bitCount <= 8) {
    const size_t entries = std::min<size_t>((infoSize - headerSize) / 4, size_t{1} << bitCount);
    for (size_t i = 0; i < entries; ++i) {
      const uint8_t* q = info + headerSize + 4 * i;
      record.palette[i] = {q[0], q[1], q[2], 0};
    }
  }

  uint8_t* out = record.pixels.data();
  const uint64_t stride = paddedStride(width, resultBits);
  if (bitCount >= 8) {
    std::memcpy(out, bits, static_cast<size_t>(sourceBytes));
  } else {
    const int perByte = 8 / bitCount;
    const int mask = (1 << bitCount) - 1;
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* in = bits + static_cast<uint64_t>(y) * sourceStride;
      uint8_t* row = out + static_cast<uint64_t>(y) * stride;
      for (int32_t x = 0; x < width; ++x) {
        const int shift = 8 - bitCount * (1 + x % perByte);
        row[x] = static_cast<uint8_t>(in[x / perByte] >> shift & mask);
      }
    }
  }
  record.sourceBitCount = pictureDepth != 0 ? pictureDepth : bitCount;
  record.sourceFormat = kFormatPlugin;
  return Status::Ok;
}

}  // namespace velorin
