// The root of the archive components: TComponent and TRegisterArcova, which owns the archive file
// name and keeps what detection (arvDetect) found in it: the archive type, where the archive data
// starts and the zip records; also the volume names and the compression methods' names.
#pragma once

#include <cstdint>
#include <string>

#include "archive/codecs/arvCrypt.h"
#include "archive/records/arvArcTypes.h"
#include "archive/records/arvDetect.h"
#include "archive/records/arvZipRecs.h"

class TStream32;
class TDiskSpannObj;

// ---- component model ----------------------------------------------------------------------------
// The common ancestor of everything that can be an event's Sender.
class TObject {
 public:
  virtual ~TObject() = default;
};

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner = nullptr) : FOwner(owner) {}
  ~TComponent() override = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& name) { FName = name; }
  TComponent* Owner() const { return FOwner; }

 private:
  std::string FName;
  TComponent* FOwner;  // not owned
};

// ---- the root component -------------------------------------------------------------------------
class TRegisterArcova : public TComponent {
 public:
  explicit TRegisterArcova(TComponent* owner = nullptr);
  ~TRegisterArcova() override;

  // ArchiveFile: assigning detects the type (and parses volume names for found types). A name
  // that names no file clears it and gives atNA.
  const std::string& ArchiveFile() const { return FArchiveFile; }
  virtual void SetArchiveFile(const std::string& name);
  // ArcType: assigning ignores the value and detects the type of ArchiveFile again.
  TArcType ArcType() const { return FArcType; }
  virtual void SetArcType(TArcType value);

  // Detection of the named file (TArchiveDetector); what it found besides the type (the start
  // offset, archive size, header state and zip records) is kept until the next detection.
  // Never raises.
  TArcType DetectArcType(const std::string& fileName);
  // The same on an already open stream; `fileName` gives the extension (.jar) and, for spanned
  // zips, the drive to examine. Never raises.
  TArcType DetectArcTypeInStream(TStream32& stream, const std::string& fileName);
  // What the last detection found.
  const TDetection& Detected() const { return FDetected; }
  // Tells a zip spanned over PKBACK# disks (atZipDS) from one split otherwise (atZipMV) by the
  // drive holding ArchiveFile; atNA when the drive cannot be examined.
  virtual TArcType CheckZipSpan();
  // Volume letter and number from ArchiveFile and ArcType.
  void ParseVolumeName();
  // The compression method's name for the lister's entry details, by ArcType. For atGZip the flag
  // value is the file's first two bytes as a little-endian word (1F 1E is 0x1E1F).
  std::string MethodName(uint32_t method, uint32_t flags) const;
  // With the entry's directory test of its format (ARC method byte 30, ARJ file type 3, zip and
  // RAR attribute bit 0x10, a TAR name without a file part), which gives the "<Dir>" fallbacks.
  std::string MethodName(uint32_t method, uint32_t flags, bool entryIsDirectory) const;

  // ---- volume changes (the disk walk of a spanned set) ----------------------------------------
  // Forgets the type and the header state and detects `archive` afresh, as the disk now in the
  // drive holds it; with no such file there the zip records are cleared as well. ArchiveFile stays
  // `archive` either way, even while the drive is empty.
  void RedetectVolume(const std::string& archive);
  // The size of the volume just opened in place of the archive.
  void SetVolumeSize(int64_t size) { FDetected.ArchiveSize = size; }

  // Enciphered headers with this component's cipher state.
  void DecipherZipHeader(uint8_t* record, TZipRecordKind kind) {
    ::DecipherZipHeader(FHeaderCipher, record, kind);
  }
  void DecipherZipName(uint8_t* bytes, size_t length) {
    ::DecipherZipName(FHeaderCipher, bytes, length);
  }
  TZipCipher& HeaderCipher() { return FHeaderCipher; }

  // ---- what detection leaves behind (read by the driver, the extractor and the lister) ----------
  int64_t StartOffset() const { return FDetected.StartOffset; }
  int64_t ArchiveSize() const { return FDetected.ArchiveSize; }
  THeaderTypeState HeaderState() const { return FDetected.Zip.HeaderState; }
  const TZipLocation& ZipLocation() const { return FDetected.Zip; }
  const TEndOfCentralDir& EndRecord() const { return FDetected.Zip.EndRecord; }
  const TEndOfCentralDirEx& EndRecordEx() const { return FDetected.Zip.EndRecordEx; }
  bool ExtendedEndRecord() const { return FDetected.Zip.Extended; }
  int64_t OffsetAdjustment() const { return FDetected.Zip.OffsetAdjustment; }
  int64_t CommentPosition() const { return FDetected.Zip.CommentPosition; }
  const uint8_t* TarHeader() const { return FDetected.TarHeader.data(); }
  char VolumeLetter() const { return FVolumeLetter; }
  int32_t VolumeNumber() const { return FVolumeNumber; }

 protected:
  std::string FArchiveFile;
  TArcType FArcType = atNA;
  TDetection FDetected;      // start offset, archive size, zip records, TAR header
  TZipCipher FHeaderCipher;  // key state for enciphered headers, this component's own
  char FVolumeLetter = 0;
  int32_t FVolumeNumber = 0;
};
