#include "rules/token.h"

#include <algorithm>
#include <cstdlib>
#include <typeinfo>

#include "platform/hash_mix.h"
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

// --- token blocks --------------------------------------------------------------------------

namespace {

// Sanitizer builds allocate every token afresh, so that a use after release
// is still caught.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kRecycleTokens = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kRecycleTokens = false;
#else
constexpr bool kRecycleTokens = true;
#endif
#else
constexpr bool kRecycleTokens = true;
#endif

// Released token blocks of this thread, linked through their first bytes.
// Blocks are plain allocations, so a token may be released on another
// thread than the one that made it. The list itself is constant-initialised
// (no guard on the hot path); the object that frees it when the thread ends
// is set up the first time the thread keeps a block.
struct TTokenBlocks {
  void* head;
  std::size_t count;
  bool cleanup_armed;
};

constinit thread_local TTokenBlocks token_blocks{nullptr, 0, false};

struct TTokenBlocksCleanup {
  ~TTokenBlocksCleanup() {
    while (token_blocks.head != nullptr) {
      void* next = *static_cast<void**>(token_blocks.head);
      ::operator delete(token_blocks.head);
      token_blocks.head = next;
    }
    token_blocks.count = 0;
  }
};

thread_local TTokenBlocksCleanup token_blocks_cleanup;

constexpr std::size_t kMaxKeptBlocks = std::size_t{1} << 20;

void* TakeBlock() noexcept {
  void* block = token_blocks.head;
  if (block != nullptr) {
    token_blocks.head = *static_cast<void**>(block);
    --token_blocks.count;
  }
  return block;
}

bool KeepBlock(void* block) noexcept {
  if (token_blocks.count >= kMaxKeptBlocks) {
    return false;
  }
  if (!token_blocks.cleanup_armed) {
    token_blocks.cleanup_armed = true;
    [[maybe_unused]] volatile void* arm = &token_blocks_cleanup;  // constructs it
  }
  *static_cast<void**>(block) = token_blocks.head;
  token_blocks.head = block;
  ++token_blocks.count;
  return true;
}

}  // namespace

void* TIEToken::operator new(std::size_t size) {
  if (kRecycleTokens && size == sizeof(TIEToken)) {
    if (void* block = TakeBlock()) {
      return block;
    }
  }
  return ::operator new(size);
}

void TIEToken::operator delete(void* block, std::size_t size) noexcept {
  if (kRecycleTokens && size == sizeof(TIEToken) && KeepBlock(block)) {
    return;
  }
  ::operator delete(block);
}

// --- tokens --------------------------------------------------------------------------------

TIEToken::TIEToken(TTokenAction action, Ref<IFact> fact)
    : fact_(std::move(fact)), count_(1), tag_(action), probe_(action == TTokenAction::taRemove) {
  ConfineCount();
  sort_code_ = FactId(fact_.get());
  identity_hash_ = ChainHash(0, sort_code_);
}

TIEToken::TIEToken(Ref<TIEToken> parent, Ref<IFact> fact)
    : parent_(std::move(parent)), fact_(std::move(fact)) {
  ConfineCount();
  count_ = parent_->count_ + 1;
  tag_ = parent_->tag_;
  probe_ = parent_->probe_;
  repeats_ = parent_->repeats_;
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
      tag_(action),
      probe_(source.probe_ || action == TTokenAction::taRemove),
      repeats_(source.repeats_) {
  ConfineCount();
}

TIEToken::~TIEToken() {
  Unlink();
  // Release long parent chains iteratively: a token that is the last holder
  // of its parent would otherwise recurse once per link.
  Ref<TIEToken> next = std::move(parent_);
  while (next && next->RefCount() == 1) {
    next->Unlink();
    Ref<TIEToken> grand = std::move(next->parent_);
    next = std::move(grand);
  }
}

void TIEToken::AdoptChild(TIEToken& child, std::uint32_t origin) noexcept {
  child.origin_ = origin;
  if (children_ == nullptr) {
    children_ = &child;
    child.sib_next_ = &child;
    child.sib_prev_ = &child;
    return;
  }
  TIEToken* last = children_->sib_prev_;
  child.sib_prev_ = last;
  child.sib_next_ = children_;
  last->sib_next_ = &child;
  children_->sib_prev_ = &child;
}

void TIEToken::AdoptRightChild(TIEToken& child) noexcept {
  if (right_next_ == nullptr) {
    right_next_ = this;
    right_prev_ = this;
  }
  child.right_prev_ = right_prev_;
  child.right_next_ = this;
  right_prev_->right_next_ = &child;
  right_prev_ = &child;
}

void TIEToken::Detach() noexcept {
  if (sib_next_ != nullptr) {
    TIEToken* parent = parent_.get();
    if (sib_next_ == this) {
      parent->children_ = nullptr;
    } else {
      sib_prev_->sib_next_ = sib_next_;
      sib_next_->sib_prev_ = sib_prev_;
      if (parent->children_ == this) {
        parent->children_ = sib_next_;
      }
    }
    sib_next_ = nullptr;
    sib_prev_ = nullptr;
  }
  if (parent_ && right_next_ != nullptr) {
    right_prev_->right_next_ = right_next_;
    right_next_->right_prev_ = right_prev_;
    right_next_ = nullptr;
    right_prev_ = nullptr;
  }
}

void TIEToken::Unlink() noexcept {
  Detach();
  if (!parent_ && right_next_ != nullptr) {
    // The right children outlive their right parent only in memories being
    // cleared: they leave the ring.
    for (TIEToken* c = right_next_; c != this;) {
      TIEToken* next = c->right_next_;
      c->right_next_ = nullptr;
      c->right_prev_ = nullptr;
      c = next;
    }
    right_next_ = nullptr;
    right_prev_ = nullptr;
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
  text += " cnt=" + std::to_string(count_) + " negcnt=" + std::to_string(NegatedCount());
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

template <class FactOf>
std::int32_t TMemoryKey::HashParts(FactOf&& fact_of, bool& found) const {
  std::uint64_t acc = kHashSeed;
  for (const TMemoryKeyPart& part : parts) {
    const IFact* fact = fact_of(part);
    const IIEValue* v = fact != nullptr ? part.Read(*fact) : nullptr;
    if (v == nullptr) {
      found = false;
      return 0;
    }
    acc = AccumulateHash(acc, v->GetHashCode());
  }
  found = true;
  return FinishHash(acc);
}

std::int32_t TMemoryKey::HashOfFact(const IFact& fact, bool& found) const {
  return HashParts([&](const TMemoryKeyPart&) { return &fact; }, found);
}

std::int32_t TMemoryKey::HashOf(const TIEToken& token, bool& found) const {
  if (!Keyed()) {
    found = true;
    return static_cast<std::int32_t>(token.IdentityHash());
  }
  return HashParts([&](const TMemoryKeyPart& part) { return token.GetFacts(part.fact_index); },
                   found);
}

// --- token memories ------------------------------------------------------------------------

namespace {

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
  key_heads_.assign(n, kNone);
  key_tails_.assign(n, kNone);
  id_heads_.assign(n, kNone);
  mask_ = n - 1;
}

TIETokenTree::~TIETokenTree() = default;

std::size_t TIETokenTree::KeyIndex(std::int32_t hash) const noexcept {
  return MixBits(static_cast<std::uint32_t>(hash)) & mask_;
}

std::size_t TIETokenTree::IdIndex(std::uint32_t identity) const noexcept {
  return MixBits(identity) & mask_;
}

void TIETokenTree::LinkKey(std::uint32_t index) {
  Entry& e = entries_[index];
  const std::size_t k = KeyIndex(e.hash);
  e.key_next = kNone;
  e.key_prev = key_tails_[k];
  (key_tails_[k] != kNone ? entries_[key_tails_[k]].key_next : key_heads_[k]) = index;
  key_tails_[k] = index;
}

void TIETokenTree::Grow() {
  const std::size_t n = (mask_ + 1) * 2;
  std::vector<std::uint32_t> old_heads(n, kNone);
  old_heads.swap(key_heads_);
  key_tails_.assign(n, kNone);
  id_heads_.assign(n, kNone);
  mask_ = n - 1;
  // Refile each old chain in its order: entries with equal hashes shared an
  // old chain, so every new chain keeps insertion order.
  for (std::uint32_t head : old_heads) {
    for (std::uint32_t i = head; i != kNone;) {
      const std::uint32_t next = entries_[i].key_next;
      LinkKey(i);
      const std::size_t b = IdIndex(entries_[i].identity);
      entries_[i].id_next = id_heads_[b];
      id_heads_[b] = i;
      i = next;
    }
  }
}

TIETokenTree::Entry* TIETokenTree::Add(Ref<TIEToken> token, std::int32_t hash) {
  const std::uint32_t identity = token->IdentityHash();
  if (token->MayRepeat()) {
    for (std::uint32_t i = id_heads_[IdIndex(identity)]; i != kNone; i = entries_[i].id_next) {
      if (entries_[i].identity == identity && entries_[i].token->SameAs(*token)) {
        return nullptr;
      }
    }
  }
  if (static_cast<std::size_t>(count_) > mask_) {
    Grow();
  }
  std::uint32_t index = free_;
  if (index != kNone) {
    free_ = entries_[index].id_next;
  } else {
    index = static_cast<std::uint32_t>(entries_.size());
    entries_.emplace_back();
  }
  Entry& e = entries_[index];
  e.token = std::move(token);
  e.blocker = kNoEntry;
  e.hash = hash;
  e.identity = identity;
  LinkKey(index);
  const std::size_t b = IdIndex(identity);
  e.id_next = id_heads_[b];
  id_heads_[b] = index;
  ++count_;
  return &e;
}

bool TIETokenTree::Remove(const TIEToken& token, std::uint32_t* blocker,
                          std::uint32_t* position, Ref<TIEToken>* held) {
  const std::uint32_t identity = token.IdentityHash();
  for (std::uint32_t* link = &id_heads_[IdIndex(identity)]; *link != kNone;
       link = &entries_[*link].id_next) {
    const std::uint32_t index = *link;
    Entry& e = entries_[index];
    if (e.identity != identity || !e.token->SameAs(token)) {
      continue;
    }
    *link = e.id_next;
    const std::size_t k = KeyIndex(e.hash);
    (e.key_prev != kNone ? entries_[e.key_prev].key_next : key_heads_[k]) = e.key_next;
    (e.key_next != kNone ? entries_[e.key_next].key_prev : key_tails_[k]) = e.key_prev;
    if (blocker != nullptr) {
      *blocker = e.blocker;
    }
    if (position != nullptr) {
      *position = index;
    }
    if (held != nullptr) {
      *held = std::move(e.token);
    }
    e.token.reset();
    e.id_next = free_;
    free_ = index;
    --count_;
    return true;
  }
  return false;
}

void TIETokenTree::Clear() {
  if (entries_.empty()) {
    return;
  }
  // The tokens go with the array; the tables shrink back to their first size.
  std::vector<Entry>().swap(entries_);
  free_ = kNone;
  count_ = 0;
  std::fill(key_heads_.begin(), key_heads_.end(), kNone);
  std::fill(key_tails_.begin(), key_tails_.end(), kNone);
  std::fill(id_heads_.begin(), id_heads_.end(), kNone);
}

template <class F>
void TIETokenTree::ForEachText(F&& text_of, std::string& text) const {
  for (std::uint32_t head : key_heads_) {
    if (head == kNone) {
      continue;
    }
    for (std::uint32_t i = head; i != kNone; i = entries_[i].key_next) {
      text += text_of(*entries_[i].token);
    }
    text += "\n";
  }
}

std::string TIETokenTree::ToString() const {
  std::string text;
  ForEachText([](const TIEToken& t) { return t.ToString(); }, text);
  return text;
}

std::string TIETokenTree::GetToFactsString() const {
  std::string text;
  ForEachText([](const TIEToken& t) { return t.GetToFactsString(); }, text);
  return text;
}

}  // namespace zephro
