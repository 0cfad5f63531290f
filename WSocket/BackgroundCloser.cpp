#include "WSocket/BackgroundCloser.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <thread>

#include "WSocket/SendQueue.h"
#include "WSocket/WinsockStartup.h"

namespace {

using TClock = std::chrono::steady_clock;

// Its own message and window: notifications for a handed-over socket must never reach a
// component, which may already run a new session with a recycled descriptor.
constexpr plat::UINT WM_CLOSER_SELECT = plat::WM_USER + 2;
constexpr char CloserWindowClassName[] = "XSocketCloserWindowClass";
char ModuleInstance;
constexpr std::uintptr_t kTickTimer = 1;
// The peer's acknowledgements raise no notification: they are looked at on this beat.
constexpr plat::UINT kTickMs = 50;
// How long a peer may take nothing before the close gives up on it.
constexpr auto kIdleBound = std::chrono::seconds(60);
std::atomic<std::int32_t> gExitTimeoutMs{2000};

void CloseWithReset(plat::SOCKET s) {
  const linger hard{1, 0};
  plat::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
  plat::closesocket(s);
}

// Closes normally, lingering off: the system keeps delivering what it holds, then ends the
// stream, also after this process has gone. Unread bytes are taken first, as a close over
// them would reset the connection.
void LeaveToTheSystem(plat::SOCKET s) {
  char discard[4096];
  for (int i = 0; i < 64 && plat::recv(s, discard, sizeof discard, 0) > 0; ++i) {
  }
  const linger graceful{0, 0};
  plat::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&graceful),
                   sizeof graceful);
  plat::closesocket(s);
}

// A reset from the peer leaves the socket closed with its unacknowledged bytes still
// counted, and a later read may report only the end of the stream: the connection's own
// state tells.
bool PeerGone(plat::SOCKET s) {
  tcp_info info{};
  int len = sizeof info;
  if (plat::getsockopt(s, IPPROTO_TCP, TCP_INFO, reinterpret_cast<char*>(&info), &len) != 0)
    return true;
  return info.tcpi_state == TCP_CLOSE;
}

plat::LRESULT CloserWindowProc(plat::HWND Handle, plat::UINT Msg, plat::WPARAM WParam,
                               plat::LPARAM LParam);

class TCloser {
 public:
  TCloser() = default;
  TCloser(const TCloser&) = delete;
  TCloser& operator=(const TCloser&) = delete;
  ~TCloser();

  void Take(plat::SOCKET Socket, TSendQueue& Queue, int Flags, int LingerSeconds);
  void OnSelect(plat::SOCKET Socket);
  void OnTick();
  std::size_t Pending() const { return FEntries.size(); }

 private:
  struct TEntry {
    explicit TEntry(std::int32_t ChunkSize) : Queue(ChunkSize) {}
    plat::SOCKET Socket = plat::INVALID_SOCKET;
    TSendQueue Queue;
    int Flags = 0;
    bool SendingShut = false;
    bool DeadlineIsTotal = false;
    TClock::time_point Deadline;
    plat::u_long Unsent = 0;
  };

  // One step of the close; true when the socket is closed and the entry can go.
  bool Advance(TEntry& Entry);
  void Drop(std::list<TEntry>::iterator It);
  bool EnsureWindow();

  std::list<TEntry> FEntries;
  plat::HWND FWindow = 0;
};

thread_local TCloser tCloser;

TCloser::~TCloser() {
  // The thread is ending (for the main thread: the application), and nothing will pump its
  // messages any more. A user who quits expects the program to go: the sockets are fed
  // here for a short time only, however well they move, then left to the system.
  const auto end = TClock::now() + std::chrono::milliseconds(std::max(0, gExitTimeoutMs.load()));
  while (!FEntries.empty()) {
    for (auto it = FEntries.begin(); it != FEntries.end();) {
      auto next = std::next(it);
      if (Advance(*it)) Drop(it);
      it = next;
    }
    if (FEntries.empty() || TClock::now() >= end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  while (!FEntries.empty()) {
    LeaveToTheSystem(FEntries.front().Socket);
    Drop(FEntries.begin());
  }
  if (FWindow != 0) plat::DestroyWindow(FWindow);
}

bool TCloser::EnsureWindow() {
  if (FWindow != 0) return true;
  plat::WNDCLASSA existing{};
  if (!plat::GetClassInfoA(&ModuleInstance, CloserWindowClassName, &existing)) {
    plat::WNDCLASSA wc{};
    wc.lpfnWndProc = &CloserWindowProc;
    wc.hInstance = &ModuleInstance;
    wc.lpszClassName = CloserWindowClassName;
    // Another thread may have registered it meanwhile: the look-up below settles it.
    plat::RegisterClassA(&wc);
  }
  FWindow = plat::CreateWindowExA(plat::WS_EX_TOOLWINDOW, CloserWindowClassName, "", plat::WS_POPUP,
                                  0, 0, 0, 0, 0, nullptr, &ModuleInstance, nullptr);
  return FWindow != 0;
}

void TCloser::Take(plat::SOCKET Socket, TSendQueue& Queue, int Flags, int LingerSeconds) {
  if (!EnsureWindow()) {
    // Without a window nothing would drive the close: the system gets what it takes.
    Queue.Clear();
    const linger graceful{0, 0};
    plat::setsockopt(Socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&graceful),
                     sizeof graceful);
    plat::closesocket(Socket);
    return;
  }
  // The socket layer stays up while the closer still holds sockets, even when the last
  // component is gone.
  if (FEntries.empty()) WinsockBackgroundCloseStarted();
  TEntry& entry = FEntries.emplace_back(Queue.ChunkSize());
  entry.Socket = Socket;
  entry.Queue.TakeFrom(Queue);
  entry.Flags = Flags;
  entry.DeadlineIsTotal = LingerSeconds > 0;
  entry.Deadline =
      TClock::now() + (LingerSeconds > 0 ? std::chrono::seconds(LingerSeconds) : kIdleBound);
  plat::ioctlsocket(Socket, plat::FIONWRITE, &entry.Unsent);
  if (FEntries.size() == 1) plat::SetTimer(FWindow, kTickTimer, kTickMs, nullptr);
  plat::WSAAsyncSelect(Socket, FWindow, WM_CLOSER_SELECT,
                       plat::FD_READ | plat::FD_WRITE | plat::FD_CLOSE);
  OnSelect(Socket);
}

void TCloser::Drop(std::list<TEntry>::iterator It) {
  FEntries.erase(It);
  if (!FEntries.empty()) return;
  if (FWindow != 0) plat::KillTimer(FWindow, kTickTimer);
  WinsockBackgroundCloseEnded();
}

void TCloser::OnSelect(plat::SOCKET Socket) {
  for (auto it = FEntries.begin(); it != FEntries.end(); ++it) {
    if (it->Socket != Socket) continue;
    if (Advance(*it)) Drop(it);
    return;
  }
}

void TCloser::OnTick() {
  for (auto it = FEntries.begin(); it != FEntries.end();) {
    auto next = std::next(it);
    if (Advance(*it)) Drop(it);
    it = next;
  }
}

bool TCloser::Advance(TEntry& Entry) {
  const auto now = TClock::now();
  bool progress = false;
  if (PeerGone(Entry.Socket)) {
    CloseWithReset(Entry.Socket);
    return true;
  }
  // Whatever the peer still sends is read and dropped: closing over unread bytes would
  // make the system reset the connection.
  char discard[4096];
  for (;;) {
    const int r = plat::recv(Entry.Socket, discard, sizeof discard, 0);
    if (r > 0) continue;
    const int code = r < 0 ? plat::WSAGetLastError() : 0;
    if (r < 0 && code != plat::WSAEWOULDBLOCK && code != plat::WSAESHUTDOWN) {
      // The connection is gone: what is left can reach nobody.
      CloseWithReset(Entry.Socket);
      return true;
    }
    break;  // nothing more now, or the peer has ended its sending side (it may still read)
  }
  while (!Entry.Queue.Empty()) {
    iovec pieces[TSendQueue::GatherChunks];
    const int count = Entry.Queue.Gather(pieces, TSendQueue::GatherChunks);
    std::int64_t offered = 0;
    for (int i = 0; i < count; ++i) offered += static_cast<std::int64_t>(pieces[i].iov_len);
    const int r = plat::sendv(Entry.Socket, pieces, count, Entry.Flags);
    if (r < 0) {
      if (plat::WSAGetLastError() == plat::WSAEWOULDBLOCK) break;
      CloseWithReset(Entry.Socket);
      return true;
    }
    Entry.Queue.Remove(r);
    progress = progress || r > 0;
    if (r < offered) break;
  }
  if (Entry.Queue.Empty()) {
    Entry.Queue.Clear();
    if (!Entry.SendingShut) {
      // The peer reads the end of the stream after the last byte.
      Entry.SendingShut = true;
      if (plat::shutdown(Entry.Socket, plat::SD_SEND) != 0) {
        CloseWithReset(Entry.Socket);
        return true;
      }
    }
    plat::u_long unsent = 0;
    if (plat::ioctlsocket(Entry.Socket, plat::FIONWRITE, &unsent) != 0 || unsent == 0) {
      // The peer has acknowledged everything: the socket's own linger setting applies now.
      if (plat::closesocket(Entry.Socket) != 0) CloseWithReset(Entry.Socket);
      return true;
    }
    if (unsent < Entry.Unsent) progress = true;
    Entry.Unsent = unsent;
  }
  if (progress && !Entry.DeadlineIsTotal) Entry.Deadline = now + kIdleBound;
  if (now >= Entry.Deadline) {
    CloseWithReset(Entry.Socket);
    return true;
  }
  return false;
}

plat::LRESULT CloserWindowProc(plat::HWND Handle, plat::UINT Msg, plat::WPARAM WParam,
                               plat::LPARAM LParam) {
  if (Msg == WM_CLOSER_SELECT) {
    tCloser.OnSelect(static_cast<plat::SOCKET>(WParam));
    return 0;
  }
  if (Msg == plat::WM_TIMER && WParam == kTickTimer) {
    tCloser.OnTick();
    return 0;
  }
  return plat::DefWindowProcA(Handle, Msg, WParam, LParam);
}

}  // namespace

namespace BackgroundCloser {

void HandOver(plat::SOCKET Socket, TSendQueue& Queue, int SendFlags, int LingerSeconds) {
  tCloser.Take(Socket, Queue, SendFlags, LingerSeconds);
}

std::size_t Pending() {
  return tCloser.Pending();
}

std::int32_t ExitTimeout() {
  return gExitTimeoutMs.load();
}

void SetExitTimeout(std::int32_t Milliseconds) {
  gExitTimeoutMs.store(Milliseconds);
}

}  // namespace BackgroundCloser
