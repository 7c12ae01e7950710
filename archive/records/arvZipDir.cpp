// The zip directory reader: the central walk, the completion of a short directory from the local
// headers, and the local-header walk, with their shared name, Unicode Path and extra-field steps.
#include "archive/records/arvZipDir.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "archive/common/arvGbls.h"
#include "archive/common/arvStreams.h"
#include "archive/messages/Err_Msgs.h"

bool ZipArchiveIsEmpty(bool splitSet, const TZipLocation& location) {
  return !splitSet && location.HeaderState == kHeaderEnd && location.AnnouncedEntries() == 0;
}

TZipDirectoryReader::TZipDirectoryReader(TStream32& archive, TSetup setup)
    : FArchive(archive), FSetup(std::move(setup)) {
  FArchiveSize = FArchive.GetSize();
  if (FSetup.Directory) {
    FPhase = TPhase::Directory;
    FPosition = FSetup.Start;
  } else {
    FPhase = TPhase::Local;
    StartLocalWalk(FSetup.Start);
  }
}

void TZipDirectoryReader::MarkListed(int64_t localOffset) {
  if (!FListed.empty() && localOffset < FListed.back()) FListedSorted = false;
  try {
    FListed.push_back(localOffset);
  } catch (const std::bad_alloc&) {
    // Unmarked, a recovery would offer the member a second time; it is only listed twice.
  }
}

bool TZipDirectoryReader::Next(TZipDirMember& member) {
  try {
    for (;;) {
      if (FPhase == TPhase::Done) return false;
      if (FPhase == TPhase::Directory) {
        if (NextCentral(member)) return true;
        EndDirectory();
        continue;
      }
      if (NextLocal(member)) return true;
      FPhase = TPhase::Done;
    }
  } catch (const std::exception&) {
    // A read that fails, or no memory: the walk ends at the last whole member.
    FPhase = TPhase::Done;
    return false;
  }
}

bool TZipDirectoryReader::NextCentral(TZipDirMember& member) {
  // A central header is followed at least by the end record: one that reaches the archive's end
  // is no entry.
  if (Cancelled()) return false;
  if (FArchiveSize > 0 && FPosition + static_cast<int64_t>(TCentralFileHeader::kSize) >= FArchiveSize)
    return false;
  member = TZipDirMember{};
  uint8_t* header = member.CentralBytes;
  if (FArchive.ReadAt(FPosition, header, TCentralFileHeader::kSize) !=
      static_cast<int32_t>(TCentralFileHeader::kSize))
    return false;
  const TZipSignature sig = ClassifyZipSignature(GetLe32(header), TZipRecordKind::Central);
  if (!sig) {  // normally the end record behind the last entry
    SayIfNoHeaderYet();
    return false;
  }
  if (sig.Enciphered) DecipherZipHeader(FHeaderCipher, header, TZipRecordKind::Central);
  ++FHeadersSeen;
  member.FromDirectory = true;
  member.Enciphered = sig.Enciphered;
  member.HeaderStart = FPosition;
  member.Central = TCentralFileHeader::Decode(header);
  const TCentralFileHeader& central = member.Central;
  // The name and the extra field in one read.
  const uint32_t nameLength = central.NameLength;
  const uint32_t extraLength = central.ExtraLength;
  FVariable.resize(nameLength + extraLength);
  const int32_t got =
      FVariable.empty()
          ? 0
          : FArchive.ReadAt(FPosition + static_cast<int64_t>(TCentralFileHeader::kSize),
                            FVariable.data(), static_cast<int32_t>(FVariable.size()));
  TakeNameAndExtra(got > 0 ? static_cast<uint32_t>(got) : 0, nameLength, extraLength, true,
                   Zip64Wanted(central), member);
  member.Name = member.UnicodeName.empty()
                    ? ConvertZipName(member.RawName, FSetup.TranslateOem, central.Flags,
                                     central.VersionMadeBy)
                    : ConvertStoredName(member.UnicodeName, false);
  member.LocalOffset = member.Extra.LocalOffset(central.LocalHeaderOffset, FSetup.ExtendedEnd) +
                       FSetup.OffsetAdjustment;
  member.PackedSize = member.Extra.PackedSize(central.PackedSize);
  member.UnpackedSize = member.Extra.UnpackedSize(central.UnpackedSize);
  member.CommentPosition =
      FPosition + static_cast<int64_t>(TCentralFileHeader::kSize) + nameLength + extraLength;
  FPosition = member.CommentPosition + central.CommentLength;
  return true;
}

void TZipDirectoryReader::SayIfNoHeaderYet() {
  if (FHeadersSeen == 0 && FSetup.SayNoHeader && FSetup.Report)
    FSetup.Report(TReportSeverity::Fatal, TReportSubject::Archive, "", kErrBadFileHeader);
}

void TZipDirectoryReader::EndDirectory() {
  FPhase = TPhase::Done;
  // A directory that ends before the number of entries its end record announces is damaged: said,
  // and the members it lost are looked for through their local headers. (A count of 65,535 may
  // stand for a larger one kept in a zip64 record; the locator reads that one when it is there.)
  if (Cancelled() || FSetup.Announced < 0 || FHeadersSeen >= FSetup.Announced) return;
  FDamaged = true;
  if (FSetup.Report) {
    FSetup.Report(TReportSeverity::Failed, TReportSubject::Archive,
                  "the central directory holds " + std::to_string(FHeadersSeen) + " of " +
                      std::to_string(FSetup.Announced) +
                      " entries; the others are looked for through their local headers",
                  kErrReadingFileList);
  }
  if (!FListedSorted) std::sort(FListed.begin(), FListed.end());
  FListedSorted = true;
  FPhase = TPhase::Recovery;
  // From the archive's start; a stub in front whose offsets the directory records absolutely is
  // stepped over by starting at the first listed member.
  int64_t position = std::max<int64_t>(FSetup.OffsetAdjustment, 0);
  uint8_t signature[4] = {};
  if (!FListed.empty() && (FArchive.ReadAt(position, signature, 4) != 4 ||
                           !IsLocalSignature(GetLe32(signature))))
    position = FListed.front();
  StartLocalWalk(position);
}

void TZipDirectoryReader::StartLocalWalk(int64_t position) {
  FPosition = position;
  uint8_t signature[4] = {};
  // The first file of a spanned or split set starts with the spanning marker.
  if (FArchive.ReadAt(FPosition, signature, 4) == 4 && GetLe32(signature) == kSpanMarkerSig)
    FPosition += 4;
}

bool TZipDirectoryReader::NextLocal(TZipDirMember& member) {
  if (Cancelled() || FPosition < 0) return false;
  member = TZipDirMember{};
  uint8_t header[TLocalFileHeader::kSize] = {};
  if (FArchive.ReadAt(FPosition, header, sizeof header) != static_cast<int32_t>(sizeof header))
    return false;
  const TZipSignature sig = ClassifyZipSignature(GetLe32(header), TZipRecordKind::Local);
  if (!sig) {  // normally the first central header, or data that is no header
    if (FPhase == TPhase::Local) SayIfNoHeaderYet();
    return false;
  }
  if (sig.Enciphered) DecipherZipHeader(FHeaderCipher, header, TZipRecordKind::Local);
  const bool recovering = FPhase == TPhase::Recovery;
  if (!recovering) ++FHeadersSeen;
  member.Recovered = recovering;
  member.Listed =
      recovering && std::binary_search(FListed.begin(), FListed.end(), FPosition);
  member.Enciphered = sig.Enciphered;
  member.HeaderStart = member.LocalOffset = FPosition;
  member.Local = TLocalFileHeader::Decode(header);
  const TLocalFileHeader& local = member.Local;
  const uint32_t nameLength = local.NameLength;
  const uint32_t extraLength = local.ExtraLength;
  FVariable.resize(nameLength + extraLength);
  const int64_t namePosition = FPosition + static_cast<int64_t>(TLocalFileHeader::kSize);
  const int32_t got = FVariable.empty()
                          ? 0
                          : FArchive.ReadAt(namePosition, FVariable.data(),
                                            static_cast<int32_t>(FVariable.size()));
  TakeNameAndExtra(got > 0 ? static_cast<uint32_t>(got) : 0, nameLength, extraLength, false,
                   Zip64Wanted(local), member);
  member.Name = member.UnicodeName.empty()
                    ? ConvertZipName(member.RawName, FSetup.TranslateOem, local.Flags, -1)
                    : ConvertStoredName(member.UnicodeName, false);
  member.PackedSize = member.Extra.PackedSize(local.PackedSize);
  member.UnpackedSize = member.Extra.UnpackedSize(local.UnpackedSize);

  // Where the member ends: behind its data, or behind the data descriptor that holds its sizes.
  const int64_t dataStart = namePosition + nameLength + extraLength;
  TLocalMemberEnd end;
  member.EndFound = FindLocalMemberEnd(FArchive, local, member.PackedSize, member.UnpackedSize,
                                       dataStart, end, FSetup.Cancel);
  if (!member.EndFound) {
    // Nothing behind it can be found safely: this member is the walk's last.
    FPosition = -1;
    if (Cancelled()) return false;
    return true;
  }
  if (end.HasDescriptor) {
    member.HasDescriptor = true;
    member.Descriptor = end.Descriptor;
    member.PackedSize = end.Descriptor.PackedSize;
    member.UnpackedSize = end.Descriptor.UnpackedSize;
  }
  // Never backwards: a member that ends where it starts is the last.
  FPosition = end.Next > FPosition ? end.Next : -1;
  return true;
}

void TakeZipNameAndExtra(uint8_t* bytes, uint32_t have, uint32_t nameLength, uint32_t extraLength,
                         TZipCipher* cipher, bool central, TZip64Wanted wanted,
                         std::string& rawName, TZipExtra& extra, std::string& unicodeName) {
  uint32_t kept = std::min({nameLength, kMaxZipNameKept, have});
  if (cipher) DecipherZipName(*cipher, bytes, kept);
  extra = have > nameLength ? ParseZipExtraFields(bytes + nameLength,
                                                  std::min(extraLength, have - nameLength), central,
                                                  wanted)
                            : TZipExtra{};
  // The Unicode Path's CRC covers the whole stored name (headers the engine enciphers carry none).
  unicodeName.clear();
  if (extra.HasUnicodePath && !cipher && have >= nameLength)
    unicodeName = extra.UnicodeNameFor(bytes, nameLength);
  kept = static_cast<uint32_t>(std::find(bytes, bytes + kept, uint8_t{0}) - bytes);
  rawName.assign(reinterpret_cast<const char*>(bytes), kept);
}

bool TZipDirectoryReader::LocalHeaderPresent(TStream32& probe, int64_t localOffset,
                                             TZipExtra* localExtra) {
  uint8_t header[TLocalFileHeader::kSize];
  const TZipSignature signature =
      probe.ReadAt(localOffset, header, sizeof header) == static_cast<int32_t>(sizeof header)
          ? ClassifyZipSignature(GetLe32(header), TZipRecordKind::Local)
          : TZipSignature{};
  if (!signature) return false;
  if (localExtra) {
    *localExtra = TZipExtra{};
    TZipCipher cipher;
    if (signature.Enciphered) DecipherZipHeader(cipher, header, TZipRecordKind::Local);
    const TLocalFileHeader local = TLocalFileHeader::Decode(header);
    if (local.ExtraLength != 0) {
      std::vector<uint8_t> extra(local.ExtraLength);
      const int32_t got = probe.ReadAt(localOffset + static_cast<int64_t>(sizeof header) +
                                           local.NameLength,
                                       extra.data(), static_cast<int32_t>(extra.size()));
      if (got > 0)
        *localExtra =
            ParseZipExtraFields(extra.data(), static_cast<size_t>(got), false, Zip64Wanted(local));
    }
  }
  return true;
}
