// An nginx serving static files on 127.0.0.1, started as a child of the benchmark in a
// directory of its own and stopped by its pid when the object goes.
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <string>

namespace peers {

class Nginx {
 public:
  Nginx() = default;
  ~Nginx();
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;

  // Adds a file of `size` bytes to the document root (a file with holes: its pages come
  // from the page cache once read). Call before Start.
  bool AddFile(const std::string& name, std::uint64_t size);
  // Starts nginx on a free port and waits (a few seconds at most) until it answers.
  // On failure Error() says why.
  bool Start();
  void Stop();

  std::uint16_t Port() const { return FPort; }
  std::string Url(const std::string& name) const;
  std::string Path(const std::string& name) const { return FDir + "/www/" + name; }
  const std::string& Error() const { return FError; }

 private:
  bool MakeDir();
  bool Answers() const;

  std::string FDir;
  std::string FError;
  std::uint16_t FPort = 0;
  pid_t FPid = -1;
};

}  // namespace peers
