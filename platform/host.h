// The host layer: the operating-system services the engine and the wizard expect of Windows,
// implemented on POSIX. Paths at this surface use Windows syntax ("C:\dir\file", "\tmp\x",
// relative "a\b") and are mapped to host paths at the system call, nowhere else:
//   C:\...  -> the user's home directory      Z:\...  -> / (the whole file system)
//   \...    -> /...                            a\b     -> a/b below the current directory
//   D: .. Y: -> removable volumes when found (or fake drives installed by tests)
//   \\server\share\... -> absent
// Failures are reported as the callers expect: a negative handle, false, INVALID_ATTRIBUTES, and a
// last-error code in Windows numbering (LastError()).
//
// This header does not include any POSIX header; only platform/*.cpp do.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace host {

// ---- last error, Windows numbering (only the codes the engine tests are mapped) -----------------
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorWriteProtect = 19;
constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorHandleDiskFull = 39;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorAlreadyExists = 183;
// Further codes the host layer reports when the system gives them.
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorNotSameDevice = 17;
constexpr uint32_t kErrorNoMoreFiles = 18;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorBadNetPath = 53;  // a UNC name: there are no network shares here
constexpr uint32_t kErrorNegativeSeek = 131;
constexpr uint32_t kErrorDirNotEmpty = 145;
constexpr uint32_t kErrorFilenameExcedRange = 206;
constexpr uint32_t kErrorIoDevice = 1117;
// A level of a path below an output folder is a symbolic link (or not a folder): never followed.
constexpr uint32_t kErrorStoppedOnSymlink = 681;
// A folder level held for a run of outputs is no longer the folder of that name (it was renamed or
// replaced during the run). An application-defined code (bit 29), as the system has none.
constexpr uint32_t kErrorFolderChanged = 0x20000001;

uint32_t LastError();  // per thread
void SetLastError(uint32_t code);
// The system's text for an error code ("The device is not ready."), as message boxes show it.
std::string SysErrorMessage(uint32_t code);
// The reason for the last failure in the words a user of this host knows ("Permission denied",
// "No space left on device", "File name too long"): the system's own text when the failure came
// from a system call, else a text for LastError(). Per thread, like LastError().
std::string LastErrorText();

// ---- path model ---------------------------------------------------------------------------------
// System path (Windows syntax) -> host path. False when the path names nothing on this host
// (a UNC name, a drive letter that is not present, a name holding a NUL byte).
bool ToHostPath(const std::string& systemPath, std::string& hostPath);
// Host path (absolute or relative to the current directory) -> system path: "C:\..." below the
// home directory, "Z:\..." elsewhere.
std::string FromHostPath(const std::string& hostPath);
// The home directory the C: drive stands for ($HOME, else the password entry's).
std::string HomeDirectory();

// ---- files by handle ----------------------------------------------------------------------------
using THandle = int32_t;  // negative: none
constexpr THandle kInvalidHandle = -1;

// Open modes (the low nibble is the access, the next one the sharing).
constexpr uint32_t fmOpenRead = 0x0000;
constexpr uint32_t fmOpenWrite = 0x0001;
constexpr uint32_t fmOpenReadWrite = 0x0002;
constexpr uint32_t fmShareCompat = 0x0000;
constexpr uint32_t fmShareExclusive = 0x0010;
constexpr uint32_t fmShareDenyWrite = 0x0020;
constexpr uint32_t fmShareDenyRead = 0x0030;
constexpr uint32_t fmShareDenyNone = 0x0040;

constexpr int kSeekBegin = 0;
constexpr int kSeekCurrent = 1;
constexpr int kSeekEnd = 2;

// An existing regular file (a folder, pipe or device gives kErrorAccessDenied); negative on
// failure. The sharing bits are accepted but not enforced: POSIX has no mandatory "deny write".
THandle FileOpen(const std::string& path, uint32_t mode);
// Create or truncate, read-write; negative on failure. Only a regular file with no other name is
// truncated in place: a symbolic link, a hard link (a file with more than one name), a pipe or a
// device in the file's place is removed and a new file made, never written through.
THandle FileCreate(const std::string& path);

// Output below a folder that the caller chose. `directory` (system syntax) is taken as given,
// links in it included, and created with its parents when missing; `relative` ("a\b\c.txt",
// "\"-separated, no "." or ".." components) is walked one level at a time without following any
// link: each missing folder is created, and an existing level that is a symbolic link or not a
// folder fails with kErrorStoppedOnSymlink. So nothing planted below `directory` beforehand can
// send a write elsewhere. A component longer than the file system allows fails with
// kErrorFilenameExcedRange; the whole path may be longer than the system's path limit.
THandle FileCreateBelow(const std::string& directory, const std::string& relative);
// Creates the folder `relative` and its missing parents below `directory` the same way; true when
// it exists as a real folder afterwards.
bool CreateDirectoryBelow(const std::string& directory, const std::string& relative);
// Whether every existing folder level of `relative` (its last component excluded) below
// `directory` is a real folder and not a link; missing levels are fine. False with
// kErrorStoppedOnSymlink (or the system's reason) otherwise.
bool PathBelowIsPlain(const std::string& directory, const std::string& relative);
// Makes `relative` below `directory` a symbolic link holding `target` (host text, taken as it
// is), walking and creating the folder levels the same way. Whatever stands in its place and is
// not a folder (a file, a link) is replaced; a folder there fails with kErrorAccessDenied.
bool CreateSymlinkBelow(const std::string& directory, const std::string& relative,
                        const std::string& target);
// Removes the file `relative` below `directory`, walking the levels the same way.
bool DeleteFileBelow(const std::string& directory, const std::string& relative);

// The same five operations for a whole run of outputs below one folder: the folder levels walked
// last stay open, so a member whose folder the previous one shared is checked and created without
// walking the levels again (a few dozen levels at most are held; deeper ones are walked each
// time). Each level is opened without following a link when it is first walked; a held level is
// used again only while it is still the folder of that name in its parent: when it was renamed
// away or replaced during the run, the held levels are let go and the name fails with
// kErrorFolderChanged (the next name is walked afresh). Close() lets go of the
// held folders (the destructor does too); a call with another `directory` starts over.
class TBelowFolder {
 public:
  TBelowFolder();
  ~TBelowFolder();
  TBelowFolder(const TBelowFolder&) = delete;
  TBelowFolder& operator=(const TBelowFolder&) = delete;

  THandle FileCreate(const std::string& directory, const std::string& relative);
  // Creates the output file `relative` so that nothing in its place is lost before the output is
  // known good. A free name is made as the file itself (one exclusive open) and `staged` is left
  // empty. When something already has the name (a person's file, a file written earlier in the
  // run, a link), a new hidden file is made beside it instead and `staged` gets its name:
  // Commit then puts it in the target's place in one rename, Discard removes it, and what stood
  // there is untouched until Commit. A folder in the place fails with kErrorAccessDenied.
  THandle FileCreateStaged(const std::string& directory, const std::string& relative,
                           std::string& staged);
  // Gives the unnamed file `file` (TUnnamedFiles) the name `relative`, as FileCreateStaged makes
  // an output: the free name itself (`staged` left empty), or a hidden name beside what has the
  // name (`staged` gets it), for Commit or Discard. False when the name cannot be given (another
  // file system below `directory`, a folder in the place, a link level...): `file` is left as it
  // was, and the caller makes the output afresh.
  bool LinkStaged(const std::string& directory, const std::string& relative, THandle file,
                  std::string& staged);
  // Renames the staged file over `relative` (whatever stands there and is not a folder is
  // replaced, never written through); on failure the staged file is removed.
  bool Commit(const std::string& directory, const std::string& relative,
              const std::string& staged);
  // Removes the output of `relative`: the staged file, or, when `staged` is empty, the file that
  // was made in the free name.
  bool Discard(const std::string& directory, const std::string& relative,
               const std::string& staged);
  bool CreateDirectory(const std::string& directory, const std::string& relative);
  bool PathIsPlain(const std::string& directory, const std::string& relative);
  bool CreateSymlink(const std::string& directory, const std::string& relative,
                     const std::string& target);
  bool DeleteFile(const std::string& directory, const std::string& relative);
  // Opens the existing regular file `relative` below `directory` for reading, walking the levels
  // the same way and following no link in the last place either (kErrorStoppedOnSymlink).
  THandle FileOpen(const std::string& directory, const std::string& relative);
  void Close();

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};
// Files without a name in the file system of a chosen folder, written before anyone knows what
// they will be called (a worker extracting ahead): TBelowFolder::LinkStaged names one; one that is
// closed without a name is gone, and nothing of it is ever seen in the folder. Not shared between
// threads.
class TUnnamedFiles {
 public:
  explicit TUnnamedFiles(std::string directory);  // Windows syntax; never created here
  ~TUnnamedFiles();
  TUnnamedFiles(const TUnnamedFiles&) = delete;
  TUnnamedFiles& operator=(const TUnnamedFiles&) = delete;

  // A new unnamed file open for writing, or kInvalidHandle when the folder does not exist (yet)
  // or its file system has no unnamed files.
  THandle Create();
  // The bytes that may still be written there (the test seams' limits included), -1 when unknown.
  int64_t FreeBytes();

 private:
  bool OpenFolder();

  std::string FDirectory;
  int FFolder = -1;
  bool FUnsupported = false;
};

// Bytes read (0 at the end), or -1 on failure.
int32_t FileRead(THandle handle, void* buffer, uint32_t count);
// Bytes written; may be short. Disk full gives a short count (or -1 when nothing was written) with
// LastError() == kErrorDiskFull.
int32_t FileWrite(THandle handle, const void* buffer, uint32_t count);
int64_t FileSeek(THandle handle, int64_t offset, int origin);  // new position, or -1
int64_t FileSize(THandle handle);                              // -1 on failure
bool SetEndOfFile(THandle handle);                             // at the current position
bool FileClose(THandle handle);

// ---- names --------------------------------------------------------------------------------------
constexpr uint32_t faReadOnly = 0x01;
constexpr uint32_t faHidden = 0x02;
constexpr uint32_t faSysFile = 0x04;
constexpr uint32_t faVolumeID = 0x08;
constexpr uint32_t faDirectory = 0x10;
constexpr uint32_t faArchive = 0x20;
constexpr uint32_t faAnyFile = 0x3F;
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;

bool FileExists(const std::string& path);  // exists and is not a directory
// Whether anything has exactly this name: a file, a folder, a link (even one that leads nowhere).
// No wildcards; names compare as the file system compares them (case-sensitively here).
bool NameExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// DOS attribute bits of the file (read-only when the owner cannot write; directory; archive for
// regular files; hidden for names starting with "."), or kInvalidAttributes.
uint32_t GetFileAttributes(const std::string& path);
// Applies DOS bits (read-only clears the write bits) and, when the high 16 bits hold a Unix mode
// (an attribute word of a zip made on Unix), its permission bits 0777 only: never set-uid,
// set-gid, sticky, or a file type. The Unix mode of a link or a device is not applied. Folders
// keep their owner's rwx bits (or later files could not go into them); a link is not changed
// (kErrorAccessDenied).
bool SetFileAttributes(const std::string& path, uint32_t attributes);
// The same for an open file (which is a regular file: FileOpen and FileCreate give no other).
bool SetFileAttributes(THandle handle, uint32_t attributes);
// Last-write time from a packed DOS date-time (date high 16 bits, time low 16 bits) in local time.
bool SetFileDate(const std::string& path, uint32_t dosDateTime);
bool SetFileDate(THandle handle, uint32_t dosDateTime);
// Last-write time exactly, in UTC: seconds since 1970-01-01 00:00:00 and nanoseconds (0 to
// 999,999,999). The path form never follows a symbolic link in the last place.
bool SetFileTimeUtc(THandle handle, int64_t seconds, uint32_t nanoseconds);
bool SetFileTimeUtc(const std::string& path, int64_t seconds, uint32_t nanoseconds);
// Last-write time as a local DOS date-time; 0 when it cannot be read.
uint32_t GetFileDate(const std::string& path);
bool CreateDirectory(const std::string& path);  // one level; false when it exists or fails
bool RemoveDirectory(const std::string& path);
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);  // an existing target: 183

// Directory search with "*" and "?" in the last component (as Windows FindFirstFile matches,
// without regard to ASCII case). "." and ".." are reported like Windows does.
struct TSearchRec {
  std::string Name;   // file name only
  uint32_t Attr = 0;  // DOS attribute bits
  int64_t Size = 0;
  uint32_t Time = 0;  // last-write time, local DOS date-time
};
class DirSearch {
 public:
  DirSearch();
  ~DirSearch();
  DirSearch(const DirSearch&) = delete;
  DirSearch& operator=(const DirSearch&) = delete;
  // True and the first entry when the pattern matches anything; `attributes` as FindFirst takes
  // them (entries with hidden, system or directory bits are reported only when asked for).
  bool First(const std::string& pattern, uint32_t attributes, TSearchRec& rec);
  bool Next(TSearchRec& rec);
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

// Full path of a (possibly relative) system path against the current directory, "." and ".."
// resolved, in system syntax ("C:\..." or "Z:\...").
std::string ExpandFileName(const std::string& path);
std::string GetCurrentDir();  // system syntax
bool SetCurrentDir(const std::string& path);
// Creates a new empty temporary file "arvXXXXXX.tmp" in the given directory (e.g. a drive root;
// empty: the current directory) and returns its full system path, or an empty string when the
// directory cannot be written (LastError() says why: kErrorWriteProtect, kErrorNotReady,
// kErrorAccessDenied, kErrorPathNotFound). A read-only mount on the fixed drives C: and Z: gives
// kErrorAccessDenied, not kErrorWriteProtect: only a removable disk is "write-protected".
std::string CreateTempFileIn(const std::string& directory);

// ---- drives -------------------------------------------------------------------------------------
// Drive types, numbered like GetDriveType's results.
enum TDriveType : uint32_t {
  dtUnknown = 0,
  dtNoRootDir = 1,
  dtRemovable = 2,
  dtFixed = 3,
  dtRemote = 4,
  dtCdRom = 5,
  dtRamDisk = 6,
};

// "C:\x\y" -> 'C'; a relative path takes the drive of the current directory, a rooted path
// without a drive the drive it lies on ("\tmp" -> 'Z', "\home\me\x" -> 'C' for that home), as
// the path model maps it; 0 for UNC paths.
char DriveOfPath(const std::string& path);
std::string DriveRoot(char drive);  // 'C' -> "C:\"
TDriveType GetDriveType(const std::string& root);
bool DriveReady(const std::string& root);  // a disk is in the drive
struct TVolumeInfo {
  std::string Label;
  uint32_t Serial = 0;
  uint32_t MaxComponentLength = 255;
  uint32_t FileSystemFlags = 0;
  std::string FileSystemName;
};
// False with LastError() == kErrorNotReady when no disk is in the drive.
bool GetVolumeInformation(const std::string& root, TVolumeInfo& info);
bool GetDiskFreeSpace(const std::string& root, uint64_t& freeBytes, uint64_t& totalBytes);
uint32_t GetLogicalDrives();  // bit 0 = A:, bit 2 = C:, bit 25 = Z:
// Volumes a person would look for, mounted under /media (/media/<user>/<name>, /media/<name>),
// /run/media/<user>/<name> and /mnt (/mnt itself or /mnt/<name>), each with a drive letter of its
// own from D: on (in mount order, skipping letters that fake drives take). Only file systems on a
// device ("/dev/...") or on the network count; pseudo and memory file systems never do.
struct TMountedVolume {
  char Letter = 0;
  std::string MountPoint;  // host path
  std::string Device;      // "/dev/sdb1", "server:/export", ...
  std::string FileSystemName;
  std::string Label;          // the mount folder's name ("STICK" for /media/me/STICK)
  TDriveType Type = dtFixed;  // dtRemovable when the kernel marks the disk removable, dtCdRom for
                              // optical media, dtRemote for network file systems
  bool Ready = true;          // the mount point can be read
};
std::vector<TMountedVolume> MountedVolumes();

// Whether the legacy floppy-kind service exists (it does not on this host: drive kind 0).
bool HasLegacyDriveKindService();

// ---- text and time ------------------------------------------------------------------------------
// For as long as it lives, the calling thread's C library converts multibyte text as UTF-8 (the
// engine's code page), whatever locale the process runs in: a library that converts names through
// the locale (libarchive) then gives them in UTF-8. Other threads are not touched.
class TUtf8TextScope {
 public:
  TUtf8TextScope();
  ~TUtf8TextScope();
  TUtf8TextScope(const TUtf8TextScope&) = delete;
  TUtf8TextScope& operator=(const TUtf8TextScope&) = delete;

 private:
  void* FPrevious = nullptr;  // the thread's locale before, restored at the end
};

// OEM code page 437 bytes -> UTF-8 (bytes below 0x80 unchanged).
std::string OemToAnsi(const std::string& oem);

struct TSystemTime {
  uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
  uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};
// The Windows time-zone record: UTC = local + Bias (minutes). A zero DaylightDate.wMonth means no
// daylight saving; a zero StandardDate.wYear means the relative form (wDay 1..5 = n-th/last
// weekday wDayOfWeek of the month, at wHour:wMinute local time).
struct TTimeZoneInformation {
  int32_t Bias = 0;
  int32_t StandardBias = 0;
  TSystemTime StandardDate;
  int32_t DaylightBias = 0;
  TSystemTime DaylightDate;
};
// Derived from the host's zone rules: TZ when set (a POSIX rule or a zone name), else the POSIX
// rule string at the end of /etc/localtime's zone file. A fixed record installed by a test wins.
TTimeZoneInformation GetTimeZoneInformation();
// Parses a POSIX TZ rule ("CET-1CEST,M3.5.0,M10.5.0/3"); false when it cannot be read.
bool TimeZoneFromPosixRule(const std::string& rule, TTimeZoneInformation& tz);

uint32_t GetTickCount();  // milliseconds, wraps after 49.7 days

// ---- shell and GUI services ---------------------------------------------------------------------
// The GUI installs real ones; the engine and the CLI see harmless defaults (launch fails, pumping
// does nothing, Retry/Cancel answers Cancel).
enum class TAnswer { Retry, Cancel };
struct TShellHooks {
  // Opens a folder or a web page in a new window: program and arguments as a vector, no shell.
  std::function<bool(const std::string& target)> OpenInNewWindow;
  std::function<void()> ProcessMessages;
  std::function<TAnswer(const std::string& text, const std::string& caption)> AskRetryCancel;
};
void InstallShellHooks(TShellHooks hooks);  // empty members fall back to the defaults
// Opens through the installed hook; without one it launches nothing and returns false
// (kErrorGenFailure). With seams that record launches, it records the target and returns true.
bool ShellOpen(const std::string& target);
void ProcessMessages();
TAnswer AskRetryCancel(const std::string& text, const std::string& caption);

// Starts a program (looked up in PATH) with this argument vector, without a shell and without
// waiting for it; the child is reaped when it ends. False when it cannot be started.
bool SpawnDetached(const std::vector<std::string>& argv);
// The desktop's opener: "xdg-open <target>", a web address unchanged, a folder or file as its
// absolute host path. Not a default: a GUI installs it as TShellHooks::OpenInNewWindow.
bool OpenWithDesktop(const std::string& target);

// ---- terminal (the command-line tool's prompts and progress) ------------------------------------
// Whether the standard stream (0 input, 1 output, 2 error) is a terminal.
bool IsTerminal(int standardStream);
// Width of the terminal on the standard stream in columns; 0 when unknown.
int TerminalWidth(int standardStream);
// Reads one line for a prompt. When standard input is a terminal, the prompt and the answer go
// through the controlling terminal (echo off when `secret`); otherwise the prompt goes to
// standard error and the line comes from standard input (so answers can be piped in). False at the
// end of input or when nothing can be read. The line comes without its line break.
bool ReadTerminalLine(const std::string& prompt, std::string& line, bool secret);

}  // namespace host
