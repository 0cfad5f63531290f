// One request's receive stream: owned by the operation that waits for the request, lent
// to the shared client while it runs, and taken back on every way out, also when the
// exception hook or the end of a component took it or the client away meanwhile.
#pragma once

#include <memory>

#include "Host/Streams.h"
#include "HttpProt/HttpCli.h"
#include "Orvane/HttpEvents.h"

class TReceiveLoan {
 public:
  TReceiveLoan(THttpCli& Cli, std::unique_ptr<TStream> Stream)
      : FCli(&Cli), FStream(std::move(Stream)) {
    Cli.SetRcvdStream(FStream.get());
  }
  ~TReceiveLoan() { TakeBack(); }
  TReceiveLoan(const TReceiveLoan&) = delete;
  TReceiveLoan& operator=(const TReceiveLoan&) = delete;

  // The client, while it exists.
  THttpCli* Client() const {
    return TSharedHttpClient::Instance().Client() == FCli ? FCli : nullptr;
  }
  // The request no longer writes to the stream: the hook ended its wait, or the client
  // went.
  bool Taken() const { return !Client() || FCli->RcvdStream() != FStream.get(); }
  TStream& Stream() const { return *FStream; }
  // Takes the stream back from the client and frees it (closing a file).
  void Close() {
    TakeBack();
    FStream.reset();
  }

 private:
  void TakeBack() {
    if (THttpCli* cli = Client(); cli && FStream && cli->RcvdStream() == FStream.get())
      cli->SetRcvdStream(nullptr);
  }

  THttpCli* FCli;
  std::unique_ptr<TStream> FStream;
};

// Unbinds the shared client's OnDocData, which watched one request's bytes, on every way
// out of the operation that waited for it.
struct TDocDataRelease {
  ~TDocDataRelease() {
    if (THttpCli* cli = TSharedHttpClient::Instance().Client()) cli->OnDocData = nullptr;
  }
};
