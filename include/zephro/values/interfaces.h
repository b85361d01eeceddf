#pragma once

// The counted interfaces that every layer of the engine names.
//
// Values (IIEValue) hold references to multifields, fuzzy sets, facts and
// function calls; those objects are defined by later subsystems, which
// implement the interfaces declared here. Each interface is the contract the
// rest of the engine relies on; the subsystem that implements it documents the
// details.
//
// Thread safety: reference counts are atomic, except a match token's
// (IReteToken), which is confined to the engine's thread and lock (see
// platform/ref.h); nothing else is guarded.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "zephro/platform/ref.h"
#include "zephro/values/types.h"

namespace zephro {

class TObject;
class TClassInfo;
class TIEContext;
class IIEValue;
class TIEValue;
class TValueVector;
class TFact;
class TFunctionCall;
class TIEUserFunction;
class IValueVector;
class ISingletonsVector;
class IMembershipSet;
class IFunCall;
class IFact;
class IFactTemplate;
class IFactSlot;
class IUserFunction;
class IReasoner;
class IIEDefinedType;
class IFactEnvironment;
class IReteToken;

using TIEValueChangeEvent = std::function<void(IIEValue& value)>;

// Marks the objects of an interface's own engine class (a final class): its
// Exactly test reads the mark instead of testing the object's type. Only
// `Own` can make a mark that is set.
template <class Own>
class TOwnMark {
 public:
  TOwnMark() noexcept = default;
  bool IsSet() const noexcept { return set_; }

 private:
  friend Own;
  static TOwnMark Set() noexcept {
    TOwnMark mark;
    mark.set_ = true;
    return mark;
  }

  bool set_ = false;
};

// One datum of the engine: a tagged union whose kind is DType(). See
// zephro/values/value.h for the implementation, TIEValue, and the exact
// conversion, equality, hashing and printing rules.
class IIEValue : public RefCounted {
 public:
  virtual TIEType DType() const noexcept = 0;
  virtual std::int32_t Tag() const noexcept = 0;
  virtual void SetTag(std::int32_t tag) = 0;
  virtual const TIEValueChangeEvent& OnChange() const = 0;
  virtual void SetOnChange(TIEValueChangeEvent handler) = 0;

  // The text of a text kind, without conversion; empty for other kinds.
  virtual std::string_view Text() const noexcept = 0;

  // Getters. Each converts as the value model says or raises EIEException
  // ("Not a %s type...") leaving the value unchanged.
  virtual std::string AsString() const = 0;
  std::string AsAtom() const { return AsString(); }
  std::string AsVariable() const { return AsString(); }
  std::string AsMultiVariable() const { return AsString(); }
  std::string AsSlot() const { return AsString(); }
  std::string AsMultiSlot() const { return AsString(); }
  virtual std::int32_t AsInteger() const = 0;
  virtual double AsFloat() const = 0;
  double AsNumeric() const { return AsFloat(); }
  virtual std::int32_t AsFactId() const = 0;
  virtual std::int32_t AsDescriptor() const = 0;
  virtual void* AsExternalAddress() const = 0;
  // The borrowed objects below stay valid while the value holds them.
  virtual TObject* AsObject() const = 0;
  TObject* AsOwnedObject() const { return AsObject(); }
  virtual const TClassInfo* AsClass() const = 0;
  virtual IFact* AsFact() const = 0;
  virtual IFunCall* AsFunCall() const = 0;
  virtual IValueVector* AsList() const = 0;
  virtual ISingletonsVector* AsSingletons() const = 0;
  virtual IMembershipSet* AsFuzzy() const = 0;

  // Setters: release the old datum, store the new one, fire OnChange.
  virtual void SetAsAtom(std::string_view text) = 0;
  virtual void SetAsString(std::string_view text) = 0;
  virtual void SetAsVariable(std::string_view name) = 0;
  virtual void SetAsMultiVariable(std::string_view name) = 0;
  virtual void SetAsSlot(std::string_view name) = 0;
  virtual void SetAsMultiSlot(std::string_view name) = 0;
  virtual void SetAsInteger(std::int32_t value) = 0;
  virtual void SetAsFactId(std::int32_t id) = 0;
  virtual void SetAsDescriptor(std::int32_t value) = 0;
  virtual void SetAsFloat(double value) = 0;
  virtual void SetAsExternalAddress(void* address) = 0;
  virtual void SetAsObject(TObject* object) = 0;
  // The value owns `object` from now on and frees it when it changes or dies.
  virtual void SetAsOwnedObject(TObject* object) = 0;
  virtual void SetAsClass(const TClassInfo* cls) = 0;
  virtual void SetAsFact(Ref<IFact> fact) = 0;
  virtual void SetAsFunCall(Ref<IFunCall> call) = 0;
  virtual void SetAsList(Ref<IValueVector> list) = 0;
  virtual void SetAsSingletons(Ref<ISingletonsVector> singletons) = 0;
  virtual void SetAsFuzzy(Ref<IMembershipSet> fuzzy) = 0;

  virtual bool IsOwningObject() const noexcept = 0;
  // Takes `source`'s kind, datum and tag; shares counted objects, copies an
  // owned object.
  virtual void Assign(const IIEValue& source) = 0;
  // Writes this value's kind and datum into `target` through its setters.
  virtual void AssignTo(IIEValue& target) const = 0;
  virtual Ref<IIEValue> Clone() const = 0;
  // Strict equality: same kind (fuzzy values decide for themselves), same datum.
  virtual bool Equals(const IIEValue* other) const = 0;
  // Equality by value, converting `other` to this value's kind.
  virtual bool EqualsStar(const IIEValue* other) const = 0;
  virtual std::int32_t GetHashCode() const = 0;
  virtual std::string ToString() const = 0;
  virtual void Reset() = 0;
  // The value this value stands for in `context` (may be null): a variable's
  // binding, a call's result, or the value itself.
  virtual Ref<IIEValue> Resolve(TIEContext* context) = 0;
  // Whether this is a TIEValue (see TOwnMark).
  bool EngineOwn() const noexcept { return own_mark_.IsSet(); }

 protected:
  IIEValue() noexcept = default;
  explicit IIEValue(TOwnMark<TIEValue> mark) noexcept : own_mark_(mark) {}

 private:
  TOwnMark<TIEValue> own_mark_;
};

// A multifield: an ordered list of values, zero-based; an element may be null.
class IValueVector : public RefCounted {
 public:
  virtual int ValueCount() const noexcept = 0;
  // The elements, for iteration; valid until the vector changes.
  virtual std::span<const Ref<IIEValue>> Values() const noexcept = 0;
  virtual IIEValue* Get(int index) const = 0;
  virtual void Put(int index, Ref<IIEValue> value) = 0;
  virtual int Add(Ref<IIEValue> value) = 0;
  virtual void Insert(int index, Ref<IIEValue> value) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;
  // Position of `value` by identity, or -1.
  virtual int IndexOf(const IIEValue* value) const = 0;
  // Removes the first element identical to `value`; returns its former index or -1.
  virtual int Remove(const IIEValue* value) = 0;
  virtual IIEValue* First() const = 0;
  virtual IIEValue* Last() const = 0;
  // Adds every element of `other`, sharing the element objects.
  virtual void Append(const IValueVector& other) = 0;
  // Replaces the content with clones of `other`'s elements and takes its tag.
  virtual void Assign(const IValueVector& other) = 0;
  virtual Ref<IValueVector> Clone() const = 0;
  virtual bool Equals(const IValueVector* other) const = 0;
  virtual std::int32_t GetHashCode() const = 0;
  virtual std::string ToString() const = 0;
  virtual std::int32_t Tag() const noexcept = 0;
  virtual void SetTag(std::int32_t tag) = 0;
  // The levels of lists this one holds, itself included: 1 for a list of no
  // lists. Never more than kMaxNesting (values/nesting.h).
  virtual int Depth() const noexcept = 0;
  // Whether this is a TValueVector (see TOwnMark).
  bool EngineOwn() const noexcept { return own_mark_.IsSet(); }

 protected:
  IValueVector() noexcept = default;
  explicit IValueVector(TOwnMark<TValueVector> mark) noexcept : own_mark_(mark) {}

 private:
  TOwnMark<TValueVector> own_mark_;
};

// Knows the textual syntax of singletons (the engine's printer does).
class ISingletonsParser {
 public:
  virtual std::string SingletonsToString(const ISingletonsVector& singletons) const = 0;
  virtual ~ISingletonsParser() = default;
};

// The (x, y) pairs that describe a fuzzy set point by point.
class ISingletonsVector : public RefCounted {
 public:
  virtual int Count() const noexcept = 0;
  virtual int Add(Ref<IIEValue> x, Ref<IIEValue> y) = 0;
  virtual void Insert(int index, Ref<IIEValue> x, Ref<IIEValue> y) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;
  virtual IIEValue* XValue(int index) const = 0;
  virtual IIEValue* YValue(int index) const = 0;
  virtual void SetXValue(int index, Ref<IIEValue> x) = 0;
  virtual void SetYValue(int index, Ref<IIEValue> y) = 0;
  virtual int IndexOfX(const IIEValue* value) const = 0;
  virtual int IndexOfY(const IIEValue* value) const = 0;
  virtual void Append(const ISingletonsVector& other) = 0;
  virtual const ISingletonsParser* Parser() const noexcept = 0;
  // `parser` is borrowed; it must outlive the vector or be reset.
  virtual void SetParser(const ISingletonsParser* parser) = 0;
  virtual void Assign(const ISingletonsVector& other) = 0;
  virtual Ref<ISingletonsVector> Clone() const = 0;
  virtual bool Equals(const ISingletonsVector* other) const = 0;
  virtual std::int32_t GetHashCode() const = 0;
  virtual std::string ToString() const = 0;
  virtual std::int32_t Tag() const noexcept = 0;
  virtual void SetTag(std::int32_t tag) = 0;
};

// A fuzzy value: a fuzzy set over the universe of a fuzzy variable. The fuzzy
// logic subsystem implements it; values rely only on what follows.
class IMembershipSet : public RefCounted {
 public:
  virtual std::string ToString() const = 0;
  // A fuzzy value decides how it compares with any value, crisp or fuzzy.
  virtual bool Equals(const IIEValue& other) const = 0;
  virtual bool EqualsStar(const IIEValue& other) const = 0;
  // The defuzzified number standing for the set.
  virtual double CrispValue() const = 0;
  virtual Ref<IMembershipSet> Clone() const = 0;
  // True when `other` is the same set: the same points of the same variable.
  virtual bool SameSet(const IMembershipSet& other) const = 0;
};

// The engine side of function resolution: a reasoner files user functions by
// name and resolves calls against them. The inference engine implements it.
// Not counted: a reasoner is a component that outlives the functions filed
// with it or detaches them before it dies.
class IReasoner {
 public:
  virtual ~IReasoner() = default;
  // Files `function` under its name, replacing any function of that name.
  virtual void AddUserFunction(IUserFunction& function) = 0;
  // Removes the entry filed under `function`'s name.
  virtual void RemoveUserFunction(IUserFunction& function) = 0;
  // The function filed under `name`, or null.
  virtual IUserFunction* ContainsUserFunction(std::string_view name) const = 0;
  // A change counter that moves whenever the function table changes, so
  // calls can cache what they resolved. Every call a rule makes reads it:
  // a field, not a virtual call.
  std::uint64_t FunctionTableVersion() const noexcept { return function_table_version_; }
  // The printed form of a call in the reasoner's printing settings.
  virtual std::string PrettyPrint(const IFunCall& call) const = 0;

 protected:
  // Implementations call this whenever they file or unfile a function.
  void FunctionTableChanged() noexcept { ++function_table_version_; }

 private:
  std::uint64_t function_table_version_ = 0;
};

// A function that calls can reach: built-in, host-defined or interpreted.
// Implemented by TIEUserFunction and its descendants (functions subsystem).
class IUserFunction : public RefCounted {
 public:
  virtual const std::string& FunctionName() const noexcept = 0;
  virtual void SetFunctionName(std::string_view name) = 0;
  virtual const std::string& Comment() const noexcept = 0;
  virtual void SetComment(std::string_view comment) = 0;
  virtual const std::string& ArgumentString() const noexcept = 0;
  virtual void SetArgumentString(std::string_view syntax) = 0;
  virtual std::int32_t MinArgumentCount() const noexcept = 0;
  virtual void SetMinArgumentCount(std::int32_t n) = 0;
  virtual std::int32_t MaxArgumentCount() const noexcept = 0;
  virtual void SetMaxArgumentCount(std::int32_t n) = 0;

  // The reasoners (engines) this function is filed with.
  virtual int ReasonerCount() const noexcept = 0;
  virtual IReasoner* Reasoner(int index) const = 0;
  virtual int IndexOfReasoner(const IReasoner* reasoner) const noexcept = 0;
  // Adds `reasoner` unless present and files the function with it.
  virtual int AddReasoner(IReasoner& reasoner) = 0;
  virtual void DeleteReasoner(int index) = 0;
  virtual void DeleteReasoner(IReasoner& reasoner) = 0;
  virtual void ClearReasoners() = 0;

  // Help text: the comment and the syntax line, as `reasoner` prints them.
  virtual std::string ToString(const IReasoner* reasoner) const = 0;
  // Checks the argument count of `call` ("Too few arguments for %s", "Too many
  // arguments for %s"), then runs the function; returns its result, never null
  // (a function without result returns FCNil).
  virtual Ref<IIEValue> Call(IFunCall& call, TIEContext& context) = 0;
  // Whether `call` holds, what a pattern's predicate asks: true unless Call
  // returns FALSE (the default does just that). Functions that can decide
  // without building a result value override it; errors are those of Call.
  virtual bool Holds(IFunCall& call, TIEContext& context);
  // True for functions defined in the language (deffunction): the engine's
  // Clear removes those and keeps the package functions.
  virtual bool IsInterpreted() const noexcept { return false; }

  // Whether this is a TIEUserFunction, the base of the engine's functions
  // (see TOwnMark; here the mark is set by the base, not by a final class).
  bool EngineOwn() const noexcept { return own_mark_.IsSet(); }

 protected:
  IUserFunction() noexcept = default;
  explicit IUserFunction(TOwnMark<TIEUserFunction> mark) noexcept : own_mark_(mark) {}

 private:
  TOwnMark<TIEUserFunction> own_mark_;
};

// A function call expression: a name and unevaluated arguments. Implemented by
// TFunctionCall in the functions subsystem.
class IFunCall : public RefCounted {
 public:
  virtual const std::string& Name() const noexcept = 0;
  virtual const std::string& Comment() const noexcept = 0;
  virtual void SetComment(std::string_view comment) = 0;
  virtual std::int32_t Tag() const noexcept = 0;
  virtual void SetTag(std::int32_t tag) = 0;
  virtual IReasoner* Reasoner() const noexcept = 0;

  virtual int ArgumentCount() const noexcept = 0;
  // The unevaluated arguments; borrowed, valid until the call changes.
  virtual IIEValue* Argument(int index) const = 0;
  virtual std::span<const Ref<IIEValue>> Arguments() const noexcept = 0;
  virtual void SetArgument(int index, Ref<IIEValue> value) = 0;
  // Appends `value` itself (shared) and returns its index.
  virtual int AddArgument(Ref<IIEValue> value) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  // The bound function, or null until the call is first executed.
  virtual IUserFunction* UserFunction() const noexcept = 0;
  virtual void SetUserFunction(IUserFunction* function) = 0;

  // Binds the function through the reasoner if needed and runs it.
  virtual Ref<IIEValue> Execute(TIEContext& context) = 0;
  // Runs an already bound call for its effect only.
  virtual void SimpleExecute(TIEContext& context) = 0;
  // Binds the function if needed and asks it whether the call holds (see
  // IUserFunction::Holds). The default executes the call and compares the
  // result with FALSE.
  virtual bool Holds(TIEContext& context);

  virtual bool Equals(const IFunCall* other) const = 0;
  virtual std::int32_t GetHashCode() const = 0;
  virtual std::string ToString() const = 0;
  virtual Ref<IFunCall> Clone() const = 0;

  // Whether this is a TFunctionCall (see TOwnMark).
  bool EngineOwn() const noexcept { return own_mark_.IsSet(); }

 protected:
  IFunCall() noexcept = default;
  explicit IFunCall(TOwnMark<TFunctionCall> mark) noexcept : own_mark_(mark) {}

 private:
  TOwnMark<TFunctionCall> own_mark_;
};

// The checks a named type applies to values (the deftype construct). The
// defined-types subsystem implements it; slots hold one when a slot refers to
// a named or inline type.
class IIEDefinedType : public RefCounted {
 public:
  virtual const std::string& TypeName() const noexcept = 0;
  // The primitive kinds the type admits.
  virtual TIETypes PrimitiveTypes() const = 0;
  // Told the slot's new kinds when the slot's type changes.
  virtual void SetPrimitiveTypes(TIETypes types) = 0;
  virtual bool IsValid(const IIEValue* value) const = 0;
  // Why `value` is not valid (empty when it is).
  virtual std::string GetInvalidValueString(const IIEValue& value) const = 0;
  virtual Ref<IIEValue> CreateValidDefault(bool multislot) const = 0;
  // For a slot's own, unnamed type (named SImplicitDefinedType): how the
  // slot's definition writes it, "(type words) " and the constraint clauses,
  // each followed by a blank; empty when it narrows nothing.
  virtual std::string OwnTypeText() const { return std::string(); }
  // The type it extends, or null.
  virtual IIEDefinedType* Ancestor() const noexcept { return nullptr; }
  // True for a type made for one slot, with no name of its own.
  virtual bool Implicit() const noexcept { return false; }
  // The type's definition in the language's syntax.
  virtual std::string ToString() const { return TypeName(); }
};

// What templates and facts ask of the engine that owns them: its type-check
// setting, its evaluation context, its fact counter and its printer. The
// inference engine implements it; templates without an owner fall back to
// their own defaults (no dynamic checks, unpadded ids, the plain printer).
class IFactEnvironment {
 public:
  virtual ~IFactEnvironment() = default;
  virtual TTypeChecks TypeChecks() const noexcept = 0;
  // The context in which dynamic defaults are evaluated.
  virtual TIEContext& RootContext() = 0;
  // The id the next asserted fact will get; ids print padded to its width.
  virtual std::int32_t NextFactId() const noexcept = 0;
  virtual std::string PrintFact(const IFact& fact) const = 0;
  virtual std::string PrintTemplate(const IFactTemplate& fact_template) const = 0;
  virtual std::string PrintSlot(const IFactSlot& slot) const = 0;
  // Parses `text` as a fuzzy value of `slot`'s fuzzy variable.
  virtual Ref<IIEValue> ParseFuzzyValue(const IFactSlot& slot, std::string_view text) = 0;
};

// One slot of a fact template: a name, the allowed kinds, a default, and an
// optional defined type. Implemented by TFactSlot (facts subsystem).
class IFactSlot : public RefCounted {
 public:
  virtual const std::string& Name() const noexcept = 0;
  virtual void SetName(std::string_view name) = 0;
  virtual IIEValue* SlotDefault() const noexcept = 0;
  virtual void SetSlotDefault(Ref<IIEValue> value) = 0;
  virtual TIETypes SlotType() const noexcept = 0;
  virtual void SetSlotType(TIETypes types) = 0;
  virtual IIEDefinedType* ExtendedTypeInfo() const noexcept = 0;
  virtual void SetExtendedTypeInfo(Ref<IIEDefinedType> type) = 0;
  virtual bool DefaultDynamic() const noexcept = 0;
  virtual void SetDefaultDynamic(bool dynamic) = 0;
  virtual std::int32_t Tag() const noexcept = 0;
  virtual void SetTag(std::int32_t tag) = 0;
  // The owning template (not counted), or null for a free-standing slot.
  virtual IFactTemplate* Template() const noexcept = 0;
  virtual std::string TemplateName() const = 0;
  bool IsFuzzy() const noexcept { return SlotType().Contains(TIEType::dtFuzzy); }
  bool IsMultiSlot() const noexcept { return SlotType().Contains(TIEType::dtMultiSlot); }

  virtual bool IsValid(const IIEValue* value) const = 0;
  // The explanation of why `value` does not fit, wrapped as "%s for %s slot".
  virtual std::string GetInvalidValueString(const IIEValue& value) const = 0;
  virtual Ref<IIEValue> CreateValidDefault(bool multislot) const = 0;
  virtual bool Equals(const IFactSlot* other) const = 0;
  virtual Ref<IFactSlot> Clone() const = 0;
  virtual std::string ToString() const = 0;
};

// A kind of fact: a name and slots. Slots are walked in alphabetical order of
// their names everywhere order matters; SlotIndex gives a slot's position in
// that order, which is also where facts keep its value.
// Implemented by TFactTemplate (facts subsystem).
class IFactTemplate : public RefCounted {
 public:
  virtual const std::string& TemplateName() const noexcept = 0;
  virtual void SetTemplateName(std::string_view name) = 0;
  virtual const std::string& Comment() const noexcept = 0;
  virtual void SetComment(std::string_view comment) = 0;
  virtual IFactTemplate* Parent() const noexcept = 0;
  virtual void SetParent(IFactTemplate* parent) = 0;
  virtual bool IsBackwardChaining() const noexcept = 0;
  virtual void SetBackwardChaining(bool on) = 0;
  virtual std::int32_t Tag() const noexcept = 0;
  virtual void SetTag(std::int32_t tag) = 0;
  // The engine the template belongs to, or null for a free-standing
  // template. Not owned; the engine detaches its templates before it dies.
  virtual IFactEnvironment* Owner() const noexcept = 0;
  virtual void SetOwner(IFactEnvironment* owner) = 0;

  virtual bool IsOrdered() const noexcept = 0;
  virtual bool IsFuzzy() const = 0;
  virtual int SlotCount() const noexcept = 0;
  // The slot names, sorted.
  virtual std::span<const std::string> SlotNames() const noexcept = 0;
  // Identifies the current order of SlotNames: a value that changes whenever
  // the names or their order change and is never reused, so that a reader may
  // remember slot positions under it; 0 when the template does not say.
  virtual std::uint64_t LayoutSerial() const noexcept { return 0; }
  // The slot at `index` in SlotNames order.
  virtual IFactSlot* SlotAt(int index) const = 0;
  // Position of `name` in SlotNames, or -1.
  virtual int SlotIndex(std::string_view name) const noexcept = 0;
  // The slot called `name`; raises "No such slot name: "%s"" when absent.
  virtual IFactSlot* GetSlot(std::string_view name) const = 0;
  IFactSlot* FindSlot(std::string_view name) const {
    int i = SlotIndex(name);
    return i < 0 ? nullptr : SlotAt(i);
  }
  bool ContainsSlot(std::string_view name) const { return SlotIndex(name) >= 0; }
  // The first slot whose defined type is `type`, or null.
  virtual IFactSlot* ContainsType(const IIEDefinedType* type) const = 0;

  virtual IFactSlot* AddSlot(std::string_view name, Ref<IIEValue> default_value) = 0;
  virtual IFactSlot* AddMultiSlot(std::string_view name, Ref<IIEValue> default_value) = 0;
  virtual void AddSlot(Ref<IFactSlot> slot) = 0;
  virtual void SetSlot(std::string_view name, Ref<IFactSlot> slot) = 0;
  virtual void RemoveSlot(std::string_view name) = 0;
  virtual void ClearSlots() = 0;
  // Replaces the slots with clones of `source`'s.
  virtual void AssignSlots(const IFactTemplate& source) = 0;
  virtual void Assign(const IFactTemplate& source) = 0;

  // A new fact of this template filled with the slot defaults.
  virtual Ref<IFact> NewFact() = 0;
  virtual void FillFactWithDefaults(IFact& fact) = 0;

  virtual bool Equals(const IFactTemplate* other) const = 0;
  virtual std::int32_t GetHashCode() const = 0;
  virtual std::string ToString() const = 0;
  virtual Ref<IFactTemplate> Clone() const = 0;
};

// One fact of working memory: a template, an id given when the fact is
// asserted (-1 before), and one value per slot. Implemented by TFact (facts
// subsystem).
class IFact : public RefCounted {
 public:
  virtual std::int32_t GetID() const noexcept = 0;
  virtual void SetID(std::int32_t id) = 0;
  // The engine whose working memory holds the fact, or null: one fact object
  // is in one working memory at most.
  virtual const IFactEnvironment* Holder() const noexcept = 0;
  virtual void SetHolder(const IFactEnvironment* holder) noexcept = 0;
  virtual std::int32_t Tag() const noexcept = 0;
  virtual void SetTag(std::int32_t tag) = 0;
  virtual IFactTemplate* Template() const noexcept = 0;
  virtual void SetTemplate(Ref<IFactTemplate> fact_template) = 0;

  // The value of slot `name`, materialised from the slot default on first
  // read. Raises "Fact Template is missing" or "No such slot name: "%s"".
  virtual IIEValue* GetValue(std::string_view name) const = 0;
  // Stores `value` itself in slot `name` (conversions and checks as the
  // engine's type checking asks).
  virtual void SetValue(std::string_view name, Ref<IIEValue> value) = 0;
  // The value at `index` in the template's SlotNames order; the fast path of
  // matching. REQUIRES: 0 <= index < Template()->SlotCount().
  virtual IIEValue* ValueAt(int index) const = 0;
  virtual void SetValueAt(int index, Ref<IIEValue> value) = 0;
  // True and the value when slot `name` exists.
  virtual bool ContainsKey(std::string_view name, Ref<IIEValue>* value) const = 0;

  // "f-N " and the printed fact, N padded to the engine's counter width.
  virtual std::string GetToIDString() const = 0;
  virtual std::string ToString() const = 0;
  virtual std::int32_t GetHashCode() const = 0;
  virtual bool Equals(const IFact* other) const = 0;
  // Takes `source`'s template, values and id.
  virtual void Assign(const IFact& source) = 0;
  // Copies only the slot values; both facts must share one template.
  virtual void AssignValues(const IFact& source) = 0;
  virtual Ref<IFact> Clone() const = 0;
  // Whether this is a TFact (see TOwnMark).
  bool EngineOwn() const noexcept { return own_mark_.IsSet(); }

 protected:
  IFact() noexcept = default;
  explicit IFact(TOwnMark<TFact> mark) noexcept : own_mark_(mark) {}

 private:
  TOwnMark<TFact> own_mark_;
};

// A partial match travelling through the matching network: a chain of facts,
// one per matched pattern, with the action that produced it. Implemented by
// TIEToken (rules subsystem).
class IReteToken : public RefCounted {
 public:
  // Number of facts in the chain.
  virtual std::int32_t Count() const noexcept = 0;
  // The fact of pattern `index` (0-based, from the first pattern), or null.
  virtual IFact* GetFacts(int index) const = 0;
  // The last fact of the chain.
  virtual IFact* Fact() const noexcept = 0;
  virtual IReteToken* Parent() const noexcept = 0;
  virtual TTokenAction Tag() const noexcept = 0;
  virtual float Strength() const noexcept = 0;
  virtual std::int32_t NegatedCount() const noexcept = 0;
  virtual std::int32_t SortCode() const noexcept = 0;
  virtual bool Equals(const IReteToken* other) const = 0;
  virtual std::string ToString() const = 0;
  // The fact ids of the chain as "f-1, f-2".
  virtual std::string GetToFactsString() const = 0;
};

}  // namespace zephro
