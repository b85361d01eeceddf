// Loads arbitrary bytes as a program into an engine with every package, runs
// it, and then checks that the engine is still usable: a known program loaded
// after a Clear must print exactly what it prints in a fresh engine.
//
// The program runs within the engine's limits (rule firings, loop turns,
// nesting, output, values built) and without file access, so that it cannot
// loop for ever, exhaust memory or touch the file system. Reads get a few
// fixed lines and then the end of the input. A crash, a sanitizer report, a
// hang (libFuzzer's -timeout) or a probe that prints the wrong thing is a
// finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "zephro/engine/inference_engine.h"
#include "zephro/platform/exceptions.h"

namespace {

using zephro::TInferenceEngine;

// Small enough that an input runs in well under a second in the sanitized
// build (a fact asserted costs about half a millisecond there), large enough
// for the seed programs to get far.
constexpr zephro::TEngineLimits kLimits{
    .rule_firings = 1000,
    .loop_iterations = 2000,
    .nesting = 100,
    .output_bytes = 1 << 16,
    .memory_bytes = 4 << 20,
};

// The probe prints to its own logical name, so that what the fuzzed program
// left switched on (watch traces, say) does not mix with its output.
constexpr std::string_view kProbeName = "zz-probe";
constexpr std::string_view kProbe = R"(
(defglobal ?*zz-base* = 10)
(deftemplate zz-item (slot n) (slot tag (default b)))
(deffunction zz-square (?x) (* ?x ?x))
(defrule zz-report (zz-item (n ?n) (tag ?t))
  =>
  (printout zz-probe "zz " (+ ?*zz-base* (zz-square ?n)) " " ?t crlf))
(deffacts zz-items (zz-item (n 3)))
)";
constexpr std::string_view kProbeOutput = "zz 19 b\n";

// Feeds the program's reads: two lines, then the end of the input.
struct Input {
  int lines_read = 0;
};

std::unique_ptr<TInferenceEngine> MakeEngine(std::string& probe_output, Input& input) {
  auto engine = std::make_unique<TInferenceEngine>(nullptr);
  engine->SetLimits(kLimits);
  engine->SetFileAccess(false);
  engine->OnPrintOut = [&probe_output](TInferenceEngine&, std::string_view name,
                                       std::string_view text) {
    if (name == kProbeName) {
      probe_output.append(text);
    }
  };
  engine->OnReadLine = [&input](TInferenceEngine&, std::string_view, std::string& text) {
    // The empty text is the end of the input.
    text = input.lines_read < 2 ? "line " + std::to_string(input.lines_read) : std::string();
    ++input.lines_read;
  };
  return engine;
}

// Loads and runs the probe; what it printed.
std::string RunProbe(TInferenceEngine& engine, std::string& probe_output) {
  probe_output.clear();
  engine.Parse(kProbe, true);
  engine.Reset();
  engine.Run();
  return probe_output;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string probe_output;
  Input input;
  std::unique_ptr<TInferenceEngine> engine = MakeEngine(probe_output, input);
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    engine->Parse(text, true);
  } catch (const zephro::EBaseException&) {
    // Rejected input, a failed command, (exit) or a spent limit.
  }
  try {
    engine->Reset();
    engine->Run();
  } catch (const zephro::EBaseException&) {
  }
  // Whatever the program did, the engine must do the probe's work as a fresh
  // one does.
  try {
    engine->Clear();
    engine->Budget().ResetUsage();
    if (RunProbe(*engine, probe_output) != kProbeOutput) {
      std::abort();
    }
  } catch (const zephro::EBaseException&) {
    std::abort();
  }
  return 0;
}
