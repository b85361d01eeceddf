#pragma once

// Token memories: a TIETokenTree is the memory of one side of a join: tokens
// hashed by their key, the slot values the join compares, and (those a
// probe may look for) by their identity. Both tables grow as the memory
// fills, so probes, duplicate refusal and removal stay O(1) however many
// tokens it holds. Keys are interned in the network's TMemoryKeyPool, so
// joins keyed alike share them.

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

#include "rules/token.h"

namespace zephro {

// One part of a memory key: the value of slot `slot` (position `sub_index` of
// a multislot, or the whole slot) of the token's fact at `fact_index` (the
// token's own fact for a right memory).
struct TMemoryKeyPart {
  std::int32_t fact_index = 0;
  // The number of the list the part belongs to in its TMemoryKeyPool, in
  // the order the pool kept them (in padding: the part is no larger).
  std::uint32_t key_number = 0;
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

  // A key of one or two parts, each an integer from -2^30 to 2^30 - 1 or
  // an atom or string of the engine's own values whose text has a serial
  // (TText::Serial), packed in 64 bits, 32 to a part (a key of one part
  // leaves the low half clear): an integer as its low 31 bits, a text as
  // the top bit, the next one for a string (an atom and a string of one text
  // share blocks) and the serial. Equal fingerprints mean equal keys; for
  // keys of integers alone, unequal ones mean unequal keys, but equal texts
  // may sit in different blocks. Any other key has kInexact, which no key
  // packs to (a text's serial is never 0).
  static constexpr std::uint64_t kInexact = std::uint64_t{0x80000000u} << 32;
  // The bits that mark a part as a text.
  static constexpr std::uint64_t kTextParts = (std::uint64_t{0x80000000u} << 32) | 0x80000000u;

  // Whether keys with fingerprints `a` and `b` (neither kInexact) are equal:
  // a definite answer, or false and `decided` cleared when only the key's
  // tests can tell.
  static bool SameKey(std::uint64_t a, std::uint64_t b, bool& decided) noexcept {
    decided = a == b || ((a | b) & kTextParts) == 0;
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
class alignas(64) TIETokenTree {
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
  // Removal in two steps, for a memory several joins share, which must see
  // the entry until each has been told. Detach finds the entry equal to
  // `token` and makes it unfindable by identity (kNoEntry when there is
  // none): walks still meet it. Unlink(position) then takes the detached
  // entry out; nothing may be added in between.
  std::uint32_t Detach(TIEToken& token) { return Find(token); }
  void Unlink(std::uint32_t position, Ref<TIEToken>* held = nullptr) noexcept;
  // The token the entry at `position` holds.
  const Ref<TIEToken>& TokenAt(std::uint32_t position) const { return entries_[position].token; }
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
  // passed on): meanwhile, from the second entry on, the next entry's token
  // and the entry after it are fetched, and this entry's fact, which the new
  // partial match reads (unless `kFetchFact` is false: a search that only
  // answers where a match is, and may decide it by the fingerprints alone).
  // Each entry's place is worked out once.
  template <bool kFetchFact = true, class F>
  void ForKey(std::int32_t hash, F&& f) {
    FinishLinks();
    const std::size_t k = KeyIndex(hash);
    if (k >= keys_.size()) {
      return;  // a walked memory's bucket that never held an entry
    }
    if (count_ < kLookAheadFrom) {
      // A small memory stays in the cache: fetching ahead would only cost.
      WalkKey(hash, keys_[k].head, f);
      return;
    }
    // Hands `e` to `f` when its hash is the key's; false: the walk stops.
    auto visit = [&](Entry& e, std::uint32_t position) {
      if (e.hash != hash) {
        ++passed_by_;
        return true;
      }
      if constexpr (kFetchFact) {
        __builtin_prefetch(e.token->Fact());
      }
      return f(e, position);
    };
    std::uint32_t at = keys_[k].head;
    if (at == kNone) {
      return;
    }
    {
      // The first entry on its own: many walks end at it (a blocker found,
      // a key held once), so its successor is only fetched, not read.
      Entry& first = entries_[at];
      const std::uint32_t second = first.key_next;
      if (second != kNone) {
        __builtin_prefetch(&entries_[second]);
      }
      if (!visit(first, at)) {
        return;
      }
      at = second;
    }
    Entry* e = at != kNone ? &entries_[at] : nullptr;
    if (e != nullptr) {
      __builtin_prefetch(e->token.get());
    }
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
      if (!visit(*e, at)) {
        return;
      }
      e = next;
      at = next_at;
      next = after;
      next_at = after_at;
    }
  }
  // As ForKey, but for the entries filed under `hash` after the one at
  // `position`: those from its successor on its key chain (which keeps
  // insertion order), taken when it was last on the chain. The entry may
  // have been taken out since, if nothing was added after.
  template <class F>
  void ForKeyAfter(std::int32_t hash, std::uint32_t position, F&& f) {
    FinishLinks();
    if (count_ > 0 && position < entries_.size()) {
      WalkKey(hash, entries_[position].key_next, f);
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

  // Calls `f` for the entries under `hash` on a key chain from position
  // `from` on, until `f` answers false.
  template <class F>
  void WalkKey(std::int32_t hash, std::uint32_t from, F&& f) {
    for (std::uint32_t i = from; i != kNone;) {
      Entry& e = entries_[i];
      const std::uint32_t at = i;
      i = e.key_next;
      if (e.hash != hash) {
        ++passed_by_;
      } else if (!f(e, at)) {
        return;
      }
    }
  }

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

  // The fields every probe and filing reads come first, in one cache line
  // (the class is aligned to one): a fact passing through many joins meets
  // many memories, each cold.
  // The entry Add filed but has not linked to its key chain yet, or kNone.
  std::uint32_t pending_ = kNone;
  std::uint32_t free_ = kNone;
  int count_ = 0;
  // A walked memory's bucket count (its key table grows to it as buckets are
  // used, and no further); 0 for a probed memory.
  std::uint32_t modulus_ = 0;
  // The key chains: first and last entry (one cache line serves both ends).
  struct KeyBucket {
    std::uint32_t head = kNone;
    std::uint32_t tail = kNone;
  };
  std::vector<KeyBucket, TBlockAllocator<KeyBucket>> keys_;
  // Bucket counts - 1 (powers of two). The key table grows when the memory
  // holds more entries than buckets; a probed memory's only when besides
  // more than 5/8 of its buckets are in use (about as many keys as buckets,
  // however many entries share a key) or its probes have passed by more
  // entries of other keys than it holds, which is what growing costs. The
  // identity table grows with the entries on its chains.
  std::size_t key_mask_ = 0;
  // The key_next put off by LinkKey, and its value.
  mutable std::uint32_t* deferred_link_ = nullptr;
  mutable std::uint32_t deferred_next_ = 0;
  std::uint32_t serial_;
  TSegmentedArray<Entry> entries_;
  std::size_t passed_by_ = 0;  // entries of other keys walked since the last Grow
  std::size_t occupied_ = 0;  // key buckets whose chain is not empty
  bool probed_ = false;
  bool in_order_ = true;  // no slot reused since the array was last empty
  std::vector<std::uint32_t> blockers_;  // by position; see Blocker
  std::vector<std::uint32_t, TBlockAllocator<std::uint32_t>> id_heads_;
  // A walked memory's buckets in use, a bit each: a walk of a memory of a
  // few entries visits a few buckets, not all of them.
  std::vector<std::uint64_t> used_;
  std::size_t id_mask_ = 0;
  std::size_t id_count_ = 0;  // entries on the identity chains
};

}  // namespace zephro
