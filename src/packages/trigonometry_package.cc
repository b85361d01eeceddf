// The trigonometry package. The functions differ only in their formula, so
// two classes serve them all: one for functions of numbers and one for
// distances between points; each
// function is an instance with its own name, texts and formula. The formulas
// are written out as the header gives them, without domain checks, so that a
// pole or an argument outside the domain yields an infinity or a NaN.

#include "zephro/packages/trigonometry_package.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <tuple>

#include "zephro/platform/class_registry.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TTrigonometryPackage);

namespace {

using std::numbers::pi;

using TNumberFormula = double (*)(double);

// A function of as many numbers as the formula takes, evaluated from left to
// right: the formula applied to them.
template <class... Numbers>
class TFormulaFunction final : public TIEUserFunction {
 public:
  static constexpr std::int32_t kArity = sizeof...(Numbers);

  TFormulaFunction(const char* name, const char* comment, const char* syntax,
                   double (*formula)(Numbers...))
      : TIEUserFunction(name, comment, syntax, kArity, kArity), formula_(formula) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    std::array<double, kArity> x;
    for (std::int32_t i = 0; i < kArity; ++i) {
      x[static_cast<std::size_t>(i)] = EvalNumber(call, i, context);
    }
    return TIEValue::Float(std::apply(formula_, x));
  }

 private:
  double (*formula_)(Numbers...);
};

using TNumberFunction = TFormulaFunction<double>;
using TPairFunction = TFormulaFunction<double, double>;

// The number of values in a multifield; a multifield without a vector behind it
// is empty.
int CountOf(const IValueVector* list) {
  return list != nullptr ? list->ValueCount() : 0;
}

// A distance between two points given as multifields: `finish` applied to the
// sum of `term` of each coordinate difference.
class TDistanceFunction final : public TIEUserFunction {
 public:
  TDistanceFunction(const char* name, const char* comment, const char* syntax, TNumberFormula term,
                    TNumberFormula finish)
      : TIEUserFunction(name, comment, syntax, 2, 2), term_(term), finish_(finish) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const Ref<IIEValue> first = Eval(call, 0, context);
    const Ref<IIEValue> second = Eval(call, 1, context);
    const IValueVector* p = first->AsList();
    const IValueVector* q = second->AsList();
    const int count = CountOf(p);
    if (count != CountOf(q)) {
      RaiseIEPlain(SMultifieldLengthMismatch);
    }
    double sum = 0;
    for (int i = 0; i < count; ++i) {
      const double a = Coordinate(*p, i, context);
      sum += term_(a - Coordinate(*q, i, context));
    }
    return TIEValue::Float(finish_(sum));
  }

 private:
  // Coordinate `i`, resolved in `context` (it may be a variable).
  static double Coordinate(const IValueVector& point, int i, TIEContext& context) {
    return point.Get(i)->Resolve(&context)->AsNumeric();
  }

  TNumberFormula term_;
  TNumberFormula finish_;
};

double Square(double d) {
  return d * d;
}
double Same(double d) {
  return d;
}

}  // namespace

TTrigonometryPackage::TTrigonometryPackage(TComponent* owner) : TUserPackage(owner) {
  CreateFunctions();
}

void TTrigonometryPackage::CreateFunctions() {
  TUserPackage::CreateFunctions();
  using F = TNumberFunction;
  AddFunction<F>(ACosFunctionName, ACosComment, ACosSyntax, [](double x) { return std::acos(x); });
  AddFunction<F>(ACosHFunctionName, ACosHComment, ACosHSyntax,
                 [](double x) { return std::acosh(x); });
  AddFunction<F>(ACotFunctionName, ACotComment, ACotSyntax,
                 [](double x) { return pi / 2 - std::atan(x); });
  AddFunction<F>(ACotHFunctionName, ACotHComment, ACotHSyntax,
                 [](double x) { return std::log((x + 1) / (x - 1)) / 2; });
  AddFunction<F>(ACscFunctionName, ACscComment, ACscSyntax, [](double x) {
    const double a = std::asin(1 / std::fabs(x));
    return x < 0 ? a + pi : a;
  });
  AddFunction<F>(ACscHFunctionName, ACscHComment, ACscHSyntax,
                 [](double x) { return std::log(1 / x + std::sqrt(1 / (x * x) + 1)); });
  AddFunction<F>(ASecFunctionName, ASecComment, ASecSyntax, [](double x) {
    const double a = std::acos(1 / std::fabs(x));
    return x < 0 ? a + pi : a;
  });
  AddFunction<F>(ASecHFunctionName, ASecHComment, ASecHSyntax,
                 [](double x) { return std::log(1 / x + std::sqrt(1 / (x * x) - 1)); });
  AddFunction<F>(ASinFunctionName, ASinComment, ASinSyntax, [](double x) { return std::asin(x); });
  AddFunction<F>(ASinHFunctionName, ASinHComment, ASinHSyntax,
                 [](double x) { return std::asinh(x); });
  AddFunction<F>(ATanFunctionName, ATanComment, ATanSyntax, [](double x) { return std::atan(x); });
  // The first argument is the abscissa, the second the ordinate.
  AddFunction<TPairFunction>(ATan2FunctionName, ATan2Comment, ATan2Syntax,
                             [](double x, double y) { return std::atan2(y, x); });
  AddFunction<F>(ATanHFunctionName, ATanHComment, ATanHSyntax,
                 [](double x) { return std::atanh(x); });
  AddFunction<F>(CosFunctionName, CosComment, CosSyntax, [](double x) { return std::cos(x); });
  AddFunction<F>(CosHFunctionName, CosHComment, CosHSyntax, [](double x) { return std::cosh(x); });
  AddFunction<F>(CotFunctionName, CotComment, CotSyntax, [](double x) { return 1 / std::tan(x); });
  AddFunction<F>(CotHFunctionName, CotHComment, CotHSyntax,
                 [](double x) { return 1 / std::tanh(x); });
  AddFunction<F>(CscFunctionName, CscComment, CscSyntax,
                 [](double x) { return 1 / std::cos(pi / 2 - x); });
  AddFunction<F>(CscHFunctionName, CscHComment, CscHSyntax,
                 [](double x) { return 1 / std::sinh(x); });
  AddFunction<F>(CycleRadFunctionName, CycleRadComment, CycleRadSyntax,
                 [](double x) { return x * 2 * pi; });
  // 1.1111111111111112 is the double nearest 10/9.
  AddFunction<F>(DegGradFunctionName, DegGradComment, DegGradSyntax,
                 [](double x) { return x * 1.1111111111111112; });
  AddFunction<F>(DegRadFunctionName, DegRadComment, DegRadSyntax,
                 [](double x) { return x * pi / 180; });
  AddFunction<TDistanceFunction>(DistanceFunctionName, DistanceComment, DistanceSyntax, Square,
                                 [](double sum) { return std::sqrt(sum); });
  AddFunction<TDistanceFunction>(DistanceSqrFunctionName, DistanceSqrComment, DistanceSqrSyntax,
                                 Square, Same);
  AddFunction<TDistanceFunction>(
      DistanceManhattanFunctionName, DistanceManhattanComment, DistanceManhattanSyntax,
      [](double d) { return std::fabs(d); }, Same);
  AddFunction<F>(GradDegFunctionName, GradDegComment, GradDegSyntax,
                 [](double x) { return x * 0.9; });
  AddFunction<F>(GradRadFunctionName, GradRadComment, GradRadSyntax,
                 [](double x) { return x * pi / 200; });
  AddFunction<TPairFunction>(HypotenuseFunctionName, HypotenuseComment, HypotenuseSyntax,
                             [](double x, double y) { return std::sqrt(x * x + y * y); });
  AddFunction<F>(RadCycleFunctionName, RadCycleComment, RadCycleSyntax,
                 [](double x) { return x / (2 * pi); });
  AddFunction<F>(RadDegFunctionName, RadDegComment, RadDegSyntax,
                 [](double x) { return x * 180 / pi; });
  AddFunction<F>(RadGradFunctionName, RadGradComment, RadGradSyntax,
                 [](double x) { return x * 200 / pi; });
  AddFunction<F>(SecFunctionName, SecComment, SecSyntax, [](double x) { return 1 / std::cos(x); });
  AddFunction<F>(SecHFunctionName, SecHComment, SecHSyntax,
                 [](double x) { return 1 / std::cosh(x); });
  AddFunction<F>(SinFunctionName, SinComment, SinSyntax, [](double x) { return std::sin(x); });
  AddFunction<F>(SinHFunctionName, SinHComment, SinHSyntax, [](double x) { return std::sinh(x); });
  AddFunction<F>(TanFunctionName, TanComment, TanSyntax, [](double x) { return std::tan(x); });
  AddFunction<F>(TanHFunctionName, TanHComment, TanHSyntax, [](double x) { return std::tanh(x); });
}

}  // namespace zephro
