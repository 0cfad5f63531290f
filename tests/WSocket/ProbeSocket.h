// A socket component whose inner state the tests can read and set directly.
#pragma once

#include <chrono>
#include <functional>

#include "WSocket/WSocket.h"
#include "support/Pump.h"

namespace wsocktest {

class ProbeSocket : public TWSocket {
 public:
  using TCustomWSocket::AssignDefaultValue;
  using TCustomWSocket::ChangeState;
  using TCustomWSocket::FAddrAssigned;
  using TCustomWSocket::FAddrResolved;
  using TCustomWSocket::FAllSent;
  using TCustomWSocket::FAwaitedState;
  using TCustomWSocket::FCloseNotified;
  using TCustomWSocket::FHostEntryBuffer;
  using TCustomWSocket::FLookupHandle;
  using TCustomWSocket::FPortAssigned;
  using TCustomWSocket::FPortNum;
  using TCustomWSocket::FProtoAssigned;
  using TCustomWSocket::FProtoNum;
  using TCustomWSocket::FReadCount;
  using TCustomWSocket::FSendFlagsValue;
  using TCustomWSocket::FSockAddr;
  using TCustomWSocket::FSocketHandle;
  using TCustomWSocket::FSocketType;
  using TCustomWSocket::FState;
  using TCustomWSocket::FWindowHandle;
  using TCustomWSocket::RaiseExceptionFmt;
  using TCustomWSocket::SocketError;
  using TWSocket::TWSocket;
};

inline bool Pump(const std::function<bool()>& pred, int ms = 5000) {
  return testsupport::PumpUntil(pred, std::chrono::milliseconds(ms));
}

}  // namespace wsocktest
