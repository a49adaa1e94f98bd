#include "formats/crc32.h"

#include <array>

namespace velorin {

namespace {

// Eight tables let the loop take eight bytes per step; the first one is the classic byte table.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

CrcTables buildTables() {
  CrcTables t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n)
    for (int k = 1; k < 8; ++k) t[k][n] = t[0][t[k - 1][n] & 0xFF] ^ (t[k - 1][n] >> 8);
  return t;
}

const CrcTables& tables() {
  static const CrcTables built = buildTables();
  return built;
}

}  // namespace

const uint32_t* crc32Table() { return tables()[0].data(); }

uint32_t crc32Update(uint32_t crc, const uint8_t* p, size_t length) {
  const CrcTables& t = tables();
  uint32_t c = ~crc;
  while (length >= 8) {
    const uint32_t low = c ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
    const uint32_t high = p[4] | p[5] << 8 | p[6] << 16 | static_cast<uint32_t>(p[7]) << 24;
    c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
        t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    p += 8;
    length -= 8;
  }
  while (length--) c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
  return ~c;
}

}  // namespace velorin
