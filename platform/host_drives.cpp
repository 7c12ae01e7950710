// Drives: their types, readiness, volume information, free space and the list of present letters.
// C: (the home directory) and Z: (the file-system root) are fixed disks; the volumes mounted where
// a desktop mounts them (/media, /run/media/<user>, /mnt) get the letters from D: on; tests add
// fake drives. Nothing here mounts, unmounts or ejects anything.
#include <pwd.h>
#include <stdlib.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <optional>
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

// ---- mounted volumes ----

// Network file systems: their volumes are remote drives and need no device.
bool IsNetworkFileSystem(const std::string& type) {
  static const char* const kNetwork[] = {
      "nfs", "nfs4",       "cifs",  "smb3",        "smbfs",     "afs",           "ceph",
      "9p",  "fuse.sshfs", "davfs", "fuse.davfs2", "glusterfs", "fuse.glusterfs"};
  return std::any_of(std::begin(kNetwork), std::end(kNetwork),
                     [&](const char* name) { return type == name; });
}

std::string CurrentUserName() {
  if (TSeams* seams = CurrentSeams(); seams && !seams->UserName.empty()) return seams->UserName;
  if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_name) return entry->pw_name;
  const char* user = ::getenv("USER");
  return user ? user : "";
}

// Is the mount point one of the places a desktop or a person mounts volumes?
bool IsVolumeMountPoint(const std::string& point, const std::string& user) {
  const auto oneBelow = [&](const std::string& parent) {
    return point.size() > parent.size() + 1 &&
           point.compare(0, parent.size() + 1, parent + "/") == 0 &&
           point.find('/', parent.size() + 1) == std::string::npos;
  };
  const std::string name = point.substr(point.rfind('/') + 1);
  if (name == "." || name == "..") return false;
  if (point == "/mnt" || oneBelow("/mnt") || oneBelow("/media")) return true;
  return !user.empty() && (oneBelow("/media/" + user) || oneBelow("/run/media/" + user));
}

// The whole disk a partition's kernel name belongs to: "sdb1" -> "sdb", "nvme0n1p2" -> "nvme0n1",
// "mmcblk0p1" -> "mmcblk0"; a whole disk's name unchanged when it has no such suffix.
std::string DiskOfPartition(const std::string& name) {
  size_t end = name.size();
  while (end > 0 && name[end - 1] >= '0' && name[end - 1] <= '9') --end;
  if (end == name.size() || end == 0) return name;
  if (name[end - 1] == 'p' && end >= 2 && name[end - 2] >= '0' && name[end - 2] <= '9') {
    return name.substr(0, end - 1);
  }
  if (name.compare(0, 2, "sd") == 0 || name.compare(0, 2, "hd") == 0 ||
      name.compare(0, 2, "vd") == 0 || name.compare(0, 2, "xv") == 0) {
    return name.substr(0, end);
  }
  return name;
}

bool ReadsOne(const std::string& file) {
  std::ifstream in(file);
  std::string value;
  return static_cast<bool>(in >> value) && value == "1";
}

// Removable according to the kernel: /sys/block/<disk>/removable holds 1.
bool KernelSaysRemovable(const std::string& device, const std::string& sysRoot) {
  std::string path = device;
  if (char* resolved = ::realpath(device.c_str(), nullptr)) {  // /dev/disk/by-label/X -> /dev/sdb1
    path = resolved;
    ::free(resolved);
  }
  const std::string name = path.substr(path.rfind('/') + 1);
  if (name.empty()) return false;
  const std::string root = sysRoot.empty() ? "/sys" : sysRoot;
  if (ReadsOne(root + "/block/" + name + "/removable")) return true;
  const std::string disk = DiskOfPartition(name);
  return disk != name && ReadsOne(root + "/block/" + disk + "/removable");
}

std::vector<TMountedVolume> ParseMountTable(const std::string& table, const std::string& user,
                                            const std::string& sysRoot) {
  std::vector<TMountedVolume> volumes;
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string device, point, type;
    if (!(fields >> device >> point >> type)) continue;
    device = UnescapeMountField(device);
    point = UnescapeMountField(point);
    while (point.size() > 1 && point.back() == '/') point.pop_back();
    const bool network = IsNetworkFileSystem(type);
    if (!network && device.compare(0, 5, "/dev/") != 0) continue;
    if (!IsVolumeMountPoint(point, user)) continue;
    TMountedVolume volume;
    volume.MountPoint = point;
    volume.Device = device;
    volume.FileSystemName = type;
    volume.Label = point.substr(point.rfind('/') + 1);
    const std::string kernelName = device.substr(device.rfind('/') + 1);
    if (network) {
      volume.Type = dtRemote;
    } else if (type == "iso9660" || type == "udf" || kernelName.compare(0, 2, "sr") == 0) {
      volume.Type = dtCdRom;
    } else if (KernelSaysRemovable(device, sysRoot)) {
      volume.Type = dtRemovable;
    }
    struct statvfs vfs {};
    volume.Ready = ::statvfs(point.c_str(), &vfs) == 0 && ::access(point.c_str(), R_OK | X_OK) == 0;
    // A later mount on the same point hides the earlier one but keeps its place (and letter).
    auto same = std::find_if(volumes.begin(), volumes.end(),
                             [&](const TMountedVolume& v) { return v.MountPoint == point; });
    if (same != volumes.end()) {
      *same = volume;
    } else {
      volumes.push_back(volume);
    }
  }
  return volumes;
}

// Letters D: .. Y: in order, skipping those of fake drives; volumes beyond Y: get none.
void AssignLetters(std::vector<TMountedVolume>& volumes) {
  TSeams* seams = CurrentSeams();
  char next = 'D';
  size_t kept = 0;
  for (auto& volume : volumes) {
    while (next <= 'Y' && seams && seams->FindDrive(next)) ++next;
    if (next > 'Y') break;
    volume.Letter = next++;
    volumes[kept++] = volume;
  }
  volumes.resize(kept);
}

// The real table is read again at most once a second: paths are mapped often, volumes come and go
// rarely.
constexpr uint32_t kMountCacheMilliseconds = 1000;

std::vector<TMountedVolume> ReadMountedVolumes() {
  if (TSeams* seams = CurrentSeams(); seams && seams->MountTable) {
    auto volumes = ParseMountTable(*seams->MountTable, CurrentUserName(), seams->SysRoot);
    AssignLetters(volumes);
    return volumes;
  }
  static std::mutex mutex;
  static std::vector<TMountedVolume> cached;
  static uint32_t readAt = 0;
  static bool valid = false;
  std::vector<TMountedVolume> volumes;
  {
    std::lock_guard<std::mutex> lock(mutex);
    const uint32_t now = GetTickCount();
    if (!valid || now - readAt >= kMountCacheMilliseconds) {
      std::ifstream in("/proc/self/mounts");
      std::ostringstream text;
      text << in.rdbuf();
      TSeams* seams = CurrentSeams();
      cached = ParseMountTable(text.str(), CurrentUserName(), seams ? seams->SysRoot : "");
      readAt = now;
      valid = true;
    }
    volumes = cached;
  }
  AssignLetters(volumes);  // fake drives may differ between calls
  return volumes;
}

std::optional<TMountedVolume> MountedVolume(char letter) {
  if (letter < 'D' || letter > 'Y') return std::nullopt;
  for (auto& volume : ReadMountedVolumes()) {
    if (volume.Letter == letter) return volume;
  }
  return std::nullopt;
}

}  // namespace

TDriveType GetDriveType(const std::string& root) {
  const char letter = DriveOfRoot(root);
  if (letter == 0) return dtNoRootDir;
  if (TFakeDrive* fake = detail::FakeDrive(letter)) return fake->Type;
  if (auto volume = MountedVolume(letter)) return volume->Type;
  return IsRealDrive(letter) ? dtFixed : dtNoRootDir;
}

bool DriveReady(const std::string& root) {
  const char letter = DriveOfRoot(root);
  if (letter == 0) return false;
  if (TFakeDrive* fake = detail::FakeDrive(letter)) return fake->Ready;
  if (auto volume = MountedVolume(letter)) return volume->Ready;
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
  const auto volume = MountedVolume(letter);
  if (!IsRealDrive(letter) && !volume) return detail::Fail(kErrorPathNotFound);
  const std::string hostRoot = volume ? volume->MountPoint : RealDriveHostRoot(letter);
  struct statvfs vfs {};
  if (::statvfs(hostRoot.c_str(), &vfs) != 0) {
    return volume ? detail::Fail(kErrorNotReady) : detail::FailFromErrno(hostRoot);
  }
  // Host volumes carry no DOS label; the serial folds the 64-bit file-system id into 32 bits.
  info.Label.clear();
  const uint64_t fsid = static_cast<uint64_t>(vfs.f_fsid);
  info.Serial = static_cast<uint32_t>(fsid ^ (fsid >> 32));
  info.MaxComponentLength = static_cast<uint32_t>(vfs.f_namemax);
  info.FileSystemFlags = kFileCaseSensitiveSearch | kFileCasePreservedNames | kFileUnicodeOnDisk;
  if (vfs.f_flag & ST_RDONLY) info.FileSystemFlags |= kFileReadOnlyVolume;
  info.FileSystemName = volume ? volume->FileSystemName : FileSystemName(hostRoot);
  if (volume) info.Label = volume->Label;
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
  const auto volume = MountedVolume(letter);
  if (!IsRealDrive(letter) && !volume) return detail::Fail(kErrorPathNotFound);
  const std::string hostRoot = volume ? volume->MountPoint : RealDriveHostRoot(letter);
  struct statvfs vfs {};
  if (::statvfs(hostRoot.c_str(), &vfs) != 0) {
    return volume ? detail::Fail(kErrorNotReady) : detail::FailFromErrno(hostRoot);
  }
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
      const char letter = UpperAscii(drive.Letter);
      if (letter >= 'A' && letter <= 'Z') mask |= 1u << (letter - 'A');
    }
  }
  for (const auto& volume : ReadMountedVolumes()) mask |= 1u << (volume.Letter - 'A');
  return mask;
}

std::vector<TMountedVolume> MountedVolumes() {
  return ReadMountedVolumes();
}

namespace detail {

bool MountedVolumeRoot(char letter, std::string& root, bool& ready) {
  const auto volume = MountedVolume(UpperAscii(letter));
  if (!volume) return false;
  root = volume->MountPoint;
  ready = volume->Ready;
  return true;
}

}  // namespace detail

}  // namespace host
