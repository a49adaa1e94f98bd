// Image plug-in for the Netpbm formats: PBM, PGM and PPM, plain (P1-P3) and binary (P4-P6),
// maximum sample values up to 65535. PBM becomes a 1-bit bitmap, PGM an 8-bit grey one, PPM a
// 24-bit one; samples above 255 are scaled to 8 bits with rounding.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "velorin_spi.h"

namespace {

struct Image {
  int kind = 0;  // 1..6 from the magic "P1".."P6"
  uint32_t width = 0, height = 0, maxval = 1;
  size_t dataStart = 0;
};

struct Cursor {
  const uint8_t* p;
  const uint8_t* end;
  bool atEnd() const { return p >= end; }
};

bool isSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

void skipSpaceAndComments(Cursor& c) {
  while (!c.atEnd()) {
    if (*c.p == '#') {
      while (!c.atEnd() && *c.p != '\n' && *c.p != '\r') ++c.p;
    } else if (isSpace(*c.p)) {
      ++c.p;
    } else {
      break;
    }
  }
}

bool readNumber(Cursor& c, uint32_t& value, uint32_t limit) {
  skipSpaceAndComments(c);
  if (c.atEnd() || *c.p < '0' || *c.p > '9') return false;
  uint64_t v = 0;
  while (!c.atEnd() && *c.p >= '0' && *c.p <= '9') {
    v = v * 10 + (*c.p++ - '0');
    if (v > limit) return false;
  }
  value = static_cast<uint32_t>(v);
  return true;
}

bool parseHeader(const uint8_t* data, size_t size, Image& image) {
  if (size < 3 || data[0] != 'P' || data[1] < '1' || data[1] > '6') return false;
  image.kind = data[1] - '0';
  Cursor c{data + 2, data + size};
  if (!isSpace(*c.p) && *c.p != '#') return false;
  if (!readNumber(c, image.width, 0x7FFFFFFF) || !readNumber(c, image.height, 0x7FFFFFFF)) return false;
  if (image.width == 0 || image.height == 0) return false;
  const bool bitmap = image.kind == 1 || image.kind == 4;
  image.maxval = 1;
  if (!bitmap && (!readNumber(c, image.maxval, 65535) || image.maxval == 0)) return false;
  // Binary data starts after exactly one whitespace byte; plain data may have any amount.
  if (c.atEnd() || !isSpace(*c.p)) return false;
  ++c.p;
  image.dataStart = static_cast<size_t>(c.p - data);
  return true;
}

bool readSource(const char* buf, intptr_t len, unsigned flag, std::vector<uint8_t>& bytes) {
  if ((flag & 7) == SPI_SOURCE_MEMORY) {
    if (!buf || len <= 0) return false;
    bytes.assign(reinterpret_cast<const uint8_t*>(buf), reinterpret_cast<const uint8_t*>(buf) + len);
    return true;
  }
  std::ifstream in(buf, std::ios::binary);
  if (!in || len < 0) return false;
  in.seekg(len);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !bytes.empty();
}

int bitsPerPixel(const Image& image) {
  return image.kind == 1 || image.kind == 4 ? 1 : image.kind == 2 || image.kind == 5 ? 8 : 24;
}

// Sample reader for every variant: plain numbers, or binary bytes / big-endian words.
struct Samples {
  Cursor c;
  const Image& image;
  bool plain() const { return image.kind <= 3; }
  bool next(uint32_t& value) {
    if (plain()) {
      if (image.kind == 1) {  // plain PBM digits need no separators
        skipSpaceAndComments(c);
        if (c.atEnd() || (*c.p != '0' && *c.p != '1')) return false;
        value = *c.p++ - '0';
        return true;
      }
      return readNumber(c, value, image.maxval);
    }
    if (image.maxval > 255) {
      if (c.end - c.p < 2) return false;
      value = static_cast<uint32_t>(c.p[0] << 8 | c.p[1]);
      c.p += 2;
    } else {
      if (c.atEnd()) return false;
      value = *c.p++;
    }
    if (value > image.maxval) value = image.maxval;
    return true;
  }
  uint8_t scaled(uint32_t value) const {
    return static_cast<uint8_t>((static_cast<uint64_t>(value) * 255 + image.maxval / 2) / image.maxval);
  }
};

int decode(const std::vector<uint8_t>& bytes, HLOCAL* infoOut, HLOCAL* bitsOut) {
  Image image;
  if (!parseHeader(bytes.data(), bytes.size(), image)) return SPI_UNKNOWN_FORMAT;
  const int bits = bitsPerPixel(image);
  const uint64_t stride = ((uint64_t{image.width} * bits + 31) / 32) * 4;
  const uint64_t total = stride * image.height;
  if (total >= (uint64_t{1} << 32)) return SPI_NO_MEMORY;
  const size_t paletteEntries = bits == 1 ? 2 : bits == 8 ? 256 : 0;
  HLOCAL info = spiLocalAlloc(sizeof(BITMAPINFOHEADER) + 4 * paletteEntries);
  HLOCAL pixels = spiLocalAlloc(static_cast<size_t>(total));
  if (!info || !pixels) {
    spiLocalFree(info);
    spiLocalFree(pixels);
    return SPI_NO_MEMORY;
  }
  auto* header = static_cast<BITMAPINFOHEADER*>(spiLocalLock(info));
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = static_cast<int32_t>(image.width);
  header->biHeight = static_cast<int32_t>(image.height);
  header->biPlanes = 1;
  header->biBitCount = static_cast<uint16_t>(bits);
  header->biClrUsed = static_cast<uint32_t>(paletteEntries);
  auto* palette = reinterpret_cast<RGBQUAD*>(header + 1);
  if (bits == 1) {
    palette[0] = {255, 255, 255, 0};  // PBM: 0 is white, 1 is black
    palette[1] = {0, 0, 0, 0};
  } else if (bits == 8) {
    for (int i = 0; i < 256; ++i) palette[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
  }

  auto* out = static_cast<uint8_t*>(spiLocalLock(pixels));
  Samples samples{{bytes.data() + image.dataStart, bytes.data() + bytes.size()}, image};
  bool complete = true;
  for (uint32_t y = 0; y < image.height && complete; ++y) {
    uint8_t* row = out + (image.height - 1 - y) * stride;  // bitmaps are bottom-up
    if (image.kind == 4) {
      const size_t rowBytes = (image.width + 7) / 8;
      if (static_cast<size_t>(samples.c.end - samples.c.p) < rowBytes) {
        complete = false;
        break;
      }
      std::memcpy(row, samples.c.p, rowBytes);
      samples.c.p += rowBytes;
      continue;
    }
    for (uint32_t x = 0; x < image.width && complete; ++x) {
      if (bits == 1) {
        uint32_t v = 0;
        complete = samples.next(v);
        if (complete && v) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      } else if (bits == 8) {
        uint32_t v = 0;
        complete = samples.next(v);
        row[x] = samples.scaled(v);
      } else {
        uint32_t r = 0, g = 0, b = 0;
        complete = samples.next(r) && samples.next(g) && samples.next(b);
        row[3 * x] = samples.scaled(b);
        row[3 * x + 1] = samples.scaled(g);
        row[3 * x + 2] = samples.scaled(r);
      }
    }
  }
  if (!complete) {
    spiLocalFree(info);
    spiLocalFree(pixels);
    return SPI_BROKEN_DATA;
  }
  *infoOut = info;
  *bitsOut = pixels;
  return SPI_SUCCESS;
}

int copyText(const char* text, char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  const int n = static_cast<int>(std::strlen(text)) < size - 1 ? static_cast<int>(std::strlen(text)) : size - 1;
  std::memcpy(buffer, text, n);
  buffer[n] = 0;
  return n;
}

}  // namespace

SPI_EXPORT int GetPluginInfo(int index, char* buffer, int size) {
  static const char* const kTexts[] = {"00IN", "Velorin Netpbm plug-in 1.0", "*.pbm;*.pgm;*.ppm;*.pnm",
                                       "Netpbm images"};
  if (index < 0 || index >= 4) return 0;
  return copyText(kTexts[index], buffer, size);
}

SPI_EXPORT int IsSupported(const char*, const void* header) {
  const auto* h = static_cast<const uint8_t*>(header);
  Image image;
  return h && parseHeader(h, SPI_HEADER_BYTES, image) ? 1 : 0;
}

SPI_EXPORT int GetPictureInfo(const char* buf, intptr_t len, unsigned int flag, SpiPictureInfo* info) {
  std::vector<uint8_t> bytes;
  if (!info || !readSource(buf, len, flag, bytes)) return SPI_FILE_READ_ERROR;
  Image image;
  if (!parseHeader(bytes.data(), bytes.size(), image)) return SPI_UNKNOWN_FORMAT;
  *info = {};
  info->width = static_cast<int32_t>(image.width);
  info->height = static_cast<int32_t>(image.height);
  info->colorDepth = static_cast<int16_t>(bitsPerPixel(image));
  return SPI_SUCCESS;
}

SPI_EXPORT int GetPicture(const char* buf, intptr_t len, unsigned int flag, HLOCAL* info, HLOCAL* bits,
                          SpiProgressCallback, intptr_t) {
  std::vector<uint8_t> bytes;
  if (!info || !bits) return SPI_INTERNAL_ERROR;
  if (!readSource(buf, len, flag, bytes)) return SPI_FILE_READ_ERROR;
  return decode(bytes, info, bits);
}

SPI_EXPORT int ConfigurationDlg(void*, int) { return SPI_NOT_IMPLEMENTED; }
