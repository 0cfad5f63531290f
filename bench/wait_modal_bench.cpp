// Processor time that a modal wait costs the user-interface thread while it waits.
// "Time" is the wall clock (ticks x interval); "CPU" is what the loop burnt meanwhile:
// close to nothing when it sleeps until the next message, close to "Time" when an
// OnWaiting handler makes it spin.
#include <benchmark/benchmark.h>

#include "Host/Application.h"
#include "Wait/Wait.h"

namespace {

void RunModal(benchmark::State& State, bool WithOnWaiting) {
  TWait Wait(nullptr);
  Wait.SetVisible(false);
  Wait.SetInterval(5);
  std::int64_t Passes = 0;
  if (WithOnWaiting) Wait.OnWaiting = [&](TObject*) { ++Passes; };
  for (auto _ : State) {
    Wait.SetCaption("10");
    Wait.StartModal();
    benchmark::DoNotOptimize(Wait.ModalResult());
  }
  State.counters["passes/wait"] =
      benchmark::Counter(static_cast<double>(Passes), benchmark::Counter::kAvgIterations);
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
