// Shared pieces of the tests of line mode and the waiting calls: a socket whose line state
// can be read, and a client connected to a scripted peer (tests/peers/line_peer.py).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "WSocket/WSocket.h"
#include "Wait/Wait.h"
#include "support/PythonPeer.h"
#include "support/SocketServer.h"

namespace linetest {

class LineSocket : public TWSocket {
 public:
  using TCustomWSocket::CheckFWait;
  using TCustomWSocket::FAllSent;
  using TCustomWSocket::FAwaitedState;
  using TCustomWSocket::FSendQueue;
  using TWSocket::TWSocket;
  // A ReadLine is collecting a line, and how much of it has come.
  bool LineMode() const { return FLine.Active(); }
  std::int32_t LineLength() const { return FLine.Length(); }
};

// Starts line_peer.py with the steps (see the script) and aims a new socket at it.
// The socket is not connected yet.
struct ScriptedPeer {
  testsupport::PythonPeer Peer;
  std::unique_ptr<LineSocket> Sock;

  bool Start(const std::vector<std::string>& Steps, int PauseMs = 5, int LifetimeSeconds = 20) {
    std::vector<std::string> args{"--pause", std::to_string(PauseMs)};
    args.insert(args.end(), Steps.begin(), Steps.end());
    return StartScript("line_peer.py", args, LifetimeSeconds);
  }

  // Any peer script of tests/peers.
  bool StartScript(const std::string& Script, const std::vector<std::string>& Args,
                   int LifetimeSeconds = 20) {
    Peer = testsupport::StartPythonPeer(Script, Args, LifetimeSeconds);
    if (Peer.port == 0) return false;
    Sock = testsupport::NewLoopbackClient<LineSocket>(Peer.port);
    return true;
  }

  void Say(const std::string& Line) { Peer.process->WriteStdin(Line + "\n"); }
};

}  // namespace linetest
