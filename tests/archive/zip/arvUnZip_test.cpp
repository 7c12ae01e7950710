// The zip extractor: the directory walks, the local-header walk with data descriptors, names,
// methods, encryption, enciphered headers, split sets, and real archives made by Info-ZIP zip and
// 7-Zip (skipped when the tool is missing), checked byte for byte, with dates and permissions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/seams.h"
#include "support/ExtractFixture.h"
#include "support/MiniZip.h"

namespace {

using namespace extracttest;
namespace fs = std::filesystem;

class UnZipTest : public ExtractTest {};

// ---- walks and headers (archives built in memory) -----------------------------------------------
TEST_F(UnZipTest, DeflatedMembersFollowingStoredOnes) {
  const Bytes big = Pattern(200000);
  ZipBuilder b;
  b.AddStored("s.txt", "stored").Add(Deflated("d.bin", big));
  ZipMember empty = Deflated("empty.bin", {});
  b.Add(empty);
  Use(b);
  Record();
  EXPECT_EQ(unzip.Extract(), 3);
  EXPECT_EQ(Count("End") - Count("End d.bin pass") - Count("End s.txt pass") -
                Count("End empty.bin pass"),
            0);
  EXPECT_TRUE(Out("d.bin") == std::string(big.begin(), big.end()));
  EXPECT_EQ(Out("empty.bin"), "");
}

TEST_F(UnZipTest, LocalHeaderModeTakesMethodsFromEachLocalHeader) {
  const Bytes big = Pattern(70000, 7);
  ZipBuilder b;
  b.AddStored("first.txt", "plain").Add(Deflated("second.bin", big)).SpanMarker();
  b.NoCentralDirectory().NoEndRecord();
  Use(b);
  Record();
  THeaderTypeState seen = 0;
  unzip.OnCorruptZipHeader = [&](TObject*, THeaderTypeState flag, bool& cancel) {
    seen = flag;
    EXPECT_TRUE(cancel);
    cancel = false;
  };
  EXPECT_EQ(unzip.Extract(), 2);
  EXPECT_EQ(seen, kHeaderLocal);
  EXPECT_EQ(Out("first.txt"), "plain");
  EXPECT_TRUE(Out("second.bin") == std::string(big.begin(), big.end()));

  unzip.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool&) {};  // leaves Cancel true
  EXPECT_EQ(unzip.Extract(), 0);
}

TEST_F(UnZipTest, LocalDescriptorsAreFollowedAndOthersEndTheWalk) {
  // Deflated with zero sizes and a signed descriptor, deflated with an unsigned one, an empty
  // stored member with a descriptor, then a stored member with zero sizes that cannot be walked.
  const Bytes one = Pattern(50000, 3), two = Pattern(3000, 4);
  auto withDescriptor = [](ZipMember m, const Bytes& plain, bool signature) {
    m.flags |= 0x0008;
    m.localSizesZero = 0;
    m.localCrcOverride = 0;
    Bytes d;
    auto put32 = [&d](uint32_t v) {
      for (int i = 0; i < 4; ++i) d.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    if (signature) put32(0x08074B50);
    put32(ziptest::Crc32(plain));
    put32(static_cast<uint32_t>(m.data.size()));
    put32(static_cast<uint32_t>(plain.size()));
    m.trailer = d;
    return m;
  };
  ZipBuilder b;
  b.Add(withDescriptor(Deflated("one.bin", one), one, true))
      .Add(withDescriptor(Deflated("two.bin", two), two, false))
      .Add(withDescriptor(Stored("empty", ""), {}, true))
      .Add(withDescriptor(Stored("lost.txt", "lost"), ziptest::ToBytes("lost"), true))
      .AddStored("after.txt", "never reached");
  b.NoCentralDirectory().NoEndRecord();
  Use(b);
  Record();
  EXPECT_EQ(unzip.Extract(), 3);
  EXPECT_TRUE(Out("one.bin") == std::string(one.begin(), one.end()));
  EXPECT_TRUE(Out("two.bin") == std::string(two.begin(), two.end()));
  EXPECT_EQ(Out("empty"), "");
  EXPECT_EQ(Count("Error 25114 lost.txt"), 1);
  EXPECT_EQ(Count("End"), 3);
  EXPECT_EQ(Count("FAIL"), 0);
  EXPECT_FALSE(OutExists("lost.txt"));
  EXPECT_FALSE(OutExists("after.txt"));
}

TEST_F(UnZipTest, CentralModeUsesTheCentralCrcWhenTheLocalOneIsZero) {
  ZipMember m = Deflated("dd.bin", Pattern(1000));
  m.flags = 0x0008;
  m.localCrcOverride = 0;
  ZipBuilder b;
  b.Add(m);
  Use(b);
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_TRUE(log.empty());
}

TEST_F(UnZipTest, LongNamesAreKeptWholeNeverCut) {
  // Two long paths that share their first 255 bytes are two files; a path of several kilobytes
  // comes out whole; one component longer than the file system allows is an error for that member,
  // never a shorter name.
  const std::string shared = std::string(200, 'd') + "/" + std::string(100, 'e');
  std::string deep;
  for (int level = 0; level < 20; ++level) deep += std::string(150, char('a' + level % 26)) + "/";
  ZipBuilder b;
  b.AddStored(shared + "/one.txt", "one")
      .AddStored(shared + "/two.txt", "two")
      .AddStored(deep + "deep.txt", "deep")
      .AddStored(std::string(300, 'n'), "long")
      .AddStored("next.txt", "next");
  Use(b);
  RecordErrors();
  unzip.SetCreateStoredDirs(true);
  EXPECT_EQ(unzip.Extract(), 4);
  EXPECT_EQ(Out(shared + "/one.txt"), "one");
  EXPECT_EQ(Out(shared + "/two.txt"), "two");
  EXPECT_EQ(Out(deep + "deep.txt"), "deep");
  EXPECT_EQ(Out("next.txt"), "next");
  EXPECT_EQ(log, (std::vector<std::string>{"Error 25235 " + std::string(300, 'n') +
                                           " [File name too long]"}));
  for (const std::string& path : Tree())
    for (size_t start = 0, end; start < path.size(); start = end + 1) {
      end = std::min(path.find('/', start), path.size());
      EXPECT_NE(end - start, 255u) << "a cut component in " << path.substr(0, 40);
    }
}

TEST_F(UnZipTest, MembersGoingBackAndForthBetweenFoldersLandWhereTheyBelong) {
  // The folders walked for one member are kept for the next; members that leave a folder and come
  // back, go deeper and climb out again must each land in their own folder, and the run must let
  // go of every folder it held.
  ZipBuilder b;
  b.AddStored("a/b/c/one.txt", "1")
      .AddStored("a/b/two.txt", "2")
      .AddStored("x/three.txt", "3")
      .AddStored("a/b/c/d/four.txt", "4")
      .AddStored("a/five.txt", "5")
      .AddStored("a/b/c/", "")
      .AddStored("six.txt", "6")
      .AddStored("a/b/c/seven.txt", "7");
  Use(b);
  unzip.SetCreateStoredDirs(true);
  size_t before = 0;
  for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
    ++before;
  EXPECT_EQ(unzip.Extract(), 7);  // the stored folder is made, not counted
  size_t after = 0;
  for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
    ++after;
  EXPECT_EQ(after, before);
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(OutHost("")))
    if (e.is_regular_file())
      files.push_back(std::filesystem::relative(e.path(), OutHost("")).string() + "=" +
                      Out(std::filesystem::relative(e.path(), OutHost("")).string()));
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"a/b/c/d/four.txt=4", "a/b/c/one.txt=1",
                                             "a/b/c/seven.txt=7", "a/b/two.txt=2", "a/five.txt=5",
                                             "six.txt=6", "x/three.txt=3"}));
}

TEST_F(UnZipTest, MissingLocalHeaderIsABadFileHeaderForThatMemberOnly) {
  ZipBuilder b;
  b.AddStored("good.txt", "g").AddStored("bad.txt", "b");
  Bytes bytes = b.Build();
  bytes[b.Layout().localOffsets[1]] = 'X';
  ASSERT_TRUE(minizip::WriteFile(ArchiveHost(), bytes));
  UseFile(ArchiveHost());
  Record();
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_EQ(Count("Error 25114 bad.txt"), 1);
  EXPECT_EQ(Out("good.txt"), "g");
}

TEST_F(UnZipTest, TheListedNameIsWrittenNotTheLocalHeadersOne) {
  // The central directory lists readme.txt and notes1.txt; readme.txt's local header says
  // .bashrc.xy. (Two entries naming that one header would be refused as overlapping.)
  ZipBuilder b;
  b.AddStored("readme.txt", "same").AddStored("notes1.txt", "same");
  Bytes bytes = b.Build();
  const ziptest::ZipLayout layout = b.Layout();
  const std::string evil = ".bashrc.xy";
  std::copy(evil.begin(), evil.end(),
            bytes.begin() + static_cast<long>(layout.localOffsets[0]) + 30);
  ASSERT_TRUE(minizip::WriteFile(ArchiveHost(), bytes));
  UseFile(ArchiveHost());
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 2);
  EXPECT_EQ(Out("readme.txt"), "same");
  EXPECT_EQ(Out("notes1.txt"), "same");
  EXPECT_FALSE(OutExists(evil));
  EXPECT_EQ(
      log,
      (std::vector<std::string>{"Error 25114 readme.txt [the local header names it .bashrc.xy]"}));
}

TEST_F(UnZipTest, ADamagedDirectoryIsSaidAndItsLostMembersRecovered) {
  ZipBuilder b;
  for (int i = 1; i <= 5; ++i)
    b.Add(i % 2 ? Deflated("m" + std::to_string(i) + ".bin", Pattern(3000, i))
                : Stored("m" + std::to_string(i) + ".txt", "member " + std::to_string(i)));
  Bytes bytes = b.Build();
  // One changed byte: the second central header's signature.
  bytes[b.Layout().centralOffset + 46 + 6] ^= 0xFF;
  ASSERT_TRUE(minizip::WriteFile(ArchiveHost(), bytes));
  UseFile(ArchiveHost());
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 5);
  EXPECT_TRUE(unzip.DirectoryDamaged());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("Error 25104"), std::string::npos);
  EXPECT_NE(log[0].find("holds 1 of 5 entries"), std::string::npos) << log[0];
  for (int i = 2; i <= 5; i += 2)
    EXPECT_EQ(Out("m" + std::to_string(i) + ".txt"), "member " + std::to_string(i));
  const Bytes m5 = Pattern(3000, 5);
  EXPECT_TRUE(Out("m5.bin") == std::string(m5.begin(), m5.end()));

  // An end record that announces more entries than there are: said, whatever else is found.
  ZipBuilder few;
  few.AddStored("a.txt", "a").AddStored("b.txt", "b").AddStored("c.txt", "c");
  few.TotalEntriesOverride(65535);
  Use(few);
  log.clear();
  EXPECT_EQ(unzip.Extract(), 3);
  EXPECT_TRUE(unzip.DirectoryDamaged());
  EXPECT_EQ(Count("Error 25104"), 1);

  // A whole directory is not damaged.
  ZipBuilder whole;
  whole.AddStored("a.txt", "a");
  Use(whole);
  log.clear();
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_FALSE(unzip.DirectoryDamaged());
  EXPECT_TRUE(log.empty());
}

TEST_F(UnZipTest, ADeclaredSizeLargerThanTheDataIsAFailure) {
  // The checksum of what is there matches; the member still promised more than it holds.
  ZipMember shortMember = Deflated("short.bin", Pattern(5000));
  shortMember.unpackedSizeOverride = 6000;
  ZipBuilder b;
  b.Add(shortMember).AddStored("ok.txt", "ok");
  Use(b);
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_EQ(log, std::vector<std::string>{"Error 25236 short.bin"});
  EXPECT_EQ(unzip.FailedCount(), 1);
}

TEST_F(UnZipTest, EncipheredHeadersStubsAndAlternativeSignatures) {
  ZipMember ciphered = Stored("hidden.txt", "in a PL header");
  ciphered.encipheredHeader = true;
  ZipMember pm = Deflated("pm.bin", Pattern(5000));
  pm.altSignature = true;
  ZipBuilder b;
  b.Prefix(Bytes(3000, 0x90), true).Add(ciphered).Add(pm);
  Use(b);
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 2);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(Out("hidden.txt"), "in a PL header");
}

TEST_F(UnZipTest, EncryptedDeflatedMembersAreDecipheredBeforeInflating) {
  const Bytes plain = Pattern(150000, 9);
  ZipMember m = Deflated("secret.bin", plain);
  m.password = "pw";
  ZipBuilder b;
  b.Add(m);
  Use(b);
  unzip.Passwords().Add("pw");
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(Out("secret.bin") == std::string(plain.begin(), plain.end()));
}

TEST_F(UnZipTest, CancelDuringInflateStopsAfterTheBlock) {
  const Bytes big = Pattern(3 * TUnZip::kInflateOutputSize, 11);
  ZipBuilder b;
  b.Add(Deflated("big.bin", big)).AddStored("next.txt", "n");
  Use(b);
  Record();
  unzip.OnProgress = [this](TObject*, uint8_t, uint8_t) { unzip.SetCancel(true); };
  EXPECT_EQ(unzip.Extract(), 0);
  EXPECT_FALSE(OutExists("big.bin"));  // cut short: not left looking whole
  EXPECT_FALSE(OutExists("next.txt"));
  EXPECT_EQ(Count("End big.bin FAIL"), 1);
}

TEST_F(UnZipTest, CorruptDeflateDataFailsItsChecksumOnly) {
  ZipMember broken = Deflated("broken.bin", Pattern(40000));
  for (size_t i = 10; i < broken.data.size(); i += 7) broken.data[i] ^= 0x5A;
  ZipBuilder b;
  b.Add(broken).AddStored("ok.txt", "ok");
  Use(b);
  Record();
  EXPECT_EQ(unzip.Extract(), 1);  // the broken member is neither kept nor counted
  EXPECT_EQ(Count("End broken.bin FAIL"), 1);
  EXPECT_EQ(Count("End ok.txt pass"), 1);
  EXPECT_FALSE(OutExists("broken.bin"));
}

TEST_F(UnZipTest, NamesConvertFromOemOnlyWhenTheyAreOemText) {
  ZipMember dos = Stored(
      "\x81"
      "ber.txt",
      "dos");  // 0x81 is u-umlaut in code page 437
  ZipMember utf8 = Stored("caf\xC3\xA9.txt", "utf8");
  utf8.flags = 0x0800;
  ZipMember unixMade = Stored("na\xC3\xAFve.txt", "unix");
  unixMade.versionMadeBy = 0x0314;
  ZipBuilder b;
  b.Add(dos).Add(utf8).Add(unixMade);
  Use(b);
  EXPECT_EQ(unzip.Extract(), 3);
  EXPECT_EQ(Out("\xC3\xBC"
                "ber.txt"),
            "dos");
  EXPECT_EQ(Out("caf\xC3\xA9.txt"), "utf8");
  EXPECT_EQ(Out("na\xC3\xAFve.txt"), "unix");
  EXPECT_TRUE(ZipNameIsOem(0, 0x0B14));
  EXPECT_FALSE(ZipNameIsOem(0, 0x0714));
  EXPECT_TRUE(ZipNameIsOem(0, -1));
}

// ---- real archives made by other tools ----------------------------------------------------------
// A tree of files with known contents, dates and permissions.
class RealArchiveTest : public ExtractTest {
 protected:
  void SetUp() override {
    if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
    src = dir.Host("src");
    fs::create_directories(src + "/sub/deeper");
    fs::create_directories(src + "/emptydir");
    const Bytes text = Pattern(300000, 5);
    Bytes random(120000);
    uint64_t x = 88172645463325252ull;
    for (auto& byte : random) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      byte = static_cast<uint8_t>(x);
    }
    ASSERT_TRUE(minizip::WriteFile(src + "/text.txt", text));
    ASSERT_TRUE(minizip::WriteFile(src + "/sub/random.bin", random));
    ASSERT_TRUE(minizip::WriteFile(src + "/sub/deeper/empty", {}));
    ASSERT_TRUE(minizip::WriteFile(src + "/run.sh", ziptest::ToBytes("#!/bin/sh\necho hi\n")));
    fs::permissions(src + "/run.sh", fs::perms(0755));
    ASSERT_EQ(Shell("cd '" + src +
                    "' && touch -d '2021-03-04 05:06:08' text.txt run.sh "
                    "sub/random.bin sub/deeper/empty"),
              0);
  }

  // Every file of the source is in `out` byte for byte, with its date and permission bits.
  void ExpectSameTree(const std::string& out, bool checkMode = true) {
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(src)) {
      const std::string rel = fs::relative(e.path(), src).string();
      const std::string copy = out + "/" + rel;
      if (e.is_directory()) {
        EXPECT_TRUE(fs::is_directory(copy)) << rel;
        continue;
      }
      ++files;
      ASSERT_TRUE(fs::exists(copy)) << rel;
      EXPECT_TRUE(ReadHostFile(copy) == ReadHostFile(e.path())) << rel;
      struct stat a {
      }, b{};
      ::stat(e.path().c_str(), &a);
      ::stat(copy.c_str(), &b);
      EXPECT_EQ(a.st_mtime, b.st_mtime) << rel;
      if (checkMode) {
        EXPECT_EQ(a.st_mode & 0777, b.st_mode & 0777) << rel;
      }
    }
    EXPECT_EQ(files, 4);
  }

  int Zip(const std::string& options, const std::string& archive = "a.zip") {
    return Shell("cd '" + src + "' && zip -q " + options + " '" + dir.Host(archive) +
                 "' -r . >/dev/null");
  }

  std::string src;
};

TEST_F(RealArchiveTest, StoredAndDeflatedAtEveryLevel) {
  for (const std::string level : {"-0", "-1", "-6", "-9"}) {
    fs::remove(ArchiveHost());
    fs::remove_all(dir.Host("out"));
    ASSERT_EQ(Zip(level), 0);
    UseFile(ArchiveHost());
    unzip.SetCreateStoredDirs(true);
    RecordErrors();
    EXPECT_EQ(unzip.Extract(), 4) << level;
    EXPECT_TRUE(log.empty()) << level << ": " << log[0];
    ExpectSameTree(dir.Host("out"));
  }
}

TEST_F(RealArchiveTest, PasswordCommentsAndComments) {
  ASSERT_EQ(Shell("cd '" + src + "' && echo 'archive comment' | zip -q -z -P s3cret '" +
                  ArchiveHost() + "' -r . >/dev/null"),
            0);
  UseFile(ArchiveHost());
  unzip.SetCreateStoredDirs(true);
  unzip.Passwords().Add("s3cret");
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 4);
  EXPECT_TRUE(log.empty());
  ExpectSameTree(dir.Host("out"));
}

TEST_F(RealArchiveTest, WrittenToAPipeWithAndWithoutItsDirectory) {
  ASSERT_EQ(Shell("cd '" + src + "' && zip -q -r - . | cat > '" + ArchiveHost() + "'"), 0);
  UseFile(ArchiveHost());
  unzip.SetCreateStoredDirs(true);
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 4);
  EXPECT_TRUE(log.empty());
  ExpectSameTree(dir.Host("out"));

  // Without the central directory every member still comes out with its real content; local
  // headers carry no attributes, so permissions are not compared.
  Bytes bytes = *minizip::ReadFile(ArchiveHost());
  const auto cut = std::search(bytes.begin(), bytes.end(), std::begin("PK\x01\x02"),
                               std::begin("PK\x01\x02") + 4);
  bytes.erase(cut, bytes.end());
  ASSERT_TRUE(minizip::WriteFile(dir.Host("nocd.zip"), bytes));
  fs::remove_all(dir.Host("out"));
  UseFile(dir.Host("nocd.zip"));
  unzip.SetCreateStoredDirs(true);
  ASSERT_TRUE(IsLocalHeaderMode(unzip.HeaderState()));
  EXPECT_EQ(unzip.Extract(), 4);
  // Said once, not hidden: the directory is gone, what the local headers hold may not be all.
  const std::string notice = "Error 25104 " + dir.System("nocd.zip") +
                             " [no central directory: members are read from their local headers]";
  EXPECT_EQ(log, std::vector<std::string>{notice});
  EXPECT_TRUE(unzip.DirectoryMissing());
  ExpectSameTree(dir.Host("out"), false);

  // The same with encryption: the descriptors are found by their signature.
  ASSERT_EQ(Shell("cd '" + src + "' && zip -q -P pw -r - . | cat > '" + dir.Host("p.zip") + "'"),
            0);
  bytes = *minizip::ReadFile(dir.Host("p.zip"));
  bytes.erase(std::search(bytes.begin(), bytes.end(), std::begin("PK\x01\x02"),
                          std::begin("PK\x01\x02") + 4),
              bytes.end());
  ASSERT_TRUE(minizip::WriteFile(dir.Host("p.zip"), bytes));
  fs::remove_all(dir.Host("out"));
  UseFile(dir.Host("p.zip"));
  unzip.Passwords().Add("pw");
  log.clear();
  EXPECT_EQ(unzip.Extract(), 4);
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(Count("Error 25104"), 1);
  ExpectSameTree(dir.Host("out"), false);
}

TEST_F(RealArchiveTest, SplitSetsAskForEachVolume) {
  // Enough incompressible data for several 64 KiB volumes.
  Bytes random(300000);
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (auto& byte : random) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    byte = static_cast<uint8_t>(x >> 24);
  }
  ASSERT_TRUE(minizip::WriteFile(src + "/sub/random.bin", random));
  ASSERT_EQ(Shell("touch -d '2021-03-04 05:06:08' '" + src + "/sub/random.bin'"), 0);
  ASSERT_EQ(Zip("-s 64k -0"), 0);
  ASSERT_EQ(Zip("-s 64k -6", "d.zip"), 0);
  ASSERT_TRUE(fs::exists(dir.Host("a.z01")));
  for (const std::string archive : {"a.zip", "d.zip"}) {
    fs::remove_all(dir.Host("out"));
    UseFile(dir.Host(archive));
    ASSERT_EQ(unzip.ArcType(), atZipMV);
    unzip.SetCreateStoredDirs(true);
    RecordErrors();
    std::vector<std::string> asked;
    unzip.OnNextVolume = [&](TObject*, std::string& name, const std::string& id, bool exists,
                             bool& cancel) {
      asked.push_back(id + " " + name.substr(name.size() - 3));
      EXPECT_TRUE(exists);
      cancel = false;
    };
    EXPECT_EQ(unzip.Extract(), 4) << archive;
    EXPECT_TRUE(log.empty()) << log[0];
    size_t volumes = 0;  // every .z?? volume is asked for once
    for (const auto& e : fs::directory_iterator(dir.HostPath()))
      volumes += e.path().stem() == fs::path(archive).stem() && e.path().extension() != ".zip";
    EXPECT_GE(asked.size(), volumes) << archive;
    EXPECT_GE(volumes, 2u);
    EXPECT_EQ(asked[0], "1 z01");
    ExpectSameTree(dir.Host("out"));
  }

  unzip.OnNextVolume = nullptr;
  log.clear();
  EXPECT_EQ(unzip.Extract(), 0);
  EXPECT_EQ(Count("Error 25443"), 2);  // the cancel itself, then the missing event as cancelled

  // A volume missing in the middle: every member it costs is named once, and the member it cut
  // short is not left behind as a truncated file.
  fs::remove(dir.Host("a.z02"));
  fs::remove_all(dir.Host("out"));
  UseFile(dir.Host("a.zip"));
  unzip.SetCreateStoredDirs(true);
  log.clear();
  unzip.OnNextVolume = [](TObject*, std::string&, const std::string&, bool exists, bool& cancel) {
    cancel = !exists;
  };
  const int extracted = unzip.Extract();
  EXPECT_LT(extracted, 4);
  const std::string said = "Error 25236 ";
  const std::string why = " [a volume of the set is missing]";
  int named = 0;
  for (const std::string& line : log) {
    if (line.rfind(said, 0) != 0) continue;
    ++named;
    ASSERT_GT(line.size(), said.size() + why.size());
    std::string member = line.substr(said.size(), line.size() - said.size() - why.size());
    std::replace(member.begin(), member.end(), '\\', '/');
    EXPECT_FALSE(OutExists(member)) << member;
  }
  EXPECT_EQ(named, unzip.FailedCount());
  EXPECT_EQ(extracted + unzip.FailedCount(), 4);
}

TEST_F(RealArchiveTest, SpannedDisksAreBroughtInThroughTheDiskEvents) {
  // A split set put on three "floppies" of a fake removable drive, each labelled PKBACK# 00n and
  // holding its part under the set's one name.
  Bytes random(150000);
  uint64_t x = 0x2545F4914F6CDD1Dull;
  for (auto& byte : random) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    byte = static_cast<uint8_t>(x >> 24);
  }
  fs::create_directories(dir.Host("one"));
  ASSERT_TRUE(minizip::WriteFile(dir.Host("one/r.bin"), random));
  ASSERT_EQ(Shell("cd '" + dir.Host("one") + "' && zip -q -s 64k -0 ../s.zip r.bin"), 0);
  const char* parts[] = {"s.z01", "s.z02", "s.zip"};
  for (int disk = 1; disk <= 3; ++disk) {
    fs::create_directories(dir.Host("disk" + std::to_string(disk)));
    fs::copy_file(dir.Host(parts[disk - 1]), dir.Host("disk" + std::to_string(disk) + "/s.zip"));
  }
  host::TSeams seams;
  host::TFakeDrive floppy;
  floppy.Letter = 'D';
  floppy.Type = host::dtRemovable;
  seams.Drives.push_back(floppy);
  auto insert = [&](int disk) {
    seams.Drives[0].HostFolder = dir.Host("disk" + std::to_string(disk));
    seams.Drives[0].Label = "PKBACK# 00" + std::to_string(disk);
    seams.Drives[0].Serial = static_cast<uint32_t>(disk);
  };
  insert(1);
  host::ScopedSeams scope(seams);
  unzip.SetArchiveFile("D:\\s.zip");
  ASSERT_EQ(unzip.ArcType(), atZipDS);
  unzip.SetExtractDir(dir.System("out"));
  unzip.FileSpec().Add("*.*");
  RecordErrors();
  std::vector<std::string> prompts;
  unzip.OnGetZipLastDisk = [&](TObject*, bool& cancel) {
    prompts.push_back("last");
    insert(3);
    cancel = false;
  };
  unzip.OnGetZipFirstDisk = [&](TObject*, bool& cancel) {
    prompts.push_back("first");
    insert(1);
    cancel = false;
  };
  unzip.OnGetZipNextDisk = [&](TObject*, const std::string& volume, bool& cancel) {
    prompts.push_back("next " + volume);
    insert(std::stoi(volume));
    cancel = false;
  };
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_TRUE(log.empty()) << log[0];
  EXPECT_EQ(prompts, (std::vector<std::string>{"last", "first", "next 2", "next 3"}));
  EXPECT_TRUE(Out("r.bin") == std::string(random.begin(), random.end()));
}

TEST_F(RealArchiveTest, SelfExtractingProgram) {
  ASSERT_EQ(Zip("-6"), 0);
  ASSERT_EQ(Shell("head -c 20000 /bin/ls > '" + dir.Host("sfx.exe") + "' && cat '" + ArchiveHost() +
                  "' >> '" + dir.Host("sfx.exe") + "' && zip -q -A '" + dir.Host("sfx.exe") + "'"),
            0);
  UseFile(dir.Host("sfx.exe"));
  unzip.SetCreateStoredDirs(true);
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 4);
  EXPECT_TRUE(log.empty());
  ExpectSameTree(dir.Host("out"));
}

TEST_F(RealArchiveTest, SevenZipDeflate64AndZipCrypto) {
  if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
  ASSERT_EQ(
      Shell("cd '" + src + "' && 7z a -tzip -mm=Deflate64 '" + ArchiveHost() + "' . >/dev/null"),
      0);
  ASSERT_EQ(Shell("cd '" + src + "' && 7z a -tzip -mem=ZipCrypto -pk3y '" + dir.Host("c.zip") +
                  "' . >/dev/null"),
            0);
  UseFile(ArchiveHost());
  unzip.SetCreateStoredDirs(true);
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 4);
  EXPECT_TRUE(log.empty()) << log[0];
  ExpectSameTree(dir.Host("out"), false);

  fs::remove_all(dir.Host("out"));
  UseFile(dir.Host("c.zip"));
  unzip.Passwords().Add("k3y");
  EXPECT_EQ(unzip.Extract(), 4);
  EXPECT_TRUE(log.empty()) << log[0];
  ExpectSameTree(dir.Host("out"), false);
}

// ---- conformance archives -----------------------------------------------------------------------
std::string Sha256OfFile(const std::string& path) {
  const auto bytes = minizip::ReadFile(path);
  return bytes ? minizip::Sha256Hex(*bytes) : std::string("missing");
}

TEST_F(ExtractTest, ConformanceArchivesExtractWithTheExpectedHashes) {
  const std::string root = PARCELO_TESTDATA_DIR;
  if (!fs::exists(root + "/zip")) GTEST_SKIP() << "no conformance archives";
  int archives = 0;
  for (const auto& e : fs::directory_iterator(root + "/zip")) {
    const std::string name = e.path().filename().string();
    const std::string expected = root + "/expected/" + name + ".sha256";
    if (!fs::exists(expected)) continue;
    SCOPED_TRACE(name);
    ++archives;
    fs::remove_all(dir.Host("out"));
    UseFile(e.path().string());
    unzip.Passwords().Clear();
    unzip.Passwords().Add("test");
    unzip.SetCreateStoredDirs(true);
    log.clear();
    RecordErrors();
    unzip.OnNextVolume = [](TObject*, std::string&, const std::string&, bool exists, bool& cancel) {
      cancel = !exists;
    };
    unzip.Extract();
    // An archive without its directory is said to be one, once; nothing else is reported.
    if (unzip.DirectoryMissing()) {
      EXPECT_EQ(Count("Error 25104"), 1);
      log.erase(log.begin());
    }
    EXPECT_TRUE(log.empty()) << log[0];
    // Compare the hashes; names compare too where they are plain ASCII.
    std::multiset<std::string> want, got;
    std::set<std::string> asciiWant, asciiGot;
    std::istringstream lines(ReadHostFile(expected));
    for (std::string line; std::getline(lines, line);) {
      if (line.size() < 67) continue;
      const std::string path = line.substr(66);
      const bool ascii = std::all_of(path.begin(), path.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
      want.insert(line.substr(0, 64));
      if (ascii) asciiWant.insert(path);
    }
    if (fs::exists(dir.Host("out")))
      for (const auto& f : fs::recursive_directory_iterator(dir.Host("out"))) {
        if (!f.is_regular_file()) continue;
        const std::string path = fs::relative(f.path(), dir.Host("out")).string();
        const std::string hash = Sha256OfFile(f.path().string());
        got.insert(hash);
        if (std::all_of(path.begin(), path.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
          asciiGot.insert(path);
      }
    EXPECT_EQ(got, want);
    EXPECT_EQ(asciiGot, asciiWant);
  }
  EXPECT_GE(archives, 10);
}

}  // namespace
