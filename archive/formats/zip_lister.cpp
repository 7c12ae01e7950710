// The lister's reader for the zip family (zip, self-extracting zip, jar, disk-spanned and split
// sets): the first-header step that chooses between the central directory and the local headers,
// and the header steps of both walks. Record layouts, signatures, names, extra fields and where a
// local member ends are the zip records' helpers, shared so that listing and
// extraction agree; member data is never decoded here except to find the end of a member whose
// sizes follow its data.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/formats/lister_format.h"
#include "archive/records/arvZipRecs.h"

namespace {

constexpr int32_t kCentralHeaderSize = 46;
constexpr int32_t kLocalHeaderSize = 30;
static_assert(kCentralHeaderSize == TCentralFileHeader::kSize);
static_assert(kLocalHeaderSize == TLocalFileHeader::kSize);
constexpr int32_t kSpanMarkerSize = 4;
constexpr uint32_t kDirectoryAttribute = 0x10;  // external attributes: a directory entry

// A WinZip AES member is named by its key size and the method its field names inside:
// "AES-256 DeflateN".
void NameAesMethod(TArcova& arcova, TArcovaEntry& entry, const TZipExtra& extra) {
  if (entry.Method != kMethodAes || !extra.HasAes) return;
  const std::string inner = extra.AesMethod == kMethodAes
                                ? std::string("AES")
                                : arcova.MethodName(extra.AesMethod, entry.Flags, false);
  const bool known = extra.AesStrength >= 1 && extra.AesStrength <= 3;
  entry.MethodName = (known ? "AES-" + std::to_string(64 + 64 * extra.AesStrength) : "AES") +
                     " " + inner;
}

class TZipLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override;
  void Header(TArcovaWalk& walk) override {
    if (FLocalMode) {
      LocalHeader(walk);
    } else {
      CentralHeader(walk);
    }
  }
  void AfterLastHeader(TArcovaWalk& walk) override;

 private:
  // Brings up the last disk of a disk-spanned set; false when it cannot be had.
  bool OpenLastDisk(TArcovaWalk& walk);
  void CentralHeader(TArcovaWalk& walk);
  void LocalHeader(TArcovaWalk& walk);
  // The local header in walk.Header() at walk.HeaderStart: names, reports and selects its member
  // (by the simple match in a local walk, by the directory's rule when recovering members that a
  // short directory lost; members the directory listed are passed over then). Returns where the
  // next member starts, or -1 when this one's end cannot be found (reported; the walk must stop).
  int64_t LocalMember(TArcovaWalk& walk, bool recovering);
  // Walks the local headers for the members that a directory shorter than its end record
  // announces has lost, as the extractor does, so that the list holds what extraction extracts.
  void RecoverLocalMembers(TArcovaWalk& walk);
  // What stands where a header should is none: the walk ends there, with 25114 when it had not
  // found a single entry header.
  void EndAtNonHeader(TArcovaWalk& walk);
  std::string ReadName(TArcovaWalk& walk, int64_t position, uint16_t length, bool enciphered);
  TZipExtra ReadExtra(TArcovaWalk& walk, int64_t position, uint16_t length, bool central,
                      TZip64Wanted wanted);
  // Names the entry by a Unicode Path subfield made for its stored name, when there is one.
  void TakeUnicodeName(TArcovaWalk& walk, const TZipExtra& extra, int64_t namePosition,
                       uint16_t nameLength, bool enciphered);

  // Where the local header of a central entry is.
  static int64_t LocalPosition(TArcovaWalk& walk, const TCentralFileHeader& central,
                               const TZipExtra& extra);
  // Whether the local header that a central entry points to is there; reports 25114 if not.
  // `localTime`, when given, receives the exact time of the local header's extra field.
  bool LocalHeaderPresent(TArcovaWalk& walk, const TCentralFileHeader& central,
                          const TZipExtra& extra, TExactTime* localTime);

  bool FLocalMode = false;
  bool FDirectoryWalk = false;  // the walk reads the central directory
  bool FSpanned = false;        // a disk-spanned or split set: local headers lie on other volumes
  int32_t FHeadersSeen = 0;     // entry headers recognised so far
  // Where the selected directory entries' local headers are (sorted before a recovery walk).
  std::vector<int64_t> FListedOffsets;
  std::unique_ptr<TWalkStream> FProbe;
};

// ---- first header -------------------------------------------------------------------------------
bool TZipLister::OpenLastDisk(TArcovaWalk& walk) {
  TArcova& arcova = walk.Owner();
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
  const bool ok = span.ChangeDisk(walk.ArchiveSlot());
  walk.RefreshArchiveSize();
  if (!ok || !walk.StreamOpen()) return false;
  // The last disk was detected afresh: its directory is where the walk starts.
  walk.VolumeName() = arcova.ArchiveFile();
  walk.StartOffset = arcova.StartOffset();
  walk.HeaderState = arcova.HeaderState();
  return true;
}

void TZipLister::FirstHeader(TArcovaWalk& walk) {
  TArcova& arcova = walk.Owner();
  const TArcType type = walk.ArcType();
  FSpanned = IsSpannedZip(type);  // bringing in the last disk may detect it as a plain zip
  if (type == atZipDS) {
    if (!OpenLastDisk(walk)) {
      walk.ReadNothing();
      return;
    }
  } else if (type != atZipMV) {
    // An empty archive: an end record that announces no entry, and nothing else to read.
    if (walk.HeaderState == kHeaderEnd && arcova.ZipLocation().AnnouncedEntries() == 0) {
      walk.ReadNothing();
      return;
    }
    const bool directoryFound =
        (walk.HeaderState & kHeaderCentral) != 0 && (walk.HeaderState & kHeaderEnd) != 0;
    if (!directoryFound) {
      if (arcova.OnCorruptZipHeader) {
        bool cancel = true;
        {
          TTimerPause pause(arcova.Timer());
          arcova.OnCorruptZipHeader(&arcova, walk.HeaderState, cancel);
        }
        if (cancel) {
          walk.ReadNothing();
          return;
        }
      } else {
        walk.ReportError(arcova.ArchiveFile(), kErrEventNotAssigned, "OnCorruptZipHeader");
      }
    }
  }

  if ((walk.HeaderState & kHeaderCentral) == 0) walk.HeaderState = kHeaderLocal;
  FLocalMode = IsLocalHeaderMode(walk.HeaderState);
  FDirectoryWalk = !FLocalMode;
  const int32_t size = FLocalMode ? kLocalHeaderSize : kCentralHeaderSize;
  walk.SetHeaderSize(size);
  if (walk.Stream().ReadAt(walk.StartOffset, walk.Header(), size) < size) {
    walk.ReadNothing();
    return;
  }
  // The first file of a spanned or split set starts with the spanning marker.
  if (FLocalMode && GetLe32(walk.Header()) == kSpanMarkerSig) walk.StartOffset += kSpanMarkerSize;
}

// ---- shared pieces ------------------------------------------------------------------------------
void TZipLister::EndAtNonHeader(TArcovaWalk& walk) {
  if (FHeadersSeen == 0) walk.ReportError(walk.Owner().ArchiveFile(), kErrBadFileHeader);
  walk.EndWalk();
}

void TZipLister::AfterLastHeader(TArcovaWalk& walk) {
  // A directory that ends before the number of entries its end record announces is damaged. Sets
  // on several volumes keep their directory elsewhere; an extended end record holds no count.
  if (!FDirectoryWalk || FSpanned) return;
  TArcova& arcova = walk.Owner();
  const int64_t announced = arcova.ZipLocation().AnnouncedEntries();
  if (announced < 0 || FHeadersSeen >= announced) return;
  walk.ReportError(arcova.ArchiveFile(), kErrReadingFileList,
                   "the central directory holds " + std::to_string(FHeadersSeen) + " of " +
                       std::to_string(announced) +
                       " entries; the others are looked for through their local headers");
  RecoverLocalMembers(walk);
}

void TZipLister::RecoverLocalMembers(TArcovaWalk& walk) {
  TArcova& arcova = walk.Owner();
  std::sort(FListedOffsets.begin(), FListedOffsets.end());
  FLocalMode = true;
  walk.SetHeaderSize(kLocalHeaderSize);
  uint8_t* header = walk.Header();
  TWalkStream& stream = walk.Stream();
  // From the archive's start; a stub in front whose offsets the directory records absolutely is
  // stepped over by starting at the first listed member.
  int64_t position = std::max<int64_t>(arcova.OffsetAdjustment(), 0);
  int32_t got = stream.ReadAt(position, header, kLocalHeaderSize);
  if (!FListedOffsets.empty() && (got < 4 || !IsLocalSignature(GetLe32(header)))) {
    position = FListedOffsets.front();
    got = stream.ReadAt(position, header, kLocalHeaderSize);
  }
  if (got >= kSpanMarkerSize && GetLe32(header) == kSpanMarkerSig) {
    position += kSpanMarkerSize;
    got = stream.ReadAt(position, header, kLocalHeaderSize);
  }
  while (got == kLocalHeaderSize && !arcova.Cancel() &&
         ClassifyZipSignature(GetLe32(header), TZipRecordKind::Local)) {
    walk.HeaderStart = position;
    const int64_t next = LocalMember(walk, true);
    if (next <= position) break;  // never walk backwards
    position = next;
    got = stream.ReadAt(position, header, kLocalHeaderSize);
  }
  walk.EndWalk();
}

std::string TZipLister::ReadName(TArcovaWalk& walk, int64_t position, uint16_t length,
                                 bool enciphered) {
  TWalkStream& stream = walk.Stream();
  stream.Seek64(position, host::kSeekBegin);
  // An enciphered name continues the key state of its header.
  return ReadZipName(stream, length, enciphered ? &walk.Owner().HeaderCipher() : nullptr);
}

TZipExtra TZipLister::ReadExtra(TArcovaWalk& walk, int64_t position, uint16_t length, bool central,
                                TZip64Wanted wanted) {
  if (length == 0) return {};
  int32_t got = 0;
  const uint8_t* bytes = walk.Stream().Peek(position, length, got);
  return bytes ? ParseZipExtraFields(bytes, static_cast<size_t>(got), central, wanted)
               : TZipExtra{};
}

void TZipLister::TakeUnicodeName(TArcovaWalk& walk, const TZipExtra& extra, int64_t namePosition,
                                 uint16_t nameLength, bool enciphered) {
  // The subfield's CRC covers the whole stored name (headers the engine enciphers carry none).
  if (!extra.HasUnicodePath || enciphered) return;
  int32_t got = 0;
  const uint8_t* stored = walk.Stream().Peek(namePosition, nameLength, got);
  if (!stored || got != nameLength) return;
  const std::string name = extra.UnicodeNameFor(stored, nameLength);
  if (!name.empty()) walk.SetFileName(name, false);
}

// ---- central directory --------------------------------------------------------------------------
void TZipLister::CentralHeader(TArcovaWalk& walk) {
  TArcova& arcova = walk.Owner();
  uint8_t* header = walk.Header();
  const TZipSignature signature = ClassifyZipSignature(GetLe32(header), TZipRecordKind::Central);
  if (!signature) {  // normally the end record behind the last entry
    EndAtNonHeader(walk);
    return;
  }
  if (signature.Enciphered) arcova.DecipherZipHeader(header, TZipRecordKind::Central);
  const TCentralFileHeader central = TCentralFileHeader::Decode(header);
  ++FHeadersSeen;

  // Name, extra field and comment follow the fixed part; the next header follows them all, by
  // their recorded lengths.
  const int64_t namePosition = walk.HeaderStart + kCentralHeaderSize;
  const int64_t extraPosition = namePosition + central.NameLength;
  const int64_t commentPosition = extraPosition + central.ExtraLength;
  const int64_t next = commentPosition + central.CommentLength;

  const std::string stored = ReadName(walk, namePosition, central.NameLength, signature.Enciphered);
  const bool isDirectory = (central.ExternalAttributes & kDirectoryAttribute) != 0;
  // Directory names are converted like file names, so a directory listed here is named as the
  // extractor names it.
  walk.SetFileName(stored, ZipNameIsOem(central.Flags, central.VersionMadeBy));
  const TZipExtra extra =
      ReadExtra(walk, extraPosition, central.ExtraLength, true, Zip64Wanted(central));
  TakeUnicodeName(walk, extra, namePosition, central.NameLength, signature.Enciphered);

  walk.ClearEntry();
  TArcovaEntry& entry = walk.Entry();
  entry.PackedSize = extra.PackedSize(central.PackedSize);
  entry.UnpackedSize = extra.UnpackedSize(central.UnpackedSize);
  entry.DosDateTime = central.DosDateTime;
  entry.Crc32 = central.Crc32;
  entry.Method = central.Method;
  entry.Flags = central.Flags;
  entry.Attributes = central.ExternalAttributes;
  entry.IsDirectory = isDirectory;
  entry.Encrypted = (central.Flags & kFlagEncrypted) != 0;
  NameAesMethod(arcova, entry, extra);

  walk.FireReadFile();

  if (central.CommentLength != 0) {
    const int32_t kept = walk.ReadComment(commentPosition, central.CommentLength);
    entry.Comment.assign(reinterpret_cast<const char*>(walk.CommentBuffer()),
                         static_cast<size_t>(kept));
  }

  // An exact time is extraction's: the local header's, else the directory's (only an entry's
  // details want it, so a list fill does not look).
  if (extra.HasModTime) entry.ExactTime = {true, extra.ModTime, extra.ModTimeNanos};
  TExactTime localTime;
  const bool wantTime = arcova.ReadMode() == rmEvent;
  // A selected entry whose local header is not where the directory says cannot be extracted: it
  // is reported under its own name and left out, as the extractor leaves it out. (A spanned set's
  // local headers lie on other disks; there the directory is taken on trust.)
  if (walk.MatchesFileSpec(walk.FileName()) &&
      (FSpanned || LocalHeaderPresent(walk, central, extra, wantTime ? &localTime : nullptr))) {
    if (localTime.Valid) entry.ExactTime = localTime;
    if (!FSpanned) FListedOffsets.push_back(LocalPosition(walk, central, extra));
    if (isDirectory) {
      if (walk.ShowEmptyDirs()) {
        walk.CountEntry();
        walk.ReportEntry(walk.HeaderStart);
      }
    } else {
      walk.CountEntry();
      walk.AddSizes(entry.UnpackedSize, entry.PackedSize);
      walk.ReportEntry(walk.HeaderStart);
    }
  }
  walk.CurrentOffset = next;
}

int64_t TZipLister::LocalPosition(TArcovaWalk& walk, const TCentralFileHeader& central,
                                  const TZipExtra& extra) {
  TArcova& arcova = walk.Owner();
  return extra.LocalOffset(central.LocalHeaderOffset, arcova.ExtendedEndRecord()) +
         arcova.OffsetAdjustment();
}

bool TZipLister::LocalHeaderPresent(TArcovaWalk& walk, const TCentralFileHeader& central,
                                    const TZipExtra& extra, TExactTime* localTime) {
  const int64_t position = LocalPosition(walk, central, extra);
  // Local headers are probed through a window of their own, so the directory's stays put.
  if (!FProbe) FProbe = std::make_unique<TWalkStream>(walk.ArchiveSlot());
  uint8_t probe[kLocalHeaderSize];
  const TZipSignature signature =
      FProbe->ReadAt(position, probe, kLocalHeaderSize) == kLocalHeaderSize
          ? ClassifyZipSignature(GetLe32(probe), TZipRecordKind::Local)
          : TZipSignature{};
  if (!signature) {
    walk.ReportError(walk.FileName(), kErrBadFileHeader);
    return false;
  }
  if (localTime) {
    if (signature.Enciphered) walk.Owner().DecipherZipHeader(probe, TZipRecordKind::Local);
    const TLocalFileHeader local = TLocalFileHeader::Decode(probe);
    int32_t got = 0;
    const uint8_t* bytes =
        local.ExtraLength == 0
            ? nullptr
            : FProbe->Peek(position + kLocalHeaderSize + local.NameLength, local.ExtraLength, got);
    if (bytes) {
      const TZipExtra localExtra =
          ParseZipExtraFields(bytes, static_cast<size_t>(got), false, Zip64Wanted(local));
      if (localExtra.HasModTime) *localTime = {true, localExtra.ModTime, localExtra.ModTimeNanos};
    }
  }
  return true;
}

// ---- local headers ------------------------------------------------------------------------------
void TZipLister::LocalHeader(TArcovaWalk& walk) {
  if (!ClassifyZipSignature(GetLe32(walk.Header()), TZipRecordKind::Local)) {
    EndAtNonHeader(walk);  // normally the first central header, or data that is no header
    return;
  }
  ++FHeadersSeen;
  const int64_t next = LocalMember(walk, false);
  if (next < 0) {
    walk.EndWalk();
  } else {
    walk.CurrentOffset = next;
  }
}

int64_t TZipLister::LocalMember(TArcovaWalk& walk, bool recovering) {
  TArcova& arcova = walk.Owner();
  // A member the directory listed has been reported with it; only where it ends is wanted.
  const bool listed = recovering && std::binary_search(FListedOffsets.begin(), FListedOffsets.end(),
                                                       walk.HeaderStart);
  uint8_t* header = walk.Header();
  const TZipSignature signature = ClassifyZipSignature(GetLe32(header), TZipRecordKind::Local);
  if (signature.Enciphered) arcova.DecipherZipHeader(header, TZipRecordKind::Local);
  const TLocalFileHeader local = TLocalFileHeader::Decode(header);

  const int64_t namePosition = walk.HeaderStart + kLocalHeaderSize;
  const int64_t extraPosition = namePosition + local.NameLength;
  const int64_t dataStart = extraPosition + local.ExtraLength;

  const std::string stored = ReadName(walk, namePosition, local.NameLength, signature.Enciphered);
  // No directory test in a local walk: a directory entry is listed like a file.
  walk.SetFileName(stored, ZipNameIsOem(local.Flags, -1));
  const TZipExtra extra =
      ReadExtra(walk, extraPosition, local.ExtraLength, false, Zip64Wanted(local));
  TakeUnicodeName(walk, extra, namePosition, local.NameLength, signature.Enciphered);

  walk.ClearEntry();
  TArcovaEntry& entry = walk.Entry();
  entry.PackedSize = extra.PackedSize(local.PackedSize);
  entry.UnpackedSize = extra.UnpackedSize(local.UnpackedSize);
  entry.DosDateTime = local.DosDateTime;
  entry.Crc32 = local.Crc32;
  entry.Method = local.Method;
  entry.Flags = local.Flags;
  entry.Encrypted = (local.Flags & kFlagEncrypted) != 0;
  NameAesMethod(arcova, entry, extra);
  if (extra.HasModTime) entry.ExactTime = {true, extra.ModTime, extra.ModTimeNanos};

  // Where the member ends: behind its data, or behind the data descriptor that holds its sizes.
  // The extractor's walk finds it the same way, so both see the same members.
  TLocalMemberEnd end;
  const bool endFound = FindLocalMemberEnd(walk.Stream(), local, entry.PackedSize,
                                           entry.UnpackedSize, dataStart, end, arcova.CancelFlag());
  if (endFound && end.HasDescriptor) {
    entry.Crc32 = end.Descriptor.Crc32;
    entry.PackedSize = end.Descriptor.PackedSize;
    entry.UnpackedSize = end.Descriptor.UnpackedSize;
  }

  if (!listed) walk.FireReadFile();

  if (!endFound) {
    // Its data has no known end, so nothing behind it can be found safely.
    walk.ReportError(walk.FileName(), kErrBadFileHeader);
    return -1;
  }
  if (!recovering) {
    if (walk.SimpleMatch(walk.FileName())) {
      walk.CountEntry();
      walk.AddSizes(entry.UnpackedSize, entry.PackedSize);
      walk.ReportEntry(walk.HeaderStart);
    }
  } else if (!listed && !walk.FileName().empty() && walk.MatchesFileSpec(walk.FileName())) {
    // Selected as the directory's entries are, and named a directory by its closing separator
    // (a local header has no attributes), so a recovered folder is shown as a listed one is.
    entry.IsDirectory = walk.FileName().back() == '\\';
    if (!entry.IsDirectory) {
      walk.CountEntry();
      walk.AddSizes(entry.UnpackedSize, entry.PackedSize);
      walk.ReportEntry(walk.HeaderStart);
    } else if (walk.ShowEmptyDirs()) {
      walk.CountEntry();
      walk.ReportEntry(walk.HeaderStart);
    }
  }
  return end.Next;
}

}  // namespace

std::unique_ptr<TListerFormat> CreateZipLister() {
  return std::make_unique<TZipLister>();
}
