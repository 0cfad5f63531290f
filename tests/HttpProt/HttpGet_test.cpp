// The httpget program, run as a user would try the client, against nginx and tinyproxy.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/ChildProcess.h"
#include "support/FreePort.h"
#include "support/HttpServers.h"
#include "support/TempFile.h"

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

}  // namespace
