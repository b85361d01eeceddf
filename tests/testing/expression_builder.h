#pragma once

// Builds calls from text in the language's syntax without the parser, for
// tests of functions: "(name arg ...)" becomes a call of `name` against the
// engine, any other token the value the scanner gives it (atoms, strings,
// numbers, variables). Nothing else of the language is understood.

#include <string_view>
#include <vector>

#include "zephro/engine/inference_engine.h"
#include "zephro/values/interfaces.h"

namespace zephro::testing {

// The top-level expressions of `text`, unevaluated. Raises EIEException for an
// unbalanced ")" and for input that ends inside a call.
std::vector<Ref<IIEValue>> BuildExpressions(TInferenceEngine& engine, std::string_view text);

// The value of the only (or last) expression of `text`, evaluated in the
// engine's root context; nil for empty text.
Ref<IIEValue> Evaluate(TInferenceEngine& engine, std::string_view text);

// Makes the engine's Parse execute every expression of the text it is given,
// as the language's parser does with top-level commands.
void InstallCommandParser(TInferenceEngine& engine);

}  // namespace zephro::testing
