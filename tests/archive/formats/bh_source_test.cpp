// Tests of the BH member source on archives built field by field (no tool at hand writes BH):
// the members and their fields as the lister shows them, folders, every file refused with its
// method named, self-extracting forms from their start offset, and cut archives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/formats/old_sources.h"
#include "archive/messages/Err_Msgs.h"
#include "support/ReaderFixture.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::ByteWriter;
using parcelo::test::ListFile;
using parcelo::test::TempDir;
using parcelo::test::WriteBytes;

// A member: the 37-byte header, the name, then the packed data.
void Member(ByteWriter& w, const std::string& name, const std::string& data, uint8_t method,
            uint16_t attributes = 0x20, uint8_t flags = 0) {
  w.Str("BH").U8(5).U8(7).U16(37).U8(0).U8(0).U8(0).U8(flags).U8(method).U32(0x5B5B5722);
  w.U32(static_cast<uint32_t>(data.size())).U32(static_cast<uint32_t>(data.size()));
  w.U32(0).U16(attributes).Zero(4).U8(static_cast<uint32_t>(name.size())).Zero(3);
  w.Str(name).Str(data);
}

struct TSeen {
  std::vector<TSourceMember> Members;
  std::vector<TDecodeResult> Results;
  std::vector<std::string> Details;
  int EndError = 0;
};

TSeen Walk(const std::string& path, int64_t start = 0) {
  TSeen seen;
  auto source = CreateBhSource(path, start, TSourceServices{});
  TSourceMember member;
  while (source->Next(member)) {
    seen.Members.push_back(member);
    seen.Results.push_back(source->Decode([](const uint8_t*, size_t) {}, ""));
    seen.Details.push_back(source->ErrorDetail());
  }
  seen.EndError = source->ErrorCode();
  return seen;
}

TEST(BhSource, MembersAreNamedAndTheirMethodsRefused) {
  TempDir dir{"bh_source"};
  ByteWriter w;
  Member(w, "docs", "", 0, 0x10);
  Member(w, "docs\\a.txt", "alpha", 0);
  Member(w, "b.bin", "packed bytes", 1, 0x21);
  Member(w, "c.bin", "deflated", 8, 0x20, 1);
  Member(w, "d.bin", "???", 5);
  const std::string path = dir.Host("t.bh");
  WriteBytes(path, w.bytes);
  const TSeen seen = Walk(path);
  ASSERT_EQ(seen.Members.size(), 5u);
  EXPECT_EQ(seen.EndError, 0);
  EXPECT_EQ(seen.Members[0].Kind, TMemberKind::Folder);
  EXPECT_EQ(seen.Results[0], TDecodeResult::Ok);
  EXPECT_EQ(seen.Members[1].Name, "docs\\a.txt");
  EXPECT_EQ(seen.Members[1].Size, 5);
  EXPECT_EQ(seen.Members[2].Attributes, 0x21u);
  EXPECT_EQ(seen.Members[2].DosDateTime, 0x5B5B5722u);
  EXPECT_TRUE(seen.Members[3].Encrypted);
  const std::vector<std::string> methods = {"Stored", "Stored", "Fused1", "Deflate", "method 5"};
  for (size_t i = 1; i < 5; ++i) {
    EXPECT_EQ(seen.Members[i].Method, methods[i]);
    EXPECT_EQ(seen.Results[i], TDecodeResult::Unsupported);
    EXPECT_EQ(seen.Details[i], "BH method " + methods[i]);
  }
  // The lister shows the same files, in the same order.
  std::vector<std::string> files;
  for (const auto& m : seen.Members)
    if (m.Kind == TMemberKind::File) files.push_back(m.Name);
  const auto listing = ListFile(path);
  EXPECT_EQ(listing.names, files);
}

TEST(BhSource, SelfExtractingAndCutArchives) {
  TempDir dir{"bh_source"};
  ByteWriter w;
  w.Zero(500);
  Member(w, "in.txt", "data", 0);
  Member(w, "two.txt", "more", 0);
  const std::string path = dir.Host("sfx.exe");
  WriteBytes(path, w.bytes);
  EXPECT_EQ(Walk(path, 500).Members.size(), 2u);
  EXPECT_TRUE(Walk(path, 0).Members.empty());
  for (size_t cut = 500; cut < w.bytes.size(); ++cut) {
    WriteBytes(path, std::vector<uint8_t>(w.bytes.begin(), w.bytes.begin() + static_cast<long>(cut)));
    EXPECT_LE(Walk(path, 500).Members.size(), 2u);
  }
  EXPECT_NE(Walk(dir.Host("missing.bh")).EndError, 0);
}

}  // namespace
