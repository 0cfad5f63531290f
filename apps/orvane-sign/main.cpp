// orvane-sign: Ed25519 keys for update pages, the signed entries of a page, and a check of
// a published page and its files. Scripts call it, so the commands and their options are
// fixed (Commands.cpp lists them):
//
//   orvane-sign keygen KEYFILE
//   orvane-sign pubkey KEYFILE
//   orvane-sign sign --key KEYFILE --url URL --version V --product NAME [OPTION...] FILE
//   orvane-sign verify (--public-key KEY | --public-key-file F)... [OPTION...] PAGE-URL
//
// Exit status: 0 success, 1 verification failed, 2 bad use or any other failure.
#include <exception>
#include <string>
#include <vector>

#include "Commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (!args.empty() && args[0] == "--") args.erase(args.begin());
  const TCommand* command = args.empty() ? nullptr : FindCommand(args[0]);
  if (command == nullptr) {
    // No command: --help, --version, the manual, or a usage error.
    const cli::TProgram tool = ToolProgram();
    if (const auto code = cli::ParseCommandLine(tool, args)) return *code;
    return cli::UsageError(tool, "no command");
  }
  args.erase(args.begin());
  TArgs parsed;
  const cli::TProgram program = command->Program(parsed);
  if (const auto code = cli::ParseCommandLine(program, args)) return *code;
  try {
    return command->Run(program, parsed);
  } catch (const std::exception& e) {
    return Fail(kFailure, e.what());
  }
}
