#include "testing/expression_builder.h"

#include <string>

#include "zephro/engine/context.h"
#include "zephro/functions/function_call.h"
#include "zephro/language/clips_stream.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

namespace zephro::testing {

std::vector<Ref<IIEValue>> BuildExpressions(TInferenceEngine& engine, std::string_view text) {
  TIEClipsStream scanner{std::string(text)};
  std::vector<Ref<IIEValue>> expressions;
  std::vector<Ref<IFunCall>> open_calls;
  for (Ref<IStreamToken> token = scanner.BuildNextToken(); !token->IsEnd();
       token = scanner.BuildNextToken()) {
    Ref<IIEValue> value;
    if (token->IsChar('(')) {
      open_calls.push_back(MakeFunCall(engine, scanner.BuildNextToken()->Text()));
      continue;
    }
    if (token->IsChar(')')) {
      if (open_calls.empty()) {
        RaiseIEPlain(SMissingOpenParens);
      }
      value = MakeRef<TIEValue>(open_calls.back());
      open_calls.pop_back();
    } else {
      value = token->Value();
    }
    if (open_calls.empty()) {
      expressions.push_back(value);
    } else {
      open_calls.back()->AddArgument(value);
    }
  }
  if (!open_calls.empty()) {
    RaiseIEPlain(SMissingCloseParens);
  }
  return expressions;
}

Ref<IIEValue> Evaluate(TInferenceEngine& engine, std::string_view text) {
  Ref<IIEValue> result(&FCNil());
  for (const Ref<IIEValue>& expression : BuildExpressions(engine, text)) {
    result = expression->Resolve(&engine.RootContext());
  }
  return result;
}

void InstallCommandParser(TInferenceEngine& engine) {
  engine.ParseHook = [](TInferenceEngine& e, std::string_view text, bool /*execute*/) {
    Evaluate(e, text);
  };
}

}  // namespace zephro::testing
