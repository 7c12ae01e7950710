// The member source of ARJ archives, their self-extracting form and their volume sets: walks the
// local headers behind the main header the way the lister does (a member split over volumes is one
// member, named by its last part, with the sizes of all parts), and decodes a member part by part
// with ARJ's decoders, each part checked against its own CRC-32. Garbled members are deciphered
// with the password; ARJ's GOST encryption (version 2 and later) is not.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "archive/codecs/arvArj.h"
#include "archive/common/arvGbls.h"
#include "archive/common/arvStreams.h"
#include "archive/formats/arj_header.h"
#include "archive/formats/arvMemberSource.h"
#include "archive/formats/format_dates.h"
#include "archive/formats/old_sources.h"
#include "archive/messages/Err_Msgs.h"
#include "platform/host.h"

namespace {

using arj::THeader;

constexpr uint8_t kGostEncryption = 2;  // encryption versions from here on are GOST, not garbling
// A set of more volumes than this is not followed (ARJ numbers .a01 to .a99, then .100 to .999).
constexpr int kMaxVolumes = 999;

// The next volume's name: "a.arj" goes on in "a.a01", "a.a01" in "a.a02", "a.a99" in "a.100";
// `number` becomes the next volume's number.
std::string NextVolumeName(const std::string& path, int& number) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string base = hasExt ? path.substr(0, dot) : path;
  const std::string ext = hasExt ? path.substr(dot + 1) : std::string();
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (ext.size() >= 2 && ext.size() <= 4 && std::all_of(ext.begin() + 1, ext.end(), isDigit)) {
    number = std::stoi(isDigit(ext[0]) ? ext : ext.substr(1)) + 1;
  } else {
    number = 1;
  }
  const char letter = !ext.empty() && ext[0] >= 'A' && ext[0] <= 'Z' ? 'A' : 'a';
  if (number > 99) return base + "." + std::to_string(number);
  return base + "." + letter + static_cast<char>('0' + number / 10) +
         static_cast<char>('0' + number % 10);
}

class TArjSource final : public TMemberSource {
 public:
  TArjSource(const std::string& hostPath, int64_t start, const TSourceServices& services)
      : FVolume(hostPath), FStart(start), FServices(services) {}

  bool Next(TSourceMember& member) override {
    SetError(0);
    FParts.clear();
    if (FEnded) return false;
    if (!FStream && !OpenFirst()) return End();
    for (;;) {
      THeader part;
      if (!arj::ReadHeader(*FStream, FNext, part)) return End();  // the end header, or nothing valid
      FParts.push_back({FVolume, part});
      FNext = part.Data + part.PackedSize;
      if (part.Flags & arj::kFlagVolume) {
        if (!FollowVolumes()) return End();
        break;
      }
      // The rest of a member whose start is in an earlier volume than the one opened.
      if (part.Flags & arj::kFlagExtFile) {
        FParts.clear();
        continue;
      }
      break;
    }
    Describe(member);
    return true;
  }

  TDecodeResult Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                       const std::string& password) override {
    SetError(0);
    if (FParts.empty()) {
      SetError(kErrReadingFile, "no member to decode");
      return TDecodeResult::Damaged;
    }
    const THeader& first = FParts.front().Header;
    if (first.FileType == arj::kTypeDirectory) return TDecodeResult::Ok;
    const bool garbled = (first.Flags & arj::kFlagGarbled) != 0;
    if (garbled && FEncryption >= kGostEncryption) {
      SetError(kErrUnsupportedMethod, "encrypted with ARJ's GOST cipher, which Parcelo cannot decrypt");
      return TDecodeResult::EncryptedUnsupported;
    }
    if (garbled && password.empty()) return TDecodeResult::WrongPassword;
    for (const TPart& part : FParts) {
      const TDecodeResult result = DecodePart(part, sink, garbled ? password : std::string());
      if (result != TDecodeResult::Ok) return result;
    }
    return TDecodeResult::Ok;
  }

 private:
  struct TPart {
    std::string Volume;
    THeader Header;
  };

  bool End() {
    FEnded = true;
    FParts.clear();
    return false;
  }

  bool OpenVolume(const std::string& hostPath) {
    auto stream = std::make_unique<TFileStream32>(host::FromHostPath(hostPath),
                                                  host::fmOpenRead | host::fmShareDenyWrite);
    if (stream->Handle() < 0) {
      SetError(kErrOpeningFile, hostPath);
      return false;
    }
    FStream = std::move(stream);
    FStreamVolume = hostPath;
    return true;
  }

  bool OpenFirst() {
    if (!OpenVolume(FVolume)) return false;
    THeader main;
    if (!arj::ReadHeader(*FStream, FStart, main)) {
      SetError(kErrBadFileHeader, FVolume);
      return false;
    }
    FEncryption = main.Encryption;
    FNext = main.Data;
    return true;
  }

  // The parts of a member that goes on in the next volumes: each volume's main header, then the
  // member's next part, until a part that does not go on.
  bool FollowVolumes() {
    while (FParts.back().Header.Flags & arj::kFlagVolume) {
      if (FServices.Cancel != nullptr && *FServices.Cancel != 0) return false;
      int number = 0;
      std::string next = NextVolumeName(FVolume, number);
      if (number > kMaxVolumes || !FServices.NextVolume ||
          !FServices.NextVolume(next, std::to_string(number))) {
        return false;
      }
      FVolume = next;
      if (!OpenVolume(FVolume)) return false;
      THeader main, part;
      if (!arj::ReadHeader(*FStream, 0, main) || !arj::ReadHeader(*FStream, main.Data, part)) {
        SetError(kErrBadFileHeader, FVolume);
        return false;
      }
      FParts.push_back({FVolume, part});
      FNext = part.Data + part.PackedSize;
    }
    return true;
  }

  void Describe(TSourceMember& m) const {
    const THeader& last = FParts.back().Header;
    m = TSourceMember{};
    const bool dos = arj::HostIsDos(last.HostOs);
    m.Name = dos ? host::OemToAnsi(last.Name) : last.Name;
    m.Kind = last.FileType == arj::kTypeDirectory ? TMemberKind::Folder : TMemberKind::File;
    int64_t size = 0, packed = 0;
    for (const TPart& part : FParts) {
      size += part.Header.OriginalSize;
      packed += part.Header.PackedSize;
    }
    m.Size = m.Kind == TMemberKind::Folder ? 0 : size;
    m.PackedSize = packed;
    if (dos) {
      m.DosDateTime = last.Time;
      m.Attributes = last.AccessMode & 0xFF;
    } else {
      m.DosDateTime = UnixToDosDateTime(last.Time);
      m.HasExactTime = true;
      m.UnixTime = last.Time;
      if (last.HostOs == arj::kHostUnix) m.Mode = last.AccessMode & 07777;
    }
    m.Encrypted = (FParts.front().Header.Flags & arj::kFlagGarbled) != 0;
    static const char* const kMethods[] = {"Stored", "Most", "2nd Most", "2nd Fast", "Fastest"};
    m.Method = last.Method <= kArjMethodFastest ? kMethods[last.Method]
                                                : "method " + std::to_string(last.Method);
  }

  TDecodeResult DecodePart(const TPart& part, const std::function<void(const uint8_t*, size_t)>& sink,
                           const std::string& password) {
    const THeader& h = part.Header;
    if (h.Method > kArjMethodFastest) {
      SetError(kErrUnsupportedMethod, "ARJ method " + std::to_string(h.Method));
      return TDecodeResult::Unsupported;
    }
    if (FStreamVolume != part.Volume && !OpenVolume(part.Volume)) return TDecodeResult::Truncated;
    const bool garbled = !password.empty();
    TArjGarble garble(password, h.Modifier);
    TPackedBytes packed(*FStream, h.Data, h.PackedSize);
    uint32_t crc = 0xFFFFFFFF;
    TCodecIo io;
    io.Read = [&](uint8_t* buffer, size_t count) {
      const size_t got = packed(buffer, count);
      if (garbled) garble.Apply(buffer, got);
      return got;
    };
    io.Write = [&](const uint8_t* bytes, size_t count) {
      crc = Crc32Update(crc, bytes, count);
      sink(bytes, count);
    };
    io.Cancel = FServices.Cancel;
    const TCodecStatus status = DecodeArj(h.Method, h.OriginalSize, io);
    if (status == TCodecStatus::Cancelled) return TDecodeResult::Cancelled;
    if (status == TCodecStatus::Ok && ~crc == h.Crc32) return TDecodeResult::Ok;
    if (garbled) return TDecodeResult::WrongPassword;
    switch (status) {
      case TCodecStatus::Ok:
        SetError(kErrCrcCheck, h.Name);
        return TDecodeResult::ChecksumFailed;
      case TCodecStatus::Truncated:
        SetError(kErrReadingFile, h.Name);
        return TDecodeResult::Truncated;
      case TCodecStatus::Unsupported:
        SetError(kErrUnsupportedMethod, "ARJ method " + std::to_string(h.Method));
        return TDecodeResult::Unsupported;
      default:
        SetError(kErrBadBlock, h.Name);
        return TDecodeResult::Damaged;
    }
  }

  std::string FVolume;        // the volume the walk stands in
  int64_t FStart;
  TSourceServices FServices;
  std::unique_ptr<TStream32> FStream;
  std::string FStreamVolume;  // the volume FStream reads
  int64_t FNext = 0;          // the next local header
  uint8_t FEncryption = 0;
  bool FEnded = false;
  std::vector<TPart> FParts;  // the current member, part by part
};

}  // namespace

std::unique_ptr<TMemberSource> CreateArjSource(const std::string& hostPath, int64_t start,
                                               const TSourceServices& services) {
  return std::make_unique<TArjSource>(hostPath, start, services);
}
