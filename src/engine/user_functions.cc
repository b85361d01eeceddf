// The engine's function table. Filing goes through the function: a function
// lists the engines it is filed with, and registering an engine with it
// (AddReasoner) files it there through the engine's AddUserFunction, which
// raises the event. The table only decides whether a function may be filed
// under a name and keeps the count of interpreted functions.

#include <algorithm>
#include <vector>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

#include "engine/collection_checks.h"

namespace zephro {

std::vector<const TInterpretedFunction*> TUserFunctions::DefFunctions() const {
  std::vector<const TInterpretedFunction*> functions;
  for (const auto& [name, function] : table_) {
    if (function && function->IsInterpreted()) {
      functions.push_back(static_cast<const TInterpretedFunction*>(function.get()));
    }
  }
  std::stable_sort(functions.begin(), functions.end(),
                   [](const auto* a, const auto* b) { return a->Order() < b->Order(); });
  return functions;
}

void TUserFunctions::Add(Ref<IUserFunction> function) {
  if (!function) {
    RaiseIEPlain(SInvalidFunctionAdd);
  }
  const std::string name = function->FunctionName();
  Put(name, std::move(function));
}

void TUserFunctions::Put(const std::string& name, Ref<IUserFunction> function) {
  if (!function) {
    RaiseIEPlain(SInvalidFunctionAdd);
  }
  if (name != function->FunctionName()) {
    RaiseIE(SWrongFunctionName, name.c_str(), function->FunctionName().c_str());
  }
  if (const IUserFunction* existing = Get(name)) {
    if (existing == function.get()) {
      return;
    }
    switch (DuplicateSettingOf(engine_)) {
      case TDuplicateConstructs::dcOverwrite:
        Remove(name);
        break;
      case TDuplicateConstructs::dcIgnore:
        return;
      case TDuplicateConstructs::dcError:
        RaiseIE(SDuplicateFunctionNames, name.c_str());
    }
  }
  if (engine_ == nullptr) {
    File(std::move(function));
    return;
  }
  function->AddReasoner(*engine_);
  if (Get(name) != function.get()) {
    // The function listed the engine already without being filed here.
    engine_->AddUserFunction(*function);
  }
}

bool TUserFunctions::Remove(std::string_view name) {
  const Ref<IUserFunction> function(Get(name));
  if (!function) {
    return false;
  }
  if (engine_ == nullptr) {
    Unfile(name);
    return true;
  }
  if (function->IndexOfReasoner(engine_) >= 0) {
    function->DeleteReasoner(*engine_);  // which takes it out of the table
  }
  if (Get(name) == function.get()) {
    engine_->RemoveUserFunction(*function);
  }
  return true;
}

void TUserFunctions::Clear() {
  std::vector<std::string> names;
  for (const auto& [name, function] : table_) {
    names.push_back(name);
  }
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    Remove(*it);
  }
}

void TUserFunctions::File(Ref<IUserFunction> function) {
  const std::string name = function->FunctionName();
  if (const IUserFunction* replaced = Get(name); replaced != nullptr && replaced->IsInterpreted()) {
    --interpreted_;
  }
  if (function->IsInterpreted()) {
    ++interpreted_;
  }
  table_.Put(name, std::move(function));
}

Ref<IUserFunction> TUserFunctions::Unfile(std::string_view name) {
  Ref<IUserFunction> function = table_.Take(name);
  if (function && function->IsInterpreted()) {
    --interpreted_;
  }
  return function;
}

std::string TUserFunctions::GetNamesToString() const {
  std::string text;
  for (const auto& [name, function] : table_) {
    text += name + "\n";
  }
  return text;
}

std::string TUserFunctions::ToString() const {
  std::string text;
  for (const auto& [name, function] : table_) {
    if (const auto* deffunction = dynamic_cast<const TInterpretedFunction*>(function.get())) {
      text += "\n" + deffunction->PrettyPrint();
    }
  }
  return text;
}

void TUserFunctions::Assign(const TUserFunctions& from) {
  if (&from == this) {
    return;
  }
  std::vector<Ref<IUserFunction>> functions;
  for (const auto& [name, function] : from.table_) {
    if (!function->IsInterpreted() && !ContainsKey(name)) {
      functions.push_back(function);
    }
  }
  for (Ref<IUserFunction>& function : functions) {
    Add(std::move(function));
  }
}

void TUserFunctions::AssignInterpretedFunctions(const TUserFunctions& from) {
  if (&from == this) {
    return;
  }
  std::vector<Ref<IUserFunction>> functions;
  for (const auto& [name, function] : from.table_) {
    if (function->IsInterpreted()) {
      functions.push_back(function);
    }
  }
  for (Ref<IUserFunction>& function : functions) {
    const auto* deffunction = dynamic_cast<const TInterpretedFunction*>(function.get());
    if (engine_ != nullptr && deffunction != nullptr) {
      engine_->Parse(deffunction->PrettyPrint(), true);  // which files it here
    } else {
      Add(std::move(function));
    }
  }
}

}  // namespace zephro
