#pragma once

// TInterpretedFunction: a function written in the language with `deffunction`.
//
//   (deffunction fact (?n)
//     "n!"
//     (if (<= ?n 1) then 1 else (* ?n (fact (- ?n 1)))))
//
// It has parameters and a body of actions. A call evaluates its arguments in
// the caller's context, then runs the body in a fresh child of that context
// (Push) where the parameters are bound locally:
//
//   ?x      a single-field parameter takes one argument;
//   $?rest  a multifield parameter, only as the last one, takes every
//           remaining argument as one list (at least one argument);
//   x       an atom parameter takes an argument without evaluating it and is
//           bound to nil.
//
// The actions are evaluated in order; the result is the value of the last
// one, nil for an empty body. `return` stops the body early: the returned
// expression is evaluated in the function's context and becomes the result,
// and the return flag is lowered again, so the caller never sees it. The
// caller's context is not changed by a call except through `bind` of a name
// the caller already binds (the child context is a child of the caller's).
//
// The argument limits follow the parameters: the minimum is their number (a
// multifield parameter counts as one), the maximum the same or unlimited
// after a multifield parameter; the stored limits of the base are not used.
//
// Recursion is bounded (values/nesting.h): a call nested deeper than
// kMaxCallDepth deffunction calls on the thread, or one that would start in
// the reserve at the end of the thread's stack, raises "<name> error:
// deffunction calls nested too deeply (runaway recursion?)" (SFunctionError)
// instead of exhausting the stack, and the engine stays usable.
//
// IsInterpreted() is true, so the engine's Clear removes the function, while
// package functions stay.
//
// Redefinition. A call binds the function it first runs and keeps it (see
// function_call.h): after `g` is defined again, a call that ran the old `g`
// goes on running the old one, which lives as long as something holds it.
// A function no engine files any more (redefined, or removed by Clear) is
// retired. A recursive function's actions hold a call bound to the function
// itself, so the two would keep each other alive after everything else let
// go: CollectRetiredFunctions finds the retired functions that nothing but
// retired functions' actions reaches and drops their actions, which frees
// them. The parser runs it after each top-level expression that retired a
// function and when it ends. When the engine that retired them goes, its
// retired functions drop their actions, whatever still holds them.
// A call already running finishes first in every case: a function redefined
// or removed while it runs completes with the actions it started with.
//
// PrettyPrint gives the construct back:
//
//   (deffunction name (?a $?rest)
//     "comment"
//     (action ...)
//   )
//
// Ownership: counted, like every function; the engine's function table holds
// it. Parameters and actions are shared values owned by the function.
// Thread safety: as TIEUserFunction; the depth count is per thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/functions/user_function.h"
#include "zephro/values/interfaces.h"

namespace zephro {

// Drops the actions of the retired deffunctions that only retired
// deffunctions' actions still reach (see the top of this file), when a
// function was retired, or stopped running while retired, since the last
// collection; also otherwise with `references_dropped`, for a caller that
// let go of references that may have kept retired functions alive (the
// parser's shared calls, when it ends). Cheap when there is nothing to do.
void CollectRetiredFunctions(bool references_dropped = false) noexcept;

class TInterpretedFunction final : public TIEUserFunction {
 public:
  explicit TInterpretedFunction(std::string_view name = {});

  // Appends a parameter named `name` (without "?" or "$?"). `kind` must be
  // dtVariable, dtMultiVariable or dtAtom; another kind raises "Invalid argument
  // type for deffunction: "<kind>".  Expected Atom, Variable, MultiVariable".
  // A parameter after a multifield parameter raises "<function> error: ...".
  void AddArgument(std::string_view name, TIEType kind);
  int ArgumentCount() const noexcept { return static_cast<int>(parameters_.size()); }
  // REQUIRES: 0 <= index < ArgumentCount(); otherwise EIEException.
  IIEValue& Argument(int index) const;

  // Appends an action: a call (wrapped in a dtFunCall value) or any value,
  // which the body evaluates in turn.
  void AddStatement(Ref<IFunCall> call);
  void AddStatement(Ref<IIEValue> value);
  int StatementCount() const noexcept { return static_cast<int>(statements_.size()); }
  // REQUIRES: 0 <= index < StatementCount(); otherwise EIEException.
  IIEValue& Statement(int index) const;

  // The position the engine keeps deffunctions in (definition order).
  std::int32_t Order() const noexcept { return order_; }
  void SetOrder(std::int32_t order) noexcept { order_ = order; }

  // Computed from the parameters, see the top of this file.
  std::int32_t MinArgumentCount() const noexcept override;
  std::int32_t MaxArgumentCount() const noexcept override;

  bool IsInterpreted() const noexcept override { return true; }

  // Runs the function on `call` in `context`: Call, under its other name.
  Ref<IIEValue> Execute(IFunCall& call, TIEContext& context) { return Call(call, context); }

  // The deffunction construct, as the pretty printer writes it.
  std::string PrettyPrint() const;

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override;
  // Retires the function when the last engine lets it go (see the top of
  // this file), and takes it back when an engine files it again.
  void ReasonerNotification(IReasoner& reasoner, TListNotification action) override;

 private:
  friend void CollectRetiredFunctions(bool references_dropped) noexcept;
  // The retired functions (see interpreted_function.cc).
  struct Retirement;

  ~TInterpretedFunction() override;

  bool HasMultifieldParameter() const noexcept;
  void ReleaseStatements() noexcept;

  std::vector<Ref<IIEValue>> parameters_;
  std::vector<Ref<IIEValue>> statements_;
  std::int32_t order_ = 0;
  int running_ = 0;  // calls of this function under way, nested ones included
  bool release_pending_ = false;
  bool retired_ = false;  // listed among the retired functions (under their lock)
  const IReasoner* retired_from_ = nullptr;  // the engine that filed it last; only compared
};


// The function a `deffunction` construct makes: named `name`, with the help
// text `comment`, the parameters (values of kind dtVariable, dtMultiVariable
// or dtAtom holding the names) and the actions in order. Raises as
// AddArgument does for a parameter of another kind or out of place. Register
// it with an engine through TInferenceEngine::PutUserFunction.
Ref<TInterpretedFunction> MakeInterpretedFunction(std::string name, std::string comment,
                                                  std::vector<Ref<IIEValue>> parameters,
                                                  std::vector<Ref<IIEValue>> actions);

}  // namespace zephro
