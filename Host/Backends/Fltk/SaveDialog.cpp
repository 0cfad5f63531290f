#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_File_Browser.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Return_Button.H>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "Host/Application.h"
#include "Host/Backends/Fltk/FltkParts.h"

using namespace fltkparts;

namespace {

// "*.EXE;*.TXT" as FLTK's pattern, in either letter case; "*.*" matches every name, with a dot or
// not.
std::string FlPattern(const std::string& Mask) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= Mask.size()) {
    size_t end = Mask.find(';', start);
    if (end == std::string::npos) end = Mask.size();
    std::string p = Mask.substr(start, end - start);
    p.erase(0, p.find_first_not_of(' '));
    while (!p.empty() && p.back() == ' ') p.pop_back();
    if (p == "*.*" || p == "*") return "*";
    // Masks come from systems where letter case does not count ("*.EXE").
    for (const std::string& variant : {p, Lower(p), Upper(p)})
      if (!variant.empty() && std::find(parts.begin(), parts.end(), variant) == parts.end())
        parts.push_back(variant);
    start = end + 1;
  }
  if (parts.empty()) return "*";
  if (parts.size() == 1) return parts[0];
  std::string out = "{";
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? "," : "") + parts[i];
  return out + "}";
}

bool IsDir(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CurrentDir() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string("/");
}

struct TSaveState {
  TFltkBackend::TDialog* Dialog = nullptr;
  Fl_Input* Folder = nullptr;
  Fl_File_Browser* Browser = nullptr;
  Fl_Input* Name = nullptr;
  Fl_Choice* Types = nullptr;
  const TSaveDialogRequest* Request = nullptr;
  std::string Dir;

  void Load() {
    std::string d = Dir;
    if (d.empty() || d.back() != '/') d += '/';
    Folder->value(Dir.c_str());
    const int index = std::max(0, Types->value());
    const auto& filters = Request->Filters;
    const std::string pattern =
        static_cast<size_t>(index) < filters.size() ? FlPattern(filters[index].second) : "*";
    Browser->filter(pattern.c_str());
    Browser->load(d.c_str());
    // The entry for the folder itself is of no use here.
    for (int i = Browser->size(); i >= 1; --i)
      if (std::strcmp(Browser->text(i), "./") == 0) Browser->remove(i);
  }
  void Enter(const std::string& Sub) {
    if (Sub == "../") {
      const size_t slash = Dir.find_last_of('/');
      Dir = slash == 0 || slash == std::string::npos ? "/" : Dir.substr(0, slash);
    } else {
      Dir = (Dir == "/" ? "/" : Dir + "/") + Sub.substr(0, Sub.size() - 1);
    }
    Load();
  }
};

}  // namespace

bool TFltkBackend::SaveDialog(TSaveDialogRequest& Request) {
  if (!FOpened || !Application) return false;
  TDialog d;
  TSaveState st;
  st.Dialog = &d;
  st.Request = &Request;
  st.Dir = Request.InitialDir.empty() ? CurrentDir() : Request.InitialDir;
  while (st.Dir.size() > 1 && st.Dir.back() == '/') st.Dir.pop_back();
  std::string proposed = Request.FileName;
  if (const size_t slash = proposed.find_last_of('/'); slash != std::string::npos) {
    if (Request.InitialDir.empty() && slash > 0) st.Dir = proposed.substr(0, slash);
    proposed = proposed.substr(slash + 1);
  }
  // A folder that does not exist (the framework asks again after refusing one) would show
  // an empty list with no way up: start in the nearest one that does.
  while (st.Dir.size() > 1 && !IsDir(st.Dir)) {
    const size_t slash = st.Dir.find_last_of('/');
    st.Dir = slash == 0 || slash == std::string::npos ? "/" : st.Dir.substr(0, slash);
  }
  if (!IsDir(st.Dir)) st.Dir = CurrentDir();

  const int w = 520, h = 372;
  d.Window = std::make_unique<TDialogWindow>(w, h);
  d.Window->copy_label(Request.Title.empty() ? "Save As" : Request.Title.c_str());
  st.Folder = new Fl_Input(100, 12, 400, 26, "Save &in:");
  st.Folder->when(FL_WHEN_ENTER_KEY_ALWAYS);
  st.Browser = new Fl_File_Browser(20, 48, 480, 230);
  st.Browser->type(FL_HOLD_BROWSER);
  st.Name = new Fl_Input(110, 292, 280, 26, "File &name:");
  st.Name->value(proposed.c_str());
  st.Types = new Fl_Choice(110, 330, 280, 26, "Save as &type:");
  for (const auto& filter : Request.Filters) {
    // Menu item texts treat '/' as a submenu and '&' as an access key.
    std::string item = FlText(filter.first, false);
    std::string safe;
    for (char c : item) {
      if (c == '/') safe += '\\';
      safe += c;
    }
    st.Types->add(safe.c_str());
  }
  if (Request.Filters.empty()) st.Types->add("All files");
  st.Types->value(std::clamp(Request.FilterIndex - 1, 0, std::max(0, st.Types->size() - 2)));
  auto* save = new TDefaultButton(410, 292, 90, 26, "&Save");
  d.Window->Default = save;
  d.Hints.Close = true;  // as Cancel
  auto* cancel = new Fl_Button(410, 330, 90, 26, "Cancel");
  d.Window->end();

  st.Folder->callback(
      [](Fl_Widget*, void* Data) {
        auto* s = static_cast<TSaveState*>(Data);
        const std::string typed = s->Folder->value();
        if (IsDir(typed)) s->Dir = typed;
        s->Load();
      },
      &st);
  st.Browser->callback(
      [](Fl_Widget*, void* Data) {
        auto* s = static_cast<TSaveState*>(Data);
        const int line = s->Browser->value();
        if (line <= 0) return;
        const std::string item = s->Browser->text(line);
        if (!item.empty() && item.back() == '/') {
          if (Fl::event_clicks()) s->Enter(item);
        } else {
          s->Name->value(item.c_str());
        }
      },
      &st);
  st.Types->callback([](Fl_Widget*, void* Data) { static_cast<TSaveState*>(Data)->Load(); }, &st);
  save->callback(
      [](Fl_Widget*, void* Data) {
        auto* s = static_cast<TSaveState*>(Data);
        std::string name = s->Name->value();
        if (name.empty()) return;
        const std::string full = name[0] == '/' ? name : s->Dir + (s->Dir == "/" ? "" : "/") + name;
        if (IsDir(full)) {
          s->Dir = full;
          s->Name->value("");
          s->Load();
          return;
        }
        s->Dialog->Result = mrOk;
        s->Dialog->Done = true;
      },
      &st);
  auto cancelCb = [](Fl_Widget*, void* Data) {
    auto* s = static_cast<TSaveState*>(Data);
    s->Dialog->Result = mrCancel;
    s->Dialog->Done = true;
  };
  cancel->callback(cancelCb, &st);
  d.Window->callback(cancelCb, &st);
  st.Load();
  st.Name->take_focus();
  RunDialog(d);
  if (!d.Done || d.Result != mrOk) return false;
  const std::string name = st.Name->value();
  Request.FileName = name[0] == '/' ? name : st.Dir + (st.Dir == "/" ? "" : "/") + name;
  Request.FilterIndex = st.Types->value() + 1;
  return true;
}
