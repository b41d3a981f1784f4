// quillnet-tool's commands over the settings store: hosts and config.
#pragma once

#include <string>
#include <vector>

// quillnet-tool hosts list | backup FILE | restore FILE  [--config-dir DIR]
int HostsCommand(std::vector<std::string> args);
// quillnet-tool config get NAME | set NAME VALUE  [--config-dir DIR]
int ConfigCommand(std::vector<std::string> args);
extern const char* const kHostsUsage;
