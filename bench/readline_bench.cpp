// What line mode costs: ReadLine looks at the waiting bytes and then reads exactly the
// line's part of them, so that nothing after the line feed leaves the socket. Measured
// here on 100-character lines that are already waiting, beside the same reads on a plain
// socket (run with --benchmark_repetitions=5 for medians of interleaved runs), and, for
// the waits of a socket in a thread of its own, how much processor time an idle deadline
// wait uses per second.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "WSocket/WSocket.h"

namespace {

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A socket component (in its own thread mode, so no wait control is needed) connected to
// a plain kernel socket that the benchmark writes lines into.
class LinePair {
 public:
  LinePair() {
    FListen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(FListen, 1) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw std::runtime_error("listen failed");
    Sock = std::make_unique<TWSocket>(nullptr);
    Sock->SetMultiThreaded(true);
    Sock->SetAddr("127.0.0.1");
    Sock->SetPort(std::to_string(ntohs(a.sin_port)));
    Sock->Connect();
    FPeer = ::accept(FListen, nullptr, nullptr);
    if (FPeer < 0 || !Sock->Wait(5, wsConnected)) throw std::runtime_error("connect failed");
  }
  ~LinePair() {
    Sock.reset();
    ::close(FPeer);
    ::close(FListen);
  }
  LinePair(const LinePair&) = delete;
  LinePair& operator=(const LinePair&) = delete;

  // Writes Count lines and waits until all of them can be read.
  void Feed(const std::string& Line, int Count) {
    std::string all;
    for (int i = 0; i < Count; ++i) all += Line;
    std::size_t off = 0;
    while (off < all.size()) {
      const ssize_t n = ::send(FPeer, all.data() + off, all.size() - off, 0);
      if (n <= 0) throw std::runtime_error("send failed");
      off += static_cast<std::size_t>(n);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Sock->RcvdCount() < static_cast<std::int32_t>(all.size()))
      if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("no data");
  }

  std::unique_ptr<TWSocket> Sock;

 private:
  int FListen = -1;
  int FPeer = -1;
};

// ReadLines of 100-character lines (plus CR LF) that wait in the socket, fed in batches.
// A read that leaves bytes behind queues a read notification unless one is queued
// already. NotificationsTimed says whether their dispatch counts; it runs once the
// socket is empty.
void ReadLines(benchmark::State& State, bool NotificationsTimed) {
  LinePair pair;
  const std::string line = std::string(100, 'a') + "\r\n";
  constexpr int batch = 500;
  int left = 0;
  std::string got;
  for (auto _ : State) {
    if (left == 0) {
      State.PauseTiming();
      if (!NotificationsTimed) TCustomWSocket::ProcessMessages();
      pair.Feed(line, batch);
      left = batch;
      State.ResumeTiming();
    }
    pair.Sock->ReadLine(5, got);
    --left;
    if (NotificationsTimed && left == 0) TCustomWSocket::ProcessMessages();
    if (got.size() != 100) State.SkipWithError("short line");
  }
  State.SetBytesProcessed(State.iterations() * static_cast<std::int64_t>(line.size()));
}

// One ReadLine of a line that is waiting in the socket.
void BM_ReadLine100(benchmark::State& State) {
  ReadLines(State, false);
}
BENCHMARK(BM_ReadLine100);

// The same, counting also the dispatch of the read notifications that the byte-wise
// reading leaves queued.
void BM_ReadLine100WithNotifications(benchmark::State& State) {
  ReadLines(State, true);
}
BENCHMARK(BM_ReadLine100WithNotifications);

// The yardstick: the same lines read from a plain non-blocking socket the way ReadLine
// reads them, a peek at what waits and a receive of exactly the line's part: two system
// calls per line, and no event loop.
void BM_PlainPeekRecv100(benchmark::State& State) {
  const int lst = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(lst, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(lst, 1) != 0 ||
      ::getsockname(lst, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    State.SkipWithError("listen failed");
    return;
  }
  const int writer = ::socket(AF_INET, SOCK_STREAM, 0);
  if (::connect(writer, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    State.SkipWithError("connect failed");
    return;
  }
  const int reader = ::accept4(lst, nullptr, nullptr, SOCK_NONBLOCK);
  const std::string line = std::string(100, 'a') + "\r\n";
  constexpr int batch = 500;
  std::string all;
  for (int i = 0; i < batch; ++i) all += line;
  int left = 0;
  char bytes[510];
  std::vector<char> peekAll(all.size());
  for (auto _ : State) {
    if (left == 0) {
      State.PauseTiming();
      std::size_t off = 0;
      while (off < all.size()) {
        const ssize_t n = ::send(writer, all.data() + off, all.size() - off, 0);
        if (n <= 0) break;
        off += static_cast<std::size_t>(n);
      }
      // Until all of it can be read, as the component's side waits for it too.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (::recv(reader, peekAll.data(), peekAll.size(), MSG_PEEK) <
                 static_cast<ssize_t>(all.size()) &&
             std::chrono::steady_clock::now() < deadline) {
      }
      left = batch;
      State.ResumeTiming();
    }
    const ssize_t n = ::recv(reader, bytes, sizeof bytes, MSG_PEEK);
    const void* lf = n > 0 ? std::memchr(bytes, '\n', static_cast<std::size_t>(n)) : nullptr;
    const ssize_t take = lf ? static_cast<const char*>(lf) - bytes + 1 : n;
    if (take <= 0 || ::recv(reader, bytes, static_cast<std::size_t>(take), 0) != take ||
        take != static_cast<ssize_t>(line.size()))
      State.SkipWithError("short line");
    --left;
  }
  State.SetBytesProcessed(State.iterations() * static_cast<std::int64_t>(line.size()));
  ::close(reader);
  ::close(writer);
  ::close(lst);
}
BENCHMARK(BM_PlainPeekRecv100);

// Runs IdleSecond once per iteration and reports the processor time used per second of
// wall time.
template <typename F>
void CpuPerWallSecond(benchmark::State& State, F IdleSecond) {
  double cpuPerSecond = 0;
  for (auto _ : State) {
    const double cpu0 = ProcessCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    IdleSecond();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    cpuPerSecond = (ProcessCpuSeconds() - cpu0) / wall;
  }
  State.counters["cpu_s_per_wall_s"] = cpuPerSecond;
}

// An idle Wait of one second in the deadline loop of a socket in its own thread mode.
void BM_IdleDeadlineWait(benchmark::State& State) {
  LinePair pair;
  CpuPerWallSecond(State, [&] { pair.Sock->Wait(1, wsListening); });
}
BENCHMARK(BM_IdleDeadlineWait)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same second spent in a loop that only pumps and compares tick counts, as a loop
// without a sleeping wait would: for comparison.
void BM_IdleSpinForComparison(benchmark::State& State) {
  LinePair pair;
  CpuPerWallSecond(State, [&] {
    const plat::DWORD end = plat::GetTickCount() + 1000;
    while (static_cast<std::int32_t>(end - plat::GetTickCount()) > 0 &&
           pair.Sock->State() != wsListening)
      TCustomWSocket::ProcessMessages();
  });
}
BENCHMARK(BM_IdleSpinForComparison)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
