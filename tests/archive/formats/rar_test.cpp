// Tests of the lister's RAR readers (RAR 1.5 to 4 and RAR 5): the conformance archives list their
// reference names (also across the 7 volumes of a RAR 2 set, each split file counted once),
// archives built block by block for volumes, large files, Unicode names and encrypted headers,
// the names of next volumes, RAR 5 detected as RAR, and damaged archives.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "archive/formats/rar.h"
#include "support/ReaderFixture.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::Bytes;
using parcelo::test::ListFile;
using parcelo::test::TempDir;
using parcelo::test::TListOptions;

const std::filesystem::path kRoot = PARCELO_TESTDATA_DIR;

std::vector<std::string> Expected(const std::string& name, bool dirs) {
  std::ifstream in(kRoot / "expected" / (name + ".list"));
  std::vector<std::string> names;
  for (std::string line; std::getline(in, line);)
    if (dirs || line.back() != '/') names.push_back(parcelo::test::Backslashed(line));
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// Accepts whatever volume the lister proposes.
TListOptions AcceptVolumes(bool dirs = false) {
  TListOptions options;
  options.showEmptyDirs = dirs;
  options.nextVolume = [](std::string&) { return true; };
  return options;
}

void Put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, static_cast<uint16_t>(v));
  Put16(b, static_cast<uint16_t>(v >> 16));
}
void PutVint(Bytes& b, uint64_t v) {
  do {
    b.push_back(static_cast<uint8_t>((v & 0x7F) | (v > 0x7F ? 0x80 : 0)));
    v >>= 7;
  } while (v);
}

// ---- RAR 1.5 to 4, block by block (header CRCs are not checked by the lister) ----------------
Bytes Rar4Start(uint16_t mainFlags = 0) {
  Bytes b = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
  Put16(b, 0);
  b.push_back(0x73);
  Put16(b, mainFlags);
  Put16(b, 13);
  b.resize(b.size() + 6, 0);
  return b;
}

void Rar4File(Bytes& b, const std::string& name, uint32_t packed, uint32_t unpacked,
              uint16_t flags = 0, uint8_t host = 2, uint32_t attributes = 0x20,
              const Bytes& highSizes = {}) {
  Put16(b, 0);
  b.push_back(0x74);
  Put16(b, static_cast<uint16_t>(0x8000 | flags));
  Put16(b, static_cast<uint16_t>(32 + highSizes.size() + name.size()));
  Put32(b, packed);
  Put32(b, unpacked);
  b.push_back(host);
  Put32(b, 0);
  Put32(b, 0x5A210000);
  b.push_back(29);
  b.push_back('3');
  Put16(b, static_cast<uint16_t>(name.size()));
  Put32(b, attributes);
  b.insert(b.end(), highSizes.begin(), highSizes.end());
  b.insert(b.end(), name.begin(), name.end());
  b.resize(b.size() + packed, 0xAB);
}

void Rar4End(Bytes& b) {
  Put16(b, 0);
  b.push_back(0x7B);
  Put16(b, 0x4000);
  Put16(b, 7);
}

// ---- RAR 5 -----------------------------------------------------------------------------------
Bytes Rar5Block(uint64_t type, uint64_t flags, const Bytes& fields, uint64_t dataSize,
                const Bytes& extra = {}) {
  Bytes body;
  PutVint(body, type);
  PutVint(body, flags | (dataSize ? 0x0002 : 0) | (extra.empty() ? 0 : 0x0001));
  if (!extra.empty()) PutVint(body, extra.size());
  if (dataSize) PutVint(body, dataSize);
  body.insert(body.end(), fields.begin(), fields.end());
  body.insert(body.end(), extra.begin(), extra.end());
  Bytes b;
  Put32(b, 0);
  PutVint(b, body.size());
  b.insert(b.end(), body.begin(), body.end());
  b.resize(b.size() + dataSize, 0xCD);
  return b;
}

Bytes Rar5Start(uint64_t archiveFlags = 0) {
  Bytes b = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
  Bytes fields;
  PutVint(fields, archiveFlags);
  const Bytes main = Rar5Block(1, 0, fields, 0);
  b.insert(b.end(), main.begin(), main.end());
  return b;
}

void Rar5File(Bytes& b, uint64_t type, const std::string& name, uint64_t packed, uint64_t unpacked,
              uint64_t blockFlags = 0, bool directory = false) {
  Bytes fields;
  PutVint(fields, directory ? 1 : 0);
  PutVint(fields, unpacked);
  PutVint(fields, 0x20);
  PutVint(fields, 0);  // compression information
  PutVint(fields, 1);  // Unix
  PutVint(fields, name.size());
  fields.insert(fields.end(), name.begin(), name.end());
  const Bytes block = Rar5Block(type, blockFlags, fields, packed);
  b.insert(b.end(), block.begin(), block.end());
}

void Rar5End(Bytes& b, bool moreVolumes = false) {
  Bytes fields;
  PutVint(fields, moreVolumes ? 1 : 0);
  const Bytes block = Rar5Block(5, 0, fields, 0);
  b.insert(b.end(), block.begin(), block.end());
}

TEST(RarLister, ConformanceArchivesListTheirReferenceNames) {
  if (!std::filesystem::is_directory(kRoot / "other")) GTEST_SKIP() << "no conformance archives";
  for (const char* name : {"sc_Rar4.rar", "sc_Rar5.rar", "sc_Rar2.multi.rar"}) {
    for (bool dirs : {false, true}) {
      const auto listed = ListFile((kRoot / "other" / name).string(), AcceptVolumes(dirs));
      EXPECT_EQ(listed.type, atRar) << name;
      EXPECT_EQ(Sorted(listed.names), Expected(name, dirs)) << name;
      EXPECT_EQ(listed.numFiles, 3) << name;  // split files once, directories not counted
      EXPECT_TRUE(listed.errors.empty()) << name;
    }
  }
  // The RAR 2 set spans 60623 bytes; its three files' packed parts sum to nearly all of it.
  const auto set = ListFile((kRoot / "other" / "sc_Rar2.multi.rar").string(), AcceptVolumes());
  EXPECT_GT(set.packed, 59000);
  EXPECT_LT(set.packed, 60623);
  EXPECT_EQ(set.unpacked, 45056 + 40372 + 15498);
}

TEST(RarLister, ConformanceArchivesAgreeWithLsar) {
  if (!std::filesystem::is_directory(kRoot / "other")) GTEST_SKIP() << "no conformance archives";
  if (!parcelo::test::HaveTool("lsar")) GTEST_SKIP() << "lsar missing";
  TempDir dir("rar-lsar");
  for (const char* name : {"sc_Rar4.rar", "sc_Rar2.multi.rar"}) {
    std::vector<std::string> oracle;
    const auto lines =
        parcelo::test::LinesOf(dir.HostPath(), "lsar '" + (kRoot / "other" / name).string() + "'");
    for (size_t i = 1; i < lines.size(); ++i) {  // the first line names the archive
      const std::string& line = lines[i];
      if (line.empty() || line.back() == '/') continue;
      oracle.push_back(parcelo::test::Backslashed(line));
    }
    EXPECT_EQ(Sorted(ListFile((kRoot / "other" / name).string(), AcceptVolumes()).names),
              Sorted(oracle))
        << name;
  }
}

TEST(RarLister, SplitFileIsCountedOnceWhereItEnds) {
  TempDir dir("rar-volumes");
  Bytes first = Rar4Start(0x0001);
  Rar4File(first, "a.txt", 10, 10);
  Rar4File(first, "big.bin", 100, 250, 0x0002);
  Bytes second = Rar4Start(0x0001);
  Rar4File(second, "big.bin", 60, 250, 0x0001 | 0x0002);
  Bytes third = Rar4Start(0x0001);
  Rar4File(third, "big.bin", 40, 250, 0x0001);
  Rar4File(third, "c.txt", 5, 7);
  for (Bytes* b : {&first, &second, &third}) Rar4End(*b);
  parcelo::test::WriteBytes(dir.Host("set.rar"), first);
  parcelo::test::WriteBytes(dir.Host("set.r00"), second);
  parcelo::test::WriteBytes(dir.Host("set.r01"), third);

  std::vector<std::string> asked;
  TListOptions options;
  options.nextVolume = [&asked](std::string& volume) {
    asked.push_back(volume);
    return true;
  };
  const auto listed = ListFile(dir.Host("set.rar"), options);
  EXPECT_EQ(listed.names, (std::vector<std::string>{"a.txt", "big.bin", "c.txt"}));
  EXPECT_EQ(listed.numFiles, 3);
  EXPECT_EQ(listed.packed, 10 + 100 + 60 + 40 + 5);
  EXPECT_EQ(listed.unpacked, 10 + 250 + 7);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1].substr(asked[1].size() - 8), "\\set.r01");

  // Refused: the walk stops; what was listed before stays, the split file is not listed.
  TListOptions refuse;
  refuse.nextVolume = [](std::string&) { return false; };
  EXPECT_EQ(ListFile(dir.Host("set.rar"), refuse).names, std::vector<std::string>{"a.txt"});
  // No handler at all: said so, and the same.
  const auto unhandled = ListFile(dir.Host("set.rar"), {.nextVolumeHandler = false});
  EXPECT_EQ(unhandled.names, std::vector<std::string>{"a.txt"});
  EXPECT_TRUE(unhandled.HasError(kErrEventNotAssigned));
  // A next volume cut inside its archive header: reported, the listing kept.
  parcelo::test::WriteBytes(dir.Host("set.r00"), Bytes(second.begin(), second.begin() + 12));
  const auto cut = ListFile(dir.Host("set.rar"), options);
  EXPECT_EQ(cut.names, std::vector<std::string>{"a.txt"});
  EXPECT_TRUE(cut.HasError(kErrReadingFile));
}

TEST(RarLister, FileHeadersWithLargeSizesUnicodeNamesAndUnixFolders) {
  TempDir dir("rar-headers");
  Bytes b = Rar4Start();
  // "Ab" in the 8-bit form, then the Unicode form: high byte 0x04, flags 01 00 00 00 (one
  // character with the high byte, then one plain low byte): U+0436 and "b".
  std::string unicode = std::string("Ab") + '\0' + "\x04\x40\x36" + "b";
  Rar4File(b, unicode, 1, 1, 0x0200);
  Rar4File(b, "unixdir", 0, 0, 0, 3, 0x41ED);  // mode 040755: a folder
  Rar4File(b, "dosdir", 0, 0, 0, 2, 0x10);
  Rar4File(b, "\x82t\x82.txt", 1, 1);  // OEM bytes from a DOS host
  // Last: its data (over 4 GiB) would reach past the file.
  Rar4File(b, "huge.iso", 3, 5, 0x0100, 2, 0x20, {1, 0, 0, 0, 2, 0, 0, 0});
  Rar4End(b);
  parcelo::test::WriteBytes(dir.Host("h.rar"), b);
  TListOptions dirs;
  dirs.showEmptyDirs = true;
  const auto listed = ListFile(dir.Host("h.rar"), dirs);
  EXPECT_EQ(listed.names, (std::vector<std::string>{"\xD0\xB6"
                                                    "b",
                                                    "unixdir\\", "dosdir\\",
                                                    "\xC3\xA9t\xC3\xA9.txt", "huge.iso"}));
  EXPECT_EQ(listed.numFiles, 3);
  EXPECT_EQ(listed.packed, 3 + (1ll << 32) + 1 + 1);
  EXPECT_EQ(listed.unpacked, 5 + (2ll << 32) + 1 + 1);

  // Encrypted headers: nothing can be listed without the password, and that is what is said.
  Bytes locked = Rar4Start(0x0080);
  locked.resize(locked.size() + 200, 0x5A);
  parcelo::test::WriteBytes(dir.Host("locked.rar"), locked);
  const auto lockedList = ListFile(dir.Host("locked.rar"));
  EXPECT_TRUE(lockedList.names.empty());
  EXPECT_TRUE(lockedList.HasError(rar::kErrPasswordProtected));
}

TEST(Rar5Lister, BlocksVolumesServiceHeadersAndEncryption) {
  TempDir dir("rar5");
  Bytes first = Rar5Start(0x0001);
  Rar5File(first, 2, "docs", 0, 0, 0, true);
  Rar5File(first, 2, "docs/a.txt", 30, 90);
  Rar5File(first, 3, "CMT", 12, 12);  // an archive comment: not an entry
  Rar5File(first, 2, "big.bin", 1000, 5000, 0x0010);
  Rar5End(first, true);
  Bytes second = Rar5Start(0x0001 | 0x0002);
  Rar5File(second, 2, "big.bin", 700, 5000, 0x0008);
  Rar5File(second, 2, "z.txt", 1, 1);
  Rar5End(second);
  parcelo::test::WriteBytes(dir.Host("v.part1.rar"), first);
  parcelo::test::WriteBytes(dir.Host("v.part2.rar"), second);
  const auto listed = ListFile(dir.Host("v.part1.rar"), AcceptVolumes(true));
  EXPECT_EQ(listed.type, atRar);
  EXPECT_EQ(listed.names, (std::vector<std::string>{"docs\\", "docs\\a.txt", "big.bin", "z.txt"}));
  EXPECT_EQ(listed.numFiles, 3);
  EXPECT_EQ(listed.packed, 30 + 1000 + 700 + 1);
  EXPECT_EQ(listed.unpacked, 90 + 5000 + 1);
  EXPECT_TRUE(listed.errors.empty());

  Bytes encrypted = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
  Bytes fields = {0, 0, 0};  // version, flags, KDF count...
  fields.resize(40, 0x11);
  const Bytes lock = Rar5Block(4, 0, fields, 0);
  encrypted.insert(encrypted.end(), lock.begin(), lock.end());
  encrypted.resize(encrypted.size() + 300, 0x77);
  parcelo::test::WriteBytes(dir.Host("e.rar"), encrypted);
  const auto locked = ListFile(dir.Host("e.rar"));
  EXPECT_TRUE(locked.names.empty());
  EXPECT_TRUE(locked.HasError(rar::kErrPasswordProtected));

  // A header size that is no number (ten continuation bytes) or reaches past the file ends it.
  Bytes broken = Rar5Start();
  Rar5File(broken, 2, "ok.txt", 1, 1);
  Bytes bad = broken;
  bad.insert(bad.end(), {0, 0, 0, 0});
  bad.insert(bad.end(), 10, 0xFF);
  bad.resize(bad.size() + 20, 0);
  parcelo::test::WriteBytes(dir.Host("b.rar"), bad);
  EXPECT_EQ(ListFile(dir.Host("b.rar")).names, std::vector<std::string>{"ok.txt"});
}

// A file's time: the extra area's time record (Windows file time, or Unix seconds with their
// nanoseconds behind every time the record holds) over the header's own Unix seconds.
TEST(Rar5Lister, FileTimesFromTheHeaderAndTheExtraArea) {
  const auto file = [](Bytes& b, const std::string& name, std::optional<uint32_t> headerTime,
                       const Bytes& timeRecord) {
    Bytes fields;
    PutVint(fields, headerTime ? 0x0002 : 0);
    PutVint(fields, 1);     // unpacked size
    PutVint(fields, 0x20);  // attributes
    if (headerTime) Put32(fields, *headerTime);
    PutVint(fields, 0);  // compression information
    PutVint(fields, 1);  // Unix
    PutVint(fields, name.size());
    fields.insert(fields.end(), name.begin(), name.end());
    Bytes extra;
    if (!timeRecord.empty()) {
      const Bytes other = {2, 0x7F, 0};  // a record of another type comes first
      extra = other;
      PutVint(extra, timeRecord.size());
      extra.insert(extra.end(), timeRecord.begin(), timeRecord.end());
    }
    const Bytes block = Rar5Block(2, 0, fields, 1, extra);
    b.insert(b.end(), block.begin(), block.end());
  };
  Bytes unixTimes = {3, 0x01 | 0x02 | 0x04 | 0x10};  // modified and created, with nanoseconds
  Put32(unixTimes, 1100000003);
  Put32(unixTimes, 7);
  Put32(unixTimes, 123456789);
  Put32(unixTimes, 5);
  Bytes windowsTimes = {3, 0x02 | 0x08};  // modified and accessed, Windows file times
  const uint64_t ticks = (1200000005ull + 11644473600ull) * 10000000ull + 1234567;
  for (int i = 0; i < 8; ++i) windowsTimes.push_back(static_cast<uint8_t>(ticks >> (8 * i)));
  windowsTimes.insert(windowsTimes.end(), 8, 0x11);
  Bytes cut = {3, 0x02};  // a record too short for its time is no time
  Put32(cut, 99);

  Bytes b = Rar5Start();
  file(b, "header.txt", 1000000001, {});
  file(b, "unix.txt", 1, unixTimes);
  file(b, "windows.txt", std::nullopt, windowsTimes);
  file(b, "cut.txt", 1000000009, cut);
  file(b, "none.txt", std::nullopt, {});
  Rar5End(b);
  TempDir dir("rar5-times");
  parcelo::test::WriteBytes(dir.Host("t.rar"), b);
  const auto listed = ListFile(dir.Host("t.rar"));
  ASSERT_EQ(listed.entries.size(), 5u);
  const struct {
    bool valid;
    int64_t seconds;
    uint32_t nanoseconds;
  } expected[] = {{true, 1000000001, 0},
                  {true, 1100000003, 123456789},
                  {true, 1200000005, 123456700},
                  {true, 1000000009, 0},
                  {false, 0, 0}};
  for (size_t i = 0; i < 5; ++i) {
    const TExactTime& time = listed.entries[i].ExactTime;
    SCOPED_TRACE(listed.entries[i].FileName);
    EXPECT_EQ(time.Valid, expected[i].valid);
    EXPECT_EQ(time.Seconds, expected[i].seconds);
    EXPECT_EQ(time.Nanoseconds, expected[i].nanoseconds);
  }
}

// The real RAR 5 archive's times, against the files bsdtar extracts from it.
TEST(Rar5Lister, ConformanceTimesAgreeWithBsdtar) {
  if (!std::filesystem::is_directory(kRoot / "other")) GTEST_SKIP() << "no conformance archives";
  if (!parcelo::test::HaveTool("bsdtar")) GTEST_SKIP() << "bsdtar missing";
  const std::string archive = (kRoot / "other" / "sc_Rar5.rar").string();
  TempDir dir("rar5-bsdtar");
  ASSERT_EQ(std::system(("cd '" + dir.HostPath() + "' && bsdtar -xf '" + archive + "'").c_str()),
            0);
  const auto listed = ListFile(archive);
  ASSERT_EQ(listed.entries.size(), 3u);
  for (const TArcovaEntry& entry : listed.entries) {
    SCOPED_TRACE(entry.FileName);
    std::string path = entry.FileName;
    std::replace(path.begin(), path.end(), '\\', '/');
    struct stat st {};
    ASSERT_EQ(::stat(dir.Host(path).c_str(), &st), 0);
    EXPECT_TRUE(entry.ExactTime.Valid);
    EXPECT_EQ(entry.ExactTime.Seconds, st.st_mtim.tv_sec);
  }
}

TEST(RarVolumes, NextVolumeNames) {
  EXPECT_EQ(rar::NextVolumeName("C:\\a\\set.rar"), "C:\\a\\set.r00");
  EXPECT_EQ(rar::NextVolumeName("C:\\a\\SET.RAR"), "C:\\a\\SET.R00");
  EXPECT_EQ(rar::NextVolumeName("C:\\a\\set.r00"), "C:\\a\\set.r01");
  EXPECT_EQ(rar::NextVolumeName("C:\\a\\set.r99"), "C:\\a\\set.s00");
  EXPECT_EQ(rar::NextVolumeName("C:\\a.b\\set"), "C:\\a.b\\set.r00");
  EXPECT_EQ(rar::NextVolumeName("C:\\a\\v.part1.rar"), "C:\\a\\v.part2.rar");
  EXPECT_EQ(rar::NextVolumeName("C:\\a\\v.part09.rar"), "C:\\a\\v.part10.rar");
  EXPECT_EQ(rar::NextVolumeName("C:\\a\\v.part99.rar"), "C:\\a\\v.part100.rar");
  EXPECT_EQ(rar::NextVolumeName("C:\\a\\v.Part001.RAR"), "C:\\a\\v.Part002.RAR");
}

// A file split over volumes whose parts claim sizes no file has (the lister fuzzer's
// lister-rar-signed-overflow): the packed sizes of its parts add up to more than 63 bits. The sum
// stays at the largest size instead of wrapping to a negative one, and a part whose data would
// end beyond any offset ends the walk. (The sanitizer build catches the wrap itself.)
TEST(RarLister, FuzzFindingSplitPartsWithHugeSizesDoNotWrap) {
  TempDir dir("rar-huge");
  const Bytes high = {0, 0, 0, 0x7F, 0, 0, 0, 0x7F};  // packed and unpacked: 0x7F << 56
  const Bytes huge = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};  // packed: beyond 63 bits
  auto volume = [&](uint16_t splitFlags, const Bytes& highSizes) {
    Bytes b = Rar4Start(0x0001);
    Rar4File(b, "big.bin", 0, 0, static_cast<uint16_t>(0x0100 | splitFlags), 2, 0x20, highSizes);
    Rar4End(b);
    return b;
  };
  parcelo::test::WriteBytes(dir.Host("set.rar"), volume(0x0002, high));
  parcelo::test::WriteBytes(dir.Host("set.r00"), volume(0x0001 | 0x0002, high));
  parcelo::test::WriteBytes(dir.Host("set.r01"), volume(0x0001, high));
  const auto listed = ListFile(dir.Host("set.rar"), AcceptVolumes());
  EXPECT_EQ(listed.names, std::vector<std::string>{"big.bin"});
  EXPECT_EQ(listed.packed, INT64_MAX);
  EXPECT_GT(listed.unpacked, 0);

  // A part whose data would reach beyond the largest offset is no member.
  Bytes beyond = Rar4Start();
  Rar4File(beyond, "a.txt", 1, 1);
  Rar4File(beyond, "over.bin", 0, 0, 0x0100, 2, 0x20, huge);
  Rar4File(beyond, "b.txt", 1, 1);
  Rar4End(beyond);
  parcelo::test::WriteBytes(dir.Host("beyond.rar"), beyond);
  EXPECT_EQ(ListFile(dir.Host("beyond.rar")).names, std::vector<std::string>{"a.txt"});
}

TEST(RarLister, DamagedArchivesListAStartOfTheirNames) {
  TempDir dir("rar-damaged");
  std::vector<std::pair<std::string, Bytes>> archives;
  Bytes b4 = Rar4Start();
  for (int i = 0; i < 8; ++i) Rar4File(b4, "f" + std::to_string(i) + ".txt", 20 * i, 30 * i);
  Rar4End(b4);
  archives.emplace_back("b4.rar", b4);
  Bytes b5 = Rar5Start();
  for (int i = 0; i < 8; ++i) Rar5File(b5, 2, "g" + std::to_string(i) + ".txt", 20 * i, 30 * i);
  Rar5End(b5);
  archives.emplace_back("b5.rar", b5);
  if (std::filesystem::is_directory(kRoot / "other")) {
    archives.emplace_back("r4.rar",
                          parcelo::test::ReadBytes((kRoot / "other" / "sc_Rar4.rar").string()));
    archives.emplace_back("r5.rar",
                          parcelo::test::ReadBytes((kRoot / "other" / "sc_Rar5.rar").string()));
  }
  for (const auto& [name, whole] : archives) {
    parcelo::test::WriteBytes(dir.Host(name), whole);
    const auto full = ListFile(dir.Host(name));
    std::vector<size_t> cuts;
    for (size_t cut = 0; cut <= whole.size(); cut += (whole.size() > 5000 ? whole.size() / 120 : 3))
      cuts.push_back(cut);
    parcelo::test::ExpectCutsListPrefixes(dir.Host("cut-" + name), whole, cuts, full.names);
    parcelo::test::ListWithFlips(dir.Host("flip-" + name), whole, 300, 5);
  }
}

}  // namespace
