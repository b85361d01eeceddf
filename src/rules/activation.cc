// Activations and the agenda. The agenda keeps its entries in an indexed
// sequence (a counted B+ tree): "entry i" means exactly what it would in a
// plain list, while insertion at a position, access by position and removal
// through the activation's own handle (the leaf it sits in) are logarithmic.

#include "zephro/rules/activation.h"

#include <bit>

#include "platform/block_recycler.h"
#include "platform/debug_checks.h"
#include "rules/indexed_sequence.h"
#include "rules/rete_nodes.h"
#include "zephro/rules/rule.h"
#include "zephro/rules/rule_environment.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"

namespace zephro {

// An activation on the agenda remembers the leaf that holds it.
struct TAgendaPlace {
  void operator()(TActivation* a, void* leaf) const noexcept { a->agenda_entry_ = leaf; }
};

using TAgendaSequence = TIndexedSequence<TActivation*, TAgendaPlace>;
using TAgendaLeaf = TAgendaSequence::Leaf;

TActivation::TActivation(TRule& rule, Ref<IReteToken> token, TPatternMatchTerminalNode* node,
                         float strength)
    : rule_(&rule), token_(std::move(token)), node_(node), strength_(0) {
  SetStrength(strength);
}

void* TActivation::operator new(std::size_t size) {
  return TBlockRecycler<TActivation, sizeof(TActivation)>::Allocate(size);
}

void TActivation::operator delete(void* block, std::size_t size) noexcept {
  TBlockRecycler<TActivation, sizeof(TActivation)>::Free(block, size);
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
  if (index == indexed_at_ && indexed_changes_ == changes_ && indexed_ != nullptr) {
    return const_cast<TActivation&>(*indexed_);
  }
  return *entries_->At(index);
}

TActivation& TActivationAgenda::First() const noexcept { return *entries_->At(0); }

TActivation& TActivationAgenda::Last() const noexcept { return *entries_->At(Count() - 1); }

void TActivationAgenda::PrefetchAfter(const TActivation& activation) const noexcept {
  const auto* leaf = static_cast<const TAgendaLeaf*>(activation.agenda_entry_);
  TActivation* const* next =
      leaf != nullptr ? TAgendaSequence::Next(leaf, const_cast<TActivation*>(&activation)) : nullptr;
  if (next == nullptr) {
    return;
  }
  __builtin_prefetch((*next)->token_.get());
  if (TActivation* const* after =
          TAgendaSequence::Next(static_cast<const TAgendaLeaf*>((*next)->agenda_entry_), *next)) {
    __builtin_prefetch(*after);
  }
}

int TActivationAgenda::FindInsertion(const TActivation& /*activation*/) const { return -1; }

int TActivationAgenda::Add(std::unique_ptr<TActivation>&& activation) {
  int index = FindInsertion(*activation);
  if (index < 0 || index > Count()) {
    index = Count();
  }
  entries_->Insert(index, activation.get());
  ++changes_;
  (void)activation.release();  // the agenda owns it from here on
  return index;
}

std::unique_ptr<TActivation> TActivationAgenda::Extract(TActivation& activation) {
  auto* leaf = static_cast<TAgendaLeaf*>(activation.agenda_entry_);
  activation.agenda_entry_ = nullptr;
  ++changes_;
  return std::unique_ptr<TActivation>(entries_->Erase(leaf, &activation));
}

std::unique_ptr<TActivation> TActivationAgenda::Extract(int index) {
  return Extract(Activations(index));
}

void TActivationAgenda::Delete(int index) { Extract(index).reset(); }

int TActivationAgenda::IndexOfData(const TActivation& activation) const {
  if (!Listed(activation)) {
    return -1;
  }
  const auto* leaf = static_cast<const TAgendaLeaf*>(activation.agenda_entry_);
  const int index = entries_->IndexOf(leaf, const_cast<TActivation*>(&activation));
  indexed_ = &activation;
  indexed_at_ = index;
  indexed_changes_ = changes_;
  return index;
}

void TActivationAgenda::Clear() {
  entries_->Clear([](TActivation*& a) {
    a->agenda_entry_ = nullptr;
    delete a;  // the agenda owns its activations
  });
  ++changes_;
}

std::vector<std::unique_ptr<TActivation>> TActivationAgenda::TakeAll() {
  std::vector<std::unique_ptr<TActivation>> all;
  all.reserve(static_cast<std::size_t>(Count()));
  entries_->ForEach([&](TActivation* a) {
    a->agenda_entry_ = nullptr;
    all.emplace_back(a);
  });
  entries_->Clear();
  ++changes_;
  return all;
}

void TActivationAgenda::ForEachActivation(
    const std::function<void(const TActivation&)>& f) const {
  entries_->ForEach([&](const TActivation* a) { f(*a); });
}

std::size_t TActivationAgenda::CheckInvariants() const {
  const std::size_t count = entries_->CheckInvariants(
      [&](TActivation* a, const TAgendaLeaf* leaf, int index) {
        ZEPHRO_CHECK(a != nullptr, "agenda: an entry holds no activation");
        ZEPHRO_CHECK(a->agenda_entry_ == leaf,
                     "agenda: an activation's handle is not the leaf holding it");
        ZEPHRO_CHECK(entries_->IndexOf(leaf, a) == index,
                     "agenda: an activation is not found at its index");
        ZEPHRO_CHECK(entries_->At(index) == a,
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
