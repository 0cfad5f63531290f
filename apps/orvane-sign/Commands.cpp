#include "Commands.h"

#include "Keys.h"
#include "SignCommand.h"
#include "VerifyCommand.h"

namespace {

// keygen and pubkey: one KEYFILE and nothing else.
cli::TProgram KeyProgram(const char* Command, const char* Summary, TArgs& Args) {
  return {
      std::string("orvane-sign ") + Command, "KEYFILE", Summary, Summary, {}, ArgWords(Args), {}};
}

int RunKeyCommand(const cli::TProgram& Program, const TArgs& Args, int (*Run)(const std::string&)) {
  if (Args.Words.size() != 1) return cli::UsageError(Program, "takes exactly one KEYFILE");
  return Run(Args.Words[0]);
}

const TCommand Commands[] = {
    {"keygen",
     [](TArgs& A) {
       return KeyProgram("keygen",
                         "write a new key pair, KEYFILE (mode 0600) and KEYFILE.pub, never over "
                         "an existing file, and print the public key",
                         A);
     },
     [](const cli::TProgram& P, const TArgs& A) { return RunKeyCommand(P, A, KeyGen); }},
    {"pubkey", [](TArgs& A) { return KeyProgram("pubkey", "print the public key of KEYFILE", A); },
     [](const cli::TProgram& P, const TArgs& A) { return RunKeyCommand(P, A, PrintPublicKey); }},
    {"sign", SignProgram, Sign},
    {"verify", VerifyProgram, Verify},
};

}  // namespace

const TCommand* FindCommand(const std::string& Name) {
  for (const TCommand& c : Commands)
    if (Name == c.Name) return &c;
  return nullptr;
}

cli::TProgram ToolProgram() {
  cli::TSection commands{"Commands", "", {}};
  std::vector<cli::TSection> sections;
  for (const TCommand& c : Commands) {
    TArgs unused;
    const cli::TProgram p = c.Program(unused);
    commands.Items.emplace_back(std::string(c.Name) + " " + p.Synopsis, p.Summary);
    if (p.Options.empty()) continue;
    cli::TSection options{"Options of " + std::string(c.Name), p.Description, {}};
    for (const cli::TOption& o : p.Options)
      options.Items.emplace_back("--" + o.Name + (o.Value.empty() ? "" : " " + o.Value), o.Help);
    sections.push_back(options);
  }
  sections.insert(sections.begin(), commands);
  sections.push_back({"Exit status",
                      "",
                      {{"0", "success"},
                       {"1", "verification failed"},
                       {"2", "a command line that does not fit, or any other failure"}}});
  return {"orvane-sign",
          "COMMAND [OPTION...] ARGUMENT...",
          "keys, signed entries and checks of update pages",
          "Makes Ed25519 keys for update pages, prints the signed entries of a page for an "
          "update file and its read-mes, and checks a published page and its files by the "
          "update check's own rules. Each command takes --help for its own options.",
          {},
          [](const std::string& Word) { return "unknown command \"" + Word + "\""; },
          sections};
}
