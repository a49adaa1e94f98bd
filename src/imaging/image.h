// The decoded image every reader produces and every processing step and writer consumes.
//
// Rows are bottom-up (the first row in memory is the bottom row of the picture), 8 bits (palette
// indices) or 24 bits (blue, green, red) per pixel, each row padded to a multiple of 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "imaging/file_time.h"

namespace velorin {

enum class Status : int32_t {
  Ok = 50000,
  NoMemory = 50001,
  BadImage = 50002,
  Truncated = 50004,
  CannotCreate = 50005,
  CannotWrite = 50006,
  NotFormat = 50007,
  InflateError = 50009,
  DeflateError = 50010,
  CrcError = 50011,
  ChunkLength = 50012,
  IhdrLength = 50013,
  NoIhdr = 50014,
  BadColourType = 50016,
  BadBitDepth = 50017,
  BadCompression = 50018,
  BadFilter = 50019,
  BadInterlace = 50020,
  ChunkOrder = 50022,
  MissingChunk = 50023,
  DataTooLarge = 50024,
};

// A short English reason for the headless mode and the logs.
const char* statusText(Status status);

// Pixel blocks are refused at this size: every offset into them must fit in 32 bits.
inline constexpr uint64_t kMaxBlockSize = uint64_t{1} << 32;

// a * b, or kMaxBlockSize when the product reaches 2^32 (or either factor is negative).
uint64_t checkedBlockSize(int64_t a, int64_t b);

// Row stride of 1..32 bits per pixel rows padded to 4 bytes, in 64 bits so it cannot wrap.
inline uint64_t paddedStride(int64_t width, int bitsPerPixel) {
  return ((static_cast<uint64_t>(width) * static_cast<uint64_t>(bitsPerPixel) + 31) / 32) * 4;
}

// Where pixel blocks of kLargeBlockSize bytes or more come from when the program installs an
// allocator (before any block is taken, never changed after): the first touch of a fresh block of
// tens of megabytes otherwise costs thousands of page faults, which the program can avoid with
// huge pages. The allocator returns a block (zero-filled when asked) or null; null falls back to
// the heap.
inline constexpr size_t kLargeBlockSize = size_t{4} << 20;
using BlockAllocate = void* (*)(size_t bytes, bool zeroFilled);
using BlockRelease = void (*)(void* block, size_t bytes);
void setLargeBlockAllocator(BlockAllocate allocate, BlockRelease release);
// A block of the installed allocator, not cleared, or null when there is none or it cannot
// deliver; given back with releaseLargeBlock and the same byte count. For the codec libraries'
// own large buffers.
void* takeLargeBlock(size_t bytes);
void releaseLargeBlock(void* block, size_t bytes);

// Frees a PixelBuffer's block where it came from.
struct BlockFree {
  BlockRelease release = nullptr;  // null: the block came from the heap
  size_t bytes = 0;
  void operator()(uint8_t* p) const {
    if (release) release(p, bytes);
    else std::free(p);
  }
};

// A zero-filled block of size + 4 bytes that frees itself. The 4 spare bytes let row loops read
// a whole 32-bit word at the end of the last row.
class PixelBuffer {
 public:
  PixelBuffer() = default;
  // Replaces the block; false (and empty) when size reaches 2^32 or memory runs out.
  // A caller that writes every byte of the block itself may skip the zero fill (the spare bytes
  // are zero either way).
  bool allocate(uint64_t size, bool zeroFilled = true);
  void reset() { block_.reset(); size_ = 0; }
  uint8_t* data() { return block_.get(); }
  const uint8_t* data() const { return block_.get(); }
  // The usable size, without the 4 spare bytes.
  size_t size() const { return size_; }
  explicit operator bool() const { return block_ != nullptr; }

 private:
  std::unique_ptr<uint8_t, BlockFree> block_;
  size_t size_ = 0;
};

struct BitmapInfoHeader {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};

struct RgbQuad {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t reserved = 0;
  bool operator==(const RgbQuad&) const = default;
};

// Which reader produced a record; the same numbers as the file-type detector.
enum SourceFormat : int32_t {
  kFormatPlugin = 0,
  kFormatBmp = 1,
  kFormatPng = 2,
  kFormatJpeg = 3,
  kFormatTiff = 4,
  kFormatGif = 5,
};

struct ImageRecord {
  BitmapInfoHeader header;
  RgbQuad palette[256] = {};
  int32_t sourceFormat = 0;
  PixelBuffer pixels;
  uint32_t sourceFileSize = 0;
  uint32_t sourceBitCount = 0;
  FileTime sourceFileTime = 0;

  // Sets the header of a fresh 8- or 24-bit image; negative resolutions become 0.
  void setHeader(int32_t width, int32_t height, int bitCount, int32_t xPelsPerMeter,
                 int32_t yPelsPerMeter);
  // Sets the header and allocates the pixel block (zero-filled unless the reader writes every
  // byte itself); BadImage when stride x height reaches 2^32, NoMemory when the allocation fails.
  Status allocatePixels(int32_t width, int32_t height, int bitCount, int32_t xPelsPerMeter = 0,
                        int32_t yPelsPerMeter = 0, bool zeroFilled = true);
};

struct RgbColour {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  bool operator==(const RgbColour&) const = default;
};

// The record being converted plus the working values the processing steps change and the facts
// the loader found out about the source.
struct WorkingImage : ImageRecord {
  int32_t workWidth = 0;
  int32_t workHeight = 0;
  int32_t workBitCount = 0;
  int32_t workXPelsPerMeter = 0;
  int32_t workYPelsPerMeter = 0;
  bool hasTransparency = false;
  RgbColour transparentColour;
  int32_t exifOrientation = 1;
  bool hasExif = false;
  bool hasExifDateTime = false;
  char exifDateTime[20] = {};
  // The source's ICC profile as its reader found it (whole and checked); empty: none.
  std::vector<uint8_t> iccProfile;

  // Clears the side information before every load.
  void resetSideInformation();
  // Copies size, depth and resolution from the header after a successful load.
  void takeWorkingValuesFromHeader();
  // Replaces the pixel block and the working size and depth (rotation, resize, sharpening).
  void replacePixels(PixelBuffer&& block, int32_t width, int32_t height, int32_t bitCount);
  uint64_t workStride() const { return paddedStride(workWidth, workBitCount); }
};

}  // namespace velorin
