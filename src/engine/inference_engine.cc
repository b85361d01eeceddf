// The engine: construction, working memory, the run cycle and the agenda side.

#include "zephro/engine/inference_engine.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <optional>

#include "platform/debug_checks.h"
#include "rules/token.h"
#include "zephro/engine/engine_parser.h"
#include "zephro/engine/fact_set.h"
#include "zephro/engine/io_streams.h"
#include "zephro/facts/fact.h"
#include "zephro/facts/fact_printer.h"
#include "zephro/facts/fact_template.h"
#include "zephro/functions/call_printer.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/functions/user_package.h"
#include "zephro/platform/class_registry.h"
#include "zephro/platform/errors.h"
#include "zephro/platform/text_stream.h"
#include "zephro/rules/rule.h"
#include "zephro/rules/rule_printer.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/nesting.h"
#include "zephro/values/printing.h"
#include "zephro/values/stream_token.h"
#include "zephro/values/value.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TInferenceEngine);

// The built-in packages register a maker here (packages subsystem).
// Creates the built-in package `package` owned by `engine` (null when it is
// not available).
TUserPackage* CreateBuiltInPackage(TFunctionPackage package, TInferenceEngine& engine);

namespace {

double MilliSeconds() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// --- construction and destruction ------------------------------------------------------

TInferenceEngine::TInferenceEngine(TComponent* owner)
    : TComponent(owner), packages_(kAllFunctionPackages) {
  io_streams_ = std::make_unique<TIOStreams>(this);
  global_variables_ = std::make_unique<TGlobalVariables>(this);
  agenda_ = std::make_unique<TIEAgenda>(this);
  fact_templates_ = std::make_unique<TFactTemplates>(this);
  facts_ = std::make_unique<TFacts>(this);
  rete_ = std::make_unique<TReteNetwork>(this);
  rules_ = std::make_unique<TRules>(this);
  engine_variables_ = std::make_unique<TEngineVariables>(this);
  context_ = std::make_unique<TIEContext>(this, nullptr);
  context_->SetBudget(&budget_);
  network_context_ = context_->Push();
  CreateInternalConstructs();
  parser_ = NewDefaultParser(*this);
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
    std::fputs("zephro: TInferenceEngine deleted while one of its calls was under way "
               "(from a handler or a function it ran); delete it after that call returns\n",
               stderr);
    std::abort();
  }
  destroying_ = true;
  OnAddActivation = nullptr;
  OnRemoveActivation = nullptr;
  OnRuleFired = nullptr;
  OnStartInference = nullptr;
  OnEndInference = nullptr;
  OnReset = nullptr;
  OnClear = nullptr;
  OnAddDefaultPackages = nullptr;
  OnAssertion = nullptr;
  OnRetraction = nullptr;
  OnClearFacts = nullptr;
  OnAddRule = nullptr;
  OnRemoveRule = nullptr;
  OnNewFactTemplate = nullptr;
  OnRemoveFactTemplate = nullptr;
  OnClearFactTemplates = nullptr;
  OnClearRules = nullptr;
  OnAddUserFunction = nullptr;
  OnRemoveUserFunction = nullptr;
  OnPrintOut = nullptr;
  OnReadLine = nullptr;
  OnReadToken = nullptr;
  Clear();
  capture_.reset();
  DestroyPackages();
  // Functions that outlive the engine (deffunctions held elsewhere) must not
  // keep a pointer to it.
  std::vector<Ref<IUserFunction>> remaining;
  for (const auto& [name, f] : user_functions_) {
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
  user_functions_.Clear();
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
  initial_fact_pattern_ = std::make_unique<TIEPattern>(
      nullptr, std::string(SInitialFactPattern), Ref<IFactTemplate>(&initial));
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
    fact_sets_.erase(std::remove(fact_sets_.begin(), fact_sets_.end(), fact_set),
                     fact_sets_.end());
  }
}

// --- configuration ----------------------------------------------------------------------

void TInferenceEngine::SetFactDuplication(bool on) {
  if (on != fact_duplication_) {
    fact_duplication_ = on;
    facts_->SetCacheHashCodes(!on);
  }
}

void TInferenceEngine::SetTypeChecks(TTypeChecks checks) { type_checks_ = checks; }

void TInferenceEngine::SetParserErrorHandling(TErrorHandling handling) noexcept {
  parser_error_handling_ = handling;
}

void TInferenceEngine::SetParserMaxErrors(std::int32_t n) noexcept { parser_max_errors_ = n; }

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
  return &rule;
}

TRule* TInferenceEngine::FindRule(std::string_view name) const { return rules_->Get(name); }

void TInferenceEngine::RemoveRule(std::string_view name) { rules_->Remove(name); }

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
  rule->rule_name_ = new_name;
}

void TInferenceEngine::AddFactSet(TFactSet& fact_set) {
  for (TFactSet* existing : fact_sets_) {
    if (existing != &fact_set && existing->FactSetName() == fact_set.FactSetName()) {
      existing->SetEngine(nullptr);
      break;
    }
  }
  if (std::find(fact_sets_.begin(), fact_sets_.end(), &fact_set) == fact_sets_.end()) {
    fact_sets_.push_back(&fact_set);
    fact_set.FreeNotification(*this);
  }
}

void TInferenceEngine::RemoveFactSet(TFactSet& fact_set) {
  fact_sets_.erase(std::remove(fact_sets_.begin(), fact_sets_.end(), &fact_set),
                   fact_sets_.end());
}

// --- functions -----------------------------------------------------------------------------

void TInferenceEngine::AddUserFunction(IUserFunction& function) {
  user_functions_.Put(function.FunctionName(), Ref<IUserFunction>(&function));
  ++function_version_;
  if (OnAddUserFunction) {
    OnAddUserFunction(*this, function);
  }
}

void TInferenceEngine::RemoveUserFunction(IUserFunction& function) {
  Ref<IUserFunction> removed = user_functions_.Take(function.FunctionName());
  ++function_version_;
  if (removed && OnRemoveUserFunction) {
    OnRemoveUserFunction(*this, *removed);
  }
}

IUserFunction* TInferenceEngine::ContainsUserFunction(std::string_view name) const {
  Ref<IUserFunction>* f = user_functions_.Find(name);
  return f != nullptr ? f->get() : nullptr;
}

IUserFunction* TInferenceEngine::GetUserFunction(std::string_view name) const {
  return ContainsUserFunction(name);
}

void TInferenceEngine::PutUserFunction(const std::string& name, Ref<IUserFunction> function) {
  if (!function) {
    RaiseIEPlain(SInvalidFunctionAdd);
  }
  if (name != function->FunctionName()) {
    RaiseIE(SWrongFunctionName, name.c_str(), function->FunctionName().c_str());
  }
  if (IUserFunction* existing = ContainsUserFunction(name)) {
    if (existing == function.get()) {
      return;
    }
    switch (duplicate_constructs_) {
      case TDuplicateConstructs::dcOverwrite:
        RemoveUserFunctionByName(name);
        break;
      case TDuplicateConstructs::dcIgnore:
        return;
      case TDuplicateConstructs::dcError:
        RaiseIE(SDuplicateFunctionNames, name.c_str());
    }
  }
  // Registering the engine with the function files it here.
  function->AddReasoner(*this);
  if (ContainsUserFunction(name) != function.get()) {
    AddUserFunction(*function);
  }
}

void TInferenceEngine::RemoveUserFunctionByName(std::string_view name) {
  Ref<IUserFunction> f(ContainsUserFunction(name));
  if (!f) {
    return;
  }
  if (f->IndexOfReasoner(this) >= 0) {
    f->DeleteReasoner(*this);  // which removes it from the table
  }
  if (ContainsUserFunction(name) == f.get()) {
    RemoveUserFunction(*f);
  }
}

// --- working memory -----------------------------------------------------------------------

void TInferenceEngine::PassToken(TTokenAction action, int slot) {
  TFacts::Slot& s = facts_->slots_[static_cast<std::size_t>(slot)];
  if (action != TTokenAction::taRemove) {
    auto token = MakeRef<TIEToken>(action, s.fact);
    s.match = Ref<IReteToken>(token.get());
    rete_->ProcessToken(token);
    if (token->RefCount() == 2) {
      // Nothing in the network holds it: no need to keep it.
      facts_->slots_[static_cast<std::size_t>(slot)].match.reset();
    }
    return;
  }
  // A retracted fact goes through the network as the very token it entered
  // with, which every memory finds where it filed it.
  Ref<TIEToken> token;
  if (s.match) {
    token = Ref<TIEToken>(static_cast<TIEToken*>(s.match.get()));
    s.match.reset();
    token->SetTag(TTokenAction::taRemove);
  } else {
    token = MakeRef<TIEToken>(TTokenAction::taRemove, s.fact);
  }
  rete_->ProcessToken(token);
}

void TInferenceEngine::CheckNotMatching(const char* what) const {
  if (Matching()) {
    RaiseIE(SMatchingInProgress, what);
  }
}

bool TInferenceEngine::DeferMatchFailure(std::exception_ptr failure) noexcept {
  if (!Matching()) {
    return false;
  }
  if (!match_failure_) {
    match_failure_ = std::move(failure);
  }
  return true;
}

template <class F>
std::exception_ptr TInferenceEngine::Match(F&& move) {
  ++matching_;
  try {
    move();
  } catch (...) {
    DeferMatchFailure(std::current_exception());
  }
  if (--matching_ > 0) {
    return nullptr;  // the outer move reports it
  }
#if defined(ZEPHRO_DEBUG_CHECKS)
  CheckAfterMove();
#endif
  return std::exchange(match_failure_, nullptr);
}

void TInferenceEngine::UndoAssertion(int slot) {
  const std::int32_t id = facts_->AtSlot(slot).GetID();
  // The withdrawal runs no predicate and cannot fail but for memory; what
  // it might raise is not the failure to report.
  static_cast<void>(Match([&] { PassToken(TTokenAction::taRemove, slot); }));
  facts_->RemoveId(id);
}

std::int32_t TInferenceEngine::Assert(Ref<IFact> fact, bool /*fuzzy_merge*/) {
  IFactTemplate* t = fact->Template();
  if (t == nullptr) {
    RaiseIEPlain(SNoTemplate);
  }
  if (const IFactEnvironment* holder = fact->Holder()) {
    if (holder != this) {
      RaiseIE(SFactHeldElsewhere, fact->ToString().c_str());
    }
    return -1;  // already in this working memory
  }
  const TBusyScope busy(busy_);
  if (Matching()) {
    AddPendingFact(std::move(fact), true);
    return -1;
  }
  std::optional<std::int32_t> hash;  // computed once for the test and the filing
  if (t->IsFuzzy()) {
    const int existing = facts_->FindSlot(*fact);
    if (existing >= 0) {
      RetractSlot(existing);
    }
  } else if (!fact_duplication_ && facts_->FindSlot(*fact, &hash) >= 0) {
    return -1;
  }
  const std::int32_t id = NewFactId();
  fact->SetID(id);
  const int slot = facts_->Append(fact, hash);
  if (Watching(TConstructWatch::cwFact)) {
    PrintOut("", " ==> " + fact->GetToIDString() + "\n");
  }
  const std::size_t queued = pending_.size();
  if (std::exception_ptr failure = Match([&] { PassToken(TTokenAction::taAdd, slot); })) {
    UndoAssertion(slot);
    pending_.resize(queued);  // what the failed move asked for goes with it
    std::rethrow_exception(failure);
  }
  std::exception_ptr later;
  try {
    ProcessPendingFacts();
  } catch (...) {
    later = std::current_exception();  // after the fact's own event
  }
  if (OnAssertion) {
    OnAssertion(*this, *fact);
  }
  if (later) {
    std::rethrow_exception(later);
  }
  return id;
}

std::int32_t TInferenceEngine::Assert(std::string_view text) {
  Ref<IFact> fact = ParseFact(text);
  context_->Resolve(*fact);
  return Assert(std::move(fact));
}

void TInferenceEngine::RetractFact(int index) { RetractSlot(facts_->SlotOf(index)); }

void TInferenceEngine::RetractSlot(int slot) {
  const TBusyScope busy(busy_);
  Ref<IFact> fact(&facts_->AtSlot(slot));
  if (Matching()) {
    AddPendingFact(std::move(fact), false);
    return;
  }
  if (OnRetraction) {
    OnRetraction(*this, *fact);
  }
  // A failure of the code the withdrawal ran is raised once the fact is out.
  const std::exception_ptr failure = Match([&] { PassToken(TTokenAction::taRemove, slot); });
  if (Watching(TConstructWatch::cwFact)) {
    PrintOut("", " <== " + fact->GetToIDString() + "\n");
  }
  facts_->RemoveId(fact->GetID());
  if (failure) {
    try {
      ProcessPendingFacts();
    } catch (...) {
      // The withdrawal's failure is the one to report.
    }
    std::rethrow_exception(failure);
  }
  ProcessPendingFacts();
}

void TInferenceEngine::RetractFact(const IFact& fact) {
  const int slot = fact.GetID() >= 0 ? facts_->SlotOfId(fact.GetID()) : -1;
  if (slot >= 0) {
    RetractSlot(slot);
  }
}

void TInferenceEngine::Retract(std::int32_t id) {
  const int slot = facts_->SlotOfId(id);
  if (slot >= 0) {
    RetractSlot(slot);
  }
}

void TInferenceEngine::Retract(const IFact& fact) {
  const int slot = facts_->FindSlot(fact);
  if (slot >= 0) {
    RetractSlot(slot);
  }
}

void TInferenceEngine::Retract(std::string_view text) {
  Ref<IFact> fact = ParseFact(text);
  context_->Resolve(*fact);
  Retract(*fact);
}

void TInferenceEngine::RetractFacts() {
  if (!destroying_) {
    CheckNotMatching("retract every fact");
  }
  if (std::exception_ptr failure = Match([&] { rete_->ProcessToken(TIEToken::Clear()); })) {
    std::rethrow_exception(failure);
  }
  if (OnClearFacts) {
    OnClearFacts(*this);
  }
}

void TInferenceEngine::BeginFactModify(IFact& fact) {
  CheckNotMatching("modify a fact in place");
  modifying_ = true;
  RetractFact(fact);
}

std::int32_t TInferenceEngine::EndFactModify(Ref<IFact> fact) {
  std::int32_t id = -1;
  try {
    id = Assert(std::move(fact));
  } catch (...) {
    modifying_ = false;
    throw;
  }
  modifying_ = false;
  return id;
}

void TInferenceEngine::Retire(std::unique_ptr<TComponent> component) {
  if (firing_ != nullptr && component) {
    retired_.push_back(std::move(component));
  }
}

void TInferenceEngine::AddPendingFact(Ref<IFact> fact, bool is_assertion) {
  pending_.push_back({std::move(fact), is_assertion});
}

// One queue for both kinds, taken in the order the changes were asked for: a
// modification queued as the retraction of the old fact and the assertion
// of the new one must not meet the old fact still there.
void TInferenceEngine::ProcessPendingFacts() {
  if (Matching()) {
    return;  // the move under way drains the queue when it has finished
  }
  std::exception_ptr first;
  while (!pending_.empty()) {
    TPendingFact next = std::move(pending_.front());
    pending_.pop_front();
    try {
      if (next.assertion) {
        Assert(std::move(next.fact));
      } else {
        RetractPending(*next.fact);
      }
    } catch (...) {
      if (!first) {
        first = std::current_exception();
      }
    }
  }
  if (first) {
    std::rethrow_exception(first);
  }
}

void TInferenceEngine::RetractPending(const IFact& fact) {
  const int slot = fact.GetID() >= 0 ? facts_->SlotOfId(fact.GetID()) : -1;
  if (slot >= 0 && &facts_->AtSlot(slot) == &fact) {
    RetractSlot(slot);
  } else {
    Retract(fact);
  }
}

// --- clear and reset ------------------------------------------------------------------------

void TInferenceEngine::Clear() {
  if (!destroying_) {
    CheckNotMatching("clear");
    if (running_ > 0) {
      RaiseIE(SRunInProgress, "clear");
    }
    if (resetting_ > 0) {
      RaiseIE(SResetInProgress, "clear");
    }
  }
  const TBusyScope busy(busy_);
  halted_ = false;
  next_fact_id_ = 0;
  next_rule_id_ = 0;
  agenda_->Clear();
  rete_->Clear();
  rules_->Clear();
  fact_templates_->Clear();
  global_variables_->Clear();
  null_fact_ = nullptr;
  for (TFactSet* fact_set : std::vector<TFactSet*>(fact_sets_)) {
    fact_set->SetEngine(nullptr);
  }
  fact_sets_.clear();
  facts_->Clear();
  pending_.clear();
  // Interpreted functions go; package functions stay.
  std::vector<std::string> interpreted;
  for (const auto& [name, f] : user_functions_) {
    if (f->IsInterpreted()) {
      interpreted.push_back(name);
    }
  }
  for (const std::string& name : interpreted) {
    RemoveUserFunctionByName(name);
  }
  initial_fact_pattern_.reset();
  engine_variables_->Clear();
  io_streams_->Clear();
  if (!destroying_) {
    CreateInternalConstructs();
    if (OnClear) {
      OnClear(*this);
    }
  }
}

void TInferenceEngine::Reset() {
  CheckNotMatching("reset");
  const TNestingGuard nesting(TNesting::nReset);
  nesting.Check();
  const TBusyScope busy(busy_);
  const TBusyScope resetting(resetting_);
  facts_->Clear();
  next_fact_id_ = 0;
  for (int i = 0; i < rules_->Count(); ++i) {
    rules_->At(i).Reset();
  }
  AssertInitialFact();
  if (reset_globals_) {
    for (int i = 0; i < global_variables_->Count(); ++i) {
      const auto& [name, value] = global_variables_->At(i);
      ResetGlobalVariable(name, *value);
    }
  }
  for (TFactSet* fact_set : std::vector<TFactSet*>(fact_sets_)) {
    fact_set->Reset();
  }
  if (OnReset) {
    OnReset(*this);
  }
}

bool TInferenceEngine::IsGlobalVariable(std::string_view name) const {
  return global_variables_->Get(name) != nullptr || context_->FindGlobalBinding(name) != nullptr;
}

void TInferenceEngine::ResetGlobalVariable(const std::string& name, const IIEValue& value) {
  Ref<IIEValue> v;
  if (value.DType() == TIEType::dtFunCall) {
    const TNestingGuard nesting(TNesting::nGlobal);
    nesting.Check();
    std::unique_ptr<TIEContext> child = context_->Push();
    v = value.AsFunCall()->Execute(*child);
  } else {
    v = value.Clone();
  }
  context_->AddGlobalBinding(name, std::move(v));
}

// --- the run cycle ----------------------------------------------------------------------------

void TInferenceEngine::Lock() { lock_.lock(); }
void TInferenceEngine::Unlock() { lock_.unlock(); }

void TInferenceEngine::BeginInference() {
  if (OnStartInference) {
    OnStartInference(*this);
  }
  start_time_ = MilliSeconds();
  rules_fired_ = 0;
  max_facts_ = facts_->Count();
  facts_sum_ = 0;
  max_activations_ = agenda_->Count();
  activations_sum_ = 0;
  halted_ = false;
}

void TInferenceEngine::EndInference() {
  if (watch_.Contains(TConstructWatch::cwStatistics)) {
    run_time_ = (MilliSeconds() - start_time_) / 1000.0;
    double facts_mean = 0;
    double activations_mean = 0;
    if (rules_fired_ > 0) {
      facts_mean = facts_sum_ / rules_fired_;
      activations_mean = activations_sum_ / rules_fired_;
    }
    if (rules_fired_ >= 1 && OnPrintOut) {
      PrintOut("", std::to_string(rules_fired_) + " rules fired.     Run time is " +
                       FormatFloat(run_time_) + " seconds\n");
      if (run_time_ == 0) {
        PrintOut("", std::to_string(rules_fired_) + " rules per second\n");
      } else {
        PrintOut("", FormatFloat(rules_fired_ / run_time_) + " rules per second\n");
      }
      PrintOut("", FormatFloat(facts_mean) + " mean number of facts (" +
                       std::to_string(max_facts_) + " maximum)\n");
      PrintOut("", FormatFloat(activations_mean) + " mean number of activations (" +
                       std::to_string(max_activations_) + " maximum)\n");
    }
  }
  if (OnEndInference) {
    OnEndInference(*this, rules_fired_);
  }
}

int TInferenceEngine::Run(int max_rules) {
  {
    // Under the lock: a host thread asserting under it is matching meanwhile.
    std::lock_guard<std::recursive_mutex> guard(lock_);
    CheckNotMatching("run");
    if (running_ > 0) {
      RaiseIE(SRunInProgress, "run");
    }
  }
  const TBusyScope busy(busy_);
  const TBusyScope running(running_);
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    BeginInference();
  }
  // The lock is held for each firing (and its loop test), so a host thread
  // that takes it interleaves only between firings.
  while (true) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (agenda_->Count() == 0 || halted_ || rules_fired_ >= max_rules) {
      break;
    }
    budget_.ChargeRuleFiring();
    FireActivation();
    if (salience_evaluation_ == TSalience::sEveryTime) {
      ReorderAgenda();
    }
#if defined(ZEPHRO_DEBUG_CHECKS)
    CheckAgenda();
#endif
  }
  std::lock_guard<std::recursive_mutex> guard(lock_);
  const int fired = rules_fired_;
  EndInference();
  return fired;
}

void TInferenceEngine::FireActivation() {
  TActivation* activation = &agenda_->Activations(0);
  agenda_->PrefetchAfter(*activation);
  firing_ = activation;
  // Whatever happens, the firing activation is freed once it has run.
  struct Finally {
    TInferenceEngine& engine;
    ~Finally() {
      TActivation* a = std::exchange(engine.firing_, nullptr);
      if (a == nullptr) {
        return;
      }
      if (engine.agenda_->IndexOfData(*a) >= 0) {
        engine.agenda_->Extract(*a).reset();
      } else {
        delete a;  // extracted from the agenda while firing: this frame owns it
      }
      engine.retired_.clear();
    }
  } finally{*this};
  if (Watching(TConstructWatch::cwRule)) {
    PrintOut("", "FIRE " + std::to_string(rules_fired_) + " " + activation->Rule().RuleName() +
                     " " + activation->Token().GetToFactsString() + "\n");
  }
  try {
    activation->Fire();
  } catch (EBaseException& error) {
    // Whoever reports the failure can say which rule it came from.
    if (error.RuleName().empty()) {
      error.SetRuleName(activation->Rule().RuleName());
    }
    throw;
  }
  if (watch_.Contains(TConstructWatch::cwStatistics)) {
    facts_sum_ += facts_->Count();
    max_facts_ = std::max(max_facts_, facts_->Count());
    activations_sum_ += agenda_->Count();
    max_activations_ = std::max(max_activations_, agenda_->Count());
  }
  ++rules_fired_;
}

void TInferenceEngine::ReorderAgenda() { SetAgenda(agenda_->TakeAll()); }

void TInferenceEngine::SetAgenda(std::vector<std::unique_ptr<TActivation>> activations) {
  // Each activation is added again, in its current order, so that its
  // salience is evaluated anew and it is placed under the current strategy.
  // A salience that fails to evaluate is reported once every activation is
  // back: those it concerns keep the salience they had.
  std::exception_ptr failure;
  for (auto& a : activations) {
    try {
      AddActivation(std::move(a));
    } catch (...) {
      if (!failure) {
        failure = std::current_exception();
      }
    }
    if (a) {
      try {
        agenda_->Add(std::move(a));
      } catch (...) {
        // Out of memory: the activation stays with its rule's node rather
        // than be freed under it.
        (void)a.release();
      }
    }
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

void TInferenceEngine::SetStrategy(TSearchStrategy strategy) {
  if (strategy == strategy_) {
    return;
  }
  std::vector<std::unique_ptr<TActivation>> current = agenda_->TakeAll();
  strategy_ = strategy;
  SetAgenda(std::move(current));
}

// --- the agenda side ----------------------------------------------------------------------------

int TInferenceEngine::SearchSalience(std::int32_t salience) const {
  const int n = agenda_->Count();
  if (n == 0) {
    return -1;
  }
  auto sal = [&](int i) { return agenda_->SalienceAt(i); };
  switch (strategy_) {
    case TSearchStrategy::ssDepthFirst:
      if (salience >= sal(0)) {
        return 0;
      }
      if (salience < sal(n - 1)) {
        return -1;
      }
      break;
    case TSearchStrategy::ssBreadthFirst:
      if (salience <= sal(n - 1)) {
        return -1;
      }
      if (salience > sal(0)) {
        return 0;
      }
      break;
  }
  int lo = 0;
  int hi = n - 1;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    const std::int32_t s = sal(mid);
    if (salience > s) {
      hi = mid - 1;
    } else if (salience < s) {
      lo = mid + 1;
    } else {
      return mid;
    }
  }
  return hi + 1;
}

void TInferenceEngine::AddActivation(std::unique_ptr<TActivation>&& activation) {
  TActivation& a = *activation;
  a.Rule().EvaluateSalience();
  const int index = agenda_->Add(std::move(activation));
#if defined(ZEPHRO_DEBUG_CHECKS)
  CheckPlaced(a, index);
  CheckAgenda();
#endif
  if (Watching(TConstructWatch::cwActivation)) {
    PrintOut("", "==> Activation: " + a.ToString() + "\n");
  }
  if (OnAddActivation) {
    OnAddActivation(*this, index, a);
  }
}

void TInferenceEngine::RemoveActivation(int index) {
  TActivation& a = agenda_->Activations(index);
  // The activation leaves the agenda even when the host's handler fails.
  std::exception_ptr failure;
  if (OnRemoveActivation) {
    try {
      OnRemoveActivation(*this, index, a);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (Watching(TConstructWatch::cwActivation)) {
    PrintOut("", "<== Activation: " + a.Rule().RuleName() + " : " +
                     a.Token().GetToFactsString() + "\n");
  }
  if (&a == firing_) {
    (void)agenda_->Extract(a).release();  // FireActivation frees it
  } else {
    agenda_->Delete(index);
  }
#if defined(ZEPHRO_DEBUG_CHECKS)
  CheckAgenda();
#endif
  if (failure) {
    std::rethrow_exception(failure);
  }
}

int TInferenceEngine::RemoveActivation(TActivation& activation) {
  const int index = agenda_->IndexOfData(activation);
  if (index < 0) {
    return index;
  }
  RemoveActivation(index);
  return index;
}

void TInferenceEngine::RuleFired(TActivation& activation) {
  if (OnRuleFired) {
    OnRuleFired(*this, activation.Rule());
  }
  RemoveActivation(activation);
}

// --- invariant checks -------------------------------------------------------------------------------

void TInferenceEngine::CheckAfterMove() {
  // Mid-move, tokens are still on their way through the network.
  if (!Matching() && move_checks_.Due()) {
    move_checks_.Spent(rete_->CheckInvariants() + facts_->CheckInvariants());
  }
}

void TInferenceEngine::CheckAgenda() {
  if (agenda_checks_.Due()) {
    agenda_checks_.Spent(agenda_->CheckInvariants());
  }
}

void TInferenceEngine::CheckPlaced(const TActivation& activation, int index) const {
  ZEPHRO_CHECK(index >= 0 && index < agenda_->Count() && agenda_->IndexOfData(activation) == index,
               "agenda: a new activation is not found at the index it was placed at");
}

// --- output and input -------------------------------------------------------------------------------

namespace {

// A capture file: an output file that knows its name, for the error when it
// cannot be written.
class TCaptureFile final : public std::ofstream {
 public:
  explicit TCaptureFile(const std::string& name)
      : std::ofstream(name, std::ios::out | std::ios::trunc), name_(name) {}
  const std::string& Name() const noexcept { return name_; }

 private:
  std::string name_;
};

// Flushes `stream` and raises the platform's error when it has failed (the
// disk is full, the file too large): the output would be lost unseen.
void CheckCaptureWritten(std::ostream& stream) {
  errno = 0;
  stream.flush();
  if (!stream.fail()) {
    return;
  }
  const int error = errno;
  const auto* file = dynamic_cast<const TCaptureFile*>(&stream);
  RaisePlatformError("Cannot write to %s: %s",
                     file != nullptr ? file->Name().c_str() : "the capture stream",
                     error != 0 ? std::strerror(error) : "write error");
}

}  // namespace

void TInferenceEngine::PrintOut(std::string_view logical_name, std::string_view text) {
  const TBusyScope busy(busy_);
  budget_.ChargeOutput(static_cast<std::int64_t>(text.size()));
  if (logical_name == "t" || logical_name.empty()) {
    if (capture_) {
      capture_->write(text.data(), static_cast<std::streamsize>(text.size()));
      // Each write reaches the file at once, so that a failure is reported by
      // the output that met it; the capture ends there, and later output
      // goes where it went before.
      try {
        CheckCaptureWritten(*capture_);
      } catch (const EBaseException&) {
        capture_.reset();
        throw;
      }
    } else if (OnPrintOut) {
      OnPrintOut(*this, logical_name, text);
    }
    return;
  }
  if (TLogicalStream* stream = io_streams_->Get(logical_name)) {
    stream->Write(text);
    return;
  }
  if (OnPrintOut) {
    OnPrintOut(*this, logical_name, text);
    return;
  }
  RaiseIE(SNoSuchFunction, "printout");
}

std::string TInferenceEngine::ReadLine(std::string_view logical_name) {
  const TBusyScope busy(busy_);
  if (logical_name != "t" && !logical_name.empty()) {
    if (TLogicalStream* stream = io_streams_->Get(logical_name)) {
      std::string line;
      stream->ReadLine(line);
      return line;
    }
  }
  if (batch_ != nullptr) {
    std::string line;
    std::getline(*batch_, line);
    PrintOut("", line + "\n");
    return line;
  }
  if (OnReadLine) {
    std::string text;
    OnReadLine(*this, logical_name, text);
    return text;
  }
  RaiseIE(SNoReadFunctionWarning, "readline");
}

Ref<IStreamToken> TInferenceEngine::ReadToken(std::string_view logical_name) {
  const TBusyScope busy(busy_);
  if (OnReadToken && (logical_name == "t" || logical_name.empty()) && batch_ == nullptr) {
    Ref<IStreamToken> token;
    OnReadToken(*this, logical_name, token);
    return token;
  }
  if (ReadTokenHook) {
    return ReadTokenHook(*this, logical_name);
  }
  RaiseIE(SNoReadFunctionWarning, "read");
}

bool TInferenceEngine::StartCapture(std::unique_ptr<std::ostream> stream) {
  capture_ = std::move(stream);
  return true;
}

bool TInferenceEngine::StartCapture(const std::string& file_name) {
  CheckFileName(file_name);
  auto file = std::make_unique<TCaptureFile>(file_name);
  if (!*file) {
    RaiseIE(SBadArgument, ("cannot create " + file_name).c_str());
  }
  return StartCapture(std::move(file));
}

bool TInferenceEngine::StopCapture() {
  // The capture ends whatever happens; what could not be written is reported.
  std::unique_ptr<std::ostream> capture = std::move(capture_);
  if (capture) {
    CheckCaptureWritten(*capture);
  }
  return true;
}

bool TInferenceEngine::Batch(std::istream& stream) {
  const TNestingGuard nesting(TNesting::nBatch);
  nesting.Check();
  const TBusyScope busy(busy_);
  std::istream* previous = std::exchange(batch_, &stream);
  try {
    std::string line;
    while (std::getline(*batch_, line)) {
      // A line of a batch counts as the batch's, not as a load; the parser
      // is held in case the line gives the engine another.
      const Ref<IEngineParser> parser = parser_;
      parser->ParseText(line, true);
    }
  } catch (...) {
    batch_ = previous;
    throw;
  }
  batch_ = previous;
  return true;
}

bool TInferenceEngine::Batch(const std::string& file_name) {
  CheckFileName(file_name);
  std::ifstream file(file_name);
  if (!file) {
    RaiseIE(SBadArgument, ("cannot open " + file_name).c_str());
  }
  // Each line is parsed on its own, so an error knows only "line 1" of it:
  // the message names the file and the line of the file instead.
  int line = 0;
  const std::streampos start = file.tellg();
  try {
    return Batch(file);
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& error) {
    file.clear();
    const std::streampos reached = file.tellg();
    file.seekg(start);
    for (std::string text; file.tellg() < reached && std::getline(file, text);) {
      ++line;
    }
    RethrowAt(file_name, std::max(line, 1), error);
  }
}

// --- the language and printing -----------------------------------------------------------------------

void TInferenceEngine::SetParser(Ref<IEngineParser> parser) {
  if (!parser) {
    RaiseIEPlain(SNoParser);
  }
  parser_ = std::move(parser);
}

void TInferenceEngine::Parse(std::string_view text, bool execute) {
  const TNestingGuard nesting(TNesting::nLoad);
  nesting.Check();
  const TBusyScope busy(busy_);
  const Ref<IEngineParser> parser = parser_;  // lives through a parse that replaces it
  parser->ParseText(text, execute);
}

Ref<IFact> TInferenceEngine::ParseFact(std::string_view text) {
  const Ref<IEngineParser> parser = parser_;
  return parser->ParseFactText(text);
}

TRule* TInferenceEngine::ParseRule(std::string_view text) {
  const Ref<IEngineParser> parser = parser_;
  std::unique_ptr<TRule> rule = parser->ParseRuleText(text);
  auto& owned = static_cast<TRule&>(InsertComponent(std::move(rule)));
  return AddRule(owned);
}

std::string TInferenceEngine::PrintFact(const IFact& fact) const { return PrettyPrintFact(fact); }

std::string TInferenceEngine::PrintTemplate(const IFactTemplate& fact_template) const {
  return PrettyPrintTemplate(fact_template);
}

std::string TInferenceEngine::PrintSlot(const IFactSlot& slot) const {
  return PrettyPrintSlot(slot);
}

std::string TInferenceEngine::PrettyPrint(const IFunCall& call) const {
  return PrettyPrintFunCall(call);
}

std::string TInferenceEngine::PrettyPrint(const TRule& rule) const { return PrettyPrintRule(rule); }

Ref<IIEValue> TInferenceEngine::ParseFuzzyValue(const IFactSlot& /*slot*/, std::string_view text) {
  RaiseIE(SInvalidFuzzyExpression, std::string(text).c_str());
}

void TInferenceEngine::PrintWatch(std::string_view text) { PrintOut("", text); }

}  // namespace zephro

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

void TInferenceEngine::RemoveDependencies(const IFactTemplate& fact_template) {
  std::erase_if(pending_,
                [&](const TPendingFact& p) { return p.fact->Template() == &fact_template; });
  std::vector<std::int32_t> ids;
  facts_->ForEach([&](IFact& f) {
    if (f.Template() == &fact_template) {
      ids.push_back(f.GetID());
    }
  });
  for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
    Retract(*it);
  }
  for (TFactSet* fact_set : fact_sets_) {
    fact_set->RebuildFactsOf(fact_template, [](const std::string&) { return Ref<IFact>(); });
  }
  std::vector<std::string> doomed;
  for (int i = 0; i < rules_->Count(); ++i) {
    if (DependsOn(rules_->At(i), fact_template)) {
      doomed.push_back(rules_->At(i).RuleName());
    }
  }
  for (const std::string& name : doomed) {
    rules_->Remove(name);
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
  std::erase_if(pending_,
                [&](const TPendingFact& p) { return p.fact->Template() == old_template.get(); });
  // Facts and rules are rebuilt from their text on the new definition.
  std::vector<std::string> fact_texts;
  std::vector<std::int32_t> ids;
  facts_->ForEach([&](IFact& f) {
    if (f.Template() == old_template.get()) {
      ids.push_back(f.GetID());
      fact_texts.push_back(f.ToString());
    }
  });
  for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
    Retract(*it);
  }
  std::vector<std::string> rule_texts;
  std::vector<std::string> rule_names;
  for (int i = 0; i < rules_->Count(); ++i) {
    if (DependsOn(rules_->At(i), *old_template)) {
      rule_texts.push_back(rules_->At(i).ToString());
      rule_names.push_back(rules_->At(i).RuleName());
    }
  }
  for (const std::string& name : rule_names) {
    rules_->Remove(name);
  }
  const TErrorHandling handling = parser_error_handling_;
  parser_error_handling_ = TErrorHandling::ehRaiseImmediate;
  for (auto it = fact_texts.rbegin(); it != fact_texts.rend(); ++it) {
    try {
      Assert(ParseFact(*it));
    } catch (const EBaseException&) {
      // A fact that no longer fits the new definition is dropped.
    }
  }
  // A fact set's facts are written on the new definition too, so that what
  // a reset asserts is what the set prints; one that no longer fits leaves
  // the set.
  for (TFactSet* fact_set : fact_sets_) {
    fact_set->RebuildFactsOf(*old_template, [this](const std::string& text) {
      try {
        return ParseFact(text);
      } catch (const EBaseException&) {
        return Ref<IFact>();
      }
    });
  }
  for (const std::string& text : rule_texts) {
    try {
      Parse(text, true);
    } catch (const EBaseException&) {
      // Likewise a rule that no longer compiles.
    }
  }
  parser_error_handling_ = handling;
}

bool TInferenceEngine::FilesRule(std::string_view name, const TRule& rule) const {
  return rules_->Get(name) == &rule;
}

void TInferenceEngine::ForgetRule(std::string_view name, TRule& rule) {
  rules_->Remove(name, rule);
}

void TInferenceEngine::VisitFactMatches(
    const std::function<void(IFact& fact, Ref<IReteToken>& match)>& visit) {
  facts_->ForEachMatch(visit);
}

}  // namespace zephro
