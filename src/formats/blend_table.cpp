#include "formats/blend_table.h"

#include <array>

namespace velorin {

namespace {

using BlendTable = std::array<uint8_t, 256 * 256>;

BlendTable buildBlendTable() {
  BlendTable t{};
  for (uint32_t b = 0; b < 256; ++b) {
    t[b] = 0;             // T[0][b]
    t[255 * 256 + b] = static_cast<uint8_t>(b);  // T[255][b]
    t[b * 256] = 0;
    t[b * 256 + 255] = static_cast<uint8_t>(b);
  }
  // a / 255 as a 16-bit fraction, truncated, then times b with rounding.
  for (uint32_t a = 1; a <= 254; ++a) {
    const uint32_t fraction = a * 65536 / 255;
    for (uint32_t b = a; b <= 254; ++b) {
      const auto value = static_cast<uint8_t>((b * fraction + 32768) >> 16);
      t[a * 256 + b] = value;
      t[b * 256 + a] = value;
    }
  }
  return t;
}

}  // namespace

const uint8_t* blendTable() {
  static const BlendTable table = buildBlendTable();
  return table.data();
}

}  // namespace velorin
