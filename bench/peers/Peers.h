// Event-loop libraries a C++ user could pick instead of the socket component, driven in
// the same shapes as the component's own benchmarks so that one run reports them side by
// side. A peer whose library was absent at build time is simply not in Available().
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace peers {

// A one-thread bulk transfer over loopback: the sending end hands over `batch` bytes in
// pieces of `piece` bytes from `src` each time its earlier writes have completed; the
// receiving end reads `readSize` bytes at a time until `bytes` have arrived.
struct BulkShape {
  std::uint64_t bytes = 0;
  std::size_t piece = 0;
  std::size_t batch = 0;
  std::size_t readSize = 0;
  const char* src = nullptr;  // `piece` bytes
  // The congestion control set on both ends ("cubic"), or empty for the machine's default.
  std::string congestion;
};

// Sets the congestion control `name` on the TCP socket fd; nothing when name is empty.
// False when the kernel refused it.
bool SetCongestion(int fd, const std::string& name);

// A one-thread server that accepts every connection, echoes what arrives, keeps the
// connection open while the peer does, and closes its side when the peer has closed.
class EchoServer {
 public:
  virtual ~EchoServer() = default;
  // Listens on 127.0.0.1 on a free port with a queue of `backlog`; 0 on failure.
  virtual std::uint16_t Listen(int backlog) = 0;
  // Runs the loop until `done` holds (checked after each event) or `limit` has passed.
  virtual bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) = 0;

  int Echoed() const { return FEchoed; }  // connections that have had their echo
  int Closed() const { return FClosed; }  // connections closed after their peer
  int Failures() const { return FFailures; }

 protected:
  int FEchoed = 0;
  int FClosed = 0;
  int FFailures = 0;
};

struct Peer {
  std::string name;  // library and version
  // Runs one transfer; true when every byte arrived within the time limit.
  std::function<bool(const BulkShape&)> bulk;
  std::function<std::unique_ptr<EchoServer>()> echo;
};

std::vector<Peer> Available();
// One line per peer left out of this build, saying which package would bring it in.
std::vector<std::string> Missing();

// This process's resident memory (VmRSS) in KiB, -1 when it cannot be read.
long VmRssKiB();

}  // namespace peers
