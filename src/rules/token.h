#pragma once

// Match tokens.
//
// A TIEToken is an immutable link of a chain of facts: a parent token plus
// one fact, with the action it carries, its fuzzy strength and a sort code
// that summarises the chain. Tokens are shared: a join that extends a partial
// match makes one new link pointing at the shared parent.
//
// A token the matcher passed on as an addition also knows the tokens made
// from it: its children (the links that extend it, whichever node made them)
// and, for a token of one fact, its right children (the links a join made by
// adding its fact to a partial match). When a partial match goes, the nodes
// withdraw exactly those, in the order they were made, without testing or
// building anything.
//
// The memories of the joins, which file tokens, are token_memory.h's.

#include <bit>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/compact_arena.h"
#include "platform/hash_mix.h"
#include "platform/large_blocks.h"
#include "rules/segmented_array.h"
#include "rules/slot_reader.h"
#include "zephro/facts/fact.h"
#include "zephro/facts/slot_position.h"
#include "zephro/values/interfaces.h"


namespace zephro {

class TIETokenTree;

// A token's hold on its fact: the engine's own facts count the matcher's
// holds apart from their atomic count (TFact::HoldForMatching); any other
// fact is counted as usual.
class TFactHold {
 public:
  TFactHold() noexcept = default;
  TFactHold(const TFactHold& other) noexcept : fact_(other.fact_) { Hold(); }
  TFactHold& operator=(const TFactHold&) = delete;
  ~TFactHold() { Drop(); }

  // Takes hold of `fact` (may be null), the hold being empty; answers the
  // fact's id (0 for none), read while the fact's class is known.
  std::int32_t Take(IFact* fact) noexcept {
    fact_ = fact;
    if (const TFact* own = Own()) {
      own->HoldForMatching();
      return own->GetID();  // no virtual call
    }
    if (fact_ == nullptr) {
      return 0;
    }
    fact_->AddRef();
    return fact_->GetID();
  }

  IFact* get() const noexcept { return fact_; }
  IFact* operator->() const noexcept { return fact_; }
  explicit operator bool() const noexcept { return fact_ != nullptr; }

 private:
  // The fact as one of the engine's own, or null.
  const TFact* Own() const noexcept {
    return fact_ != nullptr ? TFact::Exactly(*fact_) : nullptr;
  }
  void Hold() const noexcept {
    if (const TFact* own = Own()) {
      own->HoldForMatching();
    } else if (fact_ != nullptr) {
      fact_->AddRef();
    }
  }
  void Drop() const noexcept {
    if (const TFact* own = Own()) {
      own->DropForMatching();
    } else if (fact_ != nullptr) {
      fact_->Release();
    }
  }

  IFact* fact_ = nullptr;
};

// Tokens are made, shared and released only by their engine's matcher, under
// the engine's lock, so their counts are confined (no atomic operations).
class TIEToken final : public IReteToken {
 public:
  // A one-fact token.
  TIEToken(TTokenAction action, IFact* fact);
  TIEToken(TTokenAction action, const Ref<IFact>& fact) : TIEToken(action, fact.get()) {}
  // `parent` extended by `fact` (may be null); inherits the parent's action
  // and strength.
  TIEToken(Ref<TIEToken> parent, IFact* fact);
  TIEToken(Ref<TIEToken> parent, const Ref<IFact>& fact)
      : TIEToken(std::move(parent), fact.get()) {}
  // A copy with another action.
  TIEToken(const TIEToken& source, TTokenAction action);

  // Every token is confined (see ConfineCount) and none is immortal: a
  // handle to a token counts in place. These hide the base's, which ask.
  void AddRef() const noexcept { AddRefConfined(); }
  void Release() const noexcept {
    if (ReleaseConfined()) {
      delete this;
    }
  }

  std::int32_t Count() const noexcept override { return count_; }
  IFact* GetFacts(int index) const override { return FactAt(index); }
  // The fact at `index` of the chain (0 the first), or null; read in place.
  IFact* FactAt(int index) const noexcept {
    if (index < 0 || index >= count_) {
      return nullptr;
    }
    // Each link counts one fact more than its parent.
    const TIEToken* t = this;
    for (int up = count_ - 1 - index; up > 0; --up) {
      t = &*t->parent_;
    }
    return t->fact_.get();
  }
  IFact* Fact() const noexcept override { return fact_.get(); }
  IReteToken* Parent() const noexcept override { return ParentToken(); }
  TIEToken* ParentToken() const noexcept { return HasParent() ? parent_.get() : nullptr; }
  TTokenAction Tag() const noexcept override { return static_cast<TTokenAction>(bits_ & kTagBits); }
  // Raises "Invalid Token Action" when a token without fact gets anything but taClear.
  void SetTag(TTokenAction action) {
    if (!fact_ && action != TTokenAction::taClear) {
      RaiseInvalidAction();
    }
    bits_ = static_cast<std::uint8_t>((bits_ & ~kTagBits) | TagBits(action));
  }
  float Strength() const noexcept override { return strength_; }
  void SetStrength(float strength) noexcept { strength_ = strength < 0 ? 0.0f : strength; }
  // Negated joins keep their blockers in their memories: a token counts none.
  std::int32_t NegatedCount() const noexcept override { return 0; }
  std::int32_t SortCode() const noexcept override;
  // A hash of the chain of fact ids: equal tokens have equal identity hashes.
  // (The sort code summarises the chain too, but collides for neighbouring
  // ids, e.g. (f-1 f-9) and (f-2 f-1).)
  std::uint32_t IdentityHash() const noexcept { return identity_hash_; }
  bool Equals(const IReteToken* other) const override;
  // The same chain of facts with the same strength (no type test).
  bool SameAs(const TIEToken& other) const noexcept;
  std::string ToString() const override;
  std::string GetToFactsString() const override;

  // A one-fact token that carries no fact: the clear signal.
  static Ref<TIEToken> Clear();

  // A probe is a removal made to find its equal (the splits of a multifield
  // slot or a fuzzy-weakened copy made again while a fact is withdrawn, a
  // retracted fact working memory kept no token for, and what is built on
  // them); a token that was passed on as an addition is withdrawn through
  // its own children instead.
  bool IsProbe() const noexcept { return (bits_ & kProbe) != 0; }
  // One of several tokens for the same facts (the ways of splitting a
  // multifield slot), or built on one: a memory keeps the first of equals.
  // Any other token reaches a memory at most once, so memories store it
  // without looking for its equal.
  bool MayRepeat() const noexcept { return (bits_ & kRepeats) != 0; }
  void MarkMayRepeat() noexcept { bits_ |= kRepeats; }
  // Makes this one-fact token one way of splitting the fact of `source`
  // (itself maybe a split already): `split` names the way. Splits of one
  // fact are tokens of their own, each with its own identity.
  void MarkSplitOf(const TIEToken& source, std::uint32_t split) noexcept;
  // Makes this token, the extension of `parent` by the fact of `right`,
  // take its identity from `right` when that is a split: two splits of one
  // fact extend a partial match into two different tokens.
  void TakeRightIdentity(const TIEToken& parent, const TIEToken& right) noexcept;

  // Links `child` (made by node `origin` from this token) after the
  // children made before it.
  void AdoptChild(TIEToken& child, std::uint32_t origin) noexcept;
  // Links `child` (a join's extension of a partial match by this one-fact
  // token) after the right children made before it.
  void AdoptRightChild(TIEToken& child) noexcept;
  // Unlinks the token from its parent and from its right parent.
  void Detach() noexcept;
  // Whether the token is still among its parent's children.
  bool Linked() const noexcept { return HasParent() && sibs_.next; }
  // Starts fetching what firing a rule with the token reads and what freeing
  // it afterwards writes: its parent and fact, and its neighbours.
  void PrefetchForFiring() const noexcept {
    __builtin_prefetch(ParentToken());
    __builtin_prefetch(fact_.get());
    PrefetchNeighbours();
  }
  // Starts fetching what withdrawing the token touches besides the token
  // itself: its neighbours in its parent's list and its right parent's ring,
  // which Detach writes, and its first child, where the withdrawal of its
  // own children starts.
  void PrefetchNeighbours() const noexcept {
    __builtin_prefetch(children_.get());
    if (Linked()) {
      __builtin_prefetch(&*sibs_.prev, 1);
      __builtin_prefetch(&*sibs_.next, 1);
    }
    if (right_next_) {
      __builtin_prefetch(&*right_prev_, 1);
      __builtin_prefetch(&*right_next_, 1);
    }
  }
  // Calls `f(child)` for each child made by node `origin`, NEWEST first.
  // `f` may detach the child it gets, and no other; children made meanwhile
  // are not visited.
  template <class F>
  void ForChildrenNewestFirst(std::uint32_t origin, F&& f) {
    const Link self = Link::Of(*this);
    for (Link c = children_; c;) {
      TIEToken& child = *c;
      const Link next = child.sibs_.next != self ? child.sibs_.next : Link();
      if (child.origin_ == origin) {
        f(child);
      }
      c = next;
    }
  }
  // Calls `f(child)` for each right child made by node `origin`, oldest
  // first, under the same rules.
  //
  // A ring can hold thousands of children far apart, each read only to find
  // the next: it is walked from both ends at once, so that two of them are
  // fetched at a time. The newer half is called back once the walks meet.
  template <class F>
  void ForRightChildrenFrom(std::uint32_t origin, F&& f) {
    if (!right_next_ || right_next_ == Link::Of(*this)) {
      return;
    }
    std::vector<TIEToken*>& newer = NewerHalf();
    const std::size_t from = newer.size();
    TIEToken* front = &*right_next_;
    TIEToken* back = &*right_prev_;
    for (;;) {
      TIEToken* const after = &*front->right_next_;
      TIEToken* const before = &*back->right_prev_;
      if (front->origin_ == origin) {
        f(*front);
      }
      if (front == back) {
        break;
      }
      if (back->origin_ == origin) {
        newer.push_back(back);
      }
      if (after == back) {
        break;
      }
      front = after;
      back = before;
    }
    for (std::size_t i = newer.size(); i > from; --i) {
      f(*newer[i - 1]);
    }
    newer.resize(from);
  }

  // Checks the links of a token a memory holds: the token and every token
  // it links to are live units of the compact arena; its parent counts one
  // fact less; its neighbours among its parent's children and in its right
  // parent's ring link back to it; its own children point back to it, and
  // its ring of right children holds tokens of its fact, each linked back
  // to the one before. Aborts at the first broken link (see
  // platform/debug_checks.h); answers the number of tokens visited.
  std::size_t CheckLinks() const;

  // Matching makes and drops tokens by the million: they are carved from
  // slabs of the compact arena, which names each by 32 bits, and each
  // thread keeps the blocks it released for its next ones.
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size) noexcept;

 private:
  using Link = TCompactLink<TIEToken>;

  TIEToken() { ConfineCount(); }
  ~TIEToken() override;
  // A partial match of two facts or more has a parent; a one-fact token has
  // none, and keeps where memories filed it where the links to its
  // siblings would be.
  bool HasParent() const noexcept { return count_ > 1; }
  [[noreturn]] static void RaiseInvalidAction();
  // Unlinks the token and the right children it heads; for destruction.
  void Unlink() noexcept;
  // The newer halves of the rings being walked by ForRightChildrenFrom,
  // each above the one it was called from.
  static std::vector<TIEToken*>& NewerHalf() noexcept;

  // The fields are laid out for the cache: a token is 64 bytes, carved at
  // a stride of 64 from slabs aligned to 64, so it spans one cache line.
  // Tokens link to one another by their 32-bit names in the compact arena.
  static_assert(sizeof(RefCounted) == 16, "the layout below counts on it");

  // These share the counted base's last word. bits_ holds the action (its
  // low two bits) and the flags below; an extension copies it whole.
  static constexpr std::uint8_t kTagBits = 3;
  static constexpr std::uint8_t kProbe = 4;
  static constexpr std::uint8_t kRepeats = 8;
  static constexpr std::uint8_t TagBits(TTokenAction action) noexcept {
    return static_cast<std::uint8_t>(action);
  }
  std::uint8_t bits_ = 0;  // taClear
  std::uint16_t count_ = 0;
  TFactHold fact_;
  // Counted: the token holds a reference to its parent.
  Link parent_;
  // The children: the newest one; they form a list from the newest to the
  // oldest through sibs_.next and back through sibs_.prev, with this token in
  // place of the newest one's sibs_.prev and of the oldest one's sibs_.next
  // (so that a child is in the list exactly when its sibs_.next is set).
  Link children_;
  // Where memories filed a one-fact token, which no list holds: none, one
  // (one_home_: the memory's serial and the position) or many (homes_: a
  // header of kHomesHeader words, then serial and position pairs; owned);
  // origin_ tells which. The pairs in use run from the header's start to its
  // end: a token leaves its memories in about the order it entered them, so
  // the home taken is nearly always the first in use, and the start moves on.
  enum : std::uint32_t { kNoHomes = 0, kOneHome = 1, kManyHomes = 2 };
  enum : std::size_t { kHomesEnd = 0, kHomesCapacity = 1, kHomesStart = 2, kHomesHeader = 3 };
  struct Siblings {
    Link prev;
    Link next;
  };
  union {
    Siblings sibs_ = {};
    std::uint64_t one_home_;
    std::uint32_t* homes_;
  };
  void AddHome(std::uint32_t memory, std::uint32_t position);
  // Takes out and returns the position memory `memory` filed the token at,
  // when `holds(position)` confirms it; else 0xffffffff.
  template <class Holds>
  std::uint32_t TakeHome(std::uint32_t memory, Holds&& holds);
  // Whether memory `memory` filed the token at `position`, by its homes.
  bool HasHome(std::uint32_t memory, std::uint32_t position) const noexcept;
  // The ring of a one-fact token and its right children: the token heads it
  // (right_next_ is the first child, right_prev_ the last); a child sits in
  // its right parent's ring.
  Link right_next_;
  Link right_prev_;
  // The id of the node that made the token; for a one-fact token, how many
  // homes it has (kNoHomes, kOneHome, kManyHomes).
  std::uint32_t origin_ = 0;
  std::uint32_t identity_hash_ = 0;
  // The position of a partial match in the first memory that stored it.
  std::uint32_t home_ = 0xffffffffu;
  float strength_ = 1.0f;

  friend class TIETokenTree;  // files and finds tokens by their home
  friend struct TTokenMemoryTamper;  // breaks links on purpose, in tests of the checks
};

// --- links, inline: a partial match is made and withdrawn by the million ---

inline void TIEToken::AdoptChild(TIEToken& child, std::uint32_t origin) noexcept {
  // In front: the old first child learns of its new neighbour, and nothing
  // that may have left the cache long ago needs to be read.
  const Link self = Link::Of(*this);
  const Link made = Link::Of(child);
  child.origin_ = origin;
  child.sibs_.prev = self;
  child.sibs_.next = children_ ? children_ : self;
  if (children_) {
    children_->sibs_.prev = made;
  }
  children_ = made;
}

inline void TIEToken::AdoptRightChild(TIEToken& child) noexcept {
  const Link made = Link::Of(child);
  if (!right_next_) {
    right_next_ = right_prev_ = Link::Of(*this);
  }
  child.right_prev_ = right_prev_;
  child.right_next_ = Link::Of(*this);
  right_prev_->right_next_ = made;
  right_prev_ = made;
}

inline void TIEToken::Detach() noexcept {
  if (!HasParent()) {
    return;
  }
  if (sibs_.next) {
    const Link parent = parent_;
    if (sibs_.prev == parent) {
      parent->children_ = sibs_.next != parent ? sibs_.next : Link();
    } else {
      sibs_.prev->sibs_.next = sibs_.next;
    }
    if (sibs_.next != parent) {
      sibs_.next->sibs_.prev = sibs_.prev;
    }
    sibs_ = {};
  }
  if (right_next_) {
    right_prev_->right_next_ = right_next_;
    right_next_->right_prev_ = right_prev_;
    right_next_ = Link();
    right_prev_ = Link();
  }
}

}  // namespace zephro
