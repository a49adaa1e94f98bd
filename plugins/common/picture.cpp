#include "picture.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

namespace velorin_plugin {

bool readSource(const char* buf, intptr_t len, unsigned flag, Source& source) {
  if (!buf || len < 0) return false;
  if ((flag & 7) == SPI_SOURCE_MEMORY) {
    if (len == 0) return false;
    source.data = reinterpret_cast<const uint8_t*>(buf);
    source.size = static_cast<size_t>(len);
    return true;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(buf, "rb"), std::fclose);
  if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) return false;
  const long end = std::ftell(file.get());
  if (end <= len || std::fseek(file.get(), static_cast<long>(len), SEEK_SET) != 0) return false;
  try {
    source.storage.resize(static_cast<size_t>(end - len));
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (std::fread(source.storage.data(), 1, source.storage.size(), file.get()) != source.storage.size()) return false;
  source.data = source.storage.data();
  source.size = source.storage.size();
  return true;
}

int pluginInfo(const char* const* texts, int count, int index, char* buffer, int size) {
  if (index < 0 || index >= count || !buffer || size <= 0) return 0;
  const int n = static_cast<int>(std::min<size_t>(std::strlen(texts[index]), static_cast<size_t>(size - 1)));
  std::memcpy(buffer, texts[index], static_cast<size_t>(n));
  buffer[n] = 0;
  return n;
}

int exifOrientation(const uint8_t* exif, size_t size) {
  if (!exif) return 1;
  if (size >= 6 && std::memcmp(exif, "Exif\0\0", 6) == 0) exif += 6, size -= 6;
  if (size < 8) return 1;
  const bool little = exif[0] == 'I' && exif[1] == 'I';
  if (!little && !(exif[0] == 'M' && exif[1] == 'M')) return 1;
  auto u16 = [&](size_t at) -> uint32_t {
    return little ? exif[at] | exif[at + 1] << 8 : exif[at] << 8 | exif[at + 1];
  };
  auto u32 = [&](size_t at) -> uint32_t { return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2); };
  if (u16(2) != 42) return 1;
  const uint32_t ifd = u32(4);
  if (ifd > size - 2) return 1;
  const uint32_t entries = u16(ifd);
  for (uint32_t i = 0; i < entries; ++i) {
    const size_t entry = size_t{ifd} + 2 + size_t{i} * 12;
    if (entry + 12 > size) break;
    if (u16(entry) != 0x0112) continue;
    const uint32_t value = u16(entry + 2) == 3 ? u16(entry + 8) : 0;  // SHORT
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
  }
  return 1;
}

bool Picture::allocate(uint32_t w, uint32_t h, int c) {
  if (!sizeAcceptable(w, h)) return false;
  try {
    pixels.resize(size_t{w} * h * static_cast<size_t>(c));
  } catch (const std::bad_alloc&) {
    return false;
  }
  width = w, height = h, channels = c;
  return true;
}

namespace {

struct ProfileCloser {
  void operator()(void* p) const { cmsCloseProfile(p); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

// Runs the transform unless it maps a grid of test colours exactly onto themselves, which is
// how an sRGB profile under another name shows; such pictures are handed over as decoded.
void applyUnlessIdentity(cmsHPROFILE from, uint8_t* pixels, size_t count, int channels) {
  Profile srgb(cmsCreate_sRGBProfile());
  if (!from || !srgb || cmsGetColorSpace(from) != cmsSigRgbData) return;
  const cmsUInt32Number format = channels == 4 ? TYPE_RGBA_8 : TYPE_RGB_8;
  cmsHTRANSFORM transform = cmsCreateTransform(from, format, srgb.get(), format, INTENT_RELATIVE_COLORIMETRIC,
                                               channels == 4 ? cmsFLAGS_COPY_ALPHA : 0);
  if (!transform) return;
  std::array<uint8_t, 9 * 9 * 9 * 4> grid{}, mapped{};
  size_t n = 0;
  for (int r = 0; r < 9; ++r)
    for (int g = 0; g < 9; ++g)
      for (int b = 0; b < 9; ++b, ++n) {
        uint8_t* p = &grid[n * static_cast<size_t>(channels)];
        p[0] = static_cast<uint8_t>(std::min(255, r * 32)), p[1] = static_cast<uint8_t>(std::min(255, g * 32));
        p[2] = static_cast<uint8_t>(std::min(255, b * 32));
        if (channels == 4) p[3] = 255;
      }
  cmsDoTransform(transform, grid.data(), mapped.data(), static_cast<cmsUInt32Number>(n));
  if (std::memcmp(grid.data(), mapped.data(), n * static_cast<size_t>(channels)) != 0) {
    // In slices, since the count is a 32-bit number.
    constexpr size_t kSlice = size_t{1} << 24;
    for (size_t done = 0; done < count; done += kSlice) {
      uint8_t* p = pixels + done * static_cast<size_t>(channels);
      cmsDoTransform(transform, p, p, static_cast<cmsUInt32Number>(std::min(kSlice, count - done)));
    }
  }
  cmsDeleteTransform(transform);
}

// lcms2 reports broken profiles through a global handler that prints; the plug-ins stay quiet.
void quietLogger(cmsContext, cmsUInt32Number, const char*) {}

}  // namespace

void convertToSrgb(const uint8_t* icc, size_t size, uint8_t* pixels, size_t count, int channels) {
  if (!icc || size == 0 || size > UINT32_MAX || !pixels) return;
  cmsSetLogErrorHandler(quietLogger);
  Profile from(cmsOpenProfileFromMem(icc, static_cast<cmsUInt32Number>(size)));
  applyUnlessIdentity(from.get(), pixels, count, channels);
}

void convertPrimariesToSrgb(const double xy[8], Transfer transfer, uint8_t* pixels, size_t count, int channels) {
  cmsSetLogErrorHandler(quietLogger);
  const cmsCIExyY white{xy[6], xy[7], 1.0};
  const cmsCIExyYTRIPLE primaries{{xy[0], xy[1], 1.0}, {xy[2], xy[3], 1.0}, {xy[4], xy[5], 1.0}};
  cmsToneCurve* curve = nullptr;
  switch (transfer) {
    case Transfer::Srgb: {
      const cmsFloat64Number p[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
      curve = cmsBuildParametricToneCurve(nullptr, 4, p);
      break;
    }
    case Transfer::Bt709: {
      const cmsFloat64Number p[5] = {1.0 / 0.45, 1.0 / 1.099, 0.099 / 1.099, 1.0 / 4.5, 0.081};
      curve = cmsBuildParametricToneCurve(nullptr, 4, p);
      break;
    }
    case Transfer::Linear: curve = cmsBuildGamma(nullptr, 1.0); break;
    case Transfer::Gamma22: curve = cmsBuildGamma(nullptr, 2.2); break;
  }
  if (!curve) return;
  cmsToneCurve* curves[3] = {curve, curve, curve};
  Profile from(cmsCreateRGBProfile(&white, &primaries, curves));
  cmsFreeToneCurve(curve);
  applyUnlessIdentity(from.get(), pixels, count, channels);
}

namespace {

// a x b / 255 rounded, exactly as the host's blend table computes it, so a picture with alpha
// comes out as the same picture stored as PNG would.
struct BlendTable {
  std::vector<uint8_t> t = std::vector<uint8_t>(256 * 256);
  BlendTable() {
    for (uint32_t a = 0; a < 256; ++a)
      for (uint32_t b = 0; b < 256; ++b) {
        const uint32_t lo = std::min(a, b), hi = std::max(a, b);
        uint8_t v;
        if (lo == 0) v = 0;
        else if (hi == 255) v = static_cast<uint8_t>(lo);
        else v = static_cast<uint8_t>((hi * (lo * 65536 / 255) + 32768) >> 16);
        t[a * 256 + b] = v;
      }
  }
  uint8_t ontoWhite(uint8_t alpha, uint8_t sample) const {
    return static_cast<uint8_t>(t[alpha * 256u + sample] + (255 - alpha));
  }
};

}  // namespace

int handOver(const uint8_t* pixels, uint32_t width, uint32_t height, size_t stride, int channels, int orientation,
             HLOCAL* infoOut, HLOCAL* bitsOut) {
  if (!pixels || !infoOut || !bitsOut || (channels != 3 && channels != 4)) return SPI_INTERNAL_ERROR;
  if (!sizeAcceptable(width, height)) return SPI_NO_MEMORY;
  if (orientation < 1 || orientation > 8) orientation = 1;
  const bool swap = orientation >= 5;
  const uint32_t outW = swap ? height : width, outH = swap ? width : height;
  const size_t outStride = (size_t{outW} * 3 + 3) & ~size_t{3};
  HLOCAL info = spiLocalAlloc(sizeof(BITMAPINFOHEADER));
  HLOCAL bits = spiLocalAlloc(outStride * outH);
  if (!info || !bits) {
    spiLocalFree(info);
    spiLocalFree(bits);
    return SPI_NO_MEMORY;
  }
  auto* header = static_cast<BITMAPINFOHEADER*>(spiLocalLock(info));
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = static_cast<int32_t>(outW);
  header->biHeight = static_cast<int32_t>(outH);
  header->biPlanes = 1;
  header->biBitCount = 24;

  // Output (x, y), y from the top, comes from source (sx0 + x * dxx + y * dxy, sy0 + ...).
  int64_t sx0 = 0, sy0 = 0, dxx = 1, dxy = 0, dyx = 0, dyy = 1;
  const int64_t w1 = int64_t{width} - 1, h1 = int64_t{height} - 1;
  switch (orientation) {
    case 2: sx0 = w1, dxx = -1; break;
    case 3: sx0 = w1, sy0 = h1, dxx = -1, dyy = -1; break;
    case 4: sy0 = h1, dyy = -1; break;
    case 5: dxx = 0, dxy = 1, dyx = 1, dyy = 0; break;
    case 6: sy0 = h1, dxx = 0, dxy = 1, dyx = -1, dyy = 0; break;
    case 7: sx0 = w1, sy0 = h1, dxx = 0, dxy = -1, dyx = -1, dyy = 0; break;
    case 8: sx0 = w1, dxx = 0, dxy = -1, dyx = 1, dyy = 0; break;
    default: break;
  }
  std::optional<BlendTable> table;
  if (channels == 4) table.emplace();
  const BlendTable* blend = table ? &*table : nullptr;
  auto* out = static_cast<uint8_t*>(spiLocalLock(bits));
  const auto step = static_cast<int64_t>(stride);
  for (uint32_t y = 0; y < outH; ++y) {
    uint8_t* row = out + (size_t{outH} - 1 - y) * outStride;
    // Offsets rather than a moving pointer, which would step outside the rows after the last pixel.
    int64_t at = (sy0 + int64_t{y} * dyy) * step + (sx0 + int64_t{y} * dxy) * channels;
    const int64_t advance = dyx * step + dxx * channels;
    for (uint32_t x = 0; x < outW; ++x, at += advance, row += 3) {
      const uint8_t* p = pixels + at;
      if (blend) {
        row[0] = blend->ontoWhite(p[3], p[2]);
        row[1] = blend->ontoWhite(p[3], p[1]);
        row[2] = blend->ontoWhite(p[3], p[0]);
      } else {
        row[0] = p[2], row[1] = p[1], row[2] = p[0];
      }
    }
  }
  *infoOut = info;
  *bitsOut = bits;
  return SPI_SUCCESS;
}

}  // namespace velorin_plugin
