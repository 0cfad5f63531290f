// The manual page, section 1, in roff: what --help says, set for man(1).
#include <cctype>

#include "CommandLine.h"

namespace cli {

namespace {

// Text as roff prints it: a backslash and a minus are escaped, and a line never starts
// with a control character ("." or "'").
std::string Roff(const std::string& Text) {
  std::string out;
  bool lineStart = true;
  for (const char c : Text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
    lineStart = c == '\n';
  }
  return out;
}

std::string Upper(std::string S) {
  for (char& c : S) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return S;
}

// Paragraphs parted by empty lines, each filled by man.
std::string RoffParagraphs(const std::string& Text) {
  std::string out;
  std::size_t at = 0;
  while (at < Text.size()) {
    std::size_t end = Text.find("\n\n", at);
    if (end == std::string::npos) end = Text.size();
    if (!out.empty()) out += ".PP\n";
    out += Roff(Text.substr(at, end - at)) + "\n";
    at = end + 2;
  }
  return out;
}

std::string RoffOptionTerm(const TOption& O) {
  std::string term;
  if (O.Short != 0) term += "\\fB\\-" + Roff(std::string(1, O.Short)) + "\\fR, ";
  term += "\\fB\\-\\-" + Roff(O.Name) + "\\fR";
  if (!O.Value.empty()) term += " \\fI" + Roff(O.Value) + "\\fR";
  return term;
}

std::string RoffItem(const std::string& Term, const std::string& Text) {
  return ".TP\n" + Term + "\n" + Roff(Text) + "\n";
}

}  // namespace

std::string ManualPage(const TProgram& Program) {
  std::string version = VersionText(Program);
  version.pop_back();  // its line end
  std::string out =
      ".TH " + Upper(Roff(Program.Name)) + " 1 \"\" \"" + Roff(version) + "\" \"User Commands\"\n";
  out += ".SH NAME\n" + Roff(Program.Name) + " \\- " + Roff(Program.Summary) + "\n";
  out += ".SH SYNOPSIS\n.B " + Roff(Program.Name) + "\n" + Roff(Program.Synopsis) + "\n";
  out += ".SH DESCRIPTION\n" + RoffParagraphs(Program.Description);
  out += ".SH OPTIONS\n";
  for (const TOption& o : ListedOptions(Program)) out += RoffItem(RoffOptionTerm(o), o.Help);
  for (const TSection& s : Program.Sections) {
    out += ".SH " + Upper(Roff(s.Title)) + "\n";
    if (!s.Intro.empty()) out += RoffParagraphs(s.Intro);
    for (const auto& [term, text] : s.Items) out += RoffItem("\\fB" + Roff(term) + "\\fR", text);
  }
  return out;
}

}  // namespace cli
