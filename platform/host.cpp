// The host layer's common services: the per-thread last error and its texts, errno translation,
// the test seams' installation, the shell and GUI hooks with their defaults, the desktop launcher
// and the tick counter. Paths, files, drives and time live in the other host_*.cpp files.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "platform/host.h"
#include "platform/host_internal.h"
#include "platform/seams.h"

extern char** environ;

namespace host {

namespace {
thread_local uint32_t tLastError = kErrorSuccess;
// The errno behind tLastError when a system call failed (0 otherwise), for LastErrorText.
thread_local int tLastErrno = 0;
std::atomic<TSeams*> gSeams{nullptr};

std::mutex gHooksMutex;
TShellHooks gHooks;  // guarded by gHooksMutex
}  // namespace

uint32_t LastError() {
  return tLastError;
}
void SetLastError(uint32_t code) {
  tLastError = code;
  tLastErrno = 0;
}

std::string LastErrorText() {
  if (tLastErrno != 0) return std::strerror(tLastErrno);
  // Codes set without a system call (the test seams, our own checks): the system's words for the
  // nearest errno, so a user sees the same reason either way.
  int err = 0;
  switch (tLastError) {
    case kErrorSuccess:
      return std::string();
    case kErrorFileNotFound:
    case kErrorPathNotFound:
      err = ENOENT;
      break;
    case kErrorAccessDenied:
      err = EACCES;
      break;
    case kErrorWriteProtect:
      err = EROFS;
      break;
    case kErrorDiskFull:
    case kErrorHandleDiskFull:
      err = ENOSPC;
      break;
    case kErrorFilenameExcedRange:
      err = ENAMETOOLONG;
      break;
    case kErrorStoppedOnSymlink:
      return "a symbolic link or a file stands where a folder is expected";
    case kErrorFolderChanged:
      return "the folder changed during extraction; not written";
    default:
      return SysErrorMessage(tLastError);
  }
  return std::strerror(err);
}

std::string SysErrorMessage(uint32_t code) {
  switch (code) {
    case kErrorSuccess:
      return "The operation completed successfully.";
    case kErrorFileNotFound:
      return "The system cannot find the file specified.";
    case kErrorPathNotFound:
      return "The system cannot find the path specified.";
    case kErrorTooManyOpenFiles:
      return "The system cannot open the file.";
    case kErrorAccessDenied:
      return "Access is denied.";
    case kErrorInvalidHandle:
      return "The handle is invalid.";
    case kErrorNotEnoughMemory:
      return "Not enough storage is available to process this command.";
    case kErrorNotSameDevice:
      return "The system cannot move the file to a different disk drive.";
    case kErrorNoMoreFiles:
      return "There are no more files.";
    case kErrorWriteProtect:
      return "The media is write protected.";
    case kErrorNotReady:
      return "The device is not ready.";
    case kErrorGenFailure:
      return "A device attached to the system is not functioning.";
    case kErrorSharingViolation:
      return "The process cannot access the file because it is being used by another process.";
    case kErrorHandleDiskFull:
      return "The disk is full.";
    case kErrorBadNetPath:
      return "The network path was not found.";
    case kErrorFileExists:
      return "The file exists.";
    case kErrorInvalidParameter:
      return "The parameter is incorrect.";
    case kErrorDiskFull:
      return "There is not enough space on the disk.";
    case kErrorInvalidName:
      return "The filename, directory name, or volume label syntax is incorrect.";
    case kErrorNegativeSeek:
      return "An attempt was made to move the file pointer before the beginning of the file.";
    case kErrorDirNotEmpty:
      return "The directory is not empty.";
    case kErrorAlreadyExists:
      return "Cannot create a file when that file already exists.";
    case kErrorFilenameExcedRange:
      return "The filename or extension is too long.";
    case kErrorIoDevice:
      return "The request could not be performed because of an I/O device error.";
    case kErrorStoppedOnSymlink:
      return "The path goes through a symbolic link, which is not followed.";
    case kErrorFolderChanged:
      return "The folder changed during extraction.";
    default:
      return "System error " + std::to_string(code) + ".";
  }
}

namespace detail {

uint32_t ErrorFromErrno(int err, const std::string& hostPath) {
  switch (err) {
    case 0:
      return kErrorSuccess;
    case ENOENT: {
      // Windows says "path not found" when a folder on the way is missing.
      if (!hostPath.empty()) {
        std::string parent = hostPath;
        while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
        const auto slash = parent.rfind('/');
        if (slash != std::string::npos) {
          parent.resize(slash == 0 ? 1 : slash);
          struct stat st {};
          if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return kErrorPathNotFound;
        }
      }
      return kErrorFileNotFound;
    }
    case ENOTDIR:
    case ELOOP:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case EROFS:
      return kErrorWriteProtect;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG:
      return kErrorDiskFull;
    case EEXIST:
      return kErrorAlreadyExists;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case EXDEV:
      return kErrorNotSameDevice;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case EINVAL:
      return kErrorInvalidParameter;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EBUSY:
    case ETXTBSY:
      return kErrorSharingViolation;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
      return kErrorNotReady;
    case EIO:
      return kErrorIoDevice;
    default:
      return kErrorGenFailure;
  }
}

bool FailFromErrno(const std::string& hostPath) {
  const int err = errno;
  SetLastError(ErrorFromErrno(err, hostPath));
  tLastErrno = err;
  return false;
}

TFakeDrive* FakeDrive(char letter) {
  TSeams* seams = CurrentSeams();
  return seams ? seams->FindDrive(letter) : nullptr;
}

}  // namespace detail

// ---- seams ----

TFakeDrive* TSeams::FindDrive(char letter) {
  const char wanted = UpperAscii(letter);
  for (auto& drive : Drives) {
    if (UpperAscii(drive.Letter) == wanted) return &drive;
  }
  return nullptr;
}

ScopedSeams::ScopedSeams(TSeams& seams) : FPrevious(gSeams.exchange(&seams)) {}
ScopedSeams::~ScopedSeams() {
  gSeams.store(FPrevious);
}

TSeams* CurrentSeams() {
  return gSeams.load();
}

// ---- shell and GUI services ----

void InstallShellHooks(TShellHooks hooks) {
  std::lock_guard<std::mutex> lock(gHooksMutex);
  gHooks = std::move(hooks);
}

bool ShellOpen(const std::string& target) {
  if (TSeams* seams = CurrentSeams(); seams && seams->RecordLaunches) {
    seams->Launched.push_back(target);
    return true;
  }
  std::function<bool(const std::string&)> open;
  {
    std::lock_guard<std::mutex> lock(gHooksMutex);
    open = gHooks.OpenInNewWindow;
  }
  if (!open) return detail::Fail(kErrorGenFailure);  // no desktop to open anything on
  return open(target);
}

void ProcessMessages() {
  std::function<void()> pump;
  {
    std::lock_guard<std::mutex> lock(gHooksMutex);
    pump = gHooks.ProcessMessages;
  }
  if (pump) pump();
}

TAnswer AskRetryCancel(const std::string& text, const std::string& caption) {
  if (TSeams* seams = CurrentSeams()) {
    seams->Questions.push_back(text);
    if (seams->Answers.empty()) return TAnswer::Cancel;
    const TAnswer answer = seams->Answers.front();
    seams->Answers.erase(seams->Answers.begin());
    return answer;
  }
  std::function<TAnswer(const std::string&, const std::string&)> ask;
  {
    std::lock_guard<std::mutex> lock(gHooksMutex);
    ask = gHooks.AskRetryCancel;
  }
  return ask ? ask(text, caption) : TAnswer::Cancel;
}

bool SpawnDetached(const std::vector<std::string>& argv) {
  if (argv.empty() || argv.front().empty()) return detail::Fail(kErrorInvalidParameter);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& arg : argv) {
    if (arg.find('\0') != std::string::npos) return detail::Fail(kErrorInvalidParameter);
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);

  // The child must not hold our files open; standard input comes from /dev/null.
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return detail::Fail(kErrorNotEnoughMemory);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    SetLastError(detail::ErrorFromErrno(rc));
    return false;
  }
  // Reap the child whenever it ends so it never lingers as a zombie.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

bool OpenWithDesktop(const std::string& target) {
  std::string argument = target;
  const auto scheme = target.find("://");
  const bool isUrl =
      scheme != std::string::npos && scheme > 0 && target.find_first_of("\\/") > scheme;
  if (!isUrl) {
    // A folder or file in system syntax: hand the desktop an absolute host path (which starts
    // with "/", so it is never taken for an option).
    if (!ToHostPath(ExpandFileName(target), argument) || argument.empty() || argument[0] != '/') {
      if (LastError() == kErrorSuccess) SetLastError(kErrorPathNotFound);
      return false;
    }
  }
  return SpawnDetached({"xdg-open", argument});
}

uint32_t GetTickCount() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);  // wraps like the Windows counter
}

bool HasLegacyDriveKindService() {
  return false;
}

}  // namespace host
