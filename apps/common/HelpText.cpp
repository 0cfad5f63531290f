// --help: the table as a terminal shows it, wrapped to 80 columns.
#include <algorithm>

#include "CommandLine.h"

namespace cli {

namespace {

constexpr std::size_t Width = 79;
constexpr std::size_t HelpColumn = 24;

// Text's words in lines that end before column Width, each line after the first starting
// at column Indent; the first goes on from column At.
std::string Wrap(const std::string& Text, std::size_t Indent, std::size_t At) {
  std::string out;
  std::size_t column = At;
  bool first = true;
  for (std::size_t i = Text.find_first_not_of(' '); i != std::string::npos;
       i = Text.find_first_not_of(' ', i)) {
    std::size_t end = Text.find(' ', i);
    if (end == std::string::npos) end = Text.size();
    const std::size_t len = end - i;
    if (!first && column + 1 + len > Width) {
      out += '\n';
      out.append(Indent, ' ');
      column = Indent;
    } else if (!first) {
      out += ' ';
      ++column;
    }
    out.append(Text, i, len);
    column += len;
    first = false;
    i = end;
  }
  return out;
}

// Paragraphs parted by empty lines, each wrapped.
std::string Paragraphs(const std::string& Text, std::size_t Indent) {
  std::string out;
  std::size_t at = 0;
  while (at <= Text.size()) {
    std::size_t end = Text.find("\n\n", at);
    if (end == std::string::npos) end = Text.size();
    std::string para = Text.substr(at, end - at);
    for (char& c : para)
      if (c == '\n') c = ' ';
    if (!para.empty()) out += std::string(Indent, ' ') + Wrap(para, Indent, Indent) + "\n";
    at = end + 2;
    if (at <= Text.size()) out += "\n";
  }
  return out;
}

// "  TERM" padded to the help column, or on a line of its own when longer.
std::string Row(const std::string& Term, const std::string& Text) {
  std::string out = "  " + Term;
  if (out.size() + 2 > HelpColumn)
    out += "\n" + std::string(HelpColumn, ' ');
  else
    out += std::string(HelpColumn - out.size(), ' ');
  return out + Wrap(Text, HelpColumn, HelpColumn) + "\n";
}

std::string OptionTerm(const TOption& O) {
  std::string term = O.Short != 0 ? std::string("-") + O.Short + ", " : "    ";
  term += "--" + O.Name;
  if (!O.Value.empty()) term += " " + O.Value;
  return term;
}

}  // namespace

std::vector<TOption> ListedOptions(const TProgram& Program) {
  std::vector<TOption> all = Program.Options;
  all.push_back(
      {"help", HasShort(Program, 'h') ? '\0' : 'h', "", nullptr, "show this help and exit"});
  const bool ownVersion =
      std::any_of(all.begin(), all.end(), [](const TOption& O) { return O.Name == "version"; });
  if (!ownVersion)
    all.push_back({"version", 0, "", nullptr, "show the program's name and version and exit"});
  return all;
}

std::string HelpText(const TProgram& Program) {
  std::string out = "Usage: " + Program.Name + " " + Program.Synopsis + "\n";
  out += Paragraphs(Program.Description, 0);
  out += "\nOptions:\n";
  for (const TOption& o : ListedOptions(Program)) out += Row(OptionTerm(o), o.Help);
  for (const TSection& s : Program.Sections) {
    out += "\n" + s.Title + ":\n";
    if (!s.Intro.empty()) out += Paragraphs(s.Intro, 2);
    for (const auto& [term, text] : s.Items) out += Row(term, text);
  }
  return out;
}

}  // namespace cli
