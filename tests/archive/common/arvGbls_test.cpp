// Tests of the wildcard masks (against a plain recursive matcher on generated masks and names),
// the name and path helpers, directory creation in a scratch folder, the string readers on an
// in-memory stream, the percentages and TStringList's look-up.
#include "archive/common/arvGbls.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archive/common/arvStreams.h"
#include "archive/common/arvStringList.h"
#include "platform/host.h"

namespace {

// ---- masks --------------------------------------------------------------------------------------

TEST(Mask, StarDotStar) {
  EXPECT_TRUE(MaskMatches("readme.txt", "*.*"));
  EXPECT_TRUE(MaskMatches("a.b.c", "*.*"));
  EXPECT_TRUE(MaskMatches(".", "*.*"));
  EXPECT_FALSE(MaskMatches("readme", "*.*"));
  EXPECT_TRUE(MaskMatches("readme.", "*.*"));  // what the file-spec selection retries with
}

TEST(Mask, StarDotSelectsNamesWithoutExtension) {
  EXPECT_TRUE(MaskMatches("readme", "*."));
  EXPECT_FALSE(MaskMatches("readme.txt", "*."));
  EXPECT_TRUE(MaskMatches("readme.", "*."));
  const TInternalMask mask("*.");
  EXPECT_TRUE(mask.EndsWithDot());
  EXPECT_FALSE(TInternalMask("").EndsWithDot());
}

TEST(Mask, LettersIgnoreAsciiCase) {
  EXPECT_TRUE(MaskMatches("notes.txt", "*.TXT"));
  EXPECT_TRUE(MaskMatches("NOTES.Txt", "*.TXT"));
  EXPECT_TRUE(MaskMatches("NOTES.TXT", "*.txt"));
  EXPECT_FALSE(MaskMatches("notes.txt2", "*.TXT"));
  EXPECT_FALSE(MaskMatches("notes_txt", "*.TXT"));
}

TEST(Mask, QuestionMarkIsExactlyOneCharacter) {
  EXPECT_TRUE(MaskMatches("abc", "a?c"));
  EXPECT_TRUE(MaskMatches("ABC", "a?c"));
  EXPECT_FALSE(MaskMatches("ac", "a?c"));
  EXPECT_FALSE(MaskMatches("abcd", "a?c"));
  EXPECT_FALSE(MaskMatches("a", "a?"));
  EXPECT_TRUE(MaskMatches("ab", "a?"));
}

TEST(Mask, QuestionMarkAfterStarIsDropped) {
  EXPECT_TRUE(MaskMatches("", "*?"));
  EXPECT_TRUE(MaskMatches("", "*??"));
  EXPECT_FALSE(MaskMatches("", "?*"));
  EXPECT_TRUE(MaskMatches("x", "?*"));
  EXPECT_TRUE(MaskMatches("", "*"));
  EXPECT_TRUE(MaskMatches("", ""));
  EXPECT_FALSE(MaskMatches("a", ""));
  // "*?" compiles to the end item alone, with its star flag.
  const TInternalMask mask("*?");
  ASSERT_EQ(mask.ItemCount(), 1);
  EXPECT_TRUE(mask.Item(0).Star);
  EXPECT_EQ(mask.Item(0).Character, 0);
}

TEST(Mask, StarsBacktrack) {
  EXPECT_TRUE(MaskMatches("xaxxb", "*a*b"));
  EXPECT_TRUE(MaskMatches("ab", "*a*b"));
  EXPECT_FALSE(MaskMatches("ba", "*a*b"));
  EXPECT_TRUE(MaskMatches("aab", "*a*b"));
  EXPECT_TRUE(MaskMatches("abab", "*ab"));
  EXPECT_TRUE(MaskMatches("mississippi", "*ss*pi"));
  EXPECT_FALSE(MaskMatches("mississippi", "*ss*pix"));
  EXPECT_TRUE(MaskMatches("abcabd", "a*abd"));
}

TEST(Mask, HighBytesAreNotCaseFolded) {
  EXPECT_FALSE(MaskMatches("\xC9tude.txt", "\xE9*"));
  EXPECT_TRUE(MaskMatches("\xE9tude.txt", "\xE9*"));
  EXPECT_FALSE(MaskMatches("\xE9tude.txt", "\xC9*"));
  // UTF-8 names are compared byte for byte.
  EXPECT_FALSE(MaskMatches("caf\xC3\xA9.TXT", "CAF?\xC3\xA9.txt"));
  EXPECT_TRUE(MaskMatches("caf\xC3\xA9.TXT", "CAF??.txt"));
}

TEST(Mask, CompilesToExactItemCount) {
  // n characters give at most n + 1 items: stars and question marks after a star add nothing.
  EXPECT_EQ(TInternalMask("").ItemCount(), 1);
  EXPECT_EQ(TInternalMask("abc").ItemCount(), 4);
  EXPECT_EQ(TInternalMask("***").ItemCount(), 1);
  EXPECT_EQ(TInternalMask("*.*").ItemCount(), 2);
  EXPECT_EQ(TInternalMask("a?*??b").ItemCount(), 4);  // a, ?, b (star), end
  const TInternalMask mask("a?*??b");
  EXPECT_EQ(mask.Item(1).Kind, 1);
  EXPECT_FALSE(mask.Item(1).Star);
  EXPECT_EQ(mask.Item(2).Character, 'B');
  EXPECT_TRUE(mask.Item(2).Star);
  EXPECT_FALSE(mask.Item(3).Star);
}

// Many stars: the matcher needs only one retry point whatever their number, so a mask of more
// stars than the classic 30-entry retry stack still gives the right answer, and quickly.
TEST(Mask, ManyStarsNeitherOverrunNorRefuse) {
  std::string mask;
  for (int i = 0; i < 40; ++i) mask += "*a";
  mask += "*b";
  EXPECT_EQ(TInternalMask(mask).ItemCount(), 42);
  const std::string fortyA(40, 'a');
  EXPECT_TRUE(MaskMatches(fortyA + "b", mask));
  EXPECT_TRUE(MaskMatches("x" + fortyA + "yb", mask));
  EXPECT_FALSE(MaskMatches(fortyA, mask));
  EXPECT_FALSE(MaskMatches(std::string(39, 'a') + "b", mask));
}

// A hostile long name against a mask with several stars must not blow up into a
// polynomial-time search (this would run for hours with full backtracking).
TEST(Mask, LongNameWithManyStarsFails) {
  const std::string name(20000, 'a');
  EXPECT_FALSE(MaskMatches(name, "*a*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_FALSE(MaskMatches(name, "*.*x"));
  EXPECT_TRUE(MaskMatches(name + ".x", "*a*a*a*a*.*x"));
}

TEST(Mask, CharacterSetItems) {
  // [0-9]*.LOG, then its negation: sets are tested in upper case.
  std::vector<TInternalMask::TMaskItem> items;
  TInternalMask::TMaskItem digit;
  digit.Kind = 2;
  digit.Set = std::make_unique<std::bitset<256>>();
  for (char c = '0'; c <= '9'; ++c) digit.Set->set(static_cast<uint8_t>(c));
  items.push_back(std::move(digit));
  for (const char c : std::string(".LOG")) {
    TInternalMask::TMaskItem literal;
    literal.Character = static_cast<uint8_t>(c);
    literal.Star = c == '.';
    items.push_back(std::move(literal));
  }
  const TInternalMask digits(std::move(items), false);
  EXPECT_EQ(digits.ItemCount(), 6);  // the end item was appended
  EXPECT_TRUE(digits.Matches("7.log"));
  EXPECT_TRUE(digits.Matches("2024-01-01.LOG"));
  EXPECT_FALSE(digits.Matches("x7.log"));
  EXPECT_FALSE(digits.Matches(".log"));

  // *[^A-Z] : names whose last character is not a letter (letters are folded to upper case).
  std::vector<TInternalMask::TMaskItem> tail(1);
  tail[0].Kind = 2;
  tail[0].Star = true;
  tail[0].Negate = true;
  tail[0].Set = std::make_unique<std::bitset<256>>();
  for (char c = 'A'; c <= 'Z'; ++c) tail[0].Set->set(static_cast<uint8_t>(c));
  const TInternalMask notLetter(std::move(tail), false);
  EXPECT_TRUE(notLetter.Matches("abc1"));
  EXPECT_TRUE(notLetter.Matches("1"));
  EXPECT_FALSE(notLetter.Matches("abc"));
  EXPECT_FALSE(notLetter.Matches("12z"));
  EXPECT_FALSE(notLetter.Matches(""));
}

// Reference: plain recursive glob over the mask with "?" after a star removed (the compiler's rule)
// and the trailing-dot rule applied to the name.
bool ReferenceGlob(const std::string& m, size_t i, const std::string& n, size_t j) {
  if (i == m.size()) return j == n.size();
  if (m[i] == '*') {
    for (size_t k = j; k <= n.size(); ++k)
      if (ReferenceGlob(m, i + 1, n, k)) return true;
    return false;
  }
  if (j == n.size()) return false;
  if (m[i] != '?' && UpperAscii(m[i]) != UpperAscii(n[j])) return false;
  return ReferenceGlob(m, i + 1, n, j + 1);
}

bool ReferenceMatch(const std::string& mask, std::string name) {
  std::string m;
  bool star = false;
  for (const char c : mask) {
    if (c == '?' && star) continue;
    star = c == '*' || (star && c == '?');
    m += c;
  }
  if (!mask.empty() && mask.back() == '.' && name.find('.') == std::string::npos) name += '.';
  return ReferenceGlob(m, 0, name, 0);
}

TEST(Mask, AgreesWithReferenceOnGeneratedCases) {
  std::mt19937 random(20240229);
  const std::string maskAlphabet = "ab.*?A";
  const std::string nameAlphabet = "abAB.";
  int matched = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string mask, name;
    const int maskLength = static_cast<int>(random() % 8);
    const int nameLength = static_cast<int>(random() % 9);
    for (int i = 0; i < maskLength; ++i) mask += maskAlphabet[random() % maskAlphabet.size()];
    for (int i = 0; i < nameLength; ++i) name += nameAlphabet[random() % nameAlphabet.size()];
    const bool expected = ReferenceMatch(mask, name);
    ASSERT_EQ(MaskMatches(name, mask), expected) << "mask '" << mask << "' name '" << name << "'";
    matched += expected;
  }
  EXPECT_GT(matched, 1000);  // the generator exercises both outcomes
}

// ---- names and paths ----------------------------------------------------------------------------

TEST(Names, ConvertStoredName) {
  EXPECT_EQ(ConvertStoredName("dir/sub/file.txt", false), "dir\\sub\\file.txt");
  EXPECT_EQ(ConvertStoredName("dir/sub/file.txt", true), "dir\\sub\\file.txt");
  EXPECT_EQ(ConvertStoredName("", true), "");
  // OEM 0x82 is e-acute, 0x81 u-diaeresis in code page 437.
  EXPECT_EQ(ConvertStoredName("caf\x82/m\x81sli.txt", true), "caf\xC3\xA9\\m\xC3\xBCsli.txt");
  EXPECT_EQ(ConvertStoredName("caf\x82/x", false), "caf\x82\\x");
}

TEST(Names, Backslashes) {
  EXPECT_EQ(SlashToBackslash("a/b//c"), "a\\b\\\\c");
  EXPECT_EQ(AppendBackslash("C:\\dir"), "C:\\dir\\");
  EXPECT_EQ(AppendBackslash("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(AppendBackslash(""), "");
  EXPECT_EQ(RemoveBackslash("C:\\dir\\"), "C:\\dir");
  EXPECT_EQ(RemoveBackslash("C:\\dir\\\\"), "C:\\dir\\");
  EXPECT_EQ(RemoveBackslash("C:\\dir"), "C:\\dir");
  EXPECT_EQ(RemoveBackslash(""), "");
  EXPECT_EQ(RemoveBackslash("\\"), "");
}

TEST(Names, LhaPathToDos) {
  EXPECT_EQ(LhaPathToDos("\x02src\xFFlib\xFF"), "src\\lib\\");
  EXPECT_EQ(LhaPathToDos("  a/b  "), "a\\b");
  // Shift-JIS: 0x95 0x5C is one character whose second byte looks like a separator; 0x83 0x2F too.
  EXPECT_EQ(LhaPathToDos("\x95\x5C/\x83/x"), "\x95\x5C\\\x83/x");
  EXPECT_EQ(LhaPathToDos("\xE0/"), "\xE0/");
  EXPECT_EQ(LhaPathToDos("a\xFE/"), "a\xFE\\");  // 0xFE is no lead byte
  EXPECT_EQ(LhaPathToDos("\x95"), "\x95");       // a lead byte at the very end
  EXPECT_EQ(LhaPathToDos("\x01\x1F \t"), "");
}

TEST(Names, JoinPath) {
  EXPECT_EQ(JoinPath("", "a.txt"), "");
  EXPECT_EQ(JoinPath("C:\\x\\", "a.txt"), "C:\\x\\a.txt");
  EXPECT_EQ(JoinPath("C:\\x", "a.txt"), "C:\\x\\a.txt");
  EXPECT_EQ(JoinPath("C:\\x", ""), "C:\\x\\");
}

TEST(Names, SplitToken) {
  std::string text = "PKBACK# 003";
  EXPECT_EQ(SplitToken(text, " "), "PKBACK#");
  EXPECT_EQ(text, "003");
  EXPECT_EQ(SplitToken(text, " "), "003");
  EXPECT_EQ(text, "");
  // The spanned-disk label rule: split at "PKBACK# " until nothing is left; the last piece counts.
  text = "PKBACK# 007";
  std::string last;
  while (!text.empty()) last = SplitToken(text, "PKBACK# ");
  EXPECT_EQ(last, "007");
  text = "a::b";
  EXPECT_EQ(SplitToken(text, "::"), "a");
  EXPECT_EQ(text, "b");
  text = "abc";
  EXPECT_EQ(SplitToken(text, ""), "abc");  // an empty delimiter never loops a caller forever
  EXPECT_EQ(text, "");
}

TEST(Names, SmallPredicates) {
  EXPECT_TRUE(IsAllDigits(""));
  EXPECT_TRUE(IsAllDigits("0123456789"));
  EXPECT_FALSE(IsAllDigits("12a"));
  EXPECT_FALSE(IsAllDigits(" 1"));
  EXPECT_EQ(BaseNameLength("archive.tar.gz"), 7);
  EXPECT_EQ(BaseNameLength("README"), 6);
  EXPECT_EQ(BaseNameLength(".hidden"), 0);
  EXPECT_EQ(BaseNameLength(""), 0);
  EXPECT_EQ(BaseNameLength(nullptr), 0);
  EXPECT_TRUE(IsUncPath("\\\\server\\share"));
  EXPECT_TRUE(IsUncPath("\\\\s"));
  EXPECT_FALSE(IsUncPath("\\\\"));
  EXPECT_FALSE(IsUncPath("C:\\\\x"));
  EXPECT_FALSE(IsUncPath("\\x\\y"));
  for (const uint16_t magic : {0x8B1F, 0x9E1F, 0x1E1F, 0x9D1F, 0xA01F})
    EXPECT_TRUE(IsGZipMagic(magic));
  for (const uint16_t other : {0x1F8B, 0x0000, 0x8B1E, 0x9F1F, 0xA11F})
    EXPECT_FALSE(IsGZipMagic(other));
  EXPECT_EQ(SwapWords(0x6C0056CCu), 0x56CC6C00u);
  EXPECT_EQ(SwapWords(0x12345678u), 0x56781234u);
}

TEST(Names, AsciiCaseHelpers) {
  EXPECT_EQ(UpperCaseAscii("abc\xE9z09"), "ABC\xE9Z09");
  EXPECT_TRUE(SameTextAscii("ReadMe.TXT", "readme.txt"));
  EXPECT_FALSE(SameTextAscii("\xE9", "\xC9"));
  EXPECT_FALSE(SameTextAscii("ab", "abc"));
  EXPECT_TRUE(StartsTextAscii("DIR\\", "dir\\file"));
  EXPECT_FALSE(StartsTextAscii("dir\\file\\", "dir\\file"));
  EXPECT_TRUE(StartsTextAscii("", "x"));
  EXPECT_EQ(UpperAscii('q'), 'Q');
  EXPECT_EQ(UpperAscii('{'), '{');
  EXPECT_EQ(UpperAscii('`'), '`');
}

TEST(StringList, IndexOfIgnoresAsciiCase) {
  const TStringList list{"*.*", "Docs\\*.TXT", "docs\\*.txt", ""};
  EXPECT_EQ(list.IndexOf("DOCS\\*.txt"), 1);
  EXPECT_EQ(list.IndexOf("*.*"), 0);
  EXPECT_EQ(list.IndexOf(""), 3);
  EXPECT_EQ(list.IndexOf("*.zip"), -1);
  EXPECT_EQ(TStringList().IndexOf(""), -1);
}

// ---- percentages --------------------------------------------------------------------------------

TEST(Percent, RoundsHalvesToEven) {
  EXPECT_EQ(Percent(1, 8), 12);   // 12.5
  EXPECT_EQ(Percent(3, 8), 38);   // 37.5
  EXPECT_EQ(Percent(5, 8), 62);   // 62.5
  EXPECT_EQ(Percent(1, 200), 0);  // 0.5
  EXPECT_EQ(Percent(3, 200), 2);  // 1.5
  EXPECT_EQ(Percent(1, 3), 33);
  EXPECT_EQ(Percent(2, 3), 67);
  EXPECT_EQ(Percent(199, 200), 100);  // 99.5
  EXPECT_EQ(Percent(50, 100), 50);
}

TEST(Percent, Clamps) {
  EXPECT_EQ(Percent(5, 0), 0);
  EXPECT_EQ(Percent(5, -3), 0);
  EXPECT_EQ(Percent(-5, 10), 0);
  EXPECT_EQ(Percent(0, 10), 0);
  EXPECT_EQ(Percent(11, 10), 100);
  EXPECT_EQ(Percent(INT64_MAX, 1), 100);
  EXPECT_EQ(Percent(INT64_MIN, INT64_MAX), 0);
}

TEST(Percent, ExactForHugeSizes) {
  // 2^62 / 2^63 exactly 50; just below a half of a percent must not round up through doubles.
  const int64_t whole = INT64_MAX;  // odd
  EXPECT_EQ(Percent(whole / 2, whole), 50);
  const int64_t big = 200000000000000000;           // 2e17: part * 100 overflows 64 bits
  EXPECT_EQ(Percent(big / 200 * 25, big), 12);      // 12.5 exactly: to even
  EXPECT_EQ(Percent(big / 200 * 25 + 1, big), 13);  // a hair above the half
  EXPECT_EQ(Percent(big / 200 * 75, big), 38);      // 37.5 exactly
  EXPECT_EQ(Percent(big / 200 * 75 - 1, big), 37);  // a hair below the half
}

TEST(PercentSaved, RatioOfUnpackedToPacked) {
  EXPECT_EQ(PercentSaved(1000, 250), 75);
  EXPECT_EQ(PercentSaved(8, 7), 12);  // 12.5
  EXPECT_EQ(PercentSaved(8, 5), 38);  // 37.5
  EXPECT_EQ(PercentSaved(1000, 1000), 0);
  EXPECT_EQ(PercentSaved(1000, 2000), 0);
  EXPECT_EQ(PercentSaved(0, 0), 0);
  EXPECT_EQ(PercentSaved(-5, -10), 0);
  EXPECT_EQ(PercentSaved(1000, 0), 100);
  EXPECT_EQ(PercentSaved(1000, -500), 100);  // never above 100 for a damaged packed size
  EXPECT_EQ(PercentSaved(INT64_MAX, INT64_MIN), 100);
  EXPECT_EQ(PercentSaved(INT64_MAX, 1), 100);
  const int64_t big = 200000000000000000;
  EXPECT_EQ(PercentSaved(big, big / 200 * 175), 12);  // saved 12.5 %
}

// ---- string readers on a stream -----------------------------------------------------------------

class TMemoryStream32 : public TStream32 {
 public:
  explicit TMemoryStream32(std::string data) : data_(std::move(data)) {}
  int32_t Read(void* buffer, int32_t count) override {
    if (position_ >= static_cast<int64_t>(data_.size()) || count <= 0) return 0;
    const auto available = static_cast<int64_t>(data_.size()) - position_;
    const auto n = static_cast<int32_t>(std::min<int64_t>(count, available));
    std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek64(int64_t offset, int origin) override {
    if (origin == host::kSeekBegin)
      position_ = offset;
    else if (origin == host::kSeekCurrent)
      position_ += offset;
    else
      position_ = static_cast<int64_t>(data_.size()) + offset;
    return position_;
  }
  int64_t GetSize() override { return static_cast<int64_t>(data_.size()); }

 private:
  std::string data_;
  int64_t position_ = 0;
};

TEST(StreamStrings, ReadZString) {
  TMemoryStream32 stream(std::string("xxpath\0name.txt\0", 16) + std::string(300, 'Q'));
  int64_t position = 2;
  EXPECT_EQ(ReadZString(stream, position), "path");
  EXPECT_EQ(position, 7);
  EXPECT_EQ(ReadZString(stream, position), "name.txt");
  EXPECT_EQ(position, 16);
  // No zero byte within 256: the string stops at 256 bytes and the position moves 257.
  EXPECT_EQ(ReadZString(stream, position), std::string(256, 'Q'));
  EXPECT_EQ(position, 16 + 257);
  // Near the end: what is there, without a terminator.
  EXPECT_EQ(ReadZString(stream, position), std::string(300 - 257, 'Q'));
  EXPECT_EQ(position, 16 + 257 + 44);
  // Past the end: empty, the position still moves by one (a walk over a count always ends).
  EXPECT_EQ(ReadZString(stream, position), "");
  EXPECT_EQ(position, 16 + 257 + 45);
}

TEST(StreamStrings, ReadFixedString) {
  TMemoryStream32 stream(std::string("ab\0cdEFGH", 9));
  int64_t position = 0;
  EXPECT_EQ(ReadFixedString(stream, position, 5), "ab");  // cut at the zero byte
  EXPECT_EQ(position, 5);
  EXPECT_EQ(ReadFixedString(stream, position, 3), "EFG");
  EXPECT_EQ(position, 8);
  EXPECT_EQ(ReadFixedString(stream, position, 10), "H");  // short read at the end
  EXPECT_EQ(position, 18);
  EXPECT_EQ(ReadFixedString(stream, position, 0), "");
  EXPECT_EQ(position, 18);
  position = 0;
  EXPECT_EQ(ReadFixedString(stream, position, -4), "");  // out-of-range lengths are clamped
  EXPECT_EQ(position, 0);
  TMemoryStream32 longStream(std::string(400, 'z'));
  EXPECT_EQ(ReadFixedString(longStream, position, 1000), std::string(255, 'z'));
  EXPECT_EQ(position, 255);
}

// ---- directories through the host layer ---------------------------------------------------------

// A scratch folder below the system temporary directory, removed with its contents at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "parcelo-gbls-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) hostPath_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!hostPath_.empty()) std::filesystem::remove_all(hostPath_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& HostPath() const { return hostPath_; }
  std::string SystemPath() const { return host::FromHostPath(hostPath_); }

 private:
  std::string hostPath_;
};

TEST(Directories, MakeDirPathCreatesEveryMissingParent) {
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.HostPath().empty());
  const std::string target = scratch.SystemPath() + "\\one\\two\\three";
  EXPECT_FALSE(IsDirectory(target));
  EXPECT_TRUE(MakeDirPath(target));
  EXPECT_TRUE(std::filesystem::is_directory(scratch.HostPath() + "/one/two/three"));
  EXPECT_TRUE(IsDirectory(target));
  EXPECT_TRUE(IsDirectory(scratch.SystemPath() + "\\one"));
  EXPECT_TRUE(MakeDirPath(target));         // exists already
  EXPECT_TRUE(MakeDirPath(target + "\\"));  // a trailing backslash is fine
  EXPECT_TRUE(MakeDirPath(scratch.SystemPath() + "\\one\\..\\four\\five"));
  EXPECT_TRUE(std::filesystem::is_directory(scratch.HostPath() + "/four/five"));
}

TEST(Directories, MakeDirPathFailsThroughItsResult) {
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.HostPath().empty());
  { std::ofstream(scratch.HostPath() + "/file") << "x"; }
  // A file stands where a parent directory should be.
  EXPECT_FALSE(MakeDirPath(scratch.SystemPath() + "\\file\\sub"));
  EXPECT_FALSE(IsDirectory(scratch.SystemPath() + "\\file"));
  EXPECT_FALSE(MakeDirPath(""));
  EXPECT_FALSE(MakeDirPath("\\\\server\\share\\dir"));  // unreachable share
}

TEST(Directories, FileExistsWild) {
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.HostPath().empty());
  { std::ofstream(scratch.HostPath() + "/data.z01") << "x"; }
  std::filesystem::create_directory(scratch.HostPath() + "/sub");
  const std::string base = scratch.SystemPath() + "\\";
  EXPECT_TRUE(FileExistsWild(base + "data.z01"));
  EXPECT_TRUE(FileExistsWild(base + "data.z??"));
  EXPECT_TRUE(FileExistsWild(base + "*.Z01"));
  EXPECT_TRUE(FileExistsWild(base + "sub"));  // a directory counts
  EXPECT_FALSE(FileExistsWild(base + "data.z02"));
  EXPECT_FALSE(FileExistsWild(base + "*.zip"));
  EXPECT_FALSE(IsDirectory(base + "data.z01"));
  EXPECT_FALSE(IsDirectory(base + "missing"));
}

}  // namespace
