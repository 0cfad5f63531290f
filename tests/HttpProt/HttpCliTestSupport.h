// Helpers of the THttpCli tests: a stream that keeps what it receives (or only its size and
// CRC), a recorder of every event in order, and a bounded wait for OnRequestDone.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Host/Streams.h"
#include "Host/StringList.h"
#include "HttpProt/HttpProt.h"
#include "support/Bytes.h"
#include "support/Pump.h"

namespace httptest {

// The proxy variables of the process's environment as given (every other one unset) while
// the object lives; what was there before comes back after.
class TProxyEnvironment {
 public:
  explicit TProxyEnvironment(const std::map<std::string, std::string>& Vars) {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
      const char* old = std::getenv(name);
      FSaved[name] = old ? std::optional<std::string>(old) : std::nullopt;
      const auto it = Vars.find(name);
      if (it != Vars.end()) {
        ::setenv(name, it->second.c_str(), 1);
      } else {
        ::unsetenv(name);
      }
    }
  }
  ~TProxyEnvironment() {
    for (const auto& [name, old] : FSaved) {
      if (old) {
        ::setenv(name.c_str(), old->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  TProxyEnvironment(const TProxyEnvironment&) = delete;
  TProxyEnvironment& operator=(const TProxyEnvironment&) = delete;

 private:
  std::map<std::string, std::optional<std::string>> FSaved;
};

// Keeps the bytes written (up to Keep of them) and the count and CRC of all.
class TSinkStream : public TStream {
 public:
  explicit TSinkStream(std::size_t Keep = 1 << 20) : FKeep(Keep) {}
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void* Buf, std::int32_t Count) override {
    const auto* p = static_cast<const char*>(Buf);
    if (FData.size() < FKeep)
      FData.append(p, std::min<std::size_t>(static_cast<std::size_t>(Count), FKeep - FData.size()));
    FCrc.Update(p, static_cast<std::size_t>(Count));
    FCount += Count;
    return Count;
  }
  std::int64_t Seek(std::int64_t, int) override { return FCount; }

  const std::string& Data() const { return FData; }
  std::int64_t Count() const { return FCount; }
  std::uint32_t Crc() const { return FCrc.Value(); }

 private:
  std::size_t FKeep;
  std::string FData;
  std::int64_t FCount = 0;
  testsupport::Crc32 FCrc;
};

inline const char* StateName(THttpState S) {
  static const char* const names[] = {"httpReady",       "httpNotConnected",  "httpConnected",
                                      "httpDnsLookup",   "httpDnsLookupDone", "httpWaitingHeader",
                                      "httpWaitingBody", "httpAborting"};
  return names[S];
}

// Every event of the component as one entry, in order: "StateChange httpDnsLookup",
// "Command GET / HTTP/1.0", "HeaderData HTTP/1.1 200 OK", "DocData" (a run of chunks is
// one entry), "RequestDone 0"...
class TEventLog {
 public:
  explicit TEventLog(THttpCli& Cli) : FCli(Cli) {
    auto add = [this](const std::string& E) { FEvents.push_back(E); };
    Cli.OnStateChange = [this, add](TObject*) {
      add(std::string("StateChange ") + StateName(FCli.State()));
    };
    Cli.OnSessionConnected = [add](TObject*) { add("SessionConnected"); };
    Cli.OnRequestHeaderBegin = [add](TObject*) { add("RequestHeaderBegin"); };
    Cli.OnRequestHeaderEnd = [add](TObject*) { add("RequestHeaderEnd"); };
    Cli.OnCommand = [add](TObject*, const std::string& S) { add("Command " + S); };
    Cli.OnHeaderBegin = [add](TObject*) { add("HeaderBegin"); };
    Cli.OnHeaderData = [this, add](TObject*) {
      const TStringList& lines = *FCli.HeaderLines();
      add("HeaderData " + lines.Strings(lines.Count() - 1));
    };
    Cli.OnHeaderEnd = [add](TObject*) { add("HeaderEnd"); };
    Cli.OnDocBegin = [add](TObject*) { add("DocBegin"); };
    Cli.OnDocData = [this](TObject*, const void*, std::int32_t) {
      if (FEvents.empty() || FEvents.back() != "DocData") FEvents.push_back("DocData");
    };
    Cli.OnDocEnd = [add](TObject*) { add("DocEnd"); };
    Cli.OnLocationChange = [add](TObject*) { add("LocationChange"); };
    Cli.OnSendBegin = [add](TObject*) { add("SendBegin"); };
    Cli.OnSendData = [this](TObject*, const void*, std::int32_t) {
      if (FEvents.empty() || FEvents.back() != "SendData") FEvents.push_back("SendData");
    };
    Cli.OnSendEnd = [add](TObject*) { add("SendEnd"); };
    Cli.OnRequestDone = [this, add](TObject*, THttpRequest, std::uint16_t Error) {
      add("RequestDone " + std::to_string(Error));
      ++FDone;
    };
  }

  const std::vector<std::string>& Events() const { return FEvents; }
  // Events whose text starts with Prefix.
  std::vector<std::string> Only(const std::string& Prefix) const {
    std::vector<std::string> out;
    for (const auto& e : FEvents)
      if (e.compare(0, Prefix.size(), Prefix) == 0) out.push_back(e);
    return out;
  }
  int Done() const { return FDone; }
  void Clear() {
    FEvents.clear();
    FDone = 0;
  }
  // Pumps messages until OnRequestDone has fired Count times in all (or the time is up).
  bool WaitDone(int Count = 1, std::chrono::milliseconds Timeout = std::chrono::seconds(20)) {
    return testsupport::PumpUntil([&] { return FDone >= Count; }, Timeout);
  }

 private:
  THttpCli& FCli;
  std::vector<std::string> FEvents;
  int FDone = 0;
};

// Pumps messages until OnRequestDone fired (for a component without a TEventLog).
inline bool WaitFor(const bool& Flag,
                    std::chrono::milliseconds Timeout = std::chrono::seconds(20)) {
  return testsupport::PumpUntil([&] { return Flag; }, Timeout);
}

// A file of Size bytes of the pattern stream Seed, with its CRC.
inline std::uint32_t PatternCrc(std::uint64_t Seed, std::size_t Size) {
  testsupport::Crc32 crc;
  std::string block(1 << 16, '\0');
  for (std::size_t at = 0; at < Size; at += block.size()) {
    const std::size_t n = std::min(block.size(), Size - at);
    testsupport::FillPattern(Seed, at, block.data(), n);
    crc.Update(block.data(), n);
  }
  return crc.Value();
}

}  // namespace httptest
