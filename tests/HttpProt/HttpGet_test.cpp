// The httpget program, run as a user would try the client, against nginx and tinyproxy.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/ChildProcess.h"
#include "support/FreePort.h"
#include "support/HttpServers.h"
#include "support/PythonPeer.h"
#include "support/TempFile.h"
#include "support/TlsServers.h"

namespace {

struct ProgramRun {
  int Exit = -99;
  std::string Out, Err;
};

// Runs httpget with Args; its standard error goes to a file so that both can be read.
ProgramRun HttpGet(std::vector<std::string> Args) {
  testsupport::TempFile err("");
  std::vector<std::string> argv{"/bin/sh", "-c", "f=$1; shift; exec \"$0\" \"$@\" 2>\"$f\"",
                                HTTPGET_PATH, err.Path()};
  argv.insert(argv.end(), Args.begin(), Args.end());
  testsupport::ChildProcess child(argv);
  ProgramRun r;
  const auto code = child.Wait(std::chrono::seconds(30));
  r.Exit = code ? *code : -98;
  r.Out = child.Output();
  std::ifstream in(err.Path());
  std::stringstream ss;
  ss << in.rdbuf();
  r.Err = ss.str();
  return r;
}

TEST(HttpGet, FetchesAsAUserWouldTryIt) {
  testsupport::Nginx nginx(R"(
    location = /secret.txt { auth_basic "test"; auth_basic_user_file {dir}/htpasswd; }
    location = /echo { echo_read_request_body; echo_request_body; }
    location = /old { return 302 /small.txt; }
  )");
  if (!nginx.Start()) GTEST_SKIP() << "nginx did not start: " << nginx.Error();
  nginx.Dir().Write("www/small.txt", "Hello, small world\n");
  nginx.Dir().Write("www/secret.txt", "the secret\n");
  nginx.Dir().Write("htpasswd", "user:{PLAIN}pass\n");

  // The body to standard output, the status line to standard error; relocations followed.
  ProgramRun r = HttpGet({nginx.Url("/old"), "--agent", "httpget-test"});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(r.Out, "Hello, small world\n");
  EXPECT_EQ(r.Err, "200 OK\n");

  // To a file, with every header line shown.
  testsupport::TempFile out("old contents");
  r = HttpGet({nginx.Url("/small.txt"), "-o", out.Path(), "--verbose"});
  EXPECT_EQ(r.Exit, 0);
  EXPECT_EQ(r.Out, "");
  EXPECT_NE(r.Err.find("HTTP/1.1 200 OK\n"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("Content-Length: 19\n"), std::string::npos) << r.Err;
  std::ifstream file(out.Path());
  std::stringstream got;
  got << file.rdbuf();
  EXPECT_EQ(got.str(), "Hello, small world\n");

  r = HttpGet({nginx.Url("/small.txt"), "--head"});
  EXPECT_EQ(r.Exit, 0);
  EXPECT_EQ(r.Out, "");

  // Failures: a status of 400 or more, and no server at all, with the reason.
  r = HttpGet({nginx.Url("/missing.txt")});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("404 Not Found\n"), std::string::npos) << r.Err;
  testsupport::ReservedPort closed;
  r = HttpGet({"http://127.0.0.1:" + std::to_string(closed.Port()) + "/"});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("Connection refused"), std::string::npos) << r.Err;

  // Credentials, and a POST from a file.
  r = HttpGet({nginx.Url("/secret.txt")});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("401"), std::string::npos);
  r = HttpGet({nginx.Url("/secret.txt"), "--user", "user:pass"});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(r.Out, "the secret\n");
  if (testsupport::Nginx::HasEcho()) {
    testsupport::TempFile post("name=value&x=1");
    r = HttpGet({nginx.Url("/echo"), "--post-file", post.Path(), "--content-type", "text/plain"});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out, "name=value&x=1");
  }

  // Through a proxy that wants its own credentials.
  testsupport::Tinyproxy proxy("puser", "ppass");
  if (proxy.Start()) {
    const std::string at = "127.0.0.1:" + std::to_string(proxy.Port());
    r = HttpGet({nginx.Url("/small.txt"), "--proxy", at});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_NE(r.Err.find("407"), std::string::npos) << r.Err;
    r = HttpGet({nginx.Url("/small.txt"), "--proxy", at, "--proxy-user", "puser:ppass"});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out, "Hello, small world\n");
  }

  // A command line that does not fit: the usage, and nothing fetched.
  r = HttpGet({"--head"});
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find("usage: httpget URL"), std::string::npos);
  r = HttpGet({nginx.Url("/small.txt"), "-o"});
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find("-o needs a value"), std::string::npos);
}

std::string FileText(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(HttpGet, TellsTheFaultsOfAServerApart) {
  testsupport::PythonPeer peer = testsupport::StartPythonPeer("http_odd.py", {}, 120);
  if (peer.port == 0) GTEST_SKIP() << "the peer http_odd.py did not start";
  const std::string at = "127.0.0.1:" + std::to_string(peer.port);
  const auto url = [&](const std::string& Path) { return "http://" + at + Path; };
  testsupport::TempFile out("old contents");

  // A chunked reply is saved decoded; a reset inside a body is a failure, the bytes kept.
  ProgramRun r = HttpGet({url("/chunked"), "-o", out.Path()});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(FileText(out.Path()), "abcdefghijklmnopqrstuvwxyz12345" + std::string(100000, 'c'));
  r = HttpGet({url("/reset-body"), "-o", out.Path()});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("connection reset after 100000 body bytes"), std::string::npos) << r.Err;
  EXPECT_EQ(FileText(out.Path()), std::string(100000, 'R'));
  r = HttpGet({url("/gzip")});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("unsupported transfer coding: gzip"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out, "");
  // The body of an error status is not saved; more than the announced length neither.
  r = HttpGet({url("/error-body"), "-o", out.Path()});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_EQ(FileText(out.Path()), "");
  r = HttpGet({url("/longer")});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(r.Out, std::string(1000, 'L'));

  // A relocated POST sends its body again.
  testsupport::TempFile post("name=value");
  r = HttpGet({url("/post-relocate?to=/post-echo"), "--post-file", post.Path()});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(r.Out, "name=value");

  // A stalled server ends with the time-out; relocations end at the bound.
  r = HttpGet({url("/stall"), "--timeout", "1"});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("Connection timed out"), std::string::npos) << r.Err;
  // A trickle that keeps the time-out away ends by its speed or by the overall bound.
  r = HttpGet({url("/drip"), "--speed-limit", "100", "--speed-time", "1"});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("slower than 100 bytes/s for 1 s"), std::string::npos) << r.Err;
  r = HttpGet({url("/drip"), "--max-time", "1"});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("took longer than 1 s"), std::string::npos) << r.Err;
  r = HttpGet({url("/loop"), "--max-redirs", "2", "--verbose"});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("too many relocations"), std::string::npos) << r.Err;
  std::size_t statusLines = 0;
  for (std::size_t p = r.Err.find("HTTP/1.0 302"); p != std::string::npos;
       p = r.Err.find("HTTP/1.0 302", p + 1))
    ++statusLines;
  EXPECT_EQ(statusLines, 3u);
  r = HttpGet({url("/loop"), "--timeout", "soon"});
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find("--timeout needs a whole number"), std::string::npos) << r.Err;
  r = HttpGet({url("/loop"), "--max-redirs", "-1"});
  EXPECT_EQ(r.Exit, 2);

  // Only http and https are fetched.
  r = HttpGet({"ftp://" + at + "/request"});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("unsupported protocol: ftp"), std::string::npos) << r.Err;
}

TEST(HttpGet, FetchesHttpsTrustingTheAuthorityGiven) {
  testsupport::TlsCerts certs;
  if (!certs.Make()) GTEST_SKIP() << "making the certificates failed";
  testsupport::TlsNginx nginx(certs);
  nginx.Dir().Write("www/hello.txt", "hello over TLS\n");
  if (!nginx.Start()) GTEST_SKIP() << "nginx did not start: " << nginx.Error();
  const auto url = [&](const std::string& Name) {
    return "https://localhost:" + std::to_string(nginx.Port(Name)) + "/hello.txt";
  };

  ProgramRun r = HttpGet({url("good"), "--ca-file", certs.Path("ca.pem")});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(r.Out, "hello over TLS\n");
  EXPECT_EQ(r.Err, "200 OK\n");
  // The system's authorities know nothing of the test's; a refusal names its reason.
  r = HttpGet({url("good")});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("certificate issued by an unknown authority"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out, "");
  r = HttpGet({url("expired"), "--ca-file", certs.Path("ca.pem")});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("certificate has expired"), std::string::npos) << r.Err;
  // --insecure takes anything, and says so.
  r = HttpGet({url("expired"), "--insecure"});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(r.Out, "hello over TLS\n");
  EXPECT_NE(r.Err.find("no certificate is checked"), std::string::npos) << r.Err;
  r = HttpGet({url("good"), "--ca-file"});
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find("--ca-file needs a value"), std::string::npos) << r.Err;
}

}  // namespace
