#include "platform/huge_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace velorin {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t roundedLength(size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

}  // namespace

void* allocateHugePageBlock(size_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX / 2) return nullptr;
  const size_t length = roundedLength(bytes);
  // Map one huge page more than needed and trim both ends so the block starts on a boundary.
  void* mapped = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  const uintptr_t end = start + length + kHugePage;
  if (end > aligned + length) munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
  auto* block = reinterpret_cast<void*>(aligned);
  madvise(block, length, MADV_HUGEPAGE);  // advice only: refused, the block has ordinary pages
  return block;
}

void releaseHugePageBlock(void* block, size_t bytes) {
  if (block) munmap(block, roundedLength(bytes));
}

}  // namespace velorin
