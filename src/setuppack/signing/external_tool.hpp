// Running another program (osslsigncode) from the packager: argument vector,
// no shell, its standard output and error collected.
#pragma once

#include <string>
#include <vector>

struct ToolResult {
  bool started = false;  // false: the program was not found or could not run
  int exitCode = -1;     // the exit status; -1 when it was killed by a signal
  std::string output;    // standard output and standard error, interleaved
};

// Runs `arguments[0]` (looked up on PATH) with the remaining arguments and
// waits for it. Standard input is /dev/null. Never throws for the program's
// own failure; throws std::system_error when no process can be made.
ToolResult RunTool(const std::vector<std::string>& arguments);
