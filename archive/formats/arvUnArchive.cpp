// The extractor of the other formats: walks the member source of the archive's type, selects by
// FileSpec, and hands each member to the driver (ExtractEntry for files and folders) or makes it
// here under the driver's rules (links); decoding goes through the source into the driver's
// WriteBlock. It writes nothing the driver would not, and never follows a link it did not check.
#include "archive/formats/arvUnArchive.h"

#include <algorithm>
#include <exception>
#include <new>

#include "archive/common/arvScopeExit.h"

namespace {

constexpr uint32_t kUnixPermissions = 0777;  // set-uid, set-gid and sticky (07000) are dropped
constexpr uint32_t kUnixRegular = 0100000;
constexpr uint32_t kDosBits = host::faReadOnly | host::faHidden | host::faSysFile | host::faArchive;

std::string MemberNameOf(const TSourceMember& member) {
  std::string name = SlashToBackslash(member.Name);
  if (member.Kind == TMemberKind::Folder && !name.empty() && name.back() != '\\') name += '\\';
  return name;
}

}  // namespace

std::vector<std::string> ExtractedExtensions() {
  struct TTypeExtensions {
    TArcType Type;
    const char* Extensions;  // space-separated
  };
  // Self-extracting forms are programs (".exe"): no extension of their own.
  static constexpr TTypeExtensions kTable[] = {
      {atZip, "zip"},       {atJar, "jar"},     {at7Zip, "7z"},
      {atRar, "rar"},       {atTar, "tar"},     {atTarGZip, "tar.gz tgz"},
      {atGZip, "gz z taz"}, {atXz, "xz txz"},   {atBZip2, "bz2 tbz2 tbz"},
      {atZstd, "zst tzst"}, {atLz4, "lz4"},     {atLzip, "lz tlz"},
      {atCpio, "cpio"},     {atIso9660, "iso"}, {atLha, "lha"},
      {atLzh, "lzh"},       {atCab, "cab"},     {atArj, "arj"},
      {atArc, "arc"},       {atPak, "pak"},     {atZoo, "zoo"},
      {atHA, "ha"},         {atAce, "ace"},     {atBh, "bh"},
      {atUUE, "uue uu"},
  };
  std::vector<std::string> extensions;
  for (const TTypeExtensions& entry : kTable) {
    if (!IsZipFamily(entry.Type) && !TUnArchive::ReadsType(entry.Type)) continue;
    std::string list = entry.Extensions;
    for (size_t start = 0; start < list.size();) {
      size_t end = list.find(' ', start);
      if (end == std::string::npos) end = list.size();
      const std::string extension = list.substr(start, end - start);
      if (std::find(extensions.begin(), extensions.end(), extension) == extensions.end())
        extensions.push_back(extension);
      start = end + 1;
    }
  }
  return extensions;
}

TUnArchive::TUnArchive(TComponent* owner) : TUnBase(owner) {}

TUnArchive::~TUnArchive() = default;

bool TUnArchive::ReadsType(TArcType type) {
  return !IsZipFamily(type) && HasMemberSource(type);
}

uint32_t TUnArchive::MemberAttributes(const TSourceMember& member) {
  uint32_t attributes = member.Attributes & kDosBits;
  if ((member.Mode & kUnixPermissions) != 0) {
    const uint32_t type = member.Kind == TMemberKind::Folder ? 0040000 : kUnixRegular;
    attributes |= ((member.Mode & kUnixPermissions) | type) << 16;
  }
  if (member.Kind == TMemberKind::Folder) attributes |= host::faDirectory;
  return attributes == 0 ? host::faArchive : attributes;
}

void TUnArchive::SyncArchiveProgress() {
  if (!FSource) return;
  const int64_t read = FSource->BytesRead();
  if (read >= 0) FRemaining = std::max<int64_t>(FArchiveTotal - read, 0);
}

void TUnArchive::ExtractArchive(std::unique_ptr<TStream32>& archive) {
  FSelectedCount = 0;
  FArchiveDamaged = false;
  FWhole.clear();
  // The driver's member steps want the archive stream even where the source reads the file itself.
  if (!archive) archive = OpenArchiveStream(FArchiveFile);
  std::string hostPath;
  if (!archive || !host::ToHostPath(FArchiveFile, hostPath)) {
    ReportError(FArchiveFile, "", "0", kErrOpeningFile);
    return;
  }
  TSourceServices services;
  services.Cancel = &FCancel;
  services.Warning = [this](int code, const std::string& detail) {
    ReportError(FArchiveFile, detail, "0", code);
  };
  services.NextVolume = [this](std::string& volumeName, const std::string& volumeId) {
    std::string systemName = host::FromHostPath(volumeName);
    if (!AskNextVolume(systemName, volumeId)) return false;
    return host::ToHostPath(systemName, volumeName);
  };
  FArchiveTotal = std::max<int64_t>(archive->GetSize(), 0);
  FTotalUnpacked = FArchiveTotal;  // progress through the archive goes by its bytes read
  FRemaining = FArchiveTotal;
  FSource =
      OpenMemberSource(FArcType, hostPath, std::max<int64_t>(FDetected.StartOffset, 0), services);
  if (!FSource) {
    ReportError(FArchiveFile, "", "0", kErrUnsupportedType);
    return;
  }
  const TScopeExit drop([this] { FSource.reset(); });
  TSourceMember member;
  try {
    while (!FCancel && FSource->Next(member)) {
      const std::string name = MemberNameOf(member);
      if (!MatchesFileSpec(name)) continue;
      ++FSelectedCount;
      FStoredName = name;
      BuildOutputName(name);
      FMemberTime = member.HasExactTime ? TExactTime{true, member.UnixTime, member.Nanoseconds}
                                        : TExactTime{};
      if (static_cast<int32_t>(member.DosDateTime) > static_cast<int32_t>(FLatestDate))
        FLatestDate = member.DosDateTime;
      SyncArchiveProgress();
      if (BelowLinkMade()) {
        ReportError(FOutputPath, "lies below a symbolic link made from the archive; not written",
                    "0", kErrInvalidFileName);
        MemberFailed(false);
        continue;
      }
      switch (member.Kind) {
        case TMemberKind::Folder:
          ExtractFolder(archive, member);
          break;
        case TMemberKind::Symlink:
          ExtractSymlink(member);
          break;
        case TMemberKind::Hardlink:
          if (member.Size > 0) {
            ExtractFile(archive, member);  // the link's entry carries the data itself
          } else {
            ExtractHardlink(member);
          }
          break;
        case TMemberKind::Device:
          RefuseMember("a device node; not created");
          break;
        case TMemberKind::Fifo:
          RefuseMember("a FIFO; not created");
          break;
        case TMemberKind::File:
          ExtractFile(archive, member);
          break;
      }
      FMemberTime = TExactTime{};
    }
  } catch (...) {
    // The members run the caller's event handlers, which may throw anything: the walk ends here,
    // and the run counts what was extracted.
  }
  SyncArchiveProgress();
  if (FSource->ErrorCode() != 0 && !FCancel) {
    FArchiveDamaged = true;
    ReportError(FArchiveFile, FSource->ErrorDetail(), "0", FSource->ErrorCode());
  }
}

void TUnArchive::RefuseMember(const std::string& reason) {
  ReportError(FOutputPath.empty() ? FStoredName : FOutputPath, reason, "0", kErrInvalidFileName);
  MemberFailed(false);
}

void TUnArchive::ExtractFolder(std::unique_ptr<TStream32>& archive, const TSourceMember& member) {
  TMemberSizes sizes;
  sizes.UnpackedSize = 0;
  FMemberSize = 0;
  ExtractEntry(archive, MemberAttributes(member), sizes, 0, member.DosDateTime);
}

void TUnArchive::ExtractFile(std::unique_ptr<TStream32>& archive, const TSourceMember& member) {
  TMemberSizes sizes;
  sizes.UnpackedSize = std::max<int64_t>(member.Size, 0);
  sizes.PackedSize = std::max<int64_t>(member.PackedSize, 0);
  FMemberSize = member.Size;
  FMemberDone = 0;
  FEncryptedMember = member.Encrypted;
  FResult = TDecodeResult::Ok;
  const bool whole = ExtractEntry(archive, MemberAttributes(member), sizes, 0, member.DosDateTime);
  if (whole) {
    try {
      FWhole.insert(FOutputPath);
    } catch (const std::bad_alloc&) {
      // Unremembered, the file only cannot be the target of a hard link.
    }
  }
  // What was written of a member that failed is gone already (the driver settles every output),
  // and a file that was there before keeps its bytes.
}

bool TUnArchive::DecodeZipMember(const std::string& outputPath, TMemberSizes&, host::THandle out,
                                 std::unique_ptr<TStream32>&) {
  const auto sink = [this, out](const uint8_t* bytes, size_t count) {
    while (count > 0) {
      const int32_t chunk = static_cast<int32_t>(std::min<size_t>(count, 1u << 30));
      // No deciphering on this path, so the block is not changed.
      WriteBlock(out, const_cast<uint8_t*>(bytes), chunk, {.CrcKind = kCrcKind32});
      bytes += chunk;
      count -= static_cast<size_t>(chunk);
      FMemberDone += chunk;
    }
    SyncArchiveProgress();
    ReportProgress(FMemberDone, FMemberSize > 0 ? FMemberSize : FMemberDone, FArchiveTotal);
  };
  const auto attempt = [&](const std::string& password) {
    if (FMemberDone > 0 && out >= 0) {
      // What a wrong password made of the member goes before the next try.
      host::FileSeek(out, 0, host::kSeekBegin);
      host::SetEndOfFile(out);
    }
    FChecksums.Crc32 = 0xFFFFFFFF;
    FMemberDone = 0;
    FResult = FSource->Decode(sink, password);
    return FResult != TDecodeResult::WrongPassword;
  };

  if (!FEncryptedMember) {
    attempt(std::string());
  } else {
    // The password that opened the last member, then the list, then the person (once a run).
    bool opened = false, tried = false;
    if (!FPassword.empty()) {
      tried = true;
      opened = attempt(FPassword);
    }
    for (int i = 0; !opened && i < FPasswords.Count(); ++i) {
      if (FPasswords[i].empty()) continue;
      tried = true;
      FPassword = FPasswords[i];
      opened = attempt(FPassword);
    }
    if (!opened && !tried) opened = attempt(std::string());  // a method the source cannot open
    if (!opened && OnGetPassword && !FPasswordFailed) {
      TTimerPause pause(FTimer);
      for (int i = 0; !opened && i < FPasswordAttempts && !FCancel; ++i) {
        std::string password;
        bool tryAgain = true;
        OnGetPassword(this, outputPath, password, tryAgain);
        if (!tryAgain) break;
        tried = true;
        if (attempt(password)) {
          opened = true;
          FPassword = password;
          FPasswords.Insert(0, password);
        }
      }
      if (!opened) FPasswordFailed = true;
    }
    if (!opened) {
      FPassword.clear();
      if (tried) {
        ReportError(outputPath, "wrong password", "0", kErrInvalidPassword);
      } else {
        ReportError(outputPath, "password needed", "0", kErrPasswordFailed);
      }
      return false;
    }
  }
  switch (FResult) {
    case TDecodeResult::Ok:
    case TDecodeResult::ChecksumFailed:  // decoded whole: the verdict is CheckCrc's
      return true;
    case TDecodeResult::Cancelled:
      return false;
    case TDecodeResult::WrongPassword:
    case TDecodeResult::EncryptedUnsupported:
    case TDecodeResult::Unsupported:
    case TDecodeResult::Damaged:
    case TDecodeResult::Truncated:
      break;
  }
  int code = FSource->ErrorCode();
  if (code == 0) {
    code = FResult == TDecodeResult::Truncated ? kErrReadingFile
           : FResult == TDecodeResult::Damaged ? kErrBadBlock
                                               : kErrUnsupportedMethod;
  }
  ReportError(outputPath, FSource->ErrorDetail(), "0", code);
  return false;
}

bool TUnArchive::CheckCrc(int, uint32_t) {
  const std::string detail =
      FResult == TDecodeResult::ChecksumFailed && FSource ? FSource->ErrorDetail() : std::string();
  return SettleChecked(!FCancel && FResult == TDecodeResult::Ok, detail);
}

void TUnArchive::ExtractSymlink(const TSourceMember& member) {
  if (FNameRefused || FOutputPath.empty() || FOutputPath.back() == '\\') {
    ReportError(FStoredName, "", "0", kErrInvalidFileName);
    MemberFailed(false);
    return;
  }
  if (!ApproveEntry(false)) return;
  std::string target = member.LinkTarget;
  std::string reason;
  bool made = false;
  if (target.empty() && member.Size > 0 && member.Size <= kMaxLinkTarget) {
    // A format that keeps the target as the link's data.
    FResult = FSource->Decode(
        [&target](const uint8_t* bytes, size_t count) {
          if (target.size() + count <= static_cast<size_t>(kMaxLinkTarget))
            target.append(reinterpret_cast<const char*>(bytes), count);
        },
        std::string());
    if (FResult != TDecodeResult::Ok) target.clear();
  }
  if (target.empty() || static_cast<int64_t>(target.size()) > kMaxLinkTarget) {
    reason = "symbolic link not created: its target is empty or too long";
  } else {
    made = MakeSymlink(target, reason);
  }
  if (made) return;
  MemberFailed(true);
  ReportError(FOutputPath, reason, "0", kErrInvalidFileName);
}

void TUnArchive::ExtractHardlink(const TSourceMember& member) {
  if (FNameRefused || FOutputPath.empty() || FOutputPath.back() == '\\') {
    ReportError(FStoredName, "", "0", kErrInvalidFileName);
    MemberFailed(false);
    return;
  }
  // Where the member linked to was written, by the same naming rule.
  const std::string linkPath = FOutputPath;
  BuildOutputName(SlashToBackslash(member.LinkTarget));
  const std::string targetPath = FOutputPath;
  const std::string targetBase = FOutputBase;
  const std::string targetRelative = FOutputRelative;
  const bool targetBelow = OutputIsBelowBase();
  BuildOutputName(FStoredName);
  if (FWhole.count(targetPath) == 0 || !targetBelow) {
    RefuseMember("hard link to \"" + member.LinkTarget +
                 "\", which this run did not extract; not created");
    return;
  }
  if (targetPath == linkPath) {
    // A link to itself names the file that is there already.
    if (ApproveEntry(false) && OnEnd) OnEnd(this, FOutputPath, true);
    return;
  }
  if (!FOutputFolder.PathIsPlain(FOutputBase, FOutputRelative)) {
    ReportError(FOutputPath, host::LastErrorText(), "0", kErrOpeningFile);
    MemberFailed(false);
    return;
  }
  if (!ApproveEntry(false)) return;
  if (FTestOnly) {
    if (OnEnd) OnEnd(this, FOutputPath, true);
    return;
  }
  // Made as a copy of the file written before: a link on disk would let a later member that
  // replaces one name change the other.
  const host::THandle in = FOutputFolder.FileOpen(targetBase, targetRelative);
  if (in < 0) {
    MemberFailed(true);
    ReportError(FOutputPath, host::LastErrorText(), "0", kErrOpeningFile);
    return;
  }
  const TScopeExit closeIn([in] { host::FileClose(in); });
  host::THandle out = host::kInvalidHandle;
  if (!OpenOutput(out)) {
    MemberFailed(true);
    return;
  }
  FWriteError = host::kErrorSuccess;
  bool copied = true;
  try {
    uint8_t* buffer = RunBuffer(static_cast<size_t>(kCopyBlockSize));
    for (int32_t got; (got = host::FileRead(in, buffer, kCopyBlockSize)) != 0;) {
      if (got < 0 || FCancel) {
        copied = false;
        break;
      }
      WriteBlock(out, buffer, got);
    }
  } catch (...) {
    copied = false;
  }
  CloseOutput(out, MemberAttributes(member), member.DosDateTime, FOutputPath);
  if (FWriteError != host::kErrorSuccess) copied = false;
  if (!copied) {
    if (FWriteError != host::kErrorSuccess) {
      ReportError(FOutputPath, FWriteErrorText, "0",
                  FWriteError == host::kErrorDiskFull ? kErrDiskFull : kErrWritingFile);
    } else if (!FCancel) {
      ReportError(FOutputPath, host::LastErrorText(), "0", kErrReadingFile);
    }
  }
  // The copy takes its place only whole; a file that was there before stays otherwise.
  if (FOutputMade && !SettleOutput(copied)) copied = false;
  if (!copied) {
    MemberFailed(true);
    if (OnEnd) OnEnd(this, FOutputPath, false);
    return;
  }
  if (OnEnd) OnEnd(this, FOutputPath, true);
  try {
    FWhole.insert(FOutputPath);
  } catch (const std::bad_alloc&) {
  }
}
