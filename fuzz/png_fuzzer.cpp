// Feeds arbitrary bytes to the PNG reader; any crash or out-of-bounds access is a bug. The last
// byte picks the background options, so both compositing routes are reached.
#include "budget.h"
#include "formats/png_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velorin::MemoryReservation reservation;
  if (!velorin::fuzz::reserveForHeader(data, size, reservation)) return 0;
  velorin::PngReader reader;
  const uint8_t options = size ? data[size - 1] : 0;
  reader.preferFileBackground = options & 1;
  reader.defaultBackground = {static_cast<uint8_t>(options), 255, static_cast<uint8_t>(options << 3)};
  velorin::ImageRecord record;
  if (velorin::readPngMemory(reader, data, size, record) && record.pixels) {
    volatile uint8_t sink = record.pixels.data()[record.pixels.size() - 1];
    (void)sink;
  }
  return 0;
}
