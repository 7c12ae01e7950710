// The subcommands of parcelo-cli. main.cpp parses the command line (CLI11) into one of these
// option sets and calls the subcommand's Run function, which returns the process exit status.
// Paths in the options are host paths, as the user typed them.
#pragma once

#include <string>
#include <vector>

struct TTypeOptions {
  std::vector<std::string> files;
};

struct TListOptions {
  std::string archive;
  bool verbose = false;
  bool dirs = false;
  bool engineNames = false;  // "\" separators, as the engine names members
  std::vector<std::string> masks;
};

enum class TExistingFiles { Overwrite, Skip, Ask };

struct TExtractOptions {
  std::string archive;
  std::string directory;
  std::vector<std::string> passwords;
  bool askPassword = false;
  TExistingFiles existing = TExistingFiles::Overwrite;
  bool junkPaths = false;
  bool quiet = false;
  bool test = false;  // parcelo-cli test: check every member, write nothing
  std::vector<std::string> masks;
};

// Exit statuses of every command: 0 all went well; 1 warnings (something was said, nothing was
// lost: a directory recovered from the local headers, a local header naming a member otherwise,
// an empty archive); 2 errors (a member not extracted, listed or tested, an archive that cannot be
// read, a usage mistake); 11 no member matched the masks given.
constexpr int kExitOk = 0;
constexpr int kExitWarnings = 1;
constexpr int kExitErrors = 2;
constexpr int kExitNothingMatched = 11;

int RunType(const TTypeOptions& options);
int RunList(const TListOptions& options);
int RunExtract(const TExtractOptions& options);
