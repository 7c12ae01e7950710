// parcelo-cli on hostile zips, run as a program: overlapping-member bombs (each member's data
// quoting the next member's header over one shared kernel; many directory entries naming one
// header; sizes written short so that only reading on reaches the kernel; a local extra field
// pushing the data over the next member), members that are never written (an empty name, a name
// with a zero byte, "/" with data, below a link the run made), Unicode Path names set aside, and
// extract, test and list agreeing about each. Archives made by Info-ZIP, 7-Zip, Python and Java
// tools pass untouched. The hostile archives come from tests/cli/hostile_zip.py; every case is
// skipped when its tool is missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/CliRun.h"
#include "support/ExtractFixture.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace {

namespace fs = std::filesystem;
using extracttest::HaveTool;
using extracttest::Shell;
using parcelo::test::Quote;
using parcelo::test::RunCli;
using TRun = parcelo::test::TCliRun;
using ziptest::ZipBuilder;
using ziptest::ZipMember;

constexpr char kOverlap[] = "overlapping members: a possible zip bomb";

int Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class CliHostileZipTest : public ::testing::Test {
 protected:
  parcelo::test::TempDir dir{"cli-hostile"};

  TRun Cli(const std::string& arguments) { return RunCli(arguments, dir.HostPath()); }
  // Writes a hostile archive with tests/cli/hostile_zip.py; false when Python is missing.
  bool Make(const std::string& arguments, const std::string& name) {
    if (!HaveTool("python3")) return false;
    const std::string script = std::string(PARCELO_SOURCE_DIR) + "/tests/cli/hostile_zip.py";
    return Shell("python3 " + Quote(script) + " " + arguments + " " + Quote(dir.Host(name))) == 0;
  }
  // The bytes of every file below `relative`, added up.
  uint64_t Written(const std::string& relative) {
    uint64_t total = 0;
    if (!fs::exists(dir.Host(relative))) return 0;
    for (const auto& e : fs::recursive_directory_iterator(dir.Host(relative)))
      if (e.is_regular_file()) total += e.file_size();
    return total;
  }
  bool Exists(const std::string& relative) {
    return fs::exists(fs::symlink_status(dir.Host(relative)));
  }
  std::string Read(const std::string& relative) {
    return extracttest::ReadHostFile(dir.Host(relative));
  }
  // Rows of `list -v` whose method column (from column 52: date and time, two sizes and the
  // ratio before it) carries the refusal mark.
  static int MarkedRows(const std::string& table) {
    int n = 0;
    size_t start = 0;
    while (start < table.size()) {
      size_t end = table.find('\n', start);
      if (end == std::string::npos) end = table.size();
      const std::string line = table.substr(start, end - start);
      if (line.size() > 52 && line[4] == '-') {
        const std::string method = line.substr(52, line.find(' ', 52) - 52);
        n += !method.empty() && method.back() == '!';
      }
      start = end + 1;
    }
    return n;
  }
};

// ---- overlapping members ------------------------------------------------------------------------
// A hundred members, each quoting the next one's header over one 1 MiB kernel, would write 100 MiB
// from 10 KB: each is refused once, nothing is written, and test and list say the same.
TEST_F(CliHostileZipTest, QuotedOverlapBombWritesNothing) {
  if (!Make("quoted 100", "bomb.zip")) GTEST_SKIP() << "python3 is not installed";
  const TRun run = Cli("extract -q bomb.zip -d out");
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_EQ(Occurrences(run.err, kOverlap), 100) << run.err;
  EXPECT_EQ(Written("out"), 0u);
  const TRun test = Cli("test bomb.zip");
  EXPECT_EQ(test.status, 2);
  EXPECT_EQ(Occurrences(test.err, kOverlap), 100);
  EXPECT_NE(test.out.find("100 file(s) tested in bomb.zip: 100 failed"), std::string::npos)
      << test.out;
  const TRun list = Cli("list -v bomb.zip");
  EXPECT_EQ(list.status, 2);
  EXPECT_EQ(MarkedRows(list.out), 100) << list.out;
  EXPECT_EQ(Occurrences(list.err, kOverlap), 100);
}

// Two hundred directory entries naming one deflated member are the same fault.
TEST_F(CliHostileZipTest, EntriesNamingOneHeaderWriteNothing) {
  if (!Make("shared 200", "bomb.zip")) GTEST_SKIP() << "python3 is not installed";
  const TRun run = Cli("extract -q bomb.zip -d out");
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_EQ(Occurrences(run.err, kOverlap), 200);
  EXPECT_EQ(Written("out"), 0u);
  EXPECT_EQ(Cli("test -q bomb.zip").status, 2);
  const TRun list = Cli("list bomb.zip");
  EXPECT_EQ(list.status, 2);
  EXPECT_EQ(Occurrences(list.out, "\n"), 200);  // every entry shown
}

// The same chain with each size written as the quote block's 5 bytes: no recorded spans overlap,
// and a decoder that read on past a member's size would still reach the kernel through every later
// member. Reading on stops at the next member's header: only the last member, the kernel itself,
// is written.
TEST_F(CliHostileZipTest, ReadingOnPastAShortSizeStopsAtTheNextMember) {
  if (!Make("understated 100", "bomb.zip")) GTEST_SKIP() << "python3 is not installed";
  const TRun run = Cli("extract -q bomb.zip -d out");
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_EQ(Written("out"), uint64_t{1} << 20);
  EXPECT_EQ(fs::file_size(dir.Host("out/0099")), uint64_t{1} << 20);
  const TRun test = Cli("test bomb.zip");
  EXPECT_EQ(test.status, 2);
  EXPECT_NE(test.out.find("100 file(s) tested in bomb.zip: 99 failed"), std::string::npos)
      << test.out;
}

// A stored member whose size says more than its data: the bytes behind it are the next member's
// header and data, and even with a checksum made to match them they are not its own. The member
// fails; the next one is extracted as it is.
TEST_F(CliHostileZipTest, AStoredMemberNeverTakesTheNextMembersBytes) {
  ZipBuilder first;
  first.AddStored("a.txt", "AAAA").AddStored("b.txt", "BBBB");
  const ziptest::Bytes bytes = first.Build();
  const ziptest::ZipLayout layout = first.Layout();
  // a.txt's data, then all of b.txt's member up to the directory.
  const ziptest::Bytes claimed(bytes.begin() + 30 + 5,
                               bytes.begin() + static_cast<long>(layout.centralOffset));
  ZipMember liar = extracttest::Stored("a.txt", "AAAA");
  liar.unpackedSizeOverride = claimed.size();
  liar.crcOverride = ziptest::Crc32(claimed);
  ZipBuilder b;
  b.Add(liar).AddStored("b.txt", "BBBB");
  ASSERT_TRUE(b.WriteTo(dir.Host("liar.zip")));
  const TRun run = Cli("extract -q liar.zip -d out");
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_FALSE(Exists("out/a.txt"));
  EXPECT_EQ(Read("out/b.txt"), "BBBB");
  EXPECT_EQ(Cli("test -q liar.zip").status, 2);
}

// A local extra field that pushes a member's data over the next member's header: the directory's
// spans do not show it, the local header does. The member is refused; the others are extracted.
TEST_F(CliHostileZipTest, ALocalExtraFieldPushingDataOverTheNextMemberIsAnOverlap) {
  if (!Make("pushed", "pushed.zip")) GTEST_SKIP() << "python3 is not installed";
  const TRun run = Cli("extract -q pushed.zip -d out");
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_EQ(Occurrences(run.err, kOverlap), 1) << run.err;
  EXPECT_NE(run.err.find("out/a.txt"), std::string::npos) << run.err;
  EXPECT_FALSE(Exists("out/a.txt"));
  EXPECT_EQ(Read("out/b.txt"), std::string(20, 'B'));
  EXPECT_EQ(Read("out/c.txt"), std::string(7, 'C'));
  EXPECT_EQ(Cli("test -q pushed.zip").status, 2);
  const TRun list = Cli("list -v pushed.zip");
  EXPECT_EQ(list.status, 2);
  EXPECT_EQ(MarkedRows(list.out), 1) << list.out;
}

// One empty member named by several entries (as some Java tools write it) expands to nothing:
// no overlap, every name is made.
TEST_F(CliHostileZipTest, OneEmptyMemberNamedSeveralTimesIsExtracted) {
  if (!Make("sharedempty", "java.zip")) GTEST_SKIP() << "python3 is not installed";
  const TRun run = Cli("extract -q java.zip -d out");
  EXPECT_NE(run.status, 2) << run.err;
  EXPECT_EQ(run.err.find(kOverlap), std::string::npos) << run.err;
  EXPECT_EQ(Read("out/empty"), "");
  EXPECT_EQ(Read("out/other"), "");
  EXPECT_EQ(Read("out/full.txt"), "FULL");
  EXPECT_NE(Cli("test -q java.zip").status, 2);
  EXPECT_NE(Cli("list java.zip").status, 2);
}

// ---- archives of today's writers ----------------------------------------------------------------
// Info-ZIP (also streamed, with data descriptors), 7-Zip, Python's zipfile (seekable and streamed)
// and the Java archivers: empty files, empty folders, files of every size. Nothing overlaps;
// extract, test and list all exit 0 and agree with the tree that went in.
TEST_F(CliHostileZipTest, ArchivesOfTodaysWritersPassTheOverlapCheck) {
  ASSERT_EQ(Shell("cd " + Quote(dir.HostPath()) +
                  " && mkdir -p in/sub/empty in/d && : > in/zero && printf 'x' > in/one && "
                  "head -c 300000 /dev/urandom > in/sub/random.bin && "
                  "seq 1 20000 > in/d/numbers.txt && : > in/sub/zero2"),
            0);
  struct TWriter {
    const char* tool;
    const char* command;  // run in "in", writes ../NAME.zip
  };
  const TWriter writers[] = {
      {"zip", "zip -qr ../infozip.zip ."},
      {"zip", "zip -qr - . | cat > ../infozip_streamed.zip"},
      {"7zz", "7zz a -tzip -bd ../sevenzip.zip . >/dev/null"},
      {"python3",
       "python3 -c \"import zipfile,os\nwith zipfile.ZipFile('../python.zip','w',zipfile.ZIP_"
       "DEFLATED) as z:\n for r,ds,fs in os.walk('.'):\n  for d in ds: z.write(os.path.join(r,d))\n"
       "  for f in fs: z.write(os.path.join(r,f))\""},
      {"python3",
       "python3 -c \"import zipfile,os,sys\nwith zipfile.ZipFile(sys.stdout.buffer,'w',zipfile.ZIP_"
       "DEFLATED) as z:\n for r,ds,fs in os.walk('.'):\n  for f in fs: z.write(os.path.join(r,f))\""
       " | cat > ../python_streamed.zip"},
      {"jar", "jar cf ../java.zip ."},
      {"fastjar", "fastjar cf ../fastjar.zip ."},
  };
  int ran = 0;
  for (const TWriter& writer : writers) {
    if (!HaveTool(writer.tool)) continue;
    const std::string command = std::string(writer.command);
    const size_t at = command.find("../") + 3;
    const std::string name = command.substr(at, command.find(".zip", at) + 4 - at);
    SCOPED_TRACE(name);
    ASSERT_EQ(Shell("cd " + Quote(dir.Host("in")) + " && " + command), 0) << command;
    ++ran;
    const TRun run = Cli("extract -q " + name + " -d out-" + name);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("out-" + name + "/sub/random.bin"), Read("in/sub/random.bin"));
    EXPECT_EQ(Read("out-" + name + "/d/numbers.txt"), Read("in/d/numbers.txt"));
    EXPECT_TRUE(Exists("out-" + name + "/zero"));
    EXPECT_TRUE(Exists("out-" + name + "/sub/zero2"));
    const TRun test = Cli("test -q " + name);
    EXPECT_EQ(test.status, 0) << test.err << test.out;
    const TRun list = Cli("list -v " + name);
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(MarkedRows(list.out), 0) << list.out;
  }
  if (ran == 0) GTEST_SKIP() << "no zip writer is installed";
}

// ---- members that are never written -------------------------------------------------------------
// An empty name, "/" with data and a name with a zero byte: each is named once with its reason
// and is a failure (exit 2); the ordinary member beside them is extracted; nothing is made of
// the others (no folder "dir" from "dir/" + NUL + "x"). Test and list say the same.
TEST_F(CliHostileZipTest, NamesThatCannotBeWrittenAreFailuresNamedOnce) {
  if (!Make("names", "names.zip")) GTEST_SKIP() << "python3 is not installed";
  const TRun run = Cli("extract -q names.zip -d out");
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_EQ(Occurrences(run.err, "has an empty name; not written"), 1) << run.err;
  EXPECT_EQ(Occurrences(run.err, "the name \"/\" names no file, but the member holds 5 bytes"), 1)
      << run.err;
  EXPECT_EQ(Occurrences(run.err, "the name \"dir/^@x\" holds a zero byte; not written"), 1)
      << run.err;
  EXPECT_EQ(Occurrences(run.err, "\n"), 3) << run.err;
  EXPECT_EQ(Read("out/ok.txt"), "fine");
  EXPECT_FALSE(Exists("out/dir"));
  EXPECT_EQ(Written("out"), 4u);
  const TRun test = Cli("test names.zip");
  EXPECT_EQ(test.status, 2);
  EXPECT_NE(test.out.find("4 file(s) tested in names.zip: 3 failed"), std::string::npos)
      << test.out;
  const TRun list = Cli("list -v names.zip");
  EXPECT_EQ(list.status, 2);
  EXPECT_EQ(MarkedRows(list.out), 3) << list.out;
  EXPECT_NE(list.out.find("dir/^@x"), std::string::npos) << list.out;
  // With masks, a member without a name is not selected: nothing to say about it.
  const TRun masked = Cli("extract -q names.zip '*.txt' -d masked");
  EXPECT_EQ(masked.status, 0) << masked.err;
  EXPECT_EQ(Read("masked/ok.txt"), "fine");
}

// A Unicode Path holding a zero byte or leading outside is set aside for the header's name, and
// said (a warning, exit 1): the file is written under its stored name, nothing else is made.
TEST_F(CliHostileZipTest, AUnicodePathWithAZeroByteOrLeadingOutsideIsSetAside) {
  if (!Make("unicode", "unicode.zip")) GTEST_SKIP() << "python3 is not installed";
  const TRun run = Cli("extract -q unicode.zip -d out");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(Read("out/innocent.txt"), "first");
  EXPECT_EQ(Read("out/safe.txt"), "second");
  EXPECT_EQ(Read("out/up.txt"), "third");
  EXPECT_FALSE(Exists("out/a"));
  EXPECT_FALSE(Exists("out/safe"));
  EXPECT_EQ(Occurrences(run.err, "holds a zero byte; the header's name is used"), 2) << run.err;
  EXPECT_EQ(Occurrences(run.err, "leads outside the destination; the header's name is used"), 1)
      << run.err;
  EXPECT_EQ(Cli("test -q unicode.zip").status, 1);
  const TRun list = Cli("list unicode.zip");
  EXPECT_EQ(list.status, 1) << list.err;
  EXPECT_EQ(list.out, "innocent.txt\nsafe.txt\nup.txt\n");
}

// A folder entry that holds bytes (Python's zipfile writes one when asked): the folder is made and
// the bytes, which no file of that name could hold, are said not to be written (a warning), by
// extract, test and list alike.
TEST_F(CliHostileZipTest, AFolderEntryHoldingBytesIsMadeAndItsBytesAreSaid) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  ASSERT_EQ(Shell("cd " + Quote(dir.HostPath()) +
                  " && python3 -c \"import zipfile; z = zipfile.ZipFile('f.zip', 'w'); "
                  "z.writestr('dir/', b'hidden bytes'); z.writestr('dir/a.txt', b'x'); "
                  "z.close()\""),
            0);
  constexpr char kSaid[] = "a folder entry that holds 12 bytes: the folder is made";
  const TRun run = Cli("extract -q f.zip -d out");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(Occurrences(run.err, kSaid), 1) << run.err;
  EXPECT_EQ(Read("out/dir/a.txt"), "x");
  const TRun test = Cli("test -q f.zip");
  EXPECT_EQ(test.status, 1) << test.err;
  EXPECT_EQ(Occurrences(test.err, kSaid), 1) << test.err;
  const TRun list = Cli("list f.zip");
  EXPECT_EQ(list.status, 1) << list.err;
  EXPECT_EQ(Occurrences(list.err, kSaid), 1) << list.err;
}

// A member below a link the run made is a failure (exit 2), and test reports what extraction
// refuses: a link leading out, a link that only loops, and what lies below a link. (A member
// below the refused loop is an ordinary file in an ordinary folder.)
TEST_F(CliHostileZipTest, TestAndExtractAgreeAboutLinks) {
  auto link = [](const std::string& name, const std::string& target) {
    ZipMember m = extracttest::Stored(name, target);
    m.versionMadeBy = (3 << 8) | 30;
    m.externalAttributes = 0120777u << 16;
    return m;
  };
  ZipBuilder b;
  b.AddStored("keep.txt", "K").Add(link("out", "../../etc")).Add(link("self", "self"));
  b.AddStored("self/x", "through a loop").Add(link("sub", "."));
  b.AddStored("sub/y", "through a link inside");
  ASSERT_TRUE(b.WriteTo(dir.Host("links.zip")));
  const TRun run = Cli("extract -q links.zip -d out");
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_EQ(Read("out/keep.txt"), "K");
  EXPECT_FALSE(Exists("out/out"));
  EXPECT_FALSE(fs::is_symlink(dir.Host("out/self")));
  EXPECT_EQ(Read("out/self/x"), "through a loop");
  EXPECT_TRUE(fs::is_symlink(dir.Host("out/sub")));
  EXPECT_FALSE(Exists("out/y"));
  EXPECT_EQ(Occurrences(run.err, "\n"), 3) << run.err;
  const TRun test = Cli("test links.zip");
  EXPECT_EQ(test.status, 2) << test.err;
  // The link leading out, the loop and the member below the link inside fail.
  EXPECT_NE(test.out.find("6 file(s) tested in links.zip: 3 failed"), std::string::npos)
      << test.out << test.err;
  EXPECT_EQ(Occurrences(test.err, "\n"), 3) << test.err;
  EXPECT_EQ(Occurrences(test.err, "below a symbolic link made from the archive"), 1) << test.err;
}

}  // namespace
