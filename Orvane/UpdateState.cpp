#include "Orvane/UpdateState.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "Host/FileUtils.h"

namespace {

constexpr const char* Section = "[orvane-update-check]";
// A state file is a few lines; anything much larger is not one.
constexpr std::size_t MaxStateBytes = 64 * 1024;

bool ReadSeconds(const std::string& Text, std::int64_t& Out) {
  const char* end = Text.data() + Text.size();
  auto [ptr, ec] = std::from_chars(Text.data(), end, Out);
  return !Text.empty() && ec == std::errc() && ptr == end && Out >= 0;
}

// Every folder above Path, made when missing.
bool MakeFolders(const std::string& Path, std::string& Problem) {
  for (std::size_t slash = Path.find('/', 1); slash != std::string::npos;
       slash = Path.find('/', slash + 1)) {
    const std::string dir = Path.substr(0, slash);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      Problem = "Cannot create the folder " + dir + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool WriteAll(int Fd, const std::string& Text) {
  std::size_t done = 0;
  while (done < Text.size()) {
    const ssize_t n = ::write(Fd, Text.data() + done, Text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

TUpdateState TUpdateState::Load(const std::string& Path, std::string& Problem) {
  Problem.clear();
  std::ifstream in(Path, std::ios::binary);
  if (!in) return {};
  std::string text(MaxStateBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  auto damaged = [&](const std::string& Why) {
    Problem = "The update state file " + Path + " was ignored: " + Why;
    return TUpdateState{};
  };
  if (text.size() > MaxStateBytes) return damaged("it is larger than a state file can be");
  TUpdateState state;
  std::istringstream lines(text);
  std::string line;
  bool sectionSeen = false;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (!sectionSeen) {
      if (line != Section) return damaged("it does not start with " + std::string(Section));
      sectionSeen = true;
      continue;
    }
    const std::size_t eq = line.find('=');
    const std::string key = line.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    const std::string where = "line " + std::to_string(number);
    if (eq == std::string::npos) return damaged(where + " is no KEY=VALUE");
    if (key == "LastCheck") {
      if (!ReadSeconds(value, state.LastCheck)) return damaged(where + " has no time");
    } else if (key == "RemindAfter") {
      if (!ReadSeconds(value, state.RemindAfter)) return damaged(where + " has no time");
    } else if (key == "SkippedVersion") {
      for (unsigned char c : value)
        if (c < 0x20 || c == 0x7f) return damaged(where + " holds a control character");
      state.SkippedVersion = value;
    }
    // Keys of later versions are left alone.
  }
  if (!sectionSeen && !text.empty()) return damaged("it holds no " + std::string(Section));
  return state;
}

bool TUpdateState::Save(const std::string& Path, std::string& Problem) const {
  if (!MakeFolders(Path, Problem)) return false;
  std::string text = std::string(Section) + "\nLastCheck=" + std::to_string(LastCheck) +
                     "\nRemindAfter=" + std::to_string(RemindAfter) + "\n";
  if (!SkippedVersion.empty()) text += "SkippedVersion=" + SkippedVersion + "\n";
  std::string temp = Path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    Problem = "Cannot write the update state file " + Path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
  const int err = errno;
  ::close(fd);
  if (!written || ::rename(temp.c_str(), Path.c_str()) != 0) {
    Problem =
        "Cannot write the update state file " + Path + ": " + std::strerror(written ? errno : err);
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself lasts only once the folder is on the disk.
  SyncFolderOf(Path);
  return true;
}

std::string DefaultStateFile(const std::string& App) {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::string base;
  if (state && state[0] == '/') {
    base = state;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home ? home : "") + "/.local/state";
  }
  return base + "/" + App + "/update-check.ini";
}

std::string ExecutableName() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "application";
  const std::string full(path, static_cast<std::size_t>(n));
  return full.substr(full.rfind('/') + 1);
}

std::int64_t NowSeconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}
