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
  // Besides C: and Z:, only the volumes this machine has mounted (none on a build server).
  uint32_t mounted = 0;
  for (const auto& volume : host::MountedVolumes()) mounted |= 1u << (volume.Letter - 'A');
  EXPECT_EQ(host::GetLogicalDrives() & ~mounted, (1u << 2) | (1u << 25));
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

// ---- mounted volumes, discovered from a mount table handed in through the seams ----

class HostMountedVolumes : public ::testing::Test {
 protected:
  HostMountedVolumes() {
    sys_.WriteFile("block/sdb/removable", "1\n");
    sys_.WriteFile("block/sdc/removable", "0\n");
    sys_.WriteFile("block/mmcblk0/removable", "1\n");
    sys_.WriteFile("block/nvme0n1/removable", "0\n");
    seams_.SysRoot = sys_.HostPath();
    seams_.UserName = "alice";
    seams_.MountTable =
        "proc /proc proc rw 0 0\n"
        "tmpfs /media/alice/ram tmpfs rw 0 0\n"         // memory, not a volume
        "/dev/sdb1 /media/alice/STICK vfat rw 0 0\n"    // removable disk
        "/dev/sr0 /media/alice/CDROM iso9660 ro 0 0\n"  // optical
        "server:/export /mnt/net nfs4 rw 0 0\n"         // network
        "/dev/sdc1 /mnt ext4 rw 0 0\n"                  // fixed, and /mnt exists: ready
        "/dev/sdd1 /media/bob/OTHER vfat rw 0 0\n"      // another user's
        "/dev/sde1 /media/alice/a/b vfat rw 0 0\n"      // too deep
        "/dev/sdf1 /srv/data ext4 rw 0 0\n"             // not where volumes go
        "/dev/sdg1 /media/alice/.. vfat rw 0 0\n"       // not a folder of its own
        "/dev/nvme0n1p1 /run/media/alice/Fast\\040Disk ext4 rw 0 0\n"
        "/dev/mmcblk0p1 /media/card/ vfat rw 0 0\n"
        "garbage\n"
        "/dev/sdb1 /media/alice/STICK exfat rw 0 0\n";  // mounted again over the first
  }
  TempDir sys_;
  host::TSeams seams_;
};

TEST_F(HostMountedVolumes, LettersTypesLabelsAndReadiness) {
  host::ScopedSeams scope(seams_);
  const auto volumes = host::MountedVolumes();
  ASSERT_EQ(volumes.size(), 6u);
  const struct {
    char letter;
    const char* point;
    const char* label;
    host::TDriveType type;
    const char* fileSystem;
  } expected[] = {
      {'D', "/media/alice/STICK", "STICK", host::dtRemovable, "exfat"},
      {'E', "/media/alice/CDROM", "CDROM", host::dtCdRom, "iso9660"},
      {'F', "/mnt/net", "net", host::dtRemote, "nfs4"},
      {'G', "/mnt", "mnt", host::dtFixed, "ext4"},
      {'H', "/run/media/alice/Fast Disk", "Fast Disk", host::dtFixed, "ext4"},
      {'I', "/media/card", "card", host::dtRemovable, "vfat"},
  };
  for (size_t i = 0; i < volumes.size(); ++i) {
    SCOPED_TRACE(expected[i].point);
    EXPECT_EQ(volumes[i].Letter, expected[i].letter);
    EXPECT_EQ(volumes[i].MountPoint, expected[i].point);
    EXPECT_EQ(volumes[i].Label, expected[i].label);
    EXPECT_EQ(volumes[i].Type, expected[i].type);
    EXPECT_EQ(volumes[i].FileSystemName, expected[i].fileSystem);
    EXPECT_EQ(volumes[i].Ready, std::string(expected[i].point) == "/mnt");
  }
  // The drive services see them.
  EXPECT_EQ(host::GetLogicalDrives(), (1u << 2) | (1u << 25) | (0x3Fu << 3));  // C, Z, D..I
  EXPECT_EQ(host::GetDriveType("D:\\"), host::dtRemovable);
  EXPECT_EQ(host::GetDriveType("e:\\"), host::dtCdRom);
  EXPECT_FALSE(host::DriveReady("D:\\"));
  EXPECT_TRUE(host::DriveReady("G:\\"));
  host::TVolumeInfo info;
  EXPECT_FALSE(host::GetVolumeInformation("D:\\", info));
  EXPECT_EQ(host::LastError(), host::kErrorNotReady);
  ASSERT_TRUE(host::GetVolumeInformation("G:\\", info));
  EXPECT_EQ(info.Label, "mnt");
  EXPECT_EQ(info.FileSystemName, "ext4");
  uint64_t freeBytes = 0, totalBytes = 0;
  EXPECT_TRUE(host::GetDiskFreeSpace("G:\\", freeBytes, totalBytes));
  EXPECT_EQ(host::GetDriveType("J:\\"), host::dtNoRootDir);
}

TEST_F(HostMountedVolumes, PathsMapBothWays) {
  host::ScopedSeams scope(seams_);
  std::string hostPath;
  ASSERT_TRUE(host::ToHostPath("G:\\x\\y.txt", hostPath));
  EXPECT_EQ(hostPath, "/mnt/x/y.txt");
  EXPECT_FALSE(host::ToHostPath("D:\\docs", hostPath));  // nothing is mounted there really
  EXPECT_EQ(host::LastError(), host::kErrorNotReady);
  EXPECT_EQ(host::FromHostPath("/media/alice/STICK/docs/a.txt"), "D:\\docs\\a.txt");
  EXPECT_EQ(host::FromHostPath("/run/media/alice/Fast Disk"), "H:\\");
  EXPECT_EQ(host::FromHostPath("/mnt/net/share"), "F:\\share");  // the longer mount point wins
  EXPECT_EQ(host::FromHostPath("/mnt/other"), "G:\\other");
  EXPECT_EQ(host::FromHostPath("/media/bob/OTHER/x"), "Z:\\media\\bob\\OTHER\\x");
}

TEST_F(HostMountedVolumes, FakeDrivesKeepTheirLettersAndYIsTheLast) {
  host::TFakeDrive fake;
  fake.Letter = 'D';
  seams_.Drives = {fake};
  host::ScopedSeams scope(seams_);
  auto volumes = host::MountedVolumes();
  ASSERT_FALSE(volumes.empty());
  EXPECT_EQ(volumes[0].Letter, 'E');
  EXPECT_EQ(volumes[0].MountPoint, "/media/alice/STICK");

  std::string table;
  for (int i = 0; i < 30; ++i)
    table += "/dev/sdx" + std::to_string(i) + " /mnt/v" + std::to_string(i) + " ext4 rw 0 0\n";
  seams_.MountTable = table;
  volumes = host::MountedVolumes();
  ASSERT_EQ(volumes.size(), 21u);  // E..Y
  EXPECT_EQ(volumes.back().Letter, 'Y');
  EXPECT_EQ(host::GetLogicalDrives() >> 26, 0u);
}

TEST_F(HostMountedVolumes, ArbitraryTablesNeverFail) {
  std::string bytes;
  uint32_t state = 12345;
  for (int round = 0; round < 200; ++round) {
    bytes.clear();
    for (int i = 0; i < 300; ++i) {
      state = state * 1103515245u + 12345u;
      const char pool[] = "/dev/sdb1 /media/alice/\\0407 \n\t\\x";
      bytes.push_back(pool[(state >> 16) % (sizeof pool - 1)]);
    }
    seams_.MountTable = bytes;
    host::ScopedSeams scope(seams_);
    for (const auto& volume : host::MountedVolumes()) {
      EXPECT_GE(volume.Letter, 'D');
      EXPECT_LE(volume.Letter, 'Y');
    }
  }
}
}  // namespace
