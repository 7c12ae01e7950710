// The extraction job: the checks before a run, the extractor's set-up from the request, and the
// folding of its typed reports into the run result and its verdict.
#include "archive/driver/arvExtractJob.h"

#include <algorithm>
#include <iterator>

#include "archive/common/arvScopeExit.h"

namespace {
constexpr const char* kVerdictNames[] = {"success", "success with warnings", "partial", "failed"};
static_assert(std::size(kVerdictNames) == static_cast<size_t>(TRunVerdict::Failed) + 1);
}  // namespace

const char* VerdictName(TRunVerdict verdict) {
  const auto index = static_cast<size_t>(verdict);
  return index < std::size(kVerdictNames) ? kVerdictNames[index] : "?";
}

// ---- TRunResult ---------------------------------------------------------------------------------
void TRunResult::Add(const TReport& report) {
  Reports.push_back(report);
  switch (report.Severity) {
    case TReportSeverity::Info:
      if (report.Code == kErrUserCanceled && report.Subject == TReportSubject::Archive)
        Cancelled = true;
      break;
    case TReportSeverity::Warning:
      Warnings.push_back(report);
      break;
    case TReportSeverity::Failed:
    case TReportSeverity::Fatal:
      if (report.Subject != TReportSubject::Member || report.Severity == TReportSeverity::Fatal) {
        ArchiveFailures.push_back(report);
        break;
      }
      // A member is named once, under the first reason given for it.
      for (const TNotExtracted& group : NotExtracted) {
        if (std::find(group.Names.begin(), group.Names.end(), report.Name) != group.Names.end())
          return;
      }
      auto group = std::find_if(NotExtracted.begin(), NotExtracted.end(),
                                [&](const TNotExtracted& g) { return g.Code == report.Code; });
      if (group == NotExtracted.end()) {
        NotExtracted.push_back({report.Code, {}});
        group = NotExtracted.end() - 1;
      }
      group->Names.push_back(report.Name);
      break;
  }
}

int TRunResult::NotExtractedCount() const {
  int count = 0;
  for (const TNotExtracted& group : NotExtracted) count += static_cast<int>(group.Names.size());
  return count;
}

TRunVerdict TRunResult::Verdict() const {
  const bool fatal =
      std::any_of(ArchiveFailures.begin(), ArchiveFailures.end(),
                  [](const TReport& r) { return r.Severity == TReportSeverity::Fatal; });
  const bool failures = FailedCount > 0 || !NotExtracted.empty() || !ArchiveFailures.empty();
  if (fatal && FilesExtracted == 0) return TRunVerdict::Failed;
  if (failures || Cancelled) return FilesExtracted > 0 ? TRunVerdict::Partial : TRunVerdict::Failed;
  if (!Warnings.empty() || Empty) return TRunVerdict::SuccessWithWarnings;
  return TRunVerdict::Success;
}

// ---- TExtractJob --------------------------------------------------------------------------------
void TExtractJob::Say(TRunResult& result, TReport report) {
  result.Add(report);
  if (!OnReport) return;
  try {
    OnReport(report);
  } catch (...) {
    // A listener's exception is not the run's business.
  }
}

bool TExtractJob::CheckArchive(TRunResult& result) {
  TReport report;
  report.Severity = TReportSeverity::Fatal;
  report.Subject = TReportSubject::Archive;
  report.Name = report.FileName = FRequest.ArchiveFile;
  if (FRequest.ArchiveFile.empty() || !host::FileExists(FRequest.ArchiveFile)) {
    report.Code = kErrFileNotFound;
    Say(result, report);
    return false;
  }
  // An archive that cannot be read is said to be one, with the system's reason.
  const host::THandle probe = host::FileOpen(FRequest.ArchiveFile, host::fmOpenRead);
  if (probe < 0) {
    report.Code = kErrOpeningFile;
    report.Detail = host::LastErrorText();
    Say(result, report);
    return false;
  }
  host::FileClose(probe);
  return true;
}

bool TExtractJob::MakeDestination(TRunResult& result) {
  if (FRequest.TestOnly || MakeDirPath(FRequest.Destination)) return true;
  TReport report;
  report.Severity = TReportSeverity::Fatal;
  report.Subject = TReportSubject::Archive;
  report.Name = FRequest.ArchiveFile;
  report.FileName = FRequest.Destination;
  report.Code = kErrCreatingDirectory;
  report.Detail = host::LastErrorText();
  Say(result, report);
  return false;
}

TRunResult TExtractJob::Run(const TExtractorFactory& factory, const TExtractorSetup& setup) {
  TRunResult result;
  if (!CheckArchive(result)) return result;
  TRegisterArcova probe;
  probe.SetArchiveFile(FRequest.ArchiveFile);
  std::unique_ptr<TUnBase> extractor = factory ? factory(probe.ArcType()) : nullptr;
  if (!extractor) {
    TReport report;
    report.Severity = TReportSeverity::Fatal;
    report.Subject = TReportSubject::Archive;
    report.Name = report.FileName = FRequest.ArchiveFile;
    report.Code = kErrUnsupportedType;
    Say(result, report);
    return result;
  }
  if (setup) setup(*extractor);
  return Run(*extractor);
}

TRunResult TExtractJob::Run(TUnBase& extractor) {
  TRunResult result;
  if (!CheckArchive(result) || !MakeDestination(result)) return result;

  extractor.SetArchiveFile(FRequest.ArchiveFile);
  TStringList spec;
  for (const std::string& mask : FRequest.Masks) spec.Add(mask);
  if (spec.Empty()) spec.Add("*.*");
  extractor.SetFileSpec(spec);
  // Testing writes nothing: the destination only names what is tested.
  extractor.SetExtractDir(FRequest.TestOnly && FRequest.Destination.empty()
                              ? host::GetCurrentDir()
                              : FRequest.Destination);
  extractor.SetCreateStoredDirs(true);
  extractor.SetUseStoredDirs(FRequest.UseStoredDirs);
  TStringList passwords;
  for (const std::string& password : FRequest.Passwords) passwords.Add(password);
  extractor.SetPasswords(passwords);
  extractor.SetTestOnly(FRequest.TestOnly);
  switch (FRequest.Existing) {
    case TExtractRequest::TExisting::Overwrite:
      extractor.SetConfirmOverwrites(false);
      extractor.SetOverwriteMode(omOverwrite);
      break;
    case TExtractRequest::TExisting::Skip:
      extractor.SetConfirmOverwrites(false);
      extractor.SetOverwriteMode(omSkip);
      break;
    case TExtractRequest::TExisting::Ask:
      extractor.SetConfirmOverwrites(true);
      break;
  }

  // The job listens beside whoever listened before, and gives the listener back afterwards.
  TReportEvent previous = extractor.OnReport;
  extractor.OnReport = [&](TObject* sender, const TReport& report) {
    Say(result, report);
    if (previous) previous(sender, report);
  };
  const TScopeExit restore([&] { extractor.OnReport = previous; });

  result.Started = true;
  result.FilesExtracted = extractor.Extract();
  result.FailedCount = extractor.FailedCount();
  result.SelectedCount = extractor.SelectedCount();
  if (result.SelectedCount == 0 && result.FailedCount == 0) {
    result.NothingMatched = !FRequest.Masks.empty();
    result.Empty = FRequest.Masks.empty() && result.Reports.empty();
  }
  return result;
}
