// Tests of the ZOO member source and of its LZW decoder (lzd). No Debian tool writes ZOO: the tests
// build archives field by field with members stored, LZW-coded by an encoder of their own (which
// the decoder must invert, also across dictionary clears and in the string-being-defined case)
// and lh5-coded (a -lh5- stream taken out of a jlha archive); lsar, which reads ZOO, finds every
// member's CRC right. Folders and long names, deleted entries, Unix modes, the lister's names, a wrong
// CRC, cut and damaged archives, corrupt LZW streams.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/codecs/arvLzd.h"
#include "archive/common/arvStreams.h"
#include "archive/formats/lhacab_sources.h"
#include "support/ReaderFixture.h"
#include "support/SourceFixture.h"
#include "support/TempDir.h"
#include "support/ZooWriter.h"

namespace {

using namespace parcelo::test;

std::string Text(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"zoo ", "archive ", "lzw ", "code ", "table ", "clear ", "\n"};
  std::string out;
  uint32_t x = seed;
  while (out.size() < size) out += kWords[((x = x * 1103515245 + 12345) >> 16) % 7];
  out.resize(size);
  return out;
}

std::string Noise(size_t size, uint32_t seed) {
  std::string out;
  for (uint32_t x = seed; out.size() < size;) out += static_cast<char>((x = x * 69069 + 1) >> 24);
  return out;
}

TDrained DrainZoo(const std::string& path) {
  auto source = CreateZooSource(path, 0, TSourceServices{});
  return Drain(source.get());
}

// ---- the LZW decoder on its own -----------------------------------------------------------------
TCodecStatus Lzd(const Bytes& packed, uint64_t limit, std::string& out) {
  size_t at = 0;
  TCodecIo io;
  io.Read = [&](uint8_t* buffer, size_t count) {
    const size_t n = std::min(count, packed.size() - at);
    std::copy(packed.begin() + static_cast<long>(at), packed.begin() + static_cast<long>(at + n), buffer);
    at += n;
    return n;
  };
  io.Write = [&](const uint8_t* bytes, size_t count) { out.append(reinterpret_cast<const char*>(bytes), count); };
  return LzdDecode(io, limit);
}

TEST(Lzd, RoundTripsAcrossWidthsClearsAndSelfReferences) {
  for (const std::string& data : {std::string(), std::string("a"), std::string(100000, 'a'),
                                  Text(300000, 1), Noise(70000, 2), Text(5000, 3) + Noise(40000, 4)}) {
    std::string out;
    EXPECT_EQ(Lzd(LzwEncode(data), data.size(), out), TCodecStatus::Ok) << data.size();
    EXPECT_TRUE(SameBytes(out, data));
  }
}

TEST(Lzd, CorruptAndShortStreamsEndCleanly) {
  const std::string data = Text(20000, 9);
  const Bytes packed = LzwEncode(data);
  std::string out;
  EXPECT_EQ(Lzd(Bytes(packed.begin(), packed.end() - 40), data.size(), out), TCodecStatus::Truncated);
  out.clear();
  EXPECT_EQ(Lzd(packed, data.size() - 1, out), TCodecStatus::Corrupt);  // more than the member
  out.clear();
  BitsLsb bits;
  bits.Put(256, 9);
  bits.Put('x', 9);
  bits.Put(300, 9);  // a code not defined yet
  EXPECT_EQ(Lzd(bits.Finish(), 100, out), TCodecStatus::Corrupt);
  std::mt19937 random(5);
  for (int round = 0; round < 300; ++round) {
    Bytes damaged = packed;
    damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1 + random() % 255);
    out.clear();
    Lzd(damaged, data.size(), out);
    EXPECT_LE(out.size(), data.size());
  }
}

// ---- the source -----------------------------------------------------------------------------------
TEST(ZooSource, MembersOfEveryMethodDecodeAndLsarChecksThemAlike) {
  TempDir dir;
  std::vector<ZooMember> members = {
      {"readme.txt", "", Text(3000, 5), 0, {}, false, 0644},
      {"a long file name.txt", "docs/sub", Text(200000, 6), 1, {}, false, 0600},
      {"old.txt", "", "deleted member", 0, {}, true},
      {"noise.bin", "bin", Noise(50000, 7), 1},
      {"empty", "", "", 1},
  };
  if (HaveTool("jlha")) {
    const std::string lh5Data = Text(60000, 8);
    dir.WriteFile("in/l.txt", lh5Data);
    ASSERT_TRUE(RunIn(dir.Host("in"), "jlha ao50 ../l.lzh l.txt"));
    const Bytes lzh = ReadBytes(dir.Host("l.lzh"));
    ASSERT_GT(lzh.size(), 30u);
    // The data follows the header: its size is a byte at levels 0 and 1, a word at level 2.
    const size_t dataStart = lzh[20] == 2 ? (lzh[0] | lzh[1] << 8) : 2 + lzh[0];
    const uint32_t packedSize = lzh[7] | lzh[8] << 8 | lzh[9] << 16 | static_cast<uint32_t>(lzh[10]) << 24;
    ZooMember lh5{"lh5.txt", "", lh5Data, 2};
    lh5.packed.assign(lzh.begin() + static_cast<long>(dataStart),
                      lzh.begin() + static_cast<long>(dataStart + packedSize));
    members.push_back(lh5);
  }
  const std::string path = dir.Host("t.zoo");
  WriteBytes(path, ZooArchive(members));
  const TDrained drained = DrainZoo(path);
  EXPECT_EQ(drained.endError, 0);
  std::vector<std::string> names;
  for (const ZooMember& m : members)
    if (!m.deleted) names.push_back(m.folder.empty() ? m.name : m.folder + "/" + m.name);
  ASSERT_EQ(drained.Names(), names);
  EXPECT_EQ(ListerStyleNames(drained, false), ListFile(path).names);
  for (const ZooMember& m : members) {
    if (m.deleted) continue;
    const TDrainedMember* got = drained.Find(m.folder.empty() ? m.name : m.folder + "/" + m.name);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->result, TDecodeResult::Ok) << m.name;
    EXPECT_TRUE(SameBytes(got->data, m.data)) << m.name;
    EXPECT_EQ(got->member.Mode, m.mode) << m.name;
  }
  if (HaveTool("lsar")) {
    // lsar tests each member against its CRC-16 (computed here from the original bytes), so it
    // decodes the LZW and lh5 streams as we do. (unar 1.10 itself crashes writing bin/noise.bin.)
    int status = -1;
    const std::string report = RunTool("lsar -t '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << report;
    EXPECT_NE(report.find(std::to_string(members.size()) + " passed, 0 failed"), std::string::npos)
        << report;
  }
}

TEST(ZooSource, AWrongCrcACutArchiveAndDamageAreReported) {
  TempDir dir;
  const std::string path = dir.Host("c.zoo");
  WriteBytes(path, ZooArchive({{"a.txt", "", Text(4000, 1), 1, {}, false, 0, true},
                               {"b.txt", "", Text(100, 2), 0, {}, false, 0, true}}));
  TDrained drained = DrainZoo(path);
  ASSERT_EQ(drained.members.size(), 2u);
  EXPECT_EQ(drained.members[0].result, TDecodeResult::ChecksumFailed);
  EXPECT_EQ(drained.members[1].result, TDecodeResult::ChecksumFailed);

  const Bytes whole = ZooArchive({{"a.txt", "f", Text(4000, 1), 1}, {"b.txt", "", Text(900, 2), 0}});
  for (size_t cut = 0; cut < whole.size(); cut += 13) {
    WriteBytes(path, Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
    drained = DrainZoo(path);
    for (const TDrainedMember& m : drained.members) {
      if (m.result != TDecodeResult::Ok) continue;  // a whole member may come before the cut
      EXPECT_TRUE(SameBytes(m.data, m.member.Name == "f/a.txt" ? Text(4000, 1) : Text(900, 2))) << cut;
    }
  }
  DrainWithFlips(path, whole, 300, [&] { return CreateZooSource(path, 0, TSourceServices{}); });
}

}  // namespace
