#include "PythonPeer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "support/TempFile.h"

std::vector<std::string> RunPython(const std::string& Script,
                                   const std::vector<std::string>& Lines) {
  std::string input;
  for (const std::string& l : Lines) input += l + "\n";
  const testsupport::TempFile script(Script), inputs(input);
  const std::string& scriptFile = script.Path();
  const std::string& inputFile = inputs.Path();
  std::vector<std::string> out;
  if (scriptFile.empty() || inputFile.empty()) {
    ADD_FAILURE() << "cannot create temporary files for python3";
    return out;
  }
  const std::string cmd = "python3 " + scriptFile + " < " + inputFile;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot start python3";
  } else {
    std::string line;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) {
      for (size_t i = 0; i < n; ++i) {
        if (buf[i] == '\n') {
          out.push_back(line);
          line.clear();
        } else {
          line += buf[i];
        }
      }
    }
    if (!line.empty()) out.push_back(line);
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "python3 failed: " << status;
  }
  return out;
}

std::string ToHex(const std::string& Bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(Bytes.size() * 2);
  for (unsigned char c : Bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}
