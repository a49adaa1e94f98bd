#include "formats/deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <memory>

namespace velorin {

namespace {

// Who compresses each of the levels 0..9: a libdeflate level, or 0 below for zlib itself (memory
// level 9, the filtered strategy for filtered rows). The rule: the fastest way to output no larger
// than zlib's own at that level. Measured on four 12-megapixel photographs (filtered rows, 36 MB;
// sizes in MB of the first, seconds on one loaded core):
//   level  zlib            chosen
//   1      13.61   0.44 s  libdeflate 1   12.57   0.20 s
//   2      13.30   0.43 s  libdeflate 1
//   3      12.92   0.72 s  libdeflate 2   12.18   0.35 s
//   4      11.63   1.10 s  zlib           (libdeflate 7, the first small enough, 1.30 s)
//   5      11.49   1.50 s  zlib           (libdeflate 8, 3.43 s)
//   6      11.37   2.81 s  zlib           (libdeflate 9, 5.34 s)
//   7      11.28   3.74 s  zlib           (libdeflate 10, 8.48 s)
//   8      11.12   7.55 s  libdeflate 10  10.76   8.48 s (smaller at about the same time)
//   9      11.05  13.41 s  libdeflate 10  10.76   8.48 s
// Levels 11 and 12 cost more time for under 1 % less.
constexpr int kZlib = -1;
constexpr int kCompressor[10] = {0, 1, 1, 2, kZlib, kZlib, kZlib, kZlib, 10, 10};

struct CompressorFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
struct DecompressorFree {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

DeflateResult compressWithLibdeflate(int level, const uint8_t* in, size_t n, PixelBuffer& out,
                                     size_t& compressed) {
  const std::unique_ptr<libdeflate_compressor, CompressorFree> c(libdeflate_alloc_compressor(level));
  if (!c) return DeflateResult::NoMemory;
  // Blocks stop below 2^32; data that large that does not fit fails to compress.
  const size_t room = std::min<uint64_t>(libdeflate_zlib_compress_bound(c.get(), n), kMaxBlockSize - 1);
  if (!out.allocate(room, false)) return DeflateResult::NoMemory;
  compressed = libdeflate_zlib_compress(c.get(), in, n, out.data(), room);
  return compressed ? DeflateResult::Ok : DeflateResult::Failed;
}

struct Deflater {
  z_stream stream{};
  bool started = false;
  ~Deflater() {
    if (started) deflateEnd(&stream);
  }
};

DeflateResult compressWithZlib(int level, bool filteredRows, const uint8_t* in, size_t n,
                               PixelBuffer& out, size_t& compressed) {
  Deflater deflater;
  z_stream& zs = deflater.stream;
  if (deflateInit2(&zs, level, Z_DEFLATED, 15, 9, filteredRows ? Z_FILTERED : Z_DEFAULT_STRATEGY) != Z_OK)
    return DeflateResult::Failed;
  deflater.started = true;
  const size_t room = std::min<uint64_t>(deflateBound(&zs, static_cast<uLong>(n)), kMaxBlockSize - 1);
  if (!out.allocate(room, false)) return DeflateResult::NoMemory;
  zs.next_in = const_cast<Bytef*>(in);
  zs.next_out = out.data();
  // One finishing call; only counts beyond zlib's 32 bits take more.
  int result = Z_OK;
  while (result == Z_OK) {
    const size_t inLeft = n - (zs.next_in - in), outLeft = room - (zs.next_out - out.data());
    zs.avail_in = static_cast<uInt>(std::min<size_t>(inLeft, UINT_MAX));
    zs.avail_out = static_cast<uInt>(std::min<size_t>(outLeft, UINT_MAX));
    if (zs.avail_out == 0) break;
    result = deflate(&zs, zs.avail_in == inLeft ? Z_FINISH : Z_NO_FLUSH);
  }
  if (result != Z_STREAM_END) return DeflateResult::Failed;
  compressed = zs.next_out - out.data();
  return DeflateResult::Ok;
}

// The decompressor is small and keeps no state between calls; one per thread saves setting it up
// for every ZIP member and PNG.
libdeflate_decompressor* threadDecompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> d(libdeflate_alloc_decompressor());
  return d.get();
}

}  // namespace

DeflateResult zlibCompress(int level, bool filteredRows, const uint8_t* in, size_t n,
                           PixelBuffer& out, size_t& compressed) {
  compressed = 0;
  level = std::clamp(level, 0, 9);
  return kCompressor[level] == kZlib ? compressWithZlib(level, filteredRows, in, n, out, compressed)
                                     : compressWithLibdeflate(kCompressor[level], in, n, out, compressed);
}

bool zlibInflateExact(const uint8_t* in, size_t n, uint8_t* out, size_t size) {
  libdeflate_decompressor* d = threadDecompressor();
  // No count of bytes produced: then anything but exactly `size` bytes is a failure.
  return d && libdeflate_zlib_decompress(d, in, n, out, size, nullptr) == LIBDEFLATE_SUCCESS;
}

bool rawInflateExact(const uint8_t* in, size_t n, uint8_t* out, size_t size) {
  libdeflate_decompressor* d = threadDecompressor();
  return d && libdeflate_deflate_decompress(d, in, n, out, size, nullptr) == LIBDEFLATE_SUCCESS;
}

}  // namespace velorin
