// What the lister's header readers plug into: TArcovaWalk, the state and services of one walk of
// TArcova (the archive stream behind a read-ahead window, offsets, the header buffer, naming,
// matching, counting, sums, reporting, errors, volume changes), and TListerFormat, one format
// family's first-header step and header step. The readers themselves live one family per file
// beside this header; this file holds no format knowledge.
//
// Adding a reader for a format family:
//   1. In formats/<family>_lister.cpp, derive from TListerFormat. FirstHeader positions the walk
//      (walk.StartOffset) and sets the fixed header size (walk.SetHeaderSize); Header handles the
//      header the loop has just read into walk.Header().
//   2. For each entry: walk.ClearEntry(), walk.SetFileName(stored name), fill walk.Entry(),
//      walk.FireReadFile(); then, when walk.SimpleMatch (or MatchesFileSpec) selects it,
//      walk.CountEntry(), walk.AddSizes(unpacked, packed), walk.ReportEntry(header start).
//   3. Move walk.CurrentOffset to the next header, or walk.EndWalk(). A step that neither moves
//      the walk on nor changes volume ends the walk (so a broken header cannot loop forever).
//   4. Errors go to walk.ReportError (OnError; never raises). Read other parts of the archive
//      through walk.Stream() (Peek or ReadAt: short reads only at the end or on a failed read).
//   5. Declare a Create<Family>Lister() below and dispatch to it in lister_formats.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/common/arvStringList.h"
#include "archive/formats/arvArcova.h"

// ---- the archive stream of a walk, read through a window ----------------------------------------
// Headers, names and extra fields are served from one read-ahead window, so a directory of many
// small records costs one system read per window rather than several per entry. The stream behind
// may be swapped (next volume, next disk) through the slot; the window follows.
class TWalkStream final : public TStream32 {
 public:
  static constexpr int32_t kWindowSize = 1 << 17;  // room for a header + 64 KiB name + 64 KiB extra
  static constexpr int32_t kFirstFill = 1 << 13;   // after a jump: small, a header is likely alone
  static_assert(kWindowSize >= 46 + 65535, "a header with its whole name or extra field fits");

  explicit TWalkStream(std::unique_ptr<TStream32>& slot);

  bool Open() const { return FSlot != nullptr; }
  // Up to `count` bytes (count <= kWindowSize) at `position`, without copying; `got` is how many
  // are there (fewer at the end of the file, 0 on a failed read or a negative position).
  const uint8_t* Peek(int64_t position, int32_t count, int32_t& got);
  // Copies up to `count` bytes at `position`; returns the number copied.
  int32_t ReadAt(int64_t position, void* buffer, int32_t count) override;
  // Forgets the window (the file may have been swapped or changed behind it).
  void Invalidate();

  int64_t GetSize() override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int32_t Seek(int32_t offset, int origin) override;
  int64_t Seek64(int64_t offset, int origin) override;

 protected:
  bool HasSeek64() const override { return true; }

 private:
  void Sync();                                 // re-attach when the slot holds another stream
  bool Fill(int64_t position, int32_t count);  // make [position, position + count) resident

  std::unique_ptr<TStream32>& FSlot;
  TStream32* FAttached = nullptr;
  std::unique_ptr<uint8_t[]> FWindow;
  int64_t FWindowStart = 0;
  int32_t FWindowLength = 0;
  int32_t FNextFill = kFirstFill;
  int64_t FPosition = 0;
};

// ---- one walk -----------------------------------------------------------------------------------
// The state of one walk and the services a reader uses; a reader reaches the lister only through
// them. The walk owns what it counts (the entry being read, the number of entries, the sums); the
// lister takes the results when the walk ends.
class TArcovaWalk {
 public:
  // `list`: the caller's list in list mode (nullptr in event mode).
  TArcovaWalk(TArcova& owner, TStringList* list);
  TArcovaWalk(const TArcovaWalk&) = delete;
  TArcovaWalk& operator=(const TArcovaWalk&) = delete;

  TArcType ArcType() const { return FOwner.ArcType(); }
  // The archive as the lister was given it, and what detection found in it (its start, the zip
  // records).
  const std::string& ArchiveFile() const { return FOwner.ArchiveFile(); }
  int64_t ArchiveStart() const { return FOwner.StartOffset(); }
  const TDetection& Detected() const { return FOwner.Detected(); }
  // The lister's settings a reader needs: OEM names converted; the entries' details wanted (event
  // mode) rather than a list of names.
  bool TranslateOem() const { return FOwner.TranslateOemChar(); }
  bool WantsDetails() const { return FOwner.ReadMode() == rmEvent; }
  // A compression method's name as the entries' details give it, for the archive's type.
  std::string MethodName(uint32_t method, uint32_t flags, bool isDirectory) const {
    return FOwner.MethodName(method, flags, isDirectory);
  }

  // ---- the archive stream -----------------------------------------------------------------------
  // Opens `fileName` as the archive of the walk; false when it cannot be opened.
  bool OpenArchive(const std::string& fileName);
  void CloseArchive() { FArchive.reset(); }
  TWalkStream& Stream() { return FStream; }
  std::unique_ptr<TStream32>& ArchiveSlot() { return FArchive; }  // for volume and disk changes
  bool StreamOpen() const { return FArchive != nullptr; }
  int64_t ArchiveSize() const { return FArchiveSize; }
  // Takes the size of the stream now in the slot; readers call it after every volume or disk
  // change (which also lets the next header lie before the last one).
  void RefreshArchiveSize();
  // How often RefreshArchiveSize ran (the loop's test that a step moved the walk on).
  uint32_t VolumeChanges() const { return FVolumeChanges; }
  // The file the walk reads now (ArchiveFile, or the volume it moved to).
  std::string& VolumeName() { return FVolumeName; }
  // Moves to the next volume of a multi-volume set: asks OnNextVolume for it (VolumeName() is
  // the current one and becomes the next), reopens the slot on it and refreshes the size. False
  // when there is no handler, the user cancels or the volume cannot be opened.
  bool NextVolume();
  // Asks OnNextVolume for the volume `name` (numbered `volumeId`); the handler may change the
  // name. False when there is no handler or the user cancels.
  bool AskNextVolume(std::string& name, const std::string& volumeId) {
    return FOwner.AskNextVolume(name, volumeId);
  }
  bool AskNextVolume(std::string& name, int volumeId) {
    return FOwner.AskNextVolume(name, volumeId);
  }
  // Takes the volume number from the archive's name again (a walk before this one may have moved
  // it on).
  void RestartVolumes() { FOwner.ParseVolumeName(); }
  // Brings up the last disk of a zip set spanned over removable disks, through the lister's disk
  // events, and detects it afresh (Detected() then describes it); false when it cannot be had.
  bool OpenLastZipDisk();
  // Asks OnCorruptZipHeader whether to walk a zip whose directory was not found (`state`: the
  // headers that were); false when the handler declines. Without a handler the walk goes on, and
  // the unassigned event is reported.
  bool AskCorruptZipHeader(THeaderTypeState state);

  // ---- positions --------------------------------------------------------------------------------
  int64_t StartOffset = 0;    // where the loop begins; the first-header step may move it
  int64_t CurrentOffset = 0;  // where the next header is read
  int64_t HeaderStart = 0;    // where the header being processed starts
  // Ends the walk: the loop stops before reading another header.
  void EndWalk() { CurrentOffset = FArchiveSize; }
  // From a first-header step: nothing is read at all.
  void ReadNothing() { StartOffset = FArchiveSize; }
  // The loop's read: the next header (HeaderSize() bytes at CurrentOffset) into Header(), with
  // HeaderStart set and CurrentOffset moved behind what arrived. False when no whole header fits
  // before the archive's end or nothing could be read: the walk is over.
  bool ReadNextHeader();

  // ---- the header buffer of the format (its fixed size is set by the first-header step) ---------
  void SetHeaderSize(int32_t size);
  int32_t HeaderSize() const { return FHeaderSize; }
  uint8_t* Header() { return FHeader.data(); }

  // The zip header state for this walk (a copy of detection's; the walk may narrow it).
  THeaderTypeState HeaderState = 0;

  // ---- per-walk buffers -------------------------------------------------------------------------
  uint8_t* CommentBuffer() { return FComment.get(); }
  // Reads a comment of `length` bytes at `position` into the comment buffer, keeping at most
  // kCommentBufferSize - 1 bytes and never reading the archive's last byte; zero-terminated.
  // Returns the number kept.
  int32_t ReadComment(int64_t position, uint32_t length);

  // ---- entries ----------------------------------------------------------------------------------
  // The current entry name (what SetFileName made of the stored name).
  const std::string& FileName() const { return FEntry.FileName; }
  // Names the current entry from its stored name: OEM to ANSI when TranslateOemChar is on and
  // `oemName`, then "/" to "\".
  void SetFileName(const std::string& storedName, bool oemName = true) {
    FEntry.FileName = FOwner.EntryName(storedName, oemName);
  }
  void SetFileNameRaw(std::string name) { FEntry.FileName = std::move(name); }
  // A stored name as entries are named (without making it the current entry's).
  std::string EntryName(const std::string& storedName, bool oemName = true) {
    return FOwner.EntryName(storedName, oemName);
  }
  // The details of the current entry; the reader fills what its headers hold.
  TArcovaEntry& Entry() { return FEntry; }
  const TArcovaEntry& Entry() const { return FEntry; }
  // Clears the details before a header's fields are filled in.
  void ClearEntry();

  // Fires OnReadFile with the current name (every entry header read, before the mask test).
  void FireReadFile();
  // The simple mask match: the first FileSpec line that matches the name (with a "." appended
  // when the line has one and the name none) selects it. An empty name matches nothing.
  bool SimpleMatch(const std::string& name) const;
  // The zip central-directory rule (FileSpec with RecurseDirs).
  bool MatchesFileSpec(const std::string& name) { return FOwner.MatchesFileSpec(name); }
  // Whether the selection takes every name (a zip member without a name is selected then).
  bool SelectsEveryName() const;
  bool ShowEmptyDirs() const { return FOwner.ShowEmptyDirs(); }

  // ---- counting and sums ------------------------------------------------------------------------
  void CountEntry() { ++FNumFiles; }
  void AddSizes(int64_t unpacked, int64_t packed);
  void SubtractSizes(int64_t unpacked, int64_t packed);
  int32_t NumFiles() const { return FNumFiles; }
  int64_t PackSum() const { return FPackSum; }
  int64_t UnpackSum() const { return FUnpackSum; }
  // Reports the current entry (messages pumped first): list mode adds its name to the list, event
  // mode fires OnReadBegin, OnRead(offset, NumFiles()), OnReadEnd.
  void ReportEntry(int64_t offset);
  // The current entry, once its name is selected: a file is counted, its sizes summed and reported;
  // a folder is reported only when empty folders are shown, and is neither counted nor summed.
  void ReportSelected(int64_t offset, bool isDirectory, int64_t unpacked, int64_t packed);

  // ---- cancelling and errors --------------------------------------------------------------------
  bool Cancelled() const { return FOwner.Cancel(); }
  // Cancels the walk (the user declined a volume) and says so ("User canceled").
  void CancelWalk() { FOwner.SetCancel(true); }
  // Stops the walk as cancelled without a word (what stopped it was said already).
  void CancelWalkQuietly() { *FOwner.CancelFlag() = 1; }
  // The lister's cancel flag, for a reader that hands it to code which polls it.
  const uint8_t* CancelFlag() { return FOwner.CancelFlag(); }
  // OnError of the lister (25443 while cancelled); never raises.
  void ReportError(const std::string& fileName, int code, const std::string& extendedMsg = "",
                   const std::string& volumeId = "0") {
    FOwner.ReportError(fileName, extendedMsg, volumeId, code);
  }
  // The same, with how bad it is and what it is about said by the reader; `name` is the subject's
  // name when `fileName` does not give it.
  void Report(TReportSeverity severity, TReportSubject subject, const std::string& fileName,
              const std::string& detail, int code, const std::string& name = {}) {
    FOwner.ReportError(severity, subject, fileName, detail, code, name);
  }

 private:
  TArcova& FOwner;
  TStringList* FList;  // not owned
  std::unique_ptr<TStream32> FArchive;
  TWalkStream FStream;
  int64_t FArchiveSize = 0;
  std::string FVolumeName;
  std::vector<uint8_t> FHeader;
  int32_t FHeaderSize = 0;
  std::unique_ptr<uint8_t[]> FComment;
  uint32_t FVolumeChanges = 0;  // counted by RefreshArchiveSize
  TArcovaEntry FEntry;
  int32_t FNumFiles = 0;
  int64_t FPackSum = 0;
  int64_t FUnpackSum = 0;
};

// ---- a format family's two steps ----------------------------------------------------------------
class TListerFormat {
 public:
  virtual ~TListerFormat() = default;
  // Run once after the archive is opened: positions the walk (StartOffset), sets the header size,
  // and may end the walk before it starts (ReadNothing).
  virtual void FirstHeader(TArcovaWalk& walk) = 0;
  // Run for each header the loop has read into walk.Header() (walk.CurrentOffset is just behind
  // it): reads the entry, fires OnReadFile, tests the masks, counts and reports, and moves
  // walk.CurrentOffset to the next header (or ends the walk).
  virtual void Header(TArcovaWalk& walk) = 0;
  // Run once after the loop, unless the walk was cancelled or its stream is gone: a reader whose
  // headers ended early may look for the rest elsewhere (a zip whose directory is short of what
  // its end record announces).
  virtual void AfterLastHeader(TArcovaWalk&) {}
};

// The reader for an archive type; nullptr when the type has none (nothing is listed).
std::unique_ptr<TListerFormat> CreateListerFormat(TArcType type);

// The zip family (atZip, atZipExe, atJar, atJarExe, atZipDS, atZipMV).
std::unique_ptr<TListerFormat> CreateZipLister();
std::unique_ptr<TListerFormat> CreateAceLister();      // atAce, atAceExe
std::unique_ptr<TListerFormat> CreateArcLister();      // atArc, atArcExe
std::unique_ptr<TListerFormat> CreatePakLister();      // atPak, atPakExe
std::unique_ptr<TListerFormat> CreateArjLister();      // atArj, atArjExe
std::unique_ptr<TListerFormat> CreateBhLister();       // atBh, atBhExe
std::unique_ptr<TListerFormat> CreateCabLister();      // atCab
std::unique_ptr<TListerFormat> CreateHaLister();       // atHA
std::unique_ptr<TListerFormat> CreateZooLister();      // atZoo
std::unique_ptr<TListerFormat> CreateGzipLister();     // atGZip (a TAR inside is listed whole)
std::unique_ptr<TListerFormat> CreateTarGzipLister();  // atTarGZip
std::unique_ptr<TListerFormat> CreateLhaLister();      // atLha, atLhaExe, atLzh, atLzhExe
std::unique_ptr<TListerFormat> CreateMsGzLister();     // atMsGZ
std::unique_ptr<TListerFormat> CreateRarLister();      // atRar, atRarExe (RAR 1.5 to 5)
std::unique_ptr<TListerFormat> CreateTarLister();      // atTar
std::unique_ptr<TListerFormat> CreateUueLister();      // atUUE
// The types read only through a member source (at7Zip, atXz, atBZip2, atZstd, atLz4, atLzip,
// atCpio, atIso9660): the walk is the extractor's own reading of the archive.
std::unique_ptr<TListerFormat> CreateSourceLister();
