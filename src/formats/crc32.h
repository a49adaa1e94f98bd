// The CRC-32 of PNG chunks and ZIP members: reflected polynomial 0xEDB88320, register starting
// at all ones, result inverted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velorin {

// Continues a CRC over more bytes. Start with 0; the value returned after the last block is the
// finished CRC (the inversions are done inside, so calls chain: crc32Update(crc32Update(0, a),
// b) is the CRC of a followed by b).
uint32_t crc32Update(uint32_t crc, const uint8_t* bytes, size_t length);

// The 256-entry byte table, built once on first use and never changed.
const uint32_t* crc32Table();

}  // namespace velorin
