#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace peers {

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
  return false;
}

ChildRun RunChild(const std::vector<std::string>& argv, std::chrono::seconds limit) {
  ChildRun run;
  int out[2];
  if (argv.empty() || ::pipe2(out, O_CLOEXEC) != 0) return run;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  const auto t0 = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(out[0]);
    ::close(out[1]);
    return run;
  }
  if (pid == 0) {
    ::dup2(out[1], 1);
    const int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, 0);
      ::dup2(devnull, 2);
    }
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);

  // Collect the output until the child closes it or the time is up; then reap it.
  const auto deadline = t0 + limit;
  char buf[4096];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      run.timedOut = true;
      break;
    }
    pollfd p{out[0], POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    run.out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  if (run.timedOut) ::kill(pid, SIGKILL);
  int st = 0;
  rusage ru{};
  while (::wait4(pid, &st, 0, &ru) < 0 && errno == EINTR) {
  }
  run.wallSecs = std::chrono::duration<double>(Clock::now() - t0).count();
  run.cpuSecs = Seconds(ru.ru_utime) + Seconds(ru.ru_stime);
  run.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  run.ok = !run.timedOut && WIFEXITED(st) && WEXITSTATUS(st) == 0;
  return run;
}

}  // namespace peers
