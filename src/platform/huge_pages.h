// Large pixel blocks backed by transparent huge pages.
//
// A 12-megapixel photograph decodes into a 36 MB block; backed by 4 KiB pages its first touch
// takes some 9,000 page faults, which cost more than decoding the file. Blocks aligned to 2 MiB
// and marked for huge pages fault 512 times less often. Where the kernel has huge pages switched
// off the blocks still work, with ordinary pages.
#pragma once

#include <cstddef>

namespace velorin {

// A block of at least `bytes` bytes on a 2 MiB boundary, or null. A block given back earlier may
// be handed out again; its old content is cleared only when zeroFilled is asked for.
void* allocateHugePageBlock(size_t bytes, bool zeroFilled);
// Gives back a block of allocateHugePageBlock with the same byte count.
void releaseHugePageBlock(void* block, size_t bytes);

// Keeps freed heap blocks of up to 32 MiB in the process for the next file instead of giving
// them back, so the codecs' working buffers are not faulted in afresh for every file.
void keepFreedHeapBlocks();

}  // namespace velorin
