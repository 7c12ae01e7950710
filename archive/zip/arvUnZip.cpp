// The zip extractor's pass: the two directory walks, the member loops, the per-member header
// reading, the method dispatch with the inflate loop, and volume continuation. It writes through
// the driver's WriteBlock and never decides on its own what is extracted or where.
#include "archive/zip/arvUnZip.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <vector>

#include "archive/codecs/arvInflate.h"
#include "archive/codecs/arvLegacy.h"
#include "archive/codecs/arvPpmd.h"
#include "archive/common/arvScopeExit.h"

namespace {

constexpr int kRawDeflateWindowBits = -15;  // raw deflate data: no zlib header or trailer

// The system name of a member: a matching Unicode Path's UTF-8 name as it is, else the stored
// name converted.
std::string MemberName(const std::string& unicodeName, const std::string& rawName,
                       bool translateOem, uint16_t flags, int versionMadeBy) {
  if (!unicodeName.empty()) return ConvertStoredName(unicodeName, false);
  return ConvertZipName(rawName, translateOem, flags, versionMadeBy);
}

constexpr uint32_t kUnixHost = 3;
constexpr uint32_t kUnixModeMarker = 0x8000;  // low attribute word: the high word is a Unix mode
constexpr uint32_t kUnixFileType = 0170000;
constexpr uint32_t kUnixSymlink = 0120000;

}  // namespace

// ---- symbolic links -----------------------------------------------------------------------------
bool IsZipSymlink(const TCentralFileHeader& central) {
  const bool unixMode = (central.VersionMadeBy >> 8) == kUnixHost ||
                        (central.ExternalAttributes & kUnixModeMarker) != 0;
  return unixMode && ((central.ExternalAttributes >> 16) & kUnixFileType) == kUnixSymlink;
}

bool SymlinkStaysInside(const std::string& linkName, const std::string& target) {
  if (target.empty() || target[0] == '/' || target.find('\0') != std::string::npos) return false;
  // The link's folder, as a depth below the destination.
  int depth = 0;
  size_t start = 0;
  for (size_t end; (end = linkName.find('\\', start)) != std::string::npos; start = end + 1) {
    if (end > start) ++depth;
  }
  bool named = false;  // a name has been passed: no ".." may follow
  start = 0;
  while (start <= target.size()) {
    size_t end = target.find('/', start);
    if (end == std::string::npos) end = target.size();
    const std::string part = target.substr(start, end - start);
    if (part == "..") {
      if (named || --depth < 0) return false;
    } else if (!part.empty() && part != ".") {
      named = true;
    }
    start = end + 1;
  }
  return true;
}

// ---- TUnZip -------------------------------------------------------------------------------------
TUnZip::TUnZip(TComponent* owner) : TUnBase(owner) {}

TUnZip::~TUnZip() = default;

bool TUnZip::CheckPassword(uint8_t header[24]) {
  return TestZipPassword(FCipher, FPassword, header, FLocal.Flags, FLocal.Time(), FLocal.Crc32);
}

void TUnZip::ExtractArchive(std::unique_ptr<TStream32>& archive) {
  FList = nullptr;
  FCurrentEntry = -1;
  FDirectoryDamaged = false;
  FDirectoryMissing = false;
  FSelectedCount = 0;
  if (!archive) return;  // a type whose decoder would open the archive itself: no zip to read
  // Bringing in the last disk detects the type again; the pass stays a spanned one.
  FDiskSpanned = FArcType == atZipDS;
  if (FDiskSpanned) {
    FSpan.PrepareSpan(this, &FCancel, DiskCallbacks());
    FSpan.OnGetZipLastDisk = OnGetZipLastDisk;
    FSpan.OnGetZipFirstDisk = OnGetZipFirstDisk;
    FSpan.OnGetZipNextDisk = OnGetZipNextDisk;
    FSpan.CurrentMemberPosition = [this] { return FCurrentOffset; };
    if (!FSpan.ChangeDisk(archive) || !archive) return;
  }
  TUnBaseHeaderObj list;
  FList = &list;
  FLinksMade.clear();
  const TScopeExit forget([this] { FList = nullptr; });
  try {
    // Without a central directory where the end record leads (or without an end record) the
    // members are read from their local headers, whatever else detection found: walking local
    // headers as a directory would find none, and drop them all without a word. An end record
    // that announces no entry, with nothing else found, is an empty archive (not in a split set,
    // whose local headers the lister walks whatever its end record says).
    const bool empty =
        FArcType != atZipMV && HeaderState() == kHeaderEnd && ZipLocation().AnnouncedEntries() == 0;
    FLocalHeaderMode = (HeaderState() & kHeaderCentral) == 0 && !empty;
    if (FStartOffset < 0) return;  // no directory and no local header anywhere
    if (FLocalHeaderMode) {
      // Members found without their directory may not be all there were: said, not hidden.
      FDirectoryMissing = true;
      ReportError(FArchiveFile, "no central directory: members are read from their local headers",
                  "0", kErrReadingFileList);
      if (ScanLocalHeaders(*archive) > 0) ExtractLocalMembers(archive);
    } else {
      if (ReadCentralDirectory(*archive) > 0) ExtractCentralMembers(archive);
    }
  } catch (...) {
    // The members run the caller's event handlers, which may throw anything: the walk ends
    // here, and the run counts what was extracted.
  }
  FSelectedCount = list.Count();
  list.Clear();
}

int TUnZip::ReadCentralDirectory(TStream32& archive) {
  TTimerPause pause(FTimer);
  int64_t position = FStartOffset;
  uint8_t header[TCentralFileHeader::kSize];
  int64_t walked = 0;  // central headers read, selected or not
  try {
    // A central header is followed at least by the end record: one that reaches the archive's
    // end is no entry (the lister's walk takes none there either).
    const int64_t archiveSize = archive.GetSize();
    for (;;) {
      if (archiveSize > 0 && position + static_cast<int64_t>(sizeof header) >= archiveSize) break;
      std::memset(header, 0, sizeof header);
      if (archive.ReadAt(position, header, sizeof header) != static_cast<int32_t>(sizeof header))
        break;
      const TZipSignature sig = ClassifyZipSignature(GetLe32(header), TZipRecordKind::Central);
      if (!sig || FCancel) break;
      if (sig.Enciphered) DecipherZipHeader(header, TZipRecordKind::Central);
      const TCentralFileHeader central = TCentralFileHeader::Decode(header);
      ++walked;
      // The name and the extra field in one read.
      const uint32_t nameLength = central.NameLength;
      const uint32_t extraLength = central.ExtraLength;
      FVariable.resize(nameLength + extraLength);
      const int32_t got = FVariable.empty() ? 0
                                            : archive.Read(FVariable.data(),
                                                           static_cast<int32_t>(FVariable.size()));
      std::string rawName, unicodeName;
      TZipExtra extra;
      TakeNameAndExtra(FVariable.data(), got > 0 ? static_cast<uint32_t>(got) : 0, nameLength,
                       extraLength, sig.Enciphered, true, Zip64Wanted(central), rawName, extra,
                       unicodeName);
      const std::string name =
          MemberName(unicodeName, rawName, FTranslateOemChar, central.Flags, central.VersionMadeBy);
      if (MatchesFileSpec(name)) {
        const int64_t local =
            extra.LocalOffset(central.LocalHeaderOffset, ExtendedEndRecord()) + OffsetAdjustment();
        bool listed = true;
        if (!FDiskSpanned && FArcType != atZipMV) {
          uint8_t probe[TLocalFileHeader::kSize] = {};
          if (archive.ReadAt(local, probe, sizeof probe) != static_cast<int32_t>(sizeof probe) ||
              !IsLocalSignature(GetLe32(probe))) {
            ReportError(name, "", "0", kErrBadFileHeader);
            MemberFailed(false);
            listed = false;
          }
        }
        if (listed) {
          TUnBaseHeaderRec rec;
          rec.Attributes = central.ExternalAttributes;
          rec.VolumeNumber = static_cast<uint16_t>(
              std::min<uint32_t>(extra.DiskStart(central.DiskNumberStart), 0xFFFE) + 1);
          rec.LocalOffset = local;
          if (FList->Add(rec, header, nullptr, &name)) {
            TMemberSizes sizes;
            sizes.Flags = central.Flags;
            sizes.Method = central.Method;
            sizes.PackedSize = extra.PackedSize(central.PackedSize);
            sizes.UnpackedSize = extra.UnpackedSize(central.UnpackedSize);
            AddToTotals(sizes, central.DosDateTime);
            TZipEntryExtra kept;
            kept.HasPackedSize = extra.HasPacked64;
            kept.HasUnpackedSize = extra.HasUnpacked64;
            kept.PackedSize = sizes.PackedSize;
            kept.UnpackedSize = sizes.UnpackedSize;
            kept.HasModTime = extra.HasModTime;
            kept.ModTime = extra.ModTime;
            kept.ModTimeNanos = extra.ModTimeNanos;
            kept.UnicodeName = std::move(unicodeName);
            if (!kept.Empty()) FList->AttachExtra(kept);
          }
        }
      }
      position += static_cast<int64_t>(TCentralFileHeader::kSize) + nameLength + extraLength +
                  central.CommentLength;
    }
  } catch (const std::exception&) {
    // A read that fails, or no memory for the list: the directory ends at the last whole entry.
  }
  // A directory that ends before the number of entries its end record announces is damaged: said,
  // and the members it lost are looked for through their local headers. Sets on several volumes
  // keep their directory elsewhere; an extended end record holds no count; a count of 65,535 may
  // stand for a larger one kept in a zip64 record.
  const int64_t announced = ZipLocation().AnnouncedEntries();
  const bool countable = !FDiskSpanned && FArcType != atZipMV && !FCancel && announced >= 0;
  if (countable && walked < announced) {
    FDirectoryDamaged = true;
    ReportError(FArchiveFile,
                "the central directory holds " + std::to_string(walked) + " of " +
                    std::to_string(announced) +
                    " entries; the others are looked for through their local headers",
                "0", kErrReadingFileList);
    std::vector<int64_t> listed;
    listed.reserve(static_cast<size_t>(FList->Count()));
    for (int i = 0; i < FList->Count(); ++i) listed.push_back(FList->Header(i).LocalOffset);
    std::sort(listed.begin(), listed.end());
    CollectLocalMembers(archive, &listed);
  }
  return FList->Count();
}

int TUnZip::ScanLocalHeaders(TStream32& archive) {
  TTimerPause pause(FTimer);
  if (OnCorruptZipHeader) {
    bool cancel = true;
    OnCorruptZipHeader(this, HeaderState(), cancel);
    if (cancel) return 0;
  }
  CollectLocalMembers(archive, nullptr);
  return FList->Count();
}

bool TUnZip::CollectLocalMembers(TStream32& archive, const std::vector<int64_t>* listed) {
  // Without a directory the walk starts where detection found the first local header; a damaged
  // directory's members are looked for from the archive's start.
  int64_t position = listed ? std::max<int64_t>(OffsetAdjustment(), 0) : FStartOffset;
  uint8_t header[TLocalFileHeader::kSize];
  try {
    std::memset(header, 0, sizeof header);
    int32_t got = archive.ReadAt(position, header, sizeof header);
    if (listed && !listed->empty() && !IsLocalSignature(GetLe32(header))) {
      // A stub in front whose offsets the directory records absolutely: start at a listed member.
      position = listed->front();
      got = archive.ReadAt(position, header, sizeof header);
    }
    if (got >= 4 && GetLe32(header) == kSpanMarkerSig) {
      position += 4;
      got = archive.ReadAt(position, header, sizeof header);
    }
    while (got == static_cast<int32_t>(sizeof header) && !FCancel) {
      const TZipSignature sig = ClassifyZipSignature(GetLe32(header), TZipRecordKind::Local);
      if (!sig) break;
      std::string rawName;
      ReadLocalHeader(archive, position, rawName);
      const TLocalFileHeader local = FLocal;
      const std::string name =
          MemberName(FLocalUnicodeName, rawName, FTranslateOemChar, local.Flags, -1);
      TMemberSizes sizes;
      sizes.Flags = local.Flags;
      sizes.Method = local.Method;
      sizes.PackedSize = FLocalExtra.PackedSize(local.PackedSize);
      sizes.UnpackedSize = FLocalExtra.UnpackedSize(local.UnpackedSize);
      const int64_t dataStart = position + static_cast<int64_t>(TLocalFileHeader::kSize) +
                                local.NameLength + local.ExtraLength;
      TLocalMemberEnd end;
      if (!FindLocalMemberEnd(archive, local, sizes.PackedSize, sizes.UnpackedSize, dataStart, end,
                              &FCancel)) {
        // Where this member ends is unknown: what follows cannot be found safely.
        if (!FCancel) {
          ReportError(name, "", "0", kErrBadFileHeader);
          MemberFailed(false);
        }
        return false;
      }
      if (end.HasDescriptor) {
        sizes.PackedSize = end.Descriptor.PackedSize;
        sizes.UnpackedSize = end.Descriptor.UnpackedSize;
      }
      const bool known =
          listed != nullptr && std::binary_search(listed->begin(), listed->end(), position);
      if (!known && !name.empty() && MatchesFileSpec(name)) {
        TUnBaseHeaderRec rec;
        rec.Attributes = 0;
        rec.VolumeNumber = 1;
        rec.LocalOffset = position;
        if (FList->Add(rec, nullptr, end.HasDescriptor ? &end.Descriptor : nullptr))
          AddToTotals(sizes, local.DosDateTime);
      }
      if (end.Next <= position) break;  // never walk backwards
      position = end.Next;
      std::memset(header, 0, sizeof header);
      got = archive.ReadAt(position, header, sizeof header);
    }
  } catch (const std::exception&) {
    // A read that fails, or no memory for the list: the walk keeps the members found so far.
  }
  return true;
}

bool TUnZip::ReadLocalHeader(TStream32& archive, int64_t position, std::string& rawName) {
  uint8_t header[TLocalFileHeader::kSize] = {};
  const int32_t got = archive.ReadAt(position, header, sizeof header);
  const TZipSignature sig = ClassifyZipSignature(GetLe32(header), TZipRecordKind::Local);
  if (sig.Enciphered) DecipherZipHeader(header, TZipRecordKind::Local);
  FLocal = TLocalFileHeader::Decode(header);
  // The name and the extra field in one read, which leaves the archive at the member's data.
  const uint32_t length = uint32_t{FLocal.NameLength} + FLocal.ExtraLength;
  FVariable.resize(length);
  const int32_t have = length ? archive.Read(FVariable.data(), static_cast<int32_t>(length)) : 0;
  TakeNameAndExtra(FVariable.data(), have > 0 ? static_cast<uint32_t>(have) : 0, FLocal.NameLength,
                   FLocal.ExtraLength, sig.Enciphered, false, Zip64Wanted(FLocal), rawName,
                   FLocalExtra, FLocalUnicodeName);
  FHighWords = FLocalExtra.High;
  if (have != static_cast<int32_t>(length))
    archive.Seek64(position + static_cast<int64_t>(TLocalFileHeader::kSize) + length,
                   host::kSeekBegin);
  return got == static_cast<int32_t>(sizeof header);
}

void TUnZip::TakeNameAndExtra(uint8_t* bytes, uint32_t have, uint32_t nameLength,
                              uint32_t extraLength, bool enciphered, bool central,
                              TZip64Wanted wanted, std::string& rawName, TZipExtra& extra,
                              std::string& unicodeName) {
  uint32_t kept = std::min({nameLength, kMaxZipNameKept, have});
  if (enciphered) DecipherZipName(bytes, kept);
  extra = have > nameLength
              ? ParseZipExtraFields(bytes + nameLength, std::min(extraLength, have - nameLength),
                                    central, wanted)
              : TZipExtra{};
  // The Unicode Path's CRC covers the whole stored name (headers the engine enciphers carry none).
  unicodeName.clear();
  if (extra.HasUnicodePath && !enciphered && have >= nameLength)
    unicodeName = extra.UnicodeNameFor(bytes, nameLength);
  kept = static_cast<uint32_t>(std::find(bytes, bytes + kept, uint8_t{0}) - bytes);
  rawName.assign(reinterpret_cast<const char*>(bytes), kept);
}

void TUnZip::ExtractCentralMembers(std::unique_ptr<TStream32>& archive) {
  ExtractMembers(archive, true);
}

void TUnZip::ExtractLocalMembers(std::unique_ptr<TStream32>& archive) {
  ExtractMembers(archive, false);
}

void TUnZip::ExtractMembers(std::unique_ptr<TStream32>& archive, bool central) {
  FRemaining = FTotalUnpacked;
  const int lastIndex = static_cast<int>(std::min<uint32_t>(ZipLocation().LastDisk(), 0xFFFF));
  // The members that a missing volume costs are named, each once, not lost without a word.
  auto nameTheRest = [this](int from) {
    if (!FVolumeMissing) return;
    for (int j = from; j < FList->Count(); ++j) {
      const std::string* listedName = FList->Name(j);
      BuildOutputName(listedName ? *listedName : std::string());
      if (FOutputPath.empty() || FOutputPath.back() == '\\') continue;  // a folder
      ReportErrorAsIs(FOutputPath, "a volume of the set is missing", kErrReadingFile);
      MemberFailed(false);
    }
  };
  FVolumeMissing = false;
  for (int i = 0; i < FList->Count(); ++i) {
    if (FCancel) {
      nameTheRest(i);
      break;
    }
    const TUnBaseHeaderRec rec = FList->Header(i);
    FCurrentEntry = i;
    FCurrentOffset = rec.LocalOffset;
    if (central && FDiskSpanned && i == 0) {
      FSpan.SetDiskCounter(rec.VolumeNumber);
      if (!FSpan.ChangeDisk(archive)) break;
    } else if (central && FArcType == atZipMV && rec.VolumeNumber != FVolumeNumber) {
      if (!ChangeVolume(archive, rec.VolumeNumber - 1, lastIndex)) {
        nameTheRest(i);
        break;
      }
    }
    if (!archive) break;

    std::string rawName;
    ReadLocalHeader(*archive, rec.LocalOffset, rawName);
    TMemberSizes sizes;
    uint32_t expectedCrc = FLocal.Crc32;
    std::string name;
    // The exact time of the local header's extra field, else of the central one.
    FMemberTime = TExactTime{};
    if (FLocalExtra.HasModTime) FMemberTime = {true, FLocalExtra.ModTime, FLocalExtra.ModTimeNanos};
    bool link = false;
    const uint8_t* centralCopy = central ? FList->Central(i) : nullptr;
    if (centralCopy) {
      FCentral = TCentralFileHeader::Decode(centralCopy);
      const TZipEntryExtra* kept = FList->Extra(i);
      sizes.Flags = FCentral.Flags;
      sizes.Method = FCentral.Method;
      // The directory's ZIP64 values; for a directory field of all ones without them, the local
      // header's; otherwise the directory's 32-bit fields with the local 0x0064 words. (A writer
      // that streams leaves zeros in the local ZIP64 field and the sizes to a data descriptor.)
      auto size = [&](bool keptHas, int64_t keptValue, uint32_t field, bool localHas,
                      uint64_t localValue, uint16_t high) -> int64_t {
        if (keptHas) return keptValue;
        if (field == kZip64Marker32 && localHas) return ClampZip64(localValue);
        return Combine48(high, field);
      };
      sizes.PackedSize =
          size(kept && kept->HasPackedSize, kept ? kept->PackedSize : 0, FCentral.PackedSize,
               FLocalExtra.HasPacked64, FLocalExtra.Packed64, FLocalExtra.High.PackedHigh);
      sizes.UnpackedSize =
          size(kept && kept->HasUnpackedSize, kept ? kept->UnpackedSize : 0, FCentral.UnpackedSize,
               FLocalExtra.HasUnpacked64, FLocalExtra.Unpacked64, FLocalExtra.High.UnpackedHigh);
      if (FLocal.Crc32 == 0 && FCentral.PackedSize != 0) expectedCrc = FCentral.Crc32;
      // The member is written under the name that was listed and selected; a local header that
      // names it otherwise is reported (it is not what the person chose).
      const std::string localName =
          MemberName(kept && !kept->UnicodeName.empty() ? kept->UnicodeName : FLocalUnicodeName,
                     rawName, FTranslateOemChar,
                     static_cast<uint16_t>(FLocal.Flags | FCentral.Flags), FCentral.VersionMadeBy);
      const std::string* listedName = FList->Name(i);
      name = listedName ? *listedName : localName;
      if (localName != name)
        ReportError(name, "the local header names it " + localName, "0", kErrBadFileHeader);
      if (!FMemberTime.Valid && kept && kept->HasModTime)
        FMemberTime = {true, kept->ModTime, kept->ModTimeNanos};
      link = IsZipSymlink(FCentral);
    } else {
      sizes.Flags = FLocal.Flags;
      sizes.Method = FLocal.Method;
      sizes.PackedSize = FLocalExtra.PackedSize(FLocal.PackedSize);
      sizes.UnpackedSize = FLocalExtra.UnpackedSize(FLocal.UnpackedSize);
      if (const TDataDescriptor* d = FList->Descriptor(i)) {
        sizes.PackedSize = d->PackedSize;
        sizes.UnpackedSize = d->UnpackedSize;
        expectedCrc = d->Crc32;
      }
      name = MemberName(FLocalUnicodeName, rawName, FTranslateOemChar, FLocal.Flags, -1);
    }
    FStoredName = name;
    BuildOutputName(FStoredName);
    // Nothing is written through a link this pass made: a member below one is reported.
    const auto below = [this](const std::string& made) {
      return FOutputPath.size() > made.size() && FOutputPath.compare(0, made.size(), made) == 0 &&
             FOutputPath[made.size()] == '\\';
    };
    if (std::any_of(FLinksMade.begin(), FLinksMade.end(), below)) {
      ReportError(FOutputPath, "lies below a symbolic link made from the archive; not written", "0",
                  kErrInvalidFileName);
      SkipEntry(sizes);
    } else if (link) {
      ExtractLink(archive, sizes, expectedCrc);
    } else {
      ExtractEntry(archive, rec.Attributes, sizes, expectedCrc, FLocal.DosDateTime);
    }
    FMemberTime = TExactTime{};
  }
  FCurrentEntry = -1;
}

bool TUnZip::MethodSupported(const TMemberSizes& sizes) const {
  return sizes.Method == kMethodStored || sizes.Method == kMethodDeflated ||
         sizes.Method == kMethodDeflate64 || IsLegacyMethod(sizes.Method) ||
         sizes.Method == kMethodPpmd;
}

void TUnZip::ExtractLink(std::unique_ptr<TStream32>& archive, TMemberSizes& sizes,
                         uint32_t expectedCrc) {
  if (!ApproveEntry(false)) {
    SkipEntry(sizes);
    return;
  }
  // The link's name below the destination, as the walk that makes it takes it.
  std::string linkName;
  if (FOutputPath.size() > FExtractDir.size() &&
      FOutputPath.compare(0, FExtractDir.size(), FExtractDir) == 0)
    linkName = FOutputPath.substr(FExtractDir.size());
  std::string target, reason;
  bool made = false;
  if (archive && ReadLinkTarget(*archive, sizes, target, reason)) {
    FChecksums.Crc32 =
        ~Crc32Update(0xFFFFFFFF, reinterpret_cast<const uint8_t*>(target.data()), target.size());
    FRemaining -= sizes.UnpackedSize;
    if (!CheckCrc(kCrcKind32, expectedCrc)) {
      MemberFailed(true);  // reported by the checksum test; nothing is made from a damaged target
      return;
    }
    if (FTestOnly) {
      made = true;  // its target was read and checked; nothing is made
    } else if (linkName.empty() || !SymlinkStaysInside(linkName, target)) {
      reason = "symbolic link to \"" + target + "\" leads outside the destination; not created";
    } else if (MakeDirPath(FExtractDir),  // the destination itself is taken as given
               !FOutputFolder.CreateSymlink(FExtractDir, linkName, target)) {
      reason = "symbolic link to \"" + target + "\" not created: " + host::LastErrorText();
    } else {
      made = true;
      try {
        FLinksMade.push_back(FOutputPath);
      } catch (const std::bad_alloc&) {
        // Unremembered, the link is only not guarded against later members writing through it.
      }
    }
  } else {
    SkipEntry(sizes);
  }
  if (made) return;
  MemberFailed(true);
  ReportError(FOutputPath, reason, "0", kErrInvalidFileName);
}

bool TUnZip::ReadLinkTarget(TStream32& archive, const TMemberSizes& sizes, std::string& target,
                            std::string& reason) {
  reason = "symbolic link not created: ";
  if (sizes.Flags & kFlagEncrypted) {
    reason += "its target is encrypted";
    return false;
  }
  if (sizes.UnpackedSize <= 0 || sizes.UnpackedSize > kMaxLinkTarget || sizes.PackedSize <= 0 ||
      sizes.PackedSize > 2 * kMaxLinkTarget + 64) {
    reason += "its target is empty or too long";
    return false;
  }
  std::vector<uint8_t> packed(static_cast<size_t>(sizes.PackedSize));
  const int32_t got = archive.Read(packed.data(), static_cast<int32_t>(packed.size()));
  if (got != static_cast<int32_t>(packed.size())) {
    reason += LoadStr(kErrReadingFile);
    return false;
  }
  const size_t size = static_cast<size_t>(sizes.UnpackedSize);
  if (sizes.Method == kMethodStored && packed.size() >= size) {
    target.assign(reinterpret_cast<const char*>(packed.data()), size);
    return true;
  }
  if (sizes.Method == kMethodDeflated) {
    TInflateStream z{};
    if (InflateInit(z, kRawDeflateWindowBits, kInflateStreamSize, false) == kInflateOk) {
      std::vector<uint8_t> plain(size + 1);
      z.next_in = packed.data();
      z.avail_in = static_cast<uint32_t>(packed.size());
      z.next_out = plain.data();
      z.avail_out = static_cast<uint32_t>(plain.size());
      const int ret = Inflate(z, kInflateFinish);
      const size_t produced = plain.size() - z.avail_out;
      InflateEnd(z);
      if (ret == kInflateStreamEnd && produced == size) {
        target.assign(reinterpret_cast<const char*>(plain.data()), size);
        return true;
      }
    }
    reason += LoadStr(kErrCrcCheck);
    return false;
  }
  reason += LoadStr(kErrUnsupportedMethod);
  return false;
}

bool TUnZip::DecodeZipMember(const std::string& outputPath, TMemberSizes& sizes, host::THandle out,
                             std::unique_ptr<TStream32>& archive) {
  FSizes = sizes;
  FChecksums.Crc32 = 0xFFFFFFFF;
  if (FSizes.Flags & kFlagEncrypted) FSizes.PackedSize -= kZipEncryptionHeaderSize;
  FRemainingInput = FSizes.PackedSize;
  FRemainingOutput = FSizes.UnpackedSize;
  switch (FSizes.Method) {
    case kMethodStored: {
      int64_t left = CopyStored(*archive, out, FSizes, kCrcKind32);
      while (left > 0 && (FDiskSpanned || FArcType == atZipMV) && !FCancel) {
        if (!ContinueOnNextPart(archive)) break;
        FSizes.UnpackedSize = left;
        left = CopyStored(*archive, out, FSizes, kCrcKind32);
      }
      return left == 0;
    }
    case kMethodDeflated:
      return InflateMember(archive, out, false);
    case kMethodDeflate64:
      return InflateMember(archive, out, true);
    case kMethodPpmd:
      return DecodePpmd(outputPath, archive, out);
    default:
      if (IsLegacyMethod(FSizes.Method)) return DecodeLegacy(outputPath, archive, out);
      ReportError(outputPath, "", "0", kErrUnsupportedMethod);
      return false;
  }
}

bool TUnZip::ContinueOnNextPart(std::unique_ptr<TStream32>& archive) {
  if (FDiskSpanned) {
    // The next disk holds the rest of the member from its first byte: no header marks it, so the
    // spanning object is pointed beyond any disk's end, where the disk's label decides.
    const int64_t member = FCurrentOffset;
    FCurrentOffset = std::numeric_limits<int64_t>::max() / 2;
    const bool ok = FSpan.ChangeDisk(archive) && archive;
    FCurrentOffset = member;
    if (ok) archive->Seek64(0, host::kSeekBegin);
    return ok;
  }
  if (ChangeVolume(archive, FVolumeNumber, EndRecord().NumberOfThisDisk, true) && archive) {
    archive->Seek64(0, host::kSeekBegin);
    return true;
  }
  return false;
}

bool TUnZip::DecodeLegacy(const std::string& outputPath, std::unique_ptr<TStream32>& archive,
                          host::THandle out) {
  TLegacyMember member;
  member.Method = FSizes.Method;
  member.Flags = FSizes.Flags;
  member.CompressedSize = static_cast<uint64_t>(std::max<int64_t>(FSizes.PackedSize, 0));
  member.UncompressedSize = static_cast<uint64_t>(std::max<int64_t>(FSizes.UnpackedSize, 0));
  TStream32* source = archive.get();
  const int64_t size = FSizes.UnpackedSize;
  TLegacyContext context;
  context.ReadBlock = [this, source](uint8_t* buffer, size_t count) -> size_t {
    const int32_t got = ReadBlock(source, buffer, static_cast<int32_t>(count));
    FRemainingInput -= got;
    return static_cast<size_t>(got);
  };
  context.WriteBlock = [this, out, size](const uint8_t* bytes, size_t count) {
    // No deciphering on this path, so the block is not changed.
    WriteBlock(out, const_cast<uint8_t*>(bytes), static_cast<int32_t>(count),
               {.CrcKind = kCrcKind32});
    FRemaining -= static_cast<int64_t>(count);
    FRemainingOutput -= static_cast<int64_t>(count);
    ReportProgress(size - FRemainingOutput, size, FTotalUnpacked);
  };
  context.ReportError = [this, &outputPath](int code) { ReportError(outputPath, "", "0", code); };
  context.RaiseError = [this, &outputPath](int code) { RaiseError(outputPath, "", "0", code); };
  context.Cipher = (FSizes.Flags & kFlagEncrypted) ? &FCipher : nullptr;
  context.Cancel = &FCancel;
  return DecodeLegacyMember(member, context);
}

bool TUnZip::DecodePpmd(const std::string& outputPath, std::unique_ptr<TStream32>& archive,
                        host::THandle out) {
  const bool decipher = (FSizes.Flags & kFlagEncrypted) != 0;
  const int64_t size = FSizes.UnpackedSize;
  TCodecIo io;
  // Input is read up to the member's compressed size; a member that goes on in the next part of
  // a split or spanned set is continued there.
  io.Read = [&](uint8_t* buffer, size_t count) -> size_t {
    for (;;) {
      if (FRemainingInput <= 0 || !archive) return 0;
      const auto want = static_cast<int32_t>(
          std::min<int64_t>({FRemainingInput, static_cast<int64_t>(count), 1 << 20}));
      const int32_t got = archive->ReadUpTo(buffer, want);
      if (got > 0) {
        if (decipher) FCipher.DecipherBuffer(buffer, static_cast<size_t>(got));
        FRemainingInput -= got;
        return static_cast<size_t>(got);
      }
      if (!(FDiskSpanned || FArcType == atZipMV) || FCancel || !ContinueOnNextPart(archive))
        return 0;
    }
  };
  io.Write = [&](const uint8_t* bytes, size_t count) {
    host::ProcessMessages();
    WriteBlock(out, const_cast<uint8_t*>(bytes), static_cast<int32_t>(count),
               {.CrcKind = kCrcKind32});
    FRemaining -= static_cast<int64_t>(count);
    FRemainingOutput -= static_cast<int64_t>(count);
    ReportProgress(size - FRemainingOutput, size, FTotalUnpacked);
  };
  io.Cancel = &FCancel;
  const TPpmdResult result =
      DecodePpmdMember(io, static_cast<uint64_t>(std::max<int64_t>(size, 0)));
  if (result.Header != TPpmdHeaderCheck::Ok) {
    ReportError(outputPath, PpmdHeaderProblem(result.Header, result.Params), "0",
                kErrUnsupportedMethod);
  } else if (result.NoMemory) {
    ReportError(outputPath,
                "no memory for the PPMd model (" + std::to_string(result.Params.MemoryMiB) +
                    " MiB)",
                "0", kErrUnsupportedMethod);
  }
  if (result.Status == TCodecStatus::Ok) return FRemainingOutput == 0;
  // Broken or cut-short data: the member's checksum test reports it.
  FRemaining -= std::max<int64_t>(FRemainingOutput, 0);
  FRemainingOutput = 0;
  return false;
}

bool TUnZip::InflateMember(std::unique_ptr<TStream32>& archive, host::THandle out, bool deflate64) {
  if (FRemainingOutput <= 0) return true;  // nothing to produce: no block is read
  if (!FInflateInput) {
    FInflateInput = std::make_unique<uint8_t[]>(kInflateInputSize);
    FInflateOutput = std::make_unique<uint8_t[]>(kInflateOutputSize);
    FInflate = std::make_unique<TInflateDriver>(FInflateInput.get(), kInflateInputSize);
  }
  uint8_t* const output = FInflateOutput.get();
  if (FInflate->Start(kRawDeflateWindowBits, deflate64) != kInflateOk) return false;

  const bool decipher = (FSizes.Flags & kFlagEncrypted) != 0;
  const int64_t size = FSizes.UnpackedSize;
  // Input is read up to the member's compressed size, so nothing behind the member is read or
  // deciphered; a member whose data runs on (a wrong size, or a continuation) reads on in blocks.
  int64_t inputLeft = FRemainingInput;
  const TInflateSource source = [&](uint8_t* input, int32_t room) {
    const int32_t want =
        inputLeft > 0 ? static_cast<int32_t>(std::min<int64_t>(inputLeft, room)) : room;
    const int32_t got = archive ? archive->ReadUpTo(input, want) : 0;
    if (got <= 0) return 0;
    if (decipher) FCipher.DecipherBuffer(input, static_cast<size_t>(got));
    inputLeft -= got;
    FRemainingInput = std::max<int64_t>(inputLeft, 0);
    return got;
  };
  bool ok = false;
  while (FRemainingOutput > 0) {
    if (FCancel) break;
    host::ProcessMessages();
    const uint32_t chunk =
        static_cast<uint32_t>(std::min<int64_t>(FRemainingOutput, kInflateOutputSize));
    const TInflateStep step = FInflate->Run(output, chunk, source);
    const uint32_t produced = FInflate->Produced();
    if (produced > 0) {
      WriteBlock(out, output, static_cast<int32_t>(produced), {.CrcKind = kCrcKind32});
      FRemainingOutput -= produced;
      FRemaining -= produced;
      ReportProgress(size - FRemainingOutput, size, FTotalUnpacked);
    }
    if (step == TInflateStep::End) {
      ok = FRemainingOutput == 0;
      break;
    }
    if (step == TInflateStep::Full) continue;
    if (step == TInflateStep::Starved && (FDiskSpanned || FArcType == atZipMV) &&
        FRemainingOutput > 0) {
      // The member goes on in the next part of the set; the inflate state carries over.
      // A volume that cannot be had ends the member (a refused prompt also cancels the run).
      if (ContinueOnNextPart(archive)) continue;
      break;
    }
    // Broken or cut-short data: the member's checksum test reports it.
    FRemaining -= FRemainingOutput;
    FRemainingOutput = 0;
    FRemainingInput = 0;
    return false;
  }
  return ok || FRemainingOutput == 0;
}
