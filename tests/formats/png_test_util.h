// PNG fixtures for the reader and writer tests: a chunk builder that checksums with zlib (not
// with our own CRC code) and libpng as the reference decoder.
#pragma once

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace velorin::test {

// A PNG assembled chunk by chunk.
struct PngBuilder {
  std::vector<uint8_t> bytes = signature();

  static std::vector<uint8_t> signature() {
    static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    return {kSignature, kSignature + 8};
  }

  PngBuilder& chunk(const std::string& type, const std::vector<uint8_t>& data, bool goodCrc = true) {
    Bytes b;
    b.be32(static_cast<uint32_t>(data.size())).text(type);
    b.data.insert(b.data.end(), data.begin(), data.end());
    uLong crc = crc32(0, b.data.data() + 4, static_cast<uInt>(data.size() + 4));
    if (!goodCrc) crc ^= 1;
    b.be32(static_cast<uint32_t>(crc));
    bytes.insert(bytes.end(), b.data.begin(), b.data.end());
    return *this;
  }
  PngBuilder& header(uint32_t width, uint32_t height, int bitDepth, int colourType,
                     int interlace = 0) {
    Bytes b;
    b.be32(width).be32(height).u8(bitDepth).u8(colourType).u8(0).u8(0).u8(interlace);
    return chunk("IHDR", b.data);
  }
  PngBuilder& end() { return chunk("IEND", {}); }
};

// zlib stream of the given filtered rows (each row already starts with its filter byte).
inline std::vector<uint8_t> zlibOf(const std::vector<uint8_t>& filtered) {
  uLongf size = compressBound(static_cast<uLong>(filtered.size()));
  std::vector<uint8_t> out(size);
  compress2(out.data(), &size, filtered.data(), static_cast<uLong>(filtered.size()), 9);
  out.resize(size);
  return out;
}

// What libpng decodes, with 16-bit samples cut to their high byte and packed samples one per
// byte, but palettes, grey and transparency keys not expanded unless asked.
struct LibpngImage {
  bool ok = false;
  uint32_t width = 0, height = 0;
  int colourType = 0, bitDepth = 0, interlace = 0, channels = 0;
  std::vector<png_color> palette;
  std::vector<uint8_t> paletteAlpha;
  bool hasKey = false;
  png_color_16 key{};
  bool hasBackground = false;
  png_color_16 background{};
  std::vector<uint8_t> pixels;  // rows top-down, channels bytes per pixel
  std::string text;             // tEXt "Comment", when present
  uint32_t xPpm = 0, yPpm = 0;
  int unit = -1;
};

inline void libpngError(png_structp png, png_const_charp) { std::longjmp(png_jmpbuf(png), 1); }
inline void libpngWarning(png_structp, png_const_charp) {}

// Everything the jump can skip lives in the caller's frame, so nothing here needs to survive it.
inline bool readWithLibpngInto(std::FILE* file, bool expandPalette, LibpngImage& result,
                               std::vector<png_bytep>& rows) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, libpngError, libpngWarning);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  result.width = png_get_image_width(png, info);
  result.height = png_get_image_height(png, info);
  result.colourType = png_get_color_type(png, info);
  result.bitDepth = png_get_bit_depth(png, info);
  result.interlace = png_get_interlace_type(png, info);
  png_colorp palette = nullptr;
  int entries = 0;
  if (png_get_PLTE(png, info, &palette, &entries)) result.palette.assign(palette, palette + entries);
  png_bytep alpha = nullptr;
  int alphaCount = 0;
  png_color_16p key = nullptr;
  if (png_get_tRNS(png, info, &alpha, &alphaCount, &key)) {
    if (result.colourType == PNG_COLOR_TYPE_PALETTE) result.paletteAlpha.assign(alpha, alpha + alphaCount);
    else if (key) {
      result.hasKey = true;
      result.key = *key;
    }
  }
  png_color_16p background = nullptr;
  if (png_get_bKGD(png, info, &background)) {
    result.hasBackground = true;
    result.background = *background;
  }
  png_uint_32 xp = 0, yp = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &xp, &yp, &unit)) {
    result.xPpm = xp;
    result.yPpm = yp;
    result.unit = unit;
  }
  png_set_strip_16(png);
  png_set_packing(png);
  if (expandPalette && result.colourType == PNG_COLOR_TYPE_PALETTE) {
    png_set_palette_to_rgb(png);
    if (!result.paletteAlpha.empty()) png_set_tRNS_to_alpha(png);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  result.channels = png_get_channels(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  result.pixels.assign(rowBytes * result.height, 0);
  rows.resize(result.height);
  for (uint32_t y = 0; y < result.height; ++y) rows[y] = result.pixels.data() + y * rowBytes;
  png_read_image(png, rows.data());
  png_read_end(png, info);
  png_textp texts = nullptr;
  int textCount = 0;
  if (png_get_text(png, info, &texts, &textCount))
    for (int i = 0; i < textCount; ++i)
      if (std::string(texts[i].key) == "Comment") result.text = texts[i].text;
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

inline LibpngImage readWithLibpng(const std::filesystem::path& path, bool expandPalette) {
  LibpngImage result;
  std::vector<png_bytep> rows;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return result;
  result.ok = readWithLibpngInto(file, expandPalette, result, rows);
  std::fclose(file);
  return result;
}

}  // namespace velorin::test
