// parcelo-cli extract, run as a program: options, the default destination, messages and exit
// status, password prompts answered through standard input, existing files, split sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/CliRun.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace {

namespace fs = std::filesystem;
using ziptest::ZipBuilder;
using ziptest::ZipMember;

using TRun = parcelo::test::TCliRun;
using parcelo::test::Quote;

class CliExtractTest : public ::testing::Test {
 protected:
  parcelo::test::TempDir dir{"cli-extract"};

  // Runs parcelo-cli extract in the temporary folder with `input` on standard input.
  TRun Extract(const std::string& arguments, const std::string& input = "") {
    return parcelo::test::RunCli("extract " + arguments, dir.HostPath(), input);
  }

  void Write(ZipBuilder& builder, const std::string& name = "set.zip") {
    ASSERT_TRUE(builder.WriteTo(dir.Host(name)));
  }
  std::string Read(const std::string& relative) {
    return fs::exists(dir.Host(relative)) ? dir.ReadFile(relative) : std::string();
  }
};

TEST_F(CliExtractTest, ExtractsIntoTheGivenFolderAndSaysSo) {
  ZipBuilder b;
  b.AddStored("a.txt", "A").AddStored("sub/b.txt", "B");
  Write(b);
  const TRun run = Extract("set.zip -d out");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "2 file(s) extracted to " + dir.Host("out") + "\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Read("out/a.txt"), "A");
  EXPECT_EQ(Read("out/sub/b.txt"), "B");
}

TEST_F(CliExtractTest, DefaultDestinationIsAFolderNamedAfterTheArchive) {
  ZipBuilder b;
  b.AddStored("a.txt", "A");
  Write(b, "photos.2024.zip");
  const TRun run = Extract("photos.2024.zip");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Read("photos.2024/a.txt"), "A");
}

TEST_F(CliExtractTest, MasksJunkPathsAndQuiet) {
  ZipBuilder b;
  b.AddStored("d1/keep.txt", "k").AddStored("d2/skip.bin", "s");
  Write(b);
  const TRun run = Extract("-q --junk-paths set.zip -d flat '*.txt'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Read("flat/keep.txt"), "k");
  EXPECT_FALSE(fs::exists(dir.Host("flat/skip.bin")));
  EXPECT_FALSE(fs::exists(dir.Host("flat/d1")));
}

TEST_F(CliExtractTest, BadUsageExitsWithTwo) {
  EXPECT_EQ(Extract("").status, 2);
  EXPECT_EQ(Extract("set.zip --frobnicate").status, 2);
  EXPECT_EQ(Extract("set.zip --ask --overwrite").status, 2);
  EXPECT_EQ(Extract("set.zip -d").status, 2);
}

TEST_F(CliExtractTest, ErrorsNameTheFileTheMessageAndTheCode) {
  TRun run = Extract("missing.zip -d out");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "parcelo-cli: missing.zip: File not found (25192)\n");

  std::FILE* f = std::fopen(dir.Host("notes.zip").c_str(), "w");
  std::fputs("just some text, long enough to be looked at by the type detection\n", f);
  std::fclose(f);
  run = Extract("notes.zip -d out");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("(25244)"), std::string::npos) << run.err;

  ZipMember bad;
  bad.name = "bad.txt";
  bad.data = ziptest::ToBytes("data");
  bad.crcOverride = 1;
  ZipBuilder b;
  b.Add(bad);
  Write(b);
  run = Extract("set.zip -d out");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "parcelo-cli: " + dir.Host("out/bad.txt") + ": File fails CRC check (25151)\n");
  EXPECT_EQ(run.out, "0 file(s) extracted to " + dir.Host("out") + "\n");
}

TEST_F(CliExtractTest, PasswordsFromOptionsAndPrompts) {
  ZipMember secret;
  secret.name = "secret.txt";
  secret.data = ziptest::ToBytes("hidden");
  secret.password = "opensesame";
  ZipBuilder b;
  b.Add(secret);
  Write(b);

  TRun run = Extract("set.zip -d none");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(
      run.err.find(dir.Host("none/secret.txt") + ": Password failed: password needed (26522)"),
      std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("-p PASSWORD or --ask-password"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.Host("none/secret.txt")));

  run = Extract("set.zip -d given -p wrong -p opensesame");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Read("given/secret.txt"), "hidden");

  run = Extract("set.zip -d asked --ask-password", "nope\nopensesame\n");
  EXPECT_EQ(run.status, 0) << run.err;  // a wrong answer that the next one mends is no failure
  EXPECT_EQ(run.err.find("Invalid password"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Password for "), std::string::npos);
  EXPECT_EQ(Read("asked/secret.txt"), "hidden");
}

TEST_F(CliExtractTest, ExistingFiles) {
  ZipBuilder b;
  b.AddStored("a.txt", "new a").AddStored("b.txt", "new b");
  Write(b);
  dir.WriteFile("out/a.txt", "old a");

  TRun run = Extract("set.zip -d out --skip-existing");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "1 file(s) extracted to " + dir.Host("out") + "\n");
  EXPECT_EQ(Read("out/a.txt"), "old a");
  EXPECT_EQ(Read("out/b.txt"), "new b");

  run = Extract("set.zip -d out --ask", "n\ny\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Read("out/a.txt"), "old a");  // "n" for a.txt, "y" for b.txt
  EXPECT_NE(run.err.find("replace " + dir.Host("out/a.txt") + "?"), std::string::npos);

  run = Extract("set.zip -d out --ask", "r\nrenamed.txt\nA\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Read("out/renamed.txt"), "new a");
  EXPECT_EQ(Read("out/b.txt"), "new b");

  run = Extract("set.zip -d out");  // overwrite is the default, as in the wizard
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Read("out/a.txt"), "new a");
}

TEST_F(CliExtractTest, SplitSetsFindTheirVolumes) {
  if (std::system("command -v zip >/dev/null 2>&1") != 0) GTEST_SKIP() << "zip is not installed";
  std::string data;
  uint64_t x = 12345;
  for (int i = 0; i < 200000; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    data += static_cast<char>(x >> 24);
  }
  dir.WriteFile("src/random.bin", data);
  ASSERT_EQ(std::system(
                ("cd " + Quote(dir.Host("src")) + " && zip -q -s 64k ../split.zip " + "random.bin")
                    .c_str()),
            0);
  TRun run = Extract("split.zip -d out");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Read("out/random.bin") == data);

  fs::remove(dir.Host("split.z02"));
  run = Extract("split.zip -d lost");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("split.z02: volume 2 of the set: File not found (25192)"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("User canceled"), std::string::npos) << run.err;
}

// parcelo-cli test decodes and checks every member and writes nothing: 0 only when all pass, the
// failing members named by their own names; passwords as for extract.
TEST_F(CliExtractTest, TestChecksEveryMemberAndWritesNothing) {
  ZipMember secret;
  secret.name = "sub/secret.txt";
  secret.data = ziptest::ToBytes("hidden");
  secret.password = "opensesame";
  ZipBuilder b;
  b.AddStored("a.txt", "A").Add(secret);
  Write(b);
  const auto before = [&] {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir.HostPath()))
      if (e.path().filename().string()[0] != '.') names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::string> files = before();

  auto test = [&](const std::string& arguments) {
    return parcelo::test::RunCli("test " + arguments, dir.HostPath());
  };
  TRun run = test("set.zip -p opensesame");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "2 file(s) tested in set.zip: no errors\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(test("-q set.zip -p opensesame").out, "");

  run = test("set.zip -p wrong");
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.err.find("sub/secret.txt"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(dir.HostPath()), std::string::npos) << "members by their own names";

  ZipMember bad;
  bad.name = "bad.txt";
  bad.data = ziptest::ToBytes("data");
  bad.crcOverride = 1;
  ZipBuilder damaged;
  damaged.AddStored("good.txt", "G").Add(bad);
  Write(damaged, "damaged.zip");
  run = test("damaged.zip");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "parcelo-cli: bad.txt: File fails CRC check (25151)\n");
  EXPECT_EQ(run.out, "2 file(s) tested in damaged.zip: 1 failed\n");
  EXPECT_EQ(test("damaged.zip good.txt").status, 0);  // masks select what is tested

  std::vector<std::string> after = before();
  after.erase(std::remove(after.begin(), after.end(), dir.Host("damaged.zip")), after.end());
  EXPECT_EQ(after, files) << "testing wrote something";
}

}  // namespace

namespace {

TEST_F(CliExtractTest, ControlCharactersAreShownNotSentAndNamesOnDiskStayWhole) {
  const std::string evil = "evil\x1b[2J\a\rred\x7f.txt";
  ZipMember bad;
  bad.name = evil;
  bad.data = ziptest::ToBytes("data");
  bad.crcOverride = 1;
  ZipMember csi;
  csi.name =
      "csi\xc2\x9b"
      "31m.txt";
  csi.data = ziptest::ToBytes("c");
  csi.flags = 0x0800;  // a UTF-8 name
  ZipMember whole;  // the same name, whole, in a folder of its own
  whole.name = "ok/" + evil;
  whole.data = ziptest::ToBytes("data");
  ZipBuilder b;
  b.Add(bad).Add(csi).Add(whole);
  Write(b);
  const TRun run = Extract("set.zip -d out");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("evil^[[2J^G^Mred^?.txt: File fails CRC check (25151)"), std::string::npos)
      << run.err;
  for (const char c : run.err + run.out) {
    EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
    EXPECT_NE(c, '\x7f');
  }
  EXPECT_EQ(Read("out/ok/" + evil), "data");  // the file keeps its stored name
  EXPECT_EQ(Read("out/csi\xc2\x9b"
                 "31m.txt"),
            "c");

  const TRun listed = parcelo::test::RunCli("list " + Quote(dir.Host("set.zip")));
  ASSERT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out, "evil^[[2J^G^Mred^?.txt\ncsi\\u009b31m.txt\nok/evil^[[2J^G^Mred^?.txt\n");
}

TEST_F(CliExtractTest, EveryEndIsSaidWithItsStatus) {
  ZipBuilder b;
  b.AddStored("a.txt", "A");
  Write(b);
  // Masks that match nothing: said, status 11.
  TRun run = Extract("set.zip -d out '*.doc'");
  EXPECT_EQ(run.status, 11);
  EXPECT_NE(run.err.find("no member matches *.doc"), std::string::npos) << run.err;
  // An empty archive is an empty archive, not a damaged one.
  ZipBuilder empty;
  Write(empty, "empty.zip");
  run = Extract("empty.zip -d e");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("the archive holds no members"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("damaged"), std::string::npos) << run.err;
  // Without its central directory: said, and a warning status.
  std::string bytes = Read("set.zip");
  bytes.erase(bytes.find("PK\x01\x02"));
  FILE* f = std::fopen(dir.Host("cut.zip").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  run = Extract("cut.zip -d cut");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no central directory"), std::string::npos) << run.err;
  EXPECT_EQ(Read("cut/a.txt"), "A");
  // A folder that cannot be made: said with the system's reason.
  dir.WriteFile("blocker", "a file where the folder should be");
  run = Extract("set.zip -d blocker/inner");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Unable to create directory"), std::string::npos) << run.err;
}

}  // namespace
