// Sending through the send queue, and receiving.
#include <sys/socket.h>

#include <algorithm>
#include <climits>

#include "WSockbuf/Buffer.h"
#include "WSocket/CustomWSocket.h"

void TCustomWSocket::PutDataInSendBuffer(const void* Data, std::int32_t Len) {
  FSendQueue.Put(Data, Len);
}

void TCustomWSocket::PutStringInSendBuffer(const std::string& Str) {
  PutDataInSendBuffer(Str.data(), static_cast<std::int32_t>(Str.size()));
}

void TCustomWSocket::DeleteBufferedData() {
  FSendQueue.Clear();
}

void TCustomWSocket::TryToSend() {
  if (FSocketHandle == plat::INVALID_SOCKET) return;
  TSessionGuard guard(*this);
  for (;;) {
    std::int32_t n = 0;
    std::int32_t r = 0;
    if (FSocketType == SOCK_DGRAM) {
      // One datagram per chunk.
      const char* p = FSendQueue.PeekFirst(n);
      if (n > 0) r = RealSend(p, n);
    } else {
      iovec pieces[TSendQueue::GatherChunks];
      const int count = FSendQueue.Gather(pieces, TSendQueue::GatherChunks);
      for (int i = 0; i < count; ++i) n += static_cast<std::int32_t>(pieces[i].iov_len);
      if (n > 0) r = RealSendGather(pieces, count);
    }
    if (n <= 0) {
      // Drained: the queue has released its chunks.
      FAllSent = true;
      return;
    }
    if (guard.SessionEnded()) return;
    if (r == 0) return;
    if (r < 0) {
      SendFailed(plat::WSAGetLastError());
      return;
    }
    FSendQueue.Remove(r);
    // The network took only part: its FD_WRITE resumes the transfer.
    if (r < n) return;
  }
}

void TCustomWSocket::SendFailed(int Code) {
  if (Code == plat::WSAEWOULDBLOCK) return;
  TSessionGuard guard(*this);
  if (Code == plat::WSAECONNRESET || Code == plat::WSAENOTSOCK || Code == plat::WSAENOTCONN ||
      Code == plat::WSAEINVAL) {
    FCloseNotified = true;
    // Nobody is left to receive what is still queued.
    DeleteBufferedData();
    Close();
    // Close ran the closing sequence; a handler there may have started a new session,
    // which must not hear of the old one's end.
    if (guard.Gone() || FSocketHandle != plat::INVALID_SOCKET) return;
    TriggerSessionClosed(static_cast<std::uint16_t>(Code));
    return;
  }
  plat::WSASetLastError(Code);
  SocketError("TryToSend failed");
}

std::int32_t TCustomWSocket::RealSendGather(const iovec* Pieces, int Count) {
  return plat::sendv(FSocketHandle, Pieces, Count, FSendFlagsValue);
}

std::int32_t TCustomWSocket::RealSend(const void* Data, std::int32_t Len) {
  const char* p = static_cast<const char*>(Data);
  if (FSocketType == SOCK_DGRAM)
    return plat::sendto(FSocketHandle, p, Len, FSendFlagsValue, &Extras().SockAddr.Any,
                        SockAddrLen(Extras().SockAddr));
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
  TSessionGuard guard(*this);
  FAllSent = false;
  std::int32_t result = 0;
  if (Len > 0 && FSocketType == SOCK_STREAM && FSendQueue.Empty() &&
      FSocketHandle != plat::INVALID_SOCKET) {
    // Nothing waits before these bytes: the network takes them straight from the caller,
    // and only what it leaves is copied into the queue.
    result = Len;
    const iovec piece{const_cast<void*>(Data), static_cast<std::size_t>(Len)};
    const std::int32_t r = RealSendGather(&piece, 1);
    if (guard.SessionEnded()) return result;
    if (r < 0) {
      const int code = plat::WSAGetLastError();
      PutDataInSendBuffer(Data, Len);
      SendFailed(code);
      return result;
    }
    if (r < Len) {
      // The network is full: its FD_WRITE resumes the transfer.
      PutDataInSendBuffer(static_cast<const char*>(Data) + r, Len - r);
      return result;
    }
    FAllSent = true;
  } else {
    if (Len > 0) {
      PutDataInSendBuffer(Data, Len);
      result = Len;
    }
    TryToSend();
    if (guard.SessionEnded()) return result;
  }
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
  if (N < 0) {
    FLastError = plat::WSAGetLastError();
  } else {
    FReadCount += N;
    ++FReadSerial;
  }
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
  // Read first, into a buffer on the stack: a message that fits costs the one receive, and
  // the string gets exactly its size. A buffer filled up means more may wait: the count of
  // the rest (from the socket layer when it knows it, from the kernel otherwise) sizes the
  // second read, one byte over, so that a short result shows the socket drained.
  char chunk[8192];
  const int n = plat::recv(FSocketHandle, chunk, sizeof chunk, 0);
  if (n < 0 && plat::WSAGetLastError() != plat::WSAEWOULDBLOCK) return {};
  ++FReadSerial;
  if (n <= 0) return {};
  std::string result(chunk, static_cast<std::size_t>(n));
  if (n < static_cast<int>(sizeof chunk)) return result;
  plat::u_long waiting = 0;
  if (const int left = plat::recvleft(FSocketHandle); left >= 0) {
    waiting = static_cast<plat::u_long>(left);
  } else if (plat::ioctlsocket(FSocketHandle, plat::FIONREAD, &waiting) != 0) {
    return result;
  }
  if (waiting == 0) return result;
  const std::size_t room = INT32_MAX - result.size();
  const std::size_t want = waiting >= room ? room : waiting + 1;
  result.resize(result.size() + want);
  const int m = plat::recv(FSocketHandle, result.data() + n, static_cast<int>(want), 0);
  result.resize(static_cast<std::size_t>(n) + (m > 0 ? static_cast<std::size_t>(m) : 0));
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

std::int32_t TCustomWSocket::BytesWaiting() const {
  plat::u_long waiting = 0;
  if (FSocketHandle == plat::INVALID_SOCKET ||
      plat::ioctlsocket(FSocketHandle, plat::FIONREAD, &waiting) != 0)
    return 0;
  return static_cast<std::int32_t>(std::min<plat::u_long>(waiting, INT32_MAX));
}
