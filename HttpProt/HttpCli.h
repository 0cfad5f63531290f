// THttpCli: one HTTP/1.0 request at a time over a socket component of its own, driven
// entirely by the socket's events and by messages posted to a hidden window of its own.
//
// The component belongs to the thread that created it; every event runs on that thread from
// message dispatch. Handlers may call Abort, start a new request from OnRequestDone, or
// destroy the component (delete) from inside any event: the code that fired the event
// checks, before touching the component again, that it still exists.
//
// http and https are spoken. An https server's certificate is verified (against the
// system's authorities, or SslCAFile/SslCAPath) for the URL's host name; through a proxy
// the request travels in a tunnel that the proxy opens with CONNECT. A relocation from
// http to https is followed; one from https down to http only with AllowHttpsDowngrade.
//
// A request ends, whatever happened, with OnRequestDone, posted after the return to
// httpReady, so it never runs inside the call that started the request. Local failures
// (a URL of another scheme, look-up, connect, a refused certificate or a failed TLS
// handshake, a proxy that refuses the tunnel, abort, time-out, a reply cut short, reset,
// truncated or malformed) are reported as StatusCode 404 (a refusing proxy's own status of
// 400 or more) with a ReasonPhrase that says what happened. A body ends at its announced length, at
// its last chunk (chunked bodies are decoded), or at the close; after a status of 400 or more no
// body is delivered.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Host/Component.h"
#include "Host/Events.h"
#include "Host/HiddenWindow.h"  // TMessage
#include "Host/SysUtils.h"
#include "HttpProt/ChunkedDecoder.h"
#include "HttpProt/Url.h"
#include "Platform/Export.h"
#include "Platform/Messages.h"

class TMemoryStream;
class TPublishedClass;
class TStream;
class TStringList;
class TSslWSocket;

namespace HttpProt {
inline constexpr char CopyRight[] = " THttpCli V1.13: HTTP/1.0 client component ";
}

// Both stored in one byte, in this order.
enum THttpState : std::uint8_t {
  httpReady,
  httpNotConnected,
  httpConnected,
  httpDnsLookup,
  httpDnsLookupDone,
  httpWaitingHeader,
  httpWaitingBody,
  httpAborting
};
enum THttpRequest : std::uint8_t { httpAbort, httpGET, httpPOST, httpHEAD };

// Buffer holds Len bytes, valid only during the call.
using TDocDataEvent = std::function<void(TObject* Sender, const void* Buffer, std::int32_t Len)>;
// S: the request header line about to be written.
using TOnCommand = std::function<void(TObject* Sender, const std::string& S)>;
// Error: 0, 3 after Abort, 10060 after a time-out (Timeout, LowSpeedLimit, MaxTime), or the
// socket error of a failed connect.
using THttpRequestDone =
    std::function<void(TObject* Sender, THttpRequest RqType, std::uint16_t Error)>;
using THttpDataAvailable = std::function<void(TObject* Sender, std::uint16_t Error)>;

// Misuse (1 busy, 2 nothing to post, 4 line too long, 5 a negative Timeout, time bound or
// MaxRelocations) or, from Get/Head/Post, a status of 400 or more (the status is the code,
// the reason phrase the message).
class ORV_API EHttpException : public Exception {
 public:
  EHttpException(const std::string& Msg, std::uint16_t ErrorCode)
      : Exception(Msg), FErrorCode(ErrorCode) {}
  std::uint16_t ErrorCode() const { return FErrorCode; }

 private:
  std::uint16_t FErrorCode;
};

// Messages of the hidden window.
inline constexpr plat::UINT WM_HTTP_REQUEST_DONE = plat::WM_USER + 1;
inline constexpr plat::UINT WM_HTTP_SET_READY = plat::WM_USER + 2;
inline constexpr plat::UINT WM_HTTP_LOGIN = plat::WM_USER + 3;

class ORV_API THttpCli : public TComponent {
 public:
  // Bytes of the receive and the POST chunk buffers; a response line holds at most
  // ReceiveBufferSize - 1 bytes with its line end, and OnDocData gets at most that many at
  // a time (a large body is read in larger pieces and handed on in these).
  static constexpr std::int32_t ReceiveBufferSize = 8193;
  static constexpr std::int32_t SendBufferSize = 8193;

  explicit THttpCli(TComponent* AOwner);
  // Safe from inside any of the component's own event handlers; the streams stay the
  // caller's.
  ~THttpCli() override;

  std::string ClassName() const override { return "THttpCli"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();

  // Start a request and return at once; the outcome arrives through the events. Raise
  // EHttpException 1 while a request is under way, 2 for a POST without SendStream.
  void GetASync();
  void HeadASync();
  void PostASync();
  // Start a request and dispatch messages until it has ended and OnRequestDone has run;
  // raise EHttpException (the reason phrase, the status) for a status of 400 or more.
  void Get();
  void Head();
  void Post();
  // Ends the request under way (status 404 "Connection aborted on request", Error 3);
  // while ready it only closes an open socket.
  void Abort();

  // Published properties.
  const std::string& URL() const { return FURL; }
  void SetURL(const std::string& Value) { FURL = Value; }
  // Host or host:port of a proxy; empty for a direct connection.
  const std::string& Proxy() const { return FProxy; }
  void SetProxy(const std::string& Value) { FProxy = Value; }
  // Used when Proxy names no port; "80" by default. A port number (0 to 65535) or a
  // service name; a number outside that range or with a sign raises EConvertError and
  // changes nothing.
  const std::string& ProxyPort() const { return FProxyPort; }
  void SetProxyPort(const std::string& Value);
  // "From: " line.
  const std::string& Sender() const { return FSender; }
  void SetSender(const std::string& Value) { FSender = Value; }
  // "User-Agent: " line.
  const std::string& Agent() const { return FAgent; }
  void SetAgent(const std::string& Value) { FAgent = Value; }
  // "Referer: " line.
  const std::string& Reference() const { return FReference; }
  void SetReference(const std::string& Value) { FReference = Value; }
  // Basic credentials, sent only to the host that URL names (not after a relocation to
  // another host, nor over http when URL is https). A user part of URL replaces them.
  const std::string& Username() const { return FUsername; }
  void SetUsername(const std::string& Value) { FUsername = Value; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& Value) { FPassword = Value; }
  // Basic credentials for the proxy, sent only when Proxy is set (with CONNECT for an
  // https tunnel, never inside it).
  const std::string& ProxyUsername() const { return FProxyUsername; }
  void SetProxyUsername(const std::string& Value) { FProxyUsername = Value; }
  const std::string& ProxyPassword() const { return FProxyPassword; }
  void SetProxyPassword(const std::string& Value) { FProxyPassword = Value; }
  // "Pragma: no-cache" when set.
  bool NoCache() const { return FNoCache; }
  void SetNoCache(bool Value) { FNoCache = Value; }
  // "If-Modified-Since: " when not zero; taken as GMT without conversion.
  TDateTime ModifiedSince() const { return FModifiedSince; }
  void SetModifiedSince(TDateTime Value) { FModifiedSince = Value; }
  // "Cookie: " line.
  const std::string& Cookie() const { return FCookie; }
  void SetCookie(const std::string& Value) { FCookie = Value; }
  // "Content-Type: " of a POST; "application/x-www-form-urlencoded" by default.
  const std::string& ContentTypePost() const { return FContentTypePost; }
  void SetContentTypePost(const std::string& Value) { FContentTypePost = Value; }
  // For a component living in a thread of its own: the blocking calls then pump that
  // thread's queue only. Copied to the socket.
  bool MultiThreaded() const { return FMultiThreaded; }
  void SetMultiThreaded(bool Value);
  // Seconds without any progress of the connection after which the request ends as an
  // abort does (status 404 "Connection timed out", Error 10060); 0 (the default): never.
  std::int32_t Timeout() const { return FTimeout; }
  void SetTimeout(std::int32_t Value);
  // Bounds on a request however steadily its server trickles bytes; 0 (the default): none.
  // A request that moved fewer than LowSpeedLimit bytes a second, on average over
  // LowSpeedTime seconds, ends as a time-out does with "slower than N bytes/s for T s";
  // one still running MaxTime seconds after it started, with "took longer than N s".
  // Bytes received (header included) and POST bytes sent count as movement.
  std::int32_t LowSpeedLimit() const { return FLowSpeedLimit; }
  void SetLowSpeedLimit(std::int32_t Value);
  std::int32_t LowSpeedTime() const { return FLowSpeedTime; }
  void SetLowSpeedTime(std::int32_t Value);
  std::int32_t MaxTime() const { return FMaxTime; }
  void SetMaxTime(std::int32_t Value);
  // Relocations followed within one request; the next one ends it as a failure
  // ("too many relocations"). 20 by default; 0 follows none.
  std::int32_t MaxRelocations() const { return FMaxRelocations; }
  void SetMaxRelocations(std::int32_t Value);
  // Trusted authorities for https servers instead of the system's: a file of certificates
  // (PEM), a folder of hashed ones. Empty (the default): the system's store.
  const std::string& SslCAFile() const;
  void SetSslCAFile(const std::string& Value);
  const std::string& SslCAPath() const;
  void SetSslCAPath(const std::string& Value);
  // Accepts any certificate for any name: whoever sits on the way can then read and change
  // everything. For tests against throw-away certificates only; false by default.
  bool SslUnsafeSkipVerify() const;
  void SetSslUnsafeSkipVerify(bool Value);
  // Follows a relocation from https to http, which hands the rest of the exchange to
  // whoever can see or change the network; false by default (the request fails instead).
  bool AllowHttpsDowngrade() const { return FAllowHttpsDowngrade; }
  void SetAllowHttpsDowngrade(bool Value) { FAllowHttpsDowngrade = Value; }

  // Public properties. The streams are not owned; every body byte is written to
  // RcvdStream, the POST body is read from SendStream from its current position.
  TStream* RcvdStream() const { return FRcvdStream; }
  void SetRcvdStream(TStream* Value) { FRcvdStream = Value; }
  TStream* SendStream() const { return FSendStream; }
  void SetSendStream(TStream* Value) { FSendStream = Value; }
  std::int32_t StatusCode() const { return FRq.StatusCode; }
  const std::string& ReasonPhrase() const { return FReasonPhrase; }
  // The response's "content-length", -1 when it announced none or sent chunks.
  std::int64_t ContentLength() const { return FRq.Response.ContentLength; }
  // The response's "content-type", lower-cased; empty when it announced none.
  const std::string& ContentType() const { return FRq.Response.ContentType; }
  // File name for the document, from URL ("document.htm" for none).
  const std::string& DocName() const { return FRq.DocName; }
  // Body bytes received in this request (OnDocData's chunk included).
  std::int64_t RcvdCount() const { return FRq.RcvdCount; }
  // POST body bytes sent in this request.
  std::int64_t SentCount() const { return FRq.SentCount; }
  // Every response line of the request (status lines included); owned.
  TStringList* HeaderLines() const { return FHeaderLines.get(); }
  // The values of "www-authenticate" lines; never cleared; owned.
  TStringList* AuthChallenges() const { return FAuthChallenges.get(); }
  const std::string& RequestPath() const { return FRq.Target.RequestPath; }
  THttpState State() const { return FState; }
  THttpRequest RequestType() const { return FRequestType; }
  bool Connected() const { return FConnected; }

  // Events (published but OnDataAvailable). OnTrace is kept and never fired.
  TNotifyEvent OnTrace;
  TNotifyEvent OnSessionConnected;
  TNotifyEvent OnHeaderData;  // the line: HeaderLines' last entry
  // Also for the lines of a CONNECT to a proxy (the state is then still
  // httpDnsLookupDone: the server is reached once the tunnel and its TLS stand).
  TOnCommand OnCommand;
  TNotifyEvent OnHeaderBegin;
  TNotifyEvent OnHeaderEnd;
  TNotifyEvent OnRequestHeaderBegin;
  TNotifyEvent OnRequestHeaderEnd;
  TNotifyEvent OnDocBegin;
  TDocDataEvent OnDocData;  // RcvdCount includes the chunk; RcvdStream gets it afterwards
  TNotifyEvent OnDocEnd;
  TNotifyEvent OnSendBegin;
  TDocDataEvent OnSendData;
  TNotifyEvent OnSendEnd;
  TNotifyEvent OnStateChange;
  THttpRequestDone OnRequestDone;
  TNotifyEvent OnLocationChange;
  // A response line that arrived while neither header nor body was awaited.
  THttpDataAvailable OnDataAvailable;

  // The virtual operations, in slot order.
 protected:
  // Fires OnCommand, then appends S and CR LF to the request header.
  virtual void SendCommand(const std::string& S);
  // Starts the name look-up of ConnectHost; the request goes on in the socket's events.
  virtual void Login();
  // Closes the socket.
  virtual void Logout();
  virtual void TriggerSessionConnected();
  virtual void TriggerRequestHeaderBegin();
  virtual void TriggerRequestHeaderEnd();
  virtual void TriggerHeaderBegin();
  virtual void TriggerHeaderEnd();
  virtual void TriggerDocBegin();
  virtual void TriggerDocData(const void* Data, std::int32_t Len);
  virtual void TriggerDocEnd();
  virtual void TriggerSendBegin();
  virtual void TriggerSendData(const void* Data, std::int32_t Len);
  virtual void TriggerSendEnd();
  // The other events' triggers.
  virtual void TriggerStateChange();
  virtual void TriggerCommand(const std::string& S);
  virtual void TriggerHeaderData();
  virtual void TriggerLocationChange();
  virtual void TriggerDataAvailable(std::uint16_t Error);
  // Posts WM_HTTP_REQUEST_DONE; its handler fires OnRequestDone.
  virtual void TriggerRequestDone();
  virtual void WMHttpRequestDone(TMessage& Msg);

  // Request driver.
  void DoRequestAsync(THttpRequest Rq);
  void DoRequestSync(THttpRequest Rq);
  // The socket's OnSessionClosed: the end of every request.
  void SocketSessionClosed(TObject* Sender, std::uint16_t Error);

  // Component model.
  void WndProc(TMessage& Msg);
  // The one way State changes; httpReady also posts the request-done message.
  void StateChange(THttpState NewState);
  // Posts WM_HTTP_SET_READY.
  void SetReady();
  void WMHttpSetReady(TMessage& Msg);
  void WMHttpLogin(TMessage& Msg);

  // Request composition.
  void SocketDNSLookupDone(TObject* Sender, std::uint16_t Error);
  void SocketSessionConnected(TObject* Sender, std::uint16_t Error);
  void FailSession(TObject* Sender, std::uint16_t Error);
  void SendRequest(const std::string& Method, const std::string& Version);
  // The POST body pump.
  void SocketDataSent(TObject* Sender, std::uint16_t Error);
  // The connection to the server stands (TLS included): the request goes out.
  void StartExchange();
  // Through a proxy to an https server: asks the proxy for the tunnel, reads its reply
  // line by line, and starts TLS in it.
  void SendConnect();
  void GetTunnelLineNext();
  void SocketSslHandshakeDone(TObject* Sender, std::uint16_t Error);

  // Response parsing.
  void SocketDataAvailable(TObject* Sender, std::uint16_t Error);
  void GetHeaderLineNext();
  void GetBodyLineNext();
  void LocationSessionClosed(TObject* Sender, std::uint16_t Error);

  // What one response sets; each response of a request, a relocation's too, starts from
  // a fresh one.
  struct TResponseState {
    std::int32_t HeaderLineCount = 0;
    std::int32_t BodyLineCount = 0;
    bool LocationSeen = false;
    // Where the response's "location" leads (Refusal says why it cannot be followed).
    THttpTarget Location;
    std::int64_t ContentLength = -1;
    std::string ContentType;
    // A transfer coding the component does not decode; the body is then refused.
    std::string UnknownCoding;
    bool Chunked = false;
    TChunkedDecoder Chunks;
    // The whole body has arrived (its length, or its last chunk): the request ends.
    bool BodyDone = false;
  };

  // What one request sets; every request starts from a fresh one.
  struct TRequestState {
    std::int32_t StatusCode = 0;
    std::int32_t DoneError = 0;
    std::string DocName;
    std::int64_t RcvdCount = 0;
    std::int64_t SentCount = 0;
    bool PostPending = false;
    // Where SendStream stood when the request started: a relocated POST sends its body
    // again from there. -1 when the stream could not tell.
    std::int64_t PostStart = -1;
    std::string PostStartError;
    // Where the request goes now; a relocation changes it.
    THttpTarget Target;
    // The host URL named: credentials go only there (and only over TLS when URL is https).
    std::string UrlHost;
    bool UrlTls = false;
    // The proxy's reply to CONNECT is awaited (its status once its status line came).
    bool TunnelReply = false;
    std::int32_t TunnelStatus = 0;
    std::string TunnelPhrase;
    std::int32_t RelocationCount = 0;
    // Bytes read from the connections of the request, relocations' included.
    std::int64_t WireCount = 0;
    // Bytes held in the receive buffer, from ReceiveStart on.
    std::int32_t ReceiveLen = 0;
    std::int32_t ReceiveStart = 0;
    // The request's end has been handled (SocketSessionClosed ran).
    bool SessionEnded = false;
    // The socket's close ends a relocating response (LocationSessionClosed), not the
    // request.
    bool Relocating = false;
    // The request was ended early (abort, time-out, local failure) or its body is whole:
    // no more lines are handled.
    bool Stopped = false;
    // OnDocData runs: data that a nested message loop receives meanwhile waits in
    // PendingBody, so that RcvdStream gets every chunk in order.
    bool DeliveringBody = false;
    std::string PendingBody;
    // The connection closed meanwhile (with this error): the request ends once the
    // pending body is delivered.
    bool CloseDeferred = false;
    std::uint16_t CloseError = 0;
    TResponseState Response;
  };

  // Fields.
  std::unique_ptr<TSslWSocket> FSocket;
  plat::HWND FWindowHandle = 0;
  bool FMultiThreaded = false;
  THttpState FState = httpReady;
  std::string FProxy;
  std::string FProxyPort;
  std::string FUsername;
  std::string FPassword;
  std::string FProxyUsername;
  std::string FProxyPassword;
  bool FConnected = false;
  // Allocated by the first request that needs them, so idle components stay small.
  std::unique_ptr<char[]> FSendBuffer;
  THttpRequest FRequestType = httpAbort;
  // Holds ReceiveBufferSize bytes, or more once a large body is being read. The line-sized
  // one is held only while received data is handled or part of a line waits, and is
  // otherwise lent to the next read of any component of the thread; the large one is
  // released at the end of the request, as are the other per-request buffers.
  std::unique_ptr<char[]> FReceiveBuffer;
  std::int32_t FReceiveCapacity = 0;
  std::string FCurrentLine;
  std::string FURL;
  std::string FSender;
  std::string FReference;
  std::string FAgent;
  TDateTime FModifiedSince = 0;
  bool FNoCache = false;
  std::string FReasonPhrase;
  std::unique_ptr<TStringList> FAuthChallenges;
  std::string FContentTypePost;
  std::string FCookie;
  std::unique_ptr<TStringList> FHeaderLines;
  TStream* FRcvdStream = nullptr;
  TStream* FSendStream = nullptr;
  // The request's lines as they are built, sent in one piece.
  std::string FRequestText;
  void (THttpCli::*FLineHandler)() = nullptr;
  std::int32_t FTimeout = 0;
  std::int32_t FMaxRelocations = 20;
  bool FAllowHttpsDowngrade = false;
  TRequestState FRq;
  // WM_HTTP_REQUEST_DONE is posted and not handled yet.
  bool FRequestDonePending = false;
  std::chrono::steady_clock::time_point FLastProgress;
  // The time bounds: when the request started, and the low-speed window under way (its
  // start and the bytes moved before it).
  std::int32_t FLowSpeedLimit = 0;
  std::int32_t FLowSpeedTime = 0;
  std::int32_t FMaxTime = 0;
  std::chrono::steady_clock::time_point FRequestStart;
  std::chrono::steady_clock::time_point FSpeedWindowStart;
  std::int64_t FSpeedWindowMark = 0;
  // Calls of SocketDataAvailable under way: more than one when a handler runs a message
  // loop.
  std::int32_t FReceiveDepth = 0;

 private:
  static plat::LRESULT WindowProc(plat::HWND Handle, plat::UINT Msg, plat::WPARAM WParam,
                                  plat::LPARAM LParam);
  // Ends the request under way as an abort does, with this reason and request-done error.
  void AbortRequest(const std::string& Reason, std::int32_t DoneErrorValue);
  // Ends the request as a local failure: status 404 with Reason, and the connection closed.
  void FailRequest(const std::string& Reason);
  // The data-available handler proper, and what follows it once no call of it is left.
  void ReceiveData(std::uint16_t Error);
  void EndReceiving();
  // Hands body bytes as received (chunked or not) to OnDocData and RcvdStream, then
  // whatever a handler's message loop received meanwhile.
  void DeliverBody(const char* Data, std::size_t Len);
  // One piece of received body bytes: decoded when chunked, cut at the announced length.
  // False when the request ended while it was handed on.
  bool HandBody(const char* Data, std::size_t Len);
  // Decoded body bytes to OnDocData and RcvdStream.
  bool HandPiece(const char* Data, std::size_t Len);
  // The body is whole: nothing after it belongs to it, and the connection is closed.
  void EndBody();
  // Whether the response carries a body at all.
  bool BodyExpected() const;
  // Sets SendStream back to where it stood when the request started; the reason when it
  // cannot.
  std::string RewindPost();
  // Frees what only a request under way needs, so that an idle component stays small.
  void ReleaseRequestBuffers();
  // The line buffer, from the thread's spare when there is one, and back to it.
  void TakeReceiveBuffer();
  void ReturnReceiveBuffer();
  // Progress of the connection: pushes the time-out back.
  void NoteProgress();
  void StartTimeoutTimer();
  void StopTimeoutTimer();
  void TimeoutTick();
  // Whether the request under way has a bound for the timer to watch.
  bool TimeBounded() const;
  void SetTimeBound(std::int32_t& Field, std::int32_t Value, const char* Name);
  // Why the request has passed a time bound by now, or empty; moves the low-speed window
  // on once it has seen its quota.
  std::string TimeBoundPassed();
  // Receive from the socket, counting what came.
  std::int32_t ReceiveCounted(void* Buf, std::int32_t Len);
  // Whether Basic credentials go with the request now.
  bool SendsCredentials() const;
  // Why a connection ended with Error, in words (a TLS failure names its reason).
  std::string HowClosed(std::uint16_t Error) const;
  // A socket error as a reason phrase: its text and number, or a TLS failure's reason.
  std::string ErrorText(std::uint16_t Error) const;
  // The request was ended or stopped while an event ran: the caller stops handling it.
  bool Stopped() const { return FRq.Stopped || FState == httpReady || FState == httpAborting; }
};
