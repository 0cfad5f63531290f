// TLS sessions of the socket component against nginx and a python TLS peer, with
// certificates made for the test by the openssl command: verification failures named by
// their reason, a large body byte for byte, and the two ways a TLS stream ends (the
// close-notify, or a truncation that must not pass for a clean end).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Host/Application.h"
#include "WSocket/SslWSocket.h"
#include "support/Bytes.h"
#include "support/Pump.h"
#include "support/PythonPeer.h"
#include "support/Sanitized.h"
#include "support/SocketServer.h"
#include "support/TlsServers.h"

using namespace std::chrono_literals;
using testsupport::PumpUntil;

namespace {

using testsupport::kSanitized;

constexpr std::uint64_t kBigBytes = kSanitized ? (32ull << 20) : (100ull << 20);
constexpr std::uint64_t kSeed = 0x7125;

// zlib's CRC-32, as the python peer reports it.
std::uint32_t Crc32(const std::string& Data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const unsigned char c : Data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// What one session of a TLS client saw.
struct Outcome {
  int Connected = 0;
  std::uint16_t ConnectError = 0;
  int Closed = 0;
  std::uint16_t CloseError = 0;
  std::string Text;  // SslErrorText at the close
  std::string Version;
  std::string Received;
};

std::unique_ptr<TSslWSocket> NewTlsClient(std::uint16_t Port, const std::string& Host,
                                          const std::string& CAFile) {
  auto s = std::make_unique<TSslWSocket>(nullptr);
  s->SetSslEnable(true);
  s->SetAddr("127.0.0.1");
  s->SetPort(std::to_string(Port));
  s->SetSslHostName(Host);
  s->SetSslCAFile(CAFile);
  return s;
}

// Wires the events into Out; with Request, sends it once connected and keeps what comes.
void Record(TSslWSocket& S, Outcome& Out, const std::string& Request = "") {
  S.OnSessionConnected = [&S, &Out, Request](TObject*, std::uint16_t e) {
    ++Out.Connected;
    Out.ConnectError = e;
    Out.Version = S.SslVersion();
    if (e == 0 && !Request.empty()) S.SendStr(Request);
  };
  S.OnDataAvailable = [&S, &Out](TObject*, std::uint16_t) {
    char buf[8192];
    const int n = S.Receive(buf, sizeof buf);
    if (n > 0) Out.Received.append(buf, static_cast<std::size_t>(n));
  };
  S.OnSessionClosed = [&S, &Out](TObject*, std::uint16_t e) {
    ++Out.Closed;
    Out.CloseError = e;
    Out.Text = S.SslErrorText();
  };
}

class TlsNginxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Certs = new testsupport::TlsCerts;
    if (!Certs->Make()) {
      Problem = "making the certificates failed";
      return;
    }
    Server = new testsupport::TlsNginx(*Certs);
    std::string big(kBigBytes, '\0');
    testsupport::FillPattern(kSeed, 0, big.data(), big.size());
    Server->Dir().Write("www/big.bin", big);
    Server->Dir().Write("www/hello.txt", "hello over TLS\n");
    // Which name the client sent as SNI (empty when it sent none).
    Server->SetServerExtra(R"(    location = /sni { return 200 "sni=$ssl_server_name\n"; })");
    if (!Server->Start()) Problem = "nginx: " + Server->Error();
  }
  static void TearDownTestSuite() {
    delete Server;
    Server = nullptr;
    delete Certs;
    Certs = nullptr;
  }
  void SetUp() override {
    if (!Problem.empty()) GTEST_SKIP() << Problem;
  }

  // A GET of Path from the named server, checked against Host, trusting CAFile.
  static Outcome Get(const std::string& Name, const std::string& Host, const std::string& Path,
                     const std::string& CAFile,
                     const std::function<void(TSslWSocket&)>& Configure = nullptr) {
    Outcome out;
    auto s = NewTlsClient(Server->Port(Name), Host, CAFile);
    if (Configure) Configure(*s);
    Record(*s, out, "GET " + Path + " HTTP/1.0\r\nHost: " + Host + "\r\n\r\n");
    s->Connect();
    EXPECT_TRUE(PumpUntil([&] { return out.Closed > 0; }, 20s)) << Name << " never closed";
    return out;
  }

  static inline testsupport::TlsCerts* Certs = nullptr;
  static inline testsupport::TlsNginx* Server = nullptr;
  static inline std::string Problem;
};

TEST_F(TlsNginxTest, VerifiedPeersServeAndRefusedOnesAreNamed) {
  const std::string ca = Certs->Path("ca.pem");
  // By name and by address (the certificate carries both), TLS 1.3, a clean end.
  for (const std::string host : {"localhost", "127.0.0.1"}) {
    const Outcome ok = Get("good", host, "/hello.txt", ca);
    EXPECT_EQ(ok.Connected, 1);
    EXPECT_EQ(ok.ConnectError, 0) << ok.Text;
    EXPECT_EQ(ok.Version, "TLSv1.3");
    EXPECT_NE(ok.Received.find("200 OK"), std::string::npos);
    EXPECT_NE(ok.Received.find("\r\n\r\nhello over TLS\n"), std::string::npos);
    EXPECT_EQ(ok.CloseError, 0) << ok.Text;
    EXPECT_EQ(ok.Closed, 1);
  }

  struct Case {
    const char* Server;
    const char* Host;
    std::string CAFile;
    const char* Reason;
  };
  const Case cases[] = {
      {"expired", "localhost", ca, "certificate has expired"},
      {"other", "localhost", ca, "host name mismatch"},
      {"other", "127.0.0.1", ca, "IP address mismatch"},
      {"self", "localhost", ca, "self-signed certificate"},
      {"chain", "localhost", ca, "self-signed certificate in chain"},
      // The system's store knows nothing of the test authority.
      {"good", "localhost", "", "certificate issued by an unknown authority"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Server) + " as " + c.Host);
    const Outcome out = Get(c.Server, c.Host, "/hello.txt", c.CAFile);
    EXPECT_EQ(out.Connected, 1);
    EXPECT_EQ(out.ConnectError, sslCertificateRejected);
    EXPECT_EQ(out.Closed, 1);
    EXPECT_EQ(out.CloseError, sslCertificateRejected);
    EXPECT_EQ(out.Text,
              std::string("TLS certificate verification failed for ") + c.Host + ": " + c.Reason);
    EXPECT_EQ(out.Received, "");
  }

  // Given only Addr, the socket sends that name as SNI and holds the certificate to it.
  auto byAddr = [](const std::string& Name) {
    Outcome out;
    auto s = NewTlsClient(Server->Port(Name), "", Certs->Path("ca.pem"));
    s->SetAddr("localhost");
    Record(*s, out, "GET /sni HTTP/1.0\r\nHost: localhost\r\n\r\n");
    s->Connect();
    EXPECT_TRUE(PumpUntil([&] { return out.Closed > 0; }, 20s)) << Name << " never closed";
    return out;
  };
  const Outcome named = byAddr("good");
  EXPECT_EQ(named.ConnectError, 0) << named.Text;
  EXPECT_NE(named.Received.find("\r\n\r\nsni=localhost\n"), std::string::npos) << named.Received;
  const Outcome mismatch = byAddr("other");
  EXPECT_EQ(mismatch.ConnectError, sslCertificateRejected);
  EXPECT_EQ(mismatch.Text, "TLS certificate verification failed for localhost: host name mismatch");
  EXPECT_EQ(mismatch.Received, "");

  // Switched off, verification lets even the expired certificate for another name pass.
  const Outcome unsafe = Get("expired", "other.example", "/hello.txt", "",
                             [](TSslWSocket& s) { s.SetSslUnsafeSkipVerify(true); });
  EXPECT_EQ(unsafe.ConnectError, 0) << unsafe.Text;
  EXPECT_NE(unsafe.Received.find("hello over TLS"), std::string::npos);

  // A file of authorities that cannot be read is refused before any connection.
  auto s = NewTlsClient(Server->Port("good"), "localhost", Certs->Path("missing.pem"));
  EXPECT_THROW(s->Connect(), ESocketException);
  EXPECT_NE(s->SslErrorText().find("missing.pem"), std::string::npos);
  EXPECT_EQ(s->State(), wsClosed);
}

TEST_F(TlsNginxTest, LargeBodyArrivesByteForByte) {
  auto s = NewTlsClient(Server->Port("good"), "localhost", Certs->Path("ca.pem"));
  std::string head;
  bool inBody = false;
  std::uint64_t body = 0;
  long long mismatch = -1;
  int closed = 0;
  std::uint16_t closeError = 0;
  std::vector<char> buf(256 * 1024);
  s->OnSessionConnected = [&](TObject*, std::uint16_t e) {
    ASSERT_EQ(e, 0) << s->SslErrorText();
    s->SendStr("GET /big.bin HTTP/1.0\r\nHost: localhost\r\n\r\n");
  };
  s->OnDataAvailable = [&](TObject*, std::uint16_t) {
    const int n = s->Receive(buf.data(), static_cast<int>(buf.size()));
    if (n <= 0) return;
    const char* p = buf.data();
    std::size_t len = static_cast<std::size_t>(n);
    if (!inBody) {
      head.append(p, len);
      const std::size_t end = head.find("\r\n\r\n");
      if (end == std::string::npos) return;
      inBody = true;
      const std::string rest = head.substr(end + 4);
      head.resize(end);
      if (!rest.empty()) {
        const long long at = testsupport::FirstMismatch(kSeed, 0, rest.data(), rest.size());
        if (at >= 0 && mismatch < 0) mismatch = at;
        body += rest.size();
      }
      return;
    }
    if (mismatch < 0) {
      const long long at = testsupport::FirstMismatch(kSeed, body, p, len);
      if (at >= 0) mismatch = static_cast<long long>(body) + at;
    }
    body += len;
  };
  s->OnSessionClosed = [&](TObject*, std::uint16_t e) {
    ++closed;
    closeError = e;
  };
  const auto start = std::chrono::steady_clock::now();
  s->Connect();
  ASSERT_TRUE(PumpUntil([&] { return closed > 0; }, 120s)) << body << " bytes so far";
  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%llu bytes over TLS in %.2f s (%.0f MB/s)\n", static_cast<unsigned long long>(body),
              secs, body / secs / 1e6);
  EXPECT_NE(head.find("Content-Length: " + std::to_string(kBigBytes)), std::string::npos);
  EXPECT_EQ(body, kBigBytes);
  EXPECT_EQ(mismatch, -1);
  EXPECT_EQ(closeError, 0) << s->SslErrorText();
  EXPECT_EQ(closed, 1);
}

TEST_F(TlsNginxTest, TlsThroughAProxyTunnel) {
  testsupport::Tinyproxy proxy;
  if (!proxy.Start()) GTEST_SKIP() << "tinyproxy: " << proxy.Error();
  for (const std::string name : {"good", "expired"}) {
    SCOPED_TRACE(name);
    // A plain session to the proxy; TLS starts once the tunnel stands.
    auto s = std::make_unique<TSslWSocket>(nullptr);
    s->SetAddr("127.0.0.1");
    s->SetPort(std::to_string(proxy.Port()));
    s->SetSslHostName("localhost");
    s->SetSslCAFile(Certs->Path("ca.pem"));
    std::string head, body;
    bool tunnel = false;
    int handshakes = 0, closed = 0;
    std::uint16_t handshakeError = 99, closeError = 99;
    s->OnSessionConnected = [&](TObject*, std::uint16_t e) {
      ASSERT_EQ(e, 0);
      s->SendStr("CONNECT 127.0.0.1:" + std::to_string(Server->Port(name)) + " HTTP/1.0\r\n\r\n");
    };
    s->OnDataAvailable = [&](TObject*, std::uint16_t) {
      char buf[4096];
      const int n = s->Receive(buf, sizeof buf);
      if (n <= 0) return;
      if (tunnel) {
        body.append(buf, static_cast<std::size_t>(n));
        return;
      }
      head.append(buf, static_cast<std::size_t>(n));
      if (head.find("\r\n\r\n") == std::string::npos) return;
      tunnel = true;
      s->StartSsl();
      // Taken now, sent once the handshake is done.
      s->SendStr("GET /hello.txt HTTP/1.0\r\nHost: localhost\r\n\r\n");
    };
    s->OnSslHandshakeDone = [&](TObject*, std::uint16_t e) {
      ++handshakes;
      handshakeError = e;
    };
    s->OnSessionClosed = [&](TObject*, std::uint16_t e) {
      ++closed;
      closeError = e;
    };
    s->Connect();
    ASSERT_TRUE(PumpUntil([&] { return closed > 0; }, 20s)) << head;
    EXPECT_EQ(head.rfind("HTTP/1.0 200", 0), 0u) << head;
    EXPECT_EQ(handshakes, 1);
    EXPECT_EQ(closed, 1);
    if (name == "good") {
      EXPECT_EQ(handshakeError, 0) << s->SslErrorText();
      EXPECT_NE(body.find("\r\n\r\nhello over TLS\n"), std::string::npos) << body;
      EXPECT_EQ(closeError, 0);
    } else {
      EXPECT_EQ(handshakeError, sslCertificateRejected);
      EXPECT_EQ(closeError, sslCertificateRejected);
      EXPECT_EQ(s->SslErrorText(),
                "TLS certificate verification failed for localhost: certificate has expired");
      EXPECT_EQ(body, "");
    }
  }
}

// The python peer on the good certificate; says how it ended.
class TlsPeerTest : public TlsNginxTest {
 protected:
  static testsupport::PythonPeer Peer(std::vector<std::string> Args) {
    Args.insert(Args.begin(),
                {"--cert", Certs->Path("good.pem"), "--key", Certs->Path("good.key")});
    return testsupport::StartPythonPeer("tls_peer.py", Args);
  }
};

TEST_F(TlsPeerTest, OnlyACloseNotifyEndsCleanly) {
  for (const std::string end : {"notify", "truncate"}) {
    SCOPED_TRACE(end);
    auto peer = Peer({"--bytes", "300000", "--end", end});
    ASSERT_NE(peer.port, 0);
    Outcome out;
    auto s = NewTlsClient(peer.port, "localhost", Certs->Path("ca.pem"));
    Record(*s, out);
    s->Connect();
    ASSERT_TRUE(PumpUntil([&] { return out.Closed > 0; }, 20s));
    const std::string sent = peer.LineStartingWith("sent ");
    // Everything sent arrives in both cases; only the end differs.
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", Crc32(out.Received));
    EXPECT_EQ(sent, "sent 300000 " + std::string(crc));
    if (end == "notify") {
      EXPECT_EQ(out.CloseError, 0) << out.Text;
      EXPECT_EQ(out.Text, "");
      // Our close-notify answered the peer's.
      EXPECT_EQ(peer.NextLine(), "unwrapped");
    } else {
      EXPECT_EQ(out.CloseError, sslTruncated);
      EXPECT_EQ(out.Text,
                "TLS connection truncated: localhost closed the connection without a close-notify");
    }
    EXPECT_EQ(out.Closed, 1);
    EXPECT_EQ(s->State(), wsClosed);
  }

  // A record that fails to decrypt ends the session with an error; what came before it
  // has been delivered.
  {
    auto peer = Peer({"--bytes", "20000", "--end", "corrupt"});
    ASSERT_NE(peer.port, 0);
    Outcome out;
    auto s = NewTlsClient(peer.port, "localhost", Certs->Path("ca.pem"));
    Record(*s, out);
    s->Connect();
    ASSERT_TRUE(PumpUntil([&] { return out.Closed > 0; }, 20s));
    EXPECT_EQ(out.Received.size(), 20000u);
    EXPECT_EQ(out.CloseError, sslProtocolError);
    EXPECT_EQ(out.Text.rfind("TLS error from localhost: ", 0), 0u) << out.Text;
    EXPECT_EQ(out.Closed, 1);
  }

  // A handler that takes nothing: the peer's end still ends the session, and it is still
  // known for a truncation although more arrived than the component holds undecrypted.
  auto peer = Peer({"--bytes", "600000", "--end", "truncate"});
  ASSERT_NE(peer.port, 0);
  Outcome out;
  auto s = NewTlsClient(peer.port, "localhost", Certs->Path("ca.pem"));
  Record(*s, out);
  int calls = 0;
  s->OnDataAvailable = [&](TObject*, std::uint16_t) { ++calls; };
  s->Connect();
  ASSERT_TRUE(PumpUntil([&] { return out.Closed > 0; }, 20s)) << calls << " calls";
  EXPECT_EQ(peer.LineStartingWith("truncated"), "truncated");
  EXPECT_GT(calls, 0);
  EXPECT_EQ(out.CloseError, sslTruncated) << out.Text;

  // WaitForClose on the user-interface thread waits on the application's loop: its
  // message hook sees what comes meanwhile, up to the peer's close-notify.
  auto last = Peer({"--bytes", "20000", "--end", "notify"});
  ASSERT_NE(last.port, 0);
  out = Outcome{};
  s = NewTlsClient(last.port, "localhost", Certs->Path("ca.pem"));
  Record(*s, out);
  s->Connect();
  ASSERT_TRUE(PumpUntil([&] { return out.Connected > 0; }, 20s));
  int hooked = 0;
  Application->OnMessage = [&](plat::MSG&, bool&) { ++hooked; };
  s->WaitForClose();
  Application->OnMessage = nullptr;
  EXPECT_GT(hooked, 0);
  EXPECT_EQ(out.Received.size(), 20000u);
  EXPECT_EQ(out.Closed, 1);
  EXPECT_EQ(out.CloseError, 0) << out.Text;
}

TEST_F(TlsPeerTest, CloseSendsCloseNotifyAbortDoesNot) {
  for (const bool abort : {false, true}) {
    SCOPED_TRACE(abort ? "Abort" : "Close");
    auto peer = Peer({"--bytes", "1000", "--end", "wait"});
    ASSERT_NE(peer.port, 0);
    Outcome out;
    auto s = NewTlsClient(peer.port, "localhost", Certs->Path("ca.pem"));
    Record(*s, out);
    s->Connect();
    ASSERT_TRUE(PumpUntil([&] { return out.Received.size() == 1000; }, 20s));
    if (abort)
      s->Abort();
    else
      s->Close();
    EXPECT_EQ(out.Closed, 1);
    EXPECT_EQ(out.CloseError, 0);
    EXPECT_EQ(peer.LineStartingWith("client "), abort ? "client truncated" : "client close-notify");
  }
}

TEST_F(TlsPeerTest, LargeSendsArriveWholeAndCloseAfterThem) {
  // Sends of every size, some while the network is full; Close right after the last one:
  // the queued records and the close-notify still reach the peer, in order.
  const std::size_t total = kSanitized ? (8u << 20) : (24u << 20);
  const std::string data = testsupport::PatternString(kSeed, 0, total);
  auto peer = Peer({"--bytes", "0", "--end", "wait"});
  ASSERT_NE(peer.port, 0);
  auto s = NewTlsClient(peer.port, "localhost", Certs->Path("ca.pem"));
  const std::size_t sizes[] = {1, 1514, 70000, 16384, 300000, 5u << 20, 3};
  std::size_t sent = 0, next = 0;
  int closed = 0;
  std::uint16_t closeError = 99;
  auto sendSome = [&](int pieces) {
    for (int i = 0; i < pieces && sent < total; ++i) {
      const std::size_t n = std::min(sizes[next++ % std::size(sizes)], total - sent);
      ASSERT_EQ(s->Send(data.data() + sent, static_cast<std::int32_t>(n)),
                static_cast<std::int32_t>(n));
      sent += n;
    }
    if (sent == total) s->Close();
  };
  s->OnSessionConnected = [&](TObject*, std::uint16_t e) {
    ASSERT_EQ(e, 0) << s->SslErrorText();
    sendSome(4);
  };
  s->OnDataSent = [&](TObject*, std::uint16_t) { sendSome(3); };
  s->OnSessionClosed = [&](TObject*, std::uint16_t e) {
    ++closed;
    closeError = e;
  };
  s->Connect();
  ASSERT_TRUE(PumpUntil([&] { return closed > 0; }, 60s)) << sent << " bytes handed over";
  EXPECT_EQ(closeError, 0) << s->SslErrorText();
  // The background closer finishes the sending; it runs on this thread's messages.
  std::string received;
  std::atomic<bool> answered{false};
  std::thread reader([&] {
    received = peer.LineStartingWith("received", 60s);
    answered = true;
  });
  PumpUntil([&] { return answered.load(); }, 60s);
  reader.join();
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08x", Crc32(data));
  EXPECT_EQ(received, "received " + std::to_string(total) + " " + crc);
  EXPECT_EQ(peer.NextLine(), "client close-notify");
}

TEST_F(TlsPeerTest, HandshakeFailuresAreNamed) {
  // A server that offers nothing newer than TLS 1.1.
  auto peer = Peer({"--max-version", "1.1"});
  ASSERT_NE(peer.port, 0);
  Outcome out;
  auto s = NewTlsClient(peer.port, "localhost", Certs->Path("ca.pem"));
  Record(*s, out);
  s->Connect();
  ASSERT_TRUE(PumpUntil([&] { return out.Closed > 0; }, 20s));
  EXPECT_EQ(out.ConnectError, sslHandshakeFailed);
  EXPECT_EQ(out.CloseError, sslHandshakeFailed);
  EXPECT_EQ(out.Text.rfind("TLS handshake with localhost failed: ", 0), 0u) << out.Text;
  EXPECT_EQ(peer.LineStartingWith("handshake"), "handshake failed SSLError");

  // A peer that answers the handshake with random bytes and goes.
  auto noise = testsupport::StartPythonPeer("send_close.py", {"--bytes", "70000"});
  ASSERT_NE(noise.port, 0);
  out = Outcome{};
  s = NewTlsClient(noise.port, "localhost", Certs->Path("ca.pem"));
  Record(*s, out);
  s->Connect();
  ASSERT_TRUE(PumpUntil([&] { return out.Closed > 0; }, 20s));
  EXPECT_EQ(out.Connected, 1);
  EXPECT_EQ(out.ConnectError, sslHandshakeFailed);
  EXPECT_EQ(out.CloseError, sslHandshakeFailed);
  EXPECT_EQ(out.Text.rfind("TLS handshake with localhost failed: ", 0), 0u) << out.Text;
  EXPECT_EQ(out.Received, "");

  // A peer that reads the whole ClientHello record and closes without a word: the session
  // ends with the handshake failure, through the close, not left waiting for an answer.
  std::string hello;
  bool helloWhole = false;
  testsupport::SocketServer mute([&](TWSocket& c, std::size_t) {
    c.OnDataAvailable = [&](TObject*, std::uint16_t) {
      char buf[4096];
      const int n = c.Receive(buf, sizeof buf);
      if (n > 0) hello.append(buf, static_cast<std::size_t>(n));
      // A record: five bytes of header, the last two its length.
      const auto byte = [&](std::size_t i) { return std::size_t{std::uint8_t(hello[i])}; };
      helloWhole = hello.size() >= 5 && hello.size() >= 5 + (byte(3) << 8 | byte(4));
      if (helloWhole) c.Close();
    };
  });
  ASSERT_TRUE(mute.Start());
  out = Outcome{};
  s = NewTlsClient(mute.Port(), "localhost", Certs->Path("ca.pem"));
  Record(*s, out);
  s->Connect();
  ASSERT_TRUE(PumpUntil([&] { return out.Closed > 0; }, 10s)) << hello.size() << " bytes read";
  EXPECT_TRUE(helloWhole);
  EXPECT_EQ(hello[0], 0x16) << "not a handshake record";
  EXPECT_EQ(out.Connected, 1);
  EXPECT_EQ(out.ConnectError, sslHandshakeFailed);
  EXPECT_EQ(out.Closed, 1);
  EXPECT_EQ(out.CloseError, sslHandshakeFailed);
  EXPECT_EQ(out.Text, "TLS handshake with localhost failed: the peer closed the connection");
  EXPECT_EQ(s->State(), wsClosed);
}

TEST_F(TlsPeerTest, ReadLineTakesPlaintextLines) {
  auto peer = Peer({"--text", "one\\r\\ntwo\\nthree", "--end", "notify"});
  ASSERT_NE(peer.port, 0);
  auto s = NewTlsClient(peer.port, "localhost", Certs->Path("ca.pem"));
  s->SetMultiThreaded(true);  // ReadLine pumps this thread's queue, no wait control
  int closed = 0;
  std::uint16_t closeError = 99;
  s->OnSessionClosed = [&](TObject*, std::uint16_t e) {
    ++closed;
    closeError = e;
  };
  s->Connect();
  ASSERT_TRUE(s->Wait(10, wsConnected));
  EXPECT_EQ(
      peer.LineStartingWith("sent"), "sent 14 " + [] {
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x", Crc32(std::string("one\r\ntwo\nthree")));
        return std::string(crc);
      }());
  std::string line;
  s->ReadLine(10, line);
  EXPECT_EQ(line, "one");
  s->ReadLine(10, line);
  EXPECT_EQ(line, "two");
  EXPECT_EQ(s->ReadCount(), 9);
  // The last line has no line feed: the stream's end completes it, and ends the session.
  s->ReadLine(10, line);
  EXPECT_EQ(line, "three");
  ASSERT_TRUE(PumpUntil([&] { return closed > 0; }, 10s));
  EXPECT_EQ(closeError, 0) << s->SslErrorText();
}

TEST_F(TlsPeerTest, HandlersMayCloseOrDestroyTheSocket) {
  // Destroyed when connected, and on the first plaintext; the peer sees the end.
  for (const bool onData : {false, true}) {
    SCOPED_TRACE(onData ? "OnDataAvailable" : "OnSessionConnected");
    auto peer = Peer({"--bytes", "100000", "--end", "wait"});
    ASSERT_NE(peer.port, 0);
    auto* s = NewTlsClient(peer.port, "localhost", Certs->Path("ca.pem")).release();
    bool destroyed = false;
    auto destroy = [&] {
      destroyed = true;
      delete s;
    };
    if (onData)
      s->OnDataAvailable = [&](TObject*, std::uint16_t) { destroy(); };
    else
      s->OnSessionConnected = [&](TObject*, std::uint16_t) { destroy(); };
    s->Connect();
    ASSERT_TRUE(PumpUntil([&] { return destroyed; }, 20s));
    // A destroyed socket closes with a close-notify, as Close does.
    EXPECT_EQ(peer.LineStartingWith("client "), "client close-notify");
    testsupport::PumpFor(50ms);
  }

  // Closed inside OnDataAvailable, then used again: the second session still tells its
  // truncation, and nothing of the first reaches it.
  auto first = Peer({"--bytes", "100000", "--end", "wait"});
  auto second = Peer({"--bytes", "5000", "--end", "truncate"});
  ASSERT_NE(first.port, 0);
  ASSERT_NE(second.port, 0);
  auto s = NewTlsClient(first.port, "localhost", Certs->Path("ca.pem"));
  Outcome out;
  Record(*s, out);
  s->OnDataAvailable = [&](TObject*, std::uint16_t) { s->Close(); };
  s->Connect();
  ASSERT_TRUE(PumpUntil([&] { return out.Closed > 0; }, 20s));
  EXPECT_EQ(out.CloseError, 0);
  EXPECT_EQ(first.LineStartingWith("client "), "client close-notify");
  out = Outcome{};
  Record(*s, out);
  s->SetAddr("127.0.0.1");  // a closed socket starts from its defaults
  s->SetPort(std::to_string(second.port));
  s->Connect();
  ASSERT_TRUE(PumpUntil([&] { return out.Closed > 0; }, 20s));
  EXPECT_EQ(out.Received.size(), 5000u);
  EXPECT_EQ(out.CloseError, sslTruncated) << out.Text;
  EXPECT_EQ(out.Closed, 1);
}

TEST_F(TlsNginxTest, WorkerThreadSession) {
  std::string received;
  std::uint16_t closeError = 99;
  const std::uint16_t port = Server->Port("good");
  const std::string ca = Certs->Path("ca.pem");
  std::thread worker([&] {
    auto s = NewTlsClient(port, "localhost", ca);
    s->SetMultiThreaded(true);
    Outcome out;
    Record(*s, out, "GET /hello.txt HTTP/1.0\r\nHost: localhost\r\n\r\n");
    s->Connect();
    PumpUntil([&] { return out.Closed > 0; }, 20s);
    received = out.Received;
    closeError = out.CloseError;
  });
  worker.join();
  EXPECT_NE(received.find("hello over TLS"), std::string::npos);
  EXPECT_EQ(closeError, 0);
}

}  // namespace
