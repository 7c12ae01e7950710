// Runs the built parcelo-cli for tests (see CliRun.h). Output is captured through temporary files
// so that a large standard error cannot block a full standard-output pipe.
#include "support/CliRun.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "support/TempDir.h"

namespace parcelo::test {

namespace {

std::string Slurp(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

}  // namespace

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

TCliRun RunCli(const std::string& arguments, const std::string& cwd, const std::string& input) {
  TempDir io("cli-run");
  io.WriteFile("stdin", input);
  const std::string cli = std::string(PARCELO_BINARY_DIR) + "/cli/parcelo-cli";
  std::string command;
  if (!cwd.empty()) command = "cd " + Quote(cwd) + " && ";
  command += Quote(cli) + " " + arguments + " <" + Quote(io.Host("stdin")) + " >" +
             Quote(io.Host("stdout")) + " 2>" + Quote(io.Host("stderr"));
  const int raw = std::system(command.c_str());
  TCliRun run;
  run.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = Slurp(io.Host("stdout"));
  run.err = Slurp(io.Host("stderr"));
  return run;
}

}  // namespace parcelo::test
