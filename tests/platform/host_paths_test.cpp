// Tests of the path model: system paths to host paths and back, full-path expansion, the current
// directory and the drive of a path, with a home folder and fake drives made for each test.
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/host.h"
#include "platform/seams.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::ScopedEnv;
using parcelo::test::TempDir;

// Runs each test with HOME pointing at a fresh folder and the current directory restored after.
class HostPaths : public ::testing::Test {
 protected:
  HostPaths() : home_("home"), homeEnv_("HOME", home_.HostPath()) {
    char buffer[4096];
    if (::getcwd(buffer, sizeof buffer) != nullptr) cwd_ = buffer;
  }
  ~HostPaths() override {
    if (!cwd_.empty()) (void)::chdir(cwd_.c_str());
  }

  std::string ToHost(const std::string& system) {
    std::string hostPath;
    EXPECT_TRUE(host::ToHostPath(system, hostPath)) << system;
    return hostPath;
  }

  TempDir home_;
  ScopedEnv homeEnv_;
  std::string cwd_;
};

TEST_F(HostPaths, DriveLettersMapToHomeAndRoot) {
  const std::string home = home_.HostPath();
  EXPECT_EQ(host::HomeDirectory(), home);
  EXPECT_EQ(ToHost("C:\\x"), home + "/x");
  EXPECT_EQ(ToHost("c:\\docs\\a.txt"), home + "/docs/a.txt");
  EXPECT_EQ(ToHost("C:\\"), home);
  EXPECT_EQ(ToHost("Z:\\tmp"), "/tmp");
  EXPECT_EQ(ToHost("z:\\"), "/");
  EXPECT_EQ(ToHost("\\tmp\\a"), "/tmp/a");
  EXPECT_EQ(ToHost("/tmp/a"), "/tmp/a");  // "/" is taken like "\"
  EXPECT_EQ(ToHost("C:/x/y"), home + "/x/y");
  EXPECT_EQ(ToHost("Z:\\tmp\\\\a\\.\\b"), "/tmp/a/b");
  EXPECT_EQ(ToHost("C:\\dir\\"), home + "/dir/");  // a trailing separator is kept
}

TEST_F(HostPaths, DotDotNeverLeavesTheDrive) {
  EXPECT_EQ(ToHost("C:\\..\\..\\etc\\passwd"), home_.HostPath() + "/etc/passwd");
  EXPECT_EQ(ToHost("C:\\a\\..\\..\\b"), home_.HostPath() + "/b");
  EXPECT_EQ(ToHost("\\..\\tmp"), "/tmp");
}

TEST_F(HostPaths, AbsentNamesFail) {
  std::string hostPath;
  EXPECT_FALSE(host::ToHostPath("\\\\server\\share\\file", hostPath));
  EXPECT_EQ(host::LastError(), host::kErrorBadNetPath);
  EXPECT_FALSE(host::ToHostPath("Q:\\file", hostPath));
  EXPECT_EQ(host::LastError(), host::kErrorPathNotFound);
  EXPECT_FALSE(host::ToHostPath(std::string("C:\\a\0b", 6), hostPath));
  EXPECT_EQ(host::LastError(), host::kErrorInvalidName);
  EXPECT_FALSE(host::ToHostPath("", hostPath));
}

TEST_F(HostPaths, RelativePathsStayBelowTheCurrentDirectory) {
  TempDir work;
  ASSERT_EQ(::chdir(work.HostPath().c_str()), 0);
  EXPECT_EQ(ToHost("a\\b"), "a/b");
  EXPECT_EQ(ToHost("a//b"), "a/b");
  EXPECT_EQ(host::GetCurrentDir(), work.SystemPath());
  EXPECT_EQ(host::ExpandFileName("a\\..\\b\\.\\c"), work.SystemPath() + "\\b\\c");
  EXPECT_EQ(host::ExpandFileName("sub/"), work.SystemPath() + "\\sub\\");
  EXPECT_EQ(host::DriveOfPath("a\\b"), 'Z');

  // A drive-relative name on the current directory's drive continues from it.
  ASSERT_TRUE(host::SetCurrentDir(home_.SystemPath()));
  EXPECT_EQ(host::GetCurrentDir(), "C:\\");
  EXPECT_EQ(host::ExpandFileName("C:sub\\x"), "C:\\sub\\x");
  EXPECT_EQ(host::ExpandFileName("Z:tmp"), "Z:\\tmp");
  EXPECT_EQ(host::DriveOfPath("x"), 'C');
  EXPECT_FALSE(host::SetCurrentDir("C:\\missing\\folder"));
  EXPECT_EQ(host::LastError(), host::kErrorPathNotFound);
}

TEST_F(HostPaths, HostPathsMapBack) {
  const std::string home = home_.HostPath();
  EXPECT_EQ(host::FromHostPath(home), "C:\\");
  EXPECT_EQ(host::FromHostPath(home + "/x/y.txt"), "C:\\x\\y.txt");
  EXPECT_EQ(host::FromHostPath(home + "/x/"), "C:\\x\\");
  EXPECT_EQ(host::FromHostPath("/tmp"), "Z:\\tmp");
  EXPECT_EQ(host::FromHostPath("/"), "Z:\\");
  EXPECT_EQ(host::FromHostPath("/usr/./lib/../bin"), "Z:\\usr\\bin");
  // A name that merely starts like the home folder is not below it.
  EXPECT_EQ(host::FromHostPath(home + "x/y").substr(0, 3), "Z:\\");

  for (const std::string system : {"C:\\a\\b", "Z:\\tmp\\q", "C:\\"}) {
    EXPECT_EQ(host::FromHostPath(ToHost(system)), system);
  }
}

TEST_F(HostPaths, HomeReachedThroughALinkMapsToC) {
  TempDir links;
  const std::string link = links.Host("home-link");
  std::filesystem::create_directory_symlink(home_.HostPath(), link);
  ScopedEnv viaLink("HOME", link);
  std::filesystem::create_directory(home_.Host("sub"));
  ASSERT_EQ(::chdir(home_.Host("sub").c_str()), 0);  // getcwd reports the real folder
  EXPECT_EQ(host::GetCurrentDir(), "C:\\sub");
  EXPECT_EQ(host::FromHostPath(link + "/sub"), "C:\\sub");
}

TEST_F(HostPaths, ExpandFileNameResolvesDots) {
  EXPECT_EQ(host::ExpandFileName("C:\\a\\b\\..\\c"), "C:\\a\\c");
  EXPECT_EQ(host::ExpandFileName("c:\\a\\..\\.."), "C:\\");
  EXPECT_EQ(host::ExpandFileName("Z:/usr//lib/"), "Z:\\usr\\lib\\");
  EXPECT_EQ(host::ExpandFileName("\\tmp\\x\\..\\y"), "Z:\\tmp\\y");
  EXPECT_EQ(host::ExpandFileName(home_.HostPath() + "/docs"), "C:\\docs");  // rooted = host path
  EXPECT_EQ(host::ExpandFileName("\\\\srv\\share\\a\\..\\..\\b"), "\\\\srv\\share\\b");
  EXPECT_EQ(host::ExpandFileName(""), "");
}

TEST_F(HostPaths, DriveOfPath) {
  EXPECT_EQ(host::DriveOfPath("c:\\x"), 'C');
  EXPECT_EQ(host::DriveOfPath("D:\\x"), 'D');
  EXPECT_EQ(host::DriveOfPath("\\\\srv\\share\\x"), 0);
  EXPECT_EQ(host::DriveOfPath("\\tmp\\x"), 'Z');
  EXPECT_EQ(host::DriveOfPath(home_.HostPath() + "/x"), 'C');
  EXPECT_EQ(host::DriveRoot('d'), "D:\\");
  EXPECT_EQ(host::DriveRoot('C'), "C:\\");
}

TEST_F(HostPaths, FakeDrivesMapBothWays) {
  TempDir disk;
  host::TSeams seams;
  host::TFakeDrive drive;
  drive.Letter = 'D';
  drive.HostFolder = disk.HostPath();
  seams.Drives.push_back(drive);
  host::ScopedSeams scope(seams);

  EXPECT_EQ(ToHost("d:\\set\\a.zip"), disk.HostPath() + "/set/a.zip");
  EXPECT_EQ(ToHost("D:\\..\\..\\x"), disk.HostPath() + "/x");
  EXPECT_EQ(host::FromHostPath(disk.Host("set/a.zip")), "D:\\set\\a.zip");

  ASSERT_TRUE(host::SetCurrentDir("D:\\"));
  EXPECT_EQ(host::GetCurrentDir(), "D:\\");
  EXPECT_EQ(host::DriveOfPath("a.zip"), 'D');
  EXPECT_EQ(host::ExpandFileName("a.zip"), "D:\\a.zip");
  EXPECT_EQ(host::ExpandFileName("D:x"), "D:\\x");

  // No disk in the drive: the names on it lead nowhere.
  seams.Drives[0].Ready = false;
  std::string hostPath;
  EXPECT_FALSE(host::ToHostPath("D:\\a.zip", hostPath));
  EXPECT_EQ(host::LastError(), host::kErrorNotReady);
}

}  // namespace
