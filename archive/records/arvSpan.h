// Spanned-disk volumes: TDiskManager examines the drive that holds a file (readiness, writability,
// volume label and PKBACK# disk number, drive type, sizes), and TDiskSpannObj leads the user
// through the disks of a spanned zip set by firing the disk events until the wanted disk is in the
// drive. Both work through the host layer's drive services; neither writes to an archive.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/records/arvregister.h"

class TStream32;

// A prompt: Cancel comes preset to true; a handler that leaves it true cancels.
using TDiskPromptEvent = std::function<void(TObject* Sender, bool& Cancel)>;
// An error route of the component: ReportError fires OnError and returns; RaiseError fires it
// and then raises (E_RAISE) unless the component is cancelled.
using TErrorRoute = std::function<void(const std::string& FileName, const std::string& ExtendedMsg,
                                       const std::string& VolumeID, int ECode)>;

// The four callbacks the component hands to the disk classes; each may be unassigned.
struct TDiskCallbacks {
  TErrorRoute RaiseError;
  TErrorRoute ReportError;
  TDiskPromptEvent WriteProtectPrompt;  // asked while the disk is write-protected
  TDiskPromptEvent InsertDiskPrompt;    // asked while the drive is not ready
};

class TDiskCommon : public TObject {
 public:
  const TDiskCallbacks& Callbacks() const { return FCallbacks; }
  void SetCallbacks(TDiskCallbacks callbacks) { FCallbacks = std::move(callbacks); }

 protected:
  // Route an error; silent when the route is unassigned.
  void ReportError(const std::string& fileName, const std::string& extendedMsg,
                   const std::string& volumeId, int code);
  void RaiseError(const std::string& fileName, const std::string& extendedMsg,
                  const std::string& volumeId, int code);

  TDiskCallbacks FCallbacks;
};

class TDiskManager : public TDiskCommon {
 public:
  // Drive kinds of a removable drive.
  static constexpr uint8_t kKindUnknown = 0;
  static constexpr uint8_t kKind35Floppy = 7;
  static constexpr uint8_t kKind525Floppy = 8;

  // Examines the drive that holds `path` (its drive part when it has one, else the drive of the
  // current directory). False when the drive is not ready, write-protected, unreadable or has no
  // root directory; errors go through the given routes. Never raises.
  bool Examine(const std::string& path, TDiskPromptEvent insertDiskPrompt,
               TDiskPromptEvent writeProtectPrompt, TErrorRoute reportError,
               TErrorRoute raiseError);
  bool Examine(const std::string& path, const TDiskCallbacks& callbacks);
  bool Examine(const std::string& path) { return Examine(path, TDiskCallbacks{}); }

  // The drive part of a path: "C:" for "c:\x\y" (upper-cased), "\\server\share" for a network
  // path, the current directory's drive otherwise.
  static std::string DriveOfPath(const std::string& path);
  // The number in a "PKBACK# nnn" label; 0 for a label without "PKBACK# ". `ok` is false when the
  // label has the marker but no digits after it.
  static uint16_t DiskNumberFromLabel(const std::string& label, bool& ok);

  const std::string& Drive() const { return FDrive; }
  uint8_t DriveType() const { return FDriveType; }
  uint8_t DriveKind() const { return FDriveKind; }
  const std::string& DriveKindName() const { return FDriveKindName; }
  const std::string& VolumeLabel() const { return FVolumeLabel; }
  uint16_t DiskNumber() const { return FDiskNumber; }
  uint32_t SerialNumber() const { return FSerialNumber; }
  const std::string& SerialString() const { return FSerialString; }  // 8 hexadecimal digits
  const std::string& FileSystemName() const { return FFileSystemName; }
  uint32_t FileSystemFlags() const { return FFileSystemFlags; }
  uint32_t MaxComponentLength() const { return FMaxComponentLength; }
  uint64_t FreeSpace() const { return FFreeSpace; }
  uint64_t TotalSize() const { return FTotalSize; }

 private:
  bool ExamineSteps();
  std::string Root() const;  // the drive with a trailing "\"

  std::string FDrive;
  uint8_t FDriveType = 0;
  uint8_t FDriveKind = 0;
  std::string FDriveKindName;
  std::string FVolumeLabel;
  uint16_t FDiskNumber = 0;
  uint32_t FSerialNumber = 0;
  std::string FSerialString;
  std::string FFileSystemName;
  uint32_t FFileSystemFlags = 0;
  uint32_t FMaxComponentLength = 0;
  uint64_t FFreeSpace = 0;
  uint64_t FTotalSize = 0;
};

class TDiskSpannObj : public TDiskCommon {
 public:
  // The component's disk events (Sender is this object). Copy the component's own events in
  // before ChangeDisk; an empty function is an unassigned event (reported as 25270).
  TDiskPromptEvent OnGetZipLastDisk;
  TDiskPromptEvent OnGetZipFirstDisk;
  std::function<void(TObject* Sender, const std::string& VolumeName, bool& Cancel)>
      OnGetZipNextDisk;
  // The local-header position of the member being extracted (the "current member").
  std::function<int64_t()> CurrentMemberPosition;

  // Stores the component, its cancel flag and the callbacks; the disk counter becomes 0.
  void PrepareSpan(TRegisterArcova* component, uint8_t* cancelFlag, TDiskCallbacks callbacks);
  // Frees `stream`, brings in the disk the counter asks for (0 the last, 1 the first, n disk n)
  // and reopens the stream on ArchiveFile. False (cancel flag set) when the event is missing or
  // the user cancels; false when the archive cannot be reopened.
  bool ChangeDisk(std::unique_ptr<TStream32>& stream);
  // Whether the disk in the drive holds the current member.
  bool DiskHoldsCurrentMember();

  uint16_t DiskCounter() const { return FDiskCounter; }
  void SetDiskCounter(uint16_t counter) { FDiskCounter = counter; }
  TDiskManager& DiskManager() { return FDiskManager; }

 private:
  bool BringInLastDisk();
  bool BringInDisk();
  void SetCancel();

  TRegisterArcova* FComponent = nullptr;  // not owned
  uint8_t* FCancel = nullptr;             // the component's cancel flag, not owned
  uint16_t FDiskCounter = 0;
  TDiskManager FDiskManager;
};
