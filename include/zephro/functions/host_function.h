#pragma once

// TUserFunction: a component standing for one function the host defines with an
// event handler, without writing a function class.
//
//   auto square = std::make_unique<TUserFunction>(nullptr, "square");
//   square->SetMinArgumentCount(1);
//   square->SetMaxArgumentCount(1);
//   square->OnCall = [](TCustomUserFunction&, IFunCall& call, TIEContext& context,
//                       Ref<IIEValue>& result) {
//     double x = call.Argument(0)->Resolve(&context)->AsFloat();
//     result = TIEValue::Float(x * x);
//   };
//   square->SetEngine(&engine);  // (square 3) now works in the engine
//
// The component registers its inner function (a TIEInnerFunction) directly with
// its engine, not through reasoner lists: setting the engine removes the
// function from the previous engine and files it with the new one. A function
// with an empty name is never registered. Renaming re-files it with the engine.
// When the engine is freed the component forgets it (free notification); when
// the component is freed it removes its function from the engine, and calls
// still bound to the inner function raise "Function is unimplemented or
// unassigned" from then on.
//
// The metadata (name, comment, argument string, limits) lives in the inner
// function; the component's properties read and write it there.
//
// Ownership: the component owns a reference to its inner function; the engine's
// table holds another while registered. The engine is borrowed.
// Thread safety: none; use it on the engine's thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "zephro/functions/user_function.h"
#include "zephro/platform/component.h"
#include "zephro/values/interfaces.h"

namespace zephro {

class TCustomUserFunction;

// The function object behind a TCustomUserFunction. Its body hands the call to its
// owner: the owning TCustomUserFunction's Call, or for another owner object its
// own OnCall. Without owner (the owner was freed) it raises "Function is
// unimplemented or unassigned: <name>".
class TIEInnerFunction final : public TIEUserFunction {
 public:
  using TInnerCallEvent = std::function<void(TIEInnerFunction& sender, IFunCall& call,
                                             TIEContext& context, Ref<IIEValue>& result)>;

  // `owner` may be null. When it is a component, the function forgets it as soon
  // as the component is freed.
  explicit TIEInnerFunction(TObject* owner);
  ~TIEInnerFunction() override;

  TObject* Owner() const noexcept { return owner_; }

  // Used when the owner is not a TCustomUserFunction.
  TInnerCallEvent OnCall;

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override;

 private:
  class Nexus;
  void OwnerFreed() noexcept { owner_ = nullptr; }

  TObject* owner_;                // not owned
  std::unique_ptr<Nexus> nexus_;  // present while the owner is a component
};

class TCustomUserFunction : public TComponent {
  ZEPHRO_DECLARE_CLASS(TCustomUserFunction, TComponent)

  // Receives the sender, the call, the context and the result to set; the result
  // starts as FCNil.
  using TCallEvent = std::function<void(TCustomUserFunction& sender, IFunCall& call,
                                        TIEContext& context, Ref<IIEValue>& result)>;

  explicit TCustomUserFunction(TComponent* owner, std::string_view name = {});
  ~TCustomUserFunction() override;

  // The engine: a component implementing IReasoner, or null. Raises
  // "Unknown/Undefined Inference Engine" for a component that is not an engine.
  TComponent* Engine() const noexcept { return engine_; }
  void SetEngine(TComponent* engine);

  const std::string& FunctionName() const noexcept { return inner_->FunctionName(); }
  void SetFunctionName(std::string_view name);
  const std::string& Comment() const noexcept { return inner_->Comment(); }
  void SetComment(std::string_view comment) { inner_->SetComment(comment); }
  const std::string& ArgumentString() const noexcept { return inner_->ArgumentString(); }
  void SetArgumentString(std::string_view syntax) { inner_->SetArgumentString(syntax); }
  std::int32_t MinArgumentCount() const noexcept { return inner_->MinArgumentCount(); }
  void SetMinArgumentCount(std::int32_t n) { inner_->SetMinArgumentCount(n); }
  std::int32_t MaxArgumentCount() const noexcept { return inner_->MaxArgumentCount(); }
  void SetMaxArgumentCount(std::int32_t n) { inner_->SetMaxArgumentCount(n); }

  // The function the engine files.
  IUserFunction& InnerFunction() const noexcept { return *inner_; }

  // Runs OnCall (unless the component is being designed) with the result set to
  // FCNil first, and returns the result; FCNil without a handler.
  virtual Ref<IIEValue> Call(IFunCall& call, TIEContext& context);

  TCallEvent OnCall;

 protected:
  void Notification(TComponent& component, TOperation operation) override;

 private:
  Ref<TIEInnerFunction> inner_;
  TComponent* engine_ = nullptr;   // not owned
  IReasoner* reasoner_ = nullptr;  // engine_ as a reasoner
};

// The published form, for hosts that store it with their forms.
class TUserFunction final : public TCustomUserFunction {
  ZEPHRO_DECLARE_CLASS(TUserFunction, TCustomUserFunction)

  explicit TUserFunction(TComponent* owner, std::string_view name = {})
      : TCustomUserFunction(owner, name) {}
};

}  // namespace zephro
