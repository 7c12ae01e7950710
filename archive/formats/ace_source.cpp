// The member source of ACE archives, plain and self-extracting, single or in volumes (.ace, .c00,
// .c01, ...): the archive header at the start offset, then one file header per member, each
// followed by its packed data. A member split over volumes is yielded once, at its first part, and
// decoded across the volumes; it is verified against the CRC of its last part. In a solid archive
// the decoder carries its dictionary from member to member, so a member that is passed over is
// still decoded (into nothing) to keep the ones after it readable.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/codecs/arvAce.h"
#include "archive/codecs/arvBytes.h"
#include "archive/common/arvStreams.h"
#include "archive/formats/old_sources.h"
#include "archive/messages/Err_Msgs.h"
#include "platform/host.h"

namespace {

// Every header: its CRC (the low half of ACE's CRC-32 over what follows the size), the size of
// what follows the size field, then the type and the flags.
constexpr int kPrefixSize = 4;
constexpr uint8_t kMainHeaderType = 0;
constexpr uint8_t kFileHeaderType = 1;
constexpr char kAceMark[] = "**ACE**";
constexpr int kMainHeaderMinimum = 27;  // type to the creation date, behind the prefix
constexpr int kFileHeaderMinimum = 31;  // type to the name's size, behind the prefix

constexpr uint16_t kMainFlagSolid = 0x8000;
constexpr uint16_t kFileFlagSplitBefore = 0x1000;
constexpr uint16_t kFileFlagSplitAfter = 0x2000;
constexpr uint16_t kFileFlagPassword = 0x4000;
constexpr uint32_t kAttributeDirectory = 0x10;

constexpr char kCannotDecrypt[] = "encrypted with a method Parcelo cannot decrypt here";

struct TFileHeader {
  bool Valid = false;   // the header CRC matched
  uint16_t Flags = 0;
  uint32_t PackedSize = 0;
  uint32_t Size = 0;
  uint32_t DosDateTime = 0;
  uint32_t Attributes = 0;
  uint32_t Crc = 0;
  uint8_t Type = 0;
  uint8_t Quality = 0;
  uint16_t Parameters = 0;
  std::string Name;
  int64_t DataOffset = 0;
};

// The name of the volume after `path` in a set whose first volume ends in .ace: .c00 to .c99,
// then .d00 and on; the letter's case follows the extension's.
std::string NextVolumeName(const std::string& path, int number) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  std::string base = path;
  bool upper = false;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    base = path.substr(0, dot);
    const std::string ext = path.substr(dot + 1);
    upper = !ext.empty() && std::isupper(static_cast<unsigned char>(ext[0]));
  }
  const int index = number - 1;  // .c00 is the set's second volume
  char letter = static_cast<char>((upper ? 'C' : 'c') + index / 100);
  char digits[3] = {static_cast<char>('0' + index / 10 % 10), static_cast<char>('0' + index % 10),
                    0};
  return base + "." + letter + digits;
}

class TAceSource final : public TMemberSource {
 public:
  TAceSource(const std::string& hostPath, int64_t start, const TSourceServices& services)
      : FPath(hostPath), FStart(start), FServices(services) {}

  bool Next(TSourceMember& member) override {
    SetError(0);
    if (!FOpened) {
      FOpened = true;
      if (!OpenVolume(FPath, FStart)) return false;
    } else if (FStanding && !FDecoded && !PassOver()) {
      return false;
    }
    FStanding = false;
    if (FEnded) return false;
    if (!ReadFileHeader(FOffset, FHeader)) return false;
    FStanding = true;
    FDecoded = false;
    FOffset = FHeader.DataOffset + FHeader.PackedSize;

    member = TSourceMember{};
    member.Name = host::OemToAnsi(FHeader.Name);
    member.Kind = (FHeader.Attributes & kAttributeDirectory) ? TMemberKind::Folder
                                                             : TMemberKind::File;
    member.Size = FHeader.Size;
    member.PackedSize = FHeader.PackedSize;
    member.DosDateTime = FHeader.DosDateTime;
    member.Attributes = FHeader.Attributes & 0xFFFF;
    member.Encrypted = (FHeader.Flags & kFileFlagPassword) != 0;
    member.Method = FHeader.Type == kAceTypeStored   ? "Stored"
                    : FHeader.Type == kAceTypeLz77   ? "ACE 1.0 LZ77"
                    : FHeader.Type == kAceTypeBlocked ? "ACE 2.0"
                                                      : "ACE " + AceTypeName(FHeader.Type);
    FIsFolder = member.Kind == TMemberKind::Folder;
    return true;
  }

  TDecodeResult Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                       const std::string& /*password*/) override {
    SetError(0);
    if (!FStanding || FDecoded) {
      SetError(kErrReadingFile, "no member to decode");
      return TDecodeResult::Damaged;
    }
    FDecoded = true;
    if (FIsFolder) return TDecodeResult::Ok;
    return DecodeMember(sink);
  }

 private:
  // ---- volumes and headers
  bool OpenVolume(const std::string& hostPath, int64_t start) {
    FStream = std::make_unique<TFileStream32>(host::FromHostPath(hostPath),
                                              host::fmOpenRead | host::fmShareDenyWrite);
    if (FStream->Handle() < 0) {
      FStream.reset();
      SetError(kErrOpeningFile, hostPath);
      return false;
    }
    FVolumeSize = FStream->GetSize();
    uint8_t prefix[kPrefixSize + kMainHeaderMinimum];
    if (FStream->ReadAt(start, prefix, sizeof prefix) != static_cast<int32_t>(sizeof prefix) ||
        prefix[4] != kMainHeaderType || std::memcmp(prefix + 7, kAceMark, 7) != 0) {
      SetError(kErrBadFileHeader, "no ACE archive header");
      return false;
    }
    const uint16_t flags = GetLe16(prefix + 5);
    if (!FSetKnown) {
      FSetKnown = true;
      FSolid = (flags & kMainFlagSolid) != 0;
    }
    FVolumeNumber = prefix[17];
    FOffset = start + kPrefixSize + GetLe16(prefix + 2);
    FEnded = false;
    return true;
  }

  // Reads the file header at `offset`; false at the end of the members (no error) or when the
  // header cannot be read whole (an error).
  bool ReadFileHeader(int64_t offset, TFileHeader& header) {
    uint8_t prefix[kPrefixSize];
    if (offset + kPrefixSize > FVolumeSize ||
        FStream->ReadAt(offset, prefix, kPrefixSize) != kPrefixSize) {
      FEnded = true;
      return false;
    }
    const uint16_t size = GetLe16(prefix + 2);
    std::vector<uint8_t> body(size);
    if (size == 0 || FStream->ReadAt(offset + kPrefixSize, body.data(), size) != size) {
      FEnded = true;
      SetError(kErrReadingFile, "the archive ends inside a header");
      return false;
    }
    if (body[0] != kFileHeaderType || size < kFileHeaderMinimum) {
      FEnded = true;  // a recovery record or anything else that is no member
      return false;
    }
    const uint8_t* h = body.data() - kPrefixSize;  // offsets as in the file
    header = TFileHeader{};
    header.Valid = (AceCrc32(kAceCrcStart, body.data(), size) & 0xFFFF) == GetLe16(prefix);
    header.Flags = GetLe16(h + 5);
    header.PackedSize = GetLe32(h + 7);
    header.Size = GetLe32(h + 11);
    header.DosDateTime = GetLe32(h + 15);
    header.Attributes = GetLe32(h + 19);
    header.Crc = GetLe32(h + 23);
    header.Type = h[27];
    header.Quality = h[28];
    header.Parameters = GetLe16(h + 29);
    const size_t nameSize = std::min<size_t>(GetLe16(h + 33), size + kPrefixSize - 35);
    header.Name.assign(reinterpret_cast<const char*>(h + 35), nameSize);
    header.DataOffset = offset + kPrefixSize + size;
    return true;
  }

  // Moves to the part of the current member in the next volume; false when there is none.
  bool NextPart() {
    if (!(FPart.Flags & kFileFlagSplitAfter)) return false;
    std::string name = NextVolumeName(FPath, FVolumeNumber + 1);
    if (!FServices.NextVolume ||
        !FServices.NextVolume(name, std::to_string(FVolumeNumber + 1))) {
      SetError(kErrReadingFile, "the next volume of the set is missing");
      FEnded = true;
      return false;
    }
    FPath = name;
    if (!OpenVolume(FPath, 0)) {
      FEnded = true;
      return false;
    }
    TFileHeader next;
    if (!ReadFileHeader(FOffset, next) || !(next.Flags & kFileFlagSplitBefore) ||
        next.Name != FPart.Name) {
      SetError(kErrBadFileHeader, "the next volume does not continue the member");
      FEnded = true;
      return false;
    }
    FPart = next;
    FPartBytes = TPackedBytes(*FStream, next.DataOffset, next.PackedSize);
    FOffset = next.DataOffset + next.PackedSize;
    return true;
  }

  // Up to `count` bytes of the member's packed data, across volumes.
  size_t ReadPacked(uint8_t* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
      if (FPartBytes.Left() == 0 && !NextPart()) break;
      const size_t got = FPartBytes(buffer + done, count - done);
      if (got == 0) {  // a failed read: the member ends here
        FPartBytes = TPackedBytes();
        FPart.Flags &= static_cast<uint16_t>(~kFileFlagSplitAfter);
        break;
      }
      done += got;
    }
    return done;
  }

  // A member not decoded: in a solid archive decoded into nothing, otherwise its later parts
  // passed over.
  bool PassOver() {
    FDecoded = true;
    if (FSolid && !FIsFolder && !(FHeader.Flags & kFileFlagPassword)) {
      const TDecodeResult result = DecodeMember([](const uint8_t*, size_t) {});
      if (result == TDecodeResult::Cancelled) return false;
      SetError(0);  // said again, if it matters, when the member after it is read
      return true;
    }
    FPart = FHeader;
    while (FPart.Flags & kFileFlagSplitAfter) {
      if (!NextPart()) return false;
    }
    return true;
  }

  TDecodeResult DecodeMember(const std::function<void(const uint8_t*, size_t)>& sink) {
    FPart = FHeader;
    FPartBytes = TPackedBytes(*FStream, FHeader.DataOffset, FHeader.PackedSize);
    if (FHeader.Flags & kFileFlagPassword) {
      SetError(kErrUnsupportedMethod, kCannotDecrypt);
      SkipRest();
      return TDecodeResult::EncryptedUnsupported;
    }
    if (FHeader.Flags & kFileFlagSplitBefore) {
      SetError(kErrReadingFile, "the member begins in an earlier volume");
      SkipRest();
      return TDecodeResult::Truncated;
    }
    if (!FHeader.Valid) {
      SetError(kErrBadFileHeader, "header CRC error");
      SkipRest();
      return TDecodeResult::Damaged;
    }
    if (!FSolid) FDecoder.Reset();
    uint32_t crc = kAceCrcStart;
    TCodecIo io;
    io.Read = [this](uint8_t* buffer, size_t count) { return ReadPacked(buffer, count); };
    io.Write = [&](const uint8_t* bytes, size_t count) {
      crc = AceCrc32(crc, bytes, count);
      sink(bytes, count);
    };
    io.Cancel = FServices.Cancel;
    TAceMember codec;
    codec.Type = FHeader.Type;
    codec.Parameters = FHeader.Parameters;
    codec.Size = FHeader.Size;
    const TCodecStatus status = FDecoder.Decode(codec, io);
    const int error = ErrorCode();
    SkipRest();
    if (error != 0) return TDecodeResult::Truncated;  // a volume missing or out of order
    switch (status) {
      case TCodecStatus::Ok:
        break;
      case TCodecStatus::Truncated:
        SetError(kErrReadingFile, FDecoder.Detail());
        return TDecodeResult::Truncated;
      case TCodecStatus::Corrupt:
        SetError(kErrBadBlock, FDecoder.Detail());
        return TDecodeResult::Damaged;
      case TCodecStatus::Unsupported:
        SetError(kErrUnsupportedMethod, FDecoder.Detail());
        return TDecodeResult::Unsupported;
      case TCodecStatus::Cancelled:
        return TDecodeResult::Cancelled;
    }
    if (crc != FPart.Crc) {
      SetError(kErrCrcCheck);
      return TDecodeResult::ChecksumFailed;
    }
    return TDecodeResult::Ok;
  }

  // Moves past the member's remaining parts (the next header follows the last one).
  void SkipRest() {
    while ((FPart.Flags & kFileFlagSplitAfter) && NextPart()) {
    }
  }

  std::string FPath;
  int64_t FStart = 0;
  TSourceServices FServices;
  std::unique_ptr<TFileStream32> FStream;
  int64_t FVolumeSize = 0;
  int FVolumeNumber = 0;
  bool FOpened = false;
  bool FSetKnown = false;
  bool FSolid = false;
  bool FEnded = false;
  int64_t FOffset = 0;  // the next file header

  TFileHeader FHeader;  // the member Next stands on (its first part)
  bool FStanding = false;
  bool FDecoded = false;
  bool FIsFolder = false;
  TFileHeader FPart;  // the part being read
  TPackedBytes FPartBytes;  // what is left of the current part's packed data
  TAceDecoder FDecoder;
};

}  // namespace

std::unique_ptr<TMemberSource> CreateAceSource(const std::string& hostPath, int64_t start,
                                               const TSourceServices& services) {
  return std::make_unique<TAceSource>(hostPath, start, services);
}
