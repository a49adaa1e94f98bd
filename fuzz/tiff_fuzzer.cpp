// Feeds arbitrary bytes to the TIFF reader; any crash or out-of-bounds access is a bug.
#include "formats/tiff_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velorin::TiffReader reader;
  velorin::ImageRecord record;
  if (velorin::readTiffMemory(reader, data, size, record) && record.pixels) {
    volatile uint8_t sink = record.pixels.data()[record.pixels.size() - 1];
    (void)sink;
  }
  return 0;
}
