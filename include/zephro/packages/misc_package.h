#pragma once

// TMiscPackage: the engine housekeeping commands. So far the three listings a
// user at the shell needs to see what the engine holds:
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

class TMiscPackage final : public TUserPackage {
  ZEPHRO_DECLARE_CLASS(TMiscPackage, TUserPackage)

 public:
  explicit TMiscPackage(TComponent* owner);

 protected:
  // agenda, facts, rules.
  void CreateFunctions() override;
};

}  // namespace zephro
