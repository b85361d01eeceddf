#pragma once

// The error of the functions subsystem's lists indexed out of range.

namespace zephro {

// Raises EIEException "Bad Argument: <what> index out of bounds (<index>)".
[[noreturn]] void RaiseIndexError(const char* what, int index);

}  // namespace zephro
