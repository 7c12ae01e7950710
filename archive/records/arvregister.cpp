// TRegisterArcova: archive-type detection from a file's bytes (plain files and self-extracting
// executables), the type names and sets, volume-name parsing and the compression-method names.
// Detection reads within fixed bounds, never writes, never raises and never runs what it reads.
#include "archive/records/arvregister.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>

#include "archive/common/arvGbls.h"
#include "archive/common/arvStreams.h"
#include "archive/records/arvSpan.h"
#include "archive/records/pe_resources.h"

namespace {

constexpr const char* kDisplayNames[kArcTypeCount] = {
    "Not avail. ", "Unsupport.", "File Error", "Unknown   ",  "ACE       ", "ACE SFX   ",
    "ARC       ",  "ARC SFX   ", "ARJ       ", "ARJ SFX   ",  "BH        ", "BH  SFX   ",
    "CAB       ",  "GZip      ", "HA        ", "Java JAR  ",  "JJAR SFX  ", "LHA       ",
    "LHA SFX   ",  "LZH       ", "LZH SFX   ", "MsGZ     \t", "PAK       ", "PAK SFX   ",
    "RAR       ",  "RAR SFX   ", "TAR       ", "TarGzip   ",  "UUE       ", "ZIP       ",
    "ZIP SFX   ",  "Zip Span  ", "Zip MVol  ", "ZOO       ",
};

constexpr const char* kEnumNames[kArcTypeCount] = {
    "atNA",     "atUnsupported", "atFileOpenErr", "atUnknown", "atAce",    "atAceExe", "atArc",
    "atArcExe", "atArj",         "atArjExe",      "atBh",      "atBhExe",  "atCab",    "atGZip",
    "atHA",     "atJar",         "atJarExe",      "atLha",     "atLhaExe", "atLzh",    "atLzhExe",
    "atMsGZ",   "atPak",         "atPakExe",      "atRar",     "atRarExe", "atTar",    "atTarGZip",
    "atUUE",    "atZip",         "atZipExe",      "atZipDS",   "atZipMV",  "atZoo",
};

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

// The extension of a system path's file part, with its dot ("" when none).
std::string ExtensionOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/:");
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(dot);
}

std::string LowerAscii(std::string s) {
  for (char& c : s) {
    c = LowCaseAscii(c);
  }
  return s;
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

const TArcFormatTraits& ArcFormatTraits(TArcType type) {
  static constexpr TArcFormatTraits kPlain{};
  static constexpr TArcFormatTraits kZipCipher{TDataCipher::Zip, false, false, false};
  static constexpr TArcFormatTraits kJar{TDataCipher::Zip, false, true, false};
  static constexpr TArcFormatTraits kArj{TDataCipher::Arj, false, false, false};
  static constexpr TArcFormatTraits kOpensItself{TDataCipher::None, true, false, false};
  static constexpr TArcFormatTraits kRar{TDataCipher::None, true, false, true};
  switch (type) {
    case atZip:
    case atZipExe:
    case atZipDS:
    case atZipMV:
    case atBh:
    case atBhExe:
      return kZipCipher;
    case atJar:
    case atJarExe:
      return kJar;
    case atArj:
    case atArjExe:
      return kArj;
    case atAce:
    case atAceExe:
    case atCab:
      return kOpensItself;
    case atRar:
    case atRarExe:
      return kRar;
    default:
      return kPlain;
  }
}

const char* ArcTypeDisplayName(TArcType type) {
  return type < kArcTypeCount ? kDisplayNames[type] : "";
}

const char* ArcTypeEnumName(TArcType type) {
  return type < kArcTypeCount ? kEnumNames[type] : "";
}

TRegisterArcova::TRegisterArcova(TComponent* owner) : TComponent(owner) {
  ZipHeaderKeys();  // the header keys are computed once, with the first component
}

TRegisterArcova::~TRegisterArcova() = default;

void TRegisterArcova::SetArchiveFile(const std::string& name) {
  std::string file = name;
  for (char& c : file) {
    if (c == '/') c = '\\';
  }
  if (file.empty() || !host::FileExists(file)) {
    FArcType = atNA;
    FArchiveFile.clear();
    return;
  }
  FArchiveFile = file;
  FArcType = DetectArcType(FArchiveFile);
  if (IsFoundType(FArcType)) ParseVolumeName();
}

void TRegisterArcova::SetArcType(TArcType /*value*/) {
  FArcType = DetectArcType(FArchiveFile);
}

TArcType TRegisterArcova::DetectArcType(const std::string& fileName) {
  FZip = TZipLocation{};
  FStartOffset = -1;
  if (fileName.empty()) return atNA;
  try {
    TFileStream32 stream(fileName, host::fmOpenRead | host::fmShareDenyWrite);
    if (stream.Handle() < 0) return atNA;  // "Error opening file": no type
    return DetectArcTypeInStream(stream, fileName);
  } catch (const std::exception&) {
    return atNA;  // detection answers with a type, never with an exception
  }
}

TArcType TRegisterArcova::DetectArcTypeInStream(TStream32& stream, const std::string& fileName) {
  FZip = TZipLocation{};
  FStartOffset = -1;
  FArchiveSize = 0;
  std::memset(FTarHeader, 0, sizeof FTarHeader);
  TArcType result = atNA;
  FDetectStream = &stream;
  try {
    FArchiveSize = stream.Size();
    if (FArchiveSize >= kSmallestArchive) {
      std::unique_ptr<uint8_t[]> head(new uint8_t[kHeadBufferSize]());
      const int32_t want =
          static_cast<int32_t>(std::min<int64_t>(FArchiveSize, kHeadBufferSize - 1));
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
  FDetectStream = nullptr;
  if (IsFoundType(result)) {
    if (FStartOffset == -1) FStartOffset = 0;
    if (result == atZip && LowerAscii(ExtensionOf(fileName)) == ".jar") result = atJar;
  }
  return result;
}

// ---- the executable path ------------------------------------------------------------------------
void TRegisterArcova::DetectExecutable(TStream32& stream, const uint8_t* head, int32_t headCount,
                                       TArcType& result) {
  result = ProbeSfxStub(stream);
  if (result != atNA) return;
  if (ProbeStringTable(stream, result)) return;
  if (ProbeDosImageEnd(stream, head, headCount, result)) return;

  // A zip appended to the program: its end record, or a local header near the start.
  FZip.EndRecord.Signature = 0;
  FStartOffset = LocateCentralDir(stream);
  if (FStartOffset > 0) {
    result = atZipExe;
    return;
  }
  int64_t position = 0;
  result = ScanArcSignature(stream, kExeScanStart, position);
  FStartOffset = position;
}

bool TRegisterArcova::ProbeStringTable(TStream32& stream, TArcType& result) {
  TPeStringResources strings;
  try {
    if (!strings.Load(stream, FArchiveSize)) return false;
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
    if (!ParseDecimal(text, value) || value >= FArchiveSize) break;
    try {
      FStartOffset = value;
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
            FStartOffset = LocateCentralDir(stream);
            if (FZip.HeaderState == 0) FStartOffset = value;
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

bool TRegisterArcova::ProbeDosImageEnd(TStream32& stream, const uint8_t* head, int32_t headCount,
                                       TArcType& result) {
  if (headCount < 6) return false;
  // The DOS image ends at (pages - 1) * 512 + bytes on the last page.
  const int64_t lastPageBytes = GetLe16(head + 2);
  const int64_t pages = GetLe16(head + 4);
  const int64_t imageSize = (pages - 1) * 512 + lastPageBytes;
  uint8_t b[4];
  if (imageSize > 0 && imageSize + 4 < FArchiveSize) {
    if (stream.ReadAt(imageSize, b, 4) == 4) {
      FStartOffset = Bytes2(b + 2, 0x60, 0xEA) ? imageSize + 2 : imageSize;
    }
  }
  // A start offset that no step has set (-1) names no position to look at.
  if (FStartOffset >= 0 && FStartOffset + 4 < FArchiveSize) {
    if (stream.ReadAt(FStartOffset, b, 4) == 4 && !IsLocalPk(b)) {
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
void TRegisterArcova::DetectPlain(TStream32& stream, const uint8_t* head, int32_t headCount,
                                  TArcType& result) {
  // A block of zero bytes in front (a MacBinary header, say) is stepped over; an LHA archive
  // behind a 128-byte header shows "-l" at 130.
  int32_t p = 0;
  if (head[0] == 0) {
    while (p < headCount && head[p] == 0) ++p;
    if (headCount - p > 132 && head[130] == '-' && head[131] == 'l') {
      result = atLha;
      FStartOffset = 128;
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
    FStartOffset = LocateCentralDir(stream);
    // An empty archive (an end record announcing no entry) has no local header to walk.
    const bool emptyArchive = FZip.HeaderState == kHeaderEnd && FZip.AnnouncedEntries() == 0;
    if (!(FZip.HeaderState & kHeaderLocal) && FStartOffset == 0 && !emptyArchive) {
      FStartOffset = p;
      FZip.HeaderState |= kHeaderLocal;
    }
  } else if (IsSpannedZip(result)) {
    FStartOffset = LocateCentralDir(stream);
    if (FZip.HeaderState == 0) FZip.HeaderState = kHeaderLocal;
  } else if (aceMark) {
    result = atAce;
  } else if (result == atNA && IsPlausibleArcHeader(head + p, headCount - p)) {
    result = head[p + 1] == 10 || head[p + 1] == 11 ? atPak : atArc;
  }
  if (IsFoundType(result)) return;

  if (aceMark) {
    result = atAce;
  } else if (IsUUEncoded(stream)) {
    result = atUUE;
  } else if (IsTarArchive(stream)) {
    result = atTar;
  } else {
    FStartOffset = LocateCentralDir(stream);
    if (FStartOffset > 0) result = FZip.EndRecord.NumberOfThisDisk == 0 ? atZip : CheckZipSpan();
  }
}

// ---- sub-operations -----------------------------------------------------------------------------
TArcType TRegisterArcova::ClassifyArcSignature(TSignatureMode mode, const uint8_t b[4]) {
  const bool exe = mode == TSignatureMode::Exe;
  if (Bytes4(b, "PKG5")) return atUnknown;
  if (Bytes4(b, "\x13\x5D\x65\x8C")) return exe ? atUnsupported : atMsGZ;
  if (Bytes4(b, "BH\x05\x07")) return exe ? atBhExe : atBh;
  if (Bytes4(b, "Rar!")) return exe ? atRarExe : atRar;
  if (Bytes4(b, "MSCF")) return exe ? atUnsupported : atCab;
  if (Bytes4(b, "\xB7\xDF\x54\x57")) {
    if (!exe) return atArc;
    FStartOffset = kArcExeStart;
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
    FStartOffset = kArcExeStart;
    return atArcExe;
  }
  if (Bytes2(b, 0x60, 0xEA)) return exe ? atArjExe : atArj;
  if (b[0] == 'P' && (b[1] == 'K' || b[1] == 'L' || b[1] == 'M' || b[1] == 'N')) {
    if (Bytes2(b + 2, 0x01, 0x02)) {
      // A central header at the start: the first volume of a set that begins with its directory.
      const TArcType span = CheckZipSpan();
      if (FDetectStream) LocateCentralDir(*FDetectStream);
      return span;
    }
    if (Bytes2(b + 2, 0x07, 0x08)) return CheckZipSpan();
    if (Bytes2(b + 2, 'G', '4') || Bytes2(b + 2, 'C', 'I')) return atNA;
    return exe ? atZipExe : atZip;
  }
  return atNA;
}

TArcType TRegisterArcova::ProbeSfxStub(TStream32& stream) {
  uint8_t b[6];
  for (const int64_t stub : kArcStubSizes) {
    if (FArchiveSize <= stub + 2) break;
    if (stream.ReadAt(stub, b, 2) != 2) continue;
    if (Bytes2(b, 0x1A, 0x08) || Bytes2(b, 0x1A, 0x09)) {
      FStartOffset = stub;
      return atArcExe;
    }
    if (Bytes2(b, 0x1A, 0x0A) || Bytes2(b, 0x1A, 0x0B)) {
      FStartOffset = stub;
      return atPakExe;
    }
  }
  if (FArchiveSize > kLhaStubProbe + 2 && stream.ReadAt(kLhaStubProbe, b, 6) == 6 &&
      std::memcmp(b, "-lh", 3) == 0 && b[4] == '-') {
    FStartOffset = kLhaStubProbe - 2;
    return atLhaExe;
  }
  if (FArchiveSize > kZipStubSmall + 4 && stream.ReadAt(kZipStubSmall, b, 4) == 4 && IsLocalPk(b)) {
    FStartOffset = kZipStubSmall;
    return atZipExe;
  }
  if (FArchiveSize > kZipStubLarge + 4 && stream.ReadAt(kZipStubLarge, b, 4) == 4 && IsLocalPk(b)) {
    FStartOffset = kZipStubLarge;
    return atZipExe;
  }
  return atNA;
}

TArcType TRegisterArcova::ScanArcSignature(TStream32& stream, int64_t start, int64_t& position) {
  position = 0;
  if (start < 0 || start >= FArchiveSize) return atNA;
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
      if (left >= 5 && std::memcmp(b + j, "**ACE", 5) == 0 && a + 5 < FArchiveSize) {
        r = a - 7;
        found = atAceExe;
      } else if (left >= 5 && std::memcmp(b + j, "-lh", 3) == 0 && b[j + 4] == '-' &&
                 a + 5 < FArchiveSize) {
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

bool TRegisterArcova::IsTarArchive(TStream32& stream) {
  if (FArchiveSize <= kTarBlock) return false;
  std::memset(FTarHeader, 0, sizeof FTarHeader);
  if (stream.ReadAt(0, FTarHeader, kTarBlock) == 0) return false;
  constexpr int kTypeFlag = 156;
  if (FTarHeader[kTypeFlag] == 'V') {  // a volume label comes first
    FStartOffset = kTarBlock;
    if (2 * kTarBlock >= FArchiveSize) return false;
    if (stream.ReadAt(kTarBlock, FTarHeader, kTarBlock) < kTarBlock) return false;
  }
  if (TarHeaderSumOk(FTarHeader)) return true;
  FStartOffset = -1;
  return false;
}

bool TRegisterArcova::IsUUEncoded(TStream32& stream) {
  const int32_t want = static_cast<int32_t>(std::min<int64_t>(FArchiveSize, kUueProbeSize));
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

void TRegisterArcova::RedetectVolume(const std::string& archive) {
  FArcType = atNA;
  FZip.HeaderState = 0;
  if (host::FileExists(archive)) {
    SetArchiveFile(archive);
  } else {
    FZip = TZipLocation{};
  }
  FArchiveFile = archive;
}

TArcType TRegisterArcova::CheckZipSpan() {
  TDiskManager manager;
  if (!manager.Examine(FArchiveFile)) return atNA;
  if (manager.DriveType() != host::dtRemovable) return atZipMV;
  std::string label = manager.VolumeLabel();
  const size_t space = label.find(' ');
  if (space != std::string::npos) label.resize(space);
  return UpperCaseAscii(label) == "PKBACK#" ? atZipDS : atZipMV;
}

void TRegisterArcova::ParseVolumeName() {
  FVolumeNumber = 0;
  const char* defaultExt;
  switch (FArcType) {
    case atAce:
      FVolumeLetter = 'C';
      defaultExt = "Ace";
      break;
    case atArj:
      FVolumeLetter = 'a';
      defaultExt = "Arj";
      break;
    case atJar:
    case atJarExe:
      FVolumeLetter = 'j';
      defaultExt = "Jar";
      break;
    case atRar:
    case atRarExe:
      FVolumeLetter = 'q';
      defaultExt = "Rar";
      break;
    default:
      return;
  }
  std::string ext = ExtensionOf(FArchiveFile);
  ext = ext.empty() ? std::string(defaultExt) : ext.substr(1);
  if (ext.empty()) ext = defaultExt;  // a name ending in "."
  size_t digits = ext.size();
  while (digits > 0 && ext[digits - 1] >= '0' && ext[digits - 1] <= '9') --digits;
  if (digits < ext.size()) {
    // Only the last nine digits count, so the number stays a 32-bit value.
    const std::string run = ext.substr(std::max(digits, ext.size() > 9 ? ext.size() - 9 : 0));
    FVolumeNumber = static_cast<int32_t>(std::stol(run)) + 1;
    FVolumeLetter = ext[0];
  } else {
    FVolumeNumber = FArcType == atArj ? 1 : 0;
  }
}

std::string TRegisterArcova::MethodName(uint32_t method, uint32_t flags) const {
  return MethodName(method, flags, false);
}

std::string TRegisterArcova::MethodName(uint32_t m, uint32_t f, bool entryIsDirectory) const {
  const auto pick = [&m](std::initializer_list<const char*> names, uint32_t first,
                         std::string& out) {
    if (m >= first && m - first < names.size()) {
      out = *(names.begin() + (m - first));
      return true;
    }
    return false;
  };
  const auto deflateName = [f](const char* base) {
    static const char kSuffix[] = {'N', 'X', 'F', 'S'};
    const char suffix = (f <= 6 && f % 2 == 0) ? kSuffix[f / 2] : 'N';
    return std::string(base) + suffix;
  };
  std::string name = "Unsupported";
  switch (FArcType) {
    case atAce:
    case atAceExe:
      pick({"Fastest", "Fast", "Normal", "Good", "Best", "Lzw", "Unsupported"}, 0, name);
      break;
    case atArc:
    case atArcExe:
      // ARC's methods: 1 and 2 stored, 3 packed (runs), 4 squeezed, 5 to 8 the crunched forms
      // (8, dynamic LZW, is what ARC writes most), 9 squashed; 10 and 11 are PAK's.
      if (!pick({"Stored", "Stored", "Packed", "Squeezed", "Crunched", "Crunched", "Crunched",
                 "Crunched", "Squashed", "Pack10", "Pack11"},
                1, name) &&
          entryIsDirectory) {
        name = "<Dir>";
      }
      break;
    case atArj:
    case atArjExe:
      if (!pick({"Stored", "Most", "2nd Most", "2nd Fast", "Fastest"}, 0, name) &&
          entryIsDirectory) {
        name = "<Dir>";
      }
      break;
    case atBh:
    case atBhExe:
      if (!pick({"Stored", "Fused1", "Deflate", "Fused3"}, 0, name) && m == 8) {
        name = deflateName("Deflate");
      }
      break;
    case atCab:
      m &= 0x0F;
      if (m <= 3) {
        pick({"Stored", "MsZIP", "Quantum", "Lzx"}, 0, name);
      } else {
        name = "Lzx" + std::to_string(m);
      }
      break;
    case atGZip:
      if (m == 0) {
        name = "Stored";
      } else if (m == 8) {
        name = "Deflate";
      } else if (m == 144) {
        name = "LzwMAGIC";
      } else if (f == 0x1E1F) {
        name = "PackMAGIC";
      } else if (f == 0xA01F) {
        name = "LzhMAGIC";
      }
      break;
    case atHA:
      if (!pick({"Cpy", "Asc", "HSC"}, 0, name)) {
        if (m == 14) name = "<Dir>";
        if (m == 15) name = "Special";
      }
      break;
    case atJar:
    case atJarExe:
    case atZip:
    case atZipExe:
    case atZipDS:
    case atZipMV:
      if (pick({"Stored", "Shrunk", "Reduce-1", "Reduce-2", "Reduce-3", "Reduce-4", "Imploded",
                "Tokened"},
               0, name)) {
      } else if (m == 8) {
        name = deflateName("Deflate");
      } else if (m == 9) {
        name = deflateName("Def-64");
      } else if (m == 10) {
        name = "DCL-implode";
      } else if (m == 98) {
        name = "PPMd";
      } else if (entryIsDirectory) {
        name = "<Dir>";
      }
      break;
    case atLha:
    case atLhaExe:
    case atLzh:
    case atLzhExe:
      if (m >= '0' && m <= '7') {
        pick({"Stored", "Frozen-1", "Frozen-2", "Frozen-3", "Frozen-4", "Frozen-5", "Frozen-6",
              "Frozen-7"},
             '0', name);
      } else if (m == 'd') {
        name = "<Dir>";
      }
      break;
    case atPak:
    case atPakExe:
      pick({"Stored", "RLE", "Squeezed", "FixedLen", "FixedLen", "FixedLen", "Varible", "Varible",
            "Crushed", "Distill"},
           2, name);
      break;
    case atRar:
    case atRarExe:
      if (entryIsDirectory) {
        name = "<Dir>";
      } else {
        pick({"Stored", "Fastest", "Fast", "Normal", "Good", "Best"}, 48, name);
      }
      break;
    case atTar:
      if (m == 0) {
        name = "Tarred";
      } else if (entryIsDirectory) {
        name = "<Dir>";
      }
      break;
    case atZoo:
      pick({"Stored", "Fastest", "Greatest"}, 0, name);
      break;
    default:
      break;
  }
  return name;
}

int64_t TRegisterArcova::LocateCentralDir(TStream32& stream) {
  return ::LocateCentralDir(stream, FArchiveSize, FZip, FHeaderCipher);
}
