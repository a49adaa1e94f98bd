#include "imaging/rotate.h"

#include <algorithm>
#include <cstring>

namespace velorin {

RotationKind rotationKindOf(int32_t turOpt, int32_t exifOrientation) {
  switch (turOpt) {
    case 1: return RotationKind::Clockwise;
    case 2: return RotationKind::HalfTurn;
    case 3: return RotationKind::CounterClockwise;
    case 4:
      switch (exifOrientation) {
        case 6: return RotationKind::Clockwise;
        case 3: return RotationKind::HalfTurn;
        case 8: return RotationKind::CounterClockwise;
        default: return RotationKind::None;
      }
    default: return RotationKind::None;
  }
}

namespace {

// Square tiles keep both the rows written and the columns read in the cache.
constexpr int32_t kTile = 32;

// Moves one pixel. A 24-bit pixel moves as one 4-byte word: the extra byte lands on the first
// byte of the next pixel of the same new row, which is written afterwards; the last pixel of each
// new row is moved with exactly its three bytes (copyLastPixel), so nothing reaches the padding.
// Reading one byte beyond a source pixel stays inside the block (rows are padded, and every
// block has 4 spare bytes).
template <size_t Bytes>
inline void copyPixel(uint8_t* to, const uint8_t* from) {
  if constexpr (Bytes == 3) {
    uint32_t word;
    std::memcpy(&word, from, 4);
    std::memcpy(to, &word, 4);
  } else {
    *to = *from;
  }
}

template <size_t Bytes>
inline void copyLastPixel(uint8_t* to, const uint8_t* from) {
  std::memcpy(to, from, Bytes);
}

// Quarter turns in memory-row terms (rows bottom-up):
//   clockwise:         new row k, column i = old row i, column W - 1 - k
//   counter-clockwise: new row i, column j = old row H - 1 - j, column i
template <size_t Bytes>
void quarterTurn(const uint8_t* from, uint64_t fromStride, int32_t width, int32_t height,
                 uint8_t* to, uint64_t toStride, bool clockwise) {
  // The new image is height wide and width high.
  for (int32_t rowStart = 0; rowStart < width; rowStart += kTile) {
    const int32_t rowEnd = std::min(rowStart + kTile, width);
    for (int32_t columnStart = 0; columnStart < height; columnStart += kTile) {
      const int32_t columnEnd = std::min(columnStart + kTile, height);
      for (int32_t row = rowStart; row < rowEnd; ++row) {
        uint8_t* out = to + static_cast<size_t>(row) * toStride;
        const int32_t oldColumn = clockwise ? width - 1 - row : row;
        const uint8_t* in = from + static_cast<size_t>(oldColumn) * Bytes;
        // Tiles run left to right, so a word's extra byte is always overwritten later.
        const int32_t wordEnd = std::min(columnEnd, height - 1);
        int32_t column = columnStart;
        for (; column < wordEnd; ++column) {
          const int32_t oldRow = clockwise ? column : height - 1 - column;
          copyPixel<Bytes>(out + static_cast<size_t>(column) * Bytes,
                           in + static_cast<size_t>(oldRow) * fromStride);
        }
        if (column < columnEnd) {  // the last pixel of the new row
          const int32_t oldRow = clockwise ? column : height - 1 - column;
          copyLastPixel<Bytes>(out + static_cast<size_t>(column) * Bytes,
                               in + static_cast<size_t>(oldRow) * fromStride);
        }
      }
    }
  }
}

template <size_t Bytes>
void halfTurn(const uint8_t* from, uint64_t stride, int32_t width, int32_t height, uint8_t* to) {
  for (int32_t row = 0; row < height; ++row) {
    const uint8_t* in = from + static_cast<size_t>(height - 1 - row) * stride;
    uint8_t* out = to + static_cast<size_t>(row) * stride;
    for (int32_t x = 0; x + 1 < width; ++x)
      copyPixel<Bytes>(out + static_cast<size_t>(x) * Bytes,
                       in + static_cast<size_t>(width - 1 - x) * Bytes);
    copyLastPixel<Bytes>(out + static_cast<size_t>(width - 1) * Bytes, in);
  }
}

}  // namespace

bool rotateWorkingImage(WorkingImage& image, RotationKind kind) {
  if (kind == RotationKind::None) return true;
  const int32_t width = image.workWidth, height = image.workHeight, bits = image.workBitCount;
  if (bits != 8 && bits != 24) return false;
  if (width < 1 || height < 1 || !image.pixels) return false;
  const bool quarter = kind != RotationKind::HalfTurn;
  const int32_t newWidth = quarter ? height : width;
  const int32_t newHeight = quarter ? width : height;
  const uint64_t oldStride = paddedStride(width, bits);
  const uint64_t newStride = paddedStride(newWidth, bits);
  PixelBuffer turned;
  if (!turned.allocate(checkedBlockSize(static_cast<int64_t>(newStride), newHeight))) return false;

  const uint8_t* from = image.pixels.data();
  uint8_t* to = turned.data();
  if (quarter) {
    const bool clockwise = kind == RotationKind::Clockwise;
    if (bits == 24)
      quarterTurn<3>(from, oldStride, width, height, to, newStride, clockwise);
    else
      quarterTurn<1>(from, oldStride, width, height, to, newStride, clockwise);
  } else if (bits == 24) {
    halfTurn<3>(from, oldStride, width, height, to);
  } else {
    halfTurn<1>(from, oldStride, width, height, to);
  }
  image.replacePixels(std::move(turned), newWidth, newHeight, bits);
  return true;
}

}  // namespace velorin
