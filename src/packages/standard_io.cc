// The registration of the standard package's I/O, file and multifield
// functions.

#include "packages/standard_functions.h"
#include "packages/standard_io_internal.h"
#include "zephro/engine/context.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

namespace zephro {

TInferenceEngine& ContextEngine(TIEContext& context) {
  if (context.Engine() == nullptr) {
    RaiseIEPlain(SUnknownEngine);
  }
  return *context.Engine();
}

void AddStandardIoFunctions(TUserPackage& package) { AddMultifieldFunctions(package); }

}  // namespace zephro
