// Micro-benchmarks of facts: working memory alone (assert and retract
// without rules).

#include <benchmark/benchmark.h>

#include <vector>

#include "bench_support.h"

namespace zephro {
namespace {

using bench::Ordered;

// Working memory alone: assert then retract N facts without rules.
void BM_AssertRetractWorkingMemory(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto e = std::make_unique<TInferenceEngine>(nullptr);
    std::vector<Ref<IFact>> facts;
    facts.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      facts.push_back(Ordered(*e, "datum", {TIEValue::Integer(i)}));
    }
    state.ResumeTiming();
    for (Ref<IFact>& f : facts) {
      e->Assert(f);
    }
    for (std::int32_t id = 1; id <= n; ++id) {
      e->Retract(id);
    }
    state.PauseTiming();
    facts.clear();
    e.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n * 2);
}
BENCHMARK(BM_AssertRetractWorkingMemory)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
}  // namespace zephro
