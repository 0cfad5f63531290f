// Host entry records: packed into a caller's buffer (asynchronous look-ups), or kept in
// per-thread storage (blocking look-ups).
#pragma once

#include <netdb.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "Platform/Resolver.h"

namespace plat::hostentry {

// An entry of family AF_INET lists the IPv4 addresses (4 bytes each); one of AF_INET6 lists
// the IPv6 addresses, then the IPv4 ones as mapped addresses (::ffff:a.b.c.d), 16 bytes each.

// The answer's error for an entry of the family: a name with IPv6 addresses only has no
// AF_INET entry (WSANO_DATA).
int EntryError(const resolver::HostInfo& info, int family);

// Bytes a packed entry needs in a buffer that starts at buf: the hostent record, the
// alias and address pointer arrays (null-terminated, pointer-aligned), the addresses and
// the strings. Every pointer of the packed entry points inside the buffer.
std::size_t PackedSize(const resolver::HostInfo& info, const char* buf, int family = AF_INET);
// Writes the entry; buf must hold PackedSize(info, buf, family) bytes. Returns that size.
std::size_t Pack(const resolver::HostInfo& info, char* buf, int family = AF_INET);

// The calling thread's entry, replaced at each call.
hostent* ThreadEntry(const resolver::HostInfo& info, int family = AF_INET);

}  // namespace plat::hostentry
