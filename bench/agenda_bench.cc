// Micro-benchmarks of the agenda: inserting activations of equal salience
// and removing them again when their facts are retracted.

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

// Retracts the facts of N pending activations, oldest first (the back of a
// depth-first agenda) or newest first (its front).
void BM_AgendaRemoveByRetraction(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const bool newest_first = state.range(1) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto e = LoadEngine(kEachItem);
    std::vector<std::int32_t> ids;
    ids.reserve(static_cast<std::size_t>(n));
    for (Ref<IFact>& f : Items(*e, n)) {
      ids.push_back(e->Assert(f));
    }
    if (e->GetAgendaCount() != n) {
      state.SkipWithError("an item did not activate the rule");
    }
    state.ResumeTiming();
    if (newest_first) {
      for (auto id = ids.rbegin(); id != ids.rend(); ++id) {
        e->Retract(*id);
      }
    } else {
      for (std::int32_t id : ids) {
        e->Retract(id);
      }
    }
    state.PauseTiming();
    if (e->GetAgendaCount() != 0) {
      state.SkipWithError("activations left after retraction");
    }
    e.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AgendaRemoveByRetraction)
    ->ArgNames({"activations", "newest_first"})
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zephro
