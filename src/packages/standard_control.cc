// The control half of the standard package, registered group by group in the
// order the package lists its functions.

#include "packages/standard_control_internal.h"
#include "packages/standard_functions.h"

namespace zephro {

void AddStandardControlFunctions(TUserPackage& package) {
  AddStandardLogicFunctions(package);
  AddStandardFactFunctions(package);
  AddStandardFlowFunctions(package);
  AddStandardEngineFunctions(package);
}

}  // namespace zephro
