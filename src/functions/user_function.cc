#include "zephro/functions/user_function.h"

#include <exception>
#include <limits>
#include <new>
#include <span>
#include <string>

#include "zephro/functions/context.h"
#include "zephro/functions/function_call.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/platform/component.h"
#include "zephro/platform/exceptions.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/limits.h"
#include "zephro/values/messages.h"
#include "zephro/values/nesting.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"

#include "functions/index_error.h"
#include "values/value_internal.h"

namespace zephro {
void RaiseIndexError(const char* what, int index) {
  RaiseIE(SBadArgument,
          (std::string(what) + " index out of bounds (" + std::to_string(index) + ")").c_str());
}

IReasoner* EngineReasoner(TComponent* engine) {
  if (engine == nullptr) {
    return nullptr;
  }
  auto* reasoner = dynamic_cast<IReasoner*>(engine);
  if (reasoner == nullptr) {
    RaiseIEPlain(SUnknownEngine);
  }
  return reasoner;
}

TIEUserFunction::TIEUserFunction() noexcept : IUserFunction(TOwnMark<TIEUserFunction>::Set()) {}

TIEUserFunction::TIEUserFunction(std::string_view name)
    : IUserFunction(TOwnMark<TIEUserFunction>::Set()), name_(name) {}

TIEUserFunction::TIEUserFunction(std::string_view name, std::string_view comment,
                                 std::string_view argument_string, std::int32_t min_arguments,
                                 std::int32_t max_arguments)
    : IUserFunction(TOwnMark<TIEUserFunction>::Set()),
      min_arguments_(min_arguments),
      max_arguments_(max_arguments),
      comment_(FormatMessage(CommentFormat, std::string(comment).c_str())),
      name_(name),
      argument_string_(argument_string) {}

void TIEUserFunction::SetFunctionName(std::string_view name) {
  if (name == name_) {
    return;
  }
  // Engines file functions by name, so the entry under the old name goes first.
  for (IReasoner* reasoner : reasoners_) {
    reasoner->RemoveUserFunction(*this);
  }
  name_ = name;
  for (IReasoner* reasoner : reasoners_) {
    reasoner->AddUserFunction(*this);
  }
}

IReasoner* TIEUserFunction::Reasoner(int index) const {
  if (index < 0 || index >= ReasonerCount()) {
    RaiseIndexError("reasoner", index);
  }
  return reasoners_[static_cast<std::size_t>(index)];
}

int TIEUserFunction::IndexOfReasoner(const IReasoner* reasoner) const noexcept {
  for (std::size_t i = 0; i < reasoners_.size(); ++i) {
    if (reasoners_[i] == reasoner) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int TIEUserFunction::AddReasoner(IReasoner& reasoner) {
  if (int index = IndexOfReasoner(&reasoner); index >= 0) {
    return index;
  }
  reasoners_.push_back(&reasoner);
  try {
    ReasonerNotification(reasoner, TListNotification::lnAdded);
  } catch (...) {
    // An engine that refused the function (a duplicate name under dcError, say)
    // must not stay listed, or a later rename would file it there after all.
    reasoners_.pop_back();
    throw;
  }
  return ReasonerCount() - 1;
}

void TIEUserFunction::DeleteReasoner(int index) {
  IReasoner* reasoner = Reasoner(index);
  reasoners_.erase(reasoners_.begin() + index);
  ReasonerNotification(*reasoner, TListNotification::lnDeleted);
}

void TIEUserFunction::DeleteReasoner(IReasoner& reasoner) {
  if (int index = IndexOfReasoner(&reasoner); index >= 0) {
    DeleteReasoner(index);
  }
}

void TIEUserFunction::ClearReasoners() {
  while (!reasoners_.empty()) {
    DeleteReasoner(ReasonerCount() - 1);
  }
}

void TIEUserFunction::ReasonerNotification(IReasoner& reasoner, TListNotification action) {
  switch (action) {
    case TListNotification::lnAdded:
      reasoner.AddUserFunction(*this);
      return;
    case TListNotification::lnExtracted:
    case TListNotification::lnDeleted:
      reasoner.RemoveUserFunction(*this);
      return;
  }
}

std::string TIEUserFunction::ToString(const IReasoner* /*reasoner*/) const {
  const std::string statement =
      FormatMessage(CLIPSSyntaxFormat, (name_ + argument_string_).c_str());
  std::string text = comment_;
  text += kPrintLineBreak;
  text += FormatMessage(SyntaxFormat, statement.c_str());
  return text;
}

namespace {

// What a function's result holds, in bytes, for the memory limit: its text,
// or its items when it is a multifield (whose own texts were counted when the
// functions that made them returned).
std::int64_t BuiltSize(const IIEValue& value) {
  constexpr std::int64_t kItemBytes = sizeof(void*) * 2;
  if (value.DType() == TIEType::dtList && value.AsList() != nullptr) {
    return kItemBytes * value.AsList()->ValueCount();
  }
  return static_cast<std::int64_t>(value.Text().size());
}

}  // namespace

Ref<IIEValue> TIEUserFunction::Call(IFunCall& call, TIEContext& context) {
  const int count = call.ArgumentCount();
  if (count < MinArgumentCount()) {
    RaiseIE(STooFewArgs, name_.c_str());
  }
  if (count > MaxArgumentCount()) {
    RaiseIE(STooManyArgs, name_.c_str());
  }
  const TNestingGuard nesting(TNesting::nCall);
  if (nesting.TooDeep()) {
    RaiseCallsTooDeep(nesting);
  }
  // Every call is where the engine's limits on nesting and on the values
  // built are kept (see zephro/values/limits.h).
  TEngineBudget* budget = context.Budget();
  const TEngineBudget::TCallLevel level(budget);
  // The one place where foreign errors become engine errors; see the header.
  // Engine errors, the silent stop and exhausted memory keep their identity.
  try {
    Ref<IIEValue> result = Run(call, context);
    if (!result) {
      return Ref<IIEValue>(&FCNil());
    }
    if (budget != nullptr && budget->Limits().memory_bytes > 0) {
      budget->ChargeMemory(BuiltSize(*result));
    }
    return result;
  } catch (const EIEException&) {
    throw;
  } catch (const EAbort&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    RaiseError(e.what());
  }
}

bool IUserFunction::Holds(IFunCall& call, TIEContext& context) {
  return !Call(call, context)->Equals(&FCFalse());
}

void TIEUserFunction::Assign(const TIEUserFunction& source) {
  min_arguments_ = source.MinArgumentCount();
  max_arguments_ = source.MaxArgumentCount();
  comment_ = source.comment_;
  argument_string_ = source.argument_string_;
  SetFunctionName(source.name_);
}

Ref<IIEValue> TIEUserFunction::Run(IFunCall& /*call*/, TIEContext& /*context*/) {
  return Ref<IIEValue>(&FCNil());
}

Ref<IIEValue> TIEUserFunction::Eval(IFunCall& call, int index, TIEContext& context) {
  return call.Argument(index)->Resolve(&context);
}

const IIEValue& TIEUserFunction::EvalBorrowed(IFunCall& call, int index, TIEContext& context,
                                              Ref<IIEValue>& holder) {
  IIEValue* argument = call.Argument(index);
  switch (argument->DType()) {
    case TIEType::dtVariable:
    case TIEType::dtMultiVariable:
    case TIEType::dtFunCall:
      break;
    case TIEType::dtObject:
      if (TObject* object = argument->AsObject(); IsPatternBinding(object)) {
        if (IIEValue* slot = PatternBindingSlot(context, *object)) {
          return *slot;
        }
      }
      break;
    default:
      return *argument;
  }
  holder = argument->Resolve(&context);
  return *holder;
}

bool TIEUserFunction::InlineInteger(const IIEValue& argument, TIEContext& context,
                                    std::int64_t& number) {
  const TIEValue* own = TIEValue::Exactly(argument);
  if (own == nullptr || own->DType() != TIEType::dtFunCall) {
    return false;  // the usual argument, a constant or a variable: at once
  }
  if (IFunCall* call = own->AsFunCall();
      call == nullptr || !call->EngineOwn() || TFunctionCall::Exactly(*call)->InlineRefused()) {
    return false;  // a call refused before: at once
  }
  // A budget counts every call's level and every value made.
  if (const TEngineBudget* budget = context.Budget();
      budget != nullptr && (budget->Limits().nesting > 0 || budget->Limits().memory_bytes > 0)) {
    return false;
  }
  return InlineIntegerAt(*own, context, 1, number);
}

bool TIEUserFunction::InlineIntegerAt(const IIEValue& argument, TIEContext& context, int depth,
                                      std::int64_t& number) {
  const TIEValue* own = TIEValue::Exactly(argument);
  IFunCall* found = own != nullptr ? own->AsFunCall() : nullptr;
  TFunctionCall* call = found != nullptr ? TFunctionCall::Exactly(*found) : nullptr;
  if (call == nullptr || call->InlineRefused() || depth > kInlineDepth) {
    return false;
  }
  // A call that cannot be worked out here once is not tried again (a
  // function not of arithmetic, an operand that once was not an integer):
  // otherwise each level of a nest that fails deep down would try again.
  const TIEUserFunction* function = Exactly(call->CurrentFunction());
  if (function == nullptr) {
    return false;  // not bound yet (or not one of the engine's): the ordinary way binds it
  }
  const TNumberOperation operation = function->NumberOperation();
  const int count = call->ArgumentCount();
  if (operation == TNumberOperation::noNone || count < function->MinArgumentCount() ||
      count > function->MaxArgumentCount() ||
      (operation == TNumberOperation::noSubtract && count == 0)) {
    call->RefuseInline();
    return false;
  }
  const TNestingGuard nesting(TNesting::nCall);
  if (nesting.TooDeep()) {
    return false;  // the stack, not the call
  }
  // As the arithmetic folds its integers: + from 0, * from 1, - from the
  // first operand; every step within 32 bits.
  std::int64_t result = operation == TNumberOperation::noMultiply ? 1 : 0;
  const std::span<const Ref<IIEValue>> operands = call->Arguments();
  for (int index = 0; index < count; ++index) {
    std::int64_t n = 0;
    const IIEValue& operand = *operands[static_cast<std::size_t>(index)];
    const TIEValue* constant = TIEValue::Exactly(operand);
    if (constant != nullptr && constant->DType() == TIEType::dtInteger) {
      n = constant->IntegerDatum();
    } else if (constant != nullptr && constant->DType() == TIEType::dtFunCall) {
      if (!InlineIntegerAt(operand, context, depth + 1, n)) {
        call->RefuseInline();
        return false;
      }
    } else {
      Ref<IIEValue> holder;
      const TIEValue* value = TIEValue::Exactly(EvalBorrowed(*call, index, context, holder));
      if (value == nullptr || value->DType() != TIEType::dtInteger) {
        call->RefuseInline();
        return false;
      }
      n = value->IntegerDatum();
    }
    switch (operation) {
      case TNumberOperation::noAdd:
        result += n;
        break;
      case TNumberOperation::noSubtract:
        result = index == 0 ? n : result - n;
        break;
      case TNumberOperation::noMultiply:
        result *= n;
        break;
      case TNumberOperation::noNone:
        return false;
    }
    if (result < std::numeric_limits<std::int32_t>::min() ||
        result > std::numeric_limits<std::int32_t>::max()) {
      return false;
    }
  }
  number = result;
  return true;
}

bool TIEUserFunction::PeekNumber(const IIEValue& argument, TIEContext& context,
                                 double& number) {
  // The usual arguments, read without virtual calls: a number, or a record of
  // the matcher standing for a slot of the match that holds one.
  if (const TIEValue* constant = TIEValue::Exactly(argument)) {
    if (constant->ReadNumber(number)) {
      return true;
    }
    const IIEValue* slot = PeekBoundSlot(context, constant->ObjectOrNull());
    if (slot == nullptr) {
      return false;
    }
    if (const TIEValue* held = TIEValue::Exactly(*slot)) {
      return held->ReadNumber(number);
    }
  }
  const IIEValue* value = &argument;
  if (argument.DType() == TIEType::dtObject) {
    TObject* object = argument.AsObject();
    if (!IsPatternBinding(object)) {
      return false;
    }
    value = PeekPatternBindingSlot(context, *object);
    if (value == nullptr) {
      return false;
    }
  }
  switch (value->DType()) {
    case TIEType::dtInteger:
      number = value->AsInteger();
      return true;
    case TIEType::dtFloat:
      number = value->AsFloat();
      return true;
    default:
      return false;
  }
}

std::int32_t TIEUserFunction::EvalInteger(IFunCall& call, int index, TIEContext& context) {
  return Eval(call, index, context)->AsInteger();
}

double TIEUserFunction::EvalNumber(IFunCall& call, int index, TIEContext& context) {
  return Eval(call, index, context)->AsFloat();
}

std::string TIEUserFunction::EvalText(IFunCall& call, int index, TIEContext& context) {
  return Eval(call, index, context)->AsString();
}

Ref<IIEValue> TIEUserFunction::EvalNumeric(IFunCall& call, int index, TIEContext& context) const {
  Ref<IIEValue> value = Eval(call, index, context);
  if (!IENumericTypes.Contains(value->DType())) {
    RaiseIE(SMissingNumeric, name_.c_str());
  }
  return value;
}

void TIEUserFunction::RaiseError(std::string_view message) const {
  RaiseIE(SFunctionError, name_.c_str(), std::string(message).c_str());
}

}  // namespace zephro
