#include "ToolArgs.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char* Usage =
    "usage: orvane-sign keygen KEYFILE\n"
    "       orvane-sign pubkey KEYFILE\n"
    "       orvane-sign sign --key KEYFILE --url URL --version V --product NAME [--date D]\n"
    "                        [--author A] [--params P] [--expires YYYY-MM-DD|never]\n"
    "                        [--readme FILE --readme-url URL]\n"
    "                        [--readme-ext FILE --readme-ext-url URL] FILE\n"
    "       orvane-sign verify (--public-key KEY | --public-key-file F)... [--product NAME]\n"
    "                          [--allow-unexpiring] PAGE-URL\n";

bool Among(const std::vector<std::string>& Names, const std::string& Name) {
  return std::find(Names.begin(), Names.end(), Name) != Names.end();
}

}  // namespace

int BadUse(const std::string& Message) {
  std::fprintf(stderr, "orvane-sign: %s\n%s", Message.c_str(), Usage);
  return kFailure;
}

int Fail(int Status, const std::string& Message) {
  std::fprintf(stderr, "orvane-sign: %s\n", Message.c_str());
  return Status;
}

bool ParseArgs(int argc, char** argv, int First, const TOptionSpec& Spec, TArgs& Args,
               std::string& Error) {
  for (int i = First; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.size() <= 2 || a.compare(0, 2, "--") != 0) {
      Args.Words.push_back(a);
      continue;
    }
    if (Among(Spec.Flags, a)) {
      Args.Options[a].push_back("");
      continue;
    }
    const bool repeatable = Among(Spec.Repeatable, a);
    if (!repeatable && !Among(Spec.Valued, a)) {
      Error = "unknown option " + a;
      return false;
    }
    if (i + 1 >= argc) {
      Error = a + " needs a value";
      return false;
    }
    if (!repeatable && Args.Has(a)) {
      Error = a + " given twice";
      return false;
    }
    Args.Options[a].push_back(argv[++i]);
  }
  return true;
}
