#include "imaging/tone.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace velorin {

void buildGammaCurves(ToneTables& tables) {
  tables.gamma.assign(201 * 256, 0);
  constexpr double kPi = 3.1415926535;
  for (int32_t i = 0; i <= 200; ++i) {
    // One degree per 2.5 levels, from 5 degrees (very dark) over 45 (identity) to 85 (very bright).
    const double angle = (i * 2 / 5 + 5) * kPi / 180.0;
    const double exponent = std::cos(angle) / std::sin(angle);
    uint8_t* curve = tables.gamma.data() + static_cast<size_t>(i) * 256;
    for (int32_t v = 1; v < 256; ++v)
      curve[v] = static_cast<uint8_t>(std::pow(v / 255.0, exponent) * 255.0 + 0.5);
  }
}

void buildLevelRows(ToneTables& tables) {
  tables.levels.assign(256 * 256, 0);
  for (int64_t r = 1; r < 256; ++r) {
    const int64_t step = 16711680 / r;
    uint8_t* row = tables.levels.data() + r * 256;
    for (int64_t k = 1; k < 256; ++k) {
      const int64_t scaled = k * step;
      row[k] = scaled <= 16777215 ? static_cast<uint8_t>(scaled >> 16) : 255;
    }
  }
}

void buildLuminanceWeights(ToneTables& tables) {
  tables.luminance.assign(3 * 256, 0);
  for (int32_t v = 0; v < 256; ++v) {
    tables.luminance[v] = 117 * v;
    tables.luminance[256 + v] = 601 * v;
    tables.luminance[512 + v] = 306 * v;
  }
}

void buildHlsTables(HlsTables& t) {
  t.hueFraction.assign(511 * 256, 0);
  for (int32_t d = -255; d <= 255; ++d)
    for (int32_t delta = 1; delta < 256; ++delta)
      if (std::abs(d) <= delta) t.hueFraction[(d + 255) * 256 + delta] = static_cast<int16_t>(60 * d / delta);

  t.hueWrap.assign(960, 0);
  for (int32_t x = -300; x <= 659; ++x) t.hueWrap[x + 300] = static_cast<int16_t>((x + 720) % 360);

  t.saturation.assign(510 * 256, 0);
  for (int32_t sum = 1; sum < 510; ++sum)
    for (int32_t delta = 1; delta < 256; ++delta) {
      const int32_t s = sum <= 255 ? 255 * delta / sum : 255 * delta / (510 - sum);
      t.saturation[sum * 256 + delta] = static_cast<uint8_t>(std::min(s, 255));
    }

  t.upperLevel.assign(256 * 256, 0);
  for (int32_t l = 0; l < 256; ++l)
    for (int32_t s = 1; s < 256; ++s)
      t.upperLevel[l * 256 + s] =
          static_cast<uint8_t>(l < 128 ? l * (255 + s) / 255 : l + s - l * s / 255);

  t.hueRamp.assign(360 * 256, 0);
  for (int32_t h = 0; h < 240; ++h)
    for (int32_t x = 0; x < 256; ++x) {
      const int32_t v = h < 60 ? x * h / 60 : h < 180 ? x : x * (240 - h) / 60;
      t.hueRamp[h * 256 + x] = static_cast<uint8_t>(v);
    }

  t.clamp.assign(766, 0);
  for (int32_t x = -255; x <= 510; ++x) t.clamp[x + 255] = static_cast<uint8_t>(std::clamp(x, 0, 255));
}

ToneTarget toneTargetOf(WorkingImage& image) {
  ToneTarget t;
  t.width = image.workWidth;
  t.height = image.workHeight;
  t.bitCount = image.workBitCount;
  t.stride = image.workStride();
  t.palette = image.palette;
  t.pixels = image.pixels.data();
  return t;
}

namespace {

bool isTrueColour(const ToneTarget& t) { return t.bitCount == 24; }
// Only 8- and 24-bit rows can be walked pixel by pixel; other depths are adjusted through the
// palette without measuring the pixels.
bool hasIndexRows(const ToneTarget& t) { return t.bitCount == 8 && t.pixels; }

// Maps every channel value of every pixel (24 bits) or palette entry (other depths) through map.
void mapChannels(ToneTarget& t, const uint8_t* map) {
  if (isTrueColour(t)) {
    if (!t.pixels) return;
    const size_t rowBytes = static_cast<size_t>(t.width) * 3;
    for (int32_t y = 0; y < t.height; ++y) {
      uint8_t* row = t.pixels + static_cast<size_t>(y) * t.stride;
      for (size_t i = 0; i < rowBytes; ++i) row[i] = map[row[i]];
    }
    return;
  }
  for (int32_t i = 0; i < 256; ++i) {
    RgbQuad& q = t.palette[i];
    q.blue = map[q.blue];
    q.green = map[q.green];
    q.red = map[q.red];
  }
}

// How many pixels use each palette index.
void countIndices(const ToneTarget& t, uint64_t counts[256]) {
  std::fill(counts, counts + 256, 0);
  for (int32_t y = 0; y < t.height; ++y) {
    const uint8_t* row = t.pixels + static_cast<size_t>(y) * t.stride;
    for (int32_t x = 0; x < t.width; ++x) ++counts[row[x]];
  }
}

}  // namespace

LevelRange levelRange(const ToneTarget& t) {
  uint64_t combined[256] = {};
  if (isTrueColour(t) && t.pixels) {
    const size_t rowBytes = static_cast<size_t>(t.width) * 3;
    for (int32_t y = 0; y < t.height; ++y) {
      const uint8_t* row = t.pixels + static_cast<size_t>(y) * t.stride;
      for (size_t i = 0; i < rowBytes; ++i) ++combined[row[i]];
    }
  } else if (hasIndexRows(t)) {
    uint64_t counts[256];
    countIndices(t, counts);
    for (int32_t i = 0; i < 256; ++i) {
      combined[t.palette[i].blue] += counts[i];
      combined[t.palette[i].green] += counts[i];
      combined[t.palette[i].red] += counts[i];
    }
  } else {
    return {};
  }
  const uint64_t threshold = (static_cast<uint64_t>(t.width) * static_cast<uint64_t>(t.height) * 3) >> 8;
  LevelRange range;
  uint64_t cumulative = 0;
  for (range.low = 0; range.low < 255; ++range.low) {
    cumulative += combined[range.low];
    if (cumulative > threshold) break;
  }
  cumulative = 0;
  for (range.high = 255; range.high > 0; --range.high) {
    cumulative += combined[range.high];
    if (cumulative > threshold) break;
  }
  return range;
}

int32_t meanLuminance(const ToneTarget& t, const ToneTables& tables) {
  const int32_t* wb = tables.luminance.data();
  const int32_t* wg = wb + 256;
  const int32_t* wr = wb + 512;
  uint64_t total = 0;
  if (isTrueColour(t) && t.pixels) {
    for (int32_t y = 0; y < t.height; ++y) {
      const uint8_t* p = t.pixels + static_cast<size_t>(y) * t.stride;
      uint64_t b = 0, g = 0, r = 0;
      for (int32_t x = 0; x < t.width; ++x, p += 3) {
        b += static_cast<uint32_t>(wb[p[0]]);
        g += static_cast<uint32_t>(wg[p[1]]);
        r += static_cast<uint32_t>(wr[p[2]]);
      }
      total += (b >> 10) + (g >> 10) + (r >> 10);
    }
  } else if (hasIndexRows(t)) {
    for (int32_t y = 0; y < t.height; ++y) {
      const uint8_t* p = t.pixels + static_cast<size_t>(y) * t.stride;
      uint64_t b = 0, g = 0, r = 0;
      for (int32_t x = 0; x < t.width; ++x) {
        const RgbQuad& q = t.palette[p[x]];
        b += static_cast<uint32_t>(wb[q.blue]);
        g += static_cast<uint32_t>(wg[q.green]);
        r += static_cast<uint32_t>(wr[q.red]);
      }
      total += (b >> 10) + (g >> 10) + (r >> 10);
    }
  } else {
    return 128;
  }
  const uint64_t count = static_cast<uint64_t>(t.width) * static_cast<uint64_t>(t.height);
  return count ? static_cast<int32_t>(std::min<uint64_t>(total / count, 255)) : 128;
}

void buildContrastCurve(uint8_t curve[256], int32_t c, int32_t m) {
  const int32_t k = c <= 0 ? 512 : 2048;
  for (int32_t v = 0; v < 256; ++v) {
    // Arithmetic shift: floor division for values below the mean.
    const int32_t moved = v + ((c * k * (v - m)) >> 16);
    curve[v] = static_cast<uint8_t>(std::clamp(moved, 0, 255));
  }
}

void adjustHls(const HlsTables& t, uint8_t& blue, uint8_t& green, uint8_t& red, int32_t hueShift,
               int32_t saturationShift) {
  const int32_t b = blue, g = green, r = red;
  const int32_t mx = std::max({b, g, r}), mn = std::min({b, g, r});
  const int32_t delta = mx - mn, sum = mx + mn, lightness = sum >> 1;
  int32_t s = 0, h = 0;
  if (delta != 0) {
    s = t.saturation[sum * 256 + delta];
    auto fraction = [&](int32_t d) { return t.hueFraction[(d + 255) * 256 + delta]; };
    if (r > g && r > b)
      h = t.hueWrap[fraction(g - b) + 300];
    else if (b > g)
      h = t.hueWrap[240 + fraction(r - g) + 300];
    else
      h = t.hueWrap[120 + fraction(b - r) + 300];
  }
  const int32_t newSaturation = t.clamp[s + saturationShift + 255];
  if (newSaturation == 0) {
    blue = green = red = static_cast<uint8_t>(lightness);
    return;
  }
  const int32_t m2 = t.upperLevel[lightness * 256 + newSaturation];
  const int32_t m1 = 2 * lightness - m2;
  const int32_t x = m2 - m1;
  const int32_t shifted = h + hueShift;
  auto ramp = [&](int32_t hue) { return t.hueRamp[t.hueWrap[hue + 300] * 256 + x]; };
  blue = static_cast<uint8_t>(m1 + ramp(shifted - 120));
  green = static_cast<uint8_t>(m1 + ramp(shifted));
  red = static_cast<uint8_t>(m1 + ramp(shifted + 120));
}

void autoLevels(ToneTarget& t, const ToneTables& tables, int32_t g) {
  const LevelRange range = levelRange(t);
  const uint8_t* gamma = gammaCurve(tables, g);
  uint8_t map[256];
  if (range.high <= range.low) {
    // Nothing to stretch (a single level): the stretch rows start at range 1, so only the
    // gamma curve applies.
    std::copy(gamma, gamma + 256, map);
  } else {
    const uint8_t* stretch = tables.levels.data() + static_cast<size_t>(range.high - range.low) * 256;
    for (int32_t v = 0; v < 256; ++v) {
      const int32_t k = v - range.low;
      map[v] = gamma[k <= 0 ? 0 : stretch[k]];
    }
  }
  mapChannels(t, map);
}

void applyGamma(ToneTarget& t, const ToneTables& tables, int32_t g) {
  mapChannels(t, gammaCurve(tables, g));
}

void applyContrast(ToneTarget& t, const ToneTables& tables, int32_t c) {
  uint8_t curve[256];
  buildContrastCurve(curve, c, meanLuminance(t, tables));
  mapChannels(t, curve);
}

void applyHls(ToneTarget& t, const ToneTables& tables, int32_t hueShift, int32_t saturationShift) {
  const HlsTables& hls = tables.hls;
  if (!isTrueColour(t)) {
    for (RgbQuad& q : std::span(t.palette, 256))
      adjustHls(hls, q.blue, q.green, q.red, hueShift, saturationShift);
    return;
  }
  if (!t.pixels || t.width < 1) return;
  for (int32_t y = 0; y < t.height; ++y) {
    uint8_t* p = t.pixels + static_cast<size_t>(y) * t.stride;
    // Neighbouring pixels of photographs often repeat; reuse the last result.
    uint8_t lastIn[3] = {p[0], p[1], p[2]}, lastOut[3] = {p[0], p[1], p[2]};
    adjustHls(hls, lastOut[0], lastOut[1], lastOut[2], hueShift, saturationShift);
    for (int32_t x = 0; x < t.width; ++x, p += 3) {
      if (p[0] != lastIn[0] || p[1] != lastIn[1] || p[2] != lastIn[2]) {
        lastIn[0] = lastOut[0] = p[0];
        lastIn[1] = lastOut[1] = p[1];
        lastIn[2] = lastOut[2] = p[2];
        adjustHls(hls, lastOut[0], lastOut[1], lastOut[2], hueShift, saturationShift);
      }
      p[0] = lastOut[0];
      p[1] = lastOut[1];
      p[2] = lastOut[2];
    }
  }
}

}  // namespace velorin
