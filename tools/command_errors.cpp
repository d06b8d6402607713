// The error lines every pelto-tool command prints.
#include <cstdio>

#include "tools/commands.h"

int UsageError(const char* usage, const std::string& problem) {
  std::fprintf(stderr, "error: %s\n%s", problem.c_str(), usage);
  return 2;
}

int CommandFailed(const std::string& problem) {
  std::fprintf(stderr, "error: %s\n", problem.c_str());
  return 1;
}
