#pragma once

// What the parser makes of a `deffunction`: TParsedFunction records its name,
// comment, parameters and actions. The parser hands it to its function maker,
// which builds the interpreted function the engine files.
//
// Thread safety: a plain record.

#include <string>
#include <vector>

#include "zephro/values/interfaces.h"

namespace zephro {

// A deffunction as written.
struct TParsedFunction {
  std::string name;
  std::string comment;
  // dtVariable or dtMultiVariable values holding the parameter names.
  std::vector<Ref<IIEValue>> parameters;
  // Calls (dtFunCall values) and constants, in order.
  std::vector<Ref<IIEValue>> actions;
};

// "(deffunction name (?a $?b)", the comment and each action on indented lines,
// then ")".
std::string PrettyPrintFunction(const TParsedFunction& function);

}  // namespace zephro
