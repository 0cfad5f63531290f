// A program's command line as one table: the parser, --help, --version and the manual page
// are all made from it, so an option cannot be read one way and described another.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cli {

// The exit status of a command line that does not fit the program.
inline constexpr int ExitUsage = 2;

// Takes an option (Text is empty for one without a value) or a word, and answers why it is
// refused, or nothing.
using TApply = std::function<std::string(const std::string& Text)>;

struct TOption {
  std::string Name;  // the long name without its dashes: "output" for --output
  char Short = 0;    // the one-letter name ('o' for -o); 0 for none
  // The value's placeholder in the help ("FILE"); empty for an option that takes none.
  std::string Value;
  TApply Apply;
  std::string Help;
};

// What most options do: keep the value as it is, set a flag, or keep a whole number.
TApply StoreIn(std::string& Into);
TApply SetTrue(bool& Into);
// Digits only, from 0 to Most.
std::string ReadWholeNumber(const std::string& Text, std::int64_t Most, std::int64_t& Value);
template <typename T>
TApply StoreNumber(T& Into, std::int64_t Most) {
  return [&Into, Most](const std::string& Text) {
    std::int64_t v = 0;
    std::string fault = ReadWholeNumber(Text, Most, v);
    if (fault.empty()) Into = static_cast<T>(v);
    return fault;
  };
}

// A titled list in the help and the manual (exit statuses, commands): a term and its text.
struct TSection {
  std::string Title;
  std::string Intro;
  std::vector<std::pair<std::string, std::string>> Items;
};

struct TProgram {
  std::string Name;
  std::string Synopsis;  // what follows the name in a usage line: "[OPTION...] URL"
  std::string Summary;   // the manual's one line, lower case: "fetch one URL"
  // Paragraphs, parted by an empty line.
  std::string Description;
  std::vector<TOption> Options;
  // Takes a word that is no option (every word after "--"). Left empty, the program takes
  // no such word.
  TApply Operand;
  std::vector<TSection> Sections;
};

// Reads Args (without the program's name) through the table. Answers the exit status when
// the program is to end at once: 0 after --help, --version (unless the table has an
// option of that name) and the hidden --man (the manual page in roff), ExitUsage after a
// usage error, told on standard error in one line.
// Nothing: the program runs.
std::optional<int> ParseCommandLine(const TProgram& Program, const std::vector<std::string>& Args);
std::optional<int> ParseCommandLine(const TProgram& Program, int argc, char** argv);

// Tells a usage error found after parsing, as the parser tells its own; answers ExitUsage.
int UsageError(const TProgram& Program, const std::string& What);

bool HasShort(const TProgram& Program, char Letter);
// The options as --help and the manual list them: the program's, then --help and --version.
std::vector<TOption> ListedOptions(const TProgram& Program);

std::string HelpText(const TProgram& Program);
std::string VersionText(const TProgram& Program);
// The manual page, section 1, in roff.
std::string ManualPage(const TProgram& Program);

}  // namespace cli
