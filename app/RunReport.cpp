// The text of the wizard's error box after an extraction (see RunReport.h).
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

TFailure FailureOfCode(int code, const std::string& extendedMsg) {
  switch (code) {
    case kErrInvalidPassword:  // a password was tried and is wrong
    case kErrPasswordFailed:   // none was known for the member
      return TFailure::Password;
    case kErrEventNotAssigned:
      return extendedMsg == "OnGetPassword" ? TFailure::Password : TFailure::Other;
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

int TRunReport::FailedCount() const {
  const int failed = static_cast<int>(std::count_if(
      Members.begin(), Members.end(), [](const auto& m) { return m.Failure != TFailure::None; }));
  // The count Extract returned is the engine's word on what was written; members it did not
  // count but reported nothing about still failed.
  const int shortfall = static_cast<int>(Members.size()) - Extracted;
  return std::max(failed, shortfall);
}

bool TRunReport::PasswordFailed() const {
  return std::any_of(Members.begin(), Members.end(),
                     [](const auto& m) { return m.Failure == TFailure::Password; });
}

std::string TRunReport::Text() const {
  std::string text;
  if (!ArchiveErrors.empty())
    text = "The archive could not be read: " + ArchiveErrors.front() + ".";
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
  for (const auto& member : Members) {
    if (member.Failure == TFailure::None) continue;
    const std::string writeReason =
        member.Failure == TFailure::Write ? WriteReasonText(member.Reason) : std::string();
    auto reason = std::find_if(reasons.begin(), reasons.end(), [&](const TReason& r) {
      return r.failure == member.Failure && r.writeReason == writeReason;
    });
    if (reason == reasons.end()) {
      // Another reason for a write: its group follows the other write failures.
      auto after = std::find_if(reasons.begin(), reasons.end(),
                                [](const TReason& r) { return r.failure == TFailure::Method; });
      reason = reasons.insert(after, {member.Failure, {}, writeReason});
    }
    reason->names.push_back(member.Name);
    ++explained;
  }

  text += Files(failed) + (failed == 1 ? " was" : " were") + " not extracted.";
  for (const auto& reason : reasons) {
    const int n = static_cast<int>(reason.names.size());
    if (n == 0) continue;
    const std::string names = NameList(reason.names);
    text += "\n\n";
    switch (reason.failure) {
      case TFailure::Password:
        text += PasswordTyped ? "The password is wrong for " + Files(n) + ": " + names + "."
                              : Files(n) + (n == 1 ? " is" : " are") +
                                    " protected by a password, and none was typed: " + names + ".";
        break;
      case TFailure::Checksum:
        text += Files(n) +
                " came out different from what the archive recorded (a damaged "
                "archive): " +
                names + ".";
        break;
      case TFailure::Write:
        text += Files(n) + " could not be written to the destination folder" +
                (reason.writeReason.empty() ? "" : " (" + reason.writeReason + ")") + ": " + names +
                ".";
        break;
      case TFailure::Method:
        text += Files(n) + (n == 1 ? " is" : " are") +
                " packed with a method Parcelo does not know: " + names + ".";
        break;
      case TFailure::Damaged:
        text += Files(n) + " could not be read from the archive, which is damaged: " + names + ".";
        break;
      case TFailure::Other:
      case TFailure::None:
        text += Files(n) + " could not be extracted: " + names + ".";
        break;
    }
  }
  if (failed > explained)
    text += "\n\n" + Files(failed - explained) +
            " could not be extracted for a reason the "
            "archive did not give.";
  if (PasswordFailed())
    text += PasswordTyped ? "\n\nType the right password and click Unzip again."
                          : "\n\nType the password and click Unzip again.";
  return text;
}

std::string TRunReport::ResultSentence(const std::string& destination) const {
  const int failed = FailedCount();
  if (failed == 0)
    return "Congratulations, you have successfully extracted " + std::to_string(Extracted) +
           " file(s) to the folder " + destination +
           ". Click the Goto Folder button to view your extracted files.";
  return "Parcelo extracted " + std::to_string(Extracted) + " of " +
         std::to_string(Extracted + failed) + " files to the folder " + destination + "; " +
         std::to_string(failed) + " could not be extracted.";
}

}  // namespace wizard
