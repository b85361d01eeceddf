#pragma once

// Helpers shared by the micro-benchmarks: engines loaded from rule text, and
// facts built through the C++ API. Setting up through the language and the
// public headers keeps the benchmarks valid across rewrites of the internals.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/engine/inference_engine.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro::bench {

// A silent engine with `program` (constructs in the rule language) loaded.
// A program that does not parse raises, which stops the benchmark binary.
inline std::unique_ptr<TInferenceEngine> LoadEngine(std::string_view program) {
  auto e = std::make_unique<TInferenceEngine>(nullptr);
  e->OnPrintOut = [](TInferenceEngine&, std::string_view, std::string_view) {};
  e->Parse(program);
  return e;
}

// An ordered fact (relation v1 v2 ...), not yet asserted.
inline Ref<IFact> Ordered(TInferenceEngine& e, std::string_view relation,
                          std::vector<Ref<IIEValue>> values) {
  Ref<IFact> f = e.CreateFactTemplate(relation).NewFact();
  f->SetValue(SDefaultSlotName,
              MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(std::move(values)))));
  return f;
}

// A fact of the deftemplate `name` with integer slot values, not yet
// asserted; the other slots keep their defaults.
inline Ref<IFact> Record(TInferenceEngine& e, std::string_view name,
                         std::initializer_list<std::pair<std::string_view, std::int32_t>> slots) {
  IFactTemplate* t = e.FindFactTemplate(name);
  if (t == nullptr) {
    throw std::logic_error("no deftemplate " + std::string(name));
  }
  Ref<IFact> f = t->NewFact();
  for (const auto& [slot, value] : slots) {
    f->SetValue(slot, TIEValue::Integer(value));
  }
  return f;
}

}  // namespace zephro::bench
