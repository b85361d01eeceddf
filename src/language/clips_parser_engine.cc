// How the engine reaches its parser: the hooks InstallClipsParser sets, the
// text entry points, and token input from logical names.
//
// The engine's parser lives in its hooks: each hook holds a reference to it, so
// it lives exactly as long as the engine keeps them. ParseHook holds it in a
// callable of a type of this file, which is how ClipsParser finds it again
// (std::function::target).

#include <algorithm>

#include "zephro/engine/inference_engine.h"
#include "zephro/engine/io_streams.h"
#include "zephro/facts/fact_set.h"
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

struct TParseHookCall {
  Ref<TIEClipsParser> parser;
  void operator()(TInferenceEngine& engine, std::string_view text, bool execute) const {
    ParseWith(*parser, engine, text, execute);
  }
};

// The tokens of `text`, in order.
std::vector<Ref<IStreamToken>> Tokenize(std::string text, const TSymbolGenerator& generate) {
  TIEClipsStream stream(std::move(text), generate);
  std::vector<Ref<IStreamToken>> tokens;
  for (Ref<IStreamToken> token = stream.BuildNextToken(); !token->IsEnd();
       token = stream.BuildNextToken()) {
    tokens.push_back(std::move(token));
  }
  return tokens;
}

}  // namespace

Ref<IUserFunction> MakeDeffunction(TParsedFunction function) {
  return MakeInterpretedFunction(std::move(function.name), std::move(function.comment),
                                 std::move(function.parameters), std::move(function.actions));
}

void InstallClipsParser(TInferenceEngine& engine, TFunctionMaker make_function) {
  Ref<TIEClipsParser> parser = MakeRef<TIEClipsParser>(engine);
  parser->MakeFunction = make_function ? std::move(make_function) : TFunctionMaker(MakeDeffunction);
  engine.ParseHook = TParseHookCall{parser};
  engine.ParseFactHook = [parser](TInferenceEngine&, std::string_view text) {
    return parser->ParseString(text, [&] { return parser->ParseFact(); });
  };
  engine.ReadTokenHook = [parser](TInferenceEngine&, std::string_view logical_name) {
    return parser->ReadToken(logical_name);
  };
}

TIEClipsParser& ClipsParser(TInferenceEngine& engine) {
  if (const auto* hook = engine.ParseHook.target<TParseHookCall>()) {
    return *hook->parser;
  }
  InstallClipsParser(engine);
  return *engine.ParseHook.target<TParseHookCall>()->parser;
}

void Parse(TInferenceEngine& engine, std::string_view text, bool execute) {
  ParseWith(ClipsParser(engine), engine, text, execute);
}

void Parse(TInferenceEngine& engine, std::istream& input, bool execute,
           std::string_view source_name) {
  TIEClipsParser& parser = ClipsParser(engine);
  TakeErrorSettings(parser, engine);
  parser.ParseStream(
      input, [&] { parser.Parse(execute); }, source_name);
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

Ref<TParsedDefinedType> ParseDefinedType(TInferenceEngine& engine, std::string_view text) {
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
  TIEClipsParser& p = ClipsParser(engine);
  return p.ParseStream(
      input, [&] { return p.LoadFacts(); }, source_name);
}

// Lines are read whole and cut into tokens; the tokens after the one handed out
// wait for the next call. A string that does not end on its line takes the
// following lines of a registered stream.
Ref<IStreamToken> TIEClipsParser::ReadToken(std::string_view logical_name) {
  auto it = pending_input_.find(logical_name);
  if (it == pending_input_.end()) {
    it = pending_input_.emplace(std::string(logical_name), std::vector<Ref<IStreamToken>>()).first;
  }
  std::vector<Ref<IStreamToken>>& pending = it->second;  // in reverse order
  const bool host = logical_name.empty() || logical_name == "t";
  TLogicalStream* stream = host ? nullptr : Engine().IOStreams().Get(logical_name);
  if (!host && stream == nullptr) {
    RaiseIE(SInvalidStreamName, std::string(logical_name).c_str());
  }
  while (pending.empty()) {
    std::string line;
    if (stream != nullptr) {
      if (!stream->ReadLine(line)) {
        return MakeRef<TIEStreamToken>();
      }
    } else {
      line = Engine().ReadLine(logical_name);
    }
    std::vector<Ref<IStreamToken>> tokens;
    for (;;) {
      try {
        tokens = Tokenize(line, SymbolGenerator());
        break;
      } catch (const EIEParseException&) {
        std::string more;
        if (stream == nullptr || !stream->ReadLine(more)) {
          throw;
        }
        line += "\n" + more;
      }
    }
    if (tokens.empty() && stream == nullptr) {
      return MakeRef<TIEStreamToken>();  // an empty answer from the host ends the input
    }
    pending.assign(tokens.rbegin(), tokens.rend());
  }
  Ref<IStreamToken> token = std::move(pending.back());
  pending.pop_back();
  return token;
}

}  // namespace zephro
