// Bulk transfer over loopback, side by side in one run:
//   component  a TWSocket client sends in Send calls of 64 KiB to a TWSocket server that
//              reads in OnDataAvailable (64 KiB reads); both in this thread;
//   plain 1514 one thread, two non-blocking sockets, send() of 1514 bytes (the size of
//              the component's send chunks) and recv() of 64 KiB;
//   plain 64K  the same with send() of 64 KiB (what loopback takes at best);
//   peers      the event-loop libraries of bench/peers in the component's shape.
// Prints each run and the medians, the component's ratio to both plain loops and to each
// peer, and the target: at least the peers' rate per processor second.
//
//   socket_bulk_bench [--bytes N] [--reps R] [--batch B] [--only V]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

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
  // For profiling one variant alone: "component", "1514" or "64k"; empty runs all three.
  std::string only;
};

// Throughput of one run: bytes per second of wall time and per second of this thread's
// processor time (user + system; loopback delivery runs in the sending thread). The
// second is steadier on a machine that other work keeps busy. 0 for a failed run.
struct Rate {
  double wall = 0;
  double cpu = 0;
};

double ThreadCpuSeconds() {
  rusage ru{};
  ::getrusage(RUSAGE_THREAD, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

class Stopwatch {
 public:
  Stopwatch() : FStart(Clock::now()), FCpu(ThreadCpuSeconds()) {}
  Rate RateFor(std::uint64_t bytes) const {
    const double wall = std::chrono::duration<double>(Clock::now() - FStart).count();
    const double cpu = ThreadCpuSeconds() - FCpu;
    return {static_cast<double>(bytes) / wall, cpu > 0 ? static_cast<double>(bytes) / cpu : 0};
  }

 private:
  Clock::time_point FStart;
  double FCpu;
};

[[noreturn]] void Die(const char* what) {
  std::perror(what);
  std::exit(1);
}

// The component on both ends. Answers bytes per second, 0 on failure.
Rate RunComponent(const Options& opt, const std::vector<char>& src) {
  std::uint64_t received = 0, issued = 0;
  std::vector<char> rbuf(kReadSize);
  std::unique_ptr<TWSocket> serverConn;
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
    serverConn = std::make_unique<TWSocket>(nullptr);
    TWSocket* c = serverConn.get();
    c->OnDataAvailable = [&, c](TObject*, std::uint16_t) {
      const int n = c->Receive(rbuf.data(), static_cast<std::int32_t>(rbuf.size()));
      if (n > 0) received += static_cast<std::uint64_t>(n);
    };
    c->Dup(h);
  };
  if (listener.Listen() != 0) return {};

  TWSocket client(nullptr);
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
    if (e != 0) failed = true;
  };
  client.OnDataSent = [&](TObject*, std::uint16_t) { feed(); };
  client.OnSessionClosed = [&](TObject*, std::uint16_t) {
    failed = failed || received < opt.bytes;
  };

  const Stopwatch watch;
  client.Connect();
  const bool done = testsupport::PumpUntil([&] { return received >= opt.bytes || failed; },
                                           std::chrono::seconds(300));
  const Rate rate = watch.RateFor(opt.bytes);
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

// The plain loop: write until the system refuses, read until nothing is left, wait only
// when neither side can move.
Rate RunPlain(const Options& opt, const std::vector<char>& src, std::size_t writeSize) {
  int snd = -1, rcv = -1;
  PlainPair(snd, rcv);
  std::vector<char> rbuf(kReadSize);
  std::uint64_t sent = 0, received = 0;
  const Stopwatch watch;
  while (received < opt.bytes) {
    bool moved = false;
    while (sent < opt.bytes) {
      const auto want =
          static_cast<std::size_t>(std::min<std::uint64_t>(writeSize, opt.bytes - sent));
      const ssize_t n = ::send(snd, src.data(), want, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::uint64_t>(n);
      moved = true;
    }
    for (;;) {
      const ssize_t n = ::recv(rcv, rbuf.data(), rbuf.size(), 0);
      if (n <= 0) break;
      received += static_cast<std::uint64_t>(n);
      moved = true;
    }
    if (!moved) {
      pollfd p[2] = {{snd, static_cast<short>(sent < opt.bytes ? POLLOUT : 0), 0},
                     {rcv, POLLIN, 0}};
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
  auto median = [](const std::vector<Rate>& v, bool byCpu) {
    std::vector<double> d;
    for (const Rate& x : v) d.push_back(byCpu ? x.cpu : x.wall);
    return Median(d);
  };
  std::printf("\nmedians side by side %15s %12s %12s %14s %14s\n", "MB/s wall", "MB/s per cpu",
              "cpu s", "comp/peer wall", "comp/peer cpu");
  const double cw = median(comp, false), cc = median(comp, true);
  auto row = [&](const std::string& name, double w, double c) {
    std::printf("%-36s %12.0f %12.0f %12.3f %14.2f %14.2f\n", name.c_str(), w / 1e6, c / 1e6,
                c > 0 ? static_cast<double>(bytes) / c : 0, w > 0 ? cw / w : 0, c > 0 ? cc / c : 0);
  };
  row("TWSocket", cw, cc);
  for (std::size_t i = 0; i < peerList.size(); ++i)
    row(peerList[i].name, median(runs[i], false), median(runs[i], true));
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
    else if (k == "--only")
      opt.only = argv[i + 1];
    else if (k == "--batch")
      opt.batch = std::max<std::size_t>(kPiece, std::strtoull(argv[i + 1], nullptr, 10));
    else {
      std::fprintf(stderr, "usage: %s [--bytes N] [--reps R] [--batch B] [--only V]\n", argv[0]);
      return 2;
    }
  }
  std::vector<char> src(kPiece);
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<char>(i * 131 + (i >> 8));

  std::printf("loopback bulk transfer: %llu bytes per run, %d runs, reads of %zu bytes\n",
              static_cast<unsigned long long>(opt.bytes), opt.reps, kReadSize);
  std::printf("component: Send calls of %zu bytes, %zu bytes handed over per OnDataSent\n\n",
              kPiece, opt.batch);
  std::vector<Rate> comp, p1514, p64k;
  const std::vector<peers::Peer> peerList = peers::Available();
  std::vector<std::vector<Rate>> peerRuns(peerList.size());
  for (const std::string& m : peers::Missing()) std::printf("%s\n", m.c_str());
  for (int r = 0; r < opt.reps; ++r) {
    // Interleaved so that drifts of the machine hit all three alike.
    auto want = [&](const char* v) { return opt.only.empty() || opt.only == v; };
    comp.push_back(want("component") ? RunComponent(opt, src) : Rate{});
    p1514.push_back(want("1514") ? RunPlain(opt, src, 1514) : Rate{});
    p64k.push_back(want("64k") ? RunPlain(opt, src, kPiece) : Rate{});
    std::printf(
        "run %d (MB/s wall | per cpu-s): component %6.0f | %6.0f   plain 1514 %6.0f | %6.0f"
        "   plain 64K %6.0f | %6.0f\n",
        r + 1, comp.back().wall / 1e6, comp.back().cpu / 1e6, p1514.back().wall / 1e6,
        p1514.back().cpu / 1e6, p64k.back().wall / 1e6, p64k.back().cpu / 1e6);
    for (std::size_t i = 0; i < peerList.size(); ++i) {
      peerRuns[i].push_back(want(peerList[i].name.substr(0, peerList[i].name.find(' ')).c_str())
                                ? RunPeer(peerList[i], opt, src)
                                : Rate{});
      std::printf("      %-20s %6.0f | %6.0f\n", peerList[i].name.c_str(),
                  peerRuns[i].back().wall / 1e6, peerRuns[i].back().cpu / 1e6);
    }
    std::fflush(stdout);
  }
  bool ok = true;
  for (const auto* v : {&comp, &p1514, &p64k})
    for (const Rate& x : *v) ok = ok && x.wall > 0;
  for (const bool byCpu : {false, true}) {
    auto pick = [byCpu](const std::vector<Rate>& v) {
      std::vector<double> d;
      for (const Rate& x : v) d.push_back(byCpu ? x.cpu : x.wall);
      return Median(d);
    };
    const double c = pick(comp), a = pick(p1514), b = pick(p64k);
    std::printf("\nmedian, %-26s %12s %14s %14s\n",
                byCpu ? "per second of processor" : "per second of wall time", "MB/s",
                "vs plain 1514", "vs plain 64K");
    std::printf("%-34s %12.0f %14.2f %14.2f\n", "TWSocket, Send of 64 KiB", c / 1e6,
                a > 0 ? c / a : 0, b > 0 ? c / b : 0);
    std::printf("%-34s %12.0f %14.2f %14.2f\n", "plain loop, writes of 1514 B", a / 1e6, 1.0,
                b > 0 ? a / b : 0);
    std::printf("%-34s %12.0f %14.2f %14.2f\n", "plain loop, writes of 64 KiB", b / 1e6,
                a > 0 ? b / a : 0, 1.0);
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
  }
  std::vector<double> plainCpu;
  for (const Rate& x : p64k) plainCpu.push_back(x.cpu);
  const double pc = Median(plainCpu);
  std::printf("reference: component / plain 64 KiB loop per cpu-s: %.2f\n", pc > 0 ? cc / pc : 0);
  if (peerList.empty()) std::printf("target: no event-loop peer built, nothing to compare\n");
  return ok ? 0 : 1;
}
