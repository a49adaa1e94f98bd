// Feeds arbitrary plug-in answers to the DIB conversion: the input's first two bytes give the
// size of the info block, the next two the picture depth, then come the info block and the
// pixel bits. Any crash or out-of-bounds access is a bug.
#include <algorithm>

#include "formats/input_file.h"
#include "formats/plugin_dib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t infoSize = std::min<size_t>(velorin::loadLe16(data), size - 4);
  const uint16_t depth = velorin::loadLe16(data + 2);
  const uint8_t* info = data + 4;
  const uint8_t* bits = info + infoSize;
  const size_t bitsSize = size - 4 - infoSize;
  velorin::ImageRecord record;
  if (velorin::convertPluginDib(info, infoSize, bitsSize ? bits : nullptr, bitsSize, depth, record) ==
          velorin::Status::Ok &&
      record.pixels.size() > 0) {
    volatile uint8_t sink = record.pixels.data()[record.pixels.size() - 1];
    (void)sink;
  }
  return 0;
}
