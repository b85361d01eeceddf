// The engine: construction, configuration, the constructs it files and its
// printer. Working memory, the run cycle, input and output
// and what depends on a template have files of their own.

#include "zephro/engine/inference_engine.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "zephro/engine/collections.h"
#include "zephro/engine/engine_parts.h"
#include "zephro/engine/fact_set.h"
#include "zephro/engine/io_streams.h"
#include "zephro/facts/fact_printer.h"
#include "zephro/facts/fact_template.h"
#include "zephro/functions/call_printer.h"
#include "zephro/functions/context.h"
#include "zephro/functions/user_package.h"
#include "zephro/platform/class_registry.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/pattern.h"
#include "zephro/rules/rete_network.h"
#include "zephro/rules/rule.h"
#include "zephro/rules/rule_printer.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

#include "platform/debug_checks.h"

namespace zephro {

namespace {

// The names of the published enumerations' elements, by ordinal.
constexpr std::array kStrategyNames = {"ssDepthFirst", "ssBreadthFirst"};
constexpr std::array kWatchNames = {"cwActivation", "cwFact", "cwRule", "cwCompilation",
                                    "cwStatistics"};
constexpr std::array kDuplicateNames = {"dcOverwrite", "dcIgnore", "dcError"};
constexpr std::array kPackageNames = {"pStandard", "pPredicate",    "pMath",
                                      "pMiscellaneous", "pString", "pObject",
                                      "pTrigonometry", "pBusiness", "pFuzzyLogic"};
constexpr std::array kTypeCheckNames = {"tcStatic", "tcDynamic"};
constexpr std::array kErrorHandlingNames = {"ehRaiseImmediate", "ehRaiseAllAtEnd"};
constexpr std::array kFuzzyInferenceKindNames = {"fiMinMax", "fiSum", "fiMean", "fiProduct",
                                                 "fiBoundedSum"};
constexpr std::array kFuzzyCorrelationKindNames = {"fcMinimum", "fcProduct"};

// An engine event as the class registry publishes it: a member of the engine.
template <class Handler>
constexpr Handler TInferenceEngine::*Event(Handler TEngineEvents::*member) {
  return member;
}

}  // namespace

ZEPHRO_DEFINE_CLASS(TInferenceEngine)
    .Property("Strategy", &TInferenceEngine::Strategy, &TInferenceEngine::SetStrategy,
              kStrategyNames)
    .Property("Watch", &TInferenceEngine::Watch, &TInferenceEngine::SetWatch, kWatchNames)
    .Property("ResetGlobals", &TInferenceEngine::ResetGlobals, &TInferenceEngine::SetResetGlobals)
    .Property("FactDuplication", &TInferenceEngine::FactDuplication,
              &TInferenceEngine::SetFactDuplication)
    .Property("DuplicateConstructs", &TInferenceEngine::DuplicateConstructs,
              &TInferenceEngine::SetDuplicateConstructs, kDuplicateNames)
    .Property("Packages", &TInferenceEngine::Packages, &TInferenceEngine::SetPackages,
              kPackageNames)
    .Property("TypeChecks", &TInferenceEngine::TypeChecks, &TInferenceEngine::SetTypeChecks,
              kTypeCheckNames)
    .Property("ParserErrorHandling", &TInferenceEngine::ParserErrorHandling,
              &TInferenceEngine::SetParserErrorHandling, kErrorHandlingNames)
    .Property("ParserMaxErrors", &TInferenceEngine::ParserMaxErrors,
              &TInferenceEngine::SetParserMaxErrors)
    .Property("SymbolIndex", &TInferenceEngine::SymbolIndex, &TInferenceEngine::SetSymbolIndex)
    .Property("FuzzyAutoTerms", &TInferenceEngine::FuzzyAutoTerms,
              &TInferenceEngine::SetFuzzyAutoTerms)
    .Property("FuzzyCorrelationMethod", &TInferenceEngine::FuzzyCorrelationMethod,
              &TInferenceEngine::SetFuzzyCorrelationMethod, kFuzzyCorrelationKindNames)
    .Property("FuzzyInferenceMethod", &TInferenceEngine::FuzzyInferenceMethod,
              &TInferenceEngine::SetFuzzyInferenceMethod, kFuzzyInferenceKindNames)
    .Property("FuzzyEqualsThreshold", &TInferenceEngine::FuzzyEqualsThreshold,
              &TInferenceEngine::SetFuzzyEqualsThreshold)
    .Property("MinActivationStrength", &TInferenceEngine::MinActivationStrength,
              &TInferenceEngine::SetMinActivationStrength)
    .Event("OnAddActivation", Event(&TInferenceEngine::OnAddActivation))
    .Event("OnRemoveActivation", Event(&TInferenceEngine::OnRemoveActivation))
    .Event("OnRuleFired", Event(&TInferenceEngine::OnRuleFired))
    .Event("OnStartInference", Event(&TInferenceEngine::OnStartInference))
    .Event("OnEndInference", Event(&TInferenceEngine::OnEndInference))
    .Event("OnReset", Event(&TInferenceEngine::OnReset))
    .Event("OnClear", Event(&TInferenceEngine::OnClear))
    .Event("OnAddDefaultPackages", Event(&TInferenceEngine::OnAddDefaultPackages))
    .Event("OnAssertion", Event(&TInferenceEngine::OnAssertion))
    .Event("OnRetraction", Event(&TInferenceEngine::OnRetraction))
    .Event("OnClearFacts", Event(&TInferenceEngine::OnClearFacts))
    .Event("OnFuzzyCorrelation", Event(&TInferenceEngine::OnFuzzyCorrelation))
    .Event("OnFuzzyInference", Event(&TInferenceEngine::OnFuzzyInference))
    .Event("OnAddRule", Event(&TInferenceEngine::OnAddRule))
    .Event("OnRemoveRule", Event(&TInferenceEngine::OnRemoveRule))
    .Event("OnNewFactTemplate", Event(&TInferenceEngine::OnNewFactTemplate))
    .Event("OnRemoveFactTemplate", Event(&TInferenceEngine::OnRemoveFactTemplate))
    .Event("OnClearFactTemplates", Event(&TInferenceEngine::OnClearFactTemplates))
    .Event("OnClearRules", Event(&TInferenceEngine::OnClearRules))
    .Event("OnAddDefinedType", Event(&TInferenceEngine::OnAddDefinedType))
    .Event("OnRemoveDefinedType", Event(&TInferenceEngine::OnRemoveDefinedType))
    .Event("OnClearDefinedTypes", Event(&TInferenceEngine::OnClearDefinedTypes))
    .Event("OnAddUserFunction", Event(&TInferenceEngine::OnAddUserFunction))
    .Event("OnRemoveUserFunction", Event(&TInferenceEngine::OnRemoveUserFunction))
    .Event("OnPrintOut", Event(&TInferenceEngine::OnPrintOut))
    .Event("OnReadLine", Event(&TInferenceEngine::OnReadLine))
    .Event("OnReadToken", Event(&TInferenceEngine::OnReadToken))
    .Event("OnLoadProgress", Event(&TInferenceEngine::OnLoadProgress))
    .Event("OnShowMessage", Event(&TInferenceEngine::OnShowMessage))
    .Event("OnInputQuery", Event(&TInferenceEngine::OnInputQuery))
    .Event("OnMessageDlg", Event(&TInferenceEngine::OnMessageDlg));

// --- construction and destruction ------------------------------------------------------

TInferenceEngine::TInferenceEngine(TComponent* owner)
    : TComponent(owner), packages_(kAllFunctionPackages) {
  io_streams_ = std::make_unique<TIOStreams>(this);
  global_variables_ = std::make_unique<TGlobalVariables>(this);
  defined_types_ = std::make_unique<TIEDefinedTypes>(this);
  agenda_ = std::make_unique<TIEAgenda>(this);
  fact_templates_ = std::make_unique<TFactTemplates>(this);
  facts_ = std::make_unique<TFacts>(this);
  rete_ = std::make_unique<TReteNetwork>(this);
  rete_->FuzzyMatch = [](const IIEValue& fuzzy, const IIEValue& other, float& degree) {
    const TIEFuzzySet* set = FuzzySetOf(fuzzy);
    if (set == nullptr) {
      degree = 1;
      return fuzzy.Equals(&other);
    }
    degree = static_cast<float>(set->FuzzyEquals(other));
    return degree > set->Threshold();
  };
  rules_ = std::make_unique<TRules>(this);
  engine_variables_ = std::make_unique<TEngineVariables>(this);
  fact_sets_ = std::make_unique<TFactSets>(this);
  user_functions_ = std::make_unique<TUserFunctions>(this);
  context_ = std::make_unique<TIEContext>(this, nullptr);
  context_->SetBudget(&budget_);
  network_context_ = context_->Push();
  CreateInternalConstructs();
  parser_type_ = DefaultParserClass();
  tokenizer_type_ = DefaultTokenizerClass();
  parser_ = NewParser(nullptr);
  AddDefaultPackages();
  AssertInitialFact();
}

void TInferenceEngine::AssertInitialFact() {
  // "(Initial-Fact)": built directly, so an engine works before any parser.
  Assert(CreateFactTemplate(SInitialFactPattern).NewFact());
}

TInferenceEngine::~TInferenceEngine() {
  if (busy_ > 0 || matching_ > 0) {
    // Frames of this engine are on the stack below the handler that deletes
    // it and would run on freed memory when it returns: no way to go on.
    std::fputs(
        "zephro: TInferenceEngine deleted while one of its calls was under way "
        "(from a handler or a function it ran); delete it after that call returns\n",
        stderr);
    std::abort();
  }
  destroying_ = true;
  static_cast<TEngineEvents&>(*this) = TEngineEvents();  // no handler runs from here on
  ParserEvents() = TParserEvents();
  Clear();
  capture_.reset();
  DestroyPackages();
  // Functions that outlive the engine (deffunctions held elsewhere) must not
  // keep a pointer to it.
  std::vector<Ref<IUserFunction>> remaining;
  for (const auto& [name, f] : *user_functions_) {
    remaining.push_back(f);
  }
  for (const Ref<IUserFunction>& f : remaining) {
    if (f->IndexOfReasoner(this) >= 0) {
      f->DeleteReasoner(*this);
    }
  }
  rules_.reset();
  global_variables_.reset();
  for (int i = fact_templates_->Count() - 1; i >= 0; --i) {
    fact_templates_->At(i).SetOwner(nullptr);
  }
  fact_templates_.reset();
  defined_types_.reset();
  user_functions_.reset();
  fact_sets_.reset();
  initial_fact_pattern_.reset();
  null_fact_ = nullptr;
  agenda_.reset();
  facts_.reset();
  rete_.reset();
  network_context_.reset();
  context_.reset();
  engine_variables_.reset();
  io_streams_.reset();
}

void TInferenceEngine::CreateInternalConstructs() {
  IFactTemplate& initial = CreateFactTemplate(SInitialFactPattern);
  initial_fact_pattern_ = std::make_unique<TIEPattern>(nullptr, std::string(SInitialFactPattern),
                                                       Ref<IFactTemplate>(&initial));
  IFactTemplate& null_template = CreateFactTemplate(SNullFact);
  null_fact_ = null_template.NewFact();
}

void TInferenceEngine::AddDefaultPackages() {
  for (TFunctionPackage p : kFunctionPackageCreationOrder) {
    if (packages_.Contains(p)) {
      CreateBuiltInPackage(p, *this);
    }
  }
  if (OnAddDefaultPackages) {
    OnAddDefaultPackages(*this);
  }
}

void TInferenceEngine::DestroyPackages() {
  for (int i = ComponentCount() - 1; i >= 0; --i) {
    if (auto* package = dynamic_cast<TUserPackage*>(&Component(i))) {
      RemoveComponent(*package).reset();
    }
  }
}

void TInferenceEngine::SetPackages(TFunctionPackages packages) {
  if (packages == packages_) {
    return;
  }
  DestroyPackages();
  packages_ = packages;
  AddDefaultPackages();
}

void TInferenceEngine::Notification(TComponent& component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != TOperation::opRemove || destroying_) {
    return;
  }
  if (auto* rule = dynamic_cast<TRule*>(&component)) {
    if (rules_ && rules_->Get(rule->RuleName()) == rule) {
      rules_->table_.Take(rule->RuleName());
      rete_->RemoveRule(*rule);
    }
  } else if (auto* fact_set = dynamic_cast<TFactSet*>(&component)) {
    fact_sets_->Forget(*fact_set);
  }
}

// --- configuration ----------------------------------------------------------------------

void TInferenceEngine::SetFactDuplication(bool on) {
  if (on != fact_duplication_) {
    fact_duplication_ = on;
    facts_->SetCacheHashCodes(!on);
  }
}

void TInferenceEngine::SetTypeChecks(TTypeChecks checks) {
  type_checks_ = checks;
}

float TInferenceEngine::MinActivationStrength() const noexcept {
  return rete_->MinActivationStrength();
}

void TInferenceEngine::SetMinActivationStrength(float s) noexcept {
  rete_->SetMinActivationStrength(s);
}

void TInferenceEngine::SetParserErrorHandling(TErrorHandling handling) noexcept {
  parser_error_handling_ = handling;
  parser_->SetErrorHandling(handling);
}

void TInferenceEngine::SetParserMaxErrors(std::int32_t n) noexcept {
  parser_max_errors_ = n;
  parser_->SetMaxErrors(n);
}

void TInferenceEngine::SetSymbolIndex(std::int32_t value) noexcept {
  if (value > symbol_index_) {
    symbol_index_ = value;
  } else {
    ++symbol_index_;
  }
}

std::string TInferenceEngine::GenerateSymbol(std::string_view prefix) {
  std::string symbol(prefix);
  symbol += std::to_string(symbol_index_);
  ++symbol_index_;
  return symbol;
}

// --- templates and rules ---------------------------------------------------------------------

IFactTemplate* TInferenceEngine::FindFactTemplate(std::string_view name) const {
  return fact_templates_->Get(name);
}

IFactTemplate& TInferenceEngine::CreateFactTemplate(std::string_view name) {
  if (IFactTemplate* existing = FindFactTemplate(name)) {
    return *existing;
  }
  Ref<IFactTemplate> t = MakeRef<TFactTemplate>(this, name, "(Implied)", nullptr);
  return *fact_templates_->Add(std::move(t));
}

IFactTemplate* TInferenceEngine::AddFactTemplate(Ref<IFactTemplate> fact_template) {
  return fact_templates_->Add(std::move(fact_template));
}

TRule* TInferenceEngine::AddRule(TRule& rule) {
  rule.SetEngine(this);
  if (rule.PatternCount() == 0) {
    // A rule without conditions fires once per reset, on the initial fact.
    rule.BeginUpdate();
    rule.AddPattern(initial_fact_pattern_->Clone());
    rule.EndUpdate();
  }
  auto discard = [&] {
    if (rule.Owner() == this) {
      RemoveComponent(rule).reset();
    }
  };
  bool filed = false;
  try {
    filed = rules_->Add(rule);
  } catch (...) {
    discard();
    throw;
  }
  if (!filed) {
    discard();
    return nullptr;
  }
#if defined(ZEPHRO_DEBUG_CHECKS)
  CheckAfterMove();  // the new nodes learned working memory
#endif
  ProcessPendingFacts();  // the goals the rule asked for meeting working memory
  return &rule;
}

TRule* TInferenceEngine::AddRule(std::unique_ptr<TRule> rule) {
  if (!rule) {
    RaiseIE(SBadArgument, "no rule to add");
  }
  auto& owned = static_cast<TRule&>(InsertComponent(std::move(rule)));
  return AddRule(owned);
}

TRule* TInferenceEngine::FindRule(std::string_view name) const {
  return rules_->Get(name);
}

void TInferenceEngine::RemoveRule(std::string_view name) {
  rules_->Remove(name);
}

void TInferenceEngine::RuleChange(TRule& rule) {
  if (rules_->Get(rule.RuleName()) != &rule) {
    return;
  }
  rete_->RemoveRule(rule);
  rete_->AddRule(rule);
#if defined(ZEPHRO_DEBUG_CHECKS)
  CheckAfterMove();
#endif
}

void TInferenceEngine::RenameRule(std::string_view old_name, std::string_view new_name) {
  if (old_name == new_name) {
    return;
  }
  TRule* rule = rules_->Get(old_name);
  if (rule == nullptr) {
    return;
  }
  if (rules_->Get(new_name) != nullptr) {
    RaiseIE(SDuplicateRuleNames, std::string(new_name).c_str());
  }
  rules_->table_.Take(old_name);
  rules_->table_.Put(std::string(new_name), rule);
  rule->StoreRuleName(std::string(new_name));
}

// --- functions -----------------------------------------------------------------------------

void TInferenceEngine::AddUserFunction(IUserFunction& function) {
  user_functions_->File(Ref<IUserFunction>(&function));
  FunctionTableChanged();
  if (OnAddUserFunction) {
    OnAddUserFunction(*this, function);
  }
}

void TInferenceEngine::RemoveUserFunction(IUserFunction& function) {
  Ref<IUserFunction> removed = user_functions_->Unfile(function.FunctionName());
  FunctionTableChanged();
  // Packages withdraw their functions as the engine is being freed, before
  // its destructor clears the handlers: no handler hears of that.
  if (removed && OnRemoveUserFunction &&
      !ComponentState().Contains(TComponentStateFlag::csDestroying)) {
    OnRemoveUserFunction(*this, *removed);
  }
}

IUserFunction* TInferenceEngine::ContainsUserFunction(std::string_view name) const {
  return user_functions_->Get(name);
}

IUserFunction* TInferenceEngine::GetUserFunction(std::string_view name) const {
  return user_functions_->Get(name);
}

void TInferenceEngine::PutUserFunction(const std::string& name, Ref<IUserFunction> function) {
  user_functions_->Put(name, std::move(function));
}

void TInferenceEngine::RemoveUserFunctionByName(std::string_view name) {
  user_functions_->Remove(name);
}

bool TInferenceEngine::FilesRule(std::string_view name, const TRule& rule) const {
  return rules_->Get(name) == &rule;
}

void TInferenceEngine::ForgetRule(std::string_view name, TRule& rule) {
  rules_->Remove(name, rule);
}

// --- printing -----------------------------------------------------------------------------------

std::string TInferenceEngine::PrintFact(const IFact& fact) const {
  return PrettyPrintFact(fact);
}

std::string TInferenceEngine::PrintTemplate(const IFactTemplate& fact_template) const {
  return PrettyPrintTemplate(fact_template);
}

std::string TInferenceEngine::PrintSlot(const IFactSlot& slot) const {
  return PrettyPrintSlot(slot);
}

std::string TInferenceEngine::PrettyPrint(const IFunCall& call) const {
  return PrettyPrintFunCall(call);
}

std::string TInferenceEngine::PrettyPrint(const TRule& rule) const {
  return PrettyPrintRule(rule);
}

}  // namespace zephro
