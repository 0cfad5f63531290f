// The socket component as a server: a listening component that gives every accepted
// connection a component of its own, with clients nobody here wrote (curl, nc, socat)
// and with many of our own clients at once.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "WSocket/WSocket.h"
#include "support/Bytes.h"
#include "support/ChildProcess.h"
#include "support/Pump.h"
#include "support/SocketServer.h"
#include "support/TempFile.h"

using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::PatternString;
using testsupport::PumpUntil;
using testsupport::SocketServer;

namespace {

// What the server saw on one connection.
struct Session {
  std::string in;
  bool replied = false;
  bool closing = false;
  int closedCount = 0;
  std::uint16_t closedError = 0xFFFF;
};

// A server whose connections echo what they read, lingering off so that their close
// is graceful for the foreign client.
struct EchoServer {
  std::vector<std::unique_ptr<Session>> sessions;
  SocketServer server{[this](TWSocket& c, std::size_t) {
    sessions.push_back(std::make_unique<Session>());
    Session* st = sessions.back().get();
    c.SetLingerOnOff(wsLingerOff);
    c.OnDataAvailable = [&c, st](TObject*, std::uint16_t) {
      const std::string got = c.ReceiveStr();
      st->in += got;
      if (!got.empty()) c.SendStr(got);
    };
    c.OnSessionClosed = [st](TObject*, std::uint16_t e) {
      ++st->closedCount;
      st->closedError = e;
    };
  }};

  int Closed() const {
    int n = 0;
    for (const auto& s : sessions) n += s->closedCount;
    return n;
  }
};

std::vector<std::string> Curl(std::uint16_t port, const std::string& path) {
  // -q first: no personal configuration file; no proxy from the environment.
  return {"curl", "-q",         "-sS", "--noproxy",
          "*",    "--max-time", "20",  "http://127.0.0.1:" + std::to_string(port) + path};
}

}  // namespace

// curl asks for a document; the server answers with a binary body much larger than a
// send chunk and closes once OnDataSent says everything has gone.
TEST(PeerServer, CurlFetchesADocumentServedByTheComponent) {
  if (ChildProcess::FindProgram("curl").empty()) GTEST_SKIP() << "curl is not installed";
  const std::string body = PatternString(21, 0, 200000);
  std::string requestLine;
  std::vector<std::unique_ptr<Session>> sessions;
  SocketServer server([&](TWSocket& c, std::size_t) {
    sessions.push_back(std::make_unique<Session>());
    Session* st = sessions.back().get();
    c.SetLingerOnOff(wsLingerOff);
    c.OnDataAvailable = [&, st, cp = &c](TObject*, std::uint16_t) {
      st->in += cp->ReceiveStr();
      const auto end = st->in.find("\r\n\r\n");
      if (st->replied || end == std::string::npos) return;
      st->replied = true;
      requestLine = st->in.substr(0, st->in.find("\r\n"));
      cp->SendStr("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                  std::to_string(body.size()) + "\r\n\r\n");
      cp->SendStr(body);
    };
    c.OnDataSent = [st, cp = &c](TObject*, std::uint16_t) {
      if (st->replied && !st->closing) {
        st->closing = true;
        cp->Close();
      }
    };
  });
  ASSERT_TRUE(server.Start());

  ChildProcess curl(Curl(server.Port(), "/update/info.htm"));
  ASSERT_TRUE(curl.Started()) << curl.Error();
  ASSERT_TRUE(PumpUntil(
      [&] {
        curl.Poll();
        return curl.Exited();
      },
      30s));
  ASSERT_EQ(curl.Wait(1s), 0);
  EXPECT_EQ(requestLine, "GET /update/info.htm HTTP/1.1");
  EXPECT_EQ(curl.Output().size(), body.size());
  EXPECT_TRUE(curl.Output() == body);
  EXPECT_EQ(server.Accepted(), 1u);
  EXPECT_EQ(server.Listener().State(), wsListening);
}

// nc uploads a file and shuts its sending down; the server reads every byte before its
// OnSessionClosed, then closes, which lets nc end.
TEST(PeerServer, NetcatUploadArrivesComplete) {
  const std::string file = PatternString(22, 0, 1 << 20);
  testsupport::TempFile tf(file);
  ASSERT_FALSE(tf.Path().empty());
  Session st;
  std::size_t bytesAtClose = 0;
  SocketServer server([&](TWSocket& c, std::size_t) {
    c.SetLingerOnOff(wsLingerOff);
    c.OnDataAvailable = [&, cp = &c](TObject*, std::uint16_t) { st.in += cp->ReceiveStr(); };
    c.OnSessionClosed = [&](TObject*, std::uint16_t e) {
      ++st.closedCount;
      st.closedError = e;
      bytesAtClose = st.in.size();
    };
  });
  ASSERT_TRUE(server.Start());
  ChildProcess::Options opt;
  opt.stdinFile = tf.Path();
  ChildProcess nc({"nc", "-N", "127.0.0.1", std::to_string(server.Port())}, opt);
  ASSERT_TRUE(nc.Started()) << nc.Error();
  ASSERT_TRUE(PumpUntil(
      [&] {
        nc.Poll();
        return nc.Exited() && st.closedCount > 0;
      },
      30s));
  EXPECT_EQ(nc.ExitCode(), 0);
  EXPECT_EQ(st.closedCount, 1);
  EXPECT_EQ(st.closedError, 0);
  EXPECT_EQ(bytesAtClose, file.size());
  EXPECT_TRUE(st.in == file);
}

// socat sends a file and prints what comes back: the server's echo, unchanged.
TEST(PeerServer, SocatRoundTripThroughAnEchoingServer) {
  const std::string text = PatternString(23, 0, 4096);
  testsupport::TempFile tf(text);
  ASSERT_FALSE(tf.Path().empty());
  EchoServer echo;
  ASSERT_TRUE(echo.server.Start());
  ChildProcess::Options opt;
  opt.stdinFile = tf.Path();
  ChildProcess socat(
      {"socat", "-t", "5", "-", "TCP:127.0.0.1:" + std::to_string(echo.server.Port())}, opt);
  ASSERT_TRUE(socat.Started()) << socat.Error();
  ASSERT_TRUE(PumpUntil(
      [&] {
        socat.Poll();
        return socat.Exited() && echo.Closed() > 0;
      },
      30s));
  EXPECT_EQ(socat.ExitCode(), 0);
  EXPECT_TRUE(socat.Output() == text);
  ASSERT_EQ(echo.sessions.size(), 1u);
  EXPECT_EQ(echo.sessions[0]->closedError, 0);
}

// Many clients at once, ours and nc: each connection is served by its own component and
// gets back exactly its own bytes.
TEST(PeerServer, EveryConnectionIsServedByItsOwnComponent) {
  constexpr int kOwn = 16;
  constexpr int kNetcat = 4;
  constexpr std::size_t kOwnBytes = 65536;
  EchoServer echo;
  ASSERT_TRUE(echo.server.Start());
  const std::uint16_t port = echo.server.Port();

  struct Client {
    std::unique_ptr<TWSocket> socket;
    std::string sent, got;
  };
  std::vector<Client> own(kOwn);
  for (int i = 0; i < kOwn; ++i) {
    Client& cl = own[static_cast<std::size_t>(i)];
    cl.sent = PatternString(100 + static_cast<std::uint64_t>(i), 0, kOwnBytes);
    cl.socket = testsupport::NewLoopbackClient(port);
    TWSocket* s = cl.socket.get();
    s->OnSessionConnected = [s, &cl](TObject*, std::uint16_t e) {
      if (e == 0) s->SendStr(cl.sent);
    };
    s->OnDataAvailable = [s, &cl](TObject*, std::uint16_t) { cl.got += s->ReceiveStr(); };
    s->Connect();
    // A few at a time: the listening queue is short, and a connection it had to drop
    // would only come back after the system's one-second retry.
    if (i % 4 == 3) {
      ASSERT_TRUE(PumpUntil(
          [&] { return echo.server.Accepted() == static_cast<std::size_t>(i + 1); }, 10s));
    }
  }

  std::vector<std::unique_ptr<testsupport::TempFile>> files;
  std::vector<std::string> ncSent;
  std::vector<std::unique_ptr<ChildProcess>> ncs;
  for (int j = 0; j < kNetcat; ++j) {
    ncSent.push_back(PatternString(200 + static_cast<std::uint64_t>(j), 0, 4096));
    files.push_back(std::make_unique<testsupport::TempFile>(ncSent.back()));
    ChildProcess::Options opt;
    opt.stdinFile = files.back()->Path();
    ncs.push_back(std::make_unique<ChildProcess>(
        std::vector<std::string>{"nc", "-N", "127.0.0.1", std::to_string(port)}, opt));
    ASSERT_TRUE(ncs.back()->Started());
    ASSERT_TRUE(PumpUntil(
        [&] { return echo.server.Accepted() == static_cast<std::size_t>(kOwn + j + 1); }, 10s));
  }

  ASSERT_TRUE(PumpUntil(
      [&] {
        bool done = true;
        for (auto& nc : ncs) {
          nc->Poll();
          done = done && nc->Exited();
        }
        for (auto& cl : own) done = done && cl.got.size() >= kOwnBytes;
        return done;
      },
      30s));
  for (int i = 0; i < kOwn; ++i) {
    EXPECT_TRUE(own[static_cast<std::size_t>(i)].got == own[static_cast<std::size_t>(i)].sent)
        << "client " << i;
  }
  for (int j = 0; j < kNetcat; ++j) {
    EXPECT_EQ(ncs[static_cast<std::size_t>(j)]->ExitCode(), 0);
    EXPECT_TRUE(ncs[static_cast<std::size_t>(j)]->Output() == ncSent[static_cast<std::size_t>(j)])
        << "nc " << j;
  }
  EXPECT_EQ(echo.server.Accepted(), static_cast<std::size_t>(kOwn + kNetcat));
  EXPECT_EQ(echo.server.AcceptErrors(), 0);
  EXPECT_EQ(echo.server.Listener().State(), wsListening);
  // nc's sessions have ended by now; ours are still open.
  int open = 0;
  for (std::size_t k = 0; k < echo.server.Accepted(); ++k) {
    if (echo.server.Client(k).State() != wsConnected) continue;
    ++open;
    EXPECT_EQ(echo.server.Client(k).GetPeerAddr(), "127.0.0.1");
  }
  EXPECT_EQ(open, kOwn);

  for (auto& cl : own) cl.socket->Close();
  ASSERT_TRUE(PumpUntil([&] { return echo.Closed() == kOwn + kNetcat; }, 10s));
}

// A client dies in the middle of a large download: the server's session for it ends
// once, with the reset's code, and the listening component goes on serving others.
TEST(PeerServer, ClientKilledMidTransferLeavesTheServerServing) {
  const std::string bulk = PatternString(24, 0, 32 << 20);
  std::vector<std::unique_ptr<Session>> sessions;
  SocketServer server([&](TWSocket& c, std::size_t) {
    sessions.push_back(std::make_unique<Session>());
    Session* st = sessions.back().get();
    c.SetLingerOnOff(wsLingerOff);
    c.OnDataAvailable = [&bulk, st, cp = &c](TObject*, std::uint16_t) {
      st->in += cp->ReceiveStr();
      if (st->replied || st->in.find('\n') == std::string::npos) return;
      st->replied = true;
      cp->SendStr(st->in == "GET\n" ? bulk : std::string("PONG\n"));
    };
    c.OnSessionClosed = [st](TObject*, std::uint16_t e) {
      ++st->closedCount;
      st->closedError = e;
    };
  });
  ASSERT_TRUE(server.Start());
  const std::string port = std::to_string(server.Port());
  {
    // Nobody reads nc's output, so nc stops reading the socket once its pipe is full.
    ChildProcess nc({"nc", "127.0.0.1", port});
    ASSERT_TRUE(nc.Started()) << nc.Error();
    ASSERT_TRUE(nc.WriteStdin("GET\n"));
    ASSERT_TRUE(PumpUntil([&] { return !sessions.empty() && sessions[0]->replied; }, 10s));
    testsupport::PumpFor(200ms);
    EXPECT_EQ(sessions[0]->closedCount, 0);
    nc.Kill();
  }
  ASSERT_TRUE(PumpUntil([&] { return sessions[0]->closedCount > 0; }, 10s));
  testsupport::PumpFor(50ms);
  EXPECT_EQ(sessions[0]->closedCount, 1);
  EXPECT_TRUE(sessions[0]->closedError == plat::WSAECONNRESET ||
              sessions[0]->closedError == plat::WSAECONNABORTED)
      << "closed with " << sessions[0]->closedError;

  testsupport::TempFile ping("PING\n");
  ChildProcess::Options opt;
  opt.stdinFile = ping.Path();
  ChildProcess next({"nc", "-N", "127.0.0.1", port}, opt);
  ASSERT_TRUE(next.Started()) << next.Error();
  ASSERT_TRUE(PumpUntil(
      [&] {
        next.Poll();
        return next.Exited();
      },
      10s));
  EXPECT_EQ(next.Output(), "PONG\n");
  EXPECT_EQ(server.Accepted(), 2u);
  EXPECT_EQ(server.Listener().State(), wsListening);
}
