// Asynchronous look-ups with a resolver whose answers and timing the tests decide.
#include <arpa/inet.h>

#include <array>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

#include "Platform/Resolver.h"
#include "WinsockTestSupport.h"

namespace wstest {
namespace {

// Holds resolver calls until opened.
class Gate {
 public:
  void Open() {
    std::lock_guard lock(mu_);
    open_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, std::chrono::seconds(2), [this] { return open_; });
  }
  void Entered() {
    std::lock_guard lock(mu_);
    ++entered_;
    cv_.notify_all();
  }
  bool WaitEntered(int n) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(2), [&] { return entered_ >= n; });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool open_ = false;
  int entered_ = 0;
};

plat::resolver::HostInfo ThreeAddresses() {
  plat::resolver::HostInfo info;
  info.name = "server.example.test";
  info.aliases = {"www.example.test", "w3.example.test"};
  info.addrs = {plat::inet_addr("10.0.0.1"), plat::inet_addr("10.0.0.2"),
                plat::inet_addr("10.0.0.3")};
  return info;
}

class LookupTest : public WinsockTest {
 protected:
  void SetUp() override {
    WinsockTest::SetUp();
    gate_ = std::make_shared<Gate>();
    auto gate = gate_;
    plat::resolver::SetForward([gate](const std::string& name) {
      gate->Entered();
      gate->Wait();
      plat::resolver::HostInfo info;
      if (name == "three.test") return ThreeAddresses();
      if (name == "missing.test") info.error = plat::WSAHOST_NOT_FOUND;
      if (name == "retry.test") info.error = plat::WSATRY_AGAIN;
      if (info.error == 0) {
        info.name = name;
        if (name != "six.test") info.addrs = {plat::inet_addr("192.0.2.7")};
        if (name == "six.test" || name == "dual.test") {
          std::array<std::uint8_t, 16> a6{};
          ::inet_pton(AF_INET6, "2001:db8::1", a6.data());
          info.addrs6 = {a6};
        }
      }
      return info;
    });
    plat::resolver::SetReverse([gate](std::uint32_t addr) {
      gate->Entered();
      gate->Wait();
      plat::resolver::HostInfo info;
      info.name = "reverse.example.test";
      info.addrs = {addr};
      return info;
    });
  }
  void TearDown() override {
    gate_->Open();
    plat::resolver::SetForward(nullptr);
    plat::resolver::SetReverse(nullptr);
    WinsockTest::TearDown();
  }

  std::vector<Note> Completions(plat::HANDLE task) {
    std::vector<Note> out;
    for (const Note& n : Log()) {
      if ((n.message == kByNameMsg || n.message == kByAddrMsg) && n.wParam == task)
        out.push_back(n);
    }
    return out;
  }

  std::shared_ptr<Gate> gate_;
};

bool Inside(const void* p, const char* buf, std::size_t size) {
  const auto* c = static_cast<const char*>(p);
  return c >= buf && c < buf + size;
}

TEST_F(LookupTest, HostEntryIsLaidOutInsideTheBuffer) {
  alignas(8) char buf[1024];
  std::memset(buf, 0xAB, sizeof buf);
  gate_->Open();
  const plat::HANDLE task =
      plat::WSAAsyncGetHostByName(Wnd(), kByNameMsg, "three.test", buf, sizeof buf);
  ASSERT_NE(task, 0u);
  ASSERT_TRUE(PumpUntil([&] { return !Completions(task).empty(); }));
  const Note n = Completions(task).front();
  EXPECT_EQ(n.message, kByNameMsg);
  ASSERT_EQ(plat::HIWORD(n.lParam), 0);
  const std::size_t size = plat::LOWORD(n.lParam);
  ASSERT_GT(size, sizeof(hostent));
  ASSERT_LE(size, sizeof buf);

  hostent h;
  std::memcpy(&h, buf, sizeof h);
  EXPECT_EQ(h.h_addrtype, AF_INET);
  EXPECT_EQ(h.h_length, 4);
  ASSERT_TRUE(Inside(h.h_name, buf, size));
  EXPECT_STREQ(h.h_name, "server.example.test");
  ASSERT_TRUE(Inside(h.h_aliases, buf, size));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(h.h_aliases) % sizeof(char*), 0u);
  ASSERT_TRUE(Inside(h.h_aliases[0], buf, size));
  EXPECT_STREQ(h.h_aliases[0], "www.example.test");
  EXPECT_STREQ(h.h_aliases[1], "w3.example.test");
  EXPECT_EQ(h.h_aliases[2], nullptr);
  ASSERT_TRUE(Inside(h.h_addr_list, buf, size));
  const char* expected[] = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(Inside(h.h_addr_list[i], buf, size));
    in_addr a;
    std::memcpy(&a, h.h_addr_list[i], 4);
    EXPECT_STREQ(plat::inet_ntoa(a), expected[i]);
  }
  EXPECT_EQ(h.h_addr_list[3], nullptr);
  // Nothing beyond the reported size was touched.
  for (std::size_t i = size; i < sizeof buf; ++i) ASSERT_EQ(buf[i], static_cast<char>(0xAB));
}

TEST_F(LookupTest, EntriesOfBothFamiliesListIpv6ThenMappedIpv4) {
  alignas(8) char buf[1024];
  gate_->Open();
  const plat::HANDLE task =
      plat::WSAAsyncGetHostByName6(Wnd(), kByNameMsg, "dual.test", buf, sizeof buf);
  ASSERT_TRUE(PumpUntil([&] { return !Completions(task).empty(); }));
  ASSERT_EQ(plat::HIWORD(Completions(task).front().lParam), 0);
  hostent h;
  std::memcpy(&h, buf, sizeof h);
  EXPECT_EQ(h.h_addrtype, AF_INET6);
  EXPECT_EQ(h.h_length, 16);
  char text[INET6_ADDRSTRLEN];
  ASSERT_NE(h.h_addr_list[0], nullptr);
  EXPECT_STREQ(::inet_ntop(AF_INET6, h.h_addr_list[0], text, sizeof text), "2001:db8::1");
  ASSERT_NE(h.h_addr_list[1], nullptr);
  EXPECT_STREQ(::inet_ntop(AF_INET6, h.h_addr_list[1], text, sizeof text), "::ffff:192.0.2.7");
  EXPECT_EQ(h.h_addr_list[2], nullptr);
  // The blocking call lays it out the same; the IPv4 calls find nothing for an IPv6-only name.
  const hostent* both = plat::gethostbyname6("six.test");
  ASSERT_NE(both, nullptr);
  EXPECT_STREQ(::inet_ntop(AF_INET6, both->h_addr_list[0], text, sizeof text), "2001:db8::1");
  EXPECT_EQ(both->h_addr_list[1], nullptr);
  EXPECT_EQ(plat::gethostbyname("six.test"), nullptr);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSANO_DATA);
  const plat::HANDLE v4 =
      plat::WSAAsyncGetHostByName(Wnd(), kByNameMsg, "six.test", buf, sizeof buf);
  ASSERT_TRUE(PumpUntil([&] { return !Completions(v4).empty(); }));
  EXPECT_EQ(plat::HIWORD(Completions(v4).front().lParam), plat::WSANO_DATA);
}

TEST_F(LookupTest, OneByteTooSmallReportsTheSizeAndWritesNothing) {
  alignas(8) char probe[1024];
  gate_->Open();
  const plat::HANDLE t1 =
      plat::WSAAsyncGetHostByName(Wnd(), kByNameMsg, "three.test", probe, sizeof probe);
  ASSERT_TRUE(PumpUntil([&] { return !Completions(t1).empty(); }));
  const int need = plat::LOWORD(Completions(t1).front().lParam);

  alignas(8) char buf[1024];
  std::memset(buf, 0x5C, sizeof buf);
  const plat::HANDLE t2 =
      plat::WSAAsyncGetHostByName(Wnd(), kByNameMsg, "three.test", buf, need - 1);
  ASSERT_TRUE(PumpUntil([&] { return !Completions(t2).empty(); }));
  const Note n = Completions(t2).front();
  EXPECT_EQ(plat::HIWORD(n.lParam), plat::WSAENOBUFS);
  EXPECT_EQ(plat::LOWORD(n.lParam), need);
  for (char c : buf) ASSERT_EQ(c, 0x5C);
}

TEST_F(LookupTest, FailuresCarryTheResolverError) {
  char buf[1024];
  gate_->Open();
  const plat::HANDLE t1 =
      plat::WSAAsyncGetHostByName(Wnd(), kByNameMsg, "missing.test", buf, sizeof buf);
  const plat::HANDLE t2 =
      plat::WSAAsyncGetHostByName(Wnd(), kByNameMsg, "retry.test", buf, sizeof buf);
  ASSERT_TRUE(PumpUntil([&] { return !Completions(t1).empty() && !Completions(t2).empty(); }));
  EXPECT_EQ(plat::HIWORD(Completions(t1).front().lParam), plat::WSAHOST_NOT_FOUND);
  EXPECT_EQ(plat::HIWORD(Completions(t2).front().lParam), plat::WSATRY_AGAIN);
}

TEST_F(LookupTest, CancelBeforeCompletionPostsNothingAndNeverWrites) {
  // The buffer is freed right after the cancel: a late write would be a use after free.
  auto* buf = new char[1024];
  const plat::HANDLE task = plat::WSAAsyncGetHostByName(Wnd(), kByNameMsg, "late.test", buf, 1024);
  ASSERT_NE(task, 0u);
  ASSERT_TRUE(gate_->WaitEntered(1));
  EXPECT_EQ(plat::WSACancelAsyncRequest(task), 0);
  delete[] buf;
  gate_->Open();
  PumpFor(100);
  EXPECT_TRUE(Completions(task).empty());
  // Cancelled tasks are forgotten.
  EXPECT_EQ(plat::WSACancelAsyncRequest(task), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEINVAL);
}

TEST_F(LookupTest, CancelAfterDeliveryAndOfUnknownHandles) {
  char buf[1024];
  gate_->Open();
  const plat::HANDLE task =
      plat::WSAAsyncGetHostByName(Wnd(), kByNameMsg, "done.test", buf, sizeof buf);
  ASSERT_TRUE(PumpUntil([&] { return !Completions(task).empty(); }));
  EXPECT_EQ(plat::WSACancelAsyncRequest(task), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEALREADY);
  EXPECT_EQ(plat::WSACancelAsyncRequest(0), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEINVAL);
  EXPECT_EQ(plat::WSACancelAsyncRequest(task ^ (plat::HANDLE{1} << 40)), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEINVAL);
}

TEST_F(LookupTest, WindowDestroyedDuringTheLookupGetsNoWrite) {
  RecordingWindow other;
  auto* buf = new char[1024];
  const plat::HANDLE task =
      plat::WSAAsyncGetHostByName(other.Handle(), kByNameMsg, "gone.test", buf, 1024);
  ASSERT_NE(task, 0u);
  ASSERT_TRUE(gate_->WaitEntered(1));
  other.Destroy();
  delete[] buf;
  gate_->Open();
  PumpFor(100);
  EXPECT_TRUE(Completions(task).empty());
}

TEST_F(LookupTest, LastCleanupCancelsPendingLookupsSilently) {
  auto* buf = new char[1024];
  const plat::HANDLE task = plat::WSAAsyncGetHostByName(Wnd(), kByNameMsg, "slow.test", buf, 1024);
  ASSERT_NE(task, 0u);
  ASSERT_TRUE(gate_->WaitEntered(1));
  ASSERT_EQ(plat::WSACleanup(), 0);
  delete[] buf;
  gate_->Open();
  PumpFor(100);
  EXPECT_TRUE(Completions(task).empty());
  plat::WSADATA data;
  ASSERT_EQ(plat::WSAStartup(0x0101, &data), 0);  // for TearDown's clean-up
}

TEST_F(LookupTest, ReverseLookupGivesTheNameAndTheAddress) {
  char buf[1024];
  gate_->Open();
  const std::uint32_t a = plat::inet_addr("192.0.2.9");
  const plat::HANDLE task = plat::WSAAsyncGetHostByAddr(
      Wnd(), kByAddrMsg, reinterpret_cast<const char*>(&a), 4, AF_INET, buf, sizeof buf);
  ASSERT_NE(task, 0u);
  ASSERT_TRUE(PumpUntil([&] { return !Completions(task).empty(); }));
  EXPECT_EQ(Completions(task).front().message, kByAddrMsg);
  hostent h;
  std::memcpy(&h, buf, sizeof h);
  EXPECT_STREQ(h.h_name, "reverse.example.test");
  ASSERT_NE(h.h_addr_list[0], nullptr);
  EXPECT_EQ(std::memcmp(h.h_addr_list[0], &a, 4), 0);

  EXPECT_EQ(plat::WSAAsyncGetHostByAddr(Wnd(), kByAddrMsg, reinterpret_cast<const char*>(&a), 16,
                                        AF_INET, buf, sizeof buf),
            0u);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEFAULT);
}

TEST_F(LookupTest, StartFailsForAnUnknownWindowOrBeforeStartUp) {
  char buf[1024];
  EXPECT_EQ(plat::WSAAsyncGetHostByName(0x7777777, kByNameMsg, "x.test", buf, sizeof buf), 0u);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEINVAL);
  ASSERT_EQ(plat::WSACleanup(), 0);
  EXPECT_EQ(plat::WSAAsyncGetHostByName(Wnd(), kByNameMsg, "x.test", buf, sizeof buf), 0u);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSANOTINITIALISED);
  plat::WSADATA data;
  ASSERT_EQ(plat::WSAStartup(0x0101, &data), 0);
}

// With the system's resolver.
class SystemLookupTest : public WinsockTest {};

TEST_F(SystemLookupTest, LocalhostResolvesAndInvalidNamesFailWithoutTheNetwork) {
  alignas(8) char buf[1024];
  const plat::HANDLE t1 = plat::WSAAsyncGetHostByName(Wnd(), kByNameMsg, "localhost", buf, 1024);
  ASSERT_NE(t1, 0u);
  ASSERT_TRUE(PumpUntil([&] {
    for (const Note& n : Log())
      if (n.wParam == t1) return true;
    return false;
  }));
  const Note done = Log().back();
  ASSERT_EQ(plat::HIWORD(done.lParam), 0);
  hostent h;
  std::memcpy(&h, buf, sizeof h);
  ASSERT_NE(h.h_addr_list[0], nullptr);
  in_addr a;
  std::memcpy(&a, h.h_addr_list[0], 4);
  EXPECT_STREQ(plat::inet_ntoa(a), "127.0.0.1");

  const plat::HANDLE t2 =
      plat::WSAAsyncGetHostByName(Wnd(), kByNameMsg, "nothing.here.invalid", buf, 1024);
  ASSERT_TRUE(PumpUntil([&] {
    for (const Note& n : Log())
      if (n.wParam == t2) return true;
    return false;
  }));
  EXPECT_EQ(plat::HIWORD(Log().back().lParam), plat::WSAHOST_NOT_FOUND);

  EXPECT_EQ(plat::gethostbyname("x.invalid."), nullptr);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAHOST_NOT_FOUND);
  const hostent* local = plat::gethostbyname("localhost");
  ASSERT_NE(local, nullptr);
  ASSERT_NE(local->h_addr_list[0], nullptr);
  std::memcpy(&a, local->h_addr_list[0], 4);
  EXPECT_STREQ(plat::inet_ntoa(a), "127.0.0.1");
}

}  // namespace
}  // namespace wstest
