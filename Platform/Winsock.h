// A sockets API, version 1.1, whose readiness and look-up results arrive as window
// messages, over non-blocking POSIX sockets.
//
// Sockets and look-up tasks belong to the thread that created them: their
// notifications are posted to windows of that thread's queue and produced by that
// thread's reactor. Handles carry a generation, so a handle that has been closed never
// matches a newer socket, whatever descriptor number the kernel reuses. No call blocks
// the thread except the resolver functions that are blocking by nature
// (gethostbyname, gethostbyaddr, getservbyname, getprotobyname).
//
// The POSIX records (sockaddr, sockaddr_in, in_addr, hostent, servent, protoent, linger,
// iovec) and the byte-order helpers (htons, ntohs, htonl, ntohl) are used as they are.
//
// Behaviour worth knowing beyond the declarations:
// - Every kernel socket is non-blocking. FIONBIO only records the mode (and is refused
//   with WSAEINVAL while a select mask is set); a socket left in blocking mode still
//   answers WSAEWOULDBLOCK where a blocking socket would wait, and a timed linger on it
//   closes at once, finishing in the background.
// - A stream send that the kernel takes only in part counts like one that would block:
//   FD_WRITE follows when buffer space returns.
// - setsockopt/getsockopt take the POSIX SOL_SOCKET numbering, and also level 0xFFFF
//   with the original option numbers; SO_LINGER takes a POSIX linger, or two 16-bit
//   words (on/off, seconds) when optlen is 4.
// - The host entry that the asynchronous look-ups write at the start of the caller's
//   buffer is a POSIX hostent (AF_INET, length 4; AF_INET6, length 16 for the look-ups
//   of both families); all its pointers point inside the buffer. The buffer need not be
//   aligned: read the record with memcpy then.
// - Sockets of AF_INET6 take and give sockaddr_in6 records (28 bytes) wherever an address
//   passes; they are IPv6 only (IPV6_V6ONLY), so "::" does not take IPv4 connections.
// - Calls from a thread other than the socket's window thread are allowed; readiness is
//   always harvested by the reactor of the thread that owns the selected window.
#pragma once

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cstdint>

#include "Platform/Export.h"
#include "Platform/Messages.h"

namespace plat {

using SOCKET = std::uint64_t;
using HANDLE = std::uint64_t;  // asynchronous look-up task; 0 = none
using WORD = std::uint16_t;
using u_long = std::uint32_t;

inline constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
inline constexpr int SOCKET_ERROR = -1;

inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;

inline constexpr long FIONREAD = 0x4004667F;
inline constexpr long FIONBIO = static_cast<long>(0x8004667Eu);
// Bytes written to a stream socket that the peer has not acknowledged yet (0 on other
// sockets): what a reset would lose.
inline constexpr long FIONWRITE = 0x40046679;

inline constexpr int SD_RECEIVE = 0;
inline constexpr int SD_SEND = 1;
inline constexpr int SD_BOTH = 2;

inline constexpr int WSABASEERR = 10000;
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETOOMANYREFS = 10059;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAELOOP = 10062;
inline constexpr int WSAENAMETOOLONG = 10063;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

inline constexpr int WSADESCRIPTION_LEN = 256;
inline constexpr int WSASYS_STATUS_LEN = 128;

#pragma pack(push, 1)
// The start-up record, laid out as on the original 32-bit platform: 398 bytes.
struct ORV_API WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
  std::uint16_t iMaxSockets;
  std::uint16_t iMaxUdpDg;
  std::uint32_t lpVendorInfo;
};
#pragma pack(pop)
static_assert(sizeof(WSADATA) == 398);

// Reference counted: every successful start-up needs a clean-up; only the last one
// closes every socket and cancels every look-up, posting nothing. Returns 0 or an error
// code (not through WSAGetLastError).
ORV_API int WSAStartup(WORD versionRequested, WSADATA* data);
ORV_API int WSACleanup();
// Per thread.
ORV_API int WSAGetLastError();
ORV_API void WSASetLastError(int error);

// Replaces the socket's mask, window and message; a mask of 0 stops posting.
ORV_API int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, long events);
// Completion: (hwnd, msg, task, MAKELONG(size needed, error)); the buffer is written on
// the owner thread just before the message is delivered, never after a cancel.
ORV_API HANDLE WSAAsyncGetHostByName(HWND hwnd, UINT msg, const char* name, char* buf, int buflen);
// Both families, for a client that will try them in turn: the entry is a hostent of
// AF_INET6 (length 16) listing the IPv6 addresses, then the IPv4 ones as mapped addresses
// (::ffff:a.b.c.d), each family in the resolver's order.
ORV_API HANDLE WSAAsyncGetHostByName6(HWND hwnd, UINT msg, const char* name, char* buf, int buflen);
ORV_API HANDLE WSAAsyncGetHostByAddr(HWND hwnd, UINT msg, const char* addr, int len, int type,
                                     char* buf, int buflen);
ORV_API int WSACancelAsyncRequest(HANDLE task);

ORV_API SOCKET socket(int af, int type, int protocol);
ORV_API int bind(SOCKET s, const sockaddr* name, int namelen);
ORV_API int listen(SOCKET s, int backlog);
ORV_API SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
ORV_API int connect(SOCKET s, const sockaddr* name, int namelen);
ORV_API int closesocket(SOCKET s);
ORV_API int shutdown(SOCKET s, int how);
// shutdown(s, SD_BOTH), its failure ignored, then closesocket(s), with closesocket's result:
// what a graceful close does, in one call. Where the close sends the same end by itself (the
// peer has ended and nothing waits unread) the shutdown costs no system call. A close that a
// timed linger refuses leaves the socket shut down; call again to retry.
ORV_API int shutdownclose(SOCKET s);
ORV_API int send(SOCKET s, const char* buf, int len, int flags);
ORV_API int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen);
// Gather form of send: the pieces, in order, in one call, as if they were one buffer (on
// a datagram socket, one datagram to the connected peer). Same results and readiness
// rules as send: the bytes taken, a part of the total counting as a send that would
// block. At most kMaxSendPieces pieces (WSAEINVAL beyond), totalling at most 2^31 - 1
// bytes (WSAEMSGSIZE).
inline constexpr int kMaxSendPieces = 1024;
ORV_API int sendv(SOCKET s, const iovec* pieces, int count, int flags);
ORV_API int recv(SOCKET s, char* buf, int len, int flags);
// What the stream socket's latest receive (or FIONREAD) told about the bytes still
// waiting, without a system call: -1 when nothing is known (and for any other socket), 0
// when that call left none, otherwise at least that many. Bytes that arrived since are
// not counted: a receive that left none re-armed FD_READ, which announces them.
ORV_API int recvleft(SOCKET s);
ORV_API int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen);
ORV_API int ioctlsocket(SOCKET s, long cmd, u_long* argp);
ORV_API int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
ORV_API int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
ORV_API int getsockname(SOCKET s, sockaddr* name, int* namelen);
ORV_API int getpeername(SOCKET s, sockaddr* name, int* namelen);

// Blocking resolver calls; results live in per-thread storage until the next call.
ORV_API servent* getservbyname(const char* name, const char* proto);
ORV_API protoent* getprotobyname(const char* name);
ORV_API hostent* gethostbyname(const char* name);
// Both families, the entry laid out as WSAAsyncGetHostByName6 writes it.
ORV_API hostent* gethostbyname6(const char* name);
ORV_API hostent* gethostbyaddr(const char* addr, int len, int type);
ORV_API int gethostname(char* name, int namelen);

// As the C library's: forms a.b.c.d, a.b.c, a.b and a, with octal and hexadecimal
// parts; invalid or empty text gives INADDR_NONE.
ORV_API std::uint32_t inet_addr(const char* cp);
// Per-thread static buffer.
ORV_API char* inet_ntoa(in_addr in);

}  // namespace plat
