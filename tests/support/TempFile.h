// A file in the temporary folder with given contents, removed when the object goes.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace testsupport {

class TempFile {
 public:
  explicit TempFile(const std::string& contents) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/orv-test-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return;
    FPath = pattern;
    size_t off = 0;
    while (off < contents.size()) {
      const ssize_t n = ::write(fd, contents.data() + off, contents.size() - off);
      if (n <= 0) break;
      off += static_cast<size_t>(n);
    }
    ::close(fd);
    if (off != contents.size()) {
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

}  // namespace testsupport
