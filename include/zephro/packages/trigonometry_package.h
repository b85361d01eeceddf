#pragma once

// TTrigonometryPackage: circular and hyperbolic functions with their inverses,
// conversions between angle units, and distances between points. Angles are in
// radians; every result is a float.
//
//   (acos x) (asin x) (atan x)       the inverse circular functions
//   (acot x)                         pi/2 - atan x
//   (acsc x) (asec x)                asin (1/|x|), acos (1/|x|); plus pi when x < 0
//   (acosh x) (asinh x) (atanh x)    the inverse hyperbolic functions
//   (acoth x)                        ln ((x + 1) / (x - 1)) / 2
//   (acsch x)                        ln (1/x + sqrt (1/x^2 + 1))
//   (asech x)                        ln (1/x + sqrt (1/x^2 - 1))
//   (atan2 x y)                      the angle of the point (x, y), in (-pi, pi]:
//                                    the second argument is the ordinate, so
//                                    (atan2 1 0) is 0.0 and (atan2 0 1) pi/2
//   (cos x) (sin x) (tan x)          the circular functions
//   (cot x) (sec x)                  1 / tan x, 1 / cos x
//   (csc x)                          1 / cos (pi/2 - x)
//   (cosh x) (sinh x) (tanh x)       the hyperbolic functions
//   (coth x) (csch x) (sech x)       1 / tanh x, 1 / sinh x, 1 / cosh x
//   (hypotenuse x y)                 sqrt (x^2 + y^2)
//
//   (cycle-rad x)  x * 2 pi          (rad-cycle x)  x / 2 pi
//   (deg-rad x)    x * pi / 180      (rad-deg x)    x * 180 / pi
//   (grad-rad x)   x * pi / 200      (rad-grad x)   x * 200 / pi
//   (deg-grad x)   x * 10/9          (grad-deg x)   x * 0.9
//
//   (distance p q)                   sqrt of the sum of the squared differences
//   (distance-sqr p q)               the sum of the squared differences
//   (distance-manhattan p q)         the sum of the absolute differences
//
// Every function takes exactly the arguments shown. A number argument is read as
// the value model converts (AsNumeric): an integer or a numeric text is taken as
// its number, anything else raises "Not a numeric type.  Value (%s) is a %s
// type". The points of the distances are multifields of numbers of the same
// length ("Invalid multifield arguments, the two multifields must be of the same
// length" otherwise); each coordinate is resolved in the call's context, so it
// may be a variable. Two empty points are 0.0 apart.
//
// No function checks its argument's domain: a pole or an argument outside the
// domain gives what the floating-point arithmetic gives, an infinity or a NaN,
// as a float ((acos 2) is NaN, (cot 0) is infinite).
//
// Thread safety: the functions keep no state.

#include "zephro/functions/user_package.h"

namespace zephro {

inline constexpr char ACosFunctionName[] = "acos";
inline constexpr char ACosComment[] = "Returns the arc cosine of its argument, in radians";
inline constexpr char ACosSyntax[] = " <numeric-expression>";
inline constexpr char ACosHFunctionName[] = "acosh";
inline constexpr char ACosHComment[] = "Returns the inverse hyperbolic cosine of its argument";
inline constexpr char ACosHSyntax[] = " <numeric-expression>";
inline constexpr char ACotFunctionName[] = "acot";
inline constexpr char ACotComment[] = "Returns the arc cotangent of its argument, in radians";
inline constexpr char ACotSyntax[] = " <numeric-expression>";
inline constexpr char ACotHFunctionName[] = "acoth";
inline constexpr char ACotHComment[] = "Returns the inverse hyperbolic cotangent of its argument";
inline constexpr char ACotHSyntax[] = " <numeric-expression>";
inline constexpr char ACscFunctionName[] = "acsc";
inline constexpr char ACscComment[] = "Returns the arc cosecant of its argument, in radians";
inline constexpr char ACscSyntax[] = " <numeric-expression>";
inline constexpr char ACscHFunctionName[] = "acsch";
inline constexpr char ACscHComment[] = "Returns the inverse hyperbolic cosecant of its argument";
inline constexpr char ACscHSyntax[] = " <numeric-expression>";
inline constexpr char ASecFunctionName[] = "asec";
inline constexpr char ASecComment[] = "Returns the arc secant of its argument, in radians";
inline constexpr char ASecSyntax[] = " <numeric-expression>";
inline constexpr char ASecHFunctionName[] = "asech";
inline constexpr char ASecHComment[] = "Returns the inverse hyperbolic secant of its argument";
inline constexpr char ASecHSyntax[] = " <numeric-expression>";
inline constexpr char ASinFunctionName[] = "asin";
inline constexpr char ASinComment[] = "Returns the arc sine of its argument, in radians";
inline constexpr char ASinSyntax[] = " <numeric-expression>";
inline constexpr char ASinHFunctionName[] = "asinh";
inline constexpr char ASinHComment[] = "Returns the inverse hyperbolic sine of its argument";
inline constexpr char ASinHSyntax[] = " <numeric-expression>";
inline constexpr char ATanFunctionName[] = "atan";
inline constexpr char ATanComment[] = "Returns the arc tangent of its argument, in radians";
inline constexpr char ATanSyntax[] = " <numeric-expression>";
inline constexpr char ATan2FunctionName[] = "atan2";
inline constexpr char ATan2Comment[] =
    "Returns the angle, in radians, of the point whose abscissa is the first argument and whose "
    "ordinate is the second";
inline constexpr char ATan2Syntax[] = " <numeric-expression-X> <numeric-expression-Y>";
inline constexpr char ATanHFunctionName[] = "atanh";
inline constexpr char ATanHComment[] = "Returns the inverse hyperbolic tangent of its argument";
inline constexpr char ATanHSyntax[] = " <numeric-expression>";
inline constexpr char CosFunctionName[] = "cos";
inline constexpr char CosComment[] = "Returns the cosine of its argument, an angle in radians";
inline constexpr char CosSyntax[] = " <numeric-expression>";
inline constexpr char CosHFunctionName[] = "cosh";
inline constexpr char CosHComment[] = "Returns the hyperbolic cosine of its argument";
inline constexpr char CosHSyntax[] = " <numeric-expression>";
inline constexpr char CotFunctionName[] = "cot";
inline constexpr char CotComment[] = "Returns the cotangent of its argument, an angle in radians";
inline constexpr char CotSyntax[] = " <numeric-expression>";
inline constexpr char CotHFunctionName[] = "coth";
inline constexpr char CotHComment[] = "Returns the hyperbolic cotangent of its argument";
inline constexpr char CotHSyntax[] = " <numeric-expression>";
inline constexpr char CscFunctionName[] = "csc";
inline constexpr char CscComment[] = "Returns the cosecant of its argument, an angle in radians";
inline constexpr char CscSyntax[] = " <numeric-expression>";
inline constexpr char CscHFunctionName[] = "csch";
inline constexpr char CscHComment[] = "Returns the hyperbolic cosecant of its argument";
inline constexpr char CscHSyntax[] = " <numeric-expression>";
inline constexpr char CycleRadFunctionName[] = "cycle-rad";
inline constexpr char CycleRadComment[] = "Converts a number of full turns to radians";
inline constexpr char CycleRadSyntax[] = " <numeric-expression>";
inline constexpr char DegGradFunctionName[] = "deg-grad";
inline constexpr char DegGradComment[] = "Converts an angle in degrees to grads";
inline constexpr char DegGradSyntax[] = " <numeric-expression>";
inline constexpr char DegRadFunctionName[] = "deg-rad";
inline constexpr char DegRadComment[] = "Converts an angle in degrees to radians";
inline constexpr char DegRadSyntax[] = " <numeric-expression>";
inline constexpr char DistanceFunctionName[] = "distance";
inline constexpr char DistanceComment[] =
    "Returns the distance between two points given as multifields of coordinates";
inline constexpr char DistanceSyntax[] = " <multifield-expression-1> <multifield-expression-2>";
inline constexpr char DistanceSqrFunctionName[] = "distance-sqr";
inline constexpr char DistanceSqrComment[] =
    "Returns the square of the distance between two points given as multifields of coordinates";
inline constexpr char DistanceSqrSyntax[] = " <multifield-expression-1> <multifield-expression-2>";
inline constexpr char DistanceManhattanFunctionName[] = "distance-manhattan";
inline constexpr char DistanceManhattanComment[] =
    "Returns the sum of the absolute differences of the coordinates of two points given as "
    "multifields";
inline constexpr char DistanceManhattanSyntax[] =
    " <multifield-expression-1> <multifield-expression-2>";
inline constexpr char GradDegFunctionName[] = "grad-deg";
inline constexpr char GradDegComment[] = "Converts an angle in grads to degrees";
inline constexpr char GradDegSyntax[] = " <numeric-expression>";
inline constexpr char GradRadFunctionName[] = "grad-rad";
inline constexpr char GradRadComment[] = "Converts an angle in grads to radians";
inline constexpr char GradRadSyntax[] = " <numeric-expression>";
inline constexpr char HypotenuseFunctionName[] = "hypotenuse";
inline constexpr char HypotenuseComment[] =
    "Returns the length of the hypotenuse of a right triangle whose other sides are the arguments";
inline constexpr char HypotenuseSyntax[] = " <numeric-expression-X> <numeric-expression-Y>";
inline constexpr char RadCycleFunctionName[] = "rad-cycle";
inline constexpr char RadCycleComment[] = "Converts an angle in radians to a number of full turns";
inline constexpr char RadCycleSyntax[] = " <numeric-expression>";
inline constexpr char RadDegFunctionName[] = "rad-deg";
inline constexpr char RadDegComment[] = "Converts an angle in radians to degrees";
inline constexpr char RadDegSyntax[] = " <numeric-expression>";
inline constexpr char RadGradFunctionName[] = "rad-grad";
inline constexpr char RadGradComment[] = "Converts an angle in radians to grads";
inline constexpr char RadGradSyntax[] = " <numeric-expression>";
inline constexpr char SecFunctionName[] = "sec";
inline constexpr char SecComment[] = "Returns the secant of its argument, an angle in radians";
inline constexpr char SecSyntax[] = " <numeric-expression>";
inline constexpr char SecHFunctionName[] = "sech";
inline constexpr char SecHComment[] = "Returns the hyperbolic secant of its argument";
inline constexpr char SecHSyntax[] = " <numeric-expression>";
inline constexpr char SinFunctionName[] = "sin";
inline constexpr char SinComment[] = "Returns the sine of its argument, an angle in radians";
inline constexpr char SinSyntax[] = " <numeric-expression>";
inline constexpr char SinHFunctionName[] = "sinh";
inline constexpr char SinHComment[] = "Returns the hyperbolic sine of its argument";
inline constexpr char SinHSyntax[] = " <numeric-expression>";
inline constexpr char TanFunctionName[] = "tan";
inline constexpr char TanComment[] = "Returns the tangent of its argument, an angle in radians";
inline constexpr char TanSyntax[] = " <numeric-expression>";
inline constexpr char TanHFunctionName[] = "tanh";
inline constexpr char TanHComment[] = "Returns the hyperbolic tangent of its argument";
inline constexpr char TanHSyntax[] = " <numeric-expression>";

class TTrigonometryPackage final : public TUserPackage {
  ZEPHRO_DECLARE_CLASS(TTrigonometryPackage, TUserPackage)

 public:
  explicit TTrigonometryPackage(TComponent* owner);

 protected:
  // The functions in the order of the constants above.
  void CreateFunctions() override;
};

}  // namespace zephro
