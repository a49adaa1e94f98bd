// Feeds arbitrary bytes to the BMP reader; any crash or out-of-bounds access is a bug.
#include "formats/bmp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velorin::BmpReader reader;
  velorin::ImageRecord record;
  if (velorin::readBmpMemory(reader, data, size, record) && record.pixels) {
    volatile uint8_t sink = record.pixels.data()[record.pixels.size() - 1];
    (void)sink;
  }
  return 0;
}
