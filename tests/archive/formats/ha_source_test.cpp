// The HA member source and its decoders: the HA archiver's own archives (CPY, ASC, HSC) against
// their known contents; hand-built archives for folders, the machine blocks, a wrong CRC-32 and
// methods it does not decode; archives cut short or with damaged bytes, which end members with an
// error and never a crash, a hang or a member that claims to be whole.
#include "archive/formats/ha_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archive/codecs/arvHa.h"
#include "support/MiniZip.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct TMember {
  TSourceMember Info;
  std::string Data;
  TDecodeResult Result = TDecodeResult::Ok;
  int Error = 0;
};

std::vector<TMember> Drain(const std::string& hostPath, int* endError = nullptr) {
  std::vector<TMember> out;
  auto source = CreateHaSource(hostPath, 0, TSourceServices{});
  TSourceMember info;
  while (source->Next(info) && out.size() < 1000) {
    TMember m;
    m.Info = info;
    m.Result = source->Decode(
        [&](const uint8_t* bytes, size_t count) {
          m.Data.append(reinterpret_cast<const char*>(bytes), count);
        },
        "");
    m.Error = source->ErrorCode();
    out.push_back(std::move(m));
  }
  if (endError != nullptr) *endError = source->ErrorCode();
  return out;
}

std::string Sha256(const std::string& s) {
  return minizip::Sha256Hex(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

std::string TestData(const std::string& relative) {
  return std::string(PARCELO_TESTDATA_DIR) + "/" + relative;
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// ---- hand-built archives
void Le(Bytes& b, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
struct THaEntry {
  uint8_t Method = 0;
  std::string Path, Name, Data;
  Bytes Machine;
  uint32_t Time = 1700000000;
  int CrcDelta = 0;
};
Bytes BuildHa(const std::vector<THaEntry>& entries) {
  Bytes b = {'H', 'A'};
  Le(b, static_cast<uint32_t>(entries.size()), 2);
  for (const THaEntry& e : entries) {
    b.push_back(static_cast<uint8_t>(0x20 | e.Method));
    Le(b, static_cast<uint32_t>(e.Data.size()), 4);
    Le(b, static_cast<uint32_t>(e.Data.size()), 4);
    Le(b, minizip::Crc32(reinterpret_cast<const uint8_t*>(e.Data.data()), e.Data.size()) + e.CrcDelta,
       4);
    Le(b, e.Time, 4);
    b.insert(b.end(), e.Path.begin(), e.Path.end());
    b.push_back(0);
    b.insert(b.end(), e.Name.begin(), e.Name.end());
    b.push_back(0);
    b.push_back(static_cast<uint8_t>(e.Machine.size()));
    b.insert(b.end(), e.Machine.begin(), e.Machine.end());
    b.insert(b.end(), e.Data.begin(), e.Data.end());
  }
  return b;
}

class HaSourceTest : public ::testing::Test {
 protected:
  parcelo::test::TempDir dir{"ha-source"};
  std::string Write(const Bytes& bytes, const std::string& name = "t.ha") {
    minizip::WriteFile(dir.Host(name), bytes);
    return dir.Host(name);
  }
};

// The HA archiver's archives: names in archive order as the reference lists them, ASC contents
// by their sha256, CPY by size and CRC; HSC members named and refused.
TEST_F(HaSourceTest, ArchiverMadeArchives) {
  if (!fs::exists(TestData("other/own_ha_asc.ha"))) GTEST_SKIP() << "no conformance archives";
  for (const char* name : {"own_ha_cpy.ha", "own_ha_asc.ha", "own_ha_hsc.ha"}) {
    SCOPED_TRACE(name);
    const auto members = Drain(TestData(std::string("other/") + name));
    const auto listed = Lines(TestData(std::string("expected/") + name + ".list"));
    ASSERT_EQ(members.size(), listed.size());
    std::vector<std::string> sums = Lines(TestData(std::string("expected/") + name + ".sha256"));
    for (size_t i = 0; i < members.size(); ++i) {
      const TMember& m = members[i];
      EXPECT_EQ(m.Info.Name, listed[i]);
      EXPECT_EQ(m.Info.Mode & 0777, 0644u);
      if (m.Info.Method == "HSC") {
        EXPECT_EQ(m.Result, TDecodeResult::Unsupported);
        EXPECT_EQ(m.Error, 25326);
        continue;
      }
      EXPECT_EQ(m.Result, TDecodeResult::Ok) << m.Error;
      EXPECT_EQ(static_cast<int64_t>(m.Data.size()), m.Info.Size);
      if (!sums.empty()) {
        EXPECT_EQ(sums[i], Sha256(m.Data) + "  " + listed[i]);
      }
    }
  }
  // Both compressed archives hold the same two files.
  const auto asc = Drain(TestData("other/own_ha_asc.ha"));
  ASSERT_EQ(asc.size(), 2u);
  EXPECT_EQ(asc[0].Info.Method, "ASC");
  EXPECT_EQ(asc[1].Info.Size, 40556);
}

// Cut anywhere, a member ends with an error (never Ok with less than its size) and the walk ends.
TEST_F(HaSourceTest, CutShortArchives) {
  if (!fs::exists(TestData("other/own_ha_asc.ha"))) GTEST_SKIP() << "no conformance archives";
  const Bytes whole = *minizip::ReadFile(TestData("other/own_ha_asc.ha"));
  for (size_t cut : {size_t{3}, size_t{20}, size_t{50}, size_t{400}, size_t{900}, size_t{5000},
                     whole.size() - 1}) {
    SCOPED_TRACE(cut);
    const std::string path = Write(Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(cut)));
    for (const TMember& m : Drain(path)) {
      if (m.Result == TDecodeResult::Ok) {
        EXPECT_EQ(static_cast<int64_t>(m.Data.size()), m.Info.Size);
      }
      EXPECT_LE(static_cast<int64_t>(m.Data.size()), m.Info.Size);
    }
  }
  const auto last = Drain(Write(Bytes(whole.begin(), whole.end() - 1)));
  ASSERT_EQ(last.size(), 2u);
  EXPECT_EQ(last[1].Result, TDecodeResult::Truncated);
}

// Damaged bytes in the ASC data: errors or a failed CRC, output within the size, never a hang.
TEST_F(HaSourceTest, DamagedAscData) {
  if (!fs::exists(TestData("other/own_ha_asc.ha"))) GTEST_SKIP() << "no conformance archives";
  const Bytes whole = *minizip::ReadFile(TestData("other/own_ha_asc.ha"));
  std::mt19937 rng(3);
  int caught = 0;
  for (int round = 0; round < 60; ++round) {
    Bytes bad = whole;
    const size_t at = 60 + rng() % (bad.size() - 60);  // in the data, past the first header
    bad[at] = static_cast<uint8_t>(bad[at] ^ (1 + rng() % 255));
    for (const TMember& m : Drain(Write(bad))) {
      EXPECT_LE(static_cast<int64_t>(m.Data.size()), m.Info.Size);
      if (m.Result != TDecodeResult::Ok) ++caught;
    }
  }
  EXPECT_GE(caught, 55);
}

TEST_F(HaSourceTest, FoldersMachineBlocksAndChecks) {
  std::vector<THaEntry> e(5);
  e[0].Method = kHaMethodDirectory;
  e[0].Name = "docs";
  e[0].Machine = {2, 0xED, 0x41, 0, 0, 0, 0};  // Unix, mode 040755
  e[1].Path = "docs\xff";
  e[1].Name = "a.txt";
  e[1].Data = "alpha";
  e[1].Machine = {1, 0x21};  // MS-DOS, read-only and archive
  e[2].Name = "bad.txt";
  e[2].Data = "beta";
  e[2].CrcDelta = 1;
  e[3].Method = kHaMethodHsc;
  e[3].Name = "h.txt";
  e[3].Data = "xx";
  e[4].Method = 15;
  e[4].Name = "odd";
  e[4].Data = "y";
  const auto members = Drain(Write(BuildHa(e)));
  ASSERT_EQ(members.size(), 5u);
  EXPECT_EQ(members[0].Info.Kind, TMemberKind::Folder);
  EXPECT_EQ(members[0].Info.Name, "docs");
  EXPECT_EQ(members[0].Info.Mode, 040755u);
  EXPECT_EQ(members[0].Result, TDecodeResult::Ok);
  EXPECT_EQ(members[1].Info.Kind, TMemberKind::File);
  EXPECT_EQ(members[1].Info.Attributes, 0x21u);
  EXPECT_EQ(members[1].Info.Method, "CPY");
  EXPECT_TRUE(members[1].Info.HasExactTime);
  EXPECT_EQ(members[1].Info.UnixTime, 1700000000);
  EXPECT_EQ(members[1].Data, "alpha");
  EXPECT_EQ(members[1].Result, TDecodeResult::Ok);
  EXPECT_EQ(members[2].Result, TDecodeResult::ChecksumFailed);
  EXPECT_EQ(members[2].Error, 25151);
  EXPECT_EQ(members[3].Result, TDecodeResult::Unsupported);
  EXPECT_EQ(members[3].Info.Method, "HSC");
  EXPECT_EQ(members[3].Data, "");
  EXPECT_EQ(members[4].Result, TDecodeResult::Unsupported);
}

TEST_F(HaSourceTest, NotAnHaArchiveAndMissingFiles) {
  int error = 0;
  EXPECT_TRUE(Drain(Write({'P', 'K', 3, 4, 0, 0}), &error).empty());
  EXPECT_NE(error, 0);
  EXPECT_TRUE(Drain(dir.Host("none.ha"), &error).empty());
  EXPECT_NE(error, 0);
  // A count larger than the members there: the walk ends at the file's end.
  Bytes b = BuildHa({THaEntry{0, "", "a", "A", {}, 1, 0}});
  b[2] = 9;
  EXPECT_EQ(Drain(Write(b)).size(), 1u);
}

// The ASC decoder alone: an end code before the size is Truncated; more output than the size is
// Corrupt; a first match before any literal is Corrupt.
TEST(HaAsc, SizeDisagreements) {
  if (!fs::exists(TestData("other/own_ha_asc.ha"))) GTEST_SKIP() << "no conformance archives";
  const Bytes whole = *minizip::ReadFile(TestData("other/own_ha_asc.ha"));
  // The first member: 17-byte header at 4, "" and "readme.txt", machine block of 7.
  const size_t data = 4 + 17 + 1 + 11 + 1 + 7;
  const uint32_t packed = whole[5] | whole[6] << 8;
  const Bytes member(whole.begin() + data, whole.begin() + data + packed);
  auto run = [&](uint64_t size) {
    size_t at = 0;
    TCodecIo io;
    io.Read = [&](uint8_t* buffer, size_t count) {
      const size_t n = std::min(count, member.size() - at);
      std::copy_n(member.begin() + static_cast<ptrdiff_t>(at), n, buffer);
      at += n;
      return n;
    };
    io.Write = [](const uint8_t*, size_t) {};
    return DecodeHaMember(kHaMethodAsc, io, size);
  };
  EXPECT_EQ(run(3043).Status, TCodecStatus::Ok);
  EXPECT_EQ(run(3043).Written, 3043u);
  EXPECT_EQ(run(3044).Status, TCodecStatus::Truncated);
  EXPECT_EQ(run(3000).Status, TCodecStatus::Corrupt);
  EXPECT_LE(run(3000).Written, 3000u);
}

}  // namespace
