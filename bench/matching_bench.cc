// Micro-benchmarks of matching: constant tests of sibling rules, keyed join
// probes against large memories, tokens made and released along a chain,
// asserting and retracting through a three-pattern join, and compiling rules
// that share alpha tests.
//
// The alpha, probe and token benchmarks time one assert of a probe fact and
// the retract that undoes it, on an engine loaded once, so the network's
// memories keep their size from one iteration to the next. Each checks
// before timing that the probe activates the rules it should.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "zephro/rules/pattern.h"
#include "zephro/rules/rete_network.h"
#include "zephro/rules/rule.h"

namespace zephro {
namespace {

using bench::LoadEngine;
using bench::Ordered;
using bench::Record;

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

// Asserts `probe`, checks the agenda then holds `activations`, and retracts
// it; false (and the benchmark skipped) when the count differs.
bool ProbeActivates(benchmark::State& state, TInferenceEngine& e, const Ref<IFact>& probe,
                    int activations) {
  const int before = e.GetAgendaCount();
  const std::int32_t id = e.Assert(probe);
  const bool ok = id >= 0 && e.GetAgendaCount() - before == activations;
  e.Retract(id);
  if (!ok || e.GetAgendaCount() != before) {
    state.SkipWithError("the probe fact does not activate the expected rules");
  }
  return ok;
}

// One assert and retract of `probe` per iteration: the same fact object,
// asserted anew once retracted.
void TimeAssertRetract(benchmark::State& state, TInferenceEngine& e, const Ref<IFact>& probe) {
  for (auto _ : state) {
    e.Retract(e.Assert(probe));
  }
  state.SetItemsProcessed(state.iterations());
}

// R rules (reading (kind i) (level ?l)), i = 0..R-1: R sibling constant
// tests on one slot. The probe matches one rule's constant, or none. When
// the tests are tried one by one, the time grows with R; with an index on
// the constant it stays flat.
std::string SiblingConstantRules(int rules) {
  std::string program = "(deftemplate reading (slot kind) (slot level))";
  for (int i = 0; i < rules; ++i) {
    program += "(defrule kind-" + std::to_string(i) + " (reading (kind " + std::to_string(i) +
               ") (level ?l)) =>)";
  }
  return program;
}

void BM_AlphaSiblingConstants(benchmark::State& state) {
  const int rules = static_cast<int>(state.range(0));
  const bool match = state.range(1) != 0;
  auto e = LoadEngine(SiblingConstantRules(rules));
  Ref<IFact> probe = Record(*e, "reading", {{"kind", match ? rules / 2 : -1}, {"level", 7}});
  if (ProbeActivates(state, *e, probe, match ? 1 : 0)) {
    TimeAssertRetract(state, *e, probe);
  }
}
BENCHMARK(BM_AlphaSiblingConstants)
    ->ArgNames({"rules", "match"})
    ->ArgsProduct({{1, 10, 100, 1000}, {0, 1}});

// (left (k ?k)) (right (k ?k)): the join of the two patterns on ?k.
constexpr std::string_view kKeyedJoin =
    "(deftemplate left (slot k)) (deftemplate right (slot k))"
    "(defrule keyed (left (k ?k)) (right (k ?k)) =>)";

// The engine of kKeyedJoin with `n` facts of template `filled`, k = 0..n-1.
// Filling a million facts takes seconds, and the library calls a benchmark
// function several times while it settles the iteration count, so the last
// engine is kept for the next call with the same filling. The probes leave
// it as they found it.
TInferenceEngine& FilledJoin(std::string_view filled, int n) {
  static std::unique_ptr<TInferenceEngine> engine;
  static std::string engine_filled;
  static int engine_n = -1;
  if (engine == nullptr || engine_filled != filled || engine_n != n) {
    engine.reset();
    engine = LoadEngine(kKeyedJoin);
    for (int k = 0; k < n; ++k) {
      engine->Assert(Record(*engine, filled, {{"k", k}}));
    }
    engine_filled = filled;
    engine_n = n;
  }
  return *engine;
}

// Times a probe fact of template `probed` whose key matches one of the n
// filled facts (k = n/2) or none (k = -1).
void JoinProbe(benchmark::State& state, std::string_view filled, std::string_view probed) {
  const int n = static_cast<int>(state.range(0));
  const bool match = state.range(1) != 0;
  TInferenceEngine& e = FilledJoin(filled, n);
  Ref<IFact> probe = Record(e, probed, {{"k", match ? n / 2 : -1}});
  if (ProbeActivates(state, e, probe, match ? 1 : 0)) {
    TimeAssertRetract(state, e, probe);
  }
}

// Sizes in the outer loop, so that both probes of a size share one filling.
void JoinProbeSizes(benchmark::internal::Benchmark* b) {
  for (int n : {1000, 64000, 1000000}) {
    b->Args({n, 0})->Args({n, 1});
  }
}

// N tokens of the first pattern wait in the join; a right fact probes them.
void BM_JoinProbeTokens(benchmark::State& state) { JoinProbe(state, "left", "right"); }
BENCHMARK(BM_JoinProbeTokens)->ArgNames({"tokens", "match"})->Apply(JoinProbeSizes);

// N facts of the second pattern wait in its memory; a left fact probes them.
void BM_JoinProbeFacts(benchmark::State& state) { JoinProbe(state, "right", "left"); }
BENCHMARK(BM_JoinProbeFacts)->ArgNames({"facts", "match"})->Apply(JoinProbeSizes);

// (a (x ?x)) (b (x ?x) (y ?y)) (c (x ?x)) with F facts (b (x 1) (y j)) and
// one (c (x 1)) in place: asserting (a (x 1)) makes F two-fact tokens, F
// three-fact tokens and F activations; retracting it releases them all.
// Items are complete chains.
void BM_TokenChainCreateRelease(benchmark::State& state) {
  const int fanout = static_cast<int>(state.range(0));
  auto e = LoadEngine(
      "(deftemplate a (slot x)) (deftemplate b (slot x) (slot y)) (deftemplate c (slot x))"
      "(defrule chain (a (x ?x)) (b (x ?x) (y ?y)) (c (x ?x)) =>)");
  for (int y = 0; y < fanout; ++y) {
    e->Assert(Record(*e, "b", {{"x", 1}, {"y", y}}));
  }
  e->Assert(Record(*e, "c", {{"x", 1}}));
  Ref<IFact> probe = Record(*e, "a", {{"x", 1}});
  if (ProbeActivates(state, *e, probe, fanout)) {
    TimeAssertRetract(state, *e, probe);
    state.SetItemsProcessed(state.iterations() * fanout);
  }
}
BENCHMARK(BM_TokenChainCreateRelease)->ArgName("fanout")->Arg(1)->Arg(100);

// One ordered fact of N fields against a pattern that splits it: a single
// multifield variable taking every field, a constant between two wildcards
// (found by one scan), and a field bound to a variable between two wildcards
// (one match per field). The first two cost a pass over the fact, the
// third as many copies of it as it has fields.
void WideFact(benchmark::State& state, const std::string& pattern, int matches) {
  const int fields = static_cast<int>(state.range(0));
  auto e = LoadEngine("(defrule wide " + pattern + " =>)");
  std::vector<Ref<IIEValue>> values;
  values.reserve(static_cast<std::size_t>(fields));
  for (int i = 0; i < fields; ++i) {
    values.push_back(TIEValue::Atom("v" + std::to_string(i)));
  }
  Ref<IFact> probe = Ordered(*e, "wide", std::move(values));
  const int before = e->GetAgendaCount();
  const std::int32_t id = e->Assert(probe);
  const int made = e->GetAgendaCount() - before;
  e->Retract(id);
  if (made != (matches < 0 ? fields : matches)) {
    state.SkipWithError("the wide fact does not match as often as it should");
    return;
  }
  TimeAssertRetract(state, *e, probe);
  state.SetBytesProcessed(state.iterations() * fields);
}

void BM_WideFactOneMultifield(benchmark::State& state) { WideFact(state, "(wide $?x)", 1); }
BENCHMARK(BM_WideFactOneMultifield)->ArgName("fields")->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_WideFactConstantBetweenWildcards(benchmark::State& state) {
  WideFact(state, "(wide $? v5 $?)", 1);
}
BENCHMARK(BM_WideFactConstantBetweenWildcards)
    ->ArgName("fields")
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

void BM_WideFactEveryField(benchmark::State& state) { WideFact(state, "(wide $? ?x $?)", -1); }
BENCHMARK(BM_WideFactEveryField)->ArgName("fields")->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zephro
