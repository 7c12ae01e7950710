// Tests of files by handle on real files in temporary folders: reading, writing, 64-bit seeks,
// truncation, errors in Windows numbering, injected short writes and full disks, a real size
// limit from the kernel, and fake drives that are write-protected or empty.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

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
  EXPECT_LT(host::FileCreate(dir.System("pipe")), 0);
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
  EXPECT_EQ(seams.BytesWritten, 10);
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
  EXPECT_EQ(seams.BytesWritten, 5);
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
