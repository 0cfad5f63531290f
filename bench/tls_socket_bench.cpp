// The TLS socket against curl, both fetching one large file over HTTPS (HTTP/1.0) from one
// nginx on 127.0.0.1 with certificates of a test authority, one TLS 1.3 cipher forced on
// both. The component reads with Receive into a buffer that it discards, curl writes to
// /dev/null; the two interleaved, --reps runs each; medians of MB/s and processor seconds
// (this thread's for the component, the child's own for curl), and the ratio.
//
//   tls_socket_bench [--reps R] [--bytes N] [--cipher NAME]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "WSocket/SslWSocket.h"
#include "support/Pump.h"
#include "support/TlsServers.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int reps = 3;
  std::uint64_t bytes = 1ull << 30;
  std::string cipher = "TLS_AES_128_GCM_SHA256";
};

struct Sample {
  bool ok = false;
  double wall = 0;
  double cpu = 0;
};

double ThreadCpu() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double ChildrenCpu() {
  rusage ru{};
  getrusage(RUSAGE_CHILDREN, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

Sample Component(std::uint16_t Port, const std::string& CA, std::uint64_t Bytes,
                 std::string& Cipher) {
  TSslWSocket s(nullptr);
  s.SetSslEnable(true);
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(Port));
  s.SetSslHostName("localhost");
  s.SetSslCAFile(CA);
  std::vector<char> buf(256 * 1024);
  std::uint64_t got = 0;
  bool closed = false;
  std::uint16_t closeError = 0;
  s.OnSessionConnected = [&](TObject*, std::uint16_t e) {
    if (e != 0) return;
    Cipher = s.SslCipher();
    s.SendStr("GET /big.bin HTTP/1.0\r\nHost: localhost\r\n\r\n");
  };
  s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    const int n = s.Receive(buf.data(), static_cast<int>(buf.size()));
    if (n > 0) got += static_cast<std::uint64_t>(n);
  };
  s.OnSessionClosed = [&](TObject*, std::uint16_t e) {
    closed = true;
    closeError = e;
  };
  const double cpu0 = ThreadCpu();
  const auto t0 = Clock::now();
  s.Connect();
  testsupport::PumpUntil([&] { return closed; }, std::chrono::seconds(300));
  Sample r;
  r.wall = std::chrono::duration<double>(Clock::now() - t0).count();
  r.cpu = ThreadCpu() - cpu0;
  // The header comes on top of the body.
  r.ok = closed && closeError == 0 && got > Bytes;
  if (!r.ok)
    std::fprintf(stderr, "component: %llu bytes, close %u %s\n",
                 static_cast<unsigned long long>(got), closeError, s.SslErrorText().c_str());
  return r;
}

Sample Curl(std::uint16_t Port, const std::string& CA) {
  const std::string url = "https://localhost:" + std::to_string(Port) + "/big.bin";
  const double cpu0 = ChildrenCpu();
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execlp("curl", "curl", "-s", "-f", "--http1.0", "--cacert", CA.c_str(), "-o", "/dev/null",
           url.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Sample r;
  r.wall = std::chrono::duration<double>(Clock::now() - t0).count();
  r.cpu = ChildrenCpu() - cpu0;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--reps")
      o.reps = std::max(1, std::atoi(argv[i + 1]));
    else if (a == "--bytes")
      o.bytes = std::strtoull(argv[i + 1], nullptr, 10);
    else if (a == "--cipher")
      o.cipher = argv[i + 1];
  }
  testsupport::TlsCerts certs;
  if (!certs.Make()) {
    std::fprintf(stderr, "making the certificates failed\n");
    return 1;
  }
  testsupport::TlsNginx nginx(certs);
  nginx.SetServerExtra("    ssl_conf_command Ciphersuites " + o.cipher + ";\n" +
                       "    sendfile on;\n");
  {
    // A file with a hole: its pages come from the page cache.
    const std::string path = nginx.Dir().Write("www/big.bin", "");
    std::filesystem::resize_file(path, o.bytes);
  }
  if (!nginx.Start()) {
    std::fprintf(stderr, "nginx: %s\n", nginx.Error().c_str());
    return 1;
  }
  const std::uint16_t port = nginx.Port("good");
  const std::string ca = certs.Path("ca.pem");
  std::vector<double> cMbs, cCpu, uMbs, uCpu;
  std::string cipher;
  for (int rep = 0; rep < o.reps; ++rep) {
    const Sample c = Component(port, ca, o.bytes, cipher);
    const Sample u = Curl(port, ca);
    if (c.ok) {
      cMbs.push_back(static_cast<double>(o.bytes) / c.wall / 1e6);
      cCpu.push_back(c.cpu);
    }
    if (u.ok) {
      uMbs.push_back(static_cast<double>(o.bytes) / u.wall / 1e6);
      uCpu.push_back(u.cpu);
    }
  }
  std::printf("TLS download of %llu bytes, %s, medians of %d runs\n",
              static_cast<unsigned long long>(o.bytes), cipher.c_str(), o.reps);
  std::printf("  TSslWSocket  %8.0f MB/s  %6.2f s CPU  (%zu ok)\n", Median(cMbs), Median(cCpu),
              cMbs.size());
  std::printf("  curl         %8.0f MB/s  %6.2f s CPU  (%zu ok)\n", Median(uMbs), Median(uCpu),
              uMbs.size());
  if (!uMbs.empty() && !cMbs.empty())
    std::printf("  throughput ratio component/curl: %.2f\n", Median(cMbs) / Median(uMbs));
  return cMbs.size() == static_cast<std::size_t>(o.reps) ? 0 : 1;
}
