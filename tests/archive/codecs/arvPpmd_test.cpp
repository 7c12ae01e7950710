// The PPMd (zip method 98) decoder against members 7-Zip writes: byte-exact over orders, memory
// sizes and both restoration methods, with models that fill their memory many times; then the
// header's checks, input that runs out, data that goes on past the size, damaged data, reads of
// any size and cancelling.
#include "archive/codecs/arvPpmd.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool Have7zz() { return std::system("command -v 7zz >/dev/null 2>&1") == 0; }

// Text of words drawn with skewed odds, lines of varying length, and stretches of binary records:
// enough repetition at every order for the model to fill a small memory many times over.
Bytes MakeInput(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> words;
  for (int i = 0; i < 3000; ++i) {
    std::string w;
    const int n = 2 + static_cast<int>(rng() % 9);
    for (int k = 0; k < n; ++k) w += static_cast<char>('a' + rng() % 26);
    if (rng() % 7 == 0) w[0] = static_cast<char>(w[0] - 32);
    words.push_back(w);
  }
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    if (rng() % 40 == 0) {  // a binary record run
      const int records = 20 + static_cast<int>(rng() % 200);
      for (int r = 0; r < records; ++r) {
        const uint32_t v = r * 1000003u + (rng() % 16);
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
        out.push_back(static_cast<uint8_t>(rng()));
        out.push_back(0xFF);
      }
      continue;
    }
    const int n = 3 + static_cast<int>(rng() % 14);
    for (int k = 0; k < n; ++k) {
      const double u = std::generate_canonical<double, 32>(rng);
      const auto& w = words[static_cast<size_t>(u * u * u * words.size())];
      out.insert(out.end(), w.begin(), w.end());
      out.push_back(' ');
    }
    out.push_back('\n');
  }
  out.resize(size);
  return out;
}

// The data of the one member of a zip 7-Zip wrote for a file (sizes in its local header).
struct TMember {
  Bytes Data;
  uint64_t Size = 0;
  uint16_t Method = 0;
};

TMember PackWith7zz(const Bytes& input, const std::string& options) {
  parcelo::test::TempDir dir("ppmd");
  dir.WriteFile("in.bin", std::string(input.begin(), input.end()));
  const std::string cmd = "cd '" + dir.HostPath() + "' && 7zz a -tzip -mm=PPMd " + options +
                          " out.zip in.bin >/dev/null 2>&1";
  TMember m;
  if (std::system(cmd.c_str()) != 0) return m;
  const std::string zip = dir.ReadFile("out.zip");
  if (zip.size() < 30) return m;
  auto u16 = [&](size_t at) { return static_cast<uint16_t>(uint8_t(zip[at]) | uint8_t(zip[at + 1]) << 8); };
  auto u32 = [&](size_t at) { return static_cast<uint32_t>(u16(at) | u16(at + 2) << 16); };
  m.Method = u16(8);
  const uint32_t packed = u32(18);
  m.Size = u32(22);
  const size_t start = 30 + u16(26) + u16(28);
  if (start + packed > zip.size()) return m;
  m.Data.assign(zip.begin() + static_cast<ptrdiff_t>(start),
                zip.begin() + static_cast<ptrdiff_t>(start + packed));
  return m;
}

struct TRun {
  TPpmdResult Result;
  Bytes Out;
};

// Decodes `data` with reads of at most `chunk` bytes.
TRun Decode(const Bytes& data, uint64_t size, size_t chunk = 1 << 20,
            const uint8_t* cancel = nullptr) {
  TRun run;
  size_t at = 0;
  TCodecIo io;
  io.Read = [&](uint8_t* buffer, size_t count) {
    const size_t n = std::min({count, chunk, data.size() - at});
    if (n != 0) std::memcpy(buffer, data.data() + at, n);
    at += n;
    return n;
  };
  io.Write = [&](const uint8_t* bytes, size_t count) {
    run.Out.insert(run.Out.end(), bytes, bytes + count);
  };
  io.Cancel = cancel;
  run.Result = DecodePpmdMember(io, size);
  return run;
}

class PpmdOracle : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Have7zz()) GTEST_SKIP() << "7zz not installed";
  }
};

// Every order band and both restoration methods; 1 MiB models over 1 MB fill up and are
// restarted or cut down many times, 16 MiB ones never.
TEST_F(PpmdOracle, DecodesSevenZipMembersByteExact) {
  const Bytes input = MakeInput(1000000, 7);
  struct TCase {
    const char* options;
    unsigned order;
    unsigned restoration;
  };
  const TCase cases[] = {
      {"-mx=5 -mo=2 -mmem=1m", 2, 0},    {"-mx=5 -mo=6 -mmem=1m", 6, 0},
      {"-mx=9 -mo=16 -mmem=1m", 16, 1},  {"-mx=9 -mo=4 -mmem=2m", 4, 1},
      {"-mx=7 -mo=10 -mmem=16m", 10, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.options);
    const TMember m = PackWith7zz(input, c.options);
    ASSERT_EQ(m.Method, 98);
    ASSERT_EQ(m.Size, input.size());
    const TRun run = Decode(m.Data, m.Size);
    EXPECT_EQ(run.Result.Status, TCodecStatus::Ok);
    EXPECT_EQ(run.Result.Params.Order, c.order);
    EXPECT_EQ(run.Result.Params.Restoration, c.restoration);
    EXPECT_EQ(run.Result.Consumed, m.Data.size());
    EXPECT_TRUE(run.Out == input);
  }
}

TEST_F(PpmdOracle, SmallMembersAndReadsOfAnySize) {
  for (size_t size : {size_t{1}, size_t{2}, size_t{100}, size_t{70000}}) {
    SCOPED_TRACE(size);
    const Bytes input = MakeInput(size, static_cast<uint32_t>(size));
    const TMember m = PackWith7zz(input, "-mx=9");
    if (m.Method != 98) continue;  // stored: too small to gain
    for (size_t chunk : {size_t{1}, size_t{3}, size_t{65536}}) {
      const TRun run = Decode(m.Data, m.Size, chunk);
      EXPECT_EQ(run.Result.Status, TCodecStatus::Ok);
      EXPECT_TRUE(run.Out == input);
    }
  }
}

// Cut anywhere, the member ends Truncated with what the data before the cut gives (the last byte
// only closes the end mark 7-Zip writes, so all of the output comes before it); told a smaller size
// it finds the symbols that go on (Corrupt); told a larger one it runs out (Truncated).
TEST_F(PpmdOracle, CutShortOrSizedWrongEndsWithTheRightStatus) {
  const Bytes input = MakeInput(200000, 3);
  const TMember m = PackWith7zz(input, "-mx=9 -mo=8 -mmem=1m");
  ASSERT_EQ(m.Method, 98);
  for (size_t cut : {size_t{0}, size_t{1}, size_t{2}, size_t{4}, size_t{5}, m.Data.size() / 3,
                     m.Data.size() - 1}) {
    SCOPED_TRACE(cut);
    const Bytes part(m.Data.begin(), m.Data.begin() + static_cast<ptrdiff_t>(cut));
    const TRun run = Decode(part, m.Size);
    EXPECT_EQ(run.Result.Status, TCodecStatus::Truncated);
    if (cut < m.Data.size() / 2) {
      EXPECT_LT(run.Out.size(), input.size() / 2);
    }
    EXPECT_TRUE(std::equal(run.Out.begin(), run.Out.end(), input.begin()));
  }
  EXPECT_EQ(Decode(m.Data, m.Size - 1).Result.Status, TCodecStatus::Corrupt);
  EXPECT_EQ(Decode(m.Data, m.Size + 1).Result.Status, TCodecStatus::Truncated);
}

// Damaged bytes never crash or hang, and never give more than the size; most are caught here,
// the rest by the member's checksum.
TEST_F(PpmdOracle, DamagedDataStaysBounded) {
  const Bytes input = MakeInput(100000, 5);
  const TMember m = PackWith7zz(input, "-mx=9 -mo=12 -mmem=1m");
  ASSERT_EQ(m.Method, 98);
  std::mt19937 rng(11);
  int caught = 0;
  for (int i = 0; i < 40; ++i) {
    Bytes bad = m.Data;
    const size_t at = 2 + rng() % (bad.size() - 2);
    bad[at] = static_cast<uint8_t>(bad[at] ^ (1 + rng() % 255));
    const TRun run = Decode(bad, m.Size);
    EXPECT_LE(run.Out.size(), input.size());
    if (run.Result.Status != TCodecStatus::Ok) ++caught;
    else EXPECT_FALSE(run.Out == input);
  }
  EXPECT_GT(caught, 20);
}

TEST_F(PpmdOracle, CancelStopsBeforeTheNextBlock) {
  const Bytes input = MakeInput(300000, 9);
  const TMember m = PackWith7zz(input, "-mx=5");
  ASSERT_EQ(m.Method, 98);
  uint8_t cancel = 0;
  size_t at = 0;
  size_t written = 0;
  TCodecIo io;
  io.Read = [&](uint8_t* buffer, size_t count) {
    const size_t n = std::min(count, m.Data.size() - at);
    if (n != 0) std::memcpy(buffer, m.Data.data() + at, n);
    at += n;
    return n;
  };
  io.Write = [&](const uint8_t*, size_t count) {
    written += count;
    cancel = 1;
  };
  io.Cancel = &cancel;
  EXPECT_EQ(DecodePpmdMember(io, m.Size).Status, TCodecStatus::Cancelled);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, input.size());
}

// ---- the header, no oracle needed
TEST(PpmdHeader, FieldsAndRanges) {
  TPpmdParams p;
  EXPECT_EQ(ReadPpmdHeader(0x1FF7, p), TPpmdHeaderCheck::Ok);  // 7zz -mx=9 on a big file
  EXPECT_EQ(p.Order, 8u);
  EXPECT_EQ(p.MemoryMiB, 256u);
  EXPECT_EQ(p.Restoration, 1u);
  EXPECT_EQ(ReadPpmdHeader(0x0001, p), TPpmdHeaderCheck::Ok);
  EXPECT_EQ(p.Order, 2u);
  EXPECT_EQ(p.MemoryMiB, 1u);
  EXPECT_EQ(ReadPpmdHeader(0x000F, p), TPpmdHeaderCheck::Ok);
  EXPECT_EQ(p.Order, 16u);

  EXPECT_EQ(ReadPpmdHeader(0x0070, p), TPpmdHeaderCheck::OrderTooLow);
  EXPECT_NE(PpmdHeaderProblem(TPpmdHeaderCheck::OrderTooLow, p).find("order 1"), std::string::npos);
  EXPECT_EQ(ReadPpmdHeader(0x2005, p), TPpmdHeaderCheck::RestorationFreeze);
  EXPECT_EQ(ReadPpmdHeader(0xF005, p), TPpmdHeaderCheck::RestorationUnknown);
  EXPECT_EQ(p.Restoration, 15u);
}

TEST(PpmdHeader, RefusedHeadersDecodeNothing) {
  // Order 1, freezing, an unknown method: refused before any memory is taken.
  EXPECT_EQ(Decode({0x00, 0x00, 1, 2, 3, 4, 5}, 10).Result.Status, TCodecStatus::Corrupt);
  const TRun freeze = Decode({0x05, 0x20, 1, 2, 3, 4, 5}, 10);
  EXPECT_EQ(freeze.Result.Status, TCodecStatus::Unsupported);
  EXPECT_FALSE(freeze.Result.NoMemory);
  EXPECT_EQ(Decode({0x05, 0x30, 1, 2, 3, 4, 5}, 10).Result.Status, TCodecStatus::Corrupt);
  // No header at all, or half of one.
  EXPECT_EQ(Decode({}, 10).Result.Status, TCodecStatus::Truncated);
  EXPECT_EQ(Decode({0x05}, 10).Result.Status, TCodecStatus::Truncated);
  // A coder that cannot start (its first four bytes all ones).
  EXPECT_EQ(Decode({0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 10).Result.Status,
            TCodecStatus::Corrupt);
}

// The largest model the header allows, with garbage behind it: the memory is reserved, not
// written, and the member ends cleanly.
TEST(PpmdHeader, LargestModelWithGarbage) {
  Bytes data = {0xFF, 0x1F};
  for (int i = 0; i < 64; ++i) data.push_back(static_cast<uint8_t>(i * 37));
  const TRun run = Decode(data, 1 << 20);
  EXPECT_EQ(run.Result.Params.MemoryMiB, 256u);
  EXPECT_NE(run.Result.Status, TCodecStatus::Ok);
  EXPECT_LE(run.Out.size(), size_t{1} << 20);
}

}  // namespace
