// THttpCli against a server of our own that gives the replies nginx never gives, and the
// component's own ends: abort, time-out, destruction inside its handlers, a worker thread.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "HttpCliTestSupport.h"
#include "support/FreePort.h"
#include "support/PythonPeer.h"

using httptest::TEventLog;
using httptest::TSinkStream;

namespace {

class HttpCliFaults : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Peer = new testsupport::PythonPeer(testsupport::StartPythonPeer("http_odd.py", {}, 300));
  }
  static void TearDownTestSuite() {
    delete Peer;
    Peer = nullptr;
  }
  void SetUp() override {
    if (Peer->port == 0) GTEST_SKIP() << "the peer http_odd.py did not start";
  }
  static std::string Url(const std::string& Path, const std::string& Host = "127.0.0.1") {
    return "http://" + Host + ":" + std::to_string(Peer->port) + Path;
  }

  static inline testsupport::PythonPeer* Peer = nullptr;
};

struct Outcome {
  int Status;
  std::string Reason;
  std::int64_t Rcvd;
};

TEST_F(HttpCliFaults, ARequestCutShortAtEveryStageEndsAsAFailure) {
  struct Case {
    const char* Path;
    Outcome Expected;
  };
  const Case cases[] = {
      {"/empty", {404, "empty reply from server", 0}},
      {"/cut", {404, "connection closed before the end of the response header", 0}},
      // A zero byte hides the rest of the header until the connection closes.
      {"/nul", {404, "connection closed before the end of the response header", 0}},
      {"/short", {404, "connection closed after 400 of 1000 body bytes", 400}},
      // These three hold the connection open: the component ends the request itself.
      {"/longline", {404, "HTTP line too long", 0}},
      {"/badstatus", {404, "malformed status line", 0}},
      {"/badlength", {404, "malformed content-length", 0}},
      // 19 digits may exceed any 64-bit length.
      {"/hugelength", {404, "malformed content-length", 0}},
      // A reset inside a body without a length is no end of the document.
      {"/reset-body", {404, "connection reset after 100000 body bytes", 100000}},
      // Chunked bodies: cut inside a chunk, a size beyond any body, a coding not decoded.
      {"/chunked-cut", {404, "connection closed after 8 body bytes, before the last chunk", 8}},
      {"/chunked-huge", {404, "chunk size too large after 0 body bytes", 0}},
      {"/gzip", {404, "unsupported transfer coding: gzip", 0}},
      // An error status: its body is not the document, however the reply was split.
      {"/error-body", {404, "Not Found", 0}},
  };
  THttpCli cli(nullptr);
  TEventLog log(cli);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Path);
    TSinkStream body;
    cli.SetRcvdStream(&body);
    cli.SetURL(Url(c.Path));
    log.Clear();
    cli.GetASync();
    ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(10)));
    EXPECT_EQ(cli.StatusCode(), c.Expected.Status);
    EXPECT_EQ(cli.ReasonPhrase(), c.Expected.Reason);
    EXPECT_EQ(cli.RcvdCount(), c.Expected.Rcvd);
    // What did arrive is still delivered.
    EXPECT_EQ(body.Count(), c.Expected.Rcvd);
    EXPECT_EQ(log.Only("RequestDone"), std::vector<std::string>{"RequestDone 0"});
    // The body events frame exactly the bytes delivered.
    const std::vector<std::string> docEvents =
        c.Expected.Rcvd > 0 ? std::vector<std::string>{"DocBegin", "DocData", "DocEnd"}
                            : std::vector<std::string>{};
    EXPECT_EQ(log.Only("Doc"), docEvents);
    EXPECT_FALSE(cli.Connected());
  }
  // The blocking call sees the same failure.
  cli.SetRcvdStream(nullptr);
  cli.SetURL(Url("/short"));
  try {
    cli.Get();
    ADD_FAILURE() << "a truncated body was taken as whole";
  } catch (const EHttpException& e) {
    EXPECT_EQ(e.ErrorCode(), 404);
    EXPECT_STREQ(e.what(), "connection closed after 400 of 1000 body bytes");
  }
}

TEST_F(HttpCliFaults, OddButWholeRepliesSucceed) {
  THttpCli cli(nullptr);
  TEventLog log(cli);
  TSinkStream body;
  cli.SetRcvdStream(&body);

  // No header at all: the lines of the first read come without their line ends.
  cli.SetURL(Url("/noheader"));
  cli.Get();
  EXPECT_EQ(cli.StatusCode(), 0);
  EXPECT_EQ(cli.ContentType(), "text/html");
  EXPECT_EQ(cli.ContentLength(), -1);
  EXPECT_EQ(body.Data(), "<HTML><body>first</body></HTML>");
  EXPECT_EQ(cli.HeaderLines()->Count(), 0);

  // Lines ended by a lone line feed.
  body = TSinkStream();
  cli.SetURL(Url("/lf"));
  cli.Get();
  EXPECT_EQ(cli.StatusCode(), 200);
  EXPECT_EQ(cli.ContentLength(), 5);
  EXPECT_EQ(cli.ContentType(), "text/plain");
  EXPECT_EQ(body.Data(), "hello");

  // A status line without a reason phrase.
  body = TSinkStream();
  cli.SetURL(Url("/noreason"));
  cli.Get();
  EXPECT_EQ(cli.StatusCode(), 200);
  EXPECT_EQ(cli.ReasonPhrase(), "");
  EXPECT_EQ(body.Data(), "ok");

  // The entity ends at its announced length, also when the server sends more and keeps
  // the connection open.
  body = TSinkStream();
  cli.SetURL(Url("/longer"));
  cli.Get();
  EXPECT_EQ(cli.StatusCode(), 200);
  EXPECT_EQ(cli.RcvdCount(), 1000);
  EXPECT_EQ(body.Data(), std::string(1000, 'L'));

  // A chunked body in small pieces is decoded, its trailer dropped, and it ends at its
  // last chunk with the connection still open; the length beside the chunks is ignored.
  body = TSinkStream();
  log.Clear();
  cli.SetURL(Url("/chunked"));
  cli.GetASync();
  ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(10)));
  EXPECT_EQ(cli.StatusCode(), 200) << cli.ReasonPhrase();
  EXPECT_EQ(body.Data(), "abcdefghijklmnopqrstuvwxyz12345" + std::string(100000, 'c'));
  EXPECT_EQ(cli.RcvdCount(), 100031);
  EXPECT_EQ(cli.ContentLength(), -1);
  // The header came in pieces of 7 bytes: each line whole, none twice, none shifted.
  EXPECT_EQ(cli.HeaderLines()->Text(),
            "HTTP/1.1 200 OK\r\nContent-Length: 7\r\nTransfer-Encoding: chunked\r\n");
  const std::vector<std::string> tail(log.Events().end() - 6, log.Events().end());
  EXPECT_EQ(tail, (std::vector<std::string>{"HeaderEnd", "DocBegin", "DocData", "DocEnd",
                                            "StateChange httpReady", "RequestDone 0"}));
}

TEST_F(HttpCliFaults, TheRequestHeaderHoldsTheseLinesInThisOrder) {
  THttpCli cli(nullptr);
  TSinkStream body;
  cli.SetRcvdStream(&body);
  cli.SetURL(Url("/request?x=1#frag"));
  cli.Get();
  // The fragment stays in the path; the host goes without its port; nothing else.
  EXPECT_EQ(body.Data(), "GET /request?x=1#frag HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(cli.DocName(), "request");
  // Blanks and bytes beyond ASCII of URL go escaped; the request line stays three words.
  body = TSinkStream();
  cli.SetURL(Url("/request?a b\xc3\xa9"));
  cli.Get();
  EXPECT_EQ(body.Data(), "GET /request?a%20b%C3%A9 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");

  cli.SetSender("me@example.org");
  cli.SetReference("http://ref/");
  cli.SetAgent("Agent/2");
  cli.SetNoCache(true);
  cli.SetModifiedSince(EncodeDate(1994, 11, 6) + EncodeTime(8, 49, 37, 0));
  cli.SetUsername("user");
  cli.SetProxyUsername("nobody");  // no proxy: not sent
  cli.SetCookie("a=b");
  body = TSinkStream();
  cli.SetURL(Url("/request"));
  cli.Get();
  EXPECT_EQ(body.Data(),
            "GET /request HTTP/1.0\r\n"
            "From: me@example.org\r\n"
            "Referer: http://ref/\r\n"
            "User-Agent: Agent/2\r\n"
            "Host: 127.0.0.1\r\n"
            "Pragma: no-cache\r\n"
            "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
            "Authorization: Basic dXNlcjo=\r\n"
            "Cookie: a=b\r\n"
            "\r\n");
}

TEST_F(HttpCliFaults, RelocationsAreBoundedAndCredentialsStayWithTheirHost) {
  THttpCli cli(nullptr);
  TEventLog log(cli);
  TSinkStream body;
  cli.SetRcvdStream(&body);

  // A server that relocates to itself: twenty relocations, then a failure.
  cli.SetURL(Url("/loop"));
  cli.GetASync();
  ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(20)));
  EXPECT_EQ(cli.StatusCode(), 404);
  EXPECT_EQ(cli.ReasonPhrase(), "too many relocations");
  EXPECT_EQ(log.Only("LocationChange").size(), static_cast<std::size_t>(cli.MaxRelocations()));
  EXPECT_EQ(log.Only("HeaderData HTTP/").size(),
            static_cast<std::size_t>(cli.MaxRelocations()) + 1);

  // Credentials of URL go to its host, also after a relocation there...
  const std::string port = std::to_string(Peer->port);
  body = TSinkStream();
  cli.SetURL("http://user:pw@127.0.0.1:" + port + "/relocate?to=http://127.0.0.1:{port}/show-auth");
  cli.Get();
  EXPECT_EQ(cli.StatusCode(), 200);
  EXPECT_EQ(body.Data(), "Basic dXNlcjpwdw==");
  // ...but not to another host a location names.
  body = TSinkStream();
  cli.SetURL("http://user:pw@127.0.0.1:" + port + "/relocate?to=http://localhost:{port}/show-auth");
  cli.Get();
  EXPECT_EQ(cli.StatusCode(), 200);
  EXPECT_EQ(body.Data(), "none");
  // A server named without a port is on port 80, not on the port of the first one.
  body = TSinkStream();
  cli.SetURL(Url("/relocate?to=http://localhost/show-auth"));
  cli.GetASync();
  ASSERT_TRUE(log.WaitDone(log.Done() + 1));
  EXPECT_NE(body.Data(), "none") << "the relocation went to the first server's port";
  // The properties stay set for the next request to the first host.
  EXPECT_EQ(cli.Username(), "user");
  body = TSinkStream();
  cli.SetURL(Url("/show-auth"));
  cli.Get();
  EXPECT_EQ(body.Data(), "Basic dXNlcjpwdw==");

  // The bound is a property: three relocations, then the failure; none at all with 0.
  cli.SetMaxRelocations(3);
  log.Clear();
  cli.SetURL(Url("/loop"));
  cli.GetASync();
  ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(20)));
  EXPECT_EQ(cli.ReasonPhrase(), "too many relocations");
  EXPECT_EQ(log.Only("LocationChange").size(), 3u);
  cli.SetMaxRelocations(0);
  log.Clear();
  cli.GetASync();
  ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(20)));
  EXPECT_EQ(cli.ReasonPhrase(), "too many relocations");
  EXPECT_TRUE(log.Only("LocationChange").empty());
  EXPECT_THROW(cli.SetMaxRelocations(-1), EHttpException);
  cli.SetMaxRelocations(20);

  // The size and type of the relocating response do not stay with the final one.
  body = TSinkStream();
  cli.SetURL(Url("/relocate-typed?to=/bare"));
  cli.Get();
  EXPECT_EQ(cli.StatusCode(), 200) << cli.ReasonPhrase();
  EXPECT_EQ(cli.ContentLength(), -1);
  EXPECT_EQ(cli.ContentType(), "");
  EXPECT_EQ(body.Data(), "abc");

  // A location whose scheme the component does not speak is not fetched as http.
  cli.SetURL(Url("/relocate?to=ftp://127.0.0.1:{port}/show-auth"));
  log.Clear();
  cli.GetASync();
  ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(20)));
  EXPECT_EQ(cli.StatusCode(), 404);
  EXPECT_EQ(cli.ReasonPhrase(), "can't follow the relocation: unsupported protocol: ftp");
  EXPECT_EQ(log.Only("SessionConnected").size(), 1u);
}

// A stream that reads and tells its size but cannot go back, as a pipe.
class TOneWayStream : public TMemoryStream {
 public:
  std::int64_t Seek(std::int64_t Offset, int Origin) override {
    if (Origin == soFromEnd || Offset != 0 || Origin != soFromCurrent)
      return TMemoryStream::Seek(Offset, Origin);
    throw EStreamError("Cannot seek in a pipe");
  }
};

TEST_F(HttpCliFaults, ARelocatedPostSendsItsBodyAgain) {
  THttpCli cli(nullptr);
  TEventLog log(cli);
  TSinkStream body;
  cli.SetRcvdStream(&body);
  TMemoryStream post;
  post.WriteBuffer("skip:name=value", 15);
  // The body starts where the stream stands, and the length announced counts from there.
  post.SetPosition(5);
  cli.SetSendStream(&post);
  cli.SetURL(Url("/post-relocate?to=/post-echo"));
  cli.PostASync();
  ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(20)));
  EXPECT_EQ(cli.StatusCode(), 200) << cli.ReasonPhrase();
  EXPECT_EQ(body.Data(), "name=value");
  EXPECT_EQ(cli.SentCount(), 10);
  EXPECT_EQ(log.Only("Command Content-Length"),
            (std::vector<std::string>{"Command Content-Length: 10", "Command Content-Length: 10"}));
  // Each request's body: begun, sent and ended again after the relocation.
  const std::vector<std::string> send = {"SendBegin", "SendData", "SendEnd"};
  std::vector<std::string> both = send;
  both.insert(both.end(), send.begin(), send.end());
  EXPECT_EQ(log.Only("Send"), both);

  // A stream that cannot go back: the relocation fails with the reason, nothing is
  // announced that would not come.
  TOneWayStream oneWay;
  oneWay.WriteBuffer("abc", 3);
  oneWay.TMemoryStream::Seek(0, soFromBeginning);
  cli.SetSendStream(&oneWay);
  body = TSinkStream();
  log.Clear();
  cli.PostASync();
  ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(20)));
  EXPECT_EQ(cli.StatusCode(), 404);
  EXPECT_EQ(cli.ReasonPhrase(),
            "can't follow the relocation: the data to post cannot be sent again (Cannot seek "
            "in a pipe)");
  EXPECT_EQ(log.Only("SessionConnected").size(), 1u);
  EXPECT_TRUE(log.Only("LocationChange").empty());
  EXPECT_EQ(body.Count(), 0);
}

TEST_F(HttpCliFaults, ALocationWritesNothingIntoTheNextRequest) {
  THttpCli cli(nullptr);
  TEventLog log(cli);
  TSinkStream body;
  cli.SetRcvdStream(&body);
  // The peer %-decodes the location it sends (and sends "\xc3\xa9" as the byte 0xe9). A
  // followed one: the request line that reached the server, which echoes the request. A
  // refused one: the reason, and no second request.
  const struct {
    const char* To;
    const char* Sent;
    const char* Refusal;
  } cases[] = {
      {"/request%3Fx%20HTTP/1.1", "GET /request?x%20HTTP/1.1 HTTP/1.0", nullptr},
      {"/request%3Fcaf%C3%A9", "GET /request?caf%E9 HTTP/1.0", nullptr},
      {"http://127.0.0.1:{port}/request%3Fa%20b", "GET /request?a%20b HTTP/1.0", nullptr},
      // A scheme without "//" is a path on the same server: "/request", not "127.0.0.1request".
      {"http:request", "GET http://127.0.0.1/request HTTP/1.0", nullptr},
      {"/request%0DX-Injected:%201", nullptr, "control characters in the address"},
      {"/request%3Fa%20b%20HTTP/1.1%0DX:%201", nullptr, "control characters in the address"},
      {"http://evil%0DX-Injected:%201/x", nullptr, "control characters in the address"},
      {"/request%09x", nullptr, "control characters in the address"},
      {"/request%7F", nullptr, "control characters in the address"},
      {"http://ev%20il:{port}/request", nullptr, "not a host name: ev il"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.To);
    body = TSinkStream();
    log.Clear();
    cli.SetURL(Url(std::string("/relocate?to=") + c.To));
    cli.GetASync();
    ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(10)));
    if (c.Refusal == nullptr) {
      EXPECT_EQ(cli.StatusCode(), 200) << cli.ReasonPhrase();
      EXPECT_EQ(body.Data(), std::string(c.Sent) + "\r\nHost: 127.0.0.1\r\n\r\n");
    } else {
      EXPECT_EQ(cli.StatusCode(), 404);
      EXPECT_EQ(cli.ReasonPhrase(), std::string("can't follow the relocation: ") + c.Refusal);
      EXPECT_EQ(log.Only("SessionConnected").size(), 1u);
      EXPECT_EQ(log.Only("Command GET").size(), 1u);
      EXPECT_EQ(body.Count(), 0);
    }
  }
}

TEST_F(HttpCliFaults, TheTimeoutEndsAStalledRequestAsAnAbortDoes) {
  THttpCli cli(nullptr);
  TEventLog log(cli);
  cli.SetURL(Url("/stall"));
  cli.SetTimeout(1);
  const auto start = std::chrono::steady_clock::now();
  cli.GetASync();
  ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(10)));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(950));
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_EQ(cli.StatusCode(), 404);
  EXPECT_EQ(cli.ReasonPhrase(), "Connection timed out");
  EXPECT_EQ(log.Only("RequestDone"), std::vector<std::string>{"RequestDone 10060"});
  EXPECT_EQ(log.Only("StateChange httpAborting").size(), 1u);

  // In the body too, and from the blocking call.
  TSinkStream body;
  cli.SetRcvdStream(&body);
  cli.SetURL(Url("/stall-body"));
  try {
    cli.Get();
    ADD_FAILURE() << "a stalled body returned";
  } catch (const EHttpException& e) {
    EXPECT_EQ(e.ErrorCode(), 404);
    EXPECT_STREQ(e.what(), "Connection timed out");
  }
  EXPECT_EQ(body.Count(), 10);
}

TEST_F(HttpCliFaults, ADripIsEndedByTheLowSpeedRuleOrTheOverallBound) {
  THttpCli cli(nullptr);
  TEventLog log(cli);
  std::unique_ptr<TSinkStream> body;
  auto run = [&](const std::string& Path) {
    log.Clear();
    body = std::make_unique<TSinkStream>();
    cli.SetRcvdStream(body.get());
    cli.SetURL(Url(Path));
    cli.GetASync();
    ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(10)));
  };
  // A byte every 0.2 s keeps the inactivity time-out at bay for ever.
  cli.SetTimeout(1);
  cli.SetLowSpeedTime(1);
  const struct {
    std::int32_t LowSpeedLimit, MaxTime;
    const char* Reason;
  } drips[] = {{100, 0, "slower than 100 bytes/s for 1 s"}, {0, 1, "took longer than 1 s"}};
  for (const auto& d : drips) {
    SCOPED_TRACE(d.Reason);
    cli.SetLowSpeedLimit(d.LowSpeedLimit);
    cli.SetMaxTime(d.MaxTime);
    run("/drip");
    EXPECT_EQ(cli.StatusCode(), 404);
    EXPECT_EQ(cli.ReasonPhrase(), d.Reason);
    EXPECT_EQ(log.Only("RequestDone"), std::vector<std::string>{"RequestDone 10060"});
  }

  // A body that flows is untouched by either rule, and the bounds count per request.
  cli.SetLowSpeedLimit(100);
  cli.SetMaxTime(5);
  run("/nolength");
  EXPECT_EQ(cli.StatusCode(), 200);
  EXPECT_EQ(body->Count(), 300000);
  run("/nolength");
  EXPECT_EQ(cli.StatusCode(), 200);

  EXPECT_THROW(cli.SetLowSpeedLimit(-1), EHttpException);
  EXPECT_THROW(cli.SetMaxTime(-1), EHttpException);
  EXPECT_EQ(cli.LowSpeedLimit(), 100);
  EXPECT_EQ(cli.MaxTime(), 5);
}

TEST_F(HttpCliFaults, AbortEndsTheRequestAtEveryStage) {
  THttpCli cli(nullptr);
  TEventLog log(cli);
  auto expectAborted = [&] {
    ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(10)));
    EXPECT_EQ(cli.StatusCode(), 404);
    EXPECT_EQ(cli.ReasonPhrase(), "Connection aborted on request");
    EXPECT_EQ(log.Only("RequestDone"), std::vector<std::string>{"RequestDone 3"});
    EXPECT_EQ(cli.State(), httpReady);
  };

  {
    SCOPED_TRACE("look-up");
    log.Clear();
    cli.SetURL(Url("/stall", "localhost"));
    cli.GetASync();
    ASSERT_EQ(cli.State(), httpDnsLookup);
    cli.Abort();
    expectAborted();
    EXPECT_TRUE(log.Only("SessionConnected").empty());
  }
  {
    SCOPED_TRACE("header");
    log.Clear();
    cli.SetURL(Url("/stall"));
    cli.GetASync();
    ASSERT_TRUE(testsupport::PumpUntil([&] { return cli.State() == httpWaitingHeader; },
                                       std::chrono::seconds(10)));
    cli.Abort();
    expectAborted();
    EXPECT_TRUE(log.Only("Doc").empty());
  }
  {
    SCOPED_TRACE("body, from inside OnDocData");
    log.Clear();
    TSinkStream body;
    cli.SetRcvdStream(&body);
    cli.SetURL(Url("/stall-body"));
    auto keep = cli.OnDocData;
    cli.OnDocData = [&](TObject* S, const void* B, std::int32_t L) {
      keep(S, B, L);
      cli.Abort();
    };
    cli.GetASync();
    expectAborted();
    cli.OnDocData = keep;
    EXPECT_EQ(log.Only("DocEnd").size(), 1u);
    // The chunk in hand still reaches the stream.
    EXPECT_EQ(body.Count(), 10);
  }
  {
    SCOPED_TRACE("between a relocation's close and the next connection");
    log.Clear();
    cli.SetURL(Url("/relocate?to=/lf"));
    auto keep = cli.OnLocationChange;
    cli.OnLocationChange = [&](TObject* S) {
      keep(S);
      cli.Abort();
    };
    cli.GetASync();
    expectAborted();
    cli.OnLocationChange = keep;
    EXPECT_EQ(log.Only("SessionConnected").size(), 1u);
    testsupport::PumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(cli.State(), httpReady);
  }
  {
    // The document is whole when OnDocEnd runs: an Abort there changes nothing of it.
    SCOPED_TRACE("inside OnDocEnd");
    log.Clear();
    cli.SetRcvdStream(nullptr);
    cli.SetURL(Url("/lf"));
    auto keep = cli.OnDocEnd;
    cli.OnDocEnd = [&](TObject* S) {
      keep(S);
      cli.Abort();
    };
    cli.GetASync();
    ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(10)));
    cli.OnDocEnd = keep;
    EXPECT_EQ(cli.StatusCode(), 200);
    EXPECT_EQ(cli.ReasonPhrase(), "OK");
    EXPECT_EQ(log.Only("RequestDone"), std::vector<std::string>{"RequestDone 0"});
    EXPECT_EQ(cli.State(), httpReady);
  }
  {
    SCOPED_TRACE("ready");
    log.Clear();
    cli.Abort();
    testsupport::PumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(log.Done(), 0);
    EXPECT_EQ(cli.State(), httpReady);
  }
}

TEST_F(HttpCliFaults, OnRequestDoneNeverRunsInsideTheCallThatStartedTheRequest) {
  // Failures found at once (a refused connection, a name that never resolves) and a
  // request started from inside OnRequestDone.
  THttpCli cli(nullptr);
  bool inCall = false;
  std::vector<std::string> seen;
  int done = 0;
  cli.OnRequestDone = [&](TObject*, THttpRequest, std::uint16_t) {
    EXPECT_FALSE(inCall);
    EXPECT_EQ(cli.State(), httpReady);
    seen.push_back(std::to_string(cli.StatusCode()) + " " + cli.ReasonPhrase());
    if (++done == 3) {
      cli.SetURL(Url("/lf"));
      inCall = true;
      cli.GetASync();
      inCall = false;
    }
  };
  testsupport::ReservedPort closed;
  const std::string urls[] = {"http://127.0.0.1:" + std::to_string(closed.Port()) + "/",
                              "http://no.such.host.invalid/", Url("/empty")};
  for (int i = 0; i < 3; ++i) {
    cli.SetURL(urls[i]);
    inCall = true;
    cli.GetASync();
    inCall = false;
    ASSERT_TRUE(testsupport::PumpUntil([&] { return done > i; }, std::chrono::seconds(20)));
  }
  ASSERT_TRUE(testsupport::PumpUntil([&] { return done == 4; }, std::chrono::seconds(10)));
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], "404 Connection refused (Error #10061)");
  EXPECT_EQ(seen[1], "404 can't resolve hostname to IP address");
  EXPECT_EQ(seen[2], "404 empty reply from server");
  EXPECT_EQ(seen[3], "200 OK");
}

TEST_F(HttpCliFaults, AProxyThatAnswersConnectAmissOpensNoTunnel) {
  // The peer as the proxy: the name asked for picks its reply.
  const std::pair<const char*, const char*> cases[] = {
      {"tunnel-extra", "the proxy sent data after its reply to CONNECT"},
      {"tunnel-bad", "malformed reply from the proxy to CONNECT"},
      {"tunnel-close",
       "connection closed by the proxy before the tunnel to tunnel-close:443 stood"},
      {"tunnel-302", "proxy refused the tunnel to tunnel-302:443: 302 Found"},
  };
  THttpCli cli(nullptr);
  TEventLog log(cli);
  TSinkStream body;
  cli.SetRcvdStream(&body);
  cli.SetProxy("127.0.0.1:" + std::to_string(Peer->port));
  for (const auto& [name, reason] : cases) {
    SCOPED_TRACE(name);
    log.Clear();
    cli.SetURL(std::string("https://") + name + "/x");
    cli.GetASync();
    ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(20)));
    EXPECT_EQ(cli.StatusCode(), 404);
    EXPECT_EQ(cli.ReasonPhrase(), reason);
    EXPECT_TRUE(log.Only("SessionConnected").empty());
    EXPECT_TRUE(log.Only("Command GET").empty());
    EXPECT_EQ(body.Count(), 0);
  }
}

TEST_F(HttpCliFaults, AUrlOfAnotherSchemeIsRefusedBeforeAnyConnection) {
  THttpCli cli(nullptr);
  TEventLog log(cli);
  const std::string at = "127.0.0.1:" + std::to_string(Peer->port);
  struct Case {
    std::string Url, Proxy, Reason;
  };
  const Case cases[] = {
      {"ftp://" + at + "/request", "", "unsupported protocol: ftp"},
      {"httpx://" + at + "/request", "", "unsupported protocol: httpx"},
      {"file:///etc/passwd", "", "unsupported protocol: file"},
      // Through a proxy, which would fetch it, as well.
      {"ftp://" + at + "/request", at, "unsupported protocol: ftp"},
      {"file:///etc/passwd", at, "unsupported protocol: file"},
      {"http://" + at + "/request", "socks5://" + at, "unsupported proxy protocol: socks5"},
      // What would end or split the request's lines, and a host that is no host name.
      {"http://" + at + "/request\r\nX-Injected: 1", "", "control characters in the address"},
      {"http://" + at + "/request\x7f", at, "control characters in the address"},
      {"http://ev il:" + std::to_string(Peer->port) + "/request", "", "not a host name: ev il"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Url + " via " + c.Proxy);
    log.Clear();
    cli.SetProxy(c.Proxy);
    cli.SetURL(c.Url);
    cli.GetASync();
    ASSERT_TRUE(log.WaitDone(1, std::chrono::seconds(10)));
    EXPECT_EQ(cli.StatusCode(), 404);
    EXPECT_EQ(cli.ReasonPhrase(), c.Reason);
    EXPECT_EQ(log.Events(), (std::vector<std::string>{"StateChange httpNotConnected",
                                                      "StateChange httpReady", "RequestDone 0"}));
  }
  // The blocking call reports it as any failed request, not as another exception.
  cli.SetProxy("");
  cli.SetURL("ftp://" + at + "/");
  try {
    cli.Get();
    ADD_FAILURE() << "an ftp URL was fetched";
  } catch (const EHttpException& e) {
    EXPECT_EQ(e.ErrorCode(), 404);
    EXPECT_STREQ(e.what(), "unsupported protocol: ftp");
  }
  // The scheme's case does not matter, and no scheme means http.
  TSinkStream body;
  cli.SetRcvdStream(&body);
  for (const std::string& url : {"HTTP://" + at + "/lf", at + "/lf"}) {
    body = TSinkStream();
    cli.SetURL(url);
    cli.Get();
    EXPECT_EQ(body.Data(), "hello") << url;
  }
}

TEST_F(HttpCliFaults, TheComponentMayBeDestroyedInsideItsHandlers) {
  // Inside OnDocData, with more of the body still coming, and inside OnRequestDone.
  for (const char* where : {"DocData", "RequestDone", "HeaderData", "StateChange"}) {
    SCOPED_TRACE(where);
    auto* cli = new THttpCli(nullptr);
    TSinkStream body;
    cli->SetRcvdStream(&body);
    cli->SetURL(Url("/request"));
    bool gone = false;
    auto destroy = [&] {
      if (gone) return;
      gone = true;
      delete cli;
    };
    const std::string w = where;
    if (w == "DocData") cli->OnDocData = [&](TObject*, const void*, std::int32_t) { destroy(); };
    if (w == "RequestDone")
      cli->OnRequestDone = [&](TObject*, THttpRequest, std::uint16_t) { destroy(); };
    if (w == "HeaderData") cli->OnHeaderData = [&](TObject*) { destroy(); };
    if (w == "StateChange")
      cli->OnStateChange = [&](TObject* S) {
        if (static_cast<THttpCli*>(S)->State() == httpWaitingBody) destroy();
      };
    cli->GetASync();
    ASSERT_TRUE(httptest::WaitFor(gone, std::chrono::seconds(10)));
    // Whatever was still queued for the component finds it gone.
    testsupport::PumpFor(std::chrono::milliseconds(50));
    // The chunk in hand is not written after the component is gone.
    if (w == "DocData") {
      EXPECT_EQ(body.Count(), 0);
    }
  }
}

TEST_F(HttpCliFaults, ABlockingGetRunsInAWorkerThread) {
  std::atomic<int> status{-1};
  std::string data, error;
  std::thread worker([&] {
    try {
      THttpCli cli(nullptr);
      cli.SetMultiThreaded(true);
      cli.SetTimeout(10);  // bounds the thread's life whatever happens
      TSinkStream body;
      cli.SetRcvdStream(&body);
      cli.SetURL(Url("/lf"));
      cli.Get();
      data = body.Data();
      status = cli.StatusCode();
    } catch (const std::exception& e) {
      error = e.what();
      status = 0;
    }
  });
  worker.join();
  EXPECT_EQ(error, "");
  EXPECT_EQ(status.load(), 200);
  EXPECT_EQ(data, "hello");
}

}  // namespace
