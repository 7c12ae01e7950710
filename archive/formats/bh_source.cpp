// The member source of BH (BlakHole) archives, plain and self-extracting: a chain of 37-byte
// member headers, each starting with "BH" 05 07 and followed by the name and the packed data. The
// members are yielded with their names, sizes, times and attributes; no BH method is decoded,
// since no BH archive was at hand to check a decoder against: each file is refused with its
// method named.
#include <cstring>
#include <memory>
#include <string>

#include "archive/codecs/arvBytes.h"
#include "archive/common/arvStreams.h"
#include "archive/formats/old_sources.h"
#include "archive/messages/Err_Msgs.h"
#include "platform/host.h"

namespace {

constexpr int kHeaderSize = 37;
constexpr uint8_t kSignature[4] = {'B', 'H', 0x05, 0x07};
constexpr uint8_t kFlagEncrypted = 0x01;
constexpr uint16_t kAttributeDirectory = 0x10;

std::string BhMethodName(uint8_t method) {
  switch (method) {
    case 0:
      return "Stored";
    case 1:
      return "Fused1";
    case 2:
    case 8:
      return "Deflate";
    case 3:
      return "Fused3";
    default:
      return "method " + std::to_string(method);
  }
}

class TBhSource final : public TMemberSource {
 public:
  TBhSource(const std::string& hostPath, int64_t start) : FPath(hostPath), FOffset(start) {}

  bool Next(TSourceMember& member) override {
    SetError(0);
    FStanding = false;
    if (!FStream) {
      if (FEnded) return false;
      FStream = std::make_unique<TFileStream32>(host::FromHostPath(FPath),
                                                host::fmOpenRead | host::fmShareDenyWrite);
      if (FStream->Handle() < 0) {
        FEnded = true;
        SetError(kErrOpeningFile, FPath);
        return false;
      }
      FSize = FStream->GetSize();
    }
    if (FEnded) return false;
    uint8_t h[kHeaderSize];
    if (FOffset + kHeaderSize >= FSize ||
        FStream->ReadAt(FOffset, h, kHeaderSize) != kHeaderSize ||
        std::memcmp(h, kSignature, 4) != 0 || GetLe16(h + 4) == 0) {
      FEnded = true;
      return false;
    }
    const uint8_t nameLength = h[33];
    const int64_t namePosition = FOffset + kHeaderSize;
    std::string name(nameLength, '\0');
    if (namePosition + nameLength > FSize ||
        FStream->ReadAt(namePosition, name.data(), nameLength) != nameLength) {
      FEnded = true;
      SetError(kErrReadingFile, "the archive ends inside a header");
      return false;
    }
    const uint32_t packed = GetLe32(h + 15);
    FOffset = namePosition + nameLength + int64_t{packed};
    member = TSourceMember{};
    member.Name = host::OemToAnsi(name);
    const uint16_t attributes = GetLe16(h + 27);
    member.Kind = (attributes & kAttributeDirectory) ? TMemberKind::Folder : TMemberKind::File;
    member.Size = GetLe32(h + 19);
    member.PackedSize = packed;
    member.DosDateTime = GetLe32(h + 11);
    member.Attributes = attributes;
    member.Encrypted = (h[9] & kFlagEncrypted) != 0;
    member.Method = BhMethodName(h[10]);
    FMember = member;
    FStanding = true;
    return true;
  }

  TDecodeResult Decode(const std::function<void(const uint8_t*, size_t)>&,
                       const std::string&) override {
    SetError(0);
    if (!FStanding) {
      SetError(kErrReadingFile, "no member to decode");
      return TDecodeResult::Damaged;
    }
    FStanding = false;
    if (FMember.Kind == TMemberKind::Folder) return TDecodeResult::Ok;
    SetError(kErrUnsupportedMethod, "BH method " + FMember.Method);
    return TDecodeResult::Unsupported;
  }

 private:
  std::string FPath;
  int64_t FOffset = 0;
  int64_t FSize = 0;
  bool FEnded = false;
  bool FStanding = false;
  TSourceMember FMember;
  std::unique_ptr<TFileStream32> FStream;
};

}  // namespace

std::unique_ptr<TMemberSource> CreateBhSource(const std::string& hostPath, int64_t start,
                                              const TSourceServices&) {
  return std::make_unique<TBhSource>(hostPath, start);
}
