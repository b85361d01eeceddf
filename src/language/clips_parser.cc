// The parser's frame: the main loop with its two ways of handling errors, the
// parse error, and the top-level expression: classifying it, building it,
// adding it to the engine and echoing it.
//
// Error recovery relies on the stream's expression look-ahead: the stream hands
// out one top-level expression at a time and knows how deep the parser is in
// it, so after an error MoveToNextConstruct drops exactly the rest of the broken
// expression, however far into it the parser had got.

#include "zephro/language/clips_parser.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "zephro/engine/fact_set.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/platform/exceptions.h"
#include "zephro/platform/stack.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

namespace zephro {

// --- the frame -------------------------------------------------------------------------------

TIEParser::TIEParser(TInferenceEngine& engine) : engine_(engine) {}

bool TIEParser::StaticTypeChecks() const noexcept {
  return engine_.TypeChecks().Contains(TTypeCheck::tcStatic);
}

TSymbolGenerator TIEParser::SymbolGenerator() const {
  TInferenceEngine* engine = &engine_;
  return [engine](std::string_view prefix) { return engine->GenerateSymbol(prefix); };
}

void TIEParser::SetStream(TIETokenizerStream* stream) {
  auto* clips = dynamic_cast<TIEClipsStream*>(stream);
  if (stream != nullptr && clips == nullptr) {
    RaiseIEPlain(SForeignTokenizer);
  }
  stream_ = clips;
}

const std::string& TIEParser::SourceName() const noexcept {
  static const std::string kNoFile;
  return stream_ != nullptr ? stream_->SourceName() : kNoFile;
}

TIEClipsStream& TIEParser::In() const {
  if (stream_ == nullptr) {
    RaiseIEPlain(SNoParser);
  }
  return *stream_;
}

std::int32_t TIEParser::CurrentLine() const {
  TIEClipsStream& in = In();
  try {
    return in.GetCurrentToken()->LineNumber();
  } catch (const EBaseException&) {
    return in.LineNumber();  // the token could not be read: where reading stopped
  }
}

void TIEParser::ParseError(std::string_view where, std::string_view message) const {
  throw MakeParseError(message, where, CurrentLine(), In().ToString());
}

void TIEParser::ParseErrorF(std::string_view where, const char* format, ...) const {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string message(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (size > 0) {
    std::vsnprintf(message.data(), message.size() + 1, format, args);
  }
  va_end(args);
  ParseError(where, message);
}

TIEParser::DepthGuard::DepthGuard(TIEParser& parser, std::string_view where) : parser_(parser) {
  if (++parser_.depth_ > kMaxNesting || StackIsLow()) {
    --parser_.depth_;
    const std::string limit = parser_.depth_ >= kMaxNesting
                                  ? "nesting deeper than " + std::to_string(kMaxNesting) + " levels"
                                  : std::string("nesting deeper than the thread's stack allows");
    parser_.ParseError(where, FormatMessage(SSyntaxError, limit.c_str()));
  }
}

// parse := expression* end
void TIEParser::Parse(bool execute) {
  if (error_handling_ == TErrorHandling::ehRaiseImmediate) {
    try {
      while (ParseExpression(execute)) {
      }
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception& e) {
      // Text that is no file's (a host's, a line typed at a terminal): the
      // error as it was raised, for the caller knows where it came from.
      if (SourceName().empty()) {
        throw;
      }
      RethrowAt(SourceName(), CurrentLine(), e);
    }
    return;
  }
  std::vector<EIEParseException> errors;
  for (;;) {
    try {
      if (!ParseExpression(execute)) {
        break;
      }
      continue;
    } catch (const EAbort&) {
      if (errors.empty()) {
        throw;
      }
      // The request to stop passes at once, and carries the errors met
      // before it, which would be lost otherwise.
      try {
        RaiseCollectedParseErrors(errors);
      } catch (const EIEParseException& collected) {
        throw EAbort(collected.what());
      }
    } catch (const EIEParseException& e) {
      if (SourceName().empty() && e.RuleName().empty()) {
        errors.push_back(e);
      } else {
        errors.push_back(LocatedError(SourceName(), CurrentLine(), e));
      }
    } catch (const std::exception& e) {
      errors.push_back(LocatedError(SourceName(), CurrentLine(), e));
    }
    if (errors.size() > static_cast<std::size_t>(std::max(max_errors_, 0))) {
      ReportSkippedRest(errors);
      break;
    }
    In().MoveToNextConstruct();
  }
  RaiseCollectedParseErrors(errors);
}

// After too many errors: one more line, saying where the rest of the input
// that is not read begins, when there is any.
void TIEParser::ReportSkippedRest(std::vector<EIEParseException>& errors) {
  std::int32_t line = 0;
  try {
    In().MoveToNextConstruct();
    Ref<IStreamToken> token = In().NextToken();
    if (token->IsEnd()) {
      return;
    }
    line = token->LineNumber();
  } catch (const EBaseException&) {
    line = In().LineNumber();  // unreadable: something is there all the same
  }
  std::string where = SourceName().empty() ? "line " + std::to_string(line)
                                           : SourceName() + ":" + std::to_string(line);
  errors.emplace_back(where + ": more than " + std::to_string(std::max(max_errors_, 0)) +
                          " errors: the rest of the input, from here on, was skipped",
                      line);
}

// --- one top-level expression -------------------------------------------------------------------

TIEClipsParser::~TIEClipsParser() {
  // The shared calls may be all that kept some retired deffunctions alive.
  shared_calls_.clear();
  shared_values_.clear();
  CollectRetiredFunctions(/*references_dropped=*/true);
}

TIEClipsParser::TIEClipsParser(TInferenceEngine& engine)
    : TIEParser(engine), MakeFunction(MakeDeffunction) {
  AddSlotFunction("assert", 0, 0);
  AddSlotFunction("fuzzy-assert", 0, 0);
  AddSlotFunction("fuzzy-assert-unconditional", 0, 0);
  AddSlotFunction("modify", 1, 65535);
  AddSlotFunction("duplicate", 1, 65535);
}

TParsedType TIEClipsParser::GetConstructType(const IStreamToken& token) {
  using enum TParsedType;
  if (token.IsChar('(')) {
    static constexpr struct {
      std::string_view head;
      TParsedType type;
    } kConstructs[] = {
        {"defrule", ptRule},          {"deffacts", ptFactSet}, {"deftemplate", ptFactTemplate},
        {"deffunction", ptFunction},  {"defglobal", ptGlobals}, {"deftype", ptDefType},
        {"EOF", ptEOF},
    };
    const std::string head = In().Head();
    for (const auto& construct : kConstructs) {
      if (construct.head == head) {
        return construct.type;
      }
    }
    return ptFunCall;
  }
  if (token.IsKind(TIEType::dtAtom) || token.IsKind(TIEType::dtInteger) ||
      token.IsKind(TIEType::dtFloat) || token.IsKind(TIEType::dtVariable) ||
      token.IsKind(TIEType::dtMultiVariable)) {
    return ptValue;
  }
  if (token.IsEnd() && token.Text() == "EOF") {
    return ptEOF;
  }
  ParseErrorF("GetConstructType", SExpectedParenConstVar, token.Text().c_str());
}

// expression := value | call | construct
bool TIEClipsParser::ParseExpression(bool execute) {
  Ref<IStreamToken> token = Next();
  const TParsedType type = GetConstructType(*token);
  TParseResult result;
  if (type == TParsedType::ptValue) {
    TIEContext& root = Engine().RootContext();
    result.type = type;
    result.value = token->Value([&root](std::string_view name) -> Ref<IIEValue> {
      const TBinding* binding = root.FindBinding(name);
      return binding != nullptr ? Ref<IIEValue>(binding->Value()) : Ref<IIEValue>();
    });
  } else if (type == TParsedType::ptEOF) {
    result.type = type;
    result.value = Ref<IIEValue>(&FCEOF());
  } else {
    PutBack(std::move(token));
    result = ParseConstruct(type, execute);
  }
  if ((result.type == TParsedType::ptValue || result.type == TParsedType::ptFunCall) &&
      (!result.value || result.value->Equals(&FCNil()))) {
    result.type = TParsedType::ptNone;
  }
  Echo(result);
  if (OnParse) {
    OnParse(*this, result);
  }
  // Between two expressions nothing holds a deffunction for a moment: a
  // collection then sees what keeps each retired function alive.
  CollectRetiredFunctions();
  return !(result.value && result.value->Equals(&FCEOF()));
}

TParseResult TIEClipsParser::ParseConstruct(TParsedType type, bool execute) {
  using enum TParsedType;
  TInferenceEngine& engine = Engine();
  TParseResult result;
  result.type = type;
  switch (type) {
    case ptFunCall:
      result.value = execute ? ParseNExecuteFunCall() : MakeRef<TIEValue>(ParseFunCall());
      break;
    case ptRule: {
      std::unique_ptr<TRule> parsed = ParseRule();
      TRule& rule = *parsed;
      if (!OnParseRule) {
        rule.PackPatternsWhenFiled();  // no one outside holds its patterns
      }
      engine.InsertComponent(std::move(parsed));
      result.rule = engine.AddRule(rule);
      break;
    }
    case ptFactSet: {
      std::unique_ptr<TFactSet> parsed = ParseFactSet();
      TFactSet& fact_set = *parsed;
      engine.InsertComponent(std::move(parsed));
      fact_set.SetEngine(&engine);
      result.fact_set = &fact_set;
      break;
    }
    case ptFactTemplate:
      result.fact_template = engine.AddFactTemplate(ParseFactTemplate());
      break;
    case ptFunction: {
      Ref<IUserFunction> function = ParseFunction();
      const std::string name = function->FunctionName();
      engine.PutUserFunction(name, function);
      // What is filed under the name now: the duplicate setting may have
      // kept another function and dropped this one.
      result.function = engine.GetUserFunction(name);
      break;
    }
    case ptGlobals:
      ParseGlobalVariables();
      break;
    case ptDefType: {
      result.defined_type = engine.DefinedTypes().Add(ParseDefinedType());
      break;
    }
    case ptNone:
    case ptValue:
    case ptEOF:
      break;
  }
  return result;
}

// One line per expression: a value's text, the number of facts of a fact set,
// a rule's id, the name of a template, function or type.
void TIEClipsParser::Echo(const TParseResult& result) {
  if (!Engine().EchoResults()) {
    return;
  }
  std::string line;
  switch (result.type) {
    case TParsedType::ptValue:
    case TParsedType::ptFunCall:
      line = result.value->ToString();
      break;
    case TParsedType::ptRule:
      if (result.rule == nullptr) {
        return;  // dropped as a duplicate
      }
      line = std::to_string(result.rule->RuleID());
      break;
    case TParsedType::ptFactSet:
      line = std::to_string(result.fact_set->Count());
      break;
    case TParsedType::ptFactTemplate:
      line = result.fact_template->TemplateName();
      break;
    case TParsedType::ptFunction:
      if (result.function == nullptr) {
        return;
      }
      line = result.function->FunctionName();
      break;
    case TParsedType::ptDefType:
      line = result.defined_type->TypeName();
      break;
    case TParsedType::ptNone:
    case TParsedType::ptGlobals:
    case TParsedType::ptEOF:
      return;
  }
  Engine().PrintOut(line + "\n");
}

// --- tokens ------------------------------------------------------------------------------------

Ref<IStreamToken> TIEClipsParser::Next() { return In().NextToken(); }

void TIEClipsParser::PutBack(Ref<IStreamToken> token) { In().PutBackToken(std::move(token)); }

void TIEClipsParser::Expect(char c, std::string_view where, std::string_view message) {
  if (!Next()->IsChar(c)) {
    ParseError(where, message);
  }
}

bool TIEClipsParser::PeekChar(char c) {
  Ref<IStreamToken> token = Next();
  const bool is = token->IsChar(c);
  PutBack(std::move(token));
  return is;
}

}  // namespace zephro
