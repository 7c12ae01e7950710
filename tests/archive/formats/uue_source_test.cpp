// Tests of the UUE member source: files made by uuencode (text, binary of every length remainder,
// an empty file) decode to what uudecode writes, under the name the lister lists; the conformance
// file; the first "begin" block only, as the lister lists; lines whose trailing blanks were cut;
// a file without its end, a line of characters outside the alphabet, random damage.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/formats/lhacab_sources.h"
#include "support/ReaderFixture.h"
#include "support/SourceFixture.h"
#include "support/TempDir.h"

namespace {

using namespace parcelo::test;

TDrained DrainUue(const std::string& path) {
  auto source = CreateUueSource(path, 0, TSourceServices{});
  return Drain(source.get());
}

TEST(UueSource, UuencodedFilesDecodeToWhatUudecodeWritesUnderTheListersName) {
  if (!HaveTool("uuencode") || !HaveTool("uudecode")) GTEST_SKIP() << "sharutils missing";
  TempDir dir;
  for (size_t size : {0u, 1u, 2u, 3u, 44u, 45u, 46u, 100000u}) {
    std::string data;
    for (uint32_t i = 0, x = static_cast<uint32_t>(size); i < size; ++i)
      data += static_cast<char>((x = x * 1664525 + 1013904223) >> 24);
    dir.WriteFile("in/data.bin", data);
    ASSERT_TRUE(RunIn(dir.HostPath(), "chmod 640 in/data.bin && uuencode in/data.bin data.bin > u.uue"));
    const TDrained drained = DrainUue(dir.Host("u.uue"));
    ASSERT_EQ(drained.Names(), std::vector<std::string>{"data.bin"}) << size;
    EXPECT_EQ(drained.members[0].result, TDecodeResult::Ok) << size;
    EXPECT_TRUE(SameBytes(drained.members[0].data, data)) << size;
    EXPECT_EQ(drained.members[0].member.Mode, 0640u);
    EXPECT_EQ(drained.Names(), ListFile(dir.Host("u.uue")).names);
  }
  const std::string shared = std::string(PARCELO_TESTDATA_DIR) + "/other/own_text.uue";
  if (std::filesystem::exists(shared)) {
    const TDrained drained = DrainUue(shared);
    ASSERT_EQ(drained.Names(), std::vector<std::string>{"readme.txt"});
    TempDir out;
    ASSERT_TRUE(RunIn(out.HostPath(), "uudecode -o readme.txt '" + shared + "'"));
    EXPECT_TRUE(SameBytes(drained.members[0].data, out.ReadFile("readme.txt")));
  }
}

TEST(UueSource, OnlyTheFirstBlockAndCutBlanksAndCarriageReturns) {
  TempDir dir;
  // "Cat" is "0V%T" as one group; the second block is not the member.
  dir.WriteFile("two.uue", "a mail header\r\nbegin 600 cat.txt\r\n#0V%T\r\n`\r\nend\r\n"
                           "begin 644 dog.txt\n#9&]G\n`\nend\n");
  TDrained drained = DrainUue(dir.Host("two.uue"));
  ASSERT_EQ(drained.Names(), std::vector<std::string>{"cat.txt"});
  EXPECT_EQ(drained.members[0].data, "Cat");
  EXPECT_EQ(drained.Names(), ListFile(dir.Host("two.uue")).names);
  // Two bytes "AA" encode as "04$" plus a blank that mail cut away; "end" without the empty line.
  dir.WriteFile("cut.uue", "begin 644 aa\n\"04$\nend\n");
  drained = DrainUue(dir.Host("cut.uue"));
  ASSERT_EQ(drained.members.size(), 1u);
  EXPECT_EQ(drained.members[0].result, TDecodeResult::Ok);
  EXPECT_EQ(drained.members[0].data, "AA");
}

TEST(UueSource, AMissingEndABadCharacterAndDamageAreReported) {
  TempDir dir;
  dir.WriteFile("short.uue", "begin 644 x\n#0V%T\n");
  TDrained drained = DrainUue(dir.Host("short.uue"));
  ASSERT_EQ(drained.members.size(), 1u);
  EXPECT_EQ(drained.members[0].result, TDecodeResult::Truncated);
  dir.WriteFile("bad.uue", "begin 644 x\n#0V\x01T\n`\nend\n");
  drained = DrainUue(dir.Host("bad.uue"));
  ASSERT_EQ(drained.members.size(), 1u);
  EXPECT_EQ(drained.members[0].result, TDecodeResult::Damaged);
  dir.WriteFile("none.uue", "no begin line here\n");
  EXPECT_TRUE(DrainUue(dir.Host("none.uue")).members.empty());

  std::string text = "begin 644 long.txt\n";
  for (int i = 0; i < 50; ++i) text += "M86)C9&5F9VAI:FML;6YO<'%R<W1U=G=X>7I!0D-$149'2$E*2TQ-3D]045)3\n";
  text += "`\nend\n";
  const Bytes whole(text.begin(), text.end());
  const std::string path = dir.Host("damaged.uue");
  DrainWithFlips(path, whole, 300, [&] { return CreateUueSource(path, 0, TSourceServices{}); });
}

}  // namespace
