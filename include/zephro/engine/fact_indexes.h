#pragma once

// Working memory's indexes: facts by hash code (for the duplicate test) and
// storage slots by fact id.
//
// The hash index uses open addressing with linear probing over one array: no allocation per fact
// and one cache line per probe, where a node-based multimap paid both for
// every assertion. Several facts may share a hash code; callers confirm a hit
// with an equality test.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "zephro/values/interfaces.h"

namespace zephro {

class TFactHashIndex {
 public:
  void Insert(std::int32_t hash, IFact* fact);
  // Removes `fact`, looked for under `hash` first (then everywhere, so that a
  // fact whose hash changed since it was filed is still taken out); does
  // nothing when it is not there.
  void Erase(std::int32_t hash, const IFact* fact);
  // The first fact filed under `hash` for which `matches(fact)` holds, or null.
  template <class F>
  IFact* Find(std::int32_t hash, F&& matches) const {
    if (cells_.empty()) {
      return nullptr;
    }
    for (std::size_t i = Home(hash);; i = (i + 1) & mask_) {
      const Cell& c = cells_[i];
      if (c.state == kEmpty) {
        return nullptr;
      }
      if (c.state == kFull && c.hash == hash && matches(*c.fact)) {
        return c.fact;
      }
    }
  }
  void Clear();
  std::size_t Count() const noexcept { return live_; }
  // Whether `fact` itself is filed under `hash`.
  bool Holds(std::int32_t hash, const IFact* fact) const {
    return Find(hash, [&](const IFact& filed) { return &filed == fact; }) != nullptr;
  }
  // Checks the table: the counts are those of the cells, the mask fits it,
  // an empty cell ends every probe, and no fact sits past an empty cell of
  // its probe sequence. Aborts at the first broken invariant; answers the
  // work done.
  std::size_t CheckInvariants() const;

 private:
  enum : std::uint8_t { kEmpty, kFull, kErased };
  struct Cell {
    IFact* fact = nullptr;
    std::int32_t hash = 0;
    std::uint8_t state = kEmpty;
  };

  std::size_t Home(std::int32_t hash) const noexcept;
  void Rehash(std::size_t capacity);

  std::vector<Cell> cells_;
  std::size_t mask_ = 0;
  std::size_t live_ = 0;
  std::size_t erased_ = 0;
};

// Working memory's storage slots by fact id. Ids are handed out in rising
// order from 0, so they index an array while the facts are dense among the
// ids; ids far beyond it (facts loaded with their own ids, or a long run of
// short-lived facts) and negative ones go to a hash table.
class TFactIdIndex {
 public:
  // The slot of the fact with `id`, or -1.
  std::int64_t Find(std::int32_t id) const {
    if (id >= 0 && static_cast<std::size_t>(id) < dense_.size() &&
        dense_[static_cast<std::size_t>(id)] != kNone) {
      return dense_[static_cast<std::size_t>(id)];
    }
    return sparse_.Find(id);
  }
  void Set(std::int32_t id, std::size_t slot);
  void Erase(std::int32_t id);
  void Clear();
  // How many ids are filed.
  std::size_t Count() const noexcept { return count_; }
  // Checks the array and the table: the count is that of the ids filed, no
  // id is filed in both, and every id in the table is found where a probe
  // looks. Aborts at the first broken invariant; answers the work done.
  std::size_t CheckInvariants() const;

 private:
  static constexpr std::uint32_t kNone = 0xffffffffu;

  // Ids and slots by open addressing with linear probing over one array. A
  // removal moves the entries after it back instead of leaving a marker, so
  // probes stay short however many ids come and go (a program that modifies
  // facts over and over files a new id each time).
  class TSparse {
   public:
    std::int64_t Find(std::int32_t id) const noexcept;
    // Files `slot` under `id`, or replaces the slot filed there.
    void Set(std::int32_t id, std::size_t slot);
    // Whether `id` was there.
    bool Erase(std::int32_t id) noexcept;
    void Clear() noexcept;
    std::size_t Count() const noexcept { return count_; }
    // Calls `f(id)` for each id filed, after checking the table (see
    // TFactIdIndex::CheckInvariants); answers the cells visited.
    std::size_t CheckInvariants(const std::function<void(std::int32_t)>& f) const;

   private:
    struct Cell {
      std::int32_t id = 0;
      std::size_t slot = kEmpty;
    };
    static constexpr std::size_t kEmpty = ~std::size_t{0};

    std::size_t Home(std::int32_t id) const noexcept;
    void Resize(std::size_t capacity);

    std::vector<Cell> cells_;
    std::size_t mask_ = 0;
    std::size_t count_ = 0;
  };

  std::vector<std::uint32_t> dense_;  // kNone: not here
  TSparse sparse_;
  std::size_t count_ = 0;
};

}  // namespace zephro
