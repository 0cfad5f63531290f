// Runs a program as a child process with a time limit and reports its wall time, its
// processor time (user + system, from the kernel's accounting of the child) and what it
// wrote to standard output.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace peers {

struct ChildRun {
  bool ok = false;  // exited by itself with status 0 within the limit
  bool timedOut = false;
  int status = -1;  // exit status, or 128 + signal
  double wallSecs = 0;
  double cpuSecs = 0;
  std::string out;  // standard output; standard error is discarded
};

ChildRun RunChild(const std::vector<std::string>& argv, std::chrono::seconds limit);

// True when `name` is found on PATH.
bool OnPath(const std::string& name);

}  // namespace peers
