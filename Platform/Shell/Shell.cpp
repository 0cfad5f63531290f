#include "Platform/Shell.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "Platform/KeptObjects.h"

namespace plat {

namespace {

// Double fork: the program is re-parented to init, so nobody has to reap it, and the
// caller only waits until the exec happened. A close-on-exec pipe carries the errno of a
// failed exec back; end of file means the program runs.
int SpawnDetached(const ShellCommand& cmd) {
  // Everything the children need is built before fork: after it, only calls that are safe
  // in the child of a multi-threaded process.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(cmd.program.c_str()));
  for (const auto& a : cmd.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const char* dir = cmd.dir.empty() ? nullptr : cmd.dir.c_str();

  int status[2];
  if (pipe2(status, O_CLOEXEC) != 0) return errno;
  const pid_t middle = fork();
  if (middle < 0) {
    const int e = errno;
    close(status[0]);
    close(status[1]);
    return e;
  }
  if (middle == 0) {
    close(status[0]);
    setsid();
    const pid_t program = fork();
    if (program != 0) {
      if (program < 0) {
        const int e = errno;
        [[maybe_unused]] ssize_t n = write(status[1], &e, sizeof e);
      }
      _exit(0);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, STDIN_FILENO);
    int e = 0;
    if (dir && chdir(dir) != 0) {
      e = errno;
    } else {
      execv(argv[0], argv.data());
      e = errno;
    }
    [[maybe_unused]] ssize_t n = write(status[1], &e, sizeof e);
    _exit(127);
  }
  close(status[1]);
  int childStatus = 0;
  while (waitpid(middle, &childStatus, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  while ((n = read(status[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  close(status[0]);
  return n == static_cast<ssize_t>(sizeof err) ? err : 0;
}

std::mutex& LauncherMutex() {
  static std::mutex* m = KeepForProcess(new std::mutex);
  return *m;
}
ShellLauncher& Launcher() {
  static ShellLauncher* launcher = KeepForProcess(new ShellLauncher);
  return *launcher;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The first executable called name in PATH; empty when there is none.
std::string FindInPath(const std::string& name) {
  const char* env = std::getenv("PATH");
  const std::string path = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string candidate = path.substr(start, end - start);
    candidate = (candidate.empty() ? "." : candidate) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

// Where the file named by the caller is: beside dir first for a relative name, then from
// the current directory, then (for a bare name) along PATH.
std::string Locate(const std::string& file, const std::string& dir) {
  if (file.front() == '/') return Exists(file) ? file : std::string();
  if (!dir.empty() && Exists(dir + "/" + file)) return dir + "/" + file;
  if (Exists(file)) return file;
  if (file.find('/') == std::string::npos) return FindInPath(file);
  return {};
}

int ShellError(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return SE_ERR_FNF;
    case EACCES:
    case EPERM:
      return SE_ERR_ACCESSDENIED;
    case ENOMEM:
    case EAGAIN:
      return SE_ERR_NOMEM;
    case ENOEXEC:
    case ELIBBAD:
      return SE_ERR_BADFORMAT;
    default:
      return SE_ERR_OOM;
  }
}

}  // namespace

void SetShellLauncher(ShellLauncher launcher) {
  std::lock_guard lock(LauncherMutex());
  Launcher() = std::move(launcher);
}

std::vector<std::string> SplitShellParams(const char* params) {
  std::vector<std::string> out;
  if (params == nullptr) return out;
  std::string current;
  bool inArg = false, quoted = false;
  for (const char* p = params; *p; ++p) {
    const char c = *p;
    if (c == '\\' && p[1] == '"') {
      current += '"';
      inArg = true;
      ++p;
    } else if (c == '"') {
      quoted = !quoted;
      inArg = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inArg) out.push_back(std::move(current));
      current.clear();
      inArg = false;
    } else {
      current += c;
      inArg = true;
    }
  }
  if (inArg) out.push_back(std::move(current));
  return out;
}

int ShellExecuteA(HWND, const char* verb, const char* file, const char* params, const char* dir,
                  int) {
  if (verb && *verb && strcasecmp(verb, "open") != 0) return SE_ERR_NOASSOC;
  if (file == nullptr || *file == '\0') return SE_ERR_FNF;
  ShellCommand cmd;
  if (dir && *dir) {
    if (!IsDirectory(dir)) return SE_ERR_PNF;
    cmd.dir = dir;
  }
  std::string path = Locate(file, cmd.dir);
  if (path.empty()) return SE_ERR_FNF;
  // The program starts in dir: a relative name would no longer hold there.
  if (path.front() != '/') {
    char* absolute = realpath(path.c_str(), nullptr);
    if (absolute) path = absolute;
    std::free(absolute);
  }
  if (IsExecutableFile(path)) {
    cmd.program = path;
    cmd.args = SplitShellParams(params);
  } else {
    cmd.program = FindInPath("xdg-open");
    if (cmd.program.empty()) return SE_ERR_NOASSOC;
    cmd.args.push_back(path);
  }
  const int err = StartDetached(cmd);
  return err == 0 ? 42 : ShellError(err);
}

int StartDetached(const ShellCommand& Command) {
  ShellLauncher launcher;
  {
    std::lock_guard lock(LauncherMutex());
    launcher = Launcher();
  }
  return launcher ? launcher(Command) : SpawnDetached(Command);
}

DWORD GetTempPathA(DWORD bufLen, char* buf) {
  const char* env = std::getenv("TMPDIR");
  std::string path = env && *env ? env : "/tmp";
  if (path.back() != '/') path += '/';
  const auto needed = static_cast<DWORD>(path.size() + 1);
  if (buf == nullptr || bufLen < needed) return needed;
  std::memcpy(buf, path.c_str(), needed);
  return needed - 1;
}

}  // namespace plat
