// Unit WSocket: the asynchronous socket component, its exception, the resolver helpers
// and the error texts.
#pragma once

#include "Platform/Export.h"
#include "WSocket/CustomWSocket.h"
#include "WSocket/ErrorDesc.h"
#include "WSocket/HostResolve.h"
#include "WSocket/SocketException.h"
#include "WSocket/WinsockStartup.h"

class TPublishedClass;

// The socket component with its configuration and events published.
class ORV_API TWSocket : public TCustomWSocket {
 public:
  using TCustomWSocket::TCustomWSocket;
  std::string ClassName() const override { return "TWSocket"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();
};
