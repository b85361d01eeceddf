#pragma once

// TUserPackage: a component holding a list of functions and attaching them to one
// or more engines (reasoners).
//
// The attachment protocol keeps two lists in step, the package's functions and
// its reasoners:
//   - adding a reasoner files every function of the package with it
//     (IUserFunction::AddReasoner, in list order);
//   - adding a function to a package that has reasoners files it with each;
//   - removing a reasoner removes every function from it (DeleteReasoner, which
//     makes the engine drop the entry filed under the function's name, even when
//     another package's function of that name replaced it there);
//   - removing a function removes it from every reasoner of the package.
// A package created with an owner that is an engine (a component implementing
// IReasoner) attaches to it at once; one given to an engine later
// (InsertComponent) is not attached until the engine is added to Reasoners or
// set as Engine. SetReset(true) rebuilds the functions, which
// stay attached; the destructor detaches from every engine.
//
// Defining a package of built-ins:
//
//   class TMathPackage final : public TUserPackage {
//    public:
//     explicit TMathPackage(TComponent* owner) : TUserPackage(owner) { CreateFunctions(); }
//
//    protected:
//     void CreateFunctions() override {
//       TUserPackage::CreateFunctions();
//       AddFunction<TPlusFunction>();
//       AddFunction<TMinusFunction>();
//     }
//   };
//
// A constructor cannot reach the overrides of the class being built, so
// TUserPackage's constructor creates no functions: the package class calls
// CreateFunctions() at the end of its own constructor (and is final, so that no
// descendant calls it a second time). A host package without a class of its own
// assigns OnCreateFunctions and then sets Reset to true.
//
// Engine lifetime. The package asks every reasoner that is a component for free
// notification and detaches from it when it is freed: an engine freed through
// delete (its owner, a unique_ptr) is still whole when told, and takes the
// removals. A reasoner that is not a component must outlive the package or be
// removed from it first.
//
// Ownership: the package owns its function list (references to the functions)
// and borrows its reasoners. Thread safety: none; use it on the engines' thread.

#include <concepts>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/functions/user_function.h"
#include "zephro/platform/component.h"
#include "zephro/values/interfaces.h"

namespace zephro {

class TUserPackage;

// The functions of a package, in the order they were added. Every insertion and
// removal is told to the package, which attaches or detaches the function.
class TUserFunctionList {
 public:
  TUserFunctionList(const TUserFunctionList&) = delete;
  TUserFunctionList& operator=(const TUserFunctionList&) = delete;

  int Count() const noexcept { return static_cast<int>(items_.size()); }
  // REQUIRES for the indexed operations: 0 <= index < Count(); otherwise
  // EIEException.
  IUserFunction& Get(int index) const;
  // Position of `function` (identity), or -1.
  int IndexOf(const IUserFunction* function) const noexcept;
  // Appends `function` and returns its index. A null function raises "Cannot add
  // nil to user functions".
  int Add(Ref<IUserFunction> function);
  void Delete(int index);
  // Deletes `function`; returns its former index, or -1 when it is not listed.
  int Remove(const IUserFunction* function);
  // Takes `function` out of the list and hands it over, detached; null when it is
  // not listed.
  Ref<IUserFunction> Extract(const IUserFunction* function);
  // Deletes every function, the last first.
  void Clear();
  // The function names, each followed by a line break.
  std::string ToString() const;

  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }

 private:
  friend class TUserPackage;
  explicit TUserFunctionList(TUserPackage& package) : package_(package) {}

  TUserPackage& package_;
  std::vector<Ref<IUserFunction>> items_;
};

// The reasoners a package is attached to, each at most once. Every insertion and
// removal is told to the package.
class TReasonerList {
 public:
  TReasonerList(const TReasonerList&) = delete;
  TReasonerList& operator=(const TReasonerList&) = delete;

  int Count() const noexcept { return static_cast<int>(items_.size()); }
  // REQUIRES for the indexed operations: 0 <= index < Count(); otherwise
  // EIEException.
  IReasoner& Get(int index) const;
  int IndexOf(const IReasoner* reasoner) const noexcept;
  // Returns the index of `reasoner`, appending (and so attaching) it when it is
  // not listed yet.
  int Add(IReasoner& reasoner);
  void Delete(int index);
  // Deletes `reasoner`; returns its former index, or -1.
  int Remove(const IReasoner& reasoner);
  // Deletes every reasoner, the last first.
  void Clear();

 private:
  friend class TUserPackage;
  struct Entry {
    IReasoner* reasoner;    // not owned
    TComponent* component;  // the same object when it is a component, else null
  };
  explicit TReasonerList(TUserPackage& package) : package_(package) {}
  int IndexOfComponent(const TComponent* component) const noexcept;

  TUserPackage& package_;
  std::vector<Entry> items_;
};

class TUserPackage : public TComponent {
  ZEPHRO_DECLARE_CLASS(TUserPackage, TComponent)

  using TPackageEvent = std::function<void(TUserPackage& sender)>;

  // Joins `owner` and, when the owner is an engine, attaches to it.
  explicit TUserPackage(TComponent* owner);
  ~TUserPackage() override;

  TUserFunctionList& Functions() noexcept { return functions_; }
  const TUserFunctionList& Functions() const noexcept { return functions_; }
  TReasonerList& Reasoners() noexcept { return reasoners_; }
  const TReasonerList& Reasoners() const noexcept { return reasoners_; }

  // The engine chosen as the package's property: a component implementing
  // IReasoner, or null. Setting it detaches from the previous engine and
  // attaches to the new one (at design time only the property changes). Raises
  // "Unknown/Undefined Inference Engine" for a component that is not an engine.
  // Cleared when the engine is freed or removed from Reasoners.
  TComponent* Engine() const noexcept { return engine_; }
  void SetEngine(TComponent* engine);

  // A write-only action: true clears Functions (detaching each) and calls
  // CreateFunctions; false does nothing. Reads as false.
  bool Reset() const noexcept { return false; }
  void SetReset(bool reset);

  // Position of the first function whose name is `name` (case-sensitive), or -1.
  int IndexOf(std::string_view name) const noexcept;

  // Creates a T with TIEUserFunction::Make, adds it to Functions and returns it.
  template <std::derived_from<TIEUserFunction> T, class... Args>
  T& AddFunction(Args&&... args) {
    Ref<T> function = TIEUserFunction::Make<T>(std::forward<Args>(args)...);
    T& result = *function;
    functions_.Add(std::move(function));
    return result;
  }

  // Fired by the base CreateFunctions.
  TPackageEvent OnCreateFunctions;

 protected:
  // Fills Functions. The base fires OnCreateFunctions; packages of built-ins
  // call it first, then add their functions.
  virtual void CreateFunctions();

  // Told by the lists. The base attaches and detaches as the top of this file
  // says.
  virtual void ReasonerNotification(IReasoner& reasoner, TComponent* component,
                                    TListNotification action);
  virtual void FunctionNotification(IUserFunction& function, TListNotification action);
  // The four halves of the protocol.
  virtual void AddFunctions(IReasoner& reasoner);
  virtual void RemoveFunctions(IReasoner& reasoner);
  virtual void AddReasoners(IUserFunction& function);
  virtual void RemoveReasoners(IUserFunction& function);

  // Detaches from a reasoner component that is being freed.
  void Notification(TComponent& component, TOperation operation) override;

 private:
  friend class TUserFunctionList;
  friend class TReasonerList;

  TUserFunctionList functions_{*this};
  TReasonerList reasoners_{*this};
  TComponent* engine_ = nullptr;  // not owned
};

}  // namespace zephro
