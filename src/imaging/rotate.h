// Quarter and half turns of the working image, moving whole pixels into a new block.
#pragma once

#include <cstdint>

#include "imaging/image.h"

namespace velorin {

enum class RotationKind : int32_t {
  None = 0,
  Clockwise = 1,         // quarter turn clockwise
  HalfTurn = 2,
  CounterClockwise = 3,  // quarter turn counter-clockwise
};

// The turn TurOpt asks for; TurOpt 4 follows the EXIF orientation (6, 3, 8). Mirrored
// orientations and unknown values give no turn.
RotationKind rotationKindOf(int32_t turOpt, int32_t exifOrientation);

// Turns the 8- or 24-bit working image into a new block; the depth, palette and transparency
// stay. Nothing is written into the row padding of the new block. False (image unchanged) when
// the new block would reach 2^32 bytes, memory runs out or the depth is neither 8 nor 24.
bool rotateWorkingImage(WorkingImage& image, RotationKind kind);

}  // namespace velorin
