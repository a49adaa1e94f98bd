// Whole-buffer deflate and inflate in one call each: the PNG writer's image data, the fast path of
// the PNG reader and the ZIP members. Streaming decoding of damaged or truncated data stays with
// zlib in the callers, which fall back to it whenever an inflate here returns false.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/image.h"

namespace velorin {

enum class DeflateResult { Ok, NoMemory, Failed };

// Compresses n bytes as one zlib stream (15-bit window) at `level` 0..9, 0 storing, into `out`,
// which it allocates for the worst case; `compressed` is the stream's length. `filteredRows`
// says the data are filtered image rows rather than palette indices.
DeflateResult zlibCompress(int level, bool filteredRows, const uint8_t* in, size_t n,
                           PixelBuffer& out, size_t& compressed);

// Inflates a zlib stream that must be complete, pass its checksum and yield exactly `size` bytes.
// False for anything else, with `out` in an unspecified state.
bool zlibInflateExact(const uint8_t* in, size_t n, uint8_t* out, size_t size);

// The same for raw deflate data (no header, no checksum), such as a ZIP member.
bool rawInflateExact(const uint8_t* in, size_t n, uint8_t* out, size_t size);

}  // namespace velorin
