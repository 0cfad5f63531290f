// TLS peers for the tests: certificates made with the openssl command
// (tests/peers/make_tls_certs.sh), and an nginx with one TLS server per certificate.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/ChildProcess.h"
#include "support/HttpServers.h"
#include "support/ServerProcess.h"
#include "support/TempFile.h"

namespace testsupport {

// The test authority and the servers' certificates (see make_tls_certs.sh for the list).
class TlsCerts {
 public:
  bool Make() {
    ChildProcess::Options quiet;
    quiet.inheritStderr = false;
    ChildProcess script({"bash", ChildProcess::PeerScript("make_tls_certs.sh"), FDir.Path()},
                        quiet);
    return script.Started() && script.Wait(std::chrono::seconds(60)) == 0;
  }
  // The path of one of the files: Path("ca.pem"), Path("good.key")...
  std::string Path(const std::string& name) const { return FDir / name; }

 private:
  TempDir FDir;
};

// nginx serving its document root over TLS, one server per certificate on a port of its
// own: "good", "expired", "other", "self" and "chain".
class TlsNginx {
 public:
  static inline const std::vector<std::string> Names = {"good", "expired", "other", "self",
                                                        "chain"};

  explicit TlsNginx(const TlsCerts& Certs) : FCerts(Certs) {}
  // Directives added to every server block (before Start).
  void SetServerExtra(std::string Directives) { FExtra = std::move(Directives); }

  bool Start() {
    const std::string d = FDir.Path();
    FDir.OpenDir("www");
    FDir.OpenDir("tmp");
    std::vector<std::uint16_t> ports;
    std::string servers;
    for (const std::string& name : Names) {
      const std::uint16_t port = FreeTcpPort();
      FPorts[name] = port;
      ports.push_back(port);
      servers += "  server {\n    listen 127.0.0.1:" + std::to_string(port) + " ssl;\n";
      servers += "    ssl_certificate " + FCerts.Path(name + ".pem") + ";\n";
      servers += "    ssl_certificate_key " + FCerts.Path(name + ".key") + ";\n";
      servers += "    ssl_protocols TLSv1.2 TLSv1.3;\n";
      servers += "    root " + d + "/www;\n" + FExtra + "\n  }\n";
    }
    std::string conf;
    conf += "daemon off;\nmaster_process off;\nworker_processes 1;\n";
    conf += "pid " + d + "/nginx.pid;\nerror_log " + d + "/error.log;\n";
    if (RunningAsRoot()) conf += "user www-data;\n";
    conf += "events { worker_connections 256; }\n";
    conf += "http {\n  access_log off;\n  keepalive_timeout 0;\n";
    conf += "  default_type application/octet-stream;\n";
    for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
      conf += std::string("  ") + t + "_temp_path " + d + "/tmp/" + t + ";\n";
    conf += servers + "}\n";
    FDir.Write("nginx.conf", conf);
    return FProcess.Start({"nginx", "-p", d + "/", "-c", d + "/nginx.conf", "-e", d + "/error.log"},
                          ports);
  }

  TempDir& Dir() { return FDir; }
  std::uint16_t Port(const std::string& name) const { return FPorts.at(name); }
  const std::string& Error() const { return FProcess.Error(); }

 private:
  const TlsCerts& FCerts;
  TempDir FDir;
  ServerProcess FProcess;
  std::map<std::string, std::uint16_t> FPorts;
  std::string FExtra;
};

}  // namespace testsupport
