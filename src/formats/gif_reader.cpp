#include "formats/gif_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace velorin {

namespace {

constexpr uint32_t kMaxCodes = 4096;
constexpr size_t kTableBytes = 768;

// One dictionary entry. The prefix link and the length let a string be written backwards from
// its last byte straight into place; the first byte is kept so that a new entry needs no walk.
struct DecoderEntry {
  uint16_t prefix;
  uint8_t last;
  uint8_t first;
  uint32_t length;  // 32 bits: hostile streams can chain entries far past 4096
};

// LZW codes, least significant bit first.
class CodeReader {
 public:
  CodeReader(const uint8_t* data, size_t size) : data_(data), end_(data + size) {}
  bool next(int codeSize, uint32_t& code) {
    while (count_ < codeSize) {
      if (data_ == end_) return false;
      bits_ |= uint64_t{*data_++} << count_;
      count_ += 8;
    }
    code = static_cast<uint32_t>(bits_) & ((1u << codeSize) - 1);
    bits_ >>= codeSize;
    count_ -= codeSize;
    return true;
  }

 private:
  const uint8_t* data_;
  const uint8_t* end_;
  uint64_t bits_ = 0;
  int count_ = 0;
};

bool fail(GifReader& r, Status status) {
  r.status = status;
  return false;
}

void clearFacts(GifReader& r) {
  r.hasTransparency = false;
  r.transparentIndex = -1;
  r.screenWidth = r.screenHeight = 0;
  r.colourBits = 0;
  r.hasGlobalTable = false;
  r.backgroundIndex = 0;
  r.imageLeft = r.imageTop = r.imageWidth = r.imageHeight = 0;
  r.interlaced = r.hasLocalTable = false;
  r.transparencySeen = 0;
}

// Follows sub-block size bytes up to and past the zero size. False when a block, or the input,
// ends first.
bool skipSubBlocks(const uint8_t*& p, const uint8_t* end) {
  for (;;) {
    if (p >= end) return false;
    const size_t size = *p++;
    if (size == 0) return true;
    if (size > static_cast<size_t>(end - p)) return false;
    p += size;
  }
}

// Joins the image data sub-blocks into one buffer sized to the data. An input that ends where a
// size byte should be ends the data (cutShort is then set); a block running past the input is
// refused.
Status gatherData(const uint8_t*& p, const uint8_t* end, PixelBuffer& gathered, bool& cutShort) {
  uint64_t total = 0;
  cutShort = true;
  for (const uint8_t* q = p; q < end;) {
    const size_t size = *q++;
    if (size == 0) {
      if (total == 0) return Status::NotFormat;
      cutShort = false;
      break;
    }
    if (size > static_cast<size_t>(end - q)) return Status::NotFormat;
    total += size;
    q += size;
  }
  if (total == 0) return Status::NotFormat;
  if (!gathered.allocate(total)) return Status::NoMemory;
  uint8_t* out = gathered.data();
  while (p < end) {
    const size_t size = *p++;
    if (size == 0) break;
    std::memcpy(out, p, size);
    out += size;
    p += size;
  }
  return Status::Ok;
}

// Picture row -> decoded row of an interlaced image (passes of step 8, 8, 4, 2).
uint32_t interlacedSourceRow(uint32_t row, uint32_t height) {
  const uint32_t pass2 = (height + 7) / 8;
  const uint32_t pass3 = pass2 + (height + 3) / 8;
  const uint32_t pass4 = pass3 + (height + 1) / 4;
  if (row % 8 == 0) return row / 8;
  if (row % 8 == 4) return row / 8 + pass2;
  if (row % 4 == 2) return row / 4 + pass3;
  return row / 2 + pass4;
}

void placeOnScreen(const GifReader& r, const uint8_t* decoded, ImageRecord& record) {
  const size_t stride = static_cast<size_t>(paddedStride(r.screenWidth, 8));
  uint8_t* pixels = record.pixels.data();
  std::memset(pixels, r.backgroundIndex, record.pixels.size());
  for (uint32_t y = 0; y < r.imageHeight; ++y) {
    const uint32_t source = r.interlaced ? interlacedSourceRow(y, r.imageHeight) : y;
    const size_t screenRow = static_cast<size_t>(r.screenHeight) - 1 - (r.imageTop + y);
    std::memcpy(pixels + screenRow * stride + r.imageLeft,
                decoded + static_cast<size_t>(source) * r.imageWidth, r.imageWidth);
  }
}

}  // namespace

bool gifSizesPlausible(uint64_t screenPixels, uint64_t imagePixels, uint64_t dataBytes) {
  // An LZW code of at least 3 bits stands for at most 4096 pixels, so a byte of data describes at
  // most 10923 of them. Large sizes (over 16 megapixels) must be within 64 times what the data
  // can describe: the image against its data, the screen against the part of it the image covers.
  constexpr uint64_t kLarge = uint64_t{1} << 24;
  constexpr uint64_t kMargin = 64;
  const uint64_t describable = dataBytes * 10923;
  if (imagePixels > kLarge && imagePixels > kMargin * describable) return false;
  const uint64_t covered = imagePixels < describable ? imagePixels : describable;
  return screenPixels <= kLarge || screenPixels <= kMargin * covered;
}

namespace {

bool decodeImage(GifReader& r, const uint8_t* p, uint8_t* globalTable) {
  const uint8_t* end = r.dataEnd;
  if (end - p < 10) return fail(r, Status::NotFormat);
  r.imageLeft = loadLe16(p + 1);
  r.imageTop = loadLe16(p + 3);
  r.imageWidth = loadLe16(p + 5);
  r.imageHeight = loadLe16(p + 7);
  const uint8_t packed = p[9];
  p += 10;
  if (r.imageLeft + r.imageWidth > r.screenWidth || r.imageTop + r.imageHeight > r.screenHeight)
    return fail(r, Status::NotFormat);
  r.interlaced = (packed & 0x40) != 0;
  r.hasLocalTable = (packed & 0x80) != 0;

  std::unique_ptr<uint8_t[]> localTable;
  uint8_t* table = globalTable;
  if (r.hasLocalTable) {
    const size_t bytes = size_t{3} << ((packed & 7) + 1);
    if (bytes > static_cast<size_t>(end - p)) return fail(r, Status::NotFormat);
    localTable.reset(new (std::nothrow) uint8_t[kTableBytes]());
    if (!localTable) return fail(r, Status::NoMemory);
    std::memcpy(localTable.get(), p, bytes);
    p += bytes;
    table = localTable.get();
    r.colourBits = (packed & 7) + 1;
  }
  if (!table) return fail(r, Status::NotFormat);

  const uint64_t imageSize = uint64_t{r.imageWidth} * r.imageHeight;
  if (end - p < 2) return fail(r, Status::NotFormat);
  const int minimumCodeSize = *p++;
  if (minimumCodeSize < 2 || minimumCodeSize > 8) return fail(r, Status::NotFormat);
  PixelBuffer gathered;
  bool cutShort = false;
  const Status gatherStatus = gatherData(p, end, gathered, cutShort);
  if (gatherStatus != Status::Ok) return fail(r, gatherStatus);
  if (!gifSizesPlausible(uint64_t{r.screenWidth} * r.screenHeight, imageSize, gathered.size()))
    return fail(r, Status::BadImage);
  PixelBuffer decoded;
  if (!decoded.allocate(imageSize)) return fail(r, Status::NoMemory);
  const int64_t stored = decodeGifLzw(gathered.data(), gathered.size(), minimumCodeSize,
                                      decoded.data(), decoded.size());
  if (stored < 0) return fail(r, Status::NoMemory);
  gathered.reset();
  // The picture still converts (the pixels never reached keep index 0), but its source is damaged.
  if (static_cast<uint64_t>(stored) < imageSize) r.damage = "the image data end before the picture does";
  else if (cutShort) r.damage = "the file ends inside the image data";

  ImageRecord& record = *r.image;
  const Status status = record.allocatePixels(r.screenWidth, r.screenHeight, 8);
  if (status != Status::Ok) return fail(r, status);
  placeOnScreen(r, decoded.data(), record);

  // The transparent entry takes the background colour, so that a viewer without transparency
  // shows the background there. The table buffers hold 256 entries, so any index is in range.
  if (r.hasTransparency) {
    RgbColour background = r.defaultBackground;
    if (r.preferFileBackground && globalTable) {
      const uint8_t* entry = globalTable + 3 * r.backgroundIndex;
      background = {entry[0], entry[1], entry[2]};
    }
    uint8_t* entry = table + 3 * r.transparentIndex;
    entry[0] = background.red;
    entry[1] = background.green;
    entry[2] = background.blue;
  }
  for (int i = 0; i < 256; ++i)
    record.palette[i] = {table[3 * i + 2], table[3 * i + 1], table[3 * i], 0};
  record.sourceBitCount = static_cast<uint32_t>(r.colourBits);
  record.sourceFormat = kFormatGif;
  return true;
}

bool decodeGif(GifReader& r) {
  clearFacts(r);
  const uint8_t* d = r.dataStart;
  if (r.length() < 13 || std::memcmp(d, "GIF", 3) != 0 ||
      (std::memcmp(d + 3, "87a", 3) != 0 && std::memcmp(d + 3, "89a", 3) != 0))
    return fail(r, Status::NotFormat);
  r.screenWidth = loadLe16(d + 6);
  r.screenHeight = loadLe16(d + 8);
  if (r.screenWidth == 0 || r.screenHeight == 0) return fail(r, Status::BadImage);
  const uint8_t packed = d[10];
  const uint8_t* p = d + 13;
  const uint8_t* end = r.dataEnd;

  std::unique_ptr<uint8_t[]> globalTable;
  if (packed & 0x80) {
    r.hasGlobalTable = true;
    r.colourBits = (packed & 7) + 1;
    r.backgroundIndex = d[11];
    const size_t bytes = size_t{3} << ((packed & 7) + 1);
    if (bytes > static_cast<size_t>(end - p)) return fail(r, Status::NotFormat);
    globalTable.reset(new (std::nothrow) uint8_t[kTableBytes]());
    if (!globalTable) return fail(r, Status::NoMemory);
    std::memcpy(globalTable.get(), p, bytes);
    p += bytes;
  }

  for (;;) {
    if (p >= end) return fail(r, Status::NotFormat);
    const uint8_t introducer = *p;
    if (introducer == 0x2C) return decodeImage(r, p, globalTable.get());
    if (introducer == 0x3B) return fail(r, Status::NotFormat);
    if (introducer != 0x21) return fail(r, Status::Truncated);
    if (end - p < 2) return fail(r, Status::NotFormat);
    const uint8_t label = p[1];
    if (label == 0xF9) {
      if (end - p < 8) return fail(r, Status::NotFormat);
      // The last graphic control extension before the image is the one that applies to it.
      r.hasTransparency = (p[3] & 1) != 0;
      r.transparentIndex = r.hasTransparency ? p[6] : -1;
      r.transparencySeen += p[3] & 1;
      p += 8;
    } else if (label == 0xFE || label == 0x01 || label == 0xFF) {
      // The fixed headers of the plain-text and application extensions are sized like a
      // sub-block, so one walk skips header and data alike.
      p += 2;
      if (!skipSubBlocks(p, end)) return fail(r, Status::NotFormat);
    } else {
      return fail(r, Status::Truncated);
    }
  }
}

}  // namespace

int64_t decodeGifLzw(const uint8_t* data, size_t size, int minimumCodeSize, uint8_t* output,
                     size_t outputSize) {
  if (minimumCodeSize < 2 || minimumCodeSize > 8) return 0;
  std::unique_ptr<DecoderEntry[]> dictionary(new (std::nothrow) DecoderEntry[kMaxCodes]);
  if (!dictionary) return -1;
  DecoderEntry* entries = dictionary.get();
  // Every code starts as a one-byte string, so that even a code a damaged stream uses before
  // defining it names a harmless string.
  for (uint32_t code = 0; code < kMaxCodes; ++code)
    entries[code] = {static_cast<uint16_t>(code), static_cast<uint8_t>(code),
                     static_cast<uint8_t>(code), 1};

  const uint32_t clear = 1u << minimumCodeSize;
  const uint32_t endCode = clear + 1;
  int codeSize = minimumCodeSize + 1;
  uint32_t nextFree = clear + 2;
  uint32_t previous = 0;
  bool expectFirst = true;
  size_t stored = 0;
  CodeReader reader(data, size);
  uint32_t code = 0;

  while (stored < outputSize && reader.next(codeSize, code)) {
    if (code == endCode) break;
    if (code == clear) {
      codeSize = minimumCodeSize + 1;
      nextFree = clear + 2;
      expectFirst = true;
      continue;
    }
    if (expectFirst) {
      output[stored++] = static_cast<uint8_t>(code);
      previous = code;
      expectFirst = false;
      continue;
    }
    // The string to store: the code's own, or for a code not yet in the table the previous
    // string followed by its own first byte, which is the entry about to be added.
    const bool known = code < nextFree;
    const uint8_t firstByte = entries[known ? code : previous].first;
    uint32_t current = code;
    if (nextFree < kMaxCodes) {
      entries[nextFree] = {static_cast<uint16_t>(previous), firstByte, entries[previous].first,
                           entries[previous].length + 1};
      if (!known) current = nextFree;
      ++nextFree;
      if (codeSize < 12 && nextFree > (1u << codeSize) - 1) ++codeSize;
    }
    // With a full table an unknown code cannot occur: every 12-bit code is below 4096.
    const uint32_t length = entries[current].length;
    const size_t room = outputSize - stored;
    uint32_t walk = current;
    size_t write = length;
    if (length > room) {
      // Only the string's head fits: skip its tail, then stop decoding.
      for (uint32_t skip = length - static_cast<uint32_t>(room); skip > 0; --skip)
        walk = entries[walk].prefix;
      write = room;
    }
    uint8_t* out = output + stored + write;
    for (size_t i = 0; i < write; ++i) {
      *--out = entries[walk].last;
      walk = entries[walk].prefix;
    }
    stored += write;
    previous = current;
  }
  return static_cast<int64_t>(stored);
}

bool readGifFile(GifReader& reader, const std::filesystem::path& path, ImageRecord& record) {
  return readFromFile(reader, path, record, decodeGif);
}

bool readGifMemory(GifReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record) {
  return readFromMemory(reader, bytes, length, record, decodeGif);
}

}  // namespace velorin
