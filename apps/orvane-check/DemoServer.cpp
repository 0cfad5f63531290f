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
  } catch (const Exception& E) {
    FError = "cannot listen on " + FSettings.Addr + ":" + std::to_string(FSettings.Port) + ": " +
             E.Message();
    std::replace(FError.begin(), FError.end(), '\r', ' ');
    std::replace(FError.begin(), FError.end(), '\n', ' ');
    return false;
  }
  // From here on a failing accept is no reason to stop serving the others.
  FListener->OnError = [](TObject*) {};
  const std::string Port = FListener->GetXPort();
  FPort = Port == "error" ? 0 : static_cast<std::uint16_t>(std::stoi(Port));
  FFiles = DemoFiles(BaseURL());
  for (const TDemoFile& File : FFiles) {
    FHeadResponses.push_back(ResponseHead(200, File.ContentType, File.Body.size()));
    FGetResponses.push_back(FHeadResponses.back() + File.Body);
  }
  plat::SetTimer(FWindow, TickTimer, TickMs, nullptr);
  return true;
}

plat::LRESULT TDemoServer::WndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                                   plat::LPARAM lParam) {
  auto* Self = reinterpret_cast<TDemoServer*>(plat::GetWindowLongA(hwnd, 0));
  if (Self && msg == WM_FREE_FINISHED) {
    Self->FreeFinished();
    return 0;
  }
  if (Self && msg == plat::WM_TIMER && wParam == TickTimer) {
    Self->Tick();
    return 0;
  }
  return plat::DefWindowProcA(hwnd, msg, wParam, lParam);
}

void TDemoServer::AcceptClient() {
  const plat::SOCKET Handle = FListener->Accept();
  if (Handle == plat::INVALID_SOCKET) return;
  if (FConnections.size() >= FSettings.MaxClients) {
    plat::closesocket(Handle);
    return;
  }
  if (FIdle.empty())
    FConnections.push_back(std::make_unique<TConnection>());
  else
    FConnections.splice(FConnections.end(), FIdle, FIdle.begin());
  TConnection& Conn = *FConnections.back();
  Conn.Self = std::prev(FConnections.end());
  Conn.Request.clear();
  Conn.Pending.clear();
  Conn.Credit = 0;
  Conn.Held.clear();
  Conn.Answered = Conn.Finishing = false;
  Conn.Graceful = true;
  Conn.Accepted = Conn.LastActivity = plat::GetTickCount();
  // A plain close: the response still queued in the system must reach the client.
  Conn.Socket.SetLingerOnOff(wsLingerOff);
  TConnection* C = &Conn;
  Conn.Socket.OnDataAvailable = [this, C](TObject*, std::uint16_t) { ReadRequest(*C); };
  Conn.Socket.OnDataSent = [this, C](TObject*, std::uint16_t) { DataSent(*C); };
  Conn.Socket.OnSessionClosed = [this, C](TObject*, std::uint16_t) { Finish(*C, false); };
  Conn.Socket.OnError = [this, C](TObject*) { Finish(*C, false); };
  Conn.Socket.Dup(Handle);
}

void TDemoServer::ReadRequest(TConnection& Conn) {
  char Buffer[4096];
  for (int i = 0; i < ReadsPerEvent && !Conn.Finishing; ++i) {
    const std::int32_t N = Conn.Socket.Receive(Buffer, sizeof Buffer);
    if (N <= 0) {
      if (N == 0) Finish(Conn, false);
      return;
    }
    Conn.LastActivity = plat::GetTickCount();
    if (Conn.Answered) continue;  // whatever follows the request is read and dropped
    const std::size_t Scan = Conn.Request.size() < 3 ? 0 : Conn.Request.size() - 3;
    const std::size_t Room = FSettings.MaxRequest - Conn.Request.size();
    Conn.Request.append(Buffer, std::min<std::size_t>(Room, static_cast<std::size_t>(N)));
    const std::string_view Seen(Conn.Request);
    const bool Complete = Seen.find("\r\n\r\n", Scan) != std::string_view::npos ||
                          Seen.find("\n\n", Scan) != std::string_view::npos;
    if (Complete)
      Answer(Conn);
    else if (Conn.Request.size() >= FSettings.MaxRequest)
      SendResponse(Conn, 431, nullptr, false);
  }
}

void TDemoServer::Answer(TConnection& Conn) {
  const std::string_view Request(Conn.Request);
  const std::string_view Line = Request.substr(0, Request.find_first_of("\r\n"));
  // Method, target and version, separated by single blanks.
  const std::size_t Sp1 = Line.find(' ');
  const std::size_t Sp2 = Sp1 == std::string_view::npos ? Sp1 : Line.find(' ', Sp1 + 1);
  if (Sp2 == std::string_view::npos || Line.substr(Sp2 + 1).substr(0, 5) != "HTTP/" ||
      Sp2 == Sp1 + 1) {
    SendResponse(Conn, 400, nullptr, false);
    return;
  }
  const std::string_view Method = Line.substr(0, Sp1);
  std::string_view Target = Line.substr(Sp1 + 1, Sp2 - Sp1 - 1);
  const bool Head = Method == "HEAD";
  if (!Head && Method != "GET") {
    SendResponse(Conn, 405, nullptr, false);
    return;
  }
  // The absolute form a proxy sends names the host first.
  if (Target.substr(0, 7) == "http://") {
    const std::size_t Slash = Target.find('/', 7);
    Target = Slash == std::string_view::npos ? std::string_view("/") : Target.substr(Slash);
  }
  Target = Target.substr(0, Target.find_first_of("?#"));
  for (const TDemoFile& File : FFiles) {
    if (File.Path == Target) {
      SendResponse(Conn, 200, &File, Head);
      return;
    }
  }
  SendResponse(Conn, 404, nullptr, Head);
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
    const std::size_t Index = static_cast<std::size_t>(File - FFiles.data());
    if (!Head && File->Path == DemoUpdatePath && FSettings.UpdateRate > 0) {
      Conn.Pending = File->Body;
      Conn.Socket.SendStr(FHeadResponses[Index]);
    } else if (FSettings.ResponseDelayMs > 0) {
      Conn.Held = Head ? FHeadResponses[Index] : FGetResponses[Index];
      Conn.HeldUntil = plat::GetTickCount() + FSettings.ResponseDelayMs;
    } else {
      Conn.Socket.SendStr(Head ? FHeadResponses[Index] : FGetResponses[Index]);
    }
    return;
  }
  const std::string Body = std::to_string(Status) + " " + ReasonOf(Status) + "\n";
  Conn.Socket.SendStr(ResponseHead(Status, "text/plain", Body.size()) + (Head ? "" : Body));
}

void TDemoServer::SendPaced(TConnection& Conn) {
  // A slow rate sends a byte every few ticks rather than rounding up to one a tick.
  Conn.Credit += static_cast<double>(FSettings.UpdateRate) * TickMs / 1000;
  const auto Slice = static_cast<std::size_t>(Conn.Credit);
  if (Slice == 0) return;
  Conn.Credit -= static_cast<double>(Slice);
  const std::string Piece = Conn.Pending.substr(0, Slice);
  Conn.Pending.erase(0, Piece.size());
  Conn.LastActivity = plat::GetTickCount();
  Conn.Socket.SendStr(Piece);
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
  TConnections Finished;
  Finished.swap(FFinished);
  for (auto& Conn : Finished) {
    TWSocket& S = Conn->Socket;
    S.OnDataAvailable = nullptr;
    S.OnDataSent = nullptr;
    S.OnSessionClosed = nullptr;
    S.OnError = [](TObject*) {};
    if (Conn->Graceful) {
      // Unread input at the close would make the system reset the connection and could
      // take the response with it.
      char Drop[1024];
      for (int i = 0; i < ReadsPerEvent && S.Receive(Drop, sizeof Drop) > 0; ++i) {
      }
      S.Close();
    } else {
      S.Abort();
    }
  }
  while (!Finished.empty() && FIdle.size() < MaxIdle)
    FIdle.splice(FIdle.end(), Finished, Finished.begin());
}

void TDemoServer::Tick() {
  const plat::DWORD Now = plat::GetTickCount();
  std::vector<TConnection*> Paced;
  std::vector<TConnection*> Expired;
  std::vector<TConnection*> Due;
  for (auto& Conn : FConnections) {
    if (!Conn->Held.empty()) {
      if (static_cast<std::int32_t>(Now - Conn->HeldUntil) >= 0) Due.push_back(Conn.get());
      continue;
    }
    if (!Conn->Answered && Elapsed(Conn->Accepted, Now) >= FSettings.RequestTimeoutMs)
      Expired.push_back(Conn.get());
    else if (Elapsed(Conn->LastActivity, Now) >= FSettings.IdleTimeoutMs)
      Expired.push_back(Conn.get());
    else if (!Conn->Pending.empty())
      Paced.push_back(Conn.get());
  }
  for (TConnection* Conn : Expired) Finish(*Conn, false);
  for (TConnection* Conn : Due) {
    if (Conn->Finishing) continue;
    Conn->LastActivity = Now;
    Conn->Socket.SendStr(std::exchange(Conn->Held, std::string()));
  }
  for (TConnection* Conn : Paced)
    if (!Conn->Finishing) SendPaced(*Conn);
}
