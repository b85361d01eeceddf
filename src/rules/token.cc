#include "rules/token.h"

#include <algorithm>
#include <cstdlib>
#include <typeinfo>

#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/types.h"

namespace zephro {
namespace {

std::int32_t Wrap(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

std::int32_t FactId(const IFact* fact) { return fact != nullptr ? fact->GetID() : 0; }

std::uint32_t ChainHash(std::uint32_t parent, std::int32_t id) {
  return parent ^ (static_cast<std::uint32_t>(id) + 0x9e3779b9u + (parent << 6) + (parent >> 2));
}

}  // namespace

TIEToken::TIEToken(TTokenAction action, Ref<IFact> fact)
    : fact_(std::move(fact)), count_(1), tag_(action) {
  sort_code_ = FactId(fact_.get());
  identity_hash_ = ChainHash(0, sort_code_);
}

TIEToken::TIEToken(Ref<TIEToken> parent, Ref<IFact> fact)
    : parent_(std::move(parent)), fact_(std::move(fact)) {
  count_ = parent_->count_ + 1;
  tag_ = parent_->tag_;
  strength_ = parent_->strength_;
  const std::int32_t id = FactId(fact_.get());
  sort_code_ = Wrap(static_cast<std::int64_t>(static_cast<std::uint32_t>(parent_->sort_code_)) * 8 + id);
  identity_hash_ = ChainHash(parent_->identity_hash_, id);
}

TIEToken::TIEToken(const TIEToken& source, TTokenAction action)
    : parent_(source.parent_),
      fact_(source.fact_),
      count_(source.count_),
      sort_code_(source.sort_code_),
      identity_hash_(source.identity_hash_),
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
  // Every token of the network is a TIEToken (the class is final).
  const auto* b = other != nullptr && typeid(*other) == typeid(TIEToken)
                      ? static_cast<const TIEToken*>(other)
                      : nullptr;
  return b != nullptr && SameAs(*b);
}

bool TIEToken::SameAs(const TIEToken& other) const noexcept {
  const TIEToken* a = this;
  const TIEToken* b = &other;
  while (a != b) {
    if (b == nullptr) {
      return false;
    }
    if (a->sort_code_ != b->sort_code_ || a->strength_ != b->strength_ ||
        (a->fact_.get() != b->fact_.get() && FactId(a->fact_.get()) != FactId(b->fact_.get()))) {
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

const IIEValue* TMemoryKeyPart::Read(const IFact& fact) const {
  const IIEValue* v = slot.Read(fact);
  if (sub_index < 0 || v == nullptr) {
    return v;
  }
  const IValueVector* list = v->DType() == TIEType::dtList ? v->AsList() : nullptr;
  return list != nullptr && sub_index < list->ValueCount() ? list->Get(sub_index) : nullptr;
}

namespace {

std::int32_t Combine(std::int32_t seed, std::int32_t hash) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(seed) * 31u +
                                   static_cast<std::uint32_t>(hash));
}

}  // namespace

std::int32_t TMemoryKey::HashOfFact(const IFact& fact, bool& found) const {
  std::int32_t hash = 0;
  for (const TMemoryKeyPart& part : parts) {
    const IIEValue* v = part.Read(fact);
    if (v == nullptr) {
      found = false;
      return 0;
    }
    hash = Combine(hash, v->GetHashCode());
  }
  found = true;
  return hash;
}

std::int32_t TMemoryKey::HashOf(const TIEToken& token, bool& found) const {
  found = true;
  if (!Keyed()) {
    return static_cast<std::int32_t>(token.IdentityHash());
  }
  std::int32_t hash = 0;
  for (const TMemoryKeyPart& part : parts) {
    const IFact* fact = token.GetFacts(part.fact_index);
    const IIEValue* v = fact != nullptr ? part.Read(*fact) : nullptr;
    if (v == nullptr) {
      found = false;
      return 0;
    }
    hash = Combine(hash, v->GetHashCode());
  }
  return hash;
}

// --- token memories ------------------------------------------------------------------------

namespace {

// Spreads a 32-bit hash over the low bits a bucket mask keeps.
std::size_t Spread(std::uint32_t h) {
  h ^= h >> 16;
  h *= 0x45d9f3bu;
  h ^= h >> 16;
  return h;
}

std::size_t BucketCountFor(int wanted) {
  std::size_t n = 1;
  while (n < static_cast<std::size_t>(wanted)) {
    n <<= 1;
  }
  return n;
}

}  // namespace

TIETokenTree::TIETokenTree(int initial_buckets, TMemoryKey key) : key_(std::move(key)) {
  // Most memories of a large network stay small: start with a few buckets
  // (fewer when asked) and let the tables grow.
  constexpr int kFirstBuckets = 8;
  const std::size_t n = BucketCountFor(std::clamp(initial_buckets, 1, kFirstBuckets));
  key_heads_.assign(n, nullptr);
  key_tails_.assign(n, nullptr);
  id_heads_.assign(n, nullptr);
  mask_ = n - 1;
}

TIETokenTree::~TIETokenTree() = default;

std::size_t TIETokenTree::KeyIndex(std::int32_t hash) const noexcept {
  return Spread(static_cast<std::uint32_t>(hash)) & mask_;
}

std::size_t TIETokenTree::IdIndex(const TIEToken& token) const noexcept {
  return Spread(token.IdentityHash()) & mask_;
}

TIETokenTree::Entry* TIETokenTree::NewEntry() {
  if (free_ == nullptr) {
    auto chunk = std::make_unique<Entry[]>(next_chunk_size_);
    for (std::size_t i = 0; i < next_chunk_size_; ++i) {
      chunk[i].id_next = free_;
      free_ = &chunk[i];
    }
    chunks_.push_back(std::move(chunk));
    next_chunk_size_ = std::min<std::size_t>(next_chunk_size_ * 2, 4096);
  }
  Entry* e = free_;
  free_ = e->id_next;
  e->id_next = nullptr;
  return e;
}

void TIETokenTree::FreeEntry(Entry* e) {
  e->token.reset();
  e->negated_count = 0;
  e->key_prev = e->key_next = e->all_prev = e->all_next = nullptr;
  e->id_next = free_;
  free_ = e;
}

void TIETokenTree::Grow() {
  const std::size_t n = (mask_ + 1) * 2;
  key_heads_.assign(n, nullptr);
  key_tails_.assign(n, nullptr);
  id_heads_.assign(n, nullptr);
  mask_ = n - 1;
  // Refile oldest first so that every key chain keeps insertion order.
  for (Entry* e = all_head_; e != nullptr; e = e->all_next) {
    const std::size_t k = KeyIndex(e->hash);
    e->key_next = nullptr;
    e->key_prev = key_tails_[k];
    (key_tails_[k] != nullptr ? key_tails_[k]->key_next : key_heads_[k]) = e;
    key_tails_[k] = e;
    const std::size_t i = IdIndex(*e->token);
    e->id_next = id_heads_[i];
    id_heads_[i] = e;
  }
}

TIETokenTree::Entry* TIETokenTree::Add(Ref<TIEToken> token, std::int32_t hash) {
  for (Entry* e = id_heads_[IdIndex(*token)]; e != nullptr; e = e->id_next) {
    if (e->token->SameAs(*token)) {
      return nullptr;
    }
  }
  if (static_cast<std::size_t>(count_) > mask_) {
    Grow();
  }
  Entry* e = NewEntry();
  e->token = std::move(token);
  e->hash = hash;
  const std::size_t k = KeyIndex(hash);
  e->key_prev = key_tails_[k];
  (key_tails_[k] != nullptr ? key_tails_[k]->key_next : key_heads_[k]) = e;
  key_tails_[k] = e;
  const std::size_t i = IdIndex(*e->token);
  e->id_next = id_heads_[i];
  id_heads_[i] = e;
  e->all_prev = all_tail_;
  (all_tail_ != nullptr ? all_tail_->all_next : all_head_) = e;
  all_tail_ = e;
  ++count_;
  return e;
}

void TIETokenTree::Unlink(Entry* e) {
  const std::size_t k = KeyIndex(e->hash);
  (e->key_prev != nullptr ? e->key_prev->key_next : key_heads_[k]) = e->key_next;
  (e->key_next != nullptr ? e->key_next->key_prev : key_tails_[k]) = e->key_prev;
  (e->all_prev != nullptr ? e->all_prev->all_next : all_head_) = e->all_next;
  (e->all_next != nullptr ? e->all_next->all_prev : all_tail_) = e->all_prev;
}

bool TIETokenTree::Remove(const TIEToken& token, std::int32_t* negated_count) {
  for (Entry** link = &id_heads_[IdIndex(token)]; *link != nullptr; link = &(*link)->id_next) {
    Entry* e = *link;
    if (!e->token->SameAs(token)) {
      continue;
    }
    *link = e->id_next;
    Unlink(e);
    if (negated_count != nullptr) {
      *negated_count = e->negated_count;
    }
    FreeEntry(e);
    --count_;
    return true;
  }
  return false;
}

void TIETokenTree::Clear() {
  if (count_ == 0 && chunks_.empty()) {
    return;
  }
  // Tokens go with their chunks; the tables shrink back to their first size.
  chunks_.clear();
  free_ = nullptr;
  next_chunk_size_ = 16;
  all_head_ = all_tail_ = nullptr;
  count_ = 0;
  std::fill(key_heads_.begin(), key_heads_.end(), nullptr);
  std::fill(key_tails_.begin(), key_tails_.end(), nullptr);
  std::fill(id_heads_.begin(), id_heads_.end(), nullptr);
}

std::string TIETokenTree::ToString() const {
  std::string text;
  for (const Entry* head : key_heads_) {
    if (head == nullptr) {
      continue;
    }
    for (const Entry* e = head; e != nullptr; e = e->key_next) {
      text += e->token->ToString();
    }
    text += "\n";
  }
  return text;
}

std::string TIETokenTree::GetToFactsString() const {
  std::string text;
  for (const Entry* head : key_heads_) {
    if (head == nullptr) {
      continue;
    }
    for (const Entry* e = head; e != nullptr; e = e->key_next) {
      text += e->token->GetToFactsString();
    }
    text += "\n";
  }
  return text;
}

}  // namespace zephro
