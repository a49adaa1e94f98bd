// Image plug-in for camera RAW files on LibRaw (DNG, CR2, CR3, NEF, ARW, ORF, RAF, RW2, PEF and
// kin): the sensor data developed in full with the camera's white balance, into 8-bit sRGB with
// the sRGB tone curve, turned as the camera recorded.
#include <libraw/libraw.h>

#include <cstring>
#include <memory>
#include <strings.h>

#include "../common/picture.h"

using namespace velorin_plugin;

namespace {

#ifndef VELORIN_RAW_MAX_MEMORY_MB
#define VELORIN_RAW_MAX_MEMORY_MB 2048
#endif

constexpr const char* kExtensions[] = {".dng", ".cr2", ".cr3", ".nef", ".nrw", ".arw", ".srf",
                                       ".sr2", ".orf", ".raf", ".rw2", ".pef", ".srw"};

struct ImageDeleter {
  void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};

bool rawExtension(const char* name) {
  if (!name) return false;
  const char* dot = std::strrchr(name, '.');
  if (!dot) return false;
  for (const char* extension : kExtensions)
    if (strcasecmp(dot, extension) == 0) return true;
  return false;
}

int develop(const uint8_t* data, size_t size, HLOCAL* info, HLOCAL* bits) {
  std::unique_ptr<LibRaw> raw(new (std::nothrow) LibRaw(LIBRAW_OPTIONS_NONE));
  if (!raw) return SPI_NO_MEMORY;
  libraw_output_params_t& params = raw->imgdata.params;
  params.use_camera_wb = 1;
  params.output_color = 1;  // sRGB
  params.output_bps = 8;
  params.gamm[0] = 1 / 2.4;  // the sRGB curve
  params.gamm[1] = 12.92;
  params.max_raw_memory_mb = VELORIN_RAW_MAX_MEMORY_MB;
  if (raw->open_buffer(const_cast<uint8_t*>(data), size) != LIBRAW_SUCCESS) return SPI_UNKNOWN_FORMAT;
  const libraw_image_sizes_t& sizes = raw->imgdata.sizes;
  if (!sizeAcceptable(sizes.width, sizes.height) || !sizeAcceptable(sizes.raw_width, sizes.raw_height))
    return SPI_NO_MEMORY;
  if (raw->unpack() != LIBRAW_SUCCESS || raw->dcraw_process() != LIBRAW_SUCCESS) return SPI_BROKEN_DATA;
  int error = LIBRAW_SUCCESS;
  std::unique_ptr<libraw_processed_image_t, ImageDeleter> image(raw->dcraw_make_mem_image(&error));
  if (!image || error != LIBRAW_SUCCESS) return SPI_BROKEN_DATA;
  raw.reset();  // the developed picture is all that is left to hand over
  if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8 || (image->colors != 1 && image->colors != 3) ||
      !sizeAcceptable(image->width, image->height) ||
      image->data_size < size_t{image->width} * image->height * image->colors)
    return SPI_BROKEN_DATA;
  if (image->colors == 3)
    return handOver(image->data, image->width, image->height, size_t{image->width} * 3, 3, 1, info, bits);
  // A monochrome sensor: one sample a pixel, spread to three.
  Picture picture;
  if (!picture.allocate(image->width, image->height, 3)) return SPI_NO_MEMORY;
  for (size_t i = 0, n = size_t{image->width} * image->height; i < n; ++i)
    std::memset(&picture.pixels[i * 3], image->data[i], 3);
  return handOver(picture, 1, info, bits);
}

}  // namespace

SPI_EXPORT int GetPluginInfo(int index, char* buffer, int size) {
  static const char* const kTexts[] = {
      "00IN", "Velorin camera RAW plug-in 1.0",
      "*.dng;*.cr2;*.cr3;*.nef;*.nrw;*.arw;*.srf;*.sr2;*.orf;*.raf;*.rw2;*.pef;*.srw", "Camera RAW images"};
  return pluginInfo(kTexts, 4, index, buffer, size);
}

// Formats with a signature of their own by the bytes; TIFF-based ones (DNG, CR2, NEF, ARW, PEF,
// ...) share the signature of ordinary TIFF files, so for those the name must say RAW too.
SPI_EXPORT int IsSupported(const char* name, const void* header) {
  const auto* h = static_cast<const uint8_t*>(header);
  if (!h) return 0;
  if (std::memcmp(h, "FUJIFILM", 8) == 0) return 1;                                              // RAF
  if (std::memcmp(h, "IIRO", 4) == 0 || std::memcmp(h, "IIRS", 4) == 0 || std::memcmp(h, "MMOR", 4) == 0)
    return 1;                                                                                    // ORF
  if (std::memcmp(h, "IIU\0", 4) == 0) return 1;                                                 // RW2
  if (std::memcmp(h + 4, "ftypcrx ", 8) == 0) return 1;                                          // CR3
  const bool tiff = std::memcmp(h, "II*\0", 4) == 0 || std::memcmp(h, "MM\0*", 4) == 0;
  return tiff && rawExtension(name) ? 1 : 0;
}

SPI_EXPORT int GetPicture(const char* buf, intptr_t len, unsigned int flag, HLOCAL* info, HLOCAL* bits,
                          SpiProgressCallback, intptr_t) {
  return getPictureWith(buf, len, flag, info, bits, develop);
}

SPI_EXPORT int ConfigurationDlg(void*, int) { return SPI_NOT_IMPLEMENTED; }
