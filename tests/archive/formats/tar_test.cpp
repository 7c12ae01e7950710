// Tests of the lister's TAR reader and of TAR inside gzip: archives made by GNU tar and bsdtar in
// their ustar, GNU and pax forms (long names, directories, links) listed as the tools list them,
// headers built field by field for the checksum, base-256 sizes and the end blocks, and damaged
// archives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/formats/tar.h"
#include "support/ReaderFixture.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::Bytes;
using parcelo::test::ListFile;
using parcelo::test::TempDir;
using parcelo::test::TListOptions;

// A tree with a 120-character name, a 300-character path, an empty folder and links.
void MakeTree(const TempDir& dir) {
  const std::string deep = std::string(140, 'd') + "/" + std::string(150, 'e');
  dir.WriteFile("t/short.txt", "short");
  dir.WriteFile("t/" + std::string(120, 'n') + ".txt", "long name");
  dir.WriteFile("t/" + deep + "/very_deep_file.bin", std::string(3000, 'x'));
  dir.WriteFile("t/sub/inner.txt", "inner");
  parcelo::test::RunIn(dir.HostPath(),
                       "mkdir -p t/empty && ln -s short.txt t/link && ln t/short.txt t/hard");
}

// What `tar -tf` prints, as the lister names it: every entry with ShowEmptyDirs, files only
// otherwise (directories end in "/").
std::vector<std::string> ToolListing(const TempDir& dir, const std::string& archive, bool dirs) {
  std::vector<std::string> names;
  for (const std::string& line : parcelo::test::LinesOf(dir.HostPath(), "tar -tf " + archive)) {
    if (!dirs && !line.empty() && line.back() == '/') continue;
    names.push_back(parcelo::test::Backslashed(line));
  }
  return names;
}

Bytes Header(const std::string& name, uint64_t size, char type, bool base256 = false) {
  Bytes h(tar::kBlockSize, 0);
  std::memcpy(h.data(), name.data(), std::min<size_t>(name.size(), 100));
  std::snprintf(reinterpret_cast<char*>(h.data() + 100), 8, "%07o", 0644);
  if (base256) {
    h[124] = 0x80;
    for (int i = 0; i < 8; ++i) h[135 - i] = static_cast<uint8_t>(size >> (8 * i));
  } else {
    std::snprintf(reinterpret_cast<char*>(h.data() + 124), 12, "%011llo",
                  static_cast<unsigned long long>(size));
  }
  h[156] = static_cast<uint8_t>(type);
  std::memcpy(h.data() + 257,
              "ustar\0"
              "00",
              8);
  std::memset(h.data() + 148, ' ', 8);
  unsigned sum = 0;
  for (uint8_t b : h) sum += b;
  std::snprintf(reinterpret_cast<char*>(h.data() + 148), 8, "%06o", sum);
  return h;
}

void Append(Bytes& archive, const Bytes& header, uint64_t dataSize) {
  archive.insert(archive.end(), header.begin(), header.end());
  archive.resize(archive.size() + (dataSize + 511) / 512 * 512, 'z');
}

class TarLister : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!parcelo::test::HaveTool("tar")) GTEST_SKIP() << "GNU tar missing";
    MakeTree(dir_);
  }
  TempDir dir_{"tar-lister"};
};

TEST_F(TarLister, ToolMadeArchivesListEveryNameWhole) {
  struct TForm {
    const char* file;
    const char* command;
  };
  std::vector<TForm> forms = {
      {"gnu.tar", "tar --format=gnu -cf gnu.tar t"},
      {"pax.tar", "tar --format=pax -cf pax.tar t"},
      {"oldgnu.tar", "tar --format=oldgnu -cf oldgnu.tar t"},
  };
  if (parcelo::test::HaveTool("bsdtar")) {
    forms.push_back({"bsd-pax.tar", "bsdtar --format pax -cf bsd-pax.tar t"});
    forms.push_back({"bsd-gnu.tar", "bsdtar --format gnutar -cf bsd-gnu.tar t"});
  }
  for (const TForm& form : forms) {
    ASSERT_TRUE(parcelo::test::RunIn(dir_.HostPath(), form.command)) << form.command;
    const std::string path = dir_.Host(form.file);
    for (bool dirs : {false, true}) {
      TListOptions options;
      options.showEmptyDirs = dirs;
      const auto listed = ListFile(path, options);
      EXPECT_EQ(listed.type, atTar);
      EXPECT_EQ(listed.names, ToolListing(dir_, form.file, dirs)) << form.file;
      EXPECT_EQ(listed.numFiles, static_cast<int>(listed.names.size())) << form.file;
    }
  }
}

TEST_F(TarLister, EntriesCarryTheirModificationTimes) {
  // The local time the file was stamped with comes back as the entry's DOS date-time, from the
  // TAR header and from the gzip-compressed TAR alike.
  dir_.WriteFile("when/stamped.txt", "x");
  ASSERT_TRUE(parcelo::test::RunIn(dir_.HostPath(),
                                   "touch -d '2020-05-06 07:08:10' when/stamped.txt && "
                                   "tar -cf when.tar when/stamped.txt && "
                                   "gzip -c when.tar > when.tgz"));
  const uint32_t expected = (40u << 25) | (5u << 21) | (6u << 16) | (7u << 11) | (8u << 5) | 5u;
  for (const char* file : {"when.tar", "when.tgz"}) {
    TArcova arcova;
    arcova.SetArchiveFile(host::FromHostPath(dir_.Host(file)));
    arcova.FileSpec().Add("*.*");
    std::vector<uint32_t> stamps;
    arcova.OnRead = [&](TObject*, int64_t, int) { stamps.push_back(arcova.Entry().DosDateTime); };
    EXPECT_TRUE(arcova.Scan());
    EXPECT_EQ(stamps, std::vector<uint32_t>{expected}) << file;
  }
}

TEST_F(TarLister, UstarPrefixCarriesTheFrontOfLongPaths) {
  // ustar splits a path of up to 255 characters between its prefix and name fields.
  const std::string path =
      std::string(60, 'p') + "/" + std::string(60, 'r') + "/" + std::string(90, 'q') + ".txt";
  dir_.WriteFile("u/" + path, "x");
  ASSERT_TRUE(parcelo::test::RunIn(dir_.HostPath(), "tar --format=ustar -cf u.tar u"));
  const auto listed = ListFile(dir_.Host("u.tar"));
  ASSERT_EQ(listed.names.size(), 1u);
  EXPECT_EQ(listed.names[0], parcelo::test::Backslashed("u/" + path));
}

TEST_F(TarLister, GzippedTarListsLikeTheTarInside) {
  ASSERT_TRUE(
      parcelo::test::RunIn(dir_.HostPath(), "tar --format=pax -czf t.tgz t && tar -cf t.tar t"));
  const auto inside = ListFile(dir_.Host("t.tar"));
  const auto listed = ListFile(dir_.Host("t.tgz"));
  EXPECT_EQ(listed.type, atGZip);
  EXPECT_EQ(listed.names, ToolListing(dir_, "t.tgz", false));
  EXPECT_EQ(listed.names, inside.names);
  EXPECT_TRUE(listed.errors.empty());

  // Two gzip members one after the other make one stream.
  ASSERT_TRUE(parcelo::test::RunIn(dir_.HostPath(),
                                   "head -c 4096 t.tar | gzip -c > two.tar.gz && "
                                   "tail -c +4097 t.tar | gzip -c >> two.tar.gz"));
  EXPECT_EQ(ListFile(dir_.Host("two.tar.gz")).names, inside.names);
}

TEST_F(TarLister, GzippedTarCutShortListsWhatCameBeforeAndSaysSo) {
  for (int i = 0; i < 200; ++i)
    dir_.WriteFile("many/f" + std::to_string(i) + ".dat", std::string(5000 + i * 37, 'a' + i % 26));
  ASSERT_TRUE(parcelo::test::RunIn(dir_.HostPath(), "tar -czf many.tgz many"));
  const Bytes whole = parcelo::test::ReadBytes(dir_.Host("many.tgz"));
  const auto full = ListFile(dir_.Host("many.tgz"));
  ASSERT_EQ(full.names.size(), 200u);
  for (size_t cut : {whole.size() / 4, whole.size() / 2, whole.size() - 20}) {
    parcelo::test::WriteBytes(dir_.Host("cut.tgz"), Bytes(whole.begin(), whole.begin() + cut));
    const auto listed = ListFile(dir_.Host("cut.tgz"));
    EXPECT_TRUE(parcelo::test::IsPrefix(listed.names, full.names));
    EXPECT_TRUE(listed.HasError(kErrReadingFile)) << "cut at " << cut;
  }
  // A gzip of something else is one member named after the file.
  dir_.WriteFile("notes.txt", std::string(2000, 'n'));
  ASSERT_TRUE(parcelo::test::RunIn(dir_.HostPath(), "gzip -n notes.txt"));
  EXPECT_EQ(ListFile(dir_.Host("notes.txt.gz")).names, std::vector<std::string>{"notes"});
}

TEST(TarHeaders, WalkEndsAtTheFirstZeroBlockAndAtABadChecksum) {
  TempDir dir("tar-built");
  Bytes archive;
  Append(archive, Header("one.txt", 10, '0'), 10);
  Append(archive, Header("dir/", 0, '5'), 0);
  Append(archive, Header("dir/two.txt", 700, 0), 700);
  Append(archive, Header("fifo", 0, '6'), 0);
  Append(archive, Header("link", 0, '2'), 0);
  Bytes afterZero = archive;
  afterZero.resize(afterZero.size() + 1024, 0);
  Append(afterZero, Header("hidden.txt", 1, '0'), 1);
  parcelo::test::WriteBytes(dir.Host("a.tar"), afterZero);
  TListOptions dirs;
  dirs.showEmptyDirs = true;
  const auto listed = ListFile(dir.Host("a.tar"), dirs);
  EXPECT_EQ(listed.names, (std::vector<std::string>{"one.txt", "dir\\", "dir\\two.txt", "link"}));
  EXPECT_EQ(listed.numFiles, 4);           // a listed directory counts
  EXPECT_EQ(listed.readFiles.size(), 5u);  // the fifo was read, not listed

  Bytes bad = archive;
  bad[2 * 512 + 5] ^= 1;  // "dir/two.txt" no longer matches its checksum
  parcelo::test::WriteBytes(dir.Host("b.tar"), bad);
  EXPECT_EQ(ListFile(dir.Host("b.tar")).names, std::vector<std::string>{"one.txt"});
}

TEST(TarHeaders, NumbersInOctalAndBase256) {
  uint64_t value = 0;
  const uint8_t octal[12] = {' ', '0', '0', '0', '1', '7', '7', '7', '7', '7', '7', 0};
  EXPECT_TRUE(tar::ParseNumber(octal, 12, value));
  EXPECT_EQ(value, 01777777u);
  const uint8_t huge[12] = {0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x40, 0, 0, 0};  // 9 GiB
  EXPECT_TRUE(tar::ParseNumber(huge, 12, value));
  EXPECT_EQ(value, 9ull << 30);
  const uint8_t negative[12] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_FALSE(tar::ParseNumber(negative, 12, value));
  const uint8_t junk[12] = {'1', '2', 'x', '4'};
  EXPECT_FALSE(tar::ParseNumber(junk, 12, value));

  // A member over 8 GiB: its size is read whole, and the walk stops at the end of the file
  // instead of taking a wrapped size for the next header.
  TempDir dir("tar-big");
  Bytes archive;
  Append(archive, Header("first", 1, '0'), 1);
  Bytes big = Header("big.iso", (9ull << 30) + 1, '0', true);
  archive.insert(archive.end(), big.begin(), big.end());
  archive.resize(archive.size() + 4096, 'z');
  parcelo::test::WriteBytes(dir.Host("big.tar"), archive);
  TArcova arcova;
  arcova.SetArchiveFile(host::FromHostPath(dir.Host("big.tar")));
  arcova.FileSpec().Add("*.*");
  std::vector<int64_t> sizes;
  arcova.OnRead = [&](TObject*, int64_t, int) { sizes.push_back(arcova.Entry().UnpackedSize); };
  EXPECT_TRUE(arcova.Scan());
  EXPECT_EQ(sizes, (std::vector<int64_t>{1, static_cast<int64_t>((9ull << 30) + 1)}));
}

TEST(TarHeaders, PaxRecordsAndGnuLongNamesNameTheNextHeader) {
  std::string value;
  EXPECT_TRUE(tar::PaxValue("30 mtime=1234567890.123456789\n16 path=a/b/c.d\n", "path", value));
  EXPECT_EQ(value, "a/b/c.d");
  EXPECT_FALSE(tar::PaxValue("9999 path=x\n", "path", value));  // length beyond the record
  EXPECT_FALSE(tar::PaxValue("0 path=x\n", "path", value));

  TempDir dir("tar-names");
  const std::string longName = std::string(600, 'L') + "/tail.txt";
  Bytes archive;
  Append(archive, Header("././@LongLink", longName.size() + 1, 'L'), 0);
  archive.resize(archive.size() - 0);
  Bytes withName = archive;
  std::string record = longName + '\0';
  withName.insert(withName.end(), record.begin(), record.end());
  withName.resize((withName.size() + 511) / 512 * 512, 0);
  Append(withName, Header("short-cut", 3, '0'), 3);
  const std::string pax = "21 path=pax/name.txt\n";
  Append(withName, Header("PaxHeaders/x", pax.size(), 'x'), 0);
  withName.insert(withName.end(), pax.begin(), pax.end());
  withName.resize((withName.size() + 511) / 512 * 512, 0);
  Append(withName, Header("truncated-name", 0, '0'), 0);
  Append(withName, Header("plain.txt", 0, '0'), 0);
  withName.resize(withName.size() + 1024, 0);
  parcelo::test::WriteBytes(dir.Host("n.tar"), withName);
  EXPECT_EQ(ListFile(dir.Host("n.tar")).names,
            (std::vector<std::string>{parcelo::test::Backslashed(longName), "pax\\name.txt",
                                      "plain.txt"}));
}

TEST_F(TarLister, DamagedArchivesListAStartOfTheirNames) {
  ASSERT_TRUE(
      parcelo::test::RunIn(dir_.HostPath(), "tar --format=gnu -cf d.tar t && gzip -k d.tar"));
  const Bytes whole = parcelo::test::ReadBytes(dir_.Host("d.tar"));
  const auto full = ListFile(dir_.Host("d.tar"));
  std::vector<size_t> cuts;
  for (size_t cut = 0; cut <= whole.size(); cut += 512) {
    cuts.push_back(cut);
    cuts.push_back(cut + 100);
  }
  parcelo::test::ExpectCutsListPrefixes(dir_.Host("cut.tar"), whole, cuts, full.names);
  parcelo::test::ListWithFlips(dir_.Host("flip.tar"), whole, 300, 1);
  parcelo::test::ListWithFlips(dir_.Host("flip.tgz"),
                               parcelo::test::ReadBytes(dir_.Host("d.tar.gz")), 300, 2);
}

}  // namespace
