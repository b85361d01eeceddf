#pragma once

// The pattern nodes a compiler may share, filed by their parent, test and
// value, for parents with many successors.
//
// A new rule shares an existing pattern node when one under the same parent
// tests the same thing; without an index that means walking the parent's
// successors. A program whose rules each test their own constant of one slot
// (a rule per product code, say) gives one node thousands of successors, and
// compiling n such rules walked n * n / 2 of them.
//
// The index files every pattern successor of a node with at least kFrom
// successors, and nothing else: below that the walk is as cheap. A lookup
// yields the filed nodes of one key, and of those the compiler takes the
// oldest that fits, which is the one the walk would have met first
// (successors are kept in the order they were linked, and node ids grow in
// that order).
//
// Values that compare by compatibility (fuzzy values) do not hash like what
// they equal: once the network holds a pattern node with one, lookups are
// refused and the compiler walks, until the index is cleared.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rules/rete_nodes.h"

namespace zephro {

class TAlphaIndex {
 public:
  static constexpr std::size_t kFrom = 16;

  // True when the pattern successors of `parent` are all filed here, so a
  // lookup may stand for walking them.
  bool Covers(TReteNode& parent) const noexcept {
    return usable_ && parent.Successors().size() >= kFrom;
  }
  // The key of a pattern node under `parent` testing `test` against `value`.
  static std::uint64_t KeyOf(const TReteNode& parent, TPatternMatchTest test,
                             const IIEValue* value) noexcept;

  // `to` was just linked below `from`: files what the index must now hold.
  void Linked(TReteNode& from, TReteNode& to);
  // Forgets `node` if it is filed; called before the node leaves its parent.
  void Forget(const TReteNode& node) noexcept;
  void Clear() noexcept;

  // The oldest filed node of `key` for which `fits` answers true, or null.
  template <class Fits>
  TPatternMatchNode* Find(std::uint64_t key, Fits&& fits) const {
    if (slots_.empty()) {
      return nullptr;
    }
    TPatternMatchNode* best = nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = key & mask; slots_[i] != nullptr; i = (i + 1) & mask) {
      TPatternMatchNode* node = slots_[i];
      if (node != Gone() && KeyOf(node) == key && (best == nullptr || node->Id() < best->Id()) &&
          fits(*node)) {
        best = node;
      }
    }
    return best;
  }

 private:
  // Marks a slot whose node was forgotten: probes go on past it.
  static TPatternMatchNode* Gone() noexcept {
    return reinterpret_cast<TPatternMatchNode*>(std::uintptr_t{1});
  }
  static std::uint64_t KeyOf(const TPatternMatchNode* node) noexcept;
  bool Contains(const TPatternMatchNode& node) const noexcept;
  void Add(TPatternMatchNode& node);
  // Rebuilds the slots for `count_ + 1` nodes at most half full.
  void Grow();

  std::vector<TPatternMatchNode*> slots_;  // a power of two long, or empty
  std::size_t count_ = 0;                  // filed nodes
  std::size_t used_ = 0;                   // slots not empty: nodes and marks
  bool usable_ = true;
};

}  // namespace zephro
