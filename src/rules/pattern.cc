#include "zephro/rules/pattern.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <utility>

#include "zephro/facts/fact_template.h"
#include "zephro/functions/context.h"
#include "zephro/functions/function_call.h"
#include "zephro/rules/rule_printer.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"

#include "platform/block_recycler.h"

namespace zephro {

// A hook the rules subsystem provides: tells the owning rule that a pattern
// changed, and prints a pattern through the rule's engine.
void NotifyRulePatternChanged(TRule& rule, TIEPattern& pattern);

// --- slot tests ------------------------------------------------------------------------

bool TIESlotTest::Equals(const TIESlotTest& other) const {
  return typeid(*this) == typeid(other) && test_type_ == other.test_type_;
}

std::string TIESlotTest::ToString() const {
  return IsNegated() ? "<>" : "=";
}

TIEPatternMatchTest::TIEPatternMatchTest(TSlotTestType type, std::int32_t sub_index,
                                         Ref<IIEValue> value, bool conjunction)
    : TIESlotTest(type),
      conjunction_(conjunction),
      sub_index_(sub_index),
      slot_value_(std::move(value)) {}

void TIEPatternMatchTest::SetSlotValue(const IIEValue& value) {
  slot_value_ = value.Clone();
  if (pattern_ != nullptr) {
    pattern_->Change();
  }
}

void TIEPatternMatchTest::SetSlotValueShared(Ref<IIEValue> value) {
  slot_value_ = std::move(value);
  if (pattern_ != nullptr) {
    pattern_->Change();
  }
}

void TIEPatternMatchTest::SetMultiSlotSubIndex(std::int32_t index) {
  sub_index_ = index;
  if (pattern_ != nullptr) {
    pattern_->Change();
  }
}

void TIEPatternMatchTest::SetConjunction(bool conjunction) {
  conjunction_ = conjunction;
  if (pattern_ != nullptr) {
    pattern_->Change();
  }
}

bool TIEPatternMatchTest::IsVariable() const noexcept {
  return slot_value_ && slot_value_->DType() == TIEType::dtVariable;
}
bool TIEPatternMatchTest::IsMultiVariable() const noexcept {
  return slot_value_ && slot_value_->DType() == TIEType::dtMultiVariable;
}
bool TIEPatternMatchTest::IsFunCall() const noexcept {
  return slot_value_ && slot_value_->DType() == TIEType::dtFunCall;
}

std::unique_ptr<TIESlotTest> TIEPatternMatchTest::Clone() const {
  auto copy = std::make_unique<TIEPatternMatchTest>(
      TestType(), sub_index_, slot_value_ ? slot_value_->Clone() : nullptr, conjunction_);
  if (copy->IsFunCall()) {
    // A call is an expression tree: the copy gets its own.
    copy->slot_value_ = MakeRef<TIEValue>(slot_value_->AsFunCall()->Clone());
  }
  return copy;
}

namespace {

bool SameValue(const IIEValue* a, const IIEValue* b) {
  return a == b || (a != nullptr && a->Equals(b));
}

}  // namespace

bool TIEPatternMatchTest::Equals(const TIESlotTest& other) const {
  if (!TIESlotTest::Equals(other)) {
    return false;
  }
  const auto& o = static_cast<const TIEPatternMatchTest&>(other);
  return SameValue(slot_value_.get(), o.slot_value_.get()) && sub_index_ == o.sub_index_ &&
         conjunction_ == o.conjunction_;
}

bool TIEPatternMatchTest::Equals(bool negated, std::int32_t sub_index,
                                 const IIEValue& value) const {
  return negated == IsNegated() && sub_index == sub_index_ && SameValue(slot_value_.get(), &value);
}

bool TIEPatternMatchTest::Equals(bool negated, bool conjunction, std::int32_t sub_index,
                                 const IIEValue& value) const {
  return conjunction == conjunction_ && Equals(negated, sub_index, value);
}

bool TIEPatternMatchTest::PerformTest(TIEContext& context) const {
  // A predicate call is asked directly: comparisons decide without making a
  // result value.
  const bool holds = slot_value_->DType() == TIEType::dtFunCall
                         ? slot_value_->AsFunCall()->Holds(context)
                         : !slot_value_->Resolve(&context)->Equals(&FCFalse());
  return IsNegated() ? !holds : holds;
}

Ref<IFunCall> TIEPatternMatchTest::ConvertToFunCall(IReasoner& reasoner,
                                                    const IIEValue& variable) const {
  if (IsFunCall()) {
    Ref<IFunCall> call = slot_value_->AsFunCall()->Clone();
    if (!IsNegated()) {
      return call;
    }
    Ref<IFunCall> negation = MakeFunCall(reasoner, "not");
    negation->AddArgument(MakeRef<TIEValue>(std::move(call)));
    return negation;
  }
  Ref<IFunCall> compare = MakeFunCall(reasoner, IsNegated() ? "neq" : "eq");
  compare->AddArgument(slot_value_->Clone());
  compare->AddArgument(variable.Clone());
  return compare;
}

// --- join tests ---------------------------------------------------------------------------

TIEJoinTest::TIEJoinTest(TSlotTestType type, std::string_view left_slot,
                         std::string_view right_slot, std::int32_t token_index)
    : TIESlotTest(type, true),
      left_{TSlotPosition(left_slot), NoSubIndex},
      right_{TSlotPosition(right_slot), NoSubIndex},
      token_index_(token_index),
      join_type_(TJoinTestType::tstSlot) {}

TIEJoinTest::TIEJoinTest(TSlotTestType type, std::string_view left_slot,
                         std::int32_t left_sub_index, std::string_view right_slot,
                         std::int32_t right_sub_index, std::int32_t token_index)
    : TIESlotTest(type, true),
      left_{TSlotPosition(left_slot), left_sub_index},
      right_{TSlotPosition(right_slot), right_sub_index},
      token_index_(token_index),
      join_type_(TJoinTestType::tstMultiSlot) {}

IIEValue* TIEJoinTest::SlotRef::Read(const IFact& fact) const {
  IIEValue* value = slot.Read(fact);
  if (sub_index == NoSubIndex || value == nullptr) {
    return value;
  }
  if (value->DType() != TIEType::dtList) {
    return nullptr;
  }
  IValueVector* list = value->AsList();
  if (list == nullptr || sub_index < 0 || sub_index >= list->ValueCount()) {
    return nullptr;
  }
  return list->Get(sub_index);
}

std::unique_ptr<TIESlotTest> TIEJoinTest::Clone() const {
  std::unique_ptr<TIEJoinTest> copy =
      join_type_ == TJoinTestType::tstSlot
          ? std::make_unique<TIEJoinTest>(TestType(), left_.slot.Name(), right_.slot.Name(),
                                          token_index_)
          : std::make_unique<TIEJoinTest>(TestType(), left_.slot.Name(), left_.sub_index,
                                          right_.slot.Name(), right_.sub_index, token_index_);
  copy->by_degree_ = by_degree_;
  return copy;
}

bool TIEJoinTest::Equals(const TIESlotTest& other) const {
  if (!TIESlotTest::Equals(other)) {
    return false;
  }
  const auto& o = static_cast<const TIEJoinTest&>(other);
  return join_type_ == o.join_type_ && left_.slot.Name() == o.left_.slot.Name() &&
         right_.slot.Name() == o.right_.slot.Name() && left_.sub_index == o.left_.sub_index &&
         right_.sub_index == o.right_.sub_index && token_index_ == o.token_index_;
}

bool TIEJoinTest::Test(const IReteToken& left, const IFact& right) const {
  const IFact* left_fact = left.GetFacts(token_index_);
  if (left_fact == nullptr) {
    if (join_type_ == TJoinTestType::tstMultiSlot) {
      return true;  // nothing to compare with: the test does not apply
    }
    return false;
  }
  const IIEValue* a = left_.Read(*left_fact);
  const IIEValue* b = right_.Read(right);
  bool equal = a != nullptr && b != nullptr && a->Equals(b);
  return IsNegated() ? !equal : equal;
}

bool TIEJoinTest::PerformTest(TIEContext& context) const {
  const IReteToken* token = context.Token();
  const IFact* fact = context.Fact();
  if (token == nullptr || fact == nullptr) {
    return false;
  }
  return Test(*token, *fact);
}

std::string TIEJoinTest::ToString() const {
  std::string text = join_type_ == TJoinTestType::tstSlot ? "tstSlot " : "tstMultiSlot ";
  text += TIESlotTest::ToString();
  text += " TokenIdx: " + std::to_string(token_index_);
  text += " Left: ";
  text += left_.slot.Name();
  if (join_type_ == TJoinTestType::tstMultiSlot) {
    text += " " + std::to_string(left_.sub_index);
  }
  text += " Right: ";
  text += right_.slot.Name();
  if (join_type_ == TJoinTestType::tstMultiSlot) {
    text += " " + std::to_string(right_.sub_index);
  }
  return text;
}

// --- patterns -------------------------------------------------------------------------------

void TSlotTests::push_back(Item item) {
  const std::uint32_t n = size_ & ~kMany;
  if (n == 0) {
    one_ = std::move(item);
    size_ = 1;
    return;
  }
  if (n >= kMany - 1) {
    throw std::length_error("too many tests in one slot");
  }
  if (!Many() || (n >= 2 && std::has_single_bit(n))) {
    // Full: the single test in place, or an array of n.
    auto* grown = new Item[std::max<std::uint32_t>(2, n * 2)];
    std::move(begin(), end(), grown);
    Release();
    many_ = grown;
    size_ = n | kMany;
  }
  many_[n] = std::move(item);
  ++size_;
}

namespace {

// Blocks of 1 to kRecycledSlots slots come from recyclers of their size.
constexpr std::size_t kRecycledSlots = 8;

template <std::size_t... K>
constexpr auto SlotBlockAllocators(std::index_sequence<K...>) {
  return std::array<void* (*)(std::size_t), sizeof...(K)>{
      &TBlockRecycler<TPatternSlots, sizeof(TPatternSlot) * (K + 1)>::Allocate...};
}

template <std::size_t... K>
constexpr auto SlotBlockReleasers(std::index_sequence<K...>) {
  return std::array<void (*)(void*, std::size_t) noexcept, sizeof...(K)>{
      &TBlockRecycler<TPatternSlots, sizeof(TPatternSlot) * (K + 1)>::Free...};
}

TPatternSlot* AllocateSlots(std::uint32_t capacity) {
  static constexpr auto kAllocators =
      SlotBlockAllocators(std::make_index_sequence<kRecycledSlots>());
  const std::size_t bytes = sizeof(TPatternSlot) * capacity;
  void* block =
      capacity <= kRecycledSlots ? kAllocators[capacity - 1](bytes) : ::operator new(bytes);
  return static_cast<TPatternSlot*>(block);
}

void FreeSlots(TPatternSlot* slots, std::uint32_t capacity) noexcept {
  static constexpr auto kReleasers = SlotBlockReleasers(std::make_index_sequence<kRecycledSlots>());
  if (capacity == 0) {
    return;
  }
  if (capacity <= kRecycledSlots) {
    kReleasers[capacity - 1](slots, sizeof(TPatternSlot) * capacity);
  } else {
    ::operator delete(slots);
  }
}

}  // namespace

TPatternSlots::~TPatternSlots() {
  std::destroy(begin(), end());
  FreeSlots(data_, capacity_);
}

void TPatternSlots::reserve(std::size_t count) {
  if (count <= capacity_) {
    return;
  }
  if (count > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("too many slots in one pattern");
  }
  const auto capacity = static_cast<std::uint32_t>(count);
  TPatternSlot* grown = AllocateSlots(capacity);
  std::uninitialized_move(begin(), end(), grown);
  std::destroy(begin(), end());
  FreeSlots(data_, capacity_);
  data_ = grown;
  capacity_ = capacity;
}

void TPatternSlots::push_back(TPatternSlot slot) {
  if (size_ == capacity_) {
    // One more at a time while the blocks are recycled, then doubling.
    reserve(size_ < kRecycledSlots ? std::size_t{size_} + 1 : std::size_t{size_} * 2);
  }
  new (data_ + size_) TPatternSlot(std::move(slot));
  ++size_;
}

void* TIEPatternMatchTest::operator new(std::size_t size) {
  return TBlockRecycler<TIEPatternMatchTest, sizeof(TIEPatternMatchTest)>::Allocate(size);
}

void TIEPatternMatchTest::operator delete(void* block, std::size_t size) noexcept {
  TBlockRecycler<TIEPatternMatchTest, sizeof(TIEPatternMatchTest)>::Free(block, size);
}

void* TIEPattern::operator new(std::size_t size) {
  return TBlockRecycler<TIEPattern, sizeof(TIEPattern)>::Allocate(size);
}

void TIEPattern::operator delete(void* block, std::size_t size) noexcept {
  TBlockRecycler<TIEPattern, sizeof(TIEPattern)>::Free(block, size);
}

TIEPattern::TIEPattern(TRule* owner, std::string name, Ref<IFactTemplate> fact_template,
                       std::int32_t negated_count)
    : owner_(owner),
      name_(TText::Shared(name)),
      fact_template_(std::move(fact_template)),
      negated_count_(negated_count) {
  if (fact_template_) {
    slots_.reserve(fact_template_->SlotNames().size());
    for (const std::string& slot : fact_template_->SlotNames()) {
      slots_.push_back(TPatternSlot{TText::Shared(slot), {}, -1});
    }
  } else {
    slots_.push_back(TPatternSlot{TText(), {}, -1});
  }
}

TIEPattern::TIEPattern(TRule* owner, TText name, Ref<IFactTemplate> fact_template,
                       std::int32_t negated_count, TPatternSlots slots)
    : owner_(owner),
      name_(std::move(name)),
      fact_template_(std::move(fact_template)),
      negated_count_(negated_count),
      slots_(std::move(slots)) {}

TIEPattern::TIEPattern(const TIEPattern& source)
    : owner_(source.owner_),
      name_(source.name_),
      fact_template_(source.fact_template_),
      negated_count_(source.negated_count_),
      unique_(source.unique_),
      explicit_(source.explicit_),
      notes_(source.notes_ ? std::make_unique<Notes>(*source.notes_) : nullptr) {
  if (notes_) {
    notes_->on_change = nullptr;  // the handler belongs to the source
  }
  slots_.reserve(source.slots_.size());
  for (const TPatternSlot& s : source.slots_) {
    TPatternSlot copy{s.name, {}, s.length};
    for (const auto& t : s.tests) {
      std::unique_ptr<TIESlotTest> c = t->Clone();
      auto* test = static_cast<TIEPatternMatchTest*>(c.release());
      test->SetPattern(this);
      copy.tests.emplace_back(test);
    }
    slots_.push_back(std::move(copy));
  }
}

void TIEPattern::SetNegatedCount(std::int32_t count) {
  if (count != negated_count_) {
    negated_count_ = count;
    Change();
  }
}

void TIEPattern::SetBoundName(std::string_view name) {
  if (!name.empty() && (negated_count_ > 0 || IsTest())) {
    RaiseIEPlain(SInvalidPatternBinding);
  }
  if (name != BoundName()) {
    EnsureNotes().bound_name = name;
    Change();
  }
}

namespace {

const std::string& NoText() noexcept {
  static const std::string empty;
  return empty;
}

}  // namespace

const std::string& TIEPattern::BoundName() const noexcept {
  return notes_ ? notes_->bound_name : NoText();
}

const std::string& TIEPattern::Comment() const noexcept {
  return notes_ ? notes_->comment : NoText();
}

void TIEPattern::SetComment(std::string_view comment) {
  if (comment.empty() && !notes_) {
    return;
  }
  EnsureNotes().comment = comment;
}

void TIEPattern::SetOnChange(std::function<void(TIEPattern&)> handler) {
  if (handler || notes_) {
    EnsureNotes().on_change = std::move(handler);
  }
}

TIEPattern::Notes& TIEPattern::EnsureNotes() {
  if (!notes_) {
    notes_ = std::make_unique<Notes>();
  }
  return *notes_;
}

void TIEPattern::SetUnique(bool unique) {
  if (unique != unique_) {
    unique_ = unique;
    Change();
  }
}

void TIEPattern::SetExplicit(bool on) {
  if (on != explicit_) {
    explicit_ = on;
    Change();
  }
}

int TIEPattern::IndexOfSlotName(std::string_view name) const noexcept {
  // The slots are usually the template's, in its order: its index answers
  // without a walk, which for a wide template would cost as much as the
  // slots are many, for each test.
  if (fact_template_) {
    const int i = fact_template_->SlotIndex(name);
    if (i >= 0 && static_cast<std::size_t>(i) < slots_.size() &&
        slots_[static_cast<std::size_t>(i)].name.View() == name) {
      return i;
    }
  }
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].name.View() == name) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void TIEPattern::SetSlotLength(int index, std::int32_t length) {
  if (Slot(index).length != length) {
    Slot(index).length = length;
    Change();
  }
}

TIEPatternMatchTest& TIEPattern::AddTest(std::string_view slot_name, TSlotTestType type,
                                         std::int32_t sub_index, Ref<IIEValue> value,
                                         bool conjunction) {
  return AddTest(slot_name, std::make_unique<TIEPatternMatchTest>(type, sub_index, std::move(value),
                                                                  conjunction));
}

TIEPatternMatchTest& TIEPattern::AddTest(std::string_view slot_name,
                                         std::unique_ptr<TIEPatternMatchTest> test) {
  int index = IndexOfSlotName(slot_name);
  if (index < 0) {
    if (!fact_template_ && !IsTest()) {
      RaiseIEPlain(SNoTemplate);
    }
    if (!fact_template_ || !fact_template_->ContainsSlot(slot_name)) {
      RaiseIE(SInvalidSlotName, std::string(slot_name).c_str());
    }
    slots_.push_back(TPatternSlot{TText::Shared(slot_name), {}, -1});
    index = static_cast<int>(slots_.size()) - 1;
  }
  test->SetPattern(this);
  TIEPatternMatchTest& stored = *test;
  Slot(index).tests.push_back(std::move(test));
  Change();
  return stored;
}

IFunCall* TIEPattern::TestCall() const {
  if (!IsTest() || slots_.empty() || slots_.front().tests.empty()) {
    return nullptr;
  }
  IIEValue* v = slots_.front().tests.front()->SlotValue();
  return v != nullptr && v->DType() == TIEType::dtFunCall ? v->AsFunCall() : nullptr;
}

int TIEPattern::TestCount() const noexcept {
  int count = 0;
  for (const TPatternSlot& s : slots_) {
    count += static_cast<int>(s.tests.size());
  }
  return count;
}

int TIEPattern::DisjunctionCount() const noexcept {
  int count = 0;
  for (const TPatternSlot& s : slots_) {
    for (const auto& t : s.tests) {
      count += t->Conjunction() ? 0 : 1;
    }
  }
  return count;
}

void TIEPattern::FixTests(IReasoner& reasoner,
                          const std::function<std::string(std::string_view)>& generate,
                          const std::function<bool(std::string_view)>& bound) {
  if (DisjunctionCount() == 0) {
    return;
  }
  BeginUpdate();
  // The variables this pattern binds before the field being rewritten.
  std::vector<std::string_view> bound_here;
  auto is_bound = [&](std::string_view name) {
    return std::find(bound_here.begin(), bound_here.end(), name) != bound_here.end() ||
           (bound && bound(name));
  };
  for (TPatternSlot& slot : slots_) {
    TSlotTests emitted;
    auto& tests = slot.tests;
    std::size_t i = 0;
    while (i < tests.size()) {
      // One run: the tests of one field (equal sub-index).
      std::size_t end = i;
      const std::int32_t sub = tests[i]->MultiSlotSubIndex();
      bool disjunctive = false;
      while (end < tests.size() && tests[end]->MultiSlotSubIndex() == sub) {
        disjunctive = disjunctive || !tests[end]->Conjunction();
        ++end;
      }
      if (!disjunctive) {
        for (; i < end; ++i) {
          if (tests[i]->IsVariable() && !tests[i]->IsNegated()) {
            bound_here.push_back(tests[i]->SlotValue()->Text());
          }
          emitted.push_back(std::move(tests[i]));
        }
        continue;
      }
      // The run's variable: its first test when that is a plain variable test
      // of a variable not bound yet, else a fresh one.
      Ref<IIEValue> variable;
      if (tests[i]->IsVariable() && !tests[i]->IsNegated() &&
          !is_bound(tests[i]->SlotValue()->Text())) {
        variable = Ref<IIEValue>(tests[i]->SlotValue());
        bound_here.push_back(variable->Text());
        ++i;
      } else {
        variable = MakeRef<TIEValue>(generate(SBlankPrefix), TIEType::dtVariable);
      }
      emitted.push_back(
          std::make_unique<TIEPatternMatchTest>(TSlotTestType::sttEquals, sub, variable));
      // Cut the rest of the run into and-chains joined by `|`.
      Ref<IFunCall> any = MakeFunCall(reasoner, "or");
      while (i < end) {
        std::size_t chain_end = i + 1;
        while (chain_end < end && tests[chain_end]->Conjunction()) {
          ++chain_end;
        }
        if (chain_end - i == 1) {
          any->AddArgument(MakeRef<TIEValue>(tests[i]->ConvertToFunCall(reasoner, *variable)));
        } else {
          Ref<IFunCall> all = MakeFunCall(reasoner, "and");
          for (std::size_t k = i; k < chain_end; ++k) {
            all->AddArgument(MakeRef<TIEValue>(tests[k]->ConvertToFunCall(reasoner, *variable)));
          }
          any->AddArgument(MakeRef<TIEValue>(std::move(all)));
        }
        i = chain_end;
      }
      emitted.push_back(std::make_unique<TIEPatternMatchTest>(TSlotTestType::sttEquals, sub,
                                                              MakeRef<TIEValue>(std::move(any))));
    }
    for (auto& t : emitted) {
      t->SetPattern(this);
    }
    tests = std::move(emitted);
  }
  EndUpdate();
}

void TIEPattern::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0) {
    Change();
  }
}

void TIEPattern::Change() {
  if (updating_ > 0) {
    return;
  }
  if (owner_ != nullptr) {
    NotifyRulePatternChanged(*owner_, *this);
  }
  if (notes_ && notes_->on_change) {
    notes_->on_change(*this);
  }
}

std::string TIEPattern::ToString() const {
  return PrettyPrintPattern(*this);
}

}  // namespace zephro
