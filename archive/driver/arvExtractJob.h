// The extraction job: one run of an extractor as the front ends drive it (parcelo-cli extract and
// test, the wizard). It checks the archive and the destination, sets the extractor up from a
// request (destination, masks, passwords, what to do with existing files, test only), runs it,
// listens to its typed reports and folds them into one run result: files extracted, warnings,
// members not extracted grouped by reason with their names, archive-level failures, cancelled or
// not, and one verdict. It knows no archive format: the caller hands it the extractor (TUnZip for
// the zip family, TUnArchive for the others), or a factory that chooses one by the archive's type.
// Prompts and progress stay the extractor's events, which the front end assigns.
//
//   TExtractJob job(request);
//   job.OnReport = [](const TReport& r) { ... };          // optional: each report as it comes
//   TRunResult result = job.Run(factory, [](TUnBase& x) { x.OnProgress = ...; });
//   // or, with an extractor already made and its events assigned: job.Run(extractor)
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/driver/arvbase.h"
#include "archive/messages/arvReports.h"

// What a run is asked to do. Paths are full paths in system syntax (front ends expand what a
// person typed first: the engine takes a path without a drive as rooted).
struct TExtractRequest {
  std::string ArchiveFile;
  std::string Destination;  // not used when testing; made (with its parents) when missing
  // Masks in system syntax ("\" separators); none selects every member.
  std::vector<std::string> Masks;
  std::vector<std::string> Passwords;  // tried in turn before OnGetPassword is asked
  // Files already there: replaced, kept, or asked about through the extractor's OnFileExists.
  enum class TExisting : uint8_t { Overwrite, Skip, Ask } Existing = TExisting::Overwrite;
  bool UseStoredDirs = true;  // false: every file goes straight into the destination
  bool TestOnly = false;      // decode and check every selected member, write nothing
};

// How a run went, in one word.
enum class TRunVerdict : uint8_t {
  Success,              // every selected member extracted, nothing said
  SuccessWithWarnings,  // every selected member extracted, something said (nothing lost)
  Partial,              // some members extracted, others not (or the run was cancelled)
  Failed,               // nothing extracted, and something failed (or the archive is unreadable)
};
const char* VerdictName(TRunVerdict verdict);

// The members that were not extracted for one reason (one message code).
struct TNotExtracted {
  int Code = 0;
  std::vector<std::string> Names;  // stored names, in archive order, each once
};

struct TRunResult {
  int FilesExtracted = 0;  // files extracted (or tested) whole: the extractor's count
  int FailedCount = 0;     // selected members not extracted whole: the extractor's count
  int SelectedCount = 0;   // members the run selected (files and folders, failed ones included)
  bool Started = false;    // the extractor ran (the checks before it passed)
  bool Cancelled = false;
  bool NothingMatched = false;  // masks were given and no member matched them
  bool Empty = false;           // the archive holds no member, and nothing else was said
  std::vector<TReport> Reports;          // every report, in the order given
  std::vector<TReport> Warnings;         // severity Warning
  std::vector<TNotExtracted> NotExtracted;  // members that failed, by reason, first reason first
  std::vector<TReport> ArchiveFailures;  // Fatal reports, and failures of the archive or a volume

  TRunVerdict Verdict() const;
  // How many distinct members NotExtracted names.
  int NotExtractedCount() const;
  // Folds one report in (the job calls this for every report of its run).
  void Add(const TReport& report);
};

// Chooses the extractor for an archive type; nullptr for a type none extracts.
using TExtractorFactory = std::function<std::unique_ptr<TUnBase>(TArcType type)>;
// Assigns the front end's events (prompts, progress) to the extractor chosen.
using TExtractorSetup = std::function<void(TUnBase& extractor)>;

class TExtractJob {
 public:
  explicit TExtractJob(TExtractRequest request) : FRequest(std::move(request)) {}

  // Each report as it comes, after it was folded into the result (optional).
  std::function<void(const TReport& report)> OnReport;

  // Detects the archive's type, has the factory make the extractor, lets `setup` assign its
  // events, and runs it. An archive that is missing, unreadable or of a type the factory does not
  // take, and a destination that cannot be made, end the run with an archive-level report (Fatal)
  // before anything is extracted.
  TRunResult Run(const TExtractorFactory& factory, const TExtractorSetup& setup = {});
  // Runs an extractor made by the caller (its events assigned); its properties are set from the
  // request. The same checks come first.
  TRunResult Run(TUnBase& extractor);

  const TExtractRequest& Request() const { return FRequest; }

 private:
  // The checks before any extractor runs; false (reported into `result`) when the run cannot go on.
  bool CheckArchive(TRunResult& result);
  bool MakeDestination(TRunResult& result);
  void Say(TRunResult& result, TReport report);

  TExtractRequest FRequest;
};
