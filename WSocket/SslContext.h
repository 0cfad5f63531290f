// What a TLS client session is built from: the context (protocol versions, the trusted
// authorities, whether the peer is verified), the in-memory byte queues that stand
// between the TLS engine and the socket, and the texts of its failures.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Export.h"

struct ssl_ctx_st;
struct ssl_st;
struct bio_st;

namespace ssl {

// Bytes in order: appended at the tail, taken from the head. The TLS engine writes its
// records into one and reads the peer's from another; the socket moves them to and from
// the network without a further copy.
class ORV_API TByteFifo {
 public:
  std::size_t Size() const { return FTail - FHead; }
  bool Empty() const { return FTail == FHead; }
  const char* Data() const { return FBuf.data() + FHead; }
  void Append(const char* Data, std::size_t Len) {
    std::memcpy(Space(Len), Data, Len);
    FTail += Len;
  }
  // Room for at least Len more bytes at the tail; Commit says how many were written.
  char* Space(std::size_t Len) {
    if (FHead == FTail) FHead = FTail = 0;
    if (FBuf.size() - FTail < Len) {
      // Moved down first when the taken part at the head is large enough to make room.
      if (FHead > 0 && FBuf.size() - Size() >= Len && FHead >= Size()) {
        std::memmove(FBuf.data(), FBuf.data() + FHead, Size());
        FTail -= FHead;
        FHead = 0;
      } else {
        FBuf.resize(std::max(FBuf.size() * 2, FTail + Len));
      }
    }
    return FBuf.data() + FTail;
  }
  void Commit(std::size_t Len) { FTail += Len; }
  void Consume(std::size_t Len) {
    FHead += std::min(Len, Size());
    if (FHead == FTail) FHead = FTail = 0;
  }
  void Clear() { FHead = FTail = 0; }

 private:
  std::vector<char> FBuf;
  std::size_t FHead = 0;
  std::size_t FTail = 0;
};

// A context with a reference count of the TLS engine's own.
struct ORV_API TCtxFree {
  void operator()(ssl_ctx_st* Ctx) const;
};
using TCtxPtr = std::unique_ptr<ssl_ctx_st, TCtxFree>;

// The settings a client context is made from.
struct ORV_API TClientSettings {
  std::string CAFile;  // trusted authorities, a file of certificates; with CAPath
  std::string CAPath;  // or a folder of hashed ones; both empty: the system's store
  bool Verify = true;  // verify the peer's certificate and host name
  bool operator==(const TClientSettings&) const = default;
};

// A client context for TLS 1.2 and 1.3; null with Error set when the authorities cannot
// be loaded.
ORV_API TCtxPtr NewClientContext(const TClientSettings& Settings, std::string& Error);

// A client session on Ctx whose engine reads the peer's records from In and writes its own
// into Out. HostName is sent as the server name (unless it is an address) and, when the
// context verifies, checked against the certificate: a name against its DNS names, an
// address against its IP addresses. Null with Error set when it cannot be made.
ORV_API ssl_st* NewClientSession(ssl_ctx_st* Ctx, TByteFifo& In, TByteFifo& Out,
                                 const std::string& HostName, bool Verify, std::string& Error);
ORV_API void FreeSession(ssl_st* Session);

// The reason a certificate was refused, for a verification result of the engine.
ORV_API std::string VerifyFailureText(long Result);
// The engine's queued errors as one text (the queue is emptied); Fallback when none.
ORV_API std::string TakeErrorText(const std::string& Fallback);
// Empties the engine's error queue of this thread.
ORV_API void ClearErrors();

}  // namespace ssl
