#pragma once

// Sets of value kinds as text, the way messages list what was expected:
//
//   SetToString({dtFactId, dtFact}, ", ", false)    "FactId, Fact"
//   SetToString({dtInteger, dtFloat}, ", ", true)   "[Integer, Float]"
//
// Thread safety: no state.

#include <string>
#include <string_view>

#include "zephro/values/types.h"

namespace zephro {

// The names of the kinds in `kinds`, in enumeration order, each without its
// "dt" prefix, joined by `separator`; enclosed in "[" and "]" when `brackets`.
std::string SetToString(TIETypes kinds, std::string_view separator, bool brackets);

}  // namespace zephro
