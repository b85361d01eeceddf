#pragma once

// TIndexedSequence<T, Place>: a sequence with O(log n) access by position,
// insertion at a position, removal of an element given where it sits, and
// the position of an element given where it sits.
//
// It is a counted B+ tree: the elements sit in order in leaves of up to
// kLeafSize, chained both ways; each inner node keeps, for each child, the
// number of elements below it. A tree of a million elements is four levels
// deep, and a walk from the root touches one node per level, so the agenda
// stays cheap when it holds many activations and they fall out of the cache.
//
// Elements move between leaves as leaves split. Whenever an element comes
// to rest in a leaf, `Place{}(element, leaf)` is called so that its owner
// can remember the leaf: the leaf is the element's handle for IndexOf, Erase
// and Next, which find it there by comparing elements. Elements must be
// distinct (the agenda stores pointers) and cheap to copy.
//
// Not thread-safe.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "platform/debug_checks.h"

namespace zephro {

template <class T, class Place>
class TIndexedSequence {
  struct Inner;

 public:
  static constexpr int kLeafSize = 32;
  static constexpr int kInnerSize = 32;

  struct NodeBase {
    Inner* parent = nullptr;
    int n = 0;  // elements in a leaf, children in an inner node
    // Where the node sits among its parent's children (in the padding).
    std::int16_t slot = 0;
    bool leaf = true;
  };
  struct Leaf : NodeBase {
    Leaf* prev = nullptr;
    Leaf* next = nullptr;
    T items[kLeafSize];
  };

  TIndexedSequence() = default;
  TIndexedSequence(const TIndexedSequence&) = delete;
  TIndexedSequence& operator=(const TIndexedSequence&) = delete;
  ~TIndexedSequence() { Clear(); }

  int Count() const noexcept { return count_; }
  bool Empty() const noexcept { return count_ == 0; }

  // The element at `index`. REQUIRES: 0 <= index < Count().
  T& At(int index) const noexcept {
    // The ends, which an agenda asks for most, without counting down the tree.
    if (index == 0) {
      return first_->items[0];
    }
    const NodeBase* n = root_;
    if (index == count_ - 1) {
      while (!n->leaf) {
        const auto* inner = static_cast<const Inner*>(n);
        n = inner->child[inner->n - 1];
      }
      auto* last = const_cast<Leaf*>(static_cast<const Leaf*>(n));
      return last->items[last->n - 1];
    }
    while (!n->leaf) {
      const auto* inner = static_cast<const Inner*>(n);
      int i = 0;
      while (index >= inner->count[i]) {
        index -= inner->count[i];
        ++i;
      }
      n = inner->child[i];
    }
    return const_cast<Leaf*>(static_cast<const Leaf*>(n))->items[index];
  }

  // The position of `value`, which sits in `leaf`.
  int IndexOf(const Leaf* leaf, const T& value) const noexcept {
    int index = Slot(leaf, value);
    for (const NodeBase* n = leaf; n->parent != nullptr; n = n->parent) {
      const Inner* p = n->parent;
      for (int i = 0; i < n->slot; ++i) {
        index += p->count[i];
      }
    }
    return index;
  }

  // Inserts `value` so that it becomes element `index` (Count() appends).
  void Insert(int index, T value) {
    if (root_ == nullptr) {
      auto* leaf = new Leaf;
      root_ = leaf;
      first_ = leaf;
    }
    NodeBase* n = root_;
    while (!n->leaf) {
      const auto* inner = static_cast<const Inner*>(n);
      int i = 0;
      while (i + 1 < inner->n && index > inner->count[i]) {
        index -= inner->count[i];
        ++i;
      }
      n = inner->child[i];
    }
    auto* leaf = static_cast<Leaf*>(n);
    if (leaf->n == kLeafSize) {
      // Full. The nodes a new leaf needs are made first, so that running
      // out of memory leaves the sequence as it was. At either end of the
      // leaf, where an agenda places nearly everything (in front when it
      // fires the newest first, behind when the oldest), a new empty leaf
      // goes on that side and nothing moves; elsewhere the upper half moves
      // to a new leaf after it.
      TSpares spares(*leaf);
      if (index == 0) {
        leaf = PrependLeaf(leaf, spares);
      } else if (index == kLeafSize) {
        leaf = SplitLeaf(leaf, spares, kLeafSize);
        index = 0;
      } else {
        Leaf* right = SplitLeaf(leaf, spares, kLeafSize / 2);
        if (index > leaf->n) {
          index -= leaf->n;
          leaf = right;
        }
      }
    }
    std::move_backward(leaf->items + index, leaf->items + leaf->n, leaf->items + leaf->n + 1);
    leaf->items[index] = std::move(value);
    ++leaf->n;
    ++count_;
    for (NodeBase* up = leaf; up->parent != nullptr; up = up->parent) {
      ++up->parent->count[ChildIndex(up)];
    }
    Place{}(leaf->items[index], leaf);
  }

  // Removes `value`, which sits in `leaf`, and returns it.
  T Erase(Leaf* leaf, const T& value) {
    const int at = Slot(leaf, value);
    T taken = std::move(leaf->items[at]);
    std::move(leaf->items + at + 1, leaf->items + leaf->n, leaf->items + at);
    --leaf->n;
    --count_;
    for (NodeBase* n = leaf; n->parent != nullptr; n = n->parent) {
      --n->parent->count[ChildIndex(n)];
    }
    if (leaf->n == 0) {
      RemoveEmpty(leaf);
    }
    return taken;
  }

  // The element after `value` (which sits in `leaf`), or null.
  static const T* Next(const Leaf* leaf, const T& value) noexcept {
    const int at = Slot(leaf, value);
    if (at + 1 < leaf->n) {
      return &leaf->items[at + 1];
    }
    return leaf->next != nullptr ? &leaf->next->items[0] : nullptr;
  }

  // Removes every element, visiting each one (in order) first.
  template <class F>
  void Clear(F&& visit) {
    for (Leaf* leaf = first_; leaf != nullptr; leaf = leaf->next) {
      for (int i = 0; i < leaf->n; ++i) {
        visit(leaf->items[i]);
      }
    }
    Free(root_);
    root_ = nullptr;
    first_ = nullptr;
    count_ = 0;
  }
  void Clear() {
    Clear([](T&) {});
  }

  // Calls `f(element)` in order.
  template <class F>
  void ForEach(F&& f) const {
    for (const Leaf* leaf = first_; leaf != nullptr; leaf = leaf->next) {
      for (int i = 0; i < leaf->n; ++i) {
        f(leaf->items[i]);
      }
    }
  }

  // Checks the tree: every node counts what it holds, each inner node the
  // elements below each child; children link back to their parent; every
  // leaf but a lone root holds an element, every inner node a child, and all
  // leaves are equally deep; the leaf chain visits the leaves in order.
  // Calls `visit(element, leaf, index)` for each element, in order. Aborts
  // at the first broken invariant (see platform/debug_checks.h); answers the
  // number of elements.
  template <class F>
  std::size_t CheckInvariants(F&& visit) const {
    if (root_ == nullptr) {
      ZEPHRO_CHECK(count_ == 0 && first_ == nullptr, "indexed sequence: elements without a tree");
      return 0;
    }
    ZEPHRO_CHECK(root_->parent == nullptr, "indexed sequence: the root has a parent");
    const Leaf* chained = first_;
    const Leaf* before = nullptr;
    int index = 0;
    int leaf_depth = -1;
    const int total = CheckNode(root_, 0, leaf_depth, chained, before, index, visit);
    ZEPHRO_CHECK(total == count_, "indexed sequence: the count is not the number of elements");
    ZEPHRO_CHECK(chained == nullptr, "indexed sequence: the leaf chain runs past the last leaf");
    return static_cast<std::size_t>(total);
  }

 private:
  struct Inner : NodeBase {
    NodeBase* child[kInnerSize];
    int count[kInnerSize];
  };

  static int Slot(const Leaf* leaf, const T& value) noexcept {
    int at = 0;
    while (!(leaf->items[at] == value)) {
      ++at;
    }
    return at;
  }
  static int ChildIndex(const NodeBase* n) noexcept { return n->slot; }
  // Tells the children of `p` from `from` on where they sit now.
  static void Renumber(Inner* p, int from) noexcept {
    for (int i = from; i < p->n; ++i) {
      p->child[i]->slot = static_cast<std::int16_t>(i);
    }
  }

  // The nodes a new leaf beside a full one takes: the leaf, and an inner
  // node for each full ancestor and for a new root when the split reaches
  // the top.
  struct TSpares {
    static constexpr int kMost = 16;  // 32^16 elements: more than an int counts
    std::unique_ptr<Leaf> leaf;
    std::unique_ptr<Inner> inner[kMost];
    int inners = 0;

    explicit TSpares(const Leaf& full) : leaf(std::make_unique<Leaf>()) {
      for (const Inner* p = full.parent;; p = p->parent) {
        if (p != nullptr && p->n < kInnerSize) {
          break;
        }
        inner[inners] = std::make_unique<Inner>();
        inner[inners]->leaf = false;
        ++inners;
        if (p == nullptr) {
          break;
        }
      }
    }
    Inner* TakeInner() noexcept { return inner[--inners].release(); }
  };

  // Moves the elements of the full `leaf` from `keep` on (none when `keep`
  // is its size) to a new leaf after it, which its parent then holds;
  // answers the new leaf.
  Leaf* SplitLeaf(Leaf* leaf, TSpares& spares, int keep) {
    Leaf* right = spares.leaf.release();
    right->n = leaf->n - keep;
    std::move(leaf->items + keep, leaf->items + leaf->n, right->items);
    leaf->n = keep;
    for (int i = 0; i < right->n; ++i) {
      Place{}(right->items[i], right);
    }
    right->next = leaf->next;
    right->prev = leaf;
    if (leaf->next != nullptr) {
      leaf->next->prev = right;
    }
    leaf->next = right;
    AddSibling(leaf, right, right->n, /*before=*/false, spares);
    return right;
  }

  // Puts a new empty leaf before `leaf`, in the chain and in the tree;
  // answers it.
  Leaf* PrependLeaf(Leaf* leaf, TSpares& spares) noexcept {
    Leaf* front = spares.leaf.release();
    front->prev = leaf->prev;
    front->next = leaf;
    if (leaf->prev != nullptr) {
      leaf->prev->next = front;
    } else {
      first_ = front;
    }
    leaf->prev = front;
    AddSibling(leaf, front, 0, /*before=*/true, spares);
    return front;
  }

  // Files `fresh` beside `old` in `old`'s parent, after it or, when
  // `before`, before it, splitting the parents that are full. The parents
  // above count the elements of both as `old`'s; `fresh` holds
  // `fresh_size` of them.
  void AddSibling(NodeBase* old, NodeBase* fresh, int fresh_size, bool before,
                  TSpares& spares) noexcept {
    Inner* p = old->parent;
    if (p == nullptr) {
      // The root split: a new root holds the two.
      p = spares.TakeInner();
      p->n = 2;
      p->child[before ? 1 : 0] = old;
      p->child[before ? 0 : 1] = fresh;
      p->count[before ? 1 : 0] = count_ - fresh_size;
      p->count[before ? 0 : 1] = fresh_size;
      old->parent = p;
      fresh->parent = p;
      Renumber(p, 0);
      root_ = p;
      return;
    }
    int i = ChildIndex(old);
    if (p->n == kInnerSize) {
      Inner* q = SplitInner(p, spares);
      if (i >= p->n) {
        i -= p->n;
        p = q;
      }
    }
    const int at = before ? i : i + 1;  // where `fresh` goes; `old` ends up beside it
    std::move_backward(p->child + at, p->child + p->n, p->child + p->n + 1);
    std::move_backward(p->count + at, p->count + p->n, p->count + p->n + 1);
    ++p->n;
    p->child[at] = fresh;
    fresh->parent = p;
    Renumber(p, at);
    p->count[before ? i + 1 : i] -= fresh_size;
    p->count[at] = fresh_size;
  }

  // Moves the upper half of the children of the full `inner` to a new node
  // after it; answers the new node.
  Inner* SplitInner(Inner* inner, TSpares& spares) noexcept {
    Inner* right = spares.TakeInner();
    constexpr int kKeep = kInnerSize / 2;
    right->n = inner->n - kKeep;
    std::copy(inner->child + kKeep, inner->child + inner->n, right->child);
    std::copy(inner->count + kKeep, inner->count + inner->n, right->count);
    inner->n = kKeep;
    int moved = 0;
    for (int i = 0; i < right->n; ++i) {
      right->child[i]->parent = right;
      moved += right->count[i];
    }
    Renumber(right, 0);
    AddSibling(inner, right, moved, /*before=*/false, spares);
    return right;
  }

  // Takes the emptied `leaf` out of the tree, with the inner nodes it
  // leaves empty; a root left with one child gives way to it.
  void RemoveEmpty(Leaf* leaf) {
    if (leaf->parent == nullptr) {
      return;  // the root stays while the sequence is empty
    }
    if (leaf->prev != nullptr) {
      leaf->prev->next = leaf->next;
    } else {
      first_ = leaf->next;
    }
    if (leaf->next != nullptr) {
      leaf->next->prev = leaf->prev;
    }
    int i = leaf->slot;  // where the node that goes sat in its parent
    Inner* p = leaf->parent;
    delete leaf;
    for (;;) {
      std::move(p->child + i + 1, p->child + p->n, p->child + i);
      std::move(p->count + i + 1, p->count + p->n, p->count + i);
      --p->n;
      Renumber(p, i);
      if (p->n > 0 || p->parent == nullptr) {
        break;
      }
      i = p->slot;
      Inner* up = p->parent;
      delete p;
      p = up;
    }
    while (!root_->leaf && root_->n == 1) {
      auto* old = static_cast<Inner*>(root_);
      root_ = old->child[0];
      root_->parent = nullptr;
      delete old;
    }
  }

  static void Free(NodeBase* n) {
    if (n == nullptr) {
      return;
    }
    if (n->leaf) {
      delete static_cast<Leaf*>(n);
      return;
    }
    auto* inner = static_cast<Inner*>(n);
    for (int i = 0; i < inner->n; ++i) {
      Free(inner->child[i]);
    }
    delete inner;
  }

  template <class F>
  static int CheckNode(const NodeBase* n, int depth, int& leaf_depth, const Leaf*& chained,
                       const Leaf*& before, int& index, F& visit) {
    ZEPHRO_CHECK(depth < 64, "indexed sequence: a path longer than any tree grows (a cycle)");
    if (n->leaf) {
      const auto* leaf = static_cast<const Leaf*>(n);
      ZEPHRO_CHECK(leaf->n > 0 || leaf->parent == nullptr, "indexed sequence: an empty leaf");
      ZEPHRO_CHECK(leaf->n <= kLeafSize, "indexed sequence: a leaf holds more than it can");
      ZEPHRO_CHECK(leaf_depth < 0 || leaf_depth == depth,
                   "indexed sequence: leaves at different depths");
      leaf_depth = depth;
      ZEPHRO_CHECK(chained == leaf && leaf->prev == before,
                   "indexed sequence: the leaf chain does not follow the tree's order");
      before = leaf;
      chained = leaf->next;
      for (int i = 0; i < leaf->n; ++i) {
        visit(leaf->items[i], leaf, index++);
      }
      return leaf->n;
    }
    const auto* inner = static_cast<const Inner*>(n);
    ZEPHRO_CHECK(inner->n > 0 && inner->n <= kInnerSize,
                 "indexed sequence: an inner node without children, or with too many");
    int total = 0;
    for (int i = 0; i < inner->n; ++i) {
      ZEPHRO_CHECK(inner->child[i]->parent == inner,
                   "indexed sequence: a child does not link back to its parent");
      ZEPHRO_CHECK(inner->child[i]->slot == i,
                   "indexed sequence: a child does not know where it sits in its parent");
      const int below =
          CheckNode(inner->child[i], depth + 1, leaf_depth, chained, before, index, visit);
      ZEPHRO_CHECK(below == inner->count[i],
                   "indexed sequence: a node does not count the elements below a child");
      total += below;
    }
    return total;
  }

  NodeBase* root_ = nullptr;
  Leaf* first_ = nullptr;  // the leftmost leaf
  int count_ = 0;
};

}  // namespace zephro
