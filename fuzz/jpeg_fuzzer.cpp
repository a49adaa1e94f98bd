// Feeds arbitrary bytes to the JPEG reader, at full size or reduced as the last byte asks, and to
// the lossless transform with the rotation and greyscale the last byte asks; any crash or
// out-of-bounds access is a bug.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "formats/jpeg_reader.h"
#include "formats/jpeg_transform.h"

namespace {

struct HeaderError {
  jpeg_error_mgr library;
  std::jmp_buf jump;
};

void headerErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<HeaderError*>(cinfo->err)->jump, 1);
}
void quiet(j_common_ptr) {}

// A few bytes can declare a picture of gigapixels that decodes correctly but slowly; such inputs
// only cost the fuzzer time.
bool declaresHugeImage(const uint8_t* data, size_t size) {
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  HeaderError error;
  cinfo.err = jpeg_std_error(&error.library);
  error.library.error_exit = headerErrorExit;
  error.library.output_message = quiet;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  const bool huge = uint64_t{cinfo.image_width} * cinfo.image_height > (1u << 22);
  jpeg_destroy_decompress(&cinfo);
  return huge;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || declaresHugeImage(data, size)) return 0;
  velorin::JpegReader reader;
  velorin::ImageRecord record;
  if (data[size - 1] & 0x80) {
    reader.targetWidth = (data[size - 1] & 0x7F) + 1;
    reader.targetHeight = 1;
  }
  if (velorin::readJpegMemory(reader, data, size, record) && record.pixels) {
    volatile uint8_t sink = record.pixels.data()[record.pixels.size() - 1];
    (void)sink;
  }
  velorin::JpegTransform transform;
  const uint8_t options = data[size - 1];
  velorin::setJpegTransformRequest(transform, options & 3, (options & 4) != 0, (options >> 3) % 3,
                                   (options & 0x20) != 0);
  static uint8_t output[1 << 20];
  uint32_t capacity = sizeof output;
  velorin::transformJpegToMemory(transform, data, size, output, capacity);
  return 0;
}
