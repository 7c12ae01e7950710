// Helpers shared by the host layer's own source files: path resolution with drive checks, errno to
// Windows error codes, and the local-time conversions. Not part of the contract; nothing outside
// platform/ includes it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/host.h"
#include "platform/host_ascii.h"
#include "platform/seams.h"

namespace host::detail {

// What an operation is about to do with a path, for the checks of the drive it lies on.
enum class TAccess { Read, Write };

// Maps a system path to a host path and checks its drive: a drive without a disk fails with
// kErrorNotReady, a write on a write-protected fake drive with kErrorWriteProtect, an unknown drive
// with kErrorPathNotFound, a UNC name with kErrorBadNetPath. Sets LastError() on failure.
bool Resolve(const std::string& systemPath, TAccess access, std::string& hostPath);

// The fake drive with this letter when seams are installed and define one, else nullptr.
TFakeDrive* FakeDrive(char letter);

// Whether a mounted volume has this drive letter (D: .. Y:); then its host folder and readiness.
bool MountedVolumeRoot(char letter, std::string& root, bool& ready);

// Windows error code for an errno value; ENOENT becomes kErrorPathNotFound when the parent
// directory of hostPath (when given) is missing, as Windows tells the two apart.
uint32_t ErrorFromErrno(int err, const std::string& hostPath = std::string());
// SetLastError(ErrorFromErrno(errno, hostPath)); returns false for convenience.
bool FailFromErrno(const std::string& hostPath = std::string());
// A descriptor just opened with O_NONBLOCK (so that a FIFO or a device standing where a file was
// expected cannot hang the open): kept and made blocking when it is a regular file; otherwise
// closed, with "access denied" as the last error.
int KeepIfRegular(int fd);
inline bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

// Lexical normalisation of the part of a system path below its root: "." dropped, ".." removes
// the previous component and stops at the root, empty components dropped. Components are joined
// with `separator`; a trailing separator of the input is kept.
std::string NormaliseBelowRoot(const std::string& rest, char separator);

// Creates (or truncates) the file `name` relative to the folder descriptor `dirFd` (AT_FDCWD:
// the current directory) without writing through whatever stands in its place: a link, a file
// with other names, a pipe or a device is removed first. `hostPath` names it in failures.
THandle CreateReplacingAt(int dirFd, const std::string& name, const std::string& hostPath);
// Whether the test seams make opening or creating this host path fail (LastError() set).
bool SeamsFailOpen(const std::string& hostPath);

// The POSIX rule footer of the bytes of a TZif zone file (version 2 and later); false when the
// file is not one or has no rule.
bool TzifFooter(const std::string& data, std::string& footer);

// ---- calendar and local time ----
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);  // days since 1970-01-01
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day);
unsigned DaysInMonth(int64_t year, unsigned month);
// Weekday of a day count since 1970-01-01 (0 = Sunday).
unsigned WeekdayFromDays(int64_t days);

struct TLocalTime {
  int64_t Year = 0;
  unsigned Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};
// Local wall-clock time -> seconds since 1970 UTC, with the host's zone rules or, when a test has
// installed one, the fixed time-zone record. False for a date outside the calendar.
bool LocalToUtc(const TLocalTime& local, int64_t& utc);
// Seconds since 1970 UTC -> local wall-clock time, the same way.
bool UtcToLocal(int64_t utc, TLocalTime& local);
// The same two conversions with an explicit Windows time-zone record.
int64_t LocalToUtcWithRecord(const TTimeZoneInformation& tz, const TLocalTime& local);
TLocalTime UtcToLocalWithRecord(const TTimeZoneInformation& tz, int64_t utc);

// Packed DOS date-time <-> local time. Dos -> local is false for fields out of range.
bool DosToLocal(uint32_t dos, TLocalTime& local);
uint32_t LocalToDos(const TLocalTime& local);  // 0 outside 1980..2107
// Last-write time in seconds since 1970 UTC -> local DOS date-time (0 when not representable).
uint32_t DosFromUnixTime(int64_t seconds);

}  // namespace host::detail
