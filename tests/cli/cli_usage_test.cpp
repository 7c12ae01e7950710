// parcelo-cli's command line as a whole: help for the program and each command, the version, and
// clear usage errors (exit status 2, the reason on standard error, nothing on standard output).
// What each command does is tested beside it (cli_type_test, cli_list_test, cli_extract_test).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/CliRun.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace {

using parcelo::test::RunCli;
using parcelo::test::TCliRun;

TEST(CliUsage, HelpForTheProgramAndEachCommandGoesToStandardOutput) {
  for (const std::string command : {"", "type", "list", "extract", "test"}) {
    SCOPED_TRACE(command);
    const std::string prefix = command.empty() ? "" : command + " ";
    for (const std::string flag : {"--help", "-h"}) {
      const TCliRun run = RunCli(prefix + flag);
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.err, "");
      const std::string usage = "Usage: parcelo-cli" + (command.empty() ? "" : " " + command);
      EXPECT_NE(run.out.find(usage), std::string::npos) << run.out;
    }
  }
  // The program's help names every command; a command's help names its options.
  const std::string all = RunCli("--help").out;
  for (const char* name : {"type", "list", "extract", "test"})
    EXPECT_NE(all.find(std::string("  ") + name + " "), std::string::npos) << name;
  const std::string extract = RunCli("extract --help").out;
  for (const char* option : {"-d,--directory", "-p,--password", "--ask-password", "--overwrite",
                             "--skip-existing", "--ask", "--junk-paths", "-q,--quiet"})
    EXPECT_NE(extract.find(option), std::string::npos) << option;
  // Help wins over missing or extra arguments, wherever it stands.
  EXPECT_EQ(RunCli("extract missing.zip --frobnicate --help").status, 0);
  EXPECT_EQ(RunCli("list missing.zip -h").status, 0);
}

// The usage section of the README shows each help text as the program prints it.
TEST(CliUsage, ReadmeShowsTheHelpTexts) {
  std::ifstream file(std::string(PARCELO_SOURCE_DIR) + "/README.md", std::ios::binary);
  const std::string readme{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  ASSERT_FALSE(readme.empty());
  for (const std::string command : {"", "type", "list", "extract", "test"}) {
    SCOPED_TRACE(command);
    const std::string help = RunCli(command + " --help").out;
    ASSERT_FALSE(help.empty());
    // As a Markdown code block: each line indented by four spaces, blank lines left empty.
    std::string block;
    size_t start = 0;
    while (start < help.size()) {
      size_t end = help.find('\n', start);
      if (end == std::string::npos) end = help.size();
      std::string line = help.substr(start, end - start);
      while (!line.empty() && line.back() == ' ') line.pop_back();
      block += (line.empty() ? "" : "    " + line) + "\n";
      start = end + 1;
    }
    EXPECT_NE(readme.find(block), std::string::npos) << "README lacks:\n" << block;
  }
}

// `cmake --install` puts the program and its manual page under the prefix; the page renders and
// names every option the program's help names.
TEST(CliUsage, InstallGivesTheProgramAndItsManualPage) {
  parcelo::test::TempDir prefix("cli-install");
  const std::string install = parcelo::test::Quote(PARCELO_CMAKE_COMMAND) + " --install " +
                              parcelo::test::Quote(PARCELO_BINARY_DIR) + " --prefix " +
                              parcelo::test::Quote(prefix.HostPath()) + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(install.c_str()), 0);
  const std::string program = prefix.Host("bin/parcelo-cli");
  const std::string page = prefix.Host("share/man/man1/parcelo-cli.1");
  ASSERT_TRUE(std::filesystem::exists(program));
  ASSERT_TRUE(std::filesystem::exists(page));
  const TCliRun version = RunCli("--version");
  FILE* pipe = popen((parcelo::test::Quote(program) + " --version").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[256] = {};
  const size_t got = std::fread(line, 1, sizeof line - 1, pipe);
  pclose(pipe);
  EXPECT_EQ(std::string(line, got), version.out);

  if (std::system("command -v man >/dev/null 2>&1") != 0) GTEST_SKIP() << "man is not installed";
  pipe = popen(("LANG=C MANWIDTH=100 man -l " + parcelo::test::Quote(page) + " 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string rendered;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) rendered.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_NE(rendered.find("parcelo-cli - detect, list, extract and test archives"),
            std::string::npos)
      << rendered;
  const std::string versionNumber =
      version.out.substr(version.out.find(' ') + 1, version.out.size() - 13);
  EXPECT_NE(rendered.find("Parcelo " + versionNumber), std::string::npos) << versionNumber;
  for (const std::string command : {"", "type", "list", "extract", "test"}) {
    const std::string help = RunCli(command + " --help").out;
    // Every long option of the help ("--name") is described in the page.
    for (size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
      size_t end = at + 2;
      while (end < help.size() &&
             (std::isalnum(static_cast<unsigned char>(help[end])) || help[end] == '-'))
        ++end;
      const std::string option = help.substr(at, end - at);
      EXPECT_NE(rendered.find(option), std::string::npos) << option << " (" << command << ")";
    }
  }
}

TEST(CliUsage, VersionIsOneLine) {
  const TCliRun run = RunCli("--version");
  EXPECT_EQ(run.status, 0);
  // "parcelo-cli MAJOR.MINOR.PATCH" and a newline.
  const std::string prefix = "parcelo-cli ";
  ASSERT_EQ(run.out.compare(0, prefix.size(), prefix), 0) << run.out;
  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(run.out.back(), '\n');
  const std::string number = run.out.substr(prefix.size(), run.out.size() - prefix.size() - 1);
  EXPECT_EQ(std::count(number.begin(), number.end(), '.'), 2) << number;
  EXPECT_EQ(number.find_first_not_of("0123456789."), std::string::npos) << number;
}

TEST(CliUsage, MistakesAreNamedAndExitWithTwo) {
  struct TCase {
    const char* arguments;
    const char* reason;  // must appear on standard error
  };
  const TCase cases[] = {
      {"", "no command given"},
      {"unpack a.zip", "unknown command 'unpack'"},
      {"--frobnicate", "--frobnicate"},
      {"type", "FILE is required"},
      {"list", "ARCHIVE is required"},
      {"list -x a.zip", "-x"},
      {"extract", "ARCHIVE is required"},
      {"extract a.zip --frobnicate", "--frobnicate"},
      {"extract a.zip -d", "--directory"},
      {"extract a.zip --ask --overwrite", "choose one of --overwrite, --skip-existing, --ask"},
      {"extract a.zip --skip-existing --ask", "choose one of"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.arguments);
    const TCliRun run = RunCli(c.arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
  }
}

// -p takes exactly one value, even one that starts with "-": what follows is a mask again.
TEST(CliUsage, EachPasswordOptionTakesOneValue) {
  parcelo::test::TempDir dir("cli-usage");
  ziptest::ZipMember secret;
  secret.name = "keep.txt";
  secret.data = ziptest::ToBytes("kept");
  secret.password = "-dash";
  ziptest::ZipBuilder zip;
  zip.Add(secret).AddStored("drop.txt", "dropped");
  ASSERT_TRUE(zip.WriteTo(dir.Host("set.zip")));
  const TCliRun run = RunCli("extract set.zip -p wrong -p -dash 'keep*' -d out -q", dir.HostPath());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dir.ReadFile("out/keep.txt"), "kept");
  EXPECT_FALSE(std::filesystem::exists(dir.Host("out/drop.txt")));
  // "--" ends the options: a mask may then start with "-".
  const TCliRun dashed = RunCli("extract set.zip -d out2 -- -x", dir.HostPath());
  EXPECT_EQ(dashed.status, 11) << dashed.err;  // taken as a mask, which matches nothing
  EXPECT_NE(dashed.err.find("no member matches -x"), std::string::npos) << dashed.err;
  EXPECT_EQ(dashed.out, "0 file(s) extracted to " + dir.Host("out2") + "\n");
}

}  // namespace
