#pragma once

// Helpers shared by the value sources; not part of the public interface.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <typeinfo>

#include "zephro/values/interfaces.h"
#include "zephro/values/value.h"

namespace zephro {

// A new empty multifield.
Ref<IValueVector> MakeValueVector();

// The printed forms of an object and a class reference.
std::string ObjectText(const TObject* object);
std::string ClassText(const TClassInfo* cls);

// A counted reference to the liveness block of `object`, for a value to hold
// (null for no object).
TLiveness* HoldLiveness(TObject* object);

// An owned copy of an owned object: a component gets a new instance of its
// class with the same owner, assigned from it; a persistent object a clone.
// Anything else raises EIEException (SUncloneableValue).
TObject* CopyOwnedObject(const TObject* object);

// Resolution in an evaluation context, provided by the engine's context:
// the value bound to variable `name` (raises SCorruptedVariable when unbound;
// `hint` is where the innermost table held the name last time, kept up to
// date), whether `object` is a pattern-binding record, and the fact such a
// record stands for, as a fact value.
Ref<IIEValue> ResolveVariable(TIEContext& context, const TText& name, std::uint32_t& hint);
bool IsPatternBinding(const TObject* object) noexcept;
Ref<IIEValue> ResolvePatternBinding(TIEContext& context, const TObject& record);
// The fuzzy value singletons describe, provided by the fuzzy values: each x
// and y a number, or a variable or call (resolved in `context`) giving one;
// memberships in [0, 1]. Raises SExpectedNumVarFun or SInvalidFuzzyValue.
Ref<IIEValue> ResolveSingletons(TIEContext* context, const ISingletonsVector& singletons);
// The slot value such a record stands for, read in place (no reference taken),
// or null when the record stands for the whole fact.
IIEValue* PatternBindingSlot(TIEContext& context, const TObject& record);
// The same slot value without raising: null also when the match lacks the
// fact, its template the slot, or the multislot the position.
IIEValue* PeekPatternBindingSlot(const TIEContext& context, const TObject& record);
// PeekPatternBindingSlot for `object` when it is a pattern-binding record,
// else null (also for a null object).
IIEValue* PeekBoundSlot(const TIEContext& context, const TObject* object);
// The record's own text, "FactIdx=N SlotIdx=S".
std::string PatternBindingText(const TObject& record);

// Truncates toward zero into 32 bits, saturating where the double does not fit
// (NaN becomes 0) so that no conversion is undefined.
inline std::int32_t TruncateToInt32(double d) {
  if (std::isnan(d)) {
    return 0;
  }
  if (d >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (d <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(d);
}

// The value as a TIEValue when it is one, else null.
inline const TIEValue* AsTIEValue(const IIEValue* v) { return TIEValue::Exactly(*v); }

// The text of FormatFloat, written into `buf`: four decimals; "inf", "-inf",
// and "nan" for every NaN, whatever its sign bit.
inline std::string_view FormatFloatInto(char (&buf)[400], double value) {
  if (std::isnan(value)) {
    return "nan";
  }
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 4);
  if (ec != std::errc()) {
    return "nan";
  }
  return std::string_view(buf, static_cast<std::size_t>(end - buf));
}

}  // namespace zephro
