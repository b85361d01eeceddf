#pragma once

// Match tokens and token memories.
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
// A TIETokenTree is the memory of one side of a join: tokens hashed by their
// key, the slot values the join compares, and (those a probe may look for)
// by their identity. Both tables grow as the memory fills, so probes, duplicate
// refusal and removal stay O(1) however many tokens it holds.

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
  // (one_home_: the memory's serial and the position) or many (homes_:
  // count, capacity, then serial and position pairs; owned); origin_ tells
  // which.
  enum : std::uint32_t { kNoHomes = 0, kOneHome = 1, kManyHomes = 2 };
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

// One part of a memory key: the value of slot `slot` (position `sub_index` of
// a multislot, or the whole slot) of the token's fact at `fact_index` (the
// token's own fact for a right memory).
struct TMemoryKeyPart {
  std::int32_t fact_index = 0;
  TSlotPosition slot;
  std::int32_t sub_index = -1;
  mutable TSlotCache cache;

  // The value of the part in `fact`, or null when the fact lacks it.
  const IIEValue* Read(const IFact& fact) const { return ReadSlot(slot, sub_index, cache, fact); }
};

// Where a memory finds the key of a token: the combined hash of the values of
// its parts. A join keys both memories on every equality join test it has, so
// a probe meets only partners that agree on all of them. Without parts the key
// is the token's identity. The parts are kept by the network's TMemoryKeyPool,
// once for every join keyed alike.
struct TMemoryKey {
  std::span<const TMemoryKeyPart> parts;

  // A key of one or two integers (none the lowest 32-bit integer) packed in
  // 64 bits: two such keys are equal exactly when their fingerprints are.
  // A key of one text (an atom or a string of the engine's own values) has
  // the address of the text's shared block, its lowest bit set and the next
  // one for a string (an atom and a string of one text share blocks): equal
  // fingerprints mean equal keys, but equal texts may sit in different
  // blocks. Any other key has kInexact, which no key packs to.
  static constexpr std::uint64_t kInexact = std::uint64_t{0x80000000u} << 32;

  // Whether keys with fingerprints `a` and `b` (neither kInexact) are equal:
  // a definite answer, or false and `decided` cleared when only the key's
  // tests can tell.
  bool SameKey(std::uint64_t a, std::uint64_t b, bool& decided) const noexcept {
    // Integer fingerprints of one part keep the low half clear.
    decided = a == b || parts.size() != 1 || ((a | b) & 1) == 0;
    return a == b;
  }

  bool Keyed() const noexcept { return !parts.empty(); }
  // The hash of the key of `token` (its identity for an unkeyed memory).
  // Sets `found` false when a fact of the token lacks a part; stores the
  // key's fingerprint in `fingerprint` when given.
  std::int32_t HashOf(const TIEToken& token, bool& found,
                      std::uint64_t* fingerprint = nullptr) const;
  // The hash of the key read from `fact` itself.
  std::int32_t HashOfFact(const IFact& fact, bool& found,
                          std::uint64_t* fingerprint = nullptr) const;

 private:
  // The combined hash of every part, read from the fact `fact_of(part)`.
  template <class FactOf>
  std::int32_t HashParts(FactOf&& fact_of, bool& found, std::uint64_t* fingerprint) const;
};

// The parts of a network's memory keys, each list kept once however many
// joins are keyed alike: a program's joins tend to key on the same few slots.
// Lists live until Clear, when the network lets go of every join.
class TMemoryKeyPool {
 public:
  // The kept list equal to `parts` (same fact indexes, slot names and
  // positions), kept now when there was none.
  std::span<const TMemoryKeyPart> Intern(const std::vector<TMemoryKeyPart>& parts);
  std::size_t Count() const noexcept { return keys_.size(); }
  void Clear() noexcept { keys_.clear(); }

 private:
  // By a text spelling each part out; a node's list never moves.
  std::unordered_map<std::string, std::vector<TMemoryKeyPart>> keys_;
};

// The memory of one side of a join. Entries live in one array and sit on two
// chains linked by position: the chain of their key's hash bucket (insertion
// order, so the partners of a probe come out oldest first) and the chain of
// their identity bucket (so duplicates are refused and removals found in O(1)
// however many entries share a key). The join that owns the memory computes
// the key hashes; the memory only files them.
class TIETokenTree {
 public:
  static constexpr std::uint32_t kNoEntry = 0xffffffffu;
  // From this many entries on, a probe fetches ahead (see ForKey).
  static constexpr int kLookAheadFrom = 1024;

  struct Entry {
    Ref<TIEToken> token;
    std::uint64_t fingerprint = TMemoryKey::kInexact;  // of the token's key
    std::int32_t hash = 0;
    std::uint32_t key_prev = 0;
    std::uint32_t key_next = 0;
    std::uint32_t id_next = 0;
  };

  // `probed`: every walk of the memory is a probe for one key (ForKey), none
  // visits it whole (ForEach), so the key table may grow with the number of
  // keys rather than with the number of entries. A memory that is walked
  // whole keeps `buckets` key buckets, the bucket of a key hash being its
  // magnitude modulo their count: a walk visits the buckets in index order
  // and each one's entries in insertion order, however many entries come.
  explicit TIETokenTree(int buckets, bool probed = false);
  ~TIETokenTree();
  TIETokenTree(const TIETokenTree&) = delete;
  TIETokenTree& operator=(const TIETokenTree&) = delete;

  int Count() const noexcept { return count_; }
  // The memory's number, unique in the process: one-fact tokens record
  // where they were filed by it.
  std::uint32_t Serial() const noexcept { return serial_; }

  // Stores `token` under key hash `hash` (unless it may repeat and an equal
  // one is there); returns its position (where it stays until removed), or
  // kNoEntry.
  std::uint32_t Add(Ref<TIEToken> token, std::int32_t hash,
                    std::uint64_t fingerprint = TMemoryKey::kInexact);
  // Removes the entry equal to `token`; answers whether there was one and
  // reports its position (not reused before the next Add) and the token it
  // held (either may be null).
  bool Remove(TIEToken& token, std::uint32_t* position, Ref<TIEToken>* held = nullptr);
  // In the left memory of a negated join: the position of the right entry
  // that blocks the entry at `position` (the first match found), or kNoEntry
  // while nothing does.
  std::uint32_t& Blocker(std::uint32_t position) {
    if (position >= blockers_.size()) [[unlikely]] {
      GrowBlockers(position);
    }
    return blockers_[position];
  }
  // Calls `f(entry, position)` for each entry whose key hashes to `hash`,
  // oldest first, until `f` answers false. `f` must not add to or remove
  // from this memory.
  //
  // A partner that matches is handled at length (a partial match made and
  // passed on): meanwhile the next entry's token and the entry after it are
  // fetched, and this entry's fact, which the new partial match reads. Each
  // entry's place is worked out once.
  template <class F>
  void ForKey(std::int32_t hash, F&& f) {
    FinishLinks();
    const std::size_t k = KeyIndex(hash);
    if (k >= keys_.size()) {
      return;  // a walked memory's bucket that never held an entry
    }
    if (count_ < kLookAheadFrom) {
      // A small memory stays in the cache: fetching ahead would only cost.
      for (std::uint32_t i = keys_[k].head; i != kNone;) {
        Entry& e = entries_[i];
        const std::uint32_t at = i;
        i = e.key_next;
        if (e.hash != hash) {
          ++passed_by_;
        } else if (!f(e, at)) {
          return;
        }
      }
      return;
    }
    std::uint32_t at = keys_[k].head;
    Entry* e = at != kNone ? &entries_[at] : nullptr;
    std::uint32_t next_at = e != nullptr ? e->key_next : kNone;
    Entry* next = next_at != kNone ? &entries_[next_at] : nullptr;
    while (e != nullptr) {
      std::uint32_t after_at = kNone;
      Entry* after = nullptr;
      if (next != nullptr) {
        __builtin_prefetch(next->token.get());
        after_at = next->key_next;
        if (after_at != kNone) {
          after = &entries_[after_at];
          __builtin_prefetch(after);
        }
      }
      if (e->hash != hash) {
        ++passed_by_;
      } else {
        __builtin_prefetch(e->token->Fact());
        if (!f(*e, at)) {
          return;
        }
      }
      e = next;
      at = next_at;
      next = after;
      next_at = after_at;
    }
  }
  // Calls `f(entry, position)` for every entry, bucket by bucket, until `f`
  // answers false. `f` must not add to or remove from this memory.
  //
  // A join without a key meets every entry, often without reading its
  // token before the token is extended: in a large memory the tokens of the
  // entries kForEachAhead places on are fetched meanwhile.
  template <class F>
  void ForEach(F&& f) {
    FinishLinks();
    if (count_ < kLookAheadFrom) {
      for (std::size_t b = NextBucket(0); b < keys_.size(); b = NextBucket(b + 1)) {
        for (std::uint32_t i = keys_[b].head; i != kNone;) {
          Entry& e = entries_[i];
          const std::uint32_t at = i;
          i = e.key_next;
          if (!f(e, at)) {
            return;
          }
        }
      }
      return;
    }
    TWalk ahead(*this);
    std::uint32_t window[kForEachAhead];
    for (std::uint32_t& at : window) {
      at = ahead.Next();
    }
    for (std::size_t slot = 0;; slot = (slot + 1) % kForEachAhead) {
      const std::uint32_t at = window[slot];
      if (at == kNone) {
        return;
      }
      window[slot] = ahead.Next();
      if (!f(entries_[at], at)) {
        return;
      }
    }
  }
  // Starts fetching the key bucket of `hash`, which a probe or an Add for
  // that hash reads first.
  void PrefetchKey(std::int32_t hash) const noexcept {
    if (const std::size_t k = KeyIndex(hash); k < keys_.size()) {
      __builtin_prefetch(&keys_[k]);
    }
  }
  // Withdrawing many partial matches filed here at home, the removal of each
  // is prepared two steps ahead. First its entry is fetched
  // (PrefetchHome); once that has come, what unlinking the entry writes:
  // its neighbours on its key chain, or its key bucket (PrefetchUnlink).
  // Tokens filed elsewhere are passed over.
  void PrefetchHome(const TIEToken& token) const noexcept {
    if (token.HasParent() && token.home_ < entries_.size()) {
      __builtin_prefetch(&entries_[token.home_], 1);
    }
  }
  void PrefetchUnlink(const TIEToken& token) const noexcept {
    const Entry* e = token.HasParent() ? AtHome(token.home_, token) : nullptr;
    if (e == nullptr) {
      return;
    }
    const std::uint32_t ends[] = {e->key_prev, e->key_next};
    for (const std::uint32_t at : ends) {
      if (at < entries_.size()) {
        __builtin_prefetch(&entries_[at], 1);
      } else {
        __builtin_prefetch(&keys_[KeyIndex(e->hash)], 1);
      }
    }
  }
  // The entry at `position` when it holds `token` at home, else null.
  const Entry* AtHome(std::uint32_t position, const TIEToken& token) const noexcept {
    if (position >= entries_.size()) {
      return nullptr;
    }
    const Entry& e = entries_[position];
    return e.token.get() == &token && e.id_next == kHome ? &e : nullptr;
  }
  void Clear();
  std::string ToString() const;
  std::string GetToFactsString() const;

  // Checks the memory (after doing the links put off): every live entry is
  // on exactly one key chain, that of its hash's bucket, linked both ways
  // and ending at the bucket's tail; the entry and bucket counts are those
  // of the chains; an entry filed by identity is on the identity chain of
  // its token's identity, one filed at home is where its token's home says;
  // the free list holds every other position, and no token; the tables have
  // the sizes their masks or bucket count say. Then the links of every
  // token held (TIEToken::CheckLinks). Aborts at the first broken invariant
  // (see platform/debug_checks.h); answers the work done, in entries, buckets
  // and tokens visited.
  std::size_t CheckInvariants() const;
  // For the left memory of a negated join whose right memory is `right`
  // (null while it never stored anything): checks that every entry blocked
  // is blocked by an entry `right` holds.
  void CheckBlockers(const TIETokenTree* right) const;
  // Whether the entry at `position` holds a token.
  bool Holds(std::uint32_t position) const noexcept {
    return position < entries_.size() && entries_[position].token;
  }

 private:
  friend struct TTokenMemoryTamper;  // breaks memories on purpose, in tests of the checks
  static constexpr std::uint32_t kNone = kNoEntry;
  // In place of an identity link: the entry is its token's home.
  static constexpr std::uint32_t kHome = kNoEntry - 1;

  static constexpr std::size_t kForEachAhead = 4;
  // The positions of the entries in ForEach's order; each one's token is
  // fetched as its position is handed out.
  class TWalk {
   public:
    explicit TWalk(TIETokenTree& tree) noexcept : tree_(tree) {}
    [[gnu::always_inline]] std::uint32_t Next() noexcept {
      while (at_ == kNone) {
        bucket_ = tree_.NextBucket(bucket_);
        if (bucket_ >= tree_.keys_.size()) {
          return kNone;
        }
        // The entries sit all over the array: the head of a bucket further
        // on is fetched now, to be read when the walk gets there.
        if (bucket_ + kForEachAhead < tree_.keys_.size()) {
          const std::uint32_t later = tree_.keys_[bucket_ + kForEachAhead].head;
          if (later != kNone) {
            __builtin_prefetch(&tree_.entries_[later]);
          }
        }
        at_ = tree_.keys_[bucket_++].head;
      }
      const std::uint32_t here = at_;
      const Entry& e = tree_.entries_[here];
      at_ = e.key_next;
      __builtin_prefetch(e.token.get());  // one cache line
      return here;
    }

   private:
    TIETokenTree& tree_;
    std::size_t bucket_ = 0;
    std::uint32_t at_ = kNone;
  };

  // The first key bucket at or after `from` whose chain may hold entries, or
  // keys_.size(): a walked memory knows its buckets in use, a probed one
  // has each tried.
  std::size_t NextBucket(std::size_t from) const noexcept {
    if (modulus_ == 0) {
      return from;
    }
    for (std::size_t w = from / 64; w < used_.size(); ++w) {
      std::uint64_t bits = used_[w];
      if (w == from / 64) {
        bits &= ~std::uint64_t{0} << (from % 64);
      }
      if (bits != 0) {
        return w * 64 + static_cast<std::size_t>(std::countr_zero(bits));
      }
    }
    return keys_.size();
  }
  void MarkUsed(std::size_t bucket, bool used) noexcept {
    if (modulus_ != 0) {
      const std::uint64_t bit = std::uint64_t{1} << (bucket % 64);
      used_[bucket / 64] = used ? used_[bucket / 64] | bit : used_[bucket / 64] & ~bit;
    }
  }
  std::size_t KeyIndex(std::int32_t hash) const noexcept {
    if (modulus_ != 0) {
      const auto magnitude = static_cast<std::uint32_t>(hash < 0 ? -std::int64_t{hash} : hash);
      return magnitude % modulus_;
    }
    return MixBits(static_cast<std::uint32_t>(hash)) & key_mask_;
  }
  std::size_t IdIndex(std::uint32_t identity) const noexcept;
  void LinkKey(std::uint32_t index);
  // Linking an entry reads its key bucket, which may have left the cache
  // long ago: Add only starts fetching it, and the entry is linked when the
  // memory is next used (by the next Add, or before anything reads the key
  // chains). Linking it behind the last one of its chain then writes that
  // one's key_next, likewise far away: that write is put off until the next
  // entry is linked, or done before anything reads the key chains.
  void FinishLinks() const noexcept {
    // Doing the links changes nothing a reader of the memory sees: const
    // readers do them too.
    const_cast<TIETokenTree*>(this)->LinkPending();
    FinishTailLink();
  }
  void LinkPending() noexcept {
    if (pending_ != kNone) {
      const std::uint32_t index = pending_;
      pending_ = kNone;
      LinkKey(index);
    }
  }
  void FinishTailLink() const noexcept {
    if (deferred_link_ != nullptr) {
      *deferred_link_ = deferred_next_;
      deferred_link_ = nullptr;
    }
  }
  void LinkIdentity(std::uint32_t index);
  // The position of the entry holding `token` (taken out of the identity
  // chains or the token's homes), or kNone.
  std::uint32_t Find(TIEToken& token);
  std::uint32_t FindAtHome(TIEToken& token);
  // Whether the key table is due to double before one more entry comes.
  bool KeysFull() const noexcept {
    return modulus_ == 0 && static_cast<std::size_t>(count_) > key_mask_ &&
           (!probed_ || occupied_ * std::size_t{8} > (key_mask_ + 1) * 5 ||
            passed_by_ > static_cast<std::size_t>(count_));
  }
  void Grow();
  void GrowIdentity();
  // Makes room in blockers_ for `position` and more.
  void GrowBlockers(std::uint32_t position);
  template <class F>
  void ForEachText(F&& text_of, std::string& text) const;

  std::uint32_t serial_;
  TSegmentedArray<Entry> entries_;
  std::vector<std::uint32_t> blockers_;  // by position; see Blocker
  // The key chains: first and last entry (one cache line serves both ends).
  struct KeyBucket {
    std::uint32_t head = kNone;
    std::uint32_t tail = kNone;
  };
  std::vector<KeyBucket, TBlockAllocator<KeyBucket>> keys_;
  std::vector<std::uint32_t, TBlockAllocator<std::uint32_t>> id_heads_;
  // Bucket counts - 1 (powers of two). The key table grows when the memory
  // holds more entries than buckets; a probed memory's only when besides
  // more than 5/8 of its buckets are in use (about as many keys as buckets,
  // however many entries share a key) or its probes have passed by more
  // entries of other keys than it holds, which is what growing costs. The
  // identity table grows with the entries on its chains.
  std::size_t key_mask_ = 0;
  // A walked memory's bucket count (its key table grows to it as buckets are
  // used, and no further); 0 for a probed memory.
  std::uint32_t modulus_ = 0;
  // A walked memory's buckets in use, a bit each: a walk of a memory of a
  // few entries visits a few buckets, not all of them.
  std::vector<std::uint64_t> used_;
  std::size_t id_mask_ = 0;
  std::size_t occupied_ = 0;  // key buckets whose chain is not empty
  std::size_t id_count_ = 0;  // entries on the identity chains
  std::size_t passed_by_ = 0;  // entries of other keys walked since the last Grow
  bool probed_ = false;
  std::uint32_t free_ = kNone;
  // The entry Add filed but has not linked to its key chain yet, or kNone.
  std::uint32_t pending_ = kNone;
  // The key_next put off by LinkKey, and its value.
  mutable std::uint32_t* deferred_link_ = nullptr;
  mutable std::uint32_t deferred_next_ = 0;
  bool in_order_ = true;  // no slot reused since the array was last empty
  int count_ = 0;
};

}  // namespace zephro
