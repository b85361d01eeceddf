#include "zephro/values/text.h"

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

TText::TText(std::string_view s) {
  if (s.empty()) {
    return;
  }
  // The block is allocated with room for the bytes after its header.
  void* raw = ::operator new(offsetof(Block, data) + s.size() + 1);
  block_ = static_cast<Block*>(raw);
  new (&block_->refs) std::atomic<std::int32_t>(1);
  block_->hash = CalculateHash(s);
  block_->size = s.size();
  std::memcpy(block_->data, s.data(), s.size());
  block_->data[s.size()] = '\0';
}

void TText::Unref() noexcept {
  if (block_ != nullptr && block_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    block_->refs.~atomic();
    ::operator delete(block_);
  }
  block_ = nullptr;
}

}  // namespace zephro
