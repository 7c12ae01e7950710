// TUnArchive, the extractor of every archive type but zip: the member loop over a member source
// (archive/formats/arvMemberSource.h) of the archive's type, under the driver's rules like the zip
// extractor (selection, approval and overwrite, passwords, output names and files, checksum
// verdicts, dates, permissions, progress, cancel, the count). What kind of member may become what
// on disk is decided here: links only inside the destination, no device nodes or FIFOs. Decoding
// is the source's business; this file knows no format's records.
#pragma once

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/driver/arvbase.h"
#include "archive/formats/arvMemberSource.h"

// The file-name extensions ("zip", "tar.gz", "7z", ...) of every archive type Parcelo extracts, the
// zip family's first, each once: for file dialogs and desktop integration.
std::vector<std::string> ExtractedExtensions();

class TUnArchive : public TUnBase {
 public:
  explicit TUnArchive(TComponent* owner = nullptr);
  ~TUnArchive() override;

  // Whether a type is one this extractor reads (a member source exists for it).
  static bool ReadsType(TArcType type);

  // The last run could not read the whole archive (its members after the failure are unknown;
  // this was reported).
  bool ArchiveDamaged() const { return FArchiveDamaged; }

 protected:
  void ExtractArchive(std::unique_ptr<TStream32>& archive) override;
  // Decodes the member the source stands on into `out`, trying the passwords for an encrypted one.
  bool DecodeZipMember(const std::string& outputPath, TMemberSizes& sizes, host::THandle out,
                       std::unique_ptr<TStream32>& archive) override;
  // The source has checked the member's own checksum; this passes its verdict on.
  bool CheckCrc(int kind, uint32_t expected) override;

 private:
  void ExtractFile(std::unique_ptr<TStream32>& archive, const TSourceMember& member);
  void ExtractFolder(std::unique_ptr<TStream32>& archive, const TSourceMember& member);
  void ExtractSymlink(const TSourceMember& member);
  void ExtractHardlink(const TSourceMember& member);
  // A member that is not made (a device, a FIFO, a link leading outside): reported, not counted.
  void RefuseMember(const std::string& reason);
  // Brings the progress through the archive up to what the source has read.
  void SyncArchiveProgress();
  // The attribute word of a member: DOS bits and, when recorded, its permission bits (no set-uid,
  // set-gid or sticky bit) in the high word.
  static uint32_t MemberAttributes(const TSourceMember& member);

  std::unique_ptr<TMemberSource> FSource;
  TDecodeResult FResult = TDecodeResult::Ok;
  bool FArchiveDamaged = false;
  std::unordered_set<std::string> FWhole;  // output paths of the files this run extracted whole
  int64_t FArchiveTotal = 0;               // the archive's size, for the progress through it
  int64_t FMemberSize = 0;
  int64_t FMemberDone = 0;
  bool FEncryptedMember = false;
};
