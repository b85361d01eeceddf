#pragma once

// The numbers of the fuzzy library's texts, with a full stop whatever the
// locale:
//
//   FixedText(2.5)      -> "2.5000"  fixed-point, as "%.4f" in the C locale
//   FixedText(0.4, 2)   -> "0.40"
//   ShortText(2.5)      -> "2.5"     the fewest digits that read back exactly,
//   ShortText(5)        -> "5"       for messages that quote a user's numbers
//
// Thread safety: pure functions.

#include <charconv>
#include <string>
#include <system_error>

namespace zephro::fuzzy_detail {

// std::to_chars of `v` with the given format arguments.
template <class... Format>
std::string CharsText(double v, Format... format) {
  // Room for the 309 digits of the largest double and its decimals.
  char buffer[400];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, v, format...);
  return error == std::errc() ? std::string(buffer, end) : std::string("nan");
}

inline std::string FixedText(double v, int decimals = 4) {
  return CharsText(v, std::chars_format::fixed, decimals);
}

inline std::string ShortText(double v) {
  return CharsText(v);
}

}  // namespace zephro::fuzzy_detail
