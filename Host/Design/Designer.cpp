#include "Host/Designer.h"

#include <map>
#include <mutex>

#include "Host/FormFile.h"
#include "Host/SysUtils.h"

TComponentEditor::TComponentEditor(TComponent* AComponent, TFormDesigner* ADesigner)
    : FComponent(AComponent), FDesigner(ADesigner) {}

void TComponentEditor::Edit() {}

void TComponentEditor::ExecuteVerb(int) {}

std::string TComponentEditor::GetVerb(int) {
  return {};
}

int TComponentEditor::GetVerbCount() {
  return 0;
}

void TComponentEditor::Copy() {
  if (FComponent != nullptr && FDesigner != nullptr)
    FDesigner->SetClipboardText(ComponentToText(*FComponent));
}

void TDefaultEditor::Edit() {
  FFirst = FBest = nullptr;
  const TPublishedClass* cls = Component() ? Component()->Published() : nullptr;
  if (cls == nullptr) return;
  bool more = true;
  for (const TPublishedProp* p : cls->Properties()) {
    if (p->Kind != TPropKind::Event) continue;
    EditProperty(*p, more);
    if (!more) break;
  }
  const TPublishedProp* chosen = FBest ? FBest : FFirst;
  if (chosen != nullptr && Designer() != nullptr) Designer()->EditEvent(Component(), *chosen);
}

void TDefaultEditor::EditProperty(const TPublishedProp& Prop, bool& Continue) {
  if (FFirst == nullptr) FFirst = &Prop;
  if (SameText(Prop.Name, "OnCreate") || SameText(Prop.Name, "OnChange") ||
      SameText(Prop.Name, "OnClick")) {
    FBest = &Prop;
    Continue = false;
  }
}

namespace {

struct TPalettePage {
  std::string Name;
  std::vector<const TPublishedClass*> Classes;
};

struct TDesignRegistry {
  std::mutex Lock;
  std::vector<TPalettePage> Pages;
  std::map<const TPublishedClass*, TComponentEditorClass> Editors;
};

TDesignRegistry& Registry() {
  static TDesignRegistry registry;
  return registry;
}

std::string StoredRule(const TPublishedProp& p, const std::string& defaultText) {
  if (p.Kind == TPropKind::Event) return "never (event)";
  if (p.Kind == TPropKind::Class) return "its properties";
  if (!p.Stored) return "never";
  if (p.ReadOnly()) return "never (read-only)";
  if (p.Default) return "when not " + defaultText;
  return "always";
}

void AddProperties(const TPublishedClass& cls, const std::string& prefix,
                   std::vector<const TPublishedProp*> chain, std::vector<TDesignProperty>& out,
                   int depth) {
  for (const TPublishedProp* p : cls.Properties()) {
    TDesignProperty d;
    d.Path = prefix + p->Name;
    d.TypeName = p->TypeName;
    d.Prop = p;
    d.Chain = chain;
    d.Chain.push_back(p);
    if (p->Default) {
      d.HasDefault = true;
      d.Default = FormatDesignValue(*p, *p->Default);
    }
    d.StoredRule = StoredRule(*p, d.Default);
    out.push_back(d);
    // Depth bound: a class that holds an object of its own kind would nest without end.
    if (p->Kind == TPropKind::Class && p->ObjectClass != nullptr && depth < 4)
      AddProperties(*p->ObjectClass, d.Path + ".", d.Chain, out, depth + 1);
  }
}

}  // namespace

void RegisterComponents(const std::string& Page,
                        std::initializer_list<const TPublishedClass*> Classes) {
  for (const TPublishedClass* c : Classes)
    if (c == nullptr)
      throw Exception("RegisterComponents: a class of page " + Page + " is missing");
  {
    TDesignRegistry& r = Registry();
    std::lock_guard guard(r.Lock);
    TPalettePage* page = nullptr;
    for (TPalettePage& p : r.Pages)
      if (SameText(p.Name, Page)) page = &p;
    if (page == nullptr) page = &r.Pages.emplace_back(TPalettePage{Page, {}});
    for (const TPublishedClass* c : Classes) {
      bool known = false;
      for (const TPublishedClass* k : page->Classes) known = known || k == c;
      if (!known) page->Classes.push_back(c);
    }
  }
  for (const TPublishedClass* c : Classes) RegisterClass(c);
}

void RegisterComponentEditor(const TPublishedClass* ComponentClass,
                             TComponentEditorClass EditorClass) {
  if (ComponentClass == nullptr || !EditorClass.Create)
    throw Exception("RegisterComponentEditor: a component class and an editor class are needed");
  TDesignRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  r.Editors[ComponentClass] = std::move(EditorClass);
}

void UnregisterDesignerClasses() {
  TDesignRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  r.Pages.clear();
  r.Editors.clear();
}

std::vector<std::string> PalettePages() {
  TDesignRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  std::vector<std::string> names;
  for (const TPalettePage& p : r.Pages) names.push_back(p.Name);
  return names;
}

std::vector<const TPublishedClass*> PaletteClasses(const std::string& Page) {
  TDesignRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  for (const TPalettePage& p : r.Pages)
    if (SameText(p.Name, Page)) return p.Classes;
  return {};
}

const TPublishedClass* FindPaletteClass(const std::string& ClassName) {
  TDesignRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  for (const TPalettePage& p : r.Pages)
    for (const TPublishedClass* c : p.Classes)
      if (SameText(c->ClassName(), ClassName)) return c;
  return nullptr;
}

const TComponentEditorClass* FindComponentEditor(const TPublishedClass* ComponentClass) {
  TDesignRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  for (const TPublishedClass* c = ComponentClass; c != nullptr; c = c->Parent()) {
    auto it = r.Editors.find(c);
    if (it != r.Editors.end()) return &it->second;
  }
  return nullptr;
}

std::unique_ptr<TComponentEditor> GetComponentEditor(TComponent* Component,
                                                     TFormDesigner* Designer) {
  const TComponentEditorClass* cls =
      Component != nullptr ? FindComponentEditor(Component->Published()) : nullptr;
  if (cls != nullptr) return cls->Create(Component, Designer);
  return std::make_unique<TDefaultEditor>(Component, Designer);
}

std::vector<TDesignProperty> DesignProperties(const TPublishedClass& Class) {
  std::vector<TDesignProperty> out;
  AddProperties(Class, "", {}, out, 0);
  return out;
}

std::string FormatDesignValue(const TPublishedProp& Prop, const TPropValue& Value) {
  // The inspector shows what the form file would hold; an object property shows its type.
  if (Prop.Kind == TPropKind::Class) return "(" + Prop.TypeName + ")";
  return FormatPropertyValue(Prop, Value);
}
