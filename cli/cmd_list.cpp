// parcelo-cli list: prints the entries of an archive through the lister (TArcova). Plain mode
// prints the names FillFileList returns, one per line, with "/" separators as this host writes
// paths (or exactly as the engine gives them, with --engine-names); -v walks in event mode and
// prints a table of the entry details and a totals line. It never extracts.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/formats/arvArcova.h"
#include "archive/messages/Err_Msgs.h"
#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "platform/host.h"
#include "platform/host_ascii.h"

namespace {

// A path of the system (a volume, say) as the host names it; entry names stay as they are.
std::string ShowName(const std::string& name) {
  std::string hostPath;
  if (name.size() > 2 && name[1] == ':' && name[2] == '\\' && host::ToHostPath(name, hostPath))
    return hostPath;
  return name;
}

void PrintError(const std::string& file, int code, const std::string& extendedMsg) {
  std::string message = LoadStr(code);
  if (!extendedMsg.empty()) message += ": " + extendedMsg;
  std::fprintf(stderr, "parcelo-cli: %s: %s (%d)\n", Printable(file).c_str(),
               Printable(message).c_str(), code);
}

// A member name as this host writes paths, unless the engine's own form was asked for.
std::string HostName(const std::string& name, bool engineNames) {
  return engineNames ? name : host::BackslashToSlash(name);
}

// One line of output; a name's control characters are shown, never sent to the terminal.
void PutLine(const std::string& raw) {
  const std::string text = Printable(raw);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

// The ratio column: the percentage saved as the engine gives it, and for a member that grew in
// the archive (stored with an encryption header, or deflated random data) how much it grew, as a
// negative percentage, as unzip shows it.
int ShownRatio(int64_t unpacked, int64_t packed, int engineRatio) {
  if (unpacked <= 0 || packed <= unpacked) return engineRatio;
  return -static_cast<int>(std::llround(static_cast<long double>(packed - unpacked) * 100 /
                                        static_cast<long double>(unpacked)));
}

// One row of the -v table: date and time, unpacked, packed, ratio, method (with "*" after it for
// an encrypted member, "!" for one that extraction refuses), CRC-32, name. The time is the entry's exact one where the archive holds it
// (a DOS time has even seconds only).
void PrintRow(const TArcovaEntry& entry, bool engineNames) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  DecodeDate(entry.Date, year, month, day);
  DecodeTime(entry.Date, hour, minute, second, millisecond);
  if (entry.DosDateTime == 0 && !entry.ExactTime.Valid) {
    std::printf("%-19s", "-");  // the format records no date for this entry
  } else {
    std::printf("%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  }
  const std::string method =
      entry.MethodName + (entry.Encrypted ? "*" : "") + (entry.Refused.empty() ? "" : "!");
  std::printf(" %12" PRId64 " %12" PRId64 " %4d%% %-11s %08" PRIx32 "  ", entry.UnpackedSize,
              entry.PackedSize, ShownRatio(entry.UnpackedSize, entry.PackedSize, entry.Ratio),
              method.c_str(), entry.Crc32);
  PutLine(HostName(entry.FileName, engineNames));
}

}  // namespace

int RunList(const TListOptions& options) {
  static char outputBuffer[1 << 16];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

  // The engine takes full system paths; what the user typed is what the messages show.
  const std::string systemPath = host::ExpandFileName(host::FromHostPath(options.archive));
  if (!host::FileExists(systemPath)) {
    PrintError(options.archive, kErrFileNotFound, "");
    return kExitErrors;
  }
  // An archive that cannot be read is said to be one, with the system's reason.
  if (const host::THandle probe = host::FileOpen(systemPath, host::fmOpenRead); probe < 0) {
    PrintError(options.archive, kErrOpeningFile, host::LastErrorText());
    return kExitErrors;
  } else {
    host::FileClose(probe);
  }

  TArcova arcova;
  bool errorReported = false;
  bool recovered = false;  // read through the local headers: said, a warning
  bool warned = false;     // something said that loses nothing (a name set aside for another)
  arcova.OnReport = [&](TObject*, const TReport& report) {
    if (report.Severity == TReportSeverity::Warning) {
      warned = true;
    } else {
      errorReported = true;
    }
    const bool isArchive = report.FileName.empty() || report.FileName == arcova.ArchiveFile();
    PrintError(isArchive ? options.archive : ShowName(report.FileName), report.Code, report.Detail);
  };
  // A zip whose directory is gone is still read through its local headers, but it is damaged:
  // said in extract's words, a warning.
  arcova.OnCorruptZipHeader = [&](TObject*, THeaderTypeState, bool& cancel) {
    recovered = true;
    PrintError(options.archive, kErrReadingFileList,
               "no central directory: members are read from their local headers");
    cancel = false;
  };
  // The next volume of a set (.a01, .c00, the next cabinet, ...): taken when it is there, asked
  // for on the terminal when it is not; an empty answer or the end of input stops the listing.
  arcova.OnNextVolume = [&](TObject*, std::string& volumeName, const std::string& volumeId,
                            bool exists, bool& cancel) {
    cancel = false;
    if (exists) return;
    std::string answer;
    const std::string volume = volumeId.empty() || volumeId == "0" ? "" : " (" + volumeId + ")";
    if (!host::ReadTerminalLine("parcelo-cli: next volume " + Printable(ShowName(volumeName)) +
                                    volume + " not found; its path, or Enter to stop: ",
                                answer, false) ||
        answer.empty()) {
      cancel = true;
      return;
    }
    volumeName = host::ExpandFileName(host::FromHostPath(answer));
  };
  arcova.SetArchiveFile(systemPath);
  if (IsNotFoundType(arcova.ArcType())) {
    PrintError(options.archive, kErrUnsupportedType, "");
    return kExitErrors;
  }
  // A split set's walk goes to the local headers without asking when its directory is missing;
  // said as for any other zip.
  if (arcova.ArcType() == atZipMV && (arcova.HeaderState() & kHeaderCentral) == 0) {
    recovered = true;
    PrintError(options.archive, kErrReadingFileList,
               "no central directory: members are read from their local headers");
  }
  TStringList spec;
  if (options.masks.empty()) spec.Add("*.*");
  for (const std::string& mask : options.masks) spec.Add(SlashToBackslash(mask));
  arcova.SetFileSpec(spec);
  arcova.SetShowEmptyDirs(options.dirs);

  int listed = 0;
  if (!options.verbose) {
    TStringList names;
    arcova.FillFileList(names);
    for (const std::string& name : names) PutLine(HostName(name, options.engineNames));
    listed = names.Count();
  } else {
    std::printf("%-10s %-8s %12s %12s %5s %-11s %-8s  %s\n", "Date", "Time", "Unpacked", "Packed",
                "Ratio", "Method", "CRC-32", "Name");
    std::printf("---------- -------- ------------ ------------ ----- ----------- --------  ----\n");
    arcova.OnRead = [&](TObject*, int64_t, int) {
      PrintRow(arcova.Entry(), options.engineNames);
      ++listed;
    };
    arcova.OnTotals = [&](TObject*, int64_t unpacked, int64_t packed, uint8_t ratio, int files) {
      std::printf(
          "                    ------------ ------------ -----                        ----\n");
      std::printf("                    %12" PRId64 " %12" PRId64
                  " %4d%%                        %d %s\n",
                  unpacked, packed, ShownRatio(unpacked, packed, ratio), files,
                  files == 1 ? "file" : "files");
    };
    if (!arcova.Scan()) errorReported = true;
  }
  std::fflush(stdout);
  if (errorReported) return kExitErrors;
  if (listed == 0) {
    if (!options.masks.empty()) {
      std::string masks;
      for (const std::string& mask : options.masks) masks += (masks.empty() ? "" : " ") + mask;
      std::fprintf(stderr, "parcelo-cli: %s: no member matches %s\n",
                   Printable(options.archive).c_str(), Printable(masks).c_str());
      return kExitNothingMatched;
    }
    std::fprintf(stderr, "parcelo-cli: %s: the archive holds no members\n",
                 Printable(options.archive).c_str());
    return kExitWarnings;
  }
  return recovered || warned ? kExitWarnings : kExitOk;
}
