#include "zephro/engine/collections.h"

#include <algorithm>

#include "zephro/engine/engine_parts.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/rete_network.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"

#include "engine/collection_checks.h"
#include "engine/parents_first.h"

namespace zephro {

TDuplicateConstructs DuplicateSettingOf(const TInferenceEngine* engine) noexcept {
  return engine != nullptr ? engine->DuplicateConstructs() : TDuplicateConstructs::dcOverwrite;
}

void CheckCollectionIndex(int index, int count) {
  if (index < 0 || index >= count) {
    RaiseIE(SBadArgument, ("index out of bounds (" + std::to_string(index) + ")").c_str());
  }
}

void CheckOwnName(std::string_view name, const std::string& own) {
  if (name != own) {
    RaiseIE(SBadArgument, (own + " filed under the name " + std::string(name)).c_str());
  }
}

bool SharesItems(const TInferenceEngine* into, const TInferenceEngine* from) noexcept {
  return into == nullptr || from == nullptr || into == from;
}

namespace {

// True when `value` is a call or a list holding one.
bool HoldsCall(const IIEValue& value) {
  if (value.DType() == TIEType::dtFunCall) {
    return true;
  }
  if (value.DType() == TIEType::dtList && value.AsList() != nullptr) {
    for (const Ref<IIEValue>& v : value.AsList()->Values()) {
      if (v && HoldsCall(*v)) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

// --- fact templates ------------------------------------------------------------------------

namespace {

void EnsureDataSlot(IFactTemplate& t) {
  if (t.SlotCount() == 0) {
    t.AddMultiSlot(SDefaultSlotName, FCNilList().Clone());
  }
}

}  // namespace

IFactTemplate* TFactTemplates::Add(Ref<IFactTemplate> fact_template) {
  if (!fact_template) {
    RaiseIE(SBadArgument, "no fact template to add");
  }
  EnsureDataSlot(*fact_template);
  const std::string name = fact_template->TemplateName();
  if (Ref<IFactTemplate>* existing = table_.Find(name)) {
    if (existing->get() == fact_template.get()) {
      return fact_template.get();
    }
    switch (DuplicateSettingOf(engine_)) {
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

IFactTemplate* TFactTemplates::Put(std::string_view name, Ref<IFactTemplate> fact_template) {
  if (fact_template) {
    CheckOwnName(name, fact_template->TemplateName());
  }
  return Add(std::move(fact_template));
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

namespace {

const IFactTemplate* ParentOf(const IFactTemplate& t) {
  return t.Parent();
}

}  // namespace

std::string TFactTemplates::ToString() const {
  return ParentsFirstText(
      table_, ParentOf,
      [&](const IFactTemplate& parent) { return table_.Contains(parent.TemplateName()); },
      SFactTemplateInheritanceCorrupt);
}

void TFactTemplates::Assign(const TFactTemplates& from) {
  if (&from == this) {
    return;
  }
  const std::vector<IFactTemplate*> order = ParentsFirst(
      from.table_, ParentOf,
      [&](const IFactTemplate& parent) { return from.table_.Contains(parent.TemplateName()); },
      SFactTemplateInheritanceCorrupt);
  const bool share = SharesItems(engine_, from.engine_);
  for (IFactTemplate* t : order) {
    if (share) {
      Add(Ref<IFactTemplate>(t));
      continue;
    }
    const std::string text = t->ToString();
    const IFactTemplate* mine = Get(t->TemplateName());
    if (mine != nullptr && mine->IsBackwardChaining() == t->IsBackwardChaining() &&
        mine->ToString() == text) {
      continue;
    }
    Ref<IFactTemplate> copy = engine_->ParseFactTemplate(text);
    copy->SetBackwardChaining(t->IsBackwardChaining());
    Add(std::move(copy));
  }
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
    switch (DuplicateSettingOf(engine_)) {
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
      engine_->PrintOut("", engine_->ReteNetwork().LastCompileTrace() + "\n");
    }
    if (engine_->OnAddRule) {
      engine_->OnAddRule(*engine_, rule);
    }
  }
  return true;
}

bool TRules::Put(std::string_view name, TRule& rule) {
  CheckOwnName(name, rule.RuleName());
  return Add(rule);
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

void TRules::Assign(const TRules& from) {
  if (&from == this) {
    return;
  }
  std::vector<TRule*> rules;
  for (const auto& [name, rule] : from.table_) {
    rules.push_back(rule);
  }
  for (TRule* rule : rules) {
    if (engine_ == nullptr || from.engine_ == engine_) {
      Add(*rule);
      continue;
    }
    const std::string text = rule->ToString();
    const TRule* mine = Get(rule->RuleName());
    if (mine == nullptr || mine->ToString() != text) {
      engine_->ParseRule(text);
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

void TEngineVariables::Assign(const TEngineVariables& from) {
  if (&from == this) {
    return;
  }
  const bool share = SharesItems(engine_, from.engine_);
  const std::vector<TEntry> entries(from.begin(), from.end());
  for (const auto& [name, value] : entries) {
    Ref<IIEValue> copy;
    if (value && !share && HoldsCall(*value)) {
      // Calls resolve against the engine that read them.
      copy = engine_->ParseValue(value->ToString());
    } else if (value) {
      copy = value->Clone();
    }
    Put(name, std::move(copy));
  }
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

std::string PrettyPrintGlobalVariables(const TEngineVariables& globals) {
  std::string text = "(defglobal";
  for (int i = 0; i < globals.Count(); ++i) {
    const auto& [name, value] = globals.At(i);
    text += " " + PrettyPrintGlobal(name, *value);
  }
  return text + ")";
}

}  // namespace zephro
