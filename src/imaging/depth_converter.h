// Turns the working image (8-bit indexed or 24-bit) into the rows a writer stores: 1, 2, 4 or
// 8-bit indexed with a palette, 24-bit, 48-bit samples, or 8-bit grey. One per writer; the
// pointers handed to the calls are not owned.
//
// Reduction to an indexed depth of N = 2^bits colours:
// - when the image uses at most N colours, those exact colours form the palette (24-bit source:
//   sorted by ascending blue + green + red; 8-bit source: the distinct entries of the source
//   palette in palette order, or, when the palette holds more distinct entries than N, only those
//   the pixels use, still in palette order, so that no used colour is lost) and no dithering
//   happens;
// - otherwise a weighted median cut picks the palette (with dithering, the last 8 entries, or 5
//   for 3 bits, are the image colours nearest to the fixed corner or primary colours) and every
//   pixel goes to its nearest entry, optionally with Floyd-Steinberg error diffusion.
// Reduction to 1 bit thresholds grey at 128 against the palette black, white.
// Palette entries a conversion does not fill are left as the caller passed them.
//
// Every call returns false for an unsupported depth pair, when memory runs out, or when a buffer
// would reach 2^32 bytes; the target buffers may then hold partial results.
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
// grey = round(0.114 B) + round(0.299 R) + round(0.587 G), each product rounded on its own.
bool convertToGrey(DepthConverter& converter, const RgbQuad* sourcePalette,
                   const uint8_t* sourcePixels, uint8_t* targetGrey);
void greyFromIndexed(const DepthConverter& converter, const RgbQuad* sourcePalette,
                     const uint8_t* sourcePixels, uint8_t* targetGrey);
void greyFromTrueColour(const DepthConverter& converter, const uint8_t* sourcePixels,
                        uint8_t* targetGrey);

// The pieces of the indexed reduction, open to tests and benchmarks. Colours are keys
// red << 16 | green << 8 | blue, which is also the little-endian load of a B, G, R, 0 pixel.
struct WeightedColour {
  uint32_t colour = 0;
  uint32_t count = 0;
};

// Weighted median cut of the given colours into at most 256 boxes; palette entry i is the
// colour of box i. Reorders `colours` in place. False when count is 0 or paletteSize is not
// 1..256, or the colours hold fewer distinct entries than paletteSize.
bool medianCut(WeightedColour* colours, uint32_t count, int paletteSize, RgbQuad* palette);

}  // namespace velorin
