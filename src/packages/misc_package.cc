#include "zephro/packages/misc_package.h"

#include <cstdint>
#include <limits>
#include <string>

#include "zephro/engine/collections.h"
#include "zephro/platform/class_registry.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/rule.h"

#include "packages/misc_internal.h"
#include "packages/standard_control_internal.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TMiscPackage);

namespace {

// The closing line of a listing: `lead` ("For a total of " or "for a total
// of "), the number and the plural noun.
std::string TotalLine(const char* lead, int count, const char* noun) {
  return lead + std::to_string(count) + " " + noun + ".\n";
}

class TShowFactsFunction final : public TIEUserFunction {
 public:
  TShowFactsFunction()
      : TIEUserFunction(ShowFactsFunctionName, ShowFactsComment, ShowFactsSyntax, 0, 3) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    constexpr std::int32_t kNone = std::numeric_limits<std::int32_t>::max();
    const int n = call.ArgumentCount();
    const std::int32_t start =
        n > 0 ? EvalInteger(call, 0, context) : std::numeric_limits<std::int32_t>::min();
    const std::int32_t end = n > 1 ? EvalInteger(call, 1, context) : kNone;
    const std::int32_t max = n > 2 ? EvalInteger(call, 2, context) : kNone;
    // The listing is built first and printed at once, so that output the
    // printing causes cannot meet a working memory half walked.
    std::string text;
    int listed = 0;
    engine.ForEachFact([&](const IFact& fact) {
      if (listed < max && fact.GetID() >= start && fact.GetID() <= end) {
        text += fact.GetToIDString() + "\n";
        ++listed;
      }
    });
    engine.PrintOut("", text + TotalLine("For a total of ", listed, "facts"));
    return Ref<IIEValue>(&FCNil());
  }
};

class TShowRulesFunction final : public TIEUserFunction {
 public:
  TShowRulesFunction()
      : TIEUserFunction(ShowRulesFunctionName, ShowRulesComment, ShowRulesSyntax, 0, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    const std::string logical_name = call.ArgumentCount() > 0 ? EvalText(call, 0, context) : "";
    const TRules& rules = engine.Rules();
    std::string text;
    for (int i = 0; i < rules.Count(); ++i) {
      text += rules.At(i).RuleName() + "\n";
    }
    engine.PrintOut(logical_name, text + TotalLine("For a total of ", rules.Count(), "rules"));
    return Ref<IIEValue>(&FCNil());
  }
};

class TAgendaFunction final : public TIEUserFunction {
 public:
  TAgendaFunction() : TIEUserFunction(AgendaFunctionName, AgendaComment, AgendaSyntax, 0, 0) {}

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    const int count = engine.GetAgendaCount();
    std::string text;
    for (int i = 0; i < count; ++i) {
      text += engine.GetActivation(i).ToString() + "\n";
    }
    engine.PrintOut("", text + TotalLine("for a total of ", count, "activations"));
    return Ref<IIEValue>(&FCNil());
  }
};

}  // namespace

TMiscPackage::TMiscPackage(TComponent* owner) : TUserPackage(owner) {
  CreateFunctions();
}

void TMiscPackage::CreateFunctions() {
  TUserPackage::CreateFunctions();
  AddMiscConstructFunctions(*this);
  AddMiscEngineFunctions(*this);
  AddFunction<TAgendaFunction>();
  AddFunction<TShowFactsFunction>();
  AddFunction<TShowRulesFunction>();
  AddMiscTypeFunctions(*this);
  AddMiscDialogFunctions(*this);
  AddMiscDateTimeFunctions(*this);
}

}  // namespace zephro
