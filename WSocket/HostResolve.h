// Blocking host resolution for the whole unit: they wait for the platform resolver.
#pragma once

#include <netdb.h>
#include <netinet/in.h>

#include <string>
#include <vector>

#include "Platform/Export.h"

class TStringList;

// A socket address of either family: what a socket connects to, binds to or accepts from.
// The family field tells which member holds it; both keep the port at the same place.
union TSockAddr {
  sockaddr_in6 In6;  // first, so that a value-initialized record is zero throughout
  sockaddr_in In;
  sockaddr Any;
};

// The record's length for its family (16 or 28 bytes).
ORV_API int SockAddrLen(const TSockAddr& Addr);
// The address as text: dotted for IPv4, the short IPv6 form ("::1") otherwise.
ORV_API std::string SockAddrText(const TSockAddr& Addr);
// A literal IPv6 address (without a zone; brackets around it allowed) into Addr's family and
// address, its port kept; false for any other text.
ORV_API bool ParseIPv6Literal(const std::string& Text, TSockAddr& Addr);

// A dotted address (after trimming) directly, "255.255.255.255" as the broadcast address,
// anything else through the resolver's first address. Raises ESocketException
// "SetAddr: Cannot convert host address '<text as given>'" when it cannot be resolved.
ORV_API in_addr WSocketResolveHost(const std::string& InAddr);
// The resolver's host entry (per-thread storage, valid until the next resolver call on the
// thread), or null with the reason in WSAGetLastError. The text is passed as it is; text
// holding a zero byte is refused (null, WSAEINVAL). WSocketResolveHost raises for it.
ORV_API hostent* WSocketGetHostByName(const std::string& Name);
ORV_API hostent* WSocketGetHostByAddr(const std::string& Addr);
// Raises ESocketException "Winsock.GetHostName failed" when the platform refuses.
ORV_API std::string LocalHostName();
// The local machine's addresses, refilled on every call. The list belongs to the unit:
// read it, do not free it; one thread at a time.
ORV_API TStringList* LocalIPList();

// Every address of a host, port 0, in the order a client tries them (RFC 8305: the two
// families alternate, IPv6 first): a literal of either family directly (255.255.255.255 as
// the broadcast address), a name through the resolver. Raises as WSocketResolveHost.
ORV_API std::vector<TSockAddr> WSocketResolveHostAll(const std::string& InAddr);
// The addresses of an entry, in the order above (an IPv4 entry's keep theirs); the mapped
// addresses of an AF_INET6 entry come out as IPv4 ones.
ORV_API std::vector<TSockAddr> EntryAddresses(const hostent& HostEntry);

// Appends each address of the entry's list as text (dotted for IPv4), in the order above.
ORV_API void FillAddressList(const hostent& HostEntry, TStringList& ToList);
