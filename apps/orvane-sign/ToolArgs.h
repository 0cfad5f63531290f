// The command line of orvane-sign: options of the form --name VALUE (some may be given
// more than once), flags, and the words that are no option; exit statuses and messages.
#pragma once

#include <map>
#include <string>
#include <vector>

constexpr int kOk = 0;
constexpr int kRefused = 1;
constexpr int kFailure = 2;

int BadUse(const std::string& Message);
int Fail(int Status, const std::string& Message);

struct TArgs {
  std::map<std::string, std::vector<std::string>> Options;
  std::vector<std::string> Words;
  bool Has(const std::string& Name) const { return Options.count(Name) != 0; }
  // The value of an option given at most once; empty when not given.
  std::string Value(const std::string& Name) const {
    return Has(Name) ? Options.at(Name).front() : std::string();
  }
};

struct TOptionSpec {
  std::vector<std::string> Valued;      // at most once each
  std::vector<std::string> Repeatable;  // any number of times
  std::vector<std::string> Flags;       // no value
};

bool ParseArgs(int argc, char** argv, int First, const TOptionSpec& Spec, TArgs& Args,
               std::string& Error);
