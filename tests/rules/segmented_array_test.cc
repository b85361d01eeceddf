// The paged array under the join memories: indexes must map to the element
// made at that position across page boundaries, elements must stay where
// they are while the array grows, and clearing must hand back reset elements
// (forgetting, those left as they were).

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rules/segmented_array.h"

namespace zephro {
namespace {

TEST(SegmentedArrayTest, IndexesAndAddressesSurviveGrowth) {
  // Sizes around the page boundaries of a first page of 4: 4, 12, 28, 60.
  for (std::size_t n : {0u, 1u, 3u, 4u, 5u, 11u, 12u, 13u, 28u, 61u, 1000u}) {
    TSegmentedArray<std::string, 4> array;
    std::vector<const std::string*> addresses;
    for (std::size_t i = 0; i < n; ++i) {
      std::string& s = array.emplace_back();
      EXPECT_TRUE(s.empty());
      s = std::to_string(i);
      addresses.push_back(&s);
    }
    ASSERT_EQ(array.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(&array[i], addresses[i]) << "element " << i << " of " << n << " moved";
      EXPECT_EQ(array[i], std::to_string(i));
    }
  }
}

TEST(SegmentedArrayTest, ClearResetsElementsAndKeepsThePages) {
  TSegmentedArray<std::shared_ptr<int>, 2> array;
  auto held = std::make_shared<int>(7);
  for (int i = 0; i < 9; ++i) {
    array.emplace_back() = held;
  }
  EXPECT_EQ(held.use_count(), 10);
  const auto* first = &array[0];
  array.clear();
  EXPECT_TRUE(array.empty());
  EXPECT_EQ(held.use_count(), 1) << "cleared elements must let go of what they held";
  EXPECT_EQ(array.emplace_back(), nullptr);
  EXPECT_EQ(&array[0], first) << "the first page is kept";
  array.emplace_back() = held;
  array.release();
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_TRUE(array.empty());
}

// forget() leaves the elements as they are: reuse_back() hands each one
// out again untouched, in its place, and makes new ones past those ever made;
// emplace_back() resets what forget() left.
TEST(SegmentedArrayTest, ForgottenElementsComeBackAsTheyWereLeft) {
  struct Case {
    std::size_t filled;  // before forget()
    std::size_t reused;  // taken again after it
  };
  const Case cases[] = {{0, 3}, {1, 1}, {4, 2}, {5, 9}, {13, 13}, {13, 30}, {61, 100}};
  for (const Case& c : cases) {
    TSegmentedArray<std::string, 4> array;
    std::vector<const std::string*> addresses;
    for (std::size_t i = 0; i < c.filled; ++i) {
      array.emplace_back() = "left " + std::to_string(i);
      addresses.push_back(&array[i]);
    }
    array.forget();
    ASSERT_TRUE(array.empty());
    for (std::size_t i = 0; i < c.reused; ++i) {
      std::string& s = array.reuse_back();
      if (i < c.filled) {
        EXPECT_EQ(&s, addresses[i]) << "element " << i << " moved";
        EXPECT_EQ(s, "left " + std::to_string(i)) << "element " << i << " was touched";
      } else {
        EXPECT_TRUE(s.empty()) << "element " << i << " was never made";
      }
      s = "new " + std::to_string(i);
    }
    ASSERT_EQ(array.size(), c.reused);
    array.forget();
    for (std::size_t i = 0; i < c.reused; ++i) {
      EXPECT_TRUE(array.emplace_back().empty()) << "emplace_back resets element " << i;
    }
  }
}

TEST(SegmentedArrayTest, PagesAsLargeAsBlocksOfTheirOwn) {
  // Elements of 64 bytes from a first page of 1024: the fifth page and those
  // after it are large blocks (see large_blocks.h).
  struct Wide {
    std::uint64_t words[8] = {};
  };
  TSegmentedArray<Wide, 1024> array;
  const std::size_t n = 4 * kLargeBlock / sizeof(Wide);
  for (std::size_t i = 0; i < n; ++i) {
    array.emplace_back().words[i % 8] = i;
  }
  for (std::size_t i = 0; i < n; i += 997) {
    ASSERT_EQ(array[i].words[i % 8], i) << "element " << i;
  }
  array.release();
  EXPECT_TRUE(array.empty());
  EXPECT_EQ(array.emplace_back().words[0], 0u) << "a released array starts afresh";
}

}  // namespace
}  // namespace zephro
