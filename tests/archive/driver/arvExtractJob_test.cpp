// The extraction job and the typed reports: damaged, encrypted, unwritable and cancelled runs give
// the run result and the verdict they should, OnError hears the same reports in its designed form,
// and parcelo-cli (which drives the job) tells the same story: its status is the verdict's, it
// prints one line per report and counts the files the result counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "archive/driver/arvExtractJob.h"
#include "platform/seams.h"
#include "support/CliRun.h"
#include "support/ExtractFixture.h"

namespace {

using namespace extracttest;
namespace fs = std::filesystem;

std::unique_ptr<TUnBase> ZipOnly(TArcType type) {
  if (IsZipFamily(type)) return std::make_unique<TUnZip>();
  return nullptr;
}

class ExtractJobTest : public ::testing::Test {
 protected:
  parcelo::test::TempDir dir{"job"};

  TExtractRequest Request(const std::string& archive = "a.zip") const {
    TExtractRequest request;
    request.ArchiveFile = dir.System(archive);
    request.Destination = dir.System("out");
    return request;
  }
  void Write(ZipBuilder& builder, const std::string& name = "a.zip") {
    ASSERT_TRUE(builder.WriteTo(dir.Host(name)));
  }
  TRunResult Run(const TExtractRequest& request, const TExtractorSetup& setup = {}) {
    TExtractJob job(request);
    return job.Run(ZipOnly, setup);
  }
  // parcelo-cli on the same archive, into another folder (or testing): the same verdict as its
  // status, one line on standard error per report, the result's count in its summary.
  void ExpectCliAgrees(const TRunResult& result, const std::string& archive, bool test = false) {
    const std::string command = (test ? "test " : "extract ") + parcelo::test::Quote(archive) +
                                (test ? "" : " -d cli-out");
    const parcelo::test::TCliRun run = parcelo::test::RunCli(command, dir.HostPath());
    int expected = 0;
    switch (result.Verdict()) {
      case TRunVerdict::Success:
        expected = 0;
        break;
      case TRunVerdict::SuccessWithWarnings:
        expected = 1;
        break;
      case TRunVerdict::Partial:
      case TRunVerdict::Failed:
        expected = 2;
        break;
    }
    EXPECT_EQ(run.status, expected) << run.err;
    // Each report is one line ending in its code (hints and summaries are lines of their own).
    std::istringstream err(run.err);
    size_t lines = 0;
    for (std::string line; std::getline(err, line);)
      lines += !line.empty() && line.back() == ')' && line.rfind(" (") != std::string::npos;
    EXPECT_EQ(lines, result.Reports.size()) << run.err;
    for (const TReport& report : result.Reports) {
      EXPECT_NE(run.err.find("(" + std::to_string(report.Code) + ")"), std::string::npos)
          << run.err;
    }
    if (result.Started) {
      const std::string count = std::to_string(test ? result.FilesExtracted + result.FailedCount
                                                    : result.FilesExtracted);
      EXPECT_EQ(run.out.rfind(count + " file(s) ", 0), 0u) << run.out;
    }
  }
};

TEST_F(ExtractJobTest, AWholeArchiveIsASuccessAndSaysNothing) {
  ZipBuilder b;
  b.AddStored("a.txt", "A").AddStored("sub/b.txt", "B").Add(Deflated("c.bin", Pattern(5000)));
  Write(b);
  const TRunResult result = Run(Request());
  EXPECT_TRUE(result.Started);
  EXPECT_EQ(result.FilesExtracted, 3);
  EXPECT_EQ(result.SelectedCount, 3);
  EXPECT_TRUE(result.Reports.empty());
  EXPECT_EQ(result.Verdict(), TRunVerdict::Success);
  EXPECT_EQ(dir.ReadFile("out/sub/b.txt"), "B");
  ExpectCliAgrees(result, "a.zip");
}

// A directory that is missing is a warning: every file is there. The typed report says so (the
// archive, Warning), and OnError still hears the designed 25104 with the same text.
TEST_F(ExtractJobTest, AMissingDirectoryIsAWarningNotAFailure) {
  ZipBuilder b;
  b.AddStored("a.txt", "A").AddStored("b.txt", "B").NoCentralDirectory().NoEndRecord();
  Write(b);
  std::vector<std::string> designed;
  const TRunResult result = Run(Request(), [&](TUnBase& extractor) {
    extractor.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
    extractor.OnError = [&](TObject*, const std::string& file, const std::string& detail,
                            const std::string& volume, int code) {
      designed.push_back(std::to_string(code) + " " + file + " " + detail + " " + volume);
    };
  });
  EXPECT_EQ(result.FilesExtracted, 2);
  ASSERT_EQ(result.Warnings.size(), 1u);
  const TReport& warning = result.Warnings.front();
  EXPECT_EQ(warning.Code, kErrReadingFileList);
  EXPECT_EQ(warning.Subject, TReportSubject::Archive);
  EXPECT_EQ(warning.Name, dir.System("a.zip"));
  EXPECT_TRUE(result.ArchiveFailures.empty());
  EXPECT_TRUE(result.NotExtracted.empty());
  EXPECT_EQ(result.Verdict(), TRunVerdict::SuccessWithWarnings);
  ASSERT_EQ(designed.size(), 1u);
  EXPECT_EQ(designed.front(), "25104 " + dir.System("a.zip") +
                                  " no central directory: members are read from their local "
                                  "headers 0");
  ExpectCliAgrees(result, "a.zip");
}

// A directory shorter than its end record says may have lost members for good: a failure of the
// archive, though every member found came out.
TEST_F(ExtractJobTest, ADamagedDirectoryIsAnArchiveFailure) {
  ZipBuilder b;
  b.AddStored("a.txt", "A").AddStored("b.txt", "B").TotalEntriesOverride(3);
  Write(b);
  const TRunResult result = Run(Request());
  EXPECT_EQ(result.FilesExtracted, 2);
  ASSERT_EQ(result.ArchiveFailures.size(), 1u);
  EXPECT_EQ(result.ArchiveFailures.front().Severity, TReportSeverity::Failed);
  EXPECT_EQ(result.ArchiveFailures.front().Code, kErrReadingFileList);
  EXPECT_EQ(result.Verdict(), TRunVerdict::Partial);
  ExpectCliAgrees(result, "a.zip");
}

// Members that cannot be opened are grouped by reason under their stored names; the others come
// out, so the run is partial. Without any password it fails whole.
TEST_F(ExtractJobTest, EncryptedMembersAreGroupedByReasonWithTheirNames) {
  ZipBuilder b;
  ZipMember locked = Stored("sub/locked.txt", "secret");
  locked.password = "right";
  ZipMember other = Stored("other.txt", "more");
  other.password = "right";
  b.AddStored("plain.txt", "P").Add(locked).Add(other);
  Write(b);
  TExtractRequest request = Request();
  const TRunResult none = Run(request);
  EXPECT_EQ(none.FilesExtracted, 1);
  ASSERT_EQ(none.NotExtracted.size(), 1u);
  EXPECT_EQ(none.NotExtracted.front().Code, kErrPasswordFailed);
  EXPECT_EQ(none.NotExtracted.front().Names,
            (std::vector<std::string>{"sub\\locked.txt", "other.txt"}));
  EXPECT_EQ(none.NotExtractedCount(), 2);
  EXPECT_EQ(none.FailedCount, 2);
  EXPECT_EQ(none.Verdict(), TRunVerdict::Partial);
  ExpectCliAgrees(none, "a.zip");

  request.Passwords = {"wrong"};
  request.Masks = {"sub\\*.*"};
  request.Destination = dir.System("out2");
  const TRunResult wrong = Run(request);
  EXPECT_EQ(wrong.FilesExtracted, 0);
  ASSERT_EQ(wrong.NotExtracted.size(), 1u);
  EXPECT_EQ(wrong.NotExtracted.front().Code, kErrInvalidPassword);
  EXPECT_EQ(wrong.NotExtracted.front().Names, std::vector<std::string>{"sub\\locked.txt"});
  EXPECT_EQ(wrong.Verdict(), TRunVerdict::Failed);

  request.Passwords = {"right"};
  request.Masks.clear();
  request.Destination = dir.System("out3");
  EXPECT_EQ(Run(request).Verdict(), TRunVerdict::Success);
  EXPECT_EQ(dir.ReadFile("out3/sub/locked.txt"), "secret");
}

// A checksum failure is a typed report also when OnEnd gives the designed verdict (and OnError,
// as designed, hears nothing of it).
TEST_F(ExtractJobTest, AChecksumFailureIsReportedWhateverEventsAreAssigned) {
  ZipBuilder b;
  ZipMember bad = Stored("bad.txt", "damaged");
  bad.crcOverride = 0x12345678;
  b.AddStored("good.txt", "G").Add(bad);
  Write(b);
  int onError = 0;
  const TRunResult result = Run(Request(), [&](TUnBase& extractor) {
    extractor.OnEnd = [](TObject*, const std::string&, bool) {};
    extractor.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&,
                            int) { ++onError; };
  });
  EXPECT_EQ(onError, 0);
  EXPECT_EQ(result.FilesExtracted, 1);
  ASSERT_EQ(result.NotExtracted.size(), 1u);
  EXPECT_EQ(result.NotExtracted.front().Code, kErrCrcCheck);
  EXPECT_EQ(result.NotExtracted.front().Names, std::vector<std::string>{"bad.txt"});
  EXPECT_EQ(result.Verdict(), TRunVerdict::Partial);
  ExpectCliAgrees(result, "a.zip");
  ExpectCliAgrees(Run([&] {
                    TExtractRequest r = Request();
                    r.TestOnly = true;
                    return r;
                  }()),
                  "a.zip", true);
}

// A destination that cannot be made, an archive that is not there or of no type the factory
// takes: the run ends before any extractor runs, with one fatal report about the archive.
TEST_F(ExtractJobTest, RunsThatCannotStartFailWithOneFatalReport) {
  ZipBuilder b;
  b.AddStored("a.txt", "A");
  Write(b);
  dir.WriteFile("blocker", "a file where the folder should be");
  TExtractRequest request = Request();
  request.Destination = dir.System("blocker\\inner");
  const TRunResult unwritable = Run(request);
  EXPECT_FALSE(unwritable.Started);
  ASSERT_EQ(unwritable.ArchiveFailures.size(), 1u);
  EXPECT_EQ(unwritable.ArchiveFailures.front().Severity, TReportSeverity::Fatal);
  EXPECT_EQ(unwritable.ArchiveFailures.front().Code, kErrCreatingDirectory);
  EXPECT_FALSE(unwritable.ArchiveFailures.front().Detail.empty());  // the system's reason
  EXPECT_EQ(unwritable.Verdict(), TRunVerdict::Failed);

  const TRunResult missing = Run(Request("gone.zip"));
  ASSERT_EQ(missing.Reports.size(), 1u);
  EXPECT_EQ(missing.Reports.front().Code, kErrFileNotFound);
  EXPECT_EQ(missing.Verdict(), TRunVerdict::Failed);
  ExpectCliAgrees(missing, "gone.zip");

  dir.WriteFile("text.zip", std::string(200, 'x'));
  const TRunResult unknown = Run(Request("text.zip"));
  ASSERT_EQ(unknown.Reports.size(), 1u);
  EXPECT_EQ(unknown.Reports.front().Code, kErrUnsupportedType);
  EXPECT_EQ(unknown.Verdict(), TRunVerdict::Failed);
  ExpectCliAgrees(unknown, "text.zip");
}

// Writing fails half-way (the disk fills): the member is named under its reason and removed; the
// files before it stay counted.
TEST_F(ExtractJobTest, AFullDiskFailsTheMemberInWork) {
  ZipBuilder b;
  b.AddStored("first.txt", "1").Add(Deflated("big.bin", Pattern(200000)));
  Write(b);
  host::TSeams seams;
  seams.DiskFullAfter = 1000;
  TRunResult result;
  {
    host::ScopedSeams scope(seams);
    result = Run(Request());
  }
  EXPECT_EQ(result.FilesExtracted, 1);
  ASSERT_EQ(result.NotExtracted.size(), 1u);
  EXPECT_EQ(result.NotExtracted.front().Code, kErrDiskFull);
  EXPECT_EQ(result.NotExtracted.front().Names, std::vector<std::string>{"big.bin"});
  EXPECT_FALSE(fs::exists(dir.Host("out/big.bin")));
  EXPECT_EQ(result.Verdict(), TRunVerdict::Partial);
}

// The person stops the run: the result says cancelled, and the run is partial (or failed, when
// nothing came out yet).
TEST_F(ExtractJobTest, ACancelledRunIsPartialOrFailed) {
  ZipBuilder b;
  b.AddStored("1.txt", "1").AddStored("2.txt", "2").AddStored("3.txt", "3");
  Write(b);
  for (const int stopAt : {0, 2}) {
    TExtractRequest request = Request();
    request.Destination = dir.System("out" + std::to_string(stopAt));
    const TRunResult result = Run(request, [stopAt](TUnBase& extractor) {
      extractor.OnBegin = [&extractor, stopAt](TObject*, const std::string&, int count, bool&) {
        if (count == stopAt) extractor.SetCancel(true);
      };
    });
    EXPECT_TRUE(result.Cancelled);
    EXPECT_EQ(result.FilesExtracted, stopAt);
    EXPECT_EQ(result.Verdict(), stopAt == 0 ? TRunVerdict::Failed : TRunVerdict::Partial);
    ASSERT_FALSE(result.Reports.empty());
    EXPECT_EQ(result.Reports.front().Severity, TReportSeverity::Info);
    EXPECT_EQ(result.Reports.front().Code, kErrUserCanceled);
  }
}

// Every report goes out once typed and once in the designed form, from the same record.
TEST_F(ExtractJobTest, OnErrorAndOnReportHearTheSameReports) {
  ZipBuilder b;
  ZipMember locked = Stored("locked.txt", "secret");
  locked.password = "right";
  ZipMember bad = Stored("bad.txt", "damaged");
  bad.crcOverride = 1;
  b.AddStored("a.txt", "A").Add(locked).Add(bad).TotalEntriesOverride(5);
  Write(b);
  TUnZip unzip;
  std::vector<std::string> designed, typed;
  unzip.OnError = [&](TObject*, const std::string& file, const std::string& detail,
                      const std::string& volume, int code) {
    designed.push_back(std::to_string(code) + "|" + file + "|" + detail + "|" + volume);
  };
  unzip.OnReport = [&](TObject*, const TReport& r) {
    typed.push_back(std::to_string(r.Code) + "|" + r.FileName + "|" + r.Detail + "|" + r.VolumeId);
  };
  TExtractJob job(Request());
  const TRunResult result = job.Run(unzip);
  EXPECT_EQ(typed, designed);
  EXPECT_EQ(result.Reports.size(), typed.size());
  EXPECT_EQ(typed.size(), 3u);
  // The listener the caller assigned is given back.
  EXPECT_TRUE(static_cast<bool>(unzip.OnReport));
}

}  // namespace
