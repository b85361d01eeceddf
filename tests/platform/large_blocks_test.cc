// Blocks for large arrays: every size, on either side of the point where
// blocks are mapped on their own, must give writable memory of the size asked
// for, aligned for any object (large ones to a cache line), not overlapping another live block, and the
// allocator must serve a growing vector.

#include "platform/large_blocks.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zephro {
namespace {

TEST(LargeBlocksTest, BlocksOfEverySizeAreWholeAlignedAndApart) {
  const std::size_t sizes[] = {1,           15,          kAlignedBlock - 1, kAlignedBlock,
                               kLargeBlock - 1, kLargeBlock, kLargeBlock + 1, 3 * kLargeBlock + 17};
  std::vector<std::pair<unsigned char*, std::size_t>> live;
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    const std::size_t n = sizes[i];
    auto* block = static_cast<unsigned char*>(AllocateBlock(n));
    ASSERT_NE(block, nullptr);
    const std::size_t alignment = n < kAlignedBlock ? alignof(std::max_align_t) : kCacheLine;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignment, 0u) << n;
    std::memset(block, static_cast<int>(i + 1), n);
    live.emplace_back(block, n);
  }
  // Each block still holds its own pattern: none was written over another.
  for (std::size_t i = 0; i < live.size(); ++i) {
    const auto [block, n] = live[i];
    EXPECT_EQ(block[0], i + 1) << n;
    EXPECT_EQ(block[n / 2], i + 1) << n;
    EXPECT_EQ(block[n - 1], i + 1) << n;
    FreeBlock(block, n);
  }
  FreeBlock(nullptr, kLargeBlock);  // nothing to give back
}

TEST(LargeBlocksTest, VectorsGrowThroughTheAllocator) {
  std::vector<std::uint64_t, TBlockAllocator<std::uint64_t>> values;
  const std::size_t n = 3 * kLargeBlock / sizeof(std::uint64_t);
  for (std::size_t i = 0; i < n; ++i) {
    values.push_back(i * 7);
  }
  for (std::size_t i = 0; i < n; i += 4099) {
    ASSERT_EQ(values[i], i * 7);
  }
  values.assign(10, 1);
  values.shrink_to_fit();
  EXPECT_EQ(values.back(), 1u);
}

}  // namespace
}  // namespace zephro
