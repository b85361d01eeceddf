#include "zephro/engine/collections.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <unordered_set>

#include "zephro/engine/fact_set.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/engine/io_streams.h"
#include "zephro/facts/fact.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"

#include "platform/debug_checks.h"
#include "platform/hash_mix.h"

namespace zephro {

// --- fact templates ------------------------------------------------------------------------

namespace {

void EnsureDataSlot(IFactTemplate& t) {
  if (t.SlotCount() == 0) {
    t.AddMultiSlot(SDefaultSlotName, FCNilList().Clone());
  }
}

}  // namespace

IFactTemplate* TFactTemplates::Add(Ref<IFactTemplate> fact_template) {
  EnsureDataSlot(*fact_template);
  const std::string name = fact_template->TemplateName();
  if (Ref<IFactTemplate>* existing = table_.Find(name)) {
    if (existing->get() == fact_template.get()) {
      return fact_template.get();
    }
    switch (engine_ != nullptr ? engine_->DuplicateConstructs()
                               : TDuplicateConstructs::dcOverwrite) {
      case TDuplicateConstructs::dcOverwrite:
        return Replace(*existing, std::move(fact_template));
      case TDuplicateConstructs::dcIgnore:
        return existing->get();
      case TDuplicateConstructs::dcError:
        RaiseIE(SDuplicateTemplateNames, name.c_str());
    }
  }
  if (engine_ != nullptr) {
    fact_template->SetOwner(engine_);
  }
  IFactTemplate* stored = fact_template.get();
  table_.Put(name, std::move(fact_template));
  if (engine_ != nullptr && engine_->OnNewFactTemplate) {
    engine_->OnNewFactTemplate(*engine_, *stored);
  }
  return stored;
}

IFactTemplate* TFactTemplates::Replace(const Ref<IFactTemplate>& existing,
                                       Ref<IFactTemplate> replacement) {
  if (engine_ != nullptr) {
    engine_->CheckNotMatching("redefine a template");
  }
  EnsureDataSlot(*replacement);
  Ref<IFactTemplate> old = existing;  // keep it alive through the swap
  if (engine_ != nullptr && engine_->OnRemoveFactTemplate) {
    engine_->OnRemoveFactTemplate(*engine_, *old);
  }
  table_.Take(old->TemplateName());
  IFactTemplate* stored = Add(replacement);
  if (engine_ != nullptr) {
    engine_->ReplaceTemplate(old, replacement);
  }
  return stored;
}

void TFactTemplates::Remove(std::string_view name) {
  Ref<IFactTemplate>* found = table_.Find(name);
  if (found == nullptr) {
    return;
  }
  Ref<IFactTemplate> t = *found;
  if (engine_ != nullptr) {
    engine_->CheckNotMatching("remove a template");
    if (engine_->OnRemoveFactTemplate) {
      engine_->OnRemoveFactTemplate(*engine_, *t);
    }
    engine_->RemoveDependencies(*t);
  }
  table_.Take(name);
  t->SetOwner(nullptr);
}

void TFactTemplates::Clear() {
  if (engine_ != nullptr) {
    if (!engine_->destroying_) {
      engine_->CheckNotMatching("remove templates");
    }
    engine_->RemoveAllDependencies();
  }
  for (const auto& [name, t] : table_) {
    t->SetOwner(nullptr);
  }
  table_.Clear();
  if (engine_ != nullptr && engine_->OnClearFactTemplates) {
    engine_->OnClearFactTemplates(*engine_);
  }
}

std::string TFactTemplates::ToString() const {
  // Parents before children: roots first, then each template once all of its
  // ancestors are out.
  std::string text;
  std::set<const IFactTemplate*> done;
  std::vector<const IFactTemplate*> pending;
  for (const auto& [name, t] : table_) {
    pending.push_back(t.get());
  }
  while (!pending.empty()) {
    bool progress = false;
    for (auto it = pending.begin(); it != pending.end();) {
      const IFactTemplate* parent = (*it)->Parent();
      if (parent == nullptr || done.count(parent) > 0 || !table_.Contains(parent->TemplateName())) {
        text += (*it)->ToString() + "\n";
        done.insert(*it);
        it = pending.erase(it);
        progress = true;
      } else {
        ++it;
      }
    }
    if (!progress) {
      RaiseIEPlain(SFactTemplateInheritanceCorrupt);
    }
  }
  return text;
}

// --- rules -------------------------------------------------------------------------------------

TRules::~TRules() = default;

bool TRules::Add(TRule& rule) {
  if (engine_ != nullptr) {
    engine_->CheckNotMatching("define a rule");
  }
  const std::string name = rule.RuleName();
  if (TRule** existing = table_.Find(name)) {
    if (*existing == &rule) {
      return true;
    }
    switch (engine_ != nullptr ? engine_->DuplicateConstructs()
                               : TDuplicateConstructs::dcOverwrite) {
      case TDuplicateConstructs::dcOverwrite:
        Remove(name);
        break;
      case TDuplicateConstructs::dcIgnore:
        return false;
      case TDuplicateConstructs::dcError:
        RaiseIE(SDuplicateRuleNames, name.c_str());
    }
  }
  if (engine_ != nullptr) {
    engine_->ReteNetwork().AddRule(rule);
  }
  try {
    table_.Put(name, &rule);
  } catch (...) {
    if (engine_ != nullptr) {
      engine_->ReteNetwork().RemoveRule(rule);  // no node may outlive its rule
    }
    throw;
  }
  if (rule.pack_when_filed_) {
    rule.PackPatterns();
  }
  if (engine_ != nullptr) {
    if (engine_->Watching(TConstructWatch::cwCompilation)) {
      engine_->PrintOut("", rule.CompileTrace() + "\n");
    }
    if (engine_->OnAddRule) {
      engine_->OnAddRule(*engine_, rule);
    }
  }
  return true;
}

void TRules::Remove(std::string_view name) {
  if (engine_ != nullptr && table_.Find(name) != nullptr) {
    engine_->CheckNotMatching("remove a rule");
  }
  TRule* rule = table_.Take(name);
  if (rule == nullptr || engine_ == nullptr) {
    return;
  }
  if (engine_->OnRemoveRule) {
    engine_->OnRemoveRule(*engine_, *rule);
  }
  engine_->ReteNetwork().RemoveRule(*rule);
  if (rule->Owner() == engine_ &&
      !rule->ComponentState().Contains(TComponentStateFlag::csDestroying)) {
    // A rule removed by a firing rule's actions (itself, maybe) lives until
    // the firing is over.
    engine_->Retire(engine_->RemoveComponent(*rule));
  }
}

void TRules::Remove(std::string_view name, TRule& rule) {
  TRule** filed = table_.Find(name);
  if (filed != nullptr && *filed == &rule) {
    Remove(name);
  }
}

void TRules::Clear() {
  if (engine_ != nullptr && !engine_->destroying_) {
    engine_->CheckNotMatching("remove rules");
  }
  std::vector<TRule*> rules;
  for (const auto& [name, r] : table_) {
    rules.push_back(r);
  }
  table_.Clear();
  if (engine_ != nullptr) {
    for (TRule* r : rules) {
      engine_->ReteNetwork().RemoveRule(*r);
      if (r->Owner() == engine_ &&
          !r->ComponentState().Contains(TComponentStateFlag::csDestroying)) {
        engine_->Retire(engine_->RemoveComponent(*r));
      }
    }
    engine_->next_rule_id_ = 0;
    if (engine_->OnClearRules) {
      engine_->OnClearRules(*engine_);
    }
  }
}

std::string TRules::ToString() const {
  std::string text;
  for (const auto& [name, r] : table_) {
    text += r->ToString() + "\n";
  }
  return text;
}

// --- variables ---------------------------------------------------------------------------------

std::string TEngineVariables::ToString() const {
  std::string text;
  for (const auto& [name, value] : table_) {
    text += name + " = " + (value ? value->ToString() : std::string()) + "\n";
  }
  return text;
}

void TGlobalVariables::Put(const std::string& name, Ref<IIEValue> value) {
  Ref<IIEValue> initial = value;
  TEngineVariables::Put(name, std::move(value));
  if (engine_ != nullptr && initial) {
    engine_->ResetGlobalVariable(name, *initial);
  }
}

void TGlobalVariables::Clear() {
  TEngineVariables::Clear();
  if (engine_ != nullptr) {
    engine_->RootContext().Clear();
  }
}

// --- working memory ----------------------------------------------------------------------------

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
  if (engine_ == nullptr) {
    if (fact->GetID() < 0) {
      fact->SetID(highest_id_ + 1);
    }
    Append(std::move(fact));
    return Count() - 1;
  }
  if (preserve_ids_ && fact->GetID() != -1 && by_id_.Find(fact->GetID()) < 0) {
    const std::int32_t remembered = engine_->NextFactId();
    const std::int32_t wanted = fact->GetID();
    engine_->SetNextFactId(wanted);
    engine_->Assert(fact);
    highest_id_ = std::max(highest_id_, wanted);
    engine_->SetNextFactId(std::max(remembered, highest_id_ + 1));
  } else {
    engine_->Assert(fact);
  }
  return Count() - 1;
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
  if (engine_ != nullptr) {
    engine_->RetractFacts();
  }
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
    ZEPHRO_CHECK(preserve_ids_ || before == nullptr || before->GetID() < id,
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

// --- I/O streams ----------------------------------------------------------------------------------

void TIOStreams::Add(const std::string& name, std::unique_ptr<TLogicalStream> stream) {
  if (table_.Contains(name)) {
    switch (engine_ != nullptr ? engine_->DuplicateConstructs()
                               : TDuplicateConstructs::dcOverwrite) {
      case TDuplicateConstructs::dcOverwrite:
        break;
      case TDuplicateConstructs::dcIgnore:
        return;
      case TDuplicateConstructs::dcError:
        RaiseIE(SDuplicateStreamNames, name.c_str());
    }
  }
  table_.Put(name, std::move(stream));
}

void TIOStreams::Remove(std::string_view name) {
  if (!table_.Contains(name)) {
    RaiseIE(SInvalidStreamName, std::string(name).c_str());
  }
  table_.Take(name);
}

TFileStream::TFileStream(const std::string& path, std::string_view mode)
    : readable_(mode == "r" || mode == "r+"), writable_(mode != "r") {
  std::ios::openmode m{};
  if (mode == "r") {
    m = std::ios::in;
  } else if (mode == "w") {
    m = std::ios::out | std::ios::trunc;
  } else if (mode == "a") {
    m = std::ios::out | std::ios::app;
  } else if (mode == "r+") {
    m = std::ios::in | std::ios::out;
  } else {
    RaiseIE(SInvalidFileAccess, std::string(mode).c_str());
  }
  file_.open(path, m | std::ios::binary);
  if (!file_) {
    RaiseIE(SBadArgument, ("cannot open file " + path).c_str());
  }
}

bool TFileStream::Write(std::string_view text) {
  if (!writable_) {
    return false;
  }
  file_.write(text.data(), static_cast<std::streamsize>(text.size()));
  file_.flush();
  return true;
}

bool TFileStream::ReadLine(std::string& line) {
  line.clear();
  if (!readable_ || !std::getline(file_, line)) {
    return false;
  }
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return true;
}

std::string TFileStream::ReadAll() {
  std::string all((std::istreambuf_iterator<char>(file_)), std::istreambuf_iterator<char>());
  return all;
}

bool TFileStream::AtEnd() { return !readable_ || file_.peek() == std::char_traits<char>::eof(); }

bool TStringStream::Write(std::string_view text) {
  stream_.write(text.data(), static_cast<std::streamsize>(text.size()));
  return true;
}

bool TStringStream::ReadLine(std::string& line) {
  line.clear();
  return static_cast<bool>(std::getline(stream_, line));
}

std::string TStringStream::ReadAll() {
  std::string all((std::istreambuf_iterator<char>(stream_)), std::istreambuf_iterator<char>());
  return all;
}

bool TStringStream::AtEnd() { return stream_.peek() == std::char_traits<char>::eof(); }

std::string PrettyPrintGlobalVariables(const TEngineVariables& globals) {
  std::string text = "(defglobal";
  for (int i = 0; i < globals.Count(); ++i) {
    const auto& [name, value] = globals.At(i);
    text += " " + PrettyPrintGlobal(name, *value);
  }
  return text + ")";
}

}  // namespace zephro
