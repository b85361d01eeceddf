#include "rules/token.h"

#include <cstdlib>

#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/types.h"

namespace zephro {
namespace {

std::int32_t Wrap(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

std::int32_t FactId(const IFact* fact) { return fact != nullptr ? fact->GetID() : 0; }

}  // namespace

TIEToken::TIEToken(TTokenAction action, Ref<IFact> fact)
    : fact_(std::move(fact)), count_(1), tag_(action) {
  sort_code_ = FactId(fact_.get());
}

TIEToken::TIEToken(Ref<TIEToken> parent, Ref<IFact> fact)
    : parent_(std::move(parent)), fact_(std::move(fact)) {
  count_ = parent_->count_ + 1;
  tag_ = parent_->tag_;
  strength_ = parent_->strength_;
  sort_code_ = Wrap(static_cast<std::int64_t>(static_cast<std::uint32_t>(parent_->sort_code_)) * 8 +
                    FactId(fact_.get()));
}

TIEToken::TIEToken(const TIEToken& source, TTokenAction action)
    : parent_(source.parent_),
      fact_(source.fact_),
      count_(source.count_),
      sort_code_(source.sort_code_),
      strength_(source.strength_),
      tag_(action) {}

TIEToken::~TIEToken() {
  // Release long parent chains iteratively: a token that is the last holder
  // of its parent would otherwise recurse once per link.
  Ref<TIEToken> next = std::move(parent_);
  while (next && next->RefCount() == 1) {
    Ref<TIEToken> grand = std::move(next->parent_);
    next = std::move(grand);
  }
}

Ref<TIEToken> TIEToken::Clear() {
  Ref<TIEToken> t(new TIEToken());
  t->tag_ = TTokenAction::taClear;
  return t;
}

void TIEToken::SetTag(TTokenAction action) {
  if (!fact_ && action != TTokenAction::taClear) {
    RaiseIEPlain(SInvalidTokenAction);
  }
  tag_ = action;
}

IFact* TIEToken::GetFacts(int index) const {
  const TIEToken* t = this;
  while (t != nullptr && index < t->count_ - 1) {
    t = t->parent_.get();
  }
  return t != nullptr && index == t->count_ - 1 ? t->fact_.get() : nullptr;
}

bool TIEToken::Equals(const IReteToken* other) const {
  const TIEToken* a = this;
  const auto* b = dynamic_cast<const TIEToken*>(other);
  while (a != b) {
    if (b == nullptr) {
      return false;
    }
    if (a->sort_code_ != b->sort_code_ || FactId(a->fact_.get()) != FactId(b->fact_.get()) ||
        a->strength_ != b->strength_) {
      return false;
    }
    if (!a->parent_) {
      return true;  // no parent on this side counts as equal
    }
    a = a->parent_.get();
    b = b->parent_.get();
  }
  return true;
}

std::string TIEToken::ToString() const {
  static constexpr const char* kActions[] = {"taClear", "taAdd", "taRemove", "taUpdate"};
  std::string text = kActions[static_cast<int>(tag_)];
  text += " cnt=" + std::to_string(count_) + " negcnt=" + std::to_string(negated_count_);
  for (const TIEToken* t = this; t != nullptr; t = t->parent_.get()) {
    if (t->fact_) {
      text += "\n" + t->fact_->ToString();
    }
  }
  return text;
}

std::string TIEToken::GetToFactsString() const {
  std::vector<const IFact*> facts;
  for (const TIEToken* t = this; t != nullptr; t = t->parent_.get()) {
    facts.push_back(t->fact_.get());
  }
  std::string text;
  for (auto it = facts.rbegin(); it != facts.rend(); ++it) {
    if (!text.empty()) {
      text += ", ";
    }
    text += "f-" + std::to_string(FactId(*it));
  }
  return text;
}

// --- memory keys ---------------------------------------------------------------------------

std::int32_t TMemoryKey::HashOfFact(const IFact& fact, bool& found) const {
  const IFactTemplate* t = fact.Template();
  if (t != cached_template) {
    cached_index = t != nullptr ? t->SlotIndex(slot) : -1;
    cached_template = t;
  }
  if (cached_index < 0) {
    found = false;
    return 0;
  }
  const IIEValue* v = fact.ValueAt(cached_index);
  if (sub_index >= 0) {
    const IValueVector* list = v != nullptr && v->DType() == TIEType::dtList ? v->AsList() : nullptr;
    if (list == nullptr || sub_index >= list->ValueCount()) {
      found = false;
      return 0;
    }
    v = list->Get(sub_index);
  }
  found = v != nullptr;
  return v != nullptr ? v->GetHashCode() : 0;
}

std::int32_t TMemoryKey::HashOf(const TIEToken& token, bool& found) const {
  found = true;
  if (!keyed) {
    return token.SortCode();
  }
  const IFact* fact = token.GetFacts(fact_index);
  if (fact == nullptr) {
    found = false;
    return 0;
  }
  return HashOfFact(*fact, found);
}

// --- token memories ------------------------------------------------------------------------

TIETokenTree::TIETokenTree(int initial_buckets, TMemoryKey key) : key_(std::move(key)) {
  buckets_.resize(static_cast<std::size_t>(initial_buckets < 1 ? 1 : initial_buckets));
}

std::size_t TIETokenTree::IndexOf(std::int32_t hash) const noexcept {
  // The absolute value, computed without overflow for the most negative hash.
  std::uint32_t h = hash < 0 ? 0u - static_cast<std::uint32_t>(hash) : static_cast<std::uint32_t>(hash);
  return h % buckets_.size();
}

void TIETokenTree::Grow() {
  std::vector<std::vector<Entry>> old = std::move(buckets_);
  buckets_.clear();
  buckets_.resize(old.size() * 2 + 1);
  for (std::vector<Entry>& bucket : old) {
    for (Entry& e : bucket) {
      buckets_[IndexOf(e.hash)].push_back(std::move(e));
    }
  }
}

TIETokenTree::Entry* TIETokenTree::Add(Ref<TIEToken> token, std::int32_t hash) {
  std::vector<Entry>* bucket = &buckets_[IndexOf(hash)];
  for (Entry& e : *bucket) {
    if (e.hash == hash && e.token->Equals(token.get())) {
      return nullptr;
    }
  }
  if (static_cast<std::size_t>(count_) >= buckets_.size() * 2) {
    Grow();
    bucket = &buckets_[IndexOf(hash)];
  }
  bucket->push_back(Entry{std::move(token), 0, hash});
  ++count_;
  cleared_ = false;
  return &bucket->back();
}

bool TIETokenTree::Remove(const TIEToken& token, std::int32_t hash, Entry* removed) {
  std::vector<Entry>& bucket = buckets_[IndexOf(hash)];
  for (std::size_t i = 0; i < bucket.size(); ++i) {
    if (bucket[i].hash == hash && bucket[i].token->Equals(&token)) {
      if (removed != nullptr) {
        *removed = std::move(bucket[i]);
      }
      // Order inside a bucket follows insertion; keep it.
      bucket.erase(bucket.begin() + static_cast<std::ptrdiff_t>(i));
      --count_;
      return true;
    }
  }
  return false;
}

std::vector<TIETokenTree::Entry>* TIETokenTree::Bucket(std::int32_t hash) noexcept {
  return &buckets_[IndexOf(hash)];
}

void TIETokenTree::Clear() {
  if (cleared_) {
    return;
  }
  for (std::vector<Entry>& bucket : buckets_) {
    bucket.clear();
  }
  count_ = 0;
  cleared_ = true;
}

std::string TIETokenTree::ToString() const {
  std::string text;
  for (const std::vector<Entry>& bucket : buckets_) {
    if (bucket.empty()) {
      continue;
    }
    for (const Entry& e : bucket) {
      text += e.token->ToString();
    }
    text += "\n";
  }
  return text;
}

std::string TIETokenTree::GetToFactsString() const {
  std::string text;
  for (const std::vector<Entry>& bucket : buckets_) {
    if (bucket.empty()) {
      continue;
    }
    for (const Entry& e : bucket) {
      text += e.token->GetToFactsString();
    }
    text += "\n";
  }
  return text;
}

}  // namespace zephro
