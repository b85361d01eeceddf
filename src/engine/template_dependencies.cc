// What depends on a template, and what happens to it when the template is
// removed or defined again.

#include <algorithm>
#include <iterator>

#include "zephro/engine/collections.h"
#include "zephro/engine/fact_set.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/facts/fact_slot.h"
#include "zephro/functions/context.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/platform/scope_exit.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/rete_network.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

namespace zephro {

// --- dependencies of templates --------------------------------------------------------------------

namespace {

bool ValueDependsOn(const IIEValue* value, const IFactTemplate& t);

bool CallDependsOn(const IFunCall& call, const IFactTemplate& t) {
  for (const Ref<IIEValue>& arg : call.Arguments()) {
    if (ValueDependsOn(arg.get(), t)) {
      return true;
    }
  }
  return false;
}

bool ValueDependsOn(const IIEValue* value, const IFactTemplate& t) {
  if (value == nullptr) {
    return false;
  }
  switch (value->DType()) {
    case TIEType::dtFunCall:
      return value->AsFunCall() != nullptr && CallDependsOn(*value->AsFunCall(), t);
    case TIEType::dtFact:
      return value->AsFact() != nullptr && value->AsFact()->Template() == &t;
    case TIEType::dtList:
      if (const IValueVector* list = value->AsList()) {
        for (const Ref<IIEValue>& v : list->Values()) {
          if (ValueDependsOn(v.get(), t)) {
            return true;
          }
        }
      }
      return false;
    default:
      return false;
  }
}

}  // namespace

bool TInferenceEngine::IsDependent(const TRule& rule, const IFactTemplate& fact_template) const {
  if (rule.UsesTemplate(fact_template)) {
    return true;
  }
  for (int i = 0; i < rule.ActionCount(); ++i) {
    if (CallDependsOn(rule.Action(i), fact_template)) {
      return true;
    }
  }
  return false;
}

bool TInferenceEngine::IsDependent(const IFunCall& call, const IFactTemplate& fact_template) const {
  return CallDependsOn(call, fact_template);
}

bool TInferenceEngine::IsDependent(const IIEValue& value,
                                   const IFactTemplate& fact_template) const {
  return ValueDependsOn(&value, fact_template);
}

void TInferenceEngine::WithdrawDependents(const IFactTemplate& fact_template,
                                          TDependentTexts* texts) {
  std::erase_if(pending_,
                [&](const TPendingFact& p) { return p.fact->Template() == &fact_template; });
  std::vector<Ref<IFact>> facts;
  facts_->ForEach([&](IFact& f) {
    if (f.Template() == &fact_template) {
      facts.emplace_back(&f);
    }
  });
  for (auto it = facts.rbegin(); it != facts.rend(); ++it) {
    if (texts != nullptr) {
      texts->facts.push_back({(*it)->ToString(), *it});
    }
    Retract((*it)->GetID());
  }
  std::vector<std::string> doomed;
  for (const auto& [name, rule] : *rules_) {
    if (IsDependent(*rule, fact_template)) {
      doomed.push_back(name);
      if (texts != nullptr) {
        texts->rules.push_back({rule->ToString(), nullptr});
      }
    }
  }
  for (const std::string& name : doomed) {
    rules_->Remove(name);
  }
}

void TInferenceEngine::RemoveDependencies(const IFactTemplate& fact_template) {
  WithdrawDependents(fact_template, nullptr);
  for (TFactSet* fact_set : *fact_sets_) {
    fact_set->RebuildFactsOf(fact_template, [](const std::string&) { return Ref<IFact>(); });
  }
}

void TInferenceEngine::RemoveAllDependencies() {
  pending_.clear();
  agenda_->Clear();
  rete_->Clear();
  facts_->Clear();
  rules_->Clear();
}

void TInferenceEngine::ReplaceTemplate(const Ref<IFactTemplate>& old_template,
                                       const Ref<IFactTemplate>& new_template) {
  if (old_template->TemplateName() != new_template->TemplateName()) {
    RemoveDependencies(*old_template);
    return;
  }
  // Facts and rules are built again from their text on the new definition;
  // what no longer fits it is dropped.
  TDependentTexts texts;
  WithdrawDependents(*old_template, &texts);
  std::vector<TDependent> dependents = std::move(texts.facts);
  // So are deffunctions whose actions write facts of the old definition
  // (an assert of it, say): a saved program must load again, and there the
  // template comes first. They go back before the rules, which may call them.
  std::vector<std::string> function_names;
  for (const auto& [name, function] : *user_functions_) {
    const auto* deffunction = dynamic_cast<const TInterpretedFunction*>(function.get());
    if (deffunction == nullptr) {
      continue;
    }
    for (int i = 0; i < deffunction->StatementCount(); ++i) {
      if (IsDependent(deffunction->Statement(i), *old_template)) {
        dependents.push_back({deffunction->PrettyPrint(), nullptr});
        function_names.push_back(name);
        break;
      }
    }
  }
  for (const std::string& name : function_names) {
    RemoveUserFunctionByName(name);
  }
  std::move(texts.rules.begin(), texts.rules.end(), std::back_inserter(dependents));
  // A fact set's facts are written on the new definition too, so that what
  // a reset asserts is what the set prints; one that no longer fits leaves
  // the set.
  for (TFactSet* fact_set : *fact_sets_) {
    fact_set->RebuildFactsOf(*old_template, [this](const std::string& text) {
      try {
        return ParseFact(text);
      } catch (const EAbort&) {
        throw;
      } catch (const EBaseException&) {
        return Ref<IFact>();
      }
    });
  }
  UpdateDependencies(dependents);
}

void TInferenceEngine::UpdateDependencies(const std::vector<TDependent>& dependents) {
  const TErrorHandling handling = parser_error_handling_;
  parser_error_handling_ = TErrorHandling::ehRaiseImmediate;
  const TScopeExit restore([&] { parser_error_handling_ = handling; });
  for (const TDependent& dependent : dependents) {
    try {
      if (dependent.fact) {
        UpdateDependentFact(*dependent.fact, ParseFact(dependent.text));
      } else {
        Parse(dependent.text, true);
      }
    } catch (const EAbort&) {
      throw;
    } catch (const EBaseException&) {
      // What no longer reads, fits or compiles is dropped.
    }
  }
}

std::int32_t TInferenceEngine::UpdateDependentFact(const IFact& old_fact, Ref<IFact> new_fact) {
  if (old_fact.Holder() == this) {
    RetractFact(old_fact);
  }
  return Assert(std::move(new_fact));
}

void TInferenceEngine::ChangeFactTemplateName(std::string_view old_name,
                                              std::string_view new_name) {
  if (old_name.empty() || old_name == new_name) {
    return;
  }
  Ref<IFactTemplate> fact_template(fact_templates_->Get(old_name));
  if (!fact_template) {
    return;
  }
  CheckConstructName(new_name);
  const IFactTemplate* taken = fact_templates_->Get(new_name);
  if (taken != nullptr && taken != fact_template.get() &&
      duplicate_constructs_ == TDuplicateConstructs::dcError) {
    RaiseIE(SDuplicateTemplateNames, std::string(new_name).c_str());
  }
  fact_templates_->Remove(old_name);
  fact_template->SetTemplateName(new_name);
  fact_templates_->Add(std::move(fact_template));
}

}  // namespace zephro
