// Error plumbing of the socket layer: the per-thread last error and the translation of
// kernel and resolver failures into the socket error numbers.
#pragma once

namespace plat::wsaerr {

// errno value -> socket error number. EINPROGRESS maps to its own number here; the
// connect path turns it into a would-block itself.
int FromErrno(int err);
// EAI_* value of getaddrinfo/getnameinfo -> socket error number (errnoValue is used for
// EAI_SYSTEM).
int FromGai(int gaiError, int errnoValue);

// Sets the calling thread's last error and returns -1, so that failing calls read
// `return wsaerr::Fail(WSAEINVAL);`.
int Fail(int code);
// Fail(FromErrno(errno)).
int FailErrno();

}  // namespace plat::wsaerr
