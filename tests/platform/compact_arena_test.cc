// The compact arena: blocks carved from it are aligned to its unit, never
// overlap, and are named by 32-bit numbers that lead back to them; null is
// named 0; links made from the recycler that carves from it survive the
// blocks' reuse on other threads.

#include "platform/compact_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "platform/block_recycler.h"

namespace zephro {
namespace {

TEST(CompactArenaTest, CarvedBlocksAreAlignedDisjointAndNamed) {
  std::set<std::uint32_t> names;
  std::vector<std::pair<std::byte*, std::size_t>> blocks;
  for (const std::size_t units : {1, 1, 3, 64, 1, 7, 4096, 2}) {
    const std::size_t bytes = units * TCompactArena::kUnit;
    auto* block = static_cast<std::byte*>(TCompactArena::Carve(bytes));
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block) % TCompactArena::kUnit, 0u);
    std::memset(block, static_cast<int>(units & 0xff), bytes);  // writable, whole
    for (std::size_t u = 0; u < units; ++u) {
      std::byte* unit = block + u * TCompactArena::kUnit;
      const std::uint32_t name = TCompactArena::Name(unit);
      ASSERT_NE(name, 0u) << "0 names nothing";
      ASSERT_EQ(TCompactArena::At(name), unit);
      ASSERT_TRUE(names.insert(name).second) << "two units share a name";
    }
    blocks.emplace_back(block, bytes);
  }
  for (const auto& [block, bytes] : blocks) {
    const auto fill = static_cast<std::byte>((bytes / TCompactArena::kUnit) & 0xff);
    for (std::size_t i = 0; i < bytes; ++i) {
      ASSERT_EQ(block[i], fill) << "a block was written over";
    }
  }
  EXPECT_EQ(TCompactArena::Name(nullptr), 0u);
  EXPECT_GE(TCompactArena::Reserved(), TCompactArena::Carved());
}

TEST(CompactArenaTest, AskingForMoreThanTheRangeFailsAndLeavesItUsable) {
  TCompactArena::Carve(TCompactArena::kUnit);  // the range is reserved by the first carving
  ASSERT_GT(TCompactArena::Reserved(), 0u);
  EXPECT_THROW(TCompactArena::Carve(TCompactArena::Reserved() + TCompactArena::kUnit),
               std::bad_alloc);
  void* block = TCompactArena::Carve(TCompactArena::kUnit);
  EXPECT_EQ(TCompactArena::At(TCompactArena::Name(block)), block);
}

struct TNode {
  TCompactLink<TNode> next;
  std::uint32_t stamp = 0;
  static void* operator new(std::size_t size) {
    return TBlockRecycler<TNode, TCompactArena::kUnit, TCompactBlocks>::Allocate(size);
  }
  static void operator delete(void* block, std::size_t size) noexcept {
    TBlockRecycler<TNode, TCompactArena::kUnit, TCompactBlocks>::Free(block, size);
  }
};

// Lists linked by names, built on one thread and freed on another, then
// built again from the recycled blocks.
TEST(CompactArenaThreadsTest, LinksLeadBackThroughRecycledBlocks) {
  const auto build = [](std::uint32_t n) {
    TNode* head = nullptr;
    for (std::uint32_t i = 0; i < n; ++i) {
      auto* node = new TNode;
      node->next = head;
      node->stamp = i;
      head = node;
    }
    return head;
  };
  const auto check_and_free = [](TNode* head, std::uint32_t n) {
    std::uint32_t expected = n;
    while (head != nullptr) {
      EXPECT_EQ(head->stamp, --expected);
      TNode* next = head->next.get();
      delete head;
      head = next;
    }
    EXPECT_EQ(expected, 0u);
  };
  for (const std::uint32_t n : {1u, 100u, 20000u}) {
    TNode* head = build(n);
    std::thread other([&] { check_and_free(head, n); });
    other.join();
    check_and_free(build(n), n);
  }
}

}  // namespace
}  // namespace zephro
