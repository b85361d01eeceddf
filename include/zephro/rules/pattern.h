#pragma once

// Patterns and slot tests: what one conditional element of a rule matches.
//
// A TIEPattern names a template (or "test" for a test element), carries the
// negation count, the variable it is bound to (`?f <- (...)`) and, per slot of
// the template, the constraints written in that slot as TIEPatternMatchTest
// objects. TIEJoinTest compares a slot of the fact being matched with a slot of
// a fact already in the partial match; the matcher builds those.
//
// Ownership: a rule owns its patterns; a pattern owns its tests.
// Thread safety: none.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/facts/slot_position.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/messages.h"
#include "zephro/values/text.h"

namespace zephro {

class TIEPattern;
class TRule;

// The sense of a test; sttNotEquals is written `~`.
enum class TSlotTestType : std::uint8_t { sttEquals, sttNotEquals };
// Whether a join test compares whole slot values or positions in multislots.
enum class TJoinTestType : std::uint8_t { tstSlot, tstMultiSlot };

class TIEJoinTest;

class TIESlotTest {
 public:
  explicit TIESlotTest(TSlotTestType type = TSlotTestType::sttEquals) : test_type_(type) {}
  virtual ~TIESlotTest() = default;
  TIESlotTest& operator=(const TIESlotTest&) = delete;

  TSlotTestType TestType() const noexcept { return test_type_; }
  void SetTestType(TSlotTestType type) noexcept { test_type_ = type; }
  bool IsNegated() const noexcept { return test_type_ == TSlotTestType::sttNotEquals; }

  virtual std::unique_ptr<TIESlotTest> Clone() const = 0;
  virtual bool Equals(const TIESlotTest& other) const;
  // Decides the test in `context` (its current fact and token are set).
  virtual bool PerformTest(TIEContext& context) const = 0;
  // "=" or "<>".
  virtual std::string ToString() const;
  // The test as a join test, or null: decided without a dynamic cast.
  const TIEJoinTest* AsJoinTest() const noexcept;

 protected:
  TIESlotTest(const TIESlotTest&) = default;
  // For TIEJoinTest.
  TIESlotTest(TSlotTestType type, bool join) : test_type_(type), join_(join) {}

 private:
  TSlotTestType test_type_;
  bool join_ = false;
};

// A constraint written in a pattern slot: a constant, a variable, a multifield
// variable or a predicate call, with its sense, its position in a multislot
// (NoSubIndex for the whole slot) and whether it is joined to the previous
// test of the same field by `&` (Conjunction) or `|`.
class TIEPatternMatchTest final : public TIESlotTest {
 public:
  TIEPatternMatchTest(TSlotTestType type, std::int32_t sub_index, Ref<IIEValue> value,
                      bool conjunction = true);

  IIEValue* SlotValue() const noexcept { return slot_value_.get(); }
  // Stores a clone of `value`.
  void SetSlotValue(const IIEValue& value);
  // Stores `value` itself.
  void SetSlotValueShared(Ref<IIEValue> value);
  std::int32_t MultiSlotSubIndex() const noexcept { return sub_index_; }
  void SetMultiSlotSubIndex(std::int32_t index);
  bool Conjunction() const noexcept { return conjunction_; }
  void SetConjunction(bool conjunction);
  TIEPattern* Pattern() const noexcept { return pattern_; }
  void SetPattern(TIEPattern* pattern) noexcept { pattern_ = pattern; }

  bool IsVariable() const noexcept;
  bool IsMultiVariable() const noexcept;
  bool IsFunCall() const noexcept;

  std::unique_ptr<TIESlotTest> Clone() const override;
  bool Equals(const TIESlotTest& other) const override;
  bool Equals(bool negated, std::int32_t sub_index, const IIEValue& value) const;
  bool Equals(bool negated, bool conjunction, std::int32_t sub_index, const IIEValue& value) const;
  // Resolves the value in `context`; passes when the result is not FALSE
  // (sttEquals) or is FALSE (sttNotEquals).
  bool PerformTest(TIEContext& context) const override;
  // A call equivalent to this test applied to `variable`: (eq value variable)
  // or (neq value variable) for constants, the call itself or (not call).
  Ref<IFunCall> ConvertToFunCall(IReasoner& reasoner, const IIEValue& variable) const;

  // A program's rules hold many tests: their blocks are recycled, without
  // the allocator's header and rounding.
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size) noexcept;

 private:
  // The small fields first: they fill the base's tail, and a test is 32 bytes.
  bool conjunction_;
  std::int32_t sub_index_;
  Ref<IIEValue> slot_value_;
  TIEPattern* pattern_ = nullptr;  // not owned
};

// Compares slot RightSlotName (at RightSubIndex) of the fact being matched with
// slot LeftSlotName (at LeftSubIndex) of the partial match's fact TokenIdx.
class TIEJoinTest final : public TIESlotTest {
 public:
  // A whole-slot test (tstSlot).
  TIEJoinTest(TSlotTestType type, std::string_view left_slot, std::string_view right_slot,
              std::int32_t token_index);
  // A positional test (tstMultiSlot).
  TIEJoinTest(TSlotTestType type, std::string_view left_slot, std::int32_t left_sub_index,
              std::string_view right_slot, std::int32_t right_sub_index, std::int32_t token_index);

  TJoinTestType JoinTestType() const noexcept { return join_type_; }
  std::string_view LeftSlotName() const noexcept { return left_.slot.Name(); }
  std::string_view RightSlotName() const noexcept { return right_.slot.Name(); }
  std::int32_t LeftSubIndex() const noexcept { return left_.sub_index; }
  std::int32_t RightSubIndex() const noexcept { return right_.sub_index; }
  std::int32_t TokenIdx() const noexcept { return token_index_; }
  const TSlotPosition& LeftSlot() const noexcept { return left_.slot; }
  const TSlotPosition& RightSlot() const noexcept { return right_.slot; }
  // Whether a side is a fuzzy slot, whose values are equal by degree: such a
  // test cannot key a memory by hash.
  bool ByDegree() const noexcept { return by_degree_; }
  void SetByDegree(bool by_degree) noexcept { by_degree_ = by_degree; }

  // The value this test reads from `fact` on the left or right side (narrowed
  // to the side's position); null when the fact lacks it.
  IIEValue* LeftValue(const IFact& fact) const { return left_.Read(fact); }
  IIEValue* RightValue(const IFact& fact) const { return right_.Read(fact); }

  std::unique_ptr<TIESlotTest> Clone() const override;
  bool Equals(const TIESlotTest& other) const override;
  bool PerformTest(TIEContext& context) const override;
  // Decides the test for a partial match and the fact being matched.
  bool Test(const IReteToken& left, const IFact& right) const;
  std::string ToString() const override;

 private:
  // A slot, or one position of a multislot, of the facts on one side.
  struct SlotRef {
    TSlotPosition slot;
    std::int32_t sub_index;
    IIEValue* Read(const IFact& fact) const;
  };
  SlotRef left_;
  SlotRef right_;
  std::int32_t token_index_;
  TJoinTestType join_type_;
  bool by_degree_ = false;
};

inline const TIEJoinTest* TIESlotTest::AsJoinTest() const noexcept {
  return join_ ? static_cast<const TIEJoinTest*>(this) : nullptr;
}

// The tests of one slot, in order. Most slots have one test: it is kept in
// place, and only a second one makes an array (16 bytes either way).
class TSlotTests {
 public:
  using Item = std::unique_ptr<TIEPatternMatchTest>;

  TSlotTests() noexcept { new (&one_) Item(); }
  TSlotTests(TSlotTests&& other) noexcept { Take(other); }
  TSlotTests& operator=(TSlotTests&& other) noexcept {
    if (this != &other) {
      Release();
      Take(other);
    }
    return *this;
  }
  ~TSlotTests() { Release(); }

  std::size_t size() const noexcept { return size_ & ~kMany; }
  bool empty() const noexcept { return size() == 0; }
  Item* begin() noexcept { return Many() ? many_ : &one_; }
  Item* end() noexcept { return begin() + size(); }
  const Item* begin() const noexcept { return Many() ? many_ : &one_; }
  const Item* end() const noexcept { return begin() + size(); }
  Item& operator[](std::size_t index) noexcept { return begin()[index]; }
  const Item& operator[](std::size_t index) const noexcept { return begin()[index]; }
  const Item& front() const noexcept { return *begin(); }
  void push_back(Item item);
  void emplace_back(TIEPatternMatchTest* test) { push_back(Item(test)); }

 private:
  // Set in size_ once the tests live in an array of their own. The array
  // only grows: it holds 2 tests, then the power of two at or above the count.
  static constexpr std::uint32_t kMany = std::uint32_t{1} << 31;
  bool Many() const noexcept { return (size_ & kMany) != 0; }
  // Leaves `other` empty.
  void Take(TSlotTests& other) noexcept {
    size_ = std::exchange(other.size_, 0);
    if (Many()) {
      many_ = other.many_;
    } else {
      new (&one_) Item(std::move(other.one_));
      other.one_.~Item();
    }
    new (&other.one_) Item();
  }
  void Release() noexcept {
    if (Many()) {
      delete[] many_;
    } else {
      one_.~Item();
    }
  }

  union {
    Item one_;    // while there is at most one test
    Item* many_;  // beyond: from new[]
  };
  std::uint32_t size_ = 0;  // the count, and kMany
};

// One slot of a pattern: its name (shared with every pattern naming the
// slot), its tests in order and its length constraint (-1 for none; a
// multislot pattern of fixed length sets it).
struct TPatternSlot {
  TText name;
  // The length fills the tests' padding: a slot is 24 bytes.
  [[no_unique_address]] TSlotTests tests;
  std::int32_t length = -1;
};

// The slots of a pattern in one block sized to their count (a pattern has
// one for each slot of its template, and gains one only when its template
// did): the blocks of the usual counts are recycled, without the
// allocator's header and rounding.
class TPatternSlots {
 public:
  TPatternSlots() noexcept = default;
  TPatternSlots(TPatternSlots&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  TPatternSlots& operator=(TPatternSlots&&) = delete;
  ~TPatternSlots();

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  TPatternSlot* begin() noexcept { return data_; }
  TPatternSlot* end() noexcept { return data_ + size_; }
  const TPatternSlot* begin() const noexcept { return data_; }
  const TPatternSlot* end() const noexcept { return data_ + size_; }
  TPatternSlot& operator[](std::size_t index) noexcept { return data_[index]; }
  const TPatternSlot& operator[](std::size_t index) const noexcept { return data_[index]; }
  const TPatternSlot& front() const noexcept { return data_[0]; }
  // Room for `count` slots in all.
  void reserve(std::size_t count);
  void push_back(TPatternSlot slot);

 private:
  TPatternSlot* data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
};

class TPackedPatterns;
class TSlotLayout;

class TIEPattern {
 public:
  // A pattern on `fact_template` (null for a test element, named "test").
  TIEPattern(TRule* owner, std::string name, Ref<IFactTemplate> fact_template,
             std::int32_t negated_count = 0);
  TIEPattern(const TIEPattern& source);
  TIEPattern& operator=(const TIEPattern&) = delete;
  std::unique_ptr<TIEPattern> Clone() const { return std::make_unique<TIEPattern>(*this); }

  TRule* Owner() const noexcept { return owner_; }
  void SetOwner(TRule* owner) noexcept { owner_ = owner; }
  std::string_view Name() const noexcept { return name_.View(); }
  IFactTemplate* FactTemplate() const noexcept { return fact_template_.get(); }
  bool IsTest() const noexcept { return name_.View() == STestCE; }
  std::int32_t NegatedCount() const noexcept { return negated_count_; }
  void SetNegatedCount(std::int32_t count);
  // True when the negation count is odd: (not (not ...)) is positive.
  bool IsNegated() const noexcept { return (negated_count_ & 1) != 0; }
  const std::string& BoundName() const noexcept;
  // Raises "Cannot bind a negated pattern to a variable" for negated patterns.
  void SetBoundName(std::string_view name);
  bool Unique() const noexcept { return unique_; }
  void SetUnique(bool unique);
  bool Explicit() const noexcept { return explicit_; }
  void SetExplicit(bool on);
  const std::string& Comment() const noexcept;
  void SetComment(std::string_view comment);
  // Called by Change, outside updates.
  void SetOnChange(std::function<void(TIEPattern&)> handler);

  // Slots, in the template's (alphabetical) order; a test element has one
  // unnamed slot holding its call.
  int SlotCount() const noexcept { return static_cast<int>(slots_.size()); }
  const TPatternSlot& Slot(int index) const { return slots_[static_cast<std::size_t>(index)]; }
  TPatternSlot& Slot(int index) { return slots_[static_cast<std::size_t>(index)]; }
  int IndexOfSlotName(std::string_view name) const noexcept;
  std::int32_t SlotLength(int index) const { return Slot(index).length; }
  void SetSlotLength(int index, std::int32_t length);
  int SlotTestCount(int index) const { return static_cast<int>(Slot(index).tests.size()); }
  TIEPatternMatchTest& SlotTest(int index, int test) const {
    return *slots_[static_cast<std::size_t>(index)].tests[static_cast<std::size_t>(test)];
  }
  // Counted when asked: patterns are built a test at a time.
  int TestCount() const noexcept;
  int DisjunctionCount() const noexcept;

  // Appends a test to slot `slot_name`; raises "Fact Template is missing" or
  // "No such slot name: "%s"". A test element takes its call with an empty
  // slot name.
  TIEPatternMatchTest& AddTest(std::string_view slot_name, TSlotTestType type,
                               std::int32_t sub_index, Ref<IIEValue> value,
                               bool conjunction = true);
  TIEPatternMatchTest& AddTest(std::string_view slot_name,
                               std::unique_ptr<TIEPatternMatchTest> test);
  // The call of a test element, or null.
  IFunCall* TestCall() const;

  // Rewrites `|` disjunctions into one predicate call per field: each run of
  // tests on one field becomes a variable test plus (or (and ...) ...).
  // `generate` makes a fresh variable name from a prefix. A run that starts
  // with a variable not bound yet (by `bound`, which knows the earlier
  // patterns, nor earlier in this one) binds it to the field; a run that
  // starts with a bound one, as in `?a|?b`, tests it like any alternative.
  void FixTests(IReasoner& reasoner, const std::function<std::string(std::string_view)>& generate,
                const std::function<bool(std::string_view)>& bound = {});

  void BeginUpdate() noexcept { ++updating_; }
  void EndUpdate();
  // Tells the owner and fires OnChange unless inside an update.
  void Change();
  std::string ToString() const;

  // Blocks recycled, as for tests.
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size) noexcept;

 private:
  friend class TPackedPatterns;  // packs patterns and makes them again
  TIEPattern(TRule* owner, TText name, Ref<IFactTemplate> fact_template, std::int32_t negated_count,
             TPatternSlots slots);

  TRule* owner_;  // not owned
  TText name_;    // shared with the other patterns on the template
  Ref<IFactTemplate> fact_template_;
  std::int32_t negated_count_;
  // BeginUpdate nesting (a few levels deep at most); the flags fill the rest
  // of the word, and a pattern its 64-byte block.
  std::int16_t updating_ = 0;
  bool unique_ = false;
  bool explicit_ = false;
  // Set on few patterns: kept out of line so that a pattern stays small.
  struct Notes {
    std::string bound_name;
    std::string comment;
    std::function<void(TIEPattern&)> on_change;
  };
  std::unique_ptr<Notes> notes_;
  Notes& EnsureNotes();
  TPatternSlots slots_;
};

// The patterns of a compiled rule read from a program, packed into one block
// (a test in 16 bytes, a slot in 8, a pattern in 40) while nothing asks for
// them as objects: a program of ten thousand rules keeps its parsed
// conditions for printing and recompiling, and reads them rarely. A pattern
// whose slots are its template's, in order, keeps the template's slot
// layout of the time instead of a name per slot.
class TPackedPatterns {
 public:
  int PatternCount() const noexcept { return static_cast<int>(patterns_); }
  // True when some pattern is on `fact_template`.
  bool UsesTemplate(const IFactTemplate& fact_template) const noexcept;

  ~TPackedPatterns();
  TPackedPatterns(const TPackedPatterns&) = delete;
  TPackedPatterns& operator=(const TPackedPatterns&) = delete;
  static void operator delete(void* block) noexcept;

 private:
  // Only a rule packs and unpacks its own patterns, which it knows are whole.
  friend class TRule;
  // Packs `patterns`, which it empties, or answers null and leaves them:
  // a pattern that tells a handler of its changes, or is inside an update,
  // stays an object.
  static std::unique_ptr<TPackedPatterns> Pack(std::vector<std::unique_ptr<TIEPattern>>& patterns);
  // The patterns again, owned by `owner`, equal to those packed.
  std::vector<std::unique_ptr<TIEPattern>> Unpack(TRule* owner) const;

  struct Pattern {
    TText name;
    Ref<IFactTemplate> fact_template;
    Ref<const TSlotLayout> layout;             // naming the slots; null: the names follow
    std::unique_ptr<TIEPattern::Notes> notes;  // bound name and comment, when any
    std::int32_t negated_count;
    std::uint16_t slots;
    bool unique;
    bool is_explicit;
  };
  struct Slot {
    std::int32_t length;
    std::uint32_t tests;
  };
  struct Test {
    Ref<IIEValue> value;
    std::int32_t sub_index;
    TSlotTestType type;
    bool conjunction;
  };
  TPackedPatterns(std::uint32_t patterns, std::uint32_t slots, std::uint32_t tests,
                  std::uint32_t names) noexcept
      : patterns_(patterns), slots_(slots), tests_(tests), names_(names) {}
  // The four arrays follow the counts in the same block: the patterns, their
  // slots in order, the slots' tests in order, and the names of the slots
  // of the patterns without a layout.
  Pattern* Patterns() const noexcept;
  Slot* Slots() const noexcept;
  Test* Tests() const noexcept;
  TText* Names() const noexcept;

  std::uint32_t patterns_;
  std::uint32_t slots_;
  std::uint32_t tests_;
  std::uint32_t names_;
};

}  // namespace zephro
