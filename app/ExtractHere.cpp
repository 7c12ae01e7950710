// Extraction beside the archive without the wizard's pages (see ExtractHere.h).
#include "app/ExtractHere.h"

#include <QApplication>
#include <QProgressDialog>
#include <memory>

#include "app/WizardPaths.h"
#include "app/WizardRun.h"
#include "archive/common/arvGbls.h"
#include "archive/formats/arvArcova.h"
#include "platform/host.h"

namespace wizard {

namespace {

constexpr int kStatusAll = 0;
constexpr int kStatusSome = 1;
constexpr int kStatusNothing = 2;
constexpr int kProgressDelayMs = 800;  // a run shorter than this shows no window

// What is wrong with an archive given on the command line, or empty.
std::string ArchiveProblem(TArcova& lister, const std::string& path) {
  if (path.empty() || !host::NameExists(path)) return path + " does not exist.";
  if (host::DirectoryExists(path)) return path + " is a folder, not an archive.";
  if (!ListsAFile(lister, path)) return path + " contains no files or is corrupt.";
  return {};
}

int ExtractOne(const std::string& typed, TWizardServices& services) {
  const std::string archive = host::ExpandFileName(SystemPathFromTyped(typed));
  TArcova lister;
  lister.SetRecurseDirs(true);
  if (const std::string problem = ArchiveProblem(lister, archive); !problem.empty()) {
    services.ShowMessage(nullptr, problem, TMsgDlgType::mtError);
    return kStatusNothing;
  }
  const std::string destination = FolderBesideArchive(archive);
  const TDestinationSurvey survey = SurveyDestination(lister, archive, destination);

  QProgressDialog progress(QString::fromStdString("Extracting " + FileNameOf(archive) + " ..."),
                           QStringLiteral("Cancel"), 0, 100);
  progress.setWindowTitle(QStringLiteral("Parcelo"));
  progress.setMinimumDuration(kProgressDelayMs);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  progress.setValue(0);
  TWizardRun run;
  // The engine lets the dialog process its messages once per block, before this event.
  run.OnProgress = [&](TObject*, uint8_t, uint8_t byArchive) {
    progress.setValue(byArchive);
    if (progress.wasCanceled()) run.Cancel();
  };
  run.OnVolumeMissing = [&](const std::string& volumeName, const std::string& volumeId) {
    return services.AskYesNo(nullptr, "Volume " + volumeId + " of the set, " + volumeName +
                                          ", is not there. Put it there and click Yes to go on, "
                                          "or No to stop.");
  };
  const TRunReport report = run.Run({archive, destination, std::string()});
  progress.close();
  const bool cancelled = report.Cancelled();
  const std::string problems = report.Text();
  const bool nothingCameOut = report.NothingCameOut();
  RemoveEmptyNewFolders(survey, nothingCameOut);
  if (cancelled) return nothingCameOut ? kStatusNothing : kStatusSome;

  const std::string name = FileNameOf(archive);
  if (nothingCameOut) {
    services.ShowMessage(nullptr, "Nothing was extracted from " + name + ".\n\n" + problems,
                         TMsgDlgType::mtError);
    return kStatusNothing;
  }
  services.NotifyRunEnded("Extraction finished", report.ResultSentence(destination), destination);
  if (const std::string warnings = report.WarningText(); !warnings.empty())
    services.ShowMessage(nullptr, name + ": " + warnings, TMsgDlgType::mtWarning);
  if (problems.empty()) return kStatusAll;
  services.ShowMessage(nullptr, name + ": " + problems, TMsgDlgType::mtError);
  return kStatusSome;
}

}  // namespace

std::string FolderBesideArchive(const std::string& archive) {
  const size_t cut = archive.find_last_of('\\');
  const std::string folder = cut == std::string::npos ? std::string() : archive.substr(0, cut + 1);
  std::string name = DefaultFolderName(archive);
  if (name.empty()) name = "Extracted";
  std::string candidate = folder + name;
  for (int n = 2; host::NameExists(candidate); ++n)
    candidate = folder + name + " (" + std::to_string(n) + ")";
  return candidate;
}

int ExtractHere(const std::vector<std::string>& archives, TWizardServices& services) {
  int status = kStatusAll;
  for (const std::string& archive : archives)
    status = std::max(status, ExtractOne(archive, services));
  return status;
}

}  // namespace wizard
