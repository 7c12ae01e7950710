// Tests of the checksums (against zlib and tar) and of the stream classes on real temporary files:
// handle and file streams, their error texts, copying with cancel, and the decompressing stream on
// members deflated by zlib between junk, enciphered or cut short. Speed is measured in bench/.
#include "archive/common/arvStreams.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "archive/messages/Err_Msgs.h"
#include "platform/seams.h"
#include "support/ZlibDeflate.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testsupport::ZlibDeflate;

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes v(n);
  for (auto& b : v) b = static_cast<uint8_t>(gen());
  return v;
}

// Half text, half noise, in pieces: compresses to a few input blocks of the stream.
Bytes MixedData(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes v;
  v.reserve(n);
  while (v.size() < n) {
    if (gen() & 1) {
      for (int i = 0; i < 1000; ++i) v.push_back(static_cast<uint8_t>(gen()));
    } else {
      const std::string line = "the quick brown fox " + std::to_string(gen() % 1000) + "\n";
      for (int i = 0; i < 40; ++i) v.insert(v.end(), line.begin(), line.end());
    }
  }
  v.resize(n);
  return v;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() /
            ("parcelo_streams_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  // The file's name in system syntax, as the engine takes it.
  std::string SystemPath(const std::string& name) const {
    return host::FromHostPath((path_ / name).string());
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

// An in-memory stream with a 64-bit seek, for sources and sinks that need no file.
class TMemStream : public TStream32 {
 public:
  explicit TMemStream(Bytes data = {}) : data_(std::move(data)) {}
  int32_t Read(void* buffer, int32_t count) override {
    const auto n = static_cast<int32_t>(
        std::clamp<int64_t>(static_cast<int64_t>(data_.size()) - pos_, 0, count));
    std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }
  int32_t Write(const void* buffer, int32_t count) override {
    if (static_cast<size_t>(pos_) + count > data_.size()) data_.resize(pos_ + count);
    std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
    pos_ += count;
    return count;
  }
  int64_t Seek64(int64_t offset, int origin) override {
    const int64_t base = origin == host::kSeekBegin     ? 0
                         : origin == host::kSeekCurrent ? pos_
                                                        : static_cast<int64_t>(data_.size());
    pos_ = base + offset;
    return pos_;
  }
  Bytes data_;
  int64_t pos_ = 0;

 protected:
  bool HasSeek64() const override { return true; }
};

// Streams that keep the base class's seeks: one with only a 32-bit seek, one with none.
class TSeek32Stream : public TStream32 {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t) override { return 0; }
  int32_t Seek(int32_t offset, int origin) override {
    lastOffset = offset;
    lastOrigin = origin;
    return origin == host::kSeekEnd ? 1000 + offset : offset;
  }
  int32_t lastOffset = -1;
  int lastOrigin = -1;
};
class TNoSeekStream : public TStream32 {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t) override { return 0; }
};

template <class E, class F>
void ExpectThrowWithText(F&& f, const std::string& text) {
  try {
    f();
    ADD_FAILURE() << "nothing raised, expected \"" << text << "\"";
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), text);
  }
}

uint32_t BitwiseCrc16(const uint8_t* p, size_t n) {
  uint32_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

// ---- checksums ----------------------------------------------------------------------------------

TEST(Checksums, CheckValuesOf123456789) {
  const auto* s = reinterpret_cast<const uint8_t*>("123456789");
  EXPECT_EQ(Crc32Update(0xFFFFFFFF, s, 9) ^ 0xFFFFFFFF, 0xCBF43926u);
  EXPECT_EQ(Crc16Update(0, s, 9), 0xBB3Du);
  EXPECT_EQ(Adler32(1, s, 9), 0x091E01DEu);
}

TEST(Checksums, TablesMatchZlibAndTheBitwiseDefinition) {
  const z_crc_t* zt = get_crc_table();
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(kCrc32Table[i], zt[i]) << i;
    const uint8_t b = static_cast<uint8_t>(i);
    ASSERT_EQ(kCrc16Table[i], BitwiseCrc16(&b, 1)) << i;
  }
}

TEST(Checksums, Crc32AndAdler32MatchZlibAtEveryShortLengthAndAlignment) {
  const Bytes buf = RandomBytes(320, 1);
  for (size_t off = 0; off < 16; ++off) {
    for (size_t len = 0; len + off <= 300 + 16 && len <= 300; ++len) {
      const uint8_t* p = buf.data() + off;
      ASSERT_EQ(Crc32Update(0xFFFFFFFF, p, len) ^ 0xFFFFFFFF, crc32(0, p, static_cast<uInt>(len)))
          << off << " " << len;
      ASSERT_EQ(Adler32(1, p, len), adler32(1, p, static_cast<uInt>(len))) << off << " " << len;
      ASSERT_EQ(Crc16Update(0x1234, p, len), [&] {
        uint32_t crc = 0x1234;
        for (size_t i = 0; i < len; ++i) {
          crc ^= p[i];
          for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        }
        return crc;
      }());
    }
  }
}

TEST(Checksums, LargeBuffersInPiecesMatchZlib) {
  const Bytes buf = RandomBytes((5 << 20) + 7, 2);
  const uint8_t* p = buf.data() + 1;
  const size_t n = buf.size() - 1;
  const uint32_t zc = crc32(0, p, static_cast<uInt>(n));
  const uint32_t za = adler32(1, p, static_cast<uInt>(n));
  EXPECT_EQ(Crc32Update(0xFFFFFFFF, p, n) ^ 0xFFFFFFFF, zc);
  EXPECT_EQ(Adler32(1, p, n), za);
  // Uneven pieces: the running values carry across calls.
  uint32_t c = 0xFFFFFFFF, a = 1;
  size_t done = 0, step = 1;
  while (done < n) {
    const size_t piece = std::min(step, n - done);
    c = Crc32Update(c, p + done, piece);
    a = Adler32(a, p + done, piece);
    done += piece;
    step = step * 5 + 3;
  }
  EXPECT_EQ(c ^ 0xFFFFFFFF, zc);
  EXPECT_EQ(a, za);
}

TEST(Checksums, Adler32WorstCaseSumsDoNotOverflow) {
  const Bytes ff(20 << 20, 0xFF);
  EXPECT_EQ(Adler32(1, ff.data(), ff.size()), adler32(1, ff.data(), static_cast<uInt>(ff.size())));
  // From a start value near the modulus.
  const uint32_t start = (65520u << 16) | 65520u;
  EXPECT_EQ(Adler32(start, ff.data(), 100000), adler32(start, ff.data(), 100000));
}

TEST(Checksums, MissingBuffers) {
  EXPECT_EQ(Adler32(0x12345678, nullptr, 10), 1u);
  EXPECT_EQ(Crc32Update(0xABCDEF01, nullptr, 10), 0xABCDEF01u);
  EXPECT_EQ(Crc16Update(0xABCD, nullptr, 10), 0xABCDu);
}

TEST(Checksums, RunningChecksumsSelectByKind) {
  const auto* s = reinterpret_cast<const uint8_t*>("123456789");
  TRunningChecksums r;
  r.UpdateCrc(kCrcKind32, s, 9);
  r.UpdateCrc(kCrcKind16, s, 9);
  r.UpdateCrc(0, s, 9);
  r.UpdateCrc(8, s, 9);
  r.UpdateCrc(kCrcKind32, s, 0);
  EXPECT_EQ(r.Crc32 ^ 0xFFFFFFFF, 0xCBF43926u);
  EXPECT_EQ(r.Crc16, 0xBB3Du);
}

class TarHeaders : public ::testing::TestWithParam<const char*> {};

TEST_P(TarHeaders, HeaderWrittenByTarPassesAndAnyChangeFails) {
  if (std::system("tar --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "tar not installed";
  TempDir dir;
  WriteFile(dir / "member.txt", RandomBytes(1234, 5));
  const std::string cmd = "cd '" + (dir / "").string() + "' && tar --format=" + GetParam() +
                          " -cf t.tar member.txt 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  Bytes tar = ReadFile(dir / "t.tar");
  ASSERT_GE(tar.size(), 512u);
  EXPECT_TRUE(TarHeaderSumOk(tar.data()));
  Bytes changed(tar.begin(), tar.begin() + 512);
  changed[0] ^= 1;
  EXPECT_FALSE(TarHeaderSumOk(changed.data()));
  // The checksum field itself does not take part: only its stored value matters.
  Bytes empty(tar.begin(), tar.begin() + 512);
  std::fill(empty.begin() + 148, empty.begin() + 156, ' ');
  EXPECT_FALSE(TarHeaderSumOk(empty.data()));
  Bytes zero(512, 0);
  EXPECT_FALSE(TarHeaderSumOk(zero.data()));
}
INSTANTIATE_TEST_SUITE_P(Formats, TarHeaders, ::testing::Values("ustar", "gnu", "v7", "posix"));

// ---- TStream32 and the handle and file streams --------------------------------------------------

TEST(FileStream, MissingFileLeavesANegativeHandleAndRaisesNothing) {
  TempDir dir;
  std::unique_ptr<TFileStream32> s;
  EXPECT_NO_THROW(s = std::make_unique<TFileStream32>(dir.SystemPath("absent.bin"), 0x20));
  EXPECT_LT(s->Handle(), 0);
  EXPECT_EQ(s->Read(nullptr, 0), 0);
  EXPECT_NO_THROW(s.reset());
}

TEST(FileStream, WriteSeekReadAndShortReads) {
  TempDir dir;
  const Bytes data = RandomBytes(100000, 3);
  {
    TFileStream32 out(dir.SystemPath("f.bin"), fmCreate);
    ASSERT_GE(out.Handle(), 0);
    out.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    EXPECT_EQ(out.Position(), 100000);
    EXPECT_EQ(out.Size(), 100000);
  }
  EXPECT_EQ(ReadFile(dir / "f.bin"), data);

  TFileStream32 in(dir.SystemPath("f.bin"), host::fmOpenRead | host::fmShareDenyWrite);
  ASSERT_GE(in.Handle(), 0);
  EXPECT_EQ(in.Seek(1000, host::kSeekBegin), 1000);
  EXPECT_EQ(in.Size(), 100000);
  EXPECT_EQ(in.Position(), 1000);  // GetSize leaves the position where it was
  Bytes got(500);
  in.ReadBuffer(got.data(), 500);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + 1000));
  EXPECT_EQ(in.Seek64(-100, host::kSeekEnd), 99900);
  EXPECT_EQ(in.Read(got.data(), 500), 100);  // Read reports short counts
  in.SetPosition(99900);
  ExpectThrowWithText<EReadError>([&] { in.ReadBuffer(got.data(), 500); }, "Stream read error");
  EXPECT_NO_THROW(in.ReadBuffer(got.data(), 0));
  // Opened for reading only: writes take nothing.
  EXPECT_EQ(in.Write(got.data(), 10), 0);
  ExpectThrowWithText<EWriteError>([&] { in.WriteBuffer(got.data(), 10); }, "Stream write error");
}

// The archive stream serves reads from a window: every mix of small, large, sequential and far
// reads and seeks gives exactly the file's bytes and the positions a plain file stream gives.
TEST(FileStream, ArchiveStreamReadsLikeAPlainFileStream) {
  TempDir dir;
  const Bytes data = RandomBytes(3 * TArchiveFileStream::kWindowSize + 777, 5);
  {
    std::ofstream f(dir / "a.bin", std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  TArchiveFileStream windowed(dir.SystemPath("a.bin"));
  TFileStream32 plain(dir.SystemPath("a.bin"), host::fmOpenRead | host::fmShareDenyWrite);
  ASSERT_GE(windowed.Handle(), 0);
  const int64_t size = static_cast<int64_t>(data.size());
  std::mt19937 gen(11);
  Bytes a(150000), b(a.size());
  for (int step = 0; step < 4000; ++step) {
    const int what = static_cast<int>(gen() % 6);
    if (what == 0) {  // far away, or past the end
      const int64_t to = static_cast<int64_t>(gen() % static_cast<uint32_t>(size + 100));
      ASSERT_EQ(windowed.Seek64(to, host::kSeekBegin), plain.Seek64(to, host::kSeekBegin));
    } else if (what == 1) {  // from the end, or a step back
      const int64_t by = -static_cast<int64_t>(gen() % 5000);
      const int origin = gen() % 2 ? host::kSeekEnd : host::kSeekCurrent;
      ASSERT_EQ(windowed.Seek64(by, origin), plain.Seek64(by, origin)) << step;
    } else {  // reads of every size: a header, a name, a member, more than a window
      const uint32_t sizes[] = {4, 30, 46, 4096, 40000, 140000};
      const int32_t count = static_cast<int32_t>(1 + gen() % sizes[gen() % 6]);
      const int32_t got = windowed.ReadUpTo(a.data(), count);
      ASSERT_EQ(got, plain.ReadUpTo(b.data(), count)) << step;
      ASSERT_TRUE(std::equal(a.begin(), a.begin() + got, b.begin())) << step;
    }
    ASSERT_EQ(windowed.Position(), plain.Position()) << step;
  }
  // ReadAt goes where it is told and stays behind what it read; a negative position is refused.
  EXPECT_EQ(windowed.ReadAt(size - 10, a.data(), 100), 10);
  EXPECT_TRUE(std::equal(a.begin(), a.begin() + 10, data.end() - 10));
  EXPECT_EQ(windowed.Position(), size);
  EXPECT_EQ(windowed.Seek64(-1, host::kSeekBegin), -1);
  EXPECT_EQ(windowed.Seek(-5, host::kSeekCurrent), static_cast<int32_t>(size - 5));
  EXPECT_EQ(windowed.Read(a.data(), 100), 5);
}

TEST(FileStream, SetSizeTruncatesAndExtends) {
  TempDir dir;
  TFileStream32 f(dir.SystemPath("s.bin"), fmCreate);
  const Bytes data = RandomBytes(5000, 4);
  f.WriteBuffer(data.data(), 5000);
  f.SetSize(3000);
  EXPECT_EQ(f.Size(), 3000);
  EXPECT_EQ(f.Position(), 3000);
  f.SetSize64(int64_t{3} << 30);  // beyond 32 bits on a 64-bit stream: fine (sparse)
  EXPECT_EQ(f.Size(), int64_t{3} << 30);
  EXPECT_EQ(f.Seek64(0, host::kSeekEnd), int64_t{3} << 30);
  // The 32-bit seek cannot report that position.
  EXPECT_THROW(f.Seek(0, host::kSeekEnd), ERangeError);
  f.SetSize64(10);
  EXPECT_EQ(fs::file_size(dir / "s.bin"), 10u);
}

TEST(FileStream, SetSizeOnABadHandleRaises) {
  THandleStream32 bad(host::kInvalidHandle);
  EXPECT_THROW(bad.SetSize64(100), EStreamError);
  EXPECT_EQ(bad.GetSize(), 0);
  Bytes b(10);
  EXPECT_EQ(bad.Read(b.data(), 10), 0);
  EXPECT_EQ(bad.Write(b.data(), 10), 0);
}

TEST(FileStream, DiskFullGivesTheDiskFullText) {
  TempDir dir;
  TFileStream32 f(dir.SystemPath("full.bin"), fmCreate);
  ASSERT_GE(f.Handle(), 0);
  const Bytes data = RandomBytes(4096, 5);
  host::TSeams seams;
  seams.DiskFullAfter = 1000;
  host::ScopedSeams scope(seams);
  ExpectThrowWithText<EWriteError>([&] { f.WriteBuffer(data.data(), 4096); }, LoadStr(25160));
  EXPECT_EQ(LoadStr(25160), "Disk full");
}

TEST(FileStream, ShortWriteWithoutDiskFullIsAStreamWriteError) {
  TempDir dir;
  TFileStream32 f(dir.SystemPath("short.bin"), fmCreate);
  const Bytes data = RandomBytes(4096, 6);
  host::TSeams seams;
  seams.ShortWriteAfter = 1000;
  host::ScopedSeams scope(seams);
  host::SetLastError(host::kErrorDiskFull);  // stale from an earlier failure
  ExpectThrowWithText<EWriteError>([&] { f.WriteBuffer(data.data(), 4096); }, "Stream write error");
}

TEST(StreamBase, RangeChecksOfThe64BitForms) {
  TSeek32Stream s;
  ExpectThrowWithText<ERangeError>([&] { s.SetSize64(int64_t{1} << 31); }, "Range check error");
  EXPECT_THROW(s.SetSize64(-(int64_t{1} << 31) - 1), ERangeError);
  EXPECT_NO_THROW(s.SetSize64(-(int64_t{1} << 31)));
  EXPECT_NO_THROW(s.SetSize64((int64_t{1} << 31) - 1));
  ExpectThrowWithText<ERangeError>([&] { s.Seek64(int64_t{1} << 32, host::kSeekBegin); },
                                   "Range check error");
  // In range, the 64-bit form goes to the class's 32-bit seek.
  EXPECT_EQ(s.Seek64(-5, host::kSeekEnd), 995);
  EXPECT_EQ(s.lastOffset, -5);
  EXPECT_EQ(s.lastOrigin, host::kSeekEnd);
  s.Seek64(0, host::kSeekBegin);
  EXPECT_EQ(s.GetSize(), 1000);
}

TEST(StreamBase, ClassWithoutSeekSaysSo) {
  TNoSeekStream s;
  ExpectThrowWithText<EStreamError>([&] { s.Seek(0, host::kSeekBegin); }, "Seek not implemented");
  ExpectThrowWithText<EStreamError>([&] { s.Position(); }, "Seek not implemented");
  EXPECT_THROW(s.GetSize(), EStreamError);
}

class CopyFromTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::TShellHooks hooks;
    hooks.ProcessMessages = [this] {
      ++pumps_;
      if (cancelAtPump_ != 0 && pumps_ == cancelAtPump_) cancel_ = 1;
    };
    host::InstallShellHooks(hooks);
  }
  void TearDown() override { host::InstallShellHooks({}); }
  int pumps_ = 0;
  int cancelAtPump_ = 0;
  uint8_t cancel_ = 0;
  TempDir dir_;
};

TEST_F(CopyFromTest, CountZeroCopiesTheWholeSourceFromItsStart) {
  TMemStream src(RandomBytes(200000, 7));
  src.SetPosition(5000);
  TFileStream32 dst(dir_.SystemPath("copy.bin"), fmCreate);
  int progressCalls = 0;
  EXPECT_EQ(dst.CopyFrom(
                src, &cancel_, [&](TStream32&) { ++progressCalls; }, 0),
            200000);
  EXPECT_EQ(pumps_, 4);  // 61440-byte chunks, messages pumped before each
  EXPECT_TRUE(dst.OnProgress);
  EXPECT_EQ(ReadFile(dir_ / "copy.bin"), src.data_);
}

TEST_F(CopyFromTest, CountCopiesFromTheCurrentPosition) {
  TMemStream src(RandomBytes(200000, 8));
  src.SetPosition(1000);
  TMemStream dst;
  EXPECT_EQ(dst.CopyFrom(src, nullptr, nullptr, 130000), 130000);
  EXPECT_TRUE(std::equal(dst.data_.begin(), dst.data_.end(), src.data_.begin() + 1000));
  EXPECT_EQ(dst.data_.size(), 130000u);
  // More than the source holds: the read error passes out.
  src.SetPosition(190000);
  EXPECT_THROW(dst.CopyFrom(src, nullptr, nullptr, 20000), EReadError);
}

TEST_F(CopyFromTest, CancelStopsBeforeTheNextChunk) {
  TMemStream src(RandomBytes(300000, 9));
  TMemStream dst;
  cancelAtPump_ = 2;
  EXPECT_EQ(dst.CopyFrom(src, &cancel_, nullptr, 300000), TStream32::kCopyChunkSize);
  EXPECT_EQ(dst.data_.size(), static_cast<size_t>(TStream32::kCopyChunkSize));
  // Already set: nothing at all.
  TMemStream dst2;
  EXPECT_EQ(dst2.CopyFrom(src, &cancel_, nullptr, 300000), 0);
  EXPECT_TRUE(dst2.data_.empty());
}

// ---- TDecompressStream --------------------------------------------------------------------------

class DecompressTest : public ::testing::Test {
 protected:
  // Writes junk + member + junk and returns the member's offset.
  int64_t MakeArchive(const Bytes& member, size_t leading = 1000, size_t trailing = 5000) {
    Bytes file = RandomBytes(leading, 11);
    file.insert(file.end(), member.begin(), member.end());
    const Bytes tail = RandomBytes(trailing, 12);
    file.insert(file.end(), tail.begin(), tail.end());
    WriteFile(dir_ / "a.bin", file);
    return static_cast<int64_t>(leading);
  }
  // Reads the stream to its end in pieces of `chunk`; stops at a negative result.
  static Bytes Drain(TDecompressStream& ds, int32_t chunk, int* lastResult = nullptr) {
    Bytes out;
    Bytes buf(static_cast<size_t>(chunk));
    while (!ds.EndOfStream()) {
      const uint64_t before = ds.TotalOut();
      const int32_t n = ds.Read(buf.data(), chunk);
      if (lastResult) *lastResult = n;
      if (n <= 0) break;
      EXPECT_EQ(n, chunk);  // the count asked for, even at the end
      out.insert(out.end(), buf.begin(),
                 buf.begin() + static_cast<ptrdiff_t>(ds.TotalOut() - before));
    }
    return out;
  }
  TempDir dir_;
};

TEST_F(DecompressTest, MemberBetweenJunkDecodesAndLeavesTheSourceAfterIt) {
  const Bytes data = MixedData(600000, 1);
  const Bytes deflated = ZlibDeflate(data);
  ASSERT_GT(deflated.size(), 3u * TCustomStream::kInputBufferSize);
  for (int32_t chunk : {32768, 1000, 1 << 20}) {
    SCOPED_TRACE(chunk);
    const int64_t start = MakeArchive(deflated);
    TFileStream32 src(dir_.SystemPath("a.bin"), 0x20);
    ASSERT_GE(src.Handle(), 0);
    src.SetPosition(start);
    {
      TDecompressStream ds(src, -15);
      int blocks = 0;
      ds.OnProgress = [&](TStream32&) { ++blocks; };
      EXPECT_EQ(Drain(ds, chunk), data);
      EXPECT_TRUE(ds.EndOfStream());
      EXPECT_EQ(ds.TotalOut(), data.size());
      // 65536-byte input blocks, progress after each; none read past the one holding the end.
      EXPECT_EQ(blocks, static_cast<int>((deflated.size() + 65535) / 65536));
      // Further reads after the end change nothing.
      uint8_t b[10];
      EXPECT_EQ(ds.Read(b, 10), 10);
      EXPECT_EQ(ds.TotalOut(), data.size());
    }
    EXPECT_EQ(src.Position(), start + static_cast<int64_t>(deflated.size()));
  }
}

TEST_F(DecompressTest, MemberAtTheVeryEndOfTheFile) {
  const Bytes data = MixedData(70000, 2);
  const Bytes deflated = ZlibDeflate(data);
  const int64_t start = MakeArchive(deflated, 17, 0);
  TFileStream32 src(dir_.SystemPath("a.bin"), 0x20);
  src.SetPosition(start);
  {
    TDecompressStream ds(src, -15);
    EXPECT_EQ(Drain(ds, 32768), data);
  }
  EXPECT_EQ(src.Position(), start + static_cast<int64_t>(deflated.size()));
}

TEST_F(DecompressTest, EmptyMember) {
  const Bytes deflated = ZlibDeflate({});
  const int64_t start = MakeArchive(deflated, 3, 100);
  TFileStream32 src(dir_.SystemPath("a.bin"), 0x20);
  src.SetPosition(start);
  {
    TDecompressStream ds(src, -15);
    uint8_t b[64];
    EXPECT_EQ(ds.Read(b, 64), 64);
    EXPECT_TRUE(ds.EndOfStream());
    EXPECT_EQ(ds.TotalOut(), 0u);
  }
  EXPECT_EQ(src.Position(), start + static_cast<int64_t>(deflated.size()));
}

// The member as an encrypting writer lays it out: 12-byte header, then the deflate data, all
// enciphered in one run of the keys.
Bytes EncryptMember(const Bytes& deflated, const std::string& password) {
  Bytes member = RandomBytes(12, 13);
  member.insert(member.end(), deflated.begin(), deflated.end());
  TZipCipher c;
  c.InitKeys(password);
  c.EncipherBuffer(member.data(), member.size());
  return member;
}

TEST_F(DecompressTest, EncryptedMemberIsDecipheredBlockByBlock) {
  const Bytes data = MixedData(400000, 3);
  const Bytes deflated = ZlibDeflate(data);
  const int64_t start = MakeArchive(EncryptMember(deflated, "pw"));
  TFileStream32 src(dir_.SystemPath("a.bin"), 0x20);
  src.SetPosition(start);
  TZipCipher cipher;
  cipher.InitKeys("pw");
  uint8_t header[12];
  src.ReadBuffer(header, 12);
  cipher.DecipherBuffer(header, 12);
  {
    TDecompressStream ds(src, -15, false, &cipher);
    EXPECT_EQ(Drain(ds, 32768), data);
    // Seek(0, begin) starts over, keys included.
    EXPECT_EQ(ds.Seek(0, host::kSeekBegin), 0);
    EXPECT_FALSE(ds.EndOfStream());
    EXPECT_EQ(Drain(ds, 50000), data);
  }
  EXPECT_EQ(src.Position(), start + 12 + static_cast<int64_t>(deflated.size()));
}

TEST_F(DecompressTest, ForwardSeeksDiscardAndOthersDoNothing) {
  const Bytes data = MixedData(300000, 4);
  const int64_t start = MakeArchive(ZlibDeflate(data));
  TFileStream32 src(dir_.SystemPath("a.bin"), 0x20);
  src.SetPosition(start);
  TDecompressStream ds(src, -15);
  EXPECT_EQ(ds.Seek64(100001, host::kSeekCurrent), 100001);
  Bytes buf(1000);
  ASSERT_EQ(ds.Read(buf.data(), 1000), 1000);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), data.begin() + 100001));
  EXPECT_EQ(ds.Seek(150000, host::kSeekBegin), 150000);
  EXPECT_EQ(ds.Seek(1000, host::kSeekBegin), 150000);  // backwards: nothing
  EXPECT_EQ(ds.Seek(-10, host::kSeekCurrent), 150000);
  EXPECT_EQ(ds.Seek(0, host::kSeekEnd), 150000);
  EXPECT_EQ(ds.Position(), 150000);
  ASSERT_EQ(ds.Read(buf.data(), 1000), 1000);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), data.begin() + 150000));
  // Past the end: stops at the end of the data.
  EXPECT_EQ(ds.Seek64(10000000, host::kSeekBegin), 300000);
  EXPECT_TRUE(ds.EndOfStream());
  EXPECT_THROW(ds.Seek64(int64_t{1} << 31, host::kSeekCurrent), ERangeError);
  EXPECT_EQ(ds.Write(buf.data(), 10), -1);
}

TEST_F(DecompressTest, SourceMovedBetweenReadsIsPutBack) {
  const Bytes data = MixedData(300000, 5);
  const int64_t start = MakeArchive(ZlibDeflate(data));
  TFileStream32 src(dir_.SystemPath("a.bin"), 0x20);
  src.SetPosition(start);
  TDecompressStream ds(src, -15);
  Bytes out, buf(20000);
  while (!ds.EndOfStream()) {
    const uint64_t before = ds.TotalOut();
    ASSERT_EQ(ds.Read(buf.data(), 20000), 20000);
    out.insert(out.end(), buf.begin(),
               buf.begin() + static_cast<ptrdiff_t>(ds.TotalOut() - before));
    src.SetPosition(0);  // someone else reads the archive in between
  }
  EXPECT_EQ(out, data);
}

TEST_F(DecompressTest, TruncatedMemberGivesBufferError) {
  const Bytes data = MixedData(300000, 6);
  Bytes deflated = ZlibDeflate(data);
  deflated.resize(deflated.size() / 3);
  const int64_t start = MakeArchive(deflated, 10, 0);
  TFileStream32 src(dir_.SystemPath("a.bin"), 0x20);
  src.SetPosition(start);
  TDecompressStream ds(src, -15);
  int last = 0;
  const Bytes out = Drain(ds, 32768, &last);
  EXPECT_EQ(last, Z_BUF_ERROR);
  EXPECT_FALSE(ds.EndOfStream());
  EXPECT_LT(out.size(), data.size());
  EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
  // The buffer error is not sticky by itself: still no data, still -5.
  uint8_t b[100];
  EXPECT_EQ(ds.Read(b, 100), Z_BUF_ERROR);
}

TEST_F(DecompressTest, CorruptDataGivesTheEngineCode) {
  const int64_t start = MakeArchive(Bytes(100, 0xFF), 10, 0);  // block type 3
  TFileStream32 src(dir_.SystemPath("a.bin"), 0x20);
  src.SetPosition(start);
  TDecompressStream ds(src, -15);
  uint8_t b[100];
  EXPECT_EQ(ds.Read(b, 100), Z_DATA_ERROR);
  Bytes scrap(10);
  EXPECT_THROW(ds.ReadBuffer(scrap.data(), 10), EReadError);
}

// zlib data that asks for a preset dictionary cannot be decoded: Read gives an error code, never
// the dictionary request's positive code (which a caller would take for a byte count).
TEST_F(DecompressTest, PresetDictionaryIsAnErrorNotACount) {
  const std::string dictionary = "a preset dictionary";
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 6), Z_OK);
  ASSERT_EQ(deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary.data()),
                                 static_cast<uInt>(dictionary.size())),
            Z_OK);
  Bytes input(5000, 'a');
  Bytes wrapped(deflateBound(&z, static_cast<uLong>(input.size())));
  z.next_in = input.data();
  z.avail_in = static_cast<uInt>(input.size());
  z.next_out = wrapped.data();
  z.avail_out = static_cast<uInt>(wrapped.size());
  ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  wrapped.resize(z.total_out);
  deflateEnd(&z);
  TMemStream src(wrapped);
  TDecompressStream ds(src, 15);
  uint8_t b[100];
  EXPECT_LT(ds.Read(b, 100), 0);
  EXPECT_FALSE(ds.EndOfStream());
}

TEST_F(DecompressTest, BadWindowBitsIsReturnedByRead) {
  TMemStream src(ZlibDeflate(Bytes(10, 1)));
  TDecompressStream ds(src, -3);
  uint8_t b[10];
  EXPECT_EQ(ds.Read(b, 10), Z_STREAM_ERROR);
}

TEST_F(DecompressTest, CancelStopsBeforeTheNextInputBlock) {
  const Bytes data = MixedData(600000, 7);
  const Bytes deflated = ZlibDeflate(data);
  TMemStream src(deflated);
  uint8_t cancel = 0;
  TDecompressStream ds(src, -15, false, nullptr, &cancel);
  int blocks = 0;
  ds.OnProgress = [&](TStream32&) {
    if (++blocks == 2) cancel = 1;
  };
  Bytes buf(1 << 20);
  EXPECT_EQ(ds.Read(buf.data(), 1 << 20), 0);
  EXPECT_EQ(blocks, 2);
  EXPECT_GT(ds.TotalOut(), 0u);
  EXPECT_EQ(src.pos_, 2 * TCustomStream::kInputBufferSize);
  EXPECT_TRUE(
      std::equal(buf.begin(), buf.begin() + static_cast<ptrdiff_t>(ds.TotalOut()), data.begin()));
}

TEST_F(DecompressTest, AttachSourceContinuesOnTheNextVolume) {
  const Bytes data = MixedData(300000, 8);
  const Bytes deflated = ZlibDeflate(data);
  const size_t cut = deflated.size() / 2 + 123;
  TMemStream first(Bytes(deflated.begin(), deflated.begin() + static_cast<ptrdiff_t>(cut)));
  TMemStream second(Bytes(deflated.begin() + static_cast<ptrdiff_t>(cut), deflated.end()));
  TDecompressStream ds(first, -15);
  Bytes out, buf(32768);
  for (;;) {
    const uint64_t before = ds.TotalOut();
    const int32_t n = ds.Read(buf.data(), 32768);
    out.insert(out.end(), buf.begin(),
               buf.begin() + static_cast<ptrdiff_t>(ds.TotalOut() - before));
    if (n == Z_BUF_ERROR) {
      ds.AttachSource(second, 0);
      continue;
    }
    ASSERT_GT(n, 0);
    if (ds.EndOfStream()) break;
  }
  EXPECT_EQ(out, data);
}

}  // namespace
