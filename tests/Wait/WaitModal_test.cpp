// The modal wait: how it ends, what it lets through, and that the application's message
// hook is back in place on every way out.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "Host/Timer.h"
#include "Host/VisualTestSupport.h"
#include "Wait/Wait.h"

namespace {

using vtest::TRecordingWindow;
using vtest::TVisualTest;

class WaitModalTest : public TVisualTest {
 protected:
  void SetUp() override {
    TVisualTest::SetUp();
    // A hook of the application's own, which the modal wait must put back.
    Application->OnMessage = [this](plat::MSG&, bool&) { ++OuterHookCalls; };
    Wait.SetInterval(10);
    // Watchdog: whatever happens, no modal wait in these tests outlives it.
    Watchdog.SetInterval(3000);
    Watchdog.OnTimer = [this](TObject*) {
      WatchdogFired = true;
      Wait.Stop();
    };
  }
  void TearDown() override {
    EXPECT_FALSE(WatchdogFired);
    ExpectOuterHookBack();
    TVisualTest::TearDown();
  }
  void ExpectOuterHookBack() {
    ASSERT_TRUE(Application->OnMessage);
    int before = OuterHookCalls;
    plat::MSG msg;
    bool handled = false;
    Application->OnMessage(msg, handled);
    EXPECT_EQ(OuterHookCalls, before + 1) << "the previous hook was not put back";
  }

  TWait Wait{nullptr};
  TTimer Watchdog{nullptr};
  bool WatchdogFired = false;
  int OuterHookCalls = 0;
};

TEST_F(WaitModalTest, StopFromATimerHandlerEndsItWithOk) {
  TTimer stopper(nullptr);
  stopper.SetInterval(15);
  int stopperTicks = 0;
  stopper.OnTimer = [&](TObject*) {
    if (++stopperTicks == 2) Wait.Stop();
  };
  Wait.SetCaption("50");
  int starts = 0;
  Wait.OnWaitStart = [&](TObject*) {
    EXPECT_EQ(Wait.ModalResult(), mrNone);
    ++starts;
  };
  Wait.StartModal();
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(stopperTicks, 2);
  EXPECT_EQ(Wait.ModalResult(), mrOk);
  EXPECT_FALSE(Wait.Running());
  EXPECT_EQ(Wait.Caption(), "50");
}

TEST_F(WaitModalTest, EndsByItsOwnTimeOutWithCancel) {
  std::vector<int> counts;
  Wait.OnWait = [&](TObject*, std::int32_t Count) { counts.push_back(Count); };
  int timeouts = 0;
  Wait.OnTimeout = [&](TObject*) { ++timeouts; };
  Wait.SetModalResult(mrOk);  // reset to 0 when the wait starts
  Wait.SetCaption("3");
  Wait.StartModal();
  EXPECT_EQ(counts, std::vector<int>({2, 1, 0}));
  EXPECT_EQ(timeouts, 1);
  EXPECT_EQ(Wait.ModalResult(), mrCancel);
  EXPECT_EQ(Wait.Caption(), "3");
}

TEST_F(WaitModalTest, ClicksAndKeysBeepAndAreDroppedOtherMessagesGoOn) {
  TRecordingWindow target;
  const std::vector<plat::UINT> refused = {plat::WM_LBUTTONDOWN, plat::WM_LBUTTONDBLCLK,
                                           plat::WM_RBUTTONDOWN, plat::WM_RBUTTONDBLCLK,
                                           plat::WM_KEYDOWN,     plat::WM_SYSKEYDOWN};
  const std::vector<plat::UINT> passed = {plat::WM_MBUTTONDOWN, plat::WM_KEYUP, plat::WM_MOUSEMOVE,
                                          plat::WM_LBUTTONUP,   plat::WM_CHAR,  plat::WM_USER + 7};
  Wait.OnWaitStart = [&](TObject*) {
    for (size_t i = 0; i < refused.size(); ++i) {
      target.Post(refused[i]);
      target.Post(passed[i]);
    }
  };
  // The last message stops the wait, so everything before it has been through the hook.
  target.OnMessage = [&](plat::UINT Msg, plat::WPARAM) {
    if (Msg == plat::WM_USER + 7) Wait.Stop();
  };
  Wait.SetCaption("100");
  Wait.StartModal();
  EXPECT_EQ(target.Received, passed);
  EXPECT_EQ(Backend.Beeps(), std::vector<plat::UINT>(refused.size(), 0));
  EXPECT_EQ(Wait.ModalResult(), mrOk);

  // Outside the modal wait clicks are dispatched again, without a beep.
  target.Received.clear();
  target.Post(plat::WM_LBUTTONDOWN);
  Application->ProcessMessages();
  EXPECT_EQ(target.Received, std::vector<plat::UINT>({plat::WM_LBUTTONDOWN}));
  EXPECT_EQ(Backend.Beeps().size(), refused.size());
}

TEST_F(WaitModalTest, RepaintsAsItCountsDown) {
  Wait.SetCaption("4");
  Wait.StartModal();
  // One paint pending from construction, then one per tick that changed the count.
  EXPECT_GE(Backend.PaintCount(&Wait), 3);
  std::vector<std::string> texts;
  for (const auto& call : Backend.DrawingsOf(&Wait))
    if (call.Kind == TScriptedBackend::dkTextOut) texts.push_back(call.Text);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "1"), texts.end());
}

TEST_F(WaitModalTest, OnWaitingRunsOnEveryPass) {
  int passes = 0;
  Wait.OnWaiting = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &Wait);
    ++passes;
  };
  Wait.SetCaption("2");
  Wait.StartModal();
  EXPECT_GT(passes, 2);  // it does not wait between passes
  EXPECT_EQ(Wait.ModalResult(), mrCancel);
}

TEST_F(WaitModalTest, ErrorFromOnWaitingLeavesWithHookBackAndCountDownEnded) {
  Wait.SetCaption("20");
  Wait.OnWaiting = [](TObject*) { throw std::runtime_error("broken handler"); };
  EXPECT_THROW(Wait.StartModal(), std::runtime_error);
  EXPECT_FALSE(Wait.Running());
  EXPECT_EQ(Wait.Caption(), "20");
}

TEST_F(WaitModalTest, ErrorInsideADispatchedHandlerGoesToTheApplication) {
  std::vector<std::string> errors;
  Application->OnException = [&](TObject*, const Exception& E) { errors.push_back(E.Message()); };
  Wait.OnWait = [&](TObject*, std::int32_t Count) {
    if (Count == 1) throw Exception("tick failed");
  };
  Wait.SetCaption("3");
  Wait.StartModal();
  EXPECT_EQ(errors, std::vector<std::string>({"tick failed"}));
  EXPECT_EQ(Wait.ModalResult(), mrCancel);
}

// Every event kind, fired inside StartModal, may free the control and then use what its
// handler captured (by value: that lives in the handler the control held).
TEST_F(WaitModalTest, FreedByAnyOfItsHandlersEndsTheLoopSafely) {
  enum TKind { kWaitStart, kWaiting, kWait, kWaitStop, kTimeout };
  for (TKind kind : {kWaitStart, kWaiting, kWait, kWaitStop, kTimeout}) {
    SCOPED_TRACE(kind);
    auto* doomed = new TWait(nullptr);
    doomed->SetInterval(10);
    doomed->SetCaption(kind == kTimeout ? "2" : "5");
    std::vector<std::string> log;
    const std::string note = "handler " + std::to_string(kind) + " outlived its control";
    auto freeIt = [doomed, &log, note](TObject* Sender) {
      EXPECT_EQ(Sender, doomed);
      delete doomed;
      log.push_back(note);
    };
    TTimer stopper(nullptr);  // stops the wait from outside, for OnWaitStop
    stopper.SetEnabled(kind == kWaitStop);
    stopper.SetInterval(15);
    stopper.OnTimer = [doomed](TObject*) { doomed->Stop(); };
    switch (kind) {
      case kWaitStart:
        doomed->OnWaitStart = freeIt;
        break;
      case kWaiting:
        doomed->OnWaiting = freeIt;
        break;
      case kWait:
        doomed->OnWait = [freeIt](TObject* Sender, std::int32_t Count) {
          if (Count == 3) freeIt(Sender);
        };
        break;
      case kWaitStop:
        doomed->OnWaitStop = [freeIt, &stopper](TObject* Sender) {
          stopper.SetEnabled(false);
          freeIt(Sender);
        };
        break;
      case kTimeout:
        doomed->OnTimeout = freeIt;
        break;
    }
    doomed->StartModal();  // returns without touching the freed control
    EXPECT_EQ(log, std::vector<std::string>({note}));
    ExpectOuterHookBack();
  }
}

TEST_F(WaitModalTest, NestedWaitsPutTheirHooksBackInOrder) {
  TWait inner(nullptr);
  inner.SetInterval(10);
  inner.SetCaption("2");
  bool innerRan = false;
  Wait.SetCaption("100");
  Wait.OnWait = [&](TObject*, std::int32_t) {
    if (innerRan) return;
    innerRan = true;
    inner.StartModal();
    // Back in the outer wait: its own hook must be the one installed again.
    TRecordingWindow target;
    target.Post(plat::WM_KEYDOWN);
    target.Post(plat::WM_USER);
    target.OnMessage = [&](plat::UINT, plat::WPARAM) { Wait.Stop(); };
    Application->ProcessMessages();
    EXPECT_EQ(target.Received, std::vector<plat::UINT>({plat::WM_USER}));
  };
  Wait.StartModal();
  EXPECT_TRUE(innerRan);
  EXPECT_EQ(inner.ModalResult(), mrCancel);
  EXPECT_EQ(Wait.ModalResult(), mrOk);
}

TEST_F(WaitModalTest, QuitEndsTheWaitAndReachesTheOuterLoop) {
  auto outerHook = Application->OnMessage;
  vtest::TApplicationSwap swap;
  TApplication& app = swap.App();
  app.OnMessage = outerHook;
  TTimer quitter(nullptr);
  quitter.SetInterval(15);
  quitter.OnTimer = [&](TObject*) {
    quitter.SetEnabled(false);
    app.Terminate();
  };
  int timeouts = 0;
  Wait.OnTimeout = [&](TObject*) { ++timeouts; };
  Wait.SetCaption("200");
  Wait.StartModal();
  EXPECT_TRUE(app.Terminated());
  EXPECT_FALSE(Wait.Running());
  EXPECT_EQ(Wait.ModalResult(), mrCancel);
  EXPECT_EQ(Wait.Caption(), "200");
  EXPECT_EQ(timeouts, 0);
  ExpectOuterHookBack();  // on the application that ran the wait
  // The quit is still there for a loop outside that takes messages itself.
  plat::MSG msg;
  bool sawQuit = false;
  while (plat::PeekMessageA(&msg, 0, 0, 0, plat::PM_REMOVE))
    if (msg.message == plat::WM_QUIT) sawQuit = true;
  EXPECT_TRUE(sawQuit);

  // A terminated application does not start another modal wait.
  Wait.StartModal();
  EXPECT_EQ(Wait.ModalResult(), mrCancel);
  EXPECT_FALSE(Wait.Running());
}

}  // namespace
