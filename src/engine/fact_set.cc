#include "zephro/engine/fact_set.h"

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
  if (engine_ != nullptr) {
    engine_->RemoveFactSet(*this);
  }
}

void TFactSet::Notification(TComponent& component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && &component == engine_) {
    engine_ = nullptr;
  }
}

void TFactSet::SetEngine(TInferenceEngine* engine) {
  if (engine == engine_) {
    return;
  }
  if (engine_ != nullptr) {
    engine_->RemoveFactSet(*this);
    RemoveFreeNotification(*engine_);
  }
  engine_ = engine;
  if (engine_ != nullptr) {
    engine_->AddFactSet(*this);
    FreeNotification(*engine_);
    ParseEntries();
  }
}

void TFactSet::ParseEntries() {
  for (Entry& e : entries_) {
    if (!e.fact && !e.text.empty()) {
      e.fact = engine_->ParseFact(e.text);
    }
  }
}

int TFactSet::AddFact(Ref<IFact> fact) {
  std::string text = fact ? fact->ToString() : std::string();
  entries_.push_back(Entry{std::move(text), std::move(fact)});
  return Count() - 1;
}

IFact* TFactSet::GetFact(int index) {
  Entry& e = entries_.at(static_cast<std::size_t>(index));
  if (!e.fact && engine_ != nullptr && !e.text.empty()) {
    e.fact = engine_->ParseFact(e.text);
  }
  return e.fact.get();
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

}  // namespace zephro
