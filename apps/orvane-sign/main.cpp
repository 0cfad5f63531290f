// orvane-sign: Ed25519 keys for update pages, the signed entries of a page, and a check of
// a published page and its files. Scripts call it, so the command line is fixed:
//
//   orvane-sign keygen KEYFILE
//   orvane-sign pubkey KEYFILE
//   orvane-sign sign --key KEYFILE --url URL --version V --product NAME [--date D]
//                    [--author A] [--params P] [--expires YYYY-MM-DD|never]
//                    [--readme FILE --readme-url URL] [--readme-ext FILE --readme-ext-url URL]
//                    FILE
//   orvane-sign verify (--public-key KEY | --public-key-file F)... [--product NAME]
//                      [--allow-unexpiring] PAGE-URL
//
// Exit status: 0 success, 1 verification failed, 2 bad use or any other failure.
#include <cstdio>
#include <string>

#include "Keys.h"
#include "SignCommand.h"
#include "ToolArgs.h"
#include "VerifyCommand.h"

int main(int argc, char** argv) {
  if (argc < 2) return BadUse("no command");
  const std::string command = argv[1];
  try {
    if (command == "keygen" || command == "pubkey") {
      if (argc != 3) return BadUse(command + " takes exactly one KEYFILE");
      return command == "keygen" ? KeyGen(argv[2]) : PrintPublicKey(argv[2]);
    }
    if (command == "sign") return Sign(argc, argv);
    if (command == "verify") return Verify(argc, argv);
  } catch (const std::exception& e) {
    return Fail(kFailure, e.what());
  }
  return BadUse("unknown command " + command);
}
