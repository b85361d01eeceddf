#pragma once

// TPredicatePackage: functions that ask what kind of value their argument is.
//
//   (get-type 1)        dtInteger     the kind's enumeration name, as an atom
//   (evenp 4) (oddp 3)  TRUE          the argument taken as an integer (AsInteger)
//   (numberp 1.5)       TRUE          kind tests, one TVerifyTypePFunction each
//
// Every function takes exactly one argument and evaluates it once. The kind
// tests never fail; evenp and oddp raise the conversion error of the value model
// for a value without an integer form ("Not a integer type...").
//
// Thread safety: the functions keep no state; use them on the engine's thread.

#include <string_view>

#include "zephro/functions/user_package.h"
#include "zephro/values/types.h"

namespace zephro {

inline constexpr char GetValueTypeFunctionName[] = "get-type";
inline constexpr char GetValueTypeComment[] =
    "Returns the type of the argument as a symbol, for example dtInteger";
inline constexpr char GetValueTypeSyntax[] = " <expression>";
inline constexpr char EvenPFunctionName[] = "evenp";
inline constexpr char EvenPComment[] =
    "Returns TRUE if the argument, taken as an integer, is even; otherwise FALSE";
inline constexpr char EvenPSyntax[] = " <integer-expression>";
inline constexpr char OddPFunctionName[] = "oddp";
inline constexpr char OddPComment[] =
    "Returns TRUE if the argument, taken as an integer, is odd; otherwise FALSE";
inline constexpr char OddPSyntax[] = " <integer-expression>";

// The kind tests. Each is a TVerifyTypePFunction whose help text is
// PredicateComment filled with its kinds.
inline constexpr char LexemePFunctionName[] = "lexemep";
inline constexpr char NumberPFunctionName[] = "numberp";
inline constexpr char FloatPFunctionName[] = "floatp";
inline constexpr char FuzzyPFunctionName[] = "fuzzyp";
inline constexpr char IntegerPFunctionName[] = "integerp";
inline constexpr char StringPFunctionName[] = "stringp";
inline constexpr char SymbolPFunctionName[] = "symbolp";
inline constexpr char MultifieldPFunctionName[] = "multifieldp";
inline constexpr char ExternalAddressPFunctionName[] = "external-addressp";
inline constexpr char ObjectPFunctionName[] = "objectp";
inline constexpr char PredicateComment[] =
    "Returns TRUE if the argument is of the following type(s): %s.  If the argument is any "
    "other type, FALSE is returned";
inline constexpr char PredicateSyntax[] = " <expression>";

// A one-argument predicate that answers whether its argument's kind is one of a
// set of kinds. The help text lists the kinds without their two-letter prefix,
// separated by ", " ("Integer, Float"), or "NONE" for the empty set.
class TVerifyTypePFunction final : public TIEUserFunction {
 public:
  TVerifyTypePFunction(std::string_view name, TIETypes types);

  TIETypes Types() const noexcept { return types_; }
  // Changes the kinds and rewrites the help text to match.
  void SetTypes(TIETypes types);
  using TIEUserFunction::Assign;
  // Copies the metadata and the kinds.
  void Assign(const TVerifyTypePFunction& source);

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override;

 private:
  ~TVerifyTypePFunction() override = default;

  TIETypes types_;
};

// The help text of a kind test over `types`: PredicateComment filled with the
// kinds' names.
std::string VerifyTypeComment(TIETypes types);

class TPredicatePackage final : public TUserPackage {
  ZEPHRO_DECLARE_CLASS(TPredicatePackage, TUserPackage)

 public:
  explicit TPredicatePackage(TComponent* owner);

 protected:
  // get-type, evenp, oddp, then the kind tests in the order of the constants above.
  void CreateFunctions() override;
};

}  // namespace zephro
