// Drives: their types, readiness, volume information, free space and the list of present letters.
// C: (the home directory) and Z: (the file-system root) are fixed disks; other letters exist only
// as fake drives installed by tests. Removable volumes of the host are not looked for.
#include <stdlib.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>

#include <fstream>
#include <sstream>

#include "platform/host.h"
#include "platform/host_internal.h"
#include "platform/seams.h"

namespace host {

namespace {

// Volume flags in the Windows numbering.
constexpr uint32_t kFileCaseSensitiveSearch = 0x00000001;
constexpr uint32_t kFileCasePreservedNames = 0x00000002;
constexpr uint32_t kFileUnicodeOnDisk = 0x00000004;
constexpr uint32_t kFileReadOnlyVolume = 0x00080000;

// The drive a root names: "C:\" -> 'C'; "" -> the current directory's; UNC -> 0.
char DriveOfRoot(const std::string& root) {
  return DriveOfPath(root.empty() ? "." : root);
}

bool IsRealDrive(char letter) {
  return letter == 'C' || letter == 'Z';
}

std::string RealDriveHostRoot(char letter) {
  return letter == 'C' ? HomeDirectory() : "/";
}

// "\040" and friends in /proc/mounts stand for the bytes they encode.
std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    const auto octal = [&](size_t at, char high) { return field[at] >= '0' && field[at] <= high; };
    if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1, '3') && octal(i + 2, '7') &&
        octal(i + 3, '7')) {
      out.push_back(static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                      (field[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

// The file-system type of the mount holding `hostPath` ("ext4", "tmpfs", ...), from the mount
// table; the statfs magic number names a few common ones when the table cannot be read.
std::string FileSystemName(const std::string& hostPath) {
  char* resolved = ::realpath(hostPath.c_str(), nullptr);
  const std::string path = resolved ? resolved : hostPath;
  ::free(resolved);
  std::ifstream mounts("/proc/self/mounts");
  std::string line, best;
  size_t bestLength = 0;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string device, mountPoint, type;
    if (!(fields >> device >> mountPoint >> type)) continue;
    mountPoint = UnescapeMountField(mountPoint);
    const bool covers =
        mountPoint == "/" || (path.compare(0, mountPoint.size(), mountPoint) == 0 &&
                              (path.size() == mountPoint.size() || path[mountPoint.size()] == '/'));
    if (covers && mountPoint.size() >= bestLength) {
      best = type;
      bestLength = mountPoint.size();
    }
  }
  if (!best.empty()) return best;
  struct statfs fs {};
  if (::statfs(hostPath.c_str(), &fs) == 0) {
    switch (static_cast<unsigned long>(fs.f_type)) {
      case 0xEF53:
        return "ext4";
      case 0x01021994:
        return "tmpfs";
      case 0x9123683E:
        return "btrfs";
      case 0x58465342:
        return "xfs";
      case 0x4D44:
        return "FAT";
      case 0x2011BAB0:
        return "exFAT";
      case 0x5346544E:
        return "NTFS";
      case 0x794C7630:
        return "overlay";
      default:
        break;
    }
  }
  return "UNKNOWN";
}

}  // namespace

TDriveType GetDriveType(const std::string& root) {
  const char letter = DriveOfRoot(root);
  if (letter == 0) return dtNoRootDir;
  if (TFakeDrive* fake = detail::FakeDrive(letter)) return fake->Type;
  return IsRealDrive(letter) ? dtFixed : dtNoRootDir;
}

bool DriveReady(const std::string& root) {
  const char letter = DriveOfRoot(root);
  if (letter == 0) return false;
  if (TFakeDrive* fake = detail::FakeDrive(letter)) return fake->Ready;
  return IsRealDrive(letter);
}

bool GetVolumeInformation(const std::string& root, TVolumeInfo& info) {
  const char letter = DriveOfRoot(root);
  if (letter == 0) return detail::Fail(kErrorBadNetPath);
  if (TFakeDrive* fake = detail::FakeDrive(letter)) {
    if (!fake->Ready) return detail::Fail(kErrorNotReady);
    info.Label = fake->Label;
    info.Serial = fake->Serial;
    info.MaxComponentLength = 255;
    info.FileSystemFlags = fake->FileSystemFlags;
    info.FileSystemName = fake->FileSystemName;
    SetLastError(kErrorSuccess);
    return true;
  }
  if (!IsRealDrive(letter)) return detail::Fail(kErrorPathNotFound);
  const std::string hostRoot = RealDriveHostRoot(letter);
  struct statvfs vfs {};
  if (::statvfs(hostRoot.c_str(), &vfs) != 0) return detail::FailFromErrno(hostRoot);
  // Host volumes carry no DOS label; the serial folds the 64-bit file-system id into 32 bits.
  info.Label.clear();
  const uint64_t fsid = static_cast<uint64_t>(vfs.f_fsid);
  info.Serial = static_cast<uint32_t>(fsid ^ (fsid >> 32));
  info.MaxComponentLength = static_cast<uint32_t>(vfs.f_namemax);
  info.FileSystemFlags = kFileCaseSensitiveSearch | kFileCasePreservedNames | kFileUnicodeOnDisk;
  if (vfs.f_flag & ST_RDONLY) info.FileSystemFlags |= kFileReadOnlyVolume;
  info.FileSystemName = FileSystemName(hostRoot);
  SetLastError(kErrorSuccess);
  return true;
}

bool GetDiskFreeSpace(const std::string& root, uint64_t& freeBytes, uint64_t& totalBytes) {
  const char letter = DriveOfRoot(root);
  if (letter == 0) return detail::Fail(kErrorBadNetPath);
  if (TFakeDrive* fake = detail::FakeDrive(letter)) {
    if (!fake->Ready) return detail::Fail(kErrorNotReady);
    freeBytes = fake->FreeBytes;
    totalBytes = fake->TotalBytes;
    SetLastError(kErrorSuccess);
    return true;
  }
  if (!IsRealDrive(letter)) return detail::Fail(kErrorPathNotFound);
  const std::string hostRoot = RealDriveHostRoot(letter);
  struct statvfs vfs {};
  if (::statvfs(hostRoot.c_str(), &vfs) != 0) return detail::FailFromErrno(hostRoot);
  const uint64_t unit = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
  freeBytes = static_cast<uint64_t>(vfs.f_bavail) * unit;  // what this user may still write
  totalBytes = static_cast<uint64_t>(vfs.f_blocks) * unit;
  SetLastError(kErrorSuccess);
  return true;
}

uint32_t GetLogicalDrives() {
  uint32_t mask = (1u << ('C' - 'A')) | (1u << ('Z' - 'A'));
  if (TSeams* seams = CurrentSeams()) {
    for (const auto& drive : seams->Drives) {
      const char letter = detail::UpperAscii(drive.Letter);
      if (letter >= 'A' && letter <= 'Z') mask |= 1u << (letter - 'A');
    }
  }
  return mask;
}

}  // namespace host
