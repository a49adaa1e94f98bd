// Large pixel blocks backed by transparent huge pages.
//
// A 12-megapixel photograph decodes into a 36 MB block; backed by 4 KiB pages its first touch
// takes some 9,000 page faults, which cost more than decoding the file. Blocks aligned to 2 MiB
// and marked for huge pages fault 512 times less often. Where the kernel has huge pages switched
// off the blocks still work, with ordinary pages.
#pragma once

#include <cstddef>

namespace velorin {

// A zero-filled block of at least `bytes` bytes on a 2 MiB boundary, or null.
void* allocateHugePageBlock(size_t bytes);
// Gives back a block of allocateHugePageBlock with the same byte count.
void releaseHugePageBlock(void* block, size_t bytes);

}  // namespace velorin
