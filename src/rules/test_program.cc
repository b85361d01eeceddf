#include "rules/test_program.h"

#include <typeinfo>

#include "zephro/engine/context.h"
#include "zephro/facts/fact.h"
#include "zephro/values/value.h"

#include "rules/token.h"
#include "values/value_internal.h"

namespace zephro {
namespace {

// The value as the engine's own class, or null for a foreign one.
const TIEValue* Own(const IIEValue& value) noexcept {
  return typeid(value) == typeid(TIEValue) ? static_cast<const TIEValue*>(&value) : nullptr;
}

// Equals, decided in place for two values of one plain kind.
bool SameValueOf(const IIEValue& a, const IIEValue& b) {
  const TIEValue* x = Own(a);
  const TIEValue* y = Own(b);
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

}  // namespace

void TTestProgram::Compile(const std::vector<std::unique_ptr<TIESlotTest>>& tests) {
  steps_.clear();
  steps_.reserve(tests.size());
  for (const auto& test : tests) {
    if (const auto* join = dynamic_cast<const TIEJoinTest*>(test.get())) {
      steps_.push_back(CompileJoinTest(*join));
    } else if (const auto* call = dynamic_cast<const TIEPatternMatchTest*>(test.get())) {
      steps_.push_back(CompileCall(*call));
    } else {
      steps_.emplace_back();
    }
  }
  compiled_ = true;
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
  if (value == nullptr || value->DType() != TIEType::dtFunCall) {
    return step;
  }
  const auto* call = dynamic_cast<const TFunctionCall*>(value->AsFunCall());
  if (call == nullptr || call->ArgumentCount() != 2 ||
      !CompileArgument(*call->Argument(0), step.a) ||
      !CompileArgument(*call->Argument(1), step.b)) {
    return step;
  }
  step.kind = TKind::kNumbers;
  step.negated = test.IsNegated();
  step.call = call;
  return step;
}

bool TTestProgram::CompileArgument(const IIEValue& argument, TOperand& operand) {
  switch (argument.DType()) {
    case TIEType::dtInteger:
    case TIEType::dtFloat:
      operand.from = TFrom::kConstant;
      operand.number = argument.AsFloat();
      return true;
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

const IFact* TTestProgram::FactOf(const TOperand& operand, const TIEToken& left,
                                  const IFact* right) {
  switch (operand.from) {
    case TFrom::kConstant:
      return nullptr;
    case TFrom::kToken:
      return left.FactAt(operand.fact_index);
    case TFrom::kRight:
      return right;
    case TFrom::kMatch:
      return operand.fact_index < left.Count() ? left.FactAt(operand.fact_index) : right;
  }
  return nullptr;
}

const IIEValue* TTestProgram::ReadSlow(TOperand& operand, const IFact* fact) {
  if (fact == nullptr || typeid(*fact) != typeid(TFact)) {
    return nullptr;
  }
  // The first read under this layout, or a slot without its value yet: the
  // ordinary read, which also brings the fact to its template's layout; then
  // the slot's position in it is remembered.
  const auto& own = static_cast<const TFact&>(*fact);
  const IIEValue* value = operand.slot->Read(own);
  if (value == nullptr) {
    return nullptr;
  }
  operand.layout = own.StoredLayout();
  operand.index = operand.slot->IndexIn(own.Template());
  return Narrow(operand, *value);
}

const IIEValue* TTestProgram::Narrow(const TOperand& operand, const IIEValue& value) {
  const IValueVector* list = value.DType() == TIEType::dtList ? value.AsList() : nullptr;
  if (list == nullptr || operand.sub_index < 0 || operand.sub_index >= list->ValueCount()) {
    return nullptr;
  }
  return list->Get(operand.sub_index);
}

bool TTestProgram::ReadNumber(TOperand& operand, const TIEToken& left, const IFact* right,
                              double& number) {
  if (operand.from == TFrom::kConstant) {
    number = operand.number;
    return true;
  }
  const IIEValue* value = Read(operand, FactOf(operand, left, right));
  if (value == nullptr) {
    return false;
  }
  const TIEValue* own = Own(*value);
  if (own == nullptr) {
    return false;
  }
  switch (own->DType()) {
    case TIEType::dtInteger:
      number = own->IntegerDatum();
      return true;
    case TIEType::dtFloat:
      number = own->FloatDatum();
      return true;
    default:
      return false;
  }
}

TTestProgram::TVerdict TTestProgram::SameValue(TStep& step, const TIEToken& left,
                                               const IFact* right) {
  const IIEValue* a = Read(step.a, FactOf(step.a, left, right));
  const IIEValue* b = a != nullptr ? Read(step.b, right) : nullptr;
  if (b == nullptr) {
    return TVerdict::vAsk;
  }
  return SameValueOf(*a, *b) != step.negated ? TVerdict::vPass : TVerdict::vFail;
}

TTestProgram::TVerdict TTestProgram::Numbers(TStep& step, const TIEToken& left,
                                             const IFact* right) {
  const IUserFunction* function = step.call->CurrentFunction();
  if (function != step.function) {
    const auto* own = dynamic_cast<const TIEUserFunction*>(function);
    step.function = function;
    step.relation = own != nullptr ? own->NumberRelation() : TNumberRelation::nrNone;
  }
  double a = 0;
  double b = 0;
  if (function == nullptr || !ReadNumber(step.a, left, right, a) ||
      !ReadNumber(step.b, left, right, b)) {
    return TVerdict::vAsk;
  }
  bool holds = false;
  switch (step.relation) {
    case TNumberRelation::nrLess:
      holds = a < b;
      break;
    case TNumberRelation::nrLessOrEqual:
      holds = a <= b;
      break;
    case TNumberRelation::nrGreater:
      holds = a > b;
      break;
    case TNumberRelation::nrGreaterOrEqual:
      holds = a >= b;
      break;
    case TNumberRelation::nrEqual:
      holds = a == b;
      break;
    case TNumberRelation::nrNotEqual:
      holds = a != b;
      break;
    case TNumberRelation::nrNone:
      return TVerdict::vAsk;
  }
  return holds != step.negated ? TVerdict::vPass : TVerdict::vFail;
}

}  // namespace zephro
