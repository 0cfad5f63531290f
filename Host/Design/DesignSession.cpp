#include "Host/DesignSession.h"

#include <charconv>

#include "Host/FormFile.h"
#include "Host/Forms.h"
#include "Host/Resources.h"
#include "Host/SysUtils.h"

namespace {

// The form-file reader prefixes its errors with the line; the one line here is no news.
std::string ReaderMessage(const std::string& message) {
  if (message.compare(0, 5, "Line ") == 0) {
    const size_t colon = message.find(": ");
    if (colon != std::string::npos) return message.substr(colon + 2);
  }
  return message;
}

// The object that holds the property at the end of Chain, or null.
TPersistent* HolderOf(TPersistent& root, const std::vector<const TPublishedProp*>& chain) {
  TPersistent* target = &root;
  for (size_t i = 0; i + 1 < chain.size() && target != nullptr; ++i)
    target = chain[i]->GetObject(*target);
  return target;
}

const TDesignProperty* FindDesignProperty(const std::vector<TDesignProperty>& props,
                                          const std::string& path) {
  for (const TDesignProperty& d : props)
    if (SameText(d.Path, path)) return &d;
  return nullptr;
}

// The text a value is written as once the reader has taken it, so that the outcome of
// the setter can be compared with what was asked for. Empty when it cannot tell.
std::string Canonical(const TPublishedProp& p, const std::string& text) {
  switch (p.Kind) {
    case TPropKind::Integer: {
      std::int64_t v = 0;
      auto r = std::from_chars(text.data(), text.data() + text.size(), v);
      if (r.ec == std::errc() && r.ptr == text.data() + text.size())
        return FormatDesignValue(p, TPropValue{v});
      return text;
    }
    case TPropKind::Enum:
    case TPropKind::Boolean:
      for (size_t i = 0; i < p.Names.size(); ++i)
        if (SameText(p.Names[i], text)) return p.Names[i];
      if (p.Kind == TPropKind::Boolean) return SameText(text, "True") ? "True" : "False";
      return text;
    case TPropKind::Set: {
      if (text.size() < 2 || text.front() != '[' || text.back() != ']') return text;
      std::uint64_t bits = 0;
      const std::string inner = text.substr(1, text.size() - 2);
      size_t start = 0;
      while (!Trim(inner).empty()) {
        const size_t comma = inner.find(',', start);
        const std::string item = Trim(
            inner.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        for (size_t i = 0; i < p.Names.size() && i < 64; ++i)
          if (SameText(p.Names[i], item)) bits |= std::uint64_t{1} << i;
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
      return FormatDesignValue(p, TPropValue{static_cast<std::int64_t>(bits)});
    }
    case TPropKind::Double: {
      double v = 0;
      auto r = std::from_chars(text.data(), text.data() + text.size(), v);
      if (r.ec == std::errc() && r.ptr == text.data() + text.size())
        return FormatDesignValue(p, TPropValue{v});
      return text;
    }
    default:
      return text;
  }
}

std::string SafeValue(const TPublishedProp& p, TPersistent* holder) {
  if (holder == nullptr) return "(none)";
  if (p.Kind == TPropKind::Event || !p.Get) return {};
  try {
    return FormatDesignValue(p, p.Get(*holder));
  } catch (const std::exception& e) {
    // One line in the inspector, whatever the message holds.
    std::string text = std::string("(error: ") + e.what() + ")";
    for (char& c : text)
      if (static_cast<unsigned char>(c) < 32) c = ' ';
    return text;
  }
}

}  // namespace

TDesignSession::TDesignSession() {
  NewForm();
}

TDesignSession::~TDesignSession() = default;

TComponent* TDesignSession::Form() {
  return FForm.get();
}

void TDesignSession::EditEvent(TComponent* Component, const TPublishedProp& Event) {
  // No code editor here: name the handler a code editor would open.
  const std::string base = Event.Name.compare(0, 2, "On") == 0 ? Event.Name.substr(2) : Event.Name;
  FLastEdit = "handler " + Component->Name() + base + " of " + Component->Name() + "." +
              Event.Name + " (" + Event.TypeName + ")";
}

void TDesignSession::SetClipboardText(const std::string& Text) {
  FClipboard = Text;
}

std::vector<std::string> TDesignSession::Pages() {
  return PalettePages();
}

std::vector<std::string> TDesignSession::PageClasses(const std::string& Page) {
  std::vector<std::string> names;
  for (const TPublishedClass* c : PaletteClasses(Page)) names.push_back(c->ClassName());
  return names;
}

bool TDesignSession::PaletteBitmap(const std::string& ClassName, TBitmapImage& Image,
                                   std::string& Error) {
  std::string bytes;
  if (!FindBitmapResource(UpperCase(ClassName), bytes)) {
    Error = "no bitmap resource named " + UpperCase(ClassName);
    return false;
  }
  if (!DecodeBmp(bytes, Image, Error)) {
    Error = "bitmap " + UpperCase(ClassName) + ": " + Error;
    return false;
  }
  return true;
}

void TDesignSession::Resources(std::vector<std::string>& Bitmaps,
                               std::vector<std::uint16_t>& Strings) {
  Bitmaps = BitmapResourceNames();
  Strings = StringResourceIdents();
}

bool TDesignSession::StringResource(std::uint16_t Ident, std::string& Text) {
  return FindStringResource(Ident, Text);
}

bool TDesignSession::ClassProperties(const std::string& ClassName, std::vector<TInspectorRow>& Rows,
                                     std::string& Error) {
  const TPublishedClass* cls = FindPaletteClass(ClassName);
  if (cls == nullptr) cls = FindClass(ClassName);
  if (cls == nullptr) {
    Error = "class " + ClassName + " is not registered";
    return false;
  }
  Rows.clear();
  try {
    for (const TDesignProperty& d : DesignProperties(*cls))
      Rows.push_back({d.Path, d.TypeName, "", d.Default, d.StoredRule, d.Prop->ReadOnly()});
  } catch (const std::exception& e) {
    Error = e.what();
    return false;
  }
  return true;
}

void TDesignSession::NewForm() {
  auto form = std::make_unique<TForm>(nullptr);
  form->SetName("Form1");
  FForm = std::move(form);
}

bool TDesignSession::LoadForm(const std::string& Text, std::string& Error) {
  try {
    auto form = std::make_unique<TForm>(nullptr);
    TextToComponent(Text, *form);
    FForm = std::move(form);
    return true;
  } catch (const std::exception& e) {
    Error = e.what();
    return false;
  }
}

bool TDesignSession::SaveForm(std::string& Text, std::string& Error) {
  try {
    Text = ComponentToText(*FForm);
    return true;
  } catch (const std::exception& e) {
    Error = e.what();
    return false;
  }
}

std::vector<std::string> TDesignSession::ComponentList() {
  std::vector<std::string> list{FForm->Name() + ": " + FForm->ClassName()};
  for (int i = 0; i < FForm->ComponentCount(); ++i)
    list.push_back(FForm->Components(i)->Name() + ": " + FForm->Components(i)->ClassName());
  return list;
}

bool TDesignSession::Drop(const std::string& ClassName, std::string& Name, std::string& Error) {
  const TPublishedClass* cls = FindPaletteClass(ClassName);
  if (cls == nullptr) {
    Error = "class " + ClassName + " is not on the palette";
    return false;
  }
  // Orvane1, Orvane2, ...: the class name without its T and the first free number.
  std::string base = cls->ClassName();
  if (base.size() > 1 && (base[0] == 'T' || base[0] == 't')) base.erase(0, 1);
  std::string name;
  for (int n = 1; n <= FForm->ComponentCount() + 1; ++n) {
    name = base + std::to_string(n);
    if (FForm->FindComponent(name) == nullptr && !SameText(name, FForm->Name())) break;
  }
  TComponent* c = nullptr;
  try {
    c = cls->Create(FForm.get());
    if (c == nullptr) {
      Error = "class " + ClassName + " cannot be created";
      return false;
    }
    c->SetName(name);
  } catch (const std::exception& e) {
    delete c;
    Error = e.what();
    return false;
  }
  Name = name;
  return true;
}

bool TDesignSession::Delete(const std::string& Name, std::string& Error) {
  TComponent* c = FindOnForm(Name, Error);
  if (c == nullptr) return false;
  if (c == FForm.get()) {
    Error = "the form itself cannot be deleted";
    return false;
  }
  c->Free();
  return true;
}

TComponent* TDesignSession::FindOnForm(const std::string& Name, std::string& Error) {
  if (SameText(Name, FForm->Name())) return FForm.get();
  TComponent* c = FForm->FindComponent(Name);
  if (c == nullptr) Error = "no component named " + Name + " on " + FForm->Name();
  return c;
}

bool TDesignSession::Inspect(const std::string& Name, std::vector<TInspectorRow>& Rows,
                             std::string& Error) {
  TComponent* c = FindOnForm(Name, Error);
  if (c == nullptr) return false;
  if (c->Published() == nullptr) {
    Error = Name + " publishes nothing";
    return false;
  }
  Rows.clear();
  try {
    for (const TDesignProperty& d : DesignProperties(*c->Published())) {
      const TPublishedProp& p = *d.Prop;
      TPersistent* holder = HolderOf(*c, d.Chain);
      TInspectorRow row{d.Path, d.TypeName, SafeValue(p, holder), d.Default, "no", p.ReadOnly()};
      if (p.Kind == TPropKind::Class) {
        row.Stored = "-";
      } else if (p.Kind != TPropKind::Event && p.Stored && !p.ReadOnly() && holder != nullptr) {
        // As the form-file writer decides: a value equal to its default is left out.
        bool differs = true;
        try {
          differs = !p.Default || !(*p.Default == p.Get(*holder));
        } catch (const std::exception&) {
        }
        row.Stored = differs ? "yes" : "no";
      }
      Rows.push_back(std::move(row));
    }
  } catch (const std::exception& e) {
    Error = e.what();
    return false;
  }
  return true;
}

bool TDesignSession::SetProperty(const std::string& Name, const std::string& Property,
                                 const std::string& Value, std::string& Message) {
  TComponent* c = FindOnForm(Name, Message);
  if (c == nullptr) return false;
  const TPublishedClass* cls = c->Published();
  const std::vector<TDesignProperty> props =
      cls ? DesignProperties(*cls) : std::vector<TDesignProperty>{};
  const TDesignProperty* d = FindDesignProperty(props, Property);
  if (d == nullptr) {
    Message = "property \"" + Property + "\" does not exist in " + c->ClassName();
    return false;
  }
  const TPublishedProp& p = *d->Prop;
  std::string text = Trim(Value);
  // A string may be typed as it is; quoted or #-coded text is read as a form file would.
  if (p.Kind == TPropKind::String && (text.empty() || (text[0] != '\'' && text[0] != '#')))
    text = FormatDesignValue(p, TPropValue{Value});
  const std::string shown = c->Name() + "." + d->Path;
  if (text.find('\n') != std::string::npos || text.find('\r') != std::string::npos) {
    Message = shown + ": a value is one line";
    return false;
  }
  TPersistent* holder = HolderOf(*c, d->Chain);
  const std::string before = SafeValue(p, holder);
  // The form-file reader checks the value against the property's type before anything is
  // assigned, so a bad value leaves the component as it was.
  try {
    TextToComponent(
        "object " + c->Name() + ": " + c->ClassName() + "\n  " + d->Path + " = " + text + "\nend\n",
        *c);
  } catch (const std::exception& e) {
    Message = shown + ": " + ReaderMessage(e.what());
    return false;
  }
  holder = HolderOf(*c, d->Chain);
  const std::string after = SafeValue(p, holder);
  const std::string asked = Canonical(p, text);
  if (after == asked || SameText(after, asked)) {
    Message = shown + " = " + after;
    return true;
  }
  if (after == before) {
    Message = shown + ": " + c->ClassName() + " refused " + text + "; it stays " + before;
    return false;
  }
  Message = shown + " = " + after + " (" + c->ClassName() + " made it so from " + text + ")";
  return true;
}

bool TDesignSession::Verbs(const std::string& Name, std::vector<std::string>& Verbs,
                           std::string& Error) {
  TComponent* c = FindOnForm(Name, Error);
  if (c == nullptr) return false;
  try {
    std::unique_ptr<TComponentEditor> editor = GetComponentEditor(c, this);
    Verbs.clear();
    // Bounded: an editor that claims a huge count is not to hang the designer.
    const int count = editor->GetVerbCount();
    for (int i = 0; i < count && i < 100; ++i) Verbs.push_back(editor->GetVerb(i));
  } catch (const std::exception& e) {
    Error = e.what();
    return false;
  }
  return true;
}

bool TDesignSession::ExecuteVerb(const std::string& Name, int Index, std::string& Error) {
  TComponent* c = FindOnForm(Name, Error);
  if (c == nullptr) return false;
  try {
    std::unique_ptr<TComponentEditor> editor = GetComponentEditor(c, this);
    if (Index < 0 || Index >= editor->GetVerbCount()) {
      Error = Name + " has no verb " + std::to_string(Index);
      return false;
    }
    editor->ExecuteVerb(Index);
  } catch (const std::exception& e) {
    Error = e.what();
    return false;
  }
  return true;
}

bool TDesignSession::Edit(const std::string& Name, std::string& Result, std::string& Error) {
  TComponent* c = FindOnForm(Name, Error);
  if (c == nullptr) return false;
  FLastEdit.clear();
  try {
    GetComponentEditor(c, this)->Edit();
  } catch (const std::exception& e) {
    Error = e.what();
    return false;
  }
  Result = FLastEdit.empty() ? "nothing to edit" : FLastEdit;
  return true;
}

bool TDesignSession::Copy(const std::string& Name, std::string& Text, std::string& Error) {
  TComponent* c = FindOnForm(Name, Error);
  if (c == nullptr) return false;
  FClipboard.clear();
  try {
    GetComponentEditor(c, this)->Copy();
  } catch (const std::exception& e) {
    Error = e.what();
    return false;
  }
  Text = FClipboard;
  return true;
}
