#pragma once

// TInlineVector: a vector of trivially copyable items that keeps its first
// item in place. Objects made by the ten thousand that mostly hold one item
// (a network node's one successor, a component's one partner in free
// notification) then need no block of their own; a second item moves them
// all to an array, which is kept from then on.
//
// Only what its users need: appending, taking the last item off, removing
// by a predicate in order, and iteration.

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <type_traits>

namespace zephro {

template <class T>
class TInlineVector {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                "items are copied as bytes and never destroyed");

 public:
  TInlineVector() noexcept : store_{} {}
  TInlineVector(const TInlineVector&) = delete;
  TInlineVector& operator=(const TInlineVector&) = delete;
  ~TInlineVector() {
    if (capacity_ > 1) {
      delete[] store_.many;
    }
  }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T* begin() noexcept { return data(); }
  T* end() noexcept { return data() + size_; }
  const T* begin() const noexcept { return data(); }
  const T* end() const noexcept { return data() + size_; }
  std::reverse_iterator<const T*> rbegin() const noexcept {
    return std::reverse_iterator<const T*>(end());
  }
  std::reverse_iterator<const T*> rend() const noexcept {
    return std::reverse_iterator<const T*>(begin());
  }
  const T& operator[](std::size_t i) const noexcept { return data()[i]; }
  // REQUIRES for back and pop_back: not empty.
  const T& back() const noexcept { return data()[size_ - 1]; }
  void pop_back() noexcept { --size_; }

  void push_back(const T& item) {
    if (size_ == capacity_) {
      const std::uint32_t capacity = capacity_ * 2;
      T* many = new T[capacity];
      std::copy(begin(), end(), many);
      if (capacity_ > 1) {
        delete[] store_.many;
      }
      store_.many = many;
      capacity_ = capacity;
    }
    data()[size_++] = item;
  }

  // Removes the items `remove` is true for, keeping the order of the others;
  // answers how many went.
  template <class Pred>
  std::size_t erase_if(Pred remove) {
    T* kept = std::remove_if(begin(), end(), remove);
    const auto gone = static_cast<std::size_t>(end() - kept);
    size_ = static_cast<std::uint32_t>(kept - begin());
    return gone;
  }

 private:
  T* data() noexcept { return capacity_ == 1 ? &store_.one : store_.many; }
  const T* data() const noexcept { return capacity_ == 1 ? &store_.one : store_.many; }

  union Store {
    T one;
    T* many;  // from new[], capacity_ items
  } store_;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 1;
};

}  // namespace zephro
