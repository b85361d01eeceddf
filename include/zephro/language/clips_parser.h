#pragma once

// The parser of the engine's language: TIEParser, the frame that reads a token
// stream expression by expression and reports errors, and TIEClipsParser, which
// turns tokens into values, calls, facts and constructs.
//
//   engine.Parse("(deftemplate person (slot age (type INTEGER)))"
//                "(defrule adult (person (age ?a&:(>= ?a 18))) => (printout t ?a crlf))");
//
// reaches TIEClipsParser::ParseText, the engine's parser (an engine is made
// with one, see NewDefaultParser in engine/engine_parser.h). Every top-level expression is either a
// value, a call (executed at once, or kept when `execute` is false) or a construct, which is built
// and added to the engine: templates, rules, fact sets, functions, globals and defined types.
//
// Errors. A syntax error raises EIEParseException "Parsing Error, <detail> in
// <routine> at line <n>: <tokens read so far in the expression>". With
// ehRaiseImmediate (the default) the first error ends the parse; with
// ehRaiseAllAtEnd the parser skips to the next top-level expression, collects
// the messages and raises them together at the end (at most MaxErrors + 1 of
// them, then a line saying where the skipped rest begins). Errors say where
// they are (see TIEParser::Parse). Constructs finished before an error stay in
// the engine; a construct cut short is dropped whole. Nesting of calls, facts
// in calls and conditional elements is bounded (kMaxNesting): deeper input is
// a parse error, never a stack overflow.
//
// Streams. A parser reads from a borrowed TIEClipsStream. The text entry points
// (ParseString and the free functions at the end of this file) give it a new
// stream for their text and give the previous one back afterwards, whatever
// happens, so parsing may re-enter itself (a top-level call that parses text).
//
// Ownership: a parser is counted; the engine's hooks hold the engine's parser,
// which borrows its engine (the engine outlives its hooks). Built constructs are
// handed over as the return types say.
// Thread safety: none; a parser runs on the engine's thread.

#include <cstdint>
#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/engine/collections.h"
#include "zephro/engine/engine_parts.h"
#include "zephro/language/clips_stream.h"
#include "zephro/language/parsed_constructs.h"
#include "zephro/platform/ref.h"
#include "zephro/types/defined_type.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/nesting.h"
#include "zephro/values/types.h"

namespace zephro {

class TInferenceEngine;
class TRule;
class TFactSet;
class TIEPattern;
class TIEParser;

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

// What ParseExpression made: the value (a parsed value or call, a call's
// result) or the construct added to the engine. Pointers are borrowed and valid
// during the OnParse event.
struct TParseResult {
  TParsedType type = TParsedType::ptNone;
  Ref<IIEValue> value;
  IFactTemplate* fact_template = nullptr;
  TRule* rule = nullptr;
  TFactSet* fact_set = nullptr;
  IUserFunction* function = nullptr;
  IIEDefinedType* defined_type = nullptr;
};

using TParseEvent = std::function<void(TIEParser& parser, const TParseResult& result)>;
using TParseRuleEvent = std::function<void(TIEParser& parser, TRule& rule)>;
using TParseFactEvent = std::function<void(TIEParser& parser, IFact& fact)>;
using TParseFunCallEvent = std::function<void(TIEParser& parser, IFunCall& call)>;
using TParseDefinedTypeEvent = std::function<void(TIEParser& parser, TIEDefinedType& type)>;
using TParseVariableEvent =
    std::function<void(TIEParser& parser, const std::string& name, IIEValue& value)>;
using TParsePatternEvent = std::function<void(TIEParser& parser, TIEPattern& pattern)>;
// Builds the function a deffunction stands for (an interpreted function).
using TFunctionMaker = std::function<Ref<IUserFunction>(TParsedFunction function)>;

// The frame: stream, options, the main loop, error collection and the parse
// error. The language itself is the subclass's.
class TIEParser : public IEngineParser {
 public:
  explicit TIEParser(TInferenceEngine& engine);

  TInferenceEngine& Engine() const noexcept { return engine_; }
  // The stream being read, or null; borrowed.
  TIEClipsStream* Stream() const noexcept { return stream_; }
  void SetStream(TIEClipsStream* stream) noexcept { stream_ = stream; }

  // Makes an unknown template name in a fact an error ("Unknown fact template:
  // %s") instead of creating an implied template. Default false.
  bool UnknownTemplatesAreErrors() const noexcept { return unknown_templates_are_errors_; }
  void SetUnknownTemplatesAreErrors(bool on) noexcept { unknown_templates_are_errors_ = on; }
  // Parse-time checks of slot defaults and slot values: on while the engine's
  // TypeChecks hold tcStatic.
  bool StaticTypeChecks() const noexcept;
  TErrorHandling ErrorHandling() const noexcept { return error_handling_; }
  void SetErrorHandling(TErrorHandling handling) noexcept { error_handling_ = handling; }
  std::int32_t MaxErrors() const noexcept { return max_errors_; }
  void SetMaxErrors(std::int32_t n) noexcept { max_errors_ = n; }

  // Reads the whole stream, expression by expression, as the ErrorHandling
  // option says (see the top of this file). An abort request (EAbort) always
  // passes at once; with errors collected before it, it carries their text
  // (what RaiseCollectedParseErrors would raise) as its message.
  //
  // Errors say where they are. An error raised while a top-level call runs
  // (not one of reading the text) keeps its own message, preceded by the
  // place of the call, "<file>:<line>: " ("line <n>: " in text that is no
  // file's, when errors are collected), and by "rule <name>: " when it left
  // a rule's firing. A parse error met in a file is preceded by "<file>:<line>: "
  // likewise. Exhausted memory is reported as "Out of memory". When more
  // errors than MaxErrors were collected, a last line says where the rest of
  // the input that was skipped starts.
  void Parse(bool execute);
  // Reads one top-level expression and acts on it; false at the end of input.
  virtual bool ParseExpression(bool execute) = 0;

  // Raises the parse error for `message`, found by the routine `where`, at the
  // current token's line, with the current expression's tokens as context.
  [[noreturn]] void ParseError(std::string_view where, std::string_view message) const;
  [[noreturn, gnu::format(printf, 3, 4)]] void ParseErrorF(std::string_view where,
                                                           const char* format, ...) const;
  // Runs `call` (work of the engine or of a construct being built); what it
  // objects to (EIEException) is raised as the parse error at `where`.
  template <class F>
  auto AsParseError(std::string_view where, F&& call) -> decltype(call()) {
    try {
      return call();
    } catch (const EIEParseException&) {
      throw;
    } catch (const EIEException& error) {
      ParseError(where, error.what());
    }
  }

  // Runs `read()` with the parser reading `text` (in place: a whole program
  // is not copied); the previous stream is restored afterwards, also when
  // `read` raises.
  template <class F>
  auto ParseString(std::string_view text, F&& read) {
    TIEClipsStream stream(TIEClipsStream::BorrowText{}, text, SymbolGenerator());
    StreamScope scope(*this, stream);
    return read();
  }

  // As ParseString, reading `input` from its current position. `source_name`
  // names the file `input` reads, for the errors met in it (see Parse).
  template <class F>
  auto ParseStream(std::istream& input, F&& read, std::string_view source_name = {}) {
    TIEClipsStream stream(input, SymbolGenerator());
    StreamScope scope(*this, stream, source_name);
    return read();
  }

  // The name of the file being read; empty for text that is no file's.
  const std::string& SourceName() const noexcept { return source_name_; }

  // The parser's symbol generator: the engine's GenerateSymbol.
  TSymbolGenerator SymbolGenerator() const;

  TParseEvent OnParse;
  TParseRuleEvent OnParseRule;
  TParseFactEvent OnParseFact;
  TParseFunCallEvent OnParseFunCall;
  TParseVariableEvent OnParseVariable;
  TParsePatternEvent OnParsePattern;
  TParseDefinedTypeEvent OnParseDefinedType;

 protected:
  ~TIEParser() override = default;

  // Gives the parser `stream` for the scope's life, then the previous one.
  class StreamScope {
   public:
    StreamScope(TIEParser& parser, TIEClipsStream& stream, std::string_view source_name = {})
        : parser_(parser),
          previous_(parser.stream_),
          previous_name_(std::exchange(parser.source_name_, std::string(source_name))) {
      parser.stream_ = &stream;
    }
    ~StreamScope() {
      parser_.stream_ = previous_;
      parser_.source_name_.swap(previous_name_);
    }
    StreamScope(const StreamScope&) = delete;
    StreamScope& operator=(const StreamScope&) = delete;

   private:
    TIEParser& parser_;
    TIEClipsStream* previous_;
    std::string previous_name_;
  };

  // Counts one level of nesting for the scope's life; past kMaxNesting levels,
  // or with the thread's stack low, it raises the parse error (a syntax error
  // naming the limit) for `where`.
  class DepthGuard {
   public:
    DepthGuard(TIEParser& parser, std::string_view where);
    ~DepthGuard() { --parser_.depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

   private:
    TIEParser& parser_;
  };

  // Adds the error that says what Parse skipped after too many errors.
  void ReportSkippedRest(std::vector<EIEParseException>& errors);

  // The stream; raises EIEException "No parser specified" when there is none.
  TIEClipsStream& In() const;
  // The line of the current token (where reading stopped if it cannot be read).
  std::int32_t CurrentLine() const;

 private:
  TInferenceEngine& engine_;          // not owned
  TIEClipsStream* stream_ = nullptr;  // not owned
  std::string source_name_;
  TErrorHandling error_handling_ = TErrorHandling::ehRaiseImmediate;
  std::int32_t max_errors_ = 10;
  int depth_ = 0;
  bool unknown_templates_are_errors_ = false;
};

// The parser of the language. Each Parse... routine reads its production from
// the current stream (the grammar is written beside each one in the sources)
// and returns what it built; construct routines do not add to the engine,
// ParseExpression does.
class TIEClipsParser final : public TIEParser {
 public:
  explicit TIEClipsParser(TInferenceEngine& engine);

  bool ParseExpression(bool execute) override;

  // --- what the engine asks of its parser (IEngineParser) ---------------------------
  // Each takes the engine's error settings and parses `text` in place of the
  // current stream, which it gives back afterwards.
  void ParseText(std::string_view text, bool execute) override;
  Ref<IFact> ParseFactText(std::string_view text) override;
  std::unique_ptr<TRule> ParseRuleText(std::string_view text) override;
  Ref<IFactTemplate> ParseTemplateText(std::string_view text) override;
  Ref<IIEValue> ParseValueText(std::string_view text) override;
  void ParseInput(std::istream& input, bool execute, std::string_view source_name) override;
  int LoadFactsInput(std::istream& input, std::string_view source_name) override;
  std::string SavedFactText(const IFact& fact) override;

  // The construct kind of the expression that starts with `token` (Head looks
  // past a "("). Raises the parse error for a string, punctuation or stray
  // end marker.
  TParsedType GetConstructType(const IStreamToken& token);

  // --- values and calls -------------------------------------------------------------
  // One value, a multifield (dtList) when several follow each other, or null
  // when none does; stops before ")" and the end.
  Ref<IIEValue> ParseValue();
  // A value checked against `types`, or against `defined_type` when there is
  // one; a float is truncated where only integers are allowed and an integer
  // made a float where only floats are. `slot_word` names the slot in the
  // message ("%s for %s slot").
  Ref<IIEValue> ParseValue(TIETypes types, const IIEDefinedType* defined_type,
                           std::string_view slot_word = "ParseValue");
  // A value for `slot` of a fact: a multifield for a multislot, checked when
  // static checks are on.
  Ref<IIEValue> ParseValue(const IFactSlot& slot);
  // The items of a multifield up to ")", where "=(call)" is a call.
  Ref<IValueVector> ParseList();
  Ref<IFunCall> ParseFunCall();
  // The value of an atom, variable or number written in a pattern, as an
  // argument of a call or in a slot of a fact: equal ones share one value,
  // which every rule of a large program repeats, and which the facts of a
  // program then read from a few cache lines (see shared_values_). Any other
  // value itself. Such a value is marked shared: nothing changes it in place
  // (a slot that converts a shared integer to a float makes a new value).
  Ref<IIEValue> SharedValue(const IStreamToken& token) { return SharedValue(token.Value()); }
  Ref<IIEValue> SharedValue(Ref<IIEValue> value);
  // A call read for a rule's action (SharedCall) or as a value, an argument
  // of a call or a pattern's predicate (SharedCallValue): a call without
  // comment or tag whose arguments are all shared values is shared, with
  // the value holding it, by every place the program writes it alike (the
  // actions and predicates many rules repeat). Nothing changes such a call
  // in place. Any other call is itself, in a value of its own.
  Ref<IFunCall> SharedCall(Ref<IFunCall> call);
  Ref<IIEValue> SharedCallValue(Ref<IFunCall> call);
  // A call, executed at once in the engine's root context; its result.
  Ref<IIEValue> ParseNExecuteFunCall();
  // "(name value...)" as a two-element multifield: the name as an atom, the value.
  Ref<IValueVector> ParseValuePair();
  Ref<ISingletonsVector> ParseSingletons();
  // One global definition "?*name* = value"; the name keeps its asterisks.
  void ParseVariable(std::string& name, Ref<IIEValue>& value);
  std::string GenerateSymbol(std::string_view prefix) const;

  // Functions whose parenthesised arguments are facts (start 0) or, at 1-based
  // positions start..end, slot/value pairs: assert and its fuzzy kin, modify
  // and duplicate.
  void AddSlotFunction(std::string_view name, std::uint16_t start, std::uint16_t end);

  // --- constructs --------------------------------------------------------------------
  // A rule with an engine but no owner; the caller files it (TInferenceEngine::AddRule).
  std::unique_ptr<TRule> ParseRule();
  // A template for the engine, not yet filed.
  Ref<IFactTemplate> ParseFactTemplate();
  // A fact set without engine, its facts parsed against the engine.
  std::unique_ptr<TFactSet> ParseFactSet();
  Ref<IFact> ParseFact();
  // A type for the engine, not yet filed.
  Ref<TIEDefinedType> ParseDefinedType();
  TParsedFunction ParseFunction();
  // Reads "(defglobal ...)" and puts each global into the engine.
  void ParseGlobalVariables();
  // Reads facts until the end of input and asserts each; returns how many.
  // The input is data: a fact holding a function call or a variable is an
  // error, except a slot whose whole value is a create$ call of constants,
  // which stands for the list of them (how a single slot holding a list is
  // saved). Every fact is read before the first is asserted: input with an
  // error asserts nothing. The engine's OnLoadProgress hears how far it got.
  int LoadFacts();

  // The deffunction maker; deffunctions are an error while it is unset.
  TFunctionMaker MakeFunction;

  // The engine's defined type `name`, or null.
  IIEDefinedType* FindDefinedType(std::string_view name) const;

 private:
  void ReportLoadProgress(std::int64_t facts, bool asserting);
  struct SlotFunction {
    std::string name;
    std::uint16_t start;
    std::uint16_t end;
  };
  struct SlotQualifiers;

  ~TIEClipsParser() override;

  // Token helpers.
  Ref<IStreamToken> Next();
  void PutBack(Ref<IStreamToken> token);
  // Reads a token that must be `c`, else raises `message` for `where`.
  void Expect(char c, std::string_view where, std::string_view message);
  bool PeekChar(char c);
  // Reads "(" and an atom and returns the atom's text, else raises
  // "Expected "( <atom>"" for `where`.
  std::string ParseOpenAtom(std::string_view where);
  const SlotFunction* FindSlotFunction(std::string_view name) const;

  // The item `token` starts (a constant, a variable, a call, singletons, or
  // "[" / "]" as atoms), or null when it starts none.
  Ref<IIEValue> ParseItem(Ref<IStreamToken> token);
  // What a fuzzy slot holds for `value` (see TInferenceEngine::FuzzySlotValue),
  // the engine's objection raised as a parse error at `where`.
  Ref<IIEValue> FuzzySlotValue(const IFactSlot& slot, Ref<IIEValue> value, std::string_view where);
  Ref<IIEValue> CheckKinds(Ref<IIEValue> value, TIETypes types, const IIEDefinedType* defined_type,
                           std::string_view slot_word, std::string_view where);
  Ref<IIEValue> ReadSingletonsItem();

  // Construct pieces.
  std::string ParseHeader(std::string_view keyword, std::string_view missing_keyword,
                          std::string_view where, std::string* comment);
  void ParseDeclare(TRule& rule);
  void ParseRulePatterns(TRule& rule);
  std::unique_ptr<TIEPattern> ParsePattern();
  void ParsePatternFields(TIEPattern& pattern, const IFactSlot& slot);
  void ParsePatternTerm(TIEPattern& pattern, const IFactSlot& slot, std::int32_t sub_index,
                        bool conjunction);
  void ParseRuleActions(TRule& rule);
  void ParseFactTemplateSlot(IFactTemplate& fact_template);
  TIETypes ParseSlotTypes(Ref<IIEDefinedType>* defined_type, std::string_view where);
  void ParseFactSlot(IFact& fact);
  void ParseRangeAndCardinality(TIEDefinedType& type, std::string_view word,
                                bool cardinality_allowed, std::string_view where);
  void ParseAllowedEnumerations(TIEDefinedType& type, std::string_view word,
                                std::string_view where);
  void ParseFuzzyVariable(TIEDefinedType& type);
  // Two bounds as written: numbers, variables or calls; null for "?VARIABLE".
  struct TBounds {
    Ref<IIEValue> low;
    Ref<IIEValue> high;
  };
  TBounds ParseBounds(std::string_view what, std::string_view where);
  // The number a bound stands for, computed now; `open` for "?VARIABLE".
  double BoundValue(const Ref<IIEValue>& bound, double open, std::string_view what,
                    std::string_view where);

  // Acting on one top-level expression.
  TParseResult ParseConstruct(TParsedType type, bool execute);
  void Echo(const TParseResult& result);

  std::vector<SlotFunction> slot_functions_;
  // Atom, variable and number values made for patterns, call arguments and
  // fact slots, and shareable calls with the shared value holding them (made
  // when first asked for), filed by a hash of their texts and numbers: see
  // SharedValue and SharedCallEntryFor.
  struct SharedValueEntry {
    Ref<IIEValue> kept;
    bool met_again = false;  // read again since it was filed
    std::uint32_t age = 0;   // when it was filed or last met: the oldest goes first
  };
  struct SharedCallEntry {
    Ref<IFunCall> kept;
    bool met_again = false;
    std::uint32_t age = 0;
    Ref<IIEValue> value;
  };
  std::vector<SharedValueEntry> shared_values_;
  std::vector<SharedCallEntry> shared_calls_;
  std::uint32_t shared_clock_ = 0;
  std::uint32_t shared_values_filed_ = 0;  // since the table last grew
  std::uint32_t shared_calls_filed_ = 0;
  SharedCallEntry* SharedCallEntryFor(Ref<IFunCall>& call);
};

// --- the engine's entry points --------------------------------------------------------------
//
// Each parses `text` with the engine's parser over a new stream and restores the
// parser's previous stream afterwards, also on error. The parser takes the
// engine's ParserErrorHandling and ParserMaxErrors for Parse.

// The interpreted function (TInterpretedFunction) a deffunction stands for.
Ref<IUserFunction> MakeDeffunction(TParsedFunction function);

// Gives the engine a new parser of the language, whose function maker is
// `make_function` (MakeDeffunction when empty). Installing again replaces it.
void InstallClipsParser(TInferenceEngine& engine, TFunctionMaker make_function = {});
// The engine's parser; installs one when the engine's parser is another's.
TIEClipsParser& ClipsParser(TInferenceEngine& engine);

// Parses and acts on every expression of `text` (TInferenceEngine::Parse).
void Parse(TInferenceEngine& engine, std::string_view text, bool execute);
// The same for what `input` holds from its current position on, read a chunk
// at a time as the parser goes: a large file is never held whole.
// `source_name` names the file `input` reads, for the errors met in it.
void Parse(TInferenceEngine& engine, std::istream& input, bool execute,
           std::string_view source_name = {});
Ref<IFact> ParseFact(TInferenceEngine& engine, std::string_view text);
std::unique_ptr<TRule> ParseRule(TInferenceEngine& engine, std::string_view text);
std::unique_ptr<TFactSet> ParseFactSet(TInferenceEngine& engine, std::string_view text);
Ref<IFactTemplate> ParseFactTemplate(TInferenceEngine& engine, std::string_view text);
Ref<TIEDefinedType> ParseDefinedType(TInferenceEngine& engine, std::string_view text);
TParsedFunction ParseFunction(TInferenceEngine& engine, std::string_view text);
Ref<IFunCall> ParseFunCall(TInferenceEngine& engine, std::string_view text);
Ref<IIEValue> ParseNExecuteFunCall(TInferenceEngine& engine, std::string_view text);
void ParseGlobalVariables(TInferenceEngine& engine, std::string_view text);
Ref<IIEValue> ParseValue(TInferenceEngine& engine, std::string_view text);
// `fact` as it is saved: one line's text that load-facts reads back as an
// equal fact (saved_fact_text.cc). Raises EBaseException, naming the fact,
// when a value would not read back as itself.
std::string SavedFactText(const IFact& fact);
// Reads facts from `input` until its end and asserts them; returns how many.
// See TIEClipsParser::LoadFacts; `source_name` names the file in errors.
int LoadFacts(TInferenceEngine& engine, std::istream& input, std::string_view source_name = {});

}  // namespace zephro
