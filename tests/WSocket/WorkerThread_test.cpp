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
    for (const auto& I : Ids)
      if (I != Id) return false;
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
      const plat::SOCKET H = Listener->Accept();
      if (H == plat::INVALID_SOCKET) return;
      Served.push_back(std::make_unique<LineSocket>(nullptr));
      Served.back()->SetWaitCtrl(&FWait);
      Log.Attach(*Served.back());
      Served.back()->Dup(H);
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
    std::promise<void> Finished;
    auto Done = Finished.get_future();
    std::thread Worker([&] {
      {
        WorkerWatchdog Guard(8000);
        Body();
        // Nothing of the worker may remain for the next test: its components are gone,
        // and so must be their messages.
        plat::MSG Msg;
        while (plat::PeekMessageA(&Msg, 0, 0, 0, plat::PM_REMOVE)) {
        }
      }
      Finished.set_value();
    });
    if (WhileRunning) WhileRunning();
    // The main thread keeps its queue going (the server lives here) until the worker ends.
    PumpUntil([&] { return Done.wait_for(0s) == std::future_status::ready; }, 10s);
    Worker.join();
  }

  TWait Wait{nullptr};
};

// The worker connects with a deadline Wait, reads a line with a deadline ReadLine and
// answers; the main thread's server reads the answer with a modal ReadLine, then closes,
// which ends the worker's message loop through OnSessionClosed.
TEST_F(WorkerThreadTest, WorkerTalksToAServerOnTheMainThread) {
  MainServer Server(Wait);
  ASSERT_TRUE(Server.Start());
  const std::thread::id MainId = std::this_thread::get_id();
  std::thread::id WorkerId;
  ThreadLog WorkerLog;
  bool Connected = false;
  std::string Greeting;
  std::string Second;
  std::atomic<bool> Reading{false};
  bool LoopEnded = false;
  TSocketState AtEnd = wsInvalidState;
  std::atomic<bool> Answered{false};

  RunWorker(
      [&] {
        WorkerId = std::this_thread::get_id();
        LineSocket Client(nullptr);
        Client.SetMultiThreaded(true);
        Client.SetAddr("127.0.0.1");
        Client.SetPort(Server.Port);
        WorkerLog.Attach(Client);
        Client.OnSessionClosed = [&](TObject*, std::uint16_t) {
          WorkerLog.Ids.push_back(std::this_thread::get_id());
          plat::PostQuitMessage(0);
        };
        Client.Connect();
        Connected = Client.Wait(2, wsConnected);
        Reading = true;
        // Both lines come in one piece while the first ReadLine waits; the second stays
        // in the socket (there is no OnDataAvailable handler to take it).
        Client.ReadLine(2, Greeting);
        Client.ReadLine(2, Second);
        Client.SendStr("reply from the worker\r\nand more\n");
        Client.Flush();
        Answered = true;
        TCustomWSocket::MessageLoop();
        LoopEnded = true;
        AtEnd = Client.State();
      },
      [&] {
        ASSERT_TRUE(PumpUntil([&] { return !Server.Served.empty() && Reading; }, 3s));
        PumpUntil([] { return false; }, 50ms);
        LineSocket& Served = *Server.Served[0];
        Served.SendStr("hello from main\r\nsecond line\n");
        std::string Reply;
        Served.ReadLine(40, Reply);
        EXPECT_EQ(Reply, "reply from the worker");
        Served.ReadLine(40, Reply);
        EXPECT_EQ(Reply, "and more");
        EXPECT_TRUE(PumpUntil([&] { return Answered.load(); }, 3s));
        Served.Close();
      });

  EXPECT_TRUE(Connected);
  EXPECT_EQ(Greeting, "hello from main");
  EXPECT_EQ(Second, "second line");
  EXPECT_TRUE(LoopEnded);
  EXPECT_EQ(AtEnd, wsClosed);
  EXPECT_NE(WorkerId, MainId);
  EXPECT_TRUE(WorkerLog.AllOn(WorkerId)) << "a worker event ran on another thread";
  EXPECT_TRUE(Server.Log.AllOn(MainId)) << "a server event ran on the worker";
}

// The deadline ReadLine of a worker runs out with a partial line, which the next one
// continues once the rest has come; a quit posted to the worker ends a deadline wait
// early and still reaches the worker's own loop.
TEST_F(WorkerThreadTest, DeadlineReadLineRunsOutAndQuitEndsItEarly) {
  MainServer Server(Wait);
  ASSERT_TRUE(Server.Start());
  std::string First;
  std::string Second;
  bool LineModeAfterTimeOut = false;
  std::chrono::steady_clock::duration TimedOut{};
  std::chrono::steady_clock::duration Quitted{};
  std::string AfterQuit = "untouched";
  bool LoopEnded = false;
  std::atomic<int> Phase{0};

  RunWorker(
      [&] {
        LineSocket Client(nullptr);
        Client.SetMultiThreaded(true);
        Client.SetAddr("127.0.0.1");
        Client.SetPort(Server.Port);
        Client.Connect();
        if (!Client.Wait(2, wsConnected)) return;
        Phase = 1;  // the server sends "part"
        auto Start = std::chrono::steady_clock::now();
        Client.ReadLine(1, First);
        TimedOut = std::chrono::steady_clock::now() - Start;
        LineModeAfterTimeOut = Client.LineMode();
        Phase = 2;  // the server sends the rest
        Client.ReadLine(2, Second);

        // A quit 100 ms into a wait of 5 s.
        plat::SetTimer(0, 0, 100, reinterpret_cast<void*>(&QuitTimerProc));
        Start = std::chrono::steady_clock::now();
        Client.ReadLine(5, AfterQuit);
        Quitted = std::chrono::steady_clock::now() - Start;
        TCustomWSocket::MessageLoop();  // returns at once: the quit was kept for it
        LoopEnded = true;
      },
      [&] {
        ASSERT_TRUE(PumpUntil([&] { return Phase == 1 && !Server.Served.empty(); }, 3s));
        Server.Served[0]->SendStr("part");
        ASSERT_TRUE(PumpUntil([&] { return Phase == 2; }, 3s));
        Server.Served[0]->SendStr("ial\n");
      });

  EXPECT_EQ(First, "part");
  EXPECT_TRUE(LineModeAfterTimeOut);
  EXPECT_GE(TimedOut, 950ms);
  EXPECT_EQ(Second, "partial");
  EXPECT_LT(Quitted, 2s);
  EXPECT_EQ(AfterQuit, "");
  EXPECT_TRUE(LoopEnded);
}

// A refused connection in a worker: the deadline Wait for wsConnected sees the state
// pass on to wsClosed and runs to its deadline, answering false.
TEST_F(WorkerThreadTest, DeadlineWaitForARefusedConnection) {
  testsupport::ReservedPort Refused;
  ASSERT_NE(Refused.Port(), 0);
  bool Result = true;
  TSocketState After = wsInvalidState;
  std::chrono::steady_clock::duration Took{};
  RunWorker([&] {
    LineSocket Client(nullptr);
    Client.SetMultiThreaded(true);
    Client.SetAddr("127.0.0.1");
    Client.SetPort(std::to_string(Refused.Port()));
    Client.Connect();
    const auto Start = std::chrono::steady_clock::now();
    Result = Client.Wait(1, wsConnected);
    Took = std::chrono::steady_clock::now() - Start;
    After = Client.State();
  });
  EXPECT_FALSE(Result);
  EXPECT_EQ(After, wsClosed);
  EXPECT_GE(Took, 950ms);
}

}  // namespace
