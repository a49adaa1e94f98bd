#include "imaging/unsharp.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "imaging/processing.h"
#include "imaging/stop_flag.h"

namespace velorin {

namespace {
constexpr int32_t kThreshold = 20;     // on the sum of the three absolute differences
constexpr int32_t kClampLow = -1600;   // the clamp table's first index
constexpr int32_t kClampHigh = 1842;
}  // namespace

void buildUnsharpTables(UnsharpTables& t) {
  t.divideBy25.assign(6376, 0);
  // s / 25 by a multiply and shift; a quotient with fraction .52 rounds down (D[2988] = 119).
  for (uint32_t s = 1; s < 6376; ++s) t.divideBy25[s] = static_cast<uint8_t>((35389 + (s - 1) * 2621) >> 16);

  t.amount.assign(101 * 256, 0);
  for (int32_t k = 0; k <= 100; ++k)
    for (int32_t d = -128; d < 128; ++d)
      t.amount[k * 256 + d + 128] = static_cast<int16_t>((k * d) >> 3);  // floor(k d / 8)

  t.clamp.assign(kClampHigh - kClampLow + 1, 0);
  for (int32_t i = kClampLow; i <= kClampHigh; ++i)
    t.clamp[i - kClampLow] = static_cast<uint8_t>(std::clamp(i, 0, 255));
}

int32_t unsharpStrength(int32_t usmOpt) {
  switch (usmOpt) {
    case 1: return 2;
    case 2: return 4;
    case 3: return 6;
    default: return 0;
  }
}

bool unsharpMask(WorkingImage& image, const UnsharpTables& tables, int32_t k) {
  const int32_t width = image.workWidth, height = image.workHeight;
  if (width < 5 || height < 5) return true;
  k = std::clamp(k, 0, 100);
  if (!ensureTrueColour(image)) return false;

  const uint64_t stride = paddedStride(width, 24);
  PixelBuffer destination;
  if (!destination.allocate(checkedBlockSize(static_cast<int64_t>(stride), height))) return false;

  // Vertical 5-sums per channel (at most 1275) with two replicated entries at each end, so the
  // horizontal window below needs no bounds checks, and one spare entry that the window's last
  // (unused) slide reads.
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  uint16_t* columns = static_cast<uint16_t*>(std::calloc(rowBytes + 15, sizeof(uint16_t)));
  if (!columns) return false;
  struct Free {
    void operator()(uint16_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint16_t, Free> columnsOwner(columns);
  uint16_t* inner = columns + 6;

  const uint8_t* source = image.pixels.data();
  auto sourceRow = [&](int32_t y) {
    return source + static_cast<size_t>(std::clamp(y, 0, height - 1)) * stride;
  };
  for (int32_t j = -2; j <= 2; ++j) {
    const uint8_t* row = sourceRow(j);
    for (size_t i = 0; i < rowBytes; ++i) inner[i] = static_cast<uint16_t>(inner[i] + row[i]);
  }

  const uint8_t* divide = tables.divideBy25.data();
  const int16_t* amount = tables.amount.data() + static_cast<size_t>(k) * 256 + 128;
  const uint8_t* clamp = tables.clamp.data() - kClampLow;

  for (int32_t y = 0; y < height; ++y) {
    if (conversionStopRequested()) return false;
    if (y > 0) {
      const uint8_t* entering = sourceRow(y + 2);
      const uint8_t* leaving = sourceRow(y - 3);
      for (size_t i = 0; i < rowBytes; ++i)
        inner[i] = static_cast<uint16_t>(inner[i] + entering[i] - leaving[i]);
    }
    for (int c = 0; c < 3; ++c) {
      columns[c] = columns[3 + c] = inner[c];
      inner[rowBytes + c] = inner[rowBytes + 3 + c] = inner[rowBytes - 3 + c];
    }

    const uint8_t* in = source + static_cast<size_t>(y) * stride;
    uint8_t* out = destination.data() + static_cast<size_t>(y) * stride;
    uint32_t sum[3];
    for (int c = 0; c < 3; ++c)
      sum[c] = columns[c] + columns[3 + c] + columns[6 + c] + columns[9 + c] + columns[12 + c];
    for (int32_t x = 0; x < width; ++x) {
      const size_t at = static_cast<size_t>(x) * 3;
      int32_t d[3];
      for (int c = 0; c < 3; ++c) d[c] = std::clamp(in[at + c] - divide[sum[c]], -128, 127);
      if (std::abs(d[0]) + std::abs(d[1]) + std::abs(d[2]) > kThreshold) {
        for (int c = 0; c < 3; ++c) out[at + c] = clamp[in[at + c] + amount[d[c]]];
      } else {
        out[at] = in[at];
        out[at + 1] = in[at + 1];
        out[at + 2] = in[at + 2];
      }
      // Slide the window: columns[at + 15] is x + 3 in the padded array, columns[at] is x - 2.
      for (int c = 0; c < 3; ++c) sum[c] += columns[at + 15 + c] - columns[at + c];
    }
  }

  image.replacePixels(std::move(destination), width, height, 24);
  return true;
}

}  // namespace velorin
