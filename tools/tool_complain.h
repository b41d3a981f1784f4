// quillnet-tool's complaints about a command line.
#pragma once

#include <cstdio>
#include <string>

// One line on standard error, "quillnet-tool: TEXT", then where to look (the
// command's usage, or the general one when command is empty); status 2.
inline int Complain(const std::string& command, const std::string& text) {
  std::fprintf(stderr, "quillnet-tool: %s\nTry 'quillnet-tool %s%s--help'.\n", text.c_str(), command.c_str(),
               command.empty() ? "" : " ");
  return 2;
}
