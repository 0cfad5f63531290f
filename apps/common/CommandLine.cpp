#include "CommandLine.h"

#include <cstdio>

#ifndef ORV_VERSION
#error "ORV_VERSION comes from the build"
#endif

namespace cli {

namespace {

enum class TBuiltIn { None, Help, Version, Man };

const TOption* FindLong(const TProgram& Program, const std::string& Name) {
  for (const TOption& o : Program.Options)
    if (o.Name == Name) return &o;
  return nullptr;
}

// A command whose scripts already give --version a meaning of their own keeps it.
TBuiltIn BuiltIn(const TProgram& Program, const std::string& Arg) {
  if (Arg == "--help" || (Arg == "-h" && !HasShort(Program, 'h'))) return TBuiltIn::Help;
  if (Arg == "--version" && FindLong(Program, "version") == nullptr) return TBuiltIn::Version;
  if (Arg == "--man") return TBuiltIn::Man;
  return TBuiltIn::None;
}

int RunBuiltIn(const TProgram& Program, TBuiltIn What) {
  const std::string text = What == TBuiltIn::Help      ? HelpText(Program)
                           : What == TBuiltIn::Version ? VersionText(Program)
                                                       : ManualPage(Program);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

const TOption* FindShort(const TProgram& Program, char Letter) {
  for (const TOption& o : Program.Options)
    if (o.Short == Letter) return &o;
  return nullptr;
}

// Reads the command line; an empty answer when it fits.
class TParser {
 public:
  TParser(const TProgram& Program, const std::vector<std::string>& Args)
      : FProgram(Program), FArgs(Args) {}

  // The built-in option (--help, --version, --man) that ended the reading, if one did.
  TBuiltIn BuiltInSeen = TBuiltIn::None;

  std::string Run() {
    bool optionsEnd = false;
    for (FAt = 0; FAt < FArgs.size(); ++FAt) {
      const std::string& a = FArgs[FAt];
      std::string fault;
      if (optionsEnd || a.size() < 2 || a[0] != '-')
        fault = Operand(a);
      else if (a == "--")
        optionsEnd = true;
      else if ((BuiltInSeen = BuiltIn(FProgram, a)) != TBuiltIn::None)
        return {};
      else if (a[1] == '-')
        fault = Long(a);
      else
        fault = Shorts(a);
      if (!fault.empty()) return fault;
    }
    return {};
  }

 private:
  std::string Operand(const std::string& Word) {
    if (!FProgram.Operand) return "unexpected argument \"" + Word + "\"";
    return FProgram.Operand(Word);
  }

  std::string Apply(const TOption& O, const std::string& Shown, const std::string& Value) {
    const std::string fault = O.Apply(Value);
    return fault.empty() ? fault : Shown + ": " + fault;
  }

  // The value of the option at FAt, from the next argument.
  bool NextValue(std::string& Value) {
    if (FAt + 1 >= FArgs.size()) return false;
    Value = FArgs[++FAt];
    return true;
  }

  std::string Long(const std::string& Arg) {
    const std::size_t eq = Arg.find('=');
    const std::string shown = Arg.substr(0, eq);
    const TOption* o = FindLong(FProgram, shown.substr(2));
    if (o == nullptr) return "unknown option " + shown;
    std::string value;
    if (o->Value.empty()) {
      if (eq != std::string::npos) return "option " + shown + " takes no value";
    } else if (eq != std::string::npos) {
      value = Arg.substr(eq + 1);
    } else if (!NextValue(value)) {
      return "option " + shown + " needs a value (" + o->Value + ")";
    }
    return Apply(*o, shown, value);
  }

  // "-sO" is "-s -O"; "-oFILE" and "-o FILE" give -o its value.
  std::string Shorts(const std::string& Arg) {
    for (std::size_t i = 1; i < Arg.size(); ++i) {
      const std::string shown = std::string("-") + Arg[i];
      const TOption* o = FindShort(FProgram, Arg[i]);
      if (o == nullptr) return "unknown option " + shown;
      if (o->Value.empty()) {
        if (std::string fault = Apply(*o, shown, ""); !fault.empty()) return fault;
        continue;
      }
      std::string value = Arg.substr(i + 1);
      if (value.empty() && !NextValue(value))
        return "option " + shown + " needs a value (" + o->Value + ")";
      return Apply(*o, shown, value);
    }
    return {};
  }

  const TProgram& FProgram;
  const std::vector<std::string>& FArgs;
  std::size_t FAt = 0;
};

}  // namespace

bool HasShort(const TProgram& Program, char Letter) {
  return FindShort(Program, Letter) != nullptr;
}

std::optional<int> ParseCommandLine(const TProgram& Program, const std::vector<std::string>& Args) {
  TParser parser(Program, Args);
  const std::string fault = parser.Run();
  if (!fault.empty()) return UsageError(Program, fault);
  if (parser.BuiltInSeen != TBuiltIn::None) return RunBuiltIn(Program, parser.BuiltInSeen);
  return std::nullopt;
}

std::optional<int> ParseCommandLine(const TProgram& Program, int argc, char** argv) {
  return ParseCommandLine(Program,
                          std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}

int UsageError(const TProgram& Program, const std::string& What) {
  std::fprintf(stderr, "%s: %s (see %s --help)\n", Program.Name.c_str(), What.c_str(),
               Program.Name.c_str());
  return ExitUsage;
}

std::string VersionText(const TProgram& Program) {
  return Program.Name + " " + ORV_VERSION + "\n";
}

}  // namespace cli
