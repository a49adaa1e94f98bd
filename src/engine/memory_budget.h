// The one process-wide budget that conversions reserve their large blocks against, so that a
// tiny hostile header or many parallel workers cannot take the machine's memory.
//
// Each conversion reserves its whole estimate once, before it holds any block, so no two workers
// can each hold a part and wait for the rest; a reservation that does not fit what is free waits
// for others to release theirs, and one larger than the whole budget fails at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace velorin {

// Sets the budget in bytes; 0 or less restores the default, half the physical memory.
void setMemoryBudget(int64_t bytes);
// The budget in bytes now in force.
int64_t memoryBudget();
// What all reservations hold together now.
int64_t memoryReserved();

// A share of the budget, given back when it ends.
class MemoryReservation {
 public:
  MemoryReservation() = default;
  MemoryReservation(const MemoryReservation&) = delete;
  MemoryReservation& operator=(const MemoryReservation&) = delete;
  ~MemoryReservation() { release(); }

  // Replaces what this reservation holds by bytes, waiting until they are free; false (holding
  // nothing) when bytes exceed the whole budget.
  bool reserve(int64_t bytes);
  // Adds extra bytes only when they are free now; never waits, so a holder cannot block others.
  bool tryGrow(int64_t extra);
  void release();
  int64_t bytes() const { return bytes_; }

 private:
  int64_t bytes_ = 0;
};

// The memory a conversion of a picture of width x height needs at most: the decoded picture, the
// processed one, and the writer's own copy (a JPEG encoder keeps the whole image's coefficients).
int64_t conversionEstimate(int64_t width, int64_t height);

// Positioned reads of a source: up to count bytes at offset, the number read.
using ByteReader = std::function<size_t(uint64_t offset, uint8_t* out, size_t count)>;

// The picture size a source's header claims (BMP, PNG, JPEG, TIFF, GIF); false when it holds no
// size this can read. Reads only the header's bytes.
bool headerDimensions(const ByteReader& read, int64_t& width, int64_t& height);
bool headerDimensions(const uint8_t* bytes, size_t length, int64_t& width, int64_t& height);

// "512", "64K", "300M", "2G" (also with "B", "KB", "KiB"; powers of 1024) as bytes; false for
// anything else, zero or more than 2^62.
bool parseByteSize(std::string_view text, int64_t& bytes);
// A size for messages: "300 MiB", "1.5 GiB".
std::string byteSizeText(int64_t bytes);

}  // namespace velorin
