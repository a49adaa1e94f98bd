// The Adam7 interlace passes of PNG, shared by the reader and the writer.
#pragma once

#include <algorithm>
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

// The geometry of the filtered image data: its total size and its largest row, filter bytes
// included; an empty pass counts nothing.
struct PngFilteredSize {
  uint64_t total = 0;
  uint64_t largestRow = 0;
};

inline PngFilteredSize pngFilteredSize(int64_t width, int64_t height, int bitDepth,
                                       int bytesPerPixel, bool interlace) {
  PngFilteredSize size;
  const Adam7Pass* passes = interlace ? kAdam7Passes : &kWholeImagePass;
  for (int p = 0; p < (interlace ? 7 : 1); ++p) {
    const int64_t columns = passColumns(passes[p], width), rows = passRows(passes[p], height);
    if (columns <= 0 || rows <= 0) continue;
    const uint64_t row = pngRowBytes(static_cast<uint64_t>(columns), bitDepth, bytesPerPixel) + 1;
    size.total += row * static_cast<uint64_t>(rows);
    size.largestRow = std::max(size.largestRow, row);
  }
  return size;
}

}  // namespace velorin
