// The engine's language entry points: its parser and tokenizer classes, and
// the Parse... methods, each of which reads one text with the current parser.
//
// A text is read through a tokenizer of its own, which the parser holds only
// for the call: the parser's stream is swapped in and back out around it, so
// an entry point called while the parser is half-way through another input
// (a handler of a parse event, a function a loaded file runs) leaves that
// input where it was.

#include <utility>

#include "zephro/engine/engine_parser.h"
#include "zephro/engine/fact_set.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/platform/scope_exit.h"
#include "zephro/rules/rule.h"
#include "zephro/types/defined_type.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/nesting.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

// Raises "Bad Argument" for a token left after the value just read: a value
// has no closing token of its own, so a stray ")" would end it unseen.
void ExpectEnd(IEngineParser& parser) {
  Ref<IStreamToken> rest = parser.Stream()->NextToken();
  if (!rest->IsEnd()) {
    parser.ParseError("ParseValue", FormatMessage(SBadArgument, rest->Text().c_str()));
  }
}

}  // namespace

// --- the parser and tokenizer classes ------------------------------------------------------------

void TInferenceEngine::SetParser(Ref<IEngineParser> parser) {
  if (!parser) {
    RaiseIEPlain(SNoParser);
  }
  if (parser == parser_) {
    return;
  }
  static_cast<TParserEvents&>(*parser) = static_cast<const TParserEvents&>(*parser_);
  parser->SetErrorHandling(parser_error_handling_);
  parser->SetMaxErrors(parser_max_errors_);
  parser_ = std::move(parser);
}

void TInferenceEngine::SetParserType(TParserClass parser_class) {
  if (!parser_class) {
    RaiseIEPlain(SNoParser);
  }
  TParserClass previous = std::exchange(parser_type_, std::move(parser_class));
  try {
    SetParser(NewParser(nullptr));
  } catch (...) {
    parser_type_ = std::move(previous);
    throw;
  }
}

void TInferenceEngine::SetTokenizerType(TTokenizerClass tokenizer_class) {
  if (!tokenizer_class) {
    RaiseIEPlain(SNoParser);
  }
  tokenizer_type_ = std::move(tokenizer_class);
}

std::unique_ptr<TIETokenizerStream> TInferenceEngine::NewTokenizer(std::istream& input) {
  std::unique_ptr<TIETokenizerStream> tokenizer =
      tokenizer_type_(*this, TTokenizerSource{.text = {}, .stream = &input});
  if (!tokenizer) {
    RaiseIEPlain(SNoParser);
  }
  return tokenizer;
}

std::unique_ptr<TIETokenizerStream> TInferenceEngine::NewTokenizer(std::string_view text) {
  std::unique_ptr<TIETokenizerStream> tokenizer =
      tokenizer_type_(*this, TTokenizerSource{.text = text});
  if (!tokenizer) {
    RaiseIEPlain(SNoParser);
  }
  return tokenizer;
}

Ref<IEngineParser> TInferenceEngine::NewParser(TIETokenizerStream* stream) {
  Ref<IEngineParser> parser = parser_type_(*this);
  if (!parser) {
    RaiseIEPlain(SNoParser);
  }
  parser->SetErrorHandling(parser_error_handling_);
  parser->SetMaxErrors(parser_max_errors_);
  parser->SetStream(stream);
  return parser;
}

void TInferenceEngine::ReadText(std::string_view text,
                                const std::function<void(IEngineParser& parser)>& read) {
  const TBusyScope busy(busy_);
  const Ref<IEngineParser> parser = parser_;  // lives through a parse that replaces it
  const std::unique_ptr<TIETokenizerStream> tokenizer = NewTokenizer(text);
  TIETokenizerStream* const previous = parser->Stream();
  parser->SetStream(tokenizer.get());
  // Before the tokenizer goes: the parser never holds a freed stream.
  const TScopeExit restore([&] { parser->SetStream(previous); });
  read(*parser);
}

// --- the entry points ----------------------------------------------------------------------------

void TInferenceEngine::Parse(std::string_view text, bool execute) {
  const TNestingGuard nesting(TNesting::nLoad);
  nesting.Check();
  ReadText(text, [execute](IEngineParser& parser) { parser.Parse(execute); });
}

Ref<IIEValue> TInferenceEngine::Parse(std::string_view text, TIEType kind) {
  using enum TIEType;
  switch (kind) {
    case dtAtom:
    case dtString:
    case dtInteger:
    case dtFloat:
    case dtVariable:
    case dtMultiVariable:
      return ParseValue(text, TIETypes{kind}, nullptr);
    case dtFunCall:
      return MakeRef<TIEValue>(ParseFunCall(text));
    case dtFact:
      return MakeRef<TIEValue>(ParseFact(text));
    case dtList:
      return MakeRef<TIEValue>(ParseList(text));
    case dtSingletons:
      return MakeRef<TIEValue>(ParseSingletons(text));
    case dtNone:
    case dtFactId:
    case dtDescriptor:
    case dtObject:
    case dtClass:
    case dtExternalAddress:
    case dtFuzzy:  // needs the fuzzy variable of a slot: ParseValue(text, slot)
    case dtSlot:
    case dtMultiSlot:
      break;
  }
  RaiseIE(SParseTypeError, std::string(IETypeName(kind)).c_str());
}

Ref<IFact> TInferenceEngine::ParseFact(std::string_view text) {
  Ref<IFact> fact;
  ReadText(text, [&](IEngineParser& parser) { fact = parser.ParseFact(); });
  return fact;
}

void TInferenceEngine::ParseFactSlot(IFact& fact, std::string_view text) {
  ReadText(text, [&](IEngineParser& parser) { parser.ParseFactSlot(fact); });
}

std::unique_ptr<TFactSet> TInferenceEngine::ParseFactSet(std::string_view text) {
  std::unique_ptr<TFactSet> fact_set;
  ReadText(text, [&](IEngineParser& parser) { fact_set = parser.ParseFactSet(); });
  return fact_set;
}

Ref<IFactTemplate> TInferenceEngine::ParseFactTemplate(std::string_view text) {
  Ref<IFactTemplate> fact_template;
  ReadText(text, [&](IEngineParser& parser) { fact_template = parser.ParseFactTemplate(); });
  return fact_template;
}

Ref<IFactSlot> TInferenceEngine::ParseFactTemplateSlot(std::string_view text) {
  Ref<IFactSlot> slot;
  ReadText(text, [&](IEngineParser& parser) { slot = parser.ParseFactTemplateSlot(); });
  return slot;
}

Ref<TIEDefinedType> TInferenceEngine::ParseDefinedType(std::string_view text) {
  Ref<TIEDefinedType> type;
  ReadText(text, [&](IEngineParser& parser) { type = parser.ParseDefinedType(); });
  return type;
}

Ref<IUserFunction> TInferenceEngine::ParseFunction(std::string_view text) {
  Ref<IUserFunction> function;
  ReadText(text, [&](IEngineParser& parser) { function = parser.ParseFunction(); });
  return function;
}

Ref<IFunCall> TInferenceEngine::ParseFunCall(std::string_view text) {
  Ref<IFunCall> call;
  ReadText(text, [&](IEngineParser& parser) { call = parser.ParseFunCall(); });
  return call;
}

Ref<IIEValue> TInferenceEngine::ParseNExecuteFunCall(std::string_view text) {
  Ref<IIEValue> result;
  ReadText(text, [&](IEngineParser& parser) { result = parser.ParseNExecuteFunCall(); });
  return result;
}

void TInferenceEngine::ParseGlobalVariables(std::string_view text) {
  ReadText(text, [](IEngineParser& parser) { parser.ParseGlobalVariables(); });
}

Ref<IIEValue> TInferenceEngine::ParseVariable(std::string_view text, std::string& name) {
  Ref<IIEValue> value;
  ReadText(text, [&](IEngineParser& parser) { value = parser.ParseVariable(name); });
  return value;
}

Ref<IValueVector> TInferenceEngine::ParseList(std::string_view text) {
  Ref<IValueVector> list;
  ReadText(text, [&](IEngineParser& parser) { list = parser.ParseList(); });
  return list;
}

Ref<ISingletonsVector> TInferenceEngine::ParseSingletons(std::string_view text) {
  Ref<ISingletonsVector> singletons;
  ReadText(text, [&](IEngineParser& parser) { singletons = parser.ParseSingletons(); });
  return singletons;
}

TRule* TInferenceEngine::ParseRule(std::string_view text) {
  std::unique_ptr<TRule> rule;
  ReadText(text, [&](IEngineParser& parser) { rule = parser.ParseRule(); });
  return AddRule(std::move(rule));
}

void TInferenceEngine::ParseRulePatterns(TRule& rule, std::vector<std::string>& bindings,
                                         std::string_view text) {
  ReadText(text, [&](IEngineParser& parser) { parser.ParseRulePatterns(rule, bindings); });
}

void TInferenceEngine::ParseRuleActions(TRule& rule, std::vector<std::string>& bindings,
                                        std::string_view text) {
  ReadText(text, [&](IEngineParser& parser) { parser.ParseRuleActions(rule, bindings); });
}

Ref<IIEValue> TInferenceEngine::ParseValue(std::string_view text) {
  Ref<IIEValue> value;
  ReadText(text, [&](IEngineParser& parser) {
    value = parser.ParseValue();
    ExpectEnd(parser);
  });
  return value;
}

Ref<IIEValue> TInferenceEngine::ParseValue(std::string_view text, const IFactSlot& slot) {
  Ref<IIEValue> value;
  ReadText(text, [&](IEngineParser& parser) {
    value = parser.ParseValue(slot);
    ExpectEnd(parser);
  });
  return value;
}

Ref<IIEValue> TInferenceEngine::ParseValue(std::string_view text, TIETypes types,
                                           const IIEDefinedType* defined_type) {
  Ref<IIEValue> value;
  ReadText(text, [&](IEngineParser& parser) {
    value = parser.ParseValue(types, defined_type);
    ExpectEnd(parser);
  });
  return value;
}

}  // namespace zephro
