// Token propagation through the nodes of the matching network.
//
// Alpha nodes test the last fact of a token and pass the token on unchanged
// (or, for a multifield variable, one token per way of splitting the slot).
// A join keeps the tokens that reached it from the left (partial matches) and
// from the right (facts) in two hashed memories keyed on its equality join
// tests, so an arriving token meets only the partners that can match it.
// A negated join finds, per left token, a right token that matches it (its
// blocker) and passes the left token on (extended by the null fact) exactly
// while it has none. A retracted fact enters the network again as the token
// it entered with, which the memories find where they filed it; from there,
// every token made from it is withdrawn through the links between tokens, so
// every activation that depended on the fact goes, in the order the tokens
// were made. (Tokens that can come in equal copies, from splitting a
// multifield slot, are withdrawn by a probe that finds its equals.)

#include "rules/rete_nodes.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <typeinfo>
#include <unordered_map>

#include "zephro/rules/activation.h"
#include "zephro/rules/rule.h"
#include "zephro/rules/rule_environment.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

#include "platform/debug_checks.h"

namespace zephro {
namespace {

const char* kPatternMatchTestNames[] = {
    "pmtUnknown",          "pmtTestClassType",         "pmtTestEqual",
    "pmtTestNotEqual",     "pmtTestSlotValueEqual",    "pmtTestSlotValueNotEqual",
    "pmtTestMultiSlotEqual", "pmtTestMultiSlotNotEqual", "pmtTestMultiSlotLength",
    "pmtTestMultiSlotMultiField", "pmtFailTest"};

const char* kCallTypeNames[] = {"ctLeft", "ctRight", "ctSingle", "ctActivate"};

std::string ArgText(const TNodeArg& arg) {
  if (const auto* s = std::get_if<std::string>(&arg)) {
    return *s;
  }
  return std::to_string(std::get<std::int32_t>(arg));
}

bool IsFalse(const IIEValue& v) { return v.Equals(&FCFalse()); }

}  // namespace

// --- TReteNode ------------------------------------------------------------------------------

namespace {
std::atomic<std::uint32_t> next_node_id{1};  // 0: made outside the matcher
}  // namespace

TReteNode::TReteNode(TReteNetwork& rete)
    : rete_(&rete), id_(next_node_id.fetch_add(1, std::memory_order_relaxed)) {}

void TReteNode::Withdraw(const Ref<TIEToken>& child) {
  child->Detach();
  child->SetTag(TTokenAction::taRemove);
  CallChildren(child);
}

namespace {

// The children a node is withdrawing, gathered before the first goes: taking
// one away can take others with it (a partial match built on two of them,
// a negated join blocked again), which then leave their lists. The nodes
// below use the same stack for their own lists, each above the one it was
// called from.
std::vector<Ref<TIEToken>>& Withdrawals() {
  thread_local std::vector<Ref<TIEToken>> stack;
  return stack;
}

}  // namespace

template <class Gather>
void TReteNode::WithdrawGathered(Gather&& gather, bool newest_first) {
  std::vector<Ref<TIEToken>>& stack = Withdrawals();
  const std::size_t from = stack.size();
  gather([&](TIEToken& child) {
    child.PrefetchNeighbours();
    stack.emplace_back(&child);
  });
  if (newest_first) {
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(from), stack.end());
  }
  const TIETokenTree* home = stack.size() - from > 2 ? HomeOfChildren() : nullptr;
  for (std::size_t i = from; i < stack.size(); ++i) {
    if (i + 1 < stack.size()) {
      stack[i + 1]->PrefetchNeighbours();
      if (home != nullptr) {
        // The removals of the next children from the memory that holds
        // them, prepared ahead (see TIETokenTree::PrefetchHome).
        home->PrefetchUnlink(*stack[i + 1]);
        if (i + 2 < stack.size()) {
          home->PrefetchHome(*stack[i + 2]);
        }
      }
    }
    // Taken out of the stack, which the withdrawal may grow (and move).
    // Mostly the last hold on the child: it is freed while still in the
    // cache, and its block is the next one a new token gets.
    const Ref<TIEToken> child = std::move(stack[i]);
    if (child->Linked()) {  // else it went with an earlier one
      Withdraw(child);
    }
  }
  stack.resize(from);
}

const TIETokenTree* TReteNode::HomeOfChildren() const {
  if (successors_.size() != 1 || successors_[0].CallType() != TCallType::ctLeft ||
      typeid(*successors_[0].To()) != typeid(TJoinNode)) {
    return nullptr;
  }
  return static_cast<const TJoinNode&>(*successors_[0].To()).LeftTree();
}

void TReteNode::WithdrawChildren(TIEToken& parent) {
  WithdrawGathered([&](auto&& keep) { parent.ForChildrenNewestFirst(id_, keep); }, true);
}

void TReteNode::WithdrawRightChildren(TIEToken& right_parent) {
  WithdrawGathered([&](auto&& keep) { right_parent.ForRightChildrenFrom(id_, keep); }, false);
}

void TReteNode::Inputs::Add(TReteNode& node) {
  if (nodes_[1] != nullptr) {
    throw std::length_error("a node has two inputs at most");
  }
  nodes_[nodes_[0] == nullptr ? 0 : 1] = &node;
}

void TReteNode::Inputs::Remove(const TReteNode& node) noexcept {
  if (nodes_[1] == &node) {
    nodes_[1] = nullptr;
  }
  if (nodes_[0] == &node) {
    nodes_[0] = nodes_[1];
    nodes_[1] = nullptr;
  }
}

std::string TReteNode::ToString() const {
  return std::string(NodeName()) + " In/Out#: " + std::to_string(predecessors_.size()) + "/" +
         std::to_string(successors_.size()) + " RuleUse: " + std::to_string(rule_use_count_);
}

// Successors that test one slot for equality with a constant (no call, no
// fuzzy value), grouped by slot and filed by the constant's hash; a fact can
// pass only the members whose constant hashes like its slot value. The rest
// are called as they are.
struct TReteNode::TConstantDispatch : RefCounted {
  struct Group {
    TSlotPosition slot;
    TSlotCache cache;
    std::unordered_multimap<std::int32_t, std::uint32_t> by_hash;  // -> successor index
  };
  std::vector<Group> groups;
  std::vector<std::uint32_t> others;  // successor indices, ascending
};

namespace {

bool IsConstantEquality(const TReteNode& node) {
  const auto* pm = dynamic_cast<const TPatternMatchNode*>(&node);
  if (pm == nullptr || pm->Test() != TPatternMatchTest::pmtTestEqual || pm->Value() == nullptr) {
    return false;
  }
  const TIEType kind = pm->Value()->DType();
  return kind != TIEType::dtFunCall && kind != TIEType::dtFuzzy;
}

}  // namespace

TReteNode::~TReteNode() = default;

void TReteNode::SuccessorsChanged() noexcept { dispatch_ = nullptr; }

void TReteNode::CallChildrenByValue(const Ref<TIEToken>& token) {
  if (!dispatch_) {
    Ref<TConstantDispatch> d = MakeRef<TConstantDispatch>();
    for (std::uint32_t i = 0; i < successors_.size(); ++i) {
      TReteNode& child = *successors_[i].To();
      if (!IsConstantEquality(child)) {
        d->others.push_back(i);
        continue;
      }
      const auto& pm = static_cast<const TPatternMatchNode&>(child);
      const std::string_view name = pm.SlotName();
      auto group = std::find_if(d->groups.begin(), d->groups.end(),
                                [&](const TConstantDispatch::Group& g) { return g.slot.Name() == name; });
      if (group == d->groups.end()) {
        d->groups.push_back({TSlotPosition(name), {}, {}});
        group = d->groups.end() - 1;
      }
      group->by_hash.emplace(pm.Value()->GetHashCode(), i);
    }
    dispatch_ = std::move(d);
  }
  // Held for the call: no rule action runs while a token passes, so the
  // successors cannot change under us today, and if they ever did the index
  // would still be alive here.
  const Ref<TConstantDispatch> d = dispatch_;
  if (d->groups.empty()) {
    for (const Edge& e : successors_) {
      e.To()->CallNode(token, e.CallType());
    }
    return;
  }
  const IFact& fact = *token->Fact();
  std::vector<std::uint32_t> chosen = d->others;
  for (TConstantDispatch::Group& g : d->groups) {
    const IIEValue* v = ReadSlot(g.slot, NoSubIndex, g.cache, fact);
    if (v == nullptr) {
      continue;  // no member can pass
    }
    if (v->DType() == TIEType::dtFuzzy) {
      // A fuzzy value compares by compatibility: every member must look.
      for (const auto& [hash, index] : g.by_hash) {
        chosen.push_back(index);
      }
      continue;
    }
    auto [from, to] = g.by_hash.equal_range(v->GetHashCode());
    for (auto it = from; it != to; ++it) {
      chosen.push_back(it->second);
    }
  }
  // Successor order, as without the index.
  std::sort(chosen.begin(), chosen.end());
  for (std::uint32_t i : chosen) {
    const Edge e = successors_[i];
    e.To()->CallNode(token, e.CallType());
  }
}

bool TReteNode::EnteredFrom(const TReteNode& from, TCallType call_type) const {
  for (const Edge& e : from.successors_) {
    if (e.To() == this && e.CallType() == call_type) {
      return true;
    }
  }
  return false;
}

// --- TPatternMatchNode ------------------------------------------------------------------------

namespace {

// Points the network's context at a partial match and a fact while a
// predicate runs, and back at nothing however it ends. A predicate that
// raises while a fact moves through the network does not match: the nodes
// hand the failure to the engine (TReteNetwork::DeferFailure), which raises
// it once the fact has moved through the whole network.
class TFocus {
 public:
  TFocus(TIEContext& context, const TIEToken* token, IFact* fact) noexcept : context_(context) {
    context_.SetToken(const_cast<TIEToken*>(token));
    context_.SetFact(fact);
  }
  ~TFocus() {
    context_.SetToken(nullptr);
    context_.SetFact(nullptr);
  }
  TFocus(const TFocus&) = delete;
  TFocus& operator=(const TFocus&) = delete;

 private:
  TIEContext& context_;
};

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
      return {text(0), {}, number(1), number(2), number(3) == 1};
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
}

std::vector<TNodeArg> TPatternMatchNode::Args() const {
  switch (ShapeOf(test_)) {
    case TArgShape::kTwoSlots:
      return {std::string(slot1_.Name()), std::string(slot2_.Name()), pos1_, pos2_};
    case TArgShape::kNumbers:
      return {pos1_, pos2_};
    case TArgShape::kFold:
      return {std::string(slot1_.Name()), pos1_, pos2_, std::int32_t{last_fold_ ? 1 : 0}};
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
      fields.slot1 != slot1_.Name() || fields.slot2 != slot2_.Name()) {
    return false;
  }
  if (value_ == nullptr || value == nullptr) {
    return value_ == nullptr && value == nullptr;
  }
  if (value_->DType() == TIEType::dtFuzzy || value->DType() == TIEType::dtFuzzy) {
    const IIEValue& fuzzy = value_->DType() == TIEType::dtFuzzy ? *value_ : *value;
    const IIEValue& other = value_->DType() == TIEType::dtFuzzy ? *value : *value_;
    return rete_->Compatibility && rete_->Compatibility(fuzzy, other) >= 1.0f;
  }
  return value_->Equals(value);
}

bool TPatternMatchNode::Compare(const Ref<TIEToken>& token, const IIEValue& value, bool negate,
                                const IIEValue& fact_value) {
  bool r = fact_value.Equals(&value);
  if (negate) {
    r = !r;
  }
  if (!r) {
    return false;
  }
  const bool fuzzy =
      value.DType() == TIEType::dtFuzzy || fact_value.DType() == TIEType::dtFuzzy;
  if (!fuzzy || !rete_->Compatibility) {
    CallChildren(token);
    return true;
  }
  const IIEValue& f = value.DType() == TIEType::dtFuzzy ? value : fact_value;
  const IIEValue& o = value.DType() == TIEType::dtFuzzy ? fact_value : value;
  const float degree = rete_->Compatibility(f, o);
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
  std::span<const Ref<IIEValue>> items = list->Values();
  bool passed = false;
  for (std::int32_t length = longest; length >= shortest; --length) {
    if (value_ && (p + length >= n ||
                   !items[static_cast<std::size_t>(p + length)]->Equals(value_.get()))) {
      continue;
    }
    // The elements before p, the segment of `length` elements folded into one
    // multifield element, then the rest.
    auto segment = MakeRef<TValueVector>(std::vector<Ref<IIEValue>>(
        items.begin() + p, items.begin() + p + length));
    std::vector<Ref<IIEValue>> folded;
    folded.reserve(static_cast<std::size_t>(n - length + 1));
    folded.insert(folded.end(), items.begin(), items.begin() + p);
    folded.push_back(MakeRef<TIEValue>(Ref<IValueVector>(std::move(segment))));
    folded.insert(folded.end(), items.begin() + p + length, items.end());
    Ref<IFact> copy = fact.Clone();
    copy->SetValueAt(slot_index, MakeRef<TIEValue>(Ref<IValueVector>(
                                              MakeRef<TValueVector>(std::move(folded)))));
    Ref<TIEToken> split = MakeRef<TIEToken>(token->Tag(), std::move(copy));
    split->SetStrength(token->Strength());
    split->MarkSplitOf(*token, static_cast<std::uint32_t>(id_) * 0x9e3779b1u +
                                   static_cast<std::uint32_t>(length));
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
      for (const IFactTemplate* t = fact->Template(); t != nullptr; t = t->Parent()) {
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

// --- TTestNode --------------------------------------------------------------------------------

TTestNode::~TTestNode() {
  for (TIESlotTest* test : tests_) {
    delete test;
  }
}

bool TTestNode::Equals(const TTestNode& other) const {
  if (typeid(*this) != typeid(other) || tests_.size() != other.tests_.size() ||
      has_function_tests_ || other.has_function_tests_) {
    return false;
  }
  for (const auto& t : tests_) {
    bool found = false;
    for (const auto& u : other.tests_) {
      if (t->Equals(*u)) {
        found = true;
        break;
      }
    }
    if (!found) {
      return false;
    }
  }
  return true;
}

bool TTestNode::RunTests(const TIEToken& left, const TIEToken* right, IFact* right_fact,
                         std::size_t first) {
  if (!program_.Compiled()) {
    program_.Compile(std::span<TIESlotTest* const>(tests_.begin(), tests_.end()));
  }
  TIEContext* context = nullptr;
  for (std::size_t i = first; i < tests_.size(); ++i) {
    switch (program_.Decide(i, left, right_fact)) {
      case TTestProgram::TVerdict::vFail:
        return false;
      case TTestProgram::TVerdict::vPass:
        continue;
      case TTestProgram::TVerdict::vAsk:
        break;
    }
    const TIESlotTest* test = tests_[i];
    if (const TIEJoinTest* join = test->AsJoinTest()) {
      if (right_fact == nullptr || !join->Test(left, *right_fact)) {
        return false;
      }
      continue;
    }
    if (context == nullptr) {
      context = &rete_->Engine()->NetworkContext();
    }
    bool passed = false;
    try {
      const TFocus focus(*context, &left, right_fact);
      passed = test->PerformTest(*context);
    } catch (...) {
      if (!rete_->DeferFailure()) {
        throw;
      }
      return false;  // a predicate that fails does not match
    }
    if (!passed) {
      return false;
    }
  }
  (void)right;
  return true;
}

bool TTestNode::CallNode(const Ref<TIEToken>& token, TCallType /*call_type*/) {
  if (token->Tag() == TTokenAction::taClear) {
    CallChildren(token);
    return true;
  }
  IFact& null_fact = rete_->NullFact();
  if (token->Tag() == TTokenAction::taRemove && !token->IsProbe()) {
    WithdrawChildren(*token);
    return true;
  }
  // A probe passes on its extension, whatever the tests say now: it only
  // finds what the tests let through before.
  if (token->Tag() != TTokenAction::taRemove && !RunTests(*token, nullptr, &null_fact)) {
    return false;
  }
  Ref<TIEToken> passed = MakeRef<TIEToken>(token, &null_fact);
  if (!token->IsProbe()) {
    token->AdoptChild(*passed, id_);
  }
  CallChildren(passed);
  return true;
}

std::string TTestNode::ToString() const {
  std::string text = TReteNode::ToString() + " NumTests: " + std::to_string(tests_.size());
  for (const auto& t : tests_) {
    text += " (" + t->ToString() + ")";
  }
  return text;
}

// --- TJoinNode ----------------------------------------------------------------------------------

TJoinNode::TJoinNode(TReteNetwork& rete, bool negated, bool unique)
    : TTestNode(rete), negated_(negated), unique_(unique) {}

TJoinNode::~TJoinNode() {
  LeaveRightMemory();
}

void TJoinNode::LeaveRightMemory() {
  if (right_) {
    auto& members = right_->members;
    members.erase(std::remove(members.begin(), members.end(), this), members.end());
    right_.reset();
  }
  right_tree_ = nullptr;
  right_shared_ = false;
}

bool TJoinNode::Equals(const TTestNode& other) const {
  const auto* o = dynamic_cast<const TJoinNode*>(&other);
  if (o == nullptr || negated_ || o->negated_ || prefix_join_ || o->prefix_join_ ||
      unique_ != o->unique_) {
    return false;
  }
  return TTestNode::Equals(other);
}

void TJoinNode::PrepareShortCut() {
  left_key_ = TMemoryKey{};
  right_key_ = TMemoryKey{};
  left_.reset();
  LeaveRightMemory();
  if (prefix_join_) {
    return;  // both memories hash by token identity
  }
  // Every whole-slot equality join test becomes part of the key (moved to the
  // front, so they run first on the candidates a probe finds); without one,
  // the first positional equality test keys the memories.
  auto is_key = [&](std::size_t i, TJoinTestType wanted) {
    const TIEJoinTest* j = tests_[i]->AsJoinTest();
    return j != nullptr && !j->IsNegated() && j->JoinTestType() == wanted;
  };
  std::vector<TMemoryKeyPart> left;
  std::vector<TMemoryKeyPart> right;
  auto take = [&](std::size_t i, std::size_t to) {
    const TIEJoinTest* j = tests_[i]->AsJoinTest();
    left.push_back(TMemoryKeyPart{j->TokenIdx(), TSlotPosition(j->LeftSlotName()), j->LeftSubIndex(), {}});
    right.push_back(TMemoryKeyPart{-1, TSlotPosition(j->RightSlotName()), j->RightSubIndex(), {}});
    const auto at = static_cast<std::ptrdiff_t>(i);
    const auto dest = static_cast<std::ptrdiff_t>(to);
    std::rotate(tests_.begin() + dest, tests_.begin() + at, tests_.begin() + at + 1);
    program_.Reset();
  };
  for (std::size_t i = 0; i < tests_.size(); ++i) {
    if (is_key(i, TJoinTestType::tstSlot)) {
      take(i, left.size());
    }
  }
  if (left.empty()) {
    for (std::size_t i = 0; i < tests_.size(); ++i) {
      if (is_key(i, TJoinTestType::tstMultiSlot)) {
        take(i, 0);
        break;
      }
    }
  }
  left_key_.parts = rete_->MemoryKeys().Intern(left);
  right_key_.parts = rete_->MemoryKeys().Intern(right);
}

namespace {

// Kept out of line: the callers' fast path only finds the memory made.
[[gnu::noinline]] std::unique_ptr<TIETokenTree> NewMemory(int initial_buckets, bool probed) {
  return std::make_unique<TIETokenTree>(initial_buckets, probed);
}

}  // namespace

TIETokenTree& TJoinNode::Left() {
  if (!left_) [[unlikely]] {
    left_ = NewMemory(rete_->HashKey(), Probing());
  }
  return *left_;
}

TRightMemory& TJoinNode::Right() {
  if (!right_) {
    right_ = MakeRef<TRightMemory>();
    right_->members.push_back(this);
  }
  return *right_;
}

bool TJoinNode::ShareRightMemory(TJoinNode& other) {
  if (!other.offers_right_ || &other == this || right_tree_ != nullptr ||
      other.right_tree_ != nullptr || other.right_key_.parts.size() != right_key_.parts.size()) {
    return false;
  }
  for (std::size_t i = 0; i < right_key_.parts.size(); ++i) {
    const TMemoryKeyPart& a = right_key_.parts[i];
    const TMemoryKeyPart& b = other.right_key_.parts[i];
    if (a.fact_index != b.fact_index || a.sub_index != b.sub_index ||
        a.slot.Name() != b.slot.Name()) {
      return false;
    }
  }
  TRightMemory& shared = other.Right();
  LeaveRightMemory();
  right_ = other.right_;
  shared.members.push_back(this);
  right_shared_ = true;
  other.right_shared_ = true;
  return true;
}

std::uint32_t TJoinNode::FileSharedRight(const Ref<TIEToken>& token, std::int32_t hash,
                                         std::uint64_t fingerprint) {
  TRightMemory& m = Right();
  if (right_shared_ && m.members.front() != this && m.token == token && !m.removal) {
    const std::uint32_t position = m.position;
    if (m.members.back() == this) {
      m.token = nullptr;  // every member has it
    }
    return position;
  }
  if (!m.tree) {
    // Walked whole by any member that has no key: then sized by its entries.
    const bool probed = std::all_of(m.members.begin(), m.members.end(),
                                    [](const TJoinNode* member) { return member->Probing(); });
    m.tree = NewMemory(rete_->HashKey(), probed);
    for (TJoinNode* member : m.members) {
      member->right_tree_ = m.tree.get();
    }
  }
  const std::uint32_t position = m.tree->Add(token, hash, fingerprint);
  if (right_shared_) {
    m.token = token;
    m.removal = false;
    m.position = position;
  }
  return position;
}

bool TJoinNode::UnfileSharedRight(TIEToken& token, std::uint32_t& position, Ref<TIEToken>& held) {
  TRightMemory& m = *right_;
  if (m.members.front() != this && m.token.get() == &token && m.removal) {
    position = m.position;
    held = m.held;
    const bool found = m.found;
    if (m.members.back() == this) {
      m.token = nullptr;
      m.held = nullptr;
    }
    return found;
  }
  const bool found = right_tree_ != nullptr && right_tree_->Remove(token, &position, &held);
  m.token = Ref<TIEToken>(&token);
  m.removal = true;
  m.found = found;
  m.position = position;
  m.held = held;
  return found;
}

void TJoinNode::ClearMemory() {
  if (left_) {
    left_->Clear();
  }
  if (right_) {
    right_->token = nullptr;
    right_->held = nullptr;
    if (right_->tree) {
      right_->tree->Clear();
    }
  }
}

Ref<TIEToken> TJoinNode::Extend(const Ref<TIEToken>& left, TIEToken& right,
                                TTokenAction tag) const {
  Ref<TIEToken> t = MakeRef<TIEToken>(left, right.Fact());
  t->SetTag(tag);
  t->SetStrength(std::min(left->Strength(), right.Strength()));
  left->AdoptChild(*t, id_);
  if (!prefix_join_) {
    right.AdoptRightChild(*t);
  }
  if (right.MayRepeat()) {
    // Splits of one fact extend a partial match into tokens of their own.
    t->MarkMayRepeat();
    t->TakeRightIdentity(*left, right);
  }
  return t;
}

Ref<TIEToken> TJoinNode::WithNull(const Ref<TIEToken>& left, TTokenAction tag) const {
  Ref<TIEToken> t = MakeRef<TIEToken>(left, &rete_->NullFact());
  t->SetTag(tag);
  left->AdoptChild(*t, id_);
  return t;
}

template <class F>
void TJoinNode::ForCandidates(TIETokenTree* memory, std::int32_t hash, bool key_found, F&& f) {
  if (memory == nullptr) {
    return;  // never stored anything
  }
  if (!Probing()) {
    memory->ForEach(f);
  } else if (key_found) {
    memory->ForKey(hash, f);
  }
}

bool TJoinNode::CallNode(const Ref<TIEToken>& token, TCallType call_type) {
  if (token->Tag() == TTokenAction::taClear) {
    ClearMemory();
    CallChildren(token);
    return true;
  }
  switch (call_type) {
    case TCallType::ctLeft:
      LeftActivate(token);
      return true;
    case TCallType::ctRight:
      RightActivate(token);
      return true;
    case TCallType::ctSingle:
    case TCallType::ctActivate:
      RaiseIE(SInvalidCallType, kCallTypeNames[static_cast<int>(call_type)]);
  }
  return false;
}

bool TJoinNode::Matches(const TIEToken& left, const TIEToken& right, std::uint64_t a,
                        std::uint64_t b) {
  if (prefix_join_) {
    return right.ParentToken() != nullptr && right.ParentToken()->SameAs(left);
  }
  // Keys of integers, and keys of one text held in the same block, compare
  // by their fingerprints: the key tests, which lead the join's tests, need
  // not read the facts again.
  std::size_t first = 0;
  if (a != TMemoryKey::kInexact && b != TMemoryKey::kInexact) {
    bool decided = true;
    const bool same = left_key_.SameKey(a, b, decided);
    if (decided) {
      if (!same) {
        return false;
      }
      first = left_key_.parts.size();
    }
  }
  return RunTests(left, &right, right.Fact(), first);
}

void TJoinNode::RunTestsVaryRight(const Ref<TIEToken>& left, TTokenAction tag,
                                  std::int32_t hash, bool key_found, std::uint64_t fingerprint) {
  ForCandidates(RightTree(), hash, key_found, [&](TIETokenTree::Entry& r, std::uint32_t) {
    if (!Matches(*left, *r.token, fingerprint, r.fingerprint)) {
      return true;
    }
    CallChildren(Extend(left, *r.token, tag));
    return !unique_;
  });
}

std::uint32_t TJoinNode::FindBlocker(const TIEToken& left, std::int32_t hash, bool key_found,
                                     std::uint64_t fingerprint) {
  std::uint32_t blocker = TIETokenTree::kNoEntry;
  ForCandidates(RightTree(), hash, key_found, [&](TIETokenTree::Entry& r, std::uint32_t at) {
    if (!Matches(left, *r.token, fingerprint, r.fingerprint)) {
      return true;
    }
    blocker = at;
    return false;
  });
  return blocker;
}

void TJoinNode::LeftActivate(const Ref<TIEToken>& token) {
  // The left memory files the token under its key value (or its identity),
  // which is also where its partners sit in the right memory.
  if (token->Tag() == TTokenAction::taRemove) {
    // What this node made from the token this memory held goes with it.
    // The held token is on its way out of every memory: marked so, what the
    // withdrawal frees meanwhile below (a negation level fed from the same
    // input, whose left memory holds it too) goes out as a removal instead
    // of coming in for a moment.
    Ref<TIEToken> held;
    if (left_ && left_->Remove(*token, nullptr, &held)) {
      held->SetTag(TTokenAction::taRemove);
      WithdrawChildren(*held);
    }
    return;
  }
  TIETokenTree& left = Left();
  bool found = true;
  std::uint64_t fingerprint = TMemoryKey::kInexact;
  // Without a key, a left memory is walked whole, in the order of its
  // tokens' sort codes (a prefix join probes its left memory by identity).
  const std::int32_t hash = Probing() ? left_key_.HashOf(*token, found, &fingerprint)
                                      : token->SortCode();
  if (right_tree_ != nullptr && found) {
    right_tree_->PrefetchKey(hash);
  }
  const std::uint32_t position = left.Add(token, hash, fingerprint);
  if (position == TIETokenTree::kNoEntry) {
    return;  // already there
  }
  if (!negated_) {
    RunTestsVaryRight(token, token->Tag(), hash, found, fingerprint);
    return;
  }
  // A negated pattern holds while no right token matches: one match is enough
  // to block the token.
  const std::uint32_t blocker = FindBlocker(*token, hash, found, fingerprint);
  left.Blocker(position) = blocker;
  if (blocker == TIETokenTree::kNoEntry) {
    CallChildren(WithNull(token, token->Tag()));
  }
}

void TJoinNode::RightActivate(const Ref<TIEToken>& token) {
  bool found = true;
  std::int32_t hash = 0;
  std::uint64_t fingerprint = TMemoryKey::kInexact;
  if (prefix_join_) {
    hash = token->ParentToken() != nullptr
               ? static_cast<std::int32_t>(token->ParentToken()->IdentityHash())
               : 0;
  } else if (right_key_.Keyed()) {
    const IFact* fact = token->Fact();
    hash = fact != nullptr ? right_key_.HashOfFact(*fact, found, &fingerprint) : 0;
    found = found && fact != nullptr;
  } else {
    hash = token->Fact() != nullptr ? token->Fact()->GetID() : 0;
  }
  const bool removing = token->Tag() == TTokenAction::taRemove;
  std::uint32_t position = TIETokenTree::kNoEntry;
  if (removing) {
    Ref<TIEToken> held;
    if (!UnfileRight(*token, position, held)) {
      return;
    }
    if (!negated_) {
      WithdrawRightChildren(*held);
      return;
    }
  } else {
    if (left_ && found) {
      left_->PrefetchKey(hash);
    }
    position = FileRight(token, hash, fingerprint);
    if (position == TIETokenTree::kNoEntry) {
      return;
    }
  }
  if (!left_) {
    return;  // nothing waits on the left yet
  }
  // With a key, left entries that can match sit under the same hash; a prefix
  // join finds the one left token it extends under that token's identity.
  TIETokenTree& left = *left_;
  ForCandidates(&left, hash, found, [&](TIETokenTree::Entry& l, std::uint32_t at) {
    if (!negated_) {
      if (Matches(*l.token, *token, l.fingerprint, fingerprint)) {
        CallChildren(Extend(l.token, *token, token->Tag()));
      }
    } else if (!removing) {
      // Tokens already blocked stay blocked: only free ones are tested.
      if (left.Blocker(at) == TIETokenTree::kNoEntry &&
          Matches(*l.token, *token, l.fingerprint, fingerprint)) {
        left.Blocker(at) = position;
        WithdrawChildren(*l.token);
      }
    } else if (left.Blocker(at) == position) {
      // The token lost its blocker: it is free unless another one matches.
      const std::uint32_t blocker = FindBlocker(*l.token, l.hash, true, l.fingerprint);
      left.Blocker(at) = blocker;
      if (blocker == TIETokenTree::kNoEntry) {
        CallChildren(WithNull(l.token, l.token->Tag()));
      }
    }
    return true;
  });
}

std::string TJoinNode::ToString() const {
  std::string text = TTestNode::ToString();
  if (negated_) {
    text += " *NEGATED*";
  }
  text += " Left Memory: " + (left_ ? left_->GetToFactsString() : std::string());
  text += " Right Memory: " +
          (RightTree() != nullptr ? RightTree()->GetToFactsString() : std::string());
  return text;
}

// --- TPatternMatchTerminalNode -------------------------------------------------------------------

TPatternMatchTerminalNode::~TPatternMatchTerminalNode() {
  FastClear();
  // The rule was removed while it fired: once its actions end, the firing
  // activation has no node to tell.
  if (IRuleEnvironment* engine = rete_->Engine()) {
    TActivation* firing = engine->FiringActivation();
    if (firing != nullptr && firing->node_ == this) {
      firing->node_ = nullptr;
    }
  }
}

bool TPatternMatchTerminalNode::CallNode(const Ref<TIEToken>& token, TCallType /*call_type*/) {
  switch (token->Tag()) {
    case TTokenAction::taClear:
      StandDown();
      return true;
    case TTokenAction::taAdd:
    case TTokenAction::taUpdate:
      AddActivation(token);
      return true;
    case TTokenAction::taRemove:
      StandDown(*token);
      return true;
  }
  return false;
}

namespace {

// Every activation of a terminal node carries one of the network's tokens.
std::uint32_t IdentityOf(const TActivation& a) {
  return static_cast<const TIEToken&>(a.Token()).IdentityHash();
}

}  // namespace

void TPatternMatchTerminalNode::Grow() {
  constexpr std::size_t kFirstBuckets = 4;
  std::vector<TActivation*> old(std::max(buckets_.size() * 2, kFirstBuckets), nullptr);
  old.swap(buckets_);
  for (TActivation* head : old) {
    while (head != nullptr) {
      TActivation* next = head->node_next_;
      TActivation*& bucket = BucketOf(IdentityOf(*head));
      head->node_next_ = bucket;
      bucket = head;
      head = next;
    }
  }
}

void TPatternMatchTerminalNode::AddActivation(const Ref<TIEToken>& token) {
  if (token->Tag() == TTokenAction::taAdd &&
      (!rule_->Enabled() || (rule_->OneShot() && rule_->Fired()))) {
    return;
  }
  if (token->Tag() == TTokenAction::taUpdate && initialized_) {
    return;
  }
  auto activation = std::make_unique<TActivation>(*rule_, Ref<IReteToken>(token.get()), this,
                                                  token->Strength());
  TActivation* a = activation.get();
  if (static_cast<std::size_t>(count_) >= buckets_.size()) {
    Grow();
  }
  a->node_order_ = next_order_++;
  TActivation*& bucket = BucketOf(token->IdentityHash());
  a->node_next_ = bucket;
  bucket = a;
  ++count_;
  try {
    rete_->Activate(std::move(activation));
  } catch (...) {
    if (activation) {
      Forget(*a);  // not on the agenda (its salience failed, say): not here either
    }
    throw;
  }
  if (activation) {
    Forget(*a);  // no engine took it
  }
}

void TPatternMatchTerminalNode::Forget(TActivation& activation) {
  if (activation.node_order_ == 0) {
    return;
  }
  for (TActivation** link = &BucketOf(IdentityOf(activation)); *link != nullptr;
       link = &(*link)->node_next_) {
    if (*link == &activation) {
      *link = activation.node_next_;
      --count_;
      break;
    }
  }
  activation.node_next_ = nullptr;
  activation.node_order_ = 0;
}

void TPatternMatchTerminalNode::StandDown() {
  // Last created first.
  std::vector<TActivation*> all;
  all.reserve(static_cast<std::size_t>(count_));
  for (TActivation* head : buckets_) {
    for (TActivation* a = head; a != nullptr; a = a->node_next_) {
      all.push_back(a);
    }
  }
  std::sort(all.begin(), all.end(),
            [](const TActivation* x, const TActivation* y) { return x->node_order_ > y->node_order_; });
  for (TActivation* a : all) {
    Forget(*a);
    rete_->Deactivate(*a);
  }
}

void TPatternMatchTerminalNode::StandDown(const TIEToken& token) {
  if (buckets_.empty()) {
    return;  // never activated
  }
  // The first activation in creation order whose token equals `token`.
  TActivation* first = nullptr;
  for (TActivation* a = BucketOf(token.IdentityHash()); a != nullptr; a = a->node_next_) {
    if ((first == nullptr || a->node_order_ < first->node_order_) &&
        static_cast<const TIEToken&>(a->Token()).SameAs(token)) {
      first = a;
    }
  }
  if (first != nullptr) {
    Forget(*first);
    rete_->Deactivate(*first);
  }
}

void TPatternMatchTerminalNode::PrefetchFiring(const TActivation& activation) const noexcept {
  const auto& token = static_cast<const TIEToken&>(activation.Token());
  token.PrefetchForFiring();
  if (!buckets_.empty()) {
    __builtin_prefetch(&buckets_[token.IdentityHash() & (buckets_.size() - 1)]);
  }
}

void TPatternMatchTerminalNode::RuleFired(TActivation& activation) {
  Forget(activation);
  rete_->RuleFired(activation);
}

void TPatternMatchTerminalNode::FastClear() {
  // The agenda may have freed the activations already: only the chains go.
  std::fill(buckets_.begin(), buckets_.end(), nullptr);
  count_ = 0;
}

std::size_t TPatternMatchTerminalNode::CheckActivations() const {
  const std::size_t buckets = buckets_.size();
  ZEPHRO_CHECK((buckets & (buckets - 1)) == 0,
               "terminal node: the bucket count is not a power of two");
  ZEPHRO_CHECK(count_ >= 0, "terminal node: a negative activation count");
  const auto counted = static_cast<std::size_t>(count_);
  std::size_t listed = 0;
  for (std::size_t b = 0; b < buckets; ++b) {
    for (const TActivation* a = buckets_[b]; a != nullptr; a = a->node_next_) {
      ZEPHRO_CHECK(listed < counted,
                   "terminal node: more activations listed than counted (or a chain runs in a "
                   "circle)");
      ZEPHRO_CHECK(a->node_ == this, "terminal node: lists an activation of another node");
      ZEPHRO_CHECK(a->node_order_ != 0 && a->node_order_ < next_order_,
                   "terminal node: a listed activation has no place in the node's creation order");
      ZEPHRO_CHECK((IdentityOf(*a) & (buckets - 1)) == b,
                   "terminal node: an activation is in the bucket of another identity");
      ++listed;
    }
  }
  ZEPHRO_CHECK(listed == counted,
               "terminal node: the activation count differs from the activations listed");
  return listed + buckets;
}

std::string TPatternMatchTerminalNode::ToString() const {
  return TReteNode::ToString() + " Rule: " + rule_->RuleName();
}

}  // namespace zephro
