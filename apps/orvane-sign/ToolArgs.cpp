#include "ToolArgs.h"

#include <cstdio>

int Fail(int Status, const std::string& Message) {
  std::fprintf(stderr, "orvane-sign: %s\n", Message.c_str());
  return Status;
}

cli::TOption ArgOption(TArgs& Args, const std::string& Name, const std::string& Value,
                       const std::string& Help, bool Repeatable) {
  const std::string key = "--" + Name;
  auto apply = [&Args, key, Repeatable](const std::string& Text) {
    if (!Repeatable && Args.Has(key)) return std::string("given twice");
    Args.Options[key].push_back(Text);
    return std::string();
  };
  return {Name, 0, Value, apply, Help};
}

cli::TApply ArgWords(TArgs& Args) {
  return [&Args](const std::string& Word) {
    Args.Words.push_back(Word);
    return std::string();
  };
}
