// Feeds arbitrary bytes to the JPEG reader, at full size or reduced as the last byte asks, and to
// the lossless transform with the rotation and greyscale the last byte asks; any crash or
// out-of-bounds access is a bug.
#include <cstdint>

#include "formats/jpeg_reader.h"
#include "formats/jpeg_transform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
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
