// Tests of the date conversions: the calendar helpers, packed DOS date-times, Unix seconds in fixed
// zones (checked against the C library's gmtime/localtime under the same POSIX zone rule), the
// daylight-saving transitions of northern and southern zones, and NextMonth.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

#include "archive/common/arvDates.h"
#include "archive/common/arvGbls.h"
#include "platform/host.h"
#include "platform/seams.h"

namespace {

struct TParts {
  int year, month, day, hour, minute, second;
};

TParts Parts(TDateTime value) {
  TParts p{};
  int ms = 0;
  DecodeDate(value, p.year, p.month, p.day);
  DecodeTime(value, p.hour, p.minute, p.second, ms);
  return p;
}

std::string Text(TDateTime value) {
  const TParts p = Parts(value);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                p.hour, p.minute, p.second);
  return buffer;
}

TDateTime Encode(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  TDateTime date = 0, time = 0;
  EXPECT_TRUE(TryEncodeDate(year, month, day, date));
  EXPECT_TRUE(TryEncodeTime(hour, minute, second, 0, time));
  return date + time;
}

host::TSystemTime Rule(int month, int day, int dayOfWeek, int hour, int year = 0) {
  host::TSystemTime t;
  t.wYear = static_cast<uint16_t>(year);
  t.wMonth = static_cast<uint16_t>(month);
  t.wDay = static_cast<uint16_t>(day);
  t.wDayOfWeek = static_cast<uint16_t>(dayOfWeek);
  t.wHour = static_cast<uint16_t>(hour);
  return t;
}

host::TTimeZoneInformation FixedZone(int bias) {
  host::TTimeZoneInformation tz;
  tz.Bias = bias;
  return tz;
}

// CET-1CEST,M3.5.0,M10.5.0/3
host::TTimeZoneInformation CentralEurope() {
  host::TTimeZoneInformation tz = FixedZone(-60);
  tz.DaylightBias = -60;
  tz.DaylightDate = Rule(3, 5, 0, 2);
  tz.StandardDate = Rule(10, 5, 0, 3);
  return tz;
}

// EST5EDT,M3.2.0,M11.1.0
host::TTimeZoneInformation UsEastern() {
  host::TTimeZoneInformation tz = FixedZone(300);
  tz.DaylightBias = -60;
  tz.DaylightDate = Rule(3, 2, 0, 2);
  tz.StandardDate = Rule(11, 1, 0, 2);
  return tz;
}

// AEST-10AEDT,M10.1.0,M4.1.0/3
host::TTimeZoneInformation Sydney() {
  host::TTimeZoneInformation tz = FixedZone(-600);
  tz.DaylightBias = -60;
  tz.DaylightDate = Rule(10, 1, 0, 2);
  tz.StandardDate = Rule(4, 1, 0, 3);
  return tz;
}

// Installs a fixed zone for the test and reads it; the host's own zone is read again afterwards.
class ZoneTest : public ::testing::Test {
 protected:
  void UseZone(const host::TTimeZoneInformation& zone) {
    seams_.TimeZone = zone;
    ReloadTimeZone();
  }
  void SetUp() override { UseZone(FixedZone(0)); }
  void TearDown() override {
    scope_.reset();
    ReloadTimeZone();
  }

 private:
  host::TSeams seams_;
  std::unique_ptr<host::ScopedSeams> scope_ = std::make_unique<host::ScopedSeams>(seams_);
};

// ---- calendar -----------------------------------------------------------------------------------

TEST(Calendar, LeapYears) {
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_FALSE(IsLeapYear(2100));
  EXPECT_TRUE(IsLeapYear(1600));
}

TEST(Calendar, EncodeMatchesTheDateValueScale) {
  TDateTime d = -1;
  ASSERT_TRUE(TryEncodeDate(1899, 12, 30, d));
  EXPECT_EQ(d, 0.0);
  ASSERT_TRUE(TryEncodeDate(1900, 1, 1, d));
  EXPECT_EQ(d, 2.0);
  ASSERT_TRUE(TryEncodeDate(1970, 1, 1, d));
  EXPECT_EQ(d, 25569.0);
  ASSERT_TRUE(TryEncodeDate(1980, 1, 1, d));
  EXPECT_EQ(d, 29221.0);
  ASSERT_TRUE(TryEncodeDate(9999, 12, 31, d));
  EXPECT_EQ(d, 2958465.0);
  ASSERT_TRUE(TryEncodeDate(1, 1, 1, d));
  EXPECT_EQ(d, -693593.0);
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, d));
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29, d));
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, d));
  EXPECT_FALSE(TryEncodeDate(2023, 0, 1, d));
  EXPECT_FALSE(TryEncodeDate(2023, 13, 1, d));
  EXPECT_FALSE(TryEncodeDate(2023, 4, 31, d));
  EXPECT_FALSE(TryEncodeDate(2023, 4, 0, d));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, d));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, d));
  TDateTime t = -1;
  ASSERT_TRUE(TryEncodeTime(12, 0, 0, 0, t));
  EXPECT_EQ(t, 0.5);
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, t));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, t));
  EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, t));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, t));
  EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, t));
}

TEST(Calendar, DecodeRoundTripsEveryDayFrom1900) {
  TDateTime start = 0;
  ASSERT_TRUE(TryEncodeDate(1900, 1, 1, start));
  int year = 1900, month = 1, day = 1;
  for (int n = 0; n < 80000; ++n) {  // to about 2119
    int y = 0, m = 0, d = 0;
    DecodeDate(start + n + 0.75, y, m, d);
    ASSERT_EQ(y * 10000 + m * 100 + d, year * 10000 + month * 100 + day) << n;
    const int length = month == 2
                           ? (IsLeapYear(year) ? 29 : 28)
                           : (month == 4 || month == 6 || month == 9 || month == 11 ? 30 : 31);
    if (++day > length) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
  }
}

TEST(Calendar, TimeOfDayAndWeekday) {
  EXPECT_EQ(Text(Encode(2023, 6, 12, 13, 32, 0)), "2023-06-12 13:32:00");
  EXPECT_EQ(Text(Encode(2023, 6, 12, 23, 59, 59)), "2023-06-12 23:59:59");
  int h = 0, m = 0, s = 0, ms = 0;
  DecodeTime(0.5 + 1.0 / 86400000.0 * 499.6, h, m, s, ms);  // rounds to the millisecond
  EXPECT_EQ(h * 10000000 + m * 100000 + s * 1000 + ms, 120000500);
  DecodeTime(1.0 - 1e-12, h, m, s, ms);  // rounding carries into the next day, never hour 24
  EXPECT_EQ(h, 0);
  EXPECT_EQ(Text(Encode(2023, 6, 12) - 1e-12), "2023-06-12 00:00:00");
  EXPECT_EQ(DayOfWeek(0.0), 6);                          // 1899-12-30 was a Saturday
  EXPECT_EQ(DayOfWeek(Encode(2023, 6, 12, 23, 59)), 1);  // a Monday
  EXPECT_EQ(DayOfWeek(Encode(2000, 1, 1)), 6);
  EXPECT_EQ(DayOfWeek(Encode(2024, 3, 31)), 0);
  // Before 1899-12-30 the fraction, taken as positive, is still the time of day.
  EXPECT_EQ(Text(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(DayOfWeek(-1.25), 5);
}

TEST(Calendar, NextMonthCutsToMonthLength) {
  EXPECT_EQ(Text(NextMonth(Encode(2023, 1, 31, 8, 15, 30))), "2023-02-28 08:15:30");
  EXPECT_EQ(Text(NextMonth(Encode(2024, 1, 31))), "2024-02-29 00:00:00");
  EXPECT_EQ(Text(NextMonth(Encode(1900, 1, 31))), "1900-02-28 00:00:00");
  EXPECT_EQ(Text(NextMonth(Encode(2000, 1, 30))), "2000-02-29 00:00:00");
  EXPECT_EQ(Text(NextMonth(Encode(2023, 12, 15, 10, 30))), "2024-01-15 10:30:00");
  EXPECT_EQ(Text(NextMonth(Encode(2023, 3, 31, 23, 59, 59))), "2023-04-30 23:59:59");
  EXPECT_EQ(Text(NextMonth(Encode(2023, 2, 28))), "2023-03-28 00:00:00");
  EXPECT_EQ(NextMonth(Encode(9999, 12, 31)), Encode(9999, 12, 31));  // nothing follows
}

// ---- packed DOS date-times ----------------------------------------------------------------------

TEST(DosDate, Examples) {
  EXPECT_EQ(Text(DosToDateTime(0x56CC6C00)), "2023-06-12 13:32:00");
  EXPECT_EQ(DosToDateTime(0x56CC6C00), Encode(2023, 6, 12, 13, 32, 0));
  EXPECT_EQ(Text(DosToDateTime(0)), "1980-01-01 00:01:00");
  EXPECT_EQ(DosToDateTime(0), kInvalidDosDate);
  EXPECT_NEAR(kInvalidDosDate, 29221.000694, 1e-6);
  // Seconds are stored halved: 29 is 58 seconds.
  EXPECT_EQ(Text(DosToDateTime(0x56CC6C1D)), "2023-06-12 13:32:58");
  EXPECT_EQ(Text(DosToDateTime(0xFF9FBF7D)), "2107-12-31 23:59:58");  // the largest date
  EXPECT_EQ(Text(DosToDateTime(0x00210000)), "1980-01-01 00:00:00");
}

TEST(DosDate, ValuesNamingNoDateGiveTheFixedDate) {
  const uint32_t goodTime = 0x6C00;
  const auto packed = [&](int y, int m, int d, uint32_t time) {
    return (static_cast<uint32_t>(y - 1980) << 25) | (static_cast<uint32_t>(m) << 21) |
           (static_cast<uint32_t>(d) << 16) | time;
  };
  EXPECT_EQ(DosToDateTime(packed(2023, 0, 12, goodTime)), kInvalidDosDate);   // month 0
  EXPECT_EQ(DosToDateTime(packed(2023, 13, 12, goodTime)), kInvalidDosDate);  // month 13
  EXPECT_EQ(DosToDateTime(packed(2023, 2, 29, goodTime)), kInvalidDosDate);   // not a leap year
  EXPECT_NE(DosToDateTime(packed(2024, 2, 29, goodTime)), kInvalidDosDate);
  EXPECT_EQ(DosToDateTime(packed(2023, 6, 0, goodTime)), kInvalidDosDate);    // day 0
  EXPECT_EQ(DosToDateTime(packed(2023, 6, 12, 24u << 11)), kInvalidDosDate);  // hour 24
  EXPECT_EQ(DosToDateTime(packed(2023, 6, 12, 60u << 5)), kInvalidDosDate);   // minute 60
  EXPECT_EQ(DosToDateTime(packed(2023, 6, 12, 30u)), kInvalidDosDate);        // second 60
  // Only the date's zero makes the fixed value: a zero date with a time is invalid too.
  EXPECT_EQ(DosToDateTime(0x00006C00), kInvalidDosDate);
}

// ---- Unix seconds -------------------------------------------------------------------------------

using UnixTime = ZoneTest;

TEST_F(UnixTime, ExamplesInUtc) {
  EXPECT_EQ(Text(UnixToDateTime(1)), "1970-01-01 00:00:01");
  EXPECT_EQ(Text(UnixToDateTime(86399)), "1970-01-01 23:59:59");
  EXPECT_EQ(Text(UnixToDateTime(86400)), "1970-01-02 00:00:01");
  EXPECT_EQ(Text(UnixToDateTime(951782400)), "2000-02-29 00:00:01");
  EXPECT_EQ(UnixToDateTime(-86399), UnixToDateTime(86399));
  EXPECT_EQ(Text(UnixToDateTime(31536000)), "1971-01-01 00:00:01");  // a year's end
  EXPECT_EQ(Text(UnixToDateTime(1704067199)), "2023-12-31 23:59:59");
  EXPECT_EQ(Text(UnixToDateTime(1704067200)), "2024-01-01 00:00:01");
  EXPECT_EQ(Text(UnixToDateTime(1709251199)), "2024-02-29 23:59:59");
  EXPECT_EQ(Text(UnixToDateTime(1709164800)), "2024-02-29 00:00:01");
  EXPECT_EQ(Text(UnixToDateTime(INT32_MAX)), "2038-01-19 03:14:07");
  EXPECT_EQ(Text(UnixToDateTime(INT32_MIN)), "2038-01-19 03:14:08");  // |t| of the lowest value
  EXPECT_EQ(Text(UnixToDateTime(0)), "1980-01-01 00:01:00");
}

TEST_F(UnixTime, AgreesWithGmtimeExceptAtMidnight) {
  std::mt19937 random(1234);
  for (int round = 0; round < 20000; ++round) {
    const auto t = static_cast<int32_t>(random() & 0x7FFFFFFF);
    if (t == 0) continue;
    const time_t tt = t;
    std::tm tm{};
    ASSERT_NE(gmtime_r(&tt, &tm), nullptr);
    if (t % 86400 == 0) {
      ASSERT_EQ(Parts(UnixToDateTime(t)).second, 1);  // midnight comes out one second late
      continue;
    }
    const TParts p = Parts(UnixToDateTime(t));
    ASSERT_EQ(p.year, tm.tm_year + 1900) << t;
    ASSERT_EQ(p.month, tm.tm_mon + 1) << t;
    ASSERT_EQ(p.day, tm.tm_mday) << t;
    ASSERT_EQ(p.hour * 3600 + p.minute * 60 + p.second,
              tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec)
        << t;
  }
}

TEST_F(UnixTime, ZeroIsNotMovedByTheZone) {
  UseZone(CentralEurope());
  EXPECT_EQ(Text(UnixToDateTime(0)), "1980-01-01 00:01:00");
}

TEST_F(UnixTime, FixedBiasWithoutDaylightTime) {
  UseZone(FixedZone(-60));  // one hour east of UTC
  EXPECT_EQ(Text(UnixToDateTime(3600)), "1970-01-01 02:00:00");
  EXPECT_EQ(Text(UnixToDateTime(1)), "1970-01-01 01:00:01");
  UseZone(FixedZone(330));  // five and a half hours west
  EXPECT_EQ(Text(UnixToDateTime(86399)), "1970-01-01 18:29:59");
  EXPECT_EQ(Text(UnixToDateTime(3600)), "1969-12-31 19:30:00");
  EXPECT_FALSE(IsDaylightTime(Encode(2023, 7, 1)));
}

// ---- daylight saving time -----------------------------------------------------------------------

time_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return timegm(&tm);
}

std::string Local(int year, int month, int day, int hour, int minute, int second) {
  return Text(
      UnixToDateTime(static_cast<int32_t>(UtcSeconds(year, month, day, hour, minute, second))));
}

TEST_F(UnixTime, CentralEuropeAroundBothChanges) {
  UseZone(CentralEurope());
  // Summer time begins 2023-03-26 at 02:00 CET = 01:00 UTC and ends 2023-10-29 at 03:00 CEST =
  // 01:00 UTC.
  EXPECT_EQ(Local(2023, 3, 26, 0, 59, 59), "2023-03-26 01:59:59");
  EXPECT_EQ(Local(2023, 3, 26, 1, 0, 0), "2023-03-26 03:00:00");
  EXPECT_EQ(Local(2023, 10, 29, 0, 59, 59), "2023-10-29 02:59:59");
  EXPECT_EQ(Local(2023, 10, 29, 1, 0, 0), "2023-10-29 02:00:00");
  EXPECT_EQ(Local(2023, 7, 1, 12, 0, 0), "2023-07-01 14:00:00");
  EXPECT_EQ(Local(2023, 1, 15, 12, 0, 0), "2023-01-15 13:00:00");
  EXPECT_FALSE(IsDaylightTime(Encode(2023, 3, 26, 0, 59, 59)));
  EXPECT_TRUE(IsDaylightTime(Encode(2023, 3, 26, 1, 0, 0)));
  EXPECT_TRUE(IsDaylightTime(Encode(2023, 10, 29, 0, 59, 59)));
  EXPECT_FALSE(IsDaylightTime(Encode(2023, 10, 29, 1, 0, 0)));
  // 2024: the last Sunday of March is the 31st (the month's last day).
  EXPECT_EQ(Local(2024, 3, 31, 0, 59, 59), "2024-03-31 01:59:59");
  EXPECT_EQ(Local(2024, 3, 31, 1, 0, 0), "2024-03-31 03:00:00");
}

TEST_F(UnixTime, UsEasternSecondSundayRule) {
  UseZone(UsEastern());
  // 2023-03-12 02:00 EST = 07:00 UTC; 2023-11-05 02:00 EDT = 06:00 UTC.
  EXPECT_EQ(Local(2023, 3, 12, 6, 59, 59), "2023-03-12 01:59:59");
  EXPECT_EQ(Local(2023, 3, 12, 7, 0, 0), "2023-03-12 03:00:00");
  EXPECT_EQ(Local(2023, 11, 5, 5, 59, 59), "2023-11-05 01:59:59");
  EXPECT_EQ(Local(2023, 11, 5, 6, 0, 0), "2023-11-05 01:00:00");
}

TEST_F(UnixTime, SydneySouthernHemisphere) {
  UseZone(Sydney());
  // Daylight time ends 2023-04-02 03:00 AEDT = 2023-04-01 16:00 UTC and begins 2023-10-01 02:00
  // AEST = 2023-09-30 16:00 UTC; it spans the turn of the year.
  EXPECT_EQ(Local(2023, 4, 1, 15, 59, 59), "2023-04-02 02:59:59");
  EXPECT_EQ(Local(2023, 4, 1, 16, 0, 0), "2023-04-02 02:00:00");
  EXPECT_EQ(Local(2023, 9, 30, 15, 59, 59), "2023-10-01 01:59:59");
  EXPECT_EQ(Local(2023, 9, 30, 16, 0, 0), "2023-10-01 03:00:00");
  EXPECT_EQ(Local(2023, 12, 31, 20, 0, 0), "2024-01-01 07:00:00");
  EXPECT_EQ(Local(2023, 7, 1, 0, 0, 5), "2023-07-01 10:00:05");
  EXPECT_TRUE(IsDaylightTime(Encode(2024, 1, 15)));
  EXPECT_FALSE(IsDaylightTime(Encode(2024, 6, 15)));
}

// The C library, under the same POSIX rule, is an independent oracle for whole years.
void CompareWithLocaltime(const char* posixRule, int32_t from, int32_t to) {
  const char* previous = std::getenv("TZ");
  const std::string saved = previous ? previous : "";
  setenv("TZ", posixRule, 1);
  tzset();
  std::mt19937 random(static_cast<uint32_t>(from));
  for (int round = 0; round < 20000; ++round) {
    const auto t = static_cast<int32_t>(
        from + static_cast<int64_t>(random() % static_cast<uint32_t>(to - from)));
    if (t % 86400 == 0) continue;  // midnight UTC comes out one second late
    const time_t tt = t;
    std::tm tm{};
    ASSERT_NE(localtime_r(&tt, &tm), nullptr);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    ASSERT_EQ(Text(UnixToDateTime(t)), expected) << posixRule << " t=" << t;
  }
  if (previous)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST_F(UnixTime, AgreesWithLocaltimeUnderTheSameRules) {
  const auto from = static_cast<int32_t>(UtcSeconds(2020, 1, 1, 0, 0, 0));
  const auto to = static_cast<int32_t>(UtcSeconds(2030, 1, 1, 0, 0, 0));
  UseZone(CentralEurope());
  CompareWithLocaltime("CET-1CEST,M3.5.0,M10.5.0/3", from, to);
  UseZone(UsEastern());
  CompareWithLocaltime("EST5EDT,M3.2.0,M11.1.0", from, to);
  UseZone(Sydney());
  CompareWithLocaltime("AEST-10AEDT,M10.1.0,M4.1.0/3", from, to);
}

TEST_F(UnixTime, AbsoluteTransitionDates) {
  host::TTimeZoneInformation tz = FixedZone(-60);
  tz.DaylightBias = -60;
  tz.DaylightDate = Rule(4, 10, 0, 2, 2023);  // 2023-04-10 02:00 local standard time
  tz.StandardDate = Rule(9, 20, 0, 3, 2023);  // 2023-09-20 03:00 local daylight time
  UseZone(tz);
  EXPECT_FALSE(IsDaylightTime(Encode(2023, 4, 10, 0, 59, 59)));
  EXPECT_TRUE(IsDaylightTime(Encode(2023, 4, 10, 1, 0, 0)));
  EXPECT_TRUE(IsDaylightTime(Encode(2023, 9, 20, 0, 59, 59)));
  EXPECT_FALSE(IsDaylightTime(Encode(2023, 9, 20, 1, 0, 0)));
  EXPECT_FALSE(IsDaylightTime(Encode(2024, 6, 1)));  // the dates belong to 2023 only
}

TEST_F(UnixTime, DamagedZoneRecordsMeanNoDaylightTime) {
  host::TTimeZoneInformation tz = CentralEurope();
  tz.DaylightDate.wDayOfWeek = 9;  // no such weekday: must not loop looking for it
  UseZone(tz);
  EXPECT_FALSE(IsDaylightTime(Encode(2023, 7, 1)));
  tz = CentralEurope();
  tz.StandardDate.wMonth = 13;
  UseZone(tz);
  EXPECT_FALSE(IsDaylightTime(Encode(2023, 7, 1)));
  tz = CentralEurope();
  tz.StandardDate.wDay = 0;  // not a weekday rule: the first of October, midnight
  UseZone(tz);
  EXPECT_TRUE(IsDaylightTime(Encode(2023, 9, 30, 21, 59, 59)));
  EXPECT_FALSE(IsDaylightTime(Encode(2023, 9, 30, 22, 0, 0)));  // 00:00 CEST = 22:00 UTC
}

}  // namespace
