#include "platform/huge_pages.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace velorin {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t roundedLength(size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

// Blocks given back, kept for the next image of the same size: a batch of photographs from one
// camera needs the same blocks file after file, and a kept block is cleared faster than fresh
// memory is faulted in. Bounded, and every request the cache cannot serve gives its oldest block
// back to the system, so blocks of sizes a batch no longer uses do not stay.
struct BlockCache {
  struct Entry {
    void* block;
    size_t length;
  };
  static constexpr size_t kMostBlocks = 16;
  static constexpr size_t kMostBytes = size_t{256} << 20;
  std::mutex mutex;
  std::vector<Entry> entries;  // the most recently given back last
  size_t bytes = 0;

  // Takes the block given back longest ago out of the cache; entries must not be empty.
  Entry popOldest() {
    const Entry oldest = entries.front();
    entries.erase(entries.begin());
    bytes -= oldest.length;
    return oldest;
  }
};

BlockCache& cache() {
  static BlockCache* instance = new BlockCache;  // never destroyed: blocks may return at exit
  return *instance;
}

void* takeCached(size_t length) {
  BlockCache& c = cache();
  BlockCache::Entry stale{nullptr, 0};
  {
    std::lock_guard lock(c.mutex);
    for (size_t i = c.entries.size(); i-- > 0;) {
      if (c.entries[i].length != length) continue;
      void* block = c.entries[i].block;
      c.entries.erase(c.entries.begin() + static_cast<ptrdiff_t>(i));
      c.bytes -= length;
      return block;
    }
    if (!c.entries.empty()) stale = c.popOldest();
  }
  if (stale.block) munmap(stale.block, stale.length);
  return nullptr;
}

void* mapAligned(size_t length) {
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

}  // namespace

void* allocateHugePageBlock(size_t bytes, bool zeroFilled) {
  if (bytes == 0 || bytes > SIZE_MAX / 2) return nullptr;
  const size_t length = roundedLength(bytes);
  if (void* block = takeCached(length)) {
    if (zeroFilled) std::memset(block, 0, bytes);  // the caller sees only its bytes
    return block;
  }
  return mapAligned(length);
}

void releaseHugePageBlock(void* block, size_t bytes) {
  if (!block) return;
  const size_t length = roundedLength(bytes);
  BlockCache& c = cache();
  std::vector<BlockCache::Entry> evicted;
  {
    std::lock_guard lock(c.mutex);
    if (length <= BlockCache::kMostBytes) {
      while (!c.entries.empty() &&
             (c.entries.size() >= BlockCache::kMostBlocks || c.bytes + length > BlockCache::kMostBytes))
        evicted.push_back(c.popOldest());
      c.entries.push_back({block, length});
      c.bytes += length;
      block = nullptr;
    }
  }
  for (const BlockCache::Entry& e : evicted) munmap(e.block, e.length);
  if (block) munmap(block, length);
}

void keepFreedHeapBlocks() {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

}  // namespace velorin
