// Many simultaneous loopback connections served by one thread: a listening TWSocket
// accepts each connection into a TWSocket of its own (Dup), which echoes one small
// message; the connections then stay open, idle, until all have been served.
//
// The clients are plain non-blocking sockets in a separate process (forked before
// anything else starts), so that the server process's memory and descriptors are its
// own. They keep at most --window connections between connect and echo, no more than
// the listening queue of 5 that the component asks for can hold: a connection that the
// system had to drop would come back only after its one-second retry.
//
// Reported per round: the time to accept and echo all connections, per connection; the
// server's system calls from the first connection to the last close, per connection; the
// process's resident memory and heap in use before and with all connections idle, per
// connection; the peak resident memory. Rounds of growing size show whether any step
// costs more as the number of open sockets grows.
//
// The component and the event-loop libraries of bench/peers serve --reps rounds of the
// same size each, interleaved (the order turns by one each round), each round in a server
// process of its own forked from the still fresh one, so that no server inherits memory
// another has freed; the medians are printed side by side. Then, unless --no-sweep, the
// component serves rounds of growing size in this process.
//
//   socket_many_bench [--conns N] [--window W] [--reps R] [--no-sweep]
#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SyscallCounter.h"
#include "WSocket/WSocket.h"
#include "peers/Peers.h"
#include "tests/support/Pump.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMsgLen = 16;

void Message(int i, char* out) {
  std::snprintf(out, kMsgLen + 1, "conn-%09d\n", i);
}

// ---- the client process -------------------------------------------------------------

bool WriteAll(int fd, const std::string& s) {
  std::size_t off = 0;
  while (off < s.size()) {
    const ssize_t n = ::write(fd, s.data() + off, s.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    off += static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadLine(int fd, std::string& line, int timeoutMs) {
  line.clear();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    char c;
    const ssize_t n = ::read(fd, &c, 1);
    if (n == 1) {
      if (c == '\n') return true;
      line.push_back(c);
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(left));
  }
}

struct ClientConn {
  int fd = -1;
  std::uint8_t state = 0;  // 0 idle, 1 connecting, 2 awaiting echo, 3 echoed
  std::uint8_t got = 0;
  bool bad = false;
};

// Opens n connections to port, at most `window` between connect and echo. Answers the
// number of failures.
int ClientRound(int n, std::uint16_t port, int window) {
  std::vector<ClientConn> conns(static_cast<std::size_t>(n));
  const int ep = ::epoll_create1(EPOLL_CLOEXEC);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  int started = 0, done = 0, inflight = 0, failures = 0;
  char msg[kMsgLen + 1], buf[64];
  std::vector<epoll_event> events(256);
  const auto deadline = Clock::now() + std::chrono::seconds(120);
  while (done < n && Clock::now() < deadline) {
    while (started < n && inflight < window) {
      ClientConn& c = conns[static_cast<std::size_t>(started)];
      c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (c.fd < 0) {
        std::perror("client socket");
        return n - done;
      }
      const int r = ::connect(c.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      if (r != 0 && errno != EINPROGRESS) {
        std::perror("client connect");
        return n - done;
      }
      c.state = 1;
      epoll_event ev{};
      ev.events = EPOLLOUT;
      ev.data.u32 = static_cast<std::uint32_t>(started);
      ::epoll_ctl(ep, EPOLL_CTL_ADD, c.fd, &ev);
      ++started;
      ++inflight;
    }
    const int k = ::epoll_wait(ep, events.data(), static_cast<int>(events.size()), 1000);
    for (int e = 0; e < k; ++e) {
      const auto i = events[static_cast<std::size_t>(e)].data.u32;
      ClientConn& c = conns[i];
      if (c.state == 1) {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
        Message(static_cast<int>(i), msg);
        if (err != 0 || ::send(c.fd, msg, kMsgLen, MSG_NOSIGNAL) != static_cast<ssize_t>(kMsgLen)) {
          c.bad = true;
        }
        c.state = 2;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = i;
        ::epoll_ctl(ep, EPOLL_CTL_MOD, c.fd, &ev);
      } else if (c.state == 2) {
        const ssize_t r = ::recv(c.fd, buf, sizeof buf, 0);
        if (r < 0 && errno == EAGAIN) continue;
        if (r <= 0) {
          c.bad = true;
        } else {
          Message(static_cast<int>(i), msg);
          if (c.got + static_cast<std::size_t>(r) > kMsgLen ||
              std::memcmp(buf, msg + c.got, static_cast<std::size_t>(r)) != 0)
            c.bad = true;
          c.got = static_cast<std::uint8_t>(c.got + r);
        }
        if (c.bad || c.got == kMsgLen) {
          failures += c.bad ? 1 : 0;
          c.state = 3;
          ::epoll_ctl(ep, EPOLL_CTL_DEL, c.fd, nullptr);
          ++done;
          --inflight;
        }
      }
    }
  }
  ::close(ep);
  failures += n - done;
  // The connections stay open until the server has measured them idle.
  std::string line;
  ReadLine(0, line, 120000);
  for (auto& c : conns)
    if (c.fd >= 0) ::close(c.fd);
  return failures;
}

// Commands on stdin: "<n> <port> <window>" runs a round, which holds its connections
// open until the next line; "quit" ends. Each round answers "closed <failures>".
[[noreturn]] void ClientMain() {
  std::string line;
  while (ReadLine(0, line, 600000) && line != "quit") {
    int n = 0, port = 0, window = 0;
    if (std::sscanf(line.c_str(), "%d %d %d", &n, &port, &window) != 3) break;
    const int failures = ClientRound(n, static_cast<std::uint16_t>(port), window);
    WriteAll(1, "closed " + std::to_string(failures) + "\n");
  }
  ::_exit(0);
}

// ---- the server process -------------------------------------------------------------

std::size_t HeapInUse() {
  return mallinfo2().uordblks;
}

// Processor time of this process (user + system), seconds.
double CpuSeconds() {
  rusage ru{};
  ::getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long PeakRssKiB() {
  rusage ru{};
  ::getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

struct Round {
  int n = 0;
  double serveSecs = 0, serveCpu = 0, closeSecs = 0;
  // System calls of the server from the first connection to the last close; -1 unknown.
  long long syscalls = -1;
  long rssBefore = 0, rssIdle = 0;
  std::size_t heapBefore = 0, heapIdle = 0;
  int failures = 0;
};

class Server {
 public:
  Server(int toClient, int fromClient) : FTo(toClient), FFrom(fromClient) {}

  bool RunRound(int n, int window, Round& out) {
    out.n = n;
    TWSocket listener(nullptr);
    listener.SetAddr("127.0.0.1");
    listener.SetPort("0");
    listener.SetProto("tcp");
    int echoed = 0, closed = 0, acceptFailures = 0;
    std::vector<std::unique_ptr<TWSocket>> conns;
    conns.reserve(static_cast<std::size_t>(n));
    listener.OnSessionAvailable = [&](TObject*, std::uint16_t) {
      const plat::SOCKET h = listener.Accept();
      if (h == plat::INVALID_SOCKET) {
        ++acceptFailures;
        return;
      }
      conns.push_back(std::make_unique<TWSocket>(nullptr));
      TWSocket* c = conns.back().get();
      c->OnDataAvailable = [&echoed, c](TObject*, std::uint16_t) {
        const std::string s = c->ReceiveStr();
        if (!s.empty()) {
          c->SendStr(s);
          ++echoed;
        }
      };
      c->OnSessionClosed = [&closed](TObject*, std::uint16_t) { ++closed; };
      c->Dup(h);
    };
    if (listener.Listen() != 0) return false;
    testsupport::PumpFor(std::chrono::milliseconds(10));
    out.rssBefore = peers::VmRssKiB();
    out.heapBefore = HeapInUse();

    const SyscallCounter calls;
    const long long calls0 = calls.Calls();
    const auto t0 = Clock::now();
    const double cpu0 = CpuSeconds();
    if (!WriteAll(FTo, std::to_string(n) + " " + listener.GetXPort() + " " +
                           std::to_string(window) + "\n"))
      return false;
    const bool served = testsupport::PumpUntil([&] { return echoed >= n || acceptFailures > 0; },
                                               std::chrono::seconds(180));
    out.serveSecs = std::chrono::duration<double>(Clock::now() - t0).count();
    out.serveCpu = CpuSeconds() - cpu0;
    out.failures = acceptFailures + (served ? 0 : n - echoed);
    // Let the last echoes leave, then measure the idle state.
    testsupport::PumpFor(std::chrono::milliseconds(20));
    out.rssIdle = peers::VmRssKiB();
    out.heapIdle = HeapInUse();

    const auto t1 = Clock::now();
    WriteAll(FTo, "close\n");
    testsupport::PumpUntil([&] { return closed >= static_cast<int>(conns.size()); },
                           std::chrono::seconds(120));
    if (calls0 >= 0) out.syscalls = calls.Calls() - calls0;
    std::string line;
    ReadLine(FFrom, line, 60000);
    conns.clear();
    out.closeSecs = std::chrono::duration<double>(Clock::now() - t1).count();
    int clientFailures = -1;
    if (std::sscanf(line.c_str(), "closed %d", &clientFailures) != 1) return false;
    out.failures += clientFailures;
    return served;
  }

 private:
  int FTo, FFrom;
};

// One round served by a peer library, in the shape of Server::RunRound.
bool RunPeerRound(const peers::Peer& peer, int toClient, int fromClient, int n, int window,
                  Round& out) {
  out.n = n;
  std::unique_ptr<peers::EchoServer> server = peer.echo();
  const std::uint16_t port = server->Listen(5);
  if (port == 0) return false;
  server->RunUntil([] { return false; }, std::chrono::milliseconds(10));
  out.rssBefore = peers::VmRssKiB();
  out.heapBefore = HeapInUse();

  const SyscallCounter calls;
  const long long calls0 = calls.Calls();
  const auto t0 = Clock::now();
  const double cpu0 = CpuSeconds();
  if (!WriteAll(toClient, std::to_string(n) + " " + std::to_string(port) + " " +
                              std::to_string(window) + "\n"))
    return false;
  const bool served = server->RunUntil(
      [&] { return server->Echoed() >= n || server->Failures() > 0; }, std::chrono::seconds(180));
  out.serveSecs = std::chrono::duration<double>(Clock::now() - t0).count();
  out.serveCpu = CpuSeconds() - cpu0;
  out.failures = server->Failures() + (served ? 0 : n - server->Echoed());
  server->RunUntil([] { return false; }, std::chrono::milliseconds(20));
  out.rssIdle = peers::VmRssKiB();
  out.heapIdle = HeapInUse();

  const auto t1 = Clock::now();
  WriteAll(toClient, "close\n");
  server->RunUntil([&] { return server->Closed() >= server->Echoed(); }, std::chrono::seconds(120));
  if (calls0 >= 0) out.syscalls = calls.Calls() - calls0;
  std::string line;
  ReadLine(fromClient, line, 60000);
  server.reset();
  out.closeSecs = std::chrono::duration<double>(Clock::now() - t1).count();
  int clientFailures = -1;
  if (std::sscanf(line.c_str(), "closed %d", &clientFailures) != 1) return false;
  out.failures += clientFailures;
  return served;
}

// Runs one server's round in a child process, forked from the still fresh one, that
// reports its Round through a pipe. peer null: the component.
bool RunInChild(const peers::Peer* peer, int toClient, int fromClient, int n, int window,
                Round& out) {
  int report[2];
  if (::pipe(report) != 0) return false;
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::close(report[0]);
    Round r;
    bool ok;
    if (peer != nullptr) {
      ok = RunPeerRound(*peer, toClient, fromClient, n, window, r);
    } else {
      Server server(toClient, fromClient);
      ok = server.RunRound(n, window, r);
    }
    if (!ok && r.failures == 0) r.failures = 1;
    const bool sent = ::write(report[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
    ::_exit(sent ? 0 : 1);
  }
  ::close(report[1]);
  std::size_t got = 0;
  while (got < sizeof out) {
    const ssize_t k = ::read(report[0], reinterpret_cast<char*>(&out) + got, sizeof out - got);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) break;
    got += static_cast<std::size_t>(k);
  }
  ::close(report[0]);
  int st = 0;
  ::waitpid(pid, &st, 0);
  return got == sizeof out && out.failures == 0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Medians of a server's rounds: wall and processor time per connection, memory per idle
// connection.
void PrintSideBySide(const char* name, const std::vector<Round>& rounds) {
  std::vector<double> wall, cpu, rss, heap, calls;
  int failures = 0, n = 0;
  for (const Round& r : rounds) {
    n = r.n;
    failures += r.failures;
    if (r.syscalls >= 0) calls.push_back(static_cast<double>(r.syscalls) / r.n);
    wall.push_back(r.serveSecs * 1e6 / r.n);
    cpu.push_back(r.serveCpu * 1e6 / r.n);
    rss.push_back((r.rssIdle - r.rssBefore) * 1024.0 / r.n);
    heap.push_back((static_cast<double>(r.heapIdle) - static_cast<double>(r.heapBefore)) / r.n);
  }
  std::printf("%-16s %8d %7zu %12.1f %12.1f %11.1f %14.0f %14.0f %9d\n", name, n, rounds.size(),
              Median(wall), Median(cpu), calls.empty() ? -1.0 : Median(calls), Median(rss),
              Median(heap), failures);
}

void RaiseDescriptorLimit(int want) {
  rlimit rl{};
  ::getrlimit(RLIMIT_NOFILE, &rl);
  if (rl.rlim_cur < rl.rlim_max) {
    rl.rlim_cur = rl.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &rl);
  }
  ::getrlimit(RLIMIT_NOFILE, &rl);
  if (rl.rlim_cur < static_cast<rlim_t>(want))
    std::fprintf(stderr, "descriptor limit %llu is below the %d needed\n",
                 static_cast<unsigned long long>(rl.rlim_cur), want);
}

}  // namespace

int main(int argc, char** argv) {
  int conns = 10000, window = 5, reps = 5;
  bool sweep = true;
  for (int i = 1; i < argc; ++i) {
    const std::string k = argv[i];
    if (k == "--conns" && i + 1 < argc)
      conns = std::max(1, std::atoi(argv[++i]));
    else if (k == "--window" && i + 1 < argc)
      window = std::max(1, std::atoi(argv[++i]));
    else if (k == "--reps" && i + 1 < argc)
      reps = std::max(1, std::atoi(argv[++i]));
    else if (k == "--no-sweep")
      sweep = false;
    else {
      std::fprintf(stderr, "usage: %s [--conns N] [--window W] [--reps R] [--no-sweep]\n", argv[0]);
      return 2;
    }
  }
  // Each process holds one side of every connection, plus a few of its own.
  RaiseDescriptorLimit(conns + 64);

  int toClient[2], fromClient[2];
  if (::pipe(toClient) != 0 || ::pipe(fromClient) != 0) return 1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(toClient[0], 0);
    ::dup2(fromClient[1], 1);
    ::close(toClient[1]);
    ::close(fromClient[0]);
    ClientMain();
  }
  ::close(toClient[0]);
  ::close(fromClient[1]);
  ::signal(SIGPIPE, SIG_IGN);

  std::printf("%d loopback connections, one server thread, at most %d connecting at a time\n",
              conns, window);
  std::printf("sizeof(TWSocket) = %zu bytes\n\n", sizeof(TWSocket));
  // Interleaved rounds, each server in a process of its own forked from this still fresh
  // one (see the top of the file), the order turning by one each round so that no server
  // always follows the same one.
  const std::vector<peers::Peer> peerList = peers::Available();
  const std::size_t servers = peerList.size() + 1;  // the component is server 0
  std::vector<std::vector<Round>> rounds(servers);
  int status = 0;
  for (int r = 0; r < reps; ++r) {
    for (std::size_t k = 0; k < servers; ++k) {
      const std::size_t which = (k + static_cast<std::size_t>(r)) % servers;
      const peers::Peer* peer = which == 0 ? nullptr : &peerList[which - 1];
      Round round;
      if (!RunInChild(peer, toClient[1], fromClient[0], conns, window, round)) status = 1;
      rounds[which].push_back(round);
    }
  }
  std::printf(
      "side by side, %d connections, medians of %d interleaved rounds, each in a fresh "
      "process:\n",
      conns, reps);
  std::printf("%-16s %8s %7s %12s %12s %11s %14s %14s %9s\n", "server", "conns", "rounds",
              "wall us/conn", "cpu us/conn", "calls/conn", "RSS B/conn", "heap B/conn", "failures");
  PrintSideBySide("TWSocket", rounds[0]);
  for (std::size_t i = 0; i < peerList.size(); ++i)
    PrintSideBySide(peerList[i].name.c_str(), rounds[i + 1]);
  for (const std::string& m : peers::Missing()) std::printf("%s\n", m.c_str());
  for (std::size_t i = 0; i < peerList.size(); ++i) {
    std::vector<double> comp, peer, compMem, peerMem, compCalls, peerCalls;
    for (const Round& x : rounds[0]) {
      comp.push_back(x.serveCpu / x.n);
      compMem.push_back((x.rssIdle - x.rssBefore) * 1024.0 / x.n);
      compCalls.push_back(static_cast<double>(x.syscalls) / x.n);
    }
    for (const Round& x : rounds[i + 1]) {
      peer.push_back(x.serveCpu / x.n);
      peerMem.push_back((x.rssIdle - x.rssBefore) * 1024.0 / x.n);
      peerCalls.push_back(static_cast<double>(x.syscalls) / x.n);
    }
    auto ratio = [](const std::vector<double>& a, const std::vector<double>& b) {
      return Median(b) > 0 && Median(a) > 0 ? Median(a) / Median(b) : 0;
    };
    std::printf(
        "component / %s: cpu per connection %.2f, system calls per connection %.2f, RSS per "
        "idle connection %.2f\n",
        peerList[i].name.c_str(), ratio(comp, peer), ratio(compCalls, peerCalls),
        ratio(compMem, peerMem));
  }

  // Rounds of growing size in this process: whether any step costs more as the number of
  // open sockets grows.
  if (sweep) {
    std::printf("\n%8s %10s %10s %12s %10s %14s %14s %9s\n", "conns", "serve s", "us/conn",
                "cpu us/conn", "close s", "RSS B/conn", "heap B/conn", "failures");
    Server server(toClient[1], fromClient[0]);
    for (int n : {conns / 8, conns / 4, conns / 2, conns}) {
      if (n <= 0) continue;
      Round round;
      if (!server.RunRound(n, window, round)) status = 1;
      const double rssPer = (round.rssIdle - round.rssBefore) * 1024.0 / round.n;
      const double heapPer =
          (static_cast<double>(round.heapIdle) - static_cast<double>(round.heapBefore)) / round.n;
      std::printf("%8d %10.3f %10.1f %12.1f %10.3f %14.0f %14.0f %9d\n", round.n, round.serveSecs,
                  round.serveSecs * 1e6 / round.n, round.serveCpu * 1e6 / round.n, round.closeSecs,
                  rssPer, heapPer, round.failures);
      std::fflush(stdout);
      if (round.failures) status = 1;
    }
  }
  WriteAll(toClient[1], "quit\n");
  ::close(toClient[1]);
  int st = 0;
  ::waitpid(pid, &st, 0);
  std::printf("\npeak RSS (ru_maxrss) of this process: %ld KiB\n", PeakRssKiB());
  return status;
}
