#pragma once

// The tests of a join or test element, prepared for the matcher's inner loop.
//
// Nearly every test a rule puts on a join is one of two shapes: a slot of the
// arriving fact equal (or not) to a slot of a fact matched before, or two
// numbers weighed by one of the comparison functions ((< ?o ?id), (> ?l 0),
// (= ?id (- ?c 1))), each a constant, a matched slot, or a sum, difference or
// product of such. TTestProgram decides those by reading the slot values in
// place: no evaluation context, no argument resolution, the slot's position
// remembered per layout. Whatever it cannot decide that way (another test, a
// value that is not a number, a fact or value of a foreign class, a call now
// bound to another function, an integer result beyond 32 bits, a float
// overflow) it leaves to the test itself, which also reports errors; so a
// test decided here gets the verdict the test would give.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "zephro/functions/function_call.h"
#include "zephro/functions/user_function.h"
#include "zephro/rules/pattern.h"

#include "rules/slot_reader.h"
#include "rules/token.h"
#include "zephro/values/value.h"

namespace zephro {

class TTestProgram {
 public:
  enum class TVerdict : std::uint8_t { vFail, vPass, vAsk };

  // Prepares the steps of `tests` (the node keeps them; they must outlive
  // the program and stay in this order).
  void Compile(std::span<TIESlotTest* const> tests);
  // Forgets the steps; the next Compile prepares them again.
  void Reset() noexcept { steps_.reset(); }
  bool Compiled() const noexcept { return steps_ != nullptr; }

  // Test `i` for partial match `left` and arriving fact `right` (null or the
  // null fact for a test element): vAsk when the test itself must decide.
  TVerdict Decide(std::size_t i, const TIEToken& left, const IFact* right) {
    TStep& step = steps_[i];
    switch (step.kind) {
      case TKind::kGeneral:
        return TVerdict::vAsk;
      case TKind::kSameValue:
        return SameValue(step, left, right);
      case TKind::kNumbers:
        return Numbers(step, left, right);
      case TKind::kSlotNumbers:
        return SlotNumbers(step, left, right);
      case TKind::kEquality:
        return Equality(step, left, right);
    }
    return TVerdict::vAsk;
  }
  // Whether test `i`, as prepared, takes its verdict from the values of the
  // facts it reads alone: a slot compared with a slot (by the join itself,
  // or by calls still bound to eq, neq and or), or numbers weighed by a call
  // still bound to a comparison, on operands whose arithmetic is still bound
  // to arithmetic. Such a verdict stands as long as the facts do.
  bool DecidesFromValues(std::size_t i);

 private:
  // kSlotNumbers: kNumbers with two slot operands, the commonest numeric
  // test ((< ?o ?id)), read without the operand dispatch. kEquality: a slot
  // equal, or not, to another ((eq ?p ?k), (neq ?p ?k)), or to one of several
  // ((or (eq ?p ?k) (eq ?q ?k)), as ?k&?p|?q reads).
  enum class TKind : std::uint8_t { kGeneral, kSameValue, kNumbers, kSlotNumbers, kEquality };
  // Which fact an operand reads.
  enum class TFrom : std::uint8_t {
    kConstant,  // none: `number` is the operand
    kToken,     // the partial match's fact at `fact_index`
    kRight,     // the arriving fact
    kMatch,     // as a variable of the rule: the partial match's fact at
                // `fact_index` when it has one, else the arriving fact
    kCall,      // an arithmetic call on the operands in `args`
  };
  // A call and the function it runs now, with what the function is learnt
  // from the call once it is bound, and again whenever it runs another one.
  struct TBoundCall {
    const TFunctionCall* call = nullptr;
    const IUserFunction* function = nullptr;
    TNumberRelation relation = TNumberRelation::nrNone;
    TNumberOperation operation = TNumberOperation::noNone;
    TLogicalForm form = TLogicalForm::lfNone;
    // False when the call is not bound yet or runs a function of another
    // kind: only the call itself can say then.
    bool Refresh() {
      const IUserFunction* now = call->CurrentFunction();
      if (now != function) [[unlikely]] {
        Learn(now);
      }
      return function != nullptr;
    }
    // Takes `now` as the function the call runs.
    void Learn(const IUserFunction* now);
  };
  struct TOperand {
    TFrom from = TFrom::kConstant;
    std::int32_t fact_index = 0;
    std::int32_t sub_index = NoSubIndex;
    const TSlotPosition* slot = nullptr;  // owned by the test
    TSlotCache cache;
    double number = 0;  // a constant
    bool is_float = false;
    TBoundCall arithmetic;
    std::vector<TOperand> args;
  };
  struct TStep {
    TKind kind = TKind::kGeneral;
    bool negated = false;
    TBoundCall comparison;  // for kEquality, the `or` (no call when alone)
    TOperand a;
    TOperand b;
    // kEquality: the `eq` or `neq` calls, each in `comparison`, on operands
    // a and b.
    std::vector<TStep> alternatives;
  };

  static TStep CompileJoinTest(const TIEJoinTest& test);
  static TStep CompileCall(const TIEPatternMatchTest& test);
  // kEquality when `call_value` is a call on two slots (eq or neq, as the
  // run finds), or an `or` of such calls.
  static bool CompileEquality(const IIEValue& call_value, TStep& step);
  // A call on two slots: its step (the call and the slots), or false.
  static bool CompileSlotPair(const IIEValue& call_value, TStep& pair);
  // Operands: constant numbers, slots bound by the rule, and +, - or * of
  // two such (nested `depth` deep at most).
  static bool CompileArgument(const IIEValue& argument, TOperand& operand, int depth = 0);
  // The two arguments of a call, or false.
  static bool CompileArguments(const IIEValue& call_value, TOperand& a, TOperand& b,
                               const TFunctionCall*& call, int depth);

  // Whether `operand` is a constant, a slot, or arithmetic still bound to
  // arithmetic on such.
  static bool ComputesFromValues(TOperand& operand);
  static const IFact* FactOf(const TOperand& operand, const TIEToken& left, const IFact* right);
  // The operand's value, or null when only the test can say.
  static const IIEValue* Read(TOperand& operand, const IFact* fact) {
    return fact != nullptr ? ReadSlot(*operand.slot, operand.sub_index, operand.cache, *fact)
                           : nullptr;
  }
  // The operand's number and whether it is a float; false when only the
  // call can say (not a number, an arithmetic error, a result beyond 32 bits).
  static bool ReadNumber(TOperand& operand, const TIEToken& left, const IFact* right,
                         double& number, bool& is_float);
  static bool Calculate(TOperand& operand, const TIEToken& left, const IFact* right, double& number,
                        bool& is_float);
  // Equals, decided in place for two values of one plain kind.
  static bool SameValueOf(const IIEValue& a, const IIEValue& b);
  // Inline, as SlotNumbers: the commonest tests, run once per candidate of
  // most probes.
  static TVerdict SameValue(TStep& step, const TIEToken& left, const IFact* right);
  static TVerdict Numbers(TStep& step, const TIEToken& left, const IFact* right);
  // A slot operand's value when it is the engine's own, else null.
  static const TIEValue* OwnValue(TOperand& operand, const TIEToken& left, const IFact* right);
  static TVerdict SlotNumbers(TStep& step, const TIEToken& left, const IFact* right);
  static TVerdict Equality(TStep& step, const TIEToken& left, const IFact* right);
  // Whether a kEquality step's `or` (when it has one), and each of its
  // alternatives' calls, still run or, and eq or neq.
  static bool StillAnyOf(TStep& step) {
    return step.comparison.call == nullptr ||
           (step.comparison.Refresh() && step.comparison.form == TLogicalForm::lfAnyTrue);
  }
  static bool StillEquality(TBoundCall& call) {
    return call.Refresh() &&
           (call.form == TLogicalForm::lfAllEqual || call.form == TLogicalForm::lfNoneEqual);
  }
  // Whether `a` and `b` stand in `relation` (not nrNone).
  template <typename T>
  static bool Holds(TNumberRelation relation, T a, T b);

  // One step per test; null until compiled. Most joins never run a test,
  // and a pointer is all they pay.
  std::unique_ptr<TStep[]> steps_;
};

inline bool TTestProgram::SameValueOf(const IIEValue& a, const IIEValue& b) {
  if (&a == &b && a.DType() != TIEType::dtFloat) {
    return true;  // a constant the program wrote in both places (a NaN is not itself)
  }
  const TIEValue* x = TIEValue::Exactly(a);
  const TIEValue* y = TIEValue::Exactly(b);
  if (x != nullptr && y != nullptr && x->DType() == y->DType()) {
    switch (x->DType()) {
      case TIEType::dtInteger:
      case TIEType::dtFactId:
      case TIEType::dtDescriptor:
        return x->IntegerDatum() == y->IntegerDatum();
      case TIEType::dtFloat:
        return x->FloatDatum() == y->FloatDatum();
      case TIEType::dtAtom:
      case TIEType::dtString:
        return x->TextDatum() == y->TextDatum();
      default:
        break;
    }
  }
  return a.Equals(&b);
}

inline TTestProgram::TVerdict TTestProgram::SameValue(TStep& step, const TIEToken& left,
                                                      const IFact* right) {
  // A join test reads the partial match's fact and the arriving one.
  const IIEValue* a = Read(step.a, left.FactAt(step.a.fact_index));
  const IIEValue* b = a != nullptr ? Read(step.b, right) : nullptr;
  if (b == nullptr) {
    return TVerdict::vAsk;
  }
  return SameValueOf(*a, *b) != step.negated ? TVerdict::vPass : TVerdict::vFail;
}

template <typename T>
bool TTestProgram::Holds(TNumberRelation relation, T a, T b) {
  switch (relation) {
    case TNumberRelation::nrLess:
      return a < b;
    case TNumberRelation::nrLessOrEqual:
      return a <= b;
    case TNumberRelation::nrGreater:
      return a > b;
    case TNumberRelation::nrGreaterOrEqual:
      return a >= b;
    case TNumberRelation::nrEqual:
      return a == b;
    case TNumberRelation::nrNotEqual:
      return a != b;
    case TNumberRelation::nrNone:
      break;
  }
  return false;
}

inline const IFact* TTestProgram::FactOf(const TOperand& operand, const TIEToken& left,
                                         const IFact* right) {
  // Tested in the order of their frequency: a jump table costs more here.
  if (operand.from == TFrom::kMatch) {
    return operand.fact_index < left.Count() ? left.FactAt(operand.fact_index) : right;
  }
  if (operand.from == TFrom::kToken) {
    return left.FactAt(operand.fact_index);
  }
  return operand.from == TFrom::kRight ? right : nullptr;
}

inline const TIEValue* TTestProgram::OwnValue(TOperand& operand, const TIEToken& left,
                                               const IFact* right) {
  const IIEValue* value = Read(operand, FactOf(operand, left, right));
  return value != nullptr ? TIEValue::Exactly(*value) : nullptr;
}

inline TTestProgram::TVerdict TTestProgram::SlotNumbers(TStep& step, const TIEToken& left,
                                                        const IFact* right) {
  if (!step.comparison.Refresh() || step.comparison.relation == TNumberRelation::nrNone) {
    return TVerdict::vAsk;
  }
  const TIEValue* x = OwnValue(step.a, left, right);
  const TIEValue* y = x != nullptr ? OwnValue(step.b, left, right) : nullptr;
  if (y == nullptr) {
    return TVerdict::vAsk;
  }
  bool holds = false;
  // Integers compare as they are (as doubles they would compare alike).
  if (x->DType() == TIEType::dtInteger && y->DType() == TIEType::dtInteger) {
    holds = Holds(step.comparison.relation, x->IntegerDatum(), y->IntegerDatum());
  } else {
    double a = 0;
    double b = 0;
    if (!x->ReadNumber(a) || !y->ReadNumber(b)) {
      return TVerdict::vAsk;
    }
    holds = Holds(step.comparison.relation, a, b);
  }
  return holds != step.negated ? TVerdict::vPass : TVerdict::vFail;
}

}  // namespace zephro
