// Alpha nodes (TPatternMatchNode): the tests of one fact, passed on to
// joins and terminals.

#include <algorithm>

#include "zephro/rules/rule_environment.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

#include "rules/folded_list.h"
#include "rules/rete_nodes.h"

namespace zephro {
namespace {

const char* kPatternMatchTestNames[] = {"pmtUnknown",
                                        "pmtTestClassType",
                                        "pmtTestEqual",
                                        "pmtTestNotEqual",
                                        "pmtTestSlotValueEqual",
                                        "pmtTestSlotValueNotEqual",
                                        "pmtTestMultiSlotEqual",
                                        "pmtTestMultiSlotNotEqual",
                                        "pmtTestMultiSlotLength",
                                        "pmtTestMultiSlotMultiField",
                                        "pmtFailTest"};

std::string ArgText(const TNodeArg& arg) {
  if (const auto* s = std::get_if<std::string>(&arg)) {
    return *s;
  }
  return std::to_string(std::get<std::int32_t>(arg));
}

bool IsFalse(const IIEValue& v) {
  return v.Equals(&FCFalse());
}

}  // namespace

// --- TPatternMatchNode ------------------------------------------------------------------------

namespace {

// The shape of a pattern-match node's arguments, by its test.
enum class TArgShape { kTwoSlots, kSlot, kNumbers, kFold };

TArgShape ShapeOf(TPatternMatchTest test) {
  switch (test) {
    case TPatternMatchTest::pmtTestSlotValueEqual:
    case TPatternMatchTest::pmtTestSlotValueNotEqual:
      return TArgShape::kTwoSlots;  // slot, slot, position, position
    case TPatternMatchTest::pmtUnknown:
    case TPatternMatchTest::pmtTestClassType:
    case TPatternMatchTest::pmtFailTest:
      return TArgShape::kNumbers;  // position, position (unused by the test)
    case TPatternMatchTest::pmtTestEqual:
    case TPatternMatchTest::pmtTestNotEqual:
    case TPatternMatchTest::pmtTestMultiSlotEqual:
    case TPatternMatchTest::pmtTestMultiSlotNotEqual:
    case TPatternMatchTest::pmtTestMultiSlotMultiField:
      return TArgShape::kFold;  // slot, position, fields after, last (see Fold)
    case TPatternMatchTest::pmtTestMultiSlotLength:
      break;
  }
  return TArgShape::kSlot;  // slot, position
}

// What a node keeps of its arguments.
struct TArgFields {
  std::string slot1;
  std::string slot2;
  std::int32_t pos1 = -1;
  std::int32_t pos2 = -1;
  bool last = false;
  bool whole = false;
};

TArgFields FieldsOf(TPatternMatchTest test, const std::vector<TNodeArg>& args) {
  auto text = [&](std::size_t i) {
    return i < args.size() && std::holds_alternative<std::string>(args[i])
               ? std::get<std::string>(args[i])
               : std::string();
  };
  auto number = [&](std::size_t i) {
    return i < args.size() && std::holds_alternative<std::int32_t>(args[i])
               ? std::get<std::int32_t>(args[i])
               : -1;
  };
  switch (ShapeOf(test)) {
    case TArgShape::kTwoSlots:
      return {text(0), text(1), number(2), number(3)};
    case TArgShape::kNumbers:
      return {{}, {}, number(0), number(1)};
    case TArgShape::kFold:
      return {text(0), {}, number(1), number(2), number(3) >= 1, number(3) == 2};
    case TArgShape::kSlot:
      break;
  }
  return {text(0), {}, number(1), -1};
}

}  // namespace

TPatternMatchNode::TPatternMatchNode(TReteNetwork& rete, TPatternMatchTest test,
                                     Ref<IIEValue> value, std::vector<TNodeArg> args)
    : TReteNode(rete), value_(std::move(value)), test_(test) {
  TArgFields fields = FieldsOf(test, args);
  slot1_ = TSlotPosition(std::move(fields.slot1));
  slot2_ = TSlotPosition(std::move(fields.slot2));
  pos1_ = fields.pos1;
  pos2_ = fields.pos2;
  last_fold_ = fields.last;
  whole_fold_ = fields.whole;
}

std::vector<TNodeArg> TPatternMatchNode::Args() const {
  switch (ShapeOf(test_)) {
    case TArgShape::kTwoSlots:
      return {std::string(slot1_.Name()), std::string(slot2_.Name()), pos1_, pos2_};
    case TArgShape::kNumbers:
      return {pos1_, pos2_};
    case TArgShape::kFold:
      return {std::string(slot1_.Name()), pos1_, pos2_,
              std::int32_t{whole_fold_ ? 2 : (last_fold_ ? 1 : 0)}};
    case TArgShape::kSlot:
      break;
  }
  return {std::string(slot1_.Name()), pos1_};
}

IIEValue* TPatternMatchNode::Element(IIEValue* list_value, std::int32_t position) {
  if (list_value == nullptr || list_value->DType() != TIEType::dtList) {
    return nullptr;
  }
  IValueVector* list = list_value->AsList();
  if (list == nullptr || position < 0 || position >= list->ValueCount()) {
    return nullptr;
  }
  return list->Get(position);
}

bool TPatternMatchNode::Equals(TPatternMatchTest test, const IIEValue* value,
                               const std::vector<TNodeArg>& args) const {
  if (test != test_) {
    return false;
  }
  const TArgFields fields = FieldsOf(test, args);
  if (fields.pos1 != pos1_ || fields.pos2 != pos2_ || fields.last != last_fold_ ||
      fields.whole != whole_fold_ ||
      fields.slot1 != slot1_.Name() || fields.slot2 != slot2_.Name()) {
    return false;
  }
  if (value_ == nullptr || value == nullptr) {
    return value_ == nullptr && value == nullptr;
  }
  if (value_->DType() == TIEType::dtFuzzy || value->DType() == TIEType::dtFuzzy) {
    // Two tests share a node only when they test the very same set: sets
    // that merely overlap match facts to different degrees.
    const IMembershipSet* a = value_->DType() == TIEType::dtFuzzy ? value_->AsFuzzy() : nullptr;
    const IMembershipSet* b = value->DType() == TIEType::dtFuzzy ? value->AsFuzzy() : nullptr;
    return a != nullptr && b != nullptr && a->SameSet(*b);
  }
  return value_->Equals(value);
}

bool TPatternMatchNode::Compare(const Ref<TIEToken>& token, const IIEValue& value, bool negate,
                                const IIEValue& fact_value) {
  const bool fuzzy = value.DType() == TIEType::dtFuzzy || fact_value.DType() == TIEType::dtFuzzy;
  if (!fuzzy || !rete_->FuzzyMatch) {
    if (fact_value.Equals(&value) == negate) {
      return false;
    }
    CallChildren(token);
    return true;
  }
  // One comparison gives both the answer and the degree it weakens the token to.
  const IIEValue& f = value.DType() == TIEType::dtFuzzy ? value : fact_value;
  const IIEValue& o = value.DType() == TIEType::dtFuzzy ? fact_value : value;
  float degree = 1;
  if (rete_->FuzzyMatch(f, o, degree) == negate) {
    return false;
  }
  if (token->Strength() <= degree) {
    CallChildren(token);
    return true;
  }
  if (degree < rete_->MinActivationStrength()) {
    return false;
  }
  Ref<TIEToken> weaker = MakeRef<TIEToken>(*token, token->Tag());
  weaker->SetStrength(degree);
  weaker->MarkMayRepeat();  // made anew on every pass: withdrawn by a probe
  CallChildren(weaker);
  return true;
}

bool TPatternMatchNode::TestCall(const Ref<TIEToken>& token, bool negate) {
  if (token->Tag() == TTokenAction::taRemove) {
    // A withdrawal runs no predicate: the memories below find what the
    // token's addition left there, and nothing else.
    CallChildren(token);
    return true;
  }
  bool passed = false;
  try {
    TIEContext& context = rete_->Engine()->NetworkContext();
    const TFocus focus(context, token.get(), token->Fact());
    Ref<IIEValue> result = value_->Resolve(&context);
    passed = negate ? IsFalse(*result) : !IsFalse(*result);
  } catch (...) {
    if (!rete_->DeferFailure()) {
      throw;
    }
    return false;  // a predicate that fails does not match
  }
  if (passed) {
    CallChildren(token);
  }
  return passed;
}

bool TPatternMatchNode::Fold(const Ref<TIEToken>& token, const IFact& fact) {
  const int slot_index = slot1_.IndexIn(fact.Template());
  IIEValue* slot = slot_index >= 0 ? fact.ValueAt(slot_index) : nullptr;
  if (slot == nullptr) {
    return false;
  }
  if (slot->Equals(&FCNil())) {
    CallChildren(token);
    return true;
  }
  IValueVector* list = slot->DType() == TIEType::dtList ? slot->AsList() : nullptr;
  if (list == nullptr) {
    return false;
  }
  if (whole_fold_) {
    // The slot's one field takes it whole and nobody reads it: the fact
    // matches as it is, and is not split.
    CallChildren(token);
    return true;
  }
  const std::int32_t n = list->ValueCount();
  const std::int32_t p = pos1_;
  if (p < 0 || p > n) {
    return false;
  }
  // The segment's lengths worth trying, longest first: the fields known to
  // follow the segment must fit after it, and the last segment of the slot
  // takes exactly what they leave. A constant the pattern wants right after
  // the segment (value_) is looked for before any copy is made, so that a
  // field between two wildcards is found by one scan.
  std::int32_t longest = n - p;
  std::int32_t shortest = 0;
  if (pos2_ >= 0) {
    longest -= pos2_;
    if (last_fold_) {
      shortest = longest;
    }
  }
  if (longest < 0) {
    return false;
  }
  // A list folded before is read through its folds; a plain one in place.
  const TFoldedList* folded = TFoldedList::Of(*list);
  std::span<const Ref<IIEValue>> items;
  if (folded == nullptr) {
    items = list->Values();
  }
  auto element = [&](std::int32_t i) -> IIEValue* {
    return folded != nullptr ? folded->Get(i) : items[static_cast<std::size_t>(i)].get();
  };
  const Ref<IValueVector> source(list);
  bool passed = false;
  for (std::int32_t length = longest; length >= shortest; --length) {
    if (value_ && (p + length >= n || !element(p + length)->Equals(value_.get()))) {
      continue;
    }
    // The elements before p, the segment of `length` elements folded into one
    // multifield element, then the rest: described by a folded list where it
    // can be, else copied.
    Ref<IValueVector> split_list = TFoldedList::Fold(source, p, length);
    if (!split_list) {
      std::vector<Ref<IIEValue>> segment;
      segment.reserve(static_cast<std::size_t>(length));
      for (std::int32_t i = p; i < p + length; ++i) {
        segment.emplace_back(element(i));
      }
      std::vector<Ref<IIEValue>> copied;
      copied.reserve(static_cast<std::size_t>(n - length + 1));
      for (std::int32_t i = 0; i < p; ++i) {
        copied.emplace_back(element(i));
      }
      copied.push_back(
          MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(std::move(segment)))));
      for (std::int32_t i = p + length; i < n; ++i) {
        copied.emplace_back(element(i));
      }
      split_list = Ref<IValueVector>(MakeRef<TValueVector>(std::move(copied)));
    }
    Ref<IFact> copy = fact.Clone();
    copy->SetValueAt(slot_index, MakeRef<TIEValue>(std::move(split_list)));
    Ref<TIEToken> split = MakeRef<TIEToken>(token->Tag(), std::move(copy));
    split->SetStrength(token->Strength());
    split->MarkSplitOf(
        *token, static_cast<std::uint32_t>(id_) * 0x9e3779b1u + static_cast<std::uint32_t>(length));
    CallChildren(split);
    passed = true;
  }
  return passed;
}

bool TPatternMatchNode::CallNode(const Ref<TIEToken>& token, TCallType /*call_type*/) {
  if (token->Tag() == TTokenAction::taClear) {
    CallChildren(token);
    return true;
  }
  const IFact* fact = token->Fact();
  if (fact == nullptr) {
    return false;
  }
  switch (test_) {
    case TPatternMatchTest::pmtTestClassType: {
      const std::string_view name = value_->Text();
      for (const IFactTemplate* t = fact->Template(); t != nullptr; t = MatchingParent(*t)) {
        if (t->TemplateName() == name) {
          CallChildren(token);
          return true;
        }
      }
      return false;
    }
    case TPatternMatchTest::pmtTestEqual:
    case TPatternMatchTest::pmtTestNotEqual: {
      const bool negate = test_ == TPatternMatchTest::pmtTestNotEqual;
      if (value_->DType() == TIEType::dtFunCall) {
        return TestCall(token, negate);
      }
      const IIEValue* v = ReadSlot(slot1_, NoSubIndex, cache1_, *fact);
      return v != nullptr && Compare(token, *value_, negate, *v);
    }
    case TPatternMatchTest::pmtTestSlotValueEqual:
    case TPatternMatchTest::pmtTestSlotValueNotEqual: {
      IIEValue* a = slot1_.Read(*fact);
      IIEValue* b = slot2_.Read(*fact);
      if (pos1_ >= 0) {
        a = Element(a, pos1_);
      }
      if (pos2_ >= 0) {
        b = Element(b, pos2_);
      }
      if (a == nullptr || b == nullptr) {
        return false;
      }
      return Compare(token, *b, test_ == TPatternMatchTest::pmtTestSlotValueNotEqual, *a);
    }
    case TPatternMatchTest::pmtTestMultiSlotEqual:
    case TPatternMatchTest::pmtTestMultiSlotNotEqual: {
      const bool negate = test_ == TPatternMatchTest::pmtTestMultiSlotNotEqual;
      const IIEValue* v = Element(slot1_.Read(*fact), pos1_);
      if (v == nullptr) {
        return false;
      }
      if (value_->DType() == TIEType::dtFunCall) {
        return TestCall(token, negate);
      }
      return Compare(token, *value_, negate, *v);
    }
    case TPatternMatchTest::pmtTestMultiSlotLength: {
      IIEValue* v = slot1_.Read(*fact);
      const IValueVector* list =
          v != nullptr && v->DType() == TIEType::dtList ? v->AsList() : nullptr;
      if (list != nullptr && list->ValueCount() == pos1_) {
        CallChildren(token);
        return true;
      }
      return false;
    }
    case TPatternMatchTest::pmtTestMultiSlotMultiField:
      return Fold(token, *fact);
    case TPatternMatchTest::pmtUnknown:
    case TPatternMatchTest::pmtFailTest:
      return false;
  }
  return false;
}

std::string TPatternMatchNode::ToString() const {
  std::string text = TReteNode::ToString();
  if (value_) {
    text += " Value: " + value_->ToString();
  }
  text += " Test: ";
  text += kPatternMatchTestNames[static_cast<int>(test_)];
  const std::vector<TNodeArg> args = Args();
  text += " Args: (";
  for (std::size_t i = 0; i < args.size(); ++i) {
    text += (i > 0 ? ", " : "") + ArgText(args[i]);
  }
  text += ")";
  return text;
}

}  // namespace zephro
