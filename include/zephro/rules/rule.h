#pragma once

// TRule: one `defrule`: patterns (the left-hand side), actions (function
// calls), a salience, and the bindings that carry values from matched facts to
// the actions.
//
// A rule is a component owned by the engine (or by the host, which then frees
// it). Adding it to the engine's rules compiles it into the matching network.
// Each variable of the left-hand side is recorded once, at its first
// occurrence, as a TBinding (pattern position, slot, position in a multislot);
// later occurrences become tests.
//
// Thread safety: none; use on the engine's thread or under its lock.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/functions/context.h"
#include "zephro/platform/component.h"
#include "zephro/rules/pattern.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/value.h"

namespace zephro {

class IRuleEnvironment;
class TReteNode;
class TRule;

// A handler that few rules have: held out of line, so that a rule without
// one pays a pointer instead of a whole std::function. Assigned and called
// like a std::function.
template <class Signature>
class TRareHandler {
 public:
  TRareHandler() noexcept = default;
  TRareHandler(const TRareHandler&) = delete;
  TRareHandler& operator=(const TRareHandler&) = delete;
  TRareHandler& operator=(std::function<Signature> handler) {
    if (handler) {
      f_ = std::make_unique<std::function<Signature>>(std::move(handler));
    } else {
      f_.reset();
    }
    return *this;
  }
  explicit operator bool() const noexcept { return f_ != nullptr; }
  template <class... Args>
  void operator()(Args&&... args) const {
    (*f_)(std::forward<Args>(args)...);
  }

 private:
  std::unique_ptr<std::function<Signature>> f_;
};

using TRuleFireEvent = TRareHandler<void(TRule& rule, TIEContext& context)>;
using TRuleNotifyEvent = TRareHandler<void(TRule& rule)>;

class TRule : public TComponent {
  ZEPHRO_DECLARE_CLASS(TRule, TComponent)

 public:
  // A rule owned by `owner`; when the owner is an engine, the rule belongs to
  // it and gets a rule id (RuleName "Rule_<id>").
  explicit TRule(TComponent* owner);
  ~TRule() override;

  const std::string& RuleName() const noexcept { return rule_name_; }
  // Validated like template names; renames the engine's entry too.
  void SetRuleName(std::string_view name);
  const std::string& Comment() const noexcept;
  void SetComment(std::string_view comment);
  std::int32_t RuleID() const noexcept { return rule_id_; }

  // The last evaluated salience.
  std::int32_t Salience() const noexcept { return salience_; }
  // The salience expression: an integer, a global variable or a call.
  IIEValue& SalienceValue() const noexcept { return *salience_value_; }
  // Stores the expression and evaluates it.
  void SetSalience(Ref<IIEValue> value);
  void SetSalienceInteger(std::int32_t salience);
  // Evaluates the salience expression in a fresh context of the engine,
  // stores and returns it. Placing each activation evaluates it: a constant
  // of the engine's own values is read here, in place.
  std::int32_t EvaluateSalience() {
    if (const TIEValue* own = TIEValue::Exactly(*salience_value_);
        own != nullptr && own->DType() == TIEType::dtInteger) [[likely]] {
      salience_ = own->IntegerDatum();
      return salience_;
    }
    return EvaluateSalienceExpression();
  }

  bool Enabled() const noexcept { return enabled_; }
  void SetEnabled(bool enabled);
  // Sets Enabled as the matcher sees it, without rebuilding the rule's part
  // of the network: matches made while it is false give the rule no
  // activations, and the activations it has stay. For holding a firing rule
  // back while a few of its actions run.
  void SetEnabledQuietly(bool enabled) noexcept { enabled_ = enabled; }
  bool OneShot() const noexcept { return one_shot_; }
  void SetOneShot(bool one_shot);
  bool Fired() const noexcept { return fired_; }
  // Clears Fired.
  void Reset() noexcept { fired_ = false; }

  IRuleEnvironment* Engine() const noexcept { return engine_; }
  void SetEngine(IRuleEnvironment* engine);

  // The left-hand side. AddPattern takes the pattern, inserts the initial-fact
  // pattern first where a rule must start with a positive pattern, rewrites
  // disjunctions and records the new variables.
  int PatternCount() const noexcept {
    return packed_ ? packed_->PatternCount() : static_cast<int>(patterns_.size());
  }
  TIEPattern& Pattern(int index) const {
    Unpack();
    return *patterns_[static_cast<std::size_t>(index)];
  }
  // Raises "A rule may have at most %d patterns" past kMaxPatterns.
  void AddPattern(std::unique_ptr<TIEPattern> pattern);
  // Partial matches count their facts in 16 bits, and a pattern adds at
  // most two links to them.
  static constexpr int kMaxPatterns = 16000;
  // True when some pattern is on `fact_template` (the patterns stay packed).
  bool UsesTemplate(const IFactTemplate& fact_template) const;
  // A rule read from a program, where nothing outside the engine holds its
  // patterns, keeps them packed once filed (see TPackedPatterns): they are
  // made again the first time something asks for one (Pattern, AddPattern;
  // under the engine's lock, as any change to the rule), and stay made.
  void PackPatternsWhenFiled() noexcept { pack_when_filed_ = true; }
  bool PatternsPacked() const noexcept { return packed_ != nullptr; }

  int ActionCount() const noexcept { return static_cast<int>(actions_.size()); }
  IFunCall& Action(int index) const { return *actions_[static_cast<std::size_t>(index)]; }
  void AddAction(Ref<IFunCall> action);
  void ClearActions();

  int BindingCount() const noexcept { return static_cast<int>(bindings_.size()); }
  TBinding& Binding(int index) const { return *bindings_[static_cast<std::size_t>(index)]; }
  int IndexOfBinding(std::string_view name) const noexcept;
  TBinding* GetBindingByName(std::string_view name) const noexcept;
  // Records a binding unless an equal one exists; returns the stored one.
  TBinding& AddBinding(std::string_view name, std::int32_t fact_index,
                       std::string_view slot_index, std::int32_t sub_index);

  // Makes the values of `token` visible to the actions as variables of
  // `context`, and binds "__RULE" to the rule name.
  void Prepare(const IReteToken& token, TIEContext& context);
  // Runs the actions for `token` in a context that starts as a fresh child
  // of the engine's context. The rule keeps that context from one firing to
  // the next and reuses its binding records; a firing of the rule from
  // inside its own actions gets a context of its own.
  void Fire(const IReteToken& token);

  void BeginUpdate() noexcept { ++updating_; }
  void EndUpdate();
  // Tells the engine (which recompiles the rule) and fires OnChange unless
  // inside an update.
  void Change();
  std::string ToString() const;

  TRuleFireEvent OnFire;
  TRuleNotifyEvent OnChange;

 protected:
  void Notification(TComponent& component, TOperation operation) override;

 private:
  friend class TInferenceEngine;  // renames the rule it files
  friend class TReteNetwork;      // files the nodes compiled for the rule
  friend class TReteCompiler;
  friend void NotifyRulePatternChanged(TRule& rule, TIEPattern& pattern);
  void BindPatternVariables(TIEPattern& pattern, int position);
  IIEValue* BoundValue(const TBinding& binding, const IReteToken& token) const;
  // The value `binding` takes in a firing with `token`; null when it takes
  // none (its pattern matched nothing, or the slot is missing).
  Ref<IIEValue> ValueFor(const TBinding& binding, const IReteToken& token) const;
  // Prepare for the firing context, in the records the last firing left in
  // place; false when they do not fit this firing (then nothing is prepared).
  bool RebindInPlace(const IReteToken& token, TIEContext& context);
  // Calls f(binding, value) for each rule variable with a value in a firing
  // with `token`, then gives the binding the value, until f answers false.
  template <class F>
  bool ForEachValue(const IReteToken& token, F&& f);
  // The rule name as a string value, made again only when the name changed.
  const Ref<IIEValue>& RuleNameValue();
  // Every change of the name goes through here: it drops the name's value.
  void StoreRuleName(std::string name);
  void ForgetFiringContext() noexcept;
  // EvaluateSalience for any other expression.
  std::int32_t EvaluateSalienceExpression();

  IRuleEnvironment* engine_ = nullptr;     // not owned
  TComponent* engine_component_ = nullptr;  // the same engine, told when the rule goes
  // The context of the firings, recycled after each (see Fire); null until
  // the first firing and whenever the engine changes.
  std::unique_ptr<TIEContext> firing_context_;
  // How many records Prepare made in the firing context: they stay there,
  // recycled in place, for the next firing (0: none).
  std::size_t kept_bindings_ = 0;
  Ref<IIEValue> rule_name_value_;
  std::string rule_name_;
  std::unique_ptr<std::string> comment_;  // few rules have one
  Ref<IIEValue> salience_value_;
  // The patterns as objects, or packed (one of the two is empty).
  mutable std::vector<std::unique_ptr<TIEPattern>> patterns_;
  mutable std::unique_ptr<TPackedPatterns> packed_;
  void Unpack() const;
  friend class TRules;  // packs the patterns when it files the rule
  void PackPatterns() noexcept;
  std::vector<Ref<IFunCall>> actions_;
  std::vector<std::unique_ptr<TBinding>> bindings_;
  // Past a few bindings, where each name's bindings are, so that compiling a
  // rule of many patterns finds its variables without a walk over all of
  // them (see rule.cc); null for the many small rules.
  struct TBindingIndex;
  std::unique_ptr<TBindingIndex> binding_index_;
  // The rule's terminal node in the network, null while not compiled. The
  // rest of the rule's nodes are found from it, through their inputs.
  TReteNode* network_terminal_ = nullptr;
  std::int32_t rule_id_ = 0;
  std::int32_t salience_ = 0;
  int updating_ = 0;
  bool enabled_ = true;
  bool one_shot_ = false;
  bool fired_ = false;
  bool firing_ = false;  // firing_context_ is in use
  bool pack_when_filed_ = false;
};

}  // namespace zephro
