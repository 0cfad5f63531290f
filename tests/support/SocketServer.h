// A loopback server built from the socket component itself: a listening TWSocket that
// accepts every incoming connection and hands it to a TWSocket of its own (Dup). The
// test decides what each connection does by setting up that component's events before
// it adopts the handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "WSocket/WSocket.h"

namespace testsupport {

class SocketServer {
 public:
  // Called for every accepted connection, before the component adopts the handle.
  using Setup = std::function<void(TWSocket& client, std::size_t index)>;

  explicit SocketServer(Setup setup) : FSetup(std::move(setup)) {}
  SocketServer(const SocketServer&) = delete;
  SocketServer& operator=(const SocketServer&) = delete;

  ~SocketServer() {
    // Connections first: their handlers may refer to state owned by the test.
    FClients.clear();
    FListener.reset();
  }

  // Listens on 127.0.0.1 with a port chosen by the system; false when that failed.
  bool Start() {
    FListener = std::make_unique<TWSocket>(nullptr);
    FListener->SetAddr("127.0.0.1");
    FListener->SetPort("0");
    FListener->SetProto("tcp");
    FListener->OnSessionAvailable = [this](TObject*, std::uint16_t error) {
      if (error != 0) {
        ++FAcceptErrors;
        return;
      }
      const plat::SOCKET h = FListener->Accept();
      if (h == plat::INVALID_SOCKET) {
        ++FAcceptErrors;
        return;
      }
      auto client = std::make_unique<TWSocket>(nullptr);
      if (FSetup) FSetup(*client, FClients.size());
      TWSocket& ref = *client;
      FClients.push_back(std::move(client));
      ref.Dup(h);
    };
    if (FListener->Listen() != 0) return false;
    const std::string port = FListener->GetXPort();
    if (port == "error") return false;
    FPort = static_cast<std::uint16_t>(std::stoi(port));
    return FPort != 0;
  }

  std::uint16_t Port() const { return FPort; }
  std::size_t Accepted() const { return FClients.size(); }
  int AcceptErrors() const { return FAcceptErrors; }
  TWSocket& Client(std::size_t i) { return *FClients.at(i); }
  TWSocket& Listener() { return *FListener; }

 private:
  Setup FSetup;
  std::unique_ptr<TWSocket> FListener;
  std::vector<std::unique_ptr<TWSocket>> FClients;
  std::uint16_t FPort = 0;
  int FAcceptErrors = 0;
};

// A client component (of the socket class, or a test's descendant of it) aimed at
// 127.0.0.1:port, not connected yet.
template <class TSocket = TWSocket>
std::unique_ptr<TSocket> NewLoopbackClient(std::uint16_t port, const std::string& proto = "tcp") {
  auto s = std::make_unique<TSocket>(nullptr);
  s->SetAddr("127.0.0.1");
  s->SetPort(std::to_string(port));
  s->SetProto(proto);
  return s;
}

}  // namespace testsupport
