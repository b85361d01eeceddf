#pragma once

// An array that grows by whole pages, each twice the size of the one before:
// elements never move, so growing copies nothing, references stay valid, and
// a large array never exists twice in memory while it grows. A page is
// touched only as far as elements were made in it; large pages are blocks of
// their own (see large_blocks.h).

#include <bit>
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "platform/large_blocks.h"

namespace zephro {

template <class T, std::size_t kFirstPage = 4>
class TSegmentedArray {
  static_assert(kFirstPage > 0 && (kFirstPage & (kFirstPage - 1)) == 0,
                "the first page holds a power of two of elements");
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__,
                "pages are aligned for ordinary objects only");

 public:
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }

  T& operator[](std::size_t i) noexcept {
    const auto [page, offset] = Locate(i);
    return pages_[page][offset];
  }
  const T& operator[](std::size_t i) const noexcept {
    const auto [page, offset] = Locate(i);
    return pages_[page][offset];
  }

  TSegmentedArray() = default;
  TSegmentedArray(const TSegmentedArray&) = delete;
  TSegmentedArray& operator=(const TSegmentedArray&) = delete;
  ~TSegmentedArray() { release(); }

  // A new element at the end, default-constructed (or reset, where clear()
  // or forget() left one).
  T& emplace_back() {
    bool made = false;
    T& slot = Append(made);
    if (!made) {
      slot = T{};
    }
    return slot;
  }
  // A new element at the end: where forget() left one, that one as it was
  // left, neither read nor written (for a holder that writes it whole);
  // else a default-constructed one.
  T& reuse_back() {
    bool made = false;
    return Append(made);
  }

  // Forgets every element (resetting them) and keeps the pages for the next.
  void clear() {
    for (std::size_t i = 0; i < size_; ++i) {
      (*this)[i] = T{};
    }
    size_ = 0;
  }
  // Forgets every element without touching it, for a holder that emptied
  // each one already, and keeps the pages for the next (see reuse_back).
  void forget() noexcept { size_ = 0; }
  // Forgets every element and gives the pages back.
  void release() noexcept {
    for (std::size_t i = 0; i < made_; ++i) {
      (*this)[i].~T();
    }
    for (std::size_t page = 0; page < pages_.size(); ++page) {
      FreeBlock(pages_[page], PageBytes(page));
    }
    pages_.clear();
    size_ = 0;
    made_ = 0;
  }

 private:
  // The place after the last element, made now when it never was (`made`).
  T& Append(bool& made) {
    const auto [page, offset] = Locate(size_);
    if (page == pages_.size()) {
      pages_.reserve(page + 1);
      pages_.push_back(static_cast<T*>(AllocateBlock(PageBytes(page))));
    }
    T* slot = pages_[page] + offset;
    made = size_ >= made_;
    if (made) {
      ::new (static_cast<void*>(slot)) T();
      ++made_;
    }
    ++size_;
    return *slot;
  }

  // Page p holds the elements [kFirstPage * (2^p - 1), kFirstPage * (2^(p+1) - 1)).
  static std::pair<std::size_t, std::size_t> Locate(std::size_t i) noexcept {
    const std::size_t page = static_cast<std::size_t>(std::bit_width(i / kFirstPage + 1)) - 1;
    return {page, i - kFirstPage * ((std::size_t{1} << page) - 1)};
  }

  static constexpr std::size_t PageBytes(std::size_t page) noexcept {
    return (kFirstPage << page) * sizeof(T);
  }

  std::vector<T*> pages_;
  std::size_t size_ = 0;
  std::size_t made_ = 0;  // elements constructed so far (a prefix of the pages)
};

}  // namespace zephro
