// Feeds arbitrary bytes to the GIF reader, and the same bytes as a raw code stream to the LZW
// decoder; whatever the decoder produces must survive an encode-decode round trip unchanged.
// Any crash, out-of-bounds access or mismatch is a bug.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "formats/gif_reader.h"
#include "formats/gif_writer.h"

namespace {

void readWhole(const uint8_t* data, size_t size) {
  velorin::GifReader reader;
  reader.preferFileBackground = size > 0 && (data[size - 1] & 1);
  velorin::ImageRecord record;
  if (velorin::readGifMemory(reader, data, size, record) && record.pixels) {
    volatile uint8_t sink = record.pixels.data()[record.pixels.size() - 1];
    (void)sink;
  }
}

void roundTripCodeStream(const uint8_t* data, size_t size) {
  if (size < 2) return;
  const int minimumCodeSize = 2 + data[0] % 7;
  const size_t outputSize = 1 + (data[1] * 37u) % 4000;
  std::vector<uint8_t> pixels(outputSize, 0);
  const int64_t stored = velorin::decodeGifLzw(data + 2, size - 2, minimumCodeSize, pixels.data(), outputSize);
  if (stored < 0 || static_cast<size_t>(stored) > outputSize) std::abort();
  // Pixels of a damaged stream may exceed the roots; the encoder takes only roots.
  const uint8_t mask = static_cast<uint8_t>((1u << minimumCodeSize) - 1);
  for (uint8_t& p : pixels) p &= mask;
  std::vector<uint8_t> codes(velorin::gifLzwBound(outputSize));
  const size_t written = velorin::encodeGifLzw(pixels.data(), outputSize, minimumCodeSize, codes.data());
  if (written == 0 || written > codes.size()) std::abort();
  std::vector<uint8_t> back(outputSize, 0xEE);
  if (velorin::decodeGifLzw(codes.data(), written, minimumCodeSize, back.data(), outputSize) !=
          static_cast<int64_t>(outputSize) ||
      back != pixels)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  readWhole(data, size);
  roundTripCodeStream(data, size);
  return 0;
}
