// Turns the working image (8-bit indexed or 24-bit) into the rows a writer stores: 1, 2, 4 or
// 8-bit indexed with a palette, 24-bit, 48-bit samples, or 8-bit grey. One per writer; the
// pointers handed to the calls are not owned.
#pragma once

#include <cstdint>

#include "imaging/image.h"

namespace velorin {

struct DepthConverter {
  int32_t width = 0;
  int32_t height = 0;
  int32_t sourceBits = 0;
  int32_t targetBits = 0;
  bool dither = false;
  int32_t targetRowBytes = 0;
  int32_t targetStride = 0;
  uint32_t targetImageSize = 0;  // 0 when targetStride x height reaches 2^32
};

// Stores both depths and computes the target row sizes (width and height set before).
void setDepthConversion(DepthConverter& converter, int32_t sourceBits, int32_t targetBits);

// Writes the whole image at targetBits into targetPixels (targetImageSize + 4 bytes, rows of
// targetStride) and, for indexed targets, the palette into targetPalette (256 entries).
bool convertDepth(DepthConverter& converter, const RgbQuad* sourcePalette,
                  const uint8_t* sourcePixels, RgbQuad* targetPalette, uint8_t* targetPixels);

// The same reduction for targetBits 1..8, one index per byte, rows of exactly width bytes.
bool convertToIndexBytes(DepthConverter& converter, const RgbQuad* sourcePalette,
                         const uint8_t* sourcePixels, RgbQuad* targetPalette,
                         uint8_t* targetIndices);

// 8-bit grey, rows of exactly width bytes; needs targetBits 8 and sourceBits 8 or 24.
bool convertToGrey(DepthConverter& converter, const RgbQuad* sourcePalette,
                   const uint8_t* sourcePixels, uint8_t* targetGrey);
void greyFromIndexed(const DepthConverter& converter, const RgbQuad* sourcePalette,
                     const uint8_t* sourcePixels, uint8_t* targetGrey);
void greyFromTrueColour(const DepthConverter& converter, const uint8_t* sourcePixels,
                        uint8_t* targetGrey);

}  // namespace velorin
