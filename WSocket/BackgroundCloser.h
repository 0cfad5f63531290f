// Finishes stream sessions that the application closed while bytes it handed to Send were
// still on their way: the component is free at once, and this thread's closer keeps
// feeding the peer, then ends the sending side and closes.
#pragma once

#include <cstdint>

#include "Platform/Winsock.h"

class TSendQueue;

namespace BackgroundCloser {

// Takes the socket and everything Queue still holds (Queue is left empty); the caller
// forgets the handle. Sending stops early only when the peer is gone or nothing moves for
// a long while; a LingerSeconds above 0 bounds the whole close instead. Must be called on
// the socket's own thread, which keeps pumping its messages.
void HandOver(plat::SOCKET Socket, TSendQueue& Queue, int SendFlags, int LingerSeconds);

// Sockets this thread's closer is still finishing.
std::size_t Pending();

}  // namespace BackgroundCloser
