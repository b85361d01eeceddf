// Recycled blocks: live blocks never overlap however allocations and
// releases interleave, across slabs and threads; released blocks serve the
// next allocations of the releasing thread, also blocks another thread made;
// a thread that ends leaves its blocks to the others; the block released
// last is handed out first; other sizes go to operator new.

#include "platform/block_recycler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace zephro {
namespace {

struct TTag {};
constexpr std::size_t kSize = 24;
using TRecycler = TBlockRecycler<TTag, kSize, THeapBlocks, 256, 4096>;

struct TLive {
  std::vector<std::uint64_t*> blocks;

  void Make(std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      auto* b = static_cast<std::uint64_t*>(TRecycler::Allocate(kSize));
      b[0] = b[1] = b[2] = reinterpret_cast<std::uintptr_t>(b);
      blocks.push_back(b);
    }
  }
  // Every block still holds its own stamp, and no two share an address.
  void Check() const {
    std::set<const void*> seen(blocks.begin(), blocks.end());
    ASSERT_EQ(seen.size(), blocks.size()) << "a block was handed out twice";
    for (const std::uint64_t* b : blocks) {
      for (int w = 0; w < 3; ++w) {
        ASSERT_EQ(b[w], reinterpret_cast<std::uintptr_t>(b)) << "a block was written over";
      }
    }
  }
  void FreeEvery(std::size_t step) {
    std::vector<std::uint64_t*> kept;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      if (i % step == 0) {
        TRecycler::Free(blocks[i], kSize);
      } else {
        kept.push_back(blocks[i]);
      }
    }
    blocks.swap(kept);
  }
};

TEST(BlockRecyclerTest, LiveBlocksNeverOverlap) {
  TLive live;
  for (const auto& [make, free_every] : {std::pair{1000, 2}, {5000, 3}, {20000, 1}, {3000, 5}}) {
    live.Make(static_cast<std::size_t>(make));
    live.Check();
    live.FreeEvery(static_cast<std::size_t>(free_every));
    live.Check();
  }
  live.FreeEvery(1);
}

TEST(BlockRecyclerThreadsTest, BlocksOutliveTheThreadsThatMadeOrFreedThem) {
  TLive made_there;
  std::thread maker([&] { made_there.Make(3000); });
  maker.join();
  made_there.Check();
  // Released here, they serve this thread's next allocations.
  const std::set<const void*> released(made_there.blocks.begin(), made_there.blocks.end());
  made_there.FreeEvery(1);
  TLive here;
  here.Make(3000);
  here.Check();
  if (kRecycleBlocks) {
    std::size_t reused = 0;
    for (const std::uint64_t* b : here.blocks) {
      reused += released.count(b);
    }
    EXPECT_EQ(reused, released.size());
  }
  // A thread that frees blocks and ends hands them over: they are not lost,
  // and the others' blocks stay apart from them.
  std::thread freer([&] {
    here.FreeEvery(2);
    TLive more;
    more.Make(500);
    more.Check();
    more.FreeEvery(1);
  });
  freer.join();
  here.Make(4000);
  here.Check();
  here.FreeEvery(1);
}

// The released blocks form a stack: each allocation gets the block released
// last among those not handed out again, however many were released (the
// stack spans many of the blocks that hold it) and however releases and
// allocations interleave.
template <class Recycler, std::size_t kBlockSize>
void CheckLastReleasedComesFirst() {
  std::vector<void*> live;
  std::vector<void*> released;  // the expected stack, top last
  const auto allocate = [&](std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      void* b = Recycler::Allocate(kBlockSize);
      if (!released.empty()) {
        ASSERT_EQ(b, released.back()) << "not the block released last";
        released.pop_back();
      }
      live.push_back(b);
    }
  };
  const auto release = [&](std::size_t n) {
    for (std::size_t i = 0; i < n && !live.empty(); ++i) {
      // From the middle: the order of release differs from that of making.
      const std::size_t at = live.size() / 2;
      Recycler::Free(live[at], kBlockSize);
      released.push_back(live[at]);
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
    }
  };
  allocate(3000);
  for (const auto& [freed, made] : {std::pair{1, 1}, {2, 1}, {11, 3}, {12, 12}, {13, 20},
                                    {500, 7}, {1500, 1400}, {40, 700}}) {
    release(static_cast<std::size_t>(freed));
    allocate(static_cast<std::size_t>(made));
  }
  release(live.size());
}

TEST(BlockRecyclerTest, LastReleasedComesFirst) {
  if (!kRecycleBlocks) {
    GTEST_SKIP() << "every block is allocated afresh";
  }
  struct TLarge {};
  struct TCompact {};
  // A magazine holds one address, and ten; and six, in the compact arena.
  CheckLastReleasedComesFirst<TRecycler, kSize>();
  CheckLastReleasedComesFirst<TBlockRecycler<TLarge, 96, THeapBlocks, 256, 4096>, 96>();
  CheckLastReleasedComesFirst<TBlockRecycler<TCompact, 64, TCompactBlocks, 256, 4096>, 64>();
}

TEST(BlockRecyclerTest, OtherSizesGoToOperatorNew) {
  for (const std::size_t size : {std::size_t{8}, kSize - 8, kSize + 8, std::size_t{4096}}) {
    void* block = TRecycler::Allocate(size);
    std::memset(block, 0x5a, size);
    TRecycler::Free(block, size);
  }
}

}  // namespace
}  // namespace zephro
