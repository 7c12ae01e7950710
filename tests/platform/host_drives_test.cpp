// Tests of drives: the fixed C: and Z:, absent letters and UNC roots, fake removable drives whose
// disks are swapped between calls, and the nesting of installed seams.
#include <string>

#include <gtest/gtest.h>

#include "platform/host.h"
#include "platform/seams.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::TempDir;

TEST(HostDrives, FixedDrivesAndAbsentOnes) {
  EXPECT_EQ(host::GetDriveType("C:\\"), host::dtFixed);
  EXPECT_EQ(host::GetDriveType("z:\\"), host::dtFixed);
  EXPECT_EQ(host::GetDriveType("Q:\\"), host::dtNoRootDir);
  EXPECT_EQ(host::GetDriveType("\\\\server\\share\\"), host::dtNoRootDir);
  EXPECT_TRUE(host::DriveReady("C:\\"));
  EXPECT_TRUE(host::DriveReady("Z:\\"));
  EXPECT_FALSE(host::DriveReady("Q:\\"));
  EXPECT_EQ(host::GetLogicalDrives(), (1u << 2) | (1u << 25));
  EXPECT_FALSE(host::HasLegacyDriveKindService());
}

TEST(HostDrives, RealVolumeInformationAndSpace) {
  host::TVolumeInfo first, second;
  ASSERT_TRUE(host::GetVolumeInformation("Z:\\", first));
  ASSERT_TRUE(host::GetVolumeInformation("Z:\\", second));
  EXPECT_EQ(first.Serial, second.Serial);  // stable for the same volume
  EXPECT_FALSE(first.FileSystemName.empty());
  EXPECT_GT(first.MaxComponentLength, 0u);
  EXPECT_TRUE(host::GetVolumeInformation("C:\\", second));
  uint64_t freeBytes = 0, totalBytes = 0;
  ASSERT_TRUE(host::GetDiskFreeSpace("Z:\\", freeBytes, totalBytes));
  EXPECT_GT(totalBytes, 0u);
  EXPECT_LE(freeBytes, totalBytes);

  EXPECT_FALSE(host::GetVolumeInformation("Q:\\", first));
  EXPECT_EQ(host::LastError(), host::kErrorPathNotFound);
  EXPECT_FALSE(host::GetDiskFreeSpace("\\\\srv\\share\\", freeBytes, totalBytes));
  EXPECT_EQ(host::LastError(), host::kErrorBadNetPath);
}

class HostFakeDrives : public ::testing::Test {
 protected:
  HostFakeDrives() {
    host::TFakeDrive floppy;
    floppy.Letter = 'A';
    floppy.Label = "PKBACK# 001";
    floppy.Serial = 0x1234ABCD;
    floppy.HostFolder = disk_.HostPath();
    host::TFakeDrive cd;
    cd.Letter = 'e';
    cd.Type = host::dtCdRom;
    cd.FileSystemName = "CDFS";
    cd.WriteProtected = true;
    cd.HostFolder = disk_.HostPath();
    seams_.Drives = {floppy, cd};
  }
  host::TFakeDrive& Floppy() { return seams_.Drives[0]; }

  TempDir disk_;
  host::TSeams seams_;
};

TEST_F(HostFakeDrives, TypesReadinessAndTheDriveList) {
  host::ScopedSeams scope(seams_);
  EXPECT_EQ(host::GetDriveType("A:\\"), host::dtRemovable);
  EXPECT_EQ(host::GetDriveType("e:\\"), host::dtCdRom);
  EXPECT_EQ(host::GetLogicalDrives(), (1u << 0) | (1u << 2) | (1u << 4) | (1u << 25));
  EXPECT_TRUE(host::DriveReady("A:\\"));
  Floppy().Ready = false;
  EXPECT_FALSE(host::DriveReady("a:\\"));
  EXPECT_EQ(host::GetDriveType("A:\\"), host::dtRemovable);  // the drive is there, its disk not
  EXPECT_EQ(host::GetLogicalDrives() & 1u, 1u);
}

TEST_F(HostFakeDrives, VolumeInformationFollowsDiskSwaps) {
  host::ScopedSeams scope(seams_);
  host::TVolumeInfo info;
  ASSERT_TRUE(host::GetVolumeInformation("A:\\", info));
  EXPECT_EQ(info.Label, "PKBACK# 001");
  EXPECT_EQ(info.Serial, 0x1234ABCDu);
  EXPECT_EQ(info.FileSystemName, "FAT");

  // The user takes the disk out...
  Floppy().Ready = false;
  EXPECT_FALSE(host::GetVolumeInformation("A:\\", info));
  EXPECT_EQ(host::LastError(), host::kErrorNotReady);
  uint64_t freeBytes = 0, totalBytes = 0;
  EXPECT_FALSE(host::GetDiskFreeSpace("A:\\", freeBytes, totalBytes));
  EXPECT_EQ(host::LastError(), host::kErrorNotReady);
  EXPECT_FALSE(host::FileExists("A:\\anything"));

  // ...and puts in the next one.
  Floppy().Ready = true;
  Floppy().Label = "PKBACK# 002";
  Floppy().Serial = 0x55AA0002;
  Floppy().FreeBytes = 1000;
  ASSERT_TRUE(host::GetVolumeInformation("A:\\", info));
  EXPECT_EQ(info.Label, "PKBACK# 002");
  EXPECT_EQ(info.Serial, 0x55AA0002u);
  ASSERT_TRUE(host::GetDiskFreeSpace("A:\\", freeBytes, totalBytes));
  EXPECT_EQ(freeBytes, 1000u);
  EXPECT_EQ(totalBytes, 1440u * 1024u);
}

TEST_F(HostFakeDrives, WriteProtectionCoversEveryChange) {
  host::ScopedSeams scope(seams_);
  disk_.WriteFile("f.txt", "x");
  EXPECT_TRUE(host::FileExists("E:\\f.txt"));
  EXPECT_EQ(host::GetFileAttributes("E:\\f.txt"), host::faArchive);
  EXPECT_FALSE(host::SetFileAttributes("E:\\f.txt", host::faReadOnly));
  EXPECT_EQ(host::LastError(), host::kErrorWriteProtect);
  EXPECT_FALSE(host::SetFileDate("E:\\f.txt", 0x56CC6C00));
  EXPECT_EQ(host::LastError(), host::kErrorWriteProtect);
  EXPECT_FALSE(host::RenameFile("E:\\f.txt", "E:\\g.txt"));
  EXPECT_EQ(host::LastError(), host::kErrorWriteProtect);
  EXPECT_FALSE(host::RemoveDirectory("E:\\"));
  EXPECT_EQ(host::LastError(), host::kErrorWriteProtect);
  // The same folder through the writable drive letter accepts the change.
  EXPECT_TRUE(host::SetFileAttributes("A:\\f.txt", host::faArchive));
}

TEST_F(HostFakeDrives, ScopesNestAndTheInnermostWins) {
  EXPECT_EQ(host::CurrentSeams(), nullptr);
  {
    host::ScopedSeams outer(seams_);
    EXPECT_EQ(host::CurrentSeams(), &seams_);
    host::TSeams inner;
    {
      host::ScopedSeams innerScope(inner);
      EXPECT_EQ(host::CurrentSeams(), &inner);
      EXPECT_EQ(host::GetDriveType("A:\\"), host::dtNoRootDir);  // the inner seams have no A:
    }
    EXPECT_EQ(host::CurrentSeams(), &seams_);
    EXPECT_EQ(host::GetDriveType("A:\\"), host::dtRemovable);
  }
  EXPECT_EQ(host::CurrentSeams(), nullptr);
  EXPECT_EQ(host::GetDriveType("A:\\"), host::dtNoRootDir);
  EXPECT_EQ(seams_.FindDrive('a'), &seams_.Drives[0]);
  EXPECT_EQ(seams_.FindDrive('E'), &seams_.Drives[1]);
  EXPECT_EQ(seams_.FindDrive('F'), nullptr);
}

}  // namespace
