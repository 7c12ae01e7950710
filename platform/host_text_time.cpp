// Text and time: code page 437 to UTF-8, the Windows time-zone record built from the host's zone
// rules (TZ, the zone files' POSIX rule footers), and local-time conversions for file dates. Zone
// history is not modelled in the record: like Windows, it carries the current rules only.
#include <locale.h>
#include <stdlib.h>

#include <array>
#include <ctime>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/host.h"
#include "platform/host_internal.h"
#include "platform/seams.h"

namespace host {

// ---- code page 437 ----

namespace {

// Unicode code points of the bytes 0x80..0xFF of code page 437.
constexpr std::array<uint16_t, 128> kCp437Upper = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // E8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // F8
};

void AppendUtf8(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

}  // namespace

std::string OemToAnsi(const std::string& oem) {
  std::string out;
  out.reserve(oem.size() * 2);
  for (const char c : oem) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else {
      AppendUtf8(out, kCp437Upper[byte - 0x80]);
    }
  }
  return out;
}

// ---- calendar ----

namespace detail {

// Days since 1970-01-01 of a proleptic Gregorian date (the well-known era-based algorithm).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

unsigned DaysInMonth(int64_t year, unsigned month) {
  static constexpr unsigned kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kLengths[month - 1] + (month == 2 && leap ? 1 : 0);
}

unsigned WeekdayFromDays(int64_t days) {
  // 1970-01-01 was a Thursday (4).
  const int64_t weekday = (days + 4) % 7;
  return static_cast<unsigned>(weekday < 0 ? weekday + 7 : weekday);
}

}  // namespace detail

// ---- POSIX zone rules ----

namespace {

constexpr int64_t kSecondsPerDay = 86400;

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

class TRuleParser {
 public:
  explicit TRuleParser(const std::string& text) : FText(text) {}

  bool AtEnd() const { return FPos >= FText.size(); }
  bool Peek(char c) const { return FPos < FText.size() && FText[FPos] == c; }
  bool Take(char c) {
    if (!Peek(c)) return false;
    ++FPos;
    return true;
  }

  // A zone abbreviation: three or more letters, or anything but ">" inside "<...>".
  bool Name() {
    if (Take('<')) {
      const size_t close = FText.find('>', FPos);
      if (close == std::string::npos || close == FPos) return false;
      FPos = close + 1;
      return true;
    }
    const size_t start = FPos;
    while (FPos < FText.size() && IsLetter(FText[FPos])) ++FPos;
    return FPos - start >= 3;
  }

  bool StartsOffset() const {
    return FPos < FText.size() &&
           (IsDigit(FText[FPos]) || FText[FPos] == '+' || FText[FPos] == '-');
  }

  // [+|-]hh[:mm[:ss]] in seconds, hours at most maxHours.
  bool Duration(int maxHours, int64_t& seconds) {
    int sign = 1;
    if (Take('-')) {
      sign = -1;
    } else {
      Take('+');
    }
    int64_t hours = 0, minutes = 0, secs = 0;
    if (!Number(0, maxHours, hours)) return false;
    if (Take(':')) {
      if (!Number(0, 59, minutes)) return false;
      if (Take(':') && !Number(0, 59, secs)) return false;
    }
    seconds = sign * (hours * 3600 + minutes * 60 + secs);
    return true;
  }

  bool Number(int64_t low, int64_t high, int64_t& value) {
    const size_t start = FPos;
    value = 0;
    while (FPos < FText.size() && IsDigit(FText[FPos]) && FPos - start < 4) {
      value = value * 10 + (FText[FPos] - '0');
      ++FPos;
    }
    return FPos > start && value >= low && value <= high;
  }

 private:
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

  const std::string& FText;
  size_t FPos = 0;
};

// One transition rule of a POSIX TZ string.
struct TTransitionRule {
  enum class TKind { MonthWeekDay, JulianNoLeap, JulianZero } Kind = TKind::MonthWeekDay;
  int Month = 0, Week = 0, Weekday = 0;  // MonthWeekDay
  int Day = 0;                           // Jn: 1..365, n: 0..365
  int64_t Time = 7200;                   // seconds after local midnight, may leave the day
};

bool ParseTransition(TRuleParser& parser, TTransitionRule& rule) {
  int64_t value = 0;
  if (parser.Take('M')) {
    rule.Kind = TTransitionRule::TKind::MonthWeekDay;
    if (!parser.Number(1, 12, value)) return false;
    rule.Month = static_cast<int>(value);
    if (!parser.Take('.') || !parser.Number(1, 5, value)) return false;
    rule.Week = static_cast<int>(value);
    if (!parser.Take('.') || !parser.Number(0, 6, value)) return false;
    rule.Weekday = static_cast<int>(value);
  } else if (parser.Take('J')) {
    rule.Kind = TTransitionRule::TKind::JulianNoLeap;
    if (!parser.Number(1, 365, value)) return false;
    rule.Day = static_cast<int>(value);
  } else {
    rule.Kind = TTransitionRule::TKind::JulianZero;
    if (!parser.Number(0, 365, value)) return false;
    rule.Day = static_cast<int>(value);
  }
  rule.Time = 7200;
  if (parser.Take('/') && !parser.Duration(167, rule.Time)) return false;
  return true;
}

// The day (since 1970) a Julian rule names in `year`.
int64_t JulianRuleDay(const TTransitionRule& rule, int64_t year) {
  const int64_t jan1 = detail::DaysFromCivil(year, 1, 1);
  if (rule.Kind == TTransitionRule::TKind::JulianZero) return jan1 + rule.Day;
  // Jn never counts February 29: from March on a leap year is one day further along.
  const bool leap = detail::DaysInMonth(year, 2) == 29;
  return jan1 + rule.Day - 1 + ((leap && rule.Day >= 60) ? 1 : 0);
}

// The rule in the Windows relative form. A Mm.w.d rule maps exactly when its time lies within
// the day; a time beyond the day moves the weekday along (e.g. Thursday 26:00 -> Friday 02:00),
// which keeps the week number and is exact in most years. A Julian rule has no Windows form: it is
// expressed as the weekday and week of its date in the current year, exact in that year and off
// by at most a few days in others.
TSystemTime ToSystemTime(const TTransitionRule& rule, int64_t currentYear) {
  TSystemTime st;
  const int64_t dayShift = FloorDiv(rule.Time, kSecondsPerDay);
  const int64_t timeOfDay = rule.Time - dayShift * kSecondsPerDay;
  st.wHour = static_cast<uint16_t>(timeOfDay / 3600);
  st.wMinute = static_cast<uint16_t>(timeOfDay / 60 % 60);
  st.wSecond = static_cast<uint16_t>(timeOfDay % 60);
  if (rule.Kind == TTransitionRule::TKind::MonthWeekDay) {
    st.wMonth = static_cast<uint16_t>(rule.Month);
    st.wDay = static_cast<uint16_t>(rule.Week);
    const int64_t weekday = (rule.Weekday + dayShift) % 7;
    st.wDayOfWeek = static_cast<uint16_t>(weekday < 0 ? weekday + 7 : weekday);
    return st;
  }
  const int64_t days = JulianRuleDay(rule, currentYear) + dayShift;
  int64_t year = 0;
  unsigned month = 0, day = 0;
  detail::CivilFromDays(days, year, month, day);
  st.wMonth = static_cast<uint16_t>(month);
  st.wDayOfWeek = static_cast<uint16_t>(detail::WeekdayFromDays(days));
  st.wDay =
      static_cast<uint16_t>(day + 7 > detail::DaysInMonth(year, month) ? 5 : (day - 1) / 7 + 1);
  return st;
}

int64_t CurrentYear() {
  int64_t year = 0;
  unsigned month = 0, day = 0;
  detail::CivilFromDays(FloorDiv(static_cast<int64_t>(::time(nullptr)), kSecondsPerDay), year,
                        month, day);
  return year;
}

}  // namespace

bool TimeZoneFromPosixRule(const std::string& rule, TTimeZoneInformation& tz) {
  TRuleParser parser(rule);
  int64_t standardOffset = 0;  // seconds west of UTC, as POSIX writes it
  if (!parser.Name() || !parser.Duration(24, standardOffset)) return false;
  TTimeZoneInformation result;
  result.Bias = static_cast<int32_t>(standardOffset / 60);
  if (parser.AtEnd()) {
    tz = result;
    return true;
  }
  if (!parser.Name()) return false;
  int64_t daylightOffset = standardOffset - 3600;
  if (parser.StartsOffset() && !parser.Duration(24, daylightOffset)) return false;
  TTransitionRule start, end;
  if (parser.Take(',')) {
    if (!ParseTransition(parser, start) || !parser.Take(',') || !ParseTransition(parser, end)) {
      return false;
    }
  } else {
    // A daylight name without rules: the rules most systems assume (United States, since 2007).
    start = {TTransitionRule::TKind::MonthWeekDay, 3, 2, 0, 0, 7200};
    end = {TTransitionRule::TKind::MonthWeekDay, 11, 1, 0, 0, 7200};
  }
  if (!parser.AtEnd()) return false;

  // Daylight saving all year round ("J0/0,J365/25" style) is a zone without a change at all.
  const bool startsAtNewYear =
      (start.Kind == TTransitionRule::TKind::JulianZero && start.Day == 0 && start.Time <= 0) ||
      (start.Kind == TTransitionRule::TKind::JulianNoLeap && start.Day == 1 && start.Time <= 0);
  const bool endsAfterYear = end.Kind != TTransitionRule::TKind::MonthWeekDay && end.Day >= 365 &&
                             end.Time >= kSecondsPerDay;
  if (startsAtNewYear && endsAfterYear) {
    result.Bias = static_cast<int32_t>(daylightOffset / 60);
    tz = result;
    return true;
  }

  const int64_t year = CurrentYear();
  result.StandardBias = 0;
  result.DaylightBias = static_cast<int32_t>((daylightOffset - standardOffset) / 60);
  result.DaylightDate = ToSystemTime(start, year);  // in local standard time
  result.StandardDate = ToSystemTime(end, year);    // in local daylight time
  tz = result;
  return true;
}

// ---- the host's zone ----

namespace {

uint32_t ReadBigEndian32(const std::string& data, size_t at) {
  return (static_cast<uint32_t>(static_cast<unsigned char>(data[at])) << 24) |
         (static_cast<uint32_t>(static_cast<unsigned char>(data[at + 1])) << 16) |
         (static_cast<uint32_t>(static_cast<unsigned char>(data[at + 2])) << 8) |
         static_cast<uint32_t>(static_cast<unsigned char>(data[at + 3]));
}

constexpr size_t kMaxZoneFile = 1 << 20;  // real zone files are a few KiB

}  // namespace

namespace detail {

bool TzifFooter(const std::string& data, std::string& footer) {
  constexpr size_t kHeaderSize = 44;  // magic, version, 15 reserved, six 32-bit counts
  if (data.size() > kMaxZoneFile || data.size() < kHeaderSize) return false;
  if (data.compare(0, 4, "TZif") != 0 || data[4] < '2') return false;

  // Size of a data block: counts in header order isutcnt, isstdcnt, leapcnt, timecnt, typecnt,
  // charcnt; times take 4 bytes in the first block and 8 in the second.
  auto blockSize = [&](size_t header, uint64_t timeSize) -> uint64_t {
    const uint64_t isUt = ReadBigEndian32(data, header + 20);
    const uint64_t isStd = ReadBigEndian32(data, header + 24);
    const uint64_t leap = ReadBigEndian32(data, header + 28);
    const uint64_t times = ReadBigEndian32(data, header + 32);
    const uint64_t types = ReadBigEndian32(data, header + 36);
    const uint64_t chars = ReadBigEndian32(data, header + 40);
    return times * (timeSize + 1) + types * 6 + chars + leap * (timeSize + 4) + isStd + isUt;
  };
  const uint64_t second = kHeaderSize + blockSize(0, 4);
  if (second + kHeaderSize > data.size()) return false;
  if (data.compare(static_cast<size_t>(second), 4, "TZif") != 0) return false;
  const uint64_t footerAt = second + kHeaderSize + blockSize(static_cast<size_t>(second), 8);
  if (footerAt >= data.size() || data[static_cast<size_t>(footerAt)] != '\n') return false;
  const size_t end = data.find('\n', static_cast<size_t>(footerAt) + 1);
  if (end == std::string::npos) return false;
  footer = data.substr(static_cast<size_t>(footerAt) + 1, end - static_cast<size_t>(footerAt) - 1);
  return !footer.empty();
}

}  // namespace detail

namespace {

// The POSIX rule footer of a TZif zone file, or false.
bool ZoneFileFooter(const std::string& hostPath, std::string& footer) {
  std::ifstream file(hostPath, std::ios::binary | std::ios::ate);
  if (!file) return false;
  const std::streamoff size = file.tellg();
  if (size <= 0 || static_cast<uint64_t>(size) > kMaxZoneFile) return false;
  std::string data(static_cast<size_t>(size), '\0');
  file.seekg(0);
  file.read(data.data(), size);
  data.resize(static_cast<size_t>(file.gcount()));
  return detail::TzifFooter(data, footer);
}

bool ZoneFromFile(const std::string& hostPath, TTimeZoneInformation& tz) {
  std::string footer;
  return ZoneFileFooter(hostPath, footer) && TimeZoneFromPosixRule(footer, tz);
}

// A zone name ("Europe/Berlin") is looked up in the zone folder; a name that climbs out of it is
// not a zone name.
bool ZoneFromName(const std::string& name, TTimeZoneInformation& tz) {
  if (name.empty()) return false;
  if (name[0] == '/') return ZoneFromFile(name, tz);
  if (name.find("..") != std::string::npos) return false;
  const char* folder = ::getenv("TZDIR");
  const std::string base = (folder != nullptr && folder[0] == '/') ? folder : "/usr/share/zoneinfo";
  return ZoneFromFile(base + "/" + name, tz);
}

// Last resort: the C library's view of this year's January and July (bias only; the dates of a
// change cannot be read from it).
TTimeZoneInformation ZoneFromCLibrary() {
  TTimeZoneInformation tz;
  const int64_t year = CurrentYear();
  for (const unsigned month : {1u, 7u}) {
    const time_t probe =
        static_cast<time_t>(detail::DaysFromCivil(year, month, 1) * kSecondsPerDay);
    tm local{};
    if (::localtime_r(&probe, &local) != nullptr && local.tm_isdst <= 0) {
      tz.Bias = static_cast<int32_t>(-local.tm_gmtoff / 60);
      return tz;
    }
  }
  return tz;
}

}  // namespace

TTimeZoneInformation GetTimeZoneInformation() {
  if (TSeams* seams = CurrentSeams(); seams && seams->TimeZone) return *seams->TimeZone;
  TTimeZoneInformation tz;
  if (const char* env = ::getenv("TZ")) {
    std::string value = env;
    if (!value.empty() && value[0] == ':') value.erase(0, 1);
    if (value.empty()) return tz;  // an empty TZ is UTC
    // Like the C library: a zone file of that name first, then the text as a rule.
    if (ZoneFromName(value, tz) || TimeZoneFromPosixRule(value, tz)) return tz;
    return TTimeZoneInformation{};  // an unreadable TZ means UTC
  }
  if (ZoneFromFile("/etc/localtime", tz)) return tz;
  return ZoneFromCLibrary();
}

// ---- local time ----

namespace detail {

namespace {

// Wall-clock seconds (as if UTC) at which a transition of the record happens in `year`.
int64_t TransitionWallClock(const TSystemTime& when, int64_t year) {
  const unsigned month = when.wMonth < 1 ? 1u : when.wMonth > 12 ? 12u : when.wMonth;
  const unsigned length = DaysInMonth(year, month);
  unsigned day = 1;
  if (when.wYear != 0) {
    // An absolute date: taken for the same day of every year.
    day = when.wDay < 1 ? 1u : when.wDay > length ? length : when.wDay;
  } else {
    const unsigned week = when.wDay < 1 ? 1u : when.wDay > 5 ? 5u : when.wDay;
    const int64_t first = DaysFromCivil(year, month, 1);
    const unsigned firstWeekday = WeekdayFromDays(first);
    day = 1 + (when.wDayOfWeek % 7 + 7 - firstWeekday) % 7 + 7 * (week - 1);
    while (day > length) day -= 7;  // week 5: the last one
  }
  return DaysFromCivil(year, month, day) * kSecondsPerDay + when.wHour * 3600 + when.wMinute * 60 +
         when.wSecond;
}

int64_t YearOfSeconds(int64_t seconds) {
  int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(FloorDiv(seconds, kSecondsPerDay), year, month, day);
  return year;
}

// Is a moment, given as wall-clock seconds on a clock that reads `start` at the change to
// daylight time and `end` at the change back, inside daylight time?
bool InDaylight(int64_t clock, int64_t start, int64_t end, bool northern) {
  return northern ? (clock >= start && clock < end) : (clock >= start || clock < end);
}

}  // namespace

int64_t LocalToUtcWithRecord(const TTimeZoneInformation& tz, const TLocalTime& local) {
  const int64_t wall = DaysFromCivil(local.Year, local.Month, local.Day) * kSecondsPerDay +
                       local.Hour * 3600 + local.Minute * 60 + local.Second;
  int64_t bias = static_cast<int64_t>(tz.Bias) + tz.StandardBias;
  if (tz.DaylightDate.wMonth != 0) {
    // Start is read on the standard clock and end on the daylight clock, which is what a wall
    // clock shows at each change; a time in the skipped hour counts as daylight time, a time in
    // the repeated hour as its first (daylight) occurrence.
    const int64_t start = TransitionWallClock(tz.DaylightDate, local.Year);
    const int64_t end = TransitionWallClock(tz.StandardDate, local.Year);
    if (InDaylight(wall, start, end, tz.DaylightDate.wMonth < tz.StandardDate.wMonth)) {
      bias = static_cast<int64_t>(tz.Bias) + tz.DaylightBias;
    }
  }
  return wall + bias * 60;
}

TLocalTime UtcToLocalWithRecord(const TTimeZoneInformation& tz, int64_t utc) {
  // Far beyond any file date the calendar arithmetic would overflow; such times are pinned.
  constexpr int64_t kFarAway = int64_t{1} << 40;  // about 35000 years
  utc = utc < -kFarAway ? -kFarAway : utc > kFarAway ? kFarAway : utc;
  const int64_t standard = utc - (static_cast<int64_t>(tz.Bias) + tz.StandardBias) * 60;
  int64_t wall = standard;
  if (tz.DaylightDate.wMonth != 0) {
    // Both changes on the standard clock: the end is read on the daylight clock.
    const int64_t year = YearOfSeconds(standard);
    const int64_t start = TransitionWallClock(tz.DaylightDate, year);
    const int64_t end = TransitionWallClock(tz.StandardDate, year) +
                        (static_cast<int64_t>(tz.DaylightBias) - tz.StandardBias) * 60;
    if (InDaylight(standard, start, end, tz.DaylightDate.wMonth < tz.StandardDate.wMonth)) {
      wall = utc - (static_cast<int64_t>(tz.Bias) + tz.DaylightBias) * 60;
    }
  }
  TLocalTime local;
  const int64_t days = FloorDiv(wall, kSecondsPerDay);
  CivilFromDays(days, local.Year, local.Month, local.Day);
  const int64_t secondOfDay = wall - days * kSecondsPerDay;
  local.Hour = static_cast<unsigned>(secondOfDay / 3600);
  local.Minute = static_cast<unsigned>(secondOfDay / 60 % 60);
  local.Second = static_cast<unsigned>(secondOfDay % 60);
  return local;
}

bool LocalToUtc(const TLocalTime& local, int64_t& utc) {
  if (local.Month < 1 || local.Month > 12 || local.Day < 1 ||
      local.Day > DaysInMonth(local.Year, local.Month) || local.Hour > 23 || local.Minute > 59 ||
      local.Second > 59) {
    return false;
  }
  if (TSeams* seams = CurrentSeams(); seams && seams->TimeZone) {
    utc = LocalToUtcWithRecord(*seams->TimeZone, local);
    return true;
  }
  tm fields{};
  fields.tm_year = static_cast<int>(local.Year - 1900);
  fields.tm_mon = static_cast<int>(local.Month) - 1;
  fields.tm_mday = static_cast<int>(local.Day);
  fields.tm_hour = static_cast<int>(local.Hour);
  fields.tm_min = static_cast<int>(local.Minute);
  fields.tm_sec = static_cast<int>(local.Second);
  fields.tm_isdst = -1;  // the zone rules decide
  const time_t result = ::mktime(&fields);
  if (result == static_cast<time_t>(-1) && fields.tm_year != 69) return false;
  utc = static_cast<int64_t>(result);
  return true;
}

bool UtcToLocal(int64_t utc, TLocalTime& local) {
  if (TSeams* seams = CurrentSeams(); seams && seams->TimeZone) {
    local = UtcToLocalWithRecord(*seams->TimeZone, utc);
    return true;
  }
  const time_t seconds = static_cast<time_t>(utc);
  tm fields{};
  if (::localtime_r(&seconds, &fields) == nullptr) return false;
  local.Year = fields.tm_year + 1900;
  local.Month = static_cast<unsigned>(fields.tm_mon + 1);
  local.Day = static_cast<unsigned>(fields.tm_mday);
  local.Hour = static_cast<unsigned>(fields.tm_hour);
  local.Minute = static_cast<unsigned>(fields.tm_min);
  local.Second = static_cast<unsigned>(fields.tm_sec > 59 ? 59 : fields.tm_sec);
  return true;
}

bool DosToLocal(uint32_t dos, TLocalTime& local) {
  const uint32_t date = dos >> 16;
  const uint32_t time = dos & 0xFFFF;
  local.Year = 1980 + (date >> 9);
  local.Month = (date >> 5) & 0x0F;
  local.Day = date & 0x1F;
  local.Hour = time >> 11;
  local.Minute = (time >> 5) & 0x3F;
  local.Second = (time & 0x1F) * 2;
  return local.Month >= 1 && local.Month <= 12 && local.Day >= 1 &&
         local.Day <= DaysInMonth(local.Year, local.Month) && local.Hour < 24 &&
         local.Minute < 60 && local.Second < 60;
}

uint32_t LocalToDos(const TLocalTime& local) {
  if (local.Year < 1980 || local.Year > 2107) return 0;
  const uint32_t date =
      (static_cast<uint32_t>(local.Year - 1980) << 9) | (local.Month << 5) | local.Day;
  const uint32_t time = (local.Hour << 11) | (local.Minute << 5) | (local.Second / 2);
  return (date << 16) | time;
}

uint32_t DosFromUnixTime(int64_t seconds) {
  TLocalTime local;
  if (!UtcToLocal(seconds, local)) return 0;
  return LocalToDos(local);
}

}  // namespace detail

}  // namespace host

namespace host {

namespace {

// A UTF-8 character-type locale, made once for the process and kept (0 when none can be had).
locale_t Utf8Locale() {
  static const locale_t locale = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      if (const locale_t made = ::newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr)))
        return made;
    }
    return static_cast<locale_t>(nullptr);
  }();
  return locale;
}

}  // namespace

TUtf8TextScope::TUtf8TextScope() {
  if (const locale_t locale = Utf8Locale()) FPrevious = ::uselocale(locale);
}

TUtf8TextScope::~TUtf8TextScope() {
  if (FPrevious) ::uselocale(static_cast<locale_t>(FPrevious));
}

}  // namespace host
