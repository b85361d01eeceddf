// Working memory: facts asserted, retracted and modified, and their moves
// through the network (see "Matching" in inference_engine.h).

#include <algorithm>
#include <exception>
#include <optional>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/functions/context.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/rete_network.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

#include "platform/debug_checks.h"
#include "rules/token.h"

namespace zephro {

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

std::int32_t TInferenceEngine::Assert(Ref<IFact> fact, bool fuzzy_merge) {
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
    // A fuzzy fact is never a duplicate: it takes in the fact it equals.
    SettleFuzzySlots(*fact);
    if (firing_ != nullptr) {
      FuzzyCorrelation(*fact, firing_->Strength());
    }
    const int existing = facts_->FindSlot(*fact);
    if (existing >= 0) {
      if (fuzzy_merge) {
        FuzzyOperation(*fact, facts_->AtSlot(existing), false);
      } else {
        FuzzyInference(*fact, facts_->AtSlot(existing));
      }
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

void TInferenceEngine::QueueGoal(Ref<IFact> goal) {
  // Asserted once the move under way, or the rule being added, is done.
  AddPendingFact(std::move(goal), true);
}

std::int32_t TInferenceEngine::Assert(std::string_view text) {
  Ref<IFact> fact = ParseFact(text);
  context_->Resolve(*fact);
  return Assert(std::move(fact));
}

void TInferenceEngine::RetractFact(int index) {
  RetractSlot(facts_->SlotOf(index));
}

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

namespace {

// The `index`th fact of the queue that is an assertion (or a retraction).
template <class Queue>
IFact& NthPending(const Queue& pending, bool assertion, int index) {
  int seen = 0;
  for (const auto& p : pending) {
    if (p.assertion == assertion && seen++ == index) {
      return *p.fact;
    }
  }
  CheckCollectionIndex(index, seen);
  return *pending.front().fact;  // not reached: the check raised
}

}  // namespace

int TInferenceEngine::PendingAssertionCount() const noexcept {
  return static_cast<int>(
      std::count_if(pending_.begin(), pending_.end(), [](const auto& p) { return p.assertion; }));
}

int TInferenceEngine::PendingRetractionCount() const noexcept {
  return PendingFactCount() - PendingAssertionCount();
}

IFact& TInferenceEngine::GetFactPendingAssertions(int index) const {
  return NthPending(pending_, true, index);
}

IFact& TInferenceEngine::GetFactPendingRetractions(int index) const {
  return NthPending(pending_, false, index);
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

void TInferenceEngine::VisitFactMatches(
    const std::function<void(IFact& fact, Ref<IReteToken>& match)>& visit) {
  facts_->ForEachMatch(visit);
}

void TInferenceEngine::ForEachFact(const std::function<void(IFact& fact)>& visit) const {
  facts_->ForEach(visit);
}

}  // namespace zephro
