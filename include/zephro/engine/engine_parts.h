#pragma once

// What the layers above the engine give every new engine: its parser and its
// built-in function packages. The engine declares them here and the language
// and the packages define them, so that the engine includes nothing of theirs.
//
// IEngineParser: the engine's parser, as the engine sees it. Every engine
// owns one parser. A new engine gets the language's parser from
// NewDefaultParser; a host may give it another (TInferenceEngine::SetParser).
// The engine hands it the text it is asked to load, the facts written as text
// (fact sets, assert-string) and the rules written as text; the parser builds
// constructs and adds them to the engine, and runs top-level calls.
//
// Thread safety: as the engine's.

#include <istream>
#include <memory>
#include <string>
#include <string_view>

#include "zephro/functions/function_package.h"
#include "zephro/platform/ref.h"
#include "zephro/values/interfaces.h"

namespace zephro {

class TInferenceEngine;
class TRule;
class TUserPackage;

class IEngineParser : public RefCounted {
 public:
  // Parses every expression of `text`: constructs are added to the engine,
  // top-level calls run when `execute` is true. Errors are raised as the
  // engine's ParserErrorHandling and ParserMaxErrors say.
  virtual void ParseText(std::string_view text, bool execute) = 0;
  // The fact `text` writes (not asserted).
  virtual Ref<IFact> ParseFactText(std::string_view text) = 0;
  // The rule `text` defines (not filed: the engine files it).
  virtual std::unique_ptr<TRule> ParseRuleText(std::string_view text) = 0;
  // The template `text` defines (not filed).
  virtual Ref<IFactTemplate> ParseTemplateText(std::string_view text) = 0;
  // The value `text` writes: one value, a list of several, or null for none.
  virtual Ref<IIEValue> ParseValueText(std::string_view text) = 0;
  // ParseText over what `input` holds from its position on, read a chunk at
  // a time; `source_name` names the file in errors.
  virtual void ParseInput(std::istream& input, bool execute, std::string_view source_name) = 0;
  // Reads facts until the end of `input` and asserts them; returns how many
  // were read.
  virtual int LoadFactsInput(std::istream& input, std::string_view source_name) = 0;
  // The one-line text `fact` is saved as, which LoadFactsInput reads back as
  // an equal fact. Raises when one of its values would not read back.
  virtual std::string SavedFactText(const IFact& fact) = 0;
};

// The parser of a new engine: the language's own.
Ref<IEngineParser> NewDefaultParser(TInferenceEngine& engine);

// Creates the built-in package `package` owned by `engine`, which registers
// its functions with the engine; null when that package is not available.
TUserPackage* CreateBuiltInPackage(TFunctionPackage package, TInferenceEngine& engine);

}  // namespace zephro
