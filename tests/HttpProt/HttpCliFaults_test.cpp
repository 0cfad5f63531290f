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
