#pragma once

// TFunctionCall: the one expression form of the language, a function name with
// a list of arguments.
//
// Arguments are kept as written, unevaluated: constants, variables, nested calls
// (dtFunCall values), lists, slot names, keyword atoms. The function decides
// which to evaluate, when and how often (user_function.h).
//
// Binding. A call names its function; the engine it was built for (its
// reasoner) files functions by name. The first execution looks the name up and
// binds the function it finds; later executions run the bound function without
// any lookup. The binding survives a later registration under the same name: a
// call keeps running the function it bound (it holds a reference, so the
// function stays alive). It does not survive a removal: when the engine's
// function table has changed since the call last looked (its
// FunctionTableVersion moved) the call checks whether anything is still filed
// under its name, and when nothing is, it drops the binding and raises
// "Function is unimplemented or unassigned: <name>" instead of running a
// function the engine no longer has. A renamed function counts as removed from
// its old name. Checking costs one virtual call per execution and a lookup only
// after the table changed.
//
//   Ref<IFunCall> call = MakeFunCall(engine, "+");
//   call->AddArgument(TIEValue::Integer(1));
//   Ref<IIEValue> result = call->Execute(context);
//
// Ownership: counted. A call owns its arguments (shared values), holds the bound
// function, and borrows its reasoner, which must outlive it.
// Thread safety: the count is atomic; use a call on the engine's thread.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/values/interfaces.h"

namespace zephro {

class TFunctionCall final : public IFunCall {
 public:
  // An empty call: no reasoner, no name.
  TFunctionCall();
  // A call of `name` resolved against `reasoner` (may be null: such a call runs
  // only a function bound with SetUserFunction).
  TFunctionCall(IReasoner* reasoner, std::string_view name);

  const std::string& Name() const noexcept override { return *name_; }
  const std::string& Comment() const noexcept override;
  void SetComment(std::string_view comment) override;
  std::int32_t Tag() const noexcept override { return notes_ ? notes_->tag : 0; }
  void SetTag(std::int32_t tag) override;
  IReasoner* Reasoner() const noexcept override { return reasoner_; }

  int ArgumentCount() const noexcept override { return static_cast<int>(arguments_.size()); }
  // REQUIRES for the indexed operations: 0 <= index < ArgumentCount(); otherwise
  // EIEException.
  IIEValue* Argument(int index) const override;
  std::span<const Ref<IIEValue>> Arguments() const noexcept override { return arguments_.span(); }
  // REQUIRES: `value` is not null, for this and every AddArgument (EIEException).
  void SetArgument(int index, Ref<IIEValue> value) override;
  void Delete(int index) override;
  void Clear() override { arguments_.clear(); }

  // The AddArgument overloads each append one argument and return its index.
  //
  // Appends `value` itself (shared, not copied).
  int AddArgument(Ref<IIEValue> value) override;
  // A new value holding `text` as `kind`, which must be a text kind (dtAtom,
  // dtString, dtVariable, dtMultiVariable, dtSlot, dtMultiSlot); any other kind
  // raises "Not a String type.  Value (<text>) is a <kind> type".
  int AddArgument(std::string_view text, TIEType kind);
  // dtInteger stores the integer, dtFloat the integer as a float; any other kind
  // raises "Not a Integer type.  Value (<decimal>) is a <kind> type".
  int AddArgument(std::int32_t value, TIEType kind);
  // dtFloat stores the double; dtInteger stores it rounded to the nearest
  // integer, ties to even (2.5 gives 2, 3.5 gives 4); any other kind, or a double
  // whose rounding lies outside the 32-bit range, raises
  // "Not a Float type.  Value (<%.4f>) is a <kind> type".
  int AddArgument(double value, TIEType kind);
  // Wrap the object in a new dtFunCall, dtFact or dtList value.
  int AddArgument(Ref<IFunCall> call);
  int AddArgument(Ref<IFact> fact);
  int AddArgument(Ref<IValueVector> list);

  IUserFunction* UserFunction() const noexcept override { return function_.get(); }
  // Binds `function` (null unbinds) and, when it differs from the bound one,
  // takes its name (the empty name for null). With a reasoner the binding lasts
  // while something is filed under the name, as for a binding made by Execute.
  void SetUserFunction(IUserFunction* function) override;

  // Binds the function as the top of this file says, then runs it through
  // IUserFunction::Call (argument-count check, then the body). Raises "Function
  // is unimplemented or unassigned: <name>" when no function is filed under the
  // name (the call stays unbound). What the function raises passes to the caller
  // and the call stays bound.
  Ref<IIEValue> Execute(TIEContext& context) override;
  // Runs the call for its effect. Does not look the name up: an unbound call
  // raises "Function is unimplemented or unassigned: <name>" at once. A bound
  // call whose function was removed from the engine raises the same.
  void SimpleExecute(TIEContext& context) override;
  bool Holds(TIEContext& context) override;
  // `call` as a TFunctionCall when it is one (the class is final and marks
  // its objects: the test is exact), else null.
  static TFunctionCall* Exactly(IFunCall& call) noexcept {
    return call.EngineOwn() ? static_cast<TFunctionCall*>(&call) : nullptr;
  }
  // Whether working the call out in place failed before (see
  // TIEUserFunction::InlineInteger), and marking that it did.
  bool InlineRefused() const noexcept { return inline_refused_; }
  void RefuseInline() const noexcept { inline_refused_ = true; }
  // The function the call would run now without looking anything up (bound,
  // and the binding confirmed since the reasoner's table last changed), else
  // null: what Holds and Execute would bind or check first.
  IUserFunction* CurrentFunction() const noexcept {
    return function_ &&
                   (reasoner_ == nullptr || reasoner_->FunctionTableVersion() == bound_version_)
               ? function_.get()
               : nullptr;
  }

  // Same name (case-sensitive), same number of arguments, and each argument
  // strictly Equals the one at its position. Reasoner, binding, comment and tag
  // do not take part.
  bool Equals(const IFunCall* other) const override;

  // A program's rules hold many calls: their blocks are recycled, without
  // the allocator's header and rounding.
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size) noexcept;
  // CalculateHash of the name plus the sum of the arguments' hash codes, wrapping.
  std::int32_t GetHashCode() const override;
  // The reasoner's printed form of the call, or without a reasoner the plain
  // form "(name arg arg)" (PrettyPrintFunCall, language/call_printer.h).
  std::string ToString() const override;
  // A new call with the same reasoner and name, then Assign; not bound.
  Ref<IFunCall> Clone() const override;
  // Takes `source`'s name, comment and tag, and clones of its arguments. Drops
  // the binding (the call binds again on its next execution); keeps the reasoner.
  void Assign(const IFunCall& source);

 private:
  ~TFunctionCall() override = default;

  // The arguments: up to three in place (most calls have two or three), more
  // in an array of their own.
  class TArgumentArray {
   public:
    TArgumentArray() noexcept { InitLocal(); }
    TArgumentArray(const TArgumentArray&) = delete;
    TArgumentArray& operator=(const TArgumentArray&) = delete;
    ~TArgumentArray() { Release(); }

    std::size_t size() const noexcept { return size_; }
    Ref<IIEValue>* data() noexcept { return IsLocal() ? store_.local : store_.heap; }
    const Ref<IIEValue>* data() const noexcept {
      return IsLocal() ? store_.local : store_.heap;
    }
    Ref<IIEValue>& operator[](std::size_t i) noexcept { return data()[i]; }
    const Ref<IIEValue>& operator[](std::size_t i) const noexcept { return data()[i]; }
    const Ref<IIEValue>* begin() const noexcept { return data(); }
    const Ref<IIEValue>* end() const noexcept { return data() + size_; }
    std::span<const Ref<IIEValue>> span() const noexcept { return {data(), size_}; }
    void push_back(Ref<IIEValue> value);
    void erase(std::size_t index) noexcept;
    void clear() noexcept;
    // Takes `values` as the arguments, in order.
    void assign(std::span<Ref<IIEValue>> values);

   private:
    static constexpr std::uint32_t kLocal = 3;
    bool IsLocal() const noexcept { return capacity_ == kLocal; }
    void InitLocal() noexcept;
    void Release() noexcept;
    union Store {
      Store() noexcept {}
      ~Store() {}
      Ref<IIEValue> local[kLocal];
      Ref<IIEValue>* heap;  // from new[], capacity_ handles
    } store_;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = kLocal;
  };

  // The function to run, binding or checking the binding first (see the top of
  // this file). With `resolve` false an unbound call does not look its name up.
  IUserFunction& BoundFunction(bool resolve);
  [[noreturn]] void RaiseUnbound() const;
  int Append(Ref<IIEValue> value);
  void SetName(std::string_view name);

  // Set once working the call out in place failed (see
  // TIEUserFunction::InlineInteger): it is run the ordinary way from then on.
  // (Placed first, in the padding after the interface's own fields.)
  mutable bool inline_refused_ = false;
  IReasoner* reasoner_ = nullptr;  // not owned
  TArgumentArray arguments_;
  Ref<IUserFunction> function_;
  // The reasoner's FunctionTableVersion when the binding was last confirmed.
  std::uint64_t bound_version_ = 0;
  // The name, one copy per distinct name for all calls (see SetName).
  const std::string* name_;
  // Few calls have a comment or a tag: kept out of line so that a call stays
  // small (88 bytes with three arguments in place).
  struct Notes {
    std::string comment;
    std::int32_t tag = 0;
  };
  std::unique_ptr<Notes> notes_;
  Notes& EnsureNotes();
  // Drops the notes once they say nothing.
  void TrimNotes() noexcept;
};

// A new call of `name` against `reasoner`, without arguments, bound to the
// function filed under `name` when there is one (otherwise it binds on its first
// execution).
Ref<IFunCall> MakeFunCall(IReasoner& reasoner, std::string_view name);

}  // namespace zephro
