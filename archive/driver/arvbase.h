// The format-independent half of the archive components: TZipCommon (properties, events, cancel
// flag, block input and output with deciphering and checksums, error reporting, volume names,
// the elapsed-time timer) shared by the lister and the extractors, and TUnBase, which runs one
// extraction: selection, overwrite rules, passwords, output files, dates, attributes, checksum
// verdicts and the file count. Decoding a member's bytes is the format part's business (TUnZip).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/codecs/arvCrypt.h"
#include "archive/common/arvDates.h"
#include "archive/common/arvGbls.h"
#include "archive/common/arvStreams.h"
#include "archive/common/arvStringList.h"
#include "archive/messages/Err_Msgs.h"
#include "archive/messages/arvReports.h"
#include "archive/records/arvSpan.h"
#include "archive/records/arvZipRecs.h"
#include "archive/records/arvregister.h"
#include "platform/host.h"

// ---- enumerations -------------------------------------------------------------------------------
enum TOverwriteMode : uint8_t { omOverwrite, omSkip };
enum TDateAttribute : uint8_t { daFileDate, daSysDate, daMaxFileDate };
enum TCpuType : uint8_t { cptAuto, cpt80286, cpt80386, cpt80486 };

// ---- events (Sender first; var parameters are references) ---------------------------------------
using TNotifyEvent = std::function<void(TObject* Sender)>;
using TErrorEvent =
    std::function<void(TObject* Sender, const std::string& FileName, const std::string& ExtendedMsg,
                       const std::string& VolumeID, int ECode)>;
// Every report of the engine, typed (OnError is fed from the same record).
using TReportEvent = std::function<void(TObject* Sender, const TReport& Report)>;
using TElapsedTimeEvent = std::function<void(TObject* Sender, float ElapsedTime)>;
using TNextVolumeEvent =
    std::function<void(TObject* Sender, std::string& VolumeName, const std::string& VolumeID,
                       bool fExists, bool& Cancel)>;
using TCorruptZipHeaderEvent =
    std::function<void(TObject* Sender, THeaderTypeState HeadFlag, bool& Cancel)>;
using TNextDiskEvent =
    std::function<void(TObject* Sender, const std::string& VolumeName, bool& Cancel)>;
using TBeginEvent =
    std::function<void(TObject* Sender, const std::string& FileName, int Count, bool& Extract)>;
using TEndEvent = std::function<void(TObject* Sender, const std::string& FileName, bool CRC_PASS)>;
using TFileExistsEvent =
    std::function<void(TObject* Sender, const std::string& FileName, std::string& NewFilename,
                       TOverwriteMode& OverwriteMode)>;
using TGetPasswordEvent = std::function<void(TObject* Sender, const std::string& FileName,
                                             std::string& Password, bool& TryAgain)>;
using TProgressEvent =
    std::function<void(TObject* Sender, uint8_t ProgressByFile, uint8_t ProgressByArchive)>;

// ---- elapsed time -------------------------------------------------------------------------------
// Millisecond ticks of the host's clock. Pauses nest: only the outermost Pause/Resume pair moves
// the start, so time spent in prompts reached from another paused section is still left out.
class TarvTimer {
 public:
  void Start();
  void Stop();
  void Pause();
  void Resume();
  bool Running() const { return FRunning; }
  float ElapsedTime() const { return FElapsed; }

 private:
  uint32_t FStartTick = 0;
  uint32_t FStopTick = 0;
  uint32_t FPauseTick = 0;
  int FPauseDepth = 0;
  bool FRunning = false;
  float FElapsed = 0.0f;
};

// A scope that pauses a timer and resumes it on every way out.
class TTimerPause {
 public:
  explicit TTimerPause(TarvTimer& timer) : FTimer(timer) { FTimer.Pause(); }
  ~TTimerPause() { FTimer.Resume(); }
  TTimerPause(const TTimerPause&) = delete;
  TTimerPause& operator=(const TTimerPause&) = delete;

 private:
  TarvTimer& FTimer;
};

// An exact last-write time in UTC, for members whose extra field holds one.
struct TExactTime {
  bool Valid = false;
  int64_t Seconds = 0;  // since 1970-01-01 00:00:00 UTC
  uint32_t Nanoseconds = 0;
};

// ---- symbolic links ------------------------------------------------------------------------------
// The longest link target any extractor reads.
constexpr int64_t kMaxLinkTarget = 4095;
// Whether the link `linkName` (relative to the destination, "\"-separated, its folders real ones)
// pointing at `target` (host text, "/"-separated) leads to a place inside the destination, read
// from the link's own folder: not absolute, never above the destination, and no ".." after a name
// (which could climb out of another link it passes through).
bool SymlinkStaysInside(const std::string& linkName, const std::string& target);
// Where such a link leads, read from its folder without following anything: a "\"-separated
// path below the destination (empty for the destination itself).
std::string SymlinkLeadsTo(const std::string& linkName, const std::string& target);
// A link made from an archive: its name below the destination and where it leads (both as above).
struct TLinkMade {
  std::string Name;
  std::string LeadsTo;
};
// Whether a link `linkName` leading to `leadsTo` can only loop: it leads to itself or below
// itself, directly or through the links made before it (`made`), so no system call could ever
// resolve it. Such a link is refused: it writes nothing anywhere, and nobody gains anything from
// it.
bool SymlinkOnlyLoops(const std::string& linkName, const std::string& leadsTo,
                      const std::vector<TLinkMade>& made);

// ---- TZipCommon ---------------------------------------------------------------------------------
// Everything the lister (TArcova) and the extractors share.
// How a block is read or written.
struct TBlockOptions {
  // Decipher with the zip cipher: a read after reading; a write before writing, and only when
  // the block is checksummed.
  bool Decipher = false;
  int CrcKind = kCrcKindNone;  // the running checksum the block is folded into
};

class TZipCommon : public TRegisterArcova {
 public:
  explicit TZipCommon(TComponent* owner = nullptr);
  ~TZipCommon() override;

  // ---- properties
  TStringList& FileSpec() { return FFileSpec; }
  const TStringList& FileSpec() const { return FFileSpec; }
  void SetFileSpec(const TStringList& lines) { FFileSpec.Assign(lines); }
  bool RecurseDirs() const { return FRecurseDirs; }
  void SetRecurseDirs(bool value) { FRecurseDirs = value; }
  bool TranslateOemChar() const { return FTranslateOemChar; }
  void SetTranslateOemChar(bool value) { FTranslateOemChar = value; }
  int ZipCmntBufSize() const { return FZipCmntBufSize; }
  void SetZipCmntBufSize(int value);  // clamped to 2000..32767
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& value) { FPassword = value; }
  // The cancel flag. Setting it True reports 25443 (FileName = ArchiveFile, ExtendedMsg = the
  // current output path); a run stops before its next member or block.
  virtual bool Cancel() const { return FCancel != 0; }
  virtual void SetCancel(bool value);
  uint8_t* CancelFlag() { return &FCancel; }

  // ---- events
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TErrorEvent OnError;
  TReportEvent OnReport;
  TElapsedTimeEvent OnElapsedTime;
  TNextVolumeEvent OnNextVolume;
  TCorruptZipHeaderEvent OnCorruptZipHeader;
  TDiskPromptEvent OnGetZipFirstDisk;
  TDiskPromptEvent OnGetZipLastDisk;
  TNextDiskEvent OnGetZipNextDisk;

  // ---- selection
  // Whether a stored name (already converted) is selected by FileSpec with RecurseDirs. A line
  // without "." that fails gains one in FileSpec itself (so "*.*" also selects "README").
  bool MatchesFileSpec(const std::string& storedName);
  static bool MatchesFileSpec(const std::string& storedName, TStringList& fileSpec,
                              bool recurseDirs);

  // ---- dates
  // A packed DOS date-time as a date value; 0 is taken as 1980-01-01 00:01:00.
  virtual TDateTime DosDateToDateTime(uint32_t packed);

  // ---- block input and output
  // Reads up to count bytes from the archive stream (none: 0 bytes), deciphers them when asked
  // and folds them into the running checksum of options.CrcKind. A failed read is a short read.
  virtual int32_t ReadBlock(TStream32* archive, uint8_t* buffer, int32_t count,
                            TBlockOptions options = {});
  // Writes count bytes to the output (deciphered first, for a format with the zip cipher, when
  // options.Decipher is set with a checksum) and folds them into the running checksum of
  // options.CrcKind. Disk full: file counter 0 and EWriteError("Disk full"); a short write:
  // counter - 1 (not below 0) and E_RAISE("Error writing to file").
  virtual int32_t WriteBlock(host::THandle out, uint8_t* buffer, int32_t count,
                             TBlockOptions options = {});
  // Deciphers in place with the traditional zip cipher (the zip family; other formats
  // decipher in their own decoders).
  virtual void DecryptBlock(bool decipher, uint8_t* buffer, int32_t count);

  // ---- errors
  // Every report goes out once as a typed record (OnReport) and, in the designed form, through
  // OnError; the code becomes 25443 while the cancel flag is set. Never raises.
  // A report whose caller does not say how bad it is and what it is about is classified by what it
  // names (ClassifyReport): the archive (Fatal), a volume number (a volume, Failed), else a member
  // (Failed).
  virtual void ReportError(const std::string& fileName, const std::string& extendedMsg,
                           const std::string& volumeId, int code);
  // The same, with the severity and the subject said by the caller, which knows them. `name` is
  // the subject's name when it is not what `fileName` gives (a member's stored name).
  void ReportError(TReportSeverity severity, TReportSubject subject, const std::string& fileName,
                   const std::string& extendedMsg, int code, const std::string& name = {});
  // The one route of every report: OnReport, then OnError unless `designed` is false (a verdict
  // that the designed events give through OnEnd alone).
  void Report(TReport report, bool designed = true);
  // ReportError, then, unless cancelled, raises E_RAISE with the code's text.
  virtual void RaiseError(const std::string& fileName, const std::string& extendedMsg,
                          const std::string& volumeId, int code);
  // ReportError with the code as it is, also while the cancel flag is set: for the one report
  // that names what a cancelled prompt cut short.
  void ReportErrorAsIs(const std::string& fileName, const std::string& extendedMsg, int code);
  enum class TErrorClass : uint8_t { Raise, Read, Write };
  void RaiseError(TErrorClass errorClass, const std::string& fileName,
                  const std::string& extendedMsg, const std::string& volumeId, int code);

  // ---- output names
  // Stored member name -> the current output path (the extractor's rule is TUnBase's).
  virtual void BuildOutputName(const std::string& storedName);
  const std::string& OutputPath() const { return FOutputPath; }

  // ---- volumes (other formats' multi-volume names; the lister's volume walk)
  // Directory + the name without its last extension + a suffix from n and the volume
  // letter (RAR numbers wrap at 100, advancing the letter); empty for an empty name or n < 0.
  virtual std::string VolumeName(const std::string& name, int n);
  // Asks OnNextVolume for the volume until it exists; adds 1 to the volume number on success.
  bool AskNextVolume(std::string& volumeName, int volumeId);
  // The same for a volume that a set names itself (a cabinet's next cabinet): `volumeId` is the
  // text the set gives, and no volume number limits it.
  bool AskNextVolume(std::string& volumeName, const std::string& volumeId);
  // VolumeName + AskNextVolume, then reopens `archive` on it (archive size updated).
  bool NextVolume(std::unique_ptr<TStream32>& archive, std::string& volumeName);

  // The archive stream of a run: a TFileStream32 opened for reading, denying write; nullptr when
  // it could not be opened.
  static std::unique_ptr<TStream32> OpenArchiveStream(const std::string& fileName);

  // ---- the parts the run state and the decoders share
  TarvTimer& Timer() { return FTimer; }
  TRunningChecksums& Checksums() { return FChecksums; }
  TZipCipher& Cipher() { return FCipher; }
  TDiskManager& DiskManager() { return FDiskManager; }
  int32_t FileCount() const { return FFileCount; }
  // The callbacks handed to the disk classes: this component's error routes, no prompts.
  TDiskCallbacks DiskCallbacks();

 protected:
  // Whether member data of ArcType is enciphered with the traditional zip cipher.
  bool UsesZipCipher() const;
  // Fills in what a report is about and how bad it is, for callers that did not say.
  virtual void ClassifyReport(TReport& report) const;

  // properties
  TStringList FFileSpec;
  bool FRecurseDirs = true;
  bool FTranslateOemChar = true;
  bool FTestOnly = false;  // decode and check, write nothing (TUnBase::SetTestOnly)
  int FZipCmntBufSize = 0;
  std::string FPassword;

  // run state shared with the block input and output
  uint8_t FCancel = 0;
  int32_t FFileCount = 0;
  int64_t FReportCount = 0;  // errors reported so far (a member reports its failure once)
  // Why the last WriteBlock failed (kErrorSuccess: it did not), for the member's one report.
  uint32_t FWriteError = host::kErrorSuccess;
  std::string FWriteErrorText;
  std::string FOutputPath;
  TarvTimer FTimer;
  TRunningChecksums FChecksums;
  TZipCipher FCipher;
  TDiskManager FDiskManager;
};

// ---- TUnBase ------------------------------------------------------------------------------------
// One extraction run; the format part (TUnZip) supplies ExtractArchive and the decoders.
class TUnBase : public TZipCommon {
 public:
  // The block of the driver's own copies and of the legacy decoders' output.
  static constexpr int32_t kBlockSize = 32768;
  // Stored members are copied in blocks of this size (one buffer for the run), progress once per
  // block: large enough that system calls are few, small enough to stay in the processor's cache
  // between reading, checksumming and writing.
  static constexpr int32_t kCopyBlockSize = 262144;

  explicit TUnBase(TComponent* owner = nullptr);
  ~TUnBase() override;

  // Runs one extraction and returns the file counter; never raises.
  int Extract();

  // ---- properties
  const std::string& ExtractDir() const { return FExtractDir; }
  // A non-empty value is stored with "/" turned into "\" and a trailing "\"; an empty one takes
  // the directory of ArchiveFile (or stays empty).
  void SetExtractDir(const std::string& value);
  bool UseStoredDirs() const { return FUseStoredDirs; }
  void SetUseStoredDirs(bool value) { FUseStoredDirs = value; }
  bool CreateStoredDirs() const { return FCreateStoredDirs; }
  void SetCreateStoredDirs(bool value) { FCreateStoredDirs = value; }
  bool ConfirmOverwrites() const { return FConfirmOverwrites; }
  void SetConfirmOverwrites(bool value) { FConfirmOverwrites = value; }
  TOverwriteMode OverwriteMode() const { return FOverwriteMode; }
  void SetOverwriteMode(TOverwriteMode value) { FOverwriteMode = value; }
  TDateAttribute DateAttribute() const { return FDateAttribute; }
  void SetDateAttribute(TDateAttribute value) { FDateAttribute = value; }
  bool RestoreFileAttr() const { return FRestoreFileAttr; }
  void SetRestoreFileAttr(bool value) { FRestoreFileAttr = value; }
  TStringList& Passwords() { return FPasswords; }
  const TStringList& Passwords() const { return FPasswords; }
  void SetPasswords(const TStringList& lines) { FPasswords.Assign(lines); }
  int PasswordAttempts() const { return FPasswordAttempts; }
  void SetPasswordAttempts(int value) { FPasswordAttempts = value; }
  TCpuType CpuType() const { return FCpuType; }
  void SetCpuType(TCpuType value) { FCpuType = value; }
  // Test instead of extracting: every selected member is decoded and its checksum checked, and
  // nothing is written (no file, no folder, no link); the count is of the members tested.
  bool TestOnly() const { return FTestOnly; }
  void SetTestOnly(bool value) { FTestOnly = value; }

  // ---- events
  TBeginEvent OnBegin;
  TEndEvent OnEnd;
  TFileExistsEvent OnFileExists;
  TGetPasswordEvent OnGetPassword;
  TProgressEvent OnProgress;

  // ---- what the run leaves behind (for tests and front ends)
  int64_t TotalPackedSize() const { return FTotalPacked; }
  int64_t TotalUnpackedSize() const { return FTotalUnpacked; }
  uint32_t LatestDate() const { return FLatestDate; }
  uint8_t LastProgressByFile() const { return FLastByFile; }
  uint8_t LastProgressByArchive() const { return FLastByArchive; }
  // Members of the last run that were selected but not extracted whole (each was reported).
  int FailedCount() const { return FFailedCount; }
  // How many members the last run's walk selected (files and folders, failed ones included).
  int SelectedCount() const { return FSelectedCount; }

  // Stored name -> output path below ExtractDir. A leading drive ("C:"), roots and UNC prefixes
  // are dropped; so are empty, "." and ".." components, so no name leads outside ExtractDir. A ":"
  // elsewhere is part of the name. A name whose file part is dropped this way is refused.
  void BuildOutputName(const std::string& storedName) override;

 protected:
  // A report about the output file in work is about the member being extracted: its stored name.
  void ClassifyReport(TReport& report) const override;

  // ---- the format part
  virtual void ExtractArchive(std::unique_ptr<TStream32>& archive);
  // Checks the member's running checksum against `expected` and settles its output (SettleChecked).
  virtual bool CheckCrc(int kind, uint32_t expected);
  // The end of every member's check: the output is put in its place when the checksum passed and
  // the member was decoded whole, removed otherwise; a failed checksum is reported (with
  // `detail`); OnEnd hears the verdict, which is returned.
  bool SettleChecked(bool checksumPassed, const std::string& detail = {});
  // `header`: the 12 encryption-header bytes twice. TUnBase knows no cipher: False.
  virtual bool CheckPassword(uint8_t header[24]);
  // Decodes the current member into `out`; the running CRC-32 starts at all ones.
  virtual bool DecodeZipMember(const std::string& outputPath, TMemberSizes& sizes,
                               host::THandle out, std::unique_ptr<TStream32>& archive);
  // The current member's output when it was written before the walk reached it (an unnamed file
  // holding the member, handed over to the caller), taken just before the output is made, the
  // password test done; kInvalidHandle when there is none (here: never).
  virtual host::THandle TakeOutputMadeAhead(TStream32& archive, const TMemberSizes& sizes);

  // ---- the driver's operations for the format part
  // One listed member after BuildOutputName: approval, password, output, decoding, verdict.
  bool ExtractEntry(std::unique_ptr<TStream32>& archive, uint32_t attributes, TMemberSizes& sizes,
                    uint32_t expectedCrc, uint32_t dosDateTime);
  bool ApproveEntry(bool isDirectory);
  // Whether the format part can decode a member of this method (else it is reported and no file
  // is made). TUnBase: every method.
  virtual bool MethodSupported(const TMemberSizes& sizes) const;
  // What the report of an unsupported member says besides the code: the method's name, or the
  // encryption that cannot be undone. TUnBase: nothing.
  virtual std::string UnsupportedDetail(const TMemberSizes& sizes) const;
  // Bytes of the member's encryption header that the password test reads (at most
  // kMaxEncryptionHeader). TUnBase: the traditional cipher's 12.
  virtual size_t EncryptionHeaderSize(const TMemberSizes& sizes) const;
  static constexpr size_t kMaxEncryptionHeader = 18;  // WinZip AES-256: 16-byte salt, verifier
  // The output path still lies below ExtractDir as BuildOutputName made it (a rename by
  // OnFileExists may have moved it): it is then created without following links.
  bool OutputIsBelowBase() const;
  // A selected member was not extracted: out of the count (when it was counted) and into the
  // failures.
  void MemberFailed(bool counted);
  // Reads the member's `headerSize` encryption-header bytes and finds the password that opens it.
  bool ResolvePassword(TStream32& archive, size_t headerSize = kZipEncryptionHeaderSize);
  // Makes the member's output file: in its place when the name is free, else staged beside what
  // is there (which stays untouched until the output is known good). An output made ahead
  // (`madeAhead`, owned from here on) is given the name instead when it can be (FOutputAdopted),
  // else closed.
  bool OpenOutput(host::THandle& out, host::THandle madeAhead = host::kInvalidHandle);
  // Puts the output made by OpenOutput in its place (`keep`) or removes it; true when it was kept.
  // A failure to put it in place is reported. Nothing happens when no output is open.
  bool SettleOutput(bool keep);
  void CloseOutput(host::THandle out, uint32_t attributes, uint32_t dosDateTime,
                   const std::string& outputPath);
  uint32_t SelectFileDate(uint32_t dosDateTime);
  // Copies a stored member in blocks; returns the bytes not copied (0 when all were).
  int64_t CopyStored(TStream32& archive, host::THandle out, const TMemberSizes& sizes, int kind);
  void ReportProgress(int64_t done, int64_t size, int64_t total);
  void SkipEntry(const TMemberSizes& sizes);
  // Gives the stored folders that exist their times once everything is written (a file written
  // into a folder afterwards would move its time).
  void ApplyFolderTimes();
  // Adds a listed member's sizes and date to the run's totals.
  void AddToTotals(const TMemberSizes& sizes, uint32_t dosDateTime);

  // ---- split volumes (atZipMV)
  // The base name with ".z01", ".z02", ... for index < lastIndex, else ArchiveFile.
  std::string SplitVolumeName(int index, int lastIndex) const;
  // Brings in volume index + 1 through OnNextVolume and reopens `archive` on it. For a member's
  // continuation (`continuation` true) the volume open now never counts as the next one.
  bool ChangeVolume(std::unique_ptr<TStream32>& archive, int index, int lastIndex,
                    bool continuation = false);

  // The default progress sink: pending messages first, then OnProgress.
  void DefaultProgressSink(uint8_t byFile, uint8_t byArchive);
  using TProgressSink = void (TUnBase::*)(uint8_t, uint8_t);

  // A scratch buffer of at least `size` bytes kept for the run (no allocation per member).
  uint8_t* RunBuffer(size_t size);

  // ---- links
  // Whether the output path lies below a symbolic link this run made: nothing is written there.
  bool BelowLinkMade() const;
  // Makes the output path (approved) a symbolic link holding `target` when the link stays inside
  // ExtractDir and does not only loop; false with the reason (for the member's one report)
  // otherwise. Test runs make nothing but judge the link the same way.
  bool MakeSymlink(const std::string& target, std::string& reason);

  // properties
  std::string FExtractDir;
  bool FUseStoredDirs = true;
  bool FCreateStoredDirs = false;
  bool FConfirmOverwrites = false;
  TOverwriteMode FOverwriteMode = omOverwrite;
  TDateAttribute FDateAttribute = daFileDate;
  bool FRestoreFileAttr = true;
  TStringList FPasswords;
  int FPasswordAttempts = 3;
  TCpuType FCpuType = cptAuto;

  // run state
  std::string FStoredName;
  bool FEncrypted = false;
  bool FPasswordFailed = false;  // OnGetPassword was asked in vain: it is not asked again
  bool FPasswordTried = false;   // a password (any) was tried in this run
  int FFailedCount = 0;
  int FSelectedCount = 0;
  std::string FOutputBase;           // ExtractDir with its "\", when the output lies below it
  std::string FOutputRelative;       // the output path below FOutputBase
  host::TBelowFolder FOutputFolder;  // the folders below FOutputBase walked last, held for a run
  std::string FStaged;               // the hidden name the output is written to, when staged
  bool FOutputMade = false;          // an output file was made and is not settled yet
  bool FOutputWhole = true;          // its decoder delivered everything the member holds
  bool FOutputAdopted = false;       // it is the output made ahead, named by OpenOutput
  bool FNameRefused = false;         // the stored name leaves no file name to write
  bool FVolumeMissing = false;       // a volume that a member needs could not be had
  int64_t FTotalPacked = 0;
  int64_t FTotalUnpacked = 0;
  int64_t FRemaining = 0;
  uint32_t FLatestDate = 0;
  uint8_t FLastByFile = 0;
  uint8_t FLastByArchive = 0;
  TProgressSink FProgressSink = &TUnBase::DefaultProgressSink;
  std::string FVolumeBaseName;     // ArchiveFile as the run started
  std::string FCurrentVolumeName;  // the volume the archive stream is open on
  bool FLocalHeaderMode = false;   // the archive is read through its local headers
  // The member's encryption header, twice (the second copy from its size on).
  uint8_t FPasswordHeader[2 * kMaxEncryptionHeader] = {};
  // Set by the format part while decoding: the member's data was found damaged after bytes were
  // written (an authentication code that fails), and reported; its output is removed.
  bool FDiscardOutput = false;
  // Set by the format part: the data was authenticated (a code that matched), so a checksum that
  // fails afterwards is damage, never a password that only seemed right.
  bool FAuthenticated = false;
  uint32_t FExpectedCrc = 0;  // the member in work's expected CRC-32
  // The member's exact time, when its format gives one (set by the format part before
  // ExtractEntry); it wins over the DOS date-time when files get their own date.
  TExactTime FMemberTime;
  struct TFolderTime {
    std::string Path;
    uint32_t DosDateTime = 0;
    TExactTime Exact;
  };
  std::vector<TFolderTime> FFolderTimes;  // stored folders made by the run
  std::vector<std::string> FLinksMade;    // output paths of the links the run made
  std::vector<TLinkMade> FLinkTargets;    // the same links below the destination, and where to

 private:
  std::unique_ptr<uint8_t[]> FRunBuffer;
  size_t FRunBufferSize = 0;
};
