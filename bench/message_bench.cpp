// Posted messages dispatched per second, on one thread and from a second thread, next to
// a plain mutex + condition variable queue of std::function doing the same work.
#include <benchmark/benchmark.h>

#include <time.h>
#include <condition_variable>

#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "Host/Application.h"
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

// CPU time of the whole process (both threads), which a busy machine disturbs less
// than the elapsed time.
double ProcessCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

void Finish(benchmark::State& state, int batch, double cpuStart) {
  const double messages = static_cast<double>(state.iterations()) * batch;
  state.SetItemsProcessed(static_cast<std::int64_t>(messages));
  state.counters["cpu_ns_per_msg"] = (ProcessCpuNs() - cpuStart) / messages;
}

constexpr int kOneThreadBatch = 10'000;
constexpr int kTwoThreadBatch = 100'000;

void Messages_OneThread(benchmark::State& state) {
  HWND w = BenchWindow();
  MSG msg;
  const double cpuStart = ProcessCpuNs();
  for (auto _ : state) {
    for (int i = 0; i < kOneThreadBatch; ++i) PostMessageA(w, WM_USER, i, 0);
    for (int i = 0; i < kOneThreadBatch; ++i) {
      GetMessageA(&msg, 0, 0, 0);
      DispatchMessageA(&msg);
    }
  }
  Finish(state, kOneThreadBatch, cpuStart);
  DestroyWindow(w);
}

// The same through the application's loop (its message hook unassigned), which every
// modal wait and blocking call of the components runs on.
void Messages_ApplicationLoop(benchmark::State& state) {
  HWND w = BenchWindow();
  const double cpuStart = ProcessCpuNs();
  for (auto _ : state) {
    for (int i = 0; i < kOneThreadBatch; ++i) PostMessageA(w, WM_USER, i, 0);
    Application->ProcessMessages();
  }
  Finish(state, kOneThreadBatch, cpuStart);
  DestroyWindow(w);
}

void Baseline_OneThread(benchmark::State& state) {
  CondVarQueue queue;
  const double cpuStart = ProcessCpuNs();
  for (auto _ : state) {
    for (int i = 0; i < kOneThreadBatch; ++i) queue.Push([] { ++gHandled; });
    for (int i = 0; i < kOneThreadBatch; ++i) queue.Pop()();
  }
  Finish(state, kOneThreadBatch, cpuStart);
}

void Messages_TwoThreads(benchmark::State& state) {
  HWND w = BenchWindow();
  MSG msg;
  const double cpuStart = ProcessCpuNs();
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
  Finish(state, kTwoThreadBatch, cpuStart);
  DestroyWindow(w);
}

void Baseline_TwoThreads(benchmark::State& state) {
  CondVarQueue queue;
  const double cpuStart = ProcessCpuNs();
  for (auto _ : state) {
    std::thread producer([&queue] {
      for (int i = 0; i < kTwoThreadBatch; ++i) queue.Push([] { ++gHandled; });
    });
    for (int i = 0; i < kTwoThreadBatch; ++i) queue.Pop()();
    producer.join();
  }
  Finish(state, kTwoThreadBatch, cpuStart);
}

BENCHMARK(Messages_OneThread)->UseRealTime();
BENCHMARK(Messages_ApplicationLoop)->UseRealTime();
BENCHMARK(Baseline_OneThread)->UseRealTime();
BENCHMARK(Messages_TwoThreads)->UseRealTime();
BENCHMARK(Baseline_TwoThreads)->UseRealTime();

// Prints the rates side by side with the ratio of this layer to the baseline, and the CPU
// time each spends on a message.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // With repetitions, the median stands for the benchmark.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      const std::string& name = run.run_name.function_name;
      if (auto it = run.counters.find("items_per_second"); it != run.counters.end())
        rates_[name] = it->second.value;
      if (auto it = run.counters.find("cpu_ns_per_msg"); it != run.counters.end())
        cpuNs_[name] = it->second.value;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const char* setting : {"OneThread", "ApplicationLoop", "TwoThreads"}) {
      const std::string ours = std::string("Messages_") + setting;
      const std::string base = std::string("Baseline_") +
                               (setting == std::string("TwoThreads") ? "TwoThreads" : "OneThread");
      if (!rates_.contains(ours) || !rates_.contains(base)) continue;
      std::printf(
          "%-10s messages %6.2f M/s, baseline %6.2f M/s, ratio %.2f;"
          " CPU per message %5.1f ns vs %5.1f ns\n",
          setting, rates_[ours] / 1e6, rates_[base] / 1e6, rates_[ours] / rates_[base],
          cpuNs_[ours], cpuNs_[base]);
    }
  }

 private:
  std::map<std::string, double> cpuNs_;
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
