#include "zephro/engine/fact_indexes.h"

#include <algorithm>

#include "platform/debug_checks.h"
#include "platform/hash_mix.h"

namespace zephro {

std::size_t TFactHashIndex::Home(std::int32_t hash) const noexcept {
  return MixBits(static_cast<std::uint32_t>(hash)) & mask_;
}

void TFactHashIndex::Rehash(std::size_t capacity) {
  std::vector<Cell> old(capacity);
  old.swap(cells_);
  mask_ = capacity - 1;
  erased_ = 0;
  for (const Cell& c : old) {
    if (c.state == kFull) {
      std::size_t i = Home(c.hash);
      while (cells_[i].state != kEmpty) {
        i = (i + 1) & mask_;
      }
      cells_[i] = c;
    }
  }
}

void TFactHashIndex::Insert(std::int32_t hash, IFact* fact) {
  // Keep at most half of the cells in use (live or erased). A rebuild leaves
  // at most three eighths live, so that an eighth of the table is inserted
  // before the next one: under steady churn a table just under half full
  // would otherwise be rebuilt every few inserts. Growth alone still doubles.
  if ((live_ + erased_ + 1) * 2 > cells_.size()) {
    std::size_t capacity = cells_.empty() ? 16 : cells_.size();
    while ((live_ + 1) * 8 > capacity * 3) {
      capacity *= 2;
    }
    Rehash(capacity);
  }
  std::size_t i = Home(hash);
  while (cells_[i].state == kFull) {
    i = (i + 1) & mask_;
  }
  if (cells_[i].state == kErased) {
    --erased_;
  }
  cells_[i] = Cell{fact, hash, kFull};
  ++live_;
}

void TFactHashIndex::Erase(std::int32_t hash, const IFact* fact) {
  if (cells_.empty()) {
    return;
  }
  auto erase = [&](Cell& c) {
    c.state = kErased;
    c.fact = nullptr;
    --live_;
    ++erased_;
  };
  for (std::size_t i = Home(hash);; i = (i + 1) & mask_) {
    Cell& c = cells_[i];
    if (c.state == kEmpty) {
      break;
    }
    if (c.state == kFull && c.fact == fact) {
      erase(c);
      return;
    }
  }
  // Not under its hash: the fact changed since it was filed (a host may set
  // slots of a fact in working memory). Never leave a pointer to it behind.
  for (Cell& c : cells_) {
    if (c.state == kFull && c.fact == fact) {
      erase(c);
      return;
    }
  }
}

void TFactIdIndex::Set(std::int32_t id, std::size_t slot) {
  if (Find(id) < 0) {
    ++count_;
  }
  if (id >= 0 && slot < kNone) {
    const auto at = static_cast<std::size_t>(id);
    // The array grows while the ids it would cover are mostly in use.
    if (at >= dense_.size() && at < count_ * 8 + 1024) {
      dense_.resize(std::max(at + 1, dense_.size() * 3 / 2), kNone);
    }
    if (at < dense_.size()) {
      sparse_.Erase(id);
      dense_[at] = static_cast<std::uint32_t>(slot);
      return;
    }
  }
  sparse_.Set(id, slot);
}

void TFactIdIndex::Erase(std::int32_t id) {
  if (id >= 0 && static_cast<std::size_t>(id) < dense_.size() &&
      dense_[static_cast<std::size_t>(id)] != kNone) {
    dense_[static_cast<std::size_t>(id)] = kNone;
    --count_;
  } else if (sparse_.Erase(id)) {
    --count_;
  }
}

void TFactIdIndex::Clear() {
  dense_.clear();
  dense_.shrink_to_fit();
  sparse_.Clear();
  count_ = 0;
}

std::size_t TFactIdIndex::TSparse::Home(std::int32_t id) const noexcept {
  return MixBits(static_cast<std::uint32_t>(id)) & mask_;
}

std::int64_t TFactIdIndex::TSparse::Find(std::int32_t id) const noexcept {
  if (count_ == 0) {
    return -1;
  }
  for (std::size_t i = Home(id);; i = (i + 1) & mask_) {
    const Cell& c = cells_[i];
    if (c.slot == kEmpty) {
      return -1;
    }
    if (c.id == id) {
      return static_cast<std::int64_t>(c.slot);
    }
  }
}

void TFactIdIndex::TSparse::Resize(std::size_t capacity) {
  std::vector<Cell> old(capacity);
  old.swap(cells_);
  mask_ = capacity - 1;
  for (const Cell& c : old) {
    if (c.slot != kEmpty) {
      std::size_t i = Home(c.id);
      while (cells_[i].slot != kEmpty) {
        i = (i + 1) & mask_;
      }
      cells_[i] = c;
    }
  }
}

void TFactIdIndex::TSparse::Set(std::int32_t id, std::size_t slot) {
  // At most three quarters full.
  if ((count_ + 1) * 4 > cells_.size() * 3) {
    Resize(cells_.empty() ? 16 : cells_.size() * 2);
  }
  std::size_t i = Home(id);
  while (cells_[i].slot != kEmpty && cells_[i].id != id) {
    i = (i + 1) & mask_;
  }
  if (cells_[i].slot == kEmpty) {
    ++count_;
  }
  cells_[i] = Cell{id, slot};
}

bool TFactIdIndex::TSparse::Erase(std::int32_t id) noexcept {
  if (count_ == 0) {
    return false;
  }
  std::size_t hole = Home(id);
  while (cells_[hole].id != id || cells_[hole].slot == kEmpty) {
    if (cells_[hole].slot == kEmpty) {
      return false;
    }
    hole = (hole + 1) & mask_;
  }
  // Each entry after the hole, up to the next empty cell, moves into the
  // hole unless its home lies (cyclically) after the hole and up to itself,
  // where a probe for it never passes the hole.
  for (std::size_t i = (hole + 1) & mask_; cells_[i].slot != kEmpty; i = (i + 1) & mask_) {
    const std::size_t home = Home(cells_[i].id);
    const bool stays = hole <= i ? (hole < home && home <= i) : (hole < home || home <= i);
    if (!stays) {
      cells_[hole] = cells_[i];
      hole = i;
    }
  }
  cells_[hole] = Cell{};
  --count_;
  return true;
}

void TFactIdIndex::TSparse::Clear() noexcept {
  cells_.clear();
  cells_.shrink_to_fit();
  mask_ = 0;
  count_ = 0;
}

std::size_t TFactHashIndex::CheckInvariants() const {
  if (cells_.empty()) {
    ZEPHRO_CHECK(live_ == 0 && erased_ == 0, "fact hash index: facts counted without a table");
    return 0;
  }
  ZEPHRO_CHECK(mask_ + 1 == cells_.size() && (cells_.size() & mask_) == 0,
               "fact hash index: the mask does not fit the table");
  std::size_t full = 0;
  std::size_t erased = 0;
  std::size_t work = cells_.size();
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    const Cell& c = cells_[i];
    if (c.state == kErased) {
      ZEPHRO_CHECK(c.fact == nullptr, "fact hash index: an erased cell still names a fact");
      ++erased;
      continue;
    }
    if (c.state != kFull) {
      ZEPHRO_CHECK(c.state == kEmpty, "fact hash index: a cell in no known state");
      continue;
    }
    ZEPHRO_CHECK(c.fact != nullptr, "fact hash index: a full cell names no fact");
    ++full;
    for (std::size_t at = Home(c.hash); at != i; at = (at + 1) & mask_) {
      ZEPHRO_CHECK(cells_[at].state != kEmpty,
                   "fact hash index: a fact sits past an empty cell of its probe sequence");
      ++work;
    }
  }
  ZEPHRO_CHECK(full == live_, "fact hash index: the fact count differs from the full cells");
  ZEPHRO_CHECK(erased == erased_, "fact hash index: the erased count differs from the erased cells");
  ZEPHRO_CHECK(full + erased < cells_.size(), "fact hash index: no empty cell ends a probe");
  return work;
}

std::size_t TFactIdIndex::TSparse::CheckInvariants(
    const std::function<void(std::int32_t)>& f) const {
  if (cells_.empty()) {
    ZEPHRO_CHECK(count_ == 0, "fact id index: ids counted without a table");
    return 0;
  }
  ZEPHRO_CHECK(mask_ + 1 == cells_.size() && (cells_.size() & mask_) == 0,
               "fact id index: the mask does not fit the table");
  std::size_t filed = 0;
  std::size_t work = cells_.size();
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    const Cell& c = cells_[i];
    if (c.slot == kEmpty) {
      continue;
    }
    ++filed;
    // No empty cell between an id's home and its cell, and no other cell
    // for the same id before it.
    for (std::size_t at = Home(c.id); at != i; at = (at + 1) & mask_) {
      ZEPHRO_CHECK(cells_[at].slot != kEmpty,
                   "fact id index: an id sits past an empty cell of its probe sequence");
      ZEPHRO_CHECK(cells_[at].id != c.id, "fact id index: an id is filed twice in the table");
      ++work;
    }
    f(c.id);
  }
  ZEPHRO_CHECK(filed == count_, "fact id index: the table's count differs from the ids in it");
  ZEPHRO_CHECK(filed < cells_.size(), "fact id index: no empty cell ends a probe");
  return work;
}

std::size_t TFactIdIndex::CheckInvariants() const {
  std::size_t dense = 0;
  for (const std::uint32_t slot : dense_) {
    dense += slot != kNone ? 1 : 0;
  }
  const std::size_t work = sparse_.CheckInvariants([&](std::int32_t id) {
    ZEPHRO_CHECK(id < 0 || static_cast<std::size_t>(id) >= dense_.size() ||
                     dense_[static_cast<std::size_t>(id)] == kNone,
                 "fact id index: an id is filed both in the array and in the table");
  });
  ZEPHRO_CHECK(dense + sparse_.Count() == count_,
               "fact id index: the count differs from the ids filed");
  return work + dense_.size();
}

void TFactHashIndex::Clear() {
  cells_.clear();
  cells_.shrink_to_fit();
  mask_ = 0;
  live_ = 0;
  erased_ = 0;
}

}  // namespace zephro
