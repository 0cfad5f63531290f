#include "Host/FileUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

std::string ExtractFileExt(const std::string& FileName) {
  const auto Dot = FileName.rfind('.');
  const auto Slash = FileName.rfind('/');
  if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash)) return {};
  return FileName.substr(Dot);
}

std::string ExtractFilePath(const std::string& FileName) {
  const auto Slash = FileName.rfind('/');
  return Slash == std::string::npos ? std::string() : FileName.substr(0, Slash + 1);
}

std::string ExtractFileName(const std::string& FileName) {
  const auto Slash = FileName.rfind('/');
  return Slash == std::string::npos ? FileName : FileName.substr(Slash + 1);
}

bool FileExists(const std::string& FileName) {
  struct stat St;
  return !FileName.empty() && ::stat(FileName.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

bool DirectoryExists(const std::string& Dir) {
  struct stat St;
  return ::stat(Dir.empty() ? "." : Dir.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

std::string ExpandFileName(const std::string& FileName) {
  if (!FileName.empty() && FileName[0] == '/') return FileName;
  char Cwd[PATH_MAX];
  if (!::getcwd(Cwd, sizeof(Cwd))) return FileName;
  std::string Result(Cwd);
  if (Result.back() != '/') Result += '/';
  return Result + FileName;
}
