// Image plug-in for JPEG XL on libjxl: bare codestreams and the container, with alpha; of an
// animation the first frame. libjxl applies the orientation; XYB pictures are decoded straight
// to sRGB, others converted from their own profile.
#include <jxl/decode.h>
#include <jxl/resizable_parallel_runner.h>

#include <cstring>
#include <memory>

#include "../common/picture.h"

using namespace velorin_plugin;

namespace {

struct DecoderDeleter {
  void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};
struct RunnerDeleter {
  void operator()(void* r) const { JxlResizableParallelRunnerDestroy(r); }
};

int decode(const uint8_t* data, size_t size, HLOCAL* info, HLOCAL* bits) {
  std::unique_ptr<JxlDecoder, DecoderDeleter> decoder(JxlDecoderCreate(nullptr));
  std::unique_ptr<void, RunnerDeleter> runner(JxlResizableParallelRunnerCreate(nullptr));
  if (!decoder || !runner) return SPI_NO_MEMORY;
  JxlDecoder* dec = decoder.get();
  if (JxlDecoderSubscribeEvents(dec, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE) !=
          JXL_DEC_SUCCESS ||
      JxlDecoderSetParallelRunner(dec, JxlResizableParallelRunner, runner.get()) != JXL_DEC_SUCCESS ||
      JxlDecoderSetInput(dec, data, size) != JXL_DEC_SUCCESS)
    return SPI_INTERNAL_ERROR;
  JxlDecoderCloseInput(dec);

  JxlBasicInfo basic{};
  JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  Picture picture;
  std::vector<uint8_t> icc;
  for (;;) {
    switch (JxlDecoderProcessInput(dec)) {
      case JXL_DEC_BASIC_INFO:
        if (JxlDecoderGetBasicInfo(dec, &basic) != JXL_DEC_SUCCESS) return SPI_BROKEN_DATA;
        if (!sizeAcceptable(basic.xsize, basic.ysize)) return SPI_NO_MEMORY;
        format.num_channels = basic.alpha_bits > 0 ? 4 : 3;
        JxlResizableParallelRunnerSetThreads(runner.get(),
                                             JxlResizableParallelRunnerSuggestThreads(basic.xsize, basic.ysize));
        break;
      case JXL_DEC_COLOR_ENCODING: {
        if (!basic.uses_original_profile) {
          JxlColorEncoding srgb;
          std::memset(&srgb, 0, sizeof srgb);
          srgb.color_space = basic.num_color_channels == 1 ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
          srgb.white_point = JXL_WHITE_POINT_D65;
          srgb.primaries = JXL_PRIMARIES_SRGB;
          srgb.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
          srgb.rendering_intent = JXL_RENDERING_INTENT_RELATIVE;
          JxlDecoderSetPreferredColorProfile(dec, &srgb);
        }
        size_t iccSize = 0;
        if (JxlDecoderGetICCProfileSize(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &iccSize) == JXL_DEC_SUCCESS &&
            iccSize > 0 && iccSize < (size_t{1} << 26)) {
          icc.resize(iccSize);
          if (JxlDecoderGetColorAsICCProfile(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, icc.data(), iccSize) !=
              JXL_DEC_SUCCESS)
            icc.clear();
        }
        break;
      }
      case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
        // The sizes in the basic info are before the orientation, which libjxl applies.
        const bool turned = basic.orientation >= JXL_ORIENT_TRANSPOSE;
        size_t needed = 0;
        if (!picture.allocate(turned ? basic.ysize : basic.xsize, turned ? basic.xsize : basic.ysize,
                              static_cast<int>(format.num_channels)) ||
            JxlDecoderImageOutBufferSize(dec, &format, &needed) != JXL_DEC_SUCCESS ||
            needed != picture.pixels.size())
          return needed == 0 ? SPI_BROKEN_DATA : SPI_NO_MEMORY;
        if (JxlDecoderSetImageOutBuffer(dec, &format, picture.pixels.data(), needed) != JXL_DEC_SUCCESS)
          return SPI_BROKEN_DATA;
        break;
      }
      case JXL_DEC_FULL_IMAGE:
        // The first frame is the picture; the rest of an animation is not decoded.
        if (picture.pixels.empty()) return SPI_BROKEN_DATA;
        convertToSrgb(icc, picture);
        return handOver(picture, 1, info, bits);
      case JXL_DEC_SUCCESS:  // ended without a frame
      case JXL_DEC_NEED_MORE_INPUT:
      case JXL_DEC_ERROR:
      default: return SPI_BROKEN_DATA;
    }
  }
}

}  // namespace

SPI_EXPORT int GetPluginInfo(int index, char* buffer, int size) {
  static const char* const kTexts[] = {"00IN", "Velorin JPEG XL plug-in 1.0", "*.jxl", "JPEG XL images"};
  return pluginInfo(kTexts, 4, index, buffer, size);
}

SPI_EXPORT int IsSupported(const char*, const void* header) {
  if (!header) return 0;
  const JxlSignature signature = JxlSignatureCheck(static_cast<const uint8_t*>(header), SPI_HEADER_BYTES);
  return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER ? 1 : 0;
}

SPI_EXPORT int GetPicture(const char* buf, intptr_t len, unsigned int flag, HLOCAL* info, HLOCAL* bits,
                          SpiProgressCallback, intptr_t) {
  if (!info || !bits) return SPI_INTERNAL_ERROR;
  Source source;
  if (!readSource(buf, len, flag, source)) return SPI_FILE_READ_ERROR;
  return decode(source.data, source.size, info, bits);
}

SPI_EXPORT int ConfigurationDlg(void*, int) { return SPI_NOT_IMPLEMENTED; }
