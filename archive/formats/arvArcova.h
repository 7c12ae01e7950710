// The archive lister TArcova: walks the headers of an archive of any recognised type from the first
// to the last, counts the entries that match FileSpec, sums their sizes, and either fills a string
// list with their names (FillFileList) or fires OnRead per entry (Scan). It never reads member data
// and never extracts; the per-format header readers live in archive/formats/.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/driver/arvbase.h"

// ---- events of the lister (Sender first) --------------------------------------------------------
// Offset: where the entry's header starts in the archive; Filenum: the entry counter after counting
// this entry (the first reported entry has 1).
using TReadEvent = std::function<void(TObject* Sender, int64_t Offset, int Filenum)>;
using TReadFileEvent = std::function<void(TObject* Sender, const std::string& FileName)>;
using TTotalsEvent = std::function<void(TObject* Sender, int64_t UnpackSize, int64_t PackSize,
                                        uint8_t Ratio, int NumFiles)>;

// Event mode fires OnRead per reported entry; list mode adds the entry's name to a list.
enum TArcovaReadMode : uint8_t { rmEvent, rmList };

// The details of the entry being reported, filled from its headers. Complete while OnReadBegin,
// OnRead and OnReadEnd run in event mode; list mode fills only FileName.
struct TArcovaEntry {
  std::string FileName;    // as the component set it ("\" separators)
  int64_t PackedSize = 0;  // as recorded (an encrypted zip member's 12-byte header included)
  int64_t UnpackedSize = 0;
  uint8_t Ratio = 0;         // PercentSaved(UnpackedSize, PackedSize)
  uint32_t DosDateTime = 0;  // packed DOS date-time, date in the high word (0: none recorded)
  // The modification time to the second or finer where the archive holds one (zip: the NTFS
  // times, else the extended timestamp, of the local header first, as extraction takes them).
  TExactTime ExactTime;
  TDateTime Date = 0;  // the exact time in local time when there is one, else the DOS date-time
  uint32_t Crc32 = 0;
  uint32_t Method = 0;      // the format's method number
  uint32_t Flags = 0;       // the format's flag word (zip: general-purpose flags)
  std::string MethodName;   // MethodName(Method, Flags) of the archive type, unless the reader
                            // named it (zip: "AES-256 DeflateN")
  uint32_t Attributes = 0;  // the format's attribute word (zip central mode: external attributes)
  bool IsDirectory = false;
  bool Encrypted = false;
  std::string VolumeName;  // the file the entry was read from
  std::string Comment;     // the entry's comment, when the format records one (at most 32767)
  // Why extraction will refuse this entry whatever is asked (empty when it will not): a zip
  // member overlapping another, a name that is empty, holds a zero byte or names nothing.
  std::string Refused;
};

class TArcova;
class TArcovaWalk;

// The do-nothing handlers installed for the six events that a list fill does not want to fire.
class TArcova_EventHandlers {
 public:
  void DoActivate(TObject*) {}
  void DoDeactivate(TObject*) {}
  void DoReadBegin(TObject*) {}
  void DoRead(TObject*, int64_t, int) {}
  void DoReadEnd(TObject*) {}
  void DoTotals(TObject*, int64_t, int64_t, uint8_t, int) {}
};

class TArcova : public TZipCommon {
 public:
  // The walk's own comment buffer: at most kCommentBufferSize - 1 bytes of a comment are kept,
  // followed by a zero byte. ZipCmntBufSize does not change it.
  static constexpr int32_t kCommentBufferSize = 32768;
  static constexpr int32_t kArjHeaderBufferSize = 2600;

  explicit TArcova(TComponent* owner = nullptr);
  ~TArcova() override;

  // ---- properties ------------------------------------------------------------------------------
  // ArchiveFile, ArcType, FileSpec, Password, RecurseDirs, ZipCmntBufSize and TranslateOemChar
  // come from the ancestors.
  bool ShowEmptyDirs() const { return FShowEmptyDirs; }
  void SetShowEmptyDirs(bool value) { FShowEmptyDirs = value; }
  TArcovaReadMode ReadMode() const { return FReadMode; }

  // ---- events ----------------------------------------------------------------------------------
  // OnActivate, OnDeactivate, OnError, OnElapsedTime, OnNextVolume, OnCorruptZipHeader and the
  // disk prompts come from TZipCommon.
  TNotifyEvent OnReadBegin;
  TReadEvent OnRead;  // required in event mode
  TNotifyEvent OnReadEnd;
  TReadFileEvent OnReadFile;  // every entry header read, before the mask test
  TTotalsEvent OnTotals;
  TNextDiskEvent OnInsertDisk;  // the drive of a disk-spanned set is not ready

  // ---- operations -------------------------------------------------------------------------------
  // Fills `list` (caller-owned) with the names of the matching entries; an unusable archive or a
  // failed walk leaves it empty. Nothing is raised; the caller's OnReadBegin, OnRead, OnReadEnd,
  // OnActivate, OnDeactivate and OnTotals stay silent meanwhile and are put back afterwards.
  void FillFileList(TStringList* list);
  void FillFileList(TStringList& list) { FillFileList(&list); }
  // The walk in the current read mode (event mode unless called from FillFileList): OnRead fires
  // once per reported entry. Never raises; false when the walk failed (missing archive, no OnRead
  // handler, an exception inside).
  bool Scan();

  // ---- what the walk counts: the walk in progress, else what the last walk left -----------------
  int NumFiles() const;
  int64_t PackSize() const;
  int64_t UnpackSize() const;
  // The entry being reported (complete in event mode while OnRead runs).
  const TArcovaEntry& Entry() const;
  const std::string& FileName() const { return Entry().FileName; }

  // ---- used by the format readers ---------------------------------------------------------------
  // An entry name from a stored name: OEM to ANSI when TranslateOemChar is on and `oemName` (a
  // name not flagged as UTF-8, nor written by a non-DOS host), then "/" to "\".
  virtual std::string EntryName(const std::string& storedName, bool oemName = true) const;
  TDiskSpannObj& SpanObj() { return *FSpanObj; }

 protected:
  // The guarded read of a list fill: false when the archive is unusable or the walk failed.
  bool GuardedRead();

 private:
  friend class TListFillGuard;

  bool Walk();  // the read loop; raises what RaiseError raises

  bool FShowEmptyDirs = false;
  TArcovaReadMode FReadMode = rmEvent;
  TStringList* FList = nullptr;  // the caller's list in list mode, not owned
  std::unique_ptr<TDiskSpannObj> FSpanObj;

  const TArcovaWalk* FWalk = nullptr;  // the walk in progress
  // what the last walk counted
  int32_t FNumFiles = 0;
  int64_t FPackSum = 0;
  int64_t FUnpackSum = 0;
  TArcovaEntry FEntry;
};
