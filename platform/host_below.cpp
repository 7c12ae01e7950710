// Output below a chosen folder: the folder levels of a relative name are created and opened one at
// a time with openat and O_NOFOLLOW | O_DIRECTORY, so a link (or a file) planted below the folder
// beforehand can never send a write, a new folder or a removal elsewhere. The chosen folder itself
// is taken as the caller gave it. This file does not map names or decide what is extracted.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/host_internal.h"
#include "platform/seams.h"

namespace host {

namespace {

// A folder descriptor closed on every way out.
class TDirFd {
 public:
  explicit TDirFd(int fd = -1) : FFd(fd) {}
  ~TDirFd() { Reset(); }
  TDirFd(const TDirFd&) = delete;
  TDirFd& operator=(const TDirFd&) = delete;
  void Reset(int fd = -1) {
    if (FFd >= 0) ::close(FFd);
    FFd = fd;
  }
  int Get() const { return FFd; }

 private:
  int FFd;
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

constexpr size_t kMaxHeldLevels = 48;  // deeper levels are opened and closed on each walk

// Which folder a held descriptor is.
struct TFolderId {
  dev_t Device = 0;
  ino_t Inode = 0;
};

// Makes an output as `name` in the folder `dirFd` through `make(name, mode)` (true when made;
// errno tells why not): the free name itself, which most names are (`staged` left empty: a
// failure later removes only what the run made). When something already has the name, a hidden
// name of its own beside it instead, given in `staged`: the rename that puts it in place stays
// inside the folder (and the file system), so it is one atomic step. A folder in the place fails
// with kErrorAccessDenied.
template <class Make>
bool StageBeside(int dirFd, const std::string& name, const std::string& hostPath, Make make,
                 std::string& staged) {
  staged.clear();
  if (make(name, 0666)) {
    SetLastError(kErrorSuccess);
    return true;
  }
  if (errno != EEXIST) return detail::FailFromErrno(hostPath);
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
    return detail::Fail(kErrorAccessDenied);
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  uint64_t seed = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^
                  reinterpret_cast<uintptr_t>(&staged) ^ static_cast<uint64_t>(st.st_ino);
  for (int attempt = 0; attempt < 64; ++attempt) {
    std::string candidate = ".parcelo-";
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    for (uint64_t bits = seed >> 16, i = 0; i < 8; ++i, bits /= 36) candidate += kDigits[bits % 36];
    if (make(candidate, 0600)) {
      staged = std::move(candidate);
      SetLastError(kErrorSuccess);
      return true;
    }
    if (errno != EEXIST) break;
  }
  return detail::FailFromErrno(hostPath);
}

}  // namespace

struct TBelowFolder::TState {
  std::string Directory;  // as the caller gave it
  std::string Base;       // its host path
  bool Resolved = false;
  bool ResolvedForWrite = false;
  TDirFd BaseFd;
  std::vector<std::string> Names;  // the held levels below Base, outermost first
  std::vector<int> Fds;            // and their descriptors
  std::vector<TFolderId> Ids;      // and the folders they were when walked

  TState() {
    Fds.reserve(kMaxHeldLevels);
    Ids.reserve(kMaxHeldLevels);
  }
  ~TState() { CloseLevels(0); }

  void CloseLevels(size_t keep) {
    while (Fds.size() > keep) {
      ::close(Fds.back());
      Fds.pop_back();
      Ids.pop_back();
      Names.pop_back();
    }
  }

  void Close() {
    CloseLevels(0);
    BaseFd.Reset();
    Resolved = false;
    ResolvedForWrite = false;
  }

  // Resolves `directory` (again when it changed, or when a write needs the drive checked for
  // writing) and opens it, creating it with its parents when `create`. A missing folder that is not
  // to be created leaves `missing` set and the base closed.
  bool OpenBase(const std::string& directory, bool create, bool& missing) {
    missing = false;
    if (!Resolved || directory != Directory || (create && !ResolvedForWrite)) {
      std::string base;
      if (!detail::Resolve(directory, create ? detail::TAccess::Write : detail::TAccess::Read,
                           base)) {
        Close();
        return false;
      }
      if (base.empty()) base = ".";
      if (directory != Directory || base != Base) Close();
      Directory = directory;
      Base = std::move(base);
      Resolved = true;
      ResolvedForWrite = ResolvedForWrite || create;
    }
    if (BaseFd.Get() >= 0) return true;
    int fd = -1;
    do {
      fd = ::open(Base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == ENOENT) {
      if (!create) {
        missing = true;
        return true;
      }
      if (!MakeHostFolder(Base)) return detail::FailFromErrno(Base);
      fd = ::open(Base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (fd < 0) return detail::FailFromErrno(Base);
    BaseFd.Reset(fd);
    return true;
  }

  std::string HostPath(const std::vector<std::string>& parts) const {
    std::string hostPath = Base;
    for (const std::string& part : parts) {
      if (hostPath.back() != '/') hostPath += '/';
      hostPath += part;
    }
    return hostPath;
  }

  // Opens the first `levels` of `parts` below the base (creating missing ones when `create`),
  // starting from the deepest held level the name shares. On success `dirFd` is the deepest level:
  // held here, or owned by `deep` when it lies deeper than the levels that are held.
  //
  // A held level is used again only while it is still the folder of that name in its parent: a
  // folder renamed away (and maybe replaced) since it was walked would otherwise take the rest of
  // the run's output with it, out of the destination. Then every held level is let go and the
  // name fails with kErrorFolderChanged; the next name is walked afresh from the base. A walk that
  // only looks (`revalidate` false) takes the held levels as they are: what makes something walks
  // again, and checks them then.
  bool Walk(const std::vector<std::string>& parts, size_t levels, bool create,
            const std::string& hostPath, TDirFd& deep, int& dirFd, bool revalidate = true) {
    size_t shared = 0;
    while (shared < Names.size() && shared < levels && Names[shared] == parts[shared]) ++shared;
    if (shared < levels) CloseLevels(shared);
    for (size_t i = 0; revalidate && i < shared; ++i) {
      const int parent = i > 0 ? Fds[i - 1] : BaseFd.Get();
      struct stat st {};
      if (::fstatat(parent, Names[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
          !S_ISDIR(st.st_mode) || st.st_dev != Ids[i].Device || st.st_ino != Ids[i].Inode) {
        CloseLevels(0);
        SetLastError(kErrorFolderChanged);
        return false;
      }
    }
    int current = shared > 0 ? Fds[shared - 1] : BaseFd.Get();
    for (size_t i = shared; i < levels; ++i) {
      const int next = OpenLevel(current, parts[i], create, hostPath);
      if (next < 0) return false;
      if (i < kMaxHeldLevels) {
        struct stat st {};
        if (::fstat(next, &st) != 0) {
          ::close(next);
          return detail::FailFromErrno(hostPath);
        }
        Fds.push_back(next);  // the room is reserved: cannot throw
        Ids.push_back({st.st_dev, st.st_ino});
        try {
          Names.push_back(parts[i]);
        } catch (const std::bad_alloc&) {
          Fds.pop_back();
          Ids.pop_back();
          ::close(next);
          throw;
        }
      } else {
        deep.Reset(next);
      }
      current = next;
    }
    dirFd = current;
    return true;
  }

  // The shared start of the operations that make something: the base opened (made when missing),
  // the folder levels above the last part walked and made.
  bool WalkToParent(const std::string& directory, const std::vector<std::string>& parts,
                    std::string& hostPath, TDirFd& deep, int& dirFd) {
    bool missing = false;
    if (!OpenBase(directory, true, missing)) return false;
    hostPath = HostPath(parts);
    return Walk(parts, parts.size() - 1, true, hostPath, deep, dirFd);
  }
};

TBelowFolder::TBelowFolder() : FState(std::make_unique<TState>()) {}
TBelowFolder::~TBelowFolder() = default;

void TBelowFolder::Close() {
  FState->Close();
}

THandle TBelowFolder::FileCreate(const std::string& directory, const std::string& relative) {
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts) || parts.empty()) {
    SetLastError(kErrorInvalidName);
    return kInvalidHandle;
  }
  std::string hostPath;
  TDirFd deep;
  int dirFd = -1;
  if (!FState->WalkToParent(directory, parts, hostPath, deep, dirFd)) return kInvalidHandle;
  if (detail::SeamsFailOpen(hostPath)) return kInvalidHandle;
  return detail::CreateReplacingAt(dirFd, parts.back(), hostPath);
}

THandle TBelowFolder::FileCreateStaged(const std::string& directory, const std::string& relative,
                                       std::string& staged) {
  staged.clear();
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts) || parts.empty()) {
    SetLastError(kErrorInvalidName);
    return kInvalidHandle;
  }
  std::string hostPath;
  TDirFd deep;
  int dirFd = -1;
  if (!FState->WalkToParent(directory, parts, hostPath, deep, dirFd)) return kInvalidHandle;
  if (detail::SeamsFailOpen(hostPath)) return kInvalidHandle;
  int fd = -1;
  const auto make = [&](const std::string& name, int mode) {
    do {
      fd = ::openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd >= 0;
  };
  if (!StageBeside(dirFd, parts.back(), hostPath, make, staged)) return kInvalidHandle;
  return static_cast<THandle>(fd);
}

bool TBelowFolder::LinkStaged(const std::string& directory, const std::string& relative,
                              THandle file, std::string& staged) {
  staged.clear();
  std::vector<std::string> parts;
  if (file < 0 || !SplitRelative(relative, parts) || parts.empty())
    return detail::Fail(kErrorInvalidName);
  std::string hostPath;
  TDirFd deep;
  int dirFd = -1;
  if (!FState->WalkToParent(directory, parts, hostPath, deep, dirFd)) return false;
  if (detail::SeamsFailOpen(hostPath)) return false;
  const auto make = [&](const std::string& name, int mode) {
    // A hidden name gets what a file made under it would get.
    if (mode != 0666 && ::fchmod(file, static_cast<mode_t>(mode)) != 0) return false;
    // The descriptor itself where the system lets this process name it so; else through its
    // entry in /proc, which names an unnamed file too.
    if (::linkat(file, "", dirFd, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT && errno != EPERM) return false;
    const std::string proc = "/proc/self/fd/" + std::to_string(file);
    return ::linkat(AT_FDCWD, proc.c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  };
  return StageBeside(dirFd, parts.back(), hostPath, make, staged);
}

bool TBelowFolder::Commit(const std::string& directory, const std::string& relative,
                          const std::string& staged) {
  if (staged.empty()) return true;  // the output was made in its place
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts) || parts.empty()) return detail::Fail(kErrorInvalidName);
  bool missing = false;
  if (!FState->OpenBase(directory, false, missing)) return false;
  if (missing) return detail::Fail(kErrorPathNotFound);
  const std::string hostPath = FState->HostPath(parts);
  TDirFd deep;
  int dirFd = -1;
  if (!FState->Walk(parts, parts.size() - 1, false, hostPath, deep, dirFd)) return false;
  if (::renameat(dirFd, staged.c_str(), dirFd, parts.back().c_str()) != 0) {
    const int err = errno;
    ::unlinkat(dirFd, staged.c_str(), 0);
    errno = err;
    return detail::FailFromErrno(hostPath);
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool TBelowFolder::Discard(const std::string& directory, const std::string& relative,
                           const std::string& staged) {
  if (staged.empty()) return DeleteFile(directory, relative);
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts) || parts.empty()) return detail::Fail(kErrorInvalidName);
  parts.back() = staged;
  std::string joined;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : "\\") + part;
  return DeleteFile(directory, joined);
}

bool TBelowFolder::CreateDirectory(const std::string& directory, const std::string& relative) {
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts)) return detail::Fail(kErrorInvalidName);
  bool missing = false;
  if (!FState->OpenBase(directory, true, missing)) return false;
  TDirFd deep;
  int dirFd = -1;
  if (!FState->Walk(parts, parts.size(), true, FState->HostPath(parts), deep, dirFd)) return false;
  SetLastError(kErrorSuccess);
  return true;
}

bool TBelowFolder::PathIsPlain(const std::string& directory, const std::string& relative) {
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts)) return detail::Fail(kErrorInvalidName);
  bool missing = false;
  if (!FState->OpenBase(directory, false, missing)) return false;
  // A destination that does not exist yet holds nothing that could be in the way; nor does a
  // level that does not exist yet.
  if (!missing && parts.size() > 1) {
    TDirFd deep;
    int dirFd = -1;
    if (!FState->Walk(parts, parts.size() - 1, false, FState->Base, deep, dirFd, false) &&
        LastError() != kErrorFileNotFound && LastError() != kErrorPathNotFound)
      return false;
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool TBelowFolder::CreateSymlink(const std::string& directory, const std::string& relative,
                                 const std::string& target) {
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts) || parts.empty() || target.empty() ||
      target.find('\0') != std::string::npos)
    return detail::Fail(kErrorInvalidName);
  std::string hostPath;
  TDirFd deep;
  int dirFd = -1;
  if (!FState->WalkToParent(directory, parts, hostPath, deep, dirFd)) return false;
  const std::string& name = parts.back();
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) return detail::Fail(kErrorAccessDenied);
    if (::unlinkat(dirFd, name.c_str(), 0) != 0 && errno != ENOENT)
      return detail::FailFromErrno(hostPath);
  }
  if (::symlinkat(target.c_str(), dirFd, name.c_str()) != 0) return detail::FailFromErrno(hostPath);
  SetLastError(kErrorSuccess);
  return true;
}

bool TBelowFolder::DeleteFile(const std::string& directory, const std::string& relative) {
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts) || parts.empty()) return detail::Fail(kErrorInvalidName);
  bool missing = false;
  if (!FState->OpenBase(directory, false, missing)) return false;
  if (missing) {
    errno = ENOENT;
    return detail::FailFromErrno(FState->Base);
  }
  const std::string hostPath = FState->HostPath(parts);
  TDirFd deep;
  int dirFd = -1;
  if (!FState->Walk(parts, parts.size() - 1, false, hostPath, deep, dirFd)) return false;
  if (::unlinkat(dirFd, parts.back().c_str(), 0) != 0) return detail::FailFromErrno(hostPath);
  SetLastError(kErrorSuccess);
  return true;
}

THandle TBelowFolder::FileOpen(const std::string& directory, const std::string& relative) {
  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts) || parts.empty()) {
    SetLastError(kErrorInvalidName);
    return kInvalidHandle;
  }
  bool missing = false;
  if (!FState->OpenBase(directory, false, missing)) return kInvalidHandle;
  if (missing) {
    errno = ENOENT;
    detail::FailFromErrno(FState->Base);
    return kInvalidHandle;
  }
  const std::string hostPath = FState->HostPath(parts);
  TDirFd deep;
  int dirFd = -1;
  if (!FState->Walk(parts, parts.size() - 1, false, hostPath, deep, dirFd)) return kInvalidHandle;
  int fd = -1;
  do {
    fd = ::openat(dirFd, parts.back().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ELOOP) {
      SetLastError(kErrorStoppedOnSymlink);
    } else {
      detail::FailFromErrno(hostPath);
    }
    return kInvalidHandle;
  }
  return detail::KeepIfRegular(fd);
}

THandle FileCreateBelow(const std::string& directory, const std::string& relative) {
  return TBelowFolder().FileCreate(directory, relative);
}

bool CreateDirectoryBelow(const std::string& directory, const std::string& relative) {
  return TBelowFolder().CreateDirectory(directory, relative);
}

bool PathBelowIsPlain(const std::string& directory, const std::string& relative) {
  return TBelowFolder().PathIsPlain(directory, relative);
}

bool CreateSymlinkBelow(const std::string& directory, const std::string& relative,
                        const std::string& target) {
  return TBelowFolder().CreateSymlink(directory, relative, target);
}

bool DeleteFileBelow(const std::string& directory, const std::string& relative) {
  return TBelowFolder().DeleteFile(directory, relative);
}

// ---- unnamed files ----

TUnnamedFiles::TUnnamedFiles(std::string directory) : FDirectory(std::move(directory)) {}

TUnnamedFiles::~TUnnamedFiles() {
  if (FFolder >= 0) ::close(FFolder);
}

bool TUnnamedFiles::OpenFolder() {
  if (FFolder >= 0) return true;
  std::string base;
  if (!detail::Resolve(FDirectory, detail::TAccess::Write, base)) return false;
  if (base.empty()) base = ".";
  do {
    FFolder = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (FFolder < 0 && errno == EINTR);
  return FFolder >= 0;  // not made yet: looked for again next time
}

THandle TUnnamedFiles::Create() {
  if (FUnsupported || !OpenFolder()) return kInvalidHandle;
  int fd = -1;
  do {
    fd = ::openat(FFolder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) FUnsupported = true;
  return fd < 0 ? kInvalidHandle : static_cast<THandle>(fd);
}

int64_t TUnnamedFiles::FreeBytes() {
  int64_t room = -1;
  struct statvfs vfs {};
  if (OpenFolder() && ::fstatvfs(FFolder, &vfs) == 0)
    room = static_cast<int64_t>(std::min<uint64_t>(
        static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize, static_cast<uint64_t>(INT64_MAX)));
  if (TSeams* seams = CurrentSeams()) {
    for (const int64_t limit : {seams->DiskFullAfter, seams->ShortWriteAfter}) {
      if (limit < 0) continue;
      const int64_t left = std::max<int64_t>(limit - seams->BytesWritten, 0);
      room = room < 0 ? left : std::min(room, left);
    }
  }
  return room;
}

}  // namespace host
