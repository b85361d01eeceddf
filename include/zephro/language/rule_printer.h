#pragma once

// The printed forms of rules, patterns, fact sets and globals: the text reads
// back into an equal construct.

#include <string>

#include "zephro/values/interfaces.h"

namespace zephro {

class TRule;
class TIEPattern;
class TFactSet;
class TEngineVariables;

// "(defrule name ...)" with its declare line, patterns, "=>" and actions.
std::string PrettyPrintRule(const TRule& rule);
// One conditional element, with its not/exists/unique/explicit wrappers and
// its "?f <- " binding.
std::string PrettyPrintPattern(const TIEPattern& pattern);
// "(deffacts name ...)" with one fact per indented line.
std::string PrettyPrintFactSet(const TFactSet& fact_set);
// "name = value" for one global.
std::string PrettyPrintGlobal(std::string_view name, const IIEValue& value);
// "(defglobal ?*a* = 1 ?*b* = (+ 1 2))": every global of `globals`.
std::string PrettyPrintGlobalVariables(const TEngineVariables& globals);

}  // namespace zephro
