// The lister's reader for RAR archives of versions 1.5 to 4: the marker and archive header, then
// one block after another, file headers listed and every other block skipped by its sizes. A file
// continued across volumes is followed into the next volume and counted once, where it ends, with
// the packed sizes of all its parts. RAR 5 archives are handed to rar5.cpp.
#include "archive/formats/rar.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "archive/formats/lister_format.h"
#include "archive/records/arvZipRecs.h"

namespace rar {

namespace {

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && SameTextAscii(text.substr(text.size() - tail.size()), tail);
}

}  // namespace

std::string NextVolumeName(const std::string& volume) {
  const size_t cut = volume.find_last_of("\\:");
  const size_t fileStart = cut == std::string::npos ? 0 : cut + 1;
  // "name.partN.rar": N + 1 with at least as many digits.
  if (EndsWithNoCase(volume, ".rar")) {
    const size_t digitsEnd = volume.size() - 4;
    size_t digitsStart = digitsEnd;
    while (digitsStart > fileStart && std::isdigit(static_cast<uint8_t>(volume[digitsStart - 1])))
      --digitsStart;
    if (digitsStart < digitsEnd && digitsStart >= fileStart + 5 &&
        SameTextAscii(volume.substr(digitsStart - 5, 5), ".part") && digitsEnd - digitsStart < 9) {
      const std::string digits = volume.substr(digitsStart, digitsEnd - digitsStart);
      std::string next = std::to_string(std::stol(digits) + 1);
      if (next.size() < digits.size()) next.insert(0, digits.size() - next.size(), '0');
      return volume.substr(0, digitsStart) + next + volume.substr(digitsEnd);
    }
  }
  // "name.rNN" (or .sNN, ...): NN + 1, wrapping to the next letter after 99.
  const size_t dot = volume.rfind('.');
  if (dot != std::string::npos && dot >= fileStart && volume.size() - dot == 4 &&
      std::isalpha(static_cast<uint8_t>(volume[dot + 1])) &&
      std::isdigit(static_cast<uint8_t>(volume[dot + 2])) &&
      std::isdigit(static_cast<uint8_t>(volume[dot + 3])) && !EndsWithNoCase(volume, ".rar")) {
    int n = (volume[dot + 2] - '0') * 10 + (volume[dot + 3] - '0') + 1;
    char letter = volume[dot + 1];
    if (n > 99) {
      n = 0;
      ++letter;
    }
    return volume.substr(0, dot + 1) + letter + static_cast<char>('0' + n / 10) +
           static_cast<char>('0' + n % 10);
  }
  // The first volume of an old-style set: "name.rar" (or a self-extracting "name.exe").
  const std::string base =
      dot != std::string::npos && dot >= fileStart ? volume.substr(0, dot) : volume;
  const bool upper = dot != std::string::npos && dot + 1 < volume.size() &&
                     std::isupper(static_cast<uint8_t>(volume[dot + 1]));
  return base + (upper ? ".R00" : ".r00");
}

bool OpenNextVolume(TArcovaWalk& walk, int volumeIndex) {
  std::string name = NextVolumeName(walk.VolumeName());
  if (!walk.AskNextVolume(name, volumeIndex)) return false;
  auto stream = std::make_unique<TFileStream32>(name, host::fmOpenRead | host::fmShareDenyWrite);
  if (stream->Handle() < 0) {
    walk.ReportError(name, kErrOpeningFile);
    return false;
  }
  walk.ArchiveSlot() = std::move(stream);
  walk.RefreshArchiveSize();
  walk.VolumeName() = name;
  return true;
}

bool FollowSplitFile(TArcovaWalk& walk, int& volumeIndex,
                     const std::function<bool(TArcovaWalk&, int64_t position)>& readStart) {
  const int countedBefore = walk.NumFiles();
  if (OpenNextVolume(walk, ++volumeIndex)) {
    if (!readStart(walk, 0)) walk.EndWalk();
    return true;
  }
  walk.CancelWalkQuietly();
  walk.EndWalk();
  return countedBefore > 0;
}

void ReportFileEntry(TArcovaWalk& walk, int64_t start, bool directory, int64_t unpacked,
                     int64_t packed) {
  std::string matchName = walk.FileName();
  if (directory && !matchName.empty()) matchName.pop_back();
  if (walk.SimpleMatch(matchName)) walk.ReportSelected(start, directory, unpacked, packed);
}

}  // namespace rar

namespace {

constexpr uint8_t kMarker[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr uint8_t kMarker5[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
constexpr int32_t kMarkerSize = 7;
constexpr int32_t kBlockSize = 32;  // what the walk reads: a file header up to its name
// Block fields.
constexpr int kTypeOffset = 2;
constexpr int kFlagsOffset = 3;
constexpr int kSizeOffset = 5;
constexpr int kPackedOffset = 7;  // the added size of other long blocks
constexpr int kUnpackedOffset = 11;
constexpr int kHostOsOffset = 15;
constexpr int kCrcOffset = 16;
constexpr int kDateTimeOffset = 20;
constexpr int kMethodOffset = 25;
constexpr int kNameSizeOffset = 26;
constexpr int kAttributesOffset = 28;
constexpr int kNameOffset = 32;
constexpr int32_t kMainHeaderSize = 13;
// Block types and flags.
constexpr uint8_t kTypeMain = 0x73;
constexpr uint8_t kTypeFile = 0x74;
constexpr uint8_t kTypeOldComment = 0x75;
constexpr uint16_t kMainEncryptedHeaders = 0x0080;
constexpr uint16_t kSplitBefore = 0x0001;
constexpr uint16_t kSplitAfter = 0x0002;
constexpr uint16_t kDirectoryFlags = 0x00E0;  // dictionary bits all set: a directory
constexpr uint16_t kLargeFile = 0x0100;       // 32-bit high parts of both sizes before the name
constexpr uint16_t kUnicodeName = 0x0200;
constexpr uint16_t kSkipIfUnknown = 0x4000;
constexpr uint16_t kLongBlock = 0x8000;
constexpr uint8_t kHostUnix = 3;

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

namespace rar {

// The Unicode form of a name stored behind its 8-bit form and a zero byte: a high byte shared by
// runs of characters, then 2-bit opcodes (four per flag byte, highest bits first): 0 a low byte;
// 1 a low byte with the shared high byte; 2 a whole 16-bit character; 3 a run copied from the
// 8-bit name, optionally shifted by a correction byte under the shared high byte. Returns UTF-8.
std::string DecodeUnicodeName(const uint8_t* name, size_t nameLength, const uint8_t* enc,
                              size_t encLength) {
  std::u16string wide;
  size_t pos = 0;
  if (encLength == 0) return {};
  const uint8_t high = enc[pos++];
  uint8_t flags = 0;
  int flagBits = 0;
  while (pos < encLength && wide.size() < nameLength) {
    if (flagBits == 0) {
      flags = enc[pos++];
      flagBits = 8;
      if (pos >= encLength) break;
    }
    const int op = flags >> 6;
    flags = static_cast<uint8_t>(flags << 2);
    flagBits -= 2;
    switch (op) {
      case 0:
        wide += static_cast<char16_t>(enc[pos++]);
        break;
      case 1:
        wide += static_cast<char16_t>(enc[pos++] | (high << 8));
        break;
      case 2:
        if (pos + 1 >= encLength) return {};
        wide += static_cast<char16_t>(enc[pos] | (enc[pos + 1] << 8));
        pos += 2;
        break;
      default: {
        const uint8_t length = enc[pos++];
        if (length & 0x80) {
          if (pos >= encLength) return {};
          const uint8_t correction = enc[pos++];
          for (int i = (length & 0x7F) + 2; i > 0 && wide.size() < nameLength; --i)
            wide += static_cast<char16_t>(((name[wide.size()] + correction) & 0xFF) | (high << 8));
        } else {
          for (int i = length + 2; i > 0 && wide.size() < nameLength; --i)
            wide += static_cast<char16_t>(name[wide.size()]);
        }
        break;
      }
    }
  }
  std::string out;
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t c = wide[i];
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, c);
  }
  return out;
}

}  // namespace rar

namespace {

class TRarLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override;
  void Header(TArcovaWalk& walk) override;

 private:
  // Reads the marker and archive header of the volume at `position`; the first block follows
  // them. False (with 25114 or 25290 reported) when they are not there or headers are encrypted.
  bool ReadArchiveHeader(TArcovaWalk& walk, int64_t position);

  std::unique_ptr<TListerFormat> FRar5;
  int64_t FRunningPacked = 0;
  int FVolumeIndex = 0;
};

bool TRarLister::ReadArchiveHeader(TArcovaWalk& walk, int64_t position) {
  uint8_t head[kMarkerSize + kMainHeaderSize];
  const int32_t got = walk.Stream().ReadAt(position, head, sizeof head);
  if (got != static_cast<int32_t>(sizeof head)) {
    walk.ReportError(walk.VolumeName(), kErrReadingFile);
    return false;
  }
  if (std::memcmp(head, kMarker, kMarkerSize) != 0 ||
      head[kMarkerSize + kTypeOffset] != kTypeMain) {
    walk.ReportError(walk.VolumeName(), kErrBadFileHeader);
    return false;
  }
  if (GetLe16(head + kMarkerSize + kFlagsOffset) & kMainEncryptedHeaders) {
    walk.ReportError(walk.VolumeName(), rar::kErrPasswordProtected);
    return false;
  }
  // The archive header may be longer than its 13 fixed bytes (a comment, a version field).
  const uint16_t mainSize = GetLe16(head + kMarkerSize + kSizeOffset);
  walk.StartOffset = walk.CurrentOffset =
      position + kMarkerSize + std::max<int32_t>(mainSize, kMainHeaderSize);
  return true;
}

void TRarLister::FirstHeader(TArcovaWalk& walk) {
  uint8_t marker[sizeof kMarker5];
  if (walk.Stream().ReadAt(walk.StartOffset, marker, sizeof marker) == sizeof marker &&
      std::memcmp(marker, kMarker5, sizeof kMarker5) == 0) {
    FRar5 = CreateRar5Lister();
    FRar5->FirstHeader(walk);
    return;
  }
  walk.SetHeaderSize(kBlockSize);
  if (!ReadArchiveHeader(walk, walk.StartOffset)) walk.ReadNothing();
}

void TRarLister::Header(TArcovaWalk& walk) {
  if (FRar5) {
    FRar5->Header(walk);
    return;
  }
  const uint8_t* h = walk.Header();
  const int64_t start = walk.HeaderStart;
  const uint8_t type = h[kTypeOffset];
  const uint16_t flags = GetLe16(h + kFlagsOffset);
  const uint16_t headerSize = GetLe16(h + kSizeOffset);
  if (type == kTypeOldComment && headerSize > 0) {
    walk.CurrentOffset = start + headerSize;
    return;
  }
  // The end-of-archive block carries no added size: that is how the end is found.
  if (!(flags & kLongBlock) || headerSize < kPackedOffset + 4 || walk.Cancelled()) {
    walk.EndWalk();
    return;
  }
  int64_t packed = GetLe32(h + kPackedOffset);
  if ((flags & kSkipIfUnknown) || type != kTypeFile) {
    walk.CurrentOffset = start + headerSize + packed;
    return;
  }
  if (headerSize < kNameOffset) {
    walk.EndWalk();
    return;
  }

  // File header: the name behind the fixed part (and behind the high size words of a large file).
  int64_t unpacked = GetLe32(h + kUnpackedOffset);
  int32_t namePos = kNameOffset;
  if (flags & kLargeFile) {
    uint8_t highs[8];
    if (walk.Stream().ReadAt(start + kNameOffset, highs, 8) != 8) {
      walk.EndWalk();
      return;
    }
    packed = rar::ClampSize(uint64_t{GetLe32(highs)} << 32 | static_cast<uint64_t>(packed));
    unpacked = rar::ClampSize(uint64_t{GetLe32(highs + 4)} << 32 | static_cast<uint64_t>(unpacked));
    namePos += 8;
    // Data that would end beyond any file's end is no member: what follows cannot be found.
    if (packed > INT64_MAX - (start + headerSize)) {
      walk.EndWalk();
      return;
    }
  }
  const uint16_t nameSize = GetLe16(h + kNameSizeOffset);
  if (namePos + nameSize > headerSize) {
    walk.EndWalk();  // the name would reach out of its header
    return;
  }
  int32_t got = 0;
  const uint8_t* stored = walk.Stream().Peek(start + namePos, nameSize, got);
  if (nameSize > 0 && (!stored || got != nameSize)) {
    walk.EndWalk();
    return;
  }
  const uint8_t hostOs = h[kHostOsOffset];
  walk.ClearEntry();
  const size_t narrow = nameSize ? strnlen(reinterpret_cast<const char*>(stored), nameSize) : 0;
  if ((flags & kUnicodeName) && narrow < nameSize) {
    walk.SetFileName(
        rar::DecodeUnicodeName(stored, narrow, stored + narrow + 1, nameSize - narrow - 1), false);
  } else {
    // Without the 8-bit form the Unicode flag means the name is UTF-8; DOS, OS/2 and Windows
    // hosts write the 8-bit form in the OEM character set.
    walk.SetFileName(std::string(reinterpret_cast<const char*>(stored), narrow),
                     !(flags & kUnicodeName) && hostOs < kHostUnix);
  }
  if (walk.FileName().empty()) {
    walk.EndWalk();  // a file header without a name is no header
    return;
  }
  walk.FireReadFile();
  uint32_t attributes = GetLe32(h + kAttributesOffset);
  if (hostOs == kHostUnix) attributes = (h[kAttributesOffset + 1] & 0x40) ? 0x10 : 0x20;
  const bool directory = (attributes & 0x10) != 0 || (flags & kDirectoryFlags) == kDirectoryFlags;
  if (directory && walk.FileName().back() != '\\') walk.SetFileNameRaw(walk.FileName() + "\\");

  TArcovaEntry& entry = walk.Entry();
  entry.UnpackedSize = unpacked;
  entry.DosDateTime = GetLe32(h + kDateTimeOffset);
  entry.Crc32 = GetLe32(h + kCrcOffset);
  entry.Method = h[kMethodOffset];
  entry.Flags = flags;
  entry.Attributes = directory ? (attributes | 0x10) : attributes;
  entry.IsDirectory = directory;
  entry.Encrypted = (flags & 0x0004) != 0;

  FRunningPacked = (flags & kSplitBefore) ? SaturatingAdd(FRunningPacked, packed) : packed;
  entry.PackedSize = FRunningPacked;
  walk.CurrentOffset = start + headerSize + packed;

  // The rest of this file is in the next volume: count it there, where it ends.
  const auto readStart = [this](TArcovaWalk& w, int64_t position) {
    return ReadArchiveHeader(w, position);
  };
  if ((flags & kSplitAfter) && rar::FollowSplitFile(walk, FVolumeIndex, readStart)) return;

  rar::ReportFileEntry(walk, start, directory, unpacked, FRunningPacked);
}

}  // namespace

std::unique_ptr<TListerFormat> CreateRarLister() {
  return std::make_unique<TRarLister>();
}
