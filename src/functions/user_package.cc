#include "zephro/functions/user_package.h"

#include <exception>
#include <string>

#include "zephro/platform/class_registry.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/printing.h"

#include "functions/index_error.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TUserPackage)
    .Property("Engine", &TUserPackage::Engine, &TUserPackage::SetEngine)
    .Property("Reset", &TUserPackage::Reset, &TUserPackage::SetReset)
    .Event("OnCreateFunctions", &TUserPackage::OnCreateFunctions);

// --- TUserFunctionList ------------------------------------------------------------

IUserFunction& TUserFunctionList::Get(int index) const {
  if (index < 0 || index >= Count()) {
    RaiseIndexError("function", index);
  }
  return *items_[static_cast<std::size_t>(index)];
}

int TUserFunctionList::IndexOf(const IUserFunction* function) const noexcept {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == function) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int TUserFunctionList::Add(Ref<IUserFunction> function) {
  if (!function) {
    RaiseIEPlain(SInvalidFunctionAdd);
  }
  IUserFunction& added = *function;
  items_.push_back(std::move(function));
  package_.FunctionNotification(added, TListNotification::lnAdded);
  return IndexOf(&added);
}

void TUserFunctionList::Delete(int index) {
  Ref<IUserFunction> function(&Get(index));  // alive while the package detaches it
  items_.erase(items_.begin() + index);
  package_.FunctionNotification(*function, TListNotification::lnDeleted);
}

int TUserFunctionList::Remove(const IUserFunction* function) {
  const int index = IndexOf(function);
  if (index >= 0) {
    Delete(index);
  }
  return index;
}

Ref<IUserFunction> TUserFunctionList::Extract(const IUserFunction* function) {
  const int index = IndexOf(function);
  if (index < 0) {
    return nullptr;
  }
  Ref<IUserFunction> extracted = std::move(items_[static_cast<std::size_t>(index)]);
  items_.erase(items_.begin() + index);
  package_.FunctionNotification(*extracted, TListNotification::lnExtracted);
  return extracted;
}

void TUserFunctionList::Clear() {
  while (!items_.empty()) {
    Delete(Count() - 1);
  }
}

std::string TUserFunctionList::ToString() const {
  std::string text;
  for (const Ref<IUserFunction>& function : items_) {
    text += function->FunctionName();
    text += kPrintLineBreak;
  }
  return text;
}

// --- TReasonerList ----------------------------------------------------------------

IReasoner& TReasonerList::Get(int index) const {
  if (index < 0 || index >= Count()) {
    RaiseIndexError("reasoner", index);
  }
  return *items_[static_cast<std::size_t>(index)].reasoner;
}

int TReasonerList::IndexOf(const IReasoner* reasoner) const noexcept {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].reasoner == reasoner) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int TReasonerList::IndexOfComponent(const TComponent* component) const noexcept {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].component == component) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int TReasonerList::Add(IReasoner& reasoner) {
  if (int index = IndexOf(&reasoner); index >= 0) {
    return index;
  }
  // Found now, while the reasoner is whole: a component told of its own freeing
  // may already have lost the parts a cast would need.
  TComponent* component = dynamic_cast<TComponent*>(&reasoner);
  items_.push_back({&reasoner, component});
  package_.ReasonerNotification(reasoner, component, TListNotification::lnAdded);
  return IndexOf(&reasoner);
}

void TReasonerList::Delete(int index) {
  Get(index);  // checks the index
  const Entry entry = items_[static_cast<std::size_t>(index)];
  items_.erase(items_.begin() + index);
  package_.ReasonerNotification(*entry.reasoner, entry.component, TListNotification::lnDeleted);
}

int TReasonerList::Remove(const IReasoner& reasoner) {
  const int index = IndexOf(&reasoner);
  if (index >= 0) {
    Delete(index);
  }
  return index;
}

void TReasonerList::Clear() {
  while (!items_.empty()) {
    Delete(Count() - 1);
  }
}

// --- TUserPackage -----------------------------------------------------------------

TUserPackage::TUserPackage(TComponent* owner) : TComponent(owner) {
  if (auto* engine = dynamic_cast<IReasoner*>(owner)) {
    reasoners_.Add(*engine);
  }
}

TUserPackage::~TUserPackage() {
  // A destructor must not throw; an engine refusing a removal here is ignored
  // (the lists let go of each entry before detaching it).
  try {
    reasoners_.Clear();
  } catch (const std::exception&) {
    reasoners_.items_.clear();
  }
  functions_.items_.clear();
  engine_ = nullptr;
}

void TUserPackage::SetEngine(TComponent* engine) {
  if (engine == engine_) {
    return;
  }
  IReasoner* reasoner = EngineReasoner(engine);
  const bool designing = ComponentState().Contains(TComponentStateFlag::csDesigning);
  if (TComponent* old = std::exchange(engine_, nullptr)) {
    const int index = reasoners_.IndexOfComponent(old);
    if (!designing && index >= 0) {
      reasoners_.Delete(index);  // which also ends the free notification
    } else if (index < 0) {
      RemoveFreeNotification(*old);
    }
  }
  engine_ = engine;
  if (engine != nullptr) {
    if (!designing) {
      reasoners_.Add(*reasoner);
    }
    FreeNotification(*engine);
  }
}

void TUserPackage::SetReset(bool reset) {
  if (!reset) {
    return;
  }
  functions_.Clear();
  CreateFunctions();
}

int TUserPackage::IndexOf(std::string_view name) const noexcept {
  int index = 0;
  for (const Ref<IUserFunction>& function : functions_) {
    if (function->FunctionName() == name) {
      return index;
    }
    ++index;
  }
  return -1;
}

void TUserPackage::CreateFunctions() {
  if (OnCreateFunctions) {
    OnCreateFunctions(*this);
  }
}

void TUserPackage::ReasonerNotification(IReasoner& reasoner, TComponent* component,
                                        TListNotification action) {
  switch (action) {
    case TListNotification::lnAdded:
      if (component != nullptr) {
        FreeNotification(*component);
      }
      AddFunctions(reasoner);
      return;
    case TListNotification::lnExtracted:
    case TListNotification::lnDeleted:
      RemoveFunctions(reasoner);
      if (component != nullptr) {
        if (component == engine_) {
          engine_ = nullptr;
        }
        RemoveFreeNotification(*component);
      }
      return;
  }
}

void TUserPackage::FunctionNotification(IUserFunction& function, TListNotification action) {
  if (reasoners_.Count() == 0) {
    return;
  }
  switch (action) {
    case TListNotification::lnAdded:
      AddReasoners(function);
      return;
    case TListNotification::lnExtracted:
    case TListNotification::lnDeleted:
      RemoveReasoners(function);
      return;
  }
}

void TUserPackage::AddFunctions(IReasoner& reasoner) {
  for (const Ref<IUserFunction>& function : functions_) {
    function->AddReasoner(reasoner);
  }
}

void TUserPackage::RemoveFunctions(IReasoner& reasoner) {
  for (const Ref<IUserFunction>& function : functions_) {
    if (int index = function->IndexOfReasoner(&reasoner); index > -1) {
      function->DeleteReasoner(index);
    }
  }
}

void TUserPackage::AddReasoners(IUserFunction& function) {
  for (const TReasonerList::Entry& entry : reasoners_.items_) {
    function.AddReasoner(*entry.reasoner);
  }
}

void TUserPackage::RemoveReasoners(IUserFunction& function) {
  for (const TReasonerList::Entry& entry : reasoners_.items_) {
    function.DeleteReasoner(*entry.reasoner);
  }
}

void TUserPackage::Notification(TComponent& component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != TOperation::opRemove) {
    return;
  }
  const int index = reasoners_.IndexOfComponent(&component);
  if (&component == engine_) {
    engine_ = nullptr;
  }
  if (index < 0) {
    return;
  }
  // Notification must not throw. The engine's removal hooks may (a host event
  // handler); the engine is on its way out, so its complaint is dropped. The
  // package has forgotten it either way: the list lets go before detaching.
  try {
    reasoners_.Delete(index);
  } catch (const std::exception&) {
  }
}

}  // namespace zephro
