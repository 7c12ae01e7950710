// Output below a chosen folder: the folder levels of a relative name are created and opened one at
// a time with openat and O_NOFOLLOW | O_DIRECTORY, so a link (or a file) planted below the folder
// beforehand can never send a write, a new folder or a removal elsewhere. The chosen folder itself
// is taken as the caller gave it. This file does not map names or decide what is extracted.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/host_internal.h"

namespace host {

namespace {

// A folder descriptor closed on every way out.
class TDirFd {
 public:
  explicit TDirFd(int fd = -1) : fd_(fd) {}
  ~TDirFd() { Reset(); }
  TDirFd(const TDirFd&) = delete;
  TDirFd& operator=(const TDirFd&) = delete;
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

// "a\b\c" -> {"a", "b", "c"}; empty components dropped. False for "." or ".." (callers never pass
// them; a name that holds one is refused rather than resolved).
bool SplitRelative(const std::string& relative, std::vector<std::string>& parts) {
  parts.clear();
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find_first_of("\\/", start);
    if (end == std::string::npos) end = relative.size();
    std::string part = relative.substr(start, end - start);
    if (part == "." || part == "..") return false;
    if (!part.empty()) parts.push_back(std::move(part));
    start = end + 1;
  }
  return true;
}

// Opens one folder level below `dirFd` without following a link; creates it first when `create`.
// A link, a file or anything else but a folder in its place is kErrorStoppedOnSymlink.
int OpenLevel(int dirFd, const std::string& name, bool create, const std::string& hostPath) {
  if (create && ::mkdirat(dirFd, name.c_str(), 0777) != 0 && errno != EEXIST) {
    detail::FailFromErrno(hostPath);
    return -1;
  }
  int fd = -1;
  do {
    fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ELOOP || errno == ENOTDIR) {
      SetLastError(kErrorStoppedOnSymlink);
    } else {
      detail::FailFromErrno(hostPath);
    }
  }
  return fd;
}

// Creates a host folder and its missing parents (the chosen folder itself, which is taken as
// given, links included).
bool MakeHostFolder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeHostFolder(path.substr(0, slash)))
    return false;
  return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

// The walk shared by every operation: resolves `directory`, then opens the first `levels` parts of
// `parts` below it (creating missing ones when `create`). On success `dirFd` holds the deepest
// folder and `hostPath` the whole host path (for messages and the seams).
bool WalkBelow(const std::string& directory, const std::vector<std::string>& parts, size_t levels,
               bool create, TDirFd& dirFd, std::string& hostPath) {
  std::string base;
  if (!detail::Resolve(directory, create ? detail::TAccess::Write : detail::TAccess::Read, base))
    return false;
  if (base.empty()) base = ".";
  hostPath = base;
  for (const std::string& part : parts) {
    if (hostPath.back() != '/') hostPath += '/';
    hostPath += part;
  }
  int fd = -1;
  do {
    fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == ENOENT && create) {
    if (!MakeHostFolder(base)) return detail::FailFromErrno(base);
    fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  if (fd < 0) return detail::FailFromErrno(base);
  dirFd.Reset(fd);
  for (size_t i = 0; i < levels; ++i) {
    const int next = OpenLevel(dirFd.Get(), parts[i], create, hostPath);
    if (next < 0) return false;
    dirFd.Reset(next);
  }
  return true;
}

}  // namespace

THandle FileCreateBelow(const std::string& directory, const std::string& relative) {
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts) || parts.empty()) {
    SetLastError(kErrorInvalidName);
    return kInvalidHandle;
  }
  TDirFd dirFd;
  std::string hostPath;
  if (!WalkBelow(directory, parts, parts.size() - 1, true, dirFd, hostPath)) return kInvalidHandle;
  if (detail::SeamsFailOpen(hostPath)) return kInvalidHandle;
  return detail::CreateReplacingAt(dirFd.Get(), parts.back(), hostPath);
}

bool CreateDirectoryBelow(const std::string& directory, const std::string& relative) {
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts)) return detail::Fail(kErrorInvalidName);
  TDirFd dirFd;
  std::string hostPath;
  if (!WalkBelow(directory, parts, parts.size(), true, dirFd, hostPath)) return false;
  SetLastError(kErrorSuccess);
  return true;
}

bool PathBelowIsPlain(const std::string& directory, const std::string& relative) {
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts)) return detail::Fail(kErrorInvalidName);
  std::string base;
  if (!detail::Resolve(directory, detail::TAccess::Read, base)) return false;
  if (base.empty()) base = ".";
  TDirFd dirFd(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.Get() < 0) {
    // A destination that does not exist yet holds nothing that could be in the way.
    if (errno == ENOENT) {
      SetLastError(kErrorSuccess);
      return true;
    }
    return detail::FailFromErrno(base);
  }
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    const int next = OpenLevel(dirFd.Get(), parts[i], false, base);
    if (next < 0) {
      if (LastError() == kErrorFileNotFound || LastError() == kErrorPathNotFound) break;
      return false;
    }
    dirFd.Reset(next);
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool CreateSymlinkBelow(const std::string& directory, const std::string& relative,
                        const std::string& target) {
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts) || parts.empty() || target.empty() ||
      target.find('\0') != std::string::npos)
    return detail::Fail(kErrorInvalidName);
  TDirFd dirFd;
  std::string hostPath;
  if (!WalkBelow(directory, parts, parts.size() - 1, true, dirFd, hostPath)) return false;
  const std::string& name = parts.back();
  struct stat st {};
  if (::fstatat(dirFd.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) return detail::Fail(kErrorAccessDenied);
    if (::unlinkat(dirFd.Get(), name.c_str(), 0) != 0 && errno != ENOENT)
      return detail::FailFromErrno(hostPath);
  }
  if (::symlinkat(target.c_str(), dirFd.Get(), name.c_str()) != 0)
    return detail::FailFromErrno(hostPath);
  SetLastError(kErrorSuccess);
  return true;
}

bool DeleteFileBelow(const std::string& directory, const std::string& relative) {
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts) || parts.empty()) return detail::Fail(kErrorInvalidName);
  TDirFd dirFd;
  std::string hostPath;
  if (!WalkBelow(directory, parts, parts.size() - 1, false, dirFd, hostPath)) return false;
  if (::unlinkat(dirFd.Get(), parts.back().c_str(), 0) != 0) return detail::FailFromErrno(hostPath);
  SetLastError(kErrorSuccess);
  return true;
}

}  // namespace host
