#pragma once

// The groups of the standard package's I/O functions, each defined in its own
// file, and what their bodies share.

namespace zephro {

class TUserPackage;
class TIEContext;
class TInferenceEngine;

// printout, format, read, readline (standard_io.cc).
void AddPrintAndReadFunctions(TUserPackage& package);
// open, close, batch, load, save, load-facts, save-facts, dribble-on,
// dribble-off, remove, rename (standard_io_files.cc).
void AddFileFunctions(TUserPackage& package);
// create$, delete$ ... subsetp (standard_multifield.cc).
void AddMultifieldFunctions(TUserPackage& package);

// The engine a call runs in. Raises EIEException "Unknown/Undefined Inference
// Engine" for a context without one.
TInferenceEngine& ContextEngine(TIEContext& context);

}  // namespace zephro
