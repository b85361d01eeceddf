// Reads arbitrary bytes as a JSON document of facts into an engine with a few
// templates. A load may fail with EBaseException, but it must never crash, hang
// or leak, and a failed load asserts nothing. A load that succeeds must
// round-trip: working memory written as JSON loads into a second engine and is
// written again as the same text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "zephro/engine/facts_json.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/platform/exceptions.h"

namespace {

constexpr char kTemplates[] =
    "(deftemplate person (slot name) (slot age (type INTEGER)) (multislot tags))"
    "(deftemplate reading (slot value (type FLOAT)) (slot of))";

std::unique_ptr<zephro::TInferenceEngine> NewEngine() {
  auto engine = std::make_unique<zephro::TInferenceEngine>(nullptr);
  engine->OnPrintOut = [](zephro::TInferenceEngine&, std::string_view, std::string_view) {};
  engine->SetEchoResults(false);
  engine->Parse(kTemplates);
  return engine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<zephro::TInferenceEngine> engine = NewEngine();
  const std::string before = zephro::FactsToJson(*engine);
  try {
    zephro::LoadFactsJson(*engine, json);
  } catch (const zephro::EBaseException&) {
    if (zephro::FactsToJson(*engine) != before) {
      std::abort();  // a failed load asserted something
    }
    return 0;
  }
  const std::string written = zephro::FactsToJson(*engine);
  std::unique_ptr<zephro::TInferenceEngine> copy = NewEngine();
  zephro::LoadFactsJson(*copy, written);
  if (zephro::FactsToJson(*copy) != written) {
    std::abort();  // what was written did not read back alike
  }
  return 0;
}
