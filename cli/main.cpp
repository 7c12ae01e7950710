// parcelo-cli: the archive engine from a terminal.
#include <cstdio>
#include <cstring>

namespace {

void PrintUsage(FILE* out) {
  std::fputs(
      "usage: parcelo-cli type FILE...\n"
      "       parcelo-cli list ARCHIVE [-v] [--dirs] [MASK...]\n"
      "       parcelo-cli extract ARCHIVE [-d DIR] [-p PASSWORD]... [--ask-password]\n"
      "                   [--overwrite | --skip-existing | --ask] [--junk-paths] [-q] [MASK...]\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  std::fprintf(stderr, "parcelo-cli: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
