// Tests of the lister's UUE and MsGZ readers: a file made by uuencode lists the name of its first
// "begin " line only; MsGZ archives built field by field list their names under the folders of
// the directory table; damaged files of both never crash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ReaderFixture.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::Bytes;
using parcelo::test::ListFile;
using parcelo::test::TempDir;
using parcelo::test::TListOptions;

TEST(UueLister, FirstBeginLineNamesTheOneEntry) {
  if (!parcelo::test::HaveTool("uuencode")) GTEST_SKIP() << "uuencode missing";
  TempDir dir("uue");
  dir.WriteFile("payload.bin", std::string(3000, '\x7F'));
  ASSERT_TRUE(
      parcelo::test::RunIn(dir.HostPath(),
                           "(echo 'Subject: two files'; echo; uuencode payload.bin 'first one.bin';"
                           " uuencode payload.bin second.bin) > two.uue"));
  TListOptions other;
  other.masks = {"*.zip"};
  const auto listed = ListFile(dir.Host("two.uue"), other);
  EXPECT_EQ(listed.type, atUUE);
  EXPECT_EQ(listed.names, std::vector<std::string>{"first"});  // cut before the blank; no mask
  EXPECT_EQ(listed.numFiles, 0);                               // not counted

  dir.WriteFile("crlf.uue", "begin 644 dos.txt\r\n`\r\nend\r\n");
  EXPECT_EQ(ListFile(dir.Host("crlf.uue")).names, std::vector<std::string>{"dos.txt"});
  // "begin" must start a line; a longer name is read as it stands (no conversion).
  dir.WriteFile("mid.uue", "xbegin 644 no\nbegin 600 caf\xC3\xA9/x.txt\nM\nend\n");
  EXPECT_EQ(ListFile(dir.Host("mid.uue")).names, std::vector<std::string>{"caf\xC3\xA9/x.txt"});

  const Bytes whole = parcelo::test::ReadBytes(dir.Host("two.uue"));
  parcelo::test::ListWithFlips(dir.Host("flip.uue"), whole, 200, 3);
  for (size_t cut : {0, 10, 25, 30, 40, 60}) {
    parcelo::test::WriteBytes(dir.Host("cut.uue"), Bytes(whole.begin(), whole.begin() + cut));
    EXPECT_LE(ListFile(dir.Host("cut.uue")).names.size(), 1u);
  }
}

TEST(UueLister, ConformanceFile) {
  const std::string root = PARCELO_TESTDATA_DIR;
  const std::string path = root + "/other/own_text.uue";
  if (parcelo::test::ReadBytes(path).empty()) GTEST_SKIP() << "no conformance archives";
  EXPECT_EQ(ListFile(path).names, std::vector<std::string>{"readme.txt"});
}

// ---- MsGZ --------------------------------------------------------------------------------------
void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, static_cast<uint16_t>(v));
  Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

void TableRecord(Bytes& b, const std::string& name) {
  const size_t at = b.size();
  b.resize(at + 6 + name.size() + 1, 0);
  Put16(b, at + 2, static_cast<uint16_t>(6 + name.size() + 1));
  std::copy(name.begin(), name.end(), b.begin() + static_cast<std::ptrdiff_t>(at + 6));
}

void Entry(Bytes& b, uint16_t dir, const std::string& name, uint32_t unpacked, uint32_t packed) {
  const size_t at = b.size();
  b.resize(at + 29 + name.size() + packed, 0);
  Put16(b, at, dir);
  Put32(b, at + 2, unpacked);
  Put32(b, at + 6, packed);
  Put16(b, at + 22, static_cast<uint16_t>(29 + name.size() + packed));
  b[at + 28] = static_cast<uint8_t>(name.size());
  std::copy(name.begin(), name.end(), b.begin() + static_cast<std::ptrdiff_t>(at + 29));
}

// The archive header, the table (whose end record is 6 bytes, the entries starting 4 bytes before
// its end), then the entries.
Bytes MsGz(const std::vector<std::string>& folders) {
  Bytes b(54, 0);
  b[0] = 0x13, b[1] = 0x5D, b[2] = 0x65, b[3] = 0x8C;
  Put32(b, 41, 54);
  for (const std::string& f : folders) TableRecord(b, f);
  b.resize(b.size() + 2, 0);  // the end record's head overlaps the first entry by 4 bytes
  return b;
}

TEST(MsGzLister, NamesUnderTheirTableFolders) {
  TempDir dir("msgz");
  Bytes b = MsGz({"", "SYSTEM", "HELP"});
  Entry(b, 1, "KERNEL.DLL", 5000, 1200);
  Entry(b, 2, "A.HLP", 100, 40);
  Entry(b, 0, "SETUP.INF", 7, 7);
  Entry(b, 9, "STRAY.TXT", 1, 1);  // an index beyond the table
  b.resize(b.size() + 29, 0);      // room behind the last header
  parcelo::test::WriteBytes(dir.Host("m.gz"), b);
  const auto listed = ListFile(dir.Host("m.gz"));
  EXPECT_EQ(listed.type, atMsGZ);
  EXPECT_EQ(listed.names, (std::vector<std::string>{"SYSTEM\\KERNEL.DLL", "HELP\\A.HLP",
                                                    "SETUP.INF", "STRAY.TXT"}));
  EXPECT_EQ(listed.numFiles, 4);
  EXPECT_EQ(listed.unpacked, 5000 + 100 + 7 + 1);
  EXPECT_EQ(listed.packed, 1200 + 40 + 7 + 1);

  // A table offset beyond the file lists nothing; damage never crashes.
  Bytes away = b;
  Put32(away, 41, 0x7FFFFFF0);
  parcelo::test::WriteBytes(dir.Host("away.gz"), away);
  EXPECT_TRUE(ListFile(dir.Host("away.gz")).names.empty());
  std::vector<size_t> cuts;
  for (size_t cut = 0; cut <= b.size(); cut += 5) cuts.push_back(cut);
  parcelo::test::ExpectCutsListPrefixes(dir.Host("cut.gz"), b, cuts, listed.names);
  parcelo::test::ListWithFlips(dir.Host("flip.gz"), b, 300, 9);
}

}  // namespace
