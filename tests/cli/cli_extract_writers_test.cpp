// parcelo-cli extract and test on zips that today's writers make, each made at test time by the
// writer itself (Info-ZIP zip, 7-Zip, Python): encrypted members written to a pipe, and the
// compression methods and encryption those writers offer. A writer that is missing skips its test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/CliRun.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using TRun = parcelo::test::TCliRun;
using parcelo::test::Quote;

bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

class CliWritersTest : public ::testing::Test {
 protected:
  parcelo::test::TempDir dir{"cli-writers"};

  // Runs `command` through the shell in the temporary folder; true when it succeeded.
  bool Shell(const std::string& command) {
    return std::system(("cd " + Quote(dir.HostPath()) + " && " + command).c_str()) == 0;
  }
  TRun Cli(const std::string& arguments, const std::string& input = "") {
    return parcelo::test::RunCli(arguments, dir.HostPath(), input);
  }
  std::string Read(const std::string& relative) {
    return fs::exists(dir.Host(relative)) ? dir.ReadFile(relative) : std::string();
  }
  // A small tree with a text file, a larger compressible one and a folder.
  void MakeSource() {
    dir.WriteFile("src/readme.txt", "Read me first.\n");
    std::string lines;
    for (int i = 0; i < 4000; ++i) lines += "line " + std::to_string(i * 7919 % 10007) + "\n";
    dir.WriteFile("src/docs/lines.txt", lines);
    dir.WriteFile("src/docs/empty.txt", "");
  }
};

// Info-ZIP zip writing to a pipe sets flag bit 3 on every member: the local CRC field then holds
// the modification time for the password check byte, and the real CRC follows the data.
TEST_F(CliWritersTest, InfoZipEncryptedToAPipeExtractsWhole) {
  if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  MakeSource();
  // The recipe as it was reported: the archive lands in src/.
  ASSERT_TRUE(Shell("(cd src && zip -q -X -P secret -r - readme.txt docs | cat > x.zip)"));

  TRun run = Cli("extract src/x.zip -p secret -d out");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Read("out/readme.txt"), Read("src/readme.txt"));
  EXPECT_EQ(Read("out/docs/lines.txt"), Read("src/docs/lines.txt"));
  EXPECT_TRUE(fs::exists(dir.Host("out/docs/empty.txt")));

  run = Cli("test src/x.zip -p secret");
  EXPECT_EQ(run.status, 0) << run.err;

  // The check byte still tells a wrong password (almost always: it is one byte); nothing is left.
  run = Cli("extract src/x.zip -p not-the-secret -d wrong");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Invalid password"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir.Host("wrong/docs/lines.txt")));
}

// The same archive with its directory cut off: read through its local headers and descriptors.
TEST_F(CliWritersTest, InfoZipEncryptedToAPipeWithoutItsDirectory) {
  if (!HaveTool("zip") || !HaveTool("python3")) GTEST_SKIP() << "zip or python3 is not installed";
  MakeSource();
  ASSERT_TRUE(Shell("(cd src && zip -q -X -P secret -r - readme.txt docs | cat > x.zip)"));
  ASSERT_TRUE(Shell("python3 -c \"d=open('src/x.zip','rb').read(); "
                    "open('cut.zip','wb').write(d[:d.find(b'PK\\x01\\x02')])\""));
  const TRun run = Cli("extract cut.zip -p secret -d out");
  EXPECT_EQ(run.status, 1) << run.err;  // said: no directory; nothing lost
  EXPECT_EQ(Read("out/docs/lines.txt"), Read("src/docs/lines.txt"));
  EXPECT_EQ(Read("out/readme.txt"), Read("src/readme.txt"));
}

}  // namespace
