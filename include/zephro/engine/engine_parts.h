#pragma once

// What the layers above the engine give every new engine: its parser and
// tokenizer classes (engine_parser.h) and its built-in function packages. The
// engine declares them here and the language and the packages define them,
// so that the engine includes nothing of theirs.
//
// Thread safety: as the engine's.

#include "zephro/engine/engine_parser.h"
#include "zephro/functions/function_package.h"

namespace zephro {

class TInferenceEngine;
class TUserPackage;

// Creates the built-in package `package` owned by `engine`, which registers
// its functions with the engine; null when that package is not available.
TUserPackage* CreateBuiltInPackage(TFunctionPackage package, TInferenceEngine& engine);

}  // namespace zephro
