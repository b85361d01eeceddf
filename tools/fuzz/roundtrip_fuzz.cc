// Parse, print, parse again, print again: the two prints must be equal.
//
// Arbitrary bytes are loaded without running their commands into an engine
// with every package (so that calls to built-in functions parse); what the
// engine then holds (globals, types, templates, deffunctions, rules, fact
// sets) is printed as save writes it. That text is loaded into a second engine and
// printed again. A printed form that does not load, or that loads into
// something printed differently, aborts. Global initialisers run when
// they are loaded, so both engines run within limits and without file access.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "zephro/engine/collections.h"
#include "zephro/engine/fact_set.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/platform/exceptions.h"
#include "zephro/rules/rule_printer.h"
#include "zephro/values/printing.h"

namespace {

using zephro::TInferenceEngine;

std::unique_ptr<TInferenceEngine> MakeEngine() {
  auto engine = std::make_unique<TInferenceEngine>(nullptr);
  engine->SetLimits({.rule_firings = 1000,
                     .loop_iterations = 2000,
                     .nesting = 100,
                     .output_bytes = 1 << 16,
                     .memory_bytes = 4 << 20});
  engine->SetFileAccess(false);
  engine->OnPrintOut = [](TInferenceEngine&, std::string_view, std::string_view) {};
  engine->OnReadLine = [](TInferenceEngine&, std::string_view, std::string& text) {
    text.clear();
  };
  return engine;
}

// The constructs `engine` holds, in an order that loads back: globals,
// defined types and templates (parents first), deffunctions (in the order defined), rules and
// fact sets.
std::string Printed(TInferenceEngine& engine) {
  std::string text;
  for (int i = 0; i < engine.GlobalVariables().Count(); ++i) {
    const auto& [name, value] = engine.GlobalVariables().At(i);
    text += "(defglobal ";
    text += value ? zephro::PrettyPrintGlobal(name, *value) : name;
    text += ")\n";
  }
  text += engine.DefinedTypes().ToString();
  text += engine.FactTemplates().ToString();
  std::vector<const zephro::TInterpretedFunction*> functions;
  for (const auto& [name, function] : engine.UserFunctions()) {
    if (function && function->IsInterpreted()) {
      functions.push_back(static_cast<const zephro::TInterpretedFunction*>(function.get()));
    }
  }
  std::stable_sort(functions.begin(), functions.end(),
                   [](const auto* a, const auto* b) { return a->Order() < b->Order(); });
  for (const zephro::TInterpretedFunction* function : functions) {
    text += function->PrettyPrint() + "\n";
  }
  text += engine.Rules().ToString();
  for (const zephro::TFactSet* fact_set : engine.FactSets()) {
    text += fact_set->ToString() + "\n";
  }
  return text;
}

// Tells what went wrong, and the texts, before aborting.
[[noreturn]] void Fail(const std::string& what, const std::string& printed,
                       const std::string& again) {
  std::fprintf(stderr, "%s\n--- printed:\n%s\n--- printed again:\n%s\n", what.c_str(),
               printed.c_str(), again.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<TInferenceEngine> first = MakeEngine();
  try {
    first->Parse(std::string(reinterpret_cast<const char*>(data), size), false);
  } catch (const zephro::EBaseException&) {
    return 0;  // only text that loads whole is printed
  }
  std::string printed;
  try {
    printed = Printed(*first);
  } catch (const zephro::EBaseException&) {
    return 0;  // a limit spent by a global's initial value while it was printed
  }
  std::unique_ptr<TInferenceEngine> second = MakeEngine();
  try {
    second->Parse(printed, false);
  } catch (const zephro::EBaseException& e) {
    Fail("the printed form does not load: " + std::string(e.what()), printed, "");
  }
  const std::string again = Printed(*second);
  if (again != printed) {
    Fail("printed again, it differs", printed, again);
  }
  return 0;
}
