// Runs one python3 process over a batch of input lines and collects its output lines, so
// that the encoders and the date formatter can be checked against an independent
// implementation.
#pragma once

#include <string>
#include <vector>

// Feeds Lines on standard input to the Python program Script and returns what it prints,
// one entry per line. Fails the current test (and returns what was read) when python3
// cannot be run or exits with an error.
std::vector<std::string> RunPython(const std::string& Script,
                                   const std::vector<std::string>& Lines);

std::string ToHex(const std::string& Bytes);
