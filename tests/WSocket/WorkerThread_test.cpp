// A socket in a worker thread of its own (MultiThreaded): the thread creates its
// components, runs its own message loop and talks to a server that lives on the test's
// main thread, which waits with the wait control meanwhile. Every event must run on the
// thread that owns its component.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "WSocket/LineTestSupport.h"
#include "WSocket/WSocket.h"
#include "Wait/Wait.h"
#include "support/FreePort.h"
#include "support/Pump.h"

using namespace std::chrono_literals;
using linetest::LineSocket;
using testsupport::PumpUntil;

namespace {

void QuitTimerProc(plat::HWND, plat::UINT, std::uintptr_t, plat::DWORD) {
  plat::PostQuitMessage(1);
}

std::atomic<bool> WatchdogFired{false};

void WatchdogProc(plat::HWND, plat::UINT, std::uintptr_t, plat::DWORD) {
  WatchdogFired = true;
  plat::PostQuitMessage(99);
}

// Ends the worker's message loop if the test goes wrong; a thread timer of the worker.
struct WorkerWatchdog {
  explicit WorkerWatchdog(plat::UINT Ms)
      : Id(plat::SetTimer(0, 0, Ms, reinterpret_cast<void*>(&WatchdogProc))) {}
  ~WorkerWatchdog() { plat::KillTimer(0, Id); }
  WorkerWatchdog(const WorkerWatchdog&) = delete;
  WorkerWatchdog& operator=(const WorkerWatchdog&) = delete;
  std::uintptr_t Id;
};

// Records the threads that events ran on.
struct ThreadLog {
  std::vector<std::thread::id> Ids;
  void Attach(TCustomWSocket& S) {
    S.OnChangeState = [this](TObject*, TSocketState, TSocketState) {
      Ids.push_back(std::this_thread::get_id());
    };
    S.OnSessionConnected = [this](TObject*, std::uint16_t) {
      Ids.push_back(std::this_thread::get_id());
    };
    S.OnDataSent = [this](TObject*, std::uint16_t) { Ids.push_back(std::this_thread::get_id()); };
  }
  bool AllOn(std::thread::id Id) const {
    for (const auto& i : Ids)
      if (i != Id) return false;
    return !Ids.empty();
  }
};

// A listening component on the calling thread whose accepted connections go to sockets
// of that thread, which wait with the wait control.
class MainServer {
 public:
  explicit MainServer(TWait& Wait) : FWait(Wait) {}
  ~MainServer() {
    Served.clear();
    Listener.reset();
  }

  bool Start() {
    Listener = std::make_unique<LineSocket>(nullptr);
    Listener->SetAddr("127.0.0.1");
    Listener->SetPort("0");
    Log.Attach(*Listener);
    Listener->OnSessionAvailable = [this](TObject*, std::uint16_t) {
      const plat::SOCKET h = Listener->Accept();
      if (h == plat::INVALID_SOCKET) return;
      Served.push_back(std::make_unique<LineSocket>(nullptr));
      Served.back()->SetWaitCtrl(&FWait);
      Log.Attach(*Served.back());
      Served.back()->Dup(h);
    };
    if (Listener->Listen() != 0) return false;
    Port = Listener->GetXPort();
    return Port != "error";
  }

  std::unique_ptr<LineSocket> Listener;
  std::vector<std::unique_ptr<LineSocket>> Served;
  std::string Port;
  ThreadLog Log;

 private:
  TWait& FWait;
};

class WorkerThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Wait.SetInterval(50);
    WatchdogFired = false;
  }
  void TearDown() override { EXPECT_FALSE(WatchdogFired); }

  // Runs Body on a worker thread and joins it; the worker's watchdog bounds its loops.
  template <typename F>
  void RunWorker(F Body, const std::function<void()>& WhileRunning = nullptr) {
    std::promise<void> finished;
    auto done = finished.get_future();
    std::thread worker([&] {
      {
        WorkerWatchdog guard(8000);
        Body();
        // Nothing of the worker may remain for the next test: its components are gone,
        // and so must be their messages.
        plat::MSG msg;
        while (plat::PeekMessageA(&msg, 0, 0, 0, plat::PM_REMOVE)) {
        }
      }
      finished.set_value();
    });
    if (WhileRunning) WhileRunning();
    // The main thread keeps its queue going (the server lives here) until the worker ends.
    PumpUntil([&] { return done.wait_for(0s) == std::future_status::ready; }, 10s);
    worker.join();
  }

  TWait Wait{nullptr};
};

// The worker connects with a deadline Wait, reads a line with a deadline ReadLine and
// answers; the main thread's server reads the answer with a modal ReadLine, then closes,
// which ends the worker's message loop through OnSessionClosed.
TEST_F(WorkerThreadTest, WorkerTalksToAServerOnTheMainThread) {
  MainServer server(Wait);
  ASSERT_TRUE(server.Start());
  const std::thread::id mainId = std::this_thread::get_id();
  std::thread::id workerId;
  ThreadLog workerLog;
  bool connected = false;
  std::string greeting;
  std::string second;
  std::atomic<bool> reading{false};
  bool loopEnded = false;
  TSocketState atEnd = wsInvalidState;
  std::atomic<bool> answered{false};

  RunWorker(
      [&] {
        workerId = std::this_thread::get_id();
        LineSocket client(nullptr);
        client.SetMultiThreaded(true);
        client.SetAddr("127.0.0.1");
        client.SetPort(server.Port);
        workerLog.Attach(client);
        client.OnSessionClosed = [&](TObject*, std::uint16_t) {
          workerLog.Ids.push_back(std::this_thread::get_id());
          plat::PostQuitMessage(0);
        };
        client.Connect();
        connected = client.Wait(2, wsConnected);
        reading = true;
        // Both lines come in one piece while the first ReadLine waits; the second stays
        // in the socket (there is no OnDataAvailable handler to take it).
        client.ReadLine(2, greeting);
        client.ReadLine(2, second);
        client.SendStr("reply from the worker\r\nand more\n");
        client.Flush();
        answered = true;
        TCustomWSocket::MessageLoop();
        loopEnded = true;
        atEnd = client.State();
      },
      [&] {
        ASSERT_TRUE(PumpUntil([&] { return !server.Served.empty() && reading; }, 3s));
        PumpUntil([] { return false; }, 50ms);
        LineSocket& served = *server.Served[0];
        served.SendStr("hello from main\r\nsecond line\n");
        std::string reply;
        served.ReadLine(40, reply);
        EXPECT_EQ(reply, "reply from the worker");
        served.ReadLine(40, reply);
        EXPECT_EQ(reply, "and more");
        EXPECT_TRUE(PumpUntil([&] { return answered.load(); }, 3s));
        served.Close();
      });

  EXPECT_TRUE(connected);
  EXPECT_EQ(greeting, "hello from main");
  EXPECT_EQ(second, "second line");
  EXPECT_TRUE(loopEnded);
  EXPECT_EQ(atEnd, wsClosed);
  EXPECT_NE(workerId, mainId);
  EXPECT_TRUE(workerLog.AllOn(workerId)) << "a worker event ran on another thread";
  EXPECT_TRUE(server.Log.AllOn(mainId)) << "a server event ran on the worker";
}

// The deadline ReadLine of a worker runs out with a partial line, which the next one
// continues once the rest has come; a quit posted to the worker ends a deadline wait
// early and still reaches the worker's own loop.
TEST_F(WorkerThreadTest, DeadlineReadLineRunsOutAndQuitEndsItEarly) {
  MainServer server(Wait);
  ASSERT_TRUE(server.Start());
  std::string first;
  std::string second;
  bool lineModeAfterTimeOut = false;
  std::chrono::steady_clock::duration timedOut{};
  std::chrono::steady_clock::duration quitted{};
  std::string afterQuit = "untouched";
  bool loopEnded = false;
  std::atomic<int> phase{0};

  RunWorker(
      [&] {
        LineSocket client(nullptr);
        client.SetMultiThreaded(true);
        client.SetAddr("127.0.0.1");
        client.SetPort(server.Port);
        client.Connect();
        if (!client.Wait(2, wsConnected)) return;
        phase = 1;  // the server sends "part"
        auto start = std::chrono::steady_clock::now();
        client.ReadLine(1, first);
        timedOut = std::chrono::steady_clock::now() - start;
        lineModeAfterTimeOut = client.LineMode();
        phase = 2;  // the server sends the rest
        client.ReadLine(2, second);

        // A quit 100 ms into a wait of 5 s.
        plat::SetTimer(0, 0, 100, reinterpret_cast<void*>(&QuitTimerProc));
        start = std::chrono::steady_clock::now();
        client.ReadLine(5, afterQuit);
        quitted = std::chrono::steady_clock::now() - start;
        TCustomWSocket::MessageLoop();  // returns at once: the quit was kept for it
        loopEnded = true;
      },
      [&] {
        ASSERT_TRUE(PumpUntil([&] { return phase == 1 && !server.Served.empty(); }, 3s));
        server.Served[0]->SendStr("part");
        ASSERT_TRUE(PumpUntil([&] { return phase == 2; }, 3s));
        server.Served[0]->SendStr("ial\n");
      });

  EXPECT_EQ(first, "part");
  EXPECT_TRUE(lineModeAfterTimeOut);
  EXPECT_GE(timedOut, 950ms);
  EXPECT_EQ(second, "partial");
  EXPECT_LT(quitted, 2s);
  EXPECT_EQ(afterQuit, "");
  EXPECT_TRUE(loopEnded);
}

// A refused connection in a worker: the deadline Wait for wsConnected sees the state
// pass on to wsClosed and runs to its deadline, answering false.
TEST_F(WorkerThreadTest, DeadlineWaitForARefusedConnection) {
  testsupport::ReservedPort refused;
  ASSERT_NE(refused.Port(), 0);
  bool result = true;
  TSocketState after = wsInvalidState;
  std::chrono::steady_clock::duration took{};
  RunWorker([&] {
    LineSocket client(nullptr);
    client.SetMultiThreaded(true);
    client.SetAddr("127.0.0.1");
    client.SetPort(std::to_string(refused.Port()));
    client.Connect();
    const auto start = std::chrono::steady_clock::now();
    result = client.Wait(1, wsConnected);
    took = std::chrono::steady_clock::now() - start;
    after = client.State();
  });
  EXPECT_FALSE(result);
  EXPECT_EQ(after, wsClosed);
  EXPECT_GE(took, 950ms);
}

}  // namespace
