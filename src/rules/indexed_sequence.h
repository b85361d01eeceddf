#pragma once

// TIndexedSequence<T>: a sequence with O(log n) access by position, insertion
// at a position, removal of an element given its handle, and the position of
// an element given its handle.
//
// It is an implicit treap: a binary tree whose in-order walk is the sequence,
// balanced by random priorities, each node counting the nodes below it. The
// agenda uses it so that ordered insertion stays logarithmic at a million
// activations while positions keep the exact meaning of a plain list.
//
// Handles (Node*) stay valid until their element is erased. Not thread-safe.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/debug_checks.h"

namespace zephro {

template <class T>
class TIndexedSequence {
 public:
  struct Node {
    T value;
    Node* left = nullptr;
    Node* right = nullptr;
    Node* parent = nullptr;
    std::uint32_t priority = 0;
    std::int32_t size = 1;
  };

  TIndexedSequence() = default;
  TIndexedSequence(const TIndexedSequence&) = delete;
  TIndexedSequence& operator=(const TIndexedSequence&) = delete;
  ~TIndexedSequence() { Clear(); }

  int Count() const noexcept { return root_ != nullptr ? root_->size : 0; }
  bool Empty() const noexcept { return root_ == nullptr; }

  // The node at `index`. REQUIRES: 0 <= index < Count().
  Node* At(int index) const noexcept {
    Node* n = root_;
    while (n != nullptr) {
      int left = SizeOf(n->left);
      if (index < left) {
        n = n->left;
      } else if (index == left) {
        return n;
      } else {
        index -= left + 1;
        n = n->right;
      }
    }
    return nullptr;
  }

  // The position of `node` in the sequence.
  int IndexOf(const Node* node) const noexcept {
    int index = SizeOf(node->left);
    for (const Node* n = node; n->parent != nullptr; n = n->parent) {
      if (n == n->parent->right) {
        index += SizeOf(n->parent->left) + 1;
      }
    }
    return index;
  }

  // Inserts `value` so that it becomes element `index` (Count() appends).
  Node* Insert(int index, T value) {
    auto* node = new Node{std::move(value)};
    node->priority = NextPriority();
    auto [left, right] = Split(root_, index);
    root_ = Merge(Merge(left, node), right);
    root_->parent = nullptr;
    return node;
  }

  // Removes `node` from the sequence and returns its value.
  T Erase(Node* node) {
    Node* replacement = Merge(node->left, node->right);
    if (replacement != nullptr) {
      replacement->parent = node->parent;
    }
    if (node->parent == nullptr) {
      root_ = replacement;
    } else if (node->parent->left == node) {
      node->parent->left = replacement;
    } else {
      node->parent->right = replacement;
    }
    for (Node* p = node->parent; p != nullptr; p = p->parent) {
      --p->size;
    }
    T value = std::move(node->value);
    delete node;
    return value;
  }

  // Removes every element, visiting each value (in no particular order) first.
  template <class F>
  void Clear(F&& visit) {
    std::vector<Node*> stack;
    if (root_ != nullptr) {
      stack.push_back(root_);
    }
    root_ = nullptr;
    while (!stack.empty()) {
      Node* n = stack.back();
      stack.pop_back();
      if (n->left != nullptr) {
        stack.push_back(n->left);
      }
      if (n->right != nullptr) {
        stack.push_back(n->right);
      }
      visit(n->value);
      delete n;
    }
  }
  void Clear() {
    Clear([](T&) {});
  }

  // The node after `node` in the sequence, or null.
  static const Node* Next(const Node* node) noexcept { return Successor(node); }

  // Checks the tree: the root has no parent, each child links back to its
  // parent and ranks no higher than it, each node counts itself and the
  // nodes below it. Calls `visit(value, node, index)` for each element, in
  // order. Aborts at the first broken invariant (see platform/debug_checks.h);
  // answers the number of elements.
  template <class F>
  std::size_t CheckInvariants(F&& visit) const {
    if (root_ == nullptr) {
      return 0;
    }
    ZEPHRO_CHECK(root_->parent == nullptr, "indexed sequence: the root has a parent");
    ZEPHRO_CHECK(root_->size > 0, "indexed sequence: the root counts no element");
    const auto total = static_cast<std::size_t>(root_->size);
    // An in-order walk. Each node's count is checked before the walk goes
    // below it, so a tree that runs in a circle is reported (its counts
    // cannot all add up) instead of walked for ever.
    std::vector<const Node*> path;
    auto descend = [&](const Node* n) {
      for (; n != nullptr; n = n->left) {
        ZEPHRO_CHECK(path.size() < total,
                     "indexed sequence: a path longer than the sequence (the tree runs in a circle)");
        ZEPHRO_CHECK(n->size == 1 + SizeOf(n->left) + SizeOf(n->right),
                     "indexed sequence: a node does not count itself and the nodes below it");
        for (const Node* child : {n->left, n->right}) {
          if (child != nullptr) {
            ZEPHRO_CHECK(child->parent == n, "indexed sequence: a child does not link back to its parent");
            ZEPHRO_CHECK(child->priority <= n->priority,
                         "indexed sequence: a child ranks higher than its parent");
          }
        }
        path.push_back(n);
      }
    };
    descend(root_);
    std::size_t index = 0;
    while (!path.empty()) {
      const Node* n = path.back();
      path.pop_back();
      ZEPHRO_CHECK(index < total, "indexed sequence: more elements than the root counts");
      visit(n->value, n, static_cast<int>(index));
      ++index;
      descend(n->right);
    }
    ZEPHRO_CHECK(index == total, "indexed sequence: fewer elements than the root counts");
    return total;
  }

  // In-order walk.
  template <class F>
  void ForEach(F&& f) const {
    const Node* n = Leftmost(root_);
    while (n != nullptr) {
      f(n->value);
      n = Successor(n);
    }
  }

 private:
  static int SizeOf(const Node* n) noexcept { return n != nullptr ? n->size : 0; }
  static void Update(Node* n) noexcept { n->size = 1 + SizeOf(n->left) + SizeOf(n->right); }

  std::uint32_t NextPriority() noexcept {
    // xorshift32: priorities only need to look random to the tree.
    seed_ ^= seed_ << 13;
    seed_ ^= seed_ >> 17;
    seed_ ^= seed_ << 5;
    return seed_;
  }

  // Splits `n` into the first `k` elements and the rest.
  static std::pair<Node*, Node*> Split(Node* n, int k) {
    Node* left_root = nullptr;
    Node* right_root = nullptr;
    Node** left_hole = &left_root;
    Node** right_hole = &right_root;
    Node* left_parent = nullptr;
    Node* right_parent = nullptr;
    // Iterative top-down split; sizes are fixed up afterwards along both spines.
    while (n != nullptr) {
      if (SizeOf(n->left) < k) {
        k -= SizeOf(n->left) + 1;
        *left_hole = n;
        n->parent = left_parent;
        left_parent = n;
        left_hole = &n->right;
        n = n->right;
      } else {
        *right_hole = n;
        n->parent = right_parent;
        right_parent = n;
        right_hole = &n->left;
        n = n->left;
      }
    }
    *left_hole = nullptr;
    *right_hole = nullptr;
    FixSizesUp(left_parent);
    FixSizesUp(right_parent);
    return {left_root, right_root};
  }

  static void FixSizesUp(Node* n) noexcept {
    for (; n != nullptr; n = n->parent) {
      Update(n);
    }
  }

  // Joins two sequences; every element of `a` precedes every element of `b`.
  static Node* Merge(Node* a, Node* b) {
    if (a == nullptr) {
      return b;
    }
    if (b == nullptr) {
      return a;
    }
    Node* root = nullptr;
    Node** hole = &root;
    Node* parent = nullptr;
    while (a != nullptr && b != nullptr) {
      if (a->priority > b->priority) {
        *hole = a;
        a->parent = parent;
        parent = a;
        hole = &a->right;
        a = a->right;
      } else {
        *hole = b;
        b->parent = parent;
        parent = b;
        hole = &b->left;
        b = b->left;
      }
    }
    Node* rest = a != nullptr ? a : b;
    *hole = rest;
    if (rest != nullptr) {
      rest->parent = parent;
    }
    FixSizesUp(parent);
    return root;
  }

  static const Node* Leftmost(const Node* n) noexcept {
    while (n != nullptr && n->left != nullptr) {
      n = n->left;
    }
    return n;
  }
  static const Node* Successor(const Node* n) noexcept {
    if (n->right != nullptr) {
      return Leftmost(n->right);
    }
    while (n->parent != nullptr && n == n->parent->right) {
      n = n->parent;
    }
    return n->parent;
  }

  Node* root_ = nullptr;
  std::uint32_t seed_ = 2463534242u;
};

}  // namespace zephro
