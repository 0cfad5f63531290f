// Processor time that a modal wait costs the user-interface thread while it waits.
// "Time" is the wall clock (ticks x interval); "CPU" is what the loop burnt meanwhile:
// close to nothing when it sleeps until the next message, close to "Time" when an
// OnWaiting handler makes it spin.
#include <benchmark/benchmark.h>

#include "Host/Application.h"
#include "Wait/Wait.h"

namespace {

void RunModal(benchmark::State& State, bool WithOnWaiting) {
  TWait wait(nullptr);
  wait.SetVisible(false);
  wait.SetInterval(5);
  std::int64_t passes = 0;
  if (WithOnWaiting) wait.OnWaiting = [&](TObject*) { ++passes; };
  for (auto _ : State) {
    wait.SetCaption("10");
    wait.StartModal();
    benchmark::DoNotOptimize(wait.ModalResult());
  }
  State.counters["passes/wait"] =
      benchmark::Counter(static_cast<double>(passes), benchmark::Counter::kAvgIterations);
}

void BM_ModalWaitSleeping(benchmark::State& State) {
  RunModal(State, false);
}
void BM_ModalWaitWithOnWaiting(benchmark::State& State) {
  RunModal(State, true);
}

BENCHMARK(BM_ModalWaitSleeping)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ModalWaitWithOnWaiting)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
