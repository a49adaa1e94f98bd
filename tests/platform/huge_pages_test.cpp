// Huge-page pixel blocks, alone and as the image core's allocator for large blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "imaging/image.h"
#include "platform/huge_pages.h"

namespace velorin {
namespace {

TEST(HugePageBlocks, AreAlignedZeroFilledAndWritableToTheLastByte) {
  const size_t bytes = (size_t{5} << 20) + 4;
  auto* block = static_cast<uint8_t*>(allocateHugePageBlock(bytes, true));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % (size_t{2} << 20), 0u);
  for (size_t i = 0; i < bytes; i += 4093) ASSERT_EQ(block[i], 0) << i;
  EXPECT_EQ(block[bytes - 1], 0);
  block[0] = 1;
  block[bytes - 1] = 2;
  releaseHugePageBlock(block, bytes);
  EXPECT_EQ(allocateHugePageBlock(0, true), nullptr);
}

TEST(HugePageBlocks, AGivenBackBlockIsClearedWhenTakenAgainForAZeroFilledUse) {
  const size_t bytes = (size_t{7} << 20) + 4;
  auto* first = static_cast<uint8_t*>(allocateHugePageBlock(bytes, true));
  ASSERT_NE(first, nullptr);
  std::fill(first, first + bytes, uint8_t{0xAB});
  releaseHugePageBlock(first, bytes);
  auto* again = static_cast<uint8_t*>(allocateHugePageBlock(bytes - 100, true));
  ASSERT_NE(again, nullptr);
  for (size_t i = 0; i < bytes - 100; i += 4093) ASSERT_EQ(again[i], 0) << i;
  EXPECT_EQ(again[bytes - 101], 0);
  releaseHugePageBlock(again, bytes - 100);
}

int largeBlocksTaken = 0;
int largeBlocksGiven = 0;
size_t lastTakenBytes = 0;
size_t lastGivenBytes = 0;

void* countingAllocate(size_t bytes, bool zeroFilled) {
  ++largeBlocksTaken;
  lastTakenBytes = bytes;
  return allocateHugePageBlock(bytes, zeroFilled);
}

void countingRelease(void* block, size_t bytes) {
  ++largeBlocksGiven;
  lastGivenBytes = bytes;
  releaseHugePageBlock(block, bytes);
}

void* refusingAllocate(size_t, bool) { return nullptr; }

TEST(HugePageBlocks, ServeTheImageCoresLargeBlocksAndComeBackWithTheirSize) {
  setLargeBlockAllocator(&countingAllocate, &countingRelease);
  {
    PixelBuffer small, large;
    ASSERT_TRUE(small.allocate(1000));
    EXPECT_EQ(largeBlocksTaken, 0);  // small blocks stay on the heap
    ASSERT_TRUE(large.allocate(kLargeBlockSize));
    EXPECT_EQ(largeBlocksTaken, 1);
    EXPECT_EQ(lastTakenBytes, kLargeBlockSize + 4);
    large.data()[kLargeBlockSize + 3] = 7;  // the spare bytes belong to the block too
    PixelBuffer moved = std::move(large);
    EXPECT_EQ(largeBlocksGiven, 0);
    moved.reset();
    EXPECT_EQ(largeBlocksGiven, 1);
    EXPECT_EQ(lastGivenBytes, kLargeBlockSize + 4);
    ASSERT_TRUE(moved.allocate(kLargeBlockSize * 2, false));
    EXPECT_EQ(moved.data()[kLargeBlockSize * 2 + 3], 0);  // spare bytes are cleared regardless
  }
  EXPECT_EQ(largeBlocksGiven, 2);

  // An allocator that cannot deliver leaves the block to the heap.
  setLargeBlockAllocator(&refusingAllocate, &countingRelease);
  {
    PixelBuffer large;
    ASSERT_TRUE(large.allocate(kLargeBlockSize));
    EXPECT_EQ(large.data()[kLargeBlockSize - 1], 0);
  }
  EXPECT_EQ(largeBlocksGiven, 2);
  setLargeBlockAllocator(nullptr, nullptr);
}

}  // namespace
}  // namespace velorin
