// Date values (days since 1899-12-30, the fraction being the time of day) and the conversions
// from packed DOS date-times and Unix seconds, with the zone's daylight-saving rules. It reads the
// time-zone record through the host layer once and does not follow later zone changes.
#include "archive/common/arvDates.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>

#include "platform/host.h"

namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kMsPerMinute = 60000;
// Farther than any date of years 1 to 9999 from 1899-12-30; keeps the millisecond count in range.
constexpr double kMaxDays = 3.0e6;
constexpr int64_t kUnixEpochDay = 25569;  // 1970-01-01

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// A date value as milliseconds since 1899-12-30 00:00 on a straight time line. Values below zero
// keep the convention that the integer part is the day and the fraction, taken as positive, the
// time of that day; both are rounded together to the millisecond.
int64_t ToMs(TDateTime value) {
  if (std::isnan(value)) return 0;
  if (value > kMaxDays) value = kMaxDays;
  if (value < -kMaxDays) value = -kMaxDays;
  const int64_t total = std::llround(value * static_cast<double>(kMsPerDay));
  if (total >= 0) return total;
  const int64_t day = total / kMsPerDay;  // toward zero
  const int64_t time = (-total) % kMsPerDay;
  return day * kMsPerDay + time;
}

TDateTime FromMs(int64_t ms) {
  const int64_t day = FloorDiv(ms, kMsPerDay);
  const double time = static_cast<double>(ms - day * kMsPerDay) / static_cast<double>(kMsPerDay);
  return day >= 0 ? static_cast<double>(day) + time : static_cast<double>(day) - time;
}

// Proleptic Gregorian calendar <-> days since 1970-01-01.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (month == 2 && IsLeapYear(year)) ? 29 : kDays[month - 1];
}

// Day number (days since 1899-12-30) of a valid date.
bool TryDayNumber(int year, int month, int day, int64_t& dayNumber) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  dayNumber = DaysFromCivil(year, month, day) + kUnixEpochDay;
  return true;
}

int WeekdayOfDay(int64_t dayNumber) {  // 0 = Sunday; day 0 (1899-12-30) was a Saturday
  return static_cast<int>(((dayNumber + 6) % 7 + 7) % 7);
}

// ---- the time-zone record -----------------------------------------------------------------------
std::mutex& ZoneMutex() {
  static std::mutex mutex;
  return mutex;
}
std::optional<host::TTimeZoneInformation>& CachedZone() {
  static std::optional<host::TTimeZoneInformation> zone;
  return zone;
}

host::TTimeZoneInformation TimeZone() {
  const std::lock_guard<std::mutex> lock(ZoneMutex());
  auto& zone = CachedZone();
  if (!zone) zone = host::GetTimeZoneInformation();
  return *zone;
}

// The local wall-clock moment (milliseconds on the straight time line) at which a transition of
// the record happens in `year`. False when the record names no real date (a month or weekday out
// of range), which the caller treats as a zone without daylight saving time.
bool TransitionMs(const host::TSystemTime& rule, bool absolute, int year, int64_t& ms) {
  const int64_t timeOfDay = (static_cast<int64_t>(rule.wHour) * 60 + rule.wMinute) * kMsPerMinute;
  int64_t day = 0;
  if (absolute) {
    if (!TryDayNumber(rule.wYear, rule.wMonth, rule.wDay, day)) return false;
    ms = day * kMsPerDay + timeOfDay;
    return true;
  }
  if (!TryDayNumber(year, rule.wMonth, 1, day)) return false;
  if (rule.wDay < 1 || rule.wDay > 5) {  // not a weekday rule: the first of the month, no time
    ms = day * kMsPerDay;
    return true;
  }
  if (rule.wDayOfWeek > 6) return false;
  if (rule.wDay <= 4) {  // the n-th such weekday
    day += (rule.wDayOfWeek - WeekdayOfDay(day) + 7) % 7;
    day += 7 * (rule.wDay - 1);
  } else {  // 5: the last such weekday, stepping back from the first of the next month
    const int64_t lastOfMonth = day + DaysInMonth(year, rule.wMonth) - 1;
    day = lastOfMonth - (WeekdayOfDay(lastOfMonth) - rule.wDayOfWeek + 7) % 7;
  }
  ms = day * kMsPerDay + timeOfDay;
  return true;
}

}  // namespace

// ---- calendar -----------------------------------------------------------------------------------
bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
  int64_t dayNumber = 0;
  if (!TryDayNumber(year, month, day, dayNumber)) return false;
  date = static_cast<double>(dayNumber);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time) {
  if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 ||
      millisecond < 0 || millisecond >= 1000)
    return false;
  const int64_t ms =
      ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
  time = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
  return true;
}

void DecodeDate(TDateTime date, int& year, int& month, int& day) {
  const int64_t dayNumber = FloorDiv(ToMs(date), kMsPerDay);
  int64_t y = 0;
  CivilFromDays(dayNumber - kUnixEpochDay, y, month, day);
  if (y < 1 || y > 9999) {
    year = month = day = 0;
    return;
  }
  year = static_cast<int>(y);
}

void DecodeTime(TDateTime date, int& hour, int& minute, int& second, int& millisecond) {
  const int64_t ms = ToMs(date);
  int64_t time = ms - FloorDiv(ms, kMsPerDay) * kMsPerDay;
  hour = static_cast<int>(time / 3600000);
  time %= 3600000;
  minute = static_cast<int>(time / 60000);
  time %= 60000;
  second = static_cast<int>(time / 1000);
  millisecond = static_cast<int>(time % 1000);
}

int DayOfWeek(TDateTime date) {
  return WeekdayOfDay(FloorDiv(ToMs(date), kMsPerDay));
}

TDateTime NextMonth(TDateTime date) {
  const int64_t ms = ToMs(date);
  const int64_t dayNumber = FloorDiv(ms, kMsPerDay);
  const int64_t timeOfDay = ms - dayNumber * kMsPerDay;
  int year = 0, month = 0, day = 0;
  DecodeDate(date, year, month, day);
  if (year == 0) return date;
  if (++month > 12) {
    month = 1;
    ++year;
  }
  if (year > 9999) return date;  // no month follows 9999-12
  const int length = DaysInMonth(year, month);
  if (day > length) day = length;
  int64_t next = 0;
  TryDayNumber(year, month, day, next);
  return FromMs(next * kMsPerDay + timeOfDay);
}

// ---- packed DOS date-times ----------------------------------------------------------------------
TDateTime DosToDateTime(uint32_t packed) {
  if (packed == 0) packed = 0x00210020;  // 1980-01-01 00:01:00
  const int year = 1980 + static_cast<int>(packed >> 25);
  const int month = static_cast<int>((packed >> 21) & 0x0F);
  const int day = static_cast<int>((packed >> 16) & 0x1F);
  const int hour = static_cast<int>((packed >> 11) & 0x1F);
  const int minute = static_cast<int>((packed >> 5) & 0x3F);
  const int second = 2 * static_cast<int>(packed & 0x1F);
  TDateTime date = 0;
  TDateTime time = 0;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time))
    return kInvalidDosDate;
  return date + time;
}

// ---- Unix seconds and the zone ------------------------------------------------------------------
void ReloadTimeZone() {
  const std::lock_guard<std::mutex> lock(ZoneMutex());
  CachedZone() = host::GetTimeZoneInformation();
}

// The transitions are wall-clock times: the change to daylight time happens at its hour of
// standard time, the change back at its hour of daylight time. Both are moved to UTC before they
// are compared with the UTC value, so the hour around each change is judged right.
bool IsDaylightTime(TDateTime utc) {
  const host::TTimeZoneInformation zone = TimeZone();
  if (zone.DaylightDate.wMonth == 0) return false;
  int year = 0, month = 0, day = 0;
  DecodeDate(utc, year, month, day);
  if (year == 0) return false;
  const bool absolute = zone.StandardDate.wYear != 0;
  int64_t start = 0;
  int64_t end = 0;
  if (!TransitionMs(zone.DaylightDate, absolute, year, start) ||
      !TransitionMs(zone.StandardDate, absolute, year, end))
    return false;
  start += static_cast<int64_t>(zone.Bias + zone.StandardBias) * kMsPerMinute;
  end += static_cast<int64_t>(zone.Bias + zone.DaylightBias) * kMsPerMinute;
  const int64_t x = ToMs(utc);
  if (zone.DaylightDate.wMonth < zone.StandardDate.wMonth) return start <= x && x < end;
  return x < end || x >= start;  // southern hemisphere: daylight time spans the new year
}

TDateTime UtcToLocal(TDateTime utc) {
  const host::TTimeZoneInformation zone = TimeZone();
  const int64_t minutes =
      static_cast<int64_t>(zone.Bias) +
      (IsDaylightTime(utc) ? zone.DaylightBias : zone.StandardBias);  // UTC = local + bias
  if (minutes == 0) return utc;
  return FromMs(ToMs(utc) - minutes * kMsPerMinute);
}

TDateTime UnixTimeToLocal(int64_t seconds, uint32_t nanoseconds) {
  // Years 1 to 9999 are what a date value can be decoded to.
  constexpr int64_t kFirstSecond = -62135596800;  // 0001-01-01 00:00:00 UTC
  constexpr int64_t kLastSecond = 253402300799;   // 9999-12-31 23:59:59 UTC
  constexpr int64_t kEpochDays = 25569;           // 1970-01-01 as a date value
  seconds = std::clamp(seconds, kFirstSecond, kLastSecond);
  const int64_t ms =
      (kEpochDays * 86400 + seconds) * 1000 + std::min(nanoseconds, 999999999u) / 1000000;
  return UtcToLocal(FromMs(ms));
}

TDateTime UnixToDateTime(int32_t seconds) {
  if (seconds == 0) return DosToDateTime(0);  // 1980-01-01 00:01:00, no zone conversion
  int64_t s = seconds < 0 ? -static_cast<int64_t>(seconds) : seconds;

  // Only divisibility by 4 counts here; within the range of 32-bit times that is the whole rule.
  const auto yearSeconds = [](int y) -> int64_t { return y % 4 == 0 ? 31622400 : 31536000; };
  int year = 1970;
  while (s > 0) s -= yearSeconds(year++);
  s += yearSeconds(--year);

  const auto monthDays = [&](int m) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && year % 4 == 0) ? 29 : kDays[m - 1];
  };
  int month = 1;
  while (s > 0) s -= static_cast<int64_t>(monthDays(month++)) * 86400;
  s += static_cast<int64_t>(monthDays(--month)) * 86400;

  int day = static_cast<int>((s + 86399) / 86400);
  s -= static_cast<int64_t>(day - 1) * 86400;  // 1 to 86400
  int hour = static_cast<int>(s / 3600);
  s -= static_cast<int64_t>(hour) * 3600;
  int minute = static_cast<int>(s / 60);
  int second = static_cast<int>(s - static_cast<int64_t>(minute) * 60);
  if (second > 59) second = 59;
  if (hour == 24) {  // exactly midnight: the next day, one second after
    if (++day > monthDays(month)) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
    hour = 0;
    minute = 0;
    second = 1;
  }
  TDateTime date = 0;
  TDateTime time = 0;
  TryEncodeDate(year, month, day, date);
  TryEncodeTime(hour, minute, second, 0, time);
  return UtcToLocal(date + time);
}
