// The update check as a user runs it, against the plain download a user could make instead,
// all from one nginx on 127.0.0.1 that this program starts and stops:
//   check     a whole CheckForUpdate (page, "Download the update?" answered Yes, the save
//             dialog answered with a path in a temporary folder, the --mib MB update
//             downloaded with its progress form) against one curl -o of the page and the
//             file; interleaved in alternating order after an unmeasured warm-up run,
//             --reps runs each; medians of the wall time, of the processor time (user +
//             system: curl's from the kernel's accounting of the child, the component's
//             thread's own) and of the component's time over curl's (target: at most 1.25);
//   progress  a --gib GiB DoDownload with the progress form shown against the same
//             download with no form: the shared client's twin fetching into a file with
//             a handler that counts the pieces, pumped until done (the component itself
//             never downloads without its form); interleaved, --reps runs each; medians
//             of MB/s and of the rate with the form over the rate without it (target: at
//             least 0.95), and how many progress reports the form was given;
//   signed    the same whole check against a page signed for the update (its Ed25519
//             signature verified, the file held to the signed size and hashed with
//             SHA-256 as it arrives) and against the unsigned page; interleaved, --reps
//             runs each; medians of the wall time, of the processor time of every thread
//             of the process (user + system: the hash may run on a thread of its own), of
//             SHA-256 alone over the same bytes in memory, and of the unsigned time over
//             the signed (targets: signed CPU at most (unsigned CPU + the hash's) x 1.1,
//             wall ratio at least 0.95).
// Boxes and dialogs are answered by the scripted back-end; every wait is bounded by a
// watchdog that closes the modal form. Files go to /dev/shm where it exists. The user
// time shown beside the rates is the code's own share; on a busy machine the wall-time
// ratios swing by a tenth or more from one median of 3 to the next: take --reps 9 there.
// Build in release.
//
//   update_check_bench [--reps R] [--mib M] [--gib 1]
//                      [--only check|progress|signed|with-form|without-form]
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Host/Application.h"
#include "Host/ComCtrls.h"
#include "Host/MessagePump.h"
#include "Host/ScriptedBackend.h"
#include "Host/StdCtrls.h"
#include "Host/Streams.h"
#include "Host/Timer.h"
#include "Host/UIBackend.h"
#include "HttpProt/HttpCli.h"
#include "Orvane/OrvStrings.h"
#include "Orvane/Orvane.h"
#include "Orvane/SignedFacts.h"
#include "Orvane/WebDlProgress.h"
#include "peers/ChildProcess.h"
#include "peers/Nginx.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int reps = 3;
  std::uint64_t mib = 100;
  std::uint64_t gib = 1;
  std::string only;
};

struct Sample {
  bool ok = false;
  double wall = 0;
  double cpu = 0;      // this thread's user seconds in user mode: the code's own work
  double cpuAll = 0;   // user + system seconds: the whole processor cost, as curl's is counted
  double cpuProc = 0;  // user + system seconds of every thread of the process
};

// The kernel's share (socket and file copies) is the same for both sides of a comparison
// and varies with the machine's load; what the code itself adds shows in user time.
double ThreadCpuSeconds() {
  rusage ru{};
  ::getrusage(RUSAGE_THREAD, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec) + static_cast<double>(ru.ru_utime.tv_usec) / 1e6;
}

// User and system seconds of this thread: comparable with a child's processor time.
double ThreadCpuAllSeconds() {
  rusage ru{};
  ::getrusage(RUSAGE_THREAD, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Every thread's user and system seconds: work handed to a helper thread is counted too.
double ProcessCpuSeconds() {
  rusage ru{};
  ::getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

std::uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// A folder of its own, removed with what is in it: in memory (/dev/shm) where there is
// one, so that the disk's write-back does not decide the figures.
class TScratch {
 public:
  TScratch() {
    for (const char* base : {"/dev/shm", "/tmp"}) {
      std::string tmpl = std::string(base) + "/orv-update-bench-XXXXXX";
      if (::mkdtemp(tmpl.data())) {
        FPath = tmpl;
        return;
      }
    }
  }
  ~TScratch() {
    if (!FPath.empty()) peers::RunChild({"rm", "-rf", FPath}, std::chrono::seconds(60));
  }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// The scripted back-end with a watchdog: a modal form still open after `limit` is closed.
struct TBenchUI {
  TScriptedBackend Backend;
  TUIBackendScope Scope{Backend};
  TTimer Ticker{nullptr};
  Clock::time_point Started;
  std::chrono::seconds Limit{120};
  bool TimedOut = false;
  TBenchUI() {
    // Wakes the modal loop now and then, so that the watchdog is seen.
    Ticker.SetInterval(200);
    Ticker.OnTimer = [](TObject*) {};
    Ticker.SetEnabled(true);
    Backend.OnModalPass = [this](TCustomForm& F) {
      if (Clock::now() - Started > Limit) {
        TimedOut = true;
        F.SetModalResult(mrAbort);
      }
    };
  }
  void Start() {
    Backend.Clear();
    Started = Clock::now();
    TimedOut = false;
  }
};

std::unique_ptr<TOrvane> Checker(const std::string& url) {
  auto o = std::make_unique<TOrvane>(nullptr);
  o->SetURL(url);
  o->SetCurrentVersion("1.0");
  o->SetOptions({});  // no read-me, nothing started afterwards
  TOrvTags tags;
  tags.SetProductNameTag("Product");
  tags.SetVersionTag("Version");
  tags.SetDownloadTag("Download");
  o->SetInfoTags(&tags);
  return o;
}

Sample CurlBoth(const std::string& pageUrl, const std::string& fileUrl, const std::string& dir,
                std::uint64_t bytes) {
  const std::string page = dir + "/curl-page.html", file = dir + "/curl-update.exe";
  const peers::ChildRun r = peers::RunChild(
      {"curl", "-s", "-f", "--max-time", "120", "-o", page, pageUrl, "-o", file, fileUrl},
      std::chrono::seconds(130));
  Sample s;
  s.wall = r.wallSecs;
  s.cpuAll = r.cpuSecs;
  s.ok = r.ok && FileSize(file) == bytes;
  ::unlink(page.c_str());
  ::unlink(file.c_str());
  if (!s.ok) std::fprintf(stderr, "curl failed (status %d)\n", r.status);
  return s;
}

// Processor seconds of SHA-256 alone over `bytes`, fed from a buffer that stays in cache:
// what hashing a download costs at the least.
double HashOnlySeconds(std::uint64_t bytes) {
  std::vector<char> buf(256 * 1024, 'x');
  TSha256 sha;
  const double cpu0 = ThreadCpuAllSeconds();
  for (std::uint64_t done = 0; done < bytes; done += buf.size())
    sha.Update(buf.data(),
               static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), bytes - done)));
  const double secs = ThreadCpuAllSeconds() - cpu0;
  (void)sha.FinalHex();
  return secs;
}

// The SHA-256 of a file, in hex.
std::string FileSha256(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  TSha256 sha;
  std::vector<char> buf(1 << 20);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    sha.Update(buf.data(), static_cast<std::size_t>(in.gcount()));
  }
  return sha.FinalHex();
}

Sample WholeCheck(TBenchUI& ui, const std::string& pageUrl, const std::string& dir,
                  std::uint64_t bytes, const std::string& publicKey = "") {
  const std::string target = dir + "/update.exe";
  ui.Start();
  ui.Backend.AnswerBox(mrYes);  // Download the update?
  ui.Backend.AnswerSaveDialog(target);
  const auto t0 = Clock::now();
  const double cpu0 = ThreadCpuSeconds();
  const double cpuAll0 = ThreadCpuAllSeconds();
  const double cpuProc0 = ProcessCpuSeconds();
  bool result = false;
  {
    // Made and freed inside the timing: the application would do the same from its menu.
    auto o = Checker(pageUrl);
    o->SetPublicKey(publicKey);
    result = o->CheckForUpdate();
    if (!result) std::fprintf(stderr, "CheckForUpdate failed: %s\n", o->LastError().c_str());
    if (result && !publicKey.empty() && !(o->SignatureVerified() && o->DownloadChecked())) {
      std::fprintf(stderr, "CheckForUpdate: the signed page was not checked\n");
      result = false;
    }
  }
  Sample s;
  s.wall = std::chrono::duration<double>(Clock::now() - t0).count();
  s.cpu = ThreadCpuSeconds() - cpu0;
  s.cpuAll = ThreadCpuAllSeconds() - cpuAll0;
  s.cpuProc = ProcessCpuSeconds() - cpuProc0;
  s.ok = result && !ui.TimedOut && FileSize(target) == bytes && ui.Backend.UnusedAnswers() == 0;
  if (!s.ok && result) std::fprintf(stderr, "CheckForUpdate: the saved file is not whole\n");
  ::unlink(target.c_str());
  return s;
}

struct TProgressSample {
  Sample s;
  long reports = 0;
};

// With the progress form: DoDownload as the update check runs it.
TProgressSample WithForm(TBenchUI& ui, const std::string& url, const std::string& dir,
                         std::uint64_t bytes) {
  const std::string target = dir + "/big.bin";
  ui.Start();
  TProgressSample out;
  TOrvane o(nullptr);
  o.OnDownloadProgress = [&](TObject*, std::int32_t, std::int32_t) { ++out.reports; };
  const auto t0 = Clock::now();
  const double cpu0 = ThreadCpuSeconds();
  bool result = false;
  try {
    result = o.DoDownload(url, target, LoadOrvStr(sOrvDownloadingUpdate));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "DoDownload raised: %s\n", e.what());
  }
  out.s.wall = std::chrono::duration<double>(Clock::now() - t0).count();
  out.s.cpu = ThreadCpuSeconds() - cpu0;
  out.s.ok = result && !ui.TimedOut && FileSize(target) == bytes;
  if (!out.s.ok) std::fprintf(stderr, "DoDownload failed: %s\n", o.LastError().c_str());
  // What the form showed when it went: the whole count and a full bar.
  const auto& hidden = ui.Backend.FormsHidden();
  const TScriptedBackend::TFormShot* form = hidden.empty() ? nullptr : &hidden.back();
  const TScriptedBackend::TControlShot* bar = form ? form->Find("TProgressBar") : nullptr;
  const std::string whole =
      FormatOrvStr(sOrvBytesReceived, {FormatThousands(bytes), FormatThousands(bytes)});
  bool shownWhole = false;
  if (form)
    for (const auto& c : form->Controls) shownWhole = shownWhole || c.Text == whole;
  if (!bar || bar->Position != 100 || !shownWhole) {
    std::fprintf(stderr, "the progress form did not end at 100%% and \"%s\"\n", whole.c_str());
    out.s.ok = false;
  }
  ::unlink(target.c_str());
  return out;
}

// Without it: the same client into the same kind of file, each piece still counted as
// the application's progress event would count it, and nothing shown.
TProgressSample WithoutForm(const std::string& url, const std::string& dir, std::uint64_t bytes) {
  const std::string target = dir + "/big.bin";
  TProgressSample out;
  bool done = false;
  const auto t0 = Clock::now();
  const double cpu0 = ThreadCpuSeconds();
  {
    TFileStream file(target, fmCreate);
    THttpCli cli(nullptr);
    cli.SetURL(url);
    cli.SetRcvdStream(&file);
    cli.OnDocData = [&](TObject*, const void*, std::int32_t) { ++out.reports; };
    cli.OnRequestDone = [&](TObject*, THttpRequest, std::uint16_t) { done = true; };
    cli.GetASync();
    TMessagePump pump(*Application);
    pump.PumpUntil([&] { return done; }, TDeadline::InSeconds(120));
    if (!done) {
      cli.Abort();
      pump.PumpUntil([&] { return done; }, TDeadline::InSeconds(5));
    }
    out.s.ok = done && cli.StatusCode() == 200;
    cli.SetRcvdStream(nullptr);
  }
  out.s.wall = std::chrono::duration<double>(Clock::now() - t0).count();
  out.s.cpu = ThreadCpuSeconds() - cpu0;
  out.s.ok = out.s.ok && FileSize(target) == bytes;
  if (!out.s.ok) std::fprintf(stderr, "the plain download failed\n");
  ::unlink(target.c_str());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i], v = argv[i + 1];
    if (k == "--reps")
      opt.reps = std::clamp(std::atoi(v.c_str()), 1, 20);
    else if (k == "--mib")
      opt.mib = std::clamp<std::uint64_t>(std::strtoull(v.c_str(), nullptr, 10), 1, 4096);
    else if (k == "--gib")
      opt.gib = std::clamp<std::uint64_t>(std::strtoull(v.c_str(), nullptr, 10), 1, 1);
    else if (k == "--only")
      opt.only = v;
    else {
      std::fprintf(stderr,
                   "usage: %s [--reps R] [--mib M] [--gib 1] [--only "
                   "check|progress|signed|with-form|without-form]\n",
                   argv[0]);
      return 2;
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
  const auto want = [&](const char* what) { return opt.only.empty() || opt.only == what; };
  if (!peers::OnPath("curl") && want("check")) {
    std::fprintf(stderr, "curl is needed for the comparison\n");
    return 1;
  }
  const std::uint64_t updateBytes = opt.mib * 1000 * 1000;
  const std::uint64_t bigBytes = opt.gib << 30;

  TScratch scratch;
  peers::Nginx nginx;
  if (scratch.Path().empty() || !nginx.AddFile("update.exe", updateBytes) ||
      !nginx.AddFile("big.bin", bigBytes) || !nginx.AddFile("info.html", 0) ||
      !nginx.AddFile("signed.html", 0) || !nginx.Start()) {
    std::fprintf(stderr, "%s\n", nginx.Error().c_str());
    return 1;
  }
  {
    std::ofstream page(nginx.Path("info.html"), std::ios::binary | std::ios::trunc);
    page << "<HTML><HEAD><TITLE>Sample</TITLE>\r\n"
         << "<META HTTP-EQUIV=\"Product\" CONTENT=\"Sample Editor\">\r\n"
         << "<META HTTP-EQUIV=\"Version\" CONTENT=\"1.1\">\r\n"
         << "<META HTTP-EQUIV=\"Download\" CONTENT=\"" << nginx.Url("update.exe") << "\">\r\n"
         << "</HEAD><BODY>The latest version.</BODY></HTML>\r\n";
  }
  // The same page signed for the update, as orvane-sign would write it.
  const TEd25519Keys keys = Ed25519GenerateKeys();
  if (want("signed")) {
    TSignedFacts facts;
    facts.Product = "Sample Editor";
    facts.Version = "1.1";
    facts.URL = nginx.Url("update.exe");
    facts.Size = updateBytes;
    facts.SHA256 = FileSha256(nginx.Path("update.exe"));
    facts.Expires = "2099-12-31";
    std::ofstream page(nginx.Path("signed.html"), std::ios::binary | std::ios::trunc);
    page << "<HTML><HEAD><TITLE>Sample</TITLE>\r\n";
    for (const auto& [name, content] :
         SignedPageEntries(facts, Ed25519Sign(keys.PrivateKey, SignedText(facts))))
      page << "<META HTTP-EQUIV=\"" << name << "\" CONTENT=\"" << content << "\">\r\n";
    page << "</HEAD><BODY>The latest version, signed.</BODY></HTML>\r\n";
  }
  std::printf("nginx on 127.0.0.1:%u; files written to %s\n", nginx.Port(), scratch.Path().c_str());
  int status = 0;
  TBenchUI ui;

  if (want("check")) {
    std::vector<double> curl, ours, ratio, curlCpu, oursCpu;
    int failed = 0;
    // Unmeasured: the update file is read once, so that neither side pays for the disk.
    CurlBoth(nginx.Url("info.html"), nginx.Url("update.exe"), scratch.Path(), updateBytes);
    for (int r = 0; r < opt.reps; ++r) {
      // Each goes first every other run, so that neither always finds the other's traces.
      Sample c, o;
      const auto runCurl = [&] {
        c = CurlBoth(nginx.Url("info.html"), nginx.Url("update.exe"), scratch.Path(), updateBytes);
      };
      const auto runOurs = [&] {
        o = WholeCheck(ui, nginx.Url("info.html"), scratch.Path(), updateBytes);
      };
      if (r % 2 == 0) {
        runCurl();
        runOurs();
      } else {
        runOurs();
        runCurl();
      }
      failed += !c.ok + !o.ok;
      if (c.ok) curl.push_back(c.wall), curlCpu.push_back(c.cpuAll);
      if (o.ok) ours.push_back(o.wall), oursCpu.push_back(o.cpuAll);
      if (c.ok && o.ok) ratio.push_back(o.wall / c.wall);
    }
    const double mb = static_cast<double>(updateBytes) / 1e6;
    std::printf(
        "\ncheck: page + %.0f MB update, medians of %d interleaved runs (order alternating)\n", mb,
        opt.reps);
    std::printf("  %-34s %8.3f s  %8.0f MB/s  %6.3f cpu-s\n", "curl -o page -o file", Median(curl),
                Median(curl) > 0 ? mb / Median(curl) : 0, Median(curlCpu));
    std::printf("  %-34s %8.3f s  %8.0f MB/s  %6.3f cpu-s\n", "CheckForUpdate (scripted answers)",
                Median(ours), Median(ours) > 0 ? mb / Median(ours) : 0, Median(oursCpu));
    std::printf("  %-34s %8.2f   (target at most 1.25)%s\n", "CheckForUpdate / curl", Median(ratio),
                failed ? "  SOME RUNS FAILED" : "");
    status |= failed ? 1 : 0;
  }

  if (want("signed")) {
    std::vector<double> plain, sig, ratio, cpuPlain, cpuSig, hash, cpuRatio;
    int failed = 0;
    for (int r = 0; r < opt.reps; ++r) {
      // Each goes first every other run.
      Sample u, v;
      if (r % 2 == 0) {
        u = WholeCheck(ui, nginx.Url("info.html"), scratch.Path(), updateBytes);
        v = WholeCheck(ui, nginx.Url("signed.html"), scratch.Path(), updateBytes, keys.PublicKey);
      } else {
        v = WholeCheck(ui, nginx.Url("signed.html"), scratch.Path(), updateBytes, keys.PublicKey);
        u = WholeCheck(ui, nginx.Url("info.html"), scratch.Path(), updateBytes);
      }
      const double h = HashOnlySeconds(updateBytes);
      hash.push_back(h);
      failed += !u.ok + !v.ok;
      if (u.ok) plain.push_back(u.wall), cpuPlain.push_back(u.cpuProc);
      if (v.ok) sig.push_back(v.wall), cpuSig.push_back(v.cpuProc);
      if (u.ok && v.ok) {
        ratio.push_back(u.wall / v.wall);
        cpuRatio.push_back(v.cpuProc / (u.cpuProc + h));
      }
    }
    const double mb = static_cast<double>(updateBytes) / 1e6;
    std::printf("\nsigned: page + %.0f MB update, medians of %d interleaved runs\n", mb, opt.reps);
    std::printf("  %-34s %8.3f s  %8.0f MB/s  %6.3f cpu-s (all threads)\n",
                "CheckForUpdate, unsigned page", Median(plain),
                Median(plain) > 0 ? mb / Median(plain) : 0, Median(cpuPlain));
    std::printf("  %-34s %8.3f s  %8.0f MB/s  %6.3f cpu-s (all threads)\n",
                "CheckForUpdate, signed page", Median(sig), Median(sig) > 0 ? mb / Median(sig) : 0,
                Median(cpuSig));
    std::printf("  %-34s %8s    %8s       %6.3f cpu-s\n", "SHA-256 alone, in cache", "", "",
                Median(hash));
    std::printf("  %-34s %8.2f   (target at most 1.10)\n", "signed CPU / (unsigned + hash)",
                Median(cpuRatio));
    std::printf("  %-34s %8.2f   (target at least 0.95)%s\n", "unsigned time / signed time",
                Median(ratio), failed ? "  SOME RUNS FAILED" : "");
    status |= failed ? 1 : 0;
  }

  // One side alone, to look at it with a profiler or strace.
  if (opt.only == "with-form" || opt.only == "without-form") {
    const TProgressSample x = opt.only == "with-form"
                                  ? WithForm(ui, nginx.Url("big.bin"), scratch.Path(), bigBytes)
                                  : WithoutForm(nginx.Url("big.bin"), scratch.Path(), bigBytes);
    std::printf("%s: %.0f MB/s\n", opt.only.c_str(),
                x.s.ok ? static_cast<double>(bigBytes) / 1e6 / x.s.wall : 0);
    return x.s.ok ? 0 : 1;
  }

  if (want("progress")) {
    std::vector<double> with, without, ratio, cpuWith, cpuWithout;
    std::vector<long> reports;
    int failed = 0;
    // Unmeasured: the big file is read once, so that the first run does not pay for the disk.
    WithoutForm(nginx.Url("big.bin"), scratch.Path(), bigBytes);
    for (int r = 0; r < opt.reps; ++r) {
      // Each goes first every other run, so that neither always finds the other's traces.
      TProgressSample a, b;
      if (r % 2 == 0) {
        a = WithForm(ui, nginx.Url("big.bin"), scratch.Path(), bigBytes);
        b = WithoutForm(nginx.Url("big.bin"), scratch.Path(), bigBytes);
      } else {
        b = WithoutForm(nginx.Url("big.bin"), scratch.Path(), bigBytes);
        a = WithForm(ui, nginx.Url("big.bin"), scratch.Path(), bigBytes);
      }
      failed += !a.s.ok + !b.s.ok;
      const double mb = static_cast<double>(bigBytes) / 1e6;
      if (a.s.ok) with.push_back(mb / a.s.wall), cpuWith.push_back(a.s.cpu);
      if (b.s.ok) without.push_back(mb / b.s.wall), cpuWithout.push_back(b.s.cpu);
      if (a.s.ok && b.s.ok) ratio.push_back(b.s.wall / a.s.wall);
      reports.push_back(a.reports);
    }
    std::sort(reports.begin(), reports.end());
    std::printf("\nprogress: %llu GiB DoDownload to a file, medians of %d interleaved runs\n",
                static_cast<unsigned long long>(opt.gib), opt.reps);
    std::printf("  %-34s %8.0f MB/s  %6.3f s user  (%ld progress reports)\n",
                "with the progress form", Median(with), Median(cpuWith),
                reports.empty() ? 0 : reports[reports.size() / 2]);
    std::printf("  %-34s %8.0f MB/s  %6.3f s user\n", "without the form", Median(without),
                Median(cpuWithout));
    std::printf("  %-34s %8.3f   (target at least 0.95)%s\n", "with / without", Median(ratio),
                failed ? "  SOME RUNS FAILED" : "");
    status |= failed ? 1 : 0;
  }
  return status;
}
