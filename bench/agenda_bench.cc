// Micro-benchmarks of the agenda: inserting activations of equal salience.

#include <benchmark/benchmark.h>

#include <vector>

#include "bench_support.h"

namespace zephro {
namespace {

using bench::LoadEngine;
using bench::Ordered;

// Every (item N) fact activates the one rule once, at salience 0.
constexpr std::string_view kEachItem = "(defrule each (item ?x) =>)";

std::vector<Ref<IFact>> Items(TInferenceEngine& e, int n) {
  std::vector<Ref<IFact>> facts;
  facts.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    facts.push_back(Ordered(e, "item", {TIEValue::Integer(i)}));
  }
  return facts;
}

// Depth-first puts each new activation in front of the equal ones.
void BM_AgendaInsertEqualSalience(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto e = LoadEngine(kEachItem);
    std::vector<Ref<IFact>> facts = Items(*e, n);
    state.ResumeTiming();
    for (Ref<IFact>& f : facts) {
      e->Assert(f);
    }
    state.PauseTiming();
    if (e->GetAgendaCount() != n) {
      state.SkipWithError("an item did not activate the rule");
    }
    e.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AgendaInsertEqualSalience)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zephro
