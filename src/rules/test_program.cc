#include "rules/test_program.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <string_view>

#include "zephro/facts/fact.h"
#include "zephro/functions/context.h"
#include "zephro/values/value.h"

#include "rules/token.h"
#include "values/value_internal.h"

namespace zephro {

void TTestProgram::Compile(std::span<TIESlotTest* const> tests) {
  auto steps = std::make_unique<TStep[]>(tests.size());
  for (std::size_t i = 0; i < tests.size(); ++i) {
    if (const TIEJoinTest* join = tests[i]->AsJoinTest()) {
      steps[i] = CompileJoinTest(*join);
    } else if (const auto* call = dynamic_cast<const TIEPatternMatchTest*>(tests[i])) {
      steps[i] = CompileCall(*call);
    }
  }
  steps_ = std::move(steps);
}

TTestProgram::TStep TTestProgram::CompileJoinTest(const TIEJoinTest& test) {
  TStep step;
  step.kind = TKind::kSameValue;
  step.negated = test.IsNegated();
  step.a.from = TFrom::kToken;
  step.a.fact_index = test.TokenIdx();
  step.a.slot = &test.LeftSlot();
  step.a.sub_index = test.LeftSubIndex();
  step.b.from = TFrom::kRight;
  step.b.slot = &test.RightSlot();
  step.b.sub_index = test.RightSubIndex();
  return step;
}

TTestProgram::TStep TTestProgram::CompileCall(const TIEPatternMatchTest& test) {
  TStep step;
  const IIEValue* value = test.SlotValue();
  if (value != nullptr && CompileEquality(*value, step)) {
    step.negated = test.IsNegated();
    return step;
  }
  if (value == nullptr || !CompileArguments(*value, step.a, step.b, step.comparison.call, 0)) {
    return step;
  }
  const auto is_slot = [](const TOperand& operand) {
    return operand.from != TFrom::kConstant && operand.from != TFrom::kCall;
  };
  step.kind = is_slot(step.a) && is_slot(step.b) ? TKind::kSlotNumbers : TKind::kNumbers;
  step.negated = test.IsNegated();
  return step;
}

namespace {

// The call `value` holds when it is one of the engine's, written with one
// of `names`; else null.
const TFunctionCall* CallNamed(const IIEValue& value, std::initializer_list<std::string_view> names) {
  const auto* call = value.DType() == TIEType::dtFunCall
                         ? dynamic_cast<const TFunctionCall*>(value.AsFunCall())
                         : nullptr;
  if (call == nullptr ||
      std::find(names.begin(), names.end(), std::string_view(call->Name())) == names.end()) {
    return nullptr;
  }
  return call;
}

}  // namespace

bool TTestProgram::CompileSlotPair(const IIEValue& call_value, TStep& pair) {
  // The names the patterns write for a field's (in)equalities, which keep
  // comparisons such as (< ?a ?b) to their own kind.
  const TFunctionCall* call = CallNamed(call_value, {"eq", "neq"});
  if (call == nullptr || call->ArgumentCount() != 2 ||
      !CompileArgument(*call->Argument(0), pair.a, 0) ||
      !CompileArgument(*call->Argument(1), pair.b, 0) || pair.a.from != TFrom::kMatch ||
      pair.b.from != TFrom::kMatch) {
    return false;
  }
  pair.comparison.call = call;
  return true;
}

bool TTestProgram::CompileEquality(const IIEValue& call_value, TStep& step) {
  // Which functions the calls run is learnt when they are decided: here
  // only their shape counts.
  TStep alone;
  if (CompileSlotPair(call_value, alone)) {
    step.kind = TKind::kEquality;
    step.alternatives.push_back(std::move(alone));
    return true;
  }
  const TFunctionCall* any = CallNamed(call_value, {"or"});
  if (any == nullptr || any->ArgumentCount() == 0) {
    return false;
  }
  std::vector<TStep> alternatives(static_cast<std::size_t>(any->ArgumentCount()));
  for (int i = 0; i < any->ArgumentCount(); ++i) {
    if (!CompileSlotPair(*any->Argument(i), alternatives[static_cast<std::size_t>(i)])) {
      return false;
    }
  }
  step.kind = TKind::kEquality;
  step.comparison.call = any;
  step.alternatives = std::move(alternatives);
  return true;
}

TTestProgram::TVerdict TTestProgram::Equality(TStep& step, const TIEToken& left,
                                              const IFact* right) {
  if (!StillAnyOf(step)) {
    return TVerdict::vAsk;
  }
  // Each call runs in turn, as `or` would run them: the first that holds
  // decides, and one that cannot be read leaves the whole test to the call.
  for (TStep& alternative : step.alternatives) {
    TBoundCall& call = alternative.comparison;
    if (!StillEquality(call)) {
      return TVerdict::vAsk;
    }
    const IIEValue* a = Read(alternative.a, FactOf(alternative.a, left, right));
    const IIEValue* b = a != nullptr ? Read(alternative.b, FactOf(alternative.b, left, right))
                                     : nullptr;
    if (b == nullptr) {
      return TVerdict::vAsk;
    }
    if (SameValueOf(*a, *b) == (call.form == TLogicalForm::lfAllEqual)) {
      return step.negated ? TVerdict::vFail : TVerdict::vPass;
    }
  }
  return step.negated ? TVerdict::vPass : TVerdict::vFail;
}

bool TTestProgram::CompileArguments(const IIEValue& call_value, TOperand& a, TOperand& b,
                                    const TFunctionCall*& call, int depth) {
  if (call_value.DType() != TIEType::dtFunCall) {
    return false;
  }
  const auto* c = dynamic_cast<const TFunctionCall*>(call_value.AsFunCall());
  if (c == nullptr || c->ArgumentCount() != 2 || !CompileArgument(*c->Argument(0), a, depth) ||
      !CompileArgument(*c->Argument(1), b, depth)) {
    return false;
  }
  call = c;
  return true;
}

bool TTestProgram::CompileArgument(const IIEValue& argument, TOperand& operand, int depth) {
  constexpr int kMaxDepth = 2;
  switch (argument.DType()) {
    case TIEType::dtInteger:
    case TIEType::dtFloat:
      operand.from = TFrom::kConstant;
      operand.number = argument.AsFloat();
      operand.is_float = argument.DType() == TIEType::dtFloat;
      return true;
    case TIEType::dtFunCall:
      if (depth >= kMaxDepth) {
        return false;
      }
      operand.from = TFrom::kCall;
      operand.args.resize(2);
      return CompileArguments(argument, operand.args[0], operand.args[1], operand.arithmetic.call,
                              depth + 1);
    case TIEType::dtObject:
      break;
    default:
      return false;
  }
  const TObject* object = argument.AsObject();
  if (!IsPatternBinding(object)) {
    return false;
  }
  const auto& binding = static_cast<const TBindingInfo&>(*object);
  if (binding.IsPatternBinding()) {
    return false;  // the whole fact
  }
  operand.from = TFrom::kMatch;
  operand.fact_index = binding.FactIndex();
  operand.sub_index = binding.SubIndex();
  operand.slot = &binding.SlotPosition();
  return true;
}

bool TTestProgram::DecidesFromValues(std::size_t i) {
  TStep& step = steps_[i];
  switch (step.kind) {
    case TKind::kGeneral:
      return false;
    case TKind::kSameValue:
      return true;
    case TKind::kEquality:
      return StillAnyOf(step) &&
             std::all_of(step.alternatives.begin(), step.alternatives.end(),
                         [](TStep& alternative) { return StillEquality(alternative.comparison); });
    case TKind::kNumbers:
    case TKind::kSlotNumbers:
      return step.comparison.Refresh() && step.comparison.relation != TNumberRelation::nrNone &&
             ComputesFromValues(step.a) && ComputesFromValues(step.b);
  }
  return false;
}

bool TTestProgram::ComputesFromValues(TOperand& operand) {
  if (operand.from != TFrom::kCall) {
    return true;  // a constant or a slot
  }
  return operand.arithmetic.Refresh() &&
         operand.arithmetic.operation != TNumberOperation::noNone &&
         std::all_of(operand.args.begin(), operand.args.end(),
                     [](TOperand& arg) { return ComputesFromValues(arg); });
}

void TTestProgram::TBoundCall::Learn(const IUserFunction* now) {
  const TIEUserFunction* own = TIEUserFunction::Exactly(now);
  function = now;
  relation = own != nullptr ? own->NumberRelation() : TNumberRelation::nrNone;
  operation = own != nullptr ? own->NumberOperation() : TNumberOperation::noNone;
  form = own != nullptr ? own->LogicalForm() : TLogicalForm::lfNone;
}

// Inlined into the two comparisons and the arithmetic: a slot read costs a
// call less, and the constant and call cases stay out of the way.
inline bool TTestProgram::ReadNumber(TOperand& operand, const TIEToken& left, const IFact* right,
                                     double& number, bool& is_float) {
  if (operand.from == TFrom::kConstant) {
    number = operand.number;
    is_float = operand.is_float;
    return true;
  }
  if (operand.from == TFrom::kCall) {
    return Calculate(operand, left, right, number, is_float);
  }
  const IIEValue* value = Read(operand, FactOf(operand, left, right));
  const TIEValue* own = value != nullptr ? TIEValue::Exactly(*value) : nullptr;
  if (own == nullptr || !own->ReadNumber(number)) {
    return false;
  }
  is_float = own->DType() == TIEType::dtFloat;
  return true;
}

bool TTestProgram::Calculate(TOperand& operand, const TIEToken& left, const IFact* right,
                             double& number, bool& is_float) {
  double a = 0;
  double b = 0;
  bool a_float = false;
  bool b_float = false;
  TBoundCall& call = operand.arithmetic;
  if (!call.Refresh() || call.operation == TNumberOperation::noNone ||
      !ReadNumber(operand.args[0], left, right, a, a_float) ||
      !ReadNumber(operand.args[1], left, right, b, b_float)) {
    return false;
  }
  switch (call.operation) {
    case TNumberOperation::noAdd:
      number = a + b;
      break;
    case TNumberOperation::noSubtract:
      number = a - b;
      break;
    case TNumberOperation::noMultiply:
      number = a * b;
      break;
    case TNumberOperation::noNone:
      return false;
  }
  is_float = a_float || b_float;
  // Overflow, invalid operations and integers beyond 32 bits are the
  // call's to report or wrap.
  constexpr double kLowest = std::numeric_limits<std::int32_t>::min();
  constexpr double kHighest = std::numeric_limits<std::int32_t>::max();
  return is_float ? std::isfinite(number) : number >= kLowest && number <= kHighest;
}

TTestProgram::TVerdict TTestProgram::Numbers(TStep& step, const TIEToken& left,
                                             const IFact* right) {
  double a = 0;
  double b = 0;
  bool a_float = false;
  bool b_float = false;
  if (!step.comparison.Refresh() || step.comparison.relation == TNumberRelation::nrNone ||
      !ReadNumber(step.a, left, right, a, a_float) ||
      !ReadNumber(step.b, left, right, b, b_float)) {
    return TVerdict::vAsk;
  }
  const bool holds = Holds(step.comparison.relation, a, b);
  return holds != step.negated ? TVerdict::vPass : TVerdict::vFail;
}

}  // namespace zephro
