// The socket component with TLS: with SslEnable set, each session that Connect opens
// speaks TLS 1.2 or 1.3 over the stream, driven by the same messages as any socket, on the
// same thread, without a blocking call. The application sees what a plain socket shows:
// OnSessionConnected once the handshake is done (and the peer verified), OnDataAvailable
// with plaintext for Receive, ReceiveStr and ReadLine, Send taking plaintext, OnDataSent
// when the records have gone to the network, OnSessionClosed at the end.
//
// The peer's certificate is verified by default: against the system's trusted
// authorities, or those of SslCAFile/SslCAPath, and for the host name (SslHostName, else
// Addr; an address is checked against the certificate's IP addresses). A session that
// fails ends with one of the TSslError codes: OnSessionConnected(code) and then
// OnSessionClosed(code) when the handshake or the certificate fails,
// OnSessionClosed(code) when a later alert arrives or the connection ends without the
// peer's close-notify (a truncation, never a clean end). SslErrorText tells why ("TLS
// certificate verification failed for example.com: certificate has expired").
//
// Close sends a close-notify before the connection ends; Abort does not. With SslEnable
// cleared (the default) the component is exactly a TWSocket; sessions adopted with Dup
// are always plain.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Platform/Export.h"
#include "WSocket/SslContext.h"
#include "WSocket/SslErrors.h"
#include "WSocket/WSocket.h"

class ORV_API TSslWSocket : public TWSocket {
 public:
  explicit TSslWSocket(TComponent* AOwner);
  ~TSslWSocket() override;
  std::string ClassName() const override { return "TSslWSocket"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();

  // Settings, read when Connect opens a session.
  bool SslEnable() const { return FSslEnable; }
  void SetSslEnable(bool Value) { FSslEnable = Value; }
  // The name the certificate must carry, sent to the server as its name; empty: Addr.
  const std::string& SslHostName() const { return FSslHostName; }
  void SetSslHostName(const std::string& Value) { FSslHostName = Value; }
  // Trusted authorities instead of the system's: a file of certificates, a folder.
  const std::string& SslCAFile() const { return FSettings.CAFile; }
  void SetSslCAFile(const std::string& Value);
  const std::string& SslCAPath() const { return FSettings.CAPath; }
  void SetSslCAPath(const std::string& Value);
  // Accepts any certificate for any name: the session is then open to whoever sits on
  // the way. For tests against servers with throw-away certificates only.
  bool SslUnsafeSkipVerify() const { return !FSettings.Verify; }
  void SetSslUnsafeSkipVerify(bool Value);

  // The current session: the handshake is done.
  bool SslEstablished() const;
  // Its protocol ("TLSv1.3") and cipher; "" before the handshake.
  std::string SslVersion() const;
  std::string SslCipher() const;
  // Why the last TLS session failed; "" when it has not.
  const std::string& SslErrorText() const { return FSslErrorText; }

  // Starts TLS on the plain stream session that is open now (a tunnel that a proxy opened
  // with CONNECT): the handshake runs on the same notifications and ends in
  // OnSslHandshakeDone(0), or in OnSslHandshakeDone(code) and the end of the session as
  // for a failed handshake at Connect. Send takes plaintext at once; it leaves once the
  // handshake is done.
  void StartSsl();
  TSessionConnected OnSslHandshakeDone;

  void Connect() override;
  void Dup(plat::SOCKET NewHSocket) override;
  std::int32_t Send(const void* Data, std::int32_t Len) override;
  std::int32_t Receive(void* Buffer, std::int32_t BufferSize) override;
  std::string ReceiveStr() override;
  std::int32_t PeekData(void* Buffer, std::int32_t BufferSize) override;
  std::int32_t RcvdCount() override;
  void WaitForClose() override;
  // Ending the sending side first sends the close-notify.
  void Shutdown(std::int32_t How) override;
  void Resume() override;

 protected:
  void WndProc(TMessage& MsgRec) override;
  void InternalClose(bool bShut) override;
  void ReadLineReceive() override;
  // A failed session reports its failure also when it is closed by a handler's Close.
  void TriggerSessionClosed(std::uint16_t Error) override;
  virtual void TriggerSslHandshakeDone(std::uint16_t Error);

 private:
  struct TSession;
  class TPlainLines;

  // A new TLS session on the current settings; false with the reason reported.
  bool MakeSession(const std::string& Caller);
  // Encrypts Len bytes and hands the records on; false when the session failed or ended.
  bool WritePlain(const char* Data, std::int32_t Len);
  // The socket layer's notification for a TLS session.
  void SslSelect(TMessage& MsgRec);
  // Moves the peer's records from the socket into the engine's queue, up to a bound;
  // notes the end of the stream.
  void PullRecords();
  // Moves the engine's records to the network, or into the send queue for what the
  // network does not take now.
  void PushRecords();
  // Runs the handshake on; fires OnSessionConnected when it is done or has failed.
  void Handshake();
  // Decrypts one record's worth into the plaintext buffer when it is empty (reading the
  // network when the engine needs more); answers whether plaintext waits.
  bool StagePlain();
  // Plaintext ready, or records that may hold some.
  bool Buffered() const;
  // Hands the plaintext to OnDataAvailable or the line collector, as the plain socket
  // does with the socket's bytes, and ends the session at the end of the stream.
  void Deliver(bool Closing);
  // The stream has ended (the peer's close-notify, or the connection closed): reports
  // it, cleanly or as a truncation, and closes.
  void EndOfStream();
  // After plaintext has been handed out: ends the session when the stream has ended and
  // nothing is left that the application still reads (Bounded: the delivery stopped
  // early and goes on with a later notification).
  void CheckStreamEnd(bool Bounded);
  // Decrypts everything the engine's queue holds into the plaintext buffer.
  void DrainRecords();
  // Ends the session with an error (Code 0: cleanly) and its reason.
  void EndSession(std::uint16_t Code, const std::string& Text);
  void FailHandshake(std::uint16_t Code, const std::string& Text);
  // Takes up to Len bytes of plaintext (buffered first, then straight from the engine).
  std::int32_t TakePlain(char* Buffer, std::int32_t Len);
  // Tells the component to look at its buffers again: bytes taken outside a notification
  // may leave plaintext that no notification of the socket layer would announce.
  void RearmRead();
  std::string HostToCheck() const;

  bool FSslEnable = false;
  std::string FSslHostName;
  ssl::TClientSettings FSettings;
  ssl::TCtxPtr FCtx;
  bool FCtxStale = true;
  std::unique_ptr<TSession> FTls;
  std::string FSslErrorText;
  // The failure of the current session, reported by its OnSessionClosed.
  std::uint16_t FCloseError = 0;
  // A look at the buffers is posted and not yet handled.
  bool FReadPosted = false;
  // Deliver is running (a handler's Receive needs no extra notification).
  int FDelivering = 0;
};
