// Running outside programs from tests (nkf as the reference converter, the
// quillnet-tool binary).
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
  int status = -1;  // exit status, or -1 when the program could not run or was killed
  std::string out;  // everything it wrote to standard output
};

// Runs argv[0] (looked up in PATH) with `input` on standard input and collects
// standard output.  Standard error passes through to the test's own.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input);

// The same with a time limit and standard error kept: a program still
// running after timeoutMs is killed (status -1, timedOut set).
struct FullProcessResult : ProcessResult {
  std::string err;
  bool timedOut = false;
};
FullProcessResult RunProcessWithin(const std::vector<std::string>& argv, const std::string& input, int timeoutMs);

// Reads a whole file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
