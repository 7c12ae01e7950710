// One extraction as the wizard runs it: the extractor set from what the person chose (archive,
// destination, password), the run on this thread, and what the extractor said about it gathered
// into a TRunReport for the page flow to show. The replace question's count of files already in
// the destination is here too. It knows no control of the window: progress goes to the
// extractor's OnProgress, which the window sets.
#pragma once

#include <string>
#include <vector>

#include "app/RunReport.h"
#include "archive/formats/arvArcova.h"
#include "archive/zip/arvUnZip.h"

namespace wizard {

struct TRunSettings {
  std::string Archive;      // the archive, a full path in the window's syntax
  std::string Destination;  // the folder the files go to (made by the caller)
  std::string Password;     // what the person typed; empty when nothing
};

class TWizardRun {
 public:
  // Listens to `extractor`'s OnBegin and OnError for as long as this object lives.
  explicit TWizardRun(TUnZip& extractor);
  ~TWizardRun();
  TWizardRun(const TWizardRun&) = delete;
  TWizardRun& operator=(const TWizardRun&) = delete;

  // Runs the extraction; returns what came of it, member names as shown below the destination.
  TRunReport Run(const TRunSettings& settings);

 private:
  void MemberBegins(const std::string& fileName);
  void ErrorReported(const std::string& fileName, const std::string& extendedMsg, int code);
  // Whether an error the engine reports names a member (as listed, or its output path) rather
  // than the archive or one of its volumes.
  bool NamesAMember(const std::string& fileName) const;

  TUnZip& FExtractor;
  TRunReport FReport;
  int FCurrent = -1;      // index in FReport.Members of the member in work
  int FEarlyReport = -1;  // index of a member reported on before it began, until the next one
};

// What the destination holds of an archive's members before a run.
struct TDestinationSurvey {
  int ExistingFiles = 0;  // files the run would replace
  // Folders a run would make (the destination and its missing parents included), full paths.
  std::vector<std::string> NewFolders;
  // Those of them the archive stores as members of their own.
  std::vector<std::string> StoredFolders;
};
TDestinationSurvey SurveyDestination(TArcova& lister, TUnZip& extractor, const std::string& archive,
                                     const std::string& destination);

// After a run, removes the folders of the survey's NewFolders that are empty, deepest first: those
// made only for members that were then refused, and the destination itself when nothing came out.
// A folder the archive stores stays, unless the run extracted nothing at all.
void RemoveEmptyNewFolders(const TDestinationSurvey& survey, bool extractedNothing);

}  // namespace wizard
