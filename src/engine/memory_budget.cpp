#include "engine/memory_budget.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "imaging/stop_flag.h"
#include "platform/system_memory.h"

namespace velorin {
namespace {

int64_t defaultBudget() {
  const int64_t physical = physicalMemoryBytes();
  return physical > 0 ? physical / 2 : int64_t{1} << 31;
}

struct Budget {
  std::mutex mutex;
  std::condition_variable released;
  int64_t setBytes = 0;  // 0: the default
  int64_t reserved = 0;

  int64_t limit() const { return setBytes > 0 ? setBytes : defaultBudget(); }
};

Budget& budget() {
  static Budget instance;
  return instance;
}

uint32_t be16(const uint8_t* p) { return static_cast<uint32_t>(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t* p) { return be16(p) << 16 | be16(p + 2); }
uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(p[1] << 8 | p[0]); }
uint32_t le32(const uint8_t* p) { return le16(p + 2) << 16 | le16(p); }

bool readExactly(const ByteReader& read, uint64_t offset, uint8_t* out, size_t count) {
  return read(offset, out, count) == count;
}

// The first frame header (SOF0 to SOF15, not DHT, JPG or DAC) before the scan.
bool jpegDimensions(const ByteReader& read, int64_t& width, int64_t& height) {
  uint64_t offset = 2;
  // A frame header follows a few markers in practice; the bound keeps hostile chains short.
  for (int marker = 0; marker < 4096; ++marker) {
    uint8_t head[9];
    if (!readExactly(read, offset, head, 4)) return false;
    if (head[0] != 0xFF) return false;
    const uint8_t code = head[1];
    if (code == 0xFF) {  // fill byte
      ++offset;
      continue;
    }
    if (code == 0xD8 || code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {
      offset += 2;
      continue;
    }
    if (code == 0xDA || code == 0xD9) return false;
    const uint32_t length = be16(head + 2);
    if (length < 2) return false;
    if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) {
      if (!readExactly(read, offset, head, 9)) return false;
      height = be16(head + 5);
      width = be16(head + 7);
      return true;
    }
    offset += 2 + length;
  }
  return false;
}

bool tiffDimensions(const ByteReader& read, bool bigEndian, int64_t& width, int64_t& height) {
  auto u16 = [&](const uint8_t* p) { return bigEndian ? be16(p) : le16(p); };
  auto u32 = [&](const uint8_t* p) { return bigEndian ? be32(p) : le32(p); };
  uint8_t head[8];
  if (!readExactly(read, 0, head, 8)) return false;
  const uint64_t ifd = u32(head + 4);
  uint8_t countBytes[2];
  if (!readExactly(read, ifd, countBytes, 2)) return false;
  // Every entry, as the reader takes the size from wherever it stands; at most 768 KiB.
  std::vector<uint8_t> entries(12 * size_t{u16(countBytes)});
  if (!readExactly(read, ifd + 2, entries.data(), entries.size())) return false;
  width = height = 0;
  for (size_t at = 0; at < entries.size(); at += 12) {
    const uint8_t* entry = entries.data() + at;
    const uint32_t tag = u16(entry);
    if (tag != 256 && tag != 257) continue;
    const uint32_t type = u16(entry + 2);
    const int64_t value = type == 3 ? u16(entry + 8) : type == 4 ? u32(entry + 8) : 0;
    (tag == 256 ? width : height) = value;
  }
  return width > 0 && height > 0;
}

}  // namespace

void setMemoryBudget(int64_t bytes) {
  Budget& b = budget();
  {
    std::lock_guard lock(b.mutex);
    b.setBytes = bytes > 0 ? bytes : 0;
  }
  b.released.notify_all();
}

int64_t memoryBudget() {
  Budget& b = budget();
  std::lock_guard lock(b.mutex);
  return b.limit();
}

int64_t memoryReserved() {
  Budget& b = budget();
  std::lock_guard lock(b.mutex);
  return b.reserved;
}

bool MemoryReservation::reserve(int64_t bytes) {
  release();
  bytes = std::max<int64_t>(bytes, 0);
  Budget& b = budget();
  std::unique_lock lock(b.mutex);
  for (;;) {
    const int64_t limit = b.limit();
    if (bytes > limit) return false;
    if (b.reserved + bytes <= limit) break;
    // A stop request cannot notify; a conversion waiting for memory looks at it now and then.
    if (conversionStopRequested()) return false;
    b.released.wait_for(lock, std::chrono::milliseconds(50));
  }
  b.reserved += bytes;
  bytes_ = bytes;
  return true;
}

bool MemoryReservation::tryGrow(int64_t extra) {
  if (extra <= 0) return true;
  Budget& b = budget();
  std::lock_guard lock(b.mutex);
  if (b.reserved + extra > b.limit()) return false;
  b.reserved += extra;
  bytes_ += extra;
  return true;
}

void MemoryReservation::release() {
  if (bytes_ == 0) return;
  Budget& b = budget();
  {
    std::lock_guard lock(b.mutex);
    b.reserved -= bytes_;
    bytes_ = 0;
  }
  b.released.notify_all();
}

int64_t conversionEstimate(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) return 0;
  // Four copies of the 24-bit picture, its rows padded to 4 bytes: the decoded picture, the
  // processed one, and the writer's buffers (up to 6 bytes a pixel for a JPEG encoder's
  // coefficients). Two 32-bit header fields can overflow the product: such a picture needs more
  // than any budget, so the estimate saturates.
  if (width > (int64_t{1} << 40) || height > (int64_t{1} << 40)) return INT64_MAX;
  const int64_t stride = (width * 3 + 3) & ~int64_t{3};
  if (stride > INT64_MAX / 4 / height) return INT64_MAX;
  return 4 * stride * height;
}

bool headerDimensions(const ByteReader& read, int64_t& width, int64_t& height) {
  width = height = 0;
  uint8_t head[26];
  const size_t got = read(0, head, sizeof head);
  if (got < 10) return false;
  if (head[0] == 'B' && head[1] == 'M' && got >= 26) {
    width = static_cast<int32_t>(le32(head + 18));
    const auto h = static_cast<int32_t>(le32(head + 22));
    height = h < 0 ? -int64_t{h} : h;
  } else if (got >= 24 && std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0) {
    width = be32(head + 16);
    height = be32(head + 20);
  } else if (head[0] == 0xFF && head[1] == 0xD8) {
    if (!jpegDimensions(read, width, height)) return false;
  } else if ((head[0] == 'I' && head[1] == 'I' && head[2] == 0x2A) ||
             (head[0] == 'M' && head[1] == 'M' && head[3] == 0x2A)) {
    if (!tiffDimensions(read, head[0] == 'M', width, height)) return false;
  } else if (head[0] == 'G' && head[1] == 'I' && head[2] == 'F') {
    width = le16(head + 6);
    height = le16(head + 8);
  } else {
    return false;
  }
  return width > 0 && height > 0;
}

bool headerDimensions(const uint8_t* bytes, size_t length, int64_t& width, int64_t& height) {
  const ByteReader read = [bytes, length](uint64_t offset, uint8_t* out, size_t count) -> size_t {
    if (offset >= length) return 0;
    const size_t n = std::min<uint64_t>(count, length - offset);
    std::memcpy(out, bytes + offset, n);
    return n;
  };
  return headerDimensions(read, width, height);
}

bool parseByteSize(std::string_view text, int64_t& bytes) {
  size_t digits = 0;
  uint64_t value = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    value = value * 10 + static_cast<uint64_t>(text[digits] - '0');
    if (value > (uint64_t{1} << 62)) return false;
    ++digits;
  }
  if (digits == 0) return false;
  std::string unit;
  for (const char c : text.substr(digits)) unit += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  int shift = -1;
  for (const auto& [name, bits] : {std::pair{"", 0}, {"B", 0}, {"K", 10}, {"KB", 10}, {"KIB", 10},
                                   {"M", 20}, {"MB", 20}, {"MIB", 20}, {"G", 30}, {"GB", 30},
                                   {"GIB", 30}, {"T", 40}, {"TB", 40}, {"TIB", 40}})
    if (unit == name) shift = bits;
  if (shift < 0 || value == 0 || value > (uint64_t{1} << (62 - shift))) return false;
  bytes = static_cast<int64_t>(value << shift);
  return true;
}

std::string byteSizeText(int64_t bytes) {
  static const char* const kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0 || value >= 100 || value == static_cast<int64_t>(value))
    std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
  else
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace velorin
