#include "Host/FileUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

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
