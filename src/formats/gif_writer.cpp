#include "formats/gif_writer.h"
#include "formats/output_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace velorin {

namespace {

constexpr uint32_t kMaxCodes = 4096;
constexpr int kBuckets = 511;  // sums of two bytes: 0..510
constexpr uint16_t kNoEntry = 0;  // codes below clear + 2 never enter a bucket

// A string of the dictionary is its prefix's code plus its last byte; since every string is
// entered once, comparing those two compares the whole string.
struct EncoderEntry {
  uint32_t key;  // prefix code << 8 | last byte
  uint16_t next;  // the next entry of the same bucket
};

class CodeWriter {
 public:
  explicit CodeWriter(uint8_t* output) : start_(output), out_(output) {}
  void put(uint32_t code, int codeSize) {
    bits_ |= uint64_t{code} << count_;
    count_ += codeSize;
    while (count_ >= 8) {
      *out_++ = static_cast<uint8_t>(bits_);
      bits_ >>= 8;
      count_ -= 8;
    }
  }
  // The whole bytes are out already; one more byte carries what is left (zero when nothing is).
  size_t finish() {
    *out_++ = static_cast<uint8_t>(bits_);
    bits_ = 0;
    count_ = 0;
    return static_cast<size_t>(out_ - start_);
  }

 private:
  uint8_t* start_;
  uint8_t* out_;
  uint64_t bits_ = 0;
  int count_ = 0;
};

void storeLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// The first exact match, else the nearest entry by squared distance (the first on a tie).
int findTransparentIndex(const RgbQuad* palette, int entries, RgbColour colour) {
  int best = 0;
  int64_t bestDistance = INT64_MAX;
  for (int i = 0; i < entries; ++i) {
    const int64_t red = palette[i].red - colour.red;
    const int64_t green = palette[i].green - colour.green;
    const int64_t blue = palette[i].blue - colour.blue;
    const int64_t distance = red * red + green * green + blue * blue;
    if (distance == 0) return i;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}

// Index rows bottom-up (as the converter gives them) to the file's row order: top first, and
// for an interlaced file the rows of pass 1 (every 8th from 0), 2 (every 8th from 4), 3 (every
// 4th from 2) and 4 (every 2nd from 1).
void orderRows(const uint8_t* bottomUp, int32_t width, int32_t height, bool interlace,
               int bits, uint8_t* out) {
  const size_t rowBytes = static_cast<size_t>(width);
  auto copyRow = [&](int32_t pictureRow) {
    std::memcpy(out, bottomUp + static_cast<size_t>(height - 1 - pictureRow) * rowBytes, rowBytes);
    out += rowBytes;
  };
  if (!interlace) {
    for (int32_t y = 0; y < height; ++y) copyRow(y);
  } else {
    static const int kStart[4] = {0, 4, 2, 1};
    static const int kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int32_t y = kStart[pass]; y < height; y += kStep[pass]) copyRow(y);
  }
  // An index the table does not have would read as a clear or end code: keep it in range.
  if (bits < 8) {
    const uint8_t mask = static_cast<uint8_t>((1 << bits) - 1);
    out -= rowBytes * static_cast<size_t>(height);
    for (size_t i = 0; i < rowBytes * static_cast<size_t>(height); ++i) out[i] &= mask;
  }
}

bool finish(GifWriter& w, OutputFile& file) {
  if (closeOutputFile(file)) return true;
  w.status = Status::CannotWrite;
  return false;
}

}  // namespace

size_t gifLzwBound(size_t pixelCount) {
  // At most one code per pixel, a clear code per 3838 entries, and a handful more; 12 bits each.
  return pixelCount + pixelCount / 2 + pixelCount / 2048 + 16;
}

size_t encodeGifLzw(const uint8_t* pixels, size_t pixelCount, int minimumCodeSize,
                    uint8_t* output) {
  if (pixelCount == 0 || minimumCodeSize < 2 || minimumCodeSize > 8) return 0;
  std::unique_ptr<EncoderEntry[]> dictionary(new (std::nothrow) EncoderEntry[kMaxCodes]);
  std::unique_ptr<uint16_t[]> buckets(new (std::nothrow) uint16_t[kBuckets]());
  // Per string, which following bytes (modulo 64) it has been extended by: most failed lookups
  // end here without walking a bucket.
  std::unique_ptr<uint64_t[]> extensions(new (std::nothrow) uint64_t[kMaxCodes]());
  if (!dictionary || !buckets || !extensions) return 0;
  EncoderEntry* entries = dictionary.get();
  uint16_t* heads = buckets.get();
  uint64_t* extended = extensions.get();

  const uint32_t clear = 1u << minimumCodeSize;
  const uint32_t endCode = clear + 1;
  int codeSize = minimumCodeSize + 1;
  uint32_t nextFree = clear + 2;
  CodeWriter writer(output);
  writer.put(clear, codeSize);

  uint32_t current = pixels[0];
  uint32_t currentLast = pixels[0];
  for (size_t i = 1; i + 1 < pixelCount; ++i) {
    const uint32_t pixel = pixels[i];
    const uint32_t key = current << 8 | pixel;
    const uint32_t bucket = currentLast + pixel;
    const uint64_t extensionBit = uint64_t{1} << (pixel & 63);
    currentLast = pixel;
    if (extended[current] & extensionBit) {
      uint32_t found = heads[bucket];
      uint32_t before = kNoEntry;
      while (found != kNoEntry && entries[found].key != key) {
        before = found;
        found = entries[found].next;
      }
      if (found != kNoEntry) {
        // Strings just used tend to come back: move the match to the front of its bucket.
        if (before != kNoEntry) {
          entries[before].next = entries[found].next;
          entries[found].next = heads[bucket];
          heads[bucket] = static_cast<uint16_t>(found);
        }
        current = found;
        continue;
      }
    }
    writer.put(current, codeSize);
    if (nextFree >= kMaxCodes) {
      writer.put(clear, codeSize);
      codeSize = minimumCodeSize + 1;
      nextFree = clear + 2;
      std::memset(heads, 0, sizeof(uint16_t) * kBuckets);
      std::memset(extended, 0, sizeof(uint64_t) * clear);
    } else {
      if (codeSize < 12 && nextFree > (1u << codeSize) - 1) ++codeSize;
      entries[nextFree] = {key, heads[bucket]};
      heads[bucket] = static_cast<uint16_t>(nextFree);
      extended[nextFree] = 0;
      extended[current] |= extensionBit;
      ++nextFree;
    }
    current = pixel;
  }

  // The decoder adds an entry for each code after the first and widens its codes when the
  // table reaches the next power of two; the codes after the last string must follow it.
  auto followDecoder = [&] {
    if (nextFree >= kMaxCodes) return;
    if (codeSize < 12 && nextFree > (1u << codeSize) - 1) ++codeSize;
    ++nextFree;
  };
  writer.put(current, codeSize);
  if (pixelCount > 1) {
    followDecoder();
    writer.put(pixels[pixelCount - 1], codeSize);
    followDecoder();
  }
  writer.put(endCode, codeSize);
  return writer.finish();
}

bool writeGif(GifWriter& w, const std::filesystem::path& path, const RgbQuad* palette,
              const uint8_t* pixels) {
  w.status = Status::Ok;
  w.transparentIndex = -1;
  DepthConverter& c = w.converter;
  // An empty image has no first pixel to encode; the format's fields hold 16 bits.
  if (c.width < 1 || c.height < 1 || c.width > 65535 || c.height > 65535) {
    w.status = Status::CannotCreate;
    return false;
  }
  OutputFile file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    w.status = Status::CannotCreate;
    return false;
  }
  const int bits = c.targetBits;
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8) {
    w.status = Status::CannotWrite;
    return false;
  }
  const size_t pixelCount = static_cast<size_t>(c.width) * static_cast<size_t>(c.height);
  // The index rows first, then the code stream, which never needs more than gifLzwBound.
  PixelBuffer work;
  PixelBuffer ordered;
  if (!work.allocate(gifLzwBound(pixelCount)) || !ordered.allocate(pixelCount)) {
    w.status = Status::NoMemory;
    return false;
  }
  RgbQuad targetPalette[256] = {};
  if (!convertToIndexBytes(c, palette, pixels, targetPalette, work.data())) {
    w.status = Status::CannotWrite;
    return false;
  }
  const int entries = 1 << bits;
  const bool transparent = w.hasTransparency;
  if (transparent) w.transparentIndex = findTransparentIndex(targetPalette, entries, w.transparentColour);

  uint8_t head[13 + 768 + 8 + 10 + 1];
  uint8_t* p = head;
  std::memcpy(p, "GIF89a", 6);
  storeLe16(p + 6, static_cast<uint32_t>(c.width));
  storeLe16(p + 8, static_cast<uint32_t>(c.height));
  p[10] = static_cast<uint8_t>(0x80 + ((bits - 1) << 4) + (bits - 1));
  p[11] = static_cast<uint8_t>(transparent ? w.transparentIndex : 0);
  p[12] = 0;
  p += 13;
  for (int i = 0; i < entries; ++i) {
    *p++ = targetPalette[i].red;
    *p++ = targetPalette[i].green;
    *p++ = targetPalette[i].blue;
  }
  if (transparent) {
    const uint8_t control[8] = {0x21, 0xF9, 0x04, 0x01, 0, 0,
                                static_cast<uint8_t>(w.transparentIndex), 0};
    std::memcpy(p, control, 8);
    p += 8;
  }
  p[0] = ',';
  storeLe16(p + 1, 0);
  storeLe16(p + 3, 0);
  storeLe16(p + 5, static_cast<uint32_t>(c.width));
  storeLe16(p + 7, static_cast<uint32_t>(c.height));
  p[9] = w.interlace ? 0x40 : 0;
  p += 10;
  const int minimumCodeSize = bits == 1 ? 2 : bits;
  *p++ = static_cast<uint8_t>(minimumCodeSize);
  std::fwrite(head, 1, static_cast<size_t>(p - head), file.get());

  orderRows(work.data(), c.width, c.height, w.interlace, bits, ordered.data());
  const size_t codeBytes = encodeGifLzw(ordered.data(), pixelCount, minimumCodeSize, work.data());
  if (codeBytes == 0) {
    w.status = Status::NoMemory;
    return false;
  }
  for (size_t done = 0; done < codeBytes;) {
    const uint8_t size = static_cast<uint8_t>(codeBytes - done < 255 ? codeBytes - done : 255);
    std::fputc(size, file.get());
    std::fwrite(work.data() + done, 1, size, file.get());
    done += size;
  }
  const uint8_t tail[2] = {0, ';'};
  std::fwrite(tail, 1, 2, file.get());
  return finish(w, file);
}

}  // namespace velorin
