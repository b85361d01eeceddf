#pragma once

// TText: the immutable, shared text of atoms, strings, variables and slot names.
//
// A text is one heap block holding its bytes and their string hash, computed
// once. Copying a TText shares the block, so cloning a value never copies its
// text, and two texts compare by identity first, then by hash and bytes.
// The empty text needs no block.
//
// Thread safety: the block's count is atomic; the bytes never change.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace zephro {

// The engine's 32-bit string hash: h := h * 31 + byte over the text, wrapping.
// A text of 16 bytes or more contributes only every (length / 8)-th byte,
// starting with the first.
std::int32_t CalculateHash(std::string_view s) noexcept;
// The same walk with an explicit step; a step below 1 counts as 1.
std::int32_t CalculateHash(std::string_view s, int step) noexcept;
// The walk of step 1 continued over `s` from `h`: CalculateHash(a + b, 1) is
// ContinueHash(ContinueHash(0, a), b).
inline std::uint32_t ContinueHash(std::uint32_t h, std::string_view s) noexcept {
  for (const char c : s) {
    h = h * 31u + static_cast<unsigned char>(c);
  }
  return h;
}

class TText {
 public:
  TText() noexcept = default;
  explicit TText(std::string_view s);
  // A text equal to `s` that shares its block with an equal short text made
  // recently on this thread, if there is one: a program names the same
  // atoms, variables and slots over and over, and each then costs one block.
  // A few hundred recent texts are remembered (each kept alive while it is).
  static TText Shared(std::string_view s);
  TText(const TText& other) noexcept : block_(other.block_) { AddRef(); }
  TText(TText&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
  TText& operator=(const TText& other) noexcept {
    TText(other).swap(*this);
    return *this;
  }
  TText& operator=(TText&& other) noexcept {
    TText(std::move(other)).swap(*this);
    return *this;
  }
  ~TText() { Unref(); }

  std::string_view View() const noexcept {
    return block_ != nullptr ? std::string_view(block_->data, block_->size) : std::string_view();
  }
  std::string Str() const { return std::string(View()); }
  std::size_t Size() const noexcept { return block_ != nullptr ? block_->size : 0; }
  bool Empty() const noexcept { return block_ == nullptr; }
  // CalculateHash of the text, cached.
  std::int32_t Hash() const noexcept { return block_ != nullptr ? block_->hash : 0; }
  // The address of the shared block, 0 for the empty text: texts of equal
  // identities are equal (equal texts need not share a block). Aligned to 8.
  std::uintptr_t Identity() const noexcept { return reinterpret_cast<std::uintptr_t>(block_); }
  // The shared block's number, below kSerials: no two blocks alive at once
  // have the same one, so texts of equal serials are equal (equal texts need
  // not share a block). 0 for the empty text, and for every block made once
  // the process has numbered kSerials - 1 of them.
  static constexpr std::uint32_t kSerials = std::uint32_t{1} << 30;
  std::uint32_t Serial() const noexcept { return block_ != nullptr ? block_->serial : 0; }
  // Byte-for-byte equality.
  bool operator==(const TText& other) const noexcept {
    if (block_ == other.block_) {
      return true;
    }
    return Hash() == other.Hash() && View() == other.View();
  }
  void swap(TText& other) noexcept { std::swap(block_, other.block_); }

 private:
  struct Block {
    std::atomic<std::int32_t> refs;
    std::int32_t hash;
    std::size_t size;
    std::uint32_t serial;
    char data[1];  // size bytes and a terminating NUL follow
  };
  void AddRef() const noexcept {
    if (block_ != nullptr) {
      block_->refs.fetch_add(1, std::memory_order_relaxed);
    }
  }
  void Unref() noexcept;
  TText(std::string_view s, std::int32_t hash);

  Block* block_ = nullptr;
};

}  // namespace zephro
