#include "testing/fake_reasoner.h"

#include "zephro/functions/call_printer.h"
#include "zephro/values/exceptions.h"

namespace zephro::testing {

TFakeReasoner::~TFakeReasoner() {
  std::vector<Ref<IUserFunction>> filed;
  for (const auto& [name, function] : table_) {
    filed.push_back(function);
  }
  for (const Ref<IUserFunction>& function : filed) {
    function->DeleteReasoner(*this);
  }
}

void TFakeReasoner::AddUserFunction(IUserFunction& function) {
  if (!refuse_with.empty()) {
    RaiseIEPlain(refuse_with);
  }
  ++adds;
  FunctionTableChanged();
  table_[function.FunctionName()] = Ref<IUserFunction>(&function);
}

void TFakeReasoner::RemoveUserFunction(IUserFunction& function) {
  ++removes;
  FunctionTableChanged();
  if (auto it = table_.find(function.FunctionName()); it != table_.end()) {
    table_.erase(it);
  }
}

IUserFunction* TFakeReasoner::ContainsUserFunction(std::string_view name) const {
  auto it = table_.find(name);
  return it != table_.end() ? it->second.get() : nullptr;
}

std::string TFakeReasoner::PrettyPrint(const IFunCall& call) const {
  ++prints;
  return PrettyPrintFunCall(call);
}

std::vector<std::string> TFakeReasoner::Names() const {
  std::vector<std::string> names;
  for (const auto& [name, function] : table_) {
    names.push_back(name);
  }
  return names;
}

}  // namespace zephro::testing
