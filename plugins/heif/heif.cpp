// Image plug-in for HEIF on libheif: HEIC (HEVC) and AVIF (AV1) stills and the primary picture
// of a collection, with alpha. The file's rotation, mirroring and crop are applied by libheif;
// an ICC profile, or colour primaries other than sRGB's, are converted to sRGB.
#include <libheif/heif.h>

#include <cstring>
#include <memory>

#include "../common/picture.h"

using namespace velorin_plugin;

namespace {

// libheif's reference-counted set-up, held for one call.
struct HeifLibrary {
  HeifLibrary() { heif_init(nullptr); }
  ~HeifLibrary() { heif_deinit(); }
};
struct ContextDeleter {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleDeleter {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
struct NclxDeleter {
  void operator()(heif_color_profile_nclx* n) const { heif_nclx_color_profile_free(n); }
};
struct OptionsDeleter {
  void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

// The brands of still pictures libheif decodes.
bool heifBrand(const uint8_t* b) {
  static const char* const kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "avif", "avis"};
  for (const char* brand : kBrands)
    if (std::memcmp(b, brand, 4) == 0) return true;
  return false;
}

// Converts what an nclx colour description names, when its primaries are not sRGB's.
void convertNclx(const heif_image_handle* handle, Picture& picture) {
  heif_color_profile_nclx* raw = nullptr;
  const bool read = heif_image_handle_get_nclx_color_profile(handle, &raw).code == heif_error_Ok;
  std::unique_ptr<heif_color_profile_nclx, NclxDeleter> nclx(raw);  // allocated on some failures too
  if (!read || !nclx) return;
  const heif_color_primaries primaries = nclx->color_primaries;
  if (primaries != heif_color_primaries_ITU_R_BT_709_5 && primaries != heif_color_primaries_unspecified) {
    const double xy[8] = {nclx->color_primary_red_x,   nclx->color_primary_red_y,  nclx->color_primary_green_x,
                          nclx->color_primary_green_y, nclx->color_primary_blue_x, nclx->color_primary_blue_y,
                          nclx->color_primary_white_x, nclx->color_primary_white_y};
    Transfer transfer = Transfer::Srgb;  // also what HDR curves are shown as: there is no tone mapping here
    switch (nclx->transfer_characteristics) {
      case heif_transfer_characteristic_ITU_R_BT_709_5:
      case heif_transfer_characteristic_ITU_R_BT_601_6:
      case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
      case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit: transfer = Transfer::Bt709; break;
      case heif_transfer_characteristic_linear: transfer = Transfer::Linear; break;
      case heif_transfer_characteristic_ITU_R_BT_470_6_System_M: transfer = Transfer::Gamma22; break;
      default: break;
    }
    convertPrimariesToSrgb(xy, transfer, picture.pixels.data(), size_t{picture.width} * picture.height,
                           picture.channels);
  }
}

int decode(const uint8_t* data, size_t size, HLOCAL* info, HLOCAL* bits) {
  HeifLibrary library;
  std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
  if (!context) return SPI_NO_MEMORY;
  if (heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr).code != heif_error_Ok)
    return SPI_BROKEN_DATA;
  heif_image_handle* rawHandle = nullptr;
  if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok || !rawHandle)
    return SPI_BROKEN_DATA;
  std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
  if (!sizeAcceptable(static_cast<uint64_t>(heif_image_handle_get_width(handle.get())),
                      static_cast<uint64_t>(heif_image_handle_get_height(handle.get()))))
    return SPI_NO_MEMORY;
  const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
  std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
  if (!options) return SPI_NO_MEMORY;
  options->convert_hdr_to_8bit = 1;
  heif_image* rawImage = nullptr;
  if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get())
              .code != heif_error_Ok ||
      !rawImage)
    return SPI_BROKEN_DATA;
  std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
  const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (!plane || width <= 0 || height <= 0 || stride < width * (alpha ? 4 : 3) ||
      heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8)
    return SPI_BROKEN_DATA;

  Picture picture;
  const int channels = alpha ? 4 : 3;
  if (!picture.allocate(static_cast<uint32_t>(width), static_cast<uint32_t>(height), channels)) return SPI_NO_MEMORY;
  const size_t rowBytes = size_t(width) * channels;
  for (int y = 0; y < height; ++y)
    std::memcpy(&picture.pixels[size_t(y) * rowBytes], plane + size_t(y) * size_t(stride), rowBytes);
  image.reset();  // the copy is all that is needed from here on

  switch (heif_image_handle_get_color_profile_type(handle.get())) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC: {
      std::vector<uint8_t> icc(heif_image_handle_get_raw_color_profile_size(handle.get()));
      if (!icc.empty() && heif_image_handle_get_raw_color_profile(handle.get(), icc.data()).code == heif_error_Ok)
        convertToSrgb(icc, picture);
      break;
    }
    case heif_color_profile_type_nclx: convertNclx(handle.get(), picture); break;
    default: break;
  }
  // The orientation is in the file's transforms, already applied; its EXIF copy is not obeyed
  // a second time.
  return handOver(picture, 1, info, bits);
}

}  // namespace

SPI_EXPORT int GetPluginInfo(int index, char* buffer, int size) {
  static const char* const kTexts[] = {"00IN",        "Velorin HEIF plug-in 1.0", "*.heic;*.heif;*.hif",
                                       "HEIF images", "*.avif",                   "AVIF images"};
  return pluginInfo(kTexts, 6, index, buffer, size);
}

// An ISO media file whose "ftyp" box names a HEIF brand, as its major brand or a compatible one.
SPI_EXPORT int IsSupported(const char*, const void* header) {
  const auto* h = static_cast<const uint8_t*>(header);
  if (!h || std::memcmp(h + 4, "ftyp", 4) != 0) return 0;
  const uint32_t boxSize = uint32_t(h[0]) << 24 | uint32_t(h[1]) << 16 | uint32_t(h[2]) << 8 | h[3];
  if (boxSize < 16 || boxSize > SPI_HEADER_BYTES) return 0;
  if (heifBrand(h + 8)) return 1;
  for (uint32_t at = 16; at + 4 <= boxSize; at += 4)
    if (heifBrand(h + at)) return 1;
  return 0;
}

SPI_EXPORT int GetPicture(const char* buf, intptr_t len, unsigned int flag, HLOCAL* info, HLOCAL* bits,
                          SpiProgressCallback, intptr_t) {
  return getPictureWith(buf, len, flag, info, bits, decode);
}

SPI_EXPORT int ConfigurationDlg(void*, int) { return SPI_NOT_IMPLEMENTED; }
