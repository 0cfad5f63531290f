// Host entry records: packed into a caller's buffer (asynchronous look-ups), or kept in
// per-thread storage (blocking look-ups).
#pragma once

#include <netdb.h>

#include <cstddef>
#include <cstdint>

#include "Platform/Resolver.h"

namespace plat::hostentry {

// Bytes a packed entry needs in a buffer that starts at buf: the hostent record, the
// alias and address pointer arrays (null-terminated, pointer-aligned), the 4-byte
// addresses and the strings. Every pointer of the packed entry points inside the buffer.
std::size_t PackedSize(const resolver::HostInfo& info, const char* buf);
// Writes the entry; buf must hold PackedSize(info, buf) bytes. Returns that size.
std::size_t Pack(const resolver::HostInfo& info, char* buf);

// The calling thread's entry, replaced at each call.
hostent* ThreadEntry(const resolver::HostInfo& info);

}  // namespace plat::hostentry
