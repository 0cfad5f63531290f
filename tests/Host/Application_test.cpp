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
  TRecordingWindow Target;
  for (plat::UINT M = plat::WM_USER; M < plat::WM_USER + 5; ++M) Target.Post(M);
  Application->ProcessMessages();
  EXPECT_EQ(Target.Received,
            std::vector<plat::UINT>({plat::WM_USER, plat::WM_USER + 1, plat::WM_USER + 2,
                                     plat::WM_USER + 3, plat::WM_USER + 4}));
  // Messages posted by a handler during the pass are pending too.
  Target.Received.clear();
  Target.OnMessage = [&](plat::UINT M, plat::WPARAM) {
    if (M == plat::WM_USER) Target.Post(plat::WM_USER + 1);
  };
  Target.Post(plat::WM_USER);
  Application->ProcessMessages();
  EXPECT_EQ(Target.Received.size(), 2u);
}

TEST_F(ApplicationTest, HookSeesEveryMessageFirstAndHandledStopsTheDispatch) {
  TRecordingWindow Target;
  std::vector<plat::UINT> Hooked;
  Application->OnMessage = [&](plat::MSG& Msg, bool& Handled) {
    EXPECT_EQ(Msg.hwnd, Target.Handle());
    EXPECT_TRUE(Target.Received.empty() || Target.Received.back() != Msg.message);
    Hooked.push_back(Msg.message);
    Handled = Msg.message == plat::WM_USER + 1;
  };
  Target.Post(plat::WM_USER);
  Target.Post(plat::WM_USER + 1);
  Target.Post(plat::WM_USER + 2);
  Application->ProcessMessages();
  EXPECT_EQ(Hooked, std::vector<plat::UINT>({plat::WM_USER, plat::WM_USER + 1, plat::WM_USER + 2}));
  EXPECT_EQ(Target.Received, std::vector<plat::UINT>({plat::WM_USER, plat::WM_USER + 2}));
}

TEST_F(ApplicationTest, QuitStopsProcessMessagesAndSetsTerminated) {
  TApplicationSwap Swap;
  TApplication& App = Swap.App();
  TRecordingWindow Target;
  Target.Post(plat::WM_USER);
  App.Terminate();
  EXPECT_FALSE(App.Terminated());  // only once a loop takes the quit
  App.ProcessMessages();
  EXPECT_TRUE(App.Terminated());
  EXPECT_EQ(App.ExitCode(), 0);
  EXPECT_EQ(Target.Received, std::vector<plat::UINT>({plat::WM_USER}));
}

TEST_F(ApplicationTest, HandleMessageWaitsForOneMessageFromAnotherThread) {
  TRecordingWindow Target;
  plat::HWND Wnd = Target.Handle();
  std::thread Poster([Wnd] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    plat::PostMessageA(Wnd, plat::WM_USER + 3, 0, 0);
    plat::PostMessageA(Wnd, plat::WM_USER + 4, 0, 0);
  });
  Application->HandleMessage();
  Poster.join();
  EXPECT_EQ(Target.Received, std::vector<plat::UINT>({plat::WM_USER + 3}));
}

TEST_F(ApplicationTest, RunEndsOnTerminateAndSurvivesErrors) {
  TApplicationSwap Swap;
  TApplication& App = Swap.App();
  std::vector<std::string> Errors;
  App.OnException = [&](TObject* Sender, const Exception& E) {
    EXPECT_EQ(Sender, &App);
    Errors.push_back(E.Message());
  };
  int Hooked = 0;
  App.OnMessage = [&](plat::MSG& Msg, bool&) {
    if (Msg.message == plat::WM_TIMER && ++Hooked == 1) throw std::runtime_error("hook failed");
  };
  TTimer Ticker(nullptr);
  Ticker.SetInterval(10);
  int Ticks = 0;
  Ticker.OnTimer = [&](TObject*) {
    if (++Ticks == 3) App.Terminate();
  };
  TTimer Watchdog(nullptr);
  Watchdog.SetInterval(3000);
  Watchdog.OnTimer = [&](TObject*) {
    ADD_FAILURE() << "Run did not end";
    App.Terminate();
  };
  App.Run();
  EXPECT_TRUE(App.Terminated());
  EXPECT_EQ(Ticks, 3);
  EXPECT_EQ(Errors, std::vector<std::string>({"hook failed"}));
}

TEST_F(ApplicationTest, ErrorFromAWindowProcedureReachesOnException) {
  TRecordingWindow Target;
  Target.OnMessage = [](plat::UINT, plat::WPARAM Kind) {
    if (Kind == 1) throw EProbe("probe failed", 42);
    if (Kind == 2) throw std::runtime_error("plain failure");
    if (Kind == 3) throw 7;
  };
  std::vector<std::string> Seen;
  Application->OnException = [&](TObject* Sender, const Exception& E) {
    EXPECT_EQ(Sender, Application);
    // The exception arrives as itself, so a handler can pick out its own kind.
    const auto* Probe = dynamic_cast<const EProbe*>(&E);
    Seen.push_back(E.Message() + (Probe ? ":probe" + std::to_string(Probe->HelpContext()) : ""));
  };
  Target.Post(plat::WM_USER, 1);
  Target.Post(plat::WM_USER, 2);
  Target.Post(plat::WM_USER, 3);
  Target.Post(plat::WM_USER + 1, 4);  // after an error the loop goes on
  Application->ProcessMessages();
  EXPECT_EQ(Seen,
            std::vector<std::string>({"probe failed:probe42", "plain failure", "Unknown error"}));
  EXPECT_EQ(Target.Received.size(), 4u);
  EXPECT_TRUE(Backend.Messages().empty());
}

// OnMessage (from each of the three loops) and OnException may free the application and
// then use what they captured; the loop that called them returns without touching it.
TEST_F(ApplicationTest, SurvivesItsHandlersFreeingIt) {
  TRecordingWindow Target;
  // Ends a loop that failed to notice, rather than hang.
  TTimer Watchdog(nullptr);
  Watchdog.SetInterval(3000);
  Watchdog.OnTimer = [](TObject*) {
    ADD_FAILURE() << "a loop went on after its application was freed";
    plat::PostQuitMessage(0);
  };
  enum TLoop { kProcessMessages, kHandleMessage, kRun, kRunWithFailingHook };
  for (TLoop Loop : {kProcessMessages, kHandleMessage, kRun, kRunWithFailingHook}) {
    SCOPED_TRACE(Loop);
    auto* App = new TApplication(nullptr);
    std::vector<std::string> Log;
    // Captured by value: it lives in the handler, which the application held.
    const std::string Note = "handler of loop " + std::to_string(Loop) + " outlived it";
    auto FreeIt = [App, &Log, Note] {
      delete App;
      Log.push_back(Note);
    };
    if (Loop == kRunWithFailingHook) {
      App->OnMessage = [](plat::MSG&, bool&) { throw Exception("hook failed"); };
      App->OnException = [FreeIt, App](TObject* Sender, const Exception& E) {
        EXPECT_EQ(E.Message(), "hook failed");
        EXPECT_EQ(Sender, App);
        FreeIt();
      };
    } else {
      App->OnMessage = [FreeIt](plat::MSG&, bool& Handled) {
        FreeIt();
        Handled = true;
      };
    }
    Target.Post(plat::WM_USER);
    Target.Post(plat::WM_USER + 1);
    switch (Loop) {
      case kProcessMessages:
        App->ProcessMessages();
        break;
      case kHandleMessage:
        App->HandleMessage();
        break;
      case kRun:
      case kRunWithFailingHook:
        App->Run();
        break;
    }
    EXPECT_EQ(Log, std::vector<std::string>({Note}));
    // The loop ended with its application: the second message is still queued.
    Application->ProcessMessages();
    EXPECT_EQ(Target.Received, std::vector<plat::UINT>({plat::WM_USER + 1}));
    Target.Received.clear();
  }
}

TEST_F(ApplicationTest, UnhandledErrorIsShownUnderTheTitle) {
  EXPECT_FALSE(Application->Title().empty());  // the program's name
  EXPECT_EQ(TitleAtStaticInit, Application->Title());
  TApplicationSwap Swap;
  TApplication& App = Swap.App();
  App.SetTitle("Updater");
  try {
    throw Exception("disk full");
  } catch (...) {
    App.HandleException(&App);
  }
  // A handler that fails has its own error shown instead of looping back into it.
  App.OnException = [](TObject*, const Exception&) { throw std::runtime_error("handler broke"); };
  try {
    throw Exception("first");
  } catch (...) {
    App.HandleException(&App);
  }
  App.HandleException(&App);  // outside a catch block: nothing to handle
  ASSERT_EQ(Backend.Messages().size(), 2u);
  EXPECT_EQ(Backend.Messages()[0].Title, "Updater");
  EXPECT_EQ(Backend.Messages()[0].Text, "disk full");
  EXPECT_EQ(Backend.Messages()[1].Text, "handler broke");
}

TEST_F(ApplicationTest, MainFormIsForgottenWhenFreed) {
  TApplicationSwap Swap;
  auto* Form = new TForm(nullptr);
  Swap.App().SetMainForm(Form);
  EXPECT_EQ(Swap.App().MainForm(), Form);
  delete Form;
  EXPECT_EQ(Swap.App().MainForm(), nullptr);
}

TEST(ApplicationDefaultBackend, ShowsMessagesOnStderr) {
  testing::internal::CaptureStderr();
  UIBackend().ShowMessage("Title", "something went wrong");
  MessageBeep(0);  // quietly
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Title: something went wrong\n");
}

}  // namespace
