// The embedded demo server: a small HTTP/1.0 server built on the socket component, on the
// message loop of the thread that creates it. A listening socket hands every client to a
// component of its own; each connection gets one response and is closed.
//
// It has to stay responsive while an update check runs nested message loops on the same
// thread, and must not be held up or filled up by clients that misbehave: a request is
// bounded in size and in time, and a connection that moves no byte for a while is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "DemoContent.h"
#include "Orvane/Signature.h"
#include "Platform/Messages.h"

class TWSocket;

class TDemoServer {
 public:
  struct TSettings {
    std::string Addr = "127.0.0.1";
    std::uint16_t Port = 0;  // 0: a free port of the system's choice
    // Bytes a second at which the update file is sent, so that its progress can be
    // watched; 0 sends it as fast as the network takes it.
    std::int32_t UpdateRate = 0;
    // The page and the read-me are answered this late, so that the spinner of a check
    // can be seen; 0 answers at once.
    std::uint32_t ResponseDelayMs = 0;
    std::uint32_t RequestTimeoutMs = 10000;  // the whole request must have come by then
    std::uint32_t IdleTimeoutMs = 10000;     // a connection that moves nothing is dropped
    std::size_t MaxRequest = 8192;           // request line and header lines together
    std::size_t MaxClients = 512;            // further clients are turned away at once
    // Connections the system queues before they are accepted: a burst of clients beyond it
    // would wait a second or more for the retry of their connect.
    std::int32_t Backlog = 1024;
  };

  explicit TDemoServer(const TSettings& Settings);
  ~TDemoServer();
  TDemoServer(const TDemoServer&) = delete;
  TDemoServer& operator=(const TDemoServer&) = delete;

  // Listens; false with the reason in Error().
  bool Start();
  std::uint16_t Port() const { return FPort; }
  // "http://127.0.0.1:PORT", what the demo page's addresses start with.
  std::string BaseURL() const;
  std::string PageURL() const;
  const std::string& Error() const { return FError; }
  // The public key of the key made at Start that signs the page (Base64 Ed25519).
  const std::string& PublicKey() const { return FKeys.PublicKey; }

  std::size_t OpenConnections() const { return FConnections.size(); }
  std::uint64_t Responses() const { return FResponses; }

 private:
  struct TConnection;
  using TConnections = std::list<std::unique_ptr<TConnection>>;

  static plat::LRESULT WndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                               plat::LPARAM lParam);
  void AcceptClient();
  void ReadRequest(TConnection& Conn);
  void Answer(TConnection& Conn);
  // Status 200 needs File; the others carry a short text of their own.
  void SendResponse(TConnection& Conn, int Status, const TDemoFile* File, bool Head);
  static std::string ResponseHead(int Status, const std::string& Type, std::size_t Length);
  void SendPaced(TConnection& Conn);
  void DataSent(TConnection& Conn);
  // Takes the connection out of service; it is closed and freed from the message loop, so
  // that no handler of its socket is still running when it goes.
  void Finish(TConnection& Conn, bool Graceful);
  void FreeFinished();
  void Tick();

  TSettings FSettings;
  std::vector<TDemoFile> FFiles;
  std::unique_ptr<TWSocket> FListener;
  TConnections FConnections;
  TConnections FFinished;
  // Closed connections kept for the next clients: a component costs a window to make.
  TConnections FIdle;
  // Per file: the whole answer to GET, and the head alone for HEAD.
  std::vector<std::string> FGetResponses;
  std::vector<std::string> FHeadResponses;
  bool FFreePosted = false;
  plat::HWND FWindow = 0;
  std::uint16_t FPort = 0;
  std::string FError;
  std::uint64_t FResponses = 0;
  TEd25519Keys FKeys;
};
