// The extraction driver: run state and events, selection, output names and their confinement,
// overwrite rules, passwords, dates and attributes, progress, cancel, the file count and the
// failures the host layer's seams inject. Archives are built in memory with stored members, so
// these tests do not depend on any decoder.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <optional>

#include "archive/codecs/arvBytes.h"
#include "archive/codecs/arvCrypt.h"
#include "platform/seams.h"
#include "support/ExtractFixture.h"

namespace {

using namespace extracttest;
namespace fs = std::filesystem;

class DriverTest : public ExtractTest {};

TEST_F(DriverTest, EventsFireInOrderWithTheirArguments) {
  ZipBuilder b;
  b.AddStored("one.txt", "1").AddStored("sub/two.txt", "22");
  Use(b);
  Record();
  EXPECT_EQ(unzip.Extract(), 2);
  const std::vector<std::string> expected = {"Activate",
                                             "Begin one.txt 0",
                                             "End one.txt pass",
                                             "Begin sub\\two.txt 1",
                                             "End sub\\two.txt pass",
                                             "Elapsed",
                                             "Deactivate"};
  EXPECT_EQ(log, expected);
  EXPECT_EQ(Out("one.txt"), "1");
  EXPECT_EQ(Out("sub/two.txt"), "22");
  EXPECT_EQ(unzip.ArchiveFile(), host::FromHostPath(ArchiveHost()));  // put back after the run
}

TEST_F(DriverTest, EmptyFileSpecExtractsNothingButStillActivates) {
  ZipBuilder b;
  b.AddStored("a.txt", "x");
  Use(b);
  unzip.FileSpec().Clear();
  Record();
  EXPECT_EQ(unzip.Extract(), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"Activate", "Elapsed", "Deactivate"}));
}

TEST_F(DriverTest, MissingArchiveReportsFileNotFoundWithoutActivating) {
  Record();
  EXPECT_EQ(unzip.Extract(), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"Error 25192 "}));
}

TEST_F(DriverTest, UnreadableArchiveIsReportedBetweenActivateAndDeactivate) {
  ZipBuilder b;
  b.AddStored("a.txt", "x");
  Use(b);
  Record();
  host::TSeams seams;
  const std::string archive = ArchiveHost();
  seams.FailOpen = [archive](const std::string& p) { return p == archive; };
  host::ScopedSeams scope(seams);
  EXPECT_EQ(unzip.Extract(), 0);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "Activate");
  EXPECT_EQ(log[1].substr(0, 11), "Error 25235");
  EXPECT_EQ(log[2], "Deactivate");
}

TEST(MatchesFileSpec, DirectoriesMasksAndTheAppendedDot) {
  TStringList spec{"*.*"};
  EXPECT_TRUE(TZipCommon::MatchesFileSpec("a\\b.txt", spec, true));
  EXPECT_FALSE(TZipCommon::MatchesFileSpec("a\\b.txt", spec, false));
  EXPECT_TRUE(TZipCommon::MatchesFileSpec("b.txt", spec, false));
  EXPECT_TRUE(TZipCommon::MatchesFileSpec("README", spec, true));
  EXPECT_FALSE(TZipCommon::MatchesFileSpec("", spec, true));

  TStringList lines{"nomatch", "docs\\*.txt"};
  EXPECT_TRUE(TZipCommon::MatchesFileSpec("docs\\deep\\x.txt", lines, true));
  EXPECT_EQ(lines[0], "nomatch.");  // a failing line without "." gains one in FileSpec itself
  EXPECT_FALSE(TZipCommon::MatchesFileSpec("docs\\deep\\x.txt", lines, false));
  EXPECT_TRUE(TZipCommon::MatchesFileSpec("DOCS\\y.TXT", lines, false));
  TStringList empty;
  EXPECT_FALSE(TZipCommon::MatchesFileSpec("a.txt", empty, true));
}

TEST_F(DriverTest, RecurseDirsFalseKeepsOnlyTopLevelMembers) {
  ZipBuilder b;
  b.AddStored("top.txt", "t").AddStored("d/deep.txt", "d").AddStored("README", "r");
  Use(b);
  unzip.SetRecurseDirs(false);
  EXPECT_EQ(unzip.Extract(), 2);
  EXPECT_TRUE(OutExists("top.txt"));
  EXPECT_TRUE(OutExists("README"));
  EXPECT_FALSE(OutExists("d"));
}

TEST_F(DriverTest, HostileNamesAllLandInsideTheDestination) {
  ZipBuilder b;
  b.AddStored("../x1", "1")
      .AddStored("/etc/x2", "2")
      .AddStored("C:\\x3", "3")
      .AddStored("C:x4", "4")
      .AddStored("\\\\srv\\s\\x5", "5")
      .AddStored("a/../../x6", "6")
      .AddStored("./.././../x7", "7")
      .AddStored("..", "8")
      .AddStored("d/../..", "9");
  Use(b);
  unzip.SetCreateStoredDirs(true);
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 7);
  // Names that leave no file to write are named, never dropped without a word.
  EXPECT_EQ(log, (std::vector<std::string>{"Error 25245 ..", "Error 25245 d\\..\\.."}));
  EXPECT_EQ(unzip.FailedCount(), 2);
  EXPECT_EQ(Out("x1"), "1");
  EXPECT_EQ(Out("etc/x2"), "2");
  EXPECT_EQ(Out("x3"), "3");
  EXPECT_EQ(Out("x4"), "4");
  EXPECT_EQ(Out("srv/s/x5"), "5");
  EXPECT_EQ(Out("a/x6"), "6");
  EXPECT_EQ(Out("x7"), "7");
  for (const std::string& path : Tree())
    EXPECT_TRUE(path == "a.zip" || path.rfind("out", 0) == 0) << path;
}

TEST_F(DriverTest, DriveAndRootPrefixesFollowUseStoredDirs) {
  for (const std::string name : {"C:\\d\\f", "C:d\\f", "\\d\\f"}) {
    unzip.SetExtractDir("Z:\\dest");
    unzip.SetUseStoredDirs(true);
    unzip.BuildOutputName(name);
    EXPECT_EQ(unzip.OutputPath(), "Z:\\dest\\d\\f") << name;
    unzip.SetUseStoredDirs(false);
    unzip.BuildOutputName(name);
    EXPECT_EQ(unzip.OutputPath(), "Z:\\dest\\f") << name;
  }
  unzip.BuildOutputName("");
  EXPECT_EQ(unzip.OutputPath(), "");
}

TEST_F(DriverTest, ExtractDirSetterNormalises) {
  unzip.SetExtractDir("Z:/tmp/x");
  EXPECT_EQ(unzip.ExtractDir(), "Z:\\tmp\\x\\");
  ZipBuilder b;
  b.AddStored("a", "a");
  Use(b);
  unzip.SetExtractDir("");
  EXPECT_EQ(unzip.ExtractDir(), dir.SystemPath() + "\\");
}

TEST_F(DriverTest, SkipModeWithoutConfirmationWritesNothing) {
  ZipBuilder b;
  b.AddStored("a.txt", "a");
  Use(b);
  unzip.SetOverwriteMode(omSkip);
  EXPECT_EQ(unzip.Extract(), 0);
  EXPECT_FALSE(OutExists("a.txt"));
}

TEST_F(DriverTest, ConfirmOverwritesAsksAndRenames) {
  ZipBuilder b;
  b.AddStored("a.txt", "new");
  Use(b);
  dir.WriteFile("out/a.txt", "old");
  dir.WriteFile("out/b.txt", "old b");
  unzip.SetConfirmOverwrites(true);
  std::vector<std::string> asked;
  unzip.OnFileExists = [&](TObject*, const std::string& f, std::string& newName,
                           TOverwriteMode& mode) {
    asked.push_back(Rel(f));
    EXPECT_EQ(mode, omOverwrite);
    if (asked.size() == 1) newName = DestSystem() + "b.txt";  // exists too: asked again
    if (asked.size() == 2) newName = DestSystem() + "c.txt";
  };
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_EQ(asked, (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(Out("c.txt"), "new");
  EXPECT_EQ(Out("a.txt"), "old");

  asked.clear();
  unzip.OnFileExists = [&](TObject*, const std::string& f, std::string&, TOverwriteMode&) {
    asked.push_back(Rel(f));  // empty name, omOverwrite: replace
  };
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_EQ(Out("a.txt"), "new");

  unzip.OnFileExists = nullptr;  // a required event that is missing refuses
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"Error 25270 a.txt [OnFileExists]"}));
  EXPECT_EQ(unzip.OverwriteMode(), omSkip);
}

TEST_F(DriverTest, ExistingFilesAreTestedByTheirExactName) {
  // Neither another case nor a wildcard in the member's name finds an existing file.
  ZipBuilder b;
  b.AddStored("case.TXT", "new case")
      .AddStored("star*name.txt", "new star")
      .AddStored("Case.txt", "again");
  Use(b);
  dir.WriteFile("out/Case.txt", "old");
  dir.WriteFile("out/starXXXname.txt", "old star");
  unzip.SetConfirmOverwrites(true);
  std::vector<std::string> asked;
  unzip.OnFileExists = [&](TObject*, const std::string& f, std::string&, TOverwriteMode& mode) {
    asked.push_back(Rel(f));
    mode = omSkip;
  };
  EXPECT_EQ(unzip.Extract(), 2);
  EXPECT_EQ(asked, (std::vector<std::string>{"Case.txt"}));
  EXPECT_EQ(Out("case.TXT"), "new case");
  EXPECT_EQ(Out("star*name.txt"), "new star");
  EXPECT_EQ(Out("Case.txt"), "old");
  EXPECT_EQ(Out("starXXXname.txt"), "old star");
}

TEST_F(DriverTest, LinksPlantedInTheDestinationAreNeverWrittenThrough) {
  parcelo::test::TempDir outside("outside");
  outside.WriteFile("victim.txt", "keep me");
  fs::create_directories(OutHost(""));
  // A hard link and a symbolic link to a file elsewhere, and a link to a folder elsewhere.
  ASSERT_EQ(::link(outside.Host("victim.txt").c_str(), OutHost("hard.txt").c_str()), 0);
  fs::create_symlink(outside.Host("victim.txt"), OutHost("soft.txt"));
  fs::create_directory_symlink(outside.HostPath(), OutHost("a"));
  ZipBuilder b;
  b.AddStored("hard.txt", "H").AddStored("soft.txt", "S").AddStored("a/x.txt", "X");
  ZipMember folder = Stored("a/sub/", "");
  folder.externalAttributes = 0x10;
  b.Add(folder).AddStored("ok.txt", "ok");
  Use(b);
  unzip.SetCreateStoredDirs(true);
  unzip.SetConfirmOverwrites(true);  // even asking whether a/x.txt exists would look through
  unzip.OnFileExists = [](TObject*, const std::string&, std::string&, TOverwriteMode&) {};
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 3);
  EXPECT_EQ(outside.ReadFile("victim.txt"), "keep me");
  EXPECT_EQ(Out("hard.txt"), "H");
  EXPECT_EQ(Out("soft.txt"), "S");
  EXPECT_FALSE(fs::is_symlink(OutHost("soft.txt")));
  EXPECT_EQ(Out("ok.txt"), "ok");
  std::vector<std::string> outsideNow;
  for (const auto& e : fs::recursive_directory_iterator(outside.HostPath()))
    outsideNow.push_back(e.path().filename().string());
  EXPECT_EQ(outsideNow, std::vector<std::string>{"victim.txt"});
  // Each member that would go through the link is named with the reason.
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].rfind("Error 25235 a\\x.txt [", 0), 0u) << log[0];
  EXPECT_EQ(log[1].rfind("Error 25157 a\\sub\\ [", 0), 0u) << log[1];
  EXPECT_EQ(unzip.FailedCount(), 2);
}

TEST_F(DriverTest, AColonIsPartOfANameExceptInALeadingDrive) {
  unzip.SetExtractDir("Z:\\dest");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ab:notes.txt", "Z:\\dest\\ab:notes.txt"},
      {"cd:notes.txt", "Z:\\dest\\cd:notes.txt"},
      {"2024-01-01 10:30 log.txt", "Z:\\dest\\2024-01-01 10:30 log.txt"},
      {"dir\\a:b\\c.txt", "Z:\\dest\\dir\\a:b\\c.txt"},
      {"xy:", "Z:\\dest\\xy:"},
      {"C:x.txt", "Z:\\dest\\x.txt"},
      {"1:x.txt", "Z:\\dest\\1:x.txt"}};
  for (const auto& [stored, expected] : cases) {
    unzip.BuildOutputName(stored);
    EXPECT_EQ(unzip.OutputPath(), expected) << stored;
  }
  ZipBuilder b;
  b.AddStored("ab:notes.txt", "ab")
      .AddStored("cd:notes.txt", "cd")
      .AddStored("2024-01-01 10:30 log.txt", "log");
  b.AddStored("xy:", "xy").AddStored("C:", "bare drive");
  Use(b);
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 4);
  EXPECT_EQ(Out("ab:notes.txt"), "ab");
  EXPECT_EQ(Out("cd:notes.txt"), "cd");
  EXPECT_EQ(Out("2024-01-01 10:30 log.txt"), "log");
  EXPECT_EQ(Out("xy:"), "xy");
  EXPECT_EQ(log, std::vector<std::string>{"Error 25245 C:"});  // a drive alone names no file
  // Selection sees the same names: a mask's ":" is an ordinary character too.
  TStringList spec;
  spec.Add("ab:*.txt");
  EXPECT_TRUE(TZipCommon::MatchesFileSpec("ab:notes.txt", spec, false));
  EXPECT_FALSE(TZipCommon::MatchesFileSpec("cd:notes.txt", spec, false));
}

TEST_F(DriverTest, DirectoryMembersAreNeverCountedAndAlwaysPass) {
  ZipBuilder b;
  ZipMember d = Stored("emptydir/", "");
  d.externalAttributes = 0x10;
  b.Add(d).AddStored("noattr/", "");
  Use(b);
  Record();
  EXPECT_EQ(unzip.Extract(), 0);
  EXPECT_FALSE(OutExists("emptydir"));
  EXPECT_EQ(Count("End emptydir\\ pass"), 1);
  EXPECT_EQ(Count("Begin"), 0);
  unzip.SetCreateStoredDirs(true);
  EXPECT_EQ(unzip.Extract(), 0);
  EXPECT_TRUE(fs::is_directory(OutHost("emptydir")));
  EXPECT_TRUE(fs::is_directory(OutHost("noattr")));
}

TEST_F(DriverTest, DatesAndAttributesAreRestored) {
  ZipBuilder b;
  ZipMember plain = Stored("plain.txt", "p");  // attribute 32: left as the system made it
  plain.dosDateTime = 0x50A16000;              // 2020-05-01 12:00:00
  ZipMember exec = Stored("run.sh", "#!/bin/sh\n");
  exec.externalAttributes = (0100755u << 16) | 0x20;
  exec.versionMadeBy = 0x031E;
  exec.dosDateTime = 0x5A8C6000;
  ZipMember suid = Stored("suid", "s");
  suid.externalAttributes = (0104755u << 16);
  ZipMember link = Stored("link", "/etc/passwd");
  link.externalAttributes = (0120777u << 16);
  b.Add(plain).Add(exec).Add(suid).Add(link);
  Use(b);
  EXPECT_EQ(unzip.Extract(), 4);
  EXPECT_EQ(host::GetFileDate(unzip.ExtractDir() + "plain.txt"), 0x50A16000u);
  EXPECT_EQ(host::GetFileDate(unzip.ExtractDir() + "run.sh"), 0x5A8C6000u);
  const auto perms = [&](const char* name) { return fs::status(OutHost(name)).permissions(); };
  EXPECT_EQ(perms("run.sh") & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_EQ(perms("suid") & fs::perms::set_uid, fs::perms::none);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(OutHost("link"))));
  EXPECT_EQ(Out("link"), "/etc/passwd");

  unzip.SetDateAttribute(daMaxFileDate);
  unzip.Extract();
  EXPECT_EQ(host::GetFileDate(unzip.ExtractDir() + "plain.txt"), 0x5A8C6000u);
}

// The system date is the current time in the time zone the host layer gives (here 13 hours east
// of UTC, whatever zone the machine runs in); a file's date is read back through the same zone.
TEST_F(DriverTest, SystemDateIsNowInTheHostLayersTimeZone) {
  host::TSeams seams;
  host::TTimeZoneInformation zone;
  zone.Bias = -13 * 60;  // UTC = local + bias
  seams.TimeZone = zone;
  std::optional<host::ScopedSeams> scope(seams);
  ReloadTimeZone();
  const auto packedNow = [] {
    // The engine's clock, not std::time(): that one may read a coarser clock a tick behind.
    const std::time_t local =
        std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()) + 13 * 3600;
    std::tm t{};
    gmtime_r(&local, &t);
    return static_cast<uint32_t>(((t.tm_year - 80) << 25) | ((t.tm_mon + 1) << 21) |
                                 (t.tm_mday << 16) | (t.tm_hour << 11) | (t.tm_min << 5) |
                                 (t.tm_sec / 2));
  };
  ZipBuilder b;
  b.AddStored("now.txt", "n");
  Use(b);
  unzip.SetDateAttribute(daSysDate);
  const uint32_t before = packedNow();
  EXPECT_EQ(unzip.Extract(), 1);
  const uint32_t after = packedNow();
  const uint32_t date = host::GetFileDate(unzip.ExtractDir() + "now.txt");
  EXPECT_GE(date, before);
  EXPECT_LE(date, after);
  scope.reset();
  ReloadTimeZone();
}

TEST_F(DriverTest, ProgressReportsPerBlockAndFullForSkippedMembers) {
  constexpr int64_t kBlock = TUnBase::kCopyBlockSize;
  const int64_t size = 2 * kBlock + 4464;
  ZipBuilder b;
  b.AddStored("big.bin", std::string(static_cast<size_t>(size), 'x')).AddStored("skip.txt", "abc");
  Use(b);
  Record(true);
  unzip.OnBegin = [](TObject*, const std::string& f, int, bool& extract) {
    extract = f.find("skip") == std::string::npos;
  };
  EXPECT_EQ(unzip.Extract(), 1);
  // One report per block: by file and by archive (whose total also holds the skipped 3 bytes).
  auto progress = [](int64_t part, int64_t whole, int64_t all) {
    return "Progress " + std::to_string(Percent(part, whole)) + " " +
           std::to_string(Percent(part, all));
  };
  const std::vector<std::string> expected = {"Activate",
                                             progress(kBlock, size, size + 3),
                                             progress(2 * kBlock, size, size + 3),
                                             progress(size, size, size + 3),
                                             "End big.bin pass",
                                             "Progress 100 100",  // the skipped member
                                             "Elapsed",
                                             "Deactivate"};
  EXPECT_EQ(log, expected);

  ZipBuilder empty;
  empty.AddStored("e1", "").AddStored("e2", "");
  Use(empty);
  log.clear();
  unzip.OnBegin = nullptr;
  EXPECT_EQ(unzip.Extract(), 2);
  EXPECT_EQ(Count("Progress"), 0);  // nothing to copy, nothing skipped
  EXPECT_EQ(unzip.LastProgressByArchive(), 0);
}

TEST_F(DriverTest, CancelFromProgressStopsAfterTheBlock) {
  ZipBuilder b;
  b.AddStored("big.bin", std::string(TUnBase::kCopyBlockSize * 3, 'x')).AddStored("next.txt", "n");
  Use(b);
  Record();
  unzip.OnProgress = [this](TObject*, uint8_t, uint8_t) { unzip.SetCancel(true); };
  // The member cut short is neither counted nor left behind looking whole.
  EXPECT_EQ(unzip.Extract(), 0);
  EXPECT_FALSE(OutExists("big.bin"));
  EXPECT_FALSE(OutExists("next.txt"));
  EXPECT_EQ(Count("Error 25443"), 1);
  EXPECT_EQ(Count("End big.bin FAIL"), 1);
  EXPECT_TRUE(unzip.Cancel());  // cleared only when the next run starts
}

TEST_F(DriverTest, ChecksumFailuresLeaveNoFileAndAreNotCounted) {
  ZipBuilder b;
  ZipMember bad = Stored("bad.txt", "data");
  bad.crcOverride = 0x12345678;
  b.Add(bad).AddStored("good.txt", "ok");
  Use(b);
  RecordErrors();
  // The count says how many files were extracted whole; nothing of the damaged one looks whole.
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_EQ(log, (std::vector<std::string>{"Error 25151 bad.txt"}));
  EXPECT_EQ(unzip.FailedCount(), 1);
  EXPECT_FALSE(OutExists("bad.txt"));
  EXPECT_EQ(Out("good.txt"), "ok");
}

TEST_F(DriverTest, ADamagedMemberNeverReplacesWhatWasThere) {
  // The same name twice, the good copy first; and a person's own file under a damaged member's
  // name, with the default overwrite mode.
  ZipBuilder b;
  ZipMember badCopy = Stored("twice.txt", "damaged copy");
  badCopy.crcOverride = 0x12345678;
  ZipMember badMine = Stored("mine.txt", "damaged");
  badMine.crcOverride = 1;
  b.AddStored("twice.txt", "good copy").Add(badCopy).Add(badMine).AddStored("theirs.txt", "new");
  Use(b);
  dir.WriteFile("out/mine.txt", "my own words");
  dir.WriteFile("out/theirs.txt", "old");
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 2);  // the good copy and theirs.txt
  EXPECT_EQ(log, (std::vector<std::string>{"Error 25151 twice.txt", "Error 25151 mine.txt"}));
  EXPECT_EQ(Out("twice.txt"), "good copy");
  EXPECT_EQ(Out("mine.txt"), "my own words");
  EXPECT_EQ(Out("theirs.txt"), "new");  // a good member still replaces what was there
  // No hidden leftovers beside them.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(OutHost("")))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"mine.txt", "theirs.txt", "twice.txt"}));
}

TEST_F(DriverTest, ACutShortMemberLeavesAnExistingFileAsItWas) {
  ZipBuilder b;
  b.AddStored("big.txt", std::string(1000, 'b'));
  Use(b);
  dir.WriteFile("out/big.txt", "before");
  RecordErrors();
  host::TSeams seams;
  seams.DiskFullAfter = 100;
  host::ScopedSeams scope(seams);
  EXPECT_EQ(unzip.Extract(), 0);
  EXPECT_EQ(Count("Error 25160 big.txt"), 1);
  EXPECT_EQ(Out("big.txt"), "before");
}

TEST_F(DriverTest, UnsupportedMethodIsOneMessageAndNoFile) {
  ZipBuilder b;
  for (uint16_t method : {7, 18}) {
    ZipMember m = Stored("m" + std::to_string(method), "xyz");
    m.method = method;
    b.Add(m);
  }
  Use(b);
  RecordErrors();
  EXPECT_EQ(unzip.Extract(), 0);
  // Each named by its method.
  EXPECT_EQ(log, (std::vector<std::string>{"Error 25326 m7 [Tokenized]",
                                           "Error 25326 m18 [IBM TERSE]"}));
  EXPECT_EQ(unzip.FailedCount(), 2);
  EXPECT_FALSE(OutExists("m7"));
  EXPECT_FALSE(OutExists("m18"));
}

// ---- passwords ----------------------------------------------------------------------------------
ZipBuilder EncryptedArchive() {
  ZipBuilder b;
  ZipMember one = Stored("secret1.txt", "first secret");
  one.password = "right";
  ZipMember two = Stored("secret2.txt", "second secret");
  two.password = "right";
  two.flags = 0x0008;  // check byte from the time field
  b.Add(one).AddStored("plain.txt", "open").Add(two);
  return b;
}

TEST_F(DriverTest, PasswordsFromTheListWork) {
  ZipBuilder b = EncryptedArchive();
  Use(b);
  unzip.Passwords().Add("wrong");
  unzip.Passwords().Add("right");
  EXPECT_EQ(unzip.Extract(), 3);
  EXPECT_EQ(Out("secret1.txt"), "first secret");
  EXPECT_EQ(Out("secret2.txt"), "second secret");
  EXPECT_EQ(unzip.Password(), "right");
}

TEST_F(DriverTest, NoPasswordNamesEachEncryptedMemberOnce) {
  ZipBuilder b = EncryptedArchive();
  Use(b);
  RecordErrors();
  unzip.SetPassword("right");  // emptied by the run
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_EQ(log, (std::vector<std::string>{"Error 26522 secret1.txt [password needed]",
                                           "Error 26522 secret2.txt [password needed]"}));
  EXPECT_EQ(unzip.FailedCount(), 2);
  EXPECT_FALSE(OutExists("secret1.txt"));
  EXPECT_FALSE(OutExists("secret2.txt"));
  EXPECT_EQ(Out("plain.txt"), "open");
}

TEST_F(DriverTest, WrongPasswordIsNamedNotWrittenNorCounted) {
  ZipBuilder b = EncryptedArchive();
  Use(b);
  RecordErrors();
  unzip.Passwords().Add("wrong");
  EXPECT_EQ(unzip.Extract(), 1);
  // Nothing about checksums: the member was never decoded.
  EXPECT_EQ(log, (std::vector<std::string>{"Error 26517 secret1.txt [wrong password]",
                                           "Error 26517 secret2.txt [wrong password]"}));
  EXPECT_FALSE(OutExists("secret1.txt"));
  EXPECT_FALSE(OutExists("secret2.txt"));
}

// About one wrong password in 256 passes the cipher's one-byte check and deciphers the member
// into noise: it is still named as the wrong password, and the noise is not left behind.
TEST_F(DriverTest, AWrongPasswordThatPassesTheCheckByteIsNamedAndLeavesNothing) {
  ZipBuilder b;
  ZipMember secret = Stored("secret.txt", std::string(3000, 's'));
  secret.password = "right";
  b.Add(secret).AddStored("plain.txt", "open");
  const Bytes archive = b.Build();
  const size_t header = 30 + GetLe16(&archive[26]) + GetLe16(&archive[28]);
  std::string lucky;
  for (int i = 0; i < 100000 && lucky.empty(); ++i) {
    uint8_t twice[24];
    std::copy_n(&archive[header], 12, twice + 12);
    TZipCipher cipher;
    const std::string candidate = "wrong" + std::to_string(i);
    if (TestZipPassword(cipher, candidate, twice, GetLe16(&archive[6]), GetLe16(&archive[10]),
                        GetLe32(&archive[14])))
      lucky = candidate;
  }
  ASSERT_FALSE(lucky.empty());
  Use(b);
  RecordErrors();
  unzip.Passwords().Add(lucky);
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_EQ(log,
            (std::vector<std::string>{"Error 26517 secret.txt [wrong password, or damaged data]"}));
  EXPECT_EQ(unzip.FailedCount(), 1);
  EXPECT_FALSE(OutExists("secret.txt"));
  EXPECT_EQ(Out("plain.txt"), "open");
}

TEST_F(DriverTest, OneMemberNobodyCanOpenDoesNotCostTheOthers) {
  // Two passwords in one archive: the prompt fails on the first member, yet the later ones that
  // the known password opens are extracted.
  ZipBuilder b;
  ZipMember other = Stored("other.txt", "other secret");
  other.password = "elsewhere";
  ZipMember one = Stored("one.txt", "first");
  one.password = "known";
  ZipMember two = Stored("two.txt", "second");
  two.password = "known";
  b.Add(other).Add(one).Add(two);
  Use(b);
  RecordErrors();
  unzip.Passwords().Add("known");
  int asked = 0;
  unzip.OnGetPassword = [&](TObject*, const std::string&, std::string& password, bool&) {
    ++asked;
    password = "guess";
  };
  EXPECT_EQ(unzip.Extract(), 2);
  EXPECT_EQ(asked, 3);  // the attempts for other.txt only: not asked again
  EXPECT_EQ(log, (std::vector<std::string>{"Error 26517 other.txt [wrong password]"}));
  EXPECT_EQ(Out("one.txt"), "first");
  EXPECT_EQ(Out("two.txt"), "second");
  EXPECT_FALSE(OutExists("other.txt"));
}

TEST_F(DriverTest, OnGetPasswordIsAskedUpToPasswordAttempts) {
  ZipBuilder b = EncryptedArchive();
  Use(b);
  Record();
  std::vector<std::string> answers = {"bad1", "right"};
  int asked = 0;
  unzip.OnGetPassword = [&](TObject*, const std::string& f, std::string& password, bool& again) {
    EXPECT_EQ(Rel(f), "secret1.txt");
    EXPECT_TRUE(again);
    password = answers[static_cast<size_t>(asked++)];
  };
  EXPECT_EQ(unzip.Extract(), 3);
  EXPECT_EQ(asked, 2);           // the second member uses the password that worked
  EXPECT_EQ(Count("Error"), 0);  // a wrong attempt that a later one mends is no failure
  EXPECT_EQ(unzip.Passwords()[0], "right");

  asked = 0;
  answers = {"x", "y", "z", "right"};
  unzip.Passwords().Clear();
  log.clear();
  EXPECT_EQ(unzip.Extract(), 1);  // three attempts, then no more asking
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(Count("Error 26517"), 2);  // each encrypted member named once

  asked = 0;
  unzip.SetPasswordAttempts(0);
  log.clear();
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(Count("Error 26522"), 2);
}

// ---- failures through the host layer ------------------------------------------------------------
TEST_F(DriverTest, OutputThatCannotBeCreatedIsOneMessageWithItsReason) {
  ZipBuilder b;
  b.AddStored("blocked.txt", "b").AddStored("fine.txt", "f");
  Use(b);
  RecordErrors();
  host::TSeams seams;
  seams.FailOpen = [](const std::string& p) { return p.find("blocked") != std::string::npos; };
  host::ScopedSeams scope(seams);
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_EQ(log, (std::vector<std::string>{"Error 25235 blocked.txt [Permission denied]"}));
  EXPECT_EQ(Out("fine.txt"), "f");
}

TEST_F(DriverTest, ARealReadOnlyFolderIsOneMessageWithTheSystemsReason) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  ZipBuilder b;
  b.AddStored("a.txt", "a").AddStored("b.txt", "b");
  Use(b);
  RecordErrors();
  fs::create_directories(OutHost(""));
  fs::permissions(OutHost(""), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(unzip.Extract(), 0);
  fs::permissions(OutHost(""), fs::perms::owner_all);
  EXPECT_EQ(log, (std::vector<std::string>{"Error 25235 a.txt [Permission denied]",
                                           "Error 25235 b.txt [Permission denied]"}));
}

TEST_F(DriverTest, DiskFullIsSaidOnceAndWhatWasWrittenStaysCounted) {
  ZipBuilder b;
  b.AddStored("a.txt", "aaaa").AddStored("b.txt", std::string(1000, 'b')).AddStored("c.txt", "");
  Use(b);
  RecordErrors();
  host::TSeams seams;
  seams.DiskFullAfter = 100;
  host::ScopedSeams scope(seams);
  EXPECT_EQ(unzip.Extract(), 2);  // a.txt and the empty c.txt
  EXPECT_EQ(log, (std::vector<std::string>{"Error 25160 b.txt [No space left on device]"}));
  EXPECT_EQ(Out("a.txt"), "aaaa");
  EXPECT_FALSE(OutExists("b.txt"));  // no half-written file that looks complete
}

TEST_F(DriverTest, ShortWriteFailsThatMemberOnly) {
  ZipBuilder b;
  b.AddStored("a.txt", "aaaa").AddStored("b.txt", std::string(1000, 'b'));
  Use(b);
  RecordErrors();
  host::TSeams seams;
  seams.ShortWriteAfter = 100;
  host::ScopedSeams scope(seams);
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_EQ(Count("Error 25136 b.txt"), 1);
  EXPECT_EQ(log.size(), 1u);
  EXPECT_FALSE(OutExists("b.txt"));
}

TEST_F(DriverTest, NothingRaisesOutOfExtract) {
  ZipBuilder b;
  b.AddStored("a.txt", "a").AddStored("b.txt", "b");
  Use(b);
  unzip.OnBegin = [](TObject*, const std::string&, int, bool&) { throw std::runtime_error("x"); };
  unzip.OnError = [](TObject*, const std::string&, const std::string&, const std::string&, int) {
    throw std::runtime_error("y");
  };
  int deactivated = 0;
  unzip.OnDeactivate = [&](TObject*) { ++deactivated; };
  EXPECT_NO_THROW(unzip.Extract());
  EXPECT_EQ(deactivated, 1);
}

// A handler may throw what no catch of the standard exceptions takes; the run still ends normally
// and writes every member whole.
TEST_F(DriverTest, HandlersThrowingOtherThanExceptionsNeverEndTheRun) {
  ZipBuilder b;
  b.AddStored("a.txt", "aaaa").AddStored("b.txt", std::string(100000, 'b'));
  Use(b);
  unzip.OnProgress = [](TObject*, uint8_t, uint8_t) { throw 42; };
  unzip.OnEnd = [](TObject*, const std::string&, bool) { throw 42; };
  unzip.OnDeactivate = [](TObject*) { throw 42; };
  EXPECT_NO_THROW(unzip.Extract());
  EXPECT_EQ(Out("a.txt"), "aaaa");
  EXPECT_EQ(Out("b.txt"), std::string(100000, 'b'));
}

TEST(TarvTimer, MeasuresOnlyWhileRunning) {
  TarvTimer timer;
  EXPECT_FALSE(timer.Running());
  timer.Pause();  // not running: nothing happens
  timer.Resume();
  timer.Start();
  timer.Pause();
  timer.Pause();
  timer.Resume();
  timer.Resume();
  timer.Stop();
  EXPECT_FALSE(timer.Running());
  EXPECT_GE(timer.ElapsedTime(), 0.0f);
  EXPECT_LT(timer.ElapsedTime(), 5.0f);
}

class VolumeNames : public TUnZip {
 public:
  using TUnBase::SplitVolumeName;
  void Base(const std::string& name) {
    FVolumeBaseName = name;
    FArchiveFile = name;
  }
  void Letter(char letter, TArcType type) {
    FVolumeLetter = letter;
    FArcType = type;
  }
};

TEST(Volumes, SplitAndMultiVolumeNames) {
  VolumeNames v;
  v.Base("Z:\\sets\\set.zip");
  EXPECT_EQ(v.SplitVolumeName(0, 2), "Z:\\sets\\set.z01");
  EXPECT_EQ(v.SplitVolumeName(9, 12), "Z:\\sets\\set.z10");
  EXPECT_EQ(v.SplitVolumeName(2, 2), "Z:\\sets\\set.zip");
  v.Letter('r', atRar);
  EXPECT_EQ(v.VolumeName("Z:\\x\\set.rar", 0), "Z:\\x\\set.r00");
  EXPECT_EQ(v.VolumeName("Z:\\x\\set.rar", 42), "Z:\\x\\set.r42");
  EXPECT_EQ(v.VolumeName("Z:\\x\\set.rar", 100), "Z:\\x\\set.s00");
  v.Letter('a', atArj);
  EXPECT_EQ(v.VolumeName("set.arj", 7), "set.a07");
  EXPECT_EQ(v.VolumeName("set.arj", 123), "set.123");
  // Dots inside the base name stay; only the extension is replaced.
  EXPECT_EQ(v.VolumeName("Z:\\x\\my.set.v2.arj", 1), "Z:\\x\\my.set.v2.a01");
  EXPECT_EQ(v.VolumeName("", 1), "");
  EXPECT_EQ(v.VolumeName("set.arj", -1), "");
}

}  // namespace
