// Activations and the agenda. The agenda keeps its entries in an indexed
// sequence (an implicit treap): "entry i" means exactly what it would in a
// plain list, while insertion at a position, access by position and removal
// through the activation's own handle are logarithmic.

#include "zephro/rules/activation.h"

#include <bit>

#include "platform/debug_checks.h"
#include "rules/indexed_sequence.h"
#include "rules/rete_nodes.h"
#include "zephro/rules/rule.h"
#include "zephro/rules/rule_environment.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"

namespace zephro {

using TAgendaSequence = TIndexedSequence<TActivation*>;

TActivation::TActivation(TRule& rule, Ref<IReteToken> token, TPatternMatchTerminalNode* node,
                         float strength)
    : rule_(&rule), token_(std::move(token)), node_(node), strength_(0) {
  SetStrength(strength);
}

void TActivation::SetStrength(float strength) noexcept {
  strength_ = strength < 0 ? 0.0f : (strength > 1 ? 1.0f : strength);
}

std::unique_ptr<TActivation> TActivation::Clone() const {
  return std::make_unique<TActivation>(*rule_, token_, node_, strength_);
}

void TActivation::Fire() {
  // An activation is used up when it fires, even when one of the rule's
  // actions raises: its node must forget it before the engine frees it.
  if (node_ != nullptr) {
    node_->PrefetchFiring(*this);
  }
  try {
    rule_->Fire(*token_);
  } catch (...) {
    if (node_ != nullptr) {
      node_->RuleFired(*this);
    }
    throw;
  }
  if (node_ != nullptr) {
    node_->RuleFired(*this);
  }
}

std::string TActivation::ToString() const {
  return std::to_string(rule_->Salience()) + " " + rule_->RuleName() + " : " +
         token_->GetToFactsString() + " (" + FormatFloat(strength_) + ")";
}

// --- TActivationAgenda ------------------------------------------------------------------

TActivationAgenda::TActivationAgenda() : entries_(std::make_unique<TAgendaSequence>()) {}

TActivationAgenda::~TActivationAgenda() { Clear(); }

int TActivationAgenda::Count() const noexcept { return entries_->Count(); }

TActivation& TActivationAgenda::Activations(int index) const {
  if (index < 0 || index >= Count()) {
    RaiseIE(SBadArgument, ("agenda index out of bounds (" + std::to_string(index) + ")").c_str());
  }
  return *entries_->At(index)->value;
}

void TActivationAgenda::PrefetchAfter(const TActivation& activation) const noexcept {
  const auto* node = static_cast<const TAgendaSequence::Node*>(activation.agenda_entry_);
  const TAgendaSequence::Node* next = node != nullptr ? TAgendaSequence::Next(node) : nullptr;
  if (next == nullptr) {
    return;
  }
  __builtin_prefetch(next->value->token_.get());
  if (const TAgendaSequence::Node* after = TAgendaSequence::Next(next)) {
    __builtin_prefetch(after->value);
  }
}

int TActivationAgenda::FindInsertion(const TActivation& /*activation*/) const { return -1; }

int TActivationAgenda::Add(std::unique_ptr<TActivation>&& activation) {
  int index = FindInsertion(*activation);
  if (index < 0 || index > Count()) {
    index = Count();
  }
  activation->agenda_entry_ = entries_->Insert(index, activation.get());
  (void)activation.release();  // the agenda owns it from here on
  return index;
}

std::unique_ptr<TActivation> TActivationAgenda::Extract(TActivation& activation) {
  auto* node = static_cast<TAgendaSequence::Node*>(activation.agenda_entry_);
  activation.agenda_entry_ = nullptr;
  return std::unique_ptr<TActivation>(entries_->Erase(node));
}

std::unique_ptr<TActivation> TActivationAgenda::Extract(int index) {
  return Extract(Activations(index));
}

void TActivationAgenda::Delete(int index) { Extract(index).reset(); }

int TActivationAgenda::IndexOfData(const TActivation& activation) const {
  const auto* node = static_cast<const TAgendaSequence::Node*>(activation.agenda_entry_);
  return node == nullptr ? -1 : entries_->IndexOf(node);
}

void TActivationAgenda::Clear() {
  entries_->Clear([](TActivation*& a) {
    a->agenda_entry_ = nullptr;
    delete a;  // the agenda owns its activations
  });
}

std::vector<std::unique_ptr<TActivation>> TActivationAgenda::TakeAll() {
  std::vector<std::unique_ptr<TActivation>> all;
  all.reserve(static_cast<std::size_t>(Count()));
  entries_->ForEach([&](TActivation* a) {
    a->agenda_entry_ = nullptr;
    all.emplace_back(a);
  });
  entries_->Clear();
  return all;
}

void TActivationAgenda::ForEachActivation(
    const std::function<void(const TActivation&)>& f) const {
  entries_->ForEach([&](const TActivation* a) { f(*a); });
}

std::size_t TActivationAgenda::CheckInvariants() const {
  const std::size_t count = entries_->CheckInvariants(
      [&](const TActivation* a, const TAgendaSequence::Node* node, int index) {
        ZEPHRO_CHECK(a != nullptr, "agenda: an entry holds no activation");
        ZEPHRO_CHECK(a->agenda_entry_ == node,
                     "agenda: an activation's handle is not the entry holding it");
        ZEPHRO_CHECK(entries_->IndexOf(node) == index,
                     "agenda: an activation is not found at its index");
        ZEPHRO_CHECK(entries_->At(index) == node,
                     "agenda: the entry at an activation's index holds another one");
      });
  // Each lookup walks a path of the tree.
  return count * (1 + static_cast<std::size_t>(std::bit_width(count)));
}

std::size_t TIEAgenda::CheckInvariants() const {
  const std::size_t work = TActivationAgenda::CheckInvariants();
  bool constant = true;
  ForEachActivation([&](const TActivation& a) {
    constant = constant && a.Rule().SalienceValue().DType() == TIEType::dtInteger;
  });
  if (constant) {
    const TActivation* before = nullptr;
    ForEachActivation([&](const TActivation& a) {
      ZEPHRO_CHECK(before == nullptr || before->Rule().Salience() >= a.Rule().Salience(),
                   "agenda: an activation of higher salience after one of lower salience");
      before = &a;
    });
  }
  return work + 2 * static_cast<std::size_t>(Count());
}

std::int32_t TIEAgenda::SalienceAt(int index) const {
  return Activations(index).Rule().Salience();
}

int TIEAgenda::FindInsertion(const TActivation& activation) const {
  if (Count() == 0 || engine_ == nullptr) {
    return -1;
  }
  return engine_->SearchSalience(activation.Rule().Salience());
}

}  // namespace zephro
