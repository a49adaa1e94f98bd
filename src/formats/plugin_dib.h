// The device-independent bitmap an image plug-in returns, turned into an ImageRecord.
//
// The plug-in's info block holds a 40-byte (or larger) bitmap info header and, for 1, 4 and 8
// bits per pixel, the palette after it; its bits block holds bottom-up rows padded to 4 bytes.
// Both come from outside the program and are checked before use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/image.h"

namespace velorin {

// Fills record (header, palette, pixels) from the plug-in's blocks. 1- and 4-bit rows become
// one byte per pixel; 8- and 24-bit rows are copied. sourceBitCount becomes pictureDepth when
// that is not 0, else the header's bit count; sourceFormat becomes 0.
// Failures: BadImage for a header that is short, compressed, of a size that is not positive,
// or of a depth other than 1, 4, 8, 24; Truncated when rows are missing; NoMemory.
// The record's pixel block is released on failure.
Status convertPluginDib(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize,
                        uint16_t pictureDepth, ImageRecord& record);

}  // namespace velorin
