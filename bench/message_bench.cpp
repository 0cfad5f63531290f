// Posted messages dispatched per second, on one thread and from a second thread, next to
// a plain mutex + condition variable queue of std::function doing the same work.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "Platform/Messages.h"

namespace {

using namespace plat;

std::uint64_t gHandled = 0;

LRESULT CountProc(HWND, UINT message, WPARAM, LPARAM) {
  if (message == WM_USER) ++gHandled;
  return 0;
}

HWND BenchWindow() {
  static const bool registered = [] {
    WNDCLASSA wc;
    wc.lpfnWndProc = CountProc;
    wc.lpszClassName = "MessageBenchWindow";
    return RegisterClassA(&wc) != 0;
  }();
  if (!registered) return 0;
  return CreateWindowExA(0, "MessageBenchWindow", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
}

// The baseline: what a program would write without this layer.
class CondVarQueue {
 public:
  void Push(std::function<void()> f) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(f));
    }
    ready_.notify_one();
  }
  std::function<void()> Pop() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !queue_.empty(); });
    auto f = std::move(queue_.front());
    queue_.pop_front();
    return f;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
};

constexpr int kOneThreadBatch = 10'000;
constexpr int kTwoThreadBatch = 100'000;

void Messages_OneThread(benchmark::State& state) {
  HWND w = BenchWindow();
  MSG msg;
  for (auto _ : state) {
    for (int i = 0; i < kOneThreadBatch; ++i) PostMessageA(w, WM_USER, i, 0);
    for (int i = 0; i < kOneThreadBatch; ++i) {
      GetMessageA(&msg, 0, 0, 0);
      DispatchMessageA(&msg);
    }
  }
  state.SetItemsProcessed(state.iterations() * kOneThreadBatch);
  DestroyWindow(w);
}

void Baseline_OneThread(benchmark::State& state) {
  CondVarQueue queue;
  for (auto _ : state) {
    for (int i = 0; i < kOneThreadBatch; ++i) queue.Push([] { ++gHandled; });
    for (int i = 0; i < kOneThreadBatch; ++i) queue.Pop()();
  }
  state.SetItemsProcessed(state.iterations() * kOneThreadBatch);
}

void Messages_TwoThreads(benchmark::State& state) {
  HWND w = BenchWindow();
  MSG msg;
  for (auto _ : state) {
    std::thread producer([w] {
      for (int i = 0; i < kTwoThreadBatch; ++i) PostMessageA(w, WM_USER, i, 0);
    });
    for (int i = 0; i < kTwoThreadBatch; ++i) {
      GetMessageA(&msg, 0, 0, 0);
      DispatchMessageA(&msg);
    }
    producer.join();
  }
  state.SetItemsProcessed(state.iterations() * kTwoThreadBatch);
  DestroyWindow(w);
}

void Baseline_TwoThreads(benchmark::State& state) {
  CondVarQueue queue;
  for (auto _ : state) {
    std::thread producer([&queue] {
      for (int i = 0; i < kTwoThreadBatch; ++i) queue.Push([] { ++gHandled; });
    });
    for (int i = 0; i < kTwoThreadBatch; ++i) queue.Pop()();
    producer.join();
  }
  state.SetItemsProcessed(state.iterations() * kTwoThreadBatch);
}

BENCHMARK(Messages_OneThread)->UseRealTime();
BENCHMARK(Baseline_OneThread)->UseRealTime();
BENCHMARK(Messages_TwoThreads)->UseRealTime();
BENCHMARK(Baseline_TwoThreads)->UseRealTime();

// Prints the rates side by side, with the ratio of this layer to the baseline.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // With repetitions, the median stands for the benchmark.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      auto it = run.counters.find("items_per_second");
      if (it != run.counters.end()) rates_[run.run_name.function_name] = it->second.value;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const char* setting : {"OneThread", "TwoThreads"}) {
      const double ours = Rate(std::string("Messages_") + setting);
      const double base = Rate(std::string("Baseline_") + setting);
      if (ours <= 0 || base <= 0) continue;
      std::printf("%-10s messages %6.2f M/s, baseline %6.2f M/s, ratio %.2f\n", setting, ours / 1e6,
                  base / 1e6, ours / base);
    }
  }

 private:
  double Rate(const std::string& name) const {
    auto it = rates_.find(name);
    return it == rates_.end() ? 0 : it->second;
  }
  std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
