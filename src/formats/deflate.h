// Whole-buffer deflate and inflate in one call each: the PNG writer's image data, the fast path of
// the PNG reader and the ZIP members. Streaming decoding of damaged or truncated data stays with
// zlib in the callers, which fall back to it whenever these return false.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velorin {

// The most bytes zlibCompress can produce for n input bytes at `level` (0..9).
size_t zlibCompressBound(int level, size_t n);

// Compresses n bytes as one zlib stream (15-bit window) at `level` 0..9, 0 storing, into `out` of
// `room` bytes. Returns the compressed size, or 0 when memory runs out or the room is too small.
size_t zlibCompress(int level, const uint8_t* in, size_t n, uint8_t* out, size_t room);

// Inflates a zlib stream that must be complete, pass its checksum and yield exactly `size` bytes.
// False for anything else, with `out` in an unspecified state.
bool zlibInflateExact(const uint8_t* in, size_t n, uint8_t* out, size_t size);

// The same for raw deflate data (no header, no checksum), such as a ZIP member.
bool rawInflateExact(const uint8_t* in, size_t n, uint8_t* out, size_t size);

}  // namespace velorin
