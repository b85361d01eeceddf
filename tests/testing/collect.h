#pragma once

// Test helper: what a container holds, as a vector the matchers can compare.

#include <functional>
#include <type_traits>
#include <vector>

namespace zephro::test {

// The `projection` of every element of `range`, in iteration order.
template <class Range, class Projection>
auto Collect(const Range& range, Projection projection) {
  using Element = decltype(*std::begin(range));
  std::vector<std::decay_t<std::invoke_result_t<Projection&, Element>>> result;
  for (const auto& element : range) {
    result.push_back(std::invoke(projection, element));
  }
  return result;
}

}  // namespace zephro::test
