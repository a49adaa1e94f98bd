// What the photo plug-ins share: reading the source, the info texts, EXIF orientation, the
// conversion to sRGB and the hand-over as a bottom-up 24-bit bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "velorin_spi.h"

namespace velorin_plugin {

// Pictures larger than this many pixels are refused before anything is allocated for them: the
// hand-over alone needs three bytes a pixel below the host's 4 GiB limit.
#ifndef VELORIN_PLUGIN_MAX_PIXELS
#define VELORIN_PLUGIN_MAX_PIXELS (uint64_t{1} << 28)
#endif
inline constexpr uint64_t kMaxPixels = VELORIN_PLUGIN_MAX_PIXELS;

inline bool sizeAcceptable(uint64_t width, uint64_t height) {
  return width > 0 && height > 0 && width <= 0x7FFFFFFF && height <= 0x7FFFFFFF && width * height <= kMaxPixels;
}

// The whole source: a file from offset len (flag 0, read into storage) or the block buf, len
// (flag 1, used in place).
struct Source {
  std::vector<uint8_t> storage;
  const uint8_t* data = nullptr;
  size_t size = 0;
};
bool readSource(const char* buf, intptr_t len, unsigned flag, Source& source);

// GetPluginInfo over a table of texts: kind, name, then pattern / description pairs.
int pluginInfo(const char* const* texts, int count, int index, char* buffer, int size);

// The orientation (1..8) in an EXIF block that starts with the TIFF header (an "Exif\0\0" prefix
// is skipped); 1 when there is none or the block is broken.
int exifOrientation(const uint8_t* exif, size_t size);

// An 8-bit picture, rows top-down, tightly packed, 3 (RGB) or 4 (RGBA) channels.
struct Picture {
  uint32_t width = 0, height = 0;
  int channels = 3;
  std::vector<uint8_t> pixels;
  bool allocate(uint32_t w, uint32_t h, int c);  // false when too large or out of memory
};

// Converts the pixels from the colour profile icc to sRGB in place. Nothing happens when there is
// no profile, it is not an RGB profile, it cannot be read or it maps every colour onto itself.
void convertToSrgb(const uint8_t* icc, size_t size, uint8_t* pixels, size_t count, int channels);
inline void convertToSrgb(const std::vector<uint8_t>& icc, Picture& picture) {
  if (!icc.empty())
    convertToSrgb(icc.data(), icc.size(), picture.pixels.data(),
                  size_t{picture.width} * picture.height, picture.channels);
}

// Same, from the colour primaries and white point (CIE xy: red, green, blue, white) and a
// transfer curve: 0 sRGB, 1 BT.709, 2 linear, 3 gamma 2.2.
enum class Transfer { Srgb, Bt709, Linear, Gamma22 };
void convertPrimariesToSrgb(const double xy[8], Transfer transfer, uint8_t* pixels, size_t count, int channels);

// Hands over rows of 3 or 4 channels (stride bytes apart, top-down) as a 24-bit bottom-up bitmap,
// turned as the EXIF orientation asks and with alpha flattened onto white the way the host's
// PNG reader does it. Returns an SPI result.
int handOver(const uint8_t* pixels, uint32_t width, uint32_t height, size_t stride, int channels, int orientation,
             HLOCAL* info, HLOCAL* bits);
inline int handOver(const Picture& p, int orientation, HLOCAL* info, HLOCAL* bits) {
  return handOver(p.pixels.data(), p.width, p.height, size_t{p.width} * p.channels, p.channels, orientation, info,
                  bits);
}

}  // namespace velorin_plugin
