// The command line of orvane-sign: each command reads its own table (apps/common) into
// TArgs, options kept under their "--name" (some given more than once), and the words
// that are no option; exit statuses and messages.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "CommandLine.h"

constexpr int kOk = 0;
constexpr int kRefused = 1;
constexpr int kFailure = 2;

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

// A row of a command's table, kept in Args as "--Name". Value empty: a flag. Given twice
// is a usage error unless Repeatable.
cli::TOption ArgOption(TArgs& Args, const std::string& Name, const std::string& Value,
                       const std::string& Help, bool Repeatable = false);
// Keeps every word that is no option, in order.
cli::TApply ArgWords(TArgs& Args);

// One command: its table (filling Args) and what it does once the table has read it.
struct TCommand {
  const char* Name;
  cli::TProgram (*Program)(TArgs& Args);
  int (*Run)(const cli::TProgram& Program, const TArgs& Args);
};
