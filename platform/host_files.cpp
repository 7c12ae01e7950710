// Files by handle: open, create, read, write, 64-bit seek and size, end of file, close, with the
// test seams' injected failures. The handle is the POSIX file descriptor. Sharing modes are not
// enforced: POSIX has no mandatory "deny write", so another process may still write a file we
// read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/host.h"
#include "platform/host_internal.h"
#include "platform/host_positioned.h"
#include "platform/seams.h"

namespace host {

namespace {

using detail::SeamsFailOpen;

// Opens without blocking (a FIFO would wait for a peer) and accepts regular files only, as a
// Windows file handle names nothing else here: a directory gives "access denied".
THandle OpenRegular(const std::string& hostPath, int flags) {
  int fd = -1;
  do {
    fd = ::open(hostPath.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    detail::FailFromErrno(hostPath);
    return kInvalidHandle;
  }
  return static_cast<THandle>(detail::KeepIfRegular(fd));
}

}  // namespace

THandle FileOpen(const std::string& path, uint32_t mode) {
  int access = O_RDONLY;
  switch (mode & 0x0F) {
    case fmOpenRead:
      access = O_RDONLY;
      break;
    case fmOpenWrite:
      access = O_WRONLY;
      break;
    case fmOpenReadWrite:
      access = O_RDWR;
      break;
    default:
      SetLastError(kErrorInvalidParameter);
      return kInvalidHandle;
  }
  std::string hostPath;
  const auto use = access == O_RDONLY ? detail::TAccess::Read : detail::TAccess::Write;
  if (!detail::Resolve(path, use, hostPath)) return kInvalidHandle;
  if (SeamsFailOpen(hostPath)) return kInvalidHandle;
  return OpenRegular(hostPath, access);
}

THandle FileCreate(const std::string& path) {
  std::string hostPath;
  if (!detail::Resolve(path, detail::TAccess::Write, hostPath)) return kInvalidHandle;
  if (SeamsFailOpen(hostPath)) return kInvalidHandle;
  return detail::CreateReplacingAt(AT_FDCWD, hostPath, hostPath);
}

namespace detail {

int KeepIfRegular(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    SetLastError(kErrorAccessDenied);
    return kInvalidHandle;
  }
  const int statusFlags = ::fcntl(fd, F_GETFL);
  if (statusFlags >= 0) ::fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK);
  SetLastError(kErrorSuccess);
  return fd;
}

THandle CreateReplacingAt(int dirFd, const std::string& name, const std::string& hostPath) {
  // Most names are new: made exclusively, nothing stood there and nothing needs a look.
  int fd = -1;
  do {
    fd = ::openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    SetLastError(kErrorSuccess);
    return static_cast<THandle>(fd);
  }
  if (errno != EEXIST) {
    FailFromErrno(hostPath);
    return kInvalidHandle;
  }
  // What stands in the file's place decides: only a regular file with no other name may be
  // truncated. A symbolic link, a hard link (whose other name may lie anywhere), a pipe or a device
  // is removed first, so the new file never writes through to what it names.
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) {
      SetLastError(kErrorAccessDenied);
      return kInvalidHandle;
    }
    if (!S_ISREG(st.st_mode) || st.st_nlink > 1) {
      if (::unlinkat(dirFd, name.c_str(), 0) != 0 && errno != ENOENT) {
        FailFromErrno(hostPath);
        return kInvalidHandle;
      }
    }
  }
  do {
    fd =
        ::openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    FailFromErrno(hostPath);
    return kInvalidHandle;
  }
  // Something may have taken the name between the look and the open: check what was opened.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1) {
    ::close(fd);
    SetLastError(kErrorAccessDenied);
    return kInvalidHandle;
  }
  if (st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
    FailFromErrno(hostPath);
    ::close(fd);
    return kInvalidHandle;
  }
  const int statusFlags = ::fcntl(fd, F_GETFL);
  if (statusFlags >= 0) ::fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK);
  SetLastError(kErrorSuccess);
  return static_cast<THandle>(fd);
}

bool SeamsFailOpen(const std::string& hostPath) {
  TSeams* seams = CurrentSeams();
  if (seams == nullptr || !seams->FailOpen || !seams->FailOpen(hostPath)) return false;
  SetLastError(seams->OpenError);
  return true;
}

}  // namespace detail

int32_t FileRead(THandle handle, void* buffer, uint32_t count) {
  if (handle < 0) {
    SetLastError(kErrorInvalidHandle);
    return -1;
  }
  const size_t wanted = count > INT32_MAX ? INT32_MAX : count;
  size_t done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (done < wanted) {
    const ssize_t got = ::read(handle, out + done, wanted - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (done > 0) break;  // report what arrived; the error comes again on the next call
      detail::FailFromErrno();
      return -1;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  SetLastError(kErrorSuccess);
  return static_cast<int32_t>(done);
}

int32_t FileReadAt(THandle handle, void* buffer, uint32_t count, int64_t offset) {
  if (handle < 0 || offset < 0) {
    SetLastError(kErrorInvalidHandle);
    return -1;
  }
  const size_t wanted = count > INT32_MAX ? INT32_MAX : count;
  size_t done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (done < wanted) {
    const off_t at = static_cast<off_t>(offset) + static_cast<off_t>(done);
    const ssize_t got = ::pread(handle, out + done, wanted - done, at);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (done > 0) break;
      detail::FailFromErrno();
      return -1;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  SetLastError(kErrorSuccess);
  return static_cast<int32_t>(done);
}

int32_t FileWrite(THandle handle, const void* buffer, uint32_t count) {
  if (handle < 0) {
    SetLastError(kErrorInvalidHandle);
    return -1;
  }
  size_t wanted = count > INT32_MAX ? INT32_MAX : count;
  // Injected limits: a short write without an error, or a full disk.
  TSeams* seams = CurrentSeams();
  bool diskFull = false;
  if (seams != nullptr) {
    auto room = [&](int64_t limit) -> size_t {
      const int64_t left = limit - seams->BytesWritten;
      return left <= 0 ? 0 : static_cast<size_t>(left);
    };
    if (seams->DiskFullAfter >= 0 && room(seams->DiskFullAfter) < wanted) {
      wanted = room(seams->DiskFullAfter);
      diskFull = true;
    }
    if (seams->ShortWriteAfter >= 0 && room(seams->ShortWriteAfter) < wanted) {
      wanted = room(seams->ShortWriteAfter);  // short, and no error code
      diskFull = false;
    }
  }
  size_t done = 0;
  const auto* in = static_cast<const unsigned char*>(buffer);
  uint32_t error = kErrorSuccess;
  while (done < wanted) {
    const ssize_t put = ::write(handle, in + done, wanted - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      error = detail::ErrorFromErrno(errno);
      break;
    }
    if (put == 0) {
      error = kErrorDiskFull;
      break;
    }
    done += static_cast<size_t>(put);
  }
  if (seams != nullptr) seams->BytesWritten += static_cast<int64_t>(done);
  if (error == kErrorSuccess && diskFull) error = kErrorDiskFull;
  SetLastError(error);
  if (error != kErrorSuccess && done == 0) return -1;
  return static_cast<int32_t>(done);
}

int64_t FileSeek(THandle handle, int64_t offset, int origin) {
  if (handle < 0) {
    SetLastError(kErrorInvalidHandle);
    return -1;
  }
  int whence = SEEK_SET;
  switch (origin) {
    case kSeekBegin:
      whence = SEEK_SET;
      break;
    case kSeekCurrent:
      whence = SEEK_CUR;
      break;
    case kSeekEnd:
      whence = SEEK_END;
      break;
    default:
      SetLastError(kErrorInvalidParameter);
      return -1;
  }
  const off_t position = ::lseek(handle, static_cast<off_t>(offset), whence);
  if (position < 0) {
    SetLastError(errno == EINVAL ? kErrorNegativeSeek : detail::ErrorFromErrno(errno));
    return -1;
  }
  SetLastError(kErrorSuccess);
  return static_cast<int64_t>(position);
}

int64_t FileSize(THandle handle) {
  struct stat st {};
  if (handle < 0 || ::fstat(handle, &st) != 0) {
    SetLastError(handle < 0 ? kErrorInvalidHandle : detail::ErrorFromErrno(errno));
    return -1;
  }
  SetLastError(kErrorSuccess);
  return static_cast<int64_t>(st.st_size);
}

bool SetEndOfFile(THandle handle) {
  if (handle < 0) return detail::Fail(kErrorInvalidHandle);
  const off_t position = ::lseek(handle, 0, SEEK_CUR);
  if (position < 0) return detail::FailFromErrno();
  int rc = 0;
  do {
    rc = ::ftruncate(handle, position);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return detail::FailFromErrno();
  SetLastError(kErrorSuccess);
  return true;
}

bool FileClose(THandle handle) {
  if (handle < 0) return detail::Fail(kErrorInvalidHandle);
  // close() is not retried after EINTR: on Linux the descriptor is gone either way.
  if (::close(handle) != 0 && errno != EINTR) return detail::FailFromErrno();
  SetLastError(kErrorSuccess);
  return true;
}

}  // namespace host
