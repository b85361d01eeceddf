#pragma once

// Match tokens and token memories.
//
// A TIEToken is an immutable link of a chain of facts: a parent token plus
// one fact, with the action it carries, its fuzzy strength and a sort code
// that summarises the chain. Tokens are shared: a join that extends a partial
// match makes one new link pointing at the shared parent.
//
// A TIETokenTree is the memory of one side of a join: entries (token,
// negated-match count) hashed by their key, the slot values the join compares,
// and by their identity. Both tables grow as the memory fills, so probes,
// duplicate refusal and removal stay O(1) however many tokens it holds.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zephro/facts/slot_position.h"
#include "zephro/values/interfaces.h"

namespace zephro {

class TIEToken final : public IReteToken {
 public:
  // A one-fact token.
  TIEToken(TTokenAction action, Ref<IFact> fact);
  // `parent` extended by `fact` (may be null); inherits the parent's action
  // and strength.
  TIEToken(Ref<TIEToken> parent, Ref<IFact> fact);
  // A copy with another action.
  TIEToken(const TIEToken& source, TTokenAction action);

  std::int32_t Count() const noexcept override { return count_; }
  IFact* GetFacts(int index) const override;
  IFact* Fact() const noexcept override { return fact_.get(); }
  IReteToken* Parent() const noexcept override { return parent_.get(); }
  TIEToken* ParentToken() const noexcept { return parent_.get(); }
  TTokenAction Tag() const noexcept override { return tag_; }
  // Raises "Invalid Token Action" when a token without fact gets anything but taClear.
  void SetTag(TTokenAction action);
  float Strength() const noexcept override { return strength_; }
  void SetStrength(float strength) noexcept { strength_ = strength < 0 ? 0.0f : strength; }
  std::int32_t NegatedCount() const noexcept override { return negated_count_; }
  void SetNegatedCount(std::int32_t n) noexcept { negated_count_ = n < 0 ? 0 : n; }
  std::int32_t SortCode() const noexcept override { return sort_code_; }
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

 private:
  TIEToken() = default;
  ~TIEToken() override;

  Ref<TIEToken> parent_;
  Ref<IFact> fact_;
  std::int32_t count_ = 0;
  std::int32_t negated_count_ = 0;
  std::int32_t sort_code_ = 0;
  std::uint32_t identity_hash_ = 0;
  float strength_ = 1.0f;
  TTokenAction tag_ = TTokenAction::taClear;
};

// One part of a memory key: the value of slot `slot` (position `sub_index` of
// a multislot, or the whole slot) of the token's fact at `fact_index` (the
// token's own fact for a right memory).
struct TMemoryKeyPart {
  std::int32_t fact_index = 0;
  TSlotPosition slot;
  std::int32_t sub_index = -1;

  // The value of the part in `fact`, or null when the fact lacks it.
  const IIEValue* Read(const IFact& fact) const;
};

// Where a memory finds the key of a token: the combined hash of the values of
// its parts. A join keys both memories on every equality join test it has, so
// a probe meets only partners that agree on all of them. Without parts the key
// is the token's identity.
struct TMemoryKey {
  std::vector<TMemoryKeyPart> parts;

  bool Keyed() const noexcept { return !parts.empty(); }
  // The hash of the key of `token` (its identity for an unkeyed memory).
  // Sets `found` false when a fact of the token lacks a part.
  std::int32_t HashOf(const TIEToken& token, bool& found) const;
  // The hash of the key read from `fact` itself.
  std::int32_t HashOfFact(const IFact& fact, bool& found) const;
};

// The memory of one side of a join. Entries live in a pool and sit on three
// intrusive lists: the chain of their key's hash bucket (insertion order, so
// the partners of a probe come out oldest first), the chain of their identity
// bucket (so duplicates are refused and removals found in O(1) however many
// entries share a key), and the list of all entries (insertion order).
class TIETokenTree {
 public:
  struct Entry {
    Ref<TIEToken> token;
    std::int32_t negated_count = 0;
    std::int32_t hash = 0;
    Entry* key_prev = nullptr;
    Entry* key_next = nullptr;
    Entry* id_next = nullptr;
    Entry* all_prev = nullptr;
    Entry* all_next = nullptr;
  };

  explicit TIETokenTree(int initial_buckets, TMemoryKey key);
  ~TIETokenTree();
  TIETokenTree(const TIETokenTree&) = delete;
  TIETokenTree& operator=(const TIETokenTree&) = delete;

  const TMemoryKey& Key() const noexcept { return key_; }
  int Count() const noexcept { return count_; }

  // Stores `token` under key hash `hash` unless an equal one is there;
  // returns the entry or null.
  Entry* Add(Ref<TIEToken> token, std::int32_t hash);
  // Removes the entry equal to `token`; answers whether there was one and
  // reports its negated-match count in `negated_count` (may be null).
  bool Remove(const TIEToken& token, std::int32_t* negated_count);
  // Calls `f(entry)` for each entry whose key hashes to `hash`, oldest first,
  // until `f` answers false.
  template <class F>
  void ForKey(std::int32_t hash, F&& f) {
    for (Entry* e = key_heads_[KeyIndex(hash)]; e != nullptr;) {
      Entry* next = e->key_next;
      if (e->hash == hash && !f(*e)) {
        return;
      }
      e = next;
    }
  }
  // Calls `f(entry)` for every entry, oldest first, until `f` answers false.
  template <class F>
  void ForEach(F&& f) {
    for (Entry* e = all_head_; e != nullptr;) {
      Entry* next = e->all_next;
      if (!f(*e)) {
        return;
      }
      e = next;
    }
  }
  void Clear();
  std::string ToString() const;
  std::string GetToFactsString() const;

 private:
  std::size_t KeyIndex(std::int32_t hash) const noexcept;
  std::size_t IdIndex(const TIEToken& token) const noexcept;
  Entry* NewEntry();
  void FreeEntry(Entry* e);
  void Unlink(Entry* e);
  void Grow();

  TMemoryKey key_;
  std::vector<Entry*> key_heads_;
  std::vector<Entry*> key_tails_;
  std::vector<Entry*> id_heads_;
  std::size_t mask_ = 0;  // bucket count - 1 (a power of two)
  Entry* all_head_ = nullptr;
  Entry* all_tail_ = nullptr;
  Entry* free_ = nullptr;
  std::vector<std::unique_ptr<Entry[]>> chunks_;
  std::size_t next_chunk_size_ = 16;
  int count_ = 0;
};

}  // namespace zephro
