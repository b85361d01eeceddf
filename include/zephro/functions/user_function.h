#pragma once

// TIEUserFunction: the base of every function an expression can call, built-in,
// host-defined or interpreted.
//
// A function carries its metadata (name, help text, argument syntax, minimum and
// maximum argument count) and a body, Run. Calls reach it only through Call,
// which checks the argument count first:
//
//   Too few arguments for <name>      fewer than MinArgumentCount() arguments
//   Too many arguments for <name>     more than MaxArgumentCount()
//
// and the body never runs then. A body receives its arguments unevaluated and
// evaluates what it needs with Eval and the typed helpers, in the order and as
// often as its logic asks (so `and` can stop early and `if` evaluates one
// branch).
//
// Defining a built-in takes a constructor and a body:
//
//   class TAbsFunction final : public TIEUserFunction {
//    public:
//     TAbsFunction() : TIEUserFunction(AbsFunctionName, AbsComment, AbsSyntax, 1, 1) {}
//
//    protected:
//     Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
//       Ref<IIEValue> n = EvalNumeric(call, 0, context);  // raises for a non-number
//       ...
//     }
//   };
//
// and packages create it with TIEUserFunction::Make<TAbsFunction>(). A function
// object holds no state of any engine: one object may be filed with several
// engines at once and is shared by them; the engine of a call is the context's.
//
// Errors. A body raises EIEException with a catalogue message (RaiseIE); those
// pass to the caller unchanged. Any other std::exception escaping a body (an
// error of the platform layer, a host's own exception) is turned into
// EIEException "<name> error: <message>" (SFunctionError) at the function
// boundary, so every error that leaves a function is an engine error that names
// where it arose; a body can raise that form itself with RaiseError. EAbort
// (the silent stop) and std::bad_alloc pass through untouched. Nested calls are
// wrapped by the innermost function only, since what they raise is already an
// EIEException.
//
// Engines. A function keeps the engines (reasoners) it is filed with. AddReasoner
// adds an engine unless present and files the function with it
// (IReasoner::AddUserFunction); DeleteReasoner removes it again
// (RemoveUserFunction); renaming the function re-files it with every engine.
// The list holds borrowed pointers: an engine that dies first detaches itself,
// calling DeleteReasoner on every function that lists it (packages do this for
// their engines through free notification, user_package.h).
//
// Ownership: counted; the engines' function tables and the packages' function
// lists hold references, and so does every call bound to the function.
// Thread safety: the count is atomic; use a function on the engine's thread.

#include <concepts>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/values/interfaces.h"

namespace zephro {

class TComponent;

// What a list tells its owner about an element that joined or left it.
enum class TListNotification : std::uint8_t { lnAdded, lnExtracted, lnDeleted };

// What a comparison of two numbers asks of them; nrNone for a function that
// is not one.
enum class TNumberRelation : std::uint8_t {
  nrNone, nrLess, nrLessOrEqual, nrGreater, nrGreaterOrEqual, nrEqual, nrNotEqual
};

// What an arithmetic function makes of two numbers; noNone for a function
// that is not one.
enum class TNumberOperation : std::uint8_t { noNone, noAdd, noSubtract, noMultiply };

// What a test of values makes of its arguments: lfAnyTrue, TRUE when one
// argument is (or); lfAllEqual, TRUE when every argument equals the first
// (eq); lfNoneEqual, TRUE when none of the others does (neq). lfNone for
// every other function.
enum class TLogicalForm : std::uint8_t { lfNone, lfAnyTrue, lfAllEqual, lfNoneEqual };

// MaxArgumentCount of a function without upper limit (the largest 32-bit value).
inline constexpr std::int32_t kUnlimitedArguments = std::numeric_limits<std::int32_t>::max();

class TIEUserFunction : public IUserFunction {
 public:
  // A new T made from `args`, after which its InitMetaData runs. Use it to create
  // every function, so that classes which compute their metadata get the chance.
  template <std::derived_from<TIEUserFunction> T, class... Args>
  static Ref<T> Make(Args&&... args) {
    Ref<T> function = MakeRef<T>(std::forward<Args>(args)...);
    static_cast<TIEUserFunction&>(*function).InitMetaData();
    return function;
  }

  // A function without name or limits (0 to kUnlimitedArguments arguments).
  TIEUserFunction() noexcept;
  explicit TIEUserFunction(std::string_view name);
  // A function with its metadata. `comment` is the help text (stored through
  // CommentFormat); `argument_string` the syntax after the name, as shown in help
  // (most start with a blank: " <numeric-expression>").
  TIEUserFunction(std::string_view name, std::string_view comment, std::string_view argument_string,
                  std::int32_t min_arguments = 0, std::int32_t max_arguments = kUnlimitedArguments);

  // `function` as a TIEUserFunction when it is one (every function of the
  // engine is; see IUserFunction::EngineOwn), else null; null for null.
  static const TIEUserFunction* Exactly(const IUserFunction* function) noexcept {
    return function != nullptr && function->EngineOwn()
               ? static_cast<const TIEUserFunction*>(function)
               : nullptr;
  }

  const std::string& FunctionName() const noexcept override { return name_; }
  // Renames the function; with a name that differs (case-sensitively) it is
  // first removed from every engine it is filed with, then filed again under the
  // new name.
  void SetFunctionName(std::string_view name) override;
  const std::string& Comment() const noexcept override { return comment_; }
  void SetComment(std::string_view comment) override { comment_ = comment; }
  const std::string& ArgumentString() const noexcept override { return argument_string_; }
  void SetArgumentString(std::string_view syntax) override { argument_string_ = syntax; }
  std::int32_t MinArgumentCount() const noexcept override { return min_arguments_; }
  void SetMinArgumentCount(std::int32_t n) override { min_arguments_ = n; }
  std::int32_t MaxArgumentCount() const noexcept override { return max_arguments_; }
  void SetMaxArgumentCount(std::int32_t n) override { max_arguments_ = n; }

  int ReasonerCount() const noexcept override { return static_cast<int>(reasoners_.size()); }
  // REQUIRES for the indexed operations: 0 <= index < ReasonerCount(); otherwise
  // EIEException.
  IReasoner* Reasoner(int index) const override;
  int IndexOfReasoner(const IReasoner* reasoner) const noexcept override;
  // Returns the index of `reasoner`, adding it and filing the function with it
  // when it was not listed. If filing raises, the reasoner is not added.
  int AddReasoner(IReasoner& reasoner) override;
  // Removes the reasoner and the function from its table.
  void DeleteReasoner(int index) override;
  // As above; does nothing when `reasoner` is not listed.
  void DeleteReasoner(IReasoner& reasoner) override;
  void ClearReasoners() override;

  // The help text: the comment, a line break, then the syntax line
  // "     syntax: (<name><argument string>)". `reasoner` is not consulted.
  std::string ToString(const IReasoner* reasoner) const override;

  // Checks the argument count, then runs the body; see the top of this file. The
  // result is never null: a body that returns null gives FCNil.
  Ref<IIEValue> Call(IFunCall& call, TIEContext& context) final;

  // The relation the function checks when called with two numbers (integers
  // or floats, compared as floats); callers may then decide such calls
  // without running the body. nrNone (the base) for every other function.
  virtual TNumberRelation NumberRelation() const noexcept { return TNumberRelation::nrNone; }
  // The same for arithmetic: the operation the function applies when called
  // with two numbers, its result an integer when both are (wrapped to 32
  // bits), else a float. noNone (the base) for every other function.
  virtual TNumberOperation NumberOperation() const noexcept { return TNumberOperation::noNone; }
  // The same for a test of values, which callers may decide in place when
  // its arguments are values they can read.
  virtual TLogicalForm LogicalForm() const noexcept { return TLogicalForm::lfNone; }

  // Copies name (through SetFunctionName), comment, argument string and limits.
  void Assign(const TIEUserFunction& source);

  // The integer `argument` computes when it is a call of arithmetic (a
  // function whose NumberOperation says which) on integers: constants,
  // variables or slots of the match bound to integers, or such calls, nested
  // kInlineDepth deep at most. Worked out in place, without running the calls
  // or making their values: true, with the number, which is within 32 bits.
  // False whenever running the call could go otherwise: an operand of another
  // kind or a float, a step beyond 32 bits, an argument count the function
  // refuses, a call not bound now, an engine budget that counts nesting or
  // memory, a stack near its guard. Operands are only read on the way, so the
  // caller then evaluates the argument the ordinary way, which raises what
  // there is to raise. (An operand that cannot be read at all, an unbound
  // variable, raises here what the ordinary way would.)
  static bool InlineInteger(const IIEValue& argument, TIEContext& context, std::int64_t& number);
  static constexpr int kInlineDepth = 4;

 protected:
  ~TIEUserFunction() override = default;

  // Runs once after construction when the function is created through Make; the
  // base does nothing. For classes that derive metadata from their own state.
  virtual void InitMetaData() {}

  // The body. Runs after the argument-count check with the call's unevaluated
  // arguments. The base returns FCNil.
  virtual Ref<IIEValue> Run(IFunCall& call, TIEContext& context);

  // Told when `reasoner` joined (lnAdded) or left the list; the base files the
  // function with the reasoner or removes it from the reasoner's table.
  virtual void ReasonerNotification(IReasoner& reasoner, TListNotification action);

  // Argument helpers for bodies. `index` is 0-based; an index beyond the call's
  // arguments raises EIEException.
  //
  // Argument `index` evaluated in `context`: a constant as it is, a variable's
  // binding, a nested call's result.
  static Ref<IIEValue> Eval(IFunCall& call, int index, TIEContext& context);
  // The same value, borrowed where it can be: a constant argument or a slot of
  // a matched fact is read in place, without taking a reference; a computed
  // value is kept alive in `holder`. For bodies that only look at their
  // arguments (comparisons, arithmetic) while nothing changes the facts.
  static const IIEValue& EvalBorrowed(IFunCall& call, int index, TIEContext& context,
                                      Ref<IIEValue>& holder);
  // Reads `argument` as a number without evaluating anything: true, with the
  // number, for an integer or float constant and for a slot of a matched fact
  // that holds one; false for every other argument (variables, calls, other
  // kinds), which the caller then evaluates the ordinary way.
  static bool PeekNumber(const IIEValue& argument, TIEContext& context, double& number);
  // The evaluated argument converted as the value model converts (AsInteger,
  // AsFloat, AsString); a value without that form raises the conversion error
  // "Not a %s type.  Value (%s) is a %s type".
  static std::int32_t EvalInteger(IFunCall& call, int index, TIEContext& context);
  static double EvalNumber(IFunCall& call, int index, TIEContext& context);
  static std::string EvalText(IFunCall& call, int index, TIEContext& context);
  // The evaluated argument, which must be an integer or a float; any other kind
  // raises "Expected numeric argument to <name> function call".
  Ref<IIEValue> EvalNumeric(IFunCall& call, int index, TIEContext& context) const;

  // Raises EIEException "<name> error: <message>".
  [[noreturn]] void RaiseError(std::string_view message) const;

 private:
  static bool InlineIntegerAt(const IIEValue& argument, TIEContext& context, int depth,
                              std::int64_t& number);

  std::int32_t min_arguments_ = 0;
  std::int32_t max_arguments_ = kUnlimitedArguments;
  std::string comment_;
  std::vector<IReasoner*> reasoners_;  // not owned
  std::string name_;
  std::string argument_string_;
};

// `engine` as the reasoner it implements; null for null. Raises EIEException
// "Unknown/Undefined Inference Engine" for a component that is no engine.
IReasoner* EngineReasoner(TComponent* engine);

}  // namespace zephro
