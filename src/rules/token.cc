#include "rules/token.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <memory>
#include <typeinfo>

#include "platform/block_recycler.h"
#include "platform/debug_checks.h"
#include "platform/hash_mix.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/types.h"
#include "zephro/values/value.h"

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

// The order of a token's fields counts on this size (see token.h).
static_assert(sizeof(TIEToken) == TCompactArena::kUnit, "a token is one unit of the compact arena");

using TTokenBlocks = TBlockRecycler<TIEToken, sizeof(TIEToken), TCompactBlocks>;

}  // namespace

void* TIEToken::operator new(std::size_t size) { return TTokenBlocks::Allocate(size); }

void TIEToken::operator delete(void* block, std::size_t size) noexcept {
  TTokenBlocks::Free(block, size);
}

// --- tokens --------------------------------------------------------------------------------

TIEToken::TIEToken(TTokenAction action, IFact* fact)
    : bits_(static_cast<std::uint8_t>(TagBits(action) |
                                      (action == TTokenAction::taRemove ? kProbe : 0))),
      count_(1) {
  ConfineCount();
  identity_hash_ = ChainHash(0, fact_.Take(fact));
}

TIEToken::TIEToken(Ref<TIEToken> parent, IFact* fact) {
  ConfineCount();
  TIEToken& p = *parent.Detach();  // the reference is now parent_'s
  parent_ = Link::Of(p);
  count_ = static_cast<std::uint16_t>(p.count_ + 1);
  bits_ = p.bits_;
  strength_ = p.strength_;
  identity_hash_ = ChainHash(p.identity_hash_, fact_.Take(fact));
}

TIEToken::TIEToken(const TIEToken& source, TTokenAction action)
    : bits_(static_cast<std::uint8_t>((source.bits_ & ~kTagBits) | TagBits(action) |
                                      (action == TTokenAction::taRemove ? kProbe : 0))),
      count_(source.count_),
      fact_(source.fact_),
      identity_hash_(source.identity_hash_),
      strength_(source.strength_) {
  ConfineCount();
  if (source.HasParent()) {
    parent_ = source.parent_;
    parent_->AddRef();
  }
}

TIEToken::~TIEToken() {
  Unlink();
  if (!HasParent()) {
    return;
  }
  // Release long parent chains iteratively: a token that is the last holder
  // of its parent would otherwise recurse once per link.
  TIEToken* next = &*parent_;
  while (next->RefCount() == 1 && next->HasParent()) {
    next->Unlink();
    TIEToken* grand = &*next->parent_;
    // Its parent is released here, not by its destructor.
    next->count_ = 1;
    next->origin_ = kNoHomes;
    next->Release();
    next = grand;
  }
  next->Release();
}

namespace {

std::uint64_t PackHome(std::uint32_t memory, std::uint32_t position) {
  return (std::uint64_t{memory} << 32) | position;
}

}  // namespace

void TIEToken::AddHome(std::uint32_t memory, std::uint32_t position) {
  if (origin_ == kNoHomes) {
    one_home_ = PackHome(memory, position);
    origin_ = kOneHome;
    return;
  }
  if (origin_ == kOneHome) {
    const std::uint64_t first = one_home_;
    homes_ = new std::uint32_t[kHomesHeader + 2 * 2]{
        2, 2, 0, static_cast<std::uint32_t>(first >> 32), static_cast<std::uint32_t>(first),
        memory, position};
    origin_ = kManyHomes;
    return;
  }
  std::uint32_t end = homes_[kHomesEnd];
  if (end == homes_[kHomesCapacity]) {
    // Full: the pairs in use move to the front, into a larger block when
    // they fill more than half.
    const std::uint32_t start = homes_[kHomesStart];
    const std::uint32_t count = end - start;
    const std::uint32_t capacity = count * 2 > end ? end + end / 2 + 1 : end;
    std::uint32_t* block =
        capacity == end ? homes_ : new std::uint32_t[kHomesHeader + 2 * std::size_t{capacity}];
    std::copy(homes_ + kHomesHeader + 2 * std::size_t{start},
              homes_ + kHomesHeader + 2 * std::size_t{end}, block + kHomesHeader);
    if (block != homes_) {
      delete[] homes_;
      homes_ = block;
    }
    homes_[kHomesCapacity] = capacity;
    homes_[kHomesStart] = 0;
    end = count;
  }
  homes_[kHomesHeader + 2 * std::size_t{end}] = memory;
  homes_[kHomesHeader + 2 * std::size_t{end} + 1] = position;
  homes_[kHomesEnd] = end + 1;
}

bool TIEToken::HasHome(std::uint32_t memory, std::uint32_t position) const noexcept {
  if (origin_ == kOneHome) {
    return one_home_ == PackHome(memory, position);
  }
  if (origin_ != kManyHomes) {
    return false;
  }
  for (std::uint32_t i = homes_[kHomesStart]; i < homes_[kHomesEnd]; ++i) {
    const std::uint32_t* pair = homes_ + kHomesHeader + 2 * std::size_t{i};
    if (pair[0] == memory && pair[1] == position) {
      return true;
    }
  }
  return false;
}

std::vector<TIEToken*>& TIEToken::NewerHalf() noexcept {
  thread_local std::vector<TIEToken*> walked;
  return walked;
}

void TIEToken::Unlink() noexcept {
  if (HasParent()) {
    Detach();
    return;
  }
  if (origin_ == kManyHomes) {
    delete[] homes_;
    homes_ = nullptr;
    origin_ = kNoHomes;
  }
  if (right_next_) {
    // The right children outlive their right parent only in memories being
    // cleared: they leave the ring.
    const Link self = Link::Of(*this);
    for (Link c = right_next_; c != self;) {
      const Link next = c->right_next_;
      c->right_next_ = Link();
      c->right_prev_ = Link();
      c = next;
    }
    right_next_ = Link();
    right_prev_ = Link();
  }
}

Ref<TIEToken> TIEToken::Clear() {
  Ref<TIEToken> t(new TIEToken());
  t->bits_ = TagBits(TTokenAction::taClear);
  return t;
}

void TIEToken::RaiseInvalidAction() { RaiseIEPlain(SInvalidTokenAction); }

std::int32_t TIEToken::SortCode() const noexcept {
  // The fact ids of the chain in base 8, first fact first.
  std::uint32_t code = 0;
  std::uint32_t weight = 1;
  for (const TIEToken* t = this; t != nullptr; t = t->ParentToken()) {
    code += static_cast<std::uint32_t>(FactId(t->fact_.get())) * weight;
    weight *= 8;
  }
  return Wrap(code);
}

bool TIEToken::Equals(const IReteToken* other) const {
  // Every token of the network is a TIEToken (the class is final).
  const auto* b = other != nullptr && typeid(*other) == typeid(TIEToken)
                      ? static_cast<const TIEToken*>(other)
                      : nullptr;
  return b != nullptr && SameAs(*b);
}

void TIEToken::MarkSplitOf(const TIEToken& source, std::uint32_t split) noexcept {
  bits_ |= kRepeats;
  identity_hash_ = ChainHash(source.identity_hash_, static_cast<std::int32_t>(split));
}

void TIEToken::TakeRightIdentity(const TIEToken& parent, const TIEToken& right) noexcept {
  identity_hash_ =
      ChainHash(parent.identity_hash_, static_cast<std::int32_t>(right.identity_hash_));
}

namespace {

// Two links hold the same fact: the very same one, or two copies of one fact
// split alike. Copies of one fact carry its id; the ways of splitting it
// differ in their values.
bool SameFact(const IFact* a, const IFact* b) noexcept {
  if (a == b) {
    return true;
  }
  if (a == nullptr || b == nullptr || a->GetID() != b->GetID()) {
    return false;
  }
  return a->Equals(b);
}

}  // namespace

bool TIEToken::SameAs(const TIEToken& other) const noexcept {
  const TIEToken* a = this;
  const TIEToken* b = &other;
  while (a != b) {
    if (b == nullptr) {
      return false;
    }
    if (a->identity_hash_ != b->identity_hash_ || a->strength_ != b->strength_ ||
        !SameFact(a->fact_.get(), b->fact_.get())) {
      return false;
    }
    if (!a->HasParent()) {
      return true;  // no parent on this side counts as equal
    }
    a = &*a->parent_;
    b = b->ParentToken();
  }
  return true;
}

std::string TIEToken::ToString() const {
  static constexpr const char* kActions[] = {"taClear", "taAdd", "taRemove", "taUpdate"};
  std::string text = kActions[static_cast<int>(Tag())];
  text += " cnt=" + std::to_string(count_) + " negcnt=" + std::to_string(NegatedCount());
  for (const TIEToken* t = this; t != nullptr; t = t->ParentToken()) {
    if (t->fact_) {
      text += "\n" + t->fact_->ToString();
    }
  }
  return text;
}

std::string TIEToken::GetToFactsString() const {
  std::vector<const IFact*> facts;
  for (const TIEToken* t = this; t != nullptr; t = t->ParentToken()) {
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

// --- checks of the links ------------------------------------------------------------------

namespace {

// Whether `link` names a token that is there (see TCompactArena::Live).
template <class Link>
bool Names(Link link) noexcept {
  return TCompactArena::LiveName(link.Name());
}

}  // namespace

std::size_t TIEToken::CheckLinks() const {
  ZEPHRO_CHECK(TCompactArena::Live(this), "token: not a live unit of the compact arena");
  ZEPHRO_CHECK(count_ >= 1, "token: a token in a memory holds no fact");
  const Link self = Link::Of(*this);
  std::size_t visited = 1;
  if (HasParent()) {
    ZEPHRO_CHECK(Names(parent_), "token: its parent link names no live token");
    ZEPHRO_CHECK(count_ == parent_->count_ + 1, "token: its fact count is not its parent's count + 1");
    if (sibs_.next) {
      // Among its parent's children: the list runs from the newest child to
      // the oldest, the parent standing before the first and after the last.
      ZEPHRO_CHECK(Names(sibs_.prev) && Names(sibs_.next),
                   "token: a link to a sibling names no live token");
      if (sibs_.prev == parent_) {
        ZEPHRO_CHECK(parent_->children_ == self,
                     "token: first among its parent's children, but not the child its parent names");
      } else {
        const TIEToken& before = *sibs_.prev;
        ZEPHRO_CHECK(before.HasParent() && before.parent_ == parent_,
                     "token: the sibling before it has another parent");
        ZEPHRO_CHECK(before.sibs_.next == self, "token: the sibling before it does not link on to it");
      }
      if (sibs_.next != parent_) {
        const TIEToken& after = *sibs_.next;
        ZEPHRO_CHECK(after.HasParent() && after.parent_ == parent_,
                     "token: the sibling after it has another parent");
        ZEPHRO_CHECK(after.sibs_.prev == self, "token: the sibling after it does not link back to it");
      }
    } else {
      ZEPHRO_CHECK(!sibs_.prev, "token: out of its parent's children, but linked to a sibling");
    }
    if (right_next_) {
      ZEPHRO_CHECK(Names(right_next_) && Names(right_prev_),
                   "token: a link in its right parent's ring names no live token");
      ZEPHRO_CHECK(right_next_->right_prev_ == self && right_prev_->right_next_ == self,
                   "token: its neighbours in its right parent's ring do not link to it");
    } else {
      ZEPHRO_CHECK(!right_prev_, "token: out of any ring, but linked to a right sibling");
    }
  } else if (right_next_) {
    // The head of a ring of right children: each one extends a partial
    // match by this token's fact. Each step checks the link back, so a
    // corrupted ring is reported instead of walked for ever.
    ZEPHRO_CHECK(Names(right_prev_), "token: the last link of its ring names no live token");
    Link before = self;
    for (Link c = right_next_; c != self;) {
      ZEPHRO_CHECK(Names(c), "token: its ring of right children names no live token");
      const TIEToken& child = *c;
      ZEPHRO_CHECK(child.HasParent(), "token: a right child in its ring has no parent");
      ZEPHRO_CHECK(child.right_prev_ == before,
                   "token: a right child does not link back to the one before it in the ring");
      ZEPHRO_CHECK(child.fact_.get() == fact_.get(),
                   "token: a right child in its ring does not hold its fact");
      before = c;
      c = child.right_next_;
      ++visited;
    }
    ZEPHRO_CHECK(right_prev_ == before, "token: the last of its ring is not the right child it names");
  } else {
    ZEPHRO_CHECK(!right_prev_, "token: no ring of right children, but a link to the last one");
  }
  // Its own children, newest first, each linked back to the one before.
  Link before = self;
  for (Link c = children_; c;) {
    ZEPHRO_CHECK(Names(c), "token: its list of children names no live token");
    const TIEToken& child = *c;
    ZEPHRO_CHECK(child.HasParent() && child.parent_ == self,
                 "token: a child in its list does not point back to it");
    ZEPHRO_CHECK(child.sibs_.prev == before,
                 "token: a child in its list does not link back to the one before it");
    ZEPHRO_CHECK(child.sibs_.next, "token: a child in its list is marked as out of the list");
    before = c;
    c = child.sibs_.next != self ? child.sibs_.next : Link();
    ++visited;
  }
  return visited;
}

}  // namespace zephro
