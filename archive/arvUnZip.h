// TUnZip, the zip extractor: the zip pass of an extraction run (the central-directory walk or,
// without a directory, the local-header walk), the member loop, the method dispatch (stored,
// deflate, Deflate64, the legacy methods) and the continuation of members across split volumes
// and spanned disks. It also holds the helpers that the lister shares so that both agree on names
// and on where a member ends. Approval, passwords and output files are the driver's (arvbase).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/arvInflate.h"
#include "archive/arvSpan.h"
#include "archive/arvZipRecs.h"
#include "archive/arvbase.h"

// ---- helpers shared with the lister -------------------------------------------------------------
constexpr uint16_t kFlagDataDescriptor = 0x0008;         // CRC and sizes follow the data
constexpr uint16_t kFlagUtf8Name = 0x0800;               // the name is UTF-8, not OEM text
constexpr uint32_t kDataDescriptorSig = kSpanMarkerSig;  // 50 4B 07 08, the same four bytes

// Whether a stored name is OEM text (to be converted when TranslateOemChar is set): not when flag
// bit 11 marks it UTF-8, nor when the central header's "version made by" names a host other than
// a DOS, OS/2 or Windows file system (0, 6, 10, 11, 14). Local headers carry no host:
// `versionMadeBy` < 0.
bool ZipNameIsOem(uint16_t flags, int versionMadeBy);
// The name in system form: OEM text converted when `translateOem` and ZipNameIsOem, then "/" to
// "\".
std::string ConvertZipName(const std::string& raw, bool translateOem, uint16_t flags,
                           int versionMadeBy);

// Where a member found through its local header ends, and what its data descriptor said.
struct TLocalMemberEnd {
  int64_t Next = 0;            // the position right after the member (and its descriptor)
  bool HasDescriptor = false;  // Descriptor holds the member's CRC and sizes
  TDataDescriptor Descriptor;
};

// For a member read through its local header alone (no central directory): where it ends. Without
// flag bit 3 that is the data start plus the header's compressed size. With it, the data
// descriptor (with or without its 50 4B 07 08 signature, 32- or 64-bit sizes) behind the data is
// read; when the header's compressed size is 0, a deflated or Deflate64 member is decoded (output
// thrown away) to find where its data ends, an encrypted one is searched for a signed descriptor
// whose compressed size matches its distance, and a member of any other method qualifies only when
// a descriptor of an empty member follows its header directly. False when the end cannot be found
// (the walk cannot go on safely). `cancel`, when set and non-zero, stops a long search (false).
bool FindLocalMemberEnd(TStream32& archive, const TLocalFileHeader& header, int64_t packedSize,
                        int64_t unpackedSize, int64_t dataStart, TLocalMemberEnd& end,
                        const uint8_t* cancel = nullptr);

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
  void TakeNameAndExtra(uint8_t* bytes, uint32_t have, uint32_t nameLength, uint32_t extraLength,
                        bool enciphered, bool central, std::string& rawName, TZipHighWords& high);
  // Brings in the next part of a member that continues: the next disk (atZipDS) or volume.
  bool ContinueOnNextPart(std::unique_ptr<TStream32>& archive);
  bool DecodeLegacy(const std::string& outputPath, std::unique_ptr<TStream32>& archive,
                    host::THandle out);
  void ExtractMembers(std::unique_ptr<TStream32>& archive, bool central);
  // Walks the local headers from the archive's start and lists the selected members found there;
  // with `listed` (sorted local-header offsets), only those not listed yet. False when the walk
  // met a member whose end could not be found (reported).
  bool CollectLocalMembers(TStream32& archive, const std::vector<int64_t>* listed);
  // Whether a zip64 end locator lies right before the end record.
  bool HasZip64Locator(TStream32& archive);

  TDiskSpannObj FSpan;
  TUnBaseHeaderObj* FList = nullptr;  // the pass's member list (owned by ExtractArchive)
  TMemberSizes FSizes;                // the member in work
  TLocalFileHeader FLocal;
  TCentralFileHeader FCentral;
  TZipHighWords FHighWords;
  std::vector<uint8_t> FVariable;  // a header's name and extra field as read
  int64_t FRemainingInput = 0;
  int64_t FRemainingOutput = 0;
  int FCurrentEntry = -1;
  int64_t FCurrentOffset = 0;  // local-header position of the member in work
  bool FDiskSpanned = false;   // this pass reads a set spanned over disks (atZipDS)
  bool FDirectoryDamaged = false;
  bool FDirectoryMissing = false;
  std::unique_ptr<uint8_t[]> FInflateInput;
  std::unique_ptr<uint8_t[]> FInflateOutput;
  // One engine state per mode (Deflate, Deflate64), made on first use and reset per member.
  TInflateStream FInflate[2] = {};
  bool FInflateReady[2] = {false, false};
};
