// Micro-benchmarks of matching: asserting and retracting through joins, and
// compiling rules that share alpha tests. Rules and facts are built through
// the C++ API.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "zephro/facts/pattern.h"
#include "zephro/rules/rule.h"

namespace zephro {
namespace {

using bench::Ordered;

Ref<IIEValue> Var(const std::string& name) {
  return MakeRef<TIEValue>(name, TIEType::dtVariable);
}

// A pattern (relation term...) where a term is an integer constant or a
// variable name.
struct Term {
  std::string var;
  std::int32_t constant = 0;
};

void AddPattern(TInferenceEngine& e, TRule& rule, const std::string& relation,
                const std::vector<Term>& terms) {
  IFactTemplate& t = e.CreateFactTemplate(relation);
  auto p = std::make_unique<TIEPattern>(&rule, relation, Ref<IFactTemplate>(&t));
  for (std::size_t i = 0; i < terms.size(); ++i) {
    Ref<IIEValue> v = terms[i].var.empty() ? TIEValue::Integer(terms[i].constant)
                                           : Var(terms[i].var);
    p->AddTest(SDefaultSlotName, TSlotTestType::sttEquals, static_cast<std::int32_t>(i), v);
  }
  p->SetSlotLength(0, static_cast<std::int32_t>(terms.size()));
  rule.AddPattern(std::move(p));
}

// (a ?x ?y) (b ?y ?z) (c ?z ?x)
void AddTriangleRule(TInferenceEngine& e) {
  TRule& rule = MakeOwned<TRule>(e);
  rule.BeginUpdate();
  rule.SetRuleName("triangle");
  AddPattern(e, rule, "a", {{"x"}, {"y"}});
  AddPattern(e, rule, "b", {{"y"}, {"z"}});
  AddPattern(e, rule, "c", {{"z"}, {"x"}});
  rule.EndUpdate();
  e.AddRule(rule);
}

void BM_AssertThroughThreePatternJoin(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto e = std::make_unique<TInferenceEngine>(nullptr);
    AddTriangleRule(*e);
    state.ResumeTiming();
    for (int i = 0; i < n; ++i) {
      e->Assert(Ordered(*e, "a", {TIEValue::Integer(i), TIEValue::Integer(i + 1)}));
      e->Assert(Ordered(*e, "b", {TIEValue::Integer(i + 1), TIEValue::Integer(i + 2)}));
      e->Assert(Ordered(*e, "c", {TIEValue::Integer(i + 2), TIEValue::Integer(i)}));
    }
    benchmark::DoNotOptimize(e->GetAgendaCount());
    state.PauseTiming();
    e.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n * 3);
}
BENCHMARK(BM_AssertThroughThreePatternJoin)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_RetractThroughThreePatternJoin(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto e = std::make_unique<TInferenceEngine>(nullptr);
    AddTriangleRule(*e);
    for (int i = 0; i < n; ++i) {
      e->Assert(Ordered(*e, "a", {TIEValue::Integer(i), TIEValue::Integer(i + 1)}));
      e->Assert(Ordered(*e, "b", {TIEValue::Integer(i + 1), TIEValue::Integer(i + 2)}));
      e->Assert(Ordered(*e, "c", {TIEValue::Integer(i + 2), TIEValue::Integer(i)}));
    }
    state.ResumeTiming();
    for (std::int32_t id = 1; id <= 3 * n; ++id) {
      e->Retract(id);
    }
    benchmark::DoNotOptimize(e->GetAgendaCount());
    state.PauseTiming();
    e.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n * 3);
}
BENCHMARK(BM_RetractThroughThreePatternJoin)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// N rules (item k ?x) (other ?x): the root is shared, the constant tests and
// joins are each rule's own.
void BM_CompileRulesSharingAlphaTests(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto e = std::make_unique<TInferenceEngine>(nullptr);
    state.ResumeTiming();
    for (int i = 0; i < n; ++i) {
      TRule& rule = MakeOwned<TRule>(*e);
      rule.BeginUpdate();
      rule.SetRuleName("r" + std::to_string(i));
      AddPattern(*e, rule, "item", {{"", i % 100}, {"x"}});
      AddPattern(*e, rule, "other", {{"x"}});
      rule.EndUpdate();
      e->AddRule(rule);
    }
    benchmark::DoNotOptimize(e->ReteNetwork().NodeCount());
    state.PauseTiming();
    e.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_CompileRulesSharingAlphaTests)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zephro
