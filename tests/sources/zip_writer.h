// A small ZIP writer for the tests: every archive shape the reader must handle, made on the spot.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace velorin::test {

struct ZipMember {
  std::string name;
  std::vector<uint8_t> data;
  uint16_t method = 8;         // 0 stored, 8 deflated, anything else stored as is
  bool descriptor = false;     // sizes and CRC only in a data descriptor (flag bit 3)
  uint16_t flags = 0;          // extra general purpose flags (bit 11: UTF-8 name)
  uint32_t crcXor = 0;         // spoils the recorded CRC when not 0
  int64_t declaredSize = -1;   // overrides the recorded uncompressed size
  uint16_t dosTime = (3 << 11) | (4 << 5) | 3;             // 03:04:06
  uint16_t dosDate = ((2020 - 1980) << 9) | (1 << 5) | 2;  // 2020-01-02
};

inline std::vector<uint8_t> rawDeflate(const std::vector<uint8_t>& data) {
  z_stream stream{};
  deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&stream, data.size()) + 16);
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// The archive bytes: optional junk in front, the members, the directory, the end record.
inline std::vector<uint8_t> makeZip(const std::vector<ZipMember>& members,
                                    const std::string& comment = {},
                                    const std::vector<uint8_t>& prefix = {}) {
  Bytes zip;
  zip.data = prefix;
  Bytes directory;
  for (const ZipMember& m : members) {
    const std::vector<uint8_t> packed = m.method == 8 ? rawDeflate(m.data) : m.data;
    const uint32_t crc = static_cast<uint32_t>(crc32(0, m.data.data(), static_cast<uInt>(m.data.size()))) ^ m.crcXor;
    const uint32_t size = m.declaredSize >= 0 ? static_cast<uint32_t>(m.declaredSize) : static_cast<uint32_t>(m.data.size());
    const uint16_t flags = m.flags | (m.descriptor ? 0x0008 : 0);
    const auto offset = static_cast<uint32_t>(zip.data.size());
    zip.le32(0x04034B50).le16(20).le16(flags).le16(m.method).le16(m.dosTime).le16(m.dosDate);
    if (m.descriptor) zip.le32(0).le32(0).le32(0);
    else zip.le32(crc).le32(static_cast<uint32_t>(packed.size())).le32(size);
    zip.le16(static_cast<uint32_t>(m.name.size())).le16(0).text(m.name);
    zip.data.insert(zip.data.end(), packed.begin(), packed.end());
    if (m.descriptor) zip.le32(0x08074B50).le32(crc).le32(static_cast<uint32_t>(packed.size())).le32(size);
    directory.le32(0x02014B50).le16(20).le16(20).le16(flags).le16(m.method).le16(m.dosTime).le16(m.dosDate);
    directory.le32(crc).le32(static_cast<uint32_t>(packed.size())).le32(size);
    directory.le16(static_cast<uint32_t>(m.name.size())).le16(0).le16(0).le16(0).le16(0).le32(0).le32(offset);
    directory.text(m.name);
  }
  const auto directoryOffset = static_cast<uint32_t>(zip.data.size());
  zip.data.insert(zip.data.end(), directory.data.begin(), directory.data.end());
  const auto count = static_cast<uint32_t>(members.size());
  zip.le32(0x06054B50).le16(0).le16(0).le16(count).le16(count);
  zip.le32(static_cast<uint32_t>(directory.data.size())).le32(directoryOffset);
  zip.le16(static_cast<uint32_t>(comment.size())).text(comment);
  return zip.data;
}

inline std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace velorin::test
