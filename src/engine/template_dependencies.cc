// What depends on a template, and what happens to it when the template is
// removed or defined again.

#include "zephro/engine/inference_engine.h"

#include <algorithm>

#include "zephro/engine/collections.h"
#include "zephro/engine/fact_set.h"
#include "zephro/functions/context.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/rete_network.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"

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

bool TInferenceEngine::DependsOn(const TRule& rule, const IFactTemplate& fact_template) const {
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

void TInferenceEngine::WithdrawDependents(const IFactTemplate& fact_template,
                                          TDependentTexts* texts) {
  std::erase_if(pending_,
                [&](const TPendingFact& p) { return p.fact->Template() == &fact_template; });
  std::vector<std::int32_t> ids;
  facts_->ForEach([&](IFact& f) {
    if (f.Template() == &fact_template) {
      ids.push_back(f.GetID());
      if (texts != nullptr) {
        texts->facts.push_back(f.ToString());
      }
    }
  });
  if (texts != nullptr) {
    std::reverse(texts->facts.begin(), texts->facts.end());
  }
  for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
    Retract(*it);
  }
  std::vector<std::string> doomed;
  for (int i = 0; i < rules_->Count(); ++i) {
    const TRule& rule = rules_->At(i);
    if (DependsOn(rule, fact_template)) {
      doomed.push_back(rule.RuleName());
      if (texts != nullptr) {
        texts->rules.push_back(rule.ToString());
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
  // So are deffunctions whose actions write facts of the old definition
  // (an assert of it, say): a saved program must load again, and there the
  // template comes first.
  std::vector<std::string> function_texts;
  std::vector<std::string> function_names;
  for (const auto& [name, function] : *user_functions_) {
    if (!function || !function->IsInterpreted()) {
      continue;
    }
    const auto& deffunction = static_cast<const TInterpretedFunction&>(*function);
    for (int i = 0; i < deffunction.StatementCount(); ++i) {
      if (ValueDependsOn(&deffunction.Statement(i), *old_template)) {
        function_texts.push_back(deffunction.PrettyPrint());
        function_names.push_back(name);
        break;
      }
    }
  }
  for (const std::string& name : function_names) {
    RemoveUserFunctionByName(name);
  }
  const TErrorHandling handling = parser_error_handling_;
  parser_error_handling_ = TErrorHandling::ehRaiseImmediate;
  for (const std::string& text : texts.facts) {
    try {
      Assert(ParseFact(text));
    } catch (const EBaseException&) {
      // A fact that no longer fits the new definition is dropped.
    }
  }
  // A fact set's facts are written on the new definition too, so that what
  // a reset asserts is what the set prints; one that no longer fits leaves
  // the set.
  for (TFactSet* fact_set : *fact_sets_) {
    fact_set->RebuildFactsOf(*old_template, [this](const std::string& text) {
      try {
        return ParseFact(text);
      } catch (const EBaseException&) {
        return Ref<IFact>();
      }
    });
  }
  for (const std::string& text : function_texts) {
    try {
      Parse(text, true);
    } catch (const EBaseException&) {
      // A deffunction that no longer reads is dropped, as a rule is.
    }
  }
  for (const std::string& text : texts.rules) {
    try {
      Parse(text, true);
    } catch (const EBaseException&) {
      // Likewise a rule that no longer compiles.
    }
  }
  parser_error_handling_ = handling;
}

}  // namespace zephro
