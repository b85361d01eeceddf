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
#include <limits>
#include <mutex>
#include <optional>
#include <random>
#include <span>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/errors.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
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

// Integers are 32-bit, and integer arithmetic whose result leaves that range
// raises SIntegerOverflow naming the function, rather than wrap around. The
// results are computed exactly (in doubles, whose 53 bits hold any sum of two
// 32-bit integers, or in 64 bits) and checked before they are narrowed.
[[noreturn]] void RaiseIntegerOverflow(const char* function) {
  RaiseIE(SIntegerOverflow, function);
}

bool InInt32Range(double value) {
  return value >= static_cast<double>(std::numeric_limits<std::int32_t>::min()) &&
         value <= static_cast<double>(std::numeric_limits<std::int32_t>::max());  // false for NaN
}

std::int32_t Int32OrOverflow(std::int64_t value, const char* function) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    RaiseIntegerOverflow(function);
  }
  return static_cast<std::int32_t>(value);
}

// `value` rounded to the nearest integer, halves to even (the default rounding
// mode); an infinity or NaN is an invalid operation, a number beyond 32 bits
// an overflow of `function`.
std::int32_t RoundToInt32(double value, const char* function) {
  if (!std::isfinite(value)) {
    RaiseInvalidFloatOperation();
  }
  const double rounded = std::nearbyint(value);
  if (!InInt32Range(rounded)) {
    RaiseIntegerOverflow(function);
  }
  return static_cast<std::int32_t>(rounded);
}

// An argument read as a number, and whether it was a float: the kind of an
// arithmetic result follows the kinds of its arguments.
struct TNumber {
  double value;
  bool is_float;
};

// Whether `argument` is a nested call, asked before trying to work one out
// in place (TIEUserFunction::InlineInteger): inline, for every argument.
inline bool IsCall(const IIEValue& argument) {
  const TIEValue* own = TIEValue::Exactly(argument);
  return own != nullptr && own->DType() == TIEType::dtFunCall;
}

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

  Ref<IIEValue> Result(TNumber number) const {
    return number.is_float ? TIEValue::Float(number.value)
                           : TIEValue::Integer(RoundToInt32(number.value, FunctionName().c_str()));
  }

  // The argument that wins under `better`, compared with each earlier winner;
  // the result is a float when the first argument or any winner was one.
  template <class Better>
  Ref<IIEValue> Extreme(IFunCall& call, TIEContext& context, Better better) {
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
std::int64_t AddExactly(std::int64_t a, std::int64_t b) {
  return a + b;
}
std::int64_t SubtractExactly(std::int64_t a, std::int64_t b) {
  return a - b;
}
std::int64_t MultiplyExactly(std::int64_t a, std::int64_t b) {
  return a * b;
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
//
// While every argument so far is an integer the fold runs in 64 bits (IntOp),
// where a step on two 32-bit integers is exact, as it is in doubles: the
// results and the overflows are the same, without a conversion per argument.
template <double (*Op)(double, double), std::int64_t (*IntOp)(std::int64_t, std::int64_t)>
class TFoldFunction : public TNumericFunction {
 protected:
  TFoldFunction(const char* name, const char* comment, const char* syntax,
                std::optional<double> unit, bool float_result)
      : TNumericFunction(name, comment, syntax, unit ? 0 : 1),
        unit_(unit),
        float_result_(float_result) {}

  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const int count = call.ArgumentCount();
    int index = 0;
    std::int64_t exact = 0;
    bool integers = IntOp != nullptr && !float_result_;
    TNumber result{0, false};
    if (unit_) {
      result = {*unit_, false};
      exact = static_cast<std::int64_t>(*unit_);
    }
    const std::span<const Ref<IIEValue>> arguments = call.Arguments();
    for (; index < count; ++index) {
      // An integer, unless `value` is set: a nested arithmetic call on
      // integers is worked out without making its value.
      std::int64_t n = 0;
      Ref<IIEValue> holder;
      const IIEValue* value = nullptr;
      if (!integers || !IsCall(*arguments[static_cast<std::size_t>(index)]) ||
          !InlineInteger(*arguments[static_cast<std::size_t>(index)], context, n)) {
        value = &EvalBorrowed(call, index, context, holder);
        const TIEValue* own = TIEValue::Exactly(*value);
        if (integers && own != nullptr && own->DType() == TIEType::dtInteger) {
          n = own->IntegerDatum();
          value = nullptr;
        }
      }
      if (value == nullptr) {
        if constexpr (IntOp != nullptr) {
          exact = index == 0 && !unit_ ? n : IntOp(exact, n);
        }
        if (exact < std::numeric_limits<std::int32_t>::min() ||
            exact > std::numeric_limits<std::int32_t>::max()) {
          RaiseIntegerOverflow(FunctionName().c_str());
        }
        continue;
      }
      if (integers) {
        integers = false;
        result = {static_cast<double>(exact), false};
      }
      const TNumber number{value->AsNumeric(), value->DType() == TIEType::dtFloat};
      if (index == 0 && !unit_) {
        result = {number.value, number.is_float || float_result_};
        continue;
      }
      result = {Op(result.value, number.value), result.is_float || number.is_float};
      // An integer step must stay in range even when a float comes later;
      // what is not finite is an invalid operation, reported at the end.
      if (!result.is_float && std::isfinite(result.value) &&
          !InInt32Range(std::nearbyint(result.value))) {
        RaiseIntegerOverflow(FunctionName().c_str());
      }
    }
    if (integers) {
      return TIEValue::Integer(static_cast<std::int32_t>(exact));
    }
    return Result(result);
  }

 private:
  std::optional<double> unit_;
  bool float_result_;
};

class TPlusFunction final : public TFoldFunction<Add, AddExactly> {
 public:
  TPlusFunction() : TFoldFunction(PlusFunctionName, PlusComment, PlusSyntax, 0, false) {}
  TNumberOperation NumberOperation() const noexcept override { return TNumberOperation::noAdd; }
};

class TMinusFunction final : public TFoldFunction<Subtract, SubtractExactly> {
 public:
  TMinusFunction()
      : TFoldFunction(MinusFunctionName, MinusComment, MinusSyntax, std::nullopt, false) {}
  TNumberOperation NumberOperation() const noexcept override {
    return TNumberOperation::noSubtract;
  }
};

class TTimesFunction final : public TFoldFunction<Multiply, MultiplyExactly> {
 public:
  TTimesFunction() : TFoldFunction(TimesFunctionName, TimesComment, TimesSyntax, 1, false) {}
  TNumberOperation NumberOperation() const noexcept override {
    return TNumberOperation::noMultiply;
  }
};

class TDivideFunction final : public TFoldFunction<Divide, nullptr> {
 public:
  TDivideFunction()
      : TFoldFunction(DivideFunctionName, DivideComment, DivideSyntax, std::nullopt, true) {}
};

// An integer argument: a float (or a number written as text) truncated
// toward zero, as AsInteger converts, but one beyond 32 bits is an overflow
// of `function` where AsInteger would saturate.
std::int32_t IntegerArgument(IFunCall& call, int index, TIEContext& context,
                             const char* function) {
  IIEValue& argument = *call.Argument(index);
  if (std::int64_t inlined = 0;
      IsCall(argument) && TIEUserFunction::InlineInteger(argument, context, inlined)) {
    return static_cast<std::int32_t>(inlined);  // within 32 bits
  }
  const Ref<IIEValue> resolved = argument.Resolve(&context);
  const IIEValue& value = *resolved;
  const std::int32_t integer = value.AsInteger();
  switch (value.DType()) {
    case TIEType::dtFloat:
    case TIEType::dtAtom:
    case TIEType::dtString:
      if ((integer == std::numeric_limits<std::int32_t>::max() ||
           integer == std::numeric_limits<std::int32_t>::min()) &&
          !InInt32Range(std::trunc(value.AsFloat()))) {
        RaiseIntegerOverflow(function);
      }
      return integer;
    default:
      return integer;
  }
}

// div and mod in 32 bits. The one quotient that overflows is the most
// negative integer divided by -1.
std::int32_t IntegerDivide(std::int32_t a, std::int32_t b) {
  if (b == 0) {
    RaiseIntegerDivideByZero();
  }
  return Int32OrOverflow(std::int64_t{a} / b, IntegerDivideFunctionName);
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
    const char* name = FunctionName().c_str();
    std::int32_t quotient = IntegerArgument(call, 0, context, name);
    for (int index = 1; index < call.ArgumentCount(); ++index) {
      quotient = IntegerDivide(quotient, IntegerArgument(call, index, context, name));
    }
    return TIEValue::Integer(quotient);
  }
};

class TModFunction final : public TIEUserFunction {
 public:
  TModFunction() : TIEUserFunction(ModFunctionName, ModComment, ModSyntax, 2, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const char* name = FunctionName().c_str();
    const std::int32_t dividend = IntegerArgument(call, 0, context, name);
    return TIEValue::Integer(IntegerRemainder(dividend, IntegerArgument(call, 1, context, name)));
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
    const std::int64_t n = value->AsInteger();  // the most negative has no 32-bit opposite
    return TIEValue::Integer(Int32OrOverflow(n < 0 ? -n : n, FunctionName().c_str()));
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
    return TIEValue::Integer(IntegerArgument(call, 0, context, FunctionName().c_str()));
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
    const char* name = FunctionName().c_str();
    switch (call.ArgumentCount()) {
      case 0:
        return TIEValue::Integer(source.Below(kDefaultBound));
      case 1:
        return TIEValue::Integer(source.Below(IntegerArgument(call, 0, context, name)));
      default: {
        // low + (random high), an integer sum like any other.
        const std::int32_t low = IntegerArgument(call, 0, context, name);
        const std::int32_t offset = source.Below(IntegerArgument(call, 1, context, name));
        return TIEValue::Integer(Int32OrOverflow(std::int64_t{low} + offset, name));
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
