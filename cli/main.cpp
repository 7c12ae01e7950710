// parcelo-cli: the archive engine from a terminal. This file only dispatches to the subcommands;
// each lives in a file of its own.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"

void PrintUsage(FILE* out) {
  std::fputs(
      "usage: parcelo-cli type FILE...\n"
      "       parcelo-cli list ARCHIVE [-v] [--dirs] [MASK...]\n"
      "       parcelo-cli extract ARCHIVE [-d DIR] [-p PASSWORD]... [--ask-password]\n"
      "                   [--overwrite | --skip-existing | --ask] [--junk-paths] [-q] [MASK...]\n",
      out);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h") {
    PrintUsage(stdout);
    return 0;
  }
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "type") return RunType(args);
  if (command == "list") return RunList(args);
  if (command == "extract") return RunExtract(args);
  std::fprintf(stderr, "parcelo-cli: unknown command '%s'\n", command.c_str());
  PrintUsage(stderr);
  return 2;
}
