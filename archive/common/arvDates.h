// The engine's date value (days since 1899-12-30, the fraction being the time of day) and the
// conversions into it: packed DOS date-times, Unix seconds, UTC to local time by the host's zone.
#pragma once

#include <cstdint>

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
