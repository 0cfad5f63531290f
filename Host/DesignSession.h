// One form being designed, as a design tool drives it: the palette, dropping components,
// the property inspector, component editors and the form file.
//
// A design tool that loads the package at run time reaches this class only through its
// virtual methods (the package hands out instances), so every operation is virtual and
// reports failures as text instead of raising.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Host/Bitmap.h"
#include "Host/Designer.h"
#include "Platform/Export.h"

class TForm;

// One line of the property inspector.
struct ORV_API TInspectorRow {
  std::string Name;  // dotted for the properties of a held object
  std::string Type;
  std::string Value;    // form-file syntax; empty for events and for a class's own listing
  std::string Default;  // form-file syntax; empty when the property has none
  std::string Stored;   // for a component: "yes" or "no" now; for a class: the rule
  bool ReadOnly = false;
};

class ORV_API TDesignSession : public TFormDesigner {
 public:
  // Starts with an empty form named Form1.
  TDesignSession();
  ~TDesignSession() override;
  TDesignSession(const TDesignSession&) = delete;
  TDesignSession& operator=(const TDesignSession&) = delete;

  TComponent* Form() override;
  void EditEvent(TComponent* Component, const TPublishedProp& Event) override;
  void SetClipboardText(const std::string& Text) override;

  // The palette.
  virtual std::vector<std::string> Pages();
  virtual std::vector<std::string> PageClasses(const std::string& Page);
  // The class's palette bitmap: the bitmap resource named after it in capitals.
  virtual bool PaletteBitmap(const std::string& ClassName, TBitmapImage& Image, std::string& Error);
  // The names of the bitmap resources and the identifiers of the string resources.
  virtual void Resources(std::vector<std::string>& Bitmaps, std::vector<std::uint16_t>& Strings);
  // The text of a string resource; false when there is none.
  virtual bool StringResource(std::uint16_t Ident, std::string& Text);
  // A palette class's published properties with type, default and stored rule.
  virtual bool ClassProperties(const std::string& ClassName, std::vector<TInspectorRow>& Rows,
                               std::string& Error);

  // The form.
  virtual void NewForm();
  // Replaces the form by the one Text describes; on failure the form stays as it was.
  virtual bool LoadForm(const std::string& Text, std::string& Error);
  virtual bool SaveForm(std::string& Text, std::string& Error);
  // "Name: Class" for the form and each component on it.
  virtual std::vector<std::string> ComponentList();
  // Creates a palette class's component on the form with a fresh name.
  virtual bool Drop(const std::string& ClassName, std::string& Name, std::string& Error);
  virtual bool Delete(const std::string& Name, std::string& Error);

  // The inspector: every published property of the component (or the form) by name.
  virtual bool Inspect(const std::string& Name, std::vector<TInspectorRow>& Rows,
                       std::string& Error);
  // Value in form-file syntax; a string property also takes plain text. The component's
  // setter has the last word: a value it refuses is an error and changes nothing, a value
  // it adjusts is reported in Message.
  virtual bool SetProperty(const std::string& Name, const std::string& Property,
                           const std::string& Value, std::string& Message);

  // The component editor.
  virtual bool Verbs(const std::string& Name, std::vector<std::string>& Verbs, std::string& Error);
  virtual bool ExecuteVerb(const std::string& Name, int Index, std::string& Error);
  // Double-click; Result says what the editor asked the designer to do.
  virtual bool Edit(const std::string& Name, std::string& Result, std::string& Error);
  // The editor's Copy; Text is what reached the clipboard.
  virtual bool Copy(const std::string& Name, std::string& Text, std::string& Error);

 private:
  TComponent* FindOnForm(const std::string& Name, std::string& Error);

  std::unique_ptr<TForm> FForm;
  std::string FClipboard;
  std::string FLastEdit;
};
