// The business package. Every function reads its arguments by kind, in the
// order of its syntax text, and hands them to one of the financial routines
// (packages/financial.h); one class serves them all, each function being an
// instance with its own name, texts, argument kinds and routine.

#include "zephro/packages/business_package.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "zephro/platform/class_registry.h"
#include "zephro/values/value.h"

#include "packages/financial.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TBusinessPackage);

namespace {

// The arguments of a call as read: the numbers and integers in order, the cash
// flows and the payment time.
struct TFinancialArguments {
  std::array<double, 6> x{};
  std::vector<double> cash_flows;
  TPaymentTime when = TPaymentTime::ptEndOfPeriod;
};

class TFinancialFunction final : public TIEUserFunction {
 public:
  using TRoutine = double (*)(const TFinancialArguments& a);

  // `kinds` has a letter for each argument: n a number, i an integer, m a
  // multifield of cash flows, w a payment time.
  TFinancialFunction(const char* name, const char* comment, const char* syntax,
                     std::string_view kinds, TRoutine routine)
      : TIEUserFunction(name, comment, syntax, static_cast<std::int32_t>(kinds.size()),
                        static_cast<std::int32_t>(kinds.size())),
        kinds_(kinds),
        routine_(routine) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TFinancialArguments a;
    std::size_t number = 0;
    for (std::size_t i = 0; i < kinds_.size(); ++i) {
      const int index = static_cast<int>(i);
      switch (kinds_[i]) {
        case 'n':
          a.x[number++] = EvalNumber(call, index, context);
          break;
        case 'i':
          a.x[number++] = EvalInteger(call, index, context);
          break;
        case 'm':
          a.cash_flows = CashFlows(*Eval(call, index, context));
          break;
        default:
          a.when = PaymentTimeOf(EvalText(call, index, context));
          break;
      }
    }
    return TIEValue::Float(routine_(a));
  }

 private:
  // The elements of a multifield as numbers, each taken as it stands.
  static std::vector<double> CashFlows(const IIEValue& value) {
    std::vector<double> flows;
    if (const IValueVector* list = value.AsList()) {
      flows.reserve(static_cast<std::size_t>(list->ValueCount()));
      for (const Ref<IIEValue>& flow : list->Values()) {
        flows.push_back(flow->AsFloat());
      }
    }
    return flows;
  }

  std::string_view kinds_;
  TRoutine routine_;
};

}  // namespace

TBusinessPackage::TBusinessPackage(TComponent* owner) : TUserPackage(owner) {
  CreateFunctions();
}

void TBusinessPackage::CreateFunctions() {
  TUserPackage::CreateFunctions();
  using F = TFinancialFunction;
  using A = TFinancialArguments;
  AddFunction<F>(DoubleDecliningBalanceFunctionName, DoubleDecliningBalanceComment,
                 DoubleDecliningBalanceSyntax, "nnii",
                 [](const A& a) { return DoubleDecliningBalance(a.x[0], a.x[1], a.x[2], a.x[3]); });
  AddFunction<F>(FutureValueFunctionName, FutureValueComment, FutureValueSyntax, "ninnw",
                 [](const A& a) { return FutureValue(a.x[0], a.x[1], a.x[2], a.x[3], a.when); });
  AddFunction<F>(
      InterestPaymentFunctionName, InterestPaymentComment, InterestPaymentSyntax, "niinnw",
      [](const A& a) { return InterestPayment(a.x[0], a.x[1], a.x[2], a.x[3], a.x[4], a.when); });
  AddFunction<F>(InterestRateFunctionName, InterestRateComment, InterestRateSyntax, "innnw",
                 [](const A& a) { return InterestRate(a.x[0], a.x[1], a.x[2], a.x[3], a.when); });
  AddFunction<F>(InternalRateOfReturnFunctionName, InternalRateOfReturnComment,
                 InternalRateOfReturnSyntax, "nm",
                 [](const A& a) { return InternalRateOfReturn(a.x[0], a.cash_flows); });
  AddFunction<F>(NetPresentValueFunctionName, NetPresentValueComment, NetPresentValueSyntax, "nmw",
                 [](const A& a) { return NetPresentValue(a.x[0], a.cash_flows, a.when); });
  AddFunction<F>(
      NumberOfPeriodsFunctionName, NumberOfPeriodsComment, NumberOfPeriodsSyntax, "nnnnw",
      [](const A& a) { return NumberOfPeriods(a.x[0], a.x[1], a.x[2], a.x[3], a.when); });
  AddFunction<F>(PaymentFunctionName, PaymentComment, PaymentSyntax, "ninnw",
                 [](const A& a) { return Payment(a.x[0], a.x[1], a.x[2], a.x[3], a.when); });
  AddFunction<F>(
      PeriodPaymentFunctionName, PeriodPaymentComment, PeriodPaymentSyntax, "niinnw",
      [](const A& a) { return PeriodPayment(a.x[0], a.x[1], a.x[2], a.x[3], a.x[4], a.when); });
  AddFunction<F>(PresentValueFunctionName, PresentValueComment, PresentValueSyntax, "ninnw",
                 [](const A& a) { return PresentValue(a.x[0], a.x[1], a.x[2], a.x[3], a.when); });
  AddFunction<F>(SLNDepreciationFunctionName, SLNDepreciationComment, SLNDepreciationSyntax, "nni",
                 [](const A& a) { return SLNDepreciation(a.x[0], a.x[1], a.x[2]); });
  AddFunction<F>(SYDDepreciationFunctionName, SYDDepreciationComment, SYDDepreciationSyntax, "nnii",
                 [](const A& a) { return SYDDepreciation(a.x[0], a.x[1], a.x[2], a.x[3]); });
}

}  // namespace zephro
