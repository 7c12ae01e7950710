// One extraction as the wizard runs it: an extraction job (archive/driver/arvExtractJob.h) for what
// the person chose (archive, destination, password), with the extractor of the archive's type made
// by the engine's factory, run on this thread; its result becomes a TRunReport for the page flow to
// show. The replace question's count of files already in the destination is here too. It knows no
// control of the window: progress goes to the OnProgress handler it is given, and a volume of a set
// that is not there is asked for through OnVolumeMissing.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/RunReport.h"
#include "archive/driver/arvbase.h"
#include "archive/formats/arvArcova.h"

namespace wizard {

struct TRunSettings {
  std::string Archive;      // the archive, a full path in the window's syntax
  std::string Destination;  // the folder the files go to (made when missing)
  std::string Password;     // what the person typed; empty when nothing
};

class TWizardRun {
 public:
  // What the run's extractor takes over (the designed extractor's settings and its OnProgress).
  TCpuType CpuType = cptAuto;
  TProgressEvent OnProgress;
  // A volume of the set (a path in the window's syntax, its number) is not where the archive
  // says: true when the person put it there and the run should look again.
  std::function<bool(const std::string& volumeName, const std::string& volumeId)> OnVolumeMissing;

  // Runs the extraction; returns what came of it.
  TRunReport Run(const TRunSettings& settings);
  // Stops the run in work before its next block (nothing when none is running).
  void Cancel();
  bool Running() const { return FExtractor != nullptr; }

 private:
  TUnBase* FExtractor = nullptr;  // the extractor in work
};

// Whether the lister finds at least one file in `archive` (folders do not count). The walk stops
// at the first file: a compressed tar is not unpacked whole to learn that it holds one.
bool ListsAFile(TArcova& lister, const std::string& archive);

// What the destination holds of an archive's members before a run.
struct TDestinationSurvey {
  int ExistingFiles = 0;  // files the run would replace
  // Folders a run would make (the destination and its missing parents included), full paths.
  std::vector<std::string> NewFolders;
  // Those of them the archive stores as members of their own.
  std::vector<std::string> StoredFolders;
};
// The lister reads the members; their output paths are the ones the extractor of the archive's
// type gives them below `destination`.
TDestinationSurvey SurveyDestination(TArcova& lister, const std::string& archive,
                                     const std::string& destination);

// After a run, removes the folders of the survey's NewFolders that are empty, deepest first: those
// made only for members that were then refused, and the destination itself when nothing came out.
// A folder the archive stores stays, unless the run extracted nothing at all.
void RemoveEmptyNewFolders(const TDestinationSurvey& survey, bool extractedNothing);

}  // namespace wizard
