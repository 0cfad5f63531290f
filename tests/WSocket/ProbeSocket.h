// A socket component whose inner state the tests can read and set directly.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "WSocket/WSocket.h"
#include "support/Pump.h"

namespace wsocktest {

class ProbeSocket : public TWSocket {
 public:
  using TCustomWSocket::AssignDefaultValue;
  using TCustomWSocket::ChangeState;
  using TCustomWSocket::FAddrAssigned;
  using TCustomWSocket::FAddrFamily;
  using TCustomWSocket::FAddrResolved;
  using TCustomWSocket::FAllSent;
  using TCustomWSocket::FAwaitedState;
  using TCustomWSocket::FCloseNotified;
  using TCustomWSocket::FLastError;
  using TCustomWSocket::FLingerOnOff;
  using TCustomWSocket::FPaused;
  using TCustomWSocket::FPortAssigned;
  using TCustomWSocket::FProtoAssigned;
  using TCustomWSocket::FProtoNum;
  using TCustomWSocket::FReadCount;
  using TCustomWSocket::FSendFlagsValue;
  using TCustomWSocket::FSendQueue;
  using TCustomWSocket::FSocketHandle;
  using TCustomWSocket::FSocketType;
  using TCustomWSocket::FState;
  using TCustomWSocket::FWindowHandle;
  using TCustomWSocket::LookupHandle;
  using TCustomWSocket::RaiseExceptionFmt;
  using TCustomWSocket::SockAddr;
  using TCustomWSocket::SocketError;
  using TCustomWSocket::TryToSend;
  using TWSocket::TWSocket;

  // The directions the component's own operations asked the virtual Shutdown for.
  std::vector<std::int32_t> Shutdowns;
  void Shutdown(std::int32_t How) override {
    Shutdowns.push_back(How);
    TWSocket::Shutdown(How);
  }

  // The look-up state, kept with the socket's rarely used parts.
  const char* HostEntryBuffer() const { return FExtras ? FExtras->HostEntryBuffer.get() : nullptr; }
  void SetLookupHandle(plat::HANDLE Handle) { Extras().LookupHandle = Handle; }
  // The port numbers that Port named and that a datagram socket was bound to.
  std::int32_t PortNum() const { return FExtras ? FExtras->PortNum : 0; }
  std::int32_t LocalPortNum() const { return FExtras ? FExtras->LocalPortNum : 0; }
};

// A listening component on 127.0.0.1 (or Address) that hands every connection to a
// ProbeSocket of its own; Setup runs before the new component adopts the handle.
class Loopback {
 public:
  std::function<void(ProbeSocket&)> Setup;
  std::string Address = "127.0.0.1";

  Loopback() = default;
  Loopback(const Loopback&) = delete;
  Loopback& operator=(const Loopback&) = delete;
  ~Loopback() {
    Served.clear();
    Listener.reset();
  }

  bool Start() {
    Listener = std::make_unique<ProbeSocket>(nullptr);
    Listener->SetAddr(Address);
    Listener->SetPort("0");
    Listener->OnSessionAvailable = [this](TObject*, std::uint16_t) {
      const plat::SOCKET h = Listener->Accept();
      if (h == plat::INVALID_SOCKET) return;
      Served.push_back(std::make_unique<ProbeSocket>(nullptr));
      if (Setup) Setup(*Served.back());
      Served.back()->Dup(h);
    };
    if (Listener->Listen() != 0) return false;
    Port = Listener->GetXPort();
    return Port != "error";
  }

  // Connects c and pumps until it is connected and served by a component of its own.
  bool ConnectClient(ProbeSocket& c) {
    const std::size_t served = Served.size() + 1;
    c.Connect();
    return testsupport::PumpUntil(
        [&] { return c.State() == wsConnected && Served.size() == served; });
  }

  // A client aimed at the listener, not connected yet.
  std::unique_ptr<ProbeSocket> NewClient() const {
    auto c = std::make_unique<ProbeSocket>(nullptr);
    Aim(*c);
    return c;
  }
  void Aim(TCustomWSocket& c) const {
    c.SetAddr(Address);
    c.SetPort(Port);
    c.SetProto("tcp");
  }

  std::unique_ptr<ProbeSocket> Listener;
  std::vector<std::unique_ptr<ProbeSocket>> Served;
  std::string Port;
};

}  // namespace wsocktest
