#include "Host/FileUtils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "Host/TerminalText.h"

std::string ExtractFileExt(const std::string& FileName) {
  const auto dot = FileName.rfind('.');
  const auto slash = FileName.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return FileName.substr(dot);
}

std::string ExtractFilePath(const std::string& FileName) {
  const auto slash = FileName.rfind('/');
  return slash == std::string::npos ? std::string() : FileName.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& FileName) {
  const auto slash = FileName.rfind('/');
  return slash == std::string::npos ? FileName : FileName.substr(slash + 1);
}

int SyncFolderOf(const std::string& FileName) {
  const std::string folder = ExtractFilePath(FileName);
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  ::close(fd);
  return err;
}

bool FileExists(const std::string& FileName) {
  struct stat st;
  return !FileName.empty() && ::stat(FileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& Dir) {
  struct stat st;
  return ::stat(Dir.empty() ? "." : Dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ExpandFileName(const std::string& FileName) {
  if (!FileName.empty() && FileName[0] == '/') return FileName;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof(cwd))) return FileName;
  std::string result(cwd);
  if (result.back() != '/') result += '/';
  return result + FileName;
}

std::string FileNameFault(const std::string& Name) {
  // The longest file name the usual file systems take, in bytes.
  constexpr std::size_t MaxFileNameBytes = 255;
  if (Name.empty()) return "the address names no file (it ends with \"/\")";
  if (Name == "." || Name == "..") return "\"" + Name + "\" names a folder, not a file";
  if (Name[0] == '.') return "a name starting with \".\" would be a hidden file";
  for (const char c : Name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return "the name holds a control character";
    if (c == '\\') return "the name holds a backslash";
  }
  // A name a terminal would not show as it is (a C1 control, bytes that are no UTF-8)
  // would play tricks in every listing of the folder.
  if (TerminalSafeText(Name) != Name) return "the name holds a control character or no UTF-8";
  if (Name.size() > MaxFileNameBytes)
    return "the name is longer than " + std::to_string(MaxFileNameBytes) + " bytes";
  return {};
}
