#pragma once

// The groups of the standard package's I/O functions, each defined in its own
// file. Their bodies reach the engine through EngineOf
// (standard_control_internal.h).

#include <string>

namespace zephro {

class IFact;
class TUserPackage;

// `fact` as save-facts and save write it, one line's text that load-facts
// reads back as an equal fact (standard_io_facts.cc). Raises EBaseException,
// naming the fact, when a value would not read back as itself.
std::string SavedFactText(const IFact& fact);

// printout, format, read, readline (standard_io.cc).
void AddPrintAndReadFunctions(TUserPackage& package);
// open, close, batch, load, save, load-facts, save-facts, dribble-on,
// dribble-off, remove, rename (standard_io_files.cc).
void AddFileFunctions(TUserPackage& package);
// create$, delete$ ... subsetp (standard_multifield.cc).
void AddMultifieldFunctions(TUserPackage& package);

}  // namespace zephro
