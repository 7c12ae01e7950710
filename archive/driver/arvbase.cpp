// The extraction driver: TZipCommon's block input and output, the report route (typed reports and
// OnError) and volume names, and TUnBase's run (Extract), member approval, passwords, output files,
// dates, attributes, progress and checksum verdicts. Of the formats it knows only what block input
// and output apply (the zip cipher) and how split zip volumes are named; member lists, records
// and decoders are the format parts'.
#include "archive/driver/arvbase.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <exception>
#include <new>

#include "archive/common/arvScopeExit.h"

namespace {

// Whether a name starts with a drive: a letter and ":". Elsewhere ":" is an ordinary character of
// a name on this host ("2024-01-01 10:30 log.txt").
bool StartsWithDrive(const std::string& name) {
  return name.size() >= 2 && name[1] == ':' &&
         ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

// Where a name's directory part ends: after the last "\" or "/", else after a leading drive.
size_t DirPartLength(const std::string& name) {
  const size_t cut = name.find_last_of("\\/");
  if (cut != std::string::npos) return cut + 1;
  return StartsWithDrive(name) ? 2 : 0;
}

// A stored name's directory part as the selection compares it, with a trailing "\" when not empty.
std::string DirPartForSpec(const std::string& name) {
  const size_t length = DirPartLength(name);
  return length == 0 ? std::string() : AppendBackslash(name.substr(0, length));
}

std::string FilePartForSpec(const std::string& name) {
  return name.substr(DirPartLength(name));
}

// Directory part of a system path including its trailing "\" (empty without one).
std::string DirectoryOf(const std::string& path) {
  return path.substr(0, DirPartLength(path));
}

// Ends a run of prompts that a handler keeps answering without a usable volume: after this many
// rounds the prompt counts as cancelled, so a handler that never changes anything cannot hang the
// run.
constexpr int kMaxVolumePromptRounds = 100;

// The current local time as a packed DOS date-time; 0 outside 1980..2099.
uint32_t NowAsDosDateTime() {
  // The clock gives UTC; the local time comes through the host layer's time zone, like every
  // other date the engine converts.
  constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 as a date value
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  const TDateTime local = UtcToLocal(kUnixEpochDays + static_cast<double>(seconds) / 86400.0);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  DecodeDate(local, year, month, day);
  DecodeTime(local, hour, minute, second, millisecond);
  if (year < 1980 || year > 2099) return 0;
  const uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const uint32_t time =
      static_cast<uint32_t>((hour << 11) | (minute << 5) | (std::min(second, 59) / 2));
  return (date << 16) | time;
}

// A report of OnError's four arguments, not yet classified.
TReport ReportOf(const std::string& fileName, const std::string& extendedMsg,
                 const std::string& volumeId, int code) {
  TReport report;
  report.FileName = fileName;
  report.Detail = extendedMsg;
  report.VolumeId = volumeId;
  report.Code = code;
  return report;
}

}  // namespace

// ---- symbolic links ------------------------------------------------------------------------------
namespace {

// The parts of a path between its separators, empty ones included.
std::vector<std::string> PathParts(const std::string& path, char separator) {
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    const size_t end = path.find(separator, start);
    parts.push_back(path.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// The folders a link's name ("\"-separated, below the destination) lies in, empty names left out.
std::vector<std::string> LinkFolders(const std::string& linkName) {
  std::vector<std::string> folders = PathParts(linkName, '\\');
  folders.pop_back();  // the link's own name
  folders.erase(std::remove(folders.begin(), folders.end(), std::string()), folders.end());
  return folders;
}

}  // namespace

bool SymlinkStaysInside(const std::string& linkName, const std::string& target) {
  if (target.empty() || target[0] == '/' || target.find('\0') != std::string::npos) return false;
  // The link's folder, as a depth below the destination.
  int depth = static_cast<int>(LinkFolders(linkName).size());
  bool named = false;  // a name has been passed: no ".." may follow
  for (const std::string& part : PathParts(target, '/')) {
    if (part == "..") {
      if (named || --depth < 0) return false;
    } else if (!part.empty() && part != ".") {
      named = true;
    }
  }
  return true;
}

std::string SymlinkLeadsTo(const std::string& linkName, const std::string& target) {
  std::vector<std::string> parts = LinkFolders(linkName);
  for (const std::string& part : PathParts(target, '/')) {
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
  }
  std::string path;
  for (const std::string& part : parts) path += (path.empty() ? "" : "\\") + part;
  return path;
}

bool SymlinkOnlyLoops(const std::string& linkName, const std::string& leadsTo,
                      const std::vector<TLinkMade>& made) {
  // `path` is `name` itself or lies below it.
  const auto within = [](const std::string& path, const std::string& name) {
    return !name.empty() && path.compare(0, name.size(), name) == 0 &&
           (path.size() == name.size() || path[name.size()] == '\\');
  };
  // The link's own name without empty components: its folders' path with itself as one more.
  const std::string name = SymlinkLeadsTo(linkName + "\\", "");
  std::string path = leadsTo;
  // Each step replaces a made link by where it leads; more steps than links means a cycle among
  // them, which the same rule kept from being made.
  for (size_t step = 0; step <= made.size(); ++step) {
    if (within(path, name)) return true;
    const auto through = std::find_if(
        made.begin(), made.end(), [&](const TLinkMade& link) { return within(path, link.Name); });
    if (through == made.end()) return false;
    const std::string rest = path.substr(through->Name.size());  // empty, or "\\" and more
    path = through->LeadsTo.empty() ? rest.substr(rest.empty() ? 0 : 1) : through->LeadsTo + rest;
  }
  return false;
}

// ---- TarvTimer ----------------------------------------------------------------------------------
void TarvTimer::Start() {
  FElapsed = 0.0f;
  FStartTick = host::GetTickCount();
  FPauseDepth = 0;
  FRunning = true;
}

void TarvTimer::Stop() {
  if (!FRunning) return;
  FStopTick = host::GetTickCount();
  FElapsed = static_cast<float>(static_cast<uint32_t>(FStopTick - FStartTick)) / 1000.0f;
  FStartTick = 0;
  FPauseDepth = 0;
  FRunning = false;
}

void TarvTimer::Pause() {
  if (!FRunning) return;
  if (FPauseDepth++ == 0) FPauseTick = host::GetTickCount();
}

void TarvTimer::Resume() {
  if (!FRunning || FPauseDepth == 0) return;
  if (--FPauseDepth == 0) FStartTick += host::GetTickCount() - FPauseTick;
}

// ---- TZipCommon ---------------------------------------------------------------------------------
TZipCommon::TZipCommon(TComponent* owner) : TRegisterArcova(owner) {}

TZipCommon::~TZipCommon() = default;

void TZipCommon::SetZipCmntBufSize(int value) {
  FZipCmntBufSize = std::clamp(value, 2000, 32767);
}

void TZipCommon::SetCancel(bool value) {
  FCancel = value ? 1 : 0;
  if (!value) return;
  TReport report;
  report.Severity = TReportSeverity::Info;
  report.Subject = TReportSubject::Archive;
  report.Name = report.FileName = FArchiveFile;
  report.Code = kErrUserCanceled;
  report.Detail = FOutputPath;
  report.DetailIsPath = true;
  Report(std::move(report));
}

bool TZipCommon::MatchesFileSpec(const std::string& storedName) {
  return MatchesFileSpec(storedName, FFileSpec, FRecurseDirs);
}

bool TZipCommon::MatchesFileSpec(const std::string& storedName, TStringList& fileSpec,
                                 bool recurseDirs) {
  if (storedName.empty()) return false;
  const std::string nameDir = DirPartForSpec(storedName);
  for (int i = 0; i < fileSpec.Count(); ++i) {
    const std::string line = fileSpec[i];
    if (line.empty()) continue;
    if (SameTextAscii(line, storedName)) return true;
    const std::string lineDir = DirPartForSpec(line);
    std::string name = storedName;
    if (recurseDirs) {
      // Without a directory in the line the file name alone is tested; with one, the mask itself
      // (which holds the directory) decides.
      if (lineDir.empty()) name = FilePartForSpec(storedName);
    } else if (!SameTextAscii(nameDir, lineDir)) {
      continue;
    }
    if (!MaskMatches(name, line)) {
      if (name.find('.') == std::string::npos) name += '.';
      if (line.find('.') == std::string::npos) fileSpec[i] = line + '.';
      if (!MaskMatches(name, fileSpec[i])) continue;
    }
    return true;
  }
  return false;
}

TDateTime TZipCommon::DosDateToDateTime(uint32_t packed) {
  if (packed == 0) packed = 0x00210020;  // 1980-01-01 00:01:00
  return DosToDateTime(packed);
}

int32_t TZipCommon::ReadBlock(TStream32* archive, uint8_t* buffer, int32_t count,
                              TBlockOptions options) {
  if (count <= 0 || !archive) return 0;
  const int32_t got = archive->ReadUpTo(buffer, count);
  if (got <= 0) return 0;
  DecryptBlock(options.Decipher, buffer, got);
  FChecksums.UpdateCrc(options.CrcKind, buffer, static_cast<size_t>(got));
  return got;
}

int32_t TZipCommon::WriteBlock(host::THandle out, uint8_t* buffer, int32_t count,
                               TBlockOptions options) {
  const bool checksummed = options.CrcKind != kCrcKindNone;
  if (options.Decipher && checksummed && UsesZipCipher() && count > 0)
    FCipher.DecipherBuffer(buffer, static_cast<size_t>(count));
  int32_t written = 0;
  if (count > 0) {
    host::SetLastError(host::kErrorSuccess);
    if (out >= 0) {
      written = host::FileWrite(out, buffer, static_cast<uint32_t>(count));
    } else if (FTestOnly) {
      written = count;  // tested, not kept
    }
    if (written < count) {
      // The member in work fails (its report and the count are the driver's business); the
      // files written before it stay counted.
      const uint32_t error = host::LastError();
      FWriteError = error == host::kErrorSuccess ? host::kErrorHandleDiskFull : error;
      FWriteErrorText = error == host::kErrorSuccess ? std::string() : host::LastErrorText();
      if (error == host::kErrorDiskFull) throw EWriteError(LoadStr(kErrDiskFull));
      throw E_RAISE(LoadStr(kErrWritingFile));
    }
  }
  if (checksummed) FChecksums.UpdateCrc(options.CrcKind, buffer, static_cast<size_t>(written));
  return written;
}

void TZipCommon::DecryptBlock(bool decipher, uint8_t* buffer, int32_t count) {
  if (decipher && count > 0 && UsesZipCipher())
    FCipher.DecipherBuffer(buffer, static_cast<size_t>(count));
}

void TZipCommon::ReportError(const std::string& fileName, const std::string& extendedMsg,
                             const std::string& volumeId, int code) {
  TReport report = ReportOf(fileName, extendedMsg, volumeId, code);
  ClassifyReport(report);
  Report(std::move(report));
}

void TZipCommon::ReportError(TReportSeverity severity, TReportSubject subject,
                             const std::string& fileName, const std::string& extendedMsg, int code,
                             const std::string& name) {
  TReport report = ReportOf(fileName, extendedMsg, "0", code);
  ClassifyReport(report);
  report.Severity = severity;
  report.Subject = subject;
  if (!name.empty()) report.Name = name;
  Report(std::move(report));
}

void TZipCommon::ClassifyReport(TReport& report) const {
  const bool volume = !report.VolumeId.empty() && report.VolumeId != "0";
  if (volume) {
    report.Subject = TReportSubject::Volume;
    report.Severity = TReportSeverity::Failed;
    report.Name = report.FileName;
  } else if (report.FileName.empty() || SameTextAscii(report.FileName, FArchiveFile)) {
    report.Subject = TReportSubject::Archive;
    report.Severity = TReportSeverity::Fatal;
    report.Name = FArchiveFile;
  } else {
    report.Subject = TReportSubject::Member;
    report.Severity = TReportSeverity::Failed;
    report.Name = report.FileName;
  }
}

void TZipCommon::Report(TReport report, bool designed) {
  TTimerPause pause(FTimer);
  if (FCancel) report.Code = kErrUserCanceled;
  if (designed) ++FReportCount;
  if (OnReport) {
    try {
      OnReport(this, report);
    } catch (...) {
      // A report never raises, whatever its handler does.
    }
  }
  if (!designed || !OnError) return;
  try {
    OnError(this, report.FileName, report.Detail, report.VolumeId, report.Code);
  } catch (...) {
    // An error report never raises, whatever its handler does.
  }
}

void TZipCommon::ReportErrorAsIs(const std::string& fileName, const std::string& extendedMsg,
                                 int code) {
  const uint8_t cancel = FCancel;
  FCancel = 0;
  ReportError(fileName, extendedMsg, "0", code);
  FCancel = cancel;
}

void TZipCommon::RaiseError(const std::string& fileName, const std::string& extendedMsg,
                            const std::string& volumeId, int code) {
  RaiseError(TErrorClass::Raise, fileName, extendedMsg, volumeId, code);
}

void TZipCommon::RaiseError(TErrorClass errorClass, const std::string& fileName,
                            const std::string& extendedMsg, const std::string& volumeId, int code) {
  ReportError(fileName, extendedMsg, volumeId, code);
  if (FCancel) return;
  switch (errorClass) {
    case TErrorClass::Read:
      throw EReadError(LoadStr(code));
    case TErrorClass::Write:
      throw EWriteError(LoadStr(code));
    case TErrorClass::Raise:
      break;
  }
  throw E_RAISE(LoadStr(code));
}

void TZipCommon::BuildOutputName(const std::string& storedName) {
  FOutputPath = storedName;
}

std::string TZipCommon::VolumeName(const std::string& name, int n) {
  if (name.empty() || n < 0) return {};
  const size_t cut = name.find_last_of("\\:");
  const std::string dir = cut == std::string::npos ? std::string() : name.substr(0, cut + 1);
  const std::string file = cut == std::string::npos ? name : name.substr(cut + 1);
  // Only the last extension gives way to the volume's: "a.b.arj" goes on in "a.b.a01", not in
  // "a.a01".
  const size_t dot = file.find_last_of('.');
  std::string result = dir + (dot == std::string::npos ? file : file.substr(0, dot));
  char letter = FVolumeLetter;
  if (ArcFormatTraits(FArcType).VolumeHundredsInLetter) {
    letter = static_cast<char>(letter + n / 100);
    n %= 100;
  }
  if (n <= 9) {
    result += std::string(".") + letter + "0" + std::to_string(n);
  } else if (n <= 99) {
    result += std::string(".") + letter + std::to_string(n);
  } else {
    result += "." + std::to_string(n);
  }
  return result;
}

bool TZipCommon::AskNextVolume(std::string& volumeName, int volumeId) {
  const std::string idText = std::to_string(volumeId);
  if (volumeId > 999) {
    ReportError(volumeName, "", idText, kErrMaxVolumes);
    return false;
  }
  if (!AskNextVolume(volumeName, idText)) return false;
  ++FVolumeNumber;
  return true;
}

bool TZipCommon::AskNextVolume(std::string& volumeName, const std::string& volumeId) {
  if (volumeName.empty()) {
    ReportError("", "", volumeId, kErrInvalidFileName);
    return false;
  }
  if (!OnNextVolume) {
    ReportError(volumeName, "OnNextVolume", "0", kErrEventNotAssigned);
    return false;
  }
  if (volumeName.find_first_of("\\:") == std::string::npos)
    volumeName = AppendBackslash(host::GetCurrentDir()) + volumeName;
  for (int round = 0;; ++round) {
    bool cancel = true;
    TTimerPause pause(FTimer);
    OnNextVolume(this, volumeName, volumeId, FileExistsWild(volumeName), cancel);
    if (cancel || round >= kMaxVolumePromptRounds) return false;
    if (FileExistsWild(volumeName)) break;
  }
  // Names compare without regard to case, the host's file system may not: a set made where case
  // does not count ("Split-2.CAB" beside split-2.cab) is opened under the name the file has.
  if (!host::FileExists(volumeName)) {
    host::DirSearch search;
    host::TSearchRec rec;
    const size_t cut = volumeName.find_last_of("\\:");
    if (search.First(volumeName, host::faAnyFile, rec))
      volumeName = volumeName.substr(0, cut + 1) + rec.Name;
  }
  return true;
}

bool TZipCommon::NextVolume(std::unique_ptr<TStream32>& archive, std::string& volumeName) {
  if (!OnNextVolume) return false;
  volumeName = VolumeName(volumeName, FVolumeNumber);
  if (!AskNextVolume(volumeName, FVolumeNumber)) return false;
  archive.reset();
  auto stream = std::make_unique<TArchiveFileStream>(volumeName);
  const bool opened = stream->Handle() >= 0;
  if (!opened) {
    ReportError(FArchiveFile, "", "0", kErrOpeningFile);
    FDetected.ArchiveSize = 0;
  } else {
    FDetected.ArchiveSize = stream->GetSize();
  }
  archive = std::move(stream);
  return opened;
}

TDiskCallbacks TZipCommon::DiskCallbacks() {
  TDiskCallbacks callbacks;
  // What the disk classes say is about a disk of the set (a volume).
  callbacks.ReportError = [this](const std::string& fileName, const std::string& extendedMsg,
                                 const std::string& volumeId, int code) {
    TReport report = ReportOf(fileName, extendedMsg, volumeId, code);
    ClassifyReport(report);
    if (report.Subject == TReportSubject::Member) {
      report.Subject = TReportSubject::Volume;
      report.Name = fileName;
    }
    Report(std::move(report));
  };
  callbacks.RaiseError = [this](const std::string& fileName, const std::string& extendedMsg,
                                const std::string& volumeId,
                                int code) { RaiseError(fileName, extendedMsg, volumeId, code); };
  return callbacks;
}

std::unique_ptr<TStream32> TZipCommon::OpenArchiveStream(const std::string& fileName) {
  auto stream = std::make_unique<TArchiveFileStream>(fileName);
  if (stream->Handle() < 0) return nullptr;
  return stream;
}

bool TZipCommon::UsesZipCipher() const {
  return ArcFormatTraits(FArcType).Cipher == TDataCipher::Zip;
}

// ---- TUnBase ------------------------------------------------------------------------------------
TUnBase::TUnBase(TComponent* owner) : TZipCommon(owner) {}

TUnBase::~TUnBase() = default;

void TUnBase::SetExtractDir(const std::string& value) {
  if (!value.empty()) {
    FExtractDir = AppendBackslash(SlashToBackslash(value));
  } else if (!FArchiveFile.empty()) {
    FExtractDir = DirectoryOf(FArchiveFile);
  } else {
    FExtractDir.clear();
  }
}

int TUnBase::Extract() {
  // The state of one run.
  FCancel = 0;
  FFileCount = 0;
  FProgressSink = &TUnBase::DefaultProgressSink;
  FEncrypted = false;
  FLatestDate = 0;
  FTotalPacked = 0;
  FTotalUnpacked = 0;
  FRemaining = 0;
  FVolumeNumber = 0;
  FPasswordFailed = false;
  FPasswordTried = false;
  FVolumeMissing = false;
  FFailedCount = 0;
  FSelectedCount = 0;
  FLastByArchive = 0;
  if (FCpuType == cpt80486) FCpuType = cptAuto;
  const std::string archiveFile = FArchiveFile;
  FVolumeBaseName = archiveFile;
  FCurrentVolumeName = archiveFile;

  try {
    if (FArchiveFile.empty()) {
      ReportError("", "", "0", kErrFileNotFound);
      return 0;
    }
    if (IsSpannedZip(FArcType) && !FDiskManager.Examine(FArchiveFile, DiskCallbacks()))
      return 0;  // a spanned set whose disks cannot be had

    // Everything after OnActivate ends with OnDeactivate.
    const TScopeExit deactivate([this] {
      if (!OnDeactivate) return;
      try {
        OnDeactivate(this);
      } catch (...) {
        // Runs on every way out, unwinding included: what the handler throws ends here.
      }
    });
    if (OnActivate) OnActivate(this);

    // The decoders of some formats open the archive themselves.
    const bool opensItself = ArcFormatTraits(FArcType).OpensArchiveItself;
    std::unique_ptr<TStream32> archive;
    if (!opensItself) archive = OpenArchiveStream(FArchiveFile);
    if (!archive && !opensItself) {
      ReportError(FArchiveFile, "", "0", kErrOpeningFile);
    } else {
      const bool timed = static_cast<bool>(OnElapsedTime);
      if (timed) FTimer.Start();
      FPassword.clear();  // nothing carried over from an earlier run
      FOutputPath.clear();
      FFolderTimes.clear();
      FLinksMade.clear();
      FLinkTargets.clear();
      try {
        ExtractArchive(archive);
      } catch (...) {
        // The walk runs the caller's event handlers, which may throw anything; what was
        // extracted so far is counted, and the closing steps below still run.
      }
      archive.reset();
      FOutputFolder.Close();  // the destination is not held open after the run
      ApplyFolderTimes();
      if (timed) {
        FTimer.Stop();
        OnElapsedTime(this, FTimer.ElapsedTime());
      }
    }
  } catch (...) {
    // Nothing leaves a run; the counter is the result.
  }
  FArchiveFile = archiveFile;  // restored as it was, without detecting the type again
  return FFileCount;
}

void TUnBase::ClassifyReport(TReport& report) const {
  TZipCommon::ClassifyReport(report);
  if (report.Subject == TReportSubject::Member && report.FileName == FOutputPath &&
      !FStoredName.empty())
    report.Name = FStoredName;
}

void TUnBase::ExtractArchive(std::unique_ptr<TStream32>&) {}

bool TUnBase::CheckCrc(int kind, uint32_t expected) {
  bool pass = false;
  if (!FCancel) {
    const uint32_t running = kind == kCrcKind16 ? FChecksums.Crc16 : FChecksums.Crc32;
    pass = running == expected || running == ~expected;
  }
  return SettleChecked(pass);
}

bool TUnBase::SettleChecked(bool checksumPassed, const std::string& detail) {
  bool pass = checksumPassed;
  // The output takes its place before anyone hears it passed; a failed one goes (a failure to
  // put it in place is reported by SettleOutput).
  if (FOutputMade) {
    const bool keep = pass && FOutputWhole;
    if (!SettleOutput(keep) && keep) pass = false;
  }
  // The designed events say a failed checksum through OnEnd when it is assigned, else through
  // OnError; the typed report says it always.
  if (!checksumPassed) {
    TReport report = ReportOf(FOutputPath, detail, "0", kErrCrcCheck);
    ClassifyReport(report);
    Report(std::move(report), !OnEnd && OnError);
  }
  if (OnEnd) OnEnd(this, FOutputPath, pass);
  return pass;
}

bool TUnBase::CheckPassword(uint8_t*) {
  return false;
}

bool TUnBase::DecodeZipMember(const std::string&, TMemberSizes&, host::THandle,
                              std::unique_ptr<TStream32>&) {
  return false;
}

void TUnBase::BuildOutputName(const std::string& storedName) {
  FOutputBase.clear();
  FOutputRelative.clear();
  FNameRefused = false;
  if (storedName.empty()) {
    FOutputPath.clear();
    return;
  }
  if (FExtractDir.empty()) {
    SetExtractDir("");
    if (FExtractDir.empty()) FExtractDir = AppendBackslash(host::GetCurrentDir());
  }
  // A drive ("C:") and a root go first, as they always have; a ":" anywhere else is part of the
  // name.
  std::string name = storedName;
  if (StartsWithDrive(name)) {
    name.erase(0, 2);
  } else if (name[0] == '\\') {
    name.erase(0, 1);
  }
  // Then every component that could lead elsewhere: empty ones (from "\\server" or "a\\b"), "."
  // and "..". What is left can only name something below ExtractDir.
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('\\', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (!part.empty() && part != "." && part != "..") parts.push_back(std::move(part));
    start = end + 1;
  }
  // A name ending in "\" (or in a dropped component) has no file-name part: a directory. A name
  // that does not end in "\" but whose last component was dropped (".", "..", "a\..", a bare
  // drive) names no file that could be written: the member is refused, not taken for a folder.
  std::string fileName;
  const size_t lastSep = name.find_last_of('\\');
  const std::string lastPart = lastSep == std::string::npos ? name : name.substr(lastSep + 1);
  if (!parts.empty() && lastPart == parts.back()) {
    fileName = parts.back();
    parts.pop_back();
  } else if (!name.empty() ? name.back() != '\\' : storedName.back() != '\\') {
    FNameRefused = true;
  }
  std::string directory = FExtractDir;
  std::string relative;
  if (FUseStoredDirs) {
    for (const std::string& part : parts) relative += part + '\\';
    directory = JoinPath(FExtractDir, relative);
  }
  if (directory.find(':') == std::string::npos && (directory.empty() || directory[0] != '\\'))
    directory = '\\' + directory;
  FOutputPath = JoinPath(directory, fileName);
  // The output is created below ExtractDir without following any link planted there.
  const std::string base = AppendBackslash(FExtractDir);
  if (FOutputPath.compare(0, base.size(), base) == 0) {
    FOutputBase = base;
    FOutputRelative = FOutputPath.substr(base.size());
  }
}

bool TUnBase::OutputIsBelowBase() const {
  return !FOutputBase.empty() && FOutputPath.size() > FOutputBase.size() &&
         FOutputPath.compare(0, FOutputBase.size(), FOutputBase) == 0 &&
         FOutputPath.compare(FOutputBase.size(), std::string::npos, FOutputRelative) == 0;
}

bool TUnBase::MethodSupported(const TMemberSizes&) const {
  return true;
}

std::string TUnBase::UnsupportedDetail(const TMemberSizes&) const {
  return {};
}

size_t TUnBase::EncryptionHeaderSize(const TMemberSizes&) const {
  return kZipEncryptionHeaderSize;
}

void TUnBase::MemberFailed(bool counted) {
  if (counted && FFileCount > 0) --FFileCount;
  ++FFailedCount;
}

bool TUnBase::ExtractEntry(std::unique_ptr<TStream32>& archive, uint32_t attributes,
                           TMemberSizes& sizes, uint32_t expectedCrc, uint32_t dosDateTime) {
  // A member whose output path has no file-name part is a directory, whatever its attributes say
  // (local headers carry none; some writers leave them 0).
  const bool noFilePart = FOutputPath.empty() || FOutputPath.back() == '\\';
  if (ArcFormatTraits(FArcType).DirectoryByName)
    attributes = noFilePart ? host::faDirectory : host::faArchive;
  const bool isDirectory = (attributes & host::faDirectory) != 0 || noFilePart;

  // A name that leaves nothing to write is named, never dropped without a word.
  if (FNameRefused && (attributes & host::faDirectory) == 0) {
    ReportError(FStoredName, "", "0", kErrInvalidFileName);
    MemberFailed(false);
    SkipEntry(sizes);
    return false;
  }
  // Nothing planted in the destination beforehand (a link to a folder elsewhere, a file where a
  // folder belongs) is gone through, not even to ask whether a file exists there.
  if (OutputIsBelowBase() && !FOutputFolder.PathIsPlain(FOutputBase, FOutputRelative)) {
    ReportError(FOutputPath, host::LastErrorText(), "0",
                isDirectory ? kErrCreatingDirectory : kErrOpeningFile);
    MemberFailed(false);
    SkipEntry(sizes);
    return false;
  }
  if (!ApproveEntry(isDirectory)) {
    SkipEntry(sizes);
    return false;
  }

  if (isDirectory) {
    bool made = true;
    if (FCreateStoredDirs && !FTestOnly && !FOutputPath.empty()) {
      made = OutputIsBelowBase() ? FOutputFolder.CreateDirectory(FOutputBase, FOutputRelative)
                                 : MakeDirPath(FOutputPath);
      if (!made) {
        ReportError(FOutputPath, host::LastErrorText(), "0", kErrCreatingDirectory);
        MemberFailed(false);
      }
    }
    // A stored folder gets its time once the run is over, also when its files made it.
    if (made && !FTestOnly && !FOutputPath.empty()) {
      try {
        FFolderTimes.push_back({FOutputPath, dosDateTime, FMemberTime});
      } catch (const std::bad_alloc&) {
        // Without room to remember it, the folder keeps the time it was made at.
      }
    }
    FChecksums.Crc32 = expectedCrc;  // a directory always passes
    try {
      if (OnEnd) OnEnd(this, FOutputPath, made && !FCancel);
    } catch (...) {
      // A handler's exception would end the run; the folder's verdict is already made.
    }
    return made;
  }

  // One report per failing member: what failed, with the system's reason where there is one.
  const int64_t reportsBefore = FReportCount;
  bool decoded = false;
  // The file holds less than the member: removed, never left looking whole.
  bool incomplete = false;
  bool wrongKey = false;  // deciphered with a password that only seemed right
  FEncrypted = (sizes.Flags & kFlagEncrypted) != 0;
  host::THandle out = host::kInvalidHandle;
  FDiscardOutput = false;
  FAuthenticated = false;
  FExpectedCrc = expectedCrc;
  if (!MethodSupported(sizes)) {
    ReportError(FOutputPath, UnsupportedDetail(sizes), "0", kErrUnsupportedMethod);
    SkipEntry(sizes);
  } else if (FEncrypted && archive && !ResolvePassword(*archive, EncryptionHeaderSize(sizes))) {
    SkipEntry(sizes);
  } else if (!OpenOutput(out, archive ? TakeOutputMadeAhead(*archive, sizes)
                                      : host::kInvalidHandle)) {
    SkipEntry(sizes);
  } else if (!archive) {
    CloseOutput(out, attributes, dosDateTime, FOutputPath);
  } else {
    FWriteError = host::kErrorSuccess;
    try {
      FChecksums.Crc32 = 0xFFFFFFFF;
      decoded = DecodeZipMember(FOutputPath, sizes, out, archive);
      FChecksums.Crc32 = ~FChecksums.Crc32;
    } catch (...) {
      // A read failure, or anything a volume prompt's handler throws: the member ends here and
      // the run goes on with the next one.
      decoded = false;
    }
    if (FWriteError != host::kErrorSuccess) {
      incomplete = true;
      ReportError(FOutputPath, FWriteErrorText, "0",
                  FWriteError == host::kErrorDiskFull ? kErrDiskFull : kErrWritingFile);
    } else if (FVolumeMissing || FCancel || FDiscardOutput) {
      incomplete = true;
      if (FVolumeMissing)
        ReportErrorAsIs(FOutputPath, "a volume of the set is missing", kErrReadingFile);
    }
    try {
      CloseOutput(out, attributes, dosDateTime, FOutputPath);
    } catch (const std::exception&) {
      // Out of memory on the way: the member's verdict below still stands.
    }
    // With the zip cipher about one wrong password in 256 passes the check byte and deciphers
    // the member into noise: its checksum fails, and the noise is not the member. Damaged data
    // deciphered with the right password fails the same way, and nothing tells the two apart.
    if (!incomplete && FEncrypted && !FAuthenticated && UsesZipCipher() &&
        FReportCount == reportsBefore && FChecksums.Crc32 != expectedCrc &&
        FChecksums.Crc32 != ~expectedCrc) {
      wrongKey = true;
      ReportError(FOutputPath, "wrong password, or damaged data", "0", kErrInvalidPassword);
    }
    if (incomplete || wrongKey) SettleOutput(false);
  }

  bool pass = false;
  if (FReportCount == reportsBefore && !incomplete && archive) {
    FOutputWhole = decoded;
    try {
      pass = CheckCrc(kCrcKind32, expectedCrc);
    } catch (...) {
      pass = false;  // OnEnd's handler threw: the member is not counted, the run goes on
    }
    // The checksum of what was there may match while the member promised more (a declared size
    // larger than its data): that is a failure too, and said once.
    if (pass && !decoded) {
      ReportError(FOutputPath, "", "0", kErrReadingFile);
      pass = false;
    }
  } else if (OnEnd) {
    try {
      OnEnd(this, FOutputPath, false);
    } catch (...) {
      // A handler's exception would end the run; the member has failed already.
    }
  }
  // Whatever failed leaves nothing of itself behind: a file the run made is removed, and a file
  // that was there before keeps its bytes (the output went beside it).
  SettleOutput(false);
  // The count is the number of files extracted whole: a member that failed is not in it.
  if (!pass) MemberFailed(true);
  return pass;
}

bool TUnBase::ApproveEntry(bool isDirectory) {
  if (isDirectory) return true;
  TTimerPause pause(FTimer);
  bool extract = true;
  if (OnBegin) OnBegin(this, FOutputPath, FFileCount, extract);
  if (FCancel || !extract) return false;
  if (FTestOnly) {  // nothing is written, so nothing existing is in the way
    ++FFileCount;
    return true;
  }
  if (!FConfirmOverwrites) {
    if (FOverwriteMode != omOverwrite) return false;
    ++FFileCount;
    return true;
  }
  FOverwriteMode = omOverwrite;
  // Whether the very name exists, as the file system compares names: no wildcard, no case folding.
  if (host::NameExists(FOutputPath)) {
    if (!OnFileExists) {
      ReportError(FOutputPath, "OnFileExists", "0", kErrEventNotAssigned);
      FOverwriteMode = omSkip;
    } else {
      do {
        std::string newName;
        OnFileExists(this, FOutputPath, newName, FOverwriteMode);
        if (newName.empty()) newName = FOutputPath;
        if (FOverwriteMode == omOverwrite) {
          if (newName == FOutputPath) break;
          FOutputPath = newName;
        }
      } while (!FCancel && FOverwriteMode != omSkip && host::NameExists(FOutputPath));
    }
    if (!FCancel && FOverwriteMode != omSkip) {
      const uint32_t attributes = host::GetFileAttributes(FOutputPath);
      if (attributes != host::kInvalidAttributes && (attributes & host::faReadOnly)) {
        if (attributes & (host::faSysFile | host::faDirectory)) {
          ReportError(FOutputPath, "", "0", kErrWritingFile);
          return false;
        }
        host::SetFileAttributes(FOutputPath, 0);
      }
    }
  }
  const bool approved = !FCancel && FOverwriteMode == omOverwrite && !FOutputPath.empty();
  if (approved) ++FFileCount;
  return approved;
}

bool TUnBase::ResolvePassword(TStream32& archive, size_t headerSize) {
  TTimerPause pause(FTimer);
  headerSize = std::min(headerSize, kMaxEncryptionHeader);
  std::memset(FPasswordHeader, 0, sizeof FPasswordHeader);
  ReadBlock(&archive, FPasswordHeader, static_cast<int32_t>(headerSize));
  std::memcpy(FPasswordHeader + headerSize, FPasswordHeader, headerSize);

  // Every member is tried with every password known so far, also after a prompt has failed: one
  // member that nobody could open must not cost the members that a known password opens.
  auto opens = [this] {
    FPasswordTried = FPasswordTried || !FPassword.empty();
    return CheckPassword(FPasswordHeader);
  };
  if (!FPassword.empty() && opens()) return true;
  for (int i = 0; i < FPasswords.Count(); ++i) {
    FPassword = FPasswords[i];
    if (opens()) return true;
  }
  // Asked in vain once in this run: the person is not asked again for every later member.
  if (OnGetPassword && !FPasswordFailed) {
    bool tryAgain = true;
    for (int attempt = 0; attempt < FPasswordAttempts; ++attempt) {
      if (FCancel) break;
      FPassword.clear();
      OnGetPassword(this, FOutputPath, FPassword, tryAgain);
      if (!tryAgain) break;
      if (opens()) {
        FPasswords.Insert(0, FPassword);
        return true;
      }
    }
    FPasswordFailed = true;
  }
  FPassword.clear();
  if (FPasswordTried) {
    ReportError(FOutputPath, "wrong password", "0", kErrInvalidPassword);
  } else {
    ReportError(FOutputPath, "password needed", "0", kErrPasswordFailed);
  }
  return false;
}

host::THandle TUnBase::TakeOutputMadeAhead(TStream32&, const TMemberSizes&) {
  return host::kInvalidHandle;
}

bool TUnBase::OpenOutput(host::THandle& out, host::THandle madeAhead) {
  out = host::kInvalidHandle;
  FOutputAdopted = false;
  if (FOutputPath.empty() || FTestOnly) {
    if (madeAhead >= 0) host::FileClose(madeAhead);
    return !FOutputPath.empty();  // a test decodes into nothing
  }
  FStaged.clear();
  if (madeAhead >= 0) {
    if (OutputIsBelowBase() &&
        FOutputFolder.LinkStaged(FOutputBase, FOutputRelative, madeAhead, FStaged)) {
      out = madeAhead;
      FOutputAdopted = true;
      FOutputMade = true;
      FOutputWhole = true;
      return true;
    }
    // A name outside the destination, or one that cannot be given to it: made afresh.
    host::FileClose(madeAhead);
  }
  if (OutputIsBelowBase()) {
    out = FOutputFolder.FileCreateStaged(FOutputBase, FOutputRelative, FStaged);
  } else {
    // A name the person chose (a rename when the file existed) is taken as given.
    const std::string directory = DirectoryOf(FOutputPath);
    if (!directory.empty()) MakeDirPath(directory);
    out = host::FileCreate(FOutputPath);
  }
  if (out < 0) {
    ReportError(FOutputPath, host::LastErrorText(), "0", kErrOpeningFile);
    return false;
  }
  FOutputMade = true;
  FOutputWhole = true;
  return true;
}

bool TUnBase::SettleOutput(bool keep) {
  if (!FOutputMade) return false;
  FOutputMade = false;
  if (OutputIsBelowBase()) {
    if (!keep) {
      FOutputFolder.Discard(FOutputBase, FOutputRelative, FStaged);
      return false;
    }
    if (FOutputFolder.Commit(FOutputBase, FOutputRelative, FStaged)) return true;
    ReportError(FOutputPath, host::LastErrorText(), "0", kErrWritingFile);
    return false;
  }
  // A name the person chose outside the destination was written in place.
  if (!keep) host::DeleteFile(FOutputPath);
  return keep;
}

void TUnBase::CloseOutput(host::THandle out, uint32_t attributes, uint32_t dosDateTime,
                          const std::string& outputPath) {
  if (out < 0) return;
  if (FDateAttribute == daFileDate && FMemberTime.Valid) {
    host::SetFileTimeUtc(out, FMemberTime.Seconds, FMemberTime.Nanoseconds);
  } else {
    host::SetFileDate(out, SelectFileDate(dosDateTime));
  }
  // Attributes through the open file: the name is not looked up again.
  if (FRestoreFileAttr && attributes != host::faArchive) host::SetFileAttributes(out, attributes);
  if (!host::FileClose(out)) ReportError(outputPath, host::LastErrorText(), "0", kErrClosingFile);
}

void TUnBase::ApplyFolderTimes() {
  for (auto folder = FFolderTimes.rbegin(); folder != FFolderTimes.rend(); ++folder) {
    if (FDateAttribute == daFileDate && folder->Exact.Valid) {
      host::SetFileTimeUtc(folder->Path, folder->Exact.Seconds, folder->Exact.Nanoseconds);
    } else {
      host::SetFileDate(folder->Path, SelectFileDate(folder->DosDateTime));
    }
  }
  FFolderTimes.clear();
}

uint32_t TUnBase::SelectFileDate(uint32_t dosDateTime) {
  switch (FDateAttribute) {
    case daSysDate:
      return NowAsDosDateTime();
    case daMaxFileDate:
      return FLatestDate;
    case daFileDate:
      break;
  }
  return dosDateTime;
}

int64_t TUnBase::CopyStored(TStream32& archive, host::THandle out, const TMemberSizes& sizes,
                            int kind) {
  const int64_t size = sizes.UnpackedSize;
  int64_t left = size;
  if (left <= 0) return 0;
  uint8_t* buffer = RunBuffer(static_cast<size_t>(kCopyBlockSize) + 1);
  const bool encrypted = (sizes.Flags & kFlagEncrypted) != 0;
  const bool decipherWrite = encrypted && UsesZipCipher();
  while (left > 0) {
    const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(left, kCopyBlockSize));
    const int32_t got = ReadBlock(&archive, buffer, chunk);
    if (got <= 0) break;
    left -= got;
    FRemaining -= got;
    WriteBlock(out, buffer, got, {.Decipher = decipherWrite, .CrcKind = kind});
    ReportProgress(size - left, size, FTotalUnpacked);
    if (FCancel) break;
  }
  return left;
}

void TUnBase::ReportProgress(int64_t done, int64_t size, int64_t total) {
  const uint8_t byFile = static_cast<uint8_t>(Percent(done, size));
  const uint8_t byArchive = static_cast<uint8_t>(Percent(total - FRemaining, total));
  FLastByFile = byFile;
  FLastByArchive = byArchive;
  try {
    (this->*FProgressSink)(byFile, byArchive);
  } catch (...) {
    // Progress is news, never a reason to stop: a handler that throws is not heard.
  }
}

void TUnBase::DefaultProgressSink(uint8_t byFile, uint8_t byArchive) {
  host::ProcessMessages();
  if (OnProgress) OnProgress(this, byFile, byArchive);
}

void TUnBase::SkipEntry(const TMemberSizes& sizes) {
  FRemaining -= sizes.UnpackedSize;
  ReportProgress(sizes.UnpackedSize, sizes.UnpackedSize, FTotalUnpacked);
}

void TUnBase::AddToTotals(const TMemberSizes& sizes, uint32_t dosDateTime) {
  if (static_cast<int32_t>(dosDateTime) > static_cast<int32_t>(FLatestDate))
    FLatestDate = dosDateTime;
  FTotalPacked += sizes.PackedSize;
  if (sizes.Flags & kFlagEncrypted) FTotalPacked -= static_cast<int64_t>(kZipEncryptionHeaderSize);
  FTotalUnpacked += sizes.UnpackedSize;
}

std::string TUnBase::SplitVolumeName(int index, int lastIndex) const {
  if (index >= lastIndex) return FArchiveFile;
  std::string base = FVolumeBaseName;
  const size_t dot = base.find_last_of('.');
  const size_t sep = base.find_last_of("\\:");
  if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) base.erase(dot);
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".z%2.2d", index + 1);
  return base + suffix;
}

bool TUnBase::ChangeVolume(std::unique_ptr<TStream32>& archive, int index, int lastIndex,
                           bool continuation) {
  const std::string idText = std::to_string(index + 1);
  if (!OnNextVolume) {
    FVolumeMissing = true;
    SetCancel(true);
    ReportError(FCurrentVolumeName, "OnNextVolume", idText, kErrEventNotAssigned);
    return false;
  }
  std::string volumeName = SplitVolumeName(index, lastIndex);
  if (FLocalHeaderMode && SameTextAscii(volumeName, FArchiveFile))
    volumeName = SplitVolumeName(index + 1, 9999);
  if (SameTextAscii(volumeName, FCurrentVolumeName)) {
    // A member that runs past the set's last volume has nowhere to continue.
    if (continuation) return false;
    // The volume wanted is the one already open: nothing to ask.
    if (archive) {
      FVolumeNumber = index + 1;
      return true;
    }
  }
  archive.reset();
  bool found = false;
  for (int round = 0; round < kMaxVolumePromptRounds; ++round) {
    bool cancel = FCancel != 0;
    {
      TTimerPause pause(FTimer);
      OnNextVolume(this, volumeName, idText, host::FileExists(volumeName), cancel);
    }
    FCancel = cancel ? 1 : 0;
    if (FCancel) break;
    if (host::FileExists(volumeName)) {
      found = true;
      break;
    }
  }
  if (!found) {
    FCancel = 1;
    FVolumeMissing = true;
    ReportError(volumeName, "", idText, kErrUserCanceled);
    return false;
  }
  FVolumeNumber = index + 1;
  archive = OpenArchiveStream(volumeName);
  if (!archive) {
    ReportError(TReportSeverity::Failed, TReportSubject::Volume, volumeName, "", kErrOpeningFile);
    return false;
  }
  FCurrentVolumeName = volumeName;
  return true;
}

bool TUnBase::BelowLinkMade() const {
  return std::any_of(FLinksMade.begin(), FLinksMade.end(), [this](const std::string& made) {
    return FOutputPath.size() > made.size() && FOutputPath.compare(0, made.size(), made) == 0 &&
           FOutputPath[made.size()] == '\\';
  });
}

bool TUnBase::MakeSymlink(const std::string& target, std::string& reason) {
  // The link's name below the destination, as the walk that makes it takes it.
  std::string linkName;
  if (FOutputPath.size() > FExtractDir.size() &&
      FOutputPath.compare(0, FExtractDir.size(), FExtractDir) == 0)
    linkName = FOutputPath.substr(FExtractDir.size());
  // A name with no file-name part ("sub\") would be judged from inside the folder it names but
  // made beside it, where the same target may lead out of the destination.
  if (linkName.empty() || linkName.back() == '\\' || !SymlinkStaysInside(linkName, target)) {
    reason = "symbolic link to \"" + target + "\" leads outside the destination; not created";
    return false;
  }
  if (SymlinkOnlyLoops(linkName, SymlinkLeadsTo(linkName, target), FLinkTargets)) {
    reason = "symbolic link to \"" + target + "\" leads back to itself; not created";
    return false;
  }
  // A test makes nothing, but judges the link as extraction would, and what lies below it too.
  if (!FTestOnly) {
    MakeDirPath(FExtractDir);  // the destination itself is taken as given
    if (!FOutputFolder.CreateSymlink(FExtractDir, linkName, target)) {
      reason = "symbolic link to \"" + target + "\" not created: " + host::LastErrorText();
      return false;
    }
  }
  try {
    FLinksMade.push_back(FOutputPath);
    FLinkTargets.push_back({SymlinkLeadsTo(linkName + "\\", ""), SymlinkLeadsTo(linkName, target)});
  } catch (const std::bad_alloc&) {
    // Unremembered, the link is only not guarded against later members writing through it.
  }
  return true;
}

uint8_t* TUnBase::RunBuffer(size_t size) {
  if (size > FRunBufferSize) {
    FRunBuffer = std::make_unique<uint8_t[]>(size);
    FRunBufferSize = size;
  }
  return FRunBuffer.get();
}
