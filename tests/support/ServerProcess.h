// A real server (nginx, squid, tinyproxy...) run by a test: a folder of its own for its
// configuration and files, started in the foreground on a free loopback port, ready once
// the port accepts connections, and stopped by its pid (TERM, then KILL) when the object
// goes.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/FreePort.h"
#include "support/TempFile.h"

namespace testsupport {

// A port that was free a moment ago (the server binds it itself).
inline std::uint16_t FreeTcpPort() {
  ReservedPort r;
  return r.Port();
}

// Whether something accepts connections on 127.0.0.1:port.
inline bool PortAccepts(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

class ServerProcess {
 public:
  ServerProcess() = default;
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  ~ServerProcess() { Stop(); }

  // Starts argv and waits (at most readyTimeout) until every port in ports accepts
  // connections. False, with Error() set, when it did not come up. Stop sends
  // stopSignal (KILL for a server whose orderly shutdown only costs time).
  bool Start(const std::vector<std::string>& argv, const std::vector<std::uint16_t>& ports,
             std::chrono::milliseconds readyTimeout = std::chrono::seconds(10),
             int stopSignal = SIGTERM) {
    FStopSignal = stopSignal;
    ChildProcess::Options options;
    options.inheritStderr = false;
    FProcess = std::make_unique<ChildProcess>(argv, options);
    if (!FProcess->Started()) {
      FError = FProcess->Error();
      return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + readyTimeout;
    for (const std::uint16_t port : ports) {
      while (!PortAccepts(port)) {
        FProcess->Poll();
        if (FProcess->Exited()) {
          FError = argv[0] + " exited at start: " + FProcess->Output();
          return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
          FError = argv[0] + " did not accept connections in time";
          return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    return true;
  }

  void Stop() {
    if (!FProcess || !FProcess->Started() || FProcess->Exited()) return;
    ::kill(FProcess->Pid(), FStopSignal);
    if (!FProcess->Wait(std::chrono::seconds(5))) FProcess->Kill();
  }

  const std::string& Error() const { return FError; }

 private:
  std::unique_ptr<ChildProcess> FProcess;
  std::string FError;
  int FStopSignal = SIGTERM;
};

}  // namespace testsupport
