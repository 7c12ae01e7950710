// Archive-type detection from a file's bytes, plain files and self-extracting executables alike:
// TArchiveDetector reads within fixed bounds, never writes, never raises and never runs what it
// reads, and returns what it found as one value (TDetection), which the component stores.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "archive/codecs/arvCrypt.h"
#include "archive/records/arvArcTypes.h"
#include "archive/records/arvZipRecs.h"

class TStream32;

// What detection found in a file.
struct TDetection {
  static constexpr int32_t kTarBlock = 512;
  TArcType Type = atNA;
  int64_t StartOffset = -1;  // where the archive data starts; -1 until found, 0 at least when found
  int64_t ArchiveSize = 0;
  TZipLocation Zip;  // header state, end record copies, adjustment, comment position
  std::array<uint8_t, kTarBlock> TarHeader{};  // a TAR archive's first header (behind a label)
};

class TArchiveDetector {
 public:
  static constexpr int64_t kSmallestArchive = 20;    // 19 bytes or fewer hold no archive
  static constexpr int32_t kHeadBufferSize = 32768;  // the first read: 32767 bytes of it
  static constexpr int64_t kExeScanStart = 17000;    // where the executable scan begins
  static constexpr int kScanBlocks = 6;              // blocks of 32768 bytes it searches
  static constexpr int32_t kUueProbeSize = 5000;
  static constexpr int32_t kTarBlock = TDetection::kTarBlock;

  // `headerCipher`: the key state for enciphered zip headers. `zipSpan` tells a zip spanned over
  // PKBACK# disks (atZipDS) from one split otherwise (atZipMV), atNA when it cannot tell.
  TArchiveDetector(TZipCipher& headerCipher, std::function<TArcType()> zipSpan);

  // Detection of the named file: atNA when it cannot be opened.
  TDetection Detect(const std::string& fileName);
  // The same on an already open stream; `fileName` gives the extension (.jar).
  TDetection Detect(TStream32& stream, const std::string& fileName);

  // ---- the steps (each on the stream being detected; what they find goes into Result()) -------
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
  const TDetection& Result() const { return F; }

 private:
  // `result` holds the type reached so far, so an exception inside a step leaves it for the caller.
  void DetectExecutable(TStream32& stream, const uint8_t* head, int32_t headCount,
                        TArcType& result);
  void DetectPlain(TStream32& stream, const uint8_t* head, int32_t headCount, TArcType& result);
  bool ProbeStringTable(TStream32& stream, TArcType& result);
  bool ProbeDosImageEnd(TStream32& stream, const uint8_t* head, int32_t headCount,
                        TArcType& result);
  // The central-directory locator on `stream` (of ArchiveSize bytes); its results kept in F.Zip.
  int64_t LocateCentralDir(TStream32& stream);

  TDetection F;
  TZipCipher& FHeaderCipher;
  std::function<TArcType()> FZipSpan;
  TStream32* FStream = nullptr;  // the stream being detected, while Detect runs
};
