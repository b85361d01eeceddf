#pragma once

// How the platform layer reports failures: every error is an EBaseException whose
// text is formatted printf-style from a fixed template, so the compiler checks each
// template's arguments.
//
// Thread safety: the functions only format and throw.

#include <cstdarg>
#include <cstddef>
#include <string>

namespace zephro {

// Raises EBaseException with `tmpl` formatted with the arguments.
[[noreturn, gnu::format(printf, 1, 2)]] void RaisePlatformError(const char* tmpl, ...);

// `tmpl` formatted with `args`, which this uses up, as RaisePlatformError words it.
[[gnu::format(printf, 1, 0)]] std::string FormatPlatformText(const char* tmpl, std::va_list args);

// Raises the error of a container indexed at `index` while it holds `count` elements.
[[noreturn]] void RaiseListIndexError(int index, int count);

// `index` as a position in a container of `count` elements; raises the list index
// error when it is outside 0 .. count - 1.
inline std::size_t CheckedIndex(int index, int count) {
  if (index < 0 || index >= count) {
    RaiseListIndexError(index, count);
  }
  return static_cast<std::size_t>(index);
}

}  // namespace zephro
