#include "rules/alpha_index.h"

#include "platform/hash_mix.h"

namespace zephro {

namespace {

bool IsPatternNode(const TReteNode& node) {
  return dynamic_cast<const TPatternMatchNode*>(&node) != nullptr;
}

bool IsFuzzy(const TPatternMatchNode& node) {
  return node.Value() != nullptr && node.Value()->DType() == TIEType::dtFuzzy;
}

}  // namespace

std::uint64_t TAlphaIndex::KeyOf(const TReteNode& parent, TPatternMatchTest test,
                                 const IIEValue* value) noexcept {
  std::uint64_t h = AccumulateHash(kHashSeed, static_cast<std::int32_t>(parent.Id()));
  h = AccumulateHash(h, static_cast<std::int32_t>(test));
  if (value != nullptr) {
    h = AccumulateHash(h, static_cast<std::int32_t>(value->DType()));
    h = AccumulateHash(h, value->GetHashCode());
  }
  return static_cast<std::uint32_t>(FinishHash(h));
}

std::uint64_t TAlphaIndex::KeyOf(const TPatternMatchNode* node) noexcept {
  // A filed node has its parent as its one input.
  return KeyOf(**node->Predecessors().begin(), node->Test(), node->Value());
}

void TAlphaIndex::Linked(TReteNode& from, TReteNode& to) {
  auto* node = dynamic_cast<TPatternMatchNode*>(&to);
  if (node != nullptr && IsFuzzy(*node)) {
    usable_ = false;
  }
  if (!usable_) {
    return;
  }
  const std::size_t count = from.Successors().size();
  if (count == kFrom) {
    // Newly covered, or covered again after losing successors: some of its
    // nodes may be filed already.
    for (const TReteNode::Edge& e : from.Successors()) {
      if (e.CallType() == TCallType::ctSingle && IsPatternNode(*e.To())) {
        auto& child = static_cast<TPatternMatchNode&>(*e.To());
        if (!Contains(child)) {
          Add(child);
        }
      }
    }
  } else if (count > kFrom && node != nullptr) {
    Add(*node);
  }
}

void TAlphaIndex::Forget(const TReteNode& node) noexcept {
  const auto* pm = dynamic_cast<const TPatternMatchNode*>(&node);
  if (slots_.empty() || pm == nullptr || pm->Predecessors().empty()) {
    return;
  }
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = KeyOf(pm) & mask; slots_[i] != nullptr; i = (i + 1) & mask) {
    if (slots_[i] == pm) {
      slots_[i] = Gone();
      --count_;
      return;
    }
  }
}

void TAlphaIndex::Clear() noexcept {
  slots_.clear();
  count_ = 0;
  used_ = 0;
  usable_ = true;
}

bool TAlphaIndex::Contains(const TPatternMatchNode& node) const noexcept {
  if (slots_.empty()) {
    return false;
  }
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = KeyOf(&node) & mask; slots_[i] != nullptr; i = (i + 1) & mask) {
    if (slots_[i] == &node) {
      return true;
    }
  }
  return false;
}

void TAlphaIndex::Add(TPatternMatchNode& node) {
  if ((used_ + 1) * 2 > slots_.size()) {
    Grow();
  }
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = KeyOf(&node) & mask;
  while (slots_[i] != nullptr && slots_[i] != Gone()) {
    i = (i + 1) & mask;
  }
  used_ += slots_[i] == nullptr ? 1 : 0;
  slots_[i] = &node;
  ++count_;
}

void TAlphaIndex::Grow() {
  std::size_t size = 64;
  while (size < (count_ + 1) * 4) {
    size *= 2;
  }
  std::vector<TPatternMatchNode*> old = std::move(slots_);
  slots_.assign(size, nullptr);
  count_ = 0;
  used_ = 0;
  for (TPatternMatchNode* node : old) {
    if (node != nullptr && node != Gone()) {
      Add(*node);
    }
  }
}

}  // namespace zephro
