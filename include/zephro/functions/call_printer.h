#pragma once

// Function calls and deffunctions as the language writes them. A call:
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

#include <span>
#include <string>
#include <string_view>

#include "zephro/values/interfaces.h"

namespace zephro {

class IFunCall;

std::string PrettyPrintFunCall(const IFunCall& call);

// deffunction := "(deffunction " name " (" parameters ")" line-break
//                [indent comment line-break] ( indent action line-break )* ")"
// The parameters are variable values, the actions calls and constants.
std::string PrettyPrintDeffunction(std::string_view name, std::span<const Ref<IIEValue>> parameters,
                                   std::string_view comment,
                                   std::span<const Ref<IIEValue>> actions);

}  // namespace zephro
