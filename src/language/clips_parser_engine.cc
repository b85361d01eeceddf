// The parser as the engine's: the classes a new engine is made with, the
// routines the engine calls that the other files do not hold, and the
// language's own entry points.

#include <algorithm>

#include "zephro/engine/fact_set.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/facts/fact_template.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/language/clips_parser.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

namespace zephro {

Ref<IUserFunction> MakeDeffunction(TParsedFunction function) {
  return MakeInterpretedFunction(std::move(function.name), std::move(function.comment),
                                 std::move(function.parameters), std::move(function.actions));
}

TParserClass DefaultParserClass() {
  return [](TInferenceEngine& engine) -> Ref<IEngineParser> {
    return MakeRef<TIEClipsParser>(engine);
  };
}

TTokenizerClass DefaultTokenizerClass() {
  return
      [](TInferenceEngine& engine, TTokenizerSource source) -> std::unique_ptr<TIETokenizerStream> {
        // The scanner names the anonymous variables with the engine's symbols.
        TSymbolGenerator generate = [&engine](std::string_view prefix) {
          return engine.GenerateSymbol(prefix);
        };
        if (source.stream != nullptr) {
          return std::make_unique<TIEClipsStream>(*source.stream, std::move(generate));
        }
        return std::make_unique<TIEClipsStream>(TIEClipsStream::BorrowText{}, source.text,
                                                std::move(generate));
      };
}

void InstallClipsParser(TInferenceEngine& engine, TFunctionMaker make_function) {
  Ref<TIEClipsParser> parser = MakeRef<TIEClipsParser>(engine);
  if (make_function) {
    parser->MakeFunction = std::move(make_function);
  }
  engine.SetParser(std::move(parser));
}

TIEClipsParser& ClipsParser(TInferenceEngine& engine) {
  if (auto* parser = dynamic_cast<TIEClipsParser*>(&engine.Parser())) {
    return *parser;
  }
  InstallClipsParser(engine);
  return static_cast<TIEClipsParser&>(engine.Parser());
}

// --- what the engine asks that the grammar files do not answer ---------------------------------

Ref<IIEValue> TIEClipsParser::ParseVariable(std::string& name) {
  Ref<IIEValue> value;
  ParseVariable(name, value);
  return value;
}

// A slot definition is read into a template of its own, which lets the slot
// go free-standing when it dies.
Ref<IFactSlot> TIEClipsParser::ParseFactTemplateSlot() {
  Ref<TFactTemplate> scratch = MakeRef<TFactTemplate>(&Engine());
  ParseFactTemplateSlot(*scratch);
  return Ref<IFactSlot>(scratch->SlotAt(0));
}

void TIEClipsParser::ParseInput(std::istream& input, bool execute, std::string_view source_name) {
  ParseStream(
      input, [&] { Parse(execute); }, source_name);
}

int TIEClipsParser::LoadFactsInput(std::istream& input, std::string_view source_name) {
  return ParseStream(
      input, [&] { return LoadFacts(); }, source_name);
}

std::string TIEClipsParser::SavedFactText(const IFact& fact) { return zephro::SavedFactText(fact); }

Ref<IUserFunction> TIEClipsParser::ParseFunction() {
  TParsedFunction parsed = ParseFunctionRecord();
  if (!MakeFunction) {
    RaiseIE(SNoSuchFunction, "deffunction");
  }
  Ref<IUserFunction> function = MakeFunction(std::move(parsed));
  if (!function) {
    RaiseIEPlain(SInvalidFunctionAdd);
  }
  if (OnParseFunction) {
    OnParseFunction(*this, *function);
  }
  return function;
}

namespace {

// Adds `name` to the sorted list `names` unless it is there.
void AddName(std::vector<std::string>& names, std::string_view name) {
  const auto at = std::lower_bound(names.begin(), names.end(), name);
  if (at == names.end() || *at != name) {
    names.emplace(at, name);
  }
}

// Adds to `bindings` the local variables `call` and the calls in it bind:
// (bind ?x ...); globals (?*x*) are not local.
void AddBoundVariables(const IFunCall& call, std::vector<std::string>& bindings) {
  const auto arguments = call.Arguments();
  if (call.Name() == "bind" && !arguments.empty() && arguments[0] != nullptr &&
      (arguments[0]->DType() == TIEType::dtVariable ||
       arguments[0]->DType() == TIEType::dtMultiVariable)) {
    const std::string_view name = arguments[0]->Text();
    if (!(name.size() >= 2 && name.front() == '*' && name.back() == '*')) {
      AddName(bindings, name);
    }
  }
  for (const Ref<IIEValue>& argument : arguments) {
    if (argument != nullptr && argument->DType() == TIEType::dtFunCall) {
      AddBoundVariables(*argument->AsFunCall(), bindings);
    }
  }
}

}  // namespace

void TIEClipsParser::ParseRulePatterns(TRule& rule, std::vector<std::string>& bindings) {
  ParseRulePatterns(rule);
  for (int i = 0; i < rule.BindingCount(); ++i) {
    AddName(bindings, rule.Binding(i).Name());
  }
}

void TIEClipsParser::ParseRuleActions(TRule& rule, std::vector<std::string>& bindings) {
  const int first = rule.ActionCount();
  ParseRuleActions(rule);
  for (int i = first; i < rule.ActionCount(); ++i) {
    AddBoundVariables(rule.Action(i), bindings);
  }
}

// --- the language's own entry points
// --------------------------------------------------------------

void Parse(TInferenceEngine& engine, std::istream& input, bool execute,
           std::string_view source_name) {
  ClipsParser(engine).ParseInput(input, execute, source_name);
}

std::unique_ptr<TRule> ParseRule(TInferenceEngine& engine, std::string_view text) {
  TIEClipsParser& parser = ClipsParser(engine);
  return parser.ParseString(text, [&] { return parser.ParseRule(); });
}

TParsedFunction ParseFunctionRecord(TInferenceEngine& engine, std::string_view text) {
  TIEClipsParser& parser = ClipsParser(engine);
  return parser.ParseString(text, [&] { return parser.ParseFunctionRecord(); });
}

int LoadFacts(TInferenceEngine& engine, std::istream& input, std::string_view source_name) {
  return ClipsParser(engine).LoadFactsInput(input, source_name);
}

}  // namespace zephro
