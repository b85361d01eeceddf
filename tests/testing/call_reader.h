#pragma once

// A test-only reader for the call syntax of the language, so that tests of
// functions can be written as the expressions they evaluate:
//
//   EvalToString(engine, "(if (> 3 2) then yes else no)")   // "yes"
//
// It reads what function tests need and no more: calls, atoms, strings,
// integers, floats, ?variables and $?variables. Like the language's parser it
// hands `assert` its parenthesised arguments as facts (an ordered fact, or a
// fact of the declared template written with (slot value...) pairs), and
// `modify` / `duplicate` their (slot expression...) changes as pairs: the
// slot name and the one value, or a list of the values.
// `(deffunction name (params) ["comment"] action...)` builds an interpreted
// function and files it with the engine.
//
// Malformed text fails the test through ADD_FAILURE and yields nil.

#include <string>
#include <string_view>
#include <vector>

#include "zephro/engine/inference_engine.h"
#include "zephro/values/interfaces.h"

#include "testing/engine_fixture.h"

namespace zephro::testing {

// One expression, unevaluated; calls are made against `engine`.
Ref<IIEValue> ReadExpression(TInferenceEngine& engine, std::string_view text);

// Reads `text`, evaluates it in the engine's root context and returns the
// result's printed form, or "error: " and the message of what it raised.
std::string EvalToString(TInferenceEngine& engine, std::string_view text);

// A row of a script: an expression, its result as EvalToString gives it, and
// what it printed to "t".
struct EvalStep {
  const char* expression;
  const char* result;
  const char* printed = "";
};

// Evaluates the steps in order in `fixture`'s engine and checks each row.
void RunEvalSteps(EngineFixture& fixture, const std::vector<EvalStep>& steps);

// A fact written as the language writes it, "(a 1 2)" or "(person (name x))";
// a stand-in for the engine's ParseFactHook.
Ref<IFact> ReadFact(TInferenceEngine& engine, std::string_view text);

// Files test functions with `engine`, stand-ins for functions of other
// packages:
//   (emit arg...)   prints the arguments' texts, each followed by a blank, to
//                   "t"; returns the last argument's value, or nil;
//   (items arg...)  the arguments' values as a multifield.
void AddTestFunctions(TInferenceEngine& engine);

}  // namespace zephro::testing
