// Micro-benchmarks of the value type: construction, cloning, comparison and
// hashing, the operations every slot test and argument goes through.

#include <benchmark/benchmark.h>

#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {
namespace {

void BM_ConstructInteger(benchmark::State& state) {
  std::int32_t i = 0;
  for (auto _ : state) {
    Ref<IIEValue> v = TIEValue::Integer(++i);
    benchmark::DoNotOptimize(v.get());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConstructInteger);

void BM_ConstructAtom(benchmark::State& state) {
  const std::string text(static_cast<std::size_t>(state.range(0)), 'a');
  for (auto _ : state) {
    Ref<IIEValue> v = TIEValue::Atom(text);
    benchmark::DoNotOptimize(v.get());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConstructAtom)->Arg(5)->Arg(40);

void BM_CloneAtom(benchmark::State& state) {
  Ref<IIEValue> atom = TIEValue::Atom("a-rather-long-symbol-name-here");
  for (auto _ : state) {
    Ref<IIEValue> v = atom->Clone();
    benchmark::DoNotOptimize(v.get());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CloneAtom);

void BM_EqualsAtomShared(benchmark::State& state) {
  Ref<IIEValue> a = TIEValue::Atom("customer-42");
  Ref<IIEValue> b = a->Clone();
  for (auto _ : state) {
    benchmark::DoNotOptimize(a->Equals(b.get()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EqualsAtomShared);

void BM_EqualsAtomDistinct(benchmark::State& state) {
  Ref<IIEValue> a = TIEValue::Atom("customer-42");
  Ref<IIEValue> b = TIEValue::Atom("customer-42");
  Ref<IIEValue> c = TIEValue::Atom("customer-43");
  bool flip = false;
  for (auto _ : state) {
    flip = !flip;
    benchmark::DoNotOptimize(a->Equals(flip ? b.get() : c.get()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EqualsAtomDistinct);

void BM_EqualsInteger(benchmark::State& state) {
  Ref<IIEValue> a = TIEValue::Integer(7);
  Ref<IIEValue> b = TIEValue::Integer(7);
  for (auto _ : state) {
    benchmark::DoNotOptimize(a->Equals(b.get()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EqualsInteger);

void BM_EqualsStarIntFloat(benchmark::State& state) {
  Ref<IIEValue> a = TIEValue::Integer(7);
  Ref<IIEValue> b = TIEValue::Float(7.0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(a->EqualsStar(b.get()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EqualsStarIntFloat);

void BM_HashAtom(benchmark::State& state) {
  Ref<IIEValue> a = TIEValue::Atom("customer-42");
  for (auto _ : state) {
    benchmark::DoNotOptimize(a->GetHashCode());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HashAtom);

void BM_HashList(benchmark::State& state) {
  auto list = MakeRef<TValueVector>();
  for (int i = 0; i < state.range(0); ++i) {
    list->Add(TIEValue::Integer(i));
  }
  Ref<IIEValue> v = MakeRef<TIEValue>(Ref<IValueVector>(list));
  for (auto _ : state) {
    benchmark::DoNotOptimize(v->GetHashCode());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_HashList)->Arg(8)->Arg(64);

void BM_FloatToString(benchmark::State& state) {
  Ref<IIEValue> v = TIEValue::Float(1234.56789);
  for (auto _ : state) {
    benchmark::DoNotOptimize(v->ToString());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FloatToString);

}  // namespace
}  // namespace zephro
