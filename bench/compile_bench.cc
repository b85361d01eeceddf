// Micro-benchmarks of what one construct costs to read and compile as it
// grows: a deftemplate of n slots (plain ones, and every other one a
// multislot), and one rule of n patterns, with one variable shared by all
// the patterns, a variable of its own in each, or constants only; and that
// rule again over a working memory holding a fact for each of its patterns.
// The time per slot or pattern (items/s) should stay about flat from 1000 to
// 16000; over facts it includes matching the rule's one match, a partial
// match that grows by a fact at each join.

#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.h"

namespace zephro {
namespace {

using bench::LoadEngine;

std::string TemplateText(int n, bool multislots) {
  std::string text = "(deftemplate wide";
  for (int i = 0; i < n; ++i) {
    text += multislots && i % 2 == 1 ? " (multislot s" : " (slot s";
    text += std::to_string(i) + ")";
  }
  return text + ")";
}

enum class Fields { kShared, kOwn, kConstants };

// (defrule big (p0 ?x) (p1 ?x) ... => ), each pattern on a template of its own.
std::string RuleText(int n, Fields fields) {
  std::string text = "(defrule big";
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    text += " (p" + k;
    switch (fields) {
      case Fields::kShared:
        text += " ?x)";
        break;
      case Fields::kOwn:
        text += " ?x" + k + ")";
        break;
      case Fields::kConstants:
        text += " a " + k + ")";
        break;
    }
  }
  return text + " =>)";
}

// Times parsing `text` into a fresh engine that `prepare` set up: making,
// preparing and freeing the engine are not timed.
template <class Prepare>
void TimeParse(benchmark::State& state, const std::string& text, Prepare&& prepare) {
  for (auto _ : state) {
    state.PauseTiming();
    auto e = LoadEngine("");
    prepare(*e);
    state.ResumeTiming();
    e->Parse(text);
    state.PauseTiming();
    e.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_DefineTemplate(benchmark::State& state) {
  const std::string text = TemplateText(static_cast<int>(state.range(0)), false);
  TimeParse(state, text, [](TInferenceEngine&) {});
}
BENCHMARK(BM_DefineTemplate)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);

void BM_DefineTemplateWithMultislots(benchmark::State& state) {
  const std::string text = TemplateText(static_cast<int>(state.range(0)), true);
  TimeParse(state, text, [](TInferenceEngine&) {});
}
BENCHMARK(BM_DefineTemplateWithMultislots)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(16000)
    ->Unit(benchmark::kMillisecond);

void BM_CompileRuleSharedVariable(benchmark::State& state) {
  const std::string text = RuleText(static_cast<int>(state.range(0)), Fields::kShared);
  TimeParse(state, text, [](TInferenceEngine&) {});
}
BENCHMARK(BM_CompileRuleSharedVariable)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(16000)
    ->Unit(benchmark::kMillisecond);

void BM_CompileRuleOwnVariables(benchmark::State& state) {
  const std::string text = RuleText(static_cast<int>(state.range(0)), Fields::kOwn);
  TimeParse(state, text, [](TInferenceEngine&) {});
}
BENCHMARK(BM_CompileRuleOwnVariables)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(16000)
    ->Unit(benchmark::kMillisecond);

void BM_CompileRuleConstants(benchmark::State& state) {
  const std::string text = RuleText(static_cast<int>(state.range(0)), Fields::kConstants);
  TimeParse(state, text, [](TInferenceEngine&) {});
}
BENCHMARK(BM_CompileRuleConstants)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);

// The rule comes after a fact for each of its patterns: compiling it feeds
// each fact through the rule's entries.
void BM_CompileRuleOverFacts(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string text = RuleText(n, Fields::kShared);
  TimeParse(state, text, [n](TInferenceEngine& e) {
    for (int i = 0; i < n; ++i) {
      e.Assert(bench::Ordered(e, "p" + std::to_string(i), {TIEValue::Integer(1)}));
    }
  });
}
BENCHMARK(BM_CompileRuleOverFacts)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zephro
