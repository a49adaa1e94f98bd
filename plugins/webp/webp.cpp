// Image plug-in for WebP on libwebp: lossy and lossless, with alpha, and of an animation the
// first frame as it shows on the canvas. An ICC profile is applied, the EXIF orientation obeyed.
#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>

#include "../common/picture.h"

using namespace velorin_plugin;

namespace {

struct DemuxDeleter {
  void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
struct AnimDeleter {
  void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

std::vector<uint8_t> chunk(WebPDemuxer* demux, const char* name) {
  WebPChunkIterator it;
  std::vector<uint8_t> bytes;
  if (WebPDemuxGetChunk(demux, name, 1, &it)) bytes.assign(it.chunk.bytes, it.chunk.bytes + it.chunk.size);
  WebPDemuxReleaseChunkIterator(&it);
  return bytes;
}

int decode(const uint8_t* data, size_t size, HLOCAL* info, HLOCAL* bits) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(data, size, &features) != VP8_STATUS_OK) return SPI_UNKNOWN_FORMAT;
  const WebPData whole{data, size};
  std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&whole));
  if (!demux) return SPI_BROKEN_DATA;
  const uint32_t width = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
  const uint32_t height = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
  if (!sizeAcceptable(width, height)) return SPI_NO_MEMORY;
  const uint32_t flags = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS);

  Picture picture;
  if (features.has_animation) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return SPI_INTERNAL_ERROR;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    std::unique_ptr<WebPAnimDecoder, AnimDeleter> anim(WebPAnimDecoderNew(&whole, &options));
    if (!anim) return SPI_BROKEN_DATA;
    uint8_t* frame = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(anim.get(), &frame, &timestamp) || !frame) return SPI_BROKEN_DATA;
    if (!picture.allocate(width, height, 4)) return SPI_NO_MEMORY;
    std::memcpy(picture.pixels.data(), frame, picture.pixels.size());
  } else {
    const int channels = features.has_alpha ? 4 : 3;
    if (!picture.allocate(static_cast<uint32_t>(features.width), static_cast<uint32_t>(features.height), channels))
      return SPI_NO_MEMORY;
    const int stride = features.width * channels;
    const uint8_t* decoded =
        channels == 4 ? WebPDecodeRGBAInto(data, size, picture.pixels.data(), picture.pixels.size(), stride)
                      : WebPDecodeRGBInto(data, size, picture.pixels.data(), picture.pixels.size(), stride);
    if (!decoded) return SPI_BROKEN_DATA;
  }
  if (flags & ICCP_FLAG) convertToSrgb(chunk(demux.get(), "ICCP"), picture);
  int orientation = 1;
  if (flags & EXIF_FLAG) {
    const std::vector<uint8_t> exif = chunk(demux.get(), "EXIF");
    orientation = exifOrientation(exif.data(), exif.size());
  }
  return handOver(picture, orientation, info, bits);
}

}  // namespace

SPI_EXPORT int GetPluginInfo(int index, char* buffer, int size) {
  static const char* const kTexts[] = {"00IN", "Velorin WebP plug-in 1.0", "*.webp", "WebP images"};
  return pluginInfo(kTexts, 4, index, buffer, size);
}

SPI_EXPORT int IsSupported(const char*, const void* header) {
  const auto* h = static_cast<const uint8_t*>(header);
  return h && std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WEBP", 4) == 0 ? 1 : 0;
}

SPI_EXPORT int GetPicture(const char* buf, intptr_t len, unsigned int flag, HLOCAL* info, HLOCAL* bits,
                          SpiProgressCallback, intptr_t) {
  if (!info || !bits) return SPI_INTERNAL_ERROR;
  Source source;
  if (!readSource(buf, len, flag, source)) return SPI_FILE_READ_ERROR;
  return decode(source.data, source.size, info, bits);
}

SPI_EXPORT int ConfigurationDlg(void*, int) { return SPI_NOT_IMPLEMENTED; }
