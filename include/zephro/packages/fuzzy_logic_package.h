#pragma once

// TFuzzyLogicPackage: what rules need of fuzzy values: building them from a
// fuzzy variable's terms or from the standard shapes, combining them,
// asserting fuzzy facts, reading them point by point, defuzzifying and
// plotting them, and the engine's fuzzy settings.
//
// With (deftype temp extends (type FUZZY) (range 0 100) (units C)
// (values (term cold ((0 1) (50 0))) (term hot ((50 0) (100 1))))):
//
//   (s a b) (z a b)              a growth (decline) curve from a to b
//   (pi c r) (pi l c r)          a bell of centre c and range r, or through l, c, r
//   (tri l c r)                  a triangle: 0 at l and r, 1 at c
//   (beta c r [i [w]])           a bell of centre c, range r, inflection i, weight w
//                                  a shape has no variable and prints as written:
//                                  (tri 0.0000 10.0000 20.0000)
//   (create-fuzzy-value temp very cold or hot)
//                                the value an expression of terms, hedges, and /
//                                  or, groups and singletons gives for a variable
//   (fuzzy-union a b ...)        the sets folded left to right by the pointwise
//   (fuzzy-intersection a b ...)   maximum (minimum); a computed value of a's variable
//   (fuzzy-union-x kind a b ...), (fuzzy-intersection-x kind a b ...)
//                                the same by a combine kind: zadeh, mean, mean-sqr,
//                                  mean-sqrt, product, bounded-sum or sum
//   (fuzzy-assert method fact...) asserts the facts, an existing fact of the same
//                                  template and crisp slots taken in by union under
//                                  the inference method (min-max, sum, mean,
//                                  product, bounded-sum); the last id or FALSE
//   (fuzzy-assert-unconditional [method] fact...)
//                                the same by intersection; without a method the
//                                  engine's FuzzyInferenceMethod
//   (moment-defuzzify f)         the x of the centre of gravity, a float
//   (maximum-defuzzify f)        the mean of the maxima, a float
//   (is-undecidable f)           TRUE when the set's last defuzzification found no
//                                  area and no point above 0 (TRUE before any)
//   (get-compatibility-index f)  the set's compatibility index, in [0, 1]
//   (get-fs f)                   the singletons ((x y) ...), floats, in x order
//   (get-fs-length f)            the number of singletons
//   (get-fs-x f i) (get-fs-y f i) x or y of singleton i, counted from 0
//   (get-fs-variable f)          the name of the set's variable, nil for none
//   (get-fs-value f x)           the membership at x, which must lie in the
//                                  variable's universe
//   (get-u t) (get-u-from t) (get-u-to t) (get-u-units t)
//                                a variable's universe: "0.0000 - 100.0000 C",
//                                  its bounds as floats, its units as a string
//   (plot-fuzzy-value t "ch" 0 100 temp) or (... cold-value hot-fact-id ...)
//                                a text plot, below
//   (get-fuzzy-correlation) (set-fuzzy-correlation minimum|product)
//   (get-fuzzy-inference) (set-fuzzy-inference min-max|sum|...)
//   (get-fuzzy-threshold) (set-fuzzy-threshold n)
//   (get-activation-threshold) (set-activation-threshold n)
//   (get-fuzzy-auto-terms) (set-fuzzy-auto-terms TRUE|FALSE)
//                                the engine's settings; every one of them, getter
//                                  or setter, returns the value before the call.
//                                  The thresholds are clamped to [0, 1]; auto terms
//                                  is on for TRUE and off for anything else
//
// A fuzzy argument f is turned into a set by GetFuzzySetFromValue: a fuzzy
// value is taken as it is; an integer or fact id names a fact of working
// memory, and a fact value is a fact, whose first fuzzy slot (slots in name
// order) gives the set. A variable argument t is the name of a FUZZY
// defined type, or a fact (or fact id) whose first fuzzy slot gives the type.
//
// The plot goes through the engine's print-out to the logical name. Its sets
// are the terms of each variable named, in the order they were declared, and
// each value; each set takes the next character of the plot characters, the
// last one again when they run out ('*' when there are none). Its lines, the
// titles in the order of the arguments:
//   - for a variable, "Fuzzy Variable: temp";
//   - for the values, "Fuzzy Values:" once, then one line per value: its
//     character, a blank and its text in parentheses, "c (cold)";
//   - the grid, axis and labels of fuzzy_plot.h;
//   - for each variable, "Universe of Discourse: From 0.00 to 100.00".
//
// Errors, EIEException each:
//   "Invalid Fuzzy Inference specified (sun), expected min-max, sum, mean,
//    product, or bounded-sum" (the valid names joined by ", ", "or " before
//    the last; so for correlations and combine kinds) from fuzzy-assert and
//    set-fuzzy-inference, and for a fuzzy-assert whose first argument is no
//    name at all;
//   "Invalid Fuzzy Correlation specified (%s), expected %s";
//   "Invalid Fuzzy operation specified (%s) for %s, expected %s" (the kind,
//    the function);
//   "No Such Fact with ID=7 exists"; "Fact is not a fuzzy fact";
//   "type name unknown or invalid: %s" for a name of no defined type, and
//   "Invalid argument type for deffunction: "Integer, Float".  Expected
//    Fuzzy" for a type that is not fuzzy (its kinds);
//   a shape's "Invalid parameters for tri: ..." (fuzzy_shapes.h);
//   an index beyond the singletons, and an x outside the universe.
//
// Most functions here come in families, one class each:
// TFuzzyFamilyFunction<E> for the family's function-type enumeration E
// (TGetFuzzyFunction is TFuzzyFamilyFunction<TGetFuzzyFunctionType>). The
// function's type fixes its name, help text, syntax and argument limits, and
// renaming the function to a name of its family switches it to that type.
// CreateFunctions makes one function per type, and create-fuzzy-value and
// plot-fuzzy-value: 37 in all.
//
// Thread safety: the functions keep no state of their own; use them on the
// engine's thread.

#include <cstdint>
#include <span>
#include <string_view>

#include "zephro/functions/user_package.h"
#include "zephro/packages/typed_function.h"
#include "zephro/types/fuzzy_value.h"

namespace zephro {

class TInferenceEngine;

// --- shapes ------------------------------------------------------------------

inline constexpr char GrowthShapeFunctionName[] = "s";
inline constexpr char GrowthShapeComment[] =
    "Returns a fuzzy value rising from 0 at the first number to 1 at the second along an S curve";
inline constexpr char DeclineShapeFunctionName[] = "z";
inline constexpr char DeclineShapeComment[] =
    "Returns a fuzzy value falling from 1 at the first number to 0 at the second along an S "
    "curve";
inline constexpr char GrowthShapeSyntax[] = " <numeric-expression> <numeric-expression> ";
inline constexpr char PIShapeFunctionName[] = "pi";
inline constexpr char PIShapeComment[] =
    "Returns a bell shaped fuzzy value, given its centre and range or its left, centre and right";
inline constexpr char PIShapeSyntax[] =
    " [ <center-numeric-expression> <range-numeric-expression> ] |  [ "
    "<left-numeric-expression> <center-numeric-expression> <right-numeric-expression> ]";
inline constexpr char TriangleShapeFunctionName[] = "tri";
inline constexpr char TriangleShapeComment[] =
    "Returns a triangular fuzzy value, 0 at its left and right and 1 at its centre";
inline constexpr char TriangleShapeSyntax[] =
    " <left-numeric-expression> <center-numeric-expression> <right-numeric-expression> ";
inline constexpr char BetaShapeFunctionName[] = "beta";
inline constexpr char BetaShapeComment[] =
    "Returns a beta curve fuzzy value of a centre and a range, with an optional inflection "
    "distance and weight";
inline constexpr char BetaShapeSyntax[] =
    " <center-numeric-expression> <range-numeric-expression> [ <inflection-numeric-expression> "
    "[ <weight-numeric-expression> ]]";

// --- building and combining values ------------------------------------------------------

inline constexpr char CreateFuzzyValueFunctionName[] = "create-fuzzy-value";
inline constexpr char CreateFuzzyValueComment[] =
    "Returns the fuzzy value of a fuzzy variable that an expression of its terms, hedges, and, "
    "or and singletons describes";
inline constexpr char CreateFuzzyValueSyntax[] =
    " <fuzzy-variable-expression> <fuzzy-set-expression>";

inline constexpr char FuzzyUnionFunctionName[] = "fuzzy-union";
inline constexpr char FuzzyUnionComment[] =
    "Returns the union (the largest membership at each point) of two or more fuzzy values";
inline constexpr char FuzzyIntersectionFunctionName[] = "fuzzy-intersection";
inline constexpr char FuzzyIntersectionComment[] =
    "Returns the intersection (the smallest membership at each point) of two or more fuzzy "
    "values";
inline constexpr char FuzzyOperationSyntax[] =
    " <fuzzy-value-expression> <fuzzy-value-expression>+";
inline constexpr char FuzzyUnionXFunctionName[] = "fuzzy-union-x";
inline constexpr char FuzzyUnionXComment[] =
    "Returns the union of two or more fuzzy values by the named operation: zadeh, mean, "
    "mean-sqr, mean-sqrt, product, bounded-sum or sum";
inline constexpr char FuzzyUnionXSyntax[] =
    " <fuzzy-union-type-expression> <fuzzy-value-expression> <fuzzy-value-expression>+";
inline constexpr char FuzzyIntersectionXFunctionName[] = "fuzzy-intersection-x";
inline constexpr char FuzzyIntersectionXComment[] =
    "Returns the intersection of two or more fuzzy values by the named operation: zadeh, mean, "
    "mean-sqr, mean-sqrt, product, bounded-sum or sum";
inline constexpr char FuzzyIntersectionXSyntax[] =
    " <fuzzy-intersection-type-expression> <fuzzy-value-expression> <fuzzy-value-expression>+";

inline constexpr char FuzzyAssertFunctionName[] = "fuzzy-assert";
inline constexpr char FuzzyAssertComment[] =
    "Asserts facts, combining a fuzzy fact with an existing one by union under the named "
    "inference method; returns the last fact id or FALSE";
inline constexpr char FuzzyAssertSyntax[] = " <fuzzy-inference-expression> <fact-expression>*";
inline constexpr char FuzzyAssertUnconditionalFunctionName[] = "fuzzy-assert-unconditional";
inline constexpr char FuzzyAssertUnconditionalComment[] =
    "Asserts facts, combining a fuzzy fact with an existing one by intersection under the named "
    "inference method or the engine's; returns the last fact id or FALSE";
inline constexpr char FuzzyAssertUnconditionalSyntax[] =
    " [<fuzzy-inference-expression>] <fact-expression>*";

// --- reading values ------------------------------------------------------------------------

inline constexpr char MomentDefuzzifyFunctionName[] = "moment-defuzzify";
inline constexpr char MomentDefuzzifyComment[] =
    "Returns the x of the centre of gravity of a fuzzy value";
inline constexpr char MaximumDefuzzifyFunctionName[] = "maximum-defuzzify";
inline constexpr char MaximumDefuzzifyComment[] =
    "Returns the mean of the x values where a fuzzy value is highest";
inline constexpr char IsUndecidableFunctionName[] = "is-undecidable";
inline constexpr char IsUndecidableComment[] =
    "Returns TRUE when a fuzzy value could not be defuzzified for want of area, or was never "
    "defuzzified; otherwise FALSE";
inline constexpr char GetCompatibilityIndexFunctionName[] = "get-compatibility-index";
inline constexpr char GetCompatibilityIndexComment[] =
    "Returns the compatibility index of a fuzzy value, a number from 0 to 1";
inline constexpr char DefuzzifySyntax[] =
    " <fact-id-expression> | <fact-expression> | <fuzzy-value-expression> ";

inline constexpr char GetFsFunctionName[] = "get-fs";
inline constexpr char GetFsComment[] = "Returns the singletons (x y) of a fuzzy value in x order";
inline constexpr char GetFsLengthFunctionName[] = "get-fs-length";
inline constexpr char GetFsLengthComment[] = "Returns the number of singletons of a fuzzy value";
inline constexpr char GetFsVariableFunctionName[] = "get-fs-variable";
inline constexpr char GetFsVariableComment[] =
    "Returns the name of the fuzzy variable of a fuzzy value, or nil when it has none";
inline constexpr char GetFsSyntax[] =
    " <fact-expression> | <fact-id-expression> | <fuzzy-value-expression>";
inline constexpr char GetFsXFunctionName[] = "get-fs-x";
inline constexpr char GetFsXComment[] =
    "Returns the x of the singleton of a fuzzy value at an index counted from 0";
inline constexpr char GetFsYFunctionName[] = "get-fs-y";
inline constexpr char GetFsYComment[] =
    "Returns the membership of the singleton of a fuzzy value at an index counted from 0";
inline constexpr char GetFsIndexSyntax[] =
    " <fact-expression> | <fact-id-expression> | <fuzzy-value-expression> <integer-expression> ";
inline constexpr char GetFsValueFunctionName[] = "get-fs-value";
inline constexpr char GetFsValueComment[] =
    "Returns the membership of a fuzzy value at an x within its universe of discourse";
inline constexpr char GetFsValueSyntax[] =
    " <fact-expression> | <fact-id-expression> | <fuzzy-value-expression> <numeric-expression> ";

inline constexpr char GetUFunctionName[] = "get-u";
inline constexpr char GetUComment[] =
    "Returns the universe of discourse of a fuzzy variable as a string: from - to units";
inline constexpr char GetUFromFunctionName[] = "get-u-from";
inline constexpr char GetUFromComment[] =
    "Returns the lower bound of the universe of discourse of a fuzzy variable";
inline constexpr char GetUToFunctionName[] = "get-u-to";
inline constexpr char GetUToComment[] =
    "Returns the upper bound of the universe of discourse of a fuzzy variable";
inline constexpr char GetUUnitsFunctionName[] = "get-u-units";
inline constexpr char GetUUnitsComment[] = "Returns the units of a fuzzy variable as a string";
inline constexpr char GetUSyntax[] =
    " <fuzzy-type-expression> | <fuzzy-fact-expression> | <fuzzy-fact-id-expression>";

inline constexpr char PlotFuzzyValueFunctionName[] = "plot-fuzzy-value";
inline constexpr char PlotFuzzyValueComment[] =
    "Plots the terms of fuzzy variables and fuzzy values as text to a logical name, each with "
    "the next of the plot characters, between a low and a high x";
inline constexpr char PlotFuzzyValueSyntax[] =
    " <io-stream-identifier-string-expression> <plot-chars-string-expression> "
    "<low-limit-numeric-expression> <high-limit-numeric-expression> "
    "<fuzzy-variable-name-expression>|<fuzzy-value-expression>|<fact-id-expression>|"
    "<fact-expression>+";

// --- settings ------------------------------------------------------------------------------

inline constexpr char GetFuzzyCorrelationFunctionName[] = "get-fuzzy-correlation";
inline constexpr char GetFuzzyCorrelationComment[] =
    "Returns how a rule's strength shapes the fuzzy facts it asserts: minimum or product";
inline constexpr char SetFuzzyCorrelationFunctionName[] = "set-fuzzy-correlation";
inline constexpr char SetFuzzyCorrelationComment[] =
    "Sets how a rule's strength shapes the fuzzy facts it asserts, minimum or product; returns "
    "the previous setting";
inline constexpr char SetFuzzyCorrelationSyntax[] = " <correlation-expression> ";

inline constexpr char GetFuzzyInferenceFunctionName[] = "get-fuzzy-inference";
inline constexpr char GetFuzzyInferenceComment[] =
    "Returns how a new fuzzy fact is combined with an existing one: min-max, sum, mean, product "
    "or bounded-sum";
inline constexpr char SetFuzzyInferenceFunctionName[] = "set-fuzzy-inference";
inline constexpr char SetFuzzyInferenceComment[] =
    "Sets how a new fuzzy fact is combined with an existing one; returns the previous setting";
inline constexpr char SetFuzzyInferenceSyntax[] = " <fuzzy-inference-expression> ";

inline constexpr char GetFuzzyThresholdFunctionName[] = "get-fuzzy-threshold";
inline constexpr char GetFuzzyThresholdComment[] =
    "Returns the degree above which two fuzzy values are equal";
inline constexpr char SetFuzzyThresholdFunctionName[] = "set-fuzzy-threshold";
inline constexpr char SetFuzzyThresholdComment[] =
    "If the maximum of the minimum values is above this threshold, the fuzzy sets equal.";

inline constexpr char GetActivationThresholdFunctionName[] = "get-activation-threshold";
inline constexpr char GetActivationThresholdComment[] =
    "Returns the strength below which a rule's match is not put on the agenda";
inline constexpr char SetActivationThresholdFunctionName[] = "set-activation-threshold";
inline constexpr char SetActivationThresholdComment[] =
    "Sets the strength below which a rule's match is not put on the agenda, from 0 to 1; "
    "returns the previous setting";
inline constexpr char SetThresholdSyntax[] = " <numeric-expression> ";

inline constexpr char GetFuzzyAutoTermsFunctionName[] = "get-fuzzy-auto-terms";
inline constexpr char GetFuzzyAutoTermsComment[] =
    "Returns TRUE when fuzzy types declared without terms get the terms low, medium and high";
inline constexpr char SetFuzzyAutoTermsFunctionName[] = "set-fuzzy-auto-terms";
inline constexpr char SetFuzzyAutoTermsComment[] =
    "Switches the terms low, medium and high for fuzzy types declared without terms on for "
    "TRUE, off for anything else; returns the previous setting";
inline constexpr char SetFuzzyAutoTermsSyntax[] = " <boolean-expression> ";

inline constexpr char GetFuzzySettingSyntax[] = "";

// --- the function families --------------------------------------------------------------

// The function types of the families, each value in the order of its
// family's table.
enum class TCreateFuzzyShapeFunctionType : std::uint8_t {
  fsGrowthShape,
  fsDeclineShape,
  fsPIShape,
  fsTriangleShape,
  fsBetaShape
};
enum class TFuzzyOperationFunctionType : std::uint8_t {
  fofFuzzyUnion,
  fofFuzzyUnionX,
  fofFuzzyIntersection,
  fofFuzzyIntersectionX
};
enum class TFuzzyAssertFunctionType : std::uint8_t { fafAssert, fafAssertUnconditional };
enum class TDefuzzifyFunctionType : std::uint8_t {
  dftMoment,
  dftMaximum,
  dftUndecidable,
  dftCompatibilityIndex
};
enum class TGetFuzzyFunctionType : std::uint8_t {
  gffGetFs,
  gffGetFsLength,
  gffGetFsX,
  gffGetFsY,
  gffGetFsVariable,
  gffGetFsValue
};
enum class TUniverseOfDiscourseFunctionType : std::uint8_t {
  uodGet,
  uodGetFrom,
  uodGetTo,
  uodGetUnits
};
enum class TRWFuzzyCorrelationFunctionType : std::uint8_t { fcfGetCorrelation, fcfSetCorrelation };
enum class TRWFuzzyInferenceFunctionType : std::uint8_t { fifGetInference, fifSetInference };
enum class TRWFuzzyThresholdFunctionType : std::uint8_t {
  ftfGetFuzzyThreshold,
  ftfSetFuzzyThreshold
};
enum class TRWActivationThresholdFunctionType : std::uint8_t {
  atfGetActivationThreshold,
  atfSetActivationThreshold
};
enum class TRWFuzzyAutoTermsType : std::uint8_t { fatGetFuzzyAutoTerms, fatSetFuzzyAutoTerms };

// The table of each family (beside the family's body).
std::span<const TFunctionTypeInfo> FunctionTypes(TCreateFuzzyShapeFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TFuzzyOperationFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TFuzzyAssertFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TDefuzzifyFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TGetFuzzyFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TUniverseOfDiscourseFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TRWFuzzyCorrelationFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TRWFuzzyInferenceFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TRWFuzzyThresholdFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TRWActivationThresholdFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TRWFuzzyAutoTermsType);

// The fuzzy families are families of typed_function.h.
template <class E>
using TFuzzyFamilyFunction = TFamilyFunction<E>;

using TCreateFuzzyShapeFunction = TFuzzyFamilyFunction<TCreateFuzzyShapeFunctionType>;
using TFuzzyOperationFunction = TFuzzyFamilyFunction<TFuzzyOperationFunctionType>;
using TFuzzyAssertFunction = TFuzzyFamilyFunction<TFuzzyAssertFunctionType>;
using TDefuzzifyFunction = TFuzzyFamilyFunction<TDefuzzifyFunctionType>;
using TGetFuzzyFunction = TFuzzyFamilyFunction<TGetFuzzyFunctionType>;
using TUniverseOfDiscourseFunction = TFuzzyFamilyFunction<TUniverseOfDiscourseFunctionType>;
using TRWFuzzyCorrelationFunction = TFuzzyFamilyFunction<TRWFuzzyCorrelationFunctionType>;
using TRWFuzzyInferenceFunction = TFuzzyFamilyFunction<TRWFuzzyInferenceFunctionType>;
using TRWFuzzyThresholdFunction = TFuzzyFamilyFunction<TRWFuzzyThresholdFunctionType>;
using TRWActivationThresholdFunction = TFuzzyFamilyFunction<TRWActivationThresholdFunctionType>;
using TRWFuzzyAutoTerms = TFuzzyFamilyFunction<TRWFuzzyAutoTermsType>;

template <>
Ref<IIEValue> TCreateFuzzyShapeFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TFuzzyOperationFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TFuzzyAssertFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TDefuzzifyFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TGetFuzzyFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TUniverseOfDiscourseFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TRWFuzzyCorrelationFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TRWFuzzyInferenceFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TRWFuzzyThresholdFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TRWActivationThresholdFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TRWFuzzyAutoTerms::Run(IFunCall& call, TIEContext& context);

// --- the two single functions -------------------------------------------------------------

class TCreateFuzzySetFunction final : public TIEUserFunction {
 public:
  TCreateFuzzySetFunction();

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override;
};

class TPlotFuzzySetFunction final : public TIEUserFunction {
 public:
  TPlotFuzzySetFunction();

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override;
};

// --- the package ------------------------------------------------------------------------------

class TFuzzyLogicPackage final : public TUserPackage {
  ZEPHRO_DECLARE_CLASS(TFuzzyLogicPackage, TUserPackage)

 public:
  explicit TFuzzyLogicPackage(TComponent* owner);

 protected:
  // One function per type of each family, then create-fuzzy-value and
  // plot-fuzzy-value.
  void CreateFunctions() override;
};

// The fuzzy set `value` stands for (resolved already): a fuzzy value's own
// set; for an integer or fact id, the set in the first fuzzy slot of that
// fact of `engine`'s working memory ("No Such Fact with ID=%s exists"); for
// a fact value, the set in its first fuzzy slot. A fact without fuzzy slots
// raises "Fact is not a fuzzy fact"; a value of any other kind, or a slot
// holding no fuzzy value, the value model's conversion error.
Ref<TIEFuzzySet> GetFuzzySetFromValue(TInferenceEngine& engine, const IIEValue& value);

}  // namespace zephro
