#include "zephro/rules/rule.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zephro/facts/fact.h"
#include "zephro/facts/fact_slot.h"
#include "zephro/platform/class_registry.h"
#include "zephro/rules/rule_environment.h"
#include "zephro/rules/rule_printer.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TRule);

void NotifyRulePatternChanged(TRule& rule, TIEPattern& /*pattern*/) {
  rule.Change();
}

namespace {

// The salience of a rule that declares none: one value for all of them (a
// rule's salience value is only replaced, never changed in place).
Ref<IIEValue> DefaultSalience() {
  static IIEValue* const zero = [] {
    Ref<IIEValue> v = TIEValue::Integer(0);
    v->MakeImmortal();
    return v.Detach();
  }();
  return Ref<IIEValue>(zero);
}

}  // namespace

TRule::TRule(TComponent* owner) : TComponent(owner), salience_value_(DefaultSalience()) {
  if (auto* engine = dynamic_cast<IRuleEnvironment*>(owner)) {
    engine_ = engine;
    engine_component_ = owner;
    rule_id_ = engine->NewRuleId();
    owner->FreeNotification(*this);
  }
  StoreRuleName("Rule_" + std::to_string(rule_id_));
}

TRule::~TRule() {
  if (engine_ != nullptr &&
      (engine_component_ == nullptr ||
       !engine_component_->ComponentState().Contains(TComponentStateFlag::csDestroying))) {
    engine_->ForgetRule(rule_name_, *this);
  }
}

void TRule::Notification(TComponent& component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && &component == engine_component_) {
    engine_ = nullptr;
    engine_component_ = nullptr;
    ForgetFiringContext();
  }
}

void TRule::ForgetFiringContext() noexcept {
  if (!firing_) {
    firing_context_.reset();
  }
}

void TRule::SetRuleName(std::string_view name) {
  if (name == rule_name_) {
    return;
  }
  CheckConstructName(name);
  const std::string old = rule_name_;
  if (engine_ != nullptr && engine_->FilesRule(old, *this)) {
    engine_->RenameRule(old, name);  // sets the name
    return;
  }
  StoreRuleName(std::string(name));
}

void TRule::StoreRuleName(std::string name) {
  rule_name_ = std::move(name);
  rule_name_value_ = nullptr;
}

const std::string& TRule::Comment() const noexcept {
  static const std::string none;
  return comment_ ? *comment_ : none;
}

void TRule::SetComment(std::string_view comment) {
  if (comment.empty()) {
    comment_.reset();
  } else {
    comment_ = std::make_unique<std::string>(comment);
  }
  Change();
}

void TRule::SetEngine(IRuleEnvironment* engine) {
  if (engine == engine_) {
    return;
  }
  if (engine_ != nullptr) {
    engine_->ForgetRule(rule_name_, *this);
    if (engine_component_ != nullptr) {
      RemoveFreeNotification(*engine_component_);
    }
  }
  engine_ = engine;
  engine_component_ = dynamic_cast<TComponent*>(engine);
  ForgetFiringContext();
  if (engine_ != nullptr) {
    rule_id_ = engine_->NewRuleId();
    if (engine_component_ != nullptr) {
      engine_component_->FreeNotification(*this);
    }
  }
}

void TRule::SetSalience(Ref<IIEValue> value) {
  salience_value_ = std::move(value);
  EvaluateSalience();
  Change();
}

void TRule::SetSalienceInteger(std::int32_t salience) {
  salience_ = salience;
  salience_value_ = TIEValue::Integer(salience);
}

std::int32_t TRule::EvaluateSalienceExpression() {
  const TIEType kind = salience_value_->DType();
  if (kind == TIEType::dtInteger) {
    salience_ = salience_value_->AsInteger();
    return salience_;
  }
  if (engine_ == nullptr) {
    return salience_;
  }
  std::unique_ptr<TIEContext> context = engine_->RootContext().Push();
  salience_ = salience_value_->Resolve(context.get())->AsInteger();
  return salience_;
}

void TRule::SetEnabled(bool enabled) {
  if (enabled != enabled_) {
    enabled_ = enabled;
    Change();
  }
}

void TRule::SetOneShot(bool one_shot) {
  if (one_shot != one_shot_) {
    one_shot_ = one_shot;
    Change();
  }
}

namespace {

// Rules with fewer bindings than this look a name up by a walk.
constexpr std::size_t kIndexedBindings = 16;

// Room for one more element in `v`, growing it geometrically, so that the
// push_back that follows cannot fail.
template <class T>
void ReserveOneMore(std::vector<T>& v) {
  if (v.size() == v.capacity()) {
    v.reserve(std::max<std::size_t>(4, v.size() * 2));
  }
}

}  // namespace

// The bindings of each name, in the order they were added: the first one by
// name, then a chain through `next`.
struct TRule::TBindingIndex {
  struct Chain {
    int first;
    int last;
  };
  std::unordered_map<std::string_view, Chain> names;  // views of the bindings' names
  std::vector<int> next;  // per binding, the next one of the same name, or -1

  // REQUIRES: `index` is the number of bindings added before. Changes
  // nothing when it fails.
  void Add(std::string_view name, int index) {
    ReserveOneMore(next);
    auto [it, added] = names.try_emplace(name, Chain{index, index});
    if (!added) {
      next[static_cast<std::size_t>(it->second.last)] = index;
      it->second.last = index;
    }
    next.push_back(-1);  // within the capacity: cannot fail
  }
  int First(std::string_view name) const noexcept {
    auto it = names.find(name);
    return it == names.end() ? -1 : it->second.first;
  }
};

int TRule::IndexOfBinding(std::string_view name) const noexcept {
  if (binding_index_) {
    return binding_index_->First(name);
  }
  for (std::size_t i = 0; i < bindings_.size(); ++i) {
    if (bindings_[i]->Name() == name) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

TBinding* TRule::GetBindingByName(std::string_view name) const noexcept {
  int i = IndexOfBinding(name);
  return i < 0 ? nullptr : bindings_[static_cast<std::size_t>(i)].get();
}

TBinding& TRule::AddBinding(std::string_view name, std::int32_t fact_index,
                            std::string_view slot_index, std::int32_t sub_index) {
  auto binding = std::make_unique<TBinding>(name, fact_index, slot_index, sub_index);
  // An equal binding has the same name.
  if (binding_index_) {
    for (int i = binding_index_->First(name); i >= 0;
         i = binding_index_->next[static_cast<std::size_t>(i)]) {
      if (bindings_[static_cast<std::size_t>(i)]->Equals(*binding)) {
        return *bindings_[static_cast<std::size_t>(i)];
      }
    }
  } else {
    for (const auto& b : bindings_) {
      if (b->Equals(*binding)) {
        return *b;
      }
    }
  }
  ReserveOneMore(bindings_);
  if (binding_index_) {
    binding_index_->Add(binding->Name(), static_cast<int>(bindings_.size()));
  } else if (bindings_.size() + 1 >= kIndexedBindings) {
    auto index = std::make_unique<TBindingIndex>();
    for (std::size_t i = 0; i < bindings_.size(); ++i) {
      index->Add(bindings_[i]->Name(), static_cast<int>(i));
    }
    index->Add(binding->Name(), static_cast<int>(bindings_.size()));
    binding_index_ = std::move(index);
  }
  bindings_.push_back(std::move(binding));  // within the capacity: cannot fail
  return *bindings_.back();
}

void TRule::Unpack() const {
  if (packed_) {
    patterns_ = packed_->Unpack(const_cast<TRule*>(this));
    packed_.reset();
  }
}

void TRule::PackPatterns() noexcept {
  if (packed_ || patterns_.empty()) {
    return;
  }
  try {
    packed_ = TPackedPatterns::Pack(patterns_);
  } catch (const std::bad_alloc&) {
    // Packing only saves memory: without room for the block, the patterns
    // stay as they are.
  }
}

bool TRule::UsesTemplate(const IFactTemplate& fact_template) const {
  if (packed_) {
    return packed_->UsesTemplate(fact_template);
  }
  return std::any_of(patterns_.begin(), patterns_.end(),
                     [&](const auto& p) { return p->FactTemplate() == &fact_template; });
}

void TRule::AddPattern(std::unique_ptr<TIEPattern> pattern) {
  if (engine_ == nullptr) {
    RaiseIEPlain(SUnknownEngine);
  }
  if (PatternCount() >= kMaxPatterns) {
    RaiseIE(STooManyPatterns, kMaxPatterns);
  }
  Unpack();
  BeginUpdate();
  pattern->SetOwner(this);
  if (patterns_.empty()) {
    const bool needs_initial =
        pattern->NegatedCount() > 0 || pattern->IsTest() ||
        (pattern->FactTemplate() != nullptr && pattern->FactTemplate()->IsBackwardChaining());
    if (needs_initial) {
      std::unique_ptr<TIEPattern> initial = engine_->InitialFactPattern().Clone();
      initial->SetOwner(this);
      patterns_.push_back(std::move(initial));
    }
  }
  pattern->FixTests(
      engine_->Reasoner(), [&](std::string_view prefix) { return engine_->GenerateSymbol(prefix); },
      [&](std::string_view name) { return GetBindingByName(name) != nullptr; });
  const int position = static_cast<int>(patterns_.size());
  patterns_.push_back(std::move(pattern));
  BindPatternVariables(*patterns_.back(), position);
  EndUpdate();
}

namespace {

// Replaces variable names inside `call` (and its nested calls) by their new names.
void SubstFunCall(IFunCall& call, const std::vector<std::pair<std::string, std::string>>& renames) {
  for (int i = 0; i < call.ArgumentCount(); ++i) {
    IIEValue* arg = call.Argument(i);
    if (arg == nullptr) {
      continue;
    }
    if (arg->DType() == TIEType::dtFunCall) {
      SubstFunCall(*arg->AsFunCall(), renames);
    } else if (arg->DType() == TIEType::dtVariable || arg->DType() == TIEType::dtMultiVariable) {
      for (const auto& [from, to] : renames) {
        if (arg->Text() == from) {
          call.SetArgument(i, MakeRef<TIEValue>(to, arg->DType()));
          break;
        }
      }
    }
  }
}

}  // namespace

void TRule::BindPatternVariables(TIEPattern& pattern, int position) {
  if (!pattern.BoundName().empty()) {
    AddBinding(pattern.BoundName(), position, SPatternBinding, NoSubIndex);
  }
  std::vector<std::pair<std::string, std::string>> renames;
  // The slots come in the template's order, not the order the pattern names
  // them in: a variable used negated in one slot and plainly in another, as in
  // (rec (s ?w) (m ~?w)), is bound by the plain use wherever it stands.
  for (const bool negated : {false, true}) {
    for (int s = 0; s < pattern.SlotCount(); ++s) {
      TPatternSlot& slot = pattern.Slot(s);
      for (auto& test : slot.tests) {
        if ((!test->IsVariable() && !test->IsMultiVariable()) || test->IsNegated() != negated) {
          continue;
        }
        std::string name(test->SlotValue()->Text());
        for (const auto& [from, to] : renames) {
          if (name == from) {
            name = to;
            test->SetSlotValueShared(MakeRef<TIEValue>(name, test->SlotValue()->DType()));
            break;
          }
        }
        if (GetBindingByName(name) != nullptr) {
          continue;
        }
        if (pattern.NegatedCount() > 0 && name.starts_with(SBlankPrefix)) {
          std::string renamed = "_" + std::to_string(patterns_.size()) + "_" + name;
          renames.emplace_back(name, renamed);
          test->SetSlotValueShared(MakeRef<TIEValue>(renamed, test->SlotValue()->DType()));
          name = renamed;
        }
        if (test->IsNegated()) {
          RaiseIE(SNegatedVariable, name.c_str());
        }
        AddBinding(name, position, slot.name.View(), test->MultiSlotSubIndex());
      }
    }
  }
  if (!renames.empty()) {
    for (int s = 0; s < pattern.SlotCount(); ++s) {
      for (auto& test : pattern.Slot(s).tests) {
        if (test->IsFunCall()) {
          SubstFunCall(*test->SlotValue()->AsFunCall(), renames);
        }
      }
    }
  }
}

void TRule::AddAction(Ref<IFunCall> action) {
  actions_.push_back(std::move(action));
  Change();
}

void TRule::ClearActions() {
  actions_.clear();
  Change();
}

IIEValue* TRule::BoundValue(const TBinding& binding, const IReteToken& token) const {
  IFact* fact = token.GetFacts(binding.FactIndex());
  if (fact == nullptr || fact == &engine_->NullFact()) {
    return nullptr;
  }
  if (binding.SubIndex() == NoSubIndex) {
    // The usual case: a slot of one of the engine's facts, whose layout
    // the binding's position met last time.
    if (const TFact* own = TFact::Exactly(*fact)) {
      if (IIEValue* value = own->PeekSlot(binding.SlotPosition())) {
        return value;
      }
    }
  }
  const int slot = binding.SlotPosition().IndexIn(fact->Template());
  if (slot < 0) {
    return nullptr;
  }
  IIEValue* value = fact->ValueAt(slot);
  if (binding.SubIndex() == NoSubIndex) {
    return value;
  }
  IValueVector* list =
      value != nullptr && value->DType() == TIEType::dtList ? value->AsList() : nullptr;
  if (list == nullptr || binding.SubIndex() >= list->ValueCount()) {
    return nullptr;
  }
  return list->Get(binding.SubIndex());
}

Ref<IIEValue> TRule::ValueFor(const TBinding& binding, const IReteToken& token) const {
  if (binding.IsPatternBinding()) {
    IFact* fact = token.GetFacts(binding.FactIndex());
    if (fact == nullptr || fact == &engine_->NullFact()) {
      return nullptr;
    }
    return MakeRef<TIEValue>(fact->GetID(), TIEType::dtFactId);
  }
  return Ref<IIEValue>(BoundValue(binding, token));
}

template <class F>
bool TRule::ForEachValue(const IReteToken& token, F&& f) {
  for (const auto& binding : bindings_) {
    if (binding->IsLocalBinding()) {
      continue;
    }
    Ref<IIEValue> value = ValueFor(*binding, token);
    if (!value) {
      continue;  // a variable of a `not` pattern
    }
    if (!f(*binding, value)) {
      return false;
    }
    binding->SetValue(std::move(value));
  }
  return true;
}

void TRule::Prepare(const IReteToken& token, TIEContext& context) {
  ForEachValue(token, [&](const TBinding& binding, const Ref<IIEValue>& value) {
    context.AddLocalBinding(binding.Name(), value);
    return true;
  });
  context.AddLocalBinding(SRuleBinding, RuleNameValue());
}

bool TRule::RebindInPlace(const IReteToken& token, TIEContext& context) {
  // The firing context keeps the records of the last firing's variables, in
  // the order Prepare made them: each takes its new value where it is,
  // without a search or a record made. A variable without a value (one of a
  // `not` pattern) is left out, as Prepare leaves it out; should that make
  // a record not the one expected where it is, Prepare does it all.
  TBindings& table = context.Bindings();
  if (kept_bindings_ == 0 || static_cast<std::size_t>(table.Count()) != kept_bindings_) {
    return false;
  }
  std::size_t at = 0;
  return ForEachValue(token,
                      [&](const TBinding& binding, const Ref<IIEValue>& value) {
                        return table.RebindAt(at++, binding.Name(), value);
                      }) &&
         at + 1 == kept_bindings_ && table.RebindAt(at, SRuleBinding, RuleNameValue());
}

const Ref<IIEValue>& TRule::RuleNameValue() {
  if (!rule_name_value_) {
    rule_name_value_ = TIEValue::String(rule_name_);
  }
  return rule_name_value_;
}

void TRule::Fire(const IReteToken& token) {
  if (engine_ == nullptr) {
    RaiseIEPlain(SUnknownEngine);
  }
  TIEContext& root = engine_->RootContext();
  std::unique_ptr<TIEContext> own;  // for a firing inside one of this rule's firings
  TIEContext* context;
  if (firing_) {
    own = root.Push();
    context = own.get();
  } else {
    if (!firing_context_ || firing_context_->Parent() != &root) {
      firing_context_ = root.Push();
    }
    context = firing_context_.get();
    firing_ = true;
  }
  // However the actions end, the shared context is emptied for the next firing.
  struct Recycle {
    TRule& rule;
    bool shared;
    ~Recycle() {
      if (shared) {
        rule.firing_context_->Recycle(rule.kept_bindings_);
        rule.firing_ = false;
      }
    }
  } recycle{*this, !own};
  context->ClearReturnValue();
  if (own) {
    Prepare(token, *context);
  } else if (!RebindInPlace(token, *context)) {
    kept_bindings_ = 0;
    context->Recycle();
    Prepare(token, *context);
    kept_bindings_ = static_cast<std::size_t>(context->Bindings().Count());
  }
  fired_ = true;
  if (OnFire) {
    OnFire(*this, *context);
  }
  if (!context->Halted()) {
    for (const Ref<IFunCall>& action : actions_) {
      action->Execute(*context);
      if (context->Halted() || context->ReturnFlag()) {
        break;
      }
    }
  }
  context->SetHalted(false);
}

void TRule::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0) {
    Change();
  }
}

void TRule::Change() {
  if (updating_ > 0) {
    return;
  }
  if (engine_ != nullptr) {
    engine_->RuleChange(*this);
  }
  if (OnChange) {
    OnChange(*this);
  }
}

std::string TRule::ToString() const {
  if (engine_ != nullptr) {
    return engine_->PrettyPrint(*this);
  }
  return PrettyPrintRule(*this);
}

}  // namespace zephro
