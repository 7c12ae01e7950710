// The zip directory reader: the central walk, the completion of a short directory from the local
// headers, and the local-header walk, with their shared name, Unicode Path and extra-field steps.
#include "archive/records/arvZipDir.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>

#include "archive/common/arvGbls.h"
#include "archive/common/arvStreams.h"
#include "archive/messages/Err_Msgs.h"
#include "archive/records/arvZipOverlap.h"

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
  if (!FSpansScanned) ScanDirectorySpans();
  if (FArchiveSize > 0 && FPosition + static_cast<int64_t>(TCentralFileHeader::kSize) >= FArchiveSize)
    return false;
  member = TZipDirMember{};
  uint8_t* header = member.CentralBytes;
  int32_t fixed = 0;
  const uint8_t* at = DirectoryBytes(FPosition, TCentralFileHeader::kSize, fixed);
  if (fixed != static_cast<int32_t>(TCentralFileHeader::kSize)) return false;
  std::memcpy(header, at, TCentralFileHeader::kSize);
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
  int32_t got = 0;
  if (!FVariable.empty()) {
    const uint8_t* bytes =
        DirectoryBytes(FPosition + static_cast<int64_t>(TCentralFileHeader::kSize),
                       static_cast<int32_t>(FVariable.size()), got);
    if (got > 0) std::memcpy(FVariable.data(), bytes, static_cast<size_t>(got));
  }
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
  // An entry the scan did not see (the file changed under the walk) is taken for an overlap.
  const size_t index = static_cast<size_t>(FCentralIndex++);
  member.Overlapping = index >= FOverlapping.size() || FOverlapping[index];
  if (index < FLimits.size()) member.DataLimit = FLimits[index];
  member.CommentPosition =
      FPosition + static_cast<int64_t>(TCentralFileHeader::kSize) + nameLength + extraLength;
  FPosition = member.CommentPosition + central.CommentLength;
  return true;
}

void TZipDirectoryReader::ScanDirectorySpans() {
  FSpansScanned = true;
  // The whole directory, with the walk's own rules for where it ends, so that its entries are the
  // walk's one by one.
  std::vector<TZipMemberSpan> spans;
  int64_t position = FSetup.Start;
  for (;;) {
    if (Cancelled()) break;
    if (FArchiveSize > 0 &&
        position + static_cast<int64_t>(TCentralFileHeader::kSize) >= FArchiveSize)
      break;
    int32_t got = 0;
    const uint8_t* at = DirectoryBytes(position, TCentralFileHeader::kSize, got);
    if (got != static_cast<int32_t>(TCentralFileHeader::kSize)) break;
    uint8_t header[TCentralFileHeader::kSize];
    std::memcpy(header, at, sizeof header);
    const TZipSignature sig = ClassifyZipSignature(GetLe32(header), TZipRecordKind::Central);
    if (!sig) break;
    TZipCipher cipher;
    if (sig.Enciphered) DecipherZipHeader(cipher, header, TZipRecordKind::Central);
    const TCentralFileHeader central = TCentralFileHeader::Decode(header);
    const int64_t variable = position + static_cast<int64_t>(TCentralFileHeader::kSize);
    const int32_t wanted = static_cast<int32_t>(central.NameLength) + central.ExtraLength;
    int32_t have = 0;
    const uint8_t* bytes = wanted > 0 ? DirectoryBytes(variable, wanted, have) : nullptr;
    TZipExtra extra;
    if (have > static_cast<int32_t>(central.NameLength))
      extra = ParseZipExtraFields(
          bytes + central.NameLength,
          std::min<size_t>(central.ExtraLength, static_cast<size_t>(have) - central.NameLength),
          true, Zip64Wanted(central));
    const int64_t local =
        extra.LocalOffset(central.LocalHeaderOffset, FSetup.ExtendedEnd) + FSetup.OffsetAdjustment;
    const int64_t packed = extra.PackedSize(central.PackedSize);
    const int64_t unpacked = extra.UnpackedSize(central.UnpackedSize);
    TZipMemberSpan span = ZipMemberSpan(local, central.NameLength,
                                        static_cast<uint64_t>(std::max<int64_t>(packed, 0)),
                                        static_cast<uint64_t>(std::max<int64_t>(unpacked, 0)));
    if (FSetup.Spanned) span.Disk = extra.DiskStart(central.DiskNumberStart);
    spans.push_back(span);
    position = variable + wanted + central.CommentLength;
  }
  // A set's directory lies on a volume of its own, and its members may go on from one volume to
  // the next: only members on one volume are held to each other.
  if (FSetup.Spanned) {
    FOverlapping = FindZipOverlaps(spans, 0, 0);
    return;
  }
  FOverlapping = FindZipOverlaps(spans, FSetup.Start, position);
  FLimits = ZipSpanLimits(spans, FSetup.Start);
}

const uint8_t* TZipDirectoryReader::DirectoryBytes(int64_t position, int32_t count, int32_t& got) {
  // An entry is at most 46 bytes and three 64 KiB fields: a block always holds a whole one.
  constexpr int32_t kBlock = 1 << 18;
  if (FBlock.empty()) FBlock.resize(static_cast<size_t>(kBlock));
  if (position < FBlockStart || position + count > FBlockStart + FBlockHave) {
    FBlockStart = position;
    FBlockHave = std::max(FArchive.ReadAt(position, FBlock.data(), kBlock), 0);
  }
  got = static_cast<int32_t>(std::clamp<int64_t>(FBlockStart + FBlockHave - position, 0, count));
  return FBlock.data() + (position - FBlockStart);
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
  // Its data ends where the walk found its end: nothing is read beyond it.
  member.DataLimit = dataStart + member.PackedSize;
  // Never backwards: a member that ends where it starts is the last.
  FPosition = end.Next > FPosition ? end.Next : -1;
  return true;
}

void TakeZipNameAndExtra(uint8_t* bytes, uint32_t have, uint32_t nameLength, uint32_t extraLength,
                         TZipCipher* cipher, bool central, TZip64Wanted wanted,
                         std::string& rawName, TZipExtra& extra, std::string& unicodeName,
                         TZipNameFacts* facts) {
  if (facts) *facts = TZipNameFacts{};
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
  // A Unicode Path that holds a zero byte or leads outside is set aside for the stored name: it
  // cannot be what its writer meant, and would name something else than the stored name does.
  if (!unicodeName.empty() &&
      (unicodeName.find('\0') != std::string::npos || ZipNameLeadsOutside(unicodeName))) {
    if (facts) {
      facts->UnicodePathRefused = true;
      facts->RefusedUnicodePath = std::move(unicodeName);
    }
    unicodeName.clear();
  }
  const uint32_t whole = kept;
  kept = static_cast<uint32_t>(std::find(bytes, bytes + kept, uint8_t{0}) - bytes);
  rawName.assign(reinterpret_cast<const char*>(bytes), kept);
  if (kept < whole && facts) {
    facts->NulInName = true;
    facts->WholeName.assign(reinterpret_cast<const char*>(bytes), whole);
  }
}

bool ZipNameLeadsOutside(const std::string& name) {
  if (name.empty()) return false;
  if (name[0] == '/' || name[0] == '\\') return true;
  if (name.size() >= 2 && name[1] == ':') return true;
  int depth = 0;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    const std::string_view part(name.data() + start, end - start);
    if (part == "..") {
      if (--depth < 0) return true;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return false;
}

bool ZipNameNamesNothing(const std::string& name) {
  size_t start = name.size() >= 2 && name[1] == ':' ? 2 : 0;
  while (start <= name.size()) {
    size_t end = name.find('\\', start);
    if (end == std::string::npos) end = name.size();
    const std::string_view part(name.data() + start, end - start);
    if (!part.empty() && part != "." && part != "..") return false;
    start = end + 1;
  }
  return true;
}

std::string VisibleZipName(const std::string& name) {
  std::string shown;
  shown.reserve(name.size());
  for (const char c : name) {
    if (c == '\0') {
      shown += "^@";
    } else {
      shown += c;
    }
  }
  return shown;
}

TZipRefusal ZipMemberRefusal(const TZipDirMember& member) {
  if (member.NameFacts.NulInName) return TZipRefusal::NulInName;
  if (member.Name.empty()) return TZipRefusal::EmptyName;
  // A name that ends in a separator is taken for a folder; one that names nothing more than the
  // destination would drop its data without a word. (Other names that name nothing, "..", "C:",
  // are refused as names when the output path is made.)
  if (member.UnpackedSize > 0 && member.Name.back() == '\\' && ZipNameNamesNothing(member.Name))
    return TZipRefusal::NamesNothing;
  if (member.Overlapping) return TZipRefusal::Overlapping;
  return TZipRefusal::None;
}

int ZipRefusalCode(TZipRefusal refusal) {
  return refusal == TZipRefusal::Overlapping ? kErrBadFileHeader : kErrInvalidFileName;
}

std::string ZipRefusalText(TZipRefusal refusal, const TZipDirMember& member) {
  switch (refusal) {
    case TZipRefusal::None:
      break;
    case TZipRefusal::Overlapping:
      return "overlapping members: a possible zip bomb";
    case TZipRefusal::EmptyName:
      return "the member at offset " + std::to_string(member.LocalOffset) +
             " has an empty name; not written";
    case TZipRefusal::NulInName:
      return "the name \"" + VisibleZipName(member.NameFacts.WholeName) +
             "\" holds a zero byte; not written";
    case TZipRefusal::NamesNothing:
      return "the name \"" + member.RawName + "\" names no file, but the member holds " +
             std::to_string(member.UnpackedSize) + " bytes; not written";
  }
  return {};
}

bool ZipSelectsEveryName(const TStringList& fileSpec) {
  for (int i = 0; i < fileSpec.Count(); ++i)
    if (fileSpec[i] == "*" || fileSpec[i] == "*.*") return true;
  return false;
}

std::vector<std::string> ZipMemberWarnings(const TZipDirMember& member) {
  std::vector<std::string> said;
  if (member.NameFacts.UnicodePathRefused) {
    const std::string& path = member.NameFacts.RefusedUnicodePath;
    said.push_back("its Unicode Path \"" + VisibleZipName(path) + "\" " +
                   (path.find('\0') != std::string::npos ? "holds a zero byte"
                                                         : "leads outside the destination") +
                   "; the header's name is used");
  }
  if (member.UnpackedSize > 0 && !member.Name.empty() && member.Name.back() == '\\')
    said.push_back("a folder entry that holds " + std::to_string(member.UnpackedSize) +
                   " bytes: the folder is made, the bytes are not written");
  return said;
}

bool TZipDirectoryReader::LocalHeaderPresent(TStream32& probe, int64_t localOffset,
                                             TZipExtra* localExtra, int64_t* dataStart) {
  uint8_t header[TLocalFileHeader::kSize];
  const TZipSignature signature =
      probe.ReadAt(localOffset, header, sizeof header) == static_cast<int32_t>(sizeof header)
          ? ClassifyZipSignature(GetLe32(header), TZipRecordKind::Local)
          : TZipSignature{};
  if (!signature) return false;
  if (dataStart) {
    // The lengths are enciphered with the rest of an enciphered header.
    TZipCipher cipher;
    uint8_t plain[TLocalFileHeader::kSize];
    std::memcpy(plain, header, sizeof plain);
    if (signature.Enciphered) DecipherZipHeader(cipher, plain, TZipRecordKind::Local);
    const TLocalFileHeader local = TLocalFileHeader::Decode(plain);
    *dataStart =
        localOffset + static_cast<int64_t>(sizeof header) + local.NameLength + local.ExtraLength;
  }
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
