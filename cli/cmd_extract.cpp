// parcelo-cli extract: unpacks an archive into a folder, the way the wizard does: a zip with the zip
// extractor (TUnZip), every other format with TUnArchive, with terminal prompts for passwords, existing files and split volumes, and a
// progress bar on a terminal. Paths come in and go out as host paths; the engine sees system ones.
// parcelo-cli test is the same run with the extractor testing only: every member is decoded and
// its checksum checked, and nothing is written.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/driver/arvExtractJob.h"
#include "archive/extract/arvExtractors.h"
#include "archive/messages/Err_Msgs.h"
#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "platform/host.h"

namespace {

// A system path as the user knows it (the host's); unchanged when it names nothing here.
std::string ShowPath(const std::string& systemPath) {
  std::string hostPath;
  if (systemPath.empty() || !host::ToHostPath(systemPath, hostPath)) return systemPath;
  return hostPath;
}

// The archive's name without its directory and extension: "a/set.zip" -> "set".
std::string ArchiveStem(const std::string& hostPath) {
  std::string name = hostPath;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  const size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name.empty() ? std::string("extracted") : name;
}

// The progress bar on standard error: redrawn only when a percentage changes.
class TProgressBar {
 public:
  void Update(uint8_t byFile, uint8_t byArchive, const std::string& file) {
    if (byArchive == FLastArchive && file == FLastFile && byFile / 10 == FLastFile10) return;
    FLastArchive = byArchive;
    FLastFile = file;
    FLastFile10 = byFile / 10;
    const int width = host::TerminalWidth(2);
    constexpr int kBar = 30;
    const int filled = byArchive * kBar / 100;
    std::string line = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(kBar - filled), ' ') + "] ";
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3u%% ", static_cast<unsigned>(byArchive));
    line += percent;
    std::string name = file;
    const size_t room = width > static_cast<int>(line.size()) + 4
                            ? static_cast<size_t>(width) - line.size() - 2
                            : 0;
    if (name.size() > room) name = room > 3 ? "..." + name.substr(name.size() - (room - 3)) : "";
    line += name;
    if (width > 0 && static_cast<int>(line.size()) < width)
      line += std::string(static_cast<size_t>(width) - line.size() - 1, ' ');
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    FShown = true;
  }
  void Clear() {
    if (!FShown) return;
    const int width = host::TerminalWidth(2);
    std::fputs(
        ("\r" + std::string(static_cast<size_t>(width > 1 ? width - 1 : 40), ' ') + "\r").c_str(),
        stderr);
    std::fflush(stderr);
    FShown = false;
  }

 private:
  int FLastArchive = -1;
  int FLastFile10 = -1;
  std::string FLastFile;
  bool FShown = false;
};

}  // namespace

int RunExtract(const TExtractOptions& options) {
  int errors = 0;
  TProgressBar bar;
  // Every message names its file once, with control characters shown, never sent.
  auto printError = [&](const std::string& file, const std::string& message, int code) {
    bar.Clear();
    std::fprintf(stderr, "parcelo-cli: %s: %s (%d)\n", Printable(file).c_str(),
                 Printable(message).c_str(), code);
    ++errors;
  };

  // Front ends hand the engine full paths: the engine treats a path without a drive as rooted.
  TExtractRequest request;
  request.ArchiveFile = host::FromHostPath(options.archive);
  request.Destination =
      host::FromHostPath(options.test                ? "."
                         : options.directory.empty() ? ArchiveStem(options.archive)
                                                     : options.directory);
  for (const std::string& mask : options.masks) request.Masks.push_back(SlashToBackslash(mask));
  request.Passwords = options.passwords;
  request.UseStoredDirs = !options.junkPaths;
  request.TestOnly = options.test;
  request.Existing = options.existing == TExistingFiles::Overwrite ? TExtractRequest::TExisting::Overwrite
                                                                   : TExtractRequest::TExisting::Ask;
  const std::string& destination = request.Destination;
  std::string destinationShown = ShowPath(destination);
  // What a report names: a member by its own name when testing (nothing is written anywhere).
  auto shown = [&](const std::string& systemPath) {
    std::string path = ShowPath(systemPath);
    if (options.test) {
      const std::string base = ShowPath(AppendBackslash(destination));
      if (path.compare(0, base.size(), base) == 0) path.erase(0, base.size());
    }
    return path;
  };

  TExtractJob job(request);
  bool volumeMissing = false;
  bool passwordHint = false;
  job.OnReport = [&](const TReport& report) {
    // After a volume could not be found every report says "User canceled"; one message is enough.
    if (volumeMissing && report.Code == kErrUserCanceled) return;
    std::string message = LoadStr(report.Code);
    // A detail that is a path is shown as the host names it.
    if (!report.Detail.empty())
      message += ": " + (report.DetailIsPath ? ShowPath(report.Detail) : report.Detail);
    // The archive itself is named as the user named it, as list names it.
    const bool isArchive = report.FileName.empty() || report.FileName == request.ArchiveFile;
    const std::string& file = isArchive ? options.archive
                              : report.Code == kErrCreatingDirectory && report.FileName == destination
                                  ? destinationShown
                                  : shown(report.FileName);
    printError(file, message, report.Code);
    if (report.Code == kErrPasswordFailed && !passwordHint) {
      std::fputs(
          "parcelo-cli: encrypted members need a password: give it with -p PASSWORD or "
          "--ask-password\n",
          stderr);
      passwordHint = true;
    }
  };

  // The extractor of the archive's type (the engine's choice), with the terminal's prompts and
  // progress bar.
  const TExtractorFactory factory = MakeExtractor;
  const TExtractorSetup setup = [&](TUnBase& extractor) {
    if (options.askPassword) {
      extractor.OnGetPassword = [&](TObject*, const std::string& fileName, std::string& password,
                                    bool& tryAgain) {
        bar.Clear();
        std::string line;
        if (!host::ReadTerminalLine("Password for " + Printable(shown(fileName)) + ": ", line,
                                    true) ||
            line.empty()) {
          tryAgain = false;
          return;
        }
        password = line;
      };
    }

    if (options.existing != TExistingFiles::Overwrite) {
      bool all = false, none = options.existing == TExistingFiles::Skip;
      extractor.OnFileExists = [&, all, none](TObject*, const std::string& fileName,
                                              std::string& newName,
                                              TOverwriteMode& mode) mutable {
        if (none || all) {
          mode = none ? omSkip : omOverwrite;
          return;
        }
        bar.Clear();
        for (;;) {
          std::string answer;
          if (!host::ReadTerminalLine("replace " + Printable(ShowPath(fileName)) +
                                          "? [y]es, [n]o, [A]ll, [N]one, [r]ename: ",
                                      answer, false)) {
            mode = omSkip;
            none = true;
            return;
          }
          if (answer == "y" || answer == "Y" || answer == "yes") {
            mode = omOverwrite;
          } else if (answer == "n" || answer == "no") {
            mode = omSkip;
          } else if (answer == "A") {
            mode = omOverwrite;
            all = true;
          } else if (answer == "N") {
            mode = omSkip;
            none = true;
          } else if (answer == "r") {
            std::string name;
            if (!host::ReadTerminalLine("new name: ", name, false) || name.empty()) {
              mode = omSkip;
              return;
            }
            // A bare name stays in the same folder; a path is taken as the user gave it.
            if (name.find('/') == std::string::npos) {
              const size_t cut = fileName.find_last_of('\\');
              newName = fileName.substr(0, cut + 1) + name;
            } else {
              newName = host::FromHostPath(name);
            }
            mode = omOverwrite;
          } else {
            continue;
          }
          return;
        }
      };
    }

    extractor.OnNextVolume = [&](TObject*, std::string& volumeName, const std::string& volumeId,
                                 bool exists, bool& cancel) {
      if (exists) {
        cancel = false;
        return;
      }
      printError(ShowPath(volumeName),
                 "volume " + volumeId + " of the set: " + LoadStr(kErrFileNotFound),
                 kErrFileNotFound);
      volumeMissing = true;
      cancel = true;
    };

    if (!options.quiet && host::IsTerminal(2)) {
      std::string lastPath, lastShown;
      extractor.OnProgress = [&, lastPath, lastShown](TObject* sender, uint8_t byFile,
                                                      uint8_t byArchive) mutable {
        const std::string& path = static_cast<TUnBase*>(sender)->OutputPath();
        if (path != lastPath) {
          lastPath = path;
          lastShown = Printable(shown(path));
        }
        bar.Update(byFile, byArchive, lastShown);
      };
    }
  };

  const TRunResult result = job.Run(factory, setup);
  bar.Clear();
  // Stopped before any extractor ran (the archive or the destination): said already.
  if (!result.Started) return kExitErrors;
  const int count = result.FilesExtracted;
  const int failed = result.FailedCount;
  // Nothing selected: masks that match no member are said to (unzip's status 11); an archive
  // without members is a warning.
  if (result.NothingMatched) {
    std::string masks;
    for (const std::string& mask : options.masks) masks += (masks.empty() ? "" : " ") + mask;
    std::fprintf(stderr, "parcelo-cli: %s: no member matches %s\n",
                 Printable(options.archive).c_str(), Printable(masks).c_str());
  } else if (result.Empty && errors == 0) {
    std::fprintf(stderr, "parcelo-cli: %s: the archive holds no members\n",
                 Printable(options.archive).c_str());
    ++errors;
  }
  if (options.test) {
    if (!options.quiet || errors > 0) {
      // An archive that could not be read to its end has errors even where no member failed.
      const std::string verdict = failed > 0 ? std::to_string(failed) + " failed"
                                  : !result.ArchiveFailures.empty() ? "errors in the archive"
                                                                    : "no errors";
      std::printf("%d file(s) tested in %s: %s\n", count + failed,
                  Printable(options.archive).c_str(), verdict.c_str());
    }
  } else if (!options.quiet) {
    while (destinationShown.size() > 1 && destinationShown.back() == '/')
      destinationShown.pop_back();
    std::printf("%d file(s) extracted to %s\n", count, Printable(destinationShown).c_str());
  }
  if (result.NothingMatched) return kExitNothingMatched;
  switch (result.Verdict()) {
    case TRunVerdict::Success:
      return errors == 0 ? kExitOk : kExitWarnings;
    case TRunVerdict::SuccessWithWarnings:
      return kExitWarnings;
    case TRunVerdict::Partial:
    case TRunVerdict::Failed:
      break;
  }
  return kExitErrors;
}
