// The run cycle: clear, reset, firing activations one at a time, and the
// engine's side of the agenda.

#include "zephro/engine/inference_engine.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <typeinfo>

#include "platform/debug_checks.h"
#include "zephro/engine/collections.h"
#include "zephro/engine/fact_set.h"
#include "zephro/engine/io_streams.h"
#include "zephro/functions/context.h"
#include "zephro/platform/scope_exit.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/pattern.h"
#include "zephro/rules/rete_network.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/nesting.h"
#include "zephro/values/value.h"

namespace zephro {

namespace {

double MilliSeconds() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

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
  defined_types_->Clear();
  global_variables_->Clear();
  null_fact_ = nullptr;
  fact_sets_->Clear();
  facts_->Clear();
  pending_.clear();
  // Interpreted functions go; package functions stay.
  std::vector<std::string> interpreted;
  for (const auto& [name, f] : *user_functions_) {
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
  for (TFactSet* fact_set : std::vector<TFactSet*>(fact_sets_->begin(), fact_sets_->end())) {
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
  // Checked and counted under the lock: a host thread asserting under it is
  // matching meanwhile, and a second Run must see this one.
  std::unique_lock<std::recursive_mutex> starting(lock_);
  CheckNotMatching("run");
  if (running_ > 0) {
    RaiseIE(SRunInProgress, "run");
  }
  const TBusyScope busy(busy_);
  const TBusyScope running(running_);
  BeginInference();
  starting.unlock();
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
  // Whatever happens, the firing activation is freed once it has run: from
  // the agenda, or from fired_ when it left the agenda while it fired.
  const TScopeExit done([this] {
    TActivation* a = std::exchange(firing_, nullptr);
    if (a != nullptr && a != fired_.get() && agenda_->IndexOfData(*a) >= 0) {
      agenda_->Extract(*a).reset();
    }
    fired_.reset();
    retired_.clear();
  });
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

TActivation& TInferenceEngine::GetActivation(int index) const {
  return agenda_->Activations(index);
}

int TInferenceEngine::GetAgendaCount() const noexcept { return agenda_->Count(); }

// --- the agenda side ----------------------------------------------------------------------------

int TInferenceEngine::SearchSalience(std::int32_t salience) const {
  const int n = agenda_->Count();
  if (n == 0) {
    return -1;
  }
  auto sal = [&](int i) { return agenda_->SalienceAt(i); };
  // Most activations go to one end of the agenda.
  const std::int32_t first = agenda_->First().Rule().Salience();
  switch (strategy_) {
    case TSearchStrategy::ssDepthFirst:
      if (salience >= first) {
        return 0;
      }
      if (salience < agenda_->Last().Rule().Salience()) {
        return -1;
      }
      break;
    case TSearchStrategy::ssBreadthFirst:
      if (salience <= agenda_->Last().Rule().Salience()) {
        return -1;
      }
      if (salience > first) {
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
  TakeOffAgenda(a);
  if (failure) {
    std::rethrow_exception(failure);
  }
}

void TInferenceEngine::TakeOffAgenda(TActivation& a) {
  if (Watching(TConstructWatch::cwActivation)) {
    PrintOut("", "<== Activation: " + a.Rule().RuleName() + " : " +
                     a.Token().GetToFactsString() + "\n");
  }
  if (&a == firing_) {
    fired_ = agenda_->Extract(a);  // FireActivation frees it once it has run
  } else {
    agenda_->Extract(a).reset();
  }
#if defined(ZEPHRO_DEBUG_CHECKS)
  CheckAgenda();
#endif
}

int TInferenceEngine::RemoveActivation(TActivation& activation) {
  const int index = agenda_->IndexOfData(activation);
  if (index < 0) {
    return index;
  }
  RemoveActivation(index);
  return index;
}

void TInferenceEngine::WithdrawActivation(TActivation& activation) {
  // The index is seen by a host's handler, and by the RemoveActivation of an
  // engine derived from this one; else only the entry's place in its leaf
  // is needed, not its place in the whole list.
  if (OnRemoveActivation || typeid(*this) != typeid(TInferenceEngine)) {
    RemoveActivation(activation);
  } else if (TActivationAgenda::Listed(activation)) {
    TakeOffAgenda(activation);
  }
}

void TInferenceEngine::RuleFired(TActivation& activation) {
  if (OnRuleFired) {
    OnRuleFired(*this, activation.Rule());
  }
  WithdrawActivation(activation);
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

}  // namespace zephro
