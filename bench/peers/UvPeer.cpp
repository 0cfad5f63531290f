// The libuv peer: written as a libuv user would, one uv_write request per piece (the
// counterpart of one Send call), a read buffer shared by every connection, and
// uv_try_write for the echo with a queued write only when the kernel refuses.
#include <uv.h>

#include <cstring>
#include <string>
#include <vector>

#include "Peers.h"

namespace peers {

namespace {

// A timer that stops the loop when the time is up, so that no run can hang.
void StopLoop(uv_timer_t* t) {
  uv_stop(t->loop);
}

void CloseAll(uv_loop_t* loop) {
  uv_walk(
      loop,
      [](uv_handle_t* h, void*) {
        if (!uv_is_closing(h)) uv_close(h, nullptr);
      },
      nullptr);
  uv_run(loop, UV_RUN_DEFAULT);
}

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  uv_ip4_addr("127.0.0.1", port, &a);
  return a;
}

class Bulk {
 public:
  explicit Bulk(const BulkShape& s)
      : FShape(s), FRead(s.readSize), FReqs(std::max<std::size_t>(1, s.batch / s.piece + 1)) {}

  bool Run() {
    uv_loop_init(&FLoop);
    FLoop.data = this;
    uv_tcp_init(&FLoop, &FListener);
    uv_tcp_init(&FLoop, &FClient);
    uv_timer_init(&FLoop, &FLimit);
    uv_timer_start(&FLimit, StopLoop, 300000, 0);
    sockaddr_in a = Loopback(0);
    int len = sizeof a;
    bool ok =
        uv_tcp_bind(&FListener, reinterpret_cast<sockaddr*>(&a), 0) == 0 &&
        uv_listen(reinterpret_cast<uv_stream_t*>(&FListener), 1, OnConnection) == 0 &&
        uv_tcp_getsockname(&FListener, reinterpret_cast<sockaddr*>(&a), &len) == 0 &&
        uv_tcp_connect(&FConnect, &FClient, reinterpret_cast<sockaddr*>(&a), OnConnected) == 0;
    if (ok) uv_run(&FLoop, UV_RUN_DEFAULT);
    ok = ok && !FFailed && FReceived == FShape.bytes;
    CloseAll(&FLoop);
    uv_loop_close(&FLoop);
    return ok;
  }

 private:
  static Bulk* Of(uv_handle_t* h) { return static_cast<Bulk*>(h->loop->data); }

  void Fail() {
    FFailed = true;
    uv_stop(&FLoop);
  }

  bool Congestion(uv_handle_t* h) {
    uv_os_fd_t fd = -1;
    return uv_fileno(h, &fd) == 0 && SetCongestion(fd, FShape.congestion);
  }

  static void OnConnection(uv_stream_t* l, int status) {
    Bulk* b = Of(reinterpret_cast<uv_handle_t*>(l));
    if (status < 0 || b->FAccepted) return b->Fail();
    b->FAccepted = true;
    uv_tcp_init(&b->FLoop, &b->FServer);
    if (uv_accept(l, reinterpret_cast<uv_stream_t*>(&b->FServer)) != 0 ||
        !b->Congestion(reinterpret_cast<uv_handle_t*>(&b->FServer)) ||
        uv_read_start(reinterpret_cast<uv_stream_t*>(&b->FServer), OnAlloc, OnRead) != 0)
      b->Fail();
  }

  static void OnAlloc(uv_handle_t* h, size_t, uv_buf_t* buf) {
    Bulk* b = Of(h);
    *buf = uv_buf_init(b->FRead.data(), static_cast<unsigned>(b->FRead.size()));
  }

  static void OnRead(uv_stream_t* s, ssize_t n, const uv_buf_t*) {
    Bulk* b = Of(reinterpret_cast<uv_handle_t*>(s));
    if (n < 0) return b->Fail();
    b->FReceived += static_cast<std::uint64_t>(n);
    if (b->FReceived >= b->FShape.bytes) uv_stop(&b->FLoop);
  }

  static void OnConnected(uv_connect_t* req, int status) {
    Bulk* b = Of(reinterpret_cast<uv_handle_t*>(req->handle));
    if (status < 0 || !b->Congestion(reinterpret_cast<uv_handle_t*>(&b->FClient))) return b->Fail();
    b->Feed();
  }

  // Hands over the next batch once every earlier write has completed.
  void Feed() {
    std::size_t now = 0, i = 0;
    while (FIssued < FShape.bytes && now < FShape.batch && i < FReqs.size()) {
      const auto n =
          static_cast<unsigned>(std::min<std::uint64_t>(FShape.piece, FShape.bytes - FIssued));
      uv_buf_t buf = uv_buf_init(const_cast<char*>(FShape.src), n);
      if (uv_write(&FReqs[i++], reinterpret_cast<uv_stream_t*>(&FClient), &buf, 1, OnWritten) != 0)
        return Fail();
      ++FPending;
      FIssued += n;
      now += n;
    }
  }

  static void OnWritten(uv_write_t* req, int status) {
    Bulk* b = Of(reinterpret_cast<uv_handle_t*>(req->handle));
    if (status < 0) return b->Fail();
    if (--b->FPending == 0) b->Feed();
  }

  const BulkShape& FShape;
  std::vector<char> FRead;
  std::vector<uv_write_t> FReqs;
  uv_loop_t FLoop{};
  uv_tcp_t FListener{}, FClient{}, FServer{};
  uv_timer_t FLimit{};
  uv_connect_t FConnect{};
  std::uint64_t FIssued = 0, FReceived = 0;
  int FPending = 0;
  bool FAccepted = false, FFailed = false;
};

class UvEchoServer final : public EchoServer {
 public:
  UvEchoServer() : FRead(64 * 1024) {
    uv_loop_init(&FLoop);
    FLoop.data = this;
    uv_tcp_init(&FLoop, &FListener);
    uv_timer_init(&FLoop, &FLimit);
  }
  ~UvEchoServer() override {
    // Connections still open are freed as they close; the loop's own handles are members.
    uv_walk(
        &FLoop,
        [](uv_handle_t* h, void* self) {
          auto* s = static_cast<UvEchoServer*>(self);
          const bool own = h == reinterpret_cast<uv_handle_t*>(&s->FListener) ||
                           h == reinterpret_cast<uv_handle_t*>(&s->FLimit);
          if (!uv_is_closing(h)) uv_close(h, own ? nullptr : OnFreed);
        },
        this);
    uv_run(&FLoop, UV_RUN_DEFAULT);
    uv_loop_close(&FLoop);
  }

  std::uint16_t Listen(int backlog) override {
    sockaddr_in a = Loopback(0);
    int len = sizeof a;
    if (uv_tcp_bind(&FListener, reinterpret_cast<sockaddr*>(&a), 0) != 0 ||
        uv_listen(reinterpret_cast<uv_stream_t*>(&FListener), backlog, OnConnection) != 0 ||
        uv_tcp_getsockname(&FListener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return 0;
    return ntohs(a.sin_port);
  }

  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override {
    FDone = &done;
    if (!done()) {
      uv_timer_start(&FLimit, StopLoop, static_cast<std::uint64_t>(limit.count()), 0);
      uv_run(&FLoop, UV_RUN_DEFAULT);
      uv_timer_stop(&FLimit);
    }
    FDone = nullptr;
    return done();
  }

 private:
  struct Conn {
    uv_tcp_t handle;
    bool echoed = false;
  };
  struct Write {
    uv_write_t req;
    std::string data;
  };

  static UvEchoServer* Of(uv_handle_t* h) { return static_cast<UvEchoServer*>(h->loop->data); }

  void Check() {
    if (FDone && (*FDone)()) uv_stop(&FLoop);
  }

  static void OnConnection(uv_stream_t* l, int status) {
    UvEchoServer* s = Of(reinterpret_cast<uv_handle_t*>(l));
    if (status < 0) {
      ++s->FFailures;
      return s->Check();
    }
    Conn* c = new Conn;
    uv_tcp_init(&s->FLoop, &c->handle);
    auto* stream = reinterpret_cast<uv_stream_t*>(&c->handle);
    if (uv_accept(l, stream) != 0 || uv_read_start(stream, OnAlloc, OnRead) != 0) {
      ++s->FFailures;
      uv_close(reinterpret_cast<uv_handle_t*>(&c->handle), OnFreed);
    }
  }

  static void OnAlloc(uv_handle_t* h, size_t, uv_buf_t* buf) {
    UvEchoServer* s = Of(h);
    *buf = uv_buf_init(s->FRead.data(), static_cast<unsigned>(s->FRead.size()));
  }

  static void OnRead(uv_stream_t* stream, ssize_t n, const uv_buf_t* buf) {
    UvEchoServer* s = Of(reinterpret_cast<uv_handle_t*>(stream));
    Conn* c = reinterpret_cast<Conn*>(stream);
    if (n < 0) {
      uv_close(reinterpret_cast<uv_handle_t*>(stream), OnClosed);
      return;
    }
    if (n == 0) return;
    uv_buf_t out = uv_buf_init(buf->base, static_cast<unsigned>(n));
    int w = uv_try_write(stream, &out, 1);
    if (w == UV_EAGAIN) w = 0;
    if (w >= 0 && w < n) {
      auto* wr = new Write;
      wr->data.assign(buf->base + w, static_cast<std::size_t>(n - w));
      uv_buf_t rest = uv_buf_init(wr->data.data(), static_cast<unsigned>(wr->data.size()));
      if (uv_write(&wr->req, stream, &rest, 1, OnWritten) != 0) {
        delete wr;
        w = -1;
      }
    }
    if (w < 0) ++s->FFailures;
    if (!c->echoed) {
      c->echoed = true;
      ++s->FEchoed;
    }
    s->Check();
  }

  static void OnWritten(uv_write_t* req, int status) {
    UvEchoServer* s = Of(reinterpret_cast<uv_handle_t*>(req->handle));
    if (status < 0) ++s->FFailures;
    delete reinterpret_cast<Write*>(req);
  }

  static void OnClosed(uv_handle_t* h) {
    UvEchoServer* s = Of(h);
    ++s->FClosed;
    delete reinterpret_cast<Conn*>(h);
    s->Check();
  }

  static void OnFreed(uv_handle_t* h) { delete reinterpret_cast<Conn*>(h); }

  std::vector<char> FRead;
  uv_loop_t FLoop{};
  uv_tcp_t FListener{};
  uv_timer_t FLimit{};
  const std::function<bool()>* FDone = nullptr;
};

}  // namespace

Peer UvPeer() {
  return {std::string("libuv ") + uv_version_string(),
          [](const BulkShape& s) { return Bulk(s).Run(); },
          [] { return std::unique_ptr<EchoServer>(new UvEchoServer); }};
}

}  // namespace peers
