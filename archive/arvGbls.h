// Shared helpers of the archive engine: wildcard masks (TInternalMask, MaskMatches), stored-name
// and path helpers, percentages, and the date conversions (packed DOS date-times and Unix seconds
// to the date value: days since 1899-12-30, the fraction being the time of day).
// File-system helpers reach the disk only through the host layer.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/host.h"

class TStream32;

// ---- masks ---------------------------------------------------------------------------------------
class TInternalMask {
 public:
  explicit TInternalMask(const std::string& mask);
  ~TInternalMask();
  TInternalMask(const TInternalMask&) = delete;
  TInternalMask& operator=(const TInternalMask&) = delete;

  bool Matches(const std::string& name) const;

  struct TMaskItem {
    bool star = false;
    uint8_t kind = 0;  // 0 literal, 1 any one character, 2 one character of a set
    uint8_t character = 0;
    bool negate = false;
    std::bitset<256>* set = nullptr;  // kind 2 only, owned
  };
  // The retry stack's bound: a test that would need more retry points is refused.
  static constexpr int kMaxRetryPoints = 30;

  int ItemCount() const { return itemCount_; }
  bool EndsWithDot() const { return endsWithDot_; }

 private:
  TMaskItem* items_ = nullptr;  // exactly itemCount_ items, the end item last
  int itemCount_ = 0;
  bool endsWithDot_ = false;
};

bool MaskMatches(const std::string& name, const std::string& mask);

// ---- names and paths -----------------------------------------------------------------------------
std::string ConvertStoredName(const std::string& name, bool translateOem);
std::string SlashToBackslash(const std::string& path);
std::string AppendBackslash(const std::string& path);
std::string RemoveBackslash(const std::string& path);
std::string LhaPathToDos(const std::string& name);
bool IsDirectory(const std::string& path);
bool MakeDirPath(const std::string& path);
bool FileExistsWild(const std::string& pattern);
std::string JoinPath(const std::string& directory, const std::string& name);
std::string SplitToken(std::string& text, const std::string& delimiter);
bool IsAllDigits(const std::string& text);
int BaseNameLength(const char* name);
bool IsUncPath(const std::string& path);
bool IsGZipMagic(uint16_t value);
uint32_t SwapWords(uint32_t value);
std::string ReadZString(TStream32& stream, int64_t& position);
std::string ReadFixedString(TStream32& stream, int64_t& position, int n);
int Percent(int64_t part, int64_t whole);
int PercentSaved(int64_t whole, int64_t part);
// ASCII-only case folding and comparison, as the engine compares names and masks.
char UpCaseAscii(char c);
std::string UpperCaseAscii(std::string text);
bool SameTextAscii(const std::string& a, const std::string& b);
bool StartsTextAscii(const std::string& prefix, const std::string& text);

// ---- dates ---------------------------------------------------------------------------------------
using TDateTime = double;  // days since 1899-12-30; the fraction is the time of day

constexpr TDateTime kInvalidDosDate = 29221.000694;  // 1980-01-01 00:01, for dates that cannot be
                                                     // encoded
bool IsLeapYear(int year);
// Encoding helpers; false when the parts do not form a valid date or time.
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time);
void DecodeDate(TDateTime date, int& year, int& month, int& day);
void DecodeTime(TDateTime date, int& hour, int& minute, int& second, int& millisecond);
int DayOfWeek(TDateTime date);  // 0 = Sunday

TDateTime DosToDateTime(uint32_t packed);
TDateTime UnixToDateTime(int32_t seconds);
bool IsDaylightTime(TDateTime date);
TDateTime UtcToLocal(TDateTime date);
TDateTime NextMonth(TDateTime date);
// The time-zone record is read once, on first use, through the host layer; tests that install a
// fixed zone call this to read it again.
void ReloadTimeZone();
