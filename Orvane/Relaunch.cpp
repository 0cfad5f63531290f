// A verified update put in the place of the running program, which is started again with
// the same arguments: the part where a mistake leaves the user with no working program,
// so every step either completes or leaves the old file where it was.
#include "Orvane/Relaunch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "Host/Application.h"
#include "Host/Dialogs.h"
#include "Host/Events.h"
#include "Host/FileUtils.h"
#include "Host/Forms.h"
#include "Orvane/FlagScope.h"
#include "Orvane/OrvStrings.h"
#include "Orvane/Orvane.h"
#include "Platform/Shell.h"

namespace {

std::string Reason() {
  return std::strerror(errno);
}

std::string FolderOf(const std::string& Path) {
  const std::size_t slash = Path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : Path.substr(0, slash);
}

bool SyncFile(const std::string& Path) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

}  // namespace

std::string RunningProgramFile() {
  if (const char* image = std::getenv("APPIMAGE"); image && image[0] == '/') return image;
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

std::vector<std::string> RunningProgramArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> args;
  std::string arg;
  while (std::getline(in, arg, '\0')) args.push_back(arg);
  if (!args.empty()) args.erase(args.begin());
  return args;
}

std::string ReplaceFault(const std::string& Target) {
  struct stat st {};
  if (Target.empty()) return "the program's own file is not known";
  if (::stat(Target.c_str(), &st) != 0) return Target + ": " + Reason();
  if (!S_ISREG(st.st_mode)) return Target + " is no regular file";
  // Permission bits do not tell for a read-only mount or an administrator: try it.
  std::string probe = FolderOf(Target) + "/.orvane-probe-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return "the folder " + FolderOf(Target) + " cannot be written (" + Reason() + ")";
  ::close(fd);
  ::unlink(probe.c_str());
  return {};
}

bool InstallReplacement(const std::string& NewFile, const std::string& Target, std::string& Error) {
  const std::string previous = Target + ".previous";
  struct stat st {};
  auto fail = [&](const std::string& Step) {
    Error = Step + ": " + Reason();
    return false;
  };
  if (::stat(Target.c_str(), &st) != 0) return fail("Cannot read " + Target);
  if (::chmod(NewFile.c_str(), st.st_mode & 07777) != 0)
    return fail("Cannot set the mode of " + NewFile);
  if (!SyncFile(NewFile)) return fail("Cannot write " + NewFile + " to the disk");
  // The old file keeps a second name first: Target itself is only ever replaced in one
  // step, so no moment passes without a program there.
  if (::unlink(previous.c_str()) != 0 && errno != ENOENT) return fail("Cannot remove " + previous);
  if (::link(Target.c_str(), previous.c_str()) != 0)
    return fail("Cannot keep " + Target + " as " + previous);
  if (::rename(NewFile.c_str(), Target.c_str()) != 0) {
    const std::string why = Reason();
    ::unlink(previous.c_str());
    Error = "Cannot put " + NewFile + " in the place of " + Target + ": " + why;
    return false;
  }
  SyncFolderOf(Target);
  return true;
}

bool RollBackReplacement(const std::string& Target, std::string& Error) {
  const std::string previous = Target + ".previous";
  if (::access(previous.c_str(), F_OK) != 0) {
    Error = "There is no " + previous + " to go back to: " + Reason();
    return false;
  }
  if (::rename(previous.c_str(), Target.c_str()) != 0) {
    Error = "Cannot put " + previous + " back as " + Target + ": " + Reason();
    return false;
  }
  SyncFolderOf(Target);
  return true;
}

bool ForgetReplaced(const std::string& Target) {
  return ::unlink((Target + ".previous").c_str()) == 0;
}

int TOrvane::ReplaceAndRelaunch() {
  const std::string target = RunningProgramFile();
  if (const std::string fault = ReplaceFault(target); !fault.empty()) {
    // An installation the user cannot write belongs to the system's updates: it is never
    // escalated into, and the update is saved for the user instead.
    Application->MessageBox(FormatOrvStr(sOrvCannotReplace, {fault}), LoadOrvStr(sOrvError),
                            MB_ICONEXCLAMATION | MB_OK);
    return -1;
  }
  TAliveGuard guard(*this);
  const std::string newFile = target + ".update";
  bool downloaded = false;
  {
    // A left-over .update of ours is replaced without a question.
    TFlagScope mark(guard, FInCheckFlow, true);
    FDownloadCancelled = false;
    downloaded = DownloadFile(newFile);
  }
  if (guard.Gone()) return 0;
  std::string error;
  if (downloaded && !InstallReplacement(newFile, target, error)) {
    ::unlink(newFile.c_str());
    FLastError = error;
    downloaded = false;
  }
  if (!downloaded) {
    FLastResult = FDownloadCancelled ? ocoCancelled : ocoFailed;
    ShowDownloadError();
    return 0;
  }
  FLocalFileName = target;
  FLastResult = ocoDownloaded;
  if (FOptions.Contains(orvoRunUpdate) &&
      Application->MessageBox(FormatOrvStr(sOrvInstallAndClose, {Application->Title()}),
                              LoadOrvStr(sOrvInstallUpdate), MB_ICONQUESTION | MB_YESNO) != IDYES)
    return 1;  // in place; it runs from the next start on
  if (guard.Gone()) return 1;
  plat::ShellCommand command;
  command.program = target;
  command.args = RunningProgramArguments();
  if (plat::StartDetached(command) != 0) {
    Application->MessageBox(LoadOrvStr(sOrvCannotStart), LoadOrvStr(sOrvError),
                            MB_ICONEXCLAMATION | MB_OK);
    return 1;
  }
  Application->Terminate();
  return 1;
}
