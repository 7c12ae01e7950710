// parcelo-cli extract and test on zips that today's writers make, each made at test time by the
// writer itself (Info-ZIP zip, 7-Zip, Python): encrypted members written to a pipe, and the
// compression methods and encryption those writers offer. A writer that is missing skips its test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/CliRun.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using TRun = parcelo::test::TCliRun;
using parcelo::test::Quote;

bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

class CliWritersTest : public ::testing::Test {
 protected:
  parcelo::test::TempDir dir{"cli-writers"};

  // Runs `command` through the shell in the temporary folder; true when it succeeded.
  bool Shell(const std::string& command) {
    return std::system(("cd " + Quote(dir.HostPath()) + " && " + command).c_str()) == 0;
  }
  TRun Cli(const std::string& arguments, const std::string& input = "") {
    return parcelo::test::RunCli(arguments, dir.HostPath(), input);
  }
  std::string Read(const std::string& relative) {
    return fs::exists(dir.Host(relative)) ? dir.ReadFile(relative) : std::string();
  }
  // A small tree with a text file, a larger compressible one and a folder.
  void MakeSource() {
    dir.WriteFile("src/readme.txt", "Read me first.\n");
    std::string lines;
    for (int i = 0; i < 4000; ++i) lines += "line " + std::to_string(i * 7919 % 10007) + "\n";
    dir.WriteFile("src/docs/lines.txt", lines);
    dir.WriteFile("src/docs/empty.txt", "");
  }
};

// Info-ZIP zip writing to a pipe sets flag bit 3 on every member: the local CRC field then holds
// the modification time for the password check byte, and the real CRC follows the data.
TEST_F(CliWritersTest, InfoZipEncryptedToAPipeExtractsWhole) {
  if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  MakeSource();
  // The recipe as it was reported: the archive lands in src/.
  ASSERT_TRUE(Shell("(cd src && zip -q -X -P secret -r - readme.txt docs | cat > x.zip)"));

  TRun run = Cli("extract src/x.zip -p secret -d out");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Read("out/readme.txt"), Read("src/readme.txt"));
  EXPECT_EQ(Read("out/docs/lines.txt"), Read("src/docs/lines.txt"));
  EXPECT_TRUE(fs::exists(dir.Host("out/docs/empty.txt")));

  run = Cli("test src/x.zip -p secret");
  EXPECT_EQ(run.status, 0) << run.err;

  // The check byte still tells a wrong password (almost always: it is one byte); nothing is left.
  run = Cli("extract src/x.zip -p not-the-secret -d wrong");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Invalid password"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir.Host("wrong/docs/lines.txt")));
}

// The same archive with its directory cut off: read through its local headers and descriptors.
TEST_F(CliWritersTest, InfoZipEncryptedToAPipeWithoutItsDirectory) {
  if (!HaveTool("zip") || !HaveTool("python3")) GTEST_SKIP() << "zip or python3 is not installed";
  MakeSource();
  ASSERT_TRUE(Shell("(cd src && zip -q -X -P secret -r - readme.txt docs | cat > x.zip)"));
  ASSERT_TRUE(Shell("python3 -c \"d=open('src/x.zip','rb').read(); "
                    "open('cut.zip','wb').write(d[:d.find(b'PK\\x01\\x02')])\""));
  const TRun run = Cli("extract cut.zip -p secret -d out");
  EXPECT_EQ(run.status, 1) << run.err;  // said: no directory; nothing lost
  EXPECT_EQ(Read("out/docs/lines.txt"), Read("src/docs/lines.txt"));
  EXPECT_EQ(Read("out/readme.txt"), Read("src/readme.txt"));
}

// ---- the methods and the encryption of 7-Zip, Python and hand-made members --------------------

// A Python that has the modules the fixtures need (Debian's, when another one comes first).
std::string PythonWith(const std::string& modules) {
  for (const char* python : {"python3", "/usr/bin/python3"})
    if (std::system((std::string(python) + " -c 'import " + modules + "' >/dev/null 2>&1").c_str()) ==
        0)
      return python;
  return {};
}

class CliMethodsTest : public CliWritersTest {
 protected:
  void SetUp() override {
    MakeSource();
    // Bytes that compress poorly, so every method's literal paths are walked too.
    std::string noise;
    uint32_t x = 12345;
    for (int i = 0; i < 70000; ++i) {
      x = x * 1103515245 + 12345;
      noise += static_cast<char>(x >> 23);
    }
    dir.WriteFile("src/docs/noise.bin", noise);
  }
  // Every file below src/ came out whole below `out`.
  void ExpectSameTree(const std::string& out) {
    for (const char* f : {"readme.txt", "docs/lines.txt", "docs/empty.txt", "docs/noise.bin"}) {
      SCOPED_TRACE(f);
      ASSERT_TRUE(fs::exists(dir.Host(out + "/" + f)));
      EXPECT_TRUE(Read(out + "/" + f) == Read(std::string("src/") + f));
    }
  }
  std::string MethodZip() { return Quote(std::string(PARCELO_SOURCE_DIR) + "/tests/data/zip/method_zip.py"); }
};

TEST_F(CliMethodsTest, SevenZipEveryMethodPlainAndEncrypted) {
  if (!HaveTool("7zz")) GTEST_SKIP() << "7zz is not installed";
  for (const char* method : {"Copy", "Deflate", "Deflate64", "BZip2", "LZMA", "XZ", "PPMd"}) {
    for (const char* encryption : {"", "ZipCrypto", "AES128", "AES192", "AES256"}) {
      const std::string name = std::string(method) + encryption;
      SCOPED_TRACE(name);
      std::string options = std::string("-mm=") + method;
      if (*encryption) options += std::string(" -mem=") + encryption + " -pS3cret";
      ASSERT_TRUE(Shell("cd src && 7zz a -tzip " + options + " ../" + name +
                        ".zip readme.txt docs >/dev/null"));
      TRun run = Cli("extract " + name + ".zip -p S3cret -d " + name);
      EXPECT_EQ(run.status, 0) << run.err;
      ExpectSameTree(name);
      run = Cli("test " + name + ".zip -p S3cret");
      EXPECT_EQ(run.status, 0) << run.err;
    }
  }
}

// list -v names each method, and an AES member by its key size and the method inside.
TEST_F(CliMethodsTest, ListNamesTheMethods) {
  if (!HaveTool("7zz")) GTEST_SKIP() << "7zz is not installed";
  const std::pair<const char*, const char*> cases[] = {
      {"-mm=BZip2", " BZip2 "},   {"-mm=LZMA", " LZMA "},
      {"-mm=XZ", " XZ "},         {"-mm=PPMd", " PPMd "},
      {"-mm=Deflate -mem=AES256 -pS3cret", " AES-256 Deflate"},
      {"-mm=LZMA -mem=AES128 -pS3cret", " AES-128 LZMA*"},
      {"-mm=BZip2 -mem=AES192 -pS3cret", " AES-192 BZip2*"}};
  int n = 0;
  for (const auto& [options, says] : cases) {
    SCOPED_TRACE(options);
    const std::string name = "l" + std::to_string(n++) + ".zip";
    ASSERT_TRUE(Shell("cd src && 7zz a -tzip " + std::string(options) + " ../" + name +
                      " docs/lines.txt >/dev/null"));
    const TRun run = Cli("list -v " + name);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(says), std::string::npos) << run.out;
  }
}

// AES: the verifier refuses a wrong password before anything is written; the person's next answer
// opens the member; a code that does not match is damage, said, and its output removed.
TEST_F(CliMethodsTest, AesPasswordsAndAuthentication) {
  if (!HaveTool("7zz")) GTEST_SKIP() << "7zz is not installed";
  const std::string python = PythonWith("zlib");
  if (python.empty()) GTEST_SKIP() << "no python3";
  ASSERT_TRUE(Shell("cd src && 7zz a -tzip -mm=Deflate -mem=AES256 -pS3cret ../a.zip docs/lines.txt >/dev/null"));

  TRun run = Cli("extract a.zip -p wrong -d wrong");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Invalid password: wrong password (26517)"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir.Host("wrong/docs/lines.txt")));

  run = Cli("extract a.zip --ask-password -d asked", "nope\nS3cret\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Read("asked/docs/lines.txt"), Read("src/docs/lines.txt"));

  // Python rewrites the archive: AE-1 with the real CRC-32 (7-Zip writes AE-2), then damaged
  // copies: one data byte flipped, the code flipped, the member cut short.
  ASSERT_TRUE(Shell(python + " - <<'EOF'\n"
                    "import struct, zlib\n"
                    "d = bytearray(open('a.zip','rb').read())\n"
                    "crc = zlib.crc32(open('src/docs/lines.txt','rb').read())\n"
                    "for sig, at in ((b'PK\\x03\\x04', 14), (b'PK\\x01\\x02', 16)):\n"
                    "    i = d.find(sig); d[i+at:i+at+4] = struct.pack('<I', crc)\n"
                    "i = 0\n"
                    "while (i := d.find(b'\\x01\\x99\\x07\\x00', i)) >= 0: d[i+4] = 1; i += 4\n"
                    "open('ae1.zip','wb').write(d)\n"
                    "n = struct.unpack('<H', d[26:28])[0] + struct.unpack('<H', d[28:30])[0]\n"
                    "packed = struct.unpack('<I', d[18:22])[0]\n"
                    "data = 30 + n + 18\n"
                    "e = bytearray(d); e[data + 100] ^= 1; open('flipped.zip','wb').write(e)\n"
                    "e = bytearray(d); e[data + packed - 18 - 1] ^= 1; open('badmac.zip','wb').write(e)\n"
                    "EOF"));
  run = Cli("extract ae1.zip -p S3cret -d ae1");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Read("ae1/docs/lines.txt"), Read("src/docs/lines.txt"));
  for (const char* damaged : {"flipped", "badmac"}) {
    SCOPED_TRACE(damaged);
    run = Cli(std::string("extract ") + damaged + ".zip -p S3cret -d " + damaged);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("the AES authentication code does not match"), std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(dir.Host(std::string(damaged) + "/docs/lines.txt")));
  }
}

// The 0x9901 field lies: a strength of 0 or 4, AES named as the method inside, a member shorter
// than its salt, verifier and code. Each is refused by name; nothing is written, no prompt made.
TEST_F(CliMethodsTest, AesFieldsThatLie) {
  if (!HaveTool("7zz")) GTEST_SKIP() << "7zz is not installed";
  const std::string python = PythonWith("zlib");
  if (python.empty()) GTEST_SKIP() << "no python3";
  ASSERT_TRUE(Shell("cd src && 7zz a -tzip -mm=Deflate -mem=AES128 -pS3cret ../a.zip readme.txt >/dev/null"));
  ASSERT_TRUE(Shell(python + " - <<'EOF'\n"
                    "import struct\n"
                    "d = open('a.zip','rb').read()\n"
                    "def patch(out, at, value):\n"
                    "    e = bytearray(d); i = 0\n"
                    "    while (i := e.find(b'\\x01\\x99\\x07\\x00', i)) >= 0:\n"
                    "        e[i+at:i+at+len(value)] = value; i += 4\n"
                    "    open(out,'wb').write(e)\n"
                    "patch('strength0.zip', 8, b'\\x00')\n"
                    "patch('strength4.zip', 8, b'\\x04')\n"
                    "patch('inner99.zip', 9, b'\\x63\\x00')\n"
                    "e = bytearray(d)\n"
                    "for sig, at in ((b'PK\\x03\\x04', 18), (b'PK\\x01\\x02', 20)):\n"
                    "    i = e.find(sig); e[i+at:i+at+4] = struct.pack('<I', 19)\n"
                    "open('short.zip','wb').write(e)\n"
                    "EOF"));
  const std::pair<const char*, const char*> cases[] = {
      {"strength0", "AES key strength 0"},
      {"strength4", "AES key strength 4"},
      {"inner99", "AES extra field names AES as its method"},
      {"short", "AES member shorter than its salt, verifier and authentication code"}};
  for (const auto& [name, says] : cases) {
    SCOPED_TRACE(name);
    const TRun run = Cli(std::string("extract ") + name + ".zip -p S3cret -d " + name);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(std::string("Unsupported compression method: ") + says),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(dir.Host(std::string(name) + "/readme.txt")));
  }
}

// Members of Python's zipfile (BZip2, LZMA with its end marker) and hand-made Zstandard and XZ
// members; then the methods that stay refused, each named, and PKWARE's strong encryption.
TEST_F(CliMethodsTest, PythonWrittenMembersAndRefusedMethods) {
  const std::string python = PythonWith("zstandard, lzma, bz2");
  if (python.empty()) GTEST_SKIP() << "no python3 with zstandard";
  ASSERT_TRUE(Shell(python + " - <<'EOF'\n"
                    "import zipfile\n"
                    "for name, kind in (('bz.zip', zipfile.ZIP_BZIP2), ('lz.zip', zipfile.ZIP_LZMA)):\n"
                    "    with zipfile.ZipFile(name, 'w', kind) as z:\n"
                    "        for f in ('readme.txt', 'docs/lines.txt', 'docs/empty.txt', 'docs/noise.bin'):\n"
                    "            z.write('src/' + f, f)\n"
                    "EOF"));
  std::string members;
  for (const char* f : {"readme.txt", "docs/lines.txt", "docs/empty.txt", "docs/noise.bin"})
    members += std::string(" zstd:") + f + ":src/" + f;
  ASSERT_TRUE(Shell(python + " " + MethodZip() + " zs.zip" + members));
  members.clear();
  for (const char* f : {"readme.txt", "docs/lines.txt", "docs/empty.txt", "docs/noise.bin"})
    members += std::string(" xz:") + f + ":src/" + f;
  ASSERT_TRUE(Shell(python + " " + MethodZip() + " xz.zip" + members));
  for (const char* name : {"bz", "lz", "zs", "xz"}) {
    SCOPED_TRACE(name);
    const TRun run = Cli(std::string("extract ") + name + ".zip -d " + name);
    EXPECT_EQ(run.status, 0) << run.err;
    ExpectSameTree(name);
  }

  ASSERT_TRUE(Shell(python + " " + MethodZip() +
                    " refused.zip raw-18:terse.bin:src/readme.txt raw-96:photo.jpg:src/readme.txt"
                    " raw-97:sound.wv:src/readme.txt raw-8:strong.txt:src/readme.txt::0x41"));
  const TRun run = Cli("extract refused.zip -p any -d refused");
  EXPECT_EQ(run.status, 2);
  for (const char* says : {"terse.bin: Unsupported compression method: IBM TERSE",
                           "photo.jpg: Unsupported compression method: JPEG",
                           "sound.wv: Unsupported compression method: WavPack",
                           "strong.txt: Unsupported compression method: encrypted with a method "
                           "Parcelo cannot decrypt"})
    EXPECT_NE(run.err.find(says), std::string::npos) << says << "\n" << run.err;
  EXPECT_EQ(run.err.find("Invalid password"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir.Host("refused")) && !fs::is_empty(dir.Host("refused")));
}

// Hostile members of the library methods: each is reported with what was wrong, and nothing that
// looks complete is left.
TEST_F(CliMethodsTest, HostileLibraryMembers) {
  const std::string python = PythonWith("zstandard, lzma, bz2");
  if (python.empty()) GTEST_SKIP() << "no python3 with zstandard";
  ASSERT_TRUE(Shell(python + " - <<'EOF'\n"
                    "import bz2, lzma, struct\n"
                    "data = open('src/docs/lines.txt','rb').read()\n"
                    "b = bytearray(bz2.compress(data)); b[10] ^= 0x55\n"
                    "open('badcrc.bz2','wb').write(b)\n"
                    "raw = lzma.compress(data, format=lzma.FORMAT_RAW, filters=[{'id': lzma.FILTER_LZMA1}])\n"
                    "hdr = bytes([9, 20, 5, 0])\n"
                    "open('lzprops','wb').write(hdr + bytes([225]) + struct.pack('<I', 1 << 16) + raw)\n"
                    "open('lzdict','wb').write(hdr + bytes([93]) + struct.pack('<I', 3 << 30) + raw)\n"
                    "open('lzcut','wb').write((hdr + bytes([93]) + struct.pack('<I', 1 << 16) + raw)[:2000])\n"
                    "EOF"));
  ASSERT_TRUE(Shell(python + " " + MethodZip() +
                    " hostile.zip raw-12:badcrc.txt:badcrc.bz2:" +
                    std::to_string(Read("src/docs/lines.txt").size()) +
                    " raw-14:props.txt:lzprops:1000 raw-14:dict.txt:lzdict:1000"
                    " raw-14:cut.txt:lzcut:1000000 zstd-window:window.txt:src/readme.txt"
                    " zstd:past.txt:src/docs/lines.txt:1000"));
  const TRun run = Cli("extract hostile.zip -d hostile");
  EXPECT_EQ(run.status, 2);
  for (const char* says :
       {"badcrc.txt: Decompression error: BZip2 data is damaged",
        "props.txt: Unsupported compression method: LZMA properties out of range",
        "dict.txt: Unsupported compression method: LZMA dictionary of 3072 MiB",
        "cut.txt: Error reading file or unexpected end of file",
        "window.txt: Unsupported compression method: the Zstandard frame's window is above 1 GiB",
        "past.txt: Decompression error: the data decodes past the member's size of 1000 bytes"})
    EXPECT_NE(run.err.find(says), std::string::npos) << says << "\n" << run.err;
  for (const char* name : {"badcrc.txt", "props.txt", "dict.txt", "cut.txt", "window.txt", "past.txt"})
    EXPECT_FALSE(fs::exists(dir.Host(std::string("hostile/") + name))) << name;
}

}  // namespace
