// The wizard's extraction run and what it gathers of the extractor's reports (see WizardRun.h).
#include "app/WizardRun.h"

#include <algorithm>
#include <set>
#include <vector>

#include "archive/common/arvGbls.h"
#include "archive/messages/Err_Msgs.h"
#include "platform/host.h"

namespace wizard {

namespace {

// The path below the destination folder that a person recognises.
std::string ShownName(const std::string& outputPath, const std::string& extractDir) {
  if (!extractDir.empty() && outputPath.size() > extractDir.size() &&
      SameTextAscii(outputPath.substr(0, extractDir.size()), extractDir))
    return outputPath.substr(extractDir.size());
  return outputPath;
}

bool IsFolderName(const std::string& name) {
  return !name.empty() && (name.back() == '\\' || name.back() == '/');
}

}  // namespace

TWizardRun::TWizardRun(TUnZip& extractor) : FExtractor(extractor) {
  // Listeners only: what the engine decides stays its own; the window learns what failed.
  FExtractor.OnBegin = [this](TObject*, const std::string& fileName, int, bool&) {
    MemberBegins(fileName);
  };
  FExtractor.OnError = [this](TObject*, const std::string& fileName, const std::string& extendedMsg,
                              const std::string&,
                              int code) { ErrorReported(fileName, extendedMsg, code); };
}

TWizardRun::~TWizardRun() {
  FExtractor.OnBegin = nullptr;
  FExtractor.OnError = nullptr;
}

TRunReport TWizardRun::Run(const TRunSettings& settings) {
  FExtractor.SetArchiveFile(settings.Archive);
  FExtractor.FileSpec().Clear();
  FExtractor.FileSpec().Add("*.*");
  FExtractor.SetExtractDir(settings.Destination);
  FExtractor.Passwords().Clear();
  FExtractor.Passwords().Add(settings.Password);

  FReport = TRunReport();
  FReport.PasswordTyped = !settings.Password.empty();
  FCurrent = -1;
  FEarlyReport = -1;
  // Extract passes over a file that is no zip of any kind without a word; the person is told.
  if (!IsZipFamily(FExtractor.ArcType()))
    FReport.ArchiveErrors.push_back("it is not a zip archive");
  FReport.Extracted = FExtractor.Extract();

  const std::string extractDir = FExtractor.ExtractDir();
  for (auto& member : FReport.Members) member.Name = ShownName(member.Name, extractDir);
  return FReport;
}

void TWizardRun::MemberBegins(const std::string& fileName) {
  const std::string extractDir = FExtractor.ExtractDir();
  if (IsFolderName(fileName)) {
    // A folder is no file: it is neither counted nor listed among those not extracted.
    FCurrent = -1;
    FEarlyReport = -1;
    return;
  }
  if (FEarlyReport >= 0 &&
      SameTextAscii(ShownName(FReport.Members[static_cast<size_t>(FEarlyReport)].Name, extractDir),
                    ShownName(fileName, extractDir))) {
    // What was said about the member before it began did not stop it: it is extracted now.
    FReport.Members[static_cast<size_t>(FEarlyReport)] = {fileName, TFailure::None};
    FCurrent = FEarlyReport;
  } else {
    FReport.Members.push_back({fileName, TFailure::None});
    FCurrent = static_cast<int>(FReport.Members.size()) - 1;
  }
  FEarlyReport = -1;
}

void TWizardRun::ErrorReported(const std::string& fileName, const std::string& extendedMsg,
                               int code) {
  if (FExtractor.Cancel() || code == kErrUserCanceled) return;
  const TFailure failure = FailureOfCode(code, extendedMsg);
  if (FCurrent >= 0) {
    TMemberResult& member = FReport.Members[static_cast<size_t>(FCurrent)];
    // The engine names each member that fails once, with its reason (an encrypted member
    // without its password included); the first reason is the one the person is told.
    if (SameTextAscii(fileName, member.Name)) {
      if (member.Failure == TFailure::None) {
        member.Failure = failure;
        if (failure == TFailure::Write) member.Reason = extendedMsg;
      }
      return;
    }
  }
  if (IsFolderName(fileName)) return;  // its files, if any fail, are named themselves
  if (NamesAMember(fileName)) {
    // A member that failed before it began (a damaged header, a name that leaves nothing to
    // write, a link planted where it goes): a file that was not extracted, not a fault of the
    // whole archive.
    FReport.Members.push_back(
        {fileName, failure, failure == TFailure::Write ? extendedMsg : std::string()});
    FEarlyReport = static_cast<int>(FReport.Members.size()) - 1;
    return;
  }
  std::string text = LoadStr(code);
  if (text.empty()) text = "error " + std::to_string(code);
  FReport.ArchiveErrors.push_back(text);
}

bool TWizardRun::NamesAMember(const std::string& fileName) const {
  const std::string archive = FExtractor.ArchiveFile();
  if (fileName.empty() || SameTextAscii(fileName, archive)) return false;
  const bool fullPath = fileName[0] == '\\' || (fileName.size() >= 2 && fileName[1] == ':');
  if (!fullPath) return true;  // the name the archive lists
  if (!StartsTextAscii(AppendBackslash(FExtractor.ExtractDir()), fileName)) return false;
  // The set's other volumes (archive.z01...) lie beside the archive, which may be in the
  // destination itself.
  const auto stem = [](const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t separator = path.find_last_of('\\');
    return dot != std::string::npos && (separator == std::string::npos || dot > separator)
               ? path.substr(0, dot)
               : path;
  };
  return !SameTextAscii(stem(fileName), stem(archive));
}

TDestinationSurvey SurveyDestination(TArcova& lister, TUnZip& extractor, const std::string& archive,
                                     const std::string& destination) {
  struct TListed {
    std::string Name;
    bool Folder;
  };
  std::vector<TListed> members;
  lister.SetArchiveFile(archive);
  lister.SetShowEmptyDirs(true);
  lister.OnRead = [&](TObject*, int64_t, int) {
    const TArcovaEntry& entry = lister.Entry();
    members.push_back({entry.FileName, entry.IsDirectory});
  };
  lister.Scan();
  lister.OnRead = nullptr;
  lister.SetShowEmptyDirs(false);

  TDestinationSurvey survey;
  std::set<std::string> newFolders;
  // A folder that does not exist yet, and every missing one above it.
  const auto noteMissing = [&](std::string folder) {
    while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    while (!folder.empty() && !newFolders.count(folder) && !host::NameExists(folder)) {
      newFolders.insert(folder);
      const size_t cut = folder.find_last_of('\\');
      if (cut == std::string::npos || cut < 3) break;
      folder.resize(cut);
    }
  };
  noteMissing(destination);
  extractor.SetExtractDir(destination);
  for (const TListed& member : members) {
    extractor.BuildOutputName(member.Name);
    std::string outputPath = extractor.OutputPath();
    if (outputPath.empty()) continue;
    if (member.Folder) {
      while (!outputPath.empty() && outputPath.back() == '\\') outputPath.pop_back();
      if (!host::NameExists(outputPath)) survey.StoredFolders.push_back(outputPath);
      noteMissing(outputPath);
      continue;
    }
    if (host::FileExists(outputPath)) ++survey.ExistingFiles;
    const size_t cut = outputPath.find_last_of('\\');
    if (cut != std::string::npos) noteMissing(outputPath.substr(0, cut));
  }
  survey.NewFolders.assign(newFolders.begin(), newFolders.end());
  return survey;
}

void RemoveEmptyNewFolders(const TDestinationSurvey& survey, bool extractedNothing) {
  std::vector<std::string> folders = survey.NewFolders;
  // Deepest first, so that a parent is empty by the time it is tried.
  std::sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
    return std::count(a.begin(), a.end(), '\\') > std::count(b.begin(), b.end(), '\\');
  });
  for (const std::string& folder : folders) {
    const bool stored = std::any_of(survey.StoredFolders.begin(), survey.StoredFolders.end(),
                                    [&](const std::string& s) { return SameTextAscii(s, folder); });
    if (stored && !extractedNothing) continue;
    host::RemoveDirectory(folder);  // only an empty folder can be removed
  }
}

}  // namespace wizard
