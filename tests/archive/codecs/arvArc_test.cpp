// ARC's decoders: the methods the arc program writes (stored, packed, squeezed, crunched,
// squashed) against archives it makes at test time and the conformance archive, byte-exact with
// the header's CRC-16 and in any read slicing; the old crunching (5 to 7), which no packer here
// writes, against this file's own encoder with unar as the independent reader; hand-built
// streams for the edges (runs, trees, codes out of range, input that ends early).
#include "archive/codecs/arvArc.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "archive/codecs/arvBytes.h"
#include "support/OldCodecsSupport.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::RunCodec;

struct TArcTestMember {
  std::string Name;
  uint8_t Method = 0;
  uint32_t OriginalSize = 0;
  uint16_t Crc16 = 0;
  std::vector<uint8_t> Data;
};

std::vector<TArcTestMember> ParseArc(const std::vector<uint8_t>& a) {
  std::vector<TArcTestMember> members;
  size_t p = 0;
  while (p + 2 <= a.size() && a[p] == 0x1A && a[p + 1] != 0) {
    TArcTestMember m;
    m.Method = a[p + 1];
    m.Name = std::string(reinterpret_cast<const char*>(&a[p + 2]), 13).c_str();
    const uint32_t packed = GetLe32(&a[p + 15]);
    m.Crc16 = GetLe16(&a[p + 23]);
    const size_t header = m.Method == 1 ? 25 : 29;
    m.OriginalSize = m.Method == 1 ? packed : GetLe32(&a[p + 25]);
    m.Data.assign(a.begin() + static_cast<ptrdiff_t>(p + header),
                  a.begin() + static_cast<ptrdiff_t>(p + header + packed));
    members.push_back(std::move(m));
    p += header + packed;
  }
  return members;
}

parcelo::test::TCodecRun DecodeMember(const TArcTestMember& m, size_t slice) {
  return RunCodec(m.Data, slice,
                  [&](const TCodecIo& io) { return DecodeArc(m.Method, m.OriginalSize, io); });
}

// Payloads that make arc choose each of its methods.
std::map<std::string, std::vector<uint8_t>> ArcPayloads() {
  std::map<std::string, std::vector<uint8_t>> p;
  p["NOISE.BIN"] = parcelo::test::NoisePayload(5000);  // stored
  // Runs between stretches of noise: only packing gains.
  std::vector<uint8_t> runs;
  for (int i = 0; i < 10; ++i) {
    const auto noise = parcelo::test::NoisePayload(800, 10 + i);
    runs.insert(runs.end(), noise.begin(), noise.end());
    runs.insert(runs.end(), 300 + 170 * i, static_cast<uint8_t>(17 * i + 1));
  }
  for (uint8_t b : {0x90, 0x90, 0x90, 0x41, 0x90, 0x42, 0x42, 0x42, 0x42}) runs.push_back(b);
  p["RUNS.BIN"] = runs;
  // Bytes of a skewed distribution without repeats of longer strings: squeezing gains most.
  std::vector<uint8_t> skew;
  uint32_t x = 12345;
  for (int i = 0; i < 20000; ++i) {
    x = x * 1103515245 + 12345;
    const unsigned r = (x >> 16) & 0x7FFF;
    skew.push_back(static_cast<uint8_t>(r < 16384 ? r % 4 : r < 24576 ? 4 + r % 8 : r % 256));
  }
  p["SKEW.BIN"] = skew;
  p["TEXT.TXT"] = parcelo::test::TextPayload(120000);  // crunched or squashed
  p["ONE.TXT"] = {'x'};
  return p;
}

class ArcArchiver : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!parcelo::test::HaveTool("arc")) GTEST_SKIP() << "the arc program is not installed";
  }
  std::vector<TArcTestMember> Make(const std::string& command,
                                   const std::map<std::string, std::vector<uint8_t>>& files) {
    std::string names;
    for (const auto& [name, bytes] : files) {
      parcelo::test::WriteBytes(dir_.Host(name), bytes);
      names += " " + name;
    }
    const std::string archive = "t" + std::to_string(counter_++) + ".arc";
    EXPECT_TRUE(parcelo::test::RunIn(dir_.HostPath(), "arc " + command + " " + archive + names));
    return ParseArc(parcelo::test::ReadBytes(dir_.Host(archive)));
  }

  parcelo::test::TempDir dir_{"arccodec"};
  int counter_ = 0;
};

TEST_F(ArcArchiver, EveryMethodArcWritesDecodesByteExact) {
  const auto payloads = ArcPayloads();
  std::map<int, int> methods;
  for (const char* command : {"a", "aq"}) {
    const auto members = Make(command, payloads);
    ASSERT_EQ(members.size(), payloads.size()) << command;
    for (const auto& m : members) {
      ++methods[m.Method];
      for (size_t slice : {size_t{0}, size_t{1}, size_t{7}}) {
        const auto run = DecodeMember(m, slice);
        ASSERT_EQ(run.status, TCodecStatus::Ok) << m.Name << " method " << int(m.Method);
        EXPECT_EQ(run.output, payloads.at(m.Name)) << m.Name << " method " << int(m.Method);
        EXPECT_EQ(parcelo::test::Crc16Of(run.output), m.Crc16) << m.Name;
        EXPECT_LE(run.largestWrite, std::max(kArcOutputBlock, kArcInputBlock));
      }
    }
  }
  for (int method : {2, 3, 4, 8, 9}) EXPECT_GT(methods[method], 0) << "no member of method " << method;
}

TEST_F(ArcArchiver, LargeCrunchedAndSquashedMembersRefillTheirTables) {
  // Two megabytes whose vocabulary changes on the way: the tables fill, and the packer clears them.
  std::vector<uint8_t> big;
  for (uint32_t seed = 1; big.size() < 2000000; ++seed) {
    auto part = parcelo::test::TextPayload(100000, seed);
    for (auto& b : part) b = static_cast<uint8_t>(b + seed * 3);
    big.insert(big.end(), part.begin(), part.end());
  }
  for (const char* command : {"a", "aq"}) {
    const auto members = Make(command, {{"BIG.BIN", big}});
    ASSERT_EQ(members.size(), 1u);
    const auto run = DecodeMember(members[0], 0);
    ASSERT_EQ(run.status, TCodecStatus::Ok) << command;
    EXPECT_TRUE(run.output == big) << command;
  }
}

TEST_F(ArcArchiver, InputCutShortIsTruncated) {
  for (const auto& m : Make("a", ArcPayloads())) {
    if (m.OriginalSize < 1000) continue;
    TArcTestMember cut = m;
    cut.Data.resize(cut.Data.size() / 2);
    const auto run = DecodeMember(cut, 0);
    EXPECT_EQ(run.status, TCodecStatus::Truncated) << m.Name << " method " << int(m.Method);
  }
}

TEST(ArcConformance, CrunchedSqueezedAndPackedMembersMatchTheirCrc) {
  const std::string path = std::string(PARCELO_TESTDATA_DIR) + "/other/sc_Arc.crunched.arc";
  const auto bytes = parcelo::test::ReadBytes(path);
  if (bytes.empty()) GTEST_SKIP() << "no conformance archives";
  const auto members = ParseArc(bytes);
  ASSERT_EQ(members.size(), 3u);
  for (const auto& m : members) {
    const auto run = DecodeMember(m, 0);
    ASSERT_EQ(run.status, TCodecStatus::Ok) << m.Name;
    EXPECT_EQ(run.output.size(), m.OriginalSize);
    EXPECT_EQ(parcelo::test::Crc16Of(run.output), m.Crc16) << m.Name;
  }
}

// ---- old crunching: this file's encoder, unar as the other reader -------------------------------
std::vector<uint8_t> RunLengths(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < in.size()) {
    const uint8_t b = in[i];
    if (b == 0x90) {
      out.push_back(0x90);
      out.push_back(0);
      ++i;
      continue;
    }
    size_t n = 1;
    while (i + n < in.size() && in[i + n] == b && n < 255) ++n;
    out.push_back(b);
    if (n >= 3) {
      out.push_back(0x90);
      out.push_back(static_cast<uint8_t>(n));
    } else {
      out.insert(out.end(), n - 1, b);
    }
    i += n;
  }
  return out;
}

// The old crunching's string table as the packer keeps it.
class TOldTable {
 public:
  explicit TOldTable(bool newHash) : newHash_(newHash), t_(4096) {
    for (unsigned c = 0; c < 256; ++c) Insert(0xFFFF, static_cast<uint8_t>(c));
  }
  unsigned Hash(unsigned prefix, unsigned last) const {
    if (newHash_) return (((prefix + last) & 0xFFFF) * 15073) & 0xFFF;
    const uint32_t v = ((prefix + last) | 0x800) & 0xFFFF;
    return ((v * v) >> 6) & 0xFFF;
  }
  unsigned Insert(uint16_t prefix, uint8_t last) {
    unsigned slot = Hash(prefix, last);
    if (t_[slot].used) {
      while (t_[slot].next != 0) slot = t_[slot].next;
      unsigned free = (slot + 101) & 0xFFF;
      while (t_[free].used) free = (free + 1) % 4096;
      t_[slot].next = static_cast<uint16_t>(free);
      slot = free;
    }
    t_[slot] = {true, 0, prefix, last};
    return slot;
  }
  int Find(uint16_t prefix, uint8_t last) const {
    unsigned slot = Hash(prefix, last);
    for (;;) {
      if (t_[slot].used && t_[slot].prefix == prefix && t_[slot].last == last) return int(slot);
      if (!t_[slot].used || t_[slot].next == 0) return -1;
      slot = t_[slot].next;
    }
  }
  bool Used(unsigned slot) const { return t_[slot].used; }

 private:
  struct TEntry {
    bool used = false;
    uint16_t next = 0, prefix = 0;
    uint8_t last = 0;
  };
  bool newHash_;
  std::vector<TEntry> t_;
};

std::vector<uint8_t> OldCrunch(const std::vector<uint8_t>& in, bool newHash) {
  TOldTable t(newHash);
  unsigned left = 4096 - 256;
  parcelo::test::TMsbBitWriter bits;
  if (!in.empty()) {
    int w = t.Find(0xFFFF, in[0]);
    for (size_t i = 1; i < in.size(); ++i) {
      const int wc = t.Find(static_cast<uint16_t>(w), in[i]);
      if (wc >= 0) {
        w = wc;
        continue;
      }
      bits.Bits(static_cast<unsigned>(w), 12);
      if (left > 0) {
        t.Insert(static_cast<uint16_t>(w), in[i]);
        --left;
      }
      w = t.Find(0xFFFF, in[i]);
    }
    bits.Bits(static_cast<unsigned>(w), 12);
  }
  return bits.Finish();
}

// A minimal ARC archive of members already packed.
std::vector<uint8_t> ArcArchive(const std::vector<TArcTestMember>& members) {
  std::vector<uint8_t> a;
  for (const auto& m : members) {
    uint8_t h[29] = {0x1A, m.Method};
    std::memcpy(h + 2, m.Name.c_str(), std::min<size_t>(m.Name.size(), 12));
    PutLe32(h + 15, static_cast<uint32_t>(m.Data.size()));
    PutLe16(h + 19, 0x5B8A);  // 1 Dec 2025
    PutLe16(h + 21, 0x6000);
    PutLe16(h + 23, m.Crc16);
    PutLe32(h + 25, m.OriginalSize);
    a.insert(a.end(), h, h + 29);
    a.insert(a.end(), m.Data.begin(), m.Data.end());
  }
  a.push_back(0x1A);
  a.push_back(0);
  return a;
}

TEST(ArcOldCrunch, OwnEncoderRoundTripsAndUnarAgrees) {
  // Text long enough to fill the 4096 strings, runs, and one byte.
  std::vector<uint8_t> text = parcelo::test::TextPayload(60000);
  const auto runs = parcelo::test::RunsPayload(30000);
  std::vector<TArcTestMember> members;
  std::map<std::string, std::vector<uint8_t>> originals;
  for (uint8_t method : {5, 6, 7}) {
    for (const auto& [tag, payload] :
         std::vector<std::pair<std::string, std::vector<uint8_t>>>{
             {"T", text}, {"R", runs}, {"O", {'q'}}}) {
      TArcTestMember m;
      m.Method = method;
      m.Name = tag + std::to_string(method) + ".BIN";
      m.OriginalSize = static_cast<uint32_t>(payload.size());
      m.Crc16 = parcelo::test::Crc16Of(payload);
      m.Data = OldCrunch(method == 5 ? payload : RunLengths(payload), method == 7);
      for (size_t slice : {size_t{0}, size_t{1}, size_t{5}}) {
        const auto run = DecodeMember(m, slice);
        ASSERT_EQ(run.status, TCodecStatus::Ok) << m.Name;
        EXPECT_EQ(run.output, payload) << m.Name;
      }
      originals[m.Name] = payload;
      members.push_back(m);
    }
  }
  if (!parcelo::test::HaveTool("unar")) GTEST_SKIP() << "unar is not installed";
  parcelo::test::TempDir dir("arcold");
  parcelo::test::WriteBytes(dir.Host("old.arc"), ArcArchive(members));
  ASSERT_TRUE(parcelo::test::RunIn(dir.HostPath(), "unar -q -o out -D old.arc"));
  for (const auto& [name, payload] : originals)
    EXPECT_EQ(parcelo::test::ReadBytes(dir.Host("out/" + name)), payload) << name;
}

// ---- hand-built streams -------------------------------------------------------------------------
TCodecStatus DecodeBytes(uint8_t method, uint64_t size, const std::vector<uint8_t>& in,
                         std::vector<uint8_t>* out = nullptr) {
  const auto run = RunCodec(in, 1, [&](const TCodecIo& io) { return DecodeArc(method, size, io); });
  if (out) *out = run.output;
  return run.status;
}

TEST(ArcPacked, RunsAndTheMarkerItself) {
  std::vector<uint8_t> out;
  // A, then the marker as a byte (A stays the byte to repeat), A three times more.
  EXPECT_EQ(DecodeBytes(3, 5, {'A', 0x90, 0x00, 0x90, 0x04}, &out), TCodecStatus::Ok);
  EXPECT_EQ(out, (std::vector<uint8_t>{'A', 0x90, 'A', 'A', 'A'}));
  // A run past the size, a run left open at the end.
  EXPECT_EQ(DecodeBytes(3, 5, {'A', 0x90, 0xFF}), TCodecStatus::Corrupt);
  EXPECT_EQ(DecodeBytes(3, 5, {'A', 'B', 0x90}), TCodecStatus::Truncated);
  EXPECT_EQ(DecodeBytes(2, 5, {'A', 'B'}), TCodecStatus::Truncated);
  EXPECT_EQ(DecodeBytes(1, 2, {'A', 'B', 'C'}, &out), TCodecStatus::Ok);
  EXPECT_EQ(out, (std::vector<uint8_t>{'A', 'B'}));
}

std::vector<uint8_t> Squeeze(std::vector<int16_t> nodes, std::vector<uint8_t> bits) {
  std::vector<uint8_t> s(2);
  PutLe16(s.data(), static_cast<uint16_t>(nodes.size() / 2));
  for (int16_t v : nodes) {
    s.push_back(static_cast<uint8_t>(v));
    s.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
  }
  s.insert(s.end(), bits.begin(), bits.end());
  return s;
}

TEST(ArcSqueezed, TreeWalkEndAndBadTrees) {
  // Node 0: 0 -> 'a', 1 -> node 1; node 1: 0 -> end, 1 -> 'b'.
  const std::vector<int16_t> tree = {-('a' + 1), 1, -(256 + 1), -('b' + 1)};
  std::vector<uint8_t> out;
  // Bits (first is bit 0): 0 (a), 1 1 (b), 0 (a), 1 0 (end) = 0b0'1'0'1'1'0 read from bit 0.
  EXPECT_EQ(DecodeBytes(4, 3, Squeeze(tree, {0b010110}), &out), TCodecStatus::Ok);
  EXPECT_EQ(out, (std::vector<uint8_t>{'a', 'b', 'a'}));
  EXPECT_EQ(DecodeBytes(4, 4, Squeeze(tree, {0b010110}), &out), TCodecStatus::Truncated);
  // An empty tree is the end at once.
  EXPECT_EQ(DecodeBytes(4, 0, Squeeze({}, {0}), &out), TCodecStatus::Ok);
  // A child naming a node that is not there; a value beyond the end; too many nodes.
  EXPECT_EQ(DecodeBytes(4, 1, Squeeze({-1, 2, -1, -1}, {0})), TCodecStatus::Corrupt);
  EXPECT_EQ(DecodeBytes(4, 1, Squeeze({-1, -259}, {0})), TCodecStatus::Corrupt);
  EXPECT_EQ(DecodeBytes(4, 1, {0x01, 0x01}), TCodecStatus::Corrupt);
  EXPECT_EQ(DecodeBytes(4, 1, {0xFF, 0xFF}), TCodecStatus::Corrupt);
  EXPECT_EQ(DecodeBytes(4, 1, {0x02, 0x00, 0xFF}), TCodecStatus::Truncated);
}

// Dynamic LZW codes of 9 bits, least significant bit first.
std::vector<uint8_t> Codes9(const std::vector<unsigned>& codes, bool header) {
  std::vector<uint8_t> out;
  if (header) out.push_back(12);
  uint32_t acc = 0;
  unsigned n = 0;
  for (unsigned c : codes) {
    acc |= c << n;
    n += 9;
    while (n >= 8) {
      out.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      n -= 8;
    }
  }
  if (n) out.push_back(static_cast<uint8_t>(acc));
  return out;
}

TEST(ArcDynamic, KwKwKCodesAndBadOnes) {
  std::vector<uint8_t> out;
  // a, then 257 (= "aa", defined by this very code), then b.
  EXPECT_EQ(DecodeBytes(9, 4, Codes9({'a', 257, 'b'}, false), &out), TCodecStatus::Ok);
  EXPECT_EQ(out, (std::vector<uint8_t>{'a', 'a', 'a', 'b'}));
  EXPECT_EQ(DecodeBytes(8, 4, Codes9({'a', 257, 'b'}, true), &out), TCodecStatus::Ok);
  EXPECT_EQ(out, (std::vector<uint8_t>{'a', 'a', 'a', 'b'}));
  // A code beyond the next free one; a first code that is a string; a wrong header.
  EXPECT_EQ(DecodeBytes(9, 4, Codes9({'a', 300}, false)), TCodecStatus::Corrupt);
  EXPECT_EQ(DecodeBytes(9, 4, Codes9({258}, false)), TCodecStatus::Corrupt);
  auto wrongHeader = Codes9({'a'}, true);
  wrongHeader[0] = 13;
  EXPECT_EQ(DecodeBytes(8, 1, wrongHeader), TCodecStatus::Corrupt);
  // More output than the size; less.
  EXPECT_EQ(DecodeBytes(9, 3, Codes9({'a', 257, 'b'}, false)), TCodecStatus::Corrupt);
  EXPECT_EQ(DecodeBytes(9, 9, Codes9({'a', 257, 'b'}, false)), TCodecStatus::Truncated);
  EXPECT_EQ(DecodeBytes(10, 9, {1}), TCodecStatus::Unsupported);
  EXPECT_EQ(DecodeBytes(11, 9, {1}), TCodecStatus::Unsupported);
}

TEST(ArcOldCrunch, UnknownCodesAreCorrupt) {
  TOldTable table(false);
  const unsigned a = static_cast<unsigned>(table.Find(0xFFFF, 'a'));
  // The slot the string "aa" would go to, and an empty slot that is not it.
  TOldTable next = table;
  const unsigned aa = next.Insert(static_cast<uint16_t>(a), 'a');
  unsigned empty = 0;
  while (table.Used(empty) || empty == aa) ++empty;
  std::vector<uint8_t> out;
  parcelo::test::TMsbBitWriter good;
  good.Bits(a, 12);
  good.Bits(aa, 12);
  EXPECT_EQ(DecodeBytes(5, 3, good.Finish(), &out), TCodecStatus::Ok);
  EXPECT_EQ(out, (std::vector<uint8_t>{'a', 'a', 'a'}));
  parcelo::test::TMsbBitWriter first;
  first.Bits(empty, 12);
  EXPECT_EQ(DecodeBytes(5, 1, first.Finish()), TCodecStatus::Corrupt);
  parcelo::test::TMsbBitWriter later;
  later.Bits(a, 12);
  later.Bits(empty, 12);
  EXPECT_EQ(DecodeBytes(5, 3, later.Finish()), TCodecStatus::Corrupt);
  // A lone byte after a pair of codes holds no whole code: the end.
  parcelo::test::TMsbBitWriter pair;
  pair.Bits(a, 12);
  pair.Bits(a, 12);
  auto bytes = pair.Finish();
  bytes.push_back(0xFF);
  EXPECT_EQ(DecodeBytes(5, 2, bytes, &out), TCodecStatus::Ok);
  EXPECT_EQ(out, (std::vector<uint8_t>{'a', 'a'}));
}

TEST(ArcCancel, StopsAtABlock) {
  const auto text = parcelo::test::TextPayload(200000);
  const auto packed = OldCrunch(RunLengths(text), true);
  const auto run = RunCodec(packed, 0,
                            [&](const TCodecIo& io) { return DecodeArc(7, text.size(), io); }, 1);
  EXPECT_EQ(run.status, TCodecStatus::Cancelled);
  EXPECT_LT(run.output.size(), text.size());
}

}  // namespace
