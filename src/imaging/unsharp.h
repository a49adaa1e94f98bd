// Unsharp mask: each pixel is pushed away from the 5 x 5 box blur of its neighbourhood by k/8 of
// the difference, but only where the three channel differences together exceed 20, so flat areas
// and faint noise stay as they are.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/image.h"

namespace velorin {

struct UnsharpTables {
  std::vector<uint8_t> divideBy25;  // D[s], s = 0..6375: s / 25 rounded without a division
  std::vector<int16_t> amount;      // A[k][d] = floor(k d / 8), k = 0..100, d = -128..127 at d + 128
  std::vector<uint8_t> clamp;       // indices -1600..1842 at index + 1600, limited to 0..255
};

// Allocates and fills the tables (may throw std::bad_alloc, caught by the chain's builder).
void buildUnsharpTables(UnsharpTables& tables);

// Strength in eighths of the difference for UsmOpt 1, 2, 3; 0 for anything else.
int32_t unsharpStrength(int32_t usmOpt);

// Sharpens the working image with strength k (0..100). Images narrower or lower than 5 pixels
// are left alone (8-bit ones stay 8-bit); others leave as 24-bit images. False when memory runs
// out; the image then keeps its pixels (possibly already expanded to 24 bits).
bool unsharpMask(WorkingImage& image, const UnsharpTables& tables, int32_t k);

}  // namespace velorin
