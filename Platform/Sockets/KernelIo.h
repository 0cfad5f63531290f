// Queue-length queries on kernel sockets. Kept apart from Winsock.h, whose FIONREAD and
// FIONBIO constants would collide with the kernel's ioctl macros of the same names.
#pragma once

namespace plat::kio {

// Bytes waiting to be read (on a datagram socket, the size of the first datagram);
// -1 with errno set on failure.
int InQueue(int fd);
// Bytes sent but not yet acknowledged by the peer, or not yet sent; -1 on failure.
int OutQueue(int fd);

}  // namespace plat::kio
