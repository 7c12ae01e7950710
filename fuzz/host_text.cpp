// Fuzz harness for the host layer's text parsers: the first byte picks POSIX zone rules, TZif zone
// files, code page 437 text or system paths; the rest is the input. Zone records must convert
// local time and back consistently, paths must never leave their drive. No file is written.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/host.h"
#include "platform/host_internal.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void ExerciseZone(const host::TTimeZoneInformation& tz) {
  const int64_t jump = (static_cast<int64_t>(tz.DaylightBias) - tz.StandardBias) * 60;
  // A day in each month of a leap year and of a common one, at two times of day.
  for (int64_t day = 19358; day < 19358 + 2 * 366; day += 29) {
    for (int64_t second : {int64_t{3600}, int64_t{81000}}) {
      const int64_t utc = day * 86400 + second;
      const auto local = host::detail::UtcToLocalWithRecord(tz, utc);
      const int64_t back = host::detail::LocalToUtcWithRecord(tz, local);
      Check(back == utc || back - utc == jump || utc - back == jump);
    }
  }
}

void ExercisePath(const std::string& path) {
  std::string hostPath;
  if (path.size() >= 3 && (path[0] == 'C' || path[0] == 'c') && path[1] == ':' &&
      (path[2] == '\\' || path[2] == '/') && host::ToHostPath(path, hostPath)) {
    const std::string home = host::HomeDirectory();
    Check(home == "/" || hostPath.compare(0, home.size(), home) == 0);
  }
  const std::string full = host::ExpandFileName(path);
  if (full.size() >= 3 && full[1] == ':') Check(host::ExpandFileName(full) == full);
  (void)host::DriveOfPath(path);
  (void)host::FromHostPath(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  host::TTimeZoneInformation tz;
  switch (data[0] % 4) {
    case 0:
      if (host::TimeZoneFromPosixRule(input, tz)) ExerciseZone(tz);
      break;
    case 1: {
      std::string footer;
      if (host::detail::TzifFooter(input, footer) && host::TimeZoneFromPosixRule(footer, tz)) {
        ExerciseZone(tz);
      }
      break;
    }
    case 2: {
      const std::string text = host::OemToAnsi(input);
      Check(text.size() >= input.size() && text.size() <= input.size() * 3);
      break;
    }
    default: ExercisePath(input); break;
  }
  return 0;
}
