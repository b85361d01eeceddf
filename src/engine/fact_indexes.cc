#include "zephro/engine/fact_indexes.h"

#include <algorithm>

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
      sparse_.erase(id);
      dense_[at] = static_cast<std::uint32_t>(slot);
      return;
    }
  }
  sparse_[id] = slot;
}

void TFactIdIndex::Erase(std::int32_t id) {
  if (Find(id) < 0) {
    return;
  }
  --count_;
  if (id >= 0 && static_cast<std::size_t>(id) < dense_.size() &&
      dense_[static_cast<std::size_t>(id)] != kNone) {
    dense_[static_cast<std::size_t>(id)] = kNone;
  } else {
    sparse_.erase(id);
  }
}

void TFactIdIndex::Clear() {
  dense_.clear();
  dense_.shrink_to_fit();
  sparse_.clear();
  count_ = 0;
}

void TFactHashIndex::Clear() {
  cells_.clear();
  cells_.shrink_to_fit();
  mask_ = 0;
  live_ = 0;
  erased_ = 0;
}

}  // namespace zephro
