#pragma once

// TIEValue: the one value type of the engine.
//
// Every slot value, argument, result, binding and parsed constant is a
// TIEValue handled as Ref<IIEValue>. A value is a tagged union: DType() says
// which datum is meaningful (a text, a 32-bit integer, a double, a counted
// reference to a multifield, fact, call, singletons vector or fuzzy set, an
// object, a class or an address) and decides how the value converts, compares,
// hashes and prints:
//
//   - Equals is strict: the integer 1 and the float 1.0 differ, and so do the
//     atom abc and the string "abc". EqualsStar compares by value, converting
//     the other value to this value's kind, so it is not symmetric.
//   - GetHashCode hashes texts with CalculateHash and numbers as their
//     (truncated) integer, so equal values hash alike.
//   - ToString gives the printed form: strings quoted with escapes, floats
//     with "%.4f", multifields as each element followed by one blank.
//
// Values are shared: holders keep Ref<IIEValue>, and Clone shares any counted
// object the value refers to. The global constants (FCTrue, FCNil...) are
// shared by every engine and must never be changed; IsValueConstant tells them.
//
// Objects. A value holds its object through a weak handle (platform/weak_object.h):
// when the object is freed elsewhere (free-object, its owner, the host), the value
// reads as holding no object (AsObject null, printed empty) instead of freed
// memory. It keeps the object's identity all the same: it stays Equals to the other
// values of that object and hashes as before, so a fact holding it can still be
// found. A value that owns its object frees it when it lets go, unless it was freed
// already.
//
// Thread safety: the reference count is atomic; nothing else is guarded.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>

#include "zephro/platform/weak_object.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/text.h"
#include "zephro/values/types.h"

namespace zephro {

class TComponent;

class TIEValue final : public IIEValue {
 public:
  // A value of kind dtNone.
  TIEValue() noexcept : IIEValue(TOwnMark<TIEValue>::Set()) {}
  // REQUIRES: kind in IEStringTypes, else EIEException "Value and type mismatch".
  TIEValue(std::string_view text, TIEType kind);
  TIEValue(TText text, TIEType kind);
  // REQUIRES: kind in IEIntegerTypes, else EIEException "Value and type mismatch".
  TIEValue(std::int32_t value, TIEType kind);
  explicit TIEValue(double value) noexcept;
  explicit TIEValue(Ref<IValueVector> list) noexcept;
  explicit TIEValue(Ref<IFact> fact) noexcept;
  explicit TIEValue(Ref<IFunCall> call) noexcept;
  explicit TIEValue(Ref<ISingletonsVector> singletons) noexcept;
  explicit TIEValue(Ref<IMembershipSet> fuzzy) noexcept;
  TIEValue(TObject* object, bool owned);
  explicit TIEValue(const TClassInfo* cls) noexcept;
  // A copy of `source`, as by Assign.
  explicit TIEValue(const IIEValue& source);

  // Shorthands for the common kinds.
  static Ref<IIEValue> Atom(std::string_view text) {
    return MakeRef<TIEValue>(text, TIEType::dtAtom);
  }
  static Ref<IIEValue> String(std::string_view text) {
    return MakeRef<TIEValue>(text, TIEType::dtString);
  }
  static Ref<IIEValue> Integer(std::int32_t value) {
    return MakeRef<TIEValue>(value, TIEType::dtInteger);
  }
  static Ref<IIEValue> Float(double value) { return MakeRef<TIEValue>(value); }

  TIEType DType() const noexcept override { return dtype_; }
  // The datum read in place, without conversion, for the matcher's inner
  // loops: the number of an integer kind (dtInteger, dtFactId, dtDescriptor),
  // of a float, the text of a text kind.
  std::int32_t IntegerDatum() const noexcept { return payload_.integer; }
  double FloatDatum() const noexcept { return payload_.real; }
  const TText& TextDatum() const noexcept { return text_; }
  // The list of a dtList value read in place; null for the other kinds.
  const IValueVector* ListDatum() const noexcept {
    return dtype_ == TIEType::dtList ? static_cast<const IValueVector*>(payload_.counted) : nullptr;
  }
  std::int32_t Tag() const noexcept override { return extras_ ? extras_->tag : 0; }
  void SetTag(std::int32_t tag) override;
  const TIEValueChangeEvent& OnChange() const override;
  void SetOnChange(TIEValueChangeEvent handler) override;

  std::string_view Text() const noexcept override {
    return IsTextKind() ? text_.View() : std::string_view();
  }
  // The shared text block of a text kind (empty for other kinds).
  const TText& SharedText() const noexcept;

  std::string AsString() const override;
  std::int32_t AsInteger() const override;
  double AsFloat() const override;
  std::int32_t AsFactId() const override;
  std::int32_t AsDescriptor() const override;
  void* AsExternalAddress() const override;
  TObject* AsObject() const override;
  const TClassInfo* AsClass() const override;
  IFact* AsFact() const override;
  IFunCall* AsFunCall() const override;
  IValueVector* AsList() const override;
  ISingletonsVector* AsSingletons() const override;
  IMembershipSet* AsFuzzy() const override;

  void SetAsAtom(std::string_view text) override { SetText(text, TIEType::dtAtom); }
  void SetAsString(std::string_view text) override { SetText(text, TIEType::dtString); }
  void SetAsVariable(std::string_view name) override { SetText(name, TIEType::dtVariable); }
  void SetAsMultiVariable(std::string_view name) override {
    SetText(name, TIEType::dtMultiVariable);
  }
  void SetAsSlot(std::string_view name) override { SetText(name, TIEType::dtSlot); }
  void SetAsMultiSlot(std::string_view name) override { SetText(name, TIEType::dtMultiSlot); }
  void SetAsInteger(std::int32_t value) override { SetInt(value, TIEType::dtInteger); }
  void SetAsFactId(std::int32_t id) override { SetInt(id, TIEType::dtFactId); }
  void SetAsDescriptor(std::int32_t value) override { SetInt(value, TIEType::dtDescriptor); }
  void SetAsFloat(double value) override;
  void SetAsExternalAddress(void* address) override;
  void SetAsObject(TObject* object) override;
  void SetAsOwnedObject(TObject* object) override;
  void SetAsClass(const TClassInfo* cls) override;
  void SetAsFact(Ref<IFact> fact) override;
  void SetAsFunCall(Ref<IFunCall> call) override;
  void SetAsList(Ref<IValueVector> list) override;
  void SetAsSingletons(Ref<ISingletonsVector> singletons) override;
  void SetAsFuzzy(Ref<IMembershipSet> fuzzy) override;

  // The number an integer or a float holds, as a double, read in place;
  // false for every other kind.
  bool ReadNumber(double& number) const noexcept {
    if (dtype_ == TIEType::dtInteger) {
      number = payload_.integer;
      return true;
    }
    if (dtype_ == TIEType::dtFloat) {
      number = payload_.real;
      return true;
    }
    return false;
  }
  // The object of an object value, else null (also when the object was freed).
  TObject* ObjectOrNull() const noexcept {
    return dtype_ == TIEType::dtObject && payload_.liveness != nullptr ? payload_.liveness->Object()
                                                                       : nullptr;
  }
  // `value` as a TIEValue when it is one (the class is final and marks its
  // objects: the test is exact), else null.
  static const TIEValue* Exactly(const IIEValue& value) noexcept {
    return value.EngineOwn() ? static_cast<const TIEValue*>(&value) : nullptr;
  }
  static TIEValue* Exactly(IIEValue& value) noexcept {
    return value.EngineOwn() ? static_cast<TIEValue*>(&value) : nullptr;
  }

  // For a variable: where the innermost binding table that held its name
  // had it last time (see TIEContext::FindBinding), a hint that lookups
  // check before use. A variable's datum is otherwise unused; the hint is
  // read and kept without ordering, so threads may share the value.
  std::uint32_t PlaceHint() const noexcept {
    return static_cast<std::uint32_t>(std::atomic_ref<const std::int32_t>(payload_.integer)
                                          .load(std::memory_order_relaxed));
  }
  void KeepPlaceHint(std::uint32_t place) noexcept {
    std::atomic_ref<std::int32_t>(payload_.integer)
        .store(static_cast<std::int32_t>(place), std::memory_order_relaxed);
  }

  bool IsOwningObject() const noexcept override { return owns_object_; }
  void Assign(const IIEValue& source) override;
  void AssignTo(IIEValue& target) const override;
  Ref<IIEValue> Clone() const override;
  bool Equals(const IIEValue* other) const override;
  bool EqualsStar(const IIEValue* other) const override;
  std::int32_t GetHashCode() const override;
  std::string ToString() const override;
  // For the kinds printed without help (texts, numbers, fact ids, nothing):
  // continues `h` over ToString() as ContinueHash would, without making the
  // string, and answers true; for the others leaves `h` and answers false.
  bool HashPrinted(std::uint32_t& h) const;
  void Reset() override;
  Ref<IIEValue> Resolve(TIEContext* context) override;

  // Told by the free-notification relay that the owned component is being
  // destroyed elsewhere: the value forgets it without freeing it again.
  void OwnedComponentDestroyed(TComponent& component);

  // A value the parser gives every place a program writes the same constant:
  // it is never changed in place (see MayChangeInPlace). Copies are not
  // marked.
  void MarkShared() noexcept { shared_ = true; }
  bool IsShared() const noexcept { return shared_; }

  // Values are made and dropped by the million: their blocks are recycled.
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size) noexcept;

 private:
  class Nexus;
  // Rarely used parts kept out of line so that a value stays small.
  struct Extras {
    std::int32_t tag = 0;
    TIEValueChangeEvent on_change;
    std::unique_ptr<Nexus> nexus;  // present while the value owns a component
    Extras();
    ~Extras();
  };

  ~TIEValue() override;

  bool IsTextKind() const noexcept { return IEStringTypes.Contains(dtype_); }
  bool HoldsCounted() const noexcept;
  RefCounted* Counted() const noexcept { return payload_.counted; }
  [[noreturn]] void RaiseNotType(const char* wanted) const;
  // Resolve for a variable.
  Ref<IIEValue> ResolveVariableHere(TIEContext& context);

  // The setter protocol: Changing releases the old datum, the caller stores
  // the new kind and datum, Changed fires OnChange.
  void Changing(TIEType new_kind) noexcept;
  void Changed();
  void SetText(std::string_view text, TIEType kind);
  void SetInt(std::int32_t value, TIEType kind);
  void SetCounted(RefCounted* object, TIEType kind);
  void TakeOwnedObject(TObject* object);
  // Lets go of the object of a dtObject value, freeing it when the value owns
  // it and it still lives.
  void ReleaseObject() noexcept;
  Extras& EnsureExtras();

  union Payload {
    std::int32_t integer;
    double real;
    RefCounted* counted;  // one reference held; the kind says which interface
    TLiveness* liveness;  // dtObject: one reference held; null for no object
    const TClassInfo* cls;
    void* address;
  };

  // The kind and the two flags first: with the base's mark they fill the
  // space the count leaves free, and a value takes 40 bytes.
  TIEType dtype_ = TIEType::dtNone;
  bool owns_object_ : 1 = false;
  bool shared_ : 1 = false;
  TText text_;
  Payload payload_{.counted = nullptr};
  std::unique_ptr<Extras> extras_;
};

// The shared constants. Created on first use, never destroyed, never changed.
IIEValue& FCTrue();
IIEValue& FCFalse();
IIEValue& FCNil();
IIEValue& FCEmptyString();
IIEValue& FCNilList();
IIEValue& FCCatch();
IIEValue& FCExcept();
IIEValue& FCFinally();
IIEValue& FCElse();
IIEValue& FCDo();
IIEValue& FCThen();
IIEValue& FCEOF();
IIEValue& FCPI();
IIEValue& FCZero();

// True when `value` is one of the fourteen shared constants (identity).
bool IsValueConstant(const IIEValue* value) noexcept;
// False for the shared constants and for values marked shared (MarkShared):
// what must change such a value makes a new one instead.
bool MayChangeInPlace(const IIEValue* value) noexcept;

// The boolean atoms TRUE and FALSE as shared constants.
inline Ref<IIEValue> BoolValue(bool b) { return Ref<IIEValue>(b ? &FCTrue() : &FCFalse()); }
// Whether `value` is nil: the symbol without text (what a slot holds that
// was given no value, FCNil and its copies) or the word nil.
inline bool IsNilValue(const IIEValue& value) {
  return value.DType() == TIEType::dtAtom && (value.Text().empty() || value.Text() == "nil");
}

// Formats a double the way every printed float looks: "%.4f", C locale.
std::string FormatFloat(double value);

}  // namespace zephro
