#include "zephro/packages/standard_package.h"

#include "packages/standard_functions.h"
#include "zephro/platform/class_registry.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TStandardPackage);

TStandardPackage::TStandardPackage(TComponent* owner) : TUserPackage(owner) {
  CreateFunctions();
}

void TStandardPackage::CreateFunctions() {
  TUserPackage::CreateFunctions();
  AddStandardControlFunctions(*this);
  AddStandardIoFunctions(*this);
}

}  // namespace zephro
