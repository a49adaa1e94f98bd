#include "imaging/resample.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "imaging/processing.h"
#include "imaging/stop_flag.h"

namespace velorin {

namespace {

// Accumulators are 32-bit: a window of r + 2 pixels of 255 must fit, and the division table
// (255 r bytes) must stay allocatable.
constexpr double kMaxReduction = 1 << 24;

constexpr int32_t kThumbnailSide = 160;

uint64_t stride24(int32_t width) { return paddedStride(width, 24); }

// Where each output pixel of an enlarged line takes its value from: source pixel whole[k] and,
// when fraction[k] is not 0 or whole[k] is the last pixel, the next one with that weight.
struct EnlargementPlan {
  std::vector<int32_t> whole;
  std::vector<double> fraction;
  std::vector<bool> interpolate;
};

void planEnlargement(int32_t n, int32_t m, EnlargementPlan& plan) {
  const double r = static_cast<double>(n) / m;
  plan.whole.resize(m);
  plan.fraction.resize(m);
  plan.interpolate.resize(m);
  double position = 0.0;  // advanced by repeated addition, as the source point k n / m
  for (int32_t k = 0; k < m; ++k) {
    const auto g = std::min(static_cast<int32_t>(position), n - 1);
    plan.whole[k] = g;
    plan.interpolate[k] = g < n - 1;
    plan.fraction[k] = position - g;
    position += r;
  }
}

inline uint8_t blend(uint8_t a, uint8_t b, double f) {
  return static_cast<uint8_t>(a * (1.0 - f) + b * f + 0.5);
}

// Where the vertical pass puts its output rows: straight into a destination block.
struct RowsInBlock {
  uint8_t* destination;
  uint64_t stride;
  uint8_t* row(int32_t k) { return destination + static_cast<size_t>(k) * stride; }
  void done(int32_t) {}
};

// One vertical pass: every column of the source (width x n rows) becomes m rows, handed to the
// sink in order: row(k) says where output row k goes, done(k) follows once it is complete.
template <typename Sink>
bool verticalPass(const uint8_t* source, int32_t width, int32_t n, int32_t m, Sink& sink) {
  const uint64_t stride = stride24(width);
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  auto sourceRow = [&](int32_t y) { return source + static_cast<size_t>(y) * stride; };

  if (m > n) {
    EnlargementPlan plan;
    planEnlargement(n, m, plan);
    for (int32_t k = 0; k < m; ++k) {
      if (conversionStopRequested()) return false;
      const uint8_t* a = sourceRow(plan.whole[k]);
      uint8_t* out = sink.row(k);
      if (!plan.interpolate[k]) {
        std::memcpy(out, a, rowBytes);
      } else {
        const uint8_t* b = sourceRow(plan.whole[k] + 1);
        const double f = plan.fraction[k];
        for (size_t i = 0; i < rowBytes; ++i) out[i] = blend(a[i], b[i], f);
      }
      sink.done(k);
    }
    return true;
  }

  const double r = static_cast<double>(n) / m;
  if (r > kMaxReduction) return false;
  const std::vector<uint8_t> table = divisionTable(r);
  const uint32_t top = static_cast<uint32_t>(table.size() - 1);
  ReductionPlan plan;
  planReduction(n, m, r, plan);
  std::vector<uint32_t> sums(rowBytes, 0);
  uint32_t* acc = sums.data();
  const uint8_t* divide = table.data();

  int32_t next = 0;  // the next source row to add
  for (size_t j = 0; j < plan.closeAt.size(); ++j) {
    if (conversionStopRequested()) return false;
    const int32_t closing = plan.closeAt[j];
    for (; next < closing; ++next) {
      const uint8_t* row = sourceRow(next);
      for (size_t i = 0; i < rowBytes; ++i) acc[i] += row[i];
    }
    // The closing row's share of the next output, for every value it can hold.
    uint32_t carry[256];
    for (int v = 0; v < 256; ++v) carry[v] = static_cast<uint32_t>(v * plan.carried[j] + 0.5);
    const uint8_t* row = sourceRow(closing);
    uint8_t* out = sink.row(static_cast<int32_t>(j));
    for (size_t i = 0; i < rowBytes; ++i) {
      const uint32_t kept = carry[row[i]];
      out[i] = divide[std::min(acc[i] + row[i] - kept, top)];
      acc[i] = kept;
    }
    sink.done(static_cast<int32_t>(j));
    next = closing + 1;
  }
  for (; next < n; ++next) {
    const uint8_t* row = sourceRow(next);
    for (size_t i = 0; i < rowBytes; ++i) acc[i] += row[i];
  }
  auto last = static_cast<int32_t>(plan.closeAt.size());
  uint8_t* out = sink.row(last);
  for (size_t i = 0; i < rowBytes; ++i) out[i] = divide[std::min(acc[i], top)];
  sink.done(last);
  for (int32_t k = last + 1; k < m; ++k) {
    uint8_t* copy = sink.row(k);
    if (copy != out) std::memcpy(copy, out, rowBytes);
    sink.done(k);
  }
  return true;
}

// How every row of n pixels becomes m pixels in the horizontal pass.
struct HorizontalPlan {
  int32_t n = 0;
  int32_t m = 0;
  EnlargementPlan enlargement;  // when m > n
  ReductionPlan reduction;      // otherwise
  std::vector<uint8_t> table;
};

bool planHorizontal(int32_t n, int32_t m, HorizontalPlan& plan) {
  plan.n = n;
  plan.m = m;
  if (m > n) {
    planEnlargement(n, m, plan.enlargement);
    return true;
  }
  const double r = static_cast<double>(n) / m;
  if (r > kMaxReduction) return false;
  plan.table = divisionTable(r);
  planReduction(n, m, r, plan.reduction);
  return true;
}

void horizontalRow(const HorizontalPlan& plan, const uint8_t* in, uint8_t* out) {
  const int32_t n = plan.n, m = plan.m;
  if (m > n) {
    const EnlargementPlan& e = plan.enlargement;
    for (int32_t k = 0; k < m; ++k, out += 3) {
      const uint8_t* a = in + static_cast<size_t>(e.whole[k]) * 3;
      if (!e.interpolate[k]) {
        out[0] = a[0], out[1] = a[1], out[2] = a[2];
        continue;
      }
      const double f = e.fraction[k];
      for (int c = 0; c < 3; ++c) out[c] = blend(a[c], a[c + 3], f);
    }
    return;
  }

  const uint8_t* divide = plan.table.data();
  const uint32_t top = static_cast<uint32_t>(plan.table.size() - 1);
  const ReductionPlan& reduction = plan.reduction;
  const size_t closes = reduction.closeAt.size();
  uint32_t b = 0, g = 0, red = 0;
  const uint8_t* p = in;
  for (size_t j = 0; j < closes; ++j, out += 3) {
    const uint8_t* closing = in + static_cast<size_t>(reduction.closeAt[j]) * 3;
    for (; p < closing; p += 3) b += p[0], g += p[1], red += p[2];
    const double share = reduction.carried[j];
    const auto kb = static_cast<uint32_t>(p[0] * share + 0.5);
    const auto kg = static_cast<uint32_t>(p[1] * share + 0.5);
    const auto kr = static_cast<uint32_t>(p[2] * share + 0.5);
    out[0] = divide[std::min(b + p[0] - kb, top)];
    out[1] = divide[std::min(g + p[1] - kg, top)];
    out[2] = divide[std::min(red + p[2] - kr, top)];
    b = kb, g = kg, red = kr;
    p += 3;
  }
  for (const uint8_t* end = in + static_cast<size_t>(n) * 3; p < end; p += 3)
    b += p[0], g += p[1], red += p[2];
  out[0] = divide[std::min(b, top)];
  out[1] = divide[std::min(g, top)];
  out[2] = divide[std::min(red, top)];
  for (size_t k = closes + 1; k < static_cast<size_t>(m); ++k) {
    out += 3;
    out[0] = out[-3], out[1] = out[-2], out[2] = out[-1];
  }
}

// Where the vertical pass puts its rows when both sides change: one at a time into a scratch row
// that the horizontal pass turns into the destination's row at once, so no intermediate image of
// source width is ever made.
struct RowsThroughHorizontalPass {
  const HorizontalPlan& plan;
  std::vector<uint8_t> scratch;
  uint8_t* destination;
  uint64_t stride;
  uint8_t* row(int32_t) { return scratch.data(); }
  void done(int32_t k) { horizontalRow(plan, scratch.data(), destination + static_cast<size_t>(k) * stride); }
};

bool resampleChecked(Resampler& rs, int32_t newWidth, int32_t newHeight) {
  const int32_t width = rs.sourceWidth, height = rs.sourceHeight;
  if (newWidth < 1 || newHeight < 1 || width < 1 || height < 1) return false;
  if (newWidth > 2 * static_cast<int64_t>(width) || newHeight > 2 * static_cast<int64_t>(height))
    return false;
  if (newWidth == width && newHeight == height) return false;
  if (!rs.sourcePixels || !rs.destinationPixels) return false;

  const uint64_t destinationStride = stride24(newWidth);
  if (newWidth == width) {
    RowsInBlock rows{rs.destinationPixels, destinationStride};
    return verticalPass(rs.sourcePixels, width, height, newHeight, rows);
  }
  HorizontalPlan plan;
  if (!planHorizontal(width, newWidth, plan)) return false;
  if (newHeight == height) {
    const uint64_t sourceStride = stride24(width);
    for (int32_t y = 0; y < height; ++y) {
      if (conversionStopRequested()) return false;
      horizontalRow(plan, rs.sourcePixels + static_cast<size_t>(y) * sourceStride,
                    rs.destinationPixels + static_cast<size_t>(y) * destinationStride);
    }
    return true;
  }
  // Vertical first, a row at a time.
  RowsThroughHorizontalPass rows{plan, std::vector<uint8_t>(static_cast<size_t>(width) * 3),
                                 rs.destinationPixels, destinationStride};
  return verticalPass(rs.sourcePixels, width, height, newHeight, rows);
}

}  // namespace

void planReduction(int32_t n, int32_t m, double r, ReductionPlan& plan) {
  plan.closeAt.clear();
  plan.carried.clear();
  if (m < 2) return;
  const auto most = static_cast<size_t>(m - 1);
  plan.closeAt.reserve(most);
  plan.carried.reserve(most);
  double coverage = 0.0;
  for (int32_t i = 0; i + 1 < n && plan.closeAt.size() < most; ++i) {
    coverage += 1.0;
    if (coverage >= r) {
      coverage -= r;  // the part of pixel i that belongs to the next output
      plan.closeAt.push_back(i);
      plan.carried.push_back(coverage);
    }
  }
}

std::vector<uint8_t> divisionTable(double r) {
  const auto last = static_cast<size_t>(255.0 * r + 0.5);
  std::vector<uint8_t> table(last + 2);
  for (size_t k = 0; k <= last; ++k) table[k] = static_cast<uint8_t>(std::min(k / r + 0.5, 255.0));
  table[last + 1] = 255;
  return table;
}

bool resample(Resampler& resampler, int32_t newWidth, int32_t newHeight) {
  try {
    return resampleChecked(resampler, newWidth, newHeight);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
}

bool resizedSize(int32_t width, int32_t height, int32_t rszOpt, int32_t rszSize, bool round10,
                 int32_t& newWidth, int32_t& newHeight) {
  if (rszOpt < 1 || rszOpt > 3 || rszSize < 1 || width < 1 || height < 1) return false;
  const bool byWidth = rszOpt == 1 || (rszOpt == 3 && height < width);
  const int32_t driving = byWidth ? width : height;
  const int32_t other = byWidth ? height : width;
  if (rszSize >= driving) return false;
  const double exact = static_cast<double>(static_cast<int64_t>(other) * rszSize) / driving;
  const auto derived = round10 && rszSize % 10 == 0
                           ? static_cast<int32_t>(exact / 10 + 0.5) * 10
                           : static_cast<int32_t>(exact + 0.5);
  newWidth = byWidth ? rszSize : std::max(derived, 1);
  newHeight = byWidth ? std::max(derived, 1) : rszSize;
  return true;
}

bool resizeWorkingImage(WorkingImage& image, int32_t rszOpt, int32_t rszSize, bool round10) {
  int32_t newWidth = 0, newHeight = 0;
  if (!resizedSize(image.workWidth, image.workHeight, rszOpt, rszSize, round10, newWidth, newHeight))
    return true;
  if (!ensureTrueColour(image)) return false;
  PixelBuffer resized;
  if (!resized.allocate(checkedBlockSize(static_cast<int64_t>(stride24(newWidth)), newHeight)))
    return false;
  Resampler rs{image.workWidth, image.workHeight, image.pixels.data(), resized.data()};
  if (!resample(rs, newWidth, newHeight)) return false;
  image.replacePixels(std::move(resized), newWidth, newHeight, 24);
  return true;
}

PixelBuffer makeThumbnail(const WorkingImage& image, int32_t& thumbWidth, int32_t& thumbHeight) {
  thumbWidth = thumbHeight = 0;
  const int32_t width = image.workWidth, height = image.workHeight;
  if (width < 1 || height < 1 || !image.pixels) return {};
  if (width < height) {
    thumbHeight = kThumbnailSide;
    thumbWidth = static_cast<int32_t>(static_cast<double>(width) * kThumbnailSide / height + 0.5);
  } else {
    thumbWidth = kThumbnailSide;
    thumbHeight = static_cast<int32_t>(static_cast<double>(height) * kThumbnailSide / width + 0.5);
  }
  PixelBuffer thumbnail;
  if (thumbWidth < 1 || thumbHeight < 1 ||
      !thumbnail.allocate(checkedBlockSize(static_cast<int64_t>(stride24(thumbWidth)), thumbHeight)))
    return {};

  PixelBuffer expanded;
  const uint8_t* source = image.pixels.data();
  if (image.workBitCount != 24) {
    if (image.workBitCount != 8) return {};
    expanded = expandPaletteTo24(image.palette, source, width, height);
    if (!expanded) return {};
    source = expanded.data();
  }
  Resampler rs{width, height, source, thumbnail.data()};
  if (!resample(rs, thumbWidth, thumbHeight)) return {};
  return thumbnail;
}

}  // namespace velorin
