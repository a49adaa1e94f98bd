#include "imaging/image.h"

#include <cstring>

namespace velorin {

const char* statusText(Status status) {
  switch (status) {
    case Status::Ok: return "no error";
    case Status::NoMemory: return "out of memory";
    case Status::BadImage: return "invalid or unsupported image parameters";
    case Status::Truncated: return "input truncated or cannot be opened";
    case Status::CannotCreate: return "cannot create the output file";
    case Status::CannotWrite: return "cannot produce the requested output depth";
    case Status::NotFormat: return "not a file of this format";
    case Status::InflateError: return "compressed image data is damaged";
    case Status::DeflateError: return "compressing the image data failed";
    case Status::CrcError: return "chunk checksum mismatch";
    case Status::ChunkLength: return "chunk length too large";
    case Status::IhdrLength: return "header chunk has the wrong length";
    case Status::NoIhdr: return "header chunk missing";
    case Status::BadColourType: return "colour type not allowed with this bit depth";
    case Status::BadBitDepth: return "unsupported bit depth";
    case Status::BadCompression: return "unknown compression method";
    case Status::BadFilter: return "unknown filter method";
    case Status::BadInterlace: return "unknown interlace method";
    case Status::ChunkOrder: return "chunk repeated or out of order";
    case Status::MissingChunk: return "image ends before its required chunks";
    case Status::DataTooLarge: return "image data missing or too large";
  }
  return "unknown status";
}

uint64_t checkedBlockSize(int64_t a, int64_t b) {
  if (a < 0 || b < 0) return kMaxBlockSize;
  if (a == 0 || b == 0) return 0;
  const auto ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
  if (ua >= kMaxBlockSize || ub >= kMaxBlockSize) return kMaxBlockSize;
  const uint64_t product = ua * ub;  // both below 2^32: cannot wrap 64 bits
  return product >= kMaxBlockSize ? kMaxBlockSize : product;
}

namespace {
BlockAllocate largeAllocate = nullptr;
BlockRelease largeRelease = nullptr;
}  // namespace

void setLargeBlockAllocator(BlockAllocate allocate, BlockRelease release) {
  largeAllocate = allocate && release ? allocate : nullptr;
  largeRelease = allocate && release ? release : nullptr;
}

void* takeLargeBlock(size_t bytes) { return largeAllocate ? largeAllocate(bytes, false) : nullptr; }

void releaseLargeBlock(void* block, size_t bytes) {
  if (block && largeRelease) largeRelease(block, bytes);
}

bool PixelBuffer::allocate(uint64_t size, bool zeroFilled) {
  reset();
  if (size >= kMaxBlockSize) return false;
  const size_t bytes = static_cast<size_t>(size) + 4;
  uint8_t* p = nullptr;
  if (bytes >= kLargeBlockSize && largeAllocate) {
    p = static_cast<uint8_t*>(largeAllocate(bytes, zeroFilled));
    if (p) block_ = std::unique_ptr<uint8_t, BlockFree>(p, BlockFree{largeRelease, bytes});
  }
  if (!p) {
    p = static_cast<uint8_t*>(zeroFilled ? std::calloc(bytes, 1) : std::malloc(bytes));
    if (!p) return false;
    block_ = std::unique_ptr<uint8_t, BlockFree>(p, BlockFree{});
  }
  std::memset(p + size, 0, 4);
  size_ = static_cast<size_t>(size);
  return true;
}

void ImageRecord::setHeader(int32_t width, int32_t height, int bitCount, int32_t xPelsPerMeter,
                            int32_t yPelsPerMeter) {
  header = BitmapInfoHeader{};
  header.biWidth = width;
  header.biHeight = height;
  header.biBitCount = static_cast<uint16_t>(bitCount);
  header.biXPelsPerMeter = xPelsPerMeter < 0 ? 0 : xPelsPerMeter;
  header.biYPelsPerMeter = yPelsPerMeter < 0 ? 0 : yPelsPerMeter;
}

Status ImageRecord::allocatePixels(int32_t width, int32_t height, int bitCount,
                                   int32_t xPelsPerMeter, int32_t yPelsPerMeter, bool zeroFilled) {
  if (width < 1 || height < 1) return Status::BadImage;
  const uint64_t size = checkedBlockSize(static_cast<int64_t>(paddedStride(width, bitCount)), height);
  if (size >= kMaxBlockSize) return Status::BadImage;
  setHeader(width, height, bitCount, xPelsPerMeter, yPelsPerMeter);
  return pixels.allocate(size, zeroFilled) ? Status::Ok : Status::NoMemory;
}

void WorkingImage::resetSideInformation() {
  hasExif = false;
  exifOrientation = 1;
  hasExifDateTime = false;
  std::memset(exifDateTime, 0, sizeof exifDateTime);
  hasTransparency = false;
  transparentColour = {};
  iccProfile.clear();
}

void WorkingImage::takeWorkingValuesFromHeader() {
  workWidth = header.biWidth;
  workHeight = header.biHeight;
  workBitCount = header.biBitCount;
  workXPelsPerMeter = header.biXPelsPerMeter;
  workYPelsPerMeter = header.biYPelsPerMeter;
}

void WorkingImage::replacePixels(PixelBuffer&& block, int32_t width, int32_t height,
                                 int32_t bitCount) {
  pixels = std::move(block);
  workWidth = width;
  workHeight = height;
  workBitCount = bitCount;
}

}  // namespace velorin
