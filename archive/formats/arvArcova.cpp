// The lister TArcova: construction, the list fill with its guarded read, the walk that drives a
// format's first-header and header steps, and the per-entry services the readers call (naming,
// matching, counting, reporting). The walk stream's read-ahead window is here too. What a header
// of a given format holds is the business of the readers in archive/formats/.
#include "archive/formats/arvArcova.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "archive/common/arvScopeExit.h"
#include "archive/formats/lister_format.h"
#include "archive/records/arvSpan.h"
#include "archive/records/arvZipDir.h"
#include "platform/host.h"

// ---- the walk stream ----------------------------------------------------------------------------
TWalkStream::TWalkStream(std::unique_ptr<TStream32>& slot)
    : FSlot(slot), FWindow(std::make_unique_for_overwrite<uint8_t[]>(kWindowSize)) {}

void TWalkStream::Invalidate() {
  FWindowStart = 0;
  FWindowLength = 0;
  FNextFill = kFirstFill;
}

void TWalkStream::Sync() {
  if (FSlot.get() != FAttached) {
    FAttached = FSlot.get();
    Invalidate();
  }
}

bool TWalkStream::Fill(int64_t position, int32_t count) {
  Sync();
  if (!FAttached || position < 0 || count <= 0) return false;
  const int64_t windowEnd = FWindowStart + FWindowLength;
  if (position >= FWindowStart && position + count <= windowEnd) return true;
  // Reading on from the window's end (a directory walk) doubles the next read; a jump elsewhere
  // (over a member's data) starts small again.
  const bool sequential = FWindowLength > 0 && position >= FWindowStart && position <= windowEnd;
  int32_t size = sequential ? std::min(kWindowSize, FNextFill * 2) : kFirstFill;
  size = std::max(size, std::min(count, kWindowSize));
  FNextFill = size;
  FWindowStart = position;
  FWindowLength = 0;
  if (FAttached->Seek64(position, host::kSeekBegin) != position) return false;
  int32_t total = 0;
  while (total < size) {
    const int32_t got = FAttached->Read(FWindow.get() + total, size - total);
    if (got <= 0) break;
    total += got;
  }
  FWindowLength = total;
  return total > 0;
}

const uint8_t* TWalkStream::Peek(int64_t position, int32_t count, int32_t& got) {
  got = 0;
  count = std::min(count, kWindowSize);
  if (!Fill(position, count)) return nullptr;
  const int64_t available = FWindowStart + FWindowLength - position;
  if (position < FWindowStart || available <= 0) return nullptr;
  got = static_cast<int32_t>(std::min<int64_t>(count, available));
  return FWindow.get() + (position - FWindowStart);
}

int32_t TWalkStream::ReadAt(int64_t position, void* buffer, int32_t count) {
  if (count <= 0 || position < 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int32_t total = 0;
  while (total < count) {
    int32_t got = 0;
    const uint8_t* bytes = Peek(position + total, count - total, got);
    if (!bytes || got <= 0) break;
    std::memcpy(out + total, bytes, static_cast<size_t>(got));
    total += got;
  }
  return total;
}

int64_t TWalkStream::GetSize() {
  Sync();
  return FAttached ? FAttached->GetSize() : 0;
}

int32_t TWalkStream::Read(void* buffer, int32_t count) {
  const int32_t got = ReadAt(FPosition, buffer, count);
  FPosition += got;
  return got;
}

int32_t TWalkStream::Write(const void*, int32_t) {
  return 0;
}  // the walk never writes

int32_t TWalkStream::Seek(int32_t offset, int origin) {
  return static_cast<int32_t>(Seek64(offset, origin));
}

int64_t TWalkStream::Seek64(int64_t offset, int origin) {
  int64_t target = offset;
  if (origin == host::kSeekCurrent) target = FPosition + offset;
  if (origin == host::kSeekEnd) target = GetSize() + offset;
  if (target < 0) return -1;
  FPosition = target;
  return FPosition;
}

// ---- one walk -----------------------------------------------------------------------------------
TArcovaWalk::TArcovaWalk(TArcova& owner, TStringList* list)
    : FOwner(owner),
      FList(list),
      FStream(FArchive),
      FComment(std::make_unique_for_overwrite<uint8_t[]>(TArcova::kCommentBufferSize)) {}

bool TArcovaWalk::OpenArchive(const std::string& fileName) {
  FArchive = TArcova::OpenArchiveStream(fileName);
  FArchiveSize = FArchive ? std::max<int64_t>(FArchive->GetSize(), 0) : 0;
  return FArchive != nullptr;
}

bool TArcovaWalk::NextVolume() {
  const bool ok = FOwner.NextVolume(FArchive, FVolumeName);
  RefreshArchiveSize();
  return ok && FArchive != nullptr;
}

bool TArcovaWalk::OpenLastZipDisk() {
  TArcova& arcova = FOwner;
  TDiskSpannObj& span = arcova.SpanObj();
  span.OnGetZipFirstDisk = arcova.OnGetZipFirstDisk;
  span.OnGetZipLastDisk = arcova.OnGetZipLastDisk;
  span.OnGetZipNextDisk = arcova.OnGetZipNextDisk;
  TDiskCallbacks callbacks = arcova.DiskCallbacks();
  if (arcova.OnInsertDisk) {
    callbacks.InsertDiskPrompt = [&arcova](TObject* sender, bool& cancel) {
      arcova.OnInsertDisk(sender, arcova.ArchiveFile(), cancel);
    };
  }
  span.PrepareSpan(&arcova, arcova.CancelFlag(), std::move(callbacks));
  const bool ok = span.ChangeDisk(FArchive);
  RefreshArchiveSize();
  return ok && FArchive != nullptr;
}

bool TArcovaWalk::AskCorruptZipHeader(THeaderTypeState state) {
  if (!FOwner.OnCorruptZipHeader) {
    ReportError(FOwner.ArchiveFile(), kErrEventNotAssigned, "OnCorruptZipHeader");
    return true;
  }
  bool cancel = true;
  TTimerPause pause(FOwner.Timer());
  FOwner.OnCorruptZipHeader(&FOwner, state, cancel);
  return !cancel;
}

bool TArcovaWalk::SelectsEveryName() const {
  return ZipSelectsEveryName(FOwner.FileSpec());
}

bool TArcovaWalk::ReadNextHeader() {
  if (FHeaderSize <= 0 || CurrentOffset < 0 || CurrentOffset + FHeaderSize >= FArchiveSize)
    return false;
  HeaderStart = CurrentOffset;
  const int32_t got = FStream.ReadAt(CurrentOffset, Header(), FHeaderSize);
  if (got <= 0) return false;
  CurrentOffset += got;
  return true;
}

void TArcovaWalk::RefreshArchiveSize() {
  FStream.Invalidate();
  FArchiveSize = FArchive ? FArchive->GetSize() : 0;
  if (FArchiveSize < 0) FArchiveSize = 0;
  ++FVolumeChanges;
}

void TArcovaWalk::SetHeaderSize(int32_t size) {
  FHeaderSize = std::max(size, 0);
  if (FHeader.size() < static_cast<size_t>(FHeaderSize)) FHeader.resize(FHeaderSize);
}

int32_t TArcovaWalk::ReadComment(int64_t position, uint32_t length) {
  int64_t keep = std::min<int64_t>(length, TArcova::kCommentBufferSize - 1);
  keep = std::min<int64_t>(keep, FArchiveSize - 1 - position);  // never the archive's last byte
  int32_t got = 0;
  if (keep > 0) got = FStream.ReadAt(position, FComment.get(), static_cast<int32_t>(keep));
  FComment[static_cast<size_t>(got)] = 0;
  return got;
}

void TArcovaWalk::ClearEntry() {
  TArcovaEntry& e = FEntry;
  e.PackedSize = e.UnpackedSize = 0;
  e.Ratio = 0;
  e.DosDateTime = 0;
  e.ExactTime = TExactTime{};
  e.Date = 0;
  e.Crc32 = e.Method = e.Flags = e.Attributes = 0;
  e.MethodName.clear();
  e.IsDirectory = e.Encrypted = false;
  e.Comment.clear();
  e.Refused.clear();
}

void TArcovaWalk::FireReadFile() {
  if (FOwner.OnReadFile) FOwner.OnReadFile(&FOwner, FEntry.FileName);
}

bool TArcovaWalk::SimpleMatch(const std::string& name) const {
  if (name.empty()) return false;
  const bool nameHasDot = name.find('.') != std::string::npos;
  for (const std::string& line : FOwner.FileSpec()) {
    const bool lineHasDot = line.find('.') != std::string::npos;
    if (lineHasDot && !nameHasDot) {
      if (MaskMatches(name + '.', line)) return true;
    } else if (MaskMatches(name, line)) {
      return true;
    }
  }
  return false;
}

void TArcovaWalk::AddSizes(int64_t unpacked, int64_t packed) {
  FUnpackSum = SaturatingAdd(FUnpackSum, unpacked);
  FPackSum = SaturatingAdd(FPackSum, packed);
}

void TArcovaWalk::SubtractSizes(int64_t unpacked, int64_t packed) {
  FUnpackSum = SaturatingAdd(FUnpackSum, unpacked == INT64_MIN ? INT64_MAX : -unpacked);
  FPackSum = SaturatingAdd(FPackSum, packed == INT64_MIN ? INT64_MAX : -packed);
}

void TArcovaWalk::ReportSelected(int64_t offset, bool isDirectory, int64_t unpacked,
                                 int64_t packed) {
  if (isDirectory) {
    if (ShowEmptyDirs()) ReportEntry(offset);
    return;
  }
  CountEntry();
  AddSizes(unpacked, packed);
  ReportEntry(offset);
}

void TArcovaWalk::ReportEntry(int64_t offset) {
  host::ProcessMessages();  // the GUI stays alive between entries
  if (FOwner.Cancel()) return;
  if (FOwner.ReadMode() == rmList) {
    if (FList) FList->Add(FEntry.FileName);
    return;
  }
  if (!FOwner.OnRead) return;
  TArcovaEntry& e = FEntry;
  e.Ratio = static_cast<uint8_t>(PercentSaved(e.UnpackedSize, e.PackedSize));
  e.Date = e.ExactTime.Valid ? UnixTimeToLocal(e.ExactTime.Seconds, e.ExactTime.Nanoseconds)
                             : FOwner.DosDateToDateTime(e.DosDateTime);
  // A reader may have named the method itself (a zip member's AES field names the real one).
  if (e.MethodName.empty()) e.MethodName = FOwner.MethodName(e.Method, e.Flags, e.IsDirectory);
  e.VolumeName = FVolumeName;
  if (FOwner.OnReadBegin) FOwner.OnReadBegin(&FOwner);
  FOwner.OnRead(&FOwner, offset, FNumFiles);
  if (FOwner.OnReadEnd) FOwner.OnReadEnd(&FOwner);
}

// ---- the list fill's guard ----------------------------------------------------------------------
// Swaps the caller's six handlers (and the start offset) for the do-nothing ones and puts them back
// on every way out.
class TListFillGuard {
 public:
  explicit TListFillGuard(TArcova& arcova)
      : FArcova(arcova),
        FHandlers(std::make_unique<TArcova_EventHandlers>()),
        FReadBegin(std::move(arcova.OnReadBegin)),
        FRead(std::move(arcova.OnRead)),
        FReadEnd(std::move(arcova.OnReadEnd)),
        FActivate(std::move(arcova.OnActivate)),
        FDeactivate(std::move(arcova.OnDeactivate)),
        FTotals(std::move(arcova.OnTotals)),
        FStartOffset(arcova.FDetected.StartOffset) {
    TArcova_EventHandlers* h = FHandlers.get();
    arcova.OnReadBegin = [h](TObject* s) { h->DoReadBegin(s); };
    arcova.OnRead = [h](TObject* s, int64_t offset, int n) { h->DoRead(s, offset, n); };
    arcova.OnReadEnd = [h](TObject* s) { h->DoReadEnd(s); };
    arcova.OnActivate = [h](TObject* s) { h->DoActivate(s); };
    arcova.OnDeactivate = [h](TObject* s) { h->DoDeactivate(s); };
    arcova.OnTotals = [h](TObject* s, int64_t u, int64_t p, uint8_t r, int n) {
      h->DoTotals(s, u, p, r, n);
    };
  }
  ~TListFillGuard() {
    FArcova.OnReadBegin = std::move(FReadBegin);
    FArcova.OnRead = std::move(FRead);
    FArcova.OnReadEnd = std::move(FReadEnd);
    FArcova.OnActivate = std::move(FActivate);
    FArcova.OnDeactivate = std::move(FDeactivate);
    FArcova.OnTotals = std::move(FTotals);
    FArcova.FDetected.StartOffset = FStartOffset;
  }
  TListFillGuard(const TListFillGuard&) = delete;
  TListFillGuard& operator=(const TListFillGuard&) = delete;

 private:
  TArcova& FArcova;
  std::unique_ptr<TArcova_EventHandlers> FHandlers;
  TNotifyEvent FReadBegin;
  TReadEvent FRead;
  TNotifyEvent FReadEnd;
  TNotifyEvent FActivate;
  TNotifyEvent FDeactivate;
  TTotalsEvent FTotals;
  int64_t FStartOffset;
};

// ---- TArcova ------------------------------------------------------------------------------------
TArcova::TArcova(TComponent* owner) : TZipCommon(owner) {
  FReadMode = rmEvent;
  SetZipCmntBufSize(32000);
  FShowEmptyDirs = false;
  FSpanObj = std::make_unique<TDiskSpannObj>();
  SetRecurseDirs(true);
}

TArcova::~TArcova() {
  FSpanObj.reset();
}

std::string TArcova::EntryName(const std::string& storedName, bool oemName) const {
  return ConvertStoredName(storedName, oemName && TranslateOemChar());
}

int TArcova::NumFiles() const {
  return FWalk ? FWalk->NumFiles() : FNumFiles;
}

int64_t TArcova::PackSize() const {
  return FWalk ? FWalk->PackSum() : FPackSum;
}

int64_t TArcova::UnpackSize() const {
  return FWalk ? FWalk->UnpackSum() : FUnpackSum;
}

const TArcovaEntry& TArcova::Entry() const {
  return FWalk ? FWalk->Entry() : FEntry;
}

void TArcova::FillFileList(TStringList* list) {
  if (!list) return;
  // The read mode and the list go back to what they were on every way out.
  const TScopeExit restoreMode([this, mode = FReadMode, oldList = FList] {
    FReadMode = mode;
    FList = oldList;
  });
  FReadMode = rmList;
  FList = list;
  bool ok = false;
  try {
    ok = GuardedRead();
  } catch (const std::bad_alloc&) {
    ok = false;  // no memory for the guard's handlers (the walk itself catches inside): no list
  }
  if (!ok) list->Clear();
}

bool TArcova::GuardedRead() {
  if (FArchiveFile.empty() || IsNotFoundType(FArcType)) return false;
  TListFillGuard guard(*this);
  return Scan();
}

bool TArcova::Scan() {
  try {
    return Walk();
  } catch (...) {
    // A failing read, or whatever the caller's OnReadFile and OnRead handlers throw; the walk's
    // own resources are freed by their owners on the way out.
    return false;
  }
}

bool TArcova::Walk() {
  // 1. A fresh walk.
  FCancel = 0;
  FNumFiles = 0;
  FPackSum = FUnpackSum = 0;
  FEntry = TArcovaEntry{};
  TArcovaWalk walk(*this, FReadMode == rmList ? FList : nullptr);
  walk.VolumeName() = FArchiveFile;
  // What the walk counted stays readable after it, however it ends.
  FWalk = &walk;
  const TScopeExit keepResults([this, &walk] {
    FWalk = nullptr;
    FNumFiles = walk.NumFiles();
    FPackSum = walk.PackSum();
    FUnpackSum = walk.UnpackSum();
    FEntry = walk.Entry();
  });

  // 2. Something to read, and somewhere to report it.
  if (FArchiveFile.empty() || !host::FileExists(FArchiveFile))
    RaiseError(FArchiveFile, "", "0", kErrFileNotFound);
  if (!OnRead) RaiseError(FArchiveFile, "OnRead", "0", kErrEventNotAssigned);

  // 4. Prepare per type. A zip that starts at offset 0 has no directory found by detection: it
  // may be a disk of a set spanned over removable disks. A drive that cannot be examined says
  // nothing about that, so the walk then reads the file as it is.
  if (FArcType == atZip && FDetected.StartOffset == 0 && CheckZipSpan() == atZipDS)
    FArcType = atZipDS;
  std::unique_ptr<TListerFormat> format = CreateListerFormat(FArcType);

  // 6. Open the archive.
  if (!walk.OpenArchive(FArchiveFile)) {
    ReportError(FArchiveFile, "", "0", kErrOpeningFile);
    return true;
  }

  // 7.
  if (OnActivate) OnActivate(this);
  FTimer.Start();

  // 8. The format positions the walk and chooses its header.
  walk.StartOffset = FDetected.StartOffset;
  walk.HeaderState = FDetected.Zip.HeaderState;
  if (format) format->FirstHeader(walk);
  walk.CurrentOffset = walk.StartOffset;

  // 9. One header at a time; each step must move the walk on (or change volume).
  while (format && !Cancel() && walk.StreamOpen() && walk.ReadNextHeader()) {
    const uint32_t volumeChanges = walk.VolumeChanges();
    format->Header(walk);
    if (walk.CurrentOffset <= walk.HeaderStart && walk.VolumeChanges() == volumeChanges) break;
  }
  if (format && !Cancel() && walk.StreamOpen()) format->AfterLastHeader(walk);

  // 10 - 12.
  FTimer.Stop();
  walk.CloseArchive();
  if (OnTotals)
    OnTotals(this, walk.UnpackSum(), walk.PackSum(),
             static_cast<uint8_t>(PercentSaved(walk.UnpackSum(), walk.PackSum())), walk.NumFiles());
  if (OnDeactivate) OnDeactivate(this);
  if (OnElapsedTime) OnElapsedTime(this, FTimer.ElapsedTime());
  return true;
}
