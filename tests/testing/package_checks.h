#pragma once

// Checks that hold for every function a package registers, whatever the
// function does, so that a package's tests need not copy its registration
// table to catch a function that is missing from the engine, has a help or
// syntax text that does not read, or does not keep its argument limits.

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/engine/inference_engine.h"
#include "zephro/functions/user_package.h"

namespace zephro::testing {

// What is wrong with the syntax text of a function (" <logical-name>
// <expression>*"), or "" when it reads. A text is a sequence of elements
// separated by blanks (a leading and a trailing one included); an element is
// one or more items joined by "|" and may end in "*" (any number) or "+" (one
// or more); an item is a placeholder <lowercase-words-joined-by-dashes>, a
// keyword (letters, digits and dashes, or a lone "*"), an optional group
// [...] or a group (...) of elements.
std::string SyntaxTextError(std::string_view syntax);

// The names of the functions of `package`, in its order.
std::vector<std::string> FunctionNames(const TUserPackage& package);

// For every function of `package`, which `engine` must have too: the engine
// finds a function of its name, the function has a help text and a syntax text
// that reads (SyntaxTextError), and a call through the engine with one
// argument fewer than its minimum (when that is above zero) raises "Too few
// arguments for <name>", and with one more than its maximum (when there is
// one), "Too many arguments for <name>". Such calls never run the function's
// body, so functions that write files or stop the engine are safe to call.
// The functions named in `known_bad_syntax` must have a syntax text that does
// not read: when one is mended the check says so, to be taken off the list.
void ExpectEveryFunctionKeepsItsLimits(const TUserPackage& package, TInferenceEngine& engine,
                                       const std::set<std::string>& known_bad_syntax = {});

}  // namespace zephro::testing
