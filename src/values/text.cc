#include "zephro/values/text.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <new>

namespace zephro {

std::int32_t CalculateHash(std::string_view s, int step) noexcept {
  if (step <= 1) {
    return static_cast<std::int32_t>(ContinueHash(0, s));
  }
  std::uint32_t h = 0;
  for (std::size_t i = 0; i < s.size(); i += static_cast<std::size_t>(step)) {
    h = h * 31u + static_cast<unsigned char>(s[i]);
  }
  return static_cast<std::int32_t>(h);
}

std::int32_t CalculateHash(std::string_view s) noexcept {
  // Long texts are sampled: about eight bytes spread over the text.
  const std::size_t n = s.size();
  return CalculateHash(s, n < 16 ? 1 : static_cast<int>(n / 8));
}

namespace {

// Blocks are numbered from one counter, each thread taking numbers a batch
// at a time; once kSerials - 1 are given out, blocks get 0.
std::atomic<std::uint32_t> next_serial_batch{0};

std::uint32_t NextSerial() noexcept {
  constexpr std::uint32_t kBatch = 4096;
  thread_local std::uint32_t next = 0;
  thread_local std::uint32_t end = 0;
  thread_local bool spent = false;
  if (next == end) {
    if (spent) {
      return 0;
    }
    const std::uint32_t batch = next_serial_batch.fetch_add(1, std::memory_order_relaxed);
    if (batch >= TText::kSerials / kBatch) {
      spent = true;  // every number given out
      return 0;
    }
    next = batch * kBatch;
    end = next + kBatch;
    if (next == 0) {
      ++next;  // 0 means none
    }
  }
  return next++;
}

}  // namespace

TText::TText(std::string_view s) : TText(s, s.empty() ? 0 : CalculateHash(s)) {}

TText::TText(std::string_view s, std::int32_t hash) {
  if (s.empty()) {
    return;
  }
  // The block is allocated with room for the bytes after its header.
  void* raw = ::operator new(offsetof(Block, data) + s.size() + 1);
  block_ = static_cast<Block*>(raw);
  new (&block_->refs) std::atomic<std::int32_t>(1);
  block_->hash = hash;
  block_->size = s.size();
  block_->serial = NextSerial();
  std::memcpy(block_->data, s.data(), s.size());
  block_->data[s.size()] = '\0';
}

TText TText::Shared(std::string_view s) {
  // Long texts are rarely repeated, and a remembered one would keep its
  // block alive for nothing.
  constexpr std::size_t kLongest = 32;
  constexpr std::size_t kRemembered = 512;
  if (s.empty() || s.size() > kLongest) {
    return TText(s);
  }
  const std::int32_t hash = CalculateHash(s);
  // One place per hash: a newer text takes the place of an older one.
  thread_local std::array<TText, kRemembered> recent;
  const auto h = static_cast<std::uint32_t>(hash);
  TText& place = recent[(h ^ (h >> 9) ^ (h >> 18)) % kRemembered];
  if (place.block_ == nullptr || place.block_->hash != hash || place.View() != s) {
    place = TText(s, hash);
  }
  return place;
}

void TText::Unref() noexcept {
  if (block_ != nullptr && block_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    block_->refs.~atomic();
    ::operator delete(block_);
  }
  block_ = nullptr;
}

}  // namespace zephro
