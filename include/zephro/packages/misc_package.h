#pragma once

// TMiscPackage: the engine housekeeping commands. So far the three listings a
// user at the shell needs to see what the engine holds, and the commands
// about defined types and type checks:
//
//   (facts [start [end [max]]])   working memory, one fact a line in its
//                                 id-prefixed form ("f-1 (point (x 1))"): the
//                                 facts whose id lies in [start, end], at
//                                 most max of them, oldest first
//   (rules [logical-name])        the rules' names in the order they were
//                                 defined (a redefined rule counts as new),
//                                 to the logical name (t by default)
//   (agenda)                      the activations in firing order, as the
//                                 activation trace shows them:
//                                 "salience rule : f-1, f-2 (strength)"
//
//   (is-deftype name)             TRUE when the engine has a defined type name
//   (list-deftypes)               the types' names, in the order they were
//                                 defined, then "for a total of N deftypes."
//   (ppdeftype name)              prints the type in deftype syntax; TRUE, or
//                                 FALSE (printing nothing) for no such type
//   (undeftype name)              removes the type, the types that extend it
//                                 and the templates that use them (with their
//                                 facts and rules); TRUE, or FALSE for no such
//                                 type
//   (get-static-constraint-checking), (get-dynamic-constraint-checking)
//                                 TRUE when the engine checks values against
//                                 their slots' types while parsing (static) or
//                                 whenever a fact's slot is given a value
//                                 (dynamic)
//   (set-static-constraint-checking bool), (set-dynamic-...)
//                                 switches that check on for TRUE, off for
//                                 anything else; returns the previous setting
//
// Each listing ends with a count line: "For a total of 2 facts." (facts, rules;
// the number is what was listed), "for a total of 3 activations." (agenda).
// The plural noun stands whatever the number. They return no value, so the
// shell echoes nothing after the listing.
//
// Thread safety: the functions keep no state; use them on the engine's thread.

#include "zephro/functions/user_package.h"

namespace zephro {

inline constexpr char ShowFactsFunctionName[] = "facts";
inline constexpr char ShowFactsComment[] =
    "Lists the facts in working memory, optionally only those whose id lies between start and "
    "end, and at most max of them";
inline constexpr char ShowFactsSyntax[] =
    " [<start-integer-expression> [<end-integer-expression> [<max-integer-expression>]]]";

inline constexpr char ShowRulesFunctionName[] = "rules";
inline constexpr char ShowRulesComment[] = "Lists the names of the rules to a logical name";
inline constexpr char ShowRulesSyntax[] = "[<logical-name>]";

inline constexpr char AgendaFunctionName[] = "agenda";
inline constexpr char AgendaComment[] = "Lists the activations on the agenda in firing order";
inline constexpr char AgendaSyntax[] = "";

inline constexpr char IsDefTypeFunctionName[] = "is-deftype";
inline constexpr char IsDefTypeComment[] = "Tells whether a defined type of that name exists";
inline constexpr char IsDefTypeSyntax[] = " <defined-type-name-expression>";

inline constexpr char ListDefTypesFunctionName[] = "list-deftypes";
inline constexpr char ListDefTypesComment[] = "Lists the names of the defined types";
inline constexpr char ListDefTypesSyntax[] = "";

inline constexpr char PPDefTypeFunctionName[] = "ppdeftype";
inline constexpr char PPDefTypeComment[] = "Prints a defined type in deftype syntax";
inline constexpr char PPDefTypeSyntax[] = " <defined-type-name-expression>";

inline constexpr char UndefTypeFunctionName[] = "undeftype";
inline constexpr char UndefTypeComment[] =
    "Removes a defined type, the types that extend it and the templates that use them";
inline constexpr char UndefTypeSyntax[] = " <defined-type-name-expression>";

inline constexpr char GetDynamicCheckingFunctionName[] = "get-dynamic-constraint-checking";
inline constexpr char GetDynamicCheckingComment[] =
    "Tells whether values stored in facts are checked against their slots' types";
inline constexpr char GetStaticCheckingFunctionName[] = "get-static-constraint-checking";
inline constexpr char GetStaticCheckingComment[] =
    "Tells whether values are checked against their slots' types while parsing";
inline constexpr char SetDynamicCheckingFunctionName[] = "set-dynamic-constraint-checking";
inline constexpr char SetDynamicCheckingComment[] =
    "Switches the checking of values stored in facts; returns the previous setting";
inline constexpr char SetStaticCheckingFunctionName[] = "set-static-constraint-checking";
inline constexpr char SetStaticCheckingComment[] =
    "Switches the checking of values while parsing; returns the previous setting";
inline constexpr char SetConstraintCheckingSyntax[] = " <boolean-expression>";

class TMiscPackage final : public TUserPackage {
  ZEPHRO_DECLARE_CLASS(TMiscPackage, TUserPackage)

 public:
  explicit TMiscPackage(TComponent* owner);

 protected:
  // agenda, facts, rules.
  void CreateFunctions() override;
};

}  // namespace zephro
