#pragma once

// Value kinds and sets of them as text, the way messages name them:
//
//   GetIETypeName(dtInteger)                        "dtInteger"
//   SetToString({dtFactId, dtFact}, ", ", false)    "FactId, Fact"
//   SetToString({dtInteger, dtFloat}, ", ", true)   "[Integer, Float]"
//
// The general forms, for any enumeration with a table of names, are in
// platform/set_text.h; StringToSet<TIEType>(text, kIETypeNames, "dt") reads a
// set of kinds back.
//
// Thread safety: no state.

#include <string>
#include <string_view>

#include "zephro/platform/set_text.h"
#include "zephro/values/types.h"

namespace zephro {

// The enumeration name of `kind` ("dtInteger"); "<UNKNOWN>" for a value outside
// the enumeration.
std::string GetIETypeName(TIEType kind);

// The names of the kinds in `kinds`, in enumeration order, each without its
// "dt" prefix, joined by `separator`; enclosed in "[" and "]" when `brackets`.
std::string SetToString(TIETypes kinds, std::string_view separator, bool brackets);

}  // namespace zephro
