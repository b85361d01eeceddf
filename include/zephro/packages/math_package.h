#pragma once

// TMathPackage: arithmetic, rounding, powers and logarithms, and random numbers.
//
// Kinds of results. +, -, * and the extremes (max, min) compute in double
// precision and answer a float as soon as a float takes part, otherwise an
// integer: the double rounded to the nearest integer (ties to even) and wrapped
// to 32 bits, so (+ 2147483647 1) is -2147483648. / always answers a float.
// div and mod work on 32-bit integers, truncating toward zero (the remainder
// takes the sign of the dividend); they wrap as well, so
// (div -2147483648 -1) is -2147483648.
//
//   (+)  0        (+ 1 2)  3         (+ 1 2.0)  3.0000     (- 7)  7
//   (/ 4 2)  2.0000                  (div -7 2)  -3        (mod -7 2)  -1
//   (max 3 2.5)  3                   (max 2.0 3)  3.0000   (round 2.5)  2.0000
//
// Arguments are evaluated once, left to right, and read as numbers the way the
// value model converts them (AsNumeric, AsInteger): the atom 12 counts as the
// integer 12, the atom abc raises the conversion error "Not a numeric type...".
// abs alone insists on an integer or float argument ("Expected numeric argument
// to abs function call").
//
// Arithmetic errors. Floating-point operations raise what the platform's
// floating-point unit reports, as "<function> error: <message>":
//   "Floating point division by zero"   (/ 1 0), (log 0), (** 0 -1)
//   "Invalid floating point operation"  (/ 0 0), (sqrt -1), (log -1)
//   "Floating point overflow"           (exp 1000), (* 1e308 10)
// An operation on an infinity or a NaN the arguments already held passes it on
// without an error. An integer result that cannot be rounded (an infinite sum)
// is an invalid operation. A zero divisor of div or mod raises
// "<function> error: Division by zero".
//
// Random numbers come from one generator shared by every engine in the program
// (Mersenne twister, 32-bit seed). (seed n) makes the following draws
// repeatable. (random) draws from [0, 65535]; (random n) from [0, n - 1], and 0
// when n is below 1; (random low high) is low plus (random high).
//
// Thread safety: the functions keep no state apart from the generator, which
// is locked while it is seeded or drawn from.

#include "zephro/functions/user_package.h"

namespace zephro {

inline constexpr char PlusFunctionName[] = "+";
inline constexpr char PlusComment[] = "Returns the sum of its arguments";
inline constexpr char PlusSyntax[] = " <numeric-expression>+";
inline constexpr char MinusFunctionName[] = "-";
inline constexpr char MinusComment[] =
    "Returns the first argument minus each of the following arguments";
inline constexpr char MinusSyntax[] = " <numeric-expression>+";
inline constexpr char TimesFunctionName[] = "*";
inline constexpr char TimesComment[] = "Returns the product of its arguments";
inline constexpr char TimesSyntax[] = " <numeric-expression>+";
inline constexpr char DivideFunctionName[] = "/";
inline constexpr char DivideComment[] =
    "Returns the first argument divided by each of the following arguments, as a float";
inline constexpr char DivideSyntax[] = " <numeric-expression>+";
inline constexpr char IntegerDivideFunctionName[] = "div";
inline constexpr char IntegerDivideComment[] =
    "Returns the first argument divided by each of the following arguments, as an integer";
inline constexpr char IntegerDivideSyntax[] = " <integer-expression>+";
inline constexpr char ModFunctionName[] = "mod";
inline constexpr char ModComment[] =
    "Returns the remainder of the first argument divided by the second";
inline constexpr char ModSyntax[] = " <integer-expression> <integer-expression>";
inline constexpr char AbsFunctionName[] = "abs";
inline constexpr char AbsComment[] = "Returns the absolute value of its argument";
inline constexpr char AbsSyntax[] = " <numeric-expression>";
inline constexpr char MaxFunctionName[] = "max";
inline constexpr char MaxComment[] = "Returns the largest of its arguments";
inline constexpr char MaxSyntax[] = " <numeric-expression>+";
inline constexpr char MinFunctionName[] = "min";
inline constexpr char MinComment[] = "Returns the smallest of its arguments";
inline constexpr char MinSyntax[] = " <numeric-expression>+";
inline constexpr char FloatFunctionName[] = "float";
inline constexpr char FloatComment[] = "Returns its argument converted to a float";
inline constexpr char FloatSyntax[] = " <numeric-expression>";
inline constexpr char IntegerFunctionName[] = "integer";
inline constexpr char IntegerComment[] =
    "Returns its argument converted to an integer, truncated toward zero";
inline constexpr char IntegerSyntax[] = " <numeric-expression>";
inline constexpr char RoundFunctionName[] = "round";
inline constexpr char RoundComment[] =
    "Returns its argument rounded to the nearest integer (halves to even), as a float";
inline constexpr char RoundSyntax[] = " <numeric-expression>";
inline constexpr char SqrtFunctionName[] = "sqrt";
inline constexpr char SqrtComment[] = "Returns the square root of its argument";
inline constexpr char SqrtSyntax[] = " <numeric-expression>";
inline constexpr char ExpFunctionName[] = "exp";
inline constexpr char ExpComment[] = "Returns e raised to the power of its argument";
inline constexpr char ExpSyntax[] = " <numeric-expression>";
inline constexpr char ExptFunctionName[] = "**";
inline constexpr char ExptComment[] =
    "Returns the first argument raised to the power of the second";
inline constexpr char ExptSyntax[] = " <numeric-expression> <numeric-expression>";
inline constexpr char LogFunctionName[] = "log";
inline constexpr char LogComment[] = "Returns the natural logarithm of its argument";
inline constexpr char LogSyntax[] = " <numeric-expression>";
inline constexpr char Log10FunctionName[] = "log10";
inline constexpr char Log10Comment[] = "Returns the base 10 logarithm of its argument";
inline constexpr char Log10Syntax[] = " <numeric-expression>";
inline constexpr char PiFunctionName[] = "PI";
inline constexpr char PiComment[] = "Returns the value of pi";
inline constexpr char PiSyntax[] = "";
inline constexpr char RandomFunctionName[] = "random";
inline constexpr char RandomComment[] =
    "Returns a random integer; with arguments, one between the low and the high argument";
inline constexpr char RandomSyntax[] = " [[<low-integer-expression>] <high-integer-expression>]";
inline constexpr char RandomizeFunctionName[] = "randomize";
inline constexpr char RandomizeComment[] =
    "Seeds the random number generator with its argument, or from the clock without one";
inline constexpr char RandomizeSyntax[] = " [<seed-integer-expression> ]";
inline constexpr char SeedFunctionName[] = "seed";
inline constexpr char SeedComment[] = "Seeds the random number generator with its argument";
inline constexpr char SeedSyntax[] = " <integer-expression>";

class TMathPackage final : public TUserPackage {
  ZEPHRO_DECLARE_CLASS(TMathPackage, TUserPackage)

 public:
  explicit TMathPackage(TComponent* owner);

 protected:
  // The functions in the order of the constants above.
  void CreateFunctions() override;
};

}  // namespace zephro
