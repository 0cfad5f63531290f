#include "Host/Application.h"

#include <unistd.h>

#include <cstdio>
#include <new>

#include "Host/Dialogs.h"
#include "Host/Forms.h"
#include "Host/UIBackend.h"

// Zero-initialised before any dynamic initialisation, so the first TApplicationInit of the
// program sees it empty, whichever file it lives in.
TApplication* Application = nullptr;

namespace {

// The object lives in static storage and is never destroyed: components freed by other
// units' clean-up at exit may still reach for it.
alignas(TApplication) unsigned char ApplicationStorage[sizeof(TApplication)];

std::string ProgramName() {
  char Path[4096];
  ssize_t Len = ::readlink("/proc/self/exe", Path, sizeof(Path) - 1);
  if (Len <= 0) return {};
  std::string Name(Path, static_cast<size_t>(Len));
  if (auto Slash = Name.rfind('/'); Slash != std::string::npos) Name.erase(0, Slash + 1);
  if (auto Dot = Name.rfind('.'); Dot != std::string::npos && Dot > 0) Name.erase(Dot);
  return Name;
}

void ShowOnStderr(const char* What, const std::exception_ptr& Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const std::exception& E) {
    std::fprintf(stderr, "%s: %s\n", What, E.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unknown error\n", What);
  }
}

}  // namespace

host_detail::TApplicationInit::TApplicationInit() {
  if (Application) return;
  Application = new (ApplicationStorage) TApplication(nullptr);
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

void TApplication::Quit(const plat::MSG& Msg) {
  FTerminated = true;
  FExitCode = static_cast<int>(Msg.wParam);
}

void TApplication::DispatchOne(plat::MSG& Msg) {
  bool Handled = false;
  if (OnMessage) {
    // A copy: the hook may replace itself (a modal wait putting the previous one back).
    auto Hook = OnMessage;
    Hook(Msg, Handled);
  }
  if (Handled) return;
  plat::TranslateMessage(&Msg);
  plat::DispatchMessageA(&Msg);
}

bool TApplication::ProcessMessage(plat::MSG& Msg) {
  if (!plat::PeekMessageA(&Msg, 0, 0, 0, plat::PM_REMOVE)) return false;
  if (Msg.message == plat::WM_QUIT)
    Quit(Msg);
  else
    DispatchOne(Msg);
  return true;
}

void TApplication::ProcessMessages() {
  plat::MSG Msg;
  while (ProcessMessage(Msg))
    if (Msg.message == plat::WM_QUIT) break;
}

void TApplication::HandleMessage() {
  plat::MSG Msg;
  if (!plat::GetMessageA(&Msg, 0, 0, 0)) {
    Quit(Msg);
    return;
  }
  DispatchOne(Msg);
}

void TApplication::Run() {
  while (!FTerminated) {
    try {
      HandleMessage();
    } catch (...) {
      HandleException(this);
    }
  }
}

void TApplication::Terminate() {
  plat::PostQuitMessage(0);
}

void TApplication::HandleException(TObject* Sender) {
  std::exception_ptr Current = std::current_exception();
  if (!Current) return;
  // A copy: the handler may replace itself while it runs.
  auto Handler = OnException;
  auto Deliver = [&](const Exception& E) {
    if (Handler)
      Handler(Sender, E);
    else
      ShowException(E);
  };
  try {
    try {
      std::rethrow_exception(Current);
    } catch (const Exception& E) {
      Deliver(E);  // by reference, so a handler can still tell the exception's class
    } catch (const std::exception& E) {
      Deliver(Exception(E.what()));
    } catch (...) {
      Deliver(Exception("Unknown error"));
    }
  } catch (const std::exception& E) {
    // The handler failed in turn: show that, rather than handle it again.
    try {
      ShowException(Exception(E.what()));
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
