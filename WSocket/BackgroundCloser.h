// Finishes stream sessions that the application closed while bytes it handed to Send were
// still on their way: the component is free at once, and this thread's closer keeps
// feeding the peer, then ends the sending side and closes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Platform/Export.h"
#include "Platform/Winsock.h"

class TSendQueue;

namespace BackgroundCloser {

// Takes the socket and everything Queue still holds (Queue is left empty); the caller
// forgets the handle. Sending stops early only when the peer is gone or nothing moves for
// a long while; a LingerSeconds above 0 bounds the whole close instead. The end of the
// thread bounds it too (ExitTimeout). Must be called on
// the socket's own thread, which keeps pumping its messages.
ORV_API void HandOver(plat::SOCKET Socket, TSendQueue& Queue, int SendFlags, int LingerSeconds);

// Sockets this thread's closer is still finishing.
ORV_API std::size_t Pending();

// How long the closer of a thread that ends (for the main thread: of the program) goes on
// sending, in milliseconds, counted from the thread's end and never extended by progress;
// 2000 by default, one setting for every thread. Then each socket still pending is closed
// normally: what the system holds by then is still delivered, also after the process has
// gone, and only what this queue still holds is dropped. A peer that resets ends its
// socket's close at once. An application that must not lose a byte waits for it before it
// ends (Flush, then WaitForClose for the peer's end).
ORV_API std::int32_t ExitTimeout();
ORV_API void SetExitTimeout(std::int32_t Milliseconds);

}  // namespace BackgroundCloser
