#pragma once

// The function groups of the standard package, each defined in its own file.

namespace zephro {

class TUserPackage;

// Facts, control flow, variables and the engine commands.
void AddStandardControlFunctions(TUserPackage& package);
// Print-out, formatting, input, files and multifield functions.
void AddStandardIoFunctions(TUserPackage& package);

}  // namespace zephro
