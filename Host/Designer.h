// The form designer's side of a package: the palette (pages of component classes), the
// component editors that add entries to a component's context menu, and what a design
// tool reads about each class's published properties.
//
// A package's Register calls RegisterComponents and RegisterComponentEditor; a design tool
// reads PalettePages, PaletteClasses, FindComponentEditor and DesignProperties. Registering
// a class again on the same page, or an editor again for the same class, changes nothing
// (the later editor wins), so a package that is loaded twice shows each class once.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "Host/Component.h"
#include "Host/Published.h"
#include "Platform/Export.h"

// What a component editor asks of the designer that holds the component's form.
class ORV_API TFormDesigner {
 public:
  virtual ~TFormDesigner() = default;
  // The form being designed.
  virtual TComponent* Form() = 0;
  // Asks to open (creating it if needed) the handler of Event for Component.
  virtual void EditEvent(TComponent* Component, const TPublishedProp& Event) = 0;
  // The designer's clipboard: text in form-file syntax.
  virtual void SetClipboardText(const std::string& Text) = 0;
};

// Adds entries to a component's context menu and decides what a double-click does.
class ORV_API TComponentEditor : public TObject {
 public:
  TComponentEditor(TComponent* AComponent, TFormDesigner* ADesigner);
  std::string ClassName() const override { return "TComponentEditor"; }

  // Double-click. Does nothing here.
  virtual void Edit();
  // Runs context menu entry Index. Does nothing here.
  virtual void ExecuteVerb(int Index);
  // The text of context menu entry Index.
  virtual std::string GetVerb(int Index);
  // How many entries the editor adds to the context menu.
  virtual int GetVerbCount();
  // Puts the component, as form-file text, on the designer's clipboard.
  virtual void Copy();

  TComponent* Component() const { return FComponent; }
  TFormDesigner* Designer() const { return FDesigner; }

 private:
  TComponent* FComponent;
  TFormDesigner* FDesigner;
};

// The editor of every class that registers none: a double-click opens the handler of the
// component's main event (OnCreate, OnChange or OnClick when it publishes one, otherwise
// its first event).
class ORV_API TDefaultEditor : public TComponentEditor {
 public:
  using TComponentEditor::TComponentEditor;
  std::string ClassName() const override { return "TDefaultEditor"; }
  void Edit() override;

 protected:
  // Called by Edit for each published event in turn until Continue is cleared; remembers
  // the first event and the main one.
  virtual void EditProperty(const TPublishedProp& Prop, bool& Continue);

 private:
  const TPublishedProp* FFirst = nullptr;
  const TPublishedProp* FBest = nullptr;
};

// An editor class: its name and how to make one for a component on a designer's form.
struct ORV_API TComponentEditorClass {
  std::string ClassName;
  std::function<std::unique_ptr<TComponentEditor>(TComponent*, TFormDesigner*)> Create;
};

template <class E>
TComponentEditorClass EditorClassOf(std::string className) {
  return {std::move(className), [](TComponent* c, TFormDesigner* d) {
            return std::unique_ptr<TComponentEditor>(new E(c, d));
          }};
}

// Puts the classes on palette page Page (created when new) and makes them known to form
// files. A null class raises Exception and registers nothing.
ORV_API void RegisterComponents(const std::string& Page,
                                std::initializer_list<const TPublishedClass*> Classes);
ORV_API void RegisterComponentEditor(const TPublishedClass* ComponentClass,
                                     TComponentEditorClass EditorClass);
// Empties the palette and the editor list (a package being unloaded).
ORV_API void UnregisterDesignerClasses();

// Pages in the order they were first registered; classes of one page likewise.
ORV_API std::vector<std::string> PalettePages();
ORV_API std::vector<const TPublishedClass*> PaletteClasses(const std::string& Page);
// The palette class of that name (any page), or null.
ORV_API const TPublishedClass* FindPaletteClass(const std::string& ClassName);
// The editor registered for the class or its nearest ancestor; null for none.
ORV_API const TComponentEditorClass* FindComponentEditor(const TPublishedClass* ComponentClass);
// The component's editor: the registered one, or a TDefaultEditor.
ORV_API std::unique_ptr<TComponentEditor> GetComponentEditor(TComponent* Component,
                                                             TFormDesigner* Designer);

// One published property as the inspector lists it. The properties of a held object
// follow its own entry, named with a dot ("InfoTags.VersionTag").
struct ORV_API TDesignProperty {
  std::string Path;
  std::string TypeName;
  const TPublishedProp* Prop = nullptr;
  std::vector<const TPublishedProp*> Chain;  // from the class's own property to Prop
  bool HasDefault = false;
  std::string Default;  // in form-file syntax
  // When the form file keeps it: "always", "when not <default>", "never", "never
  // (read-only)", "never (event)", or "its properties" for a held object.
  std::string StoredRule;
};
ORV_API std::vector<TDesignProperty> DesignProperties(const TPublishedClass& Class);

// A property value in form-file syntax (strings quoted, enumerations by name, sets in
// brackets). Raises Exception for an enumeration value outside its names.
ORV_API std::string FormatDesignValue(const TPublishedProp& Prop, const TPropValue& Value);
