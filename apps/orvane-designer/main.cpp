// orvane-designer: a form designer for the terminal. It loads the package library at run
// time, as a designer installs a package, and works on one form held as a text form file.
// Commands come one per line on stdin (type "help"); results and errors go to stdout. Run
// on a script, it exits with 1 when a command failed.
#include <unistd.h>

#include <iostream>
#include <string>

#include "CommandLine.h"
#include "Designer.h"

#ifndef ORV_PACKAGE_PATH
#error "ORV_PACKAGE_PATH comes from the build"
#endif

namespace {

cli::TProgram DesignerProgram(std::string& Package) {
  return {"orvane-designer",
          "[--package PATH] < COMMANDS",
          "design forms with the package's components, from the terminal",
          "Loads the component package at run time, as a designer installs one, and works on "
          "one form held as a text form file. Commands come one a line on standard input; "
          "results and errors (lines starting with \"error:\") go to standard output. A line "
          "starting with # is a comment.",
          {{"package", 0, "PATH", cli::StoreIn(Package),
            "the package library that \"load\" loads (by default the one built with the "
            "designer)"}},
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
  std::string package = ORV_PACKAGE_PATH;
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
