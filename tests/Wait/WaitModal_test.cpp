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
    int Before = OuterHookCalls;
    plat::MSG Msg;
    bool Handled = false;
    Application->OnMessage(Msg, Handled);
    EXPECT_EQ(OuterHookCalls, Before + 1) << "the previous hook was not put back";
  }

  TWait Wait{nullptr};
  TTimer Watchdog{nullptr};
  bool WatchdogFired = false;
  int OuterHookCalls = 0;
};

TEST_F(WaitModalTest, StopFromATimerHandlerEndsItWithOk) {
  TTimer Stopper(nullptr);
  Stopper.SetInterval(15);
  int StopperTicks = 0;
  Stopper.OnTimer = [&](TObject*) {
    if (++StopperTicks == 2) Wait.Stop();
  };
  Wait.SetCaption("50");
  int Starts = 0;
  Wait.OnWaitStart = [&](TObject*) {
    EXPECT_EQ(Wait.ModalResult(), mrNone);
    ++Starts;
  };
  Wait.StartModal();
  EXPECT_EQ(Starts, 1);
  EXPECT_EQ(StopperTicks, 2);
  EXPECT_EQ(Wait.ModalResult(), mrOk);
  EXPECT_FALSE(Wait.Running());
  EXPECT_EQ(Wait.Caption(), "50");
}

TEST_F(WaitModalTest, EndsByItsOwnTimeOutWithCancel) {
  std::vector<int> Counts;
  Wait.OnWait = [&](TObject*, std::int32_t Count) { Counts.push_back(Count); };
  int Timeouts = 0;
  Wait.OnTimeout = [&](TObject*) { ++Timeouts; };
  Wait.SetModalResult(mrOk);  // reset to 0 when the wait starts
  Wait.SetCaption("3");
  Wait.StartModal();
  EXPECT_EQ(Counts, std::vector<int>({2, 1, 0}));
  EXPECT_EQ(Timeouts, 1);
  EXPECT_EQ(Wait.ModalResult(), mrCancel);
  EXPECT_EQ(Wait.Caption(), "3");
}

TEST_F(WaitModalTest, ClicksAndKeysBeepAndAreDroppedOtherMessagesGoOn) {
  TRecordingWindow Target;
  const std::vector<plat::UINT> Refused = {plat::WM_LBUTTONDOWN, plat::WM_LBUTTONDBLCLK,
                                           plat::WM_RBUTTONDOWN, plat::WM_RBUTTONDBLCLK,
                                           plat::WM_KEYDOWN,     plat::WM_SYSKEYDOWN};
  const std::vector<plat::UINT> Passed = {plat::WM_MBUTTONDOWN, plat::WM_KEYUP, plat::WM_MOUSEMOVE,
                                          plat::WM_LBUTTONUP,   plat::WM_CHAR,  plat::WM_USER + 7};
  Wait.OnWaitStart = [&](TObject*) {
    for (size_t I = 0; I < Refused.size(); ++I) {
      Target.Post(Refused[I]);
      Target.Post(Passed[I]);
    }
  };
  // The last message stops the wait, so everything before it has been through the hook.
  Target.OnMessage = [&](plat::UINT Msg, plat::WPARAM) {
    if (Msg == plat::WM_USER + 7) Wait.Stop();
  };
  Wait.SetCaption("100");
  Wait.StartModal();
  EXPECT_EQ(Target.Received, Passed);
  EXPECT_EQ(Backend.Beeps(), std::vector<plat::UINT>(Refused.size(), 0));
  EXPECT_EQ(Wait.ModalResult(), mrOk);

  // Outside the modal wait clicks are dispatched again, without a beep.
  Target.Received.clear();
  Target.Post(plat::WM_LBUTTONDOWN);
  Application->ProcessMessages();
  EXPECT_EQ(Target.Received, std::vector<plat::UINT>({plat::WM_LBUTTONDOWN}));
  EXPECT_EQ(Backend.Beeps().size(), Refused.size());
}

TEST_F(WaitModalTest, RepaintsAsItCountsDown) {
  Wait.SetCaption("4");
  Wait.StartModal();
  // One paint pending from construction, then one per tick that changed the count.
  EXPECT_GE(Backend.PaintCount(&Wait), 3);
  std::vector<std::string> Texts;
  for (const auto& Call : Backend.DrawingsOf(&Wait))
    if (Call.Kind == TScriptedBackend::dkTextOut) Texts.push_back(Call.Text);
  EXPECT_NE(std::find(Texts.begin(), Texts.end(), "1"), Texts.end());
}

TEST_F(WaitModalTest, OnWaitingRunsOnEveryPass) {
  int Passes = 0;
  Wait.OnWaiting = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &Wait);
    ++Passes;
  };
  Wait.SetCaption("2");
  Wait.StartModal();
  EXPECT_GT(Passes, 2);  // it does not wait between passes
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
  std::vector<std::string> Errors;
  Application->OnException = [&](TObject*, const Exception& E) { Errors.push_back(E.Message()); };
  Wait.OnWait = [&](TObject*, std::int32_t Count) {
    if (Count == 1) throw Exception("tick failed");
  };
  Wait.SetCaption("3");
  Wait.StartModal();
  EXPECT_EQ(Errors, std::vector<std::string>({"tick failed"}));
  EXPECT_EQ(Wait.ModalResult(), mrCancel);
}

// Every event kind, fired inside StartModal, may free the control and then use what its
// handler captured (by value: that lives in the handler the control held).
TEST_F(WaitModalTest, FreedByAnyOfItsHandlersEndsTheLoopSafely) {
  enum TKind { kWaitStart, kWaiting, kWait, kWaitStop, kTimeout };
  for (TKind Kind : {kWaitStart, kWaiting, kWait, kWaitStop, kTimeout}) {
    SCOPED_TRACE(Kind);
    auto* Doomed = new TWait(nullptr);
    Doomed->SetInterval(10);
    Doomed->SetCaption(Kind == kTimeout ? "2" : "5");
    std::vector<std::string> Log;
    const std::string Note = "handler " + std::to_string(Kind) + " outlived its control";
    auto FreeIt = [Doomed, &Log, Note](TObject* Sender) {
      EXPECT_EQ(Sender, Doomed);
      delete Doomed;
      Log.push_back(Note);
    };
    TTimer Stopper(nullptr);  // stops the wait from outside, for OnWaitStop
    Stopper.SetEnabled(Kind == kWaitStop);
    Stopper.SetInterval(15);
    Stopper.OnTimer = [Doomed](TObject*) { Doomed->Stop(); };
    switch (Kind) {
      case kWaitStart:
        Doomed->OnWaitStart = FreeIt;
        break;
      case kWaiting:
        Doomed->OnWaiting = FreeIt;
        break;
      case kWait:
        Doomed->OnWait = [FreeIt](TObject* Sender, std::int32_t Count) {
          if (Count == 3) FreeIt(Sender);
        };
        break;
      case kWaitStop:
        Doomed->OnWaitStop = [FreeIt, &Stopper](TObject* Sender) {
          Stopper.SetEnabled(false);
          FreeIt(Sender);
        };
        break;
      case kTimeout:
        Doomed->OnTimeout = FreeIt;
        break;
    }
    Doomed->StartModal();  // returns without touching the freed control
    EXPECT_EQ(Log, std::vector<std::string>({Note}));
    ExpectOuterHookBack();
  }
}

TEST_F(WaitModalTest, NestedWaitsPutTheirHooksBackInOrder) {
  TWait Inner(nullptr);
  Inner.SetInterval(10);
  Inner.SetCaption("2");
  bool InnerRan = false;
  Wait.SetCaption("100");
  Wait.OnWait = [&](TObject*, std::int32_t) {
    if (InnerRan) return;
    InnerRan = true;
    Inner.StartModal();
    // Back in the outer wait: its own hook must be the one installed again.
    TRecordingWindow Target;
    Target.Post(plat::WM_KEYDOWN);
    Target.Post(plat::WM_USER);
    Target.OnMessage = [&](plat::UINT, plat::WPARAM) { Wait.Stop(); };
    Application->ProcessMessages();
    EXPECT_EQ(Target.Received, std::vector<plat::UINT>({plat::WM_USER}));
  };
  Wait.StartModal();
  EXPECT_TRUE(InnerRan);
  EXPECT_EQ(Inner.ModalResult(), mrCancel);
  EXPECT_EQ(Wait.ModalResult(), mrOk);
}

TEST_F(WaitModalTest, QuitEndsTheWaitAndReachesTheOuterLoop) {
  auto OuterHook = Application->OnMessage;
  vtest::TApplicationSwap Swap;
  TApplication& App = Swap.App();
  App.OnMessage = OuterHook;
  TTimer Quitter(nullptr);
  Quitter.SetInterval(15);
  Quitter.OnTimer = [&](TObject*) {
    Quitter.SetEnabled(false);
    App.Terminate();
  };
  int Timeouts = 0;
  Wait.OnTimeout = [&](TObject*) { ++Timeouts; };
  Wait.SetCaption("200");
  Wait.StartModal();
  EXPECT_TRUE(App.Terminated());
  EXPECT_FALSE(Wait.Running());
  EXPECT_EQ(Wait.ModalResult(), mrCancel);
  EXPECT_EQ(Wait.Caption(), "200");
  EXPECT_EQ(Timeouts, 0);
  ExpectOuterHookBack();  // on the application that ran the wait
  // The quit is still there for a loop outside that takes messages itself.
  plat::MSG Msg;
  bool SawQuit = false;
  while (plat::PeekMessageA(&Msg, 0, 0, 0, plat::PM_REMOVE))
    if (Msg.message == plat::WM_QUIT) SawQuit = true;
  EXPECT_TRUE(SawQuit);

  // A terminated application does not start another modal wait.
  Wait.StartModal();
  EXPECT_EQ(Wait.ModalResult(), mrCancel);
  EXPECT_FALSE(Wait.Running());
}

}  // namespace
