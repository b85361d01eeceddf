#pragma once

// TFakeReasoner: a stand-in engine for tests of functions, calls and packages.
// A component implementing IReasoner with a plain name-to-function table, a
// version counter and counts of what it was asked. It prints calls in the plain
// form, and detaches the functions filed with it when it is freed, as an engine
// does.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/platform/component.h"
#include "zephro/values/interfaces.h"

namespace zephro::testing {

class TFakeReasoner final : public TComponent, public IReasoner {
 public:
  explicit TFakeReasoner(TComponent* owner = nullptr) : TComponent(owner) {}
  ~TFakeReasoner() override;

  void AddUserFunction(IUserFunction& function) override;
  void RemoveUserFunction(IUserFunction& function) override;
  IUserFunction* ContainsUserFunction(std::string_view name) const override;
  std::string PrettyPrint(const IFunCall& call) const override;

  // The names filed, sorted.
  std::vector<std::string> Names() const;
  int adds = 0;
  int removes = 0;
  mutable int prints = 0;
  // When set, AddUserFunction raises this text instead of filing.
  std::string refuse_with;

 private:
  std::map<std::string, Ref<IUserFunction>, std::less<>> table_;
};

}  // namespace zephro::testing
