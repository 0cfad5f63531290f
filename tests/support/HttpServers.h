// nginx, squid and tinyproxy for tests, each on free loopback ports in a folder of its own.
// A test describes what it needs (nginx's locations, the proxy's credentials); Start()
// answers false with Error() when the server is not installed or did not come up.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/ServerProcess.h"

namespace testsupport {

// The servers drop root privileges to their own users; otherwise they run as we do.
inline bool RunningAsRoot() {
  return ::geteuid() == 0;
}

// An nginx with a document root (Root(), files written with Dir().Write("www/...")) and
// the locations the test gives, listening on Port() and on ExtraPort() too. In the
// locations, "{port}", "{extra}" and "{dir}" stand for the two ports and the folder.
class Nginx {
 public:
  explicit Nginx(std::string locations) : FLocations(std::move(locations)) {}

  bool Start() {
    FPort = FreeTcpPort();
    FExtraPort = FreeTcpPort();
    const std::string d = FDir.Path();
    for (const auto& [key, value] :
         {std::pair<std::string, std::string>{"{port}", std::to_string(FPort)},
          {"{extra}", std::to_string(FExtraPort)},
          {"{dir}", d}})
      for (std::size_t at; (at = FLocations.find(key)) != std::string::npos;)
        FLocations.replace(at, key.size(), value);
    FDir.OpenDir("www");
    FDir.OpenDir("tmp");
    std::string conf;
    conf += "daemon off;\nmaster_process off;\nworker_processes 1;\n";
    conf += "pid " + d + "/nginx.pid;\nerror_log " + d + "/error.log;\n";
    if (RunningAsRoot()) conf += "user www-data;\n";
    if (::access(EchoModule, R_OK) == 0) conf += std::string("load_module ") + EchoModule + ";\n";
    conf += "events { worker_connections 256; }\n";
    conf += "http {\n  access_log off;\n  keepalive_timeout 0;\n  client_max_body_size 0;\n";
    conf += "  absolute_redirect off;\n  default_type application/octet-stream;\n";
    conf += "  types { text/html html htm; text/plain txt; }\n";
    for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
      conf += std::string("  ") + t + "_temp_path " + d + "/tmp/" + t + ";\n";
    conf += "  server {\n    listen 127.0.0.1:" + std::to_string(FPort) + ";\n";
    conf += "    listen 127.0.0.1:" + std::to_string(FExtraPort) + ";\n";
    conf += "    root " + d + "/www;\n" + FLocations + "\n  }\n}\n";
    FDir.Write("nginx.conf", conf);
    return FProcess.Start({"nginx", "-p", d + "/", "-c", d + "/nginx.conf", "-e", d + "/error.log"},
                          {FPort, FExtraPort});
  }

  static bool HasEcho() { return ::access(EchoModule, R_OK) == 0; }
  static constexpr const char* EchoModule = "/usr/lib/nginx/modules/ngx_http_echo_module.so";

  TempDir& Dir() { return FDir; }
  std::string Root() const { return FDir.Path() + "/www"; }
  std::uint16_t Port() const { return FPort; }
  std::uint16_t ExtraPort() const { return FExtraPort; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
  }
  const std::string& Error() const { return FProcess.Error(); }

 private:
  std::string FLocations;
  TempDir FDir;
  ServerProcess FProcess;
  std::uint16_t FPort = 0;
  std::uint16_t FExtraPort = 0;
};

// A caching-off squid; with a user name, it asks for proxy credentials (407).
class Squid {
 public:
  Squid() = default;
  Squid(std::string user, std::string password)
      : FUser(std::move(user)), FPassword(std::move(password)) {}

  bool Start() {
    FPort = FreeTcpPort();
    const std::string d = FDir.Path();
    const std::string logs = FDir.OpenDir("logs");
    std::string conf;
    conf += "http_port 127.0.0.1:" + std::to_string(FPort) + "\n";
    conf += "visible_hostname localhost\npid_filename " + logs + "/squid.pid\n";
    if (RunningAsRoot()) conf += "cache_effective_user proxy\n";
    conf += "cache_log " + logs + "/cache.log\ncoredump_dir " + logs + "\n";
    conf += "access_log none\ncache deny all\ncache_mem 8 MB\nicp_port 0\nhtcp_port 0\n";
    conf += "pinger_enable off\ndns_nameservers 127.0.0.1\nshutdown_lifetime 1 seconds\n";
    conf += "acl lo src 127.0.0.1/32 ::1\n";
    if (!FUser.empty()) {
      const std::string file = FDir.Write("passwd", "");
      if (!RunHtpasswd(file)) return false;
      conf += "auth_param basic program /usr/lib/squid/basic_ncsa_auth " + file + "\n";
      conf += "auth_param basic children 1\nauth_param basic realm test\n";
      conf += "acl users proxy_auth REQUIRED\nhttp_access allow lo users\n";
    } else {
      conf += "http_access allow lo\n";
    }
    conf += "http_access deny all\n";
    FDir.Write("squid.conf", conf);
    // Its orderly shutdown waits for connections to drain; a test has nothing to keep.
    return FProcess.Start({"squid", "-N", "-f", d + "/squid.conf"}, {FPort},
                          std::chrono::seconds(20), SIGKILL);
  }

  std::uint16_t Port() const { return FPort; }
  const std::string& Error() const { return FError.empty() ? FProcess.Error() : FError; }

 private:
  bool RunHtpasswd(const std::string& file) {
    ChildProcess::Options quiet;
    quiet.inheritStderr = false;
    ChildProcess htpasswd({"htpasswd", "-bc", file, FUser, FPassword}, quiet);
    if (!htpasswd.Started() || htpasswd.Wait(std::chrono::seconds(10)) != 0) {
      FError = "htpasswd failed";
      return false;
    }
    std::filesystem::permissions(file, std::filesystem::perms(0644));
    return true;
  }

  std::string FUser, FPassword;
  TempDir FDir;
  ServerProcess FProcess;
  std::uint16_t FPort = 0;
  std::string FError;
};

// A tinyproxy; with a user name, it asks for proxy credentials (407).
class Tinyproxy {
 public:
  Tinyproxy() = default;
  Tinyproxy(std::string user, std::string password)
      : FUser(std::move(user)), FPassword(std::move(password)) {}

  bool Start() {
    FPort = FreeTcpPort();
    const std::string logs = FDir.OpenDir("logs");
    std::string conf;
    if (RunningAsRoot()) conf += "User tinyproxy\nGroup tinyproxy\n";
    conf += "Port " + std::to_string(FPort) + "\nListen 127.0.0.1\nAllow 127.0.0.1\n";
    conf += "Timeout 30\nLogFile \"" + logs + "/tinyproxy.log\"\n";
    conf += "PidFile \"" + logs + "/tinyproxy.pid\"\nMaxClients 20\n";
    if (!FUser.empty()) conf += "BasicAuth " + FUser + " " + FPassword + "\n";
    FDir.Write("tinyproxy.conf", conf);
    return FProcess.Start({"tinyproxy", "-d", "-c", FDir.Path() + "/tinyproxy.conf"}, {FPort});
  }

  std::uint16_t Port() const { return FPort; }
  const std::string& Error() const { return FProcess.Error(); }

 private:
  std::string FUser, FPassword;
  TempDir FDir;
  ServerProcess FProcess;
  std::uint16_t FPort = 0;
};

}  // namespace testsupport
