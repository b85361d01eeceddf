// TFacts: working memory's storage of facts, their ids and the index that
// finds a duplicate.

#include "zephro/engine/collections.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "platform/debug_checks.h"
#include "platform/hash_mix.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/facts/fact.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

namespace zephro {

int TFacts::SlotOf(int index) const {
  if (index < 0 || index >= Count()) {
    RaiseIE(SBadArgument, ("fact index out of bounds (" + std::to_string(index) + ")").c_str());
  }
  if (dead_ > 0) {
    Compact();
  }
  return index;
}

TFacts::~TFacts() { LetGoAll(); }

void TFacts::LetGoAll() noexcept {
  for (Slot& s : slots_) {
    if (s.fact) {
      LetGo(*s.fact);
    }
  }
}

void TFacts::LetGo(IFact& fact) const noexcept {
  if (engine_ != nullptr && fact.Holder() == engine_) {
    fact.SetHolder(nullptr);
  }
}

void TFacts::Compact() const {
  std::size_t out = 0;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].fact) {
      if (out != i) {
        slots_[out] = std::move(slots_[i]);
      }
      by_id_.Set(slots_[out].fact->GetID(), out);
      ++out;
    }
  }
  slots_.resize(out);
  dead_ = 0;
}

IFact& TFacts::Get(int index) const {
  return *slots_[static_cast<std::size_t>(SlotOf(index))].fact;
}

int TFacts::FindFact(std::int32_t id) const {
  if (by_id_.Find(id) < 0) {
    return -1;
  }
  if (dead_ > 0) {
    Compact();
  }
  return static_cast<int>(by_id_.Find(id));
}

IFact* TFacts::GetFactByID(std::int32_t id) const {
  const std::int64_t slot = by_id_.Find(id);
  return slot < 0 ? nullptr : slots_[static_cast<std::size_t>(slot)].fact.get();
}

int TFacts::IndexOf(const IFact& fact) const {
  if (fact.GetID() >= 0) {
    return FindFact(fact.GetID());
  }
  for (int i = 0; i < Count(); ++i) {
    if (&Get(i) == &fact) {
      return i;
    }
  }
  return -1;
}

int TFacts::SlotOfId(std::int32_t id) const {
  return static_cast<int>(by_id_.Find(id));
}

namespace {

// The part of one value in DuplicateHash: numbers and texts from their data
// (equal ones are of one type and hold the same datum), anything else from
// its printed text. The engine's own values are read in place.
std::int32_t DuplicateHashOf(const IIEValue& value) {
  const TIEValue* own = TIEValue::Exactly(value);
  const TIEType type = own != nullptr ? own->DType() : value.DType();
  if (IEStringTypes.Contains(type)) {
    return own != nullptr ? own->TextDatum().Hash() : CalculateHash(value.Text());
  }
  switch (type) {
    case TIEType::dtInteger:
    case TIEType::dtFactId:
    case TIEType::dtDescriptor: {
      const std::int32_t number = own != nullptr ? own->IntegerDatum() : value.AsInteger();
      return FinishHash(
          AccumulateHash(AccumulateHash(kHashSeed, static_cast<std::int32_t>(type)), number));
    }
    case TIEType::dtFloat: {
      double real = own != nullptr ? own->FloatDatum() : value.AsFloat();
      if (real == 0) {
        real = 0;  // -0.0 equals 0.0
      }
      std::uint64_t bits = 0;
      std::memcpy(&bits, &real, sizeof bits);
      return FinishHash(AccumulateHash(AccumulateHash(kHashSeed, static_cast<std::int32_t>(bits)),
                                       static_cast<std::int32_t>(bits >> 32)));
    }
    default:
      return static_cast<std::int32_t>(ContinueHash(0, value.ToString()));
  }
}

// What working memory files a fact under for the duplicate test: facts that
// are Equals hash alike. Cheaper than the fact's GetHashCode, which hashes
// the printed text of every value.
std::int32_t DuplicateHash(const IFact& fact) {
  const IFactTemplate* t = fact.Template();
  if (t == nullptr) {
    return 0;
  }
  const TFact* own = TFact::Exactly(fact);
  const auto address = reinterpret_cast<std::uintptr_t>(t);
  std::uint64_t acc = AccumulateHash(kHashSeed, static_cast<std::int32_t>(address >> 4));
  for (int i = 0, count = t->SlotCount(); i < count; ++i) {
    const IIEValue* value = own != nullptr ? own->ValueAt(i) : fact.ValueAt(i);
    acc = AccumulateHash(acc, DuplicateHashOf(*value));
  }
  return FinishHash(acc);
}

}  // namespace

int TFacts::FindSlot(const IFact& fact, std::optional<std::int32_t>* hash) const {
  const IFactTemplate* t = fact.Template();
  if (preserve_ids_ || !cache_hash_codes_ || (t != nullptr && t->IsFuzzy())) {
    // Without the cache (or for fuzzy facts, which are never hashed): a scan.
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i].fact && slots_[i].fact->Equals(&fact)) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }
  // Every hash hit is confirmed with Equals: distinct facts may share a hash.
  const std::int32_t code = DuplicateHash(fact);
  if (hash != nullptr) {
    *hash = code;
  }
  const IFact* equal =
      by_hash_.Find(code, [&](const IFact& filed) { return filed.Equals(&fact); });
  return equal != nullptr ? SlotOfId(equal->GetID()) : -1;
}

int TFacts::FindFact(const IFact& fact) const {
  const int slot = FindSlot(fact);
  return slot < 0 ? -1 : FindFact(AtSlot(slot).GetID());
}

std::int32_t TFacts::FileInCache(IFact& fact, std::optional<std::int32_t> hash) {
  if (!cache_hash_codes_) {
    return 0;
  }
  if (fact.Template() != nullptr && fact.Template()->IsFuzzy()) {
    fuzzy_.push_back(&fact);
    return 0;
  }
  const std::int32_t code = hash ? *hash : DuplicateHash(fact);
  by_hash_.Insert(code, &fact);
  return code;
}

void TFacts::DropFromCache(IFact& fact, std::int32_t hash) {
  if (!cache_hash_codes_) {
    return;
  }
  if (fact.Template() != nullptr && fact.Template()->IsFuzzy()) {
    fuzzy_.erase(std::remove(fuzzy_.begin(), fuzzy_.end(), &fact), fuzzy_.end());
    return;
  }
  by_hash_.Erase(hash, &fact);
}

void TFacts::SetCacheHashCodes(bool on) {
  if (on == cache_hash_codes_) {
    return;
  }
  by_hash_.Clear();
  fuzzy_.clear();
  cache_hash_codes_ = on;
  if (on) {
    for (Slot& s : slots_) {
      if (s.fact) {
        s.hash = FileInCache(*s.fact);
      }
    }
  }
}

int TFacts::Append(Ref<IFact> fact, std::optional<std::int32_t> hash) {
  const std::int32_t filed = FileInCache(*fact, hash);
  const std::size_t slot = slots_.size();
  if (engine_ != nullptr) {
    fact->SetHolder(engine_);
  }
  by_id_.Set(fact->GetID(), slot);
  highest_id_ = std::max(highest_id_, fact->GetID());
  slots_.push_back(Slot{std::move(fact), {}, filed});
  ++live_;
  return static_cast<int>(slot);
}

void TFacts::RemoveId(std::int32_t id) {
  const std::int64_t found = by_id_.Find(id);
  if (found < 0) {
    return;
  }
  const auto slot = static_cast<std::size_t>(found);
  by_id_.Erase(id);
  Ref<IFact> fact = std::move(slots_[slot].fact);
  slots_[slot].match.reset();
  DropFromCache(*fact, slots_[slot].hash);
  LetGo(*fact);
  --live_;
  if (slot + 1 == slots_.size()) {
    slots_.pop_back();
  } else {
    ++dead_;
    if (dead_ > 64 && dead_ > live_) {
      Compact();  // amortised: at least as many removals happened since the last one
    }
  }
}

int TFacts::Add(Ref<IFact> fact) {
  if (!fact) {
    RaiseIE(SBadArgument, "no fact to add");
  }
  if (engine_ == nullptr) {
    if (fact->GetID() < 0) {
      fact->SetID(highest_id_ + 1);
    }
    Append(std::move(fact));
    return Count() - 1;
  }
  Route(fact);
  return Count() - 1;
}

std::int32_t TFacts::Route(const Ref<IFact>& fact) {
  if (preserve_ids_ && fact->GetID() != -1 && by_id_.Find(fact->GetID()) < 0) {
    const std::int32_t remembered = engine_->NextFactId();
    const std::int32_t wanted = fact->GetID();
    engine_->SetNextFactId(wanted);
    const std::int32_t id = engine_->Assert(fact);
    highest_id_ = std::max(highest_id_, wanted);
    engine_->SetNextFactId(std::max(remembered, highest_id_ + 1));
    return id;
  }
  return engine_->Assert(fact);
}

void TFacts::Insert(int index, Ref<IFact> fact) {
  if (index < 0 || index > Count()) {
    RaiseIE(SBadArgument, ("fact index out of bounds (" + std::to_string(index) + ")").c_str());
  }
  if (!fact) {
    RaiseIE(SBadArgument, "no fact to add");
  }
  std::int32_t id = fact->GetID();
  if (engine_ == nullptr) {
    Add(std::move(fact));
    id = AtSlot(static_cast<int>(slots_.size()) - 1).GetID();
  } else if (Route(fact) < 0 || fact->Holder() != engine_) {
    return;  // not asserted, or retracted again meanwhile
  } else {
    id = fact->GetID();
  }
  if (dead_ > 0) {
    Compact();
  }
  const int slot = SlotOfId(id);
  if (slot >= 0 && index < Count()) {
    MoveSlot(static_cast<std::size_t>(slot), static_cast<std::size_t>(index));
  }
}

void TFacts::MoveSlot(std::size_t from, std::size_t to) {
  if (from == to) {
    return;
  }
  const auto first = slots_.begin() + static_cast<std::ptrdiff_t>(std::min(from, to));
  const auto last = slots_.begin() + static_cast<std::ptrdiff_t>(std::max(from, to)) + 1;
  if (from > to) {
    std::rotate(first, last - 1, last);
  } else {
    std::rotate(first, first + 1, last);
  }
  for (std::size_t i = std::min(from, to); i <= std::max(from, to); ++i) {
    by_id_.Set(slots_[i].fact->GetID(), i);
  }
  moved_ = true;
}

void TFacts::Delete(int index) {
  if (engine_ != nullptr) {
    engine_->RetractFact(index);
    return;
  }
  RemoveId(Get(index).GetID());
}

void TFacts::Clear() {
  if (engine_ != nullptr && !engine_->destroying_) {
    engine_->CheckNotMatching("retract every fact");
  }
  LetGoAll();
  slots_.clear();
  by_id_.Clear();
  by_hash_.Clear();
  fuzzy_.clear();
  live_ = 0;
  dead_ = 0;
  highest_id_ = 0;
  moved_ = false;
  if (engine_ != nullptr) {
    engine_->RetractFacts();
  }
}

void TFacts::Assign(const TFacts& source) {
  if (&source == this) {
    return;
  }
  // The copies are made first, so that a template that does not match
  // leaves this working memory as it was.
  std::vector<Ref<IFact>> copies;
  copies.reserve(source.live_);
  source.ForEach([&](IFact& fact) {
    Ref<IFactTemplate> fact_template(fact.Template());
    if (engine_ != nullptr && fact_template && fact_template->Owner() != engine_) {
      if (IFactTemplate* mine = engine_->FindFactTemplate(fact_template->TemplateName())) {
        if (!mine->Equals(fact_template.get())) {
          RaiseIE(SFactTemplatesDifferent, fact_template->ToString().c_str(),
                  mine->ToString().c_str());
        }
        fact_template = Ref<IFactTemplate>(mine);
      }
    }
    copies.push_back(TFact::Make(std::move(fact_template), fact));
  });
  Clear();
  for (Ref<IFact>& copy : copies) {
    Add(std::move(copy));
  }
}

void TFacts::AssignTo(std::vector<std::string>& lines) const {
  lines.clear();
  ForEach([&](IFact& fact) { lines.push_back(fact.ToString()); });
}

std::size_t TFacts::CheckInvariants() const {
  const std::unordered_set<const IFact*> fuzzy(fuzzy_.begin(), fuzzy_.end());
  ZEPHRO_CHECK(fuzzy.size() == fuzzy_.size(), "working memory: a fuzzy fact listed twice");
  std::size_t live = 0;
  std::size_t hashed = 0;
  std::size_t listed_fuzzy = 0;
  const IFact* before = nullptr;
  for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
    const Slot& s = slots_[slot];
    if (!s.fact) {
      ZEPHRO_CHECK(!s.match, "working memory: a retracted fact's slot keeps a token");
      continue;
    }
    ++live;
    const IFact* fact = s.fact.get();
    const std::int32_t id = fact->GetID();
    ZEPHRO_CHECK(by_id_.Find(id) == static_cast<std::int64_t>(slot),
                 "working memory: the id index does not find a fact at its slot");
    ZEPHRO_CHECK(preserve_ids_ || moved_ || before == nullptr || before->GetID() < id,
                 "working memory: fact ids do not ascend along the slots");
    before = fact;
    if (cache_hash_codes_) {
      if (fact->Template() != nullptr && fact->Template()->IsFuzzy()) {
        ZEPHRO_CHECK(fuzzy.count(fact) != 0,
                     "working memory: a fuzzy fact is missing from the list of fuzzy facts");
        ++listed_fuzzy;
      } else {
        ZEPHRO_CHECK(by_hash_.Holds(s.hash, fact),
                     "working memory: the hash cache does not find a fact under its hash");
        ++hashed;
      }
    }
    ZEPHRO_CHECK(!s.match || s.match->Fact() == fact,
                 "working memory: a fact's token holds another fact");
  }
  ZEPHRO_CHECK(live == live_, "working memory: the fact count differs from the live slots");
  ZEPHRO_CHECK(slots_.size() - live == dead_,
               "working memory: the retracted count differs from the empty slots");
  ZEPHRO_CHECK(by_id_.Count() == live_,
               "working memory: the id index counts other facts than working memory holds");
  if (cache_hash_codes_) {
    ZEPHRO_CHECK(by_hash_.Count() == hashed,
                 "working memory: the hash cache holds facts working memory does not");
    ZEPHRO_CHECK(fuzzy_.size() == listed_fuzzy,
                 "working memory: the list of fuzzy facts holds facts working memory does not");
  } else {
    ZEPHRO_CHECK(by_hash_.Count() == 0 && fuzzy_.empty(),
                 "working memory: the hash cache holds facts while it is off");
  }
  return slots_.size() + by_id_.CheckInvariants() + by_hash_.CheckInvariants();
}

std::string TFacts::ToString() const {
  std::string text;
  ForEach([&](IFact& f) {
    if (!text.empty()) {
      text += "\n";
    }
    text += f.ToString();
  });
  return text;
}

std::string TFacts::GetToIDString() const {
  std::string text;
  bool first = true;
  ForEach([&](IFact& f) {
    if (!first) {
      text += "\n";
    }
    first = false;
    text += f.GetToIDString();
  });
  return text;
}

}  // namespace zephro
