// Starts one of the peer scripts of tests/peers and learns the port it listens on.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace testsupport {

struct PythonPeer {
  std::unique_ptr<ChildProcess> process;
  // 0 when the script did not start or did not announce its port.
  std::uint16_t port = 0;

  // The next line the script prints ("" when none came in time).
  std::string NextLine(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::string line;
    if (!process || !process->ReadLine(line, timeout)) return "";
    return line;
  }

  // Reads lines until one starts with `prefix`; returns it, or "" when none came in time.
  std::string LineStartingWith(const std::string& prefix,
                               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return "";
      std::string line = NextLine(left);
      if (line.empty()) return "";
      if (line.compare(0, prefix.size(), prefix) == 0) return line;
    }
  }
};

// Runs `python3 -B -u tests/peers/<script> <args...> --timeout <seconds>`.
inline PythonPeer StartPythonPeer(const std::string& script, std::vector<std::string> args,
                                  int lifetimeSeconds = 30) {
  std::vector<std::string> argv{"python3", "-B", "-u", ChildProcess::PeerScript(script)};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back("--timeout");
  argv.push_back(std::to_string(lifetimeSeconds));
  PythonPeer peer;
  peer.process = std::make_unique<ChildProcess>(argv);
  if (!peer.process->Started()) return peer;
  const std::string first = peer.NextLine(std::chrono::seconds(15));
  if (first.rfind("port ", 0) == 0)
    peer.port = static_cast<std::uint16_t>(std::stoi(first.substr(5)));
  return peer;
}

}  // namespace testsupport
