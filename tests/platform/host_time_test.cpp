// Tests of text and time: code page 437 against the C library's converter, POSIX zone rules in the
// Windows record form, the zone taken from TZ, and file times round-tripping through local time
// across daylight-saving changes, checked against the C library's own reading of the same rules.
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "platform/host.h"
#include "platform/host_internal.h"
#include "platform/seams.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::ScopedEnv;
using parcelo::test::TempDir;

constexpr char kCentralEurope[] = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr char kUsEastern[] = "EST5EDT,M3.2.0,M11.1.0";
constexpr char kSydney[] = "AEST-10AEDT,M10.1.0,M4.1.0/3";

// ---- code page 437 ----

TEST(HostOemText, SpotChecks) {
  EXPECT_EQ(host::OemToAnsi("caf\x82"), "caf\xC3\xA9");  // é
  EXPECT_EQ(host::OemToAnsi("Stra\xE1"
                            "e"),
            "Stra\xC3\x9F"
            "e");                                                                      // ß
  EXPECT_EQ(host::OemToAnsi("\x8E\x99\x9A"), "\xC3\x84\xC3\x96\xC3\x9C");              // ÄÖÜ
  EXPECT_EQ(host::OemToAnsi("\xC9\xCD\xBB"), "\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97");  // ╔═╗
  EXPECT_EQ(host::OemToAnsi("plain ASCII \x01\x7F"), "plain ASCII \x01\x7F");
  EXPECT_EQ(host::OemToAnsi(""), "");
}

TEST(HostOemText, WholeUpperHalfMatchesTheCLibrary) {
  iconv_t converter = ::iconv_open("UTF-8", "IBM437");
  if (converter == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no IBM437 converter";
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    char in = static_cast<char>(byte);
    char out[8] = {};
    char* inPtr = &in;
    char* outPtr = out;
    size_t inLeft = 1, outLeft = sizeof out;
    ASSERT_NE(::iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft), static_cast<size_t>(-1));
    EXPECT_EQ(host::OemToAnsi(std::string(1, in)), std::string(out, sizeof out - outLeft))
        << "byte 0x" << std::hex << byte;
  }
  ::iconv_close(converter);
}

// ---- POSIX rules ----

void ExpectRelative(const host::TSystemTime& st, int month, int week, int weekday, int hour,
                    int minute = 0) {
  EXPECT_EQ(st.wYear, 0);
  EXPECT_EQ(st.wMonth, month);
  EXPECT_EQ(st.wDay, week);
  EXPECT_EQ(st.wDayOfWeek, weekday);
  EXPECT_EQ(st.wHour, hour);
  EXPECT_EQ(st.wMinute, minute);
}

TEST(HostPosixRules, CentralEurope) {
  host::TTimeZoneInformation tz;
  ASSERT_TRUE(host::TimeZoneFromPosixRule(kCentralEurope, tz));
  EXPECT_EQ(tz.Bias, -60);
  EXPECT_EQ(tz.StandardBias, 0);
  EXPECT_EQ(tz.DaylightBias, -60);
  ExpectRelative(tz.DaylightDate, 3, 5, 0, 2);   // last Sunday of March, 02:00 standard time
  ExpectRelative(tz.StandardDate, 10, 5, 0, 3);  // last Sunday of October, 03:00 daylight time
}

TEST(HostPosixRules, UsEasternAndSydney) {
  host::TTimeZoneInformation tz;
  ASSERT_TRUE(host::TimeZoneFromPosixRule(kUsEastern, tz));
  EXPECT_EQ(tz.Bias, 300);
  EXPECT_EQ(tz.DaylightBias, -60);
  ExpectRelative(tz.DaylightDate, 3, 2, 0, 2);
  ExpectRelative(tz.StandardDate, 11, 1, 0, 2);

  ASSERT_TRUE(host::TimeZoneFromPosixRule(kSydney, tz));
  EXPECT_EQ(tz.Bias, -600);
  EXPECT_EQ(tz.DaylightBias, -60);
  ExpectRelative(tz.DaylightDate, 10, 1, 0, 2);  // southern: daylight starts late in the year
  ExpectRelative(tz.StandardDate, 4, 1, 0, 3);
}

TEST(HostPosixRules, ZonesWithoutDaylightTime) {
  host::TTimeZoneInformation tz;
  ASSERT_TRUE(host::TimeZoneFromPosixRule("UTC0", tz));
  EXPECT_EQ(tz.Bias, 0);
  EXPECT_EQ(tz.DaylightDate.wMonth, 0);
  ASSERT_TRUE(host::TimeZoneFromPosixRule("<+0530>-5:30", tz));
  EXPECT_EQ(tz.Bias, -330);
  EXPECT_EQ(tz.DaylightDate.wMonth, 0);
  ASSERT_TRUE(host::TimeZoneFromPosixRule("HST10", tz));
  EXPECT_EQ(tz.Bias, 600);
  // Daylight time all year round is a zone that never changes.
  ASSERT_TRUE(host::TimeZoneFromPosixRule("EST5EDT4,0/0,J365/25", tz));
  EXPECT_EQ(tz.Bias, 240);
  EXPECT_EQ(tz.DaylightDate.wMonth, 0);
}

TEST(HostPosixRules, LessCommonForms) {
  host::TTimeZoneInformation tz;
  // Default daylight offset (one hour) and default rules.
  ASSERT_TRUE(host::TimeZoneFromPosixRule("EST5EDT", tz));
  EXPECT_EQ(tz.DaylightBias, -60);
  ExpectRelative(tz.DaylightDate, 3, 2, 0, 2);
  // Explicit daylight offset with minutes, and a time of day with minutes.
  ASSERT_TRUE(host::TimeZoneFromPosixRule("<+1030>-10:30<+11>-11,M10.1.0,M4.1.0/2:30", tz));
  EXPECT_EQ(tz.Bias, -630);
  EXPECT_EQ(tz.DaylightBias, -30);
  ExpectRelative(tz.StandardDate, 4, 1, 0, 2, 30);
  // Hours beyond the day move the weekday: Thursday 26:00 is Friday 02:00 (Israel).
  ASSERT_TRUE(host::TimeZoneFromPosixRule("IST-2IDT,M3.4.4/26,M10.5.0", tz));
  ExpectRelative(tz.DaylightDate, 3, 4, 5, 2);
  // Negative hours: Sunday -2:00 is Saturday 22:00 (Greenland).
  ASSERT_TRUE(host::TimeZoneFromPosixRule("<-02>2<-01>,M3.5.0/-1,M10.5.0/0", tz));
  EXPECT_EQ(tz.Bias, 120);
  ExpectRelative(tz.DaylightDate, 3, 5, 6, 23);
  // Julian days become the weekday and week of that date this year.
  ASSERT_TRUE(host::TimeZoneFromPosixRule("XXX3YYY,J60/1,J305", tz));
  EXPECT_EQ(tz.DaylightDate.wMonth, 3);  // J60 is March 1st
  EXPECT_EQ(tz.DaylightDate.wDay, 1);
  EXPECT_EQ(tz.DaylightDate.wHour, 1);
  EXPECT_EQ(tz.StandardDate.wMonth, 11);  // J305 is November 1st
  EXPECT_EQ(tz.StandardDate.wHour, 2);
}

TEST(HostPosixRules, UnreadableRulesFail) {
  host::TTimeZoneInformation tz;
  for (const char* rule :
       {"", "C", "CET", "CET-1CEST,M3.5.0", "CET-1CEST,M13.5.0,M10.5.0", "CET-1CEST,M3.6.0,M10.5.0",
        "CET-1CEST,M3.5.7,M10.5.0", "CET-25", "CET-1CEST,M3.5.0,M10.5.0/3x", "<CET-1",
        "CET-1CEST,J0,J10", "CET-1CEST,M3.5.0/168,M10.5.0"}) {
    EXPECT_FALSE(host::TimeZoneFromPosixRule(rule, tz)) << rule;
  }
}

// ---- the host's zone ----

bool SameRecord(const host::TTimeZoneInformation& a, const host::TTimeZoneInformation& b) {
  auto same = [](const host::TSystemTime& x, const host::TSystemTime& y) {
    return x.wYear == y.wYear && x.wMonth == y.wMonth && x.wDay == y.wDay &&
           x.wDayOfWeek == y.wDayOfWeek && x.wHour == y.wHour && x.wMinute == y.wMinute;
  };
  return a.Bias == b.Bias && a.StandardBias == b.StandardBias && a.DaylightBias == b.DaylightBias &&
         same(a.StandardDate, b.StandardDate) && same(a.DaylightDate, b.DaylightDate);
}

TEST(HostTimeZone, FromTheTzVariable) {
  host::TTimeZoneInformation expected;
  ASSERT_TRUE(host::TimeZoneFromPosixRule(kCentralEurope, expected));
  {
    ScopedEnv tz("TZ", std::string(kCentralEurope));
    EXPECT_TRUE(SameRecord(host::GetTimeZoneInformation(), expected));
  }
  {
    ScopedEnv tz("TZ", std::string(""));
    EXPECT_EQ(host::GetTimeZoneInformation().Bias, 0);
  }
  {
    ScopedEnv tz("TZ", std::string("no zone at all!"));
    EXPECT_EQ(host::GetTimeZoneInformation().Bias, 0);
    EXPECT_EQ(host::GetTimeZoneInformation().DaylightDate.wMonth, 0);
  }
  {
    ScopedEnv tz("TZ", std::string("../../../etc/passwd"));
    EXPECT_EQ(host::GetTimeZoneInformation().Bias, 0);
  }
}

TEST(HostTimeZone, FromZoneFiles) {
  struct stat st {};
  if (::stat("/usr/share/zoneinfo/Europe/Berlin", &st) != 0) GTEST_SKIP() << "no zone files";
  host::TTimeZoneInformation cet, sydney;
  ASSERT_TRUE(host::TimeZoneFromPosixRule(kCentralEurope, cet));
  ASSERT_TRUE(host::TimeZoneFromPosixRule(kSydney, sydney));
  {
    ScopedEnv tz("TZ", std::string("Europe/Berlin"));
    EXPECT_TRUE(SameRecord(host::GetTimeZoneInformation(), cet));
  }
  {
    ScopedEnv tz("TZ", std::string(":Australia/Sydney"));
    EXPECT_TRUE(SameRecord(host::GetTimeZoneInformation(), sydney));
  }
  {
    ScopedEnv tz("TZ", std::string("/usr/share/zoneinfo/Europe/Berlin"));
    EXPECT_TRUE(SameRecord(host::GetTimeZoneInformation(), cet));
  }
}

TEST(HostTimeZone, HostZoneIsSaneAndSeamsWin) {
  {
    ScopedEnv tz("TZ", std::nullopt);  // /etc/localtime, whatever it says
    const auto local = host::GetTimeZoneInformation();
    EXPECT_GE(local.Bias, -14 * 60);
    EXPECT_LE(local.Bias, 12 * 60);
  }
  host::TSeams seams;
  seams.TimeZone = host::TTimeZoneInformation{};
  seams.TimeZone->Bias = 123;
  host::ScopedSeams scope(seams);
  EXPECT_EQ(host::GetTimeZoneInformation().Bias, 123);
}

// ---- local time, file dates ----

uint32_t Dos(int year, int month, int day, int hour, int minute, int second) {
  return (static_cast<uint32_t>(year - 1980) << 25) | (static_cast<uint32_t>(month) << 21) |
         (static_cast<uint32_t>(day) << 16) | (static_cast<uint32_t>(hour) << 11) |
         (static_cast<uint32_t>(minute) << 5) | static_cast<uint32_t>(second / 2);
}

int64_t UtcSeconds(int year, int month, int day, int hour, int minute) {
  return host::detail::DaysFromCivil(year, static_cast<unsigned>(month),
                                     static_cast<unsigned>(day)) *
             86400 +
         hour * 3600 + minute * 60;
}

int64_t MTime(const std::string& hostPath) {
  struct stat st {};
  EXPECT_EQ(::stat(hostPath.c_str(), &st), 0);
  return static_cast<int64_t>(st.st_mtime);
}

// Local times in central Europe and the UTC they stand for, on both sides of the 2023 changes
// (March 26 02:00 -> 03:00, October 29 03:00 -> 02:00).
struct TCase {
  uint32_t Local;
  int64_t Utc;
};
const TCase kEuropeCases[] = {
    {Dos(2023, 1, 15, 12, 0, 0), UtcSeconds(2023, 1, 15, 11, 0)},
    {Dos(2023, 3, 26, 1, 58, 0), UtcSeconds(2023, 3, 26, 0, 58)},
    {Dos(2023, 3, 26, 3, 0, 0), UtcSeconds(2023, 3, 26, 1, 0)},
    {Dos(2023, 7, 1, 12, 0, 0), UtcSeconds(2023, 7, 1, 10, 0)},
    {Dos(2023, 10, 29, 1, 59, 58), UtcSeconds(2023, 10, 28, 23, 59) + 58},
    {Dos(2023, 10, 29, 3, 0, 0), UtcSeconds(2023, 10, 29, 2, 0)},
    {Dos(2023, 12, 31, 23, 59, 58), UtcSeconds(2023, 12, 31, 22, 59) + 58},
    {Dos(1980, 1, 1, 0, 0, 0), UtcSeconds(1979, 12, 31, 23, 0)},
};

void CheckFileDates(const TempDir& dir) {
  for (const auto& c : kEuropeCases) {
    ASSERT_TRUE(host::SetFileDate(dir.System("f"), c.Local));
    EXPECT_EQ(MTime(dir.Host("f")), c.Utc) << std::hex << c.Local;
    EXPECT_EQ(host::GetFileDate(dir.System("f")), c.Local) << std::hex << c.Local;
  }
  // Through a handle, too.
  const host::THandle handle = host::FileOpen(dir.System("f"), host::fmOpenReadWrite);
  ASSERT_GE(handle, 0);
  EXPECT_TRUE(host::SetFileDate(handle, kEuropeCases[3].Local));
  host::FileClose(handle);
  EXPECT_EQ(MTime(dir.Host("f")), kEuropeCases[3].Utc);
}

TEST(HostFileDates, RoundTripWithAFixedZoneRecord) {
  TempDir dir;
  dir.WriteFile("f", "x");
  host::TSeams seams;
  seams.TimeZone.emplace();
  ASSERT_TRUE(host::TimeZoneFromPosixRule(kCentralEurope, *seams.TimeZone));
  host::ScopedSeams scope(seams);
  CheckFileDates(dir);
}

TEST(HostFileDates, RoundTripWithTheHostZone) {
  TempDir dir;
  dir.WriteFile("f", "x");
  ScopedEnv tz("TZ", std::string(kCentralEurope));
  CheckFileDates(dir);
}

TEST(HostFileDates, RepeatedHourAndOddValues) {
  TempDir dir;
  dir.WriteFile("f", "x");
  host::TSeams seams;
  seams.TimeZone.emplace();
  ASSERT_TRUE(host::TimeZoneFromPosixRule(kCentralEurope, *seams.TimeZone));
  host::ScopedSeams scope(seams);
  // 02:30 on October 29 happens twice; its first (daylight) occurrence is taken, and read back.
  ASSERT_TRUE(host::SetFileDate(dir.System("f"), Dos(2023, 10, 29, 2, 30, 0)));
  EXPECT_EQ(MTime(dir.Host("f")), UtcSeconds(2023, 10, 29, 0, 30));
  EXPECT_EQ(host::GetFileDate(dir.System("f")), Dos(2023, 10, 29, 2, 30, 0));

  EXPECT_FALSE(host::SetFileDate(dir.System("f"), 0));  // month 0
  EXPECT_EQ(host::LastError(), host::kErrorInvalidParameter);
  EXPECT_FALSE(host::SetFileDate(dir.System("f"), Dos(2023, 2, 30, 0, 0, 0)));
  EXPECT_FALSE(host::SetFileDate(dir.System("f"), Dos(2023, 2, 1, 24, 0, 0)));
  EXPECT_FALSE(host::SetFileDate(dir.System("missing"), Dos(2023, 2, 1, 0, 0, 0)));
  EXPECT_EQ(host::LastError(), host::kErrorFileNotFound);

  // Before 1980 there is no DOS date.
  timespec times[2] = {{0, UTIME_OMIT}, {86400 * 365, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, dir.Host("f").c_str(), times, 0), 0);
  EXPECT_EQ(host::GetFileDate(dir.System("f")), 0u);
  EXPECT_EQ(host::GetFileDate(dir.System("missing")), 0u);
}

// The record's reading of a zone must agree with the C library's reading of the same rule, for
// every moment of a year on both hemispheres (every 17 minutes, so every hour and weekday comes
// up).
TEST(HostFileDates, RecordConversionsAgreeWithTheCLibrary) {
  for (const char* rule : {kCentralEurope, kUsEastern, kSydney}) {
    host::TTimeZoneInformation tz;
    ASSERT_TRUE(host::TimeZoneFromPosixRule(rule, tz));
    ScopedEnv env("TZ", std::string(rule));
    int failures = 0;
    for (int64_t utc = UtcSeconds(2024, 1, 1, 0, 0);
         utc < UtcSeconds(2025, 1, 1, 0, 0) && failures < 5; utc += 17 * 60) {
      const time_t t = static_cast<time_t>(utc);
      tm expected{};
      ASSERT_NE(::localtime_r(&t, &expected), nullptr);
      const auto local = host::detail::UtcToLocalWithRecord(tz, utc);
      const bool same = local.Year == expected.tm_year + 1900 &&
                        local.Month == static_cast<unsigned>(expected.tm_mon + 1) &&
                        local.Day == static_cast<unsigned>(expected.tm_mday) &&
                        local.Hour == static_cast<unsigned>(expected.tm_hour) &&
                        local.Minute == static_cast<unsigned>(expected.tm_min);
      EXPECT_TRUE(same) << rule << " at " << utc;
      // Back again: exact, except for a wall-clock time that occurs twice, where the daylight
      // reading is taken.
      const int64_t back = host::detail::LocalToUtcWithRecord(tz, local);
      if (back != utc) {
        EXPECT_EQ(back + 3600, utc) << rule << " at " << utc;
        EXPECT_EQ(expected.tm_isdst, 0) << rule << " at " << utc;
      }
      failures += same ? 0 : 1;
    }
  }
}

TEST(HostTicks, MoveForward) {
  const uint32_t first = host::GetTickCount();
  timespec pause{0, 20 * 1000 * 1000};
  ::nanosleep(&pause, nullptr);
  const uint32_t elapsed = host::GetTickCount() - first;  // wraps like the original
  EXPECT_GE(elapsed, 15u);
  EXPECT_LT(elapsed, 60u * 1000u);
}

}  // namespace
