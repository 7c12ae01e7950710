// Shared helpers of the archive engine: wildcard masks (TInternalMask, MaskMatches), stored-name
// and path helpers, percentages. File-system helpers reach the disk only through the host layer.
// The date conversions are arvDates.h's.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/codecs/arvBytes.h"
#include "platform/host.h"
#include "platform/host_ascii.h"

class TStream32;

// ---- masks --------------------------------------------------------------------------------------
// A compiled wildcard pattern: "*" (any run of characters) and "?" (any one character); ASCII
// letters compare without regard to case, bytes of 128 and above compare exactly. A mask ending in
// "." also accepts a name without any "." (so "*." selects names without an extension).
class TInternalMask {
 public:
  struct TMaskItem {
    bool Star = false;      // one or more "*" stood before this item
    uint8_t Kind = 0;       // 0 literal, 1 any one character, 2 one character of a set
    uint8_t Character = 0;  // kind 0: the literal, upper case; the end item is kind 0, character 0
    bool Negate = false;    // kind 2: the set test is inverted
    std::unique_ptr<std::bitset<256>> Set;  // kind 2 only: the set, tested in upper case
  };

  explicit TInternalMask(const std::string& mask);
  // A mask built from ready items (character sets included, which the text compiler never
  // produces). An end item is appended when the last item is not one.
  TInternalMask(std::vector<TMaskItem> items, bool endsWithDot);
  ~TInternalMask();
  TInternalMask(const TInternalMask&) = delete;
  TInternalMask& operator=(const TInternalMask&) = delete;

  // Tests a whole name; allocates nothing.
  bool Matches(const std::string& name) const;

  // The bound of the classic retry stack. The matcher only ever needs the newest retry point
  // (a later star can absorb whatever an earlier one could), so it never comes near it.
  static constexpr int kMaxRetryPoints = 30;

  int ItemCount() const { return FItemCount; }
  bool EndsWithDot() const { return FEndsWithDot; }
  const TMaskItem& Item(int index) const { return FItems[static_cast<size_t>(index)]; }

 private:
  std::unique_ptr<TMaskItem[]> FItems;  // exactly FItemCount items, the end item last
  int FItemCount = 0;
  bool FEndsWithDot = false;
};

bool MaskMatches(const std::string& name, const std::string& mask);

// ---- names and paths ----------------------------------------------------------------------------
// A stored member name in system form: OEM (code page 437) bytes converted when translateOem is
// set, then every "/" turned into "\".
std::string ConvertStoredName(const std::string& name, bool translateOem);
std::string AppendBackslash(const std::string& path);  // "" stays ""
std::string RemoveBackslash(const std::string& path);  // drops one trailing "\"
// An LHA directory name: "/" and 0xFF become "\" outside double-byte characters; spaces and
// control characters trimmed at both ends.
std::string LhaPathToDos(const std::string& name);
bool IsDirectory(const std::string& path);
// Creates the directory and every missing parent; true when the directory exists afterwards.
bool MakeDirPath(const std::string& path);
// True when a directory search for the pattern ("*" and "?" allowed) finds anything.
bool FileExistsWild(const std::string& pattern);
// Cuts the text before the first delimiter off the front of text (delimiter dropped) and returns
// it; without a delimiter (or with an empty one) returns the whole text and empties it.
std::string SplitToken(std::string& text, const std::string& delimiter);
bool IsAllDigits(const std::string& text);  // true for ""
int BaseNameLength(const char* name);       // characters before the first "."
bool IsUncPath(const std::string& path);
bool IsGZipMagic(uint16_t value);  // 1F 8B, 1F 9E, 1F 1E, 1F 9D, 1F A0 read little-endian
uint32_t SwapWords(uint32_t value);
// A zero-terminated string of at most 256 bytes at position; position moves past its zero byte.
std::string ReadZString(TStream32& stream, int64_t& position);
// n bytes (0 to 255) at position, cut at the first zero byte; position moves on by n.
std::string ReadFixedString(TStream32& stream, int64_t& position, int n);
// part * 100 / whole rounded half to even, 0 to 100; 0 when whole <= 0.
int Percent(int64_t part, int64_t whole);
// (whole - part) * 100 / whole rounded half to even, 0 to 100; 0 when whole <= 0 or part >= whole.
int PercentSaved(int64_t whole, int64_t part);
// Sums of sizes read from an archive: a crafted one cannot make them wrap; beyond the largest
// value they stay there.
inline int64_t SaturatingAdd(int64_t sum, int64_t size) {
  int64_t result = 0;
  if (!__builtin_add_overflow(sum, size, &result)) return result;
  return size > 0 ? INT64_MAX : INT64_MIN;
}
// The shared text rules (ASCII case, the window's separators, joining, extensions), under the
// names the engine uses.
using host::ExtensionOf;
using host::JoinPath;
using host::LowerCaseAscii;
using host::SameTextAscii;
using host::SlashToBackslash;
using host::StartsTextAscii;
using host::UpperAscii;
using host::UpperCaseAscii;
