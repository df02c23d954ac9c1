// The command line. A run takes no arguments; --help/-h and --version answer and end
// the process without touching the working directory.
#pragma once

#include <cstdio>
#include <string>

namespace mcspec {

inline constexpr const char* kVersion = "0.1.0";

// The usage text: what a run reads and writes, the environment, the exit statuses and
// where the documentation is.
std::string usage_text();

// Handles the arguments: returns -1 when there are none (the run goes ahead), else the
// exit status after printing the usage (--help, -h: standard output, 0), the version
// (--version: standard output, 0) or a complaint and the usage (anything else:
// standard error, 2).
int command_line(int argc, const char* const* argv, std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace mcspec
