// Tests of the traditional zip cipher: key schedule, round trips, and the password test against
// encryption headers written by Info-ZIP zip (made at test time) and by another tool (testdata).
// The password loop of the extraction driver is tested with the driver, not here.
#include "archive/codecs/arvCrypt.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(gen());
  return v;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
  return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16;
}

// The fields of a local header the password test and these checks need.
struct TLocalMember {
  uint16_t flags = 0, method = 0, time = 0;
  uint32_t crc = 0, compressedSize = 0, size = 0;
  std::string name;
  size_t dataOffset = 0;  // the 12-byte encryption header starts here
};

// Walks the local headers from the start of the archive (enough for archives written in one go).
std::vector<TLocalMember> LocalMembers(const std::vector<uint8_t>& zip) {
  std::vector<TLocalMember> members;
  size_t pos = 0;
  while (pos + 30 <= zip.size() && Le32(&zip[pos]) == 0x04034B50) {
    TLocalMember m;
    const uint8_t* h = &zip[pos];
    m.flags = Le16(h + 6);
    m.method = Le16(h + 8);
    m.time = Le16(h + 10);
    m.crc = Le32(h + 14);
    m.compressedSize = Le32(h + 18);
    m.size = Le32(h + 22);
    const size_t nameLen = Le16(h + 26), extraLen = Le16(h + 28);
    m.name.assign(reinterpret_cast<const char*>(h + 30), nameLen);
    m.dataOffset = pos + 30 + nameLen + extraLen;
    members.push_back(m);
    if (m.flags & 0x0008) break;  // sizes only in the data descriptor: stop walking
    pos = m.dataOffset + m.compressedSize;
  }
  return members;
}

bool PasswordOpens(const std::vector<uint8_t>& zip, const TLocalMember& m,
                   const std::string& password, TZipCipher& cipher) {
  uint8_t header[24];
  std::copy_n(&zip[m.dataOffset], 12, header);
  std::copy_n(&zip[m.dataOffset], 12, header + 12);
  return TestZipPassword(cipher, password, header, m.flags, m.time, m.crc);
}

// Raw inflate with zlib until the deflate data ends (trailing bytes are ignored).
std::vector<uint8_t> ZlibInflateRaw(const std::vector<uint8_t>& in) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  std::vector<uint8_t> out;
  uint8_t buf[16384];
  z.next_in = const_cast<uint8_t*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
  }
  EXPECT_EQ(rc, Z_STREAM_END);
  inflateEnd(&z);
  return out;
}

class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() /
            ("parcelo_crypt_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

bool HaveZip() {
  return std::system("zip -v >/dev/null 2>&1") == 0;
}

// ---- key schedule and round trips ---------------------------------------------------------------

TEST(ZipCipherKeys, EmptyPasswordLeavesTheInitialKeys) {
  TZipCipher c;
  c.Key0 = c.Key1 = c.Key2 = 0xDEADBEEF;
  c.InitKeys("");
  EXPECT_EQ(c.Key0, 0x12345678u);
  EXPECT_EQ(c.Key1, 0x23456789u);
  EXPECT_EQ(c.Key2, 0x34567890u);
}

TEST(ZipCipherKeys, HeaderKeysAreTheInitialKeysAndedPairwise) {
  TZipCipher c;
  c.InitHeaderKeys();
  EXPECT_EQ(c.Key0, 0x12345678u & 0x34567890u);
  EXPECT_EQ(c.Key1, 0x23456789u & 0x12345678u);
  EXPECT_EQ(c.Key2, 0x34567890u & 0x23456789u);
}

TEST(ZipCipherKeys, UpdateKeysFollowsThePublishedSteps) {
  // One step written out longhand, with zlib's CRC table as the independent reference.
  const z_crc_t* table = get_crc_table();
  auto crc = [table](uint32_t k, uint8_t b) { return table[(k ^ b) & 0xFF] ^ (k >> 8); };
  TZipCipher c;
  uint32_t k0 = kInitialKey0, k1 = kInitialKey1, k2 = kInitialKey2;
  for (uint8_t b : std::string("p\xE4ssw\xF6rd")) {
    c.UpdateKeys(b);
    k0 = crc(k0, b);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = crc(k2, static_cast<uint8_t>(k1 >> 24));
    ASSERT_EQ(c.Key0, k0);
    ASSERT_EQ(c.Key1, k1);
    ASSERT_EQ(c.Key2, k2);
  }
  const uint32_t t = (k2 & 0xFFFF) | 2;
  EXPECT_EQ(c.DecryptByte(), static_cast<uint8_t>((t * (t ^ 1)) >> 8));
}

TEST(ZipCipherRoundTrip, BufferAndByteWiseAgreeAndInvert) {
  for (size_t n : {0u, 1u, 11u, 12u, 4097u, 100000u}) {
    const auto plain = RandomBytes(n, static_cast<uint32_t>(n));
    TZipCipher byteWise, bufferWise, decipher;
    byteWise.InitKeys("secret");
    bufferWise.InitKeys("secret");
    decipher.InitKeys("secret");
    std::vector<uint8_t> a(plain), b(plain);
    for (auto& x : a) x = byteWise.EncipherByte(x);
    bufferWise.EncipherBuffer(b.data(), b.size());
    ASSERT_EQ(a, b) << n;
    // Deciphered in uneven pieces, the state carries across calls.
    size_t done = 0, step = 1;
    while (done < b.size()) {
      const size_t piece = std::min(step, b.size() - done);
      decipher.DecipherBuffer(b.data() + done, piece);
      done += piece;
      step = step * 3 + 1;
    }
    ASSERT_EQ(b, plain) << n;
    EXPECT_EQ(decipher.Key0, bufferWise.Key0);
    EXPECT_EQ(decipher.Key2, bufferWise.Key2);
  }
}

// ---- password test on headers we make ----------------------------------------------------------

// A 12-byte header enciphered the way a writer does: 11 random bytes and the check byte.
std::vector<uint8_t> MakeHeader(const std::string& password, uint8_t check) {
  auto header = RandomBytes(12, 99);
  header[11] = check;
  TZipCipher c;
  c.InitKeys(password);
  c.EncipherBuffer(header.data(), header.size());
  return header;
}

TEST(ZipPasswordTest, CheckByteIsCrcHighByteWithoutDataDescriptor) {
  const uint32_t crc = 0xA1B2C3D4;
  const uint16_t time = 0x5E6F;
  auto enc = MakeHeader("pw", 0xA1);
  uint8_t h[24];
  std::copy(enc.begin(), enc.end(), h + 12);
  TZipCipher c;
  EXPECT_TRUE(TestZipPassword(c, "pw", h, 0x0001, time, crc));
  EXPECT_FALSE(TestZipPassword(c, "pw", h, 0x0009, time, crc));  // would want 0x5E
  EXPECT_EQ(h[11], 0xA1);
}

TEST(ZipPasswordTest, CheckByteIsTimeHighByteWithDataDescriptor) {
  auto enc = MakeHeader("pw", 0x5E);
  uint8_t h[24];
  std::copy(enc.begin(), enc.end(), h + 12);
  TZipCipher c;
  EXPECT_TRUE(TestZipPassword(c, "pw", h, 0x0009, 0x5E6F, 0));
  EXPECT_FALSE(TestZipPassword(c, "pw", h, 0x0001, 0x5E6F, 0));
}

TEST(ZipPasswordTest, EmptyPasswordFailsAndLeavesTheKeys) {
  // A header whose check byte an empty password would match if it were tried.
  TZipCipher probe;
  uint8_t zeros[12] = {};
  probe.DecipherBuffer(zeros, 12);
  uint8_t h[24] = {};
  TZipCipher c;
  c.Key0 = 1;
  EXPECT_FALSE(TestZipPassword(c, "", h, 0x0001, 0, static_cast<uint32_t>(zeros[11]) << 24));
  EXPECT_EQ(c.Key0, 1u);
}

TEST(ZipPasswordTest, RepeatedTestGivesTheSameResultAndDataKeys) {
  auto enc = MakeHeader("right", 0x42);
  uint8_t h[24];
  std::copy(enc.begin(), enc.end(), h + 12);
  TZipCipher a, b;
  EXPECT_TRUE(TestZipPassword(a, "right", h, 0, 0, 0x42000000));
  EXPECT_TRUE(TestZipPassword(b, "right", h, 0, 0, 0x42000000));
  EXPECT_EQ(a.Key0, b.Key0);
  EXPECT_EQ(a.Key1, b.Key1);
  EXPECT_EQ(a.Key2, b.Key2);
  // After the header the keys are exactly the writer's: the data deciphers.
  TZipCipher writer;
  writer.InitKeys("right");
  std::vector<uint8_t> header(12);
  std::copy(h, h + 12, header.begin());
  writer.EncipherBuffer(header.data(), 12);
  auto data = RandomBytes(500, 3), plain = data;
  writer.EncipherBuffer(data.data(), data.size());
  a.DecipherBuffer(data.data(), data.size());
  EXPECT_EQ(data, plain);
}

TEST(ZipPasswordTest, LongPasswordsAreTakenWhole) {
  const std::string a(300, 'a');
  std::string b = a;
  b[299] = 'b';  // differs only past character 255
  TZipCipher x, y;
  x.InitKeys(a);
  y.InitKeys(b);
  EXPECT_NE(x.Key0, y.Key0);
}

// ---- against Info-ZIP zip -----------------------------------------------------------------------

// Checks the right password on every member, that the deciphered data is the original, and that
// wrong passwords are refused (each passes the one-byte check with probability 1/256; such a pass
// must then fail the CRC).
void CheckArchive(const std::vector<uint8_t>& zip, const std::vector<uint8_t>& original,
                  const std::string& password, bool expectDataDescriptor) {
  const auto members = LocalMembers(zip);
  ASSERT_FALSE(members.empty());
  const TLocalMember& m = members.front();
  EXPECT_EQ(m.flags & 1, 1);
  EXPECT_EQ((m.flags & 8) != 0, expectDataDescriptor);
  TZipCipher cipher;
  ASSERT_TRUE(PasswordOpens(zip, m, password, cipher));
  std::vector<uint8_t> data(zip.begin() + static_cast<ptrdiff_t>(m.dataOffset + 12), zip.end());
  cipher.DecipherBuffer(data.data(), data.size());
  const auto plain = m.method == 8 ? ZlibInflateRaw(data)
                                   : std::vector<uint8_t>(data.begin(), data.begin() + m.size);
  EXPECT_EQ(plain, original);

  int refused = 0;
  for (int i = 0; i < 40; ++i) {
    const std::string wrong = "wrong" + std::to_string(i);
    TZipCipher c;
    if (!PasswordOpens(zip, m, wrong, c)) {
      ++refused;
      continue;
    }
    std::vector<uint8_t> d(zip.begin() + static_cast<ptrdiff_t>(m.dataOffset + 12), zip.end());
    c.DecipherBuffer(d.data(), d.size());
    if (m.method == 0) {
      EXPECT_NE(crc32(0, d.data(), static_cast<uInt>(original.size())),
                crc32(0, original.data(), static_cast<uInt>(original.size())));
    }
  }
  EXPECT_GE(refused, 35);
}

class InfoZipArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveZip()) GTEST_SKIP() << "Info-ZIP zip is not installed";
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i * 7919 % 10007) + "\n";
    original_.assign(text.begin(), text.end());
    std::ofstream(dir_.path() / "file", std::ios::binary) << text;
  }
  std::vector<uint8_t> Run(const std::string& command, const std::string& zipName) {
    const std::string cmd = "cd '" + dir_.path().string() + "' && " + command + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return ReadFile(dir_.path() / zipName);
  }
  TempDir dir_;
  std::vector<uint8_t> original_;
};

TEST_F(InfoZipArchives, PlainDeflatedMember) {
  // zip 3.0 marks encrypted members with a data descriptor, so the check byte is the time's.
  const auto zip = Run("zip -q -P secret a.zip file", "a.zip");
  CheckArchive(zip, original_, "secret", /*expectDataDescriptor=*/true);
}

TEST_F(InfoZipArchives, StoredMember) {
  const auto zip = Run("zip -q -0 -P secret s.zip file", "s.zip");
  CheckArchive(zip, original_, "secret", true);
}

TEST_F(InfoZipArchives, MemberFromAPipe) {
  const auto zip = Run("cat file | zip -q -P secret b.zip -", "b.zip");
  CheckArchive(zip, original_, "secret", true);
  // The check byte really is the time's high byte: the same header fails as a CRC-checked one
  // whenever the two high bytes differ.
  TLocalMember asCrc = LocalMembers(zip).front();
  asCrc.flags &= static_cast<uint16_t>(~8u);
  asCrc.crc = static_cast<uint32_t>(asCrc.time >> 8) << 24;
  TZipCipher c;
  EXPECT_TRUE(PasswordOpens(zip, asCrc, "secret", c));
}

TEST_F(InfoZipArchives, RandomContentsAndPasswordsRoundTrip) {
  // Info-ZIP enciphers, we decipher: random contents of random sizes (stored, so every data byte
  // is compared as enciphered; deflated, so the inflate checks the stream) under random passwords
  // of 1 to 80 printable characters. The seed is fixed so a failure can be replayed.
  std::mt19937 rng(20261210);
  const std::string alphabet =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 !#%&()*+,-./:;<=>?@[]^_{|}~";
  for (int round = 0; round < 10; ++round) {
    std::vector<uint8_t> contents(std::uniform_int_distribution<size_t>(1, 150000)(rng));
    for (auto& b : contents) b = static_cast<uint8_t>(rng());
    std::string password(std::uniform_int_distribution<size_t>(1, 80)(rng), ' ');
    for (auto& c : password) c = alphabet[rng() % alphabet.size()];
    const bool stored = round % 2 == 0;
    SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(contents.size()) +
                 " bytes, password '" + password + "'");
    {
      std::ofstream f(dir_.path() / "r", std::ios::binary);
      f.write(reinterpret_cast<const char*>(contents.data()),
              static_cast<std::streamsize>(contents.size()));
    }
    const std::string name = "r" + std::to_string(round) + ".zip";
    const auto zip =
        Run(std::string("zip -q ") + (stored ? "-0 " : "-9 ") + "-P '" + password + "' " + name +
                " r",
            name);
    CheckArchive(zip, contents, password, true);
  }
}

TEST(ZipPasswordTestdata, OtherToolsArchiveOpensWithItsPassword) {
  const fs::path path = fs::path(PARCELO_TESTDATA_DIR) / "zip" / "sc_zipcrypto.zip";
  if (!fs::exists(path)) GTEST_SKIP() << "testdata absent";
  const auto zip = ReadFile(path);
  const auto members = LocalMembers(zip);
  ASSERT_EQ(members.size(), 8u);
  for (const auto& m : members) {
    SCOPED_TRACE(m.name);
    ASSERT_EQ(m.flags & 9, 1);  // encrypted, CRC in the local header
    TZipCipher c;
    ASSERT_TRUE(PasswordOpens(zip, m, "test", c));
    ASSERT_EQ(m.method, 0);
    std::vector<uint8_t> data(
        zip.begin() + static_cast<ptrdiff_t>(m.dataOffset + 12),
        zip.begin() + static_cast<ptrdiff_t>(m.dataOffset + m.compressedSize));
    c.DecipherBuffer(data.data(), data.size());
    EXPECT_EQ(crc32(0, data.data(), static_cast<uInt>(data.size())), m.crc);
    // Fixed archive, so a fixed wrong password: it refuses every member.
    TZipCipher w;
    EXPECT_FALSE(PasswordOpens(zip, m, "Test", w));
  }
}

}  // namespace
