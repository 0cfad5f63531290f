// Files and folders in the temporary folder ($TMPDIR, else /tmp), removed when the
// object goes.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace testsupport {

// The folder new temporary files and folders go to, without a trailing slash.
inline std::string TempRoot() {
  const char* dir = std::getenv("TMPDIR");
  std::string root = dir && *dir ? dir : "/tmp";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

namespace detail {

// Writes all of contents to fd; false on a short write.
inline bool WriteAll(int fd, const std::string& contents) {
  size_t off = 0;
  while (off < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + off, contents.size() - off);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace detail

// A file of its own with given contents.
class TempFile {
 public:
  explicit TempFile(const std::string& contents) {
    std::string pattern = TempRoot() + "/orv-test-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return;
    FPath = pattern;
    const bool written = detail::WriteAll(fd, contents);
    ::close(fd);
    if (!written) {
      ::unlink(FPath.c_str());
      FPath.clear();
    }
  }
  ~TempFile() {
    if (!FPath.empty()) ::unlink(FPath.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Empty when the file could not be written.
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// A fresh folder, removed with whatever the test left in it.
class TempDir {
 public:
  // Readable by other users too: servers that drop their privileges serve files from it.
  TempDir() {
    std::string pattern = TempRoot() + "/orv-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    FPath = pattern;
    ::chmod(FPath.c_str(), 0755);
  }
  ~TempDir() {
    std::error_code ec;
    if (!FPath.empty()) std::filesystem::remove_all(FPath, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Empty when the folder could not be made.
  const std::string& Path() const { return FPath; }
  // The path of an entry in the folder.
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }
  // Writes a file in the folder with the given mode; answers its path, empty on failure.
  // Folders in name are created.
  std::string Write(const std::string& name, const std::string& contents,
                    mode_t mode = 0644) const {
    const std::string path = *this / name;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0) return {};
    const bool written = detail::WriteAll(fd, contents);
    ::close(fd);
    // open's mode passes through the umask; the test asked for exactly this one.
    if (!written || ::chmod(path.c_str(), mode) != 0) return {};
    return path;
  }
  // A folder under it that any user may write (servers that drop their privileges).
  std::string OpenDir(const std::string& name) const {
    const std::filesystem::path p = std::filesystem::path(FPath) / name;
    std::filesystem::create_directories(p);
    std::filesystem::permissions(p, std::filesystem::perms(0777));
    return p.string();
  }

 private:
  std::string FPath;
};

}  // namespace testsupport
