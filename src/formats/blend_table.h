// Alpha compositing by table: blendTable()[a * 256 + b] is a x b / 255, rounded, symmetric in
// a and b, exact at 0 and 255. Compositing a sample c of alpha a onto a background sample g is
// T[a][c] + T[255 - a][g], which never exceeds 255.
#pragma once

#include <cstdint>

namespace velorin {

// 256 x 256 bytes, built once on first use and never changed.
const uint8_t* blendTable();

inline uint8_t blend(const uint8_t* table, uint8_t alpha, uint8_t sample, uint8_t background) {
  return static_cast<uint8_t>(table[alpha * 256 + sample] + table[(255 - alpha) * 256 + background]);
}

}  // namespace velorin
