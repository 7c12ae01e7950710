// Tests of `parcelo-cli list` on archives of other formats than zip and on multi-volume sets: the
// built program lists sets that arj made on this machine, finds the next volume by the format's
// naming, asks for a missing one (the answer comes from standard input when that is no terminal)
// and says so when it has to stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "support/CliRun.h"
#include "support/TempDir.h"

namespace {

using TRun = parcelo::test::TCliRun;

class CliListVolumesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v arj >/dev/null 2>&1") != 0) GTEST_SKIP() << "no arj";
    dir.WriteFile("small.txt", "hello\n");
    std::mt19937 random(3);
    std::string noise(100000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    dir.WriteFile("big.bin", noise);
    dir.WriteFile("tail.txt", "the end\n");
    ASSERT_EQ(std::system(("cd '" + dir.HostPath() +
                           "' && arj a -y -v30k -jm0 set.arj small.txt big.bin tail.txt "
                           ">/dev/null 2>&1")
                              .c_str()),
              0);
    ASSERT_TRUE(std::filesystem::exists(dir.Host("set.a03")));
  }

  // Runs `parcelo-cli list ARGS` in the fixture's folder with `input` on standard input.
  TRun List(const std::string& args, const std::string& input = "") {
    TRun run = parcelo::test::RunCli("list " + args, dir.HostPath(), input);
    std::replace(run.out.begin(), run.out.end(), '\\', '/');
    return run;
  }

  parcelo::test::TempDir dir{"cli-volumes"};
};

TEST_F(CliListVolumesTest, SetIsListedWholeWithTotals) {
  const TRun plain = List("set.arj");
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out, "small.txt\nbig.bin\ntail.txt\n");
  const TRun verbose = List("-v set.arj");
  EXPECT_EQ(verbose.status, 0) << verbose.err;
  EXPECT_NE(verbose.out.find("100000"), std::string::npos) << verbose.out;  // all its parts
  EXPECT_NE(verbose.out.find("Stored"), std::string::npos) << verbose.out;
  EXPECT_NE(verbose.out.find("100014"), std::string::npos) << verbose.out;  // the total
  EXPECT_NE(verbose.out.find("3 files"), std::string::npos) << verbose.out;
}

TEST_F(CliListVolumesTest, MissingVolumeIsAskedForAndCanBeGivenOrRefused) {
  std::filesystem::create_directory(dir.Host("moved"));
  std::filesystem::rename(dir.Host("set.a02"), dir.Host("moved/second.a02"));
  // The volume after a moved one is looked for beside it, so it is asked for as well.
  const TRun given =
      List("set.arj", dir.Host("moved/second.a02") + "\n" + dir.Host("set.a03") + "\n");
  EXPECT_EQ(given.status, 0) << given.err;
  EXPECT_EQ(given.out, "small.txt\nbig.bin\ntail.txt\n");
  EXPECT_NE(given.err.find("set.a02"), std::string::npos) << given.err;  // the prompt names it

  const TRun refused = List("set.arj", "\n");
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.out, "small.txt\n");
  EXPECT_NE(refused.err.find("User canceled"), std::string::npos) << refused.err;
}

}  // namespace
