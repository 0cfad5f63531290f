#include "Host/Application.h"

#include <unistd.h>

#include <cstdio>
#include <new>

#include "Host/Dialogs.h"
#include "Host/Events.h"
#include "Host/Forms.h"
#include "Host/MessagePump.h"
#include "Host/UIBackend.h"
#include "Platform/KeptObjects.h"

// Zero-initialised before any dynamic initialisation, so the first TApplicationInit of the
// program sees it empty, whichever file it lives in.
TApplication* Application = nullptr;

namespace {

// The object lives in static storage and is never destroyed: components freed by other
// units' clean-up at exit may still reach for it.
alignas(TApplication) unsigned char ApplicationStorage[sizeof(TApplication)];

std::string ProgramName() {
  char path[4096];
  ssize_t len = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (len <= 0) return {};
  std::string name(path, static_cast<size_t>(len));
  if (auto slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
  if (auto dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

void ShowOnStderr(const char* What, const std::exception_ptr& Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", What, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unknown error\n", What);
  }
}

}  // namespace

host_detail::TApplicationInit::TApplicationInit() {
  if (Application) return;
  Application = new (ApplicationStorage) TApplication(nullptr);
  // Never destroyed while the process runs; goes with the package library when it is
  // unloaded.
  plat::detail::KeepObject(Application, [](void* App) {
    Application = nullptr;
    static_cast<TApplication*>(App)->~TApplication();
  });
  // The blocking calls of the components below (the socket's waits) pump through it.
  SetModalWaitFilter([]() noexcept -> TMessageFilter* { return Application; });
  // Errors that leave a window procedure end up where the application's own loops put
  // theirs. Whichever object is `Application` at the time gets them.
  plat::SetDispatchExceptionHandler([](std::exception_ptr Error) {
    try {
      std::rethrow_exception(Error);
    } catch (...) {
      if (Application)
        Application->HandleException(Application);
      else
        ShowOnStderr("Unhandled error", std::current_exception());
    }
  });
}

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner), FTitle(ProgramName()) {}

TApplication::~TApplication() = default;

void TApplication::SetMainForm(TCustomForm* Value) {
  if (Value == FMainForm) return;
  if (FMainForm) RemoveFreeNotification(FMainForm);
  FMainForm = Value;
  if (FMainForm) FreeNotification(FMainForm);
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FMainForm) FMainForm = nullptr;
}

void TApplication::QuitTaken(int ExitCode) {
  FTerminated = true;
  FExitCode = ExitCode;
}

void TApplication::TriggerMessage(plat::MSG& Msg, bool& Handled) {
  // Through a copy: the hook may replace itself (a modal wait putting the previous one
  // back) or free the application.
  (void)FireEvent(*this, OnMessage, Msg, Handled);
}

void TApplication::TriggerException(TObject* Sender, const Exception& E) {
  (void)FireEvent(*this, OnException, Sender, E);
}

void TApplication::ProcessMessages() {
  TMessagePump pump(*this, {.Outermost = true});
  pump.PumpPending();
}

void TApplication::HandleMessage() {
  TMessagePump pump(*this, {.Outermost = true});
  pump.PumpOne(true);
}

void TApplication::Run() {
  // An error that escapes the hook goes to HandleException and the loop goes on.
  TMessagePump pump(*this, {.Outermost = true, .HandleErrors = true});
  while (!FTerminated) {
    pump.PumpOne(true);
    if (pump.Ended()) return;  // the quit, or a handler freed the application
  }
}

void TApplication::Terminate() {
  plat::PostQuitMessage(0);
}

void TApplication::HandleException(TObject* Sender) {
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  // A handler that raises may have freed the application first: its error then goes to
  // stderr, not to ShowException.
  TAliveGuard guard(*this);
  auto deliver = [&](const Exception& E) {
    if (OnException)
      TriggerException(Sender, E);
    else
      ShowException(E);
  };
  try {
    try {
      std::rethrow_exception(current);
    } catch (const Exception& e) {
      deliver(e);  // by reference, so a handler can still tell the exception's class
    } catch (const std::exception& e) {
      deliver(Exception(e.what()));
    } catch (...) {
      deliver(Exception("Unknown error"));
    }
  } catch (const std::exception& e) {
    // The handler failed in turn: show that, rather than handle it again.
    try {
      if (guard.Gone()) throw;
      ShowException(Exception(e.what()));
    } catch (...) {
      ShowOnStderr("Error in the exception handler", std::current_exception());
    }
  } catch (...) {
    ShowOnStderr("Error in the exception handler", std::current_exception());
  }
}

int TApplication::MessageBox(const std::string& Text, const std::string& Caption,
                             std::uint32_t Flags) {
  return UIBackend().MessageBox(MessageBoxRequest(Text, Caption.empty() ? FTitle : Caption, Flags));
}

void TApplication::ShowException(const Exception& E) {
  UIBackend().ShowMessage(FTitle, E.Message());
}
