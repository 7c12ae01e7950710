#include "archive/records/arvDetect.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>

#include "archive/codecs/arvBytes.h"
#include "archive/common/arvGbls.h"
#include "archive/common/arvStreams.h"
#include "archive/records/pe_resources.h"
#include "platform/host.h"

namespace {

// Known self-extracting stubs: the ARC and PAK programs end at one of these sizes.
constexpr int64_t kArcStubSizes[] = {6674, 6867, 7716, 8601, 13138};
constexpr int64_t kLhaStubProbe = 1947;   // "-lh?-" of an LHA stub's first header (header at 1945)
constexpr int64_t kZipStubSmall = 7612;   // a zip behind a 7612-byte stub
constexpr int64_t kZipStubLarge = 25661;  // a zip behind a 25661-byte stub
constexpr int64_t kArcExeStart = 7716;    // where an ARC self-extractor's archive begins
constexpr int32_t kScanBlockSize = 32768;
constexpr int kStringIds = 7;           // string resources 1..7 may name the archive offset
constexpr size_t kStringChars = 5;      // of which five characters are kept
constexpr char kAceMark[] = "**ACE**";  // at offset 7 of an ACE header
constexpr size_t kAceMarkLength = 7;

bool Bytes2(const uint8_t* b, uint8_t b0, uint8_t b1) {
  return b[0] == b0 && b[1] == b1;
}
bool Bytes4(const uint8_t* b, const char* s) {
  return std::memcmp(b, s, 4) == 0;
}
bool IsLocalPk(const uint8_t* b) {
  return Bytes4(b, "PK\x03\x04");
}
// An ARC member header of any method the lister names (1 to 11, and 30 for a folder) whose 13-byte
// name field holds a plausible name: printable, at least one character, ended by a zero byte. The
// signature table knows only the methods archivers most often put first; a member that was packed,
// squeezed or crunched comes first just as well.
bool IsPlausibleArcHeader(const uint8_t* b, int64_t available) {
  constexpr int kNameField = 13;
  if (available < 2 + kNameField || b[0] != 0x1A) return false;
  if (!((b[1] >= 1 && b[1] <= 11) || b[1] == 30)) return false;
  int length = 0;
  while (length < kNameField && b[2 + length] != 0) {
    if (b[2 + length] < 0x20 || b[2 + length] == 0x7F) return false;
    ++length;
  }
  return length > 0 && length < kNameField;
}

// A string of decimal digits only (no sign, no spaces) as a 64-bit value; false otherwise.
bool ParseDecimal(const std::string& s, int64_t& value) {
  if (s.empty() || s.size() > 18) return false;
  value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

TArchiveDetector::TArchiveDetector(TZipCipher& headerCipher, std::function<TArcType()> zipSpan)
    : FHeaderCipher(headerCipher), FZipSpan(std::move(zipSpan)) {}

TDetection TArchiveDetector::Detect(const std::string& fileName) {
  F = TDetection{};
  if (fileName.empty()) return F;
  try {
    TFileStream32 stream(fileName, host::fmOpenRead | host::fmShareDenyWrite);
    if (stream.Handle() < 0) return F;  // "Error opening file": no type
    return Detect(stream, fileName);
  } catch (const std::exception&) {
    return F;  // detection answers with a type, never with an exception
  }
}

TDetection TArchiveDetector::Detect(TStream32& stream, const std::string& fileName) {
  F = TDetection{};
  TArcType result = atNA;
  FStream = &stream;
  try {
    F.ArchiveSize = stream.Size();
    if (F.ArchiveSize >= kSmallestArchive) {
      std::unique_ptr<uint8_t[]> head(new uint8_t[kHeadBufferSize]());
      const int32_t want =
          static_cast<int32_t>(std::min<int64_t>(F.ArchiveSize, kHeadBufferSize - 1));
      const int32_t n = stream.ReadAt(0, head.get(), want);
      if (n >= 2 && head[0] == 'M' && head[1] == 'Z') {
        DetectExecutable(stream, head.get(), n, result);
      } else {
        DetectPlain(stream, head.get(), n, result);
      }
    }
  } catch (const std::exception&) {
    // A failing read or seek, or no memory for the head: detection ends with the type reached.
  }
  FStream = nullptr;
  if (IsFoundType(result)) {
    if (F.StartOffset == -1) F.StartOffset = 0;
    if (result == atZip && LowerCaseAscii(ExtensionOf(fileName)) == ".jar") result = atJar;
  }
  F.Type = result;
  return F;
}

// ---- the executable path ------------------------------------------------------------------------
void TArchiveDetector::DetectExecutable(TStream32& stream, const uint8_t* head, int32_t headCount,
                                        TArcType& result) {
  result = ProbeSfxStub(stream);
  if (result != atNA) return;
  if (ProbeStringTable(stream, result)) return;
  if (ProbeDosImageEnd(stream, head, headCount, result)) return;

  // A zip appended to the program: its end record, or a local header near the start.
  F.Zip.EndRecord.Signature = 0;
  F.StartOffset = LocateCentralDir(stream);
  if (F.StartOffset > 0) {
    result = atZipExe;
    return;
  }
  int64_t position = 0;
  result = ScanArcSignature(stream, kExeScanStart, position);
  F.StartOffset = position;
}

bool TArchiveDetector::ProbeStringTable(TStream32& stream, TArcType& result) {
  TPeStringResources strings;
  try {
    if (!strings.Load(stream, F.ArchiveSize)) return false;
  } catch (const std::exception&) {
    return false;  // an unreadable resource section holds no table
  }
  for (uint32_t id = 1; id <= kStringIds; ++id) {
    std::string text;
    try {
      text = strings.LoadString(id, kStringChars);
    } catch (const std::exception&) {
      continue;  // a failure inside one identifier goes on with the next
    }
    if (text.empty()) break;
    int64_t value = 0;
    if (!ParseDecimal(text, value) || value >= F.ArchiveSize) break;
    try {
      F.StartOffset = value;
      uint8_t probe[14];
      const int32_t got = stream.ReadAt(value, probe, sizeof probe);
      if (got == static_cast<int32_t>(sizeof probe) &&
          std::memcmp(probe + 7, kAceMark, kAceMarkLength) == 0) {
        result = atAceExe;
        return true;
      }
      if (got == static_cast<int32_t>(sizeof probe)) {
        TArcType t = ClassifyArcSignature(TSignatureMode::Exe, probe);
        if (t != atNA) {
          if (IsZipStructured(t)) {
            F.StartOffset = LocateCentralDir(stream);
            if (F.Zip.HeaderState == 0) F.StartOffset = value;
          }
          result = t;
          return true;
        }
      }
    } catch (const std::exception&) {
      // A read that fails at this offset: go on with the next identifier.
    }
  }
  return false;
}

bool TArchiveDetector::ProbeDosImageEnd(TStream32& stream, const uint8_t* head, int32_t headCount,
                                        TArcType& result) {
  if (headCount < 6) return false;
  // The DOS image ends at (pages - 1) * 512 + bytes on the last page.
  const int64_t lastPageBytes = GetLe16(head + 2);
  const int64_t pages = GetLe16(head + 4);
  const int64_t imageSize = (pages - 1) * 512 + lastPageBytes;
  uint8_t b[4];
  if (imageSize > 0 && imageSize + 4 < F.ArchiveSize) {
    if (stream.ReadAt(imageSize, b, 4) == 4) {
      F.StartOffset = Bytes2(b + 2, 0x60, 0xEA) ? imageSize + 2 : imageSize;
    }
  }
  // A start offset that no step has set (-1) names no position to look at.
  if (F.StartOffset >= 0 && F.StartOffset + 4 < F.ArchiveSize) {
    if (stream.ReadAt(F.StartOffset, b, 4) == 4 && !IsLocalPk(b)) {
      const TArcType t = ClassifyArcSignature(TSignatureMode::Exe, b);
      if (IsFoundType(t)) {
        result = t;
        return true;
      }
    }
  }
  return false;
}

// ---- the plain path -----------------------------------------------------------------------------
void TArchiveDetector::DetectPlain(TStream32& stream, const uint8_t* head, int32_t headCount,
                                   TArcType& result) {
  // A block of zero bytes in front (a MacBinary header, say) is stepped over; an LHA archive
  // behind a 128-byte header shows "-l" at 130.
  int32_t p = 0;
  if (head[0] == 0) {
    while (p < headCount && head[p] == 0) ++p;
    if (headCount - p > 132 && head[130] == '-' && head[131] == 'l') {
      result = atLha;
      F.StartOffset = 128;
      return;
    }
  }
  // Four bytes at p; past what was read they count as zeros (a file of nothing but zeros).
  uint8_t signature[4] = {};
  std::memcpy(signature, head + p, static_cast<size_t>(std::min(4, headCount - p)));
  result = ClassifyArcSignature(TSignatureMode::Plain, signature);
  if (result == atUnknown) return;
  const bool aceMark = std::memcmp(head + 7, kAceMark, kAceMarkLength) == 0;
  if (IsZipStructured(result)) {
    F.StartOffset = LocateCentralDir(stream);
    // An empty archive (an end record announcing no entry) has no local header to walk.
    const bool emptyArchive = F.Zip.HeaderState == kHeaderEnd && F.Zip.AnnouncedEntries() == 0;
    if (!(F.Zip.HeaderState & kHeaderLocal) && F.StartOffset == 0 && !emptyArchive) {
      F.StartOffset = p;
      F.Zip.HeaderState |= kHeaderLocal;
    }
  } else if (IsSpannedZip(result)) {
    F.StartOffset = LocateCentralDir(stream);
    if (F.Zip.HeaderState == 0) F.Zip.HeaderState = kHeaderLocal;
  } else if (aceMark) {
    result = atAce;
  } else if (result == atNA && IsPlausibleArcHeader(head + p, headCount - p)) {
    result = head[p + 1] == 10 || head[p + 1] == 11 ? atPak : atArc;
  }
  if (IsFoundType(result)) return;
  // (An ISO 9660 image begins with zeros, stepped over above; the other signatures at byte 0.)
  if (const TArcType other = ClassifyStreamSignature(stream, head, headCount); other != atNA) {
    result = other;
    F.StartOffset = 0;
    return;
  }

  if (aceMark) {
    result = atAce;
  } else if (IsUUEncoded(stream)) {
    result = atUUE;
  } else if (IsTarArchive(stream)) {
    result = atTar;
  } else {
    F.StartOffset = LocateCentralDir(stream);
    if (F.StartOffset > 0) result = F.Zip.EndRecord.NumberOfThisDisk == 0 ? atZip : FZipSpan();
  }
}

// ---- sub-operations -----------------------------------------------------------------------------
TArcType TArchiveDetector::ClassifyArcSignature(TSignatureMode mode, const uint8_t b[4]) {
  const bool exe = mode == TSignatureMode::Exe;
  if (Bytes4(b, "PKG5")) return atUnknown;
  if (Bytes4(b, "\x13\x5D\x65\x8C")) return exe ? atUnsupported : atMsGZ;
  if (Bytes4(b, "BH\x05\x07")) return exe ? atBhExe : atBh;
  if (Bytes4(b, "Rar!")) return exe ? atRarExe : atRar;
  if (Bytes4(b, "MSCF")) return exe ? atUnsupported : atCab;
  if (Bytes4(b, "\xB7\xDF\x54\x57")) {
    if (!exe) return atArc;
    F.StartOffset = kArcExeStart;
    return atArcExe;
  }
  if (b[2] == '-' && b[3] == 'l') return exe ? atLhaExe : atLha;
  if (Bytes2(b, 0x1A, 0x02) || Bytes2(b, 0x1A, 0x1E)) return exe ? atUnsupported : atArc;
  if (Bytes2(b, 0x1A, 0x08) || Bytes2(b, 0x1A, 0x09)) return exe ? atArcExe : atArc;
  if (Bytes2(b, 0x1A, 0x0A) || Bytes2(b, 0x1A, 0x0B)) return exe ? atPakExe : atPak;
  if (Bytes2(b, 0x1F, 0x1E) || Bytes2(b, 0x25, 0x21) || Bytes2(b, 0x1F, 0x8B) ||
      Bytes2(b, 0x1F, 0x9D) || Bytes2(b, 0x1F, 0x9E) || Bytes2(b, 0x1F, 0xA0)) {
    return exe ? atUnsupported : atGZip;
  }
  if (Bytes2(b, 'H', 'A')) return exe ? atUnsupported : atHA;
  if (Bytes2(b, 'Z', 'O')) return exe ? atUnsupported : atZoo;
  if (Bytes2(b, 0xB7, 0x92) || Bytes2(b, 0xB7, 0xDF)) {
    F.StartOffset = kArcExeStart;
    return atArcExe;
  }
  if (Bytes2(b, 0x60, 0xEA)) return exe ? atArjExe : atArj;
  if (b[0] == 'P' && (b[1] == 'K' || b[1] == 'L' || b[1] == 'M' || b[1] == 'N')) {
    if (Bytes2(b + 2, 0x01, 0x02)) {
      // A central header at the start: the first volume of a set that begins with its directory.
      const TArcType span = FZipSpan();
      if (FStream) LocateCentralDir(*FStream);
      return span;
    }
    if (Bytes2(b + 2, 0x07, 0x08)) return FZipSpan();
    if (Bytes2(b + 2, 'G', '4') || Bytes2(b + 2, 'C', 'I')) return atNA;
    return exe ? atZipExe : atZip;
  }
  return atNA;
}

TArcType TArchiveDetector::ClassifyStreamSignature(TStream32& stream, const uint8_t* head,
                                                   int32_t count) {
  auto starts = [&](const char* magic, int32_t length) {
    return count >= length && std::memcmp(head, magic, static_cast<size_t>(length)) == 0;
  };
  if (starts("7z\xBC\xAF\x27\x1C", 6)) return at7Zip;
  if (starts("\xFD"
             "7zXZ\0",
             6))
    return atXz;
  // "BZh", the block size digit, then a block's or the end of stream's magic number.
  if (starts("BZh", 3) && count >= 10 && head[3] >= '1' && head[3] <= '9' &&
      (std::memcmp(head + 4, "\x31\x41\x59\x26\x53\x59", 6) == 0 ||
       std::memcmp(head + 4, "\x17\x72\x45\x38\x50\x90", 6) == 0))
    return atBZip2;
  if (starts("\x28\xB5\x2F\xFD", 4)) return atZstd;
  if (starts("\x04\x22\x4D\x18", 4) || starts("\x02\x21\x4C\x18", 4)) return atLz4;
  if (starts("LZIP", 4) && count >= 6 && (head[4] == 0 || head[4] == 1)) return atLzip;
  // cpio: the portable ASCII headers ("070707", "070701", "070702") and the old binary one (its
  // magic 070707 in either byte order).
  if (starts("070707", 6) || starts("070701", 6) || starts("070702", 6)) return atCpio;
  if (count >= 26 && (Bytes2(head, 0xC7, 0x71) || Bytes2(head, 0x71, 0xC7))) return atCpio;
  // ISO 9660: 16 sectors of system area, then volume descriptors "\x01CD001\x01" (primary).
  constexpr int64_t kIsoDescriptor = 16 * 2048;
  uint8_t descriptor[7] = {};
  if (F.ArchiveSize >= kIsoDescriptor + 2048 && stream.ReadAt(kIsoDescriptor, descriptor, 7) == 7 &&
      std::memcmp(descriptor + 1, "CD001\x01", 6) == 0 &&
      (descriptor[0] == 1 || descriptor[0] == 0 || descriptor[0] == 2))
    return atIso9660;
  return atNA;
}

TArcType TArchiveDetector::ProbeSfxStub(TStream32& stream) {
  uint8_t b[6];
  for (const int64_t stub : kArcStubSizes) {
    if (F.ArchiveSize <= stub + 2) break;
    if (stream.ReadAt(stub, b, 2) != 2) continue;
    if (Bytes2(b, 0x1A, 0x08) || Bytes2(b, 0x1A, 0x09)) {
      F.StartOffset = stub;
      return atArcExe;
    }
    if (Bytes2(b, 0x1A, 0x0A) || Bytes2(b, 0x1A, 0x0B)) {
      F.StartOffset = stub;
      return atPakExe;
    }
  }
  if (F.ArchiveSize > kLhaStubProbe + 2 && stream.ReadAt(kLhaStubProbe, b, 6) == 6 &&
      std::memcmp(b, "-lh", 3) == 0 && b[4] == '-') {
    F.StartOffset = kLhaStubProbe - 2;
    return atLhaExe;
  }
  if (F.ArchiveSize > kZipStubSmall + 4 && stream.ReadAt(kZipStubSmall, b, 4) == 4 &&
      IsLocalPk(b)) {
    F.StartOffset = kZipStubSmall;
    return atZipExe;
  }
  if (F.ArchiveSize > kZipStubLarge + 4 && stream.ReadAt(kZipStubLarge, b, 4) == 4 &&
      IsLocalPk(b)) {
    F.StartOffset = kZipStubLarge;
    return atZipExe;
  }
  return atNA;
}

TArcType TArchiveDetector::ScanArcSignature(TStream32& stream, int64_t start, int64_t& position) {
  position = 0;
  if (start < 0 || start >= F.ArchiveSize) return atNA;
  std::unique_ptr<uint8_t[]> block(new uint8_t[kScanBlockSize]);
  // The locator's answer does not depend on where the local signature was seen: ask it once.
  bool located = false;
  int64_t locatorResult = 0;

  for (int blockNo = 0; blockNo < kScanBlocks; ++blockNo) {
    const int64_t blockStart = start + static_cast<int64_t>(blockNo) * kScanBlockSize;
    const int32_t n = stream.ReadAt(blockStart, block.get(), kScanBlockSize);
    if (n <= 0) return atNA;
    const uint8_t* b = block.get();
    for (int32_t j = 0; j < n; ++j) {
      const int64_t a = blockStart + j;
      const int32_t left = n - j;
      int64_t r = -1;
      TArcType found = atNA;
      if (left >= 5 && std::memcmp(b + j, "**ACE", 5) == 0 && a + 5 < F.ArchiveSize) {
        r = a - 7;
        found = atAceExe;
      } else if (left >= 5 && std::memcmp(b + j, "-lh", 3) == 0 && b[j + 4] == '-' &&
                 a + 5 < F.ArchiveSize) {
        r = a - 2;
        found = atLhaExe;
      } else if (left >= 4 && Bytes4(b + j, "BH\x05\x07") &&
                 !(left >= 8 && Bytes4(b + j + 4, "\x0F\x94\xC3\x84"))) {
        r = a;
        found = atBhExe;
      } else if (left >= 4 && IsLocalPk(b + j) &&
                 !(left >= 8 && Bytes4(b + j + 4, "\x74\x0B\x3D\x00"))) {
        if (!located) {
          locatorResult = LocateCentralDir(stream);
          located = true;
        }
        // -1: an end record without a reachable directory or local header; no archive here.
        if (locatorResult >= 0) {
          r = locatorResult == 0 ? a : locatorResult;
          // A zip is a plain one only when the scan began at the first byte of the file.
          found = start != 0 ? atZipExe : atZip;
        }
      } else if (left >= 4 && Bytes4(b + j, "Rar!")) {
        r = a;
        found = atRarExe;
      } else if (left >= 4 && Bytes2(b + j, 0x60, 0xEA)) {
        const int64_t next = j + static_cast<int64_t>(GetLe16(b + j + 2)) + 10;
        if (next < kScanBlockSize && next + 1 < n && Bytes2(b + next, 0x60, 0xEA)) {
          r = a;
          found = atArjExe;
        }
      }
      // A hit at position 0 or before it names no archive behind a program: keep looking.
      if (found == atNA || r <= 0) continue;
      position = r;
      return found;
    }
  }
  return atNA;
}

bool TArchiveDetector::IsTarArchive(TStream32& stream) {
  if (F.ArchiveSize <= kTarBlock) return false;
  F.TarHeader.fill(0);
  if (stream.ReadAt(0, F.TarHeader.data(), kTarBlock) == 0) return false;
  constexpr int kTypeFlag = 156;
  if (F.TarHeader[kTypeFlag] == 'V') {  // a volume label comes first
    F.StartOffset = kTarBlock;
    if (2 * kTarBlock >= F.ArchiveSize) return false;
    if (stream.ReadAt(kTarBlock, F.TarHeader.data(), kTarBlock) < kTarBlock) return false;
  }
  if (TarHeaderSumOk(F.TarHeader.data())) return true;
  F.StartOffset = -1;
  return false;
}

bool TArchiveDetector::IsUUEncoded(TStream32& stream) {
  const int32_t want = static_cast<int32_t>(std::min<int64_t>(F.ArchiveSize, kUueProbeSize));
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kUueProbeSize]);
  const int32_t n = stream.ReadAt(0, buffer.get(), want);
  const uint8_t* b = buffer.get();
  for (int32_t i = 0; i + 7 <= n; ++i) {
    if (i > 0 && b[i - 1] != 0x0A) continue;
    if (std::memcmp(b + i, "begin 6", 7) == 0 || std::memcmp(b + i, "begin 7", 7) == 0) {
      return true;
    }
  }
  return false;
}

int64_t TArchiveDetector::LocateCentralDir(TStream32& stream) {
  return ::LocateCentralDir(stream, F.ArchiveSize, F.Zip, FHeaderCipher);
}
