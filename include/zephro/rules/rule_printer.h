#pragma once

// The printed forms of rules and patterns: the text reads back into an equal
// construct (layout: values/printing.h).

#include <string>

namespace zephro {

class TRule;
class TIEPattern;

// "(defrule name ...)" with its declare line, patterns, "=>" and actions.
std::string PrettyPrintRule(const TRule& rule);
// One conditional element, with its not/exists/unique/explicit wrappers and
// its "?f <- " binding.
std::string PrettyPrintPattern(const TIEPattern& pattern);

}  // namespace zephro
