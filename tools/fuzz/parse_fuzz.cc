// Parses arbitrary bytes into a fresh engine. The engine may reject the text
// with an engine error, but it must never crash, hang or leak, and it must
// stay usable afterwards: a known rule added after the bad text still
// activates. The engine has no function packages, so that nothing the text
// defines can run (a global's initial value is evaluated at once): calls are
// parsed, and evaluating one is an error.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "zephro/engine/inference_engine.h"
#include "zephro/platform/exceptions.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zephro;
  auto engine = std::make_unique<TInferenceEngine>(nullptr);
  engine->SetPackages(TFunctionPackages());
  std::string printed;
  engine->OnPrintOut = [&](TInferenceEngine&, std::string_view, std::string_view text) {
    if (printed.size() < (1u << 20)) {
      printed.append(text);
    }
  };
  engine->OnReadLine = [](TInferenceEngine&, std::string_view, std::string& text) {
    text.clear();  // the end of the input
  };
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Programs may loop: the text is parsed but never run to exhaustion.
  engine->SetParserErrorHandling(TErrorHandling::ehRaiseAllAtEnd);
  try {
    engine->Parse(text, false);
  } catch (const EBaseException&) {
    // Rejected input is expected.
  }
  try {
    engine->Clear();  // whatever the text defined, the probe starts clean
    engine->Reset();
    engine->Parse("(defrule zz-probe (zz-probe ?x) =>)", false);
    engine->Assert("(zz-probe 1)");
  } catch (const EBaseException&) {
    std::abort();  // the engine must stay usable
  }
  bool activated = false;
  for (int i = 0; i < engine->GetAgendaCount(); ++i) {
    activated = activated || engine->GetActivation(i).Rule().RuleName() == "zz-probe";
  }
  if (!activated) {
    std::abort();
  }
  return 0;
}
