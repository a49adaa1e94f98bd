// Hand-built slot files for the settings tests.
#pragma once

#include <QString>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin::test {

// Builds a file with the given count: integer slots, string slots (UTF-16LE from ASCII) and raw
// entries; blocks are laid out after the directory in slot order.
struct SlotFileBuilder {
  uint32_t count = 396;
  std::map<int, int32_t> ints;
  std::map<int, std::u16string> strings;
  std::map<int, std::pair<uint32_t, uint32_t>> rawEntries;  // offset, length as given

  std::vector<uint8_t> build() const {
    const uint32_t dataStart = 4 + 8 * count;
    std::vector<std::pair<uint32_t, uint32_t>> entries(count);
    std::vector<uint8_t> data;
    for (const auto& [slot, value] : ints)
      if (uint32_t(slot) < count) entries[slot] = {1, uint32_t(value)};
    for (const auto& [slot, text] : strings) {
      if (uint32_t(slot) >= count) continue;
      entries[slot] = {dataStart + uint32_t(data.size()), uint32_t(text.size() * 2)};
      for (char16_t c : text) {
        data.push_back(uint8_t(c));
        data.push_back(uint8_t(c >> 8));
      }
    }
    for (const auto& [slot, entry] : rawEntries)
      if (uint32_t(slot) < count) entries[slot] = entry;
    Bytes b;
    b.le16(count).le16(1);
    for (const auto& [offset, length] : entries) b.le32(offset).le32(length);
    b.data.insert(b.data.end(), data.begin(), data.end());
    return b.data;
  }

  void writeTo(const std::filesystem::path& path) const { writeBytes(path, build()); }
};

inline uint32_t le32At(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

}  // namespace velorin::test
