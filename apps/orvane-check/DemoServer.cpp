#include "DemoServer.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "Host/HiddenWindow.h"
#include "Host/SysUtils.h"
#include "WSocket/WSocket.h"

namespace {

constexpr plat::UINT WM_FREE_FINISHED = plat::WM_USER + 1;
constexpr std::uintptr_t TickTimer = 1;
constexpr plat::UINT TickMs = 100;
// Closed connections kept for reuse; beyond it they are freed.
constexpr std::size_t MaxIdle = 256;
// Reads per notification: a client that sends without pause must not keep the loop
// from everything else.
constexpr int ReadsPerEvent = 8;

const char* ReasonOf(int Status) {
  switch (Status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 431:
      return "Request Header Fields Too Large";
    default:
      return "Service Unavailable";
  }
}

// Ticks elapsed from Since to Now; the tick count wraps.
std::uint32_t Elapsed(plat::DWORD Since, plat::DWORD Now) {
  return Now - Since;
}

}  // namespace

struct TDemoServer::TConnection {
  TWSocket Socket{nullptr};
  TConnections::iterator Self;
  std::string Request;
  std::string Pending;  // paced body not queued yet
  double Credit = 0;    // bytes of the pace not sent yet, less than one
  std::string Held;     // a response kept back until HeldUntil
  plat::DWORD HeldUntil = 0;
  bool Answered = false;
  bool Finishing = false;
  bool Graceful = true;
  plat::DWORD Accepted = 0;
  plat::DWORD LastActivity = 0;
};

TDemoServer::TDemoServer(const TSettings& Settings) : FSettings(Settings) {}

TDemoServer::~TDemoServer() {
  if (FWindow) plat::DestroyWindow(FWindow);
  FConnections.clear();
  FFinished.clear();
  FIdle.clear();
  FListener.reset();
}

std::string TDemoServer::BaseURL() const {
  return "http://" + FSettings.Addr + ":" + std::to_string(FPort);
}

std::string TDemoServer::PageURL() const {
  return BaseURL() + DemoPagePath;
}

bool TDemoServer::Start() {
  FWindow = CreateHiddenWindow("TDemoServerWindow", &TDemoServer::WndProc, this);
  if (!FWindow) {
    FError = "cannot create the server's window";
    return false;
  }
  FListener = std::make_unique<TWSocket>(nullptr);
  FListener->SetAddr(FSettings.Addr);
  FListener->SetPort(std::to_string(FSettings.Port));
  FListener->SetProto("tcp");
  FListener->SetListenBacklog(FSettings.Backlog);
  FListener->OnSessionAvailable = [this](TObject*, std::uint16_t Error) {
    if (Error == 0) AcceptClient();
  };
  try {
    if (FListener->Listen() != 0) {
      FError = "cannot listen on " + FSettings.Addr + ":" + std::to_string(FSettings.Port);
      return false;
    }
  } catch (const Exception& e) {
    FError = "cannot listen on " + FSettings.Addr + ":" + std::to_string(FSettings.Port) + ": " +
             e.Message();
    std::replace(FError.begin(), FError.end(), '\r', ' ');
    std::replace(FError.begin(), FError.end(), '\n', ' ');
    return false;
  }
  // From here on a failing accept is no reason to stop serving the others.
  FListener->OnError = [](TObject*) {};
  const std::string port = FListener->GetXPort();
  FPort = port == "error" ? 0 : static_cast<std::uint16_t>(std::stoi(port));
  // A key of its own each run: the demo shows a signed page without a key to keep.
  FKeys = Ed25519GenerateKeys();
  FFiles = DemoFiles(BaseURL(), FKeys.PrivateKey);
  for (const TDemoFile& file : FFiles) {
    FHeadResponses.push_back(ResponseHead(200, file.ContentType, file.Body.size()));
    FGetResponses.push_back(FHeadResponses.back() + file.Body);
  }
  plat::SetTimer(FWindow, TickTimer, TickMs, nullptr);
  return true;
}

plat::LRESULT TDemoServer::WndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                                   plat::LPARAM lParam) {
  auto* self = reinterpret_cast<TDemoServer*>(plat::GetWindowLongA(hwnd, 0));
  if (self && msg == WM_FREE_FINISHED) {
    self->FreeFinished();
    return 0;
  }
  if (self && msg == plat::WM_TIMER && wParam == TickTimer) {
    self->Tick();
    return 0;
  }
  return plat::DefWindowProcA(hwnd, msg, wParam, lParam);
}

void TDemoServer::AcceptClient() {
  const plat::SOCKET handle = FListener->Accept();
  if (handle == plat::INVALID_SOCKET) return;
  if (FConnections.size() >= FSettings.MaxClients) {
    plat::closesocket(handle);
    return;
  }
  if (FIdle.empty())
    FConnections.push_back(std::make_unique<TConnection>());
  else
    FConnections.splice(FConnections.end(), FIdle, FIdle.begin());
  TConnection& conn = *FConnections.back();
  conn.Self = std::prev(FConnections.end());
  conn.Request.clear();
  conn.Pending.clear();
  conn.Credit = 0;
  conn.Held.clear();
  conn.Answered = conn.Finishing = false;
  conn.Graceful = true;
  conn.Accepted = conn.LastActivity = plat::GetTickCount();
  // A plain close: the response still queued in the system must reach the client.
  conn.Socket.SetLingerOnOff(wsLingerOff);
  TConnection* c = &conn;
  conn.Socket.OnDataAvailable = [this, c](TObject*, std::uint16_t) { ReadRequest(*c); };
  conn.Socket.OnDataSent = [this, c](TObject*, std::uint16_t) { DataSent(*c); };
  conn.Socket.OnSessionClosed = [this, c](TObject*, std::uint16_t) { Finish(*c, false); };
  conn.Socket.OnError = [this, c](TObject*) { Finish(*c, false); };
  conn.Socket.Dup(handle);
}

void TDemoServer::ReadRequest(TConnection& Conn) {
  char buffer[4096];
  for (int i = 0; i < ReadsPerEvent && !Conn.Finishing; ++i) {
    const std::int32_t n = Conn.Socket.Receive(buffer, sizeof buffer);
    if (n <= 0) {
      if (n == 0) Finish(Conn, false);
      return;
    }
    Conn.LastActivity = plat::GetTickCount();
    if (Conn.Answered) continue;  // whatever follows the request is read and dropped
    const std::size_t scan = Conn.Request.size() < 3 ? 0 : Conn.Request.size() - 3;
    const std::size_t room = FSettings.MaxRequest - Conn.Request.size();
    Conn.Request.append(buffer, std::min<std::size_t>(room, static_cast<std::size_t>(n)));
    const std::string_view seen(Conn.Request);
    const bool complete = seen.find("\r\n\r\n", scan) != std::string_view::npos ||
                          seen.find("\n\n", scan) != std::string_view::npos;
    if (complete)
      Answer(Conn);
    else if (Conn.Request.size() >= FSettings.MaxRequest)
      SendResponse(Conn, 431, nullptr, false);
  }
}

void TDemoServer::Answer(TConnection& Conn) {
  const std::string_view request(Conn.Request);
  const std::string_view line = request.substr(0, request.find_first_of("\r\n"));
  // Method, target and version, separated by single blanks.
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.substr(sp2 + 1).substr(0, 5) != "HTTP/" ||
      sp2 == sp1 + 1) {
    SendResponse(Conn, 400, nullptr, false);
    return;
  }
  const std::string_view method = line.substr(0, sp1);
  std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  const bool head = method == "HEAD";
  if (!head && method != "GET") {
    SendResponse(Conn, 405, nullptr, false);
    return;
  }
  // The absolute form a proxy sends names the host first.
  if (target.substr(0, 7) == "http://") {
    const std::size_t slash = target.find('/', 7);
    target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
  }
  target = target.substr(0, target.find_first_of("?#"));
  for (const TDemoFile& file : FFiles) {
    if (file.Path == target) {
      SendResponse(Conn, 200, &file, head);
      return;
    }
  }
  SendResponse(Conn, 404, nullptr, head);
}

std::string TDemoServer::ResponseHead(int Status, const std::string& Type, std::size_t Length) {
  return "HTTP/1.0 " + std::to_string(Status) + " " + ReasonOf(Status) +
         "\r\nContent-Type: " + Type + "\r\nContent-Length: " + std::to_string(Length) +
         (Status == 405 ? "\r\nAllow: GET, HEAD" : "") + "\r\nConnection: close\r\n\r\n";
}

void TDemoServer::SendResponse(TConnection& Conn, int Status, const TDemoFile* File, bool Head) {
  Conn.Answered = true;
  ++FResponses;
  if (File) {
    const std::size_t index = static_cast<std::size_t>(File - FFiles.data());
    if (!Head && File->Path == DemoUpdatePath && FSettings.UpdateRate > 0) {
      Conn.Pending = File->Body;
      Conn.Socket.SendStr(FHeadResponses[index]);
    } else if (FSettings.ResponseDelayMs > 0) {
      Conn.Held = Head ? FHeadResponses[index] : FGetResponses[index];
      Conn.HeldUntil = plat::GetTickCount() + FSettings.ResponseDelayMs;
    } else {
      Conn.Socket.SendStr(Head ? FHeadResponses[index] : FGetResponses[index]);
    }
    return;
  }
  const std::string body = std::to_string(Status) + " " + ReasonOf(Status) + "\n";
  Conn.Socket.SendStr(ResponseHead(Status, "text/plain", body.size()) + (Head ? "" : body));
}

void TDemoServer::SendPaced(TConnection& Conn) {
  // A slow rate sends a byte every few ticks rather than rounding up to one a tick.
  Conn.Credit += static_cast<double>(FSettings.UpdateRate) * TickMs / 1000;
  const auto slice = static_cast<std::size_t>(Conn.Credit);
  if (slice == 0) return;
  Conn.Credit -= static_cast<double>(slice);
  const std::string piece = Conn.Pending.substr(0, slice);
  Conn.Pending.erase(0, piece.size());
  Conn.LastActivity = plat::GetTickCount();
  Conn.Socket.SendStr(piece);
}

void TDemoServer::DataSent(TConnection& Conn) {
  Conn.LastActivity = plat::GetTickCount();
  if (Conn.Answered && Conn.Pending.empty()) Finish(Conn, true);
}

void TDemoServer::Finish(TConnection& Conn, bool Graceful) {
  if (Conn.Finishing) return;
  Conn.Finishing = true;
  Conn.Graceful = Graceful;
  FFinished.splice(FFinished.end(), FConnections, Conn.Self);
  if (!FFreePosted) {
    FFreePosted = true;
    plat::PostMessageA(FWindow, WM_FREE_FINISHED, 0, 0);
  }
}

void TDemoServer::FreeFinished() {
  FFreePosted = false;
  TConnections finished;
  finished.swap(FFinished);
  for (auto& conn : finished) {
    TWSocket& s = conn->Socket;
    s.OnDataAvailable = nullptr;
    s.OnDataSent = nullptr;
    s.OnSessionClosed = nullptr;
    s.OnError = [](TObject*) {};
    if (conn->Graceful) {
      // Unread input at the close would make the system reset the connection and could
      // take the response with it.
      char drop[1024];
      for (int i = 0; i < ReadsPerEvent && s.Receive(drop, sizeof drop) > 0; ++i) {
      }
      s.Close();
    } else {
      s.Abort();
    }
  }
  while (!finished.empty() && FIdle.size() < MaxIdle)
    FIdle.splice(FIdle.end(), finished, finished.begin());
}

void TDemoServer::Tick() {
  const plat::DWORD now = plat::GetTickCount();
  std::vector<TConnection*> paced;
  std::vector<TConnection*> expired;
  std::vector<TConnection*> due;
  for (auto& conn : FConnections) {
    if (!conn->Held.empty()) {
      if (static_cast<std::int32_t>(now - conn->HeldUntil) >= 0) due.push_back(conn.get());
      continue;
    }
    if (!conn->Answered && Elapsed(conn->Accepted, now) >= FSettings.RequestTimeoutMs)
      expired.push_back(conn.get());
    else if (Elapsed(conn->LastActivity, now) >= FSettings.IdleTimeoutMs)
      expired.push_back(conn.get());
    else if (!conn->Pending.empty())
      paced.push_back(conn.get());
  }
  for (TConnection* conn : expired) Finish(*conn, false);
  for (TConnection* conn : due) {
    if (conn->Finishing) continue;
    conn->LastActivity = now;
    conn->Socket.SendStr(std::exchange(conn->Held, std::string()));
  }
  for (TConnection* conn : paced)
    if (!conn->Finishing) SendPaced(*conn);
}
