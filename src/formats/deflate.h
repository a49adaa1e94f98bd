// Whole-buffer deflate and inflate in one call each: the PNG writer's image data, the fast path of
// the PNG reader and the ZIP members. Streaming decoding of damaged or truncated data stays with
// zlib in the callers, which fall back to it whenever an inflate here returns false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "imaging/image.h"

namespace velorin {

enum class DeflateResult { Ok, NoMemory, Failed };

// Receives a compressed stream in consecutive parts, in order; a part is never empty.
using DeflateSink = std::function<void(const uint8_t* data, size_t size)>;

// Compresses n bytes as one zlib stream (15-bit window) at `level` 0..9, 0 storing, handing it
// to `sink` in one or more parts. `filteredRows` says the data are filtered image rows rather
// than palette indices. Large data at the slow levels are compressed in pieces on several
// threads; the output depends only on the data and the level, never on the machine.
DeflateResult zlibCompress(int level, bool filteredRows, const uint8_t* in, size_t n,
                           const DeflateSink& sink);

// The piecewise compression behind it, with libdeflate level `libdeflateLevel`, pieces of about
// `pieceBytes` and at most `threads` threads; exposed so that tests can use small pieces.
DeflateResult zlibCompressInPieces(int libdeflateLevel, const uint8_t* in, size_t n,
                                   size_t pieceBytes, int threads, const DeflateSink& sink);

// Inflates a zlib stream that must be complete, pass its checksum and yield exactly `size` bytes.
// False for anything else, with `out` in an unspecified state.
bool zlibInflateExact(const uint8_t* in, size_t n, uint8_t* out, size_t size);

// The same for raw deflate data (no header, no checksum), such as a ZIP member.
bool rawInflateExact(const uint8_t* in, size_t n, uint8_t* out, size_t size);

}  // namespace velorin
