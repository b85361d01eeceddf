#pragma once

// Match tokens and token memories.
//
// A TIEToken is an immutable link of a chain of facts: a parent token plus
// one fact, with the action it carries, its fuzzy strength and a sort code
// that summarises the chain. Tokens are shared: a join that extends a partial
// match makes one new link pointing at the shared parent.
//
// A TIETokenTree is the memory of one side of a join: a hash table of entries
// (token, negated-match count) keyed either by one slot value of one fact of
// the token or by the token's identity. It grows as it fills, so a probe stays
// O(1) however many tokens it holds, and it refuses a token equal to one it
// already holds.

#include <cstdint>
#include <string>
#include <vector>

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
  bool Equals(const IReteToken* other) const override;
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
  float strength_ = 1.0f;
  TTokenAction tag_ = TTokenAction::taClear;
};

// Where a memory finds the key of a token: the value of slot `slot` (position
// `sub_index` of a multislot, or the whole slot) of the token's fact at
// `fact_index`. Without a slot the key is the token's identity.
struct TMemoryKey {
  bool keyed = false;
  std::int32_t fact_index = 0;
  std::string slot;
  std::int32_t sub_index = -1;
  // One-entry cache of the slot's position in the last template seen.
  mutable const IFactTemplate* cached_template = nullptr;
  mutable int cached_index = -1;

  // The hash of the key of `token` (its identity for an unkeyed memory).
  // Sets `found` false when the token's fact lacks the slot.
  std::int32_t HashOf(const TIEToken& token, bool& found) const;
  // The hash of the key value read from `fact` itself.
  std::int32_t HashOfFact(const IFact& fact, bool& found) const;
};

class TIETokenTree {
 public:
  struct Entry {
    Ref<TIEToken> token;
    std::int32_t negated_count;
    std::int32_t hash;
  };

  explicit TIETokenTree(int initial_buckets, TMemoryKey key);

  const TMemoryKey& Key() const noexcept { return key_; }
  int Count() const noexcept { return count_; }

  // Stores `token` unless an equal one is there; returns the entry or null.
  Entry* Add(Ref<TIEToken> token, std::int32_t hash);
  // Removes the entry equal to `token`; fills `removed` and answers whether
  // there was one.
  bool Remove(const TIEToken& token, std::int32_t hash, Entry* removed);
  // The entries whose key hashes to `hash` (and any colliding ones).
  std::vector<Entry>* Bucket(std::int32_t hash) noexcept;
  // Every entry, bucket by bucket.
  template <class F>
  void ForEach(F&& f) {
    for (std::vector<Entry>& bucket : buckets_) {
      for (Entry& e : bucket) {
        f(e);
      }
    }
  }
  void Clear();
  std::string ToString() const;
  std::string GetToFactsString() const;

 private:
  std::size_t IndexOf(std::int32_t hash) const noexcept;
  void Grow();

  TMemoryKey key_;
  std::vector<std::vector<Entry>> buckets_;
  int count_ = 0;
  bool cleared_ = true;
};

}  // namespace zephro
