// A long echo between two of our own components over loopback, with writes and reads
// of random sizes: every byte must come back, in order, unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "WSocket/WSocket.h"
#include "support/Bytes.h"
#include "support/Pump.h"
#include "support/Sanitized.h"
#include "support/SocketServer.h"

using namespace std::chrono_literals;
using testsupport::PumpUntil;

namespace {

using testsupport::kSanitized;

// 100 MB normally; the sanitizers slow every byte down several times, so they get less.
constexpr std::uint64_t kEchoBytes = kSanitized ? (32ull << 20) : (100ull << 20);
// Bytes sent but not yet echoed back, at most: keeps both send queues bounded.
constexpr std::uint64_t kWindow = 4ull << 20;
constexpr std::uint64_t kSeed = 0x5eed;

// Sizes that hit the interesting places: single bytes, around the 1514-byte chunk,
// and large writes that span many chunks.
int RandomSize(std::mt19937_64& rng) {
  switch (rng() % 4) {
    case 0:
      return 1 + static_cast<int>(rng() % 64);
    case 1:
      return 1500 + static_cast<int>(rng() % 40);
    default:
      return 1 + static_cast<int>(rng() % 65536);
  }
}

}  // namespace

TEST(EchoBulk, RandomWriteSizesComeBackByteIdentical) {
  std::mt19937_64 serverRng(1);
  std::vector<char> serverBuf(65536);
  int serverClosed = 0;
  testsupport::SocketServer server([&](TWSocket& c, std::size_t) {
    c.OnDataAvailable = [&, cp = &c](TObject*, std::uint16_t) {
      const int n = cp->Receive(serverBuf.data(), RandomSize(serverRng));
      if (n > 0) cp->Send(serverBuf.data(), n);
    };
    c.OnSessionClosed = [&](TObject*, std::uint16_t) { ++serverClosed; };
  });
  ASSERT_TRUE(server.Start());

  auto client = testsupport::NewLoopbackClient(server.Port());
  std::mt19937_64 clientRng(2);
  std::uint64_t sent = 0, received = 0;
  long long mismatchAt = -1;
  int clientClosed = 0;
  std::vector<char> out(65536), in(65536);

  auto topUp = [&] {
    while (sent < kEchoBytes && sent - received < kWindow) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(
          static_cast<std::uint64_t>(RandomSize(clientRng)), kEchoBytes - sent));
      testsupport::FillPattern(kSeed, sent, out.data(), n);
      ASSERT_EQ(client->Send(out.data(), static_cast<std::int32_t>(n)), static_cast<int>(n));
      sent += n;
    }
  };
  client->OnSessionConnected = [&](TObject*, std::uint16_t e) {
    ASSERT_EQ(e, 0);
    topUp();
  };
  client->OnDataSent = [&](TObject*, std::uint16_t) { topUp(); };
  client->OnDataAvailable = [&](TObject*, std::uint16_t) {
    const int n = client->Receive(in.data(), RandomSize(clientRng));
    if (n <= 0) return;
    if (mismatchAt < 0) {
      const long long at =
          testsupport::FirstMismatch(kSeed, received, in.data(), static_cast<std::size_t>(n));
      if (at >= 0) mismatchAt = static_cast<long long>(received) + at;
    }
    received += static_cast<std::uint64_t>(n);
    topUp();
  };
  client->OnSessionClosed = [&](TObject*, std::uint16_t) { ++clientClosed; };

  const auto start = std::chrono::steady_clock::now();
  client->Connect();
  ASSERT_TRUE(
      PumpUntil([&] { return received >= kEchoBytes || mismatchAt >= 0 || clientClosed; }, 90s))
      << "sent " << sent << ", received " << received;
  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("echoed %llu bytes in %.2f s (%.0f MB/s each way)\n",
              static_cast<unsigned long long>(received), secs, received / secs / 1e6);
  EXPECT_EQ(mismatchAt, -1);
  EXPECT_EQ(received, kEchoBytes);
  EXPECT_EQ(clientClosed, 0);
  EXPECT_EQ(server.Accepted(), 1u);

  client->Close();
  ASSERT_TRUE(PumpUntil([&] { return serverClosed > 0; }, 10s));
  EXPECT_EQ(serverClosed, 1);
}
