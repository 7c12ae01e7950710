// Test seams of the host layer: explicit objects that a test installs for a scope to inject
// failures, fake drives, a fixed time zone and a launcher that records instead of launching.
// Production code never installs one; with none installed every service works on the real host.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/host.h"

namespace host {

// A drive letter that a test makes up (usually A:, B: or D: .. Y:; a fake C: or Z: hides the real
// one). Its files live in HostFolder (a real folder, e.g. a temporary one); changing Label, Serial,
// Ready, WriteProtected or HostFolder between calls "swaps disks". Host paths below HostFolder map
// back to the letter (FromHostPath, GetCurrentDir).
struct TFakeDrive {
  char Letter = 'A';
  TDriveType Type = dtRemovable;
  bool Ready = true;            // false: no disk in the drive (kErrorNotReady)
  bool WriteProtected = false;  // writes and creations fail with kErrorWriteProtect
  std::string Label;
  uint32_t Serial = 0;
  std::string FileSystemName = "FAT";
  uint32_t FileSystemFlags = 0;
  uint64_t FreeBytes = 1440 * 1024;
  uint64_t TotalBytes = 1440 * 1024;
  std::string HostFolder;  // where the "disk" in the drive keeps its files
};

struct TSeams {
  // Open and create of a matching host path fail (kErrorAccessDenied, or OpenError when set).
  std::function<bool(const std::string& hostPath)> FailOpen;
  uint32_t OpenError = kErrorAccessDenied;
  // After this many bytes have been written in total (through FileWrite), writes come out short
  // without an error code (-1: never).
  int64_t ShortWriteAfter = -1;
  // After this many bytes have been written in total, writes fail with kErrorDiskFull (-1: never).
  int64_t DiskFullAfter = -1;
  // Counted by FileWrite while the seams are installed (by every thread that writes).
  std::atomic<int64_t> BytesWritten{0};
  // Fake drives: looked up by letter before the real ones.
  std::vector<TFakeDrive> Drives;
  // A fixed time-zone record instead of the host's.
  std::optional<TTimeZoneInformation> TimeZone;
  // When set, ShellOpen records its target here instead of launching anything.
  bool RecordLaunches = false;
  std::vector<std::string> Launched;
  // Answers of AskRetryCancel, taken from the front; Cancel when empty. Questions are recorded.
  std::vector<TAnswer> Answers;
  std::vector<std::string> Questions;

  // Mounted-volume discovery: the mount table's text instead of /proc/self/mounts, the folder
  // standing for /sys (its block/<disk>/removable flags), the user whose /media folders count.
  std::optional<std::string> MountTable;
  std::string SysRoot;
  std::string UserName;

  TFakeDrive* FindDrive(char letter);
};

// Installs the seams for the lifetime of this object (they are referenced, not copied, so a test
// may change them while installed). Scopes nest; the innermost wins.
class ScopedSeams {
 public:
  explicit ScopedSeams(TSeams& seams);
  ~ScopedSeams();
  ScopedSeams(const ScopedSeams&) = delete;
  ScopedSeams& operator=(const ScopedSeams&) = delete;

 private:
  TSeams* FPrevious;
};

TSeams* CurrentSeams();  // nullptr when none installed

}  // namespace host
