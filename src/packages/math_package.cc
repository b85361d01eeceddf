// The math package. Every function reads its arguments through the value
// model's conversions and builds a fresh result value; none keeps state except
// the shared random number generator at the end of the file.
//
// Floating-point errors are detected after the fact rather than trapped: the
// operations run with the unit's exceptions masked, and a result that is NaN
// although no operand was, or infinite although every operand was finite, is
// reported as the exception the unit would have raised. Poles (a finite number
// divided by zero, the logarithm of zero, zero to a negative power) are checked
// before the operation, since their infinite result is otherwise
// indistinguishable from an overflow.

#include "zephro/packages/math_package.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <random>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/errors.h"
#include "zephro/values/value.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TMathPackage);

namespace {

// The platform's arithmetic errors. TIEUserFunction reports them as
// "<function> error: <message>".
[[noreturn]] void RaiseFloatDivideByZero() {
  RaisePlatformError("%s", "Floating point division by zero");
}
[[noreturn]] void RaiseInvalidFloatOperation() {
  RaisePlatformError("%s", "Invalid floating point operation");
}
[[noreturn]] void RaiseFloatOverflow() {
  RaisePlatformError("%s", "Floating point overflow");
}
[[noreturn]] void RaiseIntegerDivideByZero() {
  RaisePlatformError("%s", "Division by zero");
}

// `result` of an operation on `operands`, or the error the floating-point unit
// would have raised for it (see the top of this file).
double Checked(double result, std::initializer_list<double> operands) {
  if (std::isfinite(result)) {
    return result;
  }
  bool any_nan = false;
  bool all_finite = true;
  for (double x : operands) {
    any_nan = any_nan || std::isnan(x);
    all_finite = all_finite && std::isfinite(x);
  }
  if (std::isnan(result) && !any_nan) {
    RaiseInvalidFloatOperation();
  }
  if (std::isinf(result) && all_finite) {
    RaiseFloatOverflow();
  }
  return result;
}

// `value` rounded to the nearest integer, halves to even (the default rounding
// mode), and wrapped to 32 bits. fmod is exact, so even values beyond the 64-bit
// range wrap correctly.
std::int32_t RoundToInt32(double value) {
  if (!std::isfinite(value)) {
    RaiseInvalidFloatOperation();
  }
  constexpr double kTwoTo32 = 4294967296.0;
  double wrapped = std::fmod(std::nearbyint(value), kTwoTo32);
  if (wrapped < 0) {
    wrapped += kTwoTo32;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(wrapped));
}

// An argument read as a number, and whether it was a float: the kind of an
// arithmetic result follows the kinds of its arguments.
struct TNumber {
  double value;
  bool is_float;
};

// Base of the functions that read numbers and answer an integer or a float.
class TNumericFunction : public TIEUserFunction {
 protected:
  using TIEUserFunction::TIEUserFunction;
  ~TNumericFunction() override = default;

  static TNumber Number(IFunCall& call, int index, TIEContext& context) {
    Ref<IIEValue> holder;
    const IIEValue& value = EvalBorrowed(call, index, context, holder);
    return {value.AsNumeric(), value.DType() == TIEType::dtFloat};
  }

  static Ref<IIEValue> Result(TNumber number) {
    return number.is_float ? TIEValue::Float(number.value)
                           : TIEValue::Integer(RoundToInt32(number.value));
  }

  // The argument that wins under `better`, compared with each earlier winner;
  // the result is a float when the first argument or any winner was one.
  template <class Better>
  static Ref<IIEValue> Extreme(IFunCall& call, TIEContext& context, Better better) {
    TNumber best = Number(call, 0, context);
    for (int index = 1; index < call.ArgumentCount(); ++index) {
      const TNumber n = Number(call, index, context);
      if (better(n.value, best.value)) {
        best = {n.value, best.is_float || n.is_float};
      }
    }
    return Result(best);
  }
};

double Add(double a, double b) {
  return Checked(a + b, {a, b});
}
double Subtract(double a, double b) {
  return Checked(a - b, {a, b});
}
double Multiply(double a, double b) {
  return Checked(a * b, {a, b});
}
double Divide(double a, double b) {
  // IEEE signals division by zero only for a finite, non-zero dividend; 0/0 is
  // invalid, and an infinity or NaN divided by zero passes unreported.
  if (b == 0 && std::isfinite(a)) {
    if (a == 0) {
      RaiseInvalidFloatOperation();
    }
    RaiseFloatDivideByZero();
  }
  return Checked(a / b, {a, b});
}

// + - * /: the arguments combined from left to right with `Op`. The fold starts
// from `unit` when there is one (so that no arguments give it), otherwise from
// the first argument (so that a single argument comes back as it is: (- 7) is 7).
template <double (*Op)(double, double)>
class TFoldFunction : public TNumericFunction {
 protected:
  TFoldFunction(const char* name, const char* comment, const char* syntax,
                std::optional<double> unit, bool float_result)
      : TNumericFunction(name, comment, syntax, unit ? 0 : 1),
        unit_(unit),
        float_result_(float_result) {}

  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    int index = 0;
    TNumber result = unit_ ? TNumber{*unit_, false} : Number(call, index++, context);
    result.is_float = result.is_float || float_result_;
    for (; index < call.ArgumentCount(); ++index) {
      const TNumber n = Number(call, index, context);
      result = {Op(result.value, n.value), result.is_float || n.is_float};
    }
    return Result(result);
  }

 private:
  std::optional<double> unit_;
  bool float_result_;
};

class TPlusFunction final : public TFoldFunction<Add> {
 public:
  TPlusFunction() : TFoldFunction(PlusFunctionName, PlusComment, PlusSyntax, 0, false) {}
  TNumberOperation NumberOperation() const noexcept override { return TNumberOperation::noAdd; }
};

class TMinusFunction final : public TFoldFunction<Subtract> {
 public:
  TMinusFunction()
      : TFoldFunction(MinusFunctionName, MinusComment, MinusSyntax, std::nullopt, false) {}
  TNumberOperation NumberOperation() const noexcept override {
    return TNumberOperation::noSubtract;
  }
};

class TTimesFunction final : public TFoldFunction<Multiply> {
 public:
  TTimesFunction() : TFoldFunction(TimesFunctionName, TimesComment, TimesSyntax, 1, false) {}
  TNumberOperation NumberOperation() const noexcept override {
    return TNumberOperation::noMultiply;
  }
};

class TDivideFunction final : public TFoldFunction<Divide> {
 public:
  TDivideFunction()
      : TFoldFunction(DivideFunctionName, DivideComment, DivideSyntax, std::nullopt, true) {}
};

// div and mod in 32 bits. The one quotient that overflows, the most negative
// integer divided by -1, wraps to itself.
std::int32_t IntegerDivide(std::int32_t a, std::int32_t b) {
  if (b == 0) {
    RaiseIntegerDivideByZero();
  }
  return b == -1 ? static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(a)) : a / b;
}

std::int32_t IntegerRemainder(std::int32_t a, std::int32_t b) {
  if (b == 0) {
    RaiseIntegerDivideByZero();
  }
  return b == -1 ? 0 : a % b;
}

class TIntegerDivideFunction final : public TIEUserFunction {
 public:
  TIntegerDivideFunction()
      : TIEUserFunction(IntegerDivideFunctionName, IntegerDivideComment, IntegerDivideSyntax, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    std::int32_t quotient = EvalInteger(call, 0, context);
    for (int index = 1; index < call.ArgumentCount(); ++index) {
      quotient = IntegerDivide(quotient, EvalInteger(call, index, context));
    }
    return TIEValue::Integer(quotient);
  }
};

class TModFunction final : public TIEUserFunction {
 public:
  TModFunction() : TIEUserFunction(ModFunctionName, ModComment, ModSyntax, 2, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const std::int32_t dividend = EvalInteger(call, 0, context);
    return TIEValue::Integer(IntegerRemainder(dividend, EvalInteger(call, 1, context)));
  }
};

class TAbsFunction final : public TIEUserFunction {
 public:
  TAbsFunction() : TIEUserFunction(AbsFunctionName, AbsComment, AbsSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> value = EvalNumeric(call, 0, context);
    if (value->DType() == TIEType::dtFloat) {
      return TIEValue::Float(std::fabs(value->AsFloat()));
    }
    // Negated in unsigned arithmetic: the most negative integer wraps to itself.
    const std::int32_t n = value->AsInteger();
    return TIEValue::Integer(n < 0 ? static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(n))
                                   : n);
  }
};

class TMaxFunction final : public TNumericFunction {
 public:
  TMaxFunction() : TNumericFunction(MaxFunctionName, MaxComment, MaxSyntax, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return Extreme(call, context, [](double a, double b) { return a > b; });
  }
};

class TMinFunction final : public TNumericFunction {
 public:
  TMinFunction() : TNumericFunction(MinFunctionName, MinComment, MinSyntax, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return Extreme(call, context, [](double a, double b) { return a < b; });
  }
};

class TFloatFunction final : public TIEUserFunction {
 public:
  TFloatFunction() : TIEUserFunction(FloatFunctionName, FloatComment, FloatSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return TIEValue::Float(EvalNumber(call, 0, context));
  }
};

class TIntegerFunction final : public TIEUserFunction {
 public:
  TIntegerFunction() : TIEUserFunction(IntegerFunctionName, IntegerComment, IntegerSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return TIEValue::Integer(EvalInteger(call, 0, context));
  }
};

class TRoundFunction final : public TIEUserFunction {
 public:
  TRoundFunction() : TIEUserFunction(RoundFunctionName, RoundComment, RoundSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return TIEValue::Float(std::nearbyint(EvalNumber(call, 0, context)));
  }
};

// A one-argument function of a float with a float result; `Apply` raises the
// domain errors.
template <double (*Apply)(double)>
class TFloatMapFunction : public TIEUserFunction {
 protected:
  TFloatMapFunction(const char* name, const char* comment, const char* syntax)
      : TIEUserFunction(name, comment, syntax, 1, 1) {}
  ~TFloatMapFunction() override = default;

  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return TIEValue::Float(Apply(EvalNumber(call, 0, context)));
  }
};

double Sqrt(double x) {
  if (x < 0) {
    RaiseInvalidFloatOperation();
  }
  return Checked(std::sqrt(x), {x});
}

double Exp(double x) {
  return Checked(std::exp(x), {x});
}

// Both logarithms share the pole at zero and the invalid negative half.
template <double (*Log)(double)>
double CheckedLog(double x) {
  if (x == 0) {
    RaiseFloatDivideByZero();
  }
  if (x < 0) {
    RaiseInvalidFloatOperation();
  }
  return Checked(Log(x), {x});
}

double NaturalLog(double x) {
  return std::log(x);
}
double DecimalLog(double x) {
  return std::log10(x);
}

class TSqrtFunction final : public TFloatMapFunction<Sqrt> {
 public:
  TSqrtFunction() : TFloatMapFunction(SqrtFunctionName, SqrtComment, SqrtSyntax) {}
};

class TExpFunction final : public TFloatMapFunction<Exp> {
 public:
  TExpFunction() : TFloatMapFunction(ExpFunctionName, ExpComment, ExpSyntax) {}
};

class TLogFunction final : public TFloatMapFunction<CheckedLog<NaturalLog>> {
 public:
  TLogFunction() : TFloatMapFunction(LogFunctionName, LogComment, LogSyntax) {}
};

class TLog10Function final : public TFloatMapFunction<CheckedLog<DecimalLog>> {
 public:
  TLog10Function() : TFloatMapFunction(Log10FunctionName, Log10Comment, Log10Syntax) {}
};

class TExptFunction final : public TIEUserFunction {
 public:
  TExptFunction() : TIEUserFunction(ExptFunctionName, ExptComment, ExptSyntax, 2, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const double base = EvalNumber(call, 0, context);
    const double exponent = EvalNumber(call, 1, context);
    if (base == 0 && exponent < 0) {
      RaiseFloatDivideByZero();
    }
    return TIEValue::Float(Checked(std::pow(base, exponent), {base, exponent}));
  }
};

class TPiFunction final : public TIEUserFunction {
 public:
  TPiFunction() : TIEUserFunction(PiFunctionName, PiComment, PiSyntax, 0, 0) {}

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& /*context*/) override {
    return Ref<IIEValue>(&FCPI());
  }
};

// The program's one random number generator. It starts from seed 0, so a
// program that never seeds it draws the same numbers on every run.
class TRandomSource {
 public:
  static TRandomSource& Shared() {
    static TRandomSource source;
    return source;
  }

  void Seed(std::uint32_t seed) {
    std::lock_guard lock(mutex_);
    engine_.seed(seed);
  }

  // A number in [0, bound - 1]; 0 when `bound` is below 1.
  std::int32_t Below(std::int32_t bound) {
    if (bound < 1) {
      return 0;
    }
    std::uniform_int_distribution<std::int32_t> distribution(0, bound - 1);
    std::lock_guard lock(mutex_);
    return distribution(engine_);
  }

 private:
  TRandomSource() : engine_(0) {}

  std::mutex mutex_;
  std::mt19937 engine_;
};

class TRandomFunction final : public TIEUserFunction {
 public:
  TRandomFunction() : TIEUserFunction(RandomFunctionName, RandomComment, RandomSyntax, 0, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    constexpr std::int32_t kDefaultBound = 65536;
    TRandomSource& source = TRandomSource::Shared();
    switch (call.ArgumentCount()) {
      case 0:
        return TIEValue::Integer(source.Below(kDefaultBound));
      case 1:
        return TIEValue::Integer(source.Below(EvalInteger(call, 0, context)));
      default: {
        // low + (random high), wrapping like every integer sum.
        const std::int32_t low = EvalInteger(call, 0, context);
        const std::int32_t offset = source.Below(EvalInteger(call, 1, context));
        return TIEValue::Integer(static_cast<std::int32_t>(static_cast<std::uint32_t>(low) +
                                                           static_cast<std::uint32_t>(offset)));
      }
    }
  }
};

class TRandomizeFunction final : public TIEUserFunction {
 public:
  TRandomizeFunction()
      : TIEUserFunction(RandomizeFunctionName, RandomizeComment, RandomizeSyntax, 0, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    std::uint32_t seed;
    if (call.ArgumentCount() == 0) {
      const auto ticks = std::chrono::system_clock::now().time_since_epoch().count();
      seed = static_cast<std::uint32_t>(ticks);
    } else {
      seed = static_cast<std::uint32_t>(EvalInteger(call, 0, context));
    }
    TRandomSource::Shared().Seed(seed);
    return BoolValue(true);
  }
};

class TSeedFunction final : public TIEUserFunction {
 public:
  TSeedFunction() : TIEUserFunction(SeedFunctionName, SeedComment, SeedSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TRandomSource::Shared().Seed(static_cast<std::uint32_t>(EvalInteger(call, 0, context)));
    return BoolValue(true);
  }
};

}  // namespace

TMathPackage::TMathPackage(TComponent* owner) : TUserPackage(owner) {
  CreateFunctions();
}

void TMathPackage::CreateFunctions() {
  TUserPackage::CreateFunctions();
  AddFunction<TPlusFunction>();
  AddFunction<TMinusFunction>();
  AddFunction<TTimesFunction>();
  AddFunction<TDivideFunction>();
  AddFunction<TIntegerDivideFunction>();
  AddFunction<TModFunction>();
  AddFunction<TAbsFunction>();
  AddFunction<TMaxFunction>();
  AddFunction<TMinFunction>();
  AddFunction<TFloatFunction>();
  AddFunction<TIntegerFunction>();
  AddFunction<TRoundFunction>();
  AddFunction<TSqrtFunction>();
  AddFunction<TExpFunction>();
  AddFunction<TExptFunction>();
  AddFunction<TLogFunction>();
  AddFunction<TLog10Function>();
  AddFunction<TPiFunction>();
  AddFunction<TRandomFunction>();
  AddFunction<TRandomizeFunction>();
  AddFunction<TSeedFunction>();
}

}  // namespace zephro
