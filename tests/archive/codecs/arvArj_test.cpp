// ARJ's decoders: every method against archives the arj program makes at test time (byte-exact,
// with the header's CRC-32), reads cut into slices, garbled members, and hand-built streams for
// the methods' edges (zero-bit codes, 16-bit codes, bad tables, distances before the start,
// lengths past the size, input that ends early).
#include "archive/codecs/arvArj.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/codecs/arvBytes.h"
#include "support/OldCodecsSupport.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::RunCodec;
using parcelo::test::TMsbBitWriter;

struct TArjTestMember {
  std::string Name;
  uint8_t Method = 0;
  uint8_t Flags = 0;
  uint8_t Modifier = 0;
  uint32_t OriginalSize = 0;
  uint32_t Crc32 = 0;
  std::vector<uint8_t> Data;
};

// The members of a single-volume ARJ archive, read the plain way (no checks beyond the sizes).
std::vector<TArjTestMember> ParseArj(const std::vector<uint8_t>& a) {
  std::vector<TArjTestMember> members;
  size_t p = 0;
  bool mainHeader = true;
  while (p + 4 <= a.size() && GetLe16(&a[p]) == 0xEA60) {
    const size_t basic = GetLe16(&a[p + 2]);
    if (basic == 0) break;
    const uint8_t* h = &a[p + 4];
    size_t q = p + 4 + basic + 4;
    while (q + 2 <= a.size()) {
      const size_t ext = GetLe16(&a[q]);
      q += 2;
      if (ext == 0) break;
      q += ext + 4;
    }
    if (mainHeader) {
      mainHeader = false;
      p = q;
      continue;
    }
    TArjTestMember m;
    m.Name = reinterpret_cast<const char*>(h + h[0]);
    m.Flags = h[4];
    m.Method = h[5];
    m.Modifier = h[7];
    const uint32_t packed = GetLe32(h + 12);
    m.OriginalSize = GetLe32(h + 16);
    m.Crc32 = GetLe32(h + 20);
    m.Data.assign(a.begin() + static_cast<ptrdiff_t>(q),
                  a.begin() + static_cast<ptrdiff_t>(q + packed));
    members.push_back(std::move(m));
    p = q + packed;
  }
  return members;
}

TCodecStatus Decode(const TArjTestMember& m, const TCodecIo& io, const std::string& password = "") {
  if (password.empty()) return DecodeArj(m.Method, m.OriginalSize, io);
  auto garble = std::make_shared<TArjGarble>(password, m.Modifier);
  TCodecIo wrapped = io;
  wrapped.Read = [garble, read = io.Read](uint8_t* buffer, size_t count) {
    const size_t n = read(buffer, count);
    garble->Apply(buffer, n);
    return n;
  };
  return DecodeArj(m.Method, m.OriginalSize, wrapped);
}

class ArjArchiver : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!parcelo::test::HaveTool("arj")) GTEST_SKIP() << "the arj program is not installed";
    payloads_ = {{"text.txt", parcelo::test::TextPayload(150000)},
                 {"runs.bin", parcelo::test::RunsPayload(70000)},
                 {"noise.bin", parcelo::test::NoisePayload(20000)},
                 {"one.txt", {'x'}},
                 {"empty.txt", {}}};
    for (const auto& [name, bytes] : payloads_) parcelo::test::WriteBytes(dir_.Host(name), bytes);
  }
  std::vector<TArjTestMember> Make(const std::string& options) {
    const std::string archive = "t" + std::to_string(counter_++) + ".arj";
    EXPECT_TRUE(parcelo::test::RunIn(dir_.HostPath(), "arj a -y " + options + " " + archive +
                                                        " text.txt runs.bin noise.bin one.txt "
                                                        "empty.txt"));
    return ParseArj(parcelo::test::ReadBytes(dir_.Host(archive)));
  }
  const std::vector<uint8_t>& Original(const std::string& name) {
    for (const auto& [n, bytes] : payloads_)
      if (n == name) return bytes;
    static const std::vector<uint8_t> kNone;
    ADD_FAILURE() << "no payload " << name;
    return kNone;
  }

  parcelo::test::TempDir dir_{"arjcodec"};
  std::vector<std::pair<std::string, std::vector<uint8_t>>> payloads_;
  int counter_ = 0;
};

TEST_F(ArjArchiver, EveryMethodDecodesByteExactInAnySlicing) {
  for (int method = 0; method <= 4; ++method) {
    const auto members = Make("-m" + std::to_string(method));
    ASSERT_EQ(members.size(), 5u) << "method " << method;
    bool sawMethod = false;
    for (const auto& m : members) {
      sawMethod |= m.Method == method;
      for (size_t slice : {size_t{0}, size_t{1}, size_t{7}}) {
        const auto run = RunCodec(m.Data, slice, [&](const TCodecIo& io) { return Decode(m, io); });
        ASSERT_EQ(run.status, TCodecStatus::Ok) << m.Name << " -m" << method << " slice " << slice;
        EXPECT_EQ(run.output, Original(m.Name)) << m.Name << " -m" << method;
        EXPECT_EQ(parcelo::test::Crc32Of(run.output), m.Crc32) << m.Name;
        EXPECT_LE(run.largestWrite, kArjOutputBlock);
        if (slice == 7) break;  // the big members once more is enough
      }
    }
    EXPECT_TRUE(sawMethod) << "arj wrote no member with method " << method;
  }
}

TEST_F(ArjArchiver, MaximumCompressionDecodes) {
  const auto members = Make("-m1 -jm");
  ASSERT_EQ(members.size(), 5u);
  for (const auto& m : members) {
    const auto run = RunCodec(m.Data, 0, [&](const TCodecIo& io) { return Decode(m, io); });
    ASSERT_EQ(run.status, TCodecStatus::Ok) << m.Name;
    EXPECT_EQ(run.output, Original(m.Name)) << m.Name;
  }
}

TEST_F(ArjArchiver, GarbledMembersNeedTheirPassword) {
  for (const char* method : {"-m0", "-m1", "-m4"}) {
    const auto members = Make(std::string(method) + " -gSecret7");
    ASSERT_EQ(members.size(), 5u);
    for (const auto& m : members) {
      EXPECT_TRUE(m.Flags & 0x01) << m.Name << " is not marked garbled";
      const auto good =
          RunCodec(m.Data, 3, [&](const TCodecIo& io) { return Decode(m, io, "Secret7"); });
      ASSERT_EQ(good.status, TCodecStatus::Ok) << m.Name << " " << method;
      EXPECT_EQ(good.output, Original(m.Name)) << m.Name << " " << method;
      if (m.OriginalSize < 2) continue;
      // A wrong password decodes to something else, or to nothing valid: never the CRC.
      const auto bad =
          RunCodec(m.Data, 0, [&](const TCodecIo& io) { return Decode(m, io, "secret7"); });
      EXPECT_FALSE(bad.status == TCodecStatus::Ok &&
                   parcelo::test::Crc32Of(bad.output) == m.Crc32)
          << m.Name << " " << method;
    }
  }
}

TEST_F(ArjArchiver, InputCutShortIsTruncated) {
  for (const char* method : {"-m0", "-m1", "-m3", "-m4"}) {
    for (const auto& m : Make(method)) {
      if (m.OriginalSize < 1000) continue;
      auto cut = m.Data;
      cut.resize(cut.size() / 2);
      const auto run = RunCodec(cut, 0, [&](const TCodecIo& io) { return Decode(m, io); });
      EXPECT_EQ(run.status, TCodecStatus::Truncated) << m.Name << " " << method;
      EXPECT_LT(run.output.size(), m.OriginalSize);
    }
  }
}

TEST_F(ArjArchiver, CancelStopsBetweenBlocks) {
  const auto members = Make("-m1");
  for (const auto& m : members) {
    if (m.Name != "text.txt") continue;
    const auto run = RunCodec(m.Data, 0, [&](const TCodecIo& io) { return Decode(m, io); }, 1);
    EXPECT_EQ(run.status, TCodecStatus::Cancelled);
    EXPECT_LT(run.output.size(), m.OriginalSize);
  }
}

// ---- hand-built streams -------------------------------------------------------------------------
TCodecStatus DecodeBytes(uint8_t method, uint64_t size, const std::vector<uint8_t>& in,
                         std::vector<uint8_t>* out = nullptr) {
  const auto run = RunCodec(in, 1, [&](const TCodecIo& io) { return DecodeArj(method, size, io); });
  if (out) *out = run.output;
  return run.status;
}

// Method 4: lengths and positions behind unary prefixes.
void FastLiteral(TMsbBitWriter& w, uint8_t byte) {
  w.Bits(0, 1);
  w.Bits(byte, 8);
}
void FastMatch(TMsbBitWriter& w, unsigned length, unsigned distance) {
  // length - 2 behind 0 to 7 unary ones (adding 1, 2, 4, ...), ended by a zero unless all 7.
  const unsigned code = length - 2;
  unsigned width = 0;
  unsigned plus = 0;
  for (; width < 7; ++width) {
    if (code < plus + (1u << width)) break;
    plus += 1u << width;
  }
  for (unsigned i = 0; i < width; ++i) w.Bits(1, 1);
  if (width < 7) w.Bits(0, 1);
  w.Bits(code - plus, width);
  const unsigned position = distance - 1;
  plus = 0;
  for (width = 9; width < 13; ++width) {
    if (position < plus + (1u << width)) break;
    plus += 1u << width;
  }
  for (unsigned i = 9; i < width; ++i) w.Bits(1, 1);
  if (width < 13) w.Bits(0, 1);
  w.Bits(position - plus, width);
}

TEST(ArjFastest, LiteralsMatchesAndTheFarthestPosition) {
  TMsbBitWriter w;
  FastLiteral(w, 'A');
  FastMatch(w, 3, 1);  // AAA
  FastLiteral(w, 'B');
  FastMatch(w, 256, 2);  // the longest match, overlapping
  std::vector<uint8_t> expected = {'A', 'A', 'A', 'A', 'B'};
  for (int i = 0; i < 256; ++i) expected.push_back(expected[expected.size() - 2]);
  // Fill up to the farthest position (15872 back) and copy from there.
  while (expected.size() < 16000) {
    FastLiteral(w, static_cast<uint8_t>(expected.size() * 7));
    expected.push_back(static_cast<uint8_t>(expected.size() * 7));
  }
  FastMatch(w, 5, 15872);
  for (int i = 0; i < 5; ++i) expected.push_back(expected[expected.size() - 15872]);
  std::vector<uint8_t> out;
  EXPECT_EQ(DecodeBytes(4, expected.size(), w.Finish(), &out), TCodecStatus::Ok);
  EXPECT_EQ(out, expected);
}

TEST(ArjFastest, PositionBeforeTheStartIsCorrupt) {
  TMsbBitWriter w;
  FastLiteral(w, 'A');
  FastMatch(w, 3, 2);
  EXPECT_EQ(DecodeBytes(4, 4, w.Finish()), TCodecStatus::Corrupt);
}

TEST(ArjFastest, MatchPastTheSizeIsCorrupt) {
  TMsbBitWriter w;
  FastLiteral(w, 'A');
  FastMatch(w, 10, 1);
  EXPECT_EQ(DecodeBytes(4, 5, w.Finish()), TCodecStatus::Corrupt);
}

TEST(ArjFastest, EndsEarlyIsTruncated) {
  TMsbBitWriter w;
  FastLiteral(w, 'A');
  FastLiteral(w, 'B');
  std::vector<uint8_t> out;
  EXPECT_EQ(DecodeBytes(4, 100, w.Finish(), &out), TCodecStatus::Truncated);
  EXPECT_EQ(DecodeBytes(4, 2, w.Finish(), &out), TCodecStatus::Ok);
  EXPECT_EQ(out, (std::vector<uint8_t>{'A', 'B'}));
}

// Methods 1-3: block size, code-length code, literal/length code, position code.
void ConstantPt(TMsbBitWriter& w, unsigned symbol) {
  w.Bits(0, 5);
  w.Bits(symbol, 5);
}

TEST(ArjHuffman, ConstantCodesTakeNoBits) {
  TMsbBitWriter w;
  w.Bits(5, 16);       // five symbols
  ConstantPt(w, 0);    // code-length code: unused
  w.Bits(0, 9);        // literal/length code: one symbol...
  w.Bits('x', 9);      // ...'x'
  ConstantPt(w, 0);    // positions
  std::vector<uint8_t> out;
  EXPECT_EQ(DecodeBytes(1, 5, w.Finish(), &out), TCodecStatus::Ok);
  EXPECT_EQ(out, std::vector<uint8_t>(5, 'x'));
}

// Found by fuzzing (a timeout of the instrumented harness): codes of one symbol take no bits, so a
// few bytes of tables fill a block of 65535 symbols. The output stops at the size, or the next
// block's header runs past the input.
TEST(ArjHuffman, RegressionZeroBitSymbolsFillTheSizeAndStop) {
  TMsbBitWriter w;
  w.Bits(65535, 16);
  ConstantPt(w, 0);
  w.Bits(0, 9);
  w.Bits('z', 9);
  ConstantPt(w, 0);
  std::vector<uint8_t> out;
  EXPECT_EQ(DecodeBytes(2, 65535, w.Finish(), &out), TCodecStatus::Ok);
  EXPECT_EQ(out, std::vector<uint8_t>(65535, 'z'));
  EXPECT_EQ(DecodeBytes(2, 1000000, w.Finish(), &out), TCodecStatus::Truncated);
  EXPECT_LE(out.size(), 65535u);
}

// Code-length code: symbols 2 and 3 of one bit each ("0", "1").
void TwoSymbolT(TMsbBitWriter& w) {
  w.Bits(4, 5);  // four lengths
  w.Bits(0, 3);
  w.Bits(0, 3);
  w.Bits(1, 3);
  w.Bits(0, 2);  // no zeros after the third
  w.Bits(1, 3);
}

TEST(ArjHuffman, RunsOfZeroLengthsAndAnOverlappingMatch) {
  TMsbBitWriter w;
  w.Bits(2, 16);
  TwoSymbolT(w);
  w.Bits(301, 9);  // 'a' and symbol 300 (a match of 47) of one bit each
  w.Bits(0, 1);
  w.Bits(97 - 20, 9);  // 97 zeros
  w.Bits(1, 1);        // length 1 for 'a'
  w.Bits(0, 1);
  w.Bits(202 - 20, 9);  // 202 zeros
  w.Bits(1, 1);         // length 1 for 300
  ConstantPt(w, 0);     // distance 1
  w.Bits(0, 1);         // 'a'
  w.Bits(1, 1);         // 47 more
  const auto stream = w.Finish();
  std::vector<uint8_t> out;
  EXPECT_EQ(DecodeBytes(2, 48, stream, &out), TCodecStatus::Ok);
  EXPECT_EQ(out, std::vector<uint8_t>(48, 'a'));
  EXPECT_EQ(DecodeBytes(3, 47, stream), TCodecStatus::Corrupt);  // the match goes past the size
}

TEST(ArjHuffman, SixteenBitCodes) {
  TMsbBitWriter w;
  w.Bits(3, 16);
  // Code-length code: symbols 3..18 (lengths 1..16) of four bits each.
  w.Bits(19, 5);
  for (int i = 0; i < 3; ++i) w.Bits(0, 3);
  w.Bits(0, 2);
  for (int i = 3; i < 19; ++i) w.Bits(0b100, 3);
  // Literals 0..16 with lengths 1, 2, ..., 16, 16.
  w.Bits(17, 9);
  for (unsigned s = 0; s < 17; ++s) {
    const unsigned len = s < 16 ? s + 1 : 16;
    w.Bits(len + 2 - 3, 4);
  }
  ConstantPt(w, 0);
  w.Bits(0xFFFF, 16);  // symbol 16
  w.Bits(0xFFFE, 16);  // symbol 15
  w.Bits(0, 1);        // symbol 0
  std::vector<uint8_t> out;
  EXPECT_EQ(DecodeBytes(1, 3, w.Finish(), &out), TCodecStatus::Ok);
  EXPECT_EQ(out, (std::vector<uint8_t>{16, 15, 0}));
}

TEST(ArjHuffman, BadTablesAreCorrupt) {
  {  // two lengths of one bit and one more: over-subscribed
    TMsbBitWriter w;
    w.Bits(1, 16);
    w.Bits(3, 5);
    for (int i = 0; i < 3; ++i) w.Bits(1, 3);
    w.Bits(0, 2);
    EXPECT_EQ(DecodeBytes(1, 1, w.Finish()), TCodecStatus::Corrupt);
  }
  {  // one length of one bit: incomplete
    TMsbBitWriter w;
    w.Bits(1, 16);
    w.Bits(1, 5);
    w.Bits(1, 3);
    EXPECT_EQ(DecodeBytes(1, 1, w.Finish()), TCodecStatus::Corrupt);
  }
  {  // a length above 16
    TMsbBitWriter w;
    w.Bits(1, 16);
    w.Bits(1, 5);
    w.Bits(0xFFFF, 16);
    w.Bits(0xFFFF, 16);
    EXPECT_EQ(DecodeBytes(1, 1, w.Finish()), TCodecStatus::Corrupt);
  }
  {  // more lengths than symbols; a constant symbol out of range; an empty block
    TMsbBitWriter a;
    a.Bits(1, 16);
    a.Bits(20, 5);
    EXPECT_EQ(DecodeBytes(1, 1, a.Finish()), TCodecStatus::Corrupt);
    TMsbBitWriter b;
    b.Bits(1, 16);
    ConstantPt(b, 0);
    b.Bits(0, 9);
    b.Bits(511, 9);
    EXPECT_EQ(DecodeBytes(1, 1, b.Finish()), TCodecStatus::Corrupt);
    TMsbBitWriter c;
    c.Bits(0, 16);
    c.Bits(0, 16);
    EXPECT_EQ(DecodeBytes(1, 1, c.Finish()), TCodecStatus::Corrupt);
  }
  {  // a zero run past the count of lengths
    TMsbBitWriter w;
    w.Bits(1, 16);
    TwoSymbolT(w);
    w.Bits(10, 9);
    w.Bits(0, 1);
    w.Bits(30 - 20, 9);
    EXPECT_EQ(DecodeBytes(1, 1, w.Finish()), TCodecStatus::Corrupt);
  }
}

TEST(ArjHuffman, DistanceBeforeTheStartIsCorrupt) {
  TMsbBitWriter w;
  w.Bits(1, 16);
  ConstantPt(w, 0);
  w.Bits(0, 9);
  w.Bits(256, 9);  // a match of 3 as the first symbol
  ConstantPt(w, 0);
  EXPECT_EQ(DecodeBytes(1, 3, w.Finish()), TCodecStatus::Corrupt);
}

TEST(ArjHuffman, NoInputAtAllIsTruncated) {
  EXPECT_EQ(DecodeBytes(1, 10, {}), TCodecStatus::Truncated);
  EXPECT_EQ(DecodeBytes(4, 10, {}), TCodecStatus::Truncated);
  EXPECT_EQ(DecodeBytes(0, 10, {}), TCodecStatus::Truncated);
  EXPECT_EQ(DecodeBytes(1, 0, {}), TCodecStatus::Ok);
  EXPECT_EQ(DecodeBytes(5, 1, {1, 2}), TCodecStatus::Unsupported);
}

TEST(ArjGarble, XorsWithPasswordPlusModifierRoundAndRound) {
  std::vector<uint8_t> data(10, 0);
  TArjGarble garble("ab", 0x11);
  garble.Apply(data.data(), 3);
  garble.Apply(data.data() + 3, 7);
  for (size_t i = 0; i < data.size(); ++i)
    EXPECT_EQ(data[i], (i % 2 == 0 ? 'a' : 'b') + 0x11) << i;
}

}  // namespace
