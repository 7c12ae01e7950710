// parcelo-cli with the formats other than zip: type names them, list names what extract writes,
// extract and test read them, exit statuses as for zip (archives made here by tar, 7zz and xz).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/CliRun.h"
#include "support/ExtractFixture.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using parcelo::test::RunCli;
using parcelo::test::TCliRun;

class CliFormatsTest : public ::testing::Test {
 protected:
  parcelo::test::TempDir dir{"cli-formats"};
  void SetUp() override {
    dir.WriteFile("src/a.txt", "alpha\n");
    dir.WriteFile("src/sub/b.txt", "beta\n");
  }
  void Make(const std::string& command) {
    ASSERT_EQ(extracttest::Shell("cd " + dir.HostPath() + " && " + command), 0) << command;
  }
};

TEST_F(CliFormatsTest, TarGzIsTypedListedExtractedAndTested) {
  Make("tar -czf set.tar.gz -C src a.txt sub");
  // Detection calls it gzip; the TAR inside is what is listed and extracted.
  EXPECT_NE(RunCli("type set.tar.gz", dir.HostPath()).out.find("type: atGZip"), std::string::npos);
  const TCliRun list = RunCli("list set.tar.gz", dir.HostPath());
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, "a.txt\nsub/b.txt\n");
  const TCliRun run = RunCli("extract set.tar.gz -d out", dir.HostPath());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "2 file(s) extracted to " + dir.Host("out") + "\n");
  EXPECT_EQ(dir.ReadFile("out/sub/b.txt"), "beta\n");
  const TCliRun test = RunCli("test set.tar.gz", dir.HostPath());
  EXPECT_EQ(test.status, 0) << test.err;
  EXPECT_EQ(test.out, "2 file(s) tested in set.tar.gz: no errors\n");
}

TEST_F(CliFormatsTest, AnArchiveThatCannotBeReadIsNeverTestedWithoutErrors) {
  // A cpio header whose fields are not numbers: no member is read, and the archive fails.
  dir.WriteFile("bad.cpio", "070701" + std::string(13 * 8, 'Z') + std::string(400, '\0'));
  const TCliRun test = RunCli("test bad.cpio", dir.HostPath());
  EXPECT_EQ(test.status, 2);
  EXPECT_EQ(test.out, "0 file(s) tested in bad.cpio: errors in the archive\n");
  EXPECT_NE(test.err.find("bad.cpio: Bad file header"), std::string::npos) << test.err;
}

TEST_F(CliFormatsTest, NewTypesHaveDisplayNamesAndExtract) {
  if (!extracttest::HaveTool("7zz")) GTEST_SKIP();
  Make("cd src && 7zz a -bd ../set.7z a.txt sub >/dev/null && cd .. && xz -k src/a.txt");
  const TCliRun type = RunCli("type set.7z src/a.txt.xz", dir.HostPath());
  EXPECT_NE(type.out.find("type: at7Zip\nname: 7-Zip\n"), std::string::npos) << type.out;
  EXPECT_NE(type.out.find("type: atXz\nname: XZ\n"), std::string::npos) << type.out;
  EXPECT_EQ(RunCli("list set.7z", dir.HostPath()).out, "a.txt\nsub/b.txt\n");
  EXPECT_EQ(RunCli("extract set.7z -d out -q", dir.HostPath()).status, 0);
  EXPECT_EQ(dir.ReadFile("out/a.txt"), "alpha\n");
  EXPECT_EQ(RunCli("extract src/a.txt.xz -d single -q", dir.HostPath()).status, 0);
  EXPECT_EQ(dir.ReadFile("single/a.txt"), "alpha\n");
}

TEST_F(CliFormatsTest, ADamagedMemberIsAnErrorAndMasksThatMatchNothingAreSaid) {
  Make("tar -cf set.tar -C src a.txt sub");
  EXPECT_EQ(RunCli("extract set.tar 'none*' -d out", dir.HostPath()).status, 11);
  // The archive cut inside the second member's data.
  fs::resize_file(dir.Host("set.tar"), 512 * 4 + 2);
  const TCliRun cut = RunCli("extract set.tar -d cut", dir.HostPath());
  EXPECT_EQ(cut.status, 2);
  EXPECT_NE(cut.err.find("b.txt"), std::string::npos) << cut.err;
  EXPECT_FALSE(fs::exists(dir.Host("cut/sub/b.txt")));
}

}  // namespace
