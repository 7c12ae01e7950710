// TRegisterArcova: the archive file and what detection found in it, the type names and traits,
// volume-name parsing and the compression-method names.
#include "archive/records/arvregister.h"

#include <algorithm>

#include "archive/common/arvGbls.h"
#include "archive/common/arvStreams.h"
#include "archive/records/arvSpan.h"

namespace {

constexpr const char* kDisplayNames[kArcTypeCount] = {
    "Not avail. ", "Unsupport.", "File Error", "Unknown   ",  "ACE       ", "ACE SFX   ",
    "ARC       ",  "ARC SFX   ", "ARJ       ", "ARJ SFX   ",  "BH        ", "BH  SFX   ",
    "CAB       ",  "GZip      ", "HA        ", "Java JAR  ",  "JJAR SFX  ", "LHA       ",
    "LHA SFX   ",  "LZH       ", "LZH SFX   ", "MsGZ     \t", "PAK       ", "PAK SFX   ",
    "RAR       ",  "RAR SFX   ", "TAR       ", "TarGzip   ",  "UUE       ", "ZIP       ",
    "ZIP SFX   ",  "Zip Span  ", "Zip MVol  ", "ZOO       ",  "7-Zip     ", "XZ        ",
    "BZip2     ",  "Zstandard ", "LZ4       ", "LZip      ",  "CPIO      ", "ISO 9660  ",
};

constexpr const char* kEnumNames[kArcTypeCount] = {
    "atNA",     "atUnsupported", "atFileOpenErr", "atUnknown", "atAce",    "atAceExe", "atArc",
    "atArcExe", "atArj",         "atArjExe",      "atBh",      "atBhExe",  "atCab",    "atGZip",
    "atHA",     "atJar",         "atJarExe",      "atLha",     "atLhaExe", "atLzh",    "atLzhExe",
    "atMsGZ",   "atPak",         "atPakExe",      "atRar",     "atRarExe", "atTar",    "atTarGZip",
    "atUUE",    "atZip",         "atZipExe",      "atZipDS",   "atZipMV",  "atZoo",    "at7Zip",
    "atXz",     "atBZip2",       "atZstd",        "atLz4",     "atLzip",   "atCpio",   "atIso9660",
};

}  // namespace

const TArcFormatTraits& ArcFormatTraits(TArcType type) {
  static constexpr TArcFormatTraits kPlain{};
  static constexpr TArcFormatTraits kZipCipher{TDataCipher::Zip, false, false, false};
  static constexpr TArcFormatTraits kJar{TDataCipher::Zip, false, true, false};
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
  const std::string file = SlashToBackslash(name);
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
  FDetected = TArchiveDetector(FHeaderCipher, [this] { return CheckZipSpan(); }).Detect(fileName);
  return FDetected.Type;
}

TArcType TRegisterArcova::DetectArcTypeInStream(TStream32& stream, const std::string& fileName) {
  FDetected =
      TArchiveDetector(FHeaderCipher, [this] { return CheckZipSpan(); }).Detect(stream, fileName);
  return FDetected.Type;
}

void TRegisterArcova::RedetectVolume(const std::string& archive) {
  FArcType = atNA;
  FDetected.Zip.HeaderState = 0;
  if (host::FileExists(archive)) {
    SetArchiveFile(archive);
  } else {
    FDetected.Zip = TZipLocation{};
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
      } else if (m == kMethodBzip2 || m == kMethodLzma || m == kMethodTerse ||
                 m == kMethodZstdOld || (m >= kMethodZstd && m <= kMethodAes)) {
        name = ZipMethodName(m);  // today's methods: "BZip2", "LZMA", "Zstd", "XZ", "PPMd", ...
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
