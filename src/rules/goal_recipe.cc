// Goals of backward chaining: read off a pattern once, filled per partial match.

#include "rules/goal_recipe.h"

#include <utility>

#include "zephro/functions/context.h"
#include "zephro/rules/pattern.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {

TGoalRecipe::TGoalRecipe(const TIEPattern& pattern, const TRule& rule) {
  const IFactTemplate* t = pattern.FactTemplate();
  if (t == nullptr || !t->IsBackwardChaining()) {
    RaiseIEPlain(SInvalidBackchainPattern);
  }
  goal_template_ = std::string(SBackChainPrefix) + t->TemplateName();
  for (int s = 0; s < pattern.SlotCount(); ++s) {
    const TPatternSlot& slot = pattern.Slot(s);
    const IFactSlot* template_slot = t->FindSlot(slot.name.View());
    TSlot goal_slot{std::string(slot.name.View()),
                    template_slot != nullptr && template_slot->IsMultiSlot(),
                    {}};
    for (const auto& test : slot.tests) {
      if (test->IsNegated()) {
        continue;  // a value it is not fixes nothing
      }
      TPart part{test->MultiSlotSubIndex(), nullptr, -1, {}, NoSubIndex};
      if (test->IsVariable() || test->IsMultiVariable()) {
        const TBinding* b = rule.GetBindingByName(test->SlotValue()->Text());
        if (b == nullptr || b->IsPatternBinding()) {
          continue;
        }
        part.fact_index = b->FactIndex();
        part.slot = b->SlotPosition();
        part.bound_sub_index = b->SubIndex();
      } else {
        part.constant = Ref<IIEValue>(test->SlotValue());
      }
      goal_slot.parts.push_back(std::move(part));
      if (!goal_slot.multi) {
        break;  // the first equality test decides a single slot
      }
    }
    slots_.push_back(std::move(goal_slot));
  }
}

Ref<IIEValue> TGoalRecipe::ValueOf(const TPart& part, const IReteToken& token) const {
  if (part.constant) {
    return part.constant;
  }
  // Bound by a pattern the partial match has reached, or not yet.
  const IFact* fact = part.fact_index < token.Count() ? token.GetFacts(part.fact_index) : nullptr;
  IIEValue* value = fact != nullptr ? part.slot.Read(*fact) : nullptr;
  if (value == nullptr) {
    return nullptr;
  }
  if (part.bound_sub_index != NoSubIndex && value->DType() == TIEType::dtList) {
    const IValueVector& fields = *value->AsList();
    return part.bound_sub_index < fields.ValueCount()
               ? Ref<IIEValue>(fields.Get(part.bound_sub_index))
               : nullptr;
  }
  return Ref<IIEValue>(value);
}

void TGoalRecipe::Fill(IFact& goal, const IReteToken& token) const {
  const IFactTemplate& t = *goal.Template();
  for (const TSlot& slot : slots_) {
    if (!t.ContainsSlot(slot.name)) {
      continue;  // a goal template made implied, not from the template it asks for
    }
    if (!slot.multi) {
      Ref<IIEValue> value = slot.parts.empty() ? nullptr : ValueOf(slot.parts.front(), token);
      goal.SetValue(slot.name, value ? std::move(value) : Ref<IIEValue>(&FCNil()));
      continue;
    }
    std::vector<Ref<IIEValue>> fields;
    for (const TPart& part : slot.parts) {
      Ref<IIEValue> value = ValueOf(part, token);
      std::vector<Ref<IIEValue>> items;
      if (value && value->DType() == TIEType::dtList) {
        const auto values = value->AsList()->Values();
        items.assign(values.begin(), values.end());  // a multifield's fields in its place
      } else {
        items.push_back(value);
      }
      const auto at = static_cast<std::size_t>(part.sub_index < 0 ? 0 : part.sub_index);
      if (at >= fields.size()) {
        fields.resize(at);
        fields.insert(fields.end(), items.begin(), items.end());
      } else {
        fields.erase(fields.begin() + static_cast<std::ptrdiff_t>(at));
        fields.insert(fields.begin() + static_cast<std::ptrdiff_t>(at), items.begin(), items.end());
      }
    }
    for (Ref<IIEValue>& field : fields) {
      if (!field) {
        field = Ref<IIEValue>(&FCNil());
      }
    }
    goal.SetValue(slot.name,
                  MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(std::move(fields)))));
  }
}

}  // namespace zephro
