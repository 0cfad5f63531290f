// The send queue, receiving, and the dispatcher of the socket layer's notifications.
#include <sys/socket.h>

#include <climits>
#include <list>
#include <memory>

#include "WSockbuf/Buffer.h"
#include "WSocket/CustomWSocket.h"
#include "Wait/Wait.h"

namespace {

using TChunkList = std::list<std::unique_ptr<TBuffer>>;

// Drained chunks of this thread's sockets, kept for the next chunk any of them opens: a bulk
// transfer would otherwise allocate and free a chunk (and its list node) every 1514 bytes.
// Nodes move between lists by splicing, so reuse allocates nothing.
constexpr std::size_t kSpareChunks = 16;
thread_local TChunkList tSpareChunks;

void AppendChunk(TChunkList& Queue, std::int32_t Size) {
  if (!tSpareChunks.empty() && tSpareChunks.front()->BufSize() == Size) {
    Queue.splice(Queue.end(), tSpareChunks, tSpareChunks.begin());
    return;
  }
  Queue.push_back(std::make_unique<TBuffer>(Size));
}

// The first chunk of the queue, drained, leaves it.
void RetireFirstChunk(TChunkList& Queue) {
  if (tSpareChunks.size() < kSpareChunks) {
    tSpareChunks.splice(tSpareChunks.end(), Queue, Queue.begin());
  } else {
    Queue.pop_front();
  }
}

}  // namespace

void TCustomWSocket::PutDataInSendBuffer(const void* Data, std::int32_t Len) {
  // A chunk takes nothing from a null address: the loop below would append chunks forever.
  if (Len <= 0 || Data == nullptr) return;
  if (FSendQueue.empty()) AppendChunk(FSendQueue, FChunkSize);
  TBuffer* chunk = FSendQueue.back().get();
  const char* p = static_cast<const char*>(Data);
  std::int32_t remaining = Len;
  for (;;) {
    const std::int32_t n = chunk->Write(p, remaining);
    if (n >= remaining) return;
    p += n;
    remaining -= n;
    AppendChunk(FSendQueue, FChunkSize);
    chunk = FSendQueue.back().get();
  }
}

void TCustomWSocket::PutStringInSendBuffer(const std::string& Str) {
  PutDataInSendBuffer(Str.data(), static_cast<std::int32_t>(Str.size()));
}

void TCustomWSocket::DeleteBufferedData() {
  FSendQueue.clear();
}

void TCustomWSocket::TryToSend() {
  if (FSocketHandle == plat::INVALID_SOCKET) return;
  if (FSendQueue.empty()) {
    // Nothing was ever queued in this session: nothing is left to send either.
    FAllSent = true;
    return;
  }
  TAliveGuard guard(this);
  for (;;) {
    TBuffer* chunk = FSendQueue.front().get();
    std::int32_t n = 0;
    const char* p = chunk->Peek(n);
    if (n <= 0) {
      if (FSendQueue.size() > 1) {
        RetireFirstChunk(FSendQueue);
        continue;
      }
      FAllSent = true;
      return;
    }
    const std::int32_t r = RealSend(p, n);
    if (guard.SessionEnded()) return;
    if (r == 0) return;
    if (r < 0) {
      const int code = plat::WSAGetLastError();
      if (code == plat::WSAECONNRESET || code == plat::WSAENOTSOCK || code == plat::WSAENOTCONN ||
          code == plat::WSAEINVAL) {
        FCloseNotified = true;
        Close();
        // Close ran the closing sequence; a handler there may have started a new session,
        // which must not hear of the old one's end.
        if (guard.Gone() || FSocketHandle != plat::INVALID_SOCKET) return;
        TriggerSessionClosed(static_cast<std::uint16_t>(code));
        return;
      }
      if (code == plat::WSAEWOULDBLOCK) return;
      plat::WSASetLastError(code);
      SocketError("TryToSend failed");
      return;
    }
    chunk->Remove(r);
    if (r < n) return;
  }
}

std::int32_t TCustomWSocket::RealSend(const void* Data, std::int32_t Len) {
  const char* p = static_cast<const char*>(Data);
  if (FSocketType == SOCK_DGRAM)
    return plat::sendto(FSocketHandle, p, Len, FSendFlagsValue,
                        reinterpret_cast<const sockaddr*>(&FSockAddr), sizeof FSockAddr);
  return plat::send(FSocketHandle, p, Len, FSendFlagsValue);
}

std::int32_t TCustomWSocket::Send(const void* Data, std::int32_t Len) {
  if (FState != wsConnected) {
    plat::WSASetLastError(plat::WSAENOTCONN);
    SocketError("Send");
    return -1;
  }
  if (Data == nullptr && Len > 0) {
    plat::WSASetLastError(plat::WSAEFAULT);
    SocketError("Send");
    return -1;
  }
  TAliveGuard guard(this);
  FAllSent = false;
  std::int32_t result = 0;
  if (Len > 0) {
    PutDataInSendBuffer(Data, Len);
    result = Len;
  }
  TryToSend();
  if (guard.SessionEnded()) return result;
  // Reported from the dispatcher later, never from inside Send.
  if (FAllSent)
    plat::PostMessageA(FWindowHandle, WM_SOCKET_SELECT, FSocketHandle,
                       plat::MAKELONG(static_cast<std::uint16_t>(plat::FD_WRITE), 0));
  return result;
}

std::int32_t TCustomWSocket::SendStr(const std::string& Str) {
  if (Str.size() > static_cast<std::size_t>(INT32_MAX)) {
    plat::WSASetLastError(plat::WSAEMSGSIZE);
    SocketError("SendStr");
    return -1;
  }
  return Send(Str.data(), static_cast<std::int32_t>(Str.size()));
}

void TCustomWSocket::SendText(const std::string& Str) {
  SendStr(Str);
}

TSocketSendFlags TCustomWSocket::SendFlags() {
  switch (FSendFlagsValue) {
    case 0:
      return wsSendNormal;
    case MSG_OOB:
      return wsSendUrgent;
    default:
      RaiseException("Invalid internal SendFlags");
      return wsSendNormal;
  }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags Value) {
  switch (Value) {
    case wsSendNormal:
      FSendFlagsValue = 0;
      break;
    case wsSendUrgent:
      FSendFlagsValue = MSG_OOB;
      break;
    default:
      RaiseException("Invalid SendFlags");
      break;
  }
}

std::int32_t TCustomWSocket::CountReceived(int N) {
  if (N < 0)
    FLastError = plat::WSAGetLastError();
  else
    FReadCount += N;
  return N;
}

std::int32_t TCustomWSocket::Receive(void* Buffer, std::int32_t BufferSize) {
  return CountReceived(plat::recv(FSocketHandle, static_cast<char*>(Buffer), BufferSize, 0));
}

std::int32_t TCustomWSocket::ReceiveFrom(void* Buffer, std::int32_t BufferSize, sockaddr_in& From,
                                         std::int32_t& FromLen) {
  int len = FromLen;
  const int n = plat::recvfrom(FSocketHandle, static_cast<char*>(Buffer), BufferSize, 0,
                               reinterpret_cast<sockaddr*>(&From), &len);
  FromLen = len;
  return CountReceived(n);
}

std::int32_t TCustomWSocket::PeekData(void* Buffer, std::int32_t BufferSize) {
  const int n = plat::recv(FSocketHandle, static_cast<char*>(Buffer), BufferSize, MSG_PEEK);
  if (n < 0) FLastError = plat::WSAGetLastError();
  return n;
}

std::string TCustomWSocket::ReceiveStr() {
  std::string result;
  plat::u_long waiting = 0;
  if (plat::ioctlsocket(FSocketHandle, plat::FIONREAD, &waiting) != 0 || waiting == 0)
    return result;
  result.resize(waiting > INT32_MAX ? INT32_MAX : waiting);
  const int n = plat::recv(FSocketHandle, result.data(), static_cast<int>(result.size()), 0);
  result.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return result;
}

std::int32_t TCustomWSocket::RcvdCount() {
  plat::u_long waiting = 0;
  if (plat::ioctlsocket(FSocketHandle, plat::FIONREAD, &waiting) != 0) {
    SocketError("ioctlSocket");
    return -1;
  }
  return static_cast<std::int32_t>(waiting);
}

void TCustomWSocket::ASyncReceive(TMessage& MsgRec) {
  const std::uint16_t error = plat::HIWORD(MsgRec.LParam);
  TAliveGuard guard(this);
  // Waiting bytes after the previous pass; a handler that takes nothing is not called
  // again for this notification (its next read re-arms the socket layer's FD_READ).
  plat::u_long before = 0;
  bool first = true;
  try {
    for (;;) {
      FLastError = 0;
      if (FLineMode) {
        ReadLineReceive();
        if (guard.SessionEnded()) return;
        // The line is complete: the bytes after its line feed stay in the socket for the
        // next ReadLine, or for the read notification that the last byte read posted.
        // At the peer's close they are delivered now, as the session ends right after.
        if (!FLineMode && (plat::LOWORD(MsgRec.LParam) & plat::FD_CLOSE) == 0) break;
      } else if (!TriggerDataAvailable(error)) {
        if (guard.SessionEnded()) return;
        char discard[1024];
        if (plat::recv(FSocketHandle, discard, sizeof discard, 0) < 0) {
          const int code = plat::WSAGetLastError();
          if (code == plat::WSAEWOULDBLOCK) {
            FLastError = 0;
            return;
          }
          FLastError = code;
        }
      }
      if (guard.SessionEnded()) return;
      if (FLastError != 0) break;
      plat::u_long waiting = 0;
      if (plat::ioctlsocket(FSocketHandle, plat::FIONREAD, &waiting) != 0) {
        FLastError = plat::WSAGetLastError();
        break;
      }
      if (waiting == 0) break;
      if (!first && waiting >= before) break;
      before = waiting;
      first = false;
    }
  } catch (...) {
    // An error of the handler or an unreported failure ends this delivery only.
  }
}

void TCustomWSocket::WMASyncSelect(TMessage& MsgRec) {
  if (FSocketHandle == plat::INVALID_SOCKET || MsgRec.WParam != FSocketHandle || FPaused) return;
  const std::uint16_t events = plat::LOWORD(MsgRec.LParam);
  const std::uint16_t error = plat::HIWORD(MsgRec.LParam);
  // Every step below may run handlers that close the socket, start another session or
  // destroy the component: each one re-checks before going on.
  TAliveGuard guard(this);

  if (events & plat::FD_CONNECT) {
    ChangeState(wsConnected);
    if (guard.SessionEnded()) return;
    TriggerSessionConnected(error);
    if (guard.SessionEnded()) return;
    if (error != 0 && FState != wsClosed) {
      Close();
      return;
    }
  }
  if (events & plat::FD_READ) {
    ASyncReceive(MsgRec);
    if (guard.SessionEnded()) return;
  }
  if (events & plat::FD_WRITE) {
    TryToSend();
    if (guard.SessionEnded()) return;
    if (FAllSent && OnDataSent) {
      TriggerDataSent(error);
      if (guard.SessionEnded()) return;
    }
  }
  if (events & plat::FD_ACCEPT) {
    TriggerSessionAvailable(error);
    if (guard.SessionEnded()) return;
  }
  if ((events & plat::FD_CLOSE) && FState != wsConnecting) {
    ASyncReceive(MsgRec);
    if (guard.SessionEnded()) return;
    if (FLineMode) {
      EndLineMode();
      if (guard.SessionEnded()) return;
    }
    if (OnSessionClosed && !FCloseNotified) {
      FCloseNotified = true;
      TriggerSessionClosed(error);
      if (guard.SessionEnded()) return;
    }
    if (FState != wsClosed) Close();
  }
}
