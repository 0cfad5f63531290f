// Start-up and clean-up of the socket layer for the whole unit, counted by live sockets.
#pragma once

#include <cstdint>

#include "Platform/Export.h"
#include "Platform/Winsock.h"

namespace WSocket {
// The unit's banner. Kept in a namespace of its own: other units export a banner of the
// same name.
inline constexpr char CopyRight[] = " TWSocket V2.50: asynchronous TCP/UDP socket component ";
}  // namespace WSocket

// Starts the socket layer (version 1.1) unless it is started already. Raises
// ESocketException "wsock32.dll: WSAStartup error #n" when it cannot be started.
ORV_API void EnsureWinsockStarted();

// A copy of the start-up record, starting the socket layer first when needed.
ORV_API plat::WSADATA WinsockInfo();

// Bookkeeping of live socket components. The count and the started flag are guarded, so
// sockets may be created and destroyed on several threads.
ORV_API void WinsockSocketCreated();
// Both at once, under one lock (a server creates a component per connection): counts the
// socket and starts the socket layer; when the start fails, the count is undone before the
// exception leaves.
ORV_API void WinsockSocketCreatedAndStarted();
// The last socket gone cleans the socket layer up.
ORV_API void WinsockSocketDestroyed();
ORV_API std::int32_t SocketCount();
// A thread's background closer holds sockets of components already gone: the socket layer
// stays up until it is done. Not counted as sockets.
ORV_API void WinsockBackgroundCloseStarted();
ORV_API void WinsockBackgroundCloseEnded();
ORV_API bool WinsockStarted();
