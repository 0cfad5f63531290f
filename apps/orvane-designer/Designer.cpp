#include "Designer.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Png.h"

namespace {

std::vector<std::string> Words(const std::string& line, size_t max) {
  std::vector<std::string> words;
  size_t at = 0;
  while (words.size() + 1 < max) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos) return words;
    const size_t end = line.find_first_of(" \t", at);
    words.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return words;
    at = end;
  }
  at = line.find_first_not_of(" \t", at);
  if (at != std::string::npos) words.push_back(line.substr(at));  // the rest, as typed
  return words;
}

void PrintTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> width;
  for (const auto& row : rows)
    for (size_t i = 0; i < row.size(); ++i) {
      if (width.size() <= i) width.push_back(0);
      width[i] = std::max(width[i], row[i].size());
    }
  for (const auto& row : rows) {
    std::string line = " ";
    for (size_t i = 0; i < row.size(); ++i) {
      line += " " + row[i];
      if (i + 1 < row.size()) line += std::string(width[i] - row[i].size() + 1, ' ');
    }
    std::cout << line << "\n";
  }
}

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  text = s.str();
  return !in.bad();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

size_t ColoursUsed(const TBitmapImage& image) {
  std::vector<bool> seen(256, false);
  for (std::uint8_t p : image.Pixels) seen[p] = true;
  return static_cast<size_t>(std::count(seen.begin(), seen.end(), true));
}

// The bitmap in the terminal: coloured blocks on a terminal, palette indices otherwise.
void DrawBitmap(const TBitmapImage& image) {
  const bool colour = ::isatty(1) != 0;
  for (int y = 0; y < image.Height; ++y) {
    std::string line = "  ";
    for (int x = 0; x < image.Width; ++x) {
      const std::uint8_t p = image.Pixel(x, y);
      if (colour) {
        const std::uint32_t rgb = image.Palette[p];
        line += "\x1b[48;2;" + std::to_string(rgb >> 16) + ";" + std::to_string((rgb >> 8) & 0xFF) +
                ";" + std::to_string(rgb & 0xFF) + "m  ";
      } else {
        line += "0123456789ABCDEF"[p & 15];
      }
    }
    std::cout << line << (colour ? "\x1b[0m" : "") << "\n";
  }
}

}  // namespace

TDesigner::TDesigner(std::string packagePath) : FDefaultPath(std::move(packagePath)) {}

const std::vector<TDesigner::TCommand>& TDesigner::Commands() {
  using D = TDesigner;
  static const std::vector<TCommand> commands = {
      {"load", "[PATH]", 1, "load the package library and register its components", &D::Load,
       nullptr},
      {"unload", "", 1, "unregister the components and unload the library", &D::Unload, nullptr},
      {"palette", "", 1, "pages and classes of the palette", nullptr, &D::Palette},
      {"bitmap", "CLASS [FILE.png]", 2, "show a class's palette bitmap, or write it as a PNG file",
       nullptr, &D::Bitmap},
      {"resources", "", 1, "the package's bitmaps and string table", nullptr, &D::Resources},
      {"string", "ID", 2, "one text of the string table", nullptr, &D::String},
      {"class", "CLASS", 2, "published properties of a class: type, default, stored", nullptr,
       &D::Class},
      {"new", "", 1, "start an empty form", nullptr, &D::New},
      {"drop", "CLASS", 2, "put a component of a palette class on the form", nullptr, &D::Drop},
      {"components", "", 1, "the form and its components", nullptr, &D::Components},
      {"inspect", "NAME", 2, "the property inspector of a component (or of the form)", nullptr,
       &D::Inspect},
      {"set", "NAME PROPERTY VALUE", 3, "change a property (form-file syntax; strings also plain)",
       nullptr, &D::Set},
      {"verbs", "NAME", 2, "the context menu entries of a component's editor", nullptr, &D::Verbs},
      {"verb", "NAME INDEX", 3, "run a context menu entry", nullptr, &D::Verb},
      {"edit", "NAME", 2, "double-click on a component", nullptr, &D::Edit},
      {"copy", "NAME", 2, "copy a component to the clipboard", nullptr, &D::Copy},
      {"delete", "NAME", 2, "remove a component from the form", nullptr, &D::Delete},
      {"show", "", 1, "the form as its form file holds it", nullptr, &D::Show},
      {"save", "FILE", 2, "write the form file", nullptr, &D::Save},
      {"open", "FILE", 2, "read the form file", nullptr, &D::Open},
      {"help", "", 1, "the list of commands", &D::Help, nullptr},
      {"quit", "", 1, "end the designer (also exit, or the end of the input)", &D::Quit, nullptr},
      {"exit", "", 1, nullptr, &D::Quit, nullptr},
  };
  return commands;
}

std::vector<std::pair<std::string, std::string>> TDesigner::CommandList() {
  std::vector<std::pair<std::string, std::string>> list;
  for (const TCommand& c : Commands())
    if (c.Help != nullptr)
      list.emplace_back(std::string(c.Name) + (*c.Args != 0 ? " " : "") + c.Args, c.Help);
  return list;
}

bool TDesigner::Run(const std::string& line) {
  const TWords w = Words(line, 4);
  if (w.empty() || w[0][0] == '#') return true;
  const auto& commands = Commands();
  const auto c = std::find_if(commands.begin(), commands.end(),
                              [&](const TCommand& C) { return w[0] == C.Name; });
  if (c == commands.end() && FPackage.Loaded())
    Error("unknown command " + w[0] + " (type help)");
  else if (c == commands.end() || (c->Here == nullptr && !FPackage.Loaded()))
    Error("load the package first (or type help)");
  else if (w.size() < c->Words)
    Error(std::string("usage: ") + c->Name + " " + c->Args);
  else if (c->Here != nullptr)
    (this->*(c->Here))(w);
  else if (const std::string error =
               FPackage.Call([&](TDesignSession* s) { (this->*(c->InPackage))(*s, w); });
           !error.empty())
    Error(error);
  std::cout.flush();
  return !FQuit;
}

void TDesigner::Error(const std::string& text) {
  ++FErrors;
  std::cout << "error: " << text << "\n";
}

void TDesigner::Help(const TWords&) {
  for (const auto& [usage, help] : CommandList())
    std::cout << usage << std::string(usage.size() < 26 ? 26 - usage.size() : 1, ' ') << help
              << "\n";
}

void TDesigner::Quit(const TWords&) {
  FQuit = true;
}

void TDesigner::Load(const TWords& w) {
  std::string error;
  const std::string path = w.size() > 1 ? w[1] : FDefaultPath;
  if (FPackage.Load(path, error))
    std::cout << "loaded OrvanePack " << FPackage.Version() << "\n";
  else
    Error(error);
}

void TDesigner::Unload(const TWords&) {
  if (!FPackage.Loaded()) return Error("no package is loaded");
  std::cout << (FPackage.Unload() ? "unloaded\n" : "unloaded (the library stays mapped)\n");
}

// The commands below run on the package's thread.

void TDesigner::Palette(TDesignSession& s, const TWords&) {
  for (const std::string& page : s.Pages()) {
    std::cout << "page " << page << "\n";
    for (const std::string& cls : s.PageClasses(page)) {
      TBitmapImage image;
      std::string why;
      std::cout << "  " << cls;
      if (s.PaletteBitmap(cls, image, why))
        std::cout << "  bitmap " << image.Width << "x" << image.Height << ", " << image.BitsPerPixel
                  << " bits, " << ColoursUsed(image) << " colours\n";
      else
        std::cout << "  (" << why << ")\n";
    }
  }
}

void TDesigner::Bitmap(TDesignSession& s, const TWords& w) {
  TBitmapImage image;
  std::string error;
  if (!s.PaletteBitmap(w[1], image, error)) return Error(error);
  if (w.size() < 3) return DrawBitmap(image);
  try {
    if (!WriteFile(w[2], EncodePalettePng(image.Width, image.Height, image.Palette, image.Pixels)))
      return Error("cannot write " + w[2]);
  } catch (const std::exception& e) {
    return Error(e.what());
  }
  std::cout << "wrote " << w[2] << " (" << image.Width << "x" << image.Height << ", "
            << image.Palette.size() << " colours)\n";
}

void TDesigner::Resources(TDesignSession& s, const TWords&) {
  std::vector<std::string> bitmaps;
  std::vector<std::uint16_t> strings;
  s.Resources(bitmaps, strings);
  std::cout << "bitmaps:";
  for (const std::string& b : bitmaps) std::cout << " " << b;
  std::cout << "\nstrings: " << strings.size();
  if (!strings.empty()) std::cout << " (" << strings.front() << " to " << strings.back() << ")";
  std::cout << "\n";
}

void TDesigner::String(TDesignSession& s, const TWords& w) {
  std::string text;
  unsigned long id = 0;
  try {
    id = std::stoul(w[1]);
  } catch (const std::exception&) {
    return Error("string identifier " + w[1] + " is no number");
  }
  if (id > 65535 || !s.StringResource(static_cast<std::uint16_t>(id), text))
    return Error("no string " + w[1]);
  std::string shown;
  for (char c : text) shown += c == '\r' ? std::string("\\r") : std::string(1, c);  // line break
  std::cout << id << ": " << shown << "\n";
}

void TDesigner::Class(TDesignSession& s, const TWords& w) {
  std::vector<TInspectorRow> rows;
  std::string error;
  if (!s.ClassProperties(w[1], rows, error)) return Error(error);
  std::vector<std::vector<std::string>> table{{"Property", "Type", "Default", "Stored"}};
  for (const TInspectorRow& r : rows)
    table.push_back({r.Name + (r.ReadOnly ? " (read-only)" : ""), r.Type,
                     r.Default.empty() ? "-" : r.Default, r.Stored});
  PrintTable(table);
}

void TDesigner::New(TDesignSession& s, const TWords&) {
  s.NewForm();
  std::cout << "new form\n";
}

void TDesigner::Drop(TDesignSession& s, const TWords& w) {
  std::string name, error;
  if (!s.Drop(w[1], name, error)) return Error(error);
  std::cout << "dropped " << name << ": " << w[1] << "\n";
}

void TDesigner::Components(TDesignSession& s, const TWords&) {
  for (const std::string& c : s.ComponentList()) std::cout << "  " << c << "\n";
}

void TDesigner::Inspect(TDesignSession& s, const TWords& w) {
  std::vector<TInspectorRow> rows;
  std::string error;
  if (!s.Inspect(w[1], rows, error)) return Error(error);
  std::vector<std::vector<std::string>> table{{"Property", "Type", "Value", "Default", "Stored"}};
  for (const TInspectorRow& r : rows)
    table.push_back({r.Name, r.Type, r.Value.empty() ? "-" : r.Value,
                     r.Default.empty() ? "-" : r.Default, r.Stored});
  PrintTable(table);
}

void TDesigner::Set(TDesignSession& s, const TWords& w) {
  std::string message;
  if (!s.SetProperty(w[1], w[2], w.size() > 3 ? w[3] : "", message)) return Error(message);
  std::cout << message << "\n";
}

void TDesigner::Verbs(TDesignSession& s, const TWords& w) {
  std::vector<std::string> verbs;
  std::string error;
  if (!s.Verbs(w[1], verbs, error)) return Error(error);
  std::cout << verbs.size() << (verbs.size() == 1 ? " verb\n" : " verbs\n");
  for (size_t i = 0; i < verbs.size(); ++i) std::cout << "  " << i << ": " << verbs[i] << "\n";
}

void TDesigner::Verb(TDesignSession& s, const TWords& w) {
  int index = -1;
  try {
    index = std::stoi(w[2]);
  } catch (const std::exception&) {
    return Error("verb index " + w[2] + " is no number");
  }
  std::string error;
  if (!s.ExecuteVerb(w[1], index, error)) return Error(error);
  std::cout << "ran verb " << index << " of " << w[1] << "\n";
}

void TDesigner::Edit(TDesignSession& s, const TWords& w) {
  std::string result, error;
  if (!s.Edit(w[1], result, error)) return Error(error);
  std::cout << "edit " << w[1] << ": " << result << "\n";
}

void TDesigner::Copy(TDesignSession& s, const TWords& w) {
  std::string text, error;
  if (!s.Copy(w[1], text, error)) return Error(error);
  std::cout << text;
}

void TDesigner::Delete(TDesignSession& s, const TWords& w) {
  std::string error;
  if (!s.Delete(w[1], error)) return Error(error);
  std::cout << "deleted " << w[1] << "\n";
}

void TDesigner::Show(TDesignSession& s, const TWords&) {
  std::string text, error;
  if (!s.SaveForm(text, error)) return Error(error);
  std::cout << text;
}

void TDesigner::Save(TDesignSession& s, const TWords& w) {
  std::string text, error;
  if (!s.SaveForm(text, error)) return Error(error);
  if (!WriteFile(w[1], text)) return Error("cannot write " + w[1]);
  std::cout << "saved " << w[1] << "\n";
}

void TDesigner::Open(TDesignSession& s, const TWords& w) {
  std::string text, error;
  if (!ReadFile(w[1], text)) return Error("cannot read " + w[1]);
  if (!s.LoadForm(text, error)) return Error(w[1] + ": " + error);
  std::cout << "opened " << w[1] << "\n";
}
