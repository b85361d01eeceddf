// Writes the libFuzzer dictionary of the language to standard output: the
// construct keywords and the other words the parser gives a meaning, the
// lexical pieces of patterns and variables, and the name of every function
// an engine with all packages knows, read from its function table. `make
// fuzz-dictionary` refreshes tools/fuzz/zephro.dict with it.

#include <iostream>
#include <set>
#include <string>
#include <string_view>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"

namespace {

constexpr std::string_view kWords[] = {
    // constructs and their parts
    "deftemplate", "deffacts", "defrule", "deffunction", "defglobal", "deftype", "slot",
    "multislot", "default", "default-dynamic", "type", "range", "cardinality", "allowed-values",
    "allowed-symbols", "allowed-strings", "allowed-lexemes", "allowed-integers", "allowed-floats",
    "allowed-numbers", "declare", "salience", "extends", "is-a", "units", "values", "unique",
    "explicit", "oneshot", "enabled", "field", "term",
    // conditional elements and rule syntax
    "not", "and", "or", "exists", "test", "logical", "=>", "<-", "~", "|", "&", ":", "=",
    // atoms with a meaning
    "TRUE", "FALSE", "nil", "EOF", "crlf", "do", "then", "else", "catch", "except", "finally",
    "inf", "nan", "?NONE", "?DERIVE", "?VARIABLE", "SYMBOL", "STRING", "INTEGER", "FLOAT",
    "NUMBER", "LEXEME",
    // variables and other lexical pieces
    "?x", "?", "$?", "$?x", "?*g*", "(", ")", "\"", ";", "\\\"", "1.5e3", "-7", "2147483647",
    "-2147483648", "<Fact-1>",
};

// The entry for `word`: quoted, with quotes and backslashes escaped.
std::string Entry(std::string_view word) {
  std::string entry = "\"";
  for (char c : word) {
    if (c == '"' || c == '\\') {
      entry += '\\';
    }
    entry += c;
  }
  return entry + "\"";
}

}  // namespace

int main() {
  std::set<std::string> words(std::begin(kWords), std::end(kWords));
  zephro::TInferenceEngine engine(nullptr);
  for (const auto& [name, function] : engine.UserFunctions()) {
    words.insert(name);
  }
  std::cout << "# The language's keywords and built-in function names; made by make_dictionary.\n";
  for (const std::string& word : words) {
    std::cout << Entry(word) << "\n";
  }
  return 0;
}
