#pragma once

// The engine's parser and token streams, as the engine sees them.
//
// IEngineParser: every engine owns one parser, reached only through this
// interface: the language layer implements it (TIEClipsParser), and a host
// may substitute another (TInferenceEngine::SetParserType, SetParser). A
// parser reads from its current token stream (Stream); each Parse... routine
// reads one construct or value from it and returns what it built without
// filing it anywhere, except Parse, which acts on every expression of the
// stream (constructs are filed in the engine, top-level calls run), and
// ParseGlobalVariables, which defines the globals it reads.
//
// TIETokenizerStream: what a parser reads, a stream of tokens over a text or
// an input stream. The engine makes one with NewTokenizer for each text it is
// asked to parse, gives it to its parser and gives the parser its previous
// stream back afterwards (TInferenceEngine's Parse... entry points).
//
// TParserEvents: the notifications a parser gives as it finishes each
// construct. They are the parser's; the engine publishes the current
// parser's as TInferenceEngine::ParserEvents() and hands them to the next
// parser it is given.
//
// Ownership: a parser is counted; it borrows its engine (which holds it) and
// its stream. A tokenizer is owned by whoever made it and borrows its input.
// Thread safety: none; use a parser and its streams on the engine's thread.

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/platform/ref.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/stream_token.h"
#include "zephro/values/types.h"

namespace zephro {

class IEngineParser;
class TFactSet;
class TIEDefinedType;
class TIEFuzzySet;
class TIEFuzzyVariable;
class TIEPattern;
class TInferenceEngine;
class TRule;

// A stream of tokens. The language's scanner (TIEClipsStream) is one; a
// parser may accept only the kind it was written for.
class TIETokenizerStream {
 public:
  TIETokenizerStream() = default;
  TIETokenizerStream(const TIETokenizerStream&) = delete;
  TIETokenizerStream& operator=(const TIETokenizerStream&) = delete;
  virtual ~TIETokenizerStream() = default;

  // The next token; at the end of input an end token, every time.
  virtual Ref<IStreamToken> NextToken() = 0;
  // Makes `token` the next one NextToken returns.
  virtual void PutBackToken(Ref<IStreamToken> token) = 0;
  // The line of the reading position (the first line is 1).
  virtual std::int32_t LineNumber() const noexcept = 0;

  // The name of the file the stream reads, which errors met in it name;
  // empty for text that is no file's.
  const std::string& SourceName() const noexcept { return source_name_; }
  void SetSourceName(std::string name) { source_name_ = std::move(name); }

 private:
  std::string source_name_;
};

// What one top-level expression was.
enum class TParsedType : std::uint8_t {
  ptNone,
  ptValue,
  ptFunCall,
  ptRule,
  ptFactSet,
  ptFactTemplate,
  ptFunction,
  ptGlobals,
  ptDefType,
  ptEOF,
};

// What a parser made of one top-level expression: the value (a value or a
// call as read, or a call's result) or the construct it filed in the engine.
// Pointers are borrowed and valid during the OnParse event.
struct TParseResult {
  TParsedType type = TParsedType::ptNone;
  Ref<IIEValue> value;
  IFactTemplate* fact_template = nullptr;
  TRule* rule = nullptr;
  TFactSet* fact_set = nullptr;
  IUserFunction* function = nullptr;
  IIEDefinedType* defined_type = nullptr;
};

// The parser's notifications. Each handler gets the parser and what it has
// just finished, before the caller does anything with it: OnParseRule,
// OnParseFactTemplate, OnParseFactSet, OnParseFunction and OnParseDefinedType
// see the construct before it is filed; OnParse sees each top-level
// expression once it was acted on. A handler may change what it is given,
// print, and parse more text through the engine (the engine gives the parser
// its stream back afterwards); an exception it raises ends the parse as an
// error of the construct being read.
using TParseEvent = std::function<void(IEngineParser& parser, const TParseResult& result)>;
using TParseRuleEvent = std::function<void(IEngineParser& parser, TRule& rule)>;
using TParseFactEvent = std::function<void(IEngineParser& parser, IFact& fact)>;
using TParseFactSetEvent = std::function<void(IEngineParser& parser, TFactSet& fact_set)>;
using TParseFactTemplateEvent =
    std::function<void(IEngineParser& parser, IFactTemplate& fact_template)>;
using TParseFunCallEvent = std::function<void(IEngineParser& parser, IFunCall& call)>;
// The function a deffunction made, not yet filed.
using TParseFunctionEvent = std::function<void(IEngineParser& parser, IUserFunction& function)>;
// A global definition "?*name* = value"; the name keeps its asterisks.
using TParseVariableEvent =
    std::function<void(IEngineParser& parser, const std::string& name, IIEValue& value)>;
using TParsePatternEvent = std::function<void(IEngineParser& parser, TIEPattern& pattern)>;
using TParseSingletonsEvent =
    std::function<void(IEngineParser& parser, ISingletonsVector& singletons)>;
using TParseDefinedTypeEvent = std::function<void(IEngineParser& parser, TIEDefinedType& type)>;
// One term "(term name value)" of a fuzzy type: its name and fuzzy set,
// before the set is added to the variable.
using TParseFuzzySetEvent =
    std::function<void(IEngineParser& parser, const std::string& term, TIEFuzzySet& set)>;
// The fuzzy variable of a fuzzy type, complete with its universe and terms.
using TParseFuzzyVariableEvent =
    std::function<void(IEngineParser& parser, TIEFuzzyVariable& variable)>;

struct TParserEvents {
  TParseEvent OnParse;
  TParseFactEvent OnParseFact;
  TParseFactSetEvent OnParseFactSet;
  TParseFactTemplateEvent OnParseFactTemplate;
  TParseFunCallEvent OnParseFunCall;
  TParseFunctionEvent OnParseFunction;
  TParseVariableEvent OnParseVariable;
  TParsePatternEvent OnParsePattern;
  TParseRuleEvent OnParseRule;
  TParseSingletonsEvent OnParseSingletons;
  TParseDefinedTypeEvent OnParseDefinedType;
  TParseFuzzySetEvent OnParseFuzzySet;
  TParseFuzzyVariableEvent OnParseFuzzyVariable;
};

// The parser, as the engine sees it. Every routine reads from Stream()
// (raising EIEException "No parser specified" when there is none) and
// raises EIEParseException "Parsing Error, <detail> in <routine> at line
// <n>: <tokens read>" for what it cannot read.
class IEngineParser : public RefCounted, public TParserEvents {
 public:
  // --- the input and the error settings ---
  // The stream being read, or null; borrowed.
  virtual TIETokenizerStream* Stream() const noexcept = 0;
  // Reads `stream` (borrowed; null for none) from now on. Raises
  // EIEException when the parser cannot read streams of its kind.
  virtual void SetStream(TIETokenizerStream* stream) = 0;
  virtual TErrorHandling ErrorHandling() const noexcept = 0;
  virtual void SetErrorHandling(TErrorHandling handling) noexcept = 0;
  virtual std::int32_t MaxErrors() const noexcept = 0;
  virtual void SetMaxErrors(std::int32_t n) noexcept = 0;
  // Raises the parse error for `message`, found by the routine `where`, at
  // the current token.
  [[noreturn]] virtual void ParseError(std::string_view where, std::string_view message) const = 0;

  // --- reading ---
  // Reads the whole stream: constructs are filed in the engine, top-level
  // calls run when `execute` is true. Errors are raised as ErrorHandling
  // and MaxErrors say.
  virtual void Parse(bool execute) = 0;
  virtual Ref<IFact> ParseFact() = 0;
  // Reads slot values, "(slot value...)..." (the fields of an implied
  // template), into `fact`.
  virtual void ParseFactSlot(IFact& fact) = 0;
  // A fact set without engine; its facts are parsed against the engine.
  virtual std::unique_ptr<TFactSet> ParseFactSet() = 0;
  virtual Ref<IFactTemplate> ParseFactTemplate() = 0;
  // One slot definition "(slot name qualifier...)", free-standing.
  virtual Ref<IFactSlot> ParseFactTemplateSlot() = 0;
  virtual Ref<TIEDefinedType> ParseDefinedType() = 0;
  // The function a deffunction defines.
  virtual Ref<IUserFunction> ParseFunction() = 0;
  virtual Ref<IFunCall> ParseFunCall() = 0;
  // A call, executed at once in the engine's root context; its result.
  virtual Ref<IIEValue> ParseNExecuteFunCall() = 0;
  // Reads "(defglobal ?*x* = value...)" and defines each global.
  virtual void ParseGlobalVariables() = 0;
  // One global definition "?*name* = value": the value (a call is not
  // evaluated); `name` receives the name with its asterisks.
  virtual Ref<IIEValue> ParseVariable(std::string& name) = 0;
  // The items of a multifield, up to ")" or the end.
  virtual Ref<IValueVector> ParseList() = 0;
  virtual Ref<ISingletonsVector> ParseSingletons() = 0;
  // A rule with the engine as its environment but no owner, not filed.
  virtual std::unique_ptr<TRule> ParseRule() = 0;
  // Reads conditional elements and adds them to `rule`; the names of the
  // variables they bind join `bindings`, which is kept sorted and without
  // repeats.
  virtual void ParseRulePatterns(TRule& rule, std::vector<std::string>& bindings) = 0;
  // Reads actions (calls) and adds them to `rule`; the names of the local
  // variables they bind (bind ?x ...) join `bindings` likewise.
  virtual void ParseRuleActions(TRule& rule, std::vector<std::string>& bindings) = 0;
  // One value, a multifield (dtList) when several follow each other, or null
  // when none does.
  virtual Ref<IIEValue> ParseValue() = 0;
  // A value for `slot` of a fact: a multifield for a multislot; checked
  // against the slot while static type checks are on.
  virtual Ref<IIEValue> ParseValue(const IFactSlot& slot) = 0;
  // A value checked against `types`, or against `defined_type` when given.
  virtual Ref<IIEValue> ParseValue(TIETypes types, const IIEDefinedType* defined_type) = 0;

  // --- whole inputs, and facts as they are saved ---
  // Parse(execute) over what `input` holds from its position on, read a
  // chunk at a time (a large file is never held whole); `source_name` names
  // the file in errors. The current stream is given back afterwards.
  virtual void ParseInput(std::istream& input, bool execute, std::string_view source_name) = 0;
  // Reads facts until the end of `input` and asserts them; returns how many
  // were read. Input with an error asserts nothing.
  virtual int LoadFactsInput(std::istream& input, std::string_view source_name) = 0;
  // The one-line text `fact` is saved as, which LoadFactsInput reads back as
  // an equal fact. Raises when one of its values would not read back.
  virtual std::string SavedFactText(const IFact& fact) = 0;

 protected:
  ~IEngineParser() override = default;
};

// The classes a host can substitute: how the engine makes its parser and
// the token streams it gives it. A parser or tokenizer is a counted or
// owned object made for an engine rather than a component with an owner,
// so a class is given as the function that makes an instance of it.
//
// A parser for `engine`, reading no stream yet.
using TParserClass = std::function<Ref<IEngineParser>(TInferenceEngine& engine)>;
// What a new tokenizer reads: `stream` from its current position when it is
// not null, else `text`, borrowed (it outlives the tokenizer).
struct TTokenizerSource {
  std::string_view text;
  std::istream* stream = nullptr;
};
// A tokenizer for `engine` over `source`.
using TTokenizerClass = std::function<std::unique_ptr<TIETokenizerStream>(TInferenceEngine& engine,
                                                                          TTokenizerSource source)>;

// The classes of a new engine: the language's parser and scanner.
TParserClass DefaultParserClass();
TTokenizerClass DefaultTokenizerClass();

}  // namespace zephro
