// Runs the built parcelo-cli as a child process for tests: arguments go through the shell (quote
// them with Quote), standard input is given as a string, standard output and error are captured
// separately together with the exit status (-1 when the program did not exit normally).
#pragma once

#include <string>

namespace parcelo::test {

struct TCliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// `s` in single quotes for the shell.
std::string Quote(const std::string& s);

// Runs "parcelo-cli ARGUMENTS" in `cwd` (the test's own when empty) with `input` on standard input.
TCliRun RunCli(const std::string& arguments, const std::string& cwd = "",
               const std::string& input = "");

}  // namespace parcelo::test
