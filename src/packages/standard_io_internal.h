#pragma once

// The groups of the standard package's I/O functions, each defined in its own
// file. Their bodies reach the engine through EngineOf
// (standard_control_internal.h).

#include <string>

namespace zephro {

class IFact;
class TUserPackage;

// printout, format, read, readline (standard_io.cc).
void AddPrintAndReadFunctions(TUserPackage& package);
// open, close, batch, load, save, load-facts, save-facts, save-facts-json,
// load-facts-json, fact-to-json, dribble-on, dribble-off, remove, rename
// (standard_io_files.cc).
void AddFileFunctions(TUserPackage& package);
// create$, delete$ ... subsetp (standard_multifield.cc).
void AddMultifieldFunctions(TUserPackage& package);

}  // namespace zephro
