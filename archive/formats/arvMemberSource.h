// What the extractor of the non-zip formats reads an archive through: a member source walks one
// archive's members in archive order and decodes the member it stands on into a sink. A source
// knows its format's records, volumes and decoders (a library's or our own); it knows nothing of
// output files, masks, overwrite rules, password lists or links on disk, which are the driver's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "archive/records/arvregister.h"

enum class TMemberKind : uint8_t { File, Folder, Symlink, Hardlink, Device, Fifo };

// One member as its format records it.
struct TSourceMember {
  std::string Name;  // as stored, converted to UTF-8; "/" or "\" separators; a folder may end in one
  TMemberKind Kind = TMemberKind::File;
  std::string LinkTarget;  // Symlink: the target text; Hardlink: the stored name linked to
  int64_t Size = -1;        // uncompressed bytes, -1 when the format does not say
  int64_t PackedSize = -1;  // -1 when the format does not say
  uint32_t DosDateTime = 0;  // a local DOS date-time, 0 when the format gives none
  bool HasExactTime = false;  // UnixTime/Nanoseconds hold the last-write time in UTC
  int64_t UnixTime = 0;
  uint32_t Nanoseconds = 0;
  uint32_t Mode = 0;        // Unix permission and type bits when the format records them, else 0
  uint32_t Attributes = 0;  // DOS attributes when the format records them
  bool Encrypted = false;
  std::string Method;  // the method's name as people know it ("lh5", "LZMA2", "Crunched")
};

// How decoding the current member ended. ChecksumFailed: decoded whole, the format's checksum
// differs. WrongPassword: the format can tell the password is wrong. EncryptedUnsupported: the
// member is encrypted with a method Parcelo cannot decrypt. Unsupported: a method Parcelo cannot
// decode (Detail() names it). Damaged: the data is invalid. Truncated: the data ends early.
enum class TDecodeResult : uint8_t {
  Ok,
  ChecksumFailed,
  WrongPassword,
  EncryptedUnsupported,
  Unsupported,
  Damaged,
  Truncated,
  Cancelled,
};

// What a source may ask of the run.
struct TSourceServices {
  // Brings in the next volume of a set: `volumeName` is the current volume's path and becomes the
  // next one's; `volumeId` is the number or name the set gives it. False when there is none (the
  // person cancelled, or no handler).
  std::function<bool(std::string& volumeName, const std::string& volumeId)> NextVolume;
  // Something said about the archive that loses nothing (an engine message code and its detail).
  std::function<void(int code, const std::string& detail)> Warning;
  const uint8_t* Cancel = nullptr;  // non-zero: stop before the next block
};

class TMemberSource {
 public:
  virtual ~TMemberSource() = default;
  // Moves to the next member; false at the end of the archive, or when the archive cannot be read
  // further (ErrorCode() is then non-zero). Members not decoded are skipped.
  virtual bool Next(TSourceMember& member) = 0;
  // Decodes the member Next stands on, handing its bytes to `sink` in blocks (the sink may raise;
  // the exception passes on). `password` is empty when none was given. A member is decoded once;
  // only after WrongPassword may Decode be called again for it, with another password (the source
  // starts the member over; one that cannot says WrongPassword again without decoding).
  virtual TDecodeResult Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                               const std::string& password) = 0;
  // How many bytes of the archive file(s) the source has read so far, for the progress through
  // the archive; -1 when it cannot tell.
  virtual int64_t BytesRead() const { return -1; }
  // The engine message code and detail of the last failure of Next or Decode (0: none); each call
  // of Next or Decode clears it first.
  int ErrorCode() const { return FErrorCode; }
  const std::string& ErrorDetail() const { return FErrorDetail; }

 protected:
  void SetError(int code, std::string detail = {}) {
    FErrorCode = code;
    FErrorDetail = std::move(detail);
  }

 private:
  int FErrorCode = 0;
  std::string FErrorDetail;
};

// ---- the sources, one format family each (archive/formats/<family>_source.cpp) ----------------
// TAR (and its compressed forms), cpio, ISO 9660, 7z, RAR and single compressed files, read with
// libarchive.
std::unique_ptr<TMemberSource> CreateLibarchiveSource(TArcType type, const std::string& hostPath,
                                                      int64_t start,
                                                      const TSourceServices& services);

// The source for an archive of `type` whose first record starts at `start` in the file at
// `hostPath` (a host path); nullptr when no source reads this type. A source is made whether or not
// its file can be read (a file that cannot is its Next's failure); with an empty `hostPath` it opens
// nothing at all.
std::unique_ptr<TMemberSource> OpenMemberSource(TArcType type, const std::string& hostPath,
                                                int64_t start, const TSourceServices& services);
// Whether a source reads this type.
bool HasMemberSource(TArcType type);
