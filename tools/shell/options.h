#pragma once

// The shell's command line: what it reads, and the settings it gives the
// engine before reading.
//
// Thread safety: plain functions and values.

#include <iosfwd>
#include <string>
#include <vector>

#include "zephro/version.h"

namespace zephro {
class TInferenceEngine;
}

namespace zephro::shell {

inline constexpr char kVersion[] = "zephro " ZEPHRO_VERSION_STRING;

struct ShellOptions {
  std::vector<std::string> files;  // run in order before anything else
  bool interactive = false;        // read commands after the files
  bool echo = false;               // --echo: files echo each expression's result
  std::string watch;               // --watch: comma-separated trace items
  std::string strategy;            // --strategy: depth or breadth
  // --facts-json (repeatable): asserted after the files, then the engine runs.
  std::vector<std::string> facts_json;
  std::string dump_facts_json;  // --dump-facts-json: working memory written at the end
};

// The text of --help.
std::string UsageText();

// Reads the arguments into `options`. Returns -1 when the shell should go on,
// otherwise the status to exit with at once: 0 after --help or --version
// (their text written to `out`), 2 for a bad command line (the reason and the
// usage written to `err`). With no file to run and no JSON facts to load,
// `options.interactive` is set.
int ParseCommandLine(int argc, const char* const* argv, ShellOptions& options, std::ostream& out,
                     std::ostream& err);

// Gives `engine` the watch items and strategy of `options`. False, with the
// reason written to `err`, for an unknown watch item or strategy.
bool ConfigureEngine(const ShellOptions& options, TInferenceEngine& engine, std::ostream& err);

}  // namespace zephro::shell
