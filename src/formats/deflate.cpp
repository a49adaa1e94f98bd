#include "formats/deflate.h"

#include "imaging/stop_flag.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace velorin {

namespace {

// Who compresses each of the levels 0..9: a libdeflate level, or zlib itself (kZlib; memory level
// 9, the filtered strategy for filtered rows; no level uses it now). The rule: the fastest way to
// output no larger than zlib's own at that level. Measured on four 12-megapixel photographs
// (filtered rows, 36 MB; sizes in MB of the first, libdeflate in 16 pieces; seconds of CPU on
// one core of a loaded machine):
//   level  zlib            chosen
//   1      13.61   0.44 s  libdeflate 1   12.57   0.20 s
//   2      13.30   0.43 s  libdeflate 1
//   3      12.92   0.72 s  libdeflate 2   12.18   0.35 s
//   4      11.63   1.10 s  libdeflate 7   11.53   1.34 s (libdeflate 6 writes 11.65)
//   5      11.49   1.50 s  libdeflate 8   11.37   3.23 s (libdeflate 7 writes 11.53)
//   6      11.37   2.81 s  libdeflate 9   11.32   4.80 s (libdeflate 8 is within 0.02 %)
//   7      11.28   3.74 s  libdeflate 10  10.73   5.67 s
//   8      11.12   7.55 s  libdeflate 10
//   9      11.05  13.41 s  libdeflate 10
// From level 4 on large data are compressed in pieces on up to four threads, so on two cores
// every level takes less time than zlib's. Levels 11 and 12 cost 30-70 % more time for 1-2 % less.
constexpr int kZlib = -1;
constexpr int kCompressor[10] = {0, 1, 1, 2, 7, 8, 9, 10, 10, 10};

// Piecewise compression: from this libdeflate level (where compressing costs several times the
// inflate that joining a piece takes), for data of at least kPiecesFrom bytes, in at most
// kMaxPieces pieces of at least kMinPiece bytes. Each piece starts with an empty window, which
// costs under 100 bytes per piece on photographs.
constexpr int kPiecesLevel = 6;
constexpr size_t kPiecesFrom = size_t{4} << 20;
constexpr size_t kMinPiece = size_t{2} << 20;
constexpr size_t kMaxPieces = 16;
constexpr int kMaxThreads = 4;

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

// A piece's buffer: room for the zlib header before the raw deflate data, and after it for the
// empty stored block that joins it to the next piece (5 bytes) or for the checksum (4).
constexpr size_t kPieceHead = 2, kPieceTail = 5;

struct Piece {
  PixelBuffer out;
  size_t size = 0;  // of the raw deflate data, from kPieceHead on
  bool done = false;
};

struct Inflater {
  z_stream stream{};
  bool started = false;
  ~Inflater() {
    if (started) inflateEnd(&stream);
  }
};

// Makes a complete raw deflate stream one that another can follow: the final-block bit of its
// last block is cleared, and an empty stored block after it (what a zlib full flush writes)
// brings the end to a byte boundary. zlib's inflate, stopped at every block's end, tells where
// the last block starts and where it ends. `data` has 5 bytes of room after `size`; returns the
// new size, 0 if the data do not inflate.
size_t openForNextPiece(uint8_t* data, size_t size) {
  Inflater inflater;
  z_stream& zs = inflater.stream;
  if (inflateInit2(&zs, -15) != Z_OK) return 0;
  inflater.started = true;
  constexpr size_t kSink = 1 << 16;  // the output is not wanted; inflate keeps its own window
  const std::unique_ptr<uint8_t[]> sink(new (std::nothrow) uint8_t[kSink]);
  if (!sink || size > UINT_MAX) return 0;
  zs.next_in = data;
  zs.avail_in = static_cast<uInt>(size);
  uint64_t lastHeader = 0;  // in bits; the first block starts at 0
  for (;;) {
    zs.next_out = sink.get();
    zs.avail_out = kSink;
    if (inflate(&zs, Z_BLOCK) != Z_OK) return 0;
    if (!(zs.data_type & 128)) continue;
    // At a block boundary: data_type's low bits are those of the last byte taken not used yet.
    const uint64_t bit = static_cast<uint64_t>(zs.next_in - data) * 8 - (zs.data_type & 63);
    if (!(zs.data_type & 64)) {
      lastHeader = bit;
      continue;
    }
    data[lastHeader >> 3] &= static_cast<uint8_t>(~(1u << (lastHeader & 7)));
    size_t length = static_cast<size_t>((bit + 7) >> 3);
    if (bit & 7) data[length - 1] &= static_cast<uint8_t>((1u << (bit & 7)) - 1);
    // Three header bits (not final, stored), then to the byte boundary, LEN 0 and its complement.
    if (length * 8 - bit < 3) data[length++] = 0;
    static const uint8_t kEmpty[4] = {0x00, 0x00, 0xFF, 0xFF};
    std::memcpy(data + length, kEmpty, 4);
    return length + 4;
  }
}

DeflateResult compressPiece(libdeflate_compressor* c, const uint8_t* in, size_t n, bool last,
                            Piece& piece) {
  const size_t bound = libdeflate_deflate_compress_bound(c, n);
  if (!piece.out.allocate(kPieceHead + bound + kPieceTail, false)) return DeflateResult::NoMemory;
  uint8_t* data = piece.out.data() + kPieceHead;
  piece.size = libdeflate_deflate_compress(c, in, n, data, bound);
  if (piece.size && !last) piece.size = openForNextPiece(data, piece.size);
  return piece.size ? DeflateResult::Ok : DeflateResult::Failed;
}

// The decompressor is small and keeps no state between calls; one per thread saves setting it up
// for every ZIP member and PNG.
libdeflate_decompressor* threadDecompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> d(libdeflate_alloc_decompressor());
  return d.get();
}

}  // namespace

DeflateResult zlibCompress(int level, bool filteredRows, const uint8_t* in, size_t n,
                           const DeflateSink& sink) {
  level = std::clamp(level, 0, 9);
  const int compressor = kCompressor[level];
  if (compressor >= kPiecesLevel && n >= kPiecesFrom) {
    const size_t pieceBytes = std::max(kMinPiece, (n + kMaxPieces - 1) / kMaxPieces);
    // The near-optimal levels take about 9 MB per compressor: no more of them than half the
    // data's size, so that the writer stays within about twice its filtered data.
    const size_t compressorBytes = compressor >= 10 ? size_t{9} << 20 : size_t{1} << 20;
    const size_t byMemory = std::max<size_t>(1, n / (2 * compressorBytes));
    const int threads = static_cast<int>(std::min<size_t>(
        {std::max(1u, std::thread::hardware_concurrency()), static_cast<size_t>(kMaxThreads), byMemory}));
    return zlibCompressInPieces(compressor, in, n, pieceBytes, threads, sink);
  }
  PixelBuffer out;
  size_t compressed = 0;
  const DeflateResult result = compressor == kZlib
                                   ? compressWithZlib(level, filteredRows, in, n, out, compressed)
                                   : compressWithLibdeflate(compressor, in, n, out, compressed);
  if (result == DeflateResult::Ok) sink(out.data(), compressed);
  return result;
}

DeflateResult zlibCompressInPieces(int libdeflateLevel, const uint8_t* in, size_t n,
                                   size_t pieceBytes, int threads, const DeflateSink& sink) {
  const size_t count = std::max<size_t>(1, (n + pieceBytes - 1) / std::max<size_t>(pieceBytes, 1));
  const size_t length = (n + count - 1) / count;
  std::vector<Piece> pieces(count);
  std::mutex mutex;
  std::condition_variable changed;
  size_t next = 0, emitted = 0;
  // Pieces compressed ahead of the one being written: enough to keep every thread busy, few
  // enough that the finished ones waiting stay small beside the data.
  size_t window = 2 * static_cast<size_t>(std::max(threads, 1));
  DeflateResult failure = DeflateResult::Ok;

  const auto work = [&] {
    const std::unique_ptr<libdeflate_compressor, CompressorFree> c(
        libdeflate_alloc_compressor(libdeflateLevel));
    for (;;) {
      size_t k;
      {
        std::unique_lock lock(mutex);
        if (!c && failure == DeflateResult::Ok) failure = DeflateResult::NoMemory;
        if (conversionStopRequested() && failure == DeflateResult::Ok) failure = DeflateResult::Failed;
        changed.wait(lock, [&] { return failure != DeflateResult::Ok || next >= count || next < emitted + window; });
        if (failure != DeflateResult::Ok || next >= count) {
          changed.notify_all();  // a failure set here must wake the writer too
          return;
        }
        k = next++;
      }
      const size_t start = k * length;
      Piece piece;
      const DeflateResult result =
          compressPiece(c.get(), in + start, std::min(length, n - start), k + 1 == count, piece);
      const std::lock_guard lock(mutex);
      pieces[k] = std::move(piece);
      pieces[k].done = true;
      if (result != DeflateResult::Ok && failure == DeflateResult::Ok) failure = result;
      changed.notify_all();
    }
  };

  std::vector<std::thread> workers;
  try {
    for (int t = 0; t < std::max(threads, 1); ++t) workers.emplace_back(work);
  } catch (const std::system_error&) {
    // Fewer threads than asked; none at all, and this one does every piece before writing.
  }
  if (workers.empty()) {
    window = count;
    work();
  }
  const uint32_t adler = libdeflate_adler32(1, in, n);

  for (size_t k = 0; k < count; ++k) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return pieces[k].done || failure != DeflateResult::Ok; });
    if (failure != DeflateResult::Ok) break;
    Piece piece = std::move(pieces[k]);
    lock.unlock();
    uint8_t* data = piece.out.data();
    size_t from = kPieceHead, to = kPieceHead + piece.size;
    if (k == 0) {
      // The zlib header: 32 K window, no dictionary, "slowest" as the level hint.
      data[0] = 0x78;
      data[1] = 0xDA;
      from = 0;
    }
    if (k + 1 == count) {
      for (int shift = 24; shift >= 0; shift -= 8) data[to++] = static_cast<uint8_t>(adler >> shift);
    }
    sink(data + from, to - from);
    lock.lock();
    emitted = k + 1;
    changed.notify_all();
  }
  for (std::thread& worker : workers) worker.join();
  return failure;
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
