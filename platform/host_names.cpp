// Names in the file system: existence, DOS attributes and Unix permission bits, last-write times
// in local DOS form, directories, delete and rename, wildcard directory search and temporary
// files. It never follows a link to change a mode and never sets set-uid, set-gid or sticky bits.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/host.h"
#include "platform/host_internal.h"
#include "platform/seams.h"

namespace host {

namespace {

std::string LastComponent(const std::string& hostPath) {
  std::string path = hostPath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint32_t AttributesFromStat(const struct stat& st, const std::string& name) {
  uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) {
    attributes |= faDirectory;
  } else if (S_ISREG(st.st_mode)) {
    attributes |= faArchive;
  } else {
    attributes |= faSysFile;  // devices, pipes, sockets: nothing to extract into or read from
  }
  if ((st.st_mode & S_IWUSR) == 0) attributes |= faReadOnly;
  if (name.size() > 1 && name[0] == '.' && name != "..") attributes |= faHidden;
  return attributes;
}

bool StatPath(const std::string& path, struct stat& st, std::string& hostPath) {
  if (!detail::Resolve(path, detail::TAccess::Read, hostPath)) return false;
  if (::stat(hostPath.c_str(), &st) != 0) return detail::FailFromErrno(hostPath);
  return true;
}

bool SetTimes(int dirFd, const std::string& hostPath, int fd, uint32_t dosDateTime) {
  detail::TLocalTime local;
  if (!detail::DosToLocal(dosDateTime, local)) return detail::Fail(kErrorInvalidParameter);
  int64_t utc = 0;
  if (!detail::LocalToUtc(local, utc)) return detail::Fail(kErrorInvalidParameter);
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays as it is
  times[1].tv_sec = static_cast<time_t>(utc);
  times[1].tv_nsec = 0;
  const int rc = fd >= 0 ? ::futimens(fd, times) : ::utimensat(dirFd, hostPath.c_str(), times, 0);
  if (rc != 0) return detail::FailFromErrno(hostPath);
  SetLastError(kErrorSuccess);
  return true;
}

// Windows-style wildcard test: "*" any run, "?" one character, ASCII letters folded; "*.*" is
// every name, and a mask ending in "." also takes names without a dot.
bool WildMatch(const std::string& name, const std::string& mask) {
  if (mask == "*.*" || mask == "*") return true;
  std::string subject = name;
  if (!mask.empty() && mask.back() == '.' && name.find('.') == std::string::npos) {
    subject.push_back('.');
  }
  size_t n = 0, m = 0;
  size_t starMask = std::string::npos, starName = 0;
  while (n < subject.size()) {
    if (m < mask.size() && (mask[m] == '?' || UpperAscii(mask[m]) == UpperAscii(subject[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (starMask != std::string::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

// The permission bits DOS attributes (and a Unix mode in their high 16 bits) give a file or folder.
mode_t ModeForAttributes(const struct stat& st, uint32_t attributes) {
  mode_t mode = st.st_mode & 07777;
  const uint32_t unixMode = attributes >> 16;
  const uint32_t unixType = unixMode & 0170000;
  // A Unix mode for a regular file or a directory (or with no type at all) brings its permission
  // bits; a link's or a device's mode is not applied to the file we made of it.
  const bool useUnixMode =
      unixMode != 0 && (unixType == 0 || unixType == 0100000 || unixType == 0040000);
  if (useUnixMode) mode = static_cast<mode_t>(unixMode & 0777);
  if (attributes & faReadOnly) {
    mode &= static_cast<mode_t>(~0222);
  } else if (!useUnixMode) {
    mode |= S_IWUSR;  // clearing the read-only attribute makes the file writable again
  }
  // A folder stays usable by its owner, or the files still to come could not be put into it.
  if (S_ISDIR(st.st_mode)) mode |= S_IRWXU;
  return mode;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  std::string hostPath;
  return StatPath(path, st, hostPath) && !S_ISDIR(st.st_mode);
}

bool NameExists(const std::string& path) {
  std::string hostPath;
  if (!detail::Resolve(path, detail::TAccess::Read, hostPath)) return false;
  struct stat st {};
  if (::lstat(hostPath.c_str(), &st) != 0) return detail::FailFromErrno(hostPath);
  SetLastError(kErrorSuccess);
  return true;
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  std::string hostPath;
  return StatPath(path, st, hostPath) && S_ISDIR(st.st_mode);
}

uint32_t GetFileAttributes(const std::string& path) {
  struct stat st {};
  std::string hostPath;
  if (!StatPath(path, st, hostPath)) return kInvalidAttributes;
  SetLastError(kErrorSuccess);
  return AttributesFromStat(st, LastComponent(hostPath));
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
  std::string hostPath;
  if (!detail::Resolve(path, detail::TAccess::Write, hostPath)) return false;
  struct stat st {};
  if (::lstat(hostPath.c_str(), &st) != 0) return detail::FailFromErrno(hostPath);
  // A link's mode means nothing and chmod would reach through it to whatever it names.
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return detail::Fail(kErrorAccessDenied);
  const mode_t mode = ModeForAttributes(st, attributes);
  if (mode != (st.st_mode & 07777) && ::chmod(hostPath.c_str(), mode) != 0)
    return detail::FailFromErrno(hostPath);
  SetLastError(kErrorSuccess);
  return true;
}

bool SetFileAttributes(THandle handle, uint32_t attributes) {
  if (handle < 0) return detail::Fail(kErrorInvalidHandle);
  struct stat st {};
  if (::fstat(handle, &st) != 0) return detail::FailFromErrno();
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return detail::Fail(kErrorAccessDenied);
  // A new file mostly has its mode already: nothing to change then.
  const mode_t mode = ModeForAttributes(st, attributes);
  if (mode != (st.st_mode & 07777) && ::fchmod(handle, mode) != 0) return detail::FailFromErrno();
  SetLastError(kErrorSuccess);
  return true;
}

bool SetFileDate(const std::string& path, uint32_t dosDateTime) {
  std::string hostPath;
  if (!detail::Resolve(path, detail::TAccess::Write, hostPath)) return false;
  return SetTimes(AT_FDCWD, hostPath, -1, dosDateTime);
}

bool SetFileDate(THandle handle, uint32_t dosDateTime) {
  if (handle < 0) return detail::Fail(kErrorInvalidHandle);
  return SetTimes(AT_FDCWD, std::string(), handle, dosDateTime);
}

bool SetFileTimeUtc(THandle handle, int64_t seconds, uint32_t nanoseconds) {
  if (handle < 0) return detail::Fail(kErrorInvalidHandle);
  if (nanoseconds > 999999999) return detail::Fail(kErrorInvalidParameter);
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays as it is
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = static_cast<long>(nanoseconds);
  if (::futimens(handle, times) != 0) return detail::FailFromErrno(std::string());
  SetLastError(kErrorSuccess);
  return true;
}

bool SetFileTimeUtc(const std::string& path, int64_t seconds, uint32_t nanoseconds) {
  if (nanoseconds > 999999999) return detail::Fail(kErrorInvalidParameter);
  std::string hostPath;
  if (!detail::Resolve(path, detail::TAccess::Write, hostPath)) return false;
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = static_cast<long>(nanoseconds);
  if (::utimensat(AT_FDCWD, hostPath.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    return detail::FailFromErrno(hostPath);
  SetLastError(kErrorSuccess);
  return true;
}

uint32_t GetFileDate(const std::string& path) {
  struct stat st {};
  std::string hostPath;
  if (!StatPath(path, st, hostPath)) return 0;
  return detail::DosFromUnixTime(static_cast<int64_t>(st.st_mtim.tv_sec));
}

bool CreateDirectory(const std::string& path) {
  std::string hostPath;
  if (!detail::Resolve(path, detail::TAccess::Write, hostPath)) return false;
  if (::mkdir(hostPath.c_str(), 0777) != 0) return detail::FailFromErrno(hostPath);
  SetLastError(kErrorSuccess);
  return true;
}

bool RemoveDirectory(const std::string& path) {
  std::string hostPath;
  if (!detail::Resolve(path, detail::TAccess::Write, hostPath)) return false;
  if (::rmdir(hostPath.c_str()) != 0) return detail::FailFromErrno(hostPath);
  SetLastError(kErrorSuccess);
  return true;
}

bool DeleteFile(const std::string& path) {
  std::string hostPath;
  if (!detail::Resolve(path, detail::TAccess::Write, hostPath)) return false;
  if (::unlink(hostPath.c_str()) != 0) return detail::FailFromErrno(hostPath);
  SetLastError(kErrorSuccess);
  return true;
}

bool RenameFile(const std::string& from, const std::string& to) {
  std::string hostFrom, hostTo;
  if (!detail::Resolve(from, detail::TAccess::Write, hostFrom) ||
      !detail::Resolve(to, detail::TAccess::Write, hostTo)) {
    return false;
  }
  // Like Windows, an existing target is an error, never silently replaced.
  if (::renameat2(AT_FDCWD, hostFrom.c_str(), AT_FDCWD, hostTo.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return detail::FailFromErrno(hostTo);
    struct stat st {};
    if (::lstat(hostTo.c_str(), &st) == 0) return detail::Fail(kErrorAlreadyExists);
    if (::rename(hostFrom.c_str(), hostTo.c_str()) != 0) return detail::FailFromErrno(hostTo);
  }
  SetLastError(kErrorSuccess);
  return true;
}

// ---- directory search ----

struct DirSearch::Impl {
  std::vector<TSearchRec> Entries;
  size_t Next = 0;
};

DirSearch::DirSearch() = default;
DirSearch::~DirSearch() = default;

void DirSearch::Close() {
  FImpl.reset();
}

bool DirSearch::First(const std::string& pattern, uint32_t attributes, TSearchRec& rec) {
  Close();
  std::string system = SlashToBackslash(pattern);
  if (system.find('\0') != std::string::npos) return detail::Fail(kErrorInvalidName);
  std::string folder, mask;
  const auto slash = system.rfind('\\');
  if (slash != std::string::npos) {
    folder = system.substr(0, slash + 1);
    mask = system.substr(slash + 1);
  } else if (system.size() >= 2 && system[1] == ':') {
    folder = system.substr(0, 2);
    mask = system.substr(2);
  } else {
    mask = system;
  }
  if (mask.empty()) return detail::Fail(kErrorFileNotFound);

  std::string hostFolder = ".";
  if (!folder.empty() && !detail::Resolve(folder, detail::TAccess::Read, hostFolder)) return false;
  DIR* dir = ::opendir(hostFolder.c_str());
  if (dir == nullptr) {
    const int err = errno;
    return detail::Fail(err == ENOENT ? kErrorPathNotFound : detail::ErrorFromErrno(err));
  }
  // A drive's root has no "." and ".." entries on Windows.
  const std::string fullFolder = ExpandFileName(folder.empty() ? std::string(".") : folder);
  const bool driveRoot = fullFolder.size() == 3 && fullFolder[1] == ':';
  const uint32_t excluded = ~attributes & (faHidden | faSysFile | faVolumeID | faDirectory);

  auto impl = std::make_unique<Impl>();
  const int dirFd = ::dirfd(dir);
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const bool dotEntry = name == "." || name == "..";
    if (dotEntry && driveRoot) continue;
    if (!WildMatch(name, mask)) continue;
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, 0) != 0 &&
        ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;  // vanished while we looked
    }
    TSearchRec found;
    found.Name = name;
    found.Attr = AttributesFromStat(st, name);
    if (found.Attr & excluded) continue;
    found.Size = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
    found.Time = detail::DosFromUnixTime(static_cast<int64_t>(st.st_mtim.tv_sec));
    impl->Entries.push_back(std::move(found));
  }
  ::closedir(dir);
  // "." and ".." first, then the names in case-folded order (as NTFS lists them).
  std::sort(impl->Entries.begin(), impl->Entries.end(),
            [](const TSearchRec& a, const TSearchRec& b) {
              const int rankA = a.Name == "." ? 0 : a.Name == ".." ? 1 : 2;
              const int rankB = b.Name == "." ? 0 : b.Name == ".." ? 1 : 2;
              if (rankA != rankB) return rankA < rankB;
              const std::string foldA = UpperCaseAscii(a.Name), foldB = UpperCaseAscii(b.Name);
              return foldA != foldB ? foldA < foldB : a.Name < b.Name;
            });
  if (impl->Entries.empty()) return detail::Fail(kErrorFileNotFound);
  FImpl = std::move(impl);
  return Next(rec);
}

bool DirSearch::Next(TSearchRec& rec) {
  if (!FImpl || FImpl->Next >= FImpl->Entries.size()) return detail::Fail(kErrorNoMoreFiles);
  rec = FImpl->Entries[FImpl->Next++];
  SetLastError(kErrorSuccess);
  return true;
}

// ---- temporary files ----

std::string CreateTempFileIn(const std::string& directory) {
  const std::string folder = ExpandFileName(directory.empty() ? std::string(".") : directory);
  std::string hostFolder;
  if (!detail::Resolve(folder, detail::TAccess::Write, hostFolder)) return std::string();
  if (hostFolder.empty() || hostFolder.back() != '/') hostFolder.push_back('/');
  std::string name = hostFolder + "arvXXXXXX.tmp";
  const int fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    detail::FailFromErrno(name);  // a missing folder is "path not found"
    // Write protection is a removable disk's notion. A read-only mount on a fixed drive (an
    // immutable root file system under Z:\, say) says "access denied", as a Windows root that
    // refuses a user does, so that probing a drive's root does not take it for a protected disk.
    const char letter = DriveOfPath(folder);
    if (err == EROFS && detail::FakeDrive(letter) == nullptr &&
        GetDriveType(DriveRoot(letter)) == dtFixed) {
      SetLastError(kErrorAccessDenied);
    }
    return std::string();
  }
  ::close(fd);
  SetLastError(kErrorSuccess);
  std::string result = folder;
  if (result.back() != '\\') result.push_back('\\');
  return result + name.substr(hostFolder.size());
}

}  // namespace host
