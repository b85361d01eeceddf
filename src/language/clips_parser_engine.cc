// The parser as the engine's: the parser a new engine is made with, the
// entry points the engine calls (IEngineParser), and the text entry points
// of this layer.

#include <algorithm>

#include "zephro/engine/fact_set.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/engine/io_streams.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/language/clips_parser.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

namespace zephro {
namespace {

void TakeErrorSettings(TIEClipsParser& parser, const TInferenceEngine& engine) {
  parser.SetErrorHandling(engine.ParserErrorHandling());
  parser.SetMaxErrors(engine.ParserMaxErrors());
}

void ParseWith(TIEClipsParser& parser, TInferenceEngine& engine, std::string_view text,
               bool execute) {
  TakeErrorSettings(parser, engine);
  parser.ParseString(text, [&] { parser.Parse(execute); });
}

}  // namespace

Ref<IUserFunction> MakeDeffunction(TParsedFunction function) {
  return MakeInterpretedFunction(std::move(function.name), std::move(function.comment),
                                 std::move(function.parameters), std::move(function.actions));
}

Ref<IEngineParser> NewDefaultParser(TInferenceEngine& engine) {
  Ref<TIEClipsParser> parser = MakeRef<TIEClipsParser>(engine);
  parser->MakeFunction = MakeDeffunction;
  return parser;
}

void InstallClipsParser(TInferenceEngine& engine, TFunctionMaker make_function) {
  Ref<TIEClipsParser> parser = MakeRef<TIEClipsParser>(engine);
  parser->MakeFunction = make_function ? std::move(make_function) : TFunctionMaker(MakeDeffunction);
  engine.SetParser(std::move(parser));
}

TIEClipsParser& ClipsParser(TInferenceEngine& engine) {
  if (auto* parser = dynamic_cast<TIEClipsParser*>(&engine.Parser())) {
    return *parser;
  }
  InstallClipsParser(engine);
  return static_cast<TIEClipsParser&>(engine.Parser());
}

void TIEClipsParser::ParseText(std::string_view text, bool execute) {
  ParseWith(*this, Engine(), text, execute);
}

Ref<IFact> TIEClipsParser::ParseFactText(std::string_view text) {
  return ParseString(text, [&] { return ParseFact(); });
}

std::unique_ptr<TRule> TIEClipsParser::ParseRuleText(std::string_view text) {
  return ParseString(text, [&] { return ParseRule(); });
}

Ref<IFactTemplate> TIEClipsParser::ParseTemplateText(std::string_view text) {
  return ParseString(text, [&] { return ParseFactTemplate(); });
}

Ref<IIEValue> TIEClipsParser::ParseValueText(std::string_view text) {
  return ParseString(text, [&] {
    Ref<IIEValue> value = ParseValue();
    Ref<IStreamToken> rest = Next();
    if (!rest->IsEnd()) {
      ParseErrorF("ParseValue", SBadArgument, rest->Text().c_str());
    }
    return value;
  });
}

void TIEClipsParser::ParseInput(std::istream& input, bool execute, std::string_view source_name) {
  TakeErrorSettings(*this, Engine());
  ParseStream(
      input, [&] { Parse(execute); }, source_name);
}

int TIEClipsParser::LoadFactsInput(std::istream& input, std::string_view source_name) {
  return ParseStream(
      input, [&] { return LoadFacts(); }, source_name);
}

std::string TIEClipsParser::SavedFactText(const IFact& fact) { return zephro::SavedFactText(fact); }

void Parse(TInferenceEngine& engine, std::string_view text, bool execute) {
  ParseWith(ClipsParser(engine), engine, text, execute);
}

void Parse(TInferenceEngine& engine, std::istream& input, bool execute,
           std::string_view source_name) {
  ClipsParser(engine).ParseInput(input, execute, source_name);
}

namespace {

// Runs the parser routine `Method` over `text` with the engine's parser.
template <auto Method>
auto ParseTextWith(TInferenceEngine& engine, std::string_view text) {
  TIEClipsParser& parser = ClipsParser(engine);
  return parser.ParseString(text, [&] { return (parser.*Method)(); });
}

}  // namespace

Ref<IFact> ParseFact(TInferenceEngine& engine, std::string_view text) {
  return ParseTextWith<&TIEClipsParser::ParseFact>(engine, text);
}

std::unique_ptr<TRule> ParseRule(TInferenceEngine& engine, std::string_view text) {
  return ParseTextWith<&TIEClipsParser::ParseRule>(engine, text);
}

std::unique_ptr<TFactSet> ParseFactSet(TInferenceEngine& engine, std::string_view text) {
  return ParseTextWith<&TIEClipsParser::ParseFactSet>(engine, text);
}

Ref<IFactTemplate> ParseFactTemplate(TInferenceEngine& engine, std::string_view text) {
  return ParseTextWith<&TIEClipsParser::ParseFactTemplate>(engine, text);
}

Ref<TIEDefinedType> ParseDefinedType(TInferenceEngine& engine, std::string_view text) {
  return ParseTextWith<&TIEClipsParser::ParseDefinedType>(engine, text);
}

TParsedFunction ParseFunction(TInferenceEngine& engine, std::string_view text) {
  return ParseTextWith<&TIEClipsParser::ParseFunction>(engine, text);
}

Ref<IFunCall> ParseFunCall(TInferenceEngine& engine, std::string_view text) {
  return ParseTextWith<&TIEClipsParser::ParseFunCall>(engine, text);
}

Ref<IIEValue> ParseNExecuteFunCall(TInferenceEngine& engine, std::string_view text) {
  return ParseTextWith<&TIEClipsParser::ParseNExecuteFunCall>(engine, text);
}

void ParseGlobalVariables(TInferenceEngine& engine, std::string_view text) {
  ParseTextWith<&TIEClipsParser::ParseGlobalVariables>(engine, text);
}

Ref<IIEValue> ParseValue(TInferenceEngine& engine, std::string_view text) {
  constexpr auto kPlain = static_cast<Ref<IIEValue> (TIEClipsParser::*)()>(
      &TIEClipsParser::ParseValue);
  return ParseTextWith<kPlain>(engine, text);
}

int LoadFacts(TInferenceEngine& engine, std::istream& input, std::string_view source_name) {
  return ClipsParser(engine).LoadFactsInput(input, source_name);
}

}  // namespace zephro
