// Tests of the lister's LHA/LZH reader: archives made by lha at header levels 0, 1 and 2 list the
// names lhasa lists; the conformance archives list their reference names; level-2 headers whose
// file name is not the first extended header, whose size is a multiple of 256, or that sit behind
// a 128-byte prefix; damaged archives.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/ReaderFixture.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::Bytes;
using parcelo::test::ListFile;
using parcelo::test::TempDir;
using parcelo::test::TListOptions;

// lhasa's listing as the lister names entries; folders (ending in "/") only when `dirs`.
std::vector<std::string> LhasaNames(const TempDir& dir, const std::string& archive, bool dirs) {
  std::vector<std::string> names;
  bool inTable = false;
  for (const std::string& line : parcelo::test::LinesOf(dir.HostPath(), "lhasa l " + archive)) {
    if (line.rfind("----", 0) == 0) {
      if (inTable) break;
      inTable = true;
      continue;
    }
    if (!inTable) continue;
    // The name is the last column, after the date and time.
    const size_t cut = line.find_last_of(':');
    if (cut == std::string::npos || cut + 4 > line.size()) continue;
    const std::string name = line.substr(cut + 4);
    if (dirs || name.back() != '/') names.push_back(parcelo::test::Backslashed(name));
  }
  return names;
}

void PutLe16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void AppendExt(Bytes& h, uint8_t type, const std::string& data) {
  // The size of each extended header stands in the two bytes before it.
  const size_t sizeAt = h.size() - 2;
  PutLe16(h, sizeAt, static_cast<uint16_t>(data.size() + 3));
  h.push_back(type);
  h.insert(h.end(), data.begin(), data.end());
  h.push_back(0);
  h.push_back(0);  // the next size: 0 ends the chain unless another follows
}

// A level-2 header: method, sizes, then the extended headers given (type, data) in order.
Bytes Level2(const std::string& method, uint32_t packed,
             const std::vector<std::pair<uint8_t, std::string>>& exts) {
  Bytes h(26, 0);
  std::copy(method.begin(), method.end(), h.begin() + 2);
  for (int i = 0; i < 4; ++i) h[7 + i] = static_cast<uint8_t>(packed >> (8 * i));
  h[20] = 2;
  h[23] = 'U';
  for (const auto& [type, data] : exts) AppendExt(h, type, data);
  PutLe16(h, 0, static_cast<uint16_t>(h.size()));
  return h;
}

TEST(LhaLister, ToolMadeArchivesAtEveryLevelListLikeLhasa) {
  if (!parcelo::test::HaveTool("lha") || !parcelo::test::HaveTool("lhasa"))
    GTEST_SKIP() << "lha missing";
  TempDir dir("lha-tool");
  dir.WriteFile("src/readme.txt", std::string(5000, 'r'));
  dir.WriteFile("src/deep/er/than/this.bin", std::string(300, 'b'));
  dir.WriteFile("src/" + std::string(150, 'w') + ".txt", "wide");
  dir.WriteFile("top.txt", "top");
  for (const char* level : {"2", "1", "0"}) {
    const std::string archive = std::string("l") + level + ".lzh";
    // lha cannot put a name this long into a level-0 header.
    const bool wide = level[0] != '0';
    if (!wide) std::filesystem::remove(dir.Host("src/" + std::string(150, 'w') + ".txt"));
    ASSERT_TRUE(parcelo::test::RunIn(
        dir.HostPath(), std::string("lha a") + level + "q " + archive + " src top.txt"));
    const auto listed = ListFile(dir.Host(archive));
    EXPECT_EQ(listed.type, atLha);
    EXPECT_EQ(listed.names, LhasaNames(dir, archive, false)) << "level " << level;
    TListOptions dirs;
    dirs.showEmptyDirs = true;
    EXPECT_EQ(ListFile(dir.Host(archive), dirs).names, LhasaNames(dir, archive, true));
    EXPECT_EQ(listed.numFiles, wide ? 4 : 3) << "level " << level;
    EXPECT_EQ(listed.unpacked, 5000 + 300 + (wide ? 4 : 0) + 3) << "level " << level;

    // The same archive behind 128 bytes of zeros.
    Bytes prefixed(128, 0);
    const Bytes body = parcelo::test::ReadBytes(dir.Host(archive));
    prefixed.insert(prefixed.end(), body.begin(), body.end());
    parcelo::test::WriteBytes(dir.Host("p.lzh"), prefixed);
    EXPECT_EQ(ListFile(dir.Host("p.lzh")).names, listed.names) << "level " << level;
  }
}

TEST(LhaLister, ConformanceArchivesListTheirReferenceNames) {
  const std::filesystem::path root = PARCELO_TESTDATA_DIR;
  if (!std::filesystem::is_directory(root / "other")) GTEST_SKIP() << "no conformance archives";
  for (const char* level : {"0", "1", "2"}) {
    const std::string name = std::string("la_test_read_format_lha_header") + level + ".lzh";
    std::ifstream expected(root / "expected" / (name + ".list"));
    std::vector<std::string> names;
    for (std::string line; std::getline(expected, line);)
      names.push_back(parcelo::test::Backslashed(line));
    TListOptions dirs;
    dirs.showEmptyDirs = true;
    auto listed = ListFile((root / "other" / name).string(), dirs);
    std::sort(listed.names.begin(), listed.names.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(listed.names, names) << name;  // symbolic links list without their targets
    EXPECT_EQ(listed.numFiles, 4) << name;
  }
}

TEST(LhaLister, Level2NamesComeFromTheirOwnExtendedHeadersWhereverTheyStand) {
  TempDir dir("lha-built");
  Bytes archive;
  // CRC first, then the folder (0xFF separators), then the name: the common order of LHa for Unix.
  const Bytes a =
      Level2("-lh0-", 3, {{0x00, "\x12\x34"}, {0x02, "docs\xFFold\xFF"}, {0x01, "a.txt"}});
  archive.insert(archive.end(), a.begin(), a.end());
  archive.insert(archive.end(), {'a', 'a', 'a'});
  // A header of exactly 256 bytes: its first byte is 0, which must not end the walk.
  std::string pad(256 - 26 - 3 - 8, 'p');
  Bytes b = Level2("-lh0-", 0, {{0x01, "b.txt"}, {0x7F, pad}});
  ASSERT_EQ(b.size(), 256u);
  archive.insert(archive.end(), b.begin(), b.end());
  const Bytes d = Level2("-lhd-", 0, {{0x02, "docs\xFF"}});
  archive.insert(archive.end(), d.begin(), d.end());
  archive.push_back(0);  // the end mark
  archive.push_back(0);
  parcelo::test::WriteBytes(dir.Host("built.lzh"), archive);
  TListOptions dirs;
  dirs.showEmptyDirs = true;
  const auto listed = ListFile(dir.Host("built.lzh"), dirs);
  EXPECT_EQ(listed.names, (std::vector<std::string>{"docs\\old\\a.txt", "b.txt", "docs\\"}));
  EXPECT_EQ(listed.numFiles, 2);  // directories are shown, not counted
  EXPECT_EQ(listed.packed, 3);

  // An extended header that announces more than its header holds ends the walk before it.
  Bytes bad = archive;
  PutLe16(bad, a.size() + 3 + 24, 2000);
  parcelo::test::WriteBytes(dir.Host("bad.lzh"), bad);
  EXPECT_EQ(ListFile(dir.Host("bad.lzh"), dirs).names,
            std::vector<std::string>{"docs\\old\\a.txt"});
  // A chain that points at itself forever (size 3, next size 3, ...) cannot hang the walk.
  Bytes loop = Level2("-lh0-", 0, {});
  loop.resize(26 + 3 * 40000, 0);
  for (size_t i = 24; i + 1 < loop.size(); i += 3) PutLe16(loop, i, 3);
  PutLe16(loop, 0, 0xFFFF);
  parcelo::test::WriteBytes(dir.Host("loop.lzh"), loop);
  EXPECT_TRUE(ListFile(dir.Host("loop.lzh")).names.empty());
}

TEST(LhaLister, DamagedArchivesListAStartOfTheirNames) {
  if (!parcelo::test::HaveTool("lha")) GTEST_SKIP() << "lha missing";
  TempDir dir("lha-damaged");
  for (int i = 0; i < 12; ++i)
    dir.WriteFile("d/f" + std::to_string(i) + ".txt", std::string(100 * i, 'k'));
  for (const char* level : {"0", "1", "2"}) {
    const std::string archive = std::string("d") + level + ".lzh";
    ASSERT_TRUE(
        parcelo::test::RunIn(dir.HostPath(), std::string("lha a") + level + "q " + archive + " d"));
    const Bytes whole = parcelo::test::ReadBytes(dir.Host(archive));
    const auto full = ListFile(dir.Host(archive));
    ASSERT_EQ(full.names.size(), 12u);
    std::vector<size_t> cuts;
    for (size_t cut = 0; cut <= whole.size(); cut += 7) cuts.push_back(cut);
    parcelo::test::ExpectCutsListPrefixes(dir.Host("cut.lzh"), whole, cuts, full.names);
    parcelo::test::ListWithFlips(dir.Host("flip.lzh"), whole, 300, 11);
  }
}

}  // namespace
