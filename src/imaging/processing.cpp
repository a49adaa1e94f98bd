#include "imaging/processing.h"

#include "imaging/stop_flag.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "imaging/resample.h"
#include "imaging/rotate.h"

namespace velorin {

namespace {

// Settings files and the command line can carry any number; the tables cover only these ranges.
ProcessingSettings limited(ProcessingSettings s) {
  s.GamVal = std::clamp(s.GamVal, -100, 100);
  s.CrtVal = std::clamp(s.CrtVal, -100, 100);
  s.HlsSVal = std::clamp(s.HlsSVal, -255, 255);
  s.HlsHVal = std::clamp(s.HlsHVal, -180, 180);
  return s;
}

// The pixel block must cover every row the steps walk.
bool isConsistent(const WorkingImage& image) {
  if (image.workWidth < 1 || image.workHeight < 1 || !image.pixels) return false;
  const uint64_t needed = checkedBlockSize(static_cast<int64_t>(image.workStride()), image.workHeight);
  return needed < kMaxBlockSize && image.pixels.size() >= needed;
}

// Every switched-on operation finds its tables (they are missing only when building them failed).
bool tablesReady(const ProcessingTables& t) {
  const ProcessingSettings& s = t.settings;
  if ((s.GamOpt || s.HgmOpt) && t.tone.gamma.empty()) return false;
  if (s.HgmOpt && t.tone.levels.empty()) return false;
  if (s.CrtOpt && t.tone.luminance.empty()) return false;
  if ((s.HlsSOpt || s.HlsHOpt) && t.tone.hls.clamp.empty()) return false;
  if (unsharpStrength(s.UsmOpt) != 0 && t.unsharp.divideBy25.empty()) return false;
  return true;
}

}  // namespace

bool buildProcessingTables(ProcessingTables& tables, const ProcessingSettings& settings) {
  releaseProcessingTables(tables);
  tables.settings = limited(settings);
  const ProcessingSettings& s = tables.settings;
  try {
    if (s.GamOpt || s.HgmOpt) buildGammaCurves(tables.tone);
    if (s.HgmOpt) buildLevelRows(tables.tone);
    if (s.CrtOpt) buildLuminanceWeights(tables.tone);
    if (s.HlsSOpt || s.HlsHOpt) buildHlsTables(tables.tone.hls);
    if (unsharpStrength(s.UsmOpt) != 0) buildUnsharpTables(tables.unsharp);
  } catch (const std::bad_alloc&) {
    releaseProcessingTables(tables);
    return false;
  }
  return true;
}

void releaseProcessingTables(ProcessingTables& tables) {
  const ProcessingSettings settings = tables.settings;
  tables = ProcessingTables{};
  tables.settings = settings;
}

PixelBuffer expandPaletteTo24(const RgbQuad* palette, const uint8_t* pixels, int32_t width,
                              int32_t height) {
  PixelBuffer expanded;
  if (width < 1 || height < 1 || !pixels) return expanded;
  const uint64_t stride = paddedStride(width, 24);
  const uint64_t sourceStride = paddedStride(width, 8);
  if (!expanded.allocate(checkedBlockSize(static_cast<int64_t>(stride), height))) return expanded;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = pixels + static_cast<size_t>(y) * sourceStride;
    uint8_t* out = expanded.data() + static_cast<size_t>(y) * stride;
    for (int32_t x = 0; x < width; ++x, out += 3) {
      const RgbQuad& q = palette[in[x]];
      out[0] = q.blue;
      out[1] = q.green;
      out[2] = q.red;
    }
  }
  return expanded;
}

bool ensureTrueColour(WorkingImage& image) {
  if (image.workBitCount == 24) return true;
  if (image.workBitCount != 8) return false;  // no other depth reaches the chain
  PixelBuffer expanded =
      expandPaletteTo24(image.palette, image.pixels.data(), image.workWidth, image.workHeight);
  if (!expanded) return false;
  image.replacePixels(std::move(expanded), image.workWidth, image.workHeight, 24);
  return true;
}

bool processImage(WorkingImage& image, const ProcessingTables& tables) {
  const ProcessingSettings& s = tables.settings;
  const RotationKind turn = rotationKindOf(s.TurOpt, image.exifOrientation);
  const bool tone = s.HgmOpt || s.GamOpt || s.CrtOpt || s.HlsSOpt || s.HlsHOpt;
  const int32_t strength = unsharpStrength(s.UsmOpt);
  if (turn == RotationKind::None && !tone && s.RszOpt == 0 && strength == 0) return true;
  if (!isConsistent(image) || !tablesReady(tables)) return false;

  if (!rotateWorkingImage(image, turn) || conversionStopRequested()) return false;

  // A tone step may change the transparent colour's value, so no writer may mark it any more.
  if (s.HgmOpt) {
    ToneTarget target = toneTargetOf(image);
    autoLevels(target, tables.tone, s.GamOpt ? s.GamVal : 0);
    image.hasTransparency = false;
  } else if (s.GamOpt) {
    ToneTarget target = toneTargetOf(image);
    applyGamma(target, tables.tone, s.GamVal);
    image.hasTransparency = false;
  }
  if (s.CrtOpt) {
    ToneTarget target = toneTargetOf(image);
    applyContrast(target, tables.tone, s.CrtVal);
    image.hasTransparency = false;
  }
  if (s.HlsSOpt || s.HlsHOpt) {
    ToneTarget target = toneTargetOf(image);
    applyHls(target, tables.tone, s.HlsHOpt ? s.HlsHVal : 0, s.HlsSOpt ? s.HlsSVal : 0);
    image.hasTransparency = false;
  }

  if (conversionStopRequested() || !resizeWorkingImage(image, s.RszOpt, s.RszSize, s.Round10)) return false;
  if (conversionStopRequested()) return false;
  if (strength != 0 && !unsharpMask(image, tables.unsharp, strength)) return false;
  return true;
}

}  // namespace velorin
