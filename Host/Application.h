// The application object: the user-interface thread's message loops, the message hook,
// the handling of errors that nobody caught, and the application's title and main form.
//
// `Application` exists before any other static initialiser of a unit that includes this
// header runs, and stays until the process ends. It is meant for the user-interface
// thread; its loops pump the queue of the calling thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Host/Component.h"
#include "Host/MessageFilter.h"
#include "Host/SysUtils.h"
#include "Platform/Export.h"
#include "Platform/Messages.h"

class TCustomForm;

// Its message pumps go through it as their filter: OnMessage (from TMessageFilter) is
// called with every message that the application's loops take from the queue, before it
// is dispatched; setting Handled keeps it from being dispatched at all.
class ORV_API TApplication : public TComponent, public TMessageFilter {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;
  std::string ClassName() const override { return "TApplication"; }

  // Dispatches every message that is pending, then returns. A quit message ends it early
  // and sets Terminated.
  void ProcessMessages();
  // Waits for one message and dispatches it; the quit message sets Terminated instead.
  void HandleMessage();
  // Handles messages until Terminated; an error that escapes a handler goes to
  // HandleException and the loop goes on.
  void Run();
  // Asks every loop to end: posts the quit message, which sets Terminated once a loop
  // takes it. A nested loop that sees Terminated ends and lets its caller see it too.
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // The code that came with the quit message (0 before one came).
  int ExitCode() const { return FExitCode; }

  // The name shown above the application's messages; the program's file name by default.
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& Value) { FTitle = Value; }

  // Shows a box through the UI back-end and answers the button pressed (IDOK, IDYES, ...);
  // Flags are MB_ style bits (Host/Dialogs.h). Caption empty: the title.
  int MessageBox(const std::string& Text, const std::string& Caption, std::uint32_t Flags);

  // Not owned; cleared when the form is destroyed.
  TCustomForm* MainForm() const { return FMainForm; }
  void SetMainForm(TCustomForm* Value);

  // Called for every error that reaches HandleException. A handler that raises in turn
  // gets its own error shown, not handled again.
  std::function<void(TObject* Sender, const Exception& E)> OnException;

  // To be called inside a catch block: gives the error being handled to OnException, or
  // shows it when no handler is assigned. Errors that are not an Exception arrive as one
  // with the same text. Never raises.
  void HandleException(TObject* Sender);
  // Shows the error's message through the UI back-end, under the title.
  void ShowException(const Exception& E);

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Fire OnMessage and OnException (each may destroy the application). The loops call
  // TriggerMessage only while OnMessage is assigned.
  void TriggerMessage(plat::MSG& Msg, bool& Handled) override;
  virtual void TriggerException(TObject* Sender, const Exception& E);

  // The pump's side: errors of the hook go to HandleException, a quit sets Terminated.
  TComponent& FilterOwner() noexcept override { return *this; }
  void FilterFailed() override { HandleException(this); }
  void QuitTaken(int ExitCode) override;

 private:
  bool FTerminated = false;
  int FExitCode = 0;
  std::string FTitle;
  TCustomForm* FMainForm = nullptr;
};

extern ORV_API TApplication* Application;

// Creates the application object before the first static initialiser of any file that
// includes this header; the same trick the standard streams use.
namespace host_detail {
struct ORV_API TApplicationInit {
  TApplicationInit();
};
static const TApplicationInit ApplicationInit;
}  // namespace host_detail
