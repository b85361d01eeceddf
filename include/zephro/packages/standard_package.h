#pragma once

// TStandardPackage: facts, control flow, variables, I/O, files and multifield
// functions.

#include "zephro/functions/user_package.h"

namespace zephro {

class TStandardPackage final : public TUserPackage {
  ZEPHRO_DECLARE_CLASS(TStandardPackage, TUserPackage)

 public:
  explicit TStandardPackage(TComponent* owner);

 protected:
  void CreateFunctions() override;
};

}  // namespace zephro
