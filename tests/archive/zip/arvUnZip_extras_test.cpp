// The zip extractor and lister on the fields today's writers add: ZIP64 sizes, offsets and disk
// numbers (hand-built in every field order, from Python's zipfile with more than 65,535 entries,
// and one member over 4 GiB written sparsely), exact times (Info-ZIP's extended timestamp and
// 7-Zip's NTFS times, files and folders), Unix symbolic links (Info-ZIP zip -y, 7-Zip -snl) and
// Unicode Path names. Archives made by tools are skipped when the tool is missing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "archive/formats/arvArcova.h"
#include "support/ExtractFixture.h"

namespace {

using namespace extracttest;
namespace fs = std::filesystem;

class UnZipExtrasTest : public ExtractTest {
 protected:
  // Runs a command in the temporary folder; false when it fails.
  bool InDir(const std::string& command) {
    return Shell("cd '" + dir.HostPath() + "' && (" + command + ") >/dev/null 2>&1") == 0;
  }
  // Every End event passed and no error was reported.
  // (An archive read without its directory says so once; that notice is not a failure.)
  void ExpectClean() {
    for (const std::string& line : log) {
      if (unzip.DirectoryMissing() && line.rfind("Error 25104", 0) == 0) continue;
      EXPECT_EQ(line.find("FAIL"), std::string::npos) << line;
      EXPECT_NE(line.rfind("Error", 0), 0u) << line;
    }
  }
  // The names and unpacked sizes the lister gives for the archive.
  std::map<std::string, int64_t> Listed() {
    TArcova arcova;
    arcova.SetArchiveFile(host::FromHostPath(ArchiveHost()));
    arcova.FileSpec().Add("*.*");
    std::map<std::string, int64_t> entries;
    arcova.OnRead = [&](TObject*, int64_t, int) {
      entries[arcova.Entry().FileName] = arcova.Entry().UnpackedSize;
    };
    arcova.Scan();
    return entries;
  }
  // The exact time the lister gives each entry (only entries that have one).
  std::map<std::string, TExactTime> ListedTimes() {
    TArcova arcova;
    arcova.SetArchiveFile(host::FromHostPath(ArchiveHost()));
    arcova.FileSpec().Add("*.*");
    std::map<std::string, TExactTime> times;
    arcova.OnRead = [&](TObject*, int64_t, int) {
      if (arcova.Entry().ExactTime.Valid) times[arcova.Entry().FileName] = arcova.Entry().ExactTime;
    };
    arcova.Scan();
    return times;
  }
  static timespec MTime(const std::string& hostPath) {
    struct stat st {};
    lstat(hostPath.c_str(), &st);
    return st.st_mtim;
  }
};

// ---- ZIP64 ------------------------------------------------------------------------------------
// A value sits in the 0x0001 subfield only for the fields that are all ones, in the published
// order; reading one in the wrong place gives a wrong size or offset, and so a wrong file.
TEST_F(UnZipExtrasTest, Zip64FieldsInEveryCombination) {
  using F = ZipMember::Zip64Fields;
  const F central[] = {{false, false, true, false}, {true, true, false, false},
                       {true, true, true, false},   {false, true, true, false},
                       {true, false, false, true},  {false, false, true, true}};
  ZipBuilder b;
  std::map<std::string, Bytes> expected;
  int n = 0;
  for (const F& fields : central) {
    const std::string name = "m" + std::to_string(n) + ".bin";
    const Bytes plain = Pattern(3000 + 500 * n, n + 1);
    ZipMember m = Deflated(name, plain);
    m.zip64Central = fields;
    m.zip64Local = F{n % 2 == 0, n % 2 == 0, false, false};
    b.Add(m);
    expected[name] = plain;
    ++n;
  }
  Use(b);
  Record();
  EXPECT_EQ(unzip.Extract(), n);
  ExpectClean();
  for (const auto& [name, plain] : expected)
    EXPECT_TRUE(Out(name) == std::string(plain.begin(), plain.end())) << name;
  const auto listed = Listed();
  for (const auto& [name, plain] : expected)
    EXPECT_EQ(listed.at(name), static_cast<int64_t>(plain.size())) << name;

  // Without a directory the local headers' ZIP64 sizes say where each member ends.
  ZipBuilder local;
  for (int i = 0; i < 3; ++i) {
    ZipMember m = Deflated("l" + std::to_string(i), Pattern(5000, 9 + i));
    m.zip64Local = F{true, true, false, false};
    local.Add(m);
  }
  local.NoCentralDirectory().NoEndRecord();
  Use(local);
  log.clear();
  unzip.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
  EXPECT_EQ(unzip.Extract(), 3);
  EXPECT_TRUE(Out("l2") == ReadHostFile(OutHost("l2")) && Out("l2").size() == 5000);
  // The missing directory is said once; nothing else is reported.
  EXPECT_TRUE(unzip.DirectoryMissing());
  EXPECT_EQ(Count("Error 25104"), 1);
  log.erase(
      std::remove_if(log.begin(), log.end(),
                     [](const std::string& line) { return line.rfind("Error 25104", 0) == 0; }),
      log.end());
  ExpectClean();
}

// Python's zipfile: ZIP64 members (force_zip64) and more than 65,535 entries, which need the ZIP64
// end record. The many entries are tested rather than written (the same walk and decoding).
TEST_F(UnZipExtrasTest, PythonZip64MembersAndManyEntries) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  ASSERT_TRUE(
      InDir("python3 -c \"import zipfile\n"
            "with zipfile.ZipFile('a.zip', 'w') as z:\n"
            "  for name, method in (('big/d.bin', zipfile.ZIP_DEFLATED), ('big/s.bin', "
            "zipfile.ZIP_STORED)):\n"
            "    with z.open(zipfile.ZipInfo(name), 'w', force_zip64=True) as f:\n"
            "      f.write(bytes(range(256)) * 900)\n"
            "  for i in range(70000):\n"
            "    z.writestr('many/%d.txt' % i, str(i))\n\""));
  UseFile(ArchiveHost());
  RecordErrors();
  unzip.SetTestOnly(true);
  int failed = 0;
  unzip.OnEnd = [&](TObject*, const std::string&, bool pass) { failed += !pass; };
  EXPECT_EQ(unzip.Extract(), 70002);
  EXPECT_EQ(failed, 0);
  EXPECT_TRUE(log.empty()) << log.front();
  EXPECT_FALSE(fs::exists(dir.Host("out")));  // testing writes nothing

  unzip.SetTestOnly(false);
  unzip.OnEnd = nullptr;
  unzip.FileSpec().Clear();
  unzip.FileSpec().Add("big\\*.*");
  EXPECT_EQ(unzip.Extract(), 2);
  std::string block;
  for (int i = 0; i < 256; ++i) block += static_cast<char>(i);
  std::string whole;
  for (int i = 0; i < 900; ++i) whole += block;
  EXPECT_TRUE(Out("big/d.bin") == whole);
  EXPECT_TRUE(Out("big/s.bin") == whole);

  TArcova arcova;
  arcova.SetArchiveFile(host::FromHostPath(ArchiveHost()));
  arcova.FileSpec().Add("*.*");
  TStringList names;
  arcova.FillFileList(names);
  EXPECT_EQ(names.Count(), 70002);
}

// Python's zipfile writing to a stream it cannot seek: ZIP64 local fields of zeros, the sizes in
// 64-bit data descriptors, the directory's 32-bit fields true. Read through the directory, and
// through the local headers once the directory is cut off.
TEST_F(UnZipExtrasTest, PythonStreamedZip64WithDataDescriptors) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  ASSERT_TRUE(
      InDir("python3 -c \"import io, zipfile\n"
            "class Pipe(io.RawIOBase):\n"
            "  def __init__(self): self.data = bytearray()\n"
            "  def writable(self): return True\n"
            "  def write(self, b): self.data += b; return len(b)\n"
            "pipe = Pipe()\n"
            "with zipfile.ZipFile(pipe, 'w', zipfile.ZIP_DEFLATED) as z:\n"
            "  for name in ('a.txt', 'b.txt'):\n"
            "    with z.open(name, 'w', force_zip64=True) as f: f.write(name.encode() * 5000)\n"
            "data = bytes(pipe.data)\n"
            "open('a.zip', 'wb').write(data)\n"
            "open('cut.zip', 'wb').write(data[:data.find(b'PK\\x01\\x02')])\""));
  for (const char* archive : {"a.zip", "cut.zip"}) {
    SCOPED_TRACE(archive);
    fs::remove_all(dir.Host("out"));
    log.clear();
    UseFile(dir.Host(archive));
    Record();
    unzip.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
    EXPECT_EQ(unzip.Extract(), 2);
    ExpectClean();
    std::string a, b;
    for (int i = 0; i < 5000; ++i) a += "a.txt", b += "b.txt";
    EXPECT_TRUE(Out("a.txt") == a);
    EXPECT_TRUE(Out("b.txt") == b);
  }
}

// A member larger than 4 GiB (zeros, written as a hole) followed by one whose local header lies
// beyond 4 GiB: sizes, offset and the end record all need ZIP64. Listed, then extracted.
TEST_F(UnZipExtrasTest, MemberOver4GiB) {
  constexpr uint64_t kBig = (1ull << 32) + 65536 + 7;
  // CRC-32 of kBig zeros, by doubling with zlib's combination rule.
  uLong crc = crc32(0, nullptr, 0);
  {
    uLong block = crc32(0, nullptr, 0);
    const Bytes zero(1, 0);
    block = crc32(block, zero.data(), 1);  // one zero byte
    for (uint64_t bit = 1, left = kBig; left; bit <<= 1, left >>= 1) {
      if (left & 1) crc = crc32_combine64(crc, block, static_cast<z_off64_t>(bit));
      block = crc32_combine64(block, block, static_cast<z_off64_t>(bit));
    }
  }
  auto le = [](Bytes& out, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const std::string bigName = "zeros.bin", smallName = "after.txt", small = "after the hole";
  const uLong smallCrc = crc32(0, reinterpret_cast<const Bytef*>(small.data()), small.size());
  Bytes head;  // local header of the big member
  le(head, 0x04034B50, 4), le(head, 45, 2), le(head, 0, 2), le(head, 0, 2), le(head, 0x5A8C6000, 4);
  le(head, crc, 4), le(head, 0xFFFFFFFF, 4), le(head, 0xFFFFFFFF, 4);
  le(head, bigName.size(), 2), le(head, 20, 2);
  head.insert(head.end(), bigName.begin(), bigName.end());
  le(head, 1, 2), le(head, 16, 2), le(head, kBig, 8), le(head, kBig, 8);
  const uint64_t smallOffset = head.size() + kBig;
  Bytes tail;  // the small member, the directory and the end records
  le(tail, 0x04034B50, 4), le(tail, 20, 2), le(tail, 0, 2), le(tail, 0, 2);
  le(tail, 0x5A8C6000, 4), le(tail, smallCrc, 4), le(tail, small.size(), 4);
  le(tail, small.size(), 4), le(tail, smallName.size(), 2), le(tail, 0, 2);
  tail.insert(tail.end(), smallName.begin(), smallName.end());
  tail.insert(tail.end(), small.begin(), small.end());
  const uint64_t centralOffset = smallOffset + tail.size();
  auto central = [&](const std::string& name, uLong c, uint64_t size, uint64_t offset, bool big) {
    le(tail, 0x02014B50, 4), le(tail, 45, 2), le(tail, 45, 2), le(tail, 0, 2), le(tail, 0, 2);
    le(tail, 0x5A8C6000, 4), le(tail, c, 4);
    le(tail, big ? 0xFFFFFFFF : size, 4), le(tail, big ? 0xFFFFFFFF : size, 4);
    le(tail, name.size(), 2), le(tail, big ? 4 + 24 : 4 + 8, 2), le(tail, 0, 2);
    le(tail, 0, 2), le(tail, 0, 2), le(tail, 0x20, 4), le(tail, 0xFFFFFFFF, 4);
    tail.insert(tail.end(), name.begin(), name.end());
    le(tail, 1, 2), le(tail, big ? 24 : 8, 2);
    if (big) le(tail, size, 8), le(tail, size, 8);
    le(tail, offset, 8);
  };
  central(bigName, crc, kBig, 0, true);
  central(smallName, smallCrc, small.size(), smallOffset, false);
  const uint64_t centralSize = smallOffset + tail.size() - centralOffset;
  const uint64_t end64 = smallOffset + tail.size();
  le(tail, 0x06064B50, 4), le(tail, 44, 8), le(tail, 45, 2), le(tail, 45, 2), le(tail, 0, 4);
  le(tail, 0, 4), le(tail, 2, 8), le(tail, 2, 8), le(tail, centralSize, 8);
  le(tail, centralOffset, 8);
  le(tail, 0x07064B50, 4), le(tail, 0, 4), le(tail, end64, 8), le(tail, 1, 4);
  le(tail, 0x06054B50, 4), le(tail, 0xFFFF, 2), le(tail, 0xFFFF, 2), le(tail, 0xFFFF, 2);
  le(tail, 0xFFFF, 2), le(tail, 0xFFFFFFFF, 4), le(tail, 0xFFFFFFFF, 4), le(tail, 0, 2);
  {
    FILE* f = std::fopen(ArchiveHost().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(head.data(), 1, head.size(), f);
    ASSERT_EQ(fseeko(f, static_cast<off_t>(smallOffset), SEEK_SET), 0);  // the hole
    std::fwrite(tail.data(), 1, tail.size(), f);
    ASSERT_EQ(std::fclose(f), 0);
  }
  UseFile(ArchiveHost());
  const auto listed = Listed();
  EXPECT_EQ(listed.at(bigName), static_cast<int64_t>(kBig));
  EXPECT_EQ(listed.at(smallName), static_cast<int64_t>(small.size()));

  Record();
  EXPECT_EQ(unzip.Extract(), 2);
  ExpectClean();
  EXPECT_EQ(Count("End " + bigName + " pass"), 1);  // the whole member, checksum included
  EXPECT_EQ(fs::file_size(OutHost(bigName)), kBig);
  EXPECT_EQ(Out(smallName), small);
  fs::remove(OutHost(bigName));
}

// ---- exact times --------------------------------------------------------------------------------
// Odd seconds and folder times come back exactly from Info-ZIP's extended timestamp, and to the
// 100 ns from 7-Zip's NTFS times; folders get theirs after their contents are written.
TEST_F(UnZipExtrasTest, ExactTimesOfFilesAndFolders) {
  struct Tool {
    const char* probe;
    const char* command;
    long resolution;  // nanoseconds kept
  } tools[] = {{"zip", "zip -qr ../a.zip .", 1000000000},
               {"7zz", "7zz a -tzip ../a.zip . >/dev/null", 100}};
  int ran = 0;
  for (const Tool& tool : tools) {
    if (!HaveTool(tool.probe)) continue;
    ++ran;
    SCOPED_TRACE(tool.probe);
    fs::remove_all(dir.Host("src"));
    fs::remove_all(dir.Host("out"));
    fs::remove(ArchiveHost());
    dir.WriteFile("src/d/e/f.txt", "file");
    dir.WriteFile("src/g.txt", "top");
    ASSERT_TRUE(
        InDir("cd src && touch -d '2021-03-04 05:06:07.123456789' d/e/f.txt && "
              "touch -d '1999-12-31 23:59:59.5' g.txt && "
              "touch -d '2020-01-02 03:04:05.25' d/e && touch -d '2010-06-07 08:09:11' d"));
    ASSERT_TRUE(InDir(std::string("cd src && ") + tool.command));
    UseFile(ArchiveHost());
    Record();
    EXPECT_EQ(unzip.Extract(), 2);
    ExpectClean();
    for (const char* path : {"d/e/f.txt", "g.txt", "d/e", "d"}) {
      const timespec source = MTime(dir.Host(std::string("src/") + path));
      const timespec out = MTime(OutHost(path));
      EXPECT_EQ(out.tv_sec, source.tv_sec) << path;
      EXPECT_EQ(out.tv_nsec, source.tv_nsec / tool.resolution * tool.resolution) << path;
    }
    // The lister shows the times extraction sets.
    const std::map<std::string, TExactTime> listed = ListedTimes();
    for (const char* name : {"d\\e\\f.txt", "g.txt"}) {
      ASSERT_EQ(listed.count(name), 1u) << name;
      std::string path = name;
      std::replace(path.begin(), path.end(), '\\', '/');
      const timespec source = MTime(dir.Host("src/" + path));
      EXPECT_EQ(listed.at(name).Seconds, source.tv_sec) << name;
      EXPECT_EQ(listed.at(name).Nanoseconds, source.tv_nsec / tool.resolution * tool.resolution)
          << name;
    }
  }
  if (ran == 0) GTEST_SKIP() << "neither zip nor 7zz is installed";
}

// Which time wins where the headers disagree: NTFS over the extended timestamp in one field, the
// local header's over the directory's; the lister shows what extraction sets.
TEST_F(UnZipExtrasTest, TheListedTimeIsTheTimeExtractionSets) {
  const auto unixTime = [](uint32_t seconds) {
    Bytes b = {0x55, 0x54, 5, 0, 1};
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(seconds >> (8 * i)));
    return b;
  };
  const auto ntfsTime = [](uint64_t seconds, uint32_t ticks) {
    const uint64_t value = (seconds + 11644473600ull) * 10000000ull + ticks;
    Bytes b = {0x0A, 0x00, 32, 0, 0, 0, 0, 0, 1, 0, 24, 0};
    for (int field = 0; field < 3; ++field)
      for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return b;
  };
  const auto join = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  ZipBuilder b;
  ZipMember both = Stored("both.txt", "1");  // the local header's NTFS time wins over all
  both.localExtra = join(unixTime(1000000001), ntfsTime(1200000003, 1234567));
  both.centralExtra = unixTime(1300000005);
  ZipMember central = Stored("central.txt", "2");  // only the directory has one
  central.centralExtra = join(ntfsTime(1400000007, 7), unixTime(1500000009));
  ZipMember dos = Stored("dos.txt", "3");  // neither: the DOS time
  b.Add(both).Add(central).Add(dos);
  Use(b);
  EXPECT_EQ(unzip.Extract(), 3);
  const std::map<std::string, TExactTime> listed = ListedTimes();
  const struct {
    const char* name;
    int64_t seconds;
    uint32_t nanoseconds;
  } expected[] = {{"both.txt", 1200000003, 123456700}, {"central.txt", 1400000007, 700}};
  for (const auto& e : expected) {
    ASSERT_EQ(listed.count(e.name), 1u) << e.name;
    EXPECT_EQ(listed.at(e.name).Seconds, e.seconds) << e.name;
    EXPECT_EQ(listed.at(e.name).Nanoseconds, e.nanoseconds) << e.name;
    const timespec out = MTime(OutHost(e.name));
    EXPECT_EQ(out.tv_sec, e.seconds) << e.name;
    EXPECT_EQ(out.tv_nsec, static_cast<long>(e.nanoseconds)) << e.name;
  }
  EXPECT_EQ(listed.count("dos.txt"), 0u);
}

// Without the fields the design's DOS date-time stays: whole even seconds in local time.
TEST_F(UnZipExtrasTest, WithoutTimeFieldsTheDosTimeStays) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  dir.WriteFile("src/f.txt", "file");
  ASSERT_TRUE(InDir("cd src && touch -d '2021-03-04 05:06:07.9' f.txt && zip -qX ../a.zip f.txt"));
  UseFile(ArchiveHost());
  EXPECT_EQ(unzip.Extract(), 1);
  const timespec out = MTime(OutHost("f.txt"));
  EXPECT_EQ(out.tv_nsec, 0);
  EXPECT_EQ(out.tv_sec % 2, 0);
  EXPECT_LE(std::abs(out.tv_sec - MTime(dir.Host("src/f.txt")).tv_sec), 2);
}

// ---- symbolic links ------------------------------------------------------------------------------
TEST(SymlinkStaysInside, ResolvedFromTheLinksFolder) {
  struct Case {
    const char* link;
    const char* target;
    bool inside;
  } cases[] = {
      {"l", "a.txt", true},       {"l", "sub/x", true},         {"l", "./a", true},
      {"d\\l", "../a.txt", true}, {"d\\e\\l", "../../a", true}, {"l", "..", false},
      {"l", "../x", false},       {"d\\l", "../../x", false},   {"l", "/etc/passwd", false},
      {"l", "", false},           {"d\\l", "e/../../a", false}, {"l", "sub/../a", false},
      {"d\\\\l", "../a", true},   {"l", "a//b", true},          {"d\\l", "./../a", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SymlinkStaysInside(c.link, c.target), c.inside) << c.link << " -> " << c.target;
}

// A link that leads to itself or below itself, directly or through links made before it, can
// never be resolved by the system.
TEST(SymlinkOnlyLoops, ItselfBelowItselfAndThroughEarlierLinks) {
  const std::vector<TLinkMade> none;
  struct Case {
    const char* link;
    const char* target;
    bool loops;
  } cases[] = {
      {"d", "d", true},          {"d", "./d", true},       {"d", "d/x", true},
      {"x\\d", "../x/d", true}, {"x\\d", "d", true},      {"x\\d", "..", false},
      {"d", "e", false},         {"d", "dd", false},       {"x\\d", "../d", false},
      {"d\\", "d", true},       {"x\\\\d", "d/e", true},  {"d", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SymlinkOnlyLoops(c.link, SymlinkLeadsTo(c.link, c.target), none), c.loops)
        << c.link << " -> " << c.target;
  }
  // Through links made before: a -> b exists, so b -> a, b -> a/x and c\\l -> ../a loop or not.
  const std::vector<TLinkMade> made = {{"a", "b"}, {"s", ""}};
  EXPECT_TRUE(SymlinkOnlyLoops("b", "a", made));
  EXPECT_TRUE(SymlinkOnlyLoops("b", "a\\x", made));
  EXPECT_FALSE(SymlinkOnlyLoops("c", "a", made));
  EXPECT_TRUE(SymlinkOnlyLoops("c", "s\\c", made));  // s leads to the destination itself
  EXPECT_FALSE(SymlinkOnlyLoops("c", "s\\e", made));
}

// A member stored as a Unix symbolic link to `target`.
ZipMember LinkMember(const std::string& name, const std::string& target) {
  ZipMember m = Stored(name, target);
  m.versionMadeBy = (3 << 8) | 30;
  m.externalAttributes = 0120777u << 16;
  return m;
}

// The extract fuzzer's extract-self-loop-link: a member "d" stored as a link to "d". The link is
// refused with a clear report; the members around it come out as ever. So is a pair of links that
// lead to each other (the second one) and a link to a place below itself.
TEST_F(UnZipExtrasTest, FuzzFindingALinkThatCanOnlyLoopIsRefused) {
  ZipBuilder b;
  b.AddStored("a.txt", "A").Add(LinkMember("d", "d")).Add(LinkMember("p", "q")).Add(LinkMember("q", "p"));
  b.Add(LinkMember("sub/l", "../sub/l/x")).Add(LinkMember("ok", "a.txt")).AddStored("z.txt", "Z");
  Use(b);
  Record();
  EXPECT_EQ(unzip.Extract(), 4);  // a.txt, p, ok, z.txt
  EXPECT_FALSE(fs::is_symlink(OutHost("d")));
  EXPECT_EQ(fs::read_symlink(OutHost("p")), "q");
  EXPECT_FALSE(fs::is_symlink(OutHost("q")));
  EXPECT_FALSE(fs::is_symlink(OutHost("sub/l")));
  EXPECT_EQ(Out("ok"), "A");
  EXPECT_EQ(Out("z.txt"), "Z");
  EXPECT_EQ(Count("Error 25245 d"), 1);
  EXPECT_EQ(Count("Error 25245 q"), 1);
  EXPECT_EQ(Count("Error 25245 sub\\l"), 1);
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) {
                            return line.find("leads back to itself") != std::string::npos;
                          }),
            3);
  EXPECT_EQ(Count("Error"), 3);
  EXPECT_EQ(unzip.FailedCount(), 3);
}

// The extract fuzzer's crash-ccae8c36: a member listed as the folder "sub/" whose directory entry
// says it is a link to "../a.txt". Judged from inside sub the target stayed in the destination;
// made as "sub" beside it, the link led out of it. A link named as a folder is a folder entry.
TEST_F(UnZipExtrasTest, FuzzFindingALinkNamedAsAFolderIsAFolderEntry) {
  ZipBuilder b;
  b.AddStored("a.txt", "A").Add(LinkMember("sub/", "../a.txt"));
  b.Add(LinkMember("d/up/", "../../x")).AddStored("z.txt", "Z");
  Use(b);
  Record();
  EXPECT_EQ(unzip.Extract(), 2);  // a.txt and z.txt
  EXPECT_FALSE(fs::exists(fs::symlink_status(OutHost("sub"))));  // (stored folders are not made)
  for (const auto& e : fs::recursive_directory_iterator(dir.Host("out")))
    EXPECT_FALSE(e.is_symlink()) << e.path();
  EXPECT_EQ(Out("z.txt"), "Z");
}

// The extract fuzzer's crash-9c143b85: a member "in" whose mode says link to "a.txt" and whose
// attributes say folder. The lister shows a folder, so it is one here too, not a link.
TEST_F(UnZipExtrasTest, FuzzFindingALinkMarkedAsAFolderIsAFolderEntry) {
  ZipMember marked = LinkMember("in", "a.txt");
  marked.externalAttributes |= 0x10;
  ZipBuilder b;
  b.AddStored("a.txt", "A").Add(marked).AddStored("z.txt", "Z");
  Use(b);
  Record();
  EXPECT_EQ(unzip.Extract(), 2);  // a.txt and z.txt
  EXPECT_FALSE(fs::exists(fs::symlink_status(OutHost("in"))));  // (stored folders are not made)
  EXPECT_EQ(Count("Error"), 0);
}

// Links made by Info-ZIP zip -y: those that stay inside come back as links; the others are reported
// and not made, never as a file holding the target's text.
TEST_F(UnZipExtrasTest, SymlinksInsideAreMadeOthersReported) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  dir.WriteFile("src/a.txt", "A");
  dir.WriteFile("src/sub/deep/b.txt", "B");
  ASSERT_TRUE(InDir(
      "cd src && ln -s a.txt in_file && ln -s sub in_dir && ln -s ../../a.txt sub/deep/up_ok && "
      "ln -s ../../../etc/passwd sub/deep/up_out && ln -s /etc/passwd absolute && "
      "zip -qry ../a.zip ."));
  UseFile(ArchiveHost());
  Record();
  EXPECT_EQ(unzip.Extract(), 5);  // a.txt, b.txt and the three links that stay inside
  EXPECT_EQ(fs::read_symlink(OutHost("in_file")), "a.txt");
  EXPECT_EQ(fs::read_symlink(OutHost("in_dir")), "sub");
  EXPECT_EQ(fs::read_symlink(OutHost("sub/deep/up_ok")), "../../a.txt");
  EXPECT_EQ(Out("in_file"), "A");
  EXPECT_FALSE(OutExists("sub/deep/up_out"));
  EXPECT_FALSE(OutExists("absolute"));
  EXPECT_EQ(Count("Error 25245 sub\\deep\\up_out"), 1);
  EXPECT_EQ(Count("Error 25245 absolute"), 1);
  EXPECT_EQ(Count("Error"), 2);

  // Testing reads and checks the links, makes none, and refuses what extraction refuses.
  fs::remove_all(dir.Host("out"));
  log.clear();
  unzip.SetTestOnly(true);
  EXPECT_EQ(unzip.Extract(), 5);
  EXPECT_EQ(Count("Error 25245 sub\\deep\\up_out"), 1);
  EXPECT_EQ(Count("Error 25245 absolute"), 1);
  EXPECT_EQ(Count("Error"), 2);
  EXPECT_FALSE(fs::exists(dir.Host("out")));
}

// 7-Zip stores links (-snl) with Unix modes and NTFS times: the same rules hold.
TEST_F(UnZipExtrasTest, SymlinksFrom7Zip) {
  if (!HaveTool("7zz")) GTEST_SKIP() << "7zz is not installed";
  dir.WriteFile("src/d/f.txt", "F");
  ASSERT_TRUE(
      InDir("cd src && ln -s f.txt d/l && ln -s ../../x d/out && "
            "7zz a -tzip -snl ../a.zip d"));
  UseFile(ArchiveHost());
  Record();
  EXPECT_EQ(unzip.Extract(), 2);
  EXPECT_EQ(fs::read_symlink(OutHost("d/l")), "f.txt");
  EXPECT_FALSE(OutExists("d/out"));
  EXPECT_EQ(Count("Error 25245 d\\out"), 1);
}

// Nothing is written through a link the run made, even one that stays inside: a member below it
// is reported and left out, and a member of the link's own name replaces the link.
TEST_F(UnZipExtrasTest, NothingIsWrittenThroughALinkTheRunMade) {
  ZipBuilder b;
  b.AddStored("sub/keep.txt", "K").Add(LinkMember("ln", "sub")).AddStored("ln/x.txt", "through");
  b.Add(LinkMember("again", "sub")).AddStored("again", "a file now");
  Use(b);
  Record();
  EXPECT_EQ(unzip.Extract(), 4);
  EXPECT_EQ(fs::read_symlink(OutHost("ln")), "sub");
  EXPECT_FALSE(OutExists("sub/x.txt"));
  EXPECT_EQ(Count("Error 25245 ln\\x.txt"), 1);
  EXPECT_FALSE(fs::is_symlink(OutHost("again")));
  EXPECT_EQ(Out("again"), "a file now");
  EXPECT_EQ(Out("sub/keep.txt"), "K");
}

// A link's data is its target: a damaged one fails its checksum and no link is made from it.
TEST_F(UnZipExtrasTest, DamagedLinkTargetMakesNoLink) {
  ZipMember link = Stored("ln", "a.txt");
  link.versionMadeBy = (3 << 8) | 30;
  link.externalAttributes = 0120777u << 16;
  link.crcOverride = 0x12345678;
  ZipBuilder b;
  b.AddStored("a.txt", "A").Add(link);
  Use(b);
  Record();
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_FALSE(OutExists("ln"));
  EXPECT_EQ(Count("End ln FAIL"), 1);
}

// ---- Unicode Path --------------------------------------------------------------------------------
// The UTF-8 name of a 0x7075 subfield names the member when its CRC matches the stored name (a
// Windows writer stores "?" for characters the OEM code page lacks); otherwise the stored name.
TEST_F(UnZipExtrasTest, UnicodePathNamesTheMember) {
  auto unicodePath = [](const std::string& stored, const std::string& utf8, uint32_t crcDelta) {
    Bytes field = {0x75, 0x70};
    const size_t size = 5 + utf8.size();
    field.push_back(static_cast<uint8_t>(size));
    field.push_back(static_cast<uint8_t>(size >> 8));
    field.push_back(1);
    const uint32_t crc = ziptest::Crc32(ziptest::ToBytes(stored)) + crcDelta;
    for (int i = 0; i < 4; ++i) field.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    field.insert(field.end(), utf8.begin(), utf8.end());
    return field;
  };
  const std::string japanese = "\xe6\x97\xa5\xe6\x9c\xac.txt";  // "日本.txt"
  ZipMember good = Stored("??.txt", "good");
  good.localExtra = good.centralExtra = unicodePath("??.txt", japanese, 0);
  ZipMember stale = Stored("stale.txt", "stale");
  stale.localExtra = stale.centralExtra = unicodePath("other.txt", "wrong.txt", 0);
  ZipMember dir8 = Stored("d?/f.txt", "in a folder");
  dir8.centralExtra = unicodePath("d?/f.txt", "d\xc3\xa9/f.txt", 0);  // central only: "dé/f.txt"
  ZipBuilder b;
  b.Add(good).Add(stale).Add(dir8);
  Use(b);
  Record();
  EXPECT_EQ(unzip.Extract(), 3);
  ExpectClean();
  EXPECT_EQ(Out(japanese), "good");
  EXPECT_EQ(Out("stale.txt"), "stale");
  EXPECT_EQ(Out("d\xc3\xa9/f.txt"), "in a folder");
  const auto listed = Listed();
  EXPECT_EQ(listed.count(japanese), 1u);
  EXPECT_EQ(listed.count("stale.txt"), 1u);
  EXPECT_EQ(listed.count("d\xc3\xa9\\f.txt"), 1u);
}

}  // namespace
