// Feeds arbitrary pixels to the colour-depth reducer: the first bytes choose the size, the depths
// and dithering, the rest fill the palette and the rows. Any crash, out-of-bounds access or an
// index outside the target palette is a bug.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/depth_converter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  static const int32_t kTargets[] = {1, 2, 3, 4, 5, 6, 7, 8};
  velorin::DepthConverter converter;
  converter.width = 1 + data[0] % 64;
  converter.height = 1 + data[1] % 64;
  const int32_t sourceBits = (data[2] & 1) ? 24 : 8;
  const int32_t targetBits = kTargets[(data[2] >> 1) % 8];
  converter.dither = (data[2] & 0x10) != 0;
  setDepthConversion(converter, sourceBits, targetBits);
  data += 3;
  size -= 3;

  // Palette and pixels repeat the remaining bytes, so short inputs still fill them.
  auto fill = [&](uint8_t* out, size_t count, size_t offset) {
    for (size_t i = 0; i < count; ++i) out[i] = data[(offset + i) % size];
  };
  velorin::RgbQuad palette[256];
  fill(reinterpret_cast<uint8_t*>(palette), sizeof palette, 0);
  const size_t stride = static_cast<size_t>(velorin::paddedStride(converter.width, sourceBits));
  std::vector<uint8_t> pixels(stride * static_cast<size_t>(converter.height) + 4);
  fill(pixels.data(), pixels.size(), sizeof palette);

  velorin::RgbQuad targetPalette[256] = {};
  std::vector<uint8_t> indices(static_cast<size_t>(converter.width) * converter.height);
  if (convertToIndexBytes(converter, palette, pixels.data(), targetPalette, indices.data())) {
    for (const uint8_t index : indices)
      if (index >> targetBits) std::abort();
  }
  std::vector<uint8_t> grey(indices.size());
  velorin::DepthConverter greyConverter = converter;
  setDepthConversion(greyConverter, sourceBits, 8);
  convertToGrey(greyConverter, palette, pixels.data(), grey.data());
  return 0;
}
