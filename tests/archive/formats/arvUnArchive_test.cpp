// TUnArchive over the libarchive source: archives made at test time by Python's tarfile and by the
// archivers (7zz, cpio, genisoimage, zstd, lz4, lzip, compress), extracted under the driver's rules
// and checked against what went in: contents, folders, times, permissions, the count; hostile
// members (names leading out, links out and through, hard links, devices, FIFOs, set-uid);
// selection, overwrite and test runs; damaged, truncated and encrypted data; dictionaries refused.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/formats/arvUnArchive.h"
#include "platform/seams.h"
#include "support/ExtractFixture.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using extracttest::HaveTool;
using extracttest::ReadHostFile;
using extracttest::Shell;

class UnArchiveTest : public ::testing::Test {
 protected:
  parcelo::test::TempDir dir{"unarchive"};
  TUnArchive un;
  std::vector<std::string> errors;

  void SetUp() override {
    un.OnError = [this](TObject*, const std::string& file, const std::string& ext,
                        const std::string&, int code) {
      std::string name = file;
      const std::string dest = dir.System("out") + "\\";
      if (name.compare(0, dest.size(), dest) == 0) name.erase(0, dest.size());
      errors.push_back(std::to_string(code) + " " + name + (ext.empty() ? "" : " [" + ext + "]"));
    };
  }

  // Runs a Python script in the temporary folder (the archive makers).
  void Python(const std::string& script) {
    const std::string path = dir.Host("make.py");
    std::ofstream(path) << script;
    ASSERT_EQ(Shell("cd " + dir.HostPath() + " && python3 make.py"), 0) << script;
  }
  void Run(const std::string& command) {
    ASSERT_EQ(Shell("cd " + dir.HostPath() + " && " + command), 0) << command;
  }

  int Extract(const std::string& archive, const std::vector<std::string>& masks = {"*.*"}) {
    un.SetArchiveFile(dir.System(archive));
    un.SetExtractDir(dir.System("out"));
    un.SetCreateStoredDirs(true);
    un.FileSpec().Clear();
    for (const std::string& mask : masks) un.FileSpec().Add(mask);
    return un.Extract();
  }
  std::string Out(const std::string& relative) const {
    return ReadHostFile(dir.Host("out/" + relative));
  }
  bool OutExists(const std::string& relative) const {
    return fs::exists(fs::symlink_status(dir.Host("out/" + relative)));
  }
  std::vector<std::string> Files(const std::string& root = "out") const {
    std::vector<std::string> all;
    if (!fs::exists(dir.Host(root))) return all;
    for (const auto& e : fs::recursive_directory_iterator(dir.Host(root)))
      all.push_back(e.path().lexically_relative(dir.Host(root)).string() +
                    (fs::is_symlink(fs::symlink_status(e.path())) ? "@"
                     : e.is_directory()                          ? "/"
                                                                 : ""));
    std::sort(all.begin(), all.end());
    return all;
  }
  std::string Errors() const {
    std::string all;
    for (const std::string& e : errors) all += e + "\n";
    return all;
  }
};

// A TAR with a folder, files, an exact time and permission bits (set-uid among them).
constexpr char kMakeTar[] = R"(
import tarfile, io
def add(t, name, data=b'', mode=0o644, kind=tarfile.REGTYPE, link='', mtime=1700000000):
    i = tarfile.TarInfo(name); i.type = kind; i.mode = mode; i.mtime = mtime; i.linkname = link
    i.size = len(data) if kind == tarfile.REGTYPE else 0
    t.addfile(i, io.BytesIO(data) if kind == tarfile.REGTYPE else None)
for name, mode in (('a.tar', 'w'), ('a.tar.gz', 'w:gz'), ('a.tar.bz2', 'w:bz2'), ('a.tar.xz', 'w:xz')):
    with tarfile.open(name, mode, format=tarfile.PAX_FORMAT) as t:
        add(t, 'dir', kind=tarfile.DIRTYPE, mode=0o755)
        add(t, 'dir/hello.txt', b'hello world\n' * 1000)
        add(t, 'dir/run.sh', b'#!/bin/sh\n', mode=0o4755)
        add(t, 'empty.txt', b'')
        add(t, 'caf\u00e9.txt', b'accent')
)";

TEST_F(UnArchiveTest, TarInEveryCompressionGivesItsFilesTimesAndPermissions) {
  Python(kMakeTar);
  for (const char* name : {"a.tar", "a.tar.gz", "a.tar.bz2", "a.tar.xz"}) {
    SCOPED_TRACE(name);
    fs::remove_all(dir.Host("out"));
    errors.clear();
    EXPECT_EQ(Extract(name), 4);
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(un.SelectedCount(), 5);
    EXPECT_EQ(Files(), (std::vector<std::string>{"café.txt", "dir/", "dir/hello.txt",
                                                 "dir/run.sh", "empty.txt"}));
    std::string hello;
    for (int i = 0; i < 1000; ++i) hello += "hello world\n";
    EXPECT_EQ(Out("dir/hello.txt"), hello);
    EXPECT_EQ(Out("café.txt"), "accent");
    struct stat st {};
    ASSERT_EQ(::stat(dir.Host("out/dir/run.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u) << "the set-uid bit is dropped";
    EXPECT_EQ(st.st_mtime, 1700000000);
    ASSERT_EQ(::stat(dir.Host("out/dir").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1700000000) << "the folder's time once its files are in";
  }
}

TEST_F(UnArchiveTest, SingleCompressedFilesAreNamedAfterTheFileOrTheGzipHeader) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "line " + std::to_string(i) + "\n";
  dir.WriteFile("notes.txt", text);
  Run("gzip -k -n notes.txt && mv notes.txt.gz plain.gz");           // no stored name
  Run("cp notes.txt stored.txt && gzip -k -N stored.txt && mv stored.txt.gz other.gz");
  Run("xz -k notes.txt && bzip2 -k notes.txt");
  const bool zstd = HaveTool("zstd"), lz4 = HaveTool("lz4"), lzip = HaveTool("lzip");
  if (zstd) Run("zstd -q notes.txt -o notes.txt.zst");
  if (lz4) Run("lz4 -q notes.txt notes.txt.lz4");
  if (lzip) Run("lzip -k notes.txt");
  struct TCase {
    const char* archive;
    const char* written;
    bool present;
  };
  const TCase cases[] = {{"plain.gz", "plain", true},          {"other.gz", "stored.txt", true},
                         {"notes.txt.xz", "notes.txt", true},  {"notes.txt.bz2", "notes.txt", true},
                         {"notes.txt.zst", "notes.txt", zstd}, {"notes.txt.lz4", "notes.txt", lz4},
                         {"notes.txt.lz", "notes.txt", lzip}};
  for (const TCase& c : cases) {
    if (!c.present) continue;
    SCOPED_TRACE(c.archive);
    fs::remove_all(dir.Host("out"));
    errors.clear();
    EXPECT_EQ(Extract(c.archive), 1);
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(Files(), std::vector<std::string>{c.written});
    EXPECT_EQ(Out(c.written), text);
  }
}

TEST_F(UnArchiveTest, HostileNamesAndLinksStayInside) {
  Python(R"(
import tarfile, io
def add(t, name, data=b'', kind=tarfile.REGTYPE, link='', mode=0o644):
    i = tarfile.TarInfo(name); i.type = kind; i.linkname = link; i.mode = mode
    i.size = len(data) if kind == tarfile.REGTYPE else 0
    t.addfile(i, io.BytesIO(data) if kind == tarfile.REGTYPE else None)
with tarfile.open('evil.tar', 'w', format=tarfile.GNU_FORMAT) as t:
    add(t, '../up.txt', b'up')
    add(t, '/abs.txt', b'abs')
    add(t, 'C:/drive.txt', b'drive')
    add(t, 'in.txt', b'inside')
    add(t, 'good', kind=tarfile.SYMTYPE, link='in.txt')
    add(t, 'out', kind=tarfile.SYMTYPE, link='../../etc')
    add(t, 'abslink', kind=tarfile.SYMTYPE, link='/etc/passwd')
    add(t, 'dirlink', kind=tarfile.SYMTYPE, link='.')
    add(t, 'dirlink/through.txt', b'through')
    add(t, 'hard', kind=tarfile.LNKTYPE, link='in.txt')
    add(t, 'hardout', kind=tarfile.LNKTYPE, link='../../etc/passwd')
    add(t, 'dev', kind=tarfile.CHRTYPE)
    add(t, 'fifo', kind=tarfile.FIFOTYPE)
    add(t, 'suid', b'x', mode=0o6777)
)");
  const int count = Extract("evil.tar");
  // Written: up.txt, abs.txt, drive.txt, in.txt, good, dirlink, hard, suid.
  EXPECT_EQ(count, 8) << Errors();
  EXPECT_EQ(Files(), (std::vector<std::string>{"abs.txt", "dirlink@", "drive.txt", "good@",
                                               "hard", "in.txt", "suid", "up.txt"}));
  EXPECT_FALSE(fs::exists(dir.Host("up.txt")));
  EXPECT_EQ(Out("hard"), "inside");
  EXPECT_EQ(fs::read_symlink(dir.Host("out/good")).string(), "in.txt");
  struct stat st {};
  ASSERT_EQ(::stat(dir.Host("out/suid").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0777u);
  const std::string said = Errors();
  EXPECT_NE(said.find("out [symbolic link to \"../../etc\" leads outside"), std::string::npos)
      << said;
  EXPECT_NE(said.find("abslink [symbolic link to \"/etc/passwd\" leads outside"), std::string::npos);
  EXPECT_NE(said.find("dirlink\\through.txt [lies below a symbolic link"), std::string::npos);
  EXPECT_NE(said.find("hardout [hard link to"), std::string::npos);
  EXPECT_NE(said.find("dev [a device node; not created]"), std::string::npos);
  EXPECT_NE(said.find("fifo [a FIFO; not created]"), std::string::npos);
  EXPECT_EQ(un.FailedCount(), 6);
}

TEST_F(UnArchiveTest, HostileCpioMembersStayInsideToo) {
  // A newc cpio written field by field: names leading out, a link out, a device, a set-uid file.
  Python(R"(
def member(name, mode, data=b''):
    n = name.encode() + b'\0'
    head = b'070701' + b''.join(b'%08X' % v for v in (1, mode, 0, 0, 1, 1700000000, len(data), 0, 0, 0, 0, len(n), 0))
    out = head + n
    out += b'\0' * (-len(out) % 4) + data
    return out + b'\0' * (-len(out) % 4)
body = member('../up.txt', 0o100644, b'up') + member('/abs.txt', 0o100644, b'abs')
body += member('out', 0o120777, b'../../etc') + member('dev', 0o020644) + member('suid', 0o104755, b'x')
body += member('TRAILER!!!', 0)
open('evil.cpio', 'wb').write(body + b'\0' * (-len(body) % 512))
)");
  EXPECT_EQ(Extract("evil.cpio"), 3) << Errors();
  EXPECT_EQ(Files(), (std::vector<std::string>{"abs.txt", "suid", "up.txt"}));
  struct stat st {};
  ASSERT_EQ(::stat(dir.Host("out/suid").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  EXPECT_NE(Errors().find("out [symbolic link to \"../../etc\" leads outside"), std::string::npos)
      << Errors();
  EXPECT_NE(Errors().find("dev [a device node; not created]"), std::string::npos);
}

TEST_F(UnArchiveTest, MasksOverwriteModesAndTestRuns) {
  Python(kMakeTar);
  EXPECT_EQ(Extract("a.tar.gz", {"*.sh"}), 1);
  EXPECT_EQ(Files(), (std::vector<std::string>{"dir/", "dir/run.sh"}));
  // Existing files skipped: nothing written over.
  dir.WriteFile("out/empty.txt", "mine");
  un.SetConfirmOverwrites(true);
  un.OnFileExists = [](TObject*, const std::string&, std::string&, TOverwriteMode& mode) {
    mode = omSkip;
  };
  EXPECT_EQ(Extract("a.tar.gz", {"empty.txt", "dir\\hello.txt"}), 1);
  EXPECT_EQ(Out("empty.txt"), "mine");
  // A test run writes nothing and counts what it checked.
  fs::remove_all(dir.Host("out"));
  un.SetConfirmOverwrites(false);
  un.SetTestOnly(true);
  EXPECT_EQ(Extract("a.tar.xz"), 4);
  EXPECT_FALSE(fs::exists(dir.Host("out")));
  EXPECT_EQ(Errors(), "");
}

TEST_F(UnArchiveTest, ProgressReachesTheEndAndCancelStops) {
  Python(kMakeTar);
  int last = -1;
  un.OnProgress = [&last](TObject*, uint8_t, uint8_t byArchive) { last = byArchive; };
  EXPECT_EQ(Extract("a.tar.xz"), 4);
  EXPECT_EQ(last, 100);
  fs::remove_all(dir.Host("out"));
  un.OnBegin = [this](TObject*, const std::string&, int count, bool&) {
    if (count == 1) un.SetCancel(true);
  };
  EXPECT_LT(Extract("a.tar"), 2);
}

TEST_F(UnArchiveTest, DamagedAndTruncatedDataFailsAndLeavesNoFile) {
  Python(R"(
import tarfile, io, random
r = random.Random(5)
data = bytes(r.getrandbits(8) for _ in range(300000))
with tarfile.open('big.tar.gz', 'w:gz') as t:
    i = tarfile.TarInfo('big.bin'); i.size = len(data); t.addfile(i, io.BytesIO(data))
b = open('big.tar.gz', 'rb').read()
open('cut.tar.gz', 'wb').write(b[:len(b) // 2])
)");
  EXPECT_EQ(Extract("cut.tar.gz"), 0);
  EXPECT_FALSE(OutExists("big.bin")) << "a member cut short is removed";
  EXPECT_EQ(un.FailedCount(), 1);
  EXPECT_FALSE(errors.empty());
}

TEST_F(UnArchiveTest, AGzipMemberThatFailsItsCrcIsTheEnginesCrcFailure) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += std::to_string(i) + "\n";
  dir.WriteFile("n.txt", text);
  Run("gzip -k -n n.txt && tar -czf t.tar.gz n.txt");
  // The CRC-32 of the trailer changed, of a plain gzip file and of a TAR in gzip.
  Python(R"(
for name, bad in (('n.txt.gz', 'bad.gz'), ('t.tar.gz', 'bad.tar.gz')):
    b = bytearray(open(name, 'rb').read()); b[-8] ^= 1; open(bad, 'wb').write(bytes(b))
)");
  EXPECT_EQ(Extract("n.txt.gz"), 1);
  EXPECT_EQ(Out("n.txt"), text);
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(Extract("bad.gz"), 0);
  EXPECT_NE(Errors().find("25151 bad [the gzip stream fails its CRC-32 check]"), std::string::npos)
      << Errors();
  // The TAR inside ends before the gzip stream does: its check is made at the end of the archive.
  errors.clear();
  Extract("bad.tar.gz");
  EXPECT_NE(Errors().find("25151 " + dir.System("bad.tar.gz") + " [the gzip stream fails its CRC-32"),
            std::string::npos)
      << Errors();
  EXPECT_TRUE(un.ArchiveDamaged());
}

TEST_F(UnArchiveTest, ABombOnAFullDiskEndsWithDiskFullAndLeavesNothing) {
  // 64 MiB of zeros in a few KiB; the disk "fills" after 1 MiB.
  Run("head -c 67108864 /dev/zero | gzip -1 > zeros.gz && head -c 67108864 /dev/zero | xz -0 -T1 > zeros.xz");
  for (const char* name : {"zeros.gz", "zeros.xz"}) {
    SCOPED_TRACE(name);
    errors.clear();
    host::TSeams seams;
    seams.DiskFullAfter = 1 << 20;
    host::ScopedSeams scope(seams);
    EXPECT_EQ(Extract(name), 0);
    EXPECT_EQ(Errors(), "25160 zeros [No space left on device]\n");
    EXPECT_FALSE(OutExists("zeros"));
  }
}

TEST_F(UnArchiveTest, SevenZipCpioAndIsoImages) {
  if (!HaveTool("7zz") || !HaveTool("cpio") || !HaveTool("genisoimage")) GTEST_SKIP();
  dir.WriteFile("src/a.txt", "alpha");
  dir.WriteFile("src/sub/b.txt", std::string(100000, 'b'));
  Run("cd src && 7zz a -bd -mx=5 ../s.7z a.txt sub >/dev/null");
  Run("cd src && 7zz a -bd -ms=off -m0=PPMd ../p.7z a.txt sub >/dev/null");
  Run("cd src && 7zz a -bd -m0=BZip2 ../b.7z a.txt sub >/dev/null");
  Run("cd src && printf 'a.txt\\nsub\\nsub/b.txt\\n' | cpio -o -H newc --quiet > ../c.cpio");
  Run("genisoimage -quiet -R -o i.iso src");
  for (const char* name : {"s.7z", "p.7z", "b.7z", "c.cpio", "i.iso"}) {
    SCOPED_TRACE(name);
    fs::remove_all(dir.Host("out"));
    errors.clear();
    EXPECT_EQ(Extract(name), 2);
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(Out("a.txt"), "alpha");
    EXPECT_EQ(Out("sub/b.txt"), std::string(100000, 'b'));
  }
}

TEST_F(UnArchiveTest, EncryptedSevenZipMembersAreSaidSoAndLeaveNothing) {
  if (!HaveTool("7zz")) GTEST_SKIP();
  dir.WriteFile("src/secret.txt", "secret");
  Run("cd src && 7zz a -bd -psecret ../e.7z secret.txt >/dev/null");
  un.Passwords().Add("secret");
  EXPECT_EQ(Extract("e.7z"), 0);
  EXPECT_FALSE(OutExists("secret.txt"));
  EXPECT_NE(Errors().find("encrypted with a method Parcelo cannot decrypt here"), std::string::npos)
      << Errors();
  EXPECT_EQ(Errors().find("amaged"), std::string::npos);
}

TEST_F(UnArchiveTest, DictionariesAboveOneGibibyteAreRefused) {
  dir.WriteFile("n.txt", "data");
  Run("xz -k n.txt");
  // The block header's LZMA2 dictionary byte raised to 37 (1.5 GiB), its CRC-32 made again.
  Python(R"(
import zlib, struct
b = bytearray(open('n.txt.xz', 'rb').read())
size = (b[12] + 1) * 4
assert b[14] == 0x21
b[16] = 37
b[12 + size - 4:12 + size] = struct.pack('<I', zlib.crc32(bytes(b[12:12 + size - 4])))
open('big.xz', 'wb').write(bytes(b))
)");
  EXPECT_EQ(Extract("big.xz"), 0);
  EXPECT_NE(Errors().find("1536 MiB; more than 1024 MiB is refused"), std::string::npos)
      << Errors();
  EXPECT_FALSE(OutExists("big"));
}

}  // namespace
