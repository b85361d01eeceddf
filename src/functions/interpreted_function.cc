// Deffunctions. A call evaluates every argument in the caller's context before
// the first parameter is bound: the child context sees the caller's variables,
// so binding the parameters one by one while evaluating would let an argument
// such as ?b in (f ?b ?a) see the parameter ?a bound a moment earlier instead
// of the caller's. Parameters are bound with AddLocalBinding for the same
// reason: they shadow the caller's variables of that name and never change
// them.

#include "zephro/functions/interpreted_function.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "zephro/functions/call_printer.h"
#include "zephro/functions/context.h"
#include "zephro/functions/function_call.h"
#include "zephro/platform/component.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/nesting.h"
#include "zephro/values/printing.h"
#include "zephro/values/type_set_text.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

#include "functions/index_error.h"

namespace zephro {
namespace {

constexpr TIETypes kParameterKinds{TIEType::dtAtom, TIEType::dtVariable, TIEType::dtMultiVariable};

// The deffunction whose body runs innermost on this thread, or null.
thread_local const TInterpretedFunction* innermost = nullptr;

}  // namespace

void RaiseCallsTooDeep(const TNestingGuard& nesting) {
  if (innermost != nullptr) {
    innermost->RaiseError(TNestingGuard(TNesting::nDeffunction).Message());
  }
  nesting.Check();
  throw EIEException(nesting.Message());
}

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

// --- retired functions ---------------------------------------------------------------------
//
// The functions listed here are those no engine files any more. A collection
// looks at them as a graph: the retired functions, and the values, calls and
// lists their actions reach, each node with the references it holds on the
// others (an action value, the call or list in a value, a call's arguments and
// bound function, a list's items). A node whose count is above the references
// the graph holds on it is held from outside (a filed function's actions, a
// rule, the parser's shared calls, the host), and so is a function running;
// what those reach lives. A retired function that nothing living reaches is
// garbage: dropping its actions frees it, and what only it held.
//
// Every count is read under the list's lock, with no reference taken, and
// the references counted are only those a node is known to hold, so a node
// is never thought garbage while something else holds it: at worst a
// function held through an object of another kind waits for a later
// collection, or for its engine's end.

struct TInterpretedFunction::Retirement {
  // One of an engine's components, freed after the engine's own destructor
  // has retired the functions it filed: the functions that engine retired
  // drop their actions then, whatever still holds them.
  class Watch final : public TComponent {
   public:
    Watch(TComponent& engine, const IReasoner& reasoner)
        : TComponent(&engine), reasoner_(reasoner) {}
    ~Watch() override { ReleaseRetiredBy(reasoner_); }

   private:
    const IReasoner& reasoner_;  // only compared
  };

  std::mutex mutex;
  std::unordered_set<TInterpretedFunction*> functions;
  std::unordered_set<const IReasoner*> watched;  // engines with a Watch
  std::atomic<bool> dirty{false};  // something changed since the last collection
  bool collecting = false;
  bool again = false;  // asked for while collecting

  // Never destroyed: functions may be let go after the statics are gone.
  static Retirement& Get() {
    static Retirement* const retirement = new Retirement;
    return *retirement;
  }

  // Lists `function` as retired by `from`; false when there was no room.
  bool Add(TInterpretedFunction& function, IReasoner& from) noexcept {
    auto* engine = dynamic_cast<TComponent*>(&from);
    bool watch = false;
    {
      const std::lock_guard<std::mutex> lock(mutex);
      try {
        functions.insert(&function);
        watch = engine != nullptr && watched.insert(&from).second;
      } catch (...) {
        functions.erase(&function);
        return false;
      }
      function.retired_ = true;
      function.retired_from_ = &from;
      dirty.store(true, std::memory_order_relaxed);
    }
    if (watch) {
      try {
        new Watch(*engine, from);  // owned by the engine from here on
      } catch (...) {
        // Out of memory: only collections will free what the engine retired.
        const std::lock_guard<std::mutex> lock(mutex);
        watched.erase(&from);
      }
    }
    return true;
  }

  // The engine `from` goes: the functions it retired drop their actions
  // (each after its last call under way).
  static void ReleaseRetiredBy(const IReasoner& from) noexcept {
    std::vector<Ref<TInterpretedFunction>> retired;
    try {
      retired = Get().TakeFrom(from);
    } catch (...) {
      // Out of memory: they stay listed, for a later collection.
    }
    for (const Ref<TInterpretedFunction>& f : retired) {
      f->release_pending_ = true;
      if (f->running_ == 0) {
        f->ReleaseStatements();
      }
    }
  }

  void Remove(TInterpretedFunction& function) noexcept {
    const std::lock_guard<std::mutex> lock(mutex);
    functions.erase(&function);
    function.retired_ = false;
    function.retired_from_ = nullptr;
  }

  // The functions `from` retired, each held once, taken off the list; `from`
  // is no longer watched.
  std::vector<Ref<TInterpretedFunction>> TakeFrom(const IReasoner& from) {
    const std::lock_guard<std::mutex> lock(mutex);
    watched.erase(&from);
    std::vector<Ref<TInterpretedFunction>> taken;
    for (TInterpretedFunction* f : functions) {
      if (f->retired_from_ == &from && f->RefCount() > 0) {
        taken.emplace_back(f);
      }
    }
    for (const Ref<TInterpretedFunction>& f : taken) {
      functions.erase(f.get());
      f->retired_ = false;
      f->retired_from_ = nullptr;
    }
    return taken;
  }

  enum class Kind : std::uint8_t { kFunction, kValue, kCall, kList };
  struct Node {
    const RefCounted* object;
    Kind kind;
  };

  // Calls `visit` with each node `node` holds a reference on.
  template <class Visit>
  void ForEachHeld(const Node& node, Visit&& visit) const {
    switch (node.kind) {
      case Kind::kFunction:
        for (const Ref<IIEValue>& value :
             static_cast<const TInterpretedFunction*>(node.object)->statements_) {
          if (value) {
            visit(Node{value.get(), Kind::kValue});
          }
        }
        return;
      case Kind::kValue: {
        const auto* value =
            dynamic_cast<const TIEValue*>(static_cast<const IIEValue*>(node.object));
        if (value == nullptr) {
          return;
        }
        if (value->DType() == TIEType::dtFunCall && value->AsFunCall() != nullptr) {
          visit(Node{value->AsFunCall(), Kind::kCall});
        } else if (value->DType() == TIEType::dtList && value->AsList() != nullptr) {
          visit(Node{value->AsList(), Kind::kList});
        }
        return;
      }
      case Kind::kCall: {
        const auto* call =
            dynamic_cast<const TFunctionCall*>(static_cast<const IFunCall*>(node.object));
        if (call == nullptr) {
          return;
        }
        for (const Ref<IIEValue>& argument : call->Arguments()) {
          if (argument) {
            visit(Node{argument.get(), Kind::kValue});
          }
        }
        auto* bound = dynamic_cast<TInterpretedFunction*>(call->UserFunction());
        if (bound != nullptr && functions.contains(bound)) {
          visit(Node{bound, Kind::kFunction});
        }
        return;
      }
      case Kind::kList: {
        const auto* list =
            dynamic_cast<const TValueVector*>(static_cast<const IValueVector*>(node.object));
        if (list == nullptr) {
          return;
        }
        for (const Ref<IIEValue>& item : list->Values()) {
          if (item) {
            visit(Node{item.get(), Kind::kValue});
          }
        }
        return;
      }
    }
  }

  // The retired functions nothing living reaches, each held once.
  // REQUIRES: the lock is held.
  std::vector<Ref<TInterpretedFunction>> Garbage() const {
    // The graph, and the references its nodes hold on each node.
    std::unordered_map<const RefCounted*, std::int32_t> held;
    std::vector<Node> nodes;
    auto add = [&](const Node& node) {
      if (held.try_emplace(node.object, 0).second) {
        nodes.push_back(node);
      }
    };
    for (TInterpretedFunction* f : functions) {
      if (f->RefCount() > 0) {  // else on its way out, waiting for the lock
        add(Node{f, Kind::kFunction});
      }
    }
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      ForEachHeld(nodes[i], [&](const Node& to) {
        add(to);
        ++held[to.object];
      });
    }
    // What is held from outside, or runs, lives, and so does what it reaches.
    std::unordered_set<const RefCounted*> live;
    std::vector<Node> pending;
    for (const Node& node : nodes) {
      const bool running = node.kind == Kind::kFunction &&
                           static_cast<const TInterpretedFunction*>(node.object)->running_ > 0;
      if (running || node.object->RefCount() > held[node.object]) {
        live.insert(node.object);
        pending.push_back(node);
      }
    }
    while (!pending.empty()) {
      const Node node = pending.back();
      pending.pop_back();
      ForEachHeld(node, [&](const Node& to) {
        if (live.insert(to.object).second) {
          pending.push_back(to);
        }
      });
    }
    std::vector<Ref<TInterpretedFunction>> garbage;
    for (TInterpretedFunction* f : functions) {
      if (f->RefCount() > 0 && !live.contains(f)) {
        garbage.emplace_back(f);
      }
    }
    return garbage;
  }
};

void CollectRetiredFunctions(bool references_dropped) noexcept {
  using Retirement = TInterpretedFunction::Retirement;
  Retirement& retirement = Retirement::Get();
  if (!references_dropped && !retirement.dirty.load(std::memory_order_relaxed)) {
    return;
  }
  std::unique_lock<std::mutex> lock(retirement.mutex);
  if (retirement.functions.empty()) {
    retirement.dirty.store(false, std::memory_order_relaxed);
    return;
  }
  if (retirement.collecting) {
    retirement.again = true;  // the collection under way looks again
    return;
  }
  retirement.collecting = true;
  do {
    retirement.again = false;
    retirement.dirty.store(false, std::memory_order_relaxed);
    std::vector<Ref<TInterpretedFunction>> garbage;
    try {
      garbage = retirement.Garbage();
    } catch (...) {
      // Out of memory: the functions wait for a later collection.
      garbage.clear();
    }
    for (const Ref<TInterpretedFunction>& f : garbage) {
      retirement.functions.erase(f.get());
      f->retired_ = false;
      f->retired_from_ = nullptr;
    }
    // Dropping actions frees values, calls and functions, which may ask for
    // the lock: it is let go meanwhile.
    lock.unlock();
    for (const Ref<TInterpretedFunction>& f : garbage) {
      f->ReleaseStatements();
    }
    garbage.clear();
    lock.lock();
  } while (retirement.again);
  retirement.collecting = false;
}

TInterpretedFunction::~TInterpretedFunction() {
  if (retired_) {
    Retirement::Get().Remove(*this);
  }
}

void TInterpretedFunction::ReasonerNotification(IReasoner& reasoner, TListNotification action) {
  TIEUserFunction::ReasonerNotification(reasoner, action);
  if (action == TListNotification::lnAdded) {
    release_pending_ = false;
    Retirement::Get().Remove(*this);
    return;
  }
  if (ReasonerCount() != 0) {
    return;
  }
  const auto* engine = dynamic_cast<const TComponent*>(&reasoner);
  if (engine != nullptr && engine->ComponentState().Contains(TComponentStateFlag::csDestroying)) {
    // The engine goes: nothing it runs will call its functions again.
    release_pending_ = true;
    if (running_ == 0) {
      ReleaseStatements();
    }
    return;
  }
  if (!Retirement::Get().Add(*this, reasoner)) {
    // No room to list it: it drops its actions as an unwatched function would
    // have to, so that a recursive one is not left holding itself.
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
    const TInterpretedFunction* outer;
    explicit Running(TInterpretedFunction& f) noexcept
        : function(f), outer(std::exchange(innermost, &f)) {
      ++function.running_;
    }
    ~Running() {
      innermost = outer;
      if (--function.running_ != 0) {
        return;
      }
      if (function.release_pending_) {
        function.ReleaseStatements();
      } else if (function.retired_) {
        // Retired while it ran: a collection may now find it garbage.
        Retirement::Get().dirty.store(true, std::memory_order_relaxed);
      }
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
  } running(*this);
  // Called through TIEUserFunction::Call, whose guard has just checked the stack.
  const TNestingGuard depth(TNesting::nDeffunction);
  if (depth.PastLimit()) {
    RaiseError(depth.Message());
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
