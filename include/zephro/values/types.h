#pragma once

// The kinds of value the engine handles, the sets of kinds the rest of the
// system tests against, the type keywords of the language and the small
// enumerations shared by several subsystems.

#include <array>
#include <cstdint>
#include <string_view>

#include "zephro/platform/enum_set.h"

namespace zephro {

// The kind of a value (its DType). The order is fixed: persisted and printed
// forms use the ordinals.
enum class TIEType : std::uint8_t {
  dtNone,
  dtAtom,
  dtString,
  dtInteger,
  dtVariable,
  dtFactId,
  dtFloat,
  dtFunCall,
  dtFact,
  dtList,
  dtDescriptor,
  dtObject,
  dtClass,
  dtExternalAddress,
  dtSingletons,
  dtFuzzy,
  dtMultiVariable,
  dtSlot,
  dtMultiSlot,
};
inline constexpr int kIETypeCount = 19;

// Enumeration names of the kinds, as messages print them ("dtAtom").
inline constexpr std::array<std::string_view, kIETypeCount> kIETypeNames = {
    "dtNone",   "dtAtom",       "dtString",    "dtInteger",         "dtVariable",
    "dtFactId", "dtFloat",      "dtFunCall",   "dtFact",            "dtList",
    "dtDescriptor", "dtObject", "dtClass",     "dtExternalAddress", "dtSingletons",
    "dtFuzzy",  "dtMultiVariable", "dtSlot",   "dtMultiSlot"};
static_assert(kIETypeNames.size() == kIETypeCount);

constexpr std::string_view IETypeName(TIEType t) {
  auto i = static_cast<std::size_t>(t);
  return i < kIETypeNames.size() ? kIETypeNames[i] : std::string_view("<UNKNOWN>");
}

using TIETypes = EnumSet<TIEType>;

// Kinds whose datum is the text.
inline constexpr TIETypes IEStringTypes{TIEType::dtAtom,          TIEType::dtString,
                                        TIEType::dtVariable,      TIEType::dtMultiVariable,
                                        TIEType::dtSlot,          TIEType::dtMultiSlot};
inline constexpr TIETypes IENumericTypes{TIEType::dtInteger, TIEType::dtFloat};
// Kinds whose datum is an integer.
inline constexpr TIETypes IEIntegerTypes{TIEType::dtInteger, TIEType::dtFactId,
                                         TIEType::dtDescriptor};
// Kinds accepted where a fact id is wanted.
inline constexpr TIETypes IEFactTypes{TIEType::dtInteger, TIEType::dtFactId, TIEType::dtFloat};
inline constexpr TIETypes IEVariableTypes{TIEType::dtVariable, TIEType::dtMultiVariable};
// Kinds that pass every type check at parse time: their value is only known later.
inline constexpr TIETypes IEAlwaysValidTypes{TIEType::dtNone, TIEType::dtVariable,
                                             TIEType::dtFunCall, TIEType::dtMultiVariable};
inline constexpr TIETypes IEMultiSlotTypes{TIEType::dtList, TIEType::dtMultiSlot};
// Kinds allowed in a single-field slot.
inline constexpr TIETypes IESlotTypes{
    TIEType::dtAtom,     TIEType::dtString, TIEType::dtInteger,    TIEType::dtVariable,
    TIEType::dtFactId,   TIEType::dtFloat,  TIEType::dtFunCall,    TIEType::dtFact,
    TIEType::dtDescriptor, TIEType::dtObject, TIEType::dtClass, TIEType::dtExternalAddress};
inline constexpr TIETypes IESlotTypesWithFuzzy =
    IESlotTypes | TIETypes{TIEType::dtSingletons, TIEType::dtFuzzy};
// Kinds whose text form is parsed again, not copied, when a construct is rebuilt.
inline constexpr TIETypes IEReparseTypes{TIEType::dtFunCall, TIEType::dtFact, TIEType::dtFuzzy};

// Type keywords of slot, deftype and deffunction declarations.
inline constexpr char STypeSymbolKeyword[] = "SYMBOL";
inline constexpr char STypeAtomKeyword[] = "ATOM";
inline constexpr char STypeStringKeyword[] = "STRING";
inline constexpr char STypeIntegerKeyword[] = "INTEGER";
inline constexpr char STypeFloatKeyword[] = "FLOAT";
inline constexpr char STypeLexemeKeyword[] = "LEXEME";
inline constexpr char STypeNumberKeyword[] = "NUMBER";
inline constexpr char STypeClassKeyword[] = "CLASS";
inline constexpr char STypeDescriptorKeyword[] = "DESCRIPTOR";
inline constexpr char STypeObjectKeyword[] = "OBJECT";
inline constexpr char STypeExternalAddrKeyword[] = "EXTERNALADDRESS";
inline constexpr char STypeFuzzyKeyword[] = "FUZZY";
inline constexpr char STypeFactKeyword[] = "FACT";
inline constexpr char STypeFactIdKeyword[] = "FACTID";
inline constexpr char STypeVariableKeyword[] = "?VARIABLE";

// Kinds of allowed-value constraint of a defined type.
enum class TValueConstraint : std::uint8_t { vcAtom, vcString, vcInteger, vcFloat };
// When defined types are checked: while parsing, or whenever a value is stored.
enum class TTypeCheck : std::uint8_t { tcStatic, tcDynamic };
using TTypeChecks = EnumSet<TTypeCheck>;
enum class TTemplateSlotType : std::uint8_t { tstSlot, tstMultiSlot };
// How the parser reports errors: at the first one, or all collected at the end.
enum class TErrorHandling : std::uint8_t { ehRaiseImmediate, ehRaiseAllAtEnd };
// What a token carries through the matching network.
enum class TTokenAction : std::uint8_t { taClear, taAdd, taRemove, taUpdate };
// What a construct collection does with a reused name.
enum class TDuplicateConstructs : std::uint8_t { dcOverwrite, dcIgnore, dcError };
enum class TSearchStrategy : std::uint8_t { ssDepthFirst, ssBreadthFirst };
// When salience expressions are evaluated.
enum class TSalience : std::uint8_t { sActivate, sEveryTime };
enum class TRuleConstruct : std::uint8_t { rcPattern, rcAction };
// What the engine traces.
enum class TConstructWatch : std::uint8_t {
  cwActivation,
  cwFact,
  cwRule,
  cwCompilation,
  cwStatistics
};
using TConstructWatches = EnumSet<TConstructWatch>;

}  // namespace zephro
