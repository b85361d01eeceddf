#pragma once

// TGoalRecipe: what a join on a backward-chaining pattern asks for when a
// partial match reaches it and no fact completes it: a goal fact of the
// template "need-<name>" carrying whatever the pattern already fixes.
//
// The recipe is read off the pattern when the rule is compiled, so the join
// needs nothing of the rule afterwards. For each slot the pattern tests, in
// pattern order, its equality tests (a not-equal test fixes nothing), each
// either a constant or a variable bound by an earlier pattern (found in the
// partial match) or by a later one (nothing yet: nil).
//
//   (defrule r (a ?x) (b (v ?x) (w 5)) => ...)  with (a 1)  asks  (need-b (v 1) (w 5))
//
// A single slot takes its first equality test; a multislot takes each test
// as the field at the test's position, nil where nothing falls, a multifield
// variable's fields in its place.
//
// Thread safety: immutable once made; Fill runs on the engine's thread.

#include <cstdint>
#include <string>
#include <vector>

#include "zephro/facts/slot_position.h"
#include "zephro/platform/ref.h"
#include "zephro/values/interfaces.h"

namespace zephro {

class TIEPattern;
class TRule;

class TGoalRecipe {
 public:
  // Raises SInvalidBackchainPattern unless `pattern`'s template chains backward.
  TGoalRecipe(const TIEPattern& pattern, const TRule& rule);

  const std::string& GoalTemplateName() const noexcept { return goal_template_; }
  // Fills `goal` (a new fact of the goal template) for the partial match `token`.
  void Fill(IFact& goal, const IReteToken& token) const;

 private:
  // One equality test: a constant, or where its variable is bound.
  struct TPart {
    std::int32_t sub_index;  // position in a multislot
    Ref<IIEValue> constant;  // null for a variable
    std::int32_t fact_index = -1;
    TSlotPosition slot;
    std::int32_t bound_sub_index = -1;
  };
  struct TSlot {
    std::string name;
    bool multi;
    std::vector<TPart> parts;
  };
  // The value `part` gives for `token`, or null when it gives none yet.
  Ref<IIEValue> ValueOf(const TPart& part, const IReteToken& token) const;

  std::string goal_template_;
  std::vector<TSlot> slots_;
};

}  // namespace zephro
