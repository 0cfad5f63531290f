// Blocking host resolution for the whole unit: they wait for the platform resolver.
#pragma once

#include <netdb.h>
#include <netinet/in.h>

#include <string>

#include "Platform/Export.h"

class TStringList;

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

// Appends each address of the entry's list as dotted text, in the entry's order.
ORV_API void FillAddressList(const hostent& HostEntry, TStringList& ToList);
