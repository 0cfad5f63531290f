// The Asio peer, written as an Asio user would: one async_write of the whole batch as a
// buffer sequence at a time (Asio allows no second write on a socket while one is under
// way), async_read_some into one buffer; the echo server waits for readability
// (async_wait) and reads into a buffer that every connection shares, so an idle connection
// holds no buffer of its own, and each session lives in the handler that waits for it.
#include <asio.hpp>

#include <memory>
#include <string>
#include <vector>

#include "Peers.h"

namespace peers {

namespace {

using asio::ip::tcp;
using ErrorCode = std::error_code;

const tcp::endpoint kLoopback(asio::ip::address_v4::loopback(), 0);

class Bulk {
 public:
  explicit Bulk(const BulkShape& s) : FShape(s), FRead(s.readSize) {}

  bool Run() {
    ErrorCode ec;
    FAcceptor.open(tcp::v4(), ec);
    if (!ec) FAcceptor.bind(kLoopback, ec);
    if (!ec) FAcceptor.listen(1, ec);
    const tcp::endpoint to = FAcceptor.local_endpoint(ec);
    if (ec) return false;
    FAcceptor.async_accept(FServer, [this](const ErrorCode& e) {
      if (e || !SetCongestion(FServer.native_handle(), FShape.congestion)) return Fail();
      Read();
    });
    FClient.async_connect(to, [this](const ErrorCode& e) {
      if (e || !SetCongestion(FClient.native_handle(), FShape.congestion)) return Fail();
      Write();
    });
    FIo.run_for(std::chrono::seconds(300));
    return !FFailed && FReceived == FShape.bytes;
  }

 private:
  void Fail() {
    FFailed = true;
    FIo.stop();
  }

  void Write() {
    FBufs.clear();
    std::size_t now = 0;
    while (FIssued < FShape.bytes && now < FShape.batch) {
      const auto n =
          static_cast<std::size_t>(std::min<std::uint64_t>(FShape.piece, FShape.bytes - FIssued));
      FBufs.emplace_back(FShape.src, n);
      FIssued += n;
      now += n;
    }
    if (FBufs.empty()) return;
    asio::async_write(FClient, FBufs, [this](const ErrorCode& e, std::size_t) {
      if (e) return Fail();
      Write();
    });
  }

  void Read() {
    FServer.async_read_some(asio::buffer(FRead), [this](const ErrorCode& e, std::size_t n) {
      FReceived += n;
      if (FReceived >= FShape.bytes) return FIo.stop();
      if (e) return Fail();
      Read();
    });
  }

  const BulkShape& FShape;
  std::vector<char> FRead;
  std::vector<asio::const_buffer> FBufs;
  asio::io_context FIo{1};
  tcp::acceptor FAcceptor{FIo};
  tcp::socket FClient{FIo}, FServer{FIo};
  std::uint64_t FIssued = 0, FReceived = 0;
  bool FFailed = false;
};

class AsioEchoServer final : public EchoServer {
 public:
  AsioEchoServer() : FRead(64 * 1024) {}

  std::uint16_t Listen(int backlog) override {
    ErrorCode ec;
    FAcceptor.open(tcp::v4(), ec);
    if (!ec) FAcceptor.bind(kLoopback, ec);
    if (!ec) FAcceptor.listen(backlog, ec);
    const tcp::endpoint at = FAcceptor.local_endpoint(ec);
    if (ec) return 0;
    Accept();
    return at.port();
  }

  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override {
    FDone = &done;
    if (!done()) {
      FIo.restart();
      FIo.run_for(limit);
    }
    FDone = nullptr;
    return done();
  }

 private:
  struct Session {
    explicit Session(tcp::socket s) : socket(std::move(s)) {}
    tcp::socket socket;
    bool echoed = false;
  };
  using SessionPtr = std::shared_ptr<Session>;

  void Check() {
    if (FDone && (*FDone)()) FIo.stop();
  }

  void Accept() {
    FAcceptor.async_accept([this](const ErrorCode& e, tcp::socket s) {
      if (e) {
        ++FFailures;
      } else {
        auto session = std::make_shared<Session>(std::move(s));
        ErrorCode ec;
        session->socket.non_blocking(true, ec);
        Wait(std::move(session));
      }
      Accept();
      Check();
    });
  }

  void Wait(SessionPtr s) {
    Session* raw = s.get();
    raw->socket.async_wait(tcp::socket::wait_read, [this, s = std::move(s)](const ErrorCode& e) {
      if (e) return Close(*s);
      ErrorCode ec;
      const std::size_t n = s->socket.read_some(asio::buffer(FRead), ec);
      if (ec == asio::error::would_block) return Wait(s);
      if (ec || n == 0) return Close(*s);
      Echo(s, n);
      Wait(s);
      Check();
    });
  }

  void Echo(const SessionPtr& s, std::size_t n) {
    ErrorCode ec;
    std::size_t w = s->socket.write_some(asio::buffer(FRead.data(), n), ec);
    if (ec == asio::error::would_block) w = 0, ec = {};
    if (ec) {
      ++FFailures;
    } else if (w < n) {
      auto rest = std::make_shared<std::string>(FRead.data() + w, n - w);
      asio::async_write(s->socket, asio::buffer(*rest),
                        [this, s, rest](const ErrorCode& e, std::size_t) {
                          if (e) ++FFailures;
                        });
    }
    if (!s->echoed) {
      s->echoed = true;
      ++FEchoed;
    }
  }

  void Close(Session& s) {
    ErrorCode ec;
    s.socket.close(ec);
    ++FClosed;
    Check();
  }

  std::vector<char> FRead;
  asio::io_context FIo{1};
  tcp::acceptor FAcceptor{FIo};
  const std::function<bool()>* FDone = nullptr;
};

}  // namespace

Peer AsioPeer() {
  return {"Asio " + std::to_string(ASIO_VERSION / 100000) + "." +
              std::to_string(ASIO_VERSION / 100 % 1000) + "." + std::to_string(ASIO_VERSION % 100),
          [](const BulkShape& s) { return Bulk(s).Run(); },
          [] { return std::unique_ptr<EchoServer>(new AsioEchoServer); }};
}

}  // namespace peers
