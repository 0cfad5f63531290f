// orvane-designer: a form designer for the terminal. It loads the package library at run
// time, as a designer installs a package, and works on one form held as a text form file.
// Commands come one per line on stdin (type "help"); results and errors go to stdout. Run
// on a script, it exits with 1 when a command failed.
//
//   orvane-designer [--package PATH]
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Host/DesignSession.h"
#include "OrvanePack/Package.h"
#include "Png.h"

#if !defined(ORV_PACKAGE_PATH) || !defined(ORV_PACKAGE_INSTALLED)
#error "ORV_PACKAGE_PATH and ORV_PACKAGE_INSTALLED come from the build"
#endif

namespace {

// The package an installed designer was installed with (beside its own folder), else the
// one of the build tree it was built in.
std::string DefaultPackagePath() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const std::filesystem::path installed = self.parent_path() / ORV_PACKAGE_INSTALLED;
    if (std::filesystem::exists(installed, ec)) return installed.lexically_normal().string();
  }
  return ORV_PACKAGE_PATH;
}

const char kHelp[] =
    "load [PATH]               load the package library and register its components\n"
    "unload                    unregister the components and unload the library\n"
    "palette                   pages and classes of the palette\n"
    "bitmap CLASS [FILE.png]   show a class's palette bitmap, or write it as a PNG file\n"
    "resources                 the package's bitmaps and string table\n"
    "string ID                 one text of the string table\n"
    "class CLASS               published properties of a class: type, default, stored\n"
    "new                       start an empty form\n"
    "drop CLASS                put a component of a palette class on the form\n"
    "components                the form and its components\n"
    "inspect NAME              the property inspector of a component (or of the form)\n"
    "set NAME PROPERTY VALUE   change a property (form-file syntax; strings also plain)\n"
    "verbs NAME                the context menu entries of a component's editor\n"
    "verb NAME INDEX           run a context menu entry\n"
    "edit NAME                 double-click on a component\n"
    "copy NAME                 copy a component to the clipboard\n"
    "delete NAME               remove a component from the form\n"
    "show                      the form as its form file holds it\n"
    "save FILE | open FILE     write or read the form file\n"
    "quit\n";

// The loaded package. Every call into it runs on a thread of its own that ends before the
// library is closed: the units keep per-thread state (message queues, hidden windows), and
// while a thread that touched it lives, the library could not leave the process.
class TPackage {
 public:
  ~TPackage() { Unload(); }

  bool Loaded() const { return FHandle != nullptr; }

  bool Load(const std::string& path, std::string& error) {
    if (FHandle != nullptr) {
      error = "the package is loaded already";
      return false;
    }
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      error = ::dlerror();
      return false;
    }
    auto version = reinterpret_cast<TOrvanePackVersionProc>(::dlsym(handle, "OrvanePackVersion"));
    auto reg = reinterpret_cast<TOrvanePackRegisterProc>(::dlsym(handle, "OrvanePackRegister"));
    auto session = reinterpret_cast<TOrvanePackNewDesignSessionProc>(
        ::dlsym(handle, "OrvanePackNewDesignSession"));
    auto unreg = reinterpret_cast<TOrvanePackRegisterProc>(::dlsym(handle, "OrvanePackUnregister"));
    if (version == nullptr || reg == nullptr || session == nullptr || unreg == nullptr) {
      error = path + " is not a component package (its entry points are missing)";
      ::dlclose(handle);
      return false;
    }
    FHandle = handle;
    FPath = path;
    FUnregister = unreg;
    FVersion = version();
    FThread = std::thread([this] { Serve(); });
    error = Call([&](TDesignSession*) {
      reg();
      FSession.reset(session());
    });
    if (error.empty()) return true;
    Unload();
    return false;
  }

  // Runs work on the package's thread and waits for it; answers the message of an error
  // that escaped it (empty when none did).
  std::string Call(const std::function<void(TDesignSession*)>& work) {
    std::unique_lock lock(FLock);
    FWork = &work;
    FError.clear();
    FWake.notify_all();
    FWake.wait(lock, [this] { return FWork == nullptr; });
    return FError;
  }

  // True when the library has left the process.
  bool Unload() {
    if (FHandle == nullptr) return true;
    Call([this](TDesignSession*) {
      FSession.reset();  // its code lives in the library
      FUnregister();
    });
    {
      std::lock_guard lock(FLock);
      FStop = true;
      FWake.notify_all();
    }
    FThread.join();
    FStop = false;
    ::dlclose(FHandle);
    FHandle = nullptr;
    void* still = ::dlopen(FPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (still == nullptr) return true;
    ::dlclose(still);
    return false;
  }

  const std::string& Version() const { return FVersion; }

 private:
  void Serve() {
    std::unique_lock lock(FLock);
    for (;;) {
      FWake.wait(lock, [this] { return FWork != nullptr || FStop; });
      if (FWork == nullptr) return;
      try {
        (*FWork)(FSession.get());
      } catch (const std::exception& e) {
        FError = e.what();
      } catch (...) {
        FError = "unknown error";
      }
      FWork = nullptr;
      FWake.notify_all();
    }
  }

  void* FHandle = nullptr;
  std::string FPath;
  std::string FVersion;
  TOrvanePackRegisterProc FUnregister = nullptr;
  std::unique_ptr<TDesignSession> FSession;
  std::thread FThread;
  std::mutex FLock;
  std::condition_variable FWake;
  const std::function<void(TDesignSession*)>* FWork = nullptr;
  bool FStop = false;
  std::string FError;
};

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

class TDesigner {
 public:
  explicit TDesigner(std::string packagePath) : FDefaultPath(std::move(packagePath)) {}

  // False for "quit".
  bool Run(const std::string& line) {
    const std::vector<std::string> w = Words(line, 4);
    if (w.empty() || w[0][0] == '#') return true;
    const std::string& cmd = w[0];
    if (cmd == "quit" || cmd == "exit") return false;
    if (cmd == "help") {
      std::cout << kHelp;
    } else if (cmd == "load") {
      std::string error;
      const std::string path = w.size() > 1 ? w[1] : FDefaultPath;
      if (FPackage.Load(path, error))
        std::cout << "loaded OrvanePack " << FPackage.Version() << "\n";
      else
        Error(error);
    } else if (cmd == "unload") {
      if (!FPackage.Loaded()) return Error("no package is loaded"), true;
      std::cout << (FPackage.Unload() ? "unloaded\n" : "unloaded (the library stays mapped)\n");
    } else if (!FPackage.Loaded()) {
      if (cmd.size() > 0) Error("load the package first (or type help)");
    } else {
      const std::string error = FPackage.Call([&](TDesignSession* s) { Design(*s, w); });
      if (!error.empty()) Error(error);
    }
    std::cout.flush();
    return true;
  }

  int Errors() const { return FErrors; }

 private:
  void Error(const std::string& text) {
    ++FErrors;
    std::cout << "error: " << text << "\n";
  }

  bool Need(const std::vector<std::string>& w, size_t n, const char* usage) {
    if (w.size() >= n) return true;
    Error(std::string("usage: ") + usage);
    return false;
  }

  // Runs on the package's thread.
  void Design(TDesignSession& s, const std::vector<std::string>& w) {
    const std::string& cmd = w[0];
    std::string error;
    if (cmd == "palette") {
      for (const std::string& page : s.Pages()) {
        std::cout << "page " << page << "\n";
        for (const std::string& cls : s.PageClasses(page)) {
          TBitmapImage image;
          std::string why;
          std::cout << "  " << cls;
          if (s.PaletteBitmap(cls, image, why))
            std::cout << "  bitmap " << image.Width << "x" << image.Height << ", "
                      << image.BitsPerPixel << " bits, " << ColoursUsed(image) << " colours\n";
          else
            std::cout << "  (" << why << ")\n";
        }
      }
    } else if (cmd == "bitmap") {
      if (!Need(w, 2, "bitmap CLASS [FILE.png]")) return;
      TBitmapImage image;
      if (!s.PaletteBitmap(w[1], image, error)) return Error(error);
      if (w.size() < 3) return DrawBitmap(image);
      try {
        if (!WriteFile(w[2],
                       EncodePalettePng(image.Width, image.Height, image.Palette, image.Pixels)))
          return Error("cannot write " + w[2]);
      } catch (const std::exception& e) {
        return Error(e.what());
      }
      std::cout << "wrote " << w[2] << " (" << image.Width << "x" << image.Height << ", "
                << image.Palette.size() << " colours)\n";
    } else if (cmd == "resources") {
      std::vector<std::string> bitmaps;
      std::vector<std::uint16_t> strings;
      s.Resources(bitmaps, strings);
      std::cout << "bitmaps:";
      for (const std::string& b : bitmaps) std::cout << " " << b;
      std::cout << "\nstrings: " << strings.size();
      if (!strings.empty()) std::cout << " (" << strings.front() << " to " << strings.back() << ")";
      std::cout << "\n";
    } else if (cmd == "string") {
      if (!Need(w, 2, "string ID")) return;
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
      for (char c : text)
        shown += c == '\r' ? std::string("\\r") : std::string(1, c);  // line break
      std::cout << id << ": " << shown << "\n";
    } else if (cmd == "class") {
      if (!Need(w, 2, "class CLASS")) return;
      std::vector<TInspectorRow> rows;
      if (!s.ClassProperties(w[1], rows, error)) return Error(error);
      std::vector<std::vector<std::string>> table{{"Property", "Type", "Default", "Stored"}};
      for (const TInspectorRow& r : rows)
        table.push_back({r.Name + (r.ReadOnly ? " (read-only)" : ""), r.Type,
                         r.Default.empty() ? "-" : r.Default, r.Stored});
      PrintTable(table);
    } else if (cmd == "new") {
      s.NewForm();
      std::cout << "new form\n";
    } else if (cmd == "drop") {
      if (!Need(w, 2, "drop CLASS")) return;
      std::string name;
      if (!s.Drop(w[1], name, error)) return Error(error);
      std::cout << "dropped " << name << ": " << w[1] << "\n";
    } else if (cmd == "components") {
      for (const std::string& c : s.ComponentList()) std::cout << "  " << c << "\n";
    } else if (cmd == "inspect") {
      if (!Need(w, 2, "inspect NAME")) return;
      std::vector<TInspectorRow> rows;
      if (!s.Inspect(w[1], rows, error)) return Error(error);
      std::vector<std::vector<std::string>> table{
          {"Property", "Type", "Value", "Default", "Stored"}};
      for (const TInspectorRow& r : rows)
        table.push_back({r.Name, r.Type, r.Value.empty() ? "-" : r.Value,
                         r.Default.empty() ? "-" : r.Default, r.Stored});
      PrintTable(table);
    } else if (cmd == "set") {
      if (!Need(w, 3, "set NAME PROPERTY VALUE")) return;
      std::string message;
      const bool ok = s.SetProperty(w[1], w[2], w.size() > 3 ? w[3] : "", message);
      if (!ok) return Error(message);
      std::cout << message << "\n";
    } else if (cmd == "verbs") {
      if (!Need(w, 2, "verbs NAME")) return;
      std::vector<std::string> verbs;
      if (!s.Verbs(w[1], verbs, error)) return Error(error);
      std::cout << verbs.size() << (verbs.size() == 1 ? " verb\n" : " verbs\n");
      for (size_t i = 0; i < verbs.size(); ++i) std::cout << "  " << i << ": " << verbs[i] << "\n";
    } else if (cmd == "verb") {
      if (!Need(w, 3, "verb NAME INDEX")) return;
      int index = -1;
      try {
        index = std::stoi(w[2]);
      } catch (const std::exception&) {
        return Error("verb index " + w[2] + " is no number");
      }
      if (!s.ExecuteVerb(w[1], index, error)) return Error(error);
      std::cout << "ran verb " << index << " of " << w[1] << "\n";
    } else if (cmd == "edit") {
      if (!Need(w, 2, "edit NAME")) return;
      std::string result;
      if (!s.Edit(w[1], result, error)) return Error(error);
      std::cout << "edit " << w[1] << ": " << result << "\n";
    } else if (cmd == "copy") {
      if (!Need(w, 2, "copy NAME")) return;
      std::string text;
      if (!s.Copy(w[1], text, error)) return Error(error);
      std::cout << text;
    } else if (cmd == "delete") {
      if (!Need(w, 2, "delete NAME")) return;
      if (!s.Delete(w[1], error)) return Error(error);
      std::cout << "deleted " << w[1] << "\n";
    } else if (cmd == "show" || cmd == "save") {
      std::string text;
      if (!s.SaveForm(text, error)) return Error(error);
      if (cmd == "show") {
        std::cout << text;
        return;
      }
      if (!Need(w, 2, "save FILE")) return;
      if (!WriteFile(w[1], text)) return Error("cannot write " + w[1]);
      std::cout << "saved " << w[1] << "\n";
    } else if (cmd == "open") {
      if (!Need(w, 2, "open FILE")) return;
      std::string text;
      if (!ReadFile(w[1], text)) return Error("cannot read " + w[1]);
      if (!s.LoadForm(text, error)) return Error(w[1] + ": " + error);
      std::cout << "opened " << w[1] << "\n";
    } else {
      Error("unknown command " + cmd + " (type help)");
    }
  }

  std::string FDefaultPath;
  TPackage FPackage;
  int FErrors = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::string package = DefaultPackagePath();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--package" && i + 1 < argc) {
      package = argv[++i];
    } else {
      std::cerr << "usage: orvane-designer [--package PATH] < commands\n";
      return 2;
    }
  }
  TDesigner designer(package);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!designer.Run(line)) break;
  }
  // A script (standard input not a terminal) fails as a whole when one of its commands
  // failed; someone typing saw each error as it came.
  return designer.Errors() > 0 && ::isatty(0) == 0 ? 1 : 0;
}
