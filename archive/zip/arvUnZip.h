// TUnZip, the zip extractor: the zip pass of an extraction run (the central-directory walk or,
// without a directory, the local-header walk), the member loop, the method dispatch (stored,
// deflate, Deflate64, the legacy methods, the library methods BZip2, LZMA, XZ and Zstandard, and
// the decoders of our own behind TCodecIo), WinZip AES, and the continuation of members across
// split volumes and spanned disks. Approval, passwords and output files are the driver's (arvbase).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/codecs/arvCodecIo.h"
#include "archive/codecs/arvInflate.h"
#include "archive/codecs/arvWinZipAes.h"
#include "archive/driver/arvbase.h"
#include "archive/records/arvSpan.h"
#include "archive/records/arvZipDir.h"
#include "archive/records/arvZipRecs.h"
#include "archive/zip/arvZipAhead.h"
#include "archive/zip/arvZipList.h"

// ---- symbolic links ------------------------------------------------------------------------------
// Whether a central entry holds a Unix symbolic link: made on Unix, or by a writer that marks Unix
// modes in the attribute word (bit 15), with the link type in the mode's file-type bits.
bool IsZipSymlink(const TCentralFileHeader& central);
// (kMaxLinkTarget and SymlinkStaysInside, the rules every extractor shares, are the driver's.)

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
  // Members of the last run whose bytes a worker decoded ahead of the walk.
  int MembersDecodedAhead() const { return FAheadTaken; }
  // Of those, the members it also wrote, to files the walk then named.
  int MembersWrittenAhead() const { return FAheadWritten; }
  // AES members of the last run whose keys a worker derived ahead of the walk.
  int AesKeysDerivedAhead() const { return FKeysTaken; }
  // Stretches of large deflated members that a worker decoded ahead in the last run.
  int StretchesDecodedAhead() const { return FStretchesTaken; }
  // A plain deflated member of at least this many compressed bytes in a file of its own is
  // decoded on both cores (arvInflateAhead.h).
#if defined(PARCELO_FUZZ_SMALL_SIZES)
  static constexpr int64_t kSplitMemberPacked = 24 * 1024;
#else
  static constexpr int64_t kSplitMemberPacked = 2 * 1024 * 1024;
#endif

 protected:
  void ExtractArchive(std::unique_ptr<TStream32>& archive) override;
  bool CheckPassword(uint8_t header[24]) override;
  bool DecodeZipMember(const std::string& outputPath, TMemberSizes& sizes, host::THandle out,
                       std::unique_ptr<TStream32>& archive) override;

  // Lists the selected members of the walk (the directory's, or the local headers') in archive
  // order; their number.
  int ListMembers(TStream32& archive);
  bool InflateMember(std::unique_ptr<TStream32>& archive, host::THandle out, bool deflate64);
  // InflateMember on two cores, for a large member when the run may use more than one thread
  // and reads no set of volumes (arvUnZipThreads.cpp). Piped: this thread reads and inflates, a
  // worker checksums and writes. Split (a plain member in a file of its own): a worker decodes
  // stretches further on, this thread decodes up to them and takes them.
  static constexpr int64_t kPipedMemberSize = 4 * int64_t{kInflateOutputSize};
  bool InflatePiped(host::THandle out, const TInflateSource& source);
  bool InflateSplit(host::THandle out, const TInflateSource& source, const TInflateSkip& skip,
                    host::THandle archive, int64_t dataOffset, int64_t packed);
  // The counters and the progress after a block of `bytes` inflated and written.
  void CountInflated(uint32_t bytes);
  // Broken or cut-short data ends the member's output there: false.
  bool DropRestOfMember();
  // Small members decoded ahead by a worker while the walk does the rest (arvUnZipThreads.cpp):
  // started before a walk through the directory when the run may use more than one thread, and
  // asked by each member's decode; `decoded` is then the member's result.
  void StartDecodeAhead(std::unique_ptr<TStream32>& archive);
  void EndDecodeAhead();
  // Keys the member in work's AES state for the password in use: with keys derived ahead when
  // there are (the first member opened starts their worker), else derived here.
  bool StartAes(unsigned strength, const uint8_t* salt, const uint8_t* verifier);
  // The member in work as the worker decoded it, when it did and the walk would have read the same
  // bytes with the same keys: its file is handed over to be named; other forms are kept for
  // UseDecodedAhead.
  host::THandle TakeOutputMadeAhead(TStream32& archive, const TMemberSizes& sizes) override;
  // Gives the member decoded ahead as the walk's own decode would have (writes, checksum,
  // counters, progress); false when there is none, and the walk decodes it.
  bool UseDecodedAhead(host::THandle out, bool& decoded);
  bool MethodSupported(const TMemberSizes& sizes) const override;
  std::string UnsupportedDetail(const TMemberSizes& sizes) const override;
  size_t EncryptionHeaderSize(const TMemberSizes& sizes) const override;

 private:
  // Reads the local header at `position` (deciphered when enciphered), its name and its extra
  // field; leaves the archive at the member's data. False when not all 30 bytes arrived.
  bool ReadLocalHeader(TStream32& archive, int64_t position, std::string& rawName);
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
  // The method dispatch over the member's data (after any encryption header).
  bool DecodeMemberData(const std::string& outputPath, std::unique_ptr<TStream32>& archive,
                        host::THandle out);
  // Whether the member is WinZip AES encrypted (method 99), and whether its 0x9901 field can be
  // believed: a strength of 1 to 3, a real method inside, room for salt, verifier and code.
  static bool IsAesMember(const TMemberSizes& sizes) { return sizes.Method == kMethodAes; }
  bool AesFieldValid(const TMemberSizes& sizes) const;
  // Whether `method` is decoded through a TCodecIo decoder (the library methods, PPMd).
  static bool IsCodecMethod(uint32_t method);
  // Decodes the member in work with a TCodecIo decoder: input bounded by the compressed size and
  // deciphered (zip cipher or AES), output written, checksummed and reported per block. A failure
  // is reported here, once, with what the decoder said.
  bool DecodeWithCodec(const std::string& outputPath, std::unique_ptr<TStream32>& archive,
                       host::THandle out);
  // The decoders behind DecodeWithCodec, by method.
  TCodecStatus RunCodec(uint32_t method, const TCodecIo& io, std::string& detail);
  // Reads what the decoder left of an AES member's data and its authentication code from where
  // the decoder stopped, and checks the code.
  bool FinishAes(std::unique_ptr<TStream32>& archive, int64_t dataSize);
  // Reads up to `count` bytes of the member's data, going on in the next part of a split or
  // spanned set when the current one ends.
  int32_t ReadMemberBytes(std::unique_ptr<TStream32>& archive, uint8_t* buffer, int32_t count);
  void ExtractMembers(std::unique_ptr<TStream32>& archive, bool central);
  // Lists a selected central entry whose local header is where it says (reported and left out
  // otherwise).
  void ListCentralMember(TStream32& archive, TZipDirectoryReader& reader, TZipDirMember& member,
                         bool spanned);
  // A selected member that is never written (its span overlaps another, its name is empty, holds
  // a zero byte, or names nothing while it holds data): named once with its reason, a failure.
  void RefuseMember(const TZipDirMember& member, TZipRefusal refusal);
  // How many bytes the member in work may still read: what is left of its data, and whatever
  // lies between its end and what follows it (a decoder reading on past a size that was written
  // wrong never reaches the next member or the directory).
  int64_t InputBudget() const;

  TDiskSpannObj FSpan;
  TUnBaseHeaderObj* FList = nullptr;  // the pass's member list (owned by ExtractArchive)
  TMemberSizes FSizes;                // the member in work
  TLocalFileHeader FLocal;
  TCentralFileHeader FCentral;
  TZipHighWords FHighWords;        // the local header's 0x0064 words
  TZipExtra FLocalExtra;           // everything the local header's extra field says
  std::string FLocalUnicodeName;   // from the local header's Unicode Path, when it matches
  std::vector<uint8_t> FVariable;  // a header's name and extra field as read
  int64_t FRemainingInput = 0;
  int64_t FRemainingOutput = 0;
  // Per listed member, where its data must end at the latest (INT64_MAX: not known); for the
  // member in work, the bytes between the end of its data and that point.
  std::vector<int64_t> FDataLimits;
  int64_t FRunOnRoom = INT64_MAX;
  int FRefusedCount = 0;  // selected members refused while the list was made
  int FCurrentEntry = -1;
  int64_t FCurrentOffset = 0;  // local-header position of the member in work
  bool FDiskSpanned = false;   // this pass reads a set spanned over disks (atZipDS)
  bool FDirectoryDamaged = false;
  bool FDirectoryMissing = false;
  std::unique_ptr<uint8_t[]> FInflateInput;
  std::unique_ptr<uint8_t[]> FInflateOutput;
  // The inflate driver, made on first use; its engine is reset per member (made again when the
  // mode changes between Deflate and Deflate64).
  std::unique_ptr<TInflateDriver> FInflate;
  TWinZipAes FAes;          // the AES state of the member in work, keyed by its password test
  bool FAesActive = false;  // the member in work's data passes through FAes
  std::unique_ptr<TDecodeAhead> FAhead;  // the walk's decoder ahead, when it has one
  int FAheadTaken = 0;
  int FAheadWritten = 0;
  int FStretchesTaken = 0;
  TAheadMember FAheadMember;  // the member in work, decoded ahead (none when FAheadAt is not it)
  int FAheadAt = -1;
  // AES members (walk index, local header) whose keys may be derived ahead, until the worker
  // that does it starts.
  std::vector<std::pair<int, int64_t>> FAesMembers;
  std::unique_ptr<TAesKeysAhead> FKeysAhead;
  int FKeysTaken = 0;
};
