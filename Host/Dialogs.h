// Message boxes and the save-file dialog. Both are shown by the UI back-end; what is
// decided here is the wording, the icon, the buttons, and the questions a dialog's options
// call for.
#pragma once

#include <cstdint>
#include <string>

#include "Host/Component.h"
#include "Host/EnumSet.h"
#include "Host/UIBackend.h"
#include "Platform/Export.h"

// Style bits of Application->MessageBox: one button set, one icon, one default button.
inline constexpr std::uint32_t MB_OK = 0x00;
inline constexpr std::uint32_t MB_OKCANCEL = 0x01;
inline constexpr std::uint32_t MB_ABORTRETRYIGNORE = 0x02;
inline constexpr std::uint32_t MB_YESNOCANCEL = 0x03;
inline constexpr std::uint32_t MB_YESNO = 0x04;
inline constexpr std::uint32_t MB_RETRYCANCEL = 0x05;
inline constexpr std::uint32_t MB_ICONHAND = 0x10;
inline constexpr std::uint32_t MB_ICONQUESTION = 0x20;
inline constexpr std::uint32_t MB_ICONEXCLAMATION = 0x30;
inline constexpr std::uint32_t MB_ICONASTERISK = 0x40;
inline constexpr std::uint32_t MB_ICONERROR = MB_ICONHAND;
inline constexpr std::uint32_t MB_ICONWARNING = MB_ICONEXCLAMATION;
inline constexpr std::uint32_t MB_ICONINFORMATION = MB_ICONASTERISK;
inline constexpr std::uint32_t MB_DEFBUTTON1 = 0x000;
inline constexpr std::uint32_t MB_DEFBUTTON2 = 0x100;
inline constexpr std::uint32_t MB_DEFBUTTON3 = 0x200;

// Results of a box: the button pressed.
inline constexpr int IDOK = mrOk;
inline constexpr int IDCANCEL = mrCancel;
inline constexpr int IDABORT = mrAbort;
inline constexpr int IDRETRY = mrRetry;
inline constexpr int IDIGNORE = mrIgnore;
inline constexpr int IDYES = mrYes;
inline constexpr int IDNO = mrNo;

// The box that the style bits describe. Unknown button sets are OK alone, unknown icons
// none, a default button past the last one the first.
ORV_API TMessageBoxRequest MessageBoxRequest(const std::string& Text, const std::string& Caption,
                                             std::uint32_t Flags);

enum TMsgDlgType : std::uint8_t { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn : std::uint8_t { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore };
using TMsgDlgButtons = TEnumSet<TMsgDlgBtn, std::uint8_t>;

// A box with the buttons of the set, in the order above, the first being the default.
// The caption names the kind ("Warning", "Error", "Information", "Confirm"); a custom box
// has the application's title and no icon. Answers the result of the button pressed.
ORV_API int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                       int HelpCtx);

class ORV_API TCommonDialog : public TComponent {
 public:
  using TComponent::TComponent;
  std::string ClassName() const override { return "TCommonDialog"; }
  // Shows the dialog modally; true when the user accepted.
  virtual bool Execute() = 0;
};

class ORV_API TSaveDialog : public TCommonDialog {
 public:
  using TCommonDialog::TCommonDialog;
  std::string ClassName() const override { return "TSaveDialog"; }

  // Pairs of description and mask(s) separated by "|": "Text (*.TXT)|*.TXT|All|*.*".
  const std::string& Filter() const { return FFilter; }
  void SetFilter(const std::string& Value) { FFilter = Value; }
  // 1-based; the entry selected at the start, and after Execute the one the user chose.
  int FilterIndex() const { return FFilterIndex; }
  void SetFilterIndex(int Value) { FFilterIndex = Value; }
  TOpenOptions Options() const { return FOptions; }
  void SetOptions(TOpenOptions Value) { FOptions = Value; }
  // The name proposed; after Execute the full path chosen.
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& Value) { FFileName = Value; }
  const std::string& InitialDir() const { return FInitialDir; }
  void SetInitialDir(const std::string& Value) { FInitialDir = Value; }
  // The dialog's caption; empty gives "Save As".
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& Value) { FTitle = Value; }

  // Asks the back-end for a name until one passes the options' checks or the user
  // cancels: with ofPathMustExist a name in a folder that does not exist is refused with a
  // box; with ofOverwritePrompt an existing file is replaced only after a Yes (the default
  // button is No). A relative name is taken from InitialDir (or the current folder).
  bool Execute() override;

 private:
  std::string FFilter;
  int FFilterIndex = 1;
  TOpenOptions FOptions = ofHideReadOnly;
  std::string FFileName;
  std::string FInitialDir;
  std::string FTitle;
};
