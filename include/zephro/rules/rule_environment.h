#pragma once

// IRuleEnvironment: what rules, the matching network and the agenda ask of
// the engine that holds them. The engine implements it; this layer knows the
// engine by this interface alone.
//
// A rule asks for its id, tells the engine when it changes or is renamed,
// and leaves the engine's rules when it is freed; it is built on the
// engine's initial-fact pattern, symbols and context. The network hands the
// engine the activations it makes and withdraws, the firings it is told of
// and the failures of code it runs while a fact moves; the agenda asks
// where an activation of a given salience goes.
//
// Thread safety: as the engine's (its lock covers every call).

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "zephro/values/interfaces.h"

namespace zephro {

class TActivation;
class TIEPattern;
class TRule;

class IRuleEnvironment {
 public:
  // --- the engine's rules ---------------------------------------------------------------------
  virtual std::int32_t NewRuleId() noexcept = 0;
  // True when `rule` is the rule filed under `name`.
  virtual bool FilesRule(std::string_view name, const TRule& rule) const = 0;
  // Takes `rule` out of the rules when it is the rule filed under `name`.
  virtual void ForgetRule(std::string_view name, TRule& rule) = 0;
  // Files the rule of `old_name` under `new_name` and renames it.
  virtual void RenameRule(std::string_view old_name, std::string_view new_name) = 0;
  // Recompiles `rule` when it is the rule filed under its name.
  virtual void RuleChange(TRule& rule) = 0;
  virtual std::string PrettyPrint(const TRule& rule) const = 0;

  // --- what rules are built from ----------------------------------------------------------------
  virtual IReasoner& Reasoner() noexcept = 0;
  virtual TIEContext& RootContext() = 0;
  // The context the network evaluates its tests in (a child of the root).
  virtual TIEContext& NetworkContext() noexcept = 0;
  virtual const TIEPattern& InitialFactPattern() const noexcept = 0;
  // The fact standing in tokens for negated and test elements.
  virtual IFact& NullFact() const noexcept = 0;
  // `prefix` followed by the symbol index, which then advances.
  virtual std::string GenerateSymbol(std::string_view prefix) = 0;
  // True when `name` is a defined global variable ("*x*").
  virtual bool IsGlobalVariable(std::string_view name) const = 0;

  // --- what the network makes ------------------------------------------------------------------
  // Places `activation` on the agenda; when that fails, `activation` still
  // holds it.
  virtual void AddActivation(std::unique_ptr<TActivation>&& activation) = 0;
  // Removes `activation`'s entry; returns its former index, or -1.
  virtual int RemoveActivation(TActivation& activation) = 0;
  // Removes `activation`'s entry when it has one, as RemoveActivation does,
  // working its index out only when someone may see it.
  virtual void WithdrawActivation(TActivation& activation) = 0;
  virtual void RuleFired(TActivation& activation) = 0;
  // The activation being fired, or null.
  virtual TActivation* FiringActivation() const noexcept = 0;
  // Keeps `failure` (the first of a move of facts) to be raised when the
  // move has finished. False when no move is under way: the caller raises it.
  virtual bool DeferMatchFailure(std::exception_ptr failure) noexcept = 0;
  // Visits each fact of working memory with the token the network made for it.
  virtual void VisitFactMatches(
      const std::function<void(IFact& fact, Ref<IReteToken>& match)>& visit) = 0;

  // --- the agenda's order
  // ------------------------------------------------------------------------- Insertion index for
  // an activation of `salience`, or -1 to append.
  virtual int SearchSalience(std::int32_t salience) const = 0;
  // Backward chaining: the goal template `name` ("need-..."), made as an
  // implied template when missing; and a goal fact to assert once the fact
  // being matched has finished moving (a duplicate of a goal in working
  // memory is dropped unless fact duplication is on).
  virtual IFactTemplate& GoalTemplate(std::string_view name) = 0;
  virtual void QueueGoal(Ref<IFact> goal) = 0;

 protected:
  ~IRuleEnvironment() = default;
};

}  // namespace zephro
