// The asynchronous socket component: one socket of the platform's socket layer, driven by
// notifications that arrive as messages at a hidden window of its own.
//
// A component belongs to the thread that created it; every event runs on that thread from
// message dispatch, one at a time. Handlers may call back into the component, close it,
// start a new session or destroy it (delete): every event is fired through FireEvent, and
// code that fires one re-checks, before it touches the component again, that the
// component still exists and still runs the session the event belonged to.
//
// Where the members are (WSocket/):
//   CustomWSocket.cpp   construction, defaults, properties, WndProc, ChangeState, the
//                       event triggers and the error reports
//   Addressing.cpp      Addr, Port and Proto, queries on an open socket, the look-ups
//   Connection.cpp      Connect, Listen, Accept, Dup, Close, Abort and their steps
//   DataTransfer.cpp    sending through the send queue, and receiving
//   NotificationDispatcher.cpp  the socket layer's notifications, read to close
//   LineMode.cpp        ReadLine and the line loop over a byte source
//   BlockingWaits.cpp   Wait, Flush, WaitForClose and the timeval helpers
//   MessagePumps.cpp    MessageLoop and ProcessMessages
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "Host/Component.h"
#include "Host/Events.h"
#include "Host/HiddenWindow.h"  // TMessage
#include "Platform/Messages.h"
#include "Platform/Winsock.h"
#include "WSocket/HostResolve.h"
#include "WSocket/LineCollector.h"
#include "WSocket/SendQueue.h"
#include "WSocket/SocketException.h"

struct hostent;
class TStringList;
class TWaitControl;

enum TSocketState : std::uint8_t {
  wsInvalidState,  // also: no state is awaited
  wsOpened,
  wsBound,
  wsConnecting,
  wsConnected,
  wsAccepting,  // never entered by this component
  wsListening,
  wsClosed
};
enum TSocketSendFlags : std::uint8_t { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff : std::uint8_t { wsLingerOff, wsLingerOn, wsLingerNoSet };

// Messages of the hidden window.
inline constexpr plat::UINT WM_SOCKET_SELECT = plat::WM_USER + 1;
inline constexpr plat::UINT WM_SOCKET_HOSTBYNAME = plat::WM_USER + 2;
inline constexpr plat::UINT WM_SOCKET_HOSTBYADDR = plat::WM_USER + 3;
// The outcome of one of the connect attempts to a host of several addresses.
inline constexpr plat::UINT WM_SOCKET_ATTEMPT = plat::WM_USER + 4;

struct TConnectRace;
struct TConnectAttempt;

// Error: the socket layer's error code, 0 for success.
using TDataAvailable = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TDataSent = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TSessionClosed = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TSessionAvailable = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TSessionConnected = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TDnsLookupDone = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TChangeState =
    std::function<void(TObject* Sender, TSocketState OldState, TSocketState NewState)>;

// Seconds and microseconds, for the timer helpers of the socket component.
struct ORV_API TTimeVal {
  std::int32_t tv_sec = 0;
  std::int32_t tv_usec = 0;
};

class ORV_API TCustomWSocket : public TComponent {
 public:
  // Creates the hidden window and starts the socket layer when no other socket has; the
  // start-up's ESocketException leaves the constructor (nothing is left behind).
  explicit TCustomWSocket(TComponent* AOwner);
  // Cancels a pending look-up and releases the socket layer when this was the last socket.
  // Safe from inside any of the component's own event handlers.
  ~TCustomWSocket() override;
  std::string ClassName() const override { return "TCustomWSocket"; }

  // Message pumps for a socket used in a thread of its own: MessageLoop until the quit
  // message, ProcessMessages until the calling thread's queue is empty. Both dispatch
  // every message of the thread, not only the socket's.
  static void MessageLoop();
  static void ProcessMessages();

  // Properties; Addr, Port and Proto change only while closed.
  const std::string& Addr() const { return FExtras ? FExtras->AddrStr : NoText(); }
  void SetAddr(const std::string& Value);
  const std::string& Port() const { return FExtras ? FExtras->PortStr : NoText(); }
  void SetPort(const std::string& Value);
  const std::string& Proto() const { return FExtras ? FExtras->ProtoStr : DefaultProto(); }
  void SetProto(const std::string& Value);
  const std::string& DnsResult() const { return FExtras ? FExtras->DnsResult : NoText(); }
  // Owned by the component (made on first use: most sockets never look anything up).
  TStringList* DnsResultList() const;
  TSocketState State() const { return FState; }
  std::int32_t ReadCount() const { return FReadCount; }
  std::int32_t LastError() const { return FLastError; }
  bool MultiThreaded() const { return FMultiThreaded; }
  void SetMultiThreaded(bool Value) { FMultiThreaded = Value; }
  // Not owned; cleared when the wait control is destroyed.
  TWaitControl* WaitCtrl() const { return FExtras ? FExtras->WaitCtrl : nullptr; }
  void SetWaitCtrl(TWaitControl* Value);
  std::int32_t FlushTimeout() const {
    return FExtras ? FExtras->FlushTimeout : TExtras::DefaultFlushTimeout;
  }
  void SetFlushTimeout(std::int32_t Value) { Extras().FlushTimeout = Value; }
  TSocketLingerOnOff LingerOnOff() const { return FLingerOnOff; }
  void SetLingerOnOff(TSocketLingerOnOff Value) { FLingerOnOff = Value; }
  std::int32_t LingerTimeout() const { return FExtras ? FExtras->LingerTimeout : 0; }
  void SetLingerTimeout(std::int32_t Value) { Extras().LingerTimeout = Value; }
  // How many connections the system keeps waiting for Accept (default 5); read by Listen.
  // A burst of clients beyond it waits for their connect retry.
  std::int32_t ListenBacklog() const {
    return FExtras ? FExtras->ListenBacklog : TExtras::DefaultListenBacklog;
  }
  void SetListenBacklog(std::int32_t Value) { Extras().ListenBacklog = Value; }

  TSessionAvailable OnSessionAvailable;
  TSessionConnected OnSessionConnected;
  TSessionClosed OnSessionClosed;
  TChangeState OnChangeState;
  TDataAvailable OnDataAvailable;
  TDataSent OnDataSent;
  TNotifyEvent OnLineTooLong;
  TDnsLookupDone OnDnsLookupDone;
  // When assigned, every error of the component fires it (the code is in LastError) and
  // the failing operation returns instead of raising ESocketException.
  TNotifyEvent OnError;

  // The virtual operations, declared in slot order.
 protected:
  virtual void WndProc(TMessage& MsgRec);
  virtual void AssignDefaultValue();
  // Ends the session: shuts down first when asked, closes the socket (retrying while the
  // socket layer lingers over unsent data), fires OnSessionClosed(0) once, resets defaults.
  virtual void InternalClose(bool bShut);
  // Binds a datagram socket to a port of the system's choice (LocalPortNum).
  virtual void BindSocket();
  // One send or sendto of bytes from the queue: bytes taken, or -1. A datagram socket
  // sends each chunk through it; a stream socket hands the queue over through
  // RealSendGather instead.
  virtual std::int32_t RealSend(const void* Data, std::int32_t Len);
  virtual void RaiseExceptionFmt(const std::string& Fmt, std::initializer_list<TFmtArg> Args);
  virtual void RaiseException(const std::string& Msg);
  // Answers whether a handler was assigned (and has been called).
  virtual bool TriggerDataAvailable(std::uint16_t Error);
  virtual void TriggerSessionAvailable(std::uint16_t Error);
  virtual void TriggerSessionConnected(std::uint16_t Error);
  virtual void TriggerSessionClosed(std::uint16_t Error);
  virtual void TriggerDataSent(std::uint16_t Error);
  virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
  virtual void TriggerDNSLookupDone(std::uint16_t Error);
  virtual void TriggerError();

 public:
  // Opens a stream or datagram session to Addr:Port; a stream's outcome arrives through
  // OnSessionConnected, a datagram one is connected before the call returns. Addr is an
  // IPv4 or IPv6 address or a host name. A stream to a name of several addresses tries
  // them as RFC 8305 has it: IPv6 first, families alternating, the next attempt started
  // 250 ms after the last (at once when one fails); the first to connect is the session,
  // the others are closed; when all fail, OnSessionConnected reports the first failure. A
  // name that DnsLookup has just looked up is not asked again.
  virtual void Connect();
  // Ends the session; the component is free for the next one at once. Bytes handed to Send
  // that the peer has not acknowledged yet are not dropped: this thread's background closer
  // (BackgroundCloser.h) keeps sending them, then ends the stream, and resets only when
  // nothing is left to send, the peer is gone, or nothing moved for a long while. When the
  // thread (or the program) ends first, the closer sends for a short time more
  // (BackgroundCloser::ExitTimeout), then leaves what the system holds to it and drops
  // the rest of the queue.
  virtual void Close();
  // Cancels a look-up, drops queued data and closes without lingering.
  virtual void Abort();
  // Waits until the send queue has drained, the socket is gone or (not multithreaded) the
  // wait control's count-down of FlushTimeout runs out.
  virtual void Flush();
  // Pumps the application's messages, delivering data, until the session has ended.
  virtual void WaitForClose();
  // Binds to Addr:Port and listens (stream) or is connected at once (datagram): 0, or -1.
  virtual std::int32_t Listen();
  // The next pending connection (its peer in SockAddr), for another component's Dup.
  virtual plat::SOCKET Accept();
  // Bytes read, 0 when the peer has closed, -1 with the code in LastError.
  virtual std::int32_t Receive(void* Buffer, std::int32_t BufferSize);
  // Everything waiting, or "".
  virtual std::string ReceiveStr();
  virtual std::int32_t ReceiveFrom(void* Buffer, std::int32_t BufferSize, sockaddr_in& From,
                                   std::int32_t& FromLen);
  // Sends what the network takes now (straight from Data when nothing is queued before it)
  // and queues the rest; answers the count accepted
  // (0 for none), or -1 when not connected or Data is null with a length (10014).
  // OnDataSent follows once the queue drains.
  virtual std::int32_t Send(const void* Data, std::int32_t Len);
  virtual std::int32_t SendStr(const std::string& Str);
  // Name to addresses (DnsResult, DnsResultList); ends in OnDnsLookupDone. A dotted
  // address completes before the call returns.
  virtual void DnsLookup(const std::string& HostName);
  // Dotted address to name; ends in OnDnsLookupDone.
  virtual void ReverseDnsLookup(const std::string& HostAddr);
  // Fires OnDnsLookupDone(10004) when a look-up was pending.
  virtual void CancelDnsLookup();
  // The peer's address while connected (dotted, or IPv6 text), else "error".
  virtual std::string GetPeerAddr();
  // getpeername while connected, else -1; NameLen is not updated. An IPv6 socket needs a
  // record of 28 bytes (a TSockAddr) and NameLen to say so.
  virtual std::int32_t GetPeerName(sockaddr_in& Name, std::int32_t NameLen);
  // The local port while bound, connected or listening, else "error".
  virtual std::string GetXPort();
  // Helpers for TTimeVal records; the component does not use them itself.
  virtual bool TimerIsSet(const TTimeVal& Tvp);
  virtual void TimerClear(TTimeVal& Tvp);
  // Whether the two are equal when IsEqual is set, whether they differ otherwise.
  virtual bool TimerCmp(const TTimeVal& Tvp, const TTimeVal& Uvp, bool IsEqual);
  // Waits up to Timeout seconds for the state to be reached: true only when a change to
  // it was seen during the call (false at once when it already holds).
  virtual bool Wait(std::int32_t Timeout, TSocketState AwaitedState);
  // Waits up to Timeout seconds for a line (line feed ended, carriage returns dropped, at
  // most 254 characters) and stores it, or what has come of it, into Buffer. Bytes after
  // the line feed stay in the socket, and, while no OnDataAvailable is assigned, the
  // session keeps them there for the next ReadLine (the peer's close ends the session only
  // once they have been read); a handler assigned later gets them from the next read
  // notification, or at once after Resume. A line cut short by the time-out is continued
  // by the next call; a time-out of 0 or less takes what has arrived and returns at once.
  virtual void ReadLine(std::int32_t Timeout, std::string& Buffer);
  virtual std::int32_t GetSockName(sockaddr_in& Name, std::int32_t& NameLen);
  // Adopts a connected socket handle (from another component's Accept).
  virtual void Dup(plat::SOCKET NewHSocket);
  // How: 0 receiving, 1 sending, 2 both.
  virtual void Shutdown(std::int32_t How);
  // Suspends the notifications, and restores them.
  virtual void Pause();
  virtual void Resume();

  void SetLingerOption();
  void SendText(const std::string& Str);
  // OnLineTooLong, fired while the line is still being collected (its last character
  // stored); the line then ends as if a line feed had come.
  virtual void TriggerLineTooLong();
  // A stream send of the queued chunks in one gather write: bytes taken, or -1 with the
  // code in WSAGetLastError. A descendant that replaces RealSend for a stream socket
  // replaces this too.
  virtual std::int32_t RealSendGather(const iovec* Pieces, int Count);
  // As Receive, leaving the bytes in the socket.
  virtual std::int32_t PeekData(void* Buffer, std::int32_t BufferSize);
  // Queue only, never send; a null address queues nothing.
  void PutDataInSendBuffer(const void* Data, std::int32_t Len);
  void PutStringInSendBuffer(const std::string& Str);
  // Drops every queued chunk.
  void DeleteBufferedData();
  // Bytes waiting in the socket; -1 (reported) without an open socket.
  virtual std::int32_t RcvdCount();
  TSocketSendFlags SendFlags();
  void SetSendFlags(TSocketSendFlags Value);

 protected:
  // Tells, after handlers have run, whether the component still exists (Gone) and still
  // runs the session (socket handle) the guard was bound to (SessionEnded). On the stack
  // only, like the TAliveGuard it rests on.
  class TSessionGuard {
   public:
    explicit TSessionGuard(TCustomWSocket& Socket)
        : FAlive(Socket), FSocket(Socket), FHandle(Socket.FSocketHandle) {}
    bool Gone() const { return FAlive.Gone(); }
    bool SessionEnded() const { return FAlive.Gone() || FSocket.FSocketHandle != FHandle; }
    // Binds to the socket handle the component holds now.
    void Bind() { FHandle = FSocket.FSocketHandle; }

   private:
    TAliveGuard FAlive;
    TCustomWSocket& FSocket;
    plat::SOCKET FHandle;
  };

  friend class TNotificationDispatcher;

  void Notification(TComponent* AComponent, TOperation Operation) override;

  // The one way State changes (fires OnChangeState, even for the state already held).
  void ChangeState(TSocketState NewState);
  // Reports the socket layer's last error for the named function; 10054 and 10057 also
  // close the socket first.
  void SocketError(const std::string& Sockfunc);

  // Drains the queue as far as the network takes it.
  void TryToSend();
  // A send refused with Code: the connection gone ends the session, would-block waits for
  // FD_WRITE, anything else is reported.
  void SendFailed(int Code);
  // Hands waiting data to OnDataAvailable (or discards it when none is assigned), or to
  // the line collector while a ReadLine runs (TNotificationDispatcher).
  void ASyncReceive(TMessage& MsgRec);
  // Line mode: starts a line unless one is already being collected.
  void ReadLineStart();
  // Takes the waiting bytes that belong to the line, one read per piece (looked at first,
  // so that what follows the line feed stays in the socket), until it is complete. A
  // descendant that reads through a layer of its own (TLS) takes the line from there.
  virtual void ReadLineReceive();
  // Where a line's bytes come from: the socket, or a layer of a descendant's own.
  class TLineSource {
   public:
    enum TResult : std::uint8_t {
      Bytes,   // some are there
      Later,   // none yet: a notification goes on with the line
      Ended,   // none will come any more
      Failed,  // the source has reported its error
    };
    // Shows what is there now, without taking it.
    virtual TResult Peek(const char*& Data, std::size_t& Len) = 0;
    // Takes the first Len bytes of what Peek showed (Taken may be fewer); they stay
    // where Peek showed them until the next Peek.
    virtual TResult Take(std::size_t Len, std::size_t& Taken) = 0;
    // After line mode has ended with the stream: the session ends.
    virtual void StreamEnded() = 0;
    // After line mode has ended with a line feed.
    virtual void LineCompleted() {}

   protected:
    ~TLineSource() = default;
  };
  // Collects the line from Source until it is complete, the bytes run out or the session
  // ends: one piece at a time, and only the bytes that belong to the line.
  void CollectLine(TLineSource& Source);
  // The socket's own bytes as that source.
  class TSocketLines;
  // Whether WaitCtrl is assigned; reports "No wait object assigned" when it is not.
  bool CheckFWait();
  // Line mode ends (the line is complete, or the connection is gone): the line waits for
  // the next ReadLine, and the wait control that a ReadLine may be running is stopped.
  void EndLineMode();
  // OnLineTooLong, through its trigger: the line is complete all the same, so a handler's
  // error ends line mode before it goes on to the caller.
  void FireLineTooLong();
  // The socket layer's notifications, in the order connect, read, write, accept, close
  // (TNotificationDispatcher).
  void WMASyncSelect(TMessage& MsgRec);
  void WMAsyncGetHostByName(TMessage& MsgRec);
  void WMAsyncGetHostByAddr(TMessage& MsgRec);
  // The connect race (ConnectRace.cpp): an attempt's outcome, the timer that starts the next.
  void WMConnectAttempt(TMessage& MsgRec);
  void WMRaceTimer();

  // What only some sockets use: the texts of Addr, Port and Proto, look-ups, listening and
  // the time-outs an application may set. Made on first use: a server's accepted
  // connections, thousands of them, never need it.
  struct TExtras {
    static constexpr std::int32_t DefaultFlushTimeout = 60;
    static constexpr std::int32_t DefaultListenBacklog = 5;
    TExtras();
    ~TExtras();
    std::string ProtoStr;
    std::string AddrStr;
    std::string PortStr;
    std::string DnsResult;
    std::unique_ptr<TStringList> DnsResultList;
    // Where the socket layer writes a look-up's host entry; allocated while a look-up is
    // pending only.
    std::unique_ptr<char[]> HostEntryBuffer;
    plat::HANDLE LookupHandle = 0;
    plat::SOCKET AcceptedHandle = plat::INVALID_SOCKET;
    // Addr and Port as the system takes them; a listener's latest peer.
    TSockAddr SockAddr{};
    // The addresses of the latest DnsLookup's name, for the Connect that follows it.
    std::string LookedUpName;
    std::vector<TSockAddr> LookedUp;
    // While a stream connects to a host of several addresses.
    std::unique_ptr<TConnectRace> Race;
    std::int32_t PortNum = 0;       // of Port, when it names one
    std::int32_t LocalPortNum = 0;  // where a datagram socket was bound
    TWaitControl* WaitCtrl = nullptr;  // not owned
    std::int32_t FlushTimeout = DefaultFlushTimeout;
    std::int32_t LingerTimeout = 0;
    std::int32_t ListenBacklog = DefaultListenBacklog;
  };
  TExtras& Extras() const;
  sockaddr_in& SockAddr() { return Extras().SockAddr.In; }
  // The pending look-up, 0 for none.
  plat::HANDLE LookupHandle() const { return FExtras ? FExtras->LookupHandle : 0; }
  // Room for as many addresses as 1025 bytes held when they were IPv4 only (now 16 bytes).
  static constexpr int HostEntryBufferSize = 4096;

  // Ordered by size, so that the object has no holes: a server keeps one per connection.
  plat::SOCKET FSocketHandle = plat::INVALID_SOCKET;
  plat::HWND FWindowHandle = 0;
  mutable std::unique_ptr<TExtras> FExtras;
  TLineCollector FLine;
  // The fields after it fill the queue's tail padding.
  [[no_unique_address]] TSendQueue FSendQueue;
  std::int32_t FProtoNum = 0;
  std::int32_t FLastError = 0;
  std::int32_t FReadCount = 0;
  std::uint8_t FSocketType = 0;      // SOCK_STREAM or SOCK_DGRAM
  std::uint8_t FAddrFamily = 0;      // AF_INET or AF_INET6
  std::uint8_t FSendFlagsValue = 0;  // 0 or MSG_OOB (SendFlags)
  TSocketState FState = wsInvalidState;
  TSocketState FAwaitedState = wsInvalidState;
  // Counts the component's own reads and queue queries (it wraps: only a change matters):
  // after one of them the socket layer knows, without asking the system again, whether
  // bytes are left.
  std::uint8_t FReadSerial = 0;
  TSocketLingerOnOff FLingerOnOff : 2 = wsLingerOn;
  bool FPortAssigned : 1 = false;
  bool FAddrAssigned : 1 = false;
  bool FAddrResolved : 1 = false;
  bool FProtoAssigned : 1 = false;
  bool FMultiThreaded : 1 = false;
  bool FPaused : 1 = false;
  bool FAllSent : 1 = false;
  // The session reads with ReadLine: while no OnDataAvailable is assigned, the bytes after
  // a line stay in the socket for the next ReadLine instead of being thrown away.
  bool FLineReader : 1 = false;
  bool FCloseNotified : 1 = false;
  // Set while a graceful close asks the virtual Shutdown for both directions: the
  // component's own Shutdown then clears it and leaves the system call to the close.
  bool FShutdownForClose : 1 = false;

 private:
  friend plat::LRESULT SocketWindowProc(plat::HWND, plat::UINT, plat::WPARAM, plat::LPARAM);

  static const std::string& NoText();
  static const std::string& DefaultProto();

  // Starts an asynchronous look-up after the checks common to both directions.
  void StartLookup(std::string Text, bool Reverse);
  // The end of the pending look-up the message reports: a successful one's host entry goes
  // to TakeEntry, then OnDnsLookupDone fires. Messages of other look-ups are ignored.
  void FinishLookup(TMessage& MsgRec, const std::function<void(const hostent&)>& TakeEntry);
  // A receive's result: a count read is added to ReadCount, a failure's code kept in
  // LastError.
  std::int32_t CountReceived(int N);
  // SockAddr := Address, its port kept; AddrFamily follows.
  void AimAt(const TSockAddr& Address);
  // Resolves Addr into SockAddr unless done already; raises when it cannot. ForRace: a
  // stream about to connect, which keeps the other addresses of a name for the race.
  void ResolveAddr(bool ForRace = false);
  // The connect race (ConnectRace.cpp). Opens and connects a socket to Addr for the race:
  // the handle, or INVALID_SOCKET with the error in WSAGetLastError.
  plat::SOCKET StartAttempt(const TSockAddr& Addr);
  // Starts waiting addresses until one attempt runs (or none is left): whether one does.
  bool StartNextAttempt();
  // The attempt that failed with Error is over; the race goes on, or ends with the first
  // failure when nothing is left.
  void AttemptFailed(plat::SOCKET Handle, std::uint16_t Error);
  // The race is over: the other attempts are closed, the timer stopped.
  void EndRace();
  // Another attempt becomes the component's socket (its address SockAddr's).
  void TakeOver(const TConnectAttempt& Attempt);
  // Before a close: when bytes are still on their way (queued here, or unacknowledged in
  // the system where the close would reset), hands the socket and the queue to this
  // thread's background closer and answers true; the handle is then no longer ours.
  bool CloseInBackground();
  // The session keeps bytes after a line for the next ReadLine (see FLineReader).
  bool KeepsBytesForReadLine() const;
  // Bytes waiting in the socket, 0 when it cannot tell; reports nothing.
  std::int32_t BytesWaiting() const;
  // Per-session flags of a socket just opened or adopted.
  void StartSession();
  // Shows the wait control with the time-out and runs its modal wait.
  void ModalWait(std::int32_t Timeout);
  // Pumps the thread's own queue until Done() answers true or Timeout seconds have
  // passed, sleeping while the queue is empty.
  void DeadlineLoop(std::int32_t Timeout, const std::function<bool()>& Done);
};
