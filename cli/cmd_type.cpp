// parcelo-cli type: not built yet.
#include <cstdio>

#include "cli/commands.h"

int RunType(const std::vector<std::string>&) {
  std::fputs("parcelo-cli: 'type' is not available yet\n", stderr);
  return 2;
}
