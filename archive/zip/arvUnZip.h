// TUnZip, the zip extractor: the zip pass of an extraction run (the central-directory walk or,
// without a directory, the local-header walk), the member loop, the method dispatch (stored,
// deflate, Deflate64, the legacy methods) and the continuation of members across split volumes
// and spanned disks. Approval, passwords and output files are the driver's (arvbase).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/codecs/arvInflate.h"
#include "archive/driver/arvbase.h"
#include "archive/records/arvSpan.h"
#include "archive/records/arvZipRecs.h"

// ---- symbolic links ------------------------------------------------------------------------------
// Whether a central entry holds a Unix symbolic link: made on Unix, or by a writer that marks Unix
// modes in the attribute word (bit 15), with the link type in the mode's file-type bits.
bool IsZipSymlink(const TCentralFileHeader& central);
constexpr int64_t kMaxLinkTarget = 4095;
// Whether the link `linkName` (relative to the destination, "\"-separated, its folders real ones)
// pointing at `target` (host text, "/"-separated) leads to a place inside the destination, read
// from the link's own folder: not absolute, never above the destination, and no ".." after a name
// (which could climb out of another link it passes through).
bool SymlinkStaysInside(const std::string& linkName, const std::string& target);

// ---- TUnZip -------------------------------------------------------------------------------------
class TUnZip : public TUnBase {
 public:
  // Input blocks of deflated members.
  static constexpr int32_t kInflateInputSize = 65536;
  // Output blocks of deflated members: large, so that the engine's copy of the last 32 or 64 KiB
  // into its history window is a small part of each block, and few writes are made.
  static constexpr int32_t kInflateOutputSize = 262144;

  explicit TUnZip(TComponent* owner = nullptr);
  ~TUnZip() override;

  TDiskSpannObj& Span() { return FSpan; }

  // What the last run found of the archive's directory: damaged (it lists fewer members than its
  // end record announces; the rest were looked for through their local headers), or missing (every
  // member was read through its local header). Both are reported when found.
  bool DirectoryDamaged() const { return FDirectoryDamaged; }
  bool DirectoryMissing() const { return FDirectoryMissing; }
  // How many members the last run's walk selected (files and folders, failed ones included).
  int SelectedCount() const { return FSelectedCount; }

 protected:
  void ExtractArchive(std::unique_ptr<TStream32>& archive) override;
  bool CheckPassword(uint8_t header[24]) override;
  bool DecodeZipMember(const std::string& outputPath, TMemberSizes& sizes, host::THandle out,
                       std::unique_ptr<TStream32>& archive) override;

  int ReadCentralDirectory(TStream32& archive);
  int ScanLocalHeaders(TStream32& archive);
  void ExtractCentralMembers(std::unique_ptr<TStream32>& archive);
  void ExtractLocalMembers(std::unique_ptr<TStream32>& archive);
  bool InflateMember(std::unique_ptr<TStream32>& archive, host::THandle out, bool deflate64);
  bool MethodSupported(const TMemberSizes& sizes) const override;

 private:
  // Reads the local header at `position` (deciphered when enciphered), its name and its extra
  // field; leaves the archive at the member's data. False when not all 30 bytes arrived.
  bool ReadLocalHeader(TStream32& archive, int64_t position, std::string& rawName);
  // The stored name (deciphered when the header was, whole, cut only at a zero byte) and the
  // high words of the extra field, from the `have` bytes that followed a header.
  // `unicodeName` gets the UTF-8 name of a Unicode Path subfield made for this stored name.
  void TakeNameAndExtra(uint8_t* bytes, uint32_t have, uint32_t nameLength, uint32_t extraLength,
                        bool enciphered, bool central, TZip64Wanted wanted, std::string& rawName,
                        TZipExtra& extra, std::string& unicodeName);
  // A member stored as a Unix symbolic link: made a link when its target stays inside ExtractDir,
  // reported and left out otherwise.
  void ExtractLink(std::unique_ptr<TStream32>& archive, TMemberSizes& sizes, uint32_t expectedCrc);
  // The link's target text (stored or deflated, at most kMaxLinkTarget bytes, not encrypted);
  // false with the reason when it cannot be had.
  bool ReadLinkTarget(TStream32& archive, const TMemberSizes& sizes, std::string& target,
                      std::string& reason);
  // Brings in the next part of a member that continues: the next disk (atZipDS) or volume.
  bool ContinueOnNextPart(std::unique_ptr<TStream32>& archive);
  bool DecodeLegacy(const std::string& outputPath, std::unique_ptr<TStream32>& archive,
                    host::THandle out);
  // Method 98, PPMd variant I revision 1.
  bool DecodePpmd(const std::string& outputPath, std::unique_ptr<TStream32>& archive,
                  host::THandle out);
  void ExtractMembers(std::unique_ptr<TStream32>& archive, bool central);
  // Walks the local headers from the archive's start and lists the selected members found there;
  // with `listed` (sorted local-header offsets), only those not listed yet. False when the walk
  // met a member whose end could not be found (reported).
  bool CollectLocalMembers(TStream32& archive, const std::vector<int64_t>* listed);

  TDiskSpannObj FSpan;
  TUnBaseHeaderObj* FList = nullptr;  // the pass's member list (owned by ExtractArchive)
  TMemberSizes FSizes;                // the member in work
  TLocalFileHeader FLocal;
  TCentralFileHeader FCentral;
  TZipHighWords FHighWords;             // the local header's 0x0064 words
  TZipExtra FLocalExtra;                // everything the local header's extra field says
  std::string FLocalUnicodeName;        // from the local header's Unicode Path, when it matches
  std::vector<std::string> FLinksMade;  // output paths of the links this pass made
  std::vector<uint8_t> FVariable;       // a header's name and extra field as read
  int64_t FRemainingInput = 0;
  int64_t FRemainingOutput = 0;
  int FCurrentEntry = -1;
  int64_t FCurrentOffset = 0;  // local-header position of the member in work
  bool FDiskSpanned = false;   // this pass reads a set spanned over disks (atZipDS)
  bool FDirectoryDamaged = false;
  bool FDirectoryMissing = false;
  int FSelectedCount = 0;
  std::unique_ptr<uint8_t[]> FInflateInput;
  std::unique_ptr<uint8_t[]> FInflateOutput;
  // The inflate driver, made on first use; its engine is reset per member (made again when the
  // mode changes between Deflate and Deflate64).
  std::unique_ptr<TInflateDriver> FInflate;
};
