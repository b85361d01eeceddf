#include "zephro/engine/fact_set.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/functions/context.h"
#include "zephro/platform/class_registry.h"
#include "zephro/values/nesting.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TFactSet)
    .Property("FactSetName", &TFactSet::FactSetName, &TFactSet::SetFactSetName)
    .Property("Comment", &TFactSet::Comment, &TFactSet::SetComment);

TFactSet::TFactSet(TComponent* owner) : TComponent(owner) {
  if (auto* engine = dynamic_cast<TInferenceEngine*>(owner)) {
    SetEngine(engine);
  }
}

TFactSet::~TFactSet() {
  LeaveEngine();
}

void TFactSet::Notification(TComponent& component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && &component == engine_) {
    engine_ = nullptr;
  }
}

void TFactSet::SetEngine(TInferenceEngine* engine) {
  ChangeEngine(engine, true);
}

void TFactSet::SetEngineNoParse(TInferenceEngine* engine) {
  ChangeEngine(engine, false);
}

void TFactSet::ChangeEngine(TInferenceEngine* engine, bool parse) {
  if (engine == engine_) {
    return;
  }
  LeaveEngine();
  if (engine == nullptr) {
    return;
  }
  if (ComponentState().Contains(TComponentStateFlag::csLoading)) {
    // The facts may not be loaded yet: Loaded joins.
    engine_ = engine;
    FreeNotification(*engine_);
    return;
  }
  TFactSets& sets = engine->FactSets();
  sets.Join(sets.Count(), *this, parse);
}

void TFactSet::LeaveEngine() noexcept {
  if (engine_ == nullptr) {
    return;
  }
  TInferenceEngine* engine = std::exchange(engine_, nullptr);
  engine->FactSets().Forget(*this);
  RemoveFreeNotification(*engine);
}

void TFactSet::Loaded() {
  TComponent::Loaded();
  if (engine_ != nullptr && !ComponentState().Contains(TComponentStateFlag::csDesigning)) {
    engine_->FactSets().Add(*this);
  }
}

void TFactSet::Assign(const TPersistent& source) {
  const auto* other = dynamic_cast<const TFactSet*>(&source);
  if (other == nullptr) {
    TComponent::Assign(source);
    return;
  }
  if (other == this) {
    return;
  }
  std::vector<std::string> lines;
  lines.reserve(other->entries_.size());
  for (const Entry& e : other->entries_) {
    lines.push_back(e.text);
  }
  name_ = other->name_;
  comment_ = other->comment_;
  SetFacts(lines);
}

void TFactSet::ParseEntries() {
  for (Entry& e : entries_) {
    if (!e.fact && !e.text.empty()) {
      e.fact = engine_->ParseFact(e.text);
    }
  }
}

std::size_t TFactSet::CheckedIndex(int index) const {
  CheckCollectionIndex(index, Count());
  return static_cast<std::size_t>(index);
}

int TFactSet::AddFact(Ref<IFact> fact) {
  std::string text = fact ? fact->ToString() : std::string();
  entries_.push_back(Entry{std::move(text), std::move(fact)});
  return Count() - 1;
}

IFact* TFactSet::GetFact(int index) {
  Entry& e = entries_[CheckedIndex(index)];
  if (!e.fact && engine_ != nullptr && !e.text.empty()) {
    e.fact = engine_->ParseFact(e.text);
  }
  return e.fact.get();
}

void TFactSet::SetFact(int index, Ref<IFact> fact) {
  Entry& e = entries_[CheckedIndex(index)];
  e.text = fact ? fact->ToString() : std::string();
  e.fact = std::move(fact);
}

int TFactSet::IndexOf(const IFact& fact) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].fact.get() == &fact) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int TFactSet::Remove(const IFact& fact) {
  const int index = IndexOf(fact);
  if (index >= 0) {
    entries_.erase(entries_.begin() + index);
  }
  return index;
}

void TFactSet::SetFacts(const std::vector<std::string>& lines) {
  entries_.clear();
  for (const std::string& line : lines) {
    entries_.push_back(Entry{line, nullptr});
  }
  if (engine_ != nullptr) {
    ParseEntries();
  }
}

void TFactSet::RebuildFactsOf(const IFactTemplate& fact_template,
                              const std::function<Ref<IFact>(const std::string&)>& rebuild) {
  std::erase_if(entries_, [&](Entry& e) {
    if (!e.fact || e.fact->Template() != &fact_template) {
      return false;
    }
    e.fact = rebuild(e.text);
    if (!e.fact) {
      return true;
    }
    e.text = e.fact->ToString();  // as written on the new definition
    return false;
  });
}

void TFactSet::Reset() {
  if (engine_ == nullptr) {
    return;
  }
  for (Entry& e : entries_) {
    if (!e.fact) {
      continue;
    }
    // The stored fact stays as written: a copy is resolved and asserted.
    Ref<IFact> copy = e.fact->Clone();
    copy->SetID(-1);
    {
      const TNestingGuard nesting(TNesting::nDeffacts);
      nesting.Check();
      engine_->RootContext().Resolve(*copy);
    }
    engine_->Assert(std::move(copy));
  }
}

std::string PrettyPrintFactSet(const TFactSet& fact_set) {
  std::string text = "(deffacts " + fact_set.FactSetName();
  if (!fact_set.Comment().empty()) {
    text += " " + TIEValue::String(fact_set.Comment())->ToString();
  }
  text += "\n";
  for (int i = 0; i < fact_set.Count(); ++i) {
    text += std::string(kPrintIndent) + fact_set.Text(i) + "\n";
  }
  text += ")";
  return text;
}

std::string TFactSet::ToString() const { return PrettyPrintFactSet(*this); }

// --- the engine's list ------------------------------------------------------------------------

TFactSet& TFactSets::Items(int index) const {
  CheckCollectionIndex(index, Count());
  return *items_[static_cast<std::size_t>(index)];
}

int TFactSets::Add(TFactSet& fact_set) {
  const int listed = IndexOf(fact_set);
  if (listed >= 0 && (engine_ == nullptr || fact_set.engine_ == engine_)) {
    return listed;
  }
  Join(Count(), fact_set, true);
  return IndexOf(fact_set);
}

void TFactSets::Insert(int index, TFactSet& fact_set) {
  Join(index, fact_set, true);
}

void TFactSets::Join(int index, TFactSet& fact_set, bool parse) {
  // One set of a name: another of the same name leaves (and the engine with it).
  for (TFactSet* other : items_) {
    if (other != &fact_set && other->FactSetName() == fact_set.FactSetName()) {
      if (IndexOf(*other) < index) {
        --index;
      }
      Remove(*other);
      break;
    }
  }
  if (engine_ != nullptr && fact_set.engine_ != engine_) {
    fact_set.LeaveEngine();
  }
  const int listed = IndexOf(fact_set);
  if (listed >= 0) {
    items_.erase(items_.begin() + listed);
    if (listed < index) {
      --index;
    }
  }
  index = std::clamp(index, 0, Count());
  items_.insert(items_.begin() + index, &fact_set);
  if (engine_ == nullptr) {
    return;
  }
  if (fact_set.engine_ != engine_) {
    fact_set.engine_ = engine_;
    fact_set.FreeNotification(*engine_);
  }
  if (parse) {
    fact_set.ParseEntries();
  }
}

int TFactSets::Remove(TFactSet& fact_set) {
  const int index = IndexOf(fact_set);
  if (index < 0) {
    return -1;
  }
  if (engine_ != nullptr && fact_set.engine_ == engine_) {
    fact_set.LeaveEngine();  // which forgets it here
  } else {
    Forget(fact_set);
  }
  return index;
}

void TFactSets::Forget(const TFactSet& fact_set) noexcept {
  std::erase(items_, &fact_set);
}

int TFactSets::IndexOf(const TFactSet& fact_set) const {
  const auto it = std::find(items_.begin(), items_.end(), &fact_set);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

int TFactSets::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i]->FactSetName() == name) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void TFactSets::Clear() {
  while (!items_.empty()) {
    Remove(*items_.back());
  }
}

std::string TFactSets::ToString() const {
  std::string text;
  for (const TFactSet* fact_set : items_) {
    text += fact_set->ToString() + "\n";
  }
  return text;
}

}  // namespace zephro
