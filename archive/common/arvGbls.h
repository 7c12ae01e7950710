// Shared helpers of the archive engine: wildcard masks (TInternalMask, MaskMatches), stored-name
// and path helpers, percentages, and the date conversions (packed DOS date-times and Unix seconds
// to the date value: days since 1899-12-30, the fraction being the time of day).
// File-system helpers reach the disk only through the host layer.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/codecs/arvBytes.h"
#include "platform/host.h"

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
std::string SlashToBackslash(const std::string& path);
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
std::string JoinPath(const std::string& directory, const std::string& name);  // "" for no directory
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
// ASCII-only case folding and comparison, as the engine compares names and masks.
std::string UpperCaseAscii(std::string text);
bool SameTextAscii(const std::string& a, const std::string& b);
bool StartsTextAscii(const std::string& prefix, const std::string& text);

// ---- dates --------------------------------------------------------------------------------------
using TDateTime = double;  // days since 1899-12-30; the fraction is the time of day
// Before 1899-12-30 the value is negative and its fraction, taken as positive, is still the time
// of day (-1.25 is 1899-12-29 06:00).

// What a packed DOS date-time that names no real date converts to: 1980-01-01 00:01:00, the same
// value as DosToDateTime(0).
constexpr TDateTime kInvalidDosDate = 29221.0 + 1.0 / 1440.0;

bool IsLeapYear(int year);
// Encoding helpers; false when the parts do not form a valid date (years 1 to 9999) or time.
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time);
// Decoding rounds to the nearest millisecond; dates before 0001-01-01 decode as 0, 0, 0.
void DecodeDate(TDateTime date, int& year, int& month, int& day);
void DecodeTime(TDateTime date, int& hour, int& minute, int& second, int& millisecond);
int DayOfWeek(TDateTime date);  // 0 = Sunday

// Packed DOS date-time (date in the high 16 bits) to a date value; never raises.
TDateTime DosToDateTime(uint32_t packed);
// Unix seconds (UTC) to a local date value. 0 gives 1980-01-01 00:01:00; a negative time counts as
// its absolute value; exactly midnight comes out as 00:00:01.
TDateTime UnixToDateTime(int32_t seconds);
// Seconds since 1970-01-01 00:00:00 UTC, and nanoseconds within that second, to a local date value
// kept to the millisecond; times outside the years 1 to 9999 are taken as the nearest end.
TDateTime UnixTimeToLocal(int64_t seconds, uint32_t nanoseconds);
// Whether daylight saving time is in force at the given UTC date value, by the zone's rules.
bool IsDaylightTime(TDateTime utc);
TDateTime UtcToLocal(TDateTime utc);
TDateTime NextMonth(TDateTime date);  // same day one month on, cut to the month's length
// The time-zone record is read once, on first use, through the host layer; tests that install a
// fixed zone call this to read it again.
void ReloadTimeZone();
