// orvane-designer: a form designer for the terminal. It loads the package library at run
// time, as a designer installs a package, and works on one form held as a text form file.
// Commands come one per line on stdin (type "help"); results and errors go to stdout. Run
// on a script, it exits with 1 when a command failed.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>

#include "CommandLine.h"
#include "Designer.h"

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

cli::TProgram DesignerProgram(std::string& Package) {
  return {"orvane-designer",
          "[--package PATH] < COMMANDS",
          "design forms with the package's components, from the terminal",
          "Loads the component package at run time, as a designer installs one, and works on "
          "one form held as a text form file. Commands come one a line on standard input; "
          "results and errors (lines starting with \"error:\") go to standard output. A line "
          "starting with # is a comment.",
          {{"package", 0, "PATH", cli::StoreIn(Package),
            "the package library that \"load\" loads (by default the one installed beside the "
            "designer, or the one it was built with)"}},
          nullptr,
          {{"Commands", "", TDesigner::CommandList()},
           {"Exit status",
            "",
            {{"0", "every command went well, or the commands were typed at a terminal"},
             {"1", "a command of a script (standard input not a terminal) failed"},
             {"2", "the command line does not fit"}}}}};
}

}  // namespace

int main(int argc, char** argv) {
  std::string package = DefaultPackagePath();
  if (const auto status = cli::ParseCommandLine(DesignerProgram(package), argc, argv))
    return *status;
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
