#pragma once

// Sets of enumeration values as text, by the names of their elements. A table of
// names, by ordinal, describes the enumeration; the names usually share a short
// lower-case prefix that the text leaves out:
//
//   enum class TColour : std::uint8_t { clRed, clGreen, clBlue };
//   constexpr std::array<std::string_view, 3> kColourNames = {"clRed", "clGreen", "clBlue"};
//
//   SetToString(EnumSet<TColour>{clRed, clBlue}, kColourNames, ", ", true, 2)  "[Red, Blue]"
//   SetToString(EnumSet<TColour>{clRed, clBlue}, kColourNames, ",", false, 0)  "clRed,clBlue"
//   StringToSet<TColour>("[Red, Blue]", kColourNames, "cl")                  {clRed, clBlue}
//   StringToSet<TColour>("Red Pink", kColourNames, "cl")     raises "Invalid item for set: clPink"
//
// Thread safety: no state.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "zephro/platform/enum_set.h"

namespace zephro {

// The error of a set text naming no element; filled with the item, prefix included.
inline constexpr char kInvalidSetItemMessage[] = "Invalid item for set: %s";

// The names of an enumeration's elements, by ordinal.
using TElementNames = std::span<const std::string_view>;

// The names of the members of the set whose member bits are `bits` (ordinal i is
// bit i), in ordinal order, each without its first `prefix_length` characters,
// joined by `separator`; enclosed in "[" and "]" when `brackets`. A member that
// `names` does not name is written as its ordinal.
std::string SetToString(std::uint64_t bits, TElementNames names, std::string_view separator,
                        bool brackets, std::size_t prefix_length);

template <class E>
std::string SetToString(EnumSet<E> set, TElementNames names, std::string_view separator,
                        bool brackets, std::size_t prefix_length) {
  return SetToString(set.Bits(), names, separator, brackets, prefix_length);
}

// Calls `visit` with each item of a set text, in order: the text is cut at "[",
// "]", "," and at blanks (any byte up to and including the space: tabs and line
// breaks too); the empty pieces between two cuts are no items. So "[a, b]",
// "a b", " a,,b " and "[a][b]" each hold the items a and b.
void ForEachSetItem(std::string_view text, const std::function<void(std::string_view)>& visit);

// Raises EBaseException with kInvalidSetItemMessage and `item`.
[[noreturn]] void RaiseInvalidSetItem(std::string_view item);

// The member bits of the set a text names: each item (see ForEachSetItem) with
// `prefix` put before it is looked up among `names`, without regard to ASCII
// case. An item that names no element, or one beyond the 64th, raises
// EBaseException with kInvalidSetItemMessage and the prefixed item. An empty
// text, or one of separators only ("[]"), is the empty set.
std::uint64_t StringToSetBits(std::string_view text, TElementNames names, std::string_view prefix);

template <class E>
EnumSet<E> StringToSet(std::string_view text, TElementNames names, std::string_view prefix) {
  return EnumSet<E>::FromBits(StringToSetBits(text, names, prefix));
}

}  // namespace zephro
