// Zips with PPMd members (method 98) that 7-Zip writes, through parcelo-cli: list names the
// method, test and extract give the files back byte for byte, plain and with the zip cipher; a
// member whose header asks for what PPMd does not have is refused with the reason.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "support/CliRun.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using TRun = parcelo::test::TCliRun;

class CliPpmdTest : public ::testing::Test {
 protected:
  parcelo::test::TempDir dir{"cli-ppmd"};

  void SetUp() override {
    if (std::system("command -v 7zz >/dev/null 2>&1") != 0) GTEST_SKIP() << "7zz not installed";
    std::mt19937 rng(5);
    std::string text, binary;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(rng() % 500) + " of words\n";
    for (int i = 0; i < 100000; ++i) binary += static_cast<char>(rng() % 7 == 0 ? rng() : i);
    fs::create_directories(dir.Host("src/sub"));
    dir.WriteFile("src/notes.txt", text);
    dir.WriteFile("src/sub/data.bin", binary);
  }
  // 7-Zip's zip of src/ with PPMd and `options`.
  void Pack(const std::string& zip, const std::string& options) {
    const std::string cmd = "cd '" + dir.HostPath() + "' && 7zz a -tzip -mm=PPMd " + options +
                            " " + zip + " src >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  TRun Cli(const std::string& arguments) {
    return parcelo::test::RunCli(arguments, dir.HostPath());
  }
  bool SameAsSource(const std::string& out) {
    return dir.ReadFile(out + "/src/notes.txt") == dir.ReadFile("src/notes.txt") &&
           dir.ReadFile(out + "/src/sub/data.bin") == dir.ReadFile("src/sub/data.bin");
  }
};

TEST_F(CliPpmdTest, ListTestAndExtract) {
  Pack("p.zip", "-mx=9 -mo=10 -mmem=1m");
  TRun run = Cli("list -v p.zip");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("PPMd"), std::string::npos) << run.out;
  run = Cli("test p.zip");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("2 file(s) tested"), std::string::npos) << run.out;
  run = Cli("extract p.zip -d out");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(SameAsSource("out"));
}

TEST_F(CliPpmdTest, ZipCipherRightAndWrongPassword) {
  Pack("e.zip", "-mx=5 -mem=ZipCrypto -psecret");
  TRun run = Cli("extract e.zip -d out -p secret");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(SameAsSource("out"));
  run = Cli("extract e.zip -d bad -p wrong");
  EXPECT_NE(run.status, 0);
  EXPECT_FALSE(fs::exists(dir.Host("bad/src/notes.txt")));
}

// The member header's first byte patched to order 1: refused with the reason, nothing decoded.
TEST_F(CliPpmdTest, OrderOutOfRangeIsRefused) {
  Pack("o.zip", "-mx=5");
  std::string zip = dir.ReadFile("o.zip");
  size_t at = 0;
  int patched = 0;
  while ((at = zip.find(std::string("PK\3\4", 4), at)) != std::string::npos) {
    const auto u16 = [&](size_t p) { return uint8_t(zip[p]) | uint8_t(zip[p + 1]) << 8; };
    if (u16(at + 8) == 98) {
      zip[at + 30 + u16(at + 26) + u16(at + 28)] = 0;  // order bits 0: order 1
      ++patched;
    }
    at += 4;
  }
  ASSERT_EQ(patched, 2);
  dir.WriteFile("o.zip", zip);
  const TRun run = Cli("extract o.zip -d out");
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.err.find("PPMd order 1"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("(25326)"), std::string::npos) << run.err;
  EXPECT_EQ(fs::exists(dir.Host("out/src/notes.txt")) ? fs::file_size(dir.Host("out/src/notes.txt")) : 0,
            0u);
  EXPECT_NE(run.out.find("0 file(s) extracted"), std::string::npos) << run.out;
}

}  // namespace
