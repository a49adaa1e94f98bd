// Resizing: a two-pass resampler that reduces by exact area averaging and enlarges (at most to
// twice the size) by linear interpolation, the chain's resize step and the EXIF thumbnail.
//
// Reduction of a line of n pixels to m walks the source with a coverage counter in steps of one
// pixel; each time the counter reaches the ratio r = n / m an output pixel is complete, and the
// share of the boundary pixel that belongs to the next output is carried over. The weighted sum
// is divided through a byte table, never per pixel.
//
// Floating-point accumulation of the counter could in principle close an output pixel one source
// pixel early or late. A line never receives more than m pixels: the closing points are planned
// once per pass, at most m - 1 of them, and the last source pixel closes the last output. If the
// counter ever closed too few, the missing pixels repeat the last one that was closed; if it
// closed too many, the surplus stays in the last output (its table index is held at the top of
// the table). Neither has been seen (every line length up to 2000 was checked), but the bound
// holds regardless.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/image.h"

namespace velorin {

// 24-bit blue, green, red buffers, rows padded to 4 bytes; row 0 is simply the first in memory.
// The caller sets all four fields before every call.
struct Resampler {
  int32_t sourceWidth = 0;
  int32_t sourceHeight = 0;
  const uint8_t* sourcePixels = nullptr;
  uint8_t* destinationPixels = nullptr;  // allocated by the caller for the target size
};

// Writes the source resampled to newWidth x newHeight into the destination, the vertical pass
// first. Refuses (false) a side below 1 or above twice the source, a target equal to the source,
// and fails when memory for the plans and tables runs out. When both sides change, each row of
// the vertical pass goes through the horizontal pass at once.
bool resample(Resampler& resampler, int32_t newWidth, int32_t newHeight);

// Where the output pixels of a reduced line close: closeAt[j] is the source index that completes
// output j, carried[j] the share of that pixel that belongs to output j + 1. At most m - 1
// entries; the last source pixel always closes the last output. r is the ratio n / m (a
// parameter so that the completion rules can be tested with a disturbed ratio).
struct ReductionPlan {
  std::vector<int32_t> closeAt;
  std::vector<double> carried;
};
void planReduction(int32_t n, int32_t m, double r, ReductionPlan& plan);

// The division table T of a reduction by r: T[k] = round(k / r) for k = 0..L, T[L + 1] = 255,
// L = round(255 r).
std::vector<uint8_t> divisionTable(double r);

// The size the chain's resize step gives a width x height image. False when there is nothing to
// do (resize off, a size below 1, or a target not smaller than the driving side).
bool resizedSize(int32_t width, int32_t height, int32_t rszOpt, int32_t rszSize, bool round10,
                 int32_t& newWidth, int32_t& newHeight);

// The chain's resize step. Success without change when there is nothing to do (an 8-bit image
// then stays 8-bit); otherwise the image leaves as 24 bits. False when memory runs out or the
// resampler refuses; the image then keeps its size (possibly expanded to 24 bits).
bool resizeWorkingImage(WorkingImage& image, int32_t rszOpt, int32_t rszSize, bool round10);

// The working image reduced so that its longer side is 160 pixels, as a new 24-bit block (rows
// padded to 4 bytes); empty on any failure. The caller owns the block. Meant for images larger
// than 160 pixels in at least one direction.
PixelBuffer makeThumbnail(const WorkingImage& image, int32_t& thumbWidth, int32_t& thumbHeight);

}  // namespace velorin
