// Tests of `parcelo-cli list`: the built program is run on zips made in a temporary folder, and its
// standard output, standard error and exit status are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/CliRun.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace {

using ziptest::ZipBuilder;
using ziptest::ZipMember;

using TRun = parcelo::test::TCliRun;

class CliListTest : public ::testing::Test {
 protected:
  // Runs the program with `args` (already quoted as needed) from `cwd`.
  TRun Run(const std::string& args, const std::string& cwd = "") {
    return parcelo::test::RunCli("list " + args, cwd);
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
  // 250 bytes said to hold 1000 (sizes that lie about the data, not about where it ends: a
  // packed size beyond the data would overlap the next member).
  ZipMember m = Stored("dir/file.txt", std::string(250, 'h'));
  m.dosDateTime = 0x5A8C6000;  // 2025-04-12 12:00
  m.unpackedSizeOverride = 1000;
  m.crcOverride = 0x3610a686;  // the CRC-32 of "hello"
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

// -v marks an encrypted member with "*" after its method, and shows a member that grew in the
// archive with a negative ratio, the one unzip -v shows (Python's zipfile deflates random bytes,
// which grow; Info-ZIP's zip encrypts a member).
TEST_F(CliListTest, VerboseMarksEncryptedMembersAndNegativeRatios) {
  if (std::system("command -v zip >/dev/null 2>&1 && command -v unzip >/dev/null 2>&1 && "
                  "command -v python3 >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "Info-ZIP zip, unzip or python3 is not installed";
  const std::string archive = dir.Host("mixed.zip");
  const std::string make =
      "python3 -c \"import random, zipfile; random.seed(7); z = zipfile.ZipFile('" + archive +
      "', 'w', zipfile.ZIP_DEFLATED); z.writestr('random.bin', bytes(random.getrandbits(8) for _ "
      "in range(300))); z.close()\"";
  ASSERT_EQ(std::system(make.c_str()), 0) << make;
  dir.WriteFile("src/secret.txt", std::string(100, 's'));
  ASSERT_EQ(
      std::system(
          ("cd '" + dir.Host("src") + "' && zip -q -X -P pw '" + archive + "' secret.txt").c_str()),
      0);
  const TRun run = Run("-v '" + archive + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  const auto lineOf = [](const std::string& text, const std::string& name) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
      if (line.find(name) != std::string::npos) return line;
    return std::string();
  };
  const std::string secret = lineOf(run.out, "secret.txt");
  const std::string random = lineOf(run.out, "random.bin");
  const auto methodOf = [](const std::string& line) {
    const size_t start = line.find("% ") + 2;
    return line.substr(start, line.find(' ', start) - start);
  };
  EXPECT_EQ(methodOf(secret).substr(0, 7), "Deflate") << secret;
  EXPECT_EQ(methodOf(secret).back(), '*') << secret;
  EXPECT_EQ(random.find('*'), std::string::npos) << random;
  // The ratio of the member that grew, as unzip -v gives it ("-3%").
  FILE* unzip = popen(("unzip -v '" + archive + "' random.bin").c_str(), "r");
  ASSERT_NE(unzip, nullptr);
  std::string oracle;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, unzip)) oracle += buffer;
  pclose(unzip);
  const std::string oracleLine = lineOf(oracle, "random.bin");
  const size_t percent = oracleLine.find('%');
  ASSERT_NE(percent, std::string::npos) << oracle;
  const size_t start = oracleLine.rfind(' ', percent) + 1;
  const std::string ratio = oracleLine.substr(start, percent - start + 1);
  ASSERT_EQ(ratio.front(), '-') << oracleLine;
  EXPECT_NE(random.find(" " + ratio + " Deflate"), std::string::npos)
      << random << " / unzip: " << oracleLine;
}

// -v shows a member's exact time where the archive holds one (Info-ZIP's extended timestamp,
// 7-Zip's NTFS times), in the local zone; a DOS time has even seconds only (Info-ZIP rounds up).
TEST_F(CliListTest, VerboseTimesAreExactWhereTheArchiveHoldsThem) {
  const parcelo::test::ScopedEnv zone("TZ", "Asia/Tokyo");  // nine hours ahead, no daylight time
  dir.WriteFile("src/f.txt", "f");
  ASSERT_EQ(
      std::system(("touch -d '2021-03-04T05:06:07.9Z' '" + dir.Host("src/f.txt") + "'").c_str()),
      0);
  struct Tool {
    const char* probe;
    const char* command;
    const char* shown;
  } tools[] = {{"zip", "zip -q ../a.zip f.txt", "2021-03-04 14:06:07 "},
               {"7zz", "7zz a -tzip ../a.zip f.txt >/dev/null", "2021-03-04 14:06:07 "},
               {"zip", "zip -qX ../a.zip f.txt", "2021-03-04 14:06:08 "}};
  int ran = 0;
  for (const Tool& tool : tools) {
    if (std::system((std::string("command -v ") + tool.probe + " >/dev/null 2>&1").c_str()) != 0)
      continue;
    ++ran;
    SCOPED_TRACE(tool.command);
    std::remove(dir.Host("a.zip").c_str());
    ASSERT_EQ(std::system(("cd '" + dir.Host("src") + "' && " + tool.command).c_str()), 0);
    const TRun run = Run("-v '" + dir.Host("a.zip") + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(tool.shown), std::string::npos) << run.out;
  }
  if (ran == 0) GTEST_SKIP() << "neither zip nor 7zz is installed";
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

// ---- a damaged directory: list shows what extract writes ----------------------------------------
std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Spill(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

uint32_t Le(const std::string& b, size_t at, int width) {
  uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
  return v;
}

void PutLe16(std::string& b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The files below a folder, as relative "/" paths, sorted.
std::vector<std::string> FilesBelow(const std::string& root) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (it->is_regular_file()) files.push_back(it->path().lexically_relative(root).string());
  std::sort(files.begin(), files.end());
  return files;
}

// Info-ZIP's archive with its directory cut short or its end record lying in several ways: the
// names `list` prints are the files `extract` writes, with the same notice and exit status
// (2 when a directory is shorter than announced, 1 when it is gone altogether).
TEST_F(CliListTest, ADamagedDirectoryListsWhatExtractWrites) {
  if (std::system("command -v zip >/dev/null 2>&1") != 0) GTEST_SKIP() << "zip is not installed";
  for (const char* name : {"a.txt", "b.txt", "d/c.txt", "d/e/f.txt", "g.bin", "h.txt"})
    dir.WriteFile(std::string("src/") + name, std::string(300, name[0]) + name);
  ASSERT_EQ(std::system(("cd '" + dir.Host("src") + "' && zip -qr ../good.zip .").c_str()), 0);
  const std::string good = Slurp(dir.Host("good.zip"));
  const size_t end = good.rfind("PK\x05\x06");
  ASSERT_NE(end, std::string::npos);
  const size_t directory = Le(good, end + 16, 4);
  // Where the third central header starts.
  size_t third = directory;
  for (int i = 0; i < 2; ++i)
    third += 46 + Le(good, third + 28, 2) + Le(good, third + 30, 2) + Le(good, third + 32, 2);

  struct Case {
    const char* name;
    std::string bytes;
    int status;
    const char* notice;
  };
  std::vector<Case> cases;
  std::string broken = good;
  broken[third + 2] = 9;  // one changed byte ends the directory after two entries
  cases.push_back({"broken", broken, 2, "the central directory holds 2 of 8 entries"});
  std::string inflated = good;
  PutLe16(inflated, end + 8, 11);  // the end record announces more entries than there are
  PutLe16(inflated, end + 10, 11);
  cases.push_back({"inflated", inflated, 2, "the central directory holds 8 of 11 entries"});
  std::string many = broken;
  PutLe16(many, end + 8, 65535);
  PutLe16(many, end + 10, 65535);
  cases.push_back({"many", many, 2, "the central directory holds 2 of 65535 entries"});
  cases.push_back({"cut", good.substr(0, directory), 1, "no central directory"});
  std::string halfway = good.substr(0, third + 20);  // cut inside the directory
  cases.push_back({"halfway", halfway, 1, "no central directory"});
  std::string misdirected = good;  // the end record leads to no directory by size or offset
  PutLe16(misdirected, end + 12, 7);
  PutLe16(misdirected, end + 16, 1);
  cases.push_back({"misdirected", misdirected, 1, "no central directory"});
  // The first part of a split set (the spanning marker first) whose directory is missing.
  cases.push_back({"split", "PK\x07\x08" + good.substr(0, directory), 1, "no central directory"});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string archive = dir.Host(std::string(c.name) + ".zip");
    Spill(archive, c.bytes);
    using parcelo::test::Quote;
    const parcelo::test::TCliRun listed = parcelo::test::RunCli("list " + Quote(archive));
    const std::string out = dir.Host(std::string("out-") + c.name);
    const parcelo::test::TCliRun extracted =
        parcelo::test::RunCli("extract -q -d " + Quote(out) + " " + Quote(archive));
    EXPECT_EQ(listed.status, c.status) << listed.err;
    EXPECT_EQ(extracted.status, c.status) << extracted.err;
    // Without a directory, folder entries are listed like files (a local header has no
    // attributes): each is a folder extract made.
    std::vector<std::string> names;
    for (const std::string& name : Lines(listed.out)) {
      if (name.back() != '/') {
        names.push_back(name);
      } else {
        EXPECT_TRUE(std::filesystem::is_directory(out + "/" + name)) << name;
      }
    }
    EXPECT_EQ(names.size(), 6u) << listed.out;
    EXPECT_EQ(names, FilesBelow(out));
    // The notice is the same line in both, word for word.
    const size_t at = listed.err.find(c.notice);
    ASSERT_NE(at, std::string::npos) << listed.err;
    const std::string line = listed.err.substr(0, listed.err.find('\n', at) + 1);
    EXPECT_NE(extracted.err.find(line), std::string::npos) << line << "\n" << extracted.err;
  }
}

}  // namespace
