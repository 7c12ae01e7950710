// Tests of files by handle on real files in temporary folders: reading, writing, 64-bit seeks,
// truncation, errors in Windows numbering, injected short writes and full disks, a real size
// limit from the kernel, and fake drives that are write-protected or empty.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host.h"
#include "platform/seams.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::TempDir;

// Closes a handle at the end of a test, whatever happens.
class HandleGuard {
 public:
  explicit HandleGuard(host::THandle handle) : handle_(handle) {}
  ~HandleGuard() {
    if (handle_ >= 0) host::FileClose(handle_);
  }
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;
  host::THandle get() const { return handle_; }
  host::THandle release() {
    const host::THandle handle = handle_;
    handle_ = host::kInvalidHandle;
    return handle;
  }

 private:
  host::THandle handle_;
};

int32_t Write(host::THandle handle, const std::string& data) {
  return host::FileWrite(handle, data.data(), static_cast<uint32_t>(data.size()));
}

TEST(HostFiles, CreateWriteSeekReadTruncate) {
  TempDir dir;
  const std::string path = dir.System("data.bin");
  HandleGuard file(host::FileCreate(path));
  ASSERT_GE(file.get(), 0);
  EXPECT_EQ(Write(file.get(), "hello, world"), 12);
  EXPECT_EQ(host::FileSize(file.get()), 12);
  EXPECT_EQ(host::FileSeek(file.get(), 7, host::kSeekBegin), 7);
  char buffer[16] = {};
  EXPECT_EQ(host::FileRead(file.get(), buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "world");
  EXPECT_EQ(host::FileRead(file.get(), buffer, sizeof buffer), 0);  // at the end
  EXPECT_EQ(host::FileSeek(file.get(), -5, host::kSeekEnd), 7);
  EXPECT_EQ(host::FileSeek(file.get(), -2, host::kSeekCurrent), 5);
  ASSERT_TRUE(host::SetEndOfFile(file.get()));
  EXPECT_EQ(host::FileSize(file.get()), 5);
  EXPECT_EQ(host::FileSeek(file.get(), -1, host::kSeekBegin), -1);
  EXPECT_EQ(host::LastError(), host::kErrorNegativeSeek);
  ASSERT_TRUE(host::FileClose(file.release()));
  EXPECT_EQ(dir.ReadFile("data.bin"), "hello");

  // Create replaces an existing file; open keeps it.
  HandleGuard again(host::FileCreate(path));
  ASSERT_GE(again.get(), 0);
  EXPECT_EQ(host::FileSize(again.get()), 0);
}

TEST(HostFiles, SeeksBeyondFourGiB) {
  TempDir dir;
  HandleGuard file(host::FileCreate(dir.System("big.bin")));
  ASSERT_GE(file.get(), 0);
  const int64_t far = (int64_t{5} << 30) + 3;  // a sparse file: no disk space used
  ASSERT_EQ(host::FileSeek(file.get(), far, host::kSeekBegin), far);
  ASSERT_EQ(Write(file.get(), "x"), 1);
  EXPECT_EQ(host::FileSize(file.get()), far + 1);
  EXPECT_EQ(host::FileSeek(file.get(), 0, host::kSeekCurrent), far + 1);
  EXPECT_EQ(host::FileSeek(file.get(), -1, host::kSeekEnd), far);
  char c = 0;
  EXPECT_EQ(host::FileRead(file.get(), &c, 1), 1);
  EXPECT_EQ(c, 'x');
}

TEST(HostFiles, OpenModesAndErrors) {
  TempDir dir;
  dir.WriteFile("a.txt", "abc");
  {
    HandleGuard reader(
        host::FileOpen(dir.System("a.txt"), host::fmOpenRead | host::fmShareDenyWrite));
    ASSERT_GE(reader.get(), 0);
    EXPECT_EQ(Write(reader.get(), "x"), -1);  // opened for reading only
    EXPECT_EQ(host::FileSize(reader.get()), 3);
  }
  {
    HandleGuard writer(host::FileOpen(dir.System("a.txt"), host::fmOpenReadWrite));
    ASSERT_GE(writer.get(), 0);
    EXPECT_EQ(Write(writer.get(), "X"), 1);
  }
  EXPECT_EQ(dir.ReadFile("a.txt"), "Xbc");

  EXPECT_LT(host::FileOpen(dir.System("missing.txt"), host::fmOpenRead), 0);
  EXPECT_EQ(host::LastError(), host::kErrorFileNotFound);
  EXPECT_LT(host::FileOpen(dir.System("no\\such\\folder.txt"), host::fmOpenRead), 0);
  EXPECT_EQ(host::LastError(), host::kErrorPathNotFound);
  EXPECT_LT(host::FileCreate(dir.System("no\\such.txt")), 0);
  EXPECT_EQ(host::LastError(), host::kErrorPathNotFound);
  std::filesystem::create_directory(dir.Host("folder"));
  EXPECT_LT(host::FileOpen(dir.System("folder"), host::fmOpenRead), 0);
  EXPECT_EQ(host::LastError(), host::kErrorAccessDenied);
  EXPECT_LT(host::FileCreate(dir.System("folder")), 0);
  EXPECT_EQ(host::LastError(), host::kErrorAccessDenied);
  EXPECT_LT(host::FileOpen(dir.System("a.txt"), 0x0F), 0);
  EXPECT_EQ(host::LastError(), host::kErrorInvalidParameter);

  if (::geteuid() != 0) {  // the superuser may write anything
    std::filesystem::permissions(dir.Host("a.txt"), std::filesystem::perms::owner_read);
    EXPECT_LT(host::FileOpen(dir.System("a.txt"), host::fmOpenWrite), 0);
    EXPECT_EQ(host::LastError(), host::kErrorAccessDenied);
  }
}

TEST(HostFiles, BadHandlesReportInvalidHandle) {
  char c = 0;
  EXPECT_EQ(host::FileRead(host::kInvalidHandle, &c, 1), -1);
  EXPECT_EQ(host::LastError(), host::kErrorInvalidHandle);
  EXPECT_EQ(host::FileWrite(-5, &c, 1), -1);
  EXPECT_EQ(host::LastError(), host::kErrorInvalidHandle);
  EXPECT_EQ(host::FileSeek(-1, 0, host::kSeekBegin), -1);
  EXPECT_EQ(host::FileSize(-1), -1);
  EXPECT_FALSE(host::SetEndOfFile(-1));
  EXPECT_FALSE(host::FileClose(-1));
  EXPECT_EQ(host::LastError(), host::kErrorInvalidHandle);
}

TEST(HostFiles, PipesAreNotFilesAndDoNotBlock) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.Host("pipe").c_str(), 0600), 0);
  EXPECT_LT(host::FileOpen(dir.System("pipe"), host::fmOpenRead), 0);
  EXPECT_EQ(host::LastError(), host::kErrorAccessDenied);
  // Creating in its place replaces the pipe with a file, without blocking on it.
  HandleGuard created(host::FileCreate(dir.System("pipe")));
  EXPECT_GE(created.get(), 0);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.Host("pipe")));
}

TEST(HostFiles, CreateReplacesALinkInsteadOfWritingThroughIt) {
  TempDir dir, outside;
  outside.WriteFile("victim.txt", "keep me");
  std::filesystem::create_symlink(outside.Host("victim.txt"), dir.Host("out.txt"));
  HandleGuard file(host::FileCreate(dir.System("out.txt")));
  ASSERT_GE(file.get(), 0);
  EXPECT_EQ(Write(file.get(), "new"), 3);
  EXPECT_EQ(outside.ReadFile("victim.txt"), "keep me");
  EXPECT_FALSE(std::filesystem::is_symlink(dir.Host("out.txt")));
  EXPECT_EQ(dir.ReadFile("out.txt"), "new");
}

TEST(HostFiles, InjectedDiskFullGivesShortCountThenError) {
  TempDir dir;
  host::TSeams seams;
  seams.DiskFullAfter = 10;
  host::ScopedSeams scope(seams);
  HandleGuard file(host::FileCreate(dir.System("full.bin")));
  ASSERT_GE(file.get(), 0);
  EXPECT_EQ(Write(file.get(), "123456"), 6);
  EXPECT_EQ(host::LastError(), host::kErrorSuccess);
  EXPECT_EQ(Write(file.get(), "abcdef"), 4);
  EXPECT_EQ(host::LastError(), host::kErrorDiskFull);
  EXPECT_EQ(Write(file.get(), "z"), -1);
  EXPECT_EQ(host::LastError(), host::kErrorDiskFull);
  EXPECT_EQ(seams.BytesWritten.load(), 10);
  EXPECT_EQ(host::FileSize(file.get()), 10);
  EXPECT_EQ(dir.ReadFile("full.bin"), "123456abcd");
}

TEST(HostFiles, InjectedShortWriteHasNoErrorCode) {
  TempDir dir;
  host::TSeams seams;
  seams.ShortWriteAfter = 5;
  seams.BytesWritten = 2;  // counting goes on from where the test sets it
  host::ScopedSeams scope(seams);
  HandleGuard file(host::FileCreate(dir.System("short.bin")));
  ASSERT_GE(file.get(), 0);
  EXPECT_EQ(Write(file.get(), "abcdef"), 3);
  EXPECT_EQ(host::LastError(), host::kErrorSuccess);
  EXPECT_EQ(Write(file.get(), "gh"), 0);
  EXPECT_EQ(host::LastError(), host::kErrorSuccess);
  EXPECT_EQ(seams.BytesWritten.load(), 5);
}

TEST(HostFiles, InjectedOpenFailures) {
  TempDir dir;
  dir.WriteFile("locked.zip", "PK");
  dir.WriteFile("free.zip", "PK");
  host::TSeams seams;
  seams.FailOpen = [](const std::string& hostPath) {
    return hostPath.find("locked") != std::string::npos;
  };
  seams.OpenError = host::kErrorSharingViolation;
  host::ScopedSeams scope(seams);
  EXPECT_LT(host::FileOpen(dir.System("locked.zip"), host::fmOpenRead), 0);
  EXPECT_EQ(host::LastError(), host::kErrorSharingViolation);
  EXPECT_LT(host::FileCreate(dir.System("locked.out")), 0);
  HandleGuard free(host::FileOpen(dir.System("free.zip"), host::fmOpenRead));
  EXPECT_GE(free.get(), 0);
}

// The kernel's own "file too large" (a size limit) comes back as a full disk, as ENOSPC would.
TEST(HostFiles, RealSizeLimitIsDiskFull) {
  TempDir dir;
  HandleGuard file(host::FileCreate(dir.System("limited.bin")));
  ASSERT_GE(file.get(), 0);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  rlimit limit = old;
  limit.rlim_cur = 100;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const std::string data(150, 'q');
  const int32_t first = Write(file.get(), data);
  const uint32_t firstError = host::LastError();
  const int32_t second = Write(file.get(), data);
  const uint32_t secondError = host::LastError();
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_EQ(first, 100);
  EXPECT_EQ(firstError, host::kErrorDiskFull);
  EXPECT_EQ(second, -1);
  EXPECT_EQ(secondError, host::kErrorDiskFull);
}

class HostFakeDriveFiles : public ::testing::Test {
 protected:
  HostFakeDriveFiles() : scope_(Prepare()) {}

  host::TSeams& Prepare() {
    disk_.WriteFile("set.zip", "PK\x05\x06");
    host::TFakeDrive drive;
    drive.Letter = 'A';
    drive.HostFolder = disk_.HostPath();
    seams_.Drives.push_back(drive);
    return seams_;
  }
  host::TFakeDrive& Drive() { return seams_.Drives[0]; }

  TempDir disk_;
  host::TSeams seams_;
  host::ScopedSeams scope_;
};

TEST_F(HostFakeDriveFiles, WriteProtectedDiskReadsButRefusesWrites) {
  Drive().WriteProtected = true;
  HandleGuard reader(host::FileOpen("A:\\set.zip", host::fmOpenRead));
  ASSERT_GE(reader.get(), 0);
  char buffer[4];
  EXPECT_EQ(host::FileRead(reader.get(), buffer, 4), 4);
  EXPECT_LT(host::FileOpen("a:\\set.zip", host::fmOpenReadWrite), 0);
  EXPECT_EQ(host::LastError(), host::kErrorWriteProtect);
  EXPECT_LT(host::FileCreate("A:\\new.bin"), 0);
  EXPECT_EQ(host::LastError(), host::kErrorWriteProtect);
  EXPECT_FALSE(std::filesystem::exists(disk_.Host("new.bin")));
}

TEST_F(HostFakeDriveFiles, EmptyDriveIsNotReady) {
  Drive().Ready = false;
  EXPECT_LT(host::FileOpen("A:\\set.zip", host::fmOpenRead), 0);
  EXPECT_EQ(host::LastError(), host::kErrorNotReady);
  EXPECT_LT(host::FileCreate("A:\\x"), 0);
  EXPECT_EQ(host::LastError(), host::kErrorNotReady);
  // The disk goes in: the same name works.
  Drive().Ready = true;
  HandleGuard reader(host::FileOpen("A:\\set.zip", host::fmOpenRead));
  EXPECT_GE(reader.get(), 0);
}

TEST_F(HostFakeDriveFiles, SwappingTheDiskChangesWhatTheDriveHolds) {
  TempDir second;
  second.WriteFile("set.zip", "second disk");
  Drive().HostFolder = second.HostPath();
  HandleGuard reader(host::FileOpen("A:\\set.zip", host::fmOpenRead));
  ASSERT_GE(reader.get(), 0);
  EXPECT_EQ(host::FileSize(reader.get()), 11);
}

}  // namespace

// ---- output below a chosen folder: nothing planted there beforehand is written through ----------

TEST(HostFilesBelow, CreateReplacesAHardLinkAndAnyNonRegularFile) {
  TempDir dir, outside;
  outside.WriteFile("victim.txt", "keep me");
  ASSERT_EQ(::link(outside.Host("victim.txt").c_str(), dir.Host("hard.txt").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.Host("pipe").c_str(), 0600), 0);
  for (const char* name : {"hard.txt", "pipe"}) {
    SCOPED_TRACE(name);
    HandleGuard plain(host::FileCreate(dir.System(name)));
    ASSERT_GE(plain.get(), 0);
    EXPECT_EQ(Write(plain.get(), "new"), 3);
  }
  HandleGuard below(host::FileCreateBelow(dir.SystemPath(), "hard.txt"));
  ASSERT_GE(below.get(), 0);
  EXPECT_EQ(outside.ReadFile("victim.txt"), "keep me");
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.Host("pipe")));
  struct stat st {};
  ASSERT_EQ(::stat(outside.Host("victim.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_nlink, 1u);
  // A file with one name is truncated in place, as before.
  dir.WriteFile("one.txt", "old contents");
  HandleGuard one(host::FileCreateBelow(dir.SystemPath(), "one.txt"));
  ASSERT_GE(one.get(), 0);
  EXPECT_EQ(host::FileSize(one.get()), 0);
}

TEST(HostFilesBelow, LinksPlantedOnTheWayAreNeverFollowed) {
  TempDir dir, outside;
  std::filesystem::create_directory_symlink(outside.HostPath(), dir.Host("linked"));
  dir.WriteFile("file", "x");
  std::filesystem::create_directory(dir.Host("real"));
  std::filesystem::create_directory_symlink(outside.HostPath(), dir.Host("real/deeper"));
  for (const char* relative : {"linked\\x.txt", "linked\\new\\x.txt", "real\\deeper\\x.txt"}) {
    SCOPED_TRACE(relative);
    EXPECT_LT(host::FileCreateBelow(dir.SystemPath(), relative), 0);
    EXPECT_EQ(host::LastError(), host::kErrorStoppedOnSymlink);
    EXPECT_FALSE(host::PathBelowIsPlain(dir.SystemPath(), relative));
    EXPECT_FALSE(host::CreateDirectoryBelow(dir.SystemPath(), relative));
    EXPECT_FALSE(host::DeleteFileBelow(dir.SystemPath(), relative));
  }
  EXPECT_LT(host::FileCreateBelow(dir.SystemPath(), "file\\x.txt"), 0);
  EXPECT_EQ(host::LastError(), host::kErrorStoppedOnSymlink);
  EXPECT_FALSE(host::LastErrorText().empty());
  EXPECT_TRUE(std::filesystem::is_empty(outside.HostPath()));
  // "." and ".." are refused, never resolved.
  EXPECT_LT(host::FileCreateBelow(dir.SystemPath(), "real\\..\\..\\x.txt"), 0);
  EXPECT_EQ(host::LastError(), host::kErrorInvalidName);
  // Missing levels are created as real folders; the destination itself may be a link.
  EXPECT_TRUE(host::PathBelowIsPlain(dir.SystemPath(), "a\\b\\c.txt"));
  HandleGuard made(host::FileCreateBelow(dir.SystemPath(), "a\\b\\c.txt"));
  ASSERT_GE(made.get(), 0);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.Host("a/b/c.txt")));
  EXPECT_TRUE(host::CreateDirectoryBelow(dir.System("linked"), "d\\e"));
  EXPECT_TRUE(std::filesystem::is_directory(outside.Host("d/e")));
  EXPECT_TRUE(host::DeleteFileBelow(dir.SystemPath(), "a\\b\\c.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir.Host("a/b/c.txt")));
}

// Open descriptors of this process.
size_t OpenDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

TEST(HostFilesBelow, AHeldWalkChecksEveryNewLevelAndLetsGoOfItsFolders) {
  TempDir dir, other, outside;
  const size_t before = OpenDescriptors();
  {
    host::TBelowFolder folder;
    const std::string base = dir.SystemPath();
    // Deeper than the levels that are held: made, written, and walked again from the held ones.
    std::string deep;
    for (int level = 0; level < 60; ++level) deep += "d" + std::to_string(level) + "\\";
    for (const char* leaf : {"one.txt", "two.txt"}) {
      HandleGuard file(folder.FileCreate(base, deep + leaf));
      ASSERT_GE(file.get(), 0) << host::LastErrorText();
      EXPECT_EQ(Write(file.get(), leaf), 7);
    }
    EXPECT_LE(OpenDescriptors(), before + 60);
    // A link planted beside the held folders, on a level not walked yet, still stops the walk.
    std::filesystem::create_directory_symlink(outside.HostPath(), dir.Host("d0/d1/link"));
    EXPECT_TRUE(folder.PathIsPlain(base, "d0\\d1\\d2\\x.txt"));
    EXPECT_FALSE(folder.PathIsPlain(base, "d0\\d1\\link\\x.txt"));
    EXPECT_EQ(host::LastError(), host::kErrorStoppedOnSymlink);
    EXPECT_LT(folder.FileCreate(base, "d0\\d1\\link\\x.txt"), 0);
    EXPECT_FALSE(folder.CreateDirectory(base, "d0\\d1\\link\\sub"));
    EXPECT_FALSE(folder.CreateSymlink(base, "d0\\d1\\link\\ln", "t"));
    // Back to the deep branch after the detour, then a folder, a link and a removal.
    EXPECT_TRUE(folder.DeleteFile(base, deep + "one.txt"));
    EXPECT_TRUE(folder.CreateDirectory(base, "d0\\made\\below"));
    EXPECT_TRUE(folder.CreateSymlink(base, "d0\\made\\ln", "below"));
    // Another destination starts over: nothing of the first is used for it.
    HandleGuard moved(folder.FileCreate(other.SystemPath(), "d0\\d1\\x.txt"));
    ASSERT_GE(moved.get(), 0);
    folder.Close();
    EXPECT_EQ(OpenDescriptors(), before + 1);  // only the file itself
  }
  EXPECT_EQ(OpenDescriptors(), before);
  std::string path = dir.HostPath();
  for (int level = 0; level < 60; ++level) path += "/d" + std::to_string(level);
  EXPECT_FALSE(std::filesystem::exists(path + "/one.txt"));
  EXPECT_EQ(dir.ReadFile(path.substr(dir.HostPath().size() + 1) + "/two.txt"), "two.txt");
  EXPECT_TRUE(std::filesystem::is_directory(dir.Host("d0/made/below")));
  EXPECT_EQ(std::filesystem::read_symlink(dir.Host("d0/made/ln")), "below");
  EXPECT_TRUE(std::filesystem::is_regular_file(other.Host("d0/d1/x.txt")));
  EXPECT_TRUE(std::filesystem::is_empty(outside.HostPath()));
}

// Names in a folder, hidden ones included.
std::vector<std::string> NamesIn(const std::string& hostPath) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(hostPath))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(HostFilesBelow, AStagedOutputLeavesWhatWasThereUntilItIsCommitted) {
  TempDir dir, outside;
  const std::string base = dir.SystemPath();
  host::TBelowFolder folder;
  std::string staged;
  // A free name is made in place: nothing to stage, and discarding removes only what was made.
  {
    HandleGuard made(folder.FileCreateStaged(base, "new.txt", staged));
    ASSERT_GE(made.get(), 0) << host::LastErrorText();
    EXPECT_TRUE(staged.empty());
  }
  EXPECT_TRUE(folder.Discard(base, "new.txt", staged));
  EXPECT_FALSE(std::filesystem::exists(dir.Host("new.txt")));

  // A person's file: the output goes beside it, and a discarded output leaves it as it was.
  dir.WriteFile("sub/keep.txt", "mine");
  {
    HandleGuard out(folder.FileCreateStaged(base, "sub\\keep.txt", staged));
    ASSERT_GE(out.get(), 0) << host::LastErrorText();
    ASSERT_FALSE(staged.empty());
    EXPECT_EQ(staged[0], '.');
    EXPECT_EQ(Write(out.get(), "damaged"), 7);
    EXPECT_EQ(dir.ReadFile("sub/keep.txt"), "mine");
  }
  EXPECT_TRUE(folder.Discard(base, "sub\\keep.txt", staged));
  EXPECT_EQ(NamesIn(dir.Host("sub")), std::vector<std::string>{"keep.txt"});
  EXPECT_EQ(dir.ReadFile("sub/keep.txt"), "mine");

  // A good output replaces it in one rename; another name of the old file keeps the old bytes.
  ASSERT_EQ(::link(dir.Host("sub/keep.txt").c_str(), outside.Host("other-name").c_str()), 0);
  {
    HandleGuard out(folder.FileCreateStaged(base, "sub\\keep.txt", staged));
    ASSERT_GE(out.get(), 0);
    EXPECT_EQ(Write(out.get(), "theirs"), 6);
  }
  EXPECT_TRUE(folder.Commit(base, "sub\\keep.txt", staged));
  EXPECT_EQ(dir.ReadFile("sub/keep.txt"), "theirs");
  EXPECT_EQ(outside.ReadFile("other-name"), "mine");
  EXPECT_EQ(NamesIn(dir.Host("sub")), std::vector<std::string>{"keep.txt"});

  // A link in the place is replaced by the file, never written through.
  outside.WriteFile("target.txt", "outside");
  std::filesystem::create_symlink(outside.Host("target.txt"), dir.Host("sub/link.txt"));
  {
    HandleGuard out(folder.FileCreateStaged(base, "sub\\link.txt", staged));
    ASSERT_GE(out.get(), 0);
    EXPECT_EQ(Write(out.get(), "inside"), 6);
  }
  EXPECT_TRUE(folder.Commit(base, "sub\\link.txt", staged));
  EXPECT_FALSE(std::filesystem::is_symlink(dir.Host("sub/link.txt")));
  EXPECT_EQ(dir.ReadFile("sub/link.txt"), "inside");
  EXPECT_EQ(outside.ReadFile("target.txt"), "outside");

  // A folder in the place is refused before anything is written.
  std::filesystem::create_directory(dir.Host("sub/folder"));
  EXPECT_LT(folder.FileCreateStaged(base, "sub\\folder", staged), 0);
  EXPECT_EQ(host::LastError(), host::kErrorAccessDenied);
}

// Files written before their names are known: nothing of them shows in the folder until one is
// named, a name goes to them as to a staged output, and one closed unnamed is gone.
TEST(HostFilesBelow, UnnamedFilesAreSeenOnlyOnceNamed) {
  TempDir dir, outside;
  const std::string base = dir.SystemPath();
  // A folder that does not exist yet has none (and is not made); once made, it has.
  host::TUnnamedFiles missing(base + "\\later");
  EXPECT_LT(missing.Create(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.Host("later")));
  std::filesystem::create_directory(dir.Host("later"));
  { HandleGuard now(missing.Create()); EXPECT_GE(now.get(), 0); }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Host("later")));

  host::TUnnamedFiles unnamed(base);
  host::TBelowFolder folder;
  std::string staged;
  // Named in a free place (its folders made): in place, and a discard removes it.
  {
    HandleGuard file(unnamed.Create());
    ASSERT_GE(file.get(), 0) << host::LastErrorText();
    EXPECT_EQ(Write(file.get(), "fresh"), 5);
    EXPECT_EQ(NamesIn(dir.HostPath()), std::vector<std::string>{"later"});
    ASSERT_TRUE(folder.LinkStaged(base, "a\\b\\new.txt", file.get(), staged))
        << host::LastErrorText();
    EXPECT_TRUE(staged.empty());
  }
  EXPECT_EQ(dir.ReadFile("a/b/new.txt"), "fresh");
  EXPECT_TRUE(folder.Discard(base, "a\\b\\new.txt", staged));
  EXPECT_TRUE(std::filesystem::is_empty(dir.Host("a/b")));

  // A person's file keeps its bytes until the named output is committed over it; another name of
  // the old file keeps the old bytes.
  dir.WriteFile("a/keep.txt", "mine");
  ASSERT_EQ(::link(dir.Host("a/keep.txt").c_str(), outside.Host("other-name").c_str()), 0);
  for (const bool commit : {false, true}) {
    {
      HandleGuard file(unnamed.Create());
      ASSERT_GE(file.get(), 0);
      EXPECT_EQ(Write(file.get(), "theirs"), 6);
      ASSERT_TRUE(folder.LinkStaged(base, "a\\keep.txt", file.get(), staged));
    }
    ASSERT_FALSE(staged.empty());
    EXPECT_EQ(staged[0], '.');
    EXPECT_EQ(dir.ReadFile("a/keep.txt"), "mine");
    if (commit) {
      EXPECT_TRUE(folder.Commit(base, "a\\keep.txt", staged));
    } else {
      EXPECT_TRUE(folder.Discard(base, "a\\keep.txt", staged));
    }
    EXPECT_EQ(NamesIn(dir.Host("a")), (std::vector<std::string>{"b", "keep.txt"}));
  }
  EXPECT_EQ(dir.ReadFile("a/keep.txt"), "theirs");
  EXPECT_EQ(outside.ReadFile("other-name"), "mine");

  // Nothing planted below the folder takes a name elsewhere; a folder in the place is refused.
  std::filesystem::create_directory_symlink(outside.HostPath(), dir.Host("away"));
  std::filesystem::create_directory(dir.Host("a/folder"));
  HandleGuard file(unnamed.Create());
  ASSERT_GE(file.get(), 0);
  EXPECT_FALSE(folder.LinkStaged(base, "away\\x.txt", file.get(), staged));
  EXPECT_EQ(host::LastError(), host::kErrorStoppedOnSymlink);
  EXPECT_FALSE(folder.LinkStaged(base, "a\\folder", file.get(), staged));
  EXPECT_EQ(host::LastError(), host::kErrorAccessDenied);
  EXPECT_EQ(NamesIn(outside.HostPath()), std::vector<std::string>{"other-name"});

  // The room it reports is the test seams' when they set a smaller one.
  EXPECT_GT(unnamed.FreeBytes(), 0);
  host::TSeams seams;
  seams.DiskFullAfter = 1000;
  seams.BytesWritten = 400;
  host::ScopedSeams scope(seams);
  EXPECT_EQ(unnamed.FreeBytes(), 600);
}

TEST(HostFilesBelow, AHeldFolderMovedAwayDuringARunReceivesNothingMore) {
  TempDir dir, outside;
  const std::string base = dir.SystemPath();
  host::TBelowFolder folder;
  {
    HandleGuard first(folder.FileCreate(base, "docs\\deep\\one.txt"));
    ASSERT_GE(first.get(), 0) << host::LastErrorText();
  }
  // Another process moves the folder out of the destination and leaves a link in its place.
  std::filesystem::rename(dir.Host("docs"), outside.Host("docs"));
  std::filesystem::create_directory_symlink(outside.Host("docs"), dir.Host("docs"));
  // The extractor looks before it makes (is the path plain?); the making still finds the change.
  folder.PathIsPlain(base, "docs\\deep\\two.txt");
  EXPECT_LT(folder.FileCreate(base, "docs\\deep\\two.txt"), 0);
  EXPECT_EQ(host::LastError(), host::kErrorFolderChanged);
  EXPECT_EQ(host::LastErrorText(), "the folder changed during extraction; not written");
  // Walked afresh, the link stops the next name.
  EXPECT_LT(folder.FileCreate(base, "docs\\deep\\three.txt"), 0);
  EXPECT_EQ(host::LastError(), host::kErrorStoppedOnSymlink);
  EXPECT_EQ(NamesIn(outside.Host("docs/deep")), std::vector<std::string>{"one.txt"});

  // A folder replaced by a real one: the name in work is refused, the next lands in the new one.
  std::filesystem::remove(dir.Host("docs"));
  {
    HandleGuard again(folder.FileCreate(base, "docs\\a.txt"));
    ASSERT_GE(again.get(), 0);
  }
  std::filesystem::rename(dir.Host("docs"), dir.Host("old"));
  std::filesystem::create_directory(dir.Host("docs"));
  EXPECT_FALSE(folder.CreateDirectory(base, "docs\\sub"));
  EXPECT_EQ(host::LastError(), host::kErrorFolderChanged);
  EXPECT_TRUE(folder.CreateDirectory(base, "docs\\sub"));
  EXPECT_TRUE(std::filesystem::is_directory(dir.Host("docs/sub")));
  EXPECT_FALSE(std::filesystem::exists(dir.Host("old/sub")));
}

TEST(HostFilesBelow, LongNamesAreWholeOrRefusedNeverCut) {
  TempDir dir;
  // A path of several kilobytes, in components the file system takes.
  std::string relative;
  for (int level = 0; level < 18; ++level) relative += std::string(200, char('a' + level)) + "\\";
  relative += "f.txt";
  HandleGuard deep(host::FileCreateBelow(dir.SystemPath(), relative));
  ASSERT_GE(deep.get(), 0) << host::LastErrorText();
  // One component longer than the file system allows is an error, not a shorter name.
  const std::string tooLong(300, 'n');
  EXPECT_LT(host::FileCreateBelow(dir.SystemPath(), tooLong), 0);
  EXPECT_EQ(host::LastError(), host::kErrorFilenameExcedRange);
  EXPECT_EQ(host::LastErrorText(), std::strerror(ENAMETOOLONG));
  for (const auto& entry : std::filesystem::directory_iterator(dir.HostPath()))
    EXPECT_EQ(entry.path().filename().string().size(), 200u);
}

TEST(HostFilesBelow, FailuresCarryTheSystemsReason) {
  TempDir dir;
  host::TSeams seams;
  seams.FailOpen = [](const std::string& hostPath) {
    return hostPath.find("deny") != std::string::npos;
  };
  {
    host::ScopedSeams scope(seams);
    EXPECT_LT(host::FileCreateBelow(dir.SystemPath(), "sub\\deny.txt"), 0);
    EXPECT_EQ(host::LastError(), host::kErrorAccessDenied);
    EXPECT_EQ(host::LastErrorText(), std::strerror(EACCES));
  }
  host::SetLastError(host::kErrorSuccess);
  EXPECT_EQ(host::LastErrorText(), "");
  EXPECT_FALSE(host::FileExists(dir.System("missing")));
  EXPECT_EQ(host::LastErrorText(), std::strerror(ENOENT));
}

TEST(HostFilesBelow, AttributesOfAnOpenFile) {
  TempDir dir;
  HandleGuard file(host::FileCreateBelow(dir.SystemPath(), "f.txt"));
  ASSERT_GE(file.get(), 0);
  EXPECT_TRUE(host::SetFileAttributes(file.get(), (0104755u << 16) | host::faArchive));
  struct stat st {};
  ASSERT_EQ(::stat(dir.Host("f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);  // never set-uid
  EXPECT_TRUE(host::SetFileAttributes(file.get(), host::faReadOnly));
  ASSERT_EQ(::stat(dir.Host("f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_FALSE(host::SetFileAttributes(host::kInvalidHandle, 0));
}
