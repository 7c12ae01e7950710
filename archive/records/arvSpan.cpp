// The drive examination and the disk-swapping dialogue of spanned zip sets, on the host layer's
// drive services. No code here writes to a disk except the empty temporary file that tells
// whether the disk is write-protected, which is deleted at once.
#include "archive/records/arvSpan.h"

#include <cstdio>
#include <exception>

#include "archive/common/arvGbls.h"
#include "archive/common/arvStreams.h"
#include "archive/messages/Err_Msgs.h"

namespace {

constexpr char kApplicationTitle[] = "Parcelo";
constexpr char kDiskLabelMark[] = "PKBACK# ";

std::string DriveTypeName(uint8_t type) {
  switch (type) {
    case host::dtNoRootDir:
      return "None";
    case host::dtRemovable:
      return "Floppy";
    case host::dtFixed:
      return "Fixed";
    case host::dtRemote:
      return "Network";
    case host::dtCdRom:
      return "CD-ROM";
    case host::dtRamDisk:
      return "RAM";
    default:
      return "Unknown";
  }
}

}  // namespace

// ---- TDiskCommon --------------------------------------------------------------------------------
void TDiskCommon::ReportError(const std::string& fileName, const std::string& extendedMsg,
                              const std::string& volumeId, int code) {
  if (FCallbacks.ReportError) FCallbacks.ReportError(fileName, extendedMsg, volumeId, code);
}

void TDiskCommon::RaiseError(const std::string& fileName, const std::string& extendedMsg,
                             const std::string& volumeId, int code) {
  if (FCallbacks.RaiseError) FCallbacks.RaiseError(fileName, extendedMsg, volumeId, code);
}

// ---- TDiskManager -------------------------------------------------------------------------------
std::string TDiskManager::DriveOfPath(const std::string& path) {
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    // \\server\share: up to the backslash after the share name.
    const size_t server = path.find('\\', 2);
    if (server == std::string::npos) return path;
    const size_t share = path.find('\\', server + 1);
    return share == std::string::npos ? path : path.substr(0, share);
  }
  if (path.size() >= 2 && path[1] == ':') {
    return std::string(1, UpperAscii(path[0])) + ":";
  }
  const char drive = host::DriveOfPath(host::GetCurrentDir());
  return drive ? std::string(1, drive) + ":" : std::string();
}

uint16_t TDiskManager::DiskNumberFromLabel(const std::string& label, bool& ok) {
  ok = true;
  if (label.find(kDiskLabelMark) == std::string::npos) return 0;
  std::string text = label;
  std::string piece;
  while (!text.empty()) piece = SplitToken(text, kDiskLabelMark);
  if (piece.empty()) {
    ok = false;  // "PKBACK# " and nothing after it
    return 0;
  }
  if (!IsAllDigits(piece)) return 0;
  uint32_t value = 0;
  for (char c : piece) {
    value = value * 10 + static_cast<uint32_t>(c - '0');
    if (value > 0xFFFF) return 0;  // not a disk number
  }
  return static_cast<uint16_t>(value);
}

std::string TDiskManager::Root() const {
  return AppendBackslash(FDrive);
}

bool TDiskManager::Examine(const std::string& path, TDiskPromptEvent insertDiskPrompt,
                           TDiskPromptEvent writeProtectPrompt, TErrorRoute reportError,
                           TErrorRoute raiseError) {
  TDiskCallbacks callbacks;
  callbacks.InsertDiskPrompt = std::move(insertDiskPrompt);
  callbacks.WriteProtectPrompt = std::move(writeProtectPrompt);
  callbacks.ReportError = std::move(reportError);
  callbacks.RaiseError = std::move(raiseError);
  return Examine(path, callbacks);
}

bool TDiskManager::Examine(const std::string& path, const TDiskCallbacks& callbacks) {
  try {
    FCallbacks = callbacks;
    FDrive = DriveOfPath(path);
    return ExamineSteps();
  } catch (...) {
    // The prompts run the caller's handlers, which may throw anything; an examination that
    // cannot finish finds no disk.
    return false;
  }
}

bool TDiskManager::ExamineSteps() {
  const std::string root = Root();
  const bool unc = FDrive.size() >= 2 && FDrive[0] == '\\' && FDrive[1] == '\\';

  if (!unc) {
    // Readiness: the drive's size can be read once a disk is in it.
    uint64_t freeBytes = 0, totalBytes = 0;
    while (!host::GetDiskFreeSpace(root, freeBytes, totalBytes)) {
      if (!FCallbacks.InsertDiskPrompt) {
        ReportError(root, "", "0", kErrNotAccessible);
        return false;
      }
      bool cancel = true;
      FCallbacks.InsertDiskPrompt(this, cancel);
      if (cancel) {
        RaiseError(root, "", "0", kErrUserCanceled);
        return false;
      }
    }

    // Writability: an empty temporary file in the root, deleted again.
    for (;;) {
      bool writable = true;
      const std::string temp = host::CreateTempFileIn(root);
      if (temp.empty()) {
        if (host::LastError() == host::kErrorWriteProtect) writable = false;
      } else if (!host::DeleteFile(temp) && host::FileExists(temp)) {
        writable = false;
      }
      if (writable) break;
      if (!FCallbacks.WriteProtectPrompt) {
        ReportError(root, "", "0", kErrWriteProtected);
        return false;
      }
      bool cancel = true;
      FCallbacks.WriteProtectPrompt(this, cancel);
      if (cancel) {
        RaiseError(root, "", "0", kErrUserCanceled);
        return false;
      }
    }
  }

  // Volume information; the user may retry (another disk) or give up.
  host::TVolumeInfo info;
  while (!host::GetVolumeInformation(root, info)) {
    const uint32_t error = host::LastError();
    const std::string text = UpperCaseAscii(root) + LoadStr(kErrNotAccessible) + "\r\n\r\n" +
                             host::SysErrorMessage(error);
    if (host::AskRetryCancel(text, kApplicationTitle) == host::TAnswer::Cancel) {
      RaiseError(root, "", "0", kErrNotAccessible);
      return false;
    }
    info = host::TVolumeInfo{};
  }
  FVolumeLabel = info.Label.substr(0, 256);
  bool labelOk = true;
  FDiskNumber = DiskNumberFromLabel(FVolumeLabel, labelOk);
  FSerialNumber = info.Serial;
  char serial[9];
  std::snprintf(serial, sizeof serial, "%08X", info.Serial);
  FSerialString = serial;
  FFileSystemName = info.FileSystemName;
  FFileSystemFlags = info.FileSystemFlags;
  FMaxComponentLength = info.MaxComponentLength;

  FDriveType = static_cast<uint8_t>(host::GetDriveType(root));
  if (FDriveType == host::dtNoRootDir) {
    ReportError(root, "", "0", kErrNotAccessible);
    return false;
  }

  FFreeSpace = 0;
  FTotalSize = 0;
  if (!(FDriveType == host::dtRemote && (FDrive.size() < 2 || FDrive[1] != ':'))) {
    host::GetDiskFreeSpace(root, FFreeSpace, FTotalSize);
  }

  // Floppy kinds (7 for 3.5-inch, 8 for 5.25-inch) come from a legacy BIOS disk service; where
  // it is missing, as on this host (HasLegacyDriveKindService), the kind is 0.
  FDriveKind = kKindUnknown;
  if (FDriveType == host::dtRemovable) {
    FDriveKindName = FDriveKind == kKind35Floppy    ? "3\u00BD Floppy"
                     : FDriveKind == kKind525Floppy ? "5\u00BC Floppy"
                                                    : "Unknown";
  } else {
    FDriveKindName = DriveTypeName(FDriveType);
  }
  return true;
}

// ---- TDiskSpannObj ------------------------------------------------------------------------------
void TDiskSpannObj::PrepareSpan(TRegisterArcova* component, uint8_t* cancelFlag,
                                TDiskCallbacks callbacks) {
  FComponent = component;
  FCancel = cancelFlag;
  FCallbacks = std::move(callbacks);
  FDiskCounter = 0;
}

void TDiskSpannObj::SetCancel() {
  if (FCancel) *FCancel = 1;
}

bool TDiskSpannObj::ChangeDisk(std::unique_ptr<TStream32>& stream) {
  stream.reset();
  if (!FComponent) return false;
  const std::string archive = FComponent->ArchiveFile();

  const char* eventName = FDiskCounter == 0   ? "OnGetZipLastDisk"
                          : FDiskCounter == 1 ? "OnGetZipFirstDisk"
                                              : "OnGetZipNextDisk";
  const bool assigned = FDiskCounter == 0   ? static_cast<bool>(OnGetZipLastDisk)
                        : FDiskCounter == 1 ? static_cast<bool>(OnGetZipFirstDisk)
                                            : static_cast<bool>(OnGetZipNextDisk);
  if (!assigned) {
    ReportError(archive, eventName, std::to_string(FDiskCounter), kErrEventNotAssigned);
    SetCancel();
    return false;
  }

  bool ok = false;
  try {
    ok = FDiskCounter == 0 ? BringInLastDisk() : BringInDisk();
  } catch (...) {
    ok = false;  // the disk events' handlers may throw anything: no disk, and the run is canceled
  }
  if (!ok) {
    SetCancel();
    return false;
  }

  const std::string name = FComponent->ArchiveFile().empty() ? archive : FComponent->ArchiveFile();
  auto reopened = std::make_unique<TFileStream32>(name, host::fmOpenRead | host::fmShareDenyWrite);
  if (reopened->Handle() < 0) {
    ReportError(name, "", "0", kErrOpeningFile);
    return false;
  }
  FComponent->SetVolumeSize(reopened->Size());
  stream = std::move(reopened);
  return true;
}

bool TDiskSpannObj::BringInLastDisk() {
  // The name is kept while disks are swapped, even when the drive is empty for a moment.
  const std::string archive = FComponent->ArchiveFile();
  FComponent->RedetectVolume(archive);
  while (!(FComponent->HeaderState() & kHeaderEnd)) {
    bool cancel = true;
    OnGetZipLastDisk(this, cancel);
    if (cancel) return false;
    FComponent->RedetectVolume(archive);
  }
  if (!IsFoundType(FComponent->ArcType())) return false;
  FDiskCounter = 1;
  return true;
}

bool TDiskSpannObj::BringInDisk() {
  for (;;) {
    if (DiskHoldsCurrentMember()) {
      ++FDiskCounter;
      return true;
    }
    bool cancel = true;
    if (FDiskCounter == 1) {
      OnGetZipFirstDisk(this, cancel);
    } else {
      OnGetZipNextDisk(this, std::to_string(FDiskCounter), cancel);
    }
    if (cancel) return false;
  }
}

bool TDiskSpannObj::DiskHoldsCurrentMember() {
  if (!FComponent) return false;
  try {
    const std::string archive = FComponent->ArchiveFile();
    FDiskManager.Examine(archive, FCallbacks);
    TFileStream32 file(archive, host::fmOpenRead | host::fmShareDenyWrite);
    if (file.Handle() < 0) {
      ReportError(archive, "", "0", kErrOpeningFile);
      return false;
    }
    const int64_t position = CurrentMemberPosition ? CurrentMemberPosition() : 0;
    if (position < 0) return false;
    if (position + static_cast<int64_t>(TLocalFileHeader::kSize) > file.Size()) {
      switch (FComponent->ArcType()) {
        case atZipDS:
          return FDiskManager.Examine(archive, FCallbacks) &&
                 FDiskManager.DiskNumber() == FDiskCounter;
        case atZipMV:
          return true;
        default:
          return false;
      }
    }
    uint8_t b[4];
    if (file.Seek64(position, host::kSeekBegin) != position || file.Read(b, 4) != 4) return false;
    const uint32_t sig = GetLe32(b);
    return sig == kSpanMarkerSig || sig == kLocalSig || sig == kCentralSig;
  } catch (const std::exception&) {
    return false;  // a disk that cannot be read is not the one wanted
  }
}
