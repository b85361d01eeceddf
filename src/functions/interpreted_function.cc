// Deffunctions. A call evaluates every argument in the caller's context before
// the first parameter is bound: the child context sees the caller's variables,
// so binding the parameters one by one while evaluating would let an argument
// such as ?b in (f ?b ?a) see the parameter ?a bound a moment earlier instead
// of the caller's. Parameters are bound with AddLocalBinding for the same
// reason: they shadow the caller's variables of that name and never change
// them.

#include "zephro/functions/interpreted_function.h"

#if defined(__linux__)
#include <pthread.h>
#endif

#include <cstdint>
#include <memory>
#include <utility>

#include "zephro/engine/context.h"
#include "zephro/language/pretty_printer.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/type_set_text.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

#include "functions/index_error.h"

namespace zephro {
namespace {

constexpr TIETypes kParameterKinds{TIEType::dtAtom, TIEType::dtVariable, TIEType::dtMultiVariable};

// Deffunctions are the one way a program recurses without bound, so their
// calls are what is counted: no more than kMaxCallDepth nested on a thread,
// and none that would start below the thread's stack limit. The limit is
// taken when the outermost call starts: kStackReserve above the lowest
// address of the thread's stack where the platform tells its bounds, else
// kFallbackStackBudget below the outermost call. What a level costs depends
// on the build (a sanitizer's frames are several times larger) and on how
// deeply the recursive call sits in the body, so the count alone could not
// protect the stack. Stacks grow downwards on every platform we build for.
constexpr std::uintptr_t kStackReserve = 256 * 1024;
constexpr std::uintptr_t kFallbackStackBudget = 512 * 1024;

thread_local int call_depth = 0;
thread_local std::uintptr_t stack_limit = 0;

std::uintptr_t StackAddress() noexcept {
  return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

// The limit the platform gives for this thread's stack, or 0. Asked once per
// thread: for the main thread the answer comes from reading the process's
// memory map, which costs more than many calls.
std::uintptr_t PlatformStackLimit() noexcept {
  thread_local const std::uintptr_t limit = [] () -> std::uintptr_t {
#if defined(__linux__)
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
      void* lowest = nullptr;
      std::size_t size = 0;
      const bool known = pthread_attr_getstack(&attributes, &lowest, &size) == 0;
      pthread_attr_destroy(&attributes);
      if (known && size > kStackReserve) {
        return reinterpret_cast<std::uintptr_t>(lowest) + kStackReserve;
      }
    }
#endif
    return 0;
  }();
  return limit;
}

std::uintptr_t StackLimit(std::uintptr_t here) noexcept {
  if (const std::uintptr_t limit = PlatformStackLimit()) {
    return limit;
  }
  return here > kFallbackStackBudget ? here - kFallbackStackBudget : 0;
}

// Counts one call for its lifetime; TooDeep tells whether it goes past a limit.
class DepthGuard {
 public:
  DepthGuard() noexcept {
    if (call_depth++ == 0) {
      stack_limit = StackLimit(StackAddress());
    }
  }
  ~DepthGuard() { --call_depth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

  static bool TooDeep() noexcept {
    return call_depth > kMaxCallDepth || StackAddress() < stack_limit;
  }
};

}  // namespace

TInterpretedFunction::TInterpretedFunction(std::string_view name) : TIEUserFunction(name) {}

void TInterpretedFunction::AddArgument(std::string_view name, TIEType kind) {
  if (!kParameterKinds.Contains(kind)) {
    RaiseIE(SInvalidArgType, std::string(IETypeName(kind)).c_str(),
            SetToString(kParameterKinds, ", ", false).c_str());
  }
  if (HasMultifieldParameter()) {
    RaiseError("the multifield parameter " + parameters_.back()->ToString() +
               " must be the last parameter");
  }
  parameters_.push_back(MakeRef<TIEValue>(name, kind));
  SetArgumentString(ArgumentString() + " " + parameters_.back()->ToString());
}

IIEValue& TInterpretedFunction::Argument(int index) const {
  if (index < 0 || index >= ArgumentCount()) {
    RaiseIndexError("parameter", index);
  }
  return *parameters_[static_cast<std::size_t>(index)];
}

void TInterpretedFunction::AddStatement(Ref<IFunCall> call) {
  statements_.push_back(MakeRef<TIEValue>(std::move(call)));
}

void TInterpretedFunction::AddStatement(Ref<IIEValue> value) {
  if (!value) {
    RaiseIE(SBadArgument, "null deffunction action");
  }
  statements_.push_back(std::move(value));
}

IIEValue& TInterpretedFunction::Statement(int index) const {
  if (index < 0 || index >= StatementCount()) {
    RaiseIndexError("action", index);
  }
  return *statements_[static_cast<std::size_t>(index)];
}

bool TInterpretedFunction::HasMultifieldParameter() const noexcept {
  return !parameters_.empty() && parameters_.back()->DType() == TIEType::dtMultiVariable;
}

std::int32_t TInterpretedFunction::MinArgumentCount() const noexcept {
  return static_cast<std::int32_t>(parameters_.size());
}

std::int32_t TInterpretedFunction::MaxArgumentCount() const noexcept {
  return HasMultifieldParameter() ? kUnlimitedArguments
                                  : static_cast<std::int32_t>(parameters_.size());
}

void TInterpretedFunction::ReasonerNotification(IReasoner& reasoner, TListNotification action) {
  TIEUserFunction::ReasonerNotification(reasoner, action);
  if (action == TListNotification::lnAdded) {
    release_pending_ = false;
  } else if (ReasonerCount() == 0) {
    release_pending_ = true;
    if (running_ == 0) {
      ReleaseStatements();
    }
  }
}

void TInterpretedFunction::ReleaseStatements() noexcept {
  // The statements may hold the last references to this function.
  Ref<TInterpretedFunction> self(this);
  std::vector<Ref<IIEValue>> statements = std::move(statements_);
  statements_.clear();
  release_pending_ = false;
  statements.clear();
}

Ref<IIEValue> TInterpretedFunction::Run(IFunCall& call, TIEContext& context) {
  struct Running {
    TInterpretedFunction& function;
    explicit Running(TInterpretedFunction& f) noexcept : function(f) { ++function.running_; }
    ~Running() {
      if (--function.running_ == 0 && function.release_pending_) {
        function.ReleaseStatements();
      }
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
  } running(*this);
  DepthGuard depth;
  if (DepthGuard::TooDeep()) {
    RaiseError("deffunction calls nested too deeply (runaway recursion?)");
  }
  // The arguments, evaluated in the caller's context (see the top of this file).
  const int count = call.ArgumentCount();
  std::vector<Ref<IIEValue>> bound;
  bound.reserve(parameters_.size());
  for (std::size_t p = 0; p < parameters_.size(); ++p) {
    const int i = static_cast<int>(p);
    switch (parameters_[p]->DType()) {
      case TIEType::dtMultiVariable: {
        Ref<TValueVector> rest = MakeRef<TValueVector>();
        rest->Reserve(count - i);
        for (int j = i; j < count; ++j) {
          rest->Add(Eval(call, j, context));
        }
        bound.push_back(MakeRef<TIEValue>(Ref<IValueVector>(std::move(rest))));
        break;
      }
      case TIEType::dtAtom:
        bound.push_back(Ref<IIEValue>(&FCNil()));
        break;
      default:
        bound.push_back(Eval(call, i, context));
        break;
    }
  }

  std::unique_ptr<TIEContext> local = context.Push();
  for (std::size_t p = 0; p < parameters_.size(); ++p) {
    local->AddLocalBinding(parameters_[p]->Text(), std::move(bound[p]));
  }
  Ref<IIEValue> result(&FCNil());
  for (const Ref<IIEValue>& statement : statements_) {
    result = statement->Resolve(local.get());
    if (local->ReturnFlag()) {
      result = Ref<IIEValue>(local->ReturnValue());
      local->ClearReturnValue();
      break;
    }
  }
  // A returned expression is evaluated here, in the function's own context; a
  // constant stays as it is.
  return result ? result->Resolve(local.get()) : Ref<IIEValue>(&FCNil());
}

std::string TInterpretedFunction::PrettyPrint() const {
  return PrettyPrintDeffunction(FunctionName(), parameters_, Comment(), statements_);
}

Ref<TInterpretedFunction> MakeInterpretedFunction(std::string name, std::string comment,
                                                  std::vector<Ref<IIEValue>> parameters,
                                                  std::vector<Ref<IIEValue>> actions) {
  Ref<TInterpretedFunction> function = TIEUserFunction::Make<TInterpretedFunction>(name);
  function->SetComment(comment);
  for (const Ref<IIEValue>& parameter : parameters) {
    if (!parameter) {
      RaiseIE(SBadArgument, "null deffunction parameter");
    }
    function->AddArgument(parameter->Text(), parameter->DType());
  }
  for (Ref<IIEValue>& action : actions) {
    function->AddStatement(std::move(action));
  }
  return function;
}

}  // namespace zephro
