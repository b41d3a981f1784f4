// quillnet-tool's commands over the settings store: hosts and config.
#pragma once

#include <string>
#include <vector>

// quillnet-tool hosts list | backup FILE [--force] | restore FILE | telnet ...
// (the settings directory is chosen by the caller, --config-dir).
// Errors go to standard error as "quillnet-tool: ..." with status 2.
int HostsCommand(std::vector<std::string> args);
// quillnet-tool config get NAME | set NAME VALUE
int ConfigCommand(std::vector<std::string> args);
// The lines of the general usage that list the commands, and each command's
// own usage (printed before those lines for COMMAND --help).
extern const char* const kHostsCommands;
extern const char* const kConfigCommands;
extern const char* const kHostsUsage;
extern const char* const kConfigUsage;
