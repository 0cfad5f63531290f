// The designer's commands, one line each, as a table: the dispatch, the "help" command and
// the manual's list of commands are made from it.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "Package.h"

class TDesigner {
 public:
  using TWords = std::vector<std::string>;

  explicit TDesigner(std::string packagePath);

  // Runs one command line; false once it was "quit".
  bool Run(const std::string& line);
  int Errors() const { return FErrors; }

  // Each command's usage and what it does, for "help" and the manual.
  static std::vector<std::pair<std::string, std::string>> CommandList();

 private:
  struct TCommand {
    const char* Name;
    const char* Args;
    std::size_t Words;  // the least it takes, its name included
    const char* Help;
    // Runs on the main thread, or (for commands on the loaded package) on its thread.
    void (TDesigner::*Here)(const TWords&);
    void (TDesigner::*InPackage)(TDesignSession&, const TWords&);
  };
  static const std::vector<TCommand>& Commands();

  void Error(const std::string& text);

  void Help(const TWords&);
  void Quit(const TWords&);
  void Load(const TWords& w);
  void Unload(const TWords&);
  void Palette(TDesignSession& s, const TWords&);
  void Bitmap(TDesignSession& s, const TWords& w);
  void Resources(TDesignSession& s, const TWords&);
  void String(TDesignSession& s, const TWords& w);
  void Class(TDesignSession& s, const TWords& w);
  void New(TDesignSession& s, const TWords&);
  void Drop(TDesignSession& s, const TWords& w);
  void Components(TDesignSession& s, const TWords&);
  void Inspect(TDesignSession& s, const TWords& w);
  void Set(TDesignSession& s, const TWords& w);
  void Verbs(TDesignSession& s, const TWords& w);
  void Verb(TDesignSession& s, const TWords& w);
  void Edit(TDesignSession& s, const TWords& w);
  void Copy(TDesignSession& s, const TWords& w);
  void Delete(TDesignSession& s, const TWords& w);
  void Show(TDesignSession& s, const TWords&);
  void Save(TDesignSession& s, const TWords& w);
  void Open(TDesignSession& s, const TWords& w);

  std::string FDefaultPath;
  TPackage FPackage;
  int FErrors = 0;
  bool FQuit = false;
};
