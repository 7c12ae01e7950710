// Tests of names on real files: DOS attributes and Unix permission bits, directories, delete and
// rename, wildcard directory search and temporary files on real and fake drives.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host.h"
#include "platform/seams.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::ScopedEnv;
using parcelo::test::TempDir;

mode_t ModeOf(const std::string& hostPath) {
  struct stat st {};
  EXPECT_EQ(::lstat(hostPath.c_str(), &st), 0) << hostPath;
  return st.st_mode & 07777;
}

TEST(HostAttributes, ReadFromTheFileSystem) {
  TempDir dir;
  dir.WriteFile("file.txt", "x");
  dir.WriteFile(".profile", "x");
  std::filesystem::create_directory(dir.Host("folder"));
  EXPECT_EQ(host::GetFileAttributes(dir.System("file.txt")), host::faArchive);
  EXPECT_EQ(host::GetFileAttributes(dir.System("folder")), host::faDirectory);
  EXPECT_EQ(host::GetFileAttributes(dir.System(".profile")), host::faArchive | host::faHidden);
  ::chmod(dir.Host("file.txt").c_str(), 0444);
  EXPECT_EQ(host::GetFileAttributes(dir.System("file.txt")), host::faArchive | host::faReadOnly);
  EXPECT_EQ(host::GetFileAttributes(dir.System("missing")), host::kInvalidAttributes);
  EXPECT_EQ(host::LastError(), host::kErrorFileNotFound);
  EXPECT_TRUE(host::FileExists(dir.System("file.txt")));
  EXPECT_FALSE(host::FileExists(dir.System("folder")));
  EXPECT_TRUE(host::DirectoryExists(dir.System("folder")));
  EXPECT_FALSE(host::DirectoryExists(dir.System("file.txt")));
  EXPECT_FALSE(host::FileExists(dir.System("missing")));
}

TEST(HostAttributes, DosReadOnlyComesAndGoes) {
  TempDir dir;
  dir.WriteFile("f", "x");
  ::chmod(dir.Host("f").c_str(), 0664);
  ASSERT_TRUE(host::SetFileAttributes(dir.System("f"), host::faReadOnly | host::faArchive));
  EXPECT_EQ(ModeOf(dir.Host("f")), 0444u);
  ASSERT_TRUE(host::SetFileAttributes(dir.System("f"), host::faArchive));
  EXPECT_EQ(ModeOf(dir.Host("f")), 0644u);  // the owner may write again
}

TEST(HostAttributes, UnixModeInTheHighWordGivesPermissionBitsOnly) {
  TempDir dir;
  dir.WriteFile("tool", "#!/bin/sh\n");
  ::chmod(dir.Host("tool").c_str(), 0600);
  ASSERT_TRUE(host::SetFileAttributes(dir.System("tool"), (0100755u << 16) | host::faArchive));
  EXPECT_EQ(ModeOf(dir.Host("tool")), 0755u);
  EXPECT_EQ(::access(dir.Host("tool").c_str(), X_OK), 0);

  // Set-uid, set-gid and sticky bits are never set, with or without a file type.
  for (const uint32_t mode : {04755u, 0104755u, 0102755u, 0101777u, 0107777u}) {
    ASSERT_TRUE(host::SetFileAttributes(dir.System("tool"), mode << 16)) << std::oct << mode;
    EXPECT_EQ(ModeOf(dir.Host("tool")), mode & 0777) << std::oct << mode;
  }
  // The DOS read-only bit still takes the write bits away.
  ASSERT_TRUE(host::SetFileAttributes(dir.System("tool"), (0100664u << 16) | host::faReadOnly));
  EXPECT_EQ(ModeOf(dir.Host("tool")), 0444u);
  // A Unix mode may itself be read-only.
  ASSERT_TRUE(host::SetFileAttributes(dir.System("tool"), 0100444u << 16));
  EXPECT_EQ(ModeOf(dir.Host("tool")), 0444u);
}

TEST(HostAttributes, ModesOfLinksAndDevicesAreNotApplied) {
  TempDir dir;
  dir.WriteFile("made-from-a-link", "target");
  ::chmod(dir.Host("made-from-a-link").c_str(), 0640);
  ASSERT_TRUE(host::SetFileAttributes(dir.System("made-from-a-link"), 0120777u << 16));
  EXPECT_EQ(ModeOf(dir.Host("made-from-a-link")), 0640u);
  ASSERT_TRUE(host::SetFileAttributes(dir.System("made-from-a-link"), 0020666u << 16));
  EXPECT_EQ(ModeOf(dir.Host("made-from-a-link")), 0640u);
}

TEST(HostAttributes, NeverChangesModesThroughALink) {
  TempDir dir, outside;
  outside.WriteFile("secret", "x");
  ::chmod(outside.Host("secret").c_str(), 0600);
  std::filesystem::create_symlink(outside.Host("secret"), dir.Host("link"));
  EXPECT_FALSE(host::SetFileAttributes(dir.System("link"), 0100777u << 16));
  EXPECT_EQ(host::LastError(), host::kErrorAccessDenied);
  EXPECT_EQ(ModeOf(outside.Host("secret")), 0600u);
}

TEST(HostAttributes, FoldersStayUsableByTheirOwner) {
  TempDir dir;
  std::filesystem::create_directory(dir.Host("d"));
  ASSERT_TRUE(host::SetFileAttributes(dir.System("d"), (040555u << 16) | host::faDirectory));
  EXPECT_EQ(ModeOf(dir.Host("d")), 0755u);
  ASSERT_TRUE(host::SetFileAttributes(dir.System("d"), host::faDirectory | host::faReadOnly));
  EXPECT_EQ(ModeOf(dir.Host("d")), 0755u);
  dir.WriteFile("d/still-possible", "x");
}

TEST(HostDirectories, CreateRemoveDeleteRename) {
  TempDir dir;
  ASSERT_TRUE(host::CreateDirectory(dir.System("new")));
  EXPECT_FALSE(host::CreateDirectory(dir.System("new")));
  EXPECT_EQ(host::LastError(), host::kErrorAlreadyExists);
  EXPECT_FALSE(host::CreateDirectory(dir.System("a\\b\\c")));
  EXPECT_EQ(host::LastError(), host::kErrorPathNotFound);

  dir.WriteFile("new/inside", "1");
  EXPECT_FALSE(host::RemoveDirectory(dir.System("new")));
  EXPECT_EQ(host::LastError(), host::kErrorDirNotEmpty);
  EXPECT_FALSE(host::DeleteFile(dir.System("new")));
  ASSERT_TRUE(host::DeleteFile(dir.System("new\\inside")));
  EXPECT_FALSE(host::DeleteFile(dir.System("new\\inside")));
  EXPECT_EQ(host::LastError(), host::kErrorFileNotFound);
  ASSERT_TRUE(host::RemoveDirectory(dir.System("new")));
  EXPECT_FALSE(std::filesystem::exists(dir.Host("new")));

  dir.WriteFile("one", "1");
  dir.WriteFile("two", "2");
  EXPECT_FALSE(host::RenameFile(dir.System("one"), dir.System("two")));  // no silent replace
  EXPECT_EQ(host::LastError(), host::kErrorAlreadyExists);
  EXPECT_EQ(dir.ReadFile("two"), "2");
  ASSERT_TRUE(host::RenameFile(dir.System("one"), dir.System("three")));
  EXPECT_EQ(dir.ReadFile("three"), "1");
  EXPECT_FALSE(std::filesystem::exists(dir.Host("one")));
}

std::vector<std::string> Search(const std::string& pattern, uint32_t attributes) {
  std::vector<std::string> names;
  host::DirSearch search;
  host::TSearchRec rec;
  for (bool found = search.First(pattern, attributes, rec); found; found = search.Next(rec)) {
    names.push_back(rec.Name);
  }
  return names;
}

class HostDirSearch : public ::testing::Test {
 protected:
  HostDirSearch() {
    for (const char* name : {"a.txt", "B.TXT", "readme", "c.tar.gz", "ab.txt", ".hidden"}) {
      dir_.WriteFile(name, name);
    }
    std::filesystem::create_directory(dir_.Host("sub"));
  }
  std::string In(const std::string& mask) const { return dir_.System(mask); }

  TempDir dir_;
};

using Names = std::vector<std::string>;

TEST_F(HostDirSearch, WildcardsIgnoreAsciiCase) {
  EXPECT_EQ(Search(In("*.txt"), host::faAnyFile), (Names{"a.txt", "ab.txt", "B.TXT"}));
  EXPECT_EQ(Search(In("?.TxT"), host::faAnyFile), (Names{"a.txt", "B.TXT"}));
  EXPECT_EQ(Search(In("A*"), host::faAnyFile), (Names{"a.txt", "ab.txt"}));
  EXPECT_EQ(Search(In("README"), host::faAnyFile), (Names{"readme"}));
  EXPECT_EQ(Search(In("*.gz"), host::faAnyFile), (Names{"c.tar.gz"}));
  EXPECT_EQ(Search(In("*t*z"), host::faAnyFile), (Names{"c.tar.gz"}));
}

TEST_F(HostDirSearch, StarDotStarTakesNamesWithoutADot) {
  EXPECT_EQ(Search(In("*.*"), host::faAnyFile),
            (Names{".", "..", ".hidden", "a.txt", "ab.txt", "B.TXT", "c.tar.gz", "readme", "sub"}));
  // A mask ending in a dot: names without an extension (and the dot entries, as on Windows).
  EXPECT_EQ(Search(In("*."), host::faAnyFile), (Names{".", "..", "readme", "sub"}));
  EXPECT_EQ(Search(In("*."), host::faArchive), (Names{"readme"}));
}

TEST_F(HostDirSearch, HiddenAndFolderEntriesOnlyWhenAskedFor) {
  EXPECT_EQ(Search(In("*"), host::faArchive),
            (Names{"a.txt", "ab.txt", "B.TXT", "c.tar.gz", "readme"}));
  EXPECT_EQ(Search(In("*"), host::faDirectory),
            (Names{".", "..", "a.txt", "ab.txt", "B.TXT", "c.tar.gz", "readme", "sub"}));
  EXPECT_EQ(Search(In(".h*"), host::faHidden), (Names{".hidden"}));
}

TEST_F(HostDirSearch, RecordsCarrySizeAttributesAndTime) {
  ASSERT_TRUE(host::SetFileDate(In("c.tar.gz"), 0x56CC6C00));  // 2023-06-12 13:32:00
  host::DirSearch search;
  host::TSearchRec rec;
  ASSERT_TRUE(search.First(In("c.*"), host::faAnyFile, rec));
  EXPECT_EQ(rec.Name, "c.tar.gz");
  EXPECT_EQ(rec.Size, 8);
  EXPECT_EQ(rec.Attr, host::faArchive);
  EXPECT_EQ(rec.Time, 0x56CC6C00u);
  EXPECT_FALSE(search.Next(rec));
  EXPECT_EQ(host::LastError(), host::kErrorNoMoreFiles);
  search.Close();
  EXPECT_FALSE(search.Next(rec));
}

TEST_F(HostDirSearch, FailuresSayWhy) {
  host::DirSearch search;
  host::TSearchRec rec;
  EXPECT_FALSE(search.First(In("*.zip"), host::faAnyFile, rec));
  EXPECT_EQ(host::LastError(), host::kErrorFileNotFound);
  EXPECT_FALSE(search.First(In("missing\\*.*"), host::faAnyFile, rec));
  EXPECT_EQ(host::LastError(), host::kErrorPathNotFound);
  EXPECT_FALSE(search.First(In(""), host::faAnyFile, rec));  // "folder\" names no entry
}

TEST(HostDirSearchRoots, DriveRootsHaveNoDotEntries) {
  TempDir home;
  ScopedEnv env("HOME", home.HostPath());
  home.WriteFile("x.zip", "");
  EXPECT_EQ(Search("C:\\*", host::faAnyFile), (Names{"x.zip"}));
  const Names rootEntries = Search("Z:\\*", host::faAnyFile);
  EXPECT_EQ(std::count(rootEntries.begin(), rootEntries.end(), ".."), 0);
  EXPECT_EQ(std::count(rootEntries.begin(), rootEntries.end(), "tmp"), 1);
}

TEST(HostTempFiles, CreatedInTheFolderAndUnique) {
  TempDir dir;
  const std::string first = host::CreateTempFileIn(dir.SystemPath());
  const std::string second = host::CreateTempFileIn(dir.SystemPath() + "\\");
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(first.rfind(dir.SystemPath() + "\\arv", 0), 0u) << first;
  EXPECT_TRUE(host::FileExists(first));
  EXPECT_TRUE(host::DeleteFile(first));
  EXPECT_TRUE(host::CreateTempFileIn(dir.System("missing")).empty());
  EXPECT_EQ(host::LastError(), host::kErrorPathNotFound);
  if (::geteuid() != 0) {
    std::filesystem::create_directory(dir.Host("ro"));
    ::chmod(dir.Host("ro").c_str(), 0555);
    EXPECT_TRUE(host::CreateTempFileIn(dir.System("ro")).empty());
    EXPECT_EQ(host::LastError(), host::kErrorAccessDenied);
  }
}

TEST(HostTempFiles, FakeDrivesThatCannotTakeAFile) {
  TempDir disk;
  host::TSeams seams;
  host::TFakeDrive drive;
  drive.Letter = 'B';
  drive.HostFolder = disk.HostPath();
  seams.Drives.push_back(drive);
  host::ScopedSeams scope(seams);

  const std::string made = host::CreateTempFileIn("B:\\");
  ASSERT_FALSE(made.empty());
  EXPECT_EQ(made.rfind("B:\\arv", 0), 0u) << made;
  EXPECT_TRUE(host::DeleteFile(made));

  seams.Drives[0].WriteProtected = true;
  EXPECT_TRUE(host::CreateTempFileIn("B:\\").empty());
  EXPECT_EQ(host::LastError(), host::kErrorWriteProtect);
  EXPECT_FALSE(host::CreateDirectory("B:\\d"));
  EXPECT_EQ(host::LastError(), host::kErrorWriteProtect);
  EXPECT_FALSE(host::DeleteFile("B:\\anything"));
  EXPECT_EQ(host::LastError(), host::kErrorWriteProtect);

  seams.Drives[0].Ready = false;
  EXPECT_TRUE(host::CreateTempFileIn("B:\\").empty());
  EXPECT_EQ(host::LastError(), host::kErrorNotReady);
  EXPECT_EQ(host::GetFileAttributes("B:\\"), host::kInvalidAttributes);
  EXPECT_EQ(host::LastError(), host::kErrorNotReady);
  EXPECT_TRUE(std::filesystem::is_empty(disk.HostPath()));
}

}  // namespace

namespace {

TEST(HostNameExists, ExactNameOnlyAndLinksCount) {
  parcelo::test::TempDir dir;
  dir.WriteFile("Case.txt", "x");
  dir.WriteFile("starXXXname.txt", "x");
  std::filesystem::create_symlink(dir.Host("nowhere"), dir.Host("dangling"));
  EXPECT_TRUE(host::NameExists(dir.System("Case.txt")));
  EXPECT_FALSE(host::NameExists(dir.System("case.TXT")));  // another name on this file system
  EXPECT_FALSE(host::NameExists(dir.System("star*name.txt")));
  EXPECT_FALSE(host::NameExists(dir.System("star?XXname.txt")));
  EXPECT_TRUE(host::NameExists(dir.System("dangling")));
  EXPECT_TRUE(host::NameExists(dir.SystemPath()));
}

}  // namespace
