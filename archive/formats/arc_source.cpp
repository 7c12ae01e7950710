// The member source of ARC and PAK archives: walks the chain of member headers the way the lister
// does (ARC's method 30 opens a folder whose members follow, 31 closes it) and decodes a member
// with ARC's decoders, checked against the header's CRC-16. PAK's crushing and distilling are
// reported as methods Parcelo cannot decode.
#include <memory>
#include <string>
#include <vector>

#include "archive/codecs/arvArc.h"
#include "archive/common/arvStreams.h"
#include "archive/formats/arvMemberSource.h"
#include "archive/formats/old_sources.h"
#include "archive/messages/Err_Msgs.h"
#include "platform/host.h"

namespace {

// ---- the member header --------------------------------------------------------------------------
constexpr int32_t kHeaderSize = 29;     // mark, method, name 13, packed 4, date, time, CRC, size 4
constexpr int32_t kOldHeaderSize = 25;  // method 1 records no unpacked size
constexpr int32_t kNameSize = 13;
constexpr uint8_t kMark = 0x1A;
constexpr uint8_t kEnd = 0;
constexpr uint8_t kFolder = 30;
constexpr uint8_t kFolderEnd = 31;
// The lister's bound on nested folders, so both read the same members.
constexpr size_t kMaxDepth = 64;

const char* MethodName(uint8_t method) {
  static const char* const kNames[] = {"Stored",   "Stored",   "Packed",  "Squeezed",
                                       "Crunched", "Crunched", "Crunched", "Crunched",
                                       "Squashed", "Crushed",  "Distilled"};
  return method >= 1 && method <= 11 ? kNames[method - 1] : "Unknown";
}

class TArcSource final : public TMemberSource {
 public:
  TArcSource(const std::string& hostPath, int64_t start, bool pak,
             const TSourceServices& services)
      : FPath(hostPath), FNext(start), FPak(pak), FServices(services) {}

  bool Next(TSourceMember& member) override {
    SetError(0);
    FHave = false;
    if (FEnded) return false;
    if (!FStream) {
      auto stream = std::make_unique<TFileStream32>(host::FromHostPath(FPath),
                                                    host::fmOpenRead | host::fmShareDenyWrite);
      if (stream->Handle() < 0) {
        SetError(kErrOpeningFile, FPath);
        return End();
      }
      FStream = std::move(stream);
    }
    for (;;) {
      uint8_t h[kHeaderSize] = {};
      const int32_t got = FStream->ReadAt(FNext, h, kHeaderSize);
      // A method-1 header may be the last thing in a file shorter than a full header.
      if (got < 2 || h[0] != kMark || h[1] == kEnd) return End();
      const uint8_t method = h[1];
      if (got < (method == 1 ? kOldHeaderSize : kHeaderSize)) return End();
      if (!FPak && method == kFolderEnd) {
        if (FFolders.empty()) return End();
        FFolders.pop_back();
        FNext += 2;
        continue;
      }
      size_t length = 0;
      while (length < kNameSize && h[2 + length] != 0) ++length;
      const std::string name =
          host::OemToAnsi(std::string(reinterpret_cast<const char*>(h + 2), length));
      const bool folder = !FPak && method == kFolder;
      if (folder && FFolders.size() >= kMaxDepth) return End();
      FMethod = method;
      FPacked = GetLe32(h + 15);
      FCrc16 = GetLe16(h + 23);
      FSize = method == 1 ? FPacked : GetLe32(h + 25);
      const int32_t headerSize = method == 1 ? kOldHeaderSize : kHeaderSize;
      FData = FNext + headerSize;
      FNext = FData + (folder ? 0 : FPacked);  // a folder's members follow its header

      member = TSourceMember{};
      std::string prefix;
      for (const std::string& f : FFolders) prefix += f + '\\';
      if (folder) {
        FFolders.push_back(name);
        member.Name = prefix + name + '\\';
        member.Kind = TMemberKind::Folder;
        member.Size = 0;
      } else {
        member.Name = prefix + name;
        member.Size = FSize;
        member.PackedSize = FPacked;
      }
      member.DosDateTime = static_cast<uint32_t>(GetLe16(h + 19)) << 16 | GetLe16(h + 21);
      member.Method = folder ? "<Dir>" : MethodName(method);
      FFolder = folder;
      FHave = true;
      return true;
    }
  }

  TDecodeResult Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                       const std::string&) override {
    SetError(0);
    if (!FHave) {
      SetError(kErrReadingFile, "no member to decode");
      return TDecodeResult::Damaged;
    }
    if (FFolder) return TDecodeResult::Ok;
    if (!IsArcMethodDecoded(FMethod)) {
      SetError(kErrUnsupportedMethod,
               "method " + std::to_string(FMethod) + " (" + MethodName(FMethod) + ")");
      return TDecodeResult::Unsupported;
    }
    uint32_t crc = 0;
    TCodecIo io;
    io.Read = TPackedBytes(*FStream, FData, FPacked);
    io.Write = [&](const uint8_t* bytes, size_t count) {
      crc = Crc16Update(crc, bytes, count);
      sink(bytes, count);
    };
    io.Cancel = FServices.Cancel;
    switch (DecodeArc(FMethod, FSize, io)) {
      case TCodecStatus::Ok:
        if ((crc & 0xFFFF) == FCrc16) return TDecodeResult::Ok;
        SetError(kErrCrcCheck);
        return TDecodeResult::ChecksumFailed;
      case TCodecStatus::Cancelled:
        return TDecodeResult::Cancelled;
      case TCodecStatus::Truncated:
        SetError(kErrReadingFile);
        return TDecodeResult::Truncated;
      case TCodecStatus::Unsupported:
        SetError(kErrUnsupportedMethod, "method " + std::to_string(FMethod));
        return TDecodeResult::Unsupported;
      case TCodecStatus::Corrupt:
        break;
    }
    SetError(kErrBadBlock);
    return TDecodeResult::Damaged;
  }

 private:
  bool End() {
    FEnded = true;
    FHave = false;
    return false;
  }

  std::string FPath;
  int64_t FNext;
  bool FPak;
  TSourceServices FServices;
  std::unique_ptr<TStream32> FStream;
  std::vector<std::string> FFolders;  // the open folders, outermost first
  bool FEnded = false;
  bool FHave = false;
  // The member Next stands on.
  bool FFolder = false;
  uint8_t FMethod = 0;
  int64_t FData = 0;
  uint32_t FPacked = 0;
  uint32_t FSize = 0;
  uint16_t FCrc16 = 0;
};

}  // namespace

std::unique_ptr<TMemberSource> CreateArcSource(const std::string& hostPath, int64_t start, bool pak,
                                               const TSourceServices& services) {
  return std::make_unique<TArcSource>(hostPath, start, pak, services);
}
