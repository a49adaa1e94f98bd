#include "imaging/depth_converter.h"

#include <cstring>

namespace velorin {

namespace {

int64_t sourceStride(const DepthConverter& c) {
  return static_cast<int64_t>(paddedStride(c.width, c.sourceBits));
}

// Unpacks 1-, 2- or 4-bit fields, most significant first, to one index per byte.
void unpackIndices(const DepthConverter& c, const uint8_t* source, uint8_t* target,
                   int64_t targetStride) {
  const int bits = c.sourceBits;
  const int mask = (1 << bits) - 1;
  for (int32_t y = 0; y < c.height; ++y) {
    const uint8_t* in = source + y * sourceStride(c);
    uint8_t* out = target + y * targetStride;
    for (int32_t x = 0; x < c.width; ++x) {
      const int64_t bit = static_cast<int64_t>(x) * bits;
      out[x] = static_cast<uint8_t>(in[bit >> 3] >> (8 - bits - (bit & 7)) & mask);
    }
  }
}

// Each index (of sourceBits 1, 4 or 8) through the palette to blue, green, red.
void expandThroughPalette(const DepthConverter& c, const RgbQuad* palette, const uint8_t* source,
                          uint8_t* target) {
  const int bits = c.sourceBits;
  const int mask = (1 << bits) - 1;
  for (int32_t y = 0; y < c.height; ++y) {
    const uint8_t* in = source + y * sourceStride(c);
    uint8_t* out = target + static_cast<int64_t>(y) * c.targetStride;
    for (int32_t x = 0; x < c.width; ++x) {
      const int64_t bit = static_cast<int64_t>(x) * bits;
      const RgbQuad& colour = palette[in[bit >> 3] >> (8 - bits - (bit & 7)) & mask];
      out[3 * x] = colour.blue;
      out[3 * x + 1] = colour.green;
      out[3 * x + 2] = colour.red;
    }
  }
}

}  // namespace

void setDepthConversion(DepthConverter& c, int32_t sourceBits, int32_t targetBits) {
  if (c.width < 0) c.width = 0;
  if (c.height < 0) c.height = 0;
  c.sourceBits = sourceBits;
  c.targetBits = targetBits;
  const uint64_t w = static_cast<uint64_t>(c.width);
  uint64_t rowBytes = 0;
  switch (targetBits) {
    case 1: rowBytes = (w + 7) / 8; break;
    case 2: rowBytes = (w + 3) / 4; break;
    case 4: rowBytes = (w + 1) / 2; break;
    case 8: rowBytes = w; break;
    case 24: rowBytes = w >= 1431655766 ? 0 : 3 * w; break;
    case 32: rowBytes = 4 * w >= kMaxBlockSize ? 0 : 4 * w; break;
    case 48: rowBytes = 6 * w >= kMaxBlockSize ? 0 : 6 * w; break;
    default: rowBytes = 0; break;
  }
  c.targetRowBytes = static_cast<int32_t>(rowBytes);
  const uint64_t stride = (targetBits == 32 || targetBits == 48) ? rowBytes : (rowBytes + 3) & ~uint64_t{3};
  c.targetStride = static_cast<int32_t>(stride);
  const uint64_t size = checkedBlockSize(static_cast<int64_t>(stride), c.height);
  c.targetImageSize = size >= kMaxBlockSize ? 0 : static_cast<uint32_t>(size);
}

bool convertDepth(DepthConverter& c, const RgbQuad* sourcePalette, const uint8_t* sourcePixels,
                  RgbQuad* targetPalette, uint8_t* targetPixels) {
  if (c.targetImageSize == 0 || !sourcePixels || !targetPixels) return false;
  const int s = c.sourceBits, t = c.targetBits;
  if ((s == 1 || s == 2 || s == 4) && t == 8) {
    if (s != 2) std::memcpy(targetPalette, sourcePalette, sizeof(RgbQuad) << s);
    unpackIndices(c, sourcePixels, targetPixels, c.targetStride);
    return true;
  }
  if ((s == 1 || s == 4 || s == 8) && t == 24) {
    expandThroughPalette(c, sourcePalette, sourcePixels, targetPixels);
    return true;
  }
  if (s == 8 && t == 8) {
    std::memcpy(targetPalette, sourcePalette, sizeof(RgbQuad) * 256);
    std::memcpy(targetPixels, sourcePixels, c.targetImageSize);
    return true;
  }
  if (s == 24 && t == 24) {
    std::memcpy(targetPixels, sourcePixels, c.targetImageSize);
    return true;
  }
  if (s == 24 && t == 48) {
    for (int32_t y = 0; y < c.height; ++y) {
      const uint8_t* in = sourcePixels + y * sourceStride(c);
      uint8_t* out = targetPixels + static_cast<int64_t>(y) * c.targetStride;
      for (int64_t i = 0; i < 3 * static_cast<int64_t>(c.width); ++i) out[2 * i + 1] = in[i];
    }
    return true;
  }
  if (s == 48 && t == 24) {
    for (int32_t y = 0; y < c.height; ++y) {
      const uint8_t* in = sourcePixels + y * (6 * static_cast<int64_t>(c.width));
      uint8_t* out = targetPixels + static_cast<int64_t>(y) * c.targetStride;
      for (int64_t i = 0; i < 3 * static_cast<int64_t>(c.width); ++i) out[i] = in[2 * i];
    }
    return true;
  }
  // The reductions to fewer colours are not built yet.
  return false;
}

bool convertToIndexBytes(DepthConverter& c, const RgbQuad* sourcePalette,
                         const uint8_t* sourcePixels, RgbQuad* targetPalette,
                         uint8_t* targetIndices) {
  if (c.sourceBits == 8 && c.targetBits == 8) {
    std::memcpy(targetPalette, sourcePalette, sizeof(RgbQuad) * 256);
    for (int32_t y = 0; y < c.height; ++y)
      std::memcpy(targetIndices + static_cast<int64_t>(y) * c.width,
                  sourcePixels + y * sourceStride(c), static_cast<size_t>(c.width));
    return true;
  }
  return false;
}

namespace {
// Each product rounded half up on its own, so the sum never exceeds 255.
inline uint8_t greyOf(uint8_t blue, uint8_t green, uint8_t red) {
  return static_cast<uint8_t>((114 * blue + 500) / 1000 + (299 * red + 500) / 1000 +
                              (587 * green + 500) / 1000);
}
}  // namespace

void greyFromIndexed(const DepthConverter& c, const RgbQuad* palette, const uint8_t* source,
                     uint8_t* target) {
  uint8_t grey[256];
  for (int i = 0; i < 256; ++i) grey[i] = greyOf(palette[i].blue, palette[i].green, palette[i].red);
  for (int32_t y = 0; y < c.height; ++y) {
    const uint8_t* in = source + y * sourceStride(c);
    uint8_t* out = target + static_cast<int64_t>(y) * c.width;
    for (int32_t x = 0; x < c.width; ++x) out[x] = grey[in[x]];
  }
}

void greyFromTrueColour(const DepthConverter& c, const uint8_t* source, uint8_t* target) {
  for (int32_t y = 0; y < c.height; ++y) {
    const uint8_t* in = source + y * sourceStride(c);
    uint8_t* out = target + static_cast<int64_t>(y) * c.width;
    for (int32_t x = 0; x < c.width; ++x) out[x] = greyOf(in[3 * x], in[3 * x + 1], in[3 * x + 2]);
  }
}

bool convertToGrey(DepthConverter& c, const RgbQuad* sourcePalette, const uint8_t* sourcePixels,
                   uint8_t* targetGrey) {
  if (c.targetBits != 8) return false;
  if (c.sourceBits == 8) greyFromIndexed(c, sourcePalette, sourcePixels, targetGrey);
  else if (c.sourceBits == 24) greyFromTrueColour(c, sourcePixels, targetGrey);
  else return false;
  return true;
}

}  // namespace velorin
