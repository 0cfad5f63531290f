#include "Host/FormFile.h"

#include <charconv>
#include <cmath>

#include "Host/Published.h"
#include "Host/StringList.h"

namespace {

std::string QuoteString(const std::string& s) {
  std::string out;
  bool quoted = false;
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127) {
      if (quoted) out += '\'';
      quoted = false;
      out += '#' + std::to_string(u);
    } else {
      if (!quoted) out += '\'';
      quoted = true;
      out += c;
      if (c == '\'') out += '\'';
    }
  }
  if (quoted) out += '\'';
  return out.empty() ? "''" : out;
}

std::string FormatDouble(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

}  // namespace

std::string FormatPropertyValue(const TPublishedProp& p, const TPropValue& v) {
  switch (p.Kind) {
    case TPropKind::String:
      return QuoteString(std::get<std::string>(v));
    case TPropKind::Integer: {
      std::string ident;
      if (p.IntToIdent && p.IntToIdent(std::get<std::int64_t>(v), ident)) return ident;
      return IntToStr(std::get<std::int64_t>(v));
    }
    case TPropKind::Boolean:
      return std::get<bool>(v) ? "True" : "False";
    case TPropKind::Enum: {
      std::int64_t ord = std::get<std::int64_t>(v);
      if (ord >= 0 && ord < static_cast<std::int64_t>(p.Names.size()))
        return p.Names[static_cast<size_t>(ord)];
      throw EWriteError("Property " + p.Name + " holds " + IntToStr(ord) + ", not a " + p.TypeName);
    }
    case TPropKind::Set: {
      auto bits = static_cast<std::uint64_t>(std::get<std::int64_t>(v));
      std::string out = "[";
      for (size_t i = 0; i < p.Names.size() && i < 64; ++i)
        if (bits & (std::uint64_t{1} << i)) {
          if (out.size() > 1) out += ", ";
          out += p.Names[i];
        }
      return out + "]";
    }
    case TPropKind::Double:
      return FormatDouble(std::get<double>(v));
    case TPropKind::Class:
    case TPropKind::Event:
      break;
  }
  return {};
}

class TFormWriter {
 public:
  std::string Out;

  void WriteObject(TComponent& c, int depth) {
    // What the reader would refuse is not written either.
    if (depth >= MaxFormNesting)
      throw EWriteError("components nested deeper than " + std::to_string(MaxFormNesting) +
                        " levels cannot be written");
    const std::string indent(static_cast<size_t>(depth) * 2, ' ');
    Out += indent + "object " + (c.Name().empty() ? "" : c.Name() + ": ") + c.ClassName() + "\n";
    c.SetComponentStateFlag(csWriting, true);
    try {
      WriteProps(c, c.Published(), "", indent + "  ", true);
      for (int i = 0; i < c.ComponentCount(); ++i)
        if (!c.Components(i)->IsSubComponent()) WriteObject(*c.Components(i), depth + 1);
    } catch (...) {
      c.SetComponentStateFlag(csWriting, false);
      throw;
    }
    c.SetComponentStateFlag(csWriting, false);
    Out += indent + "end\n";
  }

 private:
  void WriteProps(TPersistent& obj, const TPublishedClass* cls, const std::string& prefix,
                  const std::string& indent, bool isComponent) {
    if (cls == nullptr) return;
    for (const TPublishedProp* p : cls->Properties()) {
      if (!p->Stored || p->Kind == TPropKind::Event) continue;
      // A component's name stands in its object line.
      if (isComponent && p->Name == "Name") continue;
      if (p->Kind == TPropKind::Class) {
        TPersistent* sub = p->GetObject(obj);
        if (sub == nullptr) continue;
        const TPublishedClass* subCls = sub->Published() ? sub->Published() : p->ObjectClass;
        WriteProps(*sub, subCls, prefix + p->Name + ".", indent, false);
        continue;
      }
      if (p->ReadOnly()) continue;
      TPropValue v = p->Get(obj);
      if (p->Default && *p->Default == v) continue;
      Out += indent + prefix + p->Name + " = " + FormatPropertyValue(*p, v) + "\n";
    }
  }
};

void WriteComponentText(TStream& Stream, TComponent& Root) {
  const std::string text = ComponentToText(Root);
  Stream.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
}

std::string ComponentToText(TComponent& Root) {
  TFormWriter w;
  w.WriteObject(Root, 0);
  return w.Out;
}

class TFormReader {
 public:
  struct TPendingProp {
    int Line = 0;
    std::vector<const TPublishedProp*> Path;
    TPropValue Value;
  };
  struct TPendingObject {
    int Line = 0;
    std::string Name;
    std::string ClassName;
    const TPublishedClass* Class = nullptr;
    std::vector<TPendingProp> Props;
    std::vector<TPendingObject> Children;
  };

  explicit TFormReader(const std::string& text) { FLines.SetText(text); }
  explicit TFormReader(TStream& stream) { FLines.LoadFromStream(stream); }

  void Read(TComponent& root) {
    TPendingObject top;
    FIndex = 0;
    int line = 0;
    if (!NextLine(line)) Fail(1, "the form file is empty");
    ParseHeader(line, top);
    if (!SameText(top.ClassName, root.ClassName()))
      Fail(line, "the form file holds a " + top.ClassName + ", not a " + root.ClassName());
    top.Class = root.Published();
    ParseBody(top, &root, 1);
    if (NextLine(line)) Fail(line, "text after the final end");

    try {
      Apply(root, top, false);
    } catch (...) {
      RollBack();
      throw;
    }
    for (const TTouched& t : FTouched) t.Component->SetComponentStateFlag(csReading, false);
    for (const TTouched& t : FTouched) t.Component->Loaded();
  }

 private:
  [[noreturn]] static void Fail(int line, const std::string& what) {
    throw EReadError("Line " + std::to_string(line) + ": " + what);
  }

  // The next line that is not blank, trimmed; false at the end of the text.
  bool NextLine(int& lineNo) {
    while (FIndex < FLines.Count()) {
      std::string s = Trim(FLines.Strings(FIndex));
      ++FIndex;
      if (!s.empty()) {
        lineNo = FIndex;
        FCurrent = std::move(s);
        return true;
      }
    }
    return false;
  }

  void ParseHeader(int line, TPendingObject& obj) {
    obj.Line = line;
    const std::string& s = FCurrent;
    if (s.compare(0, 7, "object ") != 0) Fail(line, "\"object\" expected");
    std::string rest = Trim(s.substr(7));
    size_t colon = rest.find(':');
    if (colon == std::string::npos) {
      obj.ClassName = rest;
    } else {
      obj.Name = Trim(rest.substr(0, colon));
      obj.ClassName = Trim(rest.substr(colon + 1));
      if (!IsValidIdent(obj.Name)) Fail(line, "'" + obj.Name + "' is not a valid component name");
    }
    if (!IsValidIdent(obj.ClassName)) Fail(line, "'" + obj.ClassName + "' is not a class name");
  }

  // Properties and nested objects up to the matching "end". existing: the component the
  // block describes, when there already is one (to find nested objects by name).
  // depth: the nesting level of obj, the root's being 1.
  void ParseBody(TPendingObject& obj, TComponent* existing, int depth) {
    int line = obj.Line;
    while (NextLine(line)) {
      if (FCurrent == "end") return;
      if (FCurrent.compare(0, 7, "object ") == 0) {
        // Each level costs the reader stack; a hostile file must not exhaust it.
        if (depth >= MaxFormNesting)
          Fail(line, "objects nested deeper than " + std::to_string(MaxFormNesting) + " levels");
        TPendingObject child;
        ParseHeader(line, child);
        TComponent* found = existing ? existing->FindComponent(child.Name) : nullptr;
        if (found != nullptr && !SameText(found->ClassName(), child.ClassName))
          Fail(line, "a component named " + child.Name + " already exists");
        if (found != nullptr) {
          child.Class = found->Published();
        } else {
          child.Class = FindClass(child.ClassName);
          if (child.Class == nullptr) Fail(line, "class " + child.ClassName + " not found");
          if (!child.Class->CanCreate())
            Fail(line, "class " + child.ClassName + " cannot be created");
        }
        ParseBody(child, found, depth + 1);
        obj.Children.push_back(std::move(child));
        continue;
      }
      obj.Props.push_back(ParseProperty(line, obj.Class, obj.ClassName));
    }
    Fail(line, "\"end\" expected before the end of the text");
  }

  TPendingProp ParseProperty(int line, const TPublishedClass* cls, const std::string& className) {
    TPendingProp result;
    result.Line = line;
    size_t eq = FCurrent.find('=');
    if (eq == std::string::npos) Fail(line, "\"=\" expected");
    const std::string path = Trim(FCurrent.substr(0, eq));
    const std::string value = Trim(FCurrent.substr(eq + 1));
    std::string owner = className;
    size_t start = 0;
    while (true) {
      size_t dot = path.find('.', start);
      std::string name =
          path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
      const TPublishedProp* p = (cls && IsValidIdent(name)) ? cls->FindProperty(name) : nullptr;
      if (p == nullptr) Fail(line, "property \"" + name + "\" does not exist in " + owner);
      result.Path.push_back(p);
      if (dot == std::string::npos) break;
      if (p->Kind != TPropKind::Class) Fail(line, "property \"" + name + "\" holds no properties");
      cls = p->ObjectClass;
      owner = p->TypeName;
      start = dot + 1;
    }
    const TPublishedProp& p = *result.Path.back();
    if (p.Kind == TPropKind::Event)
      Fail(line, "event \"" + p.Name + "\" cannot be read from a form file");
    if (p.Kind == TPropKind::Class)
      Fail(line, "property \"" + p.Name + "\" takes its properties, not a value");
    if (p.ReadOnly()) Fail(line, "property \"" + p.Name + "\" is read-only");
    result.Value = ParseValue(line, p, value);
    return result;
  }

  static bool ParseInt64(const std::string& s, std::int64_t& out) {
    size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
    int base = 10;
    if (i < s.size() && s[i] == '$') {
      base = 16;
      ++i;
    }
    if (i >= s.size()) return false;
    std::uint64_t mag = 0;
    auto r = std::from_chars(s.data() + i, s.data() + s.size(), mag, base);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    if (base == 16 && !neg) {
      // Hexadecimal gives the bits: $FFFFFFFF80000000 is a negative value.
      out = static_cast<std::int64_t>(mag);
      return true;
    }
    if (neg ? mag > (std::uint64_t{1} << 63) : mag > static_cast<std::uint64_t>(INT64_MAX))
      return false;
    out = neg ? static_cast<std::int64_t>(0 - mag) : static_cast<std::int64_t>(mag);
    return true;
  }

  static bool ParseString(const std::string& s, std::string& out) {
    size_t i = 0;
    bool any = false;
    while (i < s.size()) {
      if (s[i] == ' ') {
        ++i;
      } else if (s[i] == '\'') {
        ++i;
        while (true) {
          if (i >= s.size()) return false;
          if (s[i] == '\'') {
            if (i + 1 < s.size() && s[i + 1] == '\'') {
              out += '\'';
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          out += s[i++];
        }
        any = true;
      } else if (s[i] == '#') {
        size_t j = ++i;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
        int code = 0;
        auto r = std::from_chars(s.data() + i, s.data() + j, code);
        if (r.ec != std::errc() || j == i || code > 255) return false;
        out += static_cast<char>(code);
        i = j;
        any = true;
      } else {
        return false;
      }
    }
    return any;
  }

  static int IndexOfName(const std::vector<std::string>& names, const std::string& s) {
    for (size_t i = 0; i < names.size(); ++i)
      if (SameText(names[i], s)) return static_cast<int>(i);
    return -1;
  }

  static TPropValue ParseValue(int line, const TPublishedProp& p, const std::string& text) {
    const std::string bad =
        "invalid value " + text + " for property \"" + p.Name + "\" of type " + p.TypeName;
    switch (p.Kind) {
      case TPropKind::String: {
        std::string s;
        if (!ParseString(text, s)) Fail(line, bad);
        return s;
      }
      case TPropKind::Integer: {
        std::int64_t v = 0;
        if (IsValidIdent(text) && p.IdentToInt) {
          if (!p.IdentToInt(text, v)) Fail(line, bad);
        } else if (!ParseInt64(text, v)) {
          Fail(line, bad);
        }
        // Hexadecimal may name the bits of a narrower type ($FFFFFFFF for -1 in 32 bits).
        if (v > p.Max && text.find('$') != std::string::npos && p.Max == INT32_MAX &&
            v <= static_cast<std::int64_t>(UINT32_MAX))
          v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
        if (v < p.Min || v > p.Max) Fail(line, bad + " (out of range)");
        return v;
      }
      case TPropKind::Boolean:
        if (SameText(text, "True")) return true;
        if (SameText(text, "False")) return false;
        Fail(line, bad);
      case TPropKind::Enum: {
        int ord = IndexOfName(p.Names, text);
        if (ord < 0) Fail(line, bad);
        return static_cast<std::int64_t>(ord);
      }
      case TPropKind::Set: {
        if (text.size() < 2 || text.front() != '[' || text.back() != ']') Fail(line, bad);
        std::uint64_t bits = 0;
        const std::string inner = Trim(text.substr(1, text.size() - 2));
        size_t start = 0;
        while (!inner.empty()) {
          size_t comma = inner.find(',', start);
          std::string item = Trim(
              inner.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
          int ord = IndexOfName(p.Names, item);
          if (ord < 0 || ord >= 64) Fail(line, bad);
          bits |= std::uint64_t{1} << ord;
          if (comma == std::string::npos) break;
          start = comma + 1;
        }
        return static_cast<std::int64_t>(bits);
      }
      case TPropKind::Double: {
        double v = 0;
        auto r = std::from_chars(text.data(), text.data() + text.size(), v);
        if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v))
          Fail(line, bad);
        return v;
      }
      case TPropKind::Class:
      case TPropKind::Event:
        break;
    }
    Fail(line, bad);
  }

  // A value as it was before the reader assigned it.
  struct TSaved {
    TPersistent* Target;
    const TPublishedProp* Prop;
    TPropValue Value;
  };
  struct TTouched {
    TComponent* Component;
    TComponentState State;  // before reading
  };

  // insideNew: c was created by this read, or by a component that was (its own parts);
  // such components go as a whole when the read is undone, so nothing of them is saved.
  void Apply(TComponent& c, const TPendingObject& obj, bool insideNew) {
    FTouched.push_back({&c, c.ComponentState()});
    if (!insideNew) Snapshot(c, c.Published());
    c.SetComponentStateFlag(csLoading, true);
    c.SetComponentStateFlag(csReading, true);
    if (!obj.Name.empty() && obj.Name != c.Name()) {
      const TPublishedProp* nameProp = TComponent::PublishedClass().FindProperty("Name");
      if (!insideNew) FLog.push_back({&c, nameProp, c.Name()});
      try {
        c.SetName(obj.Name);
      } catch (const Exception& e) {
        Fail(obj.Line, e.Message());
      }
    }
    for (const TPendingProp& p : obj.Props) {
      try {
        TPersistent* target = &c;
        for (size_t i = 0; i + 1 < p.Path.size() && target != nullptr; ++i)
          target = p.Path[i]->GetObject(*target);
        if (target == nullptr)
          Fail(p.Line, "property \"" + p.Path.back()->Name + "\" has no object");
        // Saved before the setter runs: one that refuses may have changed something already.
        if (!insideNew) FLog.push_back({target, p.Path.back(), p.Path.back()->Get(*target)});
        p.Path.back()->Set(*target, p.Value);
      } catch (const EReadError&) {
        throw;
      } catch (const Exception& e) {
        Fail(p.Line, e.Message());
      }
    }
    for (const TPendingObject& child : obj.Children) {
      TComponent* existing = child.Name.empty() ? nullptr : c.FindComponent(child.Name);
      bool created = false;
      if (existing == nullptr || !SameText(existing->ClassName(), child.ClassName)) {
        if (existing != nullptr)
          Fail(child.Line, "a component named " + child.Name + " already exists");
        existing = child.Class->Create(&c);
        if (existing == nullptr)
          Fail(child.Line, "class " + child.ClassName + " cannot be created");
        FCreated.push_back(existing);
        created = true;
      }
      Apply(*existing, child, insideNew || created);
    }
  }

  // Every value an undo may have to put back: setters can change more than their own
  // property (a new address clears Active).
  void Snapshot(TPersistent& obj, const TPublishedClass* cls, int depth = 0) {
    if (cls == nullptr || depth > 8) return;
    for (const TPublishedProp* p : cls->Properties()) {
      try {
        if (p->Kind == TPropKind::Event) continue;
        if (p->Kind == TPropKind::Class) {
          if (TPersistent* sub = p->GetObject(obj))
            Snapshot(*sub, sub->Published() ? sub->Published() : p->ObjectClass, depth + 1);
          continue;
        }
        if (p->Set || p->Restore) FSnapshot.push_back({&obj, p, p->Get(obj)});
      } catch (...) {
        // A value that cannot be read now cannot be put back either.
      }
    }
  }

  // Leaves every component as the read found it: what it created goes, every value
  // assigned returns, last first, then anything a setter changed on the side.
  void RollBack() noexcept {
    for (auto it = FCreated.rbegin(); it != FCreated.rend(); ++it) {
      TComponent* c = *it;
      std::erase_if(FTouched, [c](const TTouched& t) { return IsWithin(t.Component, c); });
      delete c;
    }
    for (auto it = FLog.rbegin(); it != FLog.rend(); ++it) PutBack(*it, false);
    for (const TSaved& s : FSnapshot) PutBack(s, true);
    for (const TTouched& t : FTouched) t.Component->FComponentState = t.State;
  }

  static bool IsWithin(const TComponent* c, const TComponent* ancestor) {
    for (; c != nullptr; c = c->Owner())
      if (c == ancestor) return true;
    return false;
  }

  static void PutBack(const TSaved& s, bool onlyIfChanged) noexcept {
    try {
      if (onlyIfChanged && s.Prop->Get(*s.Target) == s.Value) return;
      if (s.Prop->Restore)
        s.Prop->Restore(*s.Target, s.Value);
      else
        s.Prop->Set(*s.Target, s.Value);
    } catch (...) {
      // The other values still go back.
    }
  }

  std::vector<TComponent*> FCreated;  // in creation order
  std::vector<TTouched> FTouched;
  std::vector<TSaved> FLog;       // in assignment order
  std::vector<TSaved> FSnapshot;  // of the components that existed before the read
  TStringList FLines;
  int FIndex = 0;
  std::string FCurrent;
};

void ReadComponentText(TStream& Stream, TComponent& Root) {
  TFormReader reader(Stream);
  reader.Read(Root);
}

void TextToComponent(const std::string& Text, TComponent& Root) {
  TFormReader reader(Text);
  reader.Read(Root);
}
