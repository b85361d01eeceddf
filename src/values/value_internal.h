#pragma once

// Helpers shared by the value sources; not part of the public interface.

#include <string>

#include "zephro/values/interfaces.h"

namespace zephro {

// A new empty multifield.
Ref<IValueVector> MakeValueVector();

// The printed forms of an object and a class reference.
std::string ObjectText(const TObject* object);
std::string ClassText(const TClassInfo* cls);

// An owned copy of an owned object: a component gets a new instance of its
// class with the same owner, assigned from it; a persistent object a clone.
// Anything else raises EIEException (SUncloneableValue).
TObject* CopyOwnedObject(const TObject* object);

// Resolution in an evaluation context, provided by the engine's context:
// the value bound to variable `name` (raises SCorruptedVariable when unbound),
// whether `object` is a pattern-binding record, and the fact such a record
// stands for, as a fact value.
Ref<IIEValue> ResolveVariable(TIEContext& context, std::string_view name);
bool IsPatternBinding(const TObject* object) noexcept;
Ref<IIEValue> ResolvePatternBinding(TIEContext& context, const TObject& record);
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

}  // namespace zephro
