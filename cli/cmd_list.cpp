// parcelo-cli list: not built yet.
#include <cstdio>

#include "cli/commands.h"

int RunList(const std::vector<std::string>&) {
  std::fputs("parcelo-cli: 'list' is not available yet\n", stderr);
  return 2;
}
