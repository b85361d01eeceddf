#pragma once

// The printed form of a function call, as the language writes it:
//
//   ; comment line
//   (name arg arg (nested arg))
//
// The call's comment comes first, one line each, every line prefixed with "; "
// unless it already starts with ";"; then "(", the name, each argument after a
// blank in its printed form, and ")". A nested call (a dtFunCall argument)
// prints in the same form without its comment lines, so the text stays one
// expression. Nesting depth costs no stack: the printer walks nested calls with
// an explicit stack.
//
// This is the form a call without an engine prints in (TFunctionCall::ToString);
// an engine's pretty printer starts from it too.
//
// Thread safety: reads the call only.

#include <string>

namespace zephro {

class IFunCall;

std::string PrettyPrintFunCall(const IFunCall& call);

}  // namespace zephro
