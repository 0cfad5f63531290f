#include "Nginx.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace peers {

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  std::uint16_t port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

// Reaps pid within `limit`; false when it is still running.
bool Reap(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    int st = 0;
    const pid_t r = ::waitpid(pid, &st, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

Nginx::~Nginx() {
  Stop();
  if (!FDir.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
  }
}

bool Nginx::MakeDir() {
  if (!FDir.empty()) return true;
  char tmpl[] = "/tmp/orv-bench-nginx-XXXXXX";
  if (!::mkdtemp(tmpl)) {
    FError = std::string("mkdtemp: ") + std::strerror(errno);
    return false;
  }
  FDir = tmpl;
  // The workers run as www-data and must reach the document root.
  ::chmod(FDir.c_str(), 0755);
  ::mkdir((FDir + "/www").c_str(), 0755);
  return true;
}

bool Nginx::AddFile(const std::string& name, std::uint64_t size) {
  if (!MakeDir()) return false;
  const std::string path = FDir + "/www/" + name;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    FError = path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  return true;
}

std::string Nginx::Url(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + "/" + name;
}

bool Nginx::Answers() const {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(FPort);
  timeval tv{1, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  bool ok = false;
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    const char req[] = "HEAD / HTTP/1.0\r\n\r\n";
    char buf[16] = {};
    ok = ::send(s, req, sizeof req - 1, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof req - 1) &&
         ::recv(s, buf, 9, MSG_WAITALL) == 9 && std::strncmp(buf, "HTTP/1.", 7) == 0;
  }
  ::close(s);
  return ok;
}

bool Nginx::Start() {
  if (!MakeDir()) return false;
  if (::access("/usr/sbin/nginx", X_OK) != 0) {
    FError = "nginx is not installed (Debian nginx-light)";
    return false;
  }
  for (int attempt = 0; attempt < 3 && FPid < 0; ++attempt) {
    FPort = FreePort();
    std::ofstream conf(FDir + "/nginx.conf");
    conf << "daemon off;\nmaster_process on;\nworker_processes 1;\nuser www-data;\n"
         << "pid " << FDir << "/nginx.pid;\nerror_log " << FDir << "/error.log;\n"
         << "events { worker_connections 4096; }\n"
         << "http {\n  access_log off;\n  keepalive_timeout 0;\n  sendfile on;\n"
         << "  tcp_nopush on;\n  default_type application/octet-stream;\n";
    for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
      conf << "  " << t << "_temp_path " << FDir << "/" << t << "_temp;\n";
    conf << "  server {\n    listen 127.0.0.1:" << FPort << ";\n    root " << FDir
         << "/www;\n  }\n}\n";
    conf.close();

    const std::string prefix = FDir + "/", file = FDir + "/nginx.conf", log = FDir + "/error.log";
    const pid_t pid = ::fork();
    if (pid < 0) break;
    if (pid == 0) {
      // A benchmark that is killed takes its server with it.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int devnull = ::open("/dev/null", O_RDWR);
      if (devnull >= 0)
        for (int fd : {0, 1, 2}) ::dup2(devnull, fd);
      ::execl("/usr/sbin/nginx", "nginx", "-p", prefix.c_str(), "-c", file.c_str(), "-e",
              log.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    FPid = pid;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    bool up = false;
    while (!(up = Answers()) && Clock::now() < deadline) {
      int st = 0;
      if (::waitpid(pid, &st, WNOHANG) == pid) {  // exited: most likely the port was taken
        FPid = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!up && FPid > 0) Stop();
  }
  if (FPid < 0) {
    std::ifstream log(FDir + "/error.log");
    std::string line, last;
    while (std::getline(log, line))
      if (!line.empty()) last = line;
    FError = "nginx did not start: " + (last.empty() ? std::string("no log") : last);
  }
  return FPid > 0;
}

void Nginx::Stop() {
  if (FPid <= 0) return;
  ::kill(FPid, SIGTERM);
  if (!Reap(FPid, std::chrono::seconds(5))) {
    ::kill(FPid, SIGKILL);
    Reap(FPid, std::chrono::seconds(5));
  }
  FPid = -1;
}

}  // namespace peers
