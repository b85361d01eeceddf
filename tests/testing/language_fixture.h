#pragma once

// Small stand-ins for built-in functions, for tests of the language that run
// what they parse before the function packages are there:
//
//   (+ a b ...)         the sum; a float when any argument is one
//   (eq a b) (neq a b)  strict equality of two values, TRUE or FALSE
//   (eq* a b)           equality by value
//   (and ...) (or ...)  evaluated left to right, stopping early
//   (not a)             TRUE when a is FALSE
//   (> a b)             TRUE when the number a is greater than b
//   (printout name arg...)  the arguments' texts (strings unquoted, crlf a
//                       line break) printed to the logical name
//   (assert fact...)    asserts each fact argument, its slots evaluated
//   (parse-text "...")  parses and runs the text through the engine
//
// a deffunction maker that files a function which does nothing but keeps the
// parsed record, and a fixture with all of it installed.

#include <string>
#include <string_view>

#include "testing/engine_fixture.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/language/clips_parser.h"

namespace zephro::testing {

void AddLanguageTestFunctions(TInferenceEngine& engine);

// The maker's functions: named, with the record of the deffunction.
TFunctionMaker RecordingFunctionMaker();
// The record a RecordingFunctionMaker function keeps, or null for another function.
const TParsedFunction* RecordOf(const IUserFunction& function);

// An engine with a parser (deffunctions recorded) and the functions above.
class ParserFixture : public EngineFixture {
 public:
  ParserFixture();
  TIEClipsParser& Parser() { return ClipsParser(Engine()); }
  // Parses `text`; the message of the error it raises, or "" when it raises none.
  std::string ErrorOf(std::string_view text);
};

}  // namespace zephro::testing
