// A helper program run by a test: its stdout is read line by line (or collected while
// the test pumps messages), its stdin can be written, a file, or nothing. The child is
// always killed and reaped when the object goes, so a failing test leaves nothing behind.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class ChildProcess {
 public:
  struct Options {
    // Feed stdin from this file; empty: a pipe the test may write (see WriteStdin).
    std::string stdinFile;
    // Keep the child's stderr on the test's stderr (useful when a peer fails).
    bool inheritStderr = true;
  };

  explicit ChildProcess(const std::vector<std::string>& argv) : ChildProcess(argv, Options{}) {}

  ChildProcess(const std::vector<std::string>& argv, const Options& options) {
    if (argv.empty()) return;
    const std::string path = FindProgram(argv[0]);
    if (path.empty()) {
      FError = "program not found: " + argv[0];
      return;
    }
    int out[2] = {-1, -1};
    int in[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0) {
      FError = "pipe failed";
      return;
    }
    int stdinFd = -1;
    if (!options.stdinFile.empty()) {
      stdinFd = ::open(options.stdinFile.c_str(), O_RDONLY | O_CLOEXEC);
      if (stdinFd < 0) {
        FError = "cannot open " + options.stdinFile;
        ::close(out[0]);
        ::close(out[1]);
        return;
      }
    } else if (::pipe2(in, O_CLOEXEC) != 0) {
      FError = "pipe failed";
      ::close(out[0]);
      ::close(out[1]);
      return;
    } else {
      stdinFd = in[0];
    }
    const int nullFd = options.inheritStderr ? -1 : ::open("/dev/null", O_WRONLY | O_CLOEXEC);

    // Everything the child needs is prepared before fork: only async-signal-safe calls
    // may follow it in a process that runs other threads.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(stdinFd, 0);
      ::dup2(out[1], 1);
      if (nullFd >= 0) ::dup2(nullFd, 2);
      // Sockets of the test must not live on in the child: a copy would keep a
      // connection open after the test closed it.
      ::syscall(SYS_close_range, 3u, ~0u, 0u);
      ::signal(SIGPIPE, SIG_DFL);
      ::execv(path.c_str(), args.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(stdinFd);
    if (nullFd >= 0) ::close(nullFd);
    if (pid < 0) {
      FError = "fork failed";
      ::close(out[0]);
      if (in[1] >= 0) ::close(in[1]);
      return;
    }
    FPid = pid;
    FOut = out[0];
    FIn = in[1];
    ::fcntl(FOut, F_SETFL, ::fcntl(FOut, F_GETFL) | O_NONBLOCK);
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  ~ChildProcess() {
    Kill();
    if (FOut >= 0) ::close(FOut);
    if (FIn >= 0) ::close(FIn);
  }

  bool Started() const { return FPid > 0; }
  const std::string& Error() const { return FError; }
  pid_t Pid() const { return FPid; }

  // Reads one line of stdout (without its line end), waiting at most `timeout`.
  // False at end of output or when the time is up.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto nl = FBuffer.find('\n', FConsumed);
      if (nl != std::string::npos) {
        line = FBuffer.substr(FConsumed, nl - FConsumed);
        FConsumed = nl + 1;
        return true;
      }
      if (FOut < 0) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{FOut, POLLIN, 0};
      const int r = ::poll(&p, 1, static_cast<int>(left.count()) + 1);
      if (r < 0 && errno != EINTR) return false;
      if (r > 0) Drain();
    }
  }

  // Collects whatever stdout holds now and notes an exit; never waits. Meant to be
  // called from a pump predicate so that a chatty child never blocks on a full pipe.
  void Poll() {
    Drain();
    Reap(false);
  }

  // Everything read from stdout that ReadLine has not consumed.
  std::string Output() const { return FBuffer.substr(FConsumed); }

  bool WriteStdin(const std::string& data) {
    if (FIn < 0) return false;
    size_t off = 0;
    while (off < data.size()) {
      const ssize_t n = ::write(FIn, data.data() + off, data.size() - off);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      off += static_cast<size_t>(n);
    }
    return true;
  }

  void CloseStdin() {
    if (FIn >= 0) ::close(FIn);
    FIn = -1;
  }

  bool Exited() const { return FStatus.has_value(); }

  // Waits up to `timeout` for the child to end and collects the rest of its output.
  // The exit code, or -1 for a death by signal; nothing when it is still running.
  std::optional<int> Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      Poll();
      if (FStatus) break;
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      pollfd p{FOut, POLLIN, 0};
      if (FOut >= 0)
        ::poll(&p, 1, 5);
      else
        ::usleep(5000);
    }
    Drain();
    return ExitCode();
  }

  std::optional<int> ExitCode() const {
    if (!FStatus) return std::nullopt;
    return WIFEXITED(*FStatus) ? WEXITSTATUS(*FStatus) : -1;
  }

  void Kill() {
    if (FPid <= 0 || FStatus) return;
    ::kill(FPid, SIGKILL);
    Reap(true);
  }

  // Path of a peer script of the test tree.
  static std::string PeerScript(const std::string& name) {
#ifdef ORV_SOURCE_DIR
    return std::string(ORV_SOURCE_DIR) + "/tests/peers/" + name;
#else
    return "tests/peers/" + name;
#endif
  }

  // Looks a program up in PATH; empty when it is not there.
  static std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : "";
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
      size_t end = dirs.find(':', start);
      if (end == std::string::npos) end = dirs.size();
      std::string candidate = dirs.substr(start, end - start) + "/" + name;
      if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
      start = end + 1;
    }
    return "";
  }

 private:
  void Drain() {
    if (FOut < 0) return;
    char buf[8192];
    for (;;) {
      const ssize_t n = ::read(FOut, buf, sizeof buf);
      if (n > 0) {
        FBuffer.append(buf, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) {
        ::close(FOut);
        FOut = -1;
      }
      return;
    }
  }

  void Reap(bool block) {
    if (FPid <= 0 || FStatus) return;
    int status = 0;
    pid_t r;
    do {
      r = ::waitpid(FPid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == FPid) FStatus = status;
  }

  pid_t FPid = -1;
  int FOut = -1;
  int FIn = -1;
  std::string FBuffer;
  size_t FConsumed = 0;
  std::optional<int> FStatus;
  std::string FError;
};

}  // namespace testsupport
