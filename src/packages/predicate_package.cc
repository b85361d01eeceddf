#include "zephro/packages/predicate_package.h"

#include <string>

#include "zephro/platform/class_registry.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/type_set_text.h"
#include "zephro/values/value.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TPredicatePackage);

namespace {

// get-type: the kind of the evaluated argument by its enumeration name.
class TGetValueTypeFunction final : public TIEUserFunction {
 public:
  TGetValueTypeFunction()
      : TIEUserFunction(GetValueTypeFunctionName, GetValueTypeComment, GetValueTypeSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return TIEValue::Atom(IETypeName(Eval(call, 0, context)->DType()));
  }
};

// evenp and oddp test the lowest bit of the integer, which two's complement
// keeps meaningful for negative numbers too.
class TEvenPFunction final : public TIEUserFunction {
 public:
  TEvenPFunction() : TIEUserFunction(EvenPFunctionName, EvenPComment, EvenPSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return BoolValue((EvalInteger(call, 0, context) & 1) == 0);
  }
};

class TOddPFunction final : public TIEUserFunction {
 public:
  TOddPFunction() : TIEUserFunction(OddPFunctionName, OddPComment, OddPSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return BoolValue((EvalInteger(call, 0, context) & 1) != 0);
  }
};

}  // namespace

std::string VerifyTypeComment(TIETypes types) {
  const std::string kinds = types.Empty() ? "NONE" : SetToString(types, ", ", false);
  return FormatMessage(PredicateComment, kinds.c_str());
}

TVerifyTypePFunction::TVerifyTypePFunction(std::string_view name, TIETypes types)
    : TIEUserFunction(name, VerifyTypeComment(types), PredicateSyntax, 1, 1), types_(types) {}

void TVerifyTypePFunction::SetTypes(TIETypes types) {
  types_ = types;
  SetComment(VerifyTypeComment(types));
}

void TVerifyTypePFunction::Assign(const TVerifyTypePFunction& source) {
  TIEUserFunction::Assign(source);
  types_ = source.types_;
}

Ref<IIEValue> TVerifyTypePFunction::Run(IFunCall& call, TIEContext& context) {
  return BoolValue(types_.Contains(Eval(call, 0, context)->DType()));
}

TPredicatePackage::TPredicatePackage(TComponent* owner) : TUserPackage(owner) {
  CreateFunctions();
}

void TPredicatePackage::CreateFunctions() {
  using enum TIEType;
  TUserPackage::CreateFunctions();
  AddFunction<TGetValueTypeFunction>();
  AddFunction<TEvenPFunction>();
  AddFunction<TOddPFunction>();
  AddFunction<TVerifyTypePFunction>(LexemePFunctionName, TIETypes{dtAtom, dtString});
  AddFunction<TVerifyTypePFunction>(NumberPFunctionName, TIETypes{dtInteger, dtFloat});
  AddFunction<TVerifyTypePFunction>(FloatPFunctionName, TIETypes{dtFloat});
  AddFunction<TVerifyTypePFunction>(FuzzyPFunctionName, TIETypes{dtFuzzy});
  AddFunction<TVerifyTypePFunction>(IntegerPFunctionName, TIETypes{dtInteger});
  AddFunction<TVerifyTypePFunction>(StringPFunctionName, TIETypes{dtString});
  AddFunction<TVerifyTypePFunction>(SymbolPFunctionName, TIETypes{dtAtom});
  AddFunction<TVerifyTypePFunction>(MultifieldPFunctionName, TIETypes{dtList});
  AddFunction<TVerifyTypePFunction>(ExternalAddressPFunctionName, TIETypes{dtExternalAddress});
  AddFunction<TVerifyTypePFunction>(ObjectPFunctionName, TIETypes{dtObject});
}

}  // namespace zephro
