// httpget: fetches one http or https URL with THttpCli, for people and scripts alike: the
// body to standard output or a file, what failed in one line on standard error, and an
// exit status that says which kind of failure it was.
#include "Fetch.h"

int main(int argc, char** argv) {
  THttpGetOptions options;
  const cli::TProgram program = HttpGetProgram(options);
  if (const auto status = cli::ParseCommandLine(program, argc, argv)) return *status;
  if (const std::string fault = OptionsFault(options); !fault.empty())
    return cli::UsageError(program, fault);
  return Fetch(options);
}
