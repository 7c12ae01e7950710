// The wizard's words for a run result (see RunReport.h).
#include "app/RunReport.h"

#include <algorithm>

#include "archive/messages/Err_Msgs.h"

namespace wizard {

namespace {

constexpr size_t kNamesShown = 3;  // names listed per reason; the rest are counted

std::string Files(int count) {
  return std::to_string(count) + (count == 1 ? " file" : " files");
}

// "a.txt, b.txt, c.txt and 4 more"
std::string NameList(const std::vector<std::string>& names) {
  std::string list;
  const size_t shown = std::min(names.size(), kNamesShown);
  for (size_t i = 0; i < shown; ++i) {
    if (i > 0) list += i + 1 == shown && names.size() == shown ? " and " : ", ";
    list += names[i];
  }
  if (names.size() > shown) list += " and " + std::to_string(names.size() - shown) + " more";
  return list;
}

bool IsFolderName(const std::string& name) {
  return !name.empty() && (name.back() == '\\' || name.back() == '/');
}

// The message of a code, with what the report adds to it (not a path: that is the file in work).
std::string MessageOf(const TReport& report) {
  std::string text = LoadStr(report.Code);
  if (text.empty()) text = "error " + std::to_string(report.Code);
  if (!report.Detail.empty() && !report.DetailIsPath) text += " (" + report.Detail + ")";
  return text;
}

// One sentence for a failure that belongs to no member.
std::string ArchiveFailureText(const TReport& report, bool extractedSome) {
  if (report.Subject == TReportSubject::Volume) {
    if (report.Code == kErrUserCanceled || report.Code == kErrFileNotFound)
      return "The volume " + report.Name + " of the set could not be found.";
    return "The volume " + report.Name + " of the set could not be read: " + MessageOf(report) +
           ".";
  }
  if (report.Code == kErrCreatingDirectory) {
    const std::string reason = WriteReasonText(report.Detail);
    return "The folder " + report.FileName + " could not be made" +
           (reason.empty() ? "" : " (" + reason + ")") + ".";
  }
  if (report.Code == kErrFileNotFound) return "The archive " + report.Name + " does not exist.";
  if (report.Code == kErrUnsupportedType)
    return "The archive could not be read: it is not an archive of a kind Parcelo reads.";
  switch (report.Code) {
    case kErrReadingFileList:
    case kErrReadingFile:
    case kErrBadFileHeader:
    case kErrBadBlock:
      // Damage in the archive itself: what the engine adds about where is no help to a person.
      return extractedSome ? "The rest of the archive could not be read: it is damaged or cut short."
                           : "The archive could not be read: it is damaged or cut short.";
    default:
      break;
  }
  return (extractedSome ? "The rest of the archive could not be read: "
                        : "The archive could not be read: ") +
         MessageOf(report) + ".";
}

// The reason a person is told for a failure of one class.
std::string ReasonSentence(TFailure failure, int n, const std::string& names,
                           const std::string& writeReason, bool passwordTyped) {
  switch (failure) {
    case TFailure::Password:
      return passwordTyped ? "The password is wrong for " + Files(n) + ": " + names + "."
                           : Files(n) + (n == 1 ? " is" : " are") +
                                 " protected by a password, and none was typed: " + names + ".";
    case TFailure::Checksum:
      return Files(n) +
             " came out different from what the archive recorded (a damaged archive): " + names +
             ".";
    case TFailure::Write:
      return Files(n) + " could not be written to the destination folder" +
             (writeReason.empty() ? "" : " (" + writeReason + ")") + ": " + names + ".";
    case TFailure::Method:
      return Files(n) + (n == 1 ? " is" : " are") +
             " packed with a method Parcelo does not know: " + names + ".";
    case TFailure::Damaged:
      return Files(n) + " could not be read from the archive, which is damaged: " + names + ".";
    case TFailure::Other:
    case TFailure::None:
      break;
  }
  return Files(n) + " could not be extracted: " + names + ".";
}

}  // namespace

std::string WriteReasonText(const std::string& systemReason) {
  static const struct {
    const char* system;
    const char* shown;
  } kReasons[] = {
      {"Read-only file system", "the disk is read-only"},
      {"No space left on device", "the disk is full"},
      {"Disk full", "the disk is full"},
      {"Permission denied", "you may not write there"},
      {"Is a directory", "a folder of that name is in the way"},
      {"Not a directory", "a file stands where a folder is needed"},
      {"File exists", "a file of that name is in the way"},
  };
  for (const auto& reason : kReasons)
    if (systemReason == reason.system) return reason.shown;
  std::string shown = systemReason;
  if (!shown.empty() && shown[0] >= 'A' && shown[0] <= 'Z' &&
      (shown.size() < 2 || !(shown[1] >= 'A' && shown[1] <= 'Z')))
    shown[0] = static_cast<char>(shown[0] - 'A' + 'a');
  return shown;
}

TFailure FailureOfCode(int code, const std::string& detail) {
  switch (code) {
    case kErrInvalidPassword:  // a password was tried and is wrong
    case kErrPasswordFailed:   // none was known for the member
      return TFailure::Password;
    case kErrEventNotAssigned:
      return detail == "OnGetPassword" ? TFailure::Password : TFailure::Other;
    case kErrCrcCheck:
      return TFailure::Checksum;
    case kErrOpeningFile:
    case kErrWritingFile:
    case kErrCreatingDirectory:
    case kErrClosingFile:
    case kErrDiskFull:
    case kErrNotAccessible:
    case kErrWriteProtected:
    case kErrInvalidFileName:
      return TFailure::Write;
    case kErrUnsupportedMethod:
      return TFailure::Method;
    case kErrBadFileHeader:
    case kErrBadBlock:
    case kErrReadingFile:
    case kErrAmbiguousTree:
    case kErrStackOverflow:
      return TFailure::Damaged;
    default:
      return TFailure::Other;
  }
}

std::vector<TMemberFailure> TRunReport::FailedFiles() const {
  std::vector<TMemberFailure> files;
  for (const TNotExtracted& group : FResult.NotExtracted) {
    for (const std::string& name : group.Names) {
      if (IsFolderName(name)) continue;  // a folder is no file: its files are named themselves
      // The report that gave the reason: its detail is the system's word on a failed write.
      const auto report = std::find_if(
          FResult.Reports.begin(), FResult.Reports.end(), [&](const TReport& r) {
            return r.Subject == TReportSubject::Member && r.Code == group.Code && r.Name == name;
          });
      const std::string detail = report == FResult.Reports.end() ? std::string() : report->Detail;
      const TFailure failure = FailureOfCode(group.Code, detail);
      files.push_back({name, failure,
                       failure == TFailure::Write && report != FResult.Reports.end() &&
                               !report->DetailIsPath
                           ? detail
                           : std::string()});
    }
  }
  return files;
}

int TRunReport::FailedCount() const {
  int folders = 0;
  for (const TNotExtracted& group : FResult.NotExtracted)
    folders += static_cast<int>(std::count_if(group.Names.begin(), group.Names.end(), IsFolderName));
  const int named = FResult.NotExtractedCount() - folders;
  // The extractor's own count is its word on what failed; members it counted but gave no reason
  // for still failed.
  return std::max(named, FResult.FailedCount - folders);
}

bool TRunReport::PasswordFailed() const {
  const std::vector<TMemberFailure> files = FailedFiles();
  return std::any_of(files.begin(), files.end(),
                     [](const TMemberFailure& f) { return f.Failure == TFailure::Password; });
}

std::string TRunReport::Text() const {
  std::string text;
  // Failures of the archive or of a volume, each said once.
  std::vector<std::string> said;
  for (const TReport& report : FResult.ArchiveFailures) {
    if (report.Code == kErrUserCanceled && report.Subject == TReportSubject::Archive) continue;
    const std::string sentence = ArchiveFailureText(report, FResult.FilesExtracted > 0);
    if (std::find(said.begin(), said.end(), sentence) != said.end()) continue;
    said.push_back(sentence);
    text += (text.empty() ? "" : "\n\n") + sentence;
  }
  const int failed = FailedCount();
  if (failed == 0) return text;
  if (!text.empty()) text += "\n\n";

  struct TReason {
    TFailure failure;
    std::vector<std::string> names;
    std::string writeReason;  // a write failure: one group per reason the system gave
  };
  std::vector<TReason> reasons = {{TFailure::Password, {}, {}}, {TFailure::Checksum, {}, {}},
                                  {TFailure::Write, {}, {}},    {TFailure::Method, {}, {}},
                                  {TFailure::Damaged, {}, {}},  {TFailure::Other, {}, {}}};
  int explained = 0;
  for (const TMemberFailure& file : FailedFiles()) {
    const std::string writeReason = WriteReasonText(file.Reason);
    auto reason = std::find_if(reasons.begin(), reasons.end(), [&](const TReason& r) {
      return r.failure == file.Failure && r.writeReason == writeReason;
    });
    if (reason == reasons.end()) {
      // Another reason for a write: its group follows the other write failures.
      auto after = std::find_if(reasons.begin(), reasons.end(),
                                [](const TReason& r) { return r.failure == TFailure::Method; });
      reason = reasons.insert(after, {file.Failure, {}, writeReason});
    }
    reason->names.push_back(file.Name);
    ++explained;
  }

  text += Files(failed) + (failed == 1 ? " was" : " were") + " not extracted.";
  for (const TReason& reason : reasons) {
    const int n = static_cast<int>(reason.names.size());
    if (n == 0) continue;
    text += "\n\n" + ReasonSentence(reason.failure, n, NameList(reason.names), reason.writeReason,
                                    FPasswordTyped);
  }
  if (failed > explained)
    text += "\n\n" + Files(failed - explained) +
            " could not be extracted for a reason the archive did not give.";
  if (PasswordFailed())
    text += FPasswordTyped ? "\n\nType the right password and click Unzip again."
                           : "\n\nType the password and click Unzip again.";
  return text;
}

std::string TRunReport::WarningText() const {
  std::string text;
  for (const TReport& report : FResult.Warnings) {
    std::string sentence;
    if (report.Code == kErrReadingFileList && report.Subject == TReportSubject::Archive)
      sentence = "The archive's directory was missing; its files were found one by one.";
    else if (report.Subject == TReportSubject::Member)
      sentence = report.Name + ": " + MessageOf(report) + ".";
    else
      sentence = MessageOf(report) + ".";
    if (text.find(sentence) != std::string::npos) continue;
    text += (text.empty() ? "" : "\n\n") + sentence;
  }
  if (FResult.Empty) text += std::string(text.empty() ? "" : "\n\n") + "The archive holds no files.";
  return text;
}

std::string TRunReport::ResultSentence(const std::string& destination) const {
  const int extracted = FResult.FilesExtracted;
  switch (Verdict()) {
    case TRunVerdict::Success:
    case TRunVerdict::SuccessWithWarnings:
      return "Congratulations, you have successfully extracted " + std::to_string(extracted) +
             " file(s) to the folder " + destination +
             ". Click the Goto Folder button to view your extracted files.";
    case TRunVerdict::Partial:
    case TRunVerdict::Failed:
      break;
  }
  const int failed = FailedCount();
  // Members after a point where the archive could not be read are not known: no "of how many".
  const bool archiveFailed =
      std::any_of(FResult.ArchiveFailures.begin(), FResult.ArchiveFailures.end(),
                  [](const TReport& r) { return r.Code != kErrUserCanceled; });
  if (failed > 0 && archiveFailed)
    return "Parcelo extracted " + Files(extracted) + " to the folder " + destination + "; " +
           std::to_string(failed) +
           " could not be extracted, and the rest of the archive could not be read.";
  if (failed > 0)
    return "Parcelo extracted " + std::to_string(extracted) + " of " +
           std::to_string(extracted + failed) + " files to the folder " + destination + "; " +
           std::to_string(failed) + " could not be extracted.";
  if (FResult.Cancelled)
    return "Parcelo extracted " + Files(extracted) + " to the folder " + destination +
           " before the extraction was stopped.";
  return "Parcelo extracted " + Files(extracted) + " to the folder " + destination +
         "; the rest of the archive could not be read.";
}

}  // namespace wizard
