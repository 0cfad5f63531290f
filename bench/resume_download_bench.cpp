// A signed download of --mib MB (100 by default) that a server cuts by resets at 30%, 60% and
// 90% of the file, against the same download uninterrupted: bytes the server sent for each
// (bodies and headers) and their ratio to the file's size (target for the cut one: at most
// 1.02). The server (tests/peers/http_resume.py on 127.0.0.1) waits until what it sent has
// reached the client before each reset, as a line that breaks later would have delivered it.
// The component's waits between attempts are shortened to 100 ms: they cost time, not bytes.
// Files go to /dev/shm where it exists. Build in release.
//
//   resume_download_bench [--mib M]
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Host/Application.h"
#include "Host/ScriptedBackend.h"
#include "Host/Timer.h"
#include "Host/UIBackend.h"
#include "Orvane/Orvane.h"
#include "Orvane/Signature.h"
#include "support/PythonPeer.h"

namespace {

using Clock = std::chrono::steady_clock;

// The update: bytes that do not repeat, written in pieces and hashed as they are written.
std::string WriteUpdate(const std::string& Path, std::uint64_t Size) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  TSha256 sha;
  std::string piece(1 << 20, '\0');
  std::uint32_t x = 0x2545F491;
  for (std::uint64_t left = Size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
    for (std::size_t i = 0; i < n; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      piece[i] = static_cast<char>(x);
    }
    out.write(piece.data(), static_cast<std::streamsize>(n));
    sha.Update(piece.data(), n);
    left -= n;
  }
  return sha.FinalHex();
}

struct TRun {
  bool Ok = false;
  int Requests = 0;
  std::uint64_t Body = 0;
  std::uint64_t Header = 0;
  double Wall = 0;
};

// One signed check and download of the file under the query Query; the peer's reports of
// what it sent are summed.
TRun Download(testsupport::PythonPeer& Peer, const TEd25519Keys& Keys, const TSignedFacts& Base,
              const std::string& Root, const std::string& Query, const std::string& PagePath,
              const std::string& Target) {
  TSignedFacts facts = Base;
  facts.URL = Root + "/update.exe?" + Query;
  std::ofstream(PagePath, std::ios::binary | std::ios::trunc)
      << "<HTML><HEAD>\r\n<META HTTP-EQUIV=\"Product\" CONTENT=\"" << facts.Product << "\">\r\n"
      << "<META HTTP-EQUIV=\"Version\" CONTENT=\"" << facts.Version << "\">\r\n"
      << "<META HTTP-EQUIV=\"Date\" CONTENT=\"" << facts.Date << "\">\r\n"
      << "<META HTTP-EQUIV=\"Download\" CONTENT=\"" << facts.URL << "\">\r\n"
      << "<META HTTP-EQUIV=\"Size\" CONTENT=\"" << facts.Size << "\">\r\n"
      << "<META HTTP-EQUIV=\"SHA256\" CONTENT=\"" << facts.SHA256 << "\">\r\n"
      << "<META HTTP-EQUIV=\"Expires\" CONTENT=\"" << facts.Expires << "\">\r\n"
      << "<META HTTP-EQUIV=\"Signature\" CONTENT=\""
      << Ed25519Sign(Keys.PrivateKey, SignedText(facts)) << "\">\r\n</HEAD></HTML>\r\n";
  TOrvane o(nullptr);
  o.SetURL(Root + "/page?" + Query);
  o.SetCurrentVersion("1.0");
  o.SetOptions({orvoAlwaysOverwrite});
  TOrvTags tags;
  tags.SetProductNameTag("Product");
  tags.SetVersionTag("Version");
  tags.SetDateTag("Date");
  tags.SetDownloadTag("Download");
  o.SetInfoTags(&tags);
  o.SetPublicKey(Keys.PublicKey);
  o.SetDownloadRetryWait(100);
  TRun run;
  const auto t0 = Clock::now();
  run.Ok = o.GetFileInfo() && o.DownloadFile(Target) && o.SignatureVerified();
  run.Wall = std::chrono::duration<double>(Clock::now() - t0).count();
  if (!run.Ok) std::fprintf(stderr, "the download failed: %s\n", o.LastError().c_str());
  const std::string id = Query.substr(3, Query.find('&') - 3);
  for (std::string line;
       !(line = Peer.LineStartingWith("sent " + id + " ", std::chrono::milliseconds(500)))
            .empty();) {
    unsigned long long body = 0, header = 0;
    char status[8] = {};
    if (std::sscanf(line.c_str() + 6 + id.size(), "%7s %llu %llu", status, &body, &header) == 3) {
      ++run.Requests;
      run.Body += body;
      run.Header += header;
    }
  }
  std::filesystem::remove(Target);
  return run;
}

void Print(const char* Name, const TRun& R, std::uint64_t Size, const TRun* Whole) {
  const std::uint64_t total = R.Body + R.Header;
  std::printf("%-14s %-3s %8d %14llu %10llu %14llu %9.4f", Name, R.Ok ? "ok" : "BAD", R.Requests,
              static_cast<unsigned long long>(R.Body), static_cast<unsigned long long>(R.Header),
              static_cast<unsigned long long>(total), static_cast<double>(total) / Size);
  if (Whole) std::printf(" %9.4f", static_cast<double>(total) / (Whole->Body + Whole->Header));
  std::printf(" %7.2f s\n", R.Wall);
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t mib = 100;
  for (int i = 1; i < argc; i += 2) {
    if (std::string(argv[i]) == "--mib" && i + 1 < argc) {
      mib = std::clamp<std::uint64_t>(std::strtoull(argv[i + 1], nullptr, 10), 1, 2000);
    } else {
      std::fprintf(stderr, "usage: %s [--mib M]\n", argv[0]);
      return 2;
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
  std::string dir;
  for (const char* base : {"/dev/shm", "/tmp"}) {
    std::string tmpl = std::string(base) + "/orv-resume-bench-XXXXXX";
    if (::mkdtemp(tmpl.data())) {
      dir = tmpl;
      break;
    }
  }
  if (dir.empty()) return 1;
  const std::uint64_t size = mib * 1000 * 1000;
  TSignedFacts facts;
  facts.Product = "Sample Editor";
  facts.Version = "1.1";
  facts.Date = "Mar 5, 1998";
  facts.Size = size;
  facts.SHA256 = WriteUpdate(dir + "/update.exe", size);
  facts.Expires = "2099-12-31";
  const std::string page = dir + "/page.html";
  std::ofstream(page).flush();
  testsupport::PythonPeer peer = testsupport::StartPythonPeer(
      "http_resume.py",
      {"--file", dir + "/update.exe", "--other", dir + "/update.exe", "--page", page}, 900);
  int status = 1;
  if (peer.port == 0) {
    std::fprintf(stderr, "tests/peers/http_resume.py did not start\n");
  } else {
    TScriptedBackend backend;
    TUIBackendScope scope(backend);
    // Wakes the modal loop now and then, so that the watchdog is seen.
    TTimer ticker(nullptr);
    ticker.SetInterval(200);
    ticker.OnTimer = [](TObject*) {};
    const auto started = Clock::now();
    backend.OnModalPass = [&](TCustomForm& F) {
      if (Clock::now() - started > std::chrono::seconds(600)) F.SetModalResult(mrAbort);
    };
    const std::string root = "http://127.0.0.1:" + std::to_string(peer.port);
    const TEd25519Keys keys = Ed25519GenerateKeys();
    const TRun whole = Download(peer, keys, facts, root, "id=whole", page, dir + "/a.exe");
    const TRun cut =
        Download(peer, keys, facts, root, "id=cut&cuts=30,60,90", page, dir + "/b.exe");
    std::printf("A signed download of %llu bytes, SHA-256 checked\n",
                static_cast<unsigned long long>(size));
    std::printf("%-14s %-3s %8s %14s %10s %14s %9s %9s %9s\n", "run", "", "requests", "body bytes",
                "headers", "bytes sent", "/ size", "/ whole", "wall");
    Print("uninterrupted", whole, size, nullptr);
    Print("reset 30/60/90", cut, size, &whole);
    const double ratio = static_cast<double>(cut.Body + cut.Header) / size;
    std::printf("target: at most 1.02 times the size: %s\n", ratio <= 1.02 ? "met" : "NOT MET");
    status = whole.Ok && cut.Ok ? 0 : 1;
  }
  std::filesystem::remove_all(dir);
  return status;
}
