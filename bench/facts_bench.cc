// Micro-benchmarks of facts: reading and writing the slots of a template
// fact by name and by index, and working memory alone (assert and retract
// without rules).

#include <benchmark/benchmark.h>

#include <array>
#include <string_view>

#include "bench_support.h"

namespace zephro {
namespace {

using bench::LoadEngine;
using bench::Ordered;
using bench::Record;

constexpr std::array<std::string_view, 8> kSlots = {"alpha", "bravo", "charlie", "delta",
                                                    "echo",  "foxtrot", "golf", "hotel"};
constexpr std::string_view kRecordTemplate =
    "(deftemplate record (slot alpha) (slot bravo) (slot charlie) (slot delta)"
    " (slot echo) (slot foxtrot) (slot golf) (slot hotel))";

// A record with every slot set; `e` keeps the template alive.
Ref<IFact> FullRecord(TInferenceEngine& e) {
  return Record(e, "record",
                {{"alpha", 1}, {"bravo", 2}, {"charlie", 3}, {"delta", 4},
                 {"echo", 5}, {"foxtrot", 6}, {"golf", 7}, {"hotel", 8}});
}

std::array<Ref<IIEValue>, 8> SlotValues() {
  std::array<Ref<IIEValue>, 8> values;
  for (std::size_t i = 0; i < values.size(); ++i) {
    values[i] = TIEValue::Integer(static_cast<std::int32_t>(100 + i));
  }
  return values;
}

// The slots' positions in the template's order, as a matcher would cache them.
std::array<int, 8> SlotIndexes(const IFact& f) {
  std::array<int, 8> indexes{};
  for (std::size_t i = 0; i < kSlots.size(); ++i) {
    indexes[i] = f.Template()->SlotIndex(kSlots[i]);
  }
  return indexes;
}

void BM_SlotGetByName(benchmark::State& state) {
  auto e = LoadEngine(kRecordTemplate);
  Ref<IFact> f = FullRecord(*e);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f->GetValue(kSlots[i++ & 7]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SlotGetByName);

void BM_SlotSetByName(benchmark::State& state) {
  auto e = LoadEngine(kRecordTemplate);
  Ref<IFact> f = FullRecord(*e);
  const auto values = SlotValues();
  std::size_t i = 0;
  for (auto _ : state) {
    f->SetValue(kSlots[i & 7], values[i & 7]);
    ++i;
  }
  benchmark::DoNotOptimize(f->GetValue("hotel"));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SlotSetByName);

void BM_SlotGetByIndex(benchmark::State& state) {
  auto e = LoadEngine(kRecordTemplate);
  Ref<IFact> f = FullRecord(*e);
  const auto indexes = SlotIndexes(*f);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f->ValueAt(indexes[i++ & 7]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SlotGetByIndex);

void BM_SlotSetByIndex(benchmark::State& state) {
  auto e = LoadEngine(kRecordTemplate);
  Ref<IFact> f = FullRecord(*e);
  const auto indexes = SlotIndexes(*f);
  const auto values = SlotValues();
  std::size_t i = 0;
  for (auto _ : state) {
    f->SetValueAt(indexes[i & 7], values[i & 7]);
    ++i;
  }
  benchmark::DoNotOptimize(f->ValueAt(0));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SlotSetByIndex);

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
