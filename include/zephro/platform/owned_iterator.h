#pragma once

// TOwnedIterator<T>: walks a std::vector<std::unique_ptr<T>> handing out T&, so
// a container that owns its elements through pointers can be iterated as if it
// held them:
//
//   for (TTreeNode& child : node) { ... }
//
// Valid as long as the vector is not changed.

#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

namespace zephro {

template <class T>
class TOwnedIterator {
 public:
  using Base = typename std::vector<std::unique_ptr<T>>::const_iterator;
  using value_type = T;
  using difference_type = std::ptrdiff_t;
  using reference = T&;
  using pointer = T*;
  using iterator_category = std::forward_iterator_tag;

  TOwnedIterator() = default;
  explicit TOwnedIterator(Base base) : base_(base) {}
  T& operator*() const { return **base_; }
  T* operator->() const { return base_->get(); }
  TOwnedIterator& operator++() {
    ++base_;
    return *this;
  }
  TOwnedIterator operator++(int) {
    TOwnedIterator old = *this;
    ++base_;
    return old;
  }
  friend bool operator==(const TOwnedIterator& a, const TOwnedIterator& b) = default;

 private:
  Base base_{};
};

}  // namespace zephro
