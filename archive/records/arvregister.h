// The root of the archive components: TComponent, the archive types (TArcType) with their display
// names and type sets, and TRegisterArcova, which owns the archive file name and decides from the
// file's bytes which archive type it holds and where the archive data starts. Detection only reads
// the file; it never changes it and never runs anything found in it.
#pragma once

#include <cstdint>
#include <string>

#include "archive/codecs/arvCrypt.h"
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

// ---- archive types ------------------------------------------------------------------------------
enum TArcType : uint8_t {
  atNA,
  atUnsupported,
  atFileOpenErr,
  atUnknown,
  atAce,
  atAceExe,
  atArc,
  atArcExe,
  atArj,
  atArjExe,
  atBh,
  atBhExe,
  atCab,
  atGZip,
  atHA,
  atJar,
  atJarExe,
  atLha,
  atLhaExe,
  atLzh,
  atLzhExe,
  atMsGZ,
  atPak,
  atPakExe,
  atRar,
  atRarExe,
  atTar,
  atTarGZip,
  atUUE,
  atZip,
  atZipExe,
  atZipDS,
  atZipMV,
  atZoo,
  // Types found by their own signatures after the 34 above: archives and single compressed files
  // that the extractor of the other formats reads with libarchive.
  at7Zip,
  atXz,
  atBZip2,
  atZstd,
  atLz4,
  atLzip,
  atCpio,
  atIso9660,
};
constexpr int kArcTypeCount = 42;
static_assert(atIso9660 + 1 == kArcTypeCount);

// The library's constant text for each type ("ZIP SFX   "; spaces included). Out of range: "".
const char* ArcTypeDisplayName(TArcType type);
// The enumeration value's own name ("atZipExe"). Out of range: "".
const char* ArcTypeEnumName(TArcType type);

// Type sets.
inline bool IsNotFoundType(TArcType t) {
  return t == atNA || t == atUnsupported || t == atFileOpenErr || t == atUnknown;
}
inline bool IsFoundType(TArcType t) {
  return !IsNotFoundType(t);
}
inline bool IsZipStructured(TArcType t) {
  return t == atJar || t == atJarExe || t == atZip || t == atZipExe;
}
inline bool IsSpannedZip(TArcType t) {
  return t == atZipDS || t == atZipMV;
}
// Zip-structured or spanned: the types whose members the zip walks read.
inline bool IsZipFamily(TArcType t) {
  return IsZipStructured(t) || IsSpannedZip(t);
}

// ---- what the extraction driver must know of a format ------------------------------------------
// How a format enciphers member data.
enum class TDataCipher : uint8_t {
  None,
  Zip,  // the traditional zip cipher (zip, jar, BH)
  Arj,  // ARJ's password sequence, XORed over the data
};

struct TArcFormatTraits {
  TDataCipher Cipher = TDataCipher::None;
  bool OpensArchiveItself = false;      // its decoder opens the archive file itself (ACE, CAB, RAR)
  bool DirectoryByName = false;         // no attributes: a name without a file part is a directory
  bool VolumeHundredsInLetter = false;  // volume 100 on moves the extension's letter on (RAR)
};
// The traits of a type (all off for types outside the table).
const TArcFormatTraits& ArcFormatTraits(TArcType type);

// Where four signature bytes were found: at the start of a plain file, or inside an executable.
enum class TSignatureMode : uint8_t { Plain, Exe };

// ---- the root component -------------------------------------------------------------------------
class TRegisterArcova : public TComponent {
 public:
  static constexpr int64_t kSmallestArchive = 20;    // 19 bytes or fewer hold no archive
  static constexpr int32_t kHeadBufferSize = 32768;  // the first read: 32767 bytes of it
  static constexpr int64_t kExeScanStart = 17000;    // where the executable scan begins
  static constexpr int kScanBlocks = 6;              // blocks of 32768 bytes it searches
  static constexpr int32_t kUueProbeSize = 5000;
  static constexpr int32_t kTarBlock = 512;

  explicit TRegisterArcova(TComponent* owner = nullptr);
  ~TRegisterArcova() override;

  // ArchiveFile: assigning detects the type (and parses volume names for found types). A name
  // that names no file clears it and gives atNA.
  const std::string& ArchiveFile() const { return FArchiveFile; }
  virtual void SetArchiveFile(const std::string& name);
  // ArcType: assigning ignores the value and detects the type of ArchiveFile again.
  TArcType ArcType() const { return FArcType; }
  virtual void SetArcType(TArcType value);

  // Detection of the named file; also sets the start offset, archive size, header state and zip
  // records. Never raises.
  TArcType DetectArcType(const std::string& fileName);
  // The same on an already open stream; `fileName` gives the extension (.jar) and, for spanned
  // zips, the drive to examine. Never raises.
  TArcType DetectArcTypeInStream(TStream32& stream, const std::string& fileName);

  // The signature table. In Exe mode a B7 DF 54 57 / B7 92 / B7 DF hit also sets the start offset.
  TArcType ClassifyArcSignature(TSignatureMode mode, const uint8_t bytes[4]);
  // The signatures of the types after atZoo at the start of a plain file (7z, xz, bzip2, zstd, lz4,
  // lzip, cpio; `count` bytes of `head`) and, for ISO 9660, in its first volume descriptor;
  // atNA when none is there.
  TArcType ClassifyStreamSignature(TStream32& stream, const uint8_t* head, int32_t count);
  // Fixed stub sizes of known self-extracting programs.
  TArcType ProbeSfxStub(TStream32& stream);
  // Searches six blocks of 32768 bytes from `start` for an embedded archive header; `position`
  // receives the reported position (0 with atNA).
  TArcType ScanArcSignature(TStream32& stream, int64_t start, int64_t& position);
  bool IsTarArchive(TStream32& stream);
  bool IsUUEncoded(TStream32& stream);
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
  void SetVolumeSize(int64_t size) { FArchiveSize = size; }

  // Runs the central-directory locator on `stream` (of ArchiveSize() bytes) and keeps its results.
  int64_t LocateCentralDir(TStream32& stream);
  // Enciphered headers with this component's cipher state.
  void DecipherZipHeader(uint8_t* record, TZipRecordKind kind) {
    ::DecipherZipHeader(FHeaderCipher, record, kind);
  }
  void DecipherZipName(uint8_t* bytes, size_t length) {
    ::DecipherZipName(FHeaderCipher, bytes, length);
  }
  TZipCipher& HeaderCipher() { return FHeaderCipher; }

  // ---- what detection leaves behind (read by the driver, the extractor and the lister) ----------
  int64_t StartOffset() const { return FStartOffset; }
  int64_t ArchiveSize() const { return FArchiveSize; }
  THeaderTypeState HeaderState() const { return FZip.HeaderState; }
  const TZipLocation& ZipLocation() const { return FZip; }
  const TEndOfCentralDir& EndRecord() const { return FZip.EndRecord; }
  const TEndOfCentralDirEx& EndRecordEx() const { return FZip.EndRecordEx; }
  bool ExtendedEndRecord() const { return FZip.Extended; }
  int64_t OffsetAdjustment() const { return FZip.OffsetAdjustment; }
  int64_t CommentPosition() const { return FZip.CommentPosition; }
  const uint8_t* TarHeader() const { return FTarHeader; }
  char VolumeLetter() const { return FVolumeLetter; }
  int32_t VolumeNumber() const { return FVolumeNumber; }

 protected:
  // Steps of detection, each on the open stream. `result` holds the type reached so far, so an
  // exception inside a step leaves it for the caller.
  void DetectExecutable(TStream32& stream, const uint8_t* head, int32_t headCount,
                        TArcType& result);
  void DetectPlain(TStream32& stream, const uint8_t* head, int32_t headCount, TArcType& result);
  bool ProbeStringTable(TStream32& stream, TArcType& result);
  bool ProbeDosImageEnd(TStream32& stream, const uint8_t* head, int32_t headCount,
                        TArcType& result);

  std::string FArchiveFile;
  TArcType FArcType = atNA;
  int64_t FStartOffset = -1;  // where the archive data starts; -1 until found
  int64_t FArchiveSize = 0;
  TZipLocation FZip;         // header state, end record copies, adjustment, comment position
  TZipCipher FHeaderCipher;  // key state for enciphered headers, this component's own
  uint8_t FTarHeader[kTarBlock] = {};
  char FVolumeLetter = 0;
  int32_t FVolumeNumber = 0;
  TStream32* FDetectStream = nullptr;  // the stream being detected, while detection runs
};
