// The application object's loops, message hook and error handling.
#include "Host/Application.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "Host/Forms.h"
#include "Host/Timer.h"
#include "Host/VisualTestSupport.h"

namespace {

using vtest::TApplicationSwap;
using vtest::TRecordingWindow;
using vtest::TVisualTest;

class EProbe : public Exception {
 public:
  using Exception::Exception;
};

using ApplicationTest = TVisualTest;

// Other units' static initialisers may already use the application object.
const std::string TitleAtStaticInit = Application ? Application->Title() : "<none>";

TEST_F(ApplicationTest, ProcessMessagesDispatchesWhatIsPendingInOrderThenReturns) {
  TRecordingWindow target;
  for (plat::UINT m = plat::WM_USER; m < plat::WM_USER + 5; ++m) target.Post(m);
  Application->ProcessMessages();
  EXPECT_EQ(target.Received,
            std::vector<plat::UINT>({plat::WM_USER, plat::WM_USER + 1, plat::WM_USER + 2,
                                     plat::WM_USER + 3, plat::WM_USER + 4}));
  // Messages posted by a handler during the pass are pending too.
  target.Received.clear();
  target.OnMessage = [&](plat::UINT M, plat::WPARAM) {
    if (M == plat::WM_USER) target.Post(plat::WM_USER + 1);
  };
  target.Post(plat::WM_USER);
  Application->ProcessMessages();
  EXPECT_EQ(target.Received.size(), 2u);
}

TEST_F(ApplicationTest, HookSeesEveryMessageFirstAndHandledStopsTheDispatch) {
  TRecordingWindow target;
  std::vector<plat::UINT> hooked;
  Application->OnMessage = [&](plat::MSG& Msg, bool& Handled) {
    EXPECT_EQ(Msg.hwnd, target.Handle());
    EXPECT_TRUE(target.Received.empty() || target.Received.back() != Msg.message);
    hooked.push_back(Msg.message);
    Handled = Msg.message == plat::WM_USER + 1;
  };
  target.Post(plat::WM_USER);
  target.Post(plat::WM_USER + 1);
  target.Post(plat::WM_USER + 2);
  Application->ProcessMessages();
  EXPECT_EQ(hooked, std::vector<plat::UINT>({plat::WM_USER, plat::WM_USER + 1, plat::WM_USER + 2}));
  EXPECT_EQ(target.Received, std::vector<plat::UINT>({plat::WM_USER, plat::WM_USER + 2}));
}

TEST_F(ApplicationTest, QuitStopsProcessMessagesAndSetsTerminated) {
  TApplicationSwap swap;
  TApplication& app = swap.App();
  TRecordingWindow target;
  target.Post(plat::WM_USER);
  app.Terminate();
  EXPECT_FALSE(app.Terminated());  // only once a loop takes the quit
  app.ProcessMessages();
  EXPECT_TRUE(app.Terminated());
  EXPECT_EQ(app.ExitCode(), 0);
  EXPECT_EQ(target.Received, std::vector<plat::UINT>({plat::WM_USER}));
}

TEST_F(ApplicationTest, HandleMessageWaitsForOneMessageFromAnotherThread) {
  TRecordingWindow target;
  plat::HWND wnd = target.Handle();
  std::thread poster([wnd] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    plat::PostMessageA(wnd, plat::WM_USER + 3, 0, 0);
    plat::PostMessageA(wnd, plat::WM_USER + 4, 0, 0);
  });
  Application->HandleMessage();
  poster.join();
  EXPECT_EQ(target.Received, std::vector<plat::UINT>({plat::WM_USER + 3}));
}

TEST_F(ApplicationTest, RunEndsOnTerminateAndSurvivesErrors) {
  TApplicationSwap swap;
  TApplication& app = swap.App();
  std::vector<std::string> errors;
  app.OnException = [&](TObject* Sender, const Exception& E) {
    EXPECT_EQ(Sender, &app);
    errors.push_back(E.Message());
  };
  int hooked = 0;
  app.OnMessage = [&](plat::MSG& Msg, bool&) {
    if (Msg.message == plat::WM_TIMER && ++hooked == 1) throw std::runtime_error("hook failed");
  };
  TTimer ticker(nullptr);
  ticker.SetInterval(10);
  int ticks = 0;
  ticker.OnTimer = [&](TObject*) {
    if (++ticks == 3) app.Terminate();
  };
  TTimer watchdog(nullptr);
  watchdog.SetInterval(3000);
  watchdog.OnTimer = [&](TObject*) {
    ADD_FAILURE() << "Run did not end";
    app.Terminate();
  };
  app.Run();
  EXPECT_TRUE(app.Terminated());
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(errors, std::vector<std::string>({"hook failed"}));
}

TEST_F(ApplicationTest, ErrorFromAWindowProcedureReachesOnException) {
  TRecordingWindow target;
  target.OnMessage = [](plat::UINT, plat::WPARAM Kind) {
    if (Kind == 1) throw EProbe("probe failed", 42);
    if (Kind == 2) throw std::runtime_error("plain failure");
    if (Kind == 3) throw 7;
  };
  std::vector<std::string> seen;
  Application->OnException = [&](TObject* Sender, const Exception& E) {
    EXPECT_EQ(Sender, Application);
    // The exception arrives as itself, so a handler can pick out its own kind.
    const auto* probe = dynamic_cast<const EProbe*>(&E);
    seen.push_back(E.Message() + (probe ? ":probe" + std::to_string(probe->HelpContext()) : ""));
  };
  target.Post(plat::WM_USER, 1);
  target.Post(plat::WM_USER, 2);
  target.Post(plat::WM_USER, 3);
  target.Post(plat::WM_USER + 1, 4);  // after an error the loop goes on
  Application->ProcessMessages();
  EXPECT_EQ(seen,
            std::vector<std::string>({"probe failed:probe42", "plain failure", "Unknown error"}));
  EXPECT_EQ(target.Received.size(), 4u);
  EXPECT_TRUE(Backend.Messages().empty());
}

// OnMessage (from each of the three loops) and OnException may free the application and
// then use what they captured; the loop that called them returns without touching it.
TEST_F(ApplicationTest, SurvivesItsHandlersFreeingIt) {
  TRecordingWindow target;
  // Ends a loop that failed to notice, rather than hang.
  TTimer watchdog(nullptr);
  watchdog.SetInterval(3000);
  watchdog.OnTimer = [](TObject*) {
    ADD_FAILURE() << "a loop went on after its application was freed";
    plat::PostQuitMessage(0);
  };
  enum TLoop { kProcessMessages, kHandleMessage, kRun, kRunWithFailingHook };
  for (TLoop loop : {kProcessMessages, kHandleMessage, kRun, kRunWithFailingHook}) {
    SCOPED_TRACE(loop);
    auto* app = new TApplication(nullptr);
    std::vector<std::string> log;
    // Captured by value: it lives in the handler, which the application held.
    const std::string note = "handler of loop " + std::to_string(loop) + " outlived it";
    auto freeIt = [app, &log, note] {
      delete app;
      log.push_back(note);
    };
    if (loop == kRunWithFailingHook) {
      app->OnMessage = [](plat::MSG&, bool&) { throw Exception("hook failed"); };
      app->OnException = [freeIt, app](TObject* Sender, const Exception& E) {
        EXPECT_EQ(E.Message(), "hook failed");
        EXPECT_EQ(Sender, app);
        freeIt();
      };
    } else {
      app->OnMessage = [freeIt](plat::MSG&, bool& Handled) {
        freeIt();
        Handled = true;
      };
    }
    target.Post(plat::WM_USER);
    target.Post(plat::WM_USER + 1);
    switch (loop) {
      case kProcessMessages:
        app->ProcessMessages();
        break;
      case kHandleMessage:
        app->HandleMessage();
        break;
      case kRun:
      case kRunWithFailingHook:
        app->Run();
        break;
    }
    EXPECT_EQ(log, std::vector<std::string>({note}));
    // The loop ended with its application: the second message is still queued.
    EXPECT_TRUE(target.Received.empty()) << "dispatched after the application had gone";
    Application->ProcessMessages();
    EXPECT_EQ(target.Received, std::vector<plat::UINT>({plat::WM_USER + 1}));
    target.Received.clear();
  }
}

TEST_F(ApplicationTest, UnhandledErrorIsShownUnderTheTitle) {
  EXPECT_FALSE(Application->Title().empty());  // the program's name
  EXPECT_EQ(TitleAtStaticInit, Application->Title());
  TApplicationSwap swap;
  TApplication& app = swap.App();
  app.SetTitle("Updater");
  try {
    throw Exception("disk full");
  } catch (...) {
    app.HandleException(&app);
  }
  // A handler that fails has its own error shown instead of looping back into it.
  app.OnException = [](TObject*, const Exception&) { throw std::runtime_error("handler broke"); };
  try {
    throw Exception("first");
  } catch (...) {
    app.HandleException(&app);
  }
  app.HandleException(&app);  // outside a catch block: nothing to handle
  ASSERT_EQ(Backend.Messages().size(), 2u);
  EXPECT_EQ(Backend.Messages()[0].Title, "Updater");
  EXPECT_EQ(Backend.Messages()[0].Text, "disk full");
  EXPECT_EQ(Backend.Messages()[1].Text, "handler broke");
}

TEST_F(ApplicationTest, MainFormIsForgottenWhenFreed) {
  TApplicationSwap swap;
  auto* form = new TForm(nullptr);
  swap.App().SetMainForm(form);
  EXPECT_EQ(swap.App().MainForm(), form);
  delete form;
  EXPECT_EQ(swap.App().MainForm(), nullptr);
}

TEST(ApplicationDefaultBackend, ShowsMessagesOnStderr) {
  testing::internal::CaptureStderr();
  UIBackend().ShowMessage("Title", "something went wrong");
  MessageBeep(0);  // quietly
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Title: something went wrong\n");
}

}  // namespace
