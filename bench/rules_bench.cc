// Micro-benchmarks of rules coming and going through the C++ API: compiling
// n rules that each test their own constant of one slot (every rule's first
// node under one parent), and removing them one by one. The rate per rule
// should not fall as n grows.

#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.h"

namespace zephro {
namespace {

using bench::LoadEngine;

constexpr char kTemplates[] =
    "(deftemplate reading (slot sensor) (slot kind) (slot level))"
    "(deftemplate mute (slot sensor))";

std::string RulesText(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    text += "(defrule r" + k + " (reading (kind k" + k + ") (sensor ?s) (level ?l&:(> ?l " + k +
            "))) (not (mute (sensor ?s))) =>)";
  }
  return text;
}

// Times `work` on a fresh engine that `prepare` set up: making, preparing
// and freeing the engine are not timed.
template <class Prepare, class Work>
void TimeOnFreshEngines(benchmark::State& state, Prepare&& prepare, Work&& work) {
  for (auto _ : state) {
    state.PauseTiming();
    auto e = LoadEngine(kTemplates);
    prepare(*e);
    state.ResumeTiming();
    work(*e);
    state.PauseTiming();
    e.reset();
    state.ResumeTiming();
  }
}

void BM_AddRules(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string rules = RulesText(n);
  TimeOnFreshEngines(
      state, [](TInferenceEngine&) {}, [&](TInferenceEngine& e) { e.Parse(rules); });
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AddRules)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_RemoveRulesOneByOne(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string rules = RulesText(n);
  TimeOnFreshEngines(
      state, [&](TInferenceEngine& e) { e.Parse(rules); },
      [&](TInferenceEngine& e) {
        for (int i = 0; i < n; ++i) {
          e.RemoveRule("r" + std::to_string(i));
        }
      });
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_RemoveRulesOneByOne)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zephro
