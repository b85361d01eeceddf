#include "rules/token_memory.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
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

// --- tokens' homes -------------------------------------------------------------------------

template <class Holds>
std::uint32_t TIEToken::TakeHome(std::uint32_t memory, Holds&& holds) {
  constexpr std::uint32_t kNowhere = 0xffffffffu;
  if (origin_ == kOneHome) {
    const auto position = static_cast<std::uint32_t>(one_home_);
    if (static_cast<std::uint32_t>(one_home_ >> 32) != memory || !holds(position)) {
      return kNowhere;
    }
    one_home_ = 0;
    origin_ = kNoHomes;
    return position;
  }
  if (origin_ != kManyHomes) {
    return kNowhere;
  }
  const std::uint32_t start = homes_[kHomesStart];
  const std::uint32_t end = homes_[kHomesEnd];
  std::uint32_t* first = homes_ + kHomesHeader + 2 * std::size_t{start};
  for (std::uint32_t* pair = first; pair != homes_ + kHomesHeader + 2 * std::size_t{end};
       pair += 2) {
    if (pair[0] == memory && holds(pair[1])) {
      // The first pair in use takes the place of the one taken.
      const std::uint32_t position = pair[1];
      pair[0] = first[0];
      pair[1] = first[1];
      const bool empty = start + 1 == end;
      homes_[kHomesStart] = empty ? 0 : start + 1;
      homes_[kHomesEnd] = empty ? 0 : end;
      return position;
    }
  }
  return kNowhere;
}

// --- memory keys ---------------------------------------------------------------------------

std::span<const TMemoryKeyPart> TMemoryKeyPool::Intern(const std::vector<TMemoryKeyPart>& parts) {
  if (parts.empty()) {
    return {};
  }
  std::string spelling;
  for (const TMemoryKeyPart& part : parts) {
    spelling += std::to_string(part.fact_index) + ':' + std::to_string(part.sub_index) + ':';
    spelling += part.slot.Name();
    spelling += '\0';
  }
  auto [it, made] = keys_.try_emplace(std::move(spelling));
  if (made) {
    it->second = parts;
    for (TMemoryKeyPart& part : it->second) {
      part.key_number = static_cast<std::uint32_t>(keys_.size() - 1);
    }
  }
  return it->second;
}

template <class FactOf>
std::int32_t TMemoryKey::HashParts(FactOf&& fact_of, bool& found,
                                   std::uint64_t* fingerprint) const {
  std::uint64_t acc = kHashSeed;
  std::uint64_t packed = 0;
  bool exact = !parts.empty() && parts.size() <= 2;
  for (const TMemoryKeyPart& part : parts) {
    const IFact* fact = fact_of(part);
    const IIEValue* v = fact != nullptr ? part.Read(*fact) : nullptr;
    if (v == nullptr) {
      found = false;
      if (fingerprint != nullptr) {
        *fingerprint = kInexact;
      }
      return 0;
    }
    // An integer's hash is the integer itself; text hashes are cached.
    const TIEValue* own = TIEValue::Exactly(*v);
    std::int32_t hash = 0;
    std::uint32_t part_print = 0;
    if (own != nullptr && own->DType() == TIEType::dtInteger) {
      hash = own->IntegerDatum();
      constexpr std::int32_t kLimit = std::int32_t{1} << 30;
      exact = exact && hash >= -kLimit && hash < kLimit;
      part_print = static_cast<std::uint32_t>(hash) & 0x7fffffffu;
    } else if (own != nullptr &&
               (own->DType() == TIEType::dtAtom || own->DType() == TIEType::dtString)) {
      const TText& text = own->TextDatum();
      hash = text.Hash();
      exact = exact && text.Serial() != 0;
      // An atom and a string of the same text share blocks, but differ.
      part_print = 0x80000000u | (own->DType() == TIEType::dtString ? 0x40000000u : 0) |
                   text.Serial();
    } else {
      hash = v->GetHashCode();
      exact = false;
    }
    acc = AccumulateHash(acc, hash);
    packed = (packed << 32) | part_print;
  }
  if (fingerprint != nullptr) {
    *fingerprint = exact ? packed << (32 * (2 - parts.size())) : kInexact;
  }
  found = true;
  return FinishHash(acc);
}

std::int32_t TMemoryKey::HashOfFact(const IFact& fact, bool& found,
                                    std::uint64_t* fingerprint) const {
  return HashParts([&](const TMemoryKeyPart&) { return &fact; }, found, fingerprint);
}

std::int32_t TMemoryKey::HashOf(const TIEToken& token, bool& found,
                                std::uint64_t* fingerprint) const {
  if (!Keyed()) {
    found = true;
    if (fingerprint != nullptr) {
      *fingerprint = kInexact;
    }
    return static_cast<std::int32_t>(token.IdentityHash());
  }
  return HashParts([&](const TMemoryKeyPart& part) { return token.FactAt(part.fact_index); },
                   found, fingerprint);
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

namespace {
std::atomic<std::uint32_t> next_memory_serial{1};
}  // namespace

TIETokenTree::TIETokenTree(int buckets, bool probed)
    : serial_(next_memory_serial.fetch_add(1, std::memory_order_relaxed)), probed_(probed) {
  // Most memories of a large network stay small: start with a few buckets
  // (fewer when asked) and let the tables grow. The identity chains are
  // made when the first token filed by identity comes.
  constexpr int kFirstBuckets = 4;
  const std::size_t n = BucketCountFor(std::clamp(buckets, 1, kFirstBuckets));
  id_mask_ = n - 1;
  if (!probed) {
    modulus_ = static_cast<std::uint32_t>(std::max(buckets, 1));
    return;  // key buckets are made as they are used
  }
  keys_.assign(n, KeyBucket{});
  key_mask_ = n - 1;
}

TIETokenTree::~TIETokenTree() = default;

std::size_t TIETokenTree::IdIndex(std::uint32_t identity) const noexcept {
  return MixBits(identity) & id_mask_;
}

void TIETokenTree::LinkKey(std::uint32_t index) {
  Entry& e = entries_[index];
  const std::size_t k = KeyIndex(e.hash);
  e.key_next = kNone;
  KeyBucket& bucket = keys_[k];  // made by Add
  e.key_prev = bucket.tail;
  if (bucket.tail == kNone) {
    bucket.head = index;
    ++occupied_;
    MarkUsed(k, true);
  } else {
    std::uint32_t* link = &entries_[bucket.tail].key_next;
    __builtin_prefetch(link, 1);
    FinishTailLink();  // the one before, fetched by now
    deferred_link_ = link;
    deferred_next_ = index;
  }
  bucket.tail = index;
}

void TIETokenTree::Grow() {
  FinishLinks();  // the old chains are read whole
  const std::size_t n = (key_mask_ + 1) * 2;
  decltype(keys_) old(n);
  old.swap(keys_);
  key_mask_ = n - 1;
  occupied_ = 0;
  passed_by_ = 0;
  if (in_order_) {
    // No slot was reused: the array is in insertion order, and one pass
    // over it refiles every chain in order.
    for (std::uint32_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].token) {
        LinkKey(i);
      }
    }
    return;
  }
  // Refile each old chain in its order: entries with equal hashes shared an
  // old chain, so every new chain keeps insertion order.
  for (const KeyBucket& bucket : old) {
    for (std::uint32_t i = bucket.head; i != kNone;) {
      const std::uint32_t next = entries_[i].key_next;
      LinkKey(i);
      i = next;
    }
  }
}

void TIETokenTree::GrowIdentity() {
  // Old chain b splits into the new chains b and b + its old count, each
  // keeping the order of the old one (newest first, as LinkIdentity files).
  const std::size_t old_count = id_mask_ + 1;
  id_heads_.resize(old_count * 2, kNone);
  id_mask_ = old_count * 2 - 1;
  for (std::size_t b = 0; b < old_count; ++b) {
    std::uint32_t* ends[2] = {&id_heads_[b], &id_heads_[b + old_count]};
    for (std::uint32_t i = id_heads_[b]; i != kNone;) {
      Entry& e = entries_[i];
      const std::uint32_t next = e.id_next;
      std::uint32_t*& end = ends[IdIndex(e.token->IdentityHash()) == b ? 0 : 1];
      *end = i;
      end = &e.id_next;
      i = next;
    }
    *ends[0] = kNone;
    *ends[1] = kNone;
  }
}

std::uint32_t TIETokenTree::Add(Ref<TIEToken> token, std::int32_t hash,
                                std::uint64_t fingerprint) {
  const std::uint32_t identity = token->IdentityHash();
  if (token->MayRepeat() && !id_heads_.empty()) {
    for (std::uint32_t i = id_heads_[IdIndex(identity)]; i != kNone; i = entries_[i].id_next) {
      if (entries_[i].token->IdentityHash() == identity && entries_[i].token->SameAs(*token)) {
        return kNoEntry;
      }
    }
  }
  LinkPending();  // the entry before, whose bucket came meanwhile: KeysFull counts it
  if (KeysFull()) {
    Grow();
  }
  if (modulus_ != 0) {
    // A walked memory's table grows to the buckets used, up to its count;
    // linking (which must not fail) finds the bucket made.
    if (const std::size_t k = KeyIndex(hash); k >= keys_.size()) {
      used_.resize(k / 64 + 1);
      keys_.resize(k + 1);
    }
  }
  std::uint32_t index = free_;
  if (index != kNone) {
    free_ = entries_[index].id_next;
    if (free_ != kNone) {
      __builtin_prefetch(&entries_[free_], 1);  // the next Add's entry
    }
    in_order_ = false;
  } else {
    index = static_cast<std::uint32_t>(entries_.size());
    entries_.reuse_back();
  }
  // Where a probe may come looking for the token, it is filed by identity.
  // Otherwise it is found through its home: for a partial match, the
  // position in the first memory that stores it (later ones file it by
  // identity); a one-fact token, which many memories may hold, keeps all
  // its positions.
  bool at_home = false;
  if (!token->MayRepeat()) {
    if (!token->HasParent()) {
      token->AddHome(serial_, index);
      at_home = true;
    } else if (token->home_ == kNone) {
      token->home_ = index;
      at_home = true;
    }
  }
  // A free or new place holds no token (Remove let go of it, forget() left
  // only such places): the entry is written whole, without reading the old
  // one, whose line may have left the cache long ago.
  Entry& e = *::new (static_cast<void*>(&entries_[index]))
      Entry{std::move(token), fingerprint, hash};
  if (index < blockers_.size()) {
    blockers_[index] = kNoEntry;
  }
  PrefetchKey(hash);
  pending_ = index;  // linked to its key chain later (see FinishLinks)
  if (at_home) {
    e.id_next = kHome;
  } else {
    LinkIdentity(index);
  }
  ++count_;
  return index;
}

void TIETokenTree::GrowBlockers(std::uint32_t position) {
  blockers_.resize(position + std::size_t{1} + blockers_.size() / 2, kNoEntry);
}

void TIETokenTree::LinkIdentity(std::uint32_t index) {
  if (id_heads_.empty()) {
    id_heads_.assign(id_mask_ + 1, kNone);
  } else if (id_count_ > id_mask_) {
    GrowIdentity();
  }
  ++id_count_;
  Entry& e = entries_[index];
  const std::size_t b = IdIndex(e.token->IdentityHash());
  e.id_next = id_heads_[b];
  id_heads_[b] = index;
}

std::uint32_t TIETokenTree::FindAtHome(TIEToken& token) {
  auto here = [&](std::uint32_t position) { return AtHome(position, token) != nullptr; };
  if (token.HasParent()) {
    return here(token.home_) ? token.home_ : kNone;
  }
  return token.TakeHome(serial_, here);
}

std::uint32_t TIETokenTree::Find(TIEToken& token) {
  if (const std::uint32_t home = FindAtHome(token); home != kNone) {
    return home;
  }
  if (id_heads_.empty()) {
    return kNone;
  }
  const std::uint32_t identity = token.IdentityHash();
  for (std::uint32_t* link = &id_heads_[IdIndex(identity)]; *link != kNone;
       link = &entries_[*link].id_next) {
    Entry& e = entries_[*link];
    if (e.token->IdentityHash() == identity && e.token->SameAs(token)) {
      const std::uint32_t index = *link;
      *link = e.id_next;
      --id_count_;
      return index;
    }
  }
  return kNone;
}

bool TIETokenTree::Remove(TIEToken& token, std::uint32_t* position,
                          Ref<TIEToken>* held) {
  // Find leaves the entry out of the identity chains.
  const std::uint32_t index = Find(token);
  if (index == kNone) {
    return false;
  }
  if (position != nullptr) {
    *position = index;
  }
  Unlink(index, held);
  return true;
}

void TIETokenTree::Unlink(std::uint32_t index, Ref<TIEToken>* held) noexcept {
  FinishLinks();
  Entry& e = entries_[index];
  const std::size_t k = KeyIndex(e.hash);
  (e.key_prev != kNone ? entries_[e.key_prev].key_next : keys_[k].head) = e.key_next;
  (e.key_next != kNone ? entries_[e.key_next].key_prev : keys_[k].tail) = e.key_prev;
  if (e.key_prev == kNone && e.key_next == kNone) {
    --occupied_;
    MarkUsed(k, false);
  }
  if (held != nullptr) {
    *held = std::move(e.token);
  }
  e.token.reset();
  e.id_next = free_;
  free_ = index;
  if (--count_ == 0) {
    // Every chain is empty: the next entries fill the array from the
    // start again, in order, instead of reusing slots all over it. Every
    // entry let go of its token already: they are not touched again.
    entries_.forget();
    free_ = kNone;
    in_order_ = true;
  }
}

void TIETokenTree::Clear() {
  if (entries_.empty()) {
    return;
  }
  // The tokens go with the array; the tables shrink back to their first size.
  pending_ = kNone;
  deferred_link_ = nullptr;
  entries_.release();
  std::vector<std::uint32_t>().swap(blockers_);
  free_ = kNone;
  in_order_ = true;
  count_ = 0;
  occupied_ = 0;
  id_count_ = 0;
  std::fill(keys_.begin(), keys_.end(), KeyBucket{});
  std::fill(used_.begin(), used_.end(), 0);
  std::fill(id_heads_.begin(), id_heads_.end(), kNone);
}

std::size_t TIETokenTree::CheckInvariants() const {
  FinishLinks();
  ZEPHRO_CHECK(pending_ == kNone && deferred_link_ == nullptr,
               "token memory: a link still put off after the links were done");
  const std::size_t size = entries_.size();
  ZEPHRO_CHECK(size < kHome, "token memory: more entries than positions can name");
  ZEPHRO_CHECK(count_ >= 0 && static_cast<std::size_t>(count_) <= size,
               "token memory: the entry count exceeds the entries");
  if (modulus_ != 0) {
    ZEPHRO_CHECK(!probed_, "token memory: a probed memory with a fixed bucket count");
    ZEPHRO_CHECK(keys_.size() <= modulus_,
                 "token memory: a memory walked whole has more key buckets than its bucket count");
  } else {
    ZEPHRO_CHECK(probed_, "token memory: a memory walked whole without a bucket count");
    ZEPHRO_CHECK(keys_.size() == key_mask_ + 1 && (key_mask_ & (key_mask_ + 1)) == 0,
                 "token memory: the key table's size is not its mask + 1, a power of two");
  }
  enum : std::uint8_t { kOnKeyChain = 1, kOnIdChain = 2, kOnFreeList = 4 };
  std::vector<std::uint8_t> marks(size, 0);
  std::size_t visited = size + keys_.size() + id_heads_.size();

  // The key chains: in insertion order, linked both ways.
  std::size_t on_key_chains = 0;
  std::size_t occupied = 0;
  for (std::size_t k = 0; k < keys_.size(); ++k) {
    const KeyBucket& bucket = keys_[k];
    std::uint32_t before = kNone;
    for (std::uint32_t i = bucket.head; i != kNone; i = entries_[i].key_next) {
      ZEPHRO_CHECK(i < size, "token memory: a key chain names a position past the entries");
      ZEPHRO_CHECK((marks[i] & kOnKeyChain) == 0,
                   "token memory: an entry is met twice on the key chains (a chain runs in a "
                   "circle, or two chains share it)");
      marks[i] |= kOnKeyChain;
      const Entry& e = entries_[i];
      ZEPHRO_CHECK(e.token, "token memory: a key chain holds an entry without token");
      ZEPHRO_CHECK(KeyIndex(e.hash) == k,
                   "token memory: an entry is on the key chain of another bucket than its hash's");
      ZEPHRO_CHECK(e.key_prev == before,
                   "token memory: an entry's key_prev is not the entry before it on its chain");
      // Grow refiles an array never reused in array order.
      ZEPHRO_CHECK(!in_order_ || before == kNone || before < i,
                   "token memory: a key chain out of position order while no position was reused");
      before = i;
      ++on_key_chains;
    }
    ZEPHRO_CHECK(bucket.tail == before,
                 "token memory: a key bucket's tail is not the last entry of its chain");
    ZEPHRO_CHECK(modulus_ == 0 || ((used_[k / 64] >> (k % 64)) & 1) == (before != kNone ? 1u : 0u),
                 "token memory: a walked memory's bucket in use is not marked so, or the other way");
    occupied += before != kNone ? 1 : 0;
  }
  ZEPHRO_CHECK(on_key_chains == static_cast<std::size_t>(count_),
               "token memory: the entry count differs from the entries on the key chains");
  ZEPHRO_CHECK(occupied == occupied_,
               "token memory: the count of occupied key buckets differs from the non-empty chains");

  // The identity chains.
  std::size_t on_id_chains = 0;
  if (id_heads_.empty()) {
    ZEPHRO_CHECK(id_count_ == 0, "token memory: entries counted on identity chains never made");
  } else {
    ZEPHRO_CHECK(id_heads_.size() == id_mask_ + 1 && (id_mask_ & (id_mask_ + 1)) == 0,
                 "token memory: the identity table's size is not its mask + 1, a power of two");
    for (std::size_t b = 0; b < id_heads_.size(); ++b) {
      for (std::uint32_t i = id_heads_[b]; i != kNone; i = entries_[i].id_next) {
        ZEPHRO_CHECK(i < size,
                     "token memory: an identity chain names a position past the entries (or an "
                     "entry filed at home)");
        ZEPHRO_CHECK((marks[i] & kOnIdChain) == 0,
                     "token memory: an entry is met twice on the identity chains");
        marks[i] |= kOnIdChain;
        const Entry& e = entries_[i];
        ZEPHRO_CHECK(e.token, "token memory: an identity chain holds an entry without token");
        ZEPHRO_CHECK(IdIndex(e.token->IdentityHash()) == b,
                     "token memory: an entry is on the identity chain of another bucket than its "
                     "token's identity's");
        ++on_id_chains;
      }
    }
  }
  ZEPHRO_CHECK(on_id_chains == id_count_,
               "token memory: the identity count differs from the entries on the identity chains");

  // The free list: every position without a token.
  std::size_t free = 0;
  for (std::uint32_t i = free_; i != kNone; i = entries_[i].id_next) {
    ZEPHRO_CHECK(i < size, "token memory: the free list names a position past the entries");
    ZEPHRO_CHECK((marks[i] & kOnFreeList) == 0, "token memory: the free list runs in a circle");
    marks[i] |= kOnFreeList;
    ZEPHRO_CHECK(!entries_[i].token, "token memory: an entry on the free list holds a token");
    ++free;
  }
  ZEPHRO_CHECK(free + static_cast<std::size_t>(count_) == size,
               "token memory: positions neither live nor on the free list");

  // Each live entry: where it is filed, and its token's links.
  for (std::uint32_t i = 0; i < size; ++i) {
    const Entry& e = entries_[i];
    if (!e.token) {
      continue;  // on the free list, as counted above
    }
    if (e.id_next == kHome) {
      ZEPHRO_CHECK(!e.token->MayRepeat(), "token memory: a token that may repeat is filed at home");
      const bool home = e.token->HasParent() ? e.token->home_ == i : e.token->HasHome(serial_, i);
      ZEPHRO_CHECK(home, "token memory: an entry filed at home is not where its token's home says");
    } else {
      ZEPHRO_CHECK((marks[i] & kOnIdChain) != 0,
                   "token memory: an entry filed by identity is on no identity chain");
    }
    visited += e.token->CheckLinks();
  }
  return visited;
}

void TIETokenTree::CheckBlockers(const TIETokenTree* right) const {
  for (std::uint32_t i = 0; i < entries_.size(); ++i) {
    if (!entries_[i].token) {
      continue;
    }
    const std::uint32_t blocker = i < blockers_.size() ? blockers_[i] : kNoEntry;
    ZEPHRO_CHECK(blocker == kNoEntry || (right != nullptr && right->Holds(blocker)),
                 "negated join: a left entry is blocked by a right entry that is gone");
  }
}

template <class F>
void TIETokenTree::ForEachText(F&& text_of, std::string& text) const {
  FinishLinks();
  for (const KeyBucket& bucket : keys_) {
    if (bucket.head == kNone) {
      continue;
    }
    for (std::uint32_t i = bucket.head; i != kNone; i = entries_[i].key_next) {
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
