// The wizard's extraction run and the survey of its destination (see WizardRun.h).
#include "app/WizardRun.h"

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "archive/common/arvGbls.h"
#include "archive/common/arvScopeExit.h"
#include "archive/extract/arvExtractors.h"
#include "platform/host.h"

namespace wizard {

TRunReport TWizardRun::Run(const TRunSettings& settings) {
  TExtractRequest request;
  request.ArchiveFile = settings.Archive;
  request.Destination = settings.Destination;
  // Exactly the typed password, an empty one included, as the designed window sets it.
  request.Passwords = {settings.Password};
  // Files already there are replaced: the person was asked before the run.
  request.Existing = TExtractRequest::TExisting::Overwrite;

  TExtractJob job(request);
  const TScopeExit done([this] { FExtractor = nullptr; });
  const TRunResult result = job.Run(MakeExtractor, [this](TUnBase& extractor) {
    extractor.SetCpuType(CpuType);
    extractor.OnProgress = OnProgress;
    extractor.OnNextVolume = [this](TObject*, std::string& volumeName, const std::string& volumeId,
                                    bool exists, bool& cancel) {
      // A volume that is there is read without a word; a missing one is asked for.
      cancel = !exists && !(OnVolumeMissing && OnVolumeMissing(volumeName, volumeId));
    };
    FExtractor = &extractor;
  });
  return TRunReport(result, !settings.Password.empty());
}

void TWizardRun::Cancel() {
  if (FExtractor) FExtractor->SetCancel(true);
}

bool ListsAFile(TArcova& lister, const std::string& archive) {
  bool found = false;
  lister.SetArchiveFile(archive);
  lister.FileSpec().Clear();
  lister.FileSpec().Add("*.*");
  lister.SetShowEmptyDirs(false);
  lister.OnRead = [&](TObject*, int64_t, int) {
    found = true;
    *lister.CancelFlag() = 1;  // one is enough: the walk ends before the next entry
  };
  lister.Scan();
  lister.OnRead = nullptr;
  *lister.CancelFlag() = 0;
  return found;
}

TDestinationSurvey SurveyDestination(TArcova& lister, const std::string& archive,
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
  // The output names are the extractor's: the one of the archive's type makes them.
  const std::unique_ptr<TUnBase> extractor = MakeExtractor(lister.ArcType());
  if (extractor) extractor->SetExtractDir(destination);
  for (const TListed& member : extractor ? members : std::vector<TListed>()) {
    extractor->BuildOutputName(member.Name);
    std::string outputPath = extractor->OutputPath();
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
