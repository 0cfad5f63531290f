// Bulk transfer over loopback, side by side in one run:
//   component  a TWSocket client sends in Send calls of 64 KiB to a TWSocket server that
//              reads in OnDataAvailable (64 KiB reads); both in this thread;
//   plain 1514 one thread, two non-blocking sockets, send() of 1514 bytes (the size of
//              the component's send chunks) and recv() of 64 KiB;
//   plain 64K  the same with send() of 64 KiB;
//   64K step   one send() of 64 KiB, then reads until it has arrived: what loopback takes
//              when the bytes are read while they are still in the processor's cache;
//   peers      the event-loop libraries of bench/peers in the component's shape.
// Prints each run and the medians, the component's ratio to the plain loops and to each
// peer, and the targets: at least the peers' rate per processor second, and at most 1.2
// times their system calls (this thread's, per 64 MiB).
//
// Processor time is all the time the transfer costs: this process's (every thread, user
// and system), plus the interrupt and softirq time and the ksoftirqd thread of the
// processor the benchmark is pinned to. Loopback delivery runs as softirq work on the
// sending processor, and with interrupt time accounting the kernel does not charge it to
// the thread it interrupted: this thread's own figure misses a third or more of a bulk
// transfer (printed beside it for comparison). Softirq time is counted in ticks, and
// other traffic on that processor during a run adds to it.
//
// Run it both ways, every variant alike: --batch 65536 hands over one write at a time (the
// lockstep of a sender that waits for each write to complete), a large --batch writes
// until the system refuses. --cc sets a congestion control on every socket of the run
// (cubic against the machine's default: pacing changes what queued bytes cost).
//
//   socket_bulk_bench [--bytes N] [--reps R] [--batch B] [--cc NAME] [--only V]
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "SyscallCounter.h"
#include "WSocket/WSocket.h"
#include "peers/Peers.h"
#include "tests/support/Pump.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kPiece = 64 * 1024;
constexpr std::size_t kReadSize = 64 * 1024;

struct Options {
  std::uint64_t bytes = 1ull << 30;
  int reps = 3;
  // Bytes handed to Send (in 64 KiB calls) each time the queue has drained.
  std::size_t batch = 256 * 1024;
  // For profiling one variant alone: "component", "1514", "64k", "step" or a peer's first
  // word; empty runs them all.
  std::string only;
  std::string congestion;  // empty: the machine's default
};

// The component with its handle in reach, for the congestion control.
class TBulkSocket : public TWSocket {
 public:
  using TWSocket::TWSocket;
  bool Congestion(const std::string& name) {
    if (name.empty()) return true;
    if (plat::setsockopt(FSocketHandle, IPPROTO_TCP, TCP_CONGESTION, name.data(),
                         static_cast<int>(name.size())) == 0)
      return true;
    std::fprintf(stderr, "TCP_CONGESTION %s refused\n", name.c_str());
    return false;
  }
};

// Throughput of one run: bytes per second of wall time, per second of all the processor
// time the run cost (see the top of the file), and per second of this thread's own
// processor time. 0 for a failed run.
struct Rate {
  double wall = 0;
  double cpu = 0;
  double thread = 0;
  double calls = -1;  // system calls of this thread per 64 MiB; -1 where they cannot be counted
  // The component's bytes handed to Send and not yet read, on average over its reads: how
  // far the writer runs ahead of its reader.
  double ahead = 0;
};

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double UsageSeconds(int who) {
  rusage ru{};
  ::getrusage(who, &ru);
  return Seconds(ru.ru_utime) + Seconds(ru.ru_stime);
}

// The processor the benchmark runs on, pinned there by main.
int gCpu = -1;

// The kernel's time outside any task on that processor: interrupts and softirqs.
double IrqSeconds() {
  std::ifstream in("/proc/stat");
  const std::string want = "cpu" + std::to_string(gCpu);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string cpu;
    unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
    fields >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq;
    if (cpu == want)
      return static_cast<double>(irq + softirq) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }
  return 0;
}

// The processor time of the thread that runs its softirq work when it is deferred.
double KsoftirqdSeconds() {
  static const std::string stat = [] {
    const std::string want = "ksoftirqd/" + std::to_string(gCpu);
    std::string found;
    if (DIR* d = ::opendir("/proc")) {
      while (const dirent* e = ::readdir(d)) {
        const std::string dir = std::string("/proc/") + e->d_name;
        std::ifstream comm(dir + "/comm");
        std::string name;
        if (std::getline(comm, name) && name == want) found = dir + "/stat";
      }
      ::closedir(d);
    }
    return found;
  }();
  std::ifstream in(stat);
  std::string line;
  std::getline(in, line);
  // Fields after the parenthesised name: state is the 3rd, utime and stime the 14th and
  // 15th.
  const auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
    if (i == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double AllCpuSeconds() {
  return UsageSeconds(RUSAGE_SELF) + IrqSeconds() + KsoftirqdSeconds();
}

class Stopwatch {
 public:
  Stopwatch() : FStart(Clock::now()), FCpu(AllCpuSeconds()), FThread(UsageSeconds(RUSAGE_THREAD)) {}
  Rate RateFor(std::uint64_t bytes) const {
    // Counted before the clocks are read, whose files cost calls of their own.
    const long long calls = FCalls0 >= 0 ? FCalls.Calls() - FCalls0 : -1;
    const double wall = std::chrono::duration<double>(Clock::now() - FStart).count();
    const double thread = UsageSeconds(RUSAGE_THREAD) - FThread;
    const double cpu = AllCpuSeconds() - FCpu;
    const auto per = [bytes](double secs) {
      return secs > 0 ? static_cast<double>(bytes) / secs : 0;
    };
    const double per64MiB =
        calls >= 0 && bytes > 0 ? static_cast<double>(calls) * (64.0 * 1024 * 1024) / bytes : -1;
    return {per(wall), per(cpu), per(thread), per64MiB};
  }

 private:
  Clock::time_point FStart;
  double FCpu, FThread;
  SyscallCounter FCalls;
  long long FCalls0 = FCalls.Calls();
};

[[noreturn]] void Die(const char* what) {
  std::perror(what);
  std::exit(1);
}

// The component on both ends. Answers bytes per second, 0 on failure.
Rate RunComponent(const Options& opt, const std::vector<char>& src) {
  std::uint64_t received = 0, issued = 0, reads = 0;
  double ahead = 0;
  std::vector<char> rbuf(kReadSize);
  std::unique_ptr<TBulkSocket> serverConn;
  bool failed = false;

  TWSocket listener(nullptr);
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  listener.SetProto("tcp");
  listener.OnSessionAvailable = [&](TObject*, std::uint16_t) {
    const plat::SOCKET h = listener.Accept();
    if (h == plat::INVALID_SOCKET) {
      failed = true;
      return;
    }
    serverConn = std::make_unique<TBulkSocket>(nullptr);
    TBulkSocket* c = serverConn.get();
    c->OnDataAvailable = [&, c](TObject*, std::uint16_t) {
      const int n = c->Receive(rbuf.data(), static_cast<std::int32_t>(rbuf.size()));
      if (n <= 0) return;
      ahead += static_cast<double>(issued - received);
      ++reads;
      received += static_cast<std::uint64_t>(n);
    };
    c->Dup(h);
    failed = failed || !c->Congestion(opt.congestion);
  };
  if (listener.Listen() != 0) return {};

  TBulkSocket client(nullptr);
  client.SetAddr("127.0.0.1");
  client.SetPort(listener.GetXPort());
  client.SetProto("tcp");
  auto feed = [&] {
    std::size_t now = 0;
    while (issued < opt.bytes && now < opt.batch) {
      const auto n = static_cast<std::int32_t>(std::min<std::uint64_t>(kPiece, opt.bytes - issued));
      if (client.Send(src.data(), n) != n) {
        failed = true;
        return;
      }
      issued += static_cast<std::uint64_t>(n);
      now += static_cast<std::size_t>(n);
    }
  };
  client.OnSessionConnected = [&](TObject*, std::uint16_t e) {
    if (e != 0 || !client.Congestion(opt.congestion)) failed = true;
  };
  client.OnDataSent = [&](TObject*, std::uint16_t) { feed(); };
  client.OnSessionClosed = [&](TObject*, std::uint16_t) {
    failed = failed || received < opt.bytes;
  };

  const Stopwatch watch;
  client.Connect();
  const bool done = testsupport::PumpUntil([&] { return received >= opt.bytes || failed; },
                                           std::chrono::seconds(300));
  Rate rate = watch.RateFor(opt.bytes);
  rate.ahead = reads > 0 ? ahead / static_cast<double>(reads) : 0;
  client.Close();
  testsupport::PumpFor(std::chrono::milliseconds(20));
  if (!done || failed || received != opt.bytes) {
    std::fprintf(stderr, "component run failed: %llu of %llu bytes\n",
                 static_cast<unsigned long long>(received),
                 static_cast<unsigned long long>(opt.bytes));
    return {};
  }
  return rate;
}

// Two connected non-blocking loopback sockets.
void PlainPair(int& sender, int& receiver) {
  const int lst = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (lst < 0) Die("socket");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(lst, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(lst, 1) != 0 ||
      ::getsockname(lst, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    Die("listen");
  sender = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (sender < 0 || ::connect(sender, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    Die("connect");
  receiver = ::accept4(lst, nullptr, nullptr, SOCK_CLOEXEC);
  if (receiver < 0) Die("accept");
  ::close(lst);
  for (int fd : {sender, receiver}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// The plain loop: write until the system refuses (one write only, when lockstep), read
// until nothing is left, wait only when neither side can move.
Rate RunPlain(const Options& opt, const std::vector<char>& src, std::size_t writeSize,
              bool lockstep = false) {
  int snd = -1, rcv = -1;
  PlainPair(snd, rcv);
  if (!peers::SetCongestion(snd, opt.congestion) || !peers::SetCongestion(rcv, opt.congestion))
    return {};
  std::vector<char> rbuf(kReadSize);
  std::uint64_t sent = 0, received = 0;
  const Stopwatch watch;
  while (received < opt.bytes) {
    bool moved = false;
    while (sent < opt.bytes && (!lockstep || received == sent)) {
      const auto want =
          static_cast<std::size_t>(std::min<std::uint64_t>(writeSize, opt.bytes - sent));
      const ssize_t n = ::send(snd, src.data(), want, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::uint64_t>(n);
      moved = true;
      if (lockstep) break;
    }
    for (;;) {
      const ssize_t n = ::recv(rcv, rbuf.data(), rbuf.size(), 0);
      if (n <= 0) break;
      received += static_cast<std::uint64_t>(n);
      moved = true;
    }
    if (!moved) {
      const bool canSend = sent < opt.bytes && (!lockstep || received == sent);
      pollfd p[2] = {{snd, static_cast<short>(canSend ? POLLOUT : 0), 0}, {rcv, POLLIN, 0}};
      if (::poll(p, 2, 10000) <= 0) {
        std::fprintf(stderr, "plain loop stalled\n");
        break;
      }
    }
  }
  const Rate rate = watch.RateFor(opt.bytes);
  ::close(snd);
  ::close(rcv);
  return received == opt.bytes ? rate : Rate{};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// A peer library in the component's shape: pieces of 64 KiB, a batch handed over each
// time the earlier writes have completed, reads of 64 KiB.
Rate RunPeer(const peers::Peer& peer, const Options& opt, const std::vector<char>& src) {
  peers::BulkShape shape;
  shape.bytes = opt.bytes;
  shape.piece = kPiece;
  shape.batch = opt.batch;
  shape.readSize = kReadSize;
  shape.src = src.data();
  shape.congestion = opt.congestion;
  const Stopwatch watch;
  const bool ok = peer.bulk(shape);
  const Rate rate = watch.RateFor(opt.bytes);
  if (!ok) std::fprintf(stderr, "%s run failed\n", peer.name.c_str());
  return ok ? rate : Rate{};
}

// The peers' medians beside the component's, wall-time rate, rate per processor second
// and the processor seconds one transfer takes.
void PrintPeers(const std::vector<peers::Peer>& peerList, const std::vector<Rate>& comp,
                const std::vector<std::vector<Rate>>& runs, std::uint64_t bytes) {
  auto median = [](const std::vector<Rate>& v, double Rate::*field) {
    std::vector<double> d;
    for (const Rate& x : v) d.push_back(x.*field);
    return Median(d);
  };
  std::printf("\nmedians side by side %15s %12s %12s %12s %12s %14s %14s\n", "MB/s wall",
              "MB/s per cpu", "cpu s", "per thread", "calls/64MiB", "comp/peer wall",
              "comp/peer cpu");
  const double cw = median(comp, &Rate::wall), cc = median(comp, &Rate::cpu);
  auto row = [&](const std::string& name, const std::vector<Rate>& v) {
    const double w = median(v, &Rate::wall), c = median(v, &Rate::cpu);
    std::printf("%-36s %12.0f %12.0f %12.3f %12.0f %12.0f %14.2f %14.2f\n", name.c_str(), w / 1e6,
                c / 1e6, c > 0 ? static_cast<double>(bytes) / c : 0, median(v, &Rate::thread) / 1e6,
                median(v, &Rate::calls), w > 0 ? cw / w : 0, c > 0 ? cc / c : 0);
  };
  row("TWSocket", comp);
  for (std::size_t i = 0; i < peerList.size(); ++i) row(peerList[i].name, runs[i]);
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i];
    if (k == "--bytes")
      opt.bytes = std::strtoull(argv[i + 1], nullptr, 10);
    else if (k == "--reps")
      opt.reps = std::max(1, std::atoi(argv[i + 1]));
    else if (k == "--cc")
      opt.congestion = argv[i + 1];
    else if (k == "--only")
      opt.only = argv[i + 1];
    else if (k == "--batch")
      opt.batch = std::max<std::size_t>(kPiece, std::strtoull(argv[i + 1], nullptr, 10));
    else {
      std::fprintf(stderr, "usage: %s [--bytes N] [--reps R] [--batch B] [--cc NAME] [--only V]\n",
                   argv[0]);
      return 2;
    }
  }
  // One processor, so that the softirq work the transfer causes is counted where it runs.
  gCpu = ::sched_getcpu();
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(gCpu, &one);
  if (gCpu < 0 || ::sched_setaffinity(0, sizeof one, &one) != 0) Die("sched_setaffinity");
  std::vector<char> src(kPiece);
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<char>(i * 131 + (i >> 8));

  std::printf(
      "loopback bulk transfer: %llu bytes per run, %d runs, reads of %zu bytes, on cpu %d\n",
      static_cast<unsigned long long>(opt.bytes), opt.reps, kReadSize, gCpu);
  std::printf("component: Send calls of %zu bytes, %zu bytes handed over per OnDataSent\n", kPiece,
              opt.batch);
  std::printf("congestion control: %s\n\n",
              opt.congestion.empty() ? "the machine's default" : opt.congestion.c_str());
  std::vector<Rate> comp, p1514, p64k, pStep;
  const std::vector<peers::Peer> peerList = peers::Available();
  std::vector<std::vector<Rate>> peerRuns(peerList.size());
  for (const std::string& m : peers::Missing()) std::printf("%s\n", m.c_str());
  auto show = [](const char* name, const Rate& x) {
    std::printf("      %-22s %6.0f | %6.0f | %6.0f", name, x.wall / 1e6, x.cpu / 1e6,
                x.thread / 1e6);
    if (x.ahead > 0) std::printf("   %.0f KiB ahead of the reader", x.ahead / 1024);
    std::printf("\n");
  };
  std::printf("MB/s: wall | per cpu-s, all the run cost | per cpu-s of this thread alone\n");
  for (int r = 0; r < opt.reps; ++r) {
    // Interleaved so that drifts of the machine hit all variants alike; the order turns by
    // one each round, so that no variant always follows the same one (a transfer leaves
    // the caches and the socket memory as it found them only roughly).
    auto want = [&](const char* v) { return opt.only.empty() || opt.only == v; };
    const std::size_t variants = 4 + peerList.size();
    std::printf("run %d\n", r + 1);
    for (std::size_t k = 0; k < variants; ++k) {
      const std::size_t v = (k + static_cast<std::size_t>(r)) % variants;
      switch (v) {
        case 0:
          comp.push_back(want("component") ? RunComponent(opt, src) : Rate{});
          show("component", comp.back());
          break;
        case 1:
          p1514.push_back(want("1514") ? RunPlain(opt, src, 1514) : Rate{});
          show("plain 1514", p1514.back());
          break;
        case 2:
          p64k.push_back(want("64k") ? RunPlain(opt, src, kPiece) : Rate{});
          show("plain 64K", p64k.back());
          break;
        case 3:
          pStep.push_back(want("step") ? RunPlain(opt, src, kPiece, true) : Rate{});
          show("plain 64K step", pStep.back());
          break;
        default: {
          const peers::Peer& peer = peerList[v - 4];
          peerRuns[v - 4].push_back(want(peer.name.substr(0, peer.name.find(' ')).c_str())
                                        ? RunPeer(peer, opt, src)
                                        : Rate{});
          show(peer.name.c_str(), peerRuns[v - 4].back());
        }
      }
      std::fflush(stdout);
    }
  }
  bool ok = true;
  for (const auto* v : {&comp, &p1514, &p64k, &pStep})
    for (const Rate& x : *v) ok = ok && (x.wall > 0 || !opt.only.empty());
  for (const int measure : {0, 1, 2}) {
    auto pick = [measure](const std::vector<Rate>& v) {
      std::vector<double> d;
      for (const Rate& x : v) d.push_back(measure == 0 ? x.wall : measure == 1 ? x.cpu : x.thread);
      return Median(d);
    };
    const double c = pick(comp), a = pick(p1514), b = pick(p64k), t = pick(pStep);
    const char* what = measure == 0   ? "per second of wall time"
                       : measure == 1 ? "per processor second, all"
                                      : "per processor second, thread";
    std::printf("\nmedian, %-28s %10s %14s %14s\n", what, "MB/s", "vs plain 1514", "vs plain 64K");
    auto line = [&](const char* name, double x) {
      std::printf("%-36s %10.0f %14.2f %14.2f\n", name, x / 1e6, a > 0 ? x / a : 0,
                  b > 0 ? x / b : 0);
    };
    line("TWSocket, Send of 64 KiB", c);
    line("plain loop, writes of 1514 B", a);
    line("plain loop, writes of 64 KiB", b);
    line("plain, one 64 KiB write, then read", t);
  }
  for (const auto& v : peerRuns)
    for (const Rate& x : v) ok = ok && (x.wall > 0 || !opt.only.empty());
  PrintPeers(peerList, comp, peerRuns, opt.bytes);
  // The yardsticks: the event-loop libraries doing the same work, per processor second
  // (wall time on a shared machine says more about the neighbours), and, for reference,
  // the plain 64 KiB loop, which has no event loop to pay for.
  std::vector<double> compCpu;
  for (const Rate& x : comp) compCpu.push_back(x.cpu);
  const double cc = Median(compCpu);
  for (std::size_t i = 0; i < peerList.size(); ++i) {
    std::vector<double> d;
    for (const Rate& x : peerRuns[i]) d.push_back(x.cpu);
    const double p = Median(d);
    std::printf("target: component >= 1.00 of %s per cpu-s: %.2f %s\n", peerList[i].name.c_str(),
                p > 0 ? cc / p : 0, p > 0 && cc >= p ? "met" : "NOT met");
    std::vector<double> compCalls, peerCalls;
    for (const Rate& x : comp) compCalls.push_back(x.calls);
    for (const Rate& x : peerRuns[i]) peerCalls.push_back(x.calls);
    const double k = Median(compCalls), q = Median(peerCalls);
    if (k > 0 && q > 0)
      std::printf("target: component's system calls per 64 MiB <= 1.20 x %s's: %.2f %s\n",
                  peerList[i].name.c_str(), k / q, k <= 1.2 * q ? "met" : "NOT met");
  }
  std::vector<double> plainCpu;
  for (const Rate& x : p64k) plainCpu.push_back(x.cpu);
  const double pc = Median(plainCpu);
  std::printf("reference: component / plain 64 KiB loop per cpu-s: %.2f\n", pc > 0 ? cc / pc : 0);
  std::vector<double> stepCpu;
  for (const Rate& x : pStep) stepCpu.push_back(x.cpu);
  const double sc = Median(stepCpu);
  std::printf("reference: component / plain 64 KiB write-then-read per cpu-s: %.2f\n",
              sc > 0 ? cc / sc : 0);
  if (peerList.empty()) std::printf("target: no event-loop peer built, nothing to compare\n");
  return ok ? 0 : 1;
}
