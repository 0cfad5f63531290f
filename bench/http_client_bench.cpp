// The HTTP client against the programs a user would otherwise reach for, all fetching
// from one nginx on 127.0.0.1 that this program starts and stops:
//   download  a 1 GiB file into a stream that discards it, against curl --http1.0 and
//             wget to /dev/null; the three interleaved, --reps runs each; medians of
//             MB/s and processor seconds (the child's own for curl and wget, this
//             thread's for the component), and the component's ratio to each;
//   file      the same download saved to a file (in /dev/shm where possible) against
//             curl -o to the same place, the order turning each run;
//   requests  --conns components in this one thread, each fetching a 1 KiB file again
//             and again for --seconds, against ab -c <conns> -t <seconds> on the same
//             file; interleaved, --reps runs each; medians of requests per second;
//   memory    resident memory and heap in use of one idle component and of --idle of
//             them, just built and again after each has fetched the small file once;
//             measured first, while the process is fresh;
//   https     the download over HTTPS from a second nginx with certificates of a test
//             authority and one TLS 1.3 cipher (--cipher) forced for every client,
//             against curl --http1.0 on the same server; both verify the certificate.
// Without the client in the build only the peers run, which checks the harness.
//
//   http_client_bench [--reps R] [--bytes N] [--seconds S] [--conns C] [--idle N]
//                     [--cipher NAME] [--only download|requests|memory|https]
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "peers/ChildProcess.h"
#include "peers/Nginx.h"
#include "peers/Peers.h"
#include "support/TlsServers.h"

#if __has_include("HttpProt/HttpCli.h")
#define ORV_BENCH_HTTPCLI 1
#include "Host/Streams.h"
#include "HttpProt/HttpCli.h"
#include "tests/support/Pump.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int reps = 3;
  std::uint64_t bytes = 1ull << 30;
  int seconds = 10;
  int conns = 50;
  int idle = 1000;
  std::string cipher = "TLS_AES_128_GCM_SHA256";
  std::string only;
};

// One measured run: wall and processor seconds; ok false for a failed run.
struct Sample {
  bool ok = false;
  double wall = 0;
  double cpu = 0;
  double rate = 0;  // bytes or requests per second of wall time
};

[[maybe_unused]] double ThreadCpuSeconds() {
  rusage ru{};
  ::getrusage(RUSAGE_THREAD, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Medians over the successful samples; 0 when none succeeded.
struct Summary {
  double rate = 0, wall = 0, cpu = 0;
  int ok = 0, runs = 0;
};

Summary Summarise(const std::vector<Sample>& v) {
  std::vector<double> rate, wall, cpu;
  Summary s;
  s.runs = static_cast<int>(v.size());
  for (const Sample& x : v)
    if (x.ok) {
      rate.push_back(x.rate);
      wall.push_back(x.wall);
      cpu.push_back(x.cpu);
      ++s.ok;
    }
  s.rate = Median(rate);
  s.wall = Median(wall);
  s.cpu = Median(cpu);
  return s;
}

// Reads the file once so that every client finds its pages in the page cache.
void Warm(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  std::vector<char> buf(1 << 20);
  while (::read(fd, buf.data(), buf.size()) > 0) {
  }
  ::close(fd);
}

// One line per round: each side's rate and CPU seconds in this round.
void PrintRun(int Round, const std::vector<Sample>& Comp, const std::vector<Sample>& Curl,
              const std::vector<Sample>* Wget = nullptr) {
  std::printf("run %d (MB/s, cpu s):", Round + 1);
  if (!Comp.empty()) std::printf("  THttpCli %6.0f %6.3f", Comp.back().rate / 1e6, Comp.back().cpu);
  if (!Curl.empty()) std::printf("  curl %6.0f %6.3f", Curl.back().rate / 1e6, Curl.back().cpu);
  if (Wget && !Wget->empty())
    std::printf("  wget %6.0f %6.3f", Wget->back().rate / 1e6, Wget->back().cpu);
  std::printf("\n");
  std::fflush(stdout);
}

// ---- the peers ----------------------------------------------------------------------

Sample FromChild(const peers::ChildRun& r, double units) {
  Sample s;
  s.ok = r.ok;
  s.wall = r.wallSecs;
  s.cpu = r.cpuSecs;
  s.rate = r.wallSecs > 0 ? units / r.wallSecs : 0;
  return s;
}

Sample Curl(const std::string& url, const Options& opt) {
  const peers::ChildRun r = peers::RunChild(
      {"curl", "--http1.0", "-s", "-f", "--max-time", "120", "-o", "/dev/null", url},
      std::chrono::seconds(130));
  return FromChild(r, static_cast<double>(opt.bytes));
}

// curl saving the file, as a user downloading an update would.
Sample CurlToFile(const std::string& url, const std::string& path, const Options& opt) {
  const peers::ChildRun r =
      peers::RunChild({"curl", "--http1.0", "-s", "-f", "--max-time", "120", "-o", path, url},
                      std::chrono::seconds(130));
  Sample s = FromChild(r, static_cast<double>(opt.bytes));
  struct stat st {};
  s.ok =
      s.ok && ::stat(path.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) == opt.bytes;
  ::unlink(path.c_str());
  return s;
}

Sample Wget(const std::string& url, const Options& opt) {
  const peers::ChildRun r =
      peers::RunChild({"wget", "-q", "--tries=1", "--timeout=30", "-O", "/dev/null", url},
                      std::chrono::seconds(130));
  return FromChild(r, static_cast<double>(opt.bytes));
}

// ab prints "Requests per second:    12345.67 [#/sec] (mean)" and the failed count.
Sample Ab(const std::string& url, const Options& opt) {
  const peers::ChildRun r =
      peers::RunChild({"ab", "-q", "-c", std::to_string(opt.conns), "-t",
                       std::to_string(opt.seconds), "-n", "2000000", "-s", "10", url},
                      std::chrono::seconds(opt.seconds + 30));
  Sample s;
  s.wall = r.wallSecs;
  s.cpu = r.cpuSecs;
  double rps = 0;
  long failed = -1, complete = 0;
  const auto field = [&](const char* name) -> const char* {
    const std::size_t at = r.out.find(name);
    return at == std::string::npos ? nullptr : r.out.c_str() + at + std::strlen(name);
  };
  if (const char* p = field("Requests per second:")) rps = std::strtod(p, nullptr);
  if (const char* p = field("Failed requests:")) failed = std::strtol(p, nullptr, 10);
  if (const char* p = field("Complete requests:")) complete = std::strtol(p, nullptr, 10);
  s.ok = r.ok && rps > 0 && failed == 0;
  s.rate = rps;
  if (!s.ok)
    std::fprintf(stderr, "ab failed (status %d, %ld complete, %ld failed)\n", r.status, complete,
                 failed);
  return s;
}

// ---- the component ------------------------------------------------------------------

#ifdef ORV_BENCH_HTTPCLI

// Counts what it is given and keeps nothing.
class TDiscardStream : public TStream {
 public:
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void*, std::int32_t count) override {
    FCount += count;
    return count;
  }
  std::int64_t Seek(std::int64_t, int) override { return FCount; }
  std::int64_t Count() const { return FCount; }

 private:
  std::int64_t FCount = 0;
};

// One GET of `url` into `sink`, timed: wall and this thread's processor time; ok when the
// request ended with 200 (the caller checks what arrived).
Sample TimedGet(const std::string& url, TStream& sink, const std::string& ca = "") {
  THttpCli cli(nullptr);
  cli.SetURL(url);
  cli.SetSslCAFile(ca);
  cli.SetRcvdStream(&sink);
  bool done = false;
  cli.OnRequestDone = [&](TObject*, THttpRequest, std::uint16_t) { done = true; };
  const auto t0 = Clock::now();
  const double cpu0 = ThreadCpuSeconds();
  cli.GetASync();
  if (!testsupport::PumpUntil([&] { return done; }, std::chrono::seconds(120))) {
    cli.Abort();
    testsupport::PumpUntil([&] { return done; }, std::chrono::seconds(5));
    std::fprintf(stderr, "component download timed out\n");
    return {};
  }
  Sample s;
  s.wall = std::chrono::duration<double>(Clock::now() - t0).count();
  s.cpu = ThreadCpuSeconds() - cpu0;
  s.ok = cli.StatusCode() == 200;
  if (!s.ok)
    std::fprintf(stderr, "component download: status %d, %s\n", cli.StatusCode(),
                 cli.ReasonPhrase().c_str());
  return s;
}

Sample ClientDownload(const std::string& url, const Options& opt, const std::string& ca = "") {
  TDiscardStream sink;
  Sample s = TimedGet(url, sink, ca);
  s.rate = s.wall > 0 ? static_cast<double>(opt.bytes) / s.wall : 0;
  if (s.ok && static_cast<std::uint64_t>(sink.Count()) != opt.bytes) {
    std::fprintf(stderr, "component download: %lld bytes\n", static_cast<long long>(sink.Count()));
    s.ok = false;
  }
  return s;
}

// The same into a file, through the file stream an application hands the component.
Sample ClientDownloadToFile(const std::string& url, const std::string& path, const Options& opt) {
  Sample s;
  {
    TFileStream file(path, fmCreate);
    s = TimedGet(url, file);
  }
  struct stat st {};
  s.ok =
      s.ok && ::stat(path.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) == opt.bytes;
  s.rate = s.wall > 0 ? static_cast<double>(opt.bytes) / s.wall : 0;
  if (!s.ok) std::fprintf(stderr, "component download to a file failed\n");
  ::unlink(path.c_str());
  return s;
}

// Components fetching `url` again and again, each starting its next request from its
// OnRequestDone, until `seconds` have passed; every answer must be 200 with the whole file.
Sample ClientRequests(const std::string& url, const Options& opt) {
  struct Slot {
    std::unique_ptr<THttpCli> cli;
    TDiscardStream sink;
    bool busy = false;
  };
  std::vector<Slot> slots(static_cast<std::size_t>(opt.conns));
  long completed = 0, failed = 0;
  bool stopping = false;
  for (Slot& s : slots) {
    s.cli = std::make_unique<THttpCli>(nullptr);
    s.cli->SetURL(url);
    s.cli->SetRcvdStream(&s.sink);
    Slot* self = &s;
    s.cli->OnRequestDone = [&, self](TObject*, THttpRequest, std::uint16_t error) {
      self->busy = false;
      if (error == 0 && self->cli->StatusCode() == 200 && self->cli->RcvdCount() == 1024)
        ++completed;
      else
        ++failed;
      if (stopping) return;
      self->busy = true;
      self->cli->GetASync();
    };
  }
  const auto t0 = Clock::now();
  const double cpu0 = ThreadCpuSeconds();
  for (Slot& s : slots) {
    s.busy = true;
    s.cli->GetASync();
  }
  testsupport::PumpFor(std::chrono::seconds(opt.seconds));
  stopping = true;
  const long counted = completed;
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = ThreadCpuSeconds() - cpu0;
  // Let the requests under way end before the components go.
  const bool drained = testsupport::PumpUntil(
      [&] {
        return std::none_of(slots.begin(), slots.end(), [](const Slot& s) { return s.busy; });
      },
      std::chrono::seconds(10));
  if (!drained)
    for (Slot& s : slots) s.cli->Abort();
  Sample out;
  out.wall = wall;
  out.cpu = cpu;
  out.rate = static_cast<double>(counted) / wall;
  out.ok = failed == 0 && counted > 0;
  if (!out.ok) std::fprintf(stderr, "component requests: %ld failed\n", failed);
  return out;
}

void Memory(const std::string& url, const Options& opt) {
  std::printf("\nmemory of idle components (VmRSS and heap in use, bytes per component):\n");
  std::printf("%8s %20s %20s %20s %20s\n", "count", "RSS just built", "heap just built",
              "RSS after a GET", "heap after a GET");
  for (const int n : {1, opt.idle}) {
    testsupport::PumpFor(std::chrono::milliseconds(10));
    const long rss0 = peers::VmRssKiB();
    const std::size_t heap0 = mallinfo2().uordblks;
    std::vector<std::unique_ptr<THttpCli>> clis;
    std::vector<TDiscardStream> sinks(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) clis.push_back(std::make_unique<THttpCli>(nullptr));
    const long rss1 = peers::VmRssKiB();
    const std::size_t heap1 = mallinfo2().uordblks;
    // Each fetches the small file once, a few at a time, then stays idle.
    long failed = 0;
    int next = 0, running = 0, finished = 0;
    const auto start = [&](int i) {
      THttpCli& c = *clis[static_cast<std::size_t>(i)];
      c.SetURL(url);
      c.SetRcvdStream(&sinks[static_cast<std::size_t>(i)]);
      c.OnRequestDone = [&, i](TObject*, THttpRequest, std::uint16_t error) {
        const THttpCli& done = *clis[static_cast<std::size_t>(i)];
        if (error != 0 || done.StatusCode() != 200) {
          if (failed++ == 0)
            std::fprintf(stderr, "idle component's GET: status %d \"%s\", error %u\n",
                         done.StatusCode(), done.ReasonPhrase().c_str(), error);
        }
        --running;
        ++finished;
      };
      ++running;
      c.GetASync();
    };
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (finished < n && Clock::now() < deadline) {
      while (next < n && running < 20) start(next++);
      testsupport::PumpUntil([&] { return (next < n && running < 20) || finished == n; },
                             std::chrono::seconds(10));
    }
    testsupport::PumpFor(std::chrono::milliseconds(20));
    const long rss2 = peers::VmRssKiB();
    const std::size_t heap2 = mallinfo2().uordblks;
    auto per = [n](double d) { return d / n; };
    std::printf("%8d %20.0f %20.0f %20.0f %20.0f%s\n", n, per((rss1 - rss0) * 1024.0),
                per(static_cast<double>(heap1) - static_cast<double>(heap0)),
                per((rss2 - rss0) * 1024.0),
                per(static_cast<double>(heap2) - static_cast<double>(heap0)),
                finished == n && failed == 0 ? "" : "  (some GETs failed)");
    std::fflush(stdout);
    for (auto& c : clis) c->SetRcvdStream(nullptr);
  }
  std::printf("sizeof(THttpCli) = %zu bytes\n", sizeof(THttpCli));
}

#endif

// Median over the runs of a's rate divided by b's rate in the same run.
[[maybe_unused]] double PairedRatio(const std::vector<Sample>& a, const std::vector<Sample>& b) {
  std::vector<double> r;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (a[i].ok && b[i].ok && b[i].rate > 0) r.push_back(a[i].rate / b[i].rate);
  return Median(r);
}

void PrintRow(const char* name, const Summary& s, double scale, const char* unit,
              const Summary* vs1, const Summary* vs2) {
  std::printf("%-28s %10.0f %-6s %9.3f %9.3f %7d/%d", name, s.rate / scale, unit, s.wall, s.cpu,
              s.ok, s.runs);
  for (const Summary* v : {vs1, vs2})
    if (v) std::printf(" %9.2f", v->rate > 0 ? s.rate / v->rate : 0);
  std::printf("\n");
}

// The download over HTTPS, THttpCli against curl on one nginx and one cipher.
int HttpsDownload(const Options& opt, bool haveCurl) {
  std::printf("\nhttps download of %llu bytes to a discarding sink, %s, %d runs interleaved\n",
              static_cast<unsigned long long>(opt.bytes), opt.cipher.c_str(), opt.reps);
  testsupport::TlsCerts certs;
  if (!certs.Make()) {
    std::fprintf(stderr, "making the certificates failed\n");
    return 1;
  }
  testsupport::TlsNginx tls(certs);
  tls.SetServerExtra("    ssl_conf_command Ciphersuites " + opt.cipher + ";\n    sendfile on;\n");
  // A file with holes, as for the plain download.
  const std::string path = tls.Dir().Write("www/big.bin", "");
  std::filesystem::resize_file(path, opt.bytes);
  if (!tls.Start()) {
    std::fprintf(stderr, "nginx with TLS: %s\n", tls.Error().c_str());
    return 1;
  }
  Warm(path);
  const std::string ca = certs.Path("ca.pem");
  const std::string url = "https://localhost:" + std::to_string(tls.Port("good")) + "/big.bin";
  std::vector<Sample> comp, curl;
  for (int r = 0; r < opt.reps; ++r) {
#ifdef ORV_BENCH_HTTPCLI
    comp.push_back(ClientDownload(url, opt, ca));
#endif
    if (haveCurl)
      curl.push_back(FromChild(peers::RunChild({"curl", "--http1.0", "-s", "-f", "--cacert", ca,
                                                "--max-time", "300", "-o", "/dev/null", url},
                                               std::chrono::seconds(310)),
                               static_cast<double>(opt.bytes)));
    PrintRun(r, comp, curl);
  }
  const Summary c = Summarise(comp), cu = Summarise(curl);
  std::printf("\nmedians                      %10s %-6s %9s %9s %9s %9s\n", "rate", "", "wall s",
              "cpu s", "ok/runs", "vs curl");
  if (!comp.empty()) PrintRow("THttpCli https", c, 1e6, "MB/s", &cu, nullptr);
  if (!curl.empty()) PrintRow("curl --http1.0 https", cu, 1e6, "MB/s", &cu, nullptr);
  if (!comp.empty()) {
    std::printf("median of the runs' own ratios: vs curl %.2f\n", PairedRatio(comp, curl));
    std::printf("target: >= 0.9 of curl: %s\n",
                cu.rate > 0 && c.rate / cu.rate >= 0.9 ? "met" : "NOT met");
  }
  int status = 0;
  for (const auto* v : {&comp, &curl})
    for (const Sample& s : *v) status |= s.ok ? 0 : 1;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i], v = argv[i + 1];
    if (k == "--reps")
      opt.reps = std::max(1, std::atoi(v.c_str()));
    else if (k == "--bytes")
      opt.bytes = std::max<std::uint64_t>(1, std::strtoull(v.c_str(), nullptr, 10));
    else if (k == "--seconds")
      opt.seconds = std::clamp(std::atoi(v.c_str()), 1, 120);
    else if (k == "--conns")
      opt.conns = std::clamp(std::atoi(v.c_str()), 1, 1000);
    else if (k == "--idle")
      opt.idle = std::clamp(std::atoi(v.c_str()), 1, 100000);
    else if (k == "--only")
      opt.only = v;
    else if (k == "--cipher")
      opt.cipher = v;
    else {
      std::fprintf(stderr,
                   "usage: %s [--reps R] [--bytes N] [--seconds S] [--conns C] [--idle N] "
                   "[--cipher NAME] [--only download|file|requests|memory|https]\n",
                   argv[0]);
      return 2;
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
  const auto want = [&](const char* what) { return opt.only.empty() || opt.only == what; };

  peers::Nginx nginx;
  if (!nginx.AddFile("big.bin", opt.bytes) || !nginx.AddFile("small.bin", 1024) || !nginx.Start()) {
    std::fprintf(stderr, "%s\n", nginx.Error().c_str());
    return 1;
  }
  const std::string big = nginx.Url("big.bin"), small = nginx.Url("small.bin");
  std::printf("nginx on 127.0.0.1:%u (one worker, sendfile, no keep-alive)\n", nginx.Port());
#ifndef ORV_BENCH_HTTPCLI
  std::printf("THttpCli is not in this build: only the peers run\n");
#endif
  const bool haveCurl = peers::OnPath("curl"), haveWget = peers::OnPath("wget"),
             haveAb = peers::OnPath("ab");
  if (!haveCurl) std::printf("curl not found: left out\n");
  if (!haveWget) std::printf("wget not found: left out\n");
  if (!haveAb) std::printf("ab not found (Debian apache2-utils): left out\n");
  int status = 0;
  const auto check = [&](const std::vector<Sample>& v) {
    for (const Sample& s : v) status |= s.ok ? 0 : 1;
  };

#ifdef ORV_BENCH_HTTPCLI
  // First, while the heap has not yet grown and shrunk, so that resident memory tells.
  if (want("memory")) Memory(small, opt);
#endif

  if (want("download")) {
    std::printf("\ndownload of %llu bytes to a discarding sink, %d runs interleaved\n",
                static_cast<unsigned long long>(opt.bytes), opt.reps);
    // The file has holes; one read puts all its pages in the page cache before any run.
    Warm(nginx.Path("big.bin"));
    std::vector<Sample> comp, curl, wget;
    for (int r = 0; r < opt.reps; ++r) {
#ifdef ORV_BENCH_HTTPCLI
      comp.push_back(ClientDownload(big, opt));
#endif
      if (haveCurl) curl.push_back(Curl(big, opt));
      if (haveWget) wget.push_back(Wget(big, opt));
      PrintRun(r, comp, curl, &wget);
    }
    const Summary c = Summarise(comp), cu = Summarise(curl), wg = Summarise(wget);
    std::printf("\nmedians                      %10s %-6s %9s %9s %9s %9s %9s\n", "rate", "",
                "wall s", "cpu s", "ok/runs", "vs wget", "vs curl");
    if (!comp.empty()) PrintRow("THttpCli", c, 1e6, "MB/s", &wg, &cu);
    if (!curl.empty()) PrintRow("curl --http1.0", cu, 1e6, "MB/s", &wg, &cu);
    if (!wget.empty()) PrintRow("wget", wg, 1e6, "MB/s", &wg, &cu);
    if (!comp.empty())
      std::printf(
          "median of the runs' own ratios (steadier on a busy machine): vs wget %.2f, "
          "vs curl %.2f\n",
          PairedRatio(comp, wget), PairedRatio(comp, curl));
    if (!comp.empty())
      std::printf("targets: >= 1.0 of wget: %s; >= 0.8 of curl: %s\n",
                  wg.rate > 0 && c.rate / wg.rate >= 1.0 ? "met" : "NOT met",
                  cu.rate > 0 && c.rate / cu.rate >= 0.8 ? "met" : "NOT met");
    check(comp);
    check(curl);
    check(wget);
  }

  if (want("file")) {
    // Into files in memory where there is room, so that the disk's write-back does not
    // decide; the order turns each run.
    const std::string dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    const std::string path = dir + "/orv-http-bench-" + std::to_string(::getpid()) + ".bin";
    std::printf("\ndownload of %llu bytes saved to a file in %s, %d runs interleaved\n",
                static_cast<unsigned long long>(opt.bytes), dir.c_str(), opt.reps);
    Warm(nginx.Path("big.bin"));
    std::vector<Sample> comp, curl;
    for (int r = 0; r < opt.reps; ++r) {
      const auto runComp = [&] {
#ifdef ORV_BENCH_HTTPCLI
        comp.push_back(ClientDownloadToFile(big, path, opt));
#endif
      };
      const auto runCurl = [&] {
        if (haveCurl) curl.push_back(CurlToFile(big, path, opt));
      };
      if (r % 2 == 0) {
        runComp();
        runCurl();
      } else {
        runCurl();
        runComp();
      }
      PrintRun(r, comp, curl);
    }
    const Summary c = Summarise(comp), cu = Summarise(curl);
    std::printf("\nmedians                      %10s %-6s %9s %9s %9s %9s\n", "rate", "", "wall s",
                "cpu s", "ok/runs", "vs curl");
    if (!comp.empty()) PrintRow("THttpCli to a file", c, 1e6, "MB/s", &cu, nullptr);
    if (!curl.empty()) PrintRow("curl -o file", cu, 1e6, "MB/s", &cu, nullptr);
    if (!comp.empty() && cu.rate > 0)
      std::printf("target: >= 1.0 of curl: %s (cpu s %.3f vs %.3f)\n",
                  c.rate / cu.rate >= 1.0 ? "met" : "NOT met", c.cpu, cu.cpu);
    check(comp);
    check(curl);
  }

  if (want("requests")) {
    std::printf("\nrequests for a 1 KiB file, %d at a time for %d s, %d runs interleaved\n",
                opt.conns, opt.seconds, opt.reps);
    std::vector<Sample> comp, ab;
    for (int r = 0; r < opt.reps; ++r) {
      // Each goes first every other run.
      const auto runAb = [&] {
        if (haveAb) ab.push_back(Ab(small, opt));
      };
      const auto runComp = [&] {
#ifdef ORV_BENCH_HTTPCLI
        comp.push_back(ClientRequests(small, opt));
#endif
      };
      if (r % 2 == 0) {
        runAb();
        runComp();
      } else {
        runComp();
        runAb();
      }
      std::printf("run %d (req/s, cpu s):", r + 1);
      if (!ab.empty()) std::printf("  ab %8.0f %6.3f", ab.back().rate, ab.back().cpu);
      if (!comp.empty()) std::printf("  THttpCli %8.0f %6.3f", comp.back().rate, comp.back().cpu);
      std::printf("\n");
      std::fflush(stdout);
    }
    const Summary c = Summarise(comp), a = Summarise(ab);
    std::printf("\nmedians                      %10s %-6s %9s %9s %9s %9s\n", "rate", "", "wall s",
                "cpu s", "ok/runs", "vs ab");
    if (!comp.empty()) PrintRow("THttpCli", c, 1, "req/s", &a, nullptr);
    if (!ab.empty()) PrintRow("ab", a, 1, "req/s", &a, nullptr);
    if (!comp.empty())
      std::printf("median of the runs' own ratios: vs ab %.2f\n", PairedRatio(comp, ab));
    // Processor time per request: the component's thread, ab's whole process.
    const auto perRequest = [](const std::vector<Sample>& v) {
      std::vector<double> us;
      for (const Sample& x : v)
        if (x.ok && x.rate > 0 && x.wall > 0) us.push_back(x.cpu / (x.rate * x.wall) * 1e6);
      return Median(us);
    };
    if (!comp.empty() && !ab.empty())
      std::printf("cpu us per request: THttpCli %.1f, ab %.1f\n", perRequest(comp), perRequest(ab));
    if (!comp.empty())
      std::printf("target: >= 1.0 of ab's rate: %s\n",
                  a.rate > 0 && c.rate / a.rate >= 1.0 ? "met" : "NOT met");
    check(comp);
    check(ab);
  }

  nginx.Stop();
  if (want("https")) status |= HttpsDownload(opt, haveCurl);
  return status;
}
