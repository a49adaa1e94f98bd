// The Adam7 interlace passes of PNG, shared by the reader and the writer.
#pragma once

#include <cstdint>

namespace velorin {

struct Adam7Pass {
  int startColumn, startRow, columnStep, rowStep;
};

inline constexpr Adam7Pass kAdam7Passes[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8},
                                              {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2},
                                              {0, 1, 1, 2}};
// A non-interlaced image is one pass over every pixel.
inline constexpr Adam7Pass kWholeImagePass = {0, 0, 1, 1};

inline int64_t passColumns(const Adam7Pass& pass, int64_t width) {
  return (width + pass.columnStep - pass.startColumn - 1) / pass.columnStep;
}
inline int64_t passRows(const Adam7Pass& pass, int64_t height) {
  return (height + pass.rowStep - pass.startRow - 1) / pass.rowStep;
}

// Bytes of one row of `width` pixels without its filter byte: packed below 8 bits.
inline uint64_t pngRowBytes(uint64_t width, int bitDepth, int bytesPerPixel) {
  switch (bitDepth) {
    case 1: return (width + 7) >> 3;
    case 2: return (width + 3) >> 2;
    case 4: return (width + 1) >> 1;
    default: return width * static_cast<uint64_t>(bytesPerPixel);
  }
}

}  // namespace velorin
