// Tests of `parcelo-cli list`: the built program is run on zips made in a temporary folder, and its
// standard output, standard error and exit status are checked.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace {

using ziptest::ZipBuilder;
using ziptest::ZipMember;

struct TRun {
  int status = -1;
  std::string out;
  std::string err;
};

class CliListTest : public ::testing::Test {
 protected:
  // Runs the program with `args` (already quoted as needed) from `cwd`.
  TRun Run(const std::string& args, const std::string& cwd = "") {
    const std::string errFile = dir.Host("stderr.txt");
    std::string command;
    if (!cwd.empty()) command = "cd '" + cwd + "' && ";
    command += std::string("'") + PARCELO_BINARY_DIR + "/cli/parcelo-cli' list " + args + " 2>'" +
               errFile + "'";
    TRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream err(errFile, std::ios::binary);
    run.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    return run;
  }

  std::string Zip(ZipBuilder& zip, const std::string& name = "a.zip") {
    EXPECT_TRUE(zip.WriteTo(dir.Host(name)));
    return dir.Host(name);
  }

  static ZipMember Stored(const std::string& name, const std::string& contents) {
    ZipMember m;
    m.name = name;
    m.data = ziptest::ToBytes(contents);
    return m;
  }

  parcelo::test::TempDir dir{"cli-list"};
};

TEST_F(CliListTest, PrintsOneNamePerLineAsTheEngineGivesThem) {
  ZipBuilder zip;
  ZipMember d;
  d.name = "dir/";
  d.externalAttributes = 0x10;
  zip.Add(Stored("b.txt", "b")).Add(d).Add(Stored("dir/a.txt", "a"));
  const std::string path = Zip(zip);
  TRun run = Run("--engine-names '" + path + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "b.txt\ndir\\a.txt\n");
  EXPECT_EQ(run.err, "");

  run = Run("--engine-names --dirs '" + path + "'");
  EXPECT_EQ(run.out, "b.txt\ndir\\\ndir\\a.txt\n");

  run = Run("--engine-names '" + path + "' 'dir/*.txt'");  // masks take "/" as well
  EXPECT_EQ(run.out, "dir\\a.txt\n");

  // Without --engine-names, names come with this host's "/" separators.
  run = Run("--dirs '" + path + "'");
  EXPECT_EQ(run.out, "b.txt\ndir/\ndir/a.txt\n");
  run = Run("-v '" + path + "' 'dir/*.*'");
  EXPECT_NE(run.out.find(" dir/a.txt\n"), std::string::npos) << run.out;
}

TEST_F(CliListTest, RelativePathsAreExpanded) {
  ZipBuilder zip;
  zip.Add(Stored("x", "1"));
  Zip(zip, "rel.zip");
  const TRun run = Run("rel.zip", dir.HostPath());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "x\n");
  const TRun up = Run("../" + dir.HostPath().substr(dir.HostPath().rfind('/') + 1) + "/rel.zip",
                      dir.HostPath());
  EXPECT_EQ(up.out, "x\n");
}

TEST_F(CliListTest, VerboseTableHasDetailsAndTotals) {
  ZipBuilder zip;
  ZipMember m = Stored("dir/file.txt", "hello");
  m.dosDateTime = 0x5A8C6000;  // 2025-04-12 12:00
  m.unpackedSizeOverride = 1000;
  m.packedSizeOverride = 250;
  zip.Add(m).Add(Stored("two", "22"));
  const TRun run = Run("-v --engine-names '" + Zip(zip) + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Unpacked"), std::string::npos);
  EXPECT_NE(run.out.find("2025-04-12 12:00"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("1000"), std::string::npos);
  EXPECT_NE(run.out.find("75%"), std::string::npos);
  EXPECT_NE(run.out.find("Stored"), std::string::npos);
  EXPECT_NE(run.out.find("3610a686"), std::string::npos) << "CRC-32 of hello";
  EXPECT_NE(run.out.find("dir\\file.txt"), std::string::npos);
  EXPECT_NE(run.out.find("2 files"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("1002"), std::string::npos) << "unpacked total";
}

TEST_F(CliListTest, ErrorsGoToStandardErrorWithTheirCode) {
  TRun run = Run("'" + dir.Host("missing.zip") + "'");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "parcelo-cli: " + dir.Host("missing.zip") + ": File not found (25192)\n");

  dir.WriteFile("text.txt", "plain text, no archive at all, long enough\n");
  run = Run("'" + dir.Host("text.txt") + "'");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("unsupported archive type"), std::string::npos) << run.err;

  ZipBuilder zip;
  ZipMember a = Stored("one.txt", "1");
  zip.Add(a).Add(Stored("two.txt", "2"));
  zip.NoEndRecord();
  run = Run("'" + Zip(zip, "cut.zip") + "'");
  EXPECT_EQ(run.status, 1) << "a damaged archive is reported";
  EXPECT_EQ(run.out, "one.txt\ntwo.txt\n");
  EXPECT_NE(run.err.find("central directory"), std::string::npos) << run.err;

  run = Run("");
  EXPECT_EQ(run.status, 2);
  run = Run("-x a.zip");
  EXPECT_EQ(run.status, 2);
}

TEST_F(CliListTest, NothingListedIsSaid) {
  ZipBuilder zip;
  zip.Add(Stored("a.txt", "a"));
  TRun run = Run("'" + Zip(zip) + "' '*.doc'");
  EXPECT_EQ(run.status, 11);  // masks that match nothing, as unzip says it
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("no member matches *.doc"), std::string::npos) << run.err;
  ZipBuilder empty;
  run = Run("'" + Zip(empty) + "'");
  EXPECT_EQ(run.status, 1);  // an empty archive is a warning, not a damaged one
  EXPECT_NE(run.err.find("the archive holds no members"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("missing or damaged"), std::string::npos) << run.err;
}

}  // namespace
