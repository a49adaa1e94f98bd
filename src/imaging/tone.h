// Tone and colour adjustments: automatic levels, gamma, contrast about the mean luminance and the
// hue/saturation adjustment. Each is a table-driven integer mapping that rewrites 24-bit pixels in
// place, or only the 256 palette entries (blue, green, red; the fourth byte is left alone) of any
// other depth, whose indices stay. None of them can fail once its tables exist.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/image.h"

namespace velorin {

// Hue, lightness, saturation conversion tables, all integer.
struct HlsTables {
  std::vector<int16_t> hueFraction;  // F[d][delta] = trunc(60 d / delta), row d + 255, 256 wide
  std::vector<int16_t> hueWrap;      // H[x] = x mod 360 for x = -300..659, at x + 300
  std::vector<uint8_t> saturation;   // S[sum][delta] for sum = 0..509, 256 wide
  std::vector<uint8_t> upperLevel;   // M2[L][s], 256 x 256
  std::vector<uint8_t> hueRamp;      // P[h][x], 360 x 256
  std::vector<uint8_t> clamp;        // Q[x] = clamp(x) for x = -255..510, at x + 255
};

struct ToneTables {
  std::vector<uint8_t> gamma;      // 201 curves of 256 bytes, curve g at (g + 100) x 256
  std::vector<uint8_t> levels;     // stretch rows R[r][k], r = 1..255 at r x 256 (row 0 unused)
  std::vector<int32_t> luminance;  // blue, green, red weights in 1/1024, 3 x 256
  HlsTables hls;
};

// The table builders; they allocate (and may throw std::bad_alloc, caught by the chain's builder).
void buildGammaCurves(ToneTables& tables);
void buildLevelRows(ToneTables& tables);
void buildLuminanceWeights(ToneTables& tables);
void buildHlsTables(HlsTables& tables);

// Curve g (-100..100) of the gamma tables.
inline const uint8_t* gammaCurve(const ToneTables& tables, int32_t g) {
  return tables.gamma.data() + static_cast<size_t>(g + 100) * 256;
}

// The view of the working image the adjustments use. Pixels and palette are changed in place.
struct ToneTarget {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitCount = 0;
  uint64_t stride = 0;
  RgbQuad* palette = nullptr;
  uint8_t* pixels = nullptr;
};

ToneTarget toneTargetOf(WorkingImage& image);

// The lower and upper level of automatic levels: the outer 0.39 % of all samples are clipped.
struct LevelRange {
  int32_t low = 0;
  int32_t high = 255;
};
LevelRange levelRange(const ToneTarget& target);

// Mean luminance (0..255) over the pixels, 8-bit images through their palette; 128 for other depths.
int32_t meanLuminance(const ToneTarget& target, const ToneTables& tables);

// The contrast curve of level c (-100..100) about mean m.
void buildContrastCurve(uint8_t curve[256], int32_t c, int32_t m);

// Hue and saturation of one colour; lightness is kept.
void adjustHls(const HlsTables& tables, uint8_t& blue, uint8_t& green, uint8_t& red,
               int32_t hueShift, int32_t saturationShift);

// Stretch between the image's own levels, then gamma curve g (0: none). A single-level image
// (no range to stretch) only gets the gamma curve.
void autoLevels(ToneTarget& target, const ToneTables& tables, int32_t g);
void applyGamma(ToneTarget& target, const ToneTables& tables, int32_t g);
void applyContrast(ToneTarget& target, const ToneTables& tables, int32_t c);
void applyHls(ToneTarget& target, const ToneTables& tables, int32_t hueShift,
              int32_t saturationShift);

}  // namespace velorin
