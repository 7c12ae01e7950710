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
#include "archive/codecs/arvLibCodecs.h"
#include "archive/codecs/arvPpmd.h"
#include "archive/common/arvScopeExit.h"
#include "archive/common/arvThreads.h"
#include "archive/records/arvZipDir.h"

namespace {

constexpr int kErrDecompression = 25153;       // "Decompression error"
constexpr int32_t kCodecInputLimit = 1 << 20;  // the most a decoder's read asks of the archive

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

// ---- TUnZip -------------------------------------------------------------------------------------
TUnZip::TUnZip(TComponent* owner) : TUnBase(owner) {}

TUnZip::~TUnZip() = default;

bool TUnZip::CheckPassword(uint8_t header[24]) {
  if (FLocal.Method == kMethodAes && FLocalExtra.HasAes) {
    // Salt, then the verifier; nothing is deciphered, so the header stays as read.
    const unsigned strength = FLocalExtra.AesStrength;
    return StartAes(strength, header, header + AesSaltSize(strength));
  }
  return TestZipPassword(FCipher, FPassword, header, FLocal.Flags, FLocal.Time(), FLocal.Crc32);
}

void TUnZip::ExtractArchive(std::unique_ptr<TStream32>& archive) {
  FList = nullptr;
  FCurrentEntry = -1;
  FDirectoryDamaged = false;
  FDirectoryMissing = false;
  FSelectedCount = 0;
  FRefusedCount = 0;
  FDataLimits.clear();
  FRunOnRoom = INT64_MAX;
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
  const TScopeExit forget([this] { FList = nullptr; });
  try {
    // Without a central directory where the end record leads (or without an end record) the
    // members are read from their local headers, whatever else detection found: walking local
    // headers as a directory would find none, and drop them all without a word. An end record
    // that announces no entry, with nothing else found, is an empty archive (not in a split set,
    // whose local headers the lister walks whatever its end record says).
    const bool empty = ZipArchiveIsEmpty(FArcType == atZipMV, ZipLocation());
    FLocalHeaderMode = (HeaderState() & kHeaderCentral) == 0 && !empty;
    if (FDetected.StartOffset < 0) return;  // no directory and no local header anywhere
    if (FLocalHeaderMode) {
      // Members found without their directory may not be all there were: said, not hidden.
      FDirectoryMissing = true;
      ReportError(TReportSeverity::Warning, TReportSubject::Archive, FArchiveFile,
                  "no central directory: members are read from their local headers",
                  kErrReadingFileList);
      if (OnCorruptZipHeader) {
        TTimerPause pause(FTimer);
        bool cancel = true;
        OnCorruptZipHeader(this, HeaderState(), cancel);
        if (cancel) return;
      }
    }
    if (ListMembers(*archive) > 0) ExtractMembers(archive, !FLocalHeaderMode);
  } catch (...) {
    // The members run the caller's event handlers, which may throw anything: the walk ends
    // here, and the run counts what was extracted.
  }
  // Members refused while the list was made were selected all the same.
  FSelectedCount = list.Count() + FRefusedCount;
  list.Clear();
  FDataLimits.clear();
}

int TUnZip::ListMembers(TStream32& archive) {
  TTimerPause pause(FTimer);
  const bool spanned = FDiskSpanned || FArcType == atZipMV;
  TZipDirectoryReader::TSetup setup;
  setup.Directory = !FLocalHeaderMode;
  setup.Start = FDetected.StartOffset;
  setup.OffsetAdjustment = OffsetAdjustment();
  setup.ExtendedEnd = ExtendedEndRecord();
  // Sets on several volumes keep their directory elsewhere: no count to hold it to.
  setup.Announced = FLocalHeaderMode || spanned ? -1 : ZipLocation().AnnouncedEntries();
  setup.TranslateOem = FTranslateOemChar;
  setup.Cancel = &FCancel;
  setup.Spanned = spanned;
  setup.Report = [this](TReportSeverity severity, TReportSubject subject, const std::string& detail,
                        int code) {
    if (code == kErrReadingFileList) FDirectoryDamaged = true;
    ReportError(severity, subject, FArchiveFile, detail, code);
  };
  TZipDirectoryReader reader(archive, setup);
  TZipDirMember member;
  try {
    while (reader.Next(member)) {
      if (!member.EndFound) {
        // Where this member ends is unknown: what follows cannot be found safely.
        ReportError(member.Name, "", "0", kErrBadFileHeader);
        MemberFailed(false);
        break;
      }
      if (member.Listed) continue;
      // A member without a name matches no mask: it is selected (and refused) when everything is.
      if (member.Name.empty() ? !ZipSelectsEveryName(FFileSpec) : !MatchesFileSpec(member.Name))
        continue;
      if (member.FromDirectory) {
        ListCentralMember(archive, reader, member, spanned);
      } else {
        if (const TZipRefusal refusal = ZipMemberRefusal(member); refusal != TZipRefusal::None) {
          RefuseMember(member, refusal);
          continue;
        }
        for (const std::string& said : ZipMemberWarnings(member))
          ReportError(TReportSeverity::Warning, TReportSubject::Member, member.Name, said,
                      kErrBadFileHeader);
        TUnBaseHeaderRec rec;
        rec.VolumeNumber = 1;
        rec.LocalOffset = member.LocalOffset;
        if (FList->Add(rec, nullptr, member.HasDescriptor ? &member.Descriptor : nullptr)) {
          FDataLimits.push_back(member.DataLimit);
          TMemberSizes sizes;
          sizes.Flags = member.Local.Flags;
          sizes.Method = member.Local.Method;
          sizes.PackedSize = member.PackedSize;
          sizes.UnpackedSize = member.UnpackedSize;
          AddToTotals(sizes, member.Local.DosDateTime);
        }
      }
    }
  } catch (const std::exception&) {
    // No memory for the list: the walk keeps the members found so far.
  }
  return FList->Count();
}

void TUnZip::ListCentralMember(TStream32& archive, TZipDirectoryReader& reader,
                               TZipDirMember& member, bool spanned) {
  const TCentralFileHeader& central = member.Central;
  // A selected entry whose local header is not where the directory says cannot be extracted (a
  // spanned set's local headers lie on other disks: there the directory is taken on trust).
  int64_t dataStart = 0;
  if (!spanned &&
      !TZipDirectoryReader::LocalHeaderPresent(archive, member.LocalOffset, nullptr, &dataStart)) {
    ReportError(member.Name, "", "0", kErrBadFileHeader);
    MemberFailed(false);
    ++FRefusedCount;
    return;
  }
  // A local header whose name and extra field push the data into what follows overlaps it.
  TZipRefusal refusal = ZipMemberRefusal(member);
  if (refusal == TZipRefusal::None && !spanned && member.DataLimit != INT64_MAX &&
      (dataStart > member.DataLimit || member.PackedSize > member.DataLimit - dataStart))
    refusal = TZipRefusal::Overlapping;
  // Taken, refused or not: a completion of a short directory does not offer its header again.
  if (!spanned) reader.MarkListed(member.LocalOffset);
  if (refusal != TZipRefusal::None) {
    RefuseMember(member, refusal);
    return;
  }
  for (const std::string& said : ZipMemberWarnings(member))
    ReportError(TReportSeverity::Warning, TReportSubject::Member, member.Name, said,
                kErrBadFileHeader);
  TUnBaseHeaderRec rec;
  rec.Attributes = central.ExternalAttributes;
  rec.VolumeNumber = static_cast<uint16_t>(
      std::min<uint32_t>(member.Extra.DiskStart(central.DiskNumberStart), 0xFFFE) + 1);
  rec.LocalOffset = member.LocalOffset;
  if (!FList->Add(rec, member.CentralBytes, nullptr, &member.Name)) return;
  FDataLimits.push_back(spanned ? INT64_MAX : member.DataLimit);
  TMemberSizes sizes;
  sizes.Flags = central.Flags;
  sizes.Method = central.Method;
  sizes.PackedSize = member.PackedSize;
  sizes.UnpackedSize = member.UnpackedSize;
  AddToTotals(sizes, central.DosDateTime);
  TZipEntryExtra kept;
  kept.HasPackedSize = member.Extra.HasPacked64;
  kept.HasUnpackedSize = member.Extra.HasUnpacked64;
  kept.PackedSize = sizes.PackedSize;
  kept.UnpackedSize = sizes.UnpackedSize;
  kept.HasModTime = member.Extra.HasModTime;
  kept.ModTime = member.Extra.ModTime;
  kept.ModTimeNanos = member.Extra.ModTimeNanos;
  kept.UnicodeName = std::move(member.UnicodeName);
  if (!kept.Empty()) FList->AttachExtra(kept);
}

void TUnZip::RefuseMember(const TZipDirMember& member, TZipRefusal refusal) {
  const std::string text = ZipRefusalText(refusal, member);
  const int code = ZipRefusalCode(refusal);
  if (ZipRefusalNamesMember(refusal)) {
    FStoredName = member.Name;
    BuildOutputName(FStoredName);
    ReportError(FOutputPath.empty() ? FArchiveFile : FOutputPath, text, "0", code);
  } else {
    // No name to show a path for: the archive is named, and the member in the words.
    ReportError(
        TReportSeverity::Failed, TReportSubject::Member, FArchiveFile, text, code,
        VisibleZipName(member.NameFacts.NulInName ? member.NameFacts.WholeName : member.Name));
  }
  MemberFailed(false);
  ++FRefusedCount;
}

int64_t TUnZip::InputBudget() const {
  const int64_t left = std::max<int64_t>(FRemainingInput, 0);
  if (FRunOnRoom > INT64_MAX - left) return INT64_MAX;
  return std::max<int64_t>(FRemainingInput + FRunOnRoom, 0);
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
  TakeZipNameAndExtra(FVariable.data(), have > 0 ? static_cast<uint32_t>(have) : 0,
                      FLocal.NameLength, FLocal.ExtraLength,
                      sig.Enciphered ? &HeaderCipher() : nullptr, false, Zip64Wanted(FLocal),
                      rawName, FLocalExtra, FLocalUnicodeName);
  FHighWords = FLocalExtra.High;
  if (have != static_cast<int32_t>(length))
    archive.Seek64(position + static_cast<int64_t>(TLocalFileHeader::kSize) + length,
                   host::kSeekBegin);
  return got == static_cast<int32_t>(sizeof header);
}

void TUnZip::ExtractMembers(std::unique_ptr<TStream32>& archive, bool central) {
  FRemaining = FTotalUnpacked;
  const int lastIndex = static_cast<int>(std::min<uint32_t>(ZipLocation().LastDisk(), 0xFFFF));
  // The members that a missing volume costs are named, each once, not lost without a word.
  auto nameTheRest = [this](int from) {
    if (!FVolumeMissing) return;
    for (int j = from; j < FList->Count(); ++j) {
      const std::string* listedName = FList->Name(j);
      FStoredName = listedName ? *listedName : std::string();
      BuildOutputName(FStoredName);
      if (FOutputPath.empty() || FOutputPath.back() == '\\') continue;  // a folder
      ReportErrorAsIs(FOutputPath, "a volume of the set is missing", kErrReadingFile);
      MemberFailed(false);
    }
  };
  FVolumeMissing = false;
  if (central) StartDecodeAhead(archive);
  const TScopeExit endAhead([this] { EndDecodeAhead(); });
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
      // A member written with a data descriptor (flag bit 3) has its CRC after the data and in the
      // directory; the local field is 0, or (Info-ZIP writing to a pipe) holds the time for the
      // password check byte in its high half: it is never the member's checksum.
      const bool streamed = ((FLocal.Flags | FCentral.Flags) & kFlagDataDescriptor) != 0;
      if (streamed || (FLocal.Crc32 == 0 && FCentral.PackedSize != 0)) expectedCrc = FCentral.Crc32;
      // The member is written under the name that was listed and selected; a local header that
      // names it otherwise is reported (it is not what the person chose).
      const std::string localName =
          MemberName(kept && !kept->UnicodeName.empty() ? kept->UnicodeName : FLocalUnicodeName,
                     rawName, FTranslateOemChar,
                     static_cast<uint16_t>(FLocal.Flags | FCentral.Flags), FCentral.VersionMadeBy);
      const std::string* listedName = FList->Name(i);
      name = listedName ? *listedName : localName;
      // Written under the listed name all the same: said, nothing lost.
      if (localName != name)
        ReportError(TReportSeverity::Warning, TReportSubject::Member, name,
                    "the local header names it " + localName, kErrBadFileHeader);
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
    // What the data may read: up to the next member or the directory, never into them.
    {
      const int64_t limit =
          static_cast<size_t>(i) < FDataLimits.size() ? FDataLimits[i] : INT64_MAX;
      const int64_t dataEnd = archive->Position() + std::max<int64_t>(sizes.PackedSize, 0);
      FRunOnRoom = limit == INT64_MAX ? INT64_MAX : std::max<int64_t>(limit - dataEnd, 0);
    }
    // Nothing is written through a link this pass made: a member below one is a failure.
    if (BelowLinkMade()) {
      ReportError(FOutputPath, "lies below a symbolic link made from the archive; not written", "0",
                  kErrInvalidFileName);
      MemberFailed(false);
      SkipEntry(sizes);
    } else if (link && !FOutputPath.empty() && FOutputPath.back() != '\\' &&
               (rec.Attributes & host::faDirectory) == 0) {
      // (A link named or marked as a folder, "sub/" or the directory attribute, is the folder the
      // lister shows.)
      ExtractLink(archive, sizes, expectedCrc);
    } else {
      ExtractEntry(archive, rec.Attributes, sizes, expectedCrc, FLocal.DosDateTime);
    }
    FMemberTime = TExactTime{};
  }
  FCurrentEntry = -1;
}

bool TUnZip::IsCodecMethod(uint32_t method) {
  return IsLibraryMethod(method) || method == kMethodPpmd;
}

bool TUnZip::AesFieldValid(const TMemberSizes& sizes) const {
  const TZipExtra& x = FLocalExtra;
  return (sizes.Flags & kFlagEncrypted) && x.HasAes && (x.AesVersion == 1 || x.AesVersion == 2) &&
         AesKeySize(x.AesStrength) != 0 && x.AesMethod != kMethodAes &&
         sizes.PackedSize >= static_cast<int64_t>(AesOverhead(x.AesStrength));
}

bool TUnZip::MethodSupported(const TMemberSizes& sizes) const {
  if ((sizes.Flags & kFlagEncrypted) &&
      ((sizes.Flags & kFlagStrongEncryption) || FLocalExtra.HasStrongEncryption))
    return false;
  uint32_t method = sizes.Method;
  if (IsAesMember(sizes)) {
    if (!AesFieldValid(sizes)) return false;
    method = FLocalExtra.AesMethod;
  }
  return method == kMethodStored || method == kMethodDeflated || method == kMethodDeflate64 ||
         IsLegacyMethod(method) || IsCodecMethod(method);
}

std::string TUnZip::UnsupportedDetail(const TMemberSizes& sizes) const {
  if ((sizes.Flags & kFlagEncrypted) &&
      ((sizes.Flags & kFlagStrongEncryption) || FLocalExtra.HasStrongEncryption))
    return "encrypted with a method Parcelo cannot decrypt (PKWARE strong encryption)";
  if (IsAesMember(sizes)) {
    const TZipExtra& x = FLocalExtra;
    if (!x.HasAes) return "AES encrypted, but its AES extra field is missing";
    if (!(sizes.Flags & kFlagEncrypted)) return "AES extra field on a member not marked encrypted";
    if (x.AesVersion != 1 && x.AesVersion != 2)
      return "AES extra field of version " + std::to_string(x.AesVersion) + " (AE-1, AE-2 known)";
    if (AesKeySize(x.AesStrength) == 0)
      return "AES key strength " + std::to_string(x.AesStrength) + " (1, 2, 3 known)";
    if (x.AesMethod == kMethodAes) return "AES extra field names AES as its method";
    if (sizes.PackedSize < static_cast<int64_t>(AesOverhead(x.AesStrength)))
      return "AES member shorter than its salt, verifier and authentication code";
    return ZipMethodName(x.AesMethod) + " inside AES-" + std::to_string(64 + 64 * x.AesStrength);
  }
  return ZipMethodName(sizes.Method);
}

size_t TUnZip::EncryptionHeaderSize(const TMemberSizes& sizes) const {
  if (IsAesMember(sizes)) return AesSaltSize(FLocalExtra.AesStrength) + kAesVerifierSize;
  return kZipEncryptionHeaderSize;
}

void TUnZip::ExtractLink(std::unique_ptr<TStream32>& archive, TMemberSizes& sizes,
                         uint32_t expectedCrc) {
  if (!ApproveEntry(false)) {
    SkipEntry(sizes);
    return;
  }
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
    made = MakeSymlink(target, reason);
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
    // The whole deflate data is at hand: the driver's input is that buffer, given once.
    TInflateDriver driver(packed.data(), static_cast<int32_t>(packed.size()));
    bool given = false;
    const TInflateSource source = [&](uint8_t*, int32_t room) -> int32_t {
      if (given) return 0;
      given = true;
      return room;
    };
    std::vector<uint8_t> plain(size + 1);
    if (driver.Start(kRawDeflateWindowBits, false) == kInflateOk &&
        driver.Run(plain.data(), static_cast<uint32_t>(plain.size()), source) ==
            TInflateStep::End &&
        driver.Produced() == size) {
      target.assign(reinterpret_cast<const char*>(plain.data()), size);
      return true;
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
  FAesActive = IsAesMember(sizes);
  if (FAesActive) {
    // The password test has read the salt and the verifier and keyed FAes; the data is what
    // lies between them and the authentication code, compressed with the field's method.
    FSizes.Method = FLocalExtra.AesMethod;
    FSizes.PackedSize -= static_cast<int64_t>(AesOverhead(FLocalExtra.AesStrength));
    const int64_t reportsBefore = FReportCount;
    const bool decoded = DecodeMemberData(outputPath, archive, out);
    FAesActive = false;
    const bool authentic = FinishAes(archive, FSizes.PackedSize) && !FCancel;
    if (!authentic && !FCancel) {
      if (FReportCount == reportsBefore)
        ReportError(outputPath, "the AES authentication code does not match: the data is damaged",
                    "0", kErrCrcCheck);
      FDiscardOutput = true;
      return false;
    }
    FAuthenticated = authentic;
    // AE-2 carries no CRC-32 (its field is 0): the authentication code stands for it.
    if (authentic && decoded && FLocalExtra.AesVersion == 2) FChecksums.Crc32 = ~FExpectedCrc;
    return decoded;
  }
  if (FSizes.Flags & kFlagEncrypted) FSizes.PackedSize -= kZipEncryptionHeaderSize;
  return DecodeMemberData(outputPath, archive, out);
}

bool TUnZip::DecodeMemberData(const std::string& outputPath, std::unique_ptr<TStream32>& archive,
                              host::THandle out) {
  FRemainingInput = FSizes.PackedSize;
  FRemainingOutput = FSizes.UnpackedSize;
  if (bool decoded = false; UseDecodedAhead(out, decoded)) return decoded;
  switch (FSizes.Method) {
    case kMethodStored: {
      if (FAesActive) return DecodeWithCodec(outputPath, archive, out);
      // A stored member holds its bytes as they are: more than lies before what follows it
      // cannot be its own.
      if (FSizes.UnpackedSize > InputBudget()) {
        TMemberSizes own = FSizes;
        own.UnpackedSize = InputBudget();
        CopyStored(*archive, out, own, kCrcKind32);
        return false;
      }
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
    default:
      if (IsLegacyMethod(FSizes.Method)) return DecodeLegacy(outputPath, archive, out);
      if (IsCodecMethod(FSizes.Method)) return DecodeWithCodec(outputPath, archive, out);
      ReportError(outputPath, ZipMethodName(FSizes.Method), "0", kErrUnsupportedMethod);
      return false;
  }
}

int32_t TUnZip::ReadMemberBytes(std::unique_ptr<TStream32>& archive, uint8_t* buffer,
                                int32_t count) {
  int32_t got = archive ? archive->ReadUpTo(buffer, count) : 0;
  while (got <= 0 && (FDiskSpanned || FArcType == atZipMV) && !FCancel) {
    if (!ContinueOnNextPart(archive)) return 0;
    got = archive->ReadUpTo(buffer, count);
  }
  return std::max(got, 0);
}

TCodecStatus TUnZip::RunCodec(uint32_t method, const TCodecIo& io, std::string& detail) {
  // A refusal (a method's parameters it cannot decode, no memory for its model) is Unsupported,
  // said through the detail.
  if (IsLibraryMethod(method)) {
    TLibMember member;
    member.Method = method;
    member.Flags = FSizes.Flags;
    member.Size = static_cast<uint64_t>(std::max<int64_t>(FSizes.UnpackedSize, 0));
    const TCodecStatus status = DecodeLibraryMember(member, io);
    detail = member.Detail;
    return status;
  }
  if (method == kMethodPpmd) {
    const TPpmdResult result =
        DecodePpmdMember(io, static_cast<uint64_t>(std::max<int64_t>(FSizes.UnpackedSize, 0)));
    // A header the decoder refuses, or a model it cannot have memory for, is a method it cannot
    // decode, whatever the decoder's status.
    if (result.Header != TPpmdHeaderCheck::Ok) {
      detail = PpmdHeaderProblem(result.Header, result.Params);
      return TCodecStatus::Unsupported;
    }
    if (result.NoMemory) {
      detail = "no memory for the PPMd model (" + std::to_string(result.Params.MemoryMiB) + " MiB)";
      return TCodecStatus::Unsupported;
    }
    if (result.Status == TCodecStatus::Corrupt) {
      detail = "the PPMd data is damaged";
    } else if (result.Status == TCodecStatus::Truncated) {
      detail = "the data ends before the member does";
    }
    return result.Status;
  }
  detail = ZipMethodName(method);
  return TCodecStatus::Unsupported;
}

bool TUnZip::DecodeWithCodec(const std::string& outputPath, std::unique_ptr<TStream32>& archive,
                             host::THandle out) {
  const int64_t size = FSizes.UnpackedSize;
  const bool decipher = !FAesActive && (FSizes.Flags & kFlagEncrypted) != 0;
  TCodecIo io;
  io.Read = [&](uint8_t* buffer, size_t count) -> size_t {
    if (FRemainingInput <= 0) return 0;
    const int32_t want = static_cast<int32_t>(
        std::min<int64_t>({FRemainingInput, static_cast<int64_t>(count), kCodecInputLimit}));
    const int32_t got = ReadMemberBytes(archive, buffer, want);
    if (got <= 0) return 0;
    if (FAesActive) {
      FAes.Decrypt(buffer, static_cast<size_t>(got));
    } else if (decipher) {
      FCipher.DecipherBuffer(buffer, static_cast<size_t>(got));
    }
    FRemainingInput -= got;
    return static_cast<size_t>(got);
  };
  io.Write = [&](const uint8_t* bytes, size_t count) {
    // No deciphering on this path, so the block is not changed.
    WriteBlock(out, const_cast<uint8_t*>(bytes), static_cast<int32_t>(count),
               {.CrcKind = kCrcKind32});
    FRemaining -= static_cast<int64_t>(count);
    FRemainingOutput -= static_cast<int64_t>(count);
    ReportProgress(size - FRemainingOutput, size, FTotalUnpacked);
  };
  io.Cancel = &FCancel;

  std::string detail;
  TCodecStatus status;
  if (FSizes.Method == kMethodStored) {
    // Stored data inside AES: copied through the same pipes.
    uint8_t* buffer = RunBuffer(static_cast<size_t>(kCopyBlockSize));
    status = TCodecStatus::Ok;
    while (FRemainingOutput > 0) {
      if (FCancel) {
        status = TCodecStatus::Cancelled;
        break;
      }
      const size_t want = static_cast<size_t>(std::min<int64_t>(FRemainingOutput, kCopyBlockSize));
      const size_t got = io.Read(buffer, want);
      if (got == 0) {
        status = TCodecStatus::Truncated;
        detail = "the data ends before the member does";
        break;
      }
      io.Write(buffer, got);
    }
  } else {
    status = RunCodec(FSizes.Method, io, detail);
  }
  switch (status) {
    case TCodecStatus::Ok:
      return true;
    case TCodecStatus::Cancelled:
      return false;
    case TCodecStatus::Unsupported:
      ReportError(outputPath, detail, "0", kErrUnsupportedMethod);
      break;
    case TCodecStatus::Truncated:
      ReportError(outputPath, detail, "0", kErrReadingFile);
      break;
    case TCodecStatus::Corrupt:
      // A password that only passed the zip cipher's check byte deciphers into noise that no
      // decoder takes: the person is told it may be the password.
      if (decipher) {
        ReportError(outputPath, "wrong password, or damaged data: " + detail, "0",
                    kErrInvalidPassword);
      } else {
        ReportError(outputPath, detail, "0", kErrDecompression);
      }
      break;
  }
  // Nothing that looks complete is left behind.
  FDiscardOutput = true;
  FRemaining -= std::max<int64_t>(FRemainingOutput, 0);
  FRemainingOutput = 0;
  return false;
}

bool TUnZip::FinishAes(std::unique_ptr<TStream32>& archive, int64_t dataSize) {
  // The decoder may stop before the data does (a member whose data runs on past its end): the
  // code covers all of it.
  int64_t left = dataSize - static_cast<int64_t>(FAes.Processed());
  if (left > 0) {
    uint8_t* buffer = RunBuffer(static_cast<size_t>(kCopyBlockSize));
    while (left > 0 && !FCancel) {
      const int32_t want = static_cast<int32_t>(std::min<int64_t>(left, kCopyBlockSize));
      const int32_t got = ReadMemberBytes(archive, buffer, want);
      if (got <= 0) return false;
      FAes.Decrypt(buffer, static_cast<size_t>(got));
      left -= got;
    }
  }
  if (left < 0) return false;
  uint8_t code[kAesMacSize];
  int32_t have = 0;
  while (have < static_cast<int32_t>(kAesMacSize)) {
    const int32_t got =
        ReadMemberBytes(archive, code + have, static_cast<int32_t>(kAesMacSize) - have);
    if (got <= 0) return false;
    have += got;
  }
  return FAes.MacMatches(code);
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
    if (FAesActive) {
      // AES data ends before its authentication code: nothing past it is read.
      count = static_cast<size_t>(
          std::min<int64_t>(std::max<int64_t>(FRemainingInput, 0), static_cast<int64_t>(count)));
      if (count == 0) return 0;
    }
    // Reading on past the data stops before the next member or the directory.
    count = static_cast<size_t>(std::min<int64_t>(InputBudget(), static_cast<int64_t>(count)));
    if (count == 0) return 0;
    const int32_t got = ReadBlock(source, buffer, static_cast<int32_t>(count));
    if (FAesActive && got > 0) FAes.Decrypt(buffer, static_cast<size_t>(got));
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
  context.Cipher = (FSizes.Flags & kFlagEncrypted) && !FAesActive ? &FCipher : nullptr;
  context.Cancel = &FCancel;
  return DecodeLegacyMember(member, context);
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

  const bool decipher = (FSizes.Flags & kFlagEncrypted) != 0 && !FAesActive;
  // Input is read up to the member's compressed size, so nothing behind the member is read or
  // deciphered; a member whose data runs on (a wrong size, or a continuation) reads on in blocks.
  // AES data never does: its authentication code follows it.
  // Reading on stops before the next member or the directory.
  int64_t inputLeft = FRemainingInput;
  int64_t runOn = FRunOnRoom;
  const int64_t dataOffset = archive ? archive->Position() : -1;
  const TInflateSource source = [&](uint8_t* input, int32_t room) {
    if (FAesActive && inputLeft <= 0) return 0;
    const int32_t want =
        static_cast<int32_t>(std::min<int64_t>(inputLeft > 0 ? inputLeft : runOn, room));
    if (want <= 0) return 0;
    const int32_t got = archive ? archive->ReadUpTo(input, want) : 0;
    if (got <= 0) return 0;
    if (inputLeft <= 0) runOn -= got;
    if (FAesActive) FAes.Decrypt(input, static_cast<size_t>(got));
    if (decipher) FCipher.DecipherBuffer(input, static_cast<size_t>(got));
    inputLeft -= got;
    FRemainingInput = std::max<int64_t>(inputLeft, 0);
    return got;
  };
  // A member of a set of volumes stays on one thread: the next volume is asked for in its middle.
  const bool oneFile = !FDiskSpanned && FArcType != atZipMV;
  // A large plain member is decoded on both cores: a worker decodes stretches further on, this
  // thread decodes up to them, takes them, checksums and writes everything (measured faster than
  // handing the checksum and the writes to the other core, which moves every byte between the
  // cores). Deflate64 (64 KiB of history) and enciphered data (each byte's key depends on every
  // byte before it) cannot be decoded from a later point: an extraction of those hands the writes
  // to the other core (below); a test of them checksums each block where it was made, cheaper
  // than handing it over.
  if (oneFile && !deflate64 && !decipher && !FAesActive && inputLeft >= kSplitMemberPacked &&
      ExtractionThreads() > 1) {
    // Stretches decoded by the worker are passed over, not read.
    const TInflateSkip skip = [&](uint64_t bytes) {
      if (static_cast<uint64_t>(inputLeft) < bytes) return false;
      archive->SetPosition(archive->Position() + static_cast<int64_t>(bytes));
      inputLeft -= static_cast<int64_t>(bytes);
      FRemainingInput = inputLeft;
      return true;
    };
    if (const auto* file = dynamic_cast<THandleStream32*>(archive.get()))
      return InflateSplit(out, source, skip, file->Handle(), dataOffset, inputLeft);
  }
  if (oneFile && FRemainingOutput >= kPipedMemberSize && !FTestOnly && ExtractionThreads() > 1)
    return InflatePiped(out, source);
  bool ok = false;
  while (FRemainingOutput > 0) {
    if (FCancel) break;
    const uint32_t chunk =
        static_cast<uint32_t>(std::min<int64_t>(FRemainingOutput, kInflateOutputSize));
    const TInflateStep step = FInflate->Run(output, chunk, source);
    if (const uint32_t produced = FInflate->Produced(); produced > 0) {
      WriteBlock(out, output, static_cast<int32_t>(produced), {.CrcKind = kCrcKind32});
      CountInflated(produced);
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
    return DropRestOfMember();
  }
  return ok || FRemainingOutput == 0;
}

void TUnZip::CountInflated(uint32_t bytes) {
  FRemainingOutput -= bytes;
  FRemaining -= bytes;
  ReportProgress(FSizes.UnpackedSize - FRemainingOutput, FSizes.UnpackedSize, FTotalUnpacked);
}

bool TUnZip::DropRestOfMember() {
  // Broken or cut-short data: the member's checksum test reports it.
  FRemaining -= FRemainingOutput;
  FRemainingOutput = 0;
  FRemainingInput = 0;
  return false;
}
