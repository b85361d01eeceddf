#include "testing/language_fixture.h"

#include <string>

#include "zephro/functions/user_function.h"
#include "zephro/platform/exceptions.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro::testing {
namespace {

class TLambdaFunction final : public TIEUserFunction {
 public:
  using Body = Ref<IIEValue> (*)(IFunCall& call, TIEContext& context);
  TLambdaFunction(std::string_view name, Body body) : TIEUserFunction(name), body_(body) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override { return body_(call, context); }

 private:
  Body body_;
};

Ref<IIEValue> Arg(IFunCall& call, int i, TIEContext& context) {
  return call.Argument(i)->Resolve(&context);
}

Ref<IIEValue> Sum(IFunCall& call, TIEContext& context) {
  bool real = false;
  double sum = 0;
  for (int i = 0; i < call.ArgumentCount(); ++i) {
    Ref<IIEValue> v = Arg(call, i, context);
    real = real || v->DType() == TIEType::dtFloat;
    sum += v->AsFloat();
  }
  return real ? TIEValue::Float(sum) : TIEValue::Integer(static_cast<std::int32_t>(sum));
}

Ref<IIEValue> Eq(IFunCall& call, TIEContext& context) {
  Ref<IIEValue> a = Arg(call, 0, context);
  return BoolValue(a->Equals(Arg(call, 1, context).get()));
}

Ref<IIEValue> Neq(IFunCall& call, TIEContext& context) {
  Ref<IIEValue> a = Arg(call, 0, context);
  return BoolValue(!a->Equals(Arg(call, 1, context).get()));
}

Ref<IIEValue> EqStar(IFunCall& call, TIEContext& context) {
  Ref<IIEValue> a = Arg(call, 0, context);
  return BoolValue(a->EqualsStar(Arg(call, 1, context).get()));
}

Ref<IIEValue> And(IFunCall& call, TIEContext& context) {
  for (int i = 0; i < call.ArgumentCount(); ++i) {
    if (Arg(call, i, context)->Equals(&FCFalse())) {
      return BoolValue(false);
    }
  }
  return BoolValue(true);
}

Ref<IIEValue> Or(IFunCall& call, TIEContext& context) {
  for (int i = 0; i < call.ArgumentCount(); ++i) {
    if (!Arg(call, i, context)->Equals(&FCFalse())) {
      return BoolValue(true);
    }
  }
  return BoolValue(false);
}

Ref<IIEValue> Greater(IFunCall& call, TIEContext& context) {
  return BoolValue(Arg(call, 0, context)->AsFloat() > Arg(call, 1, context)->AsFloat());
}

Ref<IIEValue> Not(IFunCall& call, TIEContext& context) {
  return BoolValue(Arg(call, 0, context)->Equals(&FCFalse()));
}

Ref<IIEValue> PrintOut(IFunCall& call, TIEContext& context) {
  std::string text;
  for (int i = 1; i < call.ArgumentCount(); ++i) {
    Ref<IIEValue> v = Arg(call, i, context);
    if (v->DType() == TIEType::dtAtom && v->Text() == "crlf") {
      text += "\n";
    } else if (v->DType() == TIEType::dtString) {
      text += v->Text();
    } else {
      text += v->ToString();
    }
  }
  context.Engine()->PrintOut(call.Argument(0)->ToString(), text);
  return Ref<IIEValue>(&FCNil());
}

Ref<IIEValue> Assert(IFunCall& call, TIEContext& context) {
  Ref<IIEValue> result(&FCNil());
  for (int i = 0; i < call.ArgumentCount(); ++i) {
    Ref<IFact> fact = call.Argument(i)->AsFact()->Clone();
    context.Resolve(*fact);
    result = MakeRef<TIEValue>(context.Engine()->Assert(std::move(fact)), TIEType::dtFactId);
  }
  return result;
}

Ref<IIEValue> ParseText(IFunCall& call, TIEContext& context) {
  context.Engine()->Parse(Arg(call, 0, context)->AsString(), true);
  return BoolValue(true);
}

class TRecordedFunction final : public TIEUserFunction {
 public:
  explicit TRecordedFunction(TParsedFunction record)
      : TIEUserFunction(record.name), record_(std::move(record)) {}
  const TParsedFunction& Record() const noexcept { return record_; }

 private:
  TParsedFunction record_;
};

}  // namespace

void AddLanguageTestFunctions(TInferenceEngine& engine) {
  const struct {
    const char* name;
    TLambdaFunction::Body body;
  } kFunctions[] = {
      {"+", Sum},      {"eq", Eq},           {"neq", Neq},     {"eq*", EqStar},
      {"and", And},    {"or", Or},           {"not", Not},     {"printout", PrintOut},
      {">", Greater},
      {"assert", Assert}, {"parse-text", ParseText},
  };
  for (const auto& f : kFunctions) {
    engine.PutUserFunction(f.name, TIEUserFunction::Make<TLambdaFunction>(f.name, f.body));
  }
}

TFunctionMaker RecordingFunctionMaker() {
  return [](TParsedFunction record) -> Ref<IUserFunction> {
    return TIEUserFunction::Make<TRecordedFunction>(std::move(record));
  };
}

const TParsedFunction* RecordOf(const IUserFunction& function) {
  const auto* recorded = dynamic_cast<const TRecordedFunction*>(&function);
  return recorded != nullptr ? &recorded->Record() : nullptr;
}

ParserFixture::ParserFixture() {
  InstallClipsParser(Engine(), RecordingFunctionMaker());
  AddLanguageTestFunctions(Engine());
}

std::string ParserFixture::ErrorOf(std::string_view text) {
  try {
    Engine().Parse(text, true);
  } catch (const EBaseException& e) {
    return e.what();
  }
  return std::string();
}

}  // namespace zephro::testing
