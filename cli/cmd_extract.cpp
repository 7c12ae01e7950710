// parcelo-cli extract: not built yet.
#include <cstdio>

#include "cli/commands.h"

int RunExtract(const std::vector<std::string>&) {
  std::fputs("parcelo-cli: 'extract' is not available yet\n", stderr);
  return 2;
}
