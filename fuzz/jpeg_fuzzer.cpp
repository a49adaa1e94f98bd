// Feeds arbitrary bytes to the JPEG reader, at full size or reduced as the last byte asks; any
// crash or out-of-bounds access is a bug.
#include "formats/jpeg_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velorin::JpegReader reader;
  velorin::ImageRecord record;
  if (size > 0 && (data[size - 1] & 0x80)) {
    reader.targetWidth = (data[size - 1] & 0x7F) + 1;
    reader.targetHeight = 1;
  }
  if (velorin::readJpegMemory(reader, data, size, record) && record.pixels) {
    volatile uint8_t sink = record.pixels.data()[record.pixels.size() - 1];
    (void)sink;
  }
  return 0;
}
